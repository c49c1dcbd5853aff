// Fuzz entry point of the expression calculator's compiler and evaluator.
#include <string>
#include <string_view>

#include "VoRav/vxCalc.h"
#include "VoRav/vxCalcSpline.h"
#include "tools/fuzz/FuzzCheck.h"
#include "tools/fuzz/FuzzTargets.h"

namespace kav {

namespace {

// The variables "t" and "value", as a keyframe modifier sees them.
class TFuzzVar : public TCalcFunc {
 public:
  TFuzzVar(const char* name, double value) : TCalcFunc(name, false, 0), value_(value) {}
  void Evaluate(TCalcStack& stack) override { CalcStackPush(stack, value_); }

 private:
  double value_;
};

Ref<TCalcFunc> ResolveVariable(std::string_view name) {
  if (name == "t") return MakeRef<TFuzzVar>("t", 0.25);
  if (name == "value") return MakeRef<TFuzzVar>("value", -3);
  return nullptr;
}

}  // namespace

int FuzzCalculator(const uint8_t* data, size_t size) {
  RegisterCurveFunctions();
  TExpressionParser0 p;
  p.Text.assign(reinterpret_cast<const char*>(data), size);
  if (!ParseExpression(p, 0, size, TCalcResolver::Bind<&ResolveVariable>())) {
    FuzzCheck(p.Code.Items.empty() && p.ErrorCode != kCalcNoError, "FuzzCalculator",
              "a failed compilation left code or no error");
    return 0;
  }
  TCalcStack s;
  if (EvaluateCode(p.Code, s))
    FuzzCheck(s.Count == (p.Code.Items.empty() ? 0 : 1), "FuzzCalculator", "code left other than one value");
  CalcCodeText(p.Code);
  return 0;
}

}  // namespace kav
