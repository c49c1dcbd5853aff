#include "VoRav/Application2/winForms.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winMouseCursor.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"

namespace kav {

using namespace win;

namespace {

constexpr char16_t kFormClass[] = u"TVxForm";
constexpr uint32_t kColorBtnFace = 15;
std::mutex g_create_lock;
TWinFormController* g_creating = nullptr;

uint32_t TaskbarButtonCreatedMessage() { return RegisterWindowMessage(u"TaskbarButtonCreated"); }

bool IsMouseMessage(uint32_t m) { return m >= WM_MOUSEMOVE && m <= WM_MBUTTONDBLCLK; }
bool IsKeyMessage(uint32_t m) { return m >= WM_KEYDOWN && m <= WM_SYSCHAR; }

int32_t ShowCommandOfState(uint8_t state) {
  return state == 1 ? SW_SHOWMINIMIZED : state == 2 ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
}

}  // namespace

struct TFormClassAccess {
  // The class procedure: binds the window's first message to the controller
  // being created and installs its own procedure.
  static LRESULT FirstMessage(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
    TWinFormController* self = std::exchange(g_creating, nullptr);
    if (!self) return DefWindowProc(window, msg, wParam, lParam);
    self->handle_ = window;
    SetWindowProc(window, ThunkProc(self->thunk_));
    return self->WindowProc(window, msg, wParam, lParam);
  }
};

uint8_t EffectiveBorderIcons(uint8_t border_style, uint8_t icons) {
  switch (border_style) {
    case 0: case 4: return 0;
    case 5: return icons & ~kIconMaximize;
    case 6: return icons & ~(kIconMinimize | kIconMaximize);
    default: return icons;
  }
}

TFormStyles FormStyles(uint8_t border_style, uint8_t border_icons, uint8_t window_state, bool stay_on_top,
                       bool visible) {
  TFormStyles s;
  switch (border_style) {
    case 0: s = {WS_POPUP, 0}; break;
    case 1: s = {0x06C40000, WS_EX_WINDOWEDGE}; break;
    case 2: case 3: s = {0x06C40000, WS_EX_WINDOWEDGE | WS_EX_TOOLWINDOW}; break;
    case 4: s = {WS_POPUP | WS_BORDER, WS_EX_WINDOWEDGE}; break;
    case 5: case 6: s = {WS_CAPTION, WS_EX_WINDOWEDGE}; break;
    default: KAV_ASSERT_FAIL("Assertion failure");
  }
  s.ExStyle |= WS_EX_CONTROLPARENT;
  if (stay_on_top) s.ExStyle |= WS_EX_TOPMOST;
  if (visible) s.Style |= WS_VISIBLE;
  if (window_state == 1) s.Style |= WS_MINIMIZE;
  if (window_state == 2) s.Style |= WS_MAXIMIZE;
  const uint8_t icons = EffectiveBorderIcons(border_style, border_icons);
  if (icons & kIconSystemMenu) {
    s.Style |= WS_SYSMENU;
    if (icons & kIconMinimize) s.Style |= WS_MINIMIZEBOX;
    if (icons & kIconMaximize) s.Style |= WS_MAXIMIZEBOX;
  }
  if (icons & kIconHelp) s.ExStyle |= WS_EX_CONTEXTHELP;
  return s;
}

uint32_t TaskbarProgressValue(float value) {
  // Clamped: a value past 1 would not fit the 32-bit count.
  const double v = std::isnan(value) ? 0.0 : std::clamp(static_cast<double>(value), 0.0, 1.0);
  return static_cast<uint32_t>(std::nearbyint(v * 2147483647.0));
}

TFormController* CreateWinFormController(TVxForm* form) { return new TWinFormController(form); }

void TWinFormController::GetDefaultBounds(TRect& rect) {
  const TRect work = GetWorkArea();
  const int64_t ww = work.Width(), wh = work.Height();
  const auto width = static_cast<int32_t>((ww - GetSystemMetrics(SM_CXFRAME)) * 3 / 4);
  const auto height = static_cast<int32_t>((wh - GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION)) * 3 / 4);
  rect.Left = work.Left + (work.Width() - width) / 2;
  rect.Top = work.Top + (work.Height() - height) / 2;
  rect.Right = rect.Left + width;
  rect.Bottom = rect.Top + height;
}

