// The engine, the renderer and the device store on the software device.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Dx3DRig.h"

namespace kav {
namespace {

using dxtest::TDxRig;

struct TReleaseCounter : TRefObject {
  int Count = 0;
  void OnRelease(TRefObject*) { ++Count; }
  T3DReleaseEvent Event() { return T3DReleaseEvent::Bind<&TReleaseCounter::OnRelease>(this); }
};

TEST(Engine9, AdapterForRectTakesLargestOverlapFirstOfEquals) {
  TSwConfig cfg;
  cfg.Monitors.resize(2);
  cfg.Monitors[0].Bounds = TSwRect{0, 0, 100, 100};
  cfg.Monitors[1].Bounds = TSwRect{100, 0, 200, 100};
  TDxRig rig(64, 48, cfg);
  T3DEngine* e = Engine3D();
  EXPECT_EQ(e->AdapterForRect(TRect{50, 0, 150, 100}), 0u);
  EXPECT_EQ(e->AdapterForRect(TRect{60, 0, 160, 100}), 1u);
  EXPECT_EQ(e->AdapterForRect(TRect{500, 500, 600, 600}), 0u);
}

TEST(Engine9, CapsAndShaderLevels) {
  for (auto [profile, level] : {std::pair{TSwShaderProfile::Level0, 0}, std::pair{TSwShaderProfile::Level1, 1},
                                std::pair{TSwShaderProfile::Level2, 2}}) {
    TSwConfig cfg;
    cfg.Shaders = profile;
    TDxRig rig(64, 48, cfg);
    T3DEngine* e = Engine3D();
    EXPECT_EQ(e->ShaderLevel(0), level);
    EXPECT_EQ(e->GetCapValue("MAXTEXWIDTH", 0), e->GetCapValue("maxtexwidth", 0));
    EXPECT_EQ(e->GetCapValue("MaxTexWidth", 0), kSwMaxTextureSize);
    EXPECT_EQ(e->GetCapValue("nothing", 0), 0u);
    EXPECT_EQ(e->GetCapValue("Vendor", 0), profile == TSwShaderProfile::Level1 ? 0x8086u : kSwVendorId);
    EXPECT_FALSE(e->GetCapText("vendor", 0).empty());
    EXPECT_TRUE(e->GetCapText("driver", 0).empty());
  }
}

TEST(Renderer9, PacingPeriods) {
  double slot = 0;
  EXPECT_EQ(PresentSleepMs(60, 100, slot), 0u);  // the first frame goes at once
  EXPECT_EQ(slot, 100.0);
  EXPECT_EQ(PresentSleepMs(60, 105, slot), 11u);  // its place: 116.67 (whole ms, not late)
  EXPECT_NEAR(slot, 116.667, 0.001);
  // Frames drawn quickly keep to the 60 Hz grid: 60 frames a second, not more.
  for (int i = 0; i < 59; ++i) PresentSleepMs(60, int64_t(slot) + 1, slot);
  EXPECT_NEAR(slot, 1100.0, 0.01);
  // A frame drawn at once after a sleep that ended a fraction of a
  // millisecond before its place keeps to the grid too.
  slot = 116.667;
  EXPECT_EQ(PresentSleepMs(60, 116, slot), 17u);
  EXPECT_NEAR(slot, 133.333, 0.001);
  // A late frame goes at once and the grid starts again from it.
  slot = 100;
  EXPECT_EQ(PresentSleepMs(60, 130, slot), 0u);
  EXPECT_EQ(slot, 130.0);
  EXPECT_EQ(PresentSleepMs(75, 130, slot), 13u);  // period 13.33
  EXPECT_EQ(PresentSleepMs(0, 150, slot), 10u);   // 0 Hz paces as 60 Hz: 143.33 + 16.67
  EXPECT_EQ(PresentSleepMs(2000, 170, slot), 0u);
  // A clock that went back does not hold a frame for longer than a period.
  slot = 5000;
  EXPECT_EQ(PresentSleepMs(60, 100, slot), 0u);
  EXPECT_EQ(slot, 100.0);
}

TEST(Renderer9, ClearsAndPresentsIntoTheWindow) {
  TDxRig rig(64, 48);
  Ref<T3DRenderer> r = rig.NewRenderer();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->State(), k3DStateUsable);
  ASSERT_TRUE(r->BeginScene());
  EXPECT_TRUE(r->Clear(1, 0xFF203040, 1.0f, 0, nullptr));
  TRect part{10, 10, 20, 20};
  EXPECT_TRUE(r->Clear(3, 0xFFFF0000, 1.0f, 1, &part));  // the depth flag is ignored
  EXPECT_TRUE(r->EndScene());
  TRect whole{0, 0, 64, 48};
  EXPECT_TRUE(r->Present(&whole, 1, &whole));
  EXPECT_EQ(rig.Pixel(0, 0), 0xFF203040u);
  EXPECT_EQ(rig.Pixel(15, 15), 0xFFFF0000u);
  EXPECT_EQ(rig.Pixel(20, 20), 0xFF203040u);
  // A second frame at once waits for its place on the refresh grid (the
  // first may have waited for its own: the grid is left by earlier frames).
  TDxRig::Sleeps.clear();
  EXPECT_TRUE(r->Present(&whole, 1, &whole));
  ASSERT_EQ(TDxRig::Sleeps.size(), 1u);
  EXPECT_GE(TDxRig::Sleeps[0], 16u);
  EXPECT_LE(TDxRig::Sleeps[0], 17u);
}

TEST(Renderer9, PendingRendererCompletedOnTheGuiThread) {
  TDxRig rig;
  int repaints = 0;
  struct TRepaint : TRefObject {
    int* n;
    void On(TRefObject*) { ++*n; }
  };
  auto rp = MakeRef<TRepaint>();
  rp->n = &repaints;
  rig.Device->OnRepaint = T3DNotifyEvent::Bind<&TRepaint::On>(rp.get());
  Engine3D();
  TDxRig::RunGui();
  TDxRig::OffGui = true;
  Ref<T3DRenderer> r = rig.NewRenderer();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->State(), k3DStatePending);
  EXPECT_EQ(rig.Device->FindObject<TDevStore>(), nullptr);
  TDxRig::RunGui();
  EXPECT_EQ(r->State(), k3DStateUsable);
  EXPECT_NE(rig.Device->FindObject<TDevStore>(), nullptr);
  EXPECT_EQ(repaints, 1);

