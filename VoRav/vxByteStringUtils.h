// Numbers in byte strings, and the byte-string builder.
//
// The parsers never raise: malformed text, or a value out of the type's
// range, yields the caller's default. They take the bytes to parse as a view
// (ByteStringRange gives one for a part of a string).
//
// A builder is a byte buffer whose size is its capacity, with a used Length.
// The writers insert at a position (cut to Length), shifting what follows,
// and return the position after what they wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "VoRav/vxByteString.h"
#include "VoRav/vxGUID.h"

namespace kav {

// Integers: leading bytes 0x08 and 0x20 are skipped (not the tab 0x09), one
// "+" or "-" may follow, then every remaining byte must be a decimal digit
// (at least one) and the value must fit the type.
bool ByteStringToInt(std::string_view s, int32_t& value) noexcept;
int32_t ByteStringToIntDef(std::string_view s, int32_t def) noexcept;
int64_t ByteStringToInt64Def(std::string_view s, int64_t def) noexcept;
// Floats: the integer prefix rules, then digits with at most one ".", then
// optionally "E" or "e" and an integer exponent. The value is the digits
// times a power of ten computed in extended precision; a result that is not
// finite gives the default.
double ByteStringToFloatDef(std::string_view s, double def) noexcept;
// Every byte must be 0-9, A-F or a-f; an empty text is 0. More than 8 digits
// keep the low 32 bits.
int32_t ByteStringHexToIntDef(std::string_view s, int32_t def) noexcept;
// True only when the range is the single byte "1".
bool ByteStringToBoolAt(std::string_view s, ptrdiff_t start, ptrdiff_t count) noexcept;

// Writes the decimal digits of value (with a "-" when negative) to
// buffer[0..room); returns their count, or minus the count when they do not
// fit (nothing is written then).
int IntToDecimalBuffer(int64_t value, char* buffer, size_t room) noexcept;

struct TByteStringBuilder {
  std::string Buffer;  // its size is the capacity
  size_t Length = 0;   // bytes in use
};

inline size_t ByteBufferLength(const TByteStringBuilder& b) noexcept { return b.Length; }
// The used bytes as a byte string.
TByteString ByteStringFromBuilder(const TByteStringBuilder& b);

// Opens a gap of count bytes at position (cut to Length), growing the buffer
// (first to the larger of 16 and the need, then doubling), fills the gap with
// `fill` when it is in 0..255, and returns the position.
size_t ByteStringMakeRoom(TByteStringBuilder& b, size_t position, size_t count, int fill = -1);
size_t ByteStringWriteBytes(TByteStringBuilder& b, size_t position, std::string_view bytes);
size_t ByteStringWriteRaw(TByteStringBuilder& b, size_t position, const void* buffer, size_t start,
                          size_t count);
// The library's UTF-8 form of a wide range.
size_t ByteStringWriteWide(TByteStringBuilder& b, size_t position, std::u16string_view text,
                           ptrdiff_t start, ptrdiff_t count);

size_t ByteStringFromInt(TByteStringBuilder& b, size_t position, int32_t value);
size_t ByteStringFromInt64(TByteStringBuilder& b, size_t position, int64_t value);
// Fixed notation with `digits` decimals (0..18), then trailing zeros after the
// point removed, and the point when nothing remains after it.
size_t ByteStringFromFloat(TByteStringBuilder& b, size_t position, double value, int digits);
// `significant` digits (1..17) in general notation: fixed while the rounded
// value's decimal exponent lies in -5 .. significant-1, else "<mantissa>E<exp>"
// ("1E-20", "1.5E17"); trailing zeros removed; "NAN", "INF", "-INF"; "0"
// for zero. Fewer digits are written when fewer read back as the same
// double (1e-20 gives "1E-20"); reading the text back gives the value to
// that many digits.
size_t ByteStringFromFloatGeneral(TByteStringBuilder& b, size_t position, double value, int significant);

// The 38-character braced text of a GUID (as GUIDToString writes it).
TByteString ByteStringFromGUID(const TGUID& guid);
size_t ByteStringWriteGUID(TByteStringBuilder& b, size_t position, const TGUID& guid);

}  // namespace kav
