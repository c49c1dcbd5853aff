// Fuzz entry points of the small textual forms of the project text: object
// actions, value forms and text macros.
#include <cmath>
#include <cstring>
#include <string>

#include "KavLib2/KavClasses/KavObjectActions.h"
#include "KavLib2/KavClasses/KavTextMacros.h"
#include "KavLib2/KavClasses/KavValueParsers.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxUTF8.h"
#include "tools/fuzz/FuzzCheck.h"
#include "tools/fuzz/FuzzTargets.h"

namespace kav {

std::u16string FuzzWideText(const uint8_t* data, size_t size) {
  std::u16string text;
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    for (size_t i = 2; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | data[i + 1] << 8));
  } else {
    text.assign(data, data + size);
  }
  return text;
}

int FuzzObjectAction(const uint8_t* data, size_t size) {
  const std::u16string text = FuzzWideText(data, size);
  const TObjectAction action = ParseObjectAction(text);
  std::u16string argument;
  const int32_t code = ActionKeywordToCode(text, argument);
  FuzzCheck((code != 0) == (action.Kind != kActionNone), "FuzzObjectAction", "keyword and record disagree");
  FuzzCheck(argument == action.Argument, "FuzzObjectAction", "arguments differ");
  FuzzCheck(text.find(argument) != std::u16string::npos, "FuzzObjectAction", "argument not taken from the text");
  return 0;
}

int FuzzValueParsers(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto item = MakeRef<TIniItem>();
  item->SetValueBytes(TByteString(bytes));
  StrIsTrue(bytes);
  ParseIntPair(item.get(), 3, 4);
  ParseFloat3(item.get(), {1, 2, 3});
  ParseFloat4(item.get(), {1, 2, 3, 4});
  ParseColorValue(item.get(), 0x123456);
  ParseColorDefault(item.get(), 0xFF654321);
  ParseFontStyle(item.get());
  ParseIntPair(nullptr, 0, 0);

  const std::u16string text = FuzzWideText(data, size);
  StrIsTrue(text);
  int32_t width = 0, height = 0;
  std::u16string shown;
  ParseTextWithSize(text, width, height, shown);
  ParseTextWithSize(std::u16string(kTextWithSizePrefix) + text, width, height, shown);

  // The value text reads back as the number it was made from, within its
  // six significant digits.
  double values[2] = {ByteStringToFloatDef(bytes, 0), 0};
  std::memcpy(&values[1], data, std::min(size, sizeof(double)));
  for (double v : values) {
    const std::u16string formatted = FormatFloatValue(v);
    if (!std::isfinite(v)) continue;
    const double back = ByteStringToFloatDef(UTF8Encode(formatted), NAN);
    FuzzCheck(std::fabs(back - v) <= std::fabs(v) * 1e-5 || (std::fabs(v) < 1e-300 && std::fabs(back) < 1e-300),
              "FuzzValueParsers", "a formatted value does not read back");
  }
  return 0;
}

namespace {

// Answers every macro from the input: the path and date macros get the text
// after the input's first NUL, the others a short fixed value.
struct TFuzzMacros {
  std::u16string Tail;
  void Resolve(TMTParser*, std::u16string_view macro, std::u16string& value) {
    value = macro == u"<%MainImg.PathNameExt%>" || macro == u"<%MainImg.Exif.Date%>" ||
                    macro == u"<%MainImg.Exif.Time%>"
                ? Tail
                : u"v";
  }
};

}  // namespace

int FuzzTextMacros(const uint8_t* data, size_t size) {
  const std::u16string input = FuzzWideText(data, size);
  const size_t nul = input.find(u'\0');
  TFuzzMacros macros;
  if (nul != std::u16string::npos) macros.Tail = input.substr(nul + 1);
  const std::u16string text = input.substr(0, nul);
  TMTParser parser(TMacroResolver::Bind<&TFuzzMacros::Resolve>(&macros));
  const std::u16string result = parser.Expand(text);
  FuzzCheck(!result.empty(), "FuzzTextMacros", "empty result");
  if (text.find(u"<%") == std::u16string::npos)
    FuzzCheck(result == (text.empty() ? u" " : text), "FuzzTextMacros", "text without macros changed");
  return 0;
}

}  // namespace kav
