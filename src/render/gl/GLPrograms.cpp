#include "GLPrograms.h"

namespace kiv::gl {
namespace {

constexpr std::string_view kVersion = "#version 330 core\n";

// Direct3D clip space to GL: y is negated so that the top of every picture lands in row 0 of every
// framebuffer (uploads, render targets, viewports and read-back all keep "row 0 is the top"), and z keeps
// Direct3D's 0..w range, so the near plane at w = 0.01 still clips where the 3D transitions expect it.
constexpr std::string_view kSetPosition =
    "void SetPosition(vec4 p) { gl_Position = vec4(p.x, -p.y, 2.0 * p.z - p.w, p.w); }\n";

std::string VertexInputs() {
  std::string s = "layout(location = 0) in vec3 aPos;\nlayout(location = 1) in vec4 aColor;\n";
  for (int i = 0; i < kMaxStages; ++i)
    s += "layout(location = " + std::to_string(2 + i) + ") in vec2 aTex" + std::to_string(i) + ";\n";
  s += "out vec4 vcol;\n";
  for (int i = 0; i < kMaxStages; ++i)
    s += "out vec2 t" + std::to_string(i) + ";\n";
  return s;
}

std::string FragmentInputs() {
  std::string s = "in vec4 vcol;\n";
  for (int i = 0; i < kMaxStages; ++i)
    s += "in vec2 t" + std::to_string(i) + ";\n";
  for (int i = 0; i < kMaxStages; ++i)
    s += "uniform sampler2D s" + std::to_string(i) + ";\n";
  s += "out vec4 oC0;\n";
  return s;
}

} // namespace

std::string GeneratedVertexShader() {
  std::string s(kVersion);
  s += VertexInputs();
  s += "uniform mat4 uMvp;\n";
  s += kSetPosition;
  // uMvp holds the Direct3D row-vector matrix as GL columns, so uMvp * p is Direct3D's p · M.
  s += "void main() {\n  SetPosition(uMvp * vec4(aPos, 1.0));\n  vcol = aColor;\n";
  for (int i = 0; i < kMaxStages; ++i)
    s += "  t" + std::to_string(i) + " = aTex" + std::to_string(i) + ";\n";
  s += "}\n";
  return s;
}

std::string GeneratedFragmentShader(const TStageKey& key) {
  std::string s(kVersion);
  s += FragmentInputs();
  s += "void main() {\n  vec4 cur = vcol;\n";
  if (key.lighting) s += "  cur.rgb = vec3(0.0);\n";
  for (int i = 0; i < key.layers && i < kMaxStages; ++i) {
    const std::string n = std::to_string(i);
    s += "  {\n    vec4 tex = texture(s" + n + ", t" + n + ");\n";
    s += key.modulateColor ? "    cur.rgb = tex.rgb * cur.rgb;\n" : "    cur.rgb = tex.rgb;\n";
    if (!key.modulateAlpha)
      s += "    cur.a = tex.a;\n";
    else if (!(key.vertexAlphaOnly & (1u << i)))
      s += "    cur.a = tex.a * cur.a;\n";
    s += "  }\n";
  }
  s += "  oC0 = cur;\n}\n";
  return s;
}

std::string WrapPixelShader(std::string_view code) {
  std::string s(kVersion);
  s += FragmentInputs();
  s += "uniform vec4 c[" + std::to_string(kPixelConstants) + "];\n#line 1\n";
  s += code;
  return s;
}

std::string WrapVertexShader(std::string_view code) {
  std::string s(kVersion);
  s += VertexInputs();
  s += "uniform vec4 c[" + std::to_string(kVertexConstants) + "];\n";
  s += kSetPosition;
  s += "#line 1\n";
  s += code;
  return s;
}

} // namespace kiv::gl
