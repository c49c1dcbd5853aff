// Texture stages, sampling, blending and pixel kernels.
#include "SwTestRig.h"

#include <bit>
#include <cmath>

#include "platform/d3d/raster/SwSampler.h"

namespace kav {
namespace {

using swtest::Chan;
using swtest::TRig;

// Draws one row of `n` pixels (x from 0) whose pixel centres see
// u = ua + i * du, v = 0.5.
void Row(TRig& rig, int n, float ua, float du, uint32_t color = 0xFFFFFFFF) {
  float u0 = ua - 0.5f * du;
  rig.Quad(-0.5f, -0.5f, float(n) - 0.5f, 0.5f, color, u0, 0.5f, u0 + float(n) * du, 0.5f);
}

TEST(SwSampling, BilinearHitsTexelCentresExactlyAndBlendsBetweenThem) {
  TRig rig(8, 1);
  Ref<TSwTexture> tex = rig.Texture(2, 1, [](uint32_t x, uint32_t) { return x ? 0xFFFF0000u : 0xFF000000u; });
  rig.TextureStage(tex.get(), false, TSwFilter::Linear, TSwAddress::Clamp);
  rig.Dev->BeginScene();
  Row(rig, 6, 0.25f, 0.125f);  // texel coordinates 0, 0.25, 0.5, 0.75, 1, 1.25
  rig.Dev->EndScene();
  EXPECT_EQ(Chan(rig.Pixel(0, 0), 16), 0);
  EXPECT_NEAR(Chan(rig.Pixel(1, 0), 16), 64, 1);
  EXPECT_NEAR(Chan(rig.Pixel(2, 0), 16), 128, 1);
  EXPECT_NEAR(Chan(rig.Pixel(3, 0), 16), 191, 1);
  EXPECT_EQ(Chan(rig.Pixel(4, 0), 16), 255);
  EXPECT_EQ(Chan(rig.Pixel(5, 0), 16), 255);  // clamped past the last centre
}

TEST(SwSampling, AddressModesWrapMirrorAndClamp) {
  const uint32_t texels[4] = {10, 20, 30, 40};
  for (TSwAddress mode : {TSwAddress::Wrap, TSwAddress::Mirror, TSwAddress::Clamp}) {
    TRig rig(16, 1);
    Ref<TSwTexture> tex = rig.Texture(4, 1, [&](uint32_t x, uint32_t) { return 0xFF000000u | texels[x]; });
    rig.TextureStage(tex.get(), false, TSwFilter::Point, mode);
    rig.Dev->BeginScene();
    Row(rig, 16, -1.0f + 0.125f, 0.25f);  // u from -1 to 3 in steps of a quarter texel... one texel per pixel
    rig.Dev->EndScene();
    for (int i = 0; i < 16; ++i) {
      int t = i - 4;  // texel index before addressing
      int expect;
      if (mode == TSwAddress::Wrap) expect = ((t % 4) + 4) % 4;
      else if (mode == TSwAddress::Clamp) expect = std::clamp(t, 0, 3);
      else { int m = ((t % 8) + 8) % 8; expect = m < 4 ? m : 7 - m; }
      EXPECT_EQ(rig.Pixel(i, 0) & 0xFF, texels[expect]) << "mode " << int(mode) << " pixel " << i;
    }
  }
}

TEST(SwSampling, MipLevelsFollowTheFootprintBiasAndLimits) {
  const uint32_t level_colors[5] = {0xFF000000, 0xFF000040, 0xFF000080, 0xFF0000C0, 0xFF0000FF};
  TRig rig(8, 8);
  Ref<TSwTexture> tex;
  ASSERT_EQ(rig.Dev->CreateTexture(16, 16, 0, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, tex), TSwResult::Ok);
  ASSERT_EQ(tex->GetLevelCount(), 5u);
  for (uint32_t l = 0; l < 5; ++l) {
    TSwLockedRect lr;
    tex->LockRect(l, lr, nullptr, 0);
    uint32_t n = 16 >> l;
    for (uint32_t y = 0; y < n; ++y)
      for (uint32_t x = 0; x < n; ++x) static_cast<uint32_t*>(lr.Bits)[y * lr.Pitch / 4 + x] = level_colors[l];
    tex->UnlockRect(l);
  }
  rig.TextureStage(tex.get(), false, TSwFilter::Linear);
  auto draw4 = [&](TSwFilter mip, float bias, uint32_t max_level = 0, float size = 4) {
    rig.Dev->SetSamplerState(0, TSwSamplerState::MipFilter, uint32_t(mip));
    rig.Dev->SetSamplerState(0, TSwSamplerState::MipMapLodBias, std::bit_cast<uint32_t>(bias));
    rig.Dev->SetSamplerState(0, TSwSamplerState::MaxMipLevel, max_level);
    rig.Dev->BeginScene();
    rig.Quad(-0.5f, -0.5f, size - 0.5f, size - 0.5f, 0xFFFFFFFF);
    rig.Dev->EndScene();
    return rig.Pixel(1, 1) & 0xFF;
  };
  EXPECT_EQ(draw4(TSwFilter::Point, 0), 0x80u);          // 16 texels over 4 pixels: level 2
  EXPECT_EQ(draw4(TSwFilter::Point, 1), 0xC0u);          // bias one level coarser
  EXPECT_EQ(draw4(TSwFilter::None, 0), 0x00u);           // no mip filter: the base level
  EXPECT_NEAR(double(draw4(TSwFilter::Linear, 0.5f)), 0xA0, 1);  // halfway between levels 2 and 3
  EXPECT_EQ(draw4(TSwFilter::Point, 0, 0, 8), 0x40u);    // 8 pixels: level 1
  EXPECT_EQ(draw4(TSwFilter::Point, -1, 3, 8), 0xC0u);   // the largest allowed level is 3
  EXPECT_EQ(draw4(TSwFilter::Point, 10), 0xFFu);         // past the chain: the last level
}

TEST(SwSampling, VolumeLookupsAreTrilinearAndClampOnEveryAxis) {
  TRig rig;
  Ref<TSwVolumeTexture> vol;
  ASSERT_EQ(rig.Dev->CreateVolumeTexture(32, 32, 32, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, vol), TSwResult::Ok);
  TSwLockedBox lb;
  ASSERT_EQ(vol->LockBox(0, lb, nullptr, 0), TSwResult::Ok);
  for (int z = 0; z < 32; ++z)
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        static_cast<uint32_t*>(lb.Bits)[(z * lb.SlicePitch + y * lb.RowPitch) / 4 + x] =
            0xFF000000u | uint32_t(x * 8) << 16 | uint32_t(y * 8) << 8 | uint32_t(z * 8);
  vol->UnlockBox(0);
  const TSwVolumeTexture::TLevel& lv = vol->Level(0);
  TSwSamplerView s;
  s.Kind = TSwSamplerView::Volume;
  s.Format = TSwFormat::A8R8G8B8;
  s.Levels = 1;
  s.Level[0] = TSwLevelView{lv.Block->Data(), lv.RowPitch, 32, 32};
  s.Depth = 32;
  s.SlicePitch = lv.SlicePitch;
  s.AddressU = s.AddressV = s.AddressW = TSwAddress::Clamp;
  s.MagFilter = s.MinFilter = TSwFilter::Linear;
  // The lookup is linear in each coordinate: value = 8 * (32 u - 0.5) / 255, cut at the end texels.
  auto expect = [](float c) { return std::clamp(32.0f * c - 0.5f, 0.0f, 31.0f) * 8.0f / 255.0f; };
  for (float u : {0.0f, 0.2f, 0.51f, 0.73f, 1.0f})
    for (float w : {0.05f, 0.4f, 0.99f}) {
      TSwColorF c = SwSample3D(s, u, 0.3f, w);
      EXPECT_NEAR(c.r, expect(u), 1e-5f);
      EXPECT_NEAR(c.g, expect(0.3f), 1e-5f);
      EXPECT_NEAR(c.b, expect(w), 1e-5f);
    }
  // Point filtering takes the texel under the coordinate.
  s.MagFilter = TSwFilter::Point;
  EXPECT_NEAR(SwSample3D(s, 0.51f, 0.0f, 2.0f).r, 16 * 8 / 255.0f, 1e-6f);
  EXPECT_NEAR(SwSample3D(s, 0.51f, 0.0f, 2.0f).b, 31 * 8 / 255.0f, 1e-6f);
}

TEST(SwStages, SelectAndModulateOverTextureDiffuseAndCurrent) {
  TRig rig(4, 1);
  Ref<TSwTexture> tex = rig.Texture(1, 1, [](uint32_t, uint32_t) { return 0x80FF8040u; });
  rig.TextureStage(tex.get(), true, TSwFilter::Point);
  rig.Dev->BeginScene();
  rig.Quad(-0.5f, -0.5f, 0.5f, 0.5f, 0x80808080u);  // modulate: texture x diffuse
  rig.Dev->SetTextureStageState(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg2));
  rig.Dev->SetTextureStageState(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg1));
  rig.Quad(0.5f, -0.5f, 1.5f, 0.5f, 0x80102030u);  // colour of the diffuse, alpha of the texture
  // Stage 1 modulates the result of stage 0 (current) with its own texture.
  rig.Dev->SetTextureStageState(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg1));
  rig.Dev->SetTexture(1, tex.get());
  rig.Dev->SetTextureStageState(1, TSwStageState::ColorOp, uint32_t(TSwTextureOp::Modulate));
  rig.Dev->SetTextureStageState(1, TSwStageState::ColorArg2, uint32_t(TSwTextureArg::Current));
  rig.Dev->SetTextureStageState(1, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg2));
  rig.Dev->SetTextureStageState(1, TSwStageState::AlphaArg2, uint32_t(TSwTextureArg::Current));
  rig.Dev->SetTextureStageState(1, TSwStageState::TexCoordIndex, 0);
  rig.Quad(1.5f, -0.5f, 2.5f, 0.5f, 0xFFFFFFFFu);
  // Without a texture a stage passes its input (the diffuse colour) through.
  rig.Dev->SetTexture(0, nullptr);
  rig.Dev->SetTextureStageState(1, TSwStageState::ColorOp, uint32_t(TSwTextureOp::Disable));
  rig.Quad(2.5f, -0.5f, 3.5f, 0.5f, 0x80336699u);
  rig.Dev->EndScene();
  // X8 back buffer: alpha is stored as 255.
  EXPECT_EQ(rig.Pixel(0, 0), 0xFF804020u);
  EXPECT_EQ(rig.Pixel(1, 0), 0xFF102030u);
  EXPECT_EQ(rig.Pixel(2, 0), 0xFFFF4010u);
  EXPECT_EQ(rig.Pixel(3, 0), 0xFF336699u);
}

