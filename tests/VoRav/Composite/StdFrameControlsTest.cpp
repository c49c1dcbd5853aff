#include <gtest/gtest.h>

#include <cmath>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxStdFrameControls.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

TKeyData Key(uint8_t kind, uint16_t code, uint8_t shift = 0) {
  TKeyData k;
  k.Kind = kind;
  k.Key = code;
  k.Shift = shift;
  return k;
}

class TBox : public TFrameCheckBox {
 public:
  using TFrameCheckBox::TFrameCheckBox;
  TFrameCaption* GetCaption() override { return nullptr; }
};
class TRadio : public TFrameRadioButton {
 public:
  using TFrameRadioButton::TFrameRadioButton;
  TFrameCaption* GetCaption() override { return nullptr; }
};
class TSpeed : public TFrameSpeedButton {
 public:
  using TFrameSpeedButton::TFrameSpeedButton;
  TFrameCaption* GetCaption() override { return nullptr; }
};

std::string AssertText(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EAbort& e) {
    return e.Message();
  }
  return "";
}

class StdFrameControlsTest : public CompositeTest {
 protected:
  void TearDown() override {
    InitStdFrameControlHooks();
    EnterClicksFocusedButton = true;
    CompositeTest::TearDown();
  }
  TFrameButton* Button(TFrameControl* parent, const char* name) {
    auto* b = new TFrameButton(parent->CreateChildFrame(), nullptr);
    b->SetName(name);
    b->SetSize(20, 10);
    return b;
  }
  bool Press(uint16_t vk) {
    TKeyData k = Key(1, vk);
    root->DispatchKey(&k);
    return k.Handled;
  }
};

TFrameButton* MyButton(TDrawFrame* frame, TControlStyles* styles) { return new TFrameButton(frame, styles); }

}  // namespace

TEST_F(StdFrameControlsTest, UnsetHooksAssertWithTheirNamesAndAcceleratorsAreStripped) {
  MakeRoot(50, 50);
  TDrawFrame* f = root->CreateChildFrame();
  EXPECT_NE(AssertText([&] { AllocFrameButton(f, nullptr); }).find("AllocFrameButton not Assigned"),
            std::string::npos);
  EXPECT_NE(AssertText([&] { AllocFrameScrollBar(f, 0, nullptr); }).find("AllocFrameScrollBar not Assigned"),
            std::string::npos);
  EXPECT_NE(AssertText([&] { _AllocFrameCheckBox(f, nullptr); }).find("_AllocFrameCheckBox not Assigned"),
            std::string::npos);
  EXPECT_NE(AssertText([&] { _AllocFrameRadioButton(f, nullptr); }).find("_AllocFrameRadioButton not Assigned"),
            std::string::npos);
  EXPECT_NE(AssertText([&] { _AllocFrameSpeedButton(f, nullptr); }).find("_AllocFrameSpeedButton not Assigned"),
            std::string::npos);
  EXPECT_NE(AssertText([&] { _AllocFrameProgressBar(f, nullptr); }).find("_AllocFrameProgressBar not Assigned"),
            std::string::npos);
  AllocFrameButton = MyButton;
  TFrameButton* b = AllocFrameButton(f, nullptr);
  EXPECT_EQ(b->Frame(), f);
  EXPECT_EQ(b->WidthFlags(), 3);
  EXPECT_TRUE(b->GetTabStop());

  EXPECT_EQ(StripAccelerators(u"&File"), u"File");
  EXPECT_EQ(StripAccelerators(u"Save && &Quit"), u"Save & Quit");
  EXPECT_EQ(StripAccelerators(u"end&"), u"end");
  EXPECT_EQ(StripAccelerators(u""), u"");
}

