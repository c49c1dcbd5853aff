// The join of the mosaic's blocks along whole sides (the effecter joins the
// flat opaque blocks of a batch into the rectangles it copies, and the
// covers of later batches), against the plain loop that restarts from the
// first pair after every join, as the baseline in the same run; and whole
// mosaic frames at 1920 x 1080 beside the plain slide's frame.
//
// BM_SideJoin/<cols>/<fill %> and BM_SideJoinPlain/<cols>/<fill %>: a grid
// of cols x cols blocks, that share of them there (seeded), in the order the
// filter draws them. The plain loop is cubic in the count: it runs up to
// 64 x 64 only. BM_SideJoinSummary gives the ratio plain / new at 64 x 64
// ("x_plain_64") and the new join's ms at 256 x 256 (the largest grid the
// filter makes, "ms_256") against the 16.7 ms of a frame ("frame_share_256").
// BM_MosaicFrame/<cols>/<progress in thousandths>: a frame of the mosaic in
// ms, with the plain slide's frame measured beside it ("x_plain_frame"),
// drawn on one thread. Half way most blocks are part way in (each is drawn
// on its own); late, most are in and a row's run of them is one rectangle.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <vector>

#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"
#include "tests/KavLib2/3DEngine/Transitions/SideJoinReference.h"
#include "tools/framedump/FrameDump.h"
#include "tools/transitionsheet/TransitionConfigs.h"

namespace kav {
namespace {

// The plain loop, as the effecter ran it before.
std::vector<TRect> PlainJoin(std::vector<TRect> boxes) {
  PlainJoinAlongSides(boxes, [](size_t, size_t) { return true; }, [](size_t, size_t) {});
  return boxes;
}

// The blocks of a cols x cols mosaic over 1920 x 1080 that are there, row
// by row.
std::vector<TRect> Blocks(int32_t cols, int32_t fill_percent) {
  std::mt19937 rng(uint32_t(cols * 101 + fill_percent));
  std::vector<TRect> out;
  for (int32_t j = 0; j < cols; ++j)
    for (int32_t i = 0; i < cols; ++i)
      if (int32_t(rng() % 100) < fill_percent)
        out.push_back(TRect{i * 1920 / cols, j * 1080 / cols, (i + 1) * 1920 / cols, (j + 1) * 1080 / cols});
  return out;
}

double MsOf(const std::function<void()>& f, int times) {
  double best = 1e18;
  for (int k = 0; k < times; ++k) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

void BM_SideJoin(benchmark::State& state) {
  const std::vector<TRect> blocks = Blocks(int32_t(state.range(0)), int32_t(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(JoinAlongSides(blocks).Rects.size());
  state.counters["blocks"] = double(blocks.size());
}
BENCHMARK(BM_SideJoin)
    ->ArgsProduct({{16, 32, 64, 128, 256}, {50, 90, 100}})
    ->Unit(benchmark::kMillisecond);

void BM_SideJoinPlain(benchmark::State& state) {
  const std::vector<TRect> blocks = Blocks(int32_t(state.range(0)), int32_t(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(PlainJoin(blocks).size());
  state.counters["blocks"] = double(blocks.size());
}
BENCHMARK(BM_SideJoinPlain)->ArgsProduct({{16, 32, 64}, {50, 90, 100}})->Unit(benchmark::kMillisecond);

void BM_SideJoinSummary(benchmark::State& state) {
  for (auto _ : state) {
    const std::vector<TRect> b64 = Blocks(64, 90), b256 = Blocks(256, 90);
    const double plain64 = MsOf([&] { benchmark::DoNotOptimize(PlainJoin(b64).size()); }, 3);
    const double new64 = MsOf([&] { benchmark::DoNotOptimize(JoinAlongSides(b64).Rects.size()); }, 20);
    const double new256 = MsOf([&] { benchmark::DoNotOptimize(JoinAlongSides(b256).Rects.size()); }, 10);
    state.counters["plain_ms_64"] = plain64;
    state.counters["ms_64"] = new64;
    state.counters["x_plain_64"] = plain64 / new64;
    state.counters["ms_256"] = new256;
    state.counters["frame_share_256"] = new256 / (1000.0 / 60.0);
  }
}
BENCHMARK(BM_SideJoinSummary)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_MosaicFrame(benchmark::State& state) {
  constexpr int32_t kW = 1920, kH = 1080;
  const int32_t cols = int32_t(state.range(0));
  TFrameDumper dump(kW, kH, 2, 1);
  InstallTransitions();
  auto from = transsheet::MakeSlide(false, kW, kH), to = transsheet::MakeSlide(true, kW, kH);
  auto params = transsheet::Params(transsheet::Effect(6, {1}, {cols, cols, 5, 1234}));
  params->Time = int32_t(state.range(1));
  auto frame = [&](bool plain) {
    dump.RenderFrame([&](TDeviceDrawer* d) {
      if (plain)
        d->Render(to.get());
      else
        d->DrawTransition(from.get(), to.get(), params.get());
    });
  };
  frame(false);
  frame(true);  // textures uploaded outside the measure
  for (auto _ : state) frame(false);
  state.counters["x_plain_frame"] =
      MsOf([&] { frame(false); }, 3) / MsOf([&] { frame(true); }, 3);
  SetDrawTransitionHook(nullptr);
}
BENCHMARK(BM_MosaicFrame)
    ->ArgsProduct({{16, 64, 256}, {500, 900}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kav
