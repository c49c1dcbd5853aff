#include "VoRav/Composite/vxCtrlVectorDraw.h"

#include <string_view>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/VectorGraphics/vxRasterizerUtils.h"
#include "VoRav/VectorGraphics/vxSvgUtils.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

Ref<TRasterHelper> g_raster;

TRasterHelper* Raster() {
  if (!g_raster) g_raster = MakeRef<TRasterHelper>();
  return g_raster.get();
}

// Parses the path text, moves it by (dx, dy), scales it by (sx, sy) and
// fills it in `color`.
void FillPath(std::string_view text, float dx, float dy, float sx, float sy, TColor32 color) {
  TPointArray path;
  const bool parsed = ParsePathText(text, path);
  KAV_ASSERT(parsed);
  std::vector<TPathPoint> points = path.Points();
  for (TPathPoint& p : points) {
    p.x = (p.x + dx) * sx;
    p.y = (p.y + dy) * sy;
  }
  TRasterHelper* r = Raster();
  r->SetFillColor(color);
  r->DrawPath(std::span<const TPathPoint>(points), false);
}

// The window text colour: the normal text font's text colour, opaque.
TColor32 WindowText(TControlStyles* s) {
  const TRGBTriple c = s->NormalFont.Color1;
  return ColorRGBA(c.r, c.g, c.b, 255);
}

Ref<TImage> Finish() {
  Ref<TDirectBitmap> bitmap = g_raster->EndPaint();
  return ImageFromBitmap(bitmap.get(), false, u"");
}

}  // namespace

Ref<TImage> DrawCheckBoxGlyph(TControlStyles* styles, int32_t width, int32_t height, uint8_t tick, bool enabled) {
  KAV_ASSERT(tick <= kTickChecked);
  KAV_ASSERT(styles != nullptr);
  if (width < 1 || height < 1) return nullptr;
  TRasterHelper* r = Raster();
  r->BeginPaint(width, height, styles->FaceColor | 0xFF000000u);
  r->SetClipRect(TRect{0, 0, width, height});
  const float sx = float(width) / 13, sy = float(height) / 13;
  FillPath("M0,0 L13,0 L12,1 L1,1 L1,12 L0,13", 0, 0, sx, sy, styles->ShadowColor);
  FillPath("M13,0 L13,13 L0,13 L1,12 L12,12 L12,1", 0, 0, sx, sy, styles->HilightColor);
  FillPath("M1,1 L12,1 L12,12 L1,12", 0, 0, sx, sy, styles->FaceColor);
  FillPath("M2,2 L11,2 L11,11 L2,11", 0, 0, sx, sy, enabled ? styles->WindowColor : styles->FaceColor);
  if (tick == kTickChecked)
    FillPath("M3,5 L5.5,8 L10,3 L10,5.5 L5.5,10 L3,7.5", 0, 0, sx, sy,
             enabled ? WindowText(styles) : styles->ShadowColor);
  else if (tick == kTickNeutral)
    FillPath("M3,3 L10,3 L10,10 L3,10", 0, 0, sx, sy, enabled ? styles->DarkShadowColor : styles->ShadowColor);
  return Finish();
}

Ref<TImage> DrawRadioButtonGlyph(TControlStyles* styles, int32_t width, int32_t height, bool checked, bool enabled) {
  KAV_ASSERT(styles != nullptr);
  if (width < 1 || height < 1) return nullptr;
  TRasterHelper* r = Raster();
  r->BeginPaint(width, height, styles->FaceColor & 0x00FFFFFFu);
  r->SetClipRect(TRect{0, 0, width, height});
  const float dx = -62.5f, dy = -37, sx = float(width) / 486, sy = float(height) / 509;
  FillPath(
      "M 548.25549,291.37802 C 548.25549,431.74343 439.55141,545.66315 305.61254,545.66315 C 171.67365,545.66315 "
      "62.969493,431.74343 62.969493,291.37802 C 62.969493,151.01258 171.67365,37.092934 305.61254,37.092934 C "
      "439.55141,37.092934 548.25549,151.01258 548.25549,291.37802 z",
      dx, dy, sx, sy, ColorRGBA(252, 250, 236, 255));
  FillPath(
      "M 497.96332,286.70553 C 497.96332,396.80081 409.98009,486.15321 301.57211,486.15321 C 193.16427,486.15321 "
      "105.18097,396.80081 105.18097,286.70553 C 105.18097,176.61024 193.16427,87.257544 301.57211,87.257544 C "
      "409.98009,87.257544 497.96332,176.61024 497.96332,286.70553 z",
      dx, dy, sx, sy, styles->DarkShadowColor);
  FillPath(
      "M 441.85673,283.2971 C 441.85673,366.86279 377.19888,434.68448 297.53113,434.68448 C 217.8634,434.68448 "
      "153.20545,366.86279 153.20545,283.2971 C 153.20545,199.7311 217.8634,131.90939 297.53113,131.90939 C "
      "377.19888,131.90939 441.85673,199.7311 441.85673,283.2971 z",
      dx, dy, sx, sy, enabled ? styles->WindowColor : styles->FaceColor);
  if (checked)
    FillPath(
        "M 377.01,282.69458 C 377.01,329.39869 340.87334,367.30338 296.34785,367.30338 C 251.82233,367.30338 "
        "215.68566,329.39869 215.68566,282.69458 C 215.68566,235.99019 251.82233,198.08547 296.34785,198.08547 C "
        "340.87334,198.08547 377.01,235.99019 377.01,282.69458 z",
        dx, dy, sx, sy, enabled ? WindowText(styles) : styles->ShadowColor);
  return Finish();
}

void FinalizeCtrlVectorDraw() { g_raster = nullptr; }

}  // namespace kav
