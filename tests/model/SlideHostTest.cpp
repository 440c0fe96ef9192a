// The slide and its host: slide times and backgrounds read from the project, background drawing (boxes,
// tiled and halved pictures, the mix of two backgrounds), the camera's depth factor, generated pictures and
// their placeholders, show pictures from files, and slides drawn on llvmpipe.

#include "../render/DrawerTestSupport.h"
#include "../support/TestBmp.h"
#include "RecordingDrawer.h"
#include "StoredTextWriter.h"
#include "Assert.h"
#include "StoredGlyphs.h"
#include "CacheImageDecoder.h"
#include "Slide.h"
#include "SlideHost.h"
#include "ShowPicture.h"
#include "Streams.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace kiv {
namespace {

std::unique_ptr<TIniFile> Document(const std::string& text) {
  auto document = std::make_unique<TIniFile>();
  TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
  document->LoadFromStream(stream);
  return document;
}

TSlideHostCallbacks Callbacks(T3DVector camera = {960, 540, -1080}) {
  TSlideHostCallbacks callbacks;
  callbacks.frameRect = [] { return TRect{0, 0, 1920, 1080}; };
  callbacks.camera = [camera] { return camera; };
  callbacks.findSection = [](std::u16string_view) -> const TCommonIniSection* { return nullptr; };
  return callbacks;
}

TRef<TKivSlideHost> Host(TFileAccessor* accessor = nullptr, T3DVector camera = {960, 540, -1080}) {
  return TRef<TKivSlideHost>::Make(accessor, Callbacks(camera), u"Buttons", false);
}

// A slide of W x H placed as the producer places it: its centre at the screen centre.
std::unique_ptr<TKivSlide, TObjDeleter> MakeSlide(TRef<TKivSlideHost> host, float width, float height) {
  auto slide = MakeOwned<TKivSlide>(std::move(host), 0);
  slide->SetSize(width, height);
  slide->SetBaseOrigin({width / 2, height / 2, 0});
  slide->SetTimes(0, 1000, 0, 0);
  slide->SetTime(true, 500);
  return slide;
}

using testing_support::TRecordingDrawer;

// A folder of show files for an accessor, removed with the test.
class TShowFolder {
public:
  TShowFolder() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("kiv_slidehost_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
    accessor_ = TRef<TFileAccessor>::Make(TRef<TFileSource>(TRef<TMappedFileSource>::Make(Path())), Path());
  }
  ~TShowFolder() { std::filesystem::remove_all(path_); }
  std::string Path() const { return path_.string() + "/"; }
  TFileAccessor& Accessor() const { return *accessor_; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
  }
  void WriteBmp(const std::string& name, int width, int height,
                const std::function<uint32_t(int, int)>& pixel) {
    Write(name, test_files::BmpBytes(width, height, pixel));
  }

private:
  std::filesystem::path path_;
  TRef<TFileAccessor> accessor_;
};

// Pictures of any size without files: the source's image providers answer first.
std::unique_ptr<TCallbackHandle> ProvidePicture(TFileAccessor& accessor, std::u16string name, int width,
                                                int height, std::atomic<int>* calls = nullptr) {
  return AddImageProvider(accessor.Source(),
                          [=](TFileSource&, std::u16string_view asked) -> TRef<TCachedBitmap> {
                            if (asked != name) return nullptr;
                            if (calls) ++*calls;
                            return TRef<TCachedBitmap>::Make(width, height);
                          });
}

// Puts a producer in place for one test and gives the former one back.
class TProducerOverride {
public:
  TProducerOverride(std::u16string_view prefix, TGeneratedPictureFunc func)
      : prefix_(prefix), former_(RegisterGeneratedPicture(prefix, std::move(func))) {}
  ~TProducerOverride() { RegisterGeneratedPicture(prefix_, std::move(former_)); }
  TProducerOverride(const TProducerOverride&) = delete;
  TProducerOverride& operator=(const TProducerOverride&) = delete;

private:
  std::u16string prefix_;
  TGeneratedPictureFunc former_;
};

// ---- reading ----

TEST(SlideBackground, ReadFromTheProject) {
  struct TCase {
    const char* what;
    std::string main;
    std::string slide;
    TSlideBackground expected;
  };
  const TCase cases[] = {
      {"UsePersonal without Pers_Fon takes main's keys",
       "opt_bstyle=1\nopt_bname=255\n",
       "UsePersonal=1\nPers_Fon=0\nbstyle=1\nbname=65280\n",
       {0, 255, 0, u"", 100}},
      {"UsePersonal and Pers_Fon take the slide's own keys",
       "opt_bstyle=1\nopt_bname=255\n",
       "UsePersonal=1\nPers_Fon=1\nbstyle=1\nbname=65280\n",
       {0, 65280, 0, u"", 100}},
      {"picture", "opt_bstyle=2\nopt_bname=sea.jpg\nopt_bsize=50\n", "", {3, 0, 0, u"sea.jpg", 50}},
      {"picture without a name stays solid black",
       "opt_bstyle=2\nopt_bname=\nopt_bsize=50\n",
       "",
       {0, 0, 0, u"", 50}},
      {"bcolorstyle 1 is top to bottom",
       "opt_bstyle=3\nopt_bcolorstyle=1\nopt_bcolor1=255\nopt_bcolor2=16711680\n",
       "",
       {2, 255, 16711680, u"", 100}},
      {"bcolorstyle 2 is left to right",
       "opt_bstyle=3\nopt_bcolorstyle=2\nopt_bcolor1=255\nopt_bcolor2=16711680\n",
       "",
       {1, 255, 16711680, u"", 100}},
      {"bcolorstyle 3 reads no colours",
       "opt_bstyle=3\nopt_bcolorstyle=3\nopt_bcolor1=255\nopt_bcolor2=255\n",
       "",
       {0, 0, 0, u"", 100}},
      {"no bstyle reads nothing", "opt_bname=255\n", "", {0, 0, 0, u"", 100}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    auto document = Document("[main]\n" + c.main + "[slide1]\n" + c.slide);
    auto slide = MakeOwned<TKivSlide>(Host(), 0);
    slide->ReadBackground(*document->FindSection(u"main"), document->FindSection(u"slide1"));
    EXPECT_EQ(slide->Background(), c.expected);
  }
}

TEST(SlideLoading, TimesNameAndObjects) {
  auto document = Document("[main]\nopt_synchpos1=4000\nopt_synchpos2=9000\n"
                           "[slide2]\nobject : KeyPoint\n  Time=0\nend\n");
  const TCommonIniSection& main = *document->FindSection(u"main");
  struct TCase {
    int32_t index;
    bool keepTimes;
    double begin, end;
  };
  // Three slides: 0 .. 4000, 4000 .. 9000, 9000 .. 9000 (no fourth position); a dialog has neither.
  const TCase cases[] = {{0, false, 0, 4000},
                         {1, false, 4000, 9000},
                         {2, false, 9000, 9000},
                         {-1, false, 0, 0},
                         {1, true, 123, 456}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.index);
    TRef<TKivSlideHost> host = Host();
    host->SetSlideCount(3);
    auto slide = MakeOwned<TKivSlide>(host, 0);
    slide->SetTimes(123, 456, 0, 0);
    slide->LoadSlide(main, document->FindSection(u"slide2"), c.keepTimes, 700, 300, c.index);
    EXPECT_EQ(slide->Begin(), c.begin);
    EXPECT_EQ(slide->End(), c.end);
    EXPECT_EQ(slide->EffectIn(), 300);
    EXPECT_EQ(slide->EffectOut(), 700);
    EXPECT_EQ(slide->GetAnchorTime(kAnchorPrevEffectEnd), c.begin + 300);
    EXPECT_EQ(slide->GetAnchorTime(kAnchorSlideEnd), c.end + 700);
    EXPECT_EQ(slide->SlideIndex(), c.index);
    EXPECT_EQ(slide->SlideName(), u"slide2");
    EXPECT_EQ(slide->KeyPoints().Count(), 1);
  }
}

TEST(SlideLoading, TracksIsTheVideoContainerOfMain) {
  auto document =
      Document("[main]\nopt_x=1\nobject Music: Music\n  A=1\nend\nobject Tracks: VideoBoss\n  B=2\nend\n"
               "[tracks]\nC=3\n[slide1]\nD=4\n");
  const TCommonIniSection* tracks = FindSlideSection(*document, u"tracks");
  ASSERT_NE(tracks, nullptr);
  EXPECT_EQ(tracks->ReadInteger(u"B", 0), 2);
  const TCommonIniSection* slide = FindSlideSection(*document, u"slide1");
  ASSERT_NE(slide, nullptr);
  EXPECT_EQ(slide->ReadInteger(u"D", 0), 4);
  EXPECT_EQ(FindSlideSection(*document, u"slide9"), nullptr);
}

// ---- host ----

TEST(SlideHost, RequiresTheProducerCallbacks) {
  for (int missing = 0; missing < 3; ++missing) {
    TSlideHostCallbacks callbacks = Callbacks();
    if (missing == 0) callbacks.frameRect = nullptr;
    if (missing == 1) callbacks.camera = nullptr;
    if (missing == 2) callbacks.findSection = nullptr;
    EXPECT_THROW(TRef<TKivSlideHost>::Make(nullptr, callbacks, u"", false), EAssertion) << missing;
  }
  TSlideHostCallbacks callbacks = Callbacks();
  callbacks.custom = nullptr; // optional
  EXPECT_NO_THROW(TRef<TKivSlideHost>::Make(nullptr, callbacks, u"", false));
}

TEST(SlideHost, GeneratedPicturesByPrefix) {
  TRef<TKivSlideHost> host = Host();
  std::u16string asked;
  {
    TProducerOverride text(kTextPicturePrefix, [&asked](TKivSlideHost&, std::u16string_view rest) {
      asked = rest;
      return TRef<TCachedBitmap>::Make(7, 3);
    });
    TRef<TCachedBitmap> picture = host->GetGeneratedPicture(u"Text: Hello|Arial");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Width(), 7);
    EXPECT_EQ(asked, u"Hello|Arial");
  }

