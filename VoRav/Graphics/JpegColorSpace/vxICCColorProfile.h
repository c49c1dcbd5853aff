// The ICC colour transform: converts bitmaps between two ICC profiles with
// Little CMS 2 (lcms2Dll.h). Without the library, or with a profile the
// library cannot use, pixels pass unchanged.
#pragma once

#include <cstdint>
#include <span>

#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"

namespace kav {

class TICCColorTransform : public TColorTransform {
 public:
  using TColorTransform::TColorTransform;
  // Converts the whole bitmap in place (IccTransformBitmap, default precalculation).
  void TransformPixels(TBitmap* bitmap) override;
};

// The transform maker installed at start-up. Both profiles must be given
// (assertion otherwise).
Ref<TColorTransform> CreateICCColorTransform(TColorProfile* source, TColorProfile* target);

// Converts the rectangle `rect` of `target` from the pixels of `source` at
// `point` (clipped to both bitmaps), from the profile `source_bytes` to the
// profile `target_bytes`, perceptual intent. `precalc`: 0 the library's
// default, 1 no optimisation, 2 high-resolution, 3 low-resolution tables.
//
// Nothing happens unless both bitmaps hold their pixels in rows
// (TSysBitmap, TDirectBitmap) and share one 3- or 4-byte RGB format
// (byte order and alpha or padding position taken from the format). When the
// library is missing, a profile is empty, malformed or not an RGB profile, or
// the library refuses the transform, the pixels are copied unchanged.
// Source and target may be the same bitmap, overlapping or not.
void IccTransformBitmap(TBitmap* target, TBitmap* source, const TRect& rect, TPoint point,
                        std::span<const uint8_t> source_bytes, std::span<const uint8_t> target_bytes,
                        int32_t precalc);

// The profile's bytes cut to the size its header declares, when the header
// and the tag table hold together (size field, "acsp" signature, every tag
// inside the declared size, 64-bit arithmetic); empty otherwise.
std::span<const uint8_t> CheckedIccProfile(std::span<const uint8_t> bytes) noexcept;

}  // namespace kav
