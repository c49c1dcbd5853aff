#include "KavLib2/KavProcess/KavInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "KavLib2/KavProcess/KavTempFolders.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/vxHashUtils.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// A file name stays well below the system's 255-byte limit.
constexpr size_t kMaxLockNameBytes = 200;

}  // namespace

std::string InstanceLockName(const std::u16string& program_path) {
  const std::u16string file = ExtractLastPathPart(program_path);
  std::string name = "Instance_ID" + std::to_string(StrHashELF(program_path)) +
                     std::to_string(StrHashELF(ExtractFileDir(program_path, false))) +
                     std::to_string(StrHashELF(file)) + WideToSystemUTF8(file);
  // The hashes keep names of long program files apart.
  if (name.size() > kMaxLockNameBytes) name.resize(kMaxLockNameBytes);
  return name;
}

TInstanceLock::TInstanceLock(const std::u16string& program_path, const std::string& folder) {
  if (folder.empty()) return;
  path_ = folder + (folder.back() == '/' ? "" : "/") + InstanceLockName(program_path);
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ >= 0) owned_ = flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

TInstanceLock::~TInstanceLock() {
  if (fd_ >= 0) close(fd_);
}

bool TInstanceLock::CheckOtherInstance() {
  if (fd_ < 0 || owned_) return false;
  // Nobody holds it any more: this instance takes it over.
  if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    owned_ = true;
    return false;
  }
  return errno == EWOULDBLOCK;
}

std::string InstanceLockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st;
  if (runtime && runtime[0] == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) return runtime;
  try {
    return WideToSystemUTF8(ProcessTempFolders().GetTempRoot());
  } catch (const Exception&) {
    return {};  // no root: the check then finds no other instance
  }
}

namespace {
std::mutex g_instance_lock;
std::unique_ptr<TInstanceLock> g_instance;
}  // namespace

void CreateInstanceMutex() {
  std::lock_guard<std::mutex> hold(g_instance_lock);
  if (!g_instance) g_instance = std::make_unique<TInstanceLock>(GetProgramFileName(), InstanceLockFolder());
}

bool CheckOtherInstance() {
  CreateInstanceMutex();
  std::lock_guard<std::mutex> hold(g_instance_lock);
  return g_instance->CheckOtherInstance();
}

}  // namespace kav
