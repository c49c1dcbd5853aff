#include "VoRav/Graphics/SysAffineDrawer.h"

#include <algorithm>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

int32_t FloorDiv(int32_t a, int32_t b) { return a >= 0 ? a / b : -((-int64_t(a) + b - 1) / b); }

}  // namespace

TAffineDrawer::TAffineDrawer(int32_t tile_width, int32_t tile_height)
    : tile_width_(std::max(tile_width, 1)), tile_height_(std::max(tile_height, 1)) {}

bool TAffineDrawer::SetPlacement(const TRect& target_area, const TFloatPoint& origin, const TFloatPoint& axis_x,
                                 const TFloatPoint& axis_y) {
  // A negative area is refused (nothing to draw) rather than asserted.
  if (target_area.Right < target_area.Left || target_area.Bottom < target_area.Top) {
    placed_ = false;
    bands_.clear();
    return false;
  }
  area_ = target_area;
  const bool same = placed_ && FloatPointsEqual(origin, origin_) && FloatPointsEqual(axis_x, axis_x_) &&
                    FloatPointsEqual(axis_y, axis_y_);
  if (!same) {
    origin_ = origin;
    axis_x_ = axis_x;
    axis_y_ = axis_y;
    placed_ = InitFrame2D(frame_, origin, axis_x, axis_y);
    if (placed_) {
      col_x_ = FloatToFixed(float(double(frame_.AxisY.y) * frame_.InvDet));
      col_y_ = FloatToFixed(float(-double(frame_.AxisX.y) * frame_.InvDet));
      row_x_ = FloatToFixed(float(-double(frame_.AxisY.x) * frame_.InvDet));
      row_y_ = FloatToFixed(float(double(frame_.AxisX.x) * frame_.InvDet));
    }
  }
  Rebuild();
  return prepared_;
}

void TAffineDrawer::Rebuild() {
  bands_.clear();
  prepared_ = placed_ && Prepare();
  if (!prepared_) return;
  TAffineEdges rec;
  if (!AffineEdgesFromRect(rec, source_width_, source_height_, origin_, axis_x_, axis_y_)) {
    prepared_ = false;
    return;
  }
  first_band_ = area_.Top;
  for (int64_t top = area_.Top; top < area_.Bottom; top += tile_height_) {
    const int32_t band_top = int32_t(top);
    const int32_t band_bottom = int32_t(std::min<int64_t>(top + tile_height_, area_.Bottom));
    TDrawerBand& band = bands_.emplace_back();
    int32_t left, right;
    if (!FindLinesForInterval(rec, float(band_top), float(band_bottom), left, right)) continue;
    left = std::max(left, area_.Left);
    right = std::min(right, area_.Right - 1);
    if (left > right) continue;
    band.FirstColumn = FloorDiv(left, tile_width_);
    const int32_t last_column = FloorDiv(right, tile_width_);
    for (int32_t c = band.FirstColumn; c <= last_column; ++c) {
      TDrawerTile t;
      const int64_t tl = int64_t(c) * tile_width_;
      t.Target = TRect{int32_t(std::max<int64_t>(tl, area_.Left)), band_top,
                       int32_t(std::min<int64_t>(tl + tile_width_, area_.Right)), band_bottom};
      const TFloatPoint p = Frame2DFromWorld(frame_, TFloatPoint{t.Target.Left + 0.5f, t.Target.Top + 0.5f});
      t.SourceX = p.x - 0.5f;
      t.SourceY = p.y - 0.5f;
      t.FixedX = FloatToFixed(t.SourceX);
      t.FixedY = FloatToFixed(t.SourceY);
      t.Class = 1;
      band.Tiles.push_back(t);
    }
  }
  if (!inner_.IsEmpty()) MarkTiles(inner_, 2);
  if (!border_.IsEmpty()) MarkTiles(border_, 3);
}

// A tile takes the class when the sample positions of its four corner
// pixels, stepped exactly as the drawing steps them, lie in `rect`: the
// positions are linear over the tile, so every pixel's does. This is what
// lets the routines of classes 2 and 3 read without bounds checks.
void TAffineDrawer::MarkTiles(const TRect& rect, int32_t tile_class) {
  const int64_t x_lo = int64_t(rect.Left) << 16, x_hi = int64_t(rect.Right) << 16;
  const int64_t y_lo = int64_t(rect.Top) << 16, y_hi = int64_t(rect.Bottom) << 16;
  for (TDrawerBand& band : bands_)
    for (TDrawerTile& t : band.Tiles) {
      const int64_t w = t.Target.Width() - 1, h = t.Target.Height() - 1;
      bool inside = true;
      for (int64_t i : {int64_t(0), w})
        for (int64_t j : {int64_t(0), h}) {
          const int64_t px = t.FixedX + i * col_x_ + j * row_x_;
          const int64_t py = t.FixedY + i * col_y_ + j * row_y_;
          inside = inside && px >= x_lo && px < x_hi && py >= y_lo && py < y_hi;
        }
      if (inside) t.Class = tile_class;
    }
}

bool TAffineDrawer::Draw(TSysBitmap* target) {
  // Everything is checked before the first tile, so an impossible request
  // draws nothing instead of failing part-way.
  if (!target || target->BytesPerPixel() != 3) return false;
  if (area_.Left < 0 || area_.Top < 0 || target->Width() < area_.Right || target->Height() < area_.Bottom)
    return false;
  if (!prepared_) return true;
  for (const TDrawerBand& band : bands_)
    for (const TDrawerTile& t : band.Tiles)
      if (t.Class >= 1 && t.Class <= 3) DrawTile(t.Class, t, target);
  return true;
}

void TImageDrawer::SetImage(TSysBitmap* bitmap, bool owns) {
  const TStdPixelFormats& f = StdFormats();
  KAV_ASSERT_MSG(bitmap && (bitmap->PixelFormat() == f.R8G8B8 || bitmap->PixelFormat() == f.A8R8G8B8),
                 "Unsupported PixelFormat");
  image_ = owns ? Ref<TSysBitmap>::Adopt(bitmap) : Ref<TSysBitmap>(bitmap);
  source_width_ = bitmap->Width();
  source_height_ = bitmap->Height();
  Rebuild();
}

}  // namespace kav
