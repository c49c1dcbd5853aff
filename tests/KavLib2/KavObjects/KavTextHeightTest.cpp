// A text's line is as tall as its share of the parent asks: the text body
// (the line box, not the bitmap's margins around it) fills the target
// height. Measured on the frame by the height of its capitals.
#include <gtest/gtest.h>

#include <algorithm>

#include "KavLib2/KavObjects/KavText.h"
#include "ShowFolderTestUtil.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"

namespace kav {
namespace {

// Ink height of a picture: per row the strongest ink, summed. Filtering
// spreads an edge over rows but keeps its sum, so flat-topped letters
// measure to a fraction of a pixel.
template <typename TInk>
double InkHeight(int32_t w, int32_t h, TInk ink) {
  double sum = 0;
  for (int32_t y = 0; y < h; ++y) {
    int strongest = 0;
    for (int32_t x = 0; x < w; ++x) strongest = std::max(strongest, ink(x, y));
    sum += strongest / 255.0;
  }
  return sum;
}

// Capital height over body height, measured on the text's own bitmap at a
// large scale.
double CapShareOfBody(TKavText* t, TFileAccessor* accessor) {
  // A 440-pixel em.
  Ref<TTextBitmapStore> store = TTextBitmapStore::Create(t->TextKey(440.0 / kVectorTextLayoutEm), accessor);
  TRect body;
  store->GetBoundsRect(body, 0);
  Ref<TBitmap> b = store->GetMipLevel(0, PixelFormatByName("A8R8G8B8"), &TDirectBitmap::kClass);
  auto* d = static_cast<TDirectBitmap*>(b.get());
  const double cap = InkHeight(d->Width(), d->Height(), [&](int32_t x, int32_t y) {
    return int(*reinterpret_cast<const uint32_t*>(d->PixelAddress(x, y)) >> 24);
  });
  return cap / double(body.Bottom - body.Top);
}

TEST(KavText, BodyFillsTheTargetHeight) {
  // 10 % of the slide's 1080 pixels: a line of 108 pixels, drawn 1:1.
  test::THostSlide s([](test::TShowFolder&) {},
                     test::Obj("t", "Text", "Text=\"HHHH\"\nTextColor=0,0,0\nShadowEnable=0\n" +
                                                test::KeyPoint("Time=0\nScaleX=10\nScaleY=10\n")));
  auto* t = dynamic_cast<TKavText*>(s.At(0));
  ASSERT_NE(t, nullptr);
  ASSERT_NE(t->Picture(), nullptr);
  const double share = CapShareOfBody(t, s.Files.get());
  EXPECT_GT(share, 0.55);
  EXPECT_LT(share, 0.75);
  s.Slide->SetTime(true, 1);
  TFrameDumper dumper(1920, 1080);
  const auto px = test::RenderSlideWith(dumper, s.Slide.get(), "text_height.png");
  // Black capitals on the light slide: the line box, not the bitmap with
  // its margins, is 108 pixels high.
  const double cap = InkHeight(1920, 1080, [&](int32_t x, int32_t y) { return 255 - int(px[size_t(y) * 1920 + size_t(x)] & 0xFF); });
  EXPECT_NEAR(cap, 108.0 * share, 0.5);
}

}  // namespace
}  // namespace kav
