#include "VoRav/Composite/winFrameFormWindow.h"
#include "VoRav/Composite/winFrameForms.h"

#include <algorithm>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr uint32_t kWsExLayered = 0x80000;
constexpr win::LRESULT kMaNoActivate = 3;
constexpr win::LRESULT kHtTransparent = -1;
constexpr uint32_t kWmUpdateUIState = 0x0128;
constexpr uint32_t kLeavePollMs = 50;
constexpr uint32_t kMagenta = 0xFF00FF;

bool IsFormMouseMessage(uint32_t m) {
  return (m >= win::WM_MOUSEMOVE && m <= 526) || m == WheelRollMessage();
}

TWinFrameForm* AsWinFrameForm(TFrameForm* form) { return dynamic_cast<TWinFrameForm*>(form); }

TWindowAlphaHook g_prev_alpha = nullptr;
TWindowShapeHook g_prev_shape = nullptr;
TTaskbarProgressHook g_prev_progress = nullptr;
TFrameFormFactory g_prev_factory = nullptr;
TWinFormStyle* g_presets[3] = {nullptr, nullptr, nullptr};

bool WinWindowAlpha(TFrameForm* form, int32_t alpha) {
  TWinFrameForm* f = AsWinFrameForm(form);
  if (!f) return g_prev_alpha ? g_prev_alpha(form, alpha) : false;
  const win::HWND h = f->WinForm()->GetHandle();
  const uint32_t ex = uint32_t(win::GetWindowLong(h, win::GWL_EXSTYLE));
  if (alpha < 255) {
    if (!(ex & kWsExLayered)) win::SetWindowLong(h, win::GWL_EXSTYLE, intptr_t(ex | kWsExLayered));
    return win::SetWindowOpacity(h, uint8_t(std::max(alpha, 0)));
  }
  if (!(ex & kWsExLayered)) return true;
  win::SetWindowLong(h, win::GWL_EXSTYLE, intptr_t(ex & ~kWsExLayered));
  win::SetWindowOpacity(h, 255);
  return true;
}

bool WinWindowShape(TFrameForm* form, TBitmap* bitmap) {
  TWinFrameForm* f = AsWinFrameForm(form);
  if (!f) return g_prev_shape ? g_prev_shape(form, bitmap) : false;
  return UpdateLayeredFrameWindow(f->WinForm()->GetHandle(), bitmap, 256, false);
}

// There is no taskbar on this system: the controller stores what is set and
// answers false, and a query answers false too (no state is shown anywhere).
bool WinTaskbarProgress(TFrameForm* form, int32_t& code, float& value) {
  TWinFrameForm* f = AsWinFrameForm(form);
  if (!f) return g_prev_progress ? g_prev_progress(form, code, value) : false;
  TWinFormController* c = f->WinForm()->WinController();
  switch (code) {
    case 0: return false;
    case 1: return c->SetTaskbarProgress(0, value);
    case 2: return c->SetTaskbarProgress(2, value);
    case 3: return c->SetTaskbarProgress(4, value);
    case 4: return c->SetTaskbarProgress(8, value);
    case 5: return c->SetTaskbarProgress(1, value);
    default: KAV_ASSERT_FAIL("Assertion failure");
  }
}

}  // namespace

// TWinForm

TWinForm::TWinForm() : TVxForm(&CreateWinFormController) {
  const void* key = Controller();
  HookManager()->AddWindowHook(key, TMessageHookHandler::Bind<&TWinForm::PreMessage>(this));
  HookManager()->AddPostHook(key, TPostHookHandler::Bind<&TWinForm::PostMessage>(this));
  tree_ = NewFrameFormTree(this);
}

void TWinForm::Dispose() {
  if (leave_timer_) MultiTimerRemoveEvent(leave_timer_);
  const void* key = Controller();
  HookManager()->RemoveWindowHook(key, TMessageHookHandler::Bind<&TWinForm::PreMessage>(this));
  HookManager()->RemovePostHook(key, TPostHookHandler::Bind<&TWinForm::PostMessage>(this));
  if (TWinFrameForm* f = std::exchange(frame_form_, nullptr)) {
    f->win_form_ = nullptr;
    f->Free();
  }
  delete std::exchange(tree_, nullptr);  // frees the root control and the root frame
  TVxForm::Dispose();
}

