#include "OffsetStream.h"

#include "Assert.h"

namespace kiv {

TMp3ShiftStream::TMp3ShiftStream(TStreamPtr inner, int64_t shift) : inner_(std::move(inner)), shift_(shift) {
  RY_ASSERT(inner_ != nullptr);
  inner_->SetPosition(shift_);
}

void TMp3ShiftStream::SetSize(int64_t) {
  RY_ASSERT(false);
}

int64_t TMp3ShiftStream::Write(const void*, int64_t) {
  RY_ASSERT(false);
  return 0;
}

} // namespace kiv