  // A producer that fails, or none at all, gives the named stand-in for texts and the effect buffer only.
  TProducerOverride failing(kTextPicturePrefix,
                            [](TKivSlideHost&, std::u16string_view) -> TRef<TCachedBitmap> {
                              throw std::runtime_error("no font");
                            });
  TProducerOverride noSized(kSizedTextPicturePrefix, nullptr);
  TProducerOverride noBuffer(kEffectBufferPictureName, nullptr);
  TProducerOverride noShadow(kShadowPicturePrefix, nullptr);
  TProducerOverride noMask(kMaskPicturePrefix, nullptr);
  TProducerOverride noPreset(kPresetMaskPicturePrefix, nullptr);
  struct TCase {
    const char16_t* name;
    std::u16string_view placeholder; // empty: no picture
  };
  const TCase cases[] = {{u"Text: Hello", kTextPlaceholder},
                         {u"TextWithSize:12|Hello", kSizedTextPlaceholder},
                         {u"SlideEffectBuffer", kEffectBufferPlaceholder},
                         {u"Shadow: 16|a.jpg", u""},
                         {u"Mask: a.jpg", u""},
                         {u"PresetedMask:star", u""}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    TRef<TCachedBitmap> picture = host->GetGeneratedPicture(c.name);
    if (c.placeholder.empty()) {
      EXPECT_FALSE(picture);
      continue;
    }
    auto* named = dynamic_cast<TNamedBitmap*>(picture.get());
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->Name(), c.placeholder);
  }
}

