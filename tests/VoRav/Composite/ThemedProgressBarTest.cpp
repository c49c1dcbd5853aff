// The themed progress bar: segment geometry, the value glide and the
// marquee on the manual clock, degenerate sizes, the painter's drawer list
// and animation handler, and the visual-style chunk colours.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "VoRav/Composite/winUxTheme.h"
#include "tests/VoRav/Composite/CheckControlsTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

// The program's visual style without the progress fill part and with no
// chunk or space size: the bar falls back to chunks of size 0.
TUxThemeLibrary g_real{};
uxtheme::BOOL NoPartDefined(uxtheme::HTHEME, int32_t, int32_t) { return 0; }
uxtheme::HRESULT ZeroInt(uxtheme::HTHEME, int32_t, int32_t, int32_t, int32_t* value) {
  *value = 0;
  return uxtheme::S_OK;
}
void* ChunklessProc(const char* name) {
  if (std::string(name) == "IsThemePartDefined") return reinterpret_cast<void*>(&NoPartDefined);
  if (std::string(name) == "GetThemeInt") return reinterpret_cast<void*>(&ZeroInt);
  return g_real.GetProc(name);
}

class ThemedProgressBarTest : public CheckControlsTest {
 protected:
  TThemedFrameProgressBar* Bar(int32_t w, int32_t h) {
    auto* b = dynamic_cast<TThemedFrameProgressBar*>(_AllocFrameProgressBar(root->CreateChildFrame(), nullptr));
    EXPECT_NE(b, nullptr);
    b->SetPosition(4, 4);
    b->SetSize(w, h);
    return b;
  }
  static TStdDrawer* Drawer(TThemedFrameProgressBar* b) { return dynamic_cast<TStdDrawer*>(b->Drawer()); }
  // The extent the bar shows after painting.
  int32_t Shown(TThemedFrameProgressBar* b) {
    frame->RecalcInvalidRegion();
    return Drawer(b)->LastExtent();
  }
};

TEST_F(ThemedProgressBarTest, SegmentGeometryAndSmallBars) {
  const TProgressGeometry g = ProgressGeometry(152, 17, 0);
  EXPECT_EQ(g.Segment, 6);
  EXPECT_EQ(g.Gap, 2);
  EXPECT_EQ(g.Count, 18);
  const TProgressGeometry smooth = ProgressGeometry(152, 17, 3);
  EXPECT_EQ(smooth.Segment, 1);
  EXPECT_EQ(smooth.Gap, 0);
  EXPECT_EQ(smooth.Count, 144);
  EXPECT_EQ(ProgressGeometry(8, 17, 0).Count, 0);
  EXPECT_EQ(ProgressGeometry(152, 8, 0).Count, 0);

  MakeRoot(200, 60);
  TSize size;
  ProgressBarThemeOf(nullptr)->GetDefaultSize(size);
  EXPECT_EQ(size, (TSize{152, 17}));
  TThemedFrameProgressBar* b = Bar(152, 17);
  b->SetValue(0.5f);  // from 0 upward: a glide
  Tick(250);
  EXPECT_EQ(Shown(b), 9);
  // The picture: frame, face, then nine segments of the highlight colour.
  const TColor32 hl = DefaultControlStyles()->HighlightColor & 0xFFFFFF;
  EXPECT_EQ(frame->Surface()->PixelAt(4 + 2 + 8 * 8 + 1, 12), hl);
  EXPECT_NE(frame->Surface()->PixelAt(4 + 2 + 9 * 8 + 1, 12), hl);
  EXPECT_EQ(frame->Surface()->PixelAt(4, 4), DefaultControlStyles()->ShadowColor & 0xFFFFFF);
  // A bar lower or narrower than 9 pixels shows only its frame and face,
  // also with the marquee (whose period is then 0).
  TThemedFrameProgressBar* small = Bar(8, 17);
  small->SetValue(1);
  Tick(250);
  EXPECT_EQ(Shown(small), 0);
  small->SetMarquee(true);
  Tick(100);
  EXPECT_EQ(small->Drawer()->Animator()->GetMarqueePosition(), 0);
  EXPECT_EQ(Shown(small), 0);
  b->SetKind(3);
  b->SetSize(9, 9);
  EXPECT_NO_THROW(Shown(b));
  EXPECT_THROW(b->SetKind(5), EAbort);
}

