#include "KavLib2/KavEngine/KavMouseMonitor.h"

#include <cstdlib>

#include "VoRav/wpExceptions.h"
#include "platform/window/WinApi.h"
#include "platform/window/WinBackend.h"

namespace kav {

namespace {
constexpr uint32_t kFormEventCapture = kFormCapture + 1;
constexpr uint32_t kFormEventVisible = kFormVisible + 1;
constexpr uint32_t kMonitorEvents[] = {kFormEventDestroy, kFormEventCapture, kFormEventVisible, kFormEventMouse};
constexpr uint32_t kPollMs = 20;

uint32_t Now() { return win::Backend().Now(); }

TPoint CursorPos() {
  TPoint p{};
  win::GetCursorPos(&p);
  return p;
}
}  // namespace

TMouseMonitor::TMouseMonitor(TVxForm* form, bool own_release) : form_(form), own_release_(own_release) {
  KAV_ASSERT(form != nullptr);
  form_->Events()->AddHandlers(kMonitorEvents, TEventListHandler::Bind<&TMouseMonitor::HandleFormEvent>(this));
  last_move_ = Now();
}

void TMouseMonitor::Dispose() {
  own_release_ = false;
  Detach();
  TRefObject::Dispose();
}

void TMouseMonitor::Detach() {
  if (form_) {
    form_->Events()->RemoveHandlers(kMonitorEvents, TEventListHandler::Bind<&TMouseMonitor::HandleFormEvent>(this));
    form_ = nullptr;
  }
  Check();  // without a form: outside, so the poll timer stops
  StopPolling();
  if (own_release_) {
    own_release_ = false;
    RefRelease(this);
  }
}

void TMouseMonitor::SetEnterCallback(TMouseMonitorEvent callback) { on_enter_ = callback; }

void TMouseMonitor::SetLeaveCallback(TMouseMonitorEvent callback) {
  on_leave_ = callback;
  inside_ = true;
  if (IsInside()) Check();
}

void TMouseMonitor::SetInterval(int32_t ms) {
  if (ms < 0) ms = 0;
  if (ms == interval_) return;
  interval_ = ms;
  SetHidden(hidden_);
}

void TMouseMonitor::SetHidden(bool hidden) {
  last_move_ = Now();
  last_pos_ = CursorPos();
  if (hidden == hidden_) return;
  hidden_ = hidden;
  if (OnHiddenChanged.Assigned()) OnHiddenChanged(this);
}

bool TMouseMonitor::IsInside() {
  if (!form_ || !form_->Visible()) return false;
  const TRect client = form_->GetClientRect();
  const TPoint p = form_->ScreenToClient(CursorPos());
  return p.X >= client.Left && p.Y >= client.Top && p.X < client.Right && p.Y < client.Bottom;
}

void TMouseMonitor::HandleFormEvent(TRefObject*, uint32_t id, void*) {
  switch (id) {
    case kFormEventDestroy:
      Detach();
      return;
    case kFormEventCapture:
      if (form_ && !form_->HasMouseCapture() && OnCaptureLost.Assigned()) OnCaptureLost(this);
      return;
    case kFormEventVisible:
      Check();
      return;
    case kFormEventMouse:
      Check();
      CheckMove();
      return;
    default:
      KAV_ASSERT_FAIL("TMouseMonitor: unexpected form event");
  }
}

void TMouseMonitor::Check() {
  Ref<TMouseMonitor> keep = KeepAlive(this);  // a callback may release the monitor
  if (OnCheck.Assigned()) OnCheck(this);
  if (on_enter_.Assigned() || on_leave_.Assigned()) {
    const bool inside = IsInside();
    if (inside != inside_) {
      inside_ = inside;
      if (inside && on_enter_.Assigned()) on_enter_(this);
      if (!inside && on_leave_.Assigned()) on_leave_(this);
    }
  }
  if (inside_ && form_) {
    if (!poll_) poll_ = MultiTimerAddEvent(kPollMs, 0, TTimerEventHandler::Bind<&TMouseMonitor::PollTick>(this));
  } else {
    StopPolling();
  }
  if (interval_ > 0 && Now() - last_move_ > uint32_t(interval_)) SetHidden(true);
}

void TMouseMonitor::CheckMove() {
  if (interval_ > 0 && CursorMoved()) SetHidden(false);
}

bool TMouseMonitor::CursorMoved() const {
  const TPoint p = CursorPos();
  return std::llabs(int64_t(p.X) - last_pos_.X) >= 5 || std::llabs(int64_t(p.Y) - last_pos_.Y) >= 5;
}

void TMouseMonitor::PollTick(TTimerEvent*) { Check(); }

void TMouseMonitor::StopPolling() {
  if (poll_) MultiTimerRemoveEvent(poll_);
}

}  // namespace kav
