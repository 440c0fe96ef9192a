#pragma once
// A view of a stream that hides its first bytes: position 0 is the inner stream's position "shift".

#include "Streams.h"

#include <utility>

namespace kiv {

class TMp3ShiftStream : public TStream {
public:
  // Adopts inner (freed with this view unless released; also when the seek to the shift fails) and seeks
  // it to the shift.
  TMp3ShiftStream(TStreamPtr inner, int64_t shift);

  int64_t GetPosition() override { return inner_->GetPosition() - shift_; }
  void SetPosition(int64_t position) override { inner_->SetPosition(position + shift_); }
  int64_t GetSize() override { return inner_->GetSize() - shift_; }
  void SetSize(int64_t size) override;
  int64_t Read(void* buffer, int64_t count) override { return inner_->Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override;

  TStream* Inner() const noexcept { return inner_.get(); }
  int64_t Shift() const noexcept { return shift_; }
  // Hands the inner stream to the caller; the view must not be used afterwards.
  TStreamPtr ReleaseInner() noexcept { return std::move(inner_); }

private:
  TStreamPtr inner_;
  int64_t shift_;
};

} // namespace kiv
