// Macros in slide texts: the parser against a table of answers, and texts on a slide that show the slide's
// facts and its main picture's metadata.

#include "TextMacros.h"
#include "ButtonObject.h"
#include "CacheImageDecoder.h"
#include "ContentObjects.h"
#include "ShowFileAccess.h"
#include "TestEnvironment.h"
#include "Utf8Conversion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace kiv {
namespace {

std::string A(std::u16string_view text) {
  return Utf16ToUtf8(text);
}

// Answers every primary macro with a text of its own; counts the questions.
struct TAnswers {
  std::map<std::u16string, std::u16string> values{
      {u"<%SlideIndex%>", u"3"},
      {u"<%SlidesCount%>", u"12"},
      {u"<%MainImg.Width%>", u"640"},
      {u"<%MainImg.Height%>", u"480"},
      {u"<%MainImg.Exif.Comment%>", u"comment"},
      {u"<%MainImg.Exif.Description%>", u"description"},
      {u"<%MainImg.PathNameExt%>", u"C:\\a\\b\\c.jpg"},
      {u"<%MainImg.IPTC.DocumentTitle%>", u"title"},
      {u"<%MainImg.IPTC.SpecialInstructions%>", u"instructions"},
      {u"<%MainImg.IPTC.AuthorByline%>", u"byline"},
      {u"<%MainImg.IPTC.AuthorTitle%>", u"author title"},
      {u"<%MainImg.IPTC.City%>", u"city"},
      {u"<%MainImg.IPTC.Sublocation%>", u"sublocation"},
      {u"<%MainImg.IPTC.ProvinceState%>", u"province"},
      {u"<%MainImg.IPTC.Country%>", u"country"},
      {u"<%MainImg.IPTC.OTR%>", u"otr"},
      {u"<%MainImg.IPTC.Headline%>", u"headline"},
      {u"<%MainImg.IPTC.Credits%>", u"credits"},
      {u"<%MainImg.IPTC.Source%>", u"source"},
      {u"<%MainImg.IPTC.Copyright%>", u"copyright"},
      {u"<%MainImg.IPTC.CaptionDescription%>", u"caption"},
      {u"<%MainImg.IPTC.CaptionWriter%>", u"writer"},
      {std::u16string(kExifDateTimeMacro), u"2009:07:14 18:05:11"},
  };
  int asked = 0;
  TMTParser Parser() {
    return TMTParser([this](const TMTParser&, std::u16string_view macro) {
      ++asked;
      const auto it = values.find(std::u16string(macro));
      EXPECT_NE(it, values.end()) << "asked for " << A(macro);
      return it == values.end() ? std::u16string() : it->second;
    });
  }
};

TEST(TextMacros, EveryMacroAndTheTextAroundIt) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"<%SlideIndex%>", "3"},
      {"<%slideindex%>", "3"},
      {"Slide <%SlideIndex%> of <%SLIDESCOUNT%>", "Slide 3 of 12"},
      {"<%MainImg.Width%>x<%MainImg.Height%>", "640x480"},
      {"<%MainImg.Exif.Comment%>|<%MainImg.Exif.Description%>", "comment|description"},
      {"<%MainImg.PathNameExt%>", "C:\\a\\b\\c.jpg"},
      {"<%MainImg.IPTC.DocumentTitle%>", "title"},
      {"<%MainImg.IPTC.SpecialInstructions%>", "instructions"},
      {"<%MainImg.IPTC.AuthorByline%>", "byline"},
      {"<%MainImg.IPTC.AuthorTitle%>", "author title"},
      {"<%MainImg.IPTC.City%>", "city"},
      {"<%MainImg.IPTC.Sublocation%>", "sublocation"},
      {"<%MainImg.IPTC.ProvinceState%>", "province"},
      {"<%MainImg.IPTC.Country%>", "country"},
      {"<%MainImg.IPTC.OTR%>", "otr"},
      {"<%MainImg.IPTC.Headline%>", "headline"},
      {"<%MainImg.IPTC.Credits%>", "credits"},
      {"<%MainImg.IPTC.Source%>", "source"},
      {"<%MainImg.IPTC.Copyright%>", "copyright"},
      {"<%MainImg.IPTC.CaptionDescription%>", "caption"},
      {"<%MainImg.IPTC.CaptionWriter%>", "writer"},
      {"<%MainImg.FileName%>", "c"},
      {"<%MainImg.FileNameExt%>", "c.jpg"},
      {"<%MainImg.PathName%>", "C:\\a\\b\\c"},
      {"<%MainImg.FolderPath%>", "C:\\a\\b\\"},
      {"<%MainImg.FolderName%>", "b"},
      {"<%MainImg.Exif.Date%> at <%MainImg.Exif.Time%>", "2009:07:14 at 18:05:11"},
      {"<%SlideIndex%>-<%SlideIndex%>", "3-3"},
      {"<%Unknown%> stays", "<%Unknown%> stays"},
      {"<%MainImg.Exif.DateTime%>", "<%MainImg.Exif.DateTime%>"}, // only the derived macros ask for it
      {"open <%SlideIndex", "open <%SlideIndex"},
      {"<%<%SlideIndex%>%>", "<%3%>"},
      {"<<%SlideIndex%>>", "<3>"},
      {"%><%", "%><%"},
      {"no macros", "no macros"},
  };
  for (const auto& c : cases) {
    TAnswers answers;
    EXPECT_EQ(A(answers.Parser().Expand(Utf8ToUtf16(c.text))), c.shown) << c.text;
  }
}

