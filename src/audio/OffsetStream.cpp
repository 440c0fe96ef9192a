#include "OffsetStream.h"

#include "Assert.h"

#include <utility>

namespace kiv {

TMp3ShiftStream::TMp3ShiftStream(TStream* inner, int64_t shift) : inner_(inner), shift_(shift) {
  RY_ASSERT(inner_ != nullptr);
  inner_->SetPosition(shift_);
}

TMp3ShiftStream::~TMp3ShiftStream() {
  if (inner_) TObj::Free(inner_);
}

TStream* TMp3ShiftStream::ReleaseInner() noexcept {
  return std::exchange(inner_, nullptr);
}

void TMp3ShiftStream::SetSize(int64_t) {
  RY_ASSERT(false);
}

int64_t TMp3ShiftStream::Write(const void*, int64_t) {
  RY_ASSERT(false);
  return 0;
}

} // namespace kiv
