// The draw manager's pixel programs: every span form against its per-pixel
// form, and the programs against straightforward references.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "KavLib2/3DEngine/DrawShaders.h"
#include "platform/d3d/SwFormat.h"
#include "platform/d3d/raster/SwFastQuad.h"
#include "platform/d3d/raster/SwFastRow.h"
#include "tests/platform/d3d/SwTestRig.h"

namespace kav {
namespace {

using swtest::TRig;

struct TV3 {
  float x, y, z, rhw;
  uint32_t color;
  float t[3][2];
};
constexpr uint32_t kFvf3 = SwFvfXYZRHW | SwFvfDiffuse | SwFvfTex(3);

void Quad3(TRig& rig, float w, float h, uint32_t color) {
  TV3 q[4];
  const float xs[4] = {0, w, 0, w}, ys[4] = {0, 0, h, h};
  for (int i = 0; i < 4; ++i) {
    q[i] = TV3{xs[i] - 0.5f, ys[i] - 0.5f, 0, 1, color, {}};
    for (int s = 0; s < 3; ++s) {
      q[i].t[s][0] = xs[i] / w;
      q[i].t[s][1] = ys[i] / h;
    }
  }
  rig.Dev->SetFVF(kFvf3);
  ASSERT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(TV3)), TSwResult::Ok);
}

void Linear(TRig& rig, int stage) {
  rig.Dev->SetSamplerState(uint32_t(stage), TSwSamplerState::MagFilter, uint32_t(TSwFilter::Linear));
  rig.Dev->SetSamplerState(uint32_t(stage), TSwSamplerState::MinFilter, uint32_t(TSwFilter::Linear));
  rig.Dev->SetSamplerState(uint32_t(stage), TSwSamplerState::AddressU, uint32_t(TSwAddress::Clamp));
  rig.Dev->SetSamplerState(uint32_t(stage), TSwSamplerState::AddressV, uint32_t(TSwAddress::Clamp));
  rig.Dev->SetSamplerState(uint32_t(stage), TSwSamplerState::AddressW, uint32_t(TSwAddress::Clamp));
}

// A 32^3 volume of seeded opaque colours.
Ref<TSwVolumeTexture> RandomVolume(TRig& rig, std::mt19937& rng) {
  Ref<TSwVolumeTexture> vol;
  rig.Dev->CreateVolumeTexture(32, 32, 32, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, vol);
  TSwLockedBox lb;
  vol->LockBox(0, lb, nullptr, 0);
  for (int i = 0; i < 32 * 32 * 32; ++i) static_cast<uint32_t*>(lb.Bits)[i] = uint32_t(rng()) | 0xFF000000u;
  vol->UnlockBox(0);
  return vol;
}

// Binds `kernel` with five constant registers, blending by source alpha
// (the device keeps the shader).
void BindBlended(TRig& rig, const std::string& kernel, const float (*consts)[4]) {
  rig.Dev->SetPixelShaderConstantF(0, &consts[0][0], 5);
  Ref<TSwPixelShader> ps;
  const std::string blob = LoadShaderCode(kernel);
  EXPECT_EQ(rig.Dev->CreatePixelShader(blob.data(), blob.size(), ps), TSwResult::Ok);
  rig.Dev->SetPixelShader(ps.get());
  rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
}

