#include <gtest/gtest.h>

#include <map>

#include "VoRav/Composite/vxThemedControlImages.h"
#include "VoRav/Composite/vxThemedControlUtils.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

Ref<TImage> SolidImage(int32_t w, int32_t h, TColor32 color) {
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, w, h}, color);
  return ImageFromBitmap(b.get(), false, u"");
}

uint32_t Pixel32(TBitmap* b, int32_t x, int32_t y) {
  uint32_t px = 0;
  b->GetPixels32(x, y, 1, std::span<uint32_t>(&px, 1), 0);
  return px;
}

// A part whose painter answers a solid picture of the part's size per key
// ("red", "green", "blue"; "empty" has none).
class TTestPart : public TThemedControlAnimatedPart {
 public:
  explicit TTestPart(TDrawFrame* frame) : TThemedControlAnimatedPart(frame) {}
  std::vector<std::u16string> Asked;
  std::vector<TPoint> AskedSizes;
  int Changes = 0, Bounds = 0, ImageRequests = 0;
  void UpdatePartBounds() override { ++Bounds; }
  void UpdatePartImage() override { ++ImageRequests; }
  void PartImageChanged() override { ++Changes; }
  void GetPartImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture) override {
    Asked.push_back(key);
    AskedSizes.push_back(TPoint{width_, height_});
    static const std::map<std::u16string, TColor32> colors{
        {u"red", 0xFFFF0000u}, {u"green", 0xFF00FF00u}, {u"blue", 0xFF0000FFu}};
    offset = TPoint{2, 1};
    auto it = colors.find(key);
    picture = it == colors.end() ? nullptr : SolidImage(width_ - 4, height_ - 2, it->second);
  }
};

class ThemedControlImagesTest : public CompositeTest {
 protected:
  TTestPart* MakePart() {
    MakeRoot(60, 30);
    AddProbe(root.get(), "back", 0, 0, 60, 30, 0xFFFFFFFF);
    auto* p = new TTestPart(root->CreateChildFrame());
    p->SetPosition(10, 5);
    p->SetSize(24, 12);
    return p;
  }
  void Tick(uint32_t ms) {
    backend->Advance(ms);
    Drain();
  }
  // The blend the animator makes of two opaque colours at a time of `t` of `d`.
  static uint32_t Blend(uint32_t c0, uint32_t c1, uint32_t t, uint32_t d) {
    const int32_t w1 = int32_t(double(t) / double(d) * 256);
    uint32_t out = 0;
    for (int s = 0; s < 32; s += 8) {
      const int32_t a = int32_t((c0 >> s) & 0xFF), b = int32_t((c1 >> s) & 0xFF);
      out |= uint32_t(std::min(255, ((a * (256 - w1)) >> 8) + ((b * w1) >> 8))) << s;
    }
    return out;
  }
};

TEST_F(ThemedControlImagesTest, PicturesAreCachedPerKeyUntilResetOrResize) {
  TTestPart* p = MakePart();
  p->SetState(u"red", 0);
  p->SetState(u"red", 0);
  p->SetState(u"empty", 0);
  p->SetState(u"empty", 0);  // a nil answer is cached too
  p->SetState(u"red", 100);  // no picture shown now: immediate, from the cache
  EXPECT_EQ(p->Asked, (std::vector<std::u16string>{u"red", u"empty"}));
  EXPECT_EQ(p->Changes, 5);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  EXPECT_EQ(p->Images()->Cache().Count(), 2);
  // The picture lands at its offset in the control.
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(12, 6), 0xFF0000u);
  EXPECT_NE(frame->Surface()->PixelAt(11, 6), 0xFF0000u);
  EXPECT_EQ(frame->Surface()->PixelAt(31, 15), 0xFF0000u);

  // A new size empties the cache and asks the painter again at that size.
  const int requests = p->ImageRequests;
  p->SetSize(30, 14);
  EXPECT_EQ(p->Images()->Cache().Count(), 0);
  EXPECT_EQ(p->ImageRequests, requests + 1);
  p->SetState(u"red", 0);
  ASSERT_EQ(p->Asked.size(), 3u);
  EXPECT_EQ(p->AskedSizes.back(), (TPoint{30, 14}));
  // A theme change resets, re-lays and asks for the picture again.
  p->ThemeChanged();
  EXPECT_EQ(p->Images()->Cache().Count(), 0);
  EXPECT_EQ(p->Bounds, 1);
  EXPECT_EQ(p->ImageRequests, requests + 2);
  Ref<TBitmap> shown;
  TPoint at;
  EXPECT_FALSE(p->Images()->GetCurrentImage(shown, at));
}

