// The bevel: a frame control that keeps one child, its client, inside a
// border. Resizing an auto-sized bevel fits the client into the content
// area; a client that changes size resizes an auto-sized bevel around it,
// and a client that moves drags a following bevel along. The bevel is
// transparent to the mouse. TDefFrameBevel has no border; the themed bevel
// (vxThemedBevel) draws one. GUI thread only.
#pragma once

#include <cstdint>

#include "VoRav/Composite/vxFrameControls.h"

namespace kav {

// Sides of a bevel's border (a mask).
enum : uint8_t { kBevelLeft = 1, kBevelTop = 2, kBevelRight = 4, kBevelBottom = 8, kBevelAllSides = 15 };

class TFrameBevel : public TFrameControl {
 public:
  explicit TFrameBevel(TDrawFrame* frame);

  TFrameControl* Client() const { return client_; }
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool value);
  bool FollowClient = false;
  // True after construction: the mouse goes to what lies under the bevel.
  bool Transparent = true;
  uint8_t Sides() const { return sides_; }
  bool BorderFlag() const { return border_flag_; }

  virtual uint8_t GetStyle() = 0;
  virtual void SetStyle(uint8_t style) = 0;
  // The content area of a bevel of `size`.
  virtual void ContentRect(TSize size, TRect& rect) = 0;
  // The bevel's size around a client of `client_size`, and where the
  // client goes in it.
  virtual void SizeFromClient(TSize client_size, TPoint& offset, TSize& size) = 0;
  virtual void SetBorderFlag(bool value) { border_flag_ = value; }
  virtual void SetSides(uint8_t sides) { sides_ = sides; }
  void GetContentRect(TRect& rect) { ContentRect(TSize{width_, height_}, rect); }

  void ChildAdded(TFrameControl* child) override;
  void ChildRemoved(TFrameControl* child) override;
  void SizeChanged() override;
  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;
  bool ContainsPoint(int32_t x, int32_t y) override;

 protected:
  void Dispose() override;
  // Puts the client into the content area of the bevel's size.
  void FitClient();
  void DropClient();
  void ClientSizeChanged();
  void ClientMoved();

  TFrameControl* client_ = nullptr;  // a child control, owned by the tree
  bool auto_size_ = false;
  int32_t nesting_ = 0;        // raised while the bevel moves its client
  bool busy_ = false;          // reacting to a client change
  uint8_t sides_ = kBevelAllSides;
  bool border_flag_ = false;
  bool resizing_client_ = false;
};

// The borderless bevel: the content is the whole bevel.
class TDefFrameBevel : public TFrameBevel {
 public:
  using TFrameBevel::TFrameBevel;
  uint8_t GetStyle() override { return style_; }
  void SetStyle(uint8_t style) override { style_ = style; }
  void ContentRect(TSize size, TRect& rect) override { rect = TRect{0, 0, size.cx, size.cy}; }
  void SizeFromClient(TSize client_size, TPoint& offset, TSize& size) override {
    offset = TPoint{0, 0};
    size = client_size;
  }

 private:
  uint8_t style_ = 0;
};

class TControlStyles;
// Makes a bevel on a free frame with a style set (nil: the default one).
using TAllocFrameBevelProc = TFrameBevel* (*)(TDrawFrame* frame, TControlStyles* styles);
extern TAllocFrameBevelProc AllocFrameBevel;
TFrameBevel* AllocDefFrameBevel(TDrawFrame* frame, TControlStyles* styles);
// Module initialisation: the hook makes borderless bevels.
void InitFrameBevel();

}  // namespace kav
