#include <gtest/gtest.h>

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

TFrameControl* Deepest(TRootControl* root) {
  TFrameControl* c = root;
  while (c->FocusedChild()) c = c->FocusedChild();
  return c;
}

class FrameControlsTest : public CompositeTest {};

}  // namespace

// root
// +- a (no tab stop)        +- a1, a2 (tab stops), a3 (disabled)
// +- b (hidden)             +- b1 (tab stop)
// +- c (tab stop, Tab only)
// +- d (tab stop)           +- d1 (tab stop, inherits d's disabled state later)
TEST_F(FrameControlsTest, TabAndArrowNavigationThroughNestedControls) {
  TRootControl* r = MakeRoot(200, 100);
  TPaintProbe* a = AddProbe(r, "a", 0, 0, 50, 50);
  TPaintProbe* a1 = AddProbe(a, "a1", 0, 0, 10, 10);
  TPaintProbe* a2 = AddProbe(a, "a2", 10, 0, 10, 10);
  TPaintProbe* a3 = AddProbe(a, "a3", 20, 0, 10, 10);
  TPaintProbe* b = AddProbe(r, "b", 50, 0, 50, 50);
  TPaintProbe* b1 = AddProbe(b, "b1", 0, 0, 10, 10);
  TPaintProbe* c = AddProbe(r, "c", 100, 0, 50, 50);
  TPaintProbe* d = AddProbe(r, "d", 150, 0, 50, 50);
  TPaintProbe* d1 = AddProbe(d, "d1", 0, 0, 10, 10);
  for (TFrameControl* x : {static_cast<TFrameControl*>(a1), static_cast<TFrameControl*>(a2), static_cast<TFrameControl*>(a3), static_cast<TFrameControl*>(b1), static_cast<TFrameControl*>(c), static_cast<TFrameControl*>(d), static_cast<TFrameControl*>(d1)})
    x->SetTabStop(true);
  a3->SetEnabled(false);
  b->Frame()->SetVisible(false);
  c->NavKinds = 1;
  r->SetFocusState(true);  // the window has focus

  auto tab = [&](uint8_t shift = 0) {
    TKeyData k = Key(kKeyChar, 9, shift);
    r->DispatchKey(&k);
    return k.Handled;
  };
  auto arrow = [&](uint16_t vk) {
    TKeyData k = Key(kKeyDown, vk);
    r->DispatchKey(&k);
    return k.Handled;
  };
  std::vector<TFrameControl*> seen;
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(tab());
    seen.push_back(Deepest(r));
  }
  EXPECT_EQ(seen, (std::vector<TFrameControl*>{a1, a2, c, d, d1, a1}));  // wraps to the first
  EXPECT_TRUE(a1->Focused());
  EXPECT_TRUE(a->Focused());
  EXPECT_FALSE(d1->Focused());
  EXPECT_EQ(r->NavigationKind(), 0);
  // Shift+Tab from the first eligible control goes to the last.
  EXPECT_TRUE(tab(kShiftShift));
  EXPECT_EQ(Deepest(r), d1);
  // Arrows skip the Tab-only control.
  EXPECT_TRUE(arrow(37));  // left: backward
  EXPECT_EQ(Deepest(r), d);
  EXPECT_TRUE(arrow(38));  // up: backward, over c
  EXPECT_EQ(Deepest(r), a2);
  EXPECT_EQ(r->NavigationKind(), 1);
  EXPECT_TRUE(arrow(40));  // down: forward, over c
  EXPECT_EQ(Deepest(r), d);
  // Ctrl+Tab and Alt+Tab are no navigation keys; neither is a plain key.
  EXPECT_FALSE(tab(kShiftCtrl));
  EXPECT_FALSE(tab(kShiftAlt | kShiftShift));
  EXPECT_FALSE(arrow(65));
  EXPECT_EQ(Deepest(r), d);
  // Disabling d takes d1 along (it inherits); with everything else disabled
  // or hidden the focus stays.
  d->SetEnabled(false);
  a->SetEnabled(false);
  c->SetEnabled(false);
  EXPECT_FALSE(d1->IsEnabled());
  EXPECT_TRUE(tab());
  EXPECT_EQ(Deepest(r), d);
  // Showing b makes b1 reachable.
  b->Frame()->SetVisible(true);
  EXPECT_TRUE(tab());
  EXPECT_EQ(Deepest(r), b1);
}

