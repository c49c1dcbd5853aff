// The thread class.
//
// A TThread runs its Execute on a thread of its own after Start. While it runs
// the thread holds RunningMutex; it ends without releasing it, so waiters see
// the mutex abandoned, which means "ended". Threads are never killed: freeing
// a TThread asks it to stop (Terminate) and waits for it to end, writing a
// line to the debug output when that takes longer than 3000 ms.
//
//   class TWorker : public TThread {
//     void Execute() override { while (!Terminated()) DoSomeWork(); }
//   };
//   Ref<TWorker> w = MakeRef<TWorker>();
//   w->Start();
//
// Descendants whose Execute uses fields they own stop the thread (Terminate,
// WaitForever) in their own Dispose before releasing those fields: the
// inherited Dispose runs last, after theirs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "VoRav/wpLocks.h"

namespace kav {

// Thread priorities, the Windows levels.
inline constexpr int32_t kThreadPriorityIdle = -15;
inline constexpr int32_t kThreadPriorityLowest = -2;
inline constexpr int32_t kThreadPriorityBelowNormal = -1;
inline constexpr int32_t kThreadPriorityNormal = 0;
inline constexpr int32_t kThreadPriorityAboveNormal = 1;
inline constexpr int32_t kThreadPriorityHighest = 2;
inline constexpr int32_t kThreadPriorityTimeCritical = 15;
// GetPriority's answer when there is no running thread.
inline constexpr int32_t kThreadPriorityErrorReturn = 0x7FFFFFFF;

// The calling thread's system id.
uint32_t CurrentThreadId() noexcept;
// The id of the thread that started the program (the GUI thread); compared
// with CurrentThreadId to decide whether work must be handed to the GUI thread.
uint32_t MainThreadId() noexcept;
inline bool IsMainThread() noexcept { return CurrentThreadId() == MainThreadId(); }
// True when the calling thread runs a TThread's Execute and that thread was
// asked to stop (Terminate): long work (text layout, decoding) checks it and
// gives up, since its result will not be used. False on any other thread.
bool CurrentThreadStopRequested() noexcept;

class TThread : public TRefObject {
 public:
  // Only constructs: the thread does not run yet.
  TThread();

  // False when the thread is running. Otherwise starts a new run of Execute
  // on a new thread (a thread may be started again after it ended) and
  // answers whether the system created the thread.
  bool Start();
  // Asks Execute to stop: sets Terminated, which Execute polls.
  virtual void Terminate();
  bool Terminated() const noexcept { return terminated_.load(); }

  // True when the thread has ended within `timeout_ms`, or was never started.
  // Called by the thread itself it answers false at once: a thread cannot see
  // its own end.
  bool WaitFor(uint32_t timeout_ms);
  bool WaitForever() { return WaitFor(kInfinite); }
  // True from Start until the thread has ended.
  bool IsRunning();
  // Stand-in for a forced end: threads are never killed, so this writes a line
  // to the debug output and waits for the thread to end.
  void Kill();

  // The thread's priority as a Windows level; kThreadPriorityErrorReturn when
  // it is not running.
  int32_t GetPriority();
  // False when the thread is not running, the level is not one of the
  // kThreadPriority values, or the system refuses (raising a priority needs
  // privileges).
  bool SetPriority(int32_t priority);

  // The exit code of the last run: 0 after a normal Execute, 1 after an
  // exception escaped it. Empty while running or when never started.
  std::optional<int32_t> ExitCode() const;

 protected:
  // The work of the thread. Exceptions escaping it are reported (debug output
  // and the error display) and end the thread with exit code 1.
  virtual void Execute() = 0;
  void Dispose() override;

 private:
  struct TRunState;
  static void ThreadRoutine(TThread* self, std::shared_ptr<TRunState> state);
  bool IsRunningLocked();
  std::shared_ptr<TRunState> CurrentRun();

  mutable std::mutex control_;          // guards run_ and handle_
  std::shared_ptr<TRunState> run_;      // RunningMutex, StartedEvent and the exit code of the last run
  std::thread handle_;
  std::atomic<bool> terminated_{false};
};

}  // namespace kav
