#include "platform/d3d/raster/SwFastQuad.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/d3d/raster/SwDraw.h"
#include "platform/d3d/raster/SwFastRow.h"
#include "platform/d3d/raster/SwFastRowDirect.h"
#include "platform/d3d/raster/SwFastSpan.h"
#include "platform/d3d/raster/SwPipeline.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {

TSwRasterStats& SwRasterStats() {
  static TSwRasterStats stats;
  return stats;
}


namespace {

inline int64_t CeilDiv256(int64_t a) { return a >= 0 ? (a + 255) / 256 : -((-a) / 256); }

inline bool SamePlane(const TSwPlane& a, const TSwPlane& b) {
  return std::memcmp(&a, &b, sizeof(TSwPlane)) == 0;
}

// The pixel rectangle when the two triangles tile one axis-aligned rectangle.
bool RectangleOf(const TSwTriSetup& t0, const TSwTriSetup& t1, const TSwRect& clip, TSwQuadPlan& p) {
  int64_t xs[2], ys[2];
  int nx = 0, ny = 0;
  const TSwTriSetup* tris[2] = {&t0, &t1};
  for (const TSwTriSetup* t : tris)
    for (int i = 0; i < 3; ++i) {
      int64_t x = t->X[i], y = t->Y[i];
      if (!(nx > 0 && xs[0] == x) && !(nx > 1 && xs[1] == x)) {
        if (nx == 2) return false;
        xs[nx++] = x;
      }
      if (!(ny > 0 && ys[0] == y) && !(ny > 1 && ys[1] == y)) {
        if (ny == 2) return false;
        ys[ny++] = y;
      }
    }
  if (nx != 2 || ny != 2) return false;
  // Each triangle takes three distinct corners; the two they share must be
  // opposite corners, so together they tile the rectangle once.
  auto corner = [&](const TSwTriSetup& t, int i) { return (t.X[i] == xs[0] ? 0 : 1) | (t.Y[i] == ys[0] ? 0 : 2); };
  int m0 = 0, m1 = 0;
  for (int i = 0; i < 3; ++i) {
    m0 |= 1 << corner(t0, i);
    m1 |= 1 << corner(t1, i);
  }
  if (__builtin_popcount(m0) != 3 || __builtin_popcount(m1) != 3 || (m0 | m1) != 15) return false;
  int shared = m0 & m1;
  if (shared != (1 | 8) && shared != (2 | 4)) return false;
  int64_t xa = std::min(xs[0], xs[1]), xb = std::max(xs[0], xs[1]);
  int64_t ya = std::min(ys[0], ys[1]), yb = std::max(ys[0], ys[1]);
  // Left and top edges are inside, right and bottom edges outside.
  p.X0 = int32_t(std::max<int64_t>(clip.left, CeilDiv256(xa)));
  p.X1 = int32_t(std::min<int64_t>(clip.right, CeilDiv256(xb)));
  p.Y0 = int32_t(std::max<int64_t>(clip.top, CeilDiv256(ya)));
  p.Y1 = int32_t(std::min<int64_t>(clip.bottom, CeilDiv256(yb)));
  return p.X0 < p.X1 && p.Y0 < p.Y1;
}

// The blend of the plan.
void CopyBlend(const TSwSpanPlan& f, TSwQuadPlan& p) {
  p.Blend = f.Blend;
  std::copy_n(f.K0, 4, p.K0);
  std::copy_n(f.K1, 4, p.K1);
  std::copy_n(f.L0, 4, p.L0);
  std::copy_n(f.L1, 4, p.L1);
  std::copy_n(f.MaxMask, 4, p.MaxMask);
}

// The stage's value per channel as texel * M + A for the rectangle's one
// diffuse colour `d`, and the blend, from the span planner's forms.
void StageAndBlend(const TSwSpanPlan& f, const float* d, TSwQuadPlan& p) {
  for (int l = 0; l < 4; ++l) {
    p.M[l] = f.FormTex[l] ? 1.0f : f.FormTexDiffuse[l] ? d[l] : 0.0f;
    p.A[l] = f.FormDiffuse[l] ? d[l] : f.FormDiffuse2[l] ? d[l] * d[l] : 0.0f;
  }
  CopyBlend(f, p);
}

// A pixel kernel with a stage form: stage 0's texture at coordinate set 0,
// times M plus A from the kernel; false when the kernel has no such form
// for these constants.
bool KernelStageAndBlend(const TSwPixelState& ps, const float* d, TSwSpanPlan& f, TSwQuadPlan& p) {
  if (!ps.KernelStage || ps.TexSets < 1 || ps.Samplers[0].Kind != TSwSamplerView::Tex2D) return false;
  if (!ps.KernelStage(ps.Constants, d, p.M, p.A) || !SwPlanBlend(ps.Blend, f)) return false;
  f.UsesTex = true;
  f.Sampler = &ps.Samplers[0];
  f.TexSet = 0;
  CopyBlend(f, p);
  return true;
}


// The one level and filter the reference sampler uses for these constant
// derivatives; false when it would blend two levels.
bool SingleLevel(const TSwSamplerView& s, const float* d, int32_t& level, bool& bilinear) {
  int32_t base = s.BaseLevel, last = s.Levels - 1;
  float lod = SwComputeLod(d, s.Level[base].Width, s.Level[base].Height, s.LodBias);
  TSwFilter f;
  if (!(lod > 0.0f)) {
    level = base;
    f = s.MagFilter;
  } else if (s.MipFilter == TSwFilter::None || base == last) {
    level = base;
    f = s.MinFilter;
  } else if (s.MipFilter == TSwFilter::Point) {
    level = std::min(last, base + SwFloorToInt(lod + 0.5f));
    f = s.MinFilter;
  } else {
    int32_t l0 = std::min(last, base + SwFloorToInt(lod));
    if (std::min(last, l0 + 1) != l0) return false;
    level = l0;
    f = s.MinFilter;
  }
  bilinear = !(f == TSwFilter::Point || f == TSwFilter::None);
  return true;
}

// The 16-bit kernel's column tables; leaves IntUsable false when the
// columns would span too many repeats of the texture.
void PlanInt(TSwQuadPlan& p, const TSwPlane& pu, float row_u, TSwAddress mode, int32_t width) {
  const int32_t n = p.X1 - p.X0;
  p.IntIx.resize(size_t(n));
  p.IntW4.resize(size_t(n) * 4);
  int32_t lo = 0, hi = 0;
  for (int32_t i = 0; i < n; ++i) {
    const float u = row_u + pu.a * float(p.X0 + i);
    int32_t ix;
    int16_t w = 0;
    if (p.Bilinear) {
      const float fx = u * float(width) - 0.5f;
      ix = SwFloorToInt(fx);
      const float wf = fx - float(ix);
      if (!(wf >= 0.0f && wf <= 1.0f)) return;  // far-off or invalid coordinates: the float kernels
      w = int16_t(std::min(32767, int32_t(wf * 32768.0f + 0.5f)));
    } else {
      ix = SwFloorToInt(u * float(width));
    }
    p.IntIx[size_t(i)] = ix;
    for (int l = 0; l < 4; ++l) p.IntW4[size_t(i) * 4 + size_t(l)] = w;
    lo = i ? std::min(lo, ix) : ix;
    hi = i ? std::max(hi, ix) : ix;
  }
  const int64_t span = int64_t(hi) - lo + 2;
  if (span > 4 * int64_t(width) + 64) return;
  p.IntIxMin = lo;
  p.IntSpan = int32_t(span);
  p.IntCol.resize(size_t(span));
  for (int32_t j = 0; j < p.IntSpan; ++j) p.IntCol[size_t(j)] = SwAddress(mode, lo + j, width);
  p.IntUsable = true;
}

// Which whole-byte blend a 1:1 row of unchanged texels takes (see
// TSwQuadPlan::ByteBlend).
int32_t ByteBlendOf(const TSwQuadPlan& p) {
  int32_t kind = -1;
  for (int l = 0; l < 4; ++l) {
    if (p.MaxMask[l]) return 0;
    int32_t k = p.K0[l] == 1 && p.K1[l] == 0 && p.L0[l] == 1 && p.L1[l] == -1   ? 1
                : p.K0[l] == 0 && p.K1[l] == 1 && p.L0[l] == 1 && p.L1[l] == -1 ? 2
                                                                               : 0;
    if (k == 0 || (kind >= 0 && k != kind)) return 0;
    kind = k;
  }
  return kind;
}

}  // namespace

