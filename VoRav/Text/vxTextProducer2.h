// Vector text and the text producer: a text as lines of glyphs, laid out
// line under line and rasterised from the glyph outlines into one bitmap
// that becomes an image store like any picture.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "VoRav/Graphics/vxColor.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/SysObj2.h"
#include "VoRav/Text/vxTextElement.h"
#include "VoRav/Text/vxTextVectorizer.h"
#include "VoRav/VectorGraphics/vxRasterizerUtils.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/wpTypes.h"

namespace kav {

// Glyphs of a line between two looks at the stop flag of the thread (a
// title of a million characters is one line).
constexpr int32_t kStopCheckGlyphs = 1024;

struct TLineBounds {
  int32_t InkLeft = 0;
  int32_t InkWidth = 0;
  int32_t RightRemainder = 0;
  int32_t Advance = 0;
  int32_t Ascent = 0;
  int32_t Descent = 0;
  int32_t Height = 0;  // Ascent + Descent
};

class TVectorText : public TRefObject {
 public:
  int32_t LineCount() const noexcept { return line_count_; }
  const TFontMetricsRec& FontMetrics() const noexcept { return metrics_; }

  virtual void GetLineBounds(int32_t line, TLineBounds& out) = 0;
  virtual int32_t GetGlyphCount(int32_t line) = 0;
  // Appends the glyph's outline in text units, relative to its pen position.
  virtual void OutlineGlyph(int32_t line, int32_t glyph, TPointArray& target) = 0;
  virtual void GetGlyphInfo(int32_t line, int32_t glyph, TGlyphRecord& out) = 0;

 protected:
  int32_t line_count_ = 0;
  TFontMetricsRec metrics_;
};

// Line bounds over glyph records: ink and advance from pen positions and
// ABC widths, the largest ascent and descent. `fallback` gives the ascent
// and descent of a line without glyphs.
void LineBoundsOfGlyphs(const std::vector<TGlyphRecord>& glyphs, const TFontMetricsRec& fallback, TLineBounds& out);

// Lines laid out live through a vectorizer.
class TSimpleVectorText : public TVectorText {
 public:
  TSimpleVectorText(TVectorizer* vectorizer, const TFontDesc& font, const std::vector<std::u16string>& lines);
  void GetLineBounds(int32_t line, TLineBounds& out) override;
  int32_t GetGlyphCount(int32_t line) override;
  void OutlineGlyph(int32_t line, int32_t glyph, TPointArray& target) override;
  void GetGlyphInfo(int32_t line, int32_t glyph, TGlyphRecord& out) override;

 private:
  // Outlines read so far, per font key and size, by glyph index: a glyph
  // that recurs in the text is read from its font once.
  struct TFontOutlines {
    std::u16string FontKey;
    float FontSize = 0;
    std::unordered_map<uint16_t, std::vector<TPathPoint>> Glyphs;
  };

  Ref<TVectorizer> vectorizer_;
  std::vector<Ref<TTextElementEx>> lines_;
  std::vector<TFontOutlines> outlines_;
};

// A simple vector text in `font` through the installed vectorizer; null when
// no vectorizer is installed.
Ref<TVectorText> NewSimpleVectorText(const TFontDesc& font, const std::vector<std::u16string>& lines);

class TTextProducer : public TRefObject {
 public:
  // Asked after each line; true stops the drawing.
  using TAbortProc = TDelegate<bool()>;

  void SetSource(TVectorText* text, bool owns);
  TVectorText* Source() const noexcept { return text_; }
  uint8_t Alignment() const noexcept { return alignment_; }
  void SetAlignment(uint8_t alignment) noexcept { alignment_ = alignment; }
  float LineSpacing() const noexcept { return line_spacing_; }
  // Extra space between lines in percent of half a line (200 doubles it).
  void SetLineSpacing(float spacing) noexcept { line_spacing_ = spacing; }
  void SetAbortCallback(const TAbortProc& abort) noexcept { abort_ = abort; }
  // On (the default), each glyph shape is rasterised once per scale and
  // fraction of a pixel and blended from that mask; off draws every glyph's
  // outline directly, the plain path the masks are checked against.
  void SetGlyphMasks(bool on) noexcept { glyph_masks_ = on; }

