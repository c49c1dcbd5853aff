// Font substitution: splits a text into runs and names, for each run, the
// font that shapes it: the chosen font where it has the glyphs, else the
// next font of a fixed fallback list that has them, else an installed face
// found by its coverage of the character, else no font.
//
// A substitute gets a size at which its ascent matches the chosen font's,
// so lines keep their height. One replacer, FontReplacer(), serves the whole
// program; Replace and AddFont run under its lock, so any thread may call.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/SysObj2.h"
#include "VoRav/Text/vxTextElement.h"
#include "VoRav/vxBits.h"
#include "VoRav/vxDelegate.h"

namespace kav {

// 0 no style, 1 bold, 2 italic, 3 bold and italic.
int32_t FontStyleIndex(uint8_t style);

class TFontItem : public TRefObject {
 public:
  explicit TFontItem(const TFontDesc& font) : font_(font) {}
  const TFontDesc& Font() const noexcept { return font_; }
  // Set for a variable-pitch font; known once the item is prepared (a
  // fallback face when it is first tried).
  bool PitchFlag() const noexcept { return pitch_flag_; }

 private:
  friend class TFontReplacer;
  bool pitch_flag_ = false;
  Ref<TBitSet> coverage_[4];
  TFontDesc font_;
  char16_t default_char_ = 0;
  uint16_t default_glyph_ = 0;
  uint8_t cached_style_ = 0;
  TTextMetrics cached_metrics_;
  double cached_size_ = 0;
  bool prepared_ = false;
  bool built_ = false;
};

// Reports one run: characters [start, start + count) of `text` in `font`;
// `covered` is false when no font has them (font is then the chosen one).
// Setting `accept` to false refuses a covered run, whose characters go on to
// the next fallback font.
using TRunCallback = TDelegate<void(const std::u16string& text, int32_t start, bool& accept, bool covered,
                                    const TFontDesc& font, int32_t count)>;

class TFontReplacer : public TRefObject {
 public:
  TFontReplacer();

  // Splits [start, start + count) of `text` into runs reported through
  // `callback`; every character is reported in some run.
  void Replace(const std::u16string& text, int32_t start, const TRunCallback& callback, const TFontDesc& font,
               int32_t count);
  // Finds or creates the item of the font's face, appending it to the
  // fallback list when asked; the item is prepared unless it is a
  // fallback. Null when the face is not installed and `must_exist` is set.
  TFontItem* AddFont(const TFontDesc& font, bool fallback, bool must_exist = false);
  TFontItem* FindItem(const TFontDesc& font);
  int32_t FallbackCount();

  // The size in points at which `item`'s face has about the ascent of
  // `chosen` (metrics of the chosen font).
  double SizeToMatch(TFontItem* item, const TTextMetrics& chosen, const TFontDesc& font);

 protected:
  void Dispose() override;

 private:
  void Prepare(TFontItem* item);
  void BuildCoverage(TFontItem* item);
  int32_t CoveredCount(TFontItem* item, int32_t style_index, const std::u16string& text, int32_t count,
                       int32_t position);
  void ReplaceRun(const std::u16string& text, int32_t first, const TFontDesc& font, TFontItem* item, int32_t last,
                  std::vector<TFontItem*>& tried);
  bool EmitRun(const std::u16string& text, int32_t first, int32_t count, const TFontDesc& font, TFontItem* item);
  TFontItem* NextFallback(TFontItem* item, TFontItem* chosen, const std::vector<TFontItem*>& tried);
  int32_t IndexOf(TFontItem* item);

  std::recursive_mutex lock_;
  std::unordered_map<std::u16string, Ref<TFontItem>> items_;
  std::vector<TFontItem*> fallbacks_;
  TRunCallback callback_;
  TFontItem* chosen_ = nullptr;
  int32_t pixels_per_inch_;
};

// The program's replacer, made on first use with the fallback faces.
TFontReplacer* FontReplacer();

// Characters from `position` that form one cluster, not beyond `last`:
// the character and the combining marks after it (and the second half of a
// surrogate pair).
int32_t ClusterLength(const std::u16string& text, int32_t position, int32_t last);

}  // namespace kav