TEST_F(FrameControlsTest, FocusFlowsDownTheFocusedChildChain) {
  TRootControl* r = MakeRoot(100, 100);
  TPaintProbe* p = AddProbe(r, "p", 0, 0, 50, 50);
  TPaintProbe* x = AddProbe(p, "x", 0, 0, 10, 10);
  TPaintProbe* q = AddProbe(r, "q", 50, 0, 50, 50);
  Ref<TEventLog> logp = MakeRef<TEventLog>();
  TEventLog& log = *logp;
  for (TFrameControl* c : {static_cast<TFrameControl*>(r), static_cast<TFrameControl*>(p), static_cast<TFrameControl*>(x), static_cast<TFrameControl*>(q)})
    log.Listen(c, {3, 4, 5, 18, 19});
  // Focus runs up the chain and the root takes the focused state.
  x->Focus();
  EXPECT_EQ(r->FocusedChild(), p);
  EXPECT_EQ(p->FocusedChild(), x);
  EXPECT_TRUE(x->Focused());
  // The window loses focus: the chain is kept, the state goes.
  r->SetFocusState(false);
  EXPECT_FALSE(x->Focused());
  EXPECT_EQ(p->FocusedChild(), x);
  // The window gains focus: the state goes down the chain.
  log.Lines.clear();
  r->SetFocusState(true);
  EXPECT_TRUE(p->Focused());
  EXPECT_TRUE(x->Focused());
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"root:5", "p:5", "x:5"}));
  // Focusing another branch takes the state from the old one.
  log.Lines.clear();
  q->Focus();
  EXPECT_FALSE(p->Focused());
  EXPECT_FALSE(x->Focused());
  EXPECT_TRUE(q->Focused());
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"root:19", "p:4", "p:5", "x:5", "q:3", "q:5", "root:18"}));
  // A control that is not a child is ignored.
  r->SetFocusedChild(x);
  EXPECT_EQ(r->FocusedChild(), q);
  // Freeing the focused child clears it in the parent.
  q->Free();
  EXPECT_EQ(r->FocusedChild(), nullptr);
}

TEST_F(FrameControlsTest, EnabledStateInheritanceAndEvents) {
  TRootControl* r = MakeRoot(100, 100);
  TPaintProbe* p = AddProbe(r, "p", 0, 0, 50, 50);
  TPaintProbe* inherit = AddProbe(p, "inherit", 0, 0, 10, 10);
  TPaintProbe* deep = AddProbe(inherit, "deep", 0, 0, 5, 5);
  TPaintProbe* on = AddProbe(p, "on", 10, 0, 10, 10);
  TPaintProbe* on_child = AddProbe(on, "on_child", 0, 0, 5, 5);
  on->SetEnabledState(1);
  Ref<TEventLog> logp = MakeRef<TEventLog>();
  TEventLog& log = *logp;
  for (TFrameControl* c : {static_cast<TFrameControl*>(p), static_cast<TFrameControl*>(inherit), static_cast<TFrameControl*>(deep), static_cast<TFrameControl*>(on), static_cast<TFrameControl*>(on_child)})
    log.Listen(c, {6});
  p->SetEnabled(false);
  EXPECT_FALSE(inherit->IsEnabled());
  EXPECT_FALSE(deep->IsEnabled());
  EXPECT_TRUE(on->IsEnabled());
  EXPECT_TRUE(on_child->IsEnabled());
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"p:6", "inherit:6", "deep:6"}));
  // No change of the effective state raises nothing.
  log.Lines.clear();
  p->SetEnabled(false);
  deep->SetEnabled(false);  // already off through its parent
  EXPECT_TRUE(log.Lines.empty());
  p->SetEnabled(true);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"p:6", "inherit:6"}));  // deep now holds state 2
  EXPECT_FALSE(deep->IsEnabled());
}

