#include "VoRav/wpThreads2.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "VoRav/SysLock.h"
#include "VoRav/vxTime.h"

namespace kav {

uint32_t CurrentThreadId() noexcept { return static_cast<uint32_t>(gettid()); }
// On Linux the first thread's id is the process id.
uint32_t MainThreadId() noexcept { return static_cast<uint32_t>(getpid()); }

// What one run shares between the TThread object and its thread. The thread
// keeps its own reference, so the run outlives an object that frees itself
// from inside Execute.
struct TThread::TRunState {
  Ref<TMutex> running_mutex;  // held by the thread from start to end
  Ref<TEvent> started_event;  // set once the thread holds running_mutex
  std::atomic<int32_t> tid{0};
  std::atomic<bool> ended{false};
  std::atomic<int32_t> exit_code{0};
  // Terminate's flag once more, owned by the run: read through
  // CurrentThreadStopRequested, which must not reach into a TThread that its
  // own Execute may release.
  std::atomic<bool> stop{false};
};

namespace {

const uint32_t kDisposeWaitMs = 3000;

bool NiceForPriority(int32_t priority, int& nice) {
  switch (priority) {
    case kThreadPriorityIdle: nice = 19; return true;
    case kThreadPriorityLowest: nice = 10; return true;
    case kThreadPriorityBelowNormal: nice = 5; return true;
    case kThreadPriorityNormal: nice = 0; return true;
    case kThreadPriorityAboveNormal: nice = -5; return true;
    case kThreadPriorityHighest: nice = -10; return true;
    case kThreadPriorityTimeCritical: nice = -20; return true;
    default: return false;
  }
}

int32_t PriorityForNice(int nice) {
  if (nice >= 15) return kThreadPriorityIdle;
  if (nice >= 8) return kThreadPriorityLowest;
  if (nice >= 3) return kThreadPriorityBelowNormal;
  if (nice > -3) return kThreadPriorityNormal;
  if (nice > -8) return kThreadPriorityAboveNormal;
  if (nice > -15) return kThreadPriorityHighest;
  return kThreadPriorityTimeCritical;
}

// The raise address is not known to C++ code; the line keeps its form.
void ReportThreadException(const std::exception* e) {
  DebugOutputThread("Thread Exception at: 00000000");
  if (e) ShowApplicationError(*e);
}

}  // namespace

TThread::TThread() = default;

namespace {
// The stop flag of the TThread whose Execute runs on this thread.
thread_local const std::atomic<bool>* t_stop_flag = nullptr;
}  // namespace

bool CurrentThreadStopRequested() noexcept {
  const std::atomic<bool>* flag = t_stop_flag;
  return flag && flag->load(std::memory_order_relaxed);
}

void TThread::ThreadRoutine(TThread* self, std::shared_ptr<TRunState> state) {
  state->tid = static_cast<int32_t>(gettid());
  state->tid.notify_all();
  int32_t code = 0;
  bool registered = false;
  try {
    if (!state->running_mutex->Enter()) throw EMutexTakeOwnershipError();
    // The thread holds running_mutex before it may refuse to run, so that even
    // a refused thread ends with the mutex abandoned and waiters see its end.
    registered = CoInitializeOnce();
    state->started_event->SetEvent();
    if (registered) {
      struct TStopFlagScope {
        explicit TStopFlagScope(const std::atomic<bool>* flag) { t_stop_flag = flag; }
        ~TStopFlagScope() { t_stop_flag = nullptr; }
      } scope(&state->stop);
      self->Execute();  // `self` may be gone once this returns
    }
  } catch (const std::exception& e) {
    code = 1;
    ReportThreadException(&e);
  } catch (...) {
    code = 1;
    ReportThreadException(nullptr);
  }
  state->started_event->SetEvent();  // also when taking the mutex failed
  if (registered) CoUninitializeOnce();
  state->exit_code = code;
  state->ended = true;
  // The thread ends holding running_mutex: the kernel marks it abandoned.
}

std::shared_ptr<TThread::TRunState> TThread::CurrentRun() {
  std::lock_guard<std::mutex> lock(control_);
  return run_;
}

bool TThread::IsRunningLocked() {
  if (!run_) return false;
  TMutex* m = run_->running_mutex.get();
  bool abandoned;
  if (m->WaitFor(0, abandoned)) {
    m->Release();  // free: the thread has not taken it yet (or we are the thread)
    return true;
  }
  return !abandoned;
}

bool TThread::IsRunning() {
  std::lock_guard<std::mutex> lock(control_);
  return IsRunningLocked();
}

bool TThread::Start() {
  std::lock_guard<std::mutex> lock(control_);
  if (IsRunningLocked()) return false;
  if (handle_.joinable()) handle_.join();  // the previous run has ended
  auto state = std::make_shared<TRunState>();
  state->running_mutex = MakeRef<TMutex>();
  state->started_event = MakeRef<TEvent>();
  terminated_ = false;
  run_ = state;
  try {
    handle_ = std::thread(&TThread::ThreadRoutine, this, state);
  } catch (const std::system_error&) {
    run_.reset();  // as if never started: waits do not hang on it
    return false;
  }
  state->tid.wait(0);  // the thread publishes its id first thing
  return true;
}

void TThread::Terminate() {
  terminated_ = true;
  if (std::shared_ptr<TRunState> run = CurrentRun()) run->stop = true;
}

bool TThread::WaitFor(uint32_t timeout_ms) {
  std::shared_ptr<TRunState> state = CurrentRun();
  if (!state) return true;
  if (state->tid.load() == static_cast<int32_t>(gettid())) return false;
  int64_t deadline = MonotonicMs() + timeout_ms;
  if (!state->started_event->WaitFor(timeout_ms)) return false;
  uint32_t remaining = timeout_ms;
  if (timeout_ms != kInfinite) {
    int64_t left = deadline - MonotonicMs();
    remaining = left > 0 ? static_cast<uint32_t>(left) : 0;
  }
  bool abandoned;
  if (state->running_mutex->WaitFor(remaining, abandoned)) {
    // Taken: the thread failed to take it and has ended.
    state->running_mutex->Release();
    return true;
  }
  return abandoned;
}

void TThread::Kill() {
  if (!IsRunning()) return;
  DebugOutputThread("TThread.Kill: " + ClassName() + " is not killed, waiting for it to end");
  WaitForever();
}

int32_t TThread::GetPriority() {
  std::shared_ptr<TRunState> state = CurrentRun();
  if (!state || state->ended) return kThreadPriorityErrorReturn;
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(state->tid.load()));
  if (nice == -1 && errno != 0) return kThreadPriorityErrorReturn;
  return PriorityForNice(nice);
}

