// The themed progress bar: paints the picture of its drawer, which its
// painter made for it and animates (value glides, marquee). Made through
// _AllocFrameProgressBar once InitThemedProgressBar has run. GUI thread
// only.
#pragma once

#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/vxThemedProgressBarTheme.h"

namespace kav {

class TThemedFrameProgressBar : public TFrameProgressBar {
 public:
  // Makes its drawer through the painter and adds it to the painter's list.
  TThemedFrameProgressBar(TDrawFrame* frame, TControlStyles* styles, TProgressBarTheme* painter);

  TProgressBarTheme* Painter() const { return painter_; }
  TProgressBarDrawer* Drawer() const { return drawer_.get(); }

  void Paint(TDrawSurface* surface) override;
  void SizeChanged() override;
  void ValueChanged() override;
  void MarqueeChanged() override;
  void KindChanged() override;
  void ThemeChanged() override;

 protected:
  void Dispose() override;

 private:
  void DrawerChanged() { InvalidateAll(); }
  void ApplyValue();

  TProgressBarTheme* painter_;  // owned by the style set
  Ref<TProgressBarDrawer> drawer_;
};

TFrameProgressBar* AllocThemedFrameProgressBar(TDrawFrame* frame, TControlStyles* styles);
// Module initialisation: installs the allocator into _AllocFrameProgressBar.
void InitThemedProgressBar();

}  // namespace kav