TEST_F(FrameControlsTest, SizeChangesAndInvalidationUnions) {
  TRootControl* r = MakeRoot(100, 100);
  TPaintProbe* p = AddProbe(r, "p", 0, 0, 0, 0);
  Ref<TEventLog> logp = MakeRef<TEventLog>();
  TEventLog& log = *logp;
  log.Listen(p, {7, 8});
  p->SetSize(20, 10);
  p->SetSize(20, 10);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"p:7", "p:8"}));
  p->SetSize(-5, -1);  // negative sizes become 0
  EXPECT_EQ(p->GetWidth(), 0);
  EXPECT_EQ(p->GetHeight(), 0);
  p->SetSize(30, 30);
  p->SetWidth(40);
  EXPECT_EQ(p->GetHeight(), 30);

  // Attached to a window frame, every invalidation is taken by the frame at
  // once and united there.
  TWinFrame* wf = static_cast<TWinFrame*>(p->Frame());
  frame->RecalcInvalidRegion();
  p->InvalidateRect(TRect{5, 5, 5, 9});
  p->InvalidateRect(TRect{1, 2, 3, 4});
  p->InvalidateRect(TRect{10, 0, 12, 3});
  EXPECT_EQ(p->InvalidationCount(), 0);
  EXPECT_EQ(wf->InvalidRect(), (TRect{1, 0, 12, 4}));
}

namespace {
// A frame that leaves the invalid rectangle with the control.
class TBareFrame : public TDrawFrame {
 public:
  void RectChanged() override {}
  TDrawFrame* CreateFrame() override { return new TBareFrame; }
  void Invalidate() override {}
  Ref<TTextElement> CreateTextElement(const std::u16string&, const TFontDesc&) override { return nullptr; }
  void MeasureText(const std::u16string&, const TFontDesc&, TTextSize& out) override { out = TTextSize{}; }
};
}  // namespace

TEST_F(FrameControlsTest, InvalidationPrimitiveUnitesUntilTaken) {
  TFrameControl* c = new TFrameControl(new TBareFrame);  // frees its frame
  c->SetSize(30, 30);
  TRect taken;
  c->TakeInvalidRect(taken);
  EXPECT_EQ(taken, (TRect{0, 0, 30, 30}));
  EXPECT_EQ(c->InvalidationCount(), 0);
  c->InvalidateRect(TRect{5, 5, 5, 9});   // empty first
  c->InvalidateRect(TRect{1, 2, 3, 4});   // then a real one
  EXPECT_EQ(c->InvalidRect(), (TRect{1, 2, 3, 4}));
  c->InvalidateRect(TRect{10, 0, 12, 3});
  EXPECT_EQ(c->InvalidRect(), (TRect{1, 0, 12, 4}));
  c->InvalidateRect(TRect{});               // an empty one keeps the union
  EXPECT_EQ(c->InvalidRect(), (TRect{1, 0, 12, 4}));
  EXPECT_EQ(c->InvalidationCount(), 4);
  c->TakeInvalidRect(taken);
  c->InvalidateRect(TRect{});
  c->InvalidateRect(TRect{});
  EXPECT_EQ(c->InvalidRect(), kEmptyInvalidRect);
  c->Free();
}

TEST_F(FrameControlsTest, HitTestingFindsTheTopmostControl) {
  TRootControl* r = MakeRoot(100, 100);
  TPaintProbe* low = AddProbe(r, "low", 10, 10, 40, 40);
  TPaintProbe* high = AddProbe(r, "high", 30, 30, 40, 40);  // later sibling: on top
  TPaintProbe* empty = AddProbe(r, "empty", 80, 80, 0, 0);
  TPaintProbe* clipped = AddProbe(r, "clipped", 0, 60, 20, 20);
  TPaintProbe* inner = AddProbe(clipped, "inner", 10, 10, 30, 30);
  clipped->Frame()->SetBoundsRect(TRect{0, 0, 20, 20});
  clipped->Frame()->SetClip(true);
  bool hit = false;
  TPoint local;
  EXPECT_EQ(r->ControlAt(35, 35, hit, local), high);
  EXPECT_EQ(local, (TPoint{5, 5}));
  EXPECT_EQ(r->ControlAt(15, 15, hit, local), low);
  EXPECT_EQ(r->ControlAt(80, 80, hit, local), r);   // the 0 x 0 control holds no point
  EXPECT_EQ(r->ControlAt(15, 75, hit, local), inner);
  EXPECT_EQ(r->ControlAt(25, 85, hit, local), r);   // inner, but outside its clipping parent
  EXPECT_EQ(r->ControlAt(100, 5, hit, local), nullptr);
  EXPECT_FALSE(empty->ContainsPoint(0, 0));
  r->SetSize(0, 100);
  EXPECT_EQ(r->ControlAt(5, 5, hit, local), nullptr);
  // The root's screen origin is its position.
  r->SetSize(100, 100);
  r->SetPosition(1000, 500);
  EXPECT_EQ(r->ControlAt(1015, 515, hit, local), low);
  TPoint screen;
  inner->ClientToScreen(1, 2, screen);
  EXPECT_EQ(screen, (TPoint{1011, 572}));
}

