#include "VoRav/vxCalcUtils.h"

#include <cmath>
#include <numbers>
#include <random>

namespace kav {

// ---- value stack ----

void CalcStackClear(TCalcStack& stack) {
  stack.Top = 0;
  stack.Count = 0;
  stack.Below.clear();
}

void CalcStackPush(TCalcStack& stack, double value) {
  if (stack.Count >= 1) {
    KAV_ASSERT(stack.Count < TCalcStack::kMaxCount);
    if (stack.Below.capacity() == 0) stack.Below.reserve(8);
    stack.Below.push_back(stack.Top);
  }
  stack.Top = value;
  ++stack.Count;
}

double CalcStackPop(TCalcStack& stack) {
  double value = stack.Top;
  if (stack.Count > 1) {
    stack.Top = stack.Below.back();
    stack.Below.pop_back();
  }
  if (stack.Count > 0) --stack.Count;
  return value;
}

void CalcStackPop2(TCalcStack& stack, double& first, double& second) {
  KAV_ASSERT(stack.Count >= 2);
  second = CalcStackPop(stack);
  first = CalcStackPop(stack);
}

// ---- functions ----

TCalcFunc::TCalcFunc(std::string name, bool pure, int32_t arg_count)
    : name_(std::move(name)), arg_count_(arg_count), pure_(pure) {
  KAV_ASSERT(arg_count >= 0 && arg_count <= kMaxArgs);
}

bool TCalcFunc::Optimize(std::span<const double>, Ref<TCalcFunc>&) { return false; }

TMathConst::TMathConst(std::string name, double value) : TMathFunc(std::move(name), true, 0), Value(value) {}
void TMathConst::Evaluate(TCalcStack& stack) { CalcStackPush(stack, Value); }

TMathWrapper0::TMathWrapper0(std::string name, bool pure, double (*fn)())
    : TMathFunc(std::move(name), pure, 0), fn_(fn) {
  KAV_ASSERT(fn != nullptr);
}
void TMathWrapper0::Evaluate(TCalcStack& stack) { CalcStackPush(stack, fn_()); }

TMathWrapper1::TMathWrapper1(std::string name, bool pure, double (*fn)(double))
    : TMathFunc(std::move(name), pure, 1), fn_(fn) {
  KAV_ASSERT(fn != nullptr);
}
void TMathWrapper1::Evaluate(TCalcStack& stack) { stack.Top = fn_(stack.Top); }

TMathWrapper1Ext::TMathWrapper1Ext(std::string name, bool pure, Extended (*fn)(Extended))
    : TMathFunc(std::move(name), pure, 1), fn_(fn) {
  KAV_ASSERT(fn != nullptr);
}
void TMathWrapper1Ext::Evaluate(TCalcStack& stack) { stack.Top = static_cast<double>(fn_(stack.Top)); }

TMathWrapper2Ext::TMathWrapper2Ext(std::string name, bool pure, Extended (*fn)(Extended, Extended))
    : TMathFunc(std::move(name), pure, 2), fn_(fn) {
  KAV_ASSERT(fn != nullptr);
}
void TMathWrapper2Ext::Evaluate(TCalcStack& stack) {
  double second = CalcStackPop(stack);
  stack.Top = static_cast<double>(fn_(stack.Top, second));
}

TMathWrapper3::TMathWrapper3(std::string name, bool pure, double (*fn)(double, double, double))
    : TMathFunc(std::move(name), pure, 3), fn_(fn) {
  KAV_ASSERT(fn != nullptr);
}
void TMathWrapper3::Evaluate(TCalcStack& stack) {
  double third = CalcStackPop(stack);
  double second = CalcStackPop(stack);
  stack.Top = fn_(stack.Top, second, third);
}

TPowerOptFunc::TPowerOptFunc(std::string name) : TMathWrapper2Ext(std::move(name), true, &Power) {}

bool TPowerOptFunc::Optimize(std::span<const double> trailing_constants, Ref<TCalcFunc>& replacement) {
  if (trailing_constants.empty() || std::fabs(trailing_constants.back() - 2) > 1e-06) return false;
  replacement = FindCalcFunction("Sqr");
  return static_cast<bool>(replacement);
}

Ref<TCalcFunc> CreateMathConst(std::string name, double value) {
  return MakeRef<TMathConst>(std::move(name), value);
}

// ---- built-ins ----

namespace {

Extended ExtSin(Extended x) { return std::sin(x); }
Extended ExtCos(Extended x) { return std::cos(x); }
Extended ExtArcTan(Extended x) { return std::atan(x); }
Extended ExtSqrt(Extended x) { return std::sqrt(x); }
double DblSqr(double x) { return x * x; }
double DblAbs(double x) { return std::fabs(x); }
double DblFrac(double x) { return x - std::trunc(x); }
double DblRound(double x) { return std::nearbyint(x); }  // halves to even
double DblTrunc(double x) { return std::trunc(x); }
double DblCeil(double x) { return std::ceil(x); }
double DblLerp(double a, double b, double t) { return a + (b - a) * t; }

double Rnd() {
  // A random integer in 0 .. 2147483646 scaled into [0, 1). Each thread has its
  // own generator, so evaluations on different threads never share state.
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int32_t> dist(0, 2147483646);
  return dist(generator) * 4.656612877414201e-10;
}

}  // namespace

std::vector<Ref<TCalcFunc>> CreateBuiltinCalcFunctions() {
  std::vector<Ref<TCalcFunc>> f;
  f.push_back(CreateMathConst("Pi", std::numbers::pi));
  f.push_back(MakeRef<TMathWrapper1Ext>("Sin", true, &ExtSin));
  f.push_back(MakeRef<TMathWrapper1Ext>("Cos", true, &ExtCos));
  f.push_back(MakeRef<TMathWrapper1Ext>("Tan", true, &Tan));
  f.push_back(MakeRef<TMathWrapper1Ext>("Cotan", true, &Cotan));
  f.push_back(MakeRef<TMathWrapper1Ext>("ArcSin", true, &ArcSin));
  f.push_back(MakeRef<TMathWrapper1Ext>("ArcCos", true, &ArcCos));
  f.push_back(MakeRef<TMathWrapper1Ext>("ArcTan", true, &ExtArcTan));
  f.push_back(MakeRef<TMathWrapper2Ext>("ArcTan2", true, &ArcTan2));
  f.push_back(MakeRef<TMathWrapper2Ext>("Hypot", true, &Hypot));
  f.push_back(MakeRef<TMathWrapper1Ext>("Sqrt", true, &ExtSqrt));
  f.push_back(MakeRef<TPowerOptFunc>("Power"));
  f.push_back(MakeRef<TPowerOptFunc>("Pow"));
  f.push_back(MakeRef<TMathWrapper1>("Sqr", true, &DblSqr));
  f.push_back(MakeRef<TMathWrapper1>("Abs", true, &DblAbs));
  f.push_back(MakeRef<TMathWrapper1>("Frac", true, &DblFrac));
  f.push_back(MakeRef<TMathWrapper1>("Round", true, &DblRound));
  f.push_back(MakeRef<TMathWrapper1>("Trunc", true, &DblTrunc));
  f.push_back(MakeRef<TMathWrapper1>("Ceil", true, &DblCeil));
  f.push_back(MakeRef<TMathWrapper3>("Lerp", true, &DblLerp));
  f.push_back(MakeRef<TMathWrapper0>("Rnd", false, &Rnd));
  return f;
}

}  // namespace kav
