// Mip levels made through an image store from a 4K picture, beside the
// memcpy benchmarks of GraphicsBench.cpp (same program, same run): the
// store's own cost over the bare halving is its lock, cache and factory.
#include <benchmark/benchmark.h>

#include <random>

#include "VoRav/Graphics/SysImage.h"

using namespace kav;

namespace {

constexpr int32_t kW = 3840, kH = 2160;

Ref<TSysBitmap> Picture(TPixelFormat* format) {
  Ref<TSysBitmap> b = CreateSysBitmap(kW, kH, format);
  std::mt19937 rng(7);
  const size_t n = size_t(kW) * size_t(b->BytesPerPixel());
  for (int32_t y = 0; y < kH; ++y)
    for (size_t i = 0; i < n; ++i) b->Row(y)[i] = uint8_t(rng());
  return b;
}

// range(0): bytes per pixel; range(1): deepest level asked for.
void BM_StoreHalve4K(benchmark::State& state) {
  TPixelFormat* format = state.range(0) == 4 ? StdFormats().A8R8G8B8 : StdFormats().R8G8B8;
  Ref<TSysBitmap> picture = Picture(format);
  for (auto _ : state) {
    Ref<TWrapperBitmapStore> store = MakeRef<TWrapperBitmapStore>(u"4k", TImageParamsCallback(), false, picture.get());
    Ref<TBitmap> level = store->GetMipLevel(int32_t(state.range(1)));
    benchmark::DoNotOptimize(level.get());
  }
  const int64_t pixels = int64_t(kW) * kH;
  state.SetItemsProcessed(state.iterations() * pixels);
  state.SetBytesProcessed(state.iterations() * pixels * state.range(0));
}
BENCHMARK(BM_StoreHalve4K)->Args({4, 1})->Args({3, 1})->Args({4, 6})->Unit(benchmark::kMillisecond);

}  // namespace
