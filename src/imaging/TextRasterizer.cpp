#include "TextRasterizer.h"

#include "FontOutlines.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

struct TSpanTarget {
  uint8_t* coverage;
  int width;
  int height;
};

extern "C" void CoverageSpans(int y, int count, const FT_Span* spans, void* user) {
  auto* t = static_cast<TSpanTarget*>(user);
  const int row = t->height - 1 - y; // FreeType's y grows upwards
  if (row < 0 || row >= t->height) return;
  uint8_t* line = t->coverage + static_cast<size_t>(row) * t->width;
  for (int i = 0; i < count; ++i)
    for (int x = std::max(0, int(spans[i].x)); x < std::min(t->width, spans[i].x + int(spans[i].len)); ++x)
      line[x] = std::max(line[x], spans[i].coverage);
}

FT_Pos To26Dot6(double v) {
  return static_cast<FT_Pos>(std::lround(std::clamp(v, -1e6, 1e6) * 64));
}

} // namespace

void FillPath(const std::vector<TGlyphPoint>& points, std::vector<uint8_t>& coverage, int width, int height) {
  std::vector<FT_Vector> vectors;
  std::vector<char> tags;
  std::vector<short> contours;
  for (size_t i = 0; i < points.size(); ++i) {
    const int type = points[i].type & ~kPtCloseFigure;
    if (type == kPtMoveTo && !vectors.empty()) contours.push_back(static_cast<short>(vectors.size() - 1));
    if (type == kPtBezierTo) {
      if (i + 2 >= points.size() || vectors.empty()) break; // a curve needs its three points
      for (int k = 0; k < 3; ++k, ++i) {
        vectors.push_back({To26Dot6(points[i].x), To26Dot6(height - points[i].y)});
        tags.push_back(k < 2 ? FT_CURVE_TAG_CUBIC : FT_CURVE_TAG_ON);
      }
      --i;
      continue;
    }
    if (type != kPtMoveTo && vectors.empty()) continue; // a contour must start somewhere
    vectors.push_back({To26Dot6(points[i].x), To26Dot6(height - points[i].y)});
    tags.push_back(FT_CURVE_TAG_ON);
    if (vectors.size() > 32000) break; // FreeType counts points in shorts
  }
  if (vectors.empty()) return;
  contours.push_back(static_cast<short>(vectors.size() - 1));
  FT_Outline outline{};
  outline.n_points = static_cast<short>(vectors.size());
  outline.n_contours = static_cast<short>(contours.size());
  outline.points = vectors.data();
  outline.tags = tags.data();
  outline.contours = contours.data();
  outline.flags = FT_OUTLINE_NONE; // non-zero winding
  TSpanTarget target{coverage.data(), width, height};
  FT_Raster_Params params{};
  params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
  params.gray_spans = CoverageSpans;
  params.user = &target;
  params.clip_box = {0, 0, width, height};
  std::lock_guard lock(FreeTypeLock());
  FT_Outline_Render(static_cast<FT_Library>(FreeTypeLibrary()), &outline, &params);
}

void TTextProducer::SetText(TVectorText* text, bool owns) {
  owned_.reset(owns ? text : nullptr);
  text_ = text;
}

