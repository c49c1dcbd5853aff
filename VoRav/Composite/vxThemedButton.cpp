#include "VoRav/Composite/vxThemedButton.h"

#include <algorithm>

#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinCodes.h"

namespace kav {

TThemedFrameButton::TThemedFrameButton(TDrawFrame* frame, TControlStyles* styles, TButtonTheme* painter)
    : TFrameButton(frame, styles), painter_(painter), images_(MakeRef<TThemedControlImages>()) {
  KAV_ASSERT(painter != nullptr);
  images_->OnGetImage = TThemedControlImages::TGetImage::Bind<&TThemedFrameButton::GetImage>(this);
  images_->OnStopTimer = TThemedControlImages::TNotify::Bind<&TThemedFrameButton::DoStopTimer>(this);
  images_->OnStartTimer = TThemedControlImages::TNotify::Bind<&TThemedFrameButton::DoStartTimer>(this);
  images_->OnChanged = TThemedControlImages::TNotify::Bind<&TThemedFrameButton::ImagesChanged>(this);
}

void TThemedFrameButton::Dispose() {
  if (focus_helper_) {
    focus_helper_->RemoveListener(TFocusHelper::TListener::Bind<&TThemedFrameButton::FocusHelperChanged>(this));
    focus_helper_ = nullptr;
  }
  if (images_) {
    images_->Reset();
    images_ = nullptr;
  }
  hit_picture_ = nullptr;
  TFrameButton::Dispose();
  painter_ = nullptr;
}

TFocusHelper* TThemedFrameButton::FocusHelper() {
  if (!focus_helper_asked_ && frame_) {
    focus_helper_asked_ = true;
    // Trees whose root keeps no attached objects have no helper: their
    // buttons always show focus cues.
    if (auto* root = dynamic_cast<TFocusRoot*>(GetRootControl())) {
      focus_helper_ = Ref<TFocusHelper>(AttachFocusHelper(root));
      if (focus_helper_)
        focus_helper_->AddListener(TFocusHelper::TListener::Bind<&TThemedFrameButton::FocusHelperChanged>(this));
    }
  }
  return focus_helper_.get();
}

void TThemedFrameButton::FocusHelperChanged(TFocusHelper*, int32_t) { InvalidateAll(); }

uint8_t TThemedFrameButton::ComputeState() {
  uint8_t state = 0;
  if (!IsEnabled()) state |= kButtonDisabled;
  if (ShowsAsDefault()) state |= kButtonDefaulted;
  if (Focused()) {
    TFocusHelper* helper = FocusHelper();
    if (!helper || helper->ShowFocusRect()) state |= kButtonFocused;
  }
  if (down_ || key_pressed_) state |= kButtonPressed;
  if (pressed_) state |= kButtonHot | (hot_ ? kButtonPressed : 0);
  else if (hot_) state |= kButtonHot;
  return state;
}

void TThemedFrameButton::SetDown(bool value) {
  if (value == down_) return;
  down_ = value;
  Layout();
  InvalidateAll();
}

bool TThemedFrameButton::UpdatePicture() {
  if (!frame_ || !images_) return false;
  const uint8_t state = ComputeState();
  Ref<TBitmap> picture;
  TPoint offset;
  const bool has_picture = images_->GetCurrentImage(picture, offset);
  if (state == last_state_ && has_picture) return false;
  const uint8_t old = last_state_;
  uint32_t ms = 0;
  const bool fade = painter_->GetTransitionTime(old, state, ms);
  // The new state is stored before the switch, not after it: an immediate
  // switch calls the pulse starter at once, which must see the new state,
  // or a default button shown for the first time would never pulse.
  last_state_ = state;
  images_->SetState(painter_->StateName(state), fade ? ms : 0, false);
  return state != old;
}

void TThemedFrameButton::InvalidateAll() {
  if (UpdatePicture()) Layout();
  // The picture always covers the whole button.
  InvalidateRect(TRect{0, 0, width_, height_});
}

void TThemedFrameButton::ImagesChanged() {
  // The pulse's own switch ends at once when there is no picture to fade
  // from or to, and calls back here: that re-entry is ignored instead of
  // starting the pulse again and again without end.
  if (pulsing_ || !images_) return;
  if (last_state_ != kButtonDefaulted && last_state_ != (kButtonDefaulted | kButtonFocused)) return;
  uint32_t ms = 0;
  if (!painter_->GetTransitionTime(kButtonDefaulted, kButtonAnimated, ms)) return;
  const uint8_t animated = kButtonAnimated | (last_state_ & kButtonFocused);
  pulsing_ = true;
  images_->SetState(painter_->StateName(animated), ms, true);
  pulsing_ = false;
  InvalidateRect(TRect{0, 0, width_, height_});
}

void TThemedFrameButton::GetImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture) {
  picture = painter_ ? painter_->DrawPart(key, TSize{width_, height_}, offset) : nullptr;
}

