// Spans drawn through pixel kernels (the fast path of SwFastSpan.h).
#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/d3d/raster/SwBlend.h"
#include "platform/d3d/raster/SwFastSpan.h"
#include "platform/d3d/raster/SwKernelIo.h"
#include "platform/d3d/raster/SwSimd.h"

namespace kav {

namespace {

constexpr int32_t kChunk = 256;

// Whether attributes k and e of the triangle have the same values at every
// pixel: the same plane, and both constant or neither.
inline bool SameAttr(const TSwTriSetup& t, int k, int e) {
  const bool ck = (t.ConstMask >> k) & 1, ce = (t.ConstMask >> e) & 1;
  if (ck != ce) return false;
  if (ck) return std::bit_cast<uint32_t>(t.Const[k]) == std::bit_cast<uint32_t>(t.Const[e]);
  return std::memcmp(&t.Attr[k], &t.Attr[e], sizeof(TSwPlane)) == 0;
}

struct TSpanBuffers {
  float U[kSwMaxTexCoords][kChunk], V[kSwMaxTexCoords][kChunk];
  TSwColorF Diffuse[kChunk], Specular[kChunk], Out[kChunk];
  float Derivs[kChunk][kSwMaxTexCoords][4];
  float Fx[kChunk], Iq[kChunk];
  // Channels of Diffuse and Specular (b, g, r, a each) that hold one
  // constant: its bits and how many leading entries hold it. Kernels only
  // read the inputs, so a constant once written stays for the next span.
  uint32_t ConstBits[8] = {};
  int32_t ConstCount[8] = {};
};

}  // namespace

void SwShadeSpanKernel(const TSwPixelState& ps, const TSwTriSetup& t, int32_t y, int32_t x0, int32_t x1) {
  const float fy = float(y);
  const bool persp = !t.Affine;
  const float row_q = t.Q.c + t.Q.b * fy;
  // Attributes the kernel can see: diffuse, specular, the coordinate sets.
  int32_t used[kSwMaxAttrs];
  int32_t nused = 0;
  if (ps.HasDiffuse)
    for (int k = 0; k < 4; ++k) used[nused++] = kSwAttrDiffuse + k;
  if (ps.HasSpecular)
    for (int k = 0; k < 4; ++k) used[nused++] = kSwAttrSpecular + k;
  for (int k = 0; k < 2 * ps.TexSets; ++k) used[nused++] = kSwAttrTex + k;
  float row[kSwMaxAttrs];
  for (int32_t i = 0; i < nused; ++i) row[used[i]] = t.Attr[used[i]].c + t.Attr[used[i]].b * fy;
  bool lod[kSwMaxTexCoords] = {};
  for (int s = 0; s < ps.TexSets && s < kSwMaxStages; ++s) lod[s] = SwSamplerNeedsLod(ps.Samplers[s]);

  float attr[kSwMaxAttrs] = {};
  // Samplers whose result does not depend on the footprint get zero
  // derivatives: the reference's choice of level and filter is the same.
  float derivs[kSwMaxTexCoords][4] = {};
  TSwShaderInput in;
  in.Diffuse = TSwColorF{1, 1, 1, 1};
  in.Y = y;
  const TSwPixelContext ctx(&ps, ps.TexSets > 0 ? derivs : nullptr, true);
  TSwSpanPlan blend;
  const bool vector_blend = SwPlanBlend(ps.Blend, blend);
  const __m128 K0 = _mm_loadu_ps(blend.K0), K1 = _mm_loadu_ps(blend.K1), L0 = _mm_loadu_ps(blend.L0),
               L1 = _mm_loadu_ps(blend.L1);
  const __m128 MaxMask = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blend.MaxMask)));
  const uint32_t out_or = ps.TargetFormat == TSwFormat::X8R8G8B8 ? 0xFF000000u : 0u;
  uint32_t* dst = reinterpret_cast<uint32_t*>(ps.Target + int64_t(y) * ps.TargetPitch);
  if (ps.SpanKernel) {
    // Span form: the inputs of up to kChunk pixels at a time.
    thread_local TSpanBuffers buf;
    bool any_lod = false;
    for (int s = 0; s < ps.TexSets; ++s) any_lod |= lod[s];
    TSwPixelContext sctx(&ps, nullptr, true);
    sctx.SetSpanDerivatives(any_lod ? &buf.Derivs[0][0][0] : nullptr);
    TSwSpanInput sin;
    sin.Y = y;
    for (int s = 0; s < ps.TexSets; ++s) {
      sin.U[s] = buf.U[s];
      sin.V[s] = buf.V[s];
    }
    sin.Diffuse = buf.Diffuse;
    sin.Specular = buf.Specular;
    for (int32_t c0 = x0; c0 < x1; c0 += kChunk) {
      const int32_t n = std::min(kChunk, x1 - c0);
      // Attributes one at a time along the chunk (loops the compiler vectorises).
      float* fx = buf.Fx;
      float* iq = buf.Iq;
      for (int32_t i = 0; i < n; ++i) fx[i] = float(c0 + i);
      if (persp)
        for (int32_t i = 0; i < n; ++i) iq[i] = 1.0f / (row_q + t.Q.a * fx[i]);
      // A channel of one value over the chunk is written only when the
      // buffer does not hold it already.
      auto fill_const = [&](int slot, float* out, float value) {
        const uint32_t bits = std::bit_cast<uint32_t>(value);
        if (buf.ConstCount[slot] >= n && buf.ConstBits[slot] == bits) return;
        for (int32_t i = 0; i < n; ++i) out[4 * i] = value;
        buf.ConstBits[slot] = bits;
        buf.ConstCount[slot] = n;
      };
      auto eval = [&](int k, float* out, int32_t stride) {
        const float r = row[k], a = t.Attr[k].a;
        if ((t.ConstMask >> k) & 1) {  // affine: c + 0 * y + 0 * x is c as well
          for (int32_t i = 0; i < n; ++i) out[i * stride] = t.Const[k];
        } else if (stride == 1) {
          if (persp) SwEvalPerspectiveRow(out, c0, r, a, iq, n);
          else SwEvalAffineRow(out, c0, r, a, n);
        } else if (persp) {
          for (int32_t i = 0; i < n; ++i) out[i * stride] = (r + a * fx[i]) * iq[i];
        } else {
          for (int32_t i = 0; i < n; ++i) out[i * stride] = r + a * fx[i];
        }
      };
      for (int k = 0; k < 4; ++k) {
        float* d = &buf.Diffuse[0].b + k;
        const int kd = kSwAttrDiffuse + k, ks = kSwAttrSpecular + k;
        if (!ps.HasDiffuse) fill_const(k, d, 1.0f);
        else if ((t.ConstMask >> kd) & 1) fill_const(k, d, t.Const[kd]);
        else { eval(kd, d, 4); buf.ConstCount[k] = 0; }
        float* sp = &buf.Specular[0].b + k;
        if (!ps.HasSpecular) fill_const(4 + k, sp, 0.0f);
        else if ((t.ConstMask >> ks) & 1) fill_const(4 + k, sp, t.Const[ks]);
        else { eval(ks, sp, 4); buf.ConstCount[4 + k] = 0; }
      }
      for (int s = 0; s < ps.TexSets; ++s) {
        const int ku = kSwAttrTex + 2 * s, kv = ku + 1;
        sin.U[s] = buf.U[s];
        sin.V[s] = buf.V[s];
        // A set equal to an earlier one (video's two chroma sets) shares its
        // values.
        int same = -1;
        for (int e = 0; e < s && same < 0; ++e)
          if (!lod[s] && !lod[e] && SameAttr(t, ku, kSwAttrTex + 2 * e) && SameAttr(t, kv, kSwAttrTex + 2 * e + 1))
            same = e;
        if (same >= 0) {
          sin.U[s] = sin.U[same];
          sin.V[s] = sin.V[same];
          continue;
        }
        eval(ku, buf.U[s], 1);
        eval(kv, buf.V[s], 1);
        if (!lod[s]) continue;
        const bool cu = (t.ConstMask >> ku) & 1, cv = (t.ConstMask >> kv) & 1;
        for (int32_t i = 0; i < n; ++i) {
          float* d = buf.Derivs[i][s];
          if (!persp) {
            d[0] = t.Attr[ku].a; d[1] = t.Attr[kv].a; d[2] = t.Attr[ku].b; d[3] = t.Attr[kv].b;
          } else {
            d[0] = cu ? 0.0f : (t.Attr[ku].a - buf.U[s][i] * t.Q.a) * iq[i];
            d[1] = cv ? 0.0f : (t.Attr[kv].a - buf.V[s][i] * t.Q.a) * iq[i];
            d[2] = cu ? 0.0f : (t.Attr[ku].b - buf.U[s][i] * t.Q.b) * iq[i];
            d[3] = cv ? 0.0f : (t.Attr[kv].b - buf.V[s][i] * t.Q.b) * iq[i];
          }
        }
      }
      sin.X = c0;
      sin.Count = n;
      ps.SpanKernel(sctx, sin, buf.Out);
      int32_t i = 0;
      if (vector_blend) i = SwWriteKernelColors(buf.Out, dst + c0, n, blend, out_or);
      for (; i < n; ++i) {
        const TSwColorF& c = buf.Out[size_t(i)];
        const int32_t x = c0 + i;
        if (!vector_blend) {
          SwWritePixel(ps, x, y, c);
          continue;
        }
        __m128 v = SwClamp01(_mm_setr_ps(c.b, c.g, c.r, c.a));
        if (blend.Blend) v = SwBlend(v, SwUnpack(dst[x] | out_or), K0, K1, L0, L1, MaxMask);
        dst[x] = SwPack(v) | out_or;
      }
    }
    return;
  }
  for (int32_t x = x0; x < x1; ++x) {
    const float fx = float(x);
    if (!persp) {
      for (int32_t i = 0; i < nused; ++i) attr[used[i]] = row[used[i]] + t.Attr[used[i]].a * fx;
      for (int s = 0; s < ps.TexSets; ++s)
        if (lod[s]) {
          const TSwPlane& pu = t.Attr[kSwAttrTex + 2 * s];
          const TSwPlane& pv = t.Attr[kSwAttrTex + 2 * s + 1];
          derivs[s][0] = pu.a; derivs[s][1] = pv.a; derivs[s][2] = pu.b; derivs[s][3] = pv.b;
        }
    } else {
      const float iq = 1.0f / (row_q + t.Q.a * fx);
      for (int32_t i = 0; i < nused; ++i) {
        const int32_t k = used[i];
        attr[k] = (t.ConstMask >> k) & 1 ? t.Const[k] : (row[k] + t.Attr[k].a * fx) * iq;
      }
      for (int s = 0; s < ps.TexSets; ++s)
        if (lod[s]) {
          const int ku = kSwAttrTex + 2 * s, kv = ku + 1;
          const bool cu = (t.ConstMask >> ku) & 1, cv = (t.ConstMask >> kv) & 1;
          const float u = attr[ku], v = attr[kv];
          derivs[s][0] = cu ? 0.0f : (t.Attr[ku].a - u * t.Q.a) * iq;
          derivs[s][1] = cv ? 0.0f : (t.Attr[kv].a - v * t.Q.a) * iq;
          derivs[s][2] = cu ? 0.0f : (t.Attr[ku].b - u * t.Q.b) * iq;
          derivs[s][3] = cv ? 0.0f : (t.Attr[kv].b - v * t.Q.b) * iq;
        }
    }
    if (ps.HasDiffuse) in.Diffuse = TSwColorF{attr[0], attr[1], attr[2], attr[3]};
    if (ps.HasSpecular) in.Specular = TSwColorF{attr[4], attr[5], attr[6], attr[7]};
    for (int s = 0; s < ps.TexSets; ++s) {
      in.Tex[s][0] = attr[kSwAttrTex + 2 * s];
      in.Tex[s][1] = attr[kSwAttrTex + 2 * s + 1];
    }
    in.X = x;
    TSwColorF c;
    ps.Kernel(ctx, in, c);
    if (!vector_blend) {
      SwWritePixel(ps, x, y, c);
      continue;
    }
    __m128 v = SwClamp01(_mm_setr_ps(c.b, c.g, c.r, c.a));
    if (blend.Blend) v = SwBlend(v, SwUnpack(dst[x] | out_or), K0, K1, L0, L1, MaxMask);
    dst[x] = SwPack(v) | out_or;
  }
}

}  // namespace kav
