#include "platform/d3d/SwSwapChain.h"

#include "platform/d3d/SwDevice.h"

namespace kav {

TSwResult TSwSwapChain::Present(const TSwRect* src, const TSwRect* dst, TSwWindow window, uint32_t) {
  if (!device_) return TSwResult::InvalidCall;
  return device_->PresentChain(*this, src, dst, window);
}

TSwResult TSwSwapChain::GetBackBuffer(uint32_t index, Ref<TSwSurface>& out) const {
  out = nullptr;
  if (index != 0) return TSwResult::InvalidCall;
  out = back_;
  return TSwResult::Ok;
}

TSwResult TSwSwapChain::GetPresentParameters(TSwPresentParams& out) const {
  out = params_;
  return TSwResult::Ok;
}

}  // namespace kav
