// Case folding through the generated page tables, and folded comparison.
#include "VoRav/vxCaseFolding.h"

#include <algorithm>
#include <limits>

#include "VoRav/vxCaseFoldingTables.h"
#include "VoRav/vxUnicodeTables.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

using namespace casetables;

// The code point at text[i] (joining a high surrogate with a following low
// one); advances i past it.
inline uint32_t NextCodePoint(const char16_t* text, size_t n, size_t& i) noexcept {
  const char16_t c = text[i++];
  if (IsHighSurrogate(c) && i < n && IsLowSurrogate(text[i])) return JoinSurrogates(c, text[i++]);
  return c;
}

inline int ClampToInt(ptrdiff_t v) noexcept {
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return int(v);
}

}  // namespace

uint32_t CaseFoldPageLookup(uint32_t code_point) noexcept {
  const uint32_t page = code_point >> 8;
  if (page >= uint32_t(kFoldPageCount)) return code_point;
  const int index = kFoldPageIndex[page];
  if (index < 0) return code_point;
  return (code_point & 0xFFFF0000u) | kFoldPages[size_t(index) * 256 + (code_point & 0xFF)];
}

std::u16string_view CaseFoldFullLookup(uint32_t code_point) noexcept {
  const TFullFolding* end = kFullFoldings + kFullFoldingCount;
  const TFullFolding* it = std::lower_bound(
      kFullFoldings, end, code_point,
      [](const TFullFolding& f, uint32_t cp) { return f.CodePoint < cp; });
  if (it == end || it->CodePoint != code_point) return {};
  return std::u16string_view(it->Units, it->Length);
}

std::u16string CaseFoldRange(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) {
  const TTextRange r = ClampTextRange(text.size(), start, count);
  const char16_t* p = text.data() + r.Start;
  std::u16string out;
  out.reserve(r.Count);
  size_t i = 0;
  while (i < r.Count) {
    const uint32_t folded = CaseFoldPageLookup(NextCodePoint(p, r.Count, i));
    char16_t first, second;
    if (CodePointToUTF16(folded, first, second) == 1) {
      out += first;
    } else {
      out += first;
      out += second;
    }
  }
  return out;
}

int CompareTextRange(std::u16string_view a, ptrdiff_t start_a, ptrdiff_t count_a,
                     std::u16string_view b, ptrdiff_t start_b, ptrdiff_t count_b) noexcept {
  const TTextRange ra = ClampTextRange(a.size(), start_a, count_a);
  const TTextRange rb = ClampTextRange(b.size(), start_b, count_b);
  const char16_t* pa = a.data() + ra.Start;
  const char16_t* pb = b.data() + rb.Start;
  const size_t na = ra.Count, nb = rb.Count;

  // Identical units need no folding. When the first difference follows a high
  // surrogate, step back so that the pair is compared whole.
  const size_t common = std::min(na, nb);
  size_t i = 0;
  while (i < common && pa[i] == pb[i]) ++i;
  if (i > 0 && IsHighSurrogate(pa[i - 1])) --i;

  size_t ia = i, ib = i;
  while (ia < na && ib < nb) {
    const uint32_t fa = CaseFoldPageLookup(NextCodePoint(pa, na, ia));
    const uint32_t fb = CaseFoldPageLookup(NextCodePoint(pb, nb, ib));
    if (fa != fb) return int(fa) - int(fb);
  }
  if (ia < na || ib < nb) return ClampToInt(ptrdiff_t(na) - ptrdiff_t(nb));
  return 0;
}

bool CaseFoldEquals(std::u16string_view a, std::u16string_view b) noexcept {
  return a.size() == b.size() &&
         CompareTextRange(a, 0, ptrdiff_t(a.size()), b, 0, ptrdiff_t(b.size())) == 0;
}

int CompareWideRange(std::u16string_view a, ptrdiff_t start_a, std::u16string_view b,
                     ptrdiff_t start_b, ptrdiff_t count) noexcept {
  const TTextRange ra = ClampTextRange(a.size(), start_a, count);
  const TTextRange rb = ClampTextRange(b.size(), start_b, count);
  const size_t common = std::min(ra.Count, rb.Count);
  for (size_t i = 0; i < common; ++i) {
    const char16_t ca = a[ra.Start + i], cb = b[rb.Start + i];
    if (ca != cb) return int(ca) - int(cb);
  }
  return ClampToInt(ptrdiff_t(ra.Count) - ptrdiff_t(rb.Count));
}

int CompareWideStr(std::u16string_view a, std::u16string_view b, bool ignore_case) noexcept {
  if (ignore_case) return CompareTextRange(a, 0, ptrdiff_t(a.size()), b, 0, ptrdiff_t(b.size()));
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i)
    if (a[i] != b[i]) return int(a[i]) - int(b[i]);
  return ClampToInt(ptrdiff_t(a.size()) - ptrdiff_t(b.size()));
}

namespace {

uint8_t CombiningClass(char16_t c) noexcept {
  using unitables::TCategoryRun;
  const TCategoryRun* end = unitables::kCombiningRuns + unitables::kCombiningRunsCount;
  // The last run that starts at or before c.
  const TCategoryRun* it = std::upper_bound(unitables::kCombiningRuns, end, c,
                                            [](char16_t v, const TCategoryRun& r) { return v < r.start; });
  if (it == unitables::kCombiningRuns) return 0;
  --it;
  return c < uint32_t(it->start) + it->count ? it->value : 0;
}

// Appends the canonical decomposition of c (c itself when it has none).
void AppendDecomposed(char16_t c, std::u16string& out, int depth) {
  constexpr char16_t kHangulFirst = 0xAC00, kHangulLast = 0xD7A3;
  if (c >= kHangulFirst && c <= kHangulLast) {
    const int s = c - kHangulFirst;
    out += char16_t(0x1100 + s / 588);
    out += char16_t(0x1161 + s % 588 / 28);
    if (s % 28 != 0) out += char16_t(0x11A7 + s % 28);
    return;
  }
  using unitables::TDecomposition;
  const TDecomposition* end = unitables::kDecompositions + unitables::kDecompositionsCount;
  const TDecomposition* it = std::lower_bound(unitables::kDecompositions, end, c,
                                              [](const TDecomposition& d, char16_t v) { return d.ch < v; });
  if (it == end || it->ch != c || depth >= 8) {  // chains are short; the bound guards against a cycle
    out += c;
    return;
  }
  AppendDecomposed(it->first, out, depth + 1);
  AppendDecomposed(it->second, out, depth + 1);
}

}  // namespace

std::u16string FileNameMatchKey(std::u16string_view name) {
  const std::u16string folded = CaseFoldRange(name, 0, ptrdiff_t(name.size()));
  std::u16string decomposed;
  decomposed.reserve(folded.size() + 8);
  for (char16_t c : folded) AppendDecomposed(c, decomposed, 0);
  // A decomposition may bring a capital base (U+0130 is I and a dot): fold again.
  std::u16string key = CaseFoldRange(decomposed, 0, ptrdiff_t(decomposed.size()));
  // Canonical order: each run of marks sorted by combining class, stably.
  for (size_t i = 0; i < key.size();) {
    if (CombiningClass(key[i]) == 0) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < key.size() && CombiningClass(key[j]) != 0) ++j;
    std::stable_sort(key.begin() + ptrdiff_t(i), key.begin() + ptrdiff_t(j),
                     [](char16_t a, char16_t b) { return CombiningClass(a) < CombiningClass(b); });
    i = j;
  }
  return key;
}

}  // namespace kav
