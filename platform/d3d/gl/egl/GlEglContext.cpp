#include "platform/d3d/gl/egl/GlEglContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>

namespace kav {

namespace {

void* LookupEgl(const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); }

class TGlEglContext : public TGlContext {
 public:
  bool Open(std::string* error) {
    auto get_platform_display =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (get_platform_display && client && std::strstr(client, "EGL_MESA_platform_surfaceless"))
      display_ = get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display_ == EGL_NO_DISPLAY) display_ = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLint major = 0, minor = 0;
    if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, &major, &minor)) {
      if (error) *error = "no EGL display";
      display_ = EGL_NO_DISPLAY;
      return false;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
      if (error) *error = "EGL has no desktop OpenGL";
      return false;
    }
    const EGLint attrs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_NONE};
    const EGLint any[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLint n = 0;
    if (!eglChooseConfig(display_, attrs, &config_, 1, &n) || n == 0) {
      if (!eglChooseConfig(display_, any, &config_, 1, &n) || n == 0) {
        if (error) *error = "no EGL configuration for OpenGL";
        return false;
      }
    }
    if (!MakeContext()) {
      if (error) *error = "no OpenGL 3.3 core context";
      return false;
    }
    return true;
  }

  bool MakeContext() {
    const EGLint ctx_attrs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    context_ = eglCreateContext(display_, config_, EGL_NO_CONTEXT, ctx_attrs);
    return context_ != EGL_NO_CONTEXT;
  }

  bool MakeCurrent(TSwWindow) override {
    return eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
  }
  void Release() override { eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT); }
  bool HasWindows() const override { return false; }
  void Swap(TSwWindow) override {}
  bool WindowSize(TSwWindow, uint32_t&, uint32_t&) override { return false; }
  bool Recreate() override {
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    context_ = EGL_NO_CONTEXT;
    return MakeContext();
  }
  void* (*Lookup() const)(const char*) override { return &LookupEgl; }

 protected:
  void Dispose() override {
    if (display_ != EGL_NO_DISPLAY) {
      eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
      if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
      // The display stays initialised: EGL counts no initialisations, and
      // other contexts of the process may use it.
    }
    TGlContext::Dispose();
  }

 private:
  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLConfig config_ = nullptr;
  EGLContext context_ = EGL_NO_CONTEXT;
};

}  // namespace

Ref<TGlContext> CreateGlEglContext(std::string* error) {
  auto c = MakeRef<TGlEglContext>();
  if (!c->Open(error)) return nullptr;
  return c;
}

}  // namespace kav

#include <mutex>

#include "platform/d3d/gl/GlDevice.h"

namespace kav {

Ref<TGlSystem> HeadlessGlSystem(std::string* error) {
  static std::mutex lock;
  static Ref<TGlSystem> system;
  static std::string failure;
  static bool tried = false;
  std::lock_guard<std::mutex> g(lock);
  if (!tried) {
    tried = true;
    Ref<TGlContext> c = CreateGlEglContext(&failure);
    if (c) system = TGlSystem::Create(c, &failure);
  }
  if (!system && error) *error = failure;
  return system;
}

}  // namespace kav
