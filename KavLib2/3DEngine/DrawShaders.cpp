// Each program is a list of taps (stage, coordinate set, offset) sampled at
// the pixel's coordinates, a combination of the taps, and optionally a second
// round of lookups whose coordinates come from that combination. The
// per-pixel form samples tap by tap; the span form samples each tap for the
// whole run and then runs the same combination per pixel, so both give the
// same pixels.
#include "KavLib2/3DEngine/DrawShaders.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "platform/d3d/SwShader.h"

namespace kav {

namespace {

constexpr int kMaxTaps = 8;
constexpr int kMaxLookups = 3;

struct TTap {
  int Stage = 0, Set = 0;
  float Du = 0, Dv = 0;
};

struct TLookup {
  int Stage = 0;
  bool Volume = false;
  float U = 0, V = 0, W = 0;
};

// What one program does.
struct TProgram {
  // The taps for this draw (offsets may depend on constants).
  int (*Taps)(const TSwPixelContext& ctx, TTap* taps);
  // Combines the taps of one pixel; `v0` is the pixel's coordinate v of set
  // 0 (deinterlacing needs the line).
  TSwColorF (*Combine)(const TSwPixelContext& ctx, const TSwColorF* taps, float v0);
  // Lookups whose coordinates come from the combination (may be null).
  int (*Lookups)(const TSwPixelContext& ctx, const TSwColorF& c, TLookup* out);
  TSwColorF (*Finish)(const TSwPixelContext& ctx, const TSwColorF& c, const TSwColorF* looked);
  // Optional: the combinations of pixels [i0, i0 + count) of a span computed
  // directly, times `modulate` when not null; returns how many leading
  // pixels it did (the rest go tap by tap).
  int32_t (*FastCombine)(const TSwPixelContext& ctx, const TSwSpanInput& in, int32_t i0, int32_t count,
                         const TSwColorF* modulate, TSwColorF* c) = nullptr;
};

TSwColorF Mul(const TSwColorF& a, const TSwColorF& b) { return TSwColorF{a.b * b.b, a.g * b.g, a.r * b.r, a.a * b.a}; }
TSwColorF Lerp(const TSwColorF& a, const TSwColorF& b, float t) {
  return TSwColorF{a.b + (b.b - a.b) * t, a.g + (b.g - a.g) * t, a.r + (b.r - a.r) * t, a.a + (b.a - a.a) * t};
}
float Clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

// ---- Tap lists ----
int TapsOne(const TSwPixelContext&, TTap* t) {
  t[0] = TTap{0, 0, 0, 0};
  return 1;
}
int TapsTwo(const TSwPixelContext&, TTap* t) {
  t[0] = TTap{0, 0, 0, 0};
  t[1] = TTap{1, 1, 0, 0};
  return 2;
}
int TapsVideo(const TSwPixelContext&, TTap* t) {
  t[0] = TTap{0, 0, 0, 0};
  t[1] = TTap{1, 1, 0, 0};
  t[2] = TTap{2, 2, 0, 0};
  return 3;
}
int TapsVideoDeinter(const TSwPixelContext& ctx, TTap* t) {
  const float step = ctx.Constant(1)[1];  // 1 / height of the Y plane
  TapsVideo(ctx, t);
  t[3] = TTap{0, 0, 0, -step};
  t[4] = TTap{0, 0, 0, step};
  return 5;
}
template <bool Horizontal>
int TapsGauss(const TSwPixelContext& ctx, TTap* t) {
  const float step = ctx.Constant(1)[0];
  for (int k = -3; k <= 3; ++k) t[k + 3] = TTap{0, 0, Horizontal ? step * float(k) : 0, Horizontal ? 0 : step * float(k)};
  return 7;
}
int TapsUnsharp(const TSwPixelContext& ctx, TTap* t) {
  const float* inv = ctx.Constant(0);
  t[0] = TTap{0, 0, 0, 0};
  t[1] = TTap{0, 0, -inv[0], 0};
  t[2] = TTap{0, 0, inv[0], 0};
  t[3] = TTap{0, 0, 0, -inv[1]};
  t[4] = TTap{0, 0, 0, inv[1]};
  return 5;
}

// ---- Combinations ----
TSwColorF CombineFirst(const TSwPixelContext&, const TSwColorF* t, float) { return t[0]; }

TSwColorF CombineGauss(const TSwPixelContext& ctx, const TSwColorF* t, float) {
  const float* w = ctx.Constant(0);  // outer to centre
  TSwColorF o;
  auto add = [&](const TSwColorF& c, float k) {
    o.b += c.b * k;
    o.g += c.g * k;
    o.r += c.r * k;
    o.a += c.a * k;
  };
  add(t[3], w[3]);
  for (int k = 1; k <= 3; ++k) {
    add(t[3 - k], w[3 - k]);
    add(t[3 + k], w[3 - k]);
  }
  return o;
}

TSwColorF CombineMix(const TSwPixelContext& ctx, const TSwColorF* t, float) {
  return Lerp(t[0], t[1], ctx.Constant(0)[0]);
}

TSwColorF CombinePremul3(const TSwPixelContext&, const TSwColorF* t, float) {
  // Content (premultiplied) masked by the mask's luminance; the colour comes
  // out straight for source-alpha blending.
  const TSwColorF& c = t[0];
  const TSwColorF& m = t[1];
  const float mask = Clamp01(0.299f * m.r + 0.587f * m.g + 0.114f * m.b);
  const float inv = c.a > 0 ? 1.0f / c.a : 0.0f;
  return TSwColorF{Clamp01(c.b * inv), Clamp01(c.g * inv), Clamp01(c.r * inv), c.a * mask};
}

TSwColorF CombineUnsharp(const TSwPixelContext& ctx, const TSwColorF* t, float) {
  const float threshold = ctx.Constant(1)[0], amount = ctx.Constant(2)[0];
  const TSwColorF& c = t[0];
  auto ch = [&](float centre, float a, float b, float d, float e) {
    const float blur = (centre * 4.0f + a + b + d + e) * 0.125f;
    const float diff = centre - blur;
    const float v = std::fabs(diff) > threshold ? centre + amount * diff : centre;
    return std::min(c.a, std::max(0.0f, v));  // premultiplied: never above alpha
  };
  return TSwColorF{ch(c.b, t[1].b, t[2].b, t[3].b, t[4].b), ch(c.g, t[1].g, t[2].g, t[3].g, t[4].g),
                   ch(c.r, t[1].r, t[2].r, t[3].r, t[4].r), c.a};
}

// Video: BT.601 studio range, as the YUV lookup table.
constexpr float kYScale = 1.1643835616438356f, kUB = 2.018f, kVG = 0.813f, kUG = 0.391f, kVR = 1.596f;
// What the sampler multiplies a byte by (its 1 / 255).
constexpr float kTexelScale = 1.0f / 255.0f;

TSwColorF YuvToRgb(float y, float u, float v) {
  const float yy = (y * 255.0f - 16.0f) * kYScale;
  const float uu = u * 255.0f - 128.0f, vv = v * 255.0f - 128.0f;
  return TSwColorF{Clamp01((yy + kUB * uu) / 255.0f), Clamp01((yy - kVG * vv - kUG * uu) / 255.0f),
                   Clamp01((yy + kVR * vv) / 255.0f), 1.0f};
}

float KeyAlpha(const TSwPixelContext& ctx, float u, float v) {
  const float* d = ctx.Constant(3);
  const float* k = ctx.Constant(4);
  const float du = u - k[0], dv = v - k[1];
  const float dist = std::sqrt(du * du + dv * dv);
  if (d[1] > 0) return Clamp01((dist - d[0]) * d[1]);
  return dist > d[0] ? 1.0f : 0.0f;
}

float FieldY(const TSwPixelContext& ctx, const TSwColorF* t, float v0) {
  // Lines of the other field are taken from the two lines around them.
  const float height = ctx.Constant(1)[0];
  const int field = int(ctx.Constant(2)[0]) & 1;
  const int line = int(std::floor(v0 * height));
  if (((line + field) & 1) == 0) return t[0].r;
  return (t[3].r + t[4].r) * 0.5f;
}

template <bool Deinter, bool Key>
TSwColorF CombineVideo(const TSwPixelContext& ctx, const TSwColorF* t, float v0) {
  const float y = Deinter ? FieldY(ctx, t, v0) : t[0].r;
  TSwColorF c = YuvToRgb(y, t[1].r, t[2].r);
  if (Key) c.a = KeyAlpha(ctx, t[1].r, t[2].r);
  return c;
}


// ---- Video planes read directly ----
// The video programs' taps and combination eight pixels at a time with AVX2:
// the sampler's float operations in its order (bilinear down the columns,
// then across; texels as byte * (1 / 255)) and the combination's, so the
// colours are those of the tap-by-tap form. Eight pixels that read from one
// texel row within sixteen texels (pictures at 1:1 and chroma planes at 2:1
// among them) take their texels from one 16-byte load per row; others read
// texel by texel. Planes must be L8, clamped, at one level.

#define KAV_AVX2 __attribute__((target("avx2")))

struct TPlaneView {
  const uint8_t* Bits = nullptr;
  int32_t Pitch = 0, Width = 0, Height = 0;
  bool Linear = false;
};

bool VideoAvx2() {
  static const bool on = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && !std::getenv("KAV_D3D_NO_AVX2");
  }();
  return on;
}

bool VideoPlanes(const TSwPixelContext& ctx, const TSwSpanInput& in, TPlaneView* p) {
  for (int s = 0; s < 3; ++s) {
    TSwTexelView v;
    if (!in.U[s] || !in.V[s] || !ctx.TexelView(s, v) || v.Format != TSwFormat::L8 ||
        v.AddressU != TSwAddress::Clamp || v.AddressV != TSwAddress::Clamp)
      return false;
    p[s] = TPlaneView{v.Bits, v.Pitch, v.Width, v.Height, !(v.Filter == TSwFilter::Point || v.Filter == TSwFilter::None)};
  }
  return true;
}

KAV_AVX2 inline __m256i ClampIndex(__m256i v, int32_t n) {
  return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(n - 1));
}

