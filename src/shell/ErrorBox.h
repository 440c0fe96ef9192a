#pragma once
// The one box in which every failure to find or open a show is reported.

#include <functional>
#include <string>
#include <string_view>

namespace kiv {

inline constexpr std::string_view kErrorCaption = "Slideshow Error";

// A warning box captioned "Slideshow Error" with the text ("\r" breaks lines); on stderr when no display
// can show it.
void ErrorBox(std::string_view text);

// A box with the caption and text given (the caption may be empty), through the same way as ErrorBox.
void NoticeBox(std::string_view caption, std::string_view text);

// Where ErrorBox and NoticeBox send their texts instead (tests); an empty function restores the box.
using TErrorBoxHandler = std::function<void(const std::string& text)>;
void SetErrorBoxHandler(TErrorBoxHandler handler);

// The text as it is shown: "\r" and "\r\n" become line breaks.
std::string DisplayText(std::string_view text);

// The platform's message box; false when there is no display to show it on.
bool ShowSystemMessageBox(const std::string& caption, const std::string& text);

} // namespace kiv
