#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "CalcTestUtil.h"
#include "VoRav/vxCalc.h"

using namespace kav;
using kav::test::Compile;
using kav::test::TVarResolver;

namespace {

class CalcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vars_.Values = {{"x", 3.0}, {"y", 0.5}, {"obj.Pos.X", 10.0}};
  }
  std::string C(const std::string& text) { return Compile(p_, text, vars_.AsResolver()); }
  // Compiles and evaluates; NaN when either fails or the stack does not end
  // with exactly one value.
  double Eval(const std::string& text) {
    p_.Text = text;
    if (!ParseExpression(p_, 0, text.size(), vars_.AsResolver())) return NAN;
    TCalcStack s;
    if (!EvaluateCode(p_.Code, s) || s.Count != 1) return NAN;
    return s.Top;
  }

  TExpressionParser0 p_;
  TVarResolver vars_;
};

}  // namespace

TEST_F(CalcTest, FoldsConstantsAndMergesConstantOperands) {
  EXPECT_EQ(C("2*3+1"), "load 7");
  EXPECT_EQ(C("Sqrt(16) + Pi*0"), "load 4");
  EXPECT_EQ(C("x*2+1"), "call x|mulc 2|addc 1");
  EXPECT_EQ(C("x+0"), "call x");
  EXPECT_EQ(C("x/4"), "call x|mulc 0.25");
  EXPECT_EQ(C("(x+1)+2"), "call x|addc 3");
  EXPECT_EQ(C("(x+1)-1"), "call x");
  EXPECT_EQ(C("-x+1"), "call x|csub 1");
  EXPECT_EQ(C("1-x"), "call x|csub 1");
  EXPECT_EQ(C("(1-x)+2"), "call x|csub 3");
  EXPECT_EQ(C("(1-x)-1"), "call x|neg");
  EXPECT_EQ(C("0-x"), "call x|neg");
  EXPECT_EQ(C("x*2*3"), "call x|mulc 6");
  EXPECT_EQ(C("x*0.5*2"), "call x");
  EXPECT_EQ(C("x*-1"), "call x|neg");
  EXPECT_EQ(C("-x*-1"), "call x");
  EXPECT_EQ(C("-x*3"), "call x|mulc -3");
  EXPECT_EQ(C("2/x*3"), "call x|cdiv 6");
  EXPECT_EQ(C("3+x*y"), "call x|call y|mul|addc 3");
  EXPECT_EQ(C("--x"), "call x");
  EXPECT_EQ(C("-x"), "call x|neg");
  EXPECT_EQ(C("-+-+-3"), "load -3");
  EXPECT_EQ(C("x-y/2"), "call x|call y|mulc 0.5|sub");
}

TEST_F(CalcTest, CallsFoldPureFunctionsAndOptimisePowerOfTwo) {
  EXPECT_EQ(C("Power(x, 2)"), "call x|call(1) Sqr");
  EXPECT_EQ(C("pow(x, 2.0000001)"), "call x|call(1) Sqr");
  EXPECT_EQ(C("Pow(x, 3)"), "call x|load 3|call(2) Pow");
  EXPECT_EQ(C("Power(2, x)"), "load 2|call x|call(2) Power");
  EXPECT_EQ(C("Power(3, 2)"), "load 9");
  EXPECT_EQ(C("SIN(0)+cos(0)"), "load 1");
  EXPECT_EQ(C("Rnd"), "call Rnd");
  EXPECT_EQ(C("Lerp(0, 10, x)"), "load 0|load 10|call x|call(3) Lerp");
  EXPECT_EQ(C("obj.Pos.X * 2"), "call obj.Pos.X|mulc 2");
  Ref<TCalcFunc> k = CreateMathConst("k", 3);
  TExpressionParser0 p;
  auto resolve_k = [](void* ctx, std::string_view n) -> Ref<TCalcFunc> {
    return n == "k" ? *static_cast<Ref<TCalcFunc>*>(ctx) : nullptr;
  };
  EXPECT_EQ(Compile(p, "k*2", TCalcResolver::FromFunction(resolve_k, &k)), "load 6");
  EXPECT_FALSE(FindCalcFunction("k"));  // a resolver's constant is not in the table
}

