#include <gtest/gtest.h>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysBitmap.h"

using namespace kav;
using namespace kav::test;

TEST(PixelFormat, PropertiesFollowTheName) {
  TPixelFormat* f = PixelFormatByName("R5G6B5");
  EXPECT_EQ(f, PixelFormatByName("R5G6B5"));
  EXPECT_EQ(f->BytesPerPixel(), 2);
  EXPECT_TRUE(f->IsBitField());
  EXPECT_FALSE(f->HasAlpha());
  EXPECT_EQ(f->Kind(), pfkColor);
  ASSERT_EQ(f->Components().size(), 3u);
  EXPECT_EQ(f->Components()[0], (TPixelComponent{pcBlue, 5}));  // least significant first
  EXPECT_EQ(f->Components()[2], (TPixelComponent{pcRed, 5}));
  for (TPixelFormat* g : {F().Y8, F().A8}) {
    EXPECT_TRUE(g->HasAlpha());
    EXPECT_EQ(g->Kind(), pfkNoColor);
  }
  EXPECT_EQ(F().A8R8G8B8->Kind(), pfkColorAlpha);
  EXPECT_TRUE(F().A8r8g8b8->IsPremultiplied());
  EXPECT_TRUE(PixelFormatByName("A8b8g8r8")->IsPremultiplied());
  EXPECT_FALSE(F().A8R8G8B8->IsPremultiplied());
  EXPECT_NE(F().A8r8g8b8, F().A8R8G8B8);
  EXPECT_EQ(F().B5G5R5X1->Components()[0], (TPixelComponent{pcPadding, 1}));
  EXPECT_FALSE(F().X8B8G8R8->IsBitField());
  // Names without components still give one byte; absurd bit counts are capped.
  EXPECT_EQ(PixelFormatByName("")->BytesPerPixel(), 1);
  EXPECT_EQ(PixelFormatByName("R99999999999G8")->BitsPerPixel(), 40);
}

TEST(BitmapFactory, ChainServesByWantedClass) {
  Ref<TBitmap> any = NewBitmap(3, 2, F().R8G8B8);
  ASSERT_TRUE(any);
  EXPECT_EQ(any->ClassType(), &TSysDirectWrapper::kClass);
  Ref<TBitmap> direct = NewBitmap(3, 2, F().R8G8B8, {}, nullptr, &TDirectBitmap::kClass);
  ASSERT_TRUE(direct);
  EXPECT_EQ(direct->ClassType(), &TDirectBitmap::kClass);
  EXPECT_TRUE(NewBitmap(3, 2, F().R8G8B8, {}, nullptr, &TBitmap::kClass)->InheritsFrom(&TSysBitmap::kClass));
  EXPECT_FALSE(NewBitmap(3, 2, F().R8G8B8, {}, nullptr, &TCropBitmap::kClass));

  // A copy in another format is converted; CreateCopy keeps class and pixels.
  Ref<TSysBitmap> src = Sys(2, 1, F().R8G8B8);
  Set24(src.get(), 0, 0, 0x0A141E);
  Set24(src.get(), 1, 0, 0xFFFFFF);
  Ref<TBitmap> conv = src->CreateSimilar(F().A8R8G8B8, nullptr);
  ASSERT_TRUE(conv);
  EXPECT_EQ(Get32(AsSysBitmap(conv.get()), 0, 0), 0xFF0A141Eu);
  Ref<TBitmap> copy = direct->CreateCopy();
  EXPECT_EQ(copy->ClassType(), &TDirectBitmap::kClass);
  Ref<TBitmap> dcopy = src->CreateSimilar(nullptr, &TDirectBitmap::kClass);
  uint8_t px[6];
  EXPECT_EQ(dcopy->GetPixels(0, 0, 2, px, 0), 6);
  EXPECT_EQ(px[0], 0x1E);
  EXPECT_EQ(px[5], 0xFF);
}

