#include "VoRav/Win32/Text/winFontSubstitute.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "VoRav/Text/vxUnicodeCharInfo.h"
#include "VoRav/Text/vxWideStringUtils.h"
#include "VoRav/Win32/Text/winFontUtils.h"
#include "VoRav/Win32/Text/winTextAPI.h"
#include "VoRav/wpThreads2.h"
#include "platform/text/PlatformText.h"

namespace kav {
namespace {

constexpr const char16_t* kFallbackFaces[] = {
    u"Kartika", u"Vrinda", u"Mv Boli",  u"Gautami", u"Tunga", u"Shruti", u"Raavi",
    u"Sylfaen", u"Estrangelo Edessa", u"Arial", u"Latha", u"Mangal", u"Microsoft Sans Serif", u"Ms Gothic"};

bool IsHigh(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

char32_t CodePointAt(const std::u16string& text, int32_t i) {
  const char16_t c = text[size_t(i)];
  if (IsHigh(c) && size_t(i) + 1 < text.size() && IsLow(text[size_t(i) + 1]))
    return 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[size_t(i) + 1] - 0xDC00);
  return c;
}

TFontDesc WithStyle(const TFontDesc& font, uint8_t style) {
  TFontDesc d = font;
  d.Style = style;
  return d;
}

TTextMetrics MeasureAt(const std::u16string& face, int32_t height, uint8_t style) {
  ptext::TLogFont log;
  log.FaceName = face.substr(0, kMaxFaceNameLength);
  log.Height = height;
  log.Weight = (style & fsBold) ? 700 : 0;
  log.Italic = style & fsItalic;
  return GetTextMetricsOf(ptext::CreateFont(log).get());
}

}  // namespace

int32_t FontStyleIndex(uint8_t style) {
  if (style & fsItalic) return (style & fsBold) ? 3 : 2;
  return (style & fsBold) ? 1 : 0;
}

int32_t ClusterLength(const std::u16string& text, int32_t position, int32_t last) {
  int32_t n = 1;
  while (position + n <= last && size_t(position + n) < text.size()) {
    const char16_t c = text[size_t(position + n)];
    // The second half of a surrogate pair stays with the first, or a run
    // could cut the pair in two.
    const bool pair_half = IsLow(c) && IsHigh(text[size_t(position + n - 1)]);
    if (!pair_half && UnicodeCategory(c) != ucMark) break;
    ++n;
  }
  return n;
}

TFontReplacer::TFontReplacer() : pixels_per_inch_(ptext::kScreenPixelsPerInch) {}

void TFontReplacer::Dispose() {
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    fallbacks_.clear();
    items_.clear();
  }
  TRefObject::Dispose();
}

TFontItem* TFontReplacer::FindItem(const TFontDesc& font) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = items_.find(WideSeparateMarksInto(font.FaceName));
  return it == items_.end() ? nullptr : it->second.get();
}

int32_t TFontReplacer::FallbackCount() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return int32_t(fallbacks_.size());
}

TFontItem* TFontReplacer::AddFont(const TFontDesc& font, bool fallback, bool must_exist) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  const std::u16string key = WideSeparateMarksInto(font.FaceName);
  TFontItem* item;
  auto it = items_.find(key);
  if (it != items_.end()) {
    item = it->second.get();
  } else {
    if (must_exist && !ptext::FontFamilyInstalled(font.FaceName)) return nullptr;
    Ref<TFontItem> made = MakeRef<TFontItem>(font);
    item = made.get();
    items_.emplace(key, std::move(made));
  }
  // A fallback face is measured and prepared when it is first tried rather
  // than when it is registered at start-up: most texts never need one, and
  // opening all fourteen cost the first text about 20 ms.
  if (!fallback) Prepare(item);
  if (fallback && std::find(fallbacks_.begin(), fallbacks_.end(), item) == fallbacks_.end()) fallbacks_.push_back(item);
  return item;
}

void TFontReplacer::Prepare(TFontItem* item) {
  if (item->prepared_) return;
  const ptext::TTextMetricsRec m = ptext::GetTextMetrics(CreateFontHandle(item->font_).get());
  item->pitch_flag_ = m.PitchAndFamily & 1;
  item->default_char_ = m.DefaultChar;
  ptext::TPlacement p;
  const std::u16string ch(1, item->default_char_);
  ptext::GetCharacterPlacement(CreateFontHandle(item->font_).get(), ch, 0, p);
  item->default_glyph_ = p.Glyphs.empty() ? 0 : p.Glyphs[0];
  // The coverage sets (four styles, a font file each) are built when the
  // item is first tried for a run: most fallback faces never are.
  item->prepared_ = true;
}

