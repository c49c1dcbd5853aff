#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "KavLib2/KavEngine/KavThread.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/vxTime.h"
#include "tests/VoRav/Application2/AppTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

void QuietDisplay(const std::string&, const char*) {}

class TWorker : public TKavThread {
 public:
  std::atomic<int> starts{0}, stops{0}, steps{0}, events_handled{0};
  std::atomic<int> throw_at{-1};
  std::atomic<int> step_ms{1};
  std::vector<uint32_t> codes;  // worker thread only while it runs
  std::function<void()> in_step;

 protected:
  void OnStart() override { starts++; }
  void OnStop() override {
    stops++;
    TKavThread::OnStop();
  }
  void Step() override {
    EventList()->ProcessMessages();
    if (in_step) in_step();
    if (++steps == throw_at.load()) throw EConvertError("step failed");
    SleepMs(static_cast<uint32_t>(step_ms.load()));
  }
  void HandleEvent(TThreadEventList*, uint32_t code, bool& handled, TRefObject*) override {
    codes.push_back(code);
    handled = true;
    events_handled++;
  }
};

struct TParam : TRefObject {
  explicit TParam(std::atomic<int>* freed) : freed_(freed) {}
  void Dispose() override { (*freed_)++; TRefObject::Dispose(); }
  std::atomic<int>* freed_;
};

}  // namespace

TEST(KavThread, RunsStepsAndHandlesItsQueueUntilStopped) {
  Ref<TWorker> w = MakeRef<TWorker>();
  EXPECT_FALSE(w->Running());
  ASSERT_TRUE(w->Start());
  EXPECT_TRUE(w->Running());
  w->EventList()->PostEvent(kEngineMode, nullptr);
  w->EventList()->SendEvent(kEngineOpen, nullptr);  // returns once the worker handled it
  w->step_ms = 30;
  SleepMs(5);
  const uint32_t start = GetElapsedMs();
  w->Stop();
  EXPECT_LE(ElapsedSinceMs(start), 30000u);  // ends (within a step; generous for a loaded machine)
  EXPECT_FALSE(w->Running());
  EXPECT_EQ(w->starts.load(), 1);
  EXPECT_EQ(w->stops.load(), 1);
  EXPECT_EQ(w->codes, (std::vector<uint32_t>{kEngineMode, kEngineOpen}));
  // Stopped: the queue is closed, posts are dropped and their objects freed.
  std::atomic<int> freed{0};
  w->EventList()->PostEvent(kEngineMouse, new TParam(&freed));
  EXPECT_EQ(freed.load(), 1);
  w->EventList()->SendEvent(kEngineMouse, nullptr);  // returns at once
}

TEST(KavThread, ABodyThatRaisesStillRunsItsStopHandler) {
  ErrorDisplayProc previous = SetErrorDisplay(&QuietDisplay);
  Ref<TWorker> w = MakeRef<TWorker>();
  w->throw_at = 3;
  ASSERT_TRUE(w->Start());
  ASSERT_TRUE(w->WaitFor(5000));
  EXPECT_EQ(w->stops.load(), 1);
  EXPECT_FALSE(w->Running());
  EXPECT_EQ(w->ExitCode(), 1);
  w->Stop();  // returns at once
  SetErrorDisplay(previous);
}

TEST(KavThread, StoppingWakesASenderThatWaitsOnTheQueue) {
  Ref<TWorker> w = MakeRef<TWorker>();
  // Not started: nobody drains the queue, so a sender waits until the stop.
  std::atomic<bool> back{false};
  std::thread sender([&] {
    w->EventList()->SendEvent(kEngineOpen, nullptr);
    back = true;
  });
  while (w->EventList()->PendingCount() < 1) std::this_thread::yield();
  w->Stop();
  sender.join();
  EXPECT_TRUE(back.load());
}

// A loop with nothing to do sleeps on its queue: a message from another
// thread, or the stop, ends the sleep long before its limit.
TEST(KavThread, AMessageOrTheStopEndsAnIdleWait) {
  Ref<TWorker> w = MakeRef<TWorker>();
  std::atomic<int> waits{0};
  w->step_ms = 0;
  w->in_step = [&] {
    w->WaitForMessage(60000);
    waits++;
  };
  ASSERT_TRUE(w->Start());
  const uint32_t start = GetElapsedMs();
  w->EventList()->PostEvent(kEngineMode, nullptr);
  while (waits.load() < 1) SleepMs(1);
  EXPECT_LT(ElapsedSinceMs(start), 30000u);
  // The worker handles the message on its next turn, then sleeps again.
  while (w->events_handled.load() < 1 && ElapsedSinceMs(start) < 30000u) SleepMs(1);
  w->Stop();
  EXPECT_LT(ElapsedSinceMs(start), 30000u);
  EXPECT_FALSE(w->Running());
  EXPECT_EQ(w->codes, (std::vector<uint32_t>{kEngineMode}));
}