// Draws a 96 x 64 quad (or `qw` x `qh`) through `kernel` over seeded
// textures and constants (grade 0 with `ungraded`).
std::vector<uint32_t> RenderKernel(const std::string& kernel, bool fast, float qw = 96, float qh = 64,
                                   bool ungraded = false) {
  RegisterDrawKernels();
  TRig rig(96, 64);
  rig.Dev->SetFastPaths(fast);
  std::mt19937 rng(uint32_t(kernel.size()) * 977);
  const bool video = kernel.find("color_grade_") == 0 && kernel != "color_grade_linear";
  for (int s = 0; s < 3; ++s) {
    const uint32_t w = video && s > 0 ? 48 : 96, h = video && s > 0 ? 32 : 64;
    auto t = rig.Texture(w, h, [&](uint32_t, uint32_t) { return uint32_t(rng()) | (video ? 0 : 0x40000000u); },
                         video ? TSwFormat::L8 : TSwFormat::A8R8G8B8);
    rig.Dev->SetTexture(uint32_t(s), t.get());
    Linear(rig, s);
  }
  if (kernel == "color_grade_linear") {
    auto ramp = rig.Texture(256, 16, [&](uint32_t x, uint32_t) { return 0xFF000000u | (255 - x) * 0x010101u; });
    rig.Dev->SetTexture(2, ramp.get());
  }
  Ref<TSwVolumeTexture> vol = RandomVolume(rig, rng);
  const int vs = video ? 3 : 1;
  rig.Dev->SetTexture(uint32_t(vs), vol.get());
  Linear(rig, vs);
  const float c[5][4] = {{0.6f, 0.1f, 0.2f, 0.3f}, {1.0f / 96, 64, 0, 0}, {0.05f, 1.0f, 0, 0},
                         {0.2f, 5.0f, 0, 0}, {0.5f, 0.45f, 0, 0}};
  float consts[5][4];
  std::memcpy(consts, c, sizeof c);
  if (kernel.find("deinter") != std::string::npos) {
    consts[1][0] = 64;
    consts[1][1] = 1.0f / 64;
    consts[2][0] = 1;
  }
  if (kernel.find("gauss_blur") == 0) {
    const float wts[4] = {0.065722f, 0.108356f, 0.17865f, 0.294544f};
    std::memcpy(consts[0], wts, sizeof wts);
    consts[1][0] = 2.0f / 96;
  }
  if (kernel == "unsharp") {
    consts[0][0] = 1.0f / 96;
    consts[0][1] = 1.0f / 64;
    consts[1][0] = 0.01f;
    consts[2][0] = 0.8f;
  }
  if (ungraded) consts[0][0] = 0;
  BindBlended(rig, kernel, consts);
  rig.Dev->BeginScene();
  Quad3(rig, qw, qh, 0xC0FFE0D0);
  rig.Dev->EndScene();
  return rig.Snapshot();
}

TEST(DrawShaders, SpanFormsGiveThePerPixelPixels) {
  for (const std::string& k : DrawShaderNames()) {
    const auto ref = RenderKernel(k, false);
    const auto fast = RenderKernel(k, true);
    EXPECT_EQ(swtest::MaxChannelDiff(ref, fast), 0) << k;
    // Something was drawn.
    EXPECT_NE(ref[64 * 96 / 2 + 40], 0u) << k;
  }
}

// Programs that are one texture tap (ungraded lookups included) draw
// rectangles through the device's rectangle kernels: the per-pixel form's
// pixels within the 16-bit kernel's one unit; graded ones keep their spans.
TEST(DrawShaders, OneTapProgramsDrawRectanglesAsTextures) {
  const int tolerance = SwQuadRowKernel() == &SwQuadRowAvx2 ? 1 : 0;
  for (const char* k : {"premul", "premul2", "videomask", "color_grading", "color_grade_linear"})
    for (bool ungraded : {false, true}) {
      const bool graded = std::string(k).find("color_grad") == 0 && !ungraded;
      const uint64_t quads = SwRasterStats().FastQuads.load();
      const auto fast = RenderKernel(k, true, 77, 53, ungraded);
      EXPECT_EQ(SwRasterStats().FastQuads.load(), quads + (graded ? 0 : 1)) << k << ungraded;
      EXPECT_LE(swtest::MaxChannelDiff(RenderKernel(k, false, 77, 53, ungraded), fast), graded ? 0 : tolerance)
          << k << ungraded;
    }
}

TEST(DrawShaders, GaussianAgainstItsWeights) {
  // One white column on black, blurred horizontally with step one texel:
  // the row reads the seven weights.
  RegisterDrawKernels();
  TRig rig(32, 4);
  auto t = rig.Texture(32, 4, [](uint32_t x, uint32_t) { return x == 16 ? 0xFFFFFFFFu : 0xFF000000u; });
  rig.Dev->SetTexture(0, t.get());
  Linear(rig, 0);
  const float wts[4] = {0.065722f, 0.108356f, 0.17865f, 0.294544f};
  const float step[4] = {1.0f / 32, 0, 0, 0};
  rig.Dev->SetPixelShaderConstantF(0, wts, 1);
  rig.Dev->SetPixelShaderConstantF(1, step, 1);
  Ref<TSwPixelShader> ps;
  const std::string blob = LoadShaderCode("gauss_blur_h7");
  rig.Dev->CreatePixelShader(blob.data(), blob.size(), ps);
  rig.Dev->SetPixelShader(ps.get());
  rig.Dev->BeginScene();
  rig.Quad(-0.5f, -0.5f, 31.5f, 3.5f, 0xFFFFFFFF);
  rig.Dev->EndScene();
  double sum = 0;
  for (int k = -3; k <= 3; ++k) {
    const double w = wts[3 - std::abs(k)];
    sum += w;
    EXPECT_NEAR(swtest::Chan(rig.Pixel(16 + k, 1), 8), w * 255, 1.0) << k;
  }
  EXPECT_NEAR(sum, 1.0, 1e-5);  // a flat picture stays as it is
  EXPECT_EQ(swtest::Chan(rig.Pixel(12, 1), 8), 0);
}

