#include "VoRav/Composite/vxThemedProgressBar.h"

#include "VoRav/wpExceptions.h"

namespace kav {

TThemedFrameProgressBar::TThemedFrameProgressBar(TDrawFrame* frame, TControlStyles* styles,
                                                 TProgressBarTheme* painter)
    : TFrameProgressBar(frame, styles), painter_(painter) {
  KAV_ASSERT(painter != nullptr);
  drawer_ = painter->CreateDrawer();
  painter->AddDrawer(drawer_.get());
  drawer_->OnChanged = TDelegate<void()>::Bind<&TThemedFrameProgressBar::DrawerChanged>(this);
  drawer_->SetKind(kind_);
  ApplyValue();
}

void TThemedFrameProgressBar::Dispose() {
  if (drawer_) {
    drawer_->OnChanged = nullptr;
    painter_->RemoveDrawer(drawer_.get());
    drawer_ = nullptr;
  }
  TFrameProgressBar::Dispose();
}

void TThemedFrameProgressBar::ApplyValue() {
  bool done = false;
  drawer_->SetValue(reverse_, done, value_);
  if (done) InvalidateAll();
}

void TThemedFrameProgressBar::Paint(TDrawSurface* surface) {
  if (!drawer_) return;
  Ref<TImage> picture = drawer_->GetPicture();
  if (!picture) return;
  Ref<TBitmap> b = picture->GetBitmap();
  if (b) surface->DrawBitmap(b.get(), TRect{0, 0, width_, height_}, 0, 0);
}

void TThemedFrameProgressBar::SizeChanged() {
  if (drawer_) drawer_->SetSize(TSize{width_, height_});
  TFrameProgressBar::SizeChanged();
}

void TThemedFrameProgressBar::ValueChanged() {
  // While the marquee runs a new value is kept and shown when it stops
  // (handing it on would stop the drawer's marquee behind the bar's back).
  if (!marquee_) ApplyValue();
  TFrameProgressBar::ValueChanged();
}

void TThemedFrameProgressBar::MarqueeChanged() {
  if (marquee_) {
    drawer_->StartMarquee(reverse_);
    InvalidateAll();
  } else {
    ApplyValue();
  }
  TFrameProgressBar::MarqueeChanged();
}

void TThemedFrameProgressBar::KindChanged() {
  drawer_->SetKind(kind_);
  InvalidateAll();
  TFrameProgressBar::KindChanged();
}

void TThemedFrameProgressBar::ThemeChanged() {
  TFrameProgressBar::ThemeChanged();
  // The painter's look may have changed: the picture is made again.
  if (drawer_) {
    const TSize size = drawer_->Size();
    drawer_->SetSize(TSize{0, 0});
    drawer_->SetSize(size);
  }
  InvalidateAll();
}

TFrameProgressBar* AllocThemedFrameProgressBar(TDrawFrame* frame, TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  TProgressBarTheme* painter = ProgressBarThemeOf(styles);
  return new TThemedFrameProgressBar(frame, styles, painter);
}

void InitThemedProgressBar() { _AllocFrameProgressBar = AllocThemedFrameProgressBar; }

}  // namespace kav
