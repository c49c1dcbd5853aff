// Watches the mouse cursor over one form: reports when the cursor enters
// or leaves the form's client area, hides the cursor after a time without
// movement and shows it again when the mouse moves. GUI thread only.
#pragma once

#include <cstdint>

#include "VoRav/Application2/vxForms.h"
#include "VoRav/Application2/vxTimer2.h"

namespace kav {

class TMouseMonitor;
using TMouseMonitorEvent = TDelegate<void(TMouseMonitor* monitor)>;

class TMouseMonitor : public TRefObject {
 public:
  // `form` must be given (an assertion otherwise). With `own_release` the
  // monitor drops its own reference when the form goes.
  TMouseMonitor(TVxForm* form, bool own_release);

  void SetEnterCallback(TMouseMonitorEvent callback);
  // Also marks the cursor inside and checks at once.
  void SetLeaveCallback(TMouseMonitorEvent callback);
  TMouseMonitorEvent OnCaptureLost;
  TMouseMonitorEvent OnHiddenChanged;
  TMouseMonitorEvent OnCheck;

  // Time without movement before the cursor hides; 0 never hides by time.
  void SetInterval(int32_t ms);
  int32_t Interval() const { return interval_; }
  void SetHidden(bool hidden);
  bool Hidden() const { return hidden_; }
  // The form is visible and the cursor lies in its client rectangle.
  bool IsInside();
  bool Inside() const { return inside_; }
  bool Polling() const { return poll_ != nullptr; }
  TVxForm* Form() const { return form_; }
  // Lets go of the form; releases itself when asked to at construction.
  void Detach();

  // The form's events (destroyed, capture, visible, mouse).
  void HandleFormEvent(TRefObject* sender, uint32_t id, void* param);
  void Check();
  void CheckMove();
  // The cursor moved by 5 pixels or more in x or in y since the hidden
  // state was last set.
  bool CursorMoved() const;

 protected:
  void Dispose() override;

 private:
  void PollTick(TTimerEvent* event);
  void StopPolling();

  TVxForm* form_;  // not owned: the monitor lives inside the form's life
  bool own_release_;
  TMultiTimerEvent* poll_ = nullptr;
  bool inside_ = false;
  TMouseMonitorEvent on_enter_, on_leave_;
  int32_t interval_ = 0;
  bool hidden_ = false;
  TPoint last_pos_{-2147483647, -2147483647};
  uint32_t last_move_ = 0;
};

}  // namespace kav
