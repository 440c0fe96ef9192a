#pragma once
// Temporary folders for files that must lie on disk while a show plays (a decoder library stored in the
// show, for instance). Each is a new empty folder "[" + GUID + "]" under the temporary base, readable by
// this user only, and deleted with its contents when the program ends.

#include "Exceptions.h"

#include <mutex>
#include <string>
#include <vector>

namespace kiv {

// No new folder could be made under the base.
class ETempFolderError : public Exception {
public:
  using Exception::Exception;
};

class TTempManager {
public:
  // A base that cannot take new folders would make the search for an unused name go on for ever.
  static constexpr int kMaxAttempts = 64;

  // base: an existing folder (with or without a trailing "/").
  explicit TTempManager(std::string base);
  ~TTempManager(); // deletes every folder it made
  TTempManager(const TTempManager&) = delete;
  TTempManager& operator=(const TTempManager&) = delete;

  // A new empty folder, with a trailing "/" when asked. ETempFolderError after kMaxAttempts names that
  // exist already or cannot be created.
  std::string NewFolder(bool withSlash);
  const std::string& Base() const noexcept { return base_; }

private:
  std::string base_; // with trailing "/"
  std::mutex lock_;
  std::vector<std::string> created_;
};

// A GUID in its registry form without braces: "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", upper-case hex.
std::string NewGuidText();

// Deletes a folder and everything in it without following symbolic links; false when anything stayed.
bool RemoveFolderTree(const std::string& path);

// The process-wide base: $TMPDIR when it is a usable folder, else /tmp, else a folder "TEMP" made under the
// program folder, else the program folder. A base that does not exist is the assertion "Temp Path not Found".
std::string ChooseTempBase();

// A new folder under the process-wide base, deleted at program end.
std::string NewTempFolder(bool withSlash);

} // namespace kiv
