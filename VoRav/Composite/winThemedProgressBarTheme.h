// The visual-styles progress-bar painter (class "progress"): the bar part,
// then the fill part (or re-coloured chunks when the theme has no fill
// part); the classic drawing while visual styles are off. GUI thread only.
#pragma once

#include "VoRav/Composite/vxThemedProgressBarStdTheme.h"
#include "VoRav/Composite/winThemes2.h"

namespace kav {

class TWinProgressBarDrawer : public TStdDrawer {
 public:
  using TStdDrawer::TStdDrawer;
  // Made again whenever visual styles went on or off since the last one.
  Ref<TImage> GetPicture() override;
  void DrawInto(TSysBitmap* bitmap) override;
  // Ask for the transparent-bar background (when the theme has it).
  bool TransparentBar = false;

 protected:
  int32_t CurrentExtent() override;

 private:
  // The fill area of the bar part for the drawer's size.
  TRect FillArea();
  bool styled_ = false;
};

class TWinProgressBarTheme : public TProgressBarStdTheme {
 public:
  using TProgressBarStdTheme::TProgressBarStdTheme;
  Ref<TProgressBarDrawer> CreateDrawer() override;
};

// Re-colours the pixels of `rect` by their luminance l = round(0.3 R +
// 0.59 G + 0.11 B): kind 1 (l, 0, 0), 2 (l, l, 0), 3 (0, 0, l); other kinds
// keep their colours. Alpha stays.
void RecolorProgressChunk(TSysBitmap* bitmap, const TRect& rect, uint8_t kind);

// Module initialisation: when the visual-styles binding is there, the
// progress painter factory makes TWinProgressBarTheme.
void InitWinThemedProgressBarTheme();

}  // namespace kav
