#include "Assert.h"

#include <atomic>
#include <cstdio>

namespace kiv {
namespace {

void StderrSink(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

std::atomic<TAssertionSink> gSink{&StderrSink};

std::string_view UnitName(std::string_view path) {
  auto slash = path.find_last_of("/\\");
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  auto dot = path.find_last_of('.');
  if (dot != std::string_view::npos) path = path.substr(0, dot);
  return path;
}

} // namespace

std::string AssertionText(std::string_view message, std::string_view sourceFile, int line) {
  std::string text = "Asseertion with message: '";
  text += message;
  text += "' (";
  text += UnitName(sourceFile);
  text += ", line: ";
  text += std::to_string(line);
  text += ')';
  return text;
}

void ReportAssertion(std::string_view message, std::string_view sourceFile, int line) {
  gSink.load()(AssertionText(message, sourceFile, line));
}

void RaiseAssertion(std::string_view message, std::string_view sourceFile, int line) {
  std::string text = AssertionText(message, sourceFile, line);
  gSink.load()(text);
  throw EAssertion(std::move(text));
}

TAssertionSink SetAssertionSink(TAssertionSink sink) {
  return gSink.exchange(sink ? sink : &StderrSink);
}

} // namespace kiv
