// Case conversion of wide text and conversion of 8-bit code-page text.
//
// Case conversion maps characters below 128 through ASCII tables and the rest
// through the simple upper/lower case mappings of the Unicode data (the stand-
// in for the system's wide case calls). Each UTF-16 unit is converted by
// itself, so the result has the length of the range and characters outside
// the Basic Multilingual Plane are left as they are, as the system calls do.
//
// Positions are 0-based UTF-16 unit indexes; a negative start counts as 0, a
// negative count as 0, and a count is cut at the end of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kav {

enum : int { kCaseUpper = 0, kCaseLower = 1 };

// The range converted to upper case (mode 0) or lower case (mode 1). Any
// other mode raises an assertion.
std::u16string ChangeCaseRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count, int mode);

std::u16string WideUpperCase(std::u16string_view text);
// The first n units of the text, upper-cased.
std::u16string WideUpperCaseLeft(std::u16string_view text, ptrdiff_t n);
std::u16string WideUpperCaseRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count);
std::u16string WideLowerCase(std::u16string_view text);
std::u16string WideLowerCaseRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count);

// Code pages understood by AnsiToWideRange: 0 is the ANSI code page, which on
// this system is Windows-1252 (the Western code page shows are written in);
// 65001 is UTF-8 (standard form; invalid bytes become U+FFFD); 1252 and 28591
// (ISO 8859-1) are built in; any other number is looked up as "CP<n>" in the
// C library's converters (iconv).
enum : uint32_t { CP_ACP = 0, CP_UTF8 = 65001 };

// Converts a byte range from the code page to wide text. Bytes the code page
// does not define become U+FFFD (in Windows-1252 the five unused bytes map to
// the control characters of the same value, as the system converter does); an
// unknown code page gives an empty text.
std::u16string AnsiToWideRange(std::string_view bytes, ptrdiff_t start, ptrdiff_t count,
                               uint32_t code_page);

}  // namespace kav
