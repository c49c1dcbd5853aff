// The rasteriser's worker threads: one pool per process, sized to the
// machine. Run() hands out the indices of a job to the calling thread and up
// to (threads - 1) workers and returns when all are done. The caller works
// too and never waits for a worker that has not started yet: once every
// index is taken it closes the job, waits only for the workers inside it,
// and late workers find it closed. One job runs at a time; a caller that
// finds the pool busy (another device drawing on another thread) runs its
// job alone, so callers never wait for each other here.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kav {

class TSwWorkerPool {
 public:
  explicit TSwWorkerPool(int workers);
  ~TSwWorkerPool();
  TSwWorkerPool(const TSwWorkerPool&) = delete;
  TSwWorkerPool& operator=(const TSwWorkerPool&) = delete;

  // The process-wide pool: hardware threads minus one workers (at most 63).
  static TSwWorkerPool& Shared();

  // Threads that can work on one job, the caller included.
  int MaxThreads() const { return int(workers_.size()) + 1; }

  // Runs job(i) for every i in [0, count) on at most `threads` threads.
  void Run(int count, int threads, const std::function<void(int)>& job);

 private:
  void WorkerLoop(int index);
  void Drain(const std::function<void(int)>& job, int count);

  std::vector<std::thread> workers_;
  std::mutex run_lock_;  // one job at a time
  std::mutex lock_;
  std::condition_variable wake_, done_;
  uint64_t generation_ = 0;
  bool stop_ = false;
  int slots_ = 0;  // workers that may still join the current job
  const std::function<void(int)>* job_ = nullptr;
  int count_ = 0;
  std::atomic<int> next_{0};
  int active_ = 0;  // workers inside the current job
};

}  // namespace kav
