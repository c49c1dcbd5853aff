// The themed push button: painter lookup and sharing, the mouse, Space and
// Enter, a disabled button, the size rules, the painters' keys and fade
// times, cross-fades and the pulsing default button on the fake clock, hit
// testing against the painted shape, and pictures that are missing.
#include <gtest/gtest.h>

#include "VoRav/Graphics/SysImage.h"
#include "platform/window/WinCodes.h"
#include "tests/VoRav/Composite/ThemedButtonTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

TKeyData Key(uint8_t kind, uint16_t code) {
  TKeyData k;
  k.Kind = kind;
  k.Key = code;
  return k;
}

uint32_t CentrePixel(TImage* image) {
  Ref<TBitmap> b = image->GetBitmap();
  return PicturePixel(b.get(), b->Width() / 2, b->Height() / 2) & 0xFFFFFFu;
}

int32_t Channel(uint32_t c, int s) { return int32_t((c >> s) & 0xFF); }

// Each channel of `c` lies within `tolerance` of the blend of a and b at weight t.
::testing::AssertionResult NearBlend(uint32_t c, uint32_t a, uint32_t b, double t, int32_t tolerance = 3) {
  for (int s = 0; s < 24; s += 8) {
    const double want = Channel(a, s) * (1 - t) + Channel(b, s) * t;
    if (std::abs(Channel(c, s) - want) > tolerance)
      return ::testing::AssertionFailure() << std::hex << c << " is not " << t << " of the way from " << a << " to "
                                           << b;
  }
  return ::testing::AssertionSuccess();
}

class ThemedButtonTest : public ThemedButtonFixture {
 protected:
  void Press(uint8_t kind, uint16_t vk) {
    TKeyData k = Key(kind, vk);
    root->DispatchKey(&k);
  }
  // An 80 x 30 button with no caption on a white root of 200 x 100.
  TThemedFrameButton* PlainButtonOnWhite() {
    MakeRoot(200, 100);
    AddProbe(root.get(), "back", 0, 0, 200, 100, 0xFFFFFFFF);
    TThemedFrameButton* b = Button(root.get(), u"");
    b->SetWidthFlags(0);
    b->SetHeightFlags(0);
    b->SetSize(80, 30);
    return b;
  }
  // The centre of the painter's picture for a state of such a button.
  static uint32_t StateCentre(TThemedFrameButton* b, const char16_t* state) {
    TPoint o;
    return CentrePixel(b->Painter()->DrawPart(state, TSize{80, 30}, o).get());
  }
};

// A visual-styles painter whose "Animated" picture is missing, and which
// can lose every picture.
class TGappyTheme : public TWinXPButtonTheme {
 public:
  using TWinXPButtonTheme::TWinXPButtonTheme;
  bool NoPictures = false;
  int AnimatedAsked = 0;
  Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) override {
    if (key.find(u"Animated") != std::u16string::npos) ++AnimatedAsked;
    if (NoPictures || key.find(u"Animated") != std::u16string::npos) return nullptr;
    return TWinXPButtonTheme::DrawPart(key, size, offset);
  }
};

}  // namespace

