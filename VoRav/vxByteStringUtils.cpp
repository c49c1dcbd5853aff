// Number parsing and formatting on byte strings, and the builder.
#include "VoRav/vxByteStringUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

inline bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Skips the leading 0x08 and 0x20 bytes and one sign. Returns true for "-".
bool SkipPrefix(std::string_view s, size_t& i) noexcept {
  while (i < s.size() && (s[i] == 0x08 || s[i] == 0x20)) ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) return s[i++] == '-';
  return false;
}

// Parses a signed integer whose magnitude is at most `max_positive` (and
// max_positive + 1 when negative). False when malformed or out of range.
bool ParseInteger(std::string_view s, uint64_t max_positive, bool& negative, uint64_t& magnitude) noexcept {
  size_t i = 0;
  negative = SkipPrefix(s, i);
  if (i >= s.size()) return false;
  const uint64_t limit = negative ? max_positive + 1 : max_positive;
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return false;
    const unsigned d = unsigned(s[i] - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  magnitude = v;
  return true;
}

long double PowerOfTen(int64_t exponent) noexcept {
  uint64_t n = exponent < 0 ? uint64_t(0) - uint64_t(exponent) : uint64_t(exponent);
  long double result = 1.0L, base = 10.0L;
  while (n) {
    if (n & 1) result *= base;
    base *= base;
    n >>= 1;
  }
  return exponent < 0 ? 1.0L / result : result;
}

void Grow(TByteStringBuilder& b, size_t needed) {
  if (needed <= b.Buffer.size()) return;
  size_t capacity = b.Buffer.empty() ? std::max<size_t>(16, needed) : b.Buffer.size();
  while (capacity < needed) {
    KAV_ASSERT(capacity <= std::numeric_limits<size_t>::max() / 2);
    capacity *= 2;
  }
  b.Buffer.resize(capacity);
}

}  // namespace

bool ByteStringToInt(std::string_view s, int32_t& value) noexcept {
  bool negative;
  uint64_t magnitude;
  if (!ParseInteger(s, 0x7FFFFFFF, negative, magnitude)) return false;
  value = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
  return true;
}

int32_t ByteStringToIntDef(std::string_view s, int32_t def) noexcept {
  int32_t v;
  return ByteStringToInt(s, v) ? v : def;
}

int64_t ByteStringToInt64Def(std::string_view s, int64_t def) noexcept {
  bool negative;
  uint64_t magnitude;
  if (!ParseInteger(s, uint64_t(std::numeric_limits<int64_t>::max()), negative, magnitude)) return def;
  return negative ? int64_t(uint64_t(0) - magnitude) : int64_t(magnitude);
}