TEST(SlideHost, OffersGeneratedPicturesToTheShowFiles) {
  TShowFolder show;
  TRef<TKivSlideHost> host = Host(&show.Accessor());
  TProducerOverride button(kButtonPicturePrefix, [](TKivSlideHost&, std::u16string_view rest) {
    return TRef<TCachedBitmap>::Make(static_cast<int>(rest.size()), 2);
  });
  TOwned<TKivImage> image = LoadSharedImage(show.Accessor(), u"Button: aqua|120");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Bitmap().Width(), 8);
  // Other names are the files' own business.
  show.WriteBmp("plain.bmp", 3, 2, [](int, int) { return 0xFF0000u; });
  InstallImageDecoder();
  TOwned<TKivImage> plain = LoadSharedImage(show.Accessor(), u"plain.bmp");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Bitmap().Width(), 3);
}

TEST(SlideHost, CameraGivesTheDepthFactor) {
  constexpr float kTan30 = 0.57735026919f;
  struct TCase {
    T3DVector camera;
    float slideHeight;
    float depthFactor;
  };
  const TCase cases[] = {{{960, 540, -1080}, 1080, kTan30},
                         {{960, 540, -1080}, 540, 2 * kTan30},
                         {{960, 540, 0}, 1080, kTan30},
                         {{960, 540, 100}, 1080, kTan30}};
  for (const TCase& c : cases) {
    auto slide = MakeSlide(Host(nullptr, c.camera), 1920, c.slideHeight);
    slide->UpdateGeometry(true);
    EXPECT_NEAR(slide->DepthFactor(), c.depthFactor, 1e-5f) << c.camera.z << " " << c.slideHeight;
  }
}

// A glyph cache stream of one font with one glyph: enough for the font cache to hold something.
std::vector<uint8_t> OneGlyphFont() {
  std::vector<uint8_t> bytes;
  auto put = [&bytes](auto value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof value);
  };
  put(int32_t(1));
  put(int32_t(1));
  put(uint16_t(u'Q'));
  put(uint16_t(7));
  for (int32_t v : {0, 10, 2, 10, 0})
    put(v);
  put(100.0f);
  put(int32_t(2));
  put(0.0f), put(0.0f), put(int32_t(kPtMoveTo));
  put(10.0f), put(0.0f), put(int32_t(kPtLineTo));
  return bytes;
}

TEST(SlideHost, ShowsExeGuidKeysTheFontCache) {
  struct TCase {
    const char* exeGuid; // nullptr: no such file
    int fontsLeft;
  };
  // The show's key is the running one (line end and all): its glyphs stay; another key drops them, and so
  // does a show without the file (keyed by its source).
  const TCase cases[] = {{"{0A1B}\r\n", 1}, {nullptr, 0}, {"{FFFF}", 0}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.exeGuid ? c.exeGuid : "none");
    TShowFolder show;
    if (c.exeGuid) show.Write("ExeGUID", c.exeGuid);
    TRef<TKivSlideHost> host = Host(&show.Accessor());
    EXPECT_EQ(host->Fonts().Size(), 0);
    TMemoryStream font(OneGlyphFont());
    ASSERT_TRUE(host->Fonts().Load(font));
    host->Fonts().SetKey(u"{0A1B}");
    EXPECT_EQ(host->Fonts().Size(), c.fontsLeft);
  }
}

