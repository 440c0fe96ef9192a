// Drawing through the GL device layer on a headless context: clears, texture kinds, texel-exact quads,
// blending, mip levels, render targets, StretchRects and shaders.

#include "GLTestSupport.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace kiv::test {
namespace {

using DrawTest = GLFixture;

TEST_F(DrawTest, ClearFillsTheTargetAndIsClippedToTheViewport) {
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF102030, 1));
  ASSERT_TRUE(renderer->SetViewport({10, 10, 30, 20}, 0, 1));
  const TRect rects[] = {{0, 0, 20, 15}, {25, 18, 40, 40}};
  ASSERT_TRUE(renderer->Clear(rects, kClearTarget, 0xFFFF0000, 1));
  const TDevBitmap bitmap = ReadTarget();
  ASSERT_EQ(bitmap.Width(), kWidth);
  ASSERT_EQ(bitmap.Height(), kHeight);
  const struct {
    int x, y;
    uint32_t color;
  } probes[] = {
      {0, 0, 0xFF102030},   {9, 12, 0xFF102030},  // outside the viewport
      {10, 10, 0xFFFF0000}, {19, 14, 0xFFFF0000}, // first rectangle within the viewport
      {20, 14, 0xFF102030}, {19, 15, 0xFF102030}, // just past it
      {25, 18, 0xFFFF0000}, {29, 19, 0xFFFF0000}, // second rectangle, cut at the viewport's corner
      {30, 19, 0xFF102030}, {29, 20, 0xFF102030}, {63, 47, 0xFF102030},
  };
  for (const auto& p : probes)
    EXPECT_EQ(bitmap.Pixel32(p.x, p.y), p.color) << p.x << "," << p.y;
}

TEST_F(DrawTest, ViewportOutsideTheTargetIsRefused) {
  EXPECT_FALSE(renderer->SetViewport({0, 0, kWidth + 1, kHeight}, 0, 1));
  EXPECT_EQ(renderer->lastError, kResultInvalidCall);
}

// A 1:1 quad on integer pixel edges must reproduce every texel, with point and with linear sampling; the
// texture's top row lands in the target's top row.
TEST_F(DrawTest, OneToOneQuadReproducesEveryTexel) {
  constexpr int kSize = 16;
  std::mt19937 random(7);
  std::vector<uint32_t> pixels(kSize * kSize);
  for (uint32_t& p : pixels)
    p = random() | 0xFF000000u;
  auto texture = renderer->CreateTexture(kTextureKindARGB, kSize, kSize, false);
  ASSERT_TRUE(texture);
  Upload(*texture, 0, pixels);
  texture->SetAddressMode(kAddressClamp, kAddressClamp);
  for (uint8_t filter : {kFilterPoint, kFilterLinear}) {
    ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF000000, 1));
    texture->SetFilter(filter);
    T3DTexture* layers[] = {texture.get()};
    ASSERT_TRUE(Draw(Quad(5, 3, 5 + kSize, 3 + kSize, 0xFFFFFFFF), {layers[0]}, kDrawTextured));
    const TDevBitmap bitmap = ReadTarget();
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x)
        ASSERT_EQ(bitmap.Pixel32(5 + x, 3 + y), pixels[static_cast<size_t>(y * kSize + x)])
            << "filter " << int(filter) << " texel " << x << "," << y;
    EXPECT_EQ(bitmap.Pixel32(4, 3), 0xFF000000u);
    EXPECT_EQ(bitmap.Pixel32(5 + kSize, 3), 0xFF000000u);
    EXPECT_EQ(bitmap.Pixel32(5, 2), 0xFF000000u);
    EXPECT_EQ(bitmap.Pixel32(5, 3 + kSize), 0xFF000000u);
  }
}

