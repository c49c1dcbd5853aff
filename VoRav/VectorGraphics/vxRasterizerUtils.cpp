#include "VoRav/VectorGraphics/vxRasterizerUtils.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

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
    // An opaque colour over four fully covered pixels replaces them: "over"
    // answers an opaque source unchanged.
    constexpr uint64_t kFourFull = 0x0100010001000100ull;
    const uint64_t two = uint64_t(color) * 0x0000000100000001ull;
    for (; x < end; ++x) {
      if (alpha == 255 && x + 4 <= end) {
        uint64_t four;
        std::memcpy(&four, cells + (x - first), 8);
        if (four == kFourFull) {
          std::memcpy(line + size_t(x) * 4, &two, 8);
          std::memcpy(line + size_t(x) * 4 + 8, &two, 8);
          x += 3;
          continue;
        }
      }
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
