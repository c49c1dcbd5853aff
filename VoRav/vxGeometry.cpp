#include "VoRav/vxGeometry.h"

#include <cmath>

namespace kav {

namespace {

inline float F(double v) { return static_cast<float>(v); }

struct D3 {
  double x, y, z;
};
inline D3 ToD3(const TVector3& v) { return {v.x, v.y, v.z}; }
inline double Det3(const D3& a, const D3& b, const D3& c) {
  return a.x * (b.y * c.z - b.z * c.y) - a.y * (b.x * c.z - b.z * c.x) + a.z * (b.x * c.y - b.y * c.x);
}

}  // namespace

TFloatRect FloatRect(float l, float t, float r, float b) { return {l, t, r, b}; }
TFloatRect IntRectToFloatRect(const TRect& r) {
  return {F(r.Left), F(r.Top), F(r.Right), F(r.Bottom)};
}
TFloatRect FloatRectFromSize(float w, float h) { return {0, 0, w, h}; }
TFloatPoint FloatPoint(float x, float y) { return {x, y}; }
void SetFloatPoint(TFloatPoint& p, float x, float y) { p = {x, y}; }
void SetFloatPoint2(TFloatPoint& p, double x, double y) { p = {F(x), F(y)}; }
TVector3 Vector3(float x, float y, float z) { return {x, y, z}; }
void SetVector3(TVector3& v, float x, float y, float z) { v = {x, y, z}; }
TVector3 Vector3FromPoint(const TFloatPoint& p, float z) { return {p.x, p.y, z}; }
TVector3 Vector3FromPoint2(const TFloatPoint& p, float z) { return {p.x, p.y, z}; }

TFloatRect OffsetFloatRect(const TFloatRect& r, float dx, float dy) {
  return {F(double{r.Left} + dx), F(double{r.Top} + dy), F(double{r.Right} + dx), F(double{r.Bottom} + dy)};
}
TFloatPoint OffsetFloatPoint(const TFloatPoint& p, float dx, float dy) {
  return {F(double{p.x} + dx), F(double{p.y} + dy)};
}
TFloatPoint AddFloatPoints(const TFloatPoint& a, const TFloatPoint& b) {
  return {F(double{a.x} + b.x), F(double{a.y} + b.y)};
}
TFloatPoint AddFloatPoints2(const TFloatPoint& a, const TFloatPoint& b, const TFloatPoint& c) {
  return {F(double{a.x} + b.x + c.x), F(double{a.y} + b.y + c.y)};
}
TFloatPoint AddFloatPoints3(const TFloatPoint& a, const TFloatPoint& b, const TFloatPoint& c,
                            const TFloatPoint& d) {
  return {F(double{a.x} + b.x + c.x + d.x), F(double{a.y} + b.y + c.y + d.y)};
}
TVector3 AddVectors3(const TVector3& a, const TVector3& b) {
  return {F(double{a.x} + b.x), F(double{a.y} + b.y), F(double{a.z} + b.z)};
}
TVector3 AddVectors3b(const TVector3& a, const TVector3& b, const TVector3& c) {
  return {F(double{a.x} + b.x + c.x), F(double{a.y} + b.y + c.y), F(double{a.z} + b.z + c.z)};
}
TFloatPoint SubFloatPoints(const TFloatPoint& a, const TFloatPoint& b) {
  return {F(double{b.x} - a.x), F(double{b.y} - a.y)};
}
TVector3 SubVectors3(const TVector3& a, const TVector3& b) {
  return {F(double{b.x} - a.x), F(double{b.y} - a.y), F(double{b.z} - a.z)};
}
TFloatPoint ScaleFloatPoint(const TFloatPoint& p, float s) { return {F(double{p.x} * s), F(double{p.y} * s)}; }
TVector3 ScaleVector3(const TVector3& v, float s) {
  return {F(double{v.x} * s), F(double{v.y} * s), F(double{v.z} * s)};
}
TFloatPoint CombineFloatPoints(const TFloatPoint& a, float s, const TFloatPoint& b, float t) {
  return {F(double{a.x} * s + double{b.x} * t), F(double{a.y} * s + double{b.y} * t)};
}
TVector3 CombineVectors3(const TVector3& a, float s, const TVector3& b, float t) {
  return {F(double{a.x} * s + double{b.x} * t), F(double{a.y} * s + double{b.y} * t),
          F(double{a.z} * s + double{b.z} * t)};
}
TVector3 CombineVectors3Three(const TVector3& a, float s, const TVector3& b, float t, const TVector3& c,
                              float u) {
  return {F(double{a.x} * s + double{b.x} * t + double{c.x} * u),
          F(double{a.y} * s + double{b.y} * t + double{c.y} * u),
          F(double{a.z} * s + double{b.z} * t + double{c.z} * u)};
}
float DotFloatPoints(const TFloatPoint& a, const TFloatPoint& b) {
  return F(double{a.x} * b.x + double{a.y} * b.y);
}
TVector3 CrossVectors3(const TVector3& a, const TVector3& b) {
  return {F(double{a.y} * b.z - double{a.z} * b.y), F(double{a.z} * b.x - double{a.x} * b.z),
          F(double{a.x} * b.y - double{a.y} * b.x)};
}
TFloatPoint PerpendicularCW(const TFloatPoint& p) { return {p.y, -p.x}; }
TFloatPoint PerpendicularCCW(const TFloatPoint& p) { return {-p.y, p.x}; }
float FloatPointLength(const TFloatPoint& p) { return F(std::sqrt(double{p.x} * p.x + double{p.y} * p.y)); }
float Distance3(const TVector3& a, const TVector3& b) {
  double dx = double{b.x} - a.x, dy = double{b.y} - a.y, dz = double{b.z} - a.z;
  return F(std::sqrt(dx * dx + dy * dy + dz * dz));
}

bool IsNonZero(double x) { return x < -2.9411764705882355e-39 || x > 2.9411764705882355e-39; }

bool FloatPointsEqual(const TFloatPoint& a, const TFloatPoint& b) { return a.x == b.x && a.y == b.y; }
bool FloatRectsEqual(const TFloatRect& a, const TFloatRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}
bool Matrix3x4Equal(const TMatrix3x4& a, const TMatrix3x4& b) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c)
      if (!(a.m[r][c] == b.m[r][c])) return false;
  return true;
}
bool FloatRectIsEmpty(const TFloatRect& r) { return !(r.Right > r.Left) || !(r.Bottom > r.Top); }

