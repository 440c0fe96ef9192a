#include "ImageLevels.h"

#include "BmpLoader.h"
#include "PackedImageLoader.h"
#include "LoadYield.h"
#include "Assert.h"
#include "GifLoader.h"
#include "PngLoader.h"
#include "JpegLoader.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <exception>

namespace kiv {

TImageProgress DefaultImageProgress() {
  return [](double) { return LoadCallBack(); };
}

TRef<TBitmap> TBitmapStore::GetMipLevel(int level, TBitmapFormat format, const TImageProgress& progress,
                                        int* realLevel) {
  std::lock_guard lock(lock_);
  // Callers may ask for levels the store does not make: give the smallest it has and say so.
  level = std::clamp(level, 0, MaxLevel());
  if (realLevel) *realLevel = level;
  if (levels_.size() <= static_cast<size_t>(level)) levels_.resize(static_cast<size_t>(level) + 1);
  TLevelCache& cache = levels_[static_cast<size_t>(level)];
  for (const TRef<TBitmap>& bitmap : cache.bitmaps)
    if (Pick(*bitmap, format)) return bitmap;

  if (cache.bitmaps.empty()) {
    bool stopped = false;
    const TImageProgress watch = [&](double fraction) {
      const bool go = progress ? progress(fraction) : LoadCallBack();
      if (!go) stopped = true;
      return go;
    };
    int decoded = level;
    TRef<TBitmap> bitmap = DecodeLevel(level, format, watch, decoded);
    if (!bitmap) {
      if (stopped) return nullptr; // an abandoned load is not an error; the next call decodes again
      RaiseAssertion("\"" + ClassName() + ".GetMipLevel(" + std::to_string(level) + ")\" Not Assigned",
                     __FILE__, __LINE__);
    }
    RY_ASSERT_MSG(decoded == level, "Incorrect MipLevelIndex");
    cache.bitmaps.push_back(bitmap);
    if (Pick(*bitmap, format)) return bitmap;
  }
  const TBitmapFormat wanted = format == TBitmapFormat::None ? cache.bitmaps.front()->Format() : format;
  RY_ASSERT_MSG(wanted != TBitmapFormat::None, "ryBitmap.DefBitmapClass Not Assigned");
  TRef<TBitmap> converted = ConvertBitmap(*cache.bitmaps.front(), wanted);
  RY_ASSERT_MSG(converted, "Invalid Combination Of Bitmap Parameters");
  cache.bitmaps.push_back(converted);
  return converted;
}

TWrapperBitmapStore::TWrapperBitmapStore(TRef<TBitmap> bitmap, TImageAnimation params)
    : TBitmapStore(bitmap->Width(), bitmap->Height(), bitmap->Format()), bitmap_(std::move(bitmap)) {
  params_ = std::move(params);
}

TRef<TBitmap> TWrapperBitmapStore::DecodeLevel(int, TBitmapFormat, const TImageProgress&, int& realLevel) {
  realLevel = 0;
  return bitmap_;
}

TImage::TImage(TRef<TBitmapStore> store) : store_(std::move(store)) {
  RY_ASSERT(store_);
  params_ = store_->Params();
}

int TImage::MipLevelFor(int targetWidth, int targetHeight) const {
  return std::min(kiv::MipLevelFor(Width(), Height(), targetWidth, targetHeight), store_->MaxLevel());
}

std::vector<TOwned<TObj>>& TImage::Extras() {
  if (!extras_) extras_ = std::make_unique<std::vector<TOwned<TObj>>>();
  return *extras_;
}

int MipLevelFor(int width, int height, int targetWidth, int targetHeight) {
  RY_ASSERT(targetWidth > 0 && targetHeight > 0);
  int64_t w = width, h = height;
  int level = -1;
  while (targetWidth < w && h > targetHeight) {
    ++level;
    w = (w + 1) / 2;
    h = (h + 1) / 2;
  }
  return std::max(level, 0);
}

std::string NormalizeExtension(std::string_view extension) {
  size_t i = 0;
  while (i < extension.size() && static_cast<unsigned char>(extension[i]) < 33)
    ++i;
  if (i < extension.size() && extension[i] == '*') ++i;
  std::string out(extension.substr(i));
  if (out.empty() || out[0] != '.') out.insert(out.begin(), '.');
  return out;
}

void TLoaderRegistry::RegisterLoader(TImageLoader loader,
                                     std::initializer_list<std::string_view> extensions) {
  TEntry entry{loader, {}};
  for (std::string_view e : extensions)
    entry.extensions.push_back(NormalizeExtension(e));
  entries_.push_back(std::move(entry));
}

void RegisterBuiltinLoaders(TLoaderRegistry& registry) {
  registry.RegisterLoader(&LoadGfxImage, {".rygfx", ".bmp", ".dib", ".png", ".gif"});
  registry.RegisterLoader(&LoadBitmapImage, {".bmp", ".dib"});
  registry.RegisterLoader(&LoadJpegImage, {".jpg", ".jpeg", ".jpe", ".jfif"});
  registry.RegisterLoader(&LoadGifImage, {".gif"});
}

void RegisterPngLoader(TLoaderRegistry& registry) {
  registry.RegisterLoader(&LoadPngImage, {".png"});
}

const TLoaderRegistry& ImageLoaders() {
  static const TLoaderRegistry registry = [] {
    TLoaderRegistry r;
    RegisterBuiltinLoaders(r);
    RegisterPngLoader(r);
    return r;
  }();
  return registry;
}

namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string ExtensionOf(std::u16string_view name) {
  const size_t dot = name.find_last_of(u'.');
  if (dot == std::u16string_view::npos) return {};
  const std::u16string_view ext = name.substr(dot);
  if (ext.find_first_of(u"/\\") != std::u16string_view::npos) return {};
  return Utf16ToUtf8(ext);
}

bool HoldsPng(TStream& stream) {
  static const uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  uint8_t head[8];
  const int64_t start = stream.GetPosition();
  const int64_t got = stream.Read(head, 8);
  stream.SetPosition(start);
  return got == 8 && std::memcmp(head, kSignature, 8) == 0;
}

TOwned<TImage> Load(TStream& stream, std::u16string_view name, TOwned<TStream>* owned,
                    const TLoaderRegistry* registry) {
  try {
    if (!registry) registry = &ImageLoaders();
    std::string ext = ExtensionOf(name);
    if (EqualsIgnoreCase(ext, ".bmp") && HoldsPng(stream)) ext = ".png";
    const TImageProgress progress = DefaultImageProgress();
    const int64_t start = stream.GetPosition();
    for (const TLoaderRegistry::TEntry& entry : registry->Entries()) {
      if (!ext.empty() && std::none_of(entry.extensions.begin(), entry.extensions.end(),
                                       [&](const std::string& e) { return EqualsIgnoreCase(e, ext); }))
        continue;
      try {
        if (TRef<TBitmapStore> store = entry.loader(stream, name, owned, progress))
          return MakeOwned<TImage>(std::move(store));
      } catch (const std::exception&) {
        // a loader that fails on bad media declines like any other
      }
      stream.SetPosition(start);
    }
  } catch (const std::exception&) {
    // bad media yields no picture
  }
  return nullptr;
}

// A setting of the loader for the whole program, not state of a show.
std::atomic<bool> gGifAnimation{true};

} // namespace

TOwned<TImage> LoadImage(TStream& stream, std::u16string_view name, const TLoaderRegistry* registry) {
  return Load(stream, name, nullptr, registry);
}

TOwned<TImage> LoadImage(TOwned<TStream> stream, std::u16string_view name, const TLoaderRegistry* registry) {
  if (!stream) return nullptr;
  TStream& s = *stream;
  return Load(s, name, &stream, registry);
}

TOwned<TImage> LoadImageFile(const std::string& path) {
  try {
    auto stream = MakeOwned<TFileStream>(path, TFileMode::OpenRead);
    return LoadImage(TOwned<TStream>(stream.release()), Utf8ToUtf16(path));
  } catch (const std::exception&) {
    return nullptr;
  }
}

void SetGifAnimation(bool enabled) noexcept {
  gGifAnimation = enabled;
}
bool GifAnimation() noexcept {
  return gGifAnimation;
}

} // namespace kiv
