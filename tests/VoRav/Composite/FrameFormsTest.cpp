#include <gtest/gtest.h>

#include "VoRav/Composite/winFrameFormTree.h"
#include "VoRav/Composite/winFrameForms.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

constexpr uint32_t kWsExLayered = 0x80000;

// Records the keys that reach it (it takes the focus of the root).
class TKeyProbe : public TPaintProbe {
 public:
  using TPaintProbe::TPaintProbe;
  std::vector<std::pair<uint16_t, uint8_t>> Keys;
  void KeyEvent(TKeyData* key) override {
    Keys.emplace_back(key->Key, key->Kind);
    TPaintProbe::KeyEvent(key);
  }
  int Count(uint16_t k, uint8_t kind) const {
    return int(std::count(Keys.begin(), Keys.end(), std::make_pair(k, kind)));
  }
};

class TAnswer : public TFrameFormContent {
 public:
  int32_t Action = -1;  // -1 leaves the answer
  bool* Gone = nullptr;
  int Queries = 0;
  void CloseQuery(int32_t& action) override {
    ++Queries;
    if (Action >= 0) action = Action;
  }

 protected:
  void Dispose() override {
    if (Gone) *Gone = true;
    TFrameFormContent::Dispose();
  }
};

class FrameFormsTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    InitializeFrameForms();
  }
  void TearDown() override {
    if (form) form->Free();
    form = nullptr;
    Drain();
    FinalizeFrameForms();
    CompositeTest::TearDown();
  }
  // A shown frame form with a client area of w x h at (100, 100).
  TFrameForm* Open(int32_t w, int32_t h, TFormStyle* style = nullptr) {
    form = CreateFrameForm(style ? style : FormStylePreset(0));
    hwnd = FrameFormWindow(form);
    rc = FrameFormRootControl(form);
    form->SetBounds(TRect{100, 100, 100 + w, 100 + h});
    rc->SetSize(w, h);  // the client area follows the root
    form->SetVisible(true);
    Drain();
    return form;
  }
  const win::TNullWindowBackend::TWindowPixels& Screen() { return backend->Screens[hwnd]; }
  TPoint Origin() {
    TPoint p{0, 0};
    win::ClientToScreen(hwnd, &p);
    return p;
  }
  win::LRESULT Send(uint32_t m, win::WPARAM w, int32_t x, int32_t y) {
    return win::SendMessage(hwnd, m, w, win::MakeLParam(x, y));
  }
  TFrameForm* form = nullptr;
  TWinRootControl* rc = nullptr;
  win::HWND hwnd = 0;
};

uint32_t Rgb(uint32_t argb) { return argb & 0xFFFFFF; }

}  // namespace

TEST_F(FrameFormsTest, ShownFormCopiesTheTreeAndLaterOnlyTheRepaintedCells) {
  Open(200, 100);
  TFrameFormInfo info = FrameFormInfo(form);
  EXPECT_TRUE(info.Sized);
  TPaintProbe* p = AddProbe(rc, "p", 16, 16, 16, 16, 0xFFFF0000u);
  Drain();
  const uint32_t face = Rgb(RootFaceColor());
  ASSERT_EQ(Screen().Width, 200);
  ASSERT_EQ(Screen().Height, 100);
  EXPECT_EQ(Screen().At(0, 0), face);
  EXPECT_EQ(Screen().At(199, 99), face);
  EXPECT_EQ(Screen().At(20, 20), 0xFF0000u);
  // A repaint of the probe alone copies its two-by-two cells and nothing else.
  p->Color = 0xFF00FF00u;
  p->InvalidateAll();
  Drain();
  EXPECT_EQ(Screen().At(20, 20), 0x00FF00u);
  EXPECT_EQ(backend->LastPresentedPixels, 16 * 16);
  EXPECT_EQ(Screen().At(40, 40), face);
}