TEST_F(StdFrameControlsTest, EnterAndEscClickTheDefaultFocusedAndCancelButtons) {
  MakeRoot(100, 50);
  root->SetFocusState(true);
  TFrameButton* ok = Button(root.get(), "ok");
  TFrameButton* cancel = Button(root.get(), "cancel");
  TFrameButton* other = Button(root.get(), "other");
  Ref<TEventLog> log = MakeRef<TEventLog>();
  for (TFrameControl* b : {ok, cancel, other}) log->Listen(b, {kFrameEventClick});
  TButtonHandler* h = ok->Handler();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(cancel->Handler(), h);  // one per window
  // Nothing to click: nothing happens, and the key goes on.
  EXPECT_FALSE(Press(13));
  EXPECT_FALSE(Press(27));
  EXPECT_TRUE(log->Lines.empty());

  h->SetDefault(ok);
  h->SetCancel(cancel);
  EXPECT_TRUE(ok->IsDefault());
  EXPECT_TRUE(cancel->IsCancel());
  EXPECT_TRUE(ok->ShowsAsDefault());
  Press(13);
  Press(27);
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"ok:13", "cancel:13"}));

  // Focus on another button: Enter clicks it, and only it shows as default.
  log->Lines.clear();
  other->Focus();
  EXPECT_EQ(h->FocusedButton(), other);
  EXPECT_TRUE(other->ShowsAsDefault());
  EXPECT_FALSE(ok->ShowsAsDefault());
  Press(13);
  EnterClicksFocusedButton = false;
  Press(13);
  EXPECT_TRUE(ok->ShowsAsDefault());
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"other:13", "ok:13"}));
  EnterClicksFocusedButton = true;
  // Key-up records are ignored.
  TKeyData up = Key(0, 13);
  root->DispatchKey(&up);
  EXPECT_EQ(log->Lines.size(), 2u);

  // Losing focus clears the focused button; a freed button is forgotten.
  ok->Focus();
  EXPECT_EQ(h->FocusedButton(), ok);
  ok->Free();
  EXPECT_EQ(h->DefaultButton(), nullptr);
  EXPECT_EQ(h->FocusedButton(), nullptr);
  log->Lines.clear();
  Press(13);
  EXPECT_TRUE(log->Lines.empty());
}

TEST_F(StdFrameControlsTest, CheckBoxToggleCyclesAndTheSpaceKey) {
  MakeRoot(100, 50);
  auto* box = new TBox(root->CreateChildFrame(), nullptr);
  box->SetName("box");
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(box, {kFrameEventClick, kFrameEventChanged});
  auto cycle = [&](uint8_t from) {
    box->SetState(from);
    std::vector<int> seen;
    for (int i = 0; i < 3; ++i) {
      box->Toggle();
      seen.push_back(box->State());
    }
    return seen;
  };
  // Two states: unchecked <-> checked; a mixed box goes to checked only
  // with mixed-first.
  EXPECT_EQ(cycle(kCheckUnchecked), (std::vector<int>{kCheckChecked, kCheckUnchecked, kCheckChecked}));
  box->SetState(kCheckMixed);
  box->Toggle();
  EXPECT_EQ(box->State(), kCheckUnchecked);
  box->MixedFirst = true;
  box->SetState(kCheckMixed);
  box->Toggle();
  EXPECT_EQ(box->State(), kCheckChecked);
  // Three states.
  box->AllowMixed = true;
  EXPECT_EQ(cycle(kCheckUnchecked), (std::vector<int>{kCheckMixed, kCheckChecked, kCheckUnchecked}));
  box->MixedFirst = false;
  EXPECT_EQ(cycle(kCheckUnchecked), (std::vector<int>{kCheckChecked, kCheckMixed, kCheckUnchecked}));
  // Without auto-toggle the state stays, but the click still comes.
  log->Lines.clear();
  box->AutoToggle = false;
  box->Toggle();
  EXPECT_EQ(box->State(), kCheckUnchecked);
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"box:13"}));
  box->AutoToggle = true;

  // Space on the focused box toggles it and is used up; not when disabled.
  root->SetFocusState(true);
  box->SetTabStop(true);
  box->Focus();
  EXPECT_TRUE(Press(32));
  EXPECT_EQ(box->State(), kCheckChecked);
  box->SetEnabled(false);
  EXPECT_FALSE(Press(32));
  EXPECT_EQ(box->State(), kCheckChecked);
}

