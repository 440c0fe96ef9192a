#pragma once
// Golden-image checks: a picture read back from an offscreen target is compared with a stored PNG in
// tests/golden/ within a per-channel tolerance. On a mismatch the actual picture and a difference picture
// are written into the build folder (golden-out/). With KIV_UPDATE_GOLDENS=1 the stored PNG is written
// instead (scripts/refresh_goldens.sh).

#include "DeviceLayer.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace kiv::test {

bool WritePng(const std::string& path, const TDevBitmap& bitmap); // 32-bit ARGB, written as RGBA
bool ReadPng(const std::string& path, TDevBitmap& bitmap);

::testing::AssertionResult MatchesGolden(const TDevBitmap& actual, std::string_view name, int tolerance = 2);

} // namespace kiv::test
