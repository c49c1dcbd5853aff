#include "VoRav/VectorGraphics/vxRasterizerUtils.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "VoRav/VectorGraphics/vxSvgUtils.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {
std::atomic<int64_t> g_split_budget{kMaxPathSplits};
}  // namespace

int64_t PathSplitBudget() noexcept { return g_split_budget.load(std::memory_order_relaxed); }

int64_t SetPathSplitBudget(int64_t budget) noexcept {
  return g_split_budget.exchange(std::clamp<int64_t>(budget, 1, kMaxPathSplits), std::memory_order_relaxed);
}

namespace {

float ClampCoordinate(float v) {
  if (v > kMaxRasterCoordinate) return kMaxRasterCoordinate + 1;
  if (v < -kMaxRasterCoordinate) return -kMaxRasterCoordinate - 1;
  return v;
}

bool ChordIsFlat(void*, TFloatPoint a, TFloatPoint b, TFloatPoint m) {
  if (!(std::fabs(b.x - a.x) < 2 && std::fabs(b.y - a.y) < 2)) return false;
  return std::fabs(m.x - (a.x + b.x) * 0.5f) < 1 && std::fabs(m.y - (a.y + b.y) * 0.5f) < 1;
}

}  // namespace

TRasterHelper::TRasterHelper() : rasterizer_(MakeRef<TRasterizer>()), outline_(MakeRef<TOutline>()) {
  outline_->SetOnSpan(TSpanCallback::Bind<&TRasterHelper::WriteSpan>(this));
  stroke_points_.reserve(64);
}

void TRasterHelper::Dispose() {
  // Disposing while painting is reported, not raised: an exception out of
  // the last release would end the program.
  if (target_) DebugOutput("Previous TRasterHelper.BeginPaint not Closed");
  target_ = nullptr;
  outline_ = nullptr;
  rasterizer_ = nullptr;
  TRefObject::Dispose();
}

void TRasterHelper::BeginPaint(int32_t width, int32_t height, TColor32 color) {
  KAV_ASSERT_MSG(!target_, "Previous TRasterHelper.BeginPaint not Closed");
  KAV_ASSERT_MSG(width >= 1 && height >= 1, "TRasterHelper.BeginPaint: W or H = 0");
  Ref<TDirectBitmap> b = MakeRef<TDirectBitmap>(width, height, StdFormats().A8R8G8B8);
  // The pixels start zeroed; another colour is written into the first row
  // as whole 32-bit words and that row copied into the others.
  if (color != 0) {
    uint8_t* first = b->Row(0);
    for (int32_t x = 0; x < width; ++x) std::memcpy(first + size_t(x) * 4, &color, 4);
    for (int32_t y = 1; y < height; ++y) std::memcpy(b->Row(y), first, size_t(width) * 4);
  }
  target_ = std::move(b);
  fill_color_ = color;
}

void TRasterHelper::BeginPaintClear(int32_t width, int32_t height) {
  const TColor32 keep = fill_color_;
  BeginPaint(width, height, ColorSetAlpha(fill_color_, 0));
  fill_color_ = keep;
}

Ref<TDirectBitmap> TRasterHelper::EndPaint() {
  KAV_ASSERT_MSG(target_, "No Previous Call of TRasterHelper.BeginPaint");
  return std::move(target_);
}

void TRasterHelper::Transform(const TAffineMatrix& m) {
  matrix_ = AffineMultiply(has_matrix_ ? matrix_ : AffineIdentity(), m);
  has_matrix_ = true;
  transform_ = nullptr;
}

void TRasterHelper::SetPointTransform(const TPointTransform& transform) {
  transform_ = transform;
  has_matrix_ = false;
}

bool TRasterHelper::MapPoint(TFloatPoint p, TFloatPoint& out) const {
  if (transform_) {
    out = transform_(p);
  } else if (has_matrix_) {
    AffineTransformPoint(matrix_, p.x, p.y, out.x, out.y);
  } else {
    out = p;
  }
  // A point that is not a number has no place on the bitmap: the path is
  // refused as malformed (infinite ones are clamped below).
  if (std::isnan(out.x) || std::isnan(out.y)) return false;
  out.x = ClampCoordinate(out.x);
  out.y = ClampCoordinate(out.y);
  return true;
}

void TRasterHelper::PathMoveTo(TFloatPoint p) {
  current_ = p;
  if (stroke_mode_ == 0) {
    outline_->MoveTo(p);
    return;
  }
  FlushStroke();
  stroke_points_.push_back(p);
}

