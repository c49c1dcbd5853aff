// The overlay's navigation panel: reads a skin file, makes the bar the skin
// asks for (button bar or video control bar), places the bar's pictures in
// the overlay frame, passes the overlay's mouse events to the bar in the
// bar's own pixels and turns the bar's button presses into actions. Also
// the two placement routines the overlay uses for its logo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "KavLib2/KavEngine/KavAction.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/NavPanel/KavNavBar.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav {

// A point in percent of a rectangle: -100 left (top), 0 centre, 100 right
// (bottom).
struct TNavPercentPoint {
  float X = 0, Y = 0;
  friend bool operator==(const TNavPercentPoint&, const TNavPercentPoint&) = default;
};

// Position codes: 0 left-top, 1 top, 2 right-top, 3 right, 4 right-bottom,
// 5 bottom, 6 left-bottom, 7 left, anything else the centre. `margin` in
// percent moves the position inwards.
void NavPositionAnchor(int32_t code, TNavPercentPoint& position, TNavPercentPoint& anchor, float margin);
// The rectangle of a w x h picture whose anchor point stands on the position
// in `frame` (rounding halves to even).
TRect NavAnchorRect(const TNavPercentPoint& position, const TNavPercentPoint& anchor, const TRect& frame, int32_t height,
                    int32_t width);

class TNavPanel;

// A picture of a skin or a logo decoded from the file; nil when the file is
// missing or no decoder takes it.
Ref<TImage> OpenSkinPicture(TFileAccessor* accessor, const std::u16string& name);

// (picture, draw parameters, in/out item index, rectangle): adds an item when
// the index is -1 and answers its index, else replaces that item.
using TNavImageCallback = TDelegate<void(TImage*, const TImageDrawParams&, int32_t&, const TRect&)>;

class TNavPanel : public TRefObject {
 public:
  TNavPanel();

  // Set by the overlay before LoadStyle.
  std::vector<std::u16string> ButtonNames;
  bool ShowBackground = false;
  int32_t Hue = 0;
  TDelegate<bool(TCustomNavBar*)> IsPlaying;
  TDelegate<void(TCustomNavBar*, double)> GoToTime;
  TDelegate<void(TCustomNavBar*, double)> SetVolume;
  Ref<TFileAccessor> Accessor;
  TNavImageCallback BarImageCallback;
  TNavImageCallback CornerImageCallback;
  // The overlay's item indices of the two pictures.
  int32_t BarItemIndex = -1;
  int32_t CornerItemIndex = -1;

  void SetPlacement(const TNavPercentPoint& position, const TNavPercentPoint& anchor, const TRect& frame,
                    float size_percent);
  // Builds the bar from the skin file. A skin that cannot be opened or is
  // damaged leaves the panel without a bar (and a log line).
  void LoadStyle(const std::u16string& skin_file, bool use_video_scale, double duration, double volume,
                 bool corner_flag);
  void SetTime(double time);
  bool HitTest(int32_t x, int32_t y) const;
  void MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y, TKavAction& action);
  void MouseMove(uint32_t shift, int32_t x, int32_t y, TKavAction& action);
  void MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y, TKavAction& action);

  bool Inside() const { return inside_; }
  bool VideoStyle() const { return video_style_; }
  TCustomNavBar* Bar() const { return bar_.get(); }
  const TRect& BarRect() const { return bar_rect_; }
  const TRect& CornerRect() const { return corner_rect_; }
  TImage* BarImage() const { return bar_image_.get(); }
  TImage* CornerImage() const { return corner_image_.get(); }

 protected:
  void Dispose() override;

 private:
  void BarImageChanged(TCustomNavBar* bar, const TRect& rect);
  void CornerImageChanged(TCustomNavBar* bar, const TRect& rect);
  void ButtonPressed(TCustomNavBar* bar, int32_t index);
  void LoadSkinImage(TCustomNavBar* bar, const std::u16string& name, Ref<TSysBitmap>& bitmap);
  double GetDuration(TCustomNavBar*) { return duration_; }
  bool GetCornerFlag(TCustomNavBar*) { return corner_area_; }
  void Send(int32_t button, uint32_t shift, int32_t x, int32_t y, uint8_t kind);
  void Finish(int32_t x, int32_t y, TKavAction& action);
  // With `ignore`: only the inside flag is updated and no action given.
  bool Ignore(bool ignore, int32_t x, int32_t y, TKavAction& action);

  bool pressed_ = false;
  Ref<TImage> bar_image_, corner_image_;
  Ref<TCustomNavBar> bar_;
  TRect bar_rect_, corner_rect_;
  float size_percent_ = 10;
  TNavPercentPoint position_, anchor_;
  TRect frame_;
  bool placed_ = false;
  bool inside_ = false;
  bool corner_area_ = false;
  TKavAction action_;
  double duration_ = 0;
  bool video_style_ = false;
};

}  // namespace kav