KAV_AVX2 inline __m256 ToUnit(__m256i bytes) { return _mm256_mul_ps(_mm256_cvtepi32_ps(bytes), _mm256_set1_ps(kTexelScale)); }

// Texels (row y[k], column x[k]) one by one.
KAV_AVX2 inline __m256 TexelsEach(const TPlaneView& p, __m256i y, __m256i x) {
  alignas(32) int32_t ys[8], xs[8], t[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(ys), y);
  _mm256_store_si256(reinterpret_cast<__m256i*>(xs), x);
  for (int k = 0; k < 8; ++k) t[k] = p.Bits[int64_t(ys[k]) * p.Pitch + xs[k]];
  return ToUnit(_mm256_load_si256(reinterpret_cast<const __m256i*>(t)));
}

// Texels at offsets `rel` (0..15) of a 16-byte row piece.
KAV_AVX2 inline __m256 TexelsOfRow(__m128i row, __m256i rel) {
  const __m256i r = _mm256_broadcastsi128_si256(row);
  return ToUnit(_mm256_shuffle_epi8(r, _mm256_or_si256(rel, _mm256_set1_epi32(int(0x80808000u)))));
}

KAV_AVX2 inline bool SameRow(__m256i y) {
  return _mm256_movemask_epi8(_mm256_cmpeq_epi32(y, _mm256_set1_epi32(_mm256_cvtsi256_si32(y)))) == -1;
}