TEST_F(ThemedButtonTest, AllocatorSharesOnePainterPerStyleSetAndSizesToTheDefault) {
  MakeRoot(300, 100);
  TThemedFrameButton* a = Button(root.get(), u"OK");
  TThemedFrameButton* b = Button(root.get(), u"Cancel", 120);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Painter(), b->Painter());
  EXPECT_NE(dynamic_cast<TWinXPButtonTheme*>(a->Painter()), nullptr);
  EXPECT_EQ(DefaultControlStyles()->FindTheme<TButtonTheme>(), a->Painter());
  // Flags 3: exactly the painter's default size, whatever is asked.
  TSize def;
  a->Painter()->GetDefaultSize(a->Frame(), def);
  EXPECT_GT(def.cx, 2 * TButtonTheme::kMarginX);
  EXPECT_EQ(a->GetWidth(), def.cx);
  a->SetSize(400, 5);
  EXPECT_EQ(a->PaintArea().Width(), def.cx);
  EXPECT_EQ(a->GetHeight(), def.cy);
  // Both height bits: the preferred height is exactly the default height,
  // even for a caption taller than it.
  TFontDesc big = DefaultControlStyles()->ControlFont;
  big.Size *= 3;
  a->GetCaption()->SetInheritMask(0);
  a->GetCaption()->SetOwnFont(big);
  EXPECT_EQ(a->GetHeight(), def.cy);
  // Sized from the caption: the caption's size plus the margins.
  a->SetHeightFlags(4);
  a->SetWidthFlags(4);
  EXPECT_EQ(a->PaintArea().Height(), a->GetCaption()->GetHeight() + 2 * TButtonTheme::kMarginY);
  EXPECT_EQ(a->PaintArea().Width(), a->GetCaption()->GetWidth() + 2 * TButtonTheme::kMarginX);
  // No bits: any size.
  b->SetWidthFlags(0);
  b->SetHeightFlags(0);
  b->SetSize(150, 40);
  EXPECT_EQ(b->PaintArea(), (TRect{0, 0, 150, 40}));
  // The caption sits on the content rectangle, the baseline follows it.
  EXPECT_EQ(b->GetCaption()->GetPosition(), (TPoint{9, 6}));
  EXPECT_EQ(b->Baseline(), b->GetCaption()->Baseline() + 6);

  // A style set that got the classic painter keeps it.
  Ref<TControlStyles> other = MakeRef<TControlStyles>();
  other->Assign(DefaultWinControlStyles());
  InitButtonTheme();
  auto* c = dynamic_cast<TThemedFrameButton*>(AllocFrameButton(root->CreateChildFrame(), other.get()));
  EXPECT_EQ(dynamic_cast<TWinXPButtonTheme*>(c->Painter()), nullptr);
  EXPECT_EQ(other->FindTheme<TButtonTheme>(), c->Painter());
  // A nil frame is an assertion failure.
  TSize size;
  EXPECT_THROW(c->Painter()->GetDefaultSize(nullptr, size), EAbort);
}

TEST_F(ThemedButtonTest, MouseClicksOnlyWhenReleasedOverTheButton) {
  UseClassic(true);
  MakeRoot(200, 100);
  TThemedFrameButton* b = Button(root.get(), u"Go");
  b->SetWidthFlags(0);
  b->SetHeightFlags(0);
  b->SetSize(60, 24);
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(b, {kFrameEventClick});

  Mouse(20, 20, kMouseMove);
  EXPECT_TRUE(b->Hot());
  EXPECT_EQ(b->LastState(), kButtonHot);
  Mouse(20, 20, kMouseDown, kMouseLeft);
  EXPECT_TRUE(b->IsPressed());
  EXPECT_TRUE(b->Focused());  // a tab stop takes focus
  EXPECT_EQ(b->LastState() & (kButtonHot | kButtonPressed), kButtonHot | kButtonPressed);
  // The caption moves with the pressed picture in the classic look.
  EXPECT_EQ(b->GetCaption()->GetPosition(), (TPoint{10, 7}));
  // Away while pressed: shown hot, not pressed.
  Mouse(150, 80, kMouseMove);
  EXPECT_FALSE(b->Hot());
  EXPECT_EQ(b->LastState() & (kButtonHot | kButtonPressed), kButtonHot);
  // The focused button is the one Enter clicks, so it shows as the default.
  EXPECT_EQ(b->LastState(), kButtonHot | kButtonFocused | kButtonDefaulted);
  Mouse(150, 80, kMouseUp, kMouseLeft);
  EXPECT_FALSE(b->IsPressed());
  EXPECT_EQ(log->Count("button:13"), 0);
  // Down and up over it: one click.
  Mouse(20, 20, kMouseMove);
  Mouse(20, 20, kMouseDown, kMouseLeft);
  Mouse(21, 20, kMouseUp, kMouseLeft);
  EXPECT_EQ(log->Count("button:13"), 1);
  Mouse(150, 80, kMouseMove);
  EXPECT_FALSE(b->Hot());
}

TEST_F(ThemedButtonTest, SpaceAndEnterOnTheFocusedButtonClick) {
  MakeRoot(200, 100);
  root->SetFocusState(true);
  TThemedFrameButton* b = Button(root.get(), u"Go");
  TThemedFrameButton* other = Button(root.get(), u"Other", 100);
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(b, {kFrameEventClick});
  b->Focus();
  ASSERT_TRUE(b->Focused());
  EXPECT_EQ(b->LastState() & kButtonFocused, kButtonFocused);

  Press(1, win::VK_SPACE);
  EXPECT_TRUE(b->KeyPressed());
  EXPECT_EQ(b->LastState() & kButtonPressed, kButtonPressed);
  Press(1, win::VK_SPACE);  // auto-repeat: still one press
  EXPECT_EQ(log->Count("button:13"), 0);
  Press(0, win::VK_SPACE);
  EXPECT_FALSE(b->KeyPressed());
  EXPECT_EQ(log->Count("button:13"), 1);
  // A key-up without the key-down clicks nothing.
  Press(0, win::VK_SPACE);
  EXPECT_EQ(log->Count("button:13"), 1);
  // Losing focus between down and up: no click.
  Press(1, win::VK_SPACE);
  other->Focus();
  EXPECT_FALSE(b->KeyPressed());
  b->Focus();
  Press(0, win::VK_SPACE);
  EXPECT_EQ(log->Count("button:13"), 1);
  // Enter clicks the focused button.
  Press(1, win::VK_RETURN);
  EXPECT_EQ(log->Count("button:13"), 2);
}

