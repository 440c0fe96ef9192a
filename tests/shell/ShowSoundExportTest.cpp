// kivviewer -export OUT.wav on shows packed with kivpack whose music and comments are real files: each
// sound begins at its show time, fades in over 10 ms, and the file is as long as asked.

#include "../audio/ChannelTestSupport.h"
#include "ShowTestSupport.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using namespace kiv::testing_support;

// Three slides of one second. The main music (level 1000, 2.5 s) plays in step from 0; the second slide
// has a comment of level 8000 cut to 500 ms, the third an Ogg Vorbis comment cut to 400 ms.
constexpr const char* kProject = R"([main]
opt_scr_width=320
opt_scr_height=240
opt_slidescount=3
opt_repeat=close
opt_synchpos1=1000
opt_synchpos2=2000
opt_synchpos3=3000
opt_syncmode=1
opt_usemusic=1
opt_repeatmusic=0
opt_music_count=1
opt_music1=music.wav
opt_lengthlist1=2500
[Slide1]
[Slide2]
Sound=comment.wav
SoundLength=500
[Slide3]
Sound=bell.oga
SoundLength=400
)";

// The same sounds described in the current form: a track of two items, the first (1.5 s, faded out over
// its last 100 ms) from 0, the second linked to the third slide; the second slide's comment object.
constexpr const char* kCurrentFormProject = R"([main]
opt_scr_width=320
opt_scr_height=240
opt_slidescount=3
opt_repeat=close
opt_synchpos1=1000
opt_synchpos2=2000
opt_synchpos3=3000
opt_syncmode=1
object Music: Music
  object T: TMusicTrack
    object I: TMusicItem
GUID={A}
FileName=music.wav
Duration=1500
FadeOut=100
    end
    object I: TMusicItem
GUID={B}
FileName=bell.oga
Duration=400
    end
  end
end
[Slide1]
[Slide2]
object Music: Music
  object C: TSoundComment
FileName=comment.wav
Duration=150
  end
end
[Slide3]
LinkedAudio={B}
)";

constexpr double kFramesPerMs = 44.1;

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The left samples of a 16-bit stereo 44.1 kHz PCM WAV file; empty when it is not one.
std::vector<int> LeftSamples(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4))
    return {};
  auto u16 = [&](size_t at) { return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  std::vector<int> left;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint32_t size = u32(at + 4);
    if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0) {
      if (u16(at + 8) != 1 || u16(at + 10) != 2 || u32(at + 12) != 44100 || u16(at + 22) != 16) return {};
    } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
      for (size_t i = at + 8; i + 4 <= std::min<size_t>(bytes.size(), at + 8 + size); i += 4)
        left.push_back(static_cast<int16_t>(u16(i)));
      return left;
    }
    at += 8 + size + (size & 1);
  }
  return {};
}

// The first frame at or after `from` whose level reaches `level`; -1 when none does.
int64_t FirstAtLeast(const std::vector<int>& left, int level, int64_t from = 0) {
  for (int64_t i = std::max<int64_t>(0, from); i < static_cast<int64_t>(left.size()); ++i)
    if (std::abs(left[static_cast<size_t>(i)]) >= level) return i;
  return -1;
}

double Ms(int64_t frame) {
  return static_cast<double>(frame) / kFramesPerMs;
}

class ShowSoundExport : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    root_ = kivtest::FreshTempDir("show_sound_export");
    const fs::path show = root_ / "show";
    fs::create_directories(show);
    WriteProjectText(show / "Project.kiv", kProject);
    WriteBytes(show / "music.wav", channeltest::DcWave(2500, 1000));
    WriteBytes(show / "comment.wav", channeltest::DcWave(700, 8000));
    fs::copy_file(fs::path(KIV_TEST_MEDIA) / "audio/ogg-vorbis/bell.oga", show / "bell.oga");
    packed_ = PackShow(show, Show());
    const fs::path current = root_ / "current";
    fs::create_directories(current);
    WriteProjectText(current / "Project.kiv", kCurrentFormProject);
    for (const char* file : {"music.wav", "comment.wav", "bell.oga"})
      fs::copy_file(show / file, current / file);
    packed_ = packed_ && PackShow(current, CurrentFormShow());
  }
  static std::string Show() { return (root_ / "sound.KvShow").string(); }
  static std::string CurrentFormShow() { return (root_ / "current.KvShow").string(); }

  void SetUp() override {
    ASSERT_TRUE(packed_);
    dir_ = kivtest::FreshTempDir("show_sound_export_case");
  }

  // Exports the sound between the show times (negative: the default) and returns the printed line.
  std::string Export(const fs::path& out, double from, double to, int& code,
                     const std::string& show = Show()) {
    std::string args = "-export '" + out.string() + "'";
    if (from >= 0) args += " -from " + std::to_string(static_cast<int>(from));
    if (to >= 0) args += " -to " + std::to_string(static_cast<int>(to));
    return kivtest::CommandOutput(
        "env -u DISPLAY -u WAYLAND_DISPLAY '" KIVVIEWER_PATH "' " + args + " '" + show + "' 2>&1", code);
  }

  static inline fs::path root_;
  static inline bool packed_ = false;
  fs::path dir_;
};