TFormStyles TWinFormController::CurrentStyles() {
  return FormStyles(form_->BorderStyle(), form_->BorderIcons(), form_->WindowState(), form_->StayOnTop(),
                    form_->Visible());
}

void TWinFormController::CreateHandle() {
  if (handle_) return;
  TWndClass existing;
  if (!GetClassInfo(kProgramInstance, kFormClass, &existing)) {
    TWndClass wc;
    wc.class_name = kFormClass;
    wc.instance = kProgramInstance;
    wc.cursor = LoadCursor(0, IDC_ARROW);
    wc.icon = u"MAINICON";
    wc.background = kColorBtnFace + 1;
    wc.proc = TWndProc::Bind<&TFormClassAccess::FirstMessage>();
    if (!WndAPI()->RegisterClass(wc)) throw EOSError("Cannot register the form class", int32_t(GetLastError()));
  }
  const TFormStyles st = CurrentStyles();
  const TRect& b = form_->Bounds();
  TWndCreateParams p;
  p.ClassName = kFormClass;
  p.WindowName = form_->Caption();
  p.Style = st.Style;
  p.ExStyle = st.ExStyle;
  p.X = b.Left;
  p.Y = b.Top;
  p.Width = b.Width();
  p.Height = b.Height();
  TWinApplication* app = WinApplication();
  p.Parent = form_->ShowInTaskbar() || !app ? 0 : app->GetHandle();
  {
    std::lock_guard<std::mutex> guard(g_create_lock);
    if (!thunk_) thunk_ = MakeMethodThunk(TWndProc::Bind<&TWinFormController::WindowProc>(this));
    g_creating = this;
    WndAPI()->CreateWindow(p, nullptr);
    g_creating = nullptr;
  }
  if (!handle_) throw EOSError("Cannot create the form window", int32_t(GetLastError()));
  TRect r;
  GetWindowRect(handle_, &r);
  SetWindowPos(handle_, 0, r.Left, r.Top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  if (handle_) SendMessage(handle_, WM_CHANGEUISTATE, 0x30003, 0);
}

void TWinFormController::DestroyHandle() {
  if (HWND h = std::exchange(handle_, 0)) WndAPI()->DestroyWindow(h);
}

void TWinFormController::RecreateHandle() {
  DestroyHandle();
  CreateHandle();
}

bool TWinFormController::HasMouseCapture() { return handle_ && GetCapture() == handle_; }

void TWinFormController::ClientToScreen(TPoint p, TPoint& result) {
  CreateHandle();
  result = p;
  win::ClientToScreen(handle_, &result);
}

void TWinFormController::ScreenToClient(TPoint p, TPoint& result) {
  CreateHandle();
  result = p;
  win::ScreenToClient(handle_, &result);
}

bool TWinFormController::SetBounds(const TRect& rect) {
  if (!handle_) return false;
  SetWindowPos(handle_, 0, rect.Left, rect.Top, rect.Width(), rect.Height(),
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return true;
}

bool TWinFormController::SetCaption(const std::u16string& caption) {
  if (!handle_) return false;
  WndAPI()->SetWindowText(handle_, caption);
  return true;
}

bool TWinFormController::SetCursor(int32_t id) {
  TFormUpdate u;
  u.Kind = kFormCursor;
  u.Cursor = id;
  Record(u);
  if (handle_) {
    TPoint p;
    if (GetCursorPos(&p) && WindowFromPoint(p) == handle_ &&
        SendMessage(handle_, WM_NCHITTEST, 0, MakeLParam(p.X, p.Y)) == HTCLIENT)
      SetFormCursor(id);
  }
  return true;
}

bool TWinFormController::SetVisible(bool visible) {
  if (visible == form_->Visible()) return false;
  if (visible) {
    CreateHandle();
    ShowWindow(handle_, ShowCommandOfState(form_->WindowState()));
    return true;
  }
  if (!handle_) return false;
  ShowWindow(handle_, SW_HIDE);
  return true;
}

bool TWinFormController::SetShowInTaskbar(bool show) {
  if (!handle_) return false;
  TFormUpdate u;
  u.Kind = kFormTaskbar;
  u.ShowInTaskbar = show;
  Record(u);
  RecreateHandle();  // the owner changes
  return true;
}

bool TWinFormController::SetStayOnTop(bool on_top) {
  if (!handle_) return false;
  TFormUpdate u;
  u.Kind = kFormStayOnTop;
  u.StayOnTop = on_top;
  Record(u);
  SetWindowPos(handle_, on_top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOSIZE | SWP_NOMOVE | SWP_FRAMECHANGED);
  return true;
}

bool TWinFormController::SetWindowState(uint8_t state) {
  if (!handle_ || !IsWindowVisible(handle_)) return false;
  TFormUpdate u;
  u.Kind = kFormWindowState;
  u.WindowState = state;
  Record(u);
  ShowWindow(handle_, ShowCommandOfState(state));
  return true;
}

void TWinFormController::ApplyStyles(uint8_t kind) {
  flags_ |= 1;
  const TFormStyles st = CurrentStyles();
  SetWindowLong(handle_, GWL_STYLE, static_cast<intptr_t>(st.Style));
  SetWindowLong(handle_, GWL_EXSTYLE, static_cast<intptr_t>(st.ExStyle));
  SetWindowPos(handle_, 0, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  flags_ &= ~1u;
  form_->Changed(kind);
}

bool TWinFormController::SetBorderStyle(uint8_t style) {
  if (!handle_) return false;
  TFormUpdate u;
  u.Kind = kFormBorderStyle;
  u.BorderStyle = style;
  Record(u);
  ApplyStyles(kFormBorderStyle);
  return true;
}

bool TWinFormController::SetBorderIcons(uint8_t icons) {
  if (!handle_) return false;
  TFormUpdate u;
  u.Kind = kFormBorderIcons;
  u.BorderIcons = icons;
  Record(u);
  ApplyStyles(kFormBorderIcons);
  return true;
}

void TWinFormController::Activate() {
  KAV_ASSERT(handle_ != 0);
  SetActiveWindow(handle_);
}

void TWinFormController::Close() {
  // The form may be freed below; both stay whole until this returns.
  Ref<TWinFormController> keep_self = KeepAlive(this);
  Ref<TVxForm> keep_form = KeepAlive(form_);
  int32_t action = kCloseHide;
  form_->CloseQuery(action);
  switch (action) {
    case kCloseNone: break;
    case kCloseHide: form_->SetVisible(false); break;
    case kCloseFree:
      if (handle_) PostMessage(handle_, FormFreeMessage(), 0, 0);
      else form_->Free();
      break;
    case kCloseMinimize: form_->SetWindowState(1); break;
    default: KAV_ASSERT_FAIL("Assertion failure");
  }
}

void TWinFormController::SetCapture() {
  KAV_ASSERT(handle_ != 0);
  win::SetCapture(handle_);
  if (GetCapture() == handle_) form_->Changed(kFormCapture);
}

void TWinFormController::ReleaseCapture() {
  KAV_ASSERT(handle_ != 0);
  if (GetCapture() == handle_) win::ReleaseCapture();
}

void TWinFormController::Invalidate() {
  KAV_ASSERT(handle_ != 0);
  win::InvalidateRect(handle_, nullptr, false);
}

void TWinFormController::InvalidateRect(const TRect& rect) {
  KAV_ASSERT(handle_ != 0);
  win::InvalidateRect(handle_, &rect, false);
}

void TWinFormController::GetClientRect(TRect& rect) {
  CreateHandle();
  win::GetClientRect(handle_, &rect);
}

void TWinFormController::GetNonClientSize(TSize& size) {
  TRect c;
  GetClientRect(c);
  size = TSize{form_->Bounds().Width() - c.Width(), form_->Bounds().Height() - c.Height()};
}

uint32_t TWinFormController::GetHandle() {
  CreateHandle();
  return handle_;
}

bool TWinFormController::IsForeground() { return handle_ && GetForegroundWindow() == handle_; }

bool TWinFormController::SetTaskbarProgress(uint8_t state, float value) {
  progress_state_ = state;
  progress_value_ = value;
  return false;
}

void TWinFormController::RecordState(uint8_t kind) {
  TFormUpdate u;
  u.Kind = kind;
  if (kind == kFormVisible) {
    u.Visible = IsWindowVisible(handle_);
  } else {
    TWindowPlacement wp;
    GetWindowPlacement(handle_, &wp);
    u.WindowState = wp.show_cmd == SW_SHOWMINIMIZED || wp.show_cmd == SW_MINIMIZE ? 1
                    : wp.show_cmd == SW_SHOWMAXIMIZED                              ? 2
                                                                                   : 0;
  }
  Record(u);
}

void TWinFormController::OnMouse(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind) {
  if (AutoCapture && kind == kMouseDown && GetCapture() != handle_) win::SetCapture(handle_);
  TPoint p;
  if (GetCursorPos(&p)) {
    TPoint origin{0, 0};
    win::ClientToScreen(handle_, &origin);
    x = p.X - origin.X;
    y = p.Y - origin.Y;
  }
  form_->MouseEvent(shift, x, y, button, kind);
  if (AutoCapture && kind == kMouseUp && !(shift & (kShiftLeft | kShiftRight | kShiftMiddle)) &&
      GetCapture() == handle_ && handle_)
    win::ReleaseCapture();
}

bool TWinFormController::PrePass(TMessageRecord& msg) {
  const uint32_t m = msg.Msg;
  if (IsMouseMessage(m)) return DecodeMouseMessage(msg, TMouseCallback::Bind<&TWinFormController::OnMouse>(this));
  if (m == WM_MOUSEWHEEL || m == WheelRollMessage())
    return DecodeMouseWheelMessage(handle_, msg, TWheelCallback::Bind<&TWinFormController::OnWheel>(this));
  if (IsKeyMessage(m)) return DecodeKeyMessage(msg, last_key_, TKeyCallback::Bind<&TWinFormController::OnKey>(this));
  if (m == TaskbarButtonCreatedMessage()) return false;  // no taskbar list on this system
  switch (m) {
    case WM_STYLECHANGING:
      if (!(flags_ & 1)) {
        auto* ss = reinterpret_cast<TStyleStruct*>(msg.LParam);
        const TFormStyles st = CurrentStyles();
        if (msg.WParam == static_cast<WPARAM>(static_cast<intptr_t>(GWL_STYLE)))
          ss->new_style = (ss->new_style & ~0x86CF0000u) | st.Style;
        else if (msg.WParam == static_cast<WPARAM>(static_cast<intptr_t>(GWL_EXSTYLE)))
          ss->new_style = (ss->new_style & ~0x10180u) | st.ExStyle;
      }
      return false;
    case WM_CLOSE:
      Close();
      return true;
    case WM_DESTROY:
      handle_ = 0;
      return false;
    case WM_ACTIVATE:
      if (msg.WParam != 0 && form_->OnActivate) form_->OnActivate();
      if (handle_) {
        RecordState(kFormVisible);
        RecordState(kFormWindowState);
      }
      return false;
    case WM_PAINT:
      if (form_->OnPaint) form_->OnPaint();
      return false;
    case WM_SETCURSOR:
      if (LoWord16(msg.LParam) == HTCLIENT) {
        SetFormCursor(form_->Cursor());
        msg.Result = 1;
        return true;
      }
      return false;
    case WM_WINDOWPOSCHANGED: {
      TRect r;
      if (!handle_ || !WndAPI()->GetWindowBounds(handle_, r)) return false;
      TWindowPlacement wp;
      GetWindowPlacement(handle_, &wp);
      TFormUpdate batch[4];
      batch[0].Kind = kFormPosition;
      batch[0].X = r.Left;
      batch[0].Y = r.Top;
      batch[1].Kind = kFormSize;
      batch[1].Width = r.Width();
      batch[1].Height = r.Height();
      batch[2].Kind = kFormStayOnTop;
      batch[2].StayOnTop = (GetWindowLong(handle_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      batch[3].Kind = kFormWindowState;
      batch[3].WindowState = IsIconic(handle_) ? 1 : IsZoomed(handle_) ? 2 : 0;
      form_->ApplyStateChanges(batch);
      return false;
    }
    case WM_SYSCOMMAND:
      if ((msg.WParam & 0xFFF0) == SC_SIZE && form_->BorderStyle() == 3) {
        msg.Result = 0;
        return true;
      }
      return false;
    case WM_MENUCHAR:
      msg.Result = 0x10000;  // close the menu without a beep
      return true;
    case WM_SIZING:
      if (auto* r = reinterpret_cast<TRect*>(msg.LParam)) form_->AdjustBounds(*r);
      return false;
    case WM_CAPTURECHANGED:
      form_->Changed(kFormCapture);
      return false;
    default:
      return false;
  }
}

void TWinFormController::PostPass(const TMessageRecord& msg) {
  TFormUpdate u;
  switch (msg.Msg) {
    case WM_CANCELMODE:
      u.Kind = handle_ && GetActiveWindow() == handle_ ? kFormActivated : kFormDeactivated;
      Record(u);
      break;
    case WM_SHOWWINDOW:
      u.Kind = kFormVisible;
      u.Visible = msg.WParam != 0;
      Record(u);
      break;
    case WM_ACTIVATE:
      u.Kind = msg.WParam != 0 ? kFormActivated : kFormDeactivated;
      Record(u);
      break;
    case WM_SETTEXT:
      if (handle_) {
        u.Kind = kFormCaption;
        u.Caption = GetWindowText(handle_);
        Record(u);
      }
      break;
    default:
      break;
  }
}

LRESULT TWinFormController::WindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == FormFreeMessage()) {
    form_->Free();  // frees this controller too: nothing of it is touched afterwards
    return 0;
  }
  // A handler may free the form: form and controller stay whole until this
  // returns. The form is let go last, as when it is freed outside a message:
  // its clean-up frees the controller, whose window then goes while the form
  // is still whole (the controller's reference, let go first, is not the last).
  Ref<TVxForm> keep_form = KeepAlive(form_);
  Ref<TWinFormController> keep_self = KeepAlive(this);
  TMessageRecord msg{message, wParam, lParam, 0};
  bool handled = false;
  HookManager()->CallHooks(this, window, msg, handled);
  LRESULT result = msg.Result;
  if (!handled) {
    if (PrePass(msg)) {
      result = msg.Result;
    } else {
      result = WndAPI()->DefWindowProc(window, message, wParam, lParam);
      // Sizing borders of a fixed-size form are client area.
      if (message == WM_NCHITTEST && form_->BorderStyle() == 3 && result >= HTLEFT && result <= HTBOTTOMRIGHT)
        result = HTCLIENT;
      msg.Result = result;
      PostPass(msg);
    }
  }
  HookManager()->CallPostHooks(this, window, msg);
  return result;
}

void TWinFormController::Dispose() {
  DestroyHandle();
  FreeThunk(thunk_);
  TCustomWinFormController::Dispose();
}

}  // namespace kav
