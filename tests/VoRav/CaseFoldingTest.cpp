#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "VoRav/vxCaseFolding.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpStringUtils.h"

using namespace kav;

namespace {

// Parses a semicolon-separated Unicode data file into its fields per line.
std::vector<std::vector<std::string>> ReadUnicodeFile(const char* name) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream f(std::string("/usr/share/unicode/") + name);
  std::string line;
  while (std::getline(f, line)) {
    line = line.substr(0, line.find('#'));
    if (line.find(';') == std::string::npos) continue;
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, ';')) {
      const size_t a = field.find_first_not_of(' '), b = field.find_last_not_of(' ');
      fields.push_back(a == std::string::npos ? "" : field.substr(a, b - a + 1));
    }
    rows.push_back(fields);
  }
  return rows;
}

std::u16string FromCodePoints(const std::string& hex_list) {
  std::u16string s;
  std::stringstream ss(hex_list);
  std::string hex;
  while (ss >> hex) {
    const uint32_t cp = std::stoul(hex, nullptr, 16);
    if (cp >= 0x10000) {
      s += char16_t(0xD800 + ((cp - 0x10000) >> 10));
      s += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      s += char16_t(cp);
    }
  }
  return s;
}

}  // namespace

// The generated pages against the data file itself: every simple folding is
// found and every other code point folds to itself; the F list is complete.
TEST(CaseFolding, TablesMatchTheUnicodeData) {
  const auto rows = ReadUnicodeFile("CaseFolding.txt");
  if (rows.empty()) GTEST_SKIP() << "unicode-data not installed";
  std::map<uint32_t, uint32_t> simple;
  int full = 0;
  for (const auto& r : rows) {
    const uint32_t cp = std::stoul(r[0], nullptr, 16);
    if (r[1] == "C" || r[1] == "S") simple[cp] = std::stoul(r[2], nullptr, 16);
    if (r[1] == "F") {
      ++full;
      EXPECT_EQ(CaseFoldFullLookup(cp), FromCodePoints(r[2])) << std::hex << cp;
    }
  }
  EXPECT_GT(simple.size(), 1400u);
  for (uint32_t cp = 0; cp < 0x110000; ++cp) {
    const auto it = simple.find(cp);
    ASSERT_EQ(CaseFoldPageLookup(cp), it == simple.end() ? cp : it->second) << std::hex << cp;
  }
  EXPECT_EQ(CaseFoldPageLookup(0x7FFFFFFF), 0x7FFFFFFFu);
  EXPECT_EQ(full, 104);
  EXPECT_TRUE(CaseFoldFullLookup(u'a').empty());
}

TEST(CaseFolding, KnownFoldings) {
  EXPECT_EQ(CaseFoldPageLookup(0x41), 0x61u);
  EXPECT_EQ(CaseFoldPageLookup(0x212A), 0x6Bu);   // Kelvin sign
  EXPECT_EQ(CaseFoldPageLookup(0x1E9E), 0xDFu);   // capital sharp s
  EXPECT_EQ(CaseFoldPageLookup(0xDF), 0xDFu);
  EXPECT_EQ(CaseFoldPageLookup(0x10400), 0x10428u);
  EXPECT_EQ(CaseFoldFullLookup(0xDF), u"ss");
  EXPECT_EQ(CaseFoldRange(u"xA\U00010400\u212A", 1, 10), u"a\U00010428k");
  const std::u16string lone = {u'Q', char16_t(0xD801)};
  EXPECT_EQ(CaseFoldRange(lone, 0, 2), (std::u16string{u'q', char16_t(0xD801)}));
}

TEST(CaseFolding, FoldedComparison) {
  EXPECT_EQ(CompareTextRange(u"abc", 0, 3, u"ABCD", 0, 4), -1);
  EXPECT_EQ(CompareTextRange(u"abd", 0, 3, u"ABC", 0, 3), 1);
  EXPECT_EQ(CompareTextRange(u"xxHello", 2, 100, u"hELLO", -5, 5), 0);
  EXPECT_EQ(CompareTextRange(u"a", 0, 1, u"b", 0, 1), -1);
  EXPECT_TRUE(CaseFoldEquals(u"Stra\u1E9Ee", u"strA\u00DFE"));
  EXPECT_FALSE(CaseFoldEquals(u"abc", u"abcd"));
  EXPECT_TRUE(CaseFoldEquals(u"\U00010400x", u"\U00010428X"));
  // Pairs that share the high surrogate are compared whole, not unit by unit:
  // U+10410 folds to U+10438, which is greater than U+10430, although its
  // low surrogate is smaller.
  EXPECT_LT(CompareTextRange(u"\U00010430", 0, 2, u"\U00010410", 0, 2), 0);
  EXPECT_EQ(CompareTextRange(u"\U00010400", 0, 2, u"\U00010428", 0, 2), 0);
  // A lone high surrogate at the end of the shorter text.
  const std::u16string lone = {u'a', char16_t(0xD801)};
  EXPECT_LT(CompareTextRange(lone, 0, 2, u"a\U00010428", 0, 3), 0);

  EXPECT_EQ(CompareWideStr(u"abc", u"abd", false), -1);
  EXPECT_EQ(CompareWideStr(u"ab", u"abcd", false), -2);
  EXPECT_EQ(CompareWideStr(u"ABC", u"abc", false), 'A' - 'a');
  EXPECT_EQ(CompareWideStr(u"ABC", u"abc", true), 0);
  EXPECT_EQ(CompareWideRange(u"xabc", 1, u"abz", 0, 2), 0);
  EXPECT_EQ(CompareWideRange(u"xabc", 1, u"abz", 0, 3), 'c' - 'z');
  EXPECT_EQ(CompareWideRange(u"ab", 0, u"abc", 0, 3), -1);
}

