#include "VoRav/3DBasics/Dev3DEngineAccess.h"

#include <mutex>

namespace kav {

namespace {
std::mutex g_lock;
T3DEngineFactory g_factory = nullptr;
Ref<T3DEngine> g_engine;
}  // namespace

void SetEngine3DFactory(T3DEngineFactory factory) {
  std::lock_guard<std::mutex> g(g_lock);
  g_factory = factory;
}

T3DEngine* Engine3D() {
  std::lock_guard<std::mutex> g(g_lock);
  if (!g_engine && g_factory) g_engine = g_factory();
  return g_engine.get();
}

void FreeEngine3D() {
  Ref<T3DEngine> e;
  {
    std::lock_guard<std::mutex> g(g_lock);
    e = std::move(g_engine);
  }
}

}  // namespace kav
