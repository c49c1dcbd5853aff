#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ProbeStream.h"
#include "VoRav/vxTextReader.h"

namespace kav {
namespace {

Ref<test::TProbeStream> StreamOf(std::vector<uint8_t> bytes, int64_t piece = 1 << 30) {
  auto s = MakeRef<test::TProbeStream>(std::move(bytes));
  s->read_piece = piece;
  return s;
}

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

// Reads everything, `step` characters at a time.
std::u16string ReadAll(TTextReader* r, size_t step = 100) {
  std::u16string out;
  std::u16string chunk(step, u'\0');
  for (;;) {
    size_t n = r->ReadText(chunk, 0, step);
    out.append(chunk, 0, n);
    if (n < step) return out;
  }
}

TEST(TextReaders, UnmarkedTextIsUTF8OnlyWhenValidAndNotPlainASCII) {
  EXPECT_TRUE(IsUnmarkedUTF8Text("Caf\xC3\xA9"));
  EXPECT_TRUE(IsUnmarkedUTF8Text("\xE2\x82\xAC \xF4\x8F\xBF\xBF"));  // euro, U+10FFFF
  EXPECT_TRUE(IsUnmarkedUTF8Text("\xED\xA0\xBD\xED\xB8\x80"));       // the library's surrogate halves
  EXPECT_FALSE(IsUnmarkedUTF8Text(""));
  EXPECT_FALSE(IsUnmarkedUTF8Text("plain ascii\r\n"));
  EXPECT_FALSE(IsUnmarkedUTF8Text("Caf\xE9"));             // Windows-1252
  EXPECT_FALSE(IsUnmarkedUTF8Text("\xC3\xA9\xE9"));        // valid, then a stray 1252 byte
  EXPECT_FALSE(IsUnmarkedUTF8Text("\xC3"));                // cut short
  EXPECT_FALSE(IsUnmarkedUTF8Text("\xC0\xAF"));            // overlong
  EXPECT_FALSE(IsUnmarkedUTF8Text("\xE0\x80\xAF"));        // overlong
  EXPECT_FALSE(IsUnmarkedUTF8Text("\xF4\x90\x80\x80"));    // above U+10FFFF
  EXPECT_FALSE(IsUnmarkedUTF8Text("\x80"));                // continuation without a lead
}

TEST(TextReaders, RegistryListsNewestFirstAndOpenPrefersAByteOrderMark) {
  RegisterStandardTextReaders();
  RegisterStandardTextReaders();  // once only
  auto classes = RegisteredTextReaders();
  ASSERT_EQ(classes.size(), 4u);
  EXPECT_STREQ(classes[0]->Name, "TAnsiReader");
  EXPECT_STREQ(classes[3]->Name, "TUnicodeReader");

  struct TCase {
    std::vector<uint8_t> bytes;
    std::u16string text;
  } cases[] = {
      {{0xFF, 0xFE, 'h', 0, 'i', 0}, u"hi"},
      {{0xFE, 0xFF, 0, 'h', 0, 'i'}, u"hi"},
      {{0xEF, 0xBB, 0xBF, 'h', 'i'}, u"hi"},
      {{0xEF, 0xBB, 'h'}, u"\u00EF\u00BBh"},  // a cut mark is ANSI text, read from the start
      {{0xFF}, u"\u00FF"},
      {{}, u""},
      {Bytes("Caf\xC3\xA9"), u"Caf\u00E9"},  // unmarked UTF-8 reads as UTF-8
      {Bytes("Caf\xE9"), u"Caf\u00E9"},      // Windows-1252 that is not UTF-8 reads as ANSI
  };
  for (auto& c : cases) {
    auto s = StreamOf(c.bytes);
    auto r = OpenTextReader(s.get());
    ASSERT_TRUE(r);
    EXPECT_EQ(ReadAll(r.get()), c.text);
  }
}

TEST(TextReaders, Utf16InBothOrdersAcrossBufferRefillsLeavesALoneFinalByte) {
  // More than one buffer, handed out by the stream in odd pieces.
  std::u16string text;
  for (int i = 0; i < 20000; ++i) text += static_cast<char16_t>(0x20 + (i * 7919) % 0xD000);
  std::vector<uint8_t> le, be;
  for (char16_t c : text) {
    le.push_back(c & 0xFF), le.push_back(c >> 8);
    be.push_back(c >> 8), be.push_back(c & 0xFF);
  }
  le.push_back(0x41);  // a lone final byte
  be.push_back(0x41);
  auto sl = StreamOf(le, 999);
  TUnicodeReader rl(sl.get());
  EXPECT_EQ(ReadAll(&rl, 333), text);
  EXPECT_EQ(rl.Delivered(), 20000);
  auto sb = StreamOf(be, 1001);
  TUnicodeBEReader rb(sb.get());
  EXPECT_EQ(ReadAll(&rb, 4096), text);
}

TEST(TextReaders, Utf8DecodesEveryLengthAndSplitsPairsOverCalls) {
  // 1..4-byte forms, a surrogate written as its own 3-byte form, and the
  // long forms (five bytes for 'A').
  auto s = StreamOf({'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 0xED, 0xA0, 0xBD, 0xF8, 0x80, 0x80,
                     0x81, 0x81, 0xFC, 0x80, 0x80, 0x80, 0x81, 0x81},
                    1);
  TUTF8Reader r(s.get());
  std::u16string one(1, u'\0');
  std::u16string got;
  while (r.ReadText(one, 0, 1) == 1) got += one;
  EXPECT_EQ(got, std::u16string(u"A\u00E9\u20AC") + u"\xD83D\xDE00" + u"\xD83D" + u"AA");

  // A pair with a single character of room: the high half now, the low one
  // next, and a saved position between them keeps the low half.
  auto s2 = StreamOf({0xF0, 0x9F, 0x98, 0x80, 'z'});
  TUTF8Reader r2(s2.get());
  std::u16string buf(3, u'\0');
  ASSERT_EQ(r2.ReadText(buf, 2, 1), 1u);
  EXPECT_EQ(buf[2], u'\xD83D');
  auto pos = r2.SavePosition();
  ASSERT_EQ(r2.ReadText(buf, 0, 2), 2u);
  EXPECT_EQ(buf.substr(0, 2), u"\xDE00z");
  r2.RestorePosition(pos.get());
  ASSERT_EQ(r2.ReadText(buf, 0, 3), 2u);
  EXPECT_EQ(buf.substr(0, 2), u"\xDE00z");
}

TEST(TextReaders, HostileUtf8RaisesInvalidChar) {
  const std::vector<std::vector<uint8_t>> bad = {
      {0x80},                                // continuation without a lead byte
      {'a', 0xBF, 'b'},                      //   the same after good text
      {0xC3, 'A'},                           // a lead byte followed by no continuation
      {0xE2, 0x82},                          // cut by the end of the stream
      {0xFE}, {0xFF},                        // never valid
      {0xF4, 0x90, 0x80, 0x80},              // above U+10FFFF
      {0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF},  // far above
  };
  for (auto& b : bad) {
    auto s = StreamOf(b);
    TUTF8Reader r(s.get());
    EXPECT_THROW(ReadAll(&r), EInvalidChar) << b.size();
  }
}

TEST(TextReaders, RandomBytesNeverDoWorseThanAnException) {
  std::mt19937 rng(1234);
  auto cp932 = MakeRef<TAnsiCodePage>(932);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bytes(rng() % 64);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    for (int kind = 0; kind < 4; ++kind) {
      auto s = StreamOf(bytes, 1 + rng() % 5);
      Ref<TTextReader> r;
      if (kind == 0) r = MakeRef<TUnicodeReader>(s.get());
      if (kind == 1) r = MakeRef<TUnicodeBEReader>(s.get());
      if (kind == 2) r = MakeRef<TUTF8Reader>(s.get());
      if (kind == 3) r = MakeRef<TAnsiReader>(s.get(), cp932);
      try {
        std::u16string text = ReadAll(r.get(), 1 + rng() % 7);
        EXPECT_LE(text.size(), bytes.size());
      } catch (const EInvalidChar&) {
      }
    }
  }
}

TEST(TextReaders, PositionsBelongToOneReaderAndOneBuffer) {
  auto s = StreamOf(Bytes("abcdef"));
  TUTF8Reader r(s.get());
  auto other_stream = StreamOf(Bytes("xyz"));
  TUTF8Reader other(other_stream.get());
  auto foreign = other.SavePosition();
  EXPECT_THROW(r.RestorePosition(foreign.get()), EIncorrectPositionValue);
  EXPECT_THROW(r.RestorePosition(nullptr), EIncorrectPositionValue);
  std::u16string buf(2, u'\0');
  r.ReadText(buf, 0, 2);
  auto pos = r.SavePosition();
  EXPECT_EQ(pos->StreamPosition, 2);
  r.ReadText(buf, 0, 2);
  r.RestorePosition(pos.get());
  r.ReadText(buf, 0, 2);
  EXPECT_EQ(buf, u"cd");
  // A range outside the text is an assertion.
  EXPECT_THROW(r.ReadText(buf, 1, 2), EAbort);
  EXPECT_EQ(r.ReadBytes(100), 2u);
}

TEST(TextReaders, AnsiCodePagesSingleAndDoubleByte) {
  struct TCase {
    uint32_t cp;
    std::vector<uint8_t> bytes;
    std::u16string text;
  } cases[] = {
      {0, {'A', 0x80, 0x81, 0xE9}, u"A\u20AC\u0081\u00E9"},  // the default: Windows-1252
      {1251, {0xC0, 0xFF, 0xB8}, u"\u0410\u044F\u0451"},
      {1253, {0xC1, 0xE1}, u"\u0391\u03B1"},
      {932, {0x82, 0xA0, 'a', 0x83, 0x41, 0xB1}, u"\u3042a\u30A2\uFF71"},
      {936, {0xC4, 0xE3, 0xBA, 0xC3}, u"\u4F60\u597D"},
      {949, {0xB0, 0xA1}, u"\uAC00"},
      {950, {0xA4, 0xA4}, u"\u4E2D"},
      {932, {0x82, 0x20}, std::u16string(1, u'\0')},  // an undefined pair
      {932, {'x', 0x82}, u"x"},                     // a lead byte at the very end stays unread
  };
  for (auto& c : cases) {
    auto page = MakeRef<TAnsiCodePage>(c.cp);
    ASSERT_TRUE(page->Valid()) << c.cp;
    auto s = StreamOf(c.bytes, 1);
    TAnsiReader r(s.get(), page);
    EXPECT_EQ(ReadAll(&r, 1), c.text) << c.cp;
  }
  EXPECT_EQ(MakeRef<TAnsiCodePage>(0)->Number(), GetDefaultCodePage());
  EXPECT_FALSE(MakeRef<TAnsiCodePage>(12345)->Valid());
}

TEST(TextReaders, AnsiPairSplitByTheBufferEdgeAndRestoredPositions) {
  // 4095 single bytes, then a pair whose trail byte lies in the next buffer.
  std::vector<uint8_t> bytes(4095, 'a');
  bytes.push_back(0x82);
  bytes.push_back(0xA0);
  bytes.push_back('b');
  auto s = StreamOf(bytes);
  TAnsiReader r(s.get(), MakeRef<TAnsiCodePage>(932));
  std::u16string text = ReadAll(&r, 1000);
  ASSERT_EQ(text.size(), 4097u);
  EXPECT_EQ(text.substr(4095), u"\u3042b");

  auto s2 = StreamOf(Bytes("hello"));
  TAnsiReader r2(s2.get());
  std::u16string buf(2, u'\0');
  r2.ReadText(buf, 0, 2);
  auto pos = r2.SavePosition();
  r2.ReadText(buf, 0, 2);
  r2.RestorePosition(pos.get());
  r2.ReadText(buf, 0, 2);
  EXPECT_EQ(buf, u"ll");
  auto utf_stream = StreamOf(Bytes("q"));
  TUTF8Reader utf(utf_stream.get());
  EXPECT_THROW(r2.RestorePosition(utf.SavePosition().get()), EIncorrectPositionValue);
}

}  // namespace
}  // namespace kav
