// The join of rectangles along whole sides: the same rectangles, in the
// same order, each with the same parts in the same order, as the plain loop
// that restarts from the first pair after every join.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"
#include "tests/KavLib2/3DEngine/Transitions/SideJoinReference.h"

namespace kav {
namespace {

// The plain loop (of rectangles of the same kind), with the parts each
// rectangle took in.
TSideJoin PlainJoin(std::vector<TRect> rects, const std::vector<TPoint>* kinds) {
  std::vector<std::vector<uint32_t>> parts(rects.size());
  std::vector<TPoint> kind(rects.size());
  for (size_t i = 0; i < rects.size(); ++i) parts[i] = {uint32_t(i)}, kind[i] = kinds ? (*kinds)[i] : TPoint{};
  PlainJoinAlongSides(
      rects, [&](size_t i, size_t j) { return kind[i] == kind[j]; },
      [&](size_t i, size_t j) {
        parts[i].insert(parts[i].end(), parts[j].begin(), parts[j].end());
        parts.erase(parts.begin() + std::ptrdiff_t(j));
        kind.erase(kind.begin() + std::ptrdiff_t(j));
      });
  TSideJoin out;
  out.Rects = rects;
  out.Starts.push_back(0);
  for (const auto& p : parts) {
    out.Members.insert(out.Members.end(), p.begin(), p.end());
    out.Starts.push_back(uint32_t(out.Members.size()));
  }
  return out;
}

void ExpectSameJoin(const std::vector<TRect>& rects, const std::vector<TPoint>* kinds, const char* what,
                    int round) {
  const TSideJoin want = PlainJoin(rects, kinds), got = JoinAlongSides(rects, kinds);
  ASSERT_EQ(got.Rects.size(), want.Rects.size()) << what << " round " << round;
  for (size_t k = 0; k < want.Rects.size(); ++k) {
    const TRect& a = got.Rects[k];
    const TRect& b = want.Rects[k];
    ASSERT_EQ(a, b) << what << " round " << round << " rect " << k << ": " << a.Left << "," << a.Top << ","
                    << a.Right << "," << a.Bottom << " instead of " << b.Left << "," << b.Top << "," << b.Right
                    << "," << b.Bottom;
  }
  ASSERT_EQ(got.Starts, want.Starts) << what << " round " << round;
  ASSERT_EQ(got.Members, want.Members) << what << " round " << round;
}

// A grid of cells of random widths and heights, each there or not, some
// cut in two, some twice, in row, column, reversed or shuffled order.
std::vector<TRect> RandomGrid(std::mt19937& rng, int32_t cols, int32_t rows, double fill) {
  std::vector<int32_t> xs{0}, ys{0};
  for (int32_t i = 0; i < cols; ++i) xs.push_back(xs.back() + 1 + int32_t(rng() % 3));
  for (int32_t j = 0; j < rows; ++j) ys.push_back(ys.back() + 1 + int32_t(rng() % 3));
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<TRect> cells;
  const bool by_columns = rng() % 2;
  for (int32_t a = 0; a < (by_columns ? cols : rows); ++a)
    for (int32_t b = 0; b < (by_columns ? rows : cols); ++b) {
      const int32_t i = by_columns ? a : b, j = by_columns ? b : a;
      if (u(rng) >= fill) continue;
      const TRect c{xs[size_t(i)], ys[size_t(j)], xs[size_t(i) + 1], ys[size_t(j) + 1]};
      const double r = u(rng);
      if (r < 0.05 && c.Width() > 1) {  // cut down the middle
        const int32_t m = c.Left + 1;
        cells.push_back(TRect{c.Left, c.Top, m, c.Bottom});
        cells.push_back(TRect{m, c.Top, c.Right, c.Bottom});
      } else if (r < 0.1 && c.Height() > 1) {  // cut across
        const int32_t m = c.Top + 1;
        cells.push_back(TRect{c.Left, c.Top, c.Right, m});
        cells.push_back(TRect{c.Left, m, c.Right, c.Bottom});
      } else {
        cells.push_back(c);
        if (r > 0.97) cells.push_back(c);  // twice
      }
    }
  switch (rng() % 4) {
    case 0: break;
    case 1: std::reverse(cells.begin(), cells.end()); break;
    case 2: std::shuffle(cells.begin(), cells.end(), rng); break;
    default:  // a few swapped
      for (size_t k = 0; k < cells.size() / 8 + 1 && cells.size() > 1; ++k)
        std::swap(cells[rng() % cells.size()], cells[rng() % cells.size()]);
  }
  return cells;
}

std::vector<TPoint> RandomKinds(std::mt19937& rng, size_t n, uint32_t count) {
  std::vector<TPoint> k(n);
  for (auto& p : k) p = TPoint{int32_t(rng() % count), count > 2 ? int32_t(rng() % 2) : 0};
  return k;
}

TEST(SideJoin, JoinsAsThePlainLoopOnRandomGrids) {
  std::mt19937 rng(20260);
  for (int round = 0; round < 1500; ++round) {
    // Mostly small grids (where every order of joins shows), some larger.
    const int32_t cols = 1 + int32_t(rng() % (round % 10 == 0 ? 18 : 6));
    const int32_t rows = 1 + int32_t(rng() % (round % 10 == 0 ? 18 : 6));
    const double fill = std::array<double, 4>{1.0, 0.9, 0.6, 0.3}[rng() % 4];
    const std::vector<TRect> cells = RandomGrid(rng, cols, rows, fill);
    ASSERT_NO_FATAL_FAILURE(ExpectSameJoin(cells, nullptr, "grid", round));
    const std::vector<TPoint> kinds = RandomKinds(rng, cells.size(), 1 + rng() % 3);
    ASSERT_NO_FATAL_FAILURE(ExpectSameJoin(cells, &kinds, "grid of kinds", round));
  }
}

// Rectangles anywhere on a small lattice: overlapping, repeated, and
// continuing several others at once.
TEST(SideJoin, JoinsAsThePlainLoopOnOverlappingRectangles) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 1500; ++round) {
    const int32_t span = 2 + int32_t(rng() % 5);
    std::vector<TRect> rects(1 + rng() % 40);
    for (TRect& r : rects) {
      r.Left = int32_t(rng() % uint32_t(span));
      r.Top = int32_t(rng() % uint32_t(span));
      r.Right = r.Left + 1 + int32_t(rng() % 3);
      r.Bottom = r.Top + 1 + int32_t(rng() % 3);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectSameJoin(rects, nullptr, "lattice", round));
    const std::vector<TPoint> kinds = RandomKinds(rng, rects.size(), 2);
    ASSERT_NO_FATAL_FAILURE(ExpectSameJoin(rects, &kinds, "lattice of kinds", round));
  }
}

