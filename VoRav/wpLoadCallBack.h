// The loading callback: one global handler that long loops (decoding, row
// processing, texture tiling, chunked reads) call between steps.
//
// The handler answers true to go on and false to stop the loop at once. The
// show engine chooses how it behaves with SetLoadCallbackMode:
//   0  always go on (the mode at start)
//   1  go on; at most every 6 ms give up the rest of the time slice
//   2  go on; at most every 6 ms sleep 1 ms; the process runs at the high
//      priority class while this mode is selected
//   3  always stop
// The mode is written by one thread (the engine) and read by any number of
// loading threads; a call reads the handler once.
#pragma once

#include <cstdint>

#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"

namespace kav {

// The handler: called with the object whose loop runs.
using TLoadCallback = TDelegate<bool(TRefObject* sender)>;

// Holder of the four handlers the modes select; it has no state of its own.
class TDefCallBack {
 public:
  bool Continue(TRefObject* sender);
  bool YieldSlice(TRefObject* sender);
  bool SleepShort(TRefObject* sender);
  bool Stop(TRefObject* sender);
};

// The handler of the selected mode.
TLoadCallback GetLoadCallback();
// Calls the selected handler with `sender`: true to go on, false to stop.
bool CallLoadCallback(TRefObject* sender);

// Selects mode 0..3 (any other value is an assertion, EAbort). Selecting the
// mode already selected does nothing; otherwise the current time is noted as
// the last yield, and entering or leaving mode 2 sets the process priority
// class to high or back to normal.
void SetLoadCallbackMode(uint8_t mode);
uint8_t GetLoadCallbackMode();
// The elapsed-time clock's value (GetElapsedMs) at the last yield.
uint32_t GetLastYieldMs();

}  // namespace kav
