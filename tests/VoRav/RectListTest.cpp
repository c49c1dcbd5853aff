#include <gtest/gtest.h>

#include <random>

#include "VoRav/vxRectUtils.h"

using namespace kav;

namespace {

bool Overlap(const TRect& a, const TRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

}  // namespace

TEST(RectList, AddSkipsEmptyRectanglesAndBoundsUnites) {
  TRectList list;
  EXPECT_EQ(list.Bounds(), TRect{});
  EXPECT_EQ(list.Add(Rect(5, 5, 5, 10)), -1);
  EXPECT_EQ(list.Add(Rect(5, 5, 10, 4)), -1);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Add(Rect(0, 0, 2, 2)), 0);
  EXPECT_EQ(list.Add(Rect(10, -3, 12, 1)), 1);
  EXPECT_EQ(list.Bounds(), Rect(0, -3, 12, 2));
  EXPECT_TRUE(list.ContainsPoint(0, 0));
  EXPECT_FALSE(list.ContainsPoint(2, 0));  // right edge exclusive
  list.Offset(1, 1);
  EXPECT_TRUE(list.ContainsPoint(2, 2));
  EXPECT_FALSE(list.ContainsPoint(0, 0));
  TRectListWrapper* w = new TRectListWrapper(list);
  list.Clear();
  EXPECT_EQ(w->List.Count(), 2);
  w->Free();
  TRect r = Rect(0, 0, 1, 1);
  OffsetRect(r, INT32_MAX, 0);  // wraps, never undefined
  EXPECT_EQ(r.Right, INT32_MIN);
}

TEST(RectList, IncludeAddsOnlyUncoveredParts) {
  TRectList list;
  list.Include(Rect(0, 0, 10, 10));
  list.Include(Rect(2, 2, 5, 5));  // inside: nothing changes
  ASSERT_EQ(list.Count(), 1);
  list.Include(Rect(-1, -1, 11, 11));  // covers the only entry: replaces it
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], Rect(-1, -1, 11, 11));
  list.Include(Rect(20, 0, 30, 10));
  // Overlaps both stored rectangles: only the gap between them is new.
  list.Include(Rect(5, 2, 25, 8));
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[2], Rect(11, 2, 20, 8));
}

TEST(RectList, IncludeKeepsListDisjointAndCoversExactlyTheUnion) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> coord(0, 40);
  constexpr int kSize = 48;
  for (int round = 0; round < 20; ++round) {
    TRectList list;
    bool covered[kSize][kSize] = {};
    for (int n = 0; n < 25; ++n) {
      int l = coord(rng), t = coord(rng);
      TRect r = Rect(l, t, l + coord(rng) / 3, t + coord(rng) / 3);
      list.Include(r);
      for (int y = r.Top; y < r.Bottom && y < kSize; ++y)
        for (int x = r.Left; x < r.Right && x < kSize; ++x) covered[y][x] = true;
    }
    for (int i = 0; i < list.Count(); ++i) {
      ASSERT_FALSE(RectIsEmpty(list[i]));
      for (int j = i + 1; j < list.Count(); ++j) ASSERT_FALSE(Overlap(list[i], list[j])) << i << " " << j;
    }
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) ASSERT_EQ(list.ContainsPoint(x, y), covered[y][x]) << x << "," << y;
  }
}

TEST(RectList, IncludeOverALongListNeedsNoDeepRecursion) {
  TRectList list;
  for (int i = 0; i < 5000; ++i) list.Add(Rect(i * 2, 0, i * 2 + 1, 1));
  list.Include(Rect(-1, 0, 10001, 1));
  EXPECT_EQ(list.Count(), 5000 + 5001);
}
