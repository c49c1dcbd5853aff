// The themed check box and radio button: box size, keys and ticks, hit
// zones and clicks, radio groups, and the cross-fade timing of the
// visual-style painters.
#include <gtest/gtest.h>

#include "VoRav/Composite/vxCtrlVectorDraw.h"
#include "tests/VoRav/Composite/CheckControlsTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

class ThemedCheckBoxTest : public CheckControlsTest {
 protected:
  TThemedFrameCheckBox* Box(int32_t x, int32_t y, int32_t w, const std::u16string& text) {
    TFrameCheckBox* c = _AllocFrameCheckBox(root->CreateChildFrame(), nullptr);
    auto* box = dynamic_cast<TThemedFrameCheckBox*>(c);
    EXPECT_NE(box, nullptr);
    box->GetCaption()->SetCaption(text);
    box->SetPosition(x, y);
    box->SetSize(w, 0);
    return box;
  }
  TThemedFrameRadioButton* Radio(TFrameControl* parent, const char* name) {
    auto* r = dynamic_cast<TThemedFrameRadioButton*>(_AllocFrameRadioButton(parent->CreateChildFrame(), nullptr));
    EXPECT_NE(r, nullptr);
    r->SetName(name);
    r->SetPosition(0, 20 * (name[0] - 'a'));
    r->SetSize(80, 0);
    return r;
  }
};

TEST_F(ThemedCheckBoxTest, BoxSizeFollowsTheFontButIsNeverBelow13) {
  MakeRoot(300, 200);
  TCheckBoxTheme* painter = CheckBoxThemeOf(nullptr);
  TControlStyles* styles = DefaultControlStyles();
  const float normal = styles->ControlFont.Size;
  styles->ControlFont.Size = 4;
  EXPECT_EQ(painter->BoxSize(frame), 13);
  styles->ControlFont.Size = 40;
  const int32_t big = painter->BoxSize(frame);
  EXPECT_GT(big, 13);
  EXPECT_EQ(big, painter->LineHeight(frame) - 2);
  // At 150% the 13 pixels of the design grid become 20.
  styles->ControlFont.Size = 4;
  styles->ScaleX = 1.5;
  EXPECT_EQ(painter->BoxSize(frame), 20);
  styles->ScaleX = 1.0;
  styles->ControlFont.Size = normal;

  // Geometry: the box centred vertically, the caption after the gap; right
  // to left mirrors both.
  TRect box, text;
  const int32_t l = painter->LineHeight(frame);
  painter->GetBoxRect(frame, TSize{100, 20}, box, false);
  EXPECT_EQ(box, (TRect{0, 4, 13, 17}));
  painter->GetBoxRect(frame, TSize{100, 20}, box, true);
  EXPECT_EQ(box, (TRect{87, 4, 100, 17}));
  painter->GetTextRect(frame, TSize{100, 20}, text, 30, false);
  EXPECT_EQ(text, (TRect{4 + l, 0, 4 + l + 32, 20}));
  painter->GetTextRect(frame, TSize{100, 20}, text, 500, true);
  EXPECT_EQ(text, (TRect{2, 0, 100 - l - 4, 20}));
  TSize size;
  painter->GetDefaultSize(frame, TSize{40, 3}, size);
  EXPECT_EQ(size, (TSize{40 + l + 6, l}));
}

