// kivpack mix as an author or a test runs it: composites of real files sound as the document says
// (members at their places, cut, shaped by their envelopes and the whole by its own) against a reference
// mixed by ffmpeg from the same files; a part of the time line; the end the channel reports; the one-line
// form; failures that leave nothing behind.

#include "SoundComparison.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace kiv;
using namespace kivtest;

namespace fs = std::filesystem;

namespace {

const std::string kKivpack = std::string(KIV_BINARY_DIR) + "/tools/kivpack/kivpack";

std::string Media(const std::string& relative) {
  return std::string(KIV_TEST_MEDIA) + "/" + relative;
}

struct TRun {
  int code = -1;
  std::string out;
  std::string err;
};

TRun Kivpack(const std::string& args) {
  TRun run;
  const fs::path errors = FreshTempDir("kivpack-stderr") / "stderr.txt";
  run.out = CommandOutput(kKivpack + " " + args + " 2>" + ShellQuote(errors.string()), run.code);
  std::vector<uint8_t> bytes;
  if (ReadWholeFile(errors.string(), bytes)) run.err.assign(bytes.begin(), bytes.end());
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

TSamples ReadStandardWave(const fs::path& path) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ReadWholeFile(path.string(), bytes));
  if (bytes.size() < 44) return {};
  static const uint8_t kFormat[] = {'W', 'A', 'V', 'E', 'f', 'm',  't',  ' ', 16,  0,    0,
                                    0,   1,   0,   2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1,
                                    2,   0,   4,   0,   16,  0,    'd',  'a', 't', 'a'};
  EXPECT_EQ(std::memcmp(bytes.data() + 8, kFormat, sizeof(kFormat)), 0)
      << "PCM, 2 channels, 44100 Hz, 16 bits";
  return SamplesOf(std::string(bytes.begin() + 44, bytes.end()));
}

int64_t FramesOfMs(int64_t ms) {
  return ms * 441 / 10;
}

// A member as the test describes it to both kivpack and ffmpeg. Times in ms.
struct TMember {
  std::string file; // relative to the document
  int64_t timeLine, begin, duration;
  std::string points; // the envelope's point sections, "" for none
  std::string gain;   // the same envelope as an ffmpeg expression of t (s), "1" for none
  bool mono = false;  // the file has one channel
};

struct TComposite {
  int64_t duration;
  std::vector<TMember> members;
  std::string mainPoints; // the whole's envelope sections, "" for none
  std::string mainGain;   // as an ffmpeg expression of t, "1" for none
};

std::string Document(const TComposite& c) {
  std::ostringstream out;
  out << "; written as an author would\r\n[Main]\r\nDuration=" << c.duration << "\r\n";
  for (size_t i = 0; i < c.members.size(); ++i) {
    const TMember& m = c.members[i];
    out << "\r\n[" << i << "]\r\nFileName=" << m.file << "\r\nTimeLine=" << m.timeLine
        << "\r\nBeginTime=" << m.begin << "\r\nDuration=" << m.duration << "\r\n";
    if (!m.points.empty()) out << "FadeCount=1\r\n" << m.points;
  }
  if (!c.mainPoints.empty()) out << "\r\n[MainVolume]\r\nFadeCount=1\r\n" << c.mainPoints;
  return out.str();
}

