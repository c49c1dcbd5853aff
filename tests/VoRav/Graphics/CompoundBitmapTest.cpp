#include <gtest/gtest.h>

#include <set>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/vxCompoundBitmap.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/vxImageHook.h"

using namespace kav;
using namespace kav::test;

namespace {

int g_images_made = 0;
Ref<TImage> CountingImageFromBitmap(TBitmap* b, bool owns, const std::u16string& name) {
  ++g_images_made;
  return ImageFromBitmap(b, owns, name);
}

// A compound of 10 x 3 with two 3 x 2 parts at x 1 and 6 (gap 4..5) and a
// part hanging off the left edge.
struct TFixture {
  Ref<TCompoundBitmap> c = MakeRef<TCompoundBitmap>(10, 3, F().R8G8B8);
  Ref<TSysBitmap> a = Sys(3, 2, F().R8G8B8), b = Sys(3, 2, F().R8G8B8), left = Sys(4, 1, F().R8G8B8);
  TFixture() {
    FillRandom(a.get(), 1);
    FillRandom(b.get(), 2);
    FillRandom(left.get(), 3);
    c->AddPart(a.get(), false, 1, 0);
    c->AddPart(b.get(), false, 6, 1);
    c->AddPart(left.get(), false, -2, 2);
  }
};

}  // namespace

TEST(CompoundBitmap, RowRunsComeFromTheParts) {
  TFixture f;
  std::vector<uint8_t> buf(30, 0xEE);
  EXPECT_EQ(f.c->GetPixels(0, 1, 10, buf, 0), 30);
  EXPECT_EQ(buf[0], 0xEE);  // column 0: no part
  EXPECT_EQ(buf[3] | (buf[4] << 8) | (buf[5] << 16), int(Get24(f.a.get(), 0, 1)));
  EXPECT_EQ(buf[12], 0xEE);  // the gap (columns 4 and 5) keeps the caller's bytes
  EXPECT_EQ(buf[17], 0xEE);
  EXPECT_EQ(buf[18] | (buf[19] << 8) | (buf[20] << 16), int(Get24(f.b.get(), 0, 0)));
  EXPECT_EQ(buf[24] | (buf[25] << 8) | (buf[26] << 16), int(Get24(f.b.get(), 2, 0)));
  EXPECT_EQ(buf[27], 0xEE);
  // A part at a negative left shows only its visible columns.
  std::fill(buf.begin(), buf.end(), 0xEE);
  f.c->GetPixels(0, 2, 3, buf, 0);
  EXPECT_EQ(buf[0] | (buf[1] << 8) | (buf[2] << 16), int(Get24(f.left.get(), 2, 0)));
  EXPECT_EQ(buf[6], 0xEE);
  // Runs starting left of the bitmap, past its bottom, or past the buffer.
  std::fill(buf.begin(), buf.end(), 0xEE);
  f.c->GetPixels(-1, 0, 3, buf, 3);
  EXPECT_EQ(buf[3], 0xEE);
  EXPECT_EQ(buf[9] | (buf[10] << 8) | (buf[11] << 16), int(Get24(f.a.get(), 0, 0)));
  EXPECT_EQ(f.c->GetPixels(0, 3, 10, buf, 0), 0);
  EXPECT_EQ(f.c->GetPixels(0, 0, 10, buf, 27), 3);
  EXPECT_EQ(f.c->GetPixels(0, 0, 10, buf, 31), 0);
}

TEST(CompoundBitmap, TypedReadsAndCopiesReturnThePixels) {
  TFixture f;
  std::vector<TRGBTriple> px(10);
  EXPECT_EQ(f.c->GetPixels24(0, 0, 10, px, 0), 30);
  EXPECT_EQ(px[2], (TRGBTriple{f.a->PixelAddress(1, 0)[0], f.a->PixelAddress(1, 0)[1], f.a->PixelAddress(1, 0)[2]}));
  std::vector<uint32_t> wrong(1);
  EXPECT_THROW(f.c->GetPixels32(0, 0, 1, wrong, 0), EAbort);
  // Whole-bitmap copies go through the parts as well.
  Ref<TBitmap> copy = f.c->CreateSimilar(F().A8R8G8B8, &TSysBitmap::kClass);
  ASSERT_TRUE(copy);
  EXPECT_EQ(Get32(AsSysBitmap(copy.get()), 7, 2), 0xFF000000u | Get24(f.b.get(), 1, 1));
  EXPECT_EQ(Get32(AsSysBitmap(copy.get()), 5, 0), 0xFF000000u);
  // Parts in another format are converted into the compound's format.
  auto mixed = MakeRef<TCompoundBitmap>(2, 1, F().A8R8G8B8);
  Ref<TSysBitmap> rgb = Sys(1, 1, F().R8G8B8);
  Set24(rgb.get(), 0, 0, 0x123456);
  mixed->AddPart(rgb.get(), false, 1, 0);
  std::vector<uint32_t> out(2, 7);
  EXPECT_EQ(mixed->GetPixels32(0, 0, 2, out, 0), 8);
  EXPECT_EQ(out[0], 7u);
  EXPECT_EQ(out[1], 0xFF123456u);
}

TEST(CompoundBitmap, PlacementAndOwnership) {
  TFixture f;
  TPartPlacement pl;
  TImageFromBitmapProc previous = SetImageFromBitmapHook(nullptr);
  EXPECT_EQ(f.c->GetPartPlacement(0, pl), nullptr);  // no image hook
  SetImageFromBitmapHook(CountingImageFromBitmap);
  g_images_made = 0;
  TImage* image = f.c->GetPartPlacement(1, pl);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetBitmap().get(), f.b.get());
  std::set<float> xs;
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(f.c->GetPartPlacement(1, pl), image);
    EXPECT_GE(pl.X, 6 + 1.5f - 5);
    EXPECT_LE(pl.X, 6 + 1.5f + 4);
    EXPECT_GE(pl.Y, 1 + 1.0f - 5);
    EXPECT_EQ(pl.Z, 0);
    EXPECT_EQ(pl.AxisY[1], 1);
    xs.insert(pl.X);
  }
  EXPECT_GT(xs.size(), 1u);
  EXPECT_EQ(g_images_made, 1);
  SetImageFromBitmapHook(previous);

  // Owned parts are released by ClearParts and by the last reference.
  Ref<TSysBitmap> owned = Sys(1, 1, F().R8G8B8);
  RefAddRef(owned.get());
  f.c->AddPart(owned.get(), true, 0, 0);
  EXPECT_EQ(owned->RefCount(), 2);
  f.c->ClearParts();
  EXPECT_EQ(owned->RefCount(), 1);
  EXPECT_EQ(f.c->Part(0).Bitmap, nullptr);
  RefAddRef(owned.get());
  f.c->AddPart(owned.get(), true, 0, 0);
  f.c = nullptr;
  EXPECT_EQ(owned->RefCount(), 1);
}
