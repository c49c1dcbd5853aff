// Generated case tables (tools/gen_casefold.py writes vxCaseFoldingTables.cpp).
//
// Internal to the case-folding and case-conversion modules; other code uses
// vxCaseFolding.h and wpStringUtils.h.
#pragma once

#include <cstdint>

namespace kav::casetables {

// Simple case folding by pages of 256 code points (generated tables in place
// of TCharPage objects made on first use): page p (code point >> 8)
// below kFoldPageCount with kFoldPageIndex[p] >= 0 has its 256 values at
// kFoldPages[index * 256]; each value is the low 16 bits of the folded code
// point (a folding never leaves its plane). Other pages fold to themselves.
extern const int kFoldPageCount;
extern const int16_t kFoldPageIndex[];
extern const uint16_t kFoldPages[];

// A multi-character folding: the code point and its 1 to 3 UTF-16 units.
struct TFullFolding {
  uint32_t CodePoint;
  uint8_t Length;
  char16_t Units[3];
};
extern const TFullFolding kFullFoldings[];
extern const int kFullFoldingCount;

// Simple upper- and lower-case mappings of the 256 BMP pages, same layout.
extern const int16_t kUpperPageIndex[256];
extern const uint16_t kUpperPages[];
extern const int16_t kLowerPageIndex[256];
extern const uint16_t kLowerPages[];

}  // namespace kav::casetables
