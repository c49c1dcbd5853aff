#include "VoRav/Composite/vxFramePanels.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

TFramePanel* NewFramePanel(TDrawFrame* frame, TControlStyles* styles) {
  auto* panel = new TFramePanel(frame);
  if (!styles) styles = DefaultControlStyles();
  if (styles && styles->FaceBrush) panel->SetBrush(styles->FaceBrush.get(), false);
  return panel;
}

TFrameImage* NewFrameImage(TDrawFrame* frame) { return new TFrameImage(frame); }

// A straight "A8R8G8B8" copy of any bitmap.
Ref<TSysBitmap> StraightCopy(TBitmap* source) {
  Ref<TSysBitmap> copy = CreateSysBitmap(source->Width(), source->Height(), StdFormats().A8R8G8B8);
  KAV_ASSERT(copy);
  copy->CopyRect(TRect{0, 0, source->Width(), source->Height()}, source, 0, TPoint{0, 0});
  if (!source->PixelFormat()->HasAlpha())
    for (int32_t y = 0; y < copy->Height(); ++y)
      for (int32_t x = 0; x < copy->Width(); ++x) copy->PixelAddress(x, y)[3] = 255;
  return copy;
}

// The inverse of a bitmap-to-control transform; false when it has none.
bool Invert(const TAffineMatrix& m, double inv[6]) {
  const double a = m.m[0], b = m.m[1], c = m.m[3], d = m.m[4], e = m.m[6], f = m.m[7];
  const double det = a * d - c * b;
  if (!std::isfinite(det) || det == 0) return false;
  // x' = a x + c y + e, y' = b x + d y + f
  inv[0] = d / det;
  inv[1] = -b / det;
  inv[2] = -c / det;
  inv[3] = a / det;
  inv[4] = (c * f - d * e) / det;
  inv[5] = (b * e - a * f) / det;
  return true;
}

}  // namespace

TAllocFramePanelProc AllocFramePanel = NewFramePanel;
TAllocFrameImageProc AllocFrameImage = NewFrameImage;

// --- TFramePanel ---

TFramePanel::TFramePanel(TDrawFrame* frame) : TFrameControl(frame) {}

void TFramePanel::Dispose() {
  text_ = nullptr;
  brush_ = nullptr;
  TFrameControl::Dispose();
}

void TFramePanel::SetBrush(TFrameBrush* brush, bool adopt) {
  const bool had = bool(brush_);
  if (had) InvalidateAll();
  brush_ = adopt ? Ref<TFrameBrush>::Adopt(brush) : Ref<TFrameBrush>(brush);
  if (!had) InvalidateAll();
}

void TFramePanel::SetCaption(const std::u16string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  LayoutText();
}

void TFramePanel::SetOwnStyle(const TFontDesc& style, bool use) {
  own_style_ = style;
  use_own_style_ = use;
  LayoutText();
}

void TFramePanel::SetAlignment(uint8_t alignment) {
  if (alignment == alignment_) return;
  alignment_ = alignment;
  if (text_) {
    InvalidateRect(TextRect());
    PlaceText();
    InvalidateRect(TextRect());
  }
}

TRect TFramePanel::TextRect() {
  TRect r;
  text_->GetSize(text_pos_, r);
  return r;
}

void TFramePanel::LayoutText() {
  if (text_) {
    InvalidateRect(TextRect());
    text_ = nullptr;
  }
  if (!frame_ || caption_.empty()) return;
  TFontDesc style;
  GetInheritedStyle(style);
  text_ = frame_->CreateTextElement(caption_, style);
  PlaceText();
  InvalidateRect(TextRect());
}

void TFramePanel::PlaceText() {
  TTextMetrics m;
  text_->GetFontMetrics(m);
  const int32_t w = text_->Width();
  int32_t x = alignment_ == 1 ? 0 : alignment_ == 2 ? width_ - w : (width_ - w) / 2;
  if (x < 0) x = 0;
  text_pos_ = TPoint{x, (height_ - m.Height) / 2};
  baseline_ = m.Ascent + text_pos_.Y;
}

void TFramePanel::Paint(TDrawSurface* surface) {
  if (brush_) brush_->Paint(surface, TRect{0, 0, width_, height_});
  if (text_) surface->DrawText(text_.get(), text_pos_, TRect{0, 0, width_, height_});
}

void TFramePanel::InvalidateAll() {
  if (!frame_) return;
  if (brush_) InvalidateRect(TRect{0, 0, width_, height_});
  if (text_) InvalidateRect(TextRect());
}

void TFramePanel::SizeChanged() {
  TFrameControl::SizeChanged();
  if (FitFrame && frame_) frame_->SetBoundsRect(TRect{0, 0, width_, height_});
  if (!caption_.empty()) LayoutText();
}

void TFramePanel::EnabledChanged() {
  if (!use_own_style_) {
    WalkTree();
    // The text takes the colours of the current style: laid out anew with it.
    if (text_) LayoutText();
  }
  TFrameControl::EnabledChanged();
}

void TFramePanel::GetInheritedStyle(TFontDesc& style) {
  if (use_own_style_) {
    style = own_style_;
    return;
  }
  TFrameControl::GetInheritedStyle(style);
  if (!IsEnabled())
    if (TControlStyles* styles = GetStyles()) style.Color1 = TripleOf(styles->ShadowColor);
}

bool TFramePanel::ContainsPoint(int32_t x, int32_t y) {
  if (MouseMode == 0) return false;
  return TFrameControl::ContainsPoint(x, y);
}

void TFramePanel::MouseEvent(TMouseData* data) {
  if (MouseMode == 2 && data->Kind == 1 && data->Button == kMouseLeft && !data->Captured) Click();
  TFrameControl::MouseEvent(data);
}