TEST(SwBlending, EveryEquationOnKnownValues) {
  const uint32_t src = 0x4080 << 16 | 0x20FF, dst = 0x8040C000u;
  auto ch = [](uint32_t c, int s) { return double((c >> s) & 255) / 255.0; };
  struct TCase {
    TSwBlend s, d;
    TSwBlendOp op;
    bool separate;
    TSwBlend sa, da;
  } cases[] = {
      {TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha, TSwBlendOp::Add, false, {}, {}},
      {TSwBlend::One, TSwBlend::InvSrcAlpha, TSwBlendOp::Add, false, {}, {}},
      {TSwBlend::One, TSwBlend::One, TSwBlendOp::Max, false, {}, {}},
      {TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha, TSwBlendOp::Add, true, TSwBlend::One, TSwBlend::InvSrcAlpha},
      {TSwBlend::DestAlpha, TSwBlend::InvDestAlpha, TSwBlendOp::Add, false, {}, {}},
      {TSwBlend::One, TSwBlend::One, TSwBlendOp::RevSubtract, false, {}, {}},
  };
  for (const TCase& c : cases) {
    TRig rig(2, 1);
    Ref<TSwTexture> rt;
    ASSERT_EQ(rig.Dev->CreateTexture(2, 1, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt),
              TSwResult::Ok);
    Ref<TSwSurface> rts;
    rt->GetSurfaceLevel(0, rts);
    rig.Dev->SetRenderTarget(0, rts.get());
    rig.Dev->Clear(0, nullptr, SwClearTarget, dst, 1, 0);
    rig.Dev->SetTexture(0, nullptr);
    rig.Blend(c.s, c.d, c.op);
    rig.Dev->SetRenderState(TSwRenderState::SeparateAlphaBlendEnable, c.separate);
    if (c.separate) {
      rig.Dev->SetRenderState(TSwRenderState::SrcBlendAlpha, uint32_t(c.sa));
      rig.Dev->SetRenderState(TSwRenderState::DestBlendAlpha, uint32_t(c.da));
    }
    rig.Dev->BeginScene();
    rig.Quad(-0.5f, -0.5f, 0.5f, 0.5f, src);
    rig.Dev->EndScene();
    uint32_t got = reinterpret_cast<uint32_t*>(rts->Row(0))[0];
    double sa = ch(src, 24), da = ch(dst, 24);
    auto factor = [&](TSwBlend f, double sv, double dv) {
      switch (f) {
        case TSwBlend::One: return 1.0;
        case TSwBlend::SrcAlpha: return sa;
        case TSwBlend::InvSrcAlpha: return 1 - sa;
        case TSwBlend::DestAlpha: return da;
        case TSwBlend::InvDestAlpha: return 1 - da;
        default: return sv * 0 + dv * 0;
      }
    };
    for (int shift : {0, 8, 16, 24}) {
      double s = ch(src, shift), d = ch(dst, shift);
      bool alpha = shift == 24;
      TSwBlend fs = alpha && c.separate ? c.sa : c.s, fd = alpha && c.separate ? c.da : c.d;
      double r;
      if (c.op == TSwBlendOp::Max) r = std::max(s, d);
      else if (c.op == TSwBlendOp::RevSubtract) r = d * factor(fd, s, d) - s * factor(fs, s, d);
      else r = s * factor(fs, s, d) + d * factor(fd, s, d);
      int expect = int(std::clamp(r, 0.0, 1.0) * 255 + 0.5);
      EXPECT_EQ(Chan(got, shift), expect) << "case " << int(&c - cases) << " channel " << shift;
    }
  }
  // On an X8 target the destination alpha reads as 1: DESTALPHA keeps all of the source.
  TRig x8(1, 1);
  x8.Dev->Clear(0, nullptr, SwClearTarget, 0x00000000u, 1, 0);
  x8.Dev->SetTexture(0, nullptr);
  x8.Blend(TSwBlend::DestAlpha, TSwBlend::InvDestAlpha);
  x8.Dev->BeginScene();
  x8.Quad(-0.5f, -0.5f, 0.5f, 0.5f, 0x10A0B0C0u);
  x8.Dev->EndScene();
  EXPECT_EQ(x8.Pixel(0, 0), 0xFFA0B0C0u);
  // Sampling an X8 texture reads alpha 255.
  Ref<TSwTexture> xt = x8.Texture(1, 1, [](uint32_t, uint32_t) { return 0x00123456u; }, TSwFormat::X8R8G8B8);
  x8.Dev->SetRenderState(TSwRenderState::AlphaBlendEnable, 0);
  x8.TextureStage(xt.get(), false, TSwFilter::Point);
  Ref<TSwTexture> rt;
  x8.Dev->CreateTexture(1, 1, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt);
  Ref<TSwSurface> rts;
  rt->GetSurfaceLevel(0, rts);
  x8.Dev->SetRenderTarget(0, rts.get());
  x8.Dev->BeginScene();
  x8.Quad(-0.5f, -0.5f, 0.5f, 0.5f, 0xFFFFFFFF);
  x8.Dev->EndScene();
  EXPECT_EQ(reinterpret_cast<uint32_t*>(rts->Row(0))[0], 0xFF123456u);
}

