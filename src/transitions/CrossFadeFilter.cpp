#include "CrossFadeFilter.h"

#include <algorithm>

namespace kiv {

float TAlphaFilter::Alpha() const {
  return std::clamp(NormalizedPosition() * 255.0f, 0.0f, 255.0f);
}

void TAlphaFilter::DrawWith(TEffController& controller) {
  const TRect u = updateRect;
  const float a = Alpha();
  const TAlphaPoint lt{float(u.left), float(u.top), a}, rt{float(u.right), float(u.top), a},
      lb{float(u.left), float(u.bottom), a}, rb{float(u.right), float(u.bottom), a};
  TMultiTile tile(controller);
  tile.BeginTiles(true, false);
  tile.AddAlphaTriangle({lt, rt, lb});
  tile.AddAlphaTriangle({rb, lb, rt});
  tile.EndTiles();
}

} // namespace kiv
