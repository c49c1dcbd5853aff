#include "VoRav/VectorGraphics/vxRasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Row arrays grow by doubling from 16 and start zeroed.
template <class A, class B>
void GrowRows(A& a, B& b, size_t need) {
  if (a.size() >= need) return;
  size_t grown = std::max<size_t>(a.size(), 16);
  while (grown < need) grown *= 2;
  a.assign(grown, 0);
  b.assign(grown, 0);
}

// The crossing of an edge at sub-row y (at the sub-row's centre), from its
// slope.
inline int32_t CrossingFromSlope(int32_t top_x, int64_t top_y, float slope, int64_t y) {
  const double fx = double(top_x) + RoundEven((double(y - top_y) + 0.5) * double(slope));
  return std::isnan(fx) ? top_x : int32_t(std::clamp(fx, -2147483648.0, 2147483647.0));
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

void TRasterizer::FillReference(TOutline* outline, int32_t width, int32_t height) {
  if (!outline || !outline->OnSpan() || width < 1 || height < 1) return;
  if (!outline->Closed()) outline->Close();
  const int32_t n = outline->EdgeCount();
  if (n == 0) return;
  // Sub-pixel columns must fit 32 bits.
  width = std::min(width, INT32_MAX / 16);
  GrowRows(coverage_, full_, size_t(width) + 1);
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
      const int32_t x = CrossingFromSlope(e.TopX, e.TopY, e.Slope, y);
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

namespace {

using TVec4d = double __attribute__((vector_size(32)));
using TVec4i = int32_t __attribute__((vector_size(16)));

// A fast edge's crossings at sub-rows y .. y + count - 1 (rounded up to a
// multiple of 4 written), `base` being y - top + 0.5: the slope formula four
// sub-rows at a time. Every product is exact (a 24-bit slope times a value
// below 2^33) and the rounding is the same add and remove of 1.5 x 2^52.
inline void FastCrossings(int32_t top_x, double base, float slope, int32_t count, int32_t* out) {
  constexpr double kShift = 6755399441055744.0;
  const TVec4d lanes = {0.0, 1.0, 2.0, 3.0};
  const double m = double(slope);
  for (int32_t j = 0; j < count; j += 4) {
    const TVec4d t = (base + double(j)) + lanes;
    const TVec4d r = ((t * m) + kShift) - kShift;
    const TVec4i x = __builtin_convertvector(r, TVec4i) + top_x;
    std::memcpy(out + j, &x, sizeof x);
  }
}

// True when an edge's crossings, over its height and 16 sub-rows past it,
// stay well inside the 32-bit range, so the slope formula's limits never
// apply and the vector conversion is exact.
inline bool CrossingsFit(int32_t top_x, int64_t height, float slope) {
  return std::fabs(double(top_x)) + (double(height) + 18.0) * std::fabs(double(slope)) + 2.0 < 2147483647.0;
}

}  // namespace

void TRasterizer::FlushDeltaRow(TOutline* outline, int32_t row) {
  if (delta_last_ < delta_first_) return;
  // One pass sums the difference row up, clears it and hands each run of
  // non-zero cells on as soon as it ends. Inside a figure and outside it
  // the difference row is mostly zero.
  int32_t* d = delta_.data();
  uint16_t* cells = row_cells_.data();
  int32_t sum = 0;
  int32_t run_start = -1;
  const int32_t last = delta_last_;
  int32_t k = delta_first_;
  auto step = [&](int32_t col) {
    sum += d[col];
    d[col] = 0;
    cells[col] = uint16_t(sum);
    if (sum != 0) {
      if (run_start < 0) run_start = col;
    } else if (run_start >= 0) {
      outline->OnSpan()(outline, row, run_start, col - run_start, cells + run_start);
      run_start = -1;
    }
  };
#if defined(__SSE2__)
  // Four columns at a time: a zero group keeps the sum; otherwise the
  // group's running sums come from two shifted adds, and a group wholly
  // inside a run or wholly outside needs no run bookkeeping.
  const __m128i zero = _mm_setzero_si128();
  while (k + 4 <= last + 1) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + k));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(v, zero)) == 0xFFFF) {
      if (sum != 0) {
        const uint64_t four = uint64_t(uint16_t(sum)) * 0x0001000100010001ull;
        std::memcpy(cells + k, &four, 8);
      }
      k += 4;
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k), zero);
    v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
    v = _mm_add_epi32(v, _mm_slli_si128(v, 8));
    v = _mm_add_epi32(v, _mm_set1_epi32(sum));
    // The low 16 bits of each sum, as the one-column step keeps them.
    __m128i low = _mm_shufflelo_epi16(v, _MM_SHUFFLE(3, 3, 2, 0));
    low = _mm_shufflehi_epi16(low, _MM_SHUFFLE(3, 3, 2, 0));
    low = _mm_shuffle_epi32(low, _MM_SHUFFLE(3, 3, 2, 0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cells + k), low);
    const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi32(v, zero));
    const int32_t sums[4] = {_mm_cvtsi128_si32(v), _mm_cvtsi128_si32(_mm_shuffle_epi32(v, 1)),
                             _mm_cvtsi128_si32(_mm_shuffle_epi32(v, 2)), _mm_cvtsi128_si32(_mm_shuffle_epi32(v, 3))};
    sum = sums[3];
    if (!(zeros == 0 && run_start >= 0) && !(zeros == 0xFFFF && run_start < 0)) {
      for (int32_t i = 0; i < 4; ++i) {
        const int32_t col = k + i;
        if (sums[i] != 0) {
          if (run_start < 0) run_start = col;
        } else if (run_start >= 0) {
          outline->OnSpan()(outline, row, run_start, col - run_start, cells + run_start);
          run_start = -1;
        }
      }
    }
    k += 4;
  }