TEST(BitmapFactory, SizesAreCheckedBeforeAllocation) {
  EXPECT_THROW(NewBitmap(1 << 20, 1 << 20, F().A8R8G8B8), EOutOfMemory);
  EXPECT_THROW(NewBitmap(INT32_MAX, INT32_MAX, F().Y8), EOutOfMemory);
  EXPECT_THROW(NewBitmap(20000, 20000, F().A8R8G8B8), EOutOfMemory);
  EXPECT_THROW(NewBitmap(0, 5, F().Y8), EAbort);
  EXPECT_THROW(NewBitmap(5, -1, F().Y8), EAbort);
  EXPECT_TRUE(BitmapSizeAllowed(8192, 8192, 4));
  EXPECT_FALSE(BitmapSizeAllowed(int64_t(1) << 40, 1, 1));
}

TEST(Bitmap, CheckedPixelReadsStayInRange) {
  auto d = MakeRef<TDirectBitmap>(4, 3, F().A8R8G8B8);
  std::vector<uint8_t> buf(16);
  EXPECT_ABORT_WITH(d->GetPixels(4, 0, 1, buf, 0), "TDirectBitmap.GetPixels (X,Y) out of Bitmap.Size");
  EXPECT_ABORT_WITH(d->GetPixels(0, -1, 1, buf, 0), "out of Bitmap.Size");
  EXPECT_ABORT_WITH(d->GetPixels(0, 0, 1, buf, -4), "TDirectBitmap.GetPixels - Offset out of Bounds");
  EXPECT_ABORT_WITH(d->GetPixels(0, 0, 4, buf, 4), "Not Enought Pixel Buffer Space");
  EXPECT_EQ(d->GetPixels(2, 0, 100, buf, 0), 8);  // min(count, width - x)
  std::vector<uint32_t> b32(4);
  EXPECT_ABORT_WITH(d->GetPixels32(1, 0, 4, b32, 0), "TDirectBitmap.GetPixels32 out of Bitmap.Size");
  EXPECT_ABORT_WITH(d->GetPixels32(0, 0, 3, b32, 2), "TDirectBitmap.GetPixels32 - Out of Pixel Buffer Bounds");
  EXPECT_EQ(d->GetPixels32(0, 2, 4, b32, 0), 16);
  std::vector<uint16_t> b16(4);
  EXPECT_THROW(d->GetPixels16(0, 0, 1, b16, 0), EAbort);  // wrong depth

  // System bitmaps copy what fits and never step outside row or buffer.
  Ref<TSysBitmap> s = Sys(4, 3, F().A8R8G8B8);
  EXPECT_EQ(s->GetPixels(0, 3, 1, buf, 0), 0);
  EXPECT_EQ(s->GetPixels(-1, 0, 1, buf, 0), 0);
  EXPECT_EQ(s->GetPixels(0, 0, 4, buf, 17), 0);
  EXPECT_EQ(s->GetPixels(0, 0, 4, buf, 9), 4);  // one whole pixel fits
  EXPECT_EQ(s->GetPixels32(3, 0, 4, b32, 0), 4);
  EXPECT_EQ(s->GetPixels32(0, 0, 4, b32, -1), 0);
}

TEST(SysBitmap, CopyRectPremultipliesAndValidates) {
  Ref<TSysBitmap> src = Sys(2, 1, F().A8R8G8B8);
  Set32(src.get(), 0, 0, ColorRGBA(50, 100, 200, 128));
  Set32(src.get(), 1, 0, ColorRGBA(50, 100, 200, 255));
  for (int mode : {255, 256}) {
    Ref<TSysBitmap> dst = Sys(2, 1, F().A8R8G8B8);
    dst->CopyRect(TRect{0, 0, 2, 1}, src.get(), mode, TPoint{0, 0});
    EXPECT_EQ(Get32(dst.get(), 0, 0), ColorRGBA(25, 50, 100, 128)) << mode;
    EXPECT_EQ(Get32(dst.get(), 1, 0), ColorRGBA(50, 100, 200, 255)) << mode;
  }
  Ref<TSysBitmap> dst = Sys(2, 1, F().A8R8G8B8);
  EXPECT_ABORT_WITH(dst->CopyRect(TRect{0, 0, 2, 1}, src.get(), 128, TPoint{0, 0}),
                    "Invalid APremultiply parameter Value");
  // A destination without alpha ignores the request.
  Ref<TSysBitmap> rgb = Sys(1, 1, F().R8G8B8);
  rgb->CopyRect(TRect{0, 0, 1, 1}, src.get(), 255, TPoint{0, 0});
  EXPECT_EQ(Get24(rgb.get(), 0, 0), 0x3264C8u);
}

