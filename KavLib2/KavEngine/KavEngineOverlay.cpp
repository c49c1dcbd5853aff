#include "KavLib2/KavEngine/KavEngineOverlay.h"

#include <atomic>

namespace kav {

namespace {
std::atomic<TEngineOverlayMaker> g_maker{nullptr};
}

void SetEngineOverlayMaker(TEngineOverlayMaker maker) { g_maker = maker; }

Ref<TEngineOverlay> NewEngineOverlay(const TEngineOverlaySetup& setup) {
  const TEngineOverlayMaker maker = g_maker.load();
  return maker ? maker(setup) : nullptr;
}

}  // namespace kav