TEST(SlideHost, StoredTextLayoutsAndTheirGlyphCachesComeFromTheShow) {
  std::string error;
  const std::optional<TStoredText> stored =
      MakeStoredText(std::string(KIV_TEST_MEDIA) + "/fonts/go/Go-Regular.ttf", u"Kiv Stencil", {u"Hi"}, error);
  ASSERT_TRUE(stored) << error;
  TShowFolder show;
  show.Write("{LAYOUT}", std::string(stored->layout.begin(), stored->layout.end()));
  show.Write("VectTextCache: Kiv Stencil", std::string(stored->glyphCache.begin(), stored->glyphCache.end()));
  show.Write("{BROKEN}", "not a layout");
  TRef<TKivSlideHost> host = Host(&show.Accessor());

  TOwned<TCachedVectorText> text = host->LoadStoredText(u"{LAYOUT}");
  ASSERT_TRUE(text);
  ASSERT_EQ(text->GlyphCount(0), 2);
  EXPECT_TRUE(text->GlyphMetrics(0, 0).present); // its font's glyphs were loaded from the show
  EXPECT_EQ(host->Fonts().Size(), 1);
  ASSERT_TRUE(host->LoadStoredText(u"{LAYOUT}"));
  EXPECT_EQ(host->Fonts().Size(), 1); // once per font
  EXPECT_FALSE(host->LoadStoredText(u"{MISSING}"));
  EXPECT_FALSE(host->LoadStoredText(u"{BROKEN}"));
  EXPECT_FALSE(host->LoadStoredText(u""));
}

// Two shows open in one process, each with its own glyphs under one font name (and the same ExeGUID): each
// show's texts are drawn from its own glyphs, whichever show loaded its font last.
TEST(SlideHost, TwoShowsKeepTheirOwnGlyphsOfOneFontName) {
  std::string error;
  const std::string font = std::string(KIV_TEST_MEDIA) + "/fonts/go/Go-Regular.ttf";
  const std::optional<TStoredText> wide = MakeStoredText(font, u"Kiv Stencil", {u"W"}, error);
  const std::optional<TStoredText> narrow = MakeStoredText(font, u"Kiv Stencil", {u"i"}, error);
  ASSERT_TRUE(wide && narrow) << error;
  TShowFolder first, second;
  for (auto [show, stored] : {std::pair{&first, &*wide}, std::pair{&second, &*narrow}}) {
    show->Write("ExeGUID", "{0A1B}");
    show->Write("{LAYOUT}", std::string(stored->layout.begin(), stored->layout.end()));
    show->Write("VectTextCache: Kiv Stencil",
                std::string(stored->glyphCache.begin(), stored->glyphCache.end()));
  }
  TRef<TKivSlideHost> firstHost = Host(&first.Accessor());
  TRef<TKivSlideHost> secondHost = Host(&second.Accessor());
  TOwned<TCachedVectorText> firstText = firstHost->LoadStoredText(u"{LAYOUT}");
  TOwned<TCachedVectorText> secondText = secondHost->LoadStoredText(u"{LAYOUT}");
  ASSERT_TRUE(firstText && secondText);
  const TGlyphMetrics w = firstText->GlyphMetrics(0, 0), i = secondText->GlyphMetrics(0, 0);
  ASSERT_TRUE(w.present && i.present);
  EXPECT_GT(w.b, 2 * i.b); // "W" is far wider than "i"
  EXPECT_EQ(firstHost->Fonts().Size(), 1);
  EXPECT_EQ(secondHost->Fonts().Size(), 1);
}

// ---- background rules ----

TEST(SlideBackground, HalvingStopsWhenNothingChanges) {
  struct TCase {
    int32_t width, height;
    float tileWidth, tileHeight;
    TSize expected;
  };
  const TCase cases[] = {
      {4000, 3000, 1600, 1200, {2000, 1500}},
      {4000, 3000, 800, 600, {1000, 750}},
      {1600, 1200, 1600, 1200, {1600, 1200}},
      {7, 5, 1, 1, {1, 1}},
      {7, 5, 1.5f, 1.5f, {2, 2}},
      {7, 5, 0.3f, 0.2f, {1, 1}},
      {7, 5, 0, 0, {1, 1}},
  };
  for (const TCase& c : cases) {
    const TSize got = HalvedBackgroundSize(c.width, c.height, c.tileWidth, c.tileHeight);
    EXPECT_EQ(got, c.expected) << c.width << "x" << c.height << " tiles " << c.tileWidth << "x"
                               << c.tileHeight;
  }
}

