// Input decoding: raw window messages into the platform-neutral key, mouse
// and wheel calls of forms and controls. Each decoder answers whether the
// message was of its kind (the caller then treats it as handled). GUI thread.
#pragma once

#include <cstdint>

#include "VoRav/Application2/winWndAPI.h"

namespace kav {

// Shift-state bits.
enum : uint8_t {
  kShiftWin = 1,
  kShiftShift = 2,
  kShiftAlt = 4,
  kShiftCtrl = 8,
  kShiftLeft = 16,
  kShiftRight = 32,
  kShiftMiddle = 64,
};
// Mouse buttons.
enum : int32_t { kMouseNone = 0, kMouseLeft = 1, kMouseRight = 4, kMouseMiddle = 5 };
// Mouse event kinds.
enum : uint8_t { kMouseMove = 0, kMouseDown = 1, kMouseUp = 2, kMouseDblClick = 3 };
// Key event kinds.
enum : uint8_t { kKeyUp = 0, kKeyDown = 1, kKeyChar = 2 };

// (shift, var key, kind): a key set to 0 counts as consumed.
using TKeyCallback = TDelegate<void(uint8_t shift, uint16_t& key, uint8_t kind)>;
// (shift, x, y, button, kind), client coordinates.
using TMouseCallback = TDelegate<void(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind)>;
// (shift, x, y, steps).
using TWheelCallback = TDelegate<void(uint8_t shift, int32_t x, int32_t y, int32_t steps)>;

// What the last key event of a window was; kept by the caller.
struct TLastKeyState {
  uint8_t Kind = kKeyUp;
  bool KeyAlive = false;
  bool HighSurrogate = false;  // the last character was the first half of a pair
};

uint8_t MouseKeysToShiftState(uint32_t keys);
uint8_t KeyDataToShiftState(win::LPARAM key_data);

bool DecodeMouseMessage(const TMessageRecord& msg, TMouseCallback callback);
// `window` 0 keeps the point in screen coordinates.
bool DecodeMouseWheelMessage(win::HWND window, const TMessageRecord& msg, TWheelCallback callback);
bool DecodeKeyMessage(const TMessageRecord& msg, TLastKeyState& last, TKeyCallback callback);

// The registered "MSWHEEL_ROLLMSG" message.
uint32_t WheelRollMessage();
// Clears the process-wide wheel remainder (for tests).
void ResetWheelRemainder();

}  // namespace kav
