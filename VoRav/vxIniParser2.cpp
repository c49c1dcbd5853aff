// The line parser of INI text.
#include "VoRav/vxIniParser2.h"

#include <algorithm>
#include <cstring>

namespace kav {

namespace {

inline bool IsBlank(uint8_t c) noexcept { return c <= 32 && c != '\r' && c != '\n'; }
inline bool IsWordByte(uint8_t c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// First position in [from, end) holding CR or LF, else end.
size_t FindLineEnd(std::string_view t, size_t from) noexcept {
  const size_t end = t.size();
  for (size_t i = from; i < end; ++i)
    if (t[i] == '\r' || t[i] == '\n') return i;
  return end;
}

size_t SkipBlanks(std::string_view t, size_t from, size_t end) noexcept {
  while (from < end && IsBlank(uint8_t(t[from]))) ++from;
  return from;
}

// The end of [start, end) with blanks cut at the right.
size_t TrimEnd(std::string_view t, size_t start, size_t end) noexcept {
  while (end > start && IsBlank(uint8_t(t[end - 1]))) --end;
  return end;
}

// Whether [i, end) begins with `word` (ASCII letters in any case) standing
// alone: not followed by a letter, digit or "_", and after blanks not by "=".
// `after` receives the position behind the word and its blanks.
bool StartsWithKeyword(std::string_view t, size_t i, size_t end, std::string_view word,
                       size_t& after) noexcept {
  if (end - i < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if ((uint8_t(t[i + k]) | 0x20) != uint8_t(word[k])) return false;
  size_t j = i + word.size();
  if (j < end && IsWordByte(uint8_t(t[j]))) return false;
  j = SkipBlanks(t, j, end);
  if (j < end && t[j] == '=') return false;
  after = j;
  return true;
}

void SetValue(TIniLine& line, size_t start, size_t end) noexcept {
  line.ValueStart = start;
  line.ValueLength = end - start;
}

void SetName(TIniLine& line, size_t start, size_t end) noexcept {
  line.NameStart = start;
  line.NameLength = end - start;
}

}  // namespace

void IniParseLine(TIniParser& parser, TIniLine& line) noexcept {
  const std::string_view t = parser.Text;
  const size_t n = t.size();
  line = TIniLine{};
  size_t i = std::min(parser.Position, n);
  const size_t begin = i;
  i = SkipBlanks(t, i, n);
  line.Indent = int32_t(std::min<size_t>(i - begin, INT32_MAX));
  const size_t e = FindLineEnd(t, i);
  const size_t trimmed = TrimEnd(t, i, e);
  line.LineStart = i;
  line.LineLength = trimmed - i;
  line.ValueStart = line.NameStart = i;

  if (i < e) {
    size_t after = 0;
    const char c = t[i];
    if (c == ';' || c == '=') {
      SetValue(line, i, trimmed);
    } else if (c == '[') {
      const size_t j = SkipBlanks(t, i + 1, e);
      const void* close = std::memchr(t.data() + j, ']', e - j);
      if (close) {
        line.Kind = TIniLineKind::Section;
        const size_t k = size_t(static_cast<const char*>(close) - t.data());
        SetName(line, j, TrimEnd(t, j, k));
      } else {
        SetValue(line, i, trimmed);
      }
    } else if (StartsWithKeyword(t, i, e, "object", after)) {
      line.Kind = TIniLineKind::Object;
      after = std::min(after, trimmed);  // "object" followed by blanks only
      size_t colon = trimmed;
      for (size_t k = trimmed; k > after; --k)
        if (t[k - 1] == ':') {
          colon = k - 1;
          break;
        }
      if (colon < trimmed) {
        SetName(line, after, TrimEnd(t, after, colon));
        SetValue(line, SkipBlanks(t, colon + 1, trimmed), trimmed);
      } else {
        SetName(line, after, trimmed);
        SetValue(line, trimmed, trimmed);
      }
    } else if (StartsWithKeyword(t, i, e, "end", after)) {
      line.Kind = TIniLineKind::End;
    } else {
      const void* eq = i + 1 < e ? std::memchr(t.data() + i + 1, '=', e - i - 1) : nullptr;
      if (eq) {
        line.Kind = TIniLineKind::Key;
        const size_t q = size_t(static_cast<const char*>(eq) - t.data());
        SetName(line, i, TrimEnd(t, i, q));
        SetValue(line, SkipBlanks(t, q + 1, trimmed), trimmed);
      } else {
        SetValue(line, i, trimmed);
      }
    }
  }

  // Step over the line break.
  if (e >= n) {
    line.Break = TIniLineBreak::EndOfText;
    parser.Position = n;
  } else if (t[e] == '\r') {
    const bool pair = e + 1 < n && t[e + 1] == '\n';
    line.Break = pair ? TIniLineBreak::CRLF : TIniLineBreak::CR;
    parser.Position = e + (pair ? 2 : 1);
  } else {
    const bool pair = e + 1 < n && t[e + 1] == '\r';
    line.Break = pair ? TIniLineBreak::LFCR : TIniLineBreak::LF;
    parser.Position = e + (pair ? 2 : 1);
  }
}

bool IniUnescape(std::string_view bytes, std::string& out) {
  out.clear();
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i >= bytes.size()) return false;
    if (bytes[i] == '\\') {
      out.push_back('\\');
    } else if (bytes[i] == 'n') {
      out.append("\r\n");
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace kav