TEST_F(ThemedProgressBarTest, RaisingGlidesFor200MsAndLoweringJumps) {
  MakeRoot(200, 60);
  TThemedFrameProgressBar* b = Bar(152, 17);
  EXPECT_EQ(Shown(b), 0);
  b->SetValue(1);
  EXPECT_EQ(Shown(b), 0);  // the glide starts from the value shown
  Tick(100);
  const int32_t half = Shown(b);
  EXPECT_GE(half, 7);
  EXPECT_LE(half, 11);
  Tick(150);
  EXPECT_EQ(Shown(b), 18);
  EXPECT_FALSE(b->Drawer()->Animator()->IsRunning());
  b->SetValue(0.5f);  // down: at once
  EXPECT_EQ(Shown(b), 9);
  // With the direction reversed, lowering glides and raising jumps.
  b->SetReverse(true);
  b->SetValue(0);
  EXPECT_EQ(Shown(b), 9);
  Tick(250);
  EXPECT_EQ(Shown(b), 0);
  b->SetValue(1);
  EXPECT_EQ(Shown(b), 18);
  // Values outside [0, 1] are shown clamped; NaN as 0.
  b->SetReverse(false);
  b->SetValue(7);
  Tick(250);
  EXPECT_EQ(Shown(b), 18);
  b->SetValue(std::numeric_limits<float>::quiet_NaN());
  Tick(250);
  EXPECT_EQ(Shown(b), 0);
}

TEST_F(ThemedProgressBarTest, MarqueeRunsAt200PixelsPerSecondAndRestartsOnResize) {
  MakeRoot(200, 60);
  TThemedFrameProgressBar* b = Bar(152, 17);
  b->SetMarquee(true);
  auto* anim = dynamic_cast<TStdProgressAnimator*>(b->Drawer()->Animator());
  ASSERT_NE(anim, nullptr);
  EXPECT_EQ(anim->Period(), (18 + 5) * 8);
  EXPECT_EQ(anim->GetMarqueePosition(), 0);
  Tick(100);
  EXPECT_EQ(anim->GetMarqueePosition(), 20);
  EXPECT_EQ(Shown(b), 3 - 5);  // ceil(20 / 8) - 5
  Tick(1000);
  EXPECT_EQ(anim->GetMarqueePosition(), 220 % 184);
  // Turning round keeps the position and runs the other way.
  b->SetReverse(true);
  EXPECT_EQ(anim->GetMarqueePosition(), 36);
  Tick(50);
  EXPECT_EQ(anim->GetMarqueePosition(), 26);
  // A new size restarts the marquee with the new period.
  b->SetSize(72, 17);
  EXPECT_EQ(anim->Period(), (8 + 5) * 8);
  EXPECT_EQ(anim->GetMarqueePosition(), 104);  // reversed: period - 0
  // Switching it off shows the value again.
  b->SetMarquee(false);
  b->SetValue(0.5f);
  Tick(250);
  EXPECT_EQ(Shown(b), 4);
}

TEST_F(ThemedProgressBarTest, PainterKeepsItsDrawersAndTicksThemWhileItHasAny) {
  MakeRoot(200, 60);
  auto* painter = dynamic_cast<TProgressBarStdTheme*>(ProgressBarThemeOf(nullptr));
  ASSERT_NE(painter, nullptr);
  EXPECT_EQ(painter->DrawerCount(), 0);
  EXPECT_FALSE(painter->Subscribed());
  TThemedFrameProgressBar* a = Bar(100, 17);
  Bar(100, 17);
  EXPECT_EQ(a->Painter(), painter);  // one painter per style set
  EXPECT_EQ(painter->DrawerCount(), 2);
  EXPECT_TRUE(painter->Subscribed());
  EXPECT_TRUE(SharedTimeRefreshNotifier()->TimerRunning());
  Ref<TProgressBarDrawer> stray = painter->CreateDrawer();
  EXPECT_THROW(painter->RemoveDrawer(stray.get()), EAbort);
  // The bars go: the handler lets the notifier go at the next tick.
  root = nullptr;
  EmptyPendingReleaseList();
  EXPECT_EQ(painter->DrawerCount(), 0);
  Tick(50);
  EXPECT_FALSE(painter->Subscribed());
  EXPECT_FALSE(SharedTimeRefreshNotifier()->TimerRunning());

  // Without a painter factory a style set cannot get a progress painter.
  ResetProgressBarThemeFactory();
  Ref<TControlStyles> bare = MakeRef<TControlStyles>();
  try {
    ProgressBarThemeOf(bare.get());
    ADD_FAILURE() << "no assertion";
  } catch (const EAbort& e) {
    EXPECT_NE(std::string(e.what()).find("AllocProgressBarTheme undefined"), std::string::npos) << e.what();
  }
}