void CoordKernel(const TSwPixelContext& ctx, const TSwShaderInput& in, TSwColorF& out) {
  const float* c = ctx.Constant(3);
  out = TSwColorF{in.Diffuse.b, in.Tex[1][1], in.Tex[1][0], c[3]};
}

TEST(SwShaders, BlobsBindRegisteredKernelsWithConstantsAndSamplers) {
  std::string blob = SwPixelShaderBlob(kSwKernelTexTimesConstant);
  std::string name;
  EXPECT_EQ(SwParsePixelShaderBlob(blob.data(), blob.size(), name), TSwResult::Ok);
  EXPECT_EQ(name, kSwKernelTexTimesConstant);
  std::string bad = blob;
  bad[0] = 'X';
  EXPECT_EQ(SwParsePixelShaderBlob(bad.data(), bad.size(), name), TSwResult::InvalidCall);
  EXPECT_EQ(SwParsePixelShaderBlob(blob.data(), blob.size() - 1, name), TSwResult::InvalidCall);
  std::string longer = blob + "x";
  EXPECT_EQ(SwParsePixelShaderBlob(longer.data(), longer.size(), name), TSwResult::InvalidCall);
  std::string odd = SwPixelShaderBlob("a/b");
  EXPECT_EQ(SwParsePixelShaderBlob(odd.data(), odd.size(), name), TSwResult::InvalidCall);
  EXPECT_EQ(SwParsePixelShaderBlob(nullptr, 0, name), TSwResult::InvalidCall);

  TRig rig(3, 1);
  Ref<TSwPixelShader> unknown, ps, mine;
  std::string nothere = SwPixelShaderBlob("no_such_kernel");
  EXPECT_EQ(rig.Dev->CreatePixelShader(nothere.data(), nothere.size(), unknown), TSwResult::NotAvailable);
  ASSERT_EQ(rig.Dev->CreatePixelShader(blob.data(), blob.size(), ps), TSwResult::Ok);
  Ref<TSwTexture> tex = rig.Texture(1, 1, [](uint32_t, uint32_t) { return 0xFF80FF40u; });
  rig.TextureStage(tex.get(), false, TSwFilter::Point);
  const float c0[4] = {0.5f, 1.0f, 0.5f, 1.0f};
  rig.Dev->SetPixelShaderConstantF(0, c0, 1);
  rig.Dev->SetPixelShader(ps.get());
  rig.Dev->BeginScene();
  rig.Quad(-0.5f, -0.5f, 0.5f, 0.5f, 0xFFFFFFFF);
  // A kernel of the caller's own: inputs of the second coordinate set and constant 3.
  SwRegisterPixelKernel("test_coords", &CoordKernel);
  std::string mb = SwPixelShaderBlob("test_coords");
  ASSERT_EQ(rig.Dev->CreatePixelShader(mb.data(), mb.size(), mine), TSwResult::Ok);
  rig.Dev->SetPixelShader(mine.get());
  const float c3[4] = {0, 0, 0, 1};
  rig.Dev->SetPixelShaderConstantF(3, c3, 1);
  struct V { float x, y, z, rhw; uint32_t c; float t0[2], t1[2]; } q[4] = {
      {0.5f, -0.5f, 0, 1, 0xFF0000FF, {0, 0}, {0.25f, 0.75f}}, {1.5f, -0.5f, 0, 1, 0xFF0000FF, {0, 0}, {0.25f, 0.75f}},
      {0.5f, 0.5f, 0, 1, 0xFF0000FF, {0, 0}, {0.25f, 0.75f}}, {1.5f, 0.5f, 0, 1, 0xFF0000FF, {0, 0}, {0.25f, 0.75f}}};
  rig.Dev->SetFVF(SwFvfXYZRHW | SwFvfDiffuse | SwFvfTex(2));
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(V));
  rig.Dev->EndScene();
  EXPECT_EQ(rig.Pixel(0, 0), 0xFF40FF20u);
  EXPECT_EQ(rig.Pixel(1, 0), 0xFF40BFFFu);

  TSwConfig cfg;
  cfg.Shaders = TSwShaderProfile::Level0;
  TRig none(4, 4, cfg);
  EXPECT_EQ(none.Dev->CreatePixelShader(blob.data(), blob.size(), ps), TSwResult::NotAvailable);
}

