#include "WinTestUtil.h"

namespace kav::win {

TEST_F(WindowTest, CreationAndDestructionSendTheirMessagesInOrder) {
  HWND h = MakeTop();
  ASSERT_NE(h, 0u);
  EXPECT_EQ(recorder.Messages({WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE, WM_SHOWWINDOW, WM_WINDOWPOSCHANGING,
                               WM_WINDOWPOSCHANGED, WM_ACTIVATEAPP, WM_ACTIVATE, WM_SETFOCUS}),
            (std::vector<uint32_t>{WM_NCCREATE, WM_CREATE, WM_WINDOWPOSCHANGED, WM_MOVE, WM_SIZE, WM_SHOWWINDOW,
                                   WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_ACTIVATEAPP, WM_ACTIVATE,
                                   WM_SETFOCUS}));
  EXPECT_EQ(GetWindowText(h), u"top");
  EXPECT_EQ(GetActiveWindow(), h);
  EXPECT_EQ(GetFocus(), h);
  ASSERT_TRUE(backend->TopLevels.count(h));
  EXPECT_TRUE(backend->TopLevels[h].visible);
  HWND c = MakeChild(h, {10, 10, 50, 50});
  recorder.Log.clear();
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_EQ(recorder.Messages({WM_DESTROY, WM_NCDESTROY}),
            (std::vector<uint32_t>{WM_DESTROY, WM_DESTROY, WM_NCDESTROY, WM_NCDESTROY}));
  EXPECT_EQ(recorder.Log[recorder.Log.size() - 1].hwnd, h);  // the parent's WM_NCDESTROY last
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(IsWindow(c));
  EXPECT_FALSE(backend->TopLevels.count(h));
  EXPECT_EQ(GetActiveWindow(), 0u);
  // Stale ids are refused everywhere; ids are never handed out again.
  EXPECT_FALSE(SetWindowText(h, u"x"));
  EXPECT_FALSE(ShowWindow(h, SW_SHOW));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(DispatchMessage(TMsg{h, WM_USER, 0, 0, 0, {}}), 0);
  HWND again = MakeTop();
  EXPECT_GT(again, c);
}

TEST_F(WindowTest, CreationFailsCleanly) {
  EXPECT_EQ(CreateWindowEx(0, u"NoSuchClass", u"", 0, 0, 0, 10, 10, 0, 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
  recorder.Hook = [](HWND, uint32_t m, WPARAM, LPARAM, LRESULT& r) {
    if (m == WM_CREATE) { r = -1; return true; }
    return false;
  };
  EXPECT_EQ(MakeTop(), 0u);
  EXPECT_EQ(recorder.Messages({WM_DESTROY, WM_NCDESTROY}), (std::vector<uint32_t>{WM_DESTROY, WM_NCDESTROY}));
  TWndClass dup;
  dup.class_name = u"testwindow";  // names compare without case
  EXPECT_EQ(RegisterClass(dup), 0);
  EXPECT_TRUE(UnregisterClass(u"TESTWINDOW", 0));
  EXPECT_FALSE(UnregisterClass(u"TestWindow", 0));
}

TEST_F(WindowTest, PositionAndStyleChangesCanBeChangedByTheWindow) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW);
  recorder.Hook = [](HWND, uint32_t m, WPARAM w, LPARAM l, LRESULT&) {
    if (m == WM_WINDOWPOSCHANGING) {
      auto* pos = reinterpret_cast<TWindowPos*>(l);
      pos->cx = std::min(pos->cx, 300);  // at most 300 wide
    } else if (m == WM_STYLECHANGING && w == static_cast<WPARAM>(GWL_STYLE)) {
      reinterpret_cast<TStyleStruct*>(l)->new_style |= WS_CAPTION;  // keeps its caption
    }
    return false;
  };
  recorder.Log.clear();
  EXPECT_TRUE(SetWindowPos(h, 0, 10, 20, 500, 200, SWP_NOZORDER | SWP_NOACTIVATE));
  TRect r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r, (TRect{10, 20, 310, 220}));
  EXPECT_EQ(recorder.Messages({WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_MOVE, WM_SIZE}),
            (std::vector<uint32_t>{WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_MOVE, WM_SIZE}));
  TRect c;
  GetClientRect(h, &c);
  TRect in = NonClientInsets(WS_OVERLAPPEDWINDOW, 0);
  EXPECT_EQ(c.Width(), 300 - in.Left - in.Right);
  EXPECT_EQ(recorder.Log.back().lParam, MakeLParam(c.Width(), c.Height()));
  TPoint p{0, 0};
  ClientToScreen(h, &p);
  EXPECT_EQ(p, (TPoint{10 + in.Left, 20 + in.Top}));

  EXPECT_EQ(static_cast<uint32_t>(SetWindowLong(h, GWL_STYLE, WS_POPUP)), WS_OVERLAPPEDWINDOW);
  EXPECT_EQ(static_cast<uint32_t>(GetWindowLong(h, GWL_STYLE)), WS_POPUP | WS_CAPTION);
  EXPECT_EQ(recorder.Messages({WM_STYLECHANGING, WM_STYLECHANGED}).size(), 2u);
}

