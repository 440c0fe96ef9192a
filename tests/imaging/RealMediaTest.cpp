// Real pictures against reference decoders: djpeg for JPEG (every DCT scale), ffmpeg for PNG and BMP, the
// GIF suite's expected frames. Damaged files must fail cleanly.

#include "CacheImageDecoder.h"
#include "ImagingTestSupport.h"
#include "GifLoader.h"
#include "ImageLevels.h"
#include "JpegLoader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using test::MediaDir;

std::vector<std::string> FilesIn(const std::string& folder, std::initializer_list<const char*> extensions) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(MediaDir() + "/" + folder, ec)) {
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    for (const char* want : extensions)
      if (ext == want) files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  if (ec || files.empty()) ADD_FAILURE() << "no media files in " << MediaDir() << "/" << folder;
  return files;
}

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

// A binary PPM/PGM from djpeg as 24-bit B, G, R rows.
bool ParsePnm(const std::vector<uint8_t>& pnm, int& w, int& h, std::vector<uint8_t>& bgr) {
  std::string header(pnm.begin(), pnm.begin() + std::min<size_t>(pnm.size(), 64));
  std::istringstream in(header);
  std::string magic;
  int maxValue;
  if (!(in >> magic >> w >> h >> maxValue) || maxValue != 255) return false;
  const size_t start = static_cast<size_t>(in.tellg()) + 1;
  const int channels = magic == "P6" ? 3 : magic == "P5" ? 1 : 0;
  if (!channels || pnm.size() < start + size_t(w) * h * channels) return false;
  bgr.resize(size_t(w) * h * 3);
  for (size_t i = 0; i < size_t(w) * h; ++i)
    for (int c = 0; c < 3; ++c)
      bgr[i * 3 + c] = pnm[start + i * channels + (channels == 3 ? 2 - c : 0)];
  return true;
}

