// The AVX2 variant of the span path: eight pixels at a time with each
// channel in its own register, for textures sampled at one level with clamp
// addressing (and for untextured spans). The per-channel float operations
// are the reference's, so the bytes are the same.
#include <immintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/d3d/raster/SwFastSpan.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {

namespace {

#define KAV_AVX2 __attribute__((target("avx2")))

struct TChannels {
  __m256 c[4];  // b, g, r, a
};

KAV_AVX2 inline TChannels Unpack8(__m256i px) {
  const __m256i m = _mm256_set1_epi32(255);
  const __m256 inv = _mm256_set1_ps(kSwInv255);
  TChannels t;
  for (int k = 0; k < 4; ++k)
    t.c[k] = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(px, 8 * k), m)), inv);
  return t;
}

KAV_AVX2 inline __m256 Lerp(__m256 a, __m256 b, __m256 t) { return _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), t)); }

KAV_AVX2 inline __m256 Clamp01(__m256 v) {
  return _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
}

KAV_AVX2 inline bool SameLanes(__m256i v) {
  return _mm256_movemask_epi8(_mm256_cmpeq_epi32(v, _mm256_set1_epi32(_mm256_cvtsi256_si32(v)))) == -1;
}

KAV_AVX2 inline __m256i Clamp(__m256i v, __m256i hi) { return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), hi); }

// Eight texels by index, loaded one by one: on some processors (AMD's)
// the gather instruction is several times slower than eight plain loads.
KAV_AVX2 inline __m256i Gather8(const int* base, __m256i index) {
  alignas(32) int32_t i[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(i), index);
  return _mm256_setr_epi32(base[i[0]], base[i[1]], base[i[2]], base[i[3]], base[i[4]], base[i[5]], base[i[6]], base[i[7]]);
}

// A channel in [0, 1] (clamped again) to its byte, as every write does.
KAV_AVX2 inline __m256i ToByte(__m256 v) {
  return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(Clamp01(v), _mm256_set1_ps(255.0f)), _mm256_set1_ps(0.5f)));
}

// Whether every byte read as a channel (and clamped), then written, comes
// back unchanged, and an alpha byte of 255 reads as exactly 1: then an
// opaque texel drawn unmodified over anything writes its own bytes.
KAV_AVX2 bool BytesRoundTrip() {
  for (int b = 0; b < 256; b += 8) {
    const __m256i v = _mm256_add_epi32(_mm256_set1_epi32(b), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256 c = Clamp01(Unpack8(v).c[0]);
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(ToByte(c), v)) != -1) return false;
  }
  const __m256 a = Clamp01(Unpack8(_mm256_set1_epi32(255)).c[0]);
  return _mm256_movemask_ps(_mm256_cmp_ps(a, _mm256_set1_ps(1.0f), _CMP_EQ_OQ)) == 0xFF;
}

enum TForm { kFormD, kFormT, kFormTD, kFormDD };

inline TForm FormOf(const TSwSpanPlan& p, int lane) {
  if (p.FormTex[lane]) return kFormT;
  if (p.FormTexDiffuse[lane]) return kFormTD;
  if (p.FormDiffuse2[lane]) return kFormDD;
  return kFormD;
}

}  // namespace

bool SwFastSpanAvx2Usable(const TSwSpanPlan& p) {
  if (!p.UsesTex) return true;
  const TSwSamplerView& s = *p.Sampler;
  return !p.NeedLod && s.AddressU == TSwAddress::Clamp && s.AddressV == TSwAddress::Clamp &&
         (s.Format == TSwFormat::A8R8G8B8 || s.Format == TSwFormat::X8R8G8B8);
}

