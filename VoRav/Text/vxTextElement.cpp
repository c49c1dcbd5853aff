#include "VoRav/Text/vxTextElement.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Text/vxTextDescriptors.h"

namespace kav {

std::u16string GlyphFontKey(const std::u16string& face, uint8_t style) {
  std::u16string key = face;
  key += u':';
  key += FontStyleToText(style);
  return key;
}

TTextElement::TTextElement(const TFontDesc& font, TTextDirection direction) : direction_(direction), font_(font) {
  if (!(font_.Size > 0)) font_.Size = 8.0f;  // also catches NaN
}

void TTextElement::Dispose() {
  prefix_widths_.clear();
  suffix_widths_.clear();
  TRefObject::Dispose();
}

int32_t TTextElement::Width() {
  TTextBounds b;
  GetTextBounds(b);
  return b.Advance;
}

int32_t TTextElement::PartWidth(int32_t start, int32_t count) {
  if (start <= 0 && count == length_) return Width();
  if (count <= 0 || start < 0 || int64_t(start) + count > length_) return RangeWidth(start, count);
  if (prefix_widths_.empty()) {
    prefix_widths_.assign(size_t(length_), -1);
    suffix_widths_.assign(size_t(length_), -1);
  }
  const bool prefix = start == 0;
  const bool suffix = start + count == length_;
  if (prefix && prefix_widths_[count - 1] > 0) return prefix_widths_[count - 1];
  if (suffix && suffix_widths_[count - 1] > 0) return suffix_widths_[count - 1];
  const int32_t w = RangeWidth(start, count);
  if (prefix) prefix_widths_[count - 1] = w;
  if (suffix) suffix_widths_[count - 1] = w;
  return w;
}

int32_t TTextElement::FitCount(int32_t start, int32_t max_width, const TBreakBackProc& break_back) {
  start = std::clamp(start, 0, std::max(0, length_ - 1));
  int32_t n = length_ - start;
  if (n <= 0) return 0;
  if (start == 0 && Width() <= max_width) return n;
  while (n >= 1 && PartWidth(start, n) > max_width) {
    if (!break_back) return 0;
    const int32_t next = break_back(this, n, 0);
    // A break routine that does not shorten the count would loop forever.
    if (next >= n) return 0;
    n = next;
  }
  return std::max(n, 0);
}

void TTextElement::GetBounds(TPoint origin, TRect& out) {
  TTextBounds b;
  GetTextBounds(b);
  TTextMetrics m;
  GetFontMetrics(m);
  out.Top = origin.Y;
  out.Bottom = origin.Y + m.Height;
  const bool lines = font_.Style & (fsUnderline | fsStrikeOut);
  if (FontDescIsTransparent(font_) && !lines) {
    out.Left = origin.X + b.InkLeft;
    out.Right = out.Left + b.InkWidth;
  } else {
    out.Left = std::min(origin.X + b.InkLeft, origin.X);
    out.Right = origin.X + std::max(b.InkLeft + b.InkWidth, b.Advance);
  }
  out.Right += 1;
  if (font_.Style & fsUnderline)
    out.Bottom = std::max(out.Bottom, origin.Y + m.Ascent - UnderlinePosition() + UnderlineThickness());
}

void TTextElement::GetSize(TPoint origin, TRect& out) {
  TTextMetrics m;
  GetFontMetrics(m);
  out.Left = origin.X;
  out.Top = origin.Y;
  out.Right = origin.X + Width();
  out.Bottom = origin.Y + m.Height;
}

}  // namespace kav