void TWinForm::CloseQuery(int32_t& action) {
  action = !closing_ && frame_form_ ? frame_form_->CloseQuery() : kCloseFree;
}

void TWinForm::TreeCaptureChanged(bool captured) {
  if (captured) WinController()->SetCapture();
  else ReleaseMouseCapture();
}

// The window hears of a needed repaint through one posted WM_USER; the
// post-message step after it pushes the cells.
void TWinForm::TreeNeedsUpdate() {
  if (in_message_ || repaint_posted_ || !WinController()->HandleAllocated()) return;
  if (win::PostMessage(GetHandle(), win::WM_USER, 0, 0)) repaint_posted_ = true;
}

void TWinForm::PresentRects(const std::vector<TRect>& rects) {
  if (!tree_ || rects.empty() || !WinController()->HandleAllocated()) return;
  const TSize size = tree_->Size();
  if (size.cx < 1 || size.cy < 1) return;
  present_.resize(size_t(size.cx) * size_t(size.cy));
  tree_->CopyPixels(rects, present_.data(), size.cx);
  win::PresentWindowPixels(GetHandle(), present_.data(), size.cx, size.cy, size.cx * 4, rects);
}

// The window layer has no regions: what the tree collected is copied
// straight into the window instead of being invalidated and painted.
void TWinForm::PushRepaint() {
  if (!sized_ || !tree_ || tree_->Nesting() > 0 || !tree_->NeedsUpdate()) return;
  if (tree_->CollectUpdate(rects_)) PresentRects(rects_);
}

void TWinForm::PreMessage(win::HWND window, TMessageRecord& msg, bool& handled) {
  (void)window;
  const uint32_t m = msg.Msg;
  switch (m) {
    case win::WM_ERASEBKGND:
      msg.Result = 1;
      handled = true;
      return;
    case win::WM_MOUSEACTIVATE:
      if (no_activate_) {
        msg.Result = kMaNoActivate;
        handled = true;
      }
      return;
    case win::WM_NCHITTEST:
      if (mouse_transparent_) {
        msg.Result = kHtTransparent;
        handled = true;
      }
      return;
    case win::WM_CLOSE:
      if (frame_form_) {
        Ref<TWinFrameForm> keep = KeepAlive(frame_form_);
        frame_form_->CloseRequested();
        msg.Result = 0;
        handled = true;
      }
      return;
    case win::WM_PAINT: {
      // A paint message for a form without a root frame cannot happen: the
      // root is made with the form.
      KAV_ASSERT(tree_ != nullptr);
      // The layer's paint gives one invalid rectangle, not a clip region: it is copied whole.
      const TRect r = win::BeginPaint(GetHandle());
      if (sized_ && !r.IsEmpty()) {
        tree_->CollectUpdate(rects_);  // what is still invalid is drawn before it is shown
        PresentRects({r});
      }
      win::EndPaint(GetHandle());
      msg.Result = 0;
      handled = true;
      return;
    }
    default: break;
  }
  if (m == kWmUpdateUIState) {
    // The keyboard cues changed: the root has no UI-state handler of its
    // own, so the whole tree paints again and the controls read the cues.
    tree_->InvalidateAll();
    if (TWinRootControl* root = tree_->RootControl()) root->UIStateChanged();
  } else if (m == win::WM_WINDOWPOSCHANGED) {
    TRect c;
    if (win::GetClientRect(GetHandle(), &c) && !c.IsEmpty()) {
      const TSize old = tree_->Size();
      const bool resized = c.Width() != old.cx || c.Height() != old.cy;
      tree_->SetSize(c.Width(), c.Height());
      sized_ = true;
      // A real window's pixels do not survive a resize: the whole client
      // area is copied again by the paint that follows.
      if (resized) win::InvalidateRect(GetHandle(), nullptr, false);
    }
  }
  Ref<TWinForm> keep = KeepAlive(this);
  in_message_ = true;
  tree_->EnterNested();
  struct TDone {
    TWinForm* f;
    ~TDone() {
      if (!f->tree_) return;
      f->tree_->LeaveNested();
      f->in_message_ = f->tree_->Nesting() > 0;
    }
  } done{this};
  if (m == win::WM_SETFOCUS || m == win::WM_KILLFOCUS) {
    tree_->FocusChanged(m == win::WM_SETFOCUS);
  } else if (IsFormMouseMessage(m) || m == win::WM_MOUSEWHEEL) {
    if (m != win::WM_MOUSEMOVE) ++input_count_;
    handled = MouseMessage(msg);
  } else if (m >= win::WM_KEYDOWN && m <= 265) {
    handled = KeyMessage(msg);
  } else if (m == win::WM_SETCURSOR && win::LoWord16(msg.LParam) == win::HTCLIENT &&
             win::GetForegroundWindow() == GetHandle()) {
    msg.Result = 1;
    handled = true;
  }
}

