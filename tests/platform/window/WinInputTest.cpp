#include <thread>

#include "WinTestUtil.h"

namespace kav::win {

TEST_F(WindowTest, KeysGoToTheFocusWindowWithAltAsSystemKeys) {
  HWND h = MakeTop();
  HWND c = MakeChild(h, {0, 0, 50, 50});
  SetFocus(c);
  Drain();
  recorder.Log.clear();
  InjectKey(VK_F1 + 1, true, 0x3C);
  InjectChar(u'x');
  InjectKey(VK_F1 + 1, false, 0x3C);
  InjectKey(VK_LMENU, true);
  InjectKey('A', true);
  InjectChar(u'a');
  EXPECT_LT(GetKeyState(VK_MENU), 0);
  EXPECT_LT(GetKeyState(VK_LMENU), 0);
  InjectKey('A', false);
  InjectKey(VK_LMENU, false);
  EXPECT_GE(GetKeyState(VK_MENU), 0);
  Drain();
  std::vector<TRecordedMsg> keys;
  for (auto& m : recorder.Log) if (m.message >= WM_KEYDOWN && m.message <= WM_SYSCHAR) keys.push_back(m);
  ASSERT_EQ(keys.size(), 8u);
  EXPECT_EQ(keys[0].hwnd, c);
  EXPECT_EQ(keys[0].message, WM_KEYDOWN);
  EXPECT_EQ((keys[0].lParam >> 16) & 0xFF, 0x3C);
  EXPECT_EQ(keys[1].message, WM_CHAR);
  EXPECT_EQ(keys[1].wParam, u'x');
  EXPECT_EQ(keys[2].message, WM_KEYUP);
  EXPECT_NE(keys[2].lParam & (1u << 31), 0);
  EXPECT_EQ(keys[3].message, WM_SYSKEYDOWN);  // the Alt key itself
  EXPECT_EQ(keys[4].message, WM_SYSKEYDOWN);
  EXPECT_NE(keys[4].lParam & (1 << 29), 0);
  EXPECT_EQ(keys[5].message, WM_SYSCHAR);
  EXPECT_EQ(keys[6].message, WM_SYSKEYUP);
  EXPECT_EQ(keys[7].message, WM_SYSKEYUP);
}

// A disabled window, and every child inside it, takes no keys, characters,
// clicks or wheel turns (a dialog while the file chooser it started is
// open); enabled again, it takes them again.
// Long work on the GUI thread asks whether a key waits, behind other input,
// without taking or running anything; only on the GUI thread.
TEST_F(WindowTest, AWaitingKeyDownIsSeenWithoutTakingIt) {
  HWND h = MakeTop();
  SetFocus(h);
  Drain();
  recorder.Log.clear();
  EXPECT_FALSE(KeyDownWaiting(VK_ESCAPE));
  InjectKey(VK_SPACE, true);
  InjectKey(VK_SPACE, false);
  InjectKey(VK_ESCAPE, true);
  EXPECT_TRUE(KeyDownWaiting(VK_ESCAPE));
  EXPECT_FALSE(KeyDownWaiting(VK_RETURN));
  bool elsewhere = true;
  std::thread([&] { elsewhere = KeyDownWaiting(VK_ESCAPE); }).join();
  EXPECT_FALSE(elsewhere);
  EXPECT_TRUE(recorder.Log.empty());
  Drain();
  EXPECT_FALSE(KeyDownWaiting(VK_ESCAPE));
  std::vector<WPARAM> downs;
  for (auto& m : recorder.Log)
    if (m.message == WM_KEYDOWN) downs.push_back(m.wParam);
  EXPECT_EQ(downs, (std::vector<WPARAM>{VK_SPACE, VK_ESCAPE}));
}

TEST_F(WindowTest, ADisabledWindowAndItsChildrenTakeNoInput) {
  HWND h = MakeTop();
  HWND c = MakeChild(h, {20, 30, 120, 130});
  SetFocus(c);
  Drain();
  TPoint origin{0, 0};
  ClientToScreen(c, &origin);
  auto press = [&] {
    recorder.Log.clear();
    InjectKey(VK_RETURN, true);
    InjectChar(u' ');
    InjectKey(VK_RETURN, false);
    InjectMouseButton(1, true, origin.X + 5, origin.Y + 6);
    InjectMouseButton(1, false, origin.X + 5, origin.Y + 6);
    InjectWheel(120, origin.X + 5, origin.Y + 6);
    Drain();
    return recorder.Messages({WM_KEYDOWN, WM_KEYUP, WM_CHAR, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEWHEEL}).size();
  };
  EnableWindow(h, false);
  EXPECT_EQ(press(), 0u);
  EnableWindow(h, true);
  EXPECT_GE(press(), 6u);
}

TEST_F(WindowTest, MouseHitTestAndSetCursorComeBeforeTheClickInClientCoordinates) {
  HWND h = MakeTop();
  HWND c = MakeChild(h, {20, 30, 120, 130});
  Drain();
  recorder.Log.clear();
  TPoint origin{0, 0};
  ClientToScreen(c, &origin);
  InjectMouseMove(origin.X + 5, origin.Y + 6);
  InjectMouseButton(1, true, origin.X + 5, origin.Y + 6);
  Drain();
  // The child asks its parent about the cursor first (WM_SETCURSOR to both).
  EXPECT_EQ(recorder.Messages({WM_NCHITTEST, WM_SETCURSOR, WM_MOUSEMOVE, WM_LBUTTONDOWN}),
            (std::vector<uint32_t>{WM_NCHITTEST, WM_SETCURSOR, WM_SETCURSOR, WM_NCHITTEST, WM_SETCURSOR,
                                   WM_SETCURSOR, WM_MOUSEMOVE, WM_LBUTTONDOWN}));
  EXPECT_EQ(recorder.Log[2].hwnd, h);
  const TRecordedMsg& down = recorder.Log.back();
  EXPECT_EQ(down.hwnd, c);
  EXPECT_EQ(LoWord16(down.lParam), 5);
  EXPECT_EQ(HiWord16(down.lParam), 6);
  EXPECT_EQ(down.wParam & MK_LBUTTON, MK_LBUTTON);
  // With the capture, points left of the window arrive negative.
  SetCapture(c);
  recorder.Log.clear();
  InjectMouseButton(1, false, origin.X - 7, origin.Y - 2);
  Drain();
  ASSERT_EQ(recorder.Messages({WM_LBUTTONUP}).size(), 1u);
  EXPECT_EQ(LoWord16(recorder.Log.back().lParam), -7);
  EXPECT_EQ(HiWord16(recorder.Log.back().lParam), -2);
  EXPECT_EQ(recorder.Messages({WM_NCHITTEST}).size(), 0u);  // captured: no hit test
}

TEST_F(WindowTest, DoubleClicksOnlyForClassesThatAskAndWithinTimeAndDistance) {
  backend->SetManualClock(5000);
  HWND h = MakeTop();
  TWndClass plain;
  plain.class_name = u"Plain";
  plain.proc = recorder.AsProc();
  RegisterClass(plain);
  HWND p = CreateWindowEx(0, u"Plain", u"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 100, 200, 200, 0, 0, nullptr);
  Drain();
  auto clicks = [&](HWND hw, uint32_t gap_ms, int dx) {
    TPoint o{10, 10};
    ClientToScreen(hw, &o);
    recorder.Log.clear();
    InjectMouseButton(1, true, o.X, o.Y);
    InjectMouseButton(1, false, o.X, o.Y);
    backend->Advance(gap_ms);
    InjectMouseButton(1, true, o.X + dx, o.Y);
    InjectMouseButton(1, false, o.X + dx, o.Y);
    Drain();
    backend->Advance(1000);
    return recorder.Messages({WM_LBUTTONDOWN, WM_LBUTTONDBLCLK});
  };
  EXPECT_EQ(clicks(h, 100, 0), (std::vector<uint32_t>{WM_LBUTTONDOWN, WM_LBUTTONDBLCLK}));
  EXPECT_EQ(clicks(h, 600, 0), (std::vector<uint32_t>{WM_LBUTTONDOWN, WM_LBUTTONDOWN}));
  EXPECT_EQ(clicks(h, 100, 5), (std::vector<uint32_t>{WM_LBUTTONDOWN, WM_LBUTTONDOWN}));
  EXPECT_EQ(clicks(p, 100, 0), (std::vector<uint32_t>{WM_LBUTTONDOWN, WM_LBUTTONDOWN}));
}

TEST_F(WindowTest, WheelGoesToTheFocusWithScreenPointAndSignedDelta) {
  HWND h = MakeTop();
  Drain();
  recorder.Log.clear();
  InjectWheel(-120, 300, 200);
  Drain();
  ASSERT_EQ(recorder.Messages({WM_MOUSEWHEEL}).size(), 1u);
  const TRecordedMsg& m = recorder.Log.back();
  EXPECT_EQ(m.hwnd, h);
  EXPECT_EQ(HiWord16(static_cast<intptr_t>(m.wParam)), -120);
  EXPECT_EQ(LoWord16(m.lParam), 300);
  EXPECT_EQ(HiWord16(m.lParam), 200);
}

TEST_F(WindowTest, KeyboardHooksSeeKeysFirstAndMayEatThem) {
  HWND h = MakeTop();
  Drain();
  struct THooks {
    HHOOK first = 0, second = 0;
    std::vector<uint32_t> seen;
    LRESULT Eater(int32_t code, WPARAM w, LPARAM l) {
      auto* info = reinterpret_cast<TKbdLLHookStruct*>(l);
      seen.push_back(info->vk_code);
      if (info->vk_code == VK_LWIN) return 1;
      return CallNextHookEx(second, code, w, l);
    }
    LRESULT Watcher(int32_t code, WPARAM w, LPARAM l) {
      seen.push_back(1000 + reinterpret_cast<TKbdLLHookStruct*>(l)->vk_code);
      return CallNextHookEx(first, code, w, l);
    }
  } hooks;
  hooks.first = SetWindowsHookEx(WH_KEYBOARD_LL, THookProc::Bind<&THooks::Watcher>(&hooks));
  hooks.second = SetWindowsHookEx(WH_KEYBOARD_LL, THookProc::Bind<&THooks::Eater>(&hooks));
  recorder.Log.clear();
  InjectKey(VK_LWIN, true);
  InjectKey('B', true);
  Drain();
  EXPECT_EQ(hooks.seen, (std::vector<uint32_t>{VK_LWIN, 'B', 1000 + 'B'}));
  ASSERT_EQ(recorder.Messages({WM_KEYDOWN}).size(), 1u);
  EXPECT_EQ(recorder.Log.back().hwnd, h);
  EXPECT_TRUE(UnhookWindowsHookEx(hooks.second));
  EXPECT_FALSE(UnhookWindowsHookEx(hooks.second));
  EXPECT_EQ(SetWindowsHookEx(5, THookProc::Bind<&THooks::Watcher>(&hooks)), 0u);
}

TEST_F(WindowTest, CursorsShowOnTheBackend) {
  HWND h = MakeTop();
  Drain();
  EXPECT_EQ(LoadCursor(0, IDC_HAND), static_cast<HCURSOR>(IDC_HAND));
  EXPECT_EQ(LoadCursor(0, 12345), 0u);
  EXPECT_EQ(LoadCursor(kProgramInstance, 107), 0u);  // no such resource
  uint32_t pixels[4] = {0xFF000000, 0xFFFFFFFF, 0, 0xFF00FF00};
  HCURSOR own = CreateCursor(pixels, 2, 2, 0, 0);
  ASSERT_NE(own, 0u);
  SetCursor(own);
  EXPECT_EQ(backend->CursorShape(), own);
  DestroyCursor(own);
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_ARROW));
  SetCursor(0);
  EXPECT_EQ(backend->CursorShape(), 0u);
  // Moving over the client area: the class cursor through WM_SETCURSOR.
  TPoint o{5, 5};
  ClientToScreen(h, &o);
  InjectMouseMove(o.X, o.Y);
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_ARROW));
  EXPECT_EQ(CreateCursor(pixels, 0, 2, 0, 0), 0u);
}

// Before any mouse input the cursor position is where the system says the
// pointer is; from the first input on, where the input put it.
TEST_F(WindowTest, CursorPositionIsThePointerUntilTheFirstMouseInput) {
  HWND h = MakeTop();
  Drain();
  TPoint p;
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p, (TPoint{0, 0}));  // no input yet, and the system does not tell
  backend->SetPointer(700, 30);
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p, (TPoint{700, 30}));
  std::thread([&] { GetCursorPos(&p); }).join();  // other threads: the layer's own
  EXPECT_EQ(p, (TPoint{0, 0}));
  InjectMouseMove(150, 120);
  backend->SetPointer(710, 30);
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p, (TPoint{150, 120}));
  SetCursorPos(160, 130);
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p, (TPoint{160, 130}));
  DestroyWindow(h);
}

}  // namespace kav::win
