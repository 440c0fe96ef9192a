// The slide object tree: loading, placement, time window, hide rules, hit testing, reload and drawing.
#include "../support/TestEnvironment.h"
#include "RecordingDrawer.h"
#include "Assert.h"
#include "Log.h"
#include "ObjectFactory.h"
#include "Slide.h"
#include "Streams.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace kiv;

std::u16string U(std::string_view text) {
  return Utf8ToUtf16(text);
}
std::string A(std::u16string_view text) {
  return Utf16ToUtf8(text);
}

// Records which items the objects hand to the drawer and what their content asks of it.
class TLoggingDrawer : public testing_support::TRecordingDrawer {
public:
  bool DrawItem(TDrawItem& item) override {
    auto& object = dynamic_cast<TKivObject&>(item);
    if (declineAfter == 0) {
      log.push_back("declined " + A(object.Name()));
      return false;
    }
    if (declineAfter > 0) --declineAfter;
    log.push_back("item " + A(object.Name()));
    item.Draw(*this);
    return true;
  }

  std::vector<std::string> log;
  int declineAfter = -1; // items drawn before the drawer declines; -1 never
};

int gLiveBoxes = 0;

// A content kind for the tests: a box of the size its "Size" key gives, drawing through the recorder.
class TTestBox : public TKivObject {
public:
  TTestBox(TKivObject* parent, std::u16string guid) : TKivObject(parent, std::move(guid)) { ++gLiveBoxes; }
  ~TTestBox() override { --gLiveBoxes; }

  void LoadFromNode(const TCommonIniSection& node, bool reload) override {
    const TIniPoint size = node.ReadPoint(u"Size", {100, 100});
    SetSize(static_cast<float>(size.x), static_cast<float>(size.y));
    failDraw = node.ReadBool(u"FailDraw", false);
    TKivObject::LoadFromNode(node, reload);
  }
  void DrawContent(TDeviceDrawer& drawer) override {
    auto& recorder = dynamic_cast<TLoggingDrawer&>(drawer);
    if (failDraw) throw std::runtime_error("broken picture");
    recorder.log.push_back("content " + A(Name()) + (CanDraw() ? "" : " (not drawable)"));
  }
  void PrepareContent(TDeviceDrawer& drawer) override {
    dynamic_cast<TLoggingDrawer&>(drawer).log.push_back("prepare " + A(Name()));
    if (failDraw) throw std::runtime_error("unreadable picture");
  }

  bool failDraw = false;
};

TOwned<TKivObject> MakeBox(TKivObject* parent, std::u16string guid) {
  return MakeOwned<TTestBox>(parent, std::move(guid));
}

class TQuietAssertions {
public:
  TQuietAssertions() : old_(SetAssertionSink([](const std::string&) {})) {}
  ~TQuietAssertions() { SetAssertionSink(old_); }

private:
  TAssertionSink old_;
};

class KivObjects : public ::testing::Test {
protected:
  void SetUp() override {
    previous_ = RegisterKivObjectKind(u"box", &MakeBox);
    host_ = TRef<TKivSlideHost>::Make([this] { return camera_; });
  }
  void TearDown() override { RegisterKivObjectKind(u"box", previous_); }

  // A slide of W x H at the centre of a W x H screen, its objects read from `section`.
  TOwned<TKivSlide> LoadSlide(std::string_view section, bool reuse = false) {
    const std::string text = "\xEF\xBB\xBF[slide]\n" + std::string(section);
    TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_TRUE(doc_.LoadFromStream(stream));
    if (!reuse || !slide_) {
      slide_ = MakeOwned<TKivSlide>(host_, 0);
      slide_->SetSize(kWidth, kHeight);
      slide_->SetBaseOrigin({kWidth / 2, kHeight / 2, 0});
    }
    slide_->LoadChildren(*doc_.FindSection(u"slide"), reuse);
    return std::move(slide_);
  }

  static constexpr float kWidth = 800;
  static constexpr float kHeight = 600;
  T3DVector camera_{kWidth / 2, kHeight / 2, -kHeight};
  TRef<TKivSlideHost> host_;
  TIniFile doc_;
  TOwned<TKivSlide> slide_;
  TKivObjectMaker previous_ = nullptr;
};

