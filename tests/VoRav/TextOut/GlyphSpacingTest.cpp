// A show's text is laid out once and drawn at whatever size it is shown at:
// its letters must stand where HarfBuzz places them at that size. Compared
// here: the left edge of each glyph's outline as the text producer draws it
// (pen position and outline of the laid-out text, times the drawing scale)
// against hb-shape's pen positions at the drawn size plus the same glyph's
// unscaled outline read at that size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../platform/text/HbShapeRun.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"
#include "VoRav/Win32/Text/winFontUtils.h"
#include "VoRav/vxUTF8.h"
#include "platform/text/PlatformText.h"

namespace kav {
namespace {

struct THbGlyph {
  uint32_t glyph = 0;
  double x = 0;  // pen position plus offset, in pixels at the shaped size
};

// hb-shape at 64 times the pixel size: positions in 1/64 pixel.
std::vector<THbGlyph> HbPositions(const std::string& file, int32_t index, int32_t em, const std::string& text) {
  std::vector<THbGlyph> out;
  const std::string s = test::RunHbShape(file, index, em, text);
  double pen = 0;
  size_t from = 0;
  while (from <= s.size()) {
    size_t bar = s.find('|', from);
    if (bar == std::string::npos) bar = s.size();
    const std::string item = s.substr(from, bar - from);
    from = bar + 1;
    if (item.empty()) break;
    THbGlyph g;
    g.glyph = uint32_t(std::stoul(item));
    double dx = 0;
    if (const size_t at = item.find('@'); at != std::string::npos) dx = std::stod(item.substr(at + 1));
    g.x = (pen + dx) / 64.0;
    pen += std::stod(item.substr(item.find('+') + 1));
    out.push_back(g);
  }
  return out;
}

double MinX(const TPointArray& path, int32_t first) {
  double m = 1e30;
  for (int32_t i = first; i < path.Count(); ++i) m = std::min(m, double(path[i].x));
  return m;
}

// The outline's left edge (x of its leftmost point) at `em` pixels.
double OutlineLeft(ptext::TPFont* font, uint16_t glyph) {
  std::vector<ptext::TPolygonRecord> polys;
  if (!ptext::GetGlyphOutline(font, glyph, polys)) return 1e30;
  double m = 1e30;
  for (const ptext::TPolygonRecord& p : polys) {
    m = std::min(m, p.Start.X / 65536.0);
    for (const ptext::TCurveRecord& c : p.Curves)
      for (const ptext::TFixedPoint& q : c.Points) m = std::min(m, q.X / 65536.0);
  }
  return m;
}

TEST(GlyphSpacing, LettersStandWhereTheShaperPlacesThemAtTheDrawnSize) {
  if (std::system("hb-shape --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "hb-shape is not installed";
  InstallTextServices();
  const std::u16string text = u"First pictures of the sea";
  // Letters 109 pixels high (the em), as a caption on a full-HD screen.
  const int32_t drawn_em = 109;
  for (const char16_t* face : {u"DejaVu Sans", u"DejaVu Serif", u"Noto Sans"}) {
    TTextParams params;
    params.FaceName = face;
    Ref<TCachedVectorText> vt = BuildVectText(VectTxtKeyFromTextKey(TextParamsKey(params, {text})));
    ASSERT_TRUE(vt);
    const int32_t n = vt->GetGlyphCount(0);
    ASSERT_GT(n, 10);
    TGlyphRecord first;
    vt->GetGlyphInfo(0, 0, first);
    // The layout's em in pixels, and the scale that draws it at drawn_em.
    ptext::PFont layout_font = CreateFontFromDesc(face, ptext::kScreenPixelsPerInch, 0, first.FontSize);
    const double layout_em = layout_font->Em();
    ASSERT_GT(layout_em, 0);
    const double scale = drawn_em / layout_em;
    ptext::PFont drawn_font = ptext::CreateFont({face, -drawn_em});
    int32_t index = 0;
    const std::string file = ptext::FontFilePath(drawn_font.get(), &index);
    const std::vector<THbGlyph> hb = HbPositions(file, index, drawn_em, UTF8Encode(text));
    ASSERT_EQ(int32_t(hb.size()), n) << UTF8Encode(face);
    double worst = 0, sum = 0;
    int32_t counted = 0, worst_at = -1;
    double origin_drawn = 0, origin_hb = 0;
    for (int32_t i = 0; i < n; ++i) {
      TGlyphRecord g;
      vt->GetGlyphInfo(0, i, g);
      ASSERT_EQ(uint32_t(g.GlyphIndex), hb[size_t(i)].glyph) << UTF8Encode(face) << " glyph " << i;
      TPointArray path;
      vt->OutlineGlyph(0, i, path);
      if (path.Count() == 0) continue;  // a blank
      // As the producer draws it: the glyph's origin at its pen (and
      // offset) times the scale, its outline's points times the scale.
      const double drawn = (g.PenX + g.OffsetX) * scale + MinX(path, 0) * scale;
      const double shaped = hb[size_t(i)].x + OutlineLeft(drawn_font.get(), g.GlyphIndex);
      if (counted == 0) {
        origin_drawn = drawn;
        origin_hb = shaped;
      }
      const double off = std::fabs((drawn - origin_drawn) - (shaped - origin_hb));
      if (off > worst) {
        worst = off;
        worst_at = i;
      }
      sum += off;
      ++counted;
    }
    ASSERT_GT(counted, 10);
    EXPECT_LE(worst, 1.0) << UTF8Encode(face) << ": glyph " << worst_at << " is " << worst
                          << " pixels from the shaper's place (mean " << sum / counted << ")";
  }
}

}  // namespace
}  // namespace kav