TEST_F(ThemedProgressBarTest, ChunksAreRecolouredByLuminance) {
  Ref<TSysBitmap> b = CreateSysBitmap(3, 1, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, 3, 1}, ColorRGBA(100, 200, 50, 128));
  RecolorProgressChunk(b.get(), TRect{0, 0, 1, 1}, 1);
  RecolorProgressChunk(b.get(), TRect{1, 0, 2, 1}, 2);
  RecolorProgressChunk(b.get(), TRect{2, 0, 3, 1}, 3);
  const int32_t l = 30 + 118 + 6;  // round(0.3 x 100 + 0.59 x 200 + 0.11 x 50)
  auto px = [&](int32_t x) {
    uint32_t p = 0;
    b->GetPixels32(x, 0, 1, std::span<uint32_t>(&p, 1), 0);
    return p;
  };
  EXPECT_EQ(px(0), ColorRGBA(uint8_t(l), 0, 0, 128));
  EXPECT_EQ(px(1), ColorRGBA(uint8_t(l), uint8_t(l), 0, 128));
  EXPECT_EQ(px(2), ColorRGBA(0, 0, uint8_t(l), 128));
  RecolorProgressChunk(b.get(), TRect{-5, -5, 50, 50}, 0);  // kind 0 keeps; the rectangle is clipped
  EXPECT_EQ(px(2), ColorRGBA(0, 0, uint8_t(l), 128));
}

TEST_F(ThemedProgressBarTest, ThemeWithoutChunkSizesFillsWithOneChunk) {
  FinalizeThemeServices();
  FinalizeUxTheme();
  g_real = UxThemeLibrary();
  const TUxThemeLibrary chunkless{g_real.Load, &ChunklessProc, g_real.Free, g_real.CommonControlsVersion};
  SetUxThemeLibrary(&chunkless);
  TStyleEnvironment env;
  env.Set(false);
  InstallStyledPainters();
  {
    Ref<TControlStyles> styles = MakeRef<TControlStyles>();
    styles->Assign(DefaultWinControlStyles());
    MakeRoot(200, 60);
    auto* plain = dynamic_cast<TThemedFrameProgressBar*>(_AllocFrameProgressBar(root->CreateChildFrame(), styles.get()));
    auto* yellow = dynamic_cast<TThemedFrameProgressBar*>(_AllocFrameProgressBar(root->CreateChildFrame(), styles.get()));
    ASSERT_NE(dynamic_cast<TWinProgressBarDrawer*>(plain->Drawer()), nullptr);
    plain->SetSize(152, 17);
    yellow->SetPosition(0, 30);
    yellow->SetSize(152, 17);
    yellow->SetKind(2);
    plain->SetValue(1);
    yellow->SetValue(1);
    Tick(250);
    frame->RecalcInvalidRegion();
    // The fill covers the bar's content as one chunk: the chunk part's
    // colour at both ends, and re-coloured yellow (red = green, no blue).
    const uint32_t left = frame->Surface()->PixelAt(4, 8), right = frame->Surface()->PixelAt(147, 8);
    EXPECT_EQ(left, right);
    EXPECT_NE(left & 0xFF, 0u);  // the accent's blue
    const uint32_t y = frame->Surface()->PixelAt(75, 38);
    EXPECT_EQ(y >> 16 & 0xFF, y >> 8 & 0xFF);
    EXPECT_EQ(y & 0xFF, 0u);
    EXPECT_NE(y, 0u);
    root = nullptr;
    EmptyPendingReleaseList();
  }
  FinalizeThemeServices();
  FinalizeUxTheme();
  SetUxThemeLibrary(nullptr);
}

}  // namespace
