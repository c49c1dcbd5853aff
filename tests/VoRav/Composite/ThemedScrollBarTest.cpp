// The themed scroll bar: its value model and layout, the part keys of the
// painters, the allocator, and the mouse: arrow and page auto-repeat on the
// manual clock, thumb drags and their limits, the wheel, hover states and
// the visual style's cross-fade.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "VoRav/Composite/vxThemedFrameScrollBar.h"
#include "VoRav/Composite/win9xFrameScrollBarTheme.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winXPFrameScrollBarTheme.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

std::string AssertText(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EAbort& e) {
    return e.Message();
  }
  return "";
}

TRect PartRect(TThemedFrameScrollBar* bar, int32_t index) {
  TThemedScrollBarPart* p = bar->Part(index);
  const TPoint at = p->GetPosition();
  return TRect{at.X, at.Y, at.X + p->GetWidth(), at.Y + p->GetHeight()};
}

// A pixel as 0xAARRGGBB of a 24-bit (opaque) or 32-bit bitmap.
uint32_t Pixel32(TBitmap* b, int32_t x, int32_t y) {
  auto* s = AsSysBitmap(b);
  if (s && s->BytesPerPixel() == 3) {
    TRGBTriple t;
    s->GetPixels24(x, y, 1, std::span<TRGBTriple>(&t, 1), 0);
    return ColorRGBA(t.r, t.g, t.b, 255);
  }
  uint32_t px = 0;
  b->GetPixels32(x, y, 1, std::span<uint32_t>(&px, 1), 0);
  return px;
}

class ThemedScrollBarTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    unsetenv("KAV_VISUAL_STYLES");
    InitStdFrameControlHooks();
    InitWinFrameControls();
    SetDefaultControlStyles(DefaultWinControlStyles());
    InitThemedFrameScrollBar();
    classic = MakeRef<TControlStyles>();
    classic->Assign(DefaultWinControlStyles());
    MakeRef<TWin9xFrameScrollBarTheme>(classic.get());
  }
  void TearDown() override {
    root = nullptr;
    classic = nullptr;
    FinalizeThemedFrameScrollBar();
    SetDefaultControlStyles(nullptr);
    FinalizeWinFrameControls();
    FinalizeThemeServices();
    InitStdFrameControlHooks();
    unsetenv("KAV_VISUAL_STYLES");
    CompositeTest::TearDown();
  }

  // A bar on a 300 x 300 root at (10, 10); the classic painter unless
  // `styles` names another set.
  TThemedFrameScrollBar* Bar(uint8_t kind, int32_t length, TControlStyles* styles = nullptr) {
    if (!root) {
      MakeRoot(300, 300);
      AddProbe(root.get(), "back", 0, 0, 300, 300, 0xFFFFFFFF);
    }
    auto* bar = dynamic_cast<TThemedFrameScrollBar*>(
        AllocFrameScrollBar(root->CreateChildFrame(), kind, styles ? styles : classic.get()));
    EXPECT_NE(bar, nullptr);
    bar->SetName("bar");
    bar->SetPosition(10, 10);
    bar->SetSize(length, length);
    return bar;
  }
  void Mouse(uint8_t kind, int32_t x, int32_t y, int32_t button = kMouseLeft) {
    frame->MouseEvent(0, x, y, kind, kind == kMouseMove ? 0 : button);
  }
  // Moves the manual clock on one millisecond at a time, running the
  // refresh ticks that fall due.
  void RunFor(uint32_t ms) {
    for (uint32_t i = 0; i < ms; ++i) {
      backend->Advance(1);
      Drain();
    }
  }
  std::u16string Key(TThemedFrameScrollBar* bar, int32_t index) { return bar->Part(index)->Key(); }

  Ref<TControlStyles> classic;
};

}  // namespace

