#include "VoRav/Composite/winThemedPartDraw.h"

#include <algorithm>

#include "VoRav/Graphics/SysBitmapAlphaUtils.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

namespace {

// Kept for the whole run, grown to the largest size asked.
Ref<TSysBitmap> g_scratch;

TSysBitmap* Scratch(int32_t w, int32_t h) {
  if (!g_scratch || g_scratch->Width() < w || g_scratch->Height() < h)
    g_scratch = CreateSysBitmap(std::max(w, g_scratch ? g_scratch->Width() : 0),
                                std::max(h, g_scratch ? g_scratch->Height() : 0), StdFormats().R8G8B8);
  return g_scratch.get();
}

}  // namespace

bool DrawThemedPartInto(TSysBitmap* bitmap, const TThemedElementDetails& details, TColor32 face, const TRect& rect) {
  if (!bitmap || rect.IsEmpty()) return false;
  if (bitmap->BytesPerPixel() != 4) return ThemeDrawBackground(details, bitmap, rect, nullptr) == uxtheme::S_OK;
  bitmap->FillRect(rect, 0);
  if (ThemeDrawBackground(details, bitmap, rect, nullptr) != uxtheme::S_OK) return false;
  // The program's visual style writes straight alpha, which is shown as it
  // is (no un-premultiplying); only a drawing without any alpha is redone.
  bool all_zero = false;
  if (HasAlphaContent(bitmap, all_zero) || all_zero) return true;
  const int32_t w = rect.Width(), h = rect.Height();
  TSysBitmap* white = Scratch(w, h);
  white->FillRect(TRect{0, 0, w, h}, 0xFFFFFFFFu);
  const TRect at{0, 0, w, h};
  if (ThemeDrawBackground(details, white, at, nullptr) != uxtheme::S_OK) return false;
  Ref<TSysBitmap> black = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    std::copy_n(bitmap->PixelAddress(rect.Left, rect.Top + y), size_t(w) * 4, black->Row(y));
  AlphaFromTwoBackgrounds(black.get(), white, w, face, h);
  for (int32_t y = 0; y < h; ++y)
    std::copy_n(black->Row(y), size_t(w) * 4, bitmap->PixelAddress(rect.Left, rect.Top + y));
  return true;
}

Ref<TSysBitmap> DrawThemedPartBitmap(const TThemedElementDetails& details, TColor32 face, TSize size) {
  if (size.cx < 1 || size.cy < 1) return nullptr;
  Ref<TSysBitmap> b = CreateSysBitmap(size.cx, size.cy, StdFormats().A8R8G8B8);
  if (!b || !DrawThemedPartInto(b.get(), details, face, TRect{0, 0, size.cx, size.cy})) return nullptr;
  return b;
}

void FinalizeThemedPartDraw() { g_scratch = nullptr; }

}  // namespace kav
