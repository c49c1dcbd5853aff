#include "KavLib2/KavProcess/KavTempFolders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/Win32/winShellFolders.h"
#include "VoRav/vxGUID.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// A new name is tried this often before the root counts as unusable (the
// loop would otherwise never end when nothing can be made there).
constexpr int kMaxCreateAttempts = 100;

std::string Sys(const std::u16string& path) { return WideToSystemUTF8(path); }

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Makes the root, or accepts an existing one only when it is a real folder
// of this user, narrowed to mode 0700.
bool MakePrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
            ((st.st_mode & 077) == 0 || fchmod(fd, 0700) == 0);
  close(fd);
  return ok;
}

// Puts back an empty lock file, so that a later run tries again.
void RecreateLockFile(const std::string& lock) {
  int fd = open(lock.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) close(fd);
}

// Deletes `folder` while its lock (`lock_fd`, or -1 when there is none to
// hold) is held, then the lock file; a folder that stays keeps its lock
// file, or gets one again. Answers whether the folder was deleted.
bool RemoveFolderAndLock(const std::u16string& folder, const std::string& lock, int lock_fd) {
  const bool exists = Exists(Sys(folder));
  const bool deleted = exists && DeleteDirectoryTree(folder);
  if (lock_fd >= 0) {
    if (deleted || !exists) unlink(lock.c_str());
    close(lock_fd);
  } else if (exists && !deleted) {
    RecreateLockFile(lock);
  }
  return deleted;
}

}  // namespace

TTempFolders::TTempFolders(std::u16string base, std::u16string root_name)
    : base_(std::move(base)), root_name_(std::move(root_name)) {}

TTempFolders::~TTempFolders() { CleanupAll(); }

std::u16string TTempFolders::GetTempRoot() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!root_.empty()) return root_;
  std::u16string base = base_.empty() ? GetTempFolder(false) : ExcludeTrailingBackslash(base_);
  std::u16string root = base;
  if (!root_name_.empty()) {
    // One root per user: the shared temporary folder is writable by all.
    root = PathCombine(base, root_name_ + u"-" + SystemUTF8ToWide(std::to_string(getuid())));
    if (!MakePrivateFolder(Sys(root)))
      KAV_ASSERT_FAIL("VendorTemp Create Error: " + Sys(IncludeTrailingBackslash(root)));
    // Folders of ended processes.
    std::vector<std::u16string> locks;
    TFindData data;
    TFindHandle search = FileAPI()->FindFirst(PathCombine(root, u"*.lock"), data);
    if (search != kInvalidFind) {
      do {
        if (!(data.Attributes & kFileAttributeDirectory)) locks.push_back(data.Name);
      } while (FileAPI()->FindNext(search, data));
      FileAPI()->FindClose(search);
    }
    for (auto& name : locks) {
      std::u16string lock_file;
      if (SafePathCombine(root, name, lock_file)) CleanStaleTempFolder(lock_file);
    }
  }
  struct stat st;
  if (stat(Sys(root).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) KAV_ASSERT_FAIL("Temp Path not Found");
  root_ = IncludeTrailingBackslash(root);
  return root_;
}

std::u16string TTempFolders::CreateLockedTempFolder(bool trailing_separator) {
  const std::u16string root = GetTempRoot();
  std::u16string path;
  for (int attempt = 0;; ++attempt) {
    const std::u16string guid = GUIDToString(CreateGUID());
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on literal + string.
    std::u16string name(1, u'[');
    name.append(guid, 1, guid.size() - 2).push_back(u']');
    if (!SafePathCombine(root, name, path)) KAV_ASSERT_FAIL("Temp Path not Found");
    if (mkdir(Sys(path).c_str(), 0700) == 0) break;
    if (errno != EEXIST || attempt + 1 >= kMaxCreateAttempts) throw EFolderError(Sys(path), errno);
  }
  // The lock file is made and locked under another name, then renamed into
  // place: a stale-folder sweep of another process never sees it unlocked.
  const std::string lock = Sys(path) + ".lock";
  const std::string fresh = lock + ".new";
  int fd = open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 || rename(fresh.c_str(), lock.c_str()) != 0) {
    const int error = errno;
    if (fd >= 0) close(fd);
    unlink(fresh.c_str());
    rmdir(Sys(path).c_str());
    throw EFileOpenError(lock, error);
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    folders_.push_back({path, fd});
  }
  return trailing_separator ? IncludeTrailingBackslash(path) : path;
}

bool TTempFolders::CleanupTempFolder(const std::u16string& folder, int lock_fd) {
  const std::u16string bare = ExcludeTrailingBackslash(folder);
  // The folder goes while its lock is still held, the lock file after it:
  // the folder is never without its marker.
  return RemoveFolderAndLock(bare, Sys(bare) + ".lock", lock_fd);
}

bool TTempFolders::CleanStaleTempFolder(const std::u16string& lock_file) {
  const std::string lock = Sys(lock_file);
  const std::u16string folder = ChangeFileExt(lock_file, u"");
  if (folder.empty() || folder == lock_file) return false;
  struct stat st;
  if (lstat(lock.c_str(), &st) != 0) return false;
  int fd = -1;
  if (S_ISLNK(st.st_mode) || !S_ISREG(st.st_mode)) {
    // Not a lock file any owner would hold: the entry itself goes, never
    // what a link leads to.
    if (S_ISDIR(st.st_mode) || unlink(lock.c_str()) != 0) return false;
  } else {
    fd = open(lock.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {  // its owner still runs
      close(fd);
      return false;
    }
  }
  return RemoveFolderAndLock(folder, lock, fd);
}

void TTempFolders::CleanupAll() {
  std::vector<TFolder> folders;
  {
    std::lock_guard<std::mutex> hold(lock_);
    folders.swap(folders_);
  }
  for (auto& f : folders) CleanupTempFolder(f.Path, f.LockFd);
}

bool TTempFolders::RemoveFolder(const std::u16string& folder) {
  const std::u16string bare = ExcludeTrailingBackslash(folder);
  TFolder found{};
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = std::find_if(folders_.begin(), folders_.end(), [&bare](const TFolder& f) { return f.Path == bare; });
    if (it == folders_.end()) return false;
    found = *it;
    folders_.erase(it);
  }
  return CleanupTempFolder(found.Path, found.LockFd);
}

std::vector<std::u16string> TTempFolders::Folders() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<std::u16string> out;
  for (auto& f : folders_) out.push_back(f.Path);
  return out;
}

TTempFolders& ProcessTempFolders() {
  static TTempFolders folders;
  return folders;
}

}  // namespace kav
