#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "VoRav/SysLock.h"
#include "VoRav/vxTime.h"
#include "VoRav/wpThreads2.h"

using namespace kav;

namespace {

std::mutex g_capture_lock;
std::vector<std::string> g_debug;
std::vector<std::string> g_shown;
Ref<TEvent> g_release;  // set when the debug output reports a slow stop

void CaptureDebug(std::string_view s) {
  std::lock_guard<std::mutex> guard(g_capture_lock);
  g_debug.emplace_back(s);
  if (g_release && s.find("did not stop within 3000 ms") != std::string_view::npos) g_release->SetEvent();
}
void CaptureDisplay(const std::string& text, const char* caption) {
  std::lock_guard<std::mutex> guard(g_capture_lock);
  g_shown.push_back(std::string(caption) + "|" + text);
}

class TLoopThread : public TThread {
 public:
  std::atomic<int> runs{0};
  Ref<TEvent> entered = MakeRef<TEvent>();

 protected:
  void Execute() override {
    ++runs;
    entered->SetEvent();
    while (!Terminated()) SleepMs(1);
  }
};

class TThrowingThread : public TThread {
 protected:
  void Execute() override { throw EStreamReadError(); }
};

// Checks, from inside Execute, what a thread may ask about itself.
class TSelfAskingThread : public TThread {
 public:
  std::atomic<bool> wait_for_self{true}, start_self{true}, running_self{false};

 protected:
  void Execute() override {
    wait_for_self = WaitFor(kInfinite);  // must not hang
    start_self = Start();
    running_self = IsRunning();
  }
};

std::atomic<bool> g_self_disposed{false};
Ref<TEvent> g_self_done;

// Drops the last reference to itself from inside Execute.
class TSelfFreeingThread : public TThread {
 protected:
  void Execute() override {
    Free();
    g_self_done->SetEvent();  // `this` is gone: touch nothing of it
  }
  void Dispose() override {
    g_self_disposed = true;
    TThread::Dispose();
  }
};

std::atomic<bool> g_stubborn_finished{false};

// Ignores Terminate until g_release is set.
class TStubbornThread : public TThread {
 public:
  Ref<TEvent> entered = MakeRef<TEvent>();

 protected:
  void Execute() override {
    entered->SetEvent();
    g_release->WaitForever();
    g_stubborn_finished = true;
  }
};

}  // namespace

TEST(Thread, StartStopAndRestart) {
  Ref<TLoopThread> t = MakeRef<TLoopThread>();
  EXPECT_TRUE(t->WaitFor(0));  // never started
  EXPECT_FALSE(t->IsRunning());
  EXPECT_FALSE(t->ExitCode().has_value());
  EXPECT_EQ(t->GetPriority(), kThreadPriorityErrorReturn);
  EXPECT_FALSE(t->SetPriority(kThreadPriorityNormal));

  ASSERT_TRUE(t->Start());
  EXPECT_TRUE(t->IsRunning());
  EXPECT_FALSE(t->Start());
  t->entered->WaitForever();
  EXPECT_FALSE(t->WaitFor(10));
  EXPECT_FALSE(t->ExitCode().has_value());
  EXPECT_TRUE(t->SetPriority(kThreadPriorityBelowNormal));
  EXPECT_EQ(t->GetPriority(), kThreadPriorityBelowNormal);
  EXPECT_FALSE(t->SetPriority(7));  // not a priority level

  t->Terminate();
  EXPECT_TRUE(t->WaitForever());
  EXPECT_FALSE(t->IsRunning());
  EXPECT_EQ(t->ExitCode(), 0);
  EXPECT_EQ(t->runs, 1);

  t->entered->ResetEvent();
  ASSERT_TRUE(t->Start());  // again after it ended
  EXPECT_FALSE(t->Terminated());
  t->entered->WaitForever();
  EXPECT_EQ(t->runs, 2);
  // Freeing a running thread stops it and waits for it.
}

TEST(Thread, EscapingExceptionIsReportedWithExitCodeOne) {
  auto old_debug = SetDebugOutputSink(CaptureDebug);
  auto old_display = SetErrorDisplay(CaptureDisplay);
  g_debug.clear();
  g_shown.clear();
  Ref<TThrowingThread> t = MakeRef<TThrowingThread>();
  ASSERT_TRUE(t->Start());
  EXPECT_TRUE(t->WaitForever());
  EXPECT_EQ(t->ExitCode(), 1);
  SetDebugOutputSink(old_debug);
  SetErrorDisplay(old_display);
  bool tagged = false;
  for (const auto& line : g_debug)
    if (line[0] == '$' && line.find(" Thread Exception at: ") != std::string::npos) tagged = true;
  EXPECT_TRUE(tagged);
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0].rfind("Application Error|Exception EStreamReadError  in module ", 0), 0u);
  EXPECT_NE(g_shown[0].find("Orvane Exception: \"EStreamReadError\""), std::string::npos);
}

TEST(Thread, AThreadAskingAboutItselfDoesNotHang) {
  Ref<TSelfAskingThread> t = MakeRef<TSelfAskingThread>();
  ASSERT_TRUE(t->Start());
  EXPECT_TRUE(t->WaitForever());
  EXPECT_FALSE(t->wait_for_self);
  EXPECT_FALSE(t->start_self);
  EXPECT_TRUE(t->running_self);
  EXPECT_EQ(t->ExitCode(), 0);
}

TEST(Thread, FreeingItselfFromExecute) {
  g_self_done = MakeRef<TEvent>();
  int32_t users_before = SysLockUsers();
  auto* t = new TSelfFreeingThread;  // the thread takes over this reference
  ASSERT_TRUE(t->Start());
  g_self_done->WaitForever();
  EXPECT_TRUE(g_self_disposed);
  while (SysLockUsers() > users_before) SleepMs(1);  // the thread has left
  g_self_done = nullptr;
}

TEST(Thread, FreeingWaitsPastTheLimitInsteadOfKilling) {
  auto old_debug = SetDebugOutputSink(CaptureDebug);
  g_debug.clear();
  g_release = MakeRef<TEvent>();
  g_stubborn_finished = false;
  auto* t = new TStubbornThread;
  ASSERT_TRUE(t->Start());
  t->entered->WaitForever();
  // Asks it to stop, reports after 3000 ms (the report sets g_release) and
  // goes on waiting until Execute has returned.
  t->Free();
  SetDebugOutputSink(old_debug);
  EXPECT_TRUE(g_stubborn_finished);
  bool reported = false;
  for (const auto& line : g_debug)
    if (line.find("TStubbornThread did not stop within 3000 ms, still waiting") != std::string::npos) reported = true;
  EXPECT_TRUE(reported);
  g_release = nullptr;
}
