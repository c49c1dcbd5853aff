// The GIF reader and its LZW decoder on hand-built files: table states,
// damaged and hostile data, transparency, extensions and frame sequences.
#include <gtest/gtest.h>

#include <random>

#include "GifTestUtil.h"
#include "VoRav/Graphics/vxFPReadGIF.h"
#include "VoRav/wpExceptions.h"

using namespace kav;
using namespace kav::test;

namespace {

std::vector<uint8_t> RandomIndices(size_t n, int colors, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& i : v) i = uint8_t(rng() % unsigned(colors));
  return v;
}

Ref<TDirectBitmap> ReadFirst(const std::vector<uint8_t>& bytes) {
  return MakeRef<TFPReaderGif>()->InternalRead(MemStream(bytes).get());
}

// Every pixel is the builder palette's colour of its index.
void ExpectIndices(TDirectBitmap* b, const std::vector<uint8_t>& idx) {
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x)
      ASSERT_EQ(Px(b, x, y), BuilderColor(idx[size_t(y * b->Width() + x)])) << x << "," << y;
}

}  // namespace

TEST(GifLzw, DecodesEveryTableState) {
  struct Case {
    int w, h, bits, min_size;
    bool defer_clear, interlaced;
    int colors;
  } cases[] = {
      {300, 200, 8, 8, false, false, 256},  // fills the table many times, clear codes
      {300, 200, 8, 8, true, false, 256},   // full table kept without a clear code
      {97, 61, 2, 2, true, true, 4},        // small codes, interlaced rows
      {64, 64, 1, 2, false, false, 2},
      {200, 150, 8, 8, false, false, 1},    // one long run: the code-equals-next case
  };
  uint32_t seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " defer " << c.defer_clear);
    const auto idx = RandomIndices(size_t(c.w * c.h), c.colors, seed++);
    TGifBuilder g(c.w, c.h, c.bits);
    // Interlaced data are stored in pass order.
    std::vector<uint8_t> stored;
    if (c.interlaced) {
      for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = start; y < c.h; y += step)
          stored.insert(stored.end(), idx.begin() + y * c.w, idx.begin() + (y + 1) * c.w);
    } else {
      stored = idx;
    }
    g.Image(0, 0, c.w, c.h, stored, c.min_size, c.defer_clear, c.interlaced);
    g.Trailer();
    auto b = ReadFirst(g.Bytes());
    ASSERT_TRUE(b);
    ExpectIndices(b.get(), idx);
  }
}

TEST(GifLzw, DamagedDataStaysInsideTheFrame) {
  const auto idx = RandomIndices(40 * 30, 256, 9);
  // More data than the frame holds: the decoder stops at the frame's end.
  {
    TGifBuilder g(20, 15, 8);
    g.Descriptor(0, 0, 20, 15, 0);
    g.Raw(GifLzwEncode(idx, 8, false));
    g.Trailer();
    auto b = ReadFirst(g.Bytes());
    ExpectIndices(b.get(), std::vector<uint8_t>(idx.begin(), idx.begin() + 300));
  }
  // A code that is not yet in the table ends the frame; decoded pixels stay.
  {
    TGifBuilder g(4, 1, 2);
    g.Descriptor(0, 0, 4, 1, 0);
    // min size 2: clear (4), literal 1, then code 7 while only 6 is next.
    g.Raw({2, 2, uint8_t(4 | (1 << 3) | (7 << 6)), uint8_t(7 >> 2), 0});
    g.Trailer();
    auto b = ReadFirst(g.Bytes());
    EXPECT_EQ(Px(b.get(), 0, 0), BuilderColor(1));
    EXPECT_EQ(Px(b.get(), 1, 0), BuilderColor(0));
  }
}