TEST(DrawShaders, VideoMatchesTheYuvTable) {
  RegisterDrawKernels();
  TRig rig(8, 8);
  const uint8_t ys[3] = {16, 132, 239}, us[3] = {132, 60, 200}, vs[3] = {132, 200, 90};
  for (int i = 0; i < 3; ++i) {
    auto y = rig.Texture(8, 8, [&](uint32_t, uint32_t) { return 0xFF000000u | ys[i] * 0x010101u; }, TSwFormat::L8);
    auto u = rig.Texture(4, 4, [&](uint32_t, uint32_t) { return 0xFF000000u | us[i] * 0x010101u; }, TSwFormat::L8);
    auto v = rig.Texture(4, 4, [&](uint32_t, uint32_t) { return 0xFF000000u | vs[i] * 0x010101u; }, TSwFormat::L8);
    rig.Dev->SetTexture(0, y.get());
    rig.Dev->SetTexture(1, u.get());
    rig.Dev->SetTexture(2, v.get());
    const float t0[4] = {0, 0, 0, 0};
    rig.Dev->SetPixelShaderConstantF(0, t0, 1);
    Ref<TSwPixelShader> ps;
    const std::string blob = LoadShaderCode("color_grade_video");
    rig.Dev->CreatePixelShader(blob.data(), blob.size(), ps);
    rig.Dev->SetPixelShader(ps.get());
    rig.Dev->BeginScene();
    Quad3(rig, 8, 8, 0xFFFFFFFF);
    rig.Dev->EndScene();
    const double yy = (ys[i] - 16) * 1.1643835616438356, uu = us[i] - 128.0, vv = vs[i] - 128.0;
    auto cl = [](double x) { return std::clamp(x, 0.0, 255.0); };
    const uint32_t p = rig.Pixel(3, 3);
    EXPECT_NEAR(swtest::Chan(p, 16), cl(yy + 1.596 * vv), 1.0) << i;
    EXPECT_NEAR(swtest::Chan(p, 8), cl(yy - 0.813 * vv - 0.391 * uu), 1.0) << i;
    EXPECT_NEAR(swtest::Chan(p, 0), cl(yy + 2.018 * uu), 1.0) << i;
  }
}