void TThemedFrameButton::TimeRefresh() {
  TFrameButton::TimeRefresh();
  if (!images_) return;
  images_->Tick();
  InvalidateRect(TRect{0, 0, width_, height_});
}

void TThemedFrameButton::Paint(TDrawSurface* surface) {
  if (images_) images_->PaintCurrent(surface, [this] { UpdatePicture(); });
}

void TThemedFrameButton::Layout() {
  if (laying_out_ || !painter_) return;
  laying_out_ = true;
  TRect content;
  painter_->GetContentRect(ComputeState(), TSize{width_, height_}, content);
  if (caption_) {
    caption_->SetPosition(content.Left, content.Top);
    caption_->SetSize(std::max(0, content.Width()), std::max(0, content.Height()));
    const int32_t b = caption_->Baseline();
    SetBaseline(b < 0 ? -1 : b + content.Top);
  } else {
    SetBaseline(-1);
  }
  laying_out_ = false;
}

void TThemedFrameButton::ThemeChanged() {
  TFrameButton::ThemeChanged();
  InvalidateRect(TRect{0, 0, width_, height_});
  if (images_) images_->Reset();
  hit_picture_ = nullptr;
  hit_fetched_ = false;
  ApplySize();
  Layout();
  InvalidateAll();
}

void TThemedFrameButton::SizeChanged() {
  if (images_) images_->Reset();
  hit_picture_ = nullptr;
  hit_fetched_ = false;
  Layout();
  TFrameButton::SizeChanged();
}

void TThemedFrameButton::EnabledChanged() {
  TFrameButton::EnabledChanged();
  WalkTree();  // the caption takes the text colour of the new state
  InvalidateAll();
}

void TThemedFrameButton::FocusChanged() {
  if (!Focused()) {
    key_pressed_ = false;
    pressed_ = false;
  }
  TFrameButton::FocusChanged();
  InvalidateAll();
}

void TThemedFrameButton::MouseEvent(TMouseData* data) {
  TFrameButton::MouseEvent(data);
  if (!IsEnabled() || data->Kind == kFrameMouseWheel) return;
  bool changed = false, click = false;
  const bool hot = data->HitResult != 0;
  if (hot != hot_) {
    hot_ = hot;
    changed = true;
  }
  if (data->Kind == kMouseDown && data->Button == kMouseLeft && hot_) {
    pressed_ = true;
    changed = true;
    if (GetTabStop()) Focus();
  } else if (data->Kind == kMouseUp && data->Button == kMouseLeft && pressed_) {
    pressed_ = false;
    changed = true;
    click = hot_;
  }
  if (changed) {
    Layout();
    InvalidateAll();
  }
  if (click) Click();  // last: a click handler may free the button
}

void TThemedFrameButton::MouseLeave() {
  TFrameButton::MouseLeave();
  if (!hot_) return;
  hot_ = false;
  Layout();
  InvalidateAll();
}

