#include <gtest/gtest.h>

#include "VoRav/Text/vxUnicodeCharInfo.h"
#include "VoRav/Text/vxWideStringUtils.h"

namespace kav {
namespace {

TEST(UnicodeCharInfo, CategoriesFollowTheCharacterDatabase) {
  EXPECT_EQ(UnicodeCategory(u'A'), ucLetter);
  EXPECT_EQ(UnicodeCategory(0x0301), ucMark);
  EXPECT_EQ(UnicodeCategory(u'7'), ucNumber);
  EXPECT_EQ(UnicodeCategory(u' '), ucSeparator);
  EXPECT_EQ(UnicodeCategory(0x0007), ucOther);
  EXPECT_EQ(UnicodeCategory(0xE000), ucOther);  // private use, first line of its block
  EXPECT_EQ(UnicodeCategory(u'!'), ucPunctuation);
  EXPECT_EQ(UnicodeCategory(u'+'), ucSymbol);
  EXPECT_EQ(UnicodeCategory(0x0378), ucUnassigned);
  // Blocks given by their first and last lines count at those two points only.
  EXPECT_EQ(UnicodeCategory(0x4E00), ucLetter);
  EXPECT_EQ(UnicodeCategory(0x4E01), ucUnassigned);
  EXPECT_EQ(UnicodeCategory(0xAC00), ucLetter);
  EXPECT_EQ(UnicodeCategory(0xAC01), ucUnassigned);
}

TEST(UnicodeCharInfo, CasePairsShareTheirMappings) {
  const TUnicodeCharRecord& lo = UnicodeCharInfo(u'a');
  const TUnicodeCharRecord& up = UnicodeCharInfo(u'A');
  EXPECT_TRUE(lo.HasCase && up.HasCase);
  EXPECT_EQ(lo.FirstMapping, up.FirstMapping);
  EXPECT_EQ(lo.SecondMapping, up.SecondMapping);
  EXPECT_TRUE(lo.CasePairConsistent);
  EXPECT_EQ(UnicodeCharInfo(0x0436).SecondMapping, UnicodeCharInfo(0x0416).SecondMapping);  // Cyrillic zhe
  EXPECT_FALSE(UnicodeCharInfo(u'1').HasCase);
  EXPECT_EQ(UnicodeCharInfo(u'1').SecondMapping, u'1');
  EXPECT_EQ(UnicodeCharInfo(0x0378).FirstMapping, 0x0378);  // undefined maps to itself
}

TEST(UnicodeCharInfo, DecompositionsAndCombiningClasses) {
  EXPECT_EQ(UnicodeCharInfo(0x00E9).Decomposition[0], u'e');
  EXPECT_EQ(UnicodeCharInfo(0x00E9).Decomposition[1], 0x0301);
  EXPECT_TRUE(UnicodeCharInfo(u'e').Composes);
  EXPECT_EQ(UnicodeCanonicalChar(0x1EC7), u'e');  // e with circumflex and dot below: two steps
  EXPECT_EQ(UnicodeCanonicalChar(u'x'), u'x');
  EXPECT_EQ(UnicodeCharInfo(0x0301).CombiningClass, 230);
  EXPECT_EQ(UnicodeCharInfo(0x0323).CombiningClass, 220);
  EXPECT_TRUE(UnicodeIsBlockingMark(0x094D));   // virama, class 9
  EXPECT_TRUE(UnicodeIsBlockingMark(0x064B));   // Arabic fathatan, class 27
  EXPECT_TRUE(UnicodeIsBlockingMark(0x0903));   // spacing mark, class 0
  EXPECT_FALSE(UnicodeIsBlockingMark(0x0301));
  EXPECT_FALSE(UnicodeIsBlockingMark(u'a'));
}

TEST(UnicodeCharInfo, BidiTypesOfTheFixedTable) {
  EXPECT_EQ(UnicodeBidiType(0x202E), btRLO);
  for (char16_t c = u'0'; c <= u'9'; ++c) EXPECT_EQ(UnicodeBidiType(c), btEN);
  EXPECT_EQ(UnicodeBidiType(u'q'), btL);
  EXPECT_EQ(UnicodeBidiType(0x05D0), btR);
  EXPECT_EQ(UnicodeBidiType(0x0627), btAL);
  EXPECT_EQ(UnicodeBidiType(0x0661), btAN);
  EXPECT_EQ(UnicodeBidiType(0x064E), btNSM);
  EXPECT_EQ(UnicodeBidiType(u','), btCS);
  EXPECT_EQ(UnicodeBidiType(u' '), btWS);
  EXPECT_EQ(UnicodeBidiType(u'!'), btON);
  EXPECT_EQ(UnicodeBidiType(0x202A), btLRE);
  EXPECT_EQ(UnicodeBidiType(0x202C), btPDF);
}

TEST(WideStringUtils, FaceKeysIgnoreCaseAndPrecomposition) {
  EXPECT_EQ(WideSeparateMarksInto(u"Arial"), WideSeparateMarksInto(u"ARIAL"));
  EXPECT_EQ(WideSeparateMarksInto(u"arial"), u"ARIAL");
  EXPECT_EQ(WideSeparateMarksInto(u"Caf\u00E9"), WideSeparateMarksInto(u"CAFE\u0301"));
  // Marks of different classes end in canonical order: dot below (220) first.
  EXPECT_EQ(WideSeparateMarksInto(u"a\u0301\u0323"), u"A\u0323\u0301");
  EXPECT_EQ(WideSeparateMarksInto(u"Arial Bold", 6, 4), u"BOLD");
  EXPECT_EQ(WideSeparateMarksInto(u"ab", 5, 3), u"");
}

TEST(WideStringUtils, CollatedComparison) {
  EXPECT_TRUE(WideEqualCollated(u"\u00E9t\u00E9", u"e\u0301te\u0301"));
  EXPECT_TRUE(WideEqualCollated(u"Tahoma", u"tAHOMA"));
  // Marks of different classes in either order are equal after ordering...
  EXPECT_TRUE(WideEqualCollated(u"a\u0301\u0323", u"a\u0323\u0301"));
  // ...but a blocking mark between them keeps them apart.
  EXPECT_FALSE(WideEqualCollated(u"a\u0301\u094D\u0323", u"a\u0323\u094D\u0301"));
  EXPECT_EQ(WideCompareCollated(u"abc", 0, -1, u"abd", 0, -1), 0);
  EXPECT_EQ(WideCompareCollated(u"abd", 0, -1, u"abc", 0, -1), 2);
  EXPECT_EQ(WideCompareCollated(u"ab", 0, -1, u"abc", 0, -1), 0);
  EXPECT_EQ(WideCompareCollated(u"abc", 0, -1, u"ab", 0, -1), 2);
  // Categories by rank: a separator sorts before a letter, a digit before a letter.
  EXPECT_EQ(WideCompareCollated(u" ", 0, -1, u"a", 0, -1), 0);
  EXPECT_EQ(WideCompareCollated(u"z", 0, -1, u"1", 0, -1), 2);
  // The unmarked letter sorts before the marked one.
  EXPECT_EQ(WideCompareCollated(u"e", 0, -1, u"\u00E9", 0, -1), 0);
  EXPECT_EQ(WideCompareCollated(u"xabcx", 1, 3, u"abc", 0, -1), 1);
}

}  // namespace
}  // namespace kav
