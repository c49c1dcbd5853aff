// Packing a texture the GL device has handed to the driver: the draw thread
// pays it once per texture, at its first upload. Measured on a caption's
// tile (512 x 64, a line of white text over 44 rows) and on a photo's tile
// (noise: packing gives up at a quarter), each beside copying the same
// bytes in the same run.
//
// BM_PackTile/<photo>: bytes_per_second of packing; BM_CopyTile: of a
// memcpy of the tile (the baseline); BM_UnpackTile: of bringing a packed
// caption tile back (what a lock of it, or a new context, costs).
// packed_ratio: packed size over the tile's.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/d3d/SwPack.h"

namespace kav {
namespace {

constexpr uint32_t kW = 512, kH = 64;

std::vector<uint32_t> Tile(bool photo) {
  std::vector<uint32_t> px(size_t(kW) * kH, 0);
  std::mt19937 rng(7);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      if (photo) {
        px[size_t(y) * kW + x] = rng() | 0xFF000000u;
        continue;
      }
      if (y >= 44) continue;
      // Letters about 20 pixels wide with two-pixel soft edges, gaps between.
      const uint32_t in = (x + y / 4) % 26;
      const uint32_t a = in < 4 ? 0 : in < 6 ? 0x55 * (in - 3) : in < 20 ? 0xFF : in < 22 ? 0x55 * (22 - in) : 0;
      px[size_t(y) * kW + x] = a << 24 | 0x00FFFFFFu;
    }
  return px;
}

void BM_PackTile(benchmark::State& state) {
  const std::vector<uint32_t> px = Tile(state.range(0) != 0);
  const size_t bytes = px.size() * 4;
  std::vector<uint8_t> out;
  bool packed = false;
  for (auto _ : state) {
    packed = SwPackWords(reinterpret_cast<const uint8_t*>(px.data()), px.size(), bytes / 4, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
  state.counters["packed_ratio"] = packed ? double(out.size()) / double(bytes) : 1.0;
}
BENCHMARK(BM_PackTile)->Arg(0)->Arg(1);

void BM_CopyTile(benchmark::State& state) {
  const std::vector<uint32_t> px = Tile(false);
  std::vector<uint32_t> to(px.size());
  for (auto _ : state) {
    std::memcpy(to.data(), px.data(), px.size() * 4);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(px.size() * 4));
}
BENCHMARK(BM_CopyTile);

void BM_UnpackTile(benchmark::State& state) {
  const std::vector<uint32_t> px = Tile(false);
  std::vector<uint8_t> packed;
  if (!SwPackWords(reinterpret_cast<const uint8_t*>(px.data()), px.size(), px.size(), packed)) {
    state.SkipWithError("the caption tile did not pack");
    return;
  }
  std::vector<uint32_t> to(px.size());
  for (auto _ : state) {
    SwUnpackWords(packed, reinterpret_cast<uint8_t*>(to.data()), to.size());
    benchmark::DoNotOptimize(to.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(px.size() * 4));
}
BENCHMARK(BM_UnpackTile);

}  // namespace
}  // namespace kav
