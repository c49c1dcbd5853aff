#include "VoRav/Composite/winThemedPartDraw.h"

#include <algorithm>

#include "VoRav/Graphics/SysBitmapAlphaUtils.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

namespace {

Ref<TSysBitmap> g_scratch;

TSysBitmap* Scratch(int32_t width, int32_t height) {
  if (!g_scratch || g_scratch->Width() < width || g_scratch->Height() < height) {
    const int32_t w = std::max(width, g_scratch ? g_scratch->Width() : 0);
    const int32_t h = std::max(height, g_scratch ? g_scratch->Height() : 0);
    g_scratch = CreateSysBitmap(w, h, StdFormats().R8G8B8);
  }
  return g_scratch.get();
}

// Pixels of alpha 0 inside `rect` get the colour of `face` (alpha stays 0).
void ClearTransparentTo(TSysBitmap* bitmap, const TRect& rect, TColor32 face) {
  const int32_t left = std::max(rect.Left, 0), right = std::min(rect.Right, bitmap->Width());
  const int32_t top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, bitmap->Height());
  const uint8_t b = uint8_t(face), g = uint8_t(face >> 8), r = uint8_t(face >> 16);
  for (int32_t y = top; y < bottom; ++y) {
    uint8_t* p = bitmap->PixelAddress(left, y);
    for (int32_t x = left; x < right; ++x, p += 4)
      if (p[3] == 0) p[0] = b, p[1] = g, p[2] = r;
  }
}

}  // namespace

uxtheme::HRESULT DrawThemedPart(TSysBitmap* bitmap, const TThemedElementDetails& details, TColor32 face,
                                const TRect& rect) {
  if (!bitmap) return uxtheme::E_POINTER;
  if (bitmap->PixelFormat() != StdFormats().A8R8G8B8) return ThemeDrawBackground(details, bitmap, rect, nullptr);
  bitmap->FillRect(rect, 0);
  const uxtheme::HRESULT hr = ThemeDrawBackground(details, bitmap, rect, nullptr);
  // The program's visual style composites with straight alpha, so a drawing
  // that left alpha is shown as it is, not un-premultiplied against the
  // face colour (which would brighten its soft edges); one that left nothing
  // stays transparent rather than turning into a face-coloured block. Fully
  // transparent pixels take the face colour, so that a cross-fade from or to
  // them does not pass through black.
  bool all_zero = false;
  if (HasAlphaContent(bitmap, all_zero) || all_zero) {
    ClearTransparentTo(bitmap, rect, face);
    return hr;
  }
  // The drawing left colour without alpha: a second drawing on white tells
  // how much of each pixel the part covers. Both are drawn at the same place,
  // so the merge runs over everything up to the rectangle's far corner.
  const int32_t right = std::min(rect.Right, bitmap->Width()), bottom = std::min(rect.Bottom, bitmap->Height());
  if (right <= 0 || bottom <= 0) return hr;
  TSysBitmap* white = Scratch(right, bottom);
  white->FillRect(TRect{0, 0, right, bottom}, 0xFFFFFFFFu);
  ThemeDrawBackground(details, white, rect, nullptr);
  AlphaFromTwoBackgrounds(bitmap, white, right, face, bottom);
  return hr;
}

bool DrawThemedPartInto(TSysBitmap* bitmap, const TThemedElementDetails& details, TColor32 face, const TRect& rect) {
  return DrawThemedPart(bitmap, details, face, rect) == 0;
}

Ref<TSysBitmap> DrawThemedPartBitmap(const TThemedElementDetails& details, TColor32 face, TSize size) {
  if (size.cx < 1 || size.cy < 1) return nullptr;
  Ref<TSysBitmap> b = CreateSysBitmap(size.cx, size.cy, StdFormats().A8R8G8B8);
  if (!b || !DrawThemedPartInto(b.get(), details, face, TRect{0, 0, size.cx, size.cy})) return nullptr;
  return b;
}

TSize ThemedPartScratchSize() { return g_scratch ? TSize{g_scratch->Width(), g_scratch->Height()} : TSize{}; }

void FinalizeThemedPartDraw() { g_scratch = nullptr; }

}  // namespace kav
