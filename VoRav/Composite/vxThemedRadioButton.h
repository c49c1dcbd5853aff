// The themed radio button: the circle picture of its painter for each
// state, the caption beside it, and the group it forms with its sibling
// radio buttons (one checked, one tab stop, the arrow keys move between
// them). Made through _AllocFrameRadioButton once InitThemedRadioButton has
// run. GUI thread only.
#pragma once

#include <vector>

#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/vxThemedCheckControl.h"
#include "VoRav/Composite/vxThemedRadioButtonTheme.h"

namespace kav {

class TThemedFrameRadioButton
    : public TThemedCheckControl<TFrameRadioButton, TRadioButtonTheme, TRadioButtonImage> {
 public:
  // Becomes the group's tab stop when no other button is one, and checked
  // when no other button is.
  TThemedFrameRadioButton(TDrawFrame* frame, TControlStyles* styles, TRadioButtonTheme* painter);

  // The other radio buttons among the siblings, walking forward (next
  // sibling) or backward, from the parent's first (last) child on when
  // `wrap`, up to this button.
  std::vector<TFrameRadioButton*> Group(bool forward, bool wrap);

  void StateChanged() override;
  void FocusedInParent(bool value) override;
  void KeyPreview(TKeyData* key) override;

 protected:
  uint8_t CurrentTick() override { return checked_ ? 1 : 0; }
  void ClickByMouse() override;
  bool FocusOnPress() override { return true; }

 private:
  // This button is the group's only tab stop.
  void TakeTabStop();
};

TFrameRadioButton* AllocThemedFrameRadioButton(TDrawFrame* frame, TControlStyles* styles);
// Module initialisation: installs the allocator into _AllocFrameRadioButton.
void InitThemedRadioButton();

}  // namespace kav