TEST(SlideBackground, TileSizeAndKey) {
  T2DVector tile = BackgroundTileSize(1600, 1200, 4000, 3000, 100);
  EXPECT_FLOAT_EQ(tile.x, 1600);
  EXPECT_FLOAT_EQ(tile.y, 1200);
  // A wider slide than picture: the picture spans the width and is cut at top and bottom.
  tile = BackgroundTileSize(1920, 1080, 400, 300, 100);
  EXPECT_FLOAT_EQ(tile.x, 1920);
  EXPECT_FLOAT_EQ(tile.y, 1440);
  // A taller slide than picture: the picture spans the height.
  tile = BackgroundTileSize(1000, 2000, 200, 100, 50);
  EXPECT_FLOAT_EQ(tile.y, 1000);
  EXPECT_FLOAT_EQ(tile.x, 2000);
  tile = BackgroundTileSize(1600, 1200, 4000, 3000, 0);
  EXPECT_EQ(tile.x, 0);
  EXPECT_EQ(BackgroundPictureKey(100, u"sea.jpg"), u"SlideBg: 100:sea.jpg");
  EXPECT_EQ(BackgroundPictureKey(12.5f, u"a b.png"), u"SlideBg: 12.5:a b.png");
  EXPECT_EQ(FirstBackgroundAlpha(0), 255);
  EXPECT_EQ(FirstBackgroundAlpha(0.25f), 191);
  EXPECT_EQ(FirstBackgroundAlpha(1), 0);
}

// ---- background drawing ----

TEST(SlideBackground, SolidBoxCoversTheFrameGrownByTwoPixels) {
  auto slide = MakeSlide(Host(), 1600, 1200);
  auto document = Document("[main]\nopt_bstyle=1\nopt_bname=255\n");
  slide->ReadBackground(*document->FindSection(u"main"), nullptr);
  TRecordingDrawer drawer;
  slide->Draw(drawer);
  ASSERT_EQ(drawer.boxes.size(), 1u);
  const auto& box = drawer.boxes[0];
  EXPECT_FLOAT_EQ(box.placement.x, -2);
  EXPECT_FLOAT_EQ(box.placement.y, -2);
  EXPECT_FLOAT_EQ(box.xAxis.x, 1604);
  EXPECT_FLOAT_EQ(box.xAxis.y, 0);
  EXPECT_FLOAT_EQ(box.yAxis.x, 0);
  EXPECT_FLOAT_EQ(box.yAxis.y, 1204);
  EXPECT_EQ(box.params.fillType, 8);
  EXPECT_EQ(box.params.color1, 0xFFFF0000u);
  EXPECT_FLOAT_EQ(box.params.opacity, 100);
  EXPECT_EQ(box.params.width, 1);

  // Outside its time the slide draws no background.
  slide->SetTime(true, 5000);
  drawer.boxes.clear();
  slide->Draw(drawer);
  EXPECT_TRUE(drawer.boxes.empty());
}

TEST(SlideBackground, MixDrawsBothWithComplementaryAlphas) {
  auto slide = MakeSlide(Host(), 1600, 1200);
  auto document = Document("[main]\nopt_bstyle=1\nopt_bname=255\n");
  slide->ReadBackground(*document->FindSection(u"main"), nullptr);
  TSlideBackground gradient;
  gradient.kind = 1;
  gradient.color1 = 0x00FF00;
  gradient.color2 = 0xFF0000;
  slide->SetSecondBackground(gradient, 0.25f);
  TRecordingDrawer drawer;
  slide->Draw(drawer);
  ASSERT_EQ(drawer.boxes.size(), 2u);
  EXPECT_EQ(drawer.boxes[0].params.fillType, 8);
  EXPECT_EQ(drawer.boxes[0].params.color1, 0xBFFF0000u);
  EXPECT_NEAR(drawer.boxes[0].params.opacity, 191.0 / 255 * 100, 1e-3);
  EXPECT_EQ(drawer.boxes[1].params.fillType, 6);
  EXPECT_EQ(drawer.boxes[1].params.color1, 0x4000FF00u);
  EXPECT_EQ(drawer.boxes[1].params.color2, 0x400000FFu);
  EXPECT_FLOAT_EQ(drawer.boxes[1].params.opacity, 100);

  // At mix 1 only the second remains, opaque.
  slide->SetSecondBackground(gradient, 1);
  drawer.boxes.clear();
  slide->Draw(drawer);
  ASSERT_EQ(drawer.boxes.size(), 1u);
  EXPECT_EQ(drawer.boxes[0].params.color1, 0xFF00FF00u);
}

class SlidePictureBackground : public ::testing::Test {
protected:
  void Use(float size, const std::string& name = "big.jpg") {
    auto document =
        Document("[main]\nopt_bstyle=2\nopt_bname=" + name + "\nopt_bsize=" + std::to_string(size) + "\n");
    slide->ReadBackground(*document->FindSection(u"main"), nullptr);
  }

