// Text elements laid out through the platform text services: the line is
// split into font runs by the font replacer (characters the font lacks are
// shaped with a font that has them), the runs are put in visual order and
// shaped, and carets, extents, ink bounds and glyphs are recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/Text/vxTextElement.h"
#include "VoRav/vxDelegate.h"
#include "platform/text/PlatformText.h"

namespace kav {

struct TTextRun {
  TFontDesc Font;
  int32_t Start = 0;  // 0-based into the text
  int32_t Count = 0;
  int32_t GlyphCount = 0;
  int32_t Width = 0;  // sum of the run's advances
  bool Covered = false;
  // The run's shaping, kept for drawing and for glyph records.
  std::vector<uint16_t> Glyphs;
  std::vector<int32_t> Dx;
  std::vector<int32_t> OffsetX;
  std::vector<int32_t> OffsetY;
  std::vector<ptext::TABC> Abc;
  bool AbcKnown = false;
  // The run font's ascent and descent (for glyph records).
  int32_t Ascent = 0;
  int32_t Descent = 0;
};

class TWinTextElement;
// Asked before a covered run is added; false refuses it (its characters go
// on to the fallback fonts).
using TRunFilter = TDelegate<bool(TWinTextElement* element, const TFontDesc& font)>;

class TWinTextElement : public TTextElementEx {
 public:
  TWinTextElement(const TFontDesc& font, TTextDirection direction);

  // Inserts `count` characters of `source` from `start` (both clamped) before
  // `position` (clamped to 0..length), then lays the text out again.
  void InsertText(int32_t position, const std::u16string& source, int32_t count, int32_t start);

  void GetFontMetrics(TTextMetrics& out) override;
  void GetCaretPos(int32_t index, int32_t& left, int32_t& right) override;
  bool IsClusterContinuation(int32_t index) override;
  int32_t UnderlineThickness() override;
  int32_t UnderlinePosition() override;
  int32_t RangeWidth(int32_t start, int32_t count) override;
  void GetTextBounds(TTextBounds& out) override;
  Ref<TTextElement> CreateSubElement(int32_t start, int32_t count) override;
  void GetBounds(TPoint origin, TRect& out) override;
  int32_t GlyphCount() override { return glyph_count_; }
  void GetGlyph(int32_t index, TGlyphRecord& out) override;

  // Draws the laid-out glyphs with the pen's top-left at `origin` (the
  // baseline lies the element's ascent below), clipped to `clip`.
  void DrawToDC(TPoint origin, const TRect& clip, const ptext::TTextTarget& target);

  const std::u16string& Text() const noexcept { return text_; }
  const std::vector<TTextRun>& Runs() const noexcept { return runs_; }
  // The number of the glyph that shows character `index` (0-based).
  int32_t GlyphOfChar(int32_t index) const noexcept {
    return index >= 0 && index < int32_t(glyph_of_char_.size()) ? glyph_of_char_[size_t(index)] : -1;
  }
  const TRunFilter& RunFilter() const noexcept { return run_filter_; }
  void SetRunFilter(const TRunFilter& filter) noexcept { run_filter_ = filter; }
  // True when the last layout was given up because the thread doing it was
  // asked to stop (CurrentThreadStopRequested): the element then shows
  // nothing, as one without runs.
  bool LayoutCancelled() const noexcept { return cancelled_; }

 private:
  void Layout();
  // Leaves the element laid out as one without runs (a layout given up).
  void AbandonLayout();
  void AddRun(const std::u16string& text, int32_t start, bool& accept, bool covered, const TFontDesc& font,
              int32_t count);
  void LayoutRuns();
  void OrderRuns();
  void LayoutRun(TTextRun& run, int32_t pen, TTextDirection dir, int32_t& ink_left, int32_t& ink_right);

  std::u16string text_;
  std::vector<TTextRun> runs_;
  // Each glyph's pen position in layout order: glyph records are asked for
  // one after another over texts of many thousand glyphs.
  std::vector<int32_t> glyph_pen_;
  TTextMetrics metrics_;
  TTextBounds bounds_;
  std::vector<int32_t> carets_;                         // length + 1
  std::vector<std::pair<int32_t, int32_t>> extents_;    // length + 1
  std::vector<int32_t> glyph_of_char_;                  // length
  std::vector<uint16_t> glyphs_;
  int32_t glyph_count_ = 0;
  std::vector<int32_t> advances_;                       // length + 1
  std::vector<uint8_t> line_levels_;  // embedding levels of the whole line when it is cut into runs
  TRunFilter run_filter_;
  bool cancelled_ = false;
};

// The control character that opens `dir` (0 for none).
char16_t DirectionControlChar(TTextDirection dir);

}  // namespace kav