// Shades [x0, x1) in groups of eight, the last group masked to the span's
// end, and returns where it stopped (x1 unless coordinates were far off).
KAV_AVX2 int32_t SwShadeSpanFastAvx2(const TSwPixelState& ps, const TSwSpanPlan& p, const TSwTriSetup& t, int32_t y,
                                     int32_t x0, int32_t x1) {
  if (x1 <= x0) return x0;
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const float fy = float(y);
  const bool persp = !t.Affine;
  const __m256 row_q = _mm256_set1_ps(t.Q.c + t.Q.b * fy), qa = _mm256_set1_ps(t.Q.a);
  __m256 d_row[4], d_a[4];
  bool d_const[4];
  for (int k = 0; k < 4; ++k) {
    const TSwPlane& pl = t.Attr[kSwAttrDiffuse + k];
    d_const[k] = !ps.HasDiffuse || ((t.ConstMask >> k) & 1);
    d_row[k] = _mm256_set1_ps(!ps.HasDiffuse ? 1.0f : d_const[k] ? t.Const[k] : pl.c + pl.b * fy);
    d_a[k] = _mm256_set1_ps(pl.a);
  }
  TForm form[4];
  for (int k = 0; k < 4; ++k) form[k] = FormOf(p, k);
  const __m256 one = _mm256_set1_ps(1.0f), half = _mm256_set1_ps(0.5f);
  __m256 K0[4], K1[4], L0[4], L1[4];
  for (int k = 0; k < 4; ++k) {
    K0[k] = _mm256_set1_ps(p.K0[k]);
    K1[k] = _mm256_set1_ps(p.K1[k]);
    L0[k] = _mm256_set1_ps(p.L0[k]);
    L1[k] = _mm256_set1_ps(p.L1[k]);
  }
  const uint32_t out_or = ps.TargetFormat == TSwFormat::X8R8G8B8 ? 0xFF000000u : 0u;
  const __m256i out_or8 = _mm256_set1_epi32(int(out_or));
  uint32_t* dst = reinterpret_cast<uint32_t*>(ps.Target + int64_t(y) * ps.TargetPitch);

  // Texture coordinates.
  const int ku = kSwAttrTex + 2 * p.TexSet, kv = ku + 1;
  const TSwPlane& pu = t.Attr[ku];
  const TSwPlane& pv = t.Attr[kv];
  const bool cu = (t.ConstMask >> ku) & 1, cv = (t.ConstMask >> kv) & 1;
  const __m256 row_u = _mm256_set1_ps(pu.c + pu.b * fy), row_v = _mm256_set1_ps(pv.c + pv.b * fy);
  const __m256 ua = _mm256_set1_ps(pu.a), va = _mm256_set1_ps(pv.a);
  const __m256 u_const = _mm256_set1_ps(cu ? t.Const[ku] : 0.0f), v_const = _mm256_set1_ps(cv ? t.Const[kv] : 0.0f);
  const TSwLevelView* lv = p.UsesTex ? &p.Sampler->Level[p.Sampler->BaseLevel] : nullptr;
  const TSwFilter filter = p.UsesTex ? p.Sampler->MagFilter : TSwFilter::Point;
  const bool bilinear = !(filter == TSwFilter::Point || filter == TSwFilter::None);
  const __m256 tw = _mm256_set1_ps(lv ? float(lv->Width) : 0.0f), th = _mm256_set1_ps(lv ? float(lv->Height) : 0.0f);
  const __m256i wmax = _mm256_set1_epi32(lv ? lv->Width - 1 : 0), hmax = _mm256_set1_epi32(lv ? lv->Height - 1 : 0);
  const __m256i pitch4 = _mm256_set1_epi32(lv ? lv->Pitch / 4 : 0);
  const __m256i tex_or = _mm256_set1_epi32((p.UsesTex && p.Sampler->Format == TSwFormat::X8R8G8B8) ? int(0xFF000000u) : 0);
  const int* base = lv ? reinterpret_cast<const int*>(lv->Bits) : nullptr;
  const __m256 limit = _mm256_set1_ps(16777216.0f);

  // A blend whose source factors are 1 and destination factors 0 where the
  // source alpha is 1 gives s * 1 + d * 0 = s exactly there: groups of
  // opaque pixels skip the destination.
  bool over_opaque = p.Blend;
  for (int k = 0; k < 4 && over_opaque; ++k)
    over_opaque = !p.MaxMask[k] && p.K0[k] + p.K1[k] == 1.0f && p.L0[k] + p.L1[k] == 0.0f;
  // Point-sampled texels taken unmodified (diffuse exactly 1 where it
  // multiplies) and drawn plainly or over-opaque: groups of opaque texels
  // write the texels' own bytes, which is what the arithmetic gives when
  // bytes round-trip (checked once).
  static const bool round_trip = BytesRoundTrip();
  bool copy_texels = round_trip && p.UsesTex && !bilinear && (!p.Blend || over_opaque);
  for (int k = 0; k < 4 && copy_texels; ++k)
    copy_texels = form[k] == kFormT || (form[k] == kFormTD && d_const[k] && _mm256_cvtss_f32(d_row[k]) == 1.0f);
  const __m256i alpha_mask = _mm256_set1_epi32(int(0xFF000000u));

  int32_t x = x0;
  for (; x < x1; x += 8) {
    // The lanes inside the span (all eight but in the last group). Lanes
    // past its end compute on coordinates beyond the triangle: their texel
    // indices are clamped into the level and their results never stored.
    const bool partial = x1 - x < 8;
    const __m256i inside = _mm256_cmpgt_epi32(_mm256_set1_epi32(x1 - x), lanes);
    const __m256 fx = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x), lanes));
    __m256 iq = one;
    if (persp) iq = _mm256_div_ps(one, _mm256_add_ps(row_q, _mm256_mul_ps(qa, fx)));
    __m256 d[4];
    for (int k = 0; k < 4; ++k) {
      if (d_const[k]) {
        d[k] = d_row[k];
      } else {
        d[k] = _mm256_add_ps(d_row[k], _mm256_mul_ps(d_a[k], fx));
        if (persp) d[k] = _mm256_mul_ps(d[k], iq);
      }
    }
    TChannels r{};
    if (p.UsesTex) {
      __m256 u = _mm256_add_ps(row_u, _mm256_mul_ps(ua, fx)), v = _mm256_add_ps(row_v, _mm256_mul_ps(va, fx));
      if (persp) {
        u = cu ? u_const : _mm256_mul_ps(u, iq);
        v = cv ? v_const : _mm256_mul_ps(v, iq);
      }
      __m256 sx = _mm256_mul_ps(u, tw), sy = _mm256_mul_ps(v, th);
      if (bilinear) {
        sx = _mm256_sub_ps(sx, half);
        sy = _mm256_sub_ps(sy, half);
      }
      // Far-off or invalid coordinates go the per-pixel way (the reference
      // limits its integer conversion there).
      __m256 ok = _mm256_and_ps(_mm256_cmp_ps(_mm256_andnot_ps(_mm256_set1_ps(-0.0f), sx), limit, _CMP_LT_OQ),
                                _mm256_cmp_ps(_mm256_andnot_ps(_mm256_set1_ps(-0.0f), sy), limit, _CMP_LT_OQ));
      if (partial) ok = _mm256_or_ps(ok, _mm256_castsi256_ps(_mm256_xor_si256(inside, _mm256_set1_epi32(-1))));
      if (_mm256_movemask_ps(ok) != 0xFF) break;
      const __m256 flx = _mm256_floor_ps(sx), fly = _mm256_floor_ps(sy);
      const __m256i ix = _mm256_cvttps_epi32(flx), iy = _mm256_cvttps_epi32(fly);
      const __m256i x0i = Clamp(ix, wmax), y0i = Clamp(iy, hmax);
      const __m256i row0 = _mm256_mullo_epi32(y0i, pitch4);
      __m256i t00 = _mm256_or_si256(Gather8(base, _mm256_add_epi32(row0, x0i)), tex_or);
      if (!bilinear) {
        if (copy_texels && _mm256_testc_si256(t00, alpha_mask)) {
          const __m256i px = _mm256_or_si256(t00, out_or8);
          if (partial) _mm256_maskstore_epi32(reinterpret_cast<int*>(dst + x), inside, px);
          else _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), px);
          continue;
        }
        r = Unpack8(t00);
      } else {
        const __m256 wx = _mm256_sub_ps(sx, flx), wy = _mm256_sub_ps(sy, fly);
        const __m256i one_i = _mm256_set1_epi32(1);
        const __m256i x1i = Clamp(_mm256_add_epi32(ix, one_i), wmax), y1i = Clamp(_mm256_add_epi32(iy, one_i), hmax);
        const __m256i row1 = _mm256_mullo_epi32(y1i, pitch4);
        TChannels a = Unpack8(t00);
        TChannels b = Unpack8(_mm256_or_si256(Gather8(base, _mm256_add_epi32(row1, x0i)), tex_or));
        TChannels c = Unpack8(_mm256_or_si256(Gather8(base, _mm256_add_epi32(row0, x1i)), tex_or));
        TChannels e = Unpack8(_mm256_or_si256(Gather8(base, _mm256_add_epi32(row1, x1i)), tex_or));
        for (int k = 0; k < 4; ++k) r.c[k] = Lerp(Lerp(a.c[k], b.c[k], wy), Lerp(c.c[k], e.c[k], wy), wx);
      }
    }
    __m256 s[4];
    for (int k = 0; k < 4; ++k) {
      switch (form[k]) {
        case kFormT: s[k] = r.c[k]; break;
        case kFormTD: s[k] = _mm256_mul_ps(r.c[k], d[k]); break;
        case kFormDD: s[k] = _mm256_mul_ps(d[k], d[k]); break;
        default: s[k] = d[k]; break;
      }
      s[k] = Clamp01(s[k]);
    }
    __m256i* out = reinterpret_cast<__m256i*>(dst + x);
    if (p.Blend && !(over_opaque && _mm256_movemask_ps(_mm256_cmp_ps(s[3], one, _CMP_EQ_OQ)) == 0xFF)) {
      const __m256i under = partial ? _mm256_maskload_epi32(reinterpret_cast<const int*>(dst + x), inside)
                                    : _mm256_loadu_si256(out);
      TChannels dd = Unpack8(_mm256_or_si256(under, out_or8));
      const __m256 sa = s[3];
      __m256 res[4];
      for (int k = 0; k < 4; ++k) {
        __m256 sf = _mm256_add_ps(K0[k], _mm256_mul_ps(K1[k], sa));
        __m256 df = _mm256_add_ps(L0[k], _mm256_mul_ps(L1[k], sa));
        res[k] = p.MaxMask[k] ? _mm256_max_ps(s[k], dd.c[k])
                              : _mm256_add_ps(_mm256_mul_ps(s[k], sf), _mm256_mul_ps(dd.c[k], df));
      }
      for (int k = 0; k < 4; ++k) s[k] = res[k];
    }
    __m256i px = out_or8;
    for (int k = 0; k < 4; ++k) px = _mm256_or_si256(px, _mm256_slli_epi32(ToByte(s[k]), 8 * k));
    if (partial) _mm256_maskstore_epi32(reinterpret_cast<int*>(dst + x), inside, px);
    else _mm256_storeu_si256(out, px);
  }
  return std::min(x, x1);
}

}  // namespace kav

