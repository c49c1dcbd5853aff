// Every part and state of every class the toolkit draws, at 100% and 150%,
// against reference sheets made by this code and checked by eye.
// KAV_UPDATE_GOLDENS=1 rewrites them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "platform/theme/UxTheme.h"
#include "tests/platform/theme/ThemeTestUtil.h"

namespace kav::uxtheme {
namespace {

using namespace test;

struct TCell {
  int32_t part;
  int32_t states;
  TSize size;  // at 100%
  int32_t under = -1;  // a part drawn first in the same state (a gripper's thumb)
};

struct TSheet {
  const char* name;
  const char16_t* cls;
  std::vector<TCell> rows;
};

std::vector<TSheet> Sheets() {
  return {
      {"button", u"button", {{1, 6, {75, 23}}, {2, 8, {13, 13}}, {3, 12, {13, 13}}, {4, 2, {40, 30}}, {5, 1, {75, 23}}}},
      {"combobox", u"combobox", {{0, 1, {40, 20}}, {1, 4, {17, 20}}}},
      {"edit", u"edit", {{1, 7, {60, 21}}, {2, 1, {1, 15}}}},
      {"listview", u"listview", {{0, 1, {60, 40}}, {1, 5, {60, 20}}, {2, 1, {60, 20}}, {3, 1, {60, 20}}, {4, 1, {60, 20}}}},
      {"progress",
       u"progress",
       {{1, 1, {100, 17}}, {2, 1, {17, 60}}, {3, 1, {8, 13}}, {5, 5, {50, 13}}, {6, 5, {13, 40}}, {11, 2, {100, 17}}}},
      {"scrollbar",
       u"scrollbar",
       {{1, 20, {17, 17}},
        {2, 5, {40, 17}},
        {3, 5, {17, 40}},
        {4, 5, {30, 17}},
        {5, 5, {30, 17}},
        {6, 5, {17, 30}},
        {7, 5, {17, 30}},
        {8, 5, {40, 17}, 2},
        {9, 5, {17, 40}, 3},
        {10, 2, {17, 17}}}},
      {"spin", u"spin", {{1, 4, {15, 10}}, {2, 4, {15, 10}}, {3, 4, {10, 15}}, {4, 4, {10, 15}}}},
      {"tab", u"tab", {{1, 5, {60, 21}}, {5, 5, {60, 21}}, {8, 5, {60, 21}}, {9, 1, {100, 50}}, {10, 1, {60, 30}}}},
      {"toolbar", u"toolbar", {{1, 6, {23, 22}}, {2, 6, {23, 22}}, {3, 6, {23, 22}}, {4, 6, {15, 22}}, {5, 6, {6, 22}}, {6, 6, {22, 6}}}},
  };
}

int32_t Scaled(int32_t v, double scale) { return int32_t(std::lround(v * scale)); }

// The sheet: one row per part, one cell per state, on the button face.
Ref<TSysBitmap> DrawSheet(const TSheet& sheet, double scale) {
  const int32_t gap = Scaled(6, scale);
  int32_t width = 0, height = gap;
  for (const TCell& c : sheet.rows) {
    width = std::max(width, gap + c.states * (Scaled(c.size.cx, scale) + gap));
    height += Scaled(c.size.cy, scale) + gap;
  }
  Ref<TSysBitmap> b = NewBitmap32(width, height, ColorRGBA(240, 240, 240, 255));
  const HTHEME h = OpenThemeDataForDpi(0, sheet.cls, uint32_t(std::lround(96 * scale)));
  EXPECT_NE(h, 0u);
  int32_t y = gap;
  for (const TCell& c : sheet.rows) {
    const int32_t w = Scaled(c.size.cx, scale), hh = Scaled(c.size.cy, scale);
    for (int32_t s = 1; s <= c.states; ++s) {
      const int32_t x = gap + (s - 1) * (w + gap);
      const TRect r{x, y, x + w, y + hh};
      if (c.under >= 0) {
        EXPECT_EQ(DrawThemeBackground(h, b.get(), c.under, s, &r, nullptr), S_OK);
      }
      EXPECT_EQ(DrawThemeBackground(h, b.get(), c.part, s, &r, nullptr), S_OK) << c.part << "/" << s;
    }
    y += hh + gap;
  }
  CloseThemeData(h);
  return b;
}

TEST(UxThemeGolden, EveryPartAndStateAt100And150Percent) {
  const std::string dir = std::string(KAV_SOURCE_DIR) + "/tests/platform/theme/golden/";
  const bool update = std::getenv("KAV_UPDATE_GOLDENS") != nullptr;
  for (const TSheet& sheet : Sheets()) {
    for (int32_t percent : {100, 150}) {
      const std::string path = dir + sheet.name + "_" + std::to_string(percent) + ".png";
      SCOPED_TRACE(path);
      Ref<TSysBitmap> b = DrawSheet(sheet, percent / 100.0);
      if (update) {
        ASSERT_TRUE(WritePng(path, b.get()));
        continue;
      }
      int32_t w = 0, h = 0;
      std::vector<uint32_t> ref;
      ASSERT_TRUE(ReadPng(path, w, h, ref)) << "missing reference (KAV_UPDATE_GOLDENS=1 makes it)";
      ASSERT_EQ(w, b->Width());
      ASSERT_EQ(h, b->Height());
      int32_t worst = 0;
      for (int32_t yy = 0; yy < h; ++yy)
        for (int32_t xx = 0; xx < w; ++xx) {
          const TColor32 a = Pixel(b.get(), xx, yy), r = ref[size_t(yy) * size_t(w) + size_t(xx)];
          for (int shift = 0; shift < 24; shift += 8)
            worst = std::max(worst, std::abs(int32_t((a >> shift) & 0xFF) - int32_t((r >> shift) & 0xFF)));
        }
      EXPECT_LE(worst, 3);
    }
  }
}

}  // namespace
}  // namespace kav::uxtheme
