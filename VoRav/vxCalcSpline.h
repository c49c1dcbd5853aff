// Easing curves for the calculator: "QSplineGraph(x, x1, y1, x2, y2)" is y at
// x of the cubic Bézier graph from (0, 0) over (x1, y1) and (x2, y2) to
// (1, 1), like a timing curve. With constant control values the compiler
// replaces the call by a function holding the curve already split into
// straight pieces.
#pragma once

#include <string>

#include "VoRav/CurveLinearInterpolation.h"
#include "VoRav/vxCalcUtils.h"

namespace kav {

// The tolerance (squared distance) to which spline graphs are split.
constexpr double kSplineTolerance = 1e-06;

// The five-argument spline function. Evaluates by subdividing the curve on
// every call; it keeps no state, so one function serves every thread.
class TQSplineGraph : public TMathFunc {
 public:
  explicit TQSplineGraph(std::string name);
  void Evaluate(TCalcStack& stack) override;
  // With the four control values constant: a TQSplineGraph_opt of x alone.
  bool Optimize(std::span<const double> trailing_constants, Ref<TCalcFunc>& replacement) override;
};

// y at x of one already split curve (one argument).
class TQSplineGraph_opt : public TCalcFunc {
 public:
  // Named "QSplineGraph-opt(x1:y1;x2:y2)" with 5 significant digits each.
  TQSplineGraph_opt(double x1, double y1, double x2, double y2);
  void Evaluate(TCalcStack& stack) override;
  TCubicBezier& Curve() { return *curve_; }

 private:
  Ref<TCubicBezier> curve_;
};

// Creates a TQSplineGraph under the name and enters it in the function table.
void CreateSplineFunction(const std::string& name);
// Enters "QSplineGraph" once; start-up calls it before formulas are compiled.
void RegisterCurveFunctions();

}  // namespace kav
