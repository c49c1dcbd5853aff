#include "VoRav/Text/vxWideStringUtils.h"

#include <algorithm>
#include <vector>

#include "VoRav/Text/vxUnicodeCharInfo.h"

namespace kav {
namespace {

std::u16string_view Clip(std::u16string_view text, int32_t start, int32_t count) {
  const int64_t len = int64_t(text.size());
  const int64_t s = std::clamp<int64_t>(start, 0, len);
  const int64_t n = count < 0 ? len - s : std::min<int64_t>(count, len - s);
  return text.substr(size_t(s), size_t(n));
}

// Inserts a mark by canonical ordering: unless it blocks, it moves left past
// marks of a higher combining class (or of the same class and a higher code
// unit), stopping at a blocking mark.
void InsertMark(std::u16string& marks, char16_t m) {
  size_t pos = marks.size();
  if (!UnicodeIsBlockingMark(m)) {
    const uint8_t cc = UnicodeCharInfo(m).CombiningClass;
    while (pos > 0) {
      const char16_t prev = marks[pos - 1];
      if (UnicodeIsBlockingMark(prev)) break;
      const uint8_t pc = UnicodeCharInfo(prev).CombiningClass;
      if (pc > cc || (pc == cc && prev > m)) --pos;
      else break;
    }
  }
  marks.insert(marks.begin() + pos, m);
}

// The base of `c` after following its decompositions; their second
// characters go into `marks` innermost first.
char16_t Decompose(char16_t c, std::u16string& marks) {
  char16_t chain[16];
  int n = 0;
  while (n < 16 && UnicodeCharInfo(c).HasDecomposition()) {
    chain[n++] = UnicodeCharInfo(c).Decomposition[1];
    c = UnicodeCharInfo(c).Decomposition[0];
  }
  while (n > 0) InsertMark(marks, chain[--n]);
  return c;
}

bool IsMark(char16_t c) { return UnicodeCategory(c) == ucMark; }

// One base character (or a lone mark) with the marks of its decomposition
// and the marks that follow it, in canonical order.
struct TCluster {
  char16_t base = 0;
  std::u16string marks;
};

size_t TakeCluster(std::u16string_view s, size_t i, TCluster& out) {
  out.marks.clear();
  out.base = Decompose(s[i++], out.marks);
  while (i < s.size() && IsMark(s[i])) InsertMark(out.marks, s[i++]);
  return i;
}

int CategoryRank(uint8_t category) {
  switch (category) {
    case ucSeparator: return 1;
    case ucPunctuation: return 2;
    case ucNumber: return 3;
    case ucSymbol: return 4;
    case ucLetter: return 5;
    case ucMark: return 6;
    case ucOther: return 7;
    default: return 255;
  }
}

}  // namespace

std::u16string WideSeparateMarksInto(std::u16string_view text, int32_t start, int32_t count) {
  const std::u16string_view s = Clip(text, start, count);
  std::u16string key;
  key.reserve(s.size());
  std::u16string marks;
  auto flush = [&] {
    key += marks;
    marks.clear();
  };
  for (char16_t c : s) {
    if (IsMark(c)) {
      InsertMark(marks, c);
    } else {
      flush();
      std::u16string own;
      key += Decompose(c, own);
      marks = own;
    }
  }
  flush();
  for (char16_t& c : key) c = UnicodeCharInfo(c).SecondMapping;
  return key;
}

int32_t WideCompareCollated(std::u16string_view a, int32_t start_a, int32_t count_a, std::u16string_view b,
                            int32_t start_b, int32_t count_b) {
  const std::u16string_view sa = Clip(a, start_a, count_a), sb = Clip(b, start_b, count_b);
  size_t i = 0, j = 0;
  TCluster ca, cb;
  while (i < sa.size() && j < sb.size()) {
    i = TakeCluster(sa, i, ca);
    j = TakeCluster(sb, j, cb);
    const char16_t ba = UnicodeCharInfo(ca.base).FirstMapping, bb = UnicodeCharInfo(cb.base).FirstMapping;
    if (ba != bb) {
      const uint8_t ka = UnicodeCategory(ba), kb = UnicodeCategory(bb);
      if (ka != ucMark || kb != ucMark) {
        if (ka == ucMark) return 2;  // a mark sorts after a non-mark
        if (kb == ucMark) return 0;
        if (ka != kb) return CategoryRank(ka) < CategoryRank(kb) ? 0 : 2;
      }
      return ba < bb ? 0 : 2;
    }
    // Equal bases: the mark sequences decide, compared from their ends.
    const size_t na = ca.marks.size(), nb = cb.marks.size();
    for (size_t k = 0; k < std::min(na, nb); ++k) {
      const char16_t ma = ca.marks[na - 1 - k], mb = cb.marks[nb - 1 - k];
      if (ma != mb) return ma < mb ? 0 : 2;
    }
    if (na != nb) return na < nb ? 0 : 2;
  }
  if (i < sa.size()) return 2;
  if (j < sb.size()) return 0;
  return 1;
}

bool WideEqualCollated(std::u16string_view a, std::u16string_view b) {
  return WideCompareCollated(a, 0, -1, b, 0, -1) == 1;
}

}  // namespace kav
