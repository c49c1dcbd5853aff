// Maps keys and mouse clicks to viewer actions from the show's options:
// navigation and pause keys (when the show permits control), Esc, F1, the
// three configurable mouse actions, and the screen-saver rules (any key or
// a noticeable mouse movement ends the show).
#pragma once

#include <cstdint>
#include <vector>

#include "KavLib2/KavEngine/KavAction.h"
#include "KavLib2/KavEngine/KavRootItem.h"

namespace kav {

class TIniList;

struct TKeyMap {
  uint8_t ShiftMask = 0;
  uint8_t ShiftValue = 0;
  uint8_t KeyKind = 1;  // key down
  int32_t ActionKind = 0;
  int32_t ActionInt = 0;
};

// "Exit" 1, "Prev. slide" 2, "Next slide" 3, "Help" 4, "Pause" 5,
// "Go to first" 7 (slide 0); anything else none.
TKavAction ParseMouseActionName(const std::u16string& name);

class TInputMappingClass : public TRefObject {
 public:
  // `options`: the show's option file (nil reads every default).
  explicit TInputMappingClass(TIniList* options);

  // The map for a key event, or nil. With the screen-saver flag every
  // key down or up gives the catch-all map.
  const TKeyMap* KeyAction(uint8_t shift, uint16_t key, uint8_t kind) const;
  TKavAction MouseAction(bool moved, int32_t x, uint8_t kind, int32_t button, int32_t y);

  bool ScreenSaver() const { return screen_saver_; }
  bool PermitControl() const { return permit_control_; }
  TMouseMoveDetector* MoveDetector() const { return detector_.get(); }
  const TKavAction& LeftAction() const { return left_; }
  const TKavAction& RightAction() const { return right_; }
  const TKavAction& DoubleClickAction() const { return double_click_; }

 private:
  void AddKey(uint16_t key, uint8_t shift_value, int32_t kind, int32_t integer = 0);

  // Per key code, the maps newest first.
  std::vector<TKeyMap> keys_[256];
  TKavAction left_, right_, double_click_;
  Ref<TMouseMoveDetector> detector_;
  bool screen_saver_ = false;
  TKeyMap catch_all_{0, 0, 1, kActExit, 0};
  bool permit_control_ = true;
};

}  // namespace kav
