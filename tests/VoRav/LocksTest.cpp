#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VoRav/SysLock.h"
#include "VoRav/wpLocks.h"

using namespace kav;

namespace {

std::mutex g_debug_lock;
std::vector<std::string> g_debug;
void CaptureDebug(std::string_view s) {
  std::lock_guard<std::mutex> guard(g_debug_lock);
  g_debug.emplace_back(s);
}

}  // namespace

TEST(Locks, SafeCriticalSectionTakesOverFromADeadOwner) {
  Ref<TSafeCriticalSection> cs = MakeRef<TSafeCriticalSection>();
  std::thread([&] { cs->Enter(); cs->Enter(); }).join();  // ends holding it twice
  EXPECT_FALSE(cs->Abandoned());
  cs->Enter();
  EXPECT_TRUE(cs->Abandoned());
  cs->Enter();  // re-entrant
  cs->Leave();
  cs->Leave();
  // Free again: another thread gets it.
  bool entered = false;
  std::thread([&] { cs->Enter(); entered = true; cs->Leave(); }).join();
  EXPECT_TRUE(entered);
}

TEST(Locks, MutexIsReentrantAndStaysAbandoned) {
  Ref<TMutex> m = MakeRef<TMutex>();
  bool abandoned = true;
  EXPECT_TRUE(m->WaitFor(0, abandoned));
  EXPECT_FALSE(abandoned);
  EXPECT_TRUE(m->Enter());
  std::thread([&] {
    bool ab = true;
    EXPECT_FALSE(m->WaitFor(0, ab));  // held by the main thread
    EXPECT_FALSE(ab);
    EXPECT_FALSE(m->WaitFor(5, ab));
    EXPECT_FALSE(m->Release());  // not the owner
  }).join();
  EXPECT_TRUE(m->Release());
  EXPECT_TRUE(m->Release());
  EXPECT_FALSE(m->Release());

  std::thread([&] { EXPECT_TRUE(m->WaitFor(0)); }).join();  // ends holding it
  EXPECT_FALSE(m->WaitFor(kInfinite, abandoned));
  EXPECT_TRUE(abandoned);
  EXPECT_TRUE(m->Abandoned());
  // Found abandoned once, every later wait fails at once.
  abandoned = false;
  EXPECT_FALSE(m->WaitFor(kInfinite, abandoned));
  EXPECT_TRUE(abandoned);
  // The raw handle was released after the abandoned wait: it is free.
  EXPECT_EQ(m->Handle()->Wait(0), TOSMutex::kWaitAcquired);
  EXPECT_TRUE(m->Handle()->Release());
}

TEST(Locks, ManualResetEvent) {
  Ref<TEvent> e = MakeRef<TEvent>();
  EXPECT_FALSE(e->WaitFor(0));
  EXPECT_FALSE(e->WaitFor(5));
  std::thread setter([&] { e->SetEvent(); });
  EXPECT_TRUE(e->WaitForever());
  setter.join();
  EXPECT_TRUE(e->WaitFor(0));  // stays set until reset
  EXPECT_TRUE(e->ResetEvent());
  EXPECT_FALSE(e->WaitFor(0));
}

TEST(Locks, AtomicOperationsReturnTheDocumentedValues) {
  int32_t v = 5;
  EXPECT_EQ(AtomicIncrement(v), 6);
  EXPECT_EQ(AtomicDecrement(v), 5);
  EXPECT_EQ(AtomicExchange(v, 9), 5);
  EXPECT_EQ(v, 9);
  EXPECT_EQ(AtomicCompareExchange(v, 1, 7), 9);  // not equal: unchanged
  EXPECT_EQ(v, 9);
  EXPECT_EQ(AtomicCompareExchange(v, 1, 9), 9);  // equal: stored
  EXPECT_EQ(v, 1);
  Ref<TInterlockedCounter> c = MakeRef<TInterlockedCounter>(10);
  EXPECT_EQ(c->Increment(), 11);
}

TEST(Locks, ClosingAMutexHeldElsewhereLeavesItOpen) {
  auto old = SetDebugOutputSink(CaptureDebug);
  g_debug.clear();
  TMutexHandle h = CreateMutexHandle(false);
  Ref<TEvent> held = MakeRef<TEvent>(), done = MakeRef<TEvent>();
  std::thread owner([&] {
    EXPECT_EQ(h->Wait(kInfinite), TOSMutex::kWaitAcquired);
    held->SetEvent();
    done->WaitForever();
  });
  held->WaitForever();
  CloseMutexHandle(h);  // must not free memory the owner's thread still uses
  done->SetEvent();
  owner.join();
  SetDebugOutputSink(old);
  ASSERT_EQ(g_debug.size(), 1u);
  EXPECT_NE(g_debug[0].find("left open"), std::string::npos);

  // Closing a handle the caller holds several times over frees it cleanly.
  TMutexHandle mine = CreateMutexHandle(true);
  EXPECT_EQ(mine->Wait(0), TOSMutex::kWaitAcquired);
  CloseMutexHandle(mine);
  CloseMutexHandle(nullptr);
}

TEST(LockTable, AcceptsAbandonedLocks) {
  TMutexHandle h = nullptr;
  SysLockCreate(h);
  ASSERT_NE(h, nullptr);
  EXPECT_GE(SysLockCount(), 1);
  std::thread([h] { LockWait(h); }).join();  // ends holding it
  LockWait(h);  // accepted, now held here
  LockWait(h);
  LockRelease(h);
  LockRelease(h);
  EXPECT_EQ(h->Wait(0), TOSMutex::kWaitAcquired);
  LockRelease(h);

  EXPECT_THROW(LockWait(nullptr), EAbort);
  EXPECT_GE(SysLockTime(), 0);
}

TEST(LockTable, ShutdownRefusesNewUsers) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Shutdown is for good, so it runs in a child process.
  EXPECT_EXIT(
      {
        TMutexHandle h = nullptr;
        SysLockCreate(h);
        bool ok = CoInitializeOnce() && SysLockUsers() == 1;
        CoUninitializeOnce();
        // A user that does not leave makes shutdown give up and leave the locks open.
        ok = ok && CoInitializeOnce() && !SysLockShutdown(20) && SysLockCount() == 0;
        CoUninitializeOnce();
        ok = ok && !CoInitializeOnce() && SysLockUsers() == 0;
        ok = ok && SysLockShutdown(20);
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
