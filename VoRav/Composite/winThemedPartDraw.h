// Drawing one visual-styles part into a bitmap, shared by the visual-styles
// painters of the check box, radio button and progress bar. GUI thread only.
#pragma once

#include <cstdint>

#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxColor.h"

namespace kav {

// Draws the part over `rect` of `bitmap`. A bitmap that is not 32-bit is
// drawn on directly. A 32-bit one is cleared to transparent black over the
// rectangle first; when the drawing leaves colour without any alpha, the
// part is drawn again on a 24-bit scratch bitmap cleared to white and the
// two are merged into straight alpha (`face` for fully transparent pixels).
// False when the part could not be drawn.
bool DrawThemedPartInto(TSysBitmap* bitmap, const TThemedElementDetails& details, TColor32 face, const TRect& rect);
// A new 32-bit bitmap of `size` holding the part over its whole area; nil
// for an empty size or when the part could not be drawn.
Ref<TSysBitmap> DrawThemedPartBitmap(const TThemedElementDetails& details, TColor32 face, TSize size);

// Module finalisation: frees the scratch bitmap.
void FinalizeThemedPartDraw();

}  // namespace kav
