// GetForegroundWindow from another thread while the GUI thread switches the
// active window (the engine asks whether the player is in front): it always
// answers one of the windows or none (under ThreadSanitizer: no race).
#include <atomic>
#include <thread>

#include "WinTestUtil.h"

namespace kav::win {
namespace {

TEST_F(WindowTest, ForegroundWindowIsReadableFromAnyThread) {
  const HWND a = MakeTop();
  const HWND b = MakeTop();
  ASSERT_TRUE(a && b);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::atomic<bool> stray{false};
  std::thread engine([&] {
    while (!done.load()) {
      const HWND fg = GetForegroundWindow();
      if (fg != a && fg != b && fg != 0) stray = true;
      reads.fetch_add(1);
      std::this_thread::yield();
    }
  });
  // Keep switching until the other thread has read a good number of times
  // (a loaded machine may start it late), at most a generous number of turns.
  for (int i = 0; i < 20000 && (i < 2000 || reads.load() < 200); ++i) {
    SetActiveWindow(i % 3 == 2 ? 0 : (i % 2 ? a : b));
    if (i % 64 == 0) std::this_thread::yield();
  }
  done = true;
  engine.join();
  EXPECT_FALSE(stray.load());
  EXPECT_GT(reads.load(), 0);
  SetActiveWindow(a);
  EXPECT_EQ(GetForegroundWindow(), a);
  // Off the GUI thread the active window is not answered; the foreground one is.
  HWND active = 1, fg = 0;
  std::thread([&] { active = GetActiveWindow(), fg = GetForegroundWindow(); }).join();
  EXPECT_EQ(active, 0u);
  EXPECT_EQ(fg, a);
}

}  // namespace
}  // namespace kav::win
