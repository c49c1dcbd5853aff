// The vectorizer over the platform text services: text elements whose runs
// use outline fonts only, glyph outlines read as native outlines, and the
// outline metrics of fonts.
#pragma once

#include "VoRav/Text/vxTextVectorizer.h"

namespace kav {

class TWinVectorizer : public TVectorizer {
 public:
  Ref<TTextElementEx> CreateTextElement(const TFontDesc& font, const std::u16string& text) override;
  void GetGlyphOutline(const TGlyphRecord& glyph, TPointArray& path) override;
  void GetTextMetrics(const TFontDesc& font, TFontMetricsRec& out) override;
  bool IsOutlineFont(const TFontDesc& font) override;
};

// Makes CreateVectorizer answer TWinVectorizer objects.
void InstallWinVectorizer();

// When set (the default), outlines are fitted into their glyph's black box.
extern bool g_FitOutlinesToABC;

}  // namespace kav
