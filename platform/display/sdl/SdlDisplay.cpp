#include "platform/display/sdl/SdlDisplay.h"

#include <SDL.h>

#include <algorithm>

namespace kav {

namespace {

// At most this many displays and modes per display are kept.
constexpr int kMaxDisplays = 64;
constexpr int kMaxModes = 512;

TDisplayRect FromSdl(const SDL_Rect& r) { return {r.x, r.y, r.x + r.w, r.y + r.h}; }

// Bits a pixel takes in memory, as a device context reports it (32 for the
// four-byte formats that SDL counts as 24 colour bits).
int32_t BitsOf(uint32_t format) {
  int bytes = SDL_BYTESPERPIXEL(format);
  return bytes >= 2 ? bytes * 8 : static_cast<int32_t>(SDL_BITSPERPIXEL(format));
}

TDisplayMode ModeOf(const SDL_DisplayMode& mode) {
  return {mode.w, mode.h, BitsOf(mode.format), std::max(mode.refresh_rate, 0)};
}

}  // namespace

std::shared_ptr<TSdlDisplay> TSdlDisplay::Create(std::string* error) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (error) *error = SDL_GetError();
    return nullptr;
  }
  std::shared_ptr<TSdlDisplay> display(new TSdlDisplay());
  display->Update();
  return display;
}

TSdlDisplay::~TSdlDisplay() {
  if (std::this_thread::get_id() == gui_thread_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool TSdlDisplay::Update() {
  std::vector<TDisplayMonitor> monitors;
  int count = std::min(SDL_GetNumVideoDisplays(), kMaxDisplays);
  for (int i = 0; i < count; ++i) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(i, &bounds) != 0) continue;
    TDisplayMonitor m;
    m.Bounds = FromSdl(bounds);
    SDL_Rect usable;
    m.WorkArea = SDL_GetDisplayUsableBounds(i, &usable) == 0 ? FromSdl(usable) : m.Bounds;
    if (m.WorkArea.IsEmpty()) m.WorkArea = m.Bounds;
    SDL_DisplayMode current;
    if (SDL_GetCurrentDisplayMode(i, &current) == 0 || SDL_GetDesktopDisplayMode(i, &current) == 0) {
      TDisplayMode mode = ModeOf(current);
      m.BitsPerPixel = mode.BitsPerPixel;
      m.RefreshRate = mode.RefreshRate;
    }
    float hdpi = 0, vdpi = 0;
    if (SDL_GetDisplayDPI(i, nullptr, &hdpi, &vdpi) == 0 && hdpi >= 1 && vdpi >= 1 && hdpi < 10000 &&
        vdpi < 10000) {
      m.DpiX = static_cast<int32_t>(hdpi + 0.5f);
      m.DpiY = static_cast<int32_t>(vdpi + 0.5f);
    }
    if (const char* name = SDL_GetDisplayName(i)) m.Name = name;
    int modes = std::min(SDL_GetNumDisplayModes(i), kMaxModes);
    for (int k = 0; k < modes; ++k) {
      SDL_DisplayMode mode;
      if (SDL_GetDisplayMode(i, k, &mode) == 0) m.Modes.push_back(ModeOf(mode));
    }
    m.Primary = bounds.x <= 0 && bounds.y <= 0 && bounds.x + bounds.w > 0 && bounds.y + bounds.h > 0;
    monitors.push_back(std::move(m));
  }
  return Publish(std::move(monitors));
}

bool TSdlDisplay::SetScreenSaverEnabled(bool enabled) {
  if (enabled)
    SDL_EnableScreenSaver();
  else
    SDL_DisableScreenSaver();
  return (SDL_IsScreenSaverEnabled() == SDL_TRUE) == enabled;
}

}  // namespace kav
