// The OpenGL device: the backend that draws what the software device would
// draw, on the graphics card. One GL context per system object serves all
// its devices; every resource is still held in memory by the device (so
// locks, device loss and resets behave as before) and mirrored into GL
// objects on use: textures are uploaded when their pixels changed (a
// managed texture's level then keeps its pixels packed until it is locked
// or a new context needs them), render targets and back buffers live in
// framebuffer objects only. Texture
// stages and the named pixel kernels run as GLSL (GlPrograms.h).
//
// Threads: the context is current on the thread in a scene (from the first
// GL call of a scene to EndScene's next GL-free call) or inside one device
// call; a thread that finds it current on another thread draws nothing and
// logs it once (the draw manager draws a frame on one thread at a time), and
// the present of such a frame fails (InvalidCall) so it is drawn again.
//
// Loss: a reset the context reports (GL robustness) or a simulated one
// makes every device of the system lost; the context is made again at
// once and the devices then answer "not reset" until their owners reset
// them, as a lost Direct3D device does.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/d3d/SwDevice.h"
#include "platform/d3d/gl/GlApi.h"
#include "platform/d3d/gl/GlContext.h"

namespace kav {

class TGlDevice;

struct TGlInfo {
  std::string Vendor, Renderer, Version, Shading;
};

// Whether a GL_RENDERER string names a rasteriser that runs on the CPU
// (Mesa's llvmpipe, softpipe, swrast, OpenSWR).
bool GlRendererIsSoftware(const std::string& renderer);
// The GL_RENDERER string of `context` (made current on the calling thread
// for the call, then released); empty when it cannot be read. Costs no
// more than the context itself: nothing is compiled.
std::string GlContextRenderer(TGlContext* context);
// Whether the machine has a graphics card's device node (/dev/dri, which
// Mesa's drivers open, or NVIDIA's /dev/nvidia0). Without one, every OpenGL
// there is a rasteriser on the CPU.
bool HasGraphicsDeviceNode();

class TGlSystem : public TSwBackendFactory {
 public:
  // Loads the context's functions and checks it is OpenGL 3.3 or later
  // (core); null with `error` set otherwise. Any thread; the context is
  // left not current.
  static Ref<TGlSystem> Create(Ref<TGlContext> context, std::string* error);

  Ref<TSwDeviceBackend> NewDevice(TSwDevice& d) override;
  std::string Description() const override { return "OpenGL: " + info_.Renderer; }
  const TGlInfo& Info() const { return info_; }

  // Test hook: the next present finds the context reset.
  void SimulateReset() { simulate_reset_ = true; }
  // GL objects kept (textures and render targets); for tests.
  size_t KeptObjects();

 protected:
  void Dispose() override;

 private:
  friend class TGlDevice;
  struct TRt {
    Ref<TSwSurface> Keep;
    GLuint Tex = 0, Fbo = 0;
    bool X8 = false;
  };
  struct TTex {
    Ref<TSwBaseTexture> Keep;
    GLuint Name = 0;
    bool Volume = false;
    std::vector<uint32_t> Writes;  // per level, as last uploaded
    GLint Min = -1, Mag = -1, WrapS = -1, WrapT = -1, WrapR = -1, Base = -1;
    float Bias = 0;
  };
  struct TProgram {
    GLuint Name = 0;
    GLint Wvp = -1, Vp = -1, Target = -1, Rhw = -1, Constants = -1;
  };
  struct TWindowTarget {
    GLuint Tex = 0, Fbo = 0;
    uint32_t Width = 0, Height = 0;
  };

  TGlSystem(Ref<TGlContext> context) : context_(std::move(context)) {}
  bool InitContext(std::string* error);
  // Makes the context current on this thread (with `window`'s drawable when
  // not 0); false when it cannot be.
  bool Acquire(TSwWindow window);
  // Ends a GL call: leaves the context current only while `keep`.
  void Done(bool keep);
  void Forget(bool delete_names);
  void DeletePending();
  void SweepUnused();
  void HandleReset();
  TRt* RtOf(TSwSurface* s);
  TTex* TexOf(TSwBaseTexture* t);
  GLuint BindTexture(int stage, TSwBaseTexture* t, const uint32_t* sampler);
  TProgram* ProgramFor(const std::string& key, const std::string& fragment);
  void LogOnce(const std::string& what);

  Ref<TGlContext> context_;
  TGlInfo info_;
  std::recursive_mutex lock_;
  std::thread::id owner_;
  TSwWindow current_window_ = 0;
  bool robust_ = false;
  std::atomic<bool> simulate_reset_{false};
  std::vector<TSwDevice*> devices_;
  std::map<const void*, TRt> rts_;
  std::map<const void*, TTex> texs_;
  std::map<std::string, TProgram> programs_;
  std::map<TSwWindow, TWindowTarget> windows_;
  std::vector<GLuint> dead_textures_, dead_fbos_;
  GLuint vao_ = 0, vbo_ = 0, scratch_tex_ = 0, scratch_fbo_ = 0;
  GLuint vertex_shader_ = 0;
  std::vector<std::string> logged_;
  std::vector<uint8_t> pixels_;
};

class TGlDevice : public TSwDeviceBackend {
 public:
  TGlDevice(Ref<TGlSystem> system, TSwDevice& d);

  TSwResult Clear(TSwDevice& d, uint32_t count, const TSwRect* rects, uint32_t color, const TSwRect& clip) override;
  TSwResult Draw(TSwDevice& d, TSwPrimitive type, uint32_t count, const uint8_t* data, uint32_t stride,
                 uint32_t vertices, const TSwRect& clip) override;
  TSwResult StretchRect(TSwDevice& d, TSwSurface& src, const TSwRect& sr, TSwSurface& dst,
                        const TSwRect& dr) override;
  TSwResult ReadRenderTarget(TSwDevice& d, TSwSurface& rt, TSwSurface& dest) override;
  TSwResult Present(TSwDevice& d, TSwSwapChain& chain, const TSwRect& src, const TSwRect& dst,
                    TSwWindow window) override;
  void Sweep(TSwDevice& d) override;
  void DeviceGone(TSwDevice& d) override;

 private:
  Ref<TGlSystem> sys_;
  // A call since the last present drew nothing (the context was current on
  // another thread): that frame is not shown, and its present fails so the
  // caller draws it again. Under the system's lock.
  bool missed_ = false;
};

}  // namespace kav
