#include "platform/d3d/raster/SwWorkerPool.h"

#include <algorithm>
#include <chrono>

#include "VoRav/wpCpuCount.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kav {

namespace {

using TClock = std::chrono::steady_clock;

// The caller watches for its last workers this long before it sleeps: they
// are inside a band, which takes well under this unless they were paused.
constexpr int kCallerSpinMicros = 100;

inline void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#else
  std::this_thread::yield();
#endif
}

// Spins until `ready()` or `micros` have passed; true when ready. The clock
// is read every 64 rounds (a round is one pause, tens of nanoseconds).
template <class F>
bool SpinUntil(F&& ready, int micros) {
  const TClock::time_point until = TClock::now() + std::chrono::microseconds(micros);
  for (unsigned n = 1;; ++n) {
    if (ready()) return true;
    Relax();
    if ((n & 63) == 0 && TClock::now() >= until) return ready();
  }
}

}  // namespace

TSwWorkerPool::TSwWorkerPool(int workers) {
  for (int i = 0; i < workers; ++i) sleepers_.push_back(std::make_unique<TSleeper>());
  asleep_.reserve(size_t(std::max(workers, 0)));
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this, i] { WorkerLoop(i); });
}

TSwWorkerPool::~TSwWorkerPool() {
  {
    std::lock_guard<std::mutex> g(lock_);
    stop_.store(true);
  }
  for (auto& s : sleepers_) s->Wake.notify_all();
  for (auto& t : workers_) t.join();
}

TSwWorkerPool& TSwWorkerPool::Shared() {
  // The caller rasterises a band too, so one worker fewer than processors.
  static TSwWorkerPool pool(std::clamp(UsableCpuCount() - 1, 0, 63));
  return pool;
}

void TSwWorkerPool::Drain(const std::function<void(int)>& job, int count) {
  for (;;) {
    int i = next_.fetch_add(1, std::memory_order_relaxed);
    if (i >= count) return;
    job(i);
  }
}

void TSwWorkerPool::WakeSleepers(int wanted) {
  // Workers already watching take the job without a wake-up; the count is
  // read after the generation moved, so a worker that stops watching at
  // this moment either sees the new generation or is counted out here.
  int missing = wanted - watching_.load();
  if (missing <= 0) return;
  std::lock_guard<std::mutex> g(lock_);
  while (missing-- > 0 && !asleep_.empty()) {
    TSleeper& s = *sleepers_[size_t(asleep_.back())];
    asleep_.pop_back();
    s.Woken = true;
    s.Wake.notify_one();
  }
}

void TSwWorkerPool::Prime(int threads) {
  const int helpers = std::min(threads - 1, int(workers_.size()));
  if (helpers <= 0 || watching_.load(std::memory_order_relaxed) >= helpers) return;
  // A new generation without slots: woken workers find nothing to join and
  // watch for the next job.
  generation_.fetch_add(1);
  WakeSleepers(helpers);
}

void TSwWorkerPool::Run(int count, int threads, const std::function<void(int)>& job) {
  if (count <= 0) return;
  int helpers = std::min({threads - 1, int(workers_.size()), count - 1});
  std::unique_lock<std::mutex> run(run_lock_, std::try_to_lock);
  if (helpers <= 0 || !run.owns_lock()) {
    for (int i = 0; i < count; ++i) job(i);
    return;
  }
  job_.store(&job, std::memory_order_relaxed);
  count_.store(count, std::memory_order_relaxed);
  next_.store(0, std::memory_order_relaxed);
  slots_.store(helpers, std::memory_order_release);
  generation_.fetch_add(1);
  // Only as many workers as may join are woken: waking every worker for a
  // job two of them share costs more than the job on a loaded machine.
  WakeSleepers(helpers);
  Drain(job, count);
  // Every index is taken: close the job and wait for the workers still in it.
  slots_.exchange(0);
  if (SpinUntil([this] { return active_.load(std::memory_order_acquire) == 0; }, kCallerSpinMicros)) return;
  std::unique_lock<std::mutex> g(lock_);
  caller_sleeps_ = true;
  done_.wait(g, [this] { return active_.load(std::memory_order_acquire) == 0; });
  caller_sleeps_ = false;
}

bool TSwWorkerPool::Join(const std::function<void(int)>*& job, int& count) {
  // Counted in before the slot is taken: a caller that closes the job after
  // the slot was taken then sees this worker and waits for it.
  active_.fetch_add(1);
  int s = slots_.load(std::memory_order_acquire);
  while (s > 0 && !slots_.compare_exchange_weak(s, s - 1)) {
  }
  if (s <= 0) {
    Leave();
    return false;
  }
  job = job_.load(std::memory_order_relaxed);
  count = count_.load(std::memory_order_relaxed);
  return true;
}

void TSwWorkerPool::Leave() {
  if (active_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  std::lock_guard<std::mutex> g(lock_);
  if (caller_sleeps_) done_.notify_one();
}

void TSwWorkerPool::WorkerLoop(int index) {
  TSleeper& me = *sleepers_[size_t(index)];
  uint64_t seen = generation_.load();
  for (;;) {
    watching_.fetch_add(1);
    const bool moved =
        SpinUntil([&] { return generation_.load(std::memory_order_acquire) != seen || stop_.load(); }, kSpinMicros);
    watching_.fetch_sub(1);
    if (!moved) {
      // Asleep until a waker picks this worker; a generation that moved
      // since the watch ended is taken up at once instead.
      std::unique_lock<std::mutex> g(lock_);
      if (!stop_.load() && generation_.load() == seen) {
        me.Woken = false;
        asleep_.push_back(index);
        me.Wake.wait(g, [&] { return me.Woken || stop_.load(); });
      }
    }
    if (stop_.load()) return;
    seen = generation_.load();
    const std::function<void(int)>* job = nullptr;
    int count = 0;
    if (!Join(job, count)) continue;  // a prime, or closed before this worker got to it
    Drain(*job, count);
    Leave();
  }
}

}  // namespace kav
