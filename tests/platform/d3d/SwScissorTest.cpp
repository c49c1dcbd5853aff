// The scissor rectangle: draws and clears cut to it, the pixels inside it
// exactly those of the uncut draw, its checks and its reset with the target.
#include "SwTestRig.h"

#include <random>

namespace kav {
namespace {

using swtest::TRig;
using swtest::TTV;

uint32_t Ramp(uint32_t x, uint32_t y) { return 0xFF000000u | (x * 7 + y * 13) % 256 << 16 | (x * 31 % 256) << 8 | (y * 17 % 256); }
uint32_t HalfAlpha(uint32_t x, uint32_t y) { return 0x80000000u | (x * 5 % 128) << 16 | (y * 3 % 128) << 8 | 40u; }

constexpr uint32_t kW = 96, kH = 72, kBack = 0xFF102030u;

// A scene of every draw path: a 1:1 picture (rectangle path, point
// sampled), a scaled and blended one (filtered), and turned triangles
// (span path), over a cleared background.
void DrawScene(TRig& rig, TSwTexture* ramp, TSwTexture* half) {
  rig.Dev->BeginScene();
  rig.Dev->Clear(0, nullptr, SwClearTarget, kBack, 0, 0);
  rig.TextureStage(ramp, false, TSwFilter::Point);
  rig.Quad(-0.5f, -0.5f, 63.5f, 47.5f, 0xFFFFFFFF, 0, 0, 1, 1);
  rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
  rig.TextureStage(half, true, TSwFilter::Linear);
  rig.Quad(10.3f, 5.7f, 90.1f, 70.2f, 0xFFC0E0FF, 0.1f, 0.05f, 0.9f, 0.95f);
  TTV tri[3] = {{3.2f, 60.1f, 0, 1, 0xFFFFFFFF, 0, 1}, {80.7f, 2.4f, 0, 1, 0xFFFFFFFF, 1, 0},
                {94.9f, 69.3f, 0, 1, 0xC0FFFFFF, 1, 1}};
  rig.Dev->SetFVF(swtest::kTTVFvf);
  ASSERT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, tri, sizeof(TTV)), TSwResult::Ok);
  rig.Dev->SetRenderState(TSwRenderState::AlphaBlendEnable, 0);
  rig.Dev->EndScene();
}

TEST(SwScissor, DrawsAndClearsAreCutToTheRectangleWithTheSamePixelsInside) {
  for (int32_t threads : {1, 4})
    for (bool fast : {false, true}) {
      TRig whole(kW, kH), cut(kW, kH);
      for (TRig* r : {&whole, &cut}) {
        r->Dev->SetRasterThreads(threads);
        r->Dev->SetFastPaths(fast);
      }
      Ref<TSwTexture> ramp = whole.Texture(64, 48, Ramp), half = whole.Texture(32, 32, HalfAlpha);
      Ref<TSwTexture> ramp2 = cut.Texture(64, 48, Ramp), half2 = cut.Texture(32, 32, HalfAlpha);
      DrawScene(whole, ramp.get(), half.get());
      // The cut rig starts from a picture the scene never draws.
      cut.Dev->BeginScene();
      cut.Dev->Clear(0, nullptr, SwClearTarget, 0xFF00FF00u, 0, 0);
      cut.Dev->EndScene();
      const TSwRect s{17, 9, 71, 50};
      ASSERT_EQ(cut.Dev->SetScissorRect(s), TSwResult::Ok);
      ASSERT_EQ(cut.Dev->SetRenderState(TSwRenderState::ScissorTestEnable, 1), TSwResult::Ok);
      DrawScene(cut, ramp2.get(), half2.get());
      for (int32_t y = 0; y < int32_t(kH); ++y)
        for (int32_t x = 0; x < int32_t(kW); ++x) {
          const bool inside = x >= s.left && x < s.right && y >= s.top && y < s.bottom;
          ASSERT_EQ(cut.Pixel(x, y), inside ? whole.Pixel(x, y) : 0xFF00FF00u)
              << x << "," << y << " threads=" << threads << " fast=" << fast;
        }
      // Off again: the whole target is drawn.
      cut.Dev->SetRenderState(TSwRenderState::ScissorTestEnable, 0);
      DrawScene(cut, ramp2.get(), half2.get());
      ASSERT_EQ(cut.Snapshot(), whole.Snapshot());
    }
}