bool TWinForm::MouseMessage(TMessageRecord& msg) {
  const win::HWND h = GetHandle();
  if (tree_->ColorKey() && (msg.Msg == win::WM_LBUTTONDOWN || msg.Msg == win::WM_LBUTTONDBLCLK)) {
    const int32_t x = win::LoWord16(msg.LParam), y = win::HiWord16(msg.LParam);
    if (tree_->PixelAt(x, y) == kMagenta) {
      if (msg.Msg == win::WM_LBUTTONDOWN) {
        ReleaseMouseCapture();
        win::SendMessage(h, win::WM_SYSCOMMAND, 0xF012, 0);
      } else {
        SetWindowState(WindowState() == 2 ? 0 : 2);
      }
      msg.Result = 0;
      return true;
    }
  }
  (void)h;
  const bool took = tree_->Mouse(msg.Msg, msg.WParam, msg.LParam, ClientToScreen(TPoint{0, 0}));
  msg.Result = took ? 0 : 1;
  if (!leave_timer_)
    leave_timer_ = MultiTimerAddEvent(kLeavePollMs, 0, TTimerEventHandler::Bind<&TWinForm::LeaveTick>(this));
  last_message_ = msg.Msg;
  last_wparam_ = msg.WParam;
  last_lparam_ = msg.LParam;
  last_result_ = msg.Result;
  return false;  // the default processing follows
}

void TWinForm::LeaveTick(TTimerEvent*) {
  const win::HWND h = GetHandle();
  if (!tree_ || win::GetCapture() == h) return;
  TPoint p;
  TRect r;
  const bool known = win::GetCursorPos(&p) && win::GetWindowRect(h, &r);
  if (known && p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom) return;
  Ref<TWinForm> keep = KeepAlive(this);
  win::WPARAM keys = last_wparam_ & ~win::WPARAM(win::MK_SHIFT | win::MK_CONTROL);
  if (win::GetKeyState(win::VK_CONTROL) & 0x8000) keys |= win::MK_CONTROL;
  if (win::GetKeyState(win::VK_SHIFT) & 0x8000) keys |= win::MK_SHIFT;
  const TPoint origin = ClientToScreen(TPoint{0, 0});
  tree_->EnterNested();
  tree_->Mouse(win::WM_MOUSEMOVE, keys, win::MakeLParam(p.X - origin.X, p.Y - origin.Y), origin);
  tree_->MouseLeaveWindow();  // besides the move: a control under a capture-less leave hears it too
  tree_->LeaveNested();
  if (leave_timer_) MultiTimerRemoveEvent(leave_timer_);
  PushRepaint();
  EmptyPendingReleaseList();
}

