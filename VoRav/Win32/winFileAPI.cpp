#include "VoRav/Win32/winFileAPI.h"

#include "VoRav/Win32/winProgramPath.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "VoRav/Win32/winPathMap.h"
#include "VoRav/Win32/winFileFind.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

constexpr int kMaxTreeDepth = 1024;

uint32_t AttributesOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return kInvalidFileAttributes;
  return AttributesFromStat(path, st);
}

// Removes the entry `name` of the folder `parent` and, for a folder, all
// inside it; links are removed themselves.
bool RemoveEntryAt(int parent, const char* name, int depth) {
  struct stat st;
  if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return unlinkat(parent, name, 0) == 0;
  if (depth >= kMaxTreeDepth) {
    errno = ELOOP;
    return false;
  }
  // A folder the owner cannot list or change is opened up first.
  if ((st.st_mode & S_IRWXU) != S_IRWXU) fchmodat(parent, name, (st.st_mode & 07777) | S_IRWXU, 0);
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return false;
  }
  bool ok = true;
  while (ok) {
    errno = 0;
    dirent* e = readdir(dir);
    if (!e) {
      ok = errno == 0;
      break;
    }
    const std::string_view n(e->d_name);
    if (n == "." || n == "..") continue;
    ok = RemoveEntryAt(dirfd(dir), e->d_name, depth + 1);
  }
  const int saved = errno;
  closedir(dir);
  if (!ok) {
    errno = saved;
    return false;
  }
  return unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

// Checks what open gave: folders, devices, FIFOs and sockets are refused
// (errno EISDIR / ENXIO, the descriptor closed), a file gets blocking reads.
int AcceptOpened(int fd, bool allow_folder) {
  if (fd < 0) return kInvalidHandle;
  struct stat st;
  int refuse = 0;
  if (fstat(fd, &st) != 0) refuse = errno;
  else if (S_ISDIR(st.st_mode) && !allow_folder) refuse = EISDIR;
  else if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) refuse = ENXIO;  // devices, FIFOs, sockets
  if (refuse) {
    close(fd);
    errno = refuse;
    return kInvalidHandle;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// The part of the system path `p` below the folder `f` (no leading "/");
// false when `p` is not below `f` or is `f` itself.
bool RelativeBelow(std::string f, const std::string& p, std::string& rel) {
  while (!f.empty() && f.back() == '/') f.pop_back();
  if (p.size() <= f.size() + 1 || p.compare(0, f.size(), f) != 0 || p[f.size()] != '/') return false;
  size_t start = f.size() + 1;
  while (start < p.size() && p[start] == '/') ++start;
  rel = p.substr(start);
  return !rel.empty();
}

std::string RealPathOf(const std::string& p) {
  char* r = realpath(p.c_str(), nullptr);
  if (!r) return {};
  std::string out(r);
  free(r);
  return out;
}

// openat2 with RESOLVE_BENEATH: the kernel refuses every ".." and link that
// would leave `dir` (EXDEV), and absolute links altogether. -1 with ENOSYS
// where the kernel (or a sandbox's filter, EPERM) does not offer it.
std::atomic<bool> g_openat2{true};

int OpenAt2Beneath(int dir, const std::string& rel, int flags) {
  if (!g_openat2.load()) {
    errno = ENOSYS;
    return -1;
  }
  open_how how{};
  how.flags = uint64_t(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  long fd;
  do fd = syscall(SYS_openat2, dir, rel.c_str(), &how, sizeof how);
  while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == EPERM) errno = ENOSYS;
  return int(fd);
}

// Resolves `p` with every link and checks that it stays below the real path
// of `f`: the real path of the file and its part below the folder's.
bool ResolveBelow(const std::string& f, const std::string& p, std::string& real_folder, std::string& real,
                  std::string& rel) {
  real_folder = RealPathOf(f);
  if (real_folder.empty()) return false;  // errno from realpath
  real = RealPathOf(p);
  if (real.empty()) return false;
  if (!RelativeBelow(real_folder, real, rel)) {
    errno = EXDEV;
    return false;
  }
  return true;
}

std::atomic<TFileAPI*> g_gate{nullptr};
std::mutex g_gate_lock;

TFileAPI* StandardGate() {
  static TFileAPI* gate = new TFileAPI;  // lives to the end of the process
  return gate;
}

}  // namespace

std::u16string TFileAPI::GetModuleFileName(void* module) {
  if (module) {
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
    return SystemUTF8ToWide(map->l_name);
  }
  const std::string& path = ProgramPathSystem();
  return path.empty() ? std::u16string() : SystemUTF8ToWide(path);
}

