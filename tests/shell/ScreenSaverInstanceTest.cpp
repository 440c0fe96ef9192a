// One screen saver at a time: the lock named after the program is held by the first instance only, and
// free again once it ends; programs at other paths do not share it.

#include "ScreenSaverInstance.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(ScreenSaverInstance, TheFirstInstanceHoldsTheLockUntilItEnds) {
  const std::string folder = kivtest::FreshTempDir("instances").string();
  const std::string name = InstanceName("/opt/shows/Trip.scr");
  {
    TInstanceLock first(folder, name);
    EXPECT_TRUE(first.Held());
    TInstanceLock second(folder, name);
    EXPECT_FALSE(second.Held()) << "a second instance of the same program";
    TInstanceLock other(folder, InstanceName("/opt/shows/Other.scr"));
    EXPECT_TRUE(other.Held()) << "another program";
  }
  TInstanceLock later(folder, name);
  EXPECT_TRUE(later.Held()) << "free once the first ended";
}

TEST(ScreenSaverInstance, NamesCarryTheHashesOfPathFolderAndFile) {
  // The classic ELF hash values.
  EXPECT_EQ(ElfHash(""), 0u);
  EXPECT_EQ(ElfHash("printf"), 0x077905A6u);
  const std::string name = InstanceName("/a/b.scr");
  EXPECT_EQ(name, "Instance_ID" + std::to_string(ElfHash("/a/b.scr")) + std::to_string(ElfHash("/a")) +
                      std::to_string(ElfHash("b.scr")) + "b.scr");
  EXPECT_NE(InstanceName("/a/b.scr"), InstanceName("/c/b.scr"));
}

} // namespace
} // namespace kiv