TEST(DrawShaders, Premul3MasksByLuminance) {
  RegisterDrawKernels();
  TRig rig(8, 2);
  // Premultiplied content: red at alpha 0.5; mask white left, black right.
  auto content = rig.Texture(8, 2, [](uint32_t, uint32_t) { return 0x80800000u; });
  auto mask = rig.Texture(8, 2, [](uint32_t x, uint32_t) { return x < 4 ? 0xFFFFFFFFu : 0xFF000000u; });
  rig.Dev->SetTexture(0, content.get());
  rig.Dev->SetTexture(1, mask.get());
  Ref<TSwPixelShader> ps;
  const std::string blob = LoadShaderCode("premul3");
  rig.Dev->CreatePixelShader(blob.data(), blob.size(), ps);
  rig.Dev->SetPixelShader(ps.get());
  rig.Dev->Clear(0, nullptr, SwClearTarget, 0xFF0000FF, 1, 0);
  rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
  rig.Dev->BeginScene();
  Quad3(rig, 8, 2, 0xFFFFFFFF);
  rig.Dev->EndScene();
  EXPECT_NEAR(swtest::Chan(rig.Pixel(1, 0), 16), 128, 1);  // half red over blue
  EXPECT_NEAR(swtest::Chan(rig.Pixel(1, 0), 0), 127, 1);
  EXPECT_EQ(rig.Pixel(6, 0), 0xFF0000FFu);                // masked out
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// A 32^3 volume mapping each colour through fn (components 0..255).
Ref<TSwVolumeTexture> Volume(TRig& rig, uint32_t (*fn)(int, int, int)) {
  Ref<TSwVolumeTexture> vol;
  rig.Dev->CreateVolumeTexture(32, 32, 32, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, vol);
  TSwLockedBox lb;
  vol->LockBox(0, lb, nullptr, 0);
  for (int s = 0; s < 32; ++s)
    for (int r = 0; r < 32; ++r)
      for (int c = 0; c < 32; ++c) {
        auto comp = [](int v) { return 8 * v + v / 4; };
        static_cast<uint32_t*>(lb.Bits)[(s * 32 + r) * 32 + c] = fn(comp(c), comp(r), comp(s));
      }
  vol->UnlockBox(0);
  return vol;
}

uint32_t GradeOnce(uint32_t color, uint32_t (*lut)(int, int, int), float t) {
  RegisterDrawKernels();
  TRig rig(4, 4);
  auto pic = rig.Texture(4, 4, [&](uint32_t, uint32_t) { return color; });
  auto vol = Volume(rig, lut);
  rig.Dev->SetTexture(0, pic.get());
  rig.Dev->SetTexture(1, vol.get());
  Linear(rig, 1);
  const float c[4] = {t, 0, 0, 0};
  rig.Dev->SetPixelShaderConstantF(0, c, 1);
  Ref<TSwPixelShader> ps;
  const std::string blob = LoadShaderCode("color_grading");
  rig.Dev->CreatePixelShader(blob.data(), blob.size(), ps);
  rig.Dev->SetPixelShader(ps.get());
  rig.Dev->BeginScene();
  Quad3(rig, 4, 4, 0xFFFFFFFF);
  rig.Dev->EndScene();
  return rig.Pixel(1, 1);
}

uint32_t Identity(int r, int g, int b) { return 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }
uint32_t Invert(int r, int g, int b) {
  return 0xFF000000u | uint32_t(255 - r) << 16 | uint32_t(255 - g) << 8 | uint32_t(255 - b);
}

TEST(DrawShaders, GradingThroughAVolume) {
  const uint32_t c = 0xFF4080C0;
  // The identity volume keeps the colour; an inverting one inverts it, by t.
  const uint32_t same = GradeOnce(c, &Identity, 1.0f);
  for (int sh : {0, 8, 16}) EXPECT_NEAR(swtest::Chan(same, sh), swtest::Chan(c, sh), 2) << sh;
  const uint32_t inv = GradeOnce(c, &Invert, 1.0f);
  for (int sh : {0, 8, 16}) EXPECT_NEAR(swtest::Chan(inv, sh), 255 - swtest::Chan(c, sh), 2) << sh;
  const uint32_t half = GradeOnce(c, &Invert, 0.5f);
  for (int sh : {0, 8, 16}) EXPECT_NEAR(swtest::Chan(half, sh), 127.5, 2) << sh;
  EXPECT_EQ(GradeOnce(c, &Invert, 0.0f), c);
}

TEST(DrawShaders, MixAndUnsharpReferences) {
  RegisterDrawKernels();
  TRig rig(8, 1);
  auto big = rig.Texture(8, 1, [](uint32_t, uint32_t) { return 0xFFFF0000u; });
  auto small = rig.Texture(8, 1, [](uint32_t, uint32_t) { return 0xFF0000FFu; });
  rig.Dev->SetTexture(0, big.get());
  rig.Dev->SetTexture(1, small.get());
  const float a[4] = {0.25f, 0, 0, 0};
  rig.Dev->SetPixelShaderConstantF(0, a, 1);
  Ref<TSwPixelShader> ps;
  std::string blob = LoadShaderCode("gauss_mix");
  rig.Dev->CreatePixelShader(blob.data(), blob.size(), ps);
  rig.Dev->SetPixelShader(ps.get());
  rig.Dev->BeginScene();
  Quad3(rig, 8, 1, 0xFFFFFFFF);
  rig.Dev->EndScene();
  EXPECT_NEAR(swtest::Chan(rig.Pixel(3, 0), 16), 191, 1);
  EXPECT_NEAR(swtest::Chan(rig.Pixel(3, 0), 0), 64, 1);
  // Unsharp on a step: the dark side darker, the bright side brighter, a
  // flat area unchanged.
  TRig r2(16, 4);
  auto step = r2.Texture(16, 4, [](uint32_t x, uint32_t) { return x < 8 ? 0xFF404040u : 0xFFC0C0C0u; });
  r2.Dev->SetTexture(0, step.get());
  const float k[3][4] = {{1.0f / 16, 1.0f / 4, 0, 0}, {0.01f, 0, 0, 0}, {1.0f, 0, 0, 0}};
  r2.Dev->SetPixelShaderConstantF(0, &k[0][0], 3);
  blob = LoadShaderCode("unsharp");
  r2.Dev->CreatePixelShader(blob.data(), blob.size(), ps);
  r2.Dev->SetPixelShader(ps.get());
  r2.Dev->BeginScene();
  Quad3(r2, 16, 4, 0xFFFFFFFF);
  r2.Dev->EndScene();
  EXPECT_EQ(swtest::Chan(r2.Pixel(2, 1), 8), 0x40);
  EXPECT_LT(swtest::Chan(r2.Pixel(7, 1), 8), 0x40);
  EXPECT_GT(swtest::Chan(r2.Pixel(8, 1), 8), 0xC0);
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// The video programs drawn from Y, U and V planes (chroma at half size) over
// a quad with the given corners (top left, top right, bottom left, bottom
// right) mapping the whole planes, once through the span forms and once
// through the per-pixel forms.
struct TVideoScene {
  int32_t Width = 0, Height = 0;        // the target
  int32_t PlaneW = 0, PlaneH = 0;       // the Y plane
  float Corners[4][2] = {};
  float UvScale = 1.0f;                 // coordinates 0..UvScale across the planes
  bool MirrorU = false;                 // u falls from left to right
  TSwFilter Filter = TSwFilter::Linear;
  float Grade = 0;                      // strength of the volume lookup
  uint32_t Color = 0xFFFFFFFF;          // vertex colour
};

std::vector<uint32_t> RenderVideo(const std::string& kernel, const TVideoScene& sc, bool fast) {
  RegisterDrawKernels();
  TRig rig(uint32_t(sc.Width), uint32_t(sc.Height));
  rig.Dev->SetFastPaths(fast);
  std::mt19937 rng(uint32_t(sc.PlaneW * 31 + sc.PlaneH));
  std::vector<Ref<TSwTexture>> planes;
  for (int s = 0; s < 3; ++s) {
    const uint32_t w = uint32_t(s ? sc.PlaneW / 2 : sc.PlaneW), h = uint32_t(s ? sc.PlaneH / 2 : sc.PlaneH);
    planes.push_back(rig.Texture(w, h, [&](uint32_t, uint32_t) { return 0xFF000000u | (rng() & 255) * 0x010101u; },
                                 TSwFormat::L8));
    rig.Dev->SetTexture(uint32_t(s), planes.back().get());
    Linear(rig, s);
    rig.Dev->SetSamplerState(uint32_t(s), TSwSamplerState::MagFilter, uint32_t(sc.Filter));
    rig.Dev->SetSamplerState(uint32_t(s), TSwSamplerState::MinFilter, uint32_t(sc.Filter));
  }
  Ref<TSwVolumeTexture> vol = RandomVolume(rig, rng);
  rig.Dev->SetTexture(3, vol.get());
  Linear(rig, 3);
  // Grade; plane height and field 1; key tolerance with a soft edge, key
  // colour near the middle of the chroma range.
  const float consts[5][4] = {{sc.Grade, 0, 0, 0}, {float(sc.PlaneH), 1.0f / float(sc.PlaneH), 0, 0},
                              {1, -1, 0, 0}, {0.15f, 1.0f / 0.15f, 0, 0}, {0.5f, 0.45f, 0, 0}};
  BindBlended(rig, kernel, consts);
  rig.Dev->Clear(0, nullptr, SwClearTarget, 0xFF204060, 1, 0);
  TV3 q[4];
  float us[4] = {0, 1, 0, 1};
  const float vs[4] = {0, 0, 1, 1};
  if (sc.MirrorU)
    for (float& u : us) u = 1 - u;
  for (int i = 0; i < 4; ++i) {
    q[i] = TV3{sc.Corners[i][0] - 0.5f, sc.Corners[i][1] - 0.5f, 0, 1, sc.Color, {}};
    for (int s = 0; s < 3; ++s) {
      q[i].t[s][0] = us[i] * sc.UvScale;
      q[i].t[s][1] = vs[i] * sc.UvScale;
    }
  }
  rig.Dev->SetFVF(kFvf3);
  rig.Dev->BeginScene();
  EXPECT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(TV3)), TSwResult::Ok);
  rig.Dev->EndScene();
  return rig.Snapshot();
}

