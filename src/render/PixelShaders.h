#pragma once
// The pixel shaders of the screen, as GLSL bodies for the device layer's frame: constants in `c[n]` by
// register number, samplers s0..s2, texture coordinates t0..t2, the vertex colour `vcol`, output `oC0`.
// Scalar constants are read from the x component of their register.

#include <span>
#include <string_view>

namespace kiv {

struct TShaderSource {
  std::string_view name;
  std::string_view code;
};

// All ten, by their names: "yuv_lum", "yuv_deinterlace_lum", "chromakey", "chroma_deinter", "videomask",
// "unsharp", "gauss_blur_h7", "gauss_blur_v7", "gauss_mix", "color_correction".
std::span<const TShaderSource> PixelShaderSources();
// The code of a shader by name; empty for an unknown name.
std::string_view PixelShaderCode(std::string_view name);

} // namespace kiv
