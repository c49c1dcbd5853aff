// Curves turned into a list of straight pieces, so that evaluating y at x is a
// short search from the piece used last and one multiplication.
//
// A curve is split over its parameter range until every piece stays within a
// tolerance of the curve (the squared distance at a quarter, half and three
// quarters of the piece). The split depth is capped at kMaxSplitDepth, so a
// curve with huge or NaN control values gives at most 2^kMaxSplitDepth pieces
// instead of recursing without end.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxGeometry.h"

namespace kav {

// A point of a curve, in double precision.
struct TCurvePoint {
  double x = 0;
  double y = 0;
};

// One straight piece: y = (x - StartX) * Slope + StartY. A vertical piece
// (StartX equal to EndX) has slope 0: it answers StartY.
class TKusochek : public TRefObject {
 public:
  TKusochek(double start_x, double end_x, double slope, double start_y)
      : StartX(start_x), EndX(end_x), Slope(slope), StartY(start_y) {}
  double StartX, EndX, Slope, StartY;
};

class TCurveSeparator : public TRefObject {
 public:
  static constexpr int kMaxSplitDepth = 16;

  // The curve's point at parameter t.
  virtual void PointAt(double t, TCurvePoint& p) const = 0;

  // Empties the piece list (creating it when missing) and splits the curve
  // between parameters t0 and t1. Pieces come in order of t.
  void SetCurve(double tolerance, double t0, double t1);

  // y at x along the pieces: starts from the piece used last, walks down while
  // x is below the piece's start and up while x is not below its end,
  // stopping at the first or last piece (so x outside the curve is
  // extrapolated along the end pieces). x itself when there is no piece.
  // Asserts that SetCurve ran. Safe to call from several threads at once.
  double InterpolateCurve(double x);

  // y at x without a piece list: descends the same subdivision SetCurve would
  // make, into the half whose x-range holds x, and answers from that piece.
  // For a curve whose x rises with t this equals SetCurve over [0, 1] followed
  // by InterpolateCurve.
  double EvaluateUnsplit(double tolerance, double x) const;

  int32_t PieceCount() const { return static_cast<int32_t>(pieces_.size()); }
  const TKusochek& Piece(int32_t i) const { return *pieces_[static_cast<size_t>(i)]; }

 protected:
  void Dispose() override;

 private:
  void SplitCurve(double tolerance, double a, double b, int depth);

  bool has_list_ = false;
  std::vector<Ref<TKusochek>> pieces_;
  std::atomic<int32_t> last_{0};  // only a starting hint for the search
};

// The points of a cubic Bézier curve: (1-t)^3 P0 + 3(1-t)^2 t P1 + 3(1-t) t^2 P2 + t^3 P3.
struct TCubicBezierPoints {
  TFloatPoint P0, P1, P2, P3;
  void PointAt(double t, TCurvePoint& p) const;
};

class TCubicBezier : public TCurveSeparator {
 public:
  TCubicBezier() = default;
  explicit TCubicBezier(const TCubicBezierPoints& points) : Points(points) {}
  TCubicBezierPoints Points;
  void PointAt(double t, TCurvePoint& p) const override { Points.PointAt(t, p); }
};

// TCurveSeparator::EvaluateUnsplit for a Bézier curve held by value, for
// callers that must not share a curve object between threads.
double EvaluateBezierUnsplit(const TCubicBezierPoints& points, double tolerance, double x);

}  // namespace kav
