// The window binding of a frame-control tree: TWinRootControl is the root
// control of a frame form's window. It feeds window keys into the tree (with
// the keyboard state read once per key), asks the window to show keyboard
// cues once navigation keys are used, follows the window's focus, paints
// the window's background and keeps the form's client size equal to its
// own. The form is reached through TWinRootForm, which the frame form
// implements. GUI thread only.
#pragma once

#include <array>
#include <cstdint>

#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winFrames.h"
#include "platform/window/WinApi.h"

namespace kav {

// What the root control needs of its form.
class TWinRootForm {
 public:
  virtual ~TWinRootForm() = default;
  virtual TRootFrame* RootFrame() = 0;
  virtual win::HWND GetHandle() = 0;
  // The form draws pure magenta as its transparent colour.
  virtual bool ColorKeyMode() = 0;
  // The size of the window's client area.
  virtual TSize ClientSize() = 0;
  virtual void SetClientSize(int32_t width, int32_t height) = 0;
  // The form's nesting counter: controls freed while it is raised are
  // returned only after the outermost message.
  virtual void EnterNested() = 0;
  virtual void LeaveNested() = 0;
  // A reference that keeps the form (and so this seam) whole while input or
  // a tick is dispatched through the tree: a handler may free the form.
  // None for a form that no handler can free.
  virtual Ref<TRefObject> HoldForm() { return nullptr; }
};

// A key from the window, with the keyboard state read on first request.
class TWinKeyboardData : public TKeyData {
 public:
  bool StateRead = false;
  std::array<uint8_t, 256> State{};
  // Down when the key's state byte is above 127.
  bool IsKeyDown(int32_t vk) override;
};

class TWinHandleRootControl : public TRootControl {
 public:
  using TRootControl::TRootControl;
  virtual win::HWND GetHandle() = 0;
};

// It is the focus root of its window: the focus helper asks the window for
// the keyboard-cue state and hears of its changes.
class TWinRootControl : public TWinHandleRootControl, public TWinHandleFocusRoot {
 public:
  // The form must not be nil; the root lives on the form's root frame.
  explicit TWinRootControl(TWinRootForm* form);

  TWinRootForm* Form() const { return form_; }
  win::HWND GetHandle() override { return form_->GetHandle(); }
  bool CuesShown() const { return cues_shown_; }
  TWinKeyboardData* KeyboardData() const { return keyboard_; }

  void ThemeChanged() override;
  void Paint(TDrawSurface* surface) override;
  void SizeChanged() override;
  void KeyEvent(TKeyData* key) override;
  void RefreshMouse() override;
  void ClientToScreen(int32_t x, int32_t y, TPoint& point) override;
  TRefreshNotifier* CreateRefreshNotifier() override;
  win::HWND RootWindow() override { return GetHandle(); }
  void SetUIStateCallback(TDelegate<void()> callback) override { ui_state_changed_ = callback; }
  // The window's keyboard cues changed (WM_UPDATEUISTATE).
  void UIStateChanged() {
    if (ui_state_changed_) ui_state_changed_();
  }

  // A key from the window (the input decoding's key callback): a key the
  // tree handled comes back as 0.
  void WindowKey(uint8_t shift, uint16_t& key, uint8_t kind);
  // The window gained or lost the keyboard focus.
  void WindowFocusChanged(bool value);

 protected:
  void Dispose() override;

 private:
  TWinRootForm* form_;
  TWinKeyboardData* keyboard_;
  bool cues_shown_ = false;
  TDelegate<void()> ui_state_changed_;
};

// The refresh notifier of a windowed root: the form's nesting counter is
// raised while a tick is dispatched.
class TWinRefreshNotifier : public TRefreshNotifier {
 public:
  TWinRefreshNotifier(TWinRootControl* root) : TRefreshNotifier(root, root), form_(root->Form()) {}

 protected:
  void OnTick() override;
  void AfterTick(bool reached) override;

 private:
  TWinRootForm* form_;
};

// The system colour the root paints its background with (0xAARRGGBB).
// Classic button face until the styles module points it at the system
// colour table.
extern uint32_t (*RootFaceColor)();
// Called by a root's theme change to reload the default styles' system
// colours; nil until the styles module sets it.
extern void (*ReloadDefaultStyleColors)();

}  // namespace kav
