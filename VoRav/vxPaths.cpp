#include "VoRav/vxPaths.h"

#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

bool IsAsciiLetter(char16_t c) noexcept { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool EndsWithDelimiter(std::u16string_view path) noexcept {
  return !path.empty() && IsPathDelimiter(path.back());
}

// Index of the last separator in path[0..end), npos when none.
size_t LastDelimiterBefore(std::u16string_view path, size_t end) noexcept {
  for (size_t i = end; i > 0; --i)
    if (IsPathDelimiter(path[i - 1])) return i - 1;
  return std::u16string_view::npos;
}

// Index of the extension's dot, npos when the last component has none.
size_t ExtensionStart(std::u16string_view path) noexcept {
  for (size_t i = path.size(); i > 0; --i) {
    const char16_t c = path[i - 1];
    if (c == u'.') return i - 1;
    if (IsPathDelimiter(c)) break;
  }
  return std::u16string_view::npos;
}

// Length of the root for ExtractRelativePath: the drive, or 1 for a path
// beginning with "/" (a Linux absolute path), else 0.
size_t RootLength(std::u16string_view path) noexcept {
  const size_t drive = ExtractFileDriveLength(path);
  if (drive > 0) return drive;
  return !path.empty() && path[0] == u'/' ? 1 : 0;
}


}  // namespace

char16_t PathDelimiterOf(std::u16string_view path) noexcept {
  return path.find(u'/') != std::u16string_view::npos && path.find(u'\\') == std::u16string_view::npos
             ? u'/'
             : u'\\';
}

std::u16string IncludeTrailingBackslash(std::u16string_view path) {
  std::u16string r(path);
  if (!EndsWithDelimiter(path)) r += PathDelimiterOf(path);
  return r;
}

std::u16string ExcludeTrailingBackslash(std::u16string_view path) {
  return std::u16string(EndsWithDelimiter(path) ? path.substr(0, path.size() - 1) : path);
}

std::u16string SetTrailingBackslash(std::u16string_view path, bool trailing) {
  return trailing ? IncludeTrailingBackslash(path) : ExcludeTrailingBackslash(path);
}

size_t ExtractFileDriveLength(std::u16string_view path) noexcept {
  if (path.size() >= 2 && path[1] == u':' && IsAsciiLetter(path[0])) return 2;
  if (path.size() >= 5 && path[0] == u'\\' && path[1] == u'\\') {
    size_t i = 2;
    while (i < path.size() && !IsPathDelimiter(path[i])) ++i;
    if (i == 2 || i + 1 >= path.size() || IsPathDelimiter(path[i + 1])) return 0;  // no server or no share
    ++i;
    while (i < path.size() && !IsPathDelimiter(path[i])) ++i;
    return i;
  }
  return 0;
}

std::u16string ExtractFileDrive(std::u16string_view path) {
  return std::u16string(path.substr(0, ExtractFileDriveLength(path)));
}

std::u16string ExtractFileDir(std::u16string_view path, bool keep_backslash) {
  if (path.empty()) return {};
  const size_t i = LastDelimiterBefore(path, path.size() - 1);
  if (i == std::u16string_view::npos) return {};
  return std::u16string(path.substr(0, keep_backslash ? i + 1 : i));
}

std::u16string ExtractLastPathPart(std::u16string_view path) {
  if (EndsWithDelimiter(path)) path.remove_suffix(1);
  const size_t i = LastDelimiterBefore(path, path.size());
  return std::u16string(i == std::u16string_view::npos ? path : path.substr(i + 1));
}

std::u16string ExtractFileExt(std::u16string_view path) {
  const size_t dot = ExtensionStart(path);
  return dot == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(dot));
}

std::u16string ChangeFileExt(std::u16string_view name, std::u16string_view extension) {
  const size_t dot = ExtensionStart(name);
  std::u16string r(dot == std::u16string_view::npos ? name : name.substr(0, dot));
  if (!extension.empty() && extension[0] != u'.') r += u'.';
  r += extension;
  return r;
}

std::u16string PathCombine(std::u16string_view folder, std::u16string_view name) {
  std::u16string r(folder);
  if (folder.empty() || EndsWithDelimiter(folder)) {
    if (!folder.empty() && !name.empty() && IsPathDelimiter(name[0])) r.pop_back();
  } else if (!name.empty() && !IsPathDelimiter(name[0])) {
    r += PathDelimiterOf(folder);
  }
  r += name;
  return r;
}

bool IsParentComponent(std::u16string_view part) noexcept {
  size_t dots = 0;
  for (char16_t c : part) {
    if (c == u'.') ++dots;
    else if (c != u' ') return false;
  }
  return dots >= 2 && part[0] == u'.' && part[1] == u'.';
}

bool IsSafeRelativeName(std::u16string_view name) noexcept {
  if (name.empty()) return true;
  if (IsPathDelimiter(name[0])) return false;                           // absolute, UNC, "\\?\"
  if (name.size() >= 2 && name[1] == u':' && IsAsciiLetter(name[0])) return false;  // drive
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] == u'\0') return false;
    if (i == name.size() || IsPathDelimiter(name[i])) {
      if (IsParentComponent(name.substr(start, i - start))) return false;
      start = i + 1;
    }
  }
  return true;
}

bool SafePathCombine(std::u16string_view folder, std::u16string_view name, std::u16string& result) {
  if (!IsSafeRelativeName(name)) return false;
  result = PathCombine(folder, name);
  return true;
}

std::u16string ExtractRelativePath(std::u16string_view base, std::u16string_view target) {
  std::u16string b = WideUpperCase(base);
  std::u16string t = WideUpperCase(target);
  if (!EndsWithDelimiter(b)) b += u'\\';
  const size_t root = RootLength(b);
  if (root == 0 || RootLength(t) != root) return std::u16string(target);
  auto same = [](char16_t x, char16_t y) { return x == y || (IsPathDelimiter(x) && IsPathDelimiter(y)); };
  for (size_t i = 0; i < root; ++i)
    if (!same(b[i], t[i])) return std::u16string(target);

  size_t i = 0;
  size_t last = std::u16string::npos;
  while (i < b.size() && i < t.size() && same(b[i], t[i])) {
    if (IsPathDelimiter(b[i])) last = i;
    ++i;
  }
  if (i == t.size() && i < b.size() && IsPathDelimiter(b[i])) last = i;

  const size_t from = last == std::u16string::npos ? 0 : last + 1;
  const char16_t sep = PathDelimiterOf(base);
  std::u16string r;
  for (size_t k = from; k < b.size(); ++k)
    if (IsPathDelimiter(b[k])) {
      r += u"..";
      r += sep;
    }
  if (from < target.size()) r += target.substr(from);
  return r;
}

}  // namespace kav
