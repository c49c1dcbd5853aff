#include "VoRav/Composite/winThemedBevelTheme.h"

#include <algorithm>

#include "VoRav/Composite/winThemedPartDraw.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

namespace {

// The list-view element: its background part.
const TThemedElementDetails kListView{teListView, 0, 1};

bool Styled() { return ThemeServices()->ThemesEnabled(); }

TBevelTheme* WinBevelTheme(TControlStyles* styles) {
  Ref<TWinBevelTheme> t = MakeRef<TWinBevelTheme>(styles);
  return t.get();  // the style set keeps it
}

// The list-view content rectangle of a box of `size` (the whole box when
// the theme cannot answer).
TRect ListViewContent(TSize size) {
  const TRect whole{0, 0, size.cx, size.cy};
  TRect content = whole;
  if (ThemeCallEntry(kListView, nullptr, whole, content) != uxtheme::S_OK) content = whole;
  return content;
}

}  // namespace

uint8_t TWinBevelTheme::DefaultStyle() { return Styled() ? kBevelStyleLine : kBevelStyleSunken; }

void TWinBevelTheme::ContentRect(uint8_t sides, uint8_t style, TRect& rect, TSize size) {
  if (style != kBevelStyleEtched || !Styled()) {
    TBevelTheme::ContentRect(sides, style, rect, size);
    return;
  }
  const TRect c = ListViewContent(size);
  rect = TRect{0, 0, size.cx, size.cy};
  if (sides & kBevelLeft) rect.Left = c.Left;
  if (sides & kBevelTop) rect.Top = c.Top;
  if (sides & kBevelRight) rect.Right = c.Right;
  if (sides & kBevelBottom) rect.Bottom = c.Bottom;
}

void TWinBevelTheme::PrepareParts(uint8_t sides, uint8_t style, TBevelParts* parts, TSize size, bool flag) {
  TBevelTheme::PrepareParts(sides, style, parts, size, flag);
  if (style != kBevelStyleLine || !Styled() || size.cx < 1 || size.cy < 1) return;
  Ref<TSysBitmap> whole = DrawThemedPartBitmap(kListView, Styles()->FaceColor, size);
  if (!whole) return;
  const TRect c = ListViewContent(size);
  parts->Content = c;
  const TRect strips[4] = {{0, 0, size.cx, c.Top},
                           {0, c.Top, c.Left, c.Bottom},
                           {c.Right, c.Top, size.cx, c.Bottom},
                           {0, c.Bottom, size.cx, size.cy}};
  for (const TRect& r : strips) {
    if (r.IsEmpty()) continue;
    Ref<TSysBitmap> piece = CreateSysBitmap(r.Width(), r.Height(), StdFormats().A8R8G8B8);
    if (!piece) continue;
    for (int32_t y = 0; y < r.Height(); ++y)
      std::copy_n(whole->PixelAddress(r.Left, r.Top + y), size_t(r.Width()) * 4, piece->Row(y));
    parts->Pieces.push_back(TBevelParts::TPiece{piece, TPoint{r.Left, r.Top}});
  }
}

void TWinBevelTheme::DrawParts(TDrawSurface* surface, TBevelParts* parts) {
  if (!parts || parts->Style != kBevelStyleLine || parts->Pieces.empty()) {
    TBevelTheme::DrawParts(surface, parts);
    return;
  }
  for (const TBevelParts::TPiece& p : parts->Pieces) {
    const TRect r{p.At.X, p.At.Y, p.At.X + p.Picture->Width(), p.At.Y + p.Picture->Height()};
    surface->DrawBitmap(p.Picture.get(), r, p.At.X, p.At.Y);
  }
  if (!parts->Flag) surface->FillRect(parts->Content, Styles()->WindowColor | 0xFF000000u);
}

void InitWinThemedBevelTheme() { AllocBevelTheme = WinBevelTheme; }

}  // namespace kav
