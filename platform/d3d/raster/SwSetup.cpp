#include "platform/d3d/raster/SwSetup.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kav {

namespace {

inline int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}
inline int64_t CeilDiv(int64_t a, int64_t b) {  // b > 0
  int64_t q = a / b;
  return (a % b != 0 && a > 0) ? q + 1 : q;
}

TSwPlane MakePlane(const double* x, const double* y, const double* f, double inv_det) {
  double a = ((f[1] - f[0]) * (y[2] - y[0]) - (f[2] - f[0]) * (y[1] - y[0])) * inv_det;
  double b = ((f[2] - f[0]) * (x[1] - x[0]) - (f[1] - f[0]) * (x[2] - x[0])) * inv_det;
  double c = f[0] - a * x[0] - b * y[0];
  return TSwPlane{float(c), float(a), float(b)};
}

}  // namespace

bool SwSetupTriangle(const TSwScreenVertex& v0, const TSwScreenVertex& v1, const TSwScreenVertex& v2,
                     int32_t nattr, const TSwRect& clip, TSwCull cull, TSwTriSetup& t) {
  const TSwScreenVertex* v[3] = {&v0, &v1, &v2};
  int64_t X[3], Y[3];
  for (int i = 0; i < 3; ++i) {
    // Clipping keeps positions within the guard band; anything else is refused here.
    if (!(std::fabs(v[i]->x) < 4194304.0f) || !(std::fabs(v[i]->y) < 4194304.0f)) return false;
    X[i] = int64_t(std::nearbyint(double(v[i]->x) * 256.0));
    Y[i] = int64_t(std::nearbyint(double(v[i]->y) * 256.0));
  }
  int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
  if (area == 0) return false;
  if (cull == TSwCull::CCW && area < 0) return false;
  if (cull == TSwCull::CW && area > 0) return false;
  int order[3] = {0, 1, 2};
  if (area < 0) std::swap(order[1], order[2]);
  for (int i = 0; i < 3; ++i) {
    t.X[i] = X[order[i]];
    t.Y[i] = Y[order[i]];
  }
  for (int e = 0; e < 3; ++e) {
    int n = (e + 1) % 3;
    t.DX[e] = t.X[n] - t.X[e];
    t.DY[e] = t.Y[n] - t.Y[e];
    bool top_left = t.DY[e] < 0 || (t.DY[e] == 0 && t.DX[e] > 0);
    t.Threshold[e] = top_left ? 0 : 1;
  }
  int64_t minx = std::min({X[0], X[1], X[2]}), maxx = std::max({X[0], X[1], X[2]});
  int64_t miny = std::min({Y[0], Y[1], Y[2]}), maxy = std::max({Y[0], Y[1], Y[2]});
  t.MinX = int32_t(std::max<int64_t>(clip.left, CeilDiv(minx, 256)));
  t.MaxX = int32_t(std::min<int64_t>(clip.right, FloorDiv(maxx, 256) + 1));
  t.MinY = int32_t(std::max<int64_t>(clip.top, CeilDiv(miny, 256)));
  t.MaxY = int32_t(std::min<int64_t>(clip.bottom, FloorDiv(maxy, 256) + 1));
  if (t.MinX >= t.MaxX || t.MinY >= t.MaxY) return false;

  double x[3], y[3];
  for (int i = 0; i < 3; ++i) {
    x[i] = double(X[i]) / 256.0;
    y[i] = double(Y[i]) / 256.0;
  }
  double inv_det = 1.0 / ((x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]));
  t.Affine = v0.w == v1.w && v0.w == v2.w;
  double iw[3] = {1.0, 1.0, 1.0};
  if (!t.Affine) {
    for (int i = 0; i < 3; ++i) iw[i] = 1.0 / double(v[i]->w);
    t.Q = MakePlane(x, y, iw, inv_det);
  } else {
    t.Q = TSwPlane{1.0f, 0.0f, 0.0f};
  }
  t.ConstMask = 0;
  for (int k = 0; k < nattr; ++k) {
    float a0 = v0.a[k];
    if (a0 == v1.a[k] && a0 == v2.a[k]) {
      t.ConstMask |= 1u << k;
      t.Const[k] = a0;
      t.Attr[k] = TSwPlane{a0, 0.0f, 0.0f};
      continue;
    }
    double f[3] = {double(v0.a[k]) * iw[0], double(v1.a[k]) * iw[1], double(v2.a[k]) * iw[2]};
    t.Attr[k] = MakePlane(x, y, f, inv_det);
  }
  return true;
}

bool SwTriangleSpan(const TSwTriSetup& t, int32_t y, int32_t& x0, int32_t& x1) {
  int64_t lo = t.MinX, hi = t.MaxX - 1;
  int64_t py = int64_t(y) * 256;
  for (int e = 0; e < 3; ++e) {
    // Edge function at pixel i of this row: e0 + step * i; covered when >= threshold.
    int64_t e0 = t.DX[e] * (py - t.Y[e]) + t.DY[e] * t.X[e];
    int64_t step = -t.DY[e] * 256;
    int64_t th = t.Threshold[e];
    if (step > 0) {
      lo = std::max(lo, CeilDiv(th - e0, step));
    } else if (step < 0) {
      hi = std::min(hi, FloorDiv(e0 - th, -step));
    } else if (e0 < th) {
      return false;
    }
    if (lo > hi) return false;
  }
  x0 = int32_t(lo);
  x1 = int32_t(hi + 1);
  return true;
}

}  // namespace kav
