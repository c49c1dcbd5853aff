// A headless GL context through EGL (Mesa's surfaceless platform, else the
// default display with no surface): tests, frame dumps and benchmarks draw
// with the GL device on machines without a display. Frames go to the
// system object's presentation sink.
#pragma once

#include <string>

#include "platform/d3d/gl/GlContext.h"

namespace kav {

// A new OpenGL 3.3 core context, or null with `error` set.
Ref<TGlContext> CreateGlEglContext(std::string* error);

}  // namespace kav

namespace kav {

class TGlSystem;
// One headless GL system for the process (made on first use; null with
// `error` set when this machine has no OpenGL 3.3). Tests and tools share
// it: making a context per test costs tens of milliseconds.
Ref<TGlSystem> HeadlessGlSystem(std::string* error = nullptr);

}  // namespace kav
