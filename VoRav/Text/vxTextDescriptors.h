// Text descriptors: the keys under which rendered texts are named and
// cached ("Text: " and "VectTxt2: "), the style names, the quoted-lines form,
// the markup escapes and the string translation hook.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kav {

// "Bold", "Italic", "Underline", "StrikeOut" of the set bits 1, 2, 4, 8, in
// this order, joined by ",".
std::u16string FontStyleToText(uint8_t style);
// Splits at commas; each part equal to one of the four names (exactly, case
// matters) sets its bit; other parts are ignored.
uint8_t FontStyleFromText(std::u16string_view text);

}  // namespace kav
