#pragma once
// The process-wide log: none by default, a file log or a stderr log (our stand-in for the debugger output).
//
// Every entry is one line. With a file log the file is created anew, starts with a UTF-8 byte-order mark
// and ends each line with CR LF; the stderr log ends lines with LF. Optional prefixes, in this order:
//   "#" + thread id in upper-case hex (at least 4 digits) + " "     (kLogThreadId)
//   "[" + milliseconds since the log was installed + "] "            (kLogTime)
// Installing writes the header, CloseLog the footer:
//   ================================================================
//   Program : /path/to/program
//   started : 05.03.2024 14:07:09
//   ================================================================
//   ...
//   ----------------------------------------------------------------
//   Program stoped : 05.03.2024 14:07:10 (work time : 1234 ms)
//   ----------------------------------------------------------------
// Helper forms append the value right after the label, so the label carries its own separator:
//   LogInt("Count = ", 3)              -> "Count = 3"
//   LogFloat("Time: ", 1.5)            -> "Time: 1.5"          (up to 15 significant digits)
//   LogBool("Active: ", true)          -> "Active: True"
//   LogNumbers("Sizes: ", {1, 2, 3})   -> "Sizes: 1, 2, 3"
//   LogPoint("Pos", 1, 2)              -> "Pos(1, 2)"
//   LogRect("Bounds", 0, 0, 640, 480)  -> "Bounds(0, 0, 640, 480)"
// Every Log* call returns at once when no log is installed; test LogActive() before building costly texts.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace kiv {

enum TLogFlags : unsigned {
  kLogThreadId = 1u << 0,
  kLogTime = 1u << 1,
};

struct TLogDateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
};

// Where the log takes its time from. Tests install fixed ones so that every line is exact.
struct TLogClock {
  std::function<int64_t()> ticksMs;  // monotonic milliseconds, for the prefix and the work time
  std::function<TLogDateTime()> now; // local date and time, for the header and footer
};
TLogClock SystemLogClock();
// Replaces the clock used by logs installed from now on; a clock with empty members means the system's.
void SetLogClock(TLogClock clock);

// Full path of the running program (/proc/self/exe), or "" when it cannot be read.
std::string ProgramPath();
// The program path with its extension replaced by (or, without one, extended with) ".log".
std::string DefaultLogPath();

// Replace any installed log (which gets its footer). False when the file cannot be created; the log
// installed before, if any, then stays.
bool InstallFileLog(const std::string& path, unsigned flags = 0);
bool InstallFileLog(unsigned flags = 0); // at DefaultLogPath()
void InstallStderrLog(unsigned flags = 0);
// Writes the footer and uninstalls; nothing when no log is installed.
void CloseLog();
bool LogActive() noexcept;

// The id shown in the thread prefix (the kernel thread id).
uint64_t CurrentThreadId() noexcept;

void LogLine(std::string_view text); // UTF-8
void LogLine(std::u16string_view text);
void LogInt(std::string_view label, int64_t value);
void LogFloat(std::string_view label, double value);
void LogBool(std::string_view label, bool value);
// Integers as written, floating-point numbers as LogFloatText.
template <class Range> void LogNumbers(std::string_view label, const Range& values);
template <class N> void LogNumbers(std::string_view label, std::initializer_list<N> values);
void LogPoint(std::string_view label, double x, double y);
void LogRect(std::string_view label, double left, double top, double right, double bottom);

// Texts of the helper forms, for callers that compose longer lines.
std::string LogFloatText(double value);
std::string LogDateTimeText(const TLogDateTime& time); // "DD.MM.YYYY hh:mm:ss"

template <class Range> void LogNumbers(std::string_view label, const Range& values) {
  if (!LogActive()) return;
  std::string line(label);
  bool first = true;
  for (const auto& value : values) {
    static_assert(std::is_arithmetic_v<std::remove_cvref_t<decltype(value)>>);
    if (!first) line += ", ";
    first = false;
    if constexpr (std::is_floating_point_v<std::remove_cvref_t<decltype(value)>>)
      line += LogFloatText(static_cast<double>(value));
    else
      line += std::to_string(value);
  }
  LogLine(line);
}
template <class N> void LogNumbers(std::string_view label, std::initializer_list<N> values) {
  LogNumbers<std::initializer_list<N>>(label, values);
}

} // namespace kiv
