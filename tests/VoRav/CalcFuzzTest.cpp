// The calculator's fuzz entry over its seed corpus and over seeded random
// mutations of seed texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "Graphics/FuzzSeeds.h"
#include "tools/fuzz/FuzzTargets.h"

using namespace kav;

namespace {

const char* const kSeeds[] = {
    "",
    "t",
    "Sin(t*Pi*2)*50+50",
    "QSplineGraph(t, 0.25, 0.1, 0.25, 1)",
    "Lerp(value, 100, Frac(t*3))",
    "Power(t, 2) - -Power(t, 0.5) / Hypot(t, 1)",
    "((((t))))*(-(-(1e3)))",
    "1e",
    "1.5e+308*10",
    "Sqrt(-1)",
    "1/(t-t)",
    "Rnd*Rnd",
    "ArcTan2(t, 0)+ArcSin(t)+ArcCos(t)+Cotan(t)",
    "\xff\xfe(\x01",
    "Sin(Cos(Tan(",
    "a.b.c(1,2",
    ",,,,)))(((",
};

int Fuzz(const std::string& s) {
  return FuzzCalculator(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

}  // namespace

TEST(CalcFuzz, SeedsAndTheirMutationsCompileOrFailCleanly) {
  EXPECT_GE(kav::test::RunFuzzSeeds("calc", &FuzzCalculator), 8);
  for (const char* seed : kSeeds) EXPECT_EQ(Fuzz(seed), 0) << seed;

  static const char kPieces[] = "()+-*/,.eE0123456789 tPiSinLerpvalue\x01\xc3";
  std::mt19937 rng(7);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  for (int n = 0; n < 4000; ++n) {
    std::string s = kSeeds[pick(std::size(kSeeds))];
    for (int edits = 1 + static_cast<int>(pick(6)); edits > 0; --edits) {
      const size_t pos = s.empty() ? 0 : pick(s.size() + 1);
      switch (pick(3)) {
        case 0: s.insert(pos, 1, kPieces[pick(sizeof kPieces - 1)]); break;
        case 1: if (pos < s.size()) s.erase(pos, 1); break;
        default: if (pos < s.size()) s[pos] = kPieces[pick(sizeof kPieces - 1)]; break;
      }
    }
    ASSERT_EQ(Fuzz(s), 0) << s;
  }
}