// ffmpeg's mix of the same members: each cut, faded in and out over 10 ms, shaped and delayed, summed
// without scaling, then the whole shaped; `frames` frames from the start.
TSamples Reference(const fs::path& folder, const TComposite& c, int64_t frames) {
  std::string inputs, graph, mix;
  for (size_t i = 0; i < c.members.size(); ++i) {
    const TMember& m = c.members[i];
    const double d = m.duration / 1000.0;
    inputs += " -i " + ShellQuote((folder / m.file).string());
    graph += "[" + std::to_string(i) + ":a]" + (m.mono ? "pan=stereo|c0=c0|c1=c0," : "") +
             "aformat=sample_fmts=dbl,atrim=start=" + std::to_string(m.begin / 1000.0) +
             ":duration=" + std::to_string(d) +
             ",asetpts=PTS-STARTPTS,aeval=exprs='val(ch)*max(0,min(min(1,t/0.01),(" + std::to_string(d) +
             "-t)/0.01))*(" + m.gain + ")':c=same,adelay=" + std::to_string(m.timeLine) + ":all=1[m" +
             std::to_string(i) + "];";
    mix += "[m" + std::to_string(i) + "]";
  }
  graph += mix + "amix=inputs=" + std::to_string(c.members.size()) +
           ":normalize=0:duration=longest,aeval=exprs='val(ch)*(" + c.mainGain +
           ")':c=same,apad=whole_len=" + std::to_string(frames) +
           ",atrim=end_sample=" + std::to_string(frames);
  int code = -1;
  const std::string out =
      CommandOutput("ffmpeg -nostdin -v error" + inputs + " -filter_complex " + ShellQuote(graph) +
                        " -ar 44100 -ac 2 -f s16le -acodec pcm_s16le -",
                    code);
  return code == 0 ? SamplesOf(out) : TSamples();
}

// Frames where ours and the reference differ by more than rounding and the mixer's rule that gains within
// one percent of 1 count as 1 (for a member's envelopes and again for the whole).
int64_t Differing(const TSamples& ours, const TSamples& reference, int64_t oursFrom, int64_t referenceFrom,
                  int64_t frames, std::string& first) {
  int64_t differing = 0;
  for (int64_t f = 0; f < frames; ++f) {
    for (int c = 0; c < 2; ++c) {
      const int o = ours[size_t(2 * (oursFrom + f) + c)];
      const int r = reference[size_t(2 * (referenceFrom + f) + c)];
      if (std::abs(o - r) > 4 + 0.021 * std::abs(r)) {
        if (differing++ == 0)
          first = "frame " + std::to_string(referenceFrom + f) + ": " + std::to_string(o) + " for " +
                  std::to_string(r);
        break;
      }
    }
  }
  return differing;
}

class KivpackMix : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kKivpack)) << "kivpack is built with the tests";
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command line is not installed";
    dir_ = FreshTempDir("kivpack-mix");
    fs::create_directories(dir_ / "sub");
    fs::copy_file(Media("generated/lena_s16_stereo.wav"), dir_ / "lena.wav");
    fs::copy_file(Media("generated/lena_s16_stereo.wav"), dir_ / "sub" / "lena.wav");
    fs::copy_file(Media("audio/lena/lena.ogg"), dir_ / "lena.ogg");
  }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Two members of the same recording, overlapping, one in a sub-folder and shaped by its own envelope,
  // and the whole fading out over its last second.
  static TComposite WaveComposite() {
    TComposite c;
    c.duration = 3000;
    c.members.push_back({"lena.wav", 500, 100, 600, "", "1"});
    c.members.push_back({"sub/lena.wav", 900, 0, 1000,
                         "[Vol_1_0_0]\r\n0=0\r\n1=1000\r\n[Vol_1_0_1]\r\n0=400\r\n1=300\r\n",
                         "if(lt(t,0.4),1-0.7*t/0.4,0.3)"});
    c.mainPoints = "[Vol_MainVolume_0_0]\r\n0=2000\r\n1=1000\r\n[Vol_MainVolume_0_1]\r\n0=3000\r\n1=0\r\n";
    c.mainGain = "if(lt(t,2),1,max(0,3-t))";
    return c;
  }

  fs::path dir_;
};

TEST_F(KivpackMix, MembersSoundAtTheirPlacesCutAndShapedAsTheDocumentSays) {
  const TComposite c = WaveComposite();
  const fs::path doc = Write("music.ini", Document(c));
  const fs::path out = dir_ / "out.wav";
  const TRun run =
      Kivpack("mix " + ShellQuote(doc.string()) + " -o " + ShellQuote(out.string()) + " -length 3000");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(Lines(run.out), std::vector<std::string>{"length: 3000"});
  const TSamples ours = ReadStandardWave(out);
  ASSERT_EQ(ours.size(), size_t(2 * FramesOfMs(3000)));
  const TSamples reference = Reference(dir_, c, FramesOfMs(3000));
  ASSERT_EQ(reference.size(), ours.size());
  std::string first;
  EXPECT_EQ(Differing(ours, reference, 0, 0, FramesOfMs(3000), first), 0) << first;
  // Silence before the first member and after the second; sound in between.
  for (int64_t f : {int64_t(0), FramesOfMs(500), FramesOfMs(1900) + 1, FramesOfMs(2999)})
    EXPECT_EQ(ours[size_t(2 * f)], 0) << f;
  EXPECT_NE(ours[size_t(2 * FramesOfMs(800))], 0);
}

