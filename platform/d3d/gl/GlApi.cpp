#include "platform/d3d/gl/GlApi.h"

#include <atomic>
#include <ctime>
#include <tuple>
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

namespace {

TGlApi g_real;
std::atomic<bool> g_null{false};

template <auto A, auto B>
constexpr bool SameMember() {
  if constexpr (std::is_same_v<decltype(A), decltype(B)>)
    return A == B;
  else
    return false;
}

template <auto M, class F>
struct TNull;
template <auto M, class R, class... A>
struct TNull<M, R (*)(A...)> {
  static R Call(A... a) {
    if constexpr (SameMember<M, &TGlApi::GetShaderiv>() || SameMember<M, &TGlApi::GetProgramiv>()) {
      auto args = std::make_tuple(a...);
      *std::get<2>(args) = GL_TRUE;
    } else if constexpr (SameMember<M, &TGlApi::CheckFramebufferStatus>()) {
      return GL_FRAMEBUFFER_COMPLETE;
    } else if constexpr (SameMember<M, &TGlApi::GetString>()) {
      return reinterpret_cast<const GLubyte*>("null");
    } else if constexpr (std::is_integral_v<R>) {
      return R(1);
    } else if constexpr (!std::is_void_v<R>) {
      return R{};
    }
  }
};

}  // namespace

void GlNullCalls(bool on) {
  if (on == g_null.load()) return;
  if (!on) {
    gl = g_real;
    g_null = false;
    return;
  }
  g_real = gl;
#define KAV_GL_NULL(type, name) gl.name = &TNull<&TGlApi::name, type>::Call;
  KAV_GL_FUNCTIONS(KAV_GL_NULL)
#undef KAV_GL_NULL
  g_null = true;
}

bool GlNullActive() { return g_null.load(); }

TGlDriverTime::TGlDriverTime() : start_(g_timed ? ThreadNs() : 0) {}
TGlDriverTime::~TGlDriverTime() {
  if (start_) t_call_ns += ThreadNs() - start_;
}

}  // namespace kav
