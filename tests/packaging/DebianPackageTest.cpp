// The .deb that CPack makes: its dependencies come from the libraries the programs link, and once unpacked
// into an empty root both programs run from there and load the decoder library that came with them.

#include "PackagingTestSupport.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using kivtest::HaveTool;
using kivtest::RunCommand;
using kivtest::ShellQuote;

TEST(DebianPackage, UnpacksIntoAnEmptyRootAndRunsFromThere) {
  for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " missing (dpkg-dev)";
  const fs::path dir = kivtest::FreshTempDir("kiv_deb");
  const auto pack = RunCommand("cpack -G DEB --config " +
                               ShellQuote((fs::path(KIV_BINARY_DIR) / "CPackConfig.cmake").string()) + " -B " +
                               ShellQuote((dir / "out").string()));
  ASSERT_EQ(pack.code, 0) << pack.out;
  fs::path deb;
  for (const auto& entry : fs::directory_iterator(dir / "out"))
    if (entry.path().extension() == ".deb") deb = entry.path();
  ASSERT_FALSE(deb.empty()) << pack.out;
  EXPECT_EQ(deb.filename().string().rfind("kivviewer_" KIV_PROJECT_VERSION "_", 0), 0u) << deb;

  const auto depends = RunCommand("dpkg-deb -f " + ShellQuote(deb.string()) + " Depends");
  ASSERT_EQ(depends.code, 0) << depends.out;
  // What the player, the tool and the decoder library link, by the packages that hold them.
  for (const char* package : {"libc6", "libstdc++6", "libsdl2-2.0-0", "libavcodec", "libavformat",
                              "libswscale", "libjpeg62-turbo", "libfreetype6", "libpng16-16"})
    EXPECT_NE(depends.out.find(package), std::string::npos) << package << " missing from: " << depends.out;

  const fs::path root = dir / "root";
  const auto unpack = RunCommand("dpkg -x " + ShellQuote(deb.string()) + " " + ShellQuote(root.string()));
  ASSERT_EQ(unpack.code, 0) << unpack.out;
  const std::string library = (root / "usr" / "lib" / "kivviewer" / "libkivffmpeg.so").string();
  for (const char* program : {"kivviewer", "kivpack"}) {
    const std::string path = (root / "usr" / "bin" / program).string();
    const auto run = RunCommand("cd / && env -u LD_LIBRARY_PATH " + ShellQuote(path) + " --version");
    EXPECT_EQ(run.code, 0) << program << ": " << run.out;
    EXPECT_EQ(run.out.rfind(std::string(program) + " " KIV_PROJECT_VERSION "\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("(video decoder " + library + ")"), std::string::npos) << run.out;
  }
  const auto info = RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY " +
                               ShellQuote((root / "usr" / "bin" / "kivviewer").string()) + " -info " +
                               ShellQuote((fs::path(KIV_BINARY_DIR) / "demo" / "demo.KvShow").string()));
  EXPECT_EQ(info.code, 0) << info.out;
  EXPECT_NE(info.out.find("\nslides: 4\n"), std::string::npos) << info.out;
}

} // namespace
} // namespace kiv
