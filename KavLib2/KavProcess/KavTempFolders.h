// Temporary folders: one folder per use under a per-user root, into which
// libraries and media are extracted from the show.
//
// The root is the system temporary folder (GetTempFolder) joined with the
// root name and the user id ("ORVANE_TEMP_ROOT-1000"), made with mode 0700;
// an existing root is used only when it is a real folder of this user (its
// mode is then narrowed to 0700). Each folder is "[" + a new GUID + "]" with
// its lock file "[...].lock" beside it, which the folder's owner holds
// locked (flock) for as long as the folder lives. When the root is first
// computed, every folder whose lock nobody holds is a leftover of an ended
// process and is removed; the folders of running instances stay.
//
// Nothing here follows a link: lock files open with O_NOFOLLOW, and folders
// are deleted by the file gate's DeleteTree, which removes links themselves.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace kav {

class TTempFolders {
 public:
  // Folders under `base` (the system temporary folder when empty) in a root
  // named `root_name`; an empty root name puts them in `base` itself.
  explicit TTempFolders(std::u16string base = {}, std::u16string root_name = u"ORVANE_TEMP_ROOT");
  // Removes the folders this object made (CleanupAll).
  ~TTempFolders();
  TTempFolders(const TTempFolders&) = delete;
  TTempFolders& operator=(const TTempFolders&) = delete;

  // The root with a final "/". On first use makes the root (an assertion,
  // "VendorTemp Create Error: " and the root, when it cannot be made or is
  // not this user's folder) and removes stale folders; an assertion "Temp
  // Path not Found" when it does not exist.
  std::u16string GetTempRoot();
  // A new, empty folder of this process, locked; with a final "/" when asked.
  // Raises EFolderError when no folder can be made.
  std::u16string CreateLockedTempFolder(bool trailing_separator);
  // Removes one folder of this process (`lock_fd` its held lock file, or -1)
  // with everything in it; the lock file goes with it. A folder that cannot
  // be removed keeps (or gets again) its lock file. Answers whether the
  // folder was removed.
  static bool CleanupTempFolder(const std::u16string& folder, int lock_fd);
  // Removes the folder of a lock file (the lock file's path without its
  // extension) unless a running process holds the lock. Answers whether the
  // folder was removed.
  static bool CleanStaleTempFolder(const std::u16string& lock_file);
  // Removes one folder this object made (with or without its final
  // separator) with everything in it; false when it is none of them.
  bool RemoveFolder(const std::u16string& folder);
  // Removes every folder this object made.
  void CleanupAll();
  // The folders made and not yet removed.
  std::vector<std::u16string> Folders() const;

 private:
  struct TFolder {
    std::u16string Path;  // without a final separator
    int LockFd;
  };
  mutable std::mutex lock_;
  std::u16string base_;
  std::u16string root_name_;
  std::u16string root_;  // computed on first use
  std::vector<TFolder> folders_;
};

// The process's temporary folders, under the system temporary folder.
TTempFolders& ProcessTempFolders();

}  // namespace kav
