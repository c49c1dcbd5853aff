// The window-layer form controller: owns the window of one form, creates it
// from the form's state, applies the form's setters to the live window, and
// writes back into the form every change the window system makes. GUI thread.
#pragma once

#include <cstdint>
#include <mutex>

#include "VoRav/Application2/vxForms.h"
#include "VoRav/Application2/winHooks.h"
#include "VoRav/Application2/winInput.h"

namespace kav {

// The window style pair of a border style (0..6; others: assertion) with the
// form's icons, window state, topmost and visibility.
struct TFormStyles {
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
};
TFormStyles FormStyles(uint8_t border_style, uint8_t border_icons, uint8_t window_state, bool stay_on_top,
                       bool visible);
// The icons a border style lets through.
uint8_t EffectiveBorderIcons(uint8_t border_style, uint8_t icons);
// A progress fraction as the taskbar takes it (0..2147483647); values outside
// 0..1 (and NaN) are clamped first.
uint32_t TaskbarProgressValue(float value);

class TCustomWinFormController : public TFormController {
 public:
  explicit TCustomWinFormController(TVxForm* form) : TFormController(form) {}
  bool HandleAllocated() const { return handle_ != 0; }
  virtual void CreateHandle() = 0;
  virtual void RecreateHandle() = 0;

 protected:
  win::HWND handle_ = 0;
  TMethodThunk thunk_ = 0;
};

class TWinFormController : public TCustomWinFormController {
 public:
  explicit TWinFormController(TVxForm* form) : TCustomWinFormController(form) {}

  void GetDefaultBounds(TRect& rect) override;
  bool HasMouseCapture() override;
  void ClientToScreen(TPoint p, TPoint& result) override;
  void ScreenToClient(TPoint p, TPoint& result) override;
  bool SetBounds(const TRect& rect) override;
  bool SetCaption(const std::u16string& caption) override;
  bool SetCursor(int32_t id) override;
  bool SetVisible(bool visible) override;
  bool SetShowInTaskbar(bool show) override;
  bool SetStayOnTop(bool on_top) override;
  bool SetWindowState(uint8_t state) override;
  bool SetBorderStyle(uint8_t style) override;
  bool SetBorderIcons(uint8_t icons) override;
  void Activate() override;
  void Close() override;
  void SetCapture() override;
  void ReleaseCapture() override;
  void Invalidate() override;
  void InvalidateRect(const TRect& rect) override;
  void GetClientRect(TRect& rect) override;
  void GetNonClientSize(TSize& size) override;
  uint32_t GetHandle() override;
  bool IsForeground() override;
  void CreateHandle() override;
  void RecreateHandle() override;

  // Stores the taskbar progress; there is no taskbar list on this system, so
  // nothing is shown and the answer is false.
  bool SetTaskbarProgress(uint8_t state, float value);
  uint8_t TaskbarProgressState() const { return progress_state_; }
  float TaskbarProgressFraction() const { return progress_value_; }
  bool AutoCapture = true;

 protected:
  void Dispose() override;

 private:
  friend struct TFormClassAccess;
  win::LRESULT WindowProc(win::HWND window, uint32_t msg, win::WPARAM wParam, win::LPARAM lParam);
  bool PrePass(TMessageRecord& msg);
  void PostPass(const TMessageRecord& msg);
  void Record(const TFormUpdate& u) { form_->ApplyStateChanges({&u, 1}); }
  void RecordState(uint8_t kind);
  void ApplyStyles(uint8_t kind);
  TFormStyles CurrentStyles();
  void OnMouse(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind);
  void OnKey(uint8_t shift, uint16_t& key, uint8_t kind) { form_->KeyEvent(shift, key, kind); }
  void OnWheel(uint8_t shift, int32_t x, int32_t y, int32_t steps) { form_->MouseWheelEvent(shift, x, y, steps); }
  void DestroyHandle();

  uint32_t flags_ = 0;  // bit 0: a style change of our own is in progress
  uint8_t progress_state_ = 0;
  float progress_value_ = 0;
  TLastKeyState last_key_;
};

TFormController* CreateWinFormController(TVxForm* form);

}  // namespace kav
