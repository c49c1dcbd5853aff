#include "VoRav/Win32/Text/winTextElement.h"

#include <algorithm>
#include <climits>

#include "VoRav/Win32/Text/winFontSubstitute.h"
#include "VoRav/Win32/Text/winFontUtils.h"
#include "VoRav/Win32/Text/winTextAPI.h"
#include "VoRav/wpThreads2.h"

namespace kav {
namespace {

// The face that draws characters no font has.
constexpr const char16_t* kMissingFace = u"Wingdings";

uint32_t Color32(TRGBTriple c) { return 0xFF000000u | (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

TTextDirection ScanDirection(std::u16string_view s, TTextDirection dir) {
  for (char16_t c : s) {
    switch (c) {
      case 0x202A: dir = tdLeftToRightEmbedding; break;
      case 0x202B: dir = tdRightToLeftEmbedding; break;
      case 0x202D: dir = tdLeftToRightOverride; break;
      case 0x202E: dir = tdRightToLeftOverride; break;
      default: break;
    }
  }
  return dir;
}

// Placement of `s` with the direction's control character in front when
// there is one; the control character's unit and glyph are taken out again.
void PlaceWithDirection(ptext::TPFont* font, std::u16string_view s, TTextDirection dir, ptext::TPlacement& p) {
  const char16_t control = DirectionControlChar(dir);
  if (!control) {
    ptext::GetCharacterPlacement(font, s, ptext::gcpReorder, p);
    return;
  }
  std::u16string with(1, control);
  with.append(s);
  ptext::GetCharacterPlacement(font, with, ptext::gcpReorder, p);
  const int32_t g0 = p.Order.empty() ? -1 : p.Order[0];
  // The control character's own glyph goes wherever it lies (unless it
  // shares a cluster with the next character).
  const bool own = g0 >= 0 && (p.Order.size() < 2 || p.Order[1] != g0) && g0 < p.GlyphCount;
  if (own) {
    p.Glyphs.erase(p.Glyphs.begin() + g0);
    p.Dx.erase(p.Dx.begin() + g0);
    p.OffsetX.erase(p.OffsetX.begin() + g0);
    p.OffsetY.erase(p.OffsetY.begin() + g0);
    --p.GlyphCount;
  }
  p.Order.erase(p.Order.begin());
  p.Class.erase(p.Class.begin());
  p.Levels.erase(p.Levels.begin());
  if (own)
    for (int32_t& o : p.Order)
      if (o > g0) --o;
  std::vector<int32_t> v;
  for (int32_t u : p.VisualToLogical)
    if (u > 0) v.push_back(u - 1);
  p.VisualToLogical = std::move(v);
}

}  // namespace

char16_t DirectionControlChar(TTextDirection dir) {
  switch (dir) {
    case tdLeftToRightEmbedding: return 0x202A;
    case tdRightToLeftEmbedding: return 0x202B;
    case tdLeftToRightOverride: return 0x202D;
    case tdRightToLeftOverride: return 0x202E;
    default: return 0;
  }
}

TWinTextElement::TWinTextElement(const TFontDesc& font, TTextDirection direction) : TTextElementEx(font, direction) {}

void TWinTextElement::InsertText(int32_t position, const std::u16string& source, int32_t count, int32_t start) {
  start = std::clamp<int32_t>(start, 0, int32_t(source.size()));
  count = std::clamp<int32_t>(count, 0, int32_t(source.size()) - start);
  position = std::clamp<int32_t>(position, 0, int32_t(text_.size()));
  text_.insert(size_t(position), source, size_t(start), size_t(count));
  prefix_widths_.clear();
  suffix_widths_.clear();
  Layout();
}

void TWinTextElement::Layout() {
  cancelled_ = false;
  length_ = int32_t(text_.size());
  runs_.clear();
  glyph_pen_.clear();
  glyphs_.clear();
  glyph_count_ = 0;
  bounds_ = TTextBounds();
  glyph_of_char_.assign(size_t(length_), 0);
  advances_.assign(size_t(length_) + 1, 0);
  if (length_ > 0 && !CurrentThreadStopRequested()) {
    // The replacer serialises layouts on its own lock.
    FontReplacer()->Replace(text_, 0, TRunCallback::Bind<&TWinTextElement::AddRun>(this), font_, length_);
  }
  carets_.assign(size_t(length_) + 1, 0);
  extents_.assign(size_t(length_) + 1, {0, 0});
  // Departure: a layout on a worker asked to stop is given up (no runs); its slide is dropped anyway.
  if (CurrentThreadStopRequested()) {
    AbandonLayout();
    return;
  }
  LayoutRuns();
  if (CurrentThreadStopRequested()) AbandonLayout();
}

void TWinTextElement::AbandonLayout() {
  cancelled_ = true;
  runs_.clear();
  glyph_pen_.clear();
  glyphs_.clear();
  glyph_count_ = 0;
  line_levels_.clear();
  bounds_ = TTextBounds();
  glyph_of_char_.assign(size_t(length_), 0);
  advances_.assign(size_t(length_) + 1, 0);
  carets_.assign(size_t(length_) + 1, 0);
  extents_.assign(size_t(length_) + 1, {0, 0});
}

void TWinTextElement::AddRun(const std::u16string&, int32_t start, bool& accept, bool covered, const TFontDesc& font,
                             int32_t count) {
  accept = true;
  if (covered && run_filter_) accept = run_filter_(this, font);
  if (!accept) return;
  TTextRun run;
  run.Font = font;
  if (!covered) run.Font.FaceName = kMissingFace;
  run.Start = start;
  run.Count = count;
  run.Covered = covered;
  runs_.push_back(std::move(run));
}

void TWinTextElement::OrderRuns() {
  ptext::TPlacement p;
  PlaceWithDirection(CreateFontHandle(font_).get(), text_, direction_, p);
  line_levels_ = p.Levels;
  std::vector<int32_t> visual(size_t(length_), 0);
  for (size_t v = 0; v < p.VisualToLogical.size(); ++v) visual[size_t(p.VisualToLogical[v])] = int32_t(v);
  for (size_t r = 0; r < runs_.size(); ++r) {  // runs appended meanwhile are scanned too
    for (int32_t k = 1; k < runs_[r].Count; ++k) {
      const int32_t i = runs_[r].Start + k;
      const bool pair_half = text_[size_t(i)] >= 0xDC00 && text_[size_t(i)] < 0xE000 &&
                             text_[size_t(i) - 1] >= 0xD800 && text_[size_t(i) - 1] < 0xDC00;
      if (pair_half || std::abs(visual[size_t(i)] - visual[size_t(i) - 1]) <= 1) continue;
      TTextRun tail;
      tail.Font = runs_[r].Font;
      tail.Covered = runs_[r].Covered;
      tail.Start = i;
      tail.Count = runs_[r].Count - k;
      runs_[r].Count = k;
      runs_.push_back(std::move(tail));
      break;
    }
  }
  auto key = [&](const TTextRun& run) {
    return std::min(visual[size_t(run.Start)], visual[size_t(run.Start + run.Count - 1)]);
  };
  std::stable_sort(runs_.begin(), runs_.end(), [&](const TTextRun& a, const TTextRun& b) { return key(a) < key(b); });
}

void TWinTextElement::LayoutRuns() {
  if (length_ < 1 || runs_.empty()) return;
  int32_t ink_left = INT_MAX, ink_right = -INT_MAX, advance = 0;
  glyphs_.clear();
  glyph_count_ = 0;
  line_levels_.clear();
  if (runs_.size() > 1) OrderRuns();
  if (CurrentThreadStopRequested()) return;
  TTextDirection dir = direction_;
  for (size_t r = 0; r < runs_.size(); ++r) {
    if (CurrentThreadStopRequested()) return;  // Layout abandons what was done
    TTextRun& run = runs_[r];
    LayoutRun(run, advance, dir, ink_left, ink_right);
    advance += run.Width;
    if (r + 1 < runs_.size()) dir = ScanDirection(std::u16string_view(text_).substr(size_t(run.Start), size_t(run.Count)), dir);
    glyph_count_ += run.GlyphCount;
  }
  advances_[size_t(length_)] = -1;
  glyph_pen_.clear();
  glyph_pen_.reserve(size_t(glyph_count_));
  int32_t run_pen = 0;
  for (const TTextRun& run : runs_) {
    int32_t pen = run_pen;
    for (int32_t g = 0; g < run.GlyphCount; ++g) {
      glyph_pen_.push_back(pen);
      if (size_t(g) < run.Dx.size()) pen += run.Dx[size_t(g)];
    }
    run_pen += run.Width;
  }
  if (ink_left > ink_right) ink_left = ink_right = 0;  // nothing measured
  bounds_.InkLeft = ink_left;
  bounds_.InkWidth = ink_right - ink_left;
  bounds_.Advance = advance;
  bounds_.RightRemainder = advance - ink_left - bounds_.InkWidth;
}

void TWinTextElement::LayoutRun(TTextRun& run, int32_t pen, TTextDirection dir, int32_t& ink_left,
                                int32_t& ink_right) {
  ptext::PFont font = CreateFontHandle(run.Font);
  ptext::TPlacement p;
  const std::u16string_view chars = std::u16string_view(text_).substr(size_t(run.Start), size_t(run.Count));
  // Departure: a cut run keeps the whole line's bidi levels; a pass of its own moves blanks at its ends.
  if (line_levels_.size() == size_t(length_))
    ptext::GetCharacterPlacementAtLevels(font.get(), chars, line_levels_.data() + run.Start, p);
  else
    PlaceWithDirection(font.get(), chars, dir, p);
  if (p.Order.size() < size_t(run.Count) || p.Class.size() < size_t(run.Count)) {
    // Departure: a run the placement refuses (longer than it takes) shows no glyph instead of being read past.
    p = ptext::TPlacement();
    p.Order.assign(size_t(run.Count), 0);
    p.Class.assign(size_t(run.Count), ptext::gcpLatin);
  }
  if (CurrentThreadStopRequested()) return;  // Layout abandons what was done
  const int32_t glyphs_before = int32_t(glyphs_.size());
  const int32_t ng = p.GlyphCount;
  std::vector<int32_t> char_of_glyph(size_t(ng), -1);
  for (int32_t k = 0; k < run.Count; ++k) {
    const int32_t g = p.Order[size_t(k)];
    glyph_of_char_[size_t(run.Start + k)] = glyphs_before + g;
    const bool starts = k == 0 || p.Order[size_t(k - 1)] != g;
    if (g < ng) char_of_glyph[size_t(g)] = k;
    advances_[size_t(run.Start + k)] = starts && g < ng ? p.Dx[size_t(g)] : 0;
  }
  glyphs_.insert(glyphs_.end(), p.Glyphs.begin(), p.Glyphs.end());
  run.GlyphCount = ng;
  run.Glyphs = p.Glyphs;
  run.Dx = p.Dx;
  run.OffsetX = p.OffsetX;
  run.OffsetY = p.OffsetY;
  run.Abc.assign(size_t(ng), ptext::TABC());
  // In slices, so that a layout whose thread is asked to stop ends soon.
  constexpr int32_t kAbcSlice = 4096;
  run.AbcKnown = ng > 0;
  for (int32_t g = 0; g < ng && run.AbcKnown; g += kAbcSlice) {
    if (CurrentThreadStopRequested()) return;  // Layout abandons what was done
    const int32_t n = std::min(kAbcSlice, ng - g);
    run.AbcKnown = GetCharABCWidthsIProc(font.get(), run.Abc.data() + g, n, 0, n - 1, run.Glyphs.data() + g);
  }
  const TTextMetrics m = GetTextMetricsOf(font.get());
  run.Ascent = m.Ascent;
  run.Descent = m.Descent;
  if (!run.AbcKnown) run.Abc.assign(size_t(ng), ptext::TABC());
  int32_t x = 0;
  for (int32_t g = 0; g < ng; ++g) {
    const ptext::TABC& abc = run.Abc[size_t(g)];
    ink_left = std::min(ink_left, pen + x + abc.A);
    ink_right = std::max(ink_right, pen + x + abc.A + abc.B);
    x += p.Dx[size_t(g)];
  }
  run.Width = x;
  // Carets: a right-to-left character's caret stands at its right edge.
  std::vector<bool> starts_char(size_t(ng), false);
  for (int32_t k = 0; k < run.Count; ++k)
    if (p.Order[size_t(k)] < ng) starts_char[size_t(p.Order[size_t(k)])] = true;
  std::vector<int32_t> cum(size_t(ng) + 1, 0);
  for (int32_t g = 1; g <= ng; ++g) cum[size_t(g)] = cum[size_t(g - 1)] + p.Dx[size_t(g - 1)];
  auto cluster_width = [&](int32_t g) {
    int32_t w = g < ng ? p.Dx[size_t(g)] : 0;
    for (int32_t h = g + 1; h < ng && !starts_char[size_t(h)]; ++h) w += p.Dx[size_t(h)];
    return w;
  };
  const bool rtl_dir = dir == tdRightToLeftOverride;
  for (int32_t k = 0; k < run.Count; ++k) {
    const int32_t g = std::min(p.Order[size_t(k)], ng);
    const bool new_glyph = k == 0 || p.Order[size_t(k - 1)] != p.Order[size_t(k)];
    if (new_glyph && (p.Class[size_t(k)] == ptext::gcpRightToLeft || rtl_dir)) cum[size_t(g)] += cluster_width(g);
    carets_[size_t(run.Start + k)] = cum[size_t(g)] + pen;
  }
  if (run.Start + run.Count == length_ && run.Count > 0) {
    const int32_t last = run.Count - 1;
    int32_t w = cluster_width(p.Order[size_t(last)]);
    if (p.Class[size_t(last)] == ptext::gcpRightToLeft || rtl_dir) w = -w;
    carets_[size_t(length_)] = carets_[size_t(length_ - 1)] + w;
  }
  // Extents of the characters, right to left for right-to-left classes.
  x = 0;
  for (int32_t g = 0; g < ng; ++g) {
    const int32_t k = char_of_glyph[size_t(g)];
    const int32_t dx = p.Dx[size_t(g)];
    if (k >= 0) {
      const uint8_t cls = p.Class[size_t(k)];
      auto& e = extents_[size_t(run.Start + k)];
      if (cls == ptext::gcpLatin || cls == ptext::gcpLatinNumber) e = {pen + x, pen + x + dx};
      else if (cls == ptext::gcpRightToLeft || cls == ptext::gcpLocalNumber) e = {pen + x + dx, pen + x};
    }
    x += dx;
  }
  for (int32_t k = run.Count - 1; k >= 1; --k)
    if (glyph_of_char_[size_t(run.Start + k)] == glyph_of_char_[size_t(run.Start + k - 1)])
      extents_[size_t(run.Start + k - 1)] = extents_[size_t(run.Start + k)];
}

void TWinTextElement::GetFontMetrics(TTextMetrics& out) {
  if (metrics_.Height == 0) metrics_ = GetTextMetricsOf(CreateFontHandle(font_).get());
  out = metrics_;
}

void TWinTextElement::GetCaretPos(int32_t index, int32_t& left, int32_t& right) {
  index = std::clamp(index, -1, length_ - 1);
  left = carets_.empty() ? 0 : carets_[size_t(index + 1 == 0 ? 0 : index)];
  right = carets_.empty() ? 0 : carets_[size_t(index + 1)];
  if (index < 0) right = left;
}

bool TWinTextElement::IsClusterContinuation(int32_t index) {
  if (index < 1 || index >= length_) return false;
  return glyph_of_char_[size_t(index)] == glyph_of_char_[size_t(index - 1)];
}

int32_t TWinTextElement::UnderlineThickness() {
  ptext::TOutlineMetricsRec om;
  ptext::GetOutlineTextMetrics(CreateFontHandle(font_).get(), om);
  return om.UnderscoreSize;
}

int32_t TWinTextElement::UnderlinePosition() {
  ptext::TOutlineMetricsRec om;
  ptext::GetOutlineTextMetrics(CreateFontHandle(font_).get(), om);
  return om.UnderscorePosition;
}

int32_t TWinTextElement::RangeWidth(int32_t start, int32_t count) {
  start = std::max(start, 0);
  const int32_t end = std::min<int64_t>(int64_t(start) + std::max(count, 0), length_);
  // Runs in logical order, so a range's parts are measured once each.
  std::vector<const TTextRun*> logical;
  for (const TTextRun& r : runs_) logical.push_back(&r);
  std::sort(logical.begin(), logical.end(), [](const TTextRun* a, const TTextRun* b) { return a->Start < b->Start; });
  int32_t width = 0;
  for (const TTextRun* r : logical) {
    const int32_t a = std::max(start, r->Start), b = std::min(end, r->Start + r->Count);
    if (a >= b) continue;
    width += ptext::GetTextExtent(CreateFontHandle(r->Font).get(),
                                  std::u16string_view(text_).substr(size_t(a), size_t(b - a)));
  }
  return width;
}

void TWinTextElement::GetTextBounds(TTextBounds& out) { out = bounds_; }

Ref<TTextElement> TWinTextElement::CreateSubElement(int32_t start, int32_t count) {
  Ref<TWinTextElement> sub = MakeRef<TWinTextElement>(font_, direction_);
  sub->run_filter_ = run_filter_;
  sub->InsertText(0, text_, count, start);
  return sub;
}

void TWinTextElement::GetBounds(TPoint origin, TRect& out) {
  TTextElement::GetBounds(origin, out);
  out.Right += 1;  // as the newer systems' text output spills one pixel further
}

void TWinTextElement::GetGlyph(int32_t index, TGlyphRecord& out) {
  out = TGlyphRecord();
  out.GlyphIndex = index >= 0 && index < int32_t(glyphs_.size()) ? glyphs_[size_t(index)] : 0;
  out.FontKey = GlyphFontKey(font_.FaceName, font_.Style);
  out.FontSize = font_.Size;
  if (index < 0) return;
  const int32_t global = index;
  for (const TTextRun& run : runs_) {
    if (index >= run.GlyphCount) {
      index -= run.GlyphCount;
      continue;
    }
    out.FontKey = GlyphFontKey(run.Font.FaceName, run.Font.Style);
    out.FontSize = run.Font.Size;
    // Metrics and pen kept from the layout: asking them anew per glyph made
    // a long text's records quadratic in its length.
    out.Ascent = run.Ascent;
    out.Descent = run.Descent;
    out.PenX = size_t(global) < glyph_pen_.size() ? glyph_pen_[size_t(global)] : 0;
    if (run.AbcKnown) {
      out.A = run.Abc[size_t(index)].A;
      out.B = run.Abc[size_t(index)].B;
      out.C = run.Abc[size_t(index)].C;
    } else {
      out.B = run.Dx[size_t(index)];
    }
    out.OffsetX = run.OffsetX[size_t(index)];
    out.OffsetY = run.OffsetY[size_t(index)];
    out.Advance = out.A + out.B + out.C;
    out.Height = out.Ascent + out.Descent;
    return;
  }
}

void TWinTextElement::DrawToDC(TPoint origin, const TRect& clip, const ptext::TTextTarget& target) {
  TTextMetrics m;
  GetFontMetrics(m);
  const int32_t baseline = origin.Y + m.Ascent;
  if (!FontDescIsTransparent(font_)) {
    const uint32_t back = Color32(font_.Color2);
    for (int32_t y = std::max(0, clip.Top); y < std::min(target.Height, clip.Bottom); ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(target.Bits + int64_t(y) * target.Stride);
      for (int32_t x = std::max(0, clip.Left); x < std::min(target.Width, clip.Right); ++x) row[x] = back;
    }
  }
  const bool lines = font_.Style & (fsUnderline | fsStrikeOut);
  const bool blank = std::all_of(text_.begin(), text_.end(), [](char16_t c) { return c <= 32; });
  if (blank && !lines) return;
  int32_t x = origin.X;
  for (const TTextRun& run : runs_) {
    ptext::PFont font = CreateFontHandle(run.Font);
    ptext::ExtTextOutGlyphs(target, font.get(), x, baseline, clip.Left, clip.Top, clip.Right, clip.Bottom,
                            run.Glyphs.data(), run.Dx.data(), run.OffsetX.data(), run.OffsetY.data(), run.GlyphCount,
                            Color32(font_.Color1));
    x += run.Width;
  }
}

}  // namespace kav
