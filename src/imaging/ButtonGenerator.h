#pragma once
// Themed button bodies ("Button: " names): a theme's pictures cut into nine patches, the edges and the
// centre stretched to the width asked for, in the normal, hover or click state, tinted by a hue turn and
// saturation and lightness shifts.

#include "CachedBitmap.h"
#include "IniDocument.h"
#include "Streams.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// A patch of a theme: a rectangle (x2, y2 exclusive) of one of its pictures.
struct TPatchRef {
  std::u16string fileName;
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool operator==(const TPatchRef&) const = default;
};

// The nine patches in the order of the theme's keys.
enum TPatch : int { kLeftTop, kTop, kRightTop, kRight, kRightBottom, kBottom, kLeftBottom, kLeft, kCenter };
inline constexpr int kPatchCount = 9;

enum class TButtonState : int { Normal = 0, Hover = 1, Click = 2 };

// "file, x1, y1, x2, y2"; missing numbers count as 0.
TPatchRef ParsePatchRef(std::u16string_view text);

// Where the stretched centre of a body lies, and whether a width fits the theme at all.
struct TNineRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
TNineRect ButtonCentre(const std::array<TPatchRef, kPatchCount>& patches, int32_t width, int32_t height);

// What a body is made of, read from a generated name: theme path, state, width, hue, saturation and
// lightness. Numbers that do not parse count as 0; the state is 0..2 and the width 1 .. kMaxPictureSide.
struct TButtonRequest {
  std::u16string themePath;
  int32_t state = 0;
  int32_t width = 1;
  int32_t hue = 0, saturation = 0, lightness = 0;
};
std::u16string EncodeButtonRequest(const TButtonRequest& request);
TButtonRequest ParseButtonRequest(std::u16string_view rest);

class TButtonProducer {
public:
  // A patch picture by its full name (theme path + "\" + file name); nullptr when it cannot be had.
  using TPictureFunc = std::function<TRef<TCachedBitmap>(std::u16string_view fullName)>;
  using TCancelFunc = std::function<bool()>; // false stops the copying

  TButtonProducer(TPictureFunc pictures, TCancelFunc cancel)
      : pictures_(std::move(pictures)), cancel_(std::move(cancel)) {}

  bool ReadTheme(TStream& stream, std::u16string_view themePath);
  bool Ready() const noexcept { return ready_; }
  const std::u16string& ThemePath() const noexcept { return themePath_; }
  int32_t NominalWidth() const noexcept { return nominalWidth_; }
  int32_t NominalHeight() const noexcept { return nominalHeight_; }
  const std::array<TPatchRef, kPatchCount>& Patches(TButtonState state) const {
    return patches_[static_cast<size_t>(state)];
  }
  TIniRGB CaptionColor() const noexcept { return captionColor_; }
  double BtnOffset() const noexcept { return btnOffset_; }
  double BtnMinWidth() const noexcept { return btnMinWidth_; }
  const std::u16string& Filtering() const noexcept { return filtering_; }

  // The body; an error picture of the text "Incorrect Image: " + full name when a patch picture is missing
  // or not of the nominal size; nullptr only when not even that can be drawn.
  TRef<TCachedBitmap> MakeButton(TButtonState state, int32_t width, int32_t hue, int32_t saturation,
                                 int32_t lightness);

private:
  TRef<TCachedBitmap> Patch(const std::u16string& fullName);

  TPictureFunc pictures_;
  TCancelFunc cancel_;
  std::u16string themePath_;
  std::array<std::array<TPatchRef, kPatchCount>, 3> patches_{};
  TIniRGB captionColor_{255, 255, 255};
  double btnOffset_ = 0;
  double btnMinWidth_ = 0;
  std::u16string filtering_ = u"Default";
  int32_t nominalWidth_ = 0;
  int32_t nominalHeight_ = 0;
  bool ready_ = false;
  // Each patch picture is fetched once per producer.
  std::map<std::u16string, TRef<TCachedBitmap>> patchCache_;
};

// The producers of one show, one per theme path.
class TButtonProducerHost {
public:
  using TOpenFunc = std::function<TOwned<TStream>(std::u16string_view name)>;
  TButtonProducerHost(TOpenFunc open, TButtonProducer::TPictureFunc pictures,
                      TButtonProducer::TCancelFunc cancel = nullptr)
      : open_(std::move(open)), pictures_(std::move(pictures)), cancel_(std::move(cancel)) {}

  // The body a generated name asks for; nullptr when the show has no such theme.
  TRef<TCachedBitmap> MakeButton(std::u16string_view rest);
  // The producer of a theme path, its description read on first use; nullptr when it has none.
  TButtonProducer* Producer(std::u16string_view themePath);

private:
  std::mutex lock_; // loader threads of several slides may ask at once
  TOpenFunc open_;
  TButtonProducer::TPictureFunc pictures_;
  TButtonProducer::TCancelFunc cancel_;
  std::vector<std::unique_ptr<TButtonProducer>> producers_; // under lock_
  std::set<std::u16string> missing_;                        // under lock_
};

// The theme description's file name inside a theme folder.
inline constexpr std::u16string_view kButtonThemeFile = u"theme.ini";
std::u16string JoinThemePath(std::u16string_view folder, std::u16string_view name);

} // namespace kiv
