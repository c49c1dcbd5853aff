#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "VoRav/Application2/vxEventList.h"

using namespace kav;

namespace {

struct TRecorder {
  std::vector<int> calls;
  TEventList* list = nullptr;
  TEventListHandler other;  // removed by OnRemoveOther
  void OnA(TRefObject*, uint32_t, void*) { calls.push_back(1); }
  void OnB(TRefObject*, uint32_t, void*) { calls.push_back(2); }
  void OnC(TRefObject*, uint32_t, void*) { calls.push_back(3); }
  void OnRemoveSelf(TRefObject*, uint32_t id, void*) {
    calls.push_back(4);
    list->RemoveHandler(id, TEventListHandler::Bind<&TRecorder::OnRemoveSelf>(this));
  }
  void OnRemoveOther(TRefObject*, uint32_t id, void*) {
    calls.push_back(5);
    list->RemoveHandler(id, other);
  }
  void OnRaise(TRefObject* sender, uint32_t, void*) {
    calls.push_back(6);
    list->Notify(sender, 99, nullptr);
  }
  TEventListHandler A() { return TEventListHandler::Bind<&TRecorder::OnA>(this); }
  TEventListHandler B() { return TEventListHandler::Bind<&TRecorder::OnB>(this); }
  TEventListHandler C() { return TEventListHandler::Bind<&TRecorder::OnC>(this); }
};

}  // namespace

TEST(EventList, HandlersRunOldestFirstAndIdsSharingABucketStayApart) {
  Ref<TEventList> list = MakeRef<TEventList>();
  TRecorder r;
  list->AddHandler(4, r.A());
  list->AddHandler(20, r.B());  // same bucket as 4 of 16
  list->AddHandler(4, r.C());
  list->AddHandler(4, r.A());   // twice: called twice
  list->Notify(nullptr, 4, nullptr);
  EXPECT_EQ(r.calls, (std::vector<int>{1, 3, 1}));
  r.calls.clear();
  list->Notify(nullptr, 20, nullptr);
  list->Notify(nullptr, 36, nullptr);  // nobody
  EXPECT_EQ(r.calls, (std::vector<int>{2}));
  r.calls.clear();
  list->RemoveHandler(4, r.B());  // not under 4: nothing
  list->RemoveHandler(4, r.A());  // the newest A goes
  list->Notify(nullptr, 4, nullptr);
  EXPECT_EQ(r.calls, (std::vector<int>{1, 3}));
}

TEST(EventList, SenderIdAndParameterReachTheHandler) {
  Ref<TEventList> list = MakeRef<TEventList>();
  struct TSeen {
    TRefObject* sender = nullptr; uint32_t id = 0; void* param = nullptr;
    void On(TRefObject* s, uint32_t i, void* p) { sender = s; id = i; param = p; }
  } seen;
  int value = 5;
  uint32_t id = list->AddHandlerNewId(TEventListHandler::Bind<&TSeen::On>(&seen));
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(list->NewEventId(), 2u);
  list->Notify(list.get(), id, &value);
  EXPECT_EQ(seen.sender, list.get());
  EXPECT_EQ(seen.id, 1u);
  EXPECT_EQ(seen.param, &value);
}

TEST(EventList, BucketCountsAreClampedAndTheArrayShrinksOnlyAtItsEnd) {
  EXPECT_EQ(MakeRef<TEventList>(0)->BucketCount(), 1);
  EXPECT_EQ(MakeRef<TEventList>(1)->BucketCount(), 1);
  EXPECT_EQ(MakeRef<TEventList>(5000)->BucketCount(), 4096);
  Ref<TEventList> list = MakeRef<TEventList>();
  TRecorder r;
  list->AddHandler(3, r.A());
  list->AddHandler(9, r.A());
  EXPECT_EQ(list->BucketArrayLength(), 10);
  list->RemoveHandler(3, r.A());  // an inner bucket keeps its place
  EXPECT_EQ(list->BucketArrayLength(), 10);
  list->RemoveHandler(9, r.A());  // the last bucket: one element less
  EXPECT_EQ(list->BucketArrayLength(), 9);
}

