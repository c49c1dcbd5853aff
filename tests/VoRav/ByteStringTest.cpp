#include <gtest/gtest.h>

#include <random>
#include <string>

#include "VoRav/vxByteString.h"
#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxUTF8.h"

using namespace kav;

namespace {
std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s += char(x);
  return s;
}
std::vector<int32_t> CodePoints(std::string_view s) {
  std::vector<int32_t> out;
  for (size_t pos = 0; pos < s.size();) out.push_back(ByteStringNextCodePoint(s, pos));
  return out;
}
}  // namespace

TEST(ByteString, CodePointReaderRecovers) {
  EXPECT_EQ(CodePoints(Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80})), std::vector<int32_t>{0x1F600});
  EXPECT_EQ(CodePoints(Bytes({0xF0, 0x9F, 0x98, 0x80, 0x41})), (std::vector<int32_t>{0x1F600, 0x41}));
  // Stray continuations and FE/FF skip the continuation run.
  EXPECT_EQ(CodePoints(Bytes({0x80, 0x80, 0x41, 0xFE, 0xBF, 0x42})), (std::vector<int32_t>{-1, 0x41, -1, 0x42}));
  // A bad continuation stops before it; a cut sequence ends the text.
  EXPECT_EQ(CodePoints(Bytes({0xC3, 0x41, 0xE2, 0x82})), (std::vector<int32_t>{-1, 0x41, -1}));
  // 5- and 6-byte forms; a high surrogate without a low part stands alone.
  EXPECT_EQ(CodePoints(Bytes({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF})), std::vector<int32_t>{0x7FFFFFFF});
  EXPECT_EQ(CodePoints(Bytes({0xED, 0xA0, 0xBD, 0x41})), (std::vector<int32_t>{0xD83D, 0x41}));
  EXPECT_EQ(CodePoints(Bytes({0xED, 0xA0, 0xBD, 0xED, 0xA0, 0xBD})), (std::vector<int32_t>{0xD83D, 0xD83D}));
}

TEST(ByteString, HashesAgreeWithWideText) {
  EXPECT_EQ(ByteStringHash("ABC"), ByteStringHash("abc"));
  EXPECT_NE(ByteStringHashExact("ABC"), ByteStringHashExact("abc"));
  EXPECT_EQ(ByteStringHashExact("abc"), ByteStringHash("abc"));
  const std::string six = Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80});
  EXPECT_EQ(ByteStringHash(six), HashWideString(u"\U0001F600"));
  EXPECT_EQ(ByteStringHash(Bytes({0xF0, 0x9F, 0x98, 0x80})), ByteStringHash(six));
  EXPECT_EQ(ByteStringHashExact(Bytes({0xF0, 0x9F, 0x98, 0x80})), ByteStringHashExact(six));
  // Folding above ASCII: Kelvin sign, sharp s, Deseret.
  EXPECT_EQ(HashWideString(u"\u212A\u1E9E\U00010400"), ByteStringHash(UTF8Encode(u"k\u00DF\U00010428")));
  EXPECT_EQ(HashWideString(u"xxName", 2, 10), ByteStringHash("NAME"));
  // Invalid sequences and huge values leave the hash as it is.
  EXPECT_EQ(ByteStringHash(Bytes({0x61, 0x80, 0x62})), ByteStringHash("ab"));
  EXPECT_EQ(ByteStringHashExact(Bytes({0x61, 0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF})), ByteStringHashExact("a"));
  // A name hash continued with index digits equals the hash of the joined text.
  char digits[16];
  const int n = IntToDecimalBuffer(42, digits, sizeof digits);
  EXPECT_EQ(HashBytesContinue(ByteStringHash("Key"), std::string_view(digits, n)), ByteStringHash("key42"));
  // Random texts: the wide hash equals the byte-string hash of its UTF-8,
  // case-insensitively.
  std::mt19937 rng(3);
  const std::u16string pool[] = {u"a", u"Z", u"\u00C4", u"\u00E4", u"\u0130", u"\u03A3", u"\u212A",
                                 u"\U00010400", u"\U0001F600", u"\uFFFF"};
  for (int round = 0; round < 300; ++round) {
    std::u16string t;
    for (int i = rng() % 12; i > 0; --i) t += pool[rng() % std::size(pool)];
    ASSERT_EQ(HashWideString(t), ByteStringHash(UTF8Encode(t)));
    ASSERT_EQ(HashWideString(t), ByteStringHash(WideToSystemUTF8(t))) << "4-byte form";
    // Lone surrogates hash alike in both too.
    const std::u16string lone = t + char16_t(0xDC00) + char16_t(0xD801);
    ASSERT_EQ(HashWideString(lone), ByteStringHash(UTF8Encode(lone)));
  }
}

