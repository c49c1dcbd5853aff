#include "KavLib2/KavClasses/KavValueParsers.h"

#include <cmath>
#include <cstdio>

#include "VoRav/vxByteStringLists.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"

namespace kav {

namespace {

// Elements of an item's comma-separated list; count 0 for an empty value.
struct TItemList {
  TByteStringParts Parts;
  size_t Count = 0;
  explicit TItemList(const TIniItem* item) {
    IniSplitValue(item, ',', Parts);
    Count = ByteStringListCount(Parts);
  }
};

template <size_t N>
std::array<float, N> ParseFloats(const TIniItem* item, const std::array<float, N>& defaults) {
  const TItemList list(item);
  if (list.Count != N) return defaults;
  std::array<float, N> out;
  for (size_t i = 0; i < N; ++i)
    out[i] = static_cast<float>(ByteStringListGetFloat(list.Parts, ptrdiff_t(i), defaults[i]));
  return out;
}

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

std::u16string_view SkipBlanks(std::u16string_view s) {
  while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
  return s;
}

}  // namespace

bool StrIsTrue(std::u16string_view text) noexcept { return text == u"1"; }
bool StrIsTrue(std::string_view bytes) noexcept { return bytes == "1"; }

std::u16string FormatFloatValue(double value) {
  TByteStringBuilder b;
  ByteStringFromFloatGeneral(b, 0, value, 6);
  return Ascii(ByteStringFromBuilder(b));
}

std::array<int32_t, 2> ParseIntPair(const TIniItem* item, int32_t def_first, int32_t def_second) {
  const TItemList list(item);
  if (list.Count != 2) return {def_first, def_second};
  return {ByteStringListGetInt(list.Parts, 0, def_first), ByteStringListGetInt(list.Parts, 1, def_second)};
}

std::array<float, 3> ParseFloat3(const TIniItem* item, const std::array<float, 3>& defaults) {
  return ParseFloats(item, defaults);
}

std::array<float, 4> ParseFloat4(const TIniItem* item, const std::array<float, 4>& defaults) {
  return ParseFloats(item, defaults);
}

std::array<uint8_t, 3> ParseColorValue(const TIniItem* item, TColor32 def) {
  return ColorToRGBBytes(ParseColorDefault(item, ColorSetAlpha(def, 255)));
}

TColor32 ParseColorDefault(const TIniItem* item, TColor32 def) {
  return ParseColorText(IniGetValueBytes(item), def);
}

uint8_t ParseFontStyle(const TIniItem* item) {
  const TItemList list(item);
  uint8_t style = 0;
  for (size_t i = 0; i < list.Count; ++i) {
    const TByteString name = ByteStringListGetPart(list.Parts, ptrdiff_t(i));
    if (name == "Bold") style |= kFontBold;
    else if (name == "Italic") style |= kFontItalic;
    else if (name == "Underline") style |= kFontUnderline;
    else if (name == "StrikeOut") style |= kFontStrikeOut;
  }
  return style;
}

void ParseTextWithSize(std::u16string_view key, int32_t& width, int32_t& height, std::u16string& text) {
  width = 0;
  height = 0;
  text.clear();
  if (key.size() < kTextWithSizePrefix.size()) return;
  std::u16string_view rest = key.substr(kTextWithSizePrefix.size());
  // Takes the next ":"-terminated field (or the rest when there is no ":").
  const auto next_field = [&rest]() {
    rest = SkipBlanks(rest);
    const size_t colon = rest.find(u':');
    const std::u16string_view field = rest.substr(0, colon);
    rest = colon == std::u16string_view::npos ? std::u16string_view() : rest.substr(colon + 1);
    return field;
  };
  width = StrToIntDef(next_field(), 0);
  height = StrToIntDef(next_field(), 0);
  text.assign(SkipBlanks(rest));
}

}  // namespace kav
