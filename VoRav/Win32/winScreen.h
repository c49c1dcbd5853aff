// Screens and display monitors: the monitor list, the primary screen's size
// and work area, the whole desktop, refresh rate, colour depth and pixels
// per inch.
//
// Everything is answered from the display service (platform/display), whose
// snapshot may be read from any thread. When the service reports no monitor
// at all, one pseudo-monitor standing for the primary screen takes the place
// of the list, so callers always see at least one monitor: its handle is
// kPseudoMonitor and its rectangle (0, 0) to the primary screen's size
// (kFallbackScreenWidth x kFallbackScreenHeight when nothing is known).
//
// Monitor handles stand for the service's monitors by position: handle
// n + 1 is monitor n of the current snapshot. A handle names nothing once
// the monitor is gone; the queries then answer failure.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "VoRav/SysObj2.h"
#include "VoRav/vxLists.h"
#include "VoRav/wpTypes.h"

namespace kav {

using THMonitor = uintptr_t;
inline constexpr THMonitor kPseudoMonitor = 0x12340042;
inline constexpr int32_t kFallbackScreenWidth = 1024;
inline constexpr int32_t kFallbackScreenHeight = 768;

// Monitor flags.
inline constexpr uint32_t kMonitorInfoPrimary = 1;
// Record sizes: the plain record, and the one with the device name.
inline constexpr uint32_t kMonitorInfoSize = 40;
inline constexpr uint32_t kMonitorInfoExSize = 72;

struct TMonitorInfo {
  uint32_t Size = kMonitorInfoExSize;  // set by the caller
  TRect Monitor;
  TRect Work;
  uint32_t Flags = 0;
  std::u16string Device;  // filled only for a record of kMonitorInfoExSize or more
};

// Called once per monitor with its handle, its rectangle (cut to the clip
// rectangle when one was given) and the caller's data; false stops the
// enumeration.
using TMonitorEnumProc = bool (*)(THMonitor monitor, const TRect& rect, void* data);

// Calls `proc` for every monitor whose rectangle meets `clip` (every monitor
// for a null clip), in the service's order, with the overlap. Answers true
// unless the callback stopped it. The pseudo-monitor stands in when the
// service has none.
bool EnumDisplayMonitors(const TRect* clip, TMonitorEnumProc proc, void* data);
// The rectangle, work area, flags and (for a long record) the device name of
// a monitor. False for an unknown handle and for a record shorter than
// kMonitorInfoSize.
bool GetMonitorInfo(THMonitor monitor, TMonitorInfo& info);
// The monitor's rectangle; the primary screen's rectangle when the monitor
// is unknown; the empty rectangle for handle 0.
TRect GetMonitorBounds(THMonitor monitor);

// One monitor of the list.
class TScreenMonitor : public TRefObject {
 public:
  TScreenMonitor(THMonitor handle, int32_t index) : handle_(handle), index_(index) {}
  THMonitor Handle() const noexcept { return handle_; }
  int32_t Index() const noexcept { return index_; }
  // GetMonitorBounds of the handle.
  TRect GetBounds() const;
  bool IsPrimary() const;

 private:
  THMonitor handle_;
  int32_t index_;
};

// The monitor list. Refresh and the queries may come from any thread.
class TScreen : public TRefObject {
 public:
  // The list, filled by a first Refresh.
  TScreen();
  // Re-enumerates the monitors.
  void Refresh();
  int32_t MonitorCount() const;
  // Monitor `index` (a counted reference), nil outside the list.
  Ref<TScreenMonitor> GetMonitor(int32_t index) const;

 protected:
  void Dispose() override;

 private:
  static bool AddMonitor(THMonitor monitor, const TRect& rect, void* data);
  mutable std::mutex lock_;
  Ref<TList> monitors_;
};

// The process's monitor list, made on first use.
TScreen* Screen();

// The primary screen's size.
TSize GetScreenSize();
// The primary screen's work area.
TRect GetWorkArea();
// A w x h rectangle centred in the work area (halves rounded toward zero);
// negative offsets from the work area's corner when it is larger.
TRect CenterInWorkArea(int32_t w, int32_t h);
// The union of all monitor rectangles (the primary screen's rectangle when
// there are none).
TRect GetDesktopRect();
// The primary screen's refresh rate in Hz; 0 when the system does not report one.
int32_t GetScreenRefreshRate();
// The primary screen's pixels per inch.
void GetScreenDpi(int32_t& x, int32_t& y);
// Bits per pixel of the primary screen's current mode.
int32_t GetScreenBitsPerPixel();

}  // namespace kav
