// The 16-bit rectangle kernel's direct rows (texels read straight from the
// texel rows) against the kernel with its column table, byte for byte, on
// hand-made plans: widths of one pixel to a full row, pictures offset and
// reaching the texture's right edge, column and row weights of 0, ones that
// round to 0 and ordinary ones, with and without a colour, under every
// blend kind, transparent and opaque texels.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/d3d/raster/SwFastRowDirect.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {
namespace {

bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

struct TCase {
  int32_t TexW, TexH, First, N;
  bool Bilinear;
  int16_t Weight;  // every pixel's column weight; -1: seeded weights
  float RowFraction;
  bool Modulate, Blend, Max, X8;
};

// Draws rows 0..3 of the case through `kernel` over a seeded target.
std::vector<uint32_t> Draw(const TCase& c, TSwRowKernel kernel, bool* usable) {
  std::mt19937 rng(uint32_t(c.TexW * 131 + c.First * 7 + c.N));
  std::vector<uint32_t> tex(size_t(c.TexW) * size_t(c.TexH));
  for (size_t i = 0; i < tex.size(); ++i) {
    const uint32_t a = i % 5 == 0 ? 0u : i % 5 == 1 ? 255u : rng() & 255u;
    tex[i] = (a << 24) | (rng() & 0xFFFFFFu);
  }
  const int32_t tw = c.N + 9;
  std::vector<uint32_t> target(size_t(tw) * 4);
  for (uint32_t& t : target) t = uint32_t(rng());
  TSwQuadPlan p;
  p.X0 = 3;
  p.X1 = 3 + c.N;
  p.Y0 = 0;
  p.Y1 = 4;
  p.Target = reinterpret_cast<uint8_t*>(target.data());
  p.TargetPitch = tw * 4;
  p.TargetX8 = c.X8;
  p.Tex = reinterpret_cast<const uint8_t*>(tex.data());
  p.TexPitch = c.TexW * 4;
  p.TexW = c.TexW;
  p.TexH = c.TexH;
  p.TexX8 = c.X8;
  p.Bilinear = c.Bilinear;
  p.AddressV = TSwAddress::Clamp;
  // Texel row y + RowFraction (bilinear: between rows y and y + 1).
  p.Bv = 1.0f / float(c.TexH);
  p.Cv = ((c.Bilinear ? 0.5f : 0.0f) + c.RowFraction) / float(c.TexH);
  p.IntUsable = true;
  p.IntIx.resize(size_t(c.N));
  p.IntW4.resize(size_t(c.N) * 4);
  p.NoWx = true;
  for (int32_t i = 0; i < c.N; ++i) {
    p.IntIx[size_t(i)] = c.First + i;
    const int16_t w = !c.Bilinear ? 0 : c.Weight >= 0 ? c.Weight : int16_t(rng() % 32768);
    for (int l = 0; l < 4; ++l) p.IntW4[size_t(i) * 4 + size_t(l)] = w;
    if (w) p.NoWx = false;
  }
  p.IntIxMin = c.First;
  p.IntSpan = c.N + 1;
  p.IntCol.resize(size_t(p.IntSpan));
  for (int32_t j = 0; j < p.IntSpan; ++j) p.IntCol[size_t(j)] = SwAddress(TSwAddress::Clamp, c.First + j, c.TexW);
  const float m[4] = {0.8f, 0.55f, 1.0f, 0.7f}, a[4] = {0.1f, 0.0f, 0.05f, 0.0f};
  for (int l = 0; l < 4; ++l) {
    p.M[l] = c.Modulate ? m[l] : 1.0f;
    p.A[l] = c.Modulate ? a[l] : 0.0f;
  }
  p.Blend = c.Blend;
  if (c.Blend) {  // source alpha and its inverse; red takes the larger
    for (int l = 0; l < 4; ++l) {
      p.K0[l] = 0;
      p.K1[l] = 1;
      p.L0[l] = 1;
      p.L1[l] = -1;
    }
    if (c.Max) p.MaxMask[2] = 0xFFFFFFFFu;
  }
  *usable = SwQuadRowDirectUsable(p);
  std::vector<float> scratch(SwQuadScratchFloats(p));
  for (int32_t y = 0; y < 4; ++y) kernel(p, y, scratch.data());
  return target;
}

TEST(SwFastRowDirect, DirectRowsGiveTheColumnTableKernelsBytes) {
  if (!HasAvx2()) GTEST_SKIP() << "no AVX2";
  std::vector<TCase> cases;
  for (int32_t n : {1, 2, 3, 4, 5, 7, 8, 9, 13, 19, 64, 301})
    for (bool edge : {false, true}) {
      const int32_t tex_w = edge ? n + 4 : n + 11, first = edge ? 4 : 2;
      for (int16_t w : {int16_t(0), int16_t(1), int16_t(-1)})
        for (float row : {0.0f, 1e-6f, 0.37f})
          cases.push_back(TCase{tex_w, 6, first, n, true, w, row, n % 2 == 1, n % 3 != 0, n % 4 == 1, n == 9});
      cases.push_back(TCase{tex_w, 6, first, n, false, 0, 0.0f, true, true, false, false});
    }
  for (const TCase& c : cases)
    for (int kind = 0; kind < 4; ++kind) {
      TCase k = c;
      k.Modulate = kind & 1;
      k.Blend = kind & 2;
      bool usable = false, ignored = false;
      const std::vector<uint32_t> direct = Draw(k, &SwQuadRowDirectAvx2, &usable);
      const std::vector<uint32_t> table = Draw(k, &SwQuadRowIntAvx2, &ignored);
      EXPECT_TRUE(usable) << k.N << " first " << k.First;
      EXPECT_EQ(direct, table) << "n " << k.N << " tex " << k.TexW << " weight " << k.Weight << " row " << k.RowFraction
                               << " kind " << kind;
    }
}

TEST(SwFastRowDirect, ColumnsThatSkipOrRepeatAreNotDirect) {
  TSwQuadPlan p;
  p.Tex = reinterpret_cast<const uint8_t*>(&p);  // never read
  p.TexW = 16;
  p.X1 = 4;
  p.IntUsable = true;
  p.Bilinear = true;
  p.NoWx = false;
  p.IntIxMin = 0;
  p.IntIx = {0, 1, 3, 4};  // magnified pictures repeat columns, minified ones skip them
  p.IntSpan = 6;
  p.IntCol = {0, 1, 2, 3, 4, 5};
  p.IntW4.assign(16, 100);
  EXPECT_FALSE(SwQuadRowDirectUsable(p));
  p.IntIx = {0, 1, 2, 3};
  EXPECT_TRUE(SwQuadRowDirectUsable(p));
  p.IntCol = {0, 1, 2, 2, 4, 5};  // a column repeated by addressing
  EXPECT_FALSE(SwQuadRowDirectUsable(p));
  p.IntCol = {0, 1, 2, 3, 3, 5};
  p.IntW4.assign(16, 100);
  EXPECT_TRUE(SwQuadRowDirectUsable(p));  // the last pixel's neighbour clamped to itself
  p.Copy = true;  // whole-byte rows stay with the general kernel
  EXPECT_FALSE(SwQuadRowDirectUsable(p));
}

}  // namespace
}  // namespace kav
