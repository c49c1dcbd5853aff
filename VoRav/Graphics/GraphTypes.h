// Integer points, sizes and rectangles of the imaging code.
//
// Rectangles are (Left, Top, Right, Bottom) with Right and Bottom exclusive.
#pragma once

#include <algorithm>
#include <cstdint>

#include "VoRav/wpTypes.h"

namespace kav {

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