TEST(TextMacros, ReplacedTextIsNotScannedAgain) {
  TAnswers answers;
  answers.values[u"<%MainImg.Exif.Comment%>"] = u"<%SlideIndex%> and <%MainImg.Exif.Comment%>";
  EXPECT_EQ(A(answers.Parser().Expand(u"[<%MainImg.Exif.Comment%>]")),
            "[<%SlideIndex%> and <%MainImg.Exif.Comment%>]");
  EXPECT_EQ(answers.asked, 1);
  answers.values[u"<%MainImg.PathNameExt%>"] = u"C:\\<%x\\<%SlideIndex%>.jpg";
  EXPECT_EQ(A(answers.Parser().Expand(u"<%MainImg.FileName%> in <%MainImg.FolderName%>")),
            "<%SlideIndex%> in <%x");
}

TEST(TextMacros, AnEmptyExpansionIsOneBlank) {
  TAnswers answers;
  answers.values[u"<%MainImg.Exif.Comment%>"] = u"";
  EXPECT_EQ(A(answers.Parser().Expand(u"<%MainImg.Exif.Comment%>")), " ");
  EXPECT_EQ(A(answers.Parser().Expand(u"")), " ");
}

// Slides of a show whose files lie in a temporary folder.
class SlideMacros : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterContentKinds();
    InstallImageDecoder();
    folder_ = kivtest::FreshTempDir("text_macros_test");
    std::filesystem::create_directories(folder_ / "pics");
    std::filesystem::copy_file(std::string(KIV_TEST_MEDIA) + "/generated/metadata_exif_iptc.jpg",
                               folder_ / "pics" / "meta.jpg");
    std::filesystem::copy_file(std::string(KIV_TEST_MEDIA) + "/images/jpeg/misc/sample1.jpg",
                               folder_ / "pics" / "camera.jpg");
    auto source = TRef<TFileSource>::Adopt(new TMappedFileSource(folder_.string() + "/"));
    accessor_ = TRef<TFileAccessor>::Make(source, folder_.string());
    TSlideHostCallbacks callbacks;
    callbacks.frameRect = [] { return TRect{0, 0, 320, 240}; };
    callbacks.camera = [] { return T3DVector{160, 120, -240}; };
    callbacks.findSection = [](std::u16string_view) { return nullptr; };
    host_ = TRef<TKivSlideHost>::Make(accessor_.get(), std::move(callbacks), u"Buttons", false);
    host_->SetSlideCount(7);
  }
  void TearDown() override {
    slide_.reset();
    host_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TKivSlide& Load(std::string_view section, int index) {
    const std::string text = "\xEF\xBB\xBF[slide]\n" + std::string(section);
    TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_TRUE(doc_.LoadFromStream(stream));
    slide_ = MakeOwned<TKivSlide>(host_, 0);
    slide_->SetSize(320, 240);
    slide_->SetSlideIndex(index);
    slide_->LoadChildren(*doc_.FindSection(u"slide"), false);
    return *slide_;
  }
  std::filesystem::path folder_;
  TRef<TFileAccessor> accessor_;
  TRef<TKivSlideHost> host_;
  TIniFile doc_;
  TOwned<TKivSlide> slide_;
};