std::u16string TFileAPI::GetCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::u16string line;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find('\0', pos);
    if (end == std::string::npos) end = all.size();
    const std::u16string arg = SystemUTF8ToWide(std::string_view(all).substr(pos, end - pos));
    if (!line.empty()) line += u' ';
    const bool quote = arg.empty() || std::any_of(arg.begin(), arg.end(), [](char16_t c) { return c <= u' '; });
    if (quote) line += u'"';
    line += arg;
    if (quote) line += u'"';
    pos = end + 1;
  }
  return line;
}

std::u16string TFileAPI::GetCurrentDir() {
  std::vector<char> buf(4096);
  while (!getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE || buf.size() >= (1u << 20)) return {};
    buf.resize(buf.size() * 2);
  }
  return SystemUTF8ToWide(buf.data());
}

bool TFileAPI::SetCurrentDir(const std::u16string& path) {
  std::string p;
  return MapToSystemPath(path, p) && chdir(p.c_str()) == 0;
}

TFindHandle TFileAPI::FindFirst(const std::u16string& pattern, TFindData& data) {
  return FindFirstEntry(pattern, data);
}

bool TFileAPI::FindNext(TFindHandle search, TFindData& data) { return FindNextEntry(search, data); }

void TFileAPI::FindClose(TFindHandle search) { CloseFind(search); }

uint32_t TFileAPI::GetFileAttributes(const std::u16string& path) {
  std::string p;
  return MapToSystemPath(path, p) ? AttributesOf(p) : kInvalidFileAttributes;
}

