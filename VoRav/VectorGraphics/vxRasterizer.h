// The scanline rasterizer: polygon outlines in sub-pixel units and their
// coverage per pixel.
//
// Positions are kept in 1/16 pixel: each pixel is 16 x 16 sub-pixels, so a
// pixel's coverage is a count from 0 (empty) to 256 (fully covered).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxGeometry.h"

namespace kav {

class TOutline;

// Receives the coverage of `count` touched pixels of pixel row `row`, from
// column `first` on: cells[i] (0..256) belongs to column first + i. Called
// on the thread that runs TRasterizer::Fill; `cells` is valid only during
// the call.
using TSpanCallback = TDelegate<void(TOutline* outline, int32_t row, int32_t first, int32_t count,
                                     const uint16_t* cells)>;

// One polygon edge: the upper end in 1/16 pixel, the signed height (positive
// when the edge was traced downwards) and the x change per sub-pixel row.
struct TRasterEdge {
  int32_t TopX = 0;
  int32_t TopY = 0;
  int32_t Height = 0;
  float Slope = 0;
};

// Most edges an outline holds; adding one more raises EOutOfMemory.
constexpr int32_t kMaxOutlineEdges = 1 << 22;

// Pixel coordinate to 1/16 pixel: v x 16 rounded to nearest (halves to
// even), limited to +-2147483647; NaN gives 0.
int32_t ToSubPixel(float v) noexcept;

// Figures of polygon edges. MoveTo starts a figure (closing an open one),
// AddPoint adds an edge from the last point, Close closes the open figure
// and sorts the edges by their top.
class TOutline : public TRefObject {
 public:
  void Reset();
  void MoveTo(TFloatPoint p);
  // Asserts "TOutline.AddPoint Error: No Start Point or Closed Outline"
  // when no figure is open.
  void AddPoint(TFloatPoint p);
  void Close();

  bool EvenOdd() const noexcept { return even_odd_; }
  void SetEvenOdd(bool even_odd) noexcept { even_odd_ = even_odd; }
  const TSpanCallback& OnSpan() const noexcept { return on_span_; }
  void SetOnSpan(const TSpanCallback& callback) noexcept { on_span_ = callback; }

  int32_t EdgeCount() const noexcept { return int32_t(edges_.size()); }
  const TRasterEdge& Edge(int32_t i) const noexcept { return edges_[size_t(i)]; }
  bool Closed() const noexcept { return closed_; }
  // Edge indices by top y (ties by index); valid after Close.
  const std::vector<int32_t>& Sorted() const noexcept { return sorted_; }

 private:
  void AddEdge(int32_t x0, int32_t y0, int32_t x1, int32_t y1);

  std::vector<TRasterEdge> edges_;
  bool closed_ = true;
  TFloatPoint start_{};
  int32_t last_x_ = 0;
  int32_t last_y_ = 0;
  int32_t start_x_ = 0;
  int32_t start_y_ = 0;
  std::vector<int32_t> sorted_;
  bool even_odd_ = false;
  TSpanCallback on_span_;
};

// Computes coverage row by row and hands runs of touched pixels to the
// outline's span callback. Keeps its arrays between calls.
class TRasterizer : public TRefObject {
 public:
  // Rasterises the outline (closing it first) over width x height pixels.
  // Nothing happens without a span callback, without edges, or for a size
  // below 1. Even-odd: a point is inside when its winding number is odd;
  // non-zero: when it is not 0.
  void Fill(TOutline* outline, int32_t width, int32_t height);
  // The same coverage computed the plain way: every crossing recomputed
  // from its edge on each sub-row and every span written cell by cell. Kept
  // to check the fast path against.
  void FillReference(TOutline* outline, int32_t width, int32_t height);

 private:
  void AddSpan(int32_t xa, int32_t xb);
  void FlushRow(TOutline* outline, int32_t row);
  void FlushDeltaRow(TOutline* outline, int32_t row);

  // An edge while it crosses sub-rows. Fast edges stay so far inside the
  // 32-bit range over their height (and 16 sub-rows past it) that their
  // crossings are computed several sub-rows at a time with the slope
  // formula's exact double arithmetic; the others go through the formula
  // one sub-row at a time, with its limits.
  struct TStepped {
    int32_t X;
    int32_t Dir;
    int32_t TopX;
    int32_t TopY;
    int64_t Bottom;  // first sub-row below the edge
    float Slope;
    bool Fast;
  };
  std::vector<TStepped> stepped_;
  std::vector<int32_t> xs_;  // crossings of the current band, 16 per edge
  std::vector<std::pair<int32_t, int32_t>> order_;  // crossing and direction of one sub-row
  std::vector<int32_t> delta_;  // per column: change of the coverage from the column before
  std::vector<uint16_t> row_cells_;
  int32_t delta_first_ = 0;
  int32_t delta_last_ = -1;

  struct TActive {
    int32_t X;
    int32_t Edge;
    int32_t Dir;  // winding direction: -1 traced upwards, else +1
  };
  std::vector<TActive> active_;
  std::vector<uint16_t> coverage_;
  std::vector<int32_t> full_;  // runs of whole columns, as +16 / -16 steps
  int32_t right_limit_ = 0;
  int32_t first_col_ = 0;
  int32_t last_col_ = -1;
};

}  // namespace kav