const char* const kVideoKernels[] = {"color_grade_video", "color_grade_deinter", "color_grade_chromakey",
                                     "color_grade_chroma_deinter"};

void ExpectSpanEqualsPerPixel(const TVideoScene& sc, const char* what) {
  for (const char* k : kVideoKernels) {
    const auto ref = RenderVideo(k, sc, false);
    const auto fast = RenderVideo(k, sc, true);
    EXPECT_EQ(swtest::MaxChannelDiff(ref, fast), 0) << k << " " << what;
    // The plain program covers the middle of the quad.
    const auto mid = [&](int a) { return size_t((sc.Corners[0][a] + sc.Corners[3][a]) / 2); };
    if (k == kVideoKernels[0]) {
      EXPECT_NE(ref[mid(1) * size_t(sc.Width) + mid(0)], 0xFF204060u) << what;
    }
  }
}

TEST(DrawShaders, VideoSpanFormsOnAnOddFrame) {
  // A 1919 x 1079 frame drawn 1:1 (chroma 959 x 539 at 2:1), with and
  // without grading; then at a quarter of the frame, tinted.
  TVideoScene sc;
  sc.Width = sc.PlaneW = 1919;
  sc.Height = sc.PlaneH = 1079;
  const float full[4][2] = {{0, 0}, {1919, 0}, {0, 1079}, {1919, 1079}};
  std::memcpy(sc.Corners, full, sizeof full);
  ExpectSpanEqualsPerPixel(sc, "1:1");
  sc.Grade = 0.6f;
  ExpectSpanEqualsPerPixel(sc, "1:1 graded");
  sc.Grade = 0;
  sc.Color = 0xC0FFE0D0;
  sc.Width = 487;
  sc.Height = 281;
  const float part[4][2] = {{3, 5}, {483, 5}, {3, 275}, {483, 275}};
  std::memcpy(sc.Corners, part, sizeof part);
  ExpectSpanEqualsPerPixel(sc, "quarter");
}

