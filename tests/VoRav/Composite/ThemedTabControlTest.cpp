// The themed tab control with a painter of fixed, simple geometry: tab
// layout (one row with scroll arrows, squeezed tabs), selection by mouse and
// keyboard, the arrows' auto-repeat on the manual clock, and the allocator.
#include <gtest/gtest.h>

#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxThemedTabControl.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winTabsThemes.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

Ref<TSysBitmap> Solid(int32_t w, int32_t h, TColor32 c) {
  if (w < 1 || h < 1) return nullptr;
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, w, h}, c);
  return b;
}

// Tabs 20 high at the bottom of a 22-pixel row; arrows of 20 x 20 at the
// row's right end; every tab `Natural` wide.
class TTestTabsTheme : public TFrameTabControlTheme {
 public:
  using TFrameTabControlTheme::TFrameTabControlTheme;
  int32_t Natural = 60;
  int32_t MarginLeft = 0;
  int32_t MarginRight = 0;

  int32_t GetTabHeight(TDrawFrame*) override { return 20; }
  TRect GetTabContentRect(TSize s) override { return TRect{5, 2, s.cx - 5, s.cy}; }
  TPoint GetCaptionOffset(uint8_t state) override { return state ? TPoint{0, -2} : TPoint{}; }
  TRect GetPageRect(TDrawFrame*, TSize s, uint8_t) override { return TRect{4, 26, s.cx - 4, s.cy - 4}; }
  void GetArrowRects(TDrawFrame*, TSize s, uint8_t, TRect& a0, TRect& a1) override {
    a0 = TRect{s.cx - 20, 0, s.cx, 20};
    a1 = TRect{s.cx - 40, 0, s.cx - 20, 20};
  }
  TRect GetTabRowRect(TDrawFrame*, TSize s, uint8_t o, bool arrows) override {
    const int32_t top = o == 0 ? 0 : s.cy - 22;
    return TRect{0, top, s.cx - (arrows ? 40 : 0), top + 22};
  }
  int32_t GetTabWidth(int32_t) override { return Natural; }
  void GetRowMargins(int32_t& l, int32_t& r) override { l = MarginLeft, r = MarginRight; }
  std::u16string GetStateKey(uint8_t st, uint8_t o) override {
    return std::u16string(o ? u"b" : u"") + (st & 4 ? u"s" : u"") + (st & 2 ? u"h" : u"");
  }
  Ref<TSysBitmap> GetBackground(const std::u16string&, int32_t row, TSize s, TPoint& offset) override {
    offset = TPoint{0, row};
    return Solid(s.cx, s.cy - row, 0xFF808080u);
  }
  Ref<TSysBitmap> GetArrowPicture(const std::u16string& key, int32_t, TSize s, TPoint& offset) override {
    offset = TPoint{};
    return Solid(s.cx, s.cy, key.find(u's') != std::u16string::npos ? 0xFF000000u : 0xFF404040u);
  }
  Ref<TSysBitmap> GetTabPicture(const std::u16string& key, uint8_t, uint8_t, TSize s, TPoint& offset) override {
    const bool selected = key.find(u's') != std::u16string::npos;
    const int32_t g = selected ? 2 : 0;
    offset = TPoint{-g, -g};
    return Solid(s.cx + 2 * g, s.cy + 2 * g, selected ? 0xFFFFFFFFu : 0xFFC0C0C0u);
  }
};

class ThemedTabControlTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    InitWinFrameControls();
    styles = MakeRef<TControlStyles>();
    styles->Assign(DefaultWinControlStyles());
    painter = MakeRef<TTestTabsTheme>(styles.get()).get();
  }
  void TearDown() override {
    root = nullptr;
    painter = nullptr;
    styles = nullptr;
    FinalizeThemedTabControl();
    FinalizeWinFrameControls();
    CompositeTest::TearDown();
  }
  // A control of w x 120 at (0, 0) on a 300 x 150 root with `pages` pages
  // (each with a probe child of its own colour); page 0 selected.
  TThemedTabControl* Make(int32_t w, int32_t pages, int32_t natural = 60) {
    MakeRoot(300, 150);
    AddProbe(root.get(), "back", 0, 0, 300, 150, 0xFF0000FFu);
    painter->Natural = natural;
    tabs = new TThemedTabControl(root->CreateChildFrame(), painter, styles.get());
    tabs->SetName("tabs");
    tabs->SetSize(w, 120);
    for (int32_t i = 0; i < pages; ++i) {
      TThemedPage* p = tabs->AddPage();
      p->SetCaption(u"Page " + std::u16string(1, char16_t(u'0' + i)));
      AddProbe(p, "probe", 0, 0, 10, 10, 0xFF000000u | uint32_t(0x10 * (i + 1)) << 8);
    }
    if (pages) tabs->SelectPage(tabs->GetPage(0));
    frame->RecalcInvalidRegion();
    return tabs;
  }
  void Mouse(int32_t x, int32_t y, uint8_t kind) {
    frame->MouseEvent(0, x, y, kind, kind == kMouseMove ? 0 : kMouseLeft);
  }
  void ClickAt(int32_t x, int32_t y) {
    Mouse(x, y, kMouseMove);
    Mouse(x, y, kMouseDown);
    Mouse(x, y, kMouseUp);
  }
  void Tick(uint32_t ms) {
    backend->Advance(ms);
    Drain();
  }
  bool Key(uint8_t shift) {
    TKeyData key;
    key.Kind = kKeyChar;
    key.Key = 9;
    key.Shift = shift;
    root->DispatchKey(&key);
    return key.Handled;
  }
  int32_t TabX(int32_t i) { return tabs->GetPage(i)->TabButton()->GetPosition().X; }
  int32_t TabW(int32_t i) { return tabs->GetPage(i)->TabButton()->PaintArea().Width(); }
  int32_t SelectedIndex() {
    for (int32_t i = 0; i < tabs->GetPageCount(); ++i)
      if (tabs->GetPage(i) == tabs->GetSelectedPage()) return i;
    return -1;
  }

  Ref<TControlStyles> styles;
  TTestTabsTheme* painter = nullptr;  // owned by the style set
  TThemedTabControl* tabs = nullptr;   // owned by the tree
};

TEST_F(ThemedTabControlTest, TabsThatDoNotFitScrollWithTheArrowsAndStopAtBothEnds) {
  // Six tabs of 60 in a 200-pixel control: 160 pixels of row beside the arrows.
  Make(200, 6);
  ASSERT_TRUE(tabs->ArrowsShown());
  EXPECT_EQ(tabs->Arrow(kArrowForward)->GetPosition().X, 180);
  EXPECT_EQ(tabs->Arrow(kArrowBackward)->GetPosition().X, 160);
  EXPECT_EQ(tabs->TabOffset(), 0);
  EXPECT_EQ(tabs->GetPage(2)->TabButton()->CutBits(), kTabCutRight);
  EXPECT_TRUE(tabs->GetPage(3)->OutOfView());
  // The tab of a page out of view takes no click.
  EXPECT_FALSE(tabs->GetPage(3)->TabButton()->ContainsPoint(1, 1));

  // Forward: each click brings the next hidden tab in, 12 pixels short of
  // the end, the last one exactly to the end; then nothing moves.
  // The selected first tab's picture stands 2 pixels below the row; after
  // a step the strip it left shows the page background again.
  tabs->SetPosition(0, 1);
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(45, 24), 0xFFFFFFu);
  std::vector<int32_t> offsets;
  for (int i = 0; i < 6; ++i) {
    ClickAt(190, 11);
    offsets.push_back(tabs->TabOffset());
    if (i == 0) {
      frame->RecalcInvalidRegion();
      EXPECT_EQ(frame->Surface()->PixelAt(45, 24), 0x808080u);
    }
  }
  EXPECT_EQ(offsets, (std::vector<int32_t>{32, 92, 152, 200, 200, 200}));
  EXPECT_EQ(TabX(5) + TabW(5), 160);
  EXPECT_FALSE(tabs->GetPage(5)->OutOfView());
  EXPECT_EQ(tabs->GetPage(5)->TabButton()->CutBits(), 0);
  EXPECT_EQ(tabs->GetPage(5)->TabButton()->Kind(), kTabLastAtEdge);

  // Backward to the start, and no further.
  offsets.clear();
  for (int i = 0; i < 6; ++i) {
    ClickAt(170, 11);
    offsets.push_back(tabs->TabOffset());
  }
  EXPECT_EQ(offsets.back(), 0);
  EXPECT_EQ(offsets[offsets.size() - 2], 0);
  for (size_t i = 1; i < offsets.size(); ++i) EXPECT_LE(offsets[i], offsets[i - 1]);
  EXPECT_EQ(TabX(0), 0);
  EXPECT_EQ(tabs->GetPage(0)->TabButton()->Kind(), kTabFirstAtEdge);

  // A wider control fits every tab: the arrows go, the offset is 0.
  tabs->SetSize(400, 120);
  EXPECT_FALSE(tabs->ArrowsShown());
  EXPECT_FALSE(tabs->Arrow(0)->ContainsPoint(1, 1));
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(TabX(i), 60 * i);
}