TEST_F(ShowSoundExport, EverySoundStartsAtItsShowTimeWithATenMillisecondFade) {
  const fs::path out = dir_ / "whole.wav";
  int code = -1;
  const std::string printed = Export(out, -1, -1, code);
  ASSERT_EQ(code, 0) << printed;
  EXPECT_EQ(printed, "exported: " + out.string() + " (3000 ms)\n");
  const std::vector<int> left = LeftSamples(out);
  ASSERT_EQ(left.size(), 3000 * 441 / 10) << "the standard format, as long as one pass of the show";

  const struct {
    const char* what;
    double due;  // show time the sound begins
    int before;  // the level before it
    int full;    // the level once it has faded in
  } sounds[] = {{"main music", 0, 0, 1000}, {"comment", 1000, 1000, 9000}};
  for (const auto& s : sounds) {
    const int64_t searchFrom = static_cast<int64_t>((s.due - 50) * kFramesPerMs);
    const int step = s.full - s.before;
    const int64_t onset = FirstAtLeast(left, s.before + step / 20 + 1, searchFrom);
    const int64_t full = FirstAtLeast(left, s.full - step / 20, searchFrom);
    ASSERT_GE(onset, 0) << s.what;
    EXPECT_NEAR(Ms(onset), s.due, 5.0) << s.what << " begins at its time";
    EXPECT_NEAR(Ms(full - onset), 10.0 * 0.9, 1.5) << s.what << " fades in over 10 ms";
    EXPECT_NEAR(left[static_cast<size_t>(full + 441)], s.full, s.full / 50) << s.what;
  }
  // The comment is cut after its 500 ms; the Ogg comment of the last slide sounds in its own 400 ms.
  EXPECT_NEAR(left[static_cast<size_t>(1700 * kFramesPerMs)], 1000, 20);
  int loudest = 0;
  for (int64_t i = static_cast<int64_t>(2005 * kFramesPerMs); i < static_cast<int64_t>(2350 * kFramesPerMs); ++i)
    loudest = std::max(loudest, std::abs(left[static_cast<size_t>(i)] - 1000));
  EXPECT_GT(loudest, 2000) << "the bell rings";
  // Nothing sounds once the music has ended (2.5 s) and the bell was cut (2.4 s).
  EXPECT_LT(FirstAtLeast(left, 1, static_cast<int64_t>(2600 * kFramesPerMs)), 0);
}

TEST_F(ShowSoundExport, AStretchBeginsWithWhatPlaysAtItsFirstTime) {
  const fs::path out = dir_ / "stretch.wav";
  int code = -1;
  const std::string printed = Export(out, 1200, 1400, code);
  ASSERT_EQ(code, 0) << printed;
  EXPECT_EQ(printed, "exported: " + out.string() + " (200 ms)\n");
  const std::vector<int> left = LeftSamples(out);
  ASSERT_EQ(left.size(), 200 * 441 / 10);
  // Music and comment both sound from the first milliseconds, faded in from where they stood.
  const int64_t full = FirstAtLeast(left, 8900);
  ASSERT_GE(full, 0);
  EXPECT_LE(Ms(full), 10.0 + 1.5);
  EXPECT_NEAR(left[left.size() - 1], 9000, 100);
}

TEST_F(ShowSoundExport, TheCurrentFormPlaysItsTrackItsLinkedItemAndItsComment) {
  const fs::path out = dir_ / "current.wav";
  int code = -1;
  const std::string printed = Export(out, -1, -1, code, CurrentFormShow());
  ASSERT_EQ(code, 0) << printed;
  EXPECT_EQ(printed, "exported: " + out.string() + " (3000 ms)\n");
  const std::vector<int> left = LeftSamples(out);
  ASSERT_EQ(left.size(), 3000 * 441 / 10);
  auto at = [&](double ms) { return left[static_cast<size_t>(ms * kFramesPerMs)]; };

  EXPECT_NEAR(Ms(FirstAtLeast(left, 51)), 0, 5) << "the track begins with the show";
  EXPECT_NEAR(at(500), 1000, 20);
  // The comment sounds from its slide's start for its 150 ms over the music.
  const int64_t comment = FirstAtLeast(left, 1000 + 8000 / 20 + 1, static_cast<int64_t>(900 * kFramesPerMs));
  EXPECT_NEAR(Ms(comment), 1000, 5);
  EXPECT_NEAR(at(1100), 9000, 180);
  EXPECT_NEAR(at(1300), 1000, 20) << "the comment ended";
  // The item's own fade-out over its last 100 ms, then silence until the linked item.
  EXPECT_NEAR(at(1450), 500, 60);
  const int64_t bell = FirstAtLeast(left, 1, static_cast<int64_t>(1520 * kFramesPerMs));
  ASSERT_GE(bell, 0) << "the linked item sounds";
  EXPECT_NEAR(Ms(bell), 2000, 5) << "at its slide's start";
}

} // namespace
} // namespace kiv