  // A renderer dropped before its request runs is never created.
  Ref<T3DRenderer> r2 = rig.NewRenderer();
  r2 = nullptr;
  TDxRig::RunGui();
  EXPECT_EQ(rig.Device->FindObject<TDevStore>()->Renderers.size(), 1u);
}

TEST(Renderer9, FailedCreationKeepsAPendingRendererAlive) {
  TDxRig rig;
  Engine3D();
  TDxRig::RunGui();
  rig.D3D->InjectDeviceLoss();
  // Direct: no renderer.
  EXPECT_FALSE(rig.NewRenderer());
  // Pending: the holder keeps a lost renderer and is told.
  TDxRig::OffGui = true;
  Ref<T3DRenderer> r = rig.NewRenderer();
  auto counter = MakeRef<TReleaseCounter>();
  r->OnRelease = counter->Event();
  TDxRig::RunGui();
  EXPECT_EQ(counter->Count, 1);
  EXPECT_EQ(r->State(), k3DStateLost);
  EXPECT_FALSE(r->BeginScene());  // no store: answers false, touches nothing
  rig.D3D->EndDeviceLoss();
}

// Lists and strips longer than the device takes in one call are drawn in
// parts: the triangles at their far ends still reach the window.
TEST(Renderer9, LongListsAndStripsDrawToTheirEnd) {
  TDxRig rig(64, 48);
  Ref<T3DRenderer> r = rig.NewRenderer();
  ASSERT_TRUE(r);
  auto at = [](float x, float y, uint32_t c) {
    T3DVertex v;
    v.X = x;
    v.Y = y;
    v.Z = 0.5f;
    v.Diffuse = c;
    return v;
  };
  // A list of 70,000 triangles, all but the last two empty: the left half red.
  constexpr uint32_t kTris = 70000;
  std::vector<T3DVertex> list(size_t(kTris) * 3, at(0, 0, 0xFFFF0000));
  const T3DVertex l[6] = {at(-1, 1, 0xFFFF0000), at(0, 1, 0xFFFF0000), at(-1, -1, 0xFFFF0000),
                          at(0, 1, 0xFFFF0000),  at(0, -1, 0xFFFF0000), at(-1, -1, 0xFFFF0000)};
  std::copy(l, l + 6, list.end() - 6);
  // A strip of 70,000 triangles ending in the right half, blue.
  std::vector<T3DVertex> strip(size_t(kTris) + 2, at(0, 1, 0xFF0000FF));
  const T3DVertex q[4] = {at(0, 1, 0xFF0000FF), at(1, 1, 0xFF0000FF), at(0, -1, 0xFF0000FF), at(1, -1, 0xFF0000FF)};
  std::copy(q, q + 4, strip.end() - 4);
  Ref<T3DVertexList> lv = r->CreateVertexList(uint32_t(list.size()), k3DVertexDiffuse, 1);
  Ref<T3DVertexList> sv = r->CreateVertexList(uint32_t(strip.size()), k3DVertexDiffuse, 1);
  ASSERT_TRUE(lv && sv);
  ASSERT_TRUE(lv->Write(list.data(), 0, uint32_t(list.size())) && lv->SetLayout(k3DTriangleList, 0, kTris));
  ASSERT_TRUE(sv->Write(strip.data(), 0, uint32_t(strip.size())) && sv->SetLayout(k3DTriangleStrip, 0, kTris));
  ASSERT_TRUE(r->BeginScene());
  EXPECT_TRUE(r->Clear(1, 0xFF000000, 1.0f, 0, nullptr));
  EXPECT_TRUE(r->DrawTextured(lv.get(), nullptr, 0, k3DDrawModulateColor | k3DDrawModulateAlpha));
  EXPECT_TRUE(r->DrawTextured(sv.get(), nullptr, 0, k3DDrawModulateColor | k3DDrawModulateAlpha));
  EXPECT_TRUE(r->EndScene());
  TRect whole{0, 0, 64, 48};
  EXPECT_TRUE(r->Present(&whole, 1, &whole));
  EXPECT_EQ(rig.Pixel(10, 24), 0xFFFF0000u);
  EXPECT_EQ(rig.Pixel(50, 24), 0xFF0000FFu);
}

