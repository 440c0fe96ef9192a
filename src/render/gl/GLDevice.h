#pragma once
// The GL stand-in for the Direct3D device: one context, the programs linked on it, and GL names whose
// owners went away while another thread held the context.

#include "GLPrograms.h"
#include "ObjectBase.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace kiv {
class TGLContext;
}

namespace kiv::gl {

struct TGLProgram {
  GLuint program = 0;
  GLint mvp = -1;       // generated vertex stage
  GLint constants = -1; // c[0] of a caller's pixel shader
  GLint vertexConstants = -1;
};

class TGLDevice final : public TRefObj {
public:
  explicit TGLDevice(std::unique_ptr<TGLContext> context);
  ~TGLDevice() override;

  // Makes the context current on the calling thread (a no-op when it already is).
  bool Bind();
  // Lets go of the context so that another thread can bind it.
  void Unbind();
  bool IsCurrentHere() const;
  TGLContext& Context() { return *context_; }

  // First pending GL error, or kRawContextLost once the context was reset or SimulateLoss was called.
  uint32_t TakeError(bool checkReset = false);
  // Test hook: the next checked call reports a lost device, as a robustness reset would.
  void SimulateLoss() { lost_ = true; }
  bool Lost() const { return lost_; }

  enum class TName { Texture, Buffer, Framebuffer, VertexArray, Shader, Program };
  void Delete(TName kind, GLuint name); // now when current here, else at the next Bind

  // Program for a generated or caller vertex stage (vs = 0: generated) and fragment stage (fs = 0:
  // generated from key). 0 when linking fails.
  const TGLProgram* Program(GLuint vs, GLuint fs, const TStageKey& key);
  void ForgetShader(GLuint shader); // drops the programs that use it

  GLuint WhiteTexture(); // 1 x 1 opaque white, for stages without a texture

  float maxAnisotropy = 1; // read at the first bind
  // The driver rasterises on the CPU (Mesa's llvmpipe or softpipe, SwiftShader); read at the first bind.
  bool softwareRasterizer = false;
  uint64_t Id() const { return id_; }

private:
  void FlushDeletes();

  uint64_t id_;
  std::unique_ptr<TGLContext> context_;
  bool lost_ = false;
  bool initialised_ = false;
  std::vector<std::pair<TName, GLuint>> pendingDeletes_;
  GLuint generatedVs_ = 0;
  std::map<uint32_t, GLuint> generatedFs_;
  std::map<std::tuple<GLuint, GLuint, uint32_t>, TGLProgram> programs_;
  GLuint white_ = 0;
};

// Compiles one GLSL stage on the current context: 0 when it does not compile, with the driver's whole
// message in the device log.
GLuint CompileShader(GLenum type, const std::string& source);

// Unbinds whatever context the calling thread holds; a drawing thread calls it before it ends.
void ReleaseCurrentGLContext();

} // namespace kiv::gl
