// The themed speed button: keys and parsing, the checked look with and
// without the pointer, the drop-down arrow's own click, releasing outside,
// the hit-code map, the size rules and the style's fade times.
#include <gtest/gtest.h>

#include "tests/VoRav/Composite/ThemedButtonTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

uint32_t PixelOf(TImage* image, int32_t x, int32_t y) {
  return PicturePixel(image->GetBitmap().get(), x, y);
}

class ThemedSpeedButtonTest : public ThemedButtonFixture {};

}  // namespace

TEST_F(ThemedSpeedButtonTest, KeysNameAndParseEveryState) {
  MakeRoot(100, 50);
  Ref<TSpeedButtonTheme> t = MakeRef<TSpeedButtonTheme>(DefaultControlStyles());
  EXPECT_EQ(t->StateName(kSpeedButtonPart, 0, false), u"SpeedButton|Normal");
  EXPECT_EQ(t->StateName(kSpeedButtonPart, kSpeedHot | kSpeedChecked, true), u"SpeedButton|Checked|Hot");
  EXPECT_EQ(t->StateName(kDropDownButtonPart, kSpeedHot | kSpeedPressed, false), u"DropDownButton|Pressed");
  EXPECT_EQ(t->StateName(kSpeedButtonPart, kSpeedPressed, false), u"SpeedButton|Hot");
  EXPECT_EQ(t->StateName(kSpeedButtonPart, kSpeedDisabled | kSpeedHot, true), u"SpeedButton|Checked|Disabled");
  EXPECT_THROW(t->StateName(2, 0, false), EAbort);
  EXPECT_EQ(TSpeedButtonTheme::ParseState(u"SpeedButton|Checked|Hot"), kSpeedHot | kSpeedChecked);
  EXPECT_EQ(TSpeedButtonTheme::ParseState(u"DropDownButton|Pressed"), kSpeedPressed);
  EXPECT_EQ(TSpeedButtonTheme::ParseState(u"SpeedButton|Checked|Disabled"), kSpeedDisabled | kSpeedChecked);
  EXPECT_EQ(TSpeedButtonTheme::ParsePart(u"DropDownButton|Normal"), kDropDownButtonPart);
  EXPECT_EQ(TSpeedButtonTheme::ParsePart(u"SpeedButton|Normal"), kSpeedButtonPart);
  EXPECT_EQ(ToolbarButtonCode(u"SpeedButton|Checked|Hot"), 7);
  EXPECT_EQ(ToolbarButtonCode(u"SpeedButton|Checked|Pressed"), 4);
  EXPECT_EQ(ToolbarButtonCode(u"SpeedButton|Checked|Normal"), 6);
  EXPECT_EQ(ToolbarButtonCode(u"DropDownButton|Checked|Disabled"), 5);
  EXPECT_EQ(ToolbarButtonCode(u"SpeedButton|Hot"), 3);
  EXPECT_EQ(ToolbarButtonCode(u"SpeedButton|Normal"), 2);
  // Default sizes, margins and the sizes from content.
  TSize size;
  t->GetDefaultSize(kDropDownButtonPart, root->Frame(), size);
  EXPECT_EQ(size, (TSize{38, 22}));
  EXPECT_THROW(t->GetDefaultSize(kSpeedButtonPart, nullptr, size), EAbort);
  EXPECT_THROW(t->GetDefaultSize(3, root->Frame(), size), EAbort);
  t->SizeFromContent(kDropDownButtonPart, TSize{10, 10}, size);
  EXPECT_EQ(size, (TSize{37, 18}));
  TRect r;
  t->GetContentRect(kDropDownButtonPart, kSpeedChecked, r, TSize{60, 30});
  EXPECT_EQ(r, (TRect{7, 5, 40, 27}));  // down: one pixel right and down
  DefaultControlStyles()->ScaleX = DefaultControlStyles()->ScaleY = 1.5;
  t->GetContentRect(kSpeedButtonPart, kSpeedHot, r, TSize{60, 30});
  EXPECT_EQ(r, (TRect{9, 6, 51, 24}));
  DefaultControlStyles()->ScaleX = DefaultControlStyles()->ScaleY = 1.0;
  // Nil pictures and hit maps for an empty size.
  TPoint o;
  EXPECT_EQ(t->DrawPart(u"SpeedButton|Normal", TSize{0, 5}, o), nullptr);
  EXPECT_EQ(t->GetHitPicture(kSpeedButtonPart, TSize{5, 0}, o), nullptr);
}

