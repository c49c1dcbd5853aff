// The system colour table, the scroll-bar metrics at the screen's
// resolution and the keyboard and caret values.
#include <gtest/gtest.h>

#include "tests/platform/window/WinTestUtil.h"

namespace kav::win {
namespace {

class TDpiBackend : public TNullWindowBackend {
 public:
  explicit TDpiBackend(int32_t dpi) : dpi_(dpi) {}
  void ScreenDpi(int32_t& x, int32_t& y) override { x = y = dpi_; }

 private:
  int32_t dpi_;
};

TEST(WinSystemValues, ColorTableHoldsTheDefaultsAndRefusesOtherIndexes) {
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), 0xFFFFFFu);
  EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), 0u);
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), 0xF0F0F0u);
  EXPECT_EQ(GetSysColor(COLOR_INFOBK), 0xE1FFFFu);  // (255, 255, 225) as 0x00BBGGRR
  EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), 0xFF9933u);
  EXPECT_EQ(GetSysColor(COLOR_MENUBAR), 0xF0F0F0u);
  // Light, highlight, shadow and dark shadow run from light to dark.
  auto grey = [](int32_t i) { return GetSysColor(i) & 0xFF; };
  EXPECT_GT(grey(COLOR_3DHILIGHT), grey(COLOR_3DLIGHT));
  EXPECT_GT(grey(COLOR_3DLIGHT), grey(COLOR_3DSHADOW));
  EXPECT_GT(grey(COLOR_3DSHADOW), grey(COLOR_3DDKSHADOW));
  EXPECT_EQ(GetSysColor(-1), 0u);
  EXPECT_EQ(GetSysColor(31), 0u);
  EXPECT_EQ(GetSysColor(1 << 30), 0u);
}

TEST(WinSystemValues, ScrollBarMetricsFollowTheScreenResolution) {
  const int32_t kinds[] = {SM_CXVSCROLL, SM_CYHSCROLL, SM_CYVSCROLL, SM_CXHSCROLL, SM_CYVTHUMB, SM_CXHTHUMB};
  InitWindowSystem(std::make_unique<TDpiBackend>(96));
  for (int32_t k : kinds) EXPECT_EQ(GetSystemMetrics(k), 17) << k;
  DoneWindowSystem();
  InitWindowSystem(std::make_unique<TDpiBackend>(144));
  for (int32_t k : kinds) EXPECT_EQ(GetSystemMetrics(k), 26) << k;  // 25.5 rounds up
  DoneWindowSystem();
}

TEST(WinSystemValues, KeyboardAndCaretValues) {
  int32_t v = -5;
  ASSERT_TRUE(SystemParametersInfo(SPI_GETKEYBOARDDELAY, 0, &v, 0));
  EXPECT_GE(v, 0);
  EXPECT_LE(v, 3);
  ASSERT_TRUE(SystemParametersInfo(SPI_GETKEYBOARDSPEED, 0, &v, 0));
  EXPECT_GE(v, 0);
  EXPECT_LE(v, 31);
  v = -5;
  EXPECT_FALSE(SystemParametersInfo(12345, 0, &v, 0));
  EXPECT_EQ(v, -5);
  EXPECT_FALSE(SystemParametersInfo(SPI_GETKEYBOARDDELAY, 0, nullptr, 0));
  EXPECT_GT(GetCaretBlinkTime(), 0u);
}

}  // namespace
}  // namespace kav::win