TEST(SysBitmap, CopyRectClipsAndStopsOnProgress) {
  Ref<TSysBitmap> src = Sys(4, 4, F().R8G8B8);
  FillRandom(src.get(), 7);
  Ref<TSysBitmap> dst = Sys(4, 4, F().R8G8B8);
  // Negative destination position: the source point moves by the cut.
  dst->CopyRect(TRect{-1, -2, 3, 2}, src.get(), 0, TPoint{0, 0});
  EXPECT_EQ(Get24(dst.get(), 0, 0), Get24(src.get(), 1, 2));
  EXPECT_EQ(Get24(dst.get(), 2, 1), Get24(src.get(), 3, 3));
  EXPECT_EQ(Get24(dst.get(), 3, 0), 0u);
  EXPECT_EQ(Get24(dst.get(), 0, 2), 0u);
  // A source rectangle that falls off the source is cut as well.
  Ref<TSysBitmap> dst2 = Sys(4, 4, F().R8G8B8);
  dst2->CopyRect(TRect{0, 0, 4, 4}, src.get(), 0, TPoint{3, -1});
  EXPECT_EQ(Get24(dst2.get(), 0, 1), Get24(src.get(), 3, 0));
  EXPECT_EQ(Get24(dst2.get(), 1, 1), 0u);
  dst2->CopyRect(TRect{INT32_MIN, 0, INT32_MAX, 4}, src.get(), 0, TPoint{0, 0});  // no overflow

  struct TStopper {
    int calls = 0;
    bool OnProgress(float) { return ++calls < 2; }
  } stopper;
  Ref<TSysBitmap> dst3 = Sys(4, 4, F().R8G8B8);
  dst3->SetOnProgress(TProgressHandler::Bind<&TStopper::OnProgress>(&stopper));
  dst3->CopyFrom(src.get());
  EXPECT_EQ(Get24(dst3.get(), 3, 0), Get24(src.get(), 3, 0));
  EXPECT_EQ(Get24(dst3.get(), 0, 1), 0u);
  EXPECT_EQ(stopper.calls, 2);
}

