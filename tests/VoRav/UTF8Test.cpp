#include <gtest/gtest.h>
#include <iconv.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

using namespace kav;

namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s += char(x);
  return s;
}

// The message of a failed assertion, without the file and line.
std::string AssertionText(const EAbort& e) {
  const std::string& m = e.Message();
  const size_t a = m.find('\'') + 1, b = m.find('\'', a);
  return m.substr(a, b - a);
}

// Decodes from an exactly sized heap copy, so that a read past the input is
// caught by the address sanitizer; returns the assertion text or "".
std::string DecodeError(const std::string& bytes) {
  std::unique_ptr<char[]> copy(new char[bytes.size() ? bytes.size() : 1]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  try {
    UTF8Decode(std::string_view(copy.get(), bytes.size()));
    UTF8CharCount(std::string_view(copy.get(), bytes.size()));
  } catch (const EAbort& e) {
    return AssertionText(e);
  }
  return "";
}

// Standard UTF-8 from the C library, as an independent reference.
std::string IconvUTF8(const std::u16string& text) {
  iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
  std::string in;
  for (char16_t c : text) { in += char(c & 0xFF); in += char(c >> 8); }
  std::string out(in.size() * 2 + 8, '\0');
  char* ip = in.data(); size_t il = in.size();
  char* op = out.data(); size_t ol = out.size();
  EXPECT_NE(iconv(cd, &ip, &il, &op, &ol), size_t(-1));
  iconv_close(cd);
  out.resize(out.size() - ol);
  return out;
}

}  // namespace

TEST(UTF8, SurrogatePairsAreEncodedPerUnitAndBothFormsDecode) {
  const std::u16string smiley = u"\U0001F600";
  const std::string six = Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80});
  EXPECT_EQ(UTF8Encode(smiley), six);
  EXPECT_EQ(UTF8ByteCount(smiley), 6u);
  EXPECT_EQ(UTF8Decode(six), smiley);
  EXPECT_EQ(UTF8Decode(Bytes({0xF0, 0x9F, 0x98, 0x80})), smiley);
  EXPECT_EQ(UTF8CharCount(Bytes({0xF0, 0x9F, 0x98, 0x80})), 2u);
  // Overlong forms are accepted; lone surrogates round-trip.
  EXPECT_EQ(UTF8Decode(Bytes({0xC0, 0x81})), std::u16string(1, u'\x01'));
  const std::u16string lone = {u'a', char16_t(0xDC00), char16_t(0xD800)};
  EXPECT_EQ(UTF8Decode(UTF8Encode(lone)), lone);
  EXPECT_EQ(UTF8Encode(u"A\u00e4\u20ac"), Bytes({0x41, 0xC3, 0xA4, 0xE2, 0x82, 0xAC}));
}

TEST(UTF8, RandomUnitsRoundTripAndRangesClamp) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::u16string text;
    const int n = rng() % 64;
    for (int i = 0; i < n; ++i) {
      const int kind = rng() % 4;
      text += char16_t(kind == 0 ? rng() % 0x80 : kind == 1 ? rng() % 0x800 : rng() % 0x10000);
    }
    const std::string enc = UTF8Encode(text);
    ASSERT_EQ(enc.size(), UTF8ByteCount(text));
    ASSERT_EQ(UTF8Decode(enc), text);
    std::vector<uint8_t> arr;
    UTF8EncodeRange(text, 0, n, arr);
    ASSERT_EQ(std::string(arr.begin(), arr.end()), enc);
    ASSERT_EQ(UTF8DecodeRange(arr, 0, ptrdiff_t(arr.size())), text);
  }
  EXPECT_EQ(UTF8EncodeStrRange(u"hello", -3, 2), "he");
  EXPECT_EQ(UTF8EncodeStrRange(u"hello", 3, 100), "lo");
  EXPECT_EQ(UTF8EncodeStrRange(u"hello", 9, 1), "");
  EXPECT_EQ(UTF8EncodeStrRange(u"hello", 1, -1), "");
  EXPECT_EQ(UTF8DecodeStrRange("hello", 1, 3), u"ell");
  EXPECT_EQ(UTF8ByteCount(u"a\u00e4\u20ac", 1, 5), 5u);
}