TEST_F(ThemedSpeedButtonTest, CheckedButtonLooksDownAwayFromThePointerAndHotUnderIt) {
  UseClassic(true);
  MakeRoot(100, 50);
  Ref<TSpeedButtonTheme> t = MakeRef<TSpeedButtonTheme>(DefaultControlStyles());
  TControlStyles* s = DefaultControlStyles();
  EXPECT_TRUE(t->IsDown(kSpeedChecked));
  EXPECT_FALSE(t->IsDown(kSpeedChecked | kSpeedHot));
  EXPECT_TRUE(t->IsDown(kSpeedChecked | kSpeedHot | kSpeedPressed));
  EXPECT_FALSE(t->IsDown(kSpeedHot));
  TPoint o;
  // Top-left and bottom-right pixels of each look: sunken, raised, flat.
  const struct {
    const char16_t* key;
    TColor32 tl, br;
  } looks[] = {
      {u"SpeedButton|Checked|Normal", s->ShadowColor, s->HilightColor},
      {u"SpeedButton|Checked|Hot", s->HilightColor, s->ShadowColor},
      {u"SpeedButton|Hot", s->HilightColor, s->ShadowColor},
      {u"SpeedButton|Pressed", s->ShadowColor, s->HilightColor},
      {u"SpeedButton|Checked|Pressed", s->ShadowColor, s->HilightColor},
      {u"SpeedButton|Normal", s->FaceColor, s->FaceColor},
      {u"SpeedButton|Disabled", s->FaceColor, s->FaceColor},
  };
  for (const auto& l : looks) {
    Ref<TImage> p = t->DrawPart(l.key, TSize{23, 22}, o);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PixelOf(p.get(), 0, 0) | 0xFF000000u, l.tl | 0xFF000000u) << std::string(l.key, l.key + 20);
    EXPECT_EQ(PixelOf(p.get(), 22, 21) | 0xFF000000u, l.br | 0xFF000000u);
    EXPECT_EQ(PixelOf(p.get(), 11, 11) | 0xFF000000u, s->FaceColor | 0xFF000000u);
  }

  // The control: checked shows sunken, under the pointer hot, away again sunken.
  TThemedSpeedButton* b = Speed(root.get(), u"B");
  b->SetDown(true);
  EXPECT_EQ(b->LastState(), kSpeedChecked);
  EXPECT_EQ(SurfacePixel(10, 10), s->ShadowColor & 0xFFFFFFu);
  Mouse(15, 15, kMouseMove);
  EXPECT_EQ(b->LastState(), kSpeedChecked | kSpeedHot);
  EXPECT_EQ(SurfacePixel(10, 10), s->HilightColor & 0xFFFFFFu);
  Mouse(90, 45, kMouseMove);
  EXPECT_EQ(SurfacePixel(10, 10), s->ShadowColor & 0xFFFFFFu);
}

