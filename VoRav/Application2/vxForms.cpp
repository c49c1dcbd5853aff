#include "VoRav/Application2/vxForms.h"

#include <vector>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {
TFormControllerCreator g_controller_creator = nullptr;
}

void SetFormControllerClass(TFormControllerCreator creator) {
  KAV_ASSERT(g_controller_creator == nullptr);
  g_controller_creator = creator;
}

TFormControllerCreator FormControllerClass() { return g_controller_creator; }

// --- TFormController -------------------------------------------------------

TFormController::TFormController(TVxForm* form) : form_(form) { KAV_ASSERT(form != nullptr); }

void TFormController::Attach() { GetDefaultBounds(form_->bounds_); }

// --- TVxForm ---------------------------------------------------------------

TVxForm::TVxForm(TFormControllerCreator creator) : events_(MakeRef<TEventList>(16)) {
  if (!creator) creator = g_controller_creator;
  KAV_ASSERT(creator != nullptr);
  controller_ = Ref<TFormController>::Adopt(creator(this));
  controller_->Attach();
  adjust_data_ = MakeRef<TAdjustBoundsData>();
}

void TVxForm::Dispose() {
  events_->Notify(this, kFormEventDestroy, nullptr);
  controller_ = nullptr;  // destroys the window
  events_ = nullptr;
  key_data_ = nullptr;
  mouse_data_ = nullptr;
  wheel_data_ = nullptr;
  adjust_data_ = nullptr;
  TRefObject::Dispose();
}

void TVxForm::SetBoundsRect(const TRect& rect) {
  if (controller_->SetBounds(rect)) return;
  TRect r = rect;
  AdjustBounds(r);
  TFormUpdate size, position;
  size.Kind = kFormSize;
  size.Width = r.Width();
  size.Height = r.Height();
  position.Kind = kFormPosition;
  position.X = r.Left;
  position.Y = r.Top;
  const TFormUpdate batch[] = {size, position};
  ApplyStateChanges(batch);
}

void TVxForm::SetCaption(const std::u16string& caption) {
  if (controller_->SetCaption(caption)) return;
  TFormUpdate u;
  u.Kind = kFormCaption;
  u.Caption = caption;
  ApplyStateChanges({&u, 1});
}

void TVxForm::SetCursor(int32_t id) {
  if (controller_->SetCursor(id)) return;
  TFormUpdate u;
  u.Kind = kFormCursor;
  u.Cursor = id;
  ApplyStateChanges({&u, 1});
}

void TVxForm::SetVisible(bool visible) {
  if (controller_->SetVisible(visible)) return;
  TFormUpdate u;
  u.Kind = kFormVisible;
  u.Visible = visible;
  ApplyStateChanges({&u, 1});
}

void TVxForm::SetShowInTaskbar(bool show) {
  if (controller_->SetShowInTaskbar(show)) return;
  TFormUpdate u;
  u.Kind = kFormTaskbar;
  u.ShowInTaskbar = show;
  ApplyStateChanges({&u, 1});
}

void TVxForm::SetStayOnTop(bool on_top) {
  if (controller_->SetStayOnTop(on_top)) return;
  TFormUpdate u;
  u.Kind = kFormStayOnTop;
  u.StayOnTop = on_top;
  ApplyStateChanges({&u, 1});
}

void TVxForm::SetWindowState(uint8_t state) {
  if (controller_->SetWindowState(state)) return;
  TFormUpdate u;
  u.Kind = kFormWindowState;
  u.WindowState = state;
  ApplyStateChanges({&u, 1});
}

void TVxForm::SetBorderStyle(uint8_t style) {
  if (controller_->SetBorderStyle(style)) return;
  TFormUpdate u;
  u.Kind = kFormBorderStyle;
  u.BorderStyle = style;
  ApplyStateChanges({&u, 1});
}

void TVxForm::SetBorderIcons(uint8_t icons) {
  if (controller_->SetBorderIcons(icons)) return;
  TFormUpdate u;
  u.Kind = kFormBorderIcons;
  u.BorderIcons = icons;
  ApplyStateChanges({&u, 1});
}

void TVxForm::SetClientSize(int32_t width, int32_t height) {
  TSize current = GetClientSize();
  TRect r = bounds_;
  r.Right += width - current.cx;
  r.Bottom += height - current.cy;
  SetBoundsRect(r);
}

TRect TVxForm::GetClientRect() {
  TRect r;
  controller_->GetClientRect(r);
  return r;
}

TSize TVxForm::GetClientSize() {
  TRect r = GetClientRect();
  return TSize{r.Width(), r.Height()};
}

TSize TVxForm::GetNonClientSize() {
  TSize s;
  controller_->GetNonClientSize(s);
  return s;
}

