// Vertices after transformation and the triangle setup of the rasteriser.
//
// Screen positions are snapped to 1/256 pixel. A pixel (i, j) is covered when
// its centre, the point (i, j), lies inside the triangle or on a top or left
// edge (top-left rule), so triangles that share an edge never both cover a
// pixel on it. Attributes are interpolated through planes
// value = (c + b*y) + a*x evaluated in floats at the pixel centre: directly
// when the three vertices have the same w (affine triangles), else as
// value/w over 1/w (perspective-correct).
#pragma once

#include <cstdint>

#include "platform/d3d/SwTypes.h"

namespace kav {

// Attribute slots: diffuse b, g, r, a; specular b, g, r, a; then u, v of
// each texture-coordinate set.
constexpr int kSwAttrDiffuse = 0;
constexpr int kSwAttrSpecular = 4;
constexpr int kSwAttrTex = 8;
constexpr int kSwMaxAttrs = kSwAttrTex + 2 * kSwMaxTexCoords;

struct TSwClipVertex {
  float x = 0, y = 0, z = 0, w = 1;
  float a[kSwMaxAttrs] = {};
};

struct TSwScreenVertex {
  float x = 0, y = 0, w = 1;  // w: the clip-space w
  float a[kSwMaxAttrs] = {};
};

struct TSwPlane {
  float c = 0, a = 0, b = 0;
};

struct TSwTriSetup {
  int64_t X[3], Y[3];  // snapped positions in 1/256 pixel, clockwise on screen
  int64_t DX[3], DY[3];
  int32_t Threshold[3];  // 0 on top and left edges, 1 elsewhere
  int32_t MinX, MinY, MaxX, MaxY;  // covered pixels lie in [Min, Max), inside the clip rectangle
  bool Affine;
  TSwPlane Q;                 // 1/w (perspective triangles)
  uint32_t ConstMask;         // attributes equal at all three vertices
  float Const[kSwMaxAttrs];   // their values
  TSwPlane Attr[kSwMaxAttrs];
};

// Sets up a screen-space triangle. False when it is culled (by `cull`, for a
// zero area) or covers no pixel of `clip`.
bool SwSetupTriangle(const TSwScreenVertex& v0, const TSwScreenVertex& v1, const TSwScreenVertex& v2,
                     int32_t nattr, const TSwRect& clip, TSwCull cull, TSwTriSetup& out);

// The covered pixels of row y as [x0, x1); false when none.
bool SwTriangleSpan(const TSwTriSetup& t, int32_t y, int32_t& x0, int32_t& x1);

}  // namespace kav