TEST_F(ThemedScrollBarTest, ValueLayoutAndThicknessFollowTheModel) {
  TThemedFrameScrollBar* h = Bar(1, 200);
  EXPECT_EQ(h->Orientation(), kSbHorizontal);
  EXPECT_EQ(h->GetHeight(), 17);  // the thickness is the painter's, the length free
  EXPECT_EQ(h->GetWidth(), 200);
  EXPECT_EQ(PartRect(h, kSbFirstButton), (TRect{0, 0, 17, 17}));
  EXPECT_EQ(PartRect(h, kSbSecondButton), (TRect{183, 0, 200, 17}));
  // A page of 0 still gives a 17-pixel thumb.
  EXPECT_EQ(PartRect(h, kSbThumb), (TRect{17, 0, 34, 17}));
  EXPECT_EQ(PartRect(h, kSbUpperTrack), (TRect{17, 0, 17, 17}));
  EXPECT_EQ(PartRect(h, kSbLowerTrack), (TRect{34, 0, 183, 17}));

  Ref<TEventLog> logp = MakeRef<TEventLog>();
  TEventLog& log = *logp;
  log.Listen(h, {kFrameEventChanged});
  h->SetPageAndPosition(0.5f, 0.5f);  // thumb round(166 / 2) = 83, free 83
  EXPECT_EQ(PartRect(h, kSbThumb), (TRect{59, 0, 142, 17}));
  EXPECT_EQ(PartRect(h, kSbUpperTrack), (TRect{17, 0, 59, 17}));
  EXPECT_EQ(PartRect(h, kSbLowerTrack), (TRect{142, 0, 183, 17}));
  // Values outside [0, 1] are clamped; the current values raise no event.
  h->SetPageAndPosition(-3, 7);
  EXPECT_EQ(h->Page(), 0.0f);
  EXPECT_EQ(h->Position(), 1.0f);
  EXPECT_EQ(PartRect(h, kSbThumb), (TRect{166, 0, 183, 17}));
  h->SetPageAndPosition(0, 1);
  EXPECT_EQ(log.Count("bar:1"), 2);
  // A page of 1 fills the track.
  h->SetPageAndPosition(1, 0.3f);
  EXPECT_EQ(PartRect(h, kSbThumb), (TRect{17, 0, 183, 17}));
  h->SetLineStep(0.02f);
  h->SetPageStep(0.25f);
  EXPECT_EQ(log.Count("bar:1"), 5);

  // Kinds 0 and 2 are vertical: the width is the painter's.
  for (uint8_t kind : {uint8_t(0), uint8_t(2)}) {
    TThemedFrameScrollBar* v = Bar(kind, 120);
    EXPECT_EQ(v->Orientation(), kSbVertical);
    EXPECT_EQ(v->GetWidth(), 17);
    EXPECT_EQ(PartRect(v, kSbSecondButton), (TRect{0, 103, 17, 120}));
    v->SetPageAndPosition(0.25f, 1);  // thumb round(86 / 4) = 22 at the end
    EXPECT_EQ(PartRect(v, kSbThumb), (TRect{0, 81, 17, 103}));
    EXPECT_EQ(PartRect(v, kSbLowerTrack), (TRect{0, 103, 17, 103}));
  }

  // A bar too short for the shortest thumb: the thumb never leaves the
  // track (it takes the whole of it), and a bar shorter than its buttons
  // has an empty track.
  TThemedFrameScrollBar* s = Bar(1, 40);
  s->SetPageAndPosition(0, 1);
  EXPECT_EQ(PartRect(s, kSbThumb), (TRect{17, 0, 23, 17}));
  EXPECT_EQ(PartRect(s, kSbLowerTrack), (TRect{23, 0, 23, 17}));
  s->SetSize(20, 17);
  EXPECT_EQ(s->TrackRect(), (TRect{17, 0, 17, 17}));
  EXPECT_EQ(PartRect(s, kSbThumb), (TRect{17, 0, 17, 17}));
  for (int32_t i = kSbThumb; i <= kSbLowerTrack; ++i) EXPECT_GE(s->Part(i)->GetWidth(), 0);
}

