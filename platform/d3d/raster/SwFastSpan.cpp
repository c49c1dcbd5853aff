#include "platform/d3d/raster/SwFastSpan.h"

#include <algorithm>
#include <cstdlib>

#include "platform/d3d/raster/SwSampleSimd.h"

namespace kav {

namespace {

}  // namespace

bool SwPlanBlend(const TSwBlendState& b, TSwSpanPlan& p) {
  p.Blend = b.Enable;
  if (!b.Enable) return true;
  auto factor = [](TSwBlend f, float& k0, float& k1) {
    switch (f) {
      case TSwBlend::Zero: k0 = 0; k1 = 0; return true;
      case TSwBlend::One: k0 = 1; k1 = 0; return true;
      case TSwBlend::SrcAlpha: k0 = 0; k1 = 1; return true;
      case TSwBlend::InvSrcAlpha: k0 = 1; k1 = -1; return true;
      default: return false;
    }
  };
  auto op_ok = [](TSwBlendOp op) { return op == TSwBlendOp::Add || op == TSwBlendOp::Max; };
  if (!op_ok(b.Op) || !op_ok(b.OpAlpha)) return false;
  for (int l = 0; l < 4; ++l) {
    bool alpha = l == 3;
    if (!factor(alpha ? b.SrcAlpha : b.Src, p.K0[l], p.K1[l])) return false;
    if (!factor(alpha ? b.DestAlpha : b.Dest, p.L0[l], p.L1[l])) return false;
    p.MaxMask[l] = (alpha ? b.OpAlpha : b.Op) == TSwBlendOp::Max ? ~0u : 0u;
  }
  return true;
}

namespace {

// The form of one channel group; false outside the family.
bool Form(const TSwPixelState& ps, bool alpha, bool has_tex, int lane0, int lanes, TSwSpanPlan& p) {
  enum { D, T, TD, DD } f = D;
  if (ps.StageCount == 1) {
    const TSwStageOps& st = ps.Stages[0];
    TSwTextureOp op = alpha ? st.AlphaOp : st.ColorOp;
    TSwTextureArg a1 = alpha ? st.AlphaArg1 : st.ColorArg1, a2 = alpha ? st.AlphaArg2 : st.ColorArg2;
    bool reads1 = op == TSwTextureOp::SelectArg1 || op == TSwTextureOp::Modulate;
    bool reads2 = op == TSwTextureOp::SelectArg2 || op == TSwTextureOp::Modulate;
    auto is_tex = [](TSwTextureArg a) { return a == TSwTextureArg::Texture; };
    auto plain = [](TSwTextureArg a) { return a == TSwTextureArg::Diffuse || a == TSwTextureArg::Current; };
    if ((reads1 && !is_tex(a1) && !plain(a1)) || (reads2 && !is_tex(a2) && !plain(a2))) return false;
    bool pass = !has_tex && ((reads1 && is_tex(a1)) || (reads2 && is_tex(a2)));
    if (pass || op == TSwTextureOp::Disable) f = D;
    else if (op != TSwTextureOp::Modulate) f = is_tex(op == TSwTextureOp::SelectArg1 ? a1 : a2) ? T : D;
    else if (is_tex(a1) && is_tex(a2)) return false;
    else f = (is_tex(a1) || is_tex(a2)) ? TD : DD;
  }
  for (int l = lane0; l < lane0 + lanes; ++l) {
    p.FormTex[l] = f == T ? ~0u : 0u;
    p.FormTexDiffuse[l] = f == TD ? ~0u : 0u;
    p.FormDiffuse[l] = f == D ? ~0u : 0u;
    p.FormDiffuse2[l] = f == DD ? ~0u : 0u;
    if (f == T || f == TD) p.UsesTex = true;
  }
  return true;
}

inline __m128 Mask(const uint32_t* m) { return _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m))); }

bool SwSpanUseAvx2() {
  static const bool use = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && !std::getenv("KAV_D3D_NO_AVX2");
  }();
  return use;
}

}  // namespace

bool SwPlanFastSpans(const TSwPixelState& ps, TSwSpanPlan& p) {
  if (ps.Kernel || ps.StageCount > 1) return false;
  const TSwSamplerView& sv = ps.Samplers[0];
  const bool has_tex = ps.StageCount == 1 && sv.Kind == TSwSamplerView::Tex2D;
  if (!Form(ps, false, has_tex, 0, 3, p) || !Form(ps, true, has_tex, 3, 1, p) || !SwPlanBlend(ps.Blend, p))
    return false;
  if (p.UsesTex) {
    p.Sampler = &sv;
    p.TexSet = ps.Stages[0].TexCoordIndex;
    if (p.TexSet >= ps.TexSets) return false;
    p.NeedLod = sv.MagFilter != sv.MinFilter || (sv.MipFilter != TSwFilter::None && sv.BaseLevel < sv.Levels - 1);
  }
  p.Avx2 = SwSpanUseAvx2() && SwFastSpanAvx2Usable(p);
  p.Int = p.Avx2 && SwFastSpanIntUsable(p);
  return true;
}