TEST(ByteString, Comparison) {
  EXPECT_EQ(ByteStringCompareWide("abc", u"abc"), 0);
  EXPECT_EQ(ByteStringCompareWide("abd", u"abc"), 1);
  EXPECT_EQ(ByteStringCompareWide("abc", u"ABC"), 'a' - 'A');
  EXPECT_EQ(ByteStringCompareWide("abcd", u"abc"), 1);
  EXPECT_EQ(ByteStringCompareWide("ab", u"abcdef"), -1);
  EXPECT_EQ(ByteStringCompareWide(UTF8Encode(u"\U0001F600"), u"\U0001F600"), 0);
  EXPECT_EQ(ByteStringCompareWideText("SectION", u"section"), 0);
  EXPECT_EQ(ByteStringCompareWideText(UTF8Encode(u"\u00C4\u212A"), u"\u00E4k"), 0);
  EXPECT_EQ(ByteStringCompareWideRange("key", u"[KEY]", 1, 3), 0);
  EXPECT_EQ(ByteStringCompareText("PlaceInto", "placeinto"), 0);
  EXPECT_EQ(ByteStringCompareText(Bytes({0x80}), "a"), -1 - 'a');
  EXPECT_EQ(ByteStringCompareText(Bytes({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}), Bytes({0x80})), 2147483647);
  EXPECT_EQ(ByteStringPosBytes("a=b=c", "=", 2), 3);
  EXPECT_EQ(ByteStringPosBytes("a=b", "x"), -1);
  EXPECT_EQ(ByteStringPosBytes("a", "", 5), -1);
  const TByteSet blanks = TByteSet::Of(" \t,");
  EXPECT_EQ(ByteStringFindInSet("ab, c", 0, blanks), 2);
  EXPECT_EQ(ByteStringFindNotInSet("ab, c", 2, blanks), 4);
  EXPECT_EQ(ByteStringFindNotInSet("  ", 0, blanks), -1);
  EXPECT_TRUE(TByteSet::Of("\xFF").Has(0xFF));
}

TEST(ByteString, RecordOperations) {
  const TByteString s = ByteStringFromWide(u"x\u00e4yz", 1, 2);
  EXPECT_EQ(s, "\xC3\xA4y");
  EXPECT_EQ(ByteStringRangeLength(s, 2, 100), 1u);
  EXPECT_EQ(ByteStringRangeLength(s, 9, 1), 0u);
  EXPECT_EQ(ByteStringCharAt(s, 2), 'y');
  EXPECT_EQ(ByteStringCharAt(s, 3), 0);
  EXPECT_EQ(ByteStringCharAt(s, -1), 0);
  EXPECT_EQ(ByteStringToWide(s, 0, 3), u"\u00e4y");
  EXPECT_EQ(ByteStringCopy("hello", -1, 2), "he");
  uint8_t buf[4] = {0, 0, 0, 0};
  EXPECT_EQ(ByteStringCopyToBuffer("hello", 1, 4, buf, 1, 4), 3u);
  EXPECT_EQ(std::string(buf + 1, buf + 4), "ell");
  EXPECT_EQ(ByteStringCopyToBuffer("hello", 0, 5, buf, 4, 4), 0u);
}

TEST(ByteString, IntegerParsing) {
  EXPECT_EQ(ByteStringToIntDef("2147483647", 7), 2147483647);
  EXPECT_EQ(ByteStringToIntDef("2147483648", 7), 7);
  EXPECT_EQ(ByteStringToIntDef("-2147483648", 7), INT32_MIN);
  EXPECT_EQ(ByteStringToIntDef("-2147483649", 7), 7);
  EXPECT_EQ(ByteStringToIntDef(" +12", 7), 12);
  EXPECT_EQ(ByteStringToIntDef("\b 12", 7), 12);
  EXPECT_EQ(ByteStringToIntDef("\t12", 7), 7);
  EXPECT_EQ(ByteStringToIntDef("12 ", 7), 7);
  EXPECT_EQ(ByteStringToIntDef("+-1", 7), 7);
  EXPECT_EQ(ByteStringToIntDef("", 7), 7);
  EXPECT_EQ(ByteStringToIntDef("-", 7), 7);
  EXPECT_EQ(ByteStringToIntDef("99999999999999999999999", 7), 7);
  EXPECT_EQ(ByteStringToInt64Def("9223372036854775807", 7), INT64_MAX);
  EXPECT_EQ(ByteStringToInt64Def("-9223372036854775808", 7), INT64_MIN);
  EXPECT_EQ(ByteStringToInt64Def("9223372036854775808", 7), 7);
  EXPECT_EQ(ByteStringHexToIntDef("fF10", 7), 0xFF10);
  EXPECT_EQ(ByteStringHexToIntDef("", 7), 0);
  EXPECT_EQ(ByteStringHexToIntDef("0x1", 7), 7);
  EXPECT_EQ(ByteStringHexToIntDef("FFFFFFFF", 7), -1);
  EXPECT_TRUE(ByteStringToBoolAt("a1b", 1, 1));
  EXPECT_FALSE(ByteStringToBoolAt("a1b", 1, 2));
  EXPECT_FALSE(ByteStringToBoolAt("1", 1, 1));
}

