// The rasteriser's worker threads: one pool per process, sized to the
// processors the process may use (UsableCpuCount). Run() hands out the indices of a job to the calling thread and up
// to (threads - 1) workers and returns when all are done. The caller works
// too and never waits for a worker that has not started yet: once every
// index is taken it closes the job, waits only for the workers inside it,
// and late workers find it closed. One job runs at a time; a caller that
// finds the pool busy (another device drawing on another thread) runs its
// job alone, so callers never wait for each other here.
//
// A frame is many jobs in a row (a clear, every tile of a picture, every
// pass of a transition), each a fraction of a millisecond, so a worker that
// went to sleep after one job would often wake too late for the next: on a
// loaded machine waking a thread takes tens of microseconds or more. A
// worker that finished a job therefore watches for the next one for a short
// while (kSpin) before it sleeps, and Prime() sets workers watching ahead of
// a frame. The caller likewise watches for its last workers before it
// sleeps. Sleeping workers are woken last asleep first: the few that did
// the last jobs stay warm and keep their cores, instead of every job waking
// the worker that slept longest, wherever the system parked it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
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

  // The process-wide pool: usable processors minus one workers (at most 63),
  // counted when it is first used.
  static TSwWorkerPool& Shared();

  // Threads that can work on one job, the caller included.
  int MaxThreads() const { return int(workers_.size()) + 1; }

  // Runs job(i) for every i in [0, count) on at most `threads` threads.
  void Run(int count, int threads, const std::function<void(int)>& job);

  // Wakes up to (threads - 1) workers so that they watch for jobs for a
  // while: called where a burst of jobs begins (a scene), so the first job
  // does not wait for them to wake. Costs nothing when they are awake.
  void Prime(int threads);

  // How long a worker watches for the next job after its last one (or after
  // Prime) before it sleeps, in microseconds.
  static constexpr int kSpinMicros = 100;

 private:
  void WorkerLoop(int index);
  bool Join(const std::function<void(int)>*& job, int& count);
  void Leave();
  void Drain(const std::function<void(int)>& job, int count);
  void WakeSleepers(int wanted);

  std::vector<std::thread> workers_;
  std::mutex run_lock_;  // one job at a time
  std::mutex lock_;      // sleeping workers and a sleeping caller
  std::condition_variable done_;
  struct TSleeper {
    std::condition_variable Wake;
    bool Woken = false;  // under lock_
  };
  std::vector<std::unique_ptr<TSleeper>> sleepers_;  // one per worker
  std::vector<int> asleep_;                          // under lock_: the last asleep on top
  std::atomic<uint64_t> generation_{0};  // a new job or a prime
  std::atomic<bool> stop_{false};
  std::atomic<int> slots_{0};     // workers that may still join the current job
  std::atomic<int> active_{0};    // workers inside (or trying to join) the current job
  std::atomic<int> watching_{0};  // workers spinning for the next generation
  bool caller_sleeps_ = false;    // under lock_
  std::atomic<const std::function<void(int)>*> job_{nullptr};
  std::atomic<int> count_{0};
  std::atomic<int> next_{0};
};

}  // namespace kav