TEST_F(KivObjects, LoadsKeysWithTheirDefaults) {
  auto slide = LoadSlide("object First: Box\n"
                         "  GUID={11111111-2222-3333-4444-555555555555}\n"
                         "  FitMode=cover\n  PosMode=Absolute\n  CenterMode=ABSOLUTE\n"
                         "  DeltaTime1=100\n  DeltaTime2=200.5\n  TranspForClick=1\n  TreeNode=0\n"
                         "  ShadowEnable=1\n  ShadowColor=1,2,3\n  ShadowAngle=30\n  3DShadow=1\n"
                         "  HideMode=3\n  ChildInvis=1\n  Action=runapp(x)\n  PerspectiveCorrection=1\n"
                         "end\n"
                         "object Second: BOX\nend\n");
  ASSERT_EQ(slide->ChildCount(), 2);
  const TKivObject& first = slide->Child(0);
  EXPECT_EQ(A(first.Name()), "First");
  EXPECT_EQ(A(first.GUID()), "{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(first.FitMode(), TFitMode::Cover);
  EXPECT_EQ(first.PosMode(), TPosMode::Absolute);
  EXPECT_EQ(first.CenterMode(), TPosMode::Absolute);
  EXPECT_EQ(first.DeltaTime1(), 100);
  EXPECT_EQ(first.DeltaTime2(), 200.5);
  EXPECT_TRUE(first.TranspForClick());
  EXPECT_FALSE(first.TreeNode());
  EXPECT_TRUE(first.Shadow().enable);
  EXPECT_EQ(first.Shadow().color, (TIniRGB{3, 2, 1}));
  EXPECT_EQ(first.Shadow().angle, 30);
  EXPECT_TRUE(first.Shadow().shadow3D);
  EXPECT_EQ(first.HideMode(), 3);
  EXPECT_TRUE(first.ChildInvis());
  EXPECT_EQ(A(first.Action()), "runapp(x)");
  EXPECT_TRUE(first.KeyPoints().PerspectiveCorrection());

  const TKivObject& second = slide->Child(1);
  EXPECT_EQ(A(second.ObjectType()), "box");
  EXPECT_EQ(second.FitMode(), TFitMode::PlaceInto);
  EXPECT_EQ(second.PosMode(), TPosMode::Percent);
  EXPECT_EQ(second.CenterMode(), TPosMode::Percent);
  EXPECT_FALSE(second.TranspForClick());
  EXPECT_TRUE(second.TreeNode());
  const TShadowKeys& shadow = second.Shadow();
  EXPECT_FALSE(shadow.enable);
  EXPECT_EQ(shadow.size, 16);
  EXPECT_EQ(shadow.color, (TIniRGB{0, 0, 0}));
  EXPECT_EQ(shadow.opacity, 59);
  EXPECT_EQ(shadow.distance, 1.5f);
  EXPECT_EQ(shadow.angle, 45);
  EXPECT_EQ(shadow.spreadIndex, 0);
  EXPECT_FALSE(shadow.shadow3D);
  EXPECT_EQ(second.HideMode(), 0);
  EXPECT_FALSE(second.ChildInvis());
  // A generated GUID: braces around 8-4-4-4-12 hex digits.
  const std::string guid = A(second.GUID());
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), '{');
  EXPECT_EQ(guid.back(), '}');
  EXPECT_EQ(guid[9], '-');
  EXPECT_EQ(guid[24], '-');
}

