// Case conversion and 8-bit code-page conversion of wide text.
#include "VoRav/wpStringUtils.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

#include "VoRav/vxCaseFoldingTables.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

using namespace casetables;

inline char16_t MapUnit(char16_t c, int mode) noexcept {
  if (c < 0x80) {
    if (mode == kCaseUpper) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  }
  const int16_t* index = mode == kCaseUpper ? kUpperPageIndex : kLowerPageIndex;
  const uint16_t* pages = mode == kCaseUpper ? kUpperPages : kLowerPages;
  const int page = index[c >> 8];
  return page < 0 ? c : char16_t(pages[size_t(page) * 256 + (c & 0xFF)]);
}

// Windows-1252 bytes 0x80..0x9F; the unused ones keep their own value.
constexpr char16_t kCP1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string SingleByteToWide(std::string_view bytes, bool cp1252) {
  std::u16string out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t b = uint8_t(bytes[i]);
    out[i] = (cp1252 && b >= 0x80 && b < 0xA0) ? kCP1252High[b - 0x80] : char16_t(b);
  }
  return out;
}

// Any other code page through the C library's converters.
std::u16string IconvToWide(std::string_view bytes, uint32_t code_page) {
  char name[16];
  std::snprintf(name, sizeof name, "CP%u", unsigned(code_page));
  iconv_t cd = iconv_open("UTF-16LE", name);
  if (cd == iconv_t(-1)) return {};
  std::u16string out;
  std::string buffer(bytes.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  auto flush = [&](char* end) {
    for (const char* p = buffer.data(); p + 1 < end; p += 2)
      out += char16_t(uint8_t(p[0]) | (uint8_t(p[1]) << 8));
  };
  while (in_left > 0) {
    char* o = buffer.data();
    size_t o_left = buffer.size();
    const size_t rc = iconv(cd, &in, &in_left, &o, &o_left);
    flush(o);
    if (rc != size_t(-1)) break;
    if (errno == E2BIG) continue;
    // An invalid byte, or a sequence cut at the end: one replacement each.
    out += u'\uFFFD';
    if (errno == EINVAL) break;
    ++in;
    --in_left;
  }
  char* o = buffer.data();
  size_t o_left = buffer.size();
  iconv(cd, nullptr, nullptr, &o, &o_left);  // ends a stateful encoding
  flush(o);
  iconv_close(cd);
  return out;
}

}  // namespace

std::u16string ChangeCaseRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count, int mode) {
  KAV_ASSERT(mode == kCaseUpper || mode == kCaseLower);
  const TTextRange r = ClampTextRange(text.size(), start, count);
  std::u16string out(text.substr(r.Start, r.Count));
  for (char16_t& c : out) c = MapUnit(c, mode);
  return out;
}

std::u16string WideUpperCase(std::u16string_view text) {
  return ChangeCaseRange(text, 0, ptrdiff_t(text.size()), kCaseUpper);
}

std::u16string WideUpperCaseLeft(std::u16string_view text, ptrdiff_t n) {
  return ChangeCaseRange(text, 0, n, kCaseUpper);
}

std::u16string WideUpperCaseRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) {
  return ChangeCaseRange(text, start, count, kCaseUpper);
}

std::u16string WideLowerCase(std::u16string_view text) {
  return ChangeCaseRange(text, 0, ptrdiff_t(text.size()), kCaseLower);
}

std::u16string WideLowerCaseRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) {
  return ChangeCaseRange(text, start, count, kCaseLower);
}

std::u16string AnsiToWideRange(std::string_view bytes, ptrdiff_t start, ptrdiff_t count,
                               uint32_t code_page) {
  const TTextRange r = ClampTextRange(bytes.size(), start, count);
  const std::string_view part = bytes.substr(r.Start, r.Count);
  if (part.empty()) return {};
  switch (code_page) {
    case CP_ACP:
    case 1252: return SingleByteToWide(part, true);
    case 28591: return SingleByteToWide(part, false);
    case CP_UTF8: return SystemUTF8ToWide(part);
    default: return IconvToWide(part, code_page);
  }
}

}  // namespace kav
