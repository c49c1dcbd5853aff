// Character information for every UTF-16 code unit of the Basic
// Multilingual Plane: general category (coarse), case partner, canonical
// two-character decomposition, combining class, and a bidirectional type.
//
// The tables are built once, on first use, from the generated range tables
// (vxUnicodeTables.cpp) and are read-only afterwards, so any thread may read
// them.
#pragma once

#include <cstdint>

namespace kav {

// Coarse general categories.
enum : uint8_t {
  ucUnassigned = 0,
  ucLetter = 1,
  ucMark = 2,
  ucNumber = 3,
  ucSeparator = 4,
  ucOther = 5,  // control, format, surrogate, private use
  ucPunctuation = 6,
  ucSymbol = 7,
};

// Bidirectional types, numbered as in the reference implementation of the
// bidirectional algorithm.
enum : uint8_t {
  btON = 0, btL = 1, btR = 2, btAN = 3, btEN = 4, btAL = 5, btNSM = 6, btCS = 7,
  btWS = 12, btRLO = 14, btRLE = 15, btLRO = 16, btLRE = 17, btPDF = 18,
};

struct TUnicodeCharRecord {
  // The character itself for a defined character; for a letter of a case
  // pair, the lower-case form, so both sides of a pair share it.
  char16_t FirstMapping = 0;
  // The case partner's shared form (the upper-case form of the pair), or the
  // character itself. Both sides of a pair share it too.
  char16_t SecondMapping = 0;
  uint8_t Category = ucUnassigned;
  bool Composes = false;  // first character of some two-character decomposition
  bool HasCase = false;   // letter with a case partner
  bool CasePairConsistent = false;
  bool Defined = false;
  uint8_t CombiningClass = 0;  // marks only
  // Canonical decomposition into two characters, or both 0.
  char16_t Decomposition[2] = {0, 0};

  bool HasDecomposition() const noexcept { return Decomposition[0] != 0; }
};

// The record of code unit `c` (the tables are built on the first call).
const TUnicodeCharRecord& UnicodeCharInfo(char16_t c);
uint8_t UnicodeCategory(char16_t c);
// 1 for a mark of combining class 0, 9 or 27..34: such marks keep their place
// when marks are put in canonical order.
bool UnicodeIsBlockingMark(char16_t c);
uint8_t UnicodeBidiType(char16_t c);
// Follows the chain of first decomposition characters to the final base.
char16_t UnicodeCanonicalChar(char16_t c);
// Builds the tables now (they are otherwise built on first use).
void InitUnicodeTable();

}  // namespace kav
