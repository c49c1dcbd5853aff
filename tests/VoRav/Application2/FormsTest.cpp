#include <gtest/gtest.h>

#include <cmath>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winForms.h"
#include "tests/VoRav/Application2/AppTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

struct TFormLog {
  std::vector<uint32_t> events;
  uint16_t consume_key = 0;  // a key down of this key is consumed
  std::vector<std::vector<int32_t>> mouse;
  std::vector<std::vector<int32_t>> keys;
  TRect clamp_to;  // adjust bounds: width at most clamp_to.Width() when set
  void On(TRefObject*, uint32_t id, void* p) {
    events.push_back(id);
    if (id == kFormEventKey) {
      auto* k = static_cast<TKeybordData*>(p);
      keys.push_back({k->Shift, k->Key, k->Kind});
      if (k->Kind == 1 && k->Key == consume_key) k->Key = 0;
    } else if (id == kFormEventMouse) {
      auto* m = static_cast<TFormMouseData*>(p);
      mouse.push_back({m->X, m->Y, m->Button, m->Kind});
    } else if (id == kFormEventAdjustBounds && clamp_to.Width() > 0) {
      auto* a = static_cast<TAdjustBoundsData*>(p);
      a->Rect.Right = std::min(a->Rect.Right, a->Rect.Left + clamp_to.Width());
    }
  }
};

class TClosingForm : public TVxForm {
 public:
  using TVxForm::TVxForm;
  int32_t action = kCloseHide;
  void CloseQuery(int32_t& a) override { a = action; }
};

class FormsTest : public AppTest {
 protected:
  template <class F = TVxForm>
  Ref<F> NewForm(TFormLog& log) {
    Ref<F> f = MakeRef<F>(&CreateWinFormController);
    for (uint32_t id = 0; id <= 23; ++id) f->Events()->AddHandler(id, TEventListHandler::Bind<&TFormLog::On>(&log));
    return f;
  }
};

}  // namespace

TEST_F(FormsTest, AFormWithoutAWindowRecordsItsStateAndRaisesItsEvents) {
  TFormLog log;
  Ref<TVxForm> f = NewForm(log);
  // Default bounds: three quarters of the work area, centred.
  const TRect work = GetWorkArea();
  const int32_t w = (work.Width() - GetSystemMetrics(SM_CXFRAME)) * 3 / 4;
  EXPECT_EQ(f->Bounds().Width(), w);
  EXPECT_EQ(f->Bounds().Left, work.Left + (work.Width() - w) / 2);
  EXPECT_EQ(f->BorderStyle(), 1);
  EXPECT_EQ(f->BorderIcons(), 7);
  f->SetCaption(u"");
  EXPECT_TRUE(log.events.empty());  // equal: no event
  f->SetCaption(u"Show");
  EXPECT_EQ(log.events, (std::vector<uint32_t>{3}));
  log.events.clear();
  log.clamp_to = TRect{0, 0, 300, 0};
  f->SetBoundsRect(TRect{10, 20, 910, 420});
  EXPECT_EQ(log.events, (std::vector<uint32_t>{kFormEventAdjustBounds, 8, 7}));
  EXPECT_EQ(f->Bounds(), (TRect{10, 20, 310, 420}));
  TFormUpdate bad;
  bad.Kind = kFormCapture;
  EXPECT_THROW(f->ApplyStateChanges({&bad, 1}), EAbort);
  bad.Kind = 13;
  EXPECT_THROW(f->ApplyStateChanges({&bad, 1}), EAbort);
  EXPECT_THROW(f->ApplyStateChanges({}), EAbort);
  log.events.clear();
  f = nullptr;
  EXPECT_EQ(log.events, (std::vector<uint32_t>{kFormEventDestroy}));
}