TEST_F(ThemedScrollBarTest, PartKeysParseBackAndMapToThemeParts) {
  TWin9xFrameScrollBarTheme* p = classic->FindTheme<TWin9xFrameScrollBarTheme>();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->GetPartName(kSbThumb, kSbPressed, kSbVertical), u"VsbThumbPressed");
  EXPECT_EQ(p->GetPartName(kSbFirstButton, 0, kSbHorizontal), u"HsbFirstButtonNormal");
  // A pressed button the mouse has left shows "Hot"; a pressed thumb stays "Pressed".
  EXPECT_EQ(p->GetPartName(kSbFirstButton, kSbPressed | kSbBarHot, kSbHorizontal), u"HsbFirstButtonHot");
  EXPECT_EQ(p->GetPartName(kSbLowerTrack, kSbPressed | kSbHot, kSbVertical), u"VsbLowerTrackPressed");
  EXPECT_EQ(p->GetPartName(kSbUpperTrack, kSbDisabled | kSbHot | kSbPressed, kSbHorizontal), u"HsbUpperTrackDisabled");
  EXPECT_EQ(p->GetPartName(kSbSecondButton, kSbBarHot, kSbVertical), u"VsbSecondButtonFocused");
  EXPECT_EQ(p->GetPartName(kSbSizeBox, kSbHot, kSbVertical), u"VsbSizeBoxHot");
  EXPECT_EQ(p->GetPartName(9, 0, kSbVertical), u"VNormal");

  TScrollBarPartKey k;
  ASSERT_TRUE(ParseScrollBarPartKey(u"VsbThumbPressed", k));
  EXPECT_EQ(k.Orientation, kSbVertical);
  EXPECT_EQ(k.Part, kSbThumb);
  EXPECT_EQ(k.State, kSbWordPressed);
  ASSERT_TRUE(ParseScrollBarPartKey(u"HsbLowerTrackHotNormal", k));  // "Normal" is looked for before "Hot"
  EXPECT_EQ(k.State, kSbWordNormal);
  ASSERT_TRUE(ParseScrollBarPartKey(u"HsbSizeBox", k));
  EXPECT_EQ(k.Part, kSbSizeBox);
  EXPECT_EQ(k.State, kSbWordNormal);
  EXPECT_FALSE(ParseScrollBarPartKey(u"XsbThumbNormal", k));
  EXPECT_FALSE(ParseScrollBarPartKey(u"HThumbNormal", k));
  EXPECT_FALSE(ParseScrollBarPartKey(u"", k));

  // Bad keys and orientations are assertion failures of each painter.
  TPoint at;
  EXPECT_NE(AssertText([&] { p->DrawPart(u"Qsb", TSize{5, 5}, at); }).find("win9xFrameScrollBarTheme"),
            std::string::npos);
  EXPECT_NE(AssertText([&] { p->GetButtonRect(TSize{50, 17}, 2, 0); }).find("win9xFrameScrollBarTheme"),
            std::string::npos);
  auto* xp = DefaultWinControlStyles()->FindTheme<TWinXPFrameScrollBarTheme>();
  ASSERT_NE(xp, nullptr);
  EXPECT_NE(AssertText([&] { xp->DrawPart(u"HsbNothing", TSize{5, 5}, at); }).find("winXPFrameScrollBarTheme"),
            std::string::npos);
  EXPECT_EQ(p->DrawPart(u"HsbThumbNormal", TSize{0, 17}, at), nullptr);
  EXPECT_EQ(xp->DrawPart(u"HsbThumbNormal", TSize{17, 0}, at), nullptr);

  // Theme parts and states of the class "scrollbar".
  struct {
    const char16_t* key;
    bool hover;
    int32_t part, state;
  } const table[] = {
      {u"HsbFirstButtonNormal", true, 1, 9},    {u"HsbFirstButtonDisabled", true, 1, 12},
      {u"HsbSecondButtonHot", true, 1, 14},     {u"VsbFirstButtonPressed", true, 1, 3},
      {u"VsbSecondButtonNormal", true, 1, 5},   {u"HsbFirstButtonFocused", true, 1, 19},
      {u"HsbSecondButtonFocused", true, 1, 20}, {u"VsbFirstButtonFocused", true, 1, 17},
      {u"VsbSecondButtonFocused", true, 1, 18}, {u"VsbSecondButtonFocused", false, 1, 5},
      {u"HsbThumbHot", true, 2, 2},             {u"VsbThumbPressed", true, 3, 3},
      {u"HsbThumbFocused", true, 2, 5},         {u"HsbUpperTrackNormal", true, 5, 1},
      {u"HsbLowerTrackDisabled", true, 4, 4},   {u"VsbUpperTrackFocused", true, 7, 5},
      {u"VsbLowerTrackPressed", true, 6, 3},    {u"HsbSizeBoxFocused", true, 10, 1},
      {u"VsbSizeBoxNormal", true, 10, 2},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(std::string(row.key, row.key + std::char_traits<char16_t>::length(row.key)));
    ASSERT_TRUE(ParseScrollBarPartKey(row.key, k));
    const TThemedElementDetails d = ScrollBarElementDetails(k, row.hover);
    EXPECT_EQ(d.Element, teScrollBar);
    EXPECT_EQ(d.Part, row.part);
    EXPECT_EQ(d.State, row.state);
  }

  // Transition times: none in the classic look; 100 ms when a flag appears,
  // 500 ms when flags only go, 50 ms when pressed changes.
  uint32_t ms = 7;
  EXPECT_FALSE(p->GetTransitionTime(kSbThumb, 0, ms, kSbHot));
  EXPECT_TRUE(xp->GetTransitionTime(kSbThumb, 0, ms, kSbHot));
  EXPECT_EQ(ms, 100u);
  EXPECT_TRUE(xp->GetTransitionTime(kSbThumb, kSbHot | kSbBarHot, ms, kSbBarHot));
  EXPECT_EQ(ms, 500u);
  EXPECT_TRUE(xp->GetTransitionTime(kSbThumb, kSbBarHot, ms, kSbBarHot));
  EXPECT_EQ(ms, 500u);
  EXPECT_TRUE(xp->GetTransitionTime(kSbThumb, kSbHot, ms, kSbHot | kSbPressed));
  EXPECT_EQ(ms, 50u);
  EXPECT_TRUE(xp->GetTransitionTime(kSbThumb, kSbHot | kSbPressed, ms, kSbHot));
  EXPECT_EQ(ms, 50u);
  // With visual styles off the visual-style painter answers and draws classic.
  setenv("KAV_VISUAL_STYLES", "classic", 1);
  EXPECT_FALSE(xp->GetTransitionTime(kSbThumb, 0, ms, kSbHot));
  for (const char16_t* key : {u"HsbFirstButtonPressed", u"VsbThumbNormal", u"HsbLowerTrackDisabled"}) {
    Ref<TImage> a = p->DrawPart(key, TSize{30, 17}, at);
    Ref<TImage> b = xp->DrawPart(key, TSize{30, 17}, at);
    ASSERT_TRUE(a && b);
    Ref<TBitmap> ab = a->GetBitmap(), bb = b->GetBitmap();
    for (int32_t y = 0; y < 17; ++y)
      for (int32_t x = 0; x < 30; ++x) ASSERT_EQ(Pixel32(ab.get(), x, y), Pixel32(bb.get(), x, y));
  }
}

