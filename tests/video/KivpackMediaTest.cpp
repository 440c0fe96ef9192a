// kivpack media driven as an author would: a file on disk, a file stored in a show, and a file it cannot
// describe.

#include "MediaTestSupport.h"
#include "PackedShowWriter.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace kiv;
using namespace kivtest;

namespace {

const std::string kKivpack = std::string(KIV_BINARY_DIR) + "/tools/kivpack/kivpack";

std::map<std::string, std::string> Keys(const std::string& output) {
  std::map<std::string, std::string> keys;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) keys[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return keys;
}

int ExitCode(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class KivpackMedia : public testing::Test {
protected:
  void SetUp() override {
    if (!std::filesystem::exists(kKivpack)) GTEST_SKIP() << "kivpack not built at " << kKivpack;
  }
};

TEST_F(KivpackMedia, DescribesAWaveFile) {
  bool ok = false;
  const auto keys =
      Keys(RunCommand(kKivpack + " media " + Quote(MediaPath("audio/wav-msadpcm/sample.wav")), &ok));
  ASSERT_TRUE(ok);
  EXPECT_EQ(keys.at("kind"), "audio");
  EXPECT_EQ(keys.at("format"), "2");
  EXPECT_EQ(keys.at("channels"), "1");
  EXPECT_EQ(keys.at("rate"), "22050");
  EXPECT_EQ(keys.at("bits"), "4");
  EXPECT_EQ(keys.at("offset"), "90");
  EXPECT_EQ(keys.at("size"), "121856");
  EXPECT_TRUE(keys.count("duration"));
}

TEST_F(KivpackMedia, DescribesAVideoStoredInAShow) {
  std::vector<uint8_t> clip;
  ASSERT_TRUE(ReadWholeFile(MediaPath("generated/clip_h264_aac.mp4"), clip));
  const std::filesystem::path show = ScratchDir("kivpack") / "clip.KvShow";
  {
    TFileStream out(show.string(), TFileMode::Create);
    TKivPacker packer(out);
    packer.Add(u"Project.kiv", std::span<const uint8_t>(), 0);
    packer.Add(u"media\\clip.mp4", clip, 2);
    packer.Finish(TTrailerForm::A);
  }
  bool ok = false;
  const auto keys = Keys(RunCommand(kKivpack + " media " + Quote(show.string()) + " 'media\\clip.mp4'", &ok));
  ASSERT_TRUE(ok);
  EXPECT_EQ(keys.at("kind"), "video");
  EXPECT_EQ(keys.at("codec"), "H264");
  EXPECT_EQ(keys.at("fps"), "15");
  EXPECT_EQ(keys.at("frames"), "45");
  EXPECT_EQ(keys.at("width"), "320");
  EXPECT_EQ(keys.at("height"), "240");
  EXPECT_EQ(keys.at("aspect"), "4:3");
  EXPECT_EQ(keys.at("interlaced"), "no");
  EXPECT_EQ(keys.at("duration"), "3000");
  EXPECT_EQ(ExitCode(kKivpack + " media " + Quote(show.string()) + " missing.mp4"), 2);
}

TEST_F(KivpackMedia, UndescribableFileExitsTwo) {
  const std::filesystem::path junk = ScratchDir("kivpack") / "junk.bin";
  {
    TFileStream out(junk.string(), TFileMode::Create);
    const std::string text = "not a sound at all";
    out.WriteBuffer(text.data(), int64_t(text.size()));
  }
  EXPECT_EQ(ExitCode(kKivpack + " media " + Quote(junk.string())), 2);
  EXPECT_EQ(ExitCode(kKivpack + " media /nonexistent/file.wav"), 2);
  EXPECT_EQ(ExitCode(kKivpack + " media"), 1);
}

} // namespace