// Each texture kind uploads in its Direct3D memory layout and samples as that format would.
TEST_F(DrawTest, EveryTextureKindUploadsAndSamples) {
  const struct {
    uint8_t kind;
    TPixelFormat format;
    uint32_t written; // the pixel value in the kind's own format
    uint32_t drawn;   // what a 1:1 draw onto an opaque black target gives
  } cases[] = {
      {kTextureKindARGB, TPixelFormat::pf32bit, 0xFF336699, 0xFF336699},
      {kTextureKindRTX, TPixelFormat::pf32bit, 0x00336699, 0xFF336699}, // no alpha: drawn opaque
      {kTextureKindRTA, TPixelFormat::pf32bit, 0xFF336699, 0xFF336699},
      {kTextureKindL8, TPixelFormat::pf8bit, 0x80, 0xFF808080},           // grey, opaque
      {kTextureKindR5G6B5, TPixelFormat::pf16bit565, 0xF81F, 0xFFFF00FF}, // red and blue full, no green
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.kind));
    auto texture = renderer->CreateTexture(c.kind, 4, 4, false);
    ASSERT_TRUE(texture);
    T3DSurface* surface = texture->GetSurface(0);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->GetPixelFormat(), c.format);
    EXPECT_EQ(surface->GetSize(), (TSize{4, 4}));
    TDevBitmap* bits = surface->Lock(nullptr, false);
    ASSERT_NE(bits, nullptr);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        std::memcpy(bits->ScanLine(y) + x * BytesPerPixel(c.format), &c.written, BytesPerPixel(c.format));
    surface->Unlock(bits);

    TDevBitmap back;
    ASSERT_TRUE(surface->CopyToBitmap(back));
    uint32_t readBack = 0;
    std::memcpy(&readBack, back.ScanLine(2) + BytesPerPixel(c.format), BytesPerPixel(c.format));
    EXPECT_EQ(readBack, c.kind == kTextureKindRTX ? (c.written | 0xFF000000u) : c.written);

    ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF000000, 1));
    ASSERT_TRUE(Draw(Quad(0, 0, 4, 4, 0xFFFFFFFF), {texture.get()}, kDrawTextured));
    EXPECT_TRUE(NearColor(ReadTarget().Pixel32(1, 1), c.drawn));
  }
}

TEST_F(DrawTest, TextureKindAboveFourIsAContractViolation) {
  EXPECT_THROW(renderer->CreateTexture(5, 4, 4, false), EAssertion);
}

TEST_F(DrawTest, TextureLargerThanTheDriverAllowsIsAnInvalidCall) {
  std::vector<std::string> lines;
  SetDevLogHook([&lines](std::string_view line) { lines.emplace_back(line); });
  const int32_t tooWide = engine->GetCap(u"MaxTexWidth", 0) * 2;
  EXPECT_FALSE(renderer->CreateTexture(kTextureKindARGB, tooWide, 4, false));
  EXPECT_EQ(renderer->lastError, kResultInvalidCall);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Dx Error = 1"), lines.end());
  // The renderer stays usable.
  EXPECT_TRUE(renderer->Clear({}, kClearTarget, 0xFF000000, 1));
}

