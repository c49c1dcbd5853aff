#include "platform/d3d/raster/SwWorkerPool.h"

#include <algorithm>

namespace kav {

TSwWorkerPool::TSwWorkerPool(int workers) {
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this, i] { WorkerLoop(i); });
}

TSwWorkerPool::~TSwWorkerPool() {
  {
    std::lock_guard<std::mutex> g(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  for (auto& t : workers_) t.join();
}

TSwWorkerPool& TSwWorkerPool::Shared() {
  static TSwWorkerPool pool(std::clamp(int(std::thread::hardware_concurrency()) - 1, 0, 63));
  return pool;
}

void TSwWorkerPool::Drain(const std::function<void(int)>& job, int count) {
  for (;;) {
    int i = next_.fetch_add(1);
    if (i >= count) return;
    job(i);
  }
}

void TSwWorkerPool::Run(int count, int threads, const std::function<void(int)>& job) {
  if (count <= 0) return;
  int helpers = std::min({threads - 1, int(workers_.size()), count - 1});
  std::unique_lock<std::mutex> run(run_lock_, std::try_to_lock);
  if (helpers <= 0 || !run.owns_lock()) {
    for (int i = 0; i < count; ++i) job(i);
    return;
  }
  {
    std::lock_guard<std::mutex> g(lock_);
    job_ = &job;
    count_ = count;
    next_.store(0);
    slots_ = helpers;
    ++generation_;
  }
  // Only as many workers as may join are woken: waking every worker for a
  // job two of them share costs more than the job on a loaded machine.
  if (helpers >= int(workers_.size())) {
    wake_.notify_all();
  } else {
    for (int i = 0; i < helpers; ++i) wake_.notify_one();
  }
  Drain(job, count);
  // Every index is taken: close the job and wait for the workers still in it.
  std::unique_lock<std::mutex> g(lock_);
  job_ = nullptr;
  slots_ = 0;
  done_.wait(g, [this] { return active_ == 0; });
}

void TSwWorkerPool::WorkerLoop(int index) {
  (void)index;
  uint64_t seen = 0;
  for (;;) {
    const std::function<void(int)>* job;
    int count;
    {
      std::unique_lock<std::mutex> g(lock_);
      wake_.wait(g, [&] { return stop_ || (generation_ != seen && slots_ > 0); });
      if (stop_) return;
      seen = generation_;
      if (!job_) continue;  // closed before this worker got to it
      --slots_;
      job = job_;
      count = count_;
      ++active_;
    }
    Drain(*job, count);
    {
      std::lock_guard<std::mutex> g(lock_);
      if (--active_ == 0) done_.notify_one();
    }
  }
}

}  // namespace kav
