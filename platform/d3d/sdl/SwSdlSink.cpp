#include "platform/d3d/sdl/SwSdlSink.h"

#include <SDL.h>

#include <cstring>

#include "VoRav/wpExceptions.h"
#include "platform/d3d/raster/SwBands.inl"

namespace kav {

TSwSdlSink::TSwSdlSink() : gui_thread_(std::this_thread::get_id()) {
  // The frames are finished pictures in memory: a window surface over the
  // X server's shared memory shows them with one copy. Left to itself SDL
  // puts an OpenGL texture behind the surface, which without a GPU (Mesa's
  // llvmpipe) uploads and draws every frame again on a pool of its own
  // threads, and loads a software OpenGL stack of over 100 MB. An
  // SDL_FRAMEBUFFER_ACCELERATION set in the environment wins.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (!SDL_WasInit(SDL_INIT_VIDEO)) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
      throw EOSError(std::string("SDL video initialisation failed: ") + SDL_GetError(), 0);
    own_video_ = true;
  }
  wake_event_ = SDL_RegisterEvents(1);
}

TSwSdlSink::~TSwSdlSink() {
  for (TSwWindow w : own_windows_)
    if (SDL_Window* win = SDL_GetWindowFromID(uint32_t(w))) SDL_DestroyWindow(win);
  if (own_video_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

TSwWindow TSwSdlSink::CreateWindow(const char* title, int32_t width, int32_t height) {
  SDL_Window* win = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height, 0);
  if (!win) return 0;
  TSwWindow id = SDL_GetWindowID(win);
  own_windows_.push_back(id);
  RefreshSize(id);
  return id;
}

void TSwSdlSink::RefreshSize(TSwWindow window) {
  SDL_Window* win = SDL_GetWindowFromID(uint32_t(window));
  std::lock_guard<std::mutex> g(lock_);
  if (!win) {
    sizes_.erase(window);
    last_.erase(window);
    if (auto it = pending_.find(window); it != pending_.end() && !it->second.Ready) pending_.erase(it);
    return;
  }
  int w = 0, h = 0;
  SDL_GetWindowSize(win, &w, &h);
  sizes_[window] = {uint32_t(w), uint32_t(h)};
}

bool TSwSdlSink::ClientSize(TSwWindow window, uint32_t& width, uint32_t& height) {
  std::lock_guard<std::mutex> g(lock_);
  auto it = sizes_.find(window);
  if (it == sizes_.end()) return false;
  width = it->second.first;
  height = it->second.second;
  return true;
}

bool TSwSdlSink::Show(TSwWindow window, const uint32_t* pixels, int32_t pitch, int32_t w, int32_t h, int32_t x,
                      int32_t y) {
  SDL_Window* win = SDL_GetWindowFromID(uint32_t(window));
  if (!win) return false;
  SDL_Surface* target = SDL_GetWindowSurface(win);
  if (!target) return false;
  SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(pixels), w, h, 32, pitch,
                                                        SDL_PIXELFORMAT_RGB888);
  if (!src) return false;
  SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
  SDL_Rect dst{x, y, w, h};
  bool ok = SDL_BlitSurface(src, nullptr, target, &dst) == 0;
  SDL_FreeSurface(src);
  return ok && SDL_UpdateWindowSurface(win) == 0;
}

namespace {

// Sizes a kept frame for FRAME placed at (x, y); its rows come by CopyRows.
template <class TKept>
void TakeFrame(TKept& kept, const TSwFrameView& frame, int32_t x, int32_t y) {
  kept.Pixels.resize(size_t(frame.Width) * size_t(frame.Height));
  kept.Width = frame.Width;
  kept.Height = frame.Height;
  kept.X = x;
  kept.Y = y;
}

// Copies rows [r0, r1) of FRAME into a kept frame sized by TakeFrame.
template <class TKept>
void CopyRows(TKept& kept, const TSwFrameView& frame, int32_t r0, int32_t r1) {
  for (int32_t r = r0; r < r1; ++r)
    std::memcpy(kept.Pixels.data() + size_t(r) * size_t(frame.Width), frame.Bits + int64_t(r) * frame.Pitch,
                size_t(frame.Width) * 4);
}

}  // namespace

bool TSwSdlSink::Present(TSwWindow window, const TSwFrameView& frame, int32_t x, int32_t y) {
  if (OnGuiThread()) {
    TPending& last = last_[window];
    TakeFrame(last, frame, x, y);
    CopyRows(last, frame, 0, frame.Height);
    return Reshow(window);
  }
  {
    std::lock_guard<std::mutex> g(lock_);
    if (!sizes_.count(window)) return false;
    TPending& p = pending_[window];
    TakeFrame(p, frame, x, y);
    // In bands over the device's raster threads, like a draw.
    SwForBands(0, frame.Height, int64_t(frame.Width) * frame.Height, frame.Threads,
               [&](int32_t b0, int32_t b1) { CopyRows(p, frame, b0, b1); });
    p.Ready = true;
  }
  SDL_Event e{};
  e.type = wake_event_;
  SDL_PushEvent(&e);  // thread-safe by SDL's contract
  if (waker_) waker_();
  return true;
}

int32_t TSwSdlSink::Service() {
  int32_t shown = 0;
  std::map<TSwWindow, TPending> work;
  {
    std::lock_guard<std::mutex> g(lock_);
    for (auto& [w, p] : pending_)
      if (p.Ready) {
        work[w] = std::move(p);
        p = TPending{};
      }
  }
  for (auto& [w, p] : work)
    if (Show(w, p.Pixels.data(), p.Width * 4, p.Width, p.Height, p.X, p.Y)) ++shown;
  for (auto& [w, p] : work) RefreshSize(w);
  {
    // The shown frame stays as its window's last (shown or not: a window
    // not yet mapped shows it once it is); the frame it replaces gives its
    // buffer back to the window's slot for the next frame: a fresh one
    // every frame cost the kernel's mapping and zeroing of a whole frame 60
    // times a second.
    std::lock_guard<std::mutex> g(lock_);
    for (auto& [w, p] : work) {
      if (!sizes_.count(w)) continue;  // the window went
      std::swap(last_[w], p);
      auto it = pending_.find(w);
      if (it != pending_.end() && !it->second.Ready && it->second.Pixels.capacity() == 0)
        it->second.Pixels = std::move(p.Pixels);
    }
  }
  return shown;
}

bool TSwSdlSink::Reshow(TSwWindow window) {
  auto it = last_.find(window);
  if (it == last_.end() || it->second.Pixels.empty()) return false;
  const TPending& f = it->second;
  return Show(window, f.Pixels.data(), f.Width * 4, f.Width, f.Height, f.X, f.Y);
}

}  // namespace kav
