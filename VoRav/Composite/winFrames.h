// Window-bound frames: TWinFrame paints through the window's shared surface
// and routes mouse input; TRootFrame is the top of one window's frame tree.
// The root turns invalid areas into marked surface cells, repaints what
// lies in them (parents before children) and collects the rectangles the
// window must copy; it also decodes mouse messages and routes them down the
// tree with capture and hover tracking. Frames are named by process-unique
// ids in mouse records, so a freed frame is simply not found. GUI thread.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Application2/winWndAPI.h"
#include "VoRav/Composite/vxDrawFrames.h"
#include "VoRav/Composite/winSurface.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TRootFrame;
class TWinFrame;

using TFramePaintEvent = TDelegate<void(TWinFrame* frame, TDrawSurface* surface)>;

class TWinFrame : public TDrawFrame {
 public:
  explicit TWinFrame(TWinSurface* surface);

  uint32_t Id() const { return id_; }
  TWinSurface* Surface() const { return surface_; }
  // The clip the frame sets: its rectangle when it clips (the off-screen
  // rectangle when hidden or clipping to nothing), else (0, 0, 0, 0).
  const TRect& VisibleRect() const { return visible_rect_; }
  const TRect& InvalidRect() const { return invalid_rect_; }
  TFramePaintEvent OnPaint;

  void RectChanged() override;
  TDrawFrame* CreateFrame() override;
  void MoveTo(TPoint point) override;
  void Invalidate() override;
  Ref<TTextElement> CreateTextElement(const std::u16string& text, const TFontDesc& font) override;
  // Measures with the surface's text context (selected on the screen
  // context for the time of the call when nothing holds it).
  void MeasureText(const std::u16string& text, const TFontDesc& font, TTextSize& out) override;
  // Routes a mouse record into this subtree; true when a frame took it.
  virtual bool DispatchMouse(TMouseDataEx* data, bool leaving);
  virtual TWinFrame* FindFrame(uint32_t id);

  // The frame's position on the surface (the root at (0, 0)).
  TPoint SurfacePos() const;
  // What the frame covers on the surface now: its handler's paint area
  // (cut to its rectangle when it clips) at its surface position.
  TRect SurfaceArea() const;

 protected:
  friend class TRootFrame;
  void Dispose() override;
  // Marks what this subtree covered at its last paint and covers now.
  void MarkSubtree();

  uint32_t id_;
  TRect visible_rect_;
  TRect invalid_rect_ = kEmptyInvalidRect;
  TRect painted_area_;       // on the surface at the last pass, empty none
  TPoint abs_cache_;         // surface position at the last pass
  bool placed_ = false;      // abs_cache_ holds a position
  TWinSurface* surface_;     // owned by the root
};

class TRootFrame : public TWinFrame {
 public:
  TRootFrame();

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  TMouseDataEx* MouseData() const { return mouse_.get(); }
  win::HWND Window() const { return window_; }

  void SetBounds(int32_t x, int32_t y, int32_t width, int32_t height);
  // Marks, repaints and collects the invalid areas; true when rectangles
  // (UpdateRects) must be copied to the window.
  bool RecalcInvalidRegion();
  const TRectList& UpdateRects() const { return surface_->Rects(); }

  void GetAbsolutePos(TPoint& point) override;
  // True when the message was a mouse message (and no other was being
  // handled).
  bool HandleMouseMessage(uint32_t message, win::WPARAM wparam, win::HWND window, TPoint client_origin,
                          win::LPARAM lparam);
  // A mouse event in root coordinates (the wheel delta in place of the
  // button for kind 4).
  virtual void MouseEvent(uint8_t shift, int32_t x, int32_t y, uint8_t kind, int32_t button_or_delta);
  // The mouse left the window: hover and capture holders hear MouseLeave.
  void MouseLeaveWindow();
  virtual void SetCursor(uint32_t cursor_id);
  void ThemeChangedAll();
  // Asks to let the capture go after the current event.
  void RequestReleaseCapture() { release_request_ = true; }
  bool Captured() const { return mouse_->Captured; }

  TDelegate<void(bool captured)> OnCaptureChanged;
  TDelegate<void(TPoint& point)> OnGetAbsolutePos;

 protected:
  void Dispose() override;

 private:
  void WheelCallback(uint8_t shift, int32_t x, int32_t y, int32_t steps);
  void MouseCallback(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind);
  void Route(bool leaving);
  void SetCaptured(bool captured, int32_t button);

  Ref<TWinSurface> surface_owner_;
  Ref<TMouseDataEx> mouse_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t reentry_ = 0;
  TPoint offset_;
  bool release_request_ = false;
  win::HWND window_ = 0;
};

// Every live root frame (for theme and system-colour changes).
std::vector<TRootFrame*> RootFrames();
// Calls ThemeChangedAll on every root; the application window's
// WM_SYSCOLORCHANGE and WM_THEMECHANGED do so once the registry subscribed.
void ThemeChangedAllRoots();
// Start-up subscribes the registry to the application window (after the
// application is initialised); finalisation unsubscribes it.
void SubscribeRootRegistry();
void UnsubscribeRootRegistry();

}  // namespace kav
