// Window registry, classes, geometry, activation, focus, capture and the
// default window procedure.
#include <algorithm>

#include "VoRav/wpThreads2.h"
#include "platform/window/WinState.h"
#include "platform/window/WinTerminate.h"

namespace kav::win {

using namespace detail;

namespace {

thread_local uint32_t t_last_error = 0;

std::unique_ptr<TState>& StatePtr() {
  static auto* state = new std::unique_ptr<TState>();
  return *state;
}

std::mutex g_state_create;

constexpr int32_t kDefaultWidth = 640;
constexpr int32_t kDefaultHeight = 480;
constexpr int32_t kCaptionHeight = 20;
constexpr int32_t kFrameWidth = 4;

bool IsChild(const TWindowRec& w) { return (w.style & WS_CHILD) != 0 && w.parent != 0; }

TRect Deflate(TRect r, const TRect& in) {
  r.Left += in.Left;
  r.Top += in.Top;
  r.Right -= in.Right;
  r.Bottom -= in.Bottom;
  if (r.Right < r.Left) r.Right = r.Left;
  if (r.Bottom < r.Top) r.Bottom = r.Top;
  return r;
}

void SendPosChanged(HWND hwnd, TWindowPos pos) {
  CallProc(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
}

void RemoveFromOrder(std::vector<HWND>& order, HWND hwnd) {
  order.erase(std::remove(order.begin(), order.end(), hwnd), order.end());
}

// Puts a top-level window at the top of its band (topmost windows first).
void BringToTop(TWindowRec& w) {
  TState& s = State();
  RemoveFromOrder(s.top_order, w.id);
  auto at = s.top_order.begin();
  if (!(w.ex_style & WS_EX_TOPMOST)) {
    while (at != s.top_order.end()) {
      TWindowRec* o = Find(*at);
      if (!o || !(o->ex_style & WS_EX_TOPMOST)) break;
      ++at;
    }
  }
  s.top_order.insert(at, w.id);
}

HWND DeepestChildAt(HWND hwnd, TPoint p) {
  for (;;) {
    TWindowRec* w = Find(hwnd);
    if (!w) return 0;
    HWND found = 0;
    for (HWND c : w->children) {
      TWindowRec* cw = Find(c);
      if (!cw || !(cw->style & WS_VISIBLE)) continue;
      TRect r = ScreenRect(*cw);
      if (p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom) {
        found = c;
        break;
      }
    }
    if (!found) return hwnd;
    hwnd = found;
  }
}

void DestroyTree(HWND hwnd);

}  // namespace

namespace detail {

TState& State() {
  std::unique_ptr<TState>& p = StatePtr();
  if (!p) {
    std::lock_guard<std::mutex> guard(g_state_create);
    if (!p) {
      auto s = std::make_unique<TState>();
      s->backend = NewNullBackend();
      p = std::move(s);
    }
  }
  return *p;
}

std::u16string LowerName(const std::u16string& name) {
  std::u16string r = name;
  for (char16_t& c : r)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return r;
}

TWindowRec* Find(HWND hwnd) {
  TState& s = State();
  auto it = s.windows.find(hwnd);
  return it == s.windows.end() ? nullptr : it->second.get();
}

TWindowRec* FindChecked(HWND hwnd) {
  if (!OnGuiThread()) {
    SetLastError(ERROR_WRONG_THREAD);
    return nullptr;
  }
  TWindowRec* w = Find(hwnd);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

LRESULT CallProc(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  TWindowRec* w = Find(hwnd);
  if (!w) return 0;
  TWndProc proc = w->proc;  // the record may go while the procedure runs
  return proc ? proc(hwnd, msg, wParam, lParam) : DefWindowProc(hwnd, msg, wParam, lParam);
}

TPoint ClientOrigin(const TWindowRec& w) {
  TRect in = NonClientInsets(w.style, w.ex_style);
  TPoint p{w.rect.Left + in.Left, w.rect.Top + in.Top};
  if (IsChild(w)) {
    if (TWindowRec* parent = Find(w.parent)) {
      TPoint o = ClientOrigin(*parent);
      p.X += o.X;
      p.Y += o.Y;
    }
  }
  return p;
}

TRect ScreenRect(const TWindowRec& w) {
  TRect r = w.rect;
  if (IsChild(w)) {
    if (TWindowRec* parent = Find(w.parent)) {
      TPoint o = ClientOrigin(*parent);
      r.Left += o.X;
      r.Right += o.X;
      r.Top += o.Y;
      r.Bottom += o.Y;
    }
  }
  return r;
}

void Mirror(HWND hwnd) {
  TWindowRec* w = Find(hwnd);
  if (!w || IsChild(*w)) return;
  TState& s = State();
  TTopLevelState t;
  t.hwnd = hwnd;
  t.text = w->text;
  t.client = Deflate(w->rect, NonClientInsets(w->style, w->ex_style));
  t.style = w->style;
  t.ex_style = w->ex_style;
  t.visible = (w->style & WS_VISIBLE) != 0;
  t.minimized = w->show_state == 1;
  t.maximized = w->show_state == 2;
  t.active = s.active == hwnd;
  // A hidden owner (the application's window) stands for no window on
  // screen: the next one up does.
  TWindowRec* o = Find(w->owner);
  for (int depth = 0; o && o != w && depth < 64; ++depth, o = Find(o->owner)) {
    if (o->style & WS_VISIBLE) {
      t.owner = o->id;
      break;
    }
  }
  s.backend->TopLevelChanged(t);
}

}  // namespace detail

void InitWindowSystem(std::unique_ptr<TWindowBackend> backend) {
  DoneWindowSystem();
  TState& s = State();
  if (backend) s.backend = std::move(backend);
  // A termination signal wakes the GUI thread's wait; GetMessage then
  // answers WM_QUIT.
  SetTerminationWake([] {
    TState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.backend) state.backend->Wake();
  });
}

void DoneWindowSystem() {
  SetTerminationWake(nullptr);
  std::unique_ptr<TState>& p = StatePtr();
  if (!p) return;
  TState& s = *p;
  // Top-level windows first; each takes its children and owned windows along.
  while (!s.top_order.empty()) {
    HWND h = s.top_order.front();
    if (!DestroyWindow(h)) RemoveFromOrder(s.top_order, h);
  }
  {
    std::lock_guard<std::mutex> guard(s.lock);
    s.closed = true;
    for (auto& item : s.sent) item->done = true;
    s.sent.clear();
    s.posted.clear();
    s.windows.clear();
  }
  s.sent_done.notify_all();
  // Senders still on their way out of SendMessage hold no reference into the
  // state but the closed flag, which they read under the lock: keep the
  // state object and reset it in place.
  std::lock_guard<std::mutex> create(g_state_create);
  auto fresh = std::make_unique<TState>();
  fresh->backend = NewNullBackend();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    s.backend.swap(fresh->backend);
    s.top_order.clear();
    s.last_id = s.last_id;  // ids are never reused, also across resets
    s.classes.clear();
    // Registered messages stay: their ids are system-wide and long-lived.
    s.quit_pending = false;
    s.quit_code = 0;
    s.closed = false;
    s.timers.clear();
    s.active = s.focus = s.capture = 0;
    std::fill(std::begin(s.keys), std::end(s.keys), 0);
    s.cursor_pos = TPoint{};
    s.cursor_reported = false;
    s.cursor = IDC_ARROW;
    s.last_down_button = 0;
    s.last_down_hwnd = 0;
    s.cursors.clear();
    s.cursor_resources.clear();
    s.keyboard_hooks.clear();
    s.clipboard = TState::TClipboardOpening{};
  }
  // The old backend goes last, outside the lock.
  fresh.reset();
}

TWindowBackend& Backend() { return *State().backend; }
bool OnGuiThread() { return IsMainThread(); }
uint32_t GetLastError() { return t_last_error; }
void SetLastError(uint32_t code) { t_last_error = code; }

TRect NonClientInsets(uint32_t style, uint32_t ex_style) {
  (void)ex_style;
  TRect in;
  int32_t frame = 0;
  if (style & WS_THICKFRAME) frame = kFrameWidth;
  else if (style & (WS_BORDER | WS_DLGFRAME)) frame = 1;
  in.Left = in.Right = in.Bottom = in.Top = frame;
  if ((style & WS_CAPTION) == WS_CAPTION) in.Top += kCaptionHeight;
  return in;
}

uint16_t RegisterClass(const TWndClass& wc) {
  if (!OnGuiThread()) { SetLastError(ERROR_WRONG_THREAD); return 0; }
  if (wc.class_name.empty()) { SetLastError(ERROR_CANNOT_FIND_WND_CLASS); return 0; }
  TState& s = State();
  std::u16string key = LowerName(wc.class_name);
  if (s.classes.count(key)) { SetLastError(ERROR_CLASS_ALREADY_EXISTS); return 0; }
  s.classes[key] = wc;
  return static_cast<uint16_t>(0xC000 + s.classes.size());
}

bool UnregisterClass(const std::u16string& name, HINSTANCE instance) {
  (void)instance;
  if (!OnGuiThread()) { SetLastError(ERROR_WRONG_THREAD); return false; }
  TState& s = State();
  std::u16string key = LowerName(name);
  if (!s.classes.erase(key)) { SetLastError(ERROR_CLASS_DOES_NOT_EXIST); return false; }
  return true;
}

bool GetClassInfo(HINSTANCE instance, const std::u16string& name, TWndClass* wc) {
  (void)instance;
  TState& s = State();
  auto it = s.classes.find(LowerName(name));
  if (it == s.classes.end()) { SetLastError(ERROR_CLASS_DOES_NOT_EXIST); return false; }
  if (wc) *wc = it->second;
  return true;
}

uint32_t RegisterWindowMessage(const std::u16string& name) {
  if (name.empty()) return 0;
  TState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  auto [it, added] = s.registered_messages.try_emplace(LowerName(name), s.next_registered_message);
  if (added) {
    if (s.next_registered_message == 0xFFFF) { s.registered_messages.erase(it); return 0; }
    s.next_registered_message++;
  }
  return it->second;
}

HWND CreateWindowEx(uint32_t ex_style, const std::u16string& class_name, const std::u16string& name, uint32_t style,
                    int32_t x, int32_t y, int32_t cx, int32_t cy, HWND parent, HINSTANCE instance,
                    void* create_param) {
  if (!OnGuiThread()) { SetLastError(ERROR_WRONG_THREAD); return 0; }
  TState& s = State();
  auto cls = s.classes.find(LowerName(class_name));
  if (cls == s.classes.end()) { SetLastError(ERROR_CANNOT_FIND_WND_CLASS); return 0; }
  if (parent && !Find(parent)) { SetLastError(ERROR_INVALID_WINDOW_HANDLE); return 0; }
  if (x == CW_USEDEFAULT) { x = 100; y = 100; }
  if (cx == CW_USEDEFAULT) { cx = kDefaultWidth; cy = kDefaultHeight; }
  cx = std::max(cx, 0);
  cy = std::max(cy, 0);

  auto rec = std::make_unique<TWindowRec>();
  TWindowRec* w = rec.get();
  w->class_key = cls->first;
  w->class_style = cls->second.style;
  w->class_cursor = cls->second.cursor;
  w->proc = cls->second.proc;
  w->style = style & ~WS_VISIBLE;  // shown below, with its messages
  w->ex_style = ex_style;
  w->rect = TRect{x, y, x + cx, y + cy};
  w->normal_rect = w->rect;
  if (style & WS_CHILD) w->parent = parent; else w->owner = parent;
  HWND hwnd;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    hwnd = ++s.last_id;
    if (hwnd == 0) hwnd = ++s.last_id;
    w->id = hwnd;
    s.windows.emplace(hwnd, std::move(rec));
  }
  if (w->parent) {
    Find(w->parent)->children.insert(Find(w->parent)->children.begin(), hwnd);
  } else {
    s.top_order.push_back(hwnd);
    BringToTop(*w);
  }

