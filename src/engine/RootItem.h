#pragma once
// The root of the draw tree the engine draws each frame: the slide the show is in (or, during a
// transition, the outgoing and the incoming slide through the incoming slide's transition filter) with
// the overlay on top. Composed anew every frame from the loader's slide list. Engine thread only.

#include "DrawTree.h"
#include "TransitionRecord.h"

#include <cstdint>
#include <vector>

namespace kiv {

class TDrawContainer;

class TRootItem : public TDrawItem {
public:
  // Slides in increasing position, each reading the shared clock through its container; the overlay may
  // be none. False when no slide has started by the clock (nothing to draw).
  bool Compose(TDrawContainer* const* slides, TDrawItem* overlay, int count);

  bool IsChanged() const override;
  void FrameDone(TDeviceDrawer& drawer) override;
  void Draw(TDeviceDrawer& drawer) override;

  // Written by the engine before each draw.
  bool FillBackground = true;
  uint32_t Background = 0xFF000000; // ARGB of the bands outside the slide frame
  float SharpenAmount = 0;
  uint8_t SharpenThreshold = 0;

  // What the last composition found.
  const std::vector<TDrawItem*>& Items() const noexcept { return items_; }
  TKivFilter* Filter() const noexcept { return filter_; }
  bool InTransition() const noexcept { return inTransition_; }
  bool ListChanged() const noexcept { return listChanged_; }
  bool FilterChanged() const noexcept { return filterChanged_; }
  // The position of the slide the show is in; -1 before any composition found one.
  int32_t CurrentPosition() const noexcept { return currentPosition_; }

private:
  void Place(size_t index, TDrawItem* item);

  std::vector<TDrawItem*> items_;         // slide, [slide,] overlay (the last entry; may be none)
  std::vector<TDrawItem*> previousItems_; // the list of the composition before
  TKivFilter* filter_ = nullptr;          // the incoming slide's, during a transition
  double filterTime_ = -1;                // the filter's elapsed time when last composed
  bool inTransition_ = false;
  bool listChanged_ = false;
  bool filterChanged_ = false;
  int32_t currentPosition_ = -1;
};

} // namespace kiv
