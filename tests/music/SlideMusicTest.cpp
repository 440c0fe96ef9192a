// Per-slide sound: comments in both forms and how far they may run, the sound of video objects and
// clips, a slide's own play list, slide numbers and timings, broken slide data, and stored decoder
// plug-ins that are never loaded.

#include "Log.h"
#include "MusicTestSupport.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace kiv {
namespace {

using namespace kiv::test;

// Four slides starting at 0, 5000, 12000 and 20000; the show is 26000 ms long.
std::string FourSlides(const std::string& mainKeys, const std::vector<std::string>& slideKeys) {
  std::string text =
      "[main]\nopt_slidescount=4\nopt_synchpos1=5000\nopt_synchpos2=12000\nopt_synchpos3=20000\n"
      "opt_synchpos4=26000\n" +
      mainKeys;
  for (size_t i = 0; i < 4; ++i)
    text += "[Slide" + std::to_string(i + 1) + "]\n" + (i < slideKeys.size() ? slideKeys[i] : "");
  return text;
}

const std::string kCurrentForm = "object Music: Music\nend\n";

std::string Comment(const std::string& keys) {
  return "object Music: Music\n  object C: TSoundComment\n" + keys + "  end\nend\n";
}

TReadComposite CommentOf(const TShow& show, int slide) {
  return ReadComposite(show.music->SlideMusic(slide).comment.fileName);
}

TEST(SlideMusic, ACommentIsPlacedAfterItsPauseAndCutAtItsSlidesEnd) {
  const struct {
    const char* keys;
    std::vector<double> member; // time line, begin time, duration; empty: no comment
    double duration;
    std::vector<TReadEnvelope> envelopes;
  } cases[] = {
      {"FileName=c.mp3\nPause=1000\nDuration=3000\nStartTime=200\n", {1000, 200, 3000}, 4000, {}},
      {"FileName=c.mp3\nDuration=20000\n", {0, 0, 5000}, 5000, {}},
      {"FileName=c.mp3\nPause=1000\nDuration=20000\n", {1000, 0, 4000}, 5000, {}},
      {"FileName=c.mp3\nPause=-300\nDuration=1000\n", {0, 0, 1000}, 1000, {}},
      {"FileName=c.mp3\nFadeIn=500\nFadeOut=1000\nVolume=50\nDuration=4000\n",
       {0, 0, 4000},
       4000,
       {{{0, 0}, {500, 500}, {3000, 500}, {4000, 0}}}},
      // No length given: it may run as far as the slide lets it.
      {"FileName=c.mp3\nPause=abc\n", {0, 0, 5000}, 5000, {}},
      {"FileName=error\nDuration=3000\n", {}, 0, {}},
      {"FileName=\nDuration=3000\n", {}, 0, {}},
      {"FileName=c.mp3\nVolume=0\nDuration=3000\n", {}, 0, {}},
  };
  for (const auto& c : cases) {
    const TShow show = MakeShow(FourSlides(kCurrentForm, {Comment(c.keys)}));
    const TSlideMusicInfo& info = show.music->SlideMusic(0);
    if (c.member.empty()) {
      EXPECT_FALSE(info.HasComment()) << c.keys;
      continue;
    }
    ASSERT_TRUE(info.HasComment()) << c.keys;
    EXPECT_EQ(info.comment.start, 0);
    EXPECT_EQ(info.comment.duration, c.duration) << c.keys;
    const TReadComposite composite = CommentOf(show, 0);
    EXPECT_EQ(composite.duration, c.duration) << c.keys;
    ASSERT_EQ(composite.members.size(), 1u) << c.keys;
    EXPECT_EQ(composite.members[0].fileName, "c.mp3");
    EXPECT_EQ((std::vector<double>{composite.members[0].timeLine, composite.members[0].beginTime,
                                   composite.members[0].duration}),
              c.member)
        << c.keys;
    EXPECT_EQ(composite.members[0].envelopes, c.envelopes) << c.keys;
  }
}

TEST(SlideMusic, UncutCommentsRunUntilTheNextSlideWithAComment) {
  // Keys of the older form do not make a comment in a show described in the current form.
  const std::vector<std::string> slides = {
      Comment("FileName=a.mp3\nDuration=20000\n"), "Sound=old.mp3\nSoundLength=1000\n",
      Comment("FileName=b.mp3\nDuration=50000\n"), Comment("FileName=error\n")};
  const TShow uncut = MakeShow(FourSlides(kCurrentForm + "opt_fullyplaysound=1\n", slides));
  EXPECT_FALSE(uncut.music->CutComments());
  EXPECT_EQ(uncut.music->SlideMusic(0).comment.duration, 12000); // up to slide 3, past slide 2
  EXPECT_FALSE(uncut.music->SlideMusic(1).HasComment());
  EXPECT_EQ(uncut.music->SlideMusic(2).comment.duration, 14000); // up to the end of the show
  EXPECT_FALSE(uncut.music->SlideMusic(3).HasComment());

  const TShow cut = MakeShow(FourSlides(kCurrentForm, slides));
  EXPECT_TRUE(cut.music->CutComments());
  EXPECT_EQ(cut.music->SlideMusic(0).comment.duration, 5000);
  EXPECT_EQ(cut.music->SlideMusic(2).comment.duration, 8000);
}

TEST(SlideMusic, SlidesKeepTheirTimingsAndNumbers) {
  const TShow show = MakeShow(FourSlides(kCurrentForm, {}));
  ASSERT_EQ(show.music->SlideCount(), 4);
  EXPECT_EQ(show.music->ShowLength(), 26000);
  const int numbers[] = {1, 2, 3, 0};
  const double starts[] = {0, 5000, 12000, 20000};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(show.music->SlideMusic(i).slideNumber, numbers[i]);
    EXPECT_EQ(show.music->SlideMusic(i).timing.start, starts[i]);
    EXPECT_FALSE(show.music->SlideMusic(i).HasComment());
    EXPECT_FALSE(show.music->SlideMusic(i).playList);
  }
  // Play position 5 is slide 2 in the second pass.
  const TSlideMusicInfo later = show.music->SlideMusicAt(5);
  EXPECT_EQ(later.slideNumber, 2);
  EXPECT_EQ(later.timing.start, 31000);
  EXPECT_EQ(later.timing.end, 38000);
  EXPECT_NE(AssertionOf([&] { show.music->SlideMusicAt(-1); }), "");
}