TEST_F(KivObjects, LoadsKeyPointsAndSkipsUnknownTypes) {
  auto slide = LoadSlide("object Pic: box\n"
                         "  object : KeyPoint\n    Time=1000\n    Opacity=50\n    Angle=90\n"
                         "    ScaleX=0\n    Position=10,20\n    ZPos=5\n    CenterPos=1,2\n"
                         "    AngleX=180\n    Blur=3\n    Colorisation=300,128,-4,250\n  end\n"
                         "  object : keypoint\n    Origin=slideend\n    Time=-500\n"
                         "    Colorisation=1,2,3\n  end\n"
                         "  object Strange: Hologram\n  end\n"
                         "end\n"
                         "object Odd: Hologram\nend\n");
  slide->SetTimes(0, 4000, 0, 1000);
  ASSERT_EQ(slide->ChildCount(), 1);
  const TKeyPoints& points = slide->Child(0).KeyPoints();
  ASSERT_EQ(points.Count(), 2);
  EXPECT_EQ(slide->Child(0).ChildCount(), 0);
  const TKeyPoint& first = points.KeyPoint(0);
  EXPECT_EQ(first.AbsoluteTime(), 1000);
  const TKeyValues& v = first.Values();
  EXPECT_EQ(v.opacity, 50);
  EXPECT_FLOAT_EQ(v.angle, std::numbers::pi_v<float> / 2);
  EXPECT_FLOAT_EQ(v.scaleX, 0.001f);
  EXPECT_EQ(v.scaleY, 100);
  EXPECT_EQ(v.position, (T2DVector{10, 20}));
  EXPECT_EQ(v.depth, 5);
  EXPECT_EQ(v.center, (T2DVector{1, 2}));
  EXPECT_FLOAT_EQ(v.angleX, std::numbers::pi_v<float>);
  EXPECT_EQ(v.blur, 3);
  EXPECT_FALSE(v.colorOff);
  EXPECT_FLOAT_EQ(v.colorAmount, 0.25f);
  EXPECT_EQ(v.color, (TIniRGB{0, 128, 255})); // red 300 and blue -4 clamped
  const TKeyPoint& second = points.KeyPoint(1);
  EXPECT_EQ(second.Anchor(), kAnchorSlideEnd);
  EXPECT_EQ(second.AbsoluteTime(), 4500);
  EXPECT_TRUE(second.Values().colorOff); // three numbers: no colourisation
}

TEST_F(KivObjects, SpeedCurvesComeFromTheirKeysOrFromTheKeyPoints) {
  auto slide = LoadSlide("object Pic: box\n"
                         "  PanSpeed=2;0;1000;1;0;1;0.25;0.75;\n"
                         "  RotateSpeed=garbage\n"
                         "  object : KeyPoint\n    Time=0\n  end\n"
                         "  object : KeyPoint\n    Time=1000\n    Position=100,0\n  end\n"
                         "  object : KeyPoint\n    Time=2000\n    Position=100,0\n  end\n"
                         "end\n");
  TKeyPoints& points = slide->Child(0).KeyPoints();
  ASSERT_NE(points.PanCurve(), nullptr);
  EXPECT_EQ(points.PanCurve()->Intervals(), (std::vector<TInterval>{{0, 1, 0.25, 0.75}}));
  ASSERT_NE(points.ZoomCurve(), nullptr);
  EXPECT_EQ(points.ZoomCurve()->KeyTimes(), (std::vector<int32_t>{0, 1000, 2000}));
  EXPECT_TRUE(points.ZoomCurve()->Intervals().empty());
  ASSERT_NE(points.RotateCurve(), nullptr);
  EXPECT_EQ(points.RotateCurve()->KeyTimes(), (std::vector<int32_t>{0}));
  slide->SetTime(true, 125);
  EXPECT_FLOAT_EQ(slide->Child(0).Values().position.x, 25.0f / 6);
}

// Objects placed by hand: one key point holding the values, FitMode None unless given.
TKivObject& AddBox(TKivObject& parent, std::string_view name, float w, float h, TKeyValues values = {},
                   TFitMode fit = TFitMode::None) {
  auto box = MakeOwned<TTestBox>(&parent, U(name));
  TTestBox& ref = *box;
  ref.SetObjectType(u"box");
  ref.SetSize(w, h);
  ref.SetFitMode(fit);
  ref.KeyPoints().AddKeyPoint(kAnchorSlideBegin, 0).SetValues(values);
  parent.AddChild(std::move(box));
  return ref;
}

// The test's name is kept in the GUID; Name() stays empty for objects made by hand.
TOwned<TKivSlide> EmptySlide(const TRef<TKivSlideHost>& host, float w, float h) {
  auto slide = MakeOwned<TKivSlide>(host, 0);
  slide->SetSize(w, h);
  slide->SetBaseOrigin({w / 2, h / 2, 0});
  slide->SetTimes(0, 10000, 0, 0);
  return slide;
}

