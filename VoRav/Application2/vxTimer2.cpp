#include "VoRav/Application2/vxTimer2.h"

#include <algorithm>
#include <climits>

#include "platform/window/WinBackend.h"

namespace kav {

namespace {

TMultiTimer* g_multi_timer = nullptr;

// The window layer's clock: the elapsed-time clock unless a test sets its own.
uint32_t Now() { return win::Backend().Now(); }

}  // namespace

void TCustomWinTimer::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  UpdateTimer();
}

void TCustomWinTimer::SetInterval(uint32_t interval_ms) {
  if (interval_ == interval_ms) return;
  interval_ = interval_ms;
  UpdateTimer();
}

void TCustomWinTimer::SetOnTimer(TNotifyEvent handler) {
  on_timer_ = handler;
  UpdateTimer();
}

void TCustomWinTimer::Dispose() {
  SetEnabled(false);
  TCustomTimer::Dispose();
}

TMultiTimer::TMultiTimer() {
  KAV_ASSERT(PlatformTimerFactory != nullptr);
  platform_ = Ref<TCustomTimer>::Adopt(PlatformTimerFactory());
  platform_->SetOnTimer(TNotifyEvent::Bind<&TMultiTimer::Tick>(this));
}

TMultiTimerEvent* TMultiTimer::AddEvent(uint32_t interval_ms, intptr_t tag, TTimerEventHandler handler) {
  if (interval_ms < 1 || !handler) return nullptr;
  auto* e = new TMultiTimerEvent();
  const uint32_t now = Now();
  e->Interval = interval_ms;
  e->Tag = tag;
  e->Handler = handler;
  e->StartTime = now;
  e->NextDue = now + interval_ms;
  events_.push_back(e);
  // Re-armed to the nearest due time of all events, not to the new one's
  // interval: a shorter event already armed keeps its pace.
  Rearm(now);
  return e;
}

void TMultiTimer::Rearm(uint32_t now) {
  if (events_.empty()) {
    platform_->SetEnabled(false);
    return;
  }
  int64_t smallest = INT32_MAX;
  for (TMultiTimerEvent* e : events_)
    if (!e->Removed) smallest = std::min<int64_t>(smallest, static_cast<int32_t>(e->NextDue - now));
  platform_->SetInterval(static_cast<uint32_t>(std::max<int64_t>(smallest, 1)));
  platform_->SetEnabled(true);
}

void TMultiTimer::DropUse(TMultiTimerEvent* event) {
  if (--event->UseCount > 0) return;
  events_.erase(std::remove(events_.begin(), events_.end(), event), events_.end());
  event->Free();
  if (events_.empty()) platform_->SetEnabled(false);
}

void TMultiTimer::Tick(TRefObject*) {
  const uint32_t now = Now();
  // Every event of this pass is held by a use, so a handler may remove any
  // of them (itself included) without the pass touching freed memory.
  std::vector<TMultiTimerEvent*> pass = events_;
  for (TMultiTimerEvent* e : pass) e->UseCount++;
  for (TMultiTimerEvent* e : pass) {
    if (e->Removed) continue;
    const int32_t delay = static_cast<int32_t>(e->NextDue - now);
    if (delay < 1) {
      const uint32_t steps = static_cast<uint32_t>(-static_cast<int64_t>(delay)) / e->Interval + 1;
      e->NextDue += steps * e->Interval;
      e->MissedCount = steps - 1;
      e->FireCount += steps;
      e->Handler(e);
    }
  }
  for (TMultiTimerEvent* e : pass) DropUse(e);
  Rearm(now);
}

void TMultiTimer::Dispose() {
  KAV_ASSERT(events_.empty());
  platform_ = nullptr;
  TRefObject::Dispose();
}

TMultiTimerEvent* MultiTimerAddEvent(uint32_t interval_ms, intptr_t tag, TTimerEventHandler handler) {
  if (!g_multi_timer) g_multi_timer = new TMultiTimer();
  return g_multi_timer->AddEvent(interval_ms, tag, handler);
}

void MultiTimerRemoveEvent(TMultiTimerEvent*& event) {
  KAV_ASSERT(g_multi_timer != nullptr);
  if (!event) return;
  TMultiTimerEvent* e = std::exchange(event, nullptr);
  e->Removed = true;
  g_multi_timer->DropUse(e);
}

TMultiTimer* GlobalMultiTimer() { return g_multi_timer; }

void FreeMultiTimer() {
  if (TMultiTimer* m = std::exchange(g_multi_timer, nullptr)) m->Free();
}

}  // namespace kav
