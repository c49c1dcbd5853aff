#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "VoRav/vxConvert.h"
#include "VoRav/vxGUID.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpTypes.h"

using namespace kav;

TEST(Convert, NumbersToText) {
  EXPECT_EQ(IntToHex(2, 0x1234), u"1234");
  EXPECT_EQ(IntToHex(8, 255), u"000000FF");
  EXPECT_EQ(IntToHex(-3, static_cast<uint64_t>(-1)), u"FFFFFFFFFFFFFFFF");
  EXPECT_EQ(IntToStr(INT32_MIN), u"-2147483648");
  EXPECT_EQ(IntToStrPad(-7, 3, u' '), u" -7");

  EXPECT_EQ(FloatToStrTrim(3, 1.5), u"1.5");
  EXPECT_EQ(FloatToStrTrim(3, 2.0), u"2");
  EXPECT_EQ(FloatToStrTrim(3, 0.125), u"0.125");
  EXPECT_EQ(FloatToStrTrim(3, 100.0), u"100");  // zeros before the point stay
  EXPECT_EQ(FloatToStrTrim(2, -0.001), u"0");
  EXPECT_EQ(FloatToStrTrim(1, 1e20), u"100000000000000000000");
  EXPECT_EQ(FloatToStrTrim(2, -INFINITY), u"-INF");
}

TEST(Convert, StrToIntAcceptsIntegersAndRaisesOtherwise) {
  EXPECT_EQ(StrToInt(u"  -42"), -42);
  EXPECT_EQ(StrToInt(u"-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt(u"$FF"), 255);
  EXPECT_EQ(StrToInt(u"0x10"), 16);
  EXPECT_EQ(StrToInt(u"$FFFFFFFF"), -1);
  try {
    StrToInt(u"12\u00e4");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "\"12\xC3\xA4\" is not a valid integer value");
  }
  for (const char16_t* bad : {u"", u"-", u"$", u"2147483648", u"-2147483649", u"$100000000", u"1 ", u"1.5"}) {
    EXPECT_THROW(StrToInt(bad), EConvertError);
    EXPECT_EQ(StrToIntDef(bad, -5), -5);
  }
}

TEST(Convert, HexDigitsAndPositionalFormat) {
  uint32_t v = 77;
  EXPECT_TRUE(HexToUInt32(u"xx1aF9", 2, 4, v));
  EXPECT_EQ(v, 0x1AF9u);
  EXPECT_TRUE(HexToUInt32(u"zz", 0, 0, v));
  EXPECT_EQ(v, 0u);
  EXPECT_FALSE(HexToUInt32(u"12g4", 0, 4, v));
  EXPECT_FALSE(HexToUInt32(u"1234", 2, 3, v));  // runs past the text

  const std::vector<std::u16string> ab = {u"a", u"b"};
  EXPECT_EQ(FormatPositional(u"%2-%1", ab), u"b-a");
  EXPECT_EQ(FormatPositional(u"%3", ab), u"");
  EXPECT_EQ(FormatPositional(u"%0x%", ab), u"x");
  EXPECT_EQ(FormatPositional(u"%01%99999999999999999999999z", ab), u"az");

  EXPECT_EQ(WideTrim(u"  \tx y \t "), u"\tx y \t");
  EXPECT_EQ(WideTrimRight(u" a\t\r\n "), u" a");
  const char16_t buf[] = {u'a', u'b', u'c', u'd'};
  EXPECT_EQ(WideCopyChars(buf, 2, 100), u"cd");
  EXPECT_EQ(WideCopyChars(buf, 4, 1), u"");
}

TEST(GUID, TextFormRoundTripsAndRejectsMalformedText) {
  TGUID g{0x0123ABCD, 0x45EF, 0x0067, {0x89, 0xAB, 0x00, 0x01, 0x02, 0xFE, 0xDC, 0xBA}};
  const std::u16string text = GUIDToString(g);
  EXPECT_EQ(text, u"{0123ABCD-45EF-0067-89AB-000102FEDCBA}");
  TGUID back;
  ASSERT_TRUE(TryStringToGUID(u"{0123abcd-45ef-0067-89ab-000102fedcba}", back));
  EXPECT_EQ(back, g);
  for (int i = 0; i < 10; ++i) {
    const TGUID r = CreateGUID();
    ASSERT_TRUE(TryStringToGUID(GUIDToString(r), back));
    EXPECT_EQ(back, r);
  }
  EXPECT_NE(CreateGUID(), CreateGUID());

  const TGUID untouched = back;
  EXPECT_FALSE(TryStringToGUID(text.substr(1, 36), back));
  EXPECT_FALSE(TryStringToGUID(text + u"}", back));
  for (size_t i = 0; i < 38; ++i) {  // every character matters
    std::u16string bad = text;
    bad[i] = bad[i] == u'-' ? u'0' : u'-';
    EXPECT_FALSE(TryStringToGUID(bad, back)) << i;
  }
  EXPECT_EQ(back, untouched);
}

TEST(Types, ArithmeticAndFixedOffsetValues) {
  EXPECT_EQ(MulDiv64(100000, 100000, 1000), 10000000);
  EXPECT_EQ(MulDiv64(-7, 3, 2), -10);  // truncates toward zero
  EXPECT_THROW(MulDiv64(1, 1, 0), EDivByZero);
  EXPECT_THROW(MulDiv64(INT32_MAX, 2, 1), EIntOverflow);

  std::vector<uint8_t> buf = {0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x80, 0x3F, 0xAA};
  EXPECT_EQ(ReadLittleEndian32(buf, 0), 0x04030201u);
  EXPECT_EQ(ReadBigEndian32(buf, 0), 0x01020304u);
  EXPECT_EQ(ReadSingleLE(buf, 4), 1.0f);
  EXPECT_EQ(ReadInt64LE(buf, 0), 0x3F80000004030201LL);
  WriteDWordAt(buf, 5, 0xDDCCBBAA);
  EXPECT_EQ(buf[8], 0xDD);
  EXPECT_THROW(ReadLittleEndian32(buf, 6), ERangeError);
  EXPECT_THROW(ReadInt64LE(buf, 2), ERangeError);
  EXPECT_THROW(ReadBigEndian32(buf, -1), ERangeError);
  EXPECT_THROW(WriteDWordAt(buf, 9, 0), ERangeError);
}
