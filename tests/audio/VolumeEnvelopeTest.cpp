// Volume envelopes: compiled segments (byte positions, steps per frame, flat and last points), the gain
// at a position and while stepping, lists with the automatic de-click envelope, and reading envelopes from
// a composite document.

#include "VolumeEnvelope.h"
#include "IniLineText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

TEST(VolumeEnvelope, BytePositionsAreWholeFramesOfTheStandardFormatRoundedDown) {
  const std::pair<int64_t, int64_t> cases[] = {
      {0, 0}, {1, 44 * 4}, {3, 132 * 4}, {10, 441 * 4}, {1000, 44100 * 4}, {-1, -45 * 4}, {-10, -441 * 4}};
  for (const auto& [ms, bytes] : cases)
    EXPECT_EQ(StandardBytesAt(ms), bytes) << ms;
}

struct TSegmentCase {
  const char* name;
  std::vector<TVolumeItem> points;
  int64_t duration;
  std::vector<TVolumeItem2> expected; // position, step, flat, last, gain
};

TEST(VolumeEnvelope, CompiledSegmentsHoldPositionsStepsAndFlatAndLastPoints) {
  const double perFrame = 1.0 / 441; // 1000 thousandths over 10 ms
  const TSegmentCase cases[] = {
      {"no points: unity up to the duration", {}, 1000, {{176400, 0, true, true, 1.0}}},
      {"a 10 ms rise, then flat to the end",
       {{0, 0}, {10, 1000}},
       100,
       {{0, 0, true, false, 0.0}, {1764, perFrame, false, false, 1.0}, {17640, 0, true, true, 1.0}}},
      {"points out of order are sorted",
       {{200, 250}, {0, 1000}},
       400,
       {{0, 0, true, false, 1.0}, {35280, -0.75 / 8820, false, false, 0.25}, {70560, 0, true, true, 0.25}}},
      {"of two points at the same time the later counts",
       {{100, 500}, {100, 800}},
       200,
       {{17640, 0, true, false, 0.8}, {35280, 0, true, true, 0.8}}},
      {"a point at the duration is replaced by the end point of the same volume",
       {{0, 1000}, {50, 400}},
       50,
       {{0, 0, true, false, 1.0}, {8820, -0.6 / 2205, false, true, 0.4}}},
  };
  for (const TSegmentCase& c : cases) {
    TVolumeParams envelope;
    for (const TVolumeItem& p : c.points)
      envelope.AddPoint(p.time, p.volume);
    envelope.Compile(c.duration);
    const auto& segments = envelope.Segments();
    ASSERT_EQ(segments.size(), c.expected.size()) << c.name;
    for (size_t i = 0; i < segments.size(); ++i) {
      EXPECT_EQ(segments[i].position, c.expected[i].position) << c.name << " point " << i;
      EXPECT_NEAR(segments[i].step, c.expected[i].step, 1e-12) << c.name << " point " << i;
      EXPECT_EQ(segments[i].flat, c.expected[i].flat) << c.name << " point " << i;
      EXPECT_EQ(segments[i].last, c.expected[i].last) << c.name << " point " << i;
      EXPECT_DOUBLE_EQ(segments[i].gain, c.expected[i].gain) << c.name << " point " << i;
    }
  }
}

TEST(VolumeEnvelope, SetPositionGivesTheGainOnTheSegmentBeforeTheStartAndBeyondTheEnd) {
  TVolumeParams envelope;
  envelope.AddPoint(100, 200);
  envelope.AddPoint(200, 1000);
  envelope.Compile(300);
  // From 17640 to 35280 bytes the gain rises from 0.2 to 1.0 over 4410 frames.
  const std::pair<int64_t, double> cases[] = {
      {-4, 0.2},
      {0, 0.2},
      {17640, 0.2},
      {17640 + 4 * 2205, 0.6},
      {35280 - 4, 1.0 - 0.8 / 4410},
      {35280, 1},
      {40000, 1},
      {52920, 1},
      {999999, 1},
  };
  for (const auto& [bytes, gain] : cases) {
    envelope.SetPosition(bytes);
    EXPECT_NEAR(envelope.Gain(), gain, 1e-12) << bytes;
  }
}

