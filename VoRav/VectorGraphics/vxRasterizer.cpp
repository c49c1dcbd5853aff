#include "VoRav/VectorGraphics/vxRasterizer.h"

#include <algorithm>
#include <cmath>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// Round to nearest, halves to even, as std::nearbyint in the default
// rounding mode: adding and removing 1.5 x 2^52 leaves the rounded value for
// magnitudes below 2^51 without a library call.
inline double RoundEven(double v) {
  constexpr double kShift = 6755399441055744.0;
  if (std::fabs(v) < 2251799813685248.0) {
    return (v + kShift) - kShift;  // kept as written: no fast-math, no reassociation
  }
  return std::nearbyint(v);
}

}  // namespace

int32_t ToSubPixel(float v) noexcept {
  const double d = std::nearbyint(double(v) * 16.0);
  if (std::isnan(d)) return 0;
  if (d < -2147483647.0) return -2147483647;
  if (d > 2147483647.0) return 2147483647;
  return int32_t(d);
}

void TOutline::Reset() {
  edges_.clear();
  sorted_.clear();
  closed_ = true;
}

void TOutline::AddEdge(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (y0 == y1) return;
  // The edge count is capped: a runaway path raises instead of exhausting memory.
  if (int64_t(edges_.size()) >= kMaxOutlineEdges) throw EOutOfMemory("Outline has too many edges");
  TRasterEdge e;
  const int64_t dy = int64_t(y1) - y0;
  const int64_t dx = int64_t(x1) - x0;
  if (dy > 0) {
    e.TopX = x0;
    e.TopY = y0;
  } else {
    e.TopX = x1;
    e.TopY = y1;
  }
  // The signed height of a full-range edge would not fit 32 bits; such an
  // edge lies outside any bitmap anyway, so its height is limited.
  e.Height = int32_t(std::clamp<int64_t>(dy, -2147483647, 2147483647));
  e.Slope = float(double(dx) / double(dy));
  edges_.push_back(e);
}

void TOutline::MoveTo(TFloatPoint p) {
  if (!closed_) AddEdge(last_x_, last_y_, start_x_, start_y_);
  start_ = p;
  start_x_ = last_x_ = ToSubPixel(p.x);
  start_y_ = last_y_ = ToSubPixel(p.y);
  closed_ = false;
}

void TOutline::AddPoint(TFloatPoint p) {
  KAV_ASSERT_MSG(!closed_, "TOutline.AddPoint Error: No Start Point or Closed Outline");
  const int32_t x = ToSubPixel(p.x);
  const int32_t y = ToSubPixel(p.y);
  AddEdge(last_x_, last_y_, x, y);
  last_x_ = x;
  last_y_ = y;
}

void TOutline::Close() {
  if (!closed_) AddEdge(last_x_, last_y_, start_x_, start_y_);
  sorted_.resize(edges_.size());
  for (size_t i = 0; i < sorted_.size(); ++i) sorted_[i] = int32_t(i);
  std::stable_sort(sorted_.begin(), sorted_.end(),
                   [this](int32_t a, int32_t b) { return edges_[size_t(a)].TopY < edges_[size_t(b)].TopY; });
  closed_ = true;
}

void TRasterizer::AddSpan(int32_t xa, int32_t xb) {
  // Crossings left of the area are limited to its left edge as well as to
  // the right one, so no column before the first is ever counted.
  xa = std::clamp(xa, 0, right_limit_);
  xb = std::clamp(xb, 0, right_limit_);
  if (xb <= xa) return;
  const int32_t ca = xa >> 4;
  const int32_t cb = xb >> 4;
  uint16_t* cov = coverage_.data();
  if (ca == cb) {
    cov[ca] = uint16_t(cov[ca] + (xb - xa));
  } else {
    cov[ca] = uint16_t(cov[ca] + (16 - (xa & 15)));
    // Whole columns in between are counted as a run (+16 from ca + 1, -16
    // from cb) and summed up once per pixel row.
    if (cb > ca + 1) {
      full_[size_t(ca) + 1] += 16;
      full_[size_t(cb)] -= 16;
    }
    if (xb & 15) cov[cb] = uint16_t(cov[cb] + (xb & 15));
  }
  const int32_t last = (xb & 15) ? cb : cb - 1;
  first_col_ = std::min(first_col_, ca);
  last_col_ = std::max(last_col_, last);
}