TEST_F(ThemedScrollBarTest, AllocatorFindsThePainterOnTheStyleSet) {
  MakeRoot(100, 100);
  // Nil: the default styles, which carry the visual-style painter.
  auto* a = dynamic_cast<TThemedFrameScrollBar*>(AllocFrameScrollBar(root->CreateChildFrame(), 1, nullptr));
  ASSERT_NE(a, nullptr);
  EXPECT_NE(dynamic_cast<TWinXPFrameScrollBarTheme*>(a->Painter()), nullptr);
  EXPECT_EQ(a->Styles(), DefaultWinControlStyles());
  auto* b = dynamic_cast<TThemedFrameScrollBar*>(AllocFrameScrollBar(root->CreateChildFrame(), 0, classic.get()));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(dynamic_cast<TWinXPFrameScrollBarTheme*>(b->Painter()), nullptr);
  // A style set without a painter goes to the previous allocator.
  Ref<TControlStyles> bare = MakeRef<TControlStyles>();
  TDrawFrame* f = root->CreateChildFrame();
  EXPECT_NE(AssertText([&] { AllocFrameScrollBar(f, 1, bare.get()); }).find("AllocFrameScrollBar not Assigned"),
            std::string::npos);
  FinalizeThemedFrameScrollBar();
  EXPECT_NE(AssertText([&] { AllocFrameScrollBar(f, 1, classic.get()); }).find("AllocFrameScrollBar not Assigned"),
            std::string::npos);
  InitThemedFrameScrollBar();
}

