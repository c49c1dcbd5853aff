// UTF-8 codecs: the library's own (one sequence per UTF-16 unit) and the
// standard one used at the Linux boundary.
#include "VoRav/vxUTF8.h"

#include <cstring>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

[[noreturn]] void InvalidUTF8() { KAV_ASSERT_FAIL("Invalid UTF8 Char"); }

inline size_t UnitByteCount(char16_t c) noexcept { return c < 0x80 ? 1 : (c < 0x800 ? 2 : 3); }

// Writes the library's form of text[0..n) to out, which has room for it.
// Returns the bytes written.
size_t EncodeUnchecked(const char16_t* text, size_t n, uint8_t* out) noexcept {
  uint8_t* p = out;
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      *p++ = uint8_t(c);
    } else if (c < 0x800) {
      *p++ = uint8_t(0xC0 | (c >> 6));
      *p++ = uint8_t(0x80 | (c & 0x3F));
    } else {
      *p++ = uint8_t(0xE0 | (c >> 12));
      *p++ = uint8_t(0x80 | ((c >> 6) & 0x3F));
      *p++ = uint8_t(0x80 | (c & 0x3F));
    }
  }
  return size_t(p - out);
}

// Decodes p[0..n) into out (which has room for n units: no sequence yields
// more units than it has bytes) or, when out is null, only counts. Returns the
// units. Every continuation byte is checked against the end before it is read.
size_t DecodeCore(const uint8_t* p, size_t n, char16_t* out) {
  size_t i = 0;
  size_t units = 0;
  while (i < n) {
    // Runs of ASCII, 8 bytes at a time.
    while (n - i >= 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ull) break;
      if (out)
        for (int k = 0; k < 8; ++k) out[units + k] = char16_t(p[i + k]);
      units += 8;
      i += 8;
    }
    if (i >= n) break;
    const uint8_t lead = p[i];
    if (lead < 0x80) {
      if (out) out[units] = lead;
      ++units;
      ++i;
      continue;
    }
    size_t extra;
    uint32_t cp;
    if (lead >= 0xC0 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
      extra = 3;
      cp = lead & 0x07;
    } else {
      InvalidUTF8();
    }
    if (n - i - 1 < extra) InvalidUTF8();
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t c = p[i + k];
      if ((c & 0xC0) != 0x80) InvalidUTF8();
      cp = (cp << 6) | (c & 0x3F);
    }
    i += extra + 1;
    if (cp < 0x10000) {
      if (out) out[units] = char16_t(cp);
      ++units;
    } else {
      if (cp > 0x10FFFF) KAV_ASSERT_FAIL("Illegal char range for surrogates");
      if (out) {
        out[units] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
        out[units + 1] = char16_t(0xDC00 + (cp & 0x3FF));
      }
      units += 2;
    }
  }
  return units;
}

std::u16string DecodeBytes(const uint8_t* p, size_t n) {
  std::u16string result(n, u'\0');
  result.resize(DecodeCore(p, n, result.data()));
  return result;
}

}  // namespace

TTextRange ClampTextRange(size_t length, ptrdiff_t start, ptrdiff_t count) noexcept {
  size_t s = start < 0 ? 0 : size_t(start);
  if (s > length) s = length;
  size_t c = count < 0 ? 0 : size_t(count);
  if (c > length - s) c = length - s;
  return {s, c};
}

size_t UTF8ByteCount(std::u16string_view text) noexcept {
  size_t bytes = 0;
  for (char16_t c : text) bytes += UnitByteCount(c);
  return bytes;
}

size_t UTF8ByteCount(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) noexcept {
  const TTextRange r = ClampTextRange(text.size(), start, count);
  return UTF8ByteCount(text.substr(r.Start, r.Count));
}

std::string UTF8Encode(std::u16string_view text) {
  std::string result(UTF8ByteCount(text), '\0');
  const size_t written =
      EncodeUnchecked(text.data(), text.size(), reinterpret_cast<uint8_t*>(result.data()));
  KAV_ASSERT(written == result.size());
  return result;
}

std::string UTF8EncodeStrRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) {
  const TTextRange r = ClampTextRange(text.size(), start, count);
  return UTF8Encode(text.substr(r.Start, r.Count));
}

void UTF8EncodeRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count,
                     std::vector<uint8_t>& out) {
  const TTextRange r = ClampTextRange(text.size(), start, count);
  const std::u16string_view part = text.substr(r.Start, r.Count);
  out.assign(UTF8ByteCount(part), 0);
  size_t written = 0;
  const size_t consumed = UTF8EncodeChars(part, 0, ptrdiff_t(part.size()), out.data(), written, out.size());
  KAV_ASSERT(consumed == part.size() && written == out.size());
}

size_t UTF8EncodeChars(std::u16string_view text, ptrdiff_t start, ptrdiff_t count, uint8_t* buffer,
                       size_t& written, size_t room) noexcept {
  const TTextRange r = ClampTextRange(text.size(), start, count);
  size_t pos = 0;
  size_t i = 0;
  for (; i < r.Count; ++i) {
    const char16_t c = text[r.Start + i];
    if (UnitByteCount(c) > room - pos) break;
    pos += EncodeUnchecked(&c, 1, buffer + pos);
  }
  written = pos;
  return i;
}

size_t UTF8CharCount(std::string_view bytes) {
  return DecodeCore(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), nullptr);
}

std::u16string UTF8Decode(std::string_view bytes) {
  return DecodeBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::u16string UTF8DecodeStrRange(std::string_view bytes, ptrdiff_t start, ptrdiff_t count) {
  const TTextRange r = ClampTextRange(bytes.size(), start, count);
  return UTF8Decode(bytes.substr(r.Start, r.Count));
}

std::u16string UTF8DecodeRange(const std::vector<uint8_t>& bytes, ptrdiff_t start, ptrdiff_t count) {
  const TTextRange r = ClampTextRange(bytes.size(), start, count);
  return DecodeBytes(bytes.data() + r.Start, r.Count);
}

int CodePointToUTF16(uint32_t code_point, char16_t& first, char16_t& second) {
  if (code_point >= 0x110000) KAV_ASSERT_FAIL("Invalud Unicode Range");
  if (code_point < 0x10000) {
    first = char16_t(code_point);
    return 1;
  }
  first = char16_t(0xD800 + ((code_point - 0x10000) >> 10));
  second = char16_t(0xDC00 + (code_point & 0x3FF));
  return 2;
}

std::string WideToSystemUTF8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < n && IsLowSurrogate(text[i + 1])) {
      cp = JoinSurrogates(text[i], text[i + 1]);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::u16string SystemUTF8ToWide(std::string_view bytes) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  std::u16string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    const uint8_t lead = p[i];
    if (lead < 0x80) {
      out += char16_t(lead);
      ++i;
      continue;
    }
    // Strict standard UTF-8: shortest form, no encoded surrogates, at most
    // U+10FFFF. A bad sequence yields one U+FFFD and decoding resumes at the
    // next byte that cannot continue it.
    size_t extra = 0;
    uint32_t cp = 0;
    uint8_t lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0F;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      cp = lead & 0x07;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    }
    size_t k = 0;
    if (extra > 0) {
      for (k = 1; k <= extra && i + k < n; ++k) {
        const uint8_t c = p[i + k];
        if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) break;
        cp = (cp << 6) | (c & 0x3F);
      }
    }
    if (extra == 0 || k <= extra) {
      out += u'\uFFFD';
      i += (extra == 0 || k == 0) ? 1 : k;
      continue;
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
  }
  return out;
}

}  // namespace kav