TEST(SideJoin, EdgeCases) {
  EXPECT_TRUE(JoinAlongSides({}).Rects.empty());
  EXPECT_EQ(JoinAlongSides({}).Starts, std::vector<uint32_t>{0});
  // One rectangle; two that only touch at a corner; a strip out of order.
  ExpectSameJoin({TRect{0, 0, 2, 2}}, nullptr, "one", 0);
  ExpectSameJoin({TRect{0, 0, 2, 2}, TRect{2, 2, 4, 4}}, nullptr, "corner", 0);
  const std::vector<TRect> strip{TRect{4, 0, 6, 1}, TRect{0, 0, 2, 1}, TRect{2, 0, 4, 1}};
  ExpectSameJoin(strip, nullptr, "strip", 0);
  const TSideJoin s = JoinAlongSides(strip);
  ASSERT_EQ(s.Rects.size(), 1u);
  EXPECT_EQ(s.Rects[0], (TRect{0, 0, 6, 1}));
  EXPECT_EQ(s.Members, (std::vector<uint32_t>{1, 2, 0}));
  // Coordinates at the ends of the range.
  const int32_t lo = INT32_MIN, hi = INT32_MAX;
  ExpectSameJoin({TRect{lo, lo, 0, 0}, TRect{0, lo, hi, 0}, TRect{lo, 0, hi, hi}}, nullptr, "range", 0);
  EXPECT_EQ(JoinAlongSides({TRect{lo, lo, 0, 0}, TRect{0, lo, hi, 0}, TRect{lo, 0, hi, hi}}).Rects,
            (std::vector<TRect>{TRect{lo, lo, hi, hi}}));
}

// The full grid the mosaic's largest block count gives, in the order the
// filter draws it: one rectangle, every block in it, in a moment.
TEST(SideJoin, TheLargestMosaicGridJoinsWhole) {
  std::vector<TRect> cells;
  for (int32_t j = 0; j < 256; ++j)
    for (int32_t i = 0; i < 256; ++i) cells.push_back(TRect{i * 7, j * 4, i * 7 + 7, j * 4 + 4});
  const TSideJoin s = JoinAlongSides(cells);
  ASSERT_EQ(s.Rects.size(), 1u);
  EXPECT_EQ(s.Rects[0], (TRect{0, 0, 256 * 7, 256 * 4}));
  EXPECT_EQ(s.Members.size(), cells.size());
}

}  // namespace
}  // namespace kav