// Where eight coordinate pairs fall on a plane: texel rows and columns and
// the bilinear weights.
struct TPlaneSpot {
  __m256i X0, X1, Y0, Y1;
  __m256 Wx, Wy;
};

// False when a coordinate is too far off for the integer conversion (the
// tap-by-tap form takes those).
KAV_AVX2 inline bool LocatePlane(const TPlaneView& p, __m256 u, __m256 v, TPlaneSpot& at) {
  __m256 sx = _mm256_mul_ps(u, _mm256_set1_ps(float(p.Width))), sy = _mm256_mul_ps(v, _mm256_set1_ps(float(p.Height)));
  if (p.Linear) {
    sx = _mm256_sub_ps(sx, _mm256_set1_ps(0.5f));
    sy = _mm256_sub_ps(sy, _mm256_set1_ps(0.5f));
  }
  const __m256 sign = _mm256_set1_ps(-0.0f), limit = _mm256_set1_ps(16777216.0f);
  const __m256 ok = _mm256_and_ps(_mm256_cmp_ps(_mm256_andnot_ps(sign, sx), limit, _CMP_LT_OQ),
                                  _mm256_cmp_ps(_mm256_andnot_ps(sign, sy), limit, _CMP_LT_OQ));
  if (_mm256_movemask_ps(ok) != 0xFF) return false;
  const __m256 flx = _mm256_floor_ps(sx), fly = _mm256_floor_ps(sy);
  const __m256i ix = _mm256_cvttps_epi32(flx), iy = _mm256_cvttps_epi32(fly);
  at.X0 = ClampIndex(ix, p.Width);
  at.Y0 = ClampIndex(iy, p.Height);
  const __m256i one = _mm256_set1_epi32(1);
  at.X1 = p.Linear ? ClampIndex(_mm256_add_epi32(ix, one), p.Width) : at.X0;
  at.Y1 = p.Linear ? ClampIndex(_mm256_add_epi32(iy, one), p.Height) : at.Y0;
  at.Wx = _mm256_sub_ps(sx, flx);
  at.Wy = _mm256_sub_ps(sy, fly);
  return true;
}

