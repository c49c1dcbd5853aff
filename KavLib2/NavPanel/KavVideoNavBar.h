// The video control bar: a media-player strip as wide as the overlay frame
// with play/pause, optional previous and next buttons, a time track with a
// draggable thumb, played time and length as digits, a sound (mute) button
// and a volume slider, plus a square corner picture with an exit button.
// Made by the navigation-bar factory chain for the skin type "video".
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "KavLib2/NavPanel/KavNavBar.h"
#include "VoRav/Graphics/vxNinePatchUtils.h"

namespace kav {

class TVideoNavBar : public TCustomNavBar {
 public:
  // The pictures of a button strip, left to right.
  enum : int32_t { kPicPlay = 0, kPicPause, kPicSound, kPicMuted, kPicBackward, kPicForward, kPicExit, kPicCount };
  // Repaint parts.
  enum : uint32_t { kPartPlay = 1, kPartItems = 2, kPartTrack = 4, kPartSound = 8, kPartVolume = 16, kPartCorner = 32 };

  TVideoNavBar();

  void LoadSkin(Ref<TIniFile> doc, const std::u16string& folder) override;
  void SetItems(const std::vector<int32_t>& items, int32_t count) override;
  void MouseEvent(int32_t button, uint32_t shift, int32_t x, int32_t y, uint8_t kind) override;
  void SetTime(double time) override;
  void SetVolume(double volume) override;
  void SetFrameWidth(int32_t width) override { frame_width_ = width; }
  void SetBarHeight(int32_t height) override;
  void SetScale(double scale) override;

  // The layout at the current scale (exposed for the panel and the tests).
  struct TLayout {
    int32_t W = 0, H = 0, Th = 0, V = 0, bw = 0, bh = 0, dw = 0, dh = 0, tw = 0, th = 0;
    int32_t TrackStart = 0, TrackEnd = 0, DigitsEnd = 0, DigitsWidth = 0;
    int32_t SoundLeft = 0, VolumeLeft = 0, VolumeRight = 0;
  };
  TLayout Layout() const;
  bool Hidden() const { return hidden_; }
  double Scale() const { return scale_; }
  double Time() const { return time_; }
  double Volume() const { return volume_; }
  bool Paused() const { return paused_; }
  int32_t TimeThumbCentre() const;
  int32_t VolumeThumbCentre() const;
  // The digits text for the current time ("MM:SS / MM:SS" or with hours).
  std::u16string DigitsText() const;
  const std::vector<uint8_t>& ButtonStates() const { return states_; }

 protected:
  void Dispose() override;

 private:
  void ClearSkin();
  void Fit();
  void Repaint(uint32_t parts);
  void RestoreBackground(int32_t left, int32_t right);
  void DrawButton(TSysBitmap* target, int32_t x, int32_t y, int32_t picture, uint8_t state);
  void DrawDigits();
  void MakeDigits(const TLayout& l);
  double LoopedTime() const;
  void SetTimeFromX(int32_t x);
  bool SetVolumeFromX(int32_t x);
  void Down(int32_t x, int32_t y);
  void Move(int32_t x, int32_t y);
  void Up(int32_t x, int32_t y);
  uint32_t TakeActiveParts();
  bool CornerEvent() { return On.CornerQuery && On.CornerQuery(this); }

  Ref<TIniFile> doc_;
  std::u16string folder_;
  int32_t bar_w_ = 0, bar_h_ = 0;
  double scale_ = 1.0;
  int32_t btn_w_ = 0, btn_h_ = 0, digit_w_ = 0, digit_h_ = 0, track_h_ = 0, volume_len_ = 0;
  int32_t thumb_w_ = 0, thumb_h_ = 0;
  int32_t left_space_ = 0, buttons_track_ = 0, track_digits_ = 0, digits_sound_ = 0, sound_track_ = 0,
          right_space_ = 0;
  int32_t frame_width_ = 0;
  double time_ = -1.0, duration_ = 0, volume_ = -1.0, saved_volume_ = 0;
  bool drag_track_ = false, drag_volume_ = false;
  int32_t track_grab_ = 0, volume_grab_ = 0;
  std::vector<uint8_t> states_;  // 0 play/pause, 1 sound, 2 exit, 3.. items
  bool paused_ = false, paused_before_ = false;
  bool long_show_ = false;
  int32_t last_thumb_x_ = INT32_MIN, last_seconds_ = INT32_MIN;
  std::vector<Ref<TSysBitmap>> digits_;  // "0".."9", ":", " / " at the digit height
  TNinePatch track_line_, background_, thumb_;
  std::array<std::array<TNinePatch, kPicCount>, 3> buttons_;  // normal, hover, click
  Ref<TSysBitmap> cached_bg_, cached_track_;
  bool hidden_ = false;
};

// Puts the video bar at the head of the factory chain (done once at start-up
// by the panel module; safe to call again).
void RegisterVideoNavBar();

}  // namespace kav
