// Pictures as Pillow decodes them (tools/pil_rgba.py), and the outside
// corpora the decoder tests compare against.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace kav::test {

struct TPillowPicture {
  uint32_t Status = 1;  // 0 decoded, 1 refused, 2 only the colour comparable
  uint32_t Width = 0, Height = 0;
  std::vector<uint8_t> Rgba;
};

inline std::filesystem::path CorporaDir() { return std::filesystem::path(KAV_SOURCE_DIR) / ".." / "shared" / "corpora"; }

inline bool PillowAvailable() {
  return access("/usr/bin/python3", X_OK) == 0 && access("/usr/lib/python3/dist-packages/PIL", F_OK) == 0;
}

// Runs the dump script once over all files (no shell in between).
inline std::vector<TPillowPicture> PillowDecode(const std::vector<std::string>& files) {
  const std::string script = std::string(KAV_SOURCE_DIR) + "/tools/pil_rgba.py";
  std::vector<std::string> args = {"/usr/bin/python3", script};
  args.insert(args.end(), files.begin(), files.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fd[2];
  if (pipe(fd) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fd[1], 1);
    close(fd[0]);
    close(fd[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fd[1]);
  std::vector<uint8_t> out;
  uint8_t buf[65536];
  for (ssize_t n; (n = read(fd[0], buf, sizeof buf)) > 0;) out.insert(out.end(), buf, buf + n);
  close(fd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::vector<TPillowPicture> result;
  size_t at = 0;
  auto word = [&](uint32_t& v) {
    if (at + 4 > out.size()) return false;
    std::memcpy(&v, out.data() + at, 4);
    at += 4;
    return true;
  };
  for (size_t i = 0; i < files.size(); ++i) {
    TPillowPicture p;
    if (!word(p.Status) || !word(p.Width) || !word(p.Height)) break;
    if (p.Status != 1) {
      const size_t n = size_t(p.Width) * p.Height * 4;
      if (at + n > out.size()) break;
      p.Rgba.assign(out.begin() + ptrdiff_t(at), out.begin() + ptrdiff_t(at + n));
      at += n;
    }
    result.push_back(std::move(p));
  }
  EXPECT_EQ(result.size(), files.size()) << "the Pillow dump ended early";
  return result;
}

}  // namespace kav::test
