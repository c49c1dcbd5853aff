#include <gtest/gtest.h>

#include "VoRav/Application2/winInput.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

struct TSeen {
  std::vector<std::vector<int32_t>> calls;
  uint16_t replace_with = 0xFFFF;  // 0xFFFF keeps the key
  void Key(uint8_t shift, uint16_t& key, uint8_t kind) {
    calls.push_back({shift, key, kind});
    if (replace_with != 0xFFFF && kind == kKeyDown) key = replace_with;
  }
  void Mouse(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind) {
    calls.push_back({shift, x, y, button, kind});
  }
  void Wheel(uint8_t shift, int32_t x, int32_t y, int32_t steps) { calls.push_back({shift, x, y, steps}); }
};

class InputDecodingTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ResetWheelRemainder();
  }
  TSeen seen;
  TKeyCallback key = TKeyCallback::Bind<&TSeen::Key>(&seen);
  TMouseCallback mouse = TMouseCallback::Bind<&TSeen::Mouse>(&seen);
  TWheelCallback wheel = TWheelCallback::Bind<&TSeen::Wheel>(&seen);
};

TMessageRecord Rec(uint32_t msg, WPARAM w, LPARAM l) { return TMessageRecord{msg, w, l, 0}; }

}  // namespace

TEST_F(InputDecodingTest, WheelStepsAccumulateAcrossMessages) {
  const WPARAM d40 = static_cast<WPARAM>(40) << 16;
  EXPECT_TRUE(DecodeMouseWheelMessage(0, Rec(WM_MOUSEWHEEL, d40, MakeLParam(5, 6)), wheel));
  EXPECT_TRUE(DecodeMouseWheelMessage(0, Rec(WM_MOUSEWHEEL, d40, MakeLParam(5, 6)), wheel));
  EXPECT_TRUE(seen.calls.empty());
  EXPECT_TRUE(DecodeMouseWheelMessage(0, Rec(WheelRollMessage(), d40, MakeLParam(5, 6)), wheel));
  ASSERT_EQ(seen.calls.size(), 1u);
  EXPECT_EQ(seen.calls[0], (std::vector<int32_t>{0, 5, 6, 1}));
  seen.calls.clear();
  const WPARAM minus250 = static_cast<WPARAM>(static_cast<uint16_t>(-250)) << 16 | MK_SHIFT;
  DecodeMouseWheelMessage(0, Rec(WM_MOUSEWHEEL, minus250, MakeLParam(-3, 4)), wheel);
  EXPECT_EQ(seen.calls[0], (std::vector<int32_t>{kShiftShift, -3, 4, -2}));
  seen.calls.clear();
  // -10 kept: 110 more make 100, no step; 20 more make one.
  DecodeMouseWheelMessage(0, Rec(WM_MOUSEWHEEL, static_cast<WPARAM>(110) << 16, 0), wheel);
  EXPECT_TRUE(seen.calls.empty());
  DecodeMouseWheelMessage(0, Rec(WM_MOUSEWHEEL, static_cast<WPARAM>(20) << 16, 0), wheel);
  EXPECT_EQ(seen.calls.size(), 1u);
  EXPECT_FALSE(DecodeMouseWheelMessage(0, Rec(WM_MOUSEMOVE, 0, 0), wheel));
}

TEST_F(InputDecodingTest, WheelPointBecomesClientCoordinatesOfTheWindow) {
  HWND h = MakeTop();
  TPoint o{0, 0};
  ClientToScreen(h, &o);
  DecodeMouseWheelMessage(h, Rec(WM_MOUSEWHEEL, static_cast<WPARAM>(120) << 16, MakeLParam(o.X + 3, o.Y + 4)), wheel);
  EXPECT_EQ(seen.calls[0], (std::vector<int32_t>{0, 3, 4, 1}));
}

