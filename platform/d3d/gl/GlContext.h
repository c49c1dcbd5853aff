// Where the GL device's one context comes from: an SDL context on the
// player's windows (GlSdlContext.h) or a headless EGL context for tests and
// tools (egl/GlEglContext.h). The device draws into framebuffer objects
// only; a context with windows shows frames in them, one without hands
// them to the system object's presentation sink.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/SysObj2.h"
#include "platform/d3d/SwTypes.h"

namespace kav {

class TGlContext : public TRefObject {
 public:
  // Makes the context current on the calling thread with `window`'s
  // drawable (0: any drawable; presenting needs the window's). False when
  // that fails, or when the window is unknown.
  virtual bool MakeCurrent(TSwWindow window) = 0;
  // Leaves the calling thread without a current context.
  virtual void Release() = 0;
  // Whether frames go to windows of this context (else to the sink).
  virtual bool HasWindows() const = 0;
  // Shows the default framebuffer of `window` (current with it).
  virtual void Swap(TSwWindow window) = 0;
  // The drawable size of `window`; false when unknown.
  virtual bool WindowSize(TSwWindow window, uint32_t& width, uint32_t& height) = 0;
  // Makes a fresh context after a reset (the old one's objects are gone);
  // false when none can be made now.
  virtual bool Recreate() = 0;
  // The GL function lookup of this context.
  virtual void* (*Lookup() const)(const char*) = 0;
};

}  // namespace kav
