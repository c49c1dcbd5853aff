// Video frames: plane sizes and padding, edge extension, drawing through the
// video program, and the frames drawn where shaders are not possible.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include "DrawerRig.h"
#include "KavLib2/3DEngine/DrawVideo3D.h"

namespace kav {
namespace {

using drawtest::Ch;
using drawtest::TDrawerRig;

void FillPlane(TYUVImage* f, int32_t plane, int32_t w, int32_t h, uint8_t value) {
  Ref<TSysBitmap> b = f->LockPlane(plane);
  ASSERT_TRUE(b);
  for (int32_t y = 0; y < h; ++y) std::memset(b->Row(y), value, size_t(w));
  f->UnlockPlane(plane);
}

TEST(Video, OddSizedPlanesAreExtendedIntoTheirPadding) {
  TDrawerRig rig(64, 48);
  rig.Frame([](TDeviceDrawer*) {});
  Ref<TYUVImage> frame = Ref<TYUVImage>::Adopt(rig.Drawer->CreateVideoTextures(1919, 1079, false));
  auto* f = dynamic_cast<T3DYUV*>(frame.get());
  ASSERT_TRUE(f);
  EXPECT_EQ(f->PaddedWidth(), 1927);
  EXPECT_EQ(f->PaddedHeight(), 1087);
  EXPECT_EQ(f->Plane(kYuvPlaneU)->ImageSize(), (TSize{959, 539}));
  Ref<TSysBitmap> y = f->LockPlane(kYuvPlaneY);
  ASSERT_TRUE(y);
  EXPECT_EQ(y->Width(), 1927);
  EXPECT_EQ(y->Height(), 1087);
  for (int32_t r = 0; r < 1079; ++r)
    for (int32_t x = 0; x < 1919; ++x) y->Row(r)[x] = uint8_t(x + r);
  f->UnlockPlane(kYuvPlaneY);
  EXPECT_EQ(f->LockCount(), 0);
  y = f->LockPlane(kYuvPlaneY);
  EXPECT_EQ(y->Row(10)[1925], uint8_t(1918 + 10));  // the last column repeated
  EXPECT_EQ(y->Row(1085)[100], uint8_t(100 + 1078));  // the last row repeated
  EXPECT_EQ(y->Row(1086)[1926], uint8_t(1918 + 1078));  // and the corner beyond both
  f->UnlockPlane(kYuvPlaneY);
  Ref<TSysBitmap> u = f->LockPlane(kYuvPlaneU);
  EXPECT_EQ(u->Width(), 963);
  f->UnlockPlane(kYuvPlaneU);
  EXPECT_THROW(f->UnlockPlane(kYuvPlaneV), EAbort);  // never locked
}

TEST(Video, PlanesDrawThroughTheVideoProgram) {
  TDrawerRig rig(64, 48);
  rig.Frame([](TDeviceDrawer*) {});
  Ref<TYUVImage> frame = Ref<TYUVImage>::Adopt(rig.Drawer->CreateVideoTextures(33, 21, false));
  FillPlane(frame.get(), kYuvPlaneY, 33, 21, 132);
  FillPlane(frame.get(), kYuvPlaneU, 16, 10, 128);
  FillPlane(frame.get(), kYuvPlaneV, 16, 10, 200);
  frame->Commit();
  TVideoDrawParams p;
  rig.Frame([&](TDeviceDrawer* d) {
    d->DrawVideo(frame.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, 48, 0}, T3DPoint{64, 0, 0});
  });
  rig.Dump("video");
  const double yy = (132 - 16) * 1.1643835616438356, vv = 72;
  const uint32_t c = rig.At(32, 24);
  EXPECT_NEAR(Ch(c, 16), std::min(255.0, yy + 1.596 * vv), 2);
  EXPECT_NEAR(Ch(c, 8), yy - 0.813 * vv, 2);
  EXPECT_NEAR(Ch(c, 0), yy, 2);
  // The padding keeps the right and bottom edges the frame's colour.
  EXPECT_NEAR(Ch(rig.At(63, 47), 16), Ch(c, 16), 2);
  // Chroma key on the frame's own chroma: keyed out.
  p.ChromaKey = true;
  p.KeyU = 128 / 255.0f;
  p.KeyV = 200 / 255.0f;
  p.KeyTolerance = 0.05f;
  rig.Frame([&](TDeviceDrawer* d) {
    d->DrawVideo(frame.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, 48, 0}, T3DPoint{64, 0, 0});
  }, 0xFF0000FF);
  EXPECT_EQ(rig.At(32, 24), 0xFF0000FFu);
  // Deinterlacing of a uniform frame changes nothing.
  p.ChromaKey = false;
  p.DeinterlaceMode = 2;
  rig.Frame([&](TDeviceDrawer* d) {
    d->DrawVideo(frame.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, 48, 0}, T3DPoint{64, 0, 0});
  });
  EXPECT_NEAR(Ch(rig.At(32, 24), 8), Ch(c, 8), 1);
}

