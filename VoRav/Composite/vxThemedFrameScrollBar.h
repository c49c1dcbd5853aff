// The themed scroll bar of the frame-control tree: the value model of
// TFrameScrollBar shown as five animated parts (two arrow buttons, the thumb
// and the two track pieces beside it), each drawn per state by a scroll-bar
// painter found on the style set. The painters are in win9xFrameScrollBarTheme
// (classic, system colours) and winXPFrameScrollBarTheme (visual styles).
//
// Auto-repeat of the arrows and of page clicks runs on the tree's time
// refresh: a pressed part listens for refresh ticks and steps whenever the
// window layer's clock has passed its next due time (500 ms after the press,
// then every 50 ms). GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/vxThemedControlImages.h"

namespace kav {

class TThemedFrameScrollBar;

// Part indexes the painters know (the bar never makes the size box).
enum : uint8_t {
  kSbFirstButton = 0,
  kSbSecondButton = 1,
  kSbThumb = 2,
  kSbUpperTrack = 3,
  kSbLowerTrack = 4,
  kSbSizeBox = 5,
};
// State flags of a part.
enum : uint32_t { kSbDisabled = 1, kSbHot = 2, kSbPressed = 4, kSbBarHot = 8 };
// Orientations handed to the painters.
enum : uint8_t { kSbHorizontal = 0, kSbVertical = 1 };

// Auto-repeat timing of the arrows and the track (ms).
inline constexpr uint32_t kSbRepeatDelay = 500;
inline constexpr uint32_t kSbRepeatInterval = 50;
// Wheel steps move the position by this many line steps per step.
inline constexpr int32_t kSbWheelLines = 3;

// The painter of scroll bars: geometry, part keys, transition times and the
// pictures. Joins the attached themes of its style set, which keeps it.
class TFrameScrollBarTheme : public TFrameControlTheme {
 public:
  using TFrameControlTheme::TFrameControlTheme;

  // Width and height of a bar of the orientation.
  virtual TSize GetDefaultSize(uint8_t orientation) = 0;
  // Button 0 or 1 in a bar of `size`.
  virtual TRect GetButtonRect(TSize size, uint8_t orientation, int32_t index) = 0;
  // The thumb length in pixels for a page fraction, never longer than the
  // track.
  virtual int32_t GetThumbLength(const TRect& track, uint8_t orientation, float page) = 0;
  // The track between the buttons (never of negative length).
  virtual TRect GetTrackRect(TSize size, uint8_t orientation) = 0;
  // True when the change of a part's state is animated, with its duration.
  virtual bool GetTransitionTime(int32_t part, uint32_t old_state, uint32_t& milliseconds, uint32_t new_state) = 0;
  // The part key of a part in a state.
  virtual std::u16string GetPartName(int32_t part, uint32_t state, uint8_t orientation) = 0;
  // The part's picture for a key at a size, nil for an empty size; `offset`
  // is where its top-left corner lies in the part.
  virtual Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) = 0;
  // Unused by the bar; 0.
  virtual int32_t Slot8() { return 0; }
};

class TThemedScrollBarPart : public TThemedControlAnimatedPart {
 public:
  TThemedScrollBarPart(TDrawFrame* frame, TThemedFrameScrollBar* bar, uint8_t index);

  uint8_t Index() const { return index_; }
  bool Hot() const { return hot_; }
  bool Pressed() const { return pressed_; }
  bool BarHot() const { return bar_hot_; }
  uint32_t LastState() const { return last_state_; }
  // The state flags now.
  uint32_t State();
  // The part key of the current state.
  std::u16string Key();
  void SetBarHot(bool value);

  void MouseEvent(TMouseData* data) override;
  void MouseLeave() override;
  void EnabledChanged() override;
  void TimeRefresh() override;
  void UpdatePartBounds() override;
  void UpdatePartImage() override;
  void GetPartImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture) override;
  void StartAnimationTimer() override;
  void StopAnimationTimer() override;
  // Buttons and tracks: auto-repeat; the thumb: nothing.
  virtual void PressedChanged() {}

 protected:
  void Dispose() override;
  void SetHot(bool value);
  void SetPressed(bool value);
  // Starts the repeat (first step due after the delay) or stops it.
  void StartRepeat();
  void StopRepeat();
  bool Repeating() const { return repeating_; }
  // A repeat tick that fell due; the button or track steps.
  virtual void RepeatTick() {}

  bool bar_hot_ = false;
  bool hot_ = false;
  bool pressed_ = false;
  TThemedFrameScrollBar* bar_;
  uint32_t last_state_ = 0;
  uint8_t index_;

 private:
  // Listens for refresh ticks while a transition or a repeat runs.
  void UpdateRefresh();
  bool animating_ = false;
  bool repeating_ = false;
  bool listening_ = false;
  uint32_t due_ = 0;
};

class TThemedScrollBarButton : public TThemedScrollBarPart {
 public:
  using TThemedScrollBarPart::TThemedScrollBarPart;
  void PressedChanged() override;

 protected:
  void RepeatTick() override;

 private:
  void Step();
};

class TThemedScrollBarThumb : public TThemedScrollBarPart {
 public:
  using TThemedScrollBarPart::TThemedScrollBarPart;
  void MouseEvent(TMouseData* data) override;

 private:
  TPoint press_screen_;
  TPoint press_part_;  // kept with the press; the drag reads the bar's position
  float press_position_ = 0;
};

class TThemedScrollBarTrack : public TThemedScrollBarPart {
 public:
  using TThemedScrollBarPart::TThemedScrollBarPart;
  void MouseEvent(TMouseData* data) override;
  void PressedChanged() override;
  // The last mouse point in bar coordinates.
  TPoint LastPoint() const { return last_point_; }

 protected:
  void RepeatTick() override;

 private:
  void Step();
  TPoint last_point_;
};

class TThemedFrameScrollBar : public TFrameScrollBar {
 public:
  // Asserts a painter; makes the five parts.
  TThemedFrameScrollBar(TDrawFrame* frame, uint8_t kind, TControlStyles* styles, TFrameScrollBarTheme* painter);

  TFrameScrollBarTheme* Painter() const { return painter_; }
  // 0 horizontal, 1 vertical (kinds 0 and 2 are vertical).
  uint8_t Orientation() const { return kind_ == 0 || kind_ == 2 ? kSbVertical : kSbHorizontal; }
  // The part of an index (0 to 4), or nil.
  TThemedScrollBarPart* Part(int32_t index) const;
  // The track rectangle and the thumb length for the size and page now.
  TRect TrackRect();
  int32_t ThumbLength();
  // Moves the position by `steps` wheel steps (positive toward the start).
  void Wheel(int32_t steps);
  // After a part's hot or pressed flag changed: every part learns whether
  // any part is hot or pressed.
  void UpdateBarHot();

  void ConstrainSize(int32_t& width, int32_t& height) override;
  void SizeChanged() override;
  void Changed(intptr_t what) override;
  void EnabledChanged() override;

 protected:
  void Dispose() override;

 private:
  void LayoutParts();
  TFrameScrollBarTheme* painter_;  // kept by the style set
  TThemedScrollBarPart* parts_[5] = {};
};

// Module initialisation: keeps the previous scroll-bar allocator and
// installs the themed one (a nil style set means the default one; a set
// without a scroll-bar painter goes to the previous allocator).
// Finalisation puts the previous one back.
void InitThemedFrameScrollBar();
void FinalizeThemedFrameScrollBar();

}  // namespace kav