TEST_F(KivpackMix, APartOfTheTimeLineIsWhatTheWholeHoldsThere) {
  const TComposite c = WaveComposite();
  const fs::path doc = Write("music.ini", Document(c));
  const fs::path out = dir_ / "part.wav";
  const TRun run = Kivpack("mix " + ShellQuote(doc.string()) + " -o " + ShellQuote(out.string()) +
                           " -from 1000 -length 1500");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(Lines(run.out), std::vector<std::string>{"length: 1500"});
  const TSamples ours = ReadStandardWave(out);
  ASSERT_EQ(ours.size(), size_t(2 * FramesOfMs(1500)));
  const TSamples reference = Reference(dir_, c, FramesOfMs(3000));
  ASSERT_FALSE(reference.empty());
  // The channel fades in over its first frame.
  std::string first;
  EXPECT_EQ(Differing(ours, reference, 1, FramesOfMs(1000) + 1, FramesOfMs(1500) - 1, first), 0) << first;
}

TEST_F(KivpackMix, ALossyMemberPlaysInPlaceBesideAWaveMember) {
  TComposite c;
  c.duration = 2500;
  c.members.push_back({"lena.ogg", 1200, 300, 1000,
                       "[Vol_0_0_0]\r\n0=0\r\n1=500\r\n[Vol_0_0_1]\r\n0=1000\r\n1=1000\r\n", "0.5+0.5*t",
                       true});
  c.members.push_back({"lena.wav", 0, 0, 1000, "", "1"});
  c.mainGain = "1";
  const fs::path doc = Write("lossy.ini", Document(c));
  const fs::path out = dir_ / "lossy.wav";
  const TRun run =
      Kivpack("mix " + ShellQuote(doc.string()) + " -o " + ShellQuote(out.string()) + " -length 2500");
  ASSERT_EQ(run.code, 0) << run.err;
  const TSamples ours = ReadStandardWave(out);
  const TSamples reference = Reference(dir_, c, FramesOfMs(2500));
  ASSERT_EQ(reference.size(), ours.size());
  // The wave member matches sample for sample.
  std::string first;
  EXPECT_EQ(Differing(ours, reference, 0, 0, FramesOfMs(1100), first), 0) << first;
  // Two decoders of the same Vorbis stream: compared by correlation, allowing a frame of decoder delay.
  const auto part = [](const TSamples& all, int64_t fromMs, int64_t toMs) {
    return TSamples(all.begin() + 2 * FramesOfMs(fromMs), all.begin() + 2 * FramesOfMs(toMs));
  };
  const TSoundMatch match = BestMatch(part(ours, 1150, 2300), part(reference, 1150, 2300), 2, 2);
  EXPECT_GE(match.correlation, 0.999);
  EXPECT_LE(match.maxDifference, 400);
  for (int64_t f : {FramesOfMs(1100), FramesOfMs(2250) + 1})
    EXPECT_EQ(ours[size_t(2 * f)], 0) << f;
}

TEST_F(KivpackMix, WithoutALengthItPlaysUntilTheChannelReportsItsEnd) {
  const TComposite c = WaveComposite();
  const fs::path doc = Write("music.ini", Document(c));
  const fs::path out = dir_ / "whole.wav";
  const TRun run = Kivpack("mix " + ShellQuote(doc.string()) + " -o " + ShellQuote(out.string()));
  ASSERT_EQ(run.code, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].rfind("length: ", 0), 0u) << lines[0];
  const int64_t length = std::stoll(lines[0].substr(8));
  // After the composite's end, the queued sound (at most its two-second buffer) and 20 ms.
  EXPECT_GE(length, 3000 + 20);
  EXPECT_LE(length, 3000 + 2000 + 20 + 20);
  const TSamples ours = ReadStandardWave(out);
  ASSERT_EQ(ours.size(), size_t(2 * FramesOfMs(length)));
  for (size_t i = size_t(2 * FramesOfMs(3000)); i < ours.size(); ++i)
    ASSERT_EQ(ours[i], 0) << i / 2;
  const TSamples reference = Reference(dir_, c, FramesOfMs(3000));
  std::string first;
  EXPECT_EQ(Differing(ours, reference, 0, 0, FramesOfMs(3000), first), 0) << first;
}