bool TWinForm::KeyMessage(TMessageRecord& msg) {
  const uint32_t m = msg.Msg;
  const bool key_message = m == win::WM_KEYDOWN || m == win::WM_KEYUP || m == win::WM_SYSKEYDOWN || m == win::WM_SYSKEYUP;
  const bool repeat = (msg.LParam & (intptr_t(1) << 30)) != 0;
  if (key_message && msg.WParam == win::VK_MENU) {
    if (m == win::WM_KEYUP) return true;
    if (m == win::WM_SYSKEYDOWN) {
      if (repeat) return true;
      input_count_ = 0;
    }
    if (m == win::WM_SYSKEYUP && input_count_ > 0) return true;
  } else {
    ++input_count_;
  }
  if (m == win::WM_KEYDOWN && repeat &&
      ((msg.WParam >= win::VK_SHIFT && msg.WParam <= win::VK_MENU) || msg.WParam == 91 || msg.WParam == 92))
    return true;
  return DecodeKeyMessage(msg, last_key_, TKeyCallback::Bind<&TWinForm::RootKey>(this));
}

void TWinForm::RootKey(uint8_t shift, uint16_t& key, uint8_t kind) {
  if (tree_) tree_->Key(shift, key, kind);
}

void TWinForm::PostMessage(win::HWND window, TMessageRecord& msg) {
  (void)window;
  if (msg.Msg == win::WM_NCHITTEST && mouse_transparent_) return;
  if (msg.Msg == win::WM_USER) repaint_posted_ = false;
  if (!tree_ || tree_->Nesting() > 0) return;
  Ref<TWinForm> keep = KeepAlive(this);
  if (!keep) return;
  try {
    PushRepaint();
  } catch (const std::exception& e) {
    LogLine(u"Frame Engine Exception: " + SystemUTF8ToWide(e.what()));
    win::MessageBox(0, u"Frame Engine Exception", u"Error", win::MB_ICONERROR);
  }
  EmptyPendingReleaseList();
}

// TWinFrameForm

TWinFrameForm::TWinFrameForm(TWinForm* form) : TFrameForm(form), win_form_(form) {
  KAV_ASSERT(form != nullptr);
  form->frame_form_ = this;
}

void TWinFrameForm::Dispose() {
  if (TWinForm* f = std::exchange(win_form_, nullptr)) {
    f->frame_form_ = nullptr;
    f->Free();
  }
  TFrameForm::Dispose();
}

void TWinFrameForm::SetContent(TFrameFormContent* content) {
  if (content && win_form_) win_form_->GetHandle();
  TFrameForm::SetContent(content);
}

bool TWinFrameForm::IsVisible() {
  return win_form_ && win_form_->WinController()->HandleAllocated() && win::IsWindowVisible(win_form_->GetHandle());
}

void TWinFrameForm::SetVisible(bool value) {
  if (!win_form_) return;
  if (!win_form_->NoActivate()) {
    win_form_->SetVisible(value);
    return;
  }
  const win::HWND h = win_form_->GetHandle();
  if (value) {
    win::TWindowPlacement wp;
    win::GetWindowPlacement(h, &wp);
    const TRect& r = wp.normal_position;
    win::SetWindowPos(h, win::HWND(win::HWND_TOPMOST), r.Left, r.Top, r.Width(), r.Height(),
                      win::SWP_NOMOVE | win::SWP_NOACTIVATE | win::SWP_SHOWWINDOW);
  } else {
    win_form_->SetVisible(false);
    WndAPI()->ShowWindowState(h, 0, true);
  }
}

std::u16string TWinFrameForm::GetCaption() { return win_form_ ? win_form_->Caption() : std::u16string(); }
void TWinFrameForm::SetCaption(const std::u16string& text) {
  if (win_form_) win_form_->TVxForm::SetCaption(text);
}
uint8_t TWinFrameForm::GetWindowState() { return win_form_ ? win_form_->WindowState() : 0; }
void TWinFrameForm::SetWindowState(uint8_t state) {
  if (win_form_) win_form_->TVxForm::SetWindowState(state);
}
TRect TWinFrameForm::GetBounds() { return win_form_ ? win_form_->Bounds() : TRect{}; }

void TWinFrameForm::SetBounds(const TRect& rect) {
  if (!win_form_) return;
  const TRect old = win_form_->Bounds();
  if (old == rect || (old.IsEmpty() && rect.IsEmpty())) return;
  win_form_->SetBoundsRect(rect);
}