TEST_F(ThemedCheckBoxTest, KeysTicksAndCheckStatesAgree) {
  TCheckBoxTheme* cb = CheckBoxThemeOf(nullptr);
  TRadioButtonTheme* rb = RadioButtonThemeOf(nullptr);
  EXPECT_EQ(cb->StateName(kTickChecked, kCheckPartHot), u"cbChecked|Hot");
  EXPECT_EQ(cb->StateName(kTickNeutral, kCheckPartHot | kCheckPartPressed), u"cbNeutral|Pressed");
  EXPECT_EQ(cb->StateName(kTickUnchecked, kCheckPartPressed), u"cbUnchecked|Hot");  // pressed, pointer away
  EXPECT_EQ(cb->StateName(kTickUnchecked, kCheckPartDisabled | kCheckPartHot), u"cbUnchecked|Disabled");
  EXPECT_EQ(rb->StateName(0, 0), u"rbUncheckedNormal");
  EXPECT_EQ(rb->StateName(1, kCheckPartPressed | kCheckPartHot), u"rbCheckedPressed");
  EXPECT_EQ(TCheckBoxTheme::ParseTick(u"cbChecked|Hot"), kTickChecked);
  EXPECT_EQ(TCheckBoxTheme::ParseTick(u"cbNeutral|Normal"), kTickNeutral);
  EXPECT_EQ(ParseCheckPartState(u"cbChecked|Pressed"), kCheckPartPressed);
  EXPECT_TRUE(TRadioButtonTheme::ParseChecked(u"rbCheckedHot"));
  EXPECT_FALSE(TRadioButtonTheme::ParseChecked(u"rbUncheckedHot"));
  // The box's check states: 0 unchecked, 1 checked, 2 mixed, shown with the
  // painter's ticks 0, 2 and 1.
  EXPECT_EQ(TickOfCheckState(kCheckUnchecked), kTickUnchecked);
  EXPECT_EQ(TickOfCheckState(kCheckChecked), kTickChecked);
  EXPECT_EQ(TickOfCheckState(kCheckMixed), kTickNeutral);
  EXPECT_THROW(TickOfCheckState(3), EAbort);
  EXPECT_THROW(cb->StateName(3, 0), EAbort);
  EXPECT_THROW(DrawCheckBoxGlyph(DefaultControlStyles(), 13, 13, 3, true), EAbort);
  // Visual-style states of the "button" class.
  EXPECT_EQ(TWinCheckBoxTheme::Details(u"cbUnchecked|Normal"), (TThemedElementDetails{teButton, 3, 1}));
  EXPECT_EQ(TWinCheckBoxTheme::Details(u"cbChecked|Pressed"), (TThemedElementDetails{teButton, 3, 7}));
  EXPECT_EQ(TWinCheckBoxTheme::Details(u"cbNeutral|Disabled"), (TThemedElementDetails{teButton, 3, 12}));
  EXPECT_EQ(TWinRadioButtonTheme::Details(u"rbCheckedHot"), (TThemedElementDetails{teButton, 2, 6}));
  // An empty size gives no picture.
  TPoint at;
  EXPECT_EQ(cb->DrawPart(u"cbChecked|Normal", TSize{0, 13}, at), nullptr);
  EXPECT_EQ(rb->DrawPart(u"rbCheckedNormal", TSize{13, 0}, at), nullptr);
}

TEST_F(ThemedCheckBoxTest, ClicksOnBoxCaptionOrBandToggleAndOutsideNot) {
  MakeRoot(300, 100);
  TThemedFrameCheckBox* c = Box(10, 10, 200, u"Ab");
  ASSERT_NE(c->CaptionIfMade(), nullptr);
  const TRect text = c->TextRect();
  const TPoint box = c->BoxPart()->GetPosition();
  const int32_t mid = c->GetHeight() / 2;
  EXPECT_EQ(c->HitCode(box.X + 3, mid), kCheckHitBox);
  EXPECT_EQ(c->HitCode(text.Left + 1, mid), kCheckHitCaption);
  EXPECT_EQ(c->HitCode(box.X + c->BoxPart()->GetWidth(), mid), kCheckHitBand);
  EXPECT_EQ(c->HitCode(text.Right + 5, mid), kCheckHitNone);
  EXPECT_FALSE(c->BoxPart()->ContainsPoint(1, 1));

  Click(10 + box.X + 3, 10 + mid);
  EXPECT_EQ(c->State(), kCheckChecked);
  Click(10 + text.Left + 1, 10 + mid);
  EXPECT_EQ(c->State(), kCheckUnchecked);
  Click(10 + box.X + c->BoxPart()->GetWidth(), 10 + mid);
  EXPECT_EQ(c->State(), kCheckChecked);
  Click(10 + text.Right + 5, 10 + mid);  // beside the caption: not the box's
  EXPECT_EQ(c->State(), kCheckChecked);
  // Space toggles the focused box (which the click focused).
  EXPECT_TRUE(c->Focused());
  Key(win::VK_SPACE);
  EXPECT_EQ(c->State(), kCheckUnchecked);
  // A disabled box takes no click.
  c->SetEnabled(false);
  Click(10 + box.X + 3, 10 + mid);
  EXPECT_EQ(c->State(), kCheckUnchecked);
}

