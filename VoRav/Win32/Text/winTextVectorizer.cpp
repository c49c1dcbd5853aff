#include "VoRav/Win32/Text/winTextVectorizer.h"

#include <algorithm>

#include "VoRav/Win32/Text/winFontUtils.h"
#include "VoRav/Win32/Text/winTextElement.h"
#include "VoRav/wpExceptions.h"
#include "platform/text/PlatformText.h"

namespace kav {

bool g_FitOutlinesToABC = true;

namespace {

float ToFloat(int32_t fixed) { return float(double(fixed) / 65536.0); }

bool AcceptOutlineRun(void* vectorizer, TWinTextElement*, const TFontDesc& font) {
  return static_cast<TWinVectorizer*>(vectorizer)->IsOutlineFont(font);
}

Ref<TVectorizer> MakeWinVectorizer() { return MakeRef<TWinVectorizer>(); }

}  // namespace

Ref<TTextElementEx> TWinVectorizer::CreateTextElement(const TFontDesc& font, const std::u16string& text) {
  Ref<TWinTextElement> e = MakeRef<TWinTextElement>(font, tdNone);
  const TRunFilter previous = e->RunFilter();
  e->SetRunFilter(TRunFilter::FromFunction(&AcceptOutlineRun, this));
  e->InsertText(0, text, int32_t(text.size()), 0);
  e->SetRunFilter(previous);
  return e;
}

void TWinVectorizer::GetGlyphOutline(const TGlyphRecord& glyph, TPointArray& path) {
  std::u16string face;
  uint8_t style = 0;
  ParseGlyphFontKey(glyph.FontKey, face, style);
  ptext::PFont font = CreateFontFromDesc(face, ptext::kScreenPixelsPerInch, style, glyph.FontSize);
  std::vector<ptext::TPolygonRecord> polys;
  if (!ptext::GetGlyphOutline(font.get(), glyph.GlyphIndex, polys)) return;
  const int32_t first = path.Count();
  for (const ptext::TPolygonRecord& poly : polys) {
    KAV_ASSERT_MSG(poly.Type == 24, "GetGlyphOutline: don't exist HeaderType");
    path.Add(ToFloat(poly.Start.X), ToFloat(poly.Start.Y), kPathMove);
    for (const ptext::TCurveRecord& c : poly.Curves) {
      const auto& p = c.Points;
      if (c.Type == ptext::tprimLine) {
        for (const ptext::TFixedPoint& q : p) path.Add(ToFloat(q.X), ToFloat(q.Y), kPathLine);
      } else if (c.Type == ptext::tprimQSpline && p.size() >= 2) {
        // Each control point but the last is followed by the midpoint to the
        // next; the last control point is followed by the end point.
        for (size_t i = 0; i + 1 < p.size(); ++i) {
          path.Add(ToFloat(p[i].X), ToFloat(p[i].Y), kPathQuadratic);
          if (i + 2 < p.size())
            path.Add(ToFloat(p[i].X) / 2 + ToFloat(p[i + 1].X) / 2, ToFloat(p[i].Y) / 2 + ToFloat(p[i + 1].Y) / 2,
                     kPathQuadratic);
          else
            path.Add(ToFloat(p[i + 1].X), ToFloat(p[i + 1].Y), kPathQuadratic);
        }
      } else if (c.Type == ptext::tprimCSpline) {
        for (size_t i = 0; i + 2 < p.size(); i += 3)
          for (size_t k = 0; k < 3; ++k) path.Add(ToFloat(p[i + k].X), ToFloat(p[i + k].Y), kPathCubic);
      }
    }
  }
  if (!g_FitOutlinesToABC || path.Count() == first) return;
  ptext::TABC abc;
  if (!ptext::GetCharABCWidthsI(font.get(), &glyph.GlyphIndex, 1, &abc)) return;
  float min_x = path[first].x, max_x = path[first].x;
  for (int32_t i = first; i < path.Count(); ++i) {
    min_x = std::min(min_x, path[i].x);
    max_x = std::max(max_x, path[i].x);
  }
  const float a = float(abc.A), b = float(abc.B);
  if (a - min_x > 0 && min_x < max_x) {
    const float shift = a - min_x;
    for (int32_t i = first; i < path.Count(); ++i) path[i].x += shift;
    min_x += shift;
    max_x += shift;
  }
  if (max_x - a - b > 0 && min_x < max_x) {
    const float k = ((a + b) - min_x) / (max_x - min_x);
    for (int32_t i = first; i < path.Count(); ++i) path[i].x = min_x + (path[i].x - min_x) * k;
  }
}

void TWinVectorizer::GetTextMetrics(const TFontDesc& font, TFontMetricsRec& out) {
  ptext::PFont f = CreateFontHandle(font);
  const ptext::TTextMetricsRec m = ptext::GetTextMetrics(f.get());
  out.Ascent = m.Ascent;
  out.Descent = m.Descent;
  ptext::TOutlineMetricsRec om;
  if (ptext::GetOutlineTextMetrics(f.get(), om)) {
    out.UnderlinePosition = float(om.UnderscorePosition);
    out.UnderlineThickness = float(om.UnderscoreSize);
    out.StrikeOutPosition = float(om.StrikeoutPosition);
    out.StrikeOutThickness = float(om.StrikeoutSize);
  } else {
    out.UnderlinePosition = -float(m.Descent) * 0.5f;
    out.UnderlineThickness = float(m.Descent) * 0.25f;
    out.StrikeOutPosition = float(m.Ascent - m.Descent) * 0.5f;
    out.StrikeOutThickness = out.UnderlineThickness;
  }
}

bool TWinVectorizer::IsOutlineFont(const TFontDesc& font) {
  const uint8_t pf = ptext::GetTextMetrics(CreateFontHandle(font).get()).PitchAndFamily;
  return (pf & 4) || ((pf & 8) && (pf & 2));
}

void InstallWinVectorizer() { SetVectorizerFactory(&MakeWinVectorizer); }

}  // namespace kav
