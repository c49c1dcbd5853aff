// Forms: the platform-neutral top-level window of the program.
//
// A TVxForm keeps the window's state (bounds, caption, cursor, visibility,
// taskbar button, topmost, window state, border style and icons) as plain
// fields, raises form events on its own event list whenever a piece of that
// state changes, and turns key, mouse and wheel input into form events. The
// real window belongs to the form's controller: a setter first asks the
// controller to change the live window; without a window the form records
// the change itself, and the window is later created from it. GUI thread.
//
// Form events (sender: the form): 0 the form goes; 1 active; 2 inactive;
// 3 caption; 4 capture changed; 5 cursor; 6 visibility; 7 position; 8 size;
// 9 taskbar button; 10 topmost; 11 window state; 12 border style; 13 border
// icons; 20 key (TKeybordData); 21 mouse (TFormMouseData); 22 wheel
// (TMouseWheelData); 23 adjust bounds (TAdjustBoundsData).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "VoRav/Application2/vxEventList.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TVxForm;
class TFormController;

// A reference that keeps an object whole for a scope; none when the object
// is already being released (its last reference is gone).
template <class T>
Ref<T> KeepAlive(T* object) {
  return RefTryAddRef(object) ? Ref<T>::Adopt(object) : Ref<T>();
}

// Kinds of state change.
enum : uint8_t {
  kFormActivated = 0,
  kFormDeactivated = 1,
  kFormCaption = 2,
  kFormCapture = 3,  // never queued: raised directly
  kFormCursor = 4,
  kFormVisible = 5,
  kFormPosition = 6,
  kFormSize = 7,
  kFormTaskbar = 8,
  kFormStayOnTop = 9,
  kFormWindowState = 10,
  kFormBorderStyle = 11,
  kFormBorderIcons = 12,
};

// Form events besides kind + 1.
enum : uint32_t {
  kFormEventDestroy = 0,
  kFormEventKey = 20,
  kFormEventMouse = 21,
  kFormEventWheel = 22,
  kFormEventAdjustBounds = 23,
};

// Close actions.
enum : int32_t { kCloseNone = 0, kCloseHide = 1, kCloseFree = 2, kCloseMinimize = 3 };

// Border icon bits.
enum : uint8_t { kIconSystemMenu = 1, kIconMinimize = 2, kIconMaximize = 4, kIconHelp = 8 };

class TKeybordData : public TRefObject {
 public:
  uint8_t Shift = 0;
  uint16_t Key = 0;
  uint8_t Kind = 0;
};

// Named apart from the frame-control toolkit's TMouseData: both live in
// one program, and two classes of one name break the one-definition rule.
class TFormMouseData : public TRefObject {
 public:
  uint8_t Shift = 0;
  int32_t X = 0, Y = 0, Button = 0;
  uint8_t Kind = 0;
};

class TMouseWheelData : public TRefObject {
 public:
  uint8_t Shift = 0;
  int32_t X = 0, Y = 0;
};

class TAdjustBoundsData : public TRefObject {
 public:
  TRect Rect;
};

struct TFormUpdate {
  uint8_t Kind = 0;
  int32_t X = 0, Y = 0;
  int32_t Width = 0, Height = 0;
  std::u16string Caption;
  int32_t Cursor = 0;
  bool Visible = false;
  bool ShowInTaskbar = false;
  bool StayOnTop = false;
  uint8_t WindowState = 0;
  uint8_t BorderStyle = 0;
  uint8_t BorderIcons = 0;
};

using TFormControllerCreator = TFormController* (*)(TVxForm* form);
// Installs the controller of every form, once (a second time is an assertion).
void SetFormControllerClass(TFormControllerCreator creator);
TFormControllerCreator FormControllerClass();

class TVxForm : public TRefObject {
 public:
  // With no creator the installed one is used (none installed: assertion).
  explicit TVxForm(TFormControllerCreator creator = nullptr);

  void SetBoundsRect(const TRect& rect);
  void SetCaption(const std::u16string& caption);
  void SetCursor(int32_t id);
  void SetVisible(bool visible);
  void SetShowInTaskbar(bool show);
  void SetStayOnTop(bool on_top);
  void SetWindowState(uint8_t state);
  void SetBorderStyle(uint8_t style);
  void SetBorderIcons(uint8_t icons);
  void SetClientSize(int32_t width, int32_t height);

