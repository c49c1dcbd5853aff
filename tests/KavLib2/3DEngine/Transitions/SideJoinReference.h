// The plain join of rectangles along whole sides, the reference the join of
// the mosaic's blocks (JoinAlongSides) is checked against in the tests and
// timed against in the bench: the first pair (i, j) in order of i, then j,
// where j continues i to its right or below and `same(i, j)` holds, joins
// (i grows over j), j leaves, and the search starts again from the first
// pair. Cubic in the count. `joined(i, j)` is called before j leaves, so
// that a caller can carry data of its own for each rectangle alongside
// (erasing its j too); with empty callables the loop costs what the plain
// loop of rectangles alone did.
#pragma once

#include <cstddef>
#include <vector>

#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"

namespace kav {

template <class TSame, class TJoined>
void PlainJoinAlongSides(std::vector<TRect>& rects, TSame&& same, TJoined&& joined) {
  for (bool any = true; any;) {
    any = false;
    for (size_t i = 0; i < rects.size() && !any; ++i)
      for (size_t j = 0; j < rects.size() && !any; ++j) {
        if (i == j || !same(i, j)) continue;
        TRect& p = rects[i];
        const TRect& q = rects[j];
        if (p.Top == q.Top && p.Bottom == q.Bottom && p.Right == q.Left)
          p.Right = q.Right;
        else if (p.Left == q.Left && p.Right == q.Right && p.Bottom == q.Top)
          p.Bottom = q.Bottom;
        else
          continue;
        joined(i, j);
        rects.erase(rects.begin() + std::ptrdiff_t(j));
        any = true;
      }
  }
}

}  // namespace kav
