// The GL device's context on the player's SDL windows: OpenGL 3.3 core,
// made with a hidden window of its own (so it exists before the first
// device window) and made current with a device window to present; swaps
// wait for the vertical blank where the driver allows. The windows must be
// made with SDL_WINDOW_OPENGL.
#pragma once

#include <SDL.h>

#include <functional>
#include <string>

#include "platform/d3d/gl/GlContext.h"

namespace kav {

// The SDL window a device window stands for (null: unknown).
using TGlSdlWindowOf = std::function<SDL_Window*(TSwWindow)>;

// Call on the GUI thread once SDL's video is up; null with `error` set when
// no such context can be made.
Ref<TGlContext> CreateGlSdlContext(TGlSdlWindowOf window_of, std::string* error);

}  // namespace kav
