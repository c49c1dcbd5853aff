// The window and message layer: a Win32-subset of windows and messages that
// the program's window code runs on.
//
// Threads. The GUI thread (the program's main thread) owns every window and
// the one message queue. Windows are created, changed and destroyed there
// only; called from another thread those functions fail (last error
// ERROR_WRONG_THREAD) and change nothing. Any thread may post, send and
// send-notify, post thread messages, and ask IsWindow.
//
// Queue rules:
// - A send on the GUI thread calls the window procedure directly (re-entrant).
// - A send from another thread waits until the GUI thread handles it inside
//   GetMessage/PeekMessage (or PumpSentMessages), ahead of posted messages. It
//   returns 0 at once when the window is gone or the queue closed, and every
//   waiting sender is released when the queue closes or the window goes.
// - SendNotifyMessage from another thread queues like a send but returns at
//   once.
// - Posted messages keep their order; WM_QUIT from PostQuitMessage comes when
//   the posted messages are drained; WM_PAINT (one per invalid window) and
//   WM_TIMER (one per due timer) come only when nothing else waits.
//
// Windows are ids in a registry; an id is never reused, so a stale id is
// detected (IsWindow false; calls fail or answer 0). Window procedures are
// (object, method) delegates bound when the class is registered or the
// procedure set, never generated code.
//
// Input comes from the backend (real or null) through the Inject functions:
// keys go to the focus window, mouse messages to the capture window or the
// window under the point (hit test and set-cursor first), the wheel to the
// focus window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "VoRav/vxDelegate.h"
#include "VoRav/wpTypes.h"
#include "platform/window/WinCodes.h"

