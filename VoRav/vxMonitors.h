// Monitors: a re-entrant lock with a condition-style wait, and a monitor
// that runs one worker procedure on a thread of its own.
//
// A TMonitor's nesting is counted in the monitor: the mutex underneath is
// held exactly once however often the owner has entered. Every entry sets
// the change event, so Wait returns after any other thread has entered the
// monitor (a hint that something may have changed): callers re-test their
// condition in a loop.
//
//   monitor->Enter();
//   while (!ready) monitor->Wait();
//   ...
//   monitor->Leave();
//
// A TActiveMonitor's worker holds a reference to the monitor while it runs,
// so the monitor outlives its worker. The worker is stopped cooperatively:
// Terminate sets a request that the procedure polls; WaitFor waits until the
// procedure has returned. Nothing is ever killed.
#pragma once

#include <atomic>
#include <cstdint>

#include "VoRav/vxDelegate.h"
#include "VoRav/wpLocks.h"
#include "VoRav/wpThreads2.h"

namespace kav {

class TMonitor : public TRefObject {
 public:
  TMonitor();

  // Takes the monitor (re-entrant). The plain monitor's Enter is Lock.
  virtual void Enter() { Lock(); }
  // Takes the monitor, counts the entry and sets the change event.
  void Lock();
  // Drops one entry; the monitor is free again when the count reaches 0.
  void Leave();
  // The caller must hold the monitor. Gives it up entirely, waits (without
  // time-out) until another thread enters it, takes it back with the same
  // entry count, and sets the change event again for the next waiter.
  // Waiters take turns.
  void Wait();
  // Gives the monitor up entirely for `ms` milliseconds, then takes it back
  // with the same entry count. The caller must hold the monitor.
  void SleepUnlocked(uint32_t ms);

  // Entries of the owning thread (meaningful to the owner only).
  int32_t EnterCount() const noexcept { return enter_count_; }

 protected:
  void Dispose() override;

 private:
  Ref<TSafeCriticalSection> lock_;
  Ref<TCriticalSection> wait_guard_;
  int32_t enter_count_ = 0;
  Ref<TEvent> changed_;
};

class TActiveThread;

// The procedure a worker runs, with the parameter given to Run.
using TActiveProc = TDelegate<void(void* param)>;

class TActiveMonitor : public TMonitor {
 public:
  enum : uint8_t { kNoWorker = 0, kStarting = 1, kRunning = 2, kDone = 3 };

  // Starts the worker running `proc(param)`. With `inside` the procedure
  // runs while the worker holds the monitor (others' Enter waits until it
  // returns). False when the monitor already has (or had) a worker, or the
  // thread cannot start. A monitor runs at most one worker in its life.
  bool Run(TActiveProc proc, void* param, bool inside);
  // Links a thread and a monitor and starts the thread; undone when the
  // start fails. False when the thread has no procedure.
  static bool Start(TActiveThread* thread, TActiveMonitor* monitor);

  // Lock, then Wait while the worker is still to take the monitor.
  void Enter() override;
  // Returns once the worker's procedure has returned (at once when it has,
  // or when there is no worker).
  void WaitFor();
  // Sets the terminate request (inside the monitor). The procedure polls it.
  virtual void Terminate();
  bool TerminateRequested() const noexcept { return terminate_.load(); }
  uint8_t State() const noexcept { return state_.load(); }

 protected:
  // Frees the finished worker (asserting that it has finished), then the
  // monitor's own clean-up.
  void Dispose() override;

 private:
  friend class TActiveThread;
  Ref<TActiveThread> worker_;
  std::atomic<uint8_t> state_{kNoWorker};
  std::atomic<bool> terminate_{false};
};

// The thread of a TActiveMonitor.
class TActiveThread : public TThread {
 public:
  TActiveThread(TActiveProc proc, void* param) : proc_(proc), param_(param) {}
  // The monitor while the worker runs; nil once it has finished.
  TActiveMonitor* Monitor() const noexcept { return monitor_.load(); }

 protected:
  void Execute() override;

 private:
  friend class TActiveMonitor;
  std::atomic<TActiveMonitor*> monitor_{nullptr};  // counted reference while linked
  TActiveProc proc_;
  void* param_;
};

// Waits in 10 ms steps while workers are started and not yet freed, up to
// `timeout_ms`; returns how many are left.
int32_t WaitForActiveThreads(uint32_t timeout_ms);
// The number of workers started and not yet freed.
int32_t ActiveThreadCount() noexcept;

}  // namespace kav