TEST_F(FormsTest, ShowingCreatesTheWindowFromTheFormsState) {
  TFormLog log;
  Ref<TVxForm> f = NewForm(log);
  f->SetCaption(u"Player");
  f->SetBoundsRect(TRect{100, 100, 500, 400});
  f->SetStayOnTop(true);
  f->Show();
  HWND h = f->Controller()->GetHandle();
  ASSERT_TRUE(IsWindow(h));
  EXPECT_TRUE(f->Visible());
  EXPECT_TRUE(f->Active());
  EXPECT_EQ(GetWindowText(h), u"Player");
  EXPECT_EQ(GetOwner(h), app->GetHandle());  // no taskbar button: owned by the application
  const uint32_t style = static_cast<uint32_t>(GetWindowLong(h, GWL_STYLE));
  const uint32_t ex = static_cast<uint32_t>(GetWindowLong(h, GWL_EXSTYLE));
  EXPECT_EQ(style & 0x06C40000u, 0x06C40000u);
  EXPECT_NE(style & WS_SYSMENU, 0u);
  EXPECT_NE(ex & WS_EX_TOPMOST, 0u);
  EXPECT_NE(ex & WS_EX_CONTROLPARENT, 0u);
  TRect r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r, (TRect{100, 100, 500, 400}));
  // The window system moves it: the form follows.
  log.events.clear();
  InjectBounds(h, TRect{50, 60, 450, 360});
  EXPECT_EQ(f->Bounds(), (TRect{50, 60, 450, 360}));
  EXPECT_EQ(log.events, (std::vector<uint32_t>{7}));
  // Setters now go through the window.
  f->SetCaption(u"Again");
  EXPECT_EQ(f->Caption(), u"Again");
  f->SetVisible(false);
  EXPECT_FALSE(f->Visible());
  EXPECT_FALSE(IsWindowVisible(h));
  TSize nc = f->GetNonClientSize();
  TRect in = NonClientInsets(style, ex);
  EXPECT_EQ(nc.cx, in.Left + in.Right);
  f->SetClientSize(200, 100);
  EXPECT_EQ(f->GetClientSize(), (TSize{200, 100}));
}

TEST_F(FormsTest, KeysMouseAndWheelBecomeFormEvents) {
  TFormLog log;
  Ref<TVxForm> f = NewForm(log);
  f->SetBoundsRect(TRect{100, 100, 500, 400});
  f->Show();
  HWND h = f->Controller()->GetHandle();
  Drain();
  log.consume_key = 'Q';
  InjectKey('Q', true);
  InjectChar(u'q');  // suppressed: its key was consumed
  InjectKey('W', true);
  InjectChar(u'w');
  Drain();
  EXPECT_EQ(log.keys, (std::vector<std::vector<int32_t>>{{0, 'Q', 1}, {0, 'W', 1}, {0, 'w', 2}}));
  TPoint o = f->ClientToScreen(TPoint{7, 9});
  InjectMouseButton(1, true, o.X, o.Y);
  Drain();
  EXPECT_TRUE(f->HasMouseCapture());  // auto-capture on the press
  InjectMouseButton(1, false, o.X - 20, o.Y);  // released outside: still ours
  Drain();
  EXPECT_FALSE(f->HasMouseCapture());
  EXPECT_EQ(log.mouse, (std::vector<std::vector<int32_t>>{{7, 9, kMouseLeft, kMouseDown}, {-13, 9, kMouseLeft, kMouseUp}}));
  log.events.clear();
  InjectWheel(-240, o.X, o.Y);
  Drain();
  EXPECT_EQ(log.events, (std::vector<uint32_t>{kFormEventWheel}));
  (void)h;
}

