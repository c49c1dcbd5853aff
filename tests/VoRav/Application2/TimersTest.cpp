#include <gtest/gtest.h>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winTimer.h"
#include "tests/VoRav/Application2/AppTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

class TimersTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    backend->SetManualClock(10000);
  }
  void TearDown() override {
    FreeMultiTimer();
    AppTest::TearDown();
  }
};

struct TFires {
  std::vector<intptr_t> tags;
  std::vector<uint32_t> missed;
  int timer_calls = 0;
  TMultiTimerEvent** remove_me = nullptr;
  TMultiTimerEvent** remove_other = nullptr;
  void On(TTimerEvent* e) {
    tags.push_back(e->Tag);
    missed.push_back(e->MissedCount);
    if (remove_me && *remove_me == e) MultiTimerRemoveEvent(*remove_me);
    if (remove_other && *remove_other) MultiTimerRemoveEvent(*remove_other);
  }
  void Timer(TRefObject*) { timer_calls++; }
};

}  // namespace

TEST_F(TimersTest, WindowTimerHoldsATimerOnlyWhenItCanFire) {
  TFires f;
  Ref<TTimer> t = MakeRef<TTimer>();
  EXPECT_EQ(t->GetInterval(), 1000u);
  t->SetEnabled(true);
  EXPECT_FALSE(t->Armed());  // no handler
  t->SetOnTimer(TNotifyEvent::Bind<&TFires::Timer>(&f));
  EXPECT_TRUE(t->Armed());
  t->SetInterval(0);
  EXPECT_FALSE(t->Armed());
  t->SetInterval(50);
  EXPECT_TRUE(t->Armed());
  backend->Advance(50);
  Drain();
  EXPECT_EQ(f.timer_calls, 1);
  backend->Advance(175);  // late: one call
  Drain();
  EXPECT_EQ(f.timer_calls, 2);
  t->SetEnabled(false);
  EXPECT_FALSE(t->Armed());
  backend->Advance(500);
  Drain();
  EXPECT_EQ(f.timer_calls, 2);
}

// Events handled in the last pass of shutdown may still start timers (the
// player's mouse monitor does when the engine reports its state): with the
// application window gone they stay off, and nothing raises.
TEST_F(TimersTest, TimersStartedDuringShutdownStayOff) {
  TFires f;
  app->Finalize();
  Ref<TTimer> t = MakeRef<TTimer>();
  t->SetOnTimer(TNotifyEvent::Bind<&TFires::Timer>(&f));
  EXPECT_NO_THROW(t->SetEnabled(true));
  EXPECT_FALSE(t->Armed());
  TMultiTimerEvent* e = nullptr;
  EXPECT_NO_THROW(e = MultiTimerAddEvent(20, 1, TTimerEventHandler::Bind<&TFires::On>(&f)));
  MultiTimerRemoveEvent(e);
}

TEST_F(TimersTest, ALateTickFiresOnceAndCountsTheMissedIntervals) {
  TFires f;
  TMultiTimerEvent* e = MultiTimerAddEvent(100, 7, TTimerEventHandler::Bind<&TFires::On>(&f));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(GlobalMultiTimer()->PlatformTimer()->GetInterval(), 100u);
  backend->Advance(350);
  Drain();
  EXPECT_EQ(f.tags, (std::vector<intptr_t>{7}));
  EXPECT_EQ(f.missed, (std::vector<uint32_t>{2}));
  EXPECT_EQ(e->FireCount, 3u);
  EXPECT_EQ(e->NextDue, 10400u);  // in the future again
  EXPECT_EQ(GlobalMultiTimer()->PlatformTimer()->GetInterval(), 50u);
  MultiTimerRemoveEvent(e);
  EXPECT_EQ(e, nullptr);
  EXPECT_FALSE(GlobalMultiTimer()->PlatformTimer()->GetEnabled());
  EXPECT_EQ(MultiTimerAddEvent(0, 1, TTimerEventHandler::Bind<&TFires::On>(&f)), nullptr);
  EXPECT_EQ(MultiTimerAddEvent(10, 1, nullptr), nullptr);
}

TEST_F(TimersTest, ThePlatformTimerFollowsTheNearestDueTimeUpAndDown) {
  TFires f;
  TMultiTimerEvent* fast = MultiTimerAddEvent(20, 1, TTimerEventHandler::Bind<&TFires::On>(&f));
  TMultiTimerEvent* slow = MultiTimerAddEvent(1000, 2, TTimerEventHandler::Bind<&TFires::On>(&f));
  TCustomTimer* platform = GlobalMultiTimer()->PlatformTimer();
  EXPECT_EQ(platform->GetInterval(), 20u);  // the later event does not slow the fast one
  for (int i = 0; i < 5; ++i) {
    backend->Advance(20);
    Drain();
  }
  EXPECT_EQ(f.tags.size(), 5u);
  MultiTimerRemoveEvent(fast);
  backend->Advance(20);
  Drain();  // the tick finds nothing due and re-arms to the slow event
  EXPECT_EQ(platform->GetInterval(), 1000u - 120u);
  TMultiTimerEvent* mid = MultiTimerAddEvent(30, 3, TTimerEventHandler::Bind<&TFires::On>(&f));
  EXPECT_EQ(platform->GetInterval(), 30u);
  MultiTimerRemoveEvent(mid);
  MultiTimerRemoveEvent(slow);
  EXPECT_FALSE(platform->GetEnabled());
}

TEST_F(TimersTest, HandlersMayRemoveThemselvesAndOthersDuringATick) {
  TFires f;
  TMultiTimerEvent* a = MultiTimerAddEvent(10, 1, TTimerEventHandler::Bind<&TFires::On>(&f));
  TMultiTimerEvent* b = MultiTimerAddEvent(10, 2, TTimerEventHandler::Bind<&TFires::On>(&f));
  TMultiTimerEvent* c = MultiTimerAddEvent(10, 3, TTimerEventHandler::Bind<&TFires::On>(&f));
  f.remove_me = &a;      // a goes inside its own call
  f.remove_other = &b;   // and takes b along before b's turn
  backend->Advance(10);
  Drain();
  EXPECT_EQ(f.tags, (std::vector<intptr_t>{1, 3}));
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(GlobalMultiTimer()->EventCount(), 1);
  f.remove_me = nullptr;
  f.remove_other = nullptr;
  MultiTimerRemoveEvent(c);
  EXPECT_EQ(GlobalMultiTimer()->EventCount(), 0);
}
