#include "platform/d3d/SwDeviceBackend.h"

#include <map>
#include <mutex>

namespace kav {

namespace {
std::mutex g_lock;
Ref<TSwBackendFactory> g_default;
std::map<std::string, std::string, std::less<>> g_sources;
}  // namespace

Ref<TSwBackendFactory> SwDefaultBackend() {
  std::lock_guard<std::mutex> g(g_lock);
  return g_default;
}

void SwSetDefaultBackend(Ref<TSwBackendFactory> factory) {
  std::lock_guard<std::mutex> g(g_lock);
  g_default = std::move(factory);
}

void SwRegisterKernelSource(std::string_view name, std::string_view glsl) {
  std::lock_guard<std::mutex> g(g_lock);
  g_sources[std::string(name)] = std::string(glsl);
}

std::string SwKernelSource(std::string_view name) {
  std::lock_guard<std::mutex> g(g_lock);
  auto it = g_sources.find(name);
  return it == g_sources.end() ? std::string() : it->second;
}

}  // namespace kav