TEST_F(ThemedSpeedButtonTest, ArrowReportsItsOwnClickAndReleasingOutsideClicksNothing) {
  for (bool classic : {true, false}) {
    SCOPED_TRACE(classic ? "classic" : "styled");
    UseClassic(classic);
    MakeRoot(200, 60);
    TThemedSpeedButton* b = Speed(root.get(), u"");
    b->DropDown = true;
    b->Toggle = true;
    b->ApplySize();
    EXPECT_EQ(b->PaintArea(), (TRect{0, 0, 38, 22}));
    Ref<TEventLog> log = MakeRef<TEventLog>();
    log->Listen(b, {kFrameEventClick});
    EXPECT_EQ(b->HitCode(5, 5), 1);
    EXPECT_EQ(b->HitCode(22, 5), 1);
    EXPECT_EQ(b->HitCode(23, 5), 2);
    EXPECT_EQ(b->HitCode(37, 21), 2);
    EXPECT_EQ(b->HitCode(38, 5), 0);

    // On the arrow: SecondClick at once, never Press (the toggle stays up).
    Mouse(10 + 30, 15, kMouseMove);
    Mouse(10 + 30, 15, kMouseDown, kMouseLeft);
    EXPECT_EQ(log->Count("speed:13"), 1);
    EXPECT_EQ(b->ClickKind(), 2);
    EXPECT_FALSE(b->IsPressed());
    Mouse(10 + 30, 15, kMouseUp, kMouseLeft);
    EXPECT_EQ(log->Count("speed:13"), 1);
    EXPECT_FALSE(b->Down());

    // On the button: a plain click on release.
    Mouse(15, 15, kMouseDown, kMouseLeft);
    EXPECT_TRUE(b->IsPressed());
    EXPECT_EQ(b->LastState(), kSpeedHot | kSpeedPressed);
    Mouse(16, 15, kMouseUp, kMouseLeft);
    EXPECT_EQ(log->Count("speed:13"), 2);
    EXPECT_EQ(b->ClickKind(), 1);

    // Pressed inside, released outside: no click, not pressed.
    b->DropDown = false;
    b->InvalidateAll();
    EXPECT_EQ(b->LastPart(), kSpeedButtonPart);
    EXPECT_EQ(b->HitCode(30, 5), 1);
    Mouse(15, 15, kMouseDown, kMouseLeft);
    Mouse(150, 50, kMouseMove);
    EXPECT_FALSE(b->IsPressed());  // leaving the button ends the press
    EXPECT_EQ(b->LastState(), 0);
    Mouse(150, 50, kMouseUp, kMouseLeft);
    EXPECT_EQ(log->Count("speed:13"), 2);
    // Released outside without having left first (no leave heard): no click.
    Mouse(15, 15, kMouseMove);
    Mouse(15, 15, kMouseDown, kMouseLeft);
    TMouseData away;
    away.Kind = kMouseUp;
    away.Button = kMouseLeft;
    away.Local = TPoint{150, 50};
    away.HitResult = 1;
    b->MouseEvent(&away);
    EXPECT_FALSE(b->IsPressed());
    EXPECT_EQ(log->Count("speed:13"), 2);
    Mouse(150, 50, kMouseMove);

    // A disabled button takes nothing.
    b->SetEnabled(false);
    Mouse(15, 15, kMouseMove);
    Mouse(15, 15, kMouseDown, kMouseLeft);
    Mouse(15, 15, kMouseUp, kMouseLeft);
    EXPECT_EQ(log->Count("speed:13"), 2);
    EXPECT_EQ(b->LastState(), kSpeedDisabled);
  }
}

