// kivpack glyphs: the stored glyphs and layout of one text, so that a show draws it in a font the playing
// machine need not have.

#include "kivpackCommands.h"

#include "StoredGlyphs.h"
#include "StoredTextWriter.h"
#include "Streams.h"
#include "TempFolders.h"
#include "Utf8Conversion.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace kivpack {

using namespace kiv;

namespace {

const char kGlyphsHelp[] =
    "usage: kivpack glyphs FONTFILE TEXT -o FOLDER [-name FONTNAME]\n"
    "Lays out TEXT (lines separated by newlines) in the font file and writes two files into FOLDER:\n"
    "\"VectTextCache: FONTNAME\", the outlines of the glyphs the text uses (added to those already there\n"
    "for other texts), and a file named by a new GUID holding the text's layout. FONTNAME defaults to the\n"
    "font's family name. Prints \"font: FONTNAME\" and \"layout: GUID\". A text object of a project then\n"
    "sets FontName=FONTNAME and RasterizedGUID=GUID, and the folder is packed with the show.\n";

std::vector<std::u16string> SplitLines(const std::string& text) {
  std::vector<std::u16string> lines;
  size_t start = 0;
  while (true) {
    const size_t end = text.find('\n', start);
    lines.push_back(Utf8ToUtf16(text.substr(start, end == std::string::npos ? end : end - start)));
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path temp = path.string() + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) std::filesystem::remove(temp, ec);
  return !ec;
}

int RunGlyphs(const TArgs& args) {
  std::vector<std::string> positional;
  std::string folder, name;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "-o" || args[i] == "-name") && i + 1 < args.size()) {
      std::string& target = args[i] == "-o" ? folder : name;
      target = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      std::fputs(kGlyphsHelp, stderr);
      return kExitUsage;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2 || folder.empty()) {
    std::fputs(kGlyphsHelp, stderr);
    return kExitUsage;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder)) {
    std::fprintf(stderr, "kivpack glyphs: cannot make folder \"%s\"\n", folder.c_str());
    return kExitFailure;
  }
  std::string error;
  const std::vector<std::u16string> lines = SplitLines(positional[1]);
  std::optional<TStoredText> stored = MakeStoredText(positional[0], Utf8ToUtf16(name), lines, error);
  if (!stored) {
    std::fprintf(stderr, "kivpack glyphs: %s\n", error.c_str());
    return kExitFailure;
  }
  const std::filesystem::path cachePath =
      std::filesystem::path(folder) / ("VectTextCache: " + Utf16ToUtf8(stored->fontName));
  // Other texts in the same font wrote their glyphs there before: keep them.
  if (std::filesystem::exists(cachePath)) {
    auto fonts = TRef<TFontCache>::Make();
    bool read = false;
    try {
      TFileStream existing(cachePath.string(), TFileMode::OpenRead);
      read = fonts->Load(existing);
    } catch (const std::exception&) {
    }
    const auto kept = read ? fonts->Find(stored->fontName) : nullptr;
    if (!kept) {
      std::fprintf(stderr, "kivpack glyphs: \"%s\" is not a glyph cache of that font\n", cachePath.c_str());
      return kExitFailure;
    }
    stored = MakeStoredText(positional[0], stored->fontName, lines, error, kept->Glyphs());
    if (!stored) {
      std::fprintf(stderr, "kivpack glyphs: %s\n", error.c_str());
      return kExitFailure;
    }
  }
  const std::string guid = "{" + NewGuidText() + "}";
  if (!WriteFile(cachePath, stored->glyphCache) ||
      !WriteFile(std::filesystem::path(folder) / guid, stored->layout)) {
    std::fprintf(stderr, "kivpack glyphs: cannot write into \"%s\"\n", folder.c_str());
    return kExitFailure;
  }
  std::printf("font: %s\nlayout: %s\n", Utf16ToUtf8(stored->fontName).c_str(), guid.c_str());
  return kExitOk;
}

} // namespace

const TCommand kGlyphsCommand = {"glyphs", "store a text's glyphs and layout for a show", kGlyphsHelp,
                                 &RunGlyphs};

} // namespace kivpack
