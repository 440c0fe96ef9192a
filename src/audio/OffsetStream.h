#pragma once
// A view of a stream that hides its first bytes: position 0 is the inner stream's position "shift".

#include "Streams.h"

namespace kiv {

class TMp3ShiftStream : public TStream {
public:
  // Takes ownership of inner (freed with this view unless released) and seeks it to the shift.
  TMp3ShiftStream(TStream* inner, int64_t shift);
  ~TMp3ShiftStream() override;

  int64_t GetPosition() override { return inner_->GetPosition() - shift_; }
  void SetPosition(int64_t position) override { inner_->SetPosition(position + shift_); }
  int64_t GetSize() override { return inner_->GetSize() - shift_; }
  void SetSize(int64_t size) override;
  int64_t Read(void* buffer, int64_t count) override { return inner_->Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override;

  TStream* Inner() const noexcept { return inner_; }
  int64_t Shift() const noexcept { return shift_; }
  // Hands the inner stream to the caller; the view must not be used afterwards.
  TStream* ReleaseInner() noexcept;

private:
  TStream* inner_;
  int64_t shift_;
};

} // namespace kiv
