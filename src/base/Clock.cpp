#include "Clock.h"

namespace kiv {

int64_t TSystemClock::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
      .count();
}

} // namespace kiv
