#pragma once
// Finding and opening the show to play: a packed show (the program's own file, a file named on the
// command line, a ".KvShow" file beside it, a show inside an ".app" bundle) or a project file on disk.
// Failures are reported here, in the error box.

#include "OpenedShow.h"

#include <functional>
#include <memory>
#include <string>

namespace kiv {

// Called after a show was located (the video-library hook also before a project file is opened, with
// nullptr). Installed by the program entry.
using TLocatedShowHook = std::function<void(TKivShowLocator* locator)>;
void SetExclusiveModeHook(TLocatedShowHook hook);
void SetVideoLibraryHook(TLocatedShowHook hook);

// The file that a packed-show name stands for: the bundle's "Contents/Resources/slideshow.dat" for a name
// ending in ".app" when that file exists, else the name.
std::string ApplyBundleRule(const std::string& name);

// nullptr after the failure has been shown.
std::unique_ptr<TKivShowLocator> LocateShow(const std::string& name, bool isExe);

struct TShowNames {
  std::string fileName; // the show file, or for a project file the program it was authored for
  std::string folder;   // its folder, without trailing separator
};
// For a project file authored for a program (opt_exefn), that program's name stands in for it from now
// on (the replace pair). A packed show without opt_exefn is reported and used all the same.
TShowNames ShowNames(const TKivShowLocator& locator, const std::string& name, bool isProjectFile);

} // namespace kiv