void TFontReplacer::BuildCoverage(TFontItem* item) {
  if (item->built_) return;
  const uint8_t styles[4] = {0, fsItalic, fsBold, fsBold | fsItalic};
  for (uint8_t style : styles) {
    Ref<TBitSet> set = MakeRef<TBitSet>();
    GetFontCoverage(WithStyle(item->font_, style), set.get());
    item->coverage_[FontStyleIndex(style)] = std::move(set);
  }
  item->built_ = true;
}

int32_t TFontReplacer::CoveredCount(TFontItem* item, int32_t style_index, const std::u16string& text, int32_t count,
                                    int32_t position) {
  // A range beyond the text used to fail an assertion; it counts as
  // uncovered.
  if (position < 0 || count <= 0 || int64_t(position) + count > int64_t(text.size())) return 0;
  TBitSet* set = item->coverage_[style_index].get();
  int32_t n = 0;
  while (n < count && set && set->GetBit(text[size_t(position + n)])) ++n;
  if (n >= count) return n;
  static constexpr uint8_t kStyles[4] = {0, fsBold, fsItalic, fsBold | fsItalic};
  ptext::TPlacement p;
  ptext::GetCharacterPlacement(CreateFontHandle(WithStyle(item->font_, kStyles[style_index])).get(),
                               std::u16string_view(text).substr(size_t(position), size_t(count)), ptext::gcpReorder, p);
  // A placement given up (the thread is stopping) has no order: nothing of
  // the range counts as covered.
  n = 0;
  while (n < count && size_t(n) < p.Order.size() && size_t(p.Order[n]) < p.Glyphs.size() &&
         p.Glyphs[p.Order[n]] != item->default_glyph_)
    ++n;
  return n;
}

int32_t TFontReplacer::IndexOf(TFontItem* item) {
  auto it = std::find(fallbacks_.begin(), fallbacks_.end(), item);
  return it == fallbacks_.end() ? -1 : int32_t(it - fallbacks_.begin());
}

TFontItem* TFontReplacer::NextFallback(TFontItem* item, TFontItem* chosen, const std::vector<TFontItem*>& tried) {
  auto fresh = [&](TFontItem* f) { return std::find(tried.begin(), tried.end(), f) == tried.end(); };
  // Pitch flags are known once the items are prepared.
  auto pitch = [this](TFontItem* f) {
    Prepare(f);
    return f->pitch_flag_;
  };
  for (int32_t i = IndexOf(item) + 1; i < int32_t(fallbacks_.size()); ++i)
    if (pitch(fallbacks_[i]) == pitch(item) && fresh(fallbacks_[i])) return fallbacks_[i];
  if (chosen && pitch(chosen) == pitch(item)) {
    for (int32_t i = IndexOf(chosen) + 1; i < int32_t(fallbacks_.size()); ++i)
      if (pitch(fallbacks_[i]) != pitch(item) && fresh(fallbacks_[i])) return fallbacks_[i];
  }
  return nullptr;
}

double TFontReplacer::SizeToMatch(TFontItem* item, const TTextMetrics& chosen, const TFontDesc& font) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  const TTextMetrics& c = item->cached_metrics_;
  if (item->cached_size_ > 0 && c.Ascent == chosen.Ascent && c.Descent == chosen.Descent &&
      c.Height == chosen.Height && item->cached_style_ == font.Style)
    return item->cached_size_;
  const std::u16string& face = item->font_.FaceName;
  int32_t h = -int32_t(std::nearbyint((double(font.Size) + 10.0) * pixels_per_inch_ / 72.0));
  h = std::clamp(h, -4096, -1);
  // Shrink until the ascent fits (a height of 0 would mean a default size,
  // so the smallest tried is one pixel).
  while (MeasureAt(face, h, font.Style).Ascent > chosen.Ascent && h < -1) ++h;
  // Grow while the ascent still fits; the last height measured is the answer.
  int32_t measured = h;
  for (;;) {
    measured = h - 1;
    if (MeasureAt(face, measured, font.Style).Ascent > chosen.Ascent) break;
    --h;
    if (h <= -256) break;
  }
  item->cached_size_ = -double(measured) * 72.0 / pixels_per_inch_;
  item->cached_metrics_ = chosen;
  item->cached_style_ = font.Style;
  return item->cached_size_;
}

bool TFontReplacer::EmitRun(const std::u16string& text, int32_t first, int32_t count, const TFontDesc& font,
                            TFontItem* item) {
  bool accept = false;
  if (!callback_) return accept;
  TFontDesc reported = font;
  reported.FaceName = item->font_.FaceName;
  // The chosen font keeps its own size (its item may have been made at
  // another size; matching would change the line by a pixel).
  if (item != chosen_ && !FontDescSameFont(reported, item->font_)) {
    const TTextMetrics chosen = GetTextMetricsOf(CreateFontHandle(font).get());
    // Faces with a very tall ascent (mathematical ones) would shrink to a
    // speck by ascent alone: the match stays at three quarters of the size
    // or more.
    reported.Size = float(std::max(SizeToMatch(item, chosen, font), 0.75 * double(font.Size)));
  }
  callback_(text, first, accept, true, reported, count);
  return accept;
}