TEST_F(KivObjects, Placement) {
  struct TCase {
    const char* name;
    float w, h;
    TFitMode fit;
    TPosMode centerMode;
    T2DVector position, center;
    float scale;
    T3DVector origin;
    float axis;
    T2DVector corner;
  };
  const TCase cases[] = {
      {"percent position",
       100,
       100,
       TFitMode::None,
       TPosMode::Percent,
       {50, 0},
       {0, 0},
       100,
       {600, 300, 0},
       1,
       {-50, -50}},
      // The far corner at 97 percent of the way from the parent's centre to its far corner.
      {"far corner",
       100,
       50,
       TFitMode::None,
       TPosMode::Percent,
       {97, 97},
       {100, 100},
       100,
       {788, 591, 0},
       1,
       {-100, -50}},
      {"place into",
       400,
       100,
       TFitMode::PlaceInto,
       TPosMode::Percent,
       {0, 0},
       {0, 0},
       100,
       {400, 300, 0},
       2,
       {-200, -50}},
      {"cover",
       400,
       100,
       TFitMode::Cover,
       TPosMode::Percent,
       {0, 0},
       {0, 0},
       50,
       {400, 300, 0},
       3,
       {-200, -50}},
      {"cover of nothing",
       0,
       100,
       TFitMode::Cover,
       TPosMode::Percent,
       {0, 0},
       {0, 0},
       100,
       {400, 300, 0},
       0,
       {0, -50}},
      {"absolute centre in pixels",
       100,
       100,
       TFitMode::None,
       TPosMode::Absolute,
       {0, 0},
       {10, -20},
       100,
       {400, 300, 0},
       1,
       {-60, -30}},
  };
  for (const TCase& c : cases) {
    auto slide = EmptySlide(host_, kWidth, kHeight);
    TKeyValues v;
    v.position = c.position;
    v.center = c.center;
    v.scaleX = v.scaleY = c.scale;
    TKivObject& box = AddBox(*slide, c.name, c.w, c.h, v, c.fit);
    box.SetCenterMode(c.centerMode);
    slide->SetTime(true, 0);
    const TPlacementFrame& frame = box.Frame();
    EXPECT_FLOAT_EQ(frame.origin.x, c.origin.x) << c.name;
    EXPECT_FLOAT_EQ(frame.origin.y, c.origin.y) << c.name;
    EXPECT_FLOAT_EQ(frame.origin.z, c.origin.z) << c.name;
    EXPECT_FLOAT_EQ(frame.xAxis.x, c.axis) << c.name;
    EXPECT_FLOAT_EQ(frame.yAxis.y, c.axis) << c.name;
    EXPECT_FLOAT_EQ(box.CornerOffset().x, c.corner.x) << c.name;
    EXPECT_FLOAT_EQ(box.CornerOffset().y, c.corner.y) << c.name;
  }
}

TEST_F(KivObjects, ChildrenComposeWithTheirParentsPlacement) {
  auto slide = EmptySlide(host_, kWidth, kHeight);
  TKeyValues parentValues;
  parentValues.scaleX = parentValues.scaleY = 50;
  parentValues.angle = std::numbers::pi_v<float> / 2; // a quarter turn: x runs down the screen
  parentValues.position = {10, 20};
  TKivObject& parent = AddBox(*slide, "parent", 200, 100, parentValues);
  TKeyValues childValues;
  childValues.position = {50, 0}; // a quarter of the parent's width: 50 parent pixels
  childValues.depth = 100;        // z = depth * parent height / 200 = 50 parent pixels
  TKivObject& child = AddBox(parent, "child", 40, 40, childValues);
  slide->SetTime(true, 0);

  // Half scale and the parent's rotation.
  EXPECT_NEAR(child.Frame().xAxis.x, 0, 1e-6);
  EXPECT_FLOAT_EQ(child.Frame().xAxis.y, 0.5f);
  EXPECT_FLOAT_EQ(child.Frame().yAxis.x, -0.5f);
  EXPECT_NEAR(child.Frame().yAxis.y, 0, 1e-6);
  // The z axis is compressed by the slide's depth factor: camera distance * tan 30 / slide height.
  const float depthFactor = slide->DepthFactor();
  EXPECT_FLOAT_EQ(depthFactor, 0.57735026919f);
  EXPECT_FLOAT_EQ(child.Frame().zAxis.z, 0.5f * depthFactor);
  // Origin: slide centre + the parent's offset + 50 parent pixels along the turned x axis (25 down).
  const T3DVector parentOrigin{400 + 10 * 800 * 0.005f, 300 + 20 * 600 * 0.005f, 0};
  EXPECT_FLOAT_EQ(parent.Frame().origin.x, parentOrigin.x);
  EXPECT_FLOAT_EQ(parent.Frame().origin.y, parentOrigin.y);
  EXPECT_NEAR(child.Frame().origin.x, parentOrigin.x, 1e-4);
  EXPECT_FLOAT_EQ(child.Frame().origin.y, parentOrigin.y + 25);
  EXPECT_FLOAT_EQ(child.Frame().origin.z, 25 * depthFactor);
}

