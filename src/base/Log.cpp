#include "Log.h"

#include "Utf8Conversion.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>

#ifdef __linux__
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kiv {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

struct TLogState {
  std::mutex lock;                 // every write, install and close
  std::atomic<bool> active{false}; // read without the lock, so idle Log* calls stay cheap
  std::FILE* file = nullptr;       // stderr, or the file log's own handle
  bool ownsFile = false;
  std::string_view lineEnd = "\n";
  unsigned flags = 0;
  int64_t startTicks = 0;
  TLogClock clock;
};

// Never destroyed: objects freed during static destruction may still log. Each line is flushed, so nothing
// is lost when the process ends without CloseLog.
TLogState& State() {
  static TLogState* state = new TLogState;
  return *state;
}

int64_t Ticks(const TLogClock& clock) {
  return clock.ticksMs ? clock.ticksMs() : SystemLogClock().ticksMs();
}
TLogDateTime Now(const TLogClock& clock) {
  return clock.now ? clock.now() : SystemLogClock().now();
}

void WriteRaw(TLogState& s, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), s.file);
  std::fwrite(s.lineEnd.data(), 1, s.lineEnd.size(), s.file);
  std::fflush(s.file);
}

void WriteFooterAndClose(TLogState& s) {
  if (!s.file) return;
  const int64_t workTime = Ticks(s.clock) - s.startTicks;
  const std::string rule(64, '-');
  WriteRaw(s, rule);
  WriteRaw(s, "Program stoped : " + LogDateTimeText(Now(s.clock)) +
                  " (work time : " + std::to_string(workTime) + " ms)");
  WriteRaw(s, rule);
  if (s.ownsFile) std::fclose(s.file);
  s.file = nullptr;
  s.ownsFile = false;
  s.active.store(false, std::memory_order_release);
}

void Install(std::FILE* file, bool ownsFile, std::string_view lineEnd, unsigned flags) {
  TLogState& s = State();
  std::lock_guard guard(s.lock);
  WriteFooterAndClose(s);
  s.file = file;
  s.ownsFile = ownsFile;
  s.lineEnd = lineEnd;
  s.flags = flags;
  s.startTicks = Ticks(s.clock);
  const std::string rule(64, '=');
  WriteRaw(s, rule);
  WriteRaw(s, "Program : " + ProgramPath());
  WriteRaw(s, "started : " + LogDateTimeText(Now(s.clock)));
  WriteRaw(s, rule);
  s.active.store(true, std::memory_order_release);
}

void TwoDigits(std::string& out, int value) {
  out += static_cast<char>('0' + value / 10 % 10);
  out += static_cast<char>('0' + value % 10);
}

} // namespace

TLogClock SystemLogClock() {
  TLogClock clock;
  clock.ticksMs = [] {
    using namespace std::chrono;
    return static_cast<int64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  };
  clock.now = [] {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return TLogDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                        local.tm_hour,        local.tm_min,     local.tm_sec};
  };
  return clock;
}

void SetLogClock(TLogClock clock) {
  TLogState& s = State();
  std::lock_guard guard(s.lock);
  s.clock = std::move(clock);
}

std::string ProgramPath() {
#ifdef __linux__
  std::string path(256, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
#else
  return {};
#endif
}

std::string DefaultLogPath() {
  std::string program = ProgramPath();
  if (program.empty()) return {};
  return std::filesystem::path(program).replace_extension(".log").string();
}

bool InstallFileLog(const std::string& path, unsigned flags) {
  if (path.empty()) return false;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  // The mark goes only at the start of an empty file (a device or pipe named as the log gets none).
  if (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) == 0)
    std::fwrite(kBom.data(), 1, kBom.size(), file);
  Install(file, true, "\r\n", flags);
  return true;
}

bool InstallFileLog(unsigned flags) {
  return InstallFileLog(DefaultLogPath(), flags);
}

void InstallStderrLog(unsigned flags) {
  Install(stderr, false, "\n", flags);
}

void CloseLog() {
  TLogState& s = State();
  std::lock_guard guard(s.lock);
  WriteFooterAndClose(s);
}

bool LogActive() noexcept {
  return State().active.load(std::memory_order_acquire);
}

uint64_t CurrentThreadId() noexcept {
#ifdef __linux__
  return static_cast<uint64_t>(::syscall(SYS_gettid));
#else
  return static_cast<uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
#endif
}

void LogLine(std::string_view text) {
  TLogState& s = State();
  if (!s.active.load(std::memory_order_acquire)) return;
  std::lock_guard guard(s.lock);
  if (!s.file) return; // closed meanwhile
  std::string line;
  if (s.flags & kLogThreadId) {
    char id[24];
    std::snprintf(id, sizeof id, "#%04llX ", static_cast<unsigned long long>(CurrentThreadId()));
    line += id;
  }
  if (s.flags & kLogTime) line += "[" + std::to_string(Ticks(s.clock) - s.startTicks) + "] ";
  line += text;
  WriteRaw(s, line);
}

void LogLine(std::u16string_view text) {
  if (LogActive()) LogLine(std::string_view(Utf16ToUtf8(text)));
}

void LogInt(std::string_view label, int64_t value) {
  if (LogActive()) LogLine(std::string(label) + std::to_string(value));
}

void LogFloat(std::string_view label, double value) {
  if (LogActive()) LogLine(std::string(label) + LogFloatText(value));
}

void LogBool(std::string_view label, bool value) {
  if (LogActive()) LogLine(std::string(label) + (value ? "True" : "False"));
}

void LogPoint(std::string_view label, double x, double y) {
  if (LogActive()) LogLine(std::string(label) + "(" + LogFloatText(x) + ", " + LogFloatText(y) + ")");
}

void LogRect(std::string_view label, double left, double top, double right, double bottom) {
  if (!LogActive()) return;
  LogLine(std::string(label) + "(" + LogFloatText(left) + ", " + LogFloatText(top) + ", " +
          LogFloatText(right) + ", " + LogFloatText(bottom) + ")");
}

std::string LogFloatText(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  return std::string(buffer, result.ptr);
}

std::string LogDateTimeText(const TLogDateTime& time) {
  std::string out;
  TwoDigits(out, time.day);
  out += '.';
  TwoDigits(out, time.month);
  out += '.';
  std::string year = std::to_string(time.year);
  if (year.size() < 4) out.append(4 - year.size(), '0');
  out += year;
  out += ' ';
  TwoDigits(out, time.hour);
  out += ':';
  TwoDigits(out, time.minute);
  out += ':';
  TwoDigits(out, time.second);
  return out;
}

} // namespace kiv