namespace kav {

namespace {

// Stores eight colours held as four channel registers.
KAV_AVX2 inline void StoreColors(const TChannels& r, TSwColorF* out) {
  __m256 t0 = _mm256_unpacklo_ps(r.c[0], r.c[1]), t1 = _mm256_unpackhi_ps(r.c[0], r.c[1]);
  __m256 t2 = _mm256_unpacklo_ps(r.c[2], r.c[3]), t3 = _mm256_unpackhi_ps(r.c[2], r.c[3]);
  __m256 p0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0)), p1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  __m256 p2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0)), p3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
  float* o = reinterpret_cast<float*>(out);
  _mm256_storeu_ps(o, _mm256_permute2f128_ps(p0, p1, 0x20));
  _mm256_storeu_ps(o + 8, _mm256_permute2f128_ps(p2, p3, 0x20));
  _mm256_storeu_ps(o + 16, _mm256_permute2f128_ps(p0, p1, 0x31));
  _mm256_storeu_ps(o + 24, _mm256_permute2f128_ps(p2, p3, 0x31));
}

KAV_AVX2 int32_t SampleSpanAvx2(const TSwSamplerView& s, const float* u, const float* v, int32_t count,
                                TSwColorF* out) {
  const TSwLevelView& lv = s.Level[s.BaseLevel];
  const bool bilinear = !(s.MagFilter == TSwFilter::Point || s.MagFilter == TSwFilter::None);
  const __m256 tw = _mm256_set1_ps(float(lv.Width)), th = _mm256_set1_ps(float(lv.Height));
  const __m256i wmax = _mm256_set1_epi32(lv.Width - 1), hmax = _mm256_set1_epi32(lv.Height - 1);
  const __m256i pitch4 = _mm256_set1_epi32(lv.Pitch / 4);
  const __m256i tex_or = _mm256_set1_epi32(s.Format == TSwFormat::X8R8G8B8 ? int(0xFF000000u) : 0);
  const int* base = reinterpret_cast<const int*>(lv.Bits);
  const __m256 limit = _mm256_set1_ps(16777216.0f), half = _mm256_set1_ps(0.5f), sign = _mm256_set1_ps(-0.0f);
  // L8 texels are read as bytes and widened to grey with alpha 255, the
  // A8R8G8B8 value the reference reads.
  const bool l8 = s.Format == TSwFormat::L8;
  const __m256i pitch_units = l8 ? _mm256_set1_epi32(lv.Pitch) : pitch4;
  auto fetch = [&](__m256i index) KAV_AVX2 {
    if (!l8) return Unpack8(_mm256_or_si256(_mm256_i32gather_epi32(base, index, 4), tex_or));
    __m256i g = _mm256_and_si256(_mm256_i32gather_epi32(base, index, 1), _mm256_set1_epi32(255));
    return Unpack8(_mm256_or_si256(_mm256_mullo_epi32(g, _mm256_set1_epi32(0x010101)), _mm256_set1_epi32(int(0xFF000000u))));
  };
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m256 sx = _mm256_mul_ps(_mm256_loadu_ps(u + i), tw), sy = _mm256_mul_ps(_mm256_loadu_ps(v + i), th);
    if (bilinear) {
      sx = _mm256_sub_ps(sx, half);
      sy = _mm256_sub_ps(sy, half);
    }
    __m256 ok = _mm256_and_ps(_mm256_cmp_ps(_mm256_andnot_ps(sign, sx), limit, _CMP_LT_OQ),
                              _mm256_cmp_ps(_mm256_andnot_ps(sign, sy), limit, _CMP_LT_OQ));
    if (_mm256_movemask_ps(ok) != 0xFF) break;
    const __m256 flx = _mm256_floor_ps(sx), fly = _mm256_floor_ps(sy);
    const __m256i ix = _mm256_cvttps_epi32(flx), iy = _mm256_cvttps_epi32(fly);
    const __m256i x0i = Clamp(ix, wmax), row0 = _mm256_mullo_epi32(Clamp(iy, hmax), pitch_units);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i x1i = bilinear ? Clamp(_mm256_add_epi32(ix, one), wmax) : x0i;
    const __m256i row1 = bilinear ? _mm256_mullo_epi32(Clamp(_mm256_add_epi32(iy, one), hmax), pitch_units) : row0;
    // Eight pixels on one texel row (two for bilinear) whose columns lie
    // within sixteen of the first one's (rectangles, magnified or up to 2:1
    // minified) take their texels from two loads per row: the same texels
    // as the gathers.
    const int32_t col = _mm256_cvtsi256_si32(x0i);
    const __m256i rel0 = _mm256_sub_epi32(x0i, _mm256_set1_epi32(col)), rel1 = _mm256_sub_epi32(x1i, _mm256_set1_epi32(col));
    const bool rows = !l8 && col + 16 <= lv.Width && SameLanes(row0) && SameLanes(row1) &&
                      _mm256_testz_si256(_mm256_or_si256(rel0, rel1), _mm256_set1_epi32(~15));
    auto row_texels = [&](__m256i row, __m256i rel) KAV_AVX2 {
      const int* at = base + _mm256_cvtsi256_si32(row) + col;
      const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
      const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 8));
      const __m256i upper = _mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7));
      const __m256i px = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rel), _mm256_permutevar8x32_epi32(hi, rel), upper);
      return Unpack8(_mm256_or_si256(px, tex_or));
    };
    TChannels r = rows ? row_texels(row0, rel0) : fetch(_mm256_add_epi32(row0, x0i));
    if (bilinear) {
      const __m256 wx = _mm256_sub_ps(sx, flx), wy = _mm256_sub_ps(sy, fly);
      TChannels b = rows ? row_texels(row1, rel0) : fetch(_mm256_add_epi32(row1, x0i));
      TChannels c = rows ? row_texels(row0, rel1) : fetch(_mm256_add_epi32(row0, x1i));
      TChannels e = rows ? row_texels(row1, rel1) : fetch(_mm256_add_epi32(row1, x1i));
      for (int k = 0; k < 4; ++k) r.c[k] = Lerp(Lerp(r.c[k], b.c[k], wy), Lerp(c.c[k], e.c[k], wy), wx);
    }
    StoreColors(r, out + i);
  }
  return i;
}

