#include "SlideHost.h"

#include "Assert.h"
#include "CaseFolding.h"
#include "GeneratedPictures.h"
#include "LoadYield.h"
#include "Log.h"
#include "ShowFileAccess.h"
#include "StoredGlyphs.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <exception>
#include <mutex>

namespace kiv {

// ---- TKivSlideHost ----

namespace {

// Process-wide: the content kinds register stateless producers once at start-up; every picture they make
// comes from the host (the player's show) they are called with.
struct TGeneratedRegistry {
  std::mutex lock;
  std::vector<std::pair<std::u16string, TGeneratedPictureFunc>> producers; // under lock
};

TGeneratedRegistry& Generators() {
  static TGeneratedRegistry registry;
  return registry;
}

constexpr std::u16string_view kGeneratedPrefixes[] = {
    kButtonPicturePrefix, kShadowPicturePrefix,     kTextPicturePrefix,      kSizedTextPicturePrefix,
    kMaskPicturePrefix,   kPresetMaskPicturePrefix, kEffectBufferPictureName};

// The key a show's "ExeGUID" file gives its glyph caches; empty when there is none.
std::u16string ReadExeGuid(TFileAccessor& accessor) {
  constexpr int64_t kMaxKeyBytes = 4096; // a GUID; anything longer is not one
  TOwned<TStream> stream = Open(accessor, u"ExeGUID");
  if (!stream) return {};
  const int64_t size = std::min(stream->GetSize(), kMaxKeyBytes);
  std::string bytes(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
  bytes.resize(static_cast<size_t>(std::max<int64_t>(stream->Read(bytes.data(), size), 0)));
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  std::u16string key;
  if (!TryUtf8ToUtf16(bytes, key)) key.assign(bytes.begin(), bytes.end()); // single-byte text
  while (!key.empty() && key.back() <= u' ')
    key.pop_back();
  return key;
}

} // namespace

struct TKivSlideHost::TProviderGate {
  std::recursive_mutex lock; // recursive: a producer may load pictures that are generated too
  TKivSlideHost* host = nullptr;
};

bool IsGeneratedPictureName(std::u16string_view name) noexcept {
  return std::any_of(std::begin(kGeneratedPrefixes), std::end(kGeneratedPrefixes),
                     [name](std::u16string_view prefix) { return name.starts_with(prefix); });
}

TGeneratedPictureFunc RegisterGeneratedPicture(std::u16string_view prefix, TGeneratedPictureFunc func) {
  TGeneratedRegistry& registry = Generators();
  std::lock_guard hold(registry.lock);
  auto it = std::find_if(registry.producers.begin(), registry.producers.end(),
                         [prefix](const auto& entry) { return entry.first == prefix; });
  TGeneratedPictureFunc previous;
  if (it != registry.producers.end()) {
    previous = std::move(it->second);
    if (func)
      it->second = std::move(func);
    else
      registry.producers.erase(it);
  } else if (func) {
    registry.producers.emplace_back(std::u16string(prefix), std::move(func));
  }
  return previous;
}

TKivSlideHost::TKivSlideHost(TFileAccessor* accessor, TSlideHostCallbacks callbacks,
                             std::u16string buttonsFolder, bool flag)
    : accessor_(TRef<TFileAccessor>::Share(accessor)), callbacks_(std::move(callbacks)),
      buttonsFolder_(std::move(buttonsFolder)), flag_(flag),
      buttonProducers_(MakeButtonProducerHost(accessor_.get(), &LoadCallBack)) {
  RY_ASSERT(callbacks_.frameRect != nullptr && callbacks_.camera != nullptr &&
            callbacks_.findSection != nullptr);
  if (!accessor_) return;
  gate_ = std::make_shared<TProviderGate>();
  gate_->host = this;
  provider_ = AddImageProvider(
      accessor_->Source(),
      [gate = gate_](TFileSource& /*source*/, std::u16string_view name) -> TRef<TCachedBitmap> {
        if (!IsGeneratedPictureName(name)) return nullptr;
        std::lock_guard hold(gate->lock);
        return gate->host ? gate->host->GetGeneratedPicture(name) : nullptr;
      });
  // Glyph caches stored in a show belong to the program that packed it. A show without that file keys
  // them by its source, so that another show's glyphs of the same font name never serve it.
  std::u16string key = ReadExeGuid(*accessor_);
  if (key.empty()) key = u"source " + Utf8ToUtf16(std::to_string(accessor_->Source().Number()));
  fonts_->SetKey(key);
}

TKivSlideHost::TKivSlideHost(TCameraCallback camera) : buttonProducers_(MakeButtonProducerHost(nullptr)) {
  RY_ASSERT(camera != nullptr);
  callbacks_.camera = std::move(camera);
}

TKivSlideHost::~TKivSlideHost() {
  provider_.reset();
  if (gate_) {
    std::lock_guard hold(gate_->lock);
    gate_->host = nullptr;
  }
}

TRect TKivSlideHost::FrameRect() const {
  return callbacks_.frameRect ? callbacks_.frameRect() : TRect{};
}

const TCommonIniSection* TKivSlideHost::FindSection(std::u16string_view name) const {
  return callbacks_.findSection ? callbacks_.findSection(name) : nullptr;
}

void TKivSlideHost::CallCustom() const {
  if (callbacks_.custom) callbacks_.custom();
}

void TKivSlideHost::ScreenRay(float x, float y, T3DVector& origin, T3DVector& direction) const {
  origin = CameraPosition();
  direction = T3DVector{x, y, 0} - origin;
}

TRef<TCachedBitmap> TKivSlideHost::GetGeneratedPicture(std::u16string_view name) {
  TGeneratedPictureFunc producer;
  size_t prefixLength = 0;
  {
    TGeneratedRegistry& registry = Generators();
    std::lock_guard hold(registry.lock);
    for (const auto& [prefix, func] : registry.producers)
      if (name.starts_with(prefix) && (!producer || prefix.size() > prefixLength)) {
        producer = func;
        prefixLength = prefix.size();
      }
  }
  TRef<TCachedBitmap> picture;
  if (producer) {
    try {
      picture = producer(*this, name.substr(prefixLength));
    } catch (const std::exception& error) {
      LogLine(std::string("TKivSlideHost.GetGeneratedPicture: ") + error.what());
    } catch (...) {
      LogLine("TKivSlideHost.GetGeneratedPicture: unknown error");
    }
  }
  if (picture) return picture;
  auto placeholder = [](std::u16string_view placeholderName) -> TRef<TCachedBitmap> {
    return TRef<TNamedBitmap>::Make(std::u16string(placeholderName), 1, 1);
  };
  if (name.starts_with(kEffectBufferPictureName)) return placeholder(kEffectBufferPlaceholder);
  if (name.starts_with(kSizedTextPicturePrefix)) return placeholder(kSizedTextPlaceholder);
  if (name.starts_with(kTextPicturePrefix)) return placeholder(kTextPlaceholder);
  return nullptr;
}

TOwned<TCachedVectorText> TKivSlideHost::LoadStoredText(std::u16string_view layoutName) {
  if (!accessor_ || layoutName.empty()) return nullptr;
  TOwned<TStream> stream = Open(*accessor_, layoutName);
  if (!stream) return nullptr;
  auto fontNeeded = [this](const std::u16string& font) {
    {
      std::lock_guard hold(fontsLock_);
      if (!fontsTried_.insert(font).second) return;
    }
    if (fonts_->Find(font)) return;
    TOwned<TStream> cache = Open(*accessor_, u"VectTextCache: " + font);
    if (cache && !fonts_->Load(*cache))
      LogLine("TKivSlideHost.LoadStoredText: glyph cache of \"" + Utf16ToUtf8(font) + "\" cannot be read");
  };
  TOwned<TCachedVectorText> text;
  try {
    text = LoadCachedVectorText(*stream, *fonts_, fontNeeded);
  } catch (const std::exception&) {
    text = nullptr;
  }
  if (!text)
    LogLine("TKivSlideHost.LoadStoredText: layout \"" + Utf16ToUtf8(layoutName) +
            "\" cannot be read; the text is laid out from the installed fonts");
  return text;
}

const TCommonIniSection* FindSlideSection(const TIniStorage& project, std::u16string_view name) {
  if (SameText(name, u"tracks")) {
    const TIniSection* main = project.FindSection(u"main");
    if (!main) return nullptr;
    for (TIniObject* item = main->FirstObject(); item; item = main->NextObject(item))
      if (SameText(item->ObjectTypeView(), u"VideoBoss")) return item;
    return nullptr;
  }
  return project.FindSection(name);
}

} // namespace kiv
