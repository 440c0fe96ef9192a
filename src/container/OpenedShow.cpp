#include "OpenedShow.h"

#include "Assert.h"
#include "CaseFolding.h"
#include "ShowPaths.h"
#include "Utf8Conversion.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace kiv {
namespace {

std::mutex gReplaceLock;
TReplacePair gReplacePair;
std::atomic<bool> gStartupWindowMode{false};

// opt_customdialogscount comes from the show; a huge value must not keep the start-up conversion busy.
constexpr int kMaxCustomDialogs = 1000;

TIniSection* CopySection(TIniFile& doc, const TIniSection& section, std::u16string_view name) {
  auto* copy = static_cast<TIniSection*>(section.Clone(doc));
  copy->SetName(name);
  return copy;
}

} // namespace

TKivShowLocator::TKivShowLocator(TRef<TFileAccessor> accessor, std::u16string projectFileName)
    : accessor_(std::move(accessor)), projectFileName_(std::move(projectFileName)) {
  if (TOwned<TStream> stream = Open(*accessor_, projectFileName_)) {
    auto document = std::make_unique<TIniFile>();
    if (document->LoadFromStream(*stream)) project_ = std::move(document);
  }
  if (!project_) return;
  kivVersion_ = project_->ReadString(u"Main", u"KivVersion", u"");
  if (auto* mapped = dynamic_cast<TMappedFileSource*>(&accessor_->Source())) {
    std::lock_guard lock(mapped->Lock());
    mapped->LoadMaps(*project_);
  }
}

std::unique_ptr<TKivShowLocator> OpenPackedShow(const std::string& fileName, std::string& message) {
  message.clear();
  if (const std::string project = ReplacementProject(fileName); !project.empty())
    return OpenProjectFile(project);
  TOwned<TKivUnpack> unpack;
  try {
    unpack = MakeOwned<TKivUnpack>(fileName);
  } catch (const std::exception&) {
    message = "Slide-show File Damaged"; // structure block that does not inflate
    return nullptr;
  }
  if (!unpack->IsOpen()) {
    message = unpack->Message();
    return nullptr;
  }
  const std::string folder = ExtractFilePath(fileName);
  auto source = TRef<TPackedFileSource>::Make(std::move(unpack), folder);
  auto accessor = TRef<TFileAccessor>::Make(TRef<TFileSource>(source), folder);
  if (StartupWindowMode()) accessor->SetStreamFilter(StartupWindowFilter(std::u16string(kPackedProjectName)));
  auto locator = std::make_unique<TKivShowLocator>(accessor, std::u16string(kPackedProjectName));
  if (!locator->Project()) {
    message = "Executable SlideShow Open Error";
    return nullptr;
  }
  return locator;
}

std::unique_ptr<TKivShowLocator> OpenProjectFile(const std::string& fileName) {
  // A relative name means the working folder now; made absolute, the project's folder stays its own
  // whatever folder the program works in later.
  std::string local = ToLocalPath(fileName);
  if (!local.empty() && local.front() != '/' && !HasDriveLetter(local)) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(local, error);
    if (!error) local = absolute.lexically_normal().string();
  }
  const std::string projectFolder = ExtractFilePath(local);
  const std::u16string name = Utf8ToUtf16(local);
  auto source = TRef<TMappedFileSource>::Make(projectFolder);
  auto accessor = TRef<TFileAccessor>::Make(TRef<TFileSource>(source), projectFolder);
  if (StartupWindowMode()) accessor->SetStreamFilter(StartupWindowFilter(name));
  auto locator = std::make_unique<TKivShowLocator>(accessor, name);
  if (!locator->Project()) return nullptr;
  // Names in the project are relative to the program the author built, a relative program name to the
  // project; without one, to the project itself. Never to whatever folder the program happens to run in.
  const std::string exeName = Utf16ToUtf8(locator->Project()->ReadString(u"main", u"opt_exefn", u""));
  accessor->SetShowFolder(exeName.empty()
                              ? projectFolder
                              : ExtractFilePath(ToLocalPath(ExpandRelativeName(projectFolder, exeName))));
  return locator;
}

TReplacePair ReplacePair() {
  std::lock_guard lock(gReplaceLock);
  return gReplacePair;
}

void SetReplacePair(TReplacePair pair) {
  std::lock_guard lock(gReplaceLock);
  gReplacePair = std::move(pair);
}