  TCreateStruct cs;
  cs.create_param = create_param;
  cs.instance = instance;
  cs.parent = parent;
  cs.x = x; cs.y = y; cs.cx = cx; cs.cy = cy;
  cs.style = style;
  cs.name = name;
  cs.class_name = class_name;
  cs.ex_style = ex_style;
  if (CallProc(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) == 0 ||
      (Find(hwnd) && CallProc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1)) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return 0;
  }
  if (!Find(hwnd)) return 0;  // destroyed by its own creation messages
  w = Find(hwnd);
  TWindowPos pos{hwnd, 0, w->rect.Left, w->rect.Top, w->rect.Width(), w->rect.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE};
  SendPosChanged(hwnd, pos);  // WM_SIZE and WM_MOVE through the default procedure
  if (style & WS_VISIBLE) {
    if (style & WS_MAXIMIZE) ShowWindow(hwnd, SW_SHOWMAXIMIZED);
    else if (style & WS_MINIMIZE) ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
    else ShowWindow(hwnd, SW_SHOW);
  }
  Mirror(hwnd);
  return Find(hwnd) ? hwnd : 0;
}

namespace {

// WM_DESTROY goes to a window before its children, WM_NCDESTROY after them.
void DestroyTree(HWND hwnd) {
  TWindowRec* w = Find(hwnd);
  if (!w) return;
  CallProc(hwnd, WM_DESTROY, 0, 0);
  w = Find(hwnd);
  if (!w) return;
  std::vector<HWND> children = w->children;
  for (HWND c : children) {
    if (TWindowRec* cw = Find(c)) {
      if (!cw->destroying) {
        cw->destroying = true;
        DestroyTree(c);
      }
    }
  }
  CallProc(hwnd, WM_NCDESTROY, 0, 0);
}

void Unlink(HWND hwnd) {
  TState& s = State();
  TWindowRec* w = Find(hwnd);
  if (!w) return;
  for (HWND c : std::vector<HWND>(w->children)) Unlink(c);
  if (w->parent) {
    if (TWindowRec* p = Find(w->parent)) RemoveFromOrder(p->children, hwnd);
  } else {
    RemoveFromOrder(s.top_order, hwnd);
    s.backend->TopLevelDestroyed(hwnd);
  }
  if (s.focus == hwnd) s.focus = 0;
  if (s.active == hwnd) s.active = 0;
  if (s.capture == hwnd) s.capture = 0;
  if (s.last_down_hwnd == hwnd) s.last_down_hwnd = 0;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    s.windows.erase(hwnd);
  }
  ForgetWindowInQueue(hwnd);
}

