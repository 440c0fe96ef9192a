#pragma once
// The show as the playback engine sees it before any slide is built: the project document with its
// "main" section, the show-wide options, the transition defaults and effect groups, and the per-slide
// end actions. One per opened show; written only while it is made, read from any thread afterwards.

#include "IniDocument.h"
#include "TransitionOptions.h"
#include "ShowFileAccess.h"
#include "ObjectBase.h"
#include "SlideOrder.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace kiv {

class TKivShowLocator;

// A Windows colour reference (0x00BBGGRR, red in the low byte); the top byte is ignored.
TBGRColor ColorFromRef(int64_t colorRef) noexcept;

// The timings of one play position. Times in ms; positions past the slide count are shifted by their pass.
struct TSlideInfo {
  double start = 0;        // the previous slide's end (0 for the first)
  double end = 0;          // opt_synchpos of the slide
  double effectIn = 0;     // transition into this slide, at most end - start
  double effectOut = 0;    // transition into the next position (not capped)
  double visibleUntil = 0; // end + effectOut: the slide stays drawn while the next one comes in
  std::u16string slideId;  // slideid, or the picture's file name without folder and extension
};

// Start of the time before the show (position -1), and the times of every position below it.
inline constexpr double kBeforeShowStart = -1073741823;
inline constexpr double kFarPastStart = -2147483647;

// The identifier a slide gets when it has no slideid: the picture's last path component (after the last
// backslash, one trailing backslash ignored) without its extension.
std::u16string SlideIdFromPicture(std::u16string_view picture);

// What follows the last slide.
enum class TRepeatMode { Repeat, Close, Stop };
// What a slide does at its end.
enum class TEndAction { None, Pause, Loop };

// The program or show run when the player closes.
struct TRunOnExit {
  int mode = 0;            // opt_runapponexit: 0 none, 1 run a program, 2 open a show
  bool ifLastSlide = true; // opt_runapponexitiflastslide: only when the show ended at its last slide
  std::u16string fileName; // opt_runapponexitfn
};

// One group of random transitions: the types (1..16) that the key opt_fx_eff<n> lists. Group n stands
// for transition class n - 1.
struct TEffGroup {
  std::u16string text;
  uint32_t types = 0; // bit t for type t
  int count = 0;      // characters of the text, duplicates included
};

inline constexpr int kEffGroupCount = 19;
inline constexpr int kCustomEffectClass = 18;

// The transition into a slide position.
struct TEffectChoice {
  int effectClass = 0; // -1 random is resolved here: 0 none, 18 custom, else a built-in class
  int effectType = 0;  // 1..16 within the class; 0 for none and custom
  int time = 0;        // milliseconds
  TEffectParams params;
  int customNumber = -1; // custom: the number of the opt_fx_custom key chosen; -1 when none is known
};

// The type of a transition written as one character: "1".."8" give 1..8, "A".."H" and "a".."h" give
// 9..16, anything else 1.
int EffectTypeOf(char16_t c) noexcept;

class TKivSource : public TObj {
public:
  // The source reads the document and may change it (screen-saver mode), so it needs it writable. The
  // first form borrows a document that must outlive the source; the second owns it. The play orders come
  // from the player's registry (shared by every source of one player); without one the source makes its own.
  TKivSource(TRef<TFileAccessor> accessor, TIniFile& document, TRef<TSlideOrderRegistry> orders = nullptr);
  TKivSource(TRef<TFileAccessor> accessor, std::unique_ptr<TIniFile> document,
             TRef<TSlideOrderRegistry> orders = nullptr);

  TFileAccessor& Accessor() const noexcept { return *accessor_; }
  const TRef<TFileAccessor>& AccessorRef() const noexcept { return accessor_; }
  TIniFile& Document() const noexcept { return *document_; }
  // Never nullptr.
  const TRef<TSlideOrderRegistry>& SlideOrders() const noexcept { return orders_; }
  // nullptr when the project has no "main" section.
  TIniSection* MainSection() const noexcept { return main_; }

  // Set by the program before the engine opens the show.
  int StartSlideIndex() const noexcept { return startSlideIndex_; }
  void SetStartSlideIndex(int index) noexcept { startSlideIndex_ = index; }

  // True when the player's own file name ends in ".scr" (any letter case).
  bool ScreenSaver() const noexcept { return screenSaver_; }
  int SlideCount() const noexcept { return slideCount_; }
  TRepeatMode RepeatMode() const noexcept { return repeatMode_; }
  bool PauseWhenInactive() const noexcept { return pauseWhenInactive_; }
  TBGRColor HiderColor() const noexcept { return hiderColor_; }
  float UnsharpAmount() const noexcept { return unsharpAmount_; }
  uint8_t UnsharpThreshold() const noexcept { return unsharpThreshold_; }
  bool ManualShow() const noexcept { return manualShow_; }
  bool Random() const noexcept { return random_; }
  // opt_scr_full: 1 full screen, 0 a window, 3 a window that takes the show's size.
  int ScreenMode() const noexcept { return screenMode_; }
  const TRunOnExit& RunOnExit() const noexcept { return runOnExit_; }