TEST_F(SlideMacros, TextsShowTheSlideAndItsMainPicture) {
  auto& slide =
      Load("object side: Image\n  ImageName=pics\\camera.jpg\nend\n"
           "object holder: Box\n  Size=10,10\n"
           "  object main: Image\n    ImageName=pics\\meta.jpg\n    ImageIndex=1\n  end\nend\n"
           "object t: Text\n  Text=<%SlideIndex%>/<%SlidesCount%> <%MainImg.FileNameExt%> "
           "<%MainImg.Width%>x<%MainImg.Height%>\nend\n"
           "object e: Text\n  Text=<%MainImg.Exif.Description%>|<%MainImg.Exif.Comment%>|"
           "<%MainImg.Exif.Date%>|<%MainImg.Exif.Time%>\nend\n"
           "object i: Text\n  Text=<%MainImg.IPTC.AuthorByline%>;<%MainImg.IPTC.CaptionDescription%>;"
           "<%MainImg.IPTC.CaptionWriter%>;<%MainImg.IPTC.Country%>\nend\n"
           "object b: Button\n  Text=Slide <%SlideIndex%>\nend\n",
           2);
  auto text = [&](int index) { return A(dynamic_cast<const TKivText&>(slide.Child(index)).ExpandedText()); };
  EXPECT_EQ(text(2), "3/7 meta.jpg 50x70");
  // Metadata that holds macros is shown as it is.
  EXPECT_EQ(text(3),
            "Harbour at dusk \xC3\xA9t\xC3\xA9|Pier <%SlideIndex%> \xE2\x80\x94 west|2009:07:14|18:05:11");
  EXPECT_EQ(text(4), "Ana Lima;Boats moored at <%SlidesCount%>;Editor One;Portugal");
  EXPECT_EQ(A(dynamic_cast<const TKivButton&>(slide.Child(5)).ExpandedText()), "Slide 3");
}

TEST_F(SlideMacros, WithoutAMainPictureThePictureMacrosAreEmpty) {
  auto& slide = Load("object side: Image\n  ImageName=pics\\camera.jpg\nend\n"
                     "object t: Text\n  Text=<%MainImg.Exif.Comment%>\nend\n"
                     "object u: Text\n  Text=[<%MainImg.FileName%><%MainImg.Width%>]\nend\n",
                     0);
  EXPECT_EQ(A(dynamic_cast<const TKivText&>(slide.Child(1)).ExpandedText()), " ");
  EXPECT_EQ(A(dynamic_cast<const TKivText&>(slide.Child(2)).ExpandedText()), "[]");
}

TEST_F(SlideMacros, ACameraPictureGivesItsComment) {
  auto& slide = Load("object main: MainImage\n  ImageName=pics\\camera.jpg\n  ImageIndex=0\nend\n"
                     "object t: Text\n  Text=<%MainImg.Exif.Comment%> (<%MainImg.Exif.Date%>)\nend\n",
                     0);
  EXPECT_EQ(A(dynamic_cast<const TKivText&>(slide.Child(1)).ExpandedText()),
            "taken at basilica of chinese (2005:07:02)");
}

} // namespace
} // namespace kiv