TEST_F(WindowTest, ShowStatesPlacementAndMaximiseToTheWorkArea) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW, {50, 60, 250, 260});
  EXPECT_FALSE(ShowWindow(h, SW_SHOWMAXIMIZED));
  EXPECT_TRUE(IsZoomed(h));
  TRect c;
  GetClientRect(h, &c);
  TRect work = GetWorkArea();
  EXPECT_EQ(c.Width(), work.Width());
  TWindowPlacement wp;
  GetWindowPlacement(h, &wp);
  EXPECT_EQ(wp.show_cmd, static_cast<uint32_t>(SW_SHOWMAXIMIZED));
  EXPECT_EQ(wp.normal_position, (TRect{50, 60, 250, 260}));
  ShowWindow(h, SW_RESTORE);
  TRect r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r, (TRect{50, 60, 250, 260}));
  recorder.Log.clear();
  EXPECT_TRUE(ShowWindow(h, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_EQ(recorder.Log.front().message, WM_SHOWWINDOW);
  EXPECT_EQ(recorder.Log.front().wParam, 0u);
  EXPECT_EQ(GetActiveWindow(), 0u);
}

TEST_F(WindowTest, ActivationFocusAndCaptureNotifyBothSides) {
  HWND a = MakeTop();
  HWND b = MakeTop(WS_OVERLAPPEDWINDOW | WS_VISIBLE, {600, 100, 900, 400});
  EXPECT_EQ(GetActiveWindow(), b);
  recorder.Log.clear();
  SetActiveWindow(a);
  std::vector<TRecordedMsg> act;
  for (auto& m : recorder.Log)
    if (m.message == WM_ACTIVATE || m.message == WM_KILLFOCUS || m.message == WM_SETFOCUS) act.push_back(m);
  ASSERT_EQ(act.size(), 4u);
  EXPECT_EQ(act[0].hwnd, b);
  EXPECT_EQ(act[0].message, WM_ACTIVATE);
  EXPECT_EQ(act[0].wParam, WA_INACTIVE);
  EXPECT_EQ(act[1].hwnd, a);
  EXPECT_EQ(act[1].message, WM_ACTIVATE);
  EXPECT_EQ(act[2].message, WM_KILLFOCUS);
  EXPECT_EQ(act[3].message, WM_SETFOCUS);
  recorder.Log.clear();
  SetCapture(a);
  SetCapture(b);
  ReleaseCapture();
  EXPECT_EQ(recorder.Messages({WM_CAPTURECHANGED}), (std::vector<uint32_t>{WM_CAPTURECHANGED, WM_CAPTURECHANGED}));
  EXPECT_EQ(recorder.Log[0].hwnd, a);
  EXPECT_EQ(static_cast<HWND>(recorder.Log[0].lParam), b);
  EXPECT_EQ(GetCapture(), 0u);
}

TEST_F(WindowTest, WindowCallsFromOtherThreadsFailWithoutTouchingAnything) {
  HWND h = MakeTop();
  std::thread([&] {
    EXPECT_FALSE(ShowWindow(h, SW_HIDE));
    EXPECT_EQ(GetLastError(), ERROR_WRONG_THREAD);
    EXPECT_FALSE(DestroyWindow(h));
    EXPECT_EQ(CreateWindowEx(0, u"TestWindow", u"", 0, 0, 0, 1, 1, 0, 0, nullptr), 0u);
    EXPECT_TRUE(IsWindow(h));
  }).join();
  EXPECT_TRUE(IsWindowVisible(h));
}

namespace {
int g_display_changes = 0;
void CountDisplayChange() { g_display_changes++; }
}  // namespace

TEST_F(WindowTest, ADisplayChangeRunsTheHandlerAndReachesTopLevelWindows) {
  HWND a = MakeTop();
  MakeChild(a, {0, 0, 10, 10});
  recorder.Log.clear();
  SetDisplayChangeHandler(&CountDisplayChange);
  NotifyDisplayChange();
  SetDisplayChangeHandler(nullptr);
  EXPECT_EQ(g_display_changes, 1);
  ASSERT_EQ(recorder.Messages({WM_DISPLAYCHANGE}).size(), 1u);  // the child is not told
  EXPECT_EQ(recorder.Log[0].hwnd, a);
}

TEST_F(WindowTest, RegisteredMessagesAreSharedByName) {
  uint32_t a = RegisterWindowMessage(u"TaskbarButtonCreated");
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(RegisterWindowMessage(u"taskbarbuttoncreated"), a);
  EXPECT_NE(RegisterWindowMessage(u"MSWHEEL_ROLLMSG"), a);
  EXPECT_EQ(RegisterWindowMessage(u""), 0u);
}

}  // namespace kav::win