const std::string kVideoSlide =
    "object V1: Video\n"
    "  FileName=clip.mp4\n  StartKIVTime=1000\n  StartVideoTime=2500\n  Duration=2000\n"
    "  object K: KeyPoint\n"
    "    object Hidden: Video\n      FileName=hidden.mp4\n      Duration=1000\n    end\n"
    "  end\n"
    "end\n"
    "object Group: Frame\n"
    "  object V2: MainVideo\n"
    "    FileName=long.avi\n    StartKIVTime=3000\n    Duration=10000\n    LoadFromDisk=1\n"
    "  end\n"
    "end\n"
    "object V3: video\n  FileName=muted.mp4\n  Mute=1\n  Duration=1000\nend\n"
    "object V4: video\n  FileName=fast.mp4\n  FPSMultiplier=2\n  Duration=1000\nend\n";

TEST(SlideMusic, VideoObjectsSoundUntilTheirSlideEnds) {
  // Slide 1 lasts 5000 ms; its sound may run on through the transition out of it.
  const struct {
    const char* mainKeys;
    const char* slideKeys;
    double longDuration;
  } cases[] = {
      {"", "", 2000},
      {"opt_fx_time=1000\n", "", 2000}, // no effect group is active
      {"opt_fx_eff1=12\nopt_fx_time=1000\n", "", 3000},
      {"opt_fx_eff1=12\nopt_fx_time=1000\nopt_fx_enable=0\n", "", 2000},
      {"opt_fx_eff1=12\nopt_fx_time=1000\n", "Pers_Effect=1\nEffect_Class=3\nEffectTime=2500\n", 4500},
      {"opt_fx_eff1=12\nopt_fx_time=1000\n", "Pers_Effect=1\nEffect_Class=0\nEffectTime=2500\n", 3000},
  };
  for (const auto& c : cases) {
    const TShow show =
        MakeShow(FourSlides(kCurrentForm + c.mainKeys, {std::string(c.slideKeys) + kVideoSlide}));
    const TReadComposite composite = CommentOf(show, 0);
    ASSERT_EQ(composite.members.size(), 2u) << c.mainKeys << c.slideKeys;
    EXPECT_EQ(composite.members[0].fileName, "clip.mp4");
    EXPECT_EQ(composite.members[0].timeLine, 1000);
    EXPECT_EQ(composite.members[0].beginTime, 2500);
    EXPECT_EQ(composite.members[0].duration, 2000);
    EXPECT_TRUE(composite.members[0].envelopes.empty());
    EXPECT_EQ(composite.members[1].fileName, "LoadFromDisk:long.avi");
    EXPECT_EQ(composite.members[1].duration, c.longDuration) << c.mainKeys << c.slideKeys;
    EXPECT_EQ(composite.duration, 3000 + c.longDuration);
    EXPECT_EQ(show.music->SlideMusic(0).comment.duration, 3000 + c.longDuration);
  }
}

