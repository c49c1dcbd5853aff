// Hot imaging loops on a 4K picture, in pixels per second beside memcpy of
// the same bytes. Run with --benchmark_counters_tabular=true.
#include <benchmark/benchmark.h>

#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysPixelConverters.h"
#include "VoRav/Graphics/SysPixelKernels.h"

using namespace kav;

namespace {

constexpr int32_t kW = 3840, kH = 2160;
constexpr size_t kPixels = size_t(kW) * kH;

std::vector<uint8_t> RandomBytes(size_t n) {
  std::mt19937 rng(42);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

void Report(benchmark::State& state, size_t pixels, size_t bytes) {
  state.SetItemsProcessed(int64_t(state.iterations() * pixels));
  state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}

void BM_MemcpyBGR(benchmark::State& state) {
  std::vector<uint8_t> src = RandomBytes(kPixels * 3), dst(kPixels * 3);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
  Report(state, kPixels, src.size());
}
BENCHMARK(BM_MemcpyBGR)->Unit(benchmark::kMillisecond);

void BM_MemcpyBGRA(benchmark::State& state) {
  std::vector<uint8_t> src = RandomBytes(kPixels * 4), dst(kPixels * 4);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
  Report(state, kPixels, src.size());
}
BENCHMARK(BM_MemcpyBGRA)->Unit(benchmark::kMillisecond);

// A copy with non-temporal (streaming) stores, which bypass the cache: the
// bandwidth bound of a pass that reads its bytes once and writes once.
__attribute__((target("avx2"))) void StreamCopy(uint8_t* dst, const uint8_t* src, size_t bytes) {
  size_t i = 0;
  for (; i < bytes && (reinterpret_cast<uintptr_t>(dst + i) & 31); ++i) dst[i] = src[i];
  for (; i + 32 <= bytes; i += 32)
    _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i)));
  _mm_sfence();
  for (; i < bytes; ++i) dst[i] = src[i];
}

