#include "VoRav/Win32/winPathMap.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <list>
#include <mutex>
#include <unordered_map>

#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

// Folders whose listings are kept; the oldest is dropped beyond this.
constexpr size_t kMaxCachedFolders = 64;

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char16_t a = text[i], b = prefix[i];
    if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - 32);
    if (b >= u'a' && b <= u'z') b = static_cast<char16_t>(b - 32);
    if (a != b) return false;
  }
  return true;
}

std::u16string FoldName(std::string_view system_name) { return FileNameMatchKey(SystemUTF8ToWide(system_name)); }

// One folder's names by their folded form.
struct TFolderListing {
  dev_t Device = 0;
  ino_t Inode = 0;
  timespec Modified{};
  std::unordered_map<std::u16string, std::string> Names;
};

class TListingCache {
 public:
  // The folder's entry that equals `name` without regard to case or Unicode
  // normal form; false
  // when there is none or the folder cannot be read.
  bool Find(const std::string& folder, std::string_view name, std::string& found) {
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    const std::u16string key = FoldName(name);
    std::lock_guard<std::mutex> guard(lock_);
    TFolderListing* listing = Lookup(folder, st);
    if (!listing) return false;
    auto it = listing->Names.find(key);
    if (it == listing->Names.end()) return false;
    found = it->second;
    return true;
  }

  void Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    order_.clear();
    folders_.clear();
  }

 private:
  TFolderListing* Lookup(const std::string& folder, const struct stat& st) {
    auto it = folders_.find(folder);
    if (it != folders_.end()) {
      TFolderListing& l = it->second;
      if (l.Device == st.st_dev && l.Inode == st.st_ino && l.Modified.tv_sec == st.st_mtim.tv_sec &&
          l.Modified.tv_nsec == st.st_mtim.tv_nsec)
        return &l;
      order_.remove(folder);
      folders_.erase(it);
    }
    TFolderListing l;
    l.Device = st.st_dev;
    l.Inode = st.st_ino;
    l.Modified = st.st_mtim;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return nullptr;
    while (dirent* e = readdir(dir)) {
      const std::string_view n(e->d_name);
      if (n == "." || n == "..") continue;
      auto [pos, added] = l.Names.try_emplace(FoldName(n), n);
      if (!added && n < pos->second) pos->second = n;  // several spellings: the same one every time
    }
    closedir(dir);
    if (folders_.size() >= kMaxCachedFolders) {
      folders_.erase(order_.front());
      order_.pop_front();
    }
    order_.push_back(folder);
    return &folders_.emplace(folder, std::move(l)).first->second;
  }

  std::mutex lock_;
  std::unordered_map<std::string, TFolderListing> folders_;
  std::list<std::string> order_;
};

TListingCache& Cache() {
  static TListingCache* cache = new TListingCache;  // lives to the end of the process
  return *cache;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string WithoutFinalSlashes(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// Whether `a` is `b` or a folder above it, by their text.
bool IsAtOrAbove(const std::string& a, const std::string& b) {
  if (a == "/") return b[0] == '/';
  return b.compare(0, a.size(), a) == 0 && (b.size() == a.size() || b[a.size()] == '/');
}

// Whether the folder `folder` may be listed for a name below `below`: it is
// `below` or one of its parents by its text (the folder's own spelling), or
// its real path lies inside the real path of `below`, so that a link inside
// never has a folder outside listed.
bool MayList(const std::string& folder, const std::string& below) {
  const std::string f = WithoutFinalSlashes(folder.empty() ? std::string(".") : folder);
  const std::string b = WithoutFinalSlashes(below);
  if (IsAtOrAbove(f, b)) return true;
  char* rf = realpath(f.c_str(), nullptr);
  char* rb = realpath(b.c_str(), nullptr);
  const bool inside = rf && rb && IsAtOrAbove(rb, rf);
  free(rf);
  free(rb);
  return inside;
}

bool MapPath(std::u16string_view name, const std::string* below, std::string& path);

}  // namespace

bool SystemPathText(std::u16string_view name, std::string& path) {
  if (name.empty() || name.find(u'\0') != std::u16string_view::npos) {
    errno = EINVAL;
    return false;
  }
  if (StartsWithNoCase(name, u"\\\\?\\UNC\\") || StartsWithNoCase(name, u"\\\\.\\")) {
    errno = ENOENT;
    return false;
  }
  if (StartsWithNoCase(name, u"\\\\?\\")) name.remove_prefix(4);
  const bool drive = name.size() >= 2 && name[1] == u':' &&
                     ((name[0] >= u'A' && name[0] <= u'Z') || (name[0] >= u'a' && name[0] <= u'z'));
  const bool unc = name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\';
  if (drive || unc || name.empty()) {
    errno = ENOENT;
    return false;
  }
  path = WideToSystemUTF8(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  return true;
}

bool MapToSystemPath(std::u16string_view name, std::string& path) { return MapPath(name, nullptr, path); }

bool MapToSystemPathBelow(std::u16string_view name, const std::string& below, std::string& path) {
  return !below.empty() && MapPath(name, &below, path);
}

namespace {

bool MapPath(std::u16string_view name, const std::string* below, std::string& path) {
  std::string text;
  if (!SystemPathText(name, text)) return false;
  if (Exists(text)) {
    path = std::move(text);
    return true;
  }
  // Walk the components; `done` is the resolved part (with a final slash
  // unless empty), `folder` the folder to list for the next component.
  std::string done = text[0] == '/' ? "/" : "";
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == '/') ++pos;
    if (pos >= text.size()) break;
    size_t end = text.find('/', pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view part(text.data() + pos, end - pos);
    std::string candidate = done;
    candidate.append(part);
    if (part != "." && part != ".." && !Exists(candidate)) {
      std::string found;
      if ((below && !MayList(done, *below)) || !Cache().Find(done.empty() ? std::string(".") : done, part, found)) {
        // Nothing matches: this component and the rest stay as written.
        done.append(text, pos, std::string::npos);
        path = std::move(done);
        errno = ENOENT;
        return true;
      }
      candidate = done + found;
    }
    done = std::move(candidate);
    if (end < text.size()) done += '/';
    pos = end;
  }
  path = done.empty() ? text : std::move(done);
  return true;
}

}  // namespace

void ClearPathMapCache() { Cache().Clear(); }

}  // namespace kav
