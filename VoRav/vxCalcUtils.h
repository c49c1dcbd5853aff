// The expression calculator's functions, its global function table and its
// value stack.
//
// A function pops its arguments from the value stack and pushes its result.
// Built-in functions live in one global table that is built on first use;
// other modules may enter more functions (AddCalcFunction), and a resolver of
// the caller can hand out functions that are not in the table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/wpMath.h"

namespace kav {

// The value stack: the top value held apart from the values below it.
// Belongs to one thread.
struct TCalcStack {
  // The most values a stack holds; growing past it is an assertion failure.
  static constexpr int32_t kMaxCount = 1 << 20;

  double Top = 0;
  int32_t Count = 0;
  std::vector<double> Below;  // the values under the top, the deepest first
};

void CalcStackClear(TCalcStack& stack);
// The old top (if any) moves below; the value becomes the top.
void CalcStackPush(TCalcStack& stack, double value);
// Returns the top; the next value (if any) becomes the top. On an empty stack
// returns the stale top and the count stays 0.
double CalcStackPop(TCalcStack& stack);
// Takes the top two values (asserts there are two): `first` was pushed first.
void CalcStackPop2(TCalcStack& stack, double& first, double& second);

// A calculator function.
class TCalcFunc : public TRefObject {
 public:
  // The most arguments a function takes.
  static constexpr int32_t kMaxArgs = 255;

  // `pure`: may be evaluated at compile time when all arguments are constants.
  TCalcFunc(std::string name, bool pure, int32_t arg_count);

  const std::string& Name() const { return name_; }
  int32_t ArgCount() const { return arg_count_; }
  bool Pure() const { return pure_; }

  // Pops ArgCount() arguments (the last one on top) and pushes the result, or
  // replaces the top in place. The caller guarantees the stack holds at least
  // ArgCount() values. May throw; a non-finite result counts as a failure of
  // the evaluation that called it.
  virtual void Evaluate(TCalcStack& stack) = 0;

  // Called at compile time when the trailing arguments are constants (given in
  // order, the last argument last). May hand back a replacement taking fewer
  // arguments, at least ArgCount() - constants.size(): the compiler then drops
  // that many trailing constants and calls the replacement. The base answers
  // false.
  virtual bool Optimize(std::span<const double> trailing_constants, Ref<TCalcFunc>& replacement);

 private:
  friend class TCalcFunctionTable;
  std::string name_;
  int32_t arg_count_;
  bool pure_;
  TCalcFunc* next_ = nullptr;  // the next function in its table chain
};

// A function with a native implementation.
class TMathFunc : public TCalcFunc {
 public:
  using TCalcFunc::TCalcFunc;
};

// A named constant: no arguments, pure, pushes its value.
class TMathConst : public TMathFunc {
 public:
  TMathConst(std::string name, double value);
  double Value;
  void Evaluate(TCalcStack& stack) override;
};

// Wrappers around plain functions. The implementation must not be null
// (asserted). `Ext` variants compute in Extended (see wpMath.h).
class TMathWrapper0 : public TMathFunc {
 public:
  TMathWrapper0(std::string name, bool pure, double (*fn)());
  void Evaluate(TCalcStack& stack) override;

 private:
  double (*fn_)();
};

class TMathWrapper1 : public TMathFunc {
 public:
  TMathWrapper1(std::string name, bool pure, double (*fn)(double));
  void Evaluate(TCalcStack& stack) override;

 private:
  double (*fn_)(double);
};

class TMathWrapper1Ext : public TMathFunc {
 public:
  TMathWrapper1Ext(std::string name, bool pure, Extended (*fn)(Extended));
  void Evaluate(TCalcStack& stack) override;

 private:
  Extended (*fn_)(Extended);
};

class TMathWrapper2Ext : public TMathFunc {
 public:
  TMathWrapper2Ext(std::string name, bool pure, Extended (*fn)(Extended, Extended));
  void Evaluate(TCalcStack& stack) override;

 private:
  Extended (*fn_)(Extended, Extended);
};

class TMathWrapper3 : public TMathFunc {
 public:
  TMathWrapper3(std::string name, bool pure, double (*fn)(double, double, double));
  void Evaluate(TCalcStack& stack) override;

 private:
  double (*fn_)(double, double, double);
};

// Power(base, exponent); a constant exponent within 1e-06 of 2 is compiled as
// a call of "Sqr".
class TPowerOptFunc : public TMathWrapper2Ext {
 public:
  explicit TPowerOptFunc(std::string name);
  bool Optimize(std::span<const double> trailing_constants, Ref<TCalcFunc>& replacement) override;
};

// The global function table. Lookups may run on any thread without a lock;
// adding takes the table's lock. Names match without regard to ASCII case.

// Fills the table with the built-in functions once.
void BuildFunctionTable();
// The function of that name (one more reference), or null.
Ref<TCalcFunc> FindCalcFunction(std::string_view name);
// Enters a function (the table takes its own reference); a later entry of the
// same name hides an earlier one.
void AddCalcFunction(const Ref<TCalcFunc>& func);
// Empties the table and releases every function. Runs at program exit; no
// lookup may run at the same time.
void FreeFunctionTable();

// The built-in functions, in the order the table enters them.
std::vector<Ref<TCalcFunc>> CreateBuiltinCalcFunctions();

// A named constant that is not entered in the table (for a resolver).
Ref<TCalcFunc> CreateMathConst(std::string name, double value);

}  // namespace kav
