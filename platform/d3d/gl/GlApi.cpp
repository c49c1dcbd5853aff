#include "platform/d3d/gl/GlApi.h"

#include <ctime>
#include <cstring>
#include <type_traits>

namespace kav {

TGlApi gl;

bool GlLoad(void* (*lookup)(const char*), const char** missing) {
  TGlApi api;
#define KAV_GL_LOAD(type, name)                                  \
  api.name = reinterpret_cast<type>(lookup("gl" #name));         \
  if (!api.name) {                                               \
    if (missing) *missing = "gl" #name;                          \
    return false;                                                \
  }
  KAV_GL_FUNCTIONS(KAV_GL_LOAD)
#undef KAV_GL_LOAD
  api.GetGraphicsResetStatus = reinterpret_cast<PFNGLGETGRAPHICSRESETSTATUSPROC>(lookup("glGetGraphicsResetStatus"));
  if (!api.GetGraphicsResetStatus)
    api.GetGraphicsResetStatus =
        reinterpret_cast<PFNGLGETGRAPHICSRESETSTATUSPROC>(lookup("glGetGraphicsResetStatusARB"));
  gl = api;
  return true;
}

namespace {

TGlApi g_untimed;
bool g_timed = false;
thread_local uint64_t t_call_ns = 0;

uint64_t ThreadNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

template <auto M, class F>
struct TTimed;
template <auto M, class R, class... A>
struct TTimed<M, R (*)(A...)> {
  static R Call(A... a) {
    const uint64_t t0 = ThreadNs();
    if constexpr (std::is_void_v<R>) {
      (g_untimed.*M)(a...);
      t_call_ns += ThreadNs() - t0;
    } else {
      R r = (g_untimed.*M)(a...);
      t_call_ns += ThreadNs() - t0;
      return r;
    }
  }
};

}  // namespace

void GlTimeCalls(bool on) {
  if (on == g_timed) return;
  if (!on) {
    gl = g_untimed;
    g_timed = false;
    return;
  }
  g_untimed = gl;
#define KAV_GL_TIME(type, name) \
  if (gl.name) gl.name = &TTimed<&TGlApi::name, type>::Call;
  KAV_GL_FUNCTIONS(KAV_GL_TIME)
#undef KAV_GL_TIME
  g_timed = true;
}

uint64_t GlCallThreadNs() { return t_call_ns; }

}  // namespace kav
