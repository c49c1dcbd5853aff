// The optimised compiler must compute what the plain expression tree computes.
// Random expressions are built as trees, printed as text, evaluated directly
// from the tree, and compiled and run through the calculator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "CalcTestUtil.h"
#include "VoRav/wpMath.h"

using namespace kav;

namespace {

struct Result {
  double value = 0;
  bool finite = true;     // every step of the plain evaluation was finite
  double magnitude = 1;   // the largest intermediate value, for the tolerance
};

class TExprGen {
 public:
  explicit TExprGen(uint32_t seed) : rng_(seed) {}

  // Produces text and its plainly evaluated result.
  std::string Make(int depth, Result& r) {
    const int pick = Pick(depth <= 0 ? 3 : 12);
    std::string text;
    if (pick == 0) {
      static const double kConsts[] = {0, 1, 2, 3, 0.5, 10};
      static const char* kTexts[] = {"0", "1", "2", "3", "0.5", "10"};
      int i = Pick(6);
      r.value = kConsts[i];
      text = kTexts[i];
    } else if (pick <= 2) {
      static const char* kNames[] = {"x", "y", "z"};
      static const double kValues[] = {3, 0.5, -2};
      int i = Pick(3);
      r.value = kValues[i];
      text = kNames[i];
    } else if (pick <= 7) {
      Result a, b;
      std::string ta = Make(depth - 1, a), tb = Make(depth - 1, b);
      static const char kOps[] = "+-*/";
      char op = kOps[Pick(4)];
      switch (op) {
        case '+': r.value = a.value + b.value; break;
        case '-': r.value = a.value - b.value; break;
        case '*': r.value = a.value * b.value; break;
        default: r.value = a.value / b.value; break;
      }
      Merge(r, a, b);
      text = "(" + ta + ")" + op + "(" + tb + ")";
    } else if (pick == 8) {
      Result a;
      std::string ta = Make(depth - 1, a);
      r.value = -a.value;
      Merge(r, a, a);
      text = Pick(2) ? "-(" + ta + ")" : "--(" + ta + ")*-1";
    } else if (pick == 9) {
      Result a, b;
      std::string ta = Make(depth - 1, a), tb = Make(depth - 1, b);
      r.value = static_cast<double>(Hypot(a.value, b.value));
      Merge(r, a, b);
      text = "Hypot(" + ta + "," + tb + ")";
    } else if (pick == 10) {
      Result a, b;
      std::string ta = Make(depth - 1, a), tb = Make(depth - 1, b);
      r.value = static_cast<double>(Power(a.value, b.value));
      Merge(r, a, b);
      text = "Power(" + ta + "," + tb + ")";
    } else {
      Result a, b, t;
      std::string ta = Make(depth - 1, a), tb = Make(depth - 1, b), tt = Make(depth - 1, t);
      r.value = a.value + (b.value - a.value) * t.value;
      Merge(r, a, b);
      Merge(r, r, t);
      text = "Lerp(" + ta + "," + tb + "," + tt + ")";
    }
    if (!std::isfinite(r.value)) r.finite = false;
    r.magnitude = std::max(r.magnitude, std::fabs(r.value));
    return text;
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  static void Merge(Result& r, const Result& a, const Result& b) {
    r.finite = r.finite && a.finite && b.finite;
    r.magnitude = std::max({r.magnitude, a.magnitude, b.magnitude});
  }
  std::mt19937 rng_;
};

}  // namespace

TEST(CalcProperty, OptimisedCodeComputesWhatTheTreeComputes) {
  kav::test::TVarResolver vars;
  vars.Values = {{"x", 3}, {"y", 0.5}, {"z", -2}};
  TExprGen gen(20240601);
  TExpressionParser0 p;
  int compared = 0;
  for (int n = 0; n < 3000; ++n) {
    Result ref;
    std::string text = gen.Make(1 + n % 5, ref);
    p.Text = text;
    bool compiled = ParseExpression(p, 0, text.size(), vars.AsResolver());
    TCalcStack s;
    bool ran = compiled && EvaluateCode(p.Code, s);
    if (!ref.finite) continue;  // a division by zero or an overflow somewhere: any failure is fine
    ASSERT_TRUE(compiled) << text << " error " << p.ErrorCode;
    ASSERT_TRUE(ran) << text;
    ASSERT_EQ(s.Count, 1) << text;
    EXPECT_NEAR(s.Top, ref.value, 1e-12 * ref.magnitude) << text << "\n" << CalcCodeText(p.Code);
    ++compared;
  }
  EXPECT_GT(compared, 2000);
}