TEST_F(ThemedButtonTest, DisabledButtonIgnoresMouseAndSpaceAndShowsDisabled) {
  for (bool classic : {true, false}) {
    SCOPED_TRACE(classic ? "classic" : "styled");
    UseClassic(classic);
    MakeRoot(200, 100);
    root->SetFocusState(true);
    TThemedFrameButton* b = Button(root.get(), u"Off");
    Ref<TEventLog> log = MakeRef<TEventLog>();
    log->Listen(b, {kFrameEventClick});
    b->Focus();
    b->SetEnabled(false);
    EXPECT_EQ(b->LastState() & kButtonDisabled, kButtonDisabled);
    EXPECT_GE(b->Images()->Cache().Find(u"Disabled"), 0);
    Mouse(20, 20, kMouseMove);
    Mouse(20, 20, kMouseDown, kMouseLeft);
    Mouse(20, 20, kMouseUp, kMouseLeft);
    TKeyData down = Key(1, win::VK_SPACE), up = Key(0, win::VK_SPACE);
    root->DispatchKey(&down);
    root->DispatchKey(&up);
    EXPECT_FALSE(b->Hot());
    EXPECT_FALSE(b->IsPressed());
    EXPECT_FALSE(down.Handled);
    EXPECT_EQ(log->Count("button:13"), 0);
    // The caption takes the shadow colour.
    TFontDesc style;
    b->GetInheritedStyle(style);
    EXPECT_EQ(style.Color1, TripleOf(DefaultControlStyles()->ShadowColor));
  }
}

TEST_F(ThemedButtonTest, PaintersNameAndParseStatesAndTimeTheirFades) {
  UseClassic(true);
  MakeRoot(100, 50);
  // Painters join their style set, which keeps them: made on the heap.
  Ref<TButtonTheme> classic_ref = MakeRef<TButtonTheme>(DefaultControlStyles());
  Ref<TWinXPButtonTheme> xp_ref = MakeRef<TWinXPButtonTheme>(DefaultControlStyles());
  TButtonTheme& classic = *classic_ref;
  TWinXPButtonTheme& xp = *xp_ref;
  EXPECT_EQ(classic.StateName(kButtonDefaulted | kButtonFocused), u"DefaultedFocused");
  EXPECT_EQ(classic.StateName(kButtonPressed | kButtonHot | kButtonDefaulted), u"Pressed");
  EXPECT_EQ(classic.StateName(kButtonDisabled | kButtonFocused), u"Disabled");
  EXPECT_EQ(classic.StateName(kButtonAnimated | kButtonDisabled), u"Invalid");
  EXPECT_EQ(classic.StateName(kButtonFocused), u"NormalFocused");
  for (const char16_t* key : {u"Normal", u"HotFocused", u"Pressed", u"DefaultedFocused", u"Disabled"})
    EXPECT_EQ(classic.StateName(classic.ParseState(key)), key);
  uint32_t ms = 7;
  EXPECT_FALSE(classic.GetTransitionTime(0, kButtonHot, ms));
  EXPECT_EQ(ms, 0u);
  // Styles off: the visual-styles painter answers as the classic one.
  EXPECT_EQ(xp.StateName(kButtonAnimated), u"Invalid");
  EXPECT_FALSE(xp.GetTransitionTime(0, kButtonHot, ms));
  TRect r;
  xp.GetContentRect(kButtonPressed, TSize{80, 30}, r);
  EXPECT_EQ(r, (TRect{10, 7, 72, 25}));

  UseClassic(false);
  EXPECT_EQ(xp.StateName(kButtonAnimated | kButtonDefaulted | kButtonFocused), u"AnimatedFocused");
  EXPECT_EQ(xp.StateName(kButtonHot | kButtonDefaulted), u"Hot");
  EXPECT_EQ(xp.StateName(kButtonDefaulted), u"Defaulted");
  xp.GetContentRect(kButtonPressed, TSize{80, 30}, r);
  EXPECT_EQ(r, (TRect{9, 6, 71, 24}));
  const struct {
    uint8_t from, to;
    uint32_t ms;
  } fades[] = {
      {kButtonHot, 0, 500},                                        // lost exactly hot
      {0, kButtonHot, 500},                                        // gained exactly hot
      {kButtonHot, kButtonHot | kButtonPressed, 30},               // gained pressed
      {kButtonHot | kButtonPressed, kButtonHot, 30},               // lost exactly pressed
      {kButtonDefaulted, kButtonAnimated | kButtonDefaulted, 2000},  // the pulse
      {kButtonDefaulted | kButtonFocused, 0, 30},                  // lost focus and default
      {kButtonHot | kButtonFocused, kButtonHot, 30},               // lost focus
      {kButtonHot | kButtonPressed, 0, 500},                       // nothing gained
      {0, kButtonDisabled, 30},
  };
  for (const auto& f : fades) {
    EXPECT_TRUE(xp.GetTransitionTime(f.from, f.to, ms));
    EXPECT_EQ(ms, f.ms) << int(f.from) << " -> " << int(f.to);
  }
  bool focused = false;
  EXPECT_EQ(PushButtonThemeState(u"DefaultedFocused", focused), 5);
  EXPECT_TRUE(focused);
  EXPECT_EQ(PushButtonThemeState(u"Animated", focused), 6);
  EXPECT_FALSE(focused);
  EXPECT_EQ(PushButtonThemeState(u"Disabled", focused), 4);
  // Pictures: nil for an empty size, else the whole size at offset 0.
  TPoint offset{5, 5};
  EXPECT_EQ(xp.DrawPart(u"Normal", TSize{0, 20}, offset), nullptr);
  Ref<TImage> p = xp.DrawPart(u"HotFocused", TSize{40, 20}, offset);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Width(), 40);
  EXPECT_EQ(offset, (TPoint{0, 0}));
}