bool IsSelfOrDescendant(HWND hwnd, HWND ancestor) {
  for (TWindowRec* w = Find(hwnd); w; w = Find(w->parent)) {
    if (w->id == ancestor) return true;
    if (!IsChild(*w)) break;
  }
  return false;
}

}  // namespace

bool DestroyWindow(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return false;
  if (w->destroying) return true;
  w->destroying = true;
  TState& s = State();
  // Owned windows go first.
  for (HWND o : std::vector<HWND>(s.top_order)) {
    TWindowRec* ow = Find(o);
    if (ow && ow->owner == hwnd && !ow->destroying) DestroyWindow(o);
  }
  if (Find(hwnd) && (Find(hwnd)->style & WS_VISIBLE))
    SetWindowPos(hwnd, 0, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (s.capture && IsSelfOrDescendant(s.capture, hwnd)) ReleaseCapture();
  if (s.focus && IsSelfOrDescendant(s.focus, hwnd)) {
    HWND old = s.focus;
    s.focus = 0;
    CallProc(old, WM_KILLFOCUS, 0, 0);
  }
  if (s.active == hwnd) {
    CallProc(hwnd, WM_NCACTIVATE, 0, 0);
    CallProc(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
    if (s.active == hwnd) s.active = 0;
  }
  DestroyTree(hwnd);
  Unlink(hwnd);
  return true;
}

bool IsWindow(HWND hwnd) {
  if (hwnd == 0) return false;
  TState& s = State();
  if (OnGuiThread()) return Find(hwnd) != nullptr;
  std::lock_guard<std::mutex> guard(s.lock);
  return s.windows.count(hwnd) != 0;
}

HWND GetParent(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  return w ? (w->parent ? w->parent : w->owner) : 0;
}

HWND GetOwner(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  return w ? w->owner : 0;
}

HWND SetParent(HWND hwnd, HWND parent) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w || (parent && (!Find(parent) || IsSelfOrDescendant(parent, hwnd)))) return 0;
  TState& s = State();
  HWND old = w->parent;
  if (old) {
    if (TWindowRec* p = Find(old)) RemoveFromOrder(p->children, hwnd);
  } else {
    RemoveFromOrder(s.top_order, hwnd);
    s.backend->TopLevelDestroyed(hwnd);
  }
  w->parent = parent;
  if (parent) {
    w->style |= WS_CHILD;
    w->style &= ~WS_POPUP;
    TWindowRec* p = Find(parent);
    p->children.insert(p->children.begin(), hwnd);
  } else {
    w->style &= ~WS_CHILD;
    s.top_order.push_back(hwnd);
    BringToTop(*w);
    Mirror(hwnd);
  }
  return old;
}

