#include "TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

namespace kivtest {

namespace {

void Set(const char* name, const std::string& value) {
  if (::setenv(name, value.c_str(), 1) != 0) throw std::runtime_error(std::string("setenv ") + name);
}

} // namespace

TTestEnvironment::TTestEnvironment() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kivtest.XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::exit(2);
  }
  root_ = pattern;
  for (const char* sub : {"/tmp", "/home", "/home/.config", "/home/.cache", "/home/.local/share"})
    std::filesystem::create_directories(root_ + sub);
  Set("TMPDIR", root_ + "/tmp");
  Set("HOME", root_ + "/home");
  Set("XDG_CONFIG_HOME", root_ + "/home/.config");
  Set("XDG_CACHE_HOME", root_ + "/home/.cache");
  Set("XDG_DATA_HOME", root_ + "/home/.local/share");
  Set("FONTCONFIG_FILE", KIV_TEST_FONTCONFIG);
  ::unsetenv("FONTCONFIG_PATH");
}

std::filesystem::path FreshTempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp " + pattern);
  return pattern;
}

std::string CommandOutput(const std::string& command, int& exitCode) {
  std::string out;
  exitCode = -1;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
    out.append(buffer, n);
  const int status = ::pclose(pipe);
  if (status != -1 && WIFEXITED(status)) exitCode = WEXITSTATUS(status);
  return out;
}

TTestEnvironment::~TTestEnvironment() {
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

} // namespace kivtest
