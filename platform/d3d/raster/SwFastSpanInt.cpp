// The 16-bit span kernel: textured spans of the span path's family eight
// pixels at a time, coordinates and filter weights computed in float exactly
// as the float kernels do (so every pixel reads the same texels with the same
// weights), colours in Q15 (0..32767 for 0..1) with rounding multiplies
// (vpmulhrsw). Each operation is off by at most half a Q15 step (under a
// hundredth of a level), so a pixel comes out at most one level from the
// reference's byte, and only where the exact value lies that close to a
// rounding boundary. Bytes read as Q15 (b * 128 + b / 2) come back as the
// same bytes, so unmodified texels, alpha 0 and alpha 1 give the reference's
// bytes.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d/raster/SwFastSpan.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {

namespace {

#define KAV_AVX2 __attribute__((target("avx2")))

// Eight pixels as two registers of four channels (b, g, r, a) in 16-bit
// lanes: `lo` holds pixels 0, 1, 4, 5 and `hi` pixels 2, 3, 6, 7, the order
// in which byte unpacking splits eight 32-bit pixels and packing joins them.
struct THalves {
  __m256i lo, hi;
};

// Eight 32-bit pixels to Q15: a byte paired with itself is b * 257, which
// halved is b * 128 + b / 2 (0 and 255 map to 0 and 32767).
KAV_AVX2 inline THalves Q15Of(__m256i px) {
  return {_mm256_srli_epi16(_mm256_unpacklo_epi8(px, px), 1), _mm256_srli_epi16(_mm256_unpackhi_epi8(px, px), 1)};
}

KAV_AVX2 inline __m256i Lerp16(__m256i a, __m256i b, __m256i w) {
  return _mm256_add_epi16(a, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, a), w));
}

KAV_AVX2 inline THalves Lerp16(const THalves& a, const THalves& b, const THalves& w) {
  return {Lerp16(a.lo, b.lo, w.lo), Lerp16(a.hi, b.hi, w.hi)};
}

// Q15 channels to bytes, c * 255 / 32767 rounded: 2c times 65282 / 65536
// is the byte in 1/256 steps (a byte's Q15 value gives it back).
KAV_AVX2 inline __m256i ToBytes(__m256i c) {
  const __m256i y = _mm256_mulhi_epu16(_mm256_slli_epi16(c, 1), _mm256_set1_epi16(int16_t(65282)));
  return _mm256_srli_epi16(_mm256_add_epi16(y, _mm256_set1_epi16(128)), 8);
}

// Filter weights in [0, 1) as Q15 (1/32768 steps, at most 32767).
KAV_AVX2 inline __m256i WeightQ15(__m256 w) {
  const __m256i q = _mm256_cvtps_epi32(_mm256_mul_ps(w, _mm256_set1_ps(32768.0f)));
  return _mm256_min_epi32(_mm256_max_epi32(q, _mm256_setzero_si256()), _mm256_set1_epi32(32767));
}

// Eight 32-bit weights (low 16 bits) spread over each pixel's four channels.
KAV_AVX2 inline THalves Spread(__m256i w) {
  const __m256i lo =
      _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5, 0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5);
  const __m256i hi = _mm256_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13, 8, 9, 8, 9, 8, 9, 8, 9,
                                      12, 13, 12, 13, 12, 13, 12, 13);
  return {_mm256_shuffle_epi8(w, lo), _mm256_shuffle_epi8(w, hi)};
}

// A byte shuffle taking the 16-bit word at byte a into the low four lanes
// of each half and the one at b into the high four.
KAV_AVX2 inline __m256i Pick(char a, char b) {
  return _mm256_setr_epi8(a, char(a + 1), a, char(a + 1), a, char(a + 1), a, char(a + 1), b, char(b + 1), b,
                          char(b + 1), b, char(b + 1), b, char(b + 1), a, char(a + 1), a, char(a + 1), a, char(a + 1),
                          a, char(a + 1), b, char(b + 1), b, char(b + 1), b, char(b + 1), b, char(b + 1));
}

KAV_AVX2 inline __m256 Clamp01(__m256 v) {
  return _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
}

