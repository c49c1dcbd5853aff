// The themed check box: the box picture of its painter for each state
// (cross-faded under visual styles), the caption beside it, clicks on box,
// caption or the band between them. Made through _AllocFrameCheckBox once
// InitThemedCheckBox has run. GUI thread only.
#pragma once

#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/vxThemedCheckControl.h"

namespace kav {

class TThemedFrameCheckBox : public TThemedCheckControl<TFrameCheckBox, TCheckBoxTheme, TCheckBoxImage> {
 public:
  TThemedFrameCheckBox(TDrawFrame* frame, TControlStyles* styles, TCheckBoxTheme* painter);

 protected:
  uint8_t CurrentTick() override;
  void ClickByMouse() override { Toggle(); }
};

// The allocator: the style set's check-box painter (made by its factory
// when missing), then the themed box on it.
TFrameCheckBox* AllocThemedFrameCheckBox(TDrawFrame* frame, TControlStyles* styles);
// Module initialisation: installs the allocator into _AllocFrameCheckBox.
void InitThemedCheckBox();

}  // namespace kav
