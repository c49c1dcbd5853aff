// Every transition configuration at 1920 x 1080 on 1, 2 and all raster
// threads, in ms per frame (the whole frame through the draw manager and
// the transition hook, presented to the offscreen sink). Baselines in the
// same run: the plain slide frame ("BM_TransitionBaseline") and the
// device's four-pass frame (BM_TransitionFrame4Passes in SwDeviceBench).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <thread>

#include "tools/framedump/FrameDump.h"
#include "tools/transitionsheet/TransitionConfigs.h"

namespace kav {
namespace {

constexpr int32_t kW = 1920, kH = 1080;

int AllThreads() { return std::max(1, int(std::thread::hardware_concurrency())); }

// One frame of the effect (null: the incoming slide alone) per iteration,
// at progress stepping through 0.1 .. 0.9.
void RunFrames(benchmark::State& state, Ref<TKavEffect> effect) {
  TFrameDumper dump(kW, kH, 2, int32_t(state.range(0)));
  InstallTransitions();
  auto from = transsheet::MakeSlide(false, kW, kH), to = transsheet::MakeSlide(true, kW, kH);
  auto params = transsheet::Params(effect);
  int k = 0;
  auto frame = [&] {
    params->Time = 100.0 + (k++ % 9) * 100.0;
    dump.RenderFrame([&](TDeviceDrawer* d) {
      if (effect)
        d->DrawTransition(from.get(), to.get(), params.get());
      else
        d->Render(to.get());
    });
  };
  frame();  // textures uploaded outside the measure
  for (auto _ : state) frame();
  SetDrawTransitionHook(nullptr);
}

void BM_TransitionBaseline(benchmark::State& state) { RunFrames(state, nullptr); }
BENCHMARK(BM_TransitionBaseline)->Arg(1)->Arg(2)->Arg(AllThreads())->UseRealTime()->Unit(benchmark::kMillisecond);

const bool registered = [] {
  for (const auto& c : transsheet::AllConfigs()) {
    Ref<TKavEffect> e = c.Effect;
    benchmark::RegisterBenchmark(("BM_Transition/" + c.Name).c_str(),
                                 [e](benchmark::State& s) { RunFrames(s, e); })
        ->Arg(1)
        ->Arg(2)
        ->Arg(AllThreads())
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
}  // namespace kav
