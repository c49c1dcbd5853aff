// The GL device: the CPU time our own code spends building and submitting
// a 1920 x 1080 transition frame (the draw manager, the transition, the
// device's validation and the GL device's translation into GL calls).
//
// BM_GlTransitionSubmit*: the GL functions do nothing (GlNullCalls), so the
// drawing thread's CPU time per frame is our code's alone: our_cpu_ms, the
// goal is at most 1 ms. BM_GlTransitionFrameCpu: the same frames on Mesa's
// llvmpipe, the drawing thread's CPU time split into the time inside GL
// calls and the context switches (gl_cpu_ms) and the rest (our_cpu_ms,
// which then also carries the clock readings around every GL call);
// llvmpipe's figures are no GPU's and are no goals. Frames are presented
// without reading them back.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <vector>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "platform/d3d/gl/GlDevice.h"
#include "platform/d3d/gl/egl/GlEglContext.h"
#include "tools/transitionsheet/TransitionConfigs.h"

namespace kav {
namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr uint64_t kWindow = 1;

uint64_t ThreadNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

class TDrawItemFn : public TDrawItem {
 public:
  explicit TDrawItemFn(std::function<void(TDeviceDrawer*)> fn) : fn_(std::move(fn)) {}
  void Draw(TDeviceDrawer* d) override { fn_(d); }