// Colour and alpha of one layer over a known target, per blend mode and premultiplication.
TEST_F(DrawTest, BlendModes) {
  const struct {
    const char* name;
    uint8_t blendMode;
    bool premultipliedTexture;
    bool premultipliedTarget;
    uint32_t target; // cleared target colour
    uint32_t texel;  // the texture's colour
    uint32_t expected;
  } cases[] = {
      // 50% red over opaque blue: straight alpha.
      {"normal", 0, false, false, 0xFF0000FF, 0x80FF0000, 0xBF80007F},
      // Premultiplied 50% red (0x80 red) over blue: source factor one.
      {"premultiplied layer", 0, true, false, 0xFF0000FF, 0x80800000, 0xFF80007F},
      // Plain 50% red into a premultiplied, transparent target: colour by alpha, alpha by one.
      {"into premultiplied target", 0, false, true, 0x00000000, 0x80FF0000, 0x80800000},
      // Same into a plain target: alpha would be multiplied by itself.
      {"into plain target", 0, false, false, 0x00000000, 0x80FF0000, 0x40800000},
      // Maximum per channel, factors ignored.
      {"maximum", 1, false, false, 0xFF2080C0, 0x40C04010, 0xFFC080C0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto target = renderer->CreateTexture(kTextureKindRTA, 8, 8, false);
    auto texture = renderer->CreateTexture(kTextureKindARGB, 8, 8, false);
    ASSERT_TRUE(target && texture);
    target->premultiplied = c.premultipliedTarget;
    texture->premultiplied = c.premultipliedTexture;
    Upload(*texture, 0, std::vector<uint32_t>(64, c.texel));
    ASSERT_TRUE(renderer->SetRenderTarget(target->GetSurface(0)));
    renderer->SetTransform(kTransformWorld, PixelMatrix(8, 8));
    ASSERT_TRUE(renderer->Clear({}, kClearTarget, c.target, 1));
    renderer->SetBlendMode(c.blendMode);
    ASSERT_TRUE(Draw(Quad(0, 0, 8, 8, 0xFFFFFFFF), {texture.get()},
                     kDrawTextured | kDrawModulateColor | kDrawModulateAlpha));
    EXPECT_TRUE(NearColor(ReadTarget().Pixel32(4, 4), c.expected));
    renderer->SetBlendMode(0);
    ASSERT_TRUE(renderer->SetRenderTarget(nullptr));
  }
}

// Stage combinations: colour modulation by the vertex colour, alpha from texture or vertex.
TEST_F(DrawTest, StageFlagsCombineTextureAndVertexColour) {
  auto plain = renderer->CreateTexture(kTextureKindARGB, 4, 4, false);
  auto targetTexture = renderer->CreateTexture(kTextureKindRTA, 4, 4, false);
  ASSERT_TRUE(plain && targetTexture);
  Upload(*plain, 0, std::vector<uint32_t>(16, 0x80FFFFFF));
  Upload(*targetTexture, 0, std::vector<uint32_t>(16, 0x20FFFFFF));
  const struct {
    const char* name;
    T3DTexture* texture;
    uint32_t flags;
    uint32_t vertex;
    uint32_t expected; // over opaque black
  } cases[] = {
      {"texture only", plain.get(), kDrawTextured, 0xFF00FF00, 0xFF808080},
      {"modulate colour", plain.get(), kDrawTextured | kDrawModulateColor, 0xFF00FF00, 0xFF008000},
      {"modulate alpha", plain.get(), kDrawTextured | kDrawModulateAlpha, 0x80000000, 0xFF404040},
      // A plain render-target texture ignores its own alpha: the vertex alpha alone counts.
      {"render target alpha", targetTexture.get(), kDrawTextured | kDrawModulateAlpha, 0x80000000,
       0xFF808080},
      {"untextured", nullptr, kDrawModulateColor | kDrawModulateAlpha, 0xFF2040FF, 0xFF2040FF},
      {"lighting without lights", nullptr, kDrawModulateColor | kDrawLighting, 0xFF2040FF, 0xFF000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF000000, 1));
    std::vector<T3DTexture*> layers;
    if (c.texture) layers.push_back(c.texture);
    ASSERT_TRUE(Draw(Quad(0, 0, 4, 4, c.vertex), layers, c.flags));
    EXPECT_TRUE(NearColor(ReadTarget().Pixel32(2, 2), c.expected));
  }
}

// Level i of a mip chain has its own colour; a quad a quarter of the texture's size samples level 2,
// and the LOD bias moves that choice by whole levels.
TEST_F(DrawTest, MipLevelsFollowMinificationAndLodBias) {
  const uint32_t levelColors[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFFFF00FF, 0xFF00FFFF};
  auto texture = renderer->CreateTexture(kTextureKindARGB, 32, 32, true);
  ASSERT_TRUE(texture);
  ASSERT_EQ(texture->GetLevelCount(), 6);
  for (int level = 0; level < 6; ++level) {
    const int size = 32 >> level;
    EXPECT_EQ(texture->GetSurface(level)->GetSize(), (TSize{size, size}));
    Upload(*texture, level, std::vector<uint32_t>(static_cast<size_t>(size * size), levelColors[level]));
  }
  texture->SetFilter(kFilterLinear);
  texture->SetMipMapped(true);
  const struct {
    float bias;
    uint32_t expected;
  } cases[] = {{0, levelColors[2]}, {-1, levelColors[1]}, {1, levelColors[3]}, {-2, levelColors[0]}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bias);
    texture->SetLodBias(c.bias);
    ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF000000, 1));
    ASSERT_TRUE(Draw(Quad(0, 0, 8, 8, 0xFFFFFFFF), {texture.get()}, kDrawTextured));
    EXPECT_TRUE(NearColor(ReadTarget().Pixel32(4, 4), c.expected, 8));
  }
  // Without mip-mapping only level 0 is sampled.
  texture->SetMipMapped(false);
  ASSERT_TRUE(Draw(Quad(0, 0, 8, 8, 0xFFFFFFFF), {texture.get()}, kDrawTextured));
  EXPECT_TRUE(NearColor(ReadTarget().Pixel32(4, 4), levelColors[0], 8));
}

