// The build installed under a prefix as a user's system holds it: the programs find their private decoder
// library, the desktop entry validates, packed shows are known by their type once the MIME database is
// built, and the thumbnailer entry draws a show's first slide.

#include "GLContext.h"
#include "PackagingTestSupport.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using kivtest::HaveTool;
using kivtest::InstalledPrefix;
using kivtest::ReadText;
using kivtest::RunCommand;
using kivtest::ShellQuote;

const fs::path kDemoShow = fs::path(KIV_BINARY_DIR) / "demo" / "demo.KvShow";
constexpr const char* kShowType = "application/x-kivviewer-show";

// A desktop session's environment without any desktop: what xdg-mime and the thumbnailer see in one.
std::string CleanEnv(const fs::path& prefix) {
  const std::string share = (prefix / "share").string();
  return "env -i PATH=/usr/bin:/bin HOME=" + ShellQuote(fs::temp_directory_path().string()) +
         " XDG_DATA_HOME=" + ShellQuote(share) + " XDG_DATA_DIRS=" + ShellQuote(share) + " ";
}

TEST(InstalledTree, HoldsTheProgramsTheirLibraryAndTheDesktopFiles) {
  const fs::path& prefix = InstalledPrefix();
  for (const char* file :
       {"bin/kivviewer", "bin/kivpack", "lib/kivviewer/libkivffmpeg.so", "share/man/man1/kivviewer.1",
        "share/man/man1/kivpack.1", "share/applications/kivviewer.desktop", "share/mime/packages/kivviewer.xml",
        "share/thumbnailers/kivviewer.thumbnailer", "share/icons/hicolor/scalable/apps/kivviewer.svg",
        "share/icons/hicolor/scalable/mimetypes/application-x-kivviewer-show.svg"})
    EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
}