// Four channel registers of eight 32-bit values (each in 0..32767) as
// halves of 16-bit lanes.
KAV_AVX2 inline THalves Interleave(const __m256i* q) {
  const __m256i bg = _mm256_packs_epi32(q[0], q[1]), ra = _mm256_packs_epi32(q[2], q[3]);
  const __m256i t0 = _mm256_unpacklo_epi16(bg, ra), t1 = _mm256_unpackhi_epi16(bg, ra);
  return {_mm256_unpacklo_epi16(t0, t1), _mm256_unpackhi_epi16(t0, t1)};
}

// A diffuse value as the two factors the kernel takes: for a texel times
// it, its whole part (1 for a diffuse of 1, which then gives the texel
// exactly) and its fraction in 1/32768 steps; for the diffuse alone (or
// squared), the value in Q15. Inside a triangle the diffuse is a mix of its
// vertices' bytes, so values are clamped to [0, 1] (which also reads NaN
// as 0).
struct TDiffuseQ {
  int16_t whole, part;
};

inline TDiffuseQ DiffuseQ(float d, bool times_texel, bool squared) {
  auto clamp = [](float v) { return v > 0.0f ? std::min(v, 1.0f) : 0.0f; };
  if (!times_texel) return {0, int16_t(clamp(squared ? d * d : d) * 32767.0f + 0.5f)};
  const int32_t q = int32_t(clamp(d) * 32768.0f + 0.5f);
  return {int16_t(q >> 15), int16_t(q & 32767)};
}

// A diffuse channel clamped to [0, 1] in 1/32768 steps (0..32768): its
// whole part is bit 15 and its fraction the bits below. Values within half
// a step of 1 (a mix of diffuse bytes of 255 comes out a little under 1)
// become exactly 1, which gives the texel as it is.
KAV_AVX2 inline __m256i DiffuseSteps(__m256 d) {
  return _mm256_cvtps_epi32(_mm256_mul_ps(Clamp01(d), _mm256_set1_ps(32768.0f)));
}

// Eight texels by index, loaded one by one (gathers are slow on AMD).
KAV_AVX2 inline __m256i Load8(const int* base, __m256i index) {
  alignas(32) int32_t i[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(i), index);
  return _mm256_setr_epi32(base[i[0]], base[i[1]], base[i[2]], base[i[3]], base[i[4]], base[i[5]], base[i[6]],
                           base[i[7]]);
}

// Two neighbouring texels at each of eight indices: pixels 0-3 in `lo`
// and 4-7 in `hi`, each pixel's pair in one quadword.
KAV_AVX2 inline void LoadPairs(const int* base, __m256i index, __m256i tex_or, __m256i& lo, __m256i& hi) {
  alignas(32) int32_t i[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(i), index);
  int64_t q[8];
  for (int k = 0; k < 8; ++k) std::memcpy(&q[k], base + i[k], 8);
  lo = _mm256_or_si256(_mm256_setr_epi64x(q[0], q[1], q[2], q[3]), tex_or);
  hi = _mm256_or_si256(_mm256_setr_epi64x(q[4], q[5], q[6], q[7]), tex_or);
}

// The first n (< 8) pixels at p, the rest zero, and the first n of v
// written to p: plain loads and stores, as masked moves are slow on some
// processors.
KAV_AVX2 inline __m256i LoadPart(const uint32_t* p, int32_t n) {
  alignas(32) uint32_t b[8] = {};
  for (int32_t k = 0; k < n; ++k) b[k] = p[k];
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(b));
}

KAV_AVX2 inline void StorePart(uint32_t* p, __m256i v, int32_t n) {
  alignas(32) uint32_t b[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), v);
  for (int32_t k = 0; k < n; ++k) p[k] = b[k];
}

// Stores the pixels of a group: all eight, the first n of them among the
// unchanged others (`whole`), or the first n alone.
KAV_AVX2 inline void Store(uint32_t* p, __m256i v, int32_t n, bool partial, bool whole, __m256i inside) {
  __m256i* at = reinterpret_cast<__m256i*>(p);
  if (!partial)
    _mm256_storeu_si256(at, v);
  else if (whole)
    _mm256_storeu_si256(at, _mm256_blendv_epi8(_mm256_loadu_si256(at), v, inside));
  else
    StorePart(p, v, n);
}

KAV_AVX2 inline bool SameLanes(__m256i v) {
  return _mm256_movemask_epi8(_mm256_cmpeq_epi32(v, _mm256_set1_epi32(_mm256_cvtsi256_si32(v)))) == -1;
}

KAV_AVX2 inline __m256i Clamp(__m256i v, __m256i hi) {
  return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), hi);
}