void TRasterizer::FlushRow(TOutline* outline, int32_t row) {
  if (last_col_ < first_col_) return;
  uint16_t* cov = coverage_.data();
  int32_t run = 0;
  for (int32_t k = first_col_; k <= last_col_; ++k) {
    run += full_[size_t(k)];
    full_[size_t(k)] = 0;
    cov[k] = uint16_t(cov[k] + run);
  }
  full_[size_t(last_col_) + 1] = 0;
  int32_t c = first_col_;
  while (c <= last_col_) {
    while (c <= last_col_ && cov[c] == 0) ++c;
    if (c > last_col_) break;
    const int32_t run_start = c;
    while (c <= last_col_ && cov[c] != 0) ++c;
    outline->OnSpan()(outline, row, run_start, c - run_start, cov + run_start);
    std::fill(cov + run_start, cov + c, uint16_t(0));
  }
  first_col_ = INT32_MAX;
  last_col_ = -1;
}

void TRasterizer::Fill(TOutline* outline, int32_t width, int32_t height) {
  if (!outline || !outline->OnSpan() || width < 1 || height < 1) return;
  if (!outline->Closed()) outline->Close();
  const int32_t n = outline->EdgeCount();
  if (n == 0) return;
  // Sub-pixel columns must fit 32 bits.
  width = std::min(width, INT32_MAX / 16);
  if (coverage_.size() < size_t(width) + 1) {
    size_t grown = std::max<size_t>(coverage_.size(), 16);
    while (grown < size_t(width) + 1) grown *= 2;
    coverage_.assign(grown, 0);
    full_.assign(grown, 0);
  }
  right_limit_ = width * 16;
  first_col_ = INT32_MAX;
  last_col_ = -1;
  active_.clear();
  const bool even_odd = outline->EvenOdd();
  const std::vector<int32_t>& sorted = outline->Sorted();
  const int64_t end_y = int64_t(height) * 16;
  int64_t y = std::max<int64_t>(0, outline->Edge(sorted[0]).TopY);
  size_t next = 0;
  while (y < end_y) {
    // Edges that start by this sub-row join; those already past it are skipped.
    while (next < sorted.size() && outline->Edge(sorted[next]).TopY <= y) {
      const TRasterEdge& e = outline->Edge(sorted[next]);
      if (int64_t(e.TopY) + std::abs(int64_t(e.Height)) > y)
        active_.push_back(TActive{0, sorted[next], e.Height < 0 ? -1 : 1});
      ++next;
    }
    if (active_.empty()) {
      if (next >= sorted.size()) break;
      // Nothing to draw until the next edge starts; a row is handed on
      // only once it is complete.
      const int64_t jump = outline->Edge(sorted[next]).TopY;
      if ((jump >> 4) != ((y - 1) >> 4)) FlushRow(outline, int32_t((y - 1) >> 4));
      y = jump;
      continue;
    }
    // x at the sub-row's centre; edges whose height is used up leave.
    int32_t inversions = 0;
    size_t kept = 0;
    for (size_t i = 0; i < active_.size(); ++i) {
      const TRasterEdge& e = outline->Edge(active_[i].Edge);
      if (int64_t(e.TopY) + std::abs(int64_t(e.Height)) <= y) continue;
      const double fx = double(e.TopX) + RoundEven((double(y - e.TopY) + 0.5) * double(e.Slope));
      const int32_t x = std::isnan(fx) ? e.TopX : int32_t(std::clamp(fx, -2147483648.0, 2147483647.0));
      if (kept > 0 && x < active_[kept - 1].X) ++inversions;
      active_[kept++] = TActive{x, active_[i].Edge, active_[i].Dir};
    }
    active_.resize(kept);
    if (inversions > 4) {
      std::sort(active_.begin(), active_.end(), [](const TActive& a, const TActive& b) { return a.X < b.X; });
    } else if (inversions > 0) {
      // A few crossings swapped places: a shaker sort puts them back.
      size_t lo = 0, hi = active_.size() - 1;
      bool swapped = true;
      while (swapped && lo < hi) {
        swapped = false;
        for (size_t i = lo; i < hi; ++i)
          if (active_[i + 1].X < active_[i].X) std::swap(active_[i], active_[i + 1]), swapped = true;
        --hi;
        for (size_t i = hi; i > lo; --i)
          if (active_[i].X < active_[i - 1].X) std::swap(active_[i], active_[i - 1]), swapped = true;
        ++lo;
      }
    }
    // Walk the crossings with the winding sum. A non-zero span is inside
    // wherever the sum is not 0: normalising the sum by the first crossing's
    // direction would leave out a figure traced the other way round when it
    // comes after another one on the same row.
    int32_t w = 0;
    for (size_t i = 0; i < active_.size(); ++i) {
      if (i > 0 && (even_odd ? (w & 1) != 0 : w != 0)) AddSpan(active_[i - 1].X, active_[i].X);
      w += active_[i].Dir;
    }
    if ((y & 15) == 15) FlushRow(outline, int32_t(y >> 4));
    ++y;
  }
  FlushRow(outline, int32_t((y - 1) >> 4));
}

}  // namespace kav
