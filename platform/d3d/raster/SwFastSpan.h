// The vector span path for triangles that are not plain rectangles
// (perspective quads, rotated pictures, gradients, and rectangles of 8-bit
// or 16-bit textures): the common state family of one texture stage
// selecting or modulating a texture and the diffuse colour, with the blends
// of the rectangle path, any filter and mip selection. Each pixel runs the
// reference's float operations four channels at a time, so the bytes equal
// the reference's; on AVX2 textured spans of one level with clamping take a
// 16-bit kernel instead, within one level of them.
#pragma once

#include <cstdint>

#include "platform/d3d/raster/SwPixelState.h"
#include "platform/d3d/raster/SwSetup.h"

namespace kav {

struct TSwSpanPlan {
  // Per channel (b, g, r, a): the stage's value is texel * M + A where
  // M = 1 (FormTex), diffuse (FormTexDiffuse) or 0, and A = diffuse
  // (FormDiffuse), diffuse squared (FormDiffuse2) or 0.
  uint32_t FormTex[4] = {}, FormTexDiffuse[4] = {}, FormDiffuse[4] = {}, FormDiffuse2[4] = {};
  bool UsesTex = false;
  const TSwSamplerView* Sampler = nullptr;
  int32_t TexSet = 0;
  bool NeedLod = false;  // the level or filter depends on the footprint
  bool Blend = false;
  float K0[4] = {}, K1[4] = {}, L0[4] = {}, L1[4] = {};
  uint32_t MaxMask[4] = {};
  bool Avx2 = false;  // SwShadeSpanFastAvx2 takes the span first
  bool Int = false;   // SwShadeTriangleIntAvx2 draws the triangles instead
};

// Spans drawn through a pixel kernel: attributes as the reference computes
// them, footprints only for the samplers whose level or filter depends on
// them, 32-bit textures sampled in vector registers, the kernel once per
// pixel, then the reference's write. Always applicable when a kernel is bound.
void SwShadeSpanKernel(const TSwPixelState& ps, const TSwTriSetup& t, int32_t y, int32_t x0, int32_t x1);

// Whether a sampler's level or filter can depend on the footprint.
bool SwSamplerNeedsLod(const TSwSamplerView& s);

// Samples a 32-bit or L8 texture at its base level (no footprint needed) for
// coordinate pairs, eight at a time with AVX2 when the processor has it and
// both axes clamp; returns how many it sampled (the caller samples the rest).
int32_t SwSampleSpanAvx2(const TSwSamplerView& s, const float* u, const float* v, int32_t count, TSwColorF* out);

// SwSample3D of a 32-bit volume clamped on every axis, eight at a time with
// AVX2; returns how many it sampled.
int32_t SwSample3DSpanAvx2(const TSwSamplerView& s, const float* u, const float* v, const float* w, int32_t count,
                           TSwColorF* out);

// Clamps, blends (by the plan's factors) and writes `count` colours to
// consecutive 32-bit pixels, two per AVX2 register; returns how many it
// wrote (0 without AVX2), the caller writes the rest.
int32_t SwWriteColorsAvx2(const TSwColorF* colors, uint32_t* dst, int32_t count, const TSwSpanPlan& blend,
                          uint32_t out_or);

// Fills the plan's blend factors; false for blends outside the family.
bool SwPlanBlend(const TSwBlendState& blend, TSwSpanPlan& plan);

// False when the state is outside the family (the reference path draws it).
bool SwPlanFastSpans(const TSwPixelState& ps, TSwSpanPlan& plan);

// The AVX2 variant covers plans without footprint-dependent sampling and
// with clamp addressing; it shades the span eight pixels at a time (the
// last group masked) and returns the first pixel it left, x1 unless
// coordinates were too far off (the caller finishes the span).
bool SwFastSpanAvx2Usable(const TSwSpanPlan& plan);
int32_t SwShadeSpanFastAvx2(const TSwPixelState& ps, const TSwSpanPlan& plan, const TSwTriSetup& t, int32_t y,
                            int32_t x0, int32_t x1);

// The 16-bit AVX2 kernel for textured plans of the AVX2 family: the same
// texels and filter weights as the float kernel, colours in Q15 fixed point,
// within one level of the reference's bytes (exact where the arithmetic
// only selects whole bytes: unmodified texels, diffuse and source alpha 0
// or 1 over opaque texels). It draws rows [y0, y1) of a triangle, set up
// once for all of them (spans of thin triangles are a few pixels long).
bool SwFastSpanIntUsable(const TSwSpanPlan& plan);
void SwShadeTriangleIntAvx2(const TSwPixelState& ps, const TSwSpanPlan& plan, const TSwTriSetup& t, int32_t y0,
                            int32_t y1);

void SwShadeSpanFast(const TSwPixelState& ps, const TSwSpanPlan& plan, const TSwTriSetup& t, int32_t y, int32_t x0,
                     int32_t x1);

}  // namespace kav