TEST_F(FrameControlsTest, KeysGoDownTheChainAndBackUpUntilHandled) {
  TRootControl* r = MakeRoot(100, 100);
  TPaintProbe* p = AddProbe(r, "p", 0, 0, 50, 50);
  TPaintProbe* x = AddProbe(p, "x", 0, 0, 10, 10);
  x->Focus();
  Ref<TEventLog> logp = MakeRef<TEventLog>();
  TEventLog& log = *logp;
  for (TFrameControl* c : {static_cast<TFrameControl*>(r), static_cast<TFrameControl*>(p), static_cast<TFrameControl*>(x)})
    log.Listen(c, {14, 15});
  TKeyData k = Key(kKeyDown, 65);
  r->DispatchKey(&k);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"x:14", "x:15", "p:15", "root:15"}));
  // A parent that handles the key stops it.
  struct TEat : TEventHandler {
    void HandleEvent(TRefObject*, int32_t, intptr_t param) override { reinterpret_cast<TKeyData*>(param)->Handled = true; }
  };
  Ref<TEat> eat = MakeRef<TEat>();
  p->Events()->AddHandler(15, eat.get());
  log.Lines.clear();
  k = Key(kKeyDown, 65);
  r->DispatchKey(&k);
  EXPECT_TRUE(k.Handled);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"x:14", "x:15", "p:15"}));
}

TEST_F(FrameControlsTest, FreeingControlsRaisesEventsAndKeepsMemoryUntilTheMessageEnds) {
  TRootControl* r = MakeRoot(100, 100);
  Ref<TEventLog> logp = MakeRef<TEventLog>();
  TEventLog& log = *logp;
  log.Listen(r, {16, 17});
  TPaintProbe* p = AddProbe(r, "p", 0, 0, 50, 50);
  AddProbe(p, "x", 0, 0, 10, 10);
  log.Listen(p, {0, 17});
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"root:16"}));
  log.Lines.clear();
  EmptyPendingReleaseList();
  // p frees itself from inside its own click handler.
  struct TSelfFree : TEventHandler {
    void HandleEvent(TRefObject* sender, int32_t, intptr_t) override { static_cast<TRefObject*>(sender)->Free(); }
  };
  Ref<TSelfFree> killer = MakeRef<TSelfFree>();
  p->Events()->AddHandler(13, killer.get());
  p->Click();
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"p:0", "p:17", "root:17"}));
  EXPECT_EQ(r->GetFirstChild(), nullptr);
  EXPECT_EQ(PendingReleaseCount(), 2);  // p and its child
  EmptyPendingReleaseList();
  EXPECT_EQ(PendingReleaseCount(), 0);
  EXPECT_EQ(killer->RegistrationCount(), 0);
}

TEST_F(FrameControlsTest, CreationChecksItsFrame) {
  TRootControl* r = MakeRoot(100, 100);
  EXPECT_THROW(new TFrameControl(nullptr), EAbort);
  TPaintProbe* p = AddProbe(r, "p", 0, 0, 50, 50);
  EXPECT_THROW(new TFrameControl(p->Frame()), EAbort);
  EXPECT_THROW(new TRootControl(p->CreateChildFrame()), EAbort);  // a root with a parent
  EmptyPendingReleaseList();
  // Creating on a frame makes the parent raise "child added"; the styles
  // come from the default set at the top.
  EXPECT_EQ(p->GetStyles(), DefaultControlStyles());
  EXPECT_EQ(p->GetRootControl(), r);
  EXPECT_EQ(p->GetTopmostControl(), r);
  EXPECT_EQ(p->Baseline(), -1);
}

