// Vertex processing: decoding vertices of a flexible vertex format,
// transforming them to clip space, assembling primitives and clipping
// triangles against the near and far planes and the guard band.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d/raster/SwSetup.h"

namespace kav {

struct TSwVertexSource {
  const uint8_t* Data = nullptr;  // first vertex of the draw
  uint32_t Stride = 0;
  uint32_t Fvf = 0;
  uint32_t Count = 0;  // vertices the draw reads
};

// Maps clip space to the screen through a viewport.
struct TSwViewMapping {
  float X = 0, Y = 0, HalfW = 0, HalfH = 0;
  float Guard = 1;  // clip-space guard band: |x|, |y| <= Guard * w
  static TSwViewMapping From(const TSwViewport& vp);
};

// Number of attribute slots a vertex format fills.
int32_t SwAttrCount(uint32_t fvf);

// Decodes and transforms the vertices. Position-only formats get white
// diffuse and black specular; pre-transformed (XYZRHW) vertices are put back
// into clip space so that the viewport mapping returns their pixels.
void SwTransformVertices(const TSwVertexSource& src, const TSwMatrix& wvp, const TSwViewMapping& map,
                         std::vector<TSwClipVertex>& out);

// Vertex indices of the triangles of `count` primitives of `type`.
void SwAssembleTriangles(TSwPrimitive type, uint32_t count, std::vector<uint32_t>& indices);

// Clips a triangle and maps the pieces to the screen; appends 0 or more
// screen-space triangles (three vertices each) to `out`.
void SwClipTriangle(const TSwClipVertex& a, const TSwClipVertex& b, const TSwClipVertex& c, int32_t nattr,
                    bool clip_depth, const TSwViewMapping& map, std::vector<TSwScreenVertex>& out);

// Maps one vertex to the screen (for points and lines; w must be positive).
TSwScreenVertex SwToScreen(const TSwClipVertex& v, int32_t nattr, const TSwViewMapping& map);

}  // namespace kav
