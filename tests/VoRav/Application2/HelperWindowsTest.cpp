#include <gtest/gtest.h>

#include "VoRav/Application2/winDumbWindow.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

class TCountingDumb : public TDumbWindow {
 public:
  std::vector<uint32_t> seen;

 protected:
  void HandleMessage(TMessageRecord& msg) override {
    seen.push_back(msg.Msg);
    TDumbWindow::HandleMessage(msg);
  }
};

// The base class of the test controls: a plain procedure that answers
// WM_GETFONT with a font of its own.
LRESULT PanelBaseProc(HWND h, uint32_t m, WPARAM w, LPARAM l) {
  if (m == WM_GETFONT) return 0xBA5E;
  if (m == WM_USER) return 42;
  return DefWindowProc(h, m, w, l);
}

class TPanel : public TWinControl {
 public:
  std::vector<uint32_t> seen;

 protected:
  void GetWindowClass(TWndClass& wc) override {
    wc = TWndClass{};
    wc.proc = TWndProc::Bind<&PanelBaseProc>();
  }
  void CreateParams(TControlCreateParams& p) override {
    TWinControl::CreateParams(p);
    p.Style |= WS_VISIBLE;
    p.X = 5; p.Y = 6; p.Width = 70; p.Height = 80;
  }
  void HandleMessage(TMessageRecord& msg) override {
    seen.push_back(msg.Msg);
    TWinControl::HandleMessage(msg);
  }
};

class TOtherPanel : public TPanel {};

class HelperWindowsTest : public WindowTest {};

}  // namespace

TEST_F(HelperWindowsTest, DumbWindowOwnsAHandleAndNeverShows) {
  Ref<TCountingDumb> d = MakeRef<TCountingDumb>();
  d->SetBounds(TRect{10, 20, 110, 220});
  HWND h = d->Handle();
  ASSERT_TRUE(IsWindow(h));
  EXPECT_FALSE(IsWindowVisible(h));
  TRect r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r, (TRect{10, 20, 110, 220}));
  EXPECT_EQ(d->seen.front(), WM_NCCREATE);  // the first message reached the object
  EXPECT_EQ(GetClassName(h), u"TDumbWindow");
  Ref<TCountingDumb> second = MakeRef<TCountingDumb>();
  second->CreateHandle();  // the class is registered once
  EXPECT_NE(second->Handle(), h);
  d = nullptr;
  EXPECT_FALSE(IsWindow(h));
  DestroyWindow(second->Handle());
  EXPECT_EQ(second->Handle(), 0u);  // cleared on WM_DESTROY
}

TEST_F(HelperWindowsTest, ControlsGetTheirMessagesAndShareTheirClass) {
  HWND parent = MakeTop();
  recorder.Hook = [](HWND, uint32_t m, WPARAM, LPARAM, LRESULT& r) {
    if (m == WM_GETFONT) { r = 0xF0; return true; }
    return false;
  };
  Ref<TPanel> a = MakeRef<TPanel>();
  a->CreateControl(parent);
  Ref<TPanel> b = MakeRef<TPanel>();
  b->CreateControl(parent);
  EXPECT_EQ(a->WindowClassName(), u"TPanel");
  EXPECT_EQ(GetClassName(a->Handle()), u"TPanel");
  EXPECT_EQ(GetParent(a->Handle()), parent);
  EXPECT_EQ(a->Font(), 0xF0u);  // the parent's font
  EXPECT_EQ(SendMessage(a->Handle(), WM_GETFONT, 0, 0), 0xF0);
  EXPECT_EQ(SendMessage(a->Handle(), WM_USER, 0, 0), 42);  // passed on to the base procedure
  EXPECT_EQ(a->seen.front(), WM_NCCREATE);
  EXPECT_EQ(a->GetBoundsRect(), (TRect{5, 6, 75, 86}));
  a->SetBounds(TRect{1, 2, 3, 4});
  EXPECT_EQ(a->GetBoundsRect(), (TRect{1, 2, 3, 4}));
  a->SetText(u"label");
  EXPECT_EQ(GetWindowText(a->Handle()), u"label");
  a->SetShowState(0);
  EXPECT_FALSE(IsWindowVisible(a->Handle()));
  const int32_t thunks = ThunkCount();
  HWND ah = a->Handle();
  a = nullptr;
  EXPECT_FALSE(IsWindow(ah));
  EXPECT_EQ(ThunkCount(), thunks - 1);
}

TEST_F(HelperWindowsTest, ControlWithoutAFontAsksTheBaseClassAndAForeignClassIsReplaced) {
  HWND parent = MakeTop();  // answers WM_GETFONT with 0
  TWndClass foreign;
  foreign.class_name = u"TOtherPanel";
  foreign.proc = recorder.AsProc();
  RegisterClass(foreign);
  Ref<TOtherPanel> c = MakeRef<TOtherPanel>();
  c->CreateControl(parent);
  EXPECT_EQ(c->Font(), 0u);
  EXPECT_EQ(SendMessage(c->Handle(), WM_GETFONT, 0, 0), 0xBA5E);
  EXPECT_FALSE(c->seen.empty());  // our procedure, not the foreign one, took the first message
}
