// The OpenGL functions the GL device calls, loaded at run time through the
// context's own lookup (SDL_GL_GetProcAddress or eglGetProcAddress), so
// the program links no GL library: a machine without one runs the software
// device.
#pragma once

#include <GL/glcorearb.h>

#include <cstdint>

namespace kav {

#define KAV_GL_FUNCTIONS(X)                                             \
  X(PFNGLGETSTRINGPROC, GetString)                                      \
  X(PFNGLGETINTEGERVPROC, GetIntegerv)                                  \
  X(PFNGLGETERRORPROC, GetError)                                        \
  X(PFNGLENABLEPROC, Enable)                                            \
  X(PFNGLDISABLEPROC, Disable)                                          \
  X(PFNGLVIEWPORTPROC, Viewport)                                        \
  X(PFNGLSCISSORPROC, Scissor)                                          \
  X(PFNGLCLEARCOLORPROC, ClearColor)                                    \
  X(PFNGLCLEARPROC, Clear)                                              \
  X(PFNGLCOLORMASKPROC, ColorMask)                                      \
  X(PFNGLBLENDFUNCSEPARATEPROC, BlendFuncSeparate)                      \
  X(PFNGLBLENDEQUATIONSEPARATEPROC, BlendEquationSeparate)              \
  X(PFNGLCULLFACEPROC, CullFace)                                        \
  X(PFNGLFRONTFACEPROC, FrontFace)                                      \
  X(PFNGLGENTEXTURESPROC, GenTextures)                                  \
  X(PFNGLDELETETEXTURESPROC, DeleteTextures)                            \
  X(PFNGLBINDTEXTUREPROC, BindTexture)                                  \
  X(PFNGLTEXIMAGE2DPROC, TexImage2D)                                    \
  X(PFNGLTEXSUBIMAGE2DPROC, TexSubImage2D)                              \
  X(PFNGLTEXIMAGE3DPROC, TexImage3D)                                    \
  X(PFNGLTEXPARAMETERIPROC, TexParameteri)                              \
  X(PFNGLTEXPARAMETERFPROC, TexParameterf)                              \
  X(PFNGLTEXPARAMETERIVPROC, TexParameteriv)                            \
  X(PFNGLACTIVETEXTUREPROC, ActiveTexture)                              \
  X(PFNGLPIXELSTOREIPROC, PixelStorei)                                  \
  X(PFNGLGENFRAMEBUFFERSPROC, GenFramebuffers)                          \
  X(PFNGLDELETEFRAMEBUFFERSPROC, DeleteFramebuffers)                    \
  X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer)                          \
  X(PFNGLFRAMEBUFFERTEXTURE2DPROC, FramebufferTexture2D)                \
  X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, CheckFramebufferStatus)            \
  X(PFNGLBLITFRAMEBUFFERPROC, BlitFramebuffer)                          \
  X(PFNGLREADPIXELSPROC, ReadPixels)                                    \
  X(PFNGLDRAWBUFFERPROC, DrawBuffer)                                    \
  X(PFNGLREADBUFFERPROC, ReadBuffer)                                    \
  X(PFNGLGENVERTEXARRAYSPROC, GenVertexArrays)                          \
  X(PFNGLDELETEVERTEXARRAYSPROC, DeleteVertexArrays)                    \
  X(PFNGLBINDVERTEXARRAYPROC, BindVertexArray)                          \
  X(PFNGLGENBUFFERSPROC, GenBuffers)                                    \
  X(PFNGLDELETEBUFFERSPROC, DeleteBuffers)                              \
  X(PFNGLBINDBUFFERPROC, BindBuffer)                                    \
  X(PFNGLBUFFERDATAPROC, BufferData)                                    \
  X(PFNGLVERTEXATTRIBPOINTERPROC, VertexAttribPointer)                  \
  X(PFNGLENABLEVERTEXATTRIBARRAYPROC, EnableVertexAttribArray)          \
  X(PFNGLDISABLEVERTEXATTRIBARRAYPROC, DisableVertexAttribArray)        \
  X(PFNGLVERTEXATTRIB4FPROC, VertexAttrib4f)                            \
  X(PFNGLDRAWARRAYSPROC, DrawArrays)                                    \
  X(PFNGLCREATESHADERPROC, CreateShader)                                \
  X(PFNGLSHADERSOURCEPROC, ShaderSource)                                \
  X(PFNGLCOMPILESHADERPROC, CompileShader)                              \
  X(PFNGLGETSHADERIVPROC, GetShaderiv)                                  \
  X(PFNGLGETSHADERINFOLOGPROC, GetShaderInfoLog)                        \
  X(PFNGLDELETESHADERPROC, DeleteShader)                                \
  X(PFNGLCREATEPROGRAMPROC, CreateProgram)                              \
  X(PFNGLATTACHSHADERPROC, AttachShader)                                \
  X(PFNGLBINDATTRIBLOCATIONPROC, BindAttribLocation)                    \
  X(PFNGLLINKPROGRAMPROC, LinkProgram)                                  \
  X(PFNGLGETPROGRAMIVPROC, GetProgramiv)                                \
  X(PFNGLGETPROGRAMINFOLOGPROC, GetProgramInfoLog)                      \
  X(PFNGLDELETEPROGRAMPROC, DeleteProgram)                              \
  X(PFNGLUSEPROGRAMPROC, UseProgram)                                    \
  X(PFNGLGETUNIFORMLOCATIONPROC, GetUniformLocation)                    \
  X(PFNGLUNIFORM1IPROC, Uniform1i)                                      \
  X(PFNGLUNIFORM2FVPROC, Uniform2fv)                                    \
  X(PFNGLUNIFORM4FVPROC, Uniform4fv)                                    \
  X(PFNGLUNIFORMMATRIX4FVPROC, UniformMatrix4fv)                        \
  X(PFNGLFINISHPROC, Finish)                                            \
  X(PFNGLFLUSHPROC, Flush)

