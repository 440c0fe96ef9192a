// Custom transitions: a small slide project of the show played over the two slides. Its slide follows the
// progress, its pictures standing for the slides are bound and scaled, its background comes from the
// slides as the project asks, and the description chooses the project or leaves the cross-fade.

#include "RealSlideFilter.h"

#include "../support/TestEnvironment.h"
#include "ContentObjects.h"
#include "ImageObject.h"
#include "ShowFileAccess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kiv {
namespace {

// Two pictures standing for the slides, scaled 50 x 40 and 100 x 100 percent; the slide runs 0..2000 ms.
constexpr const char* kTransition =
    "[main]\r\n"
    "opt_slidescount=1\r\nopt_synchpos1=2000\r\n"
    "opt_scr_width=320\r\nopt_scr_height=240\r\nMinorVersion=21\r\n"
    "[slide1]\r\nCoverMode=0\r\nTransparentBg=1\r\nCustomEffBg=3\r\n"
    "object Out: Image\r\n  ImageName=SlideEffectBuffer\r\n"
    "  ReplaceWithEffectBuffer=1\r\n"
    "  object : KeyPoint\r\n    ScaleX=50\r\n    ScaleY=40\r\n  end\r\nend\r\n"
    "object In: Image\r\n  ImageName=SlideEffectBuffer\r\n"
    "  ReplaceWithEffectBuffer=2\r\n"
    "  object : KeyPoint\r\n  end\r\nend\r\n"
    "object Own: Image\r\n  ImageName=own.bmp\r\n"
    "  object : KeyPoint\r\n    ScaleX=50\r\n  end\r\nend\r\n";

class RealSlideFilter : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterContentKinds();
    folder_ = kivtest::FreshTempDir("real_slide_filter");
    std::ofstream(folder_ / "fx.kiv", std::ios::binary) << kTransition;
    auto source = TRef<TFileSource>::Adopt(new TMappedFileSource(folder_.string() + "/"));
    accessor_ = TRef<TFileAccessor>::Make(source, folder_.string());
    TSlideHostCallbacks callbacks;
    callbacks.frameRect = [] { return TRect{0, 0, 320, 240}; };
    callbacks.camera = [] { return T3DVector{160, 120, -240}; };
    callbacks.findSection = [](std::u16string_view) { return nullptr; };
    host_ = TRef<TKivSlideHost>::Make(accessor_.get(), std::move(callbacks), u"", false);
  }
  void TearDown() override {
    host_ = nullptr;
    accessor_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TOwned<TKivSlide> Slide(const TSlideBackground& background, float scaleX = 100, float scaleY = 100) {
    auto slide = MakeOwned<TKivSlide>(host_, 0);
    slide->SetBackground(background);
    slide->KeyPoints().SetScale(scaleX, scaleY);
    return slide;
  }
  TKivImageObject& Image(TRealSlideFilter& filter, int index) {
    return dynamic_cast<TKivImageObject&>(filter.TransitionSlide().Child(index));
  }

  std::filesystem::path folder_;
  TRef<TFileAccessor> accessor_;
  TRef<TKivSlideHost> host_;
};

TEST_F(RealSlideFilter, TheTransitionSlideFollowsTheProgressOverBothSlides) {
  TOwned<TRealSlideFilter> filter = TRealSlideFilter::Create(*accessor_, u"fx.kiv", {320, 240}, 80, 50);
  ASSERT_TRUE(filter);
  EXPECT_FALSE(filter->CoverMode());
  EXPECT_TRUE(filter->TransparentBackground());
  EXPECT_EQ(filter->BackgroundMode(), 3);
  EXPECT_TRUE(filter->DrawsPair());
  EXPECT_EQ(filter->overlaySlide, &filter->TransitionSlide());

  // The pictures stand for slides of the frame's size; the scales undo the slides' own 80 x 50 percent.
  ASSERT_EQ(filter->TransitionSlide().ChildCount(), 3);
  EXPECT_EQ(Image(*filter, 0).Picture(), &filter->OutgoingPicture());
  EXPECT_EQ(Image(*filter, 1).Picture(), &filter->IncomingPicture());
  EXPECT_EQ(filter->OutgoingPicture().Width(), 320);
  EXPECT_EQ(filter->OutgoingPicture().Height(), 240);
  EXPECT_EQ(filter->OutgoingPicture().Bitmap().Width(), 0); // nothing to upload: it shows a texture
  EXPECT_FLOAT_EQ(Image(*filter, 0).KeyPoints().KeyPoint(0).Values().scaleX, 62.5f);
  EXPECT_FLOAT_EQ(Image(*filter, 0).KeyPoints().KeyPoint(0).Values().scaleY, 80);
  EXPECT_FLOAT_EQ(Image(*filter, 1).KeyPoints().KeyPoint(0).Values().scaleX, 125);
  EXPECT_FLOAT_EQ(Image(*filter, 1).KeyPoints().KeyPoint(0).Values().scaleY, 200);
  EXPECT_FLOAT_EQ(Image(*filter, 2).KeyPoints().KeyPoint(0).Values().scaleX, 50); // an ordinary picture
  EXPECT_NE(Image(*filter, 2).Picture(), &filter->OutgoingPicture());

  const struct {
    double progress, time;
  } cases[] = {{0, 0}, {0.25, 500}, {0.5, 1000}, {1, 2000}, {1.5, 2000}};
  for (const auto& c : cases) {
    filter->SetEffectPosition(c.progress);
    EXPECT_DOUBLE_EQ(filter->SlideTime(), c.time) << c.progress;
    EXPECT_TRUE(filter->TransitionSlide().InTime()) << c.progress;
  }
}

