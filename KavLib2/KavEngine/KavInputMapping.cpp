#include "KavLib2/KavEngine/KavInputMapping.h"

#include "VoRav/vxIni.h"

namespace kav {

namespace {
constexpr uint8_t kShiftMaskAll = 14;  // Shift + Alt + Ctrl
constexpr uint8_t kCtrlAlone = 8;
}  // namespace

TKavAction ParseMouseActionName(const std::u16string& name) {
  if (name == u"Exit") return TKavAction{kActExit, 0, {}};
  if (name == u"Prev. slide") return TKavAction{kActPrevSlide, 0, {}};
  if (name == u"Next slide") return TKavAction{kActNextSlide, 0, {}};
  if (name == u"Help") return TKavAction{kActHelp, 0, {}};
  if (name == u"Pause") return TKavAction{kActPause, 0, {}};
  if (name == u"Go to first") return TKavAction{kActGotoSlide, 0, {}};
  return TKavAction{};
}

void TInputMappingClass::AddKey(uint16_t key, uint8_t shift_value, int32_t kind, int32_t integer) {
  auto& chain = keys_[key & 0xFF];
  chain.insert(chain.begin(), TKeyMap{kShiftMaskAll, shift_value, 1, kind, integer});
}

TInputMappingClass::TInputMappingClass(TIniList* options) {
  left_ = ParseMouseActionName(IniReadString(options, u"main", u"opt_leftmouse", u""));
  right_ = ParseMouseActionName(IniReadString(options, u"main", u"opt_rightmouse", u""));
  double_click_ = ParseMouseActionName(IniReadString(options, u"main", u"opt_dblclick", u""));
  screen_saver_ = IniReadBool(options, u"main", u"opt_ssaver", false);
  if (screen_saver_ || IniReadBool(options, u"main", u"opt_exitonmove", false))
    detector_ = MakeRef<TMouseMoveDetector>();
  permit_control_ = IniReadBool(options, u"main", u"opt_synchpermitcontrol", true);

  AddKey(27, 0, kActExit);
  if (permit_control_) {
    AddKey(32, 0, kActPause);
    AddKey(19, 0, kActPause);
    AddKey(80, kCtrlAlone, kActPause);
    AddKey(179, 0, kActPause);
    AddKey(178, 0, kActRestart);
    for (uint16_t key : {37, 33, 166, 177, 38}) AddKey(key, 0, kActPrevSlide);
    for (uint16_t key : {39, 34, 167, 176, 40}) AddKey(key, 0, kActNextSlide);
    AddKey(36, 0, kActGotoSlide, 0);
    AddKey(35, 0, kActGotoSlide, IniReadInteger(options, u"Times", u"opt_slidescount", 0));
  }
  if (!IniReadBool(options, u"Main", u"opt_lockf1", false)) AddKey(112, 0, kActHelp);
}

const TKeyMap* TInputMappingClass::KeyAction(uint8_t shift, uint16_t key, uint8_t kind) const {
  if (screen_saver_) return &catch_all_;
  if (key >= 256) return nullptr;
  for (const TKeyMap& m : keys_[key])
    if (m.KeyKind == kind && m.ShiftValue == (shift & m.ShiftMask)) return &m;
  return nullptr;
}

TKavAction TInputMappingClass::MouseAction(bool moved, int32_t x, uint8_t kind, int32_t button, int32_t y) {
  if (screen_saver_ && moved) return TKavAction{kActExit, 0, {}};
  if (detector_ && detector_->Moved(x, y)) return TKavAction{kActExit, 0, {}};
  if (kind == 2 && button == 1) return left_;
  if (kind == 2 && button == 4) return right_;
  if (kind == 3 && button == 1) return double_click_;
  return TKavAction{};
}

}  // namespace kav