TEST_F(FrameFormsTest, GrowingAndShrinkingTheWindowRepaintsEveryPixel) {
  Open(120, 80);
  AddProbe(rc, "corner", 100, 60, 20, 20, 0xFF0000FFu);
  Drain();
  for (TSize size : {TSize{300, 200}, TSize{90, 50}, TSize{257, 131}}) {
    win::SetWindowPos(hwnd, 0, 0, 0, 0, 0, 0);  // settle
    TRect r;
    win::GetWindowRect(hwnd, &r);
    TRect c;
    win::GetClientRect(hwnd, &c);
    win::SetWindowPos(hwnd, 0, r.Left, r.Top, r.Width() - c.Width() + size.cx, r.Height() - c.Height() + size.cy,
                      win::SWP_NOZORDER | win::SWP_NOACTIVATE);
    Drain();
    ASSERT_EQ(Screen().Width, size.cx);
    ASSERT_EQ(Screen().Height, size.cy);
    EXPECT_EQ(FrameFormTree(form)->Size().cx, size.cx);
    int wrong = 0;
    for (int32_t y = 0; y < size.cy; ++y)
      for (int32_t x = 0; x < size.cx; ++x) {
        const bool in_probe = x >= 100 && x < 120 && y >= 60 && y < 80;
        if (Screen().At(x, y) != (in_probe ? 0x0000FFu : Rgb(RootFaceColor()))) ++wrong;
      }
    EXPECT_EQ(wrong, 0) << size.cx << "x" << size.cy;
  }
}

TEST_F(FrameFormsTest, ColorKeyClickOnMagentaMovesTheWindowAndBesideItReachesTheControls) {
  Open(100, 80);
  SetFrameFormColorKey(form, true);
  TPaintProbe* p = AddProbe(rc, "p", 20, 20, 20, 20, 0xFF00FF00u);
  Drain();
  EXPECT_EQ(FrameFormTree(form)->PixelAt(19, 20), 0xFF00FFu);
  // Magenta: the tree hears nothing, a double click maximizes and restores.
  Send(win::WM_LBUTTONDOWN, win::MK_LBUTTON, 19, 20);
  Send(win::WM_LBUTTONUP, 0, 19, 20);
  EXPECT_TRUE(p->MouseKinds.empty());
  EXPECT_EQ(win::GetCapture(), 0u);
  Send(win::WM_LBUTTONDBLCLK, win::MK_LBUTTON, 19, 20);
  EXPECT_EQ(form->GetWindowState(), 2);
  Send(win::WM_LBUTTONDBLCLK, win::MK_LBUTTON, 5, 5);
  EXPECT_EQ(form->GetWindowState(), 0);
  EXPECT_TRUE(p->MouseKinds.empty());
  // One pixel further is the control's.
  Send(win::WM_LBUTTONDOWN, win::MK_LBUTTON, 20, 20);
  ASSERT_FALSE(p->MouseKinds.empty());
  EXPECT_EQ(p->MouseKinds.front(), kMouseDown);
  Send(win::WM_LBUTTONUP, 0, 20, 20);
}

TEST_F(FrameFormsTest, AltReleaseIsSwallowedOnlyWhenInputCameWhileAltWasDown) {
  Open(100, 80);
  auto* k = new TKeyProbe(rc->CreateChildFrame(), "k", 0xFF000000u);
  k->SetSize(20, 20);
  k->SetTabStop(true);
  rc->WindowFocusChanged(true);
  rc->SetFocusedChild(k);
  const win::LPARAM repeat = win::LPARAM(1) << 30;
  // Alt alone: the release reaches the tree.
  win::SendMessage(hwnd, win::WM_SYSKEYDOWN, win::VK_MENU, 0);
  win::SendMessage(hwnd, win::WM_SYSKEYDOWN, win::VK_MENU, repeat);  // a repeat is swallowed
  win::SendMessage(hwnd, win::WM_SYSKEYUP, win::VK_MENU, 0);
  EXPECT_EQ(k->Count(18, kKeyDown), 1);
  EXPECT_EQ(k->Count(18, kKeyUp), 1);
  // Alt held over a click: the release is swallowed.
  win::SendMessage(hwnd, win::WM_SYSKEYDOWN, win::VK_MENU, 0);
  Send(win::WM_LBUTTONDOWN, win::MK_LBUTTON, 50, 50);
  Send(win::WM_LBUTTONUP, 0, 50, 50);
  win::SendMessage(hwnd, win::WM_SYSKEYUP, win::VK_MENU, 0);
  EXPECT_EQ(k->Count(18, kKeyDown), 2);
  EXPECT_EQ(k->Count(18, kKeyUp), 1);
  // A plain Alt key-up and repeats of Shift are swallowed; other keys pass.
  win::SendMessage(hwnd, win::WM_KEYUP, win::VK_MENU, 0);
  win::SendMessage(hwnd, win::WM_KEYDOWN, win::VK_SHIFT, repeat);
  win::SendMessage(hwnd, win::WM_KEYDOWN, 'A', 0);
  EXPECT_EQ(k->Count(18, kKeyUp), 1);
  EXPECT_EQ(k->Count(win::VK_SHIFT, kKeyDown), 0);
  EXPECT_EQ(k->Count('A', kKeyDown), 1);
}