void TThemedFrameButton::KeyEvent(TKeyData* key) {
  TFrameButton::KeyEvent(key);
  if (key->Handled || !IsEnabled() || key->Key != win::VK_SPACE) return;
  if (key->Kind == 1) {
    key->Handled = true;
    if (!key_pressed_) {
      key_pressed_ = true;
      Layout();
      InvalidateAll();
    }
  } else if (key->Kind == 0 && key_pressed_) {
    key->Handled = true;
    key_pressed_ = false;
    Layout();
    InvalidateAll();
    Click();
  }
}

void TThemedFrameButton::GetInheritedStyle(TFontDesc& style) {
  TFrameButton::GetInheritedStyle(style);
  if (!IsEnabled() && styles_) style.Color1 = TripleOf(styles_->ShadowColor);
  // The caption lies on the button's picture: a painted text background
  // would show as a block on a themed face.
  FontDescSetTransparent(style, true);
}

bool TThemedFrameButton::ContainsPoint(int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  if (!hit_fetched_ && painter_) {
    hit_fetched_ = true;
    hit_picture_ = painter_->GetHitPicture(TSize{width_, height_}, hit_offset_);
  }
  if (!hit_picture_) return true;
  Ref<TBitmap> b = hit_picture_->GetBitmap();
  if (!b) return true;
  const int32_t px = x - hit_offset_.X, py = y - hit_offset_.Y;
  if (px < 0 || py < 0 || px >= b->Width() || py >= b->Height()) return false;
  return (PicturePixel(b.get(), px, py) >> 24) != 0;
}

TSize TThemedFrameButton::DefaultSize() {
  TSize size;
  if (painter_ && frame_) painter_->GetDefaultSize(frame_, size);
  return size;
}

int32_t TThemedFrameButton::CaptionWidth() { return caption_ ? caption_->GetWidth() : 0; }
int32_t TThemedFrameButton::CaptionHeight() { return caption_ ? caption_->GetHeight() : 0; }

void TThemedFrameButton::ConstrainSize(int32_t& width, int32_t& height) {
  TFrameButton::ConstrainSize(width, height);
  if (!frame_ || !painter_) return;
  const TSize def = DefaultSize();
  if (width_flags_ & 4) width = painter_->WidthFromContent(CaptionWidth());
  if (width_flags_ & 1) width = std::max(width, def.cx);
  if (width_flags_ & 2) width = std::min(width, def.cx);
  if (height_flags_ & 4) height = painter_->HeightFromContent(CaptionHeight());
  if (height_flags_ & 1) height = std::max(height, def.cy);
  if (height_flags_ & 2) height = std::min(height, def.cy);
}

int32_t TThemedFrameButton::GetWidth() {
  if (!frame_ || !painter_) return width_;
  const TSize def = DefaultSize();
  int32_t w = painter_->WidthFromContent(CaptionWidth());
  if (width_flags_ & 1) w = std::max(w, def.cx);
  if (width_flags_ & 2) w = std::min(w, def.cx);
  return w;
}

int32_t TThemedFrameButton::GetHeight() {
  if (!frame_ || !painter_) return height_;
  const TSize def = DefaultSize();
  int32_t h = painter_->HeightFromContent(CaptionHeight());
  if (height_flags_ & 1) h = std::max(h, def.cy);
  if (height_flags_ & 2) h = std::min(h, def.cy);
  return h;
}

void TThemedFrameButton::CaptionChanged() {
  ApplySize();
  Layout();
  TFrameButton::CaptionChanged();
}

void TThemedFrameButton::SetWidthFlags(uint8_t flags) {
  TFrameButton::SetWidthFlags(flags);
  ApplySize();
}

void TThemedFrameButton::SetHeightFlags(uint8_t flags) {
  TFrameButton::SetHeightFlags(flags);
  ApplySize();
}

TFrameButton* NewThemedFrameButton(TDrawFrame* frame, TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  KAV_ASSERT(styles != nullptr);
  Ref<TButtonTheme> painter(styles->FindTheme<TButtonTheme>());
  if (!painter) painter = AllocButtonTheme(styles);
  auto* button = new TThemedFrameButton(frame, styles, painter.get());
  button->ApplySize();
  return button;
}

void InitThemedButton() { AllocFrameButton = NewThemedFrameButton; }

}  // namespace kav
