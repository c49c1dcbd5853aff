#include <gtest/gtest.h>

#include <string>

#include "VoRav/vxAppPostman.h"
#include "VoRav/wpExceptions.h"

namespace kav {
namespace {

std::string g_reported;
void Record(const std::string& message, const char*, int) { g_reported = message; }

TEST(AppPostman, EmptyListGoesQuietlyAndALeftMessageIsReported) {
  AssertionHook old = SetAssertionHook(&Record);
  g_reported.clear();
  {
    auto p = MakeRef<TAppPostman>();
    p->Enter();
    EXPECT_EQ(p->Messages()->Count(), 0);
    p->Leave();
  }
  EXPECT_EQ(g_reported, "");

  static int message = 7;
  {
    auto p = MakeRef<TAppPostman>();
    p->Enter();
    p->Messages()->Add(&message);
    p->Leave();
  }  // reported, and the monitor is still cleaned up (no leak under ASan)
  EXPECT_NE(g_reported.find("Invalid Messages List at TAppPostman.Dispose"), std::string::npos);
  SetAssertionHook(old);
}

TEST(AppPostman, ProcessWideInstanceIsMadeOnFirstUseAndFreedOnRequest) {
  TAppPostman* first = AppPostman();
  EXPECT_EQ(AppPostman(), first);
  FreeAppPostman();
  EXPECT_NE(AppPostman(), nullptr);
  FreeAppPostman();
}

}  // namespace
}  // namespace kav
