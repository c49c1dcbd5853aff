// Text elements: one line of text in one font, measured and shaped for
// drawing. This is the platform-neutral part (width caches, fitting and
// bounds); TWinTextElement (VoRav/Win32/Text) lays the text out through the
// platform's text services.
//
// Character positions are 0-based. An element belongs to the thread that
// uses it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/wpTypes.h"

namespace kav {

enum TTextDirection : uint8_t {
  tdNone = 0,
  tdLeftToRightEmbedding = 1,   // U+202A
  tdRightToLeftEmbedding = 2,   // U+202B
  tdLeftToRightOverride = 3,    // U+202D
  tdRightToLeftOverride = 4,    // U+202E
};

struct TTextMetrics {
  int32_t Ascent = 0;
  int32_t Descent = 0;
  int32_t Height = 0;
};

// Relative to the pen origin: x of the leftmost inked pixel, ink width,
// advance - ink left - ink width, and the sum of all advances.
struct TTextBounds {
  int32_t InkLeft = 0;
  int32_t InkWidth = 0;
  int32_t RightRemainder = 0;
  int32_t Advance = 0;
};

// One glyph of a laid-out element.
struct TGlyphRecord {
  // Face name, a colon, and the style text ("Bold,Italic"...).
  std::u16string FontKey;
  uint16_t GlyphIndex = 0;
  float FontSize = 0;
  int32_t A = 0;
  int32_t B = 0;
  int32_t C = 0;
  int32_t Advance = 0;  // A + B + C
  int32_t Ascent = 0;
  int32_t Descent = 0;
  int32_t Height = 0;  // Ascent + Descent
  // Where shaping moved the glyph from its pen position (mark placement;
  // y grows downwards).
  int32_t OffsetX = 0;
  int32_t OffsetY = 0;
  int32_t PenX = 0;  // sum of the advances before the glyph
};

// The key of a font in glyph records and glyph caches.
std::u16string GlyphFontKey(const std::u16string& face, uint8_t style);

class TTextElement;
// Given an element and a character count, the next shorter count to try
// (for instance at a word break).
using TBreakBackProc = TDelegate<int32_t(TTextElement* element, int32_t count, int32_t reserved)>;

class TTextElement : public TRefObject {
 public:
  // A size that is not above 0 (or not a number) becomes 8.
  TTextElement(const TFontDesc& font, TTextDirection direction);

  virtual void GetFontMetrics(TTextMetrics& out) = 0;
  // Left and right caret x of character `index` (clamped to -1..length-1;
  // -1 gives the start caret twice).
  virtual void GetCaretPos(int32_t index, int32_t& left, int32_t& right) = 0;
  // True when character `index` shares one glyph with the one before it.
  virtual bool IsClusterContinuation(int32_t index) = 0;
  virtual int32_t UnderlineThickness() = 0;
  // Signed, measured up from the baseline.
  virtual int32_t UnderlinePosition() = 0;
  // Measured width of characters [start, start + count).
  virtual int32_t RangeWidth(int32_t start, int32_t count) = 0;
  virtual void GetTextBounds(TTextBounds& out) = 0;
  // How many characters from `start` fit in `max_width`; shorter counts come
  // from `break_back`.
  virtual int32_t FitCount(int32_t start, int32_t max_width, const TBreakBackProc& break_back);
  virtual Ref<TTextElement> CreateSubElement(int32_t start, int32_t count) = 0;
  virtual void GetBounds(TPoint origin, TRect& out);
  // Left = x, top = y, right = x + Width, bottom = y + height.
  virtual void GetSize(TPoint origin, TRect& out);

  // Width of [start, start + count), cached for ranges at either end.
  int32_t PartWidth(int32_t start, int32_t count);
  // The advance of the whole text.
  int32_t Width();
  int32_t Length() const noexcept { return length_; }
  const TFontDesc& Font() const noexcept { return font_; }
  TTextDirection Direction() const noexcept { return direction_; }

 protected:
  void Dispose() override;

  std::vector<int32_t> prefix_widths_;
  std::vector<int32_t> suffix_widths_;
  TTextDirection direction_;
  int32_t length_ = 0;
  TFontDesc font_;
};

// Adds glyph access for drawing the text as outlines.
class TTextElementEx : public TTextElement {
 public:
  using TTextElement::TTextElement;
  virtual int32_t GlyphCount() = 0;
  // An index beyond every glyph gives the element's font key and size with
  // zero metrics.
  virtual void GetGlyph(int32_t index, TGlyphRecord& out) = 0;
};

}  // namespace kav
