#include "ButtonGenerator.h"

#include "Bitmap.h"
#include "CacheImageDecoder.h"
#include "LoadYield.h"
#include "PictureColorOps.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <cstdlib>

namespace kiv {

namespace {

constexpr std::u16string_view kStateSections[] = {u"NormalState", u"HoverState", u"ClickState"};
constexpr std::u16string_view kPatchKeys[kPatchCount] = {
    u"LeftTop", u"Top", u"RightTop", u"Right", u"RightBottom", u"Bottom", u"LeftBottom", u"Left", u"Center"};

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
    text.remove_suffix(1);
  return text;
}

int32_t NumberOrZero(std::u16string_view text) {
  text = Trim(text);
  std::string ascii;
  for (char16_t c : text)
    ascii.push_back(c < 128 ? static_cast<char>(c) : '?');
  if (ascii.empty()) return 0;
  char* end = nullptr;
  const long long v = std::strtoll(ascii.c_str(), &end, 10);
  if (*end != 0) return 0;
  return static_cast<int32_t>(std::clamp<long long>(v, -kMaxPictureSide * 4LL, kMaxPictureSide * 4LL));
}

} // namespace

std::u16string JoinThemePath(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path.push_back(u'\\');
  path.append(name);
  return path;
}

TPatchRef ParsePatchRef(std::u16string_view text) {
  TPatchRef ref;
  std::u16string_view fields[5];
  for (int i = 0; i < 5; ++i) {
    const size_t comma = text.find(u',');
    fields[i] = text.substr(0, comma);
    if (comma == std::u16string_view::npos) {
      text = {};
    } else {
      text.remove_prefix(comma + 1);
    }
    if (text.empty() && comma == std::u16string_view::npos) break;
  }
  ref.fileName = std::u16string(Trim(fields[0]));
  ref.x1 = NumberOrZero(fields[1]);
  ref.y1 = NumberOrZero(fields[2]);
  ref.x2 = NumberOrZero(fields[3]);
  ref.y2 = NumberOrZero(fields[4]);
  return ref;
}

TNineRect ButtonCentre(const std::array<TPatchRef, kPatchCount>& p, int32_t width, int32_t height) {
  TNineRect r;
  r.left = p[kLeft].x2;
  r.top = p[kTop].y2;
  r.right = width - (p[kRight].x2 - p[kRight].x1);
  r.bottom = height - (p[kBottom].y2 - p[kBottom].y1);
  return r;
}

std::u16string EncodeButtonRequest(const TButtonRequest& request) {
  std::u16string name = request.themePath;
  for (int64_t v : {int64_t{request.state}, int64_t{request.width}, int64_t{request.hue},
                    int64_t{request.saturation}, int64_t{request.lightness}})
    name += u":" + Utf8ToUtf16(std::to_string(v));
  return name;
}

TButtonRequest ParseButtonRequest(std::u16string_view rest) {
  // The theme path may itself hold ':': the five numbers are the last fields.
  int32_t numbers[5] = {};
  std::u16string_view path = rest;
  for (int i = 4; i >= 0; --i) {
    const size_t colon = path.rfind(u':');
    if (colon == std::u16string_view::npos) {
      numbers[i] = 0;
      continue;
    }
    numbers[i] = NumberOrZero(path.substr(colon + 1));
    path = path.substr(0, colon);
  }
  TButtonRequest request;
  request.themePath = std::u16string(path);
  request.state = numbers[0] >= 0 && numbers[0] <= 2 ? numbers[0] : 0;
  request.width = std::clamp(numbers[1], 1, kMaxPictureSide);
  request.hue = numbers[2];
  request.saturation = numbers[3];
  request.lightness = numbers[4];
  return request;
}

bool TButtonProducer::ReadTheme(TStream& stream, std::u16string_view themePath) {
  TIniFile theme;
  if (!theme.LoadFromStream(stream)) return false;
  themePath_ = std::u16string(themePath);
  for (size_t s = 0; s < 3; ++s) {
    const TIniSection* section = theme.FindSection(kStateSections[s]);
    for (int k = 0; k < kPatchCount; ++k)
      patches_[s][static_cast<size_t>(k)] =
          section ? ParsePatchRef(section->ReadString(kPatchKeys[k], u"")) : TPatchRef{};
  }
  if (const TIniSection* text = theme.FindSection(u"TextParams")) {
    captionColor_ = text->ReadRGB(u"Color", captionColor_);
    btnOffset_ = text->ReadFloat(u"BtnOffset", 0);
    btnMinWidth_ = text->ReadFloat(u"BtnMinWidth", 0);
    filtering_ = text->ReadString(u"Filtering", u"Default");
  }
  nominalWidth_ = patches_[0][kRight].x2;
  nominalHeight_ = patches_[0][kBottom].y2;
  ready_ = true;
  return true;
}

TRef<TCachedBitmap> TButtonProducer::Patch(const std::u16string& fullName) {
  const auto it = patchCache_.find(fullName);
  if (it != patchCache_.end()) return it->second;
  TRef<TCachedBitmap> picture = pictures_ ? pictures_(fullName) : nullptr;
  patchCache_.emplace(fullName, picture);
  return picture;
}