int32_t TFramePanel::GetWidth() { return text_ ? text_->Width() : width_; }

int32_t TFramePanel::GetHeight() {
  if (!text_) return height_;
  TTextMetrics m;
  text_->GetFontMetrics(m);
  return m.Height;
}

// --- TFrameImage ---

TFrameImage::TFrameImage(TDrawFrame* frame) : TFrameControl(frame) {}

void TFrameImage::Dispose() {
  bitmap_ = nullptr;
  disabled_ = nullptr;
  transformed_ = nullptr;
  TFrameControl::Dispose();
}

void TFrameImage::SetBitmap(TBitmap* bitmap, bool owns) {
  owns_bitmap_ = owns;
  if (bitmap == bitmap_.get()) return;
  bitmap_ = Ref<TBitmap>(bitmap);
  disabled_ = nullptr;
  transformed_ = nullptr;
  InvalidateRect(TRect{0, 0, width_, height_});
}

void TFrameImage::SetTransform(const TAffineMatrix& transform) {
  transform_ = transform;
  transformed_ = nullptr;
  InvalidateRect(TRect{0, 0, width_, height_});
}

void TFrameImage::SetDrawMode(int32_t mode) {
  if (mode == draw_mode_) return;
  draw_mode_ = mode;
  InvalidateRect(TRect{0, 0, width_, height_});
}

void TFrameImage::SetBackgroundColor(TColor32 color) {
  if (color == background_) return;
  InvalidateAll();
  background_ = color;
  InvalidateAll();
}

TBitmap* TFrameImage::DisabledBitmap() {
  if (!bitmap_) return nullptr;
  if (!disabled_) {
    // Half as opaque with the colours kept: a straight-alpha copy with the
    // alpha halved. (Halving only the alpha of a premultiplied copy would
    // leave colour values above their alpha and brighten the picture.)
    Ref<TSysBitmap> copy = StraightCopy(bitmap_.get());
    for (int32_t y = 0; y < copy->Height(); ++y)
      for (int32_t x = 0; x < copy->Width(); ++x) copy->PixelAddress(x, y)[3] >>= 1;
    disabled_ = copy;
  }
  return disabled_.get();
}

TBitmap* TFrameImage::TransformedBitmap(TBitmap* source) {
  if (width_ < 1 || height_ < 1) return nullptr;
  if (transformed_ && transformed_source_ == source && transformed_->Width() == width_ &&
      transformed_->Height() == height_)
    return transformed_.get();
  double inv[6];
  if (!Invert(transform_, inv)) return nullptr;
  Ref<TSysBitmap> src = StraightCopy(source);
  Ref<TSysBitmap> out = CreateSysBitmap(width_, height_, StdFormats().A8R8G8B8);
  KAV_ASSERT(out);
  for (int32_t y = 0; y < height_; ++y)
    for (int32_t x = 0; x < width_; ++x) {
      const double cx = x + 0.5, cy = y + 0.5;
      const double sx = std::floor(inv[0] * cx + inv[2] * cy + inv[4]);
      const double sy = std::floor(inv[1] * cx + inv[3] * cy + inv[5]);
      uint8_t* d = out->PixelAddress(x, y);
      if (sx >= 0 && sy >= 0 && sx < src->Width() && sy < src->Height())
        std::copy_n(src->PixelAddress(int32_t(sx), int32_t(sy)), 4, d);
      else
        std::fill_n(d, 4, uint8_t(0));
    }
  transformed_ = out;
  transformed_source_ = source;
  return transformed_.get();
}

void TFrameImage::Paint(TDrawSurface* surface) {
  const TRect area{0, 0, width_, height_};
  if (ColorAlpha(background_) != 0) surface->FillRect(area, background_);
  if (!frame_ || !bitmap_ || draw_mode_ == kDrawNone) return;
  TBitmap* b = IsEnabled() ? bitmap_.get() : DisabledBitmap();
  if (draw_mode_ == kDrawTransformed) {
    if (TBitmap* t = TransformedBitmap(b)) surface->DrawBitmap(t, area, 0, 0);
    return;
  }
  surface->DrawBitmap(b, TRect{0, 0, b->Width(), b->Height()}, 0, 0);
}

void TFrameImage::InvalidateAll() {
  if (ColorAlpha(background_) != 0) InvalidateRect(TRect{0, 0, width_, height_});
}

int32_t TFrameImage::AlphaAt(int32_t x, int32_t y) {
  if (!bitmap_ || draw_mode_ == kDrawNone) return 0;
  double px = x, py = y;
  if (draw_mode_ == kDrawTransformed) {
    double inv[6];
    if (!Invert(transform_, inv)) return 0;
    px = std::round(inv[0] * x + inv[2] * y + inv[4]);
    py = std::round(inv[1] * x + inv[3] * y + inv[5]);
  }
  if (!(px >= 0 && py >= 0 && px < bitmap_->Width() && py < bitmap_->Height())) return 0;
  if (!bitmap_->PixelFormat()->HasAlpha()) return 255;
  Ref<TSysBitmap> one = CreateSysBitmap(1, 1, StdFormats().A8R8G8B8);
  KAV_ASSERT(one);
  one->CopyRect(TRect{0, 0, 1, 1}, bitmap_.get(), 0, TPoint{int32_t(px), int32_t(py)});
  return one->PixelAddress(0, 0)[3];
}

bool TFrameImage::ContainsPoint(int32_t x, int32_t y) {
  if (HitThreshold <= 0) return TFrameControl::ContainsPoint(x, y);
  if (HitThreshold >= 256 || !TFrameControl::ContainsPoint(x, y)) return false;
  if (ColorAlpha(background_) >= HitThreshold) return true;
  return AlphaAt(x, y) >= HitThreshold;
}

}  // namespace kav
