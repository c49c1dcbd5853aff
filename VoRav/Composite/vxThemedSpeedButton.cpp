#include "VoRav/Composite/vxThemedSpeedButton.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/wpExceptions.h"

namespace kav {

TThemedSpeedButton::TThemedSpeedButton(TDrawFrame* frame, TControlStyles* styles, TSpeedButtonTheme* painter)
    : TFrameSpeedButton(frame, styles), painter_(painter), images_(MakeRef<TThemedControlImages>()) {
  KAV_ASSERT(painter != nullptr);
  images_->OnGetImage = TThemedControlImages::TGetImage::Bind<&TThemedSpeedButton::GetImage>(this);
  images_->OnStopTimer = TThemedControlImages::TNotify::Bind<&TThemedSpeedButton::DoStopTimer>(this);
  images_->OnStartTimer = TThemedControlImages::TNotify::Bind<&TThemedSpeedButton::DoStartTimer>(this);
  images_->OnChanged = TThemedControlImages::TNotify::Bind<&TThemedSpeedButton::ImagesChanged>(this);
}

void TThemedSpeedButton::Dispose() {
  if (images_) {
    images_->Reset();
    images_ = nullptr;
  }
  hit_picture_ = nullptr;
  caption_ = nullptr;
  TFrameSpeedButton::Dispose();
  painter_ = nullptr;
}

TFrameCaption* TThemedSpeedButton::GetCaption() {
  if (!caption_) {
    TDrawFrame* f = CreateChildFrame();
    KAV_ASSERT(f != nullptr);
    // The caption control shows one line: it has no word wrapping to turn on.
    caption_ = AllocFrameCaption(f);
    caption_->SetFlag(1);  // centred
    caption_->Events()->AddHandlers({kFrameEventDestroying, kFrameEventChanged, kFrameEventChildAdded,
                                     kFrameEventChildRemoved},
                                    this);
    ApplySize();
    Layout();
  }
  return caption_;
}

void TThemedSpeedButton::HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) {
  if (caption_ && sender == caption_) {
    if (tag == kFrameEventDestroying) {
      caption_ = nullptr;
    } else if (!laying_out_) {
      ApplySize();
      Layout();
      InvalidateAll();
    }
    return;
  }
  TFrameSpeedButton::HandleEvent(sender, tag, param);
}

uint8_t TThemedSpeedButton::ComputeState() {
  uint8_t state = 0;
  if (!IsEnabled()) state |= kSpeedDisabled;
  if (hot_ || pressed_) state |= kSpeedHot;
  if (hot_ && pressed_) state |= kSpeedPressed;
  if (down_) state |= kSpeedChecked;
  return state;
}

void TThemedSpeedButton::ForgetPictures() {
  if (images_) images_->Reset();
  hit_picture_ = nullptr;
  hit_fetched_ = false;
}

bool TThemedSpeedButton::UpdatePicture() {
  if (!frame_ || !images_) return false;
  const uint8_t state = ComputeState(), part = Part();
  Ref<TBitmap> picture;
  TPoint offset;
  const bool has_picture = images_->GetCurrentImage(picture, offset);
  if (state == last_state_ && part == last_part_ && has_picture) return false;
  const bool changed = state != last_state_ || part != last_part_;
  uint32_t ms = 0;
  const bool fade = part == last_part_ &&
                    painter_->GetTransitionTime(last_state_, ms, (last_state_ & kSpeedChecked) != 0,
                                                (state & kSpeedChecked) != 0, state);
  last_state_ = state;
  last_part_ = part;
  images_->SetState(painter_->StateName(part, state, (state & kSpeedChecked) != 0), fade ? ms : 0, false);
  return changed;
}

void TThemedSpeedButton::InvalidateAll() {
  if (UpdatePicture()) Layout();
  InvalidateRect(TRect{0, 0, width_, height_});
}

void TThemedSpeedButton::GetImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture) {
  picture = painter_ ? painter_->DrawPart(key, TSize{width_, height_}, offset) : nullptr;
}

void TThemedSpeedButton::TimeRefresh() {
  TFrameSpeedButton::TimeRefresh();
  if (!images_) return;
  images_->Tick();
  InvalidateRect(TRect{0, 0, width_, height_});
}

void TThemedSpeedButton::Paint(TDrawSurface* surface) {
  if (images_) images_->PaintCurrent(surface, [this] { UpdatePicture(); });
}

void TThemedSpeedButton::Layout() {
  if (laying_out_ || !painter_) return;
  laying_out_ = true;
  if (caption_) {
    TRect content;
    painter_->GetContentRect(Part(), ComputeState(), content, TSize{width_, height_});
    caption_->SetPosition(content.Left, content.Top);
    caption_->SetSize(std::max(0, content.Width()), std::max(0, content.Height()));
    const int32_t b = caption_->Baseline();
    SetBaseline(b < 0 ? -1 : b + content.Top);
  } else {
    SetBaseline(-1);
  }
  laying_out_ = false;
}

void TThemedSpeedButton::ThemeChanged() {
  TFrameSpeedButton::ThemeChanged();
  InvalidateRect(TRect{0, 0, width_, height_});
  ForgetPictures();
  ApplySize();
  Layout();
  InvalidateAll();
}

