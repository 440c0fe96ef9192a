#pragma once
// The decoder libraries print their own diagnostics on stderr; while they run, those go nowhere, so that a
// failure is reported in one line of ours.

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace kiv {

class TQuietStderr {
public:
  TQuietStderr() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~TQuietStderr() { Restore(); }
  TQuietStderr(const TQuietStderr&) = delete;
  TQuietStderr& operator=(const TQuietStderr&) = delete;

  // Gives stderr back, e.g. to report the failure.
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }

private:
  int saved_ = -1;
};

} // namespace kiv
