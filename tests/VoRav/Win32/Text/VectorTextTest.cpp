#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "GrayPng.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Text/vxGlyphCache.h"
#include "VoRav/Text/vxTextProducer2.h"
#include "VoRav/Win32/Text/winTextVectorizer.h"

namespace kav {
namespace {

class VectorText : public ::testing::Test {
 protected:
  void SetUp() override { InstallWinVectorizer(); }
};

TFontDesc Font(const char16_t* face, float size, uint8_t style = 0) {
  TFontDesc d;
  FontDescSetAll(d, face, size, style, TRGBTriple{255, 255, 255}, TRGBTriple{}, true);
  return d;
}

// The produced picture's level 0 as 32-bit pixels.
Ref<TDirectBitmap> Pixels(TImage* image) {
  Ref<TBitmap> b = image->Store()->GetMipLevel(0, PixelFormatByName("A8R8G8B8"), &TDirectBitmap::kClass);
  return Ref<TDirectBitmap>(static_cast<TDirectBitmap*>(b.get()));
}

test::TGrayImage Alpha(TDirectBitmap* b) {
  test::TGrayImage g{b->Width(), b->Height(), {}};
  for (int32_t y = 0; y < b->Height(); ++y)
    for (int32_t x = 0; x < b->Width(); ++x)
      g.Pixels.push_back(uint8_t(*reinterpret_cast<const uint32_t*>(b->PixelAddress(x, y)) >> 24));
  return g;
}

TEST_F(VectorText, OutlinesAreFittedIntoTheBlackBox) {
  Ref<TVectorizer> v = CreateVectorizer();
  ASSERT_TRUE(v);
  Ref<TTextElementEx> e = v->CreateTextElement(Font(u"Liberation Serif", 36, fsItalic), u"f O");
  ASSERT_EQ(e->GlyphCount(), 3);
  for (int32_t i : {0, 2}) {
    TGlyphRecord g;
    e->GetGlyph(i, g);
    TPointArray path;
    v->GetGlyphOutline(g, path);
    ASSERT_FALSE(path.Empty());
    EXPECT_EQ(path[0].Command, kPathMove);
    float min_x = 1e9f, max_x = -1e9f;
    int quadratic = 0;
    for (int32_t k = 0; k < path.Count(); ++k) {
      min_x = std::min(min_x, path[k].x);
      max_x = std::max(max_x, path[k].x);
      quadratic += path[k].Command == kPathQuadratic;
    }
    EXPECT_EQ(quadratic % 2, 0);  // control point and end point in pairs
    EXPECT_GE(min_x, float(g.A) - 0.01f);
    EXPECT_LE(max_x, float(g.A + g.B) + 0.01f);
  }
  TGlyphRecord space;
  e->GetGlyph(1, space);
  TPointArray path;
  v->GetGlyphOutline(space, path);
  EXPECT_TRUE(path.Empty());
  TFontMetricsRec m;
  v->GetTextMetrics(Font(u"Liberation Serif", 36), m);
  EXPECT_GT(m.Ascent, 30);
  EXPECT_LT(m.UnderlinePosition, 0);
  EXPECT_GT(m.StrikeOutPosition, 0);
  EXPECT_TRUE(v->IsOutlineFont(Font(u"DejaVu Sans", 10)));
}

// A live text reads a glyph's outline from its font once and hands out the
// same points wherever the glyph recurs; glyphs of another font (a
// substituted run) keep their own outlines under the same index.
TEST_F(VectorText, LiveTextOutlinesAreTheVectorizersOwn) {
  Ref<TVectorizer> v = CreateVectorizer();
  ASSERT_TRUE(v);
  // The Hebrew face has no Latin letters: those come from a fallback face,
  // whose glyph indices overlap the Hebrew face's.
  std::u16string hebrew, latin;
  for (char16_t c = 0x05D0; c <= 0x05EA; ++c) hebrew += c;
  for (char16_t c = u'A'; c <= u'Z'; ++c) latin += c, latin += char16_t(c + 32);
  Ref<TVectorText> t = NewSimpleVectorText(Font(u"Noto Sans Hebrew", 30), {hebrew + u" " + latin, latin + hebrew, u"ab"});
  ASSERT_TRUE(t);
  std::map<uint16_t, std::set<std::u16string>> keys_of_index;
  std::set<std::pair<std::u16string, float>> fonts;
  int32_t compared = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (int32_t line = 0; line < t->LineCount(); ++line)
      for (int32_t g = 0; g < t->GetGlyphCount(line); ++g) {
        TGlyphRecord r;
        t->GetGlyphInfo(line, g, r);
        fonts.insert({r.FontKey, r.FontSize});
        keys_of_index[r.GlyphIndex].insert(r.FontKey);
        TPointArray want, got;
        want.Add(1, 2, kPathMove);
        got.Add(1, 2, kPathMove);
        v->GetGlyphOutline(r, want);
        t->OutlineGlyph(line, g, got);
        ASSERT_EQ(got.Count(), want.Count()) << line << "," << g;
        for (int32_t k = 0; k < got.Count(); ++k) {
          EXPECT_EQ(got[k].x, want[k].x);
          EXPECT_EQ(got[k].y, want[k].y);
          EXPECT_EQ(got[k].Command, want[k].Command);
        }
        ++compared;
      }
  EXPECT_GT(compared, 200);
  EXPECT_GE(fonts.size(), 2u);
  EXPECT_TRUE(std::any_of(keys_of_index.begin(), keys_of_index.end(), [](const auto& k) { return k.second.size() > 1; }));
}

TEST_F(VectorText, BoundsSizeAndAlignment) {
  Ref<TVectorText> t = NewSimpleVectorText(Font(u"Liberation Sans", 20), {u"Wide line here", u"i", u""});
  ASSERT_TRUE(t);
  Ref<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetSource(t.get(), false);
  TRect r;
  p->GetBoundsRect(r, 0, 1);
  TSize s;
  p->GetPixelSize(s, 0, 1);
  EXPECT_GE(r.Left, 0);
  EXPECT_EQ(s.cy, r.Bottom - r.Top + r.Top + 2 + 0);  // no line reaches past the font's ascent or descent
  EXPECT_EQ(r.Bottom - r.Top, int32_t(std::nearbyint(3 * p->LineHeight(1))));
  EXPECT_GE(s.cx, r.Right + 2);
  // Line spacing 200 adds a whole line between lines.
  TSize spaced;
  p->GetPixelSize(spaced, 200, 1);
  EXPECT_NEAR(spaced.cy - s.cy, 2 * p->LineHeight(1), 1);
  // The empty line reports the font's ascent and descent and no width.
  TLineBounds b;
  t->GetLineBounds(2, b);
  EXPECT_EQ(b.Ascent, t->FontMetrics().Ascent);
  EXPECT_EQ(b.Advance, 0);
  EXPECT_EQ(b.InkWidth, 0);
  // Centre and right alignment: the narrow line's ink moves right.
  auto ink_x = [&](uint8_t alignment) {
    p->SetAlignment(alignment);
    Ref<TImage> img = p->ProduceText(0xFFFFFFFF, kTransparentColor, 1);
    Ref<TDirectBitmap> px = Pixels(img.get());
    const int32_t row = int32_t(std::lround(1.5 * p->LineHeight(1)));
    for (int32_t x = 0; x < px->Width(); ++x)
      if (*reinterpret_cast<const uint32_t*>(px->PixelAddress(x, row)) >> 24) return x;
    return -1;
  };
  const int32_t left = ink_x(0), centre = ink_x(1), right = ink_x(2);
  EXPECT_LT(left, centre);
  EXPECT_LT(centre, right);
  EXPECT_NEAR(centre - left, (right - left) / 2, 2);
}

TEST_F(VectorText, BackgroundAbortAndCap) {
  Ref<TVectorText> t = NewSimpleVectorText(Font(u"DejaVu Sans", 12), {u"one", u"two"});
  Ref<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetSource(t.get(), false);
  // An opaque background: every pixel opaque.
  Ref<TDirectBitmap> px = Pixels(p->ProduceText(0xFFFFFFFF, 0xFF204060, 1).get());
  for (int32_t y = 0; y < px->Height(); ++y)
    for (int32_t x = 0; x < px->Width(); ++x)
      ASSERT_EQ(*reinterpret_cast<const uint32_t*>(px->PixelAddress(x, y)) >> 24, 255u);
  EXPECT_EQ(*reinterpret_cast<const uint32_t*>(px->PixelAddress(0, 0)), 0xFF204060u);
  // Stopped after the first line: the lower half stays empty.
  int lines = 0;
  p->SetAbortCallback(TTextProducer::TAbortProc::FromFunction(
      [](void* n) { return ++*static_cast<int*>(n) >= 1; }, &lines));
  px = Pixels(p->ProduceText(0xFFFFFFFF, kTransparentColor, 1).get());
  EXPECT_EQ(lines, 1);
  int lower = 0;
  for (int32_t y = px->Height() / 2 + 2; y < px->Height(); ++y)
    for (int32_t x = 0; x < px->Width(); ++x) lower += (*reinterpret_cast<const uint32_t*>(px->PixelAddress(x, y)) >> 24) != 0;
  EXPECT_EQ(lower, 0);
  p->SetAbortCallback({});
  // A scale far too large gives a bitmap within the limits.
  TSize s;
  p->GetPixelSize(s, 0, 5e6f);
  EXPECT_TRUE(BitmapSizeAllowed(s.cx, s.cy, 4));
  p->GetPixelSize(s, 0, std::nanf(""));
  EXPECT_GT(s.cx, 1);
}

TEST_F(VectorText, CachedTextDrawsLikeTheLiveText) {
  const TFontDesc f = Font(u"Noto Sans", 16);
  const std::vector<std::u16string> lines = {u"Cached \u05E9\u05DC\u05D5\u05DD", u"\u0928\u092E\u0938\u094D\u0924\u0947"};
  Ref<TCachedVectorText> cached = BuildCachedVectorText(f, lines);
  ASSERT_TRUE(cached);
  Ref<TVectorText> live = NewSimpleVectorText(f, lines);
  Ref<TTextProducer> a = MakeRef<TTextProducer>(), b = MakeRef<TTextProducer>();
  a->SetSource(cached.get(), false);
  b->SetSource(live.get(), false);
  Ref<TDirectBitmap> pa = Pixels(a->ProduceText(0xFFFFFFFF, kTransparentColor, 1.5f).get());
  Ref<TDirectBitmap> pb = Pixels(b->ProduceText(0xFFFFFFFF, kTransparentColor, 1.5f).get());
  ASSERT_EQ(pa->Width(), pb->Width());
  ASSERT_EQ(pa->Height(), pb->Height());
  for (int32_t y = 0; y < pa->Height(); ++y)
    ASSERT_EQ(std::memcmp(pa->Row(y), pb->Row(y), size_t(pa->Width()) * 4), 0) << "row " << y;
}

// Glyphs blended from their cached masks look like glyphs drawn one by one:
// at whole-pixel and at fractional positions, in a translucent colour, over
// a background, with repeated letters overlapping (negative spacing through
// a tight italic face).
TEST_F(VectorText, GlyphMasksDrawLikeDirectOutlines) {
  const std::vector<std::u16string> lines = {u"Mississippi moose goose 1111", u"wavy AVAVAV fffiii", u"ooo ooo ooo"};
  for (const uint8_t style : {uint8_t(0), uint8_t(fsItalic | fsUnderline)}) {
    Ref<TVectorText> t = NewSimpleVectorText(Font(u"Times New Roman", 21, style), lines);
    // One producer for all scales: its masks must be told apart by scale.
    Ref<TTextProducer> masked = MakeRef<TTextProducer>();
    masked->SetSource(t.get(), false);
    for (const float scale : {1.0f, 1.37f, 0.61f, 1.0f}) {
      SCOPED_TRACE(testing::Message() << "scale " << scale << " style " << int(style));
      Ref<TTextProducer> direct = MakeRef<TTextProducer>();
      direct->SetSource(t.get(), false);
      direct->SetGlyphMasks(false);
      for (int pass = 0; pass < 2; ++pass) {  // the second pass draws from the filled cache
        const TColor32 color = pass == 0 ? 0xFFFFFFFFu : 0x80FF8040u;
        const TColor32 back = pass == 0 ? kTransparentColor : 0xFF102030u;
        Ref<TDirectBitmap> a = Pixels(masked->Produce(color, back, u"", TPoint{3, 2}, false, style != 0, scale).get());
        Ref<TDirectBitmap> b = Pixels(direct->Produce(color, back, u"", TPoint{3, 2}, false, style != 0, scale).get());
        ASSERT_EQ(a->Width(), b->Width());
        ASSERT_EQ(a->Height(), b->Height());
        int differ = 0, inked = 0;
        for (int32_t y = 0; y < a->Height(); ++y)
          for (int32_t x = 0; x < a->Width(); ++x) {
            const uint32_t pa = *reinterpret_cast<const uint32_t*>(a->PixelAddress(x, y));
            const uint32_t pb = *reinterpret_cast<const uint32_t*>(b->PixelAddress(x, y));
            inked += pb != *reinterpret_cast<const uint32_t*>(b->PixelAddress(0, 0));
            if (pa == pb) continue;
            ++differ;
            // A rounding tie one sub-pixel off moves a pixel's coverage by
            // 16 of 256 at most.
            for (int shift = 0; shift < 32; shift += 8)
              ASSERT_LE(std::abs(int((pa >> shift) & 0xFF) - int((pb >> shift) & 0xFF)), 17) << x << "," << y;
          }
        EXPECT_GT(inked, 500);
        EXPECT_LE(differ, inked / 100 + 1);
      }
    }
  }
}

// Rendered texts against golden pictures checked by eye once. Set
// KAV_UPDATE_GOLDENS=1 to write them again.
TEST_F(VectorText, GoldenRenderings) {
  struct TCase {
    const char* name;
    const char16_t* face;
    std::vector<std::u16string> lines;
    uint8_t style;
    uint8_t alignment;
  };
  const TCase cases[] = {
      {"latin", u"Arial", {u"Office affine AVATAR", u"Text, centred"}, fsUnderline, 1},
      {"arabic_hebrew", u"Noto Sans", {u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645",
                                       u"\u05E9\u05DC\u05D5\u05DD 2024 \u05E2\u05D5\u05DC\u05DD"}, 0, 2},
      {"devanagari_thai", u"Arial", {u"\u0928\u092E\u0938\u094D\u0924\u0947 \u0926\u0941\u0928\u093F\u092F\u093E",
                                     u"\u0E2A\u0E27\u0E31\u0E2A\u0E14\u0E35"}, 0, 0},
      {"mixed", u"Times New Roman", {u"Tokyo \u6771\u4EAC e\u0301\u0323 \U0001D400 \u00C5"}, fsItalic | fsStrikeOut, 0},
  };
  const auto dir = std::filesystem::path(KAV_SOURCE_DIR) / "tests" / "data" / "text";
  const bool update = std::getenv("KAV_UPDATE_GOLDENS") != nullptr;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<TVectorText> t = NewSimpleVectorText(Font(c.face, 18, c.style), c.lines);
    Ref<TTextProducer> p = MakeRef<TTextProducer>();
    p->SetSource(t.get(), false);
    p->SetAlignment(c.alignment);
    Ref<TImage> img =
        p->Produce(0xFFFFFFFF, kTransparentColor, u"golden", TPoint{}, c.style & fsStrikeOut, c.style & fsUnderline, 1);
    const test::TGrayImage got = Alpha(Pixels(img.get()).get());
    const std::string file = (dir / (std::string(c.name) + ".png")).string();
    if (update) {
      std::filesystem::create_directories(dir);
      ASSERT_TRUE(test::WriteGrayPng(file, got));
      continue;
    }
    test::TGrayImage want;
    ASSERT_TRUE(test::ReadGrayPng(file, want)) << file;
    ASSERT_EQ(got.Width, want.Width);
    ASSERT_EQ(got.Height, want.Height);
    // Font or FreeType updates may move a few edge pixels.
    int far = 0;
    for (size_t i = 0; i < got.Pixels.size(); ++i) far += std::abs(int(got.Pixels[i]) - int(want.Pixels[i])) > 24;
    EXPECT_LE(far, int(got.Pixels.size() / 200));
  }
}

}  // namespace
}  // namespace kav