TEST_F(ThemedControlImagesTest, CrossFadeFollowsTheClockAndEndsOnTheNewPicture) {
  TTestPart* p = MakePart();
  TRefreshNotifier* n = root->RefreshNotifier();
  p->SetState(u"red", 0);
  const int changes = p->Changes;
  p->SetState(u"blue", 160);
  EXPECT_TRUE(n->TimerRunning());
  EXPECT_EQ(p->Changes, changes);  // the change is reported at the end
  Ref<TBitmap> shown;
  TPoint at;
  // Before the first tick the old picture is still shown.
  ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
  EXPECT_EQ(Pixel32(shown.get(), 0, 0), 0xFFFF0000u);

  const uint32_t step = n->Interval();
  uint32_t t = 0;
  while (t + step < 160) {
    Tick(step);
    t += step;
    ASSERT_TRUE(p->Images()->Animating());
    ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
    EXPECT_EQ(at, (TPoint{2, 1}));
    EXPECT_EQ(Pixel32(shown.get(), 3, 3), Blend(0xFFFF0000u, 0xFF0000FFu, t, 160)) << "at " << t << " ms";
  }
  // The paint shows the blend at the part's place (its alpha may fall a
  // step short of opaque, letting the background through by a step).
  frame->RecalcInvalidRegion();
  const uint32_t want = Blend(0xFFFF0000u, 0xFF0000FFu, t, 160), got = frame->Surface()->PixelAt(13, 7);
  for (int s = 0; s < 24; s += 8) EXPECT_NEAR(int((got >> s) & 0xFF), int((want >> s) & 0xFF), 3) << s;
  Tick(160);
  EXPECT_FALSE(n->TimerRunning());
  EXPECT_EQ(p->Changes, changes + 1);
  ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
  EXPECT_EQ(Pixel32(shown.get(), 3, 3), 0xFF0000FFu);
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(13, 7), 0x0000FFu);
}

TEST_F(ThemedControlImagesTest, ANewStateDuringAFadeStartsFromTheBlendShown) {
  TTestPart* p = MakePart();
  p->SetState(u"red", 0);
  p->SetState(u"blue", 100);
  Tick(50);
  Ref<TBitmap> shown;
  TPoint at;
  ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
  const uint32_t middle = Pixel32(shown.get(), 1, 1);
  EXPECT_EQ(middle, Blend(0xFFFF0000u, 0xFF0000FFu, 50, 100));
  p->SetState(u"green", 100);
  // The next fade begins at the blend that was on screen.
  ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
  EXPECT_EQ(Pixel32(shown.get(), 1, 1), middle);
  Tick(25);
  ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
  EXPECT_EQ(Pixel32(shown.get(), 1, 1), Blend(middle, 0xFF00FF00u, 25, 100));
  // Duration 0 replaces the picture at once and stops the timer; a stray
  // tick does not bring the blend back.
  p->SetState(u"red", 0);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  p->Images()->Tick();
  ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
  EXPECT_EQ(Pixel32(shown.get(), 1, 1), 0xFFFF0000u);
  // A state without a picture is immediate and shows nothing; the old
  // picture's area is repainted.
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(13, 7), 0xFF0000u);
  p->SetState(u"empty", 100);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  EXPECT_FALSE(p->Images()->GetCurrentImage(shown, at));
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(13, 7), 0xFFFFFFu);
}

TEST_F(ThemedControlImagesTest, ACyclingStatePulsesAndUnassignedCallbacksAssert) {
  TTestPart* p = MakePart();
  p->SetState(u"red", 0);
  p->Images()->SetState(u"blue", 100, true);
  Ref<TBitmap> shown;
  TPoint at;
  Tick(25);  // a quarter: half-way up
  ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
  EXPECT_EQ(Pixel32(shown.get(), 0, 0), Blend(0xFFFF0000u, 0xFF0000FFu, 50, 100));
  Tick(125);  // one and a half: at the top, still running
  ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
  EXPECT_EQ(Pixel32(shown.get(), 0, 0), 0xFF0000FFu);
  EXPECT_TRUE(root->RefreshNotifier()->TimerRunning());
  Tick(50);  // two: back at the start
  ASSERT_TRUE(p->Images()->GetCurrentImage(shown, at));
  EXPECT_EQ(Pixel32(shown.get(), 0, 0), 0xFFFF0000u);
  p->Images()->Reset();
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());

  Ref<TThemedControlImages> loose = MakeRef<TThemedControlImages>();
  try {
    loose->SetState(u"x", 0, false);
    ADD_FAILURE() << "no assertion";
  } catch (const EAbort& e) {
    EXPECT_NE(e.Message().find("Assertion failure"), std::string::npos);
    EXPECT_NE(e.Message().find("vxThemedControlImages"), std::string::npos);
  }
}

