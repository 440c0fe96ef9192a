#include "FindShow.h"

#include "ErrorBox.h"
#include "ShowPaths.h"
#include "Utf8Conversion.h"

namespace kiv {
namespace {

TLocatedShowHook gExclusiveModeHook;
TLocatedShowHook gVideoLibraryHook;

void Call(const TLocatedShowHook& hook, TKivShowLocator* locator) {
  if (hook) hook(locator);
}

} // namespace

void SetExclusiveModeHook(TLocatedShowHook hook) {
  gExclusiveModeHook = std::move(hook);
}

void SetVideoLibraryHook(TLocatedShowHook hook) {
  gVideoLibraryHook = std::move(hook);
}

std::string ApplyBundleRule(const std::string& name) {
  // The replace pair is OpenPackedShow's first question; a bundle path is only looked into otherwise.
  if (!ReplacementProject(name).empty()) return name;
  std::string bundle = name;
  while (bundle.size() > 1 && bundle.back() == '/')
    bundle.pop_back();
  if (ExtractFileExt(bundle) != ".app") return name;
  const std::string data = FindPathIgnoringCase(bundle + "/Contents/Resources/slideshow.dat");
  return FileExists(data) ? data : name;
}

std::unique_ptr<TKivShowLocator> LocateShow(const std::string& name, bool isExe) {
  if (isExe) {
    std::string message;
    const std::string second = ChangeFileExt(name, ".KvShow");
    std::unique_ptr<TKivShowLocator> locator = OpenPackedShow(ApplyBundleRule(name), message);
    if (!locator) locator = OpenPackedShow(ApplyBundleRule(second), message);
    if (!locator) {
      ErrorBox((message.empty() ? std::string("Can`t Load Show") : message) + "\r\"" + name + "\" or \"" +
               second + "\"");
      return nullptr;
    }
    Call(gExclusiveModeHook, locator.get());
    Call(gVideoLibraryHook, locator.get());
    return locator;
  }
  Call(gVideoLibraryHook, nullptr);
  const std::string local = ToLocalPath(name);
  std::unique_ptr<TKivShowLocator> locator = OpenProjectFile(local);
  if (!locator) ErrorBox("Can`t Load .kiv File\r\"" + local + "\"");
  return locator;
}

TShowNames ShowNames(const TKivShowLocator& locator, const std::string& name, bool isProjectFile) {
  TShowNames names{name, {}};
  const std::string exeName = locator.Project()
                                  ? Utf16ToUtf8(locator.Project()->ReadString(u"main", u"opt_exefn", u""))
                                  : std::string();
  if (isProjectFile && !exeName.empty()) {
    // A relative program name is the project's neighbour, not a file of the working folder.
    names.fileName = ExpandRelativeName(ExtractFilePath(Utf16ToUtf8(locator.ProjectFileName())), exeName);
    SetReplacePair({names.fileName, name});
  } else if (!isProjectFile && exeName.empty()) {
    ErrorBox("opt_exefn - Empty");
  }
  names.folder = ExtractFileDir(names.fileName);
  return names;
}

} // namespace kiv
