// The themed push button: a picture of the whole button per state from the
// button painter of its style set, cross-faded between states; under visual
// styles an idle default button pulses. Space on the focused button clicks,
// and only the painted shape takes the mouse. The module's initialisation
// installs the button allocator. GUI thread only.
#pragma once

#include <cstdint>

#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/vxThemedButtonTheme.h"
#include "VoRav/Composite/vxThemedControlImages.h"

namespace kav {

class TThemedFrameButton : public TFrameButton {
 public:
  // `painter` belongs to the style set; the button keeps a reference.
  TThemedFrameButton(TDrawFrame* frame, TControlStyles* styles, TButtonTheme* painter);

  TButtonTheme* Painter() const { return painter_.get(); }
  TThemedControlImages* Images() const { return images_.get(); }
  bool Hot() const { return hot_; }
  bool IsPressed() const { return pressed_; }
  bool KeyPressed() const { return key_pressed_; }
  // Shown pressed while set (a button held down by its owner). The standard
  // button keeps no such flag, so the themed one holds it.
  bool Down() const { return down_; }
  void SetDown(bool value);
  // The state flags of the last picture request.
  uint8_t LastState() const { return last_state_; }
  // The state flags the button has now.
  uint8_t ComputeState();
  // Sets the size again so that the size rules apply anew.
  void ApplySize() { SetSize(width_, height_); }
  // Places the caption on the painter's content rectangle and takes its baseline.
  void Layout();

  void ThemeChanged() override;
  void Paint(TDrawSurface* surface) override;
  void MouseEvent(TMouseData* data) override;
  void MouseLeave() override;
  void ConstrainSize(int32_t& width, int32_t& height) override;
  void SizeChanged() override;
  void InvalidateAll() override;
  void EnabledChanged() override;
  void FocusChanged() override;
  void KeyEvent(TKeyData* key) override;
  void TimeRefresh() override;
  void GetInheritedStyle(TFontDesc& style) override;
  bool ContainsPoint(int32_t x, int32_t y) override;
  // The preferred size: from the caption, limited by the size flags.
  int32_t GetWidth() override;
  int32_t GetHeight() override;
  void CaptionChanged() override;
  void SetWidthFlags(uint8_t flags) override;
  void SetHeightFlags(uint8_t flags) override;

 protected:
  void Dispose() override;

 private:
  void GetImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture);
  void DoStartTimer() { StartTimeRefresh(); }
  void DoStopTimer() { StopTimeRefresh(); }
  void ImagesChanged();
  void FocusHelperChanged(TFocusHelper* helper, int32_t code);
  TFocusHelper* FocusHelper();
  // Requests the picture of the current state when the state changed or
  // there is none; answers whether the state changed.
  bool UpdatePicture();
  TSize DefaultSize();
  int32_t CaptionWidth();
  int32_t CaptionHeight();

  Ref<TButtonTheme> painter_;
  bool hot_ = false;
  bool pressed_ = false;
  bool key_pressed_ = false;
  bool down_ = false;
  Ref<TImage> hit_picture_;
  TPoint hit_offset_;
  bool hit_fetched_ = false;
  Ref<TFocusHelper> focus_helper_;
  bool focus_helper_asked_ = false;
  Ref<TThemedControlImages> images_;
  uint8_t last_state_ = 0;
  bool pulsing_ = false;
  bool laying_out_ = false;
};

// The allocator the module installs: the style set's button painter (the
// default set for nil; made by AllocButtonTheme when the set has none), then
// a themed button on it.
TFrameButton* NewThemedFrameButton(TDrawFrame* frame, TControlStyles* styles);
// Module initialisation: installs NewThemedFrameButton as AllocFrameButton.
void InitThemedButton();

}  // namespace kav