TEST(SlideMusic, ClipsSoundOnTheSlideWhereTheyBegin) {
  const std::string container =
      "object Tracks: VideoBoss\n"
      "  object C1: TVideoClip\n    GUID={C1}\n    FileName=shared.mp4\n    Duration=9000\n"
      "    StartKIVTime=500\n    StartVideoTime=100\n    StartSlideIdx=1\n  end\n"
      "  object C2: TVideoClip\n    GUID={C2}\n    FileName=quiet.mp4\n    Mute=1\n"
      "    Duration=100\n  end\n"
      "end\n";
  const std::string slide2 = "object A: Video\nClipGUID={c1}\nFileName=ignored.mp4\nend\n"
                             "object B: Video\nClipGUID={C1}\nend\n"
                             "object C: Video\nClipGUID={C2}\nFileName=own-quiet.mp4\nDuration=100\nend\n"
                             "object D: Video\nClipGUID={none}\nFileName=own.mp4\nDuration=1000\nend\n";
  const std::string slide3 = "object A: Video\nClipGUID={C1}\nend\n";
  const TShow show = MakeShow(FourSlides(kCurrentForm + container, {"", slide2, slide3}));

  const TReadComposite composite = CommentOf(show, 1);
  ASSERT_EQ(composite.members.size(), 2u);
  // The clip's own times, not cut to the slide: it runs on into the slides after it.
  EXPECT_EQ(composite.members[0].fileName, "shared.mp4");
  EXPECT_EQ(composite.members[0].timeLine, 500);
  EXPECT_EQ(composite.members[0].beginTime, 100);
  EXPECT_EQ(composite.members[0].duration, 9000);
  EXPECT_EQ(composite.members[1].fileName, "own.mp4");
  EXPECT_EQ(composite.duration, 9500);
  // Slide 3 shows the clip that began on slide 2: already sounding, not started again.
  EXPECT_FALSE(show.music->SlideMusic(2).HasComment());
}

TEST(SlideMusic, TheOlderFormGivesPlainFiles) {
  const std::vector<std::string> slides = {"Sound=a.mp3\nSoundLength=3000\n", "Sound=@\nSoundLength=3000\n",
                                           "Sound=long.mp3\nSoundLength=9000\n", "SoundLength=1000\n"};
  const TShow cut = MakeShow(FourSlides("", slides));
  const TSlideMusicInfo& first = cut.music->SlideMusic(0);
  ASSERT_TRUE(first.HasComment());
  EXPECT_EQ(first.comment.fileName, u"a.mp3");
  EXPECT_EQ(first.comment.duration, 3000);
  EXPECT_FALSE(cut.music->SlideMusic(1).HasComment());
  EXPECT_EQ(cut.music->SlideMusic(2).comment.duration, 8000);
  EXPECT_FALSE(cut.music->SlideMusic(3).HasComment());

  const TShow uncut = MakeShow(FourSlides("opt_fullyplaysound=1\n", slides));
  EXPECT_EQ(uncut.music->SlideMusic(2).comment.duration, 9000);
}