KAV_AVX2 inline bool ZeroWeights(const TPlaneSpot& at) {
  const __m256 z = _mm256_setzero_ps();
  return _mm256_movemask_ps(_mm256_and_ps(_mm256_cmp_ps(at.Wx, z, _CMP_EQ_OQ), _mm256_cmp_ps(at.Wy, z, _CMP_EQ_OQ))) == 0xFF;
}

// The plane's texels at a located spot, filtered.
KAV_AVX2 inline __m256 FetchPlane(const TPlaneView& p, const TPlaneSpot& at) {
  const __m256i x0 = at.X0, x1 = at.X1, y0 = at.Y0, y1 = at.Y1;
  __m256 a, b, c, e;
  const int32_t base = _mm256_cvtsi256_si32(x0);
  const __m256i rel0 = _mm256_sub_epi32(x0, _mm256_set1_epi32(base)), rel1 = _mm256_sub_epi32(x1, _mm256_set1_epi32(base));
  if (base + 16 <= p.Width && _mm256_testz_si256(_mm256_or_si256(rel0, rel1), _mm256_set1_epi32(~15)) && SameRow(y0) &&
      SameRow(y1)) {
    const uint8_t* r0 = p.Bits + int64_t(_mm256_cvtsi256_si32(y0)) * p.Pitch + base;
    const __m128i row0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0));
    // Weights of exactly 0 (pictures at 1:1) leave the first texel as it is
    // (a + (b - a) * 0 is a), so its neighbours need not be read.
    if (!p.Linear || ZeroWeights(at)) return TexelsOfRow(row0, rel0);
    const uint8_t* r1 = p.Bits + int64_t(_mm256_cvtsi256_si32(y1)) * p.Pitch + base;
    const __m128i row1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1));
    a = TexelsOfRow(row0, rel0);
    b = TexelsOfRow(row1, rel0);
    c = TexelsOfRow(row0, rel1);
    e = TexelsOfRow(row1, rel1);
  } else {
    a = TexelsEach(p, y0, x0);
    if (!p.Linear || ZeroWeights(at)) return a;
    b = TexelsEach(p, y1, x0);
    c = TexelsEach(p, y0, x1);
    e = TexelsEach(p, y1, x1);
  }
  const __m256 left = _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), at.Wy));
  const __m256 right = _mm256_add_ps(c, _mm256_mul_ps(_mm256_sub_ps(e, c), at.Wy));
  return _mm256_add_ps(left, _mm256_mul_ps(_mm256_sub_ps(right, left), at.Wx));
}

// One plane sampled at eight coordinate pairs; false as LocatePlane.
KAV_AVX2 inline bool SamplePlane(const TPlaneView& p, __m256 u, __m256 v, __m256& out) {
  TPlaneSpot at;
  if (!LocatePlane(p, u, v, at)) return false;
  out = FetchPlane(p, at);
  return true;
}

KAV_AVX2 inline bool SameValues(__m256 a, __m256 b) {
  return _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_castps_si256(a), _mm256_castps_si256(b))) == -1;
}

KAV_AVX2 inline __m256 Clamp01x8(__m256 v) {
  return _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
}

// Eight colours from their four channel registers, times eight colours of
// `modulate` when not null.
KAV_AVX2 inline void StoreColors8(__m256 b, __m256 g, __m256 r, __m256 a, const TSwColorF* modulate, TSwColorF* out) {
  const __m256 t0 = _mm256_unpacklo_ps(b, g), t1 = _mm256_unpackhi_ps(b, g);
  const __m256 t2 = _mm256_unpacklo_ps(r, a), t3 = _mm256_unpackhi_ps(r, a);
  const __m256 p0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0)), p1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 p2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0)), p3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
  __m256 o[4] = {_mm256_permute2f128_ps(p0, p1, 0x20), _mm256_permute2f128_ps(p2, p3, 0x20),
                 _mm256_permute2f128_ps(p0, p1, 0x31), _mm256_permute2f128_ps(p2, p3, 0x31)};
  if (modulate)
    for (int k = 0; k < 4; ++k) o[k] = _mm256_mul_ps(o[k], _mm256_loadu_ps(&modulate[0].b + 8 * k));
  for (int k = 0; k < 4; ++k) _mm256_storeu_ps(&out[0].b + 8 * k, o[k]);
}

