// Monitors and active worker threads.
#include "VoRav/vxMonitors.h"

#include <chrono>
#include <string>
#include <thread>

#include "VoRav/vxTime.h"

namespace kav {

namespace {

// Workers started and not yet freed.
std::atomic<int32_t> g_active_workers{0};

constexpr uint32_t kFinalWaitMs = 10000;

// At shutdown the library gives running workers time to finish, and says
// so when some did not.
struct TActiveWorkersFinalizer {
  ~TActiveWorkersFinalizer() {
    if (const int32_t left = WaitForActiveThreads(kFinalWaitMs); left > 0)
      DebugOutput("vxMonitors: " + std::to_string(left) + " worker(s) still active at shutdown");
  }
} g_finalizer;

}  // namespace

// ---- TMonitor ----

TMonitor::TMonitor()
    : lock_(MakeRef<TSafeCriticalSection>()),
      wait_guard_(MakeRef<TCriticalSection>()),
      changed_(MakeRef<TEvent>()) {}

void TMonitor::Dispose() {
  lock_ = nullptr;
  wait_guard_ = nullptr;
  changed_ = nullptr;
  TRefObject::Dispose();
}

void TMonitor::Lock() {
  lock_->Enter();
  if (++enter_count_ > 1) lock_->Leave();  // the mutex stays held once
  changed_->SetEvent();
}

void TMonitor::Leave() {
  KAV_ASSERT(enter_count_ > 0);
  if (--enter_count_ == 0) lock_->Leave();
}

void TMonitor::Wait() {
  KAV_ASSERT(enter_count_ > 0);
  wait_guard_->Enter();
  changed_->ResetEvent();
  const int32_t count = enter_count_;
  enter_count_ = 0;
  lock_->Leave();
  std::this_thread::yield();
  changed_->WaitForever();
  wait_guard_->Leave();
  lock_->Enter();
  enter_count_ = count;
  changed_->SetEvent();  // the next waiter wakes too
}

void TMonitor::SleepUnlocked(uint32_t ms) {
  KAV_ASSERT(enter_count_ > 0);
  const int32_t count = enter_count_;
  enter_count_ = 0;
  lock_->Leave();
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  lock_->Enter();
  enter_count_ = count;
  changed_->SetEvent();
}

// ---- TActiveMonitor ----

bool TActiveMonitor::Start(TActiveThread* thread, TActiveMonitor* monitor) {
  KAV_ASSERT(thread != nullptr && monitor != nullptr);
  KAV_ASSERT(monitor->RefCount() > 0);
  if (!thread->proc_) return false;
  RefAddRef(monitor);  // the worker's reference, dropped when it has finished
  thread->monitor_ = monitor;
  monitor->worker_ = Ref<TActiveThread>(thread);
  if (thread->Start()) return true;
  monitor->worker_ = nullptr;
  thread->monitor_ = nullptr;
  RefRelease(monitor);
  return false;
}

bool TActiveMonitor::Run(TActiveProc proc, void* param, bool inside) {
  KAV_ASSERT(proc.Assigned());
  Lock();
  if (worker_) {
    Leave();
    return false;
  }
  state_ = inside ? kStarting : kRunning;
  auto thread = Ref<TActiveThread>::Adopt(new TActiveThread(proc, param));
  const bool started = Start(thread.get(), this);
  if (started) {
    g_active_workers.fetch_add(1);
  } else {
    state_ = kNoWorker;
  }
  Leave();
  return started;
}

void TActiveMonitor::Enter() {
  Lock();
  while (state_.load() == kStarting) Wait();
}

void TActiveMonitor::WaitFor() {
  Enter();
  while (state_.load() == kRunning) Wait();
  Leave();
}

void TActiveMonitor::Terminate() {
  Enter();
  terminate_ = true;
  // The worker thread's own stop flag too: long work it runs that looks at
  // CurrentThreadStopRequested (a text layout, a glyph outline) gives up.
  if (worker_) worker_->Terminate();
  Leave();
}

void TActiveMonitor::Dispose() {
  if (worker_) {
    // The worker holds a reference until it has finished, so it cannot be
    // running its procedure here; freeing the thread object joins it.
    KAV_ASSERT(worker_->Monitor() == nullptr);
    worker_ = nullptr;
    g_active_workers.fetch_sub(1);
  }
  TMonitor::Dispose();
}

// ---- TActiveThread ----

void TActiveThread::Execute() {
  TActiveMonitor* monitor = monitor_.load();
  KAV_ASSERT(monitor != nullptr);
  bool locked = false;
  if (monitor->state_.load() == TActiveMonitor::kStarting) {
    monitor->Lock();
    monitor->state_ = TActiveMonitor::kRunning;
    locked = true;
  }
  // Finishing runs whether the procedure returns or raises, so that WaitFor
  // never waits for a worker that is gone. After the last line this object
  // may be freed (the monitor's last reference frees its worker).
  struct TFinish {
    TActiveThread* self;
    TActiveMonitor* monitor;
    bool& locked;
    ~TFinish() {
      try {
        if (!locked) monitor->Lock();
        monitor->state_ = TActiveMonitor::kDone;
        self->monitor_ = nullptr;
        monitor->Leave();
        RefRelease(monitor);
      } catch (const std::exception& e) {
        DebugOutputThread(std::string("TActiveThread: finishing failed: ") + e.what());
      }
    }
  } finish{this, monitor, locked};
  proc_(param_);
}

// ---- workers ----

int32_t ActiveThreadCount() noexcept { return g_active_workers.load(); }

int32_t WaitForActiveThreads(uint32_t timeout_ms) {
  const int64_t deadline = MonotonicMs() + timeout_ms;
  while (g_active_workers.load() > 0 && MonotonicMs() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return g_active_workers.load();
}

}  // namespace kav