TEST_F(DrawTest, RenderTargetSwitchingKeepsEachPicture) {
  auto first = renderer->CreateTexture(kTextureKindRTA, 16, 16, false);
  auto second = renderer->CreateTexture(kTextureKindRTX, 16, 16, false);
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(renderer->SetRenderTarget(first->GetSurface(0)));
  EXPECT_EQ(renderer->GetRenderTarget(), first->GetSurface(0));
  renderer->SetTransform(kTransformWorld, PixelMatrix(16, 16));
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0x00000000, 1));
  ASSERT_TRUE(Draw(Quad(0, 0, 16, 8, 0xFFFF0000), {}, kDrawModulateColor)); // top half red
  ASSERT_TRUE(renderer->SetRenderTarget(second->GetSurface(0)));
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF00FF00, 1));
  // A kind-0 surface cannot be a target.
  auto plain = renderer->CreateTexture(kTextureKindARGB, 16, 16, false);
  EXPECT_FALSE(renderer->SetRenderTarget(plain->GetSurface(0)));
  // Back to the back buffer: draw the first target's picture 1:1 at (10, 20).
  ASSERT_TRUE(renderer->SetRenderTarget(nullptr));
  T3DSurface* backBuffer = nullptr;
  ASSERT_TRUE(renderer->GetBackBuffer(backBuffer));
  EXPECT_EQ(renderer->GetRenderTarget(), backBuffer);
  renderer->SetTransform(kTransformWorld, PixelMatrix(kWidth, kHeight));
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF0000FF, 1));
  first->premultiplied = true;
  ASSERT_TRUE(Draw(Quad(10, 20, 26, 36, 0xFFFFFFFF), {first.get()}, kDrawTextured));
  const TDevBitmap bitmap = ReadTarget();
  EXPECT_EQ(bitmap.Pixel32(12, 22), 0xFFFF0000u); // the red top half, upright
  EXPECT_EQ(bitmap.Pixel32(12, 30), 0xFF0000FFu); // transparent bottom half keeps the blue
  TDevBitmap secondBits;
  ASSERT_TRUE(second->GetSurface(0)->CopyToBitmap(secondBits));
  EXPECT_EQ(secondBits.Pixel32(8, 8), 0xFF00FF00u);
}

TEST_F(DrawTest, StretchRectsCopiesWithPointSampling) {
  auto source = renderer->CreateTexture(kTextureKindRTA, 4, 4, false);
  auto dest = renderer->CreateTexture(kTextureKindRTA, 8, 8, false);
  ASSERT_TRUE(source && dest);
  std::vector<uint32_t> pixels(16);
  for (int i = 0; i < 16; ++i)
    pixels[static_cast<size_t>(i)] = 0xFF000000u | static_cast<uint32_t>(i * 0x0F0F0F);
  Upload(*source, 0, pixels);
  ASSERT_TRUE(renderer->StretchRects(source->GetSurface(0), dest->GetSurface(0), {}, {}));
  TDevBitmap bits;
  ASSERT_TRUE(dest->GetSurface(0)->CopyToBitmap(bits));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(bits.Pixel32(x, y), pixels[static_cast<size_t>(y / 2 * 4 + x / 2)]);
  // Rectangles: the source's bottom-right texel into a 2 x 3 area of the back buffer.
  const TRect from[] = {{3, 3, 4, 4}};
  const TRect to[] = {{1, 2, 3, 5}};
  T3DSurface* backBuffer = nullptr;
  ASSERT_TRUE(renderer->GetBackBuffer(backBuffer));
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF000000, 1));
  ASSERT_TRUE(renderer->StretchRects(source->GetSurface(0), backBuffer, from, to));
  const TDevBitmap back = ReadTarget();
  EXPECT_EQ(back.Pixel32(1, 2), pixels[15]);
  EXPECT_EQ(back.Pixel32(2, 4), pixels[15]);
  EXPECT_EQ(back.Pixel32(3, 4), 0xFF000000u);
  EXPECT_EQ(back.Pixel32(1, 5), 0xFF000000u);
  // A rectangle outside the source is refused.
  const TRect outside[] = {{3, 3, 5, 5}};
  EXPECT_FALSE(renderer->StretchRects(source->GetSurface(0), backBuffer, outside, to));
  EXPECT_EQ(renderer->lastError, kResultInvalidCall);
}

