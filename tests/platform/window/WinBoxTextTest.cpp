// A message box's text in lines that fit: the text's own breaks kept, lines
// broken at spaces, a long word cut between characters.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/window/WinBoxText.h"

namespace kav::win {
namespace {

// Ten pixels a character (a UTF-8 sequence counts once).
int32_t TenEach(std::string_view s) {
  int32_t n = 0;
  for (char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n * 10;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::string line;
  std::istringstream in(s);
  while (std::getline(in, line)) out.push_back(line);
  if (!s.empty() && s.back() == '\n') out.push_back("");
  return out;
}

std::string Words(const std::string& s) {
  std::istringstream in(s);
  std::string w, all;
  while (in >> w) all += w + ' ';
  return all;
}

TEST(WinBoxText, LongSentenceWrapsAtSpacesWithinTheWidth) {
  const std::string text =
      "The slide cannot be saved: The desktop portal left the bus while its file chooser was open";
  const std::string wrapped = WrapBoxText(text, 300, TenEach);
  const std::vector<std::string> lines = Lines(wrapped);
  ASSERT_GT(lines.size(), 2u) << wrapped;
  for (const std::string& line : lines) {
    EXPECT_LE(TenEach(line), 300) << line;
    EXPECT_FALSE(line.empty());
    EXPECT_NE(line.front(), ' ') << line;
    EXPECT_NE(line.back(), ' ') << line;
  }
  EXPECT_EQ(Words(wrapped), Words(text));
  // Greedy: each line but the last would not take the next line's first word.
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string next_word = lines[i + 1].substr(0, lines[i + 1].find(' '));
    EXPECT_GT(TenEach(lines[i] + " " + next_word), 300) << lines[i];
  }
  // A text that fits stays as it is.
  EXPECT_EQ(WrapBoxText("Slide saved.", 300, TenEach), "Slide saved.");
}

TEST(WinBoxText, TheTextsOwnLineBreaksStay) {
  EXPECT_EQ(WrapBoxText("one\r\ntwo\nthree\rfour", 1000, TenEach), "one\ntwo\nthree\nfour");
  EXPECT_EQ(WrapBoxText("a\n\nb\n", 1000, TenEach), "a\n\nb\n");
  EXPECT_EQ(WrapBoxText("Not a show file:\r/home/me/a b c d e f", 100, TenEach),
            "Not a show\nfile:\n/home/me/a\nb c d e f");
  // Leading spaces of a paragraph are kept; those at a break go.
  EXPECT_EQ(WrapBoxText("  ab cd", 1000, TenEach), "  ab cd");
  EXPECT_EQ(WrapBoxText("aaaa    bbbb", 60, TenEach), "aaaa\nbbbb");
}

TEST(WinBoxText, AWordWiderThanALineIsCutBetweenCharacters) {
  const std::string path = "/home/me/Pictures/été/ünïcödé/slide-0001.png";  // no space
  const std::string wrapped = WrapBoxText("As " + path + " ok", 100, TenEach);
  std::string joined;
  for (const std::string& line : Lines(wrapped)) {
    EXPECT_LE(TenEach(line), 100) << line;
    // Every line is whole UTF-8: no sequence is cut.
    EXPECT_NE(static_cast<unsigned char>(line.front()) & 0xC0, 0x80u) << line;
    for (char c : line)
      if (c != ' ') joined += c;
  }
  EXPECT_EQ(joined, "As" + path + "ok");
  // However narrow the width, each line holds a character.
  EXPECT_EQ(WrapBoxText("abc", 1, TenEach), "a\nb\nc");
}

TEST(WinBoxText, TheLineWidthFollowsTheScreen) {
  EXPECT_EQ(BoxTextWidth(800), 500);
  EXPECT_EQ(BoxTextWidth(1920), 1200);
  EXPECT_EQ(BoxTextWidth(100), 160);
}

}  // namespace
}  // namespace kav::win
