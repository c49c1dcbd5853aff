#include "VoRav/Win32/winFileFind.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <cerrno>
#include <vector>

#include "VoRav/Win32/winPathMap.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"

namespace kav {

class TFindSearch {
 public:
  std::string Folder;              // Linux folder with a final "/" (or empty for the current one)
  std::vector<std::string> Names;  // matching names, sorted
  size_t Next = 0;
};

namespace {

std::u16string Fold(std::u16string_view s) { return CaseFoldRange(s, 0, static_cast<ptrdiff_t>(s.size())); }

bool GlobMatch(std::u16string_view name, std::u16string_view mask) {
  size_t n = 0, m = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == u'?' || mask[m] == name[n])) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == u'*') {
      star = m++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == u'*') ++m;
  return m == mask.size();
}

// A time beyond what 64-bit nanoseconds hold (after 2262; a file's time can
// be set to any value) is held at the limit.
int64_t Nanoseconds(const statx_timestamp& t) {
  int64_t ns;
  if (__builtin_mul_overflow(static_cast<int64_t>(t.tv_sec), int64_t{1000000000}, &ns) ||
      __builtin_add_overflow(ns, static_cast<int64_t>(t.tv_nsec), &ns))
    return t.tv_sec < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
  return ns;
}

// Fills `data` for the entry; false when it vanished meanwhile.
bool FillFindData(const std::string& folder, const std::string& name, TFindData& data) {
  const std::string path = folder + name;
  struct stat st;
  struct statx sx;
  if (lstat(path.c_str(), &st) != 0 ||
      statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return false;
  data.Attributes = AttributesFromStat(path, st);
  data.LastWriteTime = Nanoseconds(sx.stx_mtime);
  data.LastAccessTime = Nanoseconds(sx.stx_atime);
  data.CreationTime = (sx.stx_mask & STATX_BTIME) ? Nanoseconds(sx.stx_btime) : data.LastWriteTime;
  data.Size = 0;
  if (!(data.Attributes & kFileAttributeDirectory)) {
    struct stat target;
    data.Size = S_ISLNK(st.st_mode) ? (stat(path.c_str(), &target) == 0 ? target.st_size : 0) : st.st_size;
  }
  data.Name = SystemUTF8ToWide(name);
  data.AlternateName.clear();
  return true;
}

bool FillNext(TFindSearch* search, TFindData& data) {
  while (search->Next < search->Names.size()) {
    if (FillFindData(search->Folder, search->Names[search->Next++], data)) return true;
  }
  errno = 0;
  return false;
}

}  // namespace

bool MatchesFileMask(std::u16string_view name, std::u16string_view mask) {
  if (mask == u"*.*" || mask == u"*") return true;
  return GlobMatch(Fold(name), Fold(mask));
}

uint32_t AttributesFromStat(const std::string& path, const struct stat& st) {
  struct stat target;
  const struct stat* s = &st;
  uint32_t link = 0;
  if (S_ISLNK(st.st_mode)) {
    if (stat(path.c_str(), &target) != 0) return kFileAttributeReparsePoint;  // leads nowhere
    s = &target;
    link = kFileAttributeReparsePoint;
  }
  uint32_t a = 0;
  if (S_ISDIR(s->st_mode)) a |= kFileAttributeDirectory;
  if (!(s->st_mode & S_IWUSR)) a |= kFileAttributeReadOnly;
  return (a ? a : kFileAttributeNormal) | link;
}

TFindHandle FindFirstEntry(const std::u16string& pattern, TFindData& data) {
  size_t cut = pattern.size();
  while (cut > 0 && !IsPathDelimiter(pattern[cut - 1])) --cut;
  const std::u16string mask = pattern.substr(cut);
  if (mask.empty()) {
    errno = ENOENT;
    return kInvalidFind;
  }
  std::string folder;
  if (cut > 0 && !MapToSystemPath(std::u16string_view(pattern).substr(0, cut), folder)) {
    errno = ENOTDIR;
    return kInvalidFind;
  }
  struct stat st;
  if (stat(folder.empty() ? "." : folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return kInvalidFind;
  }
  if (!folder.empty() && folder.back() != '/') folder += '/';

  auto search = std::make_unique<TFindSearch>();
  search->Folder = folder;
  if (mask.find_first_of(u"*?") == std::u16string::npos) {
    // One name: the exact entry, else its case-insensitive match.
    std::string path;
    if (!MapToSystemPath(pattern, path) || lstat(path.c_str(), &st) != 0) {
      errno = ENOENT;
      return kInvalidFind;
    }
    search->Names.push_back(path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1));
  } else {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return kInvalidFind;
    std::vector<std::pair<std::u16string, std::string>> found;
    while (dirent* e = readdir(dir)) {
      const std::u16string wide = SystemUTF8ToWide(e->d_name);
      if (MatchesFileMask(wide, mask)) found.emplace_back(Fold(wide), e->d_name);
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    for (auto& f : found) search->Names.push_back(std::move(f.second));
  }
  if (!FillNext(search.get(), data)) {
    errno = ENOENT;
    return kInvalidFind;
  }
  return search.release();
}

bool FindNextEntry(TFindHandle search, TFindData& data) {
  if (!search) {
    errno = EBADF;
    return false;
  }
  return FillNext(search, data);
}

void CloseFind(TFindHandle search) { delete search; }

}  // namespace kav
