#include "VoRav/Composite/vxStdFrameControls.h"

#include <algorithm>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinCodes.h"

namespace kav {

namespace {

TFrameButton* NoButton(TDrawFrame*, TControlStyles*) { KAV_ASSERT_FAIL("AllocFrameButton not Assigned"); }
TFrameScrollBar* NoScrollBar(TDrawFrame*, uint8_t, TControlStyles*) {
  KAV_ASSERT_FAIL("AllocFrameScrollBar not Assigned");
}
TFrameCheckBox* NoCheckBox(TDrawFrame*, TControlStyles*) { KAV_ASSERT_FAIL("_AllocFrameCheckBox not Assigned"); }
TFrameRadioButton* NoRadioButton(TDrawFrame*, TControlStyles*) {
  KAV_ASSERT_FAIL("_AllocFrameRadioButton not Assigned");
}
TFrameSpeedButton* NoSpeedButton(TDrawFrame*, TControlStyles*) {
  KAV_ASSERT_FAIL("_AllocFrameSpeedButton not Assigned");
}
TFrameProgressBar* NoProgressBar(TDrawFrame*, TControlStyles*) {
  KAV_ASSERT_FAIL("_AllocFrameProgressBar not Assigned");
}

}  // namespace

TAllocFrameButtonProc AllocFrameButton = NoButton;
TAllocFrameScrollBarProc AllocFrameScrollBar = NoScrollBar;
TAllocFrameCheckBoxProc _AllocFrameCheckBox = NoCheckBox;
TAllocFrameRadioButtonProc _AllocFrameRadioButton = NoRadioButton;
TAllocFrameSpeedButtonProc _AllocFrameSpeedButton = NoSpeedButton;
TAllocFrameProgressBarProc _AllocFrameProgressBar = NoProgressBar;
TStripAcceleratorsProc StripAccelerators = DefaultStripAccelerators;
uint8_t DefaultButtonSizeFlags = 3;
bool EnterClicksFocusedButton = true;

void InitStdFrameControlHooks() {
  AllocFrameButton = NoButton;
  AllocFrameScrollBar = NoScrollBar;
  _AllocFrameCheckBox = NoCheckBox;
  _AllocFrameRadioButton = NoRadioButton;
  _AllocFrameSpeedButton = NoSpeedButton;
  _AllocFrameProgressBar = NoProgressBar;
  StripAccelerators = DefaultStripAccelerators;
}

std::u16string DefaultStripAccelerators(const std::u16string& caption) {
  std::u16string out;
  out.reserve(caption.size());
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&') {
      if (++i >= caption.size()) break;  // a trailing mark is dropped
    }
    out.push_back(caption[i]);
  }
  return out;
}

// --- TButtonHandler ---

TButtonHandler* TButtonHandler::Of(TFrameControl* control) {
  TFrameControl* top = control->GetTopmostControl();
  TList& attached = top->Events()->AttachedObjects();
  int32_t i = -1;
  if (attached.FindInstanceOf<TButtonHandler>(i))
    return dynamic_cast<TButtonHandler*>(static_cast<TRefObject*>(attached.Get(i)));
  Ref<TButtonHandler> handler = MakeRef<TButtonHandler>();
  top->Events()->AddHandler(kFrameEventKey, handler.get());
  top->Events()->Attach(handler.get());
  return handler.get();
}

void TButtonHandler::SetDefault(TFrameButton* button) {
  if (button == default_) return;
  // Changed first, then both repainted: a themed button works out its state
  // when invalidated, so the old default must already have lost the role.
  TFrameButton* old = default_;
  default_ = button;
  if (old) old->InvalidateAll();
  if (button) button->InvalidateAll();
}

void TButtonHandler::SetFocusedButton(TFrameButton* button) {
  if (button == focused_) return;
  TFrameButton* old = focused_;  // changed before the repaints, as above
  focused_ = button;
  if (old) old->InvalidateAll();
  if (button) button->InvalidateAll();
  if (default_) default_->InvalidateAll();  // it shows as default only while no button has focus
}

void TButtonHandler::Forget(TFrameButton* button) {
  if (default_ == button) default_ = nullptr;
  if (cancel_ == button) cancel_ = nullptr;
  if (focused_ == button) focused_ = nullptr;
}

