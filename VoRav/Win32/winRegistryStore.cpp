#include "VoRav/Win32/winRegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/Win32/winRegistry.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxUTF8.h"

namespace kav::regstore {

namespace {

constexpr std::string_view kHeader = "KAVREG 1";

bool Plain(unsigned char c) {
  return c > 0x20 && c < 0x7F && c != '%' && c != '[' && c != ']' && c != '=' && c != ':';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Names are written unit by unit: printable ASCII as it is, other units
// below 256 as "%XX" and the rest as "%uXXXX", so any wide text (lone
// surrogates included) comes back exactly and reading needs no UTF-8 check.
std::string Escape(std::u16string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80 && Plain(static_cast<unsigned char>(c))) {
      out += static_cast<char>(c);
    } else if (c < 0x100) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += "%u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 15];
    }
  }
  return out;
}


bool Unescape(std::string_view text, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c != '%') {
      if (c >= 0x80) return false;  // never written so
      out += static_cast<char16_t>(c);
      continue;
    }
    const size_t digits = i + 1 < text.size() && text[i + 1] == 'u' ? 4 : 2;
    const size_t first = i + (digits == 4 ? 2 : 1);
    if (first + digits > text.size()) return false;
    uint32_t unit = 0;
    for (size_t k = 0; k < digits; ++k) {
      const int d = HexDigit(text[first + k]);
      if (d < 0) return false;
      unit = unit * 16 + static_cast<uint32_t>(d);
    }
    out += static_cast<char16_t>(unit);
    i = first + digits - 1;
  }
  return true;
}

bool ParseHex(std::string_view text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0 || text.size() / 2 > kMaxRegistryValueBytes) return false;
  out.resize(text.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

bool ParseType(std::string_view text, uint32_t& type) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  type = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

std::u16string Fold(std::u16string_view text) { return CaseFoldRange(text, 0, static_cast<ptrdiff_t>(text.size())); }

bool TStore::Parse(std::string_view text) {
  Keys.clear();
  size_t eol = text.find('\n');
  std::string_view first = text.substr(0, eol);
  if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
  if (first != kHeader) return false;
  TKey* current = nullptr;
  while (eol != std::string_view::npos) {
    text.remove_prefix(eol + 1);
    eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (line.front() == '[') {
      current = nullptr;
      std::u16string path;
      if (line.back() != ']' || !Unescape(line.substr(1, line.size() - 2), path) || path.empty()) continue;
      TKey& key = Keys[Fold(path)];
      if (key.Path.empty()) key.Path = path;
      current = &key;
      continue;
    }
    // name=type:hex
    size_t eq = line.find('='), colon = line.find(':');
    if (!current || eq == std::string_view::npos || colon == std::string_view::npos || colon < eq) continue;
    TValue v;
    if (!Unescape(line.substr(0, eq), v.Name) || v.Name.size() > kMaxRegistryNameLength ||
        !ParseType(line.substr(eq + 1, colon - eq - 1), v.Type) || !ParseHex(line.substr(colon + 1), v.Data))
      continue;
    std::u16string folded = Fold(v.Name);
    bool replaced = false;
    for (auto& old : current->Values)
      if (Fold(old.Name) == folded) { old = std::move(v); replaced = true; break; }
    if (!replaced) current->Values.push_back(std::move(v));
  }
  return true;
}

std::string TStore::Format(const std::u16string& folded_prefix) const {
  static const char kHex[] = "0123456789abcdef";
  std::string out(kHeader);
  out += '\n';
  for (auto& [folded, key] : Keys) {
    if (!folded_prefix.empty() && folded != folded_prefix &&
        !(folded.size() > folded_prefix.size() && folded.compare(0, folded_prefix.size(), folded_prefix) == 0 &&
          folded[folded_prefix.size()] == u'\\'))
      continue;
    out += '[' + Escape(key.Path) + "]\n";
    for (auto& v : key.Values) {
      out += Escape(v.Name) + '=' + std::to_string(v.Type) + ':';
      for (uint8_t b : v.Data) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
      out += '\n';
    }
  }
  return out;
}

bool TStore::HasSubkeys(const std::u16string& folded) const {
  auto it = Keys.upper_bound(folded);
  return it != Keys.end() && it->first.size() > folded.size() && it->first.compare(0, folded.size(), folded) == 0 &&
         it->first[folded.size()] == u'\\';
}

std::vector<std::u16string> TStore::Subkeys(const std::u16string& folded) const {
  std::vector<std::u16string> names;
  const std::u16string prefix = folded + u'\\';
  for (auto it = Keys.lower_bound(prefix); it != Keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    std::u16string_view rest = std::u16string_view(it->first).substr(prefix.size());
    if (rest.find(u'\\') != std::u16string_view::npos) continue;
    // The name as first written: the last component of the stored path.
    const std::u16string& path = it->second.Path;
    size_t cut = path.rfind(u'\\');
    names.push_back(cut == std::u16string::npos ? path : path.substr(cut + 1));
  }
  return names;
}

namespace {

std::mutex g_store_lock;  // threads of this process take turns

enum class TRead { kMissing, kRead, kUnreadable };

// Reads a whole file of at most kMaxRegistryStoreBytes.
TRead ReadStoreFile(const std::string& path, std::string& text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? TRead::kMissing : TRead::kUnreadable;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxRegistryStoreBytes;
  if (ok) {
    text.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < text.size()) {
      ssize_t n = read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(got);
  }
  close(fd);
  return ok ? TRead::kRead : TRead::kUnreadable;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

bool WriteNewFile(const std::string& path, std::string_view text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text);
  ok = close(fd) == 0 && ok;
  if (!ok) unlink(path.c_str());
  return ok;
}

int32_t WithStore(bool write, const std::function<int32_t(TStore&)>& change) {
  const std::string file = WideToSystemUTF8(RegistryStorePath());
  if (file.empty()) return kErrorAccessDenied;
  const std::string folder = file.substr(0, file.rfind('/'));
  std::lock_guard<std::mutex> hold(g_store_lock);

  TStore store;
  // A reader of a store that was never written sees an empty one.
  if (!write && !DirectoryExists(SystemUTF8ToWide(folder))) return change(store);
  if (!ForceDirectories(SystemUTF8ToWide(folder))) return kErrorAccessDenied;
  const std::string lock_name = file + ".lock";
  // Closing the lock file releases the lock, however this function is left.
  struct TLockFile {
    int fd;
    ~TLockFile() {
      if (fd >= 0) close(fd);
    }
  } lock{open(lock_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)};
  if (lock.fd < 0) return kErrorAccessDenied;
  int rc;
  while ((rc = flock(lock.fd, write ? LOCK_EX : LOCK_SH)) != 0 && errno == EINTR) {}
  if (rc != 0) return kErrorAccessDenied;
  std::string text;
  const TRead read = ReadStoreFile(file, text);
  const bool readable = read == TRead::kMissing || (read == TRead::kRead && store.Parse(text));
  // A store that is there but cannot be read is never written over: it
  // reads as empty and refuses changes.
  if (write && !readable) return kErrorAccessDenied;
  int32_t result = change(store);
  if (write && result == kErrorSuccess) {
    const std::string fresh = file + ".new";
    unlink(fresh.c_str());
    if (!WriteNewFile(fresh, store.Format()) || rename(fresh.c_str(), file.c_str()) != 0) {
      unlink(fresh.c_str());
      result = kErrorAccessDenied;
    }
  }
  return result;
}

}  // namespace kav::regstore
