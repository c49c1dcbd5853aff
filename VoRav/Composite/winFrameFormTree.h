// The seam between a frame form's window and its frame-control tree. The
// window side (a TVxForm, winFrameFormWindow) and the tree side (root frame,
// surface and TWinRootControl, winFrameFormTree.cpp) meet here through
// plain types only, so neither has to see the other's declarations. Also
// the window styles, factory, presets, hooks and layered-window routine of
// frame forms, which callers reach without the window form's class.
// GUI thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Composite/vxFrameForms.h"
#include "platform/window/WinApi.h"

namespace kav {

class TRootFrame;
class TWinRootControl;

// What the tree asks of its window form.
class TFrameTreeHost {
 public:
  virtual ~TFrameTreeHost() = default;
  // The window (made on first request).
  virtual win::HWND TreeWindow() = 0;
  virtual TSize TreeClientSize() = 0;
  virtual void TreeSetClientSize(int32_t width, int32_t height) = 0;
  // The client area's origin on the screen.
  virtual TPoint TreeClientOrigin() = 0;
  virtual void TreeCaptureChanged(bool captured) = 0;
  // The surface reported that it needs an update.
  virtual void TreeNeedsUpdate() = 0;
  // A reference that keeps the host, and so the tree it owns, whole while
  // the tree dispatches input or a tick (none when it is already going).
  virtual Ref<TRefObject> TreeHold() = 0;
};

// One window's tree: a root frame with its surface and a TWinRootControl.
class TFrameFormTree {
 public:
  virtual ~TFrameFormTree() = default;
  virtual TRootFrame* RootFrame() = 0;
  virtual TWinRootControl* RootControl() = 0;
  // Messages being handled (the root's nesting counter).
  virtual int32_t Nesting() = 0;
  virtual void EnterNested() = 0;
  virtual void LeaveNested() = 0;
  virtual bool ColorKey() = 0;
  virtual void SetColorKey(bool value) = 0;
  // The root frame's bounds and the root control's size.
  virtual TSize Size() = 0;
  virtual void SetSize(int32_t width, int32_t height) = 0;
  virtual void InvalidateAll() = 0;
  virtual void FocusChanged(bool focused) = 0;
  virtual void Key(uint8_t shift, uint16_t& key, uint8_t kind) = 0;
  // A mouse message in client coordinates; true when the tree took it.
  virtual bool Mouse(uint32_t message, win::WPARAM wparam, win::LPARAM lparam, TPoint client_origin) = 0;
  virtual void MouseLeaveWindow() = 0;
  // The back buffer's pixel as 0x00RRGGBB.
  virtual uint32_t PixelAt(int32_t x, int32_t y) = 0;
  virtual bool NeedsUpdate() = 0;
  // Repaints what is invalid; true with the rectangles to copy in `rects`.
  virtual bool CollectUpdate(std::vector<TRect>& rects) = 0;
  // Writes `rects` of the back buffer (the layered copy in colour-key mode)
  // as 0x00RRGGBB into `buffer`, `pitch` pixels a row.
  virtual void CopyPixels(const std::vector<TRect>& rects, uint32_t* buffer, int32_t pitch) = 0;
  virtual bool PaintTo(TDrawSurface* target, TPoint point, TSize size) = 0;
  // Frees the root control (and with it the root frame).
  virtual void Release() = 0;
};

TFrameFormTree* NewFrameFormTree(TFrameTreeHost* host);
// Returns the memory of controls freed since the last call (vxFrameControls).
void EmptyPendingReleaseList();

// A window style for the factory.
class TWinFormStyle : public TFormStyle {
 public:
  TWinFormStyle(uint8_t border, bool taskbar, bool on_top, bool no_activate, bool mouse_transparent)
      : BorderStyle(border), ShowInTaskbar(taskbar), StayOnTop(on_top), NoActivate(no_activate),
        MouseTransparent(mouse_transparent) {}
  uint8_t BorderStyle = 1;
  bool ShowInTaskbar = true;
  bool StayOnTop = false;
  bool NoActivate = false;
  bool MouseTransparent = false;
};

// The factory's work: a window form and a frame form on it; a
// TWinFormStyle sets border style, taskbar button, topmost, no-activate and
// mouse-transparent, any other style only the taskbar button.
TFrameForm* CreateWinFrameForm(TFormStyle* style);
// The three presets: a normal window; a borderless-tool topmost window
// without taskbar button that is not activated; a borderless topmost one
// the mouse passes through. Nil outside InitializeFrameForms and
// FinalizeFrameForms.
TWinFormStyle* FormStylePreset(int32_t index);
// Module start: installs the factory, the presets and the three hooks (each
// keeping the previous one, which it passes other forms on to).
// Finalisation puts the previous ones back and frees the presets.
void InitializeFrameForms();
void FinalizeFrameForms();

// What the window side of a frame form made by the factory shows (all nil
// or false for another frame form).
TFrameFormTree* FrameFormTree(TFrameForm* form);
TWinRootControl* FrameFormRootControl(TFrameForm* form);
win::HWND FrameFormWindow(TFrameForm* form);
struct TFrameFormInfo {
  bool Sized = false;
  bool Closing = false;
  bool LeavePollRunning = false;
  int32_t InputCount = 0;
};
TFrameFormInfo FrameFormInfo(TFrameForm* form);
// Colour-key mode: pure magenta is the window's transparent colour, and a
// left click on it drags the window.
void SetFrameFormColorKey(TFrameForm* form, bool value);

// The layered-window routine: makes the window layered (click-through adds
// the transparent style) and gives it `bitmap`'s pixels with each alpha
// scaled by factor / 256 and the colours premultiplied by that alpha.
bool UpdateLayeredFrameWindow(win::HWND window, TBitmap* bitmap, int32_t factor, bool click_through);
// One pixel of that: a straight 0xAARRGGBB pixel, its alpha scaled by
// factor / 256, premultiplied.
uint32_t LayeredPixel(uint32_t argb, int32_t factor);

}  // namespace kav
