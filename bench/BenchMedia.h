// Test media the benchmarks make at run time: photo-like JPEG files written
// by cjpeg (libjpeg-turbo-progs), and running a program without a shell.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace kav::bench {

inline const std::string kCjpeg = "/usr/bin/cjpeg";

// Runs the program with its arguments, output to /dev/null; its exit code,
// -1 when it could not run.
inline int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// A w x h photo-like JPEG (gradients, soft rings and grain, quality 90) in
// the temporary folder as `name`.jpg, made once; empty when cjpeg fails.
inline std::string MakePhotoJpeg(int w, int h, const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string ppm = (dir / (name + ".ppm")).string(), jpg = (dir / (name + ".jpg")).string();
  if (std::filesystem::exists(jpg)) return jpg;
  std::ofstream out(ppm, std::ios::binary);
  out << "P6\n" << w << " " << h << "\n255\n";
  std::mt19937 rng(7);
  std::vector<uint8_t> row(size_t(w) * 3);
  const int cx = w / 2, cy = h / 2, k = std::max(w * h / 600, 1);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int grain = int(rng() % 9) - 4;
      const int ring = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / k % 64;
      row[size_t(x) * 3] = uint8_t(std::clamp(x * 200 / w + ring + grain, 0, 255));
      row[size_t(x) * 3 + 1] = uint8_t(std::clamp(y * 180 / h + 40 + grain, 0, 255));
      row[size_t(x) * 3 + 2] = uint8_t(std::clamp(128 + ring * 2 - x * 60 / w + grain, 0, 255));
    }
    out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
  }
  out.close();
  const bool ok = Run({kCjpeg, "-quality", "90", "-outfile", jpg, ppm}) == 0;
  std::filesystem::remove(ppm);
  return ok ? jpg : std::string();
}

}  // namespace kav::bench
