#include <gtest/gtest.h>

#include "VoRav/Composite/FrameDevice/winFrameDrawDevice.h"
#include "VoRav/Composite/winFrameForms.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

class TStubForm : public TWinRootForm {
 public:
  TRootFrame* Frame = new TRootFrame();  // freed by the root control
  win::HWND Handle = 0;
  TSize Client{0, 0};
  TRootFrame* RootFrame() override { return Frame; }
  win::HWND GetHandle() override { return Handle; }
  bool ColorKeyMode() override { return false; }
  TSize ClientSize() override { return Client; }
  void SetClientSize(int32_t w, int32_t h) override { Client = TSize{w, h}; }
  void EnterNested() override {}
  void LeaveNested() override {}
};

class FrameDrawDeviceTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    InitFrameDrawDevices();
  }
  void TearDown() override {
    FinalizeFrameDrawDevices();
    CompositeTest::TearDown();
  }
  TWinRootControl* MakeWinRoot() {
    form.Handle = MakeTop(win::WS_OVERLAPPEDWINDOW | win::WS_VISIBLE, TRect{100, 100, 400, 300});
    auto* r = new TWinRootControl(&form);
    root = Ref<TRootControl>::Adopt(r);
    frame = form.Frame;
    r->SetSize(300, 200);
    frame->SetBounds(0, 0, 300, 200);
    return r;
  }
  TStubForm form;
};

}  // namespace

TEST_F(FrameDrawDeviceTest, HookMakesDevicesOnlyInWindowTrees) {
  TRootControl* plain = MakeRoot(100, 100);
  EXPECT_EQ(FrameDrawDeviceHook(plain->CreateChildFrame(), "x"), nullptr);
  root = nullptr;
  TWinRootControl* r = MakeWinRoot();
  TPaintProbe* panel = AddProbe(r, "panel", 10, 10, 200, 150);
  TFrameControl* c = FrameDrawDeviceHook(panel->CreateChildFrame(), "video");
  auto* d = dynamic_cast<TWinFrameDrawDevice*>(c);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Name(), "video");
  EXPECT_FALSE(d->HasDevice());
}

TEST_F(FrameDrawDeviceTest, DeviceBoundsFollowTheControlAndItsAncestors) {
  TWinRootControl* r = MakeWinRoot();
  TPaintProbe* panel = AddProbe(r, "panel", 10, 10, 200, 150);
  auto* d = new TWinFrameDrawDevice(panel->CreateChildFrame());
  d->SetPosition(5, 6);
  d->SetSize(50, 40);
  TDrawDevice* dev = d->Device();
  ASSERT_NE(dev, nullptr);
  EXPECT_EQ(dev->Window(), uint64_t(form.Handle));
  EXPECT_EQ(dev->Bounds(), (TRect{15, 16, 65, 56}));
  d->SetSize(60, 40);
  EXPECT_EQ(dev->Bounds(), (TRect{15, 16, 75, 56}));
  panel->SetPosition(30, 20);  // an ancestor moves
  EXPECT_EQ(dev->Bounds(), (TRect{35, 26, 95, 66}));
  d->SetPosition(0, 0);
  EXPECT_EQ(dev->Bounds(), (TRect{30, 20, 90, 60}));
  EXPECT_FALSE(dev->FullScreen());
  d->SetFullScreen(true);
  EXPECT_TRUE(dev->FullScreen());
  EXPECT_EQ(d->Device(), dev);  // made once
  win::SetForegroundWindow(form.Handle);
  EXPECT_TRUE(d->DeviceWindowInFront());
}

TEST_F(FrameDrawDeviceTest, LeftButtonDownClicksTheControl) {
  TWinRootControl* r = MakeWinRoot();
  auto* d = new TWinFrameDrawDevice(r->CreateChildFrame());
  d->SetName("dev");
  d->SetSize(50, 50);
  Ref<TEventLog> logp = MakeRef<TEventLog>();
  TEventLog& log = *logp;
  log.Listen(d, {13});
  frame->MouseEvent(0, 10, 10, kMouseDown, kMouseRight);
  frame->MouseEvent(0, 10, 10, kMouseUp, kMouseRight);
  EXPECT_EQ(log.Count("dev:13"), 0);
  frame->MouseEvent(kShiftLeft, 10, 10, kMouseDown, kMouseLeft);
  frame->MouseEvent(0, 10, 10, kMouseUp, kMouseLeft);
  EXPECT_GE(log.Count("dev:13"), 1);
}
