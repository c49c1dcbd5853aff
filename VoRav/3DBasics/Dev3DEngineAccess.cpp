#include "VoRav/3DBasics/Dev3DEngineAccess.h"

#include <atomic>
#include <mutex>

namespace kav {

namespace {
std::mutex g_lock;
T3DEngineFactory g_factory = nullptr;
Ref<T3DEngine> g_engine;
// Read without the lock once the engine exists: device calls ask for the
// engine while holding the device lock, which making the engine takes too.
std::atomic<T3DEngine*> g_current{nullptr};
}  // namespace

void SetEngine3DFactory(T3DEngineFactory factory) {
  std::lock_guard<std::mutex> g(g_lock);
  g_factory = factory;
}

T3DEngine* Engine3D() {
  if (T3DEngine* e = g_current.load(std::memory_order_acquire)) return e;
  std::lock_guard<std::mutex> g(g_lock);
  if (!g_engine && g_factory) {
    g_engine = g_factory();
    g_current.store(g_engine.get(), std::memory_order_release);
  }
  return g_engine.get();
}

void FreeEngine3D() {
  Ref<T3DEngine> e;
  {
    std::lock_guard<std::mutex> g(g_lock);
    g_current.store(nullptr, std::memory_order_release);
    e = std::move(g_engine);
  }
}

}  // namespace kav
