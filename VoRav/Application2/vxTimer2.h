// Timers of the GUI thread.
//
// TCustomTimer is a platform timer that calls one handler at a fixed
// interval (TTimer on the application window is the one start-up installs).
// TMultiTimer multiplexes any number of timed events onto one platform
// timer; each event fires once per due time, however late the tick (the
// missed count tells how many intervals were skipped). The platform timer is
// re-armed to the nearest due time after every change, shorter or longer.
// GUI thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/vxDelegate.h"
#include "VoRav/SysObj2.h"
#include "VoRav/wpExceptions.h"

namespace kav {

KAV_DECLARE_COMMON_EXCEPTION(ETimerError, TCommonException);

using TNotifyEvent = TDelegate<void(TRefObject* sender)>;

class TCustomTimer : public TRefObject {
 public:
  virtual bool GetEnabled() = 0;
  virtual uint32_t GetInterval() = 0;
  virtual TNotifyEvent GetOnTimer() = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual void SetInterval(uint32_t interval_ms) = 0;
  virtual void SetOnTimer(TNotifyEvent handler) = 0;
};

class TCustomWinTimer : public TCustomTimer {
 public:
  bool GetEnabled() override { return enabled_; }
  uint32_t GetInterval() override { return interval_; }
  TNotifyEvent GetOnTimer() override { return on_timer_; }
  // The setters re-arm only when the value changes; SetOnTimer always does.
  void SetEnabled(bool enabled) override;
  void SetInterval(uint32_t interval_ms) override;
  void SetOnTimer(TNotifyEvent handler) override;

 protected:
  void Dispose() override;
  virtual void UpdateTimer() = 0;
  void Fire() {
    if (on_timer_) on_timer_(this);
  }

 private:
  bool enabled_ = false;
  uint32_t interval_ = 1000;
  TNotifyEvent on_timer_;
};

// Creates the platform timer (TTimer on the application window).
using TTimerFactory = TCustomTimer* (*)();
extern TTimerFactory PlatformTimerFactory;

class TTimerEvent;
using TTimerEventHandler = TDelegate<void(TTimerEvent* event)>;

class TTimerEvent : public TRefObject {
 public:
  uint32_t Interval = 0;
  intptr_t Tag = 0;
  TTimerEventHandler Handler;
  uint32_t FireCount = 0;
  uint32_t MissedCount = 0;  // intervals skipped at the last firing
  int32_t UseCount = 1;
};

class TMultiTimerEvent : public TTimerEvent {
 public:
  uint32_t StartTime = 0;
  uint32_t NextDue = 0;
  bool Removed = false;  // its owner let it go
};

class TMultiTimer : public TRefObject {
 public:
  TMultiTimer();

  // None for an interval below 1 ms or no handler.
  TMultiTimerEvent* AddEvent(uint32_t interval_ms, intptr_t tag, TTimerEventHandler handler);
  // Drops one use; the last frees the event (and with the last event the
  // platform timer stops).
  void DropUse(TMultiTimerEvent* event);
  // The platform timer's handler: fires every due event once.
  void Tick(TRefObject* sender);

  TCustomTimer* PlatformTimer() const { return platform_.get(); }
  int32_t EventCount() const { return static_cast<int32_t>(events_.size()); }

 protected:
  void Dispose() override;

 private:
  // Sets the platform timer to the nearest due time (or stops it).
  void Rearm(uint32_t now);

  Ref<TCustomTimer> platform_;
  std::vector<TMultiTimerEvent*> events_;  // one reference each
};

// The global multi-timer, made by the first MultiTimerAddEvent.
TMultiTimerEvent* MultiTimerAddEvent(uint32_t interval_ms, intptr_t tag, TTimerEventHandler handler);
// Drops the caller's use of the event and clears the variable.
void MultiTimerRemoveEvent(TMultiTimerEvent*& event);
TMultiTimer* GlobalMultiTimer();
// Module finalisation: frees the global multi-timer (no events may remain).
void FreeMultiTimer();

}  // namespace kav