TEST(VolumeEnvelope, SteppingFrameByFrameFollowsTheLineAndFinishesBeyondTheLastPoint) {
  TVolumeParamsList list(false);
  TVolumeParams& envelope = list.Add();
  envelope.AddPoint(0, 1000);
  envelope.AddPoint(20, 0);
  list.Compile(40);
  // The list steps a frame before the first position it reports, as the mixer does.
  list.SetPosition(-4);
  const int64_t end = StandardBytesAt(40);
  for (int64_t bytes = 0; bytes <= end + 8; bytes += 4) {
    const bool finished = list.Step(bytes);
    EXPECT_EQ(finished, bytes > end) << bytes;
    if (finished) continue;
    const double frame = double(bytes / 4);
    const double expected = frame < 882 ? 1.0 - frame / 882 : 0.0;
    bool unity = false;
    const double gain = list.GetGain(unity);
    if (!unity) {
      EXPECT_NEAR(gain, expected, 1e-9) << bytes;
    }
    EXPECT_EQ(unity, expected > 0.99) << bytes;
  }
}

TEST(VolumeEnvelope, UnityIsStrictlyInsideOnePercent) {
  const std::pair<double, bool> cases[] = {{1.0, true},   {0.995, true}, {1.0099, true}, {0.99, false},
                                           {1.01, false}, {0.5, false},  {0.0, false}};
  for (const auto& [gain, unity] : cases) {
    TVolumeParams envelope;
    envelope.SetGain(gain);
    EXPECT_EQ(envelope.Unity(), unity) << gain;
  }
}

TEST(VolumeEnvelope, AMemberListFadesInAndOutOverTenMsAndMultipliesItsEnvelopes) {
  TVolumeParamsList list(true);
  TVolumeParams& half = list.Add();
  half.AddPoint(0, 500);
  list.Compile(1000);
  ASSERT_EQ(list.Count(), 2u);
  const struct {
    int64_t frame;
    double gain;
  } cases[] = {{0, 0},       {220, 0.5 * 220 / 441}, {441, 0.5},
               {20000, 0.5}, {44100 - 441, 0.5},     {44100 - 100, 0.5 * 100 / 441},
               {44100, 0}};
  for (const auto& c : cases) {
    list.SetPosition(c.frame * 4);
    bool unity = true;
    EXPECT_NEAR(list.GetGain(unity), c.gain, 1e-12) << c.frame;
    EXPECT_FALSE(unity);
  }
  // Compiling again replaces the automatic envelope; the written one stays.
  list.Compile(2000);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.WrittenCount(), 1u);
  list.SetPosition(StandardBytesAt(1000));
  bool unity = true;
  EXPECT_NEAR(list.GetGain(unity), 0.5, 1e-12) << "no fade-out at the old end";
  EXPECT_EQ(list[1].Segments().back().position, StandardBytesAt(2000));
}

TEST(VolumeEnvelope, AListWithoutEnvelopesIsUnityAndFinished) {
  TVolumeParamsList list(false);
  list.Compile(500);
  list.SetPosition(0);
  EXPECT_TRUE(list.Step(0));
  bool unity = false;
  EXPECT_EQ(list.GetGain(unity), 1.0);
  EXPECT_TRUE(unity);
}

void Read(TIniFile& document, const std::vector<std::u16string>& lines) {
  ASSERT_TRUE(TIni2Str::FromLine(TIni2Str::JoinLines(lines), document));
}