TPoint TVxForm::ClientToScreen(TPoint p) {
  TPoint r;
  controller_->ClientToScreen(p, r);
  return r;
}

TPoint TVxForm::ScreenToClient(TPoint p) {
  TPoint r;
  controller_->ScreenToClient(p, r);
  return r;
}

bool TVxForm::IsForeground() { return controller_->IsForeground(); }
bool TVxForm::HasMouseCapture() { return controller_->HasMouseCapture(); }
void TVxForm::ReleaseMouseCapture() { controller_->ReleaseCapture(); }

void TVxForm::Close() {
  // The form may be freed by its own close: it stays whole until this returns.
  Ref<TVxForm> keep = KeepAlive(this);
  Ref<TFormController> controller = controller_;
  controller->Close();
}

void TVxForm::Minimize() {
  SetWindowState(1);
  if (!visible_) Show();
}

void TVxForm::ApplyStateChanges(std::span<const TFormUpdate> updates) {
  KAV_ASSERT(!updates.empty());
  std::vector<bool> changed(updates.size(), false);
  for (size_t i = updates.size(); i-- > 0;) {
    const TFormUpdate& u = updates[i];
    bool differs = false;
    switch (u.Kind) {
      case kFormActivated: differs = !active_; active_ = true; break;
      case kFormDeactivated: differs = active_; active_ = false; break;
      case kFormCaption: differs = caption_ != u.Caption; caption_ = u.Caption; break;
      case kFormCursor: differs = cursor_ != u.Cursor; cursor_ = u.Cursor; break;
      case kFormVisible: differs = visible_ != u.Visible; visible_ = u.Visible; break;
      case kFormPosition:
        differs = bounds_.Left != u.X || bounds_.Top != u.Y;
        if (differs) {
          const int32_t w = bounds_.Width(), h = bounds_.Height();
          bounds_ = TRect{u.X, u.Y, u.X + w, u.Y + h};
        }
        break;
      case kFormSize:
        differs = bounds_.Width() != u.Width || bounds_.Height() != u.Height;
        bounds_.Right = bounds_.Left + u.Width;
        bounds_.Bottom = bounds_.Top + u.Height;
        break;
      case kFormTaskbar: differs = show_in_taskbar_ != u.ShowInTaskbar; show_in_taskbar_ = u.ShowInTaskbar; break;
      case kFormStayOnTop: differs = stay_on_top_ != u.StayOnTop; stay_on_top_ = u.StayOnTop; break;
      case kFormWindowState: differs = window_state_ != u.WindowState; window_state_ = u.WindowState; break;
      case kFormBorderStyle: differs = border_style_ != u.BorderStyle; border_style_ = u.BorderStyle; break;
      case kFormBorderIcons: differs = border_icons_ != u.BorderIcons; border_icons_ = u.BorderIcons; break;
      default:
        KAV_ASSERT(u.Kind != kFormCapture);
        KAV_ASSERT(u.Kind <= kFormBorderIcons);
    }
    changed[i] = differs;
  }
  for (size_t i = 0; i < updates.size(); ++i)
    if (changed[i]) Changed(updates[i].Kind);
}

void TVxForm::Changed(uint8_t kind) {
  events_->Notify(this, kind + 1u, nullptr);
  if (kind == kFormSize) Resized();
}

void TVxForm::AdjustBounds(TRect& rect) {
  adjust_data_->Rect = rect;
  events_->Notify(this, kFormEventAdjustBounds, adjust_data_.get());
  rect = adjust_data_->Rect;
}

void TVxForm::CloseQuery(int32_t& action) { action = kCloseHide; }

void TVxForm::KeyEvent(uint8_t shift, uint16_t& key, uint8_t kind) {
  if (!key_data_) key_data_ = MakeRef<TKeybordData>();
  key_data_->Shift = shift;
  key_data_->Key = key;
  key_data_->Kind = kind;
  events_->Notify(this, kFormEventKey, key_data_.get());
  key = key_data_->Key;
}

void TVxForm::MouseEvent(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind) {
  if (!mouse_data_) mouse_data_ = MakeRef<TFormMouseData>();
  mouse_data_->Shift = shift;
  mouse_data_->X = x;
  mouse_data_->Y = y;
  mouse_data_->Button = button;
  mouse_data_->Kind = kind;
  events_->Notify(this, kFormEventMouse, mouse_data_.get());
}

void TVxForm::MouseWheelEvent(uint8_t shift, int32_t x, int32_t y, int32_t steps) {
  (void)steps;
  if (!wheel_data_) wheel_data_ = MakeRef<TMouseWheelData>();
  wheel_data_->Shift = shift;
  wheel_data_->X = x;
  wheel_data_->Y = y;
  events_->Notify(this, kFormEventWheel, wheel_data_.get());
}

}  // namespace kav