TEST(SwShaders, ColorLookupKernelWithAnIdentityVolumeKeepsColours) {
  TRig rig(16, 16);
  Ref<TSwVolumeTexture> lut;
  ASSERT_EQ(rig.Dev->CreateVolumeTexture(32, 32, 32, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, lut), TSwResult::Ok);
  TSwLockedBox lb;
  lut->LockBox(0, lb, nullptr, 0);
  for (uint32_t z = 0; z < 32; ++z)
    for (uint32_t y = 0; y < 32; ++y)
      for (uint32_t x = 0; x < 32; ++x)
        static_cast<uint32_t*>(lb.Bits)[(z * uint32_t(lb.SlicePitch) + y * uint32_t(lb.RowPitch)) / 4 + x] =
            0xFF000000u | (x * 255 / 31) << 16 | (y * 255 / 31) << 8 | (z * 255 / 31);
  lut->UnlockBox(0);
  auto color = [](uint32_t x, uint32_t y) { return 0xFF000000u | (x * 16 + 3) << 16 | (y * 16 + 5) << 8 | ((x * y * 7) & 255); };
  Ref<TSwTexture> tex = rig.Texture(16, 16, color);
  rig.TextureStage(tex.get(), false, TSwFilter::Point);
  rig.Dev->SetTexture(1, lut.get());
  rig.Dev->SetSamplerState(1, TSwSamplerState::MagFilter, uint32_t(TSwFilter::Linear));
  for (auto a : {TSwSamplerState::AddressU, TSwSamplerState::AddressV, TSwSamplerState::AddressW})
    rig.Dev->SetSamplerState(1, a, uint32_t(TSwAddress::Clamp));
  std::string blob = SwPixelShaderBlob(kSwKernelColorLookup);
  Ref<TSwPixelShader> ps;
  ASSERT_EQ(rig.Dev->CreatePixelShader(blob.data(), blob.size(), ps), TSwResult::Ok);
  rig.Dev->SetPixelShader(ps.get());
  const float t[4] = {1, 0, 0, 0};
  rig.Dev->SetPixelShaderConstantF(0, t, 1);
  rig.Dev->BeginScene();
  rig.Quad(-0.5f, -0.5f, 15.5f, 15.5f, 0xFFFFFFFF);
  rig.Dev->EndScene();
  // The 32-step lookup reproduces each channel to within its rounding.
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 16; ++x)
      for (int s : {0, 8, 16}) ASSERT_NEAR(Chan(rig.Pixel(int(x), int(y)), s), Chan(color(x, y), s), 2) << x << "," << y;
}

}  // namespace
}  // namespace kav
