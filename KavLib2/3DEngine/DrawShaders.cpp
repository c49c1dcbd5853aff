// Each program is a list of taps (stage, coordinate set, offset) sampled at
// the pixel's coordinates, a combination of the taps, and optionally a second
// round of lookups whose coordinates come from that combination. The
// per-pixel form samples tap by tap; the span form samples each tap for the
// whole run and then runs the same combination per pixel, so both give the
// same pixels.
#include "KavLib2/3DEngine/DrawShaders.h"

#include <algorithm>
#include <cmath>
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
TSwColorF YuvToRgb(float y, float u, float v) {
  const float yy = (y * 255.0f - 16.0f) * 1.1643835616438356f;
  const float uu = u * 255.0f - 128.0f, vv = v * 255.0f - 128.0f;
  return TSwColorF{Clamp01((yy + 2.018f * uu) / 255.0f), Clamp01((yy - 0.813f * vv - 0.391f * uu) / 255.0f),
                   Clamp01((yy + 1.596f * vv) / 255.0f), 1.0f};
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
const TProgram kVideo{&TapsVideo, &CombineVideo<false, false>, &LookupVolume<3>, &FinishVolume};
const TProgram kVideoDeinter{&TapsVideoDeinter, &CombineVideo<true, false>, &LookupVolume<3>, &FinishVolume};
const TProgram kVideoKey{&TapsVideo, &CombineVideo<false, true>, &LookupVolume<3>, &FinishVolume};
const TProgram kVideoKeyDeinter{&TapsVideoDeinter, &CombineVideo<true, true>, &LookupVolume<3>, &FinishVolume};

// A grade of strength 0 leaves the colour as it is: its lookups are skipped.
bool GradeOn(const TSwPixelContext& ctx) { return ctx.Constant(0)[0] != 0.0f; }

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
    for (int32_t i0 = 0; i0 < in.Count; i0 += kChunk) {
      const int32_t cnt = std::min(kChunk, in.Count - i0);
      for (int t = 0; t < n; ++t) {
        const float* su = in.U[taps[t].Set] + i0;
        const float* sv = in.V[taps[t].Set] + i0;
        for (int32_t i = 0; i < cnt; ++i) {
          u[i] = su[i] + taps[t].Du;
          v[i] = sv[i] + taps[t].Dv;
        }
        ctx.SampleSpan(taps[t].Stage, u, v, cnt, s[t]);
      }
      TSwColorF c[kChunk];
      for (int32_t i = 0; i < cnt; ++i) {
        TSwColorF tp[kMaxTaps];
        for (int t = 0; t < n; ++t) tp[t] = s[t][i];
        c[i] = P.Combine(ctx, tp, in.V[0][i0 + i]);
      }
      if (P.Lookups && GradeOn(ctx)) {
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

template <const TProgram& P, bool Modulate>
void Register(const char* name) {
  SwRegisterPixelKernel(name, &TKernel<P, Modulate>::Pixel, &TKernel<P, Modulate>::Span);
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