TEST(SwScissor, RectangleMustLieInTheTargetAndFollowsIt) {
  TRig rig(40, 30);
  TSwRect r;
  ASSERT_EQ(rig.Dev->GetScissorRect(r), TSwResult::Ok);
  EXPECT_EQ(r, (TSwRect{0, 0, 40, 30}));
  EXPECT_EQ(rig.Dev->SetScissorRect(TSwRect{-1, 0, 10, 10}), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->SetScissorRect(TSwRect{0, 0, 41, 10}), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->SetScissorRect(TSwRect{5, 5, 4, 10}), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->SetRenderState(TSwRenderState::ScissorTestEnable, 2), TSwResult::InvalidCall);
  ASSERT_EQ(rig.Dev->SetScissorRect(TSwRect{5, 6, 5, 6}), TSwResult::Ok);  // empty: nothing drawn
  rig.Dev->SetRenderState(TSwRenderState::ScissorTestEnable, 1);
  rig.Dev->BeginScene();
  rig.Dev->Clear(0, nullptr, SwClearTarget, 0xFFFFFFFFu, 0, 0);
  rig.Dev->EndScene();
  for (uint32_t p : rig.Snapshot()) ASSERT_EQ(p, 0u);
  // Setting the target puts the rectangle back on the whole target.
  Ref<TSwTexture> rt;
  ASSERT_EQ(rig.Dev->CreateTexture(16, 8, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt),
            TSwResult::Ok);
  ASSERT_EQ(rig.Dev->SetRenderTarget(0, rt->Level(0)), TSwResult::Ok);
  ASSERT_EQ(rig.Dev->GetScissorRect(r), TSwResult::Ok);
  EXPECT_EQ(r, (TSwRect{0, 0, 16, 8}));
  EXPECT_EQ(rig.Dev->GetRenderState(TSwRenderState::ScissorTestEnable), 1u);
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// The blends an opaque picture is drawn over with (source over in
// premultiplied or separate alpha, and max) keep an opaque destination
// opaque on every path: the drawers rely on it to leave out what an opaque
// slide hides.
TEST(SwOpaqueDestination, StaysOpaqueUnderEveryBlendAndPath) {
  std::mt19937 rng(7);
  for (int blend = 0; blend < 3; ++blend)
    for (bool fast : {false, true})
      for (TSwFilter filter : {TSwFilter::Point, TSwFilter::Linear}) {
        TRig rig(96, 64);
        rig.Dev->SetFastPaths(fast);
        Ref<TSwTexture> rt;
        Ref<TSwSurface> rts;
        ASSERT_EQ(rig.Dev->CreateTexture(96, 64, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt),
                  TSwResult::Ok);
        rt->GetSurfaceLevel(0, rts);
        rig.Dev->SetRenderTarget(0, rts.get());
        for (int32_t y = 0; y < 64; ++y)
          for (int32_t x = 0; x < 96; ++x) reinterpret_cast<uint32_t*>(rig.Target()->Row(y))[x] = rng() | 0xFF000000u;
        // Premultiplied texels of every alpha.
        Ref<TSwTexture> tex = rig.Texture(40, 30, [&](uint32_t, uint32_t) {
          const uint32_t a = rng() & 255, c = a ? rng() % (a + 1) : 0;
          return a << 24 | c << 16 | (c / 2) << 8 | c / 3;
        });
        rig.TextureStage(tex.get(), true, filter);
        if (blend == 0) {
          rig.Blend(TSwBlend::One, TSwBlend::InvSrcAlpha);
        } else if (blend == 1) {
          rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
          rig.Dev->SetRenderState(TSwRenderState::SeparateAlphaBlendEnable, 1);
          rig.Dev->SetRenderState(TSwRenderState::SrcBlendAlpha, uint32_t(TSwBlend::One));
          rig.Dev->SetRenderState(TSwRenderState::DestBlendAlpha, uint32_t(TSwBlend::InvSrcAlpha));
        } else {
          rig.Blend(TSwBlend::One, TSwBlend::One, TSwBlendOp::Max);
        }
        rig.Dev->BeginScene();
        rig.Quad(-0.5f, -0.5f, 39.5f, 29.5f, 0xFFFFFFFF);                 // 1:1
        rig.Quad(30.2f, 10.7f, 95.3f, 63.1f, 0xC8FFE0D0, 0.05f, 0, 1, 0.9f);  // scaled, faded
        TTV tri[3] = {{2.3f, 60.4f, 0, 1, 0x80FFFFFF, 0, 1}, {90.2f, 3.1f, 0, 1, 0xFFFFFFFF, 1, 0},
                      {70.9f, 62.2f, 0, 1, 0x40FFFFFF, 1, 1}};
        rig.Dev->SetFVF(swtest::kTTVFvf);
        ASSERT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, tri, sizeof(TTV)), TSwResult::Ok);
        rig.Dev->EndScene();
        for (int32_t y = 0; y < 64; ++y)
          for (int32_t x = 0; x < 96; ++x)
            ASSERT_EQ(rig.Pixel(x, y) >> 24, 255u)
                << x << "," << y << " blend " << blend << " fast " << fast << " filter " << int(filter);
      }
}

}  // namespace
}  // namespace kav
