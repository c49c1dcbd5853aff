#include <gtest/gtest.h>

#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/Text/vxTextDescriptors.h"

namespace kav {
namespace {

TEST(TextDescriptors, StyleNames) {
  EXPECT_EQ(FontStyleToText(0), u"");
  EXPECT_EQ(FontStyleToText(15), u"Bold,Italic,Underline,StrikeOut");
  EXPECT_EQ(FontStyleToText(6), u"Italic,Underline");
  EXPECT_EQ(FontStyleFromText(u"Bold,Italic"), 3);
  EXPECT_EQ(FontStyleFromText(u"StrikeOut,Nonsense,bold"), 8);  // unknown and lower-case names ignored
  EXPECT_EQ(FontStyleFromText(u""), 0);
}

TEST(TextDescriptors, TextKeyRoundTripsAllFields) {
  TTextParams p;
  p.FaceName = u"Times New Roman";
  p.Scale = 0.125;
  p.Float1 = 2.5f;
  p.Float2 = -1.0f;
  p.Style = fsBold | fsItalic;
  p.Alignment = 2;
  p.Value = 0.333333;
  p.LineSpacing = 40;
  const std::vector<std::u16string> lines = {u"Time: 10:30", u"", u"second \"line\""};
  const std::u16string key = TextParamsKey(p, lines);
  EXPECT_EQ(key, u"Text: Times New Roman:0.125:2.5:-1:Bold,Italic:2:0.333333:40:\"Time: 10:30\r\n\r\nsecond \"line\"\"");
  TTextParams q;
  std::vector<std::u16string> back;
  ParseTextParamsKey(key, back, q);
  EXPECT_EQ(back, lines);
  EXPECT_EQ(q.FaceName, p.FaceName);
  EXPECT_EQ(q.Scale, 0.125);
  EXPECT_EQ(q.Float1, 2.5f);
  EXPECT_EQ(q.Float2, -1.0f);
  EXPECT_EQ(q.Style, p.Style);
  EXPECT_EQ(q.Alignment, 2);
  EXPECT_DOUBLE_EQ(q.Value, 0.333333);
  EXPECT_EQ(q.LineSpacing, 40);
}

TEST(TextDescriptors, BadNumbersKeepDefaultsAndShortKeysParseEmpty) {
  TTextParams q;
  std::vector<std::u16string> lines;
  ParseTextParamsKey(u"Text: Arial:x:1e999:nan:Bold:z:oops:1.5.5:\"a\"", lines, q);
  EXPECT_EQ(q.Scale, 1.0);
  EXPECT_EQ(q.Float1, 0.0f);
  EXPECT_EQ(q.Alignment, 0);
  EXPECT_EQ(q.Value, 1.0);
  EXPECT_EQ(q.LineSpacing, 0);
  EXPECT_EQ(q.Style, fsBold);
  EXPECT_EQ(lines, std::vector<std::u16string>{u"a"});
  ParseTextParamsKey(u"Text:", lines, q);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(q.FaceName, u"Arial");
}

TEST(TextDescriptors, VectorKeysShareSizeAndColour) {
  TTextParams a, b;
  a.FaceName = b.FaceName = u"Arial";
  a.Scale = 1;
  b.Scale = 3;
  const std::vector<std::u16string> lines = {u"Hi"};
  const std::u16string ka = VectTxtKeyFromTextKey(TextParamsKey(a, lines));
  EXPECT_EQ(ka, VectTxtKeyFromTextKey(TextParamsKey(b, lines)));
  EXPECT_EQ(ka, u"VectTxt2: Arial::\"Hi\"");
  std::vector<std::u16string> back;
  std::u16string face;
  uint8_t style = 9;
  ParseVectTxtKey(u"VectTxt2: Noto Sans:Italic:\"a:b\r\nc\"", back, face, style);
  EXPECT_EQ(face, u"Noto Sans");
  EXPECT_EQ(style, fsItalic);
  EXPECT_EQ(back, (std::vector<std::u16string>{u"a:b", u"c"}));
}

TEST(TextDescriptors, QuotedLinesAndMarkup) {
  std::vector<std::u16string> lines;
  SplitQuotedLines(u"\"a\rb\nc\r\nd\n\re\"", lines);
  EXPECT_EQ(lines, (std::vector<std::u16string>{u"a", u"b", u"c", u"d", u"e"}));
  EXPECT_EQ(JoinQuotedLines({u"x", u"y"}), u"\"x\r\ny\"");
  EXPECT_EQ(EscapeMarkupLines({u"Hi <b> OK"}), std::vector<std::u16string>{u"<H>i <<b>> <OK>"});
  EXPECT_EQ(StripMarkupTags(u"a<<b>>c<tag>d"), u"a<b>cd");
  EXPECT_EQ(StripMarkupTags(u"open <tag"), u"open ");
  EXPECT_EQ(FormatKeyFloat(1.5000001, 6), u"1.5");
  EXPECT_EQ(FormatKeyFloat(-0.0000001, 6), u"0");
  EXPECT_EQ(FormatKeyFloat(12.345, 2), u"12.35");
  EXPECT_EQ(TranslateString(u"same"), u"same");
  SetTranslateHook([](const std::u16string& t) { return t + u"!"; });
  EXPECT_EQ(TranslateString(u"same"), u"same!");
  SetTranslateHook(nullptr);
}

}  // namespace
}  // namespace kav