bool TFileAPI::SetFileAttributes(const std::u16string& path, uint32_t attributes) {
  std::string p;
  struct stat st;
  if (!MapToSystemPath(path, p) || lstat(p.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kFileAttributeReadOnly)
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else
    mode |= S_IWUSR;
  return mode == (st.st_mode & 07777) || chmod(p.c_str(), mode) == 0;
}

bool TFileAPI::CreateDirectory(const std::u16string& path) {
  std::string p;
  return MapToSystemPath(path, p) && mkdir(p.c_str(), 0777) == 0;
}

bool TFileAPI::RemoveDirectory(const std::u16string& path) {
  std::string p;
  return MapToSystemPath(path, p) && rmdir(p.c_str()) == 0;
}

THandle TFileAPI::CreateFile(const std::u16string& path, uint32_t access, uint32_t /*share*/,
                             uint32_t disposition, uint32_t flags) {
  std::string p;
  if (!MapToSystemPath(path, p)) return kInvalidHandle;
  int oflags = O_CLOEXEC | O_NONBLOCK;  // a FIFO must not block the opener
  const bool read = access & kGenericRead, write = access & kGenericWrite;
  oflags |= write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (write && (access & kFileAppendData)) oflags |= O_APPEND;
  switch (disposition) {
    case kCreateNew: oflags |= O_CREAT | O_EXCL; break;
    case kCreateAlways: oflags |= O_CREAT | O_TRUNC; break;
    case kOpenExisting: break;
    case kOpenAlways: oflags |= O_CREAT; break;
    case kTruncateExisting: oflags |= O_TRUNC; break;
    default: errno = EINVAL; return kInvalidHandle;
  }
  if ((oflags & O_TRUNC) && !write) {
    errno = EINVAL;
    return kInvalidHandle;
  }
  int fd;
  do fd = open(p.c_str(), oflags, 0666);
  while (fd < 0 && errno == EINTR);
  return AcceptOpened(fd, flags & kFileFlagBackupSemantics);
}

void SetOpenBeneathByKernel(bool on) noexcept { g_openat2 = on; }

THandle TFileAPI::OpenFileBeneath(const std::u16string& folder, const std::u16string& path) {
  std::string f, p, rel;
  if (!MapToSystemPath(folder, f) || !MapToSystemPathBelow(path, f, p)) return kInvalidHandle;
  if (!RelativeBelow(f, p, rel)) {
    errno = EXDEV;
    return kInvalidHandle;
  }
  const int oflags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;  // a FIFO must not block the opener
  const int dir = open(f.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return kInvalidHandle;
  int fd = OpenAt2Beneath(dir, rel, oflags);
  close(dir);
  if (fd < 0 && (errno == EXDEV || errno == ENOSYS)) {
    // The kernel refuses absolute links even when they lead back inside, and
    // older kernels lack openat2: the name is resolved in full and must stay
    // inside; the link-free result is then opened without following links.
    const bool have_openat2 = errno != ENOSYS;
    std::string real_folder, real, real_rel;
    if (!ResolveBelow(f, p, real_folder, real, real_rel)) {
      if (have_openat2 && errno == ENOENT) errno = EXDEV;  // a link that leads outside to nothing
      return kInvalidHandle;
    }
    if (have_openat2) {
      const int real_dir = open(real_folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (real_dir < 0) return kInvalidHandle;
      fd = OpenAt2Beneath(real_dir, real_rel, oflags);
      close(real_dir);
    } else {
      do fd = open(real.c_str(), oflags | O_NOFOLLOW);
      while (fd < 0 && errno == EINTR);
    }
  }
  return AcceptOpened(fd, false);
}

bool TFileAPI::ResolveBeneath(const std::u16string& folder, const std::u16string& path, std::string& real) {
  std::string f, p, rel, real_folder;
  if (!MapToSystemPath(folder, f) || !MapToSystemPathBelow(path, f, p)) return false;
  if (!RelativeBelow(f, p, rel)) {
    errno = EXDEV;
    return false;
  }
  return ResolveBelow(f, p, real_folder, real, rel);
}

int64_t TFileAPI::GetFileSize(THandle handle) {
  struct stat st;
  return fstat(handle, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool TFileAPI::CloseHandle(THandle handle) {
  if (handle < 0) {
    errno = EBADF;
    return false;
  }
  // Linux closes the descriptor even when close reports an error: never retry.
  return close(handle) == 0;
}

bool TFileAPI::MoveFileEx(const std::u16string& old_path, const std::u16string& new_path, uint32_t flags) {
  std::string from, to;
  if (!MapToSystemPath(old_path, from) || !MapToSystemPath(new_path, to)) return false;
  if (flags & kMoveFileReplaceExisting) return rename(from.c_str(), to.c_str()) == 0;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat st;  // a file system without the atomic form
  if (lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(from.c_str(), to.c_str()) == 0;
}

bool TFileAPI::DeleteFile(const std::u16string& path) {
  std::string p;
  return MapToSystemPath(path, p) && unlink(p.c_str()) == 0;
}

int32_t TFileAPI::GetFileVersion(const std::u16string& /*path*/) { return -1; }

bool TFileAPI::GetShortPathName(const std::u16string& path, std::string& name) {
  name.clear();
  if (!MapToSystemPath(path, name)) {
    name = WideToSystemUTF8(path);
    return false;
  }
  struct stat st;
  return stat(name.c_str(), &st) == 0;
}

bool TFileAPI::ReadLink(const std::u16string& path, std::u16string& target) {
  std::string p;
  if (!MapToSystemPath(path, p)) return false;
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = readlink(p.c_str(), buf.data(), buf.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buf.size()) {
      target = SystemUTF8ToWide(std::string_view(buf.data(), static_cast<size_t>(n)));
      return true;
    }
    if (buf.size() >= (1u << 20)) return false;
    buf.resize(buf.size() * 2);
  }
}

bool TFileAPI::DeleteTree(const std::u16string& path) {
  std::string p;
  if (!MapToSystemPath(path, p)) return false;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
  const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || p == "/") {
    errno = EINVAL;
    return false;
  }
  const int fd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (ok && S_ISLNK(st.st_mode)) ok = unlinkat(fd, name.c_str(), 0) == 0;  // the link, not what it leads to
  else if (ok && !S_ISDIR(st.st_mode)) ok = false, errno = ENOTDIR;
  else if (ok) ok = RemoveEntryAt(fd, name.c_str(), 0);
  const int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

TFileAPI* FileAPI() {
  TFileAPI* gate = g_gate.load(std::memory_order_acquire);
  return gate ? gate : StandardGate();
}

Ref<TFileAPI> SetFileAPI(Ref<TFileAPI> gate) {
  std::lock_guard<std::mutex> guard(g_gate_lock);
  TFileAPI* previous = g_gate.exchange(gate.release(), std::memory_order_acq_rel);
  if (!previous) return Ref<TFileAPI>(StandardGate());
  return Ref<TFileAPI>::Adopt(previous);
}

int64_t FileSeek64(THandle handle, int origin, int64_t offset) {
  const int whence = origin == kFileBegin ? SEEK_SET : origin == kFileCurrent ? SEEK_CUR : origin == kFileEnd ? SEEK_END : -1;
  if (whence < 0) {
    errno = EINVAL;
    return -1;
  }
  const off_t r = lseek(handle, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

bool FileTruncate(THandle handle) {
  const off_t pos = lseek(handle, 0, SEEK_CUR);
  if (pos < 0) return false;
  int r;
  do r = ftruncate(handle, pos);
  while (r != 0 && errno == EINTR);
  return r == 0;
}

int64_t FileReadRaw(THandle handle, void* buffer, int64_t count) {
  if (count < 0) {
    errno = EINVAL;
    return -1;
  }
  ssize_t n;
  do n = read(handle, buffer, static_cast<size_t>(std::min<int64_t>(count, 0x7FFFF000)));
  while (n < 0 && errno == EINTR);
  return n;
}

int64_t FileWriteRaw(THandle handle, const void* buffer, int64_t count) {
  if (count < 0) {
    errno = EINVAL;
    return -1;
  }
  const char* p = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = write(handle, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 0x7FFFF000)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return done > 0 ? done : -1;
    }
    done += n;
  }
  return done;
}

}  // namespace kav
