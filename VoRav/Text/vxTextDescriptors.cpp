#include "VoRav/Text/vxTextDescriptors.h"

namespace kav {
namespace {

constexpr const char16_t* kStyleNames[4] = {u"Bold", u"Italic", u"Underline", u"StrikeOut"};

}  // namespace

std::u16string FontStyleToText(uint8_t style) {
  std::u16string text;
  for (int bit = 0; bit < 4; ++bit) {
    if (!(style & (1 << bit))) continue;
    if (!text.empty()) text += u',';
    text += kStyleNames[bit];
  }
  return text;
}

uint8_t FontStyleFromText(std::u16string_view text) {
  uint8_t style = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(u',', pos);
    if (comma == std::u16string_view::npos) comma = text.size();
    const std::u16string_view part = text.substr(pos, comma - pos);
    for (int bit = 0; bit < 4; ++bit)
      if (part == kStyleNames[bit]) style |= uint8_t(1 << bit);
    pos = comma + 1;
  }
  return style;
}

}  // namespace kav