bool IntersectFloatRect(const TFloatRect& a, const TFloatRect& b, TFloatRect& r) {
  TFloatRect o{MaxSingle(a.Left, b.Left), MaxSingle(a.Top, b.Top), MinSingle(a.Right, b.Right),
               MinSingle(a.Bottom, b.Bottom)};
  if (FloatRectIsEmpty(o)) {
    r = TFloatRect{};
    return false;
  }
  r = o;
  return true;
}

TFloatPoint DivFloatPoint(const TFloatPoint& p, float s) {
  if (!IsNonZero(s)) return p;
  return {F(double{p.x} / s), F(double{p.y} / s)};
}

TVector3 NormalizeVector3(const TVector3& v) {
  double len = std::sqrt(double{v.x} * v.x + double{v.y} * v.y + double{v.z} * v.z);
  if (!IsNonZero(len)) return v;
  return {F(v.x / len), F(v.y / len), F(v.z / len)};
}

TFloatPoint NormalizeByMaxAbs(const TFloatPoint& p) {
  double m = std::fmax(std::fabs(double{p.x}), std::fabs(double{p.y}));
  if (!IsNonZero(m)) return p;
  return {F(p.x / m), F(p.y / m)};
}

bool InitFrame2D(TFrame2D& f, const TFloatPoint& origin, const TFloatPoint& axis_x, const TFloatPoint& axis_y) {
  f.Origin = origin;
  f.AxisX = axis_x;
  f.AxisY = axis_y;
  double det = double{axis_x.x} * axis_y.y - double{axis_y.x} * axis_x.y;
  if (!IsNonZero(det)) {
    f.InvDet = 0;
    return false;
  }
  f.InvDet = 1 / det;
  return true;
}

bool InitFrame3D(TFrame3D& f, const TVector3& origin, const TVector3& axis_x, const TVector3& axis_y,
                 const TVector3& axis_z) {
  f.Origin = origin;
  f.AxisX = axis_x;
  f.AxisY = axis_y;
  f.AxisZ = axis_z;
  double det = Det3(ToD3(axis_x), ToD3(axis_y), ToD3(axis_z));
  if (!IsNonZero(det)) {
    f.InvDet = 0;
    return false;
  }
  f.InvDet = F(1 / det);
  return true;
}

TFloatPoint Frame2DToWorld(const TFrame2D& f, const TFloatPoint& local) {
  return {F(double{f.Origin.x} + double{local.x} * f.AxisX.x + double{local.y} * f.AxisY.x),
          F(double{f.Origin.y} + double{local.x} * f.AxisX.y + double{local.y} * f.AxisY.y)};
}

TVector3 Frame3DDirection(const TFrame3D& f, const TVector3& l) {
  return {F(double{l.x} * f.AxisX.x + double{l.y} * f.AxisY.x + double{l.z} * f.AxisZ.x),
          F(double{l.x} * f.AxisX.y + double{l.y} * f.AxisY.y + double{l.z} * f.AxisZ.y),
          F(double{l.x} * f.AxisX.z + double{l.y} * f.AxisY.z + double{l.z} * f.AxisZ.z)};
}

TVector3 Frame3DToWorld(const TFrame3D& f, const TVector3& l) {
  return {F(double{f.Origin.x} + double{l.x} * f.AxisX.x + double{l.y} * f.AxisY.x + double{l.z} * f.AxisZ.x),
          F(double{f.Origin.y} + double{l.x} * f.AxisX.y + double{l.y} * f.AxisY.y + double{l.z} * f.AxisZ.y),
          F(double{f.Origin.z} + double{l.x} * f.AxisX.z + double{l.y} * f.AxisY.z + double{l.z} * f.AxisZ.z)};
}

TFloatPoint Frame2DFromWorld(const TFrame2D& f, const TFloatPoint& world) {
  double px = double{world.x} - f.Origin.x;
  double py = double{world.y} - f.Origin.y;
  return {F((px * f.AxisY.y - py * f.AxisY.x) * f.InvDet), F((py * f.AxisX.x - px * f.AxisX.y) * f.InvDet)};
}

TVector3 Frame3DFromWorld(const TFrame3D& f, const TVector3& world) {
  D3 p{double{world.x} - f.Origin.x, double{world.y} - f.Origin.y, double{world.z} - f.Origin.z};
  D3 x = ToD3(f.AxisX), y = ToD3(f.AxisY), z = ToD3(f.AxisZ);
  return {F(Det3(p, y, z) * f.InvDet), F(Det3(x, p, z) * f.InvDet), F(Det3(x, y, p) * f.InvDet)};
}

}  // namespace kav