struct TGlApi {
#define KAV_GL_MEMBER(type, name) type name = nullptr;
  KAV_GL_FUNCTIONS(KAV_GL_MEMBER)
#undef KAV_GL_MEMBER
  // Optional: the robustness query (GL 4.5 or GL_ARB_robustness); null
  // when the context cannot tell a reset.
  PFNGLGETGRAPHICSRESETSTATUSPROC GetGraphicsResetStatus = nullptr;
};

// The functions of the current context; the device loads them once per
// context it makes (every context of a process gets the same entry points
// from one driver).
extern TGlApi gl;

// Loads every function through `lookup`; false (naming the first missing
// function in `missing`) when one is absent.
bool GlLoad(void* (*lookup)(const char*), const char** missing);

// Benchmarks: from GlTimeCalls(true) on, every function of `gl` runs
// between two readings of the calling thread's CPU clock, and
// GlCallThreadNs() answers the sum on the calling thread, so the CPU time
// of our own code is a frame's thread time less the driver's share.
void GlTimeCalls(bool on);
uint64_t GlCallThreadNs();
// Benchmarks: from GlNullCalls(true) on, every function of `gl` does
// nothing (queries answer success and names 1), and the device does not
// make its context current: a frame's thread time is then our own code's
// alone. GlNullActive() tells the device.
void GlNullCalls(bool on);
bool GlNullActive();
// Counts the driver's time spent outside `gl` (making the context current,
// which flushes it) while timing is on.
class TGlDriverTime {
 public:
  TGlDriverTime();
  ~TGlDriverTime();
  TGlDriverTime(const TGlDriverTime&) = delete;
  TGlDriverTime& operator=(const TGlDriverTime&) = delete;

 private:
  uint64_t start_ = 0;
};

}  // namespace kav
