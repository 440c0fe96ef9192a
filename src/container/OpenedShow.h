#pragma once
// One open show: its file accessor, its project document and what the program reads from it first.
// Also the conversion of a project into its start-up window, and the process-wide names under which a
// project on disk stands in for the program it was authored for.

#include "IniDocument.h"
#include "ShowFileAccess.h"
#include "ObjectBase.h"

#include <memory>
#include <string>

namespace kiv {

inline constexpr std::u16string_view kPackedProjectName = u"Project.kiv";

class TKivShowLocator : public TObj {
public:
  // Reads the project through the accessor; see Project() for whether that worked. For mapped and
  // packed sources the file map and rotation map are loaded from it.
  TKivShowLocator(TRef<TFileAccessor> accessor, std::u16string projectFileName);

  TFileAccessor& Accessor() const noexcept { return *accessor_; }
  const TRef<TFileAccessor>& AccessorRef() const noexcept { return accessor_; }
  // nullptr when the document could not be read.
  const TIniFile* Project() const noexcept { return project_.get(); }
  // The same document for the show options, which may rewrite some keys of it.
  TIniFile* EditableProject() noexcept { return project_.get(); }
  const std::u16string& ProjectFileName() const noexcept { return projectFileName_; }
  // The key KivVersion of "Main".
  const std::u16string& KivVersion() const noexcept { return kivVersion_; }

  // The show options object. It belongs to a library above this one (Options(locator) there makes it on
  // first use); the locator only keeps it, and frees it before the project it reads.
  TObj* OptionsSlot() const noexcept { return options_.get(); }
  void SetOptionsSlot(TOwned<TObj> options) { options_ = std::move(options); }

private:
  TRef<TFileAccessor> accessor_;
  std::unique_ptr<TIniFile> project_;
  std::u16string projectFileName_;
  std::u16string kivVersion_;
  TOwned<TObj> options_; // declared last: goes before the project it refers to
};

// A packed show from a file. message: the container's complaint, or "Executable SlideShow Open Error"
// when it has no readable project. A file named like the replace pair's program opens its project.
std::unique_ptr<TKivShowLocator> OpenPackedShow(const std::string& fileName, std::string& message);
// A project document on disk (its file map applies). nullptr when it cannot be read.
std::unique_ptr<TKivShowLocator> OpenProjectFile(const std::string& fileName);

// The program a project on disk was authored for, and that project: opening the program opens the project.
struct TReplacePair {
  std::string exeName;
  std::string projectFile;
};
TReplacePair ReplacePair();
void SetReplacePair(TReplacePair pair);
// The project that stands in for fileName, or "" when none does.
std::string ReplacementProject(const std::string& fileName);

// On in a process that shows a show's start-up window ("-startup"): the accessors of shows opened from
// then on turn their project into the one-slide start-up project.
void SetStartupWindowMode(bool enabled);
bool StartupWindowMode();
// The start-up project of a show's project, or nullptr when it lacks "dialog_startup" or "main".
std::unique_ptr<TIniFile> MakeStartupProject(const TIniStorage& project);
// The filter that does it for the name given (letter case counts).
TStreamFilter StartupWindowFilter(std::u16string projectName);

} // namespace kiv
