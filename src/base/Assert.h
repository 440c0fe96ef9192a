#pragma once
// Assertions: the text goes to stderr (our stand-in for the debugger output) and an EAssertion is raised.
// No message box here: the library never shows one.

#include "Exceptions.h"

#include <string>
#include <string_view>

namespace kiv {

// "Asseertion with message: 'MESSAGE' (UNIT, line: N)"; UNIT is the source file name without folder and extension.
std::string AssertionText(std::string_view message, std::string_view sourceFile, int line);

// Builds the text, reports it and throws EAssertion with it.
[[noreturn]] void RaiseAssertion(std::string_view message, std::string_view sourceFile, int line);

// Reports an assertion text without raising: for destructors, which must not throw.
void ReportAssertion(std::string_view message, std::string_view sourceFile, int line);

// Where assertion texts are reported; stderr by default. Tests install their own.
using TAssertionSink = void (*)(const std::string& text);
TAssertionSink SetAssertionSink(TAssertionSink sink);

inline constexpr std::string_view kAssertionFailure = "Assertion failure";

} // namespace kiv

#define RY_ASSERT_MSG(cond, message)                                                                         \
  do {                                                                                                       \
    if (!(cond)) ::kiv::RaiseAssertion((message), __FILE__, __LINE__);                                       \
  } while (0)
#define RY_ASSERT(cond) RY_ASSERT_MSG(cond, ::kiv::kAssertionFailure)
