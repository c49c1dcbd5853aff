#include "VoRav/Graphics/vxColor.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kav {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// A decimal number (optional sign) or "#" followed by up to 8 hex digits.
// Anything else, including overflow of 32 bits, is not a number.
std::optional<int64_t> ParseNumber(std::string_view s, bool allow_hex) {
  s = TrimBlanks(s);
  if (s.empty()) return std::nullopt;
  if (s.front() == '#') {
    if (!allow_hex) return std::nullopt;
    s.remove_prefix(1);
    if (s.empty() || s.size() > 8) return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
      int digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else return std::nullopt;
      v = (v << 4) | uint32_t(digit);
    }
    return int64_t(v);
  }
  bool negative = false;
  if (s.front() == '-' || s.front() == '+') {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > (int64_t(1) << 32)) return std::nullopt;
  }
  v = negative ? -v : v;
  if (v < INT32_MIN || v > UINT32_MAX) return std::nullopt;
  return v;
}

uint8_t AlphaFromNumber(std::optional<int64_t> v) {
  if (!v) return 255;
  if (*v > 255) return 255;
  if (*v < 0) return 0;
  return uint8_t(*v);
}

}  // namespace

TColor32 ParseColorText(std::string_view text, TColor32 def) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (parts.size() <= 2) {
    std::string_view first = TrimBlanks(parts[0]);
    std::optional<int64_t> value = ParseNumber(first, true);
    if (!value) return def;
    const uint32_t v = uint32_t(*value);
    // "#RRGGBB" is already 0x..RRGGBB; a decimal COLORREF has red in the low byte.
    const TColor32 rgb = first.front() == '#' ? (v & 0x00FFFFFF) : ColorClearAlpha(ColorFromColorRef(v, 0));
    const uint8_t alpha = parts.size() == 2 ? AlphaFromNumber(ParseNumber(parts[1], true)) : 255;
    return ColorSetAlpha(rgb, alpha);
  }
  if (parts.size() <= 4) {
    uint8_t c[4] = {0, 0, 0, 255};
    for (size_t i = 0; i < parts.size(); ++i) {
      if (std::optional<int64_t> v = ParseNumber(parts[i], false)) c[i] = uint8_t(*v);
    }
    return ColorRGBA(c[0], c[1], c[2], c[3]);
  }
  return def;
}

TColor32 ColorFromTextDef(std::string_view text) { return ParseColorText(text, kTransparentColor); }

TColor32 ColorFromText(std::u16string_view text) {
  // Only ASCII can form a colour; other characters become a byte that no
  // number accepts, which gives the same answer as a full UTF-8 encoding.
  std::string narrow;
  narrow.reserve(text.size());
  for (char16_t c : text) narrow.push_back(c < 0x80 ? char(c) : '\xFF');
  return ColorFromTextDef(narrow);
}

TColor32 ColorAverage(TColor32 a, TColor32 b) {
  TColor32 out = 0;
  for (int shift = 0; shift < 32; shift += 8)
    out |= ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF)) >> 1) << shift;
  return out;
}

TColor32 ColorLerp(TColor32 a, TColor32 b, int32_t w) {
  TColor32 out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int32_t ca = int32_t((a >> shift) & 0xFF);
    const int32_t cb = int32_t((b >> shift) & 0xFF);
    out |= uint32_t(uint8_t(ca + (cb - ca) * w / 256)) << shift;
  }
  return out;
}

}  // namespace kav