TEST_F(CalcTest, CompileErrorsCarryTheirCodeAndText) {
  EXPECT_EQ(C("1/0"), "error 3:Division by Zerro");
  EXPECT_EQ(C("x/0"), "error 3:Division by Zerro");
  EXPECT_EQ(C("x/(2-2)"), "error 3:Division by Zerro");
  EXPECT_EQ(C("x/1e-320"), "error 3:Division by Zerro");  // 1/c overflows
  EXPECT_EQ(C("Sin(1"), "error 1:)");
  EXPECT_EQ(C("Sin 1"), "error 1:(");
  EXPECT_EQ(C("Power(1 2)"), "error 1:,");
  EXPECT_EQ(C("(1+x"), "error 1:Operator or \")\"");
  EXPECT_EQ(C("2 3"), "error 1:Operator");
  EXPECT_EQ(C("Pi()"), "error 1:Operator");
  EXPECT_EQ(C(".5"), "error 1:Expression");
  EXPECT_EQ(C(""), "error 1:Expression");
  EXPECT_EQ(C("x $ 2"), "error 1:Operator");
  EXPECT_EQ(C("x+"), "error 1:Expression");
  EXPECT_EQ(C("Foo(1)"), "error 4:Unknown Function or Variable");
  EXPECT_EQ(C("1e"), "error 2:Invalid Number Format");
  EXPECT_EQ(C("1E+x"), "error 2:Invalid Number Format");
  EXPECT_EQ(C("1e999"), "error 2:Invalid Number Format");
  EXPECT_EQ(C("Sqrt(-1)"), "error 5:Function Call Error");
  EXPECT_EQ(C("1e300*1e300"), "error 5:Function Call Error");
  EXPECT_TRUE(p_.Code.Items.empty());  // failures leave no code behind
  // A later success clears the error.
  EXPECT_EQ(C("1.5e1"), "load 15");
  EXPECT_EQ(p_.ErrorCode, kCalcNoError);
  EXPECT_EQ(C("1e-400"), "load 0");  // underflow is zero, not an error
  EXPECT_EQ(C("2."), "load 2");
}

TEST_F(CalcTest, EvaluatesBuiltinsAndFailsOnNonFiniteSteps) {
  EXPECT_EQ(Eval("Round(2.5) + Round(3.5)*10"), 42);
  EXPECT_EQ(Eval("Frac(-1.25)"), -0.25);
  EXPECT_EQ(Eval("Ceil(-1.5)"), -1);
  EXPECT_EQ(Eval("Trunc(-1.7)"), -1);
  EXPECT_EQ(Eval("Lerp(2, 4, y)"), 3);
  EXPECT_EQ(Eval("Hypot(x, 4)"), 5);
  EXPECT_EQ(Eval("Abs(-x)"), 3);
  EXPECT_EQ(Eval("Sqr(x)"), 9);
  EXPECT_DOUBLE_EQ(Eval("ArcTan2(x, x)"), std::numbers::pi / 4);
  EXPECT_DOUBLE_EQ(Eval("ArcSin(y)"), std::numbers::pi / 6);
  EXPECT_DOUBLE_EQ(Eval("Power(x, y)"), std::sqrt(3.0));
  EXPECT_DOUBLE_EQ(Eval("Cotan(Pi/4)"), 1);
  EXPECT_EQ(Eval("x - y - 1"), 1.5);      // left-associative
  EXPECT_EQ(Eval("x / y / 2"), 3);
  EXPECT_EQ(Eval("2 - x * (y + 1)"), -2.5);
  EXPECT_EQ(Eval("  x\t*\n2 "), 6);

  vars_.Values["z"] = 0;
  EXPECT_TRUE(std::isnan(Eval("x / z")));       // run-time division by zero
  EXPECT_TRUE(std::isnan(Eval("1 / z")));       // cdiv
  EXPECT_TRUE(std::isnan(Eval("Sqrt(z - 1)")));
  EXPECT_TRUE(std::isnan(Eval("Power(z, -1)")));
  EXPECT_TRUE(std::isnan(Eval("ArcSin(x)")));
  EXPECT_EQ(Eval("Power(z, 0)"), 1);
}