TEST(InstalledTree, ProgramsFindTheirLibraryThroughTheirRunPath) {
  const fs::path& prefix = InstalledPrefix();
  const std::string library = (prefix / "lib" / "kivviewer" / "libkivffmpeg.so").string();
  for (const char* program : {"kivviewer", "kivpack"}) {
    // Started from another folder, as a file manager starts it.
    const auto run = RunCommand("cd / && env -u LD_LIBRARY_PATH " + ShellQuote((prefix / "bin" / program).string()) +
                                " --version");
    EXPECT_EQ(run.code, 0) << program << ": " << run.out;
    EXPECT_EQ(run.out.rfind(std::string(program) + " " KIV_PROJECT_VERSION "\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("(video decoder " + library + ")"), std::string::npos) << run.out;
  }
}

TEST(InstalledTree, DesktopEntryValidatesAndOpensShows) {
  if (!HaveTool("desktop-file-validate")) GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) missing";
  const fs::path entry = InstalledPrefix() / "share" / "applications" / "kivviewer.desktop";
  const auto run = RunCommand("desktop-file-validate " + ShellQuote(entry.string()));
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_EQ(run.out, "") << "hints and warnings count too";
  const std::string text = ReadText(entry);
  EXPECT_NE(text.find("\nExec=kivviewer %f\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nMimeType=" + std::string(kShowType) + ";\n"), std::string::npos) << text;
}

TEST(InstalledTree, PackedShowsAreKnownByTheirName) {
  for (const char* tool : {"update-mime-database", "xdg-mime", "mimetype"})
    if (!HaveTool(tool))
      GTEST_SKIP() << tool << " missing (shared-mime-info, xdg-utils and libfile-mimeinfo-perl provide them)";
  const fs::path& prefix = InstalledPrefix();
  const fs::path mime = prefix / "share" / "mime";
  ASSERT_EQ(RunCommand("update-mime-database " + ShellQuote(mime.string())).code, 0);
  const fs::path dir = kivtest::FreshTempDir("kiv_mime");
  struct TCase {
    const char* name;
    bool ours;
  } cases[] = {{"demo.KvShow", true}, {"DEMO.KVSHOW", true}, {"trip.kvshow", true},
               {"demo.KvShow.bak", false}, {"KvShow", false}};
  for (const TCase& c : cases) {
    fs::copy_file(kDemoShow, dir / c.name, fs::copy_options::overwrite_existing);
    auto run = RunCommand(CleanEnv(prefix) + "xdg-mime query filetype " + ShellQuote((dir / c.name).string()));
    EXPECT_EQ(run.code, 0) << c.name << ": " << run.out;
    if (c.ours)
      EXPECT_EQ(run.out, std::string(kShowType) + "\n") << c.name;
    else
      EXPECT_EQ(run.out.find(kShowType), std::string::npos) << c.name << ": " << run.out;
  }
}

TEST(InstalledTree, ThePlayerIsTheApplicationForShows) {
  for (const char* tool : {"update-desktop-database", "xdg-mime"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " missing (desktop-file-utils and xdg-utils provide them)";
  const fs::path& prefix = InstalledPrefix();
  ASSERT_EQ(RunCommand("update-desktop-database " + ShellQuote((prefix / "share" / "applications").string())).code, 0);
  const auto run = RunCommand(CleanEnv(prefix) + "xdg-mime query default " + kShowType);
  EXPECT_EQ(run.out, "kivviewer.desktop\n");
}

// The Exec line of the thumbnailer entry with the installed program and the file manager's values put in.
std::string ThumbnailCommand(const fs::path& prefix, const fs::path& in, const fs::path& out, int size) {
  const std::string entry = ReadText(prefix / "share" / "thumbnailers" / "kivviewer.thumbnailer");
  std::smatch exec;
  if (!std::regex_search(entry, exec, std::regex("\nExec=([^\n]*)\n"))) return {};
  std::string command = exec[1];
  const std::pair<std::string, std::string> fields[] = {{"%i", ShellQuote(in.string())},
                                                        {"%o", ShellQuote(out.string())},
                                                        {"%s", std::to_string(size)}};
  for (const auto& [field, value] : fields)
    for (size_t at; (at = command.find(field)) != std::string::npos;) command.replace(at, field.size(), value);
  if (command.rfind("kivviewer ", 0) != 0) return {};
  return ShellQuote((prefix / "bin" / "kivviewer").string()) + command.substr(9);
}

TEST(InstalledTree, ThumbnailerDrawsTheFirstSlideAtTheAskedSize) {
  std::string whyNot;
  if (!HeadlessGLAvailable(&whyNot)) GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
  const fs::path& prefix = InstalledPrefix();
  const fs::path dir = kivtest::FreshTempDir("kiv_thumb");
  // The demo's design size is 800 x 600: the longer side becomes the size asked for.
  struct TCase {
    int size, width, height;
  } cases[] = {{256, 256, 192}, {128, 128, 96}};
  for (const TCase& c : cases) {
    const fs::path out = dir / ("thumb" + std::to_string(c.size) + ".png");
    const std::string command = ThumbnailCommand(prefix, kDemoShow, out, c.size);
    ASSERT_FALSE(command.empty()) << "the thumbnailer's Exec line does not start kivviewer";
    // Thumbnailers run without a display and from any folder.
    const auto run = RunCommand("cd / && env -u DISPLAY -u WAYLAND_DISPLAY " + command);
    ASSERT_EQ(run.code, 0) << command << "\n" << run.out;
    EXPECT_EQ(kivtest::PngSize(out), std::make_pair(c.width, c.height)) << run.out;
    // The same picture as the first slide drawn at that size by hand.
    const fs::path expected = dir / ("slide1_" + std::to_string(c.size) + ".png");
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    ASSERT_EQ(RunCommand(ShellQuote(KIVVIEWER_PATH) + " -render " + ShellQuote(expected.string()) +
                         " -slide 1 -size " + size + " " + ShellQuote(kDemoShow.string()))
                  .code,
              0);
    EXPECT_TRUE(ReadText(out) == ReadText(expected)) << "the thumbnail is not the first slide";
  }
}

} // namespace
} // namespace kiv
