#include "VoRav/Composite/vxFrameEdit.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/vxConvert.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

TRect Inset(const TRect& r, int32_t dx, int32_t dy) { return TRect{r.Left + dx, r.Top + dy, r.Right - dx, r.Bottom - dy}; }

std::u16string Flag(bool v) { return v ? u"T" : u"F"; }

// The arrow's height for a button box at the style's scale.
int32_t ArrowRows(const TRect& box, double scale) {
  const int32_t want = int32_t(std::lround(3 * std::max(scale, 1.0)));
  return std::max(1, std::min({want, box.Height() / 2, (box.Width() + 1) / 4}));
}

}  // namespace

bool EditKeyUsable(const TEditPartRequest& r) { return r.State != esDisabled && r.State != esReadOnly; }
bool EditKeyActive(const TEditPartRequest& r) {
  return r.Part == epFrame ? r.State == esFocused : r.State == esPressed;
}

void DrawEditArrow(TSysBitmap* bitmap, const TRect& box, bool up, int32_t rows, TColor32 color) {
  // rows rows; the widest is 2 x rows - 1 pixels, at the base.
  const int32_t cx = box.Left + (box.Width() - 1) / 2;
  const int32_t top = box.Top + (box.Height() - rows) / 2;
  for (int32_t i = 0; i < rows; ++i) {
    const int32_t half = up ? i : rows - 1 - i;
    bitmap->FillRect(TRect{cx - half, top + i, cx + half + 1, top + i + 1}, color);
  }
}

TFrameEditTheme::TFrameEditTheme(TControlStyles* styles, bool attach)
    : TFrameControlTheme(attach ? styles : nullptr), styles_(styles) {}

void TFrameEditTheme::Layout(TEditLayout& l, TSize size, int32_t kind) {
  l = TEditLayout{};
  l.ButtonCount = kind >= 0 && kind < 3 ? kind + 1 : 1;
  l.Frame.Rect = TRect{0, 0, size.cx, size.cy};
  l.TextRect = Inset(l.Frame.Rect, 5, 4);
  l.InnerRect = Inset(l.Frame.Rect, 2, 2);
  if (l.ButtonCount == 1) return;
  const int32_t width = l.InnerRect.Height() - 2;
  const int32_t left = std::max(l.InnerRect.Right - width, l.InnerRect.Left);
  const int32_t taken = l.InnerRect.Right - left;
  TRect area{left, l.InnerRect.Top, l.InnerRect.Right, l.InnerRect.Bottom};
  l.TextRect.Right -= taken;
  l.InnerRect.Right -= taken;
  if (l.ButtonCount == 2) {
    l.Button1.Rect = area;
  } else {
    const int32_t middle = area.Top + area.Height() / 2;
    l.Button1.Rect = TRect{area.Left, area.Top, area.Right, middle};
    l.Button2.Rect = TRect{area.Left, middle, area.Right, area.Bottom};
  }
}

TSize TFrameEditTheme::SizeForText(int32_t text_width, int32_t text_height, int32_t kind) {
  TSize size{text_width + 10, text_height + 8};
  TEditLayout l;
  Layout(l, size, kind);
  size.cx += text_width - l.TextRect.Width();
  size.cy += text_height - l.TextRect.Height();
  Layout(l, size, kind);
  if (l.TextRect.Width() != text_width && l.ButtonCount > 1) {
    // A text taller than wide: the button was cut to the narrow frame and
    // growing by the difference did not free it; widen by its whole width
    // instead of failing the check below.
    size.cx = text_width + 10 + std::max(0, l.InnerRect.Height() - 2) ;
    Layout(l, size, kind);
    size.cx += text_width - l.TextRect.Width();
    Layout(l, size, kind);
  }
  KAV_ASSERT(l.TextRect.Width() == text_width);
  return size;
}

std::u16string TFrameEditTheme::PartKey(const TEditPartRequest& r) {
  return u"DefEditTh:" + IntToStr(r.Size.cx) + u"," + IntToStr(r.Size.cy) + u"," + Flag(EditKeyUsable(r)) +
         Flag(EditKeyActive(r));
}

TImage* TFrameEditTheme::DrawPart(const TEditPartRequest& r) {
  if (r.Size.cx < 1 || r.Size.cy < 1 || r.Part < 0 || r.Part >= epPartCount) return nullptr;
  // The last picture of each part, not one for the whole painter: a frame
  // and a button of one size would share a key and each other's picture.
  const size_t part = size_t(r.Part);
  std::u16string key = PartKey(r);
  if (!pictures_[part] || keys_[part] != key) {
    pictures_[part] = Paint(r);
    keys_[part] = std::move(key);
    ++draws_;
  }
  return pictures_[part].get();
}

Ref<TImage> TFrameEditTheme::Paint(const TEditPartRequest& r) {
  TControlStyles* s = styles_;
  const int32_t w = r.Size.cx, h = r.Size.cy;
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().R8G8B8);
  const TRect all{0, 0, w, h};
  const bool usable = EditKeyUsable(r), active = EditKeyActive(r);
  if (r.Part == epFrame) {
    // Flat: one line round a white field (the face colour when the text
    // cannot be changed), drawn darker while the field has focus.
    b->FillRect(all, usable ? s->WindowColor : s->FaceColor);
    const TColor32 line = active ? s->DarkShadowColor : s->ShadowColor;
    b->FillRect(TRect{0, 0, w, 1}, line);
    b->FillRect(TRect{0, h - 1, w, h}, line);
    b->FillRect(TRect{0, 0, 1, h}, line);
    b->FillRect(TRect{w - 1, 0, w, h}, line);
  } else {
    // Flat buttons: the face with a thin raised edge, sunk while pressed.
    b->FillRect(all, s->FaceColor);
    const TColor32 lit = active ? s->ShadowColor : s->HilightColor;
    const TColor32 dark = active ? s->HilightColor : s->ShadowColor;
    b->FillRect(TRect{0, 0, w, 1}, lit);
    b->FillRect(TRect{0, 0, 1, h}, lit);
    b->FillRect(TRect{0, h - 1, w, h}, dark);
    b->FillRect(TRect{w - 1, 0, w, h}, dark);
    TRect box = Inset(all, 1, 1);
    if (active) box = TRect{box.Left + 1, box.Top + 1, box.Right + 1, box.Bottom + 1};
    const int32_t rows = ArrowRows(box, s->ScaleY);
    const bool up = r.Part == epSpinUp;
    if (!usable) DrawEditArrow(b.get(), TRect{box.Left + 1, box.Top + 1, box.Right + 1, box.Bottom + 1}, up, rows,
                               s->HilightColor);
    DrawEditArrow(b.get(), box, up, rows, usable ? ColorRGBA(s->ControlFont.Color1.r, s->ControlFont.Color1.g,
                                                             s->ControlFont.Color1.b, 255)
                                                 : s->ShadowColor);
  }
  return ImageFromBitmap(b.get(), false, u"");
}

void TFrameEditTheme::Dispose() {
  for (auto& p : pictures_) p = nullptr;
  TFrameControlTheme::Dispose();
}

}  // namespace kav
