// Monitors and active worker threads. No timing is asserted: sleeps only
// give a wrong implementation the chance to show itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "VoRav/vxMonitors.h"
#include "VoRav/wpThreads2.h"

using namespace kav;

namespace {

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A procedure bound to a context object.
template <class F>
TActiveProc ProcOf(F* f) {
  return TActiveProc::FromFunction([](void* ctx, void* param) { (*static_cast<F*>(ctx))(param); }, f);
}

}  // namespace

TEST(Monitors, NestingAndWait) {
  auto m = MakeRef<TMonitor>();
  std::atomic<bool> got{false};
  m->Enter();
  m->Enter();
  m->Enter();
  m->Leave();
  m->Leave();  // still held once
  std::thread other([&] {
    m->Enter();
    got = true;
    m->Leave();
  });
  Pause(30);
  EXPECT_FALSE(got.load());
  m->Leave();
  other.join();
  EXPECT_TRUE(got.load());

  // Wait gives the monitor up, returns once another thread has entered, and
  // restores the waiter's nesting.
  m->Enter();
  m->Enter();
  std::atomic<bool> entered{false};
  std::thread poker([&] {
    m->Enter();  // possible only while the main thread waits
    entered = true;
    m->Leave();
  });
  m->Wait();
  EXPECT_EQ(m->EnterCount(), 2);
  EXPECT_TRUE(entered.load());
  m->Leave();
  m->Leave();
  poker.join();
}

TEST(Monitors, ConditionLoopsLoseNoWakeUp) {
  auto m = MakeRef<TMonitor>();
  int produced = 0;
  const int kTotal = 2000;
  std::vector<std::thread> consumers;
  std::atomic<int> finished{0};
  for (int c = 0; c < 3; ++c)
    consumers.emplace_back([&] {
      m->Enter();
      while (produced < kTotal) m->Wait();
      m->Leave();
      ++finished;
    });
  for (int i = 0; i < kTotal; ++i) {
    m->Enter();
    ++produced;
    if (i % 100 == 0) m->SleepUnlocked(0);
    m->Leave();
  }
  // Waiters wake on entries; keep entering until all have seen the end.
  while (finished.load() < 3) {
    m->Enter();
    m->Leave();
    std::this_thread::yield();
  }
  for (auto& t : consumers) t.join();
}

// Asked to stop, the worker thread's own stop flag is set too (long work
// deep inside it looks at that alone).
TEST(ActiveMonitor, RunsOnceAndStopsOnRequest) {
  auto m = MakeRef<TActiveMonitor>();
  std::atomic<int> rounds{0};
  std::atomic<int> flag_before{-1}, flag_after{-1};
  auto body = [&](void* param) {
    auto* self = static_cast<TActiveMonitor*>(param);
    self->Enter();
    flag_before = CurrentThreadStopRequested();
    while (!self->TerminateRequested()) {
      ++rounds;
      self->SleepUnlocked(1);
    }
    flag_after = CurrentThreadStopRequested();
    self->Leave();
  };
  EXPECT_EQ(m->State(), TActiveMonitor::kNoWorker);
  m->WaitFor();  // no worker: returns at once
  ASSERT_TRUE(m->Run(ProcOf(&body), m.get(), false));
  EXPECT_EQ(ActiveThreadCount(), 1);
  EXPECT_FALSE(m->Run(ProcOf(&body), m.get(), false));  // one worker per monitor
  while (rounds.load() < 3) Pause(1);
  m->Terminate();
  m->WaitFor();
  EXPECT_EQ(m->State(), TActiveMonitor::kDone);
  EXPECT_EQ(flag_before.load(), 0);
  EXPECT_EQ(flag_after.load(), 1);
  m->WaitFor();  // finished: returns at once
  EXPECT_FALSE(m->Run(ProcOf(&body), m.get(), false));  // not even after it finished
  m = nullptr;
  EXPECT_EQ(WaitForActiveThreads(60000), 0);
}

TEST(ActiveMonitor, InsideRunHoldsOthersOut) {
  auto m = MakeRef<TActiveMonitor>();
  auto go = MakeRef<TEvent>();
  std::atomic<bool> started{false}, done{false}, done_seen_by_other{false};
  auto body = [&](void*) {
    started = true;
    go->WaitForever();
    done = true;
  };
  ASSERT_TRUE(m->Run(ProcOf(&body), nullptr, true));
  std::thread other([&] {
    m->Enter();  // waits for the whole procedure
    done_seen_by_other = done.load();
    m->Leave();
  });
  while (!started.load()) Pause(1);
  Pause(30);
  go->SetEvent();
  other.join();
  EXPECT_TRUE(done_seen_by_other.load());
  m->WaitFor();
  EXPECT_EQ(m->State(), TActiveMonitor::kDone);
  m = nullptr;
  EXPECT_EQ(WaitForActiveThreads(60000), 0);
}

TEST(ActiveMonitor, FinishesWhenTheProcedureRaisesOrOutlivesItsOwner) {
  ErrorDisplayProc old = SetErrorDisplay([](const std::string&, const char*) {});
  {
    auto m = MakeRef<TActiveMonitor>();
    auto body = [](void*) { throw EAbort("worker failed"); };
    ASSERT_TRUE(m->Run(ProcOf(&body), nullptr, true));
    m->WaitFor();  // returns although the procedure raised
    EXPECT_EQ(m->State(), TActiveMonitor::kDone);
  }
  EXPECT_EQ(WaitForActiveThreads(60000), 0);
  // The owner lets go while the worker still runs: the worker's reference
  // keeps the monitor, and its last release frees both.
  auto go = MakeRef<TEvent>();
  auto body = [&](void*) { go->WaitForever(); };
  {
    auto m = MakeRef<TActiveMonitor>();
    ASSERT_TRUE(m->Run(ProcOf(&body), nullptr, false));
  }
  EXPECT_EQ(ActiveThreadCount(), 1);
  go->SetEvent();
  EXPECT_EQ(WaitForActiveThreads(60000), 0);
  SetErrorDisplay(old);
}
