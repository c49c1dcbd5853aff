// The root of the engine's scene and the mouse-move detector.
//
// Each frame the root item takes the prepared slides and the overlay,
// decides which slides are visible at the current time (one, or two during a
// transition), sets each visible slide's time and draws them: the transition
// between two slides, an optional sharpening layer, the overlay on top.
#pragma once

#include <cstdint>
#include <vector>

#include "KavLib2/KavEngine/KavPreparedSlide.h"
#include "VoRav/Graphics/vxColor.h"

namespace kav {

class TRootItem : public TDrawItem {
 public:
  // With `clear` (the engine's choice) and no overlay, everything outside
  // the show is filled with the hider colour.
  explicit TRootItem(bool clear) : clear_(clear) {}

  // Takes the slides (time order, up to `count`) and the overlay (may be
  // nil) for the next frame; false when nothing can be drawn.
  bool Prepare(TPreparedSlide* const* slides, TDrawItem* overlay, int32_t count);

  bool NeedsDraw() override;
  void AfterDraw(TDeviceDrawer* drawer) override;
  void Draw(TDeviceDrawer* drawer) override;

  // Set by the engine before Prepare: the time stands at a stop, so of two
  // slides that meet there the one that stops is drawn (its last frame),
  // not the one that would begin at that moment.
  bool AtStop = false;

  // The show's display parameters, copied in before each frame.
  TColor32 HiderColor = 0xFF000000;
  float UnsharpAmount = 0;

  // The frame's items in drawing order (the last is the overlay, maybe nil).
  const std::vector<Ref<TDrawItem>>& Items() const { return items_; }
  bool InTransition() const { return in_transition_; }
  // Whether the area outside the show takes the hider colour.
  bool ClearFrame() const { return clear_; }
  bool SceneChanged() const { return changed_ || forced_; }
  // Marks the scene changed until the next frame is drawn.
  void Force() { forced_ = true; }

 protected:
  void Dispose() override;

 private:
  void SetItem(size_t at, TDrawItem* item);

  bool clear_;
  bool changed_ = false;
  bool forced_ = false;
  std::vector<Ref<TDrawItem>> items_;
  std::vector<Ref<TDrawItem>> previous_;
  Ref<TPreparedSlide> filter_slide_;  // the incoming slide during a transition
  TDrawFilterParams* filter_ = nullptr;
  double filter_progress_ = 0;
  bool in_transition_ = false;
};

// Tells whether the mouse moved noticeably or stayed idle. One thread only.
class TMouseMoveDetector : public TRefObject {
 public:
  explicit TMouseMoveDetector(uint32_t interval_ms = 0) : interval_(interval_ms) {}

  // The first call only stores the position; later ones report a movement
  // of 6 pixels or more (x and y distances added).
  bool Moved(int32_t x, int32_t y);
  void SetIdle(bool idle);
  bool IsIdle();
  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t ms) { interval_ = ms; }

 private:
  bool has_position_ = false;
  int32_t last_x_ = 0, last_y_ = 0;
  bool restart_ = false;
  int64_t last_move_ = 0;
  uint32_t interval_;
};

}  // namespace kav
