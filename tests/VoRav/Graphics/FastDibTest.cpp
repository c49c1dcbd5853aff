#include <gtest/gtest.h>

#include <cstring>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/FastDIB.h"
#include "VoRav/vxMemoryStream.h"

using namespace kav;
using namespace kav::test;

namespace {
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
std::vector<uint8_t> Saved(TFastDIB* dib) {
  auto s = MakeRef<TMemoryStream>();
  dib->SaveToStream(s.get());
  std::vector<uint8_t> out(size_t(s->GetSize()));
  s->SetPosition(0);
  s->Read(out, int64_t(out.size()));
  return out;
}
}  // namespace

TEST(FastDib, GeometryMasksAndFiles) {
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(3, 2, 24);
  EXPECT_EQ(dib->Stride(), 12);
  EXPECT_EQ(dib->RowPadding(), 3);
  dib->SetSize(33, 1, 1);
  EXPECT_EQ(dib->Stride(), 8);
  dib->SetSize(5, 1, 4);
  EXPECT_EQ(dib->Stride(), 4);
  EXPECT_THROW(dib->SetSize(5, 1, 7), EConvertError);
  EXPECT_THROW(dib->SetSize(100000, 100000, 32), EOutOfMemory);

  EXPECT_EQ(MakeBitMasks(5, 6, 5), (std::array<uint32_t, 3>{0xF800, 0x07E0, 0x001F}));
  EXPECT_EQ(MakeBitMasks(8, 8, 8), (std::array<uint32_t, 3>{0xFF0000, 0xFF00, 0xFF}));
  EXPECT_EQ(MakeBitMasks(16, 8, 8)[0], 0xFFFF0000u);

  // A 256-colour 10 x 10 DIB: 14 + 40 + 1024 + 120 bytes, pixels at 1078.
  dib->SetSize(10, 10, 8);
  std::vector<uint8_t> file = Saved(dib.get());
  EXPECT_EQ(file.size(), 14u + 40 + 1024 + 120);
  EXPECT_EQ(Le32(file, 2), file.size());
  EXPECT_EQ(Le32(file, 10), 1078u);
  // A 32-bit bit-field DIB writes its 12 mask bytes after the header.
  dib->Allocate(nullptr, 2, 8, 8, 8, 32, 2);
  EXPECT_EQ(dib->Header().Compression, 3u);
  file = Saved(dib.get());
  EXPECT_EQ(Le32(file, 10), 66u);
  EXPECT_EQ(Le32(file, 54), 0xFF0000u);
  EXPECT_EQ(Le32(file, 62), 0xFFu);

  // AssignInfo takes the widths from the masks of another DIB's header.
  auto copy = MakeRef<TFastDIB>();
  TBitmapInfoHeader h;
  h.Width = 4;
  h.Height = -3;
  h.BitCount = 16;
  h.Compression = 3;
  const uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
  copy->AssignInfo(h, masks);
  EXPECT_EQ(copy->GreenWidth(), 6);
  EXPECT_EQ(copy->RedPosition(), 11);
  EXPECT_EQ(copy->RedShift(), 3);
  EXPECT_EQ(DibPixelFormat(*copy), F().R5G6B5);
  EXPECT_TRUE(copy->TopDown());
}

TEST(FastDib, AlphaAndRunLengths) {
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(2, 2, 32);
  dib->OpaqueIfNoAlpha();
  EXPECT_EQ(dib->Row(1)[7], 255);
  dib->Row(0)[3] = 0;
  dib->Row(1)[3] = 7;
  dib->Row(1)[7] = 0;
  dib->OpaqueIfNoAlpha();
  EXPECT_EQ(dib->Row(0)[3], 0);
  EXPECT_EQ(dib->Row(1)[3], 7);

  auto rle = MakeRef<TFastDIB>();
  rle->SetSize(4, 3, 8);
  const uint8_t data8[] = {0x03, 0x41, 0x00, 0x00, 0x02, 0x42, 0x00, 0x01};
  EXPECT_TRUE(rle->DecodeRLE8(data8));
  EXPECT_EQ(std::vector<uint8_t>(rle->Row(0), rle->Row(0) + 4), (std::vector<uint8_t>{0x41, 0x41, 0x41, 0}));
  EXPECT_EQ(std::vector<uint8_t>(rle->Row(1), rle->Row(1) + 4), (std::vector<uint8_t>{0x42, 0x42, 0, 0}));
  // Runs past the row's end and deltas past the last row are clipped.
  const uint8_t wild[] = {0xFF, 0x09, 0x00, 0x02, 0xFF, 0xFF, 0x05, 0x07};
  EXPECT_TRUE(rle->DecodeRLE8(wild));
  EXPECT_EQ(rle->Row(0)[3], 0x09);
  const uint8_t cut[] = {0x00, 0x05, 0x01};
  EXPECT_FALSE(rle->DecodeRLE8(cut));

  // RLE4: a run alternates the two nibbles; a literal run is word-padded.
  auto r4 = MakeRef<TFastDIB>();
  r4->SetSize(6, 2, 4);
  const uint8_t data4[] = {0x05, 0x12, 0x00, 0x00, 0x00, 0x03, 0xAB, 0xC0, 0x01, 0x0F, 0x00, 0x01};
  EXPECT_TRUE(r4->DecodeRLE4(data4));
  EXPECT_EQ(r4->Row(0)[0], 0x12);
  EXPECT_EQ(r4->Row(0)[1], 0x12);
  EXPECT_EQ(r4->Row(0)[2], 0x10);
  EXPECT_EQ(r4->Row(1)[0], 0xAB);
  EXPECT_EQ(r4->Row(1)[1], 0xC0);
}

