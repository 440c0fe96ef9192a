#pragma once
// Shared by the packaging tests: running commands, finding tools, and a tree installed from the build.

#include <filesystem>
#include <string>

namespace kivtest {

struct TCommandRun {
  int code = -1;
  std::string out; // stdout and stderr together
};

// Runs a shell command line with stderr joined to stdout.
TCommandRun RunCommand(const std::string& command);
// Single-quoted for the shell.
std::string ShellQuote(const std::string& text);
// Whether the named program is on PATH.
bool HaveTool(const std::string& name);
std::string ReadText(const std::filesystem::path& path);
// Width and height from a PNG's header; (0, 0) when the file is no PNG.
std::pair<int, int> PngSize(const std::filesystem::path& path);

// The build installed with `cmake --install` under a fresh folder, once per test program: its prefix.
const std::filesystem::path& InstalledPrefix();

} // namespace kivtest
