#pragma once
// Peak resident size of a process from its memory map's high-water mark. The resource-usage counters will
// not do here: a child started with vfork (posix_spawn) takes over the parent's peak when it execs, so
// every child of a large benchmark process would report the parent's size.

#include <fstream>
#include <string>
#include <sys/types.h>

namespace kiv::bench {

// VmHWM of the process in MB; 0 when it cannot be read (the process has ended).
inline double PeakResidentMb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0; // kB
  return 0;
}

inline double OwnPeakResidentMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

// Starts this process's high-water mark again from what it holds now, so that a benchmark measures
// itself and not the ones that ran before it.
inline void ResetOwnPeakResident() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

} // namespace kiv::bench