TEST(SlideMusic, ASlideMayBringItsOwnMusic) {
  const std::string olderList =
      "UsePersonal=1\nMusicAction=2\nMusicCount=2\nSubMusic1=a.mp3\nSubMusicLength1=1000\n"
      "SubMusic2=b.mp3\nSubMusicLength2=2000\n";
  const std::string currentList =
      "UsePersonal=1\nMusicAction=2\nobject Music: Music\n"
      "  object T: TMusicTrack\n"
      "    object I: TMusicItem\nFileName=own.mp3\nDuration=4000\n    end\n"
      "    object I: TMusicItem\nGUID={L}\nFileName=linked.mp3\nDuration=1000\n    end\n"
      "  end\n"
      "  object C: TSoundComment\nFileName=c.mp3\nDuration=1000\n  end\n"
      "end\n";
  const TShow show =
      MakeShow(FourSlides("", {olderList, currentList, "LinkedAudio={L}\n",
                               "UsePersonal=0\nMusicAction=2\nMusicCount=1\nSubMusic1=x.mp3\n"}));
  const TRef<TPlayList>& older = show.music->SlideMusic(0).playList;
  ASSERT_TRUE(older);
  EXPECT_EQ(older->Count(), 2);
  EXPECT_EQ(older->Item(1).fileName, u"b.mp3");
  EXPECT_EQ(older->Item(1).start, 1000);
  EXPECT_EQ(older->TotalLength(), 3000);

  const TRef<TPlayList>& current = show.music->SlideMusic(1).playList;
  ASSERT_TRUE(current);
  ASSERT_EQ(current->Count(), 1);
  const TReadComposite composite = ReadComposite(current->Item(0).fileName);
  ASSERT_EQ(composite.members.size(), 2u);
  // The linked item starts with slide 3, 7000 ms after this slide's start.
  EXPECT_EQ(composite.members[1].timeLine, 7000);
  EXPECT_EQ(composite.duration, 8000);
  EXPECT_TRUE(show.music->SlideMusic(1).HasComment());
  EXPECT_FALSE(show.music->SlideMusic(3).playList);

  // In sync mode the show's music plays throughout.
  const TShow synced = MakeShow(FourSlides("opt_syncmode=1\n", {olderList, currentList}));
  EXPECT_FALSE(synced.music->SlideMusic(0).playList);
  EXPECT_FALSE(synced.music->SlideMusic(1).playList);
}

TEST(SlideMusic, BrokenSlideDataStopsTheDescription) {
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"[main]\nopt_slidescount=2\nopt_synchpos1=1000\nopt_synchpos2=2000\n[Slide1]\n", "'Slide not Found'"},
      {FourSlides("", {"Sound=a.mp3\nSoundLength=-1\n"}), "'Incorrect music time'"},
      {FourSlides("", {"UsePersonal=1\nMusicAction=2\nMusicCount=2\nSubMusic1=a.mp3\n"}), "'unknown name'"},
      {FourSlides("", {"UsePersonal=1\nMusicAction=2\nMusicCount=1\nSubMusic1=a.mp3\nSubMusicLength1=-5\n"}),
       "'incorrect music time'"},
  };
  for (const auto& c : cases) {
    const auto source = Source(c.text);
    const std::string message = AssertionOf([&] { TKivMusicSource music(source.get()); });
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

TEST(SlideMusic, StoredDecoderPluginsAreNeverLoaded) {
  const std::filesystem::path log = kivtest::FreshTempDir("music_plugins") / "player.log";
  const TShow show = MakeShow(FourSlides("opt_wmapath=codecs\\kivwma.dll\nopt_oggpath=kivogg.dll\n", {}));
  ASSERT_TRUE(InstallFileLog(log.string()));
  show.music->PrepareDecoderPlugins();
  CloseLog();
  std::stringstream text;
  text << std::ifstream(log, std::ios::binary).rdbuf();
  EXPECT_NE(text.str().find("codecs\\kivwma.dll"), std::string::npos);
  EXPECT_NE(text.str().find("kivogg.dll"), std::string::npos);
  EXPECT_EQ(text.str().find("INITIALIZE FAILED"), std::string::npos);
  // Nothing was written beside the log.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(log.parent_path()), {}), 1);
}

} // namespace
} // namespace kiv
