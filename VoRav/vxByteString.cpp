// Byte strings: code-point reading, comparison, search and hashing.
#include "VoRav/vxByteString.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

inline bool IsContinuation(uint8_t b) noexcept { return (b & 0xC0) == 0x80; }

// One UTF-8 sequence without surrogate joining (see ByteStringNextCodePoint).
int32_t ReadSequence(const uint8_t* p, size_t n, size_t& pos) noexcept {
  const uint8_t lead = p[pos++];
  if (lead < 0x80) return lead;
  size_t extra;
  uint32_t cp;
  if (lead < 0xC0 || lead >= 0xFE) {
    while (pos < n && IsContinuation(p[pos])) ++pos;
    return -1;
  } else if (lead < 0xE0) {
    extra = 1, cp = lead & 0x1F;
  } else if (lead < 0xF0) {
    extra = 2, cp = lead & 0x0F;
  } else if (lead < 0xF8) {
    extra = 3, cp = lead & 0x07;
  } else if (lead < 0xFC) {
    extra = 4, cp = lead & 0x03;
  } else {
    extra = 5, cp = lead & 0x01;
  }
  for (size_t k = 0; k < extra; ++k) {
    if (pos >= n) return -1;
    if (!IsContinuation(p[pos])) return -1;
    cp = (cp << 6) | (p[pos++] & 0x3F);
  }
  return int32_t(cp);
}

inline int32_t NextWide(std::u16string_view t, size_t& i) noexcept {
  const char16_t c = t[i++];
  if (IsHighSurrogate(c) && i < t.size() && IsLowSurrogate(t[i])) return int32_t(JoinSurrogates(c, t[i++]));
  return c;
}

inline int32_t Fold(int32_t cp) noexcept {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;  // -1 stays
  return int32_t(CaseFoldPageLookup(uint32_t(cp)));
}

inline int Difference(int32_t a, int32_t b) noexcept {
  const int64_t d = int64_t(a) - int64_t(b);
  return d > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
       : d < std::numeric_limits<int>::min() ? std::numeric_limits<int>::min()
                                             : int(d);
}

// Compares the code points of a byte string with those of another source.
template <class NextB>
int CompareCodePoints(std::string_view s, size_t nb_total, NextB next_b, bool fold) noexcept {
  size_t pa = 0, pb = 0;
  while (pa < s.size() && pb < nb_total) {
    int32_t a = ByteStringNextCodePoint(s, pa);
    int32_t b = next_b(pb);
    if (fold) a = Fold(a), b = Fold(b);
    if (a != b) return Difference(a, b);
  }
  if (pa < s.size()) return 1;
  if (pb < nb_total) return -1;
  return 0;
}

inline uint32_t Mix(uint32_t h, uint32_t c) noexcept {
  const uint32_t x = h + c;
  return x - std::rotl(x, 13);
}

inline uint32_t MixCodePoint(uint32_t h, int32_t cp) noexcept {
  if (cp < 0) return h;
  if (cp < 0x80) return Mix(h, uint32_t(cp));
  if (cp >= 0x110000) return h;
  char16_t units[2];
  const int n = CodePointToUTF16(uint32_t(cp), units[0], units[1]);
  for (int i = 0; i < n; ++i) {
    const char16_t c = units[i];
    if (c < 0x800) {
      h = Mix(h, 0xC0 | (c >> 6));
    } else {
      h = Mix(h, 0xE0 | (c >> 12));
      h = Mix(h, 0x80 | ((c >> 6) & 0x3F));
    }
    h = Mix(h, 0x80 | (c & 0x3F));
  }
  return h;
}

}  // namespace

size_t ByteStringRangeLength(std::string_view s, ptrdiff_t start, ptrdiff_t count) noexcept {
  return ClampTextRange(s.size(), start, count).Count;
}

std::string_view ByteStringRange(std::string_view s, ptrdiff_t start, ptrdiff_t count) noexcept {
  const TTextRange r = ClampTextRange(s.size(), start, count);
  return s.substr(r.Start, r.Count);
}

uint8_t ByteStringCharAt(std::string_view s, ptrdiff_t index) noexcept {
  return (index < 0 || size_t(index) >= s.size()) ? 0 : uint8_t(s[size_t(index)]);
}

TByteString ByteStringCopy(std::string_view s, ptrdiff_t start, ptrdiff_t count) {
  return TByteString(ByteStringRange(s, start, count));
}

