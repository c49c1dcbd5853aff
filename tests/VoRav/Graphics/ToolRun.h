// Running the machine's independent decoders and image makers from tests:
// programs started without a shell, scratch folders, whole-file transfers.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace kav::test {

inline bool ToolExists(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// Runs argv[0] (an absolute path) with the arguments; standard output goes
// to `stdout_file` when given, else nowhere. Answers the exit code, -1 when
// the program could not be started or did not exit normally.
inline int RunTool(const std::vector<std::string>& args, const std::string& stdout_file = {}) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_file.empty() ? "/dev/null" : stdout_file.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A fresh folder under the system's temporary folder, removed with the object.
class TScratchDir {
 public:
  explicit TScratchDir(const std::string& tag) {
    std::string tmpl = (std::filesystem::temp_directory_path() / ("kav-" + tag + "-XXXXXX")).string();
    path_ = mkdtemp(tmpl.data()) ? std::filesystem::path(tmpl) : std::filesystem::path();
  }
  ~TScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The real ImageMagick (a stand-in "convert" may come first on the path)
// and Python with Pillow from the distribution.
inline const std::string kMagick = "/usr/bin/convert";
inline const std::string kPython = "/usr/bin/python3";

}  // namespace kav::test
