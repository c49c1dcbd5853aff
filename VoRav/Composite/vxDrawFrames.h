// Frames: the nodes of the tree every control of the frame-control toolkit
// lives on. A frame knows its position in its parent, its rectangle, whether
// it clips its subtree to that rectangle and whether it is visible; it calls
// its handler (the control) for input and painting. The window-bound kind of
// frame, its root and the shared surface are in winFrames and winSurface.
//
// Ownership: a frame is created with one reference, which belongs to the
// tree once the frame is linked under a parent; freeing a frame (Free)
// detaches its handler, frees its children and unlinks it. Freeing a tree
// runs without recursion: what a release frees while another is running
// waits on that release's list (FreeInTurn). GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxEvents.h"
#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/Text/vxTextElement.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TBitmap;
class TDrawFrame;

// The empty rectangle of invalidation unions: every real rectangle is smaller.
inline constexpr TRect kEmptyInvalidRect{2147483647, 2147483647, -2147483647 - 1, -2147483647 - 1};

// Mouse event kinds of a mouse record (0-3 as the input decoding's kinds).
enum : uint8_t { kFrameMouseWheel = 4 };

class TMouseData : public TRefObject {
 public:
  uint8_t Kind = 0;       // 0 move, 1 button down, 2 button up, 3 double click, 4 wheel
  uint8_t Shift = 0;      // shift-state bits of the input decoding
  int32_t Button = 0;     // 0 for the wheel
  int32_t WheelDelta = 0; // kind 4 only
  TPoint Point;           // root coordinates
  TPoint ScreenPoint;     // root coordinates plus the client-origin offset
  int32_t HitResult = 0;
  bool Captured = false;
  int32_t CapturedButton = 0;
  uint8_t CaptureKind = 0;
  TPoint Local;           // in the coordinates of the frame being visited
  uint32_t CursorId = 0;  // requested by the controls, 0 none
};

class TMouseDataEx : public TMouseData {
 public:
  uint32_t CaptureFrame = 0;  // frame ids; 0 none
  uint32_t HoverBefore = 0;
  uint32_t HoverFound = 0;
  bool HoverLeft = false;     // the hover frame heard MouseLeave in this event
};

// What controls paint on: the window's surface, offset to the painted frame.
// Colours are 0xAARRGGBB.
// Brushes of the style set paint straight on it.
class TDrawSurface : public TRefObject, public TBrushCanvas {
 public:
  void FillRect(const TRect& rect, uint32_t color) override = 0;
  // Tiles `pattern` over `rect`, the tile grid anchored at `origin`.
  virtual void FillTiled(const TRect& rect, TBitmap* pattern, TPoint origin) = 0;
  // Draws `bitmap` with its top left corner at (x, y), limited to `rect`.
  virtual void DrawBitmap(TBitmap* bitmap, const TRect& rect, int32_t x, int32_t y) = 0;
  // Draws a laid-out text element (made by the frame's CreateTextElement)
  // with its pen's top left at `point`, limited to `rect`.
  virtual void DrawText(TTextElement* element, TPoint point, const TRect& rect) = 0;
};

// The size of a measured text: width, line height and ascent.
struct TTextSize {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Ascent = 0;
};

// The frame side of a control: what a frame calls on its handler.
class TFrameHandler : public TEventHandler {
 public:
  TDrawFrame* Frame() const { return frame_; }
  virtual void SetFrame(TDrawFrame* frame);
  virtual void ThemeChanged() {}
  virtual void PositionChanging() {}
  virtual void PositionChanged() {}
  // Hands over the area invalidated since the last call.
  virtual void TakeInvalidRect(TRect& rect) = 0;
  virtual void Paint(TDrawSurface* surface) { (void)surface; }
  virtual bool HitTest(TMouseData* data) { (void)data; return false; }
  virtual void MouseEvent(TMouseData* data) { (void)data; }
  virtual void MouseLeave() {}
  // The area the handler paints, in its frame's coordinates: a frame that
  // moves repaints it at the old and the new place.
  virtual TRect PaintArea() { return TRect{}; }

