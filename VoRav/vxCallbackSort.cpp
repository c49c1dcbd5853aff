// Introspective quicksort, selection, heap and shaker sorts over callbacks.
#include "VoRav/vxCallbackSort.h"

namespace kav {

namespace {

constexpr int32_t kSelectionLimit = 16;
constexpr int kMaxDepth = 32;

struct Sorter {
  const TSortCallbacks& cb;
  int32_t Compare(int32_t i, int32_t j) const { return cb.Compare(cb.CompareContext, i, j); }
  void Swap(int32_t i, int32_t j) const { cb.Swap(cb.SwapContext, i, j); }

  // For each end position from the right, the largest element up to it is
  // swapped there (the last of equal largest ones, so equal runs stay put).
  void Selection(int32_t first, int32_t last) const {
    for (int32_t end = last; end > first; --end) {
      int32_t largest = first;
      for (int32_t i = first + 1; i <= end; ++i)
        if (Compare(i, largest) >= 0) largest = i;
      if (largest != end) Swap(largest, end);
    }
  }

  void SiftDown(int32_t base, int64_t root, int64_t count) const {
    while (true) {
      int64_t child = 2 * root + 1;
      if (child >= count) return;
      if (child + 1 < count && Compare(int32_t(base + child), int32_t(base + child + 1)) < 0) ++child;
      if (Compare(int32_t(base + root), int32_t(base + child)) >= 0) return;
      Swap(int32_t(base + root), int32_t(base + child));
      root = child;
    }
  }

  void Heap(int32_t first, int32_t last) const {
    const int64_t count = int64_t(last) - first + 1;
    for (int64_t root = count / 2 - 1; root >= 0; --root) SiftDown(first, root, count);
    for (int64_t end = count - 1; end > 0; --end) {
      Swap(first, int32_t(first + end));
      SiftDown(first, 0, end);
    }
  }

  // The pivot is tracked by index through the swaps. The scans are bounded
  // by the range, so an inconsistent compare routine cannot lead them out.
  // Every partition step counts as a level, the ones the loop makes on the
  // right part as well as the recursive ones on the left part: a run of bad
  // pivots on either side ends in heapsort instead of quadratic time.
  void Quick(int32_t l, int32_t r, int depth) const {
    while (int64_t(r) - l + 1 >= kSelectionLimit) {
      if (++depth > kMaxDepth) {
        Heap(l, r);
        return;
      }
      int32_t i = l, j = r, p = int32_t((int64_t(l) + r) / 2);
      do {
        while (i < r && Compare(i, p) < 0) ++i;
        while (j > l && Compare(j, p) > 0) --j;
        if (i <= j) {
          if (i == p) p = j;
          else if (j == p) p = i;
          Swap(i, j);
          ++i;
          --j;
        }
      } while (i <= j);
      if (j > l) Quick(l, j, depth);
      l = i;
    }
    if (r > l) Selection(l, r);
  }
};

}  // namespace

void InitSortCallbacks(TSortCallbacks& callbacks, TSortCompareProc compare, void* compare_context,
                       TSortSwapProc swap, void* swap_context) noexcept {
  callbacks.Compare = compare;
  callbacks.CompareContext = compare_context;
  callbacks.Swap = swap;
  callbacks.SwapContext = swap_context;
}

void SortWithCallbacks(const TSortCallbacks& callbacks, int32_t first, int32_t last) {
  if (last <= first) return;
  Sorter{callbacks}.Quick(first, last, 0);
}

int32_t ShakerSort(const TSortCallbacks& callbacks, int32_t first, int32_t last) {
  const Sorter s{callbacks};
  int32_t swaps = 0;
  int32_t lo = first, hi = last;
  while (lo < hi) {
    int32_t last_swap = -1;
    for (int32_t j = hi; j > lo; --j)
      if (s.Compare(j - 1, j) > 0) {
        s.Swap(j - 1, j);
        ++swaps;
        last_swap = j;
      }
    if (last_swap < 0) break;
    lo = last_swap;
    last_swap = -1;
    for (int32_t j = lo; j < hi; ++j)
      if (s.Compare(j, j + 1) > 0) {
        s.Swap(j, j + 1);
        ++swaps;
        last_swap = j;
      }
    if (last_swap < 0) break;
    hi = last_swap;
  }
  return swaps;
}

}  // namespace kav