TEST(ThemedControlUtilsTest, ArrowGlyphsAreCachedPerDirectionSizeAndColour) {
  TImage* down = GetArrowGlyph(15, 15, 0xFF000000u, 1);
  ASSERT_NE(down, nullptr);
  EXPECT_EQ(GetArrowGlyph(15, 15, 0xFF000000u, 1), down);
  Ref<TImage> held(down);
  TImage* red = GetArrowGlyph(15, 15, 0xFFFF0000u, 1);
  EXPECT_NE(red, down);
  EXPECT_NE(GetArrowGlyph(15, 15, 0xFFFF0000u, 5), red);  // same shape, own slot
  Ref<TBitmap> b(red->GetBitmap());
  // Down: base at y = 5 from 7.5 - 6 to 7.5 + 6, tip at (7.5, 11).
  EXPECT_EQ(Pixel32(b.get(), 7, 6), 0xFFFF0000u);
  EXPECT_EQ(Pixel32(b.get(), 7, 9) >> 24, 0xFFu);
  EXPECT_GT(Pixel32(b.get(), 7, 10) >> 24, 0u);  // the tip, partly covered
  EXPECT_EQ(Pixel32(b.get(), 7, 3) >> 24, 0u);
  EXPECT_EQ(Pixel32(b.get(), 2, 10) >> 24, 0u);
  Ref<TBitmap> up(GetArrowGlyph(15, 15, 0xFFFF0000u, 0)->GetBitmap());
  EXPECT_EQ(Pixel32(up.get(), 7, 9), 0xFFFF0000u);
  EXPECT_EQ(Pixel32(up.get(), 7, 11) >> 24, 0u);
  EXPECT_THROW(GetArrowGlyph(15, 15, 0xFF000000u, 8), EAbort);
  EXPECT_THROW(GetArrowGlyph(15, 15, 0xFF000000u, -1), EAbort);
  FinalizeThemedControlUtils();
}

TEST(ThemedControlUtilsTest, PixelArrowsAndTheClassicRaisedFrame) {
  Ref<TSysBitmap> b = CreateSysBitmap(8, 8, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, 8, 8}, 0);
  DrawPixelArrow(b.get(), 1, 1, true, 0xFF000000u, 5);  // half 2: rows of 1, 2, 2, 2... widths 1 2 2 2 1
  auto on = [&](int x, int y) { return Pixel32(b.get(), x, y) == 0xFF000000u; };
  EXPECT_TRUE(on(1, 1));
  EXPECT_FALSE(on(2, 1));
  EXPECT_TRUE(on(2, 2));
  EXPECT_TRUE(on(2, 3));  // the middle run
  EXPECT_FALSE(on(3, 3));
  EXPECT_TRUE(on(1, 5));
  EXPECT_FALSE(on(2, 5));
  EXPECT_FALSE(on(1, 6));
  b->FillRect(TRect{0, 0, 8, 8}, 0);
  DrawPixelArrow(b.get(), 1, 1, false, 0xFF000000u, 5);  // flat side at x = 3
  EXPECT_TRUE(on(2, 1));
  EXPECT_FALSE(on(1, 1));
  EXPECT_TRUE(on(1, 2));
  EXPECT_TRUE(on(2, 5));
  EXPECT_FALSE(on(3, 3));

  Ref<TSysBitmap> f = CreateSysBitmap(6, 5, StdFormats().A8R8G8B8);
  DrawClassicRaisedFrame(f.get(), 0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u, 0xFF000005u);
  const char* expect[5] = {"111115", "122245", "123345", "144445", "555555"};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(Pixel32(f.get(), x, y), 0xFF000000u + uint32_t(expect[y][x] - '0')) << x << "," << y;
}

}  // namespace
