// The dialog toolkit and the show's dialogs driven headless: layouts at 96 and 144 DPI, the keyboard and
// the mouse, the password step, and the print dialog's choice of picture, its pages and its saved files.

#include "IniDocument.h"
#include "MainKeys.h"
#include "PasswordDialog.h"
#include "PrintDialog.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

namespace kiv {
namespace {

std::unique_ptr<TIniFile> Project(const std::string& mainKeys) {
  auto project = std::make_unique<TIniFile>();
  kivtest::WriteMainKeys(*project, mainKeys);
  return project;
}

// Plays a script against each dialog it runs, then answers the dialog's result.
class TScriptedRunner final : public TDialogRunner {
public:
  explicit TScriptedRunner(std::function<void(TDialog&)> script) : script_(std::move(script)) {}
  int Run(TDialog& dialog) override {
    ++runs;
    script_(dialog);
    return dialog.Ended() ? dialog.Result() : 0;
  }
  int runs = 0;

private:
  std::function<void(TDialog&)> script_;
};

TEST(DialogLayout, PositionsAndSizesScaleWithTheScreensDpi) {
  const auto project = Project("");
  TKivPasswordDialog password(*project);
  TKivPrintDialog print(*Project("CanRestore=1"), {}, {});
  const struct {
    const TDialog* dialog;
    int dpi;
    TDialogRect client;
    std::vector<TDialogRect> items;
  } cases[] = {
      {&password, 96, {0, 0, 260, 98}, {{12, 12, 244, 16}, {12, 32, 236, 21}, {52, 62, 75, 25}, {133, 62, 75, 25}}},
      // 1.5 times: halves go to the even neighbour (31.5 -> 32, 112.5 -> 112, 37.5 -> 38).
      {&password, 144, {0, 0, 390, 147}, {{18, 18, 366, 24}, {18, 48, 354, 32}, {78, 93, 112, 38}, {200, 93, 112, 38}}},
      {&print, 96, {0, 0, 282, 86}, {{12, 12, 125, 25}, {145, 12, 125, 25}, {145, 49, 125, 25}, {12, 49, 125, 25}}},
      {&print, 144, {0, 0, 423, 129}, {{18, 18, 188, 38}, {218, 18, 188, 38}, {218, 74, 188, 38}, {18, 74, 188, 38}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dialog->Title() == u"Print" ? "print at " + std::to_string(c.dpi) : "password at " + std::to_string(c.dpi));
    EXPECT_EQ(c.dialog->ClientRect(c.dpi), c.client);
    ASSERT_EQ(c.dialog->Items().size(), c.items.size());
    for (size_t i = 0; i < c.items.size(); ++i)
      EXPECT_EQ(c.dialog->ItemRect(*c.dialog->Items()[i], c.dpi), c.items[i]) << "item " << i;
    const TRef<TBitmap> drawn = c.dialog->Draw(c.dpi);
    EXPECT_EQ(drawn->Width(), c.client.width);
    EXPECT_EQ(drawn->Height(), c.client.height);
  }
}

TEST(DialogLayout, CaptionsComeFromTheShow) {
  const auto project = Project("opt_lng_password_caption=Kennwort\nopt_lng_password_label=Kennwort eingeben:\n"
                                   "opt_lng_button_ok=Gut\nopt_lng_button_cancel=Abbrechen\n");
  TKivPasswordDialog dialog(*project);
  EXPECT_EQ(dialog.Title(), u"Kennwort");
  EXPECT_EQ(dialog.Items()[0]->Caption(), u"Kennwort eingeben:");
  EXPECT_EQ(dialog.Items()[2]->Caption(), u"Gut");
  EXPECT_EQ(dialog.Items()[3]->Caption(), u"Abbrechen");
  TKivPrintDialog print(*Project(""), {}, {});
  EXPECT_EQ(print.Title(), u"Print");
  EXPECT_FALSE(print.CanSave()) << "Save only where the show allows it";
  EXPECT_EQ(print.Items().size(), 3u);
}

TEST(DialogInput, KeysMoveTheFocusTypeAndEnd) {
  const auto project = Project("");
  TKivPasswordDialog dialog(*project);
  ASSERT_EQ(dialog.Focused(), &dialog.Edit()) << "the edit field has the focus first";
  dialog.TypeText(u"se");
  dialog.TypeText(u"cret\x01");
  dialog.KeyDown(kDialogKeyBackspace);
  EXPECT_EQ(dialog.Edit().Text(), u"secre") << "control characters are not typed; Backspace takes one";
  EXPECT_EQ(dialog.Edit().ShownText(), std::u16string(5, u'\u25CF')) << "the characters are hidden";
  dialog.KeyDown(kDialogKeyTab);
  EXPECT_EQ(dialog.Focused(), dialog.Items()[2].get()) << "Tab skips the label";
  dialog.KeyDown(kDialogKeyTab);
  dialog.KeyDown(kDialogKeyTab);
  EXPECT_EQ(dialog.Focused(), &dialog.Edit()) << "and comes round";
  dialog.KeyDown(kDialogKeyTab, true);
  EXPECT_EQ(dialog.Focused(), dialog.Items()[3].get()) << "Shift+Tab goes back";
  dialog.TypeText(u"x");
  EXPECT_EQ(dialog.Edit().Text(), u"secre") << "typing reaches only a focused field";
  dialog.KeyDown(kDialogKeyEnter);
  EXPECT_TRUE(dialog.Ended());
  EXPECT_EQ(dialog.Result(), TDialog::kCancelled) << "Enter presses the focused button";

  TKivPasswordDialog second(*project);
  second.KeyDown(kDialogKeyEnter);
  EXPECT_EQ(second.Result(), TKivPasswordDialog::kOk) << "from the field, Enter is the default button";
  TKivPasswordDialog third(*project);
  third.KeyDown(kDialogKeyEscape);
  EXPECT_EQ(third.Result(), TDialog::kCancelled);
}

TEST(DialogInput, ClicksPressButtonsAndToggleBoxes) {
  TKivPrintDialog dialog(*Project(""), {}, {});
  // The check box at (145, 49) at 96 DPI, (218, 74) at 144.
  dialog.Click(220, 80, 144);
  EXPECT_TRUE(dialog.OnlyMainImage().Checked());
  dialog.KeyDown(kDialogKeySpace);
  EXPECT_FALSE(dialog.OnlyMainImage().Checked()) << "Space toggles the focused box";
  dialog.Click(5, 5, 96);
  EXPECT_FALSE(dialog.Ended()) << "a click beside every item does nothing";

  const auto project = Project("");
  TKivPasswordDialog password(*project);
  password.Click(140, 70, 96);
  EXPECT_EQ(password.Result(), TDialog::kCancelled);
}

TEST(Password, TheShowOpensOnlyWithItsExactPasswordAndOk) {
  const struct {
    const char* what;
    const char* keys;
    const char16_t* typed;
    bool ok; // OK, else Escape
    bool opens;
  } cases[] = {
      {"no password asked", "", u"", false, true},
      {"asking switched off", "opt_usepass=0\nopt_pass=x", u"", false, true},
      {"the right one", "opt_usepass=1\nopt_pass=Geheim", u"Geheim", true, true},
      {"case matters", "opt_usepass=1\nopt_pass=Geheim", u"geheim", true, false},
      {"a wrong one", "opt_usepass=1\nopt_pass=Geheim", u"Geheim ", true, false},
      {"cancelled", "opt_usepass=1\nopt_pass=", u"", false, false},
      {"an empty password set", "opt_usepass=1\nopt_pass=", u"", true, true},
      {"none set: empty does not open", "opt_usepass=1", u"", true, false},
  };
  for (const auto& c : cases) {
    TScriptedRunner runner([&](TDialog& dialog) {
      dialog.TypeText(c.typed);
      dialog.KeyDown(c.ok ? kDialogKeyEnter : kDialogKeyEscape);
    });
    EXPECT_EQ(CheckPassword(runner, *Project(c.keys)), c.opens) << c.what;
    EXPECT_EQ(runner.runs, std::string(c.keys).find("opt_usepass=1") != std::string::npos ? 1 : 0) << c.what;
  }
  // A failure inside refuses the show.
  TScriptedRunner throwing([](TDialog&) { throw std::runtime_error("no window"); });
  EXPECT_FALSE(CheckPassword(throwing, *Project("opt_usepass=1\nopt_pass=")));
}

TRef<TBitmap> Solid(int width, int height, uint32_t argb) {
  auto bitmap = TRef<TBitmap>::Make(width, height, TBitmapFormat::Pf32bit);
  bitmap->Fill32(argb);
  return bitmap;
}

TEST(PrintPicture, OnlyMainImageFallsBackToTheRenderedSlide) {
  const TRef<TBitmap> main = Solid(8, 4, 0xFFFF0000), rendered = Solid(6, 6, 0xFF00FF00);
  bool hasMain = true;
  std::vector<int> asked;
  auto callback = [&](TImageRequest& request) {
    asked.push_back(request.mode);
    if (request.mode == kImageMainPicture && hasMain) request.bitmap = main;
    if (request.mode == kImageRendered) request.bitmap = rendered;
    return static_cast<bool>(request.bitmap);
  };
  TKivPrintDialog dialog(*Project(""), callback, {});
  EXPECT_EQ(dialog.PictureToPrint().get(), rendered.get()) << "the box unchecked: the slide";
  EXPECT_EQ(asked, std::vector<int>{kImageRendered});
  dialog.OnlyMainImage().SetChecked(true);
  EXPECT_EQ(dialog.PictureToPrint().get(), main.get());
  hasMain = false;
  asked.clear();
  EXPECT_EQ(dialog.PictureToPrint().get(), rendered.get()) << "no main picture: the slide";
  EXPECT_EQ(asked, (std::vector<int>{kImageMainPicture, kImageRendered}));
}

TEST(PrintPage, ThePictureFillsThePageKeepingItsShape) {
  const struct {
    int w, h;
    double pageW, pageH;
    TPagePlacement want;
  } cases[] = {
      {800, 600, 842, 595, {(842 - 793.3333333) / 2, 0, 793.3333333, 595}},
      {1000, 100, 842, 595, {0, (595 - 84.2) / 2, 842, 84.2}},
      {600, 600, 595, 842, {0, (842 - 595) / 2.0, 595, 595}},
      {0, 10, 595, 842, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    const TPagePlacement p = PlaceOnPage(c.w, c.h, c.pageW, c.pageH);
    EXPECT_NEAR(p.left, c.want.left, 1e-6) << c.w << "x" << c.h;
    EXPECT_NEAR(p.top, c.want.top, 1e-6) << c.w << "x" << c.h;
    EXPECT_NEAR(p.width, c.want.width, 1e-6) << c.w << "x" << c.h;
    EXPECT_NEAR(p.height, c.want.height, 1e-6) << c.w << "x" << c.h;
  }
  EXPECT_TRUE(IsLandscape(3, 2));
  EXPECT_FALSE(IsLandscape(2, 2)) << "a square slide prints in portrait";
}

TEST(PrintSave, TheMainFileOrTheRenderedSlideIsWrittenUnderItsName) {
  const std::string folder = ::testing::TempDir();
  const TRef<TBitmap> rendered = Solid(3, 2, 0xFF102030);
  auto callback = [&](TImageRequest& request) {
    request.slideIndex = 4;
    if (request.mode == kImageMainFile) {
      request.fileName = u"pictures/photo.bmp";
      request.bytes = {'B', 'M', 1, 2, 3};
      return true;
    }
    if (request.mode == kImageRendered) request.bitmap = rendered;
    return request.mode == kImageRendered;
  };
  std::u16string offered;
  TScriptedRunner runner([&](TDialog& dialog) {
    // The file name dialog: keep what it offers.
    for (const auto& item : dialog.Items())
      if (auto* edit = dynamic_cast<TDialogEdit*>(item.get())) offered = edit->Text();
    dialog.KeyDown(kDialogKeyEnter);
  });
  TPrintServices services;
  services.runner = &runner;
  services.defaultFolder = folder;
  TKivPrintDialog dialog(*Project("CanRestore=1"), callback, services);
  dialog.Save();
  EXPECT_EQ(offered, Utf8ToUtf16(folder) + (folder.back() == '/' ? u"" : u"/") + u"Slide5.bmp");
  ASSERT_FALSE(dialog.Written().empty());
  std::ifstream in(dialog.Written(), std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), 54u + 2 * 12) << "a 24-bit BMP, rows padded to 4 bytes";
  EXPECT_EQ(bytes[54], 0x30) << "blue first";
  EXPECT_EQ(bytes[56], 0x10);

  dialog.OnlyMainImage().SetChecked(true);
  dialog.Save();
  EXPECT_TRUE(offered.ends_with(u"/photo.bmp")) << "the main picture keeps its name";
}

// A printer that keeps what it was sent.
class TRecordingPrinters final : public TPrinterList {
public:
  std::vector<std::u16string> Names() override { return {u"desk"}; }
  bool PrintFile(const std::u16string&, const std::string& pdf, bool turned) override {
    path = pdf;
    std::ifstream in(pdf, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    landscape = turned;
    return true;
  }
  std::string path;
  std::string bytes;
  bool landscape = false;
};

TEST(PrintJob, ThePageGoesThroughAFolderOfItsOwnAndNothingIsLeft) {
  namespace fs = std::filesystem;
  // A link planted where a fixed name would have been written.
  const fs::path tmp = fs::temp_directory_path();
  const fs::path victim = tmp / "victim.txt";
  std::ofstream(victim) << "keep";
  std::error_code ec;
  fs::remove(tmp / "kivviewer-print.pdf", ec);
  fs::create_symlink(victim, tmp / "kivviewer-print.pdf");

  const TRef<TBitmap> rendered = Solid(30, 20, 0xFF336699);
  auto callback = [&](TImageRequest& request) {
    if (request.mode == kImageRendered) request.bitmap = rendered;
    return static_cast<bool>(request.bitmap);
  };
  TRecordingPrinters printers;
  TPrintServices services;
  services.printers = &printers;
  TKivPrintDialog dialog(*Project(""), callback, services);
  dialog.SetPrinter(u"desk");
  dialog.Print();
  ASSERT_FALSE(printers.path.empty());
  EXPECT_EQ(printers.bytes.substr(0, 5), "%PDF-");
  EXPECT_TRUE(printers.landscape);
  EXPECT_NE(fs::path(printers.path).parent_path(), tmp) << printers.path;
  EXPECT_FALSE(fs::exists(fs::path(printers.path).parent_path())) << "the job's folder goes with it";
  std::ifstream in(victim);
  const std::string kept((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(kept, "keep");
  fs::remove(tmp / "kivviewer-print.pdf", ec);
}

TEST(PrintSave, FilesGoToTheUsersPicturesFolder) {
  namespace fs = std::filesystem;
  const fs::path home = fs::path(::testing::TempDir()) / "pictures-home";
  fs::remove_all(home);
  fs::create_directories(home / ".config");
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(XdgPicturesFolder(), home.string()) << "no folder named: home";
  fs::create_directories(home / "Pictures");
  EXPECT_EQ(XdgPicturesFolder(), (home / "Pictures").string());
  std::ofstream(home / ".config" / "user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                                        "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  EXPECT_EQ(XdgPicturesFolder(), (home / "Bilder").string());
}

} // namespace
} // namespace kiv
