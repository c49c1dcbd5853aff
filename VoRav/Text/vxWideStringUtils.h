// Wide-string utilities over the character information: decomposition into
// base characters and canonically ordered marks, a mark-aware comparison and
// the normalised key under which the font replacer files face names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kav {

// The range [start, start + count) of `text` (count < 0: to the end; the
// range is clipped to the text) decomposed: each base character followed by
// its marks in canonical order, every character then replaced by its case
// pair's shared form, so case and precomposition do not change the key.
std::u16string WideSeparateMarksInto(std::u16string_view text, int32_t start = 0, int32_t count = -1);

// Three-way comparison of two ranges (count < 0: to the end): 0 when a sorts
// before b, 1 when equal, 2 when after. Letters compare without regard to
// case; a precomposed letter equals its base followed by the mark; marks
// compare in canonical order. Re-entrant.
int32_t WideCompareCollated(std::u16string_view a, int32_t start_a, int32_t count_a, std::u16string_view b,
                            int32_t start_b, int32_t count_b);
// WideCompareCollated of the whole strings == 1.
bool WideEqualCollated(std::u16string_view a, std::u16string_view b);

}  // namespace kav
