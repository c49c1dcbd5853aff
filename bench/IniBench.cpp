// INI parsing speed on a large generated project text, beside memcpy of the
// same bytes (the baseline, measured in the same run).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "VoRav/vxIni.h"

using namespace kav;

namespace {

// About 24 MB: slides with nested objects, keyframe lists, comments.
const std::string& ProjectText() {
  static const std::string text = [] {
    std::string t = "\xEF\xBB\xBF; generated project\r\n[Main]\r\nopt_WindowMode=1\r\nTitle=Benchmark show\r\n";
    for (int s = 0; s < 12000; ++s) {
      const std::string n = std::to_string(s);
      t += "object Slide" + n + ":TKavSlide\r\n  Duration=" + std::to_string(3000 + s % 4000) + "\r\n";
      t += "  Transition=Dissolve;1500\r\n  ; slide comment " + n + "\r\n";
      for (int o = 0; o < 6; ++o) {
        const std::string on = std::to_string(o);
        t += "  object Pic" + on + ":TKavImage\r\n";
        t += "    File=%SHOW%\\img\\" + n + "_" + on + ".jpg\r\n";
        t += "    Rect=0,0,1920,1080\r\n    Keys=0:1.0,2500:0.5,5000:1.0,7500:0.25\r\n";
        t += "    object Caption:TKavText\r\n      Text=Caption " + n + " \xC3\xA4\xC3\xB6\xC3\xBC\r\n";
        t += "      Font=Arial,24,1\r\n    end\r\n  end\r\n";
      }
      t += "end\r\n\r\n";
    }
    t += "[Times]\r\n";
    for (int s = 0; s < 12000; ++s) t += std::to_string(s) + "=" + std::to_string(s * 5000) + "\r\n";
    return t;
  }();
  return text;
}

// Seconds per byte of memcpy of the text, measured once.
double MemcpySecondsPerByte() {
  static const double value = [] {
    const std::string& text = ProjectText();
    std::vector<char> dst(text.size());
    const int rounds = 20;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
      std::memcpy(dst.data(), text.data(), text.size());
      benchmark::DoNotOptimize(dst.data());
      benchmark::ClobberMemory();
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() / (double(text.size()) * rounds);
  }();
  return value;
}

void BM_IniParse(benchmark::State& state) {
  const std::string& text = ProjectText();
  double seconds = 0;
  for (auto _ : state) {
    auto doc = MakeRef<TIniFile>();
    const auto start = std::chrono::steady_clock::now();
    doc->LoadFromBytes(text);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(doc.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  const double parse_per_byte = seconds / (double(state.iterations()) * double(text.size()));
  state.counters["MB/s"] = 1e-6 / parse_per_byte;
  state.counters["memcpy_MB/s"] = 1e-6 / MemcpySecondsPerByte();
  state.counters["x_memcpy_time"] = parse_per_byte / MemcpySecondsPerByte();
}
BENCHMARK(BM_IniParse)->Unit(benchmark::kMillisecond);

void BM_MemcpyBaseline(benchmark::State& state) {
  const std::string& text = ProjectText();
  std::vector<char> dst(text.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), text.data(), text.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_MemcpyBaseline)->Unit(benchmark::kMillisecond);

void BM_IniSave(benchmark::State& state) {
  auto doc = MakeRef<TIniFile>();
  doc->LoadFromBytes(ProjectText());
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string out = doc->SaveToBytes();
    bytes += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_IniSave)->Unit(benchmark::kMillisecond);

}  // namespace