  // The text rendered in `color` over `background` (a transparent background
  // leaves the alpha as drawn) into a new image named `name`, at `scale`
  // pixels per text unit, `origin` added to every position. Null without a
  // source. The bitmap is capped at the bitmap limits.
  Ref<TImage> Produce(TColor32 color, TColor32 background, const std::u16string& name, TPoint origin,
                      bool strike_out, bool underline, float scale);
  Ref<TImage> ProduceText(TColor32 color, TColor32 background, float scale);
  // The picture Produce(color, background, .., TPoint{}, strike_out,
  // underline, scale) makes, painted a part at a time so that it is never
  // whole in memory. OpenParts lays the text out and notes the pixels each
  // glyph inks, and answers the picture's size; false (nothing opened) when
  // the thread was asked to stop, or when a part could not be painted alone
  // with the same pixels: a glyph too large for a mask is drawn straight
  // from its outline, whose curves are split where they lie.
  bool OpenParts(TColor32 color, TColor32 background, bool strike_out, bool underline, float scale, TSize& size);
  // Paints `rect` (inside the opened picture) into rows[0 .. rect.Height()),
  // rect.Width() x 4 bytes each. False when nothing is open or the thread
  // was asked to stop.
  bool PaintPart(const TRect& rect, uint8_t* const* rows);
  // The text body's rectangle inside the produced bitmap.
  void GetBoundsRect(TRect& out, float line_spacing, float scale);
  // The produced bitmap's size.
  void GetPixelSize(TSize& out, float line_spacing, float scale);
  float LineHeight(float scale);

 protected:
  void Dispose() override;

 private:
  struct TLayout {
    std::vector<TLineBounds> bounds;
    std::vector<TRect> rects;
    std::vector<float> y;  // top of each line box
    float text_width = 0;
    float total_height = 0;
    float left_overhang = 0;
    float right_overhang = 0;
    float max_ascent = 0;
    float max_descent = 0;
    bool given_up = false;  // the thread was asked to stop: lines are missing
  };
  void LayoutLines(TLayout& l, float line_spacing, float scale);
  TSize PixelSize(const TLayout& l, float scale);
  TFloatPoint MapPoint(TFloatPoint p);
  // MapPoint less the top left of the part being painted.
  TFloatPoint MapPartPoint(TFloatPoint p);
  // Where line `line` starts (its left edge and its baseline).
  void LinePosition(const TLayout& l, int32_t line, TPoint origin, float& x, float& y) const;
  // Hands the outline of each glyph of line `line`, whose start is (x, y),
  // to visit(outline) (an empty one for a glyph without), placed at
  // (glyph_x_, glyph_y_); `index` counts the glyphs in drawing order, and
  // one that skip(index) holds for is passed over unread. False when the
  // thread was asked to stop or visit answered false.
  template <class Skip, class Visit>
  bool VisitGlyphs(int32_t line, float x, float y, size_t& index, TPointArray& path, Skip skip, Visit visit);
  // Draws the lines into raster_'s target; with `part`, only the glyphs
  // inking it (the target then shows that part). False when the thread was
  // asked to stop.
  bool DrawLines(const TLayout& l, TPoint origin, TColor32 color, bool strike_out, bool underline,
                 const TRect* part);
  // Draws the glyph outline at (glyph_x_, glyph_y_) through the glyph
  // coverage cache; false when the glyph does not fit the cache (drawn
  // directly then).
  bool DrawCachedGlyph(const TPointArray& path, TColor32 color);

  // A glyph's coverage at one scale and one fraction of a pixel of its
  // position, as the alpha painting it in opaque white gives.
  struct TGlyphMask;
  // The rectangle of the mask of `path` at the fraction (fx, fy) of a pixel
  // into m.Left .. m.Height; false when the glyph does not fit a mask.
  bool MaskBounds(const TPointArray& path, float fx, float fy, TGlyphMask& m) const;

  struct TGlyphMask {
    std::vector<TPathPoint> Path;
    float Scale = 0;
    float FracX = 0;
    float FracY = 0;
    int32_t Left = 0;  // offset from the whole-pixel position
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Alpha;
    std::vector<std::pair<int32_t, int32_t>> Inked;  // per row: columns from, to of its non-zero alpha
  };

  Ref<TVectorText> source_;  // holds a reference only when owned
  TVectorText* text_ = nullptr;
  Ref<TRasterHelper> raster_;
  Ref<TRasterHelper> mask_raster_;
  std::unordered_map<uint64_t, std::vector<TGlyphMask>> masks_;
  size_t mask_bytes_ = 0;
  bool glyph_masks_ = true;
  std::array<TColor32, 256> mask_colors_{};  // by mask alpha, for mask_color_
  TColor32 mask_color_ = 0;
  bool mask_colors_valid_ = false;
  float glyph_x_ = 0;
  float glyph_y_ = 0;
  // The part being painted: its top left, subtracted from every position.
  int32_t part_x_ = 0;
  int32_t part_y_ = 0;
  // What OpenParts laid out; Inks holds, glyph by glyph in drawing order,
  // the pixels its mask covers (empty for a glyph without outline).
  struct TParts {
    TLayout Layout;
    TColor32 Color = 0;
    TColor32 Background = 0;
    bool StrikeOut = false;
    bool Underline = false;
    float Scale = 1;
    TSize Size;
    std::vector<TRect> Inks;
  };
  std::unique_ptr<TParts> parts_;
  float scale_ = 1;
  float line_spacing_ = 0;
  uint8_t alignment_ = 0;
  TAbortProc abort_;
};

}  // namespace kav
