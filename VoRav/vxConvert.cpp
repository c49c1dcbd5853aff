#include "VoRav/vxConvert.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Leading blanks, a sign, then decimal digits or "$"/"x"/"0x" and hex digits.
// Hex values up to 0xFFFFFFFF are taken as the 32-bit pattern they spell.
bool TryStrToInt(std::u16string_view s, int32_t& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == u' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  bool hex = false;
  if (i < s.size() && (s[i] == u'$' || s[i] == u'x' || s[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t v = 0;
  const uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  for (; i < s.size(); ++i) {
    const int d = hex ? HexDigitValue(s[i]) : (s[i] >= u'0' && s[i] <= u'9' ? s[i] - u'0' : -1);
    if (d < 0) return false;
    v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (v > limit) return false;
  }
  uint32_t bits = static_cast<uint32_t>(v);
  if (negative) bits = 0u - bits;
  value = static_cast<int32_t>(bits);
  return true;
}

}  // namespace

std::u16string IntToHex(int32_t digits, uint64_t value) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  char16_t buf[16];
  int n = 0;
  do {
    buf[15 - n++] = kHex[value & 15];
    value >>= 4;
  } while (value != 0);
  std::u16string out;
  if (digits > n) out.assign(static_cast<size_t>(digits - n), u'0');
  out.append(buf + 16 - n, buf + 16);
  return out;
}

std::u16string IntToStr(int32_t value) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return Widen(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

std::u16string IntToStrPad(int32_t value, int32_t width, char16_t fill) {
  std::u16string s = IntToStr(value);
  if (width > static_cast<int32_t>(s.size())) s.insert(0, static_cast<size_t>(width) - s.size(), fill);
  return s;
}

std::u16string FloatToStrTrim(int32_t digits, double value) {
  if (std::isnan(value)) return u"NAN";
  if (std::isinf(value)) return value < 0 ? u"-INF" : u"INF";
  if (digits < 0) digits = 0;
  // The largest double has 309 integer digits; the decimals come on top.
  std::vector<char> buf(330 + static_cast<size_t>(digits));
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, digits);
  std::string s(buf.data(), r.ptr);
  const size_t point = s.find('.');
  if (digits > 0 && point != std::string::npos && s.find_first_of("Ee", point) == std::string::npos) {
    size_t end = s.size();
    while (end > point + 1 && s[end - 1] == '0') --end;
    if (end == point + 1) end = point;
    s.resize(end);
  }
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return Widen(s);
}

int32_t StrToInt(std::u16string_view text) {
  int32_t v = 0;
  if (!TryStrToInt(text, v)) {
    const std::u16string args[] = {std::u16string(text)};
    throw EConvertError(UTF8Encode(FormatPositional(u"\"%1\" is not a valid integer value", args)));
  }
  return v;
}

int32_t StrToIntDef(std::u16string_view text, int32_t default_value) {
  int32_t v = 0;
  return TryStrToInt(text, v) ? v : default_value;
}

bool HexToUInt32(std::u16string_view text, int64_t start, int64_t count, uint32_t& value) {
  uint32_t v = 0;
  if (count > 0) {
    if (start < 0 || start > static_cast<int64_t>(text.size()) ||
        count > static_cast<int64_t>(text.size()) - start) {
      return false;
    }
    for (int64_t i = start; i < start + count; ++i) {
      const int d = HexDigitValue(text[static_cast<size_t>(i)]);
      if (d < 0) return false;
      v = (v << 4) | static_cast<uint32_t>(d);
    }
  }
  value = v;
  return true;
}

bool HexToUInt16(std::u16string_view text, int64_t start, int64_t count, uint16_t& value) {
  uint32_t v = 0;
  if (!HexToUInt32(text, start, count, v)) return false;
  value = static_cast<uint16_t>(v);
  return true;
}

bool HexToUInt8(std::u16string_view text, int64_t start, int64_t count, uint8_t& value) {
  uint32_t v = 0;
  if (!HexToUInt32(text, start, count, v)) return false;
  value = static_cast<uint8_t>(v);
  return true;
}

std::u16string FormatPositional(std::u16string_view format, std::span<const std::u16string> args) {
  std::u16string out;
  out.reserve(format.size());
  size_t i = 0;
  while (i < format.size()) {
    const char16_t c = format[i++];
    if (c != u'%') {
      out.push_back(c);
      continue;
    }
    const size_t digits_at = i;
    uint64_t n = 0;
    while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
      if (n <= args.size()) n = n * 10 + static_cast<uint64_t>(format[i] - u'0');  // saturates past any index
      ++i;
    }
    if (i > digits_at && n >= 1 && n <= args.size()) out += args[n - 1];
  }
  return out;
}

std::u16string WideTrim(std::u16string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == u' ') ++b;
  while (e > b && text[e - 1] == u' ') --e;
  return std::u16string(text.substr(b, e - b));
}

std::u16string WideTrimRight(std::u16string_view text) {
  size_t e = text.size();
  while (e > 0 && text[e - 1] <= u' ') --e;
  return std::u16string(text.substr(0, e));
}

std::u16string WideCopyChars(std::span<const char16_t> buffer, int64_t start, int64_t count) {
  const int64_t size = static_cast<int64_t>(buffer.size());
  if (start < 0) start = 0;
  if (start >= size || count <= 0) return std::u16string();
  if (count > size - start) count = size - start;
  return std::u16string(buffer.data() + start, static_cast<size_t>(count));
}

}  // namespace kav
