#include "ImagingLibraries.h"

#include <cstdio>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#define KIV_TEXT_OF(x) #x
#define KIV_TEXT(x) KIV_TEXT_OF(x)

namespace kiv {

std::vector<std::string> ImagingLibraryVersions() {
  std::vector<std::string> lines;
#ifdef LIBJPEG_TURBO_VERSION
  lines.push_back("libjpeg-turbo " KIV_TEXT(LIBJPEG_TURBO_VERSION));
#else
  lines.push_back("libjpeg " KIV_TEXT(JPEG_LIB_VERSION));
#endif
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) == 0) {
    FT_Int major = 0, minor = 0, patch = 0;
    FT_Library_Version(library, &major, &minor, &patch);
    FT_Done_FreeType(library);
    char text[48];
    std::snprintf(text, sizeof(text), "FreeType %d.%d.%d", major, minor, patch);
    lines.push_back(text);
  } else {
    lines.push_back("FreeType: does not start");
  }
  lines.push_back(std::string("libpng ") + png_get_libpng_ver(nullptr));
  lines.push_back(std::string("zlib ") + zlibVersion());
  return lines;
}

} // namespace kiv