namespace {

class TTestEngine : public TCustomKavEngine {
 public:
  using TCustomKavEngine::TCustomKavEngine;
  std::function<void()> in_step;

 protected:
  void Step() override {
    EventList()->ProcessMessages();
    if (in_step) in_step();
    SleepMs(1);
  }
};

struct TSeen {
  int states = 0;
  std::vector<std::vector<int32_t>> times;
  std::vector<uint32_t> codes;
  std::u16string text;
  void State(TCustomKavEngine*) { states++; }
  void Time(TCustomKavEngine*, int32_t time, bool finished, int32_t duration) {
    times.push_back({time, finished, duration});
  }
  void Event(TCustomKavEngine*, TKavEventData* d) {
    codes.push_back(d->Code);
    if (d->Code == kGuiAction && d->Object) text = static_cast<TStrValue*>(d->Object)->Value;
  }
};

class KavEngineTest : public AppTest {
};

}  // namespace

TEST_F(KavEngineTest, RecordsReachTheirCallbacksOnTheGuiThread) {
  Ref<TTestEngine> engine = MakeRef<TTestEngine>(app.get());
  TSeen seen;
  engine->OnState = TKavStateEvent::Bind<&TSeen::State>(&seen);
  engine->OnTime = TKavTimeEvent::Bind<&TSeen::Time>(&seen);
  engine->OnEvent = TKavEngineEvent::Bind<&TSeen::Event>(&seen);
  EXPECT_EQ(engine->NextEventId(), 1);
  EXPECT_EQ(engine->NextEventId(), 2);
  std::atomic<int> freed{0};
  std::thread engine_side([&] {
    engine->PostEvent(kGuiState);
    engine->PostEvent(kGuiTime, {1, 500, 9000, 0});  // an older open request: dropped
    engine->PostEvent(kGuiTime, {2, 700, 9000, 1});
    engine->PostEvent(kGuiTime, {2});                 // short of its values: dropped
    engine->PostEvent(kGuiAction, {3, 4}, true, new TStrValue(u"http://x"));
    engine->PostEvent(kGuiImage, {}, true, new TParam(&freed));
    engine->PostEvent(kGuiWindowSize);  // no parameters: still delivered
  });
  engine_side.join();
  Drain();
  EXPECT_EQ(seen.states, 1);
  EXPECT_EQ(seen.times, (std::vector<std::vector<int32_t>>{{700, 1, 9000}}));
  EXPECT_EQ(seen.codes, (std::vector<uint32_t>{kGuiAction, kGuiImage, kGuiWindowSize}));
  EXPECT_EQ(seen.text, u"http://x");
  EXPECT_EQ(freed.load(), 1);
  // After the application's list closed, records are dropped and their objects freed.
  app->Finalize();
  engine->PostEvent(kGuiImage, {}, true, new TParam(&freed));
  EXPECT_EQ(freed.load(), 2);
  EXPECT_EQ(seen.codes.size(), 3u);
}

TEST_F(KavEngineTest, StoppingOnTheGuiThreadWhileTheEngineSendsToIt) {
  Ref<TTestEngine> engine = MakeRef<TTestEngine>(app.get());
  struct TCount {
    std::atomic<int> n{0};
    void On(TRefObject*, uint32_t, void*) { n++; }
  } count;
  const uint32_t id = app->AddHandlerNewId(TEventListHandler::Bind<&TCount::On>(&count));
  engine->in_step = [&] { app->SendEvent(id, nullptr); };
  ASSERT_TRUE(engine->Start());
  while (count.n.load() == 0) {
    TMsg m;
    while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) DispatchMessage(m);
  }
  const uint32_t start = GetElapsedMs();
  engine->Stop();  // the engine may be waiting in a send to this thread
  EXPECT_LT(ElapsedSinceMs(start), 5000u);
  EXPECT_FALSE(engine->Running());
}

TEST(KavEngine, AnEngineNeedsAnOwner) {
  EXPECT_THROW(MakeRef<TTestEngine>(nullptr), EAbort);
}