bool TThread::SetPriority(int32_t priority) {
  int nice;
  if (!NiceForPriority(priority, nice)) return false;
  std::shared_ptr<TRunState> state = CurrentRun();
  if (!state || state->ended) return false;
  return setpriority(PRIO_PROCESS, static_cast<id_t>(state->tid.load()), nice) == 0;
}

std::optional<int32_t> TThread::ExitCode() const {
  std::lock_guard<std::mutex> lock(control_);
  if (!run_ || !run_->ended) return std::nullopt;
  return run_->exit_code.load();
}

void TThread::Dispose() {
  Terminate();
  bool self;
  {
    std::lock_guard<std::mutex> lock(control_);
    self = handle_.joinable() && handle_.get_id() == std::this_thread::get_id();
    if (self) handle_.detach();  // freed from its own Execute: it ends on its own
  }
  if (!self) {
    if (!WaitFor(kDisposeWaitMs))
      DebugOutputThread("TThread: " + ClassName() + " did not stop within 3000 ms, still waiting");
    std::thread ending;
    {
      std::lock_guard<std::mutex> lock(control_);
      ending = std::move(handle_);
    }
    // Joined without the lock: Execute may still ask IsRunning while it stops.
    if (ending.joinable()) ending.join();
  }
  {
    std::lock_guard<std::mutex> lock(control_);
    run_.reset();
  }
  TRefObject::Dispose();
}

}  // namespace kav
