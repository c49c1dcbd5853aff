#include <gtest/gtest.h>

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
  while (ElapsedSinceMs(start) < 40) {
    ASSERT_TRUE(CallLoadCallback(nullptr));
    const uint32_t now = GetLastYieldMs();
    if (now != last) {
      EXPECT_GE(now - last, 6u);  // never more often than the interval
      ++yields;
      last = now;
    }
    SleepMs(1);
  }
  EXPECT_GE(yields, 1);
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
