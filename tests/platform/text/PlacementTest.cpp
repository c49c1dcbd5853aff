// Placement against outside references: the Unicode bidirectional
// conformance file, and HarfBuzz's own hb-shape on the same font file.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "HbShapeRun.h"
#include "platform/text/PTextFaces.h"
#include "platform/text/PlatformText.h"

namespace kav::ptext {
namespace {

std::u16string FromCodePoints(const std::string& field) {
  std::u16string s;
  std::istringstream in(field);
  std::string hex;
  while (in >> hex) {
    const char32_t c = char32_t(std::stoul(hex, nullptr, 16));
    if (c >= 0x10000) {
      s += char16_t(0xD800 + ((c - 0x10000) >> 10));
      s += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      s += char16_t(c);
    }
  }
  return s;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == sep) parts.push_back(cur), cur.clear();
    else cur += c;
  }
  parts.push_back(cur);
  return parts;
}

// Every line with a left-to-right or right-to-left paragraph: resolved
// levels and visual order of the characters the algorithm keeps.
TEST(Placement, BidiCharacterConformance) {
  std::ifstream in("/usr/share/unicode/BidiCharacterTest.txt");
  if (!in) GTEST_SKIP() << "unicode-data is not installed";
  PFont font = CreateFont({u"DejaVu Sans", -16});
  std::string line;
  int checked = 0, failed = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto f = Split(line, ';');
    if (f.size() < 5 || (f[1] != "0" && f[1] != "1")) continue;
    // Code points, not units: every test character lies in the basic plane
    // except a few, which count as one position each.
    const std::u16string text = FromCodePoints(f[0]);
    std::vector<int32_t> unit_of_cp;
    for (size_t u = 0; u < text.size(); ++u) {
      unit_of_cp.push_back(int32_t(u));
      if (text[u] >= 0xD800 && text[u] < 0xDC00) ++u;
    }
    TPlacement p;
    ASSERT_TRUE(GetCharacterPlacement(font.get(), text, gcpReorder, p, f[1] == "1" ? 1 : 0));
    std::istringstream lv(f[3]);
    std::string level;
    std::vector<bool> kept;
    bool ok = true;
    for (size_t cp = 0; lv >> level; ++cp) {
      kept.push_back(level != "x");
      if (level != "x" && cp < unit_of_cp.size() && p.Levels[unit_of_cp[cp]] != std::stoi(level)) ok = false;
    }
    std::vector<int32_t> cp_of_unit(text.size(), -1);
    for (size_t cp = 0; cp < unit_of_cp.size(); ++cp) cp_of_unit[unit_of_cp[cp]] = int32_t(cp);
    std::string order;
    for (int32_t u : p.VisualToLogical) {
      const int32_t cp = cp_of_unit[u];
      if (cp < 0 || size_t(cp) >= kept.size() || !kept[cp]) continue;
      if (!order.empty()) order += ' ';
      order += std::to_string(cp);
    }
    std::string expected = f[4];
    while (!expected.empty() && expected.back() == ' ') expected.pop_back();
    while (!expected.empty() && expected.front() == ' ') expected.erase(0, 1);
    if (order != expected) ok = false;
    ++checked;
    if (!ok && ++failed <= 5) ADD_FAILURE() << "line: " << line << "\n visual: " << order;
  }
  EXPECT_GT(checked, 50000);
  EXPECT_EQ(failed, 0);
}

struct TShaped {
  std::vector<uint32_t> glyphs;
  std::vector<int32_t> advances;
};

// hb-shape at 64 times the pixel size gives advances in 1/64 pixel, which
// round to the whole pixels placement reports.
TShaped HbShape(const std::string& file, int32_t index, int32_t em, const std::u16string& text) {
  TShaped r;
  const std::string out = test::RunHbShape(file, index, em, ToUtf8(text));
  if (out.empty()) return r;
  for (const std::string& item : Split(out, '|')) {
    const size_t plus = item.find('+');
    r.glyphs.push_back(uint32_t(std::stoul(item.substr(0, item.find_first_of("@+")))));
    r.advances.push_back(int32_t(std::lround(std::stod(item.substr(plus + 1)) / 64.0)));
  }
  return r;
}

