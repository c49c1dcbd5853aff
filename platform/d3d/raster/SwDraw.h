// One draw call from vertices to pixels: transform, assembly, clipping,
// setup, then rasterising in horizontal bands on the worker pool (small draws
// inline), through a fast path when the draw qualifies for one.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d/raster/SwGeometry.h"
#include "platform/d3d/raster/SwPixelState.h"

namespace kav {

struct TSwDrawRequest {
  TSwPrimitive Type = TSwPrimitive::TriangleList;
  uint32_t PrimitiveCount = 0;
  TSwVertexSource Vertices;
  TSwMatrix Wvp;
  TSwViewport Viewport;
  TSwCull Cull = TSwCull::CCW;
  int32_t Threads = 1;         // threads that may rasterise this draw
  bool FastPaths = true;       // false: the reference path only (tests)
};

// Reused buffers of one device's draws.
struct TSwDrawScratch {
  std::vector<TSwClipVertex> Clip;
  std::vector<uint32_t> Indices;
  std::vector<TSwScreenVertex> Screen;
  std::vector<TSwTriSetup> Tris;
};

// Vertex count a draw of `count` primitives of `type` reads.
uint32_t SwVertexCount(TSwPrimitive type, uint32_t count);

// Draws; returns a rectangle holding every pixel the draw may have written.
TSwRect SwDraw(const TSwPixelState& ps, const TSwDrawRequest& req, TSwDrawScratch& scratch);

// Splits rows [y0, y1) into bands and runs band(y_begin, y_end) for each on
// up to `threads` threads; inline when `pixels` is small.
template <class F>
void SwForBands(int32_t y0, int32_t y1, int64_t pixels, int32_t threads, F&& band);

}  // namespace kav

#include "platform/d3d/raster/SwBands.inl"
