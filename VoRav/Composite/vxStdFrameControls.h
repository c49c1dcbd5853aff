// The standard controls of the frame-control tree without their look: push
// button, scroll bar, check box, radio button, speed button, progress bar,
// tab page and tab control; the allocator hooks through which the program
// creates them (the themed modules install the real allocators); and the
// per-window button handler that turns Enter and Esc into clicks of the
// default and cancel buttons.
//
// Allocator hooks take the free frame the new control goes on (callers pass
// `parent->CreateChildFrame()`, as for every control of the tree) rather
// than the parent's frame, and the style set (nil: the default one).
// Their defaults raise an assertion naming the hook. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/Graphics/vxColor.h"

namespace kav {

class TButtonHandler;
class TFrameButton;
class TFrameCaption;
class TFrameCheckBox;
class TFrameProgressBar;
class TFrameRadioButton;
class TFrameScrollBar;
class TFrameSpeedButton;

using TAllocFrameButtonProc = TFrameButton* (*)(TDrawFrame* frame, TControlStyles* styles);
using TAllocFrameScrollBarProc = TFrameScrollBar* (*)(TDrawFrame* frame, uint8_t kind, TControlStyles* styles);
using TAllocFrameCheckBoxProc = TFrameCheckBox* (*)(TDrawFrame* frame, TControlStyles* styles);
using TAllocFrameRadioButtonProc = TFrameRadioButton* (*)(TDrawFrame* frame, TControlStyles* styles);
using TAllocFrameSpeedButtonProc = TFrameSpeedButton* (*)(TDrawFrame* frame, TControlStyles* styles);
using TAllocFrameProgressBarProc = TFrameProgressBar* (*)(TDrawFrame* frame, TControlStyles* styles);
using TStripAcceleratorsProc = std::u16string (*)(const std::u16string& caption);

extern TAllocFrameButtonProc AllocFrameButton;
extern TAllocFrameScrollBarProc AllocFrameScrollBar;
extern TAllocFrameCheckBoxProc _AllocFrameCheckBox;
extern TAllocFrameRadioButtonProc _AllocFrameRadioButton;
extern TAllocFrameSpeedButtonProc _AllocFrameSpeedButton;
extern TAllocFrameProgressBarProc _AllocFrameProgressBar;
// Turns a caption with accelerator marks into plain text; the default drops
// each single '&' and keeps the character after it ("&&" leaves one '&').
extern TStripAcceleratorsProc StripAccelerators;
std::u16string DefaultStripAccelerators(const std::u16string& caption);
// Puts every hook back to its default (module initialisation does so).
void InitStdFrameControlHooks();

// The default width and height flags of new push buttons (3: exactly the
// painter's default size).
extern uint8_t DefaultButtonSizeFlags;
// Enter clicks the focused push button instead of the default one.
extern bool EnterClicksFocusedButton;

// A text colour of the style record from a 0xAARRGGBB colour.
inline TRGBTriple TripleOf(TColor32 c) { return TRGBTriple{ColorBlue(c), ColorGreen(c), ColorRed(c)}; }

// Check states of a check box. Mixed is 2 (not 1): the themed box maps 1 to
// the painter's checked tick and 2 to its neutral one.
enum : uint8_t { kCheckUnchecked = 0, kCheckChecked = 1, kCheckMixed = 2 };

// One per window (topmost control), in its attached objects: the default,
// cancel and focused push buttons, and the Enter and Esc keys.
class TButtonHandler : public TEventHandler {
 public:
  // The handler of the control's topmost control, made and attached when
  // there is none.
  static TButtonHandler* Of(TFrameControl* control);

  TFrameButton* DefaultButton() const { return default_; }
  TFrameButton* CancelButton() const { return cancel_; }
  TFrameButton* FocusedButton() const { return focused_; }
  void SetDefault(TFrameButton* button);
  void SetCancel(TFrameButton* button) { cancel_ = button; }
  void SetFocusedButton(TFrameButton* button);
  // Drops every reference to the button.
  void Forget(TFrameButton* button);

  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;

 private:
  TFrameButton* default_ = nullptr;
  TFrameButton* cancel_ = nullptr;
  TFrameButton* focused_ = nullptr;
};

class TFrameButton : public TFrameControl {
 public:
  TFrameButton(TDrawFrame* frame, TControlStyles* styles);

  // The caption, made on first use through the caption allocator; its
  // changes raise the button's Changed (0).
  TFrameCaption* GetCaption();
  TControlStyles* Styles() const { return styles_.get(); }
  TButtonHandler* Handler() const { return handler_.get(); }
  bool IsDefault() const { return handler_ && handler_->DefaultButton() == this; }
  bool IsCancel() const { return handler_ && handler_->CancelButton() == this; }
  // Drawn with the default frame: the focused button when Enter clicks it,
  // no other button while some button has focus, else the default one.
  bool ShowsAsDefault() const;
  uint8_t WidthFlags() const { return width_flags_; }
  uint8_t HeightFlags() const { return height_flags_; }

  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;
  void FocusChanged() override;
  virtual void CaptionChanged() { Changed(0); }
  virtual void Slot42() { InvalidateAll(); }
  virtual void Slot43() { InvalidateAll(); }
  virtual void SetWidthFlags(uint8_t flags);
  virtual void SetHeightFlags(uint8_t flags);

 protected:
  void Dispose() override;

