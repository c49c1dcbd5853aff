#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

#include "VoRav/Win32/winPriorityClass.h"
#include "VoRav/vxTime.h"
#include "VoRav/wpLoadCallBack.h"

using namespace kav;

namespace {

// Puts the global mode back to 0 whatever a test did.
struct ModeGuard {
  ~ModeGuard() { SetLoadCallbackMode(0); }
};

}  // namespace

TEST(LoadCallBack, ModesAnswerAndStopSwitchesBack) {
  ModeGuard guard;
  EXPECT_EQ(GetLoadCallbackMode(), 0);
  EXPECT_TRUE(CallLoadCallback(nullptr));
  SetLoadCallbackMode(3);
  EXPECT_FALSE(CallLoadCallback(nullptr));
  EXPECT_FALSE(GetLoadCallback()(nullptr));  // every loop stops at its next call
  SetLoadCallbackMode(0);
  EXPECT_TRUE(CallLoadCallback(nullptr));
  SetLoadCallbackMode(1);
  EXPECT_TRUE(CallLoadCallback(nullptr));
  EXPECT_THROW(SetLoadCallbackMode(4), EAbort);
  EXPECT_EQ(GetLoadCallbackMode(), 1);
}

TEST(LoadCallBack, YieldsAtMostEverySixMilliseconds) {
  ModeGuard guard;
  SetLoadCallbackMode(1);
  uint32_t last = GetLastYieldMs();
  int yields = 0;
  const uint32_t start = GetElapsedMs();
  // Until a few yields came (30 s at most: a loaded machine runs the loop
  // seldom; the interval is a lower bound only).
  while (yields < 3 && ElapsedSinceMs(start) < 30000) {
    ASSERT_TRUE(CallLoadCallback(nullptr));
    const uint32_t now = GetLastYieldMs();
    if (now != last) {
      EXPECT_GE(now - last, 6u);  // never more often than the interval
      ++yields;
      last = now;
    }
    SleepMs(1);
  }
  EXPECT_GE(yields, 3);
}

TEST(LoadCallBack, PriorityClassFollowsModeTwo) {
  ModeGuard guard;
  SetLoadCallbackMode(2);
  EXPECT_EQ(GetProcessPriorityClass(), kHighPriorityClass);
  EXPECT_TRUE(CallLoadCallback(nullptr));
  SetLoadCallbackMode(1);  // leaving mode 2 restores the normal class
  EXPECT_EQ(GetProcessPriorityClass(), kNormalPriorityClass);

  // Switching between modes other than 2 leaves a class set elsewhere alone.
  SetProcessPriorityClass(kHighPriorityClass);
  SetLoadCallbackMode(0);
  EXPECT_EQ(GetProcessPriorityClass(), kHighPriorityClass);
  SetProcessPriorityClass(kNormalPriorityClass);
}

TEST(PriorityClass, ALoweredThreadStaysBelowTheOthersWhenTheClassIsRaised) {
  auto nice_of = [](id_t tid) {
    errno = 0;
    return getpriority(PRIO_PROCESS, tid);
  };
  const id_t self = static_cast<id_t>(gettid());
  const int main_before = nice_of(self);
  std::atomic<id_t> tid{0};
  std::atomic<bool> done{false};
  std::thread background([&] {
    ASSERT_TRUE(LowerCallingThreadPriority(5));
    tid = static_cast<id_t>(gettid());
    while (!done.load()) SleepMs(1);
  });
  while (tid.load() == 0) SleepMs(1);
  const int lowered = nice_of(tid.load());
  EXPECT_EQ(lowered, std::min(main_before + 5, 19));
  // Raising needs privileges; where it is allowed every thread moves by the
  // same steps, so the lowered one keeps its distance.
  if (SetProcessPriorityClass(kHighPriorityClass)) {
    EXPECT_LT(nice_of(self), main_before);
    EXPECT_EQ(nice_of(tid.load()) - nice_of(self), lowered - main_before);
  }
  SetProcessPriorityClass(kNormalPriorityClass);
  EXPECT_EQ(nice_of(self), main_before);
  EXPECT_EQ(nice_of(tid.load()), lowered);
  done = true;
  background.join();
}
