// Painting vector paths into a 32-bit bitmap: fills and strokes with a colour
// or a gradient, through a point transform.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/VectorGraphics/vxRasterizer.h"
#include "VoRav/VectorGraphics/vxRasterizerTypes.h"
#include "VoRav/vxScopedSetting.h"

namespace kav {

// A linear gradient: a pixel centre p gets the colour
// Colors[clamp(dot(p - Origin, Axis) x Scale, 0, 1024)].
struct TRasterGradient {
  TFloatPoint Origin;
  TFloatPoint Axis;
  float Scale = 1;
  std::array<TColor32, 1025> Colors{};
};

// Transformed coordinates beyond this magnitude are clamped to +-(it + 1).
constexpr float kMaxRasterCoordinate = 67108863.0f;
// Curve splits one DrawPath may make over all its curves; past it the
// remaining pieces are drawn as straight lines.
constexpr int64_t kMaxPathSplits = int64_t(1) << 18;
// The split budget in force: kMaxPathSplits unless lowered. The fuzz entry
// point lowers it while it runs, so that a few bytes of curves with huge
// coordinates cost little, with the same code paths.
int64_t PathSplitBudget() noexcept;
// Puts a new budget in force (within 1 .. kMaxPathSplits), answers the old.
int64_t SetPathSplitBudget(int64_t budget) noexcept;
// The fuzz entry point's budget for the scope's lifetime.
class TFuzzPathSplits : public TScopedSetting<int64_t, &SetPathSplitBudget> {
 public:
  static constexpr int64_t kFuzz = int64_t(1) << 12;
  TFuzzPathSplits() noexcept : TScopedSetting(kFuzz) {}
};

// Paints between BeginPaint and EndPaint. Not thread-safe: one helper per
// thread.
class TRasterHelper : public TRefObject {
 public:
  // Maps an outline point to bitmap pixels.
  using TPointTransform = TDelegate<TFloatPoint(TFloatPoint)>;

  TRasterHelper();

  // A new "A8R8G8B8" bitmap of width x height filled with `color`; the fill
  // colour becomes `color`. Asserts "TRasterHelper.BeginPaint: W or H = 0"
  // for a side below 1 and "Previous TRasterHelper.BeginPaint not Closed"
  // while painting. Raises EOutOfMemory past the bitmap limits.
  void BeginPaint(int32_t width, int32_t height, TColor32 color);
  // The same with the current fill colour at alpha 0 (a cleared bitmap).
  void BeginPaintClear(int32_t width, int32_t height);
  // Hands the bitmap to the caller. Asserts "No Previous Call of
  // TRasterHelper.BeginPaint" when not painting.
  Ref<TDirectBitmap> EndPaint();
  bool Painting() const noexcept { return bool(target_); }
  // The bitmap being painted, or null.
  TDirectBitmap* Target() const noexcept { return target_.get(); }

  // Multiplies the current matrix by `m` (the identity first when none is
  // set) and makes the matrix the point transform.
  void Transform(const TAffineMatrix& m);
  // Sets the point transform; a null one is the identity (and drops the
  // matrix).
  void SetPointTransform(const TPointTransform& transform);

  TColor32 FillColor() const noexcept { return fill_color_; }
  void SetFillColor(TColor32 color) noexcept { fill_color_ = color; }
  // Null paints with the fill colour.
  void SetGradient(std::unique_ptr<TRasterGradient> gradient) { gradient_ = std::move(gradient); }
  // 0 fills; any other value strokes, 1 a closed stroke (each side of the
  // polyline its own figure).
  void SetStrokeMode(int32_t mode) noexcept { stroke_mode_ = mode; }
  void SetStrokeWidth(float width) noexcept { stroke_width_ = width; }
  // Painting is limited to this rectangle of the bitmap.
  void SetClipRect(const TRect& clip) noexcept { clip_ = clip; }

  // Fills (or strokes) the path. False when the path is malformed: not
  // starting with a move, no move after an end of figure, a curve without
  // its points, an unknown command or a point that is not finite after the
  // transform. Asserts when not painting.
  bool DrawPath(std::span<const TPathPoint> path, bool even_odd);
  bool DrawPath(const TPointArray& path, bool even_odd) { return DrawPath(std::span(path.Points()), even_odd); }
  // Fills the polygon through the point transform. False for a point that is
  // not finite after the transform.
  bool FillOutline(std::span<const TFloatPoint> points, bool even_odd);

 protected:
  void Dispose() override;

 private:
  bool MapPoint(TFloatPoint p, TFloatPoint& out) const;
  void PathMoveTo(TFloatPoint p);
  void PathLineTo(TFloatPoint p);
  void FlushStroke();
  void Rasterize();
  void WriteSpan(TOutline* outline, int32_t row, int32_t first, int32_t count, const uint16_t* cells);

  Ref<TRasterizer> rasterizer_;
  Ref<TOutline> outline_;
  Ref<TDirectBitmap> target_;
  TAffineMatrix matrix_;
  bool has_matrix_ = false;
  TPointTransform transform_;
  int32_t stroke_mode_ = 0;
  std::vector<TFloatPoint> stroke_points_;
  float stroke_width_ = 1;
  TColor32 fill_color_ = 0xFF000000u;
  std::unique_ptr<TRasterGradient> gradient_;
  TRect clip_{0, 0, INT32_MAX, INT32_MAX};
  TFloatPoint current_{};
};

}  // namespace kav
