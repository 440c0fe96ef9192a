// The show's main music: tracks of items laid out on a time line and written as one composite (current
// form), or the plain file list of the older keys; repetition and sync mode; shows with no slides.

#include "MusicTestSupport.h"

#include <gtest/gtest.h>

#include <utility>

namespace kiv {
namespace {

using namespace kiv::test;

// Three slides starting at 0, 5000 and 12000; the show is 20000 ms long. Slide 3 links item "{L}".
std::string ShowWithMusic(const std::string& musicObject, const std::string& mainKeys = "") {
  return "[main]\nopt_slidescount=3\nopt_synchpos1=5000\nopt_synchpos2=12000\nopt_synchpos3=20000\n" +
         mainKeys + musicObject + "[Slide1]\n[Slide2]\n[Slide3]\nLinkedAudio={Z}{l}\n";
}

// Items named item0.mp3, item1.mp3, ... unless their keys say otherwise (a later key line wins).
std::string Track(const std::vector<std::string>& items, const std::string& trackKeys = "") {
  std::string text = "  object Track: TMusicTrack\n" + trackKeys;
  for (size_t i = 0; i < items.size(); ++i)
    text +=
        "    object Item: TMusicItem\nFileName=item" + std::to_string(i) + ".mp3\n" + items[i] + "    end\n";
  return text + "  end\n";
}

std::string Music(const std::string& content) {
  return "object Music: Music\n" + content + "end\n";
}

using TPlacements = std::vector<std::pair<double, double>>; // time line, duration

TPlacements PlacementsOf(const TReadComposite& composite) {
  TPlacements placements;
  for (const TReadMember& member : composite.members)
    placements.emplace_back(member.timeLine, member.duration);
  return placements;
}

TEST(MainMusicLayout, ItemsArePlacedOnTheTrackTimeLine) {
  const struct {
    const char* what;
    std::vector<std::string> items;
    TPlacements members;
    double duration;
  } cases[] = {
      {"one after another", {"Duration=4000\n", "Duration=6000\n"}, {{0, 4000}, {4000, 6000}}, 10000},
      {"a pause before the second",
       {"Duration=3000\n", "CrossMode=1\nPause=2000\nDuration=1000\n"},
       {{0, 3000}, {5000, 1000}},
       6000},
      {"a negative pause counts as none",
       {"Duration=3000\n", "CrossMode=1\nPause=-500\nDuration=1000\n"},
       {{0, 3000}, {3000, 1000}},
       4000},
      {"the second crosses into the first",
       {"Duration=10000\n", "Cross=2000\nDuration=5000\n"},
       {{0, 10000}, {8000, 5000}},
       13000},
      {"the first item is never moved back", {"Cross=1500\nDuration=3000\n"}, {{0, 3000}}, 3000},
      {"a linked item starts at its slide and cuts the one before",
       {"Duration=15000\n", "GUID={L}\nDuration=3000\n"},
       {{0, 12000}, {12000, 3000}},
       15000},
      {"a linked item ignores its own cross but cuts earlier by it",
       {"Duration=15000\n", "GUID={L}\nCross=2000\nDuration=3000\n"},
       {{0, 10000}, {12000, 3000}},
       15000},
      {"the cut reaches every earlier item",
       {"Duration=8000\n", "Duration=8000\n", "GUID=l\nDuration=1000\n"}, {{0, 8000}, {8000, 4000}, {12000, 1000}},
       13000},
      {"an earlier item is cut past its neighbour",
       {"Duration=13000\n", "Duration=2000\n", "GUID={L}\nDuration=1000\n"}, {{0, 12000}, {12000, 1000}}, 13000},
      {"an item cut away entirely is left out",
       {"CrossMode=1\nPause=13000\nDuration=5000\n", "GUID={L}\nDuration=3000\n"},
       {{12000, 3000}},
       15000},
      {"an item of volume 0 leaves a gap",
       {"Duration=2000\n", "Volume=0\nDuration=3000\n", "Duration=1000\n"},
       {{0, 2000}, {5000, 1000}},
       6000},
      {"an item without a file still takes its time",
       {"FileName=\nDuration=2000\n", "Duration=1000\n"},
       {{2000, 1000}},
       3000},
      {"malformed values take their defaults",
       {"Duration=abc\nStartTime=x\nCrossMode=?\nVolume=loud\n", "Duration=-50\n", "Duration=1000\n"},
       {{0, 0}, {0, 0}, {0, 1000}},
       1000},
  };
  for (const auto& c : cases) {
    const TShow show = MakeShow(ShowWithMusic(Music(Track(c.items))));
    const TReadComposite composite = MainComposite(*show.music);
    ASSERT_TRUE(composite.parsed) << c.what;
    EXPECT_EQ(PlacementsOf(composite), c.members) << c.what;
    EXPECT_EQ(composite.duration, c.duration) << c.what;
    const TMusicItemInfo item = show.music->MainPlayList()->Item(0);
    EXPECT_EQ(item.start, 0) << c.what;
    EXPECT_EQ(item.duration, c.duration) << c.what;
  }
}

TEST(MainMusicLayout, TheLongestTrackSetsTheLengthAndMutedTracksAreLeftOut) {
  const TShow show =
      MakeShow(ShowWithMusic(Music(Track({"Duration=4000\nStartTime=750\n"}) +
                                   Track({"FileName=muted.mp3\nDuration=50000\n"}, "IsMute=1\n") +
                                   Track({"FileName=b.mp3\nDuration=9000\n"}, "IsMute=0\n"))));
  const TReadComposite composite = MainComposite(*show.music);
  EXPECT_EQ(composite.duration, 9000);
  ASSERT_EQ(composite.members.size(), 2u);
  EXPECT_EQ(composite.members[0].fileName, "item0.mp3");
  EXPECT_EQ(composite.members[0].beginTime, 750);
  EXPECT_EQ(composite.members[1].fileName, "b.mp3");
  EXPECT_EQ(composite.members[1].timeLine, 0);
}

TEST(MainMusicLayout, FadesAndVolumesBecomeEnvelopes) {
  const struct {
    const char* keys;
    std::vector<TReadEnvelope> envelopes;
  } cases[] = {
      {"FadeIn=1000\nFadeOut=2000\nVolume=50\nDuration=10000\n",
       {{{0, 0}, {1000, 500}, {8000, 500}, {10000, 0}}}},
      {"FadeOut=2000\nDuration=10000\n", {{{8000, 1000}, {10000, 0}}}},
      {"Volume=80\nDuration=10000\n", {{{0, 800}, {10000, 800}}}},
      {"Volume=100\nDuration=10000\n", {}},
      {"StartTime=500\nVolumeParams=44100:32768,88200:65536\nDuration=5000\n", {{{500, 500}, {1500, 1000}}}},
      // Played to the end of its file: there is no end to fade out before.
      {"FadeOut=1000\nDuration=0\n", {}},
  };
  for (const auto& c : cases) {
    // A second, nameless track gives the music its length when the item has none.
    const TShow show =
        MakeShow(ShowWithMusic(Music(Track({c.keys}) + Track({"FileName=\nDuration=1000\n"}))));
    const TReadComposite composite = MainComposite(*show.music);
    ASSERT_EQ(composite.members.size(), 1u) << c.keys;
    EXPECT_EQ(composite.members[0].envelopes, c.envelopes) << c.keys;
  }
}

TEST(MainMusicLayout, NeighboursCrossFade) {
  const TShow show =
      MakeShow(ShowWithMusic(Music(Track({"FadeIn=500\nDuration=10000\n", "Cross=2000\nDuration=5000\n"}))));
  const TReadComposite composite = MainComposite(*show.music);
  ASSERT_EQ(composite.members.size(), 2u);
  // The first fades out over the 2000 ms in which the second, starting 2000 ms before its end, fades in.
  const std::vector<TReadEnvelope> first = {{{0, 0}, {500, 1000}}, {{8000, 1000}, {10000, 0}}};
  const std::vector<TReadEnvelope> second = {{{0, 0}, {2000, 1000}}};
  EXPECT_EQ(composite.members[0].envelopes, first);
  EXPECT_EQ(composite.members[1].timeLine, 8000);
  EXPECT_EQ(composite.members[1].envelopes, second);

  // A linked neighbour starts at its slide instead: no cross-fade into it.
  const TShow linked =
      MakeShow(ShowWithMusic(Music(Track({"Duration=10000\n", "GUID={L}\nCross=2000\nDuration=5000\n"}))));
  const TReadComposite cut = MainComposite(*linked.music);
  ASSERT_EQ(cut.members.size(), 2u);
  EXPECT_TRUE(cut.members[0].envelopes.empty());
  EXPECT_TRUE(cut.members[1].envelopes.empty());
}

TEST(MainMusicLayout, ClassNamesIgnoreLetterCase) {
  const TShow show =
      MakeShow(ShowWithMusic("object M: MUSIC\n"
                             "  object O: TMUSICOPTIONS\nIsRepeat=1\n  end\n"
                             "  object T: tMusicTrack\n"
                             "    object I: TMUSICITEM\nFileName=a.mp3\nDuration=3000\n    end\n"
                             "    object I: tmusicitem\nFileName=b.mp3\nDuration=2000\n    end\n"
                             "  end\n"
                             "end\n"));
  ASSERT_TRUE(show.music->MainPlayList());
  EXPECT_TRUE(show.music->Repeat());
  EXPECT_TRUE(show.music->MainPlayList()->Repeat());
  const TReadComposite composite = MainComposite(*show.music);
  EXPECT_EQ(PlacementsOf(composite), (TPlacements{{0, 3000}, {3000, 2000}}));
}

TEST(MainMusicLayout, SyncModeRepeatsOnlyMusicThatFitsTheShow) {
  // The show lasts 20000 ms.
  const struct {
    bool olderForm;
    bool syncMode;
    bool repeat;
    int length;
    bool repeats;
  } cases[] = {
      {false, false, true, 40000, true}, {false, true, true, 40000, false}, {false, true, true, 19900, false},
      {false, true, true, 19800, true},  {false, true, false, 1000, false}, {true, false, true, 40000, true},
      {true, true, true, 19801, false},  {true, true, true, 19800, true},   {true, false, false, 1000, false},
  };
  for (const auto& c : cases) {
    const std::string syncKey = "opt_syncmode=" + std::to_string(c.syncMode) + "\n";
    const std::string text =
        c.olderForm
            ? ShowWithMusic("", syncKey + "opt_usemusic=1\nopt_repeatmusic=" + std::to_string(c.repeat) +
                                    "\nopt_music_count=1\nopt_music1=a.mp3\nopt_lengthlist1=" +
                                    std::to_string(c.length) + "\n")
            : ShowWithMusic(Music("object O: TMusicOptions\nIsRepeat=" + std::to_string(c.repeat) +
                                  "\nend\n" + Track({"Duration=" + std::to_string(c.length) + "\n"})),
                            syncKey);
    const TShow show = MakeShow(text);
    ASSERT_TRUE(show.music->MainPlayList());
    EXPECT_EQ(show.music->SyncMode(), c.syncMode);
    EXPECT_EQ(show.music->Repeat(), c.repeats) << c.olderForm << c.syncMode << c.repeat << " " << c.length;
    EXPECT_EQ(show.music->MainPlayList()->Repeat(), c.repeats);
  }
}

TEST(MainMusicLayout, TheOlderFormListsFilesOneAfterAnother) {
  const TShow show =
      MakeShow(ShowWithMusic("", "opt_usemusic=1\nopt_music_count=3\nopt_music1=a.mp3\n"
                                 "opt_lengthlist1=3000\nopt_music2=b.wma\nopt_lengthlist2=oops\n"
                                 "opt_music3=c.ogg\nopt_lengthlist3=4500\n"));
  const TRef<TPlayList>& list = show.music->MainPlayList();
  ASSERT_TRUE(list);
  EXPECT_TRUE(show.music->UseMusic());
  EXPECT_TRUE(show.music->Repeat()); // opt_repeatmusic defaults to on
  ASSERT_EQ(list->Count(), 3);
  EXPECT_EQ(list->Item(1).fileName, u"b.wma");
  EXPECT_EQ(list->Item(1).start, 3000);
  EXPECT_EQ(list->Item(1).duration, 0);
  EXPECT_EQ(list->Item(2).start, 3000);
  EXPECT_EQ(list->TotalLength(), 7500);

  const TShow off = MakeShow(
      ShowWithMusic("", "opt_usemusic=0\nopt_music_count=1\nopt_music1=a.mp3\nopt_lengthlist1=3000\n"));
  EXPECT_FALSE(off.music->UseMusic());
  EXPECT_FALSE(off.music->MainPlayList());
}

TEST(MainMusicLayout, AHugeEntryCountDoesNotSpin) {
  const TShow show =
      MakeShow(ShowWithMusic("", "opt_usemusic=1\nopt_music_count=2000000000\nopt_music1=a.mp3\n"
                                 "opt_lengthlist1=3000\n"));
  ASSERT_TRUE(show.music->MainPlayList());
  EXPECT_LE(show.music->MainPlayList()->Count(), 20);
  EXPECT_EQ(show.music->MainPlayList()->Item(0).fileName, u"a.mp3");
}

TEST(MainMusicLayout, ShowsWithoutSlidesOrLength) {
  // No slides: the music is described, nothing per slide; a music of length 0 makes no play list.
  const TShow noSlides =
      MakeShow("[main]\nopt_syncmode=1\n" +
               Music("object O: TMusicOptions\nIsRepeat=1\nend\n" + Track({"Duration=5000\n"})));
  EXPECT_EQ(noSlides.music->SlideCount(), 0);
  EXPECT_EQ(noSlides.music->ShowLength(), 0);
  ASSERT_TRUE(noSlides.music->MainPlayList());
  EXPECT_FALSE(noSlides.music->Repeat()); // sync mode: longer than a show of length 0
  EXPECT_NE(AssertionOf([&] { noSlides.music->SlideMusicAt(0); }), "");

  const TShow silent = MakeShow(ShowWithMusic(Music(Track({"Duration=0\n"}))));
  EXPECT_FALSE(silent.music->MainPlayList());

  const TShow empty = MakeShow("");
  EXPECT_EQ(empty.music->SlideCount(), 0);
  EXPECT_FALSE(empty.music->MainPlayList());
  EXPECT_NE(AssertionOf([] { TKivMusicSource none(nullptr); }).find("'Assertion failure'"),
            std::string::npos);
}

} // namespace
} // namespace kiv
