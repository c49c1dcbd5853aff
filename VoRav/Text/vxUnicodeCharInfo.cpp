#include "VoRav/Text/vxUnicodeCharInfo.h"

#include <memory>
#include <mutex>

#include "VoRav/vxUnicodeTables.h"

namespace kav {
namespace {

struct TTables {
  TUnicodeCharRecord chars[65536];
  uint8_t blocking[65536];
  uint8_t bidi[65536];
};

void FillBidi(uint8_t* bidi) {
  auto range = [bidi](int first, int last, uint8_t type) {
    for (int c = first; c <= last; ++c) bidi[c] = type;
  };
  range('A', 'Z', btL);
  range('a', 'z', btL);
  range(192, 246, btL);
  range(249, 680, btL);
  range(1025, 1103, btL);
  range(1105, 1116, btL);
  bidi[u','] = bidi[u'.'] = bidi[u'/'] = bidi[0x202F] = btCS;
  range('0', '9', btEN);
  bidi[u' '] = btWS;
  range(768, 895, btNSM);
  range(1425, 1524, btR);
  range(1569, 1610, btAL);
  range(1646, 1747, btAL);
  range(1611, 1618, btNSM);
  range(1632, 1641, btAN);
  range(1776, 1785, btAN);
  bidi[0x202A] = btLRE;
  bidi[0x202B] = btRLE;
  bidi[0x202C] = btPDF;
  bidi[0x202D] = btLRO;
  bidi[0x202E] = btRLO;
}

std::unique_ptr<TTables> Build() {
  using namespace unitables;
  auto t = std::make_unique<TTables>();
  TUnicodeCharRecord* r = t->chars;
  for (int i = 0; i < kCategoryRunsCount; ++i) {
    const TCategoryRun& run = kCategoryRuns[i];
    for (int c = run.start; c < run.start + run.count; ++c) {
      r[c].Category = run.value;
      r[c].Defined = true;
      r[c].FirstMapping = r[c].SecondMapping = char16_t(c);
    }
  }
  for (int i = 0; i < kCasePairsCount; ++i) {
    const TCasePair& p = kCasePairs[i];
    TUnicodeCharRecord& rec = r[p.ch];
    rec.FirstMapping = p.lower;
    rec.SecondMapping = p.upper;
    rec.HasCase = true;
  }
  for (int i = 0; i < kDecompositionsCount; ++i) {
    const TDecomposition& d = kDecompositions[i];
    r[d.ch].Decomposition[0] = d.first;
    r[d.ch].Decomposition[1] = d.second;
    r[d.first].Composes = true;
  }
  for (int i = 0; i < kCombiningRunsCount; ++i) {
    const TCategoryRun& run = kCombiningRuns[i];
    for (int c = run.start; c < run.start + run.count; ++c) r[c].CombiningClass = run.value;
  }
  for (int c = 0; c < 65536; ++c) {
    TUnicodeCharRecord& rec = r[c];
    if (rec.HasCase) {
      // Consistent when both sides of the pair name each other's forms.
      const TUnicodeCharRecord& lo = r[rec.FirstMapping];
      const TUnicodeCharRecord& up = r[rec.SecondMapping];
      rec.CasePairConsistent = lo.SecondMapping == rec.SecondMapping && up.FirstMapping == rec.FirstMapping;
    }
    const uint8_t cc = rec.CombiningClass;
    t->blocking[c] = rec.Category == ucMark && (cc == 0 || cc == 9 || (cc >= 27 && cc <= 34));
  }
  for (int c = 0; c < 65536; ++c) {
    if (!r[c].Defined) r[c].FirstMapping = r[c].SecondMapping = char16_t(c);
  }
  FillBidi(t->bidi);
  return t;
}

const TTables& Tables() {
  static std::once_flag once;
  static std::unique_ptr<TTables> tables;
  std::call_once(once, [] { tables = Build(); });
  return *tables;
}

}  // namespace

void InitUnicodeTable() { Tables(); }

const TUnicodeCharRecord& UnicodeCharInfo(char16_t c) { return Tables().chars[c]; }
uint8_t UnicodeCategory(char16_t c) { return Tables().chars[c].Category; }
bool UnicodeIsBlockingMark(char16_t c) { return Tables().blocking[c] != 0; }
uint8_t UnicodeBidiType(char16_t c) { return Tables().bidi[c]; }

char16_t UnicodeCanonicalChar(char16_t c) {
  const TTables& t = Tables();
  // Decomposition chains are short; the bound guards against a cycle.
  for (int steps = 0; steps < 16 && t.chars[c].HasDecomposition(); ++steps) c = t.chars[c].Decomposition[0];
  return c;
}

}  // namespace kav
