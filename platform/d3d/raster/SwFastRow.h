// Row kernels of the fast rectangle path. A plan describes one rectangle:
// the pixels to write, the texture rows and columns each pixel reads (after
// addressing), the colour transform of the texture stage and the blend, all
// as the reference pipeline would compute them. The float kernels exist as
// SSE2 (baseline) and AVX2 variants; both perform the reference's float
// operations in the same order, so they write the same bytes as the
// reference. On AVX2 machines textured rectangles take the 16-bit kernel
// (SwQuadRowIntAvx2), about twice as fast and within one unit.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d/SwTypes.h"

namespace kav {

struct TSwQuadPlan {
  int32_t X0 = 0, X1 = 0, Y0 = 0, Y1 = 0;  // pixels [X0, X1) x [Y0, Y1)
  uint8_t* Target = nullptr;
  int32_t TargetPitch = 0;
  bool TargetX8 = false;

  // Texture: null for a solid colour.
  const uint8_t* Tex = nullptr;
  int32_t TexPitch = 0, TexW = 0, TexH = 0;
  bool TexX8 = false;   // alpha forced to 255 when read
  bool Bilinear = false;
  TSwAddress AddressV = TSwAddress::Clamp;
  float Cv = 0, Bv = 0;  // v of row y = Cv + Bv * y
  // Per pixel column (index x - X0): texel columns and weight.
  std::vector<int32_t> Col0, Col1;
  std::vector<float> Wx;
  int32_t ColMin = 0, ColMax = 0;  // columns the table reads
  bool NoWx = false;               // every weight is 0
  bool Copy = false;               // rows are plain copies of texel rows (consecutive columns, identity colour)
  int32_t CopyCol = 0;             // the first texel column of a copied row

  // The 16-bit kernel's tables (IntUsable false: the float kernels draw).
  // Columns are taken in unaddressed texel space [IntIxMin, IntIxMin +
  // IntSpan); IntCol maps each to its addressed column, IntIx holds each
  // pixel's left column and IntW4 its weight in Q15, four times.
  bool IntUsable = false;
  int32_t IntIxMin = 0, IntSpan = 0;
  std::vector<int32_t> IntCol, IntIx;
  std::vector<int16_t> IntW4;
  // 1:1 rows of unchanged texels blended onto the target in whole bytes:
  // 1 premultiplied over (one, inverse source alpha), 2 source alpha,
  // inverse source alpha; 0 none.
  int32_t ByteBlend = 0;

  // Colour of the stage: texel * M + A per channel (b, g, r, a).
  float M[4] = {1, 1, 1, 1}, A[4] = {0, 0, 0, 0};
  // Blending: factors K0 + K1 * source alpha (source) and L0 + L1 * source
  // alpha (destination) per channel; MaxMask lanes take max(source, destination).
  bool Blend = false;
  float K0[4] = {}, K1[4] = {}, L0[4] = {}, L1[4] = {};
  uint32_t MaxMask[4] = {};
};

// A bilinear weight within this of 0 or 1 cannot change an 8-bit channel of
// an unmodified texel: such rows and columns are copied.
constexpr float kSwSnapWeight = 1.0f / 1024.0f;

// Writes row y of the plan; `cols` is scratch of at least 4 floats per
// column in [ColMin, ColMax].
using TSwRowKernel = void (*)(const TSwQuadPlan& plan, int32_t y, float* cols);

void SwQuadRowSse2(const TSwQuadPlan& plan, int32_t y, float* cols);
void SwQuadRowAvx2(const TSwQuadPlan& plan, int32_t y, float* cols);
// The 16-bit AVX2 kernel for textured plans with IntUsable: channels in Q15
// fixed point, within one unit of the reference's bytes (never more: its
// arithmetic errors stay below a hundredth of a unit, so only values lying
// that close to a rounding boundary can come out one step away).
void SwQuadRowIntAvx2(const TSwQuadPlan& plan, int32_t y, float* cols);
// Floats of scratch the kernels need for a plan.
size_t SwQuadScratchFloats(const TSwQuadPlan& plan);

// The texel row, weight and neighbour row of row y (shared by the kernels).
void SwQuadRowSource(const TSwQuadPlan& plan, int32_t y, int32_t& row0, int32_t& row1, float& wy);

// The kernel for this machine: AVX2 when the processor has it (and the
// environment variable KAV_D3D_NO_AVX2 is not set), else SSE2.
TSwRowKernel SwQuadRowKernel();

}  // namespace kav