// SwSample3D of a 32-bit volume clamped on all axes, eight at a time.
KAV_AVX2 int32_t Sample3DSpanAvx2(const TSwSamplerView& s, const float* u, const float* v, const float* w,
                                  int32_t count, TSwColorF* out) {
  const TSwLevelView& lv = s.Level[0];
  const bool linear = s.MagFilter == TSwFilter::Linear || s.MagFilter == TSwFilter::Anisotropic;
  const __m256 tw = _mm256_set1_ps(float(lv.Width)), th = _mm256_set1_ps(float(lv.Height)), td = _mm256_set1_ps(float(s.Depth));
  const __m256i wmax = _mm256_set1_epi32(lv.Width - 1), hmax = _mm256_set1_epi32(lv.Height - 1), dmax = _mm256_set1_epi32(s.Depth - 1);
  const __m256i pitch4 = _mm256_set1_epi32(lv.Pitch / 4), slice4 = _mm256_set1_epi32(s.SlicePitch / 4);
  const __m256i tex_or = _mm256_set1_epi32(s.Format == TSwFormat::X8R8G8B8 ? int(0xFF000000u) : 0);
  const int* base = reinterpret_cast<const int*>(lv.Bits);
  const __m256 limit = _mm256_set1_ps(16777216.0f), half = _mm256_set1_ps(0.5f), sign = _mm256_set1_ps(-0.0f);
  const __m256i one = _mm256_set1_epi32(1);
  // Slice and row offsets in texels come in multiplied once per group.
  auto fetch = [&](__m256i zo, __m256i yo, __m256i x) KAV_AVX2 {
    __m256i index = _mm256_add_epi32(_mm256_add_epi32(zo, yo), x);
    return Unpack8(_mm256_or_si256(_mm256_i32gather_epi32(base, index, 4), tex_or));
  };
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m256 sx = _mm256_mul_ps(_mm256_loadu_ps(u + i), tw), sy = _mm256_mul_ps(_mm256_loadu_ps(v + i), th);
    __m256 sz = _mm256_mul_ps(_mm256_loadu_ps(w + i), td);
    if (linear) {
      sx = _mm256_sub_ps(sx, half);
      sy = _mm256_sub_ps(sy, half);
      sz = _mm256_sub_ps(sz, half);
    }
    __m256 ok = _mm256_and_ps(_mm256_cmp_ps(_mm256_andnot_ps(sign, sx), limit, _CMP_LT_OQ),
                              _mm256_cmp_ps(_mm256_andnot_ps(sign, sy), limit, _CMP_LT_OQ));
    ok = _mm256_and_ps(ok, _mm256_cmp_ps(_mm256_andnot_ps(sign, sz), limit, _CMP_LT_OQ));
    if (_mm256_movemask_ps(ok) != 0xFF) break;
    const __m256 flx = _mm256_floor_ps(sx), fly = _mm256_floor_ps(sy), flz = _mm256_floor_ps(sz);
    const __m256i ix = _mm256_cvttps_epi32(flx), iy = _mm256_cvttps_epi32(fly), iz = _mm256_cvttps_epi32(flz);
    const __m256i x0 = Clamp(ix, wmax), y0 = Clamp(iy, hmax), z0 = Clamp(iz, dmax);
    TChannels r;
    const __m256i zo0 = _mm256_mullo_epi32(z0, slice4), yo0 = _mm256_mullo_epi32(y0, pitch4);
    if (!linear) {
      r = fetch(zo0, yo0, x0);
    } else {
      const __m256 wx = _mm256_sub_ps(sx, flx), wy = _mm256_sub_ps(sy, fly), wz = _mm256_sub_ps(sz, flz);
      const __m256i x1 = Clamp(_mm256_add_epi32(ix, one), wmax), y1 = Clamp(_mm256_add_epi32(iy, one), hmax);
      const __m256i z1 = Clamp(_mm256_add_epi32(iz, one), dmax);
      const __m256i zo1 = _mm256_mullo_epi32(z1, slice4), yo1 = _mm256_mullo_epi32(y1, pitch4);
      TChannels slice[2];
      for (int k2 = 0; k2 < 2; ++k2) {
        const __m256i z = k2 ? zo1 : zo0;
        TChannels a = fetch(z, yo0, x0), b = fetch(z, yo1, x0), c = fetch(z, yo0, x1), e = fetch(z, yo1, x1);
        for (int k = 0; k < 4; ++k) slice[k2].c[k] = Lerp(Lerp(a.c[k], b.c[k], wy), Lerp(c.c[k], e.c[k], wy), wx);
      }
      for (int k = 0; k < 4; ++k) r.c[k] = Lerp(slice[0].c[k], slice[1].c[k], wz);
    }
    StoreColors(r, out + i);
  }
  return i;
}