TEST(ByteString, FloatParsing) {
  EXPECT_EQ(ByteStringToFloatDef("1.5E2", -1), 150.0);
  EXPECT_EQ(ByteStringToFloatDef("-2.5e-1", -1), -0.25);
  EXPECT_EQ(ByteStringToFloatDef(" .5", -1), 0.5);
  EXPECT_EQ(ByteStringToFloatDef("3.", -1), 3.0);
  EXPECT_EQ(ByteStringToFloatDef("0.1", -1), 0.1);
  EXPECT_EQ(ByteStringToFloatDef("123456.789", -1), 123456.789);
  EXPECT_EQ(ByteStringToFloatDef("1.2.3", -1), -1.0);
  EXPECT_EQ(ByteStringToFloatDef("12abc", -1), -1.0);
  EXPECT_EQ(ByteStringToFloatDef("1e", -1), -1.0);
  EXPECT_EQ(ByteStringToFloatDef(".", -1), -1.0);
  EXPECT_EQ(ByteStringToFloatDef("1e999999", -1), -1.0);
  EXPECT_EQ(ByteStringToFloatDef("1e-999999", -1), 0.0);
  EXPECT_EQ(ByteStringToFloatDef("1,5", -1), -1.0);
}

TEST(ByteString, BuilderAndFormatting) {
  TByteStringBuilder b;
  size_t pos = ByteStringWriteBytes(b, 0, "key");
  EXPECT_EQ(b.Buffer.size(), 16u);
  pos = ByteStringFromInt(b, pos, -123);
  pos = ByteStringWriteWide(b, pos, u"=\u00e4\U0001F600", 0, 10);
  EXPECT_EQ(ByteStringFromBuilder(b), "key-123=\xC3\xA4\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(pos, ByteBufferLength(b));
  EXPECT_EQ(b.Buffer.size(), 16u);
  // Inserting in the middle shifts the tail; a position past the end appends.
  EXPECT_EQ(ByteStringMakeRoom(b, 3, 2, '_'), 3u);
  EXPECT_EQ(ByteStringFromBuilder(b).substr(0, 9), "key__-123");
  EXPECT_EQ(b.Buffer.size(), 32u);
  pos = ByteStringFromInt64(b, 1000, INT64_MIN);
  EXPECT_EQ(pos, ByteBufferLength(b));
  EXPECT_EQ(ByteStringFromBuilder(b).substr(ByteBufferLength(b) - 20), "-9223372036854775808");
  TByteStringBuilder big;
  ByteStringMakeRoom(big, 0, 40, 'x');
  EXPECT_EQ(big.Buffer.size(), 40u);
  ByteStringMakeRoom(big, 0, 1);
  EXPECT_EQ(big.Buffer.size(), 80u);

  auto fmt = [](double v, int digits) {
    TByteStringBuilder f;
    ByteStringFromFloat(f, 0, v, digits);
    return ByteStringFromBuilder(f);
  };
  EXPECT_EQ(fmt(1.5, 3), "1.5");
  EXPECT_EQ(fmt(2.0, 3), "2");
  EXPECT_EQ(fmt(0.125, 3), "0.125");
  EXPECT_EQ(fmt(2.5, 0), "2");
  EXPECT_EQ(fmt(100.0, 0), "100");
  EXPECT_EQ(fmt(-0.0001, 2), "0");
  EXPECT_EQ(fmt(1e300, 2).size(), 301u);

  char small[3];
  EXPECT_EQ(IntToDecimalBuffer(-12, small, 3), 3);
  EXPECT_EQ(std::string(small, 3), "-12");
  EXPECT_EQ(IntToDecimalBuffer(1234, small, 3), -4);
}
