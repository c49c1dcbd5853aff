#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include "EffectsTestUtil.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"
#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"

namespace kav {
namespace {

using test::Alpha32;

TShadowParams RectParams(float w, float h, float mx, float my, float blur) {
  TShadowParams p;
  p.ImageName = std::u16string(kShadowRectShape);
  p.Rect = FloatRect(0, 0, w, h);
  p.Margin = FloatPoint(mx, my);
  p.FillAlpha = 0;
  p.Blur = blur;
  p.StartAlpha = 255;
  p.EndAlpha = 255;
  p.Gradient = 8;
  return p;
}

Ref<TSysBitmap> Level0(TImage* image) {
  Ref<TBitmap> b = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
  return Ref<TSysBitmap>(AsSysBitmap(b.get()));
}

Ref<TSysBitmap> A8Square(int32_t size, int32_t side) {
  Ref<TSysBitmap> b = CreateSysBitmap(size, size, StdFormats().A8);
  const int32_t at = (size - side) / 2;
  for (int32_t y = at; y < at + side; ++y)
    for (int32_t x = at; x < at + side; ++x) b->Row(y)[x] = 255;
  return b;
}

TEST(ShadowKey, RoundTripKeepsANameWithColons) {
  TShadowParams p = RectParams(120.5f, 80.25f, 4, 6, 3.125f);
  p.ImageName = u"C:\\pics\\a:b.png";
  p.FillAlpha = 17;
  p.Contour = 5;
  p.Gradient = 3;
  p.StartAlpha = 10;
  p.EndAlpha = 200;
  p.MipLevel = 2;
  const std::u16string key = MakeShadowKey(p);
  EXPECT_EQ(key, u"Shadow: 0:0:120.5:80.25:4:6:17:3.125:5:3:10:200:2:C:\\pics\\a:b.png");
  TShadowParams q;
  DrawShadowToBitmap(key, q);
  EXPECT_EQ(q.ImageName, p.ImageName);
  EXPECT_TRUE(ShadowParamsEqual(p, q));
}

TEST(ShadowKey, FieldsThatDoNotConvertTakeTheirDefaults) {
  TShadowParams q;
  DrawShadowToBitmap(u"Shadow: x:0:10:10:0:0:zz:1e999:c:?:\u00e9:-:!:name", q);
  EXPECT_EQ(q.Rect.Left, 0.0f);
  EXPECT_EQ(q.FillAlpha, 255);
  EXPECT_EQ(q.Blur, 0.0f);  // beyond the float range
  EXPECT_EQ(q.Contour, 0);
  EXPECT_EQ(q.Gradient, 8);
  EXPECT_EQ(q.StartAlpha, 0);
  EXPECT_EQ(q.MipLevel, 0);
  EXPECT_EQ(q.ImageName, u"name");
  // A short key leaves the missing fields at their defaults and no name.
  DrawShadowToBitmap(u"Shad", q);
  EXPECT_EQ(q.FillAlpha, 255);
  EXPECT_TRUE(q.ImageName.empty());
}

TEST(ShadowKey, EqualityIgnoresTurnOffsetAndTinyBlurSteps) {
  TShadowParams a = RectParams(10, 10, 1, 1, 2.0f), b = a;
  b.TurnOffset = true;
  b.ImageName = u"other";
  EXPECT_TRUE(ShadowParamsEqual(a, b));
  b.Blur = 2.0005f;
  EXPECT_TRUE(ShadowParamsEqual(a, b));
  b.Blur = 2.002f;
  EXPECT_FALSE(ShadowParamsEqual(a, b));
  b = a;
  b.RectOnly = true;
  EXPECT_FALSE(ShadowParamsEqual(a, b));
}

TEST(ShadowSize, FitHalvesBigAreasAndLeavesBrokenSizesAlone) {
  float w = 1000, h = 1000;
  EXPECT_EQ(FitShadowSize(w, h), 2.0f);
  EXPECT_EQ(w, 500.0f);
  w = 40000;
  h = 1;
  EXPECT_EQ(FitShadowSize(w, h), 4.0f);  // a side above 10000
  EXPECT_EQ(w, 10000.0f);
  // Infinity would halve forever, NaN would make a bitmap of no size.
  w = INFINITY;
  h = 10;
  EXPECT_EQ(FitShadowSize(w, h), 1.0f);
  w = NAN;
  EXPECT_EQ(FitShadowSize(w, h), 1.0f);

  TShadowParams p = RectParams(800, 200, 0, 0, 0);
  NormalizeShadowParams(p);
  EXPECT_EQ(p.Rect.Right, 400.0f);
  EXPECT_EQ(p.Rect.Bottom, 100.0f);
  TShadowParams empty = RectParams(0, 0, 0, 0, 0);
  NormalizeShadowParams(empty);
  EXPECT_EQ(empty.Rect.Right, 0.0f);
}

TEST(ShadowGradient, RampsFollowTheirDirection) {
  Ref<TSysBitmap> b = CreateSysBitmap(8, 4, StdFormats().A8R8G8B8);
  // Direction 4: t = y counted upward from the last row, d = height.
  FillShadowGradient(b.get(), 0, 200, 4);
  EXPECT_EQ(Alpha32(b.get(), 3, 3), 0);
  EXPECT_EQ(Alpha32(b.get(), 3, 0), 200 * 3 / 4);
  EXPECT_EQ(test::Pixel32(b.get(), 3, 0) & 0xFFFFFF, 0u);
  // Direction 7: t = width - x - 1, d = width; falling alphas go toward 0.
  FillShadowGradient(b.get(), 255, 0, 7);
  EXPECT_EQ(Alpha32(b.get(), 7, 2), 255);
  EXPECT_EQ(Alpha32(b.get(), 0, 2), 255 - 255 * 7 / 8);
  // Direction 3: x + y over width + height, y from the bottom.
  FillShadowGradient(b.get(), 0, 240, 3);
  EXPECT_EQ(Alpha32(b.get(), 7, 0), 240 * 10 / 12);
  // 8 and anything above it: one even fill.
  FillShadowGradient(b.get(), 90, 10, 200);
  EXPECT_EQ(Alpha32(b.get(), 5, 1), 90);
}

// The blur keeps the shape's mass and edge, and widens the edge as a
// Gaussian of sigma = s * sqrt(2/3) (two cubic B-spline passes at scale s,
// each of variance s^2 / 3).
TEST(DropShadow, BlurMatchesAGaussianOfTheScale) {
  Ref<TDropShadow> drop = MakeRef<TDropShadow>();
  const double blur = 4.0, s = blur + 1.0;
  drop->SetSpread(blur);
  Ref<TSysBitmap> src = A8Square(60, 40);
  TSysBitmap* out = drop->Render(src.get());
  const int32_t m = int32_t(std::ceil(2.5 * s));
  ASSERT_EQ(out->Width(), 60 + 2 * m);
  double mass_in = 40.0 * 40.0 * 255.0, mass_out = 0;
  for (int32_t y = 0; y < out->Height(); ++y)
    for (int32_t x = 0; x < out->Width(); ++x) mass_out += out->Row(y)[x];
  EXPECT_NEAR(mass_out / mass_in, 1.0, 0.03);

  // The middle row across the left edge (between pixels m + 9 and m + 10).
  const uint8_t* row = out->Row(out->Height() / 2);
  auto cross = [&](double level) {
    for (int32_t x = 1; x < out->Width(); ++x)
      if (row[x] >= level) return x - 1 + (level - row[x - 1]) / double(row[x] - row[x - 1]);
    return -1.0;
  };
  const double edge = m + 10 - 0.5;
  EXPECT_NEAR(cross(127.5), edge, 0.75);
  const double sigma = s * std::sqrt(2.0 / 3.0);
  const double width_10_90 = cross(0.9 * 255) - cross(0.1 * 255);
  EXPECT_NEAR(width_10_90, 2.563 * sigma, 0.25 * 2.563 * sigma);
  EXPECT_EQ(row[out->Width() / 2], 255);
  EXPECT_EQ(row[0], 0);
}

TEST(DropShadow, ContourReshapesTheBlurredAlpha) {
  Ref<TSysBitmap> src = A8Square(80, 60);
  Ref<TDropShadow> drop = MakeRef<TDropShadow>();
  drop->SetSpread(3.0);
  drop->Curves().SelectPreset(1);  // Cone: 255 -> 0, 128 -> 255
  TSysBitmap* out = drop->Render(src.get());
  const int32_t c = out->Width() / 2;
  EXPECT_EQ(out->Row(c)[c], 0);
  int peak = 0;
  for (int32_t x = 0; x < c; ++x) peak = std::max<int>(peak, out->Row(c)[x]);
  EXPECT_GE(peak, 240);

  // A curve that ends at 255 keeps a solid middle solid: the top entry of
  // the lookup is the curve's own end value, not 0.
  drop->Curves().SelectPreset(3);
  const std::vector<uint8_t> lookup = drop->ContourLookup();
  ASSERT_EQ(lookup.size(), 4096u);
  EXPECT_EQ(lookup[4095], 255);
  EXPECT_EQ(lookup[0], 63);
  out = drop->Render(src.get());
  EXPECT_EQ(out->Row(c)[c], 255);
  drop->Curves().SelectPreset(0);
  EXPECT_TRUE(drop->ContourLookup().empty());
}

TEST(DropShadow, ScaleIsSanitised) {
  Ref<TSysBitmap> src = A8Square(4, 2);
  Ref<TDropShadow> drop = MakeRef<TDropShadow>();
  drop->SetSpread(NAN);
  EXPECT_EQ(drop->Render(src.get())->Width(), 4 + 2 * 3);  // scale 1
  drop->SetSpread(-5);
  EXPECT_EQ(drop->Render(src.get())->Width(), 4 + 2 * 3);
  // A blur of a billion pixels is held at the largest scale.
  drop->SetSpread(1e9);
  EXPECT_EQ(drop->Render(src.get())->Width(), 4 + 2 * int32_t(std::ceil(kMaxShadowScale * 2.5)));
}

TEST(ShadowGenerator, SolidRectangleInsetByTheMargins) {
  Ref<TShadowGenerator> gen = MakeRef<TShadowGenerator>();
  Ref<TImage> img = gen->DrawShadow(RectParams(100, 50, 10, 10, 0), nullptr);
  Ref<TSysBitmap> b = Level0(img.get());
  const int32_t m = 3;  // ceil(2.5 * 1)
  ASSERT_EQ(b->Width(), 120 + 2 * m);
  ASSERT_EQ(b->Height(), 70 + 2 * m);
  EXPECT_EQ(test::Pixel32(b.get(), b->Width() / 2, b->Height() / 2), 0xFFFFFFFFu);
  EXPECT_EQ(Alpha32(b.get(), m + 5, m + 5), 0);  // inside the margin
  EXPECT_EQ(Alpha32(b.get(), m + 12, m + 12), 255);
  // The shape's edge at x = 10 (plus the padding) stays where it was.
  EXPECT_LT(Alpha32(b.get(), m + 8, b->Height() / 2), 64);
  EXPECT_GT(Alpha32(b.get(), m + 11, b->Height() / 2), 191);
  EXPECT_EQ(img->Params().Name, MakeShadowKey(RectParams(100, 50, 10, 10, 0)));
}

TEST(ShadowGenerator, BigObjectsAreDrawnReduced) {
  Ref<TShadowGenerator> gen = MakeRef<TShadowGenerator>();
  Ref<TSysBitmap> b = Level0(gen->DrawShadow(RectParams(1000, 1000, 0, 0, 0), nullptr).get());
  EXPECT_EQ(b->Width(), 500 + 6);
  // The blur is divided by the reduction: 8 object pixels are 4 here.
  b = Level0(gen->DrawShadow(RectParams(1000, 1000, 0, 0, 8), nullptr).get());
  EXPECT_EQ(b->Width(), 500 + 2 * int32_t(std::ceil(2.5 * 5)));
}

TEST(ShadowGenerator, BrokenSizesAreRefusedQuickly) {
  Ref<TShadowGenerator> gen = MakeRef<TShadowGenerator>();
  auto run = [&](const std::u16string& key) {
    auto f = std::async(std::launch::async, [&] {
      try {
        DrawShadowFromKey(gen.get(), key, nullptr);
        return 0;
      } catch (const Exception&) {
        return 1;
      }
    });
    EXPECT_EQ(f.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "hangs";
    return f.get();
  };
  EXPECT_EQ(run(u"Shadow: 0:0:-50:10:0:0:0:0:0:8:255:255:0:N\\A"), 1);
  EXPECT_EQ(run(u"Shadow: 0:0:0:0:0:0:0:0:0:8:255:255:0:N\\A"), 1);
  EXPECT_EQ(run(u"Shadow: 0:0:3e38:3e38:3e38:0:0:0:0:8:255:255:0:N\\A"), 1);
  // Margins that nearly cancel a huge rectangle leave a small working size
  // with margins far outside the 32-bit range.
  EXPECT_EQ(run(u"Shadow: 0:0:3e38:3e38:-1.5e38:-1.5e38:0:0:0:8:255:255:0:N\\A"), 1);
  EXPECT_EQ(run(u"Shadow: 0:0:20:20:4:4:0:0:0:8:255:255:0:N\\A"), 0);
  // A gradient shape with a direction from nowhere fills evenly.
  EXPECT_EQ(run(u"Shadow: 0:0:20:20:0:0:0:0:0:99:40:200:0:N\\A"), 0);
}

// A worker asked to stop makes no shadow: the drawing gives up with the
// silent abort (its slide is being dropped).
TEST(ShadowGenerator, AWorkerAskedToStopMakesNone) {
  Ref<TShadowGenerator> gen = MakeRef<TShadowGenerator>();
  class TShadowThread : public TThread {
   public:
    explicit TShadowThread(TShadowGenerator* g) : gen_(g) {}
    std::atomic<int> outcome{-1};  // 0 drawn, 1 aborted, 2 other failure

   protected:
    void Execute() override {
      while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      try {
        outcome = gen_->DrawShadow(RectParams(400, 300, 10, 10, 6), nullptr) ? 0 : 2;
      } catch (const EAbort&) {
        outcome = 1;
      } catch (...) {
        outcome = 2;
      }
    }

   private:
    TShadowGenerator* gen_;
  };
  Ref<TShadowThread> t = MakeRef<TShadowThread>(gen.get());
  ASSERT_TRUE(t->Start());
  t->Terminate();
  ASSERT_TRUE(t->WaitFor(120000));
  EXPECT_EQ(t->outcome.load(), 1);
  EXPECT_TRUE(gen->DrawShadow(RectParams(400, 300, 10, 10, 6), nullptr));  // elsewhere it is drawn
}

TEST(ShadowGenerator, GradientAndContourLookRight) {
  Ref<TShadowGenerator> gen = MakeRef<TShadowGenerator>();
  TShadowParams p = RectParams(160, 100, 20, 20, 6);
  Ref<TSysBitmap> solid = Level0(gen->DrawShadow(p, nullptr).get());
  test::DumpOverChecker(solid.get(), "shadow_solid.png");
  EXPECT_EQ(test::PixelHash(solid.get()), 5602059599514773859ull);
  p.Contour = 7;
  Ref<TSysBitmap> ring = Level0(gen->DrawShadow(p, nullptr).get());
  test::DumpOverChecker(ring.get(), "shadow_ring.png");
  EXPECT_EQ(test::PixelHash(ring.get()), 11045724685694203312ull);
  p.Contour = 0;
  p.StartAlpha = 0;
  p.EndAlpha = 255;
  p.Gradient = 6;
  Ref<TSysBitmap> ramp = Level0(gen->DrawShadow(p, nullptr).get());
  test::DumpOverChecker(ramp.get(), "shadow_gradient.png");
  // Left to right: the alpha rises across the picture.
  const int32_t y = ramp->Height() / 2;
  EXPECT_LT(Alpha32(ramp.get(), ramp->Width() / 4, y), Alpha32(ramp.get(), ramp->Width() * 3 / 4, y));
}

TEST(ShadowProducer, ColourTakesTheAlphaOfTheShape) {
  Ref<TSysBitmap> shape = CreateSysBitmap(30, 30, StdFormats().A8R8G8B8);
  shape->FillRect(TRect{0, 0, 30, 30}, 0xFF000000u);
  Ref<TImage> image = ImageFromBitmap(shape.release(), true, u"shape");
  Ref<TShadowProducer> prod = MakeRef<TShadowProducer>();
  prod->Blur = 2;
  prod->Color = 0x80204060u;
  Ref<TImage> out = prod->MakeShadow(image.get());
  EXPECT_EQ(out->Params().Name, u"shape");
  Ref<TSysBitmap> b = Level0(out.get());
  EXPECT_EQ(test::Pixel32(b.get(), b->Width() / 2, b->Height() / 2), 0x80204060u);
  EXPECT_EQ(test::Pixel32(b.get(), 0, 0), 0x00204060u);
  // A partial alpha a scales the colour's alpha by a / 255.
  bool found = false;
  for (int32_t x = 0; x < b->Width() && !found; ++x) {
    const uint32_t px = test::Pixel32(b.get(), x, b->Height() / 2);
    const uint32_t a = px >> 24;
    if (a > 0 && a < 0x80) found = (px & 0xFFFFFF) == 0x204060u;
  }
  EXPECT_TRUE(found);
}

// A show source that serves a round picture and draws "Shadow: " keys, as
// a slide host does.
struct TShadowHost {
  Ref<TShadowGenerator> Generator = MakeRef<TShadowGenerator>();
  Ref<TRealFileSource> Source = MakeRef<TRealFileSource>();
  Ref<TFileAccessor> Accessor = MakeRef<TFileAccessor>(Source.get());
  Ref<TCallbackHandle> Handle;
  Ref<TImage> Disc;
  int ShadowsDrawn = 0;

  TShadowHost() {
    Ref<TSysBitmap> b = CreateSysBitmap(64, 48, StdFormats().A8R8G8B8);
    for (int32_t y = 0; y < 48; ++y)
      for (int32_t x = 0; x < 64; ++x) {
        const double d = std::hypot(x - 31.5, y - 23.5);
        const uint32_t px = d < 20 ? 0xFF3080C0u : 0x003080C0u;
        std::memcpy(b->PixelAddress(x, y), &px, 4);
      }
    Disc = ImageFromBitmap(b.release(), true, u"disc.png");
    Handle = Source->AddCallback(TOpenImageCallback::Bind<&TShadowHost::Open>(this), nullptr);
  }
  Ref<TImage> Open(void*, TFileSource*, const std::u16string& name) {
    if (name == u"disc.png") return Disc;
    if (name.starts_with(kShadowKeyPrefix)) {
      ++ShadowsDrawn;
      return DrawShadowFromKey(Generator.get(), name, Accessor.get());
    }
    return nullptr;
  }
};

TEST(Shadow, ImageShapeFollowsThePictureAlpha) {
  TShadowHost host;
  TShadowParams p = RectParams(64, 48, 8, 8, 2);
  Ref<TShadow> shadow = TShadow::CreateForImage(host.Disc.get(), u"disc.png", p, host.Accessor.get(), 1.0);
  ASSERT_TRUE(shadow->Image());
  Ref<TSysBitmap> b = Level0(shadow->Image());
  test::DumpOverChecker(b.get(), "shadow_disc.png");
  EXPECT_EQ(test::PixelHash(b.get()), 10422310588760568652ull);
  const int32_t m = int32_t(std::ceil(2.5 * 3));
  ASSERT_EQ(b->Width(), 80 + 2 * m);
  const int32_t cx = m + 8 + 32, cy = m + 8 + 24;
  EXPECT_EQ(Alpha32(b.get(), cx, cy), 255);
  // The disc's corners are empty, unlike a rectangle shadow's.
  EXPECT_LT(Alpha32(b.get(), m + 10, m + 10), 8);
  EXPECT_EQ(host.ShadowsDrawn, 1);
  // Equal parameters share the cached picture.
  Ref<TShadow> again = TShadow::CreateForImage(host.Disc.get(), u"disc.png", p, host.Accessor.get(), 1.0);
  EXPECT_EQ(again->Image()->Store(), shadow->Image()->Store());
  EXPECT_EQ(host.ShadowsDrawn, 1);
  EXPECT_TRUE(again->SameParams(p));
  // RectOnly makes a rectangle of the same picture.
  p.RectOnly = true;
  Ref<TShadow> rect = TShadow::CreateForImage(host.Disc.get(), u"disc.png", p, host.Accessor.get(), 1.0);
  EXPECT_GT(Alpha32(Level0(rect->Image()).get(), m + 14, m + 14), 200);
}

TEST(Shadow, NormalisedShadowsServeAnySize) {
  TShadowHost host;
  Ref<TShadow> shadow = TShadow::Create(RectParams(1600, 900, 0, 0, 10), host.Accessor.get());
  EXPECT_TRUE(shadow->Normalised());
  EXPECT_EQ(shadow->Params().Rect.Right, 267.0f);  // 1600 * sqrt(40000 / 1440000)
  EXPECT_TRUE(shadow->SameParams(RectParams(1600, 900, 0, 0, 10)));
  EXPECT_TRUE(shadow->SameParams(RectParams(3200, 1800, 0, 0, 10)));
  EXPECT_FALSE(shadow->SameParams(RectParams(900, 900, 0, 0, 10)));
}

TEST(ShadowPlacement, OffsetAlongTheAngleAndCentred) {
  TShadowHost host;
  TShadowParams p = RectParams(100, 50, 0, 0, 0);
  Ref<TShadow> shadow = TShadow::CreateForImage(nullptr, u"", p, host.Accessor.get(), 1.0);
  const int32_t m = 3;
  ASSERT_EQ(shadow->Image()->Width(), 100 + 2 * m);
  const TVector3 o{10, 20, 0}, ax{2, 0, 0}, ay{0, 2, 0};
  EXPECT_FALSE(PlaceShadow(*shadow, o, 0, 0, 5, ax, ay, 1, 1).has_value());

  // d = sqrt(|ax| |ay|) * 5 = 10 at 90 degrees: straight down in y.
  auto q = PlaceShadow(*shadow, o, 50, 90, 5, ax, ay, 128, 64);
  ASSERT_TRUE(q.has_value());
  EXPECT_NEAR(q->Origin.x, 10 - m * 2, 1e-4);
  EXPECT_NEAR(q->Origin.y, 20 + 10 - m * 2, 1e-4);
  EXPECT_EQ(q->AxisX.x, 2.0f);
  EXPECT_EQ(q->TextureWidth, 128.0f);

  // Turned with the object: the same offset follows the object's axes.
  shadow = TShadow::CreateForImage(nullptr, u"", [&] { auto t = p; t.TurnOffset = true; return t; }(),
                                   host.Accessor.get(), 1.0);
  shadow->DistancePercent = 50;
  const TVector3 rx{0, 2, 0}, ry{-2, 0, 0};  // turned by 90 degrees
  q = PlaceShadow(*shadow, o, 50, 0, 5, rx, ry, 1, 1);
  ASSERT_TRUE(q.has_value());
  EXPECT_NEAR(q->Origin.x, 10 + m * 2, 1e-4);
  EXPECT_NEAR(q->Origin.y, 20 + 5 - m * 2, 1e-4);

  // A reduced working size scales the quad back up and the texture down.
  shadow = TShadow::CreateForImage(nullptr, u"", RectParams(2000, 1000, 0, 0, 0), host.Accessor.get(), 1.0);
  q = PlaceShadow(*shadow, o, 50, 0, 0, ax, ay, 64, 64);
  ASSERT_TRUE(q.has_value());
  EXPECT_EQ(q->AxisX.x, 2.0f * 2.0f);
  EXPECT_EQ(q->TextureWidth, 32.0f);
}

}  // namespace
}  // namespace kav