TEST_F(StdFrameControlsTest, RadioButtonsTabToTheCheckedOneAndArrowsCheckEachOneReached) {
  MakeRoot(200, 50);
  root->SetFocusState(true);
  TPaintProbe* before = AddProbe(root.get(), "before", 0, 0, 10, 10);
  before->SetTabStop(true);
  std::vector<TRadio*> radios;
  for (int i = 0; i < 3; ++i) {
    auto* r = new TRadio(root->CreateChildFrame(), nullptr);
    r->SetName("r" + std::to_string(i));
    r->SetPosition(20 + 30 * i, 0);
    r->SetSize(20, 10);
    r->SetTabStop(true);
    radios.push_back(r);
  }
  TPaintProbe* after = AddProbe(root.get(), "after", 150, 0, 10, 10);
  after->SetTabStop(true);
  radios[1]->SetChecked(true);
  before->Focus();
  TKeyData tab = Key(2, 9);
  root->DispatchKey(&tab);
  EXPECT_TRUE(radios[1]->Focused());  // r0 is skipped: unchecked
  TKeyData tab2 = Key(2, 9);
  root->DispatchKey(&tab2);
  EXPECT_TRUE(after->Focused());  // r2 is skipped too

  radios[1]->Focus();
  EXPECT_TRUE(Press(39));  // right arrow
  EXPECT_TRUE(radios[2]->Focused());
  EXPECT_TRUE(radios[2]->Checked());
  EXPECT_TRUE(Press(37));
  EXPECT_TRUE(Press(37));
  EXPECT_TRUE(radios[0]->Focused());
  EXPECT_TRUE(radios[0]->Checked());
  // Unchecking the focused radio button drops it as the parent's focus.
  radios[0]->SetChecked(false);
  EXPECT_NE(root->FocusedChild(), radios[0]);
  // Press focuses, checks and clicks.
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(radios[0], {kFrameEventClick});
  radios[0]->Press();
  EXPECT_TRUE(radios[0]->Checked());
  EXPECT_EQ(log->Count("r0:13"), 1);
}

TEST_F(StdFrameControlsTest, SpeedButtonsScrollBarsAndPages) {
  MakeRoot(100, 50);
  auto* sb = new TSpeed(root->CreateChildFrame(), nullptr);
  sb->SetName("sb");
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(sb, {kFrameEventClick, kFrameEventChanged});
  sb->Press();  // not a toggle: only the click
  EXPECT_FALSE(sb->Down());
  EXPECT_EQ(sb->ClickKind(), 1);
  sb->Toggle = true;
  sb->Press();
  EXPECT_TRUE(sb->Down());
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"sb:13", "sb:1", "sb:13"}));
  // A drop-down button clicks without changing its down state.
  log->Lines.clear();
  sb->DropDown = true;
  sb->Press();
  EXPECT_TRUE(sb->Down());
  sb->SecondClick();
  EXPECT_EQ(sb->ClickKind(), 2);
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"sb:13", "sb:13"}));

  auto* bar = new TFrameScrollBar(root->CreateChildFrame(), 1, nullptr);
  bar->SetName("bar");
  EXPECT_FLOAT_EQ(bar->LineStep(), 0.01f);
  EXPECT_FLOAT_EQ(bar->PageStep(), 0.1f);
  log->Listen(bar, {kFrameEventChanged});
  bar->SetPageAndPosition(-3, 7);
  EXPECT_EQ(bar->Page(), 0.0f);
  EXPECT_EQ(bar->Position(), 1.0f);
  bar->SetPageAndPosition(0, 1);  // no change, no event
  bar->SetPageAndPosition(NAN, 0.5f);
  EXPECT_EQ(bar->Page(), 0.0f);
  EXPECT_EQ(bar->Position(), 0.5f);
  EXPECT_EQ(log->Count("bar:1"), 2);

  auto* page = new TFramePage(root->CreateChildFrame());
  page->SetSize(50, 50);
  TPaintProbe* inside = AddProbe(page, "inside", 0, 0, 10, 10);
  bool hit = false;
  TPoint local;
  EXPECT_EQ(root->ControlAt(5, 5, hit, local), inside);
  EXPECT_EQ(root->ControlAt(30, 30, hit, local), root.get());
}
