#pragma once
// The events between the engine, its slide loader and the user interface: their numbers and the records
// they carry. A record posted to a queue belongs to the queue from then on; a record sent is the sender's.

#include "ActionInfo.h"
#include "IniDocument.h"
#include "ObjectBase.h"
#include "ShowFileAccess.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

class TDrawContainer;

// Engine -> user interface.
inline constexpr int kEvFirstFrame = 1;  // none: the first frame of a newly opened show is drawn
inline constexpr int kEvPosition = 2;    // integers: sequence, position ms, show length ms, end flag
inline constexpr int kEvAction = 12;     // integers: action kind, parameter; data: TStrValue text or none
inline constexpr int kEvImage = 14;      // data: the still image (owned)
inline constexpr int kEvWindowMode = 17; // integers: width, height, mode (kWindowMode*)
// User interface -> engine.
inline constexpr int kEvMouse = 11;       // TMouseData
inline constexpr int kEvRenderImage = 13; // none: draw the current frame into a still image
inline constexpr int kEvCloseDialog = 15; // none
inline constexpr int kEvHelp = 16;        // none
inline constexpr int kEvOpen = 102;       // TOpenParams: open a show (with a document) or set the position
inline constexpr int kEvPauseMode = 103;  // TModeData
// Slide loader -> engine, sent and waited for.
inline constexpr int kEvSlideList = 101; // TSlideData

// The modes of event 17.
inline constexpr int kWindowModeFullScreen = 0;
inline constexpr int kWindowModeBorder = 1;
inline constexpr int kWindowModeNoBorder = 2;

// What a worker posts to the user-interface thread.
class TKivEventData : public TObj {
public:
  TKivEventData(int eventNumber, std::vector<int32_t> integers, TObj* data, bool ownsData);
  TKivEventData(int eventNumber, std::vector<int32_t> integers = {}, TOwned<TObj> data = nullptr);
  ~TKivEventData() override;

  int EventNumber() const noexcept { return eventNumber_; }
  const std::vector<int32_t>& Integers() const noexcept { return integers_; }
  // The integer at index, 0 when the record has fewer.
  int32_t Integer(size_t index) const noexcept { return index < integers_.size() ? integers_[index] : 0; }
  TObj* Data() const noexcept { return data_; }
  bool OwnsData() const noexcept { return ownsData_; }
  // Hands an owned data object to the caller (the record keeps nothing); nullptr when the data is borrowed
  // or absent.
  TOwned<TObj> TakeData();

private:
  int eventNumber_;
  std::vector<int32_t> integers_;
  TObj* data_;
  bool ownsData_;
};

// A text carried as a data object (the action text of event 12).
class TStrValue : public TObj {
public:
  explicit TStrValue(std::u16string value) : Value(std::move(value)) {}
  std::u16string Value;
};

// Event 102. With a document it asks to open a show, without one to move to a position.
class TOpenParams : public TObj {
public:
  TOpenParams() = default;
  TOpenParams(int32_t sequence, double position, TRef<TFileAccessor> accessor = nullptr,
              std::unique_ptr<TIniFile> document = nullptr);
  ~TOpenParams() override;

  // Copies the pause state, sequence and position, and moves the accessor and the document here: an open
  // request is never in two places.
  void Assign(TOpenParams& source);
  bool IsOpen() const noexcept { return Document != nullptr; }

  bool Paused = false;
  int32_t Sequence = 0;
  TRef<TFileAccessor> Accessor;
  std::unique_ptr<TIniFile> Document;
  double Position = 0; // ms
};

// Event 103.
class TModeData : public TObj {
public:
  explicit TModeData(bool paused = false) : Paused(paused) {}
  bool Paused = false;
};

// Event 11: a mouse event, with the action the input mapping gave it (kind None when it has none).
class TMouseData : public TObj {
public:
  uint8_t Shift = 0; // shift bits: Win 1, Shift 2, Alt 4, Ctrl 8
  int32_t X = 0;
  int32_t Y = 0;
  int32_t Button = 0;
  uint8_t MouseEvent = 0;
  TKivActionInfo Action;
};

// Event 101: the slides the loader holds prepared, in increasing play position. The containers belong to
// the loader's cache; each stays alive until a later list no longer holds it.
class TSlideData : public TObj {
public:
  static constexpr int kMaxSlides = 3;
  // Takes the first kMaxSlides of the list.
  explicit TSlideData(const std::vector<TOwned<TDrawContainer>>& containers);

  int Count() const noexcept { return count_; }
  TDrawContainer* Slide(int index) const noexcept { return index >= 0 && index < count_ ? slides_[index] : nullptr; }

private:
  std::array<TDrawContainer*, kMaxSlides> slides_{};
  int count_ = 0;
};

} // namespace kiv
