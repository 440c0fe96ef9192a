#pragma once
// Makes a test or benchmark program independent of the machine it runs on: the fonts are the repository's
// (tests/support/fonts.conf), and TMPDIR, HOME and the XDG folders point into one fresh folder of this
// process, removed when it ends. Call before anything starts fontconfig or reads those variables.

#include <filesystem>
#include <string>

namespace kivtest {

// A new folder of its own under the temporary folder, never one another test or process uses.
std::filesystem::path FreshTempDir(const std::string& prefix);

// Standard output of a shell command line; exitCode gets its exit status (-1 when it could not run).
std::string CommandOutput(const std::string& command, int& exitCode);

class TTestEnvironment {
public:
  TTestEnvironment();
  ~TTestEnvironment();
  TTestEnvironment(const TTestEnvironment&) = delete;
  TTestEnvironment& operator=(const TTestEnvironment&) = delete;

  const std::string& Root() const { return root_; }

private:
  std::string root_;
};

} // namespace kivtest