TEST_F(ThemedScrollBarTest, ArrowStepsAtOnceThenAfterTheDelayAtTheIntervalWhileHot) {
  TThemedFrameScrollBar* bar = Bar(1, 200);
  bar->SetPageAndPosition(0.1f, 0.5f);
  Ref<TEventLog> logp = MakeRef<TEventLog>();
  TEventLog& log = *logp;
  log.Listen(bar, {kFrameEventChanged});
  TRefreshNotifier* n = root->RefreshNotifier();
  const int32_t tick = int32_t(n->Interval());
  // The second button lies at 183..200 in the bar, the bar at x 10.
  Mouse(kMouseMove, 200, 18);
  EXPECT_EQ(Key(bar, kSbSecondButton), u"HsbSecondButtonHot");
  EXPECT_EQ(Key(bar, kSbThumb), u"HsbThumbFocused");
  Mouse(kMouseDown, 200, 18);
  EXPECT_EQ(Key(bar, kSbSecondButton), u"HsbSecondButtonPressed");
  EXPECT_EQ(log.Count("bar:1"), 1);  // one step at once
  EXPECT_NEAR(bar->Position(), 0.51, 1e-5);
  RunFor(499);
  EXPECT_EQ(log.Count("bar:1"), 1);  // nothing before the delay
  RunFor(1 + tick);
  EXPECT_EQ(log.Count("bar:1"), 2);  // on the first refresh tick after it
  RunFor(1000);                      // then every 50 ms
  EXPECT_GE(log.Count("bar:1"), 21);
  EXPECT_LE(log.Count("bar:1"), 23);

  // Off the button, still pressed: stepping pauses and the button shows "Hot".
  Mouse(kMouseMove, 100, 18);
  EXPECT_EQ(Key(bar, kSbSecondButton), u"HsbSecondButtonHot");
  const int32_t paused = log.Count("bar:1");
  RunFor(400);
  EXPECT_EQ(log.Count("bar:1"), paused);
  Mouse(kMouseMove, 199, 18);
  RunFor(50 + tick);
  EXPECT_GE(log.Count("bar:1"), paused + 1);
  // Release: the repeat ends and the refresh timer stops.
  Mouse(kMouseUp, 199, 18);
  const int32_t released = log.Count("bar:1");
  RunFor(300);
  EXPECT_EQ(log.Count("bar:1"), released);
  EXPECT_FALSE(n->TimerRunning());
  EXPECT_EQ(Key(bar, kSbSecondButton), u"HsbSecondButtonHot");

  // The first button steps the other way, by the line step.
  bar->SetLineStep(0.05f);
  const float before = bar->Position();
  Mouse(kMouseMove, 15, 18);
  Mouse(kMouseDown, 15, 18);
  Mouse(kMouseUp, 15, 18);
  EXPECT_NEAR(bar->Position(), before - 0.05f, 1e-5);
  // A double click counts as a second press.
  Mouse(kMouseDown, 15, 18);
  Mouse(kMouseUp, 15, 18);
  Mouse(kMouseDblClick, 15, 18);
  Mouse(kMouseUp, 15, 18);
  EXPECT_NEAR(bar->Position(), before - 0.15f, 1e-5);
}