TEST(GifLzw, HostileSizesAndCodeSizesFailCleanly) {
  auto fails_with = [](std::vector<uint8_t> bytes, auto probe) {
    try {
      ReadFirst(bytes);
      return false;
    } catch (const Exception& e) {
      return probe(e);
    }
  };
  auto is = [](const char* cls) { return [cls](const Exception& e) { return std::string(e.ClassName()) == cls; }; };
  // 65535 x 65535 declared in a few bytes: over the pixel cap.
  TGifBuilder huge(10, 10, 1);
  huge.Descriptor(0, 0, 65535, 65535, 0);
  huge.Raw({2, 1, 0x44, 0});
  EXPECT_TRUE(fails_with(huge.Bytes(), is("EOutOfMemory")));
  // 8000 x 8000 is within the cap but 20 bytes cannot fill it.
  TGifBuilder thin(10, 10, 1);
  thin.Descriptor(0, 0, 8000, 8000, 0);
  thin.Raw({2, 15, 0x44, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0});
  EXPECT_TRUE(fails_with(thin.Bytes(), is("EStreamReadError")));
  for (uint8_t size : {9, 12, 200}) {
    TGifBuilder g(2, 2, 1);
    g.Descriptor(0, 0, 2, 2, 0);
    g.Raw({size, 1, 0xFF, 0});
    EXPECT_TRUE(fails_with(g.Bytes(), is("EAbort"))) << int(size);
  }
  EXPECT_TRUE(fails_with({'G', 'I', 'F', '9', '0', 'a', 1, 0, 1, 0, 0, 0, 0}, is("EAbort")));
}

TEST(GifReader, TransparencyComesOnlyFromTheControlExtension) {
  // Background index 3 and no control extension: index 3 is opaque.
  const std::vector<uint8_t> idx = {3, 1, 3, 2};
  TGifBuilder g(4, 1, 2, /*background=*/3);
  g.Image(0, 0, 4, 1, idx, 2);
  g.Control(0, 0, 1);  // applies to the second image only
  g.Image(0, 0, 4, 1, idx, 2);
  g.Image(0, 0, 4, 1, idx, 2);
  g.Trailer();
  auto stream = MemStream(g.Bytes());
  auto reader = MakeRef<TFPReaderGif>();
  auto first = reader->InternalRead(stream.get());
  EXPECT_TRUE(reader->Animated());
  ExpectIndices(first.get(), idx);
  ASSERT_TRUE(reader->ReadNextFrame(stream.get()));
  EXPECT_TRUE(reader->Transparent());
  EXPECT_EQ(Px(reader->Bitmap(), 1, 0), BuilderColor(1) & 0x00FFFFFF);  // colour kept, alpha 0
  EXPECT_EQ(Px(reader->Bitmap(), 0, 0), BuilderColor(3));
  ASSERT_TRUE(reader->ReadNextFrame(stream.get()));
  EXPECT_FALSE(reader->Transparent());
  ExpectIndices(reader->Bitmap(), idx);
  EXPECT_FALSE(reader->ReadNextFrame(stream.get()));
}

TEST(GifReader, ExtensionsLoopCountAndFrameFacts) {
  TGifBuilder g(3, 2, 1);
  g.Raw({0x21, 0xFE, 3, 'a', 'b', 'c', 0});  // a comment is skipped
  g.Netscape(65535);
  g.Control(2, 7);
  g.Image(1, 0, 2, 2, {1, 0, 0, 1});
  g.Raw({0, 0});  // stray zero bytes before the next block
  g.Control(3, 0);
  g.Image(0, 0, 3, 2, {0, 1, 0, 1, 0, 1});
  g.Trailer();
  auto stream = MemStream(g.Bytes());
  auto reader = MakeRef<TFPReaderGif>();
  auto first = reader->InternalRead(stream.get());
  EXPECT_TRUE(reader->NetscapeSeen());
  EXPECT_EQ(reader->LoopCount(), 0);
  EXPECT_EQ(reader->Disposal(), 2);
  EXPECT_EQ(reader->Delay(), 7);
  EXPECT_EQ(first->Width(), 2);  // the still is the image descriptor's size
  EXPECT_EQ(reader->Descriptor().Left, 1);
  ASSERT_TRUE(reader->ReadNextFrame(stream.get()));
  EXPECT_EQ(reader->Disposal(), 3);
  EXPECT_EQ(reader->Delay(), 0);

  TGifBuilder loops(1, 1, 1);
  loops.Netscape(5);
  loops.Image(0, 0, 1, 1, {1});
  reader = MakeRef<TFPReaderGif>();
  reader->InternalRead(MemStream(loops.Bytes()).get());
  EXPECT_EQ(reader->LoopCount(), 5);
  EXPECT_FALSE(reader->Animated());
}
