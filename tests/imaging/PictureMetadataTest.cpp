// EXIF and IPTC fields of real and generated JPEG pictures.

#include "PictureMetadata.h"
#include "ImagingTestSupport.h"
#include "Utf8Conversion.h"

namespace kiv {
namespace {

std::string Head(const std::string& relative) {
  TFileStream stream(test::MediaDir() + "/" + relative, TFileMode::OpenRead);
  return ReadPictureHead(stream);
}

std::string A(std::u16string_view text) {
  return Utf16ToUtf8(text);
}

TEST(PictureMetadata, CameraPictureGivesItsCommentAndDateTime) {
  // A camera picture whose comment has the undefined character code and blanks after it.
  const std::string head = Head("images/jpeg/misc/sample1.jpg");
  TExif exif;
  ASSERT_TRUE(exif.Read(head));
  EXPECT_EQ(A(exif.Field(kExifUserComment)), "taken at basilica of chinese");
  EXPECT_EQ(A(exif.Field(kExifDateTime)), "2005:07:02 10:38:28");
  EXPECT_EQ(A(exif.Field(kExifImageDescription)), "");
}

TEST(PictureMetadata, EveryFieldOfTheGeneratedPicture) {
  const std::string head = Head("generated/metadata_exif_iptc.jpg");
  TExif exif;
  ASSERT_TRUE(exif.Read(head));
  EXPECT_EQ(A(exif.Field(kExifImageDescription)), "Harbour at dusk \xC3\xA9t\xC3\xA9");
  EXPECT_EQ(A(exif.Field(kExifDateTime)), "2009:07:14 18:05:11");
  EXPECT_EQ(A(exif.Field(kExifUserComment)), "Pier <%SlideIndex%> \xE2\x80\x94 west");
  TIptcRecords iptc;
  ASSERT_TRUE(iptc.Read(head));
  const struct {
    uint8_t dataset;
    const char* first;
  } cases[] = {{5, "Evening harbour"},
               {40, "Crop the sky"},
               {80, "Ana Lima"},
               {85, "Photographer"},
               {90, "Porto"},
               {92, "Ribeira"},
               {95, "Norte"},
               {101, "Portugal"},
               {103, "REF-42"},
               {105, "Boats at rest"},
               {110, "Ana Lima / Studio"},
               {115, "Studio Archive"},
               {116, "\xC2\xA9 2009 Ana Lima"},
               {120, "Boats moored at <%SlidesCount%>"},
               {122, "Editor One"}};
  for (const auto& c : cases)
    EXPECT_EQ(A(iptc.First(c.dataset)), c.first) << "dataset 2:" << int(c.dataset);
  ASSERT_NE(iptc.All(80), nullptr);
  EXPECT_EQ(iptc.All(80)->size(), 2u);
  EXPECT_EQ(A(iptc.First(7)), "");
}

TEST(PictureMetadata, PicturesWithoutMetadataAndDamagedBlocksGiveNothing) {
  TExif exif;
  TIptcRecords iptc;
  EXPECT_FALSE(exif.Read(Head("images/jpeg/orientation-imaging/orientation_0.jpg")));
  EXPECT_FALSE(iptc.Read(Head("images/jpeg/orientation-imaging/orientation_0.jpg")));
  EXPECT_FALSE(exif.Read("not a picture"));
  // The generated picture cut inside its EXIF block: the segment is incomplete, nothing is read.
  const std::string head = Head("generated/metadata_exif_iptc.jpg");
  for (size_t cut : {size_t{3}, size_t{20}, size_t{60}, size_t{200}, size_t{400}}) {
    EXPECT_NO_THROW(exif.Read(head.substr(0, cut)));
    EXPECT_NO_THROW(iptc.Read(head.substr(0, cut)));
  }
  // Offsets that point outside the block are skipped.
  std::string broken = head;
  const size_t tiff = broken.find("MM\0*", 0, 4);
  ASSERT_NE(tiff, std::string::npos);
  for (size_t i = tiff + 8; i < tiff + 60 && i < broken.size(); ++i)
    broken[i] = '\xFF';
  EXPECT_NO_THROW(exif.Read(broken));
  EXPECT_EQ(A(exif.Field(kExifDateTime)), "");
}

TEST(PictureMetadata, TheHeadStopsAtTheImageData) {
  const std::string head = Head("images/jpeg/misc/sample1.jpg");
  EXPECT_LT(head.size(), 80603u);
  EXPECT_GT(head.size(), 6254u); // the Photoshop block is inside
}

} // namespace
} // namespace kiv