TEST_F(ThemedScrollBarTest, PageClicksRepeatTowardThePointerAndStopUnderTheThumb) {
  TThemedFrameScrollBar* bar = Bar(1, 200);
  bar->SetPageAndPosition(0.1f, 0);  // thumb 17 long, free 149
  // Press the lower track at x 150 of the bar.
  Mouse(kMouseMove, 160, 18);
  Mouse(kMouseDown, 160, 18);
  EXPECT_NEAR(bar->Position(), 0.1, 1e-5);
  RunFor(2000);
  // The thumb reached the pointer at 0.8 (136..153) and paging stopped.
  EXPECT_NEAR(bar->Position(), 0.8, 1e-5);
  EXPECT_EQ(PartRect(bar, kSbThumb), (TRect{136, 0, 153, 17}));
  auto* lower = dynamic_cast<TThemedScrollBarTrack*>(bar->Part(kSbLowerTrack));
  ASSERT_NE(lower, nullptr);
  EXPECT_EQ(lower->LastPoint(), (TPoint{150, 8}));
  EXPECT_FALSE(lower->Hot());
  EXPECT_TRUE(lower->Pressed());
  EXPECT_EQ(Key(bar, kSbLowerTrack), u"HsbLowerTrackHot");
  Mouse(kMouseUp, 160, 18);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  // The upper track pages back by the page step.
  bar->SetPageStep(0.25f);
  Mouse(kMouseMove, 40, 18);
  Mouse(kMouseDown, 40, 18);
  Mouse(kMouseUp, 40, 18);
  EXPECT_NEAR(bar->Position(), 0.55, 1e-5);
  // A bar freed while a piece is held takes its repeat with it.
  Mouse(kMouseDown, 40, 18);
  EXPECT_TRUE(root->RefreshNotifier()->TimerRunning());
  bar->Free();
  EmptyPendingReleaseList();
  RunFor(700);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  Mouse(kMouseUp, 40, 18);
}

TEST_F(ThemedScrollBarTest, ThumbDragFollowsThePointerWithinItsLimits) {
  TThemedFrameScrollBar* bar = Bar(1, 200);
  bar->SetPageAndPosition(0.1f, 0);  // thumb at 17..34, free 149
  Mouse(kMouseMove, 35, 18);
  Mouse(kMouseDown, 35, 18);
  EXPECT_EQ(Key(bar, kSbThumb), u"HsbThumbPressed");
  Mouse(kMouseMove, 35 + 50, 18);
  EXPECT_NEAR(bar->Position(), 50.0 / 149, 1e-5);
  EXPECT_EQ(PartRect(bar, kSbThumb), (TRect{67, 0, 84, 17}));
  Mouse(kMouseMove, 35 + 149, 30);
  EXPECT_NEAR(bar->Position(), 1.0, 1e-5);
  Mouse(kMouseMove, 35 + 200, 30);  // past the end: clamped
  EXPECT_EQ(bar->Position(), 1.0f);
  // More than 128 pixels across the track: back where the drag began.
  Mouse(kMouseMove, 35 + 50, 10 + 17 + 129);
  EXPECT_EQ(bar->Position(), 0.0f);
  Mouse(kMouseMove, 35 + 50, 10 + 17 + 127);  // coming back resumes the drag
  EXPECT_NEAR(bar->Position(), 50.0 / 149, 1e-5);
  // More than 64 pixels beyond the track's end along it: back too.
  Mouse(kMouseMove, 10 + 183 + 64, 18);
  EXPECT_EQ(bar->Position(), 0.0f);
  Mouse(kMouseMove, 10 + 183 + 63, 18);
  EXPECT_EQ(bar->Position(), 1.0f);
  Mouse(kMouseUp, 10 + 183 + 63, 18);
  EXPECT_EQ(Key(bar, kSbThumb), u"HsbThumbNormal");

  // A page of 1: the free length is 0 and a drag keeps the position.
  bar->SetPageAndPosition(1, 0.3f);
  Mouse(kMouseMove, 100, 18);
  Mouse(kMouseDown, 100, 18);
  Mouse(kMouseMove, 150, 18);
  EXPECT_NEAR(bar->Position(), 0.3, 1e-6);
  Mouse(kMouseUp, 150, 18);

  // A vertical bar drags along y.
  TThemedFrameScrollBar* v = Bar(0, 200);
  v->SetPosition(250, 10);
  v->SetPageAndPosition(0.1f, 0);
  Mouse(kMouseMove, 258, 35);
  Mouse(kMouseDown, 258, 35);
  Mouse(kMouseMove, 258 + 100, 35 + 149 / 2);
  EXPECT_NEAR(v->Position(), double(149 / 2) / 149, 1e-5);
  Mouse(kMouseUp, 258, 35);
}

