#include "PackagingTestSupport.h"

#include "TestEnvironment.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kivtest {

TCommandRun RunCommand(const std::string& command) {
  TCommandRun run;
  run.out = CommandOutput("(" + command + ") 2>&1", run.code);
  return run;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + ShellQuote(name)).code == 0;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::pair<int, int> PngSize(const std::filesystem::path& path) {
  const std::string bytes = ReadText(path);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto word = [&](size_t at) {
    int value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  return {word(16), word(20)};
}

const std::filesystem::path& InstalledPrefix() {
  // One install per test program: every test of the installed tree reads the same files.
  static const std::filesystem::path prefix = [] {
    const std::filesystem::path root = FreshTempDir("kiv_install");
    const std::filesystem::path usr = root / "usr";
    const TCommandRun run =
        RunCommand("cmake --install " + ShellQuote(KIV_BINARY_DIR) + " --prefix " + ShellQuote(usr.string()));
    if (run.code != 0) throw std::runtime_error("cmake --install failed:\n" + run.out);
    return usr;
  }();
  return prefix;
}

} // namespace kivtest
