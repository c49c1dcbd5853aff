// The style set loaded from the system (colours, fonts, scale, scroll-bar
// metrics), the system-colour brush, the focus helper of a root with a
// window, and the toolkit's start-up values (caret blink time, key repeat
// delay and interval).
#pragma once

#include <cstdint>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/vxDelegate.h"
#include "platform/window/WinApi.h"

namespace kav {

// A brush of a system colour index.
class TSysColorBrush : public TFrameBrush {
 public:
  explicit TSysColorBrush(int32_t index) : index_(index) {}
  int32_t Index() const { return index_; }
  // GetSysColor of the index with alpha 255.
  TColor32 GetColor() override;

 private:
  int32_t index_;
};

class TWinControlStyles : public TControlStyles {
 public:
  // The defaults, a system-colour brush of COLOR_BTNFACE, then the system values.
  TWinControlStyles();
  // Reads every system value again (after a system-colour or theme change).
  void LoadSystemColors();

  // Scroll-bar metrics of the system.
  TSize HScrollArrow;  // SM_CXHSCROLL, SM_CYHSCROLL
  TSize VScrollArrow;  // SM_CXVSCROLL, SM_CYVSCROLL
  int32_t VThumb = 0;  // SM_CYVTHUMB
  int32_t HThumb = 0;  // SM_CXHTHUMB
};

// A root control that has a window: the focus helper asks the window for
// its keyboard-cue state and is told when it changes.
class TWinHandleFocusRoot : public virtual TFocusRoot {
 public:
  // The window, 0 while there is none.
  virtual win::HWND RootWindow() = 0;
  // What WM_UPDATEUISTATE on the window calls.
  virtual void SetUIStateCallback(TDelegate<void()> callback) = 0;
};

class TWinFocusHelper : public TFocusHelper {
 public:
  // Sets the root's UI-state callback to raise event 1 on the helper.
  explicit TWinFocusHelper(TWinHandleFocusRoot* root);
  TWinHandleFocusRoot* Root() const { return root_; }
  // True without a window; else unless WM_QUERYUISTATE answers the
  // hide-focus bit.
  bool ShowFocusRect() override;

 protected:
  void Dispose() override;

 private:
  void UIStateChanged();
  TWinHandleFocusRoot* root_;
};

// Repeat delay in ms for the keyboard-delay setting (0..3): setting x 750 / 3 + 250.
int32_t KeyRepeatDelayFromSetting(int32_t setting);
// Repeat interval in ms for the keyboard-speed setting (0..31): (31 - speed) x 12 + 32.
int32_t KeyRepeatIntervalFromSetting(int32_t speed);

// The start-up values.
extern int32_t CaretBlinkTime;     // ms
extern int32_t KeyRepeatDelay;     // ms
extern int32_t KeyRepeatInterval;  // ms

// A system-parameter query (SystemParametersInfo's shape).
using TSystemParamQuery = bool (*)(uint32_t action, int32_t* value);
// Reads the caret blink time and the key repeat values; a failed query
// leaves its value as it was.
void ReadKeyboardTiming(TSystemParamQuery query = nullptr);

// Module initialisation: installs the focus-helper hook, makes the default
// style set and reads the timing values. Finalisation frees the styles and
// puts the previous hook back.
void InitWinFrameControls();
void FinalizeWinFrameControls();
// The default style set made by InitWinFrameControls (nil before).
TWinControlStyles* DefaultWinControlStyles();

}  // namespace kav