TEST_F(FrameFormsTest, CloseAnswersHideMinimizeKeepOrFree) {
  bool gone = false;
  Open(100, 80);
  auto* answer = new TAnswer;
  answer->Gone = &gone;
  form->SetContent(answer);
  // A hidden form answers 1 itself: nothing is freed and the content is not asked.
  form->SetVisible(false);
  win::SendMessage(hwnd, win::WM_CLOSE, 0, 0);
  EXPECT_EQ(answer->Queries, 0);
  EXPECT_FALSE(form->IsVisible());
  form->SetVisible(true);
  answer->Action = 0;
  win::SendMessage(hwnd, win::WM_CLOSE, 0, 0);
  EXPECT_TRUE(form->IsVisible());
  answer->Action = 1;
  win::SendMessage(hwnd, win::WM_CLOSE, 0, 0);
  EXPECT_FALSE(form->IsVisible());
  form->SetVisible(true);
  answer->Action = 3;
  win::SendMessage(hwnd, win::WM_CLOSE, 0, 0);
  EXPECT_EQ(form->GetWindowState(), 1);
  form->SetWindowState(0);
  answer->Action = -1;  // the default: free
  win::SendMessage(hwnd, win::WM_CLOSE, 0, 0);
  EXPECT_TRUE(FrameFormInfo(form).Closing);
  EXPECT_FALSE(gone);  // freed by the form's free message, not inside the close
  Drain();
  EXPECT_TRUE(gone);
  EXPECT_FALSE(win::IsWindow(hwnd));
  form = nullptr;
}

TEST_F(FrameFormsTest, LeavingTheWindowWithoutCaptureEndsTheHover) {
  Open(100, 80);
  TPaintProbe* p = AddProbe(rc, "p", 10, 10, 30, 30);
  Drain();
  const TPoint o = Origin();
  win::InjectMouseMove(o.X + 20, o.Y + 20);
  Drain();
  ASSERT_FALSE(p->MouseKinds.empty());
  EXPECT_TRUE(FrameFormInfo(form).LeavePollRunning);
  // Out of the window: no message reaches it; the poll finds the pointer outside.
  win::InjectMouseMove(o.X + 500, o.Y + 500);
  Drain();
  EXPECT_EQ(p->Leaves, 0);
  backend->Advance(60);
  Drain();
  EXPECT_EQ(p->Leaves, 1);
  EXPECT_FALSE(FrameFormInfo(form).LeavePollRunning);
  // With the capture held the poll waits.
  win::InjectMouseMove(o.X + 20, o.Y + 20);
  Drain();
  win::SetCapture(hwnd);
  win::InjectMouseMove(o.X + 500, o.Y + 500);
  backend->Advance(60);
  Drain();
  EXPECT_TRUE(FrameFormInfo(form).LeavePollRunning);
  win::ReleaseCapture();
}

TEST_F(FrameFormsTest, PresetsStylesAndMessagesOfToolAndClickThroughForms) {
  ASSERT_NE(FormStylePreset(0), nullptr);
  EXPECT_EQ(FormStylePreset(1)->BorderStyle, 4);
  EXPECT_FALSE(FormStylePreset(1)->ShowInTaskbar);
  EXPECT_TRUE(FormStylePreset(2)->MouseTransparent);
  EXPECT_EQ(FormStylePreset(3), nullptr);
  // A plain style sets only the taskbar button.
  Ref<TFormStyle> plain = MakeRef<TFormStyle>();
  TFrameForm* other = CreateFrameForm(plain.get());
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(win::GetWindowLong(FrameFormWindow(other), win::GWL_EXSTYLE) & win::WS_EX_TOPMOST, 0);
  other->Free();

  Open(100, 80, FormStylePreset(2));
  EXPECT_NE(win::GetWindowLong(hwnd, win::GWL_EXSTYLE) & win::WS_EX_TOPMOST, 0);
  EXPECT_NE(win::GetActiveWindow(), hwnd);  // shown without activation
  EXPECT_TRUE(form->IsVisible());
  EXPECT_EQ(win::SendMessage(hwnd, win::WM_NCHITTEST, 0, win::MakeLParam(Origin().X + 5, Origin().Y + 5)), -1);
  EXPECT_EQ(win::SendMessage(hwnd, win::WM_MOUSEACTIVATE, 0, 0), 3);
  EXPECT_EQ(win::SendMessage(hwnd, win::WM_ERASEBKGND, 0, 0), 1);
  form->SetVisible(false);
  EXPECT_FALSE(form->IsVisible());
}