std::u16string GetClassName(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return {};
  auto it = State().classes.find(w->class_key);
  return it != State().classes.end() ? it->second.class_name : w->class_key;
}

HWND GetTopLevel(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  while (w && IsChild(*w)) {
    TWindowRec* p = Find(w->parent);
    if (!p) break;
    w = p;
  }
  return w ? w->id : 0;
}

TWndProc GetWindowProc(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  return w ? w->proc : TWndProc();
}

TWndProc SetWindowProc(HWND hwnd, TWndProc proc) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return TWndProc();
  TWndProc old = w->proc;
  w->proc = proc;
  return old;
}

LRESULT CallWindowProc(TWndProc proc, HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, msg, wParam, lParam) : DefWindowProc(hwnd, msg, wParam, lParam);
}

intptr_t GetWindowLong(HWND hwnd, int32_t index) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return 0;
  switch (index) {
    case GWL_STYLE: return static_cast<intptr_t>(w->style);
    case GWL_EXSTYLE: return static_cast<intptr_t>(w->ex_style);
    case GWLP_USERDATA: return w->user_data;
    case GWL_ID: return w->control_id;
    default: return 0;
  }
}

intptr_t SetWindowLong(HWND hwnd, int32_t index, intptr_t value) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return 0;
  switch (index) {
    case GWL_STYLE:
    case GWL_EXSTYLE: {
      uint32_t& field = index == GWL_STYLE ? w->style : w->ex_style;
      TStyleStruct ss{field, static_cast<uint32_t>(value)};
      CallProc(hwnd, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
      w = Find(hwnd);
      if (!w) return 0;
      uint32_t& f = index == GWL_STYLE ? w->style : w->ex_style;
      uint32_t old = f;
      ss.old_style = old;
      f = ss.new_style;
      CallProc(hwnd, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
      Mirror(hwnd);
      return static_cast<intptr_t>(old);
    }
    case GWLP_USERDATA: return std::exchange(w->user_data, value);
    case GWL_ID: return std::exchange(w->control_id, value);
    default: return 0;
  }
}

std::u16string GetWindowText(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  return w ? w->text : std::u16string();
}

bool SetWindowText(HWND hwnd, const std::u16string& text) {
  if (!FindChecked(hwnd)) return false;
  return CallProc(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != 0;
}

bool GetWindowRect(HWND hwnd, TRect* rect) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w || !rect) return false;
  *rect = ScreenRect(*w);
  return true;
}

