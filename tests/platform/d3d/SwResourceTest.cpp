// Resources, formats, budget, device loss and copies of the software device.
#include "SwTestRig.h"

#include <bit>
#include <cmath>

#include "platform/d3d/SwFormat.h"

namespace kav {
namespace {

using swtest::TRig;

TEST(SwFormat, ReadWriteRoundTripsAndWidensChannels) {
  uint8_t p[4];
  SwWriteArgb(TSwFormat::R5G6B5, p, 0xFFFF8000u);
  EXPECT_EQ(SwReadArgb(TSwFormat::R5G6B5, p), 0xFFFF8200u);  // 6-bit green 0x20 widens to 0x82
  SwWriteArgb(TSwFormat::A1R5G5B5, p, 0x7F00FF00u);
  EXPECT_EQ(SwReadArgb(TSwFormat::A1R5G5B5, p), 0x0000FF00u);  // alpha below half drops the bit
  SwWriteArgb(TSwFormat::X1R5G5B5, p, 0x00123456u);
  EXPECT_EQ(SwReadArgb(TSwFormat::X1R5G5B5, p) >> 24, 0xFFu);
  SwWriteArgb(TSwFormat::X8R8G8B8, p, 0x00123456u);
  EXPECT_EQ(SwReadArgb(TSwFormat::X8R8G8B8, p), 0xFF123456u);
  p[0] = 0x40;
  EXPECT_EQ(SwReadArgb(TSwFormat::L8, p), 0xFF404040u);
  EXPECT_EQ(SwReadArgb(TSwFormat::A8, p), 0x40000000u);
  EXPECT_EQ(SwFvfStride(SwFvfXYZ | SwFvfDiffuse | SwFvfSpecular | SwFvfNormal | SwFvfTex(8)), 12u + 12 + 8 + 64);
  EXPECT_EQ(SwFvfStride(SwFvfDiffuse), 0u);
  EXPECT_EQ(SwFvfStride(SwFvfXYZ | SwFvfTex(9)), 0u);
  EXPECT_EQ(SwFvfStride(SwFvfXYZ | 0x10000u), 0u);  // other coordinate sizes are refused
}

TEST(SwDirect3D, ReportsAdaptersCapsAndShaderProfiles) {
  TSwConfig cfg;
  cfg.Monitors = {TSwMonitor{{0, 0, 1920, 1080}, 60}, TSwMonitor{{1920, 0, 3200, 1024}, 75}};
  auto d3d = MakeRef<TSwDirect3D>(cfg);
  EXPECT_EQ(d3d->GetAdapterCount(), 2u);
  EXPECT_EQ(d3d->GetAdapterMonitorRect(1), (TSwRect{1920, 0, 3200, 1024}));
  TSwDisplayMode m;
  ASSERT_EQ(d3d->GetAdapterDisplayMode(1, m), TSwResult::Ok);
  EXPECT_EQ(m.Width, 1280u);
  EXPECT_EQ(m.RefreshRate, 75u);
  EXPECT_EQ(d3d->GetAdapterDisplayMode(2, m), TSwResult::InvalidCall);
  TSwCaps caps;
  ASSERT_EQ(d3d->GetDeviceCaps(0, caps), TSwResult::Ok);
  EXPECT_EQ(caps.PixelShaderVersion, 0xFFFF0200u);
  EXPECT_TRUE(caps.RasterCaps & SwRasterCapsAnisotropy);
  EXPECT_TRUE(caps.RasterCaps & SwRasterCapsMipMapLodBias);
  TSwAdapterIdentifier id;
  ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, id), TSwResult::Ok);
  EXPECT_NE(id.VendorId, 0x8086u);
  for (TSwFormat f : {TSwFormat::D24X8, TSwFormat::D16})
    EXPECT_EQ(d3d->CheckDeviceFormat(0, TSwFormat::X8R8G8B8, SwUsageDepthStencil, TSwResourceType::Surface, f),
              TSwResult::Ok);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, TSwFormat::X8R8G8B8, 0, TSwResourceType::Texture, TSwFormat::L8), TSwResult::Ok);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, TSwFormat::X8R8G8B8, SwUsageRenderTarget, TSwResourceType::Texture,
                                   TSwFormat::L8),
            TSwResult::NotAvailable);

  cfg.Shaders = TSwShaderProfile::Level1;  // Intel's vendor id with 2.0: level 1 for the callers
  auto l1 = MakeRef<TSwDirect3D>(cfg);
  l1->GetAdapterIdentifier(0, 0, id);
  l1->GetDeviceCaps(0, caps);
  EXPECT_EQ(id.VendorId, 0x8086u);
  EXPECT_EQ(caps.PixelShaderVersion, 0xFFFF0200u);
  cfg.Shaders = TSwShaderProfile::Level0;
  auto l0 = MakeRef<TSwDirect3D>(cfg);
  l0->GetDeviceCaps(0, caps);
  EXPECT_EQ(caps.PixelShaderVersion, 0u);
}

