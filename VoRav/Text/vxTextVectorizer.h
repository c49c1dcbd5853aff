// The vectorizer: turns glyphs into outlines for vector text. The abstract
// class is what vector text sees; the platform one (winTextVectorizer) is
// installed at start-up through the factory hook.
#pragma once

#include <string>

#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/SysObj2.h"
#include "VoRav/Text/vxTextElement.h"
#include "VoRav/VectorGraphics/vxRasterizerTypes.h"

namespace kav {

// Outline metrics of a font in pixels; positions count up from the baseline.
struct TFontMetricsRec {
  int32_t Ascent = 0;
  int32_t Descent = 0;
  float UnderlinePosition = 0;
  float UnderlineThickness = 0;
  float StrikeOutPosition = 0;
  float StrikeOutThickness = 0;
};

class TVectorizer : public TRefObject {
 public:
  // A laid-out line whose runs use outline fonts only.
  virtual Ref<TTextElementEx> CreateTextElement(const TFontDesc& font, const std::u16string& text) = 0;
  // Appends the outline of the record's glyph (in the record's font and
  // size, y growing downwards, origin on the pen position) to `path`;
  // nothing for a blank glyph or one that cannot be read.
  virtual void GetGlyphOutline(const TGlyphRecord& glyph, TPointArray& path) = 0;
  virtual void GetTextMetrics(const TFontDesc& font, TFontMetricsRec& out) = 0;
  virtual bool IsOutlineFont(const TFontDesc& font) = 0;
};

using TVectorizerFactory = Ref<TVectorizer> (*)();
// A new vectorizer from the installed factory; null when none is installed.
Ref<TVectorizer> CreateVectorizer();
// Answers the previous factory.
TVectorizerFactory SetVectorizerFactory(TVectorizerFactory factory);

// Splits a glyph font key ("Face:Bold,Italic") into its face and style bits.
void ParseGlyphFontKey(const std::u16string& key, std::u16string& face, uint8_t& style);

}  // namespace kav