  // Transitions are on only when enabled with a positive time and at least one effect group is active.
  bool TransitionsEnabled() const noexcept { return transitionsEnabled_; }
  // The default transition time in milliseconds; 0 while transitions are off.
  int EffectTime() const noexcept { return transitionsEnabled_ ? effectTime_ : 0; }
  const TEffectParams& DefaultEffectParams() const noexcept { return defaultParams_; }
  // opt_fx_rollvariants "3": the roll variant is drawn per slide.
  bool RollVariantsDrawn() const noexcept { return rollVariantsDrawn_; }
  const std::array<TEffGroup, kEffGroupCount>& EffectGroups() const noexcept { return effGroups_; }
  // Numbers (from 0) of the groups that list a type, in their current shuffled order (a copy: random
  // draws reshuffle them).
  std::vector<int> ActiveGroups() const;

  // The section of the slide played at position (the random order applies); nullptr when absent.
  TIniSection* GetSlideSection(int position) const;
  // The slide number (from 0) played at position.
  int SlideNumberAt(int position) const;
  // The slide's end action. The loop time (its still time) comes with the timing table.
  TEndAction GetEndAction(int position) const;
  // The same; for a loop, loopTime receives the slide's still time (end - start - effect in).
  TEndAction GetEndAction(int position, double& loopTime) const;
  // True, with the program's file name, when the slide runs a program as it is left.
  bool GetRunApp(int position, std::u16string& fileName) const;
  // The transition into the slide at position (taken modulo the slide count). Random choices advance the
  // draw state, so two calls for one position may differ unless the choice is deterministic. A show
  // without slides has no transitions to ask for ("Assertion failure").
  TEffectChoice GetEffect(int position);
  // Only the time: 0 while transitions are off, and 0 at or past the slide count unless the show repeats.
  int GetEffectTime(int position);
  // The timings of a play position: p >= 0 plays slide p mod n in pass p div n; -1 is the time before the
  // show; positions below -1 lie in the far past.
  TSlideInfo GetSlideTiming(int32_t position) const;
  // The first position from -1 upward whose start <= time <= end: a time on a boundary belongs to the
  // earlier slide, times up to 0 give -1. Times past a show of length 0 give its last position.
  int32_t FindSlideAt(double time) const;
  // The first position whose visible-until, rounded to whole ms, reaches time rounded likewise.
  int32_t FindFirstVisible(double time) const;
  // The end of the last slide: the length of one pass.
  double TotalDuration() const noexcept { return totalDuration_; }
  // One pass, in play order.
  const std::vector<TSlideInfo>& SlideTimings() const noexcept { return timings_; }

  // Set by the engine so that every run of a show chooses the same transitions.
  void SetDeterministic(bool deterministic, int32_t seed);

  // The slide's effect parameters: the defaults with the slide's own overrides (Effect* keys) when it has
  // a personal transition of a fixed class.
  TEffectParams SlideEffectParams(int position) const;

private:
  void Read();
  void ApplyScreenSaverMode();
  void ReadShowOptions();
  void ReadTransitionDefaults();
  void ReadEffectGroups();
  void ShuffleActiveGroups();
  void BuildTimingTable();
  // Class and type of a random transition; called under drawLock_.
  std::pair<int, int> DrawRandomEffect(int position);

  TRef<TFileAccessor> accessor_;
  std::unique_ptr<TIniFile> ownedDocument_; // set when the source owns the document
  TIniFile* document_ = nullptr;
  TRef<TSlideOrderRegistry> orders_; // set once at creation; locks itself
  TIniSection* main_ = nullptr;
  int startSlideIndex_ = 0;

  bool screenSaver_ = false;
  int slideCount_ = 0;
  TRepeatMode repeatMode_ = TRepeatMode::Repeat;
  bool pauseWhenInactive_ = true;
  TBGRColor hiderColor_;
  float unsharpAmount_ = 0;
  uint8_t unsharpThreshold_ = 0;
  bool manualShow_ = false;
  bool random_ = false;
  int screenMode_ = 1;
  TRunOnExit runOnExit_;

  bool transitionsEnabled_ = false;
  int effectTime_ = 0;
  TEffectParams defaultParams_;
  bool rollVariantsDrawn_ = false;
  int customCount_ = 0;
  std::vector<int> customSelected_; // the custom transitions group 19 selects, in increasing order
  std::array<TEffGroup, kEffGroupCount> effGroups_;
  std::vector<int> activeGroups_;
  std::vector<int> sortedGroups_; // the active groups in number order

  std::vector<TSlideInfo> timings_;
  std::vector<double> maxVisibleUntil_; // running maximum of visibleUntil over one pass
  double totalDuration_ = 0;

  // Draw state of random transitions, asked for by the loader's and the engine's threads.
  mutable std::mutex drawLock_;
  std::mt19937 generator_; // private: drawing never reseeds anyone else's generator
  uint32_t drawCounter_ = 0;
  bool alternation_ = false;
  bool deterministic_ = false; // set by the engine
  int32_t seed_ = 0;
};

// The show options of an open show, made on first call from its accessor and project document with the
// start slide index 0, and kept by the locator. Needs a project.
TKivSource& Options(TKivShowLocator& locator);

} // namespace kiv