TEST(FastDib, DibBitmapsAndFactory) {
  Ref<TDibBitmap> b = NewDibBitmap(3, 2, 24);
  // Image row 0 is the last row in memory of a bottom-up DIB.
  EXPECT_EQ(b->Row(0), b->Dib()->Row(1));
  EXPECT_EQ(NewDibBitmap(2, 2, 16)->PixelFormat(), F().R5G6B5);
  EXPECT_EQ(NewDibBitmap(2, 2, 16)->Dib()->Header().Compression, 3u);
  EXPECT_EQ(NewDibBitmap(2, 2, 15)->PixelFormat(), F().X1R5G5B5);
  EXPECT_ABORT_WITH(MakeRef<TDibBitmap>(b->Dib(), F().A8R8G8B8, false), "Pixel Formats Not Compatible");

  // The factory serves exactly TDibBitmap in a standard format.
  Ref<TSysBitmap> src = Sys(4, 3, F().A8R8G8B8);
  FillRandom(src.get(), 4);
  Ref<TBitmap> d = NewBitmap(4, 3, F().A8R8G8B8, {}, src.get(), &TDibBitmap::kClass);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->ClassType(), &TDibBitmap::kClass);
  EXPECT_TRUE(SamePixels(AsSysBitmap(d.get()), src.get()));
  Ref<TBitmap> d565 = NewBitmap(4, 3, F().R5G6B5, {}, nullptr, &TDibBitmap::kClass);
  EXPECT_EQ(static_cast<TDibBitmap*>(d565.get())->Dib()->GreenWidth(), 6);
  EXPECT_EQ(NewBitmap(4, 3, F().B5G6R5, {}, nullptr, &TDibBitmap::kClass), nullptr);
  EXPECT_NE(NewBitmap(4, 3, F().A8R8G8B8)->ClassType(), &TDibBitmap::kClass);
}

// Memory for a writer that fills every pixel leaves only the row padding to
// zero; large blocks freed go back to a cache, and one taken again by a
// plain allocation must come back zeroed.
TEST(FastDib, MemoryToFillAndReusedBlocks) {
  auto small = MakeRef<TFastDIB>();
  small->SetSizeToFill(7, 5, 24);  // 21 bytes of pixels in a 24-byte row
  ASSERT_EQ(small->RowPadding(), 3);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t i = 21; i < 24; ++i) EXPECT_EQ(small->Row(y)[i], 0) << "row " << y;

  const int32_t w = 1499, h = 700;  // about 3 MB at 24 bits, padded rows
  {
    auto big = MakeRef<TFastDIB>();
    big->SetSizeToFill(w, h, 24);
    const int32_t used = big->Stride() - big->RowPadding();
    ASSERT_GT(big->RowPadding(), 0);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t i = used; i < big->Stride(); ++i) ASSERT_EQ(big->Row(y)[i], 0) << "row " << y;
    for (int32_t y = 0; y < h; ++y) std::memset(big->Row(y), 0xAB, size_t(big->Stride()));
  }
  auto again = MakeRef<TFastDIB>();
  again->SetSize(w, h, 24);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t i = 0; i < again->Stride(); ++i) ASSERT_EQ(again->Row(y)[i], 0) << "row " << y << " byte " << i;
  // The same size once more after a plain SetSize: the flag does not stick.
  auto third = MakeRef<TFastDIB>();
  third->SetSize(5, 3, 8);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t i = 0; i < third->Stride(); ++i) EXPECT_EQ(third->Row(y)[i], 0);
}
