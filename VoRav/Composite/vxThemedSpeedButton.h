// The themed speed button: a flat tool-bar button that shows a border only
// under the pointer, can stay down (checked) and can carry a drop-down arrow
// that reports its own click. Its picture per state comes from the
// speed-button painter of its style set and is cross-faded between states.
// The module's initialisation installs the speed-button allocator. GUI
// thread only.
#pragma once

#include <cstdint>

#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/vxThemedControlImages.h"
#include "VoRav/Composite/vxThemedSpeedButtonTheme.h"

namespace kav {

class TThemedSpeedButton : public TFrameSpeedButton {
 public:
  // `painter` belongs to the style set; the button keeps a reference.
  TThemedSpeedButton(TDrawFrame* frame, TControlStyles* styles, TSpeedButtonTheme* painter);

  // The caption, made on first use through the caption allocator.
  TFrameCaption* GetCaption() override;
  TSpeedButtonTheme* Painter() const { return painter_.get(); }
  TThemedControlImages* Images() const { return images_.get(); }
  bool Hot() const { return hot_; }
  bool IsPressed() const { return pressed_; }
  uint8_t LastState() const { return last_state_; }
  uint8_t LastPart() const { return last_part_; }
  uint8_t Part() const { return DropDown ? kDropDownButtonPart : kSpeedButtonPart; }
  // The state flags the button has now.
  uint8_t ComputeState();
  // The hit code at a point: 0 outside, 1 on the button, 2 on the arrow.
  int32_t HitCode(int32_t x, int32_t y);
  // Sets the size again so that the size rules apply anew.
  void ApplySize() { SetSize(width_, height_); }
  // Places the caption on the painter's content rectangle and takes its baseline.
  void Layout();

  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;
  void ThemeChanged() override;
  void Paint(TDrawSurface* surface) override;
  void MouseEvent(TMouseData* data) override;
  void MouseLeave() override;
  void ConstrainSize(int32_t& width, int32_t& height) override;
  void SizeChanged() override;
  void InvalidateAll() override;
  void EnabledChanged() override;
  void FocusChanged() override;
  void TimeRefresh() override;
  bool ContainsPoint(int32_t x, int32_t y) override;
  void DownChanged() override;
  void GetInheritedStyle(TFontDesc& style) override;

 protected:
  void Dispose() override;

 private:
  void GetImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture);
  void DoStartTimer() { StartTimeRefresh(); }
  void DoStopTimer() { StopTimeRefresh(); }
  void ImagesChanged() {}
  bool UpdatePicture();
  void ForgetPictures();

  Ref<TSpeedButtonTheme> painter_;
  TFrameCaption* caption_ = nullptr;  // a child control, owned by the tree
  bool hot_ = false;
  bool pressed_ = false;
  uint8_t last_state_ = 0;
  uint8_t last_part_ = 0;
  Ref<TThemedControlImages> images_;
  Ref<TImage> hit_picture_;
  TPoint hit_offset_;
  bool hit_fetched_ = false;
  uint8_t hit_part_ = 0;
  bool laying_out_ = false;
};

// The allocator the module installs: the style set's speed-button painter
// (the default set for nil; made by AllocSpeedButtonTheme when the set has
// none), then a themed speed button on it.
TFrameSpeedButton* NewThemedSpeedButton(TDrawFrame* frame, TControlStyles* styles);
// Module initialisation: installs NewThemedSpeedButton as _AllocFrameSpeedButton.
void InitThemedSpeedButton();

}  // namespace kav