TEST_F(ThemedScrollBarTest, WheelHoverAndDisabledStates) {
  TThemedFrameScrollBar* bar = Bar(1, 200);
  bar->SetPageAndPosition(0.1f, 0.5f);  // thumb at 91..108
  // The wheel moves by three line steps per step, forward toward the start.
  frame->MouseEvent(0, 150, 18, kFrameMouseWheel, -1);
  EXPECT_NEAR(bar->Position(), 0.53, 1e-5);
  frame->MouseEvent(0, 150, 18, kFrameMouseWheel, 2);
  EXPECT_NEAR(bar->Position(), 0.47, 1e-5);

  // Hovering a part: that part "Hot", every other one "Focused" (the hover
  // states of the visual style); away from the bar all "Normal".
  const TRect thumb = PartRect(bar, kSbThumb);
  Mouse(kMouseMove, 10 + thumb.Left + 3, 18);
  EXPECT_EQ(Key(bar, kSbThumb), u"HsbThumbHot");
  for (int32_t i : {kSbFirstButton, kSbSecondButton, kSbUpperTrack, kSbLowerTrack})
    EXPECT_NE(Key(bar, i).find(u"Focused"), std::u16string::npos);
  Mouse(kMouseMove, 150, 200);
  for (int32_t i = 0; i < 5; ++i) {
    EXPECT_NE(Key(bar, i).find(u"Normal"), std::u16string::npos);
    EXPECT_FALSE(bar->Part(i)->BarHot());
  }

  // A disabled bar: every part "Disabled", and neither clicks nor the wheel
  // move it; enabled again, every part "Normal".
  bar->SetEnabled(false);
  for (int32_t i = 0; i < 5; ++i) EXPECT_NE(Key(bar, i).find(u"Disabled"), std::u16string::npos);
  EXPECT_EQ(bar->Part(kSbThumb)->LastState(), kSbDisabled);
  const float pos = bar->Position();
  Mouse(kMouseMove, 200, 18);
  Mouse(kMouseDown, 200, 18);
  Mouse(kMouseUp, 200, 18);
  frame->MouseEvent(0, 150, 18, kFrameMouseWheel, 1);
  EXPECT_EQ(bar->Position(), pos);
  bar->SetEnabled(true);
  Mouse(kMouseMove, 150, 200);
  for (int32_t i = 0; i < 5; ++i) EXPECT_NE(Key(bar, i).find(u"Normal"), std::u16string::npos);
  // Disabled while an arrow is held: the arrow lets go and stops repeating.
  Mouse(kMouseMove, 200, 18);
  Mouse(kMouseDown, 200, 18);
  const float held = bar->Position();
  bar->SetEnabled(false);
  EXPECT_FALSE(bar->Part(kSbSecondButton)->Pressed());
  RunFor(1000);
  EXPECT_EQ(bar->Position(), held);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  Mouse(kMouseUp, 200, 18);
  bar->SetEnabled(true);
  Mouse(kMouseMove, 150, 200);
  for (int32_t i = 0; i < 5; ++i) EXPECT_NE(Key(bar, i).find(u"Normal"), std::u16string::npos);
}