TEST_F(KivObjects, TimeWindowFollowsTheSlideAndTheDeltaTimes) {
  auto slide = LoadSlide("object Late: box\n  DeltaTime1=1000\n  DeltaTime2=500\nend\n");
  slide->SetTimes(5000, 9000, 300, 700); // slide end = 9700
  TKivObject& late = slide->Child(0);
  const struct {
    double time;
    bool inTime;
  } cases[] = {{4999, false}, {5000, false}, {5999, false}, {6000, true}, {9200, true}, {9200.5, false}};
  for (const auto& c : cases) {
    late.Snapshot(false);
    const bool before = late.InTime();
    slide->SetTimeOnly(true, c.time);
    EXPECT_EQ(late.InTime(), c.inTime) << c.time;
    EXPECT_EQ(late.IsChanged(), before != c.inTime) << c.time;
  }
}

TEST_F(KivObjects, HideRulesWithChildInvis) {
  // Unrotated, the plane's normal (x axis cross y axis) points away from the camera; turned around the
  // y axis by 180 degrees it points towards it.
  struct TCase {
    int hideMode;
    bool childInvis;
    bool turned;
    bool hidden;
  };
  const TCase cases[] = {
      {0, true, false, false},  {0, true, true, false},  {1, true, false, false}, {1, true, true, true},
      {2, true, false, true},   {2, true, true, false},  {3, true, false, true},  {3, true, true, true},
      {3, false, false, false}, {3, false, true, false},
  };
  for (const TCase& c : cases) {
    auto slide = EmptySlide(host_, kWidth, kHeight);
    TKeyValues v;
    if (c.turned) v.angleY = std::numbers::pi_v<float>;
    TKivObject& object = AddBox(*slide, "object", 100, 100, v);
    object.SetHideMode(c.hideMode);
    object.SetChildInvis(c.childInvis);
    TKivObject& child = AddBox(object, "child", 10, 10);
    slide->SetTime(true, 0);
    EXPECT_EQ(object.Hidden(), c.hidden) << c.hideMode << " " << c.childInvis << " " << c.turned;
    EXPECT_EQ(child.Hidden(), c.hidden) << "child " << c.hideMode << " " << c.turned;
  }
}

class KivHitTest : public KivObjects {
protected:
  void SetUp() override {
    KivObjects::SetUp();
    slide = EmptySlide(host_, kWidth, kHeight);
    TKeyValues left, right, nested;
    left.position = {-10, 0}; // centred at (360, 300), 200 x 200
    right.position = {10, 0}; // centred at (440, 300), 200 x 200
    nested.position = {0, 0}; // centred on right, 20 x 20
    AddBox(*slide, "left", 200, 200, left);
    TKivObject& r = AddBox(*slide, "right", 200, 200, right);
    AddBox(r, "nested", 20, 20, nested);
    slide->SetTime(true, 0);
  }
  std::string NameAt(float x, float y, const TKivHitFilter& filter = nullptr) {
    TKivHit hit = slide->FindObjectAt(x, y, filter);
    return hit.object ? A(hit.object->GUID()) : "none";
  }
  TOwned<TKivSlide> slide;
};

TEST_F(KivHitTest, LaterChildrenAndDescendantsComeFirst) {
  const struct {
    float x, y;
    const char* name;
  } cases[] = {
      {300, 300, "left"},             // only the left box
      {400, 250, "right"},            // both boxes: the later one is on top
      {440, 300, "nested"},           // inside the right box's child
      {449.999f, 309.999f, "nested"}, // at the nested box's edge
      {450.01f, 310, "right"},
      {539, 300, "right"},
      {541, 300, ""},     // beyond both: the slide itself
      {900, 300, "none"}, // off the slide
  };
  for (const auto& c : cases)
    EXPECT_EQ(NameAt(c.x, c.y), c.name) << c.x << "," << c.y;
}