TEST_F(DrawTest, LockReadsBackARectangle) {
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF112233, 1));
  const TRect red[] = {{4, 4, 6, 6}};
  ASSERT_TRUE(renderer->Clear(red, kClearTarget, 0xFFFF0000, 1));
  const TRect area{3, 3, 7, 7};
  TDevBitmap* bits = renderer->GetRenderTarget()->Lock(&area, true);
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(bits->Width(), 4);
  EXPECT_EQ(bits->Pixel32(0, 0), 0xFF112233u);
  EXPECT_EQ(bits->Pixel32(1, 1), 0xFFFF0000u);
  EXPECT_EQ(bits->Pixel32(3, 3), 0xFF112233u);
  EXPECT_EQ(renderer->GetRenderTarget()->Lock(&area, true), nullptr); // one lock at a time
  renderer->GetRenderTarget()->Unlock(bits);
  const TRect beyond{60, 40, 70, 50};
  EXPECT_EQ(renderer->GetRenderTarget()->Lock(&beyond, true), nullptr);
}

// A read-back that GL refuses must answer failure, or a caller would take the untouched bitmap for the
// picture. Deleting the texture under the bound framebuffer detaches it, so the framebuffer is incomplete
// and glReadPixels fails with a genuine GL error.
TEST_F(DrawTest, ReadBackThatGLRefusesFails) {
  const struct {
    const char* what;
    bool lock;
  } cases[] = {{"CopyToBitmap", false}, {"Lock", true}};
  for (const auto& c : cases) {
    auto texture = renderer->CreateTexture(kTextureKindRTA, 8, 8, false);
    ASSERT_TRUE(texture) << c.what;
    auto* surface = static_cast<T3DSurfaceGL*>(texture->GetSurface(0));
    TDevBitmap before;
    ASSERT_TRUE(surface->CopyToBitmap(before)) << c.what;
    glBindFramebuffer(GL_FRAMEBUFFER, surface->Framebuffer());
    const GLuint name = static_cast<T3DTextureGL*>(texture.get())->Name();
    glDeleteTextures(1, &name);
    if (c.lock) {
      EXPECT_EQ(surface->Lock(nullptr, true), nullptr) << c.what;
    } else {
      TDevBitmap bitmap;
      EXPECT_FALSE(surface->CopyToBitmap(bitmap)) << c.what;
    }
    EXPECT_EQ(texture->lastError, kResultInvalidCall) << c.what;
    // The failure does not stick: the renderer's own target still reads back.
    TDevBitmap target;
    EXPECT_TRUE(renderer->GetRenderTarget()->CopyToBitmap(target)) << c.what;
  }
}

TEST_F(DrawTest, CullingRemovesCounterClockwiseTrianglesOnly) {
  renderer->SetCullNone(false);
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF000000, 1));
  auto vertex = [](float x, float y) {
    T3DVertex v;
    v.x = x;
    v.y = y;
    v.color = 0xFFFFFFFF;
    return v;
  };
  // Clockwise on screen (y down): kept. Counter-clockwise: culled.
  ASSERT_TRUE(Draw({vertex(0, 0), vertex(16, 0), vertex(0, 16)}, {}, kDrawModulateColor));
  ASSERT_TRUE(Draw({vertex(32, 0), vertex(32, 16), vertex(48, 0)}, {}, kDrawModulateColor));
  const TDevBitmap bitmap = ReadTarget();
  EXPECT_EQ(bitmap.Pixel32(2, 2), 0xFFFFFFFFu);
  EXPECT_EQ(bitmap.Pixel32(34, 2), 0xFF000000u);
  renderer->SetCullNone(true);
  ASSERT_TRUE(Draw({vertex(32, 0), vertex(32, 16), vertex(48, 0)}, {}, kDrawModulateColor));
  EXPECT_EQ(ReadTarget().Pixel32(34, 2), 0xFFFFFFFFu);
}

