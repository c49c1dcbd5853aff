#include "VoRav/Music/winDSEventThread.h"

#include <chrono>
#include <string>

#include "VoRav/vxLog.h"

namespace kav {

TDSEventThread::TDSEventThread(std::function<void()> start, std::function<void()> loop, uint32_t period_ms,
                               const char* name)
    : start_(std::move(start)), loop_(std::move(loop)), period_ms_(period_ms), name_(name) {}

void TDSEventThread::Wake() {
  std::lock_guard<std::mutex> hold(lock_);
  wake_ = true;
  signal_.notify_one();
}

void TDSEventThread::Execute() {
  if (start_) start_();
  std::unique_lock<std::mutex> hold(lock_);
  while (!stop_) {
    signal_.wait_for(hold, std::chrono::milliseconds(period_ms_), [this] { return stop_ || wake_; });
    if (stop_) break;
    wake_ = false;
    hold.unlock();
    if (loop_) loop_();
    hold.lock();
  }
}

void TDSEventThread::StopAndWait() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
    signal_.notify_one();
  }
  if (!WaitFor(1000)) {
    LogLine(u"Sound thread did not stop within 1000 ms: " + std::u16string(name_, name_ + std::char_traits<char>::length(name_)));
    WaitForever();
  }
}

void TDSEventThread::Dispose() {
  StopAndWait();
  TThread::Dispose();
}

}  // namespace kav