TEST_F(ThemedSpeedButtonTest, SizeHasAScaledMinimumUnlessFixedAndFollowsTheCaptionWhenAutoSized) {
  MakeRoot(300, 100);
  TThemedSpeedButton* b = Speed(root.get(), u"");
  EXPECT_EQ(b->PaintArea(), (TRect{0, 0, 23, 22}));
  b->SetSize(10, 100);
  EXPECT_EQ(b->PaintArea(), (TRect{0, 0, 23, 100}));
  b->FixedSize = true;
  b->SetSize(10, 10);
  EXPECT_EQ(b->PaintArea(), (TRect{0, 0, 10, 10}));
  b->FixedSize = false;
  b->WidthAutoSize = true;
  b->HeightAutoSize = true;
  b->GetCaption()->SetCaption(u"A long caption");
  const int32_t cw = b->GetCaption()->GetWidth(), ch = b->GetCaption()->GetHeight();
  EXPECT_EQ(b->PaintArea(), (TRect{0, 0, cw + 12, std::max(22, ch + 8)}));
  // The caption sits on the content rectangle; the baseline follows it.
  EXPECT_EQ(b->GetCaption()->GetPosition(), (TPoint{6, 4}));
  EXPECT_EQ(b->Baseline(), b->GetCaption()->Baseline() + 4);

  // At 150% the minimum grows with the scale.
  Ref<TControlStyles> big = MakeRef<TControlStyles>();
  big->Assign(DefaultWinControlStyles());
  big->ScaleX = big->ScaleY = 1.5;
  auto* c = dynamic_cast<TThemedSpeedButton*>(_AllocFrameSpeedButton(root->CreateChildFrame(), big.get()));
  EXPECT_EQ(c->PaintArea(), (TRect{0, 0, 35, 33}));
  EXPECT_NE(c->Painter(), b->Painter());  // one painter per style set
}

TEST_F(ThemedSpeedButtonTest, StyleFadesFollowTheFlagsAndFallBackWhenStylesAreOff) {
  MakeRoot(100, 50);
  Ref<TWinXPSpeedButtonTheme> t = MakeRef<TWinXPSpeedButtonTheme>(DefaultControlStyles());
  EXPECT_FALSE(t->IsDown(kSpeedChecked));
  uint32_t ms = 0;
  const struct {
    uint8_t from, to;
    bool from_checked, to_checked;
    uint32_t ms;
  } fades[] = {
      {0, kSpeedHot, false, false, 150},
      {kSpeedHot, 0, false, false, 500},
      {kSpeedHot, kSpeedHot | kSpeedPressed, false, false, 30},
      {kSpeedHot | kSpeedPressed, kSpeedHot, false, false, 30},
      {kSpeedHot | kSpeedPressed, kSpeedHot | kSpeedChecked, false, true, 30},
      {0, kSpeedDisabled, false, false, 30},
      {kSpeedDisabled, 0, false, false, 500},
  };
  for (const auto& f : fades) {
    EXPECT_TRUE(t->GetTransitionTime(f.from, ms, f.from_checked, f.to_checked, f.to));
    EXPECT_EQ(ms, f.ms) << int(f.from) << " -> " << int(f.to);
  }
  // The hot picture fades in over 150 ms on the control.
  TThemedSpeedButton* b = Speed(root.get(), u"");
  EXPECT_NE(dynamic_cast<TWinXPSpeedButtonTheme*>(b->Painter()), nullptr);
  Mouse(15, 15, kMouseMove);
  EXPECT_TRUE(root->RefreshNotifier()->TimerRunning());
  Tick(150);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
  // The style's idle button is transparent; the hot one is drawn.
  TPoint o;
  Ref<TImage> idle = t->DrawPart(u"SpeedButton|Normal", TSize{23, 22}, o);
  Ref<TImage> hot = t->DrawPart(u"DropDownButton|Hot", TSize{38, 22}, o);
  EXPECT_EQ(PixelOf(idle.get(), 11, 11) >> 24, 0u);
  EXPECT_EQ(PixelOf(hot.get(), 11, 11) >> 24, 255u);
  EXPECT_EQ(PixelOf(hot.get(), 30, 11) >> 24, 255u);

  UseClassic(true);
  EXPECT_TRUE(t->IsDown(kSpeedChecked));
  EXPECT_FALSE(t->GetTransitionTime(0, ms, false, false, kSpeedHot));
  Ref<TImage> classic = t->DrawPart(u"SpeedButton|Normal", TSize{23, 22}, o);
  EXPECT_EQ(PixelOf(classic.get(), 11, 11) >> 24, 255u);
}