// File names match whatever their case and Unicode normal form: a name
// typed composed finds the file a Mac stored decomposed, and the reverse.
TEST(CaseFolding, FileNameMatchKeyIgnoresCaseAndNormalForm) {
  const std::u16string composed = u"Caf\u00E9 \u00C5sa.jpg", decomposed = u"Cafe\u0301 A\u030Asa.jpg";
  EXPECT_EQ(FileNameMatchKey(composed), FileNameMatchKey(decomposed));
  EXPECT_EQ(FileNameMatchKey(u"CAF\u00C9 \u00E5SA.JPG"), FileNameMatchKey(decomposed));
  EXPECT_EQ(FileNameMatchKey(composed), u"cafe\u0301 a\u030Asa.jpg");
  // Chains (U+01D5: U with diaeresis and macron), the Angstrom sign, Hangul
  // syllables as jamo, and marks given in another order.
  EXPECT_EQ(FileNameMatchKey(u"\u01D5"), u"u\u0308\u0304");
  EXPECT_EQ(FileNameMatchKey(u"\u212B"), FileNameMatchKey(u"\u00E5"));
  EXPECT_EQ(FileNameMatchKey(u"\uD55C\uAE00"), u"\u1112\u1161\u11AB\u1100\u1173\u11AF");
  EXPECT_EQ(FileNameMatchKey(u"a\u0323\u0307"), FileNameMatchKey(u"a\u0307\u0323"));
  EXPECT_EQ(FileNameMatchKey(u"\u1E0D\u0307"), FileNameMatchKey(u"\u1E0B\u0323"));
  // Different letters stay different; marks of one class keep their order.
  EXPECT_NE(FileNameMatchKey(u"\u00E9"), FileNameMatchKey(u"e"));
  EXPECT_NE(FileNameMatchKey(u"a\u0301\u0300"), FileNameMatchKey(u"a\u0300\u0301"));
  EXPECT_EQ(FileNameMatchKey(u"\U00010400.png"), FileNameMatchKey(u"\U00010428.PNG"));
}

// Case conversion against UnicodeData.txt: every BMP unit maps to its simple
// mapping (or itself), ASCII through the tables.
TEST(CaseConversion, MatchesTheUnicodeData) {
  const auto rows = ReadUnicodeFile("UnicodeData.txt");
  if (rows.empty()) GTEST_SKIP() << "unicode-data not installed";
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> maps;
  for (const auto& r : rows) {
    const uint32_t cp = std::stoul(r[0], nullptr, 16);
    if (cp > 0xFFFF || r.size() < 14) continue;
    uint32_t up = r[12].empty() ? cp : std::stoul(r[12], nullptr, 16);
    uint32_t lo = r[13].empty() ? cp : std::stoul(r[13], nullptr, 16);
    maps[cp] = {up > 0xFFFF ? cp : up, lo > 0xFFFF ? cp : lo};
  }
  std::u16string all;
  for (uint32_t c = 0; c < 0x10000; ++c) all += char16_t(c);
  const std::u16string up = WideUpperCase(all), lo = WideLowerCase(all);
  ASSERT_EQ(up.size(), all.size());
  for (uint32_t c = 0; c < 0x10000; ++c) {
    const auto it = maps.find(c);
    ASSERT_EQ(up[c], it == maps.end() ? c : it->second.first) << std::hex << c;
    ASSERT_EQ(lo[c], it == maps.end() ? c : it->second.second) << std::hex << c;
  }
}

TEST(CaseConversion, RangesAndModes) {
  const std::u16string text = std::u16string(200, u'a') + u"\u00e4";
  const std::u16string up = WideUpperCase(text);
  EXPECT_EQ(up, std::u16string(200, u'A') + u"\u00c4");
  EXPECT_EQ(WideLowerCaseRange(u"ABCDEF", 4, 9), u"ef");
  EXPECT_EQ(WideLowerCase(u"\u00DF\u1E9E\U00010400"), u"\u00DF\u00DF\U00010400");
  EXPECT_EQ(WideUpperCase(u"\u00DF\u00FF"), u"\u00DF\u0178");
  EXPECT_THROW(ChangeCaseRange(u"x", 0, 1, 2), EAbort);
}

TEST(CodePages, AnsiToWideRange) {
  EXPECT_EQ(AnsiToWideRange("x\x80\xe4\x81", 1, 5, CP_ACP), u"\u20ac\u00e4\u0081");
  EXPECT_EQ(AnsiToWideRange("\x80\xe4", 0, 2, 28591), u"\u0080\u00e4");
  EXPECT_EQ(AnsiToWideRange("a\xc3\xa4\xff", 0, 4, CP_UTF8), u"a\u00e4\uFFFD");
  EXPECT_EQ(AnsiToWideRange("\xe4\xe8", 0, 2, 1251), u"\u0434\u0438");
  EXPECT_EQ(AnsiToWideRange("a\x82\xa0" "b", 0, 4, 932), u"a\u3042b");
  EXPECT_EQ(AnsiToWideRange("a\x82", 0, 2, 932), u"a\uFFFD");  // cut lead byte
  EXPECT_EQ(AnsiToWideRange("abc", 0, 3, 4242), u"");
  EXPECT_EQ(AnsiToWideRange("abc", 3, 3, CP_ACP), u"");
}