TEST_F(ThemedCheckBoxTest, AutoSizeFollowsTheCaptionAndRightToLeftMirrors) {
  MakeRoot(300, 100);
  TThemedFrameCheckBox* c = Box(10, 10, 200, u"Short");
  TCheckBoxTheme* painter = c->GetPainter();
  const int32_t l = painter->LineHeight(frame);
  EXPECT_EQ(c->GetWidth(), 200);  // without auto size only the height follows
  EXPECT_EQ(c->GetHeight(), std::max(l, c->CaptionIfMade()->GetHeight()));
  c->SetAutoSize(true);
  const int32_t short_width = c->GetWidth();
  EXPECT_EQ(short_width, c->CaptionIfMade()->GetWidth() + l + 6);
  c->GetCaption()->SetCaption(u"A much longer caption");
  EXPECT_GT(c->GetWidth(), short_width);
  EXPECT_EQ(c->GetWidth(), c->CaptionIfMade()->GetWidth() + l + 6);

  // Right to left: the box on the right, the caption before it, the band
  // between them mirrored.
  c->SetAutoSize(false);
  c->SetSize(200, c->GetHeight());
  c->SetRightToLeft(true);
  const TPoint box = c->BoxPart()->GetPosition();
  const TRect text = c->TextRect();
  EXPECT_EQ(box.X + c->BoxPart()->GetWidth(), 200);
  EXPECT_EQ(text.Right, 200 - l - 4);
  const int32_t mid = c->GetHeight() / 2;
  EXPECT_EQ(c->HitCode(box.X - 1, mid), kCheckHitBand);
  EXPECT_EQ(c->HitCode(text.Right - 1, mid), kCheckHitCaption);
  EXPECT_EQ(c->HitCode(text.Left - 1, mid), kCheckHitNone);
  Click(10 + box.X - 1, 10 + mid);
  EXPECT_EQ(c->State(), kCheckChecked);
  // A three-state box runs through mixed, shown with the neutral tick.
  c->AllowMixed = true;
  Click(10 + box.X + 2, 10 + mid);
  EXPECT_EQ(c->State(), kCheckMixed);
  EXPECT_GE(c->BoxPart()->Images()->Cache().Find(u"cbNeutral|Hot"), 0);
}

TEST_F(ThemedCheckBoxTest, PressingAndLeavingBeforeReleaseDoesNotToggle) {
  MakeRoot(300, 100);
  TThemedFrameCheckBox* c = Box(10, 10, 200, u"Text");
  const int32_t x = 10 + 4, y = 10 + c->GetHeight() / 2;
  Mouse(kMouseMove, x, y);
  EXPECT_TRUE(c->Hot());
  Mouse(kMouseDown, x, y);
  EXPECT_TRUE(c->Pressed());
  Mouse(kMouseMove, 280, 90);  // captured: the box hears that it is left
  EXPECT_FALSE(c->Hot());
  EXPECT_TRUE(c->Pressed());
  // The pressed box the pointer left shows its hot picture.
  TCheckBoxTheme* painter = c->GetPainter();
  EXPECT_EQ(painter->StateName(kTickUnchecked, kCheckPartPressed), u"cbUnchecked|Hot");
  EXPECT_GE(c->BoxPart()->Images()->Cache().Find(u"cbUnchecked|Hot"), 0);
  Mouse(kMouseUp, 280, 90);
  EXPECT_FALSE(c->Pressed());
  EXPECT_EQ(c->State(), kCheckUnchecked);
  // Coming back and releasing on it clicks.
  Mouse(kMouseMove, x, y);
  Mouse(kMouseDown, x, y);
  Mouse(kMouseUp, x, y);
  EXPECT_EQ(c->State(), kCheckChecked);
}

TEST_F(ThemedCheckBoxTest, EveryCheckStateAndLookHasItsPicture) {
  MakeRoot(300, 100);
  auto* c = new TLookCheckBox(root->CreateChildFrame(), nullptr, CheckBoxThemeOf(nullptr));
  c->SetSize(100, 0);
  const char16_t* keys[3][4] = {
      {u"cbUnchecked|Normal", u"cbUnchecked|Hot", u"cbUnchecked|Pressed", u"cbUnchecked|Disabled"},
      {u"cbChecked|Normal", u"cbChecked|Hot", u"cbChecked|Pressed", u"cbChecked|Disabled"},
      {u"cbNeutral|Normal", u"cbNeutral|Hot", u"cbNeutral|Pressed", u"cbNeutral|Disabled"}};
  for (uint8_t state = 0; state < 3; ++state)
    for (int32_t look = 0; look < 4; ++look) {
      c->SetEnabled(true);
      c->SetState(state);
      c->Force(look);
      EXPECT_GE(c->BoxPart()->Images()->Cache().Find(keys[state][look]), 0) << int(state) << " " << look;
    }
  // The classic disabled box: the well in the face colour, the tick in the
  // shadow colour.
  TPoint at;
  Ref<TImage> pic = c->GetPainter()->DrawPart(u"cbChecked|Disabled", TSize{13, 13}, at);
  ASSERT_NE(pic, nullptr);
  Ref<TBitmap> b = pic->GetBitmap();
  uint32_t px = 0;
  b->GetPixels32(2, 10, 1, std::span<uint32_t>(&px, 1), 0);
  EXPECT_EQ(px | 0xFF000000u, DefaultControlStyles()->FaceColor | 0xFF000000u);
}