  TFrameCaption* caption_ = nullptr;  // a child control, owned by the tree
  Ref<TButtonHandler> handler_;
  Ref<TControlStyles> styles_;
  uint8_t width_flags_;
  uint8_t height_flags_;
};

class TFrameScrollBar : public TFrameControl {
 public:
  TFrameScrollBar(TDrawFrame* frame, uint8_t kind, TControlStyles* styles);

  TControlStyles* Styles() const { return styles_.get(); }
  uint8_t Kind() const { return kind_; }
  float Position() const { return position_; }
  float Page() const { return page_; }
  float LineStep() const { return line_step_; }
  float PageStep() const { return page_step_; }
  virtual void SetPageStep(float value);
  virtual void SetLineStep(float value);
  // Both clamped into [0, 1]; a change raises Changed (0).
  virtual void SetPageAndPosition(float page, float position);

 protected:
  Ref<TControlStyles> styles_;
  uint8_t kind_;
  float position_ = 0;
  float page_ = 0;
  float line_step_ = 0.01f;
  float page_step_ = 0.1f;
};

class TFrameCheckBox : public TFrameControl {
 public:
  TFrameCheckBox(TDrawFrame* frame, TControlStyles* styles);

  TControlStyles* Styles() const { return styles_.get(); }
  uint8_t State() const { return state_; }
  // Moves the state on (with auto-toggle), then clicks.
  void Toggle();
  void SetState(uint8_t state);
  bool AutoToggle = true;
  bool AllowMixed = false;
  bool MixedFirst = false;

  virtual TFrameCaption* GetCaption() = 0;
  virtual void Layout() {}
  virtual void StateChanged() { Changed(0); }
  void KeyPreview(TKeyData* key) override;
  void SizeChanged() override;
  void EnabledChanged() override;
  void FocusChanged() override;
  void GetInheritedStyle(TFontDesc& style) override;

 protected:
  Ref<TControlStyles> styles_;
  uint8_t state_ = kCheckUnchecked;
};

class TFrameRadioButton : public TFrameControl {
 public:
  TFrameRadioButton(TDrawFrame* frame, TControlStyles* styles);

  TControlStyles* Styles() const { return styles_.get(); }
  bool Checked() const { return checked_; }
  void SetChecked(bool value);
  // Focuses (which checks) the button, then clicks.
  void Press();
  bool Auto = true;

  virtual TFrameCaption* GetCaption() = 0;
  virtual void Layout() {}
  virtual void StateChanged() { Changed(0); }
  // Tab reaches only a checked button; the arrows reach every one.
  uint32_t GetNavigationKinds() override { return checked_ ? 3 : 2; }
  void SizeChanged() override;
  void EnabledChanged() override;
  void FocusChanged() override;
  void GetInheritedStyle(TFontDesc& style) override;

 protected:
  Ref<TControlStyles> styles_;
  bool checked_ = false;
};

class TFrameSpeedButton : public TFrameControl {
 public:
  TFrameSpeedButton(TDrawFrame* frame, TControlStyles* styles);

  TControlStyles* Styles() const { return styles_.get(); }
  bool Down() const { return down_; }
  void SetDown(bool value);
  // 1 for a plain click, 2 for the click of the drop-down arrow.
  int32_t ClickKind() const { return click_kind_; }
  bool Toggle = false;
  bool WidthAutoSize = false;
  bool DropDown = false;
  bool HeightAutoSize = false;
  bool FixedSize = false;

  virtual TFrameCaption* GetCaption() = 0;
  virtual void Slot42() {}
  virtual void Slot43() {}
  virtual void DownChanged() { Changed(0); }
  virtual void Slot45() {}
  // The drop-down arrow was clicked.
  virtual void SecondClick();
  // A toggle button that is not a drop-down button flips down; then clicks.
  virtual void Press();
  void Click() override;

 protected:
  Ref<TControlStyles> styles_;
  bool down_ = false;
  int32_t click_kind_ = 0;
};

class TFrameProgressBar : public TFrameControl {
 public:
  TFrameProgressBar(TDrawFrame* frame, TControlStyles* styles);
  TControlStyles* Styles() const { return styles_.get(); }
  // The value is a fraction (the painters clamp it into [0, 1]); the kind
  // (0 to 4) picks colour and fill style; with the reverse direction a
  // falling value glides and the marquee runs the other way.
  float Value() const { return value_; }
  bool Marquee() const { return marquee_; }
  bool Reverse() const { return reverse_; }
  uint8_t Kind() const { return kind_; }
  // Each change calls its slot (ValueChanged, MarqueeChanged, KindChanged);
  // a new direction re-applies the value or restarts the marquee.
  void SetValue(float value);
  void SetMarquee(bool value);
  void SetReverse(bool value);
  void SetKind(uint8_t kind);
  virtual void ValueChanged() { Changed(0); }
  virtual void MarqueeChanged() {}
  virtual void KindChanged() {}
  virtual void Slot44() { Click(); }

 protected:
  Ref<TControlStyles> styles_;
  float value_ = 0;
  bool marquee_ = false;
  bool reverse_ = false;
  uint8_t kind_ = 0;
};

// A tab page never takes the mouse itself; its children do.
class TFramePage : public TFrameControl {
 public:
  using TFrameControl::TFrameControl;
  bool ContainsPoint(int32_t x, int32_t y) override;
};

class TFrameTabControl : public TFrameControl {
 public:
  using TFrameControl::TFrameControl;
};

}  // namespace kav
