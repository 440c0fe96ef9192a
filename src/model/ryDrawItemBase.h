#pragma once
// The drawing interface the slide model is written against: every slide object is a draw item, and draws
// itself and its children through a drawer. Only what the object base needs is declared here; a concrete
// drawer implements it.

#include "ryObjects.h"

#include <cstdint>

namespace kiv {

class TDeviceDrawer;

class TDrawItem : public TObj {
public:
  // Default: either flag is set. Containers also ask their children.
  virtual bool IsChanged() const { return changed != 0 || changedChildren != 0; }
  // Positive blurs the item and everything under it, negative sharpens.
  virtual float GetBlur() const { return 0; }
  // Once after a frame in which the item was the top-level item.
  virtual void FrameDone(TDeviceDrawer& /*drawer*/) {}
  // Draws through the drawer's operations; children go through TDeviceDrawer::DrawItem, never directly.
  virtual void Draw(TDeviceDrawer& drawer) = 0;

  uint8_t changed = 0;         // set by the item when its picture must be redrawn
  uint8_t changedChildren = 0; // set by containers for their children
  uint8_t effectMark = 0;      // slide index while a slide-based transition renders the item, else 0
};

class TDeviceDrawer : public TObj {
public:
  virtual bool IsReady() = 0;
  // Draws one item (its Draw, with the drawer's notifications around it); false when the drawer declines.
  virtual bool DrawItem(TDrawItem& item) = 0;
};

} // namespace kiv