std::vector<uint8_t> ByteStringToBytes(std::string_view s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

size_t ByteStringCopyToBuffer(std::string_view s, ptrdiff_t start, ptrdiff_t count, uint8_t* buffer,
                              size_t offset, size_t room) noexcept {
  if (offset >= room) return 0;
  const std::string_view part = ByteStringRange(s, start, count);
  const size_t n = std::min(part.size(), room - offset);
  if (n) std::memcpy(buffer + offset, part.data(), n);
  return n;
}

TByteString ByteStringFromWide(std::u16string_view text) { return UTF8Encode(text); }

TByteString ByteStringFromWide(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) {
  return UTF8EncodeStrRange(text, start, count);
}

std::u16string ByteStringToWide(std::string_view s, ptrdiff_t start, ptrdiff_t count) {
  return UTF8Decode(ByteStringRange(s, start, count));
}

int32_t ByteStringNextCodePoint(std::string_view s, size_t& pos) noexcept {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const size_t n = s.size();
  const int32_t cp = ReadSequence(p, n, pos);
  if (cp >= 0xD800 && cp <= 0xDBFF && pos < n && p[pos] >= 0xE0) {
    size_t next = pos;
    const int32_t low = ReadSequence(p, n, next);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      pos = next;
      return int32_t(JoinSurrogates(char16_t(cp), char16_t(low)));
    }
  }
  return cp;
}

bool ByteStringEqualsBytes(std::string_view s, std::string_view bytes) noexcept { return s == bytes; }

ptrdiff_t ByteStringPosBytes(std::string_view s, std::string_view bytes, size_t from) noexcept {
  if (from > s.size()) return -1;
  const size_t at = s.find(bytes, from);
  return at == std::string_view::npos ? -1 : ptrdiff_t(at);
}

int ByteStringCompareWide(std::string_view s, std::u16string_view text) noexcept {
  return CompareCodePoints(s, text.size(), [&](size_t& i) { return NextWide(text, i); }, false);
}

int ByteStringCompareWideText(std::string_view s, std::u16string_view text) noexcept {
  return CompareCodePoints(s, text.size(), [&](size_t& i) { return NextWide(text, i); }, true);
}

int ByteStringCompareWideRange(std::string_view s, std::u16string_view text, ptrdiff_t start,
                               ptrdiff_t count) noexcept {
  const TTextRange r = ClampTextRange(text.size(), start, count);
  return ByteStringCompareWideText(s, text.substr(r.Start, r.Count));
}

int ByteStringCompareText(std::string_view a, std::string_view b) noexcept {
  return CompareCodePoints(a, b.size(), [&](size_t& i) { return ByteStringNextCodePoint(b, i); }, true);
}

TByteSet TByteSet::Of(std::string_view bytes) noexcept {
  TByteSet set;
  for (char c : bytes) set.Add(uint8_t(c));
  return set;
}

ptrdiff_t ByteStringFindInSet(std::string_view s, size_t from, const TByteSet& set) noexcept {
  for (size_t i = from; i < s.size(); ++i)
    if (set.Has(uint8_t(s[i]))) return ptrdiff_t(i);
  return -1;
}

ptrdiff_t ByteStringFindNotInSet(std::string_view s, size_t from, const TByteSet& set) noexcept {
  for (size_t i = from; i < s.size(); ++i)
    if (!set.Has(uint8_t(s[i]))) return ptrdiff_t(i);
  return -1;
}

uint32_t ByteStringHashExact(std::string_view s) noexcept {
  uint32_t h = 0;
  size_t pos = 0;
  while (pos < s.size()) h = MixCodePoint(h, ByteStringNextCodePoint(s, pos));
  return h;
}

uint32_t ByteStringHash(std::string_view s) noexcept {
  uint32_t h = 0;
  size_t pos = 0;
  while (pos < s.size()) {
    const uint8_t b = uint8_t(s[pos]);
    if (b < 0x80) {  // the common case, without the reader
      ++pos;
      h = Mix(h, (b >= 'A' && b <= 'Z') ? b + 32u : b);
    } else {
      h = MixCodePoint(h, Fold(ByteStringNextCodePoint(s, pos)));
    }
  }
  return h;
}

uint32_t HashWideString(std::u16string_view text) noexcept {
  uint32_t h = 0;
  size_t i = 0;
  while (i < text.size()) h = MixCodePoint(h, Fold(NextWide(text, i)));
  return h;
}

uint32_t HashWideString(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) noexcept {
  const TTextRange r = ClampTextRange(text.size(), start, count);
  return HashWideString(text.substr(r.Start, r.Count));
}

uint32_t HashBytesContinue(uint32_t seed, std::string_view bytes) noexcept {
  for (char c : bytes) seed = Mix(seed, uint8_t(c));
  return seed;
}

}  // namespace kav
