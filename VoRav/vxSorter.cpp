#include "VoRav/vxSorter.h"

#include <algorithm>

namespace kav {

void TSorter::Sort() {
  int32_t n = Count();
  if (n >= 2) SortRange(0, n - 1);
}

void TSorter::SortRange(int32_t first, int32_t last) {
  int32_t l = std::max(first, 0);
  int32_t r = std::min(last, Count() - 1);
  // Hoare partition around the middle element; the pivot is followed by its
  // index through the swaps. After each partition the smaller side is sorted
  // by a recursive call and the larger one by the loop.
  while (l < r) {
    int32_t i = l, j = r, p = l + (r - l) / 2;
    do {
      // The bounds only matter for a Compare that contradicts itself: a
      // consistent one stops at the pivot at the latest.
      while (i < r && Compare(i, p) < 0) ++i;
      while (j > l && Compare(j, p) > 0) --j;
      if (i <= j) {
        if (i == p)
          p = j;
        else if (j == p)
          p = i;
        Swap(i, j);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - l < r - i) {
      if (j > l) SortRange(l, j);
      l = i;
    } else {
      if (i < r) SortRange(i, r);
      r = j;
    }
  }
}

bool TSorter::Find(const void* key, int32_t& index) const {
  return FindInRange(key, 0, index, Count() - 1);
}

bool TSorter::FindInRange(const void* key, int32_t first, int32_t& index, int32_t last) const {
  int32_t lo = std::max(first, 0);
  int32_t hi = std::min(last, Count() - 1);
  for (;;) {
    int32_t n = hi - lo;
    if (n < 0) {
      index = lo;
      return false;
    }
    if (n == 0) {
      int32_t c = CompareKey(key, lo);
      index = c > 0 ? lo + 1 : lo;
      return c == 0;
    }
    if (n == 1) {
      int32_t c = CompareKey(key, lo);
      if (c > 0) {
        c = CompareKey(key, hi);
        index = c > 0 ? hi + 1 : hi;
      } else {
        index = lo;
      }
      return c == 0;
    }
    int32_t mid = lo + n / 2;
    int32_t c = CompareKey(key, mid);
    if (c == 0) {
      index = mid;
      return true;
    }
    if (c > 0)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
}

}  // namespace kav