TRef<TCachedBitmap> TButtonProducer::MakeButton(TButtonState state, int32_t width, int32_t hue,
                                                int32_t saturation, int32_t lightness) {
  const auto& p = patches_[std::clamp(static_cast<size_t>(state), size_t{0}, size_t{2})];
  const int32_t w = std::clamp(width, 1, kMaxPictureSide);
  const int32_t h = std::clamp(nominalHeight_, 1, kMaxPictureSide);
  // The theme's height and the width asked for both come from show data: no body beyond the picture cap.
  if (!PictureSizeAllowed(w, h)) return nullptr;
  const TNineRect c = ButtonCentre(p, w, h);

  constexpr TPatch kOrder[] = {kCenter,  kTop,      kBottom,      kLeft,      kRight,
                               kLeftTop, kRightTop, kRightBottom, kLeftBottom};
  TRef<TCachedBitmap> sources[kPatchCount];
  for (TPatch patch : kOrder) {
    // A key the description leaves out names no picture and copies nothing.
    if (p[patch].fileName.empty()) continue;
    const std::u16string fullName = JoinThemePath(themePath_, p[patch].fileName);
    TRef<TCachedBitmap> picture = Patch(fullName);
    if (!picture || picture->Width() != nominalWidth_ || picture->Height() != nominalHeight_)
      return MakeErrorBitmap({u"Incorrect Image: " + fullName});
    sources[patch] = std::move(picture);
  }

  std::vector<uint32_t> out(static_cast<size_t>(w) * h, 0);
  bool stopped = false;
  // Every copy is clipped to its source picture and to the body: rectangles and widths come from show data.
  auto put = [&](int32_t dx, int32_t dy, const TRef<TCachedBitmap>& picture, int32_t sx, int32_t sy) {
    if (!picture) return;
    const TCachedBitmap& src = *picture;
    if (dx < 0 || dy < 0 || dx >= w || dy >= h || sx < 0 || sy < 0 || sx >= src.Width() || sy >= src.Height())
      return;
    out[static_cast<size_t>(dy) * w + dx] = src.Pixel(sx, sy);
  };
  auto column = [&]() {
    if (cancel_ && !cancel_()) stopped = true;
    return !stopped;
  };
  auto span = [](int32_t from, int32_t to, int32_t limit) {
    return std::pair<int32_t, int32_t>{std::max(from, 0), std::min(to, limit)};
  };
  // Centre: one column stretched across the width.
  {
    const TPatchRef& r = p[kCenter];
    const auto [x0, x1] = span(c.left, c.right, w);
    const auto [y0, y1] = span(c.top, c.bottom, h);
    for (int32_t x = x0; x < x1 && column(); ++x)
      for (int32_t y = y0; y < y1; ++y)
        put(x, y, sources[kCenter], r.x1, y);
  }
  // Top and bottom edges: one column of each row stretched.
  for (TPatch patch : {kTop, kBottom}) {
    const TPatchRef& r = p[patch];
    const auto [x0, x1] = span(c.left, c.right, w);
    const int32_t rows = std::clamp(r.y2 - r.y1, 0, h);
    for (int32_t x = x0; x < x1 && !stopped && column(); ++x)
      for (int32_t k = 0; k < rows; ++k)
        put(x, patch == kTop ? r.y1 + k : c.bottom + k, sources[patch], r.x1, r.y1 + k);
  }
  // Left and right edges: their columns over the centre's rows.
  for (TPatch patch : {kLeft, kRight}) {
    const TPatchRef& r = p[patch];
    const auto [y0, y1] = span(c.top, c.bottom, h);
    const int32_t columns = std::clamp(r.x2 - r.x1, 0, w);
    for (int32_t k = 0; k < columns && !stopped && column(); ++k)
      for (int32_t y = y0; y < y1; ++y)
        put(patch == kLeft ? r.x1 + k : c.right + k, y, sources[patch], r.x1 + k, y);
  }
  // Corners as they are: shifted to the centre's right and bottom edges where they belong.
  for (TPatch patch : {kLeftTop, kRightTop, kRightBottom, kLeftBottom}) {
    const TPatchRef& r = p[patch];
    const int32_t columns = std::clamp(r.x2 - r.x1, 0, w), rows = std::clamp(r.y2 - r.y1, 0, h);
    const int32_t ox = patch == kRightTop || patch == kRightBottom ? c.right : r.x1;
    const int32_t oy = patch == kRightBottom || patch == kLeftBottom ? c.bottom : r.y1;
    for (int32_t k = 0; k < columns && !stopped && column(); ++k)
      for (int32_t j = 0; j < rows; ++j)
        put(ox + k, oy + j, sources[patch], r.x1 + k, r.y1 + j);
  }

  if (hue != 0 || saturation != 0 || lightness != 0)
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        uint32_t& pixel = out[static_cast<size_t>(y) * w + x];
        pixel = TintColor(pixel, hue, saturation, lightness);
      }
      if (!LoadCallBack()) break;
    }
  return TRef<TCachedBitmap>::Make(w, h, std::move(out));
}

TButtonProducer* TButtonProducerHost::Producer(std::u16string_view themePath) {
  std::lock_guard hold(lock_);
  for (auto it = producers_.rbegin(); it != producers_.rend(); ++it)
    if ((*it)->ThemePath() == themePath) return it->get();
  // A theme without a readable description is remembered too, so that it is not opened for every body.
  if (missing_.count(std::u16string(themePath))) return nullptr;
  auto producer = std::make_unique<TButtonProducer>(pictures_, cancel_);
  TOwned<TStream> stream = open_ ? open_(JoinThemePath(themePath, kButtonThemeFile)) : nullptr;
  if (!stream || !producer->ReadTheme(*stream, themePath)) {
    missing_.insert(std::u16string(themePath));
    return nullptr;
  }
  producers_.push_back(std::move(producer));
  return producers_.back().get();
}

TRef<TCachedBitmap> TButtonProducerHost::MakeButton(std::u16string_view rest) {
  const TButtonRequest request = ParseButtonRequest(rest);
  TButtonProducer* producer = Producer(request.themePath);
  if (!producer) return nullptr;
  std::lock_guard hold(lock_);
  return producer->MakeButton(static_cast<TButtonState>(request.state), request.width, request.hue,
                              request.saturation, request.lightness);
}

} // namespace kiv