std::string ReplacementProject(const std::string& fileName) {
  const TReplacePair pair = ReplacePair();
  if (pair.projectFile.empty() ||
      !SameText(Utf8ToUtf16(ToLocalPath(fileName)), Utf8ToUtf16(ToLocalPath(pair.exeName))))
    return {};
  return pair.projectFile;
}

void SetStartupWindowMode(bool enabled) {
  gStartupWindowMode = enabled;
}

bool StartupWindowMode() {
  return gStartupWindowMode;
}

std::unique_ptr<TIniFile> MakeStartupProject(const TIniStorage& project) {
  const TIniSection* main = project.FindSection(u"main");
  const TIniSection* startup = project.FindSection(u"dialog_startup");
  if (!main || !startup) return nullptr;

  auto doc = std::make_unique<TIniFile>();
  TIniSection* newMain = CopySection(*doc, *main, u"main");
  CopySection(*doc, *startup, u"slide1");
  for (std::u16string_view name : {u"FileMap", u"dialog_help"})
    if (const TIniSection* section = project.FindSection(name))
      CopySection(*doc, *section, section->NameView());
  const int dialogCount = std::clamp(main->ReadInteger(u"opt_customdialogscount", 0), 0, kMaxCustomDialogs);
  std::vector<int> copiedDialogs;
  for (int n = 1; n <= dialogCount; ++n) {
    const std::u16string name = u"dialog_" + Utf8ToUtf16(std::to_string(n)) + u"_";
    if (const TIniSection* section = project.FindSection(name)) {
      CopySection(*doc, *section, section->NameView());
      copiedDialogs.push_back(n);
    }
  }

  auto put = [&](std::u16string_view key, std::u16string_view value) { newMain->WriteString(key, value); };
  auto putInt = [&](std::u16string_view key, int value) { put(key, Utf8ToUtf16(std::to_string(value))); };
  put(u"opt_fcp", u"0");
  put(u"opt_repeat", u"stop");
  put(u"opt_scr_full", u"0");
  put(u"opt_scr_fullfixedsize", u"0");
  putInt(u"opt_scr_width", main->ReadInteger(u"opt_startupwidth", 640));
  putInt(u"opt_scr_height", main->ReadInteger(u"opt_startupheight", 480));
  put(u"opt_scr_caption", main->ReadString(u"stw_caption", u"Startup Window"));
  putInt(u"opt_hidecursor", 0);
  putInt(u"opt_synch_count", 0);
  putInt(u"opt_synchpos1", 1000);
  putInt(u"opt_synch_pointscount", 1);
  putInt(u"opt_slidescount", 1);
  put(u"opt_fx_enable", u"0");
  putInt(u"opt_fx_neweffectscount", 0);
  putInt(u"opt_runapponexit", 0);
  put(u"opt_runapponexitiflastslide", u"1");
  put(u"opt_runapponexitfn", u"");
  put(u"opt_usepass", u"0");
  put(u"opt_logo", u"0");
  put(u"opt_lockf1", main->ReadBool(u"opt_lockf1", true) ? u"1" : u"0");
  put(u"opt_customdialogscount", main->ReadString(u"opt_customdialogscount", u""));
  for (int n : copiedDialogs) {
    const std::u16string key = u"custom_dialog" + Utf8ToUtf16(std::to_string(n));
    put(key, main->ReadString(key, u"NotFound"));
  }

  // The start-up window plays no music.
  for (TIniObject* object = newMain->FirstObject(); object; object = newMain->NextObject(object))
    if (SameText(object->NameView(), u"music")) {
      newMain->DeleteChild(object);
      break;
    }
  return doc;
}

TStreamFilter StartupWindowFilter(std::u16string projectName) {
  return [projectName = std::move(projectName)](std::u16string_view name, TOwned<TStream>& stream) {
    if (!stream || name != projectName) return;
    TIniFile project;
    const bool loaded = project.LoadFromStream(*stream);
    stream->SetPosition(0);
    if (!loaded) return;
    std::unique_ptr<TIniFile> startup = MakeStartupProject(project);
    if (!startup) return;
    auto memory = MakeOwned<TMemoryStream>();
    if (!startup->SaveToStream(*memory)) return;
    memory->SetPosition(0);
    stream = std::move(memory);
  };
}

} // namespace kiv
