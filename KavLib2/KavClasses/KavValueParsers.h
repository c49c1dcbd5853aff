// Small textual value forms of the project text: booleans, integer pairs,
// colours, tuples of floats, font styles and the "TextWithSize:" picture key.
//
// None of these raise on malformed text: what does not parse gives the
// caller's default. A nil item reads as an empty value.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "VoRav/Graphics/vxColor.h"

namespace kav {

class TIniItem;

// True only for the exact text "1" (" 1", "01" and "true" are false).
bool StrIsTrue(std::u16string_view text) noexcept;
bool StrIsTrue(std::string_view bytes) noexcept;

// Text of a number with 6 significant digits, "." as the decimal point and
// trailing zeros removed ("0.333333", "100", "1.5"); scientific ("1.23457E10",
// "1E-6") when the exponent is 6 or more or below -5.
std::u16string FormatFloatValue(double value);

// Two integers separated by a comma. Only a list of exactly two elements is
// used; an element that is not an integer keeps its default.
std::array<int32_t, 2> ParseIntPair(const TIniItem* item, int32_t def_first, int32_t def_second);
// Three or four numbers separated by commas; only a list of exactly that many
// elements is used, an element that does not parse keeping its default.
std::array<float, 3> ParseFloat3(const TIniItem* item, const std::array<float, 3>& defaults);
std::array<float, 4> ParseFloat4(const TIniItem* item, const std::array<float, 4>& defaults);

// Red, green and blue of a colour text ("#RRGGBB", a decimal COLORREF, or
// "red,green,blue"), or of `def` (0x00RRGGBB) when the text does not parse.
std::array<uint8_t, 3> ParseColorValue(const TIniItem* item, TColor32 def);
// The colour of the text (0xAARRGGBB), or `def` when it does not parse.
TColor32 ParseColorDefault(const TIniItem* item, TColor32 def);
// The bytes red, green, blue of 0x00RRGGBB.
constexpr std::array<uint8_t, 3> ColorToRGBBytes(TColor32 color) {
  return {ColorRed(color), ColorGreen(color), ColorBlue(color)};
}

// Font style bits.
enum : uint8_t { kFontBold = 1, kFontItalic = 2, kFontUnderline = 4, kFontStrikeOut = 8 };
// Names separated by ",": "Bold", "Italic", "Underline", "StrikeOut", matched
// exactly (case-sensitive); other names are ignored.
uint8_t ParseFontStyle(const TIniItem* item);

// The prefix of sized text picture keys.
inline constexpr std::u16string_view kTextWithSizePrefix = u"TextWithSize:";

// "TextWithSize:" width ":" height ":" text. The fields after the prefix are
// separated by ":" and lose their leading blanks; width and height are 0 when
// they are not integers, and the text is everything after the second ":"
// (further colons included). Missing fields are 0 and empty, and a key
// shorter than the prefix gives 0, 0 and an empty text.
void ParseTextWithSize(std::u16string_view key, int32_t& width, int32_t& height, std::u16string& text);

}  // namespace kav