TEST(DevStore, TeardownReachesEveryWrapperOnce) {
  TDxRig rig;
  Ref<T3DRenderer> r = rig.NewRenderer();
  ASSERT_TRUE(r);
  auto counter = MakeRef<TReleaseCounter>();
  Ref<T3DTexture> t1 = r->CreateTexture(k3DTexColorAlpha, 32, 32, false);
  Ref<T3DTexture> t2 = r->CreateTexture(k3DTexTargetAlpha, 64, 64, false);
  Ref<T3DShader> sh = r->CreateShader(SwPixelShaderBlob(kSwKernelTexTimesConstant), 0);
  Ref<T3DVertexList> vl = r->CreateVertexList(6, k3DVertexDiffuse, 1);
  ASSERT_TRUE(t1 && t2 && sh && vl);
  t1->OnRelease = t2->OnRelease = sh->OnRelease = vl->OnRelease = r->OnRelease = counter->Event();
  TDevStore* store = rig.Device->FindObject<TDevStore>();
  ASSERT_EQ(store->Textures.size(), 2u);
  ASSERT_EQ(store->Shaders.size(), 1u);
  ASSERT_TRUE(rig.Device->RemoveObject(store));
  store->Free();
  EXPECT_EQ(counter->Count, 5);
  EXPECT_EQ(static_cast<T3DTexture9*>(t1.get())->Store(), nullptr);
  EXPECT_EQ(static_cast<T3DRenderer9*>(r.get())->Store(), nullptr);
  // Calls after teardown answer false without touching the device.
  EXPECT_FALSE(r->BeginScene());
  EXPECT_EQ(r->State(), k3DStateLost);
  t1 = t2 = nullptr;  // shells free cleanly
}

TEST(DevStore, SurfacesAndVolumes) {
  TDxRig rig;
  Ref<T3DRenderer> r = rig.NewRenderer();
  Ref<T3DTexture> t = r->CreateTexture(k3DTexColorAlpha, 32, 16, false);
  Ref<T3DSurface> s1 = t->GetSurface(0), s2 = t->GetSurface(0);
  EXPECT_EQ(s1.get(), s2.get());
  EXPECT_EQ(t->GetSurface(5), nullptr);
  EXPECT_EQ(s1->GetSize(), (TSize{32, 16}));
  Ref<TSysBitmap> b = s1->Lock(TRect{0, 0, 32, 16}, false);
  ASSERT_TRUE(b);
  reinterpret_cast<uint32_t*>(b->Row(3))[5] = 0x11223344;
  EXPECT_TRUE(s1->Unlock(b));
  EXPECT_FALSE(b);
  auto copy = CreateSysBitmap(32, 16, StdFormats().A8R8G8B8);
  EXPECT_TRUE(s1->CopyToBitmap(copy.get()));
  EXPECT_EQ(reinterpret_cast<uint32_t*>(copy->Row(3))[5], 0x11223344u);

  Ref<TVolumeTexture> v = r->CreateVolumeTexture(32, 32, 32);
  ASSERT_TRUE(v);
  Ref<TSysBitmap> vb = v->LockBox(0, nullptr);
  ASSERT_TRUE(vb);
  EXPECT_EQ(vb->Width(), 32);
  EXPECT_EQ(vb->Height(), 1024);
  EXPECT_TRUE(v->UnlockBox(0, vb));

  // A render target reads through a system-memory copy.
  Ref<T3DTexture> rt = r->CreateTexture(k3DTexTargetAlpha, 8, 8, false);
  Ref<T3DSurface> rts = rt->GetSurface(0);
  ASSERT_TRUE(r->BeginScene());
  ASSERT_TRUE(r->SetRenderTarget(rts.get()));
  EXPECT_TRUE(r->Clear(1, 0x80102030, 1.0f, 0, nullptr));
  auto rb = CreateSysBitmap(8, 8, StdFormats().A8R8G8B8);
  EXPECT_TRUE(rts->CopyToBitmap(rb.get()));
  EXPECT_EQ(reinterpret_cast<uint32_t*>(rb->Row(7))[7], 0x80102030u);
}

