#include "VoRav/Composite/vxThemedControlUtils.h"

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/VectorGraphics/vxRasterizerUtils.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

struct TArrowSlot {
  Ref<TImage> Picture;
  TColor32 Color = 0;
};

TArrowSlot g_arrows[8];
Ref<TRasterHelper> g_raster;

}  // namespace

TImage* GetArrowGlyph(int32_t width, int32_t height, TColor32 color, int32_t direction) {
  KAV_ASSERT(direction >= 0 && direction <= 7);
  TArrowSlot& slot = g_arrows[direction];
  if (slot.Picture && slot.Picture->Width() == width && slot.Picture->Height() == height && slot.Color == color)
    return slot.Picture.get();
  if (!g_raster) g_raster = MakeRef<TRasterHelper>();
  const float w = float(width), h = float(height);
  TPathPoint p[4];
  switch (direction % 4) {
    case 0:  // up
      p[0] = {w / 2, 4, kPathMove};
      p[1] = {w / 2 - (h - 9), h - 5, kPathLine};
      p[2] = {w / 2 + (h - 9), h - 5, kPathLine};
      break;
    case 1:  // down
      p[0] = {w / 2, h - 4, kPathMove};
      p[1] = {w / 2 - (h - 9), 5, kPathLine};
      p[2] = {w / 2 + (h - 9), 5, kPathLine};
      break;
    case 2:  // left
      p[0] = {4, h / 2, kPathMove};
      p[1] = {w - 5, h / 2 - (w - 9), kPathLine};
      p[2] = {w - 5, h / 2 + (w - 9), kPathLine};
      break;
    default:  // right
      p[0] = {w - 4, h / 2, kPathMove};
      p[1] = {5, h / 2 - (w - 9), kPathLine};
      p[2] = {5, h / 2 + (w - 9), kPathLine};
      break;
  }
  p[3] = {0, 0, kPathClose};
  g_raster->SetFillColor(color);
  g_raster->BeginPaintClear(width, height);
  g_raster->SetClipRect(TRect{0, 0, width, height});
  g_raster->DrawPath(p, false);
  Ref<TDirectBitmap> bitmap = g_raster->EndPaint();
  slot.Picture = ImageFromBitmap(bitmap.get(), false, u"");
  slot.Color = color;
  return slot.Picture.get();
}

void DrawPixelArrow(TSysBitmap* bitmap, int32_t x, int32_t y, bool points_right, TColor32 color, int32_t size) {
  const int32_t half = size / 2;
  for (int32_t i = 1; i <= half; ++i) {
    if (points_right) {
      bitmap->FillRect(TRect{x, y + i - 1, x + i, y + i}, color);
      bitmap->FillRect(TRect{x, y + size - i, x + i, y + size - i + 1}, color);
    } else {
      bitmap->FillRect(TRect{x + half - i, y + i - 1, x + half, y + i}, color);
      bitmap->FillRect(TRect{x + half - i, y + size - i, x + half, y + size - i + 1}, color);
    }
  }
  bitmap->FillRect(TRect{x, y + half, x + half, y + half + 1}, color);
}

void DrawClassicRaisedFrame(TSysBitmap* bitmap, TColor32 outer1, TColor32 inner1, TColor32 face, TColor32 inner2,
                            TColor32 outer2) {
  const int32_t w = bitmap->Width(), h = bitmap->Height();
  bitmap->FillRect(TRect{0, 0, w, 1}, outer1);
  bitmap->FillRect(TRect{0, 1, 1, h}, outer1);
  bitmap->FillRect(TRect{1, 1, w - 1, 2}, inner1);
  bitmap->FillRect(TRect{1, 2, 2, h - 1}, inner1);
  bitmap->FillRect(TRect{0, h - 1, w, h}, outer2);
  bitmap->FillRect(TRect{w - 1, 0, w, h}, outer2);
  bitmap->FillRect(TRect{w - 2, 1, w - 1, h - 2}, inner2);
  bitmap->FillRect(TRect{1, h - 2, w - 1, h - 1}, inner2);
  bitmap->FillRect(TRect{2, 2, w - 2, h - 2}, face);
}

void FinalizeThemedControlUtils() {
  for (TArrowSlot& slot : g_arrows) slot = TArrowSlot{};
  g_raster = nullptr;
}

}  // namespace kav
