#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavEngine/KavRootItem.h"
#include "tests/KavLib2/3DEngine/DrawerRig.h"

using namespace kav;

namespace {

std::vector<std::string> g_drawn;

// A slide object that records its drawing and fills its colour.
class TLogItem : public TDrawItem {
 public:
  TLogItem(std::string name, uint32_t color) : name_(std::move(name)), color_(color) {}
  void Draw(TDeviceDrawer* d) override {
    g_drawn.push_back(name_);
    if (color_) d->FillRect(color_, d->GetOutputRect());
  }
  void AfterDraw(TDeviceDrawer*) override { ++after; }
  int after = 0;

 private:
  std::string name_;
  uint32_t color_;
};

class TFilter : public TDrawFilterParams {};

class TFakeSlide : public TPreparedSlide {
 public:
  TFakeSlide(const double* clock, double begin, double end, double next_effect, std::string name, uint32_t color = 0)
      : clock_(clock), object_(MakeRef<TLogItem>(std::move(name), color)) {
    Times.Begin = begin;
    Times.End = end;
    Times.NextEffectTime = next_effect;
    Times.EndPlusNext = end + next_effect;
  }
  TDrawItem* Object() override { return object_.get(); }
  double GetTime() override { return *clock_; }
  void SetTime(double t) override { set_times.push_back(t); }
  TDrawFilterParams* Transition() override { return filter.get(); }
  bool TransitionHasEffect() override { return filter && has_effect; }
  double TransitionProgress() override { return progress; }
  void TransitionAfterDraw(TDeviceDrawer*) override { ++filter_after; }

  Ref<TFilter> filter;
  bool has_effect = true;
  double progress = 0;
  int filter_after = 0;
  std::vector<double> set_times;

 private:
  const double* clock_;
  Ref<TLogItem> object_;
};

struct TScene {
  double clock = 0;
  Ref<TFakeSlide> a, b, c;
  Ref<TLogItem> overlay = MakeRef<TLogItem>("overlay", 0);
  TPreparedSlide* slides[3];
  TScene() {
    // Slides of 1000 ms; b comes in by a 300 ms transition that begins at
    // a's end (a's time runs on until its end plus the next effect time).
    a = MakeRef<TFakeSlide>(&clock, 0, 1000, 300, "a", 0xFF0000FF);
    b = MakeRef<TFakeSlide>(&clock, 1000, 2000, 0, "b", 0xFF00FF00);
    c = MakeRef<TFakeSlide>(&clock, 2000, 3000, 0, "c", 0xFFFF0000);
    b->filter = MakeRef<TFilter>();
    slides[0] = a.get();
    slides[1] = b.get();
    slides[2] = c.get();
  }
};

std::vector<TDrawItem*> Raw(const TRootItem& root) {
  std::vector<TDrawItem*> r;
  for (const auto& i : root.Items()) r.push_back(i.get());
  return r;
}

int64_t g_now = 0;
int64_t FakeNow() { return g_now; }

}  // namespace

TEST(RootItem, OnlyBegunSlidesAreVisible) {
  TScene s;
  auto root = MakeRef<TRootItem>(true);
  s.clock = -5;
  EXPECT_FALSE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_FALSE(root->Prepare(s.slides, s.overlay.get(), 0));

  s.clock = 400;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_EQ(Raw(*root), (std::vector<TDrawItem*>{s.a->Object(), s.overlay.get()}));
  EXPECT_FALSE(root->InTransition());
  EXPECT_EQ(s.a->set_times, std::vector<double>{400});
  EXPECT_TRUE(s.b->set_times.empty());
  EXPECT_TRUE(root->NeedsDraw());
  // The same items again: nothing changed.
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_FALSE(root->NeedsDraw());
  s.overlay->Changed = 1;
  EXPECT_TRUE(root->NeedsDraw());
}

// A forced frame (the screen lost what was drawn) stays forced over the
// passes that prepare the scene until a frame is drawn.
TEST(RootItem, AForcedFrameStaysForcedUntilDrawn) {
  TScene s;
  auto root = MakeRef<TRootItem>(true);
  s.clock = 400;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  root->AfterDraw(nullptr);
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_FALSE(root->NeedsDraw());
  root->Force();
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_TRUE(root->NeedsDraw());
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_TRUE(root->NeedsDraw());
  root->AfterDraw(nullptr);
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_FALSE(root->NeedsDraw());
}

TEST(RootItem, TransitionKeepsTheOutgoingSlideTimedUntilItsEndPlusEffect) {
  TScene s;
  auto root = MakeRef<TRootItem>(true);
  s.clock = 1100;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_TRUE(root->InTransition());
  EXPECT_EQ(Raw(*root), (std::vector<TDrawItem*>{s.a->Object(), s.b->Object(), s.overlay.get()}));
  EXPECT_EQ(s.a->set_times, std::vector<double>{1100});
  EXPECT_EQ(s.b->set_times, std::vector<double>{1100});

  // Same items, new progress: the frame changed.
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_FALSE(root->NeedsDraw());
  s.b->progress = 0.5;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_TRUE(root->NeedsDraw());

  // Past a's end plus the effect time only b is drawn.
  s.clock = 1300;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_FALSE(root->InTransition());
  EXPECT_EQ(Raw(*root), (std::vector<TDrawItem*>{s.b->Object(), s.overlay.get()}));

  // A transition whose filter has no effect object shows the outgoing slide.
  s.clock = 1100;
  s.b->has_effect = false;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_FALSE(root->InTransition());
  EXPECT_EQ(Raw(*root), (std::vector<TDrawItem*>{s.a->Object(), s.overlay.get()}));
}

