// A swap chain: the back buffer of one window and its presentation.
#pragma once

#include <vector>

#include "platform/d3d/SwSurface.h"

namespace kav {

class TSwDevice;

class TSwSwapChain : public TRefObject {
 public:
  // Copies `src` of the back buffer (null: all of it) to `dst` of the window
  // (null: the same size at the window's origin), scaling by nearest pixel
  // when the sizes differ, and hands it to the presentation sink.
  // `window` 0 presents to the chain's own window. DeviceLost while the
  // device is lost or not reset; InvalidCall for rectangles outside the back
  // buffer or empty ones.
  TSwResult Present(const TSwRect* src, const TSwRect* dst, TSwWindow window, uint32_t flags);
  // Index 0 only: the chain keeps one back buffer whatever the count asked.
  TSwResult GetBackBuffer(uint32_t index, Ref<TSwSurface>& out) const;
  TSwResult GetPresentParameters(TSwPresentParams& out) const;

  TSwSurface* BackBuffer() const { return back_.get(); }
  TSwWindow Window() const { return window_; }

 private:
  friend class TSwDevice;
  TSwSwapChain() = default;
  TSwDevice* device_ = nullptr;    // the device outlives its implicit chain
  Ref<TSwDevice> keep_;            // additional chains keep their device alive
  TSwPresentParams params_;
  TSwWindow window_ = 0;
  Ref<TSwSurface> back_;
  std::vector<uint8_t> scaled_;    // scratch of scaled presents
};

}  // namespace kav