TEST_F(DrawTest, VertexListRangesAreChecked) {
  auto list = renderer->CreateVertexList(6, kVertexDiffuse, 2);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->stride, 12 + 4 + 16);
  EXPECT_EQ(list->fvf, 0x002u | 0x040u | 0x200u);
  const auto quad = Quad(0, 0, 4, 4, 0xFFFFFFFF);
  EXPECT_FALSE(list->Fill(1, quad));
  EXPECT_TRUE(list->Fill(0, quad));
  list->SetPrimitive(1, 2, 3); // needs vertices 1..6 of 6
  EXPECT_FALSE(renderer->DrawVertexList({}, 0, list.get()));
  EXPECT_EQ(renderer->lastError, kResultInvalidCall);
  list->SetPrimitive(0, 2, 3);
  EXPECT_TRUE(renderer->DrawVertexList({}, 0, list.get()));
  EXPECT_FALSE(renderer->CreateVertexList(0, 0, 0));
}

TEST_F(DrawTest, PixelShaderReadsConstantsAndSamplers) {
  auto shader = renderer->CreateShader(
      "void main() { vec4 t = texture(s0, t0); oC0 = vec4(t.rgb * c[1].rgb, 1.0) + c[0]; }", false);
  ASSERT_TRUE(shader);
  EXPECT_TRUE(shader->valid);
  auto texture = renderer->CreateTexture(kTextureKindARGB, 4, 4, false);
  Upload(*texture, 0, std::vector<uint32_t>(16, 0xFFFFFFFF));
  const float constants[8] = {0.0f, 0.0f, 0.25f, 0.0f, 1.0f, 0.5f, 0.0f, 0.0f};
  ASSERT_TRUE(renderer->SetShaderConstants(0, constants, 2, false));
  EXPECT_FALSE(renderer->SetShaderConstants(31, constants, 2, false)); // past the 32 registers
  ASSERT_TRUE(renderer->SetShader(shader.get()));
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF000000, 1));
  ASSERT_TRUE(Draw(Quad(0, 0, 4, 4, 0xFFFFFFFF), {texture.get()}, kDrawTextured));
  EXPECT_TRUE(NearColor(ReadTarget().Pixel32(1, 1), 0xFFFF8040));
  // Freed while set: drawing falls back to the stages.
  shader.reset();
  ASSERT_TRUE(Draw(Quad(0, 0, 4, 4, 0xFFFFFFFF), {texture.get()}, kDrawTextured));
  EXPECT_TRUE(NearColor(ReadTarget().Pixel32(1, 1), 0xFFFFFFFF));
  EXPECT_FALSE(renderer->CreateShader("void main() { this is not glsl }", false));
  EXPECT_EQ(renderer->lastError, kResultInvalidCall);
}

// The driver's whole message goes to the log, however long: the error a show's author needs may be the last.
TEST_F(DrawTest, ShaderThatDoesNotCompileLogsTheDriversWholeMessage) {
  std::vector<std::string> lines;
  SetDevLogHook([&lines](std::string_view line) { lines.emplace_back(line); });
  std::string code = "void main() {\n";
  for (int i = 0; i < 80; ++i)
    code += "  float v" + std::to_string(i) + " = missing" + std::to_string(i) + ";\n";
  code += "  oC0 = vec4(1.0);\n}\n";
  EXPECT_FALSE(renderer->CreateShader(code, false));
  const auto logged = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.starts_with("GL shader compile failed: ");
  });
  ASSERT_NE(logged, lines.end());
  EXPECT_NE(logged->find("missing0"), std::string::npos);
  EXPECT_NE(logged->find("missing79"), std::string::npos);
}

TEST_F(DrawTest, VertexShaderPlacesVerticesItself) {
  auto shader = renderer->CreateShader(
      "void main() { SetPosition(vec4(aPos.xy * c[0].xy + c[0].zw, 0.0, 1.0)); vcol = aColor; }", true);
  ASSERT_TRUE(shader);
  const float scale[4] = {2.0f / kWidth, -2.0f / kHeight, -1.0f, 1.0f};
  ASSERT_TRUE(renderer->SetShaderConstants(0, scale, 1, true));
  ASSERT_TRUE(renderer->SetShader(shader.get()));
  ASSERT_TRUE(renderer->Clear({}, kClearTarget, 0xFF000000, 1));
  ASSERT_TRUE(Draw(Quad(8, 8, 16, 16, 0xFF00FF00), {}, kDrawModulateColor));
  const TDevBitmap bitmap = ReadTarget();
  EXPECT_EQ(bitmap.Pixel32(8, 8), 0xFF00FF00u);
  EXPECT_EQ(bitmap.Pixel32(7, 8), 0xFF000000u);
  ASSERT_TRUE(renderer->SetShader(nullptr));
}

} // namespace
} // namespace kiv::test