TEST(RootItem, LastSlideTimeIsClampedToItsEndPlusEffect) {
  TScene s;
  auto root = MakeRef<TRootItem>(true);
  s.clock = 5000;
  ASSERT_TRUE(root->Prepare(s.slides, nullptr, 3));
  EXPECT_EQ(s.c->set_times, std::vector<double>{3000});
}

TEST(RootItem, AtAStopTheSlideThatStopsStaysRatherThanTheOneBeginningThere) {
  TScene s;
  auto root = MakeRef<TRootItem>(true);
  // b ends at 2000, where c begins without a transition.
  s.clock = 2000;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_EQ(Raw(*root), (std::vector<TDrawItem*>{s.c->Object(), s.overlay.get()}));
  root->AtStop = true;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_EQ(Raw(*root), (std::vector<TDrawItem*>{s.b->Object(), s.overlay.get()}));
  EXPECT_EQ(s.b->set_times, std::vector<double>{2000});
  // Past the meeting point the later slide is drawn, stop or not.
  s.clock = 2001;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_EQ(Raw(*root), (std::vector<TDrawItem*>{s.c->Object(), s.overlay.get()}));
  // A stop at a's end, where b's transition would begin: a alone.
  s.clock = 1000;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  EXPECT_FALSE(root->InTransition());
  EXPECT_EQ(Raw(*root), (std::vector<TDrawItem*>{s.a->Object(), s.overlay.get()}));
}

TEST(RootItem, DrawsSlidesThenOverlayAndFillsMarginsWithoutOverlay) {
  drawtest::TDrawerRig rig(64, 48);
  TScene s;
  auto root = MakeRef<TRootItem>(true);
  root->HiderColor = 0xFF808000;
  rig.Drawer->SetOutputRect(TRect{16, 8, 48, 40});

  s.clock = 400;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  g_drawn.clear();
  ASSERT_TRUE(rig.Drawer->Render(root.get()));
  EXPECT_EQ(g_drawn, (std::vector<std::string>{"a", "overlay"}));
  EXPECT_EQ(s.overlay->after, 1);

  // During the transition (no transition layer installed: the incoming
  // slide is drawn), then the overlay.
  s.clock = 1100;
  ASSERT_TRUE(root->Prepare(s.slides, s.overlay.get(), 3));
  g_drawn.clear();
  ASSERT_TRUE(rig.Drawer->Render(root.get()));
  EXPECT_EQ(g_drawn.back(), "overlay");
  EXPECT_EQ(s.b->filter_after, 1);

  // No overlay: the slide, and the hider colour around the show.
  s.clock = 2500;
  ASSERT_TRUE(root->Prepare(s.slides, nullptr, 3));
  g_drawn.clear();
  ASSERT_TRUE(rig.Frame([&](TDeviceDrawer* d) { d->Render(root.get()); }));
  EXPECT_EQ(g_drawn, std::vector<std::string>{"c"});
  rig.Dump("root_item_margins");
  EXPECT_EQ(rig.At(2, 2) & 0xFFFFFF, 0x808000u);     // margin
  EXPECT_EQ(rig.At(60, 44) & 0xFFFFFF, 0x808000u);   // margin
  EXPECT_EQ(rig.At(30, 20) & 0xFFFFFF, 0xFF0000u);   // the slide
}

TEST(MouseMoveDetector, FirstCallNeverMovesAndSmallMovesDoNotCount) {
  TMouseMoveDetector d;
  EXPECT_FALSE(d.Moved(500, 500));
  EXPECT_FALSE(d.Moved(503, 502));  // 5 pixels in all
  EXPECT_TRUE(d.Moved(503, 503));   // 6
  EXPECT_FALSE(d.Moved(501, 501));  // 4, measured from the new position
  EXPECT_TRUE(d.Moved(497, 497));
  TMouseMoveDetector far;
  EXPECT_FALSE(far.Moved(-2000000000, 2000000000));
  EXPECT_TRUE(far.Moved(2000000000, -2000000000));  // no overflow on huge jumps
}

TEST(MouseMoveDetector, IdleAfterTheIntervalWithoutMoves) {
  SetEngineClock(&FakeNow);
  g_now = 10000;
  TMouseMoveDetector d(1000);
  d.SetIdle(true);
  EXPECT_TRUE(d.IsIdle());
  d.SetIdle(false);  // restart: idle again one interval after the next check
  EXPECT_FALSE(d.IsIdle());
  g_now += 1000;
  EXPECT_FALSE(d.IsIdle());
  g_now += 1;
  EXPECT_TRUE(d.IsIdle());
  d.Moved(0, 0);
  d.Moved(10, 0);
  EXPECT_FALSE(d.IsIdle());
  SetEngineClock(nullptr);
}