TEST(Video, FramesWithoutShaders) {
  TSwConfig cfg;
  cfg.Shaders = TSwShaderProfile::Level0;
  TDrawerRig rig(32, 32, cfg);
  rig.Frame([](TDeviceDrawer*) {});
  // Planes become one 16-bit texture.
  Ref<TYUVImage> packed = Ref<TYUVImage>::Adopt(rig.Drawer->CreateVideoTextures(16, 16, false));
  auto* pf = dynamic_cast<T3DYUV*>(packed.get());
  EXPECT_EQ(pf->Kind(), 1);
  EXPECT_FALSE(pf->Plane(kYuvPlaneY));
  Ref<TSysBitmap> b = packed->LockPlane(kYuvPlanePacked);
  ASSERT_TRUE(b);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) reinterpret_cast<uint16_t*>(b->Row(y))[x] = 0xF800;  // red
  packed->UnlockPlane(kYuvPlanePacked);
  TVideoDrawParams p;
  rig.Frame([&](TDeviceDrawer* d) {
    d->DrawVideo(packed.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, 16, 0}, T3DPoint{16, 0, 0});
  });
  EXPECT_EQ(rig.At(8, 8) & 0xFFFFFF, 0xFF0000u);
  // An RGBA frame is drawn from its own texture.
  Ref<TYUVImage> rgba = Ref<TYUVImage>::Adopt(rig.Drawer->CreateVideoTextures(16, 16, true));
  b = rgba->LockPlane(kYuvPlaneRgba);
  ASSERT_TRUE(b);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) reinterpret_cast<uint32_t*>(b->Row(y))[x] = 0xFF00FF00;
  rgba->UnlockPlane(kYuvPlaneRgba);
  rig.Frame([&](TDeviceDrawer* d) {
    d->DrawVideo(rgba.get(), T3DPoint{16, 16, 0}, p, T3DPoint{0, 16, 0}, T3DPoint{16, 0, 0});
  });
  EXPECT_EQ(rig.At(24, 24), 0xFF00FF00u);
}

TEST(Video, DeviceLossMarksTheFrameLost) {
  TDrawerRig rig(32, 32);
  rig.Frame([](TDeviceDrawer*) {});
  Ref<TYUVImage> frame = Ref<TYUVImage>::Adopt(rig.Drawer->CreateVideoTextures(16, 16, false));
  EXPECT_FALSE(frame->Invalid.load());
  TDevStore* store = rig.Device->FindObject<TDevStore>();
  rig.Device->RemoveObject(store);
  store->Free();
  EXPECT_TRUE(frame->Invalid.load());
  // The frame outlives the drawer as an empty shell.
  rig.Drawer = nullptr;
  EXPECT_FALSE(frame->LockPlane(kYuvPlaneY));
}

// The decoder holds a frame's monitor and then takes the drawer lock to
// upload; a drawer freed meanwhile must not hold that lock while it waits to
// give the frame back, or the two wait for each other for ever.
TEST(Video, ADrawerFreedWhileTheDecoderFillsAFrameGivesItBack) {
  auto rig = std::make_unique<TDrawerRig>(64, 48);
  rig->Frame([](TDeviceDrawer*) {});
  Ref<TYUVImage> frame = Ref<TYUVImage>::Adopt(rig->Drawer->CreateVideoTextures(33, 21, false));
  ASSERT_TRUE(frame);
  std::atomic<bool> filling{false};
  std::thread decoder([&] {
    frame->Monitor()->Enter();
    filling = true;
    // Room for the drawer's release to reach the frame while it is held.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    { std::lock_guard<std::recursive_mutex> upload(DrawerLock()); }
    frame->Monitor()->Leave();
  });
  while (!filling) std::this_thread::yield();
  auto released = std::async(std::launch::async, [&] { rig->Drawer = nullptr; });
  if (released.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    std::fprintf(stderr, "the drawer's release and the decoder wait for each other\n");
    std::abort();  // both threads are stuck: nothing else can end the test
  }
  decoder.join();
  EXPECT_EQ(dynamic_cast<T3DYUV*>(frame.get())->Plane(kYuvPlaneY), nullptr);  // given back
  frame = nullptr;
  rig.reset();
}

}  // namespace
}  // namespace kav