TEST_F(KivpackMix, TheOneLineFormSoundsTheSame) {
  const TComposite c = WaveComposite();
  // The one-line text made from the document: "/" doubled, line breaks as "/n", behind the mark.
  std::string line = "9213AB40-17BB-458F-9C4C-1806F44BEB65";
  std::string text = Document(c);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    if (text[i] == '\n')
      line += "/n";
    else if (text[i] == '/')
      line += "//";
    else
      line += text[i];
  }
  const fs::path lineDoc = Write("line.txt", line + "\n");
  const fs::path doc = Write("music.ini", text);
  const TRun fromLine = Kivpack("mix " + ShellQuote(lineDoc.string()) + " -o " +
                                ShellQuote((dir_ / "a.wav").string()) + " -length 2000");
  const TRun fromIni = Kivpack("mix " + ShellQuote(doc.string()) + " -o " +
                               ShellQuote((dir_ / "b.wav").string()) + " -length 2000");
  ASSERT_EQ(fromLine.code, 0) << fromLine.err;
  ASSERT_EQ(fromIni.code, 0) << fromIni.err;
  std::vector<uint8_t> a, b;
  ASSERT_TRUE(ReadWholeFile((dir_ / "a.wav").string(), a));
  ASSERT_TRUE(ReadWholeFile((dir_ / "b.wav").string(), b));
  EXPECT_TRUE(a == b);
}

TEST_F(KivpackMix, FailuresExitTwoWithOneLineNamingWhatFailedAndWriteNothing) {
  TComposite missing = WaveComposite();
  missing.members[1].file = "sub/gone.wav";
  const struct {
    std::string document;
    std::string named;
  } cases[] = {
      {Write("missing.ini", Document(missing)).string(), "sub/gone.wav"},
      {(dir_ / "absent.ini").string(), "absent.ini"},
      {Write("empty.ini", "[Main]\r\nDuration=1000\r\n").string(), "empty.ini"},
      {Write("short.ini", "[Main]\r\nDuration=0\r\n[0]\r\nFileName=lena.wav\r\n").string(), "short.ini"},
  };
  for (const auto& c : cases) {
    const fs::path out = dir_ / "failed.wav";
    const TRun run = Kivpack("mix " + ShellQuote(c.document) + " -o " + ShellQuote(out.string()));
    EXPECT_EQ(run.code, 2) << c.document;
    EXPECT_EQ(run.out, "");
    const std::vector<std::string> lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_NE(lines[0].find(c.named), std::string::npos) << lines[0];
    EXPECT_FALSE(fs::exists(out));
  }
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().extension() == ".wav" && entry.path().filename() != "lena.wav", false)
        << entry.path();
}

TEST_F(KivpackMix, UsageErrorsExitOne) {
  const fs::path doc = Write("music.ini", Document(WaveComposite()));
  const std::string d = ShellQuote(doc.string()), o = ShellQuote((dir_ / "x.wav").string());
  const std::string cases[] = {"",
                               d,
                               d + " -o",
                               "-o " + o,
                               d + " -o " + o + " -from",
                               d + " -o " + o + " -from x",
                               d + " -o " + o + " -from -5",
                               d + " -o " + o + " -length 0",
                               d + " " + d + " -o " + o,
                               d + " -o " + o + " -loud"};
  for (const std::string& args : cases) {
    const TRun run = Kivpack("mix " + args);
    EXPECT_EQ(run.code, 1) << args;
    EXPECT_FALSE(fs::exists(dir_ / "x.wav")) << args;
  }
}

} // namespace
