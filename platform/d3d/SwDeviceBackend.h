// Another renderer behind the device: the device keeps validating calls,
// holding state and resources (in memory, as before) and answering device
// loss, and hands clearing, drawing, copies between render targets,
// reading render targets back and presentation to a backend when its
// system object was configured with one (the OpenGL device,
// platform/d3d/gl). Without one the software rasteriser does the work.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "VoRav/SysObj2.h"
#include "platform/d3d/SwTypes.h"

namespace kav {

class TSwDevice;
class TSwSurface;
class TSwSwapChain;

class TSwDeviceBackend : public TRefObject {
 public:
  // Each is called under the device's lock once the device has validated
  // the call and found itself not lost. `rects` are the caller's (count 0:
  // the whole of `clip`); `clip` is the rectangle of the target the call may
  // change, as the software rasteriser cuts it (the viewport within the
  // target, and whatever else the device cuts by).
  virtual TSwResult Clear(TSwDevice& d, uint32_t count, const TSwRect* rects, uint32_t color,
                          const TSwRect& clip) = 0;
  virtual TSwResult Draw(TSwDevice& d, TSwPrimitive type, uint32_t count, const uint8_t* data, uint32_t stride,
                         uint32_t vertices, const TSwRect& clip) = 0;
  virtual TSwResult StretchRect(TSwDevice& d, TSwSurface& src, const TSwRect& sr, TSwSurface& dst,
                                const TSwRect& dr) = 0;
  virtual TSwResult ReadRenderTarget(TSwDevice& d, TSwSurface& rt, TSwSurface& dest) = 0;
  virtual TSwResult Present(TSwDevice& d, TSwSwapChain& chain, const TSwRect& src, const TSwRect& dst,
                            TSwWindow window) = 0;
  // Before a reset: lets go of what it keeps of resources nobody else holds.
  virtual void Sweep(TSwDevice& d) = 0;
  // The device is going: everything kept for it goes.
  virtual void DeviceGone(TSwDevice& d) = 0;

 protected:
  // The device's pipeline state and whether it is in a scene.
  template <class D>
  static const auto& StateOf(const D& d) {
    return d.st_;
  }
  template <class D>
  static bool InSceneOf(const D& d) {
    return d.in_scene_;
  }
};

// Makes the backend of each device of a system object.
class TSwBackendFactory : public TRefObject {
 public:
  virtual Ref<TSwDeviceBackend> NewDevice(TSwDevice& d) = 0;
  // The adapter's description ("OpenGL: <renderer>").
  virtual std::string Description() const = 0;
};

// The backend factory new system configurations take (null: the software
// rasteriser). Tests switch it to draw the same frames on both devices.
Ref<TSwBackendFactory> SwDefaultBackend();
void SwSetDefaultBackend(Ref<TSwBackendFactory> factory);

// Pixel kernels in GLSL for backends that run shaders: the text of a
// function `vec4 Kernel()` giving what the kernel registered under the same
// name gives (the backend supplies the helpers it may call). Thread-safe.
void SwRegisterKernelSource(std::string_view name, std::string_view glsl);
// The text registered for `name`; empty when there is none.
std::string SwKernelSource(std::string_view name);

}  // namespace kav
