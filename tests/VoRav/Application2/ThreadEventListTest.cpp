#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "VoRav/Application2/vxThreadEventList.h"
#include "VoRav/wpThreads2.h"

using namespace kav;

namespace {

// A parameter that counts its releases.
struct TParam : TRefObject {
  explicit TParam(std::atomic<int>* freed, int value = 0) : freed_(freed), value(value) {}
  void Dispose() override { (*freed_)++; TRefObject::Dispose(); }
  std::atomic<int>* freed_;
  int value;
};

struct TLog {
  std::mutex lock;
  std::vector<uint32_t> codes;
  bool take = true;
  void On(TThreadEventList*, uint32_t code, bool& handled, TRefObject*) {
    std::lock_guard<std::mutex> g(lock);
    codes.push_back(code);
    handled = take;
  }
  TThreadEventHandler Handler() { return TThreadEventHandler::Bind<&TLog::On>(this); }
};

}  // namespace

TEST(ThreadEventList, PostedAndSentMessagesRunInQueueOrder) {
  TLog log;
  Ref<TThreadEventList> q = MakeRef<TThreadEventList>(log.Handler());
  q->SetOwnerThread(CurrentThreadId());
  std::atomic<int> freed{0};
  q->PostEvent(1, new TParam(&freed));
  std::atomic<bool> sent_back{false};
  std::thread sender([&] {
    q->SendEvent(2, nullptr);
    sent_back = true;
  });
  while (q->PendingCount() < 2) std::this_thread::yield();
  q->PostEvent(3, nullptr);
  EXPECT_FALSE(sent_back.load());
  q->ProcessMessages();
  sender.join();
  EXPECT_TRUE(sent_back.load());
  EXPECT_EQ(log.codes, (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(freed.load(), 1);  // the posted parameter, after handling
}

TEST(ThreadEventList, ClosedQueueFreesPostsAndNeverKeepsASender) {
  TLog log;
  Ref<TThreadEventList> q = MakeRef<TThreadEventList>(log.Handler());
  std::atomic<int> freed{0};
  TParam* kept = new TParam(&freed);
  // A sender waiting when the queue closes returns.
  std::thread sender([&] { q->SendEvent(5, kept); });
  while (q->PendingCount() < 1) std::this_thread::yield();
  q->PostEvent(6, new TParam(&freed));  // pending when closed: freed by Close
  q->Close();
  sender.join();
  EXPECT_EQ(freed.load(), 1);
  EXPECT_TRUE(q->IsClosed());
  q->PostEvent(7, new TParam(&freed));  // closed: freed at once
  EXPECT_EQ(freed.load(), 2);
  q->SendEvent(8, kept);  // closed: returns, the parameter stays ours
  q->ProcessMessages();
  EXPECT_TRUE(log.codes.empty());
  EXPECT_EQ(freed.load(), 2);
  kept->Free();
  EXPECT_EQ(freed.load(), 3);
}

TEST(ThreadEventList, UntakenCodesReachRegisteredHandlersAndStopEndsADrain) {
  TLog log;
  log.take = false;
  Ref<TThreadEventList> q = MakeRef<TThreadEventList>(log.Handler());
  struct TReg {
    std::vector<uint32_t> ids;
    TThreadEventList* q = nullptr;
    void On(TRefObject* sender, uint32_t id, void*) {
      EXPECT_EQ(sender, q);
      ids.push_back(id);
      if (id == 2) q->StopProcessing();
    }
  } reg;
  reg.q = q.get();
  q->AddHandler(2, TEventListHandler::Bind<&TReg::On>(&reg));
  q->AddHandler(3, TEventListHandler::Bind<&TReg::On>(&reg));
  q->PostEvent(2, nullptr);
  q->PostEvent(3, nullptr);
  q->ProcessMessages();
  EXPECT_EQ(reg.ids, (std::vector<uint32_t>{2}));
  EXPECT_EQ(q->PendingCount(), 1);
  q->ProcessMessages();
  EXPECT_EQ(reg.ids, (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(log.codes, (std::vector<uint32_t>{2, 3}));
}

TEST(ThreadEventList, SendingToOwnQueueRunsAtOnce) {
  TLog log;
  Ref<TThreadEventList> q = MakeRef<TThreadEventList>(log.Handler());
  q->SetOwnerThread(CurrentThreadId());
  std::atomic<int> freed{0};
  TParam* p = new TParam(&freed);
  q->SendEvent(9, p);
  EXPECT_EQ(log.codes, (std::vector<uint32_t>{9}));
  EXPECT_EQ(freed.load(), 0);
  p->Free();
}

TEST(ThreadEventList, TwoThreadsSendingToEachOtherBothReturn) {
  struct TPeer {
    Ref<TThreadEventList> q;
    TPeer* other = nullptr;
    std::atomic<int> handled{0};
    void On(TThreadEventList*, uint32_t code, bool& h, TRefObject*) {
      h = true;
      handled++;
      if (code == 1) other->q->SendEvent(2, nullptr);  // answers with a send
    }
  } a, b;
  a.q = MakeRef<TThreadEventList>(TThreadEventHandler::Bind<&TPeer::On>(&a));
  b.q = MakeRef<TThreadEventList>(TThreadEventHandler::Bind<&TPeer::On>(&b));
  a.other = &b;
  b.other = &a;
  std::atomic<bool> stop{false};
  std::thread ta([&] {
    a.q->SetOwnerThread(CurrentThreadId());
    b.q->SendEvent(1, nullptr);  // b answers by sending 2 to a while a waits
    while (!stop) { a.q->ProcessMessages(); std::this_thread::yield(); }
  });
  std::thread tb([&] {
    b.q->SetOwnerThread(CurrentThreadId());
    while (!stop) { b.q->ProcessMessages(); std::this_thread::yield(); }
  });
  while (a.handled.load() < 1) std::this_thread::yield();
  stop = true;
  ta.join();
  tb.join();
  EXPECT_EQ(a.handled.load(), 1);
  EXPECT_EQ(b.handled.load(), 1);
}

TEST(ThreadEventList, ManySendersAndPostersLoseNothing) {
  struct TSum {
    std::atomic<int64_t> sum{0};
    void On(TThreadEventList*, uint32_t code, bool& h, TRefObject* p) {
      h = true;
      sum += code + (p ? static_cast<TParam*>(p)->value : 0);
    }
  } s;
  Ref<TThreadEventList> q = MakeRef<TThreadEventList>(TThreadEventHandler::Bind<&TSum::On>(&s));
  std::atomic<int> freed{0};
  std::atomic<bool> stop{false};
  std::thread owner([&] {
    while (!stop) q->ProcessMessages();
    q->ProcessMessages();
  });
  std::vector<std::thread> senders;
  for (int t = 0; t < 6; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        if ((i + t) % 2) {
          q->PostEvent(1, new TParam(&freed, 10));
        } else {
          TParam* p = new TParam(&freed, 100);
          q->SendEvent(1, p);
          p->Free();
        }
      }
    });
  }
  for (auto& th : senders) th.join();
  stop = true;
  owner.join();
  EXPECT_EQ(s.sum.load(), 6 * 150 * 11 + 6 * 150 * 101);
  EXPECT_EQ(freed.load(), 1800);
}