TEST(Placement, GlyphsAndAdvancesEqualHarfBuzz) {
  if (std::system("hb-shape --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "hb-shape is not installed";
  struct TCase {
    const char16_t* face;
    std::u16string text;
  };
  const TCase cases[] = {
      {u"Noto Sans", u"office affine AVATAR To"},                          // ligatures and kerning
      {u"Noto Sans Arabic", u"\u0645\u0631\u062D\u0628\u0627 \u0644\u0627"},  // joining forms, lam-alef
      {u"Noto Sans Hebrew", u"\u05E9\u05DC\u05D5\u05DD 123 \u05E2\u05D5\u05DC\u05DD"},  // Hebrew with numbers
      {u"Noto Sans Devanagari", u"\u0928\u092E\u0938\u094D\u0924\u0947 \u0915\u093F"},  // conjuncts, matras
      {u"Noto Sans Thai", u"\u0E2A\u0E27\u0E31\u0E2A\u0E14\u0E35"},
      {u"Noto Sans CJK SC", u"\u4F60\u597D\u4E16\u754C"},
      {u"DejaVu Sans", u"e\u0301a\u0308o\u0323\u0302"},                   // combining marks
      {u"Noto Sans CJK SC", u"\U00020BB7\u91CE\u5BB6"},                    // outside the basic plane
  };
  for (const TCase& c : cases) {
    PFont font = CreateFont({c.face, -40});
    int32_t index = 0;
    const std::string file = FontFilePath(font.get(), &index);
    TPlacement p;
    ASSERT_TRUE(GetCharacterPlacement(font.get(), c.text, gcpReorder, p));
    // hb-shape takes the text in logical order as one run of its own
    // direction, which is what a line of one script gives.
    const TShaped hb = HbShape(file, index, 40, c.text);
    ASSERT_FALSE(hb.glyphs.empty()) << ToUtf8(c.text);
    std::vector<uint32_t> ours(p.Glyphs.begin(), p.Glyphs.end());
    EXPECT_EQ(ours, hb.glyphs) << ToUtf8(c.face) << ": " << ToUtf8(c.text);
    EXPECT_EQ(p.Dx, hb.advances) << ToUtf8(c.face) << ": " << ToUtf8(c.text);
  }
}

TEST(Placement, OrderClassesAndClusters) {
  PFont font = CreateFont({u"DejaVu Sans", -20});
  TPlacement p;
  // "ab" then two Hebrew letters: visual a b [bet alef].
  ASSERT_TRUE(GetCharacterPlacement(font.get(), u"ab\u05D0\u05D1", gcpReorder, p));
  ASSERT_EQ(p.GlyphCount, 4);
  EXPECT_EQ(p.Order, (std::vector<int32_t>{0, 1, 3, 2}));
  EXPECT_EQ(p.Class, (std::vector<uint8_t>{gcpLatin, gcpLatin, gcpRightToLeft, gcpRightToLeft}));
  // Without reordering the logical order stays.
  ASSERT_TRUE(GetCharacterPlacement(font.get(), u"ab\u05D0\u05D1", 0, p));
  EXPECT_EQ(p.Order, (std::vector<int32_t>{0, 1, 2, 3}));
  // A base and its combining mark form one cluster; a surrogate pair too.
  ASSERT_TRUE(GetCharacterPlacement(font.get(), u"e\u0301x\U0001F600", gcpReorder, p));
  EXPECT_EQ(p.Order[0], p.Order[1]);
  EXPECT_EQ(p.Order[3], p.Order[4]);
  EXPECT_NE(p.Order[2], p.Order[3]);
  // An empty text places nothing.
  ASSERT_TRUE(GetCharacterPlacement(font.get(), u"", gcpReorder, p));
  EXPECT_EQ(p.GlyphCount, 0);
}

// A piece of a line keeps the levels the whole line resolved: a blank at
// its end is not reset to the paragraph's level, and numbers inside
// right-to-left text keep their order.
TEST(Placement, PiecesOfALineKeepTheLineLevels) {
  PFont font = CreateFont({u"DejaVu Sans", -20});
  TPlacement line, piece;
  const std::u16string text = u"abc \u05E9\u05DC\u05D5\u05DD 123 def";
  ASSERT_TRUE(GetCharacterPlacement(font.get(), text, gcpReorder, line));
  EXPECT_EQ(line.Levels, (std::vector<uint8_t>{0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 0, 0, 0, 0}));
  // The Hebrew word and the blank after it: the blank goes to the left.
  const std::u16string_view word = std::u16string_view(text).substr(4, 5);
  ASSERT_TRUE(GetCharacterPlacementAtLevels(font.get(), word, &line.Levels[4], piece));
  EXPECT_EQ(piece.VisualToLogical, (std::vector<int32_t>{4, 3, 2, 1, 0}));
  EXPECT_EQ(piece.Levels, (std::vector<uint8_t>{1, 1, 1, 1, 1}));
  // Placed as a line of its own the blank would stay at the right.
  ASSERT_TRUE(GetCharacterPlacementAtLevels(font.get(), word, nullptr, piece));
  EXPECT_EQ(piece.VisualToLogical, (std::vector<int32_t>{3, 2, 1, 0, 4}));
  // Levels 1 1 2 2: the digits keep their order left of the letters.
  const uint8_t levels[] = {1, 1, 2, 2};
  ASSERT_TRUE(GetCharacterPlacementAtLevels(font.get(), u"\u05D0\u05D112", levels, piece));
  EXPECT_EQ(piece.VisualToLogical, (std::vector<int32_t>{2, 3, 1, 0}));
  ASSERT_EQ(piece.GlyphCount, 4);
  EXPECT_EQ(piece.Order, (std::vector<int32_t>{3, 2, 0, 1}));
}

TEST(PlatformFonts, WindowsNamesMetricsAndOutlines) {
  EXPECT_EQ(MapWindowsFace(u"Times New Roman"), u"Liberation Serif");
  EXPECT_TRUE(FontFamilyInstalled(u"Arial"));
  EXPECT_FALSE(FontFamilyInstalled(u"No Such Face At All"));
  PFont arial = CreateFont({u"Arial", -48});
  EXPECT_NE(FontFilePath(arial.get()).find("LiberationSans-Regular"), std::string::npos);
  PFont bold = CreateFont({u"Arial", -48, 700});
  EXPECT_NE(FontFilePath(bold.get()).find("LiberationSans-Bold"), std::string::npos);
  // A missing face still gives a font.
  PFont missing = CreateFont({u"No Such Face At All", -20});
  EXPECT_FALSE(FontFilePath(missing.get()).empty());
  // Liberation Sans: winAscent 1854, winDescent 434 of 2048 units.
  const TTextMetricsRec m = GetTextMetrics(arial.get());
  EXPECT_EQ(m.Ascent, 43);
  EXPECT_EQ(m.Descent, 10);
  EXPECT_EQ(m.Height, 53);
  EXPECT_EQ(m.PitchAndFamily & 1, 1);
  TOutlineMetricsRec om;
  ASSERT_TRUE(GetOutlineTextMetrics(arial.get(), om));
  EXPECT_LT(om.UnderscorePosition, 0);
  EXPECT_GE(om.UnderscoreSize, 1);
  EXPECT_GT(om.StrikeoutPosition, 0);
  // Glyph indices: the missing glyph marked.
  uint16_t idx[3];
  GetGlyphIndices(arial.get(), u"A\u4E00B", idx);
  EXPECT_NE(idx[0], 0xFFFF);
  EXPECT_EQ(idx[1], 0xFFFF);
  // ABC of "l": positive black box, advance = A + B + C.
  TABC abc;
  ASSERT_TRUE(GetCharABCWidthsI(arial.get(), &idx[0], 1, &abc));
  EXPECT_GT(abc.B, 20);
  // Outline of "O": two closed contours (outer and inner), y grows downward
  // so the top of the letter lies above the baseline at negative y.
  TPlacement p;
  ASSERT_TRUE(GetCharacterPlacement(arial.get(), u"O", gcpReorder, p));
  std::vector<TPolygonRecord> polys;
  ASSERT_TRUE(GetGlyphOutline(arial.get(), p.Glyphs[0], polys));
  ASSERT_EQ(polys.size(), 2u);
  int32_t min_y = 0;
  for (const TPolygonRecord& poly : polys)
    for (const TCurveRecord& c : poly.Curves)
      for (const TFixedPoint& pt : c.Points) min_y = std::min(min_y, pt.Y);
  EXPECT_LT(min_y, -30 * 65536);
  // Space: no polygons.
  ASSERT_TRUE(GetCharacterPlacement(arial.get(), u" ", gcpReorder, p));
  ASSERT_TRUE(GetGlyphOutline(arial.get(), p.Glyphs[0], polys));
  EXPECT_TRUE(polys.empty());
  // Coverage of the basic plane.
  std::vector<TUnicodeRange> ranges;
  ASSERT_TRUE(GetFontUnicodeRanges(arial.get(), ranges));
  bool has_a = false;
  for (const TUnicodeRange& r : ranges) has_a |= r.First <= u'a' && u'a' < r.First + r.Count;
  EXPECT_TRUE(has_a);
}

TEST(PlatformFonts, EnumerationAndCoverageLookup) {
  const auto families = EnumFontFamilies();
  bool dejavu = false;
  for (const auto& f : families) dejavu |= f.FaceName == u"DejaVu Sans";
  EXPECT_TRUE(dejavu);
  const std::u16string thai = FamilyCoveringChar(0x0E2A, false, false);
  ASSERT_FALSE(thai.empty());
  PFont font = CreateFont({thai, -20});
  uint16_t g;
  GetGlyphIndices(font.get(), u"\u0E2A", &g);
  EXPECT_NE(g, 0xFFFF);
}

TEST(PlatformTextOut, GlyphsLandInsideTheClip) {
  std::vector<uint8_t> pixels(64 * 32 * 4, 0);
  TTextTarget t{pixels.data(), 64, 32, 64 * 4};
  PFont font = CreateFont({u"DejaVu Sans", -24});
  TPlacement p;
  ASSERT_TRUE(GetCharacterPlacement(font.get(), u"HH", gcpReorder, p));
  ExtTextOutGlyphs(t, font.get(), 2, 24, 0, 0, 20, 32, p.Glyphs.data(), p.Dx.data(), nullptr, nullptr,
                   p.GlyphCount, 0xFFFFFFFF);
  int inked_left = 0, inked_right = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x)
      if (pixels[(y * 64 + x) * 4 + 3]) (x < 20 ? inked_left : inked_right)++;
  EXPECT_GT(inked_left, 20);
  EXPECT_EQ(inked_right, 0);
}

}  // namespace
}  // namespace kav::ptext