void TRasterHelper::PathLineTo(TFloatPoint p) {
  current_ = p;
  if (stroke_mode_ == 0)
    outline_->AddPoint(p);
  else
    stroke_points_.push_back(p);
}

void TRasterHelper::FlushStroke() {
  const size_t n = stroke_points_.size();
  if (n >= 2) {
    const float half = stroke_width_ * 0.5f;
    auto normal = [&](TFloatPoint a, TFloatPoint b, TFloatPoint& nv) {
      const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
      const double len = std::sqrt(dx * dx + dy * dy);
      if (!(len > 0) || !std::isfinite(len)) return false;
      nv = TFloatPoint{float(dy / len * half), float(-dx / len * half)};
      return true;
    };
    bool started = false;
    auto add = [&](TFloatPoint p) {
      if (!started) {
        outline_->MoveTo(p);
        started = true;
      } else {
        outline_->AddPoint(p);
      }
    };
    TFloatPoint nv;
    for (size_t i = 0; i + 1 < n; ++i) {
      const TFloatPoint a = stroke_points_[i], b = stroke_points_[i + 1];
      if (!normal(a, b, nv)) continue;
      add(TFloatPoint{a.x + nv.x, a.y + nv.y});
      add(TFloatPoint{b.x + nv.x, b.y + nv.y});
    }
    if (stroke_mode_ == 1) started = false;
    for (size_t i = n - 1; i > 0; --i) {
      const TFloatPoint a = stroke_points_[i], b = stroke_points_[i - 1];
      if (!normal(a, b, nv)) continue;
      add(TFloatPoint{a.x + nv.x, a.y + nv.y});
      add(TFloatPoint{b.x + nv.x, b.y + nv.y});
    }
  }
  stroke_points_.clear();
}

void TRasterHelper::Rasterize() {
  const int32_t w = std::min(target_->Width(), clip_.Right);
  const int32_t h = std::min(target_->Height(), clip_.Bottom);
  if (w > 0 && h > 0) rasterizer_->Fill(outline_.get(), w, h);
}

bool TRasterHelper::DrawPath(std::span<const TPathPoint> path, bool even_odd) {
  KAV_ASSERT_MSG(target_, "No Previous Call of TRasterHelper.BeginPaint");
  outline_->Reset();
  stroke_points_.clear();
  if (stroke_mode_ != 0 && !(stroke_width_ >= 0.0001f)) return true;
  outline_->SetEvenOdd(stroke_mode_ == 0 ? even_odd : false);

  struct TFlattenSink {
    static void Line(void* data, float x, float y) { static_cast<TRasterHelper*>(data)->PathLineTo(TFloatPoint{x, y}); }
  };
  TFlattenContext ctx;
  ctx.AddLine = &TFlattenSink::Line;
  ctx.IsFlat = &ChordIsFlat;
  ctx.Data = this;
  ctx.SplitBudget = PathSplitBudget();

  const size_t n = path.size();
  bool need_move = true;
  size_t i = 0;
  while (i < n) {
    const int32_t cmd = path[i].Command;
    if (cmd == kPathClose) {
      need_move = true;
      ++i;
      continue;
    }
    if (need_move && cmd != kPathMove) return false;
    // An unknown command in path data is malformed input, answered false
    // rather than failing an assertion.
    const size_t count = cmd == kPathQuadratic ? 2 : cmd == kPathCubic ? 3 : 1;
    if (cmd != kPathMove && cmd != kPathLine && cmd != kPathQuadratic && cmd != kPathCubic) return false;
    if (i + count > n) return false;
    TFloatPoint p[3];
    for (size_t k = 0; k < count; ++k)
      if (!MapPoint(TFloatPoint{path[i + k].x, path[i + k].y}, p[k])) return false;
    switch (cmd) {
      case kPathMove:
        PathMoveTo(p[0]);
        need_move = false;
        break;
      case kPathLine:
        PathLineTo(p[0]);
        break;
      case kPathQuadratic:
        ctx.P[0] = current_;
        ctx.P[1] = p[0];
        ctx.P[2] = p[1];
        FlattenQuadratic(ctx, current_, p[1], 32, 1.0, 0.0);
        break;
      default:
        ctx.P[0] = current_;
        ctx.P[1] = p[0];
        ctx.P[2] = p[1];
        ctx.P[3] = p[2];
        FlattenCubic(ctx, current_, p[2], 32, 1.0, 0.0);
        break;
    }
    i += count;
  }
  if (stroke_mode_ != 0) FlushStroke();
  Rasterize();
  return true;
}

