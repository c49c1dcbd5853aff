// Inflating a 50 MB deflated entry (through the inflating stream, and through
// the container's entry path, read whole and at random places), beside zlib's
// own uncompress of the same data measured in the same run (x_zlib: our time
// over zlib's).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "KavLib2/KavViewer/KavUnpack.h"
#include "KavLib2/KavViewer/KavZStream.h"
#include "KavPacker.h"
#include "VoRav/vxMemoryStream.h"

using namespace kav;

namespace {

constexpr size_t kEntrySize = 50u << 20;

struct Data {
  std::vector<uint8_t> plain, raw, wrapped;
  double zlib_seconds = 0;  // best of three uncompress runs
};

const Data& Shared() {
  static const Data d = [] {
    Data d;
    d.plain.resize(kEntrySize);
    std::mt19937 rng(1);
    // Words from a small vocabulary with some noise: compresses about 4:1.
    for (size_t i = 0; i < d.plain.size(); ++i)
      d.plain[i] = (rng() % 5 == 0) ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>("slideshow "[i % 10]);
    d.raw = packer::RawDeflate(d.plain);
    uLongf n = compressBound(d.plain.size());
    d.wrapped.resize(n);
    compress2(d.wrapped.data(), &n, d.plain.data(), d.plain.size(), 9);
    d.wrapped.resize(n);
    std::vector<uint8_t> out(d.plain.size());
    d.zlib_seconds = 1e9;
    for (int i = 0; i < 3; ++i) {
      uLongf len = out.size();
      const auto t0 = std::chrono::steady_clock::now();
      uncompress(out.data(), &len, d.wrapped.data(), d.wrapped.size());
      d.zlib_seconds = std::min(d.zlib_seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return d;
  }();
  return d;
}

void BM_Inflate50MB_ZlibUncompress(benchmark::State& state) {
  const Data& d = Shared();
  std::vector<uint8_t> out(d.plain.size());
  for (auto _ : state) {
    uLongf len = out.size();
    if (uncompress(out.data(), &len, d.wrapped.data(), d.wrapped.size()) != Z_OK) state.SkipWithError("zlib");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.plain.size()));
}

void BM_Inflate50MB_InflateStream(benchmark::State& state) {
  const Data& d = Shared();
  auto src = MakeRef<TMemoryStream>();
  src->WriteBytes(d.raw);
  std::vector<uint8_t> out(d.plain.size());
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    src->SetPosition(0);
    auto in = MakeRef<TInflateStream>(src.get());
    int64_t at = 0, n;
    while ((n = in->Read(out, 1 << 16, at)) > 0) at += n;
    benchmark::DoNotOptimize(out.data());
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.plain.size()));
  state.counters["x_zlib"] = seconds / static_cast<double>(state.iterations()) / d.zlib_seconds;
}

// The container's own path for a deflated entry larger than it holds in
// memory, read as a sound's decoder reads it: opened (nothing inflated),
// read whole in 64 KiB pieces, its size (known once read through) checked
// after. With `size_first` the size is asked before the first read, as a
// reader that needs it up front would: the entry is then inflated through
// twice (x_zlib near 2).
void EntryPath(benchmark::State& state, bool size_first) {
  const Data& d = Shared();
  auto src = MakeRef<TMemoryStream>();
  src->WriteBytes(d.raw);
  std::vector<uint8_t> out(d.plain.size());
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    Ref<TStream> entry = TKavUnpack::OpenEntryStream(src.get(), kPackDeflated, false, "k", 0,
                                                     static_cast<int64_t>(d.raw.size()));
    if (size_first && entry->GetSize() != static_cast<int64_t>(d.plain.size())) state.SkipWithError("size");
    int64_t at = 0, n;
    while ((n = entry->Read(out, 1 << 16, at)) > 0) at += n;
    if (entry->GetSize() != static_cast<int64_t>(d.plain.size())) state.SkipWithError("size");
    benchmark::DoNotOptimize(out.data());
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.plain.size()));
  state.counters["x_zlib"] = seconds / static_cast<double>(state.iterations()) / d.zlib_seconds;
}

void BM_Inflate50MB_EntryPath(benchmark::State& state) { EntryPath(state, false); }
void BM_Inflate50MB_EntryPathSizeFirst(benchmark::State& state) { EntryPath(state, true); }

// A clip's demuxer on that entry once open: 64 jumps to random places, 4 KiB
// read at each (x_zlib: one jump and read over zlib's whole uncompress). The
// first jumps past what was inflated inflate on to their place, keeping
// states for the later ones.
void BM_Inflate50MB_EntrySeeks(benchmark::State& state) {
  const Data& d = Shared();
  auto src = MakeRef<TMemoryStream>();
  src->WriteBytes(d.raw);
  Ref<TStream> entry =
      TKavUnpack::OpenEntryStream(src.get(), kPackDeflated, false, "k", 0, static_cast<int64_t>(d.raw.size()));
  std::mt19937 rng(2);
  std::vector<uint8_t> out(4096);
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 64; ++i) {
      entry->SetPosition(static_cast<int64_t>(rng() % (d.plain.size() - out.size())));
      if (entry->Read(out, static_cast<int64_t>(out.size())) != static_cast<int64_t>(out.size())) state.SkipWithError("read");
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.counters["x_zlib"] = seconds / static_cast<double>(state.iterations()) / 64 / d.zlib_seconds;
}

}  // namespace

BENCHMARK(BM_Inflate50MB_ZlibUncompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inflate50MB_InflateStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inflate50MB_EntryPath)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inflate50MB_EntryPathSizeFirst)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inflate50MB_EntrySeeks)->Unit(benchmark::kMillisecond);