 protected:
  void Dispose() override;
  TDrawFrame* frame_ = nullptr;
};

// Frees `objects`, the last first (nil entries are skipped). Within a release
// that is already running they are queued on its list instead and freed
// after it, so a deep tree is released level by level, not by recursion.
void FreeInTurn(TRefObject* const* objects, size_t count);
// True while FreeInTurn is freeing its list.
bool FreeInTurnRunning();

// How many levels a frame may lie below the root of its tree. Real forms
// are a handful of levels deep; the cap keeps every walk of the tree (input,
// focus, painting), which recurses once per level, far from the end of the
// stack, so a tree built by runaway code is refused where it would grow
// instead of ending the program later.
inline constexpr int32_t kMaxFrameDepth = 256;

// Raised by InsertAfter and InsertBefore when the new frame would lie deeper
// than kMaxFrameDepth; nothing has been made then.
KAV_DECLARE_COMMON_EXCEPTION(EFrameTreeTooDeep, TCommonException);

class TDrawFrame : public TRefObject {
 public:
  TDrawFrame() = default;

  TFrameHandler* Handler() const { return handler_; }
  TDrawFrame* Parent() const { return parent_; }
  TDrawFrame* NextSibling() const { return next_; }
  TDrawFrame* PrevSibling() const { return prev_; }
  TDrawFrame* FirstChild() const { return first_child_; }
  TDrawFrame* LastChild() const { return last_child_; }
  TPoint Position() const { return pos_; }
  const TRect& BoundsRect() const { return rect_; }
  bool Clip() const { return clip_; }
  bool Visible() const { return visible_; }

  // Accepts `handler` only when the frame is free and the handler already
  // names this frame; drops it (nil) only when the handler names this frame.
  virtual void SetHandler(TFrameHandler* handler);
  // The visible rectangle may have changed.
  virtual void RectChanged() = 0;
  // A new free frame of the same kind.
  virtual TDrawFrame* CreateFrame() = 0;
  virtual void MoveTo(TPoint point);
  virtual void GetAbsolutePos(TPoint& point);
  // New frame linked after (before) `sibling`; with nil, the last (first)
  // child of this frame. Returns the new frame, owned by the tree.
  // EFrameTreeTooDeep when it would lie deeper than kMaxFrameDepth.
  virtual TDrawFrame* InsertAfter(TDrawFrame* sibling);
  virtual TDrawFrame* InsertBefore(TDrawFrame* sibling);
  virtual void ToAbsolute(TPoint point, TPoint& out);
  // A laid-out text element for the frame's surface.
  virtual Ref<TTextElement> CreateTextElement(const std::u16string& text, const TFontDesc& font) = 0;
  virtual void MeasureText(const std::u16string& text, const TFontDesc& font, TTextSize& out) = 0;
  // MeasureText with the font size multiplied by `factor`.
  virtual void MeasureScaledText(const std::u16string& text, const TFontDesc& font, double factor, TTextSize& out);
  // The handler invalidated part of itself.
  virtual void Invalidate() = 0;

  // Levels above this frame: 0 for the root of a tree.
  int32_t Depth() const;

  void SetBoundsRect(const TRect& rect);
  void SetClip(bool clip);
  void SetVisible(bool visible);

 protected:
  void Dispose() override;
  // Links this free frame under `parent` after (before) `sibling` (nil: at
  // the end (start)).
  void LinkAfter(TDrawFrame* parent, TDrawFrame* sibling);
  void LinkBefore(TDrawFrame* parent, TDrawFrame* sibling);
  void Unlink();

  TFrameHandler* handler_ = nullptr;
  TDrawFrame* parent_ = nullptr;
  TDrawFrame* next_ = nullptr;
  TDrawFrame* prev_ = nullptr;
  TDrawFrame* first_child_ = nullptr;
  TDrawFrame* last_child_ = nullptr;
  TPoint pos_;
  TRect rect_;
  bool clip_ = false;
  bool visible_ = true;
};

}  // namespace kav
