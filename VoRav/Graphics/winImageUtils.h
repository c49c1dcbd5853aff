// Scaling an image into an ordinary DIB of a given box, keeping its aspect.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/FastDIB.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav {

// The size of a source fitted into a box keeping the aspect ratio: with
// sx = box width / source width and sy = box height / source height, the
// smaller factor decides and the other side is rounded (never above the box,
// never below 1). With `no_enlarge` a source smaller than that in both
// directions keeps its own size.
TSize FitSizeIntoBox(TSize source, TSize box, bool no_enlarge);

// A new DIB of the image fitted into width x height, from the image's best
// mip level. An image with alpha gives a 32-bit DIB (pixels of alpha 0 take
// the background colour with alpha 0) unless `force_24` is set; otherwise a
// 24-bit DIB, on the opaque background colour when the image has alpha,
// drawn bilinearly with 8 x 8 tiles. Null for a null image, a box side below
// 1, or an image without the level.
Ref<TFastDIB> CreateFastDIBFromImage(TImage* image, int32_t width, int32_t height, bool force_24, bool no_enlarge,
                                     TColor32 background);

}  // namespace kav
