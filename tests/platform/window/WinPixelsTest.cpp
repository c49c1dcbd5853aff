#include <gtest/gtest.h>

#include "tests/platform/window/WinTestUtil.h"

namespace kav::win {

// Pixel output, opacity and shape of plain top-level windows.
TEST_F(WindowTest, PixelsReachOnlyTopLevelWindowsCutToTheClientArea) {
  HWND top = MakeTop(WS_POPUP | WS_VISIBLE, TRect{0, 0, 4, 3});
  HWND child = MakeChild(top, TRect{0, 0, 2, 2});
  std::vector<uint32_t> image(6 * 5, 0x123456u);
  image[1 * 6 + 2] = 0xABCDEFu;
  // A rectangle past the client area is cut; one outside it copies nothing.
  EXPECT_TRUE(PresentWindowPixels(top, image.data(), 6, 5, 6 * 4, {TRect{1, 1, 9, 9}, TRect{10, 10, 12, 12}}));
  const auto& s = backend->Screens[top];
  ASSERT_EQ(s.Width, 4);
  ASSERT_EQ(s.Height, 3);
  EXPECT_EQ(s.At(0, 0), 0u);
  EXPECT_EQ(s.At(2, 1), 0xABCDEFu);
  EXPECT_EQ(s.At(3, 2), 0x123456u);
  EXPECT_EQ(backend->LastPresentedPixels, 3 * 2);
  EXPECT_FALSE(PresentWindowPixels(child, image.data(), 6, 5, 24, {TRect{0, 0, 1, 1}}));
  EXPECT_FALSE(PresentWindowPixels(top, image.data(), 6, 5, 8, {TRect{0, 0, 1, 1}}));  // pitch too small
  EXPECT_FALSE(PresentWindowPixels(top, nullptr, 6, 5, 24, {TRect{0, 0, 1, 1}}));
  EXPECT_TRUE(SetWindowOpacity(top, 40));
  EXPECT_EQ(backend->Opacity[top], 40);
  EXPECT_FALSE(SetWindowOpacity(child, 40));
  EXPECT_TRUE(SetWindowShape(top, image.data(), 2, 2));
  EXPECT_FALSE(SetWindowShape(top, image.data(), 0, 2));
  DestroyWindow(top);
  EXPECT_FALSE(PresentWindowPixels(top, image.data(), 6, 5, 24, {TRect{0, 0, 1, 1}}));
}

}  // namespace kav::win
