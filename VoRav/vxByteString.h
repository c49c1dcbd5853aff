// Byte strings: UTF-8 text as the INI model holds names and values.
//
// A TByteString is a std::string holding UTF-8 bytes (in the library's form:
// see vxUTF8.h). These routines read code points out of byte strings with
// error recovery, compare them with each other and with wide text (exactly
// or case-insensitively), and hash them so that the folded hash of a byte
// string equals the folded hash of the same wide text.
//
// Positions are 0-based byte indexes (UTF-16 unit indexes for wide text); a
// negative start counts as 0, a negative count as 0, and a count is cut at the
// end of the text. Routines that work on a whole byte string take a
// std::string_view; pass ByteStringRange(...) for a part of one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kav {

using TByteString = std::string;

// Record operations.
inline size_t ByteStringLength(std::string_view s) noexcept { return s.size(); }
inline bool ByteStringIsEmpty(std::string_view s) noexcept { return s.empty(); }
// The count of the range after clamping (never negative).
size_t ByteStringRangeLength(std::string_view s, ptrdiff_t start, ptrdiff_t count) noexcept;
// A view of the clamped range.
std::string_view ByteStringRange(std::string_view s, ptrdiff_t start, ptrdiff_t count) noexcept;
// The byte at a 0-based index; 0 when the index is outside the string.
uint8_t ByteStringCharAt(std::string_view s, ptrdiff_t index) noexcept;
TByteString ByteStringCopy(std::string_view s, ptrdiff_t start, ptrdiff_t count);
std::vector<uint8_t> ByteStringToBytes(std::string_view s);
// Copies the range to buffer[offset..room): at most room - offset bytes (none
// when offset >= room). Returns the bytes copied.
size_t ByteStringCopyToBuffer(std::string_view s, ptrdiff_t start, ptrdiff_t count,
                              uint8_t* buffer, size_t offset, size_t room) noexcept;
// The library's UTF-8 form of a wide range.
TByteString ByteStringFromWide(std::u16string_view text);
TByteString ByteStringFromWide(std::u16string_view text, ptrdiff_t start, ptrdiff_t count);
// The range decoded to wide text; invalid UTF-8 raises the "Invalid UTF8
// Char" assertion (EAbort).
std::u16string ByteStringToWide(std::string_view s, ptrdiff_t start, ptrdiff_t count);

// Reads the code point at s[pos] and advances pos past what was read. Returns
// -1 for an invalid sequence: a stray continuation byte or a lead byte 0xFE /
// 0xFF (pos then skips the following continuation bytes), a bad continuation
// byte (pos stops before it) or a sequence running past the end (pos goes to
// the end). Leads 0xF8..0xFD start 5- and 6-byte sequences. A high surrogate
// followed by a sequence holding a low surrogate is joined into one code
// point. pos must be below s.size().
int32_t ByteStringNextCodePoint(std::string_view s, size_t& pos) noexcept;

// Comparison. All return 0 when equal, else the difference of the first
// differing (folded) code points (an invalid sequence counts as -1); when one
// side runs out first, 1 if the byte string (the first one) is longer, -1 if
// it is shorter. Case-insensitive means A-Z as a-z below 0x80 and Unicode
// simple case folding above.
bool ByteStringEqualsBytes(std::string_view s, std::string_view bytes) noexcept;
// The position of the first occurrence of `bytes` in s at or after `from`,
// or -1. An empty pattern is found at `from` (when within s).
ptrdiff_t ByteStringPosBytes(std::string_view s, std::string_view bytes, size_t from = 0) noexcept;
int ByteStringCompareWide(std::string_view s, std::u16string_view text) noexcept;
int ByteStringCompareWideText(std::string_view s, std::u16string_view text) noexcept;
int ByteStringCompareWideRange(std::string_view s, std::u16string_view text, ptrdiff_t start,
                               ptrdiff_t count) noexcept;
int ByteStringCompareText(std::string_view a, std::string_view b) noexcept;

// A set of byte values for the tokenisers.
struct TByteSet {
  uint64_t Bits[4] = {0, 0, 0, 0};
  static TByteSet Of(std::string_view bytes) noexcept;
  void Add(uint8_t b) noexcept { Bits[b >> 6] |= uint64_t(1) << (b & 63); }
  bool Has(uint8_t b) const noexcept { return (Bits[b >> 6] >> (b & 63)) & 1; }
};
// The position of the first byte at or after `from` that is (not) in the
// set, or -1.
ptrdiff_t ByteStringFindInSet(std::string_view s, size_t from, const TByteSet& set) noexcept;
ptrdiff_t ByteStringFindNotInSet(std::string_view s, size_t from, const TByteSet& set) noexcept;

// Hashes. The mixing step for a value c is x = h + c; h = x - rotl(x, 13),
// starting from h = 0. A code point below 0x80 is mixed as it is (lower-cased
// for the folded hashes); any other is mixed byte by byte over its library
// UTF-8 form (folded first for the folded hashes); invalid sequences and
// values of 0x110000 or more leave the hash unchanged.
uint32_t ByteStringHashExact(std::string_view s) noexcept;
uint32_t ByteStringHash(std::string_view s) noexcept;
// Equal to ByteStringHash of the same text in UTF-8.
uint32_t HashWideString(std::u16string_view text) noexcept;
uint32_t HashWideString(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) noexcept;
// Continues a hash over raw bytes (no folding); HashBytesContinue(h(a), b)
// equals the hash of a followed by b when b is ASCII.
uint32_t HashBytesContinue(uint32_t seed, std::string_view bytes) noexcept;

}  // namespace kav
