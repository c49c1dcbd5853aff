// The image-task queue: slide objects hand slow picture work (shadows,
// extracted frames, rendered texts) to one background worker as keyed
// tasks.
//
// The task list has two parts: the front `FrontCount()` tasks are the
// worker's (taken and being worked on), the rest are pending. Asking again
// with the same key replaces a pending task; a task the worker has taken is
// never removed by others, only marked cancelled.
//
// The worker procedure belongs to the queue's creator. It loops on
// TakeTask, computes, stores results in the task and calls FinishTask:
//
//   void Worker(TImageTaskQueue* q) {
//     while (Ref<TImageTask> t = q->TakeTask()) {
//       if (!t->Cancelled()) t->Result1 = Compute(t.get());
//       q->FinishTask(t.get(), true);
//     }
//   }
//
// Stopping is cooperative: StopImageTasks asks the worker to end, waits
// until its procedure has returned, and only then drops the tasks. The
// worker holds a reference to the queue while it runs, so the queue is never
// freed under it. Whoever starts a queue must stop it before letting it go.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "VoRav/vxDelegate.h"
#include "VoRav/vxMonitors.h"

namespace kav {

class TImageTask;
class TImageTaskQueue;

// Receives a finished task. Its object is the slide object the result is
// for; it is called on the worker thread, inside the queue's monitor.
using TImageTaskCallback = TDelegate<void(TImageTask* task)>;

class TImageTask : public TRefObject {
 public:
  enum : int32_t { kStateCancelled = 2 };

  TImageTask(std::u16string key, std::u16string source, uint8_t flag, std::u16string params,
             TImageTaskCallback callback)
      : Key(std::move(key)), Source(std::move(source)), Params(std::move(params)), Flag(flag),
        Callback(callback) {}

  const std::u16string Key;     // one pending task per key
  const std::u16string Source;  // the picture the task works on
  const std::u16string Params;
  const uint8_t Flag;
  const TImageTaskCallback Callback;
  // Results, owned by the task and released with it; set by the worker.
  Ref<TRefObject> Result1;
  Ref<TRefObject> Result2;
  // kStateCancelled once cancelled; other values belong to the worker.
  std::atomic<int32_t> State{0};

  bool Cancelled() const noexcept { return State.load() == kStateCancelled; }

 protected:
  void Dispose() override;
};

class TImageTaskQueue : public TActiveMonitor {
 public:
  using TWorker = TDelegate<void(TImageTaskQueue* queue)>;

  // Starts the worker thread running `worker(this)`. False when the queue
  // already had a worker or the thread cannot start. The stopped flag is
  // set when the procedure returns (or raises).
  bool StartWorker(TWorker worker);

  // For the worker: waits for a pending task and moves it to the worker's
  // part; nil once termination is requested.
  Ref<TImageTask> TakeTask();
  // For the worker: takes a task of its part out of the list. With
  // `deliver`, calls its callback unless it was cancelled; both happen
  // inside the monitor, so a task cancelled before this call is never
  // delivered and a cancel that returns never races a running callback.
  void FinishTask(TImageTask* task, bool deliver);

  bool Stopped() const noexcept { return stopped_.load(); }
  int32_t Count();
  int32_t FrontCount();

 protected:
  void Dispose() override;

 private:
  friend void AddImageTask(TImageTaskQueue*, std::u16string, std::u16string, uint8_t, std::u16string,
                           TImageTaskCallback);
  friend void CancelImageTask(TImageTaskQueue*, std::u16string_view);
  friend Ref<TImageTask> FindPendingImageTask(TImageTaskQueue*, std::u16string_view);
  friend void StopImageTasks(TImageTaskQueue*);

  void RunWorker(void* param);
  // Takes the first pending task with the key out of the list; the caller
  // holds the monitor.
  Ref<TImageTask> TakePending(std::u16string_view key);

  std::vector<Ref<TImageTask>> tasks_;
  int32_t front_ = 0;
  std::atomic<bool> stopped_{false};
  TWorker worker_;
  std::atomic<std::thread::id> worker_thread_{};
};

// Queues a task; a pending task with the same key is replaced (and freed).
// Ignored when the queue is stopped.
void AddImageTask(TImageTaskQueue* queue, std::u16string key, std::u16string source, uint8_t flag,
                  std::u16string params, TImageTaskCallback callback);
// Marks the worker's tasks with the key cancelled and drops pending ones.
// Ignored when the queue is stopped or empty.
void CancelImageTask(TImageTaskQueue* queue, std::u16string_view key);
// The first pending task with the key, taken out of the list (the caller
// owns it); nil when none.
Ref<TImageTask> FindPendingImageTask(TImageTaskQueue* queue, std::u16string_view key);
// Asks the worker to end and waits until its procedure has returned
// (logging once when that takes more than 500 ms, and waiting on), then
// marks the queue stopped and drops every task. Nothing waits when no
// worker was started, or when the worker itself calls it (from a callback):
// it then ends after its current task.
void StopImageTasks(TImageTaskQueue* queue);

}  // namespace kav