void TButtonHandler::HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) {
  (void)sender;
  if (tag != kFrameEventKey) return;
  auto* key = reinterpret_cast<TKeyData*>(param);
  if (!key || key->Kind != 1) return;
  if (key->Key == win::VK_RETURN) {
    TFrameButton* target = EnterClicksFocusedButton && focused_ ? focused_ : default_;
    if (target) target->Click();
  } else if (key->Key == win::VK_ESCAPE) {
    if (cancel_) cancel_->Click();
  }
}

// --- TFrameButton ---

TFrameButton::TFrameButton(TDrawFrame* frame, TControlStyles* styles)
    : TFrameControl(frame), styles_(styles), width_flags_(DefaultButtonSizeFlags), height_flags_(DefaultButtonSizeFlags) {
  SetTabStop(true);
  handler_ = Ref<TButtonHandler>(TButtonHandler::Of(this));
}

void TFrameButton::Dispose() {
  if (handler_) {
    handler_->Forget(this);
    handler_ = nullptr;
  }
  caption_ = nullptr;
  TFrameControl::Dispose();
  styles_ = nullptr;
}

TFrameCaption* TFrameButton::GetCaption() {
  if (!caption_) {
    TDrawFrame* f = CreateChildFrame();
    KAV_ASSERT(f != nullptr);
    caption_ = AllocFrameCaption(f);
    caption_->SetFlag(1);  // centred
    caption_->Events()->AddHandler(kFrameEventChanged, this);
    caption_->Events()->AddHandler(kFrameEventDestroying, this);
  }
  return caption_;
}

void TFrameButton::HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) {
  if (caption_ && sender == caption_) {
    if (tag == kFrameEventChanged) CaptionChanged();
    if (tag == kFrameEventDestroying) caption_ = nullptr;
    return;
  }
  TFrameControl::HandleEvent(sender, tag, param);
}

bool TFrameButton::ShowsAsDefault() const {
  if (!handler_) return false;
  if (EnterClicksFocusedButton && handler_->FocusedButton()) return handler_->FocusedButton() == this;
  return IsDefault();
}

void TFrameButton::FocusChanged() {
  if (handler_) {
    if (Focused())
      handler_->SetFocusedButton(this);
    else if (handler_->FocusedButton() == this)
      handler_->SetFocusedButton(nullptr);
  }
  TFrameControl::FocusChanged();
}

void TFrameButton::SetWidthFlags(uint8_t flags) {
  if (flags == width_flags_) return;
  width_flags_ = flags;
  Changed(0);
}

void TFrameButton::SetHeightFlags(uint8_t flags) {
  if (flags == height_flags_) return;
  height_flags_ = flags;
  Changed(0);
}

// --- TFrameScrollBar ---

TFrameScrollBar::TFrameScrollBar(TDrawFrame* frame, uint8_t kind, TControlStyles* styles)
    : TFrameControl(frame), styles_(styles), kind_(kind) {
  SetPageAndPosition(0, 0);
  line_step_ = 0.01f;
  page_step_ = 0.1f;
}

void TFrameScrollBar::SetPageStep(float value) {
  if (value == page_step_) return;
  page_step_ = value;
  Changed(0);
}

void TFrameScrollBar::SetLineStep(float value) {
  if (value == line_step_) return;
  line_step_ = value;
  Changed(0);
}

void TFrameScrollBar::SetPageAndPosition(float page, float position) {
  // NaN counts as 0, like a value below the range.
  auto clamp = [](float v) { return v > 0 ? std::min(v, 1.0f) : 0.0f; };
  page = clamp(page);
  position = clamp(position);
  if (page == page_ && position == position_) return;
  page_ = page;
  position_ = position;
  Changed(0);
}

// --- TFrameCheckBox ---

TFrameCheckBox::TFrameCheckBox(TDrawFrame* frame, TControlStyles* styles) : TFrameControl(frame), styles_(styles) {}