TEST_F(ThemedScrollBarTest, VisualStyleCrossFadesBetweenStatePictures) {
  // The default styles carry the visual-style painter.
  TThemedFrameScrollBar* bar = Bar(1, 200, DefaultWinControlStyles());
  bar->SetPageAndPosition(0.3f, 0.5f);
  TThemedScrollBarPart* thumb = bar->Part(kSbThumb);
  const TSize size{thumb->GetWidth(), thumb->GetHeight()};
  TPoint at;
  Ref<TImage> normal = bar->Painter()->DrawPart(u"HsbThumbNormal", size, at);
  Ref<TImage> hot = bar->Painter()->DrawPart(u"HsbThumbHot", size, at);
  ASSERT_TRUE(normal && hot);
  const int32_t cx = size.cx / 2, cy = size.cy / 2;
  const uint32_t from = Pixel32(normal->GetBitmap().get(), cx, cy), to = Pixel32(hot->GetBitmap().get(), cx, cy);
  ASSERT_NE(from & 0xFFFFFF, to & 0xFFFFFF);
  auto shown = [&] {
    Ref<TBitmap> b;
    TPoint o;
    EXPECT_TRUE(thumb->Images()->GetCurrentImage(b, o));
    return b ? Pixel32(b.get(), cx - o.X, cy - o.Y) : 0u;
  };
  EXPECT_EQ(shown(), from);
  // Hot appears: a 100 ms fade on the refresh timer.
  const TRect r = PartRect(bar, kSbThumb);
  Mouse(kMouseMove, 10 + r.Left + 5, 18);
  EXPECT_TRUE(root->RefreshNotifier()->TimerRunning());
  RunFor(50);
  const uint32_t mid = shown();
  for (int sh = 0; sh < 24; sh += 8) {
    const int32_t a = int32_t(from >> sh & 0xFF), b = int32_t(to >> sh & 0xFF), m = int32_t(mid >> sh & 0xFF);
    EXPECT_GE(m, std::min(a, b));
    EXPECT_LE(m, std::max(a, b));
    // Half-way, within a refresh tick's share of the 100 ms.
    EXPECT_NEAR(m, (a + b) / 2.0, std::abs(b - a) * 0.25 + 2);
  }
  RunFor(100);
  EXPECT_EQ(shown() & 0xFFFFFF, to & 0xFFFFFF);
  RunFor(40);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  // The press fades in 50 ms.
  Mouse(kMouseDown, 10 + r.Left + 5, 18);
  EXPECT_TRUE(root->RefreshNotifier()->TimerRunning());
  RunFor(60 + int32_t(root->RefreshNotifier()->Interval()));
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  Mouse(kMouseUp, 10 + r.Left + 5, 18);
}

// A change listener that frees the bar: by a call and by a click on an arrow.
TEST_F(ThemedScrollBarTest, BarFreedByItsChangeListener) {
  struct TFreer : TEventHandler {
    void HandleEvent(TRefObject* sender, int32_t, intptr_t) override { sender->Free(); }
  };
  Ref<TFreer> freer = MakeRef<TFreer>();
  TThemedFrameScrollBar* bar = Bar(1, 200);
  bar->Events()->AddHandler(kFrameEventChanged, freer.get());
  bar->SetPageAndPosition(0.1f, 0.5f);
  EXPECT_EQ(root->GetFirstChild()->GetNextSibling(), nullptr);
  EmptyPendingReleaseList();

  bar = Bar(1, 200);
  bar->SetPageAndPosition(0.1f, 0.5f);
  bar->Events()->AddHandler(kFrameEventChanged, freer.get());
  Mouse(kMouseMove, 200, 18);
  Mouse(kMouseDown, 200, 18);  // the second arrow steps at once
  EXPECT_EQ(root->GetFirstChild()->GetNextSibling(), nullptr);
  Mouse(kMouseUp, 200, 18);
  RunFor(600);
  EXPECT_EQ(freer->RegistrationCount(), 0);
}
