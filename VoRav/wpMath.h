// Elementary math shared by the 3D layer, the slide objects, the shadows, the
// audio timer channel, the EXIF reader and the expression calculator.
//
// Precision: these functions take and return `Extended`, which is
// `long double`. On x86-64 Linux that is the 80-bit x87 format the original
// design computed in, so results rounded back to double come out as they did
// there (for example Power(2, 0.5) through exp and ln). On other processors it
// is whatever `long double` is there (never narrower than double).
#pragma once

#include <cstdint>

namespace kav {

using Extended = long double;

// x * (pi / 180).
Extended DegToRad(Extended x);

// base to the integer power n by repeated squaring; 1 for n = 0; 1 / base^(-n)
// for negative n.
Extended IntPower(Extended base, int32_t n);

// 1 when the exponent is 0; 0 when the base is 0 and the exponent is above 0;
// IntPower when the exponent is integral and its absolute value is at most
// 2147483647; otherwise exp(exponent * ln(base)) (NaN for a negative base).
Extended Power(Extended base, Extended exponent);

// ArcTan2(x, sqrt(1 - x*x)) and ArcTan2(sqrt(1 - x*x), x): NaN outside [-1, 1].
Extended ArcSin(Extended x);
Extended ArcCos(Extended x);
// The angle of the point (x, y) in radians, in [-pi, pi].
Extended ArcTan2(Extended y, Extended x);

Extended Tan(Extended x);
// 1 / tan(x); Cot is the same function under its other name.
Extended Cotan(Extended x);
Extended Cot(Extended x);
// pi / 2 when IsZero(x), else arctan(1 / x).
Extended ArcCot(Extended x);

// sqrt(x*x + y*y) computed as a * sqrt(1 + (b/a)^2) with a the larger and b
// the smaller magnitude, so large arguments do not overflow.
Extended Hypot(Extended x, Extended y);

// Smallest integer not below x and largest integer not above x, as 32-bit
// integers. Values beyond the 32-bit range saturate to its ends; NaN gives 0.
int32_t Ceil(Extended x);
int32_t Floor(Extended x);

Extended Log2(Extended x);

inline int32_t MinInt(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t MaxInt(int32_t a, int32_t b) { return a > b ? a : b; }
inline int64_t MinInt64(int64_t a, int64_t b) { return a < b ? a : b; }
inline int64_t MaxInt64(int64_t a, int64_t b) { return a > b ? a : b; }
inline float MinSingleValue(float a, float b) { return a < b ? a : b; }
inline float MaxSingleValue(float a, float b) { return a > b ? a : b; }
inline double MinDouble(double a, double b) { return a < b ? a : b; }
inline double MaxDouble(double a, double b) { return a > b ? a : b; }
inline Extended MinExtended(Extended a, Extended b) { return a < b ? a : b; }
inline Extended MaxExtended(Extended a, Extended b) { return a > b ? a : b; }

// 0 for +0 and -0, -1 when the sign bit is set, else 1 (also for NaN and
// infinities by their sign bit).
int32_t SignDouble(double x);

// |x| <= epsilon; an epsilon of 0 means 1e-16.
bool IsZero(Extended x, Extended epsilon = 0);

}  // namespace kav