bool TRasterHelper::FillOutline(std::span<const TFloatPoint> points, bool even_odd) {
  KAV_ASSERT_MSG(target_, "No Previous Call of TRasterHelper.BeginPaint");
  outline_->Reset();
  outline_->SetEvenOdd(even_odd);
  for (size_t i = 0; i < points.size(); ++i) {
    TFloatPoint p;
    if (!MapPoint(points[i], p)) {
      outline_->Reset();
      return false;
    }
    if (i == 0)
      outline_->MoveTo(p);
    else
      outline_->AddPoint(p);
  }
  Rasterize();
  return true;
}

void TRasterHelper::WriteSpan(TOutline*, int32_t row, int32_t first, int32_t count, const uint16_t* cells) {
  if (row < clip_.Top || !target_) return;
  int32_t x = std::max(first, clip_.Left);
  const int32_t end = first + count;
  uint8_t* line = target_->Row(row);
  if (!gradient_) {
    // One colour: only its alpha changes with the coverage.
    const TColor32 color = fill_color_;
    const uint32_t alpha = ColorAlpha(color);
    // Every source pixel is the colour with its alpha scaled by the
    // coverage (a full cell keeps the colour as it is).
#if defined(__SSE2__)
    // Four pixels at a time wherever "over" needs no blend: where the
    // scaled alpha is 0 the target stays, where it is full or the target
    // is empty the source replaces it.
    const __m128i zero = _mm_setzero_si128();
    const __m128i rgb = _mm_set1_epi32(int32_t(color & 0x00FFFFFFu));
    const __m128i alpha16 = _mm_set1_epi16(int16_t(alpha));
    const __m128i full = _mm_set1_epi32(255);
    const __m128i max_cell = _mm_set1_epi16(256);
    for (; x + 4 <= end; x += 4) {
      __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cells + (x - first)));
      // Cells above 256 count as full, as below.
      c = _mm_sub_epi16(c, _mm_subs_epu16(c, max_cell));
      // alpha x cell is at most 255 x 256, within 16 bits.
      const __m128i sa = _mm_unpacklo_epi16(_mm_srli_epi16(_mm_mullo_epi16(c, alpha16), 8), zero);
      uint8_t* at = line + size_t(x) * 4;
      const __m128i dst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
      const __m128i da = _mm_srli_epi32(dst, 24);
      const __m128i keep = _mm_cmpeq_epi32(sa, zero);
      const __m128i replace = _mm_or_si128(_mm_cmpeq_epi32(sa, full), _mm_cmpeq_epi32(da, zero));
      if (_mm_movemask_epi8(_mm_or_si128(keep, replace)) != 0xFFFF) {
        for (int32_t i = 0; i < 4; ++i) {
          const uint32_t cell = cells[x + i - first];
          const TColor32 src = cell < 256 ? ColorSetAlpha(color, uint8_t((alpha * cell) >> 8)) : color;
          TColor32 px;
          std::memcpy(&px, at + size_t(i) * 4, 4);
          px = BlendPixelOver(px, src);
          std::memcpy(at + size_t(i) * 4, &px, 4);
        }
        continue;
      }
      const __m128i src = _mm_or_si128(rgb, _mm_slli_epi32(sa, 24));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                       _mm_or_si128(_mm_and_si128(keep, dst), _mm_andnot_si128(keep, src)));
    }
#endif
    for (; x < end; ++x) {
      const uint32_t c = cells[x - first];
      const TColor32 s = c < 256 ? ColorSetAlpha(color, uint8_t((alpha * c) >> 8)) : color;
      TColor32 px;
      std::memcpy(&px, line + size_t(x) * 4, 4);
      px = BlendPixelOver(px, s);
      std::memcpy(line + size_t(x) * 4, &px, 4);
    }
    return;
  }
  const TRasterGradient& g = *gradient_;
  for (; x < end; ++x) {
    const uint32_t c = cells[x - first];
    const double t = ((x + 0.5 - g.Origin.x) * g.Axis.x + (row + 0.5 - g.Origin.y) * g.Axis.y) * g.Scale;
    const int32_t k = std::isnan(t) ? 0 : int32_t(std::clamp(t, 0.0, 1024.0));
    TColor32 color = g.Colors[size_t(k)];
    if (c < 256) color = ColorSetAlpha(color, uint8_t((ColorAlpha(color) * c) >> 8));
    TColor32 px;
    std::memcpy(&px, line + size_t(x) * 4, 4);
    BlendColorOver(px, color);
    std::memcpy(line + size_t(x) * 4, &px, 4);
  }
}

}  // namespace kav
