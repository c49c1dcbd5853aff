// The rectangle fast path. SwTryFastQuad takes draws that are one
// axis-aligned rectangle (two triangles, affine, texture coordinates
// following x and y separately, one diffuse colour) with at most one texture
// stage of the common kinds (select or modulate of texture and diffuse),
// point or bilinear sampling of one level, and blending with factors zero,
// one, source alpha or inverse source alpha under add or max. It covers
// exactly the pixels the reference covers; a 1:1 copy of a 32-bit texture
// becomes row copies, a solid fill row fills, everything else goes through
// the row kernels of SwFastRow.h. Other triangles take the span paths of
// SwFastSpan.h.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/d3d/raster/SwPixelState.h"
#include "platform/d3d/raster/SwSetup.h"

namespace kav {

// Draws that took each path since the start of the process (for tests and
// benchmarks).
struct TSwRasterStats {
  std::atomic<uint64_t> FastQuads{0};
  std::atomic<uint64_t> FastSpanDraws{0};
  std::atomic<uint64_t> IntSpanDraws{0};  // of them, through the 16-bit span kernel
  std::atomic<uint64_t> ReferenceDraws{0};
};
TSwRasterStats& SwRasterStats();

// True when the draw was one rectangle and is done.
bool SwTryFastQuad(const TSwPixelState& ps, const TSwTriSetup* tris, size_t count, int32_t threads);

}  // namespace kav
