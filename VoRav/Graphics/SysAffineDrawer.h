// Drawing an image through an affine frame into a 24-bit target, tile by
// tile. TAffineDrawer cuts the target area into tiles, finds the tiles the
// placed image covers and sorts them into classes; a descendant draws each
// class: class 1 tiles reach the image's border and are drawn with checks,
// classes 2 and 3 lie wholly inside the descendant's inner and border
// rectangles and are drawn by routines that need no bounds checks.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxAffineUtils.h"

namespace kav {

struct TDrawerTile {
  TRect Target;        // in target pixels, clipped to the target area
  float SourceX = 0;   // source position of the first pixel centre, less 0.5
  float SourceY = 0;
  int32_t FixedX = 0;  // the same in 16.16
  int32_t FixedY = 0;
  int32_t Class = 0;   // 0 skip, 1 checked, 2 inner, 3 border
};

struct TDrawerBand {
  int32_t FirstColumn = 0;
  std::vector<TDrawerTile> Tiles;
};

class TAffineDrawer : public TRefObject {
 public:
  // Tiles of tile_width x tile_height target pixels (at least 1 each).
  TAffineDrawer(int32_t tile_width, int32_t tile_height);

  int32_t Opacity() const noexcept { return opacity_; }
  // Takes effect at the next placement or image.
  void SetOpacity(int32_t opacity) noexcept { opacity_ = opacity; }

  // Places the source so that its pixel (u, v) lands on
  // origin + u axis_x + v axis_y, drawing only within `target_area`, and
  // builds the tile lists. Answers whether anything is to be drawn: false
  // for a negative area size, a degenerate frame or an empty source.
  bool SetPlacement(const TRect& target_area, const TFloatPoint& origin, const TFloatPoint& axis_x,
                    const TFloatPoint& axis_y);

  // Draws every tile. Answers false, drawing nothing, for a target that is
  // not 3 bytes per pixel or smaller than the target area.
  bool Draw(TSysBitmap* target);

  const std::vector<TDrawerBand>& Bands() const noexcept { return bands_; }
  int32_t FirstBand() const noexcept { return first_band_; }
  // 16.16 source steps per target column and per target row.
  int32_t StepColumnX() const noexcept { return col_x_; }
  int32_t StepColumnY() const noexcept { return col_y_; }
  int32_t StepRowX() const noexcept { return row_x_; }
  int32_t StepRowY() const noexcept { return row_y_; }

 protected:
  // Sets the source size and the full, inner and border rectangles;
  // answers whether there is anything to draw.
  virtual bool Prepare() = 0;
  // Draws one tile of class 1, 2 or 3.
  virtual void DrawTile(int32_t tile_class, const TDrawerTile& tile, TSysBitmap* target) = 0;
  // Rebuilds the tile lists for the current placement (after a new image).
  void Rebuild();

  int32_t source_width_ = 0;
  int32_t source_height_ = 0;
  TRect full_;
  TRect inner_;
  TRect border_;
  int32_t col_x_ = 0, col_y_ = 0, row_x_ = 0, row_y_ = 0;

 private:
  void MarkTiles(const TRect& rect, int32_t tile_class);

  int32_t opacity_ = 255;
  int32_t tile_width_;
  int32_t tile_height_;
  TRect area_;
  TFloatPoint origin_{}, axis_x_{}, axis_y_{};
  TFrame2D frame_{};
  bool placed_ = false;
  bool prepared_ = false;
  int32_t first_band_ = 0;
  std::vector<TDrawerBand> bands_;
};

// Binds a source bitmap, "R8G8B8" or "A8R8G8B8".
class TImageDrawer : public TAffineDrawer {
 public:
  using TAffineDrawer::TAffineDrawer;
  // Asserts "Unsupported PixelFormat" for other formats. With `owns` the
  // drawer takes over the caller's reference. Takes the bitmap's size as the
  // source size and rebuilds the tiles for the current placement.
  virtual void SetImage(TSysBitmap* bitmap, bool owns);
  TSysBitmap* Image() const noexcept { return image_.get(); }

 protected:
  Ref<TSysBitmap> image_;
};

// Samples the source bilinearly in 16.16 fixed point.
class TBilinearDrawer : public TImageDrawer {
 public:
  using TImageDrawer::TImageDrawer;

 protected:
  bool Prepare() override;
  void DrawTile(int32_t tile_class, const TDrawerTile& tile, TSysBitmap* target) override;
};

}  // namespace kav
