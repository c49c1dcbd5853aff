#include "platform/d3d/raster/SwPipeline.h"

#include "platform/d3d/raster/SwBlend.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {

namespace {

inline TSwColorF AttrColor(const float* a) { return TSwColorF{a[0], a[1], a[2], a[3]}; }

inline TSwColorF Arg(TSwTextureArg arg, const TSwColorF& tex, bool has_tex, const TSwColorF& cur,
                     const TSwColorF& diffuse, const TSwColorF& specular) {
  switch (arg) {
    case TSwTextureArg::Diffuse: return diffuse;
    case TSwTextureArg::Texture: return has_tex ? tex : cur;
    case TSwTextureArg::Specular: return specular;
    default: return cur;
  }
}

inline bool ReadsTexture(TSwTextureOp op, TSwTextureArg a1, TSwTextureArg a2) {
  bool r1 = op == TSwTextureOp::SelectArg1 || op == TSwTextureOp::Modulate;
  bool r2 = op == TSwTextureOp::SelectArg2 || op == TSwTextureOp::Modulate;
  return (r1 && a1 == TSwTextureArg::Texture) || (r2 && a2 == TSwTextureArg::Texture);
}

}  // namespace

TSwColorF SwRunStages(const TSwPixelState& ps, const TSwColorF& diffuse, const TSwColorF& specular,
                      const float* attr, const float (*derivs)[4]) {
  TSwColorF cur = diffuse;
  for (int s = 0; s < ps.StageCount; ++s) {
    const TSwStageOps& st = ps.Stages[s];
    const TSwSamplerView& sv = ps.Samplers[s];
    bool has_tex = sv.Kind == TSwSamplerView::Tex2D;
    bool uses_tex = st.ColorArg1 == TSwTextureArg::Texture || st.ColorArg2 == TSwTextureArg::Texture ||
                    st.AlphaArg1 == TSwTextureArg::Texture || st.AlphaArg2 == TSwTextureArg::Texture;
    TSwColorF tex;
    if (has_tex && uses_tex) {
      int set = st.TexCoordIndex;
      if (set < ps.TexSets)
        tex = SwSample2D(sv, attr[kSwAttrTex + 2 * set], attr[kSwAttrTex + 2 * set + 1], derivs ? derivs[set] : nullptr);
      else
        tex = SwSample2D(sv, 0.0f, 0.0f, nullptr);
    }
    TSwColorF c1 = Arg(st.ColorArg1, tex, has_tex, cur, diffuse, specular);
    TSwColorF c2 = Arg(st.ColorArg2, tex, has_tex, cur, diffuse, specular);
    TSwColorF next = cur;
    // A stage without a texture passes its input through wherever an
    // operation reads the texture.
    const bool color_pass = !has_tex && ReadsTexture(st.ColorOp, st.ColorArg1, st.ColorArg2);
    const bool alpha_pass = !has_tex && ReadsTexture(st.AlphaOp, st.AlphaArg1, st.AlphaArg2);
    switch (color_pass ? TSwTextureOp::Disable : st.ColorOp) {
      case TSwTextureOp::SelectArg1: next.b = c1.b; next.g = c1.g; next.r = c1.r; break;
      case TSwTextureOp::SelectArg2: next.b = c2.b; next.g = c2.g; next.r = c2.r; break;
      case TSwTextureOp::Modulate: next.b = c1.b * c2.b; next.g = c1.g * c2.g; next.r = c1.r * c2.r; break;
      default: break;
    }
    float a1 = Arg(st.AlphaArg1, tex, has_tex, cur, diffuse, specular).a;
    float a2 = Arg(st.AlphaArg2, tex, has_tex, cur, diffuse, specular).a;
    switch (alpha_pass ? TSwTextureOp::Disable : st.AlphaOp) {
      case TSwTextureOp::SelectArg1: next.a = a1; break;
      case TSwTextureOp::SelectArg2: next.a = a2; break;
      case TSwTextureOp::Modulate: next.a = a1 * a2; break;
      default: break;  // a disabled alpha op keeps the current alpha
    }
    cur = next;
  }
  return cur;
}

void SwShadePixel(const TSwPixelState& ps, const float* attr, const float (*derivs)[4], int32_t x, int32_t y) {
  TSwColorF diffuse = ps.HasDiffuse ? AttrColor(attr + kSwAttrDiffuse) : TSwColorF{1, 1, 1, 1};
  TSwColorF specular = ps.HasSpecular ? AttrColor(attr + kSwAttrSpecular) : TSwColorF{};
  TSwColorF c;
  if (ps.Kernel) {
    TSwShaderInput in;
    for (int s = 0; s < ps.TexSets; ++s) {
      in.Tex[s][0] = attr[kSwAttrTex + 2 * s];
      in.Tex[s][1] = attr[kSwAttrTex + 2 * s + 1];
    }
    in.Diffuse = diffuse;
    in.Specular = specular;
    in.X = x;
    in.Y = y;
    TSwPixelContext ctx(&ps, derivs);
    ps.Kernel(ctx, in, c);
  } else {
    c = SwRunStages(ps, diffuse, specular, attr, derivs);
  }
  SwWritePixel(ps, x, y, c);
}

void SwShadeSpanReference(const TSwPixelState& ps, const TSwTriSetup& t, int32_t nattr, int32_t y, int32_t x0,
                          int32_t x1) {
  const float fy = float(y);
  float row[kSwMaxAttrs];
  for (int k = 0; k < nattr; ++k) row[k] = t.Attr[k].c + t.Attr[k].b * fy;
  const float row_q = t.Q.c + t.Q.b * fy;
  float attr[kSwMaxAttrs];
  float derivs[kSwMaxTexCoords][4];
  const bool need_derivs = ps.TexSets > 0;
  for (int32_t x = x0; x < x1; ++x) {
    const float fx = float(x);
    if (t.Affine) {
      for (int k = 0; k < nattr; ++k) attr[k] = row[k] + t.Attr[k].a * fx;
      if (need_derivs)
        for (int s = 0; s < ps.TexSets; ++s) {
          const TSwPlane& pu = t.Attr[kSwAttrTex + 2 * s];
          const TSwPlane& pv = t.Attr[kSwAttrTex + 2 * s + 1];
          derivs[s][0] = pu.a; derivs[s][1] = pv.a; derivs[s][2] = pu.b; derivs[s][3] = pv.b;
        }
    } else {
      const float iq = 1.0f / (row_q + t.Q.a * fx);
      for (int k = 0; k < nattr; ++k)
        attr[k] = (t.ConstMask >> k) & 1 ? t.Const[k] : (row[k] + t.Attr[k].a * fx) * iq;
      if (need_derivs)
        for (int s = 0; s < ps.TexSets; ++s) {
          int ku = kSwAttrTex + 2 * s, kv = ku + 1;
          float u = attr[ku], v = attr[kv];
          bool cu = (t.ConstMask >> ku) & 1, cv = (t.ConstMask >> kv) & 1;
          derivs[s][0] = cu ? 0.0f : (t.Attr[ku].a - u * t.Q.a) * iq;
          derivs[s][1] = cv ? 0.0f : (t.Attr[kv].a - v * t.Q.a) * iq;
          derivs[s][2] = cu ? 0.0f : (t.Attr[ku].b - u * t.Q.b) * iq;
          derivs[s][3] = cv ? 0.0f : (t.Attr[kv].b - v * t.Q.b) * iq;
        }
    }
    SwShadePixel(ps, attr, need_derivs ? derivs : nullptr, x, y);
  }
}

}  // namespace kav