TEST_F(FormsTest, CloseActions) {
  TFormLog log;
  Ref<TClosingForm> hide = NewForm<TClosingForm>(log);
  hide->Show();
  hide->Close();
  EXPECT_FALSE(hide->Visible());
  hide->action = kCloseMinimize;
  hide->Show();
  hide->Close();
  EXPECT_EQ(hide->WindowState(), 1);
  hide->action = 9;
  EXPECT_THROW(hide->Close(), EAbort);

  // Freed from the window's own queue, after the procedure returned.
  TFormLog log2;
  TClosingForm* freed = NewForm<TClosingForm>(log2).release();
  freed->action = kCloseFree;
  freed->Show();
  HWND h = freed->Controller()->GetHandle();
  Drain();
  PostMessage(h, WM_CLOSE, 0, 0);
  Drain();
  EXPECT_NE(std::find(log2.events.begin(), log2.events.end(), kFormEventDestroy), log2.events.end());
  EXPECT_FALSE(IsWindow(h));

  // Without a window the form goes at once, inside its own Close.
  TFormLog log3;
  TClosingForm* at_once = NewForm<TClosingForm>(log3).release();
  at_once->action = kCloseFree;
  at_once->Close();
  EXPECT_EQ(log3.events.back(), kFormEventDestroy);
}

TEST_F(FormsTest, AFixedSizeFormCannotBeResizedAndKeepsItsStyles) {
  TFormLog log;
  Ref<TVxForm> f = NewForm(log);
  f->SetBorderStyle(3);
  f->SetBoundsRect(TRect{100, 100, 500, 400});
  f->Show();
  HWND h = f->Controller()->GetHandle();
  EXPECT_EQ(SendMessage(h, WM_NCHITTEST, 0, MakeLParam(101, 250)), HTCLIENT);  // the left border
  SendMessage(h, WM_SYSCOMMAND, SC_SIZE, 0);
  EXPECT_EQ(SendMessage(h, WM_MENUCHAR, 0, 0), 0x10000);
  // Other code changing the style cannot take the computed bits away.
  SetWindowLong(h, GWL_STYLE, WS_POPUP);
  EXPECT_EQ(static_cast<uint32_t>(GetWindowLong(h, GWL_STYLE)) & 0x06C40000u, 0x06C40000u);
  log.events.clear();
  f->SetBorderIcons(kIconSystemMenu | kIconMinimize);
  EXPECT_EQ(std::count(log.events.begin(), log.events.end(), 13u), 2);  // recorded, then raised again
  const uint32_t style = static_cast<uint32_t>(GetWindowLong(h, GWL_STYLE));
  EXPECT_NE(style & WS_MINIMIZEBOX, 0u);
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0u);
}

TEST_F(FormsTest, StylePairsProgressValuesAndTheControllerFactory) {
  TFormStyles s = FormStyles(0, 7, 0, false, false);
  EXPECT_EQ(s.Style, WS_POPUP);
  EXPECT_EQ(s.ExStyle, WS_EX_CONTROLPARENT);
  s = FormStyles(5, 15, 2, true, true);
  EXPECT_EQ(s.Style, WS_CAPTION | WS_VISIBLE | WS_MAXIMIZE | WS_SYSMENU | WS_MINIMIZEBOX);
  EXPECT_EQ(s.ExStyle, WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT | WS_EX_TOPMOST | WS_EX_CONTEXTHELP);
  EXPECT_EQ(EffectiveBorderIcons(6, 7), kIconSystemMenu);
  EXPECT_THROW(FormStyles(7, 0, 0, false, false), EAbort);
  EXPECT_EQ(TaskbarProgressValue(0.5f), 1073741824u);
  EXPECT_EQ(TaskbarProgressValue(1.0f), 2147483647u);
  EXPECT_EQ(TaskbarProgressValue(3.0f), 2147483647u);
  EXPECT_EQ(TaskbarProgressValue(-1.0f), 0u);
  EXPECT_EQ(TaskbarProgressValue(std::nanf("")), 0u);
  if (!FormControllerClass()) SetFormControllerClass(&CreateWinFormController);
  EXPECT_THROW(SetFormControllerClass(&CreateWinFormController), EAbort);
  Ref<TVxForm> f = MakeRef<TVxForm>();
  auto* c = static_cast<TWinFormController*>(f->Controller());
  EXPECT_FALSE(c->SetTaskbarProgress(2, 0.5f));  // no taskbar on this system
}