void TFrameCheckBox::Toggle() {
  if (AutoToggle) {
    uint8_t next;
    if (!AllowMixed)
      next = state_ == kCheckUnchecked ? kCheckChecked
             : state_ == kCheckChecked ? kCheckUnchecked
             : MixedFirst              ? kCheckChecked
                                       : kCheckUnchecked;
    else if (MixedFirst)
      next = state_ == kCheckUnchecked ? kCheckMixed : state_ == kCheckMixed ? kCheckChecked : kCheckUnchecked;
    else
      next = state_ == kCheckUnchecked ? kCheckChecked : state_ == kCheckChecked ? kCheckMixed : kCheckUnchecked;
    SetState(next);
  }
  Click();
}

void TFrameCheckBox::SetState(uint8_t state) {
  if (state == state_) return;
  state_ = state;
  StateChanged();
}

void TFrameCheckBox::KeyPreview(TKeyData* key) {
  TFrameControl::KeyPreview(key);
  if (key->Handled || !IsEnabled() || key->Kind != 1 || key->Key != win::VK_SPACE) return;
  key->Handled = true;
  Toggle();
}

void TFrameCheckBox::SizeChanged() {
  Layout();
  TFrameControl::SizeChanged();
}

void TFrameCheckBox::EnabledChanged() {
  TFrameControl::EnabledChanged();
  WalkTree();
  InvalidateAll();
}

void TFrameCheckBox::FocusChanged() {
  TFrameControl::FocusChanged();
  InvalidateAll();
}

void TFrameCheckBox::GetInheritedStyle(TFontDesc& style) {
  TFrameControl::GetInheritedStyle(style);
  if (!IsEnabled() && styles_) style.Color1 = TripleOf(styles_->ShadowColor);
}

// --- TFrameRadioButton ---

TFrameRadioButton::TFrameRadioButton(TDrawFrame* frame, TControlStyles* styles)
    : TFrameControl(frame), styles_(styles) {}

void TFrameRadioButton::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  if (!value) {
    TFrameControl* parent = GetParentControl();
    if (parent && parent->FocusedChild() == this) parent->SetFocusedChild(nullptr);
  }
  StateChanged();
}

void TFrameRadioButton::Press() {
  Focus();
  Click();
}

void TFrameRadioButton::SizeChanged() {
  Layout();
  TFrameControl::SizeChanged();
}

void TFrameRadioButton::EnabledChanged() {
  TFrameControl::EnabledChanged();
  WalkTree();
  InvalidateAll();
}

void TFrameRadioButton::FocusChanged() {
  TFrameControl::FocusChanged();
  if (Focused()) SetChecked(true);
  InvalidateAll();
}

void TFrameRadioButton::GetInheritedStyle(TFontDesc& style) {
  TFrameControl::GetInheritedStyle(style);
  if (!IsEnabled() && styles_) style.Color1 = TripleOf(styles_->ShadowColor);
}

// --- TFrameSpeedButton ---

TFrameSpeedButton::TFrameSpeedButton(TDrawFrame* frame, TControlStyles* styles)
    : TFrameControl(frame), styles_(styles) {}

void TFrameSpeedButton::SetDown(bool value) {
  if (value == down_) return;
  down_ = value;
  DownChanged();
}

void TFrameSpeedButton::Press() {
  if (!DropDown && Toggle) SetDown(!down_);
  Click();
}

void TFrameSpeedButton::Click() {
  click_kind_ = 1;
  TFrameControl::Click();
}

void TFrameSpeedButton::SecondClick() {
  click_kind_ = 2;
  Notify(kFrameEventClick);
}

// --- the rest ---

TFrameProgressBar::TFrameProgressBar(TDrawFrame* frame, TControlStyles* styles)
    : TFrameControl(frame), styles_(styles) {}

void TFrameProgressBar::SetValue(float value) {
  if (value == value_) return;
  value_ = value;
  ValueChanged();
}

void TFrameProgressBar::SetMarquee(bool value) {
  if (value == marquee_) return;
  marquee_ = value;
  MarqueeChanged();
}

void TFrameProgressBar::SetReverse(bool value) {
  if (value == reverse_) return;
  reverse_ = value;
  if (marquee_) MarqueeChanged();
}

void TFrameProgressBar::SetKind(uint8_t kind) {
  if (kind == kind_) return;
  kind_ = kind;
  KindChanged();
}

bool TFramePage::ContainsPoint(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  return false;
}

}  // namespace kav