 private:
  std::function<void(TDeviceDrawer*)> fn_;
};

// A drawer on the GL device presenting nowhere (no read-back): the shared
// headless system timing its GL calls, or (null) a system of its own whose
// GL functions do nothing.
struct TGlRig {
  Ref<TGlSystem> Own;
  Ref<TDrawDevice> Device;
  Ref<T3DDrawer> Drawer;
  bool Ok = false, Null = false;
  explicit TGlRig(bool null = false) : Null(null) {
    Ref<TGlSystem> gl;
    if (null) {
      Ref<TGlContext> c = CreateGlEglContext(nullptr);
      if (c) Own = gl = TGlSystem::Create(c, nullptr);
    } else {
      gl = HeadlessGlSystem();
    }
    if (!gl) return;
    TSwConfig cfg;
    cfg.Backend = gl;
    cfg.Monitors[0].Bounds = TSwRect{0, 0, kW, kH};
    Ref<TSwDirect3D> d3d = MakeRef<TSwDirect3D>(cfg);
    SetDirect3DFactory([d3d] { return d3d; });
    Set3DPacingClock(T3DPacingClock{[] { return int64_t(0); }, [](uint32_t) {}});
    RegisterDirect3DEngine();
    FreeEngine3D();
    Device = MakeRef<TDrawDevice>(kWindow);
    Device->SetBounds(TRect{0, 0, kW, kH}, TPoint{}, false);
    Drawer = MakeRef<T3DDrawer>();
    Drawer->SetDrawDevice(Device.get());
    if (null)
      GlNullCalls(true);
    else
      GlTimeCalls(true);
    Ok = true;
  }
  ~TGlRig() {
    Drawer = nullptr;
    Device = nullptr;
    FreeEngine3D();
    Set3DPacingClock(T3DPacingClock{});
    SetDirect3DFactory(nullptr);
    Own = nullptr;  // its objects go while the functions still do nothing
    GlNullCalls(false);
    GlTimeCalls(false);
  }
};

struct TFrameCost {
  double Ours = 0, Gl = 0;
};

// Frames of `effect` at progress stepping through 0.1 .. 0.9, after one
// unmeasured frame (textures uploaded, programs compiled).
std::vector<TFrameCost> Frames(TGlRig& rig, Ref<TKavEffect> effect, int frames) {
  InstallTransitions();
  auto from = transsheet::MakeSlide(false, kW, kH), to = transsheet::MakeSlide(true, kW, kH);
  auto params = transsheet::Params(effect);
  std::vector<TFrameCost> out;
  for (int k = 0; k <= frames; ++k) {
    params->Time = 100.0 + (k % 9) * 100.0;
    auto item = MakeRef<TDrawItemFn>([&](TDeviceDrawer* d) { d->DrawTransition(from.get(), to.get(), params.get()); });
    const uint64_t t0 = ThreadNs(), g0 = GlCallThreadNs();
    rig.Drawer->Render(item.get());
    const uint64_t t1 = ThreadNs(), g1 = GlCallThreadNs();
    if (k > 0) out.push_back(TFrameCost{double((t1 - t0) - (g1 - g0)) / 1e6, double(g1 - g0) / 1e6});
  }
  SetDrawTransitionHook(nullptr);
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The effect of the transition configuration called `name`; null when none is.
Ref<TKavEffect> ConfigEffect(const std::string& name) {
  Ref<TKavEffect> effect;
  for (auto& c : transsheet::AllConfigs())
    if (c.Name == name) effect = c.Effect;
  return effect;
}

// One configuration per run: "dissolve", a page roll, a turning cube side,
// random blocks.
void BM_GlTransitionFrameCpu(benchmark::State& state, const std::string& name) {
  TGlRig rig;
  if (!rig.Ok) {
    state.SkipWithError("no headless OpenGL 3.3");
    return;
  }
  Ref<TKavEffect> effect = ConfigEffect(name);
  if (!effect) {
    state.SkipWithError("no such configuration");
    return;
  }
  std::vector<double> ours, gl;
  for (auto _ : state) {
    for (const TFrameCost& f : Frames(rig, effect, 9)) {
      ours.push_back(f.Ours);
      gl.push_back(f.Gl);
    }
  }
  state.counters["our_cpu_ms"] = Median(ours);
  state.counters["gl_cpu_ms"] = Median(gl);
}
BENCHMARK_CAPTURE(BM_GlTransitionFrameCpu, dissolve, std::string("dissolve"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GlTransitionFrameCpu, page0, std::string("page0"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GlTransitionFrameCpu, curling_depth2, std::string("curling_depth2"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GlTransitionFrameCpu, flip1, std::string("flip1"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GlTransitionFrameCpu, mosaic, std::string("mosaic"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_GlTransitionSubmit(benchmark::State& state, const std::string& name) {
  TGlRig rig(true);
  if (!rig.Ok) {
    state.SkipWithError("no headless OpenGL 3.3");
    return;
  }
  Ref<TKavEffect> effect = ConfigEffect(name);
  std::vector<double> ours;
  for (auto _ : state)
    for (const TFrameCost& f : Frames(rig, effect, 19)) ours.push_back(f.Ours + f.Gl);
  state.counters["our_cpu_ms"] = Median(ours);
}
BENCHMARK_CAPTURE(BM_GlTransitionSubmit, dissolve, std::string("dissolve"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GlTransitionSubmit, page0, std::string("page0"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GlTransitionSubmit, curling_depth2, std::string("curling_depth2"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GlTransitionSubmit, flip1, std::string("flip1"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GlTransitionSubmit, mosaic, std::string("mosaic"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GlTransitionSubmit, clock_0, std::string("clock_0"))->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Every configuration with GL doing nothing: the median and the worst of
// their median CPU times of our code per frame, and how many exceed 1 ms.
void BM_GlTransitionSubmitSummary(benchmark::State& state) {
  TGlRig rig(true);
  if (!rig.Ok) {
    state.SkipWithError("no headless OpenGL 3.3");
    return;
  }
  for (auto _ : state) {
    std::vector<double> per_config;
    double worst = 0;
    std::string worst_name;
    int over = 0;
    for (auto& c : transsheet::AllConfigs()) {
      std::vector<double> ours;
      for (const TFrameCost& f : Frames(rig, c.Effect, 9)) ours.push_back(f.Ours + f.Gl);
      const double m = Median(ours);
      per_config.push_back(m);
      if (m > worst) {
        worst = m;
        worst_name = c.Name;
      }
      over += m > 1.0;
    }
    state.counters["configs"] = double(per_config.size());
    state.counters["median_our_cpu_ms"] = Median(per_config);
    state.counters["worst_our_cpu_ms"] = worst;
    state.counters["over_1ms"] = over;
    state.SetLabel("worst: " + worst_name);
  }
}
BENCHMARK(BM_GlTransitionSubmitSummary)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// Every configuration: the median and the worst of their median CPU times
// of our code per frame, and how many exceed 1 ms.
void BM_GlTransitionSummary(benchmark::State& state) {
  TGlRig rig;
  if (!rig.Ok) {
    state.SkipWithError("no headless OpenGL 3.3");
    return;
  }
  for (auto _ : state) {
    std::vector<double> per_config;
    double worst = 0, worst_gl = 0;
    int over = 0;
    for (auto& c : transsheet::AllConfigs()) {
      std::vector<double> ours, gl;
      for (const TFrameCost& f : Frames(rig, c.Effect, 5)) {
        ours.push_back(f.Ours);
        gl.push_back(f.Gl);
      }
      const double m = Median(ours);
      per_config.push_back(m);
      worst = std::max(worst, m);
      worst_gl = std::max(worst_gl, Median(gl));
      over += m > 1.0;
    }
    state.counters["configs"] = double(per_config.size());
    state.counters["median_our_cpu_ms"] = Median(per_config);
    state.counters["worst_our_cpu_ms"] = worst;
    state.counters["over_1ms"] = over;
    state.counters["worst_gl_cpu_ms"] = worst_gl;
  }
}
BENCHMARK(BM_GlTransitionSummary)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kav