#endif
  for (; k <= last; ++k) step(k);
  if (run_start >= 0) outline->OnSpan()(outline, row, run_start, last + 1 - run_start, cells + run_start);
  delta_first_ = INT32_MAX;
  delta_last_ = -1;
}

// The same coverage as FillReference, computed faster. Sub-rows go in bands
// within a pixel row during which no edge joins or leaves. A band's
// crossings of an edge are computed together (see FastCrossings). When the
// edges keep one left-to-right order over the whole band, the winding walk is
// done once for the band: each edge then either opens an inside span, closes
// one or neither on every sub-row of it. An inside span adds only its two
// ends to a per-column difference row (the start column gets the sub-pixels
// it holds, the next column the rest up to 16; the end the same negated),
// which one running sum per pixel row turns into the coverage counts.
void TRasterizer::Fill(TOutline* outline, int32_t width, int32_t height) {
  if (!outline || !outline->OnSpan() || width < 1 || height < 1) return;
  if (!outline->Closed()) outline->Close();
  const int32_t n = outline->EdgeCount();
  if (n == 0) return;
  // One column short of the plain path's limit: the difference row needs
  // a column past the right edge.
  width = std::min(width, INT32_MAX / 16 - 1);
  GrowRows(delta_, row_cells_, size_t(width) + 2);
  const int32_t right = width * 16;
  delta_first_ = INT32_MAX;
  delta_last_ = -1;
  stepped_.clear();
  const bool even_odd = outline->EvenOdd();
  auto inside = [even_odd](int32_t w) { return even_odd ? (w & 1) != 0 : w != 0; };
  const std::vector<int32_t>& sorted = outline->Sorted();
  const int64_t end_y = int64_t(height) * 16;
  int64_t y = std::max<int64_t>(0, outline->Edge(sorted[0]).TopY);
  size_t next = 0;
  int32_t* d = delta_.data();
  // The touched columns are kept in locals while a band is added: the
  // members could alias the difference row.
  int32_t touched_first = INT32_MAX, touched_last = -1;
  auto cross = [&](int32_t x, int32_t sign) {
    x = std::clamp(x, 0, right);
    const int32_t c = x >> 4, f = x & 15;
    d[c] += sign * (16 - f);
    d[c + 1] += sign * f;
    touched_first = std::min(touched_first, c);
    touched_last = std::max(touched_last, c + 1);
  };
  auto flush = [&](int64_t row) {
    delta_first_ = std::min(delta_first_, touched_first);
    delta_last_ = std::max(delta_last_, touched_last);
    touched_first = INT32_MAX;
    touched_last = -1;
    FlushDeltaRow(outline, int32_t(row));
  };
  while (y < end_y) {
    while (next < sorted.size() && outline->Edge(sorted[next]).TopY <= y) {
      const TRasterEdge& e = outline->Edge(sorted[next]);
      const int64_t height_abs = std::abs(int64_t(e.Height));
      if (int64_t(e.TopY) + height_abs > y) {
        TStepped s{};
        s.Dir = e.Height < 0 ? -1 : 1;
        s.Bottom = int64_t(e.TopY) + height_abs;
        s.TopX = e.TopX;
        s.TopY = e.TopY;
        s.Slope = e.Slope;
        s.Fast = CrossingsFit(e.TopX, height_abs, e.Slope);
        stepped_.push_back(s);
      }
      ++next;
    }
    // Edges whose height is used up leave; the band ends at the pixel row's
    // end, the next edge's top or the first bottom, whichever comes first.
    int64_t band_end = std::min(end_y, (y | 15) + 1);
    if (next < sorted.size()) band_end = std::min<int64_t>(band_end, outline->Edge(sorted[next]).TopY);
    size_t kept = 0;
    TStepped* a = stepped_.data();
    for (size_t i = 0; i < stepped_.size(); ++i) {
      if (a[i].Bottom <= y) continue;
      band_end = std::min(band_end, a[i].Bottom);
      if (kept != i) a[kept] = a[i];
      TStepped& s = a[kept++];
      s.X = CrossingFromSlope(s.TopX, s.TopY, s.Slope, y);
    }
    stepped_.resize(kept);
    if (kept == 0) {
      if (next >= sorted.size()) break;
      // Nothing to draw until the next edge starts; a row is handed on
      // only once it is complete.
      const int64_t jump = outline->Edge(sorted[next]).TopY;
      if ((jump >> 4) != ((y - 1) >> 4)) flush((y - 1) >> 4);
      y = jump;
      continue;
    }
    // Mostly in order from the sub-row before: insertion sort, whatever the
    // number of inversions (the coverage does not depend on the method).
    for (size_t i = 1; i < kept; ++i) {
      if (!(a[i].X < a[i - 1].X)) continue;
      const TStepped s = a[i];
      size_t j = i;
      while (j > 0 && s.X < a[j - 1].X) {
        a[j] = a[j - 1];
        --j;
      }
      a[j] = s;
    }
    const int32_t band = int32_t(band_end - y);
    if (xs_.size() < kept * 16) xs_.resize(kept * 16);
    int32_t* xs = xs_.data();
    for (size_t i = 0; i < kept; ++i) {
      const TStepped& s = a[i];
      int32_t* out = xs + i * 16;
      if (s.Fast) {
        FastCrossings(s.TopX, double(y - s.TopY) + 0.5, s.Slope, band, out);
      } else {
        for (int32_t j = 0; j < band; ++j) out[j] = CrossingFromSlope(s.TopX, s.TopY, s.Slope, y + j);
      }
    }
    // A fast edge's crossing is TopX plus the rounded value of an affine
    // function of the sub-row, within 1/2 of it. Two fast edges 2 or more
    // apart at both ends of the band are at least 1 apart in value over all
    // of it, so their rounded crossings keep their order; other pairs are
    // compared sub-row by sub-row.
    bool ordered = true;
    for (size_t i = 1; i < kept && ordered; ++i) {
      const int32_t* lo = xs + (i - 1) * 16;
      const int32_t* hi = xs + i * 16;
      if (a[i].Fast && a[i - 1].Fast && int64_t(hi[0]) - lo[0] >= 2 &&
          int64_t(hi[band - 1]) - lo[band - 1] >= 2)
        continue;
      for (int32_t j = 0; j < band; ++j)
        if (hi[j] < lo[j]) {
          ordered = false;
          break;
        }
    }
    if (ordered) {
      int32_t w = 0;
      for (size_t i = 0; i < kept; ++i) {
        const bool before = inside(w);
        w += a[i].Dir;
        const int32_t sign = (i + 1 < kept && inside(w) ? 1 : 0) - (i > 0 && before ? 1 : 0);
        if (sign == 0) continue;
        const int32_t* in = xs + i * 16;
        // A straight edge's crossings are monotonic, so its first and last
        // bound the columns it touches.
        const int32_t first = in[0], last = in[band - 1];
        if (a[i].Fast && first >= 0 && last >= 0 && first <= right && last <= right && (first >> 4) == (last >> 4)) {
          // All in one column: the parts come from the crossings' sum.
          int64_t sum = 0;
          for (int32_t j = 0; j < band; ++j) sum += in[j];
          const int32_t col = first >> 4;
          const int32_t after = int32_t(sum - int64_t(16) * col * band);
          d[col] += sign * (16 * band - after);
          d[col + 1] += sign * after;
          touched_first = std::min(touched_first, col);
          touched_last = std::max(touched_last, col + 1);
          continue;
        }
        // Crossings of one edge mostly stay in one column for several
        // sub-rows: their parts are summed before the row is touched.
        int32_t col = std::clamp(first, 0, right) >> 4;
        int32_t here = 0, after = 0;
        for (int32_t j = 0; j < band; ++j) {
          const int32_t x = std::clamp(in[j], 0, right);
          const int32_t c = x >> 4, f = x & 15;
          if (c != col) {
            d[col] += sign * here;
            d[col + 1] += sign * after;
            col = c;
            here = after = 0;
          }
          here += 16 - f;
          after += f;
        }
        d[col] += sign * here;
        d[col + 1] += sign * after;
        const int32_t c0 = std::clamp(first, 0, right) >> 4, c1 = std::clamp(last, 0, right) >> 4;
        touched_first = std::min(touched_first, std::min(c0, c1));
        touched_last = std::max(touched_last, std::max(c0, c1) + 1);
      }
    } else {
      // Edges cross inside the band: each sub-row is sorted and walked on
      // its own.
      for (int32_t j = 0; j < band; ++j) {
        order_.clear();
        for (size_t i = 0; i < kept; ++i) order_.push_back({xs[i * 16 + size_t(j)], a[i].Dir});
        std::sort(order_.begin(), order_.end(), [](const auto& p, const auto& q) { return p.first < q.first; });
        int32_t w = 0;
        for (size_t i = 0; i < order_.size(); ++i) {
          if (i > 0 && inside(w)) {
            cross(order_[i - 1].first, 1);
            cross(order_[i].first, -1);
          }
          w += order_[i].second;
        }
      }
    }
    y = band_end;
    if ((y & 15) == 0) flush((y - 1) >> 4);
  }
  flush((y - 1) >> 4);
}

}  // namespace kav
