// The thread behind a sound buffer: calls a start callback once, then a
// loop callback whenever it is woken or a period has passed, until stopped.
// Used by the timer channel's poll (every 10 ms) and by every streaming
// buffer's refill (on wake or every 100 ms).
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "VoRav/wpThreads2.h"

namespace kav {

class TDSEventThread : public TThread {
 public:
  // `name` is logged when stopping takes long.
  TDSEventThread(std::function<void()> start, std::function<void()> loop, uint32_t period_ms, const char* name);
  // Wakes the loop at once (an auto-reset event: several wakes before the
  // loop runs count as one).
  void Wake();
  // Signals the stop event and waits for the thread to end; a thread that
  // takes longer than 1000 ms is logged, and the wait goes on (threads are
  // never killed). Called by its owner, never by the thread itself.
  void StopAndWait();

 protected:
  void Execute() override;
  void Dispose() override;

 private:
  std::function<void()> start_, loop_;
  uint32_t period_ms_;
  const char* name_;
  std::mutex lock_;
  std::condition_variable signal_;
  bool stop_ = false, wake_ = false;
};

}  // namespace kav
