// UTF-8 encoding and decoding of wide (UTF-16) text.
//
// Two codecs live here:
//
//  * The library's own codec (UTF8Encode, UTF8Decode and their range forms).
//    It encodes every UTF-16 unit by itself, so a character above U+FFFF
//    becomes two 3-byte sequences (one per surrogate) and a lone surrogate is
//    written as it stands. The decoder reads that form and the standard 4-byte
//    form. Hashes and the INI model depend on this form: use it for the
//    library's own text (INI names and values, byte strings, files it writes).
//    Invalid input (a bad lead or continuation byte, a sequence running past
//    the end, a value above U+10FFFF) is an assertion: the decoding operation
//    fails with EAbort and nothing is read past the input.
//
//  * The standard codec for the Linux boundary (WideToSystemUTF8,
//    SystemUTF8ToWide). Use it whenever text goes to or comes from Linux or a
//    library: file names, environment, process arguments, messages of system
//    calls, FreeType/HarfBuzz and the like. It never raises: surrogate pairs
//    become one 4-byte sequence, lone surrogates and invalid bytes become
//    U+FFFD.
//
// Positions are 0-based indexes (UTF-16 units for wide text, bytes for 8-bit
// text). A negative start counts as 0, a negative count as 0, and a count is
// cut at the end of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kav {

// A range of a text after clamping (see above).
struct TTextRange {
  size_t Start;
  size_t Count;
};
TTextRange ClampTextRange(size_t length, ptrdiff_t start, ptrdiff_t count) noexcept;

// Bytes the library's encoder writes for the range: 1 per unit below 0x80,
// 2 below 0x800, 3 otherwise.
size_t UTF8ByteCount(std::u16string_view text) noexcept;
size_t UTF8ByteCount(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) noexcept;

// The library's UTF-8 form of the text or of a range of it.
std::string UTF8Encode(std::u16string_view text);
std::string UTF8EncodeStrRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count);
// The same into a byte array (replacing its contents).
void UTF8EncodeRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count,
                     std::vector<uint8_t>& out);
// Encodes units of the range into buffer[0..room) until the next unit no
// longer fits. Returns the units consumed; `written` receives the bytes
// written. Never writes past `room`.
size_t UTF8EncodeChars(std::u16string_view text, ptrdiff_t start, ptrdiff_t count,
                       uint8_t* buffer, size_t& written, size_t room) noexcept;

// The number of UTF-16 units the bytes decode to (a 4-byte sequence counts
// 2). Raises the "Invalid UTF8 Char" assertion on invalid input.
size_t UTF8CharCount(std::string_view bytes);

// Decodes the library's UTF-8 (and the 4-byte form). Raises the "Invalid UTF8
// Char" assertion (EAbort) on invalid input.
std::u16string UTF8Decode(std::string_view bytes);
std::u16string UTF8DecodeStrRange(std::string_view bytes, ptrdiff_t start, ptrdiff_t count);
std::u16string UTF8DecodeRange(const std::vector<uint8_t>& bytes, ptrdiff_t start, ptrdiff_t count);

// Writes a code point as UTF-16: returns 1 (first only) below 0x10000, else 2
// (a surrogate pair). A code point of 0x110000 or more raises the assertion
// "Invalud Unicode Range".
int CodePointToUTF16(uint32_t code_point, char16_t& first, char16_t& second);

// Standard UTF-8 for the Linux boundary (see above). Never raise.
std::string WideToSystemUTF8(std::u16string_view text);
std::u16string SystemUTF8ToWide(std::string_view bytes);

// UTF-16 helpers.
inline bool IsHighSurrogate(char16_t c) noexcept { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) noexcept { return c >= 0xDC00 && c <= 0xDFFF; }
inline uint32_t JoinSurrogates(char16_t high, char16_t low) noexcept {
  return 0x10000u + ((uint32_t(high) & 0x3FF) << 10) + (uint32_t(low) - 0xDC00);
}

}  // namespace kav
