// The layer's clipboard over the null backend's memory, and the checks of
// the SDL backend's DIB conversions (header fields against the bytes).
#include <gtest/gtest.h>

#include <cstring>

#include "platform/window/sdl/SdlClipboard.h"
#include "tests/platform/window/WinTestUtil.h"

namespace kav::win {
namespace {

std::vector<uint8_t> Bytes(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

TEST(WinClipboard, OpeningsNestPerWindowAndPutTheirChangesAtClose) {
  DoneWindowSystem();
  const uint32_t stamp = GetClipboardSequenceNumber();
  ASSERT_TRUE(OpenClipboard(0));
  EXPECT_FALSE(OpenClipboard(7)) << "no such window";
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_TRUE(SetClipboardData(CF_UNICODETEXT, Bytes("a")));
  // Inside the opening the block is there, outside not yet.
  std::vector<uint8_t> got;
  EXPECT_TRUE(GetClipboardData(CF_UNICODETEXT, got));
  EXPECT_EQ(got, Bytes("a"));
  EXPECT_EQ(GetClipboardSequenceNumber(), stamp);
  EXPECT_TRUE(CloseClipboard());
  EXPECT_NE(GetClipboardSequenceNumber(), stamp);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));
  // Closed: the calls that need an opening refuse.
  EXPECT_FALSE(CloseClipboard());
  EXPECT_EQ(GetLastError(), uint32_t(ERROR_CLIPBOARD_NOT_OPEN));
  EXPECT_FALSE(EmptyClipboard());
  EXPECT_FALSE(GetClipboardData(CF_UNICODETEXT, got));

  // A set without emptying keeps the other format; an opening that changes
  // nothing puts nothing.
  ASSERT_TRUE(OpenClipboard(0));
  EXPECT_TRUE(SetClipboardData(CF_DIB, Bytes("dib")));
  EXPECT_TRUE(CloseClipboard());
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB));
  const uint32_t after = GetClipboardSequenceNumber();
  ASSERT_TRUE(OpenClipboard(0));
  EXPECT_TRUE(CloseClipboard());
  EXPECT_EQ(GetClipboardSequenceNumber(), after);
  DoneWindowSystem();
}

class WinClipboardWindows : public WindowTest {};

TEST_F(WinClipboardWindows, AnotherWindowCannotOpenItWhileItIsOpen) {
  const HWND a = MakeTop(), b = MakeTop();
  ASSERT_TRUE(OpenClipboard(a));
  EXPECT_EQ(GetOpenClipboardWindow(), a);
  EXPECT_FALSE(OpenClipboard(b));
  EXPECT_EQ(GetLastError(), uint32_t(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseClipboard());
  EXPECT_TRUE(OpenClipboard(b));
  EXPECT_TRUE(CloseClipboard());
  EXPECT_EQ(GetOpenClipboardWindow(), 0u);
}

// A 40-byte header with the given fields, then `extra` bytes.
std::vector<uint8_t> Dib(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t used, size_t extra) {
  std::vector<uint8_t> d(40 + extra, 0);
  auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) d[at + size_t(i)] = uint8_t(v >> (8 * i)); };
  put32(0, 40);
  put32(4, uint32_t(w));
  put32(8, uint32_t(h));
  d[12] = 1;
  d[14] = uint8_t(bits);
  put32(16, compression);
  put32(32, used);
  return d;
}

TEST(SdlClipboardConversion, DibHeadersAreCheckedAgainstTheBytesPresent) {
  int32_t w = 0, h = 0;
  std::vector<uint8_t> rgba;
  // 2 x 2, 24 bits, bottom-up: rows of 8 bytes (6 + padding).
  std::vector<uint8_t> ok = Dib(2, 2, 24, 0, 0, 16);
  ok[40 + 8] = 255;  // top row, first pixel: blue
  ASSERT_TRUE(DibToRgba(ok, w, h, rgba));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(rgba[2], 255);  // RGBA: blue third
  EXPECT_EQ(rgba[3], 255);
  const std::vector<uint8_t> bmp = DibToBmpFile(ok);
  ASSERT_EQ(bmp.size(), ok.size() + 14);
  EXPECT_EQ(bmp[10], 54);  // pixels right after the headers
  EXPECT_FALSE(EncodePng(w, h, rgba).empty());

  // One byte short of the rows; a header size past the block; a palette
  // larger than the bit count allows; sizes past the caps; no header at all.
  EXPECT_FALSE(DibToRgba(Dib(2, 2, 24, 0, 0, 15), w, h, rgba));
  std::vector<uint8_t> big_header = ok;
  big_header[0] = 200;
  EXPECT_FALSE(DibToRgba(big_header, w, h, rgba));
  EXPECT_FALSE(DibToRgba(Dib(1, 1, 1, 0, 3, 12 + 4), w, h, rgba));
  EXPECT_FALSE(DibToRgba(Dib(70000, 1, 8, 0, 0, 70000 + 1024), w, h, rgba));
  EXPECT_FALSE(DibToRgba(Dib(0x7FFFFFFF, 0x7FFFFFFF, 32, 0, 0, 16), w, h, rgba));
  EXPECT_FALSE(DibToRgba(Dib(1, INT32_MIN, 8, 0, 0, 1028), w, h, rgba));
  EXPECT_FALSE(DibToRgba(std::vector<uint8_t>(39, 0), w, h, rgba));
  EXPECT_TRUE(DibToBmpFile(std::vector<uint8_t>(12, 0)).empty());
  // Bit fields of a 40-byte header need their 12 mask bytes.
  EXPECT_FALSE(DibToRgba(Dib(1, 1, 32, 3, 0, 4), w, h, rgba));
  std::vector<uint8_t> fields = Dib(1, 1, 16, 3, 0, 12 + 4);
  fields[40] = 0x00, fields[41] = 0xF8;  // red 0xF800
  fields[44] = 0xE0, fields[45] = 0x07;  // green 0x07E0
  fields[48] = 0x1F;                      // blue 0x001F
  fields[52] = 0xFF, fields[53] = 0xFF;   // white
  ASSERT_TRUE(DibToRgba(fields, w, h, rgba));
  EXPECT_EQ(rgba, (std::vector<uint8_t>{255, 255, 255, 255}));
  // 8 bits with a palette of two colours: index 1 is the second entry;
  // an index past the palette stays black.
  std::vector<uint8_t> pal = Dib(2, 1, 8, 0, 2, 8 + 4);
  pal[44] = 10, pal[45] = 20, pal[46] = 30;  // colour 1: B G R
  pal[48] = 1, pal[49] = 5;
  ASSERT_TRUE(DibToRgba(pal, w, h, rgba));
  EXPECT_EQ(rgba, (std::vector<uint8_t>{30, 20, 10, 255, 0, 0, 0, 255}));
  // Run-length data goes out as BMP only.
  std::vector<uint8_t> rle = Dib(1, 1, 8, 1, 0, 1024 + 4);
  rle[20] = 4;
  EXPECT_FALSE(DibToRgba(rle, w, h, rgba));
  EXPECT_FALSE(DibToBmpFile(rle).empty());
}

}  // namespace
}  // namespace kav::win