TOwned<TImage> TTextProducer::Produce(uint32_t color, uint32_t color2, bool strikeOut, bool underline,
                                      double scale, double* originX, double* originY) {
  lineRects_.clear();
  if (!text_ || !(scale > 0) || !std::isfinite(scale)) return nullptr;
  const int lines = text_->LineCount();
  struct TLine {
    TLineMetrics m;
    double top, bottom, width, baseline, x;
  };
  std::vector<TLine> layout(static_cast<size_t>(lines));
  double textWidth = 0, leftOverhang = 0, rightOverhang = 0;
  for (int i = 0; i < lines; ++i) {
    TLine& l = layout[static_cast<size_t>(i)];
    l.m = text_->LineMetrics(i);
    l.top = std::floor(scale * -l.m.ascent);
    l.bottom = std::ceil(scale * l.m.descent);
    l.width = std::ceil(scale * l.m.advance);
    textWidth = std::max(textWidth, l.width);
    leftOverhang = std::max(leftOverhang, -scale * l.m.leftInk);
    rightOverhang = std::max(rightOverhang, -scale * l.m.inkRightGap);
  }
  double y = 0;
  for (int i = 0; i < lines; ++i) {
    TLine& l = layout[static_cast<size_t>(i)];
    if (i > 0) y += scale * l.m.height * lineSpacing_ / 200;
    l.baseline = y;
    y += scale * l.m.height;
    l.x = align_ == TTextAlign::Left     ? 0
          : align_ == TTextAlign::Center ? (textWidth - l.width) / 2
                                         : textWidth - l.width;
  }
  const double top = lines ? layout.front().baseline + layout.front().top : 0;
  const double bottom = lines ? layout.back().baseline + layout.back().bottom : 0;
  const double marginX = 1 + std::ceil(leftOverhang), marginY = 1 - top;
  const int64_t width =
      static_cast<int64_t>(std::ceil(textWidth + 2 + std::ceil(leftOverhang) + std::ceil(rightOverhang)));
  const int64_t height = static_cast<int64_t>(std::ceil(bottom - top + 2));
  if (!PictureSizeAllowed(width, height)) return nullptr;
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  std::vector<uint8_t> coverage(static_cast<size_t>(w) * h);

  for (int i = 0; i < lines; ++i) {
    const TLine& l = layout[static_cast<size_t>(i)];
    const double ox = marginX + l.x, oy = marginY + l.baseline;
    lineRects_.push_back({ox, oy + l.top, ox + l.width, oy + l.bottom});
    for (int g = 0; g < text_->GlyphCount(i); ++g) {
      TGlyphPath path = text_->GlyphOutline(i, g);
      for (TGlyphPoint& p : path.points)
        p.x = static_cast<float>(ox + p.x * scale), p.y = static_cast<float>(oy + p.y * scale);
      FillPath(path.points, coverage, w, h);
    }
    const TFontMetrics& fm = text_->Metrics();
    auto bar = [&](float position, float thickness) {
      const double y0 = oy + scale * -position, y1 = y0 + std::max(1.0, scale * thickness);
      const float x0 = float(ox), x1 = float(ox + scale * l.m.advance);
      FillPath({{x0, float(y0), kPtMoveTo},
                {x1, float(y0), kPtLineTo},
                {x1, float(y1), kPtLineTo},
                {x0, float(y1), kPtLineTo}},
               coverage, w, h);
    };
    if (underline) bar(fm.underlinePosition, fm.underlineThickness);
    if (strikeOut) bar(fm.strikeOutPosition, fm.strikeOutThickness);
    if (progress_ && !progress_(double(i + 1) / std::max(lines, 1))) return nullptr;
  }

  auto bitmap = TRef<TBitmap>::Make(w, h, TBitmapFormat::Pf32bit);
  auto rgb = [](uint32_t ref) { return ((ref & 0xFF) << 16) | (ref & 0xFF00) | ((ref >> 16) & 0xFF); };
  const uint32_t c1 = rgb(color), c2 = rgb(color2);
  const bool recolour = (color & 0xFFFFFF) != (color2 & 0xFFFFFF);
  for (int py = 0; py < h; ++py) {
    for (int px = 0; px < w; ++px) {
      const uint32_t a = coverage[static_cast<size_t>(py) * w + px];
      uint32_t out = c1;
      if (recolour && a < 255) {
        // Edges blend towards the second colour so that filtering the picture never brings in black.
        out = 0;
        for (int shift : {0, 8, 16}) {
          const uint32_t v1 = (c1 >> shift) & 255, v2 = (c2 >> shift) & 255;
          out |= ((v2 * (255 - a) + v1 * a + 127) / 255) << shift;
        }
      }
      bitmap->SetPixel32(px, py, (a << 24) | out);
    }
    if (progress_ && !progress_(1.0)) return nullptr;
  }
  if (originX) *originX = marginX;
  if (originY) *originY = marginY;
  return MakeOwned<TImage>(TRef<TBitmapStore>::Adopt(new TWrapperBitmapStore(std::move(bitmap))));
}

} // namespace kiv

namespace kiv {

TOwned<TImage> MakeErrorPicture(const std::vector<std::u16string>& lines, double pixelsPerLine) {
  TOwned<TSimpleVectorText> text = MakeVectorText(u"Arial", lines);
  if (!text) return nullptr;
  const double height = text->Metrics().ascent + text->Metrics().descent;
  if (!(height > 0)) return nullptr;
  TTextProducer producer;
  producer.SetText(text.get(), false);
  producer.SetLineSpacing(20);
  // Colour references: yellow text whose edges blend towards blue.
  constexpr uint32_t kYellowRef = 0x00FFFF, kBlueRef = 0xFF0000;
  TOwned<TImage> image = producer.Produce(kYellowRef, kBlueRef, false, false, pixelsPerLine / height);
  if (!image) return nullptr;
  // Put the text on an opaque blue box so that it reads on any slide.
  TRef<TBitmap> glyphs = image->GetMipLevel(0, TBitmapFormat::Pf32bit);
  const int margin = static_cast<int>(pixelsPerLine / 2);
  const int64_t w = int64_t{glyphs->Width()} + 2 * margin, h = int64_t{glyphs->Height()} + 2 * margin;
  if (!PictureSizeAllowed(w, h)) return nullptr;
  auto box = TRef<TBitmap>::Make(static_cast<int>(w), static_cast<int>(h), TBitmapFormat::Pf32bit);
  box->Fill32(0xFF0000FF);
  for (int y = 0; y < glyphs->Height(); ++y)
    for (int x = 0; x < glyphs->Width(); ++x) {
      const uint32_t a = glyphs->Pixel32(x, y) >> 24;
      const uint32_t yellow = (0xFF * a + 127) / 255, blue = (0xFF * (255 - a) + 127) / 255;
      box->SetPixel32(x + margin, y + margin, 0xFF000000u | yellow << 16 | yellow << 8 | blue);
    }
  return MakeOwned<TImage>(TRef<TBitmapStore>::Adopt(new TWrapperBitmapStore(std::move(box))));
}

} // namespace kiv
