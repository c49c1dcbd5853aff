#include <gtest/gtest.h>

#include "VoRav/Composite/winFrameForms.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

// A frame form as far as the root control sees it.
class TStubForm : public TWinRootForm {
 public:
  TRootFrame* Frame = new TRootFrame();  // freed by the root control
  win::HWND Handle = 0;
  bool ColorKey = false;
  TSize Client{0, 0};
  int SetClientCalls = 0;
  int Nested = 0;
  int MaxNested = 0;
  TRootFrame* RootFrame() override { return Frame; }
  win::HWND GetHandle() override { return Handle; }
  bool ColorKeyMode() override { return ColorKey; }
  TSize ClientSize() override { return Client; }
  void SetClientSize(int32_t w, int32_t h) override {
    ++SetClientCalls;
    Client = TSize{w, h};
  }
  void EnterNested() override { MaxNested = std::max(MaxNested, ++Nested); }
  void LeaveNested() override { --Nested; }
};

class WinRootControlTest : public CompositeTest {
 protected:
  TWinRootControl* MakeWinRoot(int32_t w, int32_t h) {
    form.Handle = MakeTop(win::WS_OVERLAPPEDWINDOW | win::WS_VISIBLE, TRect{100, 100, 100 + w, 100 + h});
    auto* r = new TWinRootControl(&form);
    root = Ref<TRootControl>::Adopt(r);
    frame = form.Frame;
    r->SetSize(w, h);
    frame->SetBounds(0, 0, w, h);
    return r;
  }
  int UiStateMessages() const {
    int n = 0;
    for (const auto& m : recorder.Log)
      if (m.message == win::WM_CHANGEUISTATE && m.wParam == 0x10002) ++n;
    return n;
  }
  TStubForm form;
};

}  // namespace

TEST_F(WinRootControlTest, KeysFromTheWindowNavigateAndShowCuesOnce) {
  TWinRootControl* r = MakeWinRoot(200, 100);
  TPaintProbe* a = AddProbe(r, "a", 0, 0, 50, 50);
  TPaintProbe* b = AddProbe(r, "b", 50, 0, 50, 50);
  a->SetTabStop(true);
  b->SetTabStop(true);
  r->WindowFocusChanged(true);
  EXPECT_TRUE(r->Focused());
  // A plain key stays with the window.
  uint16_t key = 65;
  r->WindowKey(0, key, kKeyDown);
  EXPECT_EQ(key, 65);
  EXPECT_EQ(UiStateMessages(), 0);
  // Tab moves the focus; the handled key comes back as 0; the cues are asked for once.
  key = 9;
  r->WindowKey(0, key, kKeyChar);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(r->FocusedChild(), a);
  EXPECT_EQ(UiStateMessages(), 1);
  EXPECT_TRUE(r->CuesShown());
  key = 39;
  r->WindowKey(0, key, kKeyDown);
  EXPECT_EQ(r->FocusedChild(), b);
  key = 18;
  r->WindowKey(0, key, kKeyDown);
  EXPECT_EQ(UiStateMessages(), 1);
  // Losing the window's focus takes the state from the chain.
  r->WindowFocusChanged(false);
  EXPECT_FALSE(b->Focused());
  EXPECT_EQ(r->FocusedChild(), b);
}

TEST_F(WinRootControlTest, AltAloneAsksForCuesAndTheStateIsReadOncePerKey) {
  TWinRootControl* r = MakeWinRoot(100, 100);
  struct TAsk : TEventHandler {
    bool shift_down = false;
    void HandleEvent(TRefObject*, int32_t, intptr_t param) override {
      shift_down = reinterpret_cast<TKeyData*>(param)->IsKeyDown(win::VK_SHIFT);
    }
  };
  Ref<TAsk> ask = MakeRef<TAsk>();
  r->Events()->AddHandler(kFrameEventKey, ask.get());
  win::InjectKey(win::VK_SHIFT, true);
  uint16_t key = 18;
  r->WindowKey(kShiftShift, key, kKeyDown);
  EXPECT_EQ(UiStateMessages(), 1);
  EXPECT_TRUE(ask->shift_down);
  EXPECT_TRUE(r->KeyboardData()->StateRead);
  win::InjectKey(win::VK_SHIFT, false);
  key = 18;
  r->WindowKey(0, key, kKeyDown);  // a new key reads the state again
  EXPECT_FALSE(ask->shift_down);
}

