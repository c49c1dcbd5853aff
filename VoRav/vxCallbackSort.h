// Sorting through compare and swap callbacks.
//
// The sorts never see the data: they call the compare routine with two
// indexes (a negative result means the first belongs before the second) and
// the swap routine to exchange two elements. Both routines are called only
// with indexes inside the range being sorted.
#pragma once

#include <cstdint>

namespace kav {

using TSortCompareProc = int32_t (*)(void* context, int32_t i, int32_t j);
using TSortSwapProc = void (*)(void* context, int32_t i, int32_t j);

struct TSortCallbacks {
  TSortCompareProc Compare = nullptr;
  void* CompareContext = nullptr;
  TSortSwapProc Swap = nullptr;
  void* SwapContext = nullptr;
};

void InitSortCallbacks(TSortCallbacks& callbacks, TSortCompareProc compare, void* compare_context,
                       TSortSwapProc swap, void* swap_context) noexcept;

// Sorts first..last (inclusive): ranges below 16 elements by selection,
// longer ones by quicksort (middle pivot) whose short sub-ranges are finished
// by selection and which falls back to heapsort after 32 levels of
// partitioning, so it stays O(n log n) on any input.
void SortWithCallbacks(const TSortCallbacks& callbacks, int32_t first, int32_t last);

// Shaker sort of first..last: alternating passes from right to left and from
// left to right swapping neighbours that compare greater than 0, each pass
// shrinking the range to its last swap, until a pass makes no swap. Returns
// the number of swaps.
int32_t ShakerSort(const TSortCallbacks& callbacks, int32_t first, int32_t last);

}  // namespace kav