TEST_F(ThemedTabControlTest, ArrowRepeatsOnTheClockAndClicksOnReleaseOnlyOverIt) {
  Make(200, 10, 30);  // 300 pixels of tabs, 160 shown
  // A quick press and release: one step, at the release.
  Mouse(190, 10, kMouseMove);
  Mouse(190, 10, kMouseDown);
  EXPECT_EQ(tabs->TabOffset(), 0);
  EXPECT_TRUE(tabs->Arrow(kArrowForward)->Pressed());
  Tick(50);
  EXPECT_EQ(tabs->TabOffset(), 0);
  Mouse(190, 10, kMouseUp);
  const int32_t one = tabs->TabOffset();
  EXPECT_GT(one, 0);
  EXPECT_FALSE(root->RefreshNotifier()->TimerRunning());

  // Held: a step every 120 ms, one more at the release over the arrow.
  std::vector<int32_t> seen;
  Mouse(190, 10, kMouseDown);
  for (int i = 0; i < 2; ++i) {
    Tick(125);
    seen.push_back(tabs->TabOffset());
  }
  Mouse(190, 10, kMouseUp);
  seen.push_back(tabs->TabOffset());
  EXPECT_GT(seen[0], one);
  EXPECT_GT(seen[1], seen[0]);
  EXPECT_GT(seen[2], seen[1]);

  // Released away from the arrow within 120 ms: nothing.
  const int32_t before = tabs->TabOffset();
  Mouse(190, 10, kMouseDown);
  Mouse(100, 80, kMouseMove);
  Tick(50);
  Mouse(100, 80, kMouseUp);
  EXPECT_EQ(tabs->TabOffset(), before);
  EXPECT_FALSE(tabs->Arrow(kArrowForward)->Pressed());
  EXPECT_FALSE(tabs->Arrow(kArrowForward)->Hot());
}

