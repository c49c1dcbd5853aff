#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "VoRav/Win32/Text/winFontSubstitute.h"
#include "VoRav/Win32/Text/winFontUtils.h"
#include "platform/text/PlatformText.h"

namespace kav {
namespace {

struct TRunLog {
  struct TEntry {
    int32_t start, count;
    bool covered;
    TFontDesc font;
  };
  std::vector<TEntry> runs;
  // Faces refused by the filter.
  std::u16string refuse;
  void Add(const std::u16string&, int32_t start, bool& accept, bool covered, const TFontDesc& font, int32_t count) {
    accept = refuse.empty() || font.FaceName != refuse;
    if (accept || !covered) runs.push_back({start, count, covered, font});
  }
  TRunCallback Callback() { return TRunCallback::Bind<&TRunLog::Add>(this); }
};

TFontDesc Font(const char16_t* face, float size = 20, uint8_t style = 0) {
  TFontDesc d;
  FontDescSetAll(d, face, size, style, TRGBTriple{}, TRGBTriple{}, true);
  return d;
}

// Every character is reported once, in order of the text within each run.
void ExpectCoversAll(const TRunLog& log, int32_t length) {
  std::vector<int> seen(size_t(length), 0);
  for (const auto& r : log.runs)
    for (int32_t i = r.start; i < r.start + r.count; ++i) seen[size_t(i)]++;
  for (int32_t i = 0; i < length; ++i) EXPECT_EQ(seen[size_t(i)], 1) << "character " << i;
}

bool FaceHas(const std::u16string& face, char16_t c) {
  std::vector<ptext::TUnicodeRange> ranges;
  ptext::GetFontUnicodeRanges(CreateFontHandle(Font(face.c_str())).get(), ranges);
  for (const auto& r : ranges)
    if (r.First <= c && c < r.First + r.Count) return true;
  return false;
}

TEST(FontSubstitute, FullyCoveredTextIsOneRunInTheChosenFont) {
  TRunLog log;
  const std::u16string text = u"Hello, world";
  FontReplacer()->Replace(text, 0, log.Callback(), Font(u"Arial"), int32_t(text.size()));
  ASSERT_EQ(log.runs.size(), 1u);
  EXPECT_TRUE(log.runs[0].covered);
  EXPECT_EQ(log.runs[0].font.FaceName, u"Arial");
  EXPECT_EQ(log.runs[0].font.Size, 20.0f);
  EXPECT_EQ(log.runs[0].count, int32_t(text.size()));
}

TEST(FontSubstitute, MixedScriptsFallBackToFacesThatHaveThem) {
  // Latin, Arabic, CJK, Thai and Devanagari in a Latin-only face.
  const std::u16string text =
      u"Sale \u0645\u0631\u062D\u0628\u0627 \u4F60\u597D \u0E2A\u0E27\u0E31\u0E2A \u0928\u092E\u0938\u094D\u0924\u0947!";
  TRunLog log;
  FontReplacer()->Replace(text, 0, log.Callback(), Font(u"Liberation Mono"), int32_t(text.size()));
  ExpectCoversAll(log, int32_t(text.size()));
  for (const auto& r : log.runs) {
    EXPECT_TRUE(r.covered) << "run at " << r.start;
    for (int32_t i = r.start; i < r.start + r.count; ++i) {
      const char16_t c = text[size_t(i)];
      if (c > u' ') {
        EXPECT_TRUE(FaceHas(r.font.FaceName, c)) << "U+" << std::hex << int(c) << " in run at " << r.start;
      }
    }
  }
}

TEST(FontSubstitute, SubstituteAscentMatchesTheChosenFont) {
  const std::u16string text = u"ab\u4F60";
  TRunLog log;
  const TFontDesc chosen = Font(u"Arial", 36);
  FontReplacer()->Replace(text, 0, log.Callback(), chosen, 3);
  ASSERT_EQ(log.runs.size(), 2u);
  const TTextMetrics want = GetTextMetricsOf(CreateFontHandle(chosen).get());
  const TTextMetrics got = GetTextMetricsOf(CreateFontHandle(log.runs[1].font).get());
  // One pixel past the largest height whose ascent fits.
  EXPECT_GT(got.Ascent, want.Ascent);
  EXPECT_LE(got.Ascent, want.Ascent + 3);
}

TEST(FontSubstitute, CombiningMarksAndSurrogatePairsStayWithTheirBase) {
  // Whatever face takes a base, its mark travels with it; a surrogate pair
  // is never cut.
  const std::u16string text = u"a\u0301\u4F60\u0301\U00020BB7z";
  TRunLog log;
  FontReplacer()->Replace(text, 0, log.Callback(), Font(u"Liberation Mono"), int32_t(text.size()));
  ExpectCoversAll(log, int32_t(text.size()));
  for (const auto& r : log.runs) {
    EXPECT_FALSE(text[size_t(r.start)] == 0x0301) << "a run starts with a mark";
    EXPECT_FALSE(text[size_t(r.start)] >= 0xDC00 && text[size_t(r.start)] < 0xE000) << "pair cut";
  }
}

TEST(FontSubstitute, MixedDirectionsAreCutAtVisualBreaks) {
  // Latin, Hebrew, Latin: three directional pieces even though one face
  // covers all.
  const std::u16string text = u"abc \u05D0\u05D1\u05D2 def";
  TRunLog log;
  FontReplacer()->Replace(text, 0, log.Callback(), Font(u"DejaVu Sans"), int32_t(text.size()));
  ExpectCoversAll(log, int32_t(text.size()));
  EXPECT_GE(log.runs.size(), 3u);
  for (const auto& r : log.runs) EXPECT_EQ(r.font.FaceName, u"DejaVu Sans");
}

TEST(FontSubstitute, UncoveredCharactersAreReportedWithTheChosenFont) {
  // A private-use character no installed face has.
  const std::u16string text = u"a\U0010FFFDb";
  TRunLog log;
  FontReplacer()->Replace(text, 0, log.Callback(), Font(u"Arial"), int32_t(text.size()));
  ExpectCoversAll(log, int32_t(text.size()));
  bool uncovered = false;
  for (const auto& r : log.runs)
    if (!r.covered) {
      uncovered = true;
      EXPECT_EQ(r.font.FaceName, u"Arial");
      EXPECT_EQ(r.count, 2);
    }
  EXPECT_TRUE(uncovered);
}

// Characters no face has, between covered ones, are searched for once, not
// once per run: a long hostile line still lays out quickly.
TEST(FontSubstitute, ManyUncoveredRunsStayFast) {
  std::u16string text;
  for (int i = 0; i < 2000; ++i) text += i % 2 ? u"a" : u"\U0010FFFD";
  TRunLog log;
  const auto t0 = std::chrono::steady_clock::now();
  FontReplacer()->Replace(text, 0, log.Callback(), Font(u"Arial"), int32_t(text.size()));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  ExpectCoversAll(log, int32_t(text.size()));
  EXPECT_LT(ms, 20000);
}

TEST(FontSubstitute, RefusedRunsGoToTheNextFallback) {
  TRunLog log;
  log.refuse = u"Arial";
  const std::u16string text = u"Hi";
  FontReplacer()->Replace(text, 0, log.Callback(), Font(u"Arial"), 2);
  ExpectCoversAll(log, 2);
  for (const auto& r : log.runs) {
    EXPECT_NE(r.font.FaceName, u"Arial");
    EXPECT_TRUE(r.covered);
  }
}

TEST(FontSubstitute, ClusterLengthAndStyleIndex) {
  const std::u16string s = u"e\u0301\u0323x\U00010000";
  EXPECT_EQ(ClusterLength(s, 0, 5), 3);
  EXPECT_EQ(ClusterLength(s, 0, 1), 2);  // not beyond last
  EXPECT_EQ(ClusterLength(s, 3, 5), 1);
  EXPECT_EQ(ClusterLength(s, 4, 5), 2);  // a surrogate pair
  EXPECT_EQ(FontStyleIndex(0), 0);
  EXPECT_EQ(FontStyleIndex(fsBold), 1);
  EXPECT_EQ(FontStyleIndex(fsItalic), 2);
  EXPECT_EQ(FontStyleIndex(fsBold | fsItalic | fsUnderline), 3);
}

TEST(FontSubstitute, FallbackListHoldsOnlyInstalledFaces) {
  const int32_t n = FontReplacer()->FallbackCount();
  EXPECT_GT(n, 3);
  EXPECT_LE(n, 14);
  EXPECT_NE(FontReplacer()->FindItem(Font(u"ARIAL")), nullptr);  // keys ignore case
  EXPECT_EQ(FontReplacer()->AddFont(Font(u"No Such Face Anywhere"), true, true), nullptr);
}

}  // namespace
}  // namespace kav
