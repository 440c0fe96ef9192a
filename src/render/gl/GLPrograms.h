#pragma once
// GLSL programs standing in for Direct3D 9's fixed-function texture stages, and the frame around the
// shader code that callers hand to CreateShader.
//
// Register model kept from the original: pixel shaders see `uniform vec4 c[32]`, samplers s0..s7 on units
// 0..7, texture coordinates t0..t7 and the vertex colour `vcol`, and write `oC0`; vertex shaders see
// `uniform vec4 c[256]`, the inputs aPos, aColor, aTex0..aTex7, and call SetPosition(clip position).

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv::gl {

inline constexpr int kMaxStages = 8;
inline constexpr int kPixelConstants = 32;
inline constexpr int kVertexConstants = 256;

// What the generated fragment stage does. One program per distinct key.
struct TStageKey {
  uint8_t layers = 0;          // textures sampled, 0..8
  bool modulateColor = false;  // colour = texture × current
  bool modulateAlpha = false;  // alpha from the current (vertex) alpha, see vertexAlphaOnly
  bool lighting = false;       // fixed-function lighting with no lights: rgb 0, alpha kept
  uint8_t vertexAlphaOnly = 0; // per layer: alpha = current alpha, the texture's alpha ignored
  uint32_t Code() const {
    return layers | (modulateColor ? 0x10u : 0) | (modulateAlpha ? 0x20u : 0) | (lighting ? 0x40u : 0) |
           (uint32_t{vertexAlphaOnly} << 8);
  }
};

std::string GeneratedVertexShader();
std::string GeneratedFragmentShader(const TStageKey& key);
// Caller code wrapped with the version line and the register declarations.
std::string WrapPixelShader(std::string_view code);
std::string WrapVertexShader(std::string_view code);

} // namespace kiv::gl
