#include "platform/d3d/gl/sdl/GlSdlContext.h"

#include <algorithm>
#include <set>

namespace kav {

namespace {

void* LookupSdl(const char* name) { return SDL_GL_GetProcAddress(name); }

class TGlSdlContext : public TGlContext {
 public:
  explicit TGlSdlContext(TGlSdlWindowOf window_of) : window_of_(std::move(window_of)) {}

  bool Open(std::string* error) {
    probe_ = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!probe_) {
      if (error) *error = std::string("no OpenGL window: ") + SDL_GetError();
      return false;
    }
    if (!MakeContext()) {
      if (error) *error = std::string("no OpenGL 3.3 core context: ") + SDL_GetError();
      return false;
    }
    SDL_GL_MakeCurrent(probe_, nullptr);
    return true;
  }

  bool MakeContext() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    // Robust first, so that a reset of the graphics card reads as a lost
    // device; plain where the driver has no robustness.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_ROBUST_ACCESS_FLAG);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_RESET_NOTIFICATION, SDL_GL_CONTEXT_RESET_LOSE_CONTEXT);
    context_ = SDL_GL_CreateContext(probe_);
    if (!context_) {
      SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
      SDL_GL_SetAttribute(SDL_GL_CONTEXT_RESET_NOTIFICATION, SDL_GL_CONTEXT_RESET_NO_NOTIFICATION);
      context_ = SDL_GL_CreateContext(probe_);
    }
    return context_ != nullptr;
  }

  bool MakeCurrent(TSwWindow window) override {
    SDL_Window* w = probe_;
    if (window) {
      w = window_of_ ? window_of_(window) : nullptr;
      if (!w) return false;
    }
    if (SDL_GL_MakeCurrent(w, context_) != 0) return false;
    if (window && swap_set_.insert(window).second) SDL_GL_SetSwapInterval(1);  // vsync where the driver allows
    return true;
  }
  void Release() override { SDL_GL_MakeCurrent(probe_, nullptr); }
  bool HasWindows() const override { return true; }
  void Swap(TSwWindow window) override {
    if (SDL_Window* w = window_of_ ? window_of_(window) : nullptr) SDL_GL_SwapWindow(w);
  }
  bool WindowSize(TSwWindow window, uint32_t& width, uint32_t& height) override {
    SDL_Window* w = window_of_ ? window_of_(window) : nullptr;
    if (!w) return false;
    int x = 0, y = 0;
    SDL_GL_GetDrawableSize(w, &x, &y);
    width = uint32_t(std::max(x, 0));
    height = uint32_t(std::max(y, 0));
    return true;
  }
  bool Recreate() override {
    if (context_) SDL_GL_DeleteContext(context_);
    swap_set_.clear();
    return MakeContext();
  }
  void* (*Lookup() const)(const char*) override { return &LookupSdl; }

 protected:
  void Dispose() override {
    if (context_) {
      SDL_GL_MakeCurrent(probe_, nullptr);
      SDL_GL_DeleteContext(context_);
    }
    if (probe_) SDL_DestroyWindow(probe_);
    TGlContext::Dispose();
  }

 private:
  TGlSdlWindowOf window_of_;
  SDL_Window* probe_ = nullptr;
  SDL_GLContext context_ = nullptr;
  std::set<TSwWindow> swap_set_;
};

}  // namespace

Ref<TGlContext> CreateGlSdlContext(TGlSdlWindowOf window_of, std::string* error) {
  auto c = MakeRef<TGlSdlContext>(std::move(window_of));
  if (!c->Open(error)) return nullptr;
  return c;
}

}  // namespace kav
