#include "KavLib2/KavClasses/KavImageTasks.h"

#include <algorithm>

#include "VoRav/vxLog.h"
#include "VoRav/vxTime.h"

namespace kav {

namespace {

// How long StopImageTasks waits before it notes a slow worker in the log,
// and how long it sleeps between looks.
constexpr uint32_t kStopNoticeMs = 500;
constexpr uint32_t kStopPollMs = 10;

// Holds the monitor for a scope.
using TMonitorScope = TLockScope<TMonitor>;

}  // namespace

void TImageTask::Dispose() {
  Result1 = nullptr;
  Result2 = nullptr;
  TRefObject::Dispose();
}

bool TImageTaskQueue::StartWorker(TWorker worker) {
  KAV_ASSERT(worker.Assigned());
  {
    TMonitorScope lock(this);
    if (State() != kNoWorker || stopped_) return false;
    worker_ = worker;
  }
  return Run(TActiveProc::Bind<&TImageTaskQueue::RunWorker>(this), nullptr, false);
}

void TImageTaskQueue::RunWorker(void*) {
  worker_thread_ = std::this_thread::get_id();
  try {
    worker_(this);
  } catch (const std::exception& e) {
    DebugOutputThread(std::string("Image task worker failed: ") + e.what());
  } catch (...) {
    DebugOutputThread("Image task worker failed");
  }
  TMonitorScope lock(this);
  stopped_ = true;
}

Ref<TImageTask> TImageTaskQueue::TakeTask() {
  TMonitorScope lock(this);
  for (;;) {
    if (TerminateRequested() || stopped_) return nullptr;
    if (size_t(front_) < tasks_.size()) return tasks_[size_t(front_++)];
    Wait();  // returns after any other thread has entered: look again
  }
}

void TImageTaskQueue::FinishTask(TImageTask* task, bool deliver) {
  if (!task) return;
  TMonitorScope lock(this);
  Ref<TImageTask> keep(task);
  const auto end = tasks_.begin() + front_;
  const auto it = std::find_if(tasks_.begin(), end, [task](const Ref<TImageTask>& t) { return t.get() == task; });
  if (it != end) {
    tasks_.erase(it);
    --front_;
  }
  if (deliver && !task->Cancelled() && task->Callback.Assigned()) task->Callback(task);
}

int32_t TImageTaskQueue::Count() {
  TMonitorScope lock(this);
  return int32_t(tasks_.size());
}

int32_t TImageTaskQueue::FrontCount() {
  TMonitorScope lock(this);
  return front_;
}

Ref<TImageTask> TImageTaskQueue::TakePending(std::u16string_view key) {
  for (size_t i = size_t(front_); i < tasks_.size(); ++i)
    if (tasks_[i]->Key == key) {
      Ref<TImageTask> t = std::move(tasks_[i]);
      tasks_.erase(tasks_.begin() + ptrdiff_t(i));
      return t;
    }
  return nullptr;
}

void TImageTaskQueue::Dispose() {
  // The worker holds a reference while it runs, so it has finished here.
  tasks_.clear();
  TActiveMonitor::Dispose();
}

void AddImageTask(TImageTaskQueue* queue, std::u16string key, std::u16string source, uint8_t flag,
                  std::u16string params, TImageTaskCallback callback) {
  if (!queue || queue->Stopped()) return;
  auto task = MakeRef<TImageTask>(std::move(key), std::move(source), flag, std::move(params), callback);
  Ref<TImageTask> replaced;  // released after the monitor is left
  TMonitorScope lock(queue);
  if (queue->Stopped()) return;
  replaced = queue->TakePending(task->Key);
  queue->tasks_.push_back(std::move(task));
}

void CancelImageTask(TImageTaskQueue* queue, std::u16string_view key) {
  if (!queue || queue->Stopped()) return;
  std::vector<Ref<TImageTask>> dropped;  // released after the monitor is left
  TMonitorScope lock(queue);
  if (queue->tasks_.empty()) return;
  for (int32_t i = 0; i < queue->front_; ++i)
    if (queue->tasks_[size_t(i)]->Key == key) queue->tasks_[size_t(i)]->State = TImageTask::kStateCancelled;
  while (Ref<TImageTask> t = queue->TakePending(key)) dropped.push_back(std::move(t));
}

Ref<TImageTask> FindPendingImageTask(TImageTaskQueue* queue, std::u16string_view key) {
  if (!queue) return nullptr;
  TMonitorScope lock(queue);
  return queue->TakePending(key);
}

void StopImageTasks(TImageTaskQueue* queue) {
  if (!queue) return;
  std::vector<Ref<TImageTask>> dropped;  // released after the monitor is left
  TMonitorScope lock(queue);
  queue->Terminate();
  const uint32_t start = GetElapsedMs();
  bool noted = false;
  // Wait while a worker exists whose procedure has not returned.
  const bool on_worker = queue->worker_thread_.load() == std::this_thread::get_id();
  auto running = [queue, on_worker] {
    if (on_worker) return false;
    const uint8_t s = queue->State();
    return !queue->stopped_ && (s == TActiveMonitor::kStarting || s == TActiveMonitor::kRunning);
  };
  while (running()) {
    if (!noted && ElapsedSinceMs(start) >= kStopNoticeMs) {
      LogLine(u"Image tasks: the worker has not stopped after 500 ms; still waiting");
      noted = true;
    }
    queue->SleepUnlocked(kStopPollMs);
  }
  queue->stopped_ = true;
  dropped.swap(queue->tasks_);
  queue->front_ = 0;
}

}  // namespace kav
