#include "KavLib2/KavObjects/KavShadowDraw.h"

namespace kav {

TShadowParams SolidShadowParams(const TFloatRect& rect, float blur, int32_t contour) {
  TShadowParams p;
  p.Rect = rect;
  p.Blur = blur;
  p.FillAlpha = 0;
  p.StartAlpha = 255;
  p.EndAlpha = 255;
  p.Gradient = 8;
  p.Contour = contour;
  return p;
}

void RenderShadow(TShadow* shadow, TDeviceDrawer* drawer, const TVector3& origin, TColor32 color, float opacity,
                  double angle, float distance, const TVector3& axis_x, const TVector3& axis_y, TSize texture_size) {
  if (!shadow || !drawer) return;
  const auto quad = PlaceShadow(*shadow, origin, opacity, angle, distance, axis_x, axis_y, float(texture_size.cx),
                                float(texture_size.cy));
  if (!quad) return;
  TImageDrawParams params = DefaultImageDrawParams();
  params.Opacity = opacity;
  params.Colorize = true;
  params.Color = color;
  // The placed axes span one shadow pixel; the drawer's quad spans the
  // whole picture.
  TImage* image = shadow->Image();
  drawer->DrawImage(image, quad->Origin, params, ScaleVector3(quad->AxisY, float(image->Height())),
                    ScaleVector3(quad->AxisX, float(image->Width())),
                    TSize{int32_t(quad->TextureWidth), int32_t(quad->TextureHeight)});
}

void PrepareShadow(TShadow* shadow, TDeviceDrawer* drawer) {
  if (shadow && shadow->Image() && drawer) drawer->PrepareImage(shadow->Image(), DefaultImageDrawParams());
}

void FreeShadowTextures(TShadow* shadow, TDeviceDrawer* drawer) {
  if (shadow && shadow->Image() && drawer) drawer->FreeOwnerTextures(shadow->Image());
}

}  // namespace kav