  TShowFolder show;
  std::atomic<int> loads{0};
  std::unique_ptr<TCallbackHandle> provider = ProvidePicture(show.Accessor(), u"big.jpg", 4000, 3000, &loads);
  std::unique_ptr<TCallbackHandle> smallProvider = ProvidePicture(show.Accessor(), u"small.jpg", 400, 300);
  std::unique_ptr<TKivSlide, TObjDeleter> slide = MakeSlide(Host(&show.Accessor()), 1600, 1200);
};

TEST_F(SlidePictureBackground, HalvedOnceAndTiledThreeByThree) {
  Use(100);
  TRecordingDrawer drawer;
  slide->Prepare(drawer);
  ASSERT_EQ(drawer.prepared.size(), 1u);
  slide->Draw(drawer);
  ASSERT_EQ(drawer.images.size(), 9u);
  auto* picture = dynamic_cast<TKivPicture*>(drawer.images[0].image);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->Width(), 2000);
  EXPECT_EQ(picture->Height(), 1500);
  EXPECT_EQ(drawer.prepared[0], picture);
  // Row by row from the top left; the middle one covers the frame.
  const auto& middle = drawer.images[4];
  EXPECT_FLOAT_EQ(middle.placement.x, 800);
  EXPECT_FLOAT_EQ(middle.placement.y, 600);
  EXPECT_FLOAT_EQ(middle.pivot.x, 1000);
  EXPECT_FLOAT_EQ(middle.pivot.y, 750);
  EXPECT_FLOAT_EQ(middle.xAxis.x * 2000, 1600);
  EXPECT_FLOAT_EQ(middle.yAxis.y * 1500, 1200);
  EXPECT_FLOAT_EQ(middle.params.opacity, 100);
  EXPECT_FLOAT_EQ(drawer.images[0].placement.x, -800);
  EXPECT_FLOAT_EQ(drawer.images[0].placement.y, -600);
  EXPECT_FLOAT_EQ(drawer.images[8].placement.x, 2400);
  // Found again under its key: no second load, and the same picture (textures live with it).
  drawer.images.clear();
  slide->Draw(drawer);
  EXPECT_EQ(drawer.images[0].image, picture);
  EXPECT_EQ(loads.load(), 1);
  EXPECT_EQ(slide->BackgroundPictureCount(), 1);
}

TEST_F(SlidePictureBackground, HalfSizeRepeatsAroundTheMiddle) {
  Use(50);
  TRecordingDrawer drawer;
  slide->Draw(drawer);
  ASSERT_EQ(drawer.images.size(), 9u);
  auto* picture = dynamic_cast<TKivPicture*>(drawer.images[0].image);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->Width(), 1000);
  EXPECT_EQ(picture->Height(), 750);
  EXPECT_FLOAT_EQ(drawer.images[4].xAxis.x * 1000, 800);
  EXPECT_FLOAT_EQ(drawer.images[3].placement.x, 0);
  EXPECT_FLOAT_EQ(drawer.images[5].placement.x, 1600);
  EXPECT_FLOAT_EQ(drawer.images[1].placement.y, 0);
}

TEST_F(SlidePictureBackground, KeepsAtMostTwoPictures) {
  TRecordingDrawer drawer;
  for (float size : {100.0f, 50.0f, 25.0f, 100.0f}) {
    Use(size, "small.jpg");
    slide->Draw(drawer);
  }
  EXPECT_EQ(slide->BackgroundPictureCount(), 2);
}

TEST_F(SlidePictureBackground, AskedBeforeTheSlideHasASizeIsNotKept) {
  Use(100, "small.jpg");
  slide->SetSize(0, 0);
  TRef<TKivPicture> early = slide->GetBackgroundPicture(slide->Background());
  ASSERT_TRUE(early);
  EXPECT_EQ(early->Width(), 400);
  EXPECT_EQ(slide->BackgroundPictureCount(), 0);
  slide->SetSize(160, 120);
  TRef<TKivPicture> sized = slide->GetBackgroundPicture(slide->Background());
  ASSERT_TRUE(sized);
  EXPECT_EQ(sized->Width(), 200); // halved once for 160 x 120 tiles
  EXPECT_EQ(slide->BackgroundPictureCount(), 1);
}

TEST_F(SlidePictureBackground, SubPixelTilesAreNotDrawn) {
  Use(0.001f, "small.jpg");
  TRecordingDrawer drawer;
  slide->Draw(drawer);
  EXPECT_TRUE(drawer.images.empty());
  Use(0, "small.jpg");
  slide->Draw(drawer);
  EXPECT_TRUE(drawer.images.empty());
}

TEST_F(SlidePictureBackground, SmallTilesAreBounded) {
  Use(1, "small.jpg"); // 16 x 12 pixel tiles: 50 either side of the centre
  TRecordingDrawer drawer;
  drawer.keepImages = false;
  slide->Draw(drawer);
  EXPECT_EQ(drawer.imageCount, 101u * 101u);
  Use(0.1f, "small.jpg"); // 1.6 x 1.2 pixel tiles would need 500 either side
  drawer.imageCount = 0;
  slide->Draw(drawer);
  EXPECT_GT(drawer.imageCount, 0u);
  EXPECT_LE(drawer.imageCount, 513u * 513u);
}

