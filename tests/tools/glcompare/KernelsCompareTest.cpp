// The 14 pixel programs on both devices: seeded textures (L8 planes for
// video), a seeded colour volume, constants as the drawer sets them, a
// blended quad straight and one turned and scaled.
#include <cstring>
#include <random>

#include "KavLib2/3DEngine/DrawShaders.h"
#include "platform/d3d/SwDevice.h"
#include "platform/d3d/SwFormat.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"
#include "tests/platform/d3d/SwTestRig.h"
#include "tests/tools/glcompare/GlCompare.h"

namespace kav::glcompare {
namespace {

constexpr TSwWindow kWindow = 5;
constexpr int32_t kW = 96, kH = 64;

struct TV3 {
  float x, y, z, rhw;
  uint32_t color;
  float t[3][2];
};
constexpr uint32_t kFvf3 = SwFvfXYZRHW | SwFvfDiffuse | SwFvfTex(3);

void Sampling(TSwDevice& d, int stage) {
  for (auto s : {TSwSamplerState::MagFilter, TSwSamplerState::MinFilter})
    d.SetSamplerState(uint32_t(stage), s, uint32_t(TSwFilter::Linear));
  for (auto s : {TSwSamplerState::AddressU, TSwSamplerState::AddressV, TSwSamplerState::AddressW})
    d.SetSamplerState(uint32_t(stage), s, uint32_t(TSwAddress::Clamp));
}

// Smooth seeded values: the programs' taps land between texels, so noise
// would only measure the two devices' bilinear weights.
uint32_t Smooth(std::mt19937& rng, uint32_t x, uint32_t y, uint32_t alpha) {
  const uint32_t r = (x + y + (rng() & 7)) & 255, g = (x + 90 + (rng() & 7)) & 255, b = (y * 2 + 30 + (rng() & 7)) & 255;
  return alpha << 24 | r << 16 | g << 8 | b;
}

std::vector<uint32_t> Render(const std::string& kernel, bool turned) {
  Ref<TSwOffscreenSink> sink = MakeRef<TSwOffscreenSink>();
  TSwConfig cfg;
  cfg.Sink = sink;
  Ref<TSwDirect3D> d3d = MakeRef<TSwDirect3D>(cfg);
  TSwPresentParams pp;
  pp.BackBufferWidth = kW;
  pp.BackBufferHeight = kH;
  pp.DeviceWindow = kWindow;
  Ref<TSwDevice> dev;
  EXPECT_EQ(d3d->CreateDevice(0, kWindow, SwCreateMultithreaded, pp, dev), TSwResult::Ok);
  TSwDevice& d = *dev;
  std::mt19937 rng(uint32_t(kernel.size()) * 977);
  const bool video = kernel.find("color_grade_") == 0 && kernel != "color_grade_linear";
  std::vector<Ref<TSwTexture>> keep;
  for (int s = 0; s < 3; ++s) {
    const uint32_t w = video && s > 0 ? 48 : 96, h = video && s > 0 ? 32 : 64;
    const uint32_t alpha = video ? 255 : 160 + s * 40;
    keep.push_back(swtest::MakeTexture(
        d, w, h, [&](uint32_t x, uint32_t y) { return Smooth(rng, x, y, alpha); },
        video ? TSwFormat::L8 : TSwFormat::A8R8G8B8));
    d.SetTexture(uint32_t(s), keep.back().get());
    Sampling(d, s);
  }
  if (kernel == "color_grade_linear") {
    keep.push_back(
        swtest::MakeTexture(d, 256, 16, [](uint32_t x, uint32_t) { return 0xFF000000u | (255 - x) * 0x010101u; }));
    d.SetTexture(2, keep.back().get());
  }
  Ref<TSwVolumeTexture> vol;
  d.CreateVolumeTexture(32, 32, 32, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, vol);
  TSwLockedBox lb;
  vol->LockBox(0, lb, nullptr, 0);
  for (int z = 0; z < 32; ++z)
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        static_cast<uint32_t*>(lb.Bits)[(z * 32 + y) * 32 + x] =
            0xFF000000u | uint32_t(255 - x * 8) << 16 | uint32_t(y * 8) << 8 | uint32_t(z * 8);
  vol->UnlockBox(0);
  // The volume goes where grading looks it up (stage 1 is a picture for
  // the two-picture programs).
  if (video || kernel == "color_grading") {
    const int vs = video ? 3 : 1;
    d.SetTexture(uint32_t(vs), vol.get());
    Sampling(d, vs);
  }
  // Chroma keys soft over a distance of 0.2 around (0.35, 0.2): part of the
  // picture keyed out, part kept.
  float c[5][4] = {{0.6f, 0.1f, 0.2f, 0.3f}, {1.0f / 96, 64, 0, 0}, {0.05f, 1.0f, 0, 0}, {0.1f, 5.0f, 0, 0},
                   {0.35f, 0.2f, 0, 0}};
  if (kernel.find("deinter") != std::string::npos) {
    c[1][0] = 64;
    c[1][1] = 1.0f / 64;
    c[2][0] = 1;
  }
  if (kernel.find("gauss_blur") == 0) {
    const float wts[4] = {0.065722f, 0.108356f, 0.17865f, 0.294544f};
    std::memcpy(c[0], wts, sizeof wts);
    c[1][0] = 2.0f / 96;
  }
  if (kernel == "unsharp") {
    c[0][0] = 1.0f / 96;
    c[0][1] = 1.0f / 64;
    c[1][0] = 0.01f;
    c[2][0] = 0.8f;
  }
  d.SetPixelShaderConstantF(0, &c[0][0], 5);
  Ref<TSwPixelShader> ps;
  const std::string blob = LoadShaderCode(kernel);
  EXPECT_EQ(d.CreatePixelShader(blob.data(), blob.size(), ps), TSwResult::Ok);
  d.SetPixelShader(ps.get());
  d.SetRenderState(TSwRenderState::AlphaBlendEnable, 1);
  d.SetRenderState(TSwRenderState::SrcBlend, uint32_t(TSwBlend::SrcAlpha));
  d.SetRenderState(TSwRenderState::DestBlend, uint32_t(TSwBlend::InvSrcAlpha));
  d.SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  d.Clear(0, nullptr, SwClearTarget, 0xFF203040, 0, 0);
  d.BeginScene();
  TV3 q[4];
  const float xs[4] = {0, kW, 0, kW}, ys[4] = {0, 0, kH, kH};
  for (int i = 0; i < 4; ++i) {
    float x = xs[i], y = ys[i];
    if (turned) {  // a quarter smaller, turned by 20 degrees about the centre
      const float cx = kW / 2.0f, cy = kH / 2.0f, co = 0.9396926f * 0.75f, si = 0.3420201f * 0.75f;
      const float dx = x - cx, dy = y - cy;
      x = cx + dx * co - dy * si;
      y = cy + dx * si + dy * co;
    }
    q[i] = TV3{x - 0.5f, y - 0.5f, 0, 1, 0xC0FFE0D0, {}};
    for (int s = 0; s < 3; ++s) {
      q[i].t[s][0] = xs[i] / kW;
      q[i].t[s][1] = ys[i] / kH;
    }
  }
  d.SetFVF(kFvf3);
  EXPECT_EQ(d.DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(TV3)), TSwResult::Ok);
  d.EndScene();
  EXPECT_EQ(d.Present(nullptr, nullptr, 0), TSwResult::Ok);
  TSwOffscreenSink::TFrame f;
  sink->LastFrame(kWindow, f);
  return f.Pixels;
}

TEST(GlCompareKernels, EveryPixelProgramMatchesItsKernel) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  RegisterDrawKernels();
  ASSERT_EQ(DrawShaderNames().size(), 14u);
  for (const std::string& k : DrawShaderNames()) {
    ASSERT_FALSE(SwKernelSource(k).empty()) << k;
    for (bool turned : {false, true}) {
      TPair p;
      p.Width = kW;
      p.Height = kH;
      {
        TUseDevice use(false);
        p.Sw = Render(k, turned);
      }
      {
        TUseDevice use(true);
        p.Gl = Render(k, turned);
      }
      ExpectAlike(p, k + (turned ? "_turned" : ""));
      // Something was drawn.
      size_t drawn = 0;
      for (uint32_t px : p.Gl) drawn += px != 0xFF203040u;
      EXPECT_GT(drawn, p.Gl.size() / 4) << k << (turned ? " turned" : "");
    }
  }
}

}  // namespace
}  // namespace kav::glcompare