KAV_AVX2 inline __m256 Dup4(const float* f) {
  __m128 v = _mm_loadu_ps(f);
  return _mm256_insertf128_ps(_mm256_castps128_ps256(v), v, 1);
}

KAV_AVX2 int32_t WriteColorsAvx2(const TSwColorF* colors, uint32_t* dst, int32_t count, const TSwSpanPlan& p,
                                 uint32_t out_or) {
  const __m256 K0 = Dup4(p.K0), K1 = Dup4(p.K1), L0 = Dup4(p.L0), L1 = Dup4(p.L1);
  const __m256 MaxMask = Dup4(reinterpret_cast<const float*>(p.MaxMask));
  const __m256 k255 = _mm256_set1_ps(255.0f), half = _mm256_set1_ps(0.5f), inv = _mm256_set1_ps(kSwInv255);
  const __m128i or4 = _mm_set1_epi32(int(out_or));
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  auto blend = [&](__m256 s, __m256 d) KAV_AVX2 {
    __m256 sa = _mm256_permute_ps(s, _MM_SHUFFLE(3, 3, 3, 3));
    __m256 sf = _mm256_add_ps(K0, _mm256_mul_ps(K1, sa));
    __m256 df = _mm256_add_ps(L0, _mm256_mul_ps(L1, sa));
    __m256 add = _mm256_add_ps(_mm256_mul_ps(s, sf), _mm256_mul_ps(d, df));
    return _mm256_blendv_ps(add, _mm256_max_ps(s, d), MaxMask);
  };
  auto to_int = [&](__m256 v) KAV_AVX2 { return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(Clamp01(v), k255), half)); };
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const float* c = &colors[i].b;
    __m256 s0 = Clamp01(_mm256_loadu_ps(c)), s1 = Clamp01(_mm256_loadu_ps(c + 8));
    if (p.Blend) {
      __m128i d4 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i)), or4);
      s0 = blend(s0, _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(d4)), inv));
      s1 = blend(s1, _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(d4, 8))), inv));
    }
    __m256i w = _mm256_packs_epi32(to_int(s0), to_int(s1));
    __m256i b = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(w, w), order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(_mm256_castsi256_si128(b), or4));
  }
  return i;
}

}  // namespace

