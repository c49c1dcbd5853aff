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

namespace kav {

class TStringList;

// The text parameters a "Text: " key carries.
struct TTextParams {
  std::u16string FaceName = u"Arial";
  uint8_t Style = 0;
  uint8_t Alignment = 0;  // 0 left, 1 centre, 2 right
  int32_t LineSpacing = 0;
  int32_t Reserved = 0;
  double Scale = 1.0;
  double Value = 1.0;  // carried for the text objects, which give it meaning
  float Float1 = 0;
  float Float2 = 0;
};

extern const char16_t* const kDefaultFaceName;   // "Arial"
extern const char16_t* const kDefaultText;       // "Text"
extern const char16_t* const kShortDatePattern;  // "DD.MM.YYYY"
extern const char16_t* const kLongDatePattern;   // "D MMMM YYYY"

// "Text: face:scale:f1:f2:style:alignment:value:linespacing:"lines"".
std::u16string TextParamsKey(const TTextParams& params, const std::vector<std::u16string>& lines);
// The parameters and lines of a "Text: " key; a numeric field that is not a
// number keeps the default. A key shorter than its prefix gives the defaults
// and no lines.
void ParseTextParamsKey(std::u16string_view key, std::vector<std::u16string>& lines, TTextParams& params);
// "VectTxt2: face:style:"lines"" of a "Text: " key: equal faces, styles and
// texts share one vector text whatever their size and colour.
std::u16string VectTxtKeyFromTextKey(std::u16string_view key);
// Face, style bits and lines of a "VectTxt2: " key.
void ParseVectTxtKey(std::u16string_view key, std::vector<std::u16string>& lines, std::u16string& face,
                     uint8_t& style);

// Removes one leading and one trailing double quote (with at least two
// characters) and splits at CR, LF, CR LF or LF CR.
void SplitQuotedLines(std::u16string_view text, std::vector<std::u16string>& lines);
// A double quote, the lines joined by CR LF, a double quote.
std::u16string JoinQuotedLines(const std::vector<std::u16string>& lines);
// "<" as "<<", ">" as ">>", and each run of capitals enclosed in "<" ">".
std::vector<std::u16string> EscapeMarkupLines(const std::vector<std::u16string>& lines);
// "<<" and ">>" back to single brackets; every other tag ("<...>") removed.
std::u16string StripMarkupTags(std::u16string_view text);

using TTranslateHook = std::u16string (*)(const std::u16string& text);
void SetTranslateHook(TTranslateHook hook);
std::u16string TranslateString(const std::u16string& text);

// A float with at most `decimals` decimals, trailing zeros and point removed.
std::u16string FormatKeyFloat(double value, int decimals);

}  // namespace kav
