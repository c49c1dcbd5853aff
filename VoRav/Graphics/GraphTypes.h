// Integer points, sizes and rectangles of the imaging code.
//
// Rectangles are (Left, Top, Right, Bottom) with Right and Bottom exclusive.
#pragma once

#include <algorithm>
#include <cstdint>

namespace kav {

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
};

struct TSize {
  int32_t cx = 0;
  int32_t cy = 0;
};

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  int32_t Width() const noexcept { return Right - Left; }
  int32_t Height() const noexcept { return Bottom - Top; }
  bool IsEmpty() const noexcept { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect MakeRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return TRect{left, top, right, bottom};
}

// The common part of a and b; answers whether it is non-empty. An empty
// result is returned as all zeros.
inline bool IntersectRect(TRect& out, const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) {
    out = TRect{};
    return false;
  }
  out = r;
  return true;
}

}  // namespace kav
