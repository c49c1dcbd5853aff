#include "VoRav/Win32/Text/winTextAPI.h"

#include <vector>

#include "VoRav/Win32/Text/winFontUtils.h"

namespace kav {

void GetFontCoverage(const TFontDesc& font, TBitSet* set) {
  set->SetSize(65536);
  std::vector<ptext::TUnicodeRange> ranges;
  if (!ptext::GetFontUnicodeRanges(CreateFontHandle(font).get(), ranges)) return;
  // A character listed twice is harmless here: its bit is simply set again.
  for (const ptext::TUnicodeRange& r : ranges)
    for (int32_t c = r.First; c < int32_t(r.First) + r.Count && c < 65536; ++c) set->SetBit(c, true);
}

bool GetCharABCWidthsIProc(ptext::TPFont* font, ptext::TABC* abc, int32_t count, int32_t first, int32_t last,
                           const uint16_t* glyphs) {
  // A bad range used to fail an assertion; it is refused.
  if (first < 0 || last < first || count < 0 || !glyphs || !abc) return false;
  return ptext::GetCharABCWidthsI(font, glyphs + first, count, abc);
}

}  // namespace kav