TEST(SwResources, TexturesSurfacesAndBuffersStartZeroedAndLockOnce) {
  TRig rig;
  Ref<TSwTexture> t;
  ASSERT_EQ(rig.Dev->CreateTexture(100, 20, 0, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, t), TSwResult::Ok);
  EXPECT_EQ(t->GetLevelCount(), 7u);  // 100x20 down to 1x1
  TSwSurfaceDesc d;
  ASSERT_EQ(t->GetLevelDesc(6, d), TSwResult::Ok);
  EXPECT_EQ(d.Width, 1u);
  Ref<TSwSurface> s1, s2;
  t->GetSurfaceLevel(2, s1);
  t->GetSurfaceLevel(2, s2);
  EXPECT_EQ(s1.get(), s2.get());
  EXPECT_EQ(t->GetSurfaceLevel(7, s1), TSwResult::InvalidCall);

  TSwLockedRect lr;
  TSwRect r{10, 5, 20, 10};
  ASSERT_EQ(t->LockRect(0, lr, &r, SwLockReadOnly | SwLockNoSysLock | SwLockNoDirtyUpdate), TSwResult::Ok);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 40; ++x) EXPECT_EQ(static_cast<uint8_t*>(lr.Bits)[y * lr.Pitch + x], 0);
  TSwLockedRect again;
  EXPECT_EQ(t->LockRect(0, again, nullptr, 0), TSwResult::InvalidCall);
  EXPECT_EQ(t->UnlockRect(0), TSwResult::Ok);
  EXPECT_EQ(t->UnlockRect(0), TSwResult::InvalidCall);
  TSwRect outside{90, 0, 101, 1};
  EXPECT_EQ(t->LockRect(0, lr, &outside, 0), TSwResult::InvalidCall);

  // Render targets: default pool, one level, 32-bit only, read through GetRenderTargetData.
  Ref<TSwTexture> rt;
  EXPECT_EQ(rig.Dev->CreateTexture(8, 8, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Managed, rt),
            TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->CreateTexture(8, 8, 1, SwUsageRenderTarget, TSwFormat::R5G6B5, TSwPool::Default, rt),
            TSwResult::NotAvailable);
  ASSERT_EQ(rig.Dev->CreateTexture(8, 8, 1, SwUsageRenderTarget, TSwFormat::X8R8G8B8, TSwPool::Default, rt),
            TSwResult::Ok);
  EXPECT_EQ(rt->LockRect(0, lr, nullptr, 0), TSwResult::InvalidCall);

  // A 32x32x32 volume locks as rows slice after slice: 32 wide, 1024 rows of one pitch.
  Ref<TSwVolumeTexture> vol;
  ASSERT_EQ(rig.Dev->CreateVolumeTexture(32, 32, 32, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, vol), TSwResult::Ok);
  TSwLockedBox lb;
  ASSERT_EQ(vol->LockBox(0, lb, nullptr, 0), TSwResult::Ok);
  EXPECT_EQ(lb.RowPitch, 128);
  EXPECT_EQ(lb.SlicePitch, 32 * 128);
  EXPECT_EQ(vol->UnlockBox(0), TSwResult::Ok);
  TSwBox bad{0, 0, 33, 1, 0, 1};
  EXPECT_EQ(vol->LockBox(0, lb, &bad, 0), TSwResult::InvalidCall);

  Ref<TSwVertexBuffer> vb;
  ASSERT_EQ(rig.Dev->CreateVertexBuffer(64, 0, 0x42, TSwPool::Managed, vb), TSwResult::Ok);
  void* data = nullptr;
  EXPECT_EQ(vb->Lock(60, 8, &data, 0), TSwResult::InvalidCall);
  ASSERT_EQ(vb->Lock(0, 0, &data, 0), TSwResult::Ok);
  EXPECT_EQ(static_cast<uint8_t*>(data)[63], 0);
  EXPECT_EQ(vb->Unlock(), TSwResult::Ok);
}

