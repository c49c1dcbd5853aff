#include "VoRav/Composite/vxThemedCheckBox.h"

namespace kav {

TThemedFrameCheckBox::TThemedFrameCheckBox(TDrawFrame* frame, TControlStyles* styles, TCheckBoxTheme* painter)
    : TThemedCheckControl(frame, styles, painter) {
  // A tab stop from the start: nothing else would let Tab or a click focus it.
  SetTabStop(true);
  last_tick_ = CurrentTick();
  RefreshPicture();
}

uint8_t TThemedFrameCheckBox::CurrentTick() {
  // Another state is an assertion failure (vxThemedCheckBox).
  KAV_ASSERT(state_ <= kCheckMixed);
  return TickOfCheckState(state_);
}

TFrameCheckBox* AllocThemedFrameCheckBox(TDrawFrame* frame, TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  TCheckBoxTheme* painter = CheckBoxThemeOf(styles);
  return new TThemedFrameCheckBox(frame, styles, painter);
}

void InitThemedCheckBox() { _AllocFrameCheckBox = AllocThemedFrameCheckBox; }

}  // namespace kav