TEST(VolumeEnvelope, ReadingStopsAtThePointWithoutAVolumeAndSkipsEnvelopesWithoutPoints) {
  TIniFile document;
  Read(document, {u"[0]", u"FadeCount=3", u"[Vol_0_0_0]", u"0=0", u"1=1000", u"[Vol_0_0_1]", u"0=500", u"1=0",
                  u"[Vol_0_0_2]", u"0=900", u"[Vol_0_0_3]", u"0=1000", u"1=700", u"[Vol_0_2_0]", u"0=5",
                  u"1=300", u"[Vol_0_3_0]", u"0=5", u"1=300"});
  TVolumeParamsList list(true);
  ASSERT_TRUE(list.ReadFrom(document, TEnvelopeSections(document), u"0", u"0"));
  ASSERT_EQ(list.Count(), 2u) << "envelope 1 has no points; envelope 3 is beyond FadeCount";
  ASSERT_EQ(list[0].Points().size(), 2u) << "point 2 has no volume: the points after it are not read";
  EXPECT_EQ(list[0].Points()[1].time, 500);
  EXPECT_EQ(list[0].Points()[1].volume, 0);
  ASSERT_EQ(list[1].Points().size(), 1u);
  EXPECT_EQ(list[1].Points()[0].volume, 300);
}

TEST(VolumeEnvelope, AFadeCountOutOfRangeMakesTheListUnreadable) {
  const std::pair<const char16_t*, bool> cases[] = {{u"FadeCount=-1", false},
                                                    {u"FadeCount=1000001", false},
                                                    {u"FadeCount=1000000", true},
                                                    {u"FadeCount=0", true}};
  for (const auto& [line, readable] : cases) {
    TIniFile document;
    Read(document, {u"[MainVolume]", line, u"[Vol_MainVolume_0_0]", u"0=0", u"1=500"});
    TVolumeParamsList list(false);
    EXPECT_EQ(list.ReadFrom(document, TEnvelopeSections(document), u"MainVolume", u"MainVolume"), readable)
        << std::string(line, line + std::char_traits<char16_t>::length(line));
    EXPECT_EQ(list.Count(), readable && std::u16string_view(line) != u"FadeCount=0" ? 1u : 0u);
  }
}

TEST(VolumeEnvelope, WrittenEnvelopesReadBack) {
  TVolumeParamsList written(true);
  TVolumeParams& a = written.Add();
  a.AddPoint(0, 1000);
  a.AddPoint(250, 125);
  TVolumeParams& b = written.Add();
  b.AddPoint(-20, 40);
  written.Compile(1000); // the automatic envelope is not written
  TIniStorage document;
  written.WriteTo(document, u"3", u"3");
  EXPECT_EQ(document.ReadInteger(u"3", u"FadeCount", -1), 2);
  TVolumeParamsList read(true);
  ASSERT_TRUE(read.ReadFrom(document, TEnvelopeSections(document), u"3", u"3"));
  ASSERT_EQ(read.Count(), 2u);
  EXPECT_EQ(read[0].Points().size(), 2u);
  EXPECT_EQ(read[0].Points()[1].time, 250);
  EXPECT_EQ(read[0].Points()[1].volume, 125);
  EXPECT_EQ(read[1].Points()[0].time, -20);
}

TEST(VolumeEnvelope, PairsTextBecomesOneEnvelopeRelativeToTheBeginTime) {
  struct TCase {
    const char16_t* text;
    int32_t begin;
    std::vector<std::pair<int32_t, int32_t>> points;
  };
  const TCase cases[] = {
      {u"44100:65536,88200:32768", 500, {{500, 1000}, {1500, 500}}},
      {u"0:65536, 0:0, 22:0", 0, {{0, 1000}, {1, 0}, {2, 0}}}, // times made strictly increasing
      {u"4410:131072,bad,8820:x,13230:0", 0, {{100, 2000}, {300, 0}}},
      {u"", 0, {}},
  };
  for (const TCase& c : cases) {
    TVolumeParamsList list(true);
    list.AddPairsText(c.text, c.begin);
    if (c.points.empty()) {
      EXPECT_EQ(list.Count(), 0u);
      continue;
    }
    ASSERT_EQ(list.Count(), 1u);
    std::vector<std::pair<int32_t, int32_t>> points;
    for (const TVolumeItem& p : list[0].Points())
      points.emplace_back(p.time, p.volume);
    EXPECT_EQ(points, c.points);
  }
}

} // namespace
} // namespace kiv
