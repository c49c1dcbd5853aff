// A fuzz entry for the calculator's compiler (libFuzzer signature), and a
// regression run over seed texts and seeded random mutations of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "CalcTestUtil.h"
#include "VoRav/vxCalcSpline.h"

using namespace kav;

// Compiles the bytes as a formula with two variables and runs the code when
// it compiles. Must never crash, hang or leak whatever the bytes are.
int FuzzCalculator(const uint8_t* data, size_t size) {
  static kav::test::TVarResolver vars = [] {
    kav::test::TVarResolver v;
    v.Values = {{"t", 0.25}, {"value", -3}};
    return v;
  }();
  RegisterCurveFunctions();
  TExpressionParser0 p;
  p.Text.assign(reinterpret_cast<const char*>(data), size);
  if (ParseExpression(p, 0, size, vars.AsResolver())) {
    TCalcStack s;
    EvaluateCode(p.Code, s);
    CalcCodeText(p.Code);
  }
  return 0;
}

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