TEST(Renderer9, LostDeviceTearsTheStoreDownOnce) {
  TDxRig rig;
  Ref<T3DRenderer> r = rig.NewRenderer();
  auto counter = MakeRef<TReleaseCounter>();
  r->OnRelease = counter->Event();
  Ref<T3DTexture> t = r->CreateTexture(k3DTexColorAlpha, 32, 32, false);
  t->OnRelease = counter->Event();
  ASSERT_TRUE(r->BeginScene());
  TDevStore* store = rig.Device->FindObject<TDevStore>();
  store->Device()->InjectLoss();
  TRect whole{0, 0, 64, 48};
  EXPECT_TRUE(r->EndScene());
  EXPECT_FALSE(r->Present(&whole, 1, &whole));
  EXPECT_EQ(r->State(), k3DStateLost);
  EXPECT_EQ(counter->Count, 2);
  EXPECT_EQ(rig.Device->FindObject<TDevStore>(), nullptr);
  auto* rw = rig.Device->FindObject<TRectangleWrapper>();
  ASSERT_TRUE(rw);
  EXPECT_TRUE(rw->NoExclusiveNextTime);
  EXPECT_FALSE(r->Present(&whole, 1, &whole));
  EXPECT_EQ(counter->Count, 2);
  // A new renderer makes a new device.
  Ref<T3DRenderer> r2 = rig.NewRenderer();
  ASSERT_TRUE(r2);
  EXPECT_TRUE(r2->BeginScene());
}

TEST(Renderer9, ReleaseCallbackMayDropTheRendererInsideItsOwnCall) {
  // The screen frees its renderer from the release callback; the call that
  // found the lost device must still return normally.
  TDxRig rig;
  struct THolder : TRefObject {
    Ref<T3DRenderer> R;
    void Drop(TRefObject*) { R = nullptr; }
  };
  auto h = MakeRef<THolder>();
  h->R = rig.NewRenderer();
  h->R->OnRelease = T3DReleaseEvent::Bind<&THolder::Drop>(h.get());
  T3DRenderer* raw = h->R.get();
  rig.Device->FindObject<TDevStore>()->Device()->InjectLoss();
  TRect whole{0, 0, 64, 48};
  EXPECT_FALSE(raw->Present(&whole, 1, &whole));
  EXPECT_FALSE(h->R);
}

TEST(Engine9, FullScreenWithoutExclusiveCoversTheMonitor) {
  TDxRig rig;
  std::vector<std::pair<TRect, int>> placements;
  T3DWindowOps ops;
  ops.SetPlacement = [&](uint64_t, const TRect& r, int show) { placements.push_back({r, show}); };
  Set3DWindowOps(ops);
  rig.Device->SetBounds(TRect{0, 0, 64, 48}, TPoint{}, true);
  Ref<T3DRenderer> r = rig.NewRenderer();
  ASSERT_TRUE(r);
  EXPECT_FALSE(static_cast<T3DRenderer9*>(r.get())->Exclusive());
  Ref<T3DSurface> bb;
  ASSERT_TRUE(r->GetBackBuffer(bb));
  EXPECT_EQ(bb->GetSize(), (TSize{640, 480}));
  ASSERT_EQ(placements.size(), 1u);
  EXPECT_EQ(placements[0].first, (TRect{0, 0, 640, 480}));
  EXPECT_EQ(placements[0].second, 5);
  r = nullptr;  // a full-screen renderer puts the window back
  ASSERT_EQ(placements.size(), 2u);
  EXPECT_EQ(placements[1].second, 4);
}

}  // namespace
}  // namespace kav
