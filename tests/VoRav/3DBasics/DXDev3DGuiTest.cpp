// The 3D layer on the application: a renderer asked for from another thread
// is completed by the GUI thread's message loop; a windowed device's child
// window paints through the device and hands the mouse to the form.
#include <gtest/gtest.h>

#include <thread>

#include "Dx3DRig.h"
#include "VoRav/3DBasics/DXDev3DGui.h"
#include "VoRav/Application2/winApplication.h"
#include "tests/platform/window/WinTestUtil.h"

namespace kav {
namespace {

class Gui3DTest : public win::WindowTest {};

struct TRepaints : TRefObject {
  int Count = 0;
  void On(TRefObject*) { ++Count; }
};

// The last message the form's procedure received.
const win::TRecordedMsg* LastOf(const win::TRecorder& rec, win::HWND h, uint32_t msg) {
  for (auto it = rec.Log.rbegin(); it != rec.Log.rend(); ++it)
    if (it->hwnd == h && it->message == msg) return &*it;
  return nullptr;
}

TEST_F(Gui3DTest, DevicePanelPaintsThroughTheDeviceAndForwardsTheMouse) {
  const win::HWND form = MakeTop();
  auto device = MakeRef<TDrawDevice>(form);
  auto rp = MakeRef<TRepaints>();
  device->OnRepaint = T3DNotifyEvent::Bind<&TRepaints::On>(rp.get());
  // Not a window: no panel, no failure.
  EXPECT_FALSE(MakeDevicePanel(device.get(), 0xFFFF));
  Ref<TDevicePanel> panel = MakeDevicePanel(device.get(), form);
  ASSERT_TRUE(panel);
  const win::HWND h = panel->Handle();
  EXPECT_EQ(win::GetParent(h), form);
  EXPECT_NE(win::GetWindowLong(h, win::GWL_STYLE) & win::WS_CHILD, 0);
  win::TWndClass wc;
  ASSERT_TRUE(win::GetClassInfo(win::kProgramInstance, panel->WindowClassName(), &wc));
  EXPECT_EQ(wc.style, uint32_t(win::CS_DBLCLKS));
  panel->SetBounds(TRect{20, 30, 120, 90});
  panel->SetShowState(1);
  EXPECT_TRUE(win::IsWindowVisible(h));

  // Erasing is always handled; painting validates and asks for a repaint.
  EXPECT_TRUE(panel->EraseBackground());
  EXPECT_EQ(win::SendMessage(h, win::WM_ERASEBKGND, 0, 0), 1);
  win::InvalidateRect(h, nullptr, true);
  win::UpdateWindow(h);
  EXPECT_EQ(rp->Count, 1);
  EXPECT_FALSE(panel->EraseBackground());
  win::UpdateWindow(h);
  EXPECT_EQ(rp->Count, 1);

  // Mouse messages reach the form in its client coordinates, with its answer.
  recorder.Hook = [&](win::HWND w, uint32_t m, win::WPARAM, win::LPARAM, win::LRESULT& r) {
    if (w != form) return false;
    if (m == win::WM_LBUTTONDOWN) r = 77;
    if (m == win::WM_SETCURSOR) r = 5;
    return m == win::WM_LBUTTONDOWN || m == win::WM_SETCURSOR;
  };
  EXPECT_EQ(win::SendMessage(h, win::WM_LBUTTONDOWN, win::MK_LBUTTON, win::MakeLParam(5, 7)), 77);
  const win::TRecordedMsg* down = LastOf(recorder, form, win::WM_LBUTTONDOWN);
  ASSERT_TRUE(down);
  EXPECT_EQ(down->wParam, win::WPARAM(win::MK_LBUTTON));
  EXPECT_EQ(down->lParam, win::MakeLParam(25, 37));
  // The wheel's point is a screen point and stays one.
  win::SendMessage(h, win::WM_MOUSEWHEEL, 120 << 16, win::MakeLParam(300, 400));
  ASSERT_TRUE(LastOf(recorder, form, win::WM_MOUSEWHEEL));
  EXPECT_EQ(LastOf(recorder, form, win::WM_MOUSEWHEEL)->lParam, win::MakeLParam(300, 400));
  EXPECT_EQ(win::SendMessage(h, win::WM_SETCURSOR, h, win::MakeLParam(1, win::WM_MOUSEMOVE)), 5);
  EXPECT_EQ(LastOf(recorder, form, win::WM_SETCURSOR)->wParam, win::WPARAM(h));
  // Other messages stay with the panel.
  const size_t before = recorder.Log.size();
  win::SendMessage(h, win::WM_USER + 3, 0, 0);
  EXPECT_EQ(recorder.Log.size(), before);

  // A real click on the panel, from the backend.
  TPoint at{5, 7};
  win::ClientToScreen(h, &at);
  win::InjectMouseButton(1, true, at.X, at.Y);
  win::InjectMouseButton(1, false, at.X, at.Y);
  Drain();
  const win::TRecordedMsg* up = LastOf(recorder, form, win::WM_LBUTTONUP);
  ASSERT_TRUE(up);
  EXPECT_EQ(up->lParam, win::MakeLParam(25, 37));

  // Forgotten, the panel paints without the device.
  panel->Forget();
  win::InvalidateRect(h, nullptr, true);
  win::UpdateWindow(h);
  EXPECT_EQ(rp->Count, 1);
  panel = nullptr;
  EXPECT_FALSE(win::IsWindow(h));
}

// Through the installed window operations a windowed device gets a panel
// at its rectangle; frames still arrive in the form at that place, and a
// panel let go from another thread stops reaching the device at once and
// leaves on the GUI thread.
TEST_F(Gui3DTest, WindowedDeviceGetsItsPanelThroughTheApplication) {
  Ref<TVxApplication> app = Ref<TVxApplication>::Adopt(CreateApplication());
  app->Initialize();
  {
    dxtest::TDxRig rig;
    const win::HWND form = MakeTop();
    TRect client;
    ASSERT_TRUE(win::GetClientRect(form, &client));
    rig.Sink->SetClientSize(form, uint32_t(client.Width()), uint32_t(client.Height()));
    auto device = MakeRef<TDrawDevice>(form);
    auto rp = MakeRef<TRepaints>();
    device->OnRepaint = T3DNotifyEvent::Bind<&TRepaints::On>(rp.get());
    device->SetBounds(TRect{10, 20, 74, 68}, TPoint{}, false);
    Install3DApplicationGate(app.get());
    T3DEngine* e = Engine3D();
    TDisplayModeInfo mode;
    ASSERT_TRUE(e->GetDisplayMode(mode, 0));
    Ref<T3DRenderer> r = e->CreateRenderer(device.get(), mode);
    ASSERT_TRUE(r);
    app->ProcessMessages();
    ASSERT_EQ(r->State(), k3DStateUsable);
    auto* wp = device->FindObject<TWinPanel>();
    ASSERT_TRUE(wp);
    const win::HWND h = win::HWND(wp->Window());
    ASSERT_NE(h, form);
    ASSERT_TRUE(FindDevicePanel(h));
    EXPECT_EQ(win::GetParent(h), form);
    EXPECT_TRUE(win::IsWindowVisible(h));
    TRect wr;
    win::GetWindowRect(h, &wr);
    TPoint origin{};
    win::ClientToScreen(form, &origin);
    EXPECT_EQ(wr.Left - origin.X, 10);
    EXPECT_EQ(wr.Top - origin.Y, 20);
    EXPECT_EQ(wr.Width(), 64);
    EXPECT_EQ(wr.Height(), 48);

    ASSERT_TRUE(r->BeginScene());
    EXPECT_TRUE(r->Clear(1, 0xFF203040, 1.0f, 0, nullptr));
    EXPECT_TRUE(r->EndScene());
    TRect whole{0, 0, 64, 48};
    EXPECT_TRUE(r->Present(&whole, 1, &whole));
    TSwOffscreenSink::TFrame f;
    ASSERT_TRUE(rig.Sink->LastFrame(form, f));
    EXPECT_EQ(f.Pixels[size_t(20) * f.Width + 10], 0xFF203040u);
    EXPECT_EQ(f.Pixels[size_t(67) * f.Width + 73], 0xFF203040u);
    EXPECT_NE(f.Pixels[size_t(19) * f.Width + 10], 0xFF203040u);

    const int painted = rp->Count;
    win::InvalidateRect(h, nullptr, true);
    win::UpdateWindow(h);
    EXPECT_EQ(rp->Count, painted + 1);

    std::thread other([&] { Get3DWindowOps().DestroyPanel(h); });
    other.join();
    EXPECT_FALSE(FindDevicePanel(h));
    win::InvalidateRect(h, nullptr, true);
    win::UpdateWindow(h);
    EXPECT_EQ(rp->Count, painted + 1);
    app->ProcessMessages();
    EXPECT_FALSE(win::IsWindow(h));

    r = nullptr;
    device = nullptr;
    Uninstall3DApplicationGate();
  }
  app->Finalize();
}

TEST_F(Gui3DTest, PendingRendererCompletedThroughTheApplication) {
  Ref<TVxApplication> app = Ref<TVxApplication>::Adopt(CreateApplication());
  app->Initialize();
  {
    dxtest::TDxRig rig;
    Install3DApplicationGate(app.get());
    Engine3D();
    app->ProcessMessages();
    Ref<T3DRenderer> r;
    std::thread engine([&] { r = rig.NewRenderer(); });
    engine.join();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->State(), k3DStatePending);
    app->ProcessMessages();
    EXPECT_EQ(r->State(), k3DStateUsable);
    EXPECT_TRUE(rig.Device->FindObject<TDevStore>());
    r = nullptr;
    Uninstall3DApplicationGate();
  }
  app->Finalize();
}

}  // namespace
}  // namespace kav