TEST_F(FrameControlsTest, RefreshTicksReachListeningControlsAndStopTheTimer) {
  TRootControl* r = MakeRoot(100, 100);
  TPaintProbe* p = AddProbe(r, "p", 0, 0, 50, 50);
  Ref<TEventLog> logp = MakeRef<TEventLog>();
  TEventLog& log = *logp;
  log.Listen(p, {2});
  TRefreshNotifier* n = r->RefreshNotifier();
  EXPECT_FALSE(n->TimerRunning());
  p->StartTimeRefresh();
  EXPECT_TRUE(n->TimerRunning());
  backend->Advance(n->Interval());
  Drain();
  backend->Advance(n->Interval());
  Drain();
  EXPECT_EQ(log.Count("p:2"), 2);
  p->StopTimeRefresh();
  EXPECT_FALSE(n->TimerRunning());
  // A listener freed while the timer runs: the next tick reaches nobody and
  // stops the timer.
  p->StartTimeRefresh();
  p->Free();
  EXPECT_TRUE(n->TimerRunning());
  backend->Advance(n->Interval());
  Drain();
  EXPECT_FALSE(n->TimerRunning());

  // A control without a root ticks through the shared notifier.
  TFrameControl* loose = new TFrameControl(new TRootFrame);  // frees its frame
  loose->SetName("loose");
  log.Listen(loose, {2});
  loose->StartTimeRefresh();
  backend->Advance(50);
  Drain();
  EXPECT_GE(log.Count("loose:2"), 1);
  loose->Free();
}

namespace {

// A control that frees `Victim` (itself or a control above it) on a mouse
// button press or a key press, the way a dialog closes itself.
class TCloser : public TPaintProbe {
 public:
  using TPaintProbe::TPaintProbe;
  TFrameControl* Victim = nullptr;
  void MouseEvent(TMouseData* data) override {
    TPaintProbe::MouseEvent(data);
    if (data->Kind == kMouseDown && Victim) std::exchange(Victim, nullptr)->Free();
  }
  void KeyEvent(TKeyData* key) override {
    if (key->Kind == kKeyDown && Victim) {
      key->Handled = true;
      std::exchange(Victim, nullptr)->Free();
    }
  }
};

}  // namespace

TEST_F(FrameControlsTest, ControlsFreedByTheirOwnInputGoOnceTheEventIsDone) {
  TRootControl* r = MakeRoot(200, 100);
  TPaintProbe* under = AddProbe(r, "under", 0, 0, 200, 100);
  TPaintProbe* panel = AddProbe(r, "panel", 10, 10, 100, 60);
  AddProbe(panel, "label", 0, 0, 40, 10);
  auto* ok = new TCloser(panel->CreateChildFrame(), "ok", 0xFF000000);
  ok->SetPosition(50, 40);
  ok->SetSize(40, 15);
  AddProbe(panel, "top", 0, 50, 10, 10);
  ok->Victim = panel;
  // The click frees the panel (and the button under the pointer) while the
  // dispatch is inside the button's frame.
  frame->MouseEvent(0, 70, 55, kMouseDown, kMouseLeft);
  EXPECT_EQ(r->GetFirstChild(), under);
  EXPECT_EQ(under->GetNextSibling(), nullptr);
  EXPECT_EQ(frame->FirstChild(), frame->LastChild());
  frame->MouseEvent(0, 70, 55, kMouseUp, kMouseLeft);
  frame->MouseEvent(0, 72, 55, kMouseMove, 0);
  EXPECT_EQ(under->MouseKinds.back(), kMouseMove);
  EmptyPendingReleaseList();

  // A panel that is the root control's focused chain frees itself on a key.
  auto* dialog = new TCloser(r->CreateChildFrame(), "dialog", 0xFF000000);
  dialog->SetSize(50, 50);
  TPaintProbe* field = AddProbe(dialog, "field", 0, 0, 10, 10);
  field->SetTabStop(true);
  dialog->Victim = dialog;
  r->SetFocusState(true);
  field->Focus();
  TKeyData k = Key(kKeyDown, 13);
  r->DispatchKey(&k);
  EXPECT_TRUE(k.Handled);
  EXPECT_EQ(r->FocusedChild(), nullptr);
  EXPECT_EQ(under->GetNextSibling(), nullptr);
}