TEST(SwResources, BudgetRefusesDefaultAndManagedAllocationsAndReturnsBytes) {
  TSwConfig cfg;
  cfg.VideoMemoryBudget = 64 * 64 * 4 + 300 * 1024;  // the back buffer plus a little
  TRig rig(64, 64, cfg);
  TSwVideoMemory* mem = rig.D3D->VideoMemory(0);
  uint64_t base = mem->Used();
  Ref<TSwTexture> a, b, c;
  ASSERT_EQ(rig.Dev->CreateTexture(256, 256, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, a),
            TSwResult::Ok);
  EXPECT_EQ(mem->Used(), base + 256 * 256 * 4);
  EXPECT_EQ(rig.Dev->CreateTexture(256, 256, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, b),
            TSwResult::OutOfVideoMemory);
  EXPECT_EQ(rig.Dev->CreateTexture(256, 256, 0, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, b),
            TSwResult::OutOfVideoMemory);
  EXPECT_EQ(mem->Used(), base + 256 * 256 * 4);  // a failed chain gives back its levels
  // System memory does not count.
  Ref<TSwSurface> sys;
  EXPECT_EQ(rig.Dev->CreateOffscreenPlainSurface(512, 512, TSwFormat::A8R8G8B8, TSwPool::SystemMem, sys),
            TSwResult::Ok);
  a = nullptr;  // freeing the render target makes room again
  EXPECT_EQ(mem->Used(), base);
  EXPECT_EQ(rig.Dev->CreateTexture(256, 256, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, c),
            TSwResult::Ok);
}

TEST(SwDevice, LossReportsLostThenNotResetUntilResetWithDefaultPoolReleased) {
  TRig rig;
  Ref<TSwTexture> rt;
  ASSERT_EQ(rig.Dev->CreateTexture(16, 16, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt),
            TSwResult::Ok);
  Ref<TSwTexture> managed = rig.Texture(4, 4, [](uint32_t, uint32_t) { return 0xFF00FF00u; });
  EXPECT_EQ(rig.Dev->TestCooperativeLevel(), TSwResult::Ok);
  rig.D3D->InjectDeviceLoss();
  EXPECT_EQ(rig.Dev->TestCooperativeLevel(), TSwResult::DeviceLost);
  EXPECT_EQ(rig.Dev->Present(nullptr, nullptr, 0), TSwResult::DeviceLost);
  Ref<TSwTexture> t;
  EXPECT_EQ(rig.Dev->CreateTexture(4, 4, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, t), TSwResult::DeviceLost);
  TSwPresentParams pp;
  pp.BackBufferWidth = 32;
  pp.BackBufferHeight = 16;
  EXPECT_EQ(rig.Dev->Reset(pp), TSwResult::DeviceLost);
  // Drawing calls still succeed and do nothing.
  EXPECT_EQ(rig.Dev->Clear(0, nullptr, SwClearTarget, 0xFFFFFFFF, 1.0f, 0), TSwResult::Ok);
  EXPECT_EQ(rig.Pixel(0, 0), 0u);
  // A new device cannot be made while the loss lasts.
  Ref<TSwDevice> other;
  TSwPresentParams opp;
  opp.BackBufferWidth = opp.BackBufferHeight = 8;
  EXPECT_EQ(rig.D3D->CreateDevice(0, 9, 0, opp, other), TSwResult::DeviceLost);

  rig.D3D->EndDeviceLoss();
  EXPECT_EQ(rig.Dev->TestCooperativeLevel(), TSwResult::DeviceNotReset);
  EXPECT_EQ(rig.Dev->Reset(pp), TSwResult::InvalidCall);  // the render target is still alive
  rt = nullptr;
  ASSERT_EQ(rig.Dev->Reset(pp), TSwResult::Ok);  // managed textures survive
  EXPECT_EQ(rig.Dev->TestCooperativeLevel(), TSwResult::Ok);
  EXPECT_EQ(rig.Target()->Width(), 32u);
  EXPECT_EQ(managed->GetLevelCount(), 1u);
  // An exclusive full-screen chain takes the display mode's size only.
  TSwPresentParams fs;
  fs.Windowed = false;
  fs.BackBufferWidth = 800;
  fs.BackBufferHeight = 600;
  EXPECT_EQ(rig.Dev->Reset(fs), TSwResult::InvalidCall);
  fs.BackBufferWidth = fs.BackBufferHeight = 0;
  ASSERT_EQ(rig.Dev->Reset(fs), TSwResult::Ok);
  EXPECT_EQ(rig.Target()->Width(), 1920u);
  // A per-device loss works the same way.
  rig.Dev->InjectLoss();
  EXPECT_EQ(rig.Dev->TestCooperativeLevel(), TSwResult::DeviceLost);
  rig.Dev->EndLoss();
  EXPECT_EQ(rig.Dev->Reset(pp), TSwResult::Ok);
}

