// Throughput of the byte-string hash and of the library's UTF-8 codec, beside
// memcpy of the same data measured in the same run. Each text benchmark also
// reports "x_memcpy": its throughput as a fraction of memcpy's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "VoRav/vxByteString.h"
#include "VoRav/vxUTF8.h"

namespace {

constexpr size_t kTextUnits = 128 * 1024;

// INI-like text: mostly ASCII, some Latin letters with accents, some CJK and
// a few characters above U+FFFF.
const std::u16string& MixedWide() {
  static const std::u16string text = [] {
    std::mt19937 rng(42);
    std::u16string t;
    while (t.size() < kTextUnits) {
      const unsigned r = rng() % 100;
      if (r < 80) t += char16_t(u'a' + rng() % 26);
      else if (r < 90) t += char16_t(0xC0 + rng() % 0x40);
      else if (r < 98) t += char16_t(0x4E00 + rng() % 0x1000);
      else t += u"\U0001F600";
    }
    return t;
  }();
  return text;
}

const std::u16string& AsciiWide() {
  static const std::u16string text = [] {
    std::u16string t;
    for (size_t i = 0; i < kTextUnits; ++i) t += char16_t(u'A' + i % 58);
    return t;
  }();
  return text;
}

// Source and destination of a copy, placed 2 KiB apart modulo 4 KiB: when
// they lie a few bytes apart modulo 4 KiB (as two heap blocks of 128 KiB can)
// the processor's store-to-load checks slow memcpy down many times.
class CopyBuffers {
 public:
  explicit CopyBuffers(size_t size)
      : gap_((size + 4095) / 4096 * 4096 + 2048), data_(gap_ + size + 64, 'x') {}
  char* Source() { return data_.data(); }
  char* Dest() { return data_.data() + gap_; }

 private:
  size_t gap_;
  std::vector<char> data_;
};

// memcpy bytes per second over a buffer of this size, measured once: the
// best of several short trials, so that a moment of load on the machine does
// not distort the baseline.
double MemcpyBytesPerSecond(size_t size) {
  static std::vector<std::pair<size_t, double>> cache;
  for (auto& [s, rate] : cache)
    if (s == size) return rate;
  CopyBuffers buffers(size);
  char* src = buffers.Source();
  char* dst = buffers.Dest();
  using clock = std::chrono::steady_clock;
  double best = 0;
  for (int trial = 0; trial < 20; ++trial) {
    size_t copied = 0;
    const auto start = clock::now();
    auto now = start;
    while (now - start < std::chrono::milliseconds(10)) {
      for (int i = 0; i < 16; ++i) {
        std::memcpy(dst, src, size);
        benchmark::DoNotOptimize(dst);
        benchmark::ClobberMemory();
        copied += size;
      }
      now = clock::now();
    }
    best = std::max(best, double(copied) / std::chrono::duration<double>(now - start).count());
  }
  cache.emplace_back(size, best);
  return best;
}

// Times the benchmark loop (wall clock) to relate it to memcpy.
class Timed {
 public:
  explicit Timed(benchmark::State& state) : state_(state) {}
  void Report(size_t bytes) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double total = double(state_.iterations()) * double(bytes);
    state_.SetBytesProcessed(int64_t(total));
    state_.counters["x_memcpy"] = total / seconds / MemcpyBytesPerSecond(bytes);
  }

 private:
  benchmark::State& state_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void BM_Memcpy(benchmark::State& state) {
  const std::string text = kav::UTF8Encode(MixedWide());
  CopyBuffers buffers(text.size());
  std::memcpy(buffers.Source(), text.data(), text.size());
  Timed t(state);
  for (auto _ : state) {
    std::memcpy(buffers.Dest(), buffers.Source(), text.size());
    benchmark::DoNotOptimize(buffers.Dest());
    benchmark::ClobberMemory();
  }
  t.Report(text.size());
}

void BM_ByteStringHash_Ascii(benchmark::State& state) {
  const std::string bytes = kav::UTF8Encode(AsciiWide());
  Timed t(state);
  for (auto _ : state) benchmark::DoNotOptimize(kav::ByteStringHash(bytes));
  t.Report(bytes.size());
}

void BM_ByteStringHash_Mixed(benchmark::State& state) {
  const std::string bytes = kav::UTF8Encode(MixedWide());
  Timed t(state);
  for (auto _ : state) benchmark::DoNotOptimize(kav::ByteStringHash(bytes));
  t.Report(bytes.size());
}

void BM_ByteStringHashExact_Mixed(benchmark::State& state) {
  const std::string bytes = kav::UTF8Encode(MixedWide());
  Timed t(state);
  for (auto _ : state) benchmark::DoNotOptimize(kav::ByteStringHashExact(bytes));
  t.Report(bytes.size());
}

void BM_HashWideString_Mixed(benchmark::State& state) {
  const std::u16string& text = MixedWide();
  Timed t(state);
  for (auto _ : state) benchmark::DoNotOptimize(kav::HashWideString(text));
  t.Report(kav::UTF8ByteCount(text));
}

void BM_UTF8Encode_Mixed(benchmark::State& state) {
  const std::u16string& text = MixedWide();
  Timed t(state);
  for (auto _ : state) benchmark::DoNotOptimize(kav::UTF8Encode(text));
  t.Report(kav::UTF8ByteCount(text));
}

void BM_UTF8Decode_Mixed(benchmark::State& state) {
  const std::string bytes = kav::UTF8Encode(MixedWide());
  Timed t(state);
  for (auto _ : state) benchmark::DoNotOptimize(kav::UTF8Decode(bytes));
  t.Report(bytes.size());
}

void BM_UTF8Decode_Ascii(benchmark::State& state) {
  const std::string bytes = kav::UTF8Encode(AsciiWide());
  Timed t(state);
  for (auto _ : state) benchmark::DoNotOptimize(kav::UTF8Decode(bytes));
  t.Report(bytes.size());
}

}  // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_ByteStringHash_Ascii);
BENCHMARK(BM_ByteStringHash_Mixed);
BENCHMARK(BM_ByteStringHashExact_Mixed);
BENCHMARK(BM_HashWideString_Mixed);
BENCHMARK(BM_UTF8Encode_Mixed);
BENCHMARK(BM_UTF8Decode_Mixed);
BENCHMARK(BM_UTF8Decode_Ascii);
