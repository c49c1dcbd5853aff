// The fast paths against the reference path: the same pixels for the same
// draws, on one thread and on many.
#include "SwTestRig.h"

#include <bit>
#include <random>

#include "platform/d3d/raster/SwFastQuad.h"

namespace kav {
namespace {

using swtest::MaxChannelDiff;
using swtest::TRig;

struct TCase {
  uint32_t tw, th;
  TSwFormat tex_format;
  bool mip;
  TSwFilter filter;
  TSwAddress address;
  float x0, y0, x1, y1;  // rectangle on the 96x64 target
  float u0, v0, u1, v1;
  uint32_t color;
  int stage;  // 0 select texture, 1 modulate, 2 colour of texture with diffuse alpha, 3 no texture
  int blend;  // 0 none, 1 srcalpha/invsrcalpha, 2 one/invsrcalpha, 3 max, 4 separate alpha
  bool a8_target;
  bool viewport;
};

std::vector<uint32_t> Render(const TCase& c, bool fast, int threads) {
  TRig rig(96, 64);
  rig.Dev->SetFastPaths(fast);
  rig.Dev->SetRasterThreads(threads);
  Ref<TSwTexture> rt;
  Ref<TSwSurface> rts;
  if (c.a8_target) {
    rig.Dev->CreateTexture(96, 64, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt);
    rt->GetSurfaceLevel(0, rts);
    rig.Dev->SetRenderTarget(0, rts.get());
  }
  // A background with varying colour and alpha to blend onto.
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 96; ++x)
      reinterpret_cast<uint32_t*>(rig.Target()->Row(y))[x] = uint32_t(x * 2654435761u ^ y * 40503u) | 0x20000000u;
  std::mt19937 rng(c.tw * 31 + c.th);
  Ref<TSwTexture> tex;
  rig.Dev->CreateTexture(c.tw, c.th, c.mip ? 0 : 1, 0, c.tex_format, TSwPool::Managed, tex);
  for (uint32_t l = 0; l < tex->GetLevelCount(); ++l) {
    TSwLockedRect lr;
    tex->LockRect(l, lr, nullptr, 0);
    TSwSurfaceDesc d;
    tex->GetLevelDesc(l, d);
    for (uint32_t y = 0; y < d.Height; ++y)
      for (uint32_t x = 0; x < d.Width; ++x) static_cast<uint32_t*>(lr.Bits)[y * uint32_t(lr.Pitch) / 4 + x] = uint32_t(rng());
    tex->UnlockRect(l);
  }
  if (c.stage == 3) {
    rig.Dev->SetTexture(0, nullptr);
  } else {
    rig.TextureStage(tex.get(), c.stage == 1, c.filter, c.address);
    if (c.stage == 2) {
      rig.Dev->SetTextureStageState(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg2));
    }
    rig.Dev->SetSamplerState(0, TSwSamplerState::MipFilter, uint32_t(c.mip ? TSwFilter::Point : TSwFilter::None));
  }
  switch (c.blend) {
    case 1: rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha); break;
    case 2: rig.Blend(TSwBlend::One, TSwBlend::InvSrcAlpha); break;
    case 3: rig.Blend(TSwBlend::One, TSwBlend::One, TSwBlendOp::Max); break;
    case 4:
      rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
      rig.Dev->SetRenderState(TSwRenderState::SeparateAlphaBlendEnable, 1);
      rig.Dev->SetRenderState(TSwRenderState::SrcBlendAlpha, uint32_t(TSwBlend::One));
      rig.Dev->SetRenderState(TSwRenderState::DestBlendAlpha, uint32_t(TSwBlend::InvSrcAlpha));
      break;
    default: break;
  }
  if (c.viewport) rig.Dev->SetViewport(TSwViewport{5, 3, 70, 50, 0, 1});
  rig.Dev->BeginScene();
  rig.Quad(c.x0, c.y0, c.x1, c.y1, c.color, c.u0, c.v0, c.u1, c.v1);
  rig.Dev->EndScene();
  return rig.Snapshot();
}

TEST(SwFastPaths, RectanglesGiveTheReferencePixels) {
  const TCase cases[] = {
      // 1:1 copies (exact texel centres), with and without blending, X8 and A8 sources.
      {96, 64, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -0.5f, -0.5f, 95.5f, 63.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 0, true, false},
      {96, 64, TSwFormat::X8R8G8B8, false, TSwFilter::Point, TSwAddress::Clamp, -0.5f, -0.5f, 95.5f, 63.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 0, false, false},
      {64, 32, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, 9.5f, 7.5f, 73.5f, 39.5f, 0, 0, 1, 1, 0xC0FFFFFF, 1, 1, true, false},
      // Scaled up and down, bilinear, blended, modulated.
      {40, 30, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, 3.3f, 2.7f, 90.1f, 61.2f, 0, 0, 1, 1, 0xB08040FF, 1, 1, false, false},
      {200, 150, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -10.f, -5.f, 80.f, 70.f, 0.1f, 0.05f, 0.9f, 1.0f, 0xFFFFFFFF, 0, 2, true, false},
      {33, 17, TSwFormat::X8R8G8B8, false, TSwFilter::Linear, TSwAddress::Wrap, 0, 0, 96, 64, -1.3f, -0.7f, 2.1f, 1.6f, 0x80FFFFFF, 2, 1, true, true},
      {33, 17, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Mirror, 0, 0, 96, 64, -1.3f, -0.7f, 2.1f, 1.6f, 0xFF20C080, 1, 3, false, false},
      {50, 50, TSwFormat::A8R8G8B8, false, TSwFilter::Point, TSwAddress::Wrap, 1.25f, 0.5f, 77.75f, 60.f, 0.3f, 0.2f, -0.6f, 2.2f, 0x7FFFFFFF, 1, 4, true, false},
      // A mip chain with a point mip filter, minified.
      {256, 128, TSwFormat::A8R8G8B8, true, TSwFilter::Linear, TSwAddress::Clamp, 0, 0, 96, 64, 0, 0, 1, 1, 0xFFFFFFFF, 0, 1, true, false},
      // Solid fills, plain and blended.
      {4, 4, TSwFormat::A8R8G8B8, false, TSwFilter::Point, TSwAddress::Clamp, 2.5f, 3.5f, 50.2f, 33.3f, 0, 0, 1, 1, 0xFF336699, 3, 0, true, false},
      {4, 4, TSwFormat::A8R8G8B8, false, TSwFilter::Point, TSwAddress::Clamp, -3.f, -2.f, 99.f, 70.f, 0, 0, 1, 1, 0x90336699, 3, 1, false, true},
  };
  for (const TCase& c : cases) {
    size_t index = size_t(&c - cases);
    uint64_t before = SwRasterStats().FastQuads.load();
    std::vector<uint32_t> fast = Render(c, true, 0);
    EXPECT_EQ(SwRasterStats().FastQuads.load(), before + 1) << "case " << index << " missed the fast path";
    std::vector<uint32_t> ref = Render(c, false, 1);
    EXPECT_EQ(MaxChannelDiff(fast, ref), 0) << "case " << index;
    std::vector<uint32_t> one = Render(c, true, 1);
    EXPECT_EQ(MaxChannelDiff(fast, one), 0) << "case " << index << " threads";
  }
}

}  // namespace
}  // namespace kav
