// A width x height rectangle placed by an affine frame: its four edges, and
// for a band of target rows the horizontal run the placed rectangle covers.
// Also the 16.16 fixed-point conversions of the affine drawers.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/GraphTypes.h"
#include "VoRav/vxGeometry.h"

namespace kav {

// 16.16 fixed point: round(65536 v - 0.5), halves to even, limited to the
// 32-bit range (NaN gives 0).
int32_t FloatToFixed(float v) noexcept;
float FixedToFloat(int32_t f) noexcept;
void FloatPointToFixed(const TFloatPoint& p, int32_t& x, int32_t& y) noexcept;

// One edge: its upper end, dx/dy (0 when horizontal), and the integer
// bounds: floor of the smaller x and of the upper y, ceil of the larger x and
// of the lower y.
struct TAffineEdge {
  float X = 0;
  float Y = 0;
  float Slope = 0;
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
};

struct TAffineEdges {
  int32_t Width = 0;
  int32_t Height = 0;
  TFrame2D Frame;
  TAffineEdge Edges[4];
  TRect Bounds;  // the union of the edges' bounds
};

// Places (0, 0)-(width, height) through the frame origin + u axis_x +
// v axis_y. False, with nothing set, for parallel axes, a corner that is not
// finite or a placed rectangle beyond +-2^30 pixels.
bool AffineEdgesFromRect(TAffineEdges& rec, int32_t width, int32_t height, const TFloatPoint& origin,
                         const TFloatPoint& axis_x, const TFloatPoint& axis_y);
// The run [left, right] the placed rectangle covers in the band y1..y2:
// the union of its edges' runs. False (outputs untouched) when the band
// misses the bounds.
bool FindLinesForInterval(const TAffineEdges& rec, float y1, float y2, int32_t& left, int32_t& right);
inline bool FindIntervalLine(const TAffineEdges& rec, int32_t y, int32_t& left, int32_t& right) {
  return FindLinesForInterval(rec, float(y), float(y) + 1, left, right);
}

}  // namespace kav