TEST_F(CalcTest, RndIsEvaluatedEachTimeAndEmptyCodeSucceeds) {
  ASSERT_EQ(C("Rnd"), "call Rnd");
  TCalcStack s;
  ASSERT_TRUE(EvaluateCode(p_.Code, s));
  double a = s.Top;
  ASSERT_TRUE(EvaluateCode(p_.Code, s));
  EXPECT_NE(a, s.Top);
  EXPECT_GE(s.Top, 0);
  EXPECT_LT(s.Top, 1);

  ClearCode(p_.Code);
  EXPECT_EQ(CalcCodeText(p_.Code), "--nocmd--");
  CalcStackPush(s, 5);
  EXPECT_TRUE(EvaluateCode(p_.Code, s));
  EXPECT_EQ(s.Count, 0);
}

TEST_F(CalcTest, MalformedCodeFailsInsteadOfReadingPastTheStack) {
  TCalcCode code;
  code.Items.push_back({kCalcAdd, nullptr, 0});
  TCalcStack s;
  EXPECT_FALSE(EvaluateCode(code, s));
  code.Items = {{kCalcLoad, nullptr, 1}, {kCalcCall + 1, nullptr, 0}};
  EXPECT_FALSE(EvaluateCode(code, s));  // a call without its function
  code.Items = {{kCalcLoad, nullptr, 1}, {kCalcCall + 2, FindCalcFunction("Hypot"), 0}};
  EXPECT_FALSE(EvaluateCode(code, s));  // fewer values than arguments
  code.Items = {{-1, nullptr, 0}};
  EXPECT_FALSE(EvaluateCode(code, s));
}

TEST_F(CalcTest, RangeTraceAndLimits) {
  p_.Text = "xx1+2yy";
  ASSERT_TRUE(ParseExpression(p_, 2, 3, nullptr));
  EXPECT_EQ(CalcCodeText(p_.Code), "load 3\n");
  ASSERT_TRUE(ParseExpression(p_, 6, 100, vars_.AsResolver()));  // "y", count cut to the text
  p_.Text = "7";
  EXPECT_FALSE(ParseExpression(p_, 5, 1, nullptr));  // start past the end: empty range

  std::vector<std::string> trace;
  auto hook = [](void* ctx, std::string_view t) { static_cast<std::vector<std::string>*>(ctx)->emplace_back(t); };
  p_.Trace = TCalcTraceHook::FromFunction(hook, &trace);
  C("2*3");
  EXPECT_EQ(trace, (std::vector<std::string>{"load 2", "load 3", "/drop load 3", "/drop load 2", "load 6"}));
  p_.Trace = nullptr;

  // Nesting at the cap compiles; one more level is refused cleanly, whether by
  // parentheses or by function arguments.
  const int cap = TExpressionParser0::kMaxNesting;
  std::string ok = std::string(cap - 1, '(') + "x" + std::string(cap - 1, ')');
  EXPECT_EQ(C(ok), "call x");
  EXPECT_EQ(C("(" + ok + ")"), "error 6:Expression Too Complex");
  std::string calls;
  for (int i = 0; i < 5000; ++i) calls += "Sin(";
  EXPECT_EQ(C(calls + "x"), "error 6:Expression Too Complex");
  EXPECT_EQ(C(std::string(60000, '(')), "error 6:Expression Too Complex");
  std::string longsum = "x";
  while (longsum.size() <= TExpressionParser0::kMaxTextLength) longsum += "+x";
  EXPECT_EQ(C(longsum), "error 6:Expression Too Complex");
  EXPECT_EQ(C(std::string(60000, '-') + "x"), "call x");
}