TEST_F(ThemedCheckBoxTest, RadioGroupsKeepOneCheckedAndOneTabStop) {
  MakeRoot(300, 200);
  TThemedFrameRadioButton* a = Radio(root.get(), "a");
  TThemedFrameRadioButton* b = Radio(root.get(), "b");
  TThemedFrameRadioButton* c = Radio(root.get(), "c");
  TThemedFrameRadioButton* d = Radio(root.get(), "d");
  // The first one made is checked and the tab stop; the others neither.
  EXPECT_TRUE(a->Checked());
  EXPECT_TRUE(a->GetTabStop());
  EXPECT_FALSE(b->Checked());
  EXPECT_FALSE(b->GetTabStop());
  // Checking the third unchecks the first and moves the tab stop.
  c->SetChecked(true);
  EXPECT_FALSE(a->Checked());
  EXPECT_FALSE(a->GetTabStop());
  EXPECT_TRUE(c->Checked());
  EXPECT_TRUE(c->GetTabStop());
  // Right on the last enabled one wraps to the first enabled one, skipping
  // disabled ones.
  d->SetEnabled(false);
  a->SetEnabled(false);
  c->Focus();
  Key(win::VK_RIGHT);
  EXPECT_TRUE(b->Focused());
  EXPECT_TRUE(b->Checked());
  EXPECT_TRUE(b->GetTabStop());
  EXPECT_FALSE(c->Checked());
  // Left from the first enabled one wraps backward to the last enabled one.
  Key(win::VK_LEFT);
  EXPECT_TRUE(c->Focused());
  EXPECT_TRUE(c->Checked());
  Key(win::VK_DOWN);
  EXPECT_TRUE(b->Checked());
  // Tab reaches only the checked button.
  EXPECT_EQ(b->GetNavigationKinds(), 3u);
  EXPECT_EQ(c->GetNavigationKinds(), 2u);
  // A click checks the button and clicks it.
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(c, {kFrameEventClick});
  const TPoint at = c->GetPosition();
  Click(at.X + 4, at.Y + c->GetHeight() / 2);
  EXPECT_TRUE(c->Checked());
  EXPECT_FALSE(b->Checked());
  EXPECT_EQ(log->Count("c:13"), 1);
  // Radio buttons of another parent form their own group.
  TPaintProbe* panel = AddProbe(root.get(), "panel", 100, 100, 100, 60);
  TThemedFrameRadioButton* e = Radio(panel, "a");
  EXPECT_TRUE(e->Checked());
  EXPECT_TRUE(c->Checked());
}

TEST_F(ThemedCheckBoxTest, VisualStyleFadesHoverSlowlyAndPressesQuickly) {
  uint32_t ms = 0;
  EXPECT_TRUE(CheckPartTransitionTime(0, 2, ms, 0, 0));
  EXPECT_EQ(ms, 50u);  // a new tick
  EXPECT_FALSE(CheckPartTransitionTime(2, 2, ms, kCheckPartHot, kCheckPartHot));
  EXPECT_TRUE(CheckPartTransitionTime(2, 2, ms, kCheckPartHot, 0));
  EXPECT_EQ(ms, 500u);  // hovering in
  EXPECT_TRUE(CheckPartTransitionTime(2, 2, ms, 0, kCheckPartHot));
  EXPECT_EQ(ms, 500u);  // and out
  EXPECT_TRUE(CheckPartTransitionTime(2, 2, ms, kCheckPartHot | kCheckPartPressed, kCheckPartHot));
  EXPECT_EQ(ms, 50u);  // pressing
  EXPECT_TRUE(CheckPartTransitionTime(2, 2, ms, kCheckPartDisabled, 0));
  EXPECT_EQ(ms, 50u);  // disabling

  // A box of the visual style fades to its hot picture over 500 ms on the
  // clock; the classic look switches at once.
  TStyleEnvironment env;
  InstallStyledPainters();
  for (bool classic : {false, true}) {
    env.Set(classic);
    Ref<TControlStyles> styles = MakeRef<TControlStyles>();
    styles->Assign(DefaultWinControlStyles());
    MakeRoot(300, 100);
    auto* c = dynamic_cast<TThemedFrameCheckBox*>(_AllocFrameCheckBox(root->CreateChildFrame(), styles.get()));
    ASSERT_NE(c, nullptr);
    c->SetSize(100, 0);
    TThemedControlImages* images = c->BoxPart()->Images();
    Mouse(kMouseMove, 4, c->GetHeight() / 2);
    ASSERT_TRUE(c->Hot());
    Tick(250);
    if (classic) {
      EXPECT_FALSE(images->Animating());
      EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
    } else {
      EXPECT_TRUE(images->Animating());
      EXPECT_TRUE(root->RefreshNotifier()->TimerRunning());
      Tick(300);
      EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());
    }
    root = nullptr;
    EmptyPendingReleaseList();
  }
}

}  // namespace
