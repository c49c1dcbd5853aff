// Nine-patch stretching: a skin area with four border widths drawn into any
// rectangle with its corners kept, its edges stretched along one axis and
// its middle along both (bilinear), composited over the target.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/SysBitmap.h"

namespace kav {

struct TNinePatch {
  Ref<TDirectBitmap> Bitmap;  // "A8R8G8B8" copy of the skin area, or null
  TRect Frame;                // (0, 0, width, height) of the copy
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  uint32_t Flags = 0;  // kNinePatchUniformMiddle
};

// The middle cell is one colour.
constexpr uint32_t kNinePatchUniformMiddle = 1;

// Copies `area` of `source` (null clears the patch) with the borders; an
// area that is empty or outside the source clears it too. Negative borders
// count as 0.
void NinePatchAssignArea(TNinePatch& patch, TBitmap* source, const TRect& area, int32_t left, int32_t top,
                         int32_t right, int32_t bottom);
// The whole source.
void NinePatchAssign(TNinePatch& patch, TBitmap* source, int32_t left, int32_t top, int32_t right, int32_t bottom);
void NinePatchClear(TNinePatch& patch);

// Boundary `segment` (0..3) of an axis from `start` to `end` split by the
// borders: start; min(start + start border, mid); max(end - end border, mid);
// end, where mid = (start + start border + end - end border) / 2 truncated
// and clamped to start..end, so borders too wide for the axis meet there.
int32_t NinePatchMapCoord(int32_t segment, int32_t start, int32_t end, int32_t end_border, int32_t start_border);
// Cell (column, row), 0..2 each, of `rect` split by the patch's borders.
TRect NinePatchMapRect(int32_t column, int32_t row, const TRect& rect, const TNinePatch& borders);

// Draws the patch into `target_rect` of the "A8R8G8B8" target within
// `clip` (asserted format; a patch without bitmap draws nothing). Cells of
// equal size are copied pixel for pixel, others stretched bilinearly; every
// pixel is composited with BlendColorOver.
void DrawNinePatch(TSysBitmap* target, const TRect& clip, const TRect& target_rect, const TNinePatch& patch);
// At (0, 0) with the patch's own size.
void DrawNinePatchAt(TSysBitmap* target, const TRect& clip, const TNinePatch& patch);

}  // namespace kav
