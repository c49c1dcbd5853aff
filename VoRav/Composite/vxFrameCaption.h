// The caption control: one line of text with an optional ellipsis when it
// does not fit, and child controls lined up on the text's baseline beside
// it. Mouse-transparent unless told otherwise. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxFrameControls.h"

namespace kav {

class TFrameCaption : public TFrameControl {
 public:
  explicit TFrameCaption(TDrawFrame* frame);

  // Layout modes.
  enum : int32_t { kNothingShown = 0, kWholeText = 1, kTruncatedText = 2 };

  const std::u16string& Caption() const { return caption_; }
  void SetCaption(const std::u16string& caption);
  const TFontDesc& OwnFont() const { return font_; }
  void SetOwnFont(const TFontDesc& font);
  // Which parts of the font (fdmFaceName, fdmSize, fdmStyle, fdmColors)
  // follow the parent's style; 15 after construction.
  uint32_t InheritMask() const { return inherit_mask_; }
  void SetInheritMask(uint32_t mask) { inherit_mask_ = mask; }
  // Alignment: 0 natural (left, or right when reversed), 1 centred, 2 left,
  // 3 right; re-lays the caption when it changed.
  void SetFlag(uint8_t alignment);
  uint8_t Alignment() const { return alignment_; }
  // The ellipsis before the text and the inline children after it.
  void SetReversed(bool value);
  // 0 next to the text, 1 at the start, 2 at the end.
  void SetChildrenPlacement(uint8_t value);
  void SetGap(int32_t gap);
  void SetEllipsis(bool value);
  bool MouseTransparent = true;
  // Kept for the push button that owns the caption.
  int32_t OwnerValue = 0;

  int32_t LayoutMode() const { return layout_mode_; }
  TPoint TextPosition() const { return text_pos_; }
  // The width of what is shown (the ellipsis included).
  int32_t ShownTextWidth() const { return text_width_; }
  TTextElement* TextElement() const { return text_.get(); }
  TTextElement* TruncatedElement() const { return truncated_.get(); }
  TTextElement* EllipsisElement() const { return ellipsis_.get(); }
  // How often the truncated element was made (tests).
  int32_t TruncationCount() const { return truncations_; }

  // Invalidates, makes the text element anew (and the ellipsis when asked),
  // lays out, and raises Changed (0) when `notify`.
  void Rebuild(bool notify, bool drop_ellipsis);
  // Measures the children, fits the text and places everything.
  void Layout();

  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;
  void ThemeChanged() override;
  void Paint(TDrawSurface* surface) override;
  void MouseEvent(TMouseData* data) override;
  void ChildAdded(TFrameControl* child) override;
  void ChildRemoved(TFrameControl* child) override;
  void SizeChanged() override;
  void InvalidateAll() override;
  void GetInheritedStyle(TFontDesc& style) override;
  void Visit() override;
  bool ContainsPoint(int32_t x, int32_t y) override;
  // The natural size: the children and the whole text.
  int32_t GetWidth() override;
  int32_t GetHeight() override;

 protected:
  void Dispose() override;

 private:
  struct TChildMetrics {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Above = 0;
    int32_t Below = 0;
  };
  TChildMetrics MeasureChildren();
  // Copies the masked parts of the parent's style into the own font.
  void InheritFont();
  int32_t AlignIn(int32_t left, int32_t right, int32_t width) const;
  TRect TextRect() const;

  bool destroying_ = false;
  TFontDesc font_;
  uint32_t inherit_mask_ = 15;
  std::u16string caption_;
  bool reversed_ = false;
  Ref<TTextElement> text_;
  Ref<TTextElement> truncated_;
  Ref<TTextElement> ellipsis_;
  int32_t truncated_count_ = 0;
  int32_t truncations_ = 0;
  TPoint text_pos_;
  int32_t text_width_ = 0;
  int32_t text_height_ = 0;
  int32_t layout_mode_ = kNothingShown;
  uint8_t alignment_ = 0;
  uint8_t children_placement_ = 0;
  int32_t gap_ = 0;
  bool ellipsis_on_ = true;
};

// Makes a caption on a free frame; module initialisation sets the plain
// constructor.
using TAllocFrameCaptionProc = TFrameCaption* (*)(TDrawFrame* frame);
extern TAllocFrameCaptionProc AllocFrameCaption;

}  // namespace kav