void TWinFrameForm::CloseRequested() {
  Ref<TWinFrameForm> keep = KeepAlive(this);
  if (keep) CloseAction(CloseQuery());
}

void TWinFrameForm::CloseAction(int32_t action) {
  switch (action) {
    case kCloseNone: break;
    case kCloseHide: SetVisible(false); break;
    case kCloseFree:
      if (win_form_) {
        win_form_->closing_ = true;
        win_form_->Close();
      }
      break;
    case kCloseMinimize:
      if (win_form_) win_form_->Minimize();
      break;
    default: KAV_ASSERT_FAIL("Assertion failure");
  }
}

bool TWinFrameForm::PaintTo(TDrawSurface* target, TPoint point, TSize size) {
  return win_form_ && win_form_->Tree() && win_form_->Tree()->PaintTo(target, point, size);
}

// The factory and its presets.

TFrameForm* CreateWinFrameForm(TFormStyle* style) {
  auto* form = new TWinForm();
  auto* frame_form = new TWinFrameForm(form);
  if (auto* ws = dynamic_cast<TWinFormStyle*>(style)) {
    form->SetBorderStyle(ws->BorderStyle);
    form->SetShowInTaskbar(ws->ShowInTaskbar);
    form->SetStayOnTop(ws->StayOnTop);
    form->SetNoActivate(ws->NoActivate);
    form->SetMouseTransparent(ws->MouseTransparent);
  } else {
    form->SetShowInTaskbar(true);
  }
  return frame_form;
}

TWinFormStyle* FormStylePreset(int32_t index) { return index >= 0 && index < 3 ? g_presets[index] : nullptr; }

void InitializeFrameForms() {
  if (g_presets[0]) return;
  g_presets[0] = new TWinFormStyle(0, true, false, false, false);
  g_presets[1] = new TWinFormStyle(4, false, true, true, false);
  g_presets[2] = new TWinFormStyle(0, false, true, true, true);
  g_prev_factory = std::exchange(FrameFormFactory, &CreateWinFrameForm);
  g_prev_alpha = std::exchange(WindowAlphaHook, &WinWindowAlpha);
  g_prev_shape = std::exchange(WindowShapeHook, &WinWindowShape);
  g_prev_progress = std::exchange(TaskbarProgressHook, &WinTaskbarProgress);
}

void FinalizeFrameForms() {
  if (!g_presets[0]) return;
  FrameFormFactory = g_prev_factory;
  WindowAlphaHook = g_prev_alpha;
  WindowShapeHook = g_prev_shape;
  TaskbarProgressHook = g_prev_progress;
  for (TWinFormStyle*& p : g_presets) std::exchange(p, nullptr)->Free();
}

TFrameFormTree* FrameFormTree(TFrameForm* form) {
  auto* f = dynamic_cast<TWinFrameForm*>(form);
  return f && f->WinForm() ? f->WinForm()->Tree() : nullptr;
}

TWinRootControl* FrameFormRootControl(TFrameForm* form) {
  TFrameFormTree* t = FrameFormTree(form);
  return t ? t->RootControl() : nullptr;
}

win::HWND FrameFormWindow(TFrameForm* form) {
  auto* f = dynamic_cast<TWinFrameForm*>(form);
  return f && f->WinForm() ? f->WinForm()->GetHandle() : 0;
}

TFrameFormInfo FrameFormInfo(TFrameForm* form) {
  TFrameFormInfo info;
  auto* f = dynamic_cast<TWinFrameForm*>(form);
  if (!f || !f->WinForm()) return info;
  info.Sized = f->WinForm()->Sized();
  info.Closing = f->WinForm()->Closing();
  info.LeavePollRunning = f->WinForm()->LeavePollRunning();
  info.InputCount = f->WinForm()->InputCount();
  return info;
}

void SetFrameFormColorKey(TFrameForm* form, bool value) {
  if (TFrameFormTree* t = FrameFormTree(form)) t->SetColorKey(value);
}

}  // namespace kav