bool GetClientRect(HWND hwnd, TRect* rect) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w || !rect) return false;
  TRect c = Deflate(w->rect, NonClientInsets(w->style, w->ex_style));
  *rect = TRect{0, 0, c.Width(), c.Height()};
  return true;
}

bool PresentWindowPixels(HWND hwnd, const uint32_t* pixels, int32_t width, int32_t height, int32_t pitch,
                         const std::vector<TRect>& rects) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w || w->parent || !pixels || width <= 0 || height <= 0 || pitch < width * 4) return false;
  const TRect c = Deflate(w->rect, NonClientInsets(w->style, w->ex_style));
  const TRect limit{0, 0, std::min(width, c.Width()), std::min(height, c.Height())};
  std::vector<TRect> cut;
  for (const TRect& r : rects) {
    const TRect i{std::max(r.Left, limit.Left), std::max(r.Top, limit.Top), std::min(r.Right, limit.Right),
                  std::min(r.Bottom, limit.Bottom)};
    if (i.Left < i.Right && i.Top < i.Bottom) cut.push_back(i);
  }
  if (cut.empty()) return true;
  return State().backend->PresentPixels(hwnd, TSize{c.Width(), c.Height()}, pixels, width, height, pitch, cut);
}

bool SetWindowOpacity(HWND hwnd, uint8_t alpha) {
  TWindowRec* w = FindChecked(hwnd);
  return w && !w->parent && State().backend->SetOpacity(hwnd, alpha);
}

bool SetWindowShape(HWND hwnd, const uint32_t* argb, int32_t width, int32_t height) {
  TWindowRec* w = FindChecked(hwnd);
  return w && !w->parent && argb && width > 0 && height > 0 && State().backend->SetShape(hwnd, argb, width, height);
}

bool ClientToScreen(HWND hwnd, TPoint* point) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w || !point) return false;
  TPoint o = ClientOrigin(*w);
  point->X += o.X;
  point->Y += o.Y;
  return true;
}

bool ScreenToClient(HWND hwnd, TPoint* point) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w || !point) return false;
  TPoint o = ClientOrigin(*w);
  point->X -= o.X;
  point->Y -= o.Y;
  return true;
}

