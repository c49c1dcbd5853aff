#include "VoRav/vxCalcSpline.h"

#include <cstdio>
#include <mutex>

namespace kav {

namespace {

// The curve with its fixed ends; control values are held as floats.
TCubicBezierPoints SplinePoints(double x1, double y1, double x2, double y2) {
  TCubicBezierPoints p;
  p.P0 = FloatPoint(0, 0);
  SetFloatPoint2(p.P1, x1, y1);
  SetFloatPoint2(p.P2, x2, y2);
  p.P3 = FloatPoint(1, 1);
  return p;
}

std::string OptName(double x1, double y1, double x2, double y2) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "QSplineGraph-opt(%.5g:%.5g;%.5g:%.5g)", x1, y1, x2, y2);
  return buf;
}

}  // namespace

TQSplineGraph::TQSplineGraph(std::string name) : TMathFunc(std::move(name), true, 5) {}

void TQSplineGraph::Evaluate(TCalcStack& stack) {
  const double y2 = CalcStackPop(stack);
  const double x2 = CalcStackPop(stack);
  const double y1 = CalcStackPop(stack);
  const double x1 = CalcStackPop(stack);
  stack.Top = EvaluateBezierUnsplit(SplinePoints(x1, y1, x2, y2), kSplineTolerance, stack.Top);
}

bool TQSplineGraph::Optimize(std::span<const double> trailing_constants, Ref<TCalcFunc>& replacement) {
  if (trailing_constants.size() < 4) return false;
  const double* c = trailing_constants.data() + trailing_constants.size() - 4;
  replacement = MakeRef<TQSplineGraph_opt>(c[0], c[1], c[2], c[3]);
  return true;
}

TQSplineGraph_opt::TQSplineGraph_opt(double x1, double y1, double x2, double y2)
    : TCalcFunc(OptName(x1, y1, x2, y2), true, 1),
      curve_(MakeRef<TCubicBezier>(SplinePoints(x1, y1, x2, y2))) {
  curve_->SetCurve(kSplineTolerance, 0, 1);
}

void TQSplineGraph_opt::Evaluate(TCalcStack& stack) { stack.Top = curve_->InterpolateCurve(stack.Top); }

void CreateSplineFunction(const std::string& name) { AddCalcFunction(MakeRef<TQSplineGraph>(name)); }

void RegisterCurveFunctions() {
  static std::once_flag once;
  std::call_once(once, [] { CreateSplineFunction("QSplineGraph"); });
}

}  // namespace kav