TEST_F(ThemedButtonTest, HoverCrossFadesOverTheStyleFadeTime) {
  TThemedFrameButton* b = PlainButtonOnWhite();
  const uint32_t normal = StateCentre(b, u"Normal");
  const uint32_t hot = StateCentre(b, u"Hot");
  ASSERT_NE(normal, hot);
  EXPECT_EQ(SurfacePixel(50, 25), normal);
  Mouse(50, 25, kMouseMove);
  EXPECT_EQ(SurfacePixel(50, 25), normal);  // the fade starts from the old picture
  Tick(125);
  EXPECT_TRUE(NearBlend(SurfacePixel(50, 25), normal, hot, 0.25));
  Tick(125);
  EXPECT_TRUE(NearBlend(SurfacePixel(50, 25), normal, hot, 0.5));
  // Leaving half-way fades back from the blend shown, over 500 ms.
  Mouse(150, 90, kMouseMove);
  const uint32_t half = SurfacePixel(50, 25);
  Tick(250);
  EXPECT_TRUE(NearBlend(SurfacePixel(50, 25), half, normal, 0.5));
  Tick(300);
  EXPECT_EQ(SurfacePixel(50, 25), normal);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
}

TEST_F(ThemedButtonTest, IdleDefaultButtonPulsesUntilHoveredAndResumesAfterwards) {
  TThemedFrameButton* b = PlainButtonOnWhite();
  const uint32_t defaulted = StateCentre(b, u"Defaulted");
  const uint32_t animated = StateCentre(b, u"Animated");
  ASSERT_NE(defaulted, animated);
  b->Handler()->SetDefault(b);
  EXPECT_EQ(b->LastState(), kButtonDefaulted);
  Tick(30);  // the fade to the default picture ends and the pulse starts
  EXPECT_EQ(SurfacePixel(50, 25), defaulted);
  EXPECT_GE(b->Images()->Cache().Find(u"Animated"), 0);
  // One period is 2000 ms: half-way up at 500, at the top at 1000, down at 2000.
  Tick(500);
  EXPECT_TRUE(NearBlend(SurfacePixel(50, 25), defaulted, animated, 0.5));
  Tick(500);
  EXPECT_TRUE(NearBlend(SurfacePixel(50, 25), defaulted, animated, 1.0));
  Tick(1000);
  EXPECT_TRUE(NearBlend(SurfacePixel(50, 25), defaulted, animated, 0.0));
  Tick(1000);  // and on, for as long as nothing changes
  EXPECT_TRUE(NearBlend(SurfacePixel(50, 25), defaulted, animated, 1.0));
  EXPECT_TRUE(root->RefreshNotifier()->TimerRunning());

  // Hovering stops the pulse: the picture settles on Hot after 500 ms.
  Mouse(50, 25, kMouseMove);
  EXPECT_EQ(b->LastState(), kButtonDefaulted | kButtonHot);
  Tick(500);
  const uint32_t hot = StateCentre(b, u"Hot");
  EXPECT_EQ(SurfacePixel(50, 25), hot);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  Tick(1000);
  EXPECT_EQ(SurfacePixel(50, 25), hot);
  // Leaving: back to the default picture over 500 ms, then the pulse again.
  Mouse(150, 90, kMouseMove);
  Tick(500);
  EXPECT_EQ(SurfacePixel(50, 25), defaulted);
  EXPECT_TRUE(root->RefreshNotifier()->TimerRunning());
  Tick(1000);
  EXPECT_TRUE(NearBlend(SurfacePixel(50, 25), defaulted, animated, 1.0));

  // A button that becomes the default while it has no picture switches at
  // once, and the pulse starts from that switch.
  TThemedFrameButton* c = Button(root.get(), u"", 100, 60);
  c->Images()->Reset();
  b->Handler()->SetDefault(c);
  EXPECT_EQ(c->LastState(), kButtonDefaulted);
  EXPECT_GE(c->Images()->Cache().Find(u"Animated"), 0);
  Tick(1000);
  EXPECT_TRUE(c->Images()->Animating());
  // Handing the default role back repaints the old default without it.
  b->Handler()->SetDefault(b);
  EXPECT_EQ(c->LastState(), 0);
  EXPECT_EQ(b->LastState(), kButtonDefaulted);

  // The classic look never pulses.
  UseClassic(true);
  b->ThemeChanged();
  Tick(1000);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  EXPECT_LT(b->Images()->Cache().Find(u"Animated"), 0);
}