TEST(SwDevice, ClearsRectanglesInsideTheViewportOnly) {
  TRig rig(16, 16);
  ASSERT_EQ(rig.Dev->Clear(0, nullptr, SwClearTarget, 0xFF000080u, 1.0f, 0), TSwResult::Ok);
  TSwViewport vp{4, 4, 8, 8, 0, 1};
  ASSERT_EQ(rig.Dev->SetViewport(vp), TSwResult::Ok);
  TSwRect rects[2] = {{0, 0, 6, 6}, {10, 10, 16, 16}};
  ASSERT_EQ(rig.Dev->Clear(2, rects, SwClearTarget, 0x00FF0000u, 1.0f, 0), TSwResult::Ok);
  EXPECT_EQ(rig.Pixel(3, 3), 0xFF000080u);
  EXPECT_EQ(rig.Pixel(4, 4), 0xFFFF0000u);  // X8 target: alpha stored as 255
  EXPECT_EQ(rig.Pixel(5, 5), 0xFFFF0000u);
  EXPECT_EQ(rig.Pixel(6, 6), 0xFF000080u);
  EXPECT_EQ(rig.Pixel(11, 11), 0xFFFF0000u);
  EXPECT_EQ(rig.Pixel(12, 12), 0xFF000080u);
  EXPECT_EQ(rig.Dev->Clear(0, nullptr, SwClearTarget | SwClearZBuffer, 0, 1.0f, 0), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->Clear(1, nullptr, SwClearTarget, 0, 1.0f, 0), TSwResult::InvalidCall);
  TSwViewport too_big{10, 10, 8, 8, 0, 1};
  EXPECT_EQ(rig.Dev->SetViewport(too_big), TSwResult::InvalidCall);
}

TEST(SwDevice, RepeatedClearsRestoreEveryPixelWrittenSince) {
  // Whole clears to the same colour only refill what was written since:
  // draws, partial clears of other colours and copies must all be undone.
  TRig rig(32, 32);
  auto all_are = [&](uint32_t c) {
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        if (rig.Pixel(x, y) != c) return false;
    return true;
  };
  const TSwRect whole{-1, -1, 33, 33};  // the screen grown by a pixel, as callers clear it
  rig.Dev->Clear(1, &whole, SwClearTarget, 0xFF102030u, 1, 0);
  EXPECT_TRUE(all_are(0xFF102030u));
  rig.Dev->SetTexture(0, nullptr);
  rig.Dev->BeginScene();
  rig.Quad(3.5f, 4.5f, 9.5f, 7.5f, 0xFFFFFFFF);
  rig.Dev->EndScene();
  TSwRect part{20, 20, 30, 22};
  rig.Dev->Clear(1, &part, SwClearTarget, 0xFF00FF00u, 1, 0);
  Ref<TSwTexture> rt;
  rig.Dev->CreateTexture(4, 4, 1, SwUsageRenderTarget, TSwFormat::X8R8G8B8, TSwPool::Default, rt);
  Ref<TSwSurface> rts, bb;
  rt->GetSurfaceLevel(0, rts);
  rig.Dev->GetBackBuffer(0, 0, bb);
  TSwRect dst{0, 28, 4, 32};
  rig.Dev->StretchRect(rts.get(), nullptr, bb.get(), &dst, TSwFilter::None);
  EXPECT_FALSE(all_are(0xFF102030u));
  rig.Dev->Clear(0, nullptr, SwClearTarget, 0xFF102030u, 1, 0);
  EXPECT_TRUE(all_are(0xFF102030u));
  // A different colour refills everything.
  rig.Dev->Clear(0, nullptr, SwClearTarget, 0xFF000000u, 1, 0);
  EXPECT_TRUE(all_are(0xFF000000u));
}