TEST_F(ThemedTabControlTest, ClickingATabShowsItsPageAndScrollsAHiddenTabIntoView) {
  Make(200, 6);
  auto* probe0 = dynamic_cast<TPaintProbe*>(tabs->GetPage(0)->GetFirstChild());
  auto* probe1 = dynamic_cast<TPaintProbe*>(tabs->GetPage(1)->GetFirstChild());
  ASSERT_TRUE(probe0 && probe1);
  // The page rectangle is at (4, 26): page 0's probe shows there.
  EXPECT_EQ(frame->Surface()->PixelAt(6, 28), probe0->Color & 0xFFFFFFu);
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(tabs, {kFrameEventChanged});

  ClickAt(70, 10);  // the second tab
  EXPECT_EQ(SelectedIndex(), 1);
  EXPECT_TRUE(tabs->GetPage(1)->IsEnabled());
  EXPECT_FALSE(tabs->GetPage(0)->IsEnabled());
  EXPECT_EQ(tabs->GetPage(0)->Frame()->BoundsRect(), kFarAwayRect);
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(6, 28), probe1->Color & 0xFFFFFFu);
  // The selected tab is drawn 2 pixels larger than the others.
  EXPECT_EQ(frame->Surface()->PixelAt(59, 1), 0xFFFFFFu);
  EXPECT_EQ(frame->Surface()->PixelAt(61, 1), 0xFFFFFFu);
  EXPECT_EQ(log->Count("tabs:1"), 1);

  // Pressing the tab of the selected page changes nothing.
  ClickAt(70, 10);
  EXPECT_EQ(log->Count("tabs:1"), 1);
  EXPECT_EQ(SelectedIndex(), 1);

  // The third tab is cut on the right: selecting it scrolls it 12 pixels
  // short of the row's end; the last page goes exactly to the end.
  ClickAt(150, 10);
  EXPECT_EQ(SelectedIndex(), 2);
  EXPECT_EQ(TabX(2) + TabW(2), 160 - 12);
  tabs->SelectPage(tabs->GetPage(5));
  EXPECT_EQ(TabX(5) + TabW(5), 160);
  EXPECT_EQ(tabs->GetPage(5)->Frame()->BoundsRect(), (TRect{0, 0, 192, 90}));
}

TEST_F(ThemedTabControlTest, CtrlTabWalksThePagesWithWrapAroundSkippingHiddenTabs) {
  Make(300, 4);
  tabs->GetPage(2)->SetShownAsTab(false);
  tabs->Focus();
  EXPECT_TRUE(Key(8));
  EXPECT_EQ(SelectedIndex(), 1);
  EXPECT_TRUE(Key(8));
  EXPECT_EQ(SelectedIndex(), 3);  // page 2 is not a tab
  EXPECT_TRUE(Key(8));
  EXPECT_EQ(SelectedIndex(), 0);  // from the last to the first
  EXPECT_TRUE(Key(10));
  EXPECT_EQ(SelectedIndex(), 3);  // Ctrl+Shift+Tab from the first to the last
  // Tab alone and Ctrl+Alt+Tab are not page keys.
  EXPECT_FALSE(Key(8 | 4));
  EXPECT_EQ(SelectedIndex(), 3);
  bool forward = true;
  TKeyData plain;
  plain.Key = 9;
  EXPECT_FALSE(tabs->IsPageSwitchKey(&plain, forward));
}

