// Small drawing routines of the themed controls: 32-bit images onto 24-bit
// bitmaps, tiles, clipped fills and frames, a hit test on an image's alpha,
// and TImageAnimator, which cross-fades two images by a phase.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav {

// Blends the 32-bit straight-alpha `image32` from `point` into the 24-bit
// `target24` over `rect` (clipped to both): per colour channel
// t += (s - t) x a / 256, rounding toward zero. Asserts the depths.
inline void BlendImageOnto24(TSysBitmap* target24, TSysBitmap* image32, const TRect& rect, TPoint point) {
  AlphaBlendRect32On24(target24, image32, rect, point);
}

// Covers `target_rect` with the image's level 0 on a grid anchored at
// `origin`: blended with BlendImageOnto24 when the target is "R8G8B8" and
// the picture "A8R8G8B8", else copied with the target's CopyRect.
void TileImageStore(TSysBitmap* target, const TRect& target_rect, TImage* image, TPoint origin);

// Fills rect ∩ clip (and the bitmap) with the "A8R8G8B8" colour; `rect`
// becomes that intersection (all zeros when it is empty, nothing filled).
void FillRectClipped(TSysBitmap* bitmap, TRect& rect, const TRect& clip, TColor32 color);
// One-pixel edges of rect: top and left in `top_left`, then right and bottom
// in `bottom_right`, each clipped to `clip`.
void FrameRectEdges(TSysBitmap* bitmap, const TRect& rect, TColor32 top_left, const TRect& clip,
                    TColor32 bottom_right);
// The four one-pixel edges of rect (top row, left column, right column,
// bottom row), each clipped and tiled with the image from the rectangle's
// top-left corner.
void FrameRectWithImage(TSysBitmap* target, TImage* image, const TRect& rect, const TRect& clip);

// True when (x, y) lies inside the image and, for an image with alpha, the
// pixel's alpha is above 0. False for null.
bool ImageHitTest(TImage* image, int32_t x, int32_t y);

// Cross-fades two placed images into one 32-bit result.
class TImageAnimator : public TRefObject {
 public:
  // Asserts "TImageAnimator.SetImage: Index must be in [0,1]". Takes level 0
  // in "A8R8G8B8"; with `hold_image` the animator keeps the image too.
  void SetImage(int32_t index, TImage* image, bool hold_image, TPoint point);
  // Asserts "TImageAnimator.SetPhase: Images not Set" unless both are set.
  // The result covers the union of the placed images: cleared, then image 0
  // added with weight 256 - w and image 1 with weight w (w = phase x 256,
  // phase shaped by the ping-pong and ease flags), each channel
  // c x weight >> 8, saturating.
  void SetPhase(double phase);
  void SetEase(bool ease) noexcept { ease_ = ease; }
  void SetPingPong(bool ping_pong) noexcept { ping_pong_ = ping_pong; }

  // The last result (null before the first SetPhase) and its placement.
  TSysBitmap* Result() const noexcept { return result_.get(); }
  TPoint ResultOrigin() const noexcept { return origin_; }
  // A new store holding a 32-bit copy of the current result; null before
  // the first SetPhase.
  Ref<TBitmapStore> CreateResultStore();

  // The phase after shaping (exposed for the tests of the curve).
  double ShapePhase(double phase) const;

 private:
  struct TSlot {
    Ref<TImage> Image;  // held only on request
    Ref<TSysBitmap> Bitmap;
    TPoint Point;
  };
  TSlot slots_[2];
  Ref<TSysBitmap> result_;
  TPoint origin_;
  bool ease_ = false;
  bool ping_pong_ = false;
};

}  // namespace kav
