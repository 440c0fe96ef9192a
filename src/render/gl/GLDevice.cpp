#include "GLDevice.h"

#include "DeviceLayer.h"
#include "GLContext.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

namespace kiv::gl {
namespace {

std::atomic<uint64_t> gNextId{1};
// Which device is current on this thread. Ids are never reused, so a freed device cannot be mistaken
// for a new one at the same address.
thread_local uint64_t tCurrentId = 0;
thread_local TGLContext* tCurrentContext = nullptr;

// The driver's whole message about a shader or program, however long.
std::string InfoLog(GLuint object, bool program) {
  GLint length = 0;
  if (program)
    glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
  else
    glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<size_t>(std::max(length, 1)), '\0');
  if (program)
    glGetProgramInfoLog(object, static_cast<GLsizei>(log.size()), nullptr, log.data());
  else
    glGetShaderInfoLog(object, static_cast<GLsizei>(log.size()), nullptr, log.data());
  log.resize(std::strlen(log.c_str()));
  return log;
}

} // namespace

GLuint CompileShader(GLenum type, const std::string& source) {
  GLuint shader = glCreateShader(type);
  const char* text = source.c_str();
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    DevLog("GL shader compile failed: " + InfoLog(shader, false));
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

TGLDevice::TGLDevice(std::unique_ptr<TGLContext> context) : id_(gNextId++), context_(std::move(context)) {}

TGLDevice::~TGLDevice() {
  // The context takes every GL object with it.
  if (tCurrentId == id_) {
    tCurrentId = 0;
    tCurrentContext = nullptr;
  }
  context_.reset();
}

bool TGLDevice::IsCurrentHere() const {
  return tCurrentId == id_;
}

bool TGLDevice::Bind() {
  if (tCurrentId != id_) {
    if (!context_->MakeCurrent()) return false;
    tCurrentId = id_;
    tCurrentContext = context_.get();
  }
  if (!initialised_) {
    initialised_ = true;
    GLfloat aniso = 1;
    glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY, &aniso);
    maxAnisotropy = aniso >= 1 ? aniso : 1;
    const auto* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const std::string rendererName = name ? name : "";
    for (const char* software : {"llvmpipe", "softpipe", "SwiftShader", "swrast"})
      if (rendererName.find(software) != std::string::npos) softwareRasterizer = true;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glDisable(GL_DITHER);
    glDisable(GL_DEPTH_TEST);
    while (glGetError() != GL_NO_ERROR) {
    }
  }
  if (!pendingDeletes_.empty()) FlushDeletes();
  return true;
}

void TGLDevice::Unbind() {
  if (tCurrentId != id_) return;
  context_->ReleaseCurrent();
  tCurrentId = 0;
  tCurrentContext = nullptr;
}

void ReleaseCurrentGLContext() {
  if (tCurrentContext) tCurrentContext->ReleaseCurrent();
  tCurrentId = 0;
  tCurrentContext = nullptr;
}

uint32_t TGLDevice::TakeError(bool checkReset) {
  // A driver that reports robustness resets has lost everything on the context, as a lost device.
  if (checkReset && !lost_ && glGetGraphicsResetStatus() != GL_NO_ERROR) lost_ = true;
  GLenum first = GL_NO_ERROR;
  for (GLenum error; (error = glGetError()) != GL_NO_ERROR;)
    if (first == GL_NO_ERROR) first = error;
  if (first == GL_CONTEXT_LOST) lost_ = true;
  if (lost_) return kRawContextLost;
  return first;
}

void TGLDevice::Delete(TName kind, GLuint name) {
  if (name == 0) return;
  if (!IsCurrentHere()) {
    pendingDeletes_.emplace_back(kind, name);
    return;
  }
  switch (kind) {
  case TName::Texture:
    glDeleteTextures(1, &name);
    break;
  case TName::Buffer:
    glDeleteBuffers(1, &name);
    break;
  case TName::Framebuffer:
    glDeleteFramebuffers(1, &name);
    break;
  case TName::VertexArray:
    glDeleteVertexArrays(1, &name);
    break;
  case TName::Shader:
    glDeleteShader(name);
    break;
  case TName::Program:
    glDeleteProgram(name);
    break;
  }
}

void TGLDevice::FlushDeletes() {
  auto pending = std::move(pendingDeletes_);
  pendingDeletes_.clear();
  for (auto [kind, name] : pending)
    Delete(kind, name);
}

const TGLProgram* TGLDevice::Program(GLuint vs, GLuint fs, const TStageKey& key) {
  const uint32_t code = fs ? 0 : key.Code();
  const auto id = std::make_tuple(vs, fs, code);
  if (auto it = programs_.find(id); it != programs_.end()) return &it->second;

  GLuint vertex = vs;
  if (!vertex) {
    if (!generatedVs_) generatedVs_ = CompileShader(GL_VERTEX_SHADER, GeneratedVertexShader());
    vertex = generatedVs_;
  }
  GLuint fragment = fs;
  if (!fragment) {
    GLuint& generated = generatedFs_[code];
    if (!generated) generated = CompileShader(GL_FRAGMENT_SHADER, GeneratedFragmentShader(key));
    fragment = generated;
  }
  if (!vertex || !fragment) return nullptr;

  TGLProgram program;
  program.program = glCreateProgram();
  glAttachShader(program.program, vertex);
  glAttachShader(program.program, fragment);
  glLinkProgram(program.program);
  GLint ok = GL_FALSE;
  glGetProgramiv(program.program, GL_LINK_STATUS, &ok);
  if (!ok) {
    DevLog("GL program link failed: " + InfoLog(program.program, true));
    glDeleteProgram(program.program);
    return nullptr;
  }
  glUseProgram(program.program);
  for (int i = 0; i < kMaxStages; ++i) {
    const std::string name = "s" + std::to_string(i);
    if (GLint location = glGetUniformLocation(program.program, name.c_str()); location >= 0)
      glUniform1i(location, i);
  }
  program.mvp = glGetUniformLocation(program.program, "uMvp");
  if (fs) program.constants = glGetUniformLocation(program.program, "c[0]");
  if (vs) program.vertexConstants = glGetUniformLocation(program.program, "c[0]");
  return &(programs_[id] = program);
}

void TGLDevice::ForgetShader(GLuint shader) {
  for (auto it = programs_.begin(); it != programs_.end();) {
    if (std::get<0>(it->first) == shader || std::get<1>(it->first) == shader) {
      Delete(TName::Program, it->second.program);
      it = programs_.erase(it);
    } else {
      ++it;
    }
  }
}

GLuint TGLDevice::WhiteTexture() {
  if (!white_) {
    const uint32_t white = 0xFFFFFFFF;
    glGenTextures(1, &white_);
    glBindTexture(GL_TEXTURE_2D, white_);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, &white);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  }
  return white_;
}

} // namespace kiv::gl
