// The style's classes, parts and painters (inside the visual-styles module).
#pragma once

#include <cstdint>

#include "VoRav/Graphics/vxColor.h"
#include "VoRav/VectorGraphics/vxRasterizerUtils.h"
#include "VoRav/wpTypes.h"

namespace kav::uxtheme::detail {

enum TThemeClass : int32_t {
  kButton,
  kComboBox,
  kEdit,
  kListView,
  kProgress,
  kScrollBar,
  kSpin,
  kTab,
  kToolbar,
  kClassCount,
};

// The class of a theme class name (case-insensitive), -1 for none.
int32_t ClassFromName(std::u16string_view name);
// The highest state of a part (states run from 1), 0 for a part the class
// does not draw. Part 0 is every class's background with one state.
int32_t StateCount(int32_t cls, int32_t part);
// The part's size at 96 pixels per inch.
TSize DesignSize(int32_t cls, int32_t part);
// The border and padding inside a part's rectangle at 96 pixels per inch.
float ContentMargin(int32_t cls, int32_t part);
// Whether some of the part's pixels are left transparent.
bool PartiallyTransparent(int32_t cls, int32_t part);
// Colour of a property of a part in a state; false for no such property.
bool PartColor(int32_t cls, int32_t part, int32_t state, int32_t property, TColor32& color);

// Paints the part into the helper's bitmap: the part's rectangle is
// (0, 0, w, h) moved by (ox, oy) in the bitmap, `scale` the resolution
// over 96. The state is already checked.
void PaintPart(TRasterHelper& r, int32_t cls, int32_t part, int32_t state, float w, float h, float scale, float ox,
               float oy);

}  // namespace kav::uxtheme::detail