TEST_F(InputDecodingTest, ConsumedKeyDownSuppressesItsCharacter) {
  TLastKeyState last;
  seen.replace_with = 0;
  EXPECT_TRUE(DecodeKeyMessage(Rec(WM_KEYDOWN, 'A', 1), last, key));
  EXPECT_TRUE(DecodeKeyMessage(Rec(WM_CHAR, 'a', 1), last, key));  // dropped, still "ours"
  ASSERT_EQ(seen.calls.size(), 1u);
  seen.replace_with = 0xFFFF;
  DecodeKeyMessage(Rec(WM_KEYDOWN, 'B', 1), last, key);
  DecodeKeyMessage(Rec(WM_CHAR, 'b', 1), last, key);
  DecodeKeyMessage(Rec(WM_KEYUP, 'B', 1 | (1u << 31)), last, key);
  DecodeKeyMessage(Rec(WM_CHAR, 'x', 1), last, key);  // after an up: dropped
  ASSERT_EQ(seen.calls.size(), 4u);
  EXPECT_EQ(seen.calls[2], (std::vector<int32_t>{0, 'b', kKeyChar}));
  EXPECT_EQ(seen.calls[3], (std::vector<int32_t>{0, 'B', kKeyUp}));
  EXPECT_FALSE(DecodeKeyMessage(Rec(WM_DEADCHAR, 'x', 1), last, key));
  // Alt from the context bit; a character pair above U+FFFF stays whole.
  seen.calls.clear();
  DecodeKeyMessage(Rec(WM_SYSKEYDOWN, 'C', 1 | (1 << 29)), last, key);
  DecodeKeyMessage(Rec(WM_SYSCHAR, 0xD83D, 1 | (1 << 29)), last, key);
  DecodeKeyMessage(Rec(WM_SYSCHAR, 0xDE00, 1 | (1 << 29)), last, key);
  DecodeKeyMessage(Rec(WM_SYSCHAR, 0xDE01, 1 | (1 << 29)), last, key);  // no first half before it
  ASSERT_EQ(seen.calls.size(), 3u);
  EXPECT_EQ(seen.calls[0][0], kShiftAlt);
  EXPECT_EQ(seen.calls[2][1], 0xDE00);
}

TEST_F(InputDecodingTest, KeyShiftStateComesFromTheKeyboard) {
  MakeTop();
  InjectKey(VK_LSHIFT, true);
  InjectKey(VK_RCONTROL, true);
  InjectKey(VK_LWIN, true);
  TLastKeyState last;
  DecodeKeyMessage(Rec(WM_KEYDOWN, 'A', 1), last, key);
  EXPECT_EQ(seen.calls[0][0], kShiftShift | kShiftCtrl | kShiftWin);
}

TEST_F(InputDecodingTest, MouseMessagesAndDoubleClicks) {
  const LPARAM at = MakeLParam(-4, 70000 & 0xFFFF);  // left of the client area; y wraps to signed
  EXPECT_TRUE(DecodeMouseMessage(Rec(WM_RBUTTONDBLCLK, MK_RBUTTON | MK_CONTROL, at), mouse));
  ASSERT_EQ(seen.calls.size(), 2u);
  const int32_t y = static_cast<int16_t>(70000 & 0xFFFF);
  EXPECT_EQ(seen.calls[0], (std::vector<int32_t>{kShiftRight | kShiftCtrl, -4, y, kMouseRight, kMouseDown}));
  EXPECT_EQ(seen.calls[1], (std::vector<int32_t>{kShiftRight | kShiftCtrl, -4, y, kMouseRight, kMouseDblClick}));
  seen.calls.clear();
  DecodeMouseMessage(Rec(WM_MOUSEMOVE, 0, MakeLParam(1, 2)), mouse);
  DecodeMouseMessage(Rec(WM_MBUTTONUP, MK_MBUTTON, MakeLParam(1, 2)), mouse);
  DecodeMouseMessage(Rec(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MakeLParam(1, 2)), mouse);
  EXPECT_EQ(seen.calls[0], (std::vector<int32_t>{0, 1, 2, kMouseNone, kMouseMove}));
  EXPECT_EQ(seen.calls[1], (std::vector<int32_t>{kShiftMiddle, 1, 2, kMouseMiddle, kMouseUp}));
  EXPECT_EQ(seen.calls[2], (std::vector<int32_t>{kShiftLeft | kShiftShift, 1, 2, kMouseLeft, kMouseDown}));
  EXPECT_FALSE(DecodeMouseMessage(Rec(WM_MOUSEWHEEL, 0, 0), mouse));
}
