#include "VoRav/Composite/winFrameForms.h"

#include "VoRav/Application2/winInput.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// The button face of the system colours, as 0xAARRGGBB.
uint32_t SystemFaceColor() {
  const uint32_t c = win::GetSysColor(win::COLOR_BTNFACE);  // 0x00BBGGRR
  return 0xFF000000u | (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);
}

constexpr uint32_t kColorKey = 0xFFFF00FFu;
constexpr win::WPARAM kClearHideFocus = 0x10002;  // UIS_CLEAR | UISF_HIDEFOCUS << 16

TRootFrame* FormRootFrame(TWinRootForm* form) {
  KAV_ASSERT(form != nullptr);
  return form->RootFrame();
}

}  // namespace

uint32_t (*RootFaceColor)() = &SystemFaceColor;
void (*ReloadDefaultStyleColors)() = nullptr;

// The layer has no call for the whole keyboard state: it is gathered key by
// key, once per window key, when a control first asks.
bool TWinKeyboardData::IsKeyDown(int32_t vk) {
  if (!StateRead) {
    for (int32_t i = 0; i < 256; ++i) {
      const uint16_t k = static_cast<uint16_t>(win::GetKeyState(i));
      State[size_t(i)] = uint8_t((k & 0x8000 ? 0x80 : 0) | (k & 1));
    }
    StateRead = true;
  }
  return vk >= 0 && vk < 256 && State[size_t(vk)] > 127;
}

TWinRootControl::TWinRootControl(TWinRootForm* form)
    : TWinHandleRootControl(FormRootFrame(form)), form_(form), keyboard_(new TWinKeyboardData) {}

void TWinRootControl::Dispose() {
  delete std::exchange(keyboard_, nullptr);
  TWinHandleRootControl::Dispose();
}

void TWinRootControl::ThemeChanged() {
  if (ReloadDefaultStyleColors) ReloadDefaultStyleColors();
  InvalidateAll();
}

void TWinRootControl::Paint(TDrawSurface* surface) {
  surface->FillRect(TRect{0, 0, width_, height_}, form_->ColorKeyMode() ? kColorKey : (RootFaceColor() | 0xFF000000u));
}

// The form's client area follows the root: comparing and setting the
// client size (not the outer window size, which includes the frame) keeps
// the two from chasing each other.
void TWinRootControl::SizeChanged() {
  const TSize client = form_->ClientSize();
  if (client.cx != width_ || client.cy != height_) form_->SetClientSize(width_, height_);
  TWinHandleRootControl::SizeChanged();
}

void TWinRootControl::KeyEvent(TKeyData* key) {
  const bool cue_key = (key->Kind == kKeyDown && (key->Key == 18 || (key->Key >= 37 && key->Key <= 40))) ||
                       (key->Kind == kKeyChar && key->Key == 9 && (key->Shift & 253) == 0);
  TWinHandleRootControl::KeyEvent(key);
  if (cue_key && !cues_shown_) {
    cues_shown_ = true;
    if (win::HWND h = GetHandle()) win::SendMessage(h, win::WM_CHANGEUISTATE, kClearHideFocus, 0);
  }
}

void TWinRootControl::WindowKey(uint8_t shift, uint16_t& key, uint8_t kind) {
  // A key handler may free the form, and with it this root: both stay
  // whole until the key is done.
  const Ref<TRefObject> form = form_->HoldForm();
  const Ref<TWinRootControl> self(this);
  TWinKeyboardData* k = keyboard_;
  k->Handled = false;
  k->Kind = kind;
  k->Shift = shift;
  k->Key = key;
  k->StateRead = false;
  DispatchKey(k);
  if (k->Handled) key = 0;
}

void TWinRootControl::WindowFocusChanged(bool value) {
  if (value) keyboard_->StateRead = false;
  SetFocusState(value);
}

void TWinRootControl::RefreshMouse() {
  win::HWND h = GetHandle();
  TPoint p;
  if (!h || !win::GetCursorPos(&p) || !win::ScreenToClient(h, &p)) return;
  uint8_t shift = 0;
  auto down = [](int32_t vk) { return (static_cast<uint16_t>(win::GetKeyState(vk)) & 0x8000) != 0; };
  if (down(win::VK_SHIFT)) shift |= kShiftShift;
  if (down(win::VK_CONTROL)) shift |= kShiftCtrl;
  if (down(win::VK_MENU)) shift |= kShiftAlt;
  if (down(win::VK_LBUTTON)) shift |= kShiftLeft;
  if (down(win::VK_RBUTTON)) shift |= kShiftRight;
  if (down(win::VK_MBUTTON)) shift |= kShiftMiddle;
  form_->RootFrame()->MouseEvent(shift, p.X, p.Y, kMouseMove, 0);
}

void TWinRootControl::ClientToScreen(int32_t x, int32_t y, TPoint& point) {
  TPoint p{x, y};
  win::HWND h = GetHandle();
  point = h && win::ClientToScreen(h, &p) ? p : TPoint{};
}

TRefreshNotifier* TWinRootControl::CreateRefreshNotifier() { return new TWinRefreshNotifier(this); }

void TWinRefreshNotifier::OnTick() {
  const Ref<TRefObject> form = form_->HoldForm();  // a tick's handler may free the form
  form_->EnterNested();
  bool reached = false;
  try {
    reached = Dispatch(kFrameEventTimeRefresh, 0);
  } catch (...) {
    form_->LeaveNested();
    throw;
  }
  form_->LeaveNested();
  AfterTick(reached);
}

void TWinRefreshNotifier::AfterTick(bool reached) {
  if (!reached) StopTimer();
}

}  // namespace kav