void TFontReplacer::ReplaceRun(const std::u16string& text, int32_t first, const TFontDesc& font, TFontItem* item,
                               int32_t last, std::vector<TFontItem*>& tried) {
  Prepare(item);
  BuildCoverage(item);
  const int32_t s = FontStyleIndex(font.Style);
  tried.push_back(item);
  while (first <= last) {
    // A layout whose thread was asked to stop is given up by its element.
    if (CurrentThreadStopRequested()) return;
    int32_t n = 0;
    for (int32_t pos = first; pos <= last;) {
      const int32_t c = ClusterLength(text, pos, last);
      if (CoveredCount(item, s, text, c, pos) != c) break;
      n += c;
      pos += c;
    }
    bool accept = true;
    if (n >= 1) accept = EmitRun(text, first, n, font, item);
    if (accept) {
      first += n;
      n = 0;
      for (int32_t pos = first; pos <= last;) {
        const int32_t c = ClusterLength(text, pos, last);
        if (CoveredCount(item, s, text, c, pos) == c) break;
        n += c;
        pos += c;
      }
    }
    if (n <= 0) continue;
    TFontItem* next = NextFallback(item, chosen_, tried);
    if (!next) {
      // Past the fixed list: an installed face that has the first of the
      // characters, when one exists and was not tried on this road.
      const std::u16string family =
          ptext::FamilyCoveringChar(CodePointAt(text, first), font.Style & fsBold, font.Style & fsItalic);
      if (!family.empty()) {
        TFontDesc desc = item->font_;
        desc.FaceName = family;
        TFontItem* found = AddFont(desc, false);
        if (found && std::find(tried.begin(), tried.end(), found) == tried.end()) next = found;
      }
    }
    if (next) {
      std::vector<TFontItem*> branch = tried;
      ReplaceRun(text, first, font, next, first + n - 1, branch);
    } else if (callback_) {
      bool ignored = true;
      callback_(text, first, ignored, false, font, n);
    }
    first += n;
  }
}

void TFontReplacer::Replace(const std::u16string& text, int32_t start, const TRunCallback& callback,
                            const TFontDesc& font, int32_t count) {
  if (text.empty() || count <= 0) return;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  start = std::clamp<int32_t>(start, 0, int32_t(text.size()));
  count = std::min<int32_t>(count, int32_t(text.size()) - start);
  if (count <= 0) return;
  const TRunCallback saved = callback_;
  TFontItem* const saved_chosen = chosen_;
  callback_ = callback;
  chosen_ = AddFont(font, false);
  if (!chosen_) {
    // No item for the chosen font: the whole range goes out in it rather
    // than nowhere, so every character is still reported.
    bool accept = true;
    if (callback_) callback_(text, start, accept, true, font, count);
    callback_ = saved;
    chosen_ = saved_chosen;
    return;
  }
  // Visual position of each character (both halves of a surrogate pair
  // share one), for cutting the range where the visual order breaks.
  ptext::TPlacement p;
  const std::u16string_view range = std::u16string_view(text).substr(size_t(start), size_t(count));
  ptext::GetCharacterPlacement(CreateFontHandle(font).get(), range, ptext::gcpReorder, p);
  if (CurrentThreadStopRequested()) {
    callback_ = saved;
    chosen_ = saved_chosen;
    return;
  }
  std::vector<int32_t> visual(size_t(count), 0);
  int32_t v = 0;
  for (int32_t u : p.VisualToLogical) {
    const bool pair_half = u > 0 && IsLow(range[size_t(u)]) && IsHigh(range[size_t(u) - 1]);
    visual[size_t(u)] = pair_half ? -1 : v++;
  }
  for (int32_t i = 1; i < count; ++i)
    if (visual[size_t(i)] < 0) visual[size_t(i)] = visual[size_t(i) - 1];
  int32_t piece = 0;
  for (int32_t i = 1; i <= count && !CurrentThreadStopRequested(); ++i) {
    if (i < count && std::abs(visual[size_t(i)] - visual[size_t(i) - 1]) <= 1) continue;
    std::vector<TFontItem*> tried;
    ReplaceRun(text, start + piece, font, chosen_, start + i - 1, tried);
    piece = i;
  }
  callback_ = saved;
  chosen_ = saved_chosen;
}

TFontReplacer* FontReplacer() {
  static Ref<TFontReplacer> replacer = [] {
    Ref<TFontReplacer> r = MakeRef<TFontReplacer>();
    for (const char16_t* face : kFallbackFaces) {
      TFontDesc d;
      FontDescSetAll(d, face, 10.0f, 0, TRGBTriple{}, TRGBTriple{}, false);
      // A face missing on the machine simply yields no item.
      r->AddFont(d, true, true);
    }
    return r;
  }();
  return replacer.get();
}

}  // namespace kav
