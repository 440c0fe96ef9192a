// kivpack thumb: decode a picture through the player's own loaders and write what it sees as a PNG.

#include "kivpackCommands.h"
#include "kivpackShow.h"

#include "CacheImageDecoder.h"
#include "CachedBitmap.h"
#include "GeneratedPictures.h"
#include "ImageFileIO.h"
#include "ImageLevels.h"
#include "OpenedShow.h"
#include "ShowFileAccess.h"
#include "Utf8Conversion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kivpack {

using namespace kiv;

namespace {

const char kThumbHelp[] =
    "usage: kivpack thumb SHOW NAME -o OUT.png [--level N] | kivpack thumb FILE -o OUT.png [--level N]\n"
    "Decodes a stored picture (two positional arguments: a show and a stored name) or a picture file at a\n"
    "level of detail (0: full size, n: halved n times; a level the picture does not have gives its\n"
    "smallest) and writes it as an 8-bit RGBA PNG. An animated GIF gives its strip of frames. A stored\n"
    "picture that the show's RotationState lists is turned as the player turns it.\n"
    "Generated names are made as the player makes them from the show's files: \"Button: THEME:STATE:WIDTH:\n"
    "HUE:SATURATION:LIGHTNESS\", \"Shadow: ...\" and \"PresetedMask:WIDTH:HEIGHT:KIND:FEATHER:CORNER\".\n";

bool WriteRgbaPng(const std::string& path, const TBitmap& bitmap) {
  TRef<TBitmap> bgra = ConvertBitmap(bitmap, TBitmapFormat::Pf32bit);
  // 32-bit bitmap rows are 0xAARRGGBB words.
  return WritePngFile(path, bgra->Width(), bgra->Height(), reinterpret_cast<const uint32_t*>(bgra->Row(0)),
                      static_cast<ptrdiff_t>(bgra->Stride() / 4), true);
}

bool WriteRgbaPng(const std::string& path, const TCachedBitmap& bitmap) {
  return WritePngFile(path, bitmap.Width(), bitmap.Height(), bitmap.Pixels().data(), bitmap.Width(), true);
}

// The orientation the show's rotation map gives a stored picture; 1 when it lists none (or the show has
// no readable project).
int StoredOrientation(const std::string& show, const std::string& name) {
  try {
    std::string message;
    std::unique_ptr<TKivShowLocator> locator = OpenPackedShow(show, message);
    if (!locator) return kOrientNormal;
    const TImageDecodeHook& hook = locator->Accessor().Source().ImageDecodeHook();
    return hook ? hook(Utf8ToUtf16(name)) : kOrientNormal;
  } catch (const std::exception&) {
    return kOrientNormal;
  }
}

constexpr std::string_view kButtonPrefix = "Button: ", kShadowPrefix = "Shadow: ",
                           kPresetMaskPrefix = "PresetedMask:";

bool IsGeneratedName(std::string_view name) {
  return name.starts_with(kButtonPrefix) || name.starts_with(kShadowPrefix) ||
         name.starts_with(kPresetMaskPrefix);
}

// A generated picture of a show, as the player's slide host makes it.
int RunGenerated(const std::string& show, const std::string& name, const std::string& out) {
  std::unique_ptr<TKivShowLocator> locator;
  try {
    std::string message;
    locator = OpenPackedShow(show, message);
    if (!locator) {
      std::fprintf(stderr, "kivpack thumb: cannot open \"%s\": %s\n", show.c_str(), message.c_str());
      return kExitFailure;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kivpack thumb: cannot open \"%s\": %s\n", show.c_str(), error.what());
    return kExitFailure;
  }
  InstallImageDecoder();
  const size_t prefix = name.starts_with(kPresetMaskPrefix) ? kPresetMaskPrefix.size() : kButtonPrefix.size();
  const std::u16string rest = Utf8ToUtf16(name.substr(prefix));
  TRef<TCachedBitmap> picture;
  try {
    if (name.starts_with(kPresetMaskPrefix))
      picture = MakePresetMaskPicture(rest);
    else if (name.starts_with(kShadowPrefix))
      picture = MakeShadowPicture(&locator->Accessor(), rest);
    else
      picture = MakeButtonProducerHost(&locator->Accessor())->MakeButton(rest);
  } catch (const std::exception&) {
    picture = nullptr;
  }
  if (!picture) {
    std::fprintf(stderr, "kivpack thumb: cannot make \"%s\"\n", name.c_str());
    return kExitFailure;
  }
  if (!WriteRgbaPng(out, *picture)) {
    std::fprintf(stderr, "kivpack thumb: cannot write \"%s\"\n", out.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

int RunThumb(const TArgs& args) {
  std::vector<std::string> positional;
  std::string out;
  int level = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "-o" || args[i] == "--level") && i + 1 < args.size()) {
      if (args[i] == "-o") {
        out = args[++i];
      } else {
        char* end = nullptr;
        const long value = std::strtol(args[++i].c_str(), &end, 10);
        if (*end != 0 || value < 0 || value > 30) {
          std::fputs(kThumbHelp, stderr);
          return kExitUsage;
        }
        level = static_cast<int>(value);
      }
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      std::fputs(kThumbHelp, stderr);
      return kExitUsage;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (out.empty() || positional.empty() || positional.size() > 2) {
    std::fputs(kThumbHelp, stderr);
    return kExitUsage;
  }

  if (positional.size() == 2 && IsGeneratedName(positional[1]))
    return RunGenerated(positional[0], positional[1], out);

  TOwned<TImage> image;
  std::string shown = positional.back();
  if (positional.size() == 2) {
    auto unpack = OpenShow("thumb", positional[0]);
    if (!unpack) return kExitFailure;
    TOwned<TStream> stream;
    try {
      stream = unpack->OpenEntry(std::string_view(positional[1]));
    } catch (const std::exception&) {
    }
    if (!stream) {
      std::fprintf(stderr, "kivpack thumb: no stored file \"%s\" in \"%s\"\n", positional[1].c_str(),
                   positional[0].c_str());
      return kExitFailure;
    }
    image = LoadImage(std::move(stream), Utf8ToUtf16(positional[1]));
  } else {
    image = LoadImageFile(positional[0]);
  }
  TRef<TBitmap> bitmap;
  int realLevel = level;
  try {
    if (image) bitmap = image->GetMipLevel(level, TBitmapFormat::Pf32bit, {}, &realLevel);
  } catch (const std::exception&) {
  }
  if (!bitmap) {
    std::fprintf(stderr, "kivpack thumb: cannot decode picture \"%s\"\n", shown.c_str());
    return kExitFailure;
  }
  if (realLevel != level)
    std::fprintf(stderr, "kivpack thumb: \"%s\" has no level %d; wrote level %d\n", shown.c_str(), level,
                 realLevel);
  const int orientation =
      positional.size() == 2 ? StoredOrientation(positional[0], positional[1]) : kOrientNormal;
  bool written;
  if (orientation != kOrientNormal) {
    TRef<TCachedBitmap> turned = OrientBitmap(ToCachedBitmap(*bitmap), orientation);
    written = turned && WriteRgbaPng(out, *turned);
  } else {
    written = WriteRgbaPng(out, *bitmap);
  }
  if (!written) {
    std::fprintf(stderr, "kivpack thumb: cannot write \"%s\"\n", out.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

} // namespace

const TCommand kThumbCommand = {"thumb", "decode a picture to PNG", kThumbHelp, &RunThumb};

} // namespace kivpack
