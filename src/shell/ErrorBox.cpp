#include "ErrorBox.h"

#include <cstdio>
#include <mutex>

namespace kiv {
namespace {

std::mutex gHandlerLock;
TErrorBoxHandler gHandler;

} // namespace

std::string DisplayText(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

void SetErrorBoxHandler(TErrorBoxHandler handler) {
  std::lock_guard lock(gHandlerLock);
  gHandler = std::move(handler);
}

void ErrorBox(std::string_view text) {
  NoticeBox(kErrorCaption, text);
}

void NoticeBox(std::string_view caption, std::string_view text) {
  TErrorBoxHandler handler;
  {
    std::lock_guard lock(gHandlerLock);
    handler = gHandler;
  }
  if (handler) {
    handler(std::string(text));
    return;
  }
  const std::string shown = DisplayText(text);
  if (ShowSystemMessageBox(std::string(caption), shown)) return;
  std::fprintf(stderr, "%s\n", shown.c_str());
  std::fflush(stderr);
}

} // namespace kiv