TEST(RealJpeg, EveryScaleMatchesDjpeg) {
  if (!test::HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
  int compared = 0;
  for (const std::string& path : FilesIn("images/jpeg", {".jpg", ".jpeg"})) {
    const std::vector<uint8_t> file = test::FileBytes(path);
    for (int level = 0; level <= 3; ++level) {
      std::vector<uint8_t> pnm;
      const bool refOk = test::RunCapture(
          "djpeg -scale 1/" + std::to_string(1 << level) + " -pnm " + Quote(path) + " 2>/dev/null", pnm);
      int w, h;
      std::vector<uint8_t> ref;
      if (!refOk || !ParsePnm(pnm, w, h, ref)) continue; // CMYK and 12-bit: djpeg has no output for them
      TRef<TBitmap> ours = DecodeJpeg(file, level);
      ASSERT_TRUE(ours) << path << " level " << level;
      ASSERT_EQ(ours->Width(), w) << path;
      ASSERT_EQ(ours->Height(), h) << path;
      int worst = 0;
      for (size_t i = 0; i < ref.size(); ++i)
        worst = std::max(worst, std::abs(int(ours->Data()[i]) - int(ref[i])));
      EXPECT_LE(worst, 1) << path << " level " << level;
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
}

TEST(RealJpeg, LevelsComeFromTheStoreAtTheirSizes) {
  TOwned<TImage> image = LoadImageFile(MediaDir() + "/images/jpeg/misc/tower.jpg");
  ASSERT_TRUE(image);
  for (int level = 0; level <= 5; ++level) {
    int real = -1;
    TRef<TBitmap> b = image->GetMipLevel(level, TBitmapFormat::None, {}, &real);
    ASSERT_TRUE(b);
    EXPECT_EQ(real, std::min(level, 3));
    EXPECT_EQ(b->Width(), (image->Width() + (1 << real) - 1) >> real);
    EXPECT_EQ(b->Format(), TBitmapFormat::Pf24bit);
  }
}

TEST(RealJpeg, DamagedAndUnsupportedFilesFailCleanly) {
  // 12-bit samples: this libjpeg reads 8-bit only, so the loader declines.
  EXPECT_FALSE(LoadImageFile(MediaDir() + "/images/jpeg/libjpeg-turbo/testorig12.jpg"));
  // Truncated files still give a picture of their full size (what libjpeg could decode, the rest filled).
  for (const char* name : {"go-stdlib/video-001.progressive.truncated.jpeg", "misc/premature-end.jpg"}) {
    TOwned<TImage> image = LoadImageFile(MediaDir() + "/images/jpeg/" + name);
    ASSERT_TRUE(image) << name;
    TRef<TBitmap> b = image->GetMipLevel(0, TBitmapFormat::Pf32bit);
    ASSERT_TRUE(b) << name;
    EXPECT_EQ(b->Width(), image->Width());
  }
  // A header cut in the middle is declined.
  std::vector<uint8_t> head = test::FileBytes(MediaDir() + "/images/jpeg/misc/cat.jpg");
  head.resize(100);
  TMemoryStream stream(head);
  EXPECT_FALSE(LoadImage(stream, u"cat.jpg"));
  EXPECT_EQ(stream.GetPosition(), 0);
}

// ffmpeg's decode as B, G, R, A rows, or empty when it cannot decode the file.
std::vector<uint8_t> FfmpegBgra(const std::string& path) {
  std::vector<uint8_t> out;
  if (!test::RunCapture("ffmpeg -v error -i " + Quote(path) + " -f rawvideo -pix_fmt bgra - 2>/dev/null",
                        out))
    out.clear();
  return out;
}

void CompareWithFfmpeg(const std::vector<std::string>& files, const std::vector<std::string>& mustFail,
                       const std::vector<std::string>& weDecline) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  int compared = 0;
  for (const std::string& path : files) {
    const std::string name = fs::path(path).filename().string();
    TOwned<TImage> image = LoadImageFile(path);
    const bool shouldFail = std::find(mustFail.begin(), mustFail.end(), name) != mustFail.end();
    const bool declined = std::find(weDecline.begin(), weDecline.end(), name) != weDecline.end();
    if (shouldFail || declined) {
      EXPECT_FALSE(image) << path;
      continue;
    }
    ASSERT_TRUE(image) << path;
    TRef<TBitmap> b = image->GetMipLevel(0, TBitmapFormat::Pf32bit);
    const std::vector<uint8_t> ref = FfmpegBgra(path);
    ASSERT_EQ(ref.size(), b->Data().size()) << path;
    // Two places where ffmpeg is not the reference: it reduces 16-bit samples through swscale (neither
    // truncating nor rounding), and it ignores a transparent colour (tRNS) of grey and RGB files.
    const std::vector<uint8_t> file = test::FileBytes(path);
    const bool png = file.size() > 25 && file[1] == 'P';
    const int tolerance = png && file[24] == 16 ? 1 : 0;
    const bool keyedAlpha =
        png && file[25] != 3 && std::search(file.begin(), file.end(), "tRNS", "tRNS" + 4) != file.end();
    size_t diffs = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
      if (i % 4 == 3 && keyedAlpha && b->Data()[i] == 0 && ref[i] == 255) continue;
      diffs += std::abs(int(ref[i]) - int(b->Data()[i])) > tolerance;
    }
    EXPECT_EQ(diffs, 0u) << path;
    ++compared;
  }
  EXPECT_GT(compared, 5);
}

TEST(RealPng, MatchesFfmpegAndRejectsDamagedFiles) {
  // invalid-palette.png (indices past its palette) is left out: libpng decodes it, as ffmpeg does.
  std::vector<std::string> files = FilesIn("images/png", {".png"});
  std::erase_if(files, [](const std::string& f) { return f.ends_with("invalid-palette.png"); });
  CompareWithFfmpeg(files,
                    {"invalid-crc32.png", "invalid-noend.png", "invalid-trunc.png", "invalid-zlib.png"}, {});
}

TEST(RealBmp, MatchesFfmpegAndDeclinesWhatTheFormatRulesOut) {
  // Run-length compression is refused; 16-bit bit fields other than 5-6-5 and 5-5-5 too.
  CompareWithFfmpeg(FilesIn("images/bmp", {".bmp"}), {},
                    {"bit4_RLE.bmp", "bit8_RLE.bmp", "bit16_a444.bmp", "bit16_x444.bmp"});
}

// The GIF suite: each .conf names the expected frames as raw RGBA files.
std::map<std::string, std::map<std::string, std::string>> ReadConf(const std::string& path) {
  std::map<std::string, std::map<std::string, std::string>> sections;
  std::ifstream in(path);
  std::string line, section;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    const size_t eq = line.find(" = ");
    if (eq != std::string::npos) {
      sections[section][line.substr(0, eq)] = line.substr(eq + 3);
    } else if (line.size() > 2 && line.substr(line.size() - 2) == " =") {
      sections[section][line.substr(0, line.size() - 2)] = "";
    }
  }
  return sections;
}

