#include "VoRav/Graphics/Video/GifVideoSource.h"

#include <gtest/gtest.h>

#include <cstring>

#include "VoRav/vxMemoryStream.h"
#include "tests/VoRav/Graphics/Video/MemYUVImage.h"

namespace kav {
namespace {

using testing::TMemYUVImage;

// A small GIF writer: a 4 x 4 screen, four global colours (0 black, 1 red,
// 2 green, 3 blue), images filled with one colour each.
struct TGifImage {
  int Left, Top, Width, Height;
  uint8_t Color;
  uint8_t Disposal;
  uint16_t Delay;          // hundredths of a second
  int Transparent = -1;    // transparent colour index, -1 none
  int HolePixel = -1;      // this pixel of the image gets the transparent colour
};

class TGifWriter {
 public:
  explicit TGifWriter(int loop) {
    Put("GIF89a");
    Word(4), Word(4);
    Byte(0x81), Byte(0), Byte(0);  // global table of 4 colours
    const uint8_t table[12] = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    bytes_.insert(bytes_.end(), table, table + 12);
    if (loop >= 0) {
      Byte(0x21), Byte(0xFF), Byte(11);
      Put("NETSCAPE2.0");
      Byte(3), Byte(1), Word(uint16_t(loop)), Byte(0);
    }
  }
  void Add(const TGifImage& im) {
    Byte(0x21), Byte(0xF9), Byte(4);
    Byte(uint8_t((im.Disposal << 2) | (im.Transparent >= 0 ? 1 : 0)));
    Word(im.Delay);
    Byte(uint8_t(im.Transparent >= 0 ? im.Transparent : 0)), Byte(0);
    Byte(0x2C), Word(uint16_t(im.Left)), Word(uint16_t(im.Top)), Word(uint16_t(im.Width)), Word(uint16_t(im.Height));
    Byte(0);
    // LZW with 3-bit codes only: a clear code before every two pixels keeps
    // the table from growing.
    std::vector<int> codes;
    const int n = im.Width * im.Height;
    for (int i = 0; i < n; ++i) {
      if (i % 2 == 0) codes.push_back(4);
      codes.push_back(i == im.HolePixel ? im.Transparent : im.Color);
    }
    codes.push_back(5);
    std::vector<uint8_t> data;
    uint32_t acc = 0;
    int bits = 0;
    for (int c : codes) {
      acc |= uint32_t(c) << bits;
      bits += 3;
      while (bits >= 8) {
        data.push_back(uint8_t(acc));
        acc >>= 8;
        bits -= 8;
      }
    }
    if (bits) data.push_back(uint8_t(acc));
    Byte(2);
    for (size_t i = 0; i < data.size(); i += 255) {
      size_t len = std::min<size_t>(255, data.size() - i);
      Byte(uint8_t(len));
      bytes_.insert(bytes_.end(), data.begin() + long(i), data.begin() + long(i + len));
    }
    Byte(0);
  }
  Ref<TStream> Finish() {
    Byte(0x3B);
    auto s = MakeRef<TMemoryStream>();
    s->Write(bytes_, int64_t(bytes_.size()));
    s->SetPosition(0);
    return s;
  }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  void Byte(uint8_t b) { bytes_.push_back(b); }
  void Word(uint16_t w) { Byte(uint8_t(w)), Byte(uint8_t(w >> 8)); }
  void Put(const char* s) { bytes_.insert(bytes_.end(), s, s + strlen(s)); }
  std::vector<uint8_t> bytes_;
};

// Three images: red everywhere (delay 0 = 50 ms, kept), green top-left
// quarter (100 ms, restore to background), blue bottom-right quarter with
// one transparent pixel (200 ms).
Ref<TGifVideoSource> ThreeImageGif(int loop) {
  TGifWriter w(loop);
  w.Add({0, 0, 4, 4, 1, 1, 0});
  w.Add({0, 0, 2, 2, 2, 2, 10});
  w.Add({2, 2, 2, 2, 3, 1, 20, 0, 0});
  Ref<TStream> s = w.Finish();
  auto src = MakeRef<TGifVideoSource>(s.release(), true, u"anim.gif");
  EXPECT_TRUE(src->Open());
  return src;
}

uint32_t Pixel(const TDirectBitmap* b, int x, int y) {
  uint32_t v;
  memcpy(&v, b->Row(y) + 4 * x, 4);
  return v;
}

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;

TEST(GifVideoSource, TimingZeroDelaysAndLoopCounts) {
  auto forever = ThreeImageGif(0);
  EXPECT_EQ(forever->ImageCount(), 3);
  EXPECT_DOUBLE_EQ(forever->Info().FramesPerSecond, 20.0);  // the shortest delay: 0 counts as 50 ms
  EXPECT_EQ(forever->Info().DurationMs, 350);
  EXPECT_EQ(forever->Info().FrameCount, 1000000);
  EXPECT_EQ(forever->Info().CodecName, u"GIF");
  // Frame n shows at n x 50 ms; image ends at 50, 150 and 350 ms.
  const int expect[] = {0, 1, 1, 2, 2, 2, 2, 2, 1, 1, 2};
  for (int n = 0; n < 11; ++n) EXPECT_EQ(forever->FrameIndex(n), expect[n]) << n;

  auto once = ThreeImageGif(-1);  // no loop extension: one pass
  EXPECT_EQ(once->Info().FrameCount, 7);
  EXPECT_EQ(once->FrameIndex(8), 2);    // the last image is held
  EXPECT_EQ(once->FrameIndex(500), 2);
  EXPECT_EQ(once->FrameIndex(-3), 0);
}

TEST(GifVideoSource, ComposesWithDisposalAndTransparency) {
  auto gif = ThreeImageGif(0);
  Ref<TDirectBitmap> f1 = gif->Compose(1);
  ASSERT_TRUE(f1);
  EXPECT_EQ(Pixel(f1.get(), 0, 0), kGreen);
  EXPECT_EQ(Pixel(f1.get(), 3, 0), kRed);
  Ref<TDirectBitmap> f2 = gif->Compose(2);
  ASSERT_TRUE(f2);
  // Image 1 asked to restore its area to the background: it is cleared.
  EXPECT_EQ(Pixel(f2.get(), 0, 0) >> 24, 0u);
  EXPECT_EQ(Pixel(f2.get(), 3, 0), kRed);
  EXPECT_EQ(Pixel(f2.get(), 3, 3), kBlue);
  // The transparent pixel of image 2 shows what was under it.
  EXPECT_EQ(Pixel(f2.get(), 2, 2), kRed);
  // Composing again from the cached key frame gives the same picture, in
  // any order.
  EXPECT_EQ(Pixel(gif->Compose(1).get(), 0, 0), kGreen);
  EXPECT_EQ(Pixel(gif->Compose(2).get(), 2, 2), kRed);
}

TEST(GifVideoSource, KeyFramesEveryTenthImageGiveTheSamePictures) {
  TGifWriter w(0);
  for (int i = 0; i < 25; ++i) w.Add({i % 4, (i / 4) % 4, 1, 1, uint8_t(1 + i % 3), 1, 5});
  auto gif = MakeRef<TGifVideoSource>(w.Finish().release(), true, u"many.GIF");
  ASSERT_TRUE(gif->Open());
  ASSERT_EQ(gif->ImageCount(), 25);
  // Composed backwards (from key frames) and forwards must agree.
  std::vector<std::vector<uint8_t>> backwards(25);
  for (int i = 24; i >= 0; --i) {
    auto b = gif->Compose(i);
    backwards[i].assign(b->Row(0), b->Row(0) + 64);
  }
  auto fresh = MakeRef<TGifVideoSource>(nullptr, false, u"x.gif");
  for (int i = 0; i < 25; ++i) {
    auto b = gif->Compose(i);
    EXPECT_EQ(0, memcmp(backwards[i].data(), b->Row(0), 64)) << i;
  }
  EXPECT_FALSE(fresh->Open());  // no stream
}

TEST(GifVideoSource, DeliversIntoRgbaPlanarAndPackedImages) {
  auto gif = ThreeImageGif(0);
  TMemYUVImage rgba(4, 4, true, false), planar(4, 4), packed(4, 4, false, true);
  ASSERT_TRUE(gif->GetFrame(1, &rgba));
  uint32_t px;
  memcpy(&px, rgba.Plane(kYuvPlaneRgba), 4);
  EXPECT_EQ(px, kGreen);
  ASSERT_TRUE(gif->GetFrame(0, &planar));
  EXPECT_EQ(planar.Plane(kYuvPlaneY)[0], 82);   // red in limited-range YUV
  EXPECT_EQ(planar.Plane(kYuvPlaneV)[0], 240);
  ASSERT_TRUE(gif->GetFrame(0, &packed));
  EXPECT_EQ(rgba.Commits() + planar.Commits() + packed.Commits(), 3);
  auto bmp = MakeRef<TDirectBitmap>(4, 4, StdFormats().R8G8B8);
  ASSERT_TRUE(gif->GetFrame24(1, bmp.get()));
  EXPECT_EQ(bmp->Row(0)[1], 255);  // green
}

TEST(GifVideoSource, BrokenGifsOpenAsNoneOrKeepTheirWholeImages) {
  auto not_gif = MakeRef<TStringStream>(std::string("GIF12a not really"));
  EXPECT_FALSE(MakeRef<TGifVideoSource>(not_gif.get(), false, u"a.gif")->Open());
  // Cut in the third image: the first two remain.
  TGifWriter w(0);
  w.Add({0, 0, 4, 4, 1, 1, 0});
  w.Add({0, 0, 2, 2, 2, 1, 10});
  w.Add({2, 2, 2, 2, 3, 1, 20});
  auto bytes = w.Bytes();
  bytes.erase(bytes.end() - 6, bytes.end());
  auto s = MakeRef<TMemoryStream>();
  s->Write(bytes, int64_t(bytes.size()));
  auto gif = MakeRef<TGifVideoSource>(s.get(), false, u"cut.gif");
  ASSERT_TRUE(gif->Open());
  EXPECT_GE(gif->ImageCount(), 2);
  TMemYUVImage image(4, 4, true, false);
  for (int n = 0; n < 20; ++n) gif->GetFrame(n, &image);
  EXPECT_EQ(image.MonitorEntries(), 0);
}

}  // namespace
}  // namespace kav