TEST_F(KivHitTest, FilterRejectsCandidatesAndLocalPointIsInContentPixels) {
  auto notRight = [](TKivObject& candidate) { return A(candidate.GUID()) != "right"; };
  EXPECT_EQ(NameAt(400, 250, notRight), "left");
  TKivHit hit = slide->FindObjectAt(445, 302);
  ASSERT_NE(hit.object, nullptr);
  EXPECT_FLOAT_EQ(hit.local.x, 15);
  EXPECT_FLOAT_EQ(hit.local.y, 12);
}

TEST_F(KivHitTest, ObjectsOutOfTimeOrHiddenAreNotHit) {
  TKivObject& right = slide->Child(1);
  right.SetChildInvis(true);
  right.SetHideMode(3);
  slide->SetTime(true, 0);
  EXPECT_EQ(NameAt(440, 300), "left");
  slide->SetTimeOnly(true, 20000); // after the slide
  EXPECT_EQ(NameAt(300, 300), "none");
}

TEST_F(KivHitTest, TiltedPlaneIsHitAlongTheCameraRay) {
  // Turned 60 degrees about y, the box's x edge shows at half its width, seen through the perspective.
  TKivObject& left = slide->Child(0);
  TKeyValues v = left.KeyPoints().KeyPoint(0).Values();
  v.angleY = std::numbers::pi_v<float> / 3;
  v.position = {0, 0};
  left.KeyPoints().KeyPoint(0).SetValues(v);
  slide->Child(1).SetHideMode(3);
  slide->Child(1).SetChildInvis(true);
  slide->SetTime(true, 0);
  TKivHit hit = slide->FindObjectAt(400, 300);
  ASSERT_EQ(hit.object, &left);
  EXPECT_NEAR(hit.local.x, 100, 1e-3);
  EXPECT_NEAR(hit.local.y, 100, 1e-3);
  // Far beyond the foreshortened edge nothing of the box is hit.
  EXPECT_EQ(NameAt(495, 300), "");
}

TEST_F(KivObjects, ReloadKeepsObjectsByGuid) {
  const char* before = "object A: box\n  GUID={A}\n  object : KeyPoint\n    Opacity=10\n  end\nend\n"
                       "object B: box\n  GUID={B}\nend\n"
                       "object C: box\n  GUID={C}\n  object Inner: box\n    GUID={I}\n  end\nend\n";
  slide_ = LoadSlide(before);
  TKivObject* a = &slide_->Child(0);
  TKivObject* c = &slide_->Child(2);
  TKivObject* inner = &c->Child(0);
  EXPECT_EQ(gLiveBoxes, 4);

  const char* after = "object C: box\n  GUID={C}\n  object Inner: box\n    GUID={I}\n  end\nend\n"
                      "object A2: box\n  GUID={A}\n  object : KeyPoint\n    Opacity=70\n  end\nend\n"
                      "object D: box\nend\n"
                      "object B: hologram\n  GUID={B}\nend\n";
  slide_ = LoadSlide(after, true);
  ASSERT_EQ(slide_->ChildCount(), 3);
  EXPECT_EQ(&slide_->Child(0), c);
  EXPECT_EQ(&slide_->Child(0).Child(0), inner);
  EXPECT_EQ(&slide_->Child(1), a);
  EXPECT_EQ(A(a->Name()), "A2");
  ASSERT_EQ(a->KeyPoints().Count(), 1); // the old key point is gone
  EXPECT_EQ(a->KeyPoints().KeyPoint(0).Values().opacity, 70);
  EXPECT_EQ(gLiveBoxes, 4); // B freed, D new
}

TEST_F(KivObjects, ReloadDoesNotReuseAnObjectOfAnotherKind) {
  TKivObjectMaker previous = RegisterKivObjectKind(u"Panel", &MakeBox);
  slide_ = LoadSlide("object A: box\n  GUID={A}\nend\n");
  TKivObject* a = &slide_->Child(0);
  slide_ = LoadSlide("object A: panel\n  GUID={A}\nend\n", true);
  EXPECT_NE(&slide_->Child(0), a);
  EXPECT_EQ(A(slide_->Child(0).ObjectType()), "panel");
  RegisterKivObjectKind(u"panel", previous);
}

