#include "VoRav/Application2/winDumbWindow.h"

#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"

namespace kav {

using namespace win;

// --- TDumbWindow -----------------------------------------------------------

namespace {

constexpr char16_t kDumbClass[] = u"TDumbWindow";
TDumbWindow* g_dumb_creating = nullptr;
TWinControl* g_control_creating = nullptr;

}  // namespace

struct TDumbWindowAccess {
  // The class procedure: takes the window's first message, binds the window
  // to the object being created and passes the message on.
  static LRESULT FirstMessage(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
    TDumbWindow* self = std::exchange(g_dumb_creating, nullptr);
    if (!self) return DefWindowProc(window, msg, wParam, lParam);
    self->handle_ = window;
    SetWindowProc(window, ThunkProc(self->thunk_));
    return self->WindowProc(window, msg, wParam, lParam);
  }
};

void TDumbWindow::CreateHandle() {
  if (handle_) return;
  if (!thunk_) thunk_ = MakeMethodThunk(TWndProc::Bind<&TDumbWindow::WindowProc>(this));
  if (!GetClassInfo(kProgramInstance, kDumbClass, nullptr)) {
    TWndClass wc;
    wc.class_name = kDumbClass;
    wc.instance = kProgramInstance;
    wc.proc = TWndProc::Bind<&TDumbWindowAccess::FirstMessage>();
    KAV_ASSERT(WndAPI()->RegisterClass(wc) != 0);
  }
  TWndCreateParams p;
  p.ClassName = kDumbClass;
  p.Style = WS_POPUP;
  p.ExStyle = WS_EX_TOOLWINDOW;
  g_dumb_creating = this;
  WndAPI()->CreateWindow(p, nullptr);
  g_dumb_creating = nullptr;
  KAV_ASSERT(handle_ != 0);
}

void TDumbWindow::SetBounds(const TRect& rect) {
  CreateHandle();
  SetWindowPos(handle_, 0, rect.Left, rect.Top, rect.Width(), rect.Height(),
               SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE | SWP_HIDEWINDOW);
}

void TDumbWindow::HandleMessage(TMessageRecord& msg) {
  msg.Result = WndAPI()->DefWindowProc(handle_, msg.Msg, msg.WParam, msg.LParam);
}

LRESULT TDumbWindow::WindowProc(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  (void)window;
  TMessageRecord rec{msg, wParam, lParam, 0};
  try {
    HandleMessage(rec);
  } catch (...) {
    if (msg == WM_DESTROY) handle_ = 0;
    throw;
  }
  if (msg == WM_DESTROY) handle_ = 0;
  return rec.Result;
}

void TDumbWindow::Dispose() {
  if (handle_) WndAPI()->DestroyWindow(handle_);
  handle_ = 0;
  FreeThunk(thunk_);
  TRefObject::Dispose();
}

// --- TWinControl -----------------------------------------------------------

struct TWinControlAccess {
  static LRESULT FirstMessage(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
    KAV_ASSERT(IsMainThread());
    TWinControl* self = std::exchange(g_control_creating, nullptr);
    if (!self) return DefWindowProc(window, msg, wParam, lParam);
    self->handle_ = window;
    self->previous_proc_ = SubclassWindow(window, self->Handler());
    return self->WindowProc(window, msg, wParam, lParam);
  }
};

void TWinControl::CreateControl(HWND parent) {
  class_name_ = SystemUTF8ToWide(ClassName());
  CreateHandle(parent);
  SetParent(handle_, parent);
  const auto font = static_cast<uintptr_t>(SendMessage(parent, WM_GETFONT, 0, 0));
  SendMessage(handle_, WM_SETFONT, font, 0);
}

void TWinControl::CreateParams(TControlCreateParams& params) {
  params = TControlCreateParams{};
  params.Style = WS_CHILD;
}

void TWinControl::CreateHandle(HWND parent) {
  TWndClass wc;
  GetWindowClass(wc);
  base_proc_ = wc.proc;
  const TWndProc first = TWndProc::Bind<&TWinControlAccess::FirstMessage>();
  TWndClass existing;
  const bool registered = GetClassInfo(kProgramInstance, class_name_, &existing);
  if (!registered || !(existing.proc == first)) {
    // A class of this name with a foreign procedure is replaced.
    if (registered) WndAPI()->UnregisterClass(class_name_, kProgramInstance);
    wc.class_name = class_name_;
    wc.instance = kProgramInstance;
    wc.proc = first;
    if (!WndAPI()->RegisterClass(wc)) throw EOSError("Cannot register a control class", int32_t(GetLastError()));
  }
  TControlCreateParams p;
  CreateParams(p);
  g_control_creating = this;
  CreateWindowEx(p.ExStyle, class_name_, p.WindowName, p.Style, p.X, p.Y, p.Width, p.Height, parent,
                 kProgramInstance, p.CreateParam);
  g_control_creating = nullptr;
  if (!handle_) throw EOSError("Cannot create a control window", int32_t(GetLastError()));
}

void TWinControl::HandleMessage(TMessageRecord& msg) {
  if (msg.Msg == WM_SETFONT) font_ = msg.WParam;
  if (msg.Msg == WM_GETFONT && font_) {
    msg.Result = static_cast<LRESULT>(font_);
    return;
  }
  msg.Result = CallWindowProc(base_proc_, handle_, msg.Msg, msg.WParam, msg.LParam);
}

LRESULT TWinControl::WindowProc(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  (void)window;
  TMessageRecord rec{msg, wParam, lParam, 0};
  HandleMessage(rec);
  if (msg == WM_NCDESTROY && handle_) {
    UnsubclassWindow(handle_, Handler(), previous_proc_);
    handle_ = 0;
  }
  return rec.Result;
}

void TWinControl::SetBounds(const TRect& rect) {
  SetWindowPos(handle_, 0, rect.Left, rect.Top, rect.Width(), rect.Height(),
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

TRect TWinControl::GetBoundsRect() {
  TWindowPlacement wp;
  if (!GetWindowPlacement(handle_, &wp)) return TRect{};
  return wp.normal_position;
}

void TWinControl::SetText(const std::u16string& text) { SetWindowText(handle_, text); }

void TWinControl::SetShowState(int32_t state) { ShowWindow(handle_, state == 0 ? SW_HIDE : SW_SHOW); }

void TWinControl::Dispose() {
  if (handle_) DestroyWindow(handle_);
  handle_ = 0;
  TRefObject::Dispose();
}

}  // namespace kav