bool SwTryFastQuad(const TSwPixelState& ps, const TSwTriSetup* tris, size_t count, int32_t threads) {
  // A kernel replaces the stages; it takes this path through its stage form.
  if (count != 2 || (ps.Kernel ? !ps.KernelStage : ps.StageCount > 1)) return false;
  const TSwTriSetup& t0 = tris[0];
  const TSwTriSetup& t1 = tris[1];
  if (!t0.Affine || !t1.Affine) return false;
  TSwQuadPlan p;
  if (!RectangleOf(t0, t1, ps.Clip, p)) return false;
  p.Target = ps.Target;
  p.TargetPitch = ps.TargetPitch;
  p.TargetX8 = ps.TargetFormat == TSwFormat::X8R8G8B8;

  // Diffuse: one value over the rectangle.
  float d[4] = {1, 1, 1, 1};
  if (ps.HasDiffuse) {
    for (int k = 0; k < 4; ++k) {
      if (!((t0.ConstMask >> k) & 1) || !((t1.ConstMask >> k) & 1) || t0.Const[k] != t1.Const[k]) return false;
      d[k] = t0.Const[k];
    }
  }
  TSwSpanPlan forms;
  if (ps.Kernel) {
    if (!KernelStageAndBlend(ps, d, forms, p)) return false;
  } else {
    if (!SwPlanFastSpans(ps, forms)) return false;
    StageAndBlend(forms, d, p);
  }
  const TSwSamplerView& sv = ps.Samplers[0];
  if (forms.UsesTex) {
    if (sv.Format != TSwFormat::A8R8G8B8 && sv.Format != TSwFormat::X8R8G8B8) return false;
    const int set = forms.TexSet;
    int ku = kSwAttrTex + 2 * set, kv = ku + 1;
    const TSwPlane& pu = t0.Attr[ku];
    const TSwPlane& pv = t0.Attr[kv];
    // u must follow x alone and v y alone, with the same planes in both
    // triangles, so one column table and one row source serve every pixel
    // exactly as the reference evaluates them.
    if (pu.b != 0.0f || pv.a != 0.0f || !SamePlane(pu, t1.Attr[ku]) || !SamePlane(pv, t1.Attr[kv])) return false;
    const float derivs[4] = {pu.a, pv.a, pu.b, pv.b};
    int32_t level;
    if (!SingleLevel(sv, derivs, level, p.Bilinear)) return false;
    const TSwLevelView& lv = sv.Level[level];
    p.Tex = lv.Bits;
    p.TexPitch = lv.Pitch;
    p.TexW = lv.Width;
    p.TexH = lv.Height;
    p.TexX8 = sv.Format == TSwFormat::X8R8G8B8;
    p.AddressV = sv.AddressV;
    p.Cv = pv.c;
    p.Bv = pv.b;
    const int32_t n = p.X1 - p.X0;
    p.Col0.resize(size_t(n));
    p.Col1.resize(size_t(n));
    p.Wx.resize(size_t(n));
    const float row_u = pu.c + pu.b * float(p.Y0);
    p.ColMin = lv.Width;
    p.ColMax = -1;
    p.NoWx = true;
    bool consecutive = true;
    std::vector<int32_t> snapped(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
      const float u = row_u + pu.a * float(p.X0 + i);
      if (p.Bilinear) {
        const float fx = u * float(lv.Width) - 0.5f;
        const int32_t ix = SwFloorToInt(fx);
        p.Wx[size_t(i)] = fx - float(ix);
        p.Col0[size_t(i)] = SwAddress(sv.AddressU, ix, lv.Width);
        p.Col1[size_t(i)] = SwAddress(sv.AddressU, ix + 1, lv.Width);
        if (p.Wx[size_t(i)] != 0.0f) p.NoWx = false;
      } else {
        p.Col0[size_t(i)] = p.Col1[size_t(i)] = SwAddress(sv.AddressU, SwFloorToInt(u * float(lv.Width)), lv.Width);
        p.Wx[size_t(i)] = 0.0f;
      }
      p.ColMin = std::min({p.ColMin, p.Col0[size_t(i)], p.Col1[size_t(i)]});
      p.ColMax = std::max({p.ColMax, p.Col0[size_t(i)], p.Col1[size_t(i)]});
      const float w = p.Wx[size_t(i)];
      snapped[size_t(i)] = w < kSwSnapWeight ? p.Col0[size_t(i)] : (w > 1.0f - kSwSnapWeight ? p.Col1[size_t(i)] : -1);
      if (snapped[size_t(i)] < 0 || snapped[size_t(i)] != snapped[0] + i) consecutive = false;
    }
    const bool identity = p.M[0] == 1 && p.M[1] == 1 && p.M[2] == 1 && p.A[0] == 0 && p.A[1] == 0 && p.A[2] == 0 &&
                          (p.TargetX8 || (p.M[3] == 1 && p.A[3] == 0));
    p.Copy = identity && !p.Blend && consecutive;
    p.CopyCol = snapped[0];
    // Blending reads the source alpha, so it must be unchanged too.
    if (identity && p.Blend && consecutive && p.M[3] == 1 && p.A[3] == 0) p.ByteBlend = ByteBlendOf(p);
    if (SwQuadRowKernel() == &SwQuadRowAvx2) PlanInt(p, pu, row_u, sv.AddressU, lv.Width);
  } else {
    p.ColMin = p.ColMax = 0;
    for (int l = 0; l < 4; ++l) p.M[l] = 0.0f;
  }

  SwRasterStats().FastQuads.fetch_add(1, std::memory_order_relaxed);
  const TSwRowKernel kernel = (p.Tex && p.IntUsable) ? (SwQuadRowDirectUsable(p) ? &SwQuadRowDirectAvx2 : &SwQuadRowIntAvx2)
                                                      : SwQuadRowKernel();
  const int64_t pixels = int64_t(p.X1 - p.X0) * (p.Y1 - p.Y0);
  const size_t cols = SwQuadScratchFloats(p);
  SwForBands(p.Y0, p.Y1, pixels, threads, [&](int32_t b0, int32_t b1) {
    thread_local std::vector<float> scratch;
    if (scratch.size() < cols) scratch.resize(cols);
    for (int32_t y = b0; y < b1; ++y) kernel(p, y, scratch.data());
  });
  return true;
}

}  // namespace kav
