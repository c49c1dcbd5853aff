// The panel (a brush-filled area with one line of text) and the image (a
// bitmap, drawn plainly or through an affine transform, hit-tested by its
// alpha) of the frame-control tree. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/VectorGraphics/vxRasterizerTypes.h"

namespace kav {

class TFrameBrush;
class TSysBitmap;

class TFramePanel : public TFrameControl {
 public:
  explicit TFramePanel(TDrawFrame* frame);

  TFrameBrush* Brush() const { return brush_.get(); }
  // Replaces the brush; with `adopt` the panel takes over the caller's
  // reference, else it adds its own.
  void SetBrush(TFrameBrush* brush, bool adopt);
  const std::u16string& Caption() const { return caption_; }
  void SetCaption(const std::u16string& caption);
  // The panel's own text style, used instead of the inherited one while
  // `use` is set.
  void SetOwnStyle(const TFontDesc& style, bool use);
  // 1 left, 2 right, any other value centred.
  void SetAlignment(uint8_t alignment);
  // Every size change also sets the frame rectangle to the control's area.
  bool FitFrame = false;
  // 0 transparent to the mouse, 1 normal, 2 a left-button press clicks.
  uint8_t MouseMode = 1;

  TTextElement* TextElement() const { return text_.get(); }
  TPoint TextPosition() const { return text_pos_; }
  // Frees and (with a frame and a caption) makes the text element anew.
  void LayoutText();

  void Paint(TDrawSurface* surface) override;
  void InvalidateAll() override;
  void SizeChanged() override;
  void EnabledChanged() override;
  void GetInheritedStyle(TFontDesc& style) override;
  bool ContainsPoint(int32_t x, int32_t y) override;
  void MouseEvent(TMouseData* data) override;
  // The text's size when there is a text.
  int32_t GetWidth() override;
  int32_t GetHeight() override;

 protected:
  void Dispose() override;

 private:
  void PlaceText();
  TRect TextRect();

  Ref<TFrameBrush> brush_;
  std::u16string caption_;
  TFontDesc own_style_;
  bool use_own_style_ = false;
  Ref<TTextElement> text_;
  TPoint text_pos_;
  uint8_t alignment_ = 0;
};

class TFrameImage : public TFrameControl {
 public:
  explicit TFrameImage(TDrawFrame* frame);

  enum : int32_t { kDrawNone = -1, kDrawPlain = 0, kDrawTransformed = 1 };

  TBitmap* Bitmap() const { return bitmap_.get(); }
  // The image keeps a reference to the bitmap even when it does not own it,
  // so a bitmap freed by its owner cannot leave it dangling; `owns` is kept.
  void SetBitmap(TBitmap* bitmap, bool owns);
  bool OwnsBitmap() const { return owns_bitmap_; }
  // The bitmap-to-control transform of mode 1.
  void SetTransform(const TAffineMatrix& transform);
  const TAffineMatrix& Transform() const { return transform_; }
  // -1 none, 1 transformed, any other value plain.
  void SetDrawMode(int32_t mode);
  int32_t DrawMode() const { return draw_mode_; }
  TColor32 BackgroundColor() const { return background_; }
  virtual void SetBackgroundColor(TColor32 color);
  // 0 or less: the rectangle; 256 or more: never hit; else the alpha a
  // point must reach.
  int32_t HitThreshold = 256;

  // The bitmap a disabled image shows: half as opaque (made once).
  TBitmap* DisabledBitmap();
  // The alpha at a point of the control (0 outside the bitmap).
  int32_t AlphaAt(int32_t x, int32_t y);

  void Paint(TDrawSurface* surface) override;
  void InvalidateAll() override;
  bool ContainsPoint(int32_t x, int32_t y) override;

 protected:
  void Dispose() override;

 private:
  // The bitmap drawn through the transform onto the control's area.
  TBitmap* TransformedBitmap(TBitmap* source);

  Ref<TBitmap> bitmap_;
  Ref<TBitmap> disabled_;
  Ref<TSysBitmap> transformed_;
  TBitmap* transformed_source_ = nullptr;
  bool owns_bitmap_ = false;
  TAffineMatrix transform_;
  int32_t draw_mode_ = kDrawPlain;
  TColor32 background_ = 0;
};

// Module initialisation sets the plain constructors. The panel's brush is
// the style set's face brush (the default styles' when nil).
using TAllocFramePanelProc = TFramePanel* (*)(TDrawFrame* frame, TControlStyles* styles);
using TAllocFrameImageProc = TFrameImage* (*)(TDrawFrame* frame);
extern TAllocFramePanelProc AllocFramePanel;
extern TAllocFrameImageProc AllocFrameImage;

}  // namespace kav
