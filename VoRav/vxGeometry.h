// Plain 2D and 3D geometry records and functions in single precision.
//
// Precision: the records hold 32-bit floats as the drawing code and the 3D
// layer expect. Each function computes in double and rounds once to float on
// return, which is how the original's wider floating-point registers behaved
// (a product of two floats is exact in double, so a sum of products is
// rounded at most twice instead of after every operation).
#pragma once

#include "VoRav/vxRectUtils.h"

namespace kav {

struct TFloatPoint {
  float x = 0;
  float y = 0;
};

struct TVector3 {
  float x = 0;
  float y = 0;
  float z = 0;
};

struct TFloatRect {
  float Left = 0;
  float Top = 0;
  float Right = 0;
  float Bottom = 0;
};

// A 3-row, 4-column matrix of floats (rotation or scale and a translation).
struct TMatrix3x4 {
  float m[3][4] = {};
};

// An affine 2D frame: origin and two axes, with the inverse of the axes'
// determinant (0 when they are parallel).
struct TFrame2D {
  TFloatPoint Origin;
  TFloatPoint AxisX;
  TFloatPoint AxisY;
  double InvDet = 0;
};

// An affine 3D frame: origin and three axes, with the inverse of their
// determinant (0 when they are degenerate).
struct TFrame3D {
  TVector3 Origin;
  TVector3 AxisX;
  TVector3 AxisY;
  TVector3 AxisZ;
  float InvDet = 0;
};

// Constructors and conversions.
TFloatRect FloatRect(float l, float t, float r, float b);
TFloatRect IntRectToFloatRect(const TRect& r);
// (0, 0, w, h).
TFloatRect FloatRectFromSize(float w, float h);
TFloatPoint FloatPoint(float x, float y);
void SetFloatPoint(TFloatPoint& p, float x, float y);
void SetFloatPoint2(TFloatPoint& p, double x, double y);
TVector3 Vector3(float x, float y, float z);
void SetVector3(TVector3& v, float x, float y, float z);
TVector3 Vector3FromPoint(const TFloatPoint& p, float z);
TVector3 Vector3FromPoint2(const TFloatPoint& p, float z);

// Arithmetic; each returns a new record.
TFloatRect OffsetFloatRect(const TFloatRect& r, float dx, float dy);
TFloatPoint OffsetFloatPoint(const TFloatPoint& p, float dx, float dy);
TFloatPoint AddFloatPoints(const TFloatPoint& a, const TFloatPoint& b);
TFloatPoint AddFloatPoints2(const TFloatPoint& a, const TFloatPoint& b, const TFloatPoint& c);
TFloatPoint AddFloatPoints3(const TFloatPoint& a, const TFloatPoint& b, const TFloatPoint& c,
                            const TFloatPoint& d);
TVector3 AddVectors3(const TVector3& a, const TVector3& b);
TVector3 AddVectors3b(const TVector3& a, const TVector3& b, const TVector3& c);
// b minus a.
TFloatPoint SubFloatPoints(const TFloatPoint& a, const TFloatPoint& b);
TVector3 SubVectors3(const TVector3& a, const TVector3& b);
TFloatPoint ScaleFloatPoint(const TFloatPoint& p, float s);
TVector3 ScaleVector3(const TVector3& v, float s);
// a*s + b*t.
TFloatPoint CombineFloatPoints(const TFloatPoint& a, float s, const TFloatPoint& b, float t);
TVector3 CombineVectors3(const TVector3& a, float s, const TVector3& b, float t);
// a*s + b*t + c*u.
TVector3 CombineVectors3Three(const TVector3& a, float s, const TVector3& b, float t, const TVector3& c,
                              float u);
float DotFloatPoints(const TFloatPoint& a, const TFloatPoint& b);
TVector3 CrossVectors3(const TVector3& a, const TVector3& b);
// (y, -x) and (-y, x).
TFloatPoint PerpendicularCW(const TFloatPoint& p);
TFloatPoint PerpendicularCCW(const TFloatPoint& p);
float FloatPointLength(const TFloatPoint& p);
float Distance3(const TVector3& a, const TVector3& b);
inline float MinSingle(float a, float b) { return a < b ? a : b; }
inline float MaxSingle(float a, float b) { return a > b ? a : b; }
inline float FloatRectWidth(const TFloatRect& r) { return r.Right - r.Left; }
inline float FloatRectHeight(const TFloatRect& r) { return r.Bottom - r.Top; }

// Tests.
// True when x lies outside [-2.9411764705882355e-39, 2.9411764705882355e-39].
bool IsNonZero(double x);
// Exact comparisons.
bool FloatPointsEqual(const TFloatPoint& a, const TFloatPoint& b);
bool FloatRectsEqual(const TFloatRect& a, const TFloatRect& b);
bool Matrix3x4Equal(const TMatrix3x4& a, const TMatrix3x4& b);
// Right not above left or bottom not above top (a NaN edge counts as empty).
bool FloatRectIsEmpty(const TFloatRect& r);
// The overlap of a and b in r; false and the all-zero rectangle when they do
// not overlap.
bool IntersectFloatRect(const TFloatRect& a, const TFloatRect& b, TFloatRect& r);

// Normalising.
// p / s, or p unchanged when s is not IsNonZero.
TFloatPoint DivFloatPoint(const TFloatPoint& p, float s);
// The unit vector; v unchanged when its length is not IsNonZero.
TVector3 NormalizeVector3(const TVector3& v);
// p divided by the larger of |x| and |y|; unchanged when that is not IsNonZero.
TFloatPoint NormalizeByMaxAbs(const TFloatPoint& p);

// Frames. Init answers false for degenerate axes; the inverse is then 0 and
// FromWorld answers the zero point.
bool InitFrame2D(TFrame2D& f, const TFloatPoint& origin, const TFloatPoint& axis_x, const TFloatPoint& axis_y);
bool InitFrame3D(TFrame3D& f, const TVector3& origin, const TVector3& axis_x, const TVector3& axis_y,
                 const TVector3& axis_z);
// origin + x*X + y*Y (+ z*Z).
TFloatPoint Frame2DToWorld(const TFrame2D& f, const TFloatPoint& local);
TVector3 Frame3DToWorld(const TFrame3D& f, const TVector3& local);
// x*X + y*Y + z*Z (a direction: no origin).
TVector3 Frame3DDirection(const TFrame3D& f, const TVector3& local);
// The local coordinates of a world point, by Cramer's rule.
TFloatPoint Frame2DFromWorld(const TFrame2D& f, const TFloatPoint& world);
TVector3 Frame3DFromWorld(const TFrame3D& f, const TVector3& world);

}  // namespace kav
