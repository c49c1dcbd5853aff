// The 3D screen on the software device: scenes, textures drawn on pixels,
// recovery after device loss, render targets and antialiased quads.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "Dx3DRig.h"
#include "VoRav/3DBasics/Dev3DApp2.h"
#include "VoRav/vxLog.h"

namespace kav {
namespace {

using dxtest::TDxRig;

// A texture painted by a function of (x, y) in A8R8G8B8.
class TFnTexture : public TCustomTexture {
 public:
  TFnTexture(T3DScreen* s, TSize size, std::function<uint32_t(int, int)> fn, uint8_t kind = k3DTexColorAlpha)
      : TCustomTexture(s), fn_(std::move(fn)) {
    SetKind(kind);
    SetSize(size);
  }
  int Fills = 0;
  void Fill(TSysBitmap* b) override {
    ++Fills;
    for (int y = 0; y < b->Height(); ++y)
      for (int x = 0; x < b->Width(); ++x) {
        const uint32_t c = fn_(x, y);
        if (b->BytesPerPixel() == 4) reinterpret_cast<uint32_t*>(b->Row(y))[x] = c;
        else if (b->BytesPerPixel() == 1) b->Row(y)[x] = uint8_t(c);
      }
  }

 private:
  std::function<uint32_t(int, int)> fn_;
};

// A render-target texture (nothing to fill).
class TTargetTexture : public TCustomTexture {
 public:
  TTargetTexture(T3DScreen* s, TSize size) : TCustomTexture(s) {
    SetKind(k3DTexTargetAlpha);
    SetSize(size);
  }
  void Fill(TSysBitmap*) override {}
  void Upload() override {}
};

// Captures log lines.
class TCaptureLog : public TLog {
 public:
  std::vector<std::u16string> Lines;
  std::mutex Lock;
  void WriteRaw(const std::u16string& t) override {
    std::lock_guard<std::mutex> g(Lock);
    Lines.push_back(t);
  }
  int Count(const std::u16string& needle) {
    std::lock_guard<std::mutex> g(Lock);
    int n = 0;
    for (auto& l : Lines) n += l.find(needle) != std::u16string::npos;
    return n;
  }
};

struct TScreenRig : TDxRig {
  Ref<T3DScreen> Screen = MakeRef<T3DScreen>();
  TScreenRig(int32_t w = 64, int32_t h = 48, TSwConfig cfg = TSwConfig()) : TDxRig(w, h, cfg) {
    Screen->SetDrawDevice(Device.get());
  }
  ~TScreenRig() { Screen = nullptr; }
  static void Corners(T3DPoint c[4], float x0, float y0, float x1, float y1) {
    c[0] = {x0, y0, 0};
    c[1] = {x1, y0, 0};
    c[2] = {x0, y1, 0};
    c[3] = {x1, y1, 0};
  }
};

uint32_t Pattern(int x, int y) { return 0xFF000000u | uint32_t(x * 7 % 256) << 16 | uint32_t(y * 13 % 256) << 8 | uint32_t((x ^ y) & 0xFF); }

TEST(Screen, TextureSizes) {
  TScreenRig rig;
  auto t = MakeRef<TFnTexture>(rig.Screen.get(), TSize{100, 20}, Pattern);
  EXPECT_EQ(t->TextureSize(), (TSize{128, 32}));
  t->SetSize(TSize{10, 10});
  EXPECT_EQ(t->TextureSize(), (TSize{32, 32}));
  t->SetSize(TSize{0, 10});
  EXPECT_EQ(t->TextureSize(), (TSize{0, 32}));
  EXPECT_EQ(t->GetTexture(), nullptr);
  rig.Screen->BeginScene();
  t->SetSize(TSize{10, 10});
  T3DTexture* dev = t->GetTexture();
  ASSERT_TRUE(dev);
  t->SetSize(TSize{10, 10});
  EXPECT_EQ(t->GetTexture(), dev);  // the same size keeps the device texture
}

TEST(Screen, PictureDrawnOneToOneKeepsItsPixels) {
  TScreenRig rig(64, 48);
  auto t = MakeRef<TFnTexture>(rig.Screen.get(), TSize{40, 30}, Pattern);
  rig.Screen->BeginScene();
  ASSERT_TRUE(rig.Screen->DeviceReady());
  rig.Screen->Clear(0xFF000000, false);
  T3DPoint c[4];
  TScreenRig::Corners(c, 5, 7, 45, 37);
  rig.Screen->DrawTexture(t.get(), c, TFloatRect{0, 0, 40, 30});
  ASSERT_TRUE(rig.Screen->EndScene(true));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(rig.Pixel(5 + x, 7 + y), Pattern(x, y)) << x << "," << y;
  EXPECT_EQ(rig.Pixel(4, 7), 0xFF000000u);
  EXPECT_EQ(rig.Pixel(45, 36), 0xFF000000u);
  EXPECT_EQ(rig.Pixel(5, 37), 0xFF000000u);
  rig.Sink->WritePng(dxtest::kWindow, "/tmp/kav_screen_1to1.png");
}

TEST(Screen, FillRectAndClear) {
  TScreenRig rig(32, 32);
  rig.Screen->BeginScene();
  rig.Screen->Clear(0xFF102030, false);
  rig.Screen->FillRect(0xFFFFFFFF, TRect{2, 3, 6, 9});
  rig.Screen->EndScene(true);
  EXPECT_EQ(rig.Pixel(0, 0), 0xFF102030u);
  EXPECT_EQ(rig.Pixel(31, 31), 0xFF102030u);
  EXPECT_EQ(rig.Pixel(2, 3), 0xFFFFFFFFu);
  EXPECT_EQ(rig.Pixel(6, 3), 0xFF102030u);
}

TEST(Screen, RecoversAfterDeviceLossAtEachStep) {
  // Loss injected before each step of a frame: the frame may fail, the next
  // one draws the picture again (texture re-made and re-filled).
  for (int step = 0; step < 4; ++step) {
    TScreenRig rig(64, 48);
    auto t = MakeRef<TFnTexture>(rig.Screen.get(), TSize{16, 16}, Pattern);
    auto frame = [&](int inject_at) {
      auto lose = [&](int at) {
        if (at == inject_at) rig.Device->FindObject<TDevStore>()->Device()->InjectLoss();
      };
      rig.Screen->BeginScene();
      if (!rig.Screen->DeviceReady()) return false;
      lose(0);
      rig.Screen->Clear(0xFF000000, false);
      lose(1);
      T3DPoint c[4];
      TScreenRig::Corners(c, 0, 0, 16, 16);
      rig.Screen->DrawTexture(t.get(), c, TFloatRect{0, 0, 16, 16});
      lose(2);
      const bool ok = rig.Screen->EndScene(false);
      lose(3);
      TRect r{0, 0, 64, 48};
      return rig.Screen->Renderer() && rig.Screen->Renderer()->Present(&r, 1, &r) && ok;
    };
    ASSERT_TRUE(frame(-1));
    frame(step);
    int tries = 0;
    while (!frame(-1) && ++tries < 3) {
    }
    ASSERT_LT(tries, 3) << "step " << step;
    EXPECT_EQ(rig.Pixel(3, 5), Pattern(3, 5)) << "step " << step;
    EXPECT_EQ(t->Fills, 2) << "step " << step;
  }
}

TEST(Screen, LostSystemLogsOncePerLoss) {
  auto log = MakeRef<TCaptureLog>();
  Ref<TLog> old = GetGlobalLog();
  SetGlobalLog(log);
  {
    TScreenRig rig;
    rig.Screen->BeginScene();
    ASSERT_TRUE(rig.Screen->DeviceReady());
    rig.D3D->InjectDeviceLoss();
    TRect r{0, 0, 64, 48};
    rig.Screen->Renderer()->Present(&r, 1, &r);
    for (int i = 0; i < 10; ++i) rig.Screen->BeginScene();
    EXPECT_FALSE(rig.Screen->DeviceReady());
    EXPECT_EQ(log->Count(u"Can't init"), 1);
    EXPECT_EQ(log->Count(u"DEVICE LOST!"), 1);
    rig.D3D->EndDeviceLoss();
    rig.Screen->BeginScene();
    EXPECT_TRUE(rig.Screen->DeviceReady());
  }
  SetGlobalLog(old);
}

TEST(Screen, FullScreenSwitchReleasesResourcesFirst) {
  TScreenRig rig;
  auto t = MakeRef<TFnTexture>(rig.Screen.get(), TSize{16, 16}, Pattern);
  rig.Screen->BeginScene();
  ASSERT_TRUE(t->GetTexture());
  Ref<T3DTexture> before(t->GetTexture());
  rig.Device->SetBounds(TRect{0, 0, 64, 48}, TPoint{}, true);
  rig.Screen->BeginScene();
  ASSERT_TRUE(rig.Screen->DeviceReady());
  EXPECT_EQ(rig.Screen->Width(), 640);  // the monitor
  EXPECT_NE(t->GetTexture(), before.get());
  // The same device, flag and rectangle again changes nothing.
  T3DRenderer* r = rig.Screen->Renderer();
  rig.Screen->SetDrawDevice(rig.Device.get());
  EXPECT_EQ(rig.Screen->Renderer(), r);
}

TEST(Screen, RenderTargetStack) {
  TScreenRig rig(64, 48);
  auto rt = MakeRef<TTargetTexture>(rig.Screen.get(), TSize{64, 48});
  auto pic = MakeRef<TFnTexture>(rig.Screen.get(), TSize{8, 8}, [](int, int) { return 0xFF00FF00u; });
  rig.Screen->BeginScene();
  EXPECT_EQ(rig.Screen->TargetDepth(), 1);
  rig.Screen->PopRenderTarget();  // only the back buffer: it stays
  EXPECT_EQ(rig.Screen->TargetDepth(), 1);
  rig.Screen->Clear(0xFF000000, false);
  rig.Screen->SetRenderTarget(rt.get());
  EXPECT_EQ(rig.Screen->TargetDepth(), 2);
  rig.Screen->Clear(0x00000000, false);
  T3DPoint c[4];
  TScreenRig::Corners(c, 10, 10, 18, 18);
  rig.Screen->DrawTexture(pic.get(), c, TFloatRect{0, 0, 8, 8});
  rig.Screen->PopRenderTarget();
  EXPECT_EQ(rig.Screen->TargetDepth(), 1);
  // The target drawn back onto the screen at an offset.
  TScreenRig::Corners(c, 20, 0, 84, 48);
  rig.Screen->DrawTexture(rt.get(), c, TFloatRect{0, 0, 64, 48});
  rig.Screen->EndScene(true);
  rig.Sink->WritePng(dxtest::kWindow, "/tmp/kav_screen_rt.png");
  EXPECT_EQ(rig.Pixel(12, 12), 0xFF000000u);
  EXPECT_EQ(rig.Pixel(32, 12), 0xFF00FF00u);
  EXPECT_EQ(rig.Pixel(29, 12), 0xFF000000u);
  EXPECT_EQ(rig.Pixel(37, 17), 0xFF00FF00u);
  EXPECT_EQ(rig.Pixel(38, 17), 0xFF000000u);
  EXPECT_EQ(rig.Pixel(37, 18), 0xFF000000u);
  // An empty viewport changes nothing.
  TRect vp = rig.Screen->Viewport();
  rig.Screen->SetViewport(TRect{5, 5, 5, 20}, 0, 1);
  EXPECT_EQ(rig.Screen->Viewport(), vp);
}

TEST(Screen, OutOfVideoMemoryFreesManagedTexturesInHalves) {
  TSwConfig cfg;
  cfg.VideoMemoryBudget = 8u << 20;
  TScreenRig rig(64, 48, cfg);
  rig.Screen->BeginScene();
  std::vector<Ref<TFnTexture>> managed;
  for (int i = 0; i < 8; ++i) {
    managed.push_back(MakeRef<TFnTexture>(rig.Screen.get(), TSize{64, 64}, Pattern));
    ASSERT_TRUE(managed.back()->GetTexture());
  }
  auto big = MakeRef<TTargetTexture>(rig.Screen.get(), TSize{4096, 4096});
  EXPECT_EQ(big->GetTexture(), nullptr);
  EXPECT_TRUE(managed[0]->Preload() && managed[0]->Fills == 1);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(managed[size_t(i)]->Fills, 1);
  // Released ones are re-made (and re-filled) on next use; index 0 was kept.
  managed[7]->GetTexture();
  EXPECT_EQ(managed[7]->Fills, 2);
  managed[0]->GetTexture();
  EXPECT_EQ(managed[0]->Fills, 1);
  // A failure for another reason frees nothing.
  auto bad = MakeRef<TTargetTexture>(rig.Screen.get(), TSize{20000, 16});
  EXPECT_EQ(bad->GetTexture(), nullptr);
  managed[7]->GetTexture();
  EXPECT_EQ(managed[7]->Fills, 2);
}

TEST(Screen, MipLevelsForEveryKind) {
  TScreenRig rig;
  rig.Screen->BeginScene();
  // Luminance 64 x 64 with two-pixel stripes: level 1 averages them.
  auto lum = MakeRef<TFnTexture>(rig.Screen.get(), TSize{64, 64}, [](int x, int) { return x % 2 ? 200u : 100u; },
                                 k3DTexLuminance);
  lum->SetMip(true);
  T3DTexture* t = lum->GetTexture();
  ASSERT_TRUE(t);
  ASSERT_GT(t->LevelCount(), 1u);
  Ref<T3DSurface> s1 = t->GetSurface(1);
  Ref<TSysBitmap> b = s1->Lock(TRect{0, 0, 32, 32}, true);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Row(5)[7], 150);
  s1->Unlock(b);
  // A 32-bit 40 x 30 picture: level 1 is 20 x 15 of the box average.
  auto col = MakeRef<TFnTexture>(rig.Screen.get(), TSize{40, 30}, Pattern);
  col->SetMip(true);
  T3DTexture* ct = col->GetTexture();
  Ref<T3DSurface> c1 = ct->GetSurface(1);
  Ref<TSysBitmap> cb = c1->Lock(TRect{0, 0, 20, 15}, true);
  ASSERT_TRUE(cb);
  const uint32_t p = reinterpret_cast<uint32_t*>(cb->Row(3))[4];
  uint32_t g = 0;
  for (int dy = 0; dy < 2; ++dy)
    for (int dx = 0; dx < 2; ++dx) g += (Pattern(8 + dx, 6 + dy) >> 8) & 0xFF;
  EXPECT_EQ((p >> 8) & 0xFF, g >> 2);
  c1->Unlock(cb);
}

TEST(Screen, AntialiasedQuadCells) {
  TScreenRig rig(64, 48);
  auto draw = [&](uint32_t mask) {
    rig.Screen->BeginScene();
    rig.Screen->Clear(0xFF000000, false);
    T3DPoint c[4], grid[16];
    TScreenRig::Corners(c, 20, 10, 40, 30);
    uint32_t m = mask;
    rig.Screen->BuildQuadGrid(c, grid, m);
    TScreenQuad q;
    for (auto& col : q.Colors) col = 0xFFFFFFFF;
    rig.Screen->DrawQuadAA(q, grid, m);
    rig.Screen->EndScene(true);
  };
  draw(0);
  EXPECT_EQ(rig.Pixel(30, 20), 0xFFFFFFFFu);
  EXPECT_EQ(rig.Pixel(19, 20), 0xFF000000u);
  draw(1);  // left feathered: a partial pixel left of the edge, none above
  const uint32_t left = rig.Pixel(19, 20);
  EXPECT_NE(left, 0xFF000000u);
  EXPECT_NE(left, 0xFFFFFFFFu);
  EXPECT_EQ(rig.Pixel(30, 9), 0xFF000000u);
  EXPECT_EQ(rig.Pixel(19, 9), 0xFF000000u);
  draw(1 | 2);  // left and top: the corner cell too
  EXPECT_NE(rig.Pixel(30, 9), 0xFF000000u);
  EXPECT_NE(rig.Pixel(19, 20), 0xFF000000u);
  rig.Sink->WritePng(dxtest::kWindow, "/tmp/kav_screen_aa.png");
  // Nearly parallel edges at a corner: nothing is feathered.
  T3DPoint c[4], grid[16];
  c[0] = {0, 0, 0};
  c[1] = {20, 0, 0};
  c[2] = {20, 1, 0};
  c[3] = {40, 1, 0};
  uint32_t m = 15;
  rig.Screen->BuildQuadGrid(c, grid, m);
  EXPECT_EQ(m, 0u);
}

TEST(Screen, Coordinates) {
  TScreenRig rig(64, 48);
  rig.Screen->BeginScene();
  T3DPoint n = rig.Screen->ScreenToNdc(T3DPoint{0, 0, 48});
  EXPECT_FLOAT_EQ(n.x, -1);
  EXPECT_FLOAT_EQ(n.y, 1);
  EXPECT_FLOAT_EQ(n.z, 1);
  T3DPoint p = rig.Screen->ProjectToPlane(T3DPoint{64, 48, 48});  // twice as far from the eye
  EXPECT_FLOAT_EQ(p.x, 48);
  EXPECT_FLOAT_EQ(p.y, 36);
  T3DPoint q = rig.Screen->IntersectScreenRayWithPlane(T3DPoint{10, 10, 0}, T3DPoint{0, 0, 0}, T3DPoint{1, 0, 0},
                                                       T3DPoint{0, 1, 0});
  EXPECT_NEAR(q.x, 10, 1e-4);
  EXPECT_NEAR(q.z, 0, 1e-4);
  EXPECT_EQ(T3DScreen::PremultiplyColor(0x80FF8000u), 0x80804000u);
}

}  // namespace
}  // namespace kav