// Deep trees are freed without recursing once per level.
TEST_F(FrameControlsTest, DeepTreesAreFreedWithoutRecursion) {
  constexpr int kLevels = kMaxFrameDepth - 1;  // and a kept child below the last
  TRootControl* r = MakeRoot(100, 100);
  TFrameControl* c = r;
  for (int i = 0; i < kLevels; ++i) c = AddProbe(c, "level", 0, 0, 100, 100);
  TPaintProbe* last = static_cast<TPaintProbe*>(c);
  // A child that somebody else holds survives the tree, without a frame.
  Ref<TPaintProbe> kept(AddProbe(last, "kept", 0, 0, 5, 5));
  r->GetFirstChild()->Free();
  EXPECT_EQ(r->GetFirstChild(), nullptr);
  EXPECT_EQ(kept->Frame(), nullptr);
  EmptyPendingReleaseList();

  // Bare frames, with no controls on them, too.
  TDrawFrame* f = frame;
  for (int i = 0; i < kLevels; ++i) f = f->InsertAfter(nullptr);
  root = nullptr;
  EXPECT_EQ(PendingReleaseCount(), 1);  // the root control
}

namespace {

// Frees `Victim` when it loses the focus, the way a field may drop the pane
// that follows it.
class TFocusDropper : public TPaintProbe {
 public:
  using TPaintProbe::TPaintProbe;
  TFrameControl* Victim = nullptr;
  void FocusedInParent(bool value) override {
    TPaintProbe::FocusedInParent(value);
    if (!value && Victim) std::exchange(Victim, nullptr)->Free();
  }
};

}  // namespace

// Tab onto a control that the focus handler of the control losing the focus
// frees (the control itself, or the panel it lies in): the step ends with no
// freed control in the focused chain, and the next Tab goes on from there.
TEST_F(FrameControlsTest, TabOntoAControlThatTheLosingControlFrees) {
  TRootControl* r = MakeRoot(200, 100);
  auto* field = new TFocusDropper(r->CreateChildFrame(), "field", 0xFF000000);
  field->SetSize(20, 20);
  field->SetTabStop(true);
  TPaintProbe* next = AddProbe(r, "next", 30, 0, 20, 20);
  next->SetTabStop(true);
  TPaintProbe* pane = AddProbe(r, "pane", 60, 0, 60, 20);
  TPaintProbe* inner = AddProbe(pane, "inner", 0, 0, 20, 20);
  inner->SetTabStop(true);
  TPaintProbe* last = AddProbe(r, "last", 150, 0, 20, 20);
  last->SetTabStop(true);
  r->SetFocusState(true);
  auto tab = [&] {
    TKeyData k = Key(kKeyChar, 9);
    r->DispatchKey(&k);
    EmptyPendingReleaseList();
    return k.Handled;
  };

  field->Focus();
  field->Victim = next;
  EXPECT_TRUE(tab());
  EXPECT_EQ(field->GetNextSibling(), pane) << "the freed control is gone from the tree";
  EXPECT_EQ(r->FocusedChild(), nullptr);
  EXPECT_FALSE(field->Focused());
  EXPECT_TRUE(tab());
  EXPECT_EQ(Deepest(r), field);

  // The freed control's parent goes, with the control the Tab was moving to.
  field->Victim = pane;
  EXPECT_TRUE(tab());
  EXPECT_EQ(field->GetNextSibling(), last);
  EXPECT_EQ(r->FocusedChild(), nullptr);
  EXPECT_TRUE(tab());
  EXPECT_EQ(Deepest(r), field);
  EXPECT_TRUE(tab());
  EXPECT_EQ(Deepest(r), last);
  EXPECT_TRUE(last->Focused());
}