TEST_F(ThemedTabControlTest, SqueezedTabsShareTheRowWithoutGapsAndTabKindsFollowTheRow) {
  // Layout kind 1: three tabs of 50 in a 100-pixel row.
  Make(100, 3, 50);
  tabs->SetLayoutKind(1);
  EXPECT_FALSE(tabs->NaturalWidth());
  EXPECT_EQ((std::vector<int32_t>{TabX(0), TabX(1), TabX(2)}), (std::vector<int32_t>{0, 33, 66}));
  EXPECT_EQ((std::vector<int32_t>{TabW(0), TabW(1), TabW(2)}), (std::vector<int32_t>{33, 33, 34}));
  EXPECT_FALSE(tabs->ArrowsShown());
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(tabs->GetPage(i)->TabButton()->CutBits(), 0);
  EXPECT_EQ(tabs->GetPage(0)->TabButton()->Kind(), kTabFirstAtEdge);
  EXPECT_EQ(tabs->GetPage(1)->TabButton()->Kind(), kTabMiddle);
  EXPECT_EQ(tabs->GetPage(2)->TabButton()->Kind(), kTabLastAtEdge);

  // Natural widths that fit: the plain row places them.
  painter->Natural = 30;
  tabs->SetFixedTabWidth(1);
  tabs->SetFixedTabWidth(0);
  EXPECT_TRUE(tabs->NaturalWidth());
  EXPECT_EQ((std::vector<int32_t>{TabX(0), TabX(1), TabX(2)}), (std::vector<int32_t>{0, 30, 60}));
  EXPECT_EQ(tabs->GetPage(2)->TabButton()->Kind(), kTabLast);

  // Two shown tabs: first and last kinds, never middle; one: the painter's
  // single-tab kind.
  tabs->GetPage(1)->SetShownAsTab(false);
  EXPECT_EQ(tabs->GetPage(0)->TabButton()->Kind(), kTabFirstAtEdge);
  EXPECT_EQ(tabs->GetPage(2)->TabButton()->Kind(), kTabLast);
  EXPECT_EQ(tabs->GetPage(1)->TabButton()->Frame()->BoundsRect(), kFarAwayRect);
  tabs->GetPage(2)->SetShownAsTab(false);
  EXPECT_EQ(tabs->GetPage(0)->TabButton()->Kind(), kTabSingle);

  // No shown tab in a row narrower than its margins: nothing to share.
  painter->MarginLeft = painter->MarginRight = 200;
  tabs->GetPage(0)->SetShownAsTab(false);
  tabs->SetLayoutKind(0);
  tabs->SetLayoutKind(1);
  EXPECT_FALSE(tabs->ArrowsShown());
  EXPECT_TRUE(tabs->NaturalWidth());
}

TEST_F(ThemedTabControlTest, ScrollingBackNeverPutsTheRowBeforeItsStart) {
  // Thirty tabs of 8 pixels: the second tab's slack of 12 is more than the
  // 8 pixels before it.
  Make(200, 30, 8);
  tabs->SelectPage(tabs->GetPage(29));
  ASSERT_EQ(tabs->TabOffset(), 240 - 160);
  tabs->SelectPage(tabs->GetPage(1));
  EXPECT_EQ(tabs->TabOffset(), 0);
  EXPECT_EQ(TabX(0), 0);
  EXPECT_EQ(TabX(1), 8);
}

TEST_F(ThemedTabControlTest, DisabledControlTakesNoClicksAndTheOrientationMovesTheRow) {
  Make(300, 3);
  tabs->SetEnabled(false);
  ClickAt(70, 10);
  EXPECT_EQ(SelectedIndex(), 0);
  EXPECT_FALSE(tabs->GetPage(1)->TabButton()->Hot());
  tabs->SetEnabled(true);
  ClickAt(70, 10);
  EXPECT_EQ(SelectedIndex(), 1);

  tabs->SetOrientation(1);
  EXPECT_EQ(tabs->GetPage(0)->TabButton()->GetPosition().Y, 120 - 22);
  ClickAt(10, 110);
  EXPECT_EQ(SelectedIndex(), 0);
}

TEST_F(ThemedTabControlTest, AutoSizeFitsThePageRectangleToTheContentAndKeepsTheMinimum) {
  Make(200, 2);
  tabs->SetAutoSize(3);
  // The probe of page 1 grows: the page rectangle (4 in, 26 down, 4 from
  // the right and the bottom) takes it exactly.
  auto* probe = dynamic_cast<TPaintProbe*>(tabs->GetPage(1)->GetFirstChild());
  ASSERT_NE(probe, nullptr);
  probe->SetSize(150, 60);
  EXPECT_EQ(tabs->PaintArea(), (TRect{0, 0, 158, 90}));
  // Only the width may change.
  tabs->SetAutoSize(1);
  probe->SetSize(250, 100);
  EXPECT_EQ(tabs->PaintArea(), (TRect{0, 0, 258, 90}));
  // Small content: not below 50 x 50.
  tabs->SetAutoSize(3);
  probe->SetSize(5, 5);
  tabs->GetPage(0)->GetFirstChild()->SetSize(5, 5);
  EXPECT_EQ(tabs->PaintArea(), (TRect{0, 0, 50, 50}));
}

