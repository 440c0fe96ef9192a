#pragma once
// The cross-fade: the whole picture at one alpha that grows with the position.

#include "DrawFilter.h"

namespace kiv {

class TAlphaFilter final : public TDrawFilter {
public:
  // clamp(t x 255, 0, 255).
  float Alpha() const;
  void DrawWith(TEffController& controller) override;
};

} // namespace kiv
