#include <gtest/gtest.h>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/Resample.h"
#include "VoRav/Graphics/SysBitmapResize.h"

using namespace kav;
using namespace kav::test;

TEST(ResampleFilters, KnownValues) {
  EXPECT_EQ(std::string(ResampleFilters[4].Name), "B-Spline");
  EXPECT_FLOAT_EQ(Lanczos3Filter(0), 1.0f);
  EXPECT_NEAR(Lanczos3Filter(3), 0.0f, 1e-7);
  EXPECT_NEAR(Lanczos3Filter(1), 0.0f, 1e-6);
  EXPECT_FLOAT_EQ(MitchellFilter(0), 16.0f / 18.0f);
  EXPECT_FLOAT_EQ(MitchellFilter(2), 0.0f);
  EXPECT_FLOAT_EQ(BoxFilter(-0.5f), 0.0f);
  EXPECT_FLOAT_EQ(BoxFilter(0.5f), 1.0f);
  EXPECT_FLOAT_EQ(BellFilter(0), 0.75f);
  EXPECT_FLOAT_EQ(BellFilter(1), 0.125f);
  EXPECT_FLOAT_EQ(SplineFilter(0), 2.0f / 3.0f);
  EXPECT_FLOAT_EQ(SplineFilter(1), 1.0f / 6.0f);
  EXPECT_FLOAT_EQ(HermiteFilter(-0.5f), 0.5f);
  EXPECT_FLOAT_EQ(TriangleFilter(0.25f), 0.75f);
  for (const TResampleFilter& f : ResampleFilters) EXPECT_EQ(f.Filter(f.Support + 0.01f), 0.0f) << f.Name;
}

TEST(ResampleStretch, ReproducesMirrorsAndScales) {
  // The box filter at scale 1 reproduces the mask.
  Ref<TSysBitmap> mask = Sys(4, 4, F().Y8);
  FillRandom(mask.get(), 21);
  Ref<TSysBitmap> out = Sys(4, 4, F().Y8);
  ResampleStretch(mask.get(), out.get(), BoxFilter, {}, {}, nullptr, 1.0f, 0.5f);
  EXPECT_TRUE(SamePixels(mask.get(), out.get()));
  // Edge taps are mirrored: index -1 reads column 1, so column 0 of a
  // 0-255-0 pattern gets 2 x 1/6 of 255 with the B-spline.
  Ref<TSysBitmap> stripe = Sys(8, 2, F().Y8);
  stripe->Row(0)[1] = stripe->Row(1)[1] = 255;
  Ref<TSysBitmap> s_out = Sys(8, 2, F().Y8);
  ResampleStretch(stripe.get(), s_out.get(), SplineFilter, {}, {}, nullptr, 1.0f, 2.0f);
  EXPECT_NEAR(s_out->Row(0)[0], 85, 1);
  // Reducing keeps a uniform level.
  Ref<TSysBitmap> flat = Sys(16, 16, F().Y8);
  flat->FillRect(TRect{0, 0, 16, 16}, 0xC8C8C8C8);
  Ref<TSysBitmap> half = Sys(8, 8, F().Y8);
  ResampleStretch(flat.get(), half.get(), TriangleFilter, {}, {}, nullptr, 0.5f, 1.0f);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_NEAR(half->Row(y)[x], 200, 1);
  // The value table maps the 12-bit result.
  std::vector<uint8_t> table(4096);
  for (size_t i = 0; i < table.size(); ++i) table[i] = uint8_t(255 - (i >> 4));
  ResampleStretch(flat.get(), half.get(), TriangleFilter, {}, table, nullptr, 0.5f, 1.0f);
  EXPECT_NEAR(half->Row(3)[3], 255 - 200, 1);
}

TEST(ResampleStretch, RefusesAndCancels) {
  Ref<TSysBitmap> thin = Sys(1, 10, F().Y8);
  Ref<TSysBitmap> out = Sys(4, 4, F().Y8);
  try {
    ResampleStretch(thin.get(), out.get(), BoxFilter, {}, {}, nullptr, 1.0f, 0.5f);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Source bitmap too small");
  }
  EXPECT_THROW(ResampleStretch(Sys(4, 4, F().R8G8B8).get(), out.get(), BoxFilter, {}, {}, nullptr, 1, 0.5f), EAbort);
  struct TCanceller {
    int calls = 0;
    void* seen = nullptr;
    void OnProgress(void* sender, bool& cancel) {
      seen = sender;
      cancel = ++calls == 3;
    }
  } c;
  Ref<TSysBitmap> src = Sys(4, 4, F().Y8);
  src->FillRect(TRect{0, 0, 4, 4}, 0xFFFFFFFF);
  ResampleStretch(src.get(), out.get(), BoxFilter, TResampleProgress::Bind<&TCanceller::OnProgress>(&c), {}, &c,
                  1.0f, 0.5f);
  EXPECT_EQ(c.calls, 3);
  EXPECT_EQ(c.seen, &c);
  EXPECT_EQ(out->Row(0)[0], 0);  // stopped before any output was written
  // A broken scale is refused instead of looping for ever.
  EXPECT_THROW(ResampleStretch(src.get(), out.get(), BoxFilter, {}, {}, nullptr, 1e-9f, 0.5f), EAbort);
}

TEST(ResizeBitmap, CornersAveragesAndFill) {
  Ref<TSysBitmap> s = Sys(4, 4, F().R8G8B8);
  Set24(s.get(), 1, 1, 0x000000);
  Set24(s.get(), 2, 1, 0x0000FF);
  Set24(s.get(), 1, 2, 0x00FF00);
  Set24(s.get(), 2, 2, 0xFF0000);
  Ref<TSysBitmap> d = Sys(5, 5, F().R8G8B8);
  ResizeBitmap24(d.get(), s.get(), TRect{1, 1, 4, 4}, TRect{1, 1, 3, 3});
  EXPECT_EQ(Get24(d.get(), 1, 1), 0x000000u);
  EXPECT_EQ(Get24(d.get(), 3, 1), 0x0000FFu);
  EXPECT_EQ(Get24(d.get(), 1, 3), 0x00FF00u);
  EXPECT_EQ(Get24(d.get(), 3, 3), 0xFF0000u);
  EXPECT_EQ(Get24(d.get(), 2, 1), 0x00007Fu);
  EXPECT_EQ(Get24(d.get(), 2, 2), 0x3F4040u);  // falling steps truncate toward zero
  EXPECT_EQ(Get24(d.get(), 0, 0), 0u);
  // Rectangles reaching outside either bitmap stay inside both.
  ResizeBitmap24(d.get(), s.get(), TRect{-3, -3, 9, 9}, TRect{-2, 2, 7, 9});
  ResizeBitmap24(d.get(), s.get(), TRect{0, 0, 5, 5}, TRect{4, 4, 8, 8});

  Ref<TSysBitmap> a = Sys(2, 1, F().A8R8G8B8);
  Set32(a.get(), 0, 0, ColorRGBA(10, 20, 30, 0));
  Set32(a.get(), 1, 0, ColorRGBA(10, 20, 30, 255));
  Ref<TSysBitmap> b = Sys(4, 1, F().A8R8G8B8);
  ResizeBitmap32(b.get(), a.get(), TRect{0, 0, 4, 1}, 0x00ABCDEF, TRect{0, 0, 2, 1});
  EXPECT_EQ(Get32(b.get(), 0, 0), 0x00ABCDEFu);
  EXPECT_EQ(ColorAlpha(Get32(b.get(), 1, 0)), 84);
  EXPECT_EQ(Get32(b.get(), 3, 0), ColorRGBA(10, 20, 30, 255));
}
