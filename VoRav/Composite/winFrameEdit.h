// The edit-frame painter in the visual style: the frame through the "edit"
// class, the drop-down button through "combobox" and the spin buttons
// through "spin", with buttons moved onto the frame's border; state changes
// blend two pictures. With visual styles off it draws the classic look.
// GUI thread only.
#pragma once

#include "VoRav/Composite/vxFrameEdit.h"

namespace kav {

class TWinFrameEditTheme : public TFrameEditTheme {
 public:
  using TFrameEditTheme::TFrameEditTheme;

  void Layout(TEditLayout& layout, TSize size, int32_t button_kind) override;
  std::u16string PartKey(const TEditPartRequest& request) override;

 protected:
  Ref<TImage> Paint(const TEditPartRequest& request) override;
};

// Whether the visual style draws now (themes on and the edit class open).
bool EditThemesEnabled();

// Start-up: one TWinFrameEditTheme attached to `styles` (the default
// control styles), unless it already has an edit painter; answers it.
TFrameEditTheme* AttachWinFrameEditTheme(TControlStyles* styles);

}  // namespace kav
