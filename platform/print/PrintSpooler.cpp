#include "platform/print/PrintSpooler.h"

#include <mutex>
#include <utility>

#include "platform/print/fake/FakeSpooler.h"

namespace kav::print {

namespace {

std::mutex g_lock;
std::shared_ptr<TPrintSpooler> g_spooler;
thread_local TPrintDeadline* t_deadline = nullptr;

}  // namespace

TPrintDeadline::TPrintDeadline(std::chrono::milliseconds budget)
    : deadline_(TClock::now() + budget), outer_(t_deadline) {
  if (outer_ && outer_->deadline_ < deadline_) deadline_ = outer_->deadline_;
  t_deadline = this;
}

TPrintDeadline::~TPrintDeadline() { t_deadline = outer_; }

std::optional<TPrintDeadline::TClock::time_point> CurrentPrintDeadline() {
  if (!t_deadline) return std::nullopt;
  return t_deadline->Deadline();
}

void NotePrintCallTimedOut() {
  for (TPrintDeadline* d = t_deadline; d; d = d->outer_) d->timed_out_ = true;
}

std::shared_ptr<TPrintSpooler> PrintSpooler() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_spooler) g_spooler = std::make_shared<TFakeSpooler>();
  return g_spooler;
}

std::shared_ptr<TPrintSpooler> SetPrintSpooler(std::shared_ptr<TPrintSpooler> spooler) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::shared_ptr<TPrintSpooler> previous = std::move(g_spooler);
  g_spooler = std::move(spooler);
  return previous;
}

}  // namespace kav::print
