// Where presented frames go: the contract between the software device and a
// window system. The offscreen sink keeps frames in memory (tests, frame
// dumps); the SDL sink shows them in real windows.
#pragma once

#include <cstdint>

#include "VoRav/SysObj2.h"
#include "platform/d3d/SwTypes.h"

namespace kav {

// A presented picture: 32-bit pixels (A8R8G8B8 or X8R8G8B8) borrowed from
// the device for the duration of the call.
struct TSwFrameView {
  const uint8_t* Bits = nullptr;
  int32_t Pitch = 0;
  int32_t Width = 0, Height = 0;
  TSwFormat Format = TSwFormat::X8R8G8B8;
  // Raster threads the sink may use to copy the frame (the device's own
  // count): the copy of a large frame is shared out like a draw.
  int32_t Threads = 1;
};

class TSwPresentSink : public TRefObject {
 public:
  // Shows `frame` in the client area of `window` with its top-left corner at
  // (x, y) of that area; parts outside the area are cut. May be called from
  // any thread; the sink copies what it keeps before returning. False when
  // the window is unknown to the sink (the device still reports success, as
  // presenting to a window that went away is not a device fault).
  virtual bool Present(TSwWindow window, const TSwFrameView& frame, int32_t x, int32_t y) = 0;
  // The client size of `window`; false when the sink does not know it.
  // Used when a swap chain is created with a back-buffer size of 0.
  virtual bool ClientSize(TSwWindow window, uint32_t& width, uint32_t& height) = 0;
};

}  // namespace kav
