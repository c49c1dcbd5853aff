#include "platform/window/WinBoxText.h"

#include <algorithm>
#include <vector>

namespace kav::win {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// The length of the UTF-8 character starting at `at` (a stray continuation
// byte counts as one).
size_t CharLength(std::string_view s, size_t at) {
  size_t n = 1;
  while (at + n < s.size() && (static_cast<unsigned char>(s[at + n]) & 0xC0) == 0x80) ++n;
  return n;
}

// One paragraph (no line break inside) appended to `out` in lines.
void WrapParagraph(std::string_view text, int32_t max_width, const TTextWidth& width_of, std::string& out) {
  std::string line;
  bool first = true;
  auto emit = [&] {
    if (!first) out += '\n';
    out += line;
    line.clear();
    first = false;
  };
  size_t at = 0;
  // The paragraph's leading spaces stay with its first word.
  while (at < text.size() && IsSpace(text[at])) ++at;
  std::string_view gap = text.substr(0, at);
  while (at < text.size()) {
    size_t end = at;
    while (end < text.size() && !IsSpace(text[end])) ++end;
    std::string_view word = text.substr(at, end - at);
    size_t next = end;
    while (next < text.size() && IsSpace(text[next])) ++next;
    const std::string_view after = text.substr(end, next - end);
    at = next;
    std::string joined = line;
    joined.append(gap).append(word);
    if (width_of(joined) <= max_width) {
      line = std::move(joined);
      gap = after;
      continue;
    }
    if (!line.empty()) emit();
    // The word starts a line of its own; one wider than a line is cut
    // between characters, each piece as long as fits.
    while (width_of(word) > max_width) {
      size_t fit = CharLength(word, 0);
      while (fit < word.size()) {
        const size_t more = fit + CharLength(word, fit);
        if (width_of(word.substr(0, more)) > max_width) break;
        fit = more;
      }
      if (fit >= word.size()) break;  // one character wider than a line stands alone
      line.assign(word.substr(0, fit));
      emit();
      word.remove_prefix(fit);
    }
    line.assign(word);
    gap = after;
  }
  emit();
}

}  // namespace

std::string WrapBoxText(std::string_view utf8, int32_t max_width, const TTextWidth& width_of) {
  std::string out;
  size_t at = 0;
  for (;;) {
    size_t end = at;
    while (end < utf8.size() && utf8[end] != '\n' && utf8[end] != '\r') ++end;
    WrapParagraph(utf8.substr(at, end - at), max_width, width_of, out);
    if (end >= utf8.size()) break;
    out += '\n';
    at = end + 1;
    if (utf8[end] == '\r' && at < utf8.size() && utf8[at] == '\n') ++at;
  }
  return out;
}

int32_t BoxTextWidth(int32_t screen_width) { return std::max<int32_t>(160, screen_width / 8 * 5); }

}  // namespace kav::win
