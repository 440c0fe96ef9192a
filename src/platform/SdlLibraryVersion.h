#pragma once
// The SDL release windows, input and sound run on, for --version.

#include <string>

namespace kiv {

// "SDL 2.26.5": the release loaded, without starting any of SDL's subsystems.
std::string SdlVersionLine();

} // namespace kiv
