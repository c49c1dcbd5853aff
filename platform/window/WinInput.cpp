// Input delivered by the backend, key state, cursors, low-level keyboard
// hooks, metrics and message boxes.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iterator>

#include "platform/window/WinState.h"

namespace kav::win {

using namespace detail;

namespace {

constexpr uint32_t kDoubleClickMs = 500;
constexpr int32_t kDoubleClickCx = 4;
constexpr int32_t kDoubleClickCy = 4;
// The system defaults: scroll-bar size at 96 pixels per inch, caret blink
// period, key repeat delay (0..3) and speed (0..31).
constexpr int32_t kScrollBarSize96 = 17;
constexpr uint32_t kCaretBlinkMs = 530;
constexpr int32_t kKeyboardDelay = 1;
constexpr int32_t kKeyboardSpeed = 31;
// Paint messages handled each time a message box's wait serves the
// windows: a window whose paint leaves it invalid cannot hold the wait.
constexpr int kMaxPaintsPerServe = 64;

bool KeyDown(uint8_t vk) { return (State().keys[vk] & 0x80) != 0; }

void SetKey(uint16_t vk, bool down) {
  uint8_t& k = State().keys[vk & 0xFF];
  if (down && !(k & 0x80)) k ^= 1;  // toggles on each press
  k = static_cast<uint8_t>(down ? (k | 0x80) : (k & ~0x80));
}

// The generic modifier follows either of its sides.
void SetModifier(uint16_t vk, bool down) {
  SetKey(vk, down);
  auto pair = [&](uint16_t generic, uint16_t l, uint16_t r) {
    if (vk == l || vk == r || vk == generic) {
      if (vk == generic) return;
      bool any = KeyDown(static_cast<uint8_t>(l)) || KeyDown(static_cast<uint8_t>(r));
      SetKey(generic, any);
    }
  };
  pair(VK_SHIFT, VK_LSHIFT, VK_RSHIFT);
  pair(VK_CONTROL, VK_LCONTROL, VK_RCONTROL);
  pair(VK_MENU, VK_LMENU, VK_RMENU);
}

uint32_t MouseKeys() {
  uint32_t mk = 0;
  if (KeyDown(VK_LBUTTON)) mk |= MK_LBUTTON;
  if (KeyDown(VK_RBUTTON)) mk |= MK_RBUTTON;
  if (KeyDown(VK_MBUTTON)) mk |= MK_MBUTTON;
  if (KeyDown(VK_SHIFT)) mk |= MK_SHIFT;
  if (KeyDown(VK_CONTROL)) mk |= MK_CONTROL;
  return mk;
}

// A disabled window takes no input from the keyboard or the mouse, nor do
// the child windows inside it (a dialog whose own chooser runs, a window
// under a modal dialog).
bool TakesInput(HWND hwnd) {
  for (TWindowRec* w = Find(hwnd); w; w = (w->style & WS_CHILD) ? Find(w->parent) : nullptr)
    if (w->style & WS_DISABLED) return false;
  return true;
}

HWND KeyTarget() {
  TState& s = State();
  HWND target = s.focus ? s.focus : s.active.load();
  return TakesInput(target) ? target : 0;
}

void PostTo(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  TMsg m;
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = State().backend->Now();
  Post(m);
}

// Runs the low-level keyboard hooks; true when one eats the key.
bool CallKeyboardHooks(uint32_t msg, const TKbdLLHookStruct& info) {
  TState& s = State();
  if (s.keyboard_hooks.empty()) return false;
  TKbdLLHookStruct copy = info;
  THookProc first = s.keyboard_hooks.front().second;
  return first(HC_ACTION, msg, reinterpret_cast<LPARAM>(&copy)) != 0;
}

// The window that gets a mouse message at a screen point, after the hit test
// and the set-cursor message; 0 when the message goes nowhere.
HWND MouseTarget(TPoint p, uint32_t mouse_msg, int32_t* hit) {
  TState& s = State();
  *hit = HTCLIENT;
  if (s.capture) return Find(s.capture) ? s.capture : 0;
  HWND target = WindowFromPoint(p);
  if (!target) return 0;
  *hit = static_cast<int32_t>(CallProc(target, WM_NCHITTEST, 0, MakeLParam(p.X, p.Y)));
  if (!Find(target)) return 0;
  CallProc(target, WM_SETCURSOR, target, MakeLParam(*hit, static_cast<int32_t>(mouse_msg)));
  if (!Find(target)) return 0;
  return target;
}

LPARAM ClientPoint(HWND hwnd, TPoint p) {
  ScreenToClient(hwnd, &p);
  return MakeLParam(p.X, p.Y);
}

}  // namespace

namespace {
std::atomic<TDisplayChangeProc> g_display_change{nullptr};
}

void SetDisplayChangeHandler(TDisplayChangeProc handler) { g_display_change = handler; }

void NotifyDisplayChange() {
  if (!OnGuiThread()) return;
  if (TDisplayChangeProc handler = g_display_change.load()) handler();
  const std::vector<HWND> tops = State().top_order;
  for (HWND h : tops) CallProc(h, WM_DISPLAYCHANGE, 0, 0);
}

void InjectKey(uint16_t vk, bool down, uint32_t scan_code, bool repeat) {
  if (!OnGuiThread() || vk == 0 || vk > 0xFF) return;
  TState& s = State();
  const bool was_down = KeyDown(static_cast<uint8_t>(vk));
  SetModifier(vk, down);
  const bool alt = KeyDown(VK_MENU);
  const bool sys = alt && !KeyDown(VK_CONTROL);
  uint32_t msg = down ? (sys || vk == VK_F10 ? WM_SYSKEYDOWN : WM_KEYDOWN)
                      : (sys || vk == VK_MENU || vk == VK_LMENU || vk == VK_RMENU ? WM_SYSKEYUP : WM_KEYUP);
  TKbdLLHookStruct info{vk, scan_code, (alt ? LLKHF_ALTDOWN : 0u) | (down ? 0u : LLKHF_UP), s.backend->Now()};
  if (CallKeyboardHooks(msg, info)) return;
  HWND target = KeyTarget();
  if (!target) return;
  uint32_t l = 1 | ((scan_code & 0xFF) << 16);
  if (alt) l |= 1u << 29;
  if (was_down || (down && repeat)) l |= 1u << 30;
  if (!down) l |= 1u << 31 | 1u << 30;
  PostTo(target, msg, vk, static_cast<LPARAM>(static_cast<int32_t>(l)));
}

void InjectChar(char16_t ch) {
  if (!OnGuiThread()) return;
  HWND target = KeyTarget();
  if (!target) return;
  const bool sys = KeyDown(VK_MENU) && !KeyDown(VK_CONTROL);
  PostTo(target, sys ? WM_SYSCHAR : WM_CHAR, ch, sys ? (1 | (1 << 29)) : 1);
}

void InjectMouseMove(int32_t x, int32_t y) {
  if (!OnGuiThread()) return;
  TState& s = State();
  s.cursor_pos = TPoint{x, y};
  s.cursor_reported = true;
  int32_t hit;
  HWND target = MouseTarget(s.cursor_pos, WM_MOUSEMOVE, &hit);
  if (!target || (hit != HTCLIENT && !s.capture)) return;
  PostTo(target, WM_MOUSEMOVE, MouseKeys(), ClientPoint(target, s.cursor_pos));
}

void InjectMouseButton(int32_t button, bool down, int32_t x, int32_t y) {
  if (!OnGuiThread() || button < 1 || button > 3) return;
  TState& s = State();
  static constexpr uint16_t kVk[] = {0, VK_LBUTTON, VK_RBUTTON, VK_MBUTTON};
  static constexpr uint32_t kDown[] = {0, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
  s.cursor_pos = TPoint{x, y};
  s.cursor_reported = true;
  SetKey(kVk[button], down);
  uint32_t msg = down ? kDown[button] : kDown[button] + 1;
  int32_t hit;
  HWND target = MouseTarget(s.cursor_pos, msg, &hit);
  if (!target || (!s.capture && !TakesInput(target))) return;
  if (down && !s.capture) {
    // A click activates the window it lands on.
    HWND top = GetTopLevel(target);
    if (top && s.active != top) SetActiveWindow(top);
    if (!Find(target)) return;
  }
  if (hit != HTCLIENT && !s.capture) {
    // Sizing borders and the caption are the window system's: nothing to post.
    s.last_down_button = 0;
    return;
  }
  if (down) {
    TWindowRec* w = Find(target);
    const uint32_t now = s.backend->Now();
    bool dbl = w && (w->class_style & CS_DBLCLKS) && s.last_down_button == button && s.last_down_hwnd == target &&
               now - s.last_down_time <= kDoubleClickMs &&
               std::abs(x - s.last_down_pos.X) <= kDoubleClickCx / 2 &&
               std::abs(y - s.last_down_pos.Y) <= kDoubleClickCy / 2;
    if (dbl) {
      msg = kDown[button] + 2;
      s.last_down_button = 0;  // a third click starts over
    } else {
      s.last_down_button = button;
      s.last_down_time = now;
      s.last_down_pos = s.cursor_pos;
      s.last_down_hwnd = target;
    }
  }
  PostTo(target, msg, MouseKeys(), ClientPoint(target, s.cursor_pos));
}

void InjectWheel(int32_t delta, int32_t x, int32_t y) {
  if (!OnGuiThread()) return;
  TState& s = State();
  s.cursor_pos = TPoint{x, y};
  HWND target = KeyTarget();
  if (!target) return;
  WPARAM w = (static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(delta))) << 16) | MouseKeys();
  PostTo(target, WM_MOUSEWHEEL, w, MakeLParam(x, y));
}

