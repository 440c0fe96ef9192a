// Videos, masks and viewports on slides: the clip time of a show time, deinterlacing and draw size, the
// mask picture made of a picture, clips shared through the show's container, and masks and viewports
// drawn on llvmpipe against pixels worked out here.

#include "../render/DrawerTestSupport.h"
#include "../render/GLTestSupport.h"
#include "../support/TestBmp.h"
#include "CacheImageDecoder.h"
#include "ContentObjects.h"
#include "DecoderLibrary.h"
#include "FontOutlines.h"
#include "ShowFileAccess.h"
#include "Streams.h"
#include "TestEnvironment.h"
#include "VirtualHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

namespace kiv {
namespace {

// ---- pure rules ----

TEST(VideoRules, ClipTimeOfAShowTime) {
  TClipTiming own;
  own.duration = 4000;
  own.speed = 2;
  TClipTiming offset;
  offset.duration = 10000;
  offset.startShow = 1000;
  offset.startVideo = 3000;
  TClipTiming open = offset;
  open.duration = 0;
  // A clip starting with slide 2 (at 8000) shown on a slide that begins at 12000.
  TClipTiming shared;
  shared.shared = true;
  shared.clipStart = 8000;
  shared.duration = 60000;
  const struct {
    const char* what;
    TClipTiming timing;
    double local, slideBegin, deltaTime1, clipTime;
  } cases[] = {
      {"speed 2", own, 1500, 0, 0, 3000},
      {"at its end", own, 2000, 0, 0, 4000},
      {"after its end the last frame is held", own, 9000, 0, 0, 4000},
      {"before the start the first frame is held", offset, 500, 0, 0, 3000},
      {"from the start", offset, 1000, 0, 0, 3000},
      {"into the clip", offset, 1250, 0, 0, 3250},
      {"held while the object waits (DeltaTime1)", offset, 1500, 0, 2000, 3000},
      {"then from where the start puts it", offset, 2500, 0, 2000, 4500},
      {"a negative speed runs back", {0, 0, 5000, -1, false, 0}, 1000, 0, 0, 4000},
      {"no duration: no end", open, 50000, 0, 0, 52000},
      {"a shared clip runs on in step", shared, 1000, 12000, 0, 5000},
      {"a shared clip on its own first slide", shared, 1000, 8000, 0, 1000},
  };
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(ClipTimeAt(c.timing, c.local, c.slideBegin, c.deltaTime1), c.clipTime) << c.what;
}

TEST(VideoRules, DeinterlaceModes) {
  using T = TDeinterlaceType;
  const struct {
    T type;
    bool interlaced, bottomFirst, firstHalf;
    uint8_t mode;
  } cases[] = {
      {T::Auto, false, false, true, 0},    {T::Auto, true, false, false, 2},
      {T::Auto, true, false, true, 1},     {T::Auto, true, true, true, 2},
      {T::Auto, true, true, false, 1},     {T::Wave, true, true, true, 0},
      {T::BobEven, false, false, true, 1}, {T::BobEven, true, true, false, 2},
      {T::BobOdd, false, false, true, 2},  {T::BobOdd, true, false, false, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DeinterlaceMode(c.type, c.interlaced, c.bottomFirst, c.firstHalf), c.mode)
        << int(c.type) << c.interlaced << c.bottomFirst << c.firstHalf;
}

TEST(VideoRules, AnamorphicPicturesAreShownWider) {
  EXPECT_EQ(std::lround(720 * VideoPixelFactor(TAspectKind::Ratio16x9, 720, 576)), 1024);
  EXPECT_EQ(std::lround(720 * VideoPixelFactor(TAspectKind::Ratio4x3, 720, 576)), 768);
  EXPECT_EQ(VideoPixelFactor(TAspectKind::Other, 720, 576), 1.0f);
  EXPECT_EQ(VideoPixelFactor(TAspectKind::Ratio16x9, 0, 0), 1.0f);
}

TEST(VideoRules, ChromaKeyColoursInEitherRange) {
  const auto grey = ChromaKeyUV({0.5f, 0.5f, 0.5f});
  EXPECT_NEAR(grey[0], 128 / 255.0, 1e-3);
  EXPECT_NEAR(grey[1], 128 / 255.0, 1e-3);
  const auto green = ChromaKeyUV({0, 1, 0}), greenBytes = ChromaKeyUV({0, 255, 0});
  EXPECT_NEAR(green[0], greenBytes[0], 1e-6);
  EXPECT_NEAR(green[1], greenBytes[1], 1e-6);
  EXPECT_LT(green[0], 0.3f); // green lies low in both
  EXPECT_LT(green[1], 0.3f);
}

// ---- mask pictures ----

TRef<TCachedBitmap> Picture(std::vector<uint32_t> pixels) {
  const int width = static_cast<int>(pixels.size());
  return TRef<TCachedBitmap>::Make(width, 1, std::move(pixels));
}

TEST(MaskPicture, CoverageFromBrightnessOrFromItsOwnAlpha) {
  const struct {
    const char* what;
    std::vector<uint32_t> in, out;
  } cases[] = {
      {"black and white without alpha: white, coverage from brightness, black almost none",
       {0xFFFFFFFF, 0xFF000000, 0xFF808080},
       {0xFFFFFFFF, 0x01FFFFFF, 0x80FFFFFF}},
      {"a coloured picture without alpha keeps its hue at full strength",
       {0xFFFF0000, 0xFF800000, 0xFF402000},
       {0xFFFF0000, 0x80FF0000, 0x40FF7F00}},
      {"all alpha 0 counts as none", {0x00FFFFFF, 0x00404040}, {0xFFFFFFFF, 0x40FFFFFF}},
      {"one colour where visible: its own alpha, white",
       {0x80123456, 0x00ABCDEF, 0xFF123456},
       {0x80FFFFFF, 0x00FFFFFF, 0xFFFFFFFF}},
      {"opaque and clear pixels of one colour: the alpha cuts",
       {0xFF00FF00, 0x00000000},
       {0xFFFFFFFF, 0x00FFFFFF}},
      {"several colours with alpha stay as they are", {0x80FF0000, 0x4000FF00}, {0x80FF0000, 0x4000FF00}},
  };
  for (const auto& c : cases) {
    TRef<TCachedBitmap> mask = MakeMaskBitmap(*Picture(c.in));
    EXPECT_EQ(mask->Pixels(), c.out) << c.what;
  }
}

// ---- objects ----

void PinFonts() {
  const std::string font = std::string(KIV_TEST_MEDIA) + "/fonts/liberation2/LiberationSans-Regular.ttf";
  if (std::filesystem::exists(font)) SetFontFile(u"Arial", font);
}

class VideoObjects : public ::testing::Test {
protected:
  static constexpr float kWidth = 320, kHeight = 240;

  void SetUp() override {
    RegisterContentKinds();
    InstallImageDecoder();
    PinFonts();
    folder_ = kivtest::FreshTempDir("video_objects_test");
  }
  void TearDown() override {
    slides_.clear();
    host_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  static std::string Clip() { return std::string(KIV_TEST_MEDIA) + "/generated/clip_h264_aac.mp4"; }
  bool HaveDecoder() { return TFFMpegDll::TryAcquire() != nullptr; }

  // A host over the test's folder; the project (main, the video container and the slides) from text.
  void UseShow(std::string_view project) {
    const std::string text = "\xEF\xBB\xBF" + std::string(project);
    TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
    ASSERT_TRUE(doc_.LoadFromStream(stream));
    auto source = TRef<TFileSource>::Adopt(new TMappedFileSource(folder_.string() + "/"));
    accessor_ = TRef<TFileAccessor>::Make(source, folder_.string());
    TSlideHostCallbacks callbacks;
    callbacks.frameRect = [] { return TRect{0, 0, int(kWidth), int(kHeight)}; };
    callbacks.camera = [] { return T3DVector{kWidth / 2, kHeight / 2, -kHeight}; };
    callbacks.findSection = [this](std::u16string_view name) { return FindSlideSection(doc_, name); };
    host_ = TRef<TKivSlideHost>::Make(accessor_.get(), std::move(callbacks), u"Buttons", false);
    host_->SetVideoClips(TRef<TVideoClipList>::Make(&workers_));
  }

  TKivSlide& Slide(std::u16string_view section, double begin, double end) {
    auto slide = MakeOwned<TKivSlide>(host_, 0);
    slide->SetSize(kWidth, kHeight);
    slide->SetBaseOrigin({kWidth / 2, kHeight / 2, 0});
    slide->SetTimes(begin, end, 0, 0);
    slide->LoadChildren(*doc_.FindSection(section), false);
    slides_.push_back(std::move(slide));
    return *slides_.back();
  }

  template <class T> static T& Child(TKivObject& parent, int index) {
    T* object = dynamic_cast<T*>(&parent.Child(index));
    EXPECT_NE(object, nullptr);
    return *object;
  }

  TVirtualHost workers_;
  std::filesystem::path folder_;
  TRef<TFileAccessor> accessor_;
  TRef<TKivSlideHost> host_;
  TIniFile doc_;
  std::vector<TOwned<TKivSlide>> slides_;
};

constexpr const char* kSharedClipShow =
    "[main]\nopt_slidescount=3\nopt_synchpos2=8000\nopt_synchpos3=12000\n"
    "object : VideoBoss\n"
    "  object clip: VideoClip\n    GUID={C1}\n    FileName=clip.mp4\n    Duration=3000\n"
    "    StartSlideIdx=2\n    StartVideoTime=0\n  end\n"
    "end\n"
    "[Slide2]\nobject v: Video\n  ClipGUID={c1}\n  FileName=other.mp4\n  Duration=99\nend\n"
    "[Slide3]\nobject w: MainVideo\n  ClipGUID={C1}\n  ImageIndex=0\nend\n"
    "object own: Video\n  FileName=clip.mp4\n  StartKIVTime=500\n  Duration=1000\nend\n"
    "object lost: Video\n  ClipGUID={nowhere}\n  FileName=clip.mp4\n  StartVideoTime=700\nend\n";

TEST_F(VideoObjects, ClipsOfTheContainerAreSharedAndRunOnAcrossSlides) {
  std::filesystem::copy_file(Clip(), folder_ / "clip.mp4");
  UseShow(kSharedClipShow);
  TKivSlide& second = Slide(u"Slide2", 8000, 12000);
  TKivSlide& third = Slide(u"Slide3", 12000, 16000);
  auto& v = Child<TKivVideo>(second, 0);
  auto& w = Child<TKivVideo>(third, 0);
  // The clip's description wins over the object's own keys.
  ASSERT_TRUE(v.Clip());
  EXPECT_EQ(v.FileName(), u"clip.mp4");
  EXPECT_EQ(v.Timing().duration, 3000);
  EXPECT_TRUE(w.ImageIndex().has_value());
  // 1000 ms into the third slide the clip, started with the second, is 5000 ms in: held at its end.
  third.SetTime(true, 13000);
  EXPECT_DOUBLE_EQ(w.ClipTime(), 3000);
  second.SetTime(true, 9000);
  EXPECT_DOUBLE_EQ(v.ClipTime(), 1000);
  // A clip the container lacks leaves the object with its own keys.
  auto& lost = Child<TKivVideo>(third, 2);
  EXPECT_FALSE(lost.Clip());
  EXPECT_EQ(lost.Timing().startVideo, 700);

  if (!HaveDecoder()) GTEST_SKIP() << "libkivffmpeg.so not built: clips cannot be opened";
  ASSERT_TRUE(v.OpenClip());
  ASSERT_TRUE(w.OpenClip());
  auto& own = Child<TKivVideo>(third, 1);
  ASSERT_TRUE(own.OpenClip());
  EXPECT_EQ(v.ClipWrapper(), w.ClipWrapper());
  EXPECT_NE(own.ClipWrapper(), v.ClipWrapper());
  EXPECT_EQ(host_->VideoClips()->Count(), 2);
  EXPECT_EQ(v.Size().x, 320);
  EXPECT_EQ(v.Size().y, 240);
  // A clip with an end holds its last frame; one without runs round.
  EXPECT_FALSE(v.ClipWrapper()->Extractor()->Repeat());
  // The clip stays while one object shows it.
  slides_.erase(slides_.begin());
  EXPECT_EQ(host_->VideoClips()->Count(), 2);
  slides_.clear();
  EXPECT_EQ(host_->VideoClips()->Count(), 0);
}

TEST_F(VideoObjects, AVideoThatCannotBeOpenedShowsTheErrorPicture) {
  std::ofstream(folder_ / "broken.mp4") << "not a video";
  UseShow("[main]\n[s]\nobject a: Video\n  FileName=missing.mp4\nend\nobject b: Video\n  "
          "FileName=broken.mp4\nend\n");
  TKivSlide& slide = Slide(u"s", 0, 1000);
  for (int i = 0; i < 2; ++i) {
    auto& video = Child<TKivVideo>(slide, i);
    EXPECT_FALSE(video.OpenClip());
    if (!video.ErrorPicture()) GTEST_SKIP() << "no font can be opened for the error picture";
    EXPECT_EQ(video.Size().x, video.ErrorPicture()->Width());
    EXPECT_GT(video.Size().y, 0);
  }
  EXPECT_EQ(host_->VideoClips()->Count(), 0);
}

TEST_F(VideoObjects, SoundOfVideoObjectsForTheMusicDescription) {
  UseShow("[main]\nobject : VideoBoss\n"
          "  object : VideoClip\n    GUID=a\n    FileName=a.mp4\n    Mute=1\n  end\n"
          "  object : VideoClip\n    GUID=b\n    FileName=b.mp4\n    LoadFromDisk=1\n    StartKIVTime=200\n"
          "    StartVideoTime=300\n    Duration=400\n  end\n"
          "  object : VideoClip\n    GUID=c\n    FileName=c.mp4\n    FPSMultiplier=2\n  end\n"
          "end\n"
          "[s]\nobject : Video\n  ClipGUID=a\nend\nobject : Video\n  ClipGUID=b\n  Mute=1\nend\n"
          "object : Video\n  ClipGUID=c\nend\nobject : Video\n  FileName=own.mp4\n  Duration=50\nend\n");
  const TCommonIniSection* tracks = FindSlideSection(doc_, u"tracks");
  std::vector<const TIniObject*> videos;
  const TIniSection* s = doc_.FindSection(u"s");
  for (TIniObject* item = s->FirstObject(); item; item = s->NextObject(item))
    videos.push_back(item);
  ASSERT_EQ(videos.size(), 4u);
  EXPECT_FALSE(VideoSoundOf(*videos[0], tracks));  // the clip is muted
  const auto b = VideoSoundOf(*videos[1], tracks); // the clip's mute flag, not the object's
  ASSERT_TRUE(b);
  EXPECT_EQ(b->fileName, u"LoadFromDisk:b.mp4");
  EXPECT_EQ(b->startShow, 200);
  EXPECT_EQ(b->startVideo, 300);
  EXPECT_EQ(b->duration, 400);
  EXPECT_FALSE(VideoSoundOf(*videos[2], tracks)); // another speed
  const auto own = VideoSoundOf(*videos[3], tracks);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->fileName, u"own.mp4");
}

TEST_F(VideoObjects, AMaskWhosePictureGoesKeepsItsSize) {
  test_files::WriteBmpFile(folder_ / "m.bmp", 30, 20, [](int x, int) { return x < 15 ? 0xFFFFFFu : 0u; });
  UseShow("[main]\n[s]\nobject m: Mask\n  ImageName=m.bmp\nend\n[t]\nobject m: Mask\n  "
          "ImageName=gone.bmp\nend\n");
  TKivSlide& slide = Slide(u"s", 0, 1000);
  auto& mask = Child<TKivMask>(slide, 0);
  mask.LoadContent();
  ASSERT_TRUE(mask.Picture());
  EXPECT_FALSE(mask.Antialiased());
  EXPECT_EQ(mask.Size().x, 30);
  EXPECT_EQ(mask.Size().y, 20);
  // The picture is the mask made of the file: white, its brightness the coverage.
  const TDevBitmap& bits = mask.Picture()->Bitmap();
  EXPECT_EQ(bits.Pixel32(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(bits.Pixel32(29, 0), 0x01FFFFFFu);
  mask.LoadFromNode(*doc_.FindSection(u"t")->FirstObject(), true);
  mask.LoadContent();
  EXPECT_FALSE(mask.Picture());
  EXPECT_EQ(mask.Size().x, 30);
  EXPECT_EQ(mask.Size().y, 20);
}

// ---- on the device ----

class MaskDrawing : public VideoObjects {
protected:
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
    VideoObjects::SetUp();
    rig_ = std::make_unique<test::TDrawerRig>(int(kWidth), int(kHeight));
  }
  void TearDown() override {
    for (auto& slide : slides_)
      slide->FrameDone(*rig_->drawer);
    slides_.clear();
    rig_.reset();
    VideoObjects::TearDown();
  }
  TDevBitmap Shoot(TKivSlide& slide, double time) {
    slide.SetTime(true, time);
    slide.Prepare(*rig_->drawer);
    slide.UpdateGeometry(true);
    TDevBitmap shot = rig_->Frame([&](TDeviceDrawer& d) { d.DrawItem(slide); });
    slide.FrameDone(*rig_->drawer);
    return shot;
  }
  std::unique_ptr<test::TDrawerRig> rig_;
};

// A red box over the whole slide inside a viewport; the mask covers the left half fully, the right half
// not at all, and a band in the middle at half.
constexpr const char* kPictureMaskShow =
    "[main]\n[s]\nobject vp: ViewPort\n  Size=320,240\n"
    "  object content: Box\n    Size=320,240\n    Color1=255,0,0\n  end\n"
    "  object m: Mask\n    ImageName=m.bmp\n  end\n"
    "end\n";

TEST_F(MaskDrawing, APictureMaskCutsTheViewportsContent) {
  test_files::WriteBmpFile(folder_ / "m.bmp", 32, 24, [](int x, int) {
    return x < 12 ? 0xFFFFFFu : x < 16 ? 0x808080u : 0u;
  });
  UseShow(kPictureMaskShow);
  TKivSlide& slide = Slide(u"s", 0, 1000);
  for (const bool fast : {true, false}) {
    rig_->drawer->maskFastPathAllowed = fast;
    const TDevBitmap shot = Shoot(slide, 0);
    // The mask (32 x 24) is placed into the viewport at 10x: covered up to x = 120, half to 160.
    for (int y : {10, 120, 230}) {
      const double half = 128 / 255.0;
      const struct {
        int x;
        double coverage;
      } columns[] = {{5, 1}, {100, 1}, {140, half}, {200, 0}, {315, 0}};
      for (const auto& c : columns) {
        // The product of content and coverage over the black slide.
        const uint32_t expected = 0xFF000000u | uint32_t(std::lround(255 * c.coverage)) << 16;
        EXPECT_TRUE(test::NearColor(shot.Pixel32(c.x, y), expected, 3))
            << (fast ? "fast " : "") << c.x << "," << y << std::hex << " " << shot.Pixel32(c.x, y);
      }
    }
  }
}

TEST_F(MaskDrawing, AViewportWithoutMasksDrawsItsContentAsItIs) {
  UseShow("[main]\n[s]\nobject vp: ViewPort\n  Size=320,240\n"
          "  object content: Box\n    Size=320,240\n    Color1=0,255,0\n  end\n"
          "  object m: Mask\n    ImageName=none.bmp\n  end\nend\n");
  TKivSlide& slide = Slide(u"s", 0, 1000);
  const TDevBitmap shot = Shoot(slide, 0);
  EXPECT_TRUE(test::NearColor(shot.Pixel32(160, 120), 0xFF00FF00, 2));
}

TEST_F(MaskDrawing, AVideoMaskCoversByTheFramesBrightness) {
  if (!HaveDecoder()) GTEST_SKIP() << "libkivffmpeg.so not built: clips cannot be opened";
  std::filesystem::copy_file(Clip(), folder_ / "clip.mp4");
  UseShow("[main]\n[s]\nobject vp: ViewPort\n  Size=320,240\n"
          "  object content: Box\n    Size=320,240\n    Color1=255,255,0\n  end\n"
          "  object m: VideoMask\n    FileName=clip.mp4\n    Duration=3000\n  end\n"
          "end\n");
  TKivSlide& slide = Slide(u"s", 0, 5000);
  // The luma of frame 15 (1000 ms at 15 fps) from the decoder itself.
  auto source = MakeWinVideoSource(new TFileStream(Clip(), TFileMode::OpenRead), true, Clip());
  ASSERT_TRUE(source);
  auto luma = TRef<TMemoryYUVImage>::Make(320, 240, kYUVLumaOnly);
  ASSERT_TRUE(source->GetFrame(15, *luma));
  const TDevBitmap shot = Shoot(slide, 1000);
  EXPECT_EQ(Child<TKivVideoMask>(slide.Child(0), 1).ShownFrame(), 15);
  int bad = 0;
  for (int y = 4; y < 240; y += 9)
    for (int x = 3; x < 320; x += 7) {
      const double y8 = luma->PlaneBytes(kPlaneY)[size_t(y) * size_t(luma->PlanePitch(kPlaneY)) + size_t(x)];
      // The mask layer is grey m with alpha m; the product with the content takes both.
      const double m = std::clamp(1.16438 * (y8 / 255 - 0.0625), 0.0, 1.0);
      const uint32_t level = uint32_t(std::lround(255 * m * m));
      const uint32_t expected = 0xFF000000u | level << 16 | level << 8;
      if (!test::NearColor(shot.Pixel32(x, y), expected, 4) && ++bad <= 5)
        ADD_FAILURE() << x << "," << y << std::hex << ": " << shot.Pixel32(x, y) << " vs " << expected;
    }
  EXPECT_EQ(bad, 0);
}

} // namespace
} // namespace kiv
