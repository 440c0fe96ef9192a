#pragma once
// The picture and font libraries the drawing code runs on, one "name version" line each, for --version.

#include <string>
#include <vector>

namespace kiv {

// libjpeg-turbo (the release built against: it has no run-time query), FreeType, libpng and zlib (the
// releases loaded).
std::vector<std::string> ImagingLibraryVersions();

} // namespace kiv
