// The window surface: one 24-bit off-screen bitmap per window, shared by all
// frames of the window. Invalid areas are marked in cells of 8 x 8 pixels;
// drawing changes only pixels inside marked cells (and inside the clip), and
// the marked cells are collected into the rectangles the window must copy.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Composite/vxDrawFrames.h"
#include "VoRav/Composite/winContextWrapper.h"
#include "VoRav/Graphics/FastDIB.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxRectUtils.h"

namespace kav {

class TWinSurface : public TDrawSurface {
 public:
  static constexpr int32_t kCellSize = 8;
  // The back buffer is kept when the window shrinks by at most this much.
  static constexpr int32_t kShrinkSlack = 100;

  TWinSurface();

  // Sizes below 1 become 1. Reallocates the bitmap only when it is too
  // small or more than kShrinkSlack pixels too large in a direction.
  // Answers whether the clip rectangle is still non-empty.
  bool Resize(int32_t width, int32_t height, bool keep_content);

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  TFastDIB* Dib() const { return dib_.get(); }
  int32_t CellColumns() const { return cell_columns_; }
  int32_t CellRows() const { return cell_rows_; }
  bool CellMarked(int32_t column, int32_t row) const;
  int32_t MarkedCellCount() const;

  // Marks the cells under `rect` (surface coordinates) for repainting.
  void MarkRect(const TRect& rect);
  // Some area is marked and must still be painted and collected.
  const TRect& BoundingInvalidRect() const { return bounds_; }

  bool NeedsUpdate() const { return needs_update_; }
  void SetNeedsUpdate(bool value);
  TDelegate<void(TWinSurface*)> OnChange;

  // Drawing state: every drawing rectangle is moved by the origin and cut to
  // the clip rectangle and the paint region.
  TPoint Origin;
  const TRect& ClipRect() const { return clip_; }
  void SetClipRect(const TRect& rect);
  void SetPaintRegion(const TRect& rect) { paint_region_ = rect; }
  void ClearPaintRegion() { paint_region_ = TRect{0, 0, width_, height_}; }

  // Fills with 0xAARRGGBB: alpha 0 draws nothing, 255 writes, other values
  // blend each channel as c + ((s - c) * alpha >> 8).
  void FillRect(const TRect& rect, uint32_t color) override;
  // The first tile starts at origin + ((left - origin) div tile width) x tile
  // width (likewise vertically); tiles are drawn until they pass the edges.
  void FillTiled(const TRect& rect, TBitmap* pattern, TPoint origin) override;
  // Bitmaps without alpha are copied; bitmaps with alpha are read as
  // straight "A8R8G8B8" (premultiplied ones are un-premultiplied by the
  // conversion) and blended like FillRect.
  void DrawBitmap(TBitmap* bitmap, const TRect& rect, int32_t x, int32_t y) override;
  // Text elements of the platform text services; others draw nothing.
  void DrawText(TTextElement* element, TPoint point, const TRect& rect) override;
  // The text context, selected into this surface for its lifetime.
  TWinContextWrapper* Wrapper() const { return wrapper_.get(); }

  // Turns the marked cells into rectangles (runs of cells per row, cut to
  // the bounding invalid rectangle) and clears the marks.
  const TRectList& CollectRects();
  const TRectList& Rects() const { return rects_; }

  // Layered output: a 32-bit bitmap beside the 24-bit one, made on demand.
  void SetLayered(bool layered);
  TFastDIB* LayeredDib() const { return layered_.get(); }
  // Converts the collected rectangles into the 32-bit bitmap: alpha 255,
  // except that pure magenta becomes fully transparent (0).
  void ConvertLayered();

  // Pixels written since the last reset (tests count repainted cells).
  int64_t PixelsWritten = 0;
  // The colour of a pixel as 0xRRGGBB.
  uint32_t PixelAt(int32_t x, int32_t y) const;

 private:
  // Calls `fn(row, x0, x1)` for every span of `r` (surface coordinates,
  // already clipped) that lies in marked cells.
  template <class F>
  void ForMarkedSpans(const TRect& r, F fn);

  Ref<TFastDIB> dib_;
  Ref<TFastDIB> layered_;
  Ref<TWinContextWrapper> wrapper_;
  int32_t width_ = 1;
  int32_t height_ = 1;
  int32_t cell_columns_ = 1;
  int32_t cell_rows_ = 1;
  TRect clip_{0, 0, 1, 1};
  TRect paint_region_{0, 0, 1, 1};
  std::vector<uint8_t> cells_;
  TRect bounds_ = kEmptyInvalidRect;
  bool needs_update_ = false;
  TRectList rects_;
};

}  // namespace kav
