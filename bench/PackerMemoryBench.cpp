// The memory it takes to pack a folder, against the folder's size: a folder
// of N MiB of files that do not compress (8 MiB each), packed deflated by
// the writer that goes entry by entry (StreamWriter, what kavpack uses),
// beside the writer that holds the whole show (the entries read into memory,
// Pack, one write), measured in the same run. Each packing runs in a child
// process; its peak resident size (ru_maxrss) less that of a child that does
// nothing is what the packing added.
//
// Counters: folder_MiB; added_MiB and added_per_folder_MiB for the entry-by-
// entry writer; baseline_added_MiB and baseline_per_folder_MiB for the whole
// show in memory; ratio_to_baseline (added / baseline_added).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "KavPacker.h"

namespace fs = std::filesystem;
using namespace kav::packer;

namespace {

constexpr size_t kFileSize = size_t(8) << 20;

struct Folder {
  fs::path path;
  std::vector<std::pair<std::string, std::string>> files;  // entry name, path
  explicit Folder(size_t mib) {
    std::string tmpl = (fs::temp_directory_path() / "kavpackbench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return;
    path = tmpl;
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    std::vector<uint64_t> block(1 << 14);
    for (size_t k = 0; k * kFileSize < (mib << 20); ++k) {
      const fs::path p = path / ("noise" + std::to_string(k) + ".bin");
      std::ofstream out(p, std::ios::binary);
      for (size_t done = 0; done < kFileSize; done += block.size() * sizeof(uint64_t)) {
        for (uint64_t& v : block) {
          seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
          v = seed;
        }
        out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * sizeof(uint64_t)));
      }
      files.push_back({"Photos\\noise" + std::to_string(k) + ".bin", p.string()});
    }
  }
  ~Folder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

// The peak resident size (MiB) of a child process that runs `work`; -1 when
// the work failed.
double ChildPeakMiB(const std::function<bool()>& work) {
  const pid_t pid = fork();
  if (pid == 0) _exit(work() ? 0 : 1);
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return double(usage.ru_maxrss) / 1024.0;
}

bool PackWhole(const Folder& f, const std::string& out) {
  std::vector<Entry> entries;
  for (const auto& [name, path] : f.files) {
    std::ifstream in(path, std::ios::binary);
    Entry e;
    e.name = name;
    e.data.assign(std::istreambuf_iterator<char>(in), {});
    e.method = kDeflated;
    entries.push_back(std::move(e));
  }
  return WriteFileBytes(out, Pack(entries, Options{}));
}

bool PackStreamed(const Folder& f, const std::string& out) {
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  StreamWriter writer(fd, Options{});
  bool ok = true;
  for (const auto& [name, path] : f.files) ok = ok && writer.AddFile(name, path, kDeflated);
  ok = ok && writer.Finish();
  return close(fd) == 0 && ok;
}

void BM_PackFolderPeakMemory(benchmark::State& state) {
  const size_t mib = size_t(state.range(0));
  const Folder folder(mib);
  if (folder.files.empty()) {
    state.SkipWithError("cannot make the folder");
    return;
  }
  const std::string out = (folder.path / "out.kvshow").string();
  const double idle = ChildPeakMiB([] { return true; });
  const double whole = ChildPeakMiB([&] { return PackWhole(folder, out); });
  double streamed = 0;
  for (auto _ : state) streamed = ChildPeakMiB([&] { return PackStreamed(folder, out); });
  if (idle < 0 || whole < 0 || streamed < 0) {
    state.SkipWithError("a packing failed");
    return;
  }
  const double folder_mib = double(folder.files.size() * kFileSize) / double(1 << 20);
  state.counters["folder_MiB"] = folder_mib;
  state.counters["added_MiB"] = streamed - idle;
  state.counters["added_per_folder_MiB"] = (streamed - idle) / folder_mib;
  state.counters["baseline_added_MiB"] = whole - idle;
  state.counters["baseline_per_folder_MiB"] = (whole - idle) / folder_mib;
  state.counters["ratio_to_baseline"] = (streamed - idle) / (whole - idle);
}
BENCHMARK(BM_PackFolderPeakMemory)->Arg(64)->Arg(256)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