double ByteStringToFloatDef(std::string_view s, double def) noexcept {
  size_t i = 0;
  const bool negative = SkipPrefix(s, i);
  long double mantissa = 0;
  int64_t decimals = 0;
  bool point = false, digits = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (IsDigit(c)) {
      mantissa = mantissa * 10 + (c - '0');
      digits = true;
      if (point) ++decimals;
    } else if (c == '.') {
      if (point) return def;
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return def;
  int32_t exponent = 0;
  if (i < s.size()) {
    if (s[i] != 'E' && s[i] != 'e') return def;
    if (!ByteStringToInt(s.substr(i + 1), exponent)) return def;
  }
  const long double v = mantissa * PowerOfTen(int64_t(exponent) - decimals);
  const double result = double(negative ? -v : v);
  return std::isfinite(result) ? result : def;
}

int32_t ByteStringHexToIntDef(std::string_view s, int32_t def) noexcept {
  uint32_t v = 0;
  for (char c : s) {
    unsigned d;
    if (IsDigit(c)) d = unsigned(c - '0');
    else if (c >= 'A' && c <= 'F') d = unsigned(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f') d = unsigned(c - 'a' + 10);
    else return def;
    v = (v << 4) | d;
  }
  return int32_t(v);
}

bool ByteStringToBoolAt(std::string_view s, ptrdiff_t start, ptrdiff_t count) noexcept {
  return ByteStringRange(s, start, count) == "1";
}

int IntToDecimalBuffer(int64_t value, char* buffer, size_t room) noexcept {
  char digits[24];
  uint64_t v = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
  int n = 0;
  do {
    digits[n++] = char('0' + v % 10);
    v /= 10;
  } while (v);
  if (value < 0) digits[n++] = '-';
  if (size_t(n) > room) return -n;
  for (int k = 0; k < n; ++k) buffer[k] = digits[n - 1 - k];
  return n;
}

TByteString ByteStringFromBuilder(const TByteStringBuilder& b) {
  return b.Buffer.substr(0, std::min(b.Length, b.Buffer.size()));
}

size_t ByteStringMakeRoom(TByteStringBuilder& b, size_t position, size_t count, int fill) {
  if (position > b.Length) position = b.Length;
  KAV_ASSERT(count <= std::numeric_limits<size_t>::max() - b.Length);
  Grow(b, b.Length + count);
  char* base = b.Buffer.data();
  std::memmove(base + position + count, base + position, b.Length - position);
  if (fill >= 0 && fill <= 255) std::memset(base + position, fill, count);
  b.Length += count;
  return position;
}

size_t ByteStringWriteBytes(TByteStringBuilder& b, size_t position, std::string_view bytes) {
  return ByteStringWriteRaw(b, position, bytes.data(), 0, bytes.size());
}

size_t ByteStringWriteRaw(TByteStringBuilder& b, size_t position, const void* buffer, size_t start,
                          size_t count) {
  position = ByteStringMakeRoom(b, position, count);
  if (count) std::memcpy(b.Buffer.data() + position, static_cast<const char*>(buffer) + start, count);
  return position + count;
}

size_t ByteStringWriteWide(TByteStringBuilder& b, size_t position, std::u16string_view text,
                           ptrdiff_t start, ptrdiff_t count) {
  const TTextRange r = ClampTextRange(text.size(), start, count);
  const size_t bytes = UTF8ByteCount(text.substr(r.Start, r.Count));
  position = ByteStringMakeRoom(b, position, bytes);
  size_t written = 0;
  const size_t consumed = UTF8EncodeChars(text, ptrdiff_t(r.Start), ptrdiff_t(r.Count),
                                          reinterpret_cast<uint8_t*>(b.Buffer.data() + position),
                                          written, bytes);
  KAV_ASSERT(consumed == r.Count && written == bytes);
  return position + bytes;
}

size_t ByteStringFromInt(TByteStringBuilder& b, size_t position, int32_t value) {
  return ByteStringFromInt64(b, position, value);
}

size_t ByteStringFromInt64(TByteStringBuilder& b, size_t position, int64_t value) {
  char digits[24];
  const int n = IntToDecimalBuffer(value, digits, sizeof digits);
  return ByteStringWriteRaw(b, position, digits, 0, size_t(n));
}

size_t ByteStringFromFloat(TByteStringBuilder& b, size_t position, double value, int digits) {
  if (std::isnan(value)) return ByteStringWriteBytes(b, position, "NAN");
  if (std::isinf(value)) return ByteStringWriteBytes(b, position, value < 0 ? "-INF" : "INF");
  digits = std::clamp(digits, 0, 18);
  char text[400];  // the largest double has 309 integer digits
  int n = std::snprintf(text, sizeof text, "%.*f", digits, value);
  if (n < 0 || size_t(n) >= sizeof text) n = 0;
  std::string_view out(text, size_t(n));
  while (!out.empty() && out.front() == ' ') out.remove_prefix(1);
  if (out.find('.') != std::string_view::npos) {
    while (out.back() == '0') out.remove_suffix(1);
    if (out.back() == '.') out.remove_suffix(1);
  }
  if (out == "-0") out = "0";  // a negative value that rounds to zero
  return ByteStringWriteBytes(b, position, out);
}

size_t ByteStringFromFloatGeneral(TByteStringBuilder& b, size_t position, double value, int significant) {
  if (std::isnan(value)) return ByteStringWriteBytes(b, position, "NAN");
  if (std::isinf(value)) return ByteStringWriteBytes(b, position, value < 0 ? "-INF" : "INF");
  if (value == 0) return ByteStringWriteBytes(b, position, "0");
  significant = std::clamp(significant, 1, 17);
  // Fewer digits when fewer give the same value back: 1e-20 is "1E-20",
  // not its 16-digit neighbour 9.999999999999999E-21.
  char shortest[64];
  const auto done = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
  int needed = 0;
  for (const char* p = shortest; p < done.ptr && *p != 'e'; ++p) needed += *p >= '0' && *p <= '9';
  const int digits = done.ec == std::errc() && needed >= 1 && needed < significant ? needed : significant;
  const auto trim = [](std::string_view s) {
    if (s.find('.') == std::string_view::npos) return s;
    while (s.back() == '0') s.remove_suffix(1);
    if (s.back() == '.') s.remove_suffix(1);
    return s;
  };
  // Rounded to the digits first: the exponent of the rounded value picks the
  // notation (9.9999995 to 6 digits is 10, two integer digits).
  char text[400];  // the largest double has 309 integer digits
  std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
  const std::string_view sci(text);
  const size_t e = sci.find('e');
  const int exponent = std::atoi(text + e + 1);
  if (exponent >= significant || exponent < -5) {
    size_t at = ByteStringWriteBytes(b, position, trim(sci.substr(0, e)));
    at = ByteStringWriteBytes(b, at, "E");
    return ByteStringFromInt(b, at, exponent);
  }
  const int n = std::snprintf(text, sizeof text, "%.*f", std::max(digits - 1 - exponent, 0), value);
  return ByteStringWriteBytes(b, position, trim(std::string_view(text, size_t(std::max(n, 0)))));
}

TByteString ByteStringFromGUID(const TGUID& guid) { return UTF8Encode(GUIDToString(guid)); }

size_t ByteStringWriteGUID(TByteStringBuilder& b, size_t position, const TGUID& guid) {
  return ByteStringWriteBytes(b, position, ByteStringFromGUID(guid));
}

}  // namespace kav
