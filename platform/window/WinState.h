// The window layer's internal state, shared by its source files only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/window/WinBackend.h"

namespace kav::win::detail {

struct TWindowRec {
  HWND id = 0;
  std::u16string class_key;  // lower-case class name
  uint32_t class_style = 0;
  HCURSOR class_cursor = 0;
  TWndProc proc;
  std::u16string text;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  TRect rect;  // outer rectangle: screen (top-level) or parent client coordinates (child)
  HWND parent = 0;
  HWND owner = 0;
  intptr_t user_data = 0;
  intptr_t control_id = 0;
  bool destroying = false;
  uint32_t show_state = 0;  // 0 normal, 1 minimized, 2 maximized
  TRect normal_rect;         // the rectangle to restore to
  bool invalid = false;
  TRect invalid_rect;
  std::vector<HWND> children;  // top of the z-order first
};

struct TSentItem {
  TMsg msg;
  bool notify = false;  // nobody waits
  bool done = false;
  LRESULT result = 0;
};

struct TTimerRec {
  HWND hwnd = 0;
  uintptr_t id = 0;
  uint32_t interval = 0;
  uint32_t due = 0;
};

struct TCursorRec {
  bool system = false;
};

struct TState {
  // Guards the window map against readers on other threads (the GUI thread
  // is its only writer) and everything of the queue.
  std::mutex lock;
  std::condition_variable sent_done;

  std::unique_ptr<TWindowBackend> backend;

  std::unordered_map<HWND, std::unique_ptr<TWindowRec>> windows;
  std::vector<HWND> top_order;  // top-level windows, top first
  HWND last_id = 0;
  std::map<std::u16string, TWndClass> classes;  // by lower-case name
  std::map<std::u16string, uint32_t> registered_messages;
  uint32_t next_registered_message = 0xC000;

  // Queue.
  std::deque<TMsg> posted;
  std::deque<std::shared_ptr<TSentItem>> sent;
  bool quit_pending = false;
  int32_t quit_code = 0;
  bool closed = false;
  std::vector<TTimerRec> timers;

  // Input. The active window is written on the GUI thread only, but
  // GetForegroundWindow reads it from any thread (the engine asks whether the
  // player is in front): an atomic, so that read is a clean one.
  std::atomic<HWND> active{0};
  HWND focus = 0;
  HWND capture = 0;
  uint8_t keys[256] = {};  // bit 0x80 down, bit 1 toggled
  TPoint cursor_pos;
  bool cursor_reported = false;  // a mouse input or a warp has set cursor_pos
  HCURSOR cursor = IDC_ARROW;
  int32_t last_down_button = 0;
  uint32_t last_down_time = 0;
  TPoint last_down_pos;
  HWND last_down_hwnd = 0;

  std::map<HCURSOR, TCursorRec> cursors;
  HCURSOR last_cursor = 0x10000;
  std::map<uint32_t, HCURSOR> cursor_resources;

  std::vector<std::pair<HHOOK, THookProc>> keyboard_hooks;  // newest first
  HHOOK last_hook = 0;

  // The clipboard's opening: who holds it and what it changed.
  struct TClipboardOpening {
    bool open = false;
    HWND owner = 0;
    bool changed = false;  // emptied or set: put at close
    std::map<uint32_t, std::vector<uint8_t>> contents;
  } clipboard;
};

// The state; created with the null backend on first use.
TState& State();
TWindowRec* Find(HWND hwnd);  // GUI thread
TWindowRec* FindChecked(HWND hwnd);  // sets ERROR_INVALID_WINDOW_HANDLE / ERROR_WRONG_THREAD
LRESULT CallProc(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
// Screen position of a window's client origin.
TPoint ClientOrigin(const TWindowRec& w);
// The outer rectangle in screen coordinates.
TRect ScreenRect(const TWindowRec& w);
// Tells the backend about a top-level window (nothing for children).
void Mirror(HWND hwnd);
// Queue a posted message (any thread); false when closed.
bool Post(const TMsg& msg);
// Runs the messages other threads sent. GUI thread.
void ProcessSent();
void Wake();
// Drops timers and releases senders of a window that goes. Lock not held.
void ForgetWindowInQueue(HWND hwnd);
std::unique_ptr<TWindowBackend> NewNullBackend();
std::u16string LowerName(const std::u16string& name);

}  // namespace kav::win::detail
