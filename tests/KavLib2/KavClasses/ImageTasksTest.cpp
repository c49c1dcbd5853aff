#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "KavLib2/KavClasses/KavImageTasks.h"
#include "VoRav/vxTime.h"

namespace kav {
namespace {

void WaitUntil(const std::atomic<bool>& flag) {
  while (!flag) SleepMs(1);
}

class TResult : public TRefObject {
 public:
  explicit TResult(std::u16string s) : text(std::move(s)) {}
  std::u16string text;
};

// The slide object side: collects delivered results.
struct Receiver {
  std::mutex m;
  std::vector<std::u16string> got;
  void OnDone(TImageTask* t) {
    std::lock_guard<std::mutex> l(m);
    got.push_back(static_cast<TResult*>(t->Result1.get())->text);
  }
  TImageTaskCallback Callback() { return TImageTaskCallback::Bind<&Receiver::OnDone>(this); }
  std::vector<std::u16string> Got() {
    std::lock_guard<std::mutex> l(m);
    return got;
  }
};

// A worker that holds its first task until released.
struct Worker {
  std::atomic<bool> took_first{false}, release_first{false}, returned{false};
  std::atomic<int> taken{0};
  void Run(TImageTaskQueue* q) {
    while (Ref<TImageTask> t = q->TakeTask()) {
      if (taken.fetch_add(1) == 0) {
        took_first = true;
        WaitUntil(release_first);
      }
      if (!t->Cancelled()) t->Result1 = MakeRef<TResult>(t->Source + u"+" + t->Params);
      q->FinishTask(t.get(), true);
    }
    returned = true;
  }
  TImageTaskQueue::TWorker Delegate() { return TImageTaskQueue::TWorker::Bind<&Worker::Run>(this); }
};

TEST(ImageTasks, PendingTasksAreReplacedFoundAndCancelledByKey) {
  auto q = MakeRef<TImageTaskQueue>();  // no worker: every task stays pending
  Receiver r;
  AddImageTask(q.get(), u"k1", u"first", 0, u"", r.Callback());
  AddImageTask(q.get(), u"k2", u"other", 0, u"", r.Callback());
  AddImageTask(q.get(), u"k1", u"second", 7, u"p", r.Callback());
  EXPECT_EQ(q->Count(), 2);
  Ref<TImageTask> t = FindPendingImageTask(q.get(), u"k1");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Source, u"second");
  EXPECT_FALSE(FindPendingImageTask(q.get(), u"k1"));
  CancelImageTask(q.get(), u"k2");
  EXPECT_EQ(q->Count(), 0);
  StopImageTasks(q.get());  // no worker: returns at once
  AddImageTask(q.get(), u"k3", u"late", 0, u"", r.Callback());
  EXPECT_EQ(q->Count(), 0);
  Worker w;
  EXPECT_FALSE(q->StartWorker(w.Delegate()));
}

TEST(ImageTasks, TasksTheWorkerHoldsAreOnlyMarkedCancelled) {
  auto q = MakeRef<TImageTaskQueue>();
  Receiver r;
  Worker w;
  ASSERT_TRUE(q->StartWorker(w.Delegate()));
  AddImageTask(q.get(), u"a", u"pic", 0, u"1", r.Callback());
  WaitUntil(w.took_first);
  EXPECT_EQ(q->FrontCount(), 1);
  // The same key again: the worker's task stays, the new one waits behind it.
  AddImageTask(q.get(), u"a", u"pic", 0, u"2", r.Callback());
  EXPECT_EQ(q->Count(), 2);
  CancelImageTask(q.get(), u"a");
  EXPECT_EQ(q->Count(), 1);  // the pending one went, the held one is marked
  AddImageTask(q.get(), u"b", u"pic", 0, u"3", r.Callback());
  w.release_first = true;
  // "b" is delivered; the cancelled "a" is not.
  while (r.Got().empty()) SleepMs(1);
  EXPECT_EQ(r.Got(), std::vector<std::u16string>{u"pic+3"});
  StopImageTasks(q.get());
  EXPECT_TRUE(w.returned);
  EXPECT_EQ(w.taken, 2);
}

// A worker busy on a task when the stop comes: the stop waits for it to
// notice and return, and only then drops the tasks.
TEST(ImageTasks, StopWaitsForTheWorkerAndDropsTheTasks) {
  struct Busy {
    std::atomic<bool> busy{false}, returned{false};
    void Run(TImageTaskQueue* q) {
      Ref<TImageTask> t = q->TakeTask();
      busy = true;
      while (!q->TerminateRequested()) SleepMs(1);  // a long computation that polls
      q->FinishTask(t.get(), false);
      returned = true;
    }
  } b;
  auto q = MakeRef<TImageTaskQueue>();
  Receiver r;
  ASSERT_TRUE(q->StartWorker(TImageTaskQueue::TWorker::Bind<&Busy::Run>(&b)));
  AddImageTask(q.get(), u"x", u"s", 0, u"", r.Callback());
  WaitUntil(b.busy);
  AddImageTask(q.get(), u"y", u"s", 0, u"", r.Callback());
  StopImageTasks(q.get());
  EXPECT_TRUE(b.returned);
  EXPECT_TRUE(q->Stopped());
  EXPECT_EQ(q->Count(), 0);
  EXPECT_TRUE(r.Got().empty());
}

TEST(ImageTasks, ACallbackMayStopTheQueue) {
  struct Stopper {
    TImageTaskQueue* q;
    void OnDone(TImageTask*) { StopImageTasks(q); }
  };
  auto q = MakeRef<TImageTaskQueue>();
  Stopper s{q.get()};
  Worker w;
  w.release_first = true;
  ASSERT_TRUE(q->StartWorker(w.Delegate()));
  AddImageTask(q.get(), u"a", u"pic", 0, u"", TImageTaskCallback::Bind<&Stopper::OnDone>(&s));
  q->WaitFor();
  EXPECT_TRUE(w.returned && q->Stopped());
}

TEST(ImageTasks, AWorkerThatRaisesStillEndsTheQueue) {
  struct Thrower {
    void Run(TImageTaskQueue*) { throw EAbort("worker gave up"); }
  } th;
  auto q = MakeRef<TImageTaskQueue>();
  ASSERT_TRUE(q->StartWorker(TImageTaskQueue::TWorker::Bind<&Thrower::Run>(&th)));
  q->WaitFor();
  EXPECT_TRUE(q->Stopped());
  StopImageTasks(q.get());
  q = nullptr;  // the worker held its own reference until it was done
}

}  // namespace
}  // namespace kav
