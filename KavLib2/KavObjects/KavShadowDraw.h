// Drawing the shadows of slide objects through the device drawer.
#pragma once

#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"

namespace kav {

// An object's solid shadow record: the rectangle (shadow pixels), the blur
// size and the contour of the spread index; no margins, opaque shape.
TShadowParams SolidShadowParams(const TFloatRect& rect, float blur, int32_t contour);

// Draws the shadow of an object whose quad is `origin` + `axis_x`,
// `axis_y` (see PlaceShadow: whole edges for a normalised shadow, one
// shadow-rectangle pixel otherwise) in `color` at `opacity` percent; nothing when
// the opacity is not above 0 or the shadow has no picture.
void RenderShadow(TShadow* shadow, TDeviceDrawer* drawer, const TVector3& origin, TColor32 color, float opacity,
                  double angle, float distance, const TVector3& axis_x, const TVector3& axis_y, TSize texture_size);
// Uploads the shadow picture's textures ahead of drawing.
void PrepareShadow(TShadow* shadow, TDeviceDrawer* drawer);
// Drops the textures the drawer keeps for the shadow picture.
void FreeShadowTextures(TShadow* shadow, TDeviceDrawer* drawer);

}  // namespace kav