TEST_F(KivObjects, DrawsContentThenChildrenThroughTheDrawer) {
  auto slide = LoadSlide("object A: box\n  object A1: box\n  end\n  object A2: box\n  end\nend\n"
                         "object B: box\n  FailDraw=1\n  object B1: box\n  end\nend\n"
                         "object C: box\n  DeltaTime1=5000\nend\n");
  slide->SetTimes(0, 10000, 0, 0);
  slide->SetTime(true, 100);
  EXPECT_TRUE(slide->IsChanged());
  TLoggingDrawer drawer;
  ASSERT_TRUE(drawer.DrawItem(*slide));
  const std::vector<std::string> expected = {
      "item ",      "item A",
      "content A",  "item A1",
      "content A1", "item A2",
      "content A2", "item B",
      "item B1",    "content B1", // B's broken content is swallowed, its child still drawn
      "item C",     "content C (not drawable)"};
  EXPECT_EQ(drawer.log, expected);
  EXPECT_FALSE(slide->IsChanged());

  // A drawer that declines stops the descent.
  TLoggingDrawer declining;
  declining.declineAfter = 3;
  declining.DrawItem(*slide);
  EXPECT_EQ(declining.log, (std::vector<std::string>{"item ", "item A", "content A", "item A1", "content A1",
                                                     "declined A2", "declined B"}));
}

TEST_F(KivObjects, PrepareOnlyWithAReadyDrawerAndSwallowsContentErrors) {
  auto slide = LoadSlide("object A: box\n  FailDraw=1\n  object A1: box\n  end\nend\nobject B: box\nend\n");
  TLoggingDrawer drawer;
  drawer.ready = false;
  slide->Prepare(drawer);
  EXPECT_TRUE(drawer.log.empty());
  drawer.ready = true;
  slide->Prepare(drawer);
  EXPECT_EQ(drawer.log, (std::vector<std::string>{"prepare A", "prepare A1", "prepare B"}));
}

TEST_F(KivObjects, ChangeTrackingAfterSnapshot) {
  auto slide = EmptySlide(host_, kWidth, kHeight);
  TKeyValues start, end;
  end.position = {10, 0};
  TKivObject& box = AddBox(*slide, "box", 10, 10, start);
  box.KeyPoints().AddKeyPoint(kAnchorSlideBegin, 1000).SetValues(end);
  slide->SetTime(true, 0);
  slide->Snapshot(true);
  EXPECT_FALSE(slide->IsChanged());
  EXPECT_FALSE(slide->HasChangedKeyPoints());
  slide->SetTime(true, 0);
  EXPECT_FALSE(slide->IsChanged());
  slide->SetTime(true, 500); // moves
  EXPECT_TRUE(box.Moved());
  EXPECT_TRUE(slide->IsChanged());
  slide->Snapshot(true);
  box.SetHover(true);
  EXPECT_TRUE(slide->IsChanged());
}

TEST_F(KivObjects, ResolutionPlanningKeepsTheLargestExtentAndRestoresTheTime) {
  auto slide = EmptySlide(host_, kWidth, kHeight);
  TKeyValues small, large, near;
  large.scaleX = large.scaleY = 300;
  near.scaleX = near.scaleY = 200;
  near.depth = -100; // z = -300 * depth factor: towards the camera
  TKivObject& box = AddBox(*slide, "box", 100, 50, small);
  box.KeyPoints().AddKeyPoint(kAnchorSlideBegin, 1000).SetValues(large);
  box.KeyPoints().AddKeyPoint(kAnchorSlideBegin, 2000).SetValues(near);
  slide->SetTime(true, 500);

  EXPECT_FALSE(slide->Planning());
  EXPECT_FLOAT_EQ(box.ScreenExtent().width, 300);
  EXPECT_FLOAT_EQ(box.ScreenExtent().height, 150);
  const float z = -300 * slide->DepthFactor();
  EXPECT_FLOAT_EQ(box.ScreenExtent().nearestDepth, z);
  const float magnification = 1 / (1 - z / -600.0f);
  EXPECT_FLOAT_EQ(box.OnScreenSize().x, 300 * magnification);
  EXPECT_FLOAT_EQ(box.OnScreenSize().y, 150 * magnification);
  // Back at 500 after visiting 0, 1000 and 2000.
  EXPECT_DOUBLE_EQ(box.KeyPoints().CurrentTime(), 500);
  EXPECT_FLOAT_EQ(box.Values().scaleX, 200);
  EXPECT_FLOAT_EQ(slide->OnScreenSize().x, 800);
}

