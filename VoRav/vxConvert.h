// Conversions between numbers and wide text, trimming and the positional
// message formatter.
//
// Positions and counts are 0-based character (UTF-16 unit) indexes; ranges
// that reach outside a text or buffer are cut to it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kav {

// Upper-case hexadecimal of `value` taken as unsigned, with at least `digits`
// digits (a negative count counts as 0) and more when the value needs them.
// IntToHex(8, 255) is "000000FF".
std::u16string IntToHex(int32_t digits, uint64_t value);

// Decimal text of a 32-bit value ("-12").
std::u16string IntToStr(int32_t value);

// Decimal text left-padded with `fill` to `width` characters; unchanged when
// already as wide.
std::u16string IntToStrPad(int32_t value, int32_t width, char16_t fill);

// Fixed-point text with `digits` decimals (a negative count counts as 0) and
// "." as the decimal point. When digits > 0, trailing zeros after the point
// are removed, and the point too when nothing remains after it: 1.5 with 3
// digits is "1.5", 2.0 is "2". A result that is zero shows no minus sign.
// NaN and infinities are "NAN", "INF" and "-INF".
std::u16string FloatToStrTrim(int32_t digits, double value);

// The 32-bit integer of a text: leading blanks, an optional sign, then
// decimal digits or hexadecimal ones after "$", "x" or "0x". Anything else,
// nothing at all, or a value out of range raises EConvertError with the
// message "\"<text>\" is not a valid integer value".
int32_t StrToInt(std::u16string_view text);
// As StrToInt, but answers `default_value` instead of raising.
int32_t StrToIntDef(std::u16string_view text, int32_t default_value);

// True when all `count` characters from `start` are hexadecimal digits
// (0-9, A-F, a-f); `value` is then built from them (only the low 32 bits of
// longer runs are kept). A count below 1 gives true and 0. Characters past
// the end of the text are not digits. The 16- and 8-bit forms store the low bits.
bool HexToUInt32(std::u16string_view text, int64_t start, int64_t count, uint32_t& value);
bool HexToUInt16(std::u16string_view text, int64_t start, int64_t count, uint16_t& value);
bool HexToUInt8(std::u16string_view text, int64_t start, int64_t count, uint8_t& value);

// Replaces every "%N" (N decimal digits) with args[N-1] when 1 <= N <=
// args.size(); otherwise the "%" and its digits are dropped. A "%" without
// digits is dropped alone. FormatPositional(u"%2-%1", {a, b}) is "b-a".
std::u16string FormatPositional(std::u16string_view format, std::span<const std::u16string> args);

// The text without leading and trailing blanks (U+0020 only; tabs stay).
std::u16string WideTrim(std::u16string_view text);
// The text without trailing characters at or below U+0020 (controls included).
std::u16string WideTrimRight(std::u16string_view text);

// `count` characters of a wide character buffer from `start`, cut to the buffer.
std::u16string WideCopyChars(std::span<const char16_t> buffer, int64_t start, int64_t count);

}  // namespace kav