bool SetWindowPos(HWND hwnd, HWND insert_after, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return false;
  TState& s = State();
  TWindowPos pos{hwnd, insert_after, x, y, cx, cy, flags};
  if (flags & SWP_NOMOVE) { pos.x = w->rect.Left; pos.y = w->rect.Top; }
  if (flags & SWP_NOSIZE) { pos.cx = w->rect.Width(); pos.cy = w->rect.Height(); }
  CallProc(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
  w = Find(hwnd);
  if (!w) return false;
  pos.cx = std::max(pos.cx, 0);
  pos.cy = std::max(pos.cy, 0);
  TRect next{pos.x, pos.y, pos.x + pos.cx, pos.y + pos.cy};
  if (next.Left == w->rect.Left && next.Top == w->rect.Top) pos.flags |= SWP_NOMOVE;
  if (next.Width() == w->rect.Width() && next.Height() == w->rect.Height()) pos.flags |= SWP_NOSIZE;
  w->rect = next;
  if (w->show_state == 0) w->normal_rect = next;
  if (!(pos.flags & SWP_NOZORDER) && !IsChild(*w)) {
    if (pos.insert_after == HWND_TOPMOST) w->ex_style |= WS_EX_TOPMOST;
    else if (pos.insert_after == HWND_NOTOPMOST) w->ex_style &= ~WS_EX_TOPMOST;
    BringToTop(*w);
  }
  if (pos.flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
  if (pos.flags & SWP_HIDEWINDOW) w->style &= ~WS_VISIBLE;
  bool activate = !(pos.flags & SWP_NOACTIVATE) && !IsChild(*w) && (w->style & WS_VISIBLE);
  SendPosChanged(hwnd, pos);
  Mirror(hwnd);
  if (activate && s.active != hwnd && Find(hwnd)) SetActiveWindow(hwnd);
  if (!(pos.flags & SWP_NOREDRAW) && Find(hwnd)) InvalidateRect(hwnd, nullptr, true);
  return true;
}

bool MoveWindow(HWND hwnd, int32_t x, int32_t y, int32_t cx, int32_t cy, bool repaint) {
  return SetWindowPos(hwnd, 0, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : static_cast<uint32_t>(SWP_NOREDRAW)));
}

bool ShowWindow(HWND hwnd, int32_t cmd) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return false;
  TState& s = State();
  const bool was_visible = (w->style & WS_VISIBLE) != 0;
  if (cmd == SW_HIDE) {
    if (!was_visible) return false;
    CallProc(hwnd, WM_SHOWWINDOW, 0, 0);
    SetWindowPos(hwnd, 0, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (s.active == hwnd) SetActiveWindow(0);
    return true;
  }
  uint32_t state = w->show_state;
  bool activate = true;
  switch (cmd) {
    case SW_SHOWNORMAL: case SW_RESTORE: case SW_SHOWDEFAULT: state = 0; break;
    case SW_SHOWMINIMIZED: state = 1; break;
    case SW_MINIMIZE: case SW_SHOWMINNOACTIVE: case SW_FORCEMINIMIZE: state = 1; activate = false; break;
    case SW_SHOWMAXIMIZED: state = 2; break;
    case SW_SHOWNOACTIVATE: case SW_SHOWNA: activate = false; break;
    case SW_SHOW: break;
    default: return was_visible;
  }
  if (IsChild(*w)) activate = false;
  if (!was_visible) CallProc(hwnd, WM_SHOWWINDOW, 1, 0);
  w = Find(hwnd);
  if (!w) return was_visible;
  TRect target = w->rect;
  if (state != w->show_state) {
    if (w->show_state == 0) w->normal_rect = w->rect;
    w->show_state = state;
    w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
    if (state == 1) w->style |= WS_MINIMIZE;
    if (state == 2) {
      w->style |= WS_MAXIMIZE;
      // A maximised frame lies just outside the work area.
      TRect work = GetWorkArea();
      TRect in = NonClientInsets(w->style, w->ex_style);
      target = TRect{work.Left - in.Left, work.Top - in.Left, work.Right + in.Right, work.Bottom + in.Bottom};
    } else if (state == 0) {
      target = w->normal_rect;
    }
  }
  uint32_t flags = SWP_SHOWWINDOW | SWP_NOZORDER | (activate ? 0u : static_cast<uint32_t>(SWP_NOACTIVATE));
  SetWindowPos(hwnd, 0, target.Left, target.Top, target.Width(), target.Height(), flags);
  if (activate && Find(hwnd) && state != 1) SetActiveWindow(hwnd);
  return was_visible;
}

bool IsWindowVisible(HWND hwnd) {
  for (TWindowRec* w = FindChecked(hwnd); w; w = IsChild(*w) ? Find(w->parent) : nullptr)
    if (!(w->style & WS_VISIBLE)) return false;
  return FindChecked(hwnd) != nullptr;
}

bool IsIconic(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  return w && w->show_state == 1;
}

bool IsZoomed(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  return w && w->show_state == 2;
}

bool GetWindowPlacement(HWND hwnd, TWindowPlacement* placement) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w || !placement) return false;
  placement->flags = 0;
  placement->show_cmd = !(w->style & WS_VISIBLE) ? SW_HIDE
                        : w->show_state == 1      ? SW_SHOWMINIMIZED
                        : w->show_state == 2      ? SW_SHOWMAXIMIZED
                                                  : SW_SHOWNORMAL;
  placement->normal_position = w->show_state == 0 ? w->rect : w->normal_rect;
  return true;
}