// ---- show pictures ----

TEST(KivPicture, FromFileMissingFileAndGeneratedName) {
  InstallImageDecoder();
  TShowFolder show;
  show.WriteBmp("four.bmp", 2, 2,
                [](int x, int y) { return x == 0 ? (y == 0 ? 0xFF0000u : 0x00FF00u) : 0x0000FFu; });
  TRef<TKivSlideHost> host = Host(&show.Accessor());

  TRef<TKivPicture> picture = LoadKivPicture(*host, u"four.bmp");
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width(), 2);
  EXPECT_EQ(picture->Bitmap().Pixel32(0, 0), 0xFFFF0000u);
  EXPECT_EQ(picture->Bitmap().Pixel32(0, 1), 0xFF00FF00u);
  EXPECT_EQ(picture->Bitmap().Pixel32(1, 1), 0xFF0000FFu);

  TRef<TKivPicture> missing = LoadKivPicture(*host, u"gone.jpg");
  TRef<TCachedBitmap> expected = MakeErrorBitmap(ErrorPictureLines(TMediaKind::Image, false, u"gone.jpg"));
  if (!expected) GTEST_SKIP() << "no font can be opened for the error picture";
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->Width(), expected->Width());
  EXPECT_EQ(missing->Height(), expected->Height());
  EXPECT_EQ(missing->Source()->Pixels(), expected->Pixels());
  // Yellow text on blue.
  const std::vector<uint32_t>& pixels = expected->Pixels();
  EXPECT_EQ(pixels.front(), 0xFF0000FFu);
  EXPECT_NE(std::find(pixels.begin(), pixels.end(), 0xFFFFFF00u), pixels.end());
  // Kept by the cache like any picture: a second lookup gets the same one.
  EXPECT_EQ(LoadKivPicture(*host, u"gone.jpg")->Source().get(), missing->Source().get());

  // A file that is there but cannot be decoded says so.
  show.Write("broken.jpg", "not a picture");
  TRef<TKivPicture> broken = LoadKivPicture(*host, u"broken.jpg");
  TRef<TCachedBitmap> brokenExpected =
      MakeErrorBitmap(ErrorPictureLines(TMediaKind::Image, true, u"broken.jpg"));
  ASSERT_TRUE(broken);
  EXPECT_EQ(broken->Source()->Pixels(), brokenExpected->Pixels());
  EXPECT_NE(broken->Source()->Pixels(), missing->Source()->Pixels());

  TProducerOverride textProducer(kTextPicturePrefix, [](TKivSlideHost&, std::u16string_view) {
    return TRef<TCachedBitmap>::Make(5, 4, std::vector<uint32_t>(20, 0x80FFFFFFu));
  });
  TRef<TKivPicture> text = LoadKivPicture(*host, u"Text: Hi");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->Width(), 5);
  EXPECT_EQ(text->Bitmap().Pixel32(4, 3), 0x80FFFFFFu);
  // A generated picture that cannot be made is no error picture, just none.
  TProducerOverride noShadow(kShadowPicturePrefix, nullptr);
  EXPECT_FALSE(LoadKivPicture(*host, u"Shadow: 16|four.bmp"));
}

TEST(KivPicture, FilesComeAtTheLevelOfTheirWantedSizeGeneratedOnesAsMade) {
  InstallImageDecoder();
  TShowFolder show;
  // Left half red, right half blue.
  show.WriteBmp("eight.bmp", 8, 6, [](int x, int) { return x < 4 ? 0xFF0000u : 0x0000FFu; });
  TRef<TKivSlideHost> host = Host(&show.Accessor());
  TPictureSize asked;
  TRef<TKivPicture> picture = LoadKivPicture(*host, u"eight.bmp", [&](TPictureSize full) {
    asked = full;
    return TPictureSize{2, 2};
  });
  ASSERT_TRUE(picture);
  EXPECT_EQ(asked, (TPictureSize{8, 6}));
  EXPECT_EQ(picture->Level(), 1);
  EXPECT_EQ(picture->Width(), 8); // the full picture's size
  EXPECT_EQ(picture->Height(), 6);
  EXPECT_EQ(picture->Bitmap().Width(), 4);
  EXPECT_EQ(picture->Bitmap().Height(), 3);
  EXPECT_EQ(picture->Bitmap().Pixel32(1, 2), 0xFFFF0000u);
  EXPECT_EQ(picture->Bitmap().Pixel32(2, 0), 0xFF0000FFu);

  TProducerOverride textProducer(kTextPicturePrefix, [](TKivSlideHost&, std::u16string_view) {
    return TRef<TCachedBitmap>::Make(50, 40, std::vector<uint32_t>(2000, 0x80FFFFFFu));
  });
  int calls = 0;
  TRef<TKivPicture> text = LoadKivPicture(*host, u"Text: Hi", [&](TPictureSize) {
    ++calls;
    return TPictureSize{5, 4};
  });
  ASSERT_TRUE(text);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(text->Level(), 0);
  EXPECT_EQ(text->Bitmap().Width(), 50);
}

