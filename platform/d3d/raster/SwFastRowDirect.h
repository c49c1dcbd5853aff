// The 16-bit rectangle kernel for plans whose pixels read consecutive
// texels of one row unfiltered (1:1 pictures with a colour, constant or
// blend): texels widened straight from the row rather than through the
// column table, with SwQuadRowIntAvx2's arithmetic, so the same bytes.
#pragma once

#include "platform/d3d/raster/SwFastRow.h"

namespace kav {

// Whether the plan's columns are consecutive texels within the row,
// unfiltered (for plans the 16-bit kernel would draw).
bool SwQuadRowDirectUsable(const TSwQuadPlan& plan);
// A row kernel for such plans; rows between two texel rows, whole-byte rows
// and the like go to SwQuadRowIntAvx2.
void SwQuadRowDirectAvx2(const TSwQuadPlan& plan, int32_t y, float* cols);

}  // namespace kav