TEST_F(WinRootControlTest, PaintsItsBackgroundAndKeepsTheClientSize) {
  TWinRootControl* r = MakeWinRoot(64, 32);
  EXPECT_EQ(form.SetClientCalls, 1);
  EXPECT_EQ(form.Client, (TSize{64, 32}));
  r->SetSize(64, 32);
  EXPECT_EQ(form.SetClientCalls, 1);
  // The form reports the size it was given: no second call, no loop.
  r->SetSize(80, 40);
  EXPECT_EQ(form.SetClientCalls, 2);
  EXPECT_EQ(form.Client, (TSize{80, 40}));
  frame->SetBounds(0, 0, 80, 40);
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(70, 35), 0xF0F0F0u);  // the system colours' button face
  form.ColorKey = true;
  r->ThemeChanged();
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(70, 35), 0xFF00FFu);
  EXPECT_THROW(new TWinRootControl(nullptr), EAbort);
}

TEST_F(WinRootControlTest, ScreenPointsAndMouseRefresh) {
  TWinRootControl* r = MakeWinRoot(200, 100);
  TPaintProbe* a = AddProbe(r, "a", 10, 10, 40, 40);
  TPoint client0;
  win::ClientToScreen(form.Handle, &client0);
  TPoint p;
  a->ClientToScreen(1, 2, p);
  EXPECT_EQ(p, (TPoint{client0.X + 11, client0.Y + 12}));
  bool hit = false;
  TPoint local;
  EXPECT_EQ(r->ControlAt(client0.X + 15, client0.Y + 15, hit, local), a);
  // The tree changed under a resting pointer: the hover follows.
  backend->SetPointer(client0.X + 20, client0.Y + 20);
  a->RefreshMouse();
  ASSERT_EQ(a->MouseKinds.size(), 1u);
  EXPECT_EQ(a->MousePoints[0], (TPoint{10, 10}));
}

TEST_F(WinRootControlTest, RefreshTicksRunInsideTheFormsNesting) {
  TWinRootControl* r = MakeWinRoot(100, 100);
  TPaintProbe* a = AddProbe(r, "a", 0, 0, 10, 10);
  struct TSeen : TEventHandler {
    TStubForm* form;
    int nested_at_tick = -1;
    void HandleEvent(TRefObject*, int32_t, intptr_t) override { nested_at_tick = form->Nested; }
  };
  Ref<TSeen> seen = MakeRef<TSeen>();
  seen->form = &form;
  a->Events()->AddHandler(kFrameEventTimeRefresh, seen.get());
  a->StartTimeRefresh();
  TRefreshNotifier* n = r->RefreshNotifier();
  EXPECT_NE(dynamic_cast<TWinRefreshNotifier*>(n), nullptr);
  backend->Advance(n->Interval());
  Drain();
  EXPECT_EQ(seen->nested_at_tick, 1);
  EXPECT_EQ(form.Nested, 0);
  a->Free();  // the next tick reaches nobody and stops the timer
  backend->Advance(n->Interval());
  Drain();
  EXPECT_FALSE(n->TimerRunning());
}

TEST_F(WinRootControlTest, TheRootIsItsWindowsFocusRoot) {
  InitWinFrameControls();
  TWinRootControl* r = MakeWinRoot(120, 60);
  TFocusHelper* helper = AttachFocusHelper(r);
  ASSERT_NE(helper, nullptr);
  // The window's helper, kept in the root's attached objects and found there again.
  auto* win_helper = dynamic_cast<TWinFocusHelper*>(helper);
  ASSERT_NE(win_helper, nullptr);
  EXPECT_EQ(win_helper->Root()->RootWindow(), form.Handle);
  EXPECT_EQ(AttachFocusHelper(r), helper);
  EXPECT_GE(r->Events()->AttachedObjects().IndexOf(helper), 0);
  // A change of the window's keyboard cues reaches the helper's listeners.
  struct TCount {
    int Raised = 0;
    void On(TFocusHelper*, int32_t code) { Raised += code == 1; }
  } count;
  helper->AddListener(TFocusHelper::TListener::Bind<&TCount::On>(&count));
  r->UIStateChanged();
  EXPECT_EQ(count.Raised, 1);
  helper->RemoveListener(TFocusHelper::TListener::Bind<&TCount::On>(&count));
  FinalizeWinFrameControls();
}