TEST_F(KivObjects, GetSlideNeedsASlideAtTheRoot) {
  TTestBox loose(nullptr, u"{X}");
  TQuietAssertions quiet;
  try {
    loose.GetSlide();
    FAIL() << "no assertion";
  } catch (const EAssertion& error) {
    EXPECT_NE(std::string(error.what()).find("Assertion failure"), std::string::npos);
  }
  EXPECT_EQ(loose.FindSlide(), nullptr);
  auto slide = EmptySlide(host_, kWidth, kHeight);
  EXPECT_EQ(&AddBox(*slide, "box", 1, 1).GetSlide(), slide.get());
}

// A crafted show nesting far deeper than any real one: loading, placing, drawing and freeing it must not
// exhaust the stack.
TEST_F(KivObjects, DeeplyNestedObjectsLoadUpToTheDepthCapAndAreFreed) {
  constexpr int kNested = 100000;
  std::string text;
  for (int i = 0; i < kNested; ++i)
    text += "object O" + std::to_string(i) + ": box\n  object : KeyPoint\n    Time=0\n  end\n";
  for (int i = 0; i < kNested; ++i)
    text += "end\n";
  const std::filesystem::path logFile = kivtest::FreshTempDir("deep_objects") / "load.log";
  ASSERT_TRUE(InstallFileLog(logFile.string()));
  {
    auto slide = LoadSlide(text);
    CloseLog();
    int depth = 0;
    const TKivObject* deepest = slide.get();
    while (deepest->ChildCount() > 0) {
      ASSERT_EQ(deepest->ChildCount(), 1);
      deepest = &deepest->Child(0);
      ++depth;
    }
    EXPECT_EQ(depth, TKivObject::kMaxDepth);
    EXPECT_EQ(deepest->Depth(), TKivObject::kMaxDepth);
    EXPECT_EQ(A(deepest->Name()), "O" + std::to_string(TKivObject::kMaxDepth - 1));
    EXPECT_EQ(deepest->KeyPoints().Count(), 1); // its own key point stays, only the objects go
    EXPECT_EQ(gLiveBoxes, TKivObject::kMaxDepth);
    slide->SetTimes(0, 1000, 0, 0);
    slide->SetTime(true, 0);
    TLoggingDrawer drawer;
    EXPECT_TRUE(drawer.DrawItem(*slide));
    EXPECT_EQ(drawer.log.size(), 1u + 2u * TKivObject::kMaxDepth);
  }
  EXPECT_EQ(gLiveBoxes, 0);
  std::ifstream log(logFile);
  const std::string logged{std::istreambuf_iterator<char>(log), {}};
  EXPECT_NE(logged.find("\"O" + std::to_string(TKivObject::kMaxDepth - 1) + "\" nested deeper than " +
                        std::to_string(TKivObject::kMaxDepth)),
            std::string::npos)
      << logged;
}

TEST_F(KivObjects, ATreeOfAnyDepthIsFreedWithoutRecursion) {
  // Built by hand, past the load cap; deep enough that freeing by recursion would overflow the stack.
  constexpr int kNested = 200000;
  {
    auto slide = EmptySlide(host_, kWidth, kHeight);
    TKivObject* parent = slide.get();
    for (int i = 0; i < kNested; ++i) {
      auto box = MakeOwned<TTestBox>(parent, std::u16string());
      parent = &parent->AddChild(std::move(box));
    }
    AddBox(*slide, "sibling", 1, 1);
    EXPECT_EQ(gLiveBoxes, kNested + 1);
  }
  EXPECT_EQ(gLiveBoxes, 0);
}

TEST_F(KivObjects, OpacityIsScaledByTheSlideFactor) {
  auto slide = EmptySlide(host_, kWidth, kHeight);
  TKeyValues v;
  v.opacity = 40;
  TKivObject& box = AddBox(*slide, "box", 1, 1, v);
  slide->SetTime(true, 0);
  EXPECT_FLOAT_EQ(box.GetOpacity(), 40);
}

} // namespace
