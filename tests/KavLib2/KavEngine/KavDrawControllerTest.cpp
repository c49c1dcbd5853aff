#include <gtest/gtest.h>

#include "KavLib2/KavEngine/KavDrawController.h"
#include "tests/VoRav/3DBasics/Dx3DRig.h"

using namespace kav;

namespace {

class TClearItem : public TDrawItem {
 public:
  void Draw(TDeviceDrawer* d) override { d->Clear(0xFF204060, 0); }
};

}  // namespace

TEST(DrawController, WithoutDeviceReportsNothingAndDrawsNothing) {
  auto c = MakeRef<TKavDrawController>(nullptr, false);
  EXPECT_EQ(c->GetState(), 0u);
  auto item = MakeRef<TClearItem>();
  EXPECT_FALSE(c->Render(item.get()));
  EXPECT_EQ(c->GetViewSize(), (TSize{0, 0}));
}

TEST(DrawController, ReadyAfterTheFirstFrameAndRefreshReportedOnce) {
  dxtest::TDxRig rig(64, 48);
  auto c = MakeRef<TKavDrawController>(rig.Device.get(), false);
  EXPECT_EQ(c->GetViewSize(), (TSize{64, 48}));
  // Before a drawer exists: the device may draw, nothing else.
  EXPECT_EQ(c->GetState(), uint32_t(kDrawDeviceReady));
  ASSERT_NE(c->GetDrawer(), nullptr);
  auto item = MakeRef<TClearItem>();
  EXPECT_TRUE(c->Render(item.get()));
  EXPECT_EQ(rig.Pixel(3, 3) & 0xFFFFFF, 0x204060u);
  // The new renderer asked for a repaint: one redraw, then none.
  EXPECT_EQ(c->GetState(), uint32_t(kDrawDeviceReady | kDrawReady | kDrawRedraw));
  EXPECT_EQ(c->GetState(), uint32_t(kDrawDeviceReady | kDrawReady));

  rig.Device->Repaint();  // the device's refresh callback
  EXPECT_EQ(c->GetState(), uint32_t(kDrawDeviceReady | kDrawReady | kDrawRedraw));
  EXPECT_EQ(c->GetState(), uint32_t(kDrawDeviceReady | kDrawReady));

  // A resized device asks for a redraw until the screen follows it.
  rig.Sink->SetClientSize(dxtest::kWindow, 80, 60);
  rig.Device->SetBounds(TRect{0, 0, 80, 60}, TPoint{}, false);
  EXPECT_TRUE(c->GetState() & kDrawRedraw);
  EXPECT_TRUE(c->GetState() & kDrawRedraw);
  EXPECT_TRUE(c->Render(item.get()));
  c->GetState();  // the re-created renderer's repaint
  EXPECT_FALSE(c->GetState() & kDrawRedraw);

  c = nullptr;  // releases the callback of a device it does not own
  EXPECT_FALSE(rig.Device->OnRepaint.Assigned());
}

TEST(DrawController, LossShowsUntilReadyThenReinitialisedOnce) {
  dxtest::TDxRig rig(32, 32);
  auto c = MakeRef<TKavDrawController>(rig.Device.get(), false);
  dxtest::TDxRig::OffGui = true;  // the renderer stays pending until the GUI runs
  c->GetDrawer();
  // Lost while the device is not ready yet: bit 2 alone, on every pass.
  c->RndLost(nullptr);
  EXPECT_EQ(c->GetState() & (kDrawLost | kDrawReady), uint32_t(kDrawLost));
  EXPECT_EQ(c->GetState() & (kDrawLost | kDrawReady), uint32_t(kDrawLost));
  dxtest::TDxRig::RunGui();
  dxtest::TDxRig::OffGui = false;
  auto item = MakeRef<TClearItem>();
  EXPECT_TRUE(c->Render(item.get()));
  EXPECT_EQ(c->GetState() & (kDrawLost | kDrawReady), uint32_t(kDrawLost | kDrawReady));
  EXPECT_EQ(c->GetState() & (kDrawLost | kDrawReady), uint32_t(kDrawReady));
}

namespace {

// A draw device whose window goes behind other windows and comes back.
class TFrontDevice : public TDrawDevice {
 public:
  using TDrawDevice::TDrawDevice;
  bool CanDraw() override { return Front; }
  bool Front = true;
};

}  // namespace

TEST(DrawController, ADeviceBackInFrontIsRedrawnOnce) {
  auto device = MakeRef<TFrontDevice>(dxtest::kWindow);
  auto c = MakeRef<TKavDrawController>(device.get(), false);
  EXPECT_EQ(c->GetState(), uint32_t(kDrawDeviceReady));
  // Behind: nothing to draw for.
  device->Front = false;
  EXPECT_EQ(c->GetState(), 0u);
  EXPECT_EQ(c->GetState(), 0u);
  // In front again: what it showed meanwhile may be gone, one redraw.
  device->Front = true;
  EXPECT_EQ(c->GetState(), uint32_t(kDrawDeviceReady | kDrawRedraw));
  EXPECT_EQ(c->GetState(), uint32_t(kDrawDeviceReady));
  c = nullptr;
}
