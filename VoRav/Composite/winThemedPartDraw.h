// Drawing one visual-styles part into a bitmap for the themed painters
// (push and speed buttons, check box, radio button, progress bar, bevel).
// GUI thread only.
#pragma once

#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxColor.h"

namespace kav {

// Draws the part over `rect`. A bitmap that is not 32-bit is drawn on
// directly. A 32-bit one is cleared to transparent black over the rectangle
// and drawn on (the style composites with straight alpha, kept as drawn;
// fully transparent pixels take the face colour, so fades never pass
// through black); when that leaves colour without alpha, the part is drawn
// again on a shared 24-bit scratch bitmap cleared to white and the two
// drawings give colour and alpha (`face` where nothing was drawn). Answers
// the drawing's result.
uxtheme::HRESULT DrawThemedPart(TSysBitmap* bitmap, const TThemedElementDetails& details, TColor32 face,
                                const TRect& rect);
// The same, true when the part was drawn.
bool DrawThemedPartInto(TSysBitmap* bitmap, const TThemedElementDetails& details, TColor32 face, const TRect& rect);
// A new 32-bit bitmap of `size` holding the part over its whole area; nil
// for an empty size or when the part could not be drawn.
Ref<TSysBitmap> DrawThemedPartBitmap(const TThemedElementDetails& details, TColor32 face, TSize size);

// The scratch bitmap's size now (grown to the largest asked; for tests).
TSize ThemedPartScratchSize();
// Module finalisation: frees the scratch bitmap.
void FinalizeThemedPartDraw();

}  // namespace kav
