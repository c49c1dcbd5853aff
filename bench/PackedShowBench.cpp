// Opening a packed show of 1,000 entries (trailer, directory inflation and
// parsing, integrity rules, one lookup per entry), beside the bare zlib
// inflation of the same directory bytes measured in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "KavLib2/KavViewer/KavUnpack.h"
#include "KavPacker.h"
#include "VoRav/vxUTF8.h"

using namespace kav;

namespace {

constexpr int kEntries = 1000;

struct Show {
  std::string path;
  std::vector<uint8_t> directory;  // the raw deflate bytes of the directory
  size_t directory_text_size = 0;
  ~Show() { std::remove(path.c_str()); }
};

const Show& Shared() {
  static const Show s = [] {
    Show s;
    std::vector<packer::Entry> entries(kEntries);
    for (int i = 0; i < kEntries; ++i) {
      entries[i].name = "C:\\Users\\Author\\Pictures\\Holiday\\IMG_" + std::to_string(10000 + i) + ".jpg";
      entries[i].data.assign(64 + i % 50, static_cast<uint8_t>(i));
      entries[i].method = i % 3;
    }
    packer::Options o;
    const std::string text = packer::DirectoryText(entries, o);
    s.directory_text_size = text.size();
    s.directory = packer::RawDeflate(std::vector<uint8_t>(text.begin(), text.end()));
    char name[] = "/tmp/kavbench-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    s.path = name;
    packer::WriteFileBytes(s.path, packer::Pack(entries, o));
    return s;
  }();
  return s;
}

double InflateDirectoryOnce(const Show& s, std::vector<uint8_t>& out) {
  const auto t0 = std::chrono::steady_clock::now();
  z_stream zs{};
  inflateInit2(&zs, -15);
  zs.next_in = const_cast<uint8_t*>(s.directory.data());
  zs.avail_in = static_cast<uInt>(s.directory.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  inflate(&zs, Z_FINISH);
  inflateEnd(&zs);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_OpenShow1000_ZlibDirectoryOnly(benchmark::State& state) {
  const Show& s = Shared();
  std::vector<uint8_t> out(s.directory_text_size);
  for (auto _ : state) benchmark::DoNotOptimize(InflateDirectoryOnce(s, out));
}

void BM_OpenShow1000_KavUnpack(benchmark::State& state) {
  const Show& s = Shared();
  std::vector<uint8_t> out(s.directory_text_size);
  double baseline = 1e9;
  for (int i = 0; i < 5; ++i) baseline = std::min(baseline, InflateDirectoryOnce(s, out));
  const std::u16string path = SystemUTF8ToWide(s.path);
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    auto u = MakeRef<TKavUnpack>(path);
    int64_t p, n;
    int32_t m;
    int found = 0;
    for (int i = 0; i < kEntries; ++i) {
      const std::string name = "C:\\Users\\Author\\Pictures\\Holiday\\IMG_" + std::to_string(10000 + i) + ".jpg";
      found += u->GetEntry(SystemUTF8ToWide(name), p, m, n);
    }
    if (found != kEntries) state.SkipWithError("entries missing");
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.counters["x_zlib_directory"] = seconds / static_cast<double>(state.iterations()) / baseline;
}

}  // namespace

BENCHMARK(BM_OpenShow1000_ZlibDirectoryOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenShow1000_KavUnpack)->Unit(benchmark::kMicrosecond);