void TThemedSpeedButton::SizeChanged() {
  ForgetPictures();
  Layout();
  TFrameSpeedButton::SizeChanged();
}

void TThemedSpeedButton::EnabledChanged() {
  TFrameSpeedButton::EnabledChanged();
  WalkTree();  // the caption takes the text colour of the new state
  InvalidateAll();
}

void TThemedSpeedButton::GetInheritedStyle(TFontDesc& style) {
  TFrameSpeedButton::GetInheritedStyle(style);
  // Greyed like the push button's caption, so that a disabled tool-bar
  // button does not look like an enabled one.
  if (!IsEnabled() && styles_) style.Color1 = TripleOf(styles_->ShadowColor);
  // The caption lies on the button's picture.
  FontDescSetTransparent(style, true);
}

void TThemedSpeedButton::FocusChanged() {
  if (!Focused() && pressed_) {
    pressed_ = false;
    Layout();
  }
  TFrameSpeedButton::FocusChanged();
  InvalidateAll();
}

void TThemedSpeedButton::DownChanged() {
  Layout();
  InvalidateAll();
  TFrameSpeedButton::DownChanged();
}

void TThemedSpeedButton::MouseEvent(TMouseData* data) {
  TFrameSpeedButton::MouseEvent(data);
  if (!IsEnabled() || data->Kind == kFrameMouseWheel) return;
  bool changed = false, press = false;
  const bool hot = data->HitResult != 0;
  if (hot != hot_) {
    hot_ = hot;
    changed = true;
  }
  if (data->Kind == kMouseDown && data->Button == kMouseLeft) {
    if (DropDown && HitCode(data->Local.X, data->Local.Y) == 2) {
      if (changed) InvalidateAll();
      SecondClick();  // the arrow reports its own click and nothing else
      return;
    }
    if (hot_) {
      pressed_ = true;
      changed = true;
    }
  } else if (data->Kind == kMouseUp && data->Button == kMouseLeft && pressed_) {
    pressed_ = false;
    changed = true;
    press = hot_ && ContainsPoint(data->Local.X, data->Local.Y);
  }
  if (changed) {
    Layout();
    InvalidateAll();
  }
  if (press) Press();  // last: a click handler may free the button
}

void TThemedSpeedButton::MouseLeave() {
  TFrameSpeedButton::MouseLeave();
  if (!hot_ && !pressed_) return;
  hot_ = false;
  pressed_ = false;
  Layout();
  InvalidateAll();
}

int32_t TThemedSpeedButton::HitCode(int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  if ((!hit_fetched_ || hit_part_ != Part()) && painter_) {
    hit_fetched_ = true;
    hit_part_ = Part();
    hit_picture_ = painter_->GetHitPicture(hit_part_, TSize{width_, height_}, hit_offset_);
  }
  if (!hit_picture_) return 1;
  Ref<TBitmap> b = hit_picture_->GetBitmap();
  const int32_t px = x - hit_offset_.X, py = y - hit_offset_.Y;
  if (!b || px < 0 || py < 0 || px >= b->Width() || py >= b->Height()) return 0;
  auto* sys = dynamic_cast<TSysBitmap*>(b.get());
  if (!sys || sys->BytesPerPixel() != 1) return 1;  // the format carries no hit code
  return *sys->PixelAddress(px, py);
}

bool TThemedSpeedButton::ContainsPoint(int32_t x, int32_t y) { return HitCode(x, y) != 0; }

void TThemedSpeedButton::ConstrainSize(int32_t& width, int32_t& height) {
  if (!FixedSize && frame_ && painter_) {
    TSize def;
    painter_->GetDefaultSize(Part(), frame_, def);
    const double sx = styles_ ? styles_->ScaleX : 1.0, sy = styles_ ? styles_->ScaleY : 1.0;
    const int32_t min_w = int32_t(std::lround(def.cx * sx)), min_h = int32_t(std::lround(def.cy * sy));
    if (WidthAutoSize || HeightAutoSize) {
      const int32_t cw = caption_ ? caption_->GetWidth() : 0, ch = caption_ ? caption_->GetHeight() : 0;
      TSize size;
      painter_->SizeFromContent(Part(), TSize{cw, ch}, size);
      if (WidthAutoSize) width = size.cx;
      if (HeightAutoSize) height = size.cy;
    }
    width = std::max(width, min_w);
    height = std::max(height, min_h);
  }
  TFrameSpeedButton::ConstrainSize(width, height);
}

TFrameSpeedButton* NewThemedSpeedButton(TDrawFrame* frame, TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  KAV_ASSERT(styles != nullptr);
  Ref<TSpeedButtonTheme> painter(styles->FindTheme<TSpeedButtonTheme>());
  if (!painter) painter = AllocSpeedButtonTheme(styles);
  auto* button = new TThemedSpeedButton(frame, styles, painter.get());
  button->ApplySize();
  return button;
}

void InitThemedSpeedButton() { _AllocFrameSpeedButton = NewThemedSpeedButton; }

}  // namespace kav