TEST_F(ThemedTabControlTest, AllocatorNeedsATabPainterAndPagesFollowTheirTabs) {
  MakeRoot(200, 100);
  // The start-up installed the themed allocator; without it the end of the
  // chain gives nil.
  EXPECT_NE(DefaultWinControlStyles()->FindTheme<TWinXPTabsTheme>(), nullptr);
  FinalizeThemedTabControl();
  EXPECT_EQ(AllocFrameTabControl(root->CreateChildFrame(), styles.get()), nullptr);
  InitThemedTabControl();
  Ref<TControlStyles> bare = MakeRef<TControlStyles>();
  EXPECT_EQ(AllocFrameTabControl(root->CreateChildFrame(), bare.get()), nullptr);
  auto* made = dynamic_cast<TThemedTabControl*>(AllocFrameTabControl(root->CreateChildFrame(), styles.get()));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Painter(), painter);
  made->SetSize(200, 100);
  TThemedPage* a = made->AddPage();
  TThemedPage* b = made->AddPage();
  made->SelectPage(b);
  // Freeing a page takes its tab along and leaves no selection behind.
  TFrameControl* tab = b->TabButton();
  const int32_t children = [&] {
    int32_t n = 0;
    for (TFrameControl* c = made->GetFirstChild(); c; c = c->GetNextSibling()) ++n;
    return n;
  }();
  b->Free();
  int32_t after = 0;
  for (TFrameControl* c = made->GetFirstChild(); c; c = c->GetNextSibling()) {
    EXPECT_NE(c, tab);
    ++after;
  }
  EXPECT_EQ(after, children - 2);
  EXPECT_EQ(made->GetPageCount(), 1);
  EXPECT_EQ(made->GetSelectedPage(), nullptr);
  made->SelectPage(a);
  EXPECT_EQ(made->GetSelectedPage(), a);
  FinalizeThemedTabControl();
  EXPECT_EQ(AllocFrameTabControl(root->CreateChildFrame(), styles.get()), nullptr);
}

}  // namespace

// Near the depth cap, a tab control or a page whose own parts would lie too
// deep is refused whole; the control and the tree go on working.
TEST_F(ThemedTabControlTest, PartsPastTheDepthCapRefuseTheControlOrPageWhole) {
  MakeRoot(200, 100);
  TFrameControl* c = root.get();
  while (c->Frame()->Depth() < kMaxFrameDepth - 2) c = AddProbe(c, "level", 0, 0, 200, 100);
  // On a frame at the cap, the control's own parts cannot be made.
  TFrameControl* parent = c;
  TFrameControl* deepest = AddProbe(parent, "deepest", 0, 0, 9, 9);
  EXPECT_THROW(new TThemedTabControl(deepest->CreateChildFrame(), painter, styles.get()), EFrameTreeTooDeep);
  EXPECT_EQ(deepest->Frame()->FirstChild(), nullptr) << "the refused control took its frame along";
  // One level up it is made, but a page's tab caption would lie too deep.
  auto* made = new TThemedTabControl(parent->CreateChildFrame(), painter, styles.get());
  made->SetSize(200, 100);
  int32_t children = 0;
  for (TFrameControl* x = made->GetFirstChild(); x; x = x->GetNextSibling()) ++children;
  EXPECT_THROW(made->AddPage(), EFrameTreeTooDeep);
  EmptyPendingReleaseList();
  int32_t after = 0;
  for (TFrameControl* x = made->GetFirstChild(); x; x = x->GetNextSibling()) ++after;
  EXPECT_EQ(after, children);
  EXPECT_EQ(made->GetPageCount(), 0);
  made->SetSize(150, 80);
  frame->RecalcInvalidRegion();
}
