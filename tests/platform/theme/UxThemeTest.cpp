// The visual-styles module's entries: the table by name, handles, part
// geometry, drawing inside the rectangle and clip, and the switch that
// turns the style off.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "platform/theme/UxTheme.h"
#include "tests/platform/theme/ThemeTestUtil.h"

namespace kav::uxtheme {
namespace {

using namespace test;

TEST(UxTheme, EntriesAreFoundByNameAndUnknownNamesAnswerNull) {
  EXPECT_EQ(GetEntry("OpenThemeData"), reinterpret_cast<void*>(&OpenThemeData));
  EXPECT_EQ(GetEntry("DrawThemeBackground"), reinterpret_cast<void*>(&DrawThemeBackground));
  for (const char* name : {"CloseThemeData", "GetThemeBackgroundContentRect", "GetThemePartSize", "IsThemeActive",
                           "IsAppThemed", "GetThemeInt", "IsThemePartDefined"})
    EXPECT_NE(GetEntry(name), nullptr) << name;
  // Entries the style has no use for are not offered (their pointers stay nil).
  EXPECT_EQ(GetEntry("DrawThemeText"), nullptr);
  EXPECT_EQ(GetEntry("drawthemebackground"), nullptr);
  EXPECT_EQ(GetEntry(""), nullptr);
  EXPECT_EQ(CommonControlsVersion(), 0x60000u);
}

TEST(UxTheme, HandlesAreCheckedAndNeverReused) {
  const int32_t before = OpenThemeCount();
  const HTHEME a = OpenThemeData(0, u"Button");
  ASSERT_NE(a, 0u);
  EXPECT_EQ(OpenThemeCount(), before + 1);
  // A list takes the first class the style knows.
  const HTHEME b = OpenThemeData(0, u"Nothing;SCROLLBAR");
  ASSERT_NE(b, 0u);
  EXPECT_TRUE(IsThemePartDefined(b, 10, 2));
  EXPECT_FALSE(IsThemePartDefined(a, 10, 2));
  EXPECT_EQ(OpenThemeData(0, u"clock"), 0u);
  EXPECT_EQ(OpenThemeData(0, nullptr), 0u);
  EXPECT_EQ(OpenThemeDataForDpi(0, u"button", 0), 0u);
  EXPECT_EQ(CloseThemeData(a), S_OK);
  EXPECT_EQ(CloseThemeData(b), S_OK);
  EXPECT_EQ(OpenThemeCount(), before);
  // A closed handle is refused by every entry, and the next open is a new number.
  Ref<TSysBitmap> bmp = NewBitmap32(10, 10, 0);
  const TRect r{0, 0, 10, 10};
  TRect out;
  TSize size;
  EXPECT_EQ(CloseThemeData(a), E_HANDLE);
  EXPECT_EQ(DrawThemeBackground(a, bmp.get(), 1, 1, &r, nullptr), E_HANDLE);
  EXPECT_EQ(GetThemeBackgroundContentRect(a, nullptr, 1, 1, &r, &out), E_HANDLE);
  EXPECT_EQ(GetThemePartSize(a, nullptr, 1, 1, nullptr, TS_TRUE, &size), E_HANDLE);
  EXPECT_FALSE(IsThemePartDefined(a, 1, 1));
  EXPECT_EQ(DrawThemeBackground(0, bmp.get(), 1, 1, &r, nullptr), E_HANDLE);
  const HTHEME c = OpenThemeData(0, u"button");
  EXPECT_NE(c, a);
  EXPECT_NE(c, b);
  CloseThemeData(c);
}

TEST(UxTheme, PartsStatesSizesAndContentRectangles) {
  const HTHEME h96 = OpenThemeDataForDpi(0, u"button", 96);
  const HTHEME h144 = OpenThemeDataForDpi(0, u"button", 144);
  TSize size;
  ASSERT_EQ(GetThemePartSize(h96, nullptr, 3, 1, nullptr, TS_TRUE, &size), S_OK);
  EXPECT_EQ(size, (TSize{13, 13}));
  ASSERT_EQ(GetThemePartSize(h144, nullptr, 3, 1, nullptr, TS_TRUE, &size), S_OK);
  EXPECT_EQ(size, (TSize{20, 20}));  // 19.5 rounds to even
  const TRect big{0, 0, 90, 30};
  ASSERT_EQ(GetThemePartSize(h96, nullptr, 1, 1, &big, TS_DRAW, &size), S_OK);
  EXPECT_EQ(size, (TSize{90, 30}));
  EXPECT_EQ(GetThemePartSize(h96, nullptr, 1, 1, nullptr, 7, &size), E_INVALIDARG);
  EXPECT_EQ(GetThemePartSize(h96, nullptr, 1, 1, nullptr, TS_TRUE, nullptr), E_POINTER);
  // State 0 stands for the first state; states past the part's last and
  // parts the class lacks are refused.
  EXPECT_TRUE(IsThemePartDefined(h96, 1, 0));
  EXPECT_TRUE(IsThemePartDefined(h96, 3, 12));
  EXPECT_FALSE(IsThemePartDefined(h96, 3, 13));
  EXPECT_FALSE(IsThemePartDefined(h96, 6, 1));
  EXPECT_FALSE(IsThemePartDefined(h96, -1, 1));
  // Content and extent are inverse; the margin scales.
  TRect content, extent;
  ASSERT_EQ(GetThemeBackgroundContentRect(h96, nullptr, 1, 1, &big, &content), S_OK);
  EXPECT_EQ(content, (TRect{3, 3, 87, 27}));
  ASSERT_EQ(GetThemeBackgroundExtent(h96, nullptr, 1, 1, &content, &extent), S_OK);
  EXPECT_EQ(extent, big);
  ASSERT_EQ(GetThemeBackgroundContentRect(h144, nullptr, 1, 1, &big, &content), S_OK);
  EXPECT_EQ(content, (TRect{4, 4, 86, 26}));
  // A rectangle smaller than the margins gives an empty one inside it.
  const TRect tiny{10, 10, 14, 12};
  ASSERT_EQ(GetThemeBackgroundContentRect(h96, nullptr, 1, 1, &tiny, &content), S_OK);
  EXPECT_TRUE(content.IsEmpty());
  EXPECT_GE(content.Left, tiny.Left);
  EXPECT_LE(content.Right, tiny.Right);
  CloseThemeData(h96);
  CloseThemeData(h144);

  // The progress chunk metrics and colours the drawers read.
  const HTHEME p = OpenThemeDataForDpi(0, u"progress", 96);
  int32_t v = 0;
  ASSERT_EQ(GetThemeInt(p, 3, 1, TMT_PROGRESSCHUNKSIZE, &v), S_OK);
  EXPECT_GT(v, 0);
  ASSERT_EQ(GetThemeInt(p, 3, 1, TMT_PROGRESSSPACESIZE, &v), S_OK);
  EXPECT_GT(v, 0);
  EXPECT_EQ(GetThemeInt(p, 1, 1, TMT_PROGRESSCHUNKSIZE, &v), E_INVALIDARG);
  EXPECT_TRUE(IsThemePartDefined(p, 5, 5));
  EXPECT_TRUE(IsThemePartDefined(p, 11, 1));
  EXPECT_FALSE(IsThemePartDefined(p, 7, 1));
  uint32_t color = 0;
  EXPECT_EQ(GetThemeColor(p, 1, 1, TMT_TEXTCOLOR, &color), S_OK);
  EXPECT_EQ(GetThemeColor(p, 1, 1, 1, &color), E_INVALIDARG);
  EXPECT_EQ(GetThemeSysColor(p, win::COLOR_WINDOW), 0xFFFFFFu);
  CloseThemeData(p);
}

TEST(UxTheme, DrawingStaysInsideRectangleClipAndBitmap) {
  const HTHEME h = OpenThemeDataForDpi(0, u"button", 96);
  // On a cleared 32-bit bitmap the rounded push button leaves its corners
  // transparent and its middle opaque; nothing outside the rectangle changes.
  Ref<TSysBitmap> b = NewBitmap32(40, 30, 0);
  const TRect r{5, 5, 35, 25};
  ASSERT_EQ(DrawThemeBackground(h, b.get(), 1, 1, &r, nullptr), S_OK);
  EXPECT_EQ(ColorAlpha(Pixel(b.get(), 5, 5)), 0);
  EXPECT_EQ(ColorAlpha(Pixel(b.get(), 20, 15)), 255);
  EXPECT_EQ(Pixel(b.get(), 4, 15), 0u);
  EXPECT_EQ(Pixel(b.get(), 35, 15), 0u);
  EXPECT_EQ(Pixel(b.get(), 20, 25), 0u);

  // A clip keeps the left half untouched.
  Ref<TSysBitmap> c = NewBitmap32(40, 30, 0xFF102030u);
  const TRect clip{20, 0, 40, 30};
  ASSERT_EQ(DrawThemeBackground(h, c.get(), 3, 5, &r, &clip), S_OK);
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(Pixel(c.get(), x, y), 0xFF102030u) << x << "," << y;
  EXPECT_NE(Pixel(c.get(), 25, 15), 0xFF102030u);

  // A rectangle far larger than the bitmap costs only the bitmap.
  const TRect huge{-1000000000, -1000000000, 1000000000, 1000000000};
  ASSERT_EQ(DrawThemeBackground(h, c.get(), 1, 1, &huge, nullptr), S_OK);
  const TRect extreme{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  ASSERT_EQ(DrawThemeBackground(h, c.get(), 3, 1, &extreme, &clip), S_OK);
  const TRect outside{100, 100, 200, 200};
  EXPECT_EQ(DrawThemeBackground(h, c.get(), 1, 1, &outside, nullptr), S_OK);
  const TRect empty{10, 10, 10, 20};
  EXPECT_EQ(DrawThemeBackground(h, c.get(), 1, 1, &empty, nullptr), S_OK);
  EXPECT_EQ(DrawThemeBackground(h, nullptr, 1, 1, &r, nullptr), E_POINTER);
  EXPECT_EQ(DrawThemeBackground(h, c.get(), 1, 1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(DrawThemeBackground(h, c.get(), 1, 7, &r, nullptr), E_INVALIDARG);

  // A 24-bit device context is blended onto.
  Ref<TSysBitmap> d = CreateSysBitmap(40, 30, StdFormats().R8G8B8);
  d->FillRect(TRect{0, 0, 40, 30}, 0xFF000000u);
  ASSERT_EQ(DrawThemeBackground(h, d.get(), 1, 1, &r, nullptr), S_OK);
  EXPECT_GT(ColorRed(Pixel(d.get(), 20, 15)), 200);
  EXPECT_EQ(Pixel(d.get(), 2, 2), 0xFF000000u);
  CloseThemeData(h);
}

TEST(UxTheme, EnvironmentVariableTurnsTheStyleOff) {
  const char* old = std::getenv(kStyleVariable);
  const std::string keep = old ? old : "";
  unsetenv(kStyleVariable);
  EXPECT_TRUE(StyleEnabled());
  EXPECT_EQ(IsAppThemed(), 1);
  for (const char* off : {"0", "off", "classic"}) {
    setenv(kStyleVariable, off, 1);
    EXPECT_FALSE(StyleEnabled()) << off;
    EXPECT_EQ(IsAppThemed(), 0);
  }
  setenv(kStyleVariable, "1", 1);
  EXPECT_TRUE(StyleEnabled());
  EXPECT_EQ(IsThemeActive(), 1);
  if (old)
    setenv(kStyleVariable, keep.c_str(), 1);
  else
    unsetenv(kStyleVariable);
}

}  // namespace
}  // namespace kav::uxtheme
