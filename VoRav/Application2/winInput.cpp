#include "VoRav/Application2/winInput.h"

namespace kav {

using namespace win;

namespace {

// The wheel's part steps, carried from message to message.
int32_t g_wheel_remainder = 0;

uint8_t WinKeyState() {
  return (GetKeyState(VK_LWIN) < 0 || GetKeyState(VK_RWIN) < 0) ? kShiftWin : 0;
}

}  // namespace

uint8_t MouseKeysToShiftState(uint32_t keys) {
  uint8_t s = WinKeyState();
  if (keys & MK_SHIFT) s |= kShiftShift;
  if (keys & MK_CONTROL) s |= kShiftCtrl;
  if (keys & MK_LBUTTON) s |= kShiftLeft;
  if (keys & MK_RBUTTON) s |= kShiftRight;
  if (keys & MK_MBUTTON) s |= kShiftMiddle;
  if (GetKeyState(VK_MENU) < 0) s |= kShiftAlt;
  return s;
}

uint8_t KeyDataToShiftState(LPARAM key_data) {
  uint8_t s = WinKeyState();
  if (GetKeyState(VK_SHIFT) < 0) s |= kShiftShift;
  if (GetKeyState(VK_CONTROL) < 0) s |= kShiftCtrl;
  if (key_data & (1 << 29)) s |= kShiftAlt;
  return s;
}

bool DecodeMouseMessage(const TMessageRecord& msg, TMouseCallback callback) {
  int32_t button;
  uint8_t kind;
  switch (msg.Msg) {
    case WM_MOUSEMOVE: button = kMouseNone; kind = kMouseMove; break;
    case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK:
      button = kMouseLeft; kind = static_cast<uint8_t>(msg.Msg - WM_LBUTTONDOWN + 1); break;
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK:
      button = kMouseRight; kind = static_cast<uint8_t>(msg.Msg - WM_RBUTTONDOWN + 1); break;
    case WM_MBUTTONDOWN: case WM_MBUTTONUP: case WM_MBUTTONDBLCLK:
      button = kMouseMiddle; kind = static_cast<uint8_t>(msg.Msg - WM_MBUTTONDOWN + 1); break;
    default:
      return false;
  }
  if (!callback) return true;
  const uint8_t shift = MouseKeysToShiftState(static_cast<uint32_t>(msg.WParam & 0xFFFF));
  const int32_t x = LoWord16(msg.LParam), y = HiWord16(msg.LParam);
  if (kind == kMouseDblClick) callback(shift, x, y, button, kMouseDown);
  callback(shift, x, y, button, kind);
  return true;
}

bool DecodeMouseWheelMessage(HWND window, const TMessageRecord& msg, TWheelCallback callback) {
  if (msg.Msg != WM_MOUSEWHEEL && msg.Msg != WheelRollMessage()) return false;
  TPoint p{LoWord16(msg.LParam), HiWord16(msg.LParam)};
  if (window) ScreenToClient(window, &p);
  g_wheel_remainder += HiWord16(static_cast<intptr_t>(msg.WParam));
  if (g_wheel_remainder > -120 && g_wheel_remainder < 120) return true;
  const int32_t steps = g_wheel_remainder / 120;
  g_wheel_remainder -= steps * 120;
  if (callback) callback(MouseKeysToShiftState(static_cast<uint32_t>(msg.WParam & 0xFFFF)), p.X, p.Y, steps);
  return true;
}

bool DecodeKeyMessage(const TMessageRecord& msg, TLastKeyState& last, TKeyCallback callback) {
  uint8_t kind;
  switch (msg.Msg) {
    case WM_KEYDOWN: case WM_SYSKEYDOWN: kind = kKeyDown; break;
    case WM_KEYUP: case WM_SYSKEYUP: kind = kKeyUp; break;
    case WM_CHAR: case WM_SYSCHAR: kind = kKeyChar; break;
    default: return false;
  }
  // A character counts only after a key down that its handler left alive.
  // The second half of a surrogate pair follows its first half: it is let
  // through too, or characters above U+FFFF would lose it.
  uint16_t key = static_cast<uint16_t>(msg.WParam);
  const bool pair_end = kind == kKeyChar && last.Kind == kKeyChar && last.HighSurrogate && key >= 0xDC00 && key <= 0xDFFF;
  if (kind == kKeyChar && !pair_end && !(last.Kind == kKeyDown && last.KeyAlive)) return true;
  // Characters arrive as UTF-16 units already: no code-page conversion.
  if (callback) callback(KeyDataToShiftState(msg.LParam), key, kind);
  last.Kind = kind;
  last.KeyAlive = key != 0;
  last.HighSurrogate = kind == kKeyChar && key >= 0xD800 && key <= 0xDBFF;
  return true;
}

uint32_t WheelRollMessage() { return RegisterWindowMessage(u"MSWHEEL_ROLLMSG"); }

void ResetWheelRemainder() { g_wheel_remainder = 0; }

}  // namespace kav
