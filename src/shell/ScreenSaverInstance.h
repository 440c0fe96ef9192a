#pragma once
// A program run as a screen saver plays only when the system starts it for that ("/s" on its command
// line) and only once at a time: the first instance holds a lock named after the program's path, and a
// second one finds it taken and ends without a word.

#include <memory>
#include <string>
#include <string_view>

namespace kiv {

// The ELF hash over the low byte of each character.
uint32_t ElfHash(std::string_view text);

// The instance name: "Instance_ID" + the hashes of the program's path, its folder and its file name, in
// decimal, + the file name.
std::string InstanceName(const std::string& programPath);

class TInstanceLock {
public:
  // Takes the lock of the name in folder (the user's runtime folder in the player); Held() says whether
  // this instance got it. Released with the object.
  TInstanceLock(const std::string& folder, const std::string& name);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;
  bool Held() const noexcept { return fd_ >= 0; }

private:
  int fd_ = -1;
};

// The folder for instance locks: XDG_RUNTIME_DIR, else the temporary folder.
std::string InstanceLockFolder();

} // namespace kiv