TEST(UTF8, EncodeCharsStopsAtTheRoom) {
  const std::u16string text = u"a\u00e4\u20acb";  // 1 + 2 + 3 + 1 bytes
  uint8_t buf[8];
  size_t written = 99;
  EXPECT_EQ(UTF8EncodeChars(text, 0, 4, buf, written, 5), 2u);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(UTF8EncodeChars(text, 0, 4, buf, written, 7), 4u);
  EXPECT_EQ(written, 7u);
  EXPECT_EQ(UTF8EncodeChars(text, 2, 4, buf, written, 2), 0u);
  EXPECT_EQ(written, 0u);
}

TEST(UTF8, InvalidInputIsACleanAssertion) {
  EXPECT_EQ(DecodeError(Bytes({0xC0})), "Invalid UTF8 Char");
  EXPECT_EQ(DecodeError(Bytes({0xC3, 0x41})), "Invalid UTF8 Char");
  EXPECT_EQ(DecodeError(Bytes({0x80})), "Invalid UTF8 Char");
  EXPECT_EQ(DecodeError(Bytes({0xF8, 0x80, 0x80, 0x80, 0x80})), "Invalid UTF8 Char");
  EXPECT_EQ(DecodeError(Bytes({0xFF})), "Invalid UTF8 Char");
  EXPECT_EQ(DecodeError(Bytes({0xF7, 0xBF, 0xBF, 0xBF})), "Illegal char range for surrogates");
  // Every truncation of multi-byte sequences, after ASCII runs of all lengths
  // (the 8-byte fast path), fails without reading past the end.
  const std::string full = Bytes({0xF0, 0x9F, 0x98, 0x80});
  for (int prefix = 0; prefix < 17; ++prefix)
    for (size_t cut = 1; cut < full.size(); ++cut)
      EXPECT_EQ(DecodeError(std::string(prefix, 'x') + full.substr(0, cut)), "Invalid UTF8 Char");
  EXPECT_EQ(DecodeError(std::string(17, 'x') + full), "");
  try {
    char16_t a, b;
    CodePointToUTF16(0x110000, a, b);
    FAIL();
  } catch (const EAbort& e) {
    EXPECT_EQ(AssertionText(e), "Invalud Unicode Range");
  }
}

TEST(UTF8, SystemCodecIsStandardUTF8) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    std::u16string text;
    for (int i = rng() % 40; i > 0; --i) {
      uint32_t cp = rng() % 0x110000;
      if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0x41;
      char16_t a, b;
      if (CodePointToUTF16(cp, a, b) == 1) text += a; else { text += a; text += b; }
    }
    const std::string sys = WideToSystemUTF8(text);
    ASSERT_EQ(sys, IconvUTF8(text));
    ASSERT_EQ(SystemUTF8ToWide(sys), text);
    ASSERT_EQ(UTF8Decode(sys), text);  // the library reads the standard form too
  }
  const std::u16string lone = {u'a', char16_t(0xD800), u'b'};
  EXPECT_EQ(WideToSystemUTF8(lone), "a\xEF\xBF\xBD" "b");
  // Invalid bytes: CESU surrogates, overlongs, truncation, stray continuations.
  EXPECT_EQ(SystemUTF8ToWide(Bytes({0xED, 0xA0, 0xBD})), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(SystemUTF8ToWide(Bytes({0xC0, 0x81, 0x41})), u"\uFFFD\uFFFDA");
  EXPECT_EQ(SystemUTF8ToWide(Bytes({0x41, 0xE2, 0x82})), u"A\uFFFD");
  EXPECT_EQ(SystemUTF8ToWide(Bytes({0x80, 0xF4, 0x90, 0x80, 0x80})), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}