// ---- on llvmpipe ----

class SlideOnScreen : public ::testing::Test {
protected:
  static constexpr int kWidth = 64, kHeight = 48;
  void SetUp() override {
    std::string whyNot;
    if (!HeadlessGLAvailable(&whyNot))
      GTEST_SKIP() << "no headless EGL display, GL tests skipped: " << whyNot;
    rig = std::make_unique<test::TDrawerRig>(kWidth, kHeight);
  }
  void TearDown() override {
    // The drawer's textures go with the drawer.
    for (auto& picture : pictures)
      rig->drawer->ReleaseImage(*picture);
    pictures.clear();
    slide.reset();
    rig.reset();
  }
  TDevBitmap Draw() {
    slide->Prepare(*rig->drawer);
    if (TRef<TKivPicture> picture = slide->GetBackgroundPicture(slide->Background()))
      pictures.push_back(picture);
    return rig->Frame([&](TDeviceDrawer& d) { d.DrawItem(*slide); });
  }
  static void ExpectNear(uint32_t got, uint32_t expected, int tolerance, const char* where) {
    for (int shift : {0, 8, 16})
      EXPECT_NEAR(test::Channel(got, shift), test::Channel(expected, shift), tolerance)
          << where << std::hex << " got " << got << " expected " << expected;
  }

  std::unique_ptr<test::TDrawerRig> rig;
  TShowFolder show;
  std::unique_ptr<TKivSlide, TObjDeleter> slide;
  std::vector<TRef<TKivPicture>> pictures;
};

TEST_F(SlideOnScreen, VerticalGradientBackground) {
  slide = MakeSlide(Host(&show.Accessor(), {32, 24, -48}), kWidth, kHeight);
  auto document =
      Document("[main]\nopt_bstyle=3\nopt_bcolorstyle=1\nopt_bcolor1=255\nopt_bcolor2=16711680\n");
  slide->ReadBackground(*document->FindSection(u"main"), nullptr);
  const TDevBitmap frame = Draw();
  // Red at the top, blue at the bottom, halfway between in the middle; the same along each row.
  ExpectNear(frame.Pixel32(10, 0), 0xFFFF0000u, 16, "top");
  ExpectNear(frame.Pixel32(50, 47), 0xFF0000FFu, 16, "bottom");
  ExpectNear(frame.Pixel32(32, 24), 0xFF7F007Fu, 16, "middle");
  ExpectNear(frame.Pixel32(0, 24), frame.Pixel32(63, 24), 1, "along a row");
}

TEST_F(SlideOnScreen, PictureBackgroundCoversAndRepeats) {
  InstallImageDecoder();
  // Four quadrants of 16 x 12: red, green / blue, white.
  show.WriteBmp("quad.bmp", 32, 24, [](int x, int y) {
    return y < 12 ? (x < 16 ? 0xFF0000u : 0x00FF00u) : (x < 16 ? 0x0000FFu : 0xFFFFFFu);
  });
  slide = MakeSlide(Host(&show.Accessor(), {32, 24, -48}), kWidth, kHeight);
  auto document = Document("[main]\nopt_bstyle=2\nopt_bname=quad.bmp\nopt_bsize=100\n");
  slide->ReadBackground(*document->FindSection(u"main"), nullptr);
  const TDevBitmap frame = Draw();
  ExpectNear(frame.Pixel32(8, 6), 0xFFFF0000u, 8, "top left");
  ExpectNear(frame.Pixel32(56, 6), 0xFF00FF00u, 8, "top right");
  ExpectNear(frame.Pixel32(8, 42), 0xFF0000FFu, 8, "bottom left");
  ExpectNear(frame.Pixel32(56, 42), 0xFFFFFFFFu, 8, "bottom right");

  // At half size the picture shows four times, centred: quadrants of 16 x 12 on screen.
  document = Document("[main]\nopt_bstyle=2\nopt_bname=quad.bmp\nopt_bsize=50\n");
  slide->ReadBackground(*document->FindSection(u"main"), nullptr);
  const TDevBitmap repeated = Draw();
  ExpectNear(repeated.Pixel32(4, 3), 0xFFFFFFFFu, 8, "corner tile, bottom right quadrant");
  ExpectNear(repeated.Pixel32(20, 15), 0xFFFF0000u, 8, "middle tile, top left quadrant");
  ExpectNear(repeated.Pixel32(44, 33), 0xFFFFFFFFu, 8, "middle tile, bottom right quadrant");
  ExpectNear(repeated.Pixel32(60, 45), 0xFFFF0000u, 8, "corner tile, top left quadrant");
}

} // namespace
} // namespace kiv
