#include "PixelShaders.h"

#include <array>

namespace kiv {

namespace {

// Y, U and V from three L8 planes; U and V carry their own coordinates (t1, t2) since the planes are
// half-sized textures whose power-of-two rounding may differ from the Y plane's.
#define KIV_YUV_TO_RGB                                                                                       \
  "vec3 YuvToRgb(float Y, float U, float V, out float y) {\n"                                                \
  "  y = c[4].x * (Y - 1.0 / 16.0);\n"                                                                       \
  "  return clamp(vec3(y + c[0].x * (V - 0.5), y - c[1].x * (V - 0.5) - c[2].x * (U - 0.5),\n"               \
  "                    y + c[3].x * (U - 0.5)), 0.0, 1.0);\n"                                                \
  "}\n"

// Y between two lines of the same field: c[5] = (height, 1/height), field offsets in c[6].xy.
#define KIV_DEINTERLACED_Y                                                                                   \
  "float FieldY() {\n"                                                                                       \
  "  float r = t0.y * c[5].x + c[6].y;\n"                                                                    \
  "  float f = 2.0 * floor(r / 2.0);\n"                                                                      \
  "  float a = texture(s0, vec2(t0.x, (f + c[6].x + 2.5) * c[5].y)).r;\n"                                    \
  "  float b = texture(s0, vec2(t0.x, (f + c[6].x + 0.5) * c[5].y)).r;\n"                                    \
  "  float w = (r - (f + 0.5)) / 2.0;\n"                                                                     \
  "  return w * a + (1.0 - w) * b;\n"                                                                        \
  "}\n"

// Colourisation by c[7].x and keying on c[7].yz with tolerance c[6].z and its reciprocal c[6].w.
#define KIV_CHROMA_KEY                                                                                       \
  "vec4 Keyed(vec3 rgb, float y, float U, float V) {\n"                                                      \
  "  vec3 colour = rgb + c[7].x * (2.0 * y * vcol.rgb - rgb);\n"                                             \
  "  float d = 0.5 * abs((U - c[7].y) + (V - c[7].z));\n"                                                    \
  "  float alpha = d - c[6].z >= 0.0 ? vcol.a : vcol.a * d * d * c[6].w * c[6].w;\n"                         \
  "  return vec4(colour, alpha);\n"                                                                          \
  "}\n"

constexpr std::string_view kYuvLum =
    KIV_YUV_TO_RGB "void main() {\n"
                   "  float y;\n"
                   "  vec3 rgb = YuvToRgb(texture(s0, t0).r, texture(s1, t1).r, texture(s2, t2).r, y);\n"
                   "  oC0 = vec4(rgb, vcol.a);\n"
                   "}\n";

constexpr std::string_view kYuvDeinterlaceLum = KIV_YUV_TO_RGB KIV_DEINTERLACED_Y
    "void main() {\n"
    "  float y;\n"
    "  vec3 rgb = YuvToRgb(FieldY(), texture(s1, t1).r, texture(s2, t2).r, y);\n"
    "  oC0 = vec4(rgb, vcol.a);\n"
    "}\n";

constexpr std::string_view kChromaKey =
    KIV_YUV_TO_RGB KIV_CHROMA_KEY "void main() {\n"
                                  "  float y;\n"
                                  "  float U = texture(s1, t1).r, V = texture(s2, t2).r;\n"
                                  "  vec3 rgb = YuvToRgb(texture(s0, t0).r, U, V, y);\n"
                                  "  oC0 = Keyed(rgb, y, U, V);\n"
                                  "}\n";

constexpr std::string_view kChromaDeinter =
    KIV_YUV_TO_RGB KIV_DEINTERLACED_Y KIV_CHROMA_KEY "void main() {\n"
                                                     "  float y;\n"
                                                     "  float U = texture(s1, t1).r, V = texture(s2, t2).r;\n"
                                                     "  vec3 rgb = YuvToRgb(FieldY(), U, V, y);\n"
                                                     "  oC0 = Keyed(rgb, y, U, V);\n"
                                                     "}\n";

constexpr std::string_view kVideoMask =
    "void main() {\n"
    "  float invert = c[0].x;\n"
    "  float m = (1.0 - 2.0 * invert) * 1.16438 * (texture(s0, t0).r - 0.0625) + invert;\n"
    "  oC0 = vec4(m, m, m, m * vcol.a);\n"
    "}\n";

constexpr std::string_view kUnsharp =
    "void main() {\n"
    "  vec2 d = c[0].xy;\n"
    "  vec4 centre = texture(s0, t0);\n"
    "  vec3 blur = 4.0 * centre.rgb;\n"
    "  blur += 2.0 * (texture(s0, t0 + vec2(-d.x, 0.0)).rgb + texture(s0, t0 + vec2(d.x, 0.0)).rgb +\n"
    "                 texture(s0, t0 + vec2(0.0, -d.y)).rgb + texture(s0, t0 + vec2(0.0, d.y)).rgb);\n"
    "  blur += texture(s0, t0 + vec2(-d.x, -d.y)).rgb + texture(s0, t0 + vec2(d.x, -d.y)).rgb +\n"
    "          texture(s0, t0 + vec2(-d.x, d.y)).rgb + texture(s0, t0 + vec2(d.x, d.y)).rgb;\n"
    "  vec3 diff = centre.rgb - blur / 16.0;\n"
    "  vec3 sharp = centre.rgb + c[2].x * diff;\n"
    "  vec3 keep = step(vec3(0.0), abs(diff) - vec3(c[1].x));\n"
    "  oC0 = vec4(mix(centre.rgb, sharp, keep), centre.a);\n"
    "}\n";

#define KIV_GAUSS_7(AXIS)                                                                                    \
  "void main() {\n"                                                                                          \
  "  vec2 step1 = " AXIS " * c[1].x;\n"                                                                      \
  "  vec4 sum = c[0].w * texture(s0, t0);\n"                                                                 \
  "  sum += c[0].z * (texture(s0, clamp(t0 - step1, 0.0, 1.0)) + texture(s0, clamp(t0 + step1, 0.0, "        \
  "1.0)));\n"                                                                                                \
  "  sum += c[0].y * (texture(s0, clamp(t0 - 2.0 * step1, 0.0, 1.0)) +\n"                                    \
  "                   texture(s0, clamp(t0 + 2.0 * step1, 0.0, 1.0)));\n"                                    \
  "  sum += c[0].x * (texture(s0, clamp(t0 - 3.0 * step1, 0.0, 1.0)) +\n"                                    \
  "                   texture(s0, clamp(t0 + 3.0 * step1, 0.0, 1.0)));\n"                                    \
  "  oC0 = sum;\n"                                                                                           \
  "}\n"

constexpr std::string_view kGaussH7 = KIV_GAUSS_7("vec2(1.0, 0.0)");
constexpr std::string_view kGaussV7 = KIV_GAUSS_7("vec2(0.0, 1.0)");

constexpr std::string_view kGaussMix = "void main() {\n"
                                       "  float alpha = c[0].x;\n"
                                       "  oC0 = texture(s1, t1) * alpha + texture(s0, t0) * (1.0 - alpha);\n"
                                       "}\n";

constexpr std::string_view kColorCorrection =
    "void main() {\n"
    "  vec4 tex = texture(s0, t0);\n"
    "  float l = dot(tex.rgb, vec3(0.2126, 0.7152, 0.0722));\n"
    "  oC0 = vec4(tex.rgb + c[0].x * (2.0 * l * vcol.rgb - tex.rgb), tex.a * vcol.a);\n"
    "}\n";

#undef KIV_YUV_TO_RGB
#undef KIV_DEINTERLACED_Y
#undef KIV_CHROMA_KEY
#undef KIV_GAUSS_7

constexpr std::array<TShaderSource, 10> kShaders = {{
    {"yuv_lum", kYuvLum},
    {"yuv_deinterlace_lum", kYuvDeinterlaceLum},
    {"chromakey", kChromaKey},
    {"chroma_deinter", kChromaDeinter},
    {"videomask", kVideoMask},
    {"unsharp", kUnsharp},
    {"gauss_blur_h7", kGaussH7},
    {"gauss_blur_v7", kGaussV7},
    {"gauss_mix", kGaussMix},
    {"color_correction", kColorCorrection},
}};

} // namespace

std::span<const TShaderSource> PixelShaderSources() {
  return kShaders;
}

std::string_view PixelShaderCode(std::string_view name) {
  for (const TShaderSource& shader : kShaders)
    if (shader.name == name) return shader.code;
  return {};
}

} // namespace kiv
