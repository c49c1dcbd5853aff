#include "VoRav/wpMath.h"

#include <cmath>
#include <utility>
#include <limits>
#include <numbers>

namespace kav {

namespace {

// Truncation toward zero as a 32-bit integer, saturating at the range ends.
int32_t TruncSaturated(Extended t) {
  if (t >= static_cast<Extended>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (t <= static_cast<Extended>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(t);
}

}  // namespace

Extended DegToRad(Extended x) { return x * (std::numbers::pi_v<Extended> / 180); }

Extended IntPower(Extended base, int32_t n) {
  // The magnitude of n as unsigned, so that -2147483648 works too.
  uint32_t e = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
  Extended result = 1;
  Extended x = base;
  while (e != 0) {
    if (e & 1u) result *= x;
    e >>= 1;
    if (e != 0) x *= x;
  }
  return n < 0 ? 1 / result : result;
}

Extended Power(Extended base, Extended exponent) {
  if (exponent == 0) return 1;
  if (base == 0 && exponent > 0) return 0;
  if (std::trunc(exponent) == exponent && std::fabs(exponent) <= 2147483647.0L)
    return IntPower(base, static_cast<int32_t>(exponent));
  return std::exp(exponent * std::log(base));
}

Extended ArcTan2(Extended y, Extended x) { return std::atan2(y, x); }
Extended ArcSin(Extended x) { return ArcTan2(x, std::sqrt(1 - x * x)); }
Extended ArcCos(Extended x) { return ArcTan2(std::sqrt(1 - x * x), x); }

Extended Tan(Extended x) { return std::tan(x); }
Extended Cotan(Extended x) { return 1 / std::tan(x); }
Extended Cot(Extended x) { return Cotan(x); }

Extended ArcCot(Extended x) {
  if (IsZero(x)) return std::numbers::pi_v<Extended> / 2;
  return std::atan(1 / x);
}

Extended Hypot(Extended x, Extended y) {
  Extended a = std::fabs(x);
  Extended b = std::fabs(y);
  if (b > a) std::swap(a, b);
  if (b == 0) return a;
  Extended q = b / a;
  return a * std::sqrt(1 + q * q);
}

int32_t Ceil(Extended x) {
  if (std::isnan(x)) return 0;
  Extended t = std::trunc(x);
  int32_t r = TruncSaturated(t);
  if (x - t > 0 && r < std::numeric_limits<int32_t>::max()) ++r;
  return r;
}

int32_t Floor(Extended x) {
  if (std::isnan(x)) return 0;
  Extended t = std::trunc(x);
  int32_t r = TruncSaturated(t);
  if (x - t < 0 && r > std::numeric_limits<int32_t>::min()) --r;
  return r;
}

Extended Log2(Extended x) { return std::log2(x); }

int32_t SignDouble(double x) {
  if (x == 0) return 0;
  return std::signbit(x) ? -1 : 1;
}

bool IsZero(Extended x, Extended epsilon) {
  if (epsilon == 0) epsilon = 1e-16L;
  return std::fabs(x) <= epsilon;
}

}  // namespace kav