int32_t SwWriteColorsAvx2(const TSwColorF* colors, uint32_t* dst, int32_t count, const TSwSpanPlan& blend,
                          uint32_t out_or) {
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && !std::getenv("KAV_D3D_NO_AVX2");
  }();
  return avx2 ? WriteColorsAvx2(colors, dst, count, blend, out_or) : 0;
}

int32_t SwSample3DSpanAvx2(const TSwSamplerView& s, const float* u, const float* v, const float* w, int32_t count,
                           TSwColorF* out) {
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && !std::getenv("KAV_D3D_NO_AVX2");
  }();
  if (!avx2 || s.Kind != TSwSamplerView::Volume || (s.Format != TSwFormat::A8R8G8B8 && s.Format != TSwFormat::X8R8G8B8) ||
      s.AddressU != TSwAddress::Clamp || s.AddressV != TSwAddress::Clamp || s.AddressW != TSwAddress::Clamp)
    return 0;
  return Sample3DSpanAvx2(s, u, v, w, count, out);
}

int32_t SwSampleSpanAvx2(const TSwSamplerView& s, const float* u, const float* v, int32_t count, TSwColorF* out) {
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && !std::getenv("KAV_D3D_NO_AVX2");
  }();
  if (!avx2 || s.AddressU != TSwAddress::Clamp || s.AddressV != TSwAddress::Clamp) return 0;
  return SampleSpanAvx2(s, u, v, count, out);
}

}  // namespace kav
