#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "VoRav/Application2/winAppEventList.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

struct TData : TRefObject {
  explicit TData(std::atomic<int>* freed) : freed_(freed) {}
  void Dispose() override { (*freed_)++; TRefObject::Dispose(); }
  std::atomic<int>* freed_;
};

struct THandler {
  std::vector<uint32_t> ids;
  std::vector<void*> data;
  TRefObject* sender = nullptr;
  void On(TRefObject* s, uint32_t id, void* p) {
    sender = s;
    ids.push_back(id);
    data.push_back(p);
  }
};

// A window standing for the application window: its procedure lets the hook
// manager run the hooks filed under the owner list.
class AppEventListTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    owner = MakeRef<TEventList>(4096);
    owner->AddHandler(1, TEventListHandler::Bind<&THandler::On>(&handler));
    owner->AddHandler(2, TEventListHandler::Bind<&THandler::On>(&handler));
    recorder.Hook = [this](HWND h, uint32_t m, WPARAM w, LPARAM l, LRESULT& r) {
      TMessageRecord rec{m, w, l, 0};
      bool handled = false;
      HookManager()->CallHooks(owner.get(), h, rec, handled);
      r = rec.Result;
      return handled;
    };
    window = MakeTop(WS_OVERLAPPEDWINDOW);
    wake = MakeRef<TEvent>();
    list = MakeRef<TWinAppEventList>(owner.get(), wake.get());
  }
  void TearDown() override {
    list->Close();
    list = nullptr;
    WindowTest::TearDown();
  }
  Ref<TEventList> owner;
  THandler handler;
  HWND window = 0;
  Ref<TEvent> wake;
  Ref<TWinAppEventList> list;
};

}  // namespace

TEST_F(AppEventListTest, PostedEventsRunInOrderOnTheGuiThreadAndFreeTheirData) {
  std::atomic<int> freed{0};
  TData* d1 = new TData(&freed);
  list->PostEvent(window, 1, d1);
  std::thread([&] { list->PostEvent(window, 2, nullptr); }).join();
  EXPECT_TRUE(wake->WaitFor(0));
  EXPECT_EQ(list->PendingCount(), 2);
  EXPECT_TRUE(handler.ids.empty());
  Drain();
  EXPECT_EQ(handler.ids, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(handler.data[0], d1);
  EXPECT_EQ(handler.sender, list.get());
  EXPECT_EQ(freed.load(), 1);
}

TEST_F(AppEventListTest, SendFromTheGuiThreadRunsInsideTheCall) {
  std::atomic<int> freed{0};
  TData* d = new TData(&freed);
  list->SendEvent(window, 2, d);
  EXPECT_EQ(handler.ids, (std::vector<uint32_t>{2}));
  EXPECT_EQ(freed.load(), 0);  // the data stays the caller's
  d->Free();
  EXPECT_EQ(list->PendingCount(), 0);
}

TEST_F(AppEventListTest, SendFromAWorkerOvertakesPostsAndWaits) {
  list->PostEvent(window, 1, nullptr);
  std::atomic<bool> back{false};
  std::thread worker([&] {
    list->SendEvent(window, 2, nullptr);
    back = true;
  });
  while (QueuedMessageCount() < 2) std::this_thread::yield();
  EXPECT_FALSE(back.load());
  Drain();
  worker.join();
  EXPECT_TRUE(back.load());
  EXPECT_EQ(handler.ids, (std::vector<uint32_t>{2, 1}));
}

TEST_F(AppEventListTest, PendingRunFrontFirstAndCloseRefusesAndReleases) {
  std::atomic<int> freed{0};
  list->PostEvent(window, 1, new TData(&freed));
  DestroyWindow(window);  // its queued messages go with it
  list->PostEvent(window, 2, nullptr);  // the post fails: stays pending
  EXPECT_EQ(list->PendingCount(), 2);
  list->ProcessPending();
  EXPECT_EQ(handler.ids, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(freed.load(), 1);
  list->Close();
  list->PostEvent(window, 1, new TData(&freed));  // freed at once, nothing runs
  EXPECT_EQ(freed.load(), 2);
  TData* kept = new TData(&freed);
  list->SendEvent(window, 1, kept);  // returns at once, data untouched
  EXPECT_EQ(freed.load(), 2);
  kept->Free();
  EXPECT_EQ(handler.ids.size(), 2u);
}

TEST_F(AppEventListTest, ClosingReleasesASenderWaitingForAPendingEvent) {
  std::atomic<int> freed{0};
  TData* kept = new TData(&freed);
  std::atomic<bool> back{false};
  std::thread worker([&] {
    list->SendEvent(window, 1, kept);
    back = true;
  });
  while (list->PendingCount() < 1) std::this_thread::yield();
  list->Close();
  worker.join();
  EXPECT_TRUE(back.load());
  EXPECT_TRUE(handler.ids.empty());
  EXPECT_EQ(freed.load(), 0);
  kept->Free();
  Drain();  // the queued message finds its item released: ignored
}

TEST_F(AppEventListTest, AFailedSendLeavesNothingBehind) {
  std::atomic<int> freed{0};
  TData* kept = new TData(&freed);
  HWND gone = window;
  DestroyWindow(window);
  std::thread([&] { EXPECT_THROW(list->SendEvent(gone, 1, kept), EAbort); }).join();
  EXPECT_EQ(list->PendingCount(), 0);
  list->ProcessPending();
  EXPECT_TRUE(handler.ids.empty());
  EXPECT_EQ(freed.load(), 0);
  kept->Free();
  EXPECT_EQ(freed.load(), 1);
}

TEST_F(AppEventListTest, AHandlerThatRaisesStillReleasesItsSender) {
  struct TThrower {
    void On(TRefObject*, uint32_t, void*) { throw EAbort(); }
  } thrower;
  owner->AddHandler(3, TEventListHandler::Bind<&TThrower::On>(&thrower));
  std::thread worker([&] { list->SendEvent(window, 3, nullptr); });
  while (QueuedMessageCount() < 1) std::this_thread::yield();
  TMsg m;
  EXPECT_THROW(PeekMessage(&m, 0, 0, 0, PM_REMOVE), EAbort);  // sent messages run inside
  worker.join();
  EXPECT_EQ(list->PendingCount(), 0);
}

TEST_F(AppEventListTest, ManyWorkersPostAndSendWhileTheGuiThreadPumps) {
  struct TCount {
    std::atomic<int> n{0};
    void On(TRefObject*, uint32_t, void*) { n++; }
  } count;
  owner->AddHandler(5, TEventListHandler::Bind<&TCount::On>(&count));
  std::atomic<int> freed{0};
  std::atomic<int> done{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 6; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        if ((i + t) % 4 == 0) list->SendEvent(window, 5, nullptr);
        else list->PostEvent(window, 5, new TData(&freed));
      }
      done++;
    });
  while (done.load() < 6 || list->PendingCount() > 0) {
    TMsg m;
    while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) DispatchMessage(m);
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(count.n.load(), 1200);
  EXPECT_EQ(freed.load(), 900);
}