template <bool Deinter, bool Key>
KAV_AVX2 int32_t VideoCombineAvx2(const TSwPixelContext& ctx, const TSwSpanInput& in, const TPlaneView* pl, int32_t i0,
                                  int32_t count, const TSwColorF* modulate, TSwColorF* out) {
  const float height = ctx.Constant(1)[0], step = ctx.Constant(1)[1];
  const int32_t field = int(ctx.Constant(2)[0]) & 1;
  const float* kd = ctx.Constant(3);
  const float* kk = ctx.Constant(4);
  const __m256 k255 = _mm256_set1_ps(255.0f), one = _mm256_set1_ps(1.0f);
  const bool same_chroma = pl[1].Width == pl[2].Width && pl[1].Height == pl[2].Height && pl[1].Linear == pl[2].Linear;
  // Eight pixels from coordinate sets su, sv (each at the group's first
  // pixel), times `mod` when not null, into `o`; false as LocatePlane.
  auto group = [&](const float* const* su, const float* const* sv, const TSwColorF* mod, TSwColorF* o) KAV_AVX2 {
    const __m256 v0 = _mm256_loadu_ps(sv[0]);
    __m256 y, u, v;
    if (!SamplePlane(pl[0], _mm256_loadu_ps(su[0]), v0, y)) return false;
    // U and V planes of one size at the same coordinates (as video is drawn)
    // share their texel positions and weights.
    const __m256 u1 = _mm256_loadu_ps(su[1]), v1 = _mm256_loadu_ps(sv[1]);
    const __m256 u2 = _mm256_loadu_ps(su[2]), v2 = _mm256_loadu_ps(sv[2]);
    TPlaneSpot at;
    if (!LocatePlane(pl[1], u1, v1, at)) return false;
    u = FetchPlane(pl[1], at);
    if (same_chroma && SameValues(u1, u2) && SameValues(v1, v2))
      v = FetchPlane(pl[2], at);
    else if (!SamplePlane(pl[2], u2, v2, v))
      return false;
    if (Deinter) {
      // Lines of the other field: the mean of the lines above and below.
      const __m256i line = _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(v0, _mm256_set1_ps(height))));
      const __m256i odd = _mm256_and_si256(_mm256_add_epi32(line, _mm256_set1_epi32(field)), _mm256_set1_epi32(1));
      const __m256 other = _mm256_castsi256_ps(_mm256_cmpeq_epi32(odd, _mm256_set1_epi32(1)));
      if (_mm256_movemask_ps(other) != 0) {
        const __m256 u0 = _mm256_loadu_ps(su[0]);
        __m256 above, below;
        if (!SamplePlane(pl[0], u0, _mm256_add_ps(v0, _mm256_set1_ps(-step)), above) ||
            !SamplePlane(pl[0], u0, _mm256_add_ps(v0, _mm256_set1_ps(step)), below))
          return false;
        y = _mm256_blendv_ps(y, _mm256_mul_ps(_mm256_add_ps(above, below), _mm256_set1_ps(0.5f)), other);
      }
    }
    const __m256 yy = _mm256_mul_ps(_mm256_sub_ps(_mm256_mul_ps(y, k255), _mm256_set1_ps(16.0f)),
                                    _mm256_set1_ps(kYScale));
    const __m256 uu = _mm256_sub_ps(_mm256_mul_ps(u, k255), _mm256_set1_ps(128.0f));
    const __m256 vv = _mm256_sub_ps(_mm256_mul_ps(v, k255), _mm256_set1_ps(128.0f));
    const __m256 cb = Clamp01x8(_mm256_div_ps(_mm256_add_ps(yy, _mm256_mul_ps(_mm256_set1_ps(kUB), uu)), k255));
    const __m256 cg = Clamp01x8(_mm256_div_ps(
        _mm256_sub_ps(_mm256_sub_ps(yy, _mm256_mul_ps(_mm256_set1_ps(kVG), vv)), _mm256_mul_ps(_mm256_set1_ps(kUG), uu)),
        k255));
    const __m256 cr = Clamp01x8(_mm256_div_ps(_mm256_add_ps(yy, _mm256_mul_ps(_mm256_set1_ps(kVR), vv)), k255));
    __m256 ca = one;
    if (Key) {
      const __m256 du = _mm256_sub_ps(u, _mm256_set1_ps(kk[0])), dv = _mm256_sub_ps(v, _mm256_set1_ps(kk[1]));
      const __m256 dist = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(du, du), _mm256_mul_ps(dv, dv)));
      if (kd[1] > 0)
        ca = Clamp01x8(_mm256_mul_ps(_mm256_sub_ps(dist, _mm256_set1_ps(kd[0])), _mm256_set1_ps(kd[1])));
      else
        ca = _mm256_and_ps(_mm256_cmp_ps(dist, _mm256_set1_ps(kd[0]), _CMP_GT_OQ), one);
    }
    StoreColors8(cb, cg, cr, ca, mod, o);
    return true;
  };
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const int32_t k = i0 + i;
    const float* su[3] = {in.U[0] + k, in.U[1] + k, in.U[2] + k};
    const float* sv[3] = {in.V[0] + k, in.V[1] + k, in.V[2] + k};
    if (!group(su, sv, modulate ? modulate + i : nullptr, out + i)) return i;
  }
  if (i < count) {
    // The last one to seven pixels, padded to eight by repeating the last
    // one's inputs; only theirs are kept.
    const int32_t n = count - i;
    float tu[3][8], tv[3][8];
    TSwColorF tm[8], to[8];
    for (int32_t j = 0; j < 8; ++j) {
      const int32_t k = i0 + i + std::min(j, n - 1);
      for (int s = 0; s < 3; ++s) {
        tu[s][j] = in.U[s][k];
        tv[s][j] = in.V[s][k];
      }
      if (modulate) tm[j] = modulate[i + std::min(j, n - 1)];
    }
    const float* su[3] = {tu[0], tu[1], tu[2]};
    const float* sv[3] = {tv[0], tv[1], tv[2]};
    if (group(su, sv, modulate ? tm : nullptr, to)) {
      std::copy_n(to, n, out + i);
      i = count;
    }
  }
  return i;
}