namespace kav::win {

using HWND = uint32_t;
using HCURSOR = uint32_t;
using HHOOK = uint32_t;
using HINSTANCE = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// The program's own module; class records name it.
inline constexpr HINSTANCE kProgramInstance = 0x400000;

using TWndProc = TDelegate<LRESULT(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam)>;

struct TMsg {
  HWND hwnd = 0;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  uint32_t time = 0;
  TPoint pt;
};

struct TWndClass {
  uint32_t style = 0;
  TWndProc proc;
  HINSTANCE instance = 0;
  HCURSOR cursor = 0;
  uint32_t background = 0;
  std::u16string icon;
  std::u16string class_name;
};

// lParam of WM_NCCREATE and WM_CREATE.
struct TCreateStruct {
  void* create_param = nullptr;
  HINSTANCE instance = 0;
  HWND parent = 0;
  int32_t cy = 0, cx = 0, y = 0, x = 0;
  uint32_t style = 0;
  std::u16string name;
  std::u16string class_name;
  uint32_t ex_style = 0;
};

// lParam of WM_WINDOWPOSCHANGING (changeable) and WM_WINDOWPOSCHANGED.
struct TWindowPos {
  HWND hwnd = 0;
  HWND insert_after = 0;
  int32_t x = 0, y = 0, cx = 0, cy = 0;
  uint32_t flags = 0;
};

// lParam of WM_STYLECHANGING (new_style changeable) and WM_STYLECHANGED.
struct TStyleStruct {
  uint32_t old_style = 0;
  uint32_t new_style = 0;
};

struct TWindowPlacement {
  uint32_t flags = 0;
  uint32_t show_cmd = 0;
  TPoint min_position;
  TPoint max_position;
  TRect normal_position;
};

// lParam of a low-level keyboard hook call.
struct TKbdLLHookStruct {
  uint32_t vk_code = 0;
  uint32_t scan_code = 0;
  uint32_t flags = 0;
  uint32_t time = 0;
};
// hook(code, message, pointer to TKbdLLHookStruct as lParam).
using THookProc = TDelegate<LRESULT(int32_t code, WPARAM wParam, LPARAM lParam)>;

inline constexpr LPARAM MakeLParam(int32_t lo, int32_t hi) {
  return static_cast<LPARAM>(static_cast<int32_t>((static_cast<uint32_t>(hi) << 16) | (static_cast<uint32_t>(lo) & 0xFFFF)));
}
inline constexpr int16_t LoWord16(intptr_t v) { return static_cast<int16_t>(v & 0xFFFF); }
inline constexpr int16_t HiWord16(intptr_t v) { return static_cast<int16_t>((v >> 16) & 0xFFFF); }

class TWindowBackend;

// Start-up: the backend that draws windows and delivers input. The layer
// takes it over. Without a call the null backend is used. GUI thread.
void InitWindowSystem(std::unique_ptr<TWindowBackend> backend);
// Shut-down (and between tests): destroys every window, closes the queue
// (waiting senders return), drops classes, timers, hooks and the backend.
void DoneWindowSystem();
TWindowBackend& Backend();
bool OnGuiThread();

uint32_t GetLastError();
void SetLastError(uint32_t code);

// Classes. Names compare without regard to case.
uint16_t RegisterClass(const TWndClass& wc);
bool UnregisterClass(const std::u16string& name, HINSTANCE instance);
bool GetClassInfo(HINSTANCE instance, const std::u16string& name, TWndClass* wc);
uint32_t RegisterWindowMessage(const std::u16string& name);

// Windows. x or cx of kUseDefault gives a default place or size.
inline constexpr int32_t CW_USEDEFAULT = static_cast<int32_t>(0x80000000);
HWND CreateWindowEx(uint32_t ex_style, const std::u16string& class_name, const std::u16string& name, uint32_t style,
                    int32_t x, int32_t y, int32_t cx, int32_t cy, HWND parent, HINSTANCE instance,
                    void* create_param);
bool DestroyWindow(HWND hwnd);
bool IsWindow(HWND hwnd);
HWND GetParent(HWND hwnd);
HWND SetParent(HWND hwnd, HWND parent);
HWND GetOwner(HWND hwnd);
std::u16string GetClassName(HWND hwnd);
// The top-level window of a window (itself for a top-level one).
HWND GetTopLevel(HWND hwnd);

// The current procedure; SetWindowProc installs another and returns the
// previous one (a subclass calls it on with CallWindowProc).
TWndProc GetWindowProc(HWND hwnd);
TWndProc SetWindowProc(HWND hwnd, TWndProc proc);
LRESULT CallWindowProc(TWndProc proc, HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProc(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam);

intptr_t GetWindowLong(HWND hwnd, int32_t index);
// Style changes send WM_STYLECHANGING (the new style may be changed) and
// WM_STYLECHANGED. Returns the previous value, 0 on failure.
intptr_t SetWindowLong(HWND hwnd, int32_t index, intptr_t value);

std::u16string GetWindowText(HWND hwnd);
bool SetWindowText(HWND hwnd, const std::u16string& text);

// Screen coordinates of the outer rectangle.
bool GetWindowRect(HWND hwnd, TRect* rect);
// Client rectangle at 0,0.
bool GetClientRect(HWND hwnd, TRect* rect);
bool ClientToScreen(HWND hwnd, TPoint* point);
bool ScreenToClient(HWND hwnd, TPoint* point);
bool SetWindowPos(HWND hwnd, HWND insert_after, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags);
bool MoveWindow(HWND hwnd, int32_t x, int32_t y, int32_t cx, int32_t cy, bool repaint);
// Returns whether the window was visible before.
bool ShowWindow(HWND hwnd, int32_t cmd);
bool IsWindowVisible(HWND hwnd);
bool IsIconic(HWND hwnd);
bool IsZoomed(HWND hwnd);
bool GetWindowPlacement(HWND hwnd, TWindowPlacement* placement);
bool SetWindowPlacement(HWND hwnd, const TWindowPlacement& placement);
// The deepest visible, enabled window under a screen point; 0 for none.
HWND WindowFromPoint(TPoint point);
bool EnableWindow(HWND hwnd, bool enable);
bool IsWindowEnabled(HWND hwnd);
// What the frame adds around the client area for a style pair.
TRect NonClientInsets(uint32_t style, uint32_t ex_style);

// Pixel output of a plain top-level window (one without a draw device):
// copies `rects` (client coordinates, cut to the image and the client area)
// from a 32-bit 0x00RRGGBB image, `pitch` bytes a row, into the window.
// False for a child or unknown window, a bad image, or no real window.
bool PresentWindowPixels(HWND hwnd, const uint32_t* pixels, int32_t width, int32_t height, int32_t pitch,
                         const std::vector<TRect>& rects);
// Whole-window opacity of a top-level window; false where the system cannot.
bool SetWindowOpacity(HWND hwnd, uint8_t alpha);
// Per-pixel shape of a top-level window from a premultiplied 0xAARRGGBB
// image; false where the system cannot.
bool SetWindowShape(HWND hwnd, const uint32_t* argb, int32_t width, int32_t height);

bool InvalidateRect(HWND hwnd, const TRect* rect, bool erase);
bool ValidateRect(HWND hwnd, const TRect* rect);
// Sends WM_PAINT at once when the window has an invalid part.
bool UpdateWindow(HWND hwnd);
// The invalid part (validating it) / nothing.
TRect BeginPaint(HWND hwnd);
void EndPaint(HWND hwnd);

// Messages.
bool PostMessage(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
bool SendNotifyMessage(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
// Only the GUI thread has a queue: other thread ids fail.
bool PostThreadMessage(uint32_t thread_id, uint32_t msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int32_t exit_code);
// GUI thread. False for WM_QUIT. `hwnd` and the range filter posted
// messages (0, 0, 0: everything).
bool GetMessage(TMsg* msg, HWND hwnd, uint32_t min, uint32_t max);
bool PeekMessage(TMsg* msg, HWND hwnd, uint32_t min, uint32_t max, uint32_t remove);
bool TranslateMessage(const TMsg& msg);
LRESULT DispatchMessage(const TMsg& msg);
// GUI thread: runs the messages other threads sent and returns. For a GUI
// thread that waits for a worker which may be sending to it.
void PumpSentMessages();
// GUI thread: takes the input the backend has (as GetMessage would) and
// answers whether a WM_KEYDOWN of `vk` waits in the queue; nothing is
// removed or dispatched. For long work on the GUI thread that the person
// may call off (false on any other thread).
bool KeyDownWaiting(uint32_t vk);
// Messages waiting in the queue, sent and posted (for tests).
int32_t QueuedMessageCount();

// Timers: WM_TIMER with wParam = id at each interval; one at a time.
uintptr_t SetTimer(HWND hwnd, uintptr_t id, uint32_t interval_ms);
bool KillTimer(HWND hwnd, uintptr_t id);

// Activation, focus and capture.
HWND SetActiveWindow(HWND hwnd);
HWND GetActiveWindow();
HWND GetForegroundWindow();
bool SetForegroundWindow(HWND hwnd);
HWND SetFocus(HWND hwnd);
HWND GetFocus();
HWND SetCapture(HWND hwnd);
bool ReleaseCapture();
HWND GetCapture();

// Keys: bit 15 set while down, bit 0 toggles with each press.
int16_t GetKeyState(int32_t vk);
int16_t GetAsyncKeyState(int32_t vk);

// Cursors: system cursors by IDC_ id, the program's cursors by resource id
// once registered, and cursors made from 32-bit ARGB pixels.
HCURSOR LoadCursor(HINSTANCE instance, uint32_t id);
void RegisterCursorResource(uint32_t id, HCURSOR cursor);
HCURSOR CreateCursor(const uint32_t* argb, int32_t width, int32_t height, int32_t hot_x, int32_t hot_y);
bool DestroyCursor(HCURSOR cursor);
// 0 hides the cursor. Returns the previous one.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
bool GetCursorPos(TPoint* point);
bool SetCursorPos(int32_t x, int32_t y);
uint32_t GetDoubleClickTime();

// Screen and system values. Sizes of window parts (scroll bars) are those of
// 96 pixels per inch scaled to the screen's resolution.
int32_t GetSystemMetrics(int32_t index);
// The colour (COLORREF 0x00BBGGRR) of a system colour index: one table of
// the standard defaults, since the desktop has no such scheme to ask; 0 for
// an index outside it.
uint32_t GetSysColor(int32_t index);
// The caret blink period in ms.
uint32_t GetCaretBlinkTime();
// SPI_GETKEYBOARDDELAY (0..3) and SPI_GETKEYBOARDSPEED (0..31) into *value;
// false (nothing written) for another action or a null value.
bool SystemParametersInfo(uint32_t action, uint32_t param, int32_t* value, uint32_t win_ini);
TRect GetWorkArea();
// Pixels per inch of the primary screen (96 when the system does not say).
void GetScreenDpi(int32_t& x, int32_t& y);
int32_t MessageBox(HWND hwnd, const std::u16string& text, const std::u16string& caption, uint32_t flags);

// Low-level keyboard hooks (process-local: they see the keys this program
// receives). A hook that returns non-zero eats the key.
HHOOK SetWindowsHookEx(int32_t kind, THookProc proc);
bool UnhookWindowsHookEx(HHOOK hook);
LRESULT CallNextHookEx(HHOOK hook, int32_t code, WPARAM wParam, LPARAM lParam);

// The clipboard (GUI thread). The contents are blocks of bytes by format.
// While it is open nobody else can open it; what is emptied and set during
// an opening reaches the system clipboard at CloseClipboard, and replaces
// what was there. OpenClipboard fails (ERROR_ACCESS_DENIED) while another
// window holds it open; the other calls need it open (ERROR_CLIPBOARD_NOT_OPEN)
// except IsClipboardFormatAvailable and GetClipboardSequenceNumber.
bool OpenClipboard(HWND owner);
bool CloseClipboard();
// Empties the contents (the system's too, at close).
bool EmptyClipboard();
// Puts a block in a format (replacing that format); the layer takes it over.
bool SetClipboardData(uint32_t format, std::vector<uint8_t> data);
// A copy of the block in a format: the opening's own, else the system
// clipboard's (what another program offers, converted). False when absent.
bool GetClipboardData(uint32_t format, std::vector<uint8_t>& data);
bool IsClipboardFormatAvailable(uint32_t format);
// Changes whenever the system clipboard's contents change (by this program
// or another one the backend can see). Any thread; off the GUI thread it is
// the number the GUI thread saw last.
uint32_t GetClipboardSequenceNumber();
HWND GetOpenClipboardWindow();

// The displays changed: the handler runs (start-up points it at the display
// service's update), then every top-level window gets WM_DISPLAYCHANGE.
// GUI thread.
using TDisplayChangeProc = void (*)();
void SetDisplayChangeHandler(TDisplayChangeProc handler);
void NotifyDisplayChange();

// Input from the backend, GUI thread. Coordinates are screen coordinates.
// A key down with `repeat` true is an auto-repeat.
void InjectKey(uint16_t vk, bool down, uint32_t scan_code = 0, bool repeat = false);
// One UTF-16 unit as WM_CHAR (WM_SYSCHAR while Alt is down).
void InjectChar(char16_t ch);
void InjectMouseMove(int32_t x, int32_t y);
// button: 1 left, 2 right, 3 middle.
void InjectMouseButton(int32_t button, bool down, int32_t x, int32_t y);
void InjectWheel(int32_t delta, int32_t x, int32_t y);
// The window system activated or deactivated a top-level window.
void InjectActivate(HWND hwnd, bool active);
// The user asked to close a top-level window.
void InjectClose(HWND hwnd);
// The window system moved or sized a top-level window (outer rectangle).
void InjectBounds(HWND hwnd, const TRect& rect);

}  // namespace kav::win