// One 16-bit value per channel (b, g, r, a), repeated for four pixels.
KAV_AVX2 inline __m256i PerChannel(const int16_t* v) {
  int64_t q;
  std::memcpy(&q, v, 8);
  return _mm256_set1_epi64x(q);
}

enum TForm { kFormD, kFormT, kFormTD, kFormDD };

// Rows [y0, y1) of triangle t: the set-up once, then each row's span in
// groups of eight; a row whose coordinates run far off is finished by
// `rest` from the pixel where the groups stopped.
template <bool kBilinear, bool kBlend>
KAV_AVX2 void ShadeInt(const TSwPixelState& ps, const TSwSpanPlan& p, const TSwTriSetup& t, int32_t y0, int32_t y1,
                       const TSwSpanPlan& rest) {
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const bool persp = !t.Affine;
  const __m256 one = _mm256_set1_ps(1.0f), half = _mm256_set1_ps(0.5f);
  const __m256 qa = _mm256_set1_ps(t.Q.a);

  // Diffuse lanes: constant, or interpolated as the reference does.
  __m256 d_a[4];
  bool d_const[4], all_const = true;
  float d_value[4];
  for (int k = 0; k < 4; ++k) {
    const TSwPlane& pl = t.Attr[kSwAttrDiffuse + k];
    d_const[k] = !ps.HasDiffuse || ((t.ConstMask >> k) & 1);
    d_value[k] = !ps.HasDiffuse ? 1.0f : d_const[k] ? t.Const[k] : 0.0f;
    d_a[k] = _mm256_set1_ps(pl.a);
  }
  // Each channel's form; a texel times a constant diffuse of exactly 1 is
  // the texel.
  TForm form[4];
  int16_t mod_mask[4], td_mask[4], whole_const[4], part_const[4];
  bool modulate = false;
  for (int k = 0; k < 4; ++k) {
    form[k] = p.FormTex[k] ? kFormT : p.FormTexDiffuse[k] ? kFormTD : p.FormDiffuse2[k] ? kFormDD : kFormD;
    if (form[k] == kFormTD && d_const[k] && d_value[k] == 1.0f) form[k] = kFormT;
    if (form[k] != kFormT && !d_const[k]) all_const = false;
    modulate |= form[k] != kFormT;
    mod_mask[k] = form[k] != kFormT ? int16_t(-1) : int16_t(0);
    td_mask[k] = form[k] == kFormTD ? int16_t(-1) : int16_t(0);
    const TDiffuseQ q = DiffuseQ(d_value[k], form[k] == kFormTD, form[k] == kFormDD);
    whole_const[k] = form[k] == kFormT ? int16_t(1) : q.whole;
    part_const[k] = form[k] == kFormT ? int16_t(0) : q.part;
  }
  // Every channel a texel times the same interpolated diffuse (a fade of
  // premultiplied colour): the diffuse is computed once per pixel.
  bool all_td = true, one_diffuse = !all_const;
  for (int k = 0; k < 4; ++k) {
    const TSwPlane& pl = t.Attr[kSwAttrDiffuse + k];
    const TSwPlane& p0 = t.Attr[kSwAttrDiffuse];
    all_td = all_td && form[k] == kFormTD;
    one_diffuse = one_diffuse && form[k] == kFormTD && !d_const[k] && pl.a == p0.a && pl.b == p0.b && pl.c == p0.c;
  }
  const __m256i ModMask = PerChannel(mod_mask), TDMask = PerChannel(td_mask);
  const __m256i WholeConst = PerChannel(whole_const), PartConst = PerChannel(part_const);
  const __m256i q15_one = _mm256_set1_epi16(32767);
  const __m256 f32767 = _mm256_set1_ps(32767.0f);

  // Blend factors K0 + K1 * source alpha (K1 in -1, 0, 1) per channel.
  int16_t k0[4], k1[4], l0[4], l1[4], max4[4];
  bool any_max = false, over_opaque = kBlend;
  for (int k = 0; k < 4; ++k) {
    k0[k] = int16_t(p.K0[k] * 32767.0f);
    k1[k] = int16_t(p.K1[k]);
    l0[k] = int16_t(p.L0[k] * 32767.0f);
    l1[k] = int16_t(p.L1[k]);
    max4[k] = p.MaxMask[k] ? int16_t(-1) : int16_t(0);
    any_max |= p.MaxMask[k] != 0;
    // Source factors 1 and destination factors 0 where the source alpha
    // is 1: groups of opaque pixels leave the destination unread.
    over_opaque = over_opaque && !p.MaxMask[k] && p.K0[k] + p.K1[k] == 1.0f && p.L0[k] + p.L1[k] == 0.0f;
  }
  const __m256i K0 = PerChannel(k0), K1 = PerChannel(k1), L0 = PerChannel(l0), L1 = PerChannel(l1);
  const __m256i MaxMask = PerChannel(max4);
  const int16_t alpha4[4] = {0, 0, 0, -1};
  const __m256i AlphaLanes = PerChannel(alpha4);

  const uint32_t out_or = ps.TargetFormat == TSwFormat::X8R8G8B8 ? 0xFF000000u : 0u;
  const __m256i out_or8 = _mm256_set1_epi32(int(out_or));
  const int32_t clip_right = ps.Clip.right;

  // Texture coordinates, as the float kernel computes them.
  const int ku = kSwAttrTex + 2 * p.TexSet, kv = ku + 1;
  const TSwPlane& pu = t.Attr[ku];
  const TSwPlane& pv = t.Attr[kv];
  const bool cu = (t.ConstMask >> ku) & 1, cv = (t.ConstMask >> kv) & 1;
  const __m256 ua = _mm256_set1_ps(pu.a), va = _mm256_set1_ps(pv.a);
  const __m256 u_const = _mm256_set1_ps(cu ? t.Const[ku] : 0.0f), v_const = _mm256_set1_ps(cv ? t.Const[kv] : 0.0f);
  const TSwLevelView& lv = p.Sampler->Level[p.Sampler->BaseLevel];
  const __m256 tw = _mm256_set1_ps(float(lv.Width)), th = _mm256_set1_ps(float(lv.Height));
  const __m256i wmax = _mm256_set1_epi32(lv.Width - 1), hmax = _mm256_set1_epi32(lv.Height - 1);
  const __m256i pitch4 = _mm256_set1_epi32(lv.Pitch / 4);
  const __m256i tex_or = _mm256_set1_epi32(p.Sampler->Format == TSwFormat::X8R8G8B8 ? int(0xFF000000u) : 0);
  const int* base = reinterpret_cast<const int*>(lv.Bits);
  const __m256 limit = _mm256_set1_ps(16777216.0f), sign = _mm256_set1_ps(-0.0f);
  // Bilinear pairs: the last left column, the weights reordered so that
  // lane halves hold pixels (0 1 4 5 | 2 3 6 7), and byte shuffles that
  // spread a weight over the eight or four 16-bit lanes of its pixel.
  const __m256i wmax2 = _mm256_set1_epi32(lv.Width - 2);
  const int32_t tex_width = lv.Width;
  const __m256i pair_order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
  const __m256i pick_w0 = Pick(0, 0), pick_w1 = Pick(4, 4), pick_w2 = Pick(8, 8), pick_w3 = Pick(12, 12);
  const __m256i pick_x01 = Pick(0, 4), pick_x23 = Pick(8, 12);

  // Point-sampled texels taken unmodified and drawn plainly or over-opaque:
  // groups of opaque texels are written as they are (what the arithmetic
  // gives them).
  bool copy_texels = !kBilinear && (!kBlend || over_opaque);
  for (int k = 0; k < 4 && copy_texels; ++k) copy_texels = form[k] == kFormT;
  const __m256i alpha_mask = _mm256_set1_epi32(int(0xFF000000u));

  for (int32_t y = y0; y < y1; ++y) {
    int32_t x0, x1;
    if (!SwTriangleSpan(t, y, x0, x1)) continue;
    const float fy = float(y);
    const __m256 row_q = _mm256_set1_ps(t.Q.c + t.Q.b * fy);
    __m256 d_row[4];
    for (int k = 0; k < 4; ++k) {
      const TSwPlane& pl = t.Attr[kSwAttrDiffuse + k];
      d_row[k] = _mm256_set1_ps(d_const[k] ? d_value[k] : pl.c + pl.b * fy);
    }
    const __m256 row_u = _mm256_set1_ps(pu.c + pu.b * fy), row_v = _mm256_set1_ps(pv.c + pv.b * fy);
    uint32_t* dst = reinterpret_cast<uint32_t*>(ps.Target + int64_t(y) * ps.TargetPitch);
    int32_t x = x0;
    for (; x < x1; x += 8) {
      const bool partial = x1 - x < 8;
      // A last group whose eight pixels all lie inside the clip rectangle
      // reads them whole and writes back the ones past the span unchanged
      // (a row belongs to one thread).
      const bool whole = !partial || x + 8 <= clip_right;
      const __m256i inside = _mm256_cmpgt_epi32(_mm256_set1_epi32(x1 - x), lanes);
      const __m256 fx = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x), lanes));
      __m256 iq = one;
      if (persp) iq = _mm256_div_ps(one, _mm256_add_ps(row_q, _mm256_mul_ps(qa, fx)));
      __m256 u = _mm256_add_ps(row_u, _mm256_mul_ps(ua, fx)), v = _mm256_add_ps(row_v, _mm256_mul_ps(va, fx));
      if (persp) {
        u = cu ? u_const : _mm256_mul_ps(u, iq);
        v = cv ? v_const : _mm256_mul_ps(v, iq);
      }
      __m256 sx = _mm256_mul_ps(u, tw), sy = _mm256_mul_ps(v, th);
      if constexpr (kBilinear) {
        sx = _mm256_sub_ps(sx, half);
        sy = _mm256_sub_ps(sy, half);
      }
      // Far-off or invalid coordinates go the per-pixel way.
      __m256 ok = _mm256_and_ps(_mm256_cmp_ps(_mm256_andnot_ps(sign, sx), limit, _CMP_LT_OQ),
                                _mm256_cmp_ps(_mm256_andnot_ps(sign, sy), limit, _CMP_LT_OQ));
      if (partial) ok = _mm256_or_ps(ok, _mm256_castsi256_ps(_mm256_xor_si256(inside, _mm256_set1_epi32(-1))));
      if (_mm256_movemask_ps(ok) != 0xFF) break;
      const __m256 flx = _mm256_floor_ps(sx), fly = _mm256_floor_ps(sy);
      const __m256i ix = _mm256_cvttps_epi32(flx), iy = _mm256_cvttps_epi32(fly);
      const __m256i x0i = Clamp(ix, wmax), y0i = Clamp(iy, hmax);
      const __m256i row0 = _mm256_mullo_epi32(y0i, pitch4);
      THalves c;
      if constexpr (!kBilinear) {
        // Eight pixels on one texel row whose columns lie within fifteen of
        // the leftmost take their texels from two loads.
        const int32_t col = std::min(_mm256_cvtsi256_si32(x0i), _mm256_extract_epi32(x0i, 7));
        const __m256i rel = _mm256_sub_epi32(x0i, _mm256_set1_epi32(col));
        __m256i t00;
        if (col + 16 <= tex_width && SameLanes(row0) && _mm256_testz_si256(rel, _mm256_set1_epi32(~15))) {
          const int* at = base + _mm256_cvtsi256_si32(row0) + col;
          const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
          const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 8));
          t00 = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rel), _mm256_permutevar8x32_epi32(hi, rel),
                                   _mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7)));
        } else {
          t00 = Load8(base, _mm256_add_epi32(row0, x0i));
        }
        t00 = _mm256_or_si256(t00, tex_or);
        if (copy_texels && _mm256_testc_si256(t00, alpha_mask)) {
          const __m256i px = _mm256_or_si256(t00, out_or8);
          Store(dst + x, px, x1 - x, partial, whole, inside);
          continue;
        }
        c = Q15Of(t00);
      } else {
        // Each pixel reads the pair of columns from its left one, clamped to
        // [0, width - 2]; where the reference's two columns are both clamped
        // to the first or the last, the weight becomes 0 or 1 so the same
        // texel comes out.
        const __m256i y1i = Clamp(_mm256_add_epi32(iy, _mm256_set1_epi32(1)), hmax);
        const __m256i row1 = _mm256_mullo_epi32(y1i, pitch4);
        const __m256i xl = Clamp(ix, wmax2);
        __m256i wxq = WeightQ15(_mm256_sub_ps(sx, flx));
        wxq = _mm256_andnot_si256(_mm256_cmpgt_epi32(_mm256_setzero_si256(), ix), wxq);
        wxq = _mm256_blendv_epi8(wxq, _mm256_set1_epi32(32767), _mm256_cmpgt_epi32(ix, wmax2));
        const __m256i wyq = WeightQ15(_mm256_sub_ps(sy, fly));
        // Eight pixels on one pair of texel rows whose columns lie within
        // fifteen of the leftmost (magnified, 1:1 or up to about 2:1
        // minified) take their texels from two loads per row.
        const int32_t col = std::min(_mm256_cvtsi256_si32(xl), _mm256_extract_epi32(xl, 7));
        const __m256i rel = _mm256_sub_epi32(xl, _mm256_set1_epi32(col));
        const __m256i rel1 = _mm256_add_epi32(rel, _mm256_set1_epi32(1));
        if (col + 16 <= tex_width && SameLanes(row0) && SameLanes(row1) &&
            _mm256_testz_si256(_mm256_or_si256(rel, rel1), _mm256_set1_epi32(~15))) {
          const __m256i upper0 = _mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7));
          const __m256i upper1 = _mm256_cmpgt_epi32(rel1, _mm256_set1_epi32(7));
          auto row_texels = [&](__m256i row, __m256i& left, __m256i& right) KAV_AVX2 {
            const int* at = base + _mm256_cvtsi256_si32(row) + col;
            const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
            const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 8));
            left =
                _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rel), _mm256_permutevar8x32_epi32(hi, rel), upper0);
            right = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rel1), _mm256_permutevar8x32_epi32(hi, rel1),
                                       upper1);
            left = _mm256_or_si256(left, tex_or);
            right = _mm256_or_si256(right, tex_or);
          };
          __m256i l0, r0, l1, r1;
          row_texels(row0, l0, r0);
          row_texels(row1, l1, r1);
          const THalves wx = Spread(wxq), wy = Spread(wyq);
          c = Lerp16(Lerp16(Q15Of(l0), Q15Of(l1), wy), Lerp16(Q15Of(r0), Q15Of(r1), wy), wx);
        } else {
          const __m256i wyp = _mm256_permutevar8x32_epi32(wyq, pair_order);
          const __m256i wxp = _mm256_permutevar8x32_epi32(wxq, pair_order);
          __m256i a0, a1, b0, b1;
          LoadPairs(base, _mm256_add_epi32(row0, xl), tex_or, a0, a1);
          LoadPairs(base, _mm256_add_epi32(row1, xl), tex_or, b0, b1);
          // Rows first: quadword halves hold pixels (0 | 2), (1 | 3), (4 | 6), (5 | 7).
          const THalves ta = Q15Of(a0), tb = Q15Of(b0), tc = Q15Of(a1), td = Q15Of(b1);
          const __m256i r0 = Lerp16(ta.lo, tb.lo, _mm256_shuffle_epi8(wyp, pick_w0));
          const __m256i r1 = Lerp16(ta.hi, tb.hi, _mm256_shuffle_epi8(wyp, pick_w1));
          const __m256i r2 = Lerp16(tc.lo, td.lo, _mm256_shuffle_epi8(wyp, pick_w2));
          const __m256i r3 = Lerp16(tc.hi, td.hi, _mm256_shuffle_epi8(wyp, pick_w3));
          // Then columns: left and right texels of pixels (0, 1 | 2, 3) and (4, 5 | 6, 7).
          const __m256i p0 =
              Lerp16(_mm256_unpacklo_epi64(r0, r1), _mm256_unpackhi_epi64(r0, r1), _mm256_shuffle_epi8(wxp, pick_x01));
          const __m256i p1 =
              Lerp16(_mm256_unpacklo_epi64(r2, r3), _mm256_unpackhi_epi64(r2, r3), _mm256_shuffle_epi8(wxp, pick_x23));
          c.lo = _mm256_permute2x128_si256(p0, p1, 0x20);
          c.hi = _mm256_permute2x128_si256(p0, p1, 0x31);
        }
      }
      if (modulate) {
        // Texel channels times the diffuse (its whole part, 0 or 1, plus
        // its fraction), the diffuse alone or squared, clamped to [0, 1].
        THalves whole{WholeConst, WholeConst}, part{PartConst, PartConst};
        if (one_diffuse) {
          __m256 d = _mm256_add_ps(d_row[0], _mm256_mul_ps(d_a[0], fx));
          if (persp) d = _mm256_mul_ps(d, iq);
          const __m256i q = DiffuseSteps(d);
          whole = Spread(_mm256_srli_epi32(q, 15));
          part = Spread(_mm256_and_si256(q, _mm256_set1_epi32(32767)));
        } else if (!all_const) {
          __m256i wq[4], pq[4];
          for (int k = 0; k < 4; ++k) {
            __m256 d = d_row[k];
            if (!d_const[k]) {
              d = _mm256_add_ps(d_row[k], _mm256_mul_ps(d_a[k], fx));
              if (persp) d = _mm256_mul_ps(d, iq);
            }
            switch (form[k]) {
              case kFormT:
                wq[k] = _mm256_set1_epi32(1);
                pq[k] = _mm256_setzero_si256();
                break;
              case kFormTD: {
                const __m256i q = DiffuseSteps(d);
                wq[k] = _mm256_srli_epi32(q, 15);
                pq[k] = _mm256_and_si256(q, _mm256_set1_epi32(32767));
                break;
              }
              default:
                if (form[k] == kFormDD) d = _mm256_mul_ps(d, d);
                wq[k] = _mm256_setzero_si256();
                pq[k] = _mm256_cvtps_epi32(_mm256_mul_ps(Clamp01(d), f32767));
                break;
            }
          }
          whole = Interleave(wq);
          part = Interleave(pq);
        }
        auto apply = [&](__m256i t, __m256i w, __m256i f) KAV_AVX2 {
          const __m256i prod = _mm256_adds_epi16(_mm256_mullo_epi16(t, w), _mm256_mulhrs_epi16(t, f));
          return all_td ? prod : _mm256_blendv_epi8(t, _mm256_blendv_epi8(f, prod, TDMask), ModMask);
        };
        c.lo = apply(c.lo, whole.lo, part.lo);
        c.hi = apply(c.hi, whole.hi, part.hi);
      }
      if constexpr (kBlend) {
        const bool opaque = over_opaque && _mm256_testc_si256(_mm256_and_si256(_mm256_cmpeq_epi16(c.lo, q15_one),
                                                                               _mm256_cmpeq_epi16(c.hi, q15_one)),
                                                              AlphaLanes);
        if (!opaque) {
          const __m256i under =
              whole ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + x)) : LoadPart(dst + x, x1 - x);
          const THalves d = Q15Of(_mm256_or_si256(under, out_or8));
          auto blend = [&](__m256i s, __m256i dd) KAV_AVX2 {
            const __m256i sa = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s, 0xFF), 0xFF);
            const __m256i sf = _mm256_add_epi16(K0, _mm256_sign_epi16(sa, K1));
            const __m256i df = _mm256_add_epi16(L0, _mm256_sign_epi16(sa, L1));
            const __m256i sum = _mm256_adds_epi16(_mm256_mulhrs_epi16(s, sf), _mm256_mulhrs_epi16(dd, df));
            return any_max ? _mm256_blendv_epi8(sum, _mm256_max_epi16(s, dd), MaxMask) : sum;
          };
          c.lo = blend(c.lo, d.lo);
          c.hi = blend(c.hi, d.hi);
        }
      }
      const __m256i px = _mm256_or_si256(_mm256_packus_epi16(ToBytes(c.lo), ToBytes(c.hi)), out_or8);
      Store(dst + x, px, x1 - x, partial, whole, inside);
    }
    if (x < x1) SwShadeSpanFast(ps, rest, t, y, x, x1);
  }
}

}  // namespace

bool SwFastSpanIntUsable(const TSwSpanPlan& p) {
  // Bilinear pairs need two columns.
  return p.UsesTex && SwFastSpanAvx2Usable(p) && p.Sampler->Level[p.Sampler->BaseLevel].Width >= 2;
}

void SwShadeTriangleIntAvx2(const TSwPixelState& ps, const TSwSpanPlan& p, const TSwTriSetup& t, int32_t y0,
                            int32_t y1) {
  if (y1 <= y0) return;
  // Rows running far off go the per-pixel way of the float path.
  TSwSpanPlan rest = p;
  rest.Int = rest.Avx2 = false;
  const TSwFilter f = p.Sampler->MagFilter;
  const bool bilinear = !(f == TSwFilter::Point || f == TSwFilter::None);
  if (bilinear) {
    if (p.Blend)
      ShadeInt<true, true>(ps, p, t, y0, y1, rest);
    else
      ShadeInt<true, false>(ps, p, t, y0, y1, rest);
  } else {
    if (p.Blend)
      ShadeInt<false, true>(ps, p, t, y0, y1, rest);
    else
      ShadeInt<false, false>(ps, p, t, y0, y1, rest);
  }
}

}  // namespace kav