TEST(EventList, HandlersMayRemoveAndRaiseWhileNotified) {
  Ref<TEventList> list = MakeRef<TEventList>();
  TRecorder r;
  r.list = list.get();
  // Registered first (called first): removes itself, then the later B.
  list->AddHandler(7, TEventListHandler::Bind<&TRecorder::OnRemoveSelf>(&r));
  list->AddHandler(7, TEventListHandler::Bind<&TRecorder::OnRemoveOther>(&r));
  r.other = r.B();
  list->AddHandler(7, r.B());
  list->AddHandler(7, TEventListHandler::Bind<&TRecorder::OnRaise>(&r));
  list->AddHandler(99, r.C());
  list->Notify(nullptr, 7, nullptr);
  EXPECT_EQ(r.calls, (std::vector<int>{4, 5, 6, 3}));  // B removed before its turn
  r.calls.clear();
  list->Notify(nullptr, 7, nullptr);
  EXPECT_EQ(r.calls, (std::vector<int>{5, 6, 3}));
}

TEST(EventList, ARemovedHandlerIsSkippedByAPassOnAnotherThread) {
  // A pass on another thread holds its own reference on the item, so only
  // the removal mark can tell that the handler is gone.
  Ref<TEventList> list = MakeRef<TEventList>();
  struct TGate {
    std::atomic<int> stage{0};
    std::atomic<int> late_calls{0};
    void Blocker(TRefObject*, uint32_t, void*) {
      stage = 1;
      while (stage.load() != 2) std::this_thread::yield();
    }
    void Late(TRefObject*, uint32_t, void*) { late_calls++; }
  } gate;
  auto late = TEventListHandler::Bind<&TGate::Late>(&gate);
  list->AddHandler(1, TEventListHandler::Bind<&TGate::Blocker>(&gate));
  list->AddHandler(1, late);
  std::thread t([&] { list->Notify(nullptr, 1, nullptr); });
  while (gate.stage.load() != 1) std::this_thread::yield();
  list->RemoveHandler(1, late);
  gate.stage = 2;
  t.join();
  EXPECT_EQ(gate.late_calls.load(), 0);
}

TEST(EventList, ManyThreadsRegisterRaiseAndRemove) {
  Ref<TEventList> list = MakeRef<TEventList>(16);
  struct TCount {
    std::atomic<int> n{0};
    void On(TRefObject*, uint32_t, void*) { n++; }
  } counts[8];
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      auto h = TEventListHandler::Bind<&TCount::On>(&counts[t]);
      for (int i = 0; i < 500; ++i) {
        list->AddHandler(static_cast<uint32_t>(t), h);
        list->Notify(nullptr, static_cast<uint32_t>(t), nullptr);
        list->RemoveHandler(static_cast<uint32_t>(t), h);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (auto& c : counts) EXPECT_EQ(c.n.load(), 500);
  EXPECT_LE(list->BucketArrayLength(), 8);
}

TEST(EventList, LongChainsAndAnExceptionLeaveTheListUsable) {
  Ref<TEventList> list = MakeRef<TEventList>(1);
  struct TCount {
    int n = 0;
    void On(TRefObject*, uint32_t, void*) { n++; }
    void Throw(TRefObject*, uint32_t, void*) { throw EAbort(); }
  } c;
  for (int i = 0; i < 20000; ++i) list->AddHandler(1, TEventListHandler::Bind<&TCount::On>(&c));
  list->Notify(nullptr, 1, nullptr);
  EXPECT_EQ(c.n, 20000);
  list->AddHandler(2, TEventListHandler::Bind<&TCount::Throw>(&c));
  EXPECT_THROW(list->Notify(nullptr, 2, nullptr), EAbort);
  list->Notify(nullptr, 1, nullptr);  // not left locked
  EXPECT_EQ(c.n, 40000);
}
