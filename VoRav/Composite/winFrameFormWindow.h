// The window side of a frame form: TWinForm is a TVxForm whose window feeds
// its paint, mouse, keyboard, focus and size messages into one frame-control
// tree and, after every message handled outside nested handling, copies the
// repainted cells into the window; TWinFrameForm is the frame form on it.
// This header sees the application layer's forms and only the seam of the
// tree (winFrameFormTree.h): the two declare classes of the same names.
// GUI thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Application2/vxTimer2.h"
#include "VoRav/Application2/winForms.h"
#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/winFrameFormTree.h"

namespace kav {

class TWinFrameForm;

class TWinForm : public TVxForm, public TFrameTreeHost {
 public:
  TWinForm();

  TWinFrameForm* FrameForm() const { return frame_form_; }
  TFrameFormTree* Tree() const { return tree_; }
  TWinFormController* WinController() const { return static_cast<TWinFormController*>(Controller()); }
  win::HWND GetHandle() { return WinController()->GetHandle(); }
  bool Sized() const { return sized_; }
  bool Closing() const { return closing_; }
  bool NoActivate() const { return no_activate_; }
  bool MouseTransparent() const { return mouse_transparent_; }
  bool LeavePollRunning() const { return leave_timer_ != nullptr; }
  int32_t InputCount() const { return input_count_; }
  void SetNoActivate(bool value) { no_activate_ = value; }
  void SetMouseTransparent(bool value) { mouse_transparent_ = value; }

  void CloseQuery(int32_t& action) override;
  // Copies `rects` (client coordinates) of the surface into the window.
  void PresentRects(const std::vector<TRect>& rects);

  // TFrameTreeHost.
  win::HWND TreeWindow() override { return GetHandle(); }
  TSize TreeClientSize() override { return GetClientSize(); }
  void TreeSetClientSize(int32_t width, int32_t height) override { SetClientSize(width, height); }
  TPoint TreeClientOrigin() override { return ClientToScreen(TPoint{0, 0}); }
  void TreeCaptureChanged(bool captured) override;
  void TreeNeedsUpdate() override;
  Ref<TRefObject> TreeHold() override { return KeepAlive<TRefObject>(this); }

 protected:
  friend class TWinFrameForm;
  void Dispose() override;

 private:
  void PreMessage(win::HWND window, TMessageRecord& msg, bool& handled);
  void PostMessage(win::HWND window, TMessageRecord& msg);
  bool MouseMessage(TMessageRecord& msg);
  bool KeyMessage(TMessageRecord& msg);
  void RootKey(uint8_t shift, uint16_t& key, uint8_t kind);
  void LeaveTick(TTimerEvent* event);
  void PushRepaint();

  TWinFrameForm* frame_form_ = nullptr;
  TFrameFormTree* tree_ = nullptr;  // owned
  bool sized_ = false;
  bool in_message_ = false;
  TMultiTimerEvent* leave_timer_ = nullptr;
  uint32_t last_message_ = 0;
  win::WPARAM last_wparam_ = 0;
  win::LPARAM last_lparam_ = 0;
  win::LRESULT last_result_ = 0;
  int32_t input_count_ = 0;
  bool closing_ = false;
  bool no_activate_ = false;
  bool mouse_transparent_ = false;
  bool repaint_posted_ = false;
  TLastKeyState last_key_;
  std::vector<TRect> rects_;
  std::vector<uint32_t> present_;  // 32-bit copy of the surface for the window
};

class TWinFrameForm : public TFrameForm {
 public:
  // Takes over the creator's reference to the form (not nil).
  explicit TWinFrameForm(TWinForm* form);

  TWinForm* WinForm() const { return win_form_; }
  void SetContent(TFrameFormContent* content) override;
  bool IsVisible() override;
  void SetVisible(bool value) override;
  std::u16string GetCaption() override;
  void SetCaption(const std::u16string& text) override;
  uint8_t GetWindowState() override;
  void SetWindowState(uint8_t state) override;
  TRect GetBounds() override;
  void SetBounds(const TRect& rect) override;
  void CloseRequested() override;
  // Draws the whole surface through the target's bitmap drawing.
  bool PaintTo(TDrawSurface* target, TPoint point, TSize size) override;

 protected:
  friend class TWinForm;
  void Dispose() override;
  void CloseAction(int32_t action) override;

 private:
  TWinForm* win_form_;
};

}  // namespace kav