bool SetWindowPlacement(HWND hwnd, const TWindowPlacement& placement) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return false;
  w->normal_rect = placement.normal_position;
  if (w->show_state == 0) {
    const TRect& r = placement.normal_position;
    SetWindowPos(hwnd, 0, r.Left, r.Top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return ShowWindow(hwnd, static_cast<int32_t>(placement.show_cmd)) || true;
}

HWND WindowFromPoint(TPoint point) {
  if (!OnGuiThread()) return 0;
  TState& s = State();
  for (HWND h : s.top_order) {
    TWindowRec* w = Find(h);
    if (!w || !(w->style & WS_VISIBLE) || w->show_state == 1) continue;
    TRect r = ScreenRect(*w);
    if (point.X >= r.Left && point.X < r.Right && point.Y >= r.Top && point.Y < r.Bottom)
      return DeepestChildAt(h, point);
  }
  return 0;
}

bool EnableWindow(HWND hwnd, bool enable) {
  TWindowRec* w = FindChecked(hwnd);
  if (!w) return false;
  bool was_disabled = (w->style & WS_DISABLED) != 0;
  if (was_disabled == !enable) return was_disabled;
  if (enable) w->style &= ~WS_DISABLED; else w->style |= WS_DISABLED;
  CallProc(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
  return was_disabled;
}

bool IsWindowEnabled(HWND hwnd) {
  TWindowRec* w = FindChecked(hwnd);
  return w && !(w->style & WS_DISABLED);
}

HWND SetActiveWindow(HWND hwnd) {
  if (!OnGuiThread()) { SetLastError(ERROR_WRONG_THREAD); return 0; }
  TState& s = State();
  if (hwnd) {
    hwnd = GetTopLevel(hwnd);
    if (!hwnd) return 0;
  }
  HWND old = s.active;
  if (old == hwnd) return old;
  if (old && Find(old)) {
    s.active = 0;
    CallProc(old, WM_NCACTIVATE, 0, 0);
    CallProc(old, WM_ACTIVATE, WA_INACTIVE, static_cast<LPARAM>(hwnd));
    if (!hwnd) CallProc(old, WM_ACTIVATEAPP, 0, 0);
    Mirror(old);
  }
  s.active = hwnd;
  if (hwnd && Find(hwnd)) {
    BringToTop(*Find(hwnd));
    if (!old) CallProc(hwnd, WM_ACTIVATEAPP, 1, 0);
    CallProc(hwnd, WM_NCACTIVATE, 1, 0);
    CallProc(hwnd, WM_ACTIVATE, WA_ACTIVE, static_cast<LPARAM>(old));
    Mirror(hwnd);
  } else if (s.focus) {
    HWND f = s.focus;
    s.focus = 0;
    CallProc(f, WM_KILLFOCUS, 0, 0);
  }
  return old;
}

HWND GetActiveWindow() { return OnGuiThread() ? State().active.load() : 0; }
// Any thread: the active window is an atomic for this read.
HWND GetForegroundWindow() { return State().active.load(); }
bool SetForegroundWindow(HWND hwnd) { return IsWindow(hwnd) && (SetActiveWindow(hwnd), true); }

HWND SetFocus(HWND hwnd) {
  if (!OnGuiThread()) { SetLastError(ERROR_WRONG_THREAD); return 0; }
  TState& s = State();
  if (hwnd && !Find(hwnd)) { SetLastError(ERROR_INVALID_WINDOW_HANDLE); return 0; }
  HWND old = s.focus;
  if (old == hwnd) return old;
  if (hwnd) {
    HWND top = GetTopLevel(hwnd);
    if (s.active != top) SetActiveWindow(top);
    if (!Find(hwnd)) return old;
  }
  s.focus = hwnd;
  if (old && Find(old)) CallProc(old, WM_KILLFOCUS, static_cast<WPARAM>(hwnd), 0);
  if (hwnd && s.focus == hwnd) CallProc(hwnd, WM_SETFOCUS, static_cast<WPARAM>(old), 0);
  return old;
}

HWND GetFocus() { return OnGuiThread() ? State().focus : 0; }

HWND SetCapture(HWND hwnd) {
  if (!FindChecked(hwnd)) return 0;
  TState& s = State();
  HWND old = s.capture;
  s.capture = hwnd;
  if (old && old != hwnd) CallProc(old, WM_CAPTURECHANGED, 0, static_cast<LPARAM>(hwnd));
  return old;
}

bool ReleaseCapture() {
  if (!OnGuiThread()) return false;
  TState& s = State();
  HWND old = s.capture;
  s.capture = 0;
  if (old) CallProc(old, WM_CAPTURECHANGED, 0, 0);
  return true;
}

HWND GetCapture() { return OnGuiThread() ? State().capture : 0; }

LRESULT DefWindowProc(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  TWindowRec* w = Find(hwnd);
  if (!w) return 0;
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<TCreateStruct*>(lParam);
      if (cs) w->text = cs->name;
      return 1;
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_PAINT:
      ValidateRect(hwnd, nullptr);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETTEXT: {
      const auto* text = reinterpret_cast<const char16_t*>(lParam);
      w->text = text ? std::u16string(text) : std::u16string();
      Mirror(hwnd);
      return 1;
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_GETTEXT: {
      auto* buffer = reinterpret_cast<char16_t*>(lParam);
      if (!buffer || wParam == 0) return 0;
      size_t n = std::min<size_t>(w->text.size(), wParam - 1);
      std::copy_n(w->text.data(), n, buffer);
      buffer[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_WINDOWPOSCHANGED: {
      auto* pos = reinterpret_cast<const TWindowPos*>(lParam);
      if (!pos) return 0;
      TRect in = NonClientInsets(w->style, w->ex_style);
      TRect c = Deflate(w->rect, in);
      const uint32_t state = w->show_state;
      if (!(pos->flags & SWP_NOMOVE)) CallProc(hwnd, WM_MOVE, 0, MakeLParam(c.Left, c.Top));
      if (!(pos->flags & SWP_NOSIZE) && Find(hwnd))
        CallProc(hwnd, WM_SIZE, state == 1 ? SIZE_MINIMIZED : state == 2 ? SIZE_MAXIMIZED : SIZE_RESTORED,
                 MakeLParam(c.Width(), c.Height()));
      return 0;
    }
    case WM_NCHITTEST: {
      TPoint p{LoWord16(lParam), HiWord16(lParam)};
      TRect r = ScreenRect(*w);
      if (p.X < r.Left || p.X >= r.Right || p.Y < r.Top || p.Y >= r.Bottom) return HTNOWHERE;
      TRect in = NonClientInsets(w->style, w->ex_style);
      TRect c = Deflate(r, in);
      if (p.X >= c.Left && p.X < c.Right && p.Y >= c.Top && p.Y < c.Bottom) return HTCLIENT;
      if (w->style & WS_THICKFRAME) {
        bool left = p.X < r.Left + kFrameWidth, right = p.X >= r.Right - kFrameWidth;
        bool top = p.Y < r.Top + kFrameWidth, bottom = p.Y >= r.Bottom - kFrameWidth;
        if (top) return left ? HTTOPLEFT : right ? HTTOPRIGHT : HTTOP;
        if (bottom) return left ? HTBOTTOMLEFT : right ? HTBOTTOMRIGHT : HTBOTTOM;
        if (left) return HTLEFT;
        if (right) return HTRIGHT;
      }
      if ((w->style & WS_CAPTION) == WS_CAPTION && p.Y < c.Top) return HTCAPTION;
      return HTBORDER;
    }
    case WM_SETCURSOR: {
      // The parent may decide first; else the class cursor over the client.
      if (IsChild(*w) && CallProc(w->parent, WM_SETCURSOR, wParam, lParam)) return 1;
      w = Find(hwnd);
      if (w && LoWord16(lParam) == HTCLIENT) {
        SetCursor(w->class_cursor);
        return 1;
      }
      if (w && LoWord16(lParam) != HTCLIENT) SetCursor(IDC_ARROW);
      return 0;
    }
    case WM_ACTIVATE:
      if ((wParam & 0xFFFF) != WA_INACTIVE && w->show_state != 1) SetFocus(hwnd);
      return 0;
    case WM_MOUSEWHEEL:
      if (IsChild(*w)) return CallProc(w->parent, msg, wParam, lParam);
      return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE: return CallProc(hwnd, WM_CLOSE, 0, 0);
        case SC_MINIMIZE: ShowWindow(hwnd, SW_MINIMIZE); return 0;
        case SC_MAXIMIZE: ShowWindow(hwnd, SW_MAXIMIZE); return 0;
        case SC_RESTORE: ShowWindow(hwnd, SW_RESTORE); return 0;
        default: return 0;
      }
    case WM_SYSKEYDOWN:
      if (wParam == VK_F4 && (lParam & (1 << 29))) PostMessage(GetTopLevel(hwnd), WM_SYSCOMMAND, SC_CLOSE, 0);
      return 0;
    default:
      return 0;
  }
}

}  // namespace kav::win
