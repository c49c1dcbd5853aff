// Metrics, ABC widths, coverage and outlines from FreeType.
#include <ft2build.h>
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>

#include "platform/text/PTextFaces.h"

namespace kav::ptext {
namespace {

int32_t Round26(FT_Pos v) { return int32_t(std::lround(double(v) / 64.0)); }

bool LoadUnhinted(TFaceEntry* f, uint16_t glyph) {
  return FT_Load_Glyph(f->ft, glyph, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0;
}

TABC AbcLocked(TFaceEntry* f, uint16_t glyph) {
  TABC abc;
  if (!LoadUnhinted(f, glyph)) return abc;
  const FT_Glyph_Metrics& m = f->ft->glyph->metrics;
  const int32_t advance = Round26(m.horiAdvance);
  if (m.width > 0) {
    abc.A = Round26(m.horiBearingX);
    abc.B = std::max(1, Round26(m.horiBearingX + m.width) - abc.A);
  }
  abc.C = advance - abc.A - abc.B;
  return abc;
}

// 26.6 to 16.16, y turned to grow downwards.
TFixedPoint Fixed(const FT_Vector& v) { return {int32_t(v.x * 1024), int32_t(-v.y * 1024)}; }

void ConvertContour(const FT_Outline& o, int first, int last, TPolygonRecord& poly) {
  const int n = last - first + 1;
  auto tag = [&](int i) { return FT_CURVE_TAG(o.tags[first + i]); };
  auto pt = [&](int i) { return o.points[first + i]; };
  // The start must be a point on the curve: the first point, else the
  // last, else the midpoint between them.
  FT_Vector start;
  int begin = 0, end = n;
  if (tag(0) == FT_CURVE_TAG_ON) {
    start = pt(0);
    begin = 1;
  } else if (tag(n - 1) == FT_CURVE_TAG_ON) {
    start = pt(n - 1);
    end = n - 1;
  } else {
    start = {(pt(0).x + pt(n - 1).x) / 2, (pt(0).y + pt(n - 1).y) / 2};
  }
  poly.Start = Fixed(start);
  std::vector<FT_Vector> pending;  // off-curve points waiting for their end
  uint16_t pending_type = 0;
  auto add = [&](uint16_t type, const std::vector<TFixedPoint>& pts) {
    if (!poly.Curves.empty() && poly.Curves.back().Type == type && type == tprimLine) {
      poly.Curves.back().Points.insert(poly.Curves.back().Points.end(), pts.begin(), pts.end());
    } else {
      poly.Curves.push_back({type, pts});
    }
  };
  auto on_point = [&](const FT_Vector& p, bool closing) {
    if (pending.empty()) {
      if (!closing) add(tprimLine, {Fixed(p)});
      return;
    }
    std::vector<TFixedPoint> pts;
    for (const FT_Vector& q : pending) pts.push_back(Fixed(q));
    pts.push_back(Fixed(p));
    add(pending_type, pts);
    pending.clear();
  };
  for (int i = begin; i < end; ++i) {
    const int t = tag(i);
    if (t == FT_CURVE_TAG_ON) {
      on_point(pt(i), false);
    } else {
      const uint16_t type = t == FT_CURVE_TAG_CUBIC ? tprimCSpline : tprimQSpline;
      if (!pending.empty() && pending_type != type) pending.clear();  // malformed mix: drop it
      pending_type = type;
      pending.push_back(pt(i));
      if (type == tprimCSpline && pending.size() > 2) pending.erase(pending.begin());
    }
  }
  // Back to the start: a pending curve ends there; a straight closing edge
  // is implied by the polygon.
  on_point(start, true);
}

}  // namespace

TTextMetricsRec GetTextMetrics(TPFont* font) {
  TFaceEntry* f = font->Face();
  TTextMetricsRec m;
  m.Ascent = Scale(f, f->win_ascent, font->Em());
  m.Descent = Scale(f, f->win_descent, font->Em());
  m.Height = m.Ascent + m.Descent;
  m.InternalLeading = std::max(0, m.Height - font->Em());
  m.Weight = font->Request().Weight >= 700 ? 700 : 400;
  m.PitchAndFamily = uint8_t((f->fixed_pitch ? 0 : 1) | 2 | 4);
  {
    std::lock_guard<std::mutex> hold(f->lock);
    f->SetSize(font->Em());
    const FT_UInt x = FT_Get_Char_Index(f->ft, 'x');
    m.AveCharWidth = x && LoadUnhinted(f, uint16_t(x)) ? Round26(f->ft->glyph->metrics.horiAdvance) : font->Em() / 2;
  }
  return m;
}

bool GetOutlineTextMetrics(TPFont* font, TOutlineMetricsRec& out) {
  const TFaceEntry* f = font->Face();
  out.UnderscorePosition = Scale(f, f->underline_position, font->Em());
  out.UnderscoreSize = std::max(1, Scale(f, f->underline_thickness, font->Em()));
  out.StrikeoutPosition = Scale(f, f->strikeout_position, font->Em());
  out.StrikeoutSize = std::max(1, Scale(f, f->strikeout_size, font->Em()));
  return true;
}

bool GetCharABCWidthsI(TPFont* font, const uint16_t* glyphs, int32_t count, TABC* out) {
  if (count < 0 || (count > 0 && (!glyphs || !out))) return false;
  TFaceEntry* f = font->Face();
  std::lock_guard<std::mutex> hold(f->lock);
  f->SetSize(font->Em());
  for (int32_t i = 0; i < count; ++i) out[i] = AbcLocked(f, glyphs[i]);
  return true;
}

TABC GetCharABCWidths(TPFont* font, char32_t ch) {
  TFaceEntry* f = font->Face();
  std::lock_guard<std::mutex> hold(f->lock);
  f->SetSize(font->Em());
  return AbcLocked(f, uint16_t(FT_Get_Char_Index(f->ft, ch)));
}

void GetGlyphIndices(TPFont* font, std::u16string_view text, uint16_t* out) {
  TFaceEntry* f = font->Face();
  std::lock_guard<std::mutex> hold(f->lock);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    const bool pair = c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
    if (pair) c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    const FT_UInt g = FT_Get_Char_Index(f->ft, c);
    out[i] = g && g < 0xFFFF ? uint16_t(g) : 0xFFFF;
    if (pair) out[++i] = 0xFFFF;
  }
}

bool GetFontUnicodeRanges(TPFont* font, std::vector<TUnicodeRange>& out) {
  TFaceEntry* f = font->Face();
  std::lock_guard<std::mutex> hold(f->lock);
  if (!f->ranges_built) {
    FT_UInt gi = 0;
    FT_ULong c = FT_Get_First_Char(f->ft, &gi);
    while (gi != 0 && c < 0x10000) {
      if (!f->ranges.empty() && f->ranges.back().First + f->ranges.back().Count == c && f->ranges.back().Count < 0xFFFF)
        ++f->ranges.back().Count;
      else
        f->ranges.push_back({char16_t(c), 1});
      c = FT_Get_Next_Char(f->ft, c, &gi);
    }
    f->ranges_built = true;
  }
  out = f->ranges;
  return true;
}

bool GetGlyphOutline(TPFont* font, uint16_t glyph, std::vector<TPolygonRecord>& out) {
  out.clear();
  TFaceEntry* f = font->Face();
  std::lock_guard<std::mutex> hold(f->lock);
  f->SetSize(font->Em());
  if (!LoadUnhinted(f, glyph) || f->ft->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  const FT_Outline& o = f->ft->glyph->outline;
  int first = 0;
  for (int c = 0; c < o.n_contours; ++c) {
    const int last = o.contours[c];
    if (last < first || last >= o.n_points) break;
    if (last > first) {
      TPolygonRecord poly;
      ConvertContour(o, first, last, poly);
      out.push_back(std::move(poly));
    }
    first = last + 1;
  }
  return true;
}

}  // namespace kav::ptext