  TRect GetClientRect();
  TSize GetClientSize();
  TSize GetNonClientSize();
  TPoint ClientToScreen(TPoint p);
  TPoint ScreenToClient(TPoint p);
  bool IsForeground();
  bool HasMouseCapture();
  void ReleaseMouseCapture();
  // Asks CloseQuery and carries out the action. The form may be freed by it:
  // the caller must hold a reference of its own to use the form afterwards.
  void Close();
  void Show() { SetVisible(true); }
  void Minimize();

  // Applies a batch of changes: the values are stored from the last record to
  // the first, then Changed runs for each record that changed something,
  // first to last. Kind 3, kinds above 12 and an empty batch are refused.
  void ApplyStateChanges(std::span<const TFormUpdate> updates);

  TFormController* Controller() const { return controller_.get(); }
  TEventList* Events() const { return events_.get(); }
  const TRect& Bounds() const { return bounds_; }
  const std::u16string& Caption() const { return caption_; }
  int32_t Cursor() const { return cursor_; }
  bool Visible() const { return visible_; }
  bool ShowInTaskbar() const { return show_in_taskbar_; }
  bool StayOnTop() const { return stay_on_top_; }
  uint8_t WindowState() const { return window_state_; }
  uint8_t BorderStyle() const { return border_style_; }
  uint8_t BorderIcons() const { return border_icons_; }
  bool Active() const { return active_; }

  // Called when the window is activated.
  TDelegate<void()> OnActivate;
  // Called when the window is to be painted (the window system lost what it
  // showed: mapped again, uncovered, resized), before the default painting.
  TDelegate<void()> OnPaint;

  virtual void Changed(uint8_t kind);
  virtual void AdjustBounds(TRect& rect);
  virtual void CloseQuery(int32_t& action);
  virtual void Resized() {}
  virtual void KeyEvent(uint8_t shift, uint16_t& key, uint8_t kind);
  virtual void MouseEvent(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind);
  virtual void MouseWheelEvent(uint8_t shift, int32_t x, int32_t y, int32_t steps);

 protected:
  void Dispose() override;

 private:
  friend class TFormController;
  Ref<TFormController> controller_;
  Ref<TEventList> events_;
  TRect bounds_;
  std::u16string caption_;
  int32_t cursor_ = 0;
  bool visible_ = false;
  bool show_in_taskbar_ = false;
  bool stay_on_top_ = false;
  uint8_t window_state_ = 0;
  uint8_t border_style_ = 1;
  bool active_ = false;
  Ref<TKeybordData> key_data_;
  Ref<TFormMouseData> mouse_data_;
  Ref<TMouseWheelData> wheel_data_;
  Ref<TAdjustBoundsData> adjust_data_;
  uint8_t border_icons_ = 7;
};

// The platform side of a form.
class TFormController : public TRefObject {
 public:
  // Links itself to the form (asserted given) and writes its default bounds
  // into the form's bounds.
  explicit TFormController(TVxForm* form);
  TVxForm* Form() const { return form_; }

  virtual void GetDefaultBounds(TRect& rect) = 0;
  virtual bool HasMouseCapture() = 0;
  virtual void ClientToScreen(TPoint p, TPoint& result) = 0;
  virtual void ScreenToClient(TPoint p, TPoint& result) = 0;
  // Setters: true when they changed a live window, false when there is none.
  virtual bool SetBounds(const TRect& rect) = 0;
  virtual bool SetCaption(const std::u16string& caption) = 0;
  virtual bool SetCursor(int32_t id) = 0;
  virtual bool SetVisible(bool visible) = 0;
  virtual bool SetShowInTaskbar(bool show) = 0;
  virtual bool SetStayOnTop(bool on_top) = 0;
  virtual bool SetWindowState(uint8_t state) = 0;
  virtual bool SetBorderStyle(uint8_t style) = 0;
  virtual bool SetBorderIcons(uint8_t icons) = 0;
  virtual void Activate() = 0;
  virtual void Close() = 0;
  virtual void SetCapture() = 0;
  virtual void ReleaseCapture() = 0;
  virtual void Invalidate() = 0;
  virtual void InvalidateRect(const TRect& rect) = 0;
  virtual void GetClientRect(TRect& rect) = 0;
  virtual void GetNonClientSize(TSize& size) = 0;
  virtual uint32_t GetHandle() = 0;
  virtual bool IsForeground() = 0;

 protected:
  friend class TVxForm;
  // Called by the form's constructor once the controller is made.
  void Attach();
  TVxForm* form_;  // the form owns the controller
};

}  // namespace kav