template <bool Deinter, bool Key>
int32_t VideoCombine(const TSwPixelContext& ctx, const TSwSpanInput& in, int32_t i0, int32_t count,
                     const TSwColorF* modulate, TSwColorF* c) {
  TPlaneView pl[3];
  if (!VideoAvx2() || !VideoPlanes(ctx, in, pl)) return 0;
  return VideoCombineAvx2<Deinter, Key>(ctx, in, pl, i0, count, modulate, c);
}

// ---- Lookups ----
constexpr float kLutScale = 31.0f / 32.0f, kLutOffset = 0.5f / 32.0f;

template <int Stage>
int LookupVolume(const TSwPixelContext&, const TSwColorF& c, TLookup* l) {
  l[0] = TLookup{Stage, true, c.r * kLutScale + kLutOffset, c.g * kLutScale + kLutOffset, c.b * kLutScale + kLutOffset};
  return 1;
}

int LookupRamp(const TSwPixelContext&, const TSwColorF& c, TLookup* l) {
  const float s = 255.0f / 256.0f, o = 0.5f / 256.0f;
  l[0] = TLookup{2, false, Clamp01(c.r) * s + o, 0.5f, 0};
  l[1] = TLookup{2, false, Clamp01(c.g) * s + o, 0.5f, 0};
  l[2] = TLookup{2, false, Clamp01(c.b) * s + o, 0.5f, 0};
  return 3;
}

TSwColorF FinishVolume(const TSwPixelContext& ctx, const TSwColorF& c, const TSwColorF* l) {
  const float t = ctx.Constant(0)[0];
  TSwColorF g = Lerp(c, TSwColorF{l[0].b, l[0].g, l[0].r, c.a}, t);
  g.a = c.a;
  return g;
}

TSwColorF FinishRamp(const TSwPixelContext& ctx, const TSwColorF& c, const TSwColorF* l) {
  const float t = ctx.Constant(0)[0];
  TSwColorF g = Lerp(c, TSwColorF{l[2].b, l[1].g, l[0].r, c.a}, t);
  g.a = c.a;
  return g;
}

// ---- Programs ----
const TProgram kPass{&TapsOne, &CombineFirst, nullptr, nullptr};
const TProgram kPremul3{&TapsTwo, &CombinePremul3, nullptr, nullptr};
const TProgram kGaussH{&TapsGauss<true>, &CombineGauss, nullptr, nullptr};
const TProgram kGaussV{&TapsGauss<false>, &CombineGauss, nullptr, nullptr};
const TProgram kMix{&TapsTwo, &CombineMix, nullptr, nullptr};
const TProgram kUnsharp{&TapsUnsharp, &CombineUnsharp, nullptr, nullptr};
const TProgram kGrade{&TapsOne, &CombineFirst, &LookupVolume<1>, &FinishVolume};
const TProgram kGradeLinear{&TapsOne, &CombineFirst, &LookupRamp, &FinishRamp};
const TProgram kVideo{&TapsVideo, &CombineVideo<false, false>, &LookupVolume<3>, &FinishVolume,
                      &VideoCombine<false, false>};