namespace {

// Makes a part of itself in its constructor, as composite controls do, and
// listens to its parent.
class TWithPart : public TPaintProbe {
 public:
  TWithPart(TDrawFrame* frame, TFrameControl* parent) : TPaintProbe(frame, "with-part", 0xFF000000) {
    parent->Events()->AddHandler(kFrameEventClick, this);
    AddProbe(this, "part", 0, 0, 5, 5);
  }
};

}  // namespace

// A tree is refused where it would grow past the depth cap, with a clear
// error; at the deepest level allowed, Tab, the mouse and painting work.
TEST_F(FrameControlsTest, TreesStopAtTheDepthCapAndWorkUpToIt) {
  constexpr int kTries = 30000;
  TRootControl* r = MakeRoot(100, 100);
  TFrameControl* c = r;
  int levels = 0;
  std::string refusal;
  try {
    for (; levels < kTries; ++levels) c = AddProbe(c, "level", 0, 0, 100, 100);
  } catch (const EFrameTreeTooDeep& e) {
    refusal = e.Message();
  }
  EXPECT_EQ(levels, kMaxFrameDepth);
  EXPECT_EQ(refusal, "Frame tree too deep: a frame may lie at most 256 levels below its root");
  EXPECT_EQ(c->GetFirstChild(), nullptr);
  EXPECT_EQ(c->Frame()->FirstChild(), nullptr) << "a refused insert makes no frame";
  EmptyPendingReleaseList();

  auto* deepest = static_cast<TPaintProbe*>(c);
  deepest->SetTabStop(true);
  deepest->Color = 0xFF00FF00u;
  r->SetFocusState(true);
  TKeyData tab = Key(kKeyChar, 9);
  r->DispatchKey(&tab);
  EXPECT_TRUE(deepest->Focused());
  frame->MouseEvent(0, 50, 50, kMouseDown, kMouseLeft);
  frame->MouseEvent(0, 50, 50, kMouseUp, kMouseLeft);
  EXPECT_EQ(deepest->MouseKinds, (std::vector<uint8_t>{kMouseDown, kMouseUp}));
  EXPECT_TRUE(frame->RecalcInvalidRegion());
  EXPECT_EQ(frame->Surface()->PixelAt(50, 50) & 0xFFFFFFu, 0x00FF00u);

  // Bare frames stop at the same depth; a sibling at the deepest level is fine.
  TDrawFrame* f = deepest->Frame();
  EXPECT_EQ(f->Depth(), kMaxFrameDepth);
  EXPECT_THROW(f->InsertAfter(nullptr), EFrameTreeTooDeep);
  EXPECT_THROW(f->InsertBefore(nullptr), EFrameTreeTooDeep);
  TDrawFrame* twin = f->Parent()->InsertBefore(f);
  EXPECT_EQ(twin->Depth(), kMaxFrameDepth);

  // A control whose own part would go too deep is refused whole: its frame
  // leaves the tree and it no longer listens to anything.
  TFrameControl* parent = deepest->GetParentControl();
  TDrawFrame* last_before = parent->Frame()->LastChild();
  EXPECT_THROW(new TWithPart(parent->CreateChildFrame(), parent), EFrameTreeTooDeep);
  EXPECT_EQ(parent->Frame()->LastChild(), last_before);
  EmptyPendingReleaseList();
  parent->Click();
}

namespace {

// Frees a whole tree (through the reference that owns its root) when it
// hears a tick, the way the end of an animation closes what it ran in.
class TTickCloser : public TPaintProbe {
 public:
  using TPaintProbe::TPaintProbe;
  Ref<TRootControl>* Owner = nullptr;
  void TimeRefresh() override {
    if (Owner) *std::exchange(Owner, nullptr) = nullptr;
  }
};

}  // namespace

TEST_F(FrameControlsTest, ATickThatFreesTheWholeTreeEndsCleanly) {
  TRootControl* r = MakeRoot(100, 100);
  auto* closer = new TTickCloser(r->CreateChildFrame(), "closer", 0xFF000000);
  closer->Owner = &root;
  closer->StartTimeRefresh();
  const uint32_t interval = r->RefreshNotifier()->Interval();
  for (int i = 0; i < 5 && root; ++i) {
    backend->Advance(interval);
    Drain();
  }
  EXPECT_EQ(root, nullptr);
  EmptyPendingReleaseList();
  backend->Advance(interval);
  Drain();
}