TEST_F(FrameFormsTest, WindowAlphaShapeAndTaskbarHooks) {
  Open(40, 30);
  // 255 on a window that is not layered: nothing changes, success.
  EXPECT_TRUE(WindowAlphaHook(form, 255));
  EXPECT_EQ(win::GetWindowLong(hwnd, win::GWL_EXSTYLE) & kWsExLayered, 0);
  EXPECT_EQ(backend->Opacity.count(hwnd), 0u);
  EXPECT_TRUE(WindowAlphaHook(form, 128));
  EXPECT_NE(win::GetWindowLong(hwnd, win::GWL_EXSTYLE) & kWsExLayered, 0);
  EXPECT_EQ(backend->Opacity[hwnd], 128);
  EXPECT_TRUE(WindowAlphaHook(form, 300));
  EXPECT_EQ(win::GetWindowLong(hwnd, win::GWL_EXSTYLE) & kWsExLayered, 0);
  EXPECT_EQ(backend->Opacity[hwnd], 255);
  // The shape: premultiplied pixels of the bitmap.
  Ref<TSysBitmap> b = CreateSysBitmap(2, 1, StdFormats().A8R8G8B8);
  auto* px = reinterpret_cast<uint32_t*>(b->Row(0));
  px[0] = 0x80FFFFFFu;
  px[1] = 0xFF123456u;
  EXPECT_TRUE(WindowShapeHook(form, b.get()));
  ASSERT_EQ(backend->Shapes[hwnd].Pixels.size(), 2u);
  EXPECT_EQ(backend->Shapes[hwnd].Pixels[0], 0x80808080u);
  EXPECT_EQ(backend->Shapes[hwnd].Pixels[1], 0xFF123456u);
  // No taskbar: every progress call answers false; a bad code is an assertion.
  int32_t code = 2;
  float value = 0.5f;
  EXPECT_FALSE(TaskbarProgressHook(form, code, value));
  code = 0;
  EXPECT_FALSE(TaskbarProgressHook(form, code, value));
  code = 9;
  EXPECT_THROW(TaskbarProgressHook(form, code, value), std::exception);
  // Anything but a window frame form goes to the previous hooks (none: false).
  EXPECT_FALSE(WindowAlphaHook(nullptr, 10));
  EXPECT_FALSE(WindowShapeHook(nullptr, b.get()));
}

TEST(LayeredPixel, PremultipliesWithRoundingAndScalesAlpha) {
  // A shift by 8 would give 0x7F for the half-white pixel and 0xFE at 254.
  EXPECT_EQ(LayeredPixel(0x80FFFFFFu, 256), 0x80808080u);
  EXPECT_EQ(LayeredPixel(0xFEFFFFFFu, 256), 0xFEFEFEFEu);
  EXPECT_EQ(LayeredPixel(0xFF123456u, 256), 0xFF123456u);
  EXPECT_EQ(LayeredPixel(0x00FFFFFFu, 256), 0x00000000u);
  EXPECT_EQ(LayeredPixel(0xFFFFFFFFu, 128), 0x7F7F7F7Fu);
  EXPECT_EQ(LayeredPixel(0x80FFFFFFu, 1000), 0xFFFFFFFFu);
}

namespace {

// Throws from its paint while armed.
class TThrowingProbe : public TPaintProbe {
 public:
  using TPaintProbe::TPaintProbe;
  bool Armed = false;
  void Paint(TDrawSurface* surface) override {
    if (Armed) {
      Armed = false;
      throw std::runtime_error("paint failed");
    }
    TPaintProbe::Paint(surface);
  }
};

// Sends a message to its window and repaints itself when pressed.
class TNestingProbe : public TPaintProbe {
 public:
  using TPaintProbe::TPaintProbe;
  win::HWND Window = 0;
  int64_t PresentsInside = -1;
  win::TNullWindowBackend* Backend = nullptr;
  void MouseEvent(TMouseData* data) override {
    TPaintProbe::MouseEvent(data);
    if (data->Kind != kMouseDown) return;
    Color = 0xFF0000FFu;
    InvalidateAll();
    const int32_t before = Backend->Screens[Window].Presents;
    win::SendMessage(Window, win::WM_USER + 5, 0, 0);  // a nested message
    PresentsInside = Backend->Screens[Window].Presents - before;
  }
};

}  // namespace