const TProgram kVideoDeinter{&TapsVideoDeinter, &CombineVideo<true, false>, &LookupVolume<3>, &FinishVolume,
                             &VideoCombine<true, false>};
const TProgram kVideoKey{&TapsVideo, &CombineVideo<false, true>, &LookupVolume<3>, &FinishVolume,
                         &VideoCombine<false, true>};
const TProgram kVideoKeyDeinter{&TapsVideoDeinter, &CombineVideo<true, true>, &LookupVolume<3>, &FinishVolume,
                                &VideoCombine<true, true>};

// A grade of strength 0 leaves the colour as it is: its lookups are skipped.
bool GradeOn(const TSwPixelContext& ctx) { return ctx.Constant(0)[0] != 0.0f; }

// The stage of a program's volume lookup when its lookup and finish are
// those of the device's grading (TSwPixelContext::GradeSpan), else -1.
template <const TProgram& P>
constexpr int VolumeStage() {
  if (P.Finish != &FinishVolume) return -1;
  return P.Lookups == &LookupVolume<1> ? 1 : P.Lookups == &LookupVolume<3> ? 3 : -1;
}

// Whether the result is multiplied by the vertex colour.
template <const TProgram& P, bool Modulate>
struct TKernel {
  static void Pixel(const TSwPixelContext& ctx, const TSwShaderInput& in, TSwColorF& out) {
    TTap taps[kMaxTaps];
    TSwColorF s[kMaxTaps];
    const int n = P.Taps(ctx, taps);
    for (int i = 0; i < n; ++i)
      s[i] = ctx.Sample(taps[i].Stage, in.Tex[taps[i].Set][0] + taps[i].Du, in.Tex[taps[i].Set][1] + taps[i].Dv);
    TSwColorF c = P.Combine(ctx, s, in.Tex[0][1]);
    if (P.Lookups && GradeOn(ctx)) {
      TLookup l[kMaxLookups];
      TSwColorF r[kMaxLookups];
      const int m = P.Lookups(ctx, c, l);
      for (int i = 0; i < m; ++i)
        r[i] = l[i].Volume ? ctx.Sample3D(l[i].Stage, l[i].U, l[i].V, l[i].W) : ctx.Sample(l[i].Stage, l[i].U, l[i].V);
      c = P.Finish(ctx, c, r);
    }
    out = Modulate ? Mul(c, in.Diffuse) : c;
  }

  static void Span(const TSwPixelContext& ctx, const TSwSpanInput& in, TSwColorF* out) {
    constexpr int32_t kChunk = 64;
    TTap taps[kMaxTaps];
    const int n = P.Taps(ctx, taps);
    TSwColorF s[kMaxTaps][kChunk];
    float u[kChunk], v[kChunk], w[kChunk];
    // A coordinate set the vertex format lacks reads 0, as in the per-pixel form.
    static const float kZeros[kChunk] = {};
    const bool grade = P.Lookups && GradeOn(ctx);
    // Without lookups the direct form writes the span's pixels, modulated,
    // straight to `out`; with the device's volume grading it writes their
    // combinations there, graded and modulated in place; with other lookups
    // it fills each chunk's combinations.
    int32_t start = 0;
    if (P.FastCombine && !grade) {
      start = P.FastCombine(ctx, in, 0, in.Count, Modulate ? in.Diffuse : nullptr, out);
    } else if (P.FastCombine && VolumeStage<P>() >= 0) {
      start = P.FastCombine(ctx, in, 0, in.Count, nullptr, out);
      ctx.GradeSpan(VolumeStage<P>(), ctx.Constant(0)[0], out, start);
      if (Modulate) {  // Mul channel by channel, as plain float arrays
        float* o = &out[0].b;
        const float* d = &in.Diffuse[0].b;
        for (int32_t k = 0; k < 4 * start; ++k) o[k] *= d[k];
      }
    }
    for (int32_t i0 = start; i0 < in.Count; i0 += kChunk) {
      const int32_t cnt = std::min(kChunk, in.Count - i0);
      TSwColorF c[kChunk];
      const int32_t done = P.FastCombine && grade ? P.FastCombine(ctx, in, i0, cnt, nullptr, c) : 0;
      const int32_t rest = cnt - done, j0 = i0 + done;
      for (int t = 0; t < n && rest > 0; ++t) {
        const float* su = in.U[taps[t].Set] ? in.U[taps[t].Set] + j0 : kZeros;
        const float* sv = in.V[taps[t].Set] ? in.V[taps[t].Set] + j0 : kZeros;
        for (int32_t i = 0; i < rest; ++i) {
          u[i] = su[i] + taps[t].Du;
          v[i] = sv[i] + taps[t].Dv;
        }
        ctx.SampleSpan(taps[t].Stage, u, v, rest, s[t]);
      }
      for (int32_t i = 0; i < rest; ++i) {
        TSwColorF tp[kMaxTaps];
        for (int t = 0; t < n; ++t) tp[t] = s[t][i];
        c[done + i] = P.Combine(ctx, tp, in.V[0] ? in.V[0][j0 + i] : 0.0f);
      }
      if (grade && VolumeStage<P>() >= 0) {
        ctx.GradeSpan(VolumeStage<P>(), ctx.Constant(0)[0], c, cnt);
      } else if (grade) {
        TLookup l[kChunk][kMaxLookups];
        int m = 0;
        for (int32_t i = 0; i < cnt; ++i) m = P.Lookups(ctx, c[i], l[i]);
        TSwColorF r[kMaxLookups][kChunk];
        for (int k = 0; k < m; ++k) {
          for (int32_t i = 0; i < cnt; ++i) {
            u[i] = l[i][k].U;
            v[i] = l[i][k].V;
            w[i] = l[i][k].W;
          }
          if (l[0][k].Volume)
            ctx.Sample3DSpan(l[0][k].Stage, u, v, w, cnt, r[k]);
          else
            ctx.SampleSpan(l[0][k].Stage, u, v, cnt, r[k]);
        }
        for (int32_t i = 0; i < cnt; ++i) {
          TSwColorF rr[kMaxLookups];
          for (int k = 0; k < m; ++k) rr[k] = r[k][i];
          c[i] = P.Finish(ctx, c[i], rr);
        }
      }
      for (int32_t i = 0; i < cnt; ++i) out[i0 + i] = Modulate ? Mul(c[i], in.Diffuse[i0 + i]) : c[i];
    }
  }
};