TEST(DrawShaders, VideoSpanFormsRotatedMagnifiedAndFarOff) {
  TVideoScene sc;
  sc.Width = 211;
  sc.Height = 157;
  sc.PlaneW = 67;
  sc.PlaneH = 45;
  // Rotated and magnified: rows of pixels cross texel rows.
  const float rot[4][2] = {{40, -10}, {220, 50}, {-20, 120}, {160, 180}};
  std::memcpy(sc.Corners, rot, sizeof rot);
  ExpectSpanEqualsPerPixel(sc, "rotated");
  sc.Filter = TSwFilter::Point;
  ExpectSpanEqualsPerPixel(sc, "rotated point");
  // Mirrored (coordinates fall along the row) and coordinates far beyond
  // the planes (clamped; the largest ones past the vector conversion).
  const float whole[4][2] = {{0, 0}, {211, 0}, {0, 157}, {211, 157}};
  std::memcpy(sc.Corners, whole, sizeof whole);
  sc.MirrorU = true;
  sc.Filter = TSwFilter::Linear;
  ExpectSpanEqualsPerPixel(sc, "mirrored");
  sc.UvScale = 1e6f;
  ExpectSpanEqualsPerPixel(sc, "far off");
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

TEST(DrawShaders, VideoWithOneCoordinateSet) {
  // The chroma planes' sets are missing from the vertex format: they read
  // coordinate 0 in both forms (the span form must not read the absent
  // arrays).
  auto render = [](bool fast) {
    RegisterDrawKernels();
    TRig rig(37, 9);
    rig.Dev->SetFastPaths(fast);
    std::vector<Ref<TSwTexture>> planes;
    for (int s = 0; s < 3; ++s) {
      planes.push_back(rig.Texture(
          16, 8, [&](uint32_t x, uint32_t y) { return 0xFF000000u | ((x * 13 + y * 7 + uint32_t(s) * 50) & 255) * 0x010101u; },
          TSwFormat::L8));
      rig.Dev->SetTexture(uint32_t(s), planes.back().get());
      Linear(rig, s);
    }
    const float consts[5][4] = {};
    BindBlended(rig, "color_grade_video", consts);
    rig.Dev->BeginScene();
    rig.Quad(-0.5f, -0.5f, 36.5f, 8.5f, 0xFFFFFFFF);
    rig.Dev->EndScene();
    return rig.Snapshot();
  };
  const auto ref = render(false);
  EXPECT_EQ(swtest::MaxChannelDiff(ref, render(true)), 0);
  EXPECT_NE(ref[4 * 37 + 20], ref[4 * 37 + 3]);  // the luma varies along the row
}

}  // namespace
}  // namespace kav
