#include <gtest/gtest.h>

#include "KavLib2/KavClasses/KavValueParsers.h"
#include "VoRav/vxIni.h"

using namespace kav;

namespace {
Ref<TIniItem> Item(const char* value) { return MakeRef<TIniItem>(TByteString("k"), TByteString(value)); }
}  // namespace

TEST(ValueParsers, BooleansAndFloatText) {
  EXPECT_TRUE(StrIsTrue(u"1"));
  EXPECT_TRUE(StrIsTrue("1"));
  for (std::u16string_view t : {u"true", u" 1", u"01", u"", u"1 "}) EXPECT_FALSE(StrIsTrue(t)) << t.size();

  EXPECT_EQ(FormatFloatValue(100), u"100");
  EXPECT_EQ(FormatFloatValue(1.5), u"1.5");
  EXPECT_EQ(FormatFloatValue(1.0 / 3), u"0.333333");
  EXPECT_EQ(FormatFloatValue(123456.7), u"123457");
  EXPECT_EQ(FormatFloatValue(999999.7), u"1E6");
  EXPECT_EQ(FormatFloatValue(12345678), u"1.23457E7");
  EXPECT_EQ(FormatFloatValue(0.000001), u"1E-6");
  EXPECT_EQ(FormatFloatValue(-0.0), u"0");
}

TEST(ValueParsers, ListsTakeTheirElementsOnlyAtTheExactCount) {
  using I2 = std::array<int32_t, 2>;
  EXPECT_EQ(ParseIntPair(Item("3,4").get(), 7, 8), (I2{3, 4}));
  EXPECT_EQ(ParseIntPair(Item("1.5,2").get(), 7, 8), (I2{7, 2}));
  EXPECT_EQ(ParseIntPair(Item("1,2,3").get(), 7, 8), (I2{7, 8}));
  EXPECT_EQ(ParseIntPair(Item("5").get(), 7, 8), (I2{7, 8}));
  EXPECT_EQ(ParseIntPair(Item("-3, 4").get(), 7, 8), (I2{-3, 4}));
  EXPECT_EQ(ParseIntPair(Item("99999999999,x").get(), 7, 8), (I2{7, 8}));

  using F3 = std::array<float, 3>;
  using F4 = std::array<float, 4>;
  const F3 d3{1, 2, 3};
  EXPECT_EQ(ParseFloat3(Item("0.5,-1e2,x").get(), d3), (F3{0.5f, -100.0f, 3}));
  EXPECT_EQ(ParseFloat3(Item("0.5,1").get(), d3), d3);
  EXPECT_EQ(ParseFloat3(Item("1e999,4,5").get(), d3), (F3{1, 4, 5}));
  EXPECT_EQ(ParseFloat4(Item("1,2,3,4").get(), F4{}), (F4{1, 2, 3, 4}));
  EXPECT_EQ(ParseFloat4(Item("1,2,3,4,5").get(), F4{9, 9, 9, 9}), (F4{9, 9, 9, 9}));
}

TEST(ValueParsers, ColoursAndFontStyles) {
  using B3 = std::array<uint8_t, 3>;
  EXPECT_EQ(ParseColorValue(Item("#102030").get(), 0x00AABBCC), (B3{0x10, 0x20, 0x30}));
  EXPECT_EQ(ParseColorValue(Item("155,130,99").get(), 0), (B3{155, 130, 99}));
  EXPECT_EQ(ParseColorValue(Item("garbage").get(), 0x00AABBCC), (B3{0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(ParseColorDefault(Item("#6B7E92").get(), 0x12345678), 0xFF6B7E92u);
  EXPECT_EQ(ParseColorDefault(Item("#zz").get(), 0x12345678), 0x12345678u);
  EXPECT_EQ(ColorToRGBBytes(0x00112233), (B3{0x11, 0x22, 0x33}));

  EXPECT_EQ(ParseFontStyle(Item("Bold,Italic").get()), 3);
  EXPECT_EQ(ParseFontStyle(Item("bold").get()), 0);
  EXPECT_EQ(ParseFontStyle(Item("StrikeOut,Nonsense,Underline,,").get()), 12);
}

TEST(ValueParsers, TextWithSizeKeys) {
  int32_t w = -1, h = -1;
  std::u16string text = u"stale";
  ParseTextWithSize(u"TextWithSize:120: 40:a:b: c", w, h, text);
  EXPECT_EQ(w, 120);
  EXPECT_EQ(h, 40);
  EXPECT_EQ(text, u"a:b: c");

  ParseTextWithSize(u"TextWithSize:x:7:  hi", w, h, text);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 7);
  EXPECT_EQ(text, u"hi");

  // Short and truncated keys never read past their end.
  ParseTextWithSize(u"TextWithSize:12", w, h, text);
  EXPECT_EQ(w, 12);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(text, u"");
  ParseTextWithSize(u"TextWithSize:", w, h, text);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(text, u"");
  text = u"stale";
  ParseTextWithSize(u"Text", w, h, text);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(text, u"");
}
