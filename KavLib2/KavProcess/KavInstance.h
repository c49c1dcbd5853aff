// The single-instance check: a lock file whose name is built from the
// program's path, held (flock) by the instance that runs first.
//
// The file lies in $XDG_RUNTIME_DIR, or in the per-user temporary root
// (KavTempFolders.h) when that is not set. Its name is "Instance_ID", the
// decimal ELF hashes of the program's full path, of its folder and of its
// file name, then the file name. A second instance of the same program file
// finds the lock held; instances from different paths use different files.
// The kernel drops the lock when its holder ends, however it ends.
#pragma once

#include <string>

namespace kav {

// The lock's name for a program path.
std::string InstanceLockName(const std::u16string& program_path);

class TInstanceLock {
 public:
  // Opens (creating when missing) the lock file of `program_path` in
  // `folder` and takes the lock when nobody holds it. A folder or file that
  // cannot be opened leaves the lock unusable: CheckOtherInstance is then false.
  TInstanceLock(const std::u16string& program_path, const std::string& folder);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // True when another instance holds the lock. When nobody does, this
  // instance takes it and answers false.
  bool CheckOtherInstance();
  bool Owned() const noexcept { return owned_; }
  const std::string& Path() const noexcept { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool owned_ = false;
};

// The folder of the program's own instance lock: $XDG_RUNTIME_DIR when it is
// an absolute path to a folder, else the per-user temporary root.
std::string InstanceLockFolder();
// Start-up: makes the program's own lock, taking it when nobody holds it.
void CreateInstanceMutex();
// The program's own lock (made now when start-up did not).
bool CheckOtherInstance();

}  // namespace kav
