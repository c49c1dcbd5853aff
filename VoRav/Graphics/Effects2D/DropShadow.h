// The blur and contour engine of drop shadows, and the producer that turns a
// shape picture into a coloured shadow picture.
//
// The blur comes from a cubic B-spline downscale by the scale factor
// (blur + 1) and an upscale back; the contour curve then reshapes the alpha
// of the upscaled result.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Graphics/Effects2D/CurvesData.h"
#include "VoRav/Graphics/Resample.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/SysObj2.h"

namespace kav {

// The largest scale factor (blur + 1) a shadow is made with: the padding
// around the shape grows with it, and beyond this the shape has long since
// faded into nothing.
constexpr double kMaxShadowScale = 256.0;

class TDropShadow : public TRefObject {
 public:
  // The progress handler runs after each row of the copies and after each
  // column of the resamplings; setting its flag stops the work there.
  explicit TDropShadow(const TResampleProgress& progress = {});

  // Stores blur + 1 as the scale factor.
  void SetSpread(double blur) noexcept { scale_ = blur + 1.0; }
  double Scale() const noexcept { return scale_; }
  TCurvesData& Curves() noexcept { return curves_; }

  // Blurs the alpha of `source` (1 or 4 bytes per pixel, else an assertion
  // failure) into an "A8" result of the source's size plus 2m on each axis,
  // m = ceil(2.5 s). A scale that is not above 0 or not a number is taken as
  // 1; one above kMaxShadowScale as kMaxShadowScale. Answers the result,
  // which this object keeps too.
  TSysBitmap* Render(TSysBitmap* source);
  TSysBitmap* Result() const noexcept { return result_.get(); }

  // The 4096-entry lookup from the resampler's 12-bit output to the contour
  // curve's alpha; empty for preset 0 ("Linear").
  std::vector<uint8_t> ContourLookup();

 protected:
  void Dispose() override;

 private:
  bool Step();

  Ref<TSysBitmap> small_;
  double scale_ = 3.0;
  TCurvesData curves_;
  Ref<TSysBitmap> result_;
  TResampleProgress progress_;
};

class TShadowProducer : public TRefObject {
 public:
  explicit TShadowProducer(const TResampleProgress& progress = {});

  // The white (or `Color`) shadow of the alpha of level 0 of `image`, named
  // as the image. Level 0 must exist as a 4-byte bitmap (assertion).
  Ref<TImage> MakeShadow(TImage* image);
  TCurvesData& GetCurves() noexcept { return drop_->Curves(); }
  TDropShadow* Drop() const noexcept { return drop_.get(); }

  TColor32 Color = 0xFFFFFFFFu;
  double Blur = 0.0;

 private:
  Ref<TDropShadow> drop_;
  TResampleProgress progress_;
};

}  // namespace kav