// Best of a few streaming copies of `bytes`, in milliseconds.
double StreamCopyMs(size_t bytes) {
  std::vector<uint8_t> src = RandomBytes(bytes), dst(bytes);
  double best = 1e9;
  for (int k = 0; k < 8; ++k) {
    auto t0 = std::chrono::steady_clock::now();
    StreamCopy(dst.data(), src.data(), bytes);
    benchmark::ClobberMemory();
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

void BM_StreamCopyBGRA(benchmark::State& state) {
  std::vector<uint8_t> src = RandomBytes(kPixels * 4), dst(kPixels * 4);
  for (auto _ : state) {
    StreamCopy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
  Report(state, kPixels, src.size());
}
BENCHMARK(BM_StreamCopyBGRA)->Unit(benchmark::kMillisecond);

// Per kernel level: 0 scalar, 1 SSE2, 2 AVX2.
const TPixelKernels* Level(benchmark::State& state) {
  const TPixelKernels* k = PixelKernelsFor(TSimdLevel(state.range(0)));
  if (!k) state.SkipWithError("level not supported by this processor");
  return k;
}

void BM_BGRToBGRA(benchmark::State& state) {
  const TPixelKernels* k = Level(state);
  if (!k) return;
  std::vector<uint8_t> src = RandomBytes(kPixels * 3), dst(kPixels * 4);
  for (auto _ : state) {
    k->ExpandRGB(dst.data(), src.data(), kPixels);
    benchmark::ClobberMemory();
  }
  Report(state, kPixels, src.size());
}
BENCHMARK(BM_BGRToBGRA)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_Premultiply(benchmark::State& state) {
  const TPixelKernels* k = Level(state);
  if (!k) return;
  std::vector<uint8_t> src = RandomBytes(kPixels * 4), dst(kPixels * 4);
  for (auto _ : state) {
    k->PremultiplyShift(dst.data(), src.data(), kPixels);
    benchmark::ClobberMemory();
  }
  Report(state, kPixels, src.size());
}
BENCHMARK(BM_Premultiply)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_Unpremultiply(benchmark::State& state) {
  const TPixelKernels* k = Level(state);
  if (!k) return;
  std::vector<uint8_t> src = RandomBytes(kPixels * 4), dst(kPixels * 4);
  for (auto _ : state) {
    k->Unpremultiply(dst.data(), src.data(), kPixels, 0);
    benchmark::ClobberMemory();
  }
  Report(state, kPixels, src.size());
}
BENCHMARK(BM_Unpremultiply)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Through the converter table, as bitmap copies use it (best level).
void BM_ConverterBGRToBGRA(benchmark::State& state) {
  std::vector<uint8_t> src = RandomBytes(kPixels * 3), dst(kPixels * 4);
  const TPixelConverter* c = GetPixelConverter(StdFormats().A8R8G8B8, StdFormats().R8G8B8);
  for (auto _ : state) {
    for (int32_t y = 0; y < kH; ++y) c->Convert(dst.data() + size_t(y) * kW * 4, src.data() + size_t(y) * kW * 3, kW);
    benchmark::ClobberMemory();
  }
  Report(state, kPixels, src.size());
}
BENCHMARK(BM_ConverterBGRToBGRA)->Unit(benchmark::kMillisecond);

Ref<TSysBitmap> Random4K() {
  Ref<TSysBitmap> b = CreateSysBitmap(kW, kH, StdFormats().A8R8G8B8);
  std::vector<uint8_t> bytes = RandomBytes(size_t(kW) * 4);
  for (int32_t y = 0; y < kH; ++y) std::memcpy(b->Row(y), bytes.data(), bytes.size());
  return b;
}

// 32-bit (arg 4) and 24-bit (arg 3) halving of the 4K picture; "x_stream"
// is its time over a streaming copy of the picture's bytes in this run.
void BM_Halve4K(benchmark::State& state) {
  Ref<TSysBitmap> src = Random4K();
  TPixelFormat* f = state.range(0) == 4 ? StdFormats().A8R8G8B8 : StdFormats().R8G8B8;
  if (state.range(0) == 3) {
    Ref<TBitmap> rgb = src->CreateSimilar(f, &TSysBitmap::kClass);
    src = Ref<TSysBitmap>(AsSysBitmap(rgb.get()));
  }
  Ref<TSysBitmap> dst = CreateSysBitmap(kW / 2, kH / 2, f);
  double best = 1e9;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    if (state.range(0) == 4) HalveBitmap32(src.get(), dst.get());
    else HalveBitmap24(src.get(), dst.get());
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  const double stream = StreamCopyMs(kPixels * size_t(state.range(0)));
  state.counters["best_ms"] = best;
  state.counters["stream_ms"] = stream;
  state.counters["x_stream"] = best / stream;
  Report(state, kPixels, kPixels * size_t(state.range(0)));
}
BENCHMARK(BM_Halve4K)->Arg(4)->Arg(3)->Unit(benchmark::kMillisecond);

// Stretch of the 4K picture to 1080p (arg 0) and of 1080p up to 4K (arg 1);
// pixels counted on the 4K side.
void BM_StretchBilinear4K(benchmark::State& state) {
  Ref<TSysBitmap> big = Random4K();
  Ref<TSysBitmap> small = CreateSysBitmap(kW / 2, kH / 2, StdFormats().A8R8G8B8);
  for (auto _ : state) {
    if (state.range(0) == 0) StretchBilinear32(big.get(), small.get());
    else StretchBilinear32(small.get(), big.get());
  }
  Report(state, kPixels, kPixels * 4);
}
BENCHMARK(BM_StretchBilinear4K)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// The stretch row kernel alone at each level: 4K rows from a 1080p-wide source.
void BM_StretchRow32(benchmark::State& state) {
  const TPixelKernels* k = Level(state);
  if (!k) return;
  const int32_t sw = kW / 2;
  std::vector<uint8_t> top = RandomBytes(size_t(sw) * 4), bottom = RandomBytes(size_t(sw) * 4), dst(size_t(kW) * 4);
  std::vector<int32_t> col(kW), next(kW);
  std::vector<uint32_t> frac(kW);
  const int64_t step = (int64_t(sw - 1) << 16) / kW;
  for (int32_t i = 0; i < kW; ++i) {
    const int64_t pos = 0x8000 + i * step;
    col[size_t(i)] = int32_t(pos >> 16);
    next[size_t(i)] = std::min(col[size_t(i)] + 1, sw - 1);
    frac[size_t(i)] = uint32_t(pos & 0xFFFF);
  }
  for (auto _ : state) {
    for (int32_t y = 0; y < kH; ++y)
      k->StretchRow32(dst.data(), top.data(), bottom.data(), col.data(), next.data(), frac.data(), uint32_t(y * 30),
                      size_t(kW));
    benchmark::ClobberMemory();
  }
  Report(state, kPixels, kPixels * 4);
}
BENCHMARK(BM_StretchRow32)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