TEST(RealGif, SuiteFramesMatchTheirConf) {
  const std::string dir = MediaDir() + "/images/gif/gdk-pixbuf-gif-test-suite/";
  int frames = 0;
  for (const std::string& conf : FilesIn("images/gif/gdk-pixbuf-gif-test-suite", {".conf"})) {
    // That reader folds sub-images with no delay into one frame; we keep every image as a frame, as the
    // GIF standard describes them.
    // It also gives nothing for a file whose image follows a plain-text block; we show the image.
    if (conf.find("explicit-zero-delay") != std::string::npos || conf.find("plain-text") != std::string::npos)
      continue;
    auto sections = ReadConf(conf);
    auto& config = sections["config"];
    const std::string gif = dir + config["input"];
    std::vector<std::string> expected;
    std::stringstream list(config["frames"]);
    for (std::string f; std::getline(list, f, ',');)
      if (!f.empty()) expected.push_back(f);
    TGifPicture picture;
    const bool ok = ReadGif(test::FileBytes(gif), true, picture);
    if (expected.empty()) {
      EXPECT_FALSE(ok) << gif;
      continue;
    }
    ASSERT_TRUE(ok) << gif;
    // Without the NETSCAPE block a file is a still picture: one frame.
    const size_t count = picture.animated ? expected.size() : 1;
    ASSERT_EQ(picture.frames.size(), count) << gif;
    for (size_t i = 0; i < count; ++i) {
      const std::vector<uint8_t> rgba = test::FileBytes(dir + sections[expected[i]]["pixels"]);
      if (rgba.empty()) continue; // the suite's package leaves some reference frames out
      const TBitmap& b = *picture.frames[i];
      ASSERT_EQ(rgba.size(), size_t(b.Width()) * b.Height() * 4) << gif;
      for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
          const uint8_t* e = &rgba[(size_t(y) * b.Width() + x) * 4];
          const uint32_t want =
              e[3] == 0 ? 0 : (uint32_t{e[3]} << 24 | uint32_t{e[0]} << 16 | e[1] << 8 | e[2]);
          ASSERT_EQ(b.Pixel32(x, y), want) << gif << " frame " << i << " at " << x << "," << y;
        }
      if (picture.animated && sections[expected[i]].count("delay")) {
        EXPECT_EQ(picture.delays[i], std::stoi(sections[expected[i]]["delay"])) << gif;
      }
      ++frames;
    }
  }
  EXPECT_GT(frames, 20);
}

TEST(RealGif, AnimatedFileGivesAStripAndItsTimings) {
  const std::string dir = MediaDir() + "/images/gif/gdk-pixbuf-gif-test-suite/";
  TOwned<TImage> image = LoadImageFile(dir + "dispose-keep.gif");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Params().frameCount, 4);
  EXPECT_EQ(image->Params().animationTimes, "50,50,50,50");
  EXPECT_EQ(image->Width(), 8);
  EXPECT_EQ(image->Height(), 2);

  // The cache's decoder hands the timing on with the strip.
  TFileStream stream(dir + "dispose-keep.gif", TFileMode::OpenRead);
  TImageDecodeRequest request;
  request.name = u"dispose-keep.gif";
  const TDecodedImage decoded = DecodeCachedImage(stream, request);
  ASSERT_TRUE(decoded.bitmap);
  EXPECT_EQ(decoded.frameCount, 4);
  EXPECT_EQ(decoded.frameDelays, "50,50,50,50");

  SetGifAnimation(false);
  TOwned<TImage> still = LoadImageFile(dir + "dispose-keep.gif");
  SetGifAnimation(true);
  ASSERT_TRUE(still);
  EXPECT_EQ(still->Width(), 2);
  EXPECT_EQ(still->Params().frameCount, 1);
}

TEST(RealGif, LoadCallbackRunsPerRowAndCanStopTheLoad) {
  // Interlaced rows arrive out of order; the callback still runs once per decoded row.
  const std::vector<uint8_t> file =
      test::FileBytes(test::MediaDir() + "/images/gif/giflib/treescap-interlaced.gif");
  TGifPicture picture;
  int rows = 0;
  ASSERT_TRUE(ReadGif(file, false, picture, [&](double) { return ++rows, true; }));
  EXPECT_EQ(rows, picture.height);

  int calls = 0;
  EXPECT_FALSE(ReadGif(file, false, picture, [&](double) { return ++calls < 3; }));
  EXPECT_EQ(calls, 3);
}

TEST(RealGif, OtherCollectionsDecodeLikeFfmpegFirstFrames) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  for (const std::string& path : FilesIn("images/gif", {".gif"})) {
    if (path.find("gdk-pixbuf-gif-test-suite") != std::string::npos) continue;
    TGifPicture picture;
    ASSERT_TRUE(ReadGif(test::FileBytes(path), false, picture)) << path;
    std::vector<uint8_t> ref;
    ASSERT_TRUE(test::RunCapture(
        "ffmpeg -v error -i " + Quote(path) + " -frames:v 1 -f rawvideo -pix_fmt bgra - 2>/dev/null", ref))
        << path;
    const TBitmap& b = *picture.frames[0];
    ASSERT_EQ(ref.size(), b.Data().size()) << path;
    size_t diffs = 0;
    for (size_t i = 0; i < ref.size(); i += 4)
      if (ref[i + 3] != 0 || b.Data()[i + 3] != 0) diffs += std::memcmp(&ref[i], &b.Data()[i], 4) != 0;
    EXPECT_EQ(diffs, 0u) << path;
  }
}

} // namespace
} // namespace kiv