TEST(Bitmap, FillRectWritesTheFormatsOwnLayout) {
  // "B5G6R5" keeps red in bits 0-4, "R5G6B5" blue there.
  const TColor32 red = ColorRGBA(255, 0, 0, 255);
  Ref<TSysBitmap> a = Sys(2, 1, F().B5G6R5);
  EXPECT_TRUE(a->FillRect(TRect{0, 0, 5, 5}, red));
  uint16_t v;
  std::memcpy(&v, a->Row(0) + 2, 2);
  EXPECT_EQ(v, 0x001F);
  auto d = MakeRef<TDirectBitmap>(2, 1, F().R5G6B5);
  d->FillRect(TRect{1, 0, 2, 1}, red);
  std::vector<uint16_t> px(2);
  d->GetPixels16(0, 0, 2, px, 0);
  EXPECT_EQ(px[0], 0);
  EXPECT_EQ(px[1], 0xF800);
  auto x = MakeRef<TDirectBitmap>(1, 1, F().X1R5G5B5);
  x->FillRect(TRect{0, 0, 1, 1}, ColorRGBA(0, 255, 0, 255));
  d->GetPixels16(0, 0, 0, px, 0);
  uint8_t b2[2];
  x->GetPixels(0, 0, 1, b2, 0);
  EXPECT_EQ(b2[0] | (b2[1] << 8), 0x03E0);
  // One-byte direct bitmaps take the mean of blue, green and red.
  auto g = MakeRef<TDirectBitmap>(1, 1, F().Y8);
  g->FillRect(TRect{0, 0, 1, 1}, ColorRGBA(30, 60, 91, 0));
  uint8_t gv;
  g->GetPixels(0, 0, 1, std::span<uint8_t>(&gv, 1), 0);
  EXPECT_EQ(gv, 60);
  // Wide rows are filled completely from the doubled pattern (3-byte pixels).
  Ref<TSysBitmap> wide = Sys(1500, 2, F().B8G8R8);
  EXPECT_TRUE(wide->FillRect(TRect{1, 1, 1500, 2}, ColorRGBA(1, 2, 3, 4)));
  EXPECT_EQ(Get24(wide.get(), 1499, 1), 0x030201u);
  EXPECT_EQ(Get24(wide.get(), 1, 1), 0x030201u);
  EXPECT_EQ(Get24(wide.get(), 0, 1), 0u);
  EXPECT_FALSE(wide->FillRect(TRect{-5, 0, 0, 2}, 0));
}

TEST(RefBitmap, ShowsAClippedRegionOfItsSource) {
  Ref<TSysBitmap> src = Sys(5, 4, F().A8R8G8B8);
  FillRandom(src.get(), 3);
  auto crop = MakeRef<TCropBitmap>(TRect{3, 2, 10, 10}, false, src.get());
  EXPECT_EQ(crop->Width(), 2);
  EXPECT_EQ(crop->Height(), 2);
  EXPECT_EQ(Get32(crop.get(), 1, 1), Get32(src.get(), 4, 3));
  EXPECT_TRUE(crop->InheritsFrom(&TRefBitmap::kClass));
  EXPECT_ABORT_WITH(MakeRef<TRefBitmap>(TRect{5, 0, 9, 9}, false, src.get()), "TRefBitmap.Create - Bitmap is Empty");
  EXPECT_ABORT_WITH(MakeRef<TCropBitmap>(TRect{0, -3, 9, 0}, false, src.get()), "TCropBitmap.Create - Bitmap is Empty");
  EXPECT_ABORT_WITH(MakeRef<TSysDirectWrapper>(nullptr, false), "TSysDirectWrapper.Create - Bitmap not Assigned");
  // An owning view keeps its source alive after the caller lets go.
  TSysBitmap* raw = src.get();
  auto owner = MakeRef<TRefBitmap>(TRect{0, 0, 1, 1}, true, src.release());
  EXPECT_EQ(raw->RefCount(), 1);
  EXPECT_EQ(Get32(owner.get(), 0, 0), Get32(raw, 0, 0));
}

TEST(ClipCopyRect, AdjustsBothSides) {
  int32_t dx = -2, dy = 1, sx = 0, sy = 0, w = 5, h = 5;
  ASSERT_TRUE(ClipCopyRect(dx, dy, sx, sy, w, h, TSize{4, 4}, TSize{10, 10}));
  EXPECT_EQ((std::vector<int32_t>{dx, dy, sx, sy, w, h}), (std::vector<int32_t>{0, 1, 2, 0, 3, 3}));
  dx = 0, dy = 0, sx = 8, sy = -1, w = 5, h = 5;
  ASSERT_TRUE(ClipCopyRect(dx, dy, sx, sy, w, h, TSize{4, 4}, TSize{10, 10}));
  EXPECT_EQ((std::vector<int32_t>{dx, dy, sx, sy, w, h}), (std::vector<int32_t>{0, 1, 8, 0, 2, 3}));
  dx = 0, dy = 0, sx = 10, sy = 0, w = 5, h = 5;
  EXPECT_FALSE(ClipCopyRect(dx, dy, sx, sy, w, h, TSize{4, 4}, TSize{10, 10}));
}