TEST(SwDevice, ReadBackAndStretchRectCopyByNearestPixel) {
  TRig rig(8, 8);
  Ref<TSwSurface> bb;
  ASSERT_EQ(rig.Dev->GetBackBuffer(0, 0, bb), TSwResult::Ok);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) reinterpret_cast<uint32_t*>(bb->Row(y))[x] = 0xFF000000u | uint32_t(y * 16 + x);
  Ref<TSwSurface> sys, wrong;
  ASSERT_EQ(rig.Dev->CreateOffscreenPlainSurface(8, 8, TSwFormat::X8R8G8B8, TSwPool::SystemMem, sys), TSwResult::Ok);
  ASSERT_EQ(rig.Dev->GetRenderTargetData(bb.get(), sys.get()), TSwResult::Ok);
  TSwLockedRect lr;
  ASSERT_EQ(sys->LockRect(lr, nullptr, SwLockReadOnly), TSwResult::Ok);
  EXPECT_EQ(static_cast<uint32_t*>(lr.Bits)[3 * lr.Pitch / 4 + 5], 0xFF000035u);
  sys->UnlockRect();
  rig.Dev->CreateOffscreenPlainSurface(4, 4, TSwFormat::X8R8G8B8, TSwPool::SystemMem, wrong);
  EXPECT_EQ(rig.Dev->GetRenderTargetData(bb.get(), wrong.get()), TSwResult::InvalidCall);

  // 4x4 source block doubled into an 8x8 render target; then halved into a 16-bit copy.
  Ref<TSwTexture> rt;
  ASSERT_EQ(rig.Dev->CreateTexture(8, 8, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt),
            TSwResult::Ok);
  Ref<TSwSurface> rts;
  rt->GetSurfaceLevel(0, rts);
  TSwRect src{2, 2, 6, 6};
  ASSERT_EQ(rig.Dev->StretchRect(bb.get(), &src, rts.get(), nullptr, TSwFilter::None), TSwResult::Ok);
  auto at = [&](TSwSurface* s, int x, int y) { return reinterpret_cast<uint32_t*>(s->Row(y))[x]; };
  EXPECT_EQ(at(rts.get(), 0, 0), 0xFF000022u);
  EXPECT_EQ(at(rts.get(), 1, 1), 0xFF000022u);
  EXPECT_EQ(at(rts.get(), 2, 1), 0xFF000023u);
  EXPECT_EQ(at(rts.get(), 7, 7), 0xFF000055u);
  TSwRect dst{0, 0, 2, 2};
  ASSERT_EQ(rig.Dev->StretchRect(rts.get(), nullptr, bb.get(), &dst, TSwFilter::Point), TSwResult::Ok);
  EXPECT_EQ(at(bb.get(), 0, 0), at(rts.get(), 2, 2));
  EXPECT_EQ(at(bb.get(), 1, 1), at(rts.get(), 6, 6));
  // The destination must be a render target; rectangles must lie inside.
  EXPECT_EQ(rig.Dev->StretchRect(rts.get(), nullptr, sys.get(), nullptr, TSwFilter::None), TSwResult::InvalidCall);
  TSwRect outside{4, 4, 9, 9};
  EXPECT_EQ(rig.Dev->StretchRect(bb.get(), &outside, rts.get(), nullptr, TSwFilter::None), TSwResult::InvalidCall);
}

TEST(SwDevice, StateCallsRefuseValuesOutsideTheirRanges) {
  TRig rig;
  EXPECT_EQ(rig.Dev->SetRenderState(TSwRenderState::SrcBlend, 0), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->SetRenderState(TSwRenderState::BlendOp, 6), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->SetTextureStageState(8, TSwStageState::ColorOp, 2), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->SetTextureStageState(0, TSwStageState::ColorArg1, 3), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->SetSamplerState(0, TSwSamplerState::MipMapLodBias, std::bit_cast<uint32_t>(std::nanf(""))),
            TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->SetRenderTarget(0, nullptr), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->SetFVF(SwFvfDiffuse), TSwResult::InvalidCall);
  float c[4] = {1, 2, 3, 4};
  EXPECT_EQ(rig.Dev->SetPixelShaderConstantF(31, c, 2), TSwResult::InvalidCall);
  // Drawing needs a scene.
  rig.Dev->SetFVF(swtest::kTTVFvf);
  swtest::TTV v[3] = {};
  EXPECT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, v, sizeof(v[0])), TSwResult::InvalidCall);
  ASSERT_EQ(rig.Dev->BeginScene(), TSwResult::Ok);
  EXPECT_EQ(rig.Dev->BeginScene(), TSwResult::InvalidCall);
  EXPECT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, v, sizeof(v[0])), TSwResult::Ok);
  Ref<TSwVertexBuffer> vb;
  rig.Dev->CreateVertexBuffer(3 * sizeof(v[0]), 0, swtest::kTTVFvf, TSwPool::Managed, vb);
  rig.Dev->SetStreamSource(0, vb.get(), 0, sizeof(v[0]));
  EXPECT_EQ(rig.Dev->DrawPrimitive(TSwPrimitive::TriangleList, 0, 1), TSwResult::Ok);
  EXPECT_EQ(rig.Dev->DrawPrimitive(TSwPrimitive::TriangleList, 1, 1), TSwResult::InvalidCall);  // past the end
  EXPECT_EQ(rig.Dev->EndScene(), TSwResult::Ok);
}

}  // namespace
}  // namespace kav
