#include <gtest/gtest.h>

#include <cmath>

#include "KavLib2/NavPanel/KavNavPanel.h"
#include "KavLib2/NavPanel/KavVideoNavBar.h"
#include "NavTestUtil.h"
#include "tests/VoRav/LogCapture.h"

namespace kav {
namespace {

using namespace navtest;

// Collects the pictures the panel hands to the overlay.
struct TItems {
  int32_t Added = 0;
  TRect Last;
  void Image(TImage*, const TImageDrawParams&, int32_t& index, const TRect& rect) {
    if (index == -1) index = Added++;
    Last = rect;
  }
};

struct PanelFixture {
  TItems items;
  Ref<TNavPanel> panel = MakeRef<TNavPanel>();
  PanelFixture(const std::string& skin, TRect frame, int32_t code = 5, std::vector<std::u16string> names = {},
               bool video_scale = false) {
    panel->Accessor = DiskAccessor();
    panel->ButtonNames = names;
    panel->BarImageCallback = TNavImageCallback::Bind<&TItems::Image>(&items);
    panel->CornerImageCallback = TNavImageCallback::Bind<&TItems::Image>(&items);
    TNavPercentPoint p, a;
    NavPositionAnchor(code, p, a, 0);
    panel->SetPlacement(p, a, frame, 10);
    panel->LoadStyle(W(skin), video_scale, 120000, 0.5, true);
  }
  // The action of a click: the button bar acts on the release, the video
  // bar on the press.
  TKavAction Click(int32_t x, int32_t y) {
    TKavAction down, up;
    panel->MouseDown(1, kNavShiftLeft, x, y, down);
    panel->MouseUp(1, 0, x, y, up);
    return down.Kind != kActNone && down.Kind != kActPanelHandled ? down : up;
  }
  // The overlay point over a bar pixel.
  TPoint At(int32_t bx, int32_t by) const {
    const TRect& r = panel->BarRect();
    TSysBitmap* b = panel->Bar()->BarBitmap.get();
    return TPoint{r.Left + int32_t(std::lround((bx + 0.5) * r.Width() / b->Width())),
                  r.Top + int32_t(std::lround((by + 0.5) * r.Height() / b->Height()))};
  }
};

TEST(NavPanel, PositionsAndAnchorsPlaceTheBar) {
  TNavPercentPoint p, a;
  NavPositionAnchor(5, p, a, 0);
  EXPECT_EQ(NavAnchorRect(p, a, TRect{0, 0, 1000, 600}, 60, 480), (TRect{260, 540, 740, 600}));
  NavPositionAnchor(0, p, a, 10);
  EXPECT_EQ(p, (TNavPercentPoint{-90, -90}));
  EXPECT_EQ(NavAnchorRect(p, a, TRect{100, 0, 1100, 600}, 60, 480), (TRect{150, 30, 630, 90}));
  NavPositionAnchor(42, p, a, 10);
  EXPECT_EQ(NavAnchorRect(p, a, TRect{0, 0, 1000, 600}, 61, 481), (TRect{260, 270, 741, 331}));

  // The shipped button skin: 10 % of a 600-pixel frame is 60 pixels high.
  PanelFixture f(SkinsDir() + "Buttons/skin.ini", TRect{0, 0, 1000, 600}, 5, {u"home", u"backward", u"forward"});
  ASSERT_TRUE(f.panel->Bar());
  TSysBitmap* b = f.panel->Bar()->BarBitmap.get();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Height(), 36);
  const int32_t w = int32_t(std::nearbyint(b->Width() * 60.0 / 36));
  EXPECT_EQ(f.panel->BarRect().Width(), w);
  EXPECT_EQ(f.panel->BarRect().Top, 540);
  EXPECT_NEAR(f.panel->BarRect().Left + w / 2.0, 500, 1);
  EXPECT_EQ(f.items.Added, 1);
  // The video skin stands centred at the bottom, its corner at the top right.
  PanelFixture v(SkinsDir() + "Video/skin.ini", TRect{0, 0, 800, 600});
  ASSERT_TRUE(v.panel->VideoStyle());
  EXPECT_EQ(v.panel->BarRect(), (TRect{0, 560, 800, 600}));
  EXPECT_EQ(v.panel->CornerRect(), (TRect{760, 0, 800, 40}));
  EXPECT_EQ(v.items.Added, 2);
  EXPECT_TRUE(v.panel->HitTest(780, 10));
  EXPECT_FALSE(v.panel->HitTest(700, 10));
}

TEST(NavPanel, ButtonsGiveTheirActions) {
  PanelFixture f(SkinsDir() + "Buttons/skin.ini", TRect{0, 0, 1000, 600}, 5,
                 {u"home", u"backward", u"pause", u"forward", u"help", u"print", u"exit", u"nothing"});
  auto* bar = static_cast<TNavBar*>(f.panel->Bar());
  ASSERT_EQ(bar->Objects().size(), 7u);
  const uint8_t kinds[] = {kActGotoSlide, kActPrevSlide, kActPause, kActNextSlide, kActHelp, kActImage, kActExit};
  for (size_t i = 0; i < 7; ++i) {
    const auto& o = bar->Objects()[i];
    const TPoint p = f.At(o.X + o.Width / 2, o.Y + o.Height / 2);
    const TKavAction a = f.Click(p.X, p.Y);
    EXPECT_EQ(a.Kind, kinds[i]) << i;
    EXPECT_EQ(a.Int, 0);
  }
  // On the bar outside every button: handled by the panel; outside: none.
  const TPoint edge = f.At(2, 2);
  EXPECT_EQ(f.Click(edge.X, edge.Y).Kind, kActPanelHandled);
  EXPECT_EQ(f.Click(10, 10).Kind, kActNone);
  EXPECT_FALSE(f.panel->Inside());
  // Pressed on a button, dragged off the bar and released outside: the bar
  // still gets the release and the button is normal again.
  const auto& o = bar->Objects()[0];
  const TPoint p = f.At(o.X + o.Width / 2, o.Y + o.Height / 2);
  TKavAction a;
  f.panel->MouseDown(1, kNavShiftLeft, p.X, p.Y, a);
  EXPECT_EQ(bar->Objects()[0].State, 2);
  f.panel->MouseMove(kNavShiftLeft, 10, 10, a);
  f.panel->MouseUp(1, 0, 10, 10, a);
  EXPECT_EQ(a.Kind, kActNone);
  EXPECT_EQ(bar->Objects()[0].State, 0);
}

TEST(NavPanel, VideoBarPlayAndExitCorner) {
  PanelFixture v(SkinsDir() + "Video/skin.ini", TRect{0, 0, 800, 600});
  EXPECT_EQ(v.Click(8 + 12, 580).Kind, kActPause);
  EXPECT_EQ(v.Click(780, 20).Kind, kActExit);
  // In the corner picture's half of the frame but outside it: nothing.
  EXPECT_EQ(v.Click(400, 20).Kind, kActNone);
}

TEST(NavPanel, MissingOrDamagedSkinsGiveNoPanel) {
  test::TLogCapture log;
  PanelFixture missing("/nonexistent/skin.ini", TRect{0, 0, 800, 600});
  EXPECT_FALSE(missing.panel->Bar());
  EXPECT_FALSE(missing.panel->HitTest(400, 580));
  EXPECT_EQ(missing.Click(400, 580).Kind, kActNone);
  TTempDir dir;
  const std::string bad = dir.Write("bad/skin.ini", "[Common]\nColsCount=1\nRowsCount=1\n[CellWithObjects]\nCell=1\n");
  PanelFixture damaged(bad, TRect{0, 0, 800, 600});
  EXPECT_FALSE(damaged.panel->Bar());
  EXPECT_EQ(damaged.items.Added, 0);
  // A video skin in no folder fails its own check: no panel either.
  const std::string video = dir.Write("v/skin.ini", "[Common]\nVideoStyle=1\n");
  PanelFixture novideo(video, TRect{0, 0, 800, 600});
  EXPECT_TRUE(novideo.panel->Bar() == nullptr || !novideo.panel->HitTest(400, 590));
  bool logged = false;
  for (const auto& l : log.Lines()) logged |= l.find(u"Navigation skin damaged") != std::u16string::npos;
  EXPECT_TRUE(logged);
  // A bar picture of no height stands with no width.
  PanelFixture zero(dir.Write("z/skin.ini", "[Common]\nColsCount=1\nRowsCount=1\n[CellWithObjects]\nCell=1,1\n"
                                             "[Cell(1:1)]\nBounds=0,0,10,0\n"),
                    TRect{0, 0, 800, 600});
  EXPECT_EQ(zero.items.Added, 0);
}

}  // namespace
}  // namespace kav