TEST_F(ThemedButtonTest, PulseWithoutAnAnimatedPictureAndPaintingWithoutAnyPictureAreHarmless) {
  MakeRoot(200, 100);
  AddProbe(root.get(), "back", 0, 0, 200, 100, 0xFFFFFFFF);
  Ref<TGappyTheme> gappy = MakeRef<TGappyTheme>(DefaultControlStyles());
  auto* b = new TThemedFrameButton(root->CreateChildFrame(), DefaultControlStyles(), gappy.get());
  b->SetWidthFlags(0);
  b->SetHeightFlags(0);
  b->SetPosition(10, 10);
  b->SetSize(80, 30);
  // The pulse's switch to a missing picture is immediate and calls the
  // changed callback again from inside itself: that must not start it anew.
  b->Handler()->SetDefault(b);
  Tick(30);
  EXPECT_EQ(gappy->AnimatedAsked, 1);  // asked once, the nil answer cached
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  EXPECT_EQ(b->LastState(), kButtonDefaulted);

  // No picture at all: painting shows what is behind the button.
  gappy->NoPictures = true;
  b->ThemeChanged();
  EXPECT_NO_THROW(frame->RecalcInvalidRegion());
  EXPECT_EQ(SurfacePixel(50, 25), 0xFFFFFFu);
  TRect ignored;
  b->TakeInvalidRect(ignored);
  EXPECT_NO_THROW(b->Paint(frame->Surface()));
}

TEST_F(ThemedButtonTest, OnlyThePaintedShapeTakesTheMouseUnderVisualStyles) {
  for (bool classic : {false, true}) {
    SCOPED_TRACE(classic ? "classic" : "styled");
    UseClassic(classic);
    MakeRoot(200, 100);
    TThemedFrameButton* b = Button(root.get(), u"");
    b->SetWidthFlags(0);
    b->SetHeightFlags(0);
    b->SetSize(80, 30);
    // The rounded corner of the style's button is transparent.
    EXPECT_EQ(b->ContainsPoint(0, 0), classic);
    EXPECT_TRUE(b->ContainsPoint(40, 15));
    EXPECT_TRUE(b->ContainsPoint(79, 15));
    EXPECT_FALSE(b->ContainsPoint(80, 15));
    EXPECT_FALSE(b->ContainsPoint(-1, 15));
    Mouse(10, 10, kMouseMove);  // the button's top-left corner
    EXPECT_EQ(b->Hot(), classic);
    // A new size makes the hit picture anew.
    b->SetSize(100, 40);
    EXPECT_TRUE(b->ContainsPoint(95, 20));
  }
}