TEST_F(FrameFormsTest, RepaintWaitsForTheOutermostMessageAndAFailedRepaintIsReported) {
  Open(100, 80);
  auto* n = new TNestingProbe(rc->CreateChildFrame(), "n", 0xFF00FF00u);
  n->SetSize(40, 40);
  n->Window = hwnd;
  n->Backend = backend;
  Drain();
  Send(win::WM_LBUTTONDOWN, win::MK_LBUTTON, 10, 10);
  EXPECT_EQ(n->PresentsInside, 0);                // nothing pushed inside the nested message
  EXPECT_EQ(Screen().At(10, 10), 0x0000FFu);      // pushed after the outer one
  Send(win::WM_LBUTTONUP, 0, 10, 10);
  auto* t = new TThrowingProbe(rc->CreateChildFrame(), "t", 0xFFFF0000u);
  t->SetPosition(50, 0);
  t->SetSize(20, 20);
  Drain();
  t->Armed = true;
  t->InvalidateAll();
  Drain();
  ASSERT_EQ(backend->Boxes.size(), 1u);
  EXPECT_EQ(backend->Boxes[0].text, u"Frame Engine Exception");
  EXPECT_EQ(backend->Boxes[0].caption, u"Error");
  EXPECT_EQ(backend->Boxes[0].flags & win::MB_ICONERROR, win::MB_ICONERROR);
  // The loop goes on: the next repaint works.
  t->InvalidateAll();
  Drain();
  EXPECT_EQ(Screen().At(55, 5), 0xFF0000u);
}

namespace {

// Frees the frame form it lies on when a button goes down on it, a key
// goes down while it has the focus, or its animation ticks, the way a
// Close button, Escape or the end of a fade ends its window.
class TFormCloser : public TPaintProbe {
 public:
  using TPaintProbe::TPaintProbe;
  TFrameForm** Form = nullptr;
  void MouseEvent(TMouseData* data) override {
    TPaintProbe::MouseEvent(data);
    if (data->Kind == kMouseDown) Close();
  }
  void KeyEvent(TKeyData* key) override {
    if (key->Kind != kKeyDown) return;
    key->Handled = true;
    Close();
  }
  void TimeRefresh() override {
    StopTimeRefresh();
    Close();
  }
  void Close() {
    if (Form && *Form) std::exchange(*Form, nullptr)->Free();
  }
};

}  // namespace

// A click whose handler frees the whole form, tree and window: nothing of
// the form is touched after the handler returns, and no capture is left.
TEST_F(FrameFormsTest, AClickThatFreesItsWholeFormEndsCleanly) {
  for (bool through_window : {true, false}) {
    SCOPED_TRACE(through_window ? "a window message" : "the tree's mouse entry");
    Open(100, 80);
    auto* closer = new TFormCloser(rc->CreateChildFrame(), "close", 0xFF0000FFu);
    closer->SetPosition(10, 10);
    closer->SetSize(30, 20);
    closer->Form = &form;
    Drain();
    if (through_window)
      Send(win::WM_LBUTTONDOWN, win::MK_LBUTTON, 20, 20);
    else
      FrameFormTree(form)->Mouse(win::WM_LBUTTONDOWN, win::MK_LBUTTON, win::MakeLParam(20, 20), Origin());
    EXPECT_EQ(form, nullptr);
    Drain();
    EXPECT_FALSE(win::IsWindow(hwnd));
    EXPECT_EQ(win::GetCapture(), win::HWND(0));
    EmptyPendingReleaseList();
  }
}

// The same through a key and through an animation tick.
TEST_F(FrameFormsTest, AKeyOrATickThatFreesItsWholeFormEndsCleanly) {
  for (int route = 0; route < 3; ++route) {
    SCOPED_TRACE(route == 0 ? "a window key" : route == 1 ? "the tree's key entry" : "a tick");
    Open(100, 80);
    auto* closer = new TFormCloser(rc->CreateChildFrame(), "close", 0xFF0000FFu);
    closer->SetSize(30, 20);
    closer->SetTabStop(true);
    closer->Form = &form;
    win::SendMessage(hwnd, win::WM_SETFOCUS, 0, 0);
    closer->Focus();
    Drain();
    if (route == 0) {
      win::SendMessage(hwnd, win::WM_KEYDOWN, win::VK_RETURN, 0);
    } else if (route == 1) {
      uint16_t key = win::VK_RETURN;
      FrameFormTree(form)->Key(0, key, kKeyDown);
      EXPECT_EQ(key, 0) << "a handled key comes back as 0";
    } else {
      closer->StartTimeRefresh();
      for (int i = 0; i < 10 && form; ++i) {
        backend->Advance(20);
        Drain();
      }
    }
    EXPECT_EQ(form, nullptr);
    Drain();
    EXPECT_FALSE(win::IsWindow(hwnd));
    EmptyPendingReleaseList();
  }
}