void InjectActivate(HWND hwnd, bool active) {
  if (!OnGuiThread() || !Find(hwnd)) return;
  TState& s = State();
  if (active) SetActiveWindow(hwnd);
  else if (s.active == hwnd) SetActiveWindow(0);
}

void InjectClose(HWND hwnd) {
  if (!OnGuiThread() || !Find(hwnd)) return;
  PostTo(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void InjectBounds(HWND hwnd, const TRect& rect) {
  if (!OnGuiThread() || !Find(hwnd)) return;
  SetWindowPos(hwnd, 0, rect.Left, rect.Top, rect.Width(), rect.Height(),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

int16_t GetKeyState(int32_t vk) {
  if (vk < 0 || vk > 0xFF) return 0;
  uint8_t k = State().keys[vk];
  return static_cast<int16_t>(((k & 0x80) ? 0x8000 : 0) | (k & 1));
}

int16_t GetAsyncKeyState(int32_t vk) {
  return static_cast<int16_t>(GetKeyState(vk) & 0x8000);
}

HCURSOR LoadCursor(HINSTANCE instance, uint32_t id) {
  TState& s = State();
  if (instance == 0) {
    switch (id) {
      case IDC_ARROW: case IDC_IBEAM: case IDC_WAIT: case IDC_CROSS: case IDC_UPARROW: case IDC_SIZENWSE:
      case IDC_SIZENESW: case IDC_SIZEWE: case IDC_SIZENS: case IDC_SIZEALL: case IDC_NO: case IDC_HAND:
      case IDC_APPSTARTING: case IDC_HELP:
        return id;
      default:
        return 0;
    }
  }
  auto it = s.cursor_resources.find(id);
  return it == s.cursor_resources.end() ? 0 : it->second;
}

void RegisterCursorResource(uint32_t id, HCURSOR cursor) { State().cursor_resources[id] = cursor; }

HCURSOR CreateCursor(const uint32_t* argb, int32_t width, int32_t height, int32_t hot_x, int32_t hot_y) {
  if (!OnGuiThread() || !argb || width < 1 || height < 1 || width > 256 || height > 256) return 0;
  TState& s = State();
  HCURSOR h = ++s.last_cursor;
  s.cursors[h] = TCursorRec{false};
  std::vector<uint32_t> pixels(argb, argb + static_cast<size_t>(width) * static_cast<size_t>(height));
  s.backend->CursorCreated(h, pixels, width, height, std::clamp(hot_x, 0, width - 1), std::clamp(hot_y, 0, height - 1));
  return h;
}

bool DestroyCursor(HCURSOR cursor) {
  if (!OnGuiThread()) return false;
  TState& s = State();
  if (!s.cursors.erase(cursor)) return false;
  if (s.cursor == cursor) SetCursor(IDC_ARROW);
  s.backend->CursorDestroyed(cursor);
  return true;
}

HCURSOR SetCursor(HCURSOR cursor) {
  if (!OnGuiThread()) return 0;
  TState& s = State();
  HCURSOR old = s.cursor;
  if (cursor != 0 && cursor < 0x10000 && LoadCursor(0, cursor) == 0) cursor = IDC_ARROW;
  if (cursor >= 0x10000 && !s.cursors.count(cursor)) return old;
  s.cursor = cursor;
  if (old != cursor) s.backend->ShowCursorShape(cursor);
  return old;
}

HCURSOR GetCursor() { return State().cursor; }

bool GetCursorPos(TPoint* point) {
  if (!point) return false;
  // Before the first mouse input the system is asked where the pointer is
  // (input comes only once the pointer is over one of the program's
  // windows); from then on the input's position counts.
  TState& s = State();
  if (OnGuiThread() && !s.cursor_reported && s.backend->PointerPosition(*point)) return true;
  *point = s.cursor_pos;
  return true;
}

bool SetCursorPos(int32_t x, int32_t y) {
  if (!OnGuiThread()) return false;
  TState& s = State();
  s.backend->WarpPointer(x, y);
  s.cursor_pos = TPoint{x, y};
  s.cursor_reported = true;
  return true;
}

uint32_t GetDoubleClickTime() { return kDoubleClickMs; }

int32_t GetSystemMetrics(int32_t index) {
  TState& s = State();
  std::vector<TMonitorArea> monitors = s.backend->Monitors();
  TRect primary = monitors.empty() ? TRect{0, 0, 1024, 768} : monitors.front().bounds;
  TRect in = NonClientInsets(WS_CAPTION | WS_THICKFRAME, 0);
  switch (index) {
    case SM_CXSCREEN: return primary.Width();
    case SM_CYSCREEN: return primary.Height();
    case SM_CYCAPTION: return in.Top - in.Bottom;
    case SM_CXBORDER: case SM_CYBORDER: return 1;
    case SM_CXFRAME: return in.Left;
    case SM_CYFRAME: return in.Bottom;
    case SM_CXDOUBLECLK: return kDoubleClickCx;
    case SM_CYDOUBLECLK: return kDoubleClickCy;
    case SM_CMONITORS: return static_cast<int32_t>(monitors.size());
    case SM_CXVSCROLL: case SM_CYHSCROLL: case SM_CYVSCROLL: case SM_CXHSCROLL:
    case SM_CYVTHUMB: case SM_CXHTHUMB: {
      int32_t dx = 96, dy = 96;
      GetScreenDpi(dx, dy);
      const bool horizontal = index == SM_CXVSCROLL || index == SM_CXHSCROLL || index == SM_CXHTHUMB;
      return static_cast<int32_t>((int64_t{kScrollBarSize96} * (horizontal ? dx : dy) + 48) / 96);
    }
    default: return 0;
  }
}

uint32_t GetSysColor(int32_t index) {
  // The standard scheme's colours as 0x00BBGGRR; index 25 has none.
  static constexpr uint32_t kColors[] = {
      0xC8C8C8, 0x000000, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
      0x000000, 0x000000, 0xB4B4B4, 0xFCF7F4, 0xABABAB, 0xFF9933, 0xFFFFFF, 0xF0F0F0,
      0xA0A0A0, 0x6D6D6D, 0x000000, 0x544E43, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
      0xE1FFFF, 0x000000, 0xCC6600, 0xEAD1B9, 0xF2E4D7, 0xFF9933, 0xF0F0F0};
  if (index < 0 || index >= static_cast<int32_t>(std::size(kColors))) return 0;
  return kColors[index];
}

uint32_t GetCaretBlinkTime() { return kCaretBlinkMs; }

bool SystemParametersInfo(uint32_t action, uint32_t /*param*/, int32_t* value, uint32_t /*win_ini*/) {
  if (!value) return false;
  switch (action) {
    case SPI_GETKEYBOARDDELAY: *value = kKeyboardDelay; return true;
    case SPI_GETKEYBOARDSPEED: *value = kKeyboardSpeed; return true;
    default: return false;
  }
}

TRect GetWorkArea() {
  std::vector<TMonitorArea> monitors = State().backend->Monitors();
  return monitors.empty() ? TRect{0, 0, 1024, 768} : monitors.front().work_area;
}

void GetScreenDpi(int32_t& x, int32_t& y) {
  State().backend->ScreenDpi(x, y);
  if (x < 1 || y < 1) x = y = 96;
}

int32_t MessageBox(HWND hwnd, const std::u16string& text, const std::u16string& caption, uint32_t flags) {
  // The box stays above the window it is for, else above the active one
  // (where the person is); a hidden window stands for none.
  HWND owner = hwnd ? GetTopLevel(hwnd) : GetActiveWindow();
  if (owner && !IsWindowVisible(owner)) owner = 0;
  // While it is up the windows paint and other threads' sends are served
  // (a device's frames go through the GUI thread); nothing else runs, as
  // no input reaches them.
  auto serve = [] {
    TMsg msg;
    for (int i = 0; i < kMaxPaintsPerServe && PeekMessage(&msg, 0, WM_PAINT, WM_PAINT, PM_REMOVE); ++i)
      DispatchMessage(msg);
  };
  return State().backend->ShowMessageBox(text, caption, flags, owner, serve);
}

HHOOK SetWindowsHookEx(int32_t kind, THookProc proc) {
  if (!OnGuiThread() || kind != WH_KEYBOARD_LL || !proc) return 0;
  TState& s = State();
  HHOOK h = ++s.last_hook;
  s.keyboard_hooks.insert(s.keyboard_hooks.begin(), {h, proc});
  return h;
}

bool UnhookWindowsHookEx(HHOOK hook) {
  if (!OnGuiThread()) return false;
  TState& s = State();
  return std::erase_if(s.keyboard_hooks, [hook](const auto& e) { return e.first == hook; }) > 0;
}

LRESULT CallNextHookEx(HHOOK hook, int32_t code, WPARAM wParam, LPARAM lParam) {
  TState& s = State();
  auto it = std::find_if(s.keyboard_hooks.begin(), s.keyboard_hooks.end(),
                         [hook](const auto& e) { return e.first == hook; });
  if (it == s.keyboard_hooks.end() || ++it == s.keyboard_hooks.end()) return 0;
  THookProc next = it->second;
  return next(code, wParam, lParam);
}

}  // namespace kav::win
