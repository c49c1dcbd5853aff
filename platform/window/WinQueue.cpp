// The GUI thread's message queue: posted, sent and notify messages, quit,
// paint and timers.
#include <algorithm>
#include <climits>

#include "VoRav/wpThreads2.h"
#include "VoRav/wpLocks.h"
#include "platform/window/WinState.h"
#include "platform/window/WinTerminate.h"

namespace kav::win {

using namespace detail;

namespace {

bool InRange(uint32_t message, uint32_t min, uint32_t max) {
  return (min == 0 && max == 0) || (message >= min && message <= max);
}

bool Matches(const TMsg& m, HWND hwnd, uint32_t min, uint32_t max) {
  return (hwnd == 0 || m.hwnd == hwnd) && InRange(m.message, min, max);
}

TMsg MakeMsg(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  TState& s = State();
  TMsg m;
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = s.backend->Now();
  return m;
}

// Queues a message sent from another thread; `wait` blocks until handled.
LRESULT QueueSent(const TMsg& msg, bool notify) {
  TState& s = State();
  auto item = std::make_shared<TSentItem>();
  item->msg = msg;
  item->notify = notify;
  std::unique_lock<std::mutex> lock(s.lock);
  if (s.closed || !s.windows.count(msg.hwnd)) return 0;
  s.sent.push_back(item);
  s.backend->Wake();
  if (notify) return 1;
  s.sent_done.wait(lock, [&] { return item->done || s.closed; });
  return item->result;
}

// The next message by queue priority; false when none (and `wait` false).
bool NextMessage(TMsg* msg, HWND hwnd, uint32_t min, uint32_t max, bool remove, bool wait) {
  TState& s = State();
  for (;;) {
    s.backend->Poll();
    ProcessSent();
    {
      std::lock_guard<std::mutex> guard(s.lock);
      // After SIGTERM or SIGINT every loop is told to quit, on every call
      // and before anything else: a modal loop ends, then the loop around it.
      if (TerminationRequested() && InRange(WM_QUIT, min, max)) {
        *msg = TMsg{};
        msg->message = WM_QUIT;
        msg->time = s.backend->Now();
        return true;
      }
      for (auto it = s.posted.begin(); it != s.posted.end(); ++it) {
        if (!Matches(*it, hwnd, min, max)) continue;
        *msg = *it;
        if (remove) s.posted.erase(it);
        return true;
      }
      if (s.quit_pending && InRange(WM_QUIT, min, max)) {
        *msg = TMsg{};
        msg->message = WM_QUIT;
        msg->wParam = static_cast<WPARAM>(s.quit_code);
        msg->time = s.backend->Now();
        if (remove) s.quit_pending = false;
        return true;
      }
    }
    if (InRange(WM_PAINT, min, max)) {
      HWND paint = 0;
      for (auto& [id, w] : s.windows)
        if (w->invalid && (hwnd == 0 || id == hwnd) && (paint == 0 || id < paint) && IsWindowVisible(id)) paint = id;
      if (paint) {
        *msg = MakeMsg(paint, WM_PAINT, 0, 0);
        return true;
      }
    }
    const uint32_t now = s.backend->Now();
    uint32_t wait_ms = kInfinite;
    {
      std::lock_guard<std::mutex> guard(s.lock);
      TTimerRec* due = nullptr;
      for (TTimerRec& t : s.timers) {
        if (hwnd != 0 && t.hwnd != hwnd) continue;
        int32_t left = static_cast<int32_t>(t.due - now);
        if (left <= 0) {
          if (!due || static_cast<int32_t>(t.due - due->due) < 0) due = &t;
        } else {
          wait_ms = std::min(wait_ms, static_cast<uint32_t>(left));
        }
      }
      if (due && InRange(WM_TIMER, min, max)) {
        msg->hwnd = due->hwnd;
        msg->message = WM_TIMER;
        msg->wParam = due->id;
        msg->lParam = 0;
        msg->time = now;
        msg->pt = s.cursor_pos;
        // One WM_TIMER for however many intervals passed.
        if (remove) due->due = now + due->interval;
        return true;
      }
    }
    if (!wait) return false;
    s.backend->Wait(wait_ms);
  }
}

}  // namespace

namespace detail {

bool Post(const TMsg& msg) {
  TState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.closed) return false;
  if (msg.hwnd && !s.windows.count(msg.hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  s.posted.push_back(msg);
  s.posted.back().pt = s.cursor_pos;
  s.backend->Wake();
  return true;
}

void Wake() {
  TState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.backend->Wake();
}

void ProcessSent() {
  TState& s = State();
  for (;;) {
    std::shared_ptr<TSentItem> item;
    {
      std::lock_guard<std::mutex> guard(s.lock);
      if (s.sent.empty()) return;
      item = s.sent.front();
      s.sent.pop_front();
    }
    LRESULT result = 0;
    try {
      result = CallProc(item->msg.hwnd, item->msg.message, item->msg.wParam, item->msg.lParam);
    } catch (...) {
      // The sender is released before the exception goes on.
      {
        std::lock_guard<std::mutex> guard(s.lock);
        item->done = true;
      }
      s.sent_done.notify_all();
      throw;
    }
    {
      std::lock_guard<std::mutex> guard(s.lock);
      item->done = true;
      item->result = result;
    }
    s.sent_done.notify_all();
  }
}

void ForgetWindowInQueue(HWND hwnd) {
  TState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    for (auto it = s.sent.begin(); it != s.sent.end();) {
      if ((*it)->msg.hwnd == hwnd) {
        (*it)->done = true;
        it = s.sent.erase(it);
      } else {
        ++it;
      }
    }
    std::erase_if(s.posted, [hwnd](const TMsg& m) { return m.hwnd == hwnd; });
    std::erase_if(s.timers, [hwnd](const TTimerRec& t) { return t.hwnd == hwnd; });
  }
  s.sent_done.notify_all();
}

}  // namespace detail

bool PostMessage(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  if (hwnd == 0) return PostThreadMessage(MainThreadId(), msg, wParam, lParam);
  return Post(MakeMsg(hwnd, msg, wParam, lParam));
}

LRESULT SendMessage(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  if (OnGuiThread()) return CallProc(hwnd, msg, wParam, lParam);
  return QueueSent(MakeMsg(hwnd, msg, wParam, lParam), false);
}

bool SendNotifyMessage(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  if (OnGuiThread()) {
    if (!Find(hwnd)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    CallProc(hwnd, msg, wParam, lParam);
    return true;
  }
  if (QueueSent(MakeMsg(hwnd, msg, wParam, lParam), true) == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return true;
}

bool PostThreadMessage(uint32_t thread_id, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  if (thread_id != MainThreadId()) return false;
  return Post(MakeMsg(0, msg, wParam, lParam));
}

void PostQuitMessage(int32_t exit_code) {
  // Like the system's: it concerns the calling thread's own queue, and only
  // the GUI thread has one.
  if (!OnGuiThread()) return;
  TState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.quit_pending = true;
  s.quit_code = exit_code;
  s.backend->Wake();
}

bool GetMessage(TMsg* msg, HWND hwnd, uint32_t min, uint32_t max) {
  if (!OnGuiThread() || !msg) {
    SetLastError(ERROR_WRONG_THREAD);
    return false;
  }
  NextMessage(msg, hwnd, min, max, true, true);
  return msg->message != WM_QUIT;
}

bool PeekMessage(TMsg* msg, HWND hwnd, uint32_t min, uint32_t max, uint32_t remove) {
  if (!OnGuiThread() || !msg) return false;
  return NextMessage(msg, hwnd, min, max, (remove & PM_REMOVE) != 0, false);
}

bool TranslateMessage(const TMsg& msg) {
  // Characters come from the backend's text input as WM_CHAR of their own.
  return msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
}

LRESULT DispatchMessage(const TMsg& msg) {
  if (!OnGuiThread() || msg.hwnd == 0) return 0;
  return CallProc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

void PumpSentMessages() {
  if (OnGuiThread()) ProcessSent();
}

bool KeyDownWaiting(uint32_t vk) {
  if (!OnGuiThread()) return false;
  TState& s = State();
  s.backend->Poll();
  std::lock_guard<std::mutex> guard(s.lock);
  return std::any_of(s.posted.begin(), s.posted.end(),
                     [vk](const TMsg& m) { return m.message == WM_KEYDOWN && m.wParam == vk; });
}

int32_t QueuedMessageCount() {
  TState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return static_cast<int32_t>(s.sent.size() + s.posted.size()) + (s.quit_pending ? 1 : 0);
}

uintptr_t SetTimer(HWND hwnd, uintptr_t id, uint32_t interval_ms) {
  if (!OnGuiThread()) { SetLastError(ERROR_WRONG_THREAD); return 0; }
  if (hwnd && !Find(hwnd)) { SetLastError(ERROR_INVALID_WINDOW_HANDLE); return 0; }
  TState& s = State();
  if (interval_ms == 0) interval_ms = 1;
  if (interval_ms > 0x7FFFFFFF) interval_ms = 0x7FFFFFFF;
  std::lock_guard<std::mutex> guard(s.lock);
  if (hwnd == 0) {
    // A thread timer gets an id of its own.
    uintptr_t next = 1;
    for (const TTimerRec& t : s.timers) if (t.hwnd == 0 && t.id >= next) next = t.id + 1;
    id = next;
  }
  const uint32_t due = s.backend->Now() + interval_ms;
  for (TTimerRec& t : s.timers) {
    if (t.hwnd == hwnd && t.id == id) {
      t.interval = interval_ms;
      t.due = due;
      return hwnd ? 1 : id;
    }
  }
  s.timers.push_back(TTimerRec{hwnd, id, interval_ms, due});
  s.backend->Wake();
  return hwnd ? 1 : id;
}

bool KillTimer(HWND hwnd, uintptr_t id) {
  if (!OnGuiThread()) return false;
  TState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return std::erase_if(s.timers, [&](const TTimerRec& t) { return t.hwnd == hwnd && t.id == id; }) > 0;
}

bool InvalidateRect(HWND hwnd, const TRect* rect, bool erase) {
  (void)erase;
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return false;
  TRect client;
  GetClientRect(hwnd, &client);
  TRect r = rect ? *rect : client;
  if (w->invalid) {
    w->invalid_rect = TRect{std::min(w->invalid_rect.Left, r.Left), std::min(w->invalid_rect.Top, r.Top),
                            std::max(w->invalid_rect.Right, r.Right), std::max(w->invalid_rect.Bottom, r.Bottom)};
  } else {
    w->invalid_rect = r;
  }
  w->invalid = true;
  return true;
}

bool ValidateRect(HWND hwnd, const TRect* rect) {
  (void)rect;  // the invalid part is kept as one rectangle: any validation clears it
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return false;
  w->invalid = false;
  w->invalid_rect = TRect{};
  return true;
}

bool UpdateWindow(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return false;
  if (w->invalid) CallProc(hwnd, WM_PAINT, 0, 0);
  return true;
}

TRect BeginPaint(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return TRect{};
  TRect r = w->invalid ? w->invalid_rect : TRect{};
  ValidateRect(hwnd, nullptr);
  return r;
}

void EndPaint(HWND hwnd) { (void)hwnd; }

}  // namespace kav::win