// Programs that are their one tap of stage 0 at set 0 (and lookups that a
// zero grade skips) are, on their own, texture times the vertex colour or
// the texture alone: rectangles drawn with them take the device's row
// kernels.
template <const TProgram& P, bool Modulate>
bool StageForm(const float (*c)[4], const float* d, float* m, float* a) {
  if (P.Taps != &TapsOne || P.Combine != &CombineFirst || P.FastCombine) return false;
  if (P.Lookups && c[0][0] != 0.0f) return false;  // graded: the lookups run
  for (int l = 0; l < 4; ++l) {
    m[l] = Modulate ? d[l] : 1.0f;
    a[l] = 0.0f;
  }
  return true;
}

template <const TProgram& P, bool Modulate>
void Register(const char* name) {
  SwRegisterPixelKernel(name, &TKernel<P, Modulate>::Pixel, &TKernel<P, Modulate>::Span, &StageForm<P, Modulate>);
}

}  // namespace

void RegisterDrawKernels() {
  static std::once_flag once;
  std::call_once(once, [] {
    Register<kPass, false>("videomask");
    Register<kPass, false>("premul");
    Register<kPass, false>("premul2");
    Register<kPremul3, false>("premul3");
    Register<kGaussH, false>("gauss_blur_h7");
    Register<kGaussV, false>("gauss_blur_v7");
    Register<kMix, false>("gauss_mix");
    Register<kUnsharp, false>("unsharp");
    Register<kGrade, true>("color_grading");
    Register<kGradeLinear, true>("color_grade_linear");
    Register<kVideo, true>("color_grade_video");
    Register<kVideoDeinter, true>("color_grade_deinter");
    Register<kVideoKey, true>("color_grade_chromakey");
    Register<kVideoKeyDeinter, true>("color_grade_chroma_deinter");
    RegisterDrawKernelSources();
  });
}

std::string LoadShaderCode(const std::string& name) {
  RegisterDrawKernels();
  return SwPixelShaderBlob(name);
}

const std::vector<std::string>& DrawShaderNames() {
  static const std::vector<std::string> names{"unsharp",
                                              "videomask",
                                              "color_grading",
                                              "color_grade_linear",
                                              "color_grade_video",
                                              "color_grade_deinter",
                                              "color_grade_chromakey",
                                              "color_grade_chroma_deinter",
                                              "premul",
                                              "premul2",
                                              "premul3",
                                              "gauss_blur_h7",
                                              "gauss_blur_v7",
                                              "gauss_mix"};
  return names;
}

}  // namespace kav
