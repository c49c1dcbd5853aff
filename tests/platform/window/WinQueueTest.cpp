#include <atomic>
#include <thread>

#include "VoRav/wpThreads2.h"
#include "WinTestUtil.h"

namespace kav::win {

TEST_F(WindowTest, PostedKeepOrderSentFromOtherThreadsComeFirstQuitAfterDrain) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW);
  recorder.Log.clear();
  PostMessage(h, WM_USER + 1, 0, 0);
  PostQuitMessage(3);
  PostMessage(h, WM_USER + 2, 0, 0);
  std::atomic<LRESULT> sent_result{0};
  std::thread sender([&] { sent_result = SendMessage(h, WM_USER + 9, 0, 0); });
  while (QueuedMessageCount() < 4) std::this_thread::yield();
  std::thread notifier([&] { EXPECT_TRUE(SendNotifyMessage(h, WM_USER + 8, 0, 0)); });
  notifier.join();
  recorder.Hook = [](HWND, uint32_t m, WPARAM, LPARAM, LRESULT& r) {
    if (m == WM_USER + 9) { r = 77; return true; }
    return false;
  };
  TMsg m;
  std::vector<uint32_t> got;
  while (GetMessage(&m, 0, 0, 0)) {
    got.push_back(m.message);
    DispatchMessage(m);
  }
  sender.join();
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(sent_result.load(), 77);
  // The sent and notify messages ran inside GetMessage, before the posted ones.
  EXPECT_EQ(recorder.Messages({WM_USER + 1, WM_USER + 2, WM_USER + 8, WM_USER + 9}),
            (std::vector<uint32_t>{WM_USER + 9, WM_USER + 8, WM_USER + 1, WM_USER + 2}));
  EXPECT_EQ(got, (std::vector<uint32_t>{WM_USER + 1, WM_USER + 2}));
}

TEST_F(WindowTest, SendOnTheGuiThreadIsADirectReentrantCall) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW);
  int depth = 0, max_depth = 0;
  recorder.Hook = [&](HWND hw, uint32_t m, WPARAM w, LPARAM, LRESULT& r) {
    if (m != WM_USER) return false;
    ++depth;
    max_depth = std::max(max_depth, depth);
    r = w == 0 ? 1 : 1 + SendMessage(hw, WM_USER, w - 1, 0);
    --depth;
    return true;
  };
  EXPECT_EQ(SendMessage(h, WM_USER, 4, 0), 5);
  EXPECT_EQ(max_depth, 5);
  EXPECT_EQ(QueuedMessageCount(), 0);
}

TEST_F(WindowTest, ThreadQuitMessageComesInOrderAndPeekLeavesLaterMessages) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW);
  PostMessage(h, WM_USER + 1, 0, 0);
  std::thread([&] { EXPECT_TRUE(PostThreadMessage(MainThreadId(), WM_QUIT, 0, 0)); }).join();
  PostMessage(h, WM_USER + 2, 0, 0);
  EXPECT_FALSE(PostThreadMessage(MainThreadId() + 1, WM_USER, 0, 0));
  EXPECT_EQ(Drain(), (std::vector<uint32_t>{WM_USER + 1, WM_QUIT}));
  EXPECT_EQ(QueuedMessageCount(), 1);
  TMsg m;
  EXPECT_TRUE(PeekMessage(&m, 0, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 2u);
  EXPECT_EQ(QueuedMessageCount(), 1);
}

TEST_F(WindowTest, SendsToAGoneWindowOrClosedQueueNeverWait) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW);
  std::atomic<int> returned{0};
  std::thread waiting([&] {
    SendMessage(h, WM_USER, 0, 0);  // queued; the window goes before it runs
    returned++;
  });
  while (QueuedMessageCount() < 1) std::this_thread::yield();
  DestroyWindow(h);
  waiting.join();
  EXPECT_EQ(returned.load(), 1);
  std::thread([&] {
    EXPECT_EQ(SendMessage(h, WM_USER, 0, 0), 0);  // stale id: at once
    EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
    EXPECT_FALSE(SendNotifyMessage(h, WM_USER, 0, 0));
  }).join();
  // A sender waiting when the system shuts down returns too.
  HWND h2 = MakeTop(WS_OVERLAPPEDWINDOW);
  std::thread late([&] { SendMessage(h2, WM_USER, 0, 0); returned++; });
  while (QueuedMessageCount() < 1) std::this_thread::yield();
  DoneWindowSystem();
  late.join();
  EXPECT_EQ(returned.load(), 2);
}

TEST_F(WindowTest, TimersMergeAndComeAfterPostedAndPaint) {
  backend->SetManualClock(1000);
  HWND h = MakeTop();
  Drain();
  ASSERT_EQ(SetTimer(h, 7, 100), 1u);
  EXPECT_TRUE(Drain().empty());
  backend->Advance(350);  // three and a half intervals: one WM_TIMER
  InvalidateRect(h, nullptr, false);
  InvalidateRect(h, nullptr, false);
  PostMessage(h, WM_USER, 0, 0);
  EXPECT_EQ(Drain(), (std::vector<uint32_t>{WM_USER, WM_PAINT, WM_TIMER}));
  backend->Advance(99);
  EXPECT_TRUE(Drain().empty());
  backend->Advance(1);
  EXPECT_EQ(Drain(), (std::vector<uint32_t>{WM_TIMER}));
  EXPECT_TRUE(KillTimer(h, 7));
  EXPECT_FALSE(KillTimer(h, 7));
  backend->Advance(1000);
  EXPECT_TRUE(Drain().empty());
  // A timer of a window that goes goes with it.
  SetTimer(h, 8, 10);
  DestroyWindow(h);
  backend->Advance(20);
  EXPECT_TRUE(Drain().empty());
}

TEST_F(WindowTest, GetMessageWaitsForAPostFromAnotherThread) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW);
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PostMessage(h, WM_USER + 5, 1, 2);
  });
  TMsg m;
  ASSERT_TRUE(GetMessage(&m, 0, 0, 0));
  poster.join();
  EXPECT_EQ(m.message, WM_USER + 5u);
  EXPECT_EQ(m.hwnd, h);
  EXPECT_EQ(m.lParam, 2);
}

TEST_F(WindowTest, ManyThreadsPostAndSendWhileTheGuiThreadPumps) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW);
  std::atomic<int> handled{0};
  recorder.Hook = [&](HWND, uint32_t m, WPARAM, LPARAM, LRESULT& r) {
    if (m == WM_USER) { handled++; r = 1; return true; }
    return false;
  };
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        if ((i + t) % 3 == 0) EXPECT_EQ(SendMessage(h, WM_USER, 0, 0), 1);
        else PostMessage(h, WM_USER, 0, 0);
      }
      done++;
    });
  while (done.load() < 6 || QueuedMessageCount() > 0) {
    TMsg m;
    while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) DispatchMessage(m);
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(handled.load(), 1200);
}

}  // namespace kav::win
