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
//
// The same for kavpack itself and a sound the project names: kavpack on a
// folder whose project names a sound of N MiB (noise, as music is), beside
// kavpack on the same folder whose project does not name it and on the
// folder without it. Counters: sound_MiB; named_MiB, not_named_MiB and
// without_MiB (peaks); named_over_without_MiB (named - without); help_MiB,
// the peak of "kavpack --help". Each peak is measured by GNU time
// (/usr/bin/time): a child of this process counts this process's pages in
// its peak (fork copies them, exec adds the old ones), a child of time's
// does not.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "KavPacker.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace kav::packer;

namespace {

constexpr size_t kFileSize = size_t(8) << 20;

// Writes `size` bytes of noise (xorshift from `seed`) to the stream.
void WriteNoise(std::ofstream& out, size_t size, uint64_t& seed) {
  std::vector<uint64_t> block(1 << 14);
  for (size_t done = 0; done < size; done += block.size() * sizeof(uint64_t)) {
    for (uint64_t& v : block) {
      seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
      v = seed;
    }
    out.write(reinterpret_cast<const char*>(block.data()),
              std::streamsize(std::min(size - done, block.size() * sizeof(uint64_t))));
  }
}

std::string MakeTempFolder() {
  std::string tmpl = (fs::temp_directory_path() / "kavpackbench-XXXXXX").string();
  return mkdtemp(tmpl.data()) ? tmpl : std::string();
}

struct Folder {
  fs::path path;
  std::vector<std::pair<std::string, std::string>> files;  // entry name, path
  explicit Folder(size_t mib) : path(MakeTempFolder()) {
    if (path.empty()) return;
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (size_t k = 0; k * kFileSize < (mib << 20); ++k) {
      const fs::path p = path / ("noise" + std::to_string(k) + ".bin");
      std::ofstream out(p, std::ios::binary);
      WriteNoise(out, kFileSize, seed);
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

namespace {

// A project of one slide, with one tune when `music` names its file.
void WriteProject(const fs::path& folder, const std::string& music) {
  fs::create_directories(folder / "Music");
  std::ofstream out(folder / "Project.kav", std::ios::binary);
  out << "[Main]\r\nprojectname=bench\r\n";
  if (!music.empty())
    out << "object Music:TMusic\r\nobject Track1:TMusicTrack\r\nobject Tune:TMusicItem\r\nGUID={bench-tune}\r\n"
           "FileName=" << music << "\r\nStartTime=0\r\nDuration=12000\r\nend\r\nend\r\nend\r\n";
  out << "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=3000\r\n[Slide1]\r\n";
}

constexpr char kTime[] = "/usr/bin/time";

// The peak resident size (MiB) of kavpack run with the arguments, as GNU
// time reports it into `report`; -1 when it failed.
double KavpackPeakMiB(const fs::path& report, std::vector<std::string> args) {
  const std::vector<std::string> front = {kTime, "-f", "%M", "-o", report.string(), KAV_KAVPACK};
  args.insert(args.begin(), front.begin(), front.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execve(argv[0], argv.data(), environ);
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  double kib = -1;
  std::ifstream(report) >> kib;
  return kib < 0 ? -1 : kib / 1024.0;
}

void BM_KavpackNamedSoundPeakMemory(benchmark::State& state) {
  const size_t mib = size_t(state.range(0));
  if (access(kTime, X_OK) != 0) {
    state.SkipWithError("needs GNU time, /usr/bin/time");
    return;
  }
  const fs::path dir = MakeTempFolder();
  if (dir.empty()) {
    state.SkipWithError("cannot make the folder");
    return;
  }
  const fs::path report = dir / "peak.txt";
  const fs::path named = dir / "named", not_named = dir / "not_named", without = dir / "without";
  WriteProject(named, "Music\\long.wav");
  WriteProject(not_named, "");
  WriteProject(without, "");
  {
    std::ofstream wav(named / "Music" / "long.wav", std::ios::binary);
    const uint32_t bytes = uint32_t(mib << 20);
    const auto le32 = [&wav](uint32_t v) { for (int i = 0; i < 4; ++i) wav.put(char(v >> (8 * i))); };
    wav.write("RIFF", 4), le32(36 + bytes), wav.write("WAVEfmt ", 8), le32(16);
    wav.write("\x01\x00\x02\x00", 4), le32(44100), le32(44100 * 4), wav.write("\x04\x00\x10\x00", 4);
    wav.write("data", 4), le32(bytes);
    uint64_t seed = 0x2545F4914F6CDD1Dull;
    WriteNoise(wav, bytes, seed);
  }
  std::error_code ec;
  fs::create_hard_link(named / "Music" / "long.wav", not_named / "Music" / "long.wav", ec);
  double with_sound = 0, not_named_sound = 0, no_sound = 0, help = 0;
  for (auto _ : state) {
    with_sound = KavpackPeakMiB(report, {(dir / "named.kvshow").string(), named.string()});
    not_named_sound = KavpackPeakMiB(report, {(dir / "not_named.kvshow").string(), not_named.string()});
    no_sound = KavpackPeakMiB(report, {(dir / "without.kvshow").string(), without.string()});
    help = KavpackPeakMiB(report, {"--help"});
  }
  fs::remove_all(dir, ec);
  if (with_sound < 0 || not_named_sound < 0 || no_sound < 0 || help < 0) {
    state.SkipWithError("a packing failed");
    return;
  }
  state.counters["sound_MiB"] = double(mib);
  state.counters["named_MiB"] = with_sound;
  state.counters["not_named_MiB"] = not_named_sound;
  state.counters["without_MiB"] = no_sound;
  state.counters["named_over_without_MiB"] = with_sound - no_sound;
  state.counters["help_MiB"] = help;
}
BENCHMARK(BM_KavpackNamedSoundPeakMemory)->Arg(300)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