TEST_F(RealSlideFilter, TheBackgroundComesFromTheSlidesAsTheProjectAsks) {
  const TSlideBackground red{0, 0x0000FF, 0, u"", 100}, blue{1, 0xFF0000, 0x00FF00, u"", 100};
  const TOwned<TKivSlide> outgoing = Slide(red), incoming = Slide(blue);
  const struct {
    int mode;
    TSlideBackground first;
    bool second;
  } cases[] = {{1, red, false}, {2, blue, false}, {3, red, true}, {0, TSlideBackground{}, false}};
  for (const auto& c : cases) {
    std::string text = kTransition;
    text.replace(text.find("CustomEffBg=3"), 13, "CustomEffBg=" + std::to_string(c.mode));
    std::ofstream(folder_ / "bg.kiv", std::ios::binary) << text;
    TOwned<TRealSlideFilter> filter = TRealSlideFilter::Create(*accessor_, u"bg.kiv", {320, 240}, 100, 100);
    ASSERT_TRUE(filter);
    filter->SetEffectPosition(0.25);
    filter->PrepareEffect(*outgoing, *incoming);
    const TKivSlide& slide = filter->TransitionSlide();
    EXPECT_EQ(slide.Background(), c.first) << c.mode;
    if (c.second) {
      EXPECT_EQ(slide.SecondBackground(), blue);
      EXPECT_FLOAT_EQ(slide.BackgroundMix(), 0.25f);
    } else {
      EXPECT_FLOAT_EQ(slide.BackgroundMix(), 0) << c.mode;
    }
  }
}

TEST_F(RealSlideFilter, TheDescriptionNamesTheProjectOrLeavesTheCrossFade) {
  const TOwned<TKivSlide> slide = Slide({}, 80, 50);
  slide->SetSlideIndex(4);
  const struct {
    std::u16string description;
    int32_t seed;
    bool made;
  } cases[] = {
      {u"fx.kiv", 0, true},
      {u"", 0, false},
      {u"missing.kiv", 0, false},
      {u"missing.kiv|fx.kiv", 1, true}, // several names: chosen by the seed
      {u"missing.kiv|fx.kiv", 2, false},
      {u"|fx.kiv|", 7, true}, // empty names do not count
  };
  for (const auto& c : cases) {
    TEffectParams params;
    params.customDescription = c.description;
    params.seed = c.seed;
    const TOwned<TDrawFilter> filter = CreateCustomTransition({0, 0, 320, 240}, slide.get(), params);
    EXPECT_EQ(filter != nullptr, c.made) << std::string(c.description.begin(), c.description.end()) << c.seed;
    if (auto* real = dynamic_cast<TRealSlideFilter*>(filter.get())) {
      EXPECT_EQ(real->slideIndex, 5);
      EXPECT_FLOAT_EQ(Image(*real, 0).KeyPoints().KeyPoint(0).Values().scaleX, 62.5f);
    }
  }
  // Not a slide of a show: nothing to read the project from.
  TEffectParams params;
  params.customDescription = u"fx.kiv";
  EXPECT_FALSE(CreateCustomTransition({0, 0, 320, 240}, nullptr, params));
}

TEST_F(RealSlideFilter, AFileThatIsNoTransitionProjectMakesNoFilter) {
  std::ofstream(folder_ / "empty.kiv", std::ios::binary) << "[main]\r\nopt_slidescount=0\r\n";
  std::ofstream(folder_ / "badtime.kiv", std::ios::binary)
      << "[main]\r\nopt_slidescount=2\r\nopt_synchpos1=500\r\nopt_synchpos2=100\r\n[slide1]\r\n[slide2]\r\n";
  for (const char16_t* name : {u"empty.kiv", u"badtime.kiv", u"nothing.kiv"})
    EXPECT_FALSE(TRealSlideFilter::Create(*accessor_, name, {320, 240}, 100, 100));
}

} // namespace
} // namespace kiv
