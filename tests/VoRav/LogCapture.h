// Collects the lines written to the global log while it lives, and puts the
// previous log back afterwards.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "VoRav/vxLog.h"

namespace kav::test {

class TLogCapture {
 public:
  TLogCapture() : log_(MakeRef<TCollectLog>()), saved_(GetGlobalLog()) { SetGlobalLog(Ref<TLog>(log_.get())); }
  ~TLogCapture() { SetGlobalLog(saved_); }
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  std::vector<std::u16string> Lines() const {
    std::lock_guard<std::mutex> hold(log_->lock);
    return log_->lines;
  }
  size_t Count() const { return Lines().size(); }
  // The lines so far, then none.
  std::vector<std::u16string> Take() {
    std::vector<std::u16string> out;
    std::lock_guard<std::mutex> hold(log_->lock);
    out.swap(log_->lines);
    return out;
  }
  // Whether exactly one line came since the last Take, and it holds `part`.
  bool OneLineWith(std::u16string_view part) {
    const std::vector<std::u16string> lines = Take();
    return lines.size() == 1 && lines[0].find(part) != std::u16string::npos;
  }

 private:
  struct TCollectLog : TLog {
    mutable std::mutex lock;
    std::vector<std::u16string> lines;
    void WriteLine(const std::u16string& text) override {
      std::lock_guard<std::mutex> hold(lock);
      lines.push_back(text);
    }
  };
  Ref<TCollectLog> log_;
  Ref<TLog> saved_;
};

}  // namespace kav::test
