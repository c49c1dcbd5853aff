#include <gtest/gtest.h>

#include "VoRav/Graphics/vxColor.h"
#include "VoRav/Graphics/vxFontDesc.h"

using namespace kav;

TEST(ColorText, ParsesTheTextForms) {
  const TColor32 red = ColorRGBA(255, 0, 0, 255);
  EXPECT_EQ(ColorFromTextDef("#FF0000"), red);
  EXPECT_EQ(ColorFromTextDef("255"), red);  // a decimal COLORREF: red in the low byte
  EXPECT_EQ(ColorFromTextDef("255,0,0"), red);
  EXPECT_EQ(ColorFromTextDef("255,0,0,128"), ColorRGBA(255, 0, 0, 128));
  EXPECT_EQ(ColorFromTextDef("#FF0000,300"), red);
  EXPECT_EQ(ColorFromTextDef("#00FF00,#80"), ColorRGBA(0, 255, 0, 128));
  EXPECT_EQ(ColorFromTextDef("16711680,7"), ColorRGBA(0, 0, 255, 7));  // 0xFF0000 COLORREF is blue
  EXPECT_EQ(ColorFromText(u"#123456"), ColorRGBA(0x12, 0x34, 0x56, 255));
  // Parts are truncated to a byte; a part that is no number takes its default.
  EXPECT_EQ(ColorFromTextDef("256,x,3"), ColorRGBA(0, 0, 3, 255));
  EXPECT_EQ(ColorFromTextDef("1,2,3,junk"), ColorRGBA(1, 2, 3, 255));
}

TEST(ColorText, MalformedTextGivesTheDefault) {
  const TColor32 def = 0x12345678;
  EXPECT_EQ(ColorFromTextDef(""), kTransparentColor);
  EXPECT_EQ(ColorFromTextDef("1,2,3,4,5"), kTransparentColor);
  EXPECT_EQ(ParseColorText("", def), def);
  EXPECT_EQ(ParseColorText("1,2,3,4,5", def), def);
  EXPECT_EQ(ParseColorText("#GG0000", def), def);
  EXPECT_EQ(ParseColorText("#123456789", def), def);
  EXPECT_EQ(ParseColorText("99999999999999999999", def), def);
  EXPECT_EQ(ParseColorText("red", def), def);
  EXPECT_EQ(ColorFromText(u"\u0661\u0662"), kTransparentColor);  // non-ASCII digits are no number
}

TEST(ColorOps, EqualityAndArithmetic) {
  EXPECT_TRUE(ColorEqual(0x00FF0000, 0x0000FF00, true));
  EXPECT_FALSE(ColorEqual(0x00FF0000, 0x0000FF00, false));
  EXPECT_FALSE(ColorEqual(0x01FF0000, 0x0000FF00, true));
  EXPECT_TRUE(RGBEqual(0x11223344, 0xFF223344));
  EXPECT_EQ(ColorAverage(0xFF00FF01, 0x01FF0003), 0x807F7F02u);
  // Lerp truncates toward zero for falling channels (a floor would give FE).
  EXPECT_EQ(ColorLerp(0x000000FF, 0x00000000, 1), 0x000000FFu);
  EXPECT_EQ(ColorLerp(0x000000FF, 0x00000000, 2), 0x000000FEu);
  EXPECT_EQ(ColorLerp(0x00000000, 0xFF0000FF, 256), 0xFF0000FFu);
  EXPECT_EQ(ColorToRGBTriple(0x00332211), (TRGBTriple{0x33, 0x22, 0x11}));
  EXPECT_EQ(ColorFromColorRef(0x00332211, 9), 0x09112233u);
  EXPECT_EQ(ColorSwapRB(0xAA112233), 0x00332211u);
}

TEST(ColorOps, BlendOver) {
  TColor32 d = ColorRGBA(0, 100, 200, 255);
  BlendColorOver(d, ColorRGBA(255, 0, 100, 128));
  EXPECT_EQ(d, ColorRGBA(127, 50, 150, 255));  // d + floor((s - d) * 128 / 256)
  d = ColorRGBA(1, 2, 3, 77);
  BlendColorOver(d, ColorRGBA(9, 9, 9, 0));
  EXPECT_EQ(d, ColorRGBA(1, 2, 3, 77));
  BlendColorOver(d, ColorRGBA(9, 8, 7, 255));
  EXPECT_EQ(d, ColorRGBA(9, 8, 7, 255));
  d = ColorRGBA(1, 2, 3, 0);
  BlendColorOver(d, ColorRGBA(9, 8, 7, 20));
  EXPECT_EQ(d, ColorRGBA(9, 8, 7, 20));
  // General case: alpha 128 over 128 gives 192; equal colours stay within 1.
  for (int c : {0, 37, 200, 255}) {
    d = ColorRGBA(uint8_t(c), uint8_t(c), uint8_t(c), 128);
    BlendColorOver(d, ColorRGBA(uint8_t(c), uint8_t(c), uint8_t(c), 128));
    EXPECT_EQ(ColorAlpha(d), 192);
    EXPECT_NEAR(ColorRed(d), c, 1);
  }
  // Near-opaque pairs saturate the alpha at 255 and keep colours in range.
  d = ColorRGBA(255, 255, 255, 254);
  BlendColorOver(d, ColorRGBA(255, 255, 255, 254));
  EXPECT_EQ(ColorAlpha(d), 255);
  EXPECT_GE(ColorRed(d), 253);
}

TEST(FontDesc, AssignComparesAndCopiesSelectedFields) {
  TFontDesc a, b;
  FontDescSetAll(a, u"Arial", 12, fsBold, {1, 2, 3}, {4, 5, 6}, false);
  FontDescSetAll(b, u"arial", 12, fsBold, {1, 2, 3}, {7, 8, 9}, true);
  EXPECT_FALSE(FontDescSameFont(a, b));  // case-sensitive face
  EXPECT_FALSE(FontDescSameColors(a, b));
  EXPECT_FALSE(FontDescAssign(a, b, fdmSize | fdmStyle));
  EXPECT_TRUE(FontDescAssign(a, b, fdmColors));
  EXPECT_EQ(a.Mode, 1);
  EXPECT_EQ(a.Color2, (TRGBTriple{7, 8, 9}));
  EXPECT_EQ(a.FaceName, u"Arial");
  // Mode 2 ignores the second colour.
  a.Mode = b.Mode = 2;
  b.Color2 = {0, 0, 0};
  EXPECT_TRUE(FontDescSameColors(a, b));
  EXPECT_FALSE(FontDescAssign(a, b, fdmColors));
  // Transparent only switches an opaque description to mode 2.
  FontDescSetTransparent(a, false);
  EXPECT_EQ(a.Mode, 0);
  FontDescSetTransparent(a, true);
  EXPECT_EQ(a.Mode, 2);
  a.Mode = 1;
  FontDescSetTransparent(a, true);
  EXPECT_EQ(a.Mode, 1);
  EXPECT_TRUE(FontDescIsTransparent(a));
}
