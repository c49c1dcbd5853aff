#include "VoRav/CurveLinearInterpolation.h"

#include <cmath>

namespace kav {

namespace {

// Whether the curve between parameters a and b stays within the tolerance of
// its chord; also returns the end points and the curve point at the middle.
template <class PointFn>
bool IsFlat(const PointFn& point_at, double tolerance, double a, double b, TCurvePoint& pa, TCurvePoint& pb,
            TCurvePoint& mid) {
  point_at(a, pa);
  point_at(b, pb);
  TCurvePoint q1, q3;
  point_at(a * 0.75 + b * 0.25, q1);
  point_at((a + b) * 0.5, mid);
  point_at(a * 0.25 + b * 0.75, q3);
  auto near_chord = [&](const TCurvePoint& q, double f) {
    const double dx = q.x - (pa.x + (pb.x - pa.x) * f);
    const double dy = q.y - (pa.y + (pb.y - pa.y) * f);
    return dx * dx + dy * dy <= tolerance;
  };
  return near_chord(q1, 0.25) && near_chord(mid, 0.5) && near_chord(q3, 0.75);
}

// The slope of the piece from pa to pb; 0 for a vertical piece (or one so
// steep that the slope is not finite).
double PieceSlope(const TCurvePoint& pa, const TCurvePoint& pb) {
  const double dx = pb.x - pa.x;
  if (dx == 0) return 0;
  const double slope = (pb.y - pa.y) / dx;
  return std::isfinite(slope) ? slope : 0;
}

template <class PointFn>
double DescendUnsplit(const PointFn& point_at, double tolerance, double x) {
  double a = 0, b = 1;
  for (int depth = 0;; ++depth) {
    TCurvePoint pa, pb, mid;
    if (IsFlat(point_at, tolerance, a, b, pa, pb, mid) || depth >= TCurveSeparator::kMaxSplitDepth)
      return (x - pa.x) * PieceSlope(pa, pb) + pa.y;
    const double m = (a + b) * 0.5;
    // The left half's pieces end at mid.x; x equal to it belongs to the right.
    if (x < mid.x)
      b = m;
    else
      a = m;
  }
}

}  // namespace

void TCurveSeparator::Dispose() {
  pieces_.clear();
  has_list_ = false;
  TRefObject::Dispose();
}

void TCurveSeparator::SetCurve(double tolerance, double t0, double t1) {
  pieces_.clear();
  has_list_ = true;
  last_.store(0, std::memory_order_relaxed);
  SplitCurve(tolerance, t0, t1, 0);
}

void TCurveSeparator::SplitCurve(double tolerance, double a, double b, int depth) {
  TCurvePoint pa, pb, mid;
  auto point_at = [this](double t, TCurvePoint& p) { PointAt(t, p); };
  if (IsFlat(point_at, tolerance, a, b, pa, pb, mid) || depth >= kMaxSplitDepth) {
    pieces_.push_back(MakeRef<TKusochek>(pa.x, pb.x, PieceSlope(pa, pb), pa.y));
    return;
  }
  const double m = (a + b) * 0.5;
  SplitCurve(tolerance, a, m, depth + 1);
  SplitCurve(tolerance, m, b, depth + 1);
}

double TCurveSeparator::InterpolateCurve(double x) {
  KAV_ASSERT(has_list_);
  const int32_t n = PieceCount();
  if (n == 0) return x;
  int32_t i = last_.load(std::memory_order_relaxed);
  if (i < 0) i = 0;
  if (i > n - 1) i = n - 1;
  while (i > 0 && x < pieces_[static_cast<size_t>(i)]->StartX) --i;
  while (i < n - 1 && !(x < pieces_[static_cast<size_t>(i)]->EndX)) ++i;
  last_.store(i, std::memory_order_relaxed);
  const TKusochek& k = *pieces_[static_cast<size_t>(i)];
  return (x - k.StartX) * k.Slope + k.StartY;
}

double TCurveSeparator::EvaluateUnsplit(double tolerance, double x) const {
  return DescendUnsplit([this](double t, TCurvePoint& p) { PointAt(t, p); }, tolerance, x);
}

void TCubicBezierPoints::PointAt(double t, TCurvePoint& p) const {
  const double mt = 1 - t;
  const double c0 = mt * mt * mt;
  const double c1 = 3 * mt * mt * t;
  const double c2 = 3 * mt * t * t;
  const double c3 = t * t * t;
  p.x = c0 * P0.x + c1 * P1.x + c2 * P2.x + c3 * P3.x;
  p.y = c0 * P0.y + c1 * P1.y + c2 * P2.y + c3 * P3.y;
}

double EvaluateBezierUnsplit(const TCubicBezierPoints& points, double tolerance, double x) {
  return DescendUnsplit([&points](double t, TCurvePoint& p) { points.PointAt(t, p); }, tolerance, x);
}

}  // namespace kav