void SwShadeSpanFast(const TSwPixelState& ps, const TSwSpanPlan& p, const TSwTriSetup& t, int32_t y, int32_t x0,
                     int32_t x1) {
  if (p.Avx2) x0 = SwShadeSpanFastAvx2(ps, p, t, y, x0, x1);
  if (x0 >= x1) return;
  const float fy = float(y);
  const bool persp = !t.Affine;
  const float row_q = t.Q.c + t.Q.b * fy;
  // Diffuse lanes: constant, or interpolated as the reference does.
  alignas(16) float d_row[4], d_a[4], d_const[4];
  uint32_t d_is_const[4];
  for (int k = 0; k < 4; ++k) {
    const TSwPlane& pl = t.Attr[kSwAttrDiffuse + k];
    d_row[k] = pl.c + pl.b * fy;
    d_a[k] = pl.a;
    bool c = !ps.HasDiffuse || ((t.ConstMask >> k) & 1);
    d_is_const[k] = c ? ~0u : 0u;
    d_const[k] = !ps.HasDiffuse ? 1.0f : t.Const[k];
  }
  const __m128 DRow = _mm_load_ps(d_row), DA = _mm_load_ps(d_a), DConst = _mm_load_ps(d_const);
  const __m128 DIsConst = Mask(d_is_const);
  const bool d_all_const = d_is_const[0] && d_is_const[1] && d_is_const[2] && d_is_const[3];
  const __m128 FT = Mask(p.FormTex), FTD = Mask(p.FormTexDiffuse), FD = Mask(p.FormDiffuse), FDD = Mask(p.FormDiffuse2);
  const __m128 One = _mm_set1_ps(1.0f);
  const __m128 K0 = _mm_loadu_ps(p.K0), K1 = _mm_loadu_ps(p.K1), L0 = _mm_loadu_ps(p.L0), L1 = _mm_loadu_ps(p.L1);
  const __m128 MaxMask = Mask(p.MaxMask);
  const uint32_t out_or = ps.TargetFormat == TSwFormat::X8R8G8B8 ? 0xFF000000u : 0u;
  const uint32_t tex_or = (p.UsesTex && p.Sampler->Format == TSwFormat::X8R8G8B8) ? 0xFF000000u : 0u;

  const int ku = kSwAttrTex + 2 * p.TexSet, kv = ku + 1;
  const TSwPlane& pu = t.Attr[ku];
  const TSwPlane& pv = t.Attr[kv];
  const bool cu = (t.ConstMask >> ku) & 1, cv = (t.ConstMask >> kv) & 1;
  const float row_u = pu.c + pu.b * fy, row_v = pv.c + pv.b * fy;
  uint32_t* dst = reinterpret_cast<uint32_t*>(ps.Target + int64_t(y) * ps.TargetPitch);

  for (int32_t x = x0; x < x1; ++x) {
    const float fx = float(x);
    float iq = 1.0f;
    if (persp) iq = 1.0f / (row_q + t.Q.a * fx);
    __m128 d;
    if (d_all_const) {
      d = DConst;
    } else {
      __m128 lin = _mm_add_ps(DRow, _mm_mul_ps(DA, _mm_set1_ps(fx)));
      if (persp) lin = _mm_mul_ps(lin, _mm_set1_ps(iq));
      d = _mm_or_ps(_mm_and_ps(DIsConst, DConst), _mm_andnot_ps(DIsConst, lin));
    }
    __m128 r = _mm_setzero_ps();
    if (p.UsesTex) {
      float u, v, derivs[4];
      if (!persp) {
        u = row_u + pu.a * fx;
        v = row_v + pv.a * fx;
        derivs[0] = pu.a; derivs[1] = pv.a; derivs[2] = pu.b; derivs[3] = pv.b;
      } else {
        u = cu ? t.Const[ku] : (row_u + pu.a * fx) * iq;
        v = cv ? t.Const[kv] : (row_v + pv.a * fx) * iq;
        if (p.NeedLod) {
          derivs[0] = cu ? 0.0f : (pu.a - u * t.Q.a) * iq;
          derivs[1] = cv ? 0.0f : (pv.a - v * t.Q.a) * iq;
          derivs[2] = cu ? 0.0f : (pu.b - u * t.Q.b) * iq;
          derivs[3] = cv ? 0.0f : (pv.b - v * t.Q.b) * iq;
        }
      }
      r = SwSample2D4(*p.Sampler, u, v, p.NeedLod ? derivs : nullptr, tex_or);
    }
    // texel * M + A with M in {1, diffuse, 0} and A in {diffuse, diffuse^2, 0}.
    __m128 m = _mm_or_ps(_mm_and_ps(FT, One), _mm_and_ps(FTD, d));
    __m128 a = _mm_or_ps(_mm_and_ps(FD, d), _mm_and_ps(FDD, _mm_mul_ps(d, d)));
    __m128 s = SwClamp01(_mm_add_ps(_mm_mul_ps(r, m), a));
    if (p.Blend) s = SwBlend(s, SwUnpack(dst[x] | out_or), K0, K1, L0, L1, MaxMask);
    dst[x] = SwPack(s) | out_or;
  }
}

}  // namespace kav
