#include "VoRav/Composite/vxThemedProgressBarStdTheme.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinBackend.h"

namespace kav {

namespace {

uint32_t Now() { return win::Backend().Now(); }

TProgressBarTheme* StdProgressBarTheme(TControlStyles* styles) {
  Ref<TProgressBarStdTheme> t = MakeRef<TProgressBarStdTheme>(styles);
  return t.get();  // the style set keeps it
}

TColor32 KindColor(TControlStyles* styles, uint8_t kind) {
  switch (kind) {
    case 0: return styles->HighlightColor | 0xFF000000u;
    case 1:
    case 4: return ColorRGBA(255, 0, 0, 255);
    case 2: return ColorRGBA(255, 255, 0, 255);
    case 3: return ColorRGBA(0, 0, 255, 255);
    default: KAV_ASSERT_FAIL("Assertion failure");
  }
}

TRect Clip(const TRect& r, const TRect& to) {
  TRect out{std::max(r.Left, to.Left), std::max(r.Top, to.Top), std::min(r.Right, to.Right),
            std::min(r.Bottom, to.Bottom)};
  return out;
}

int32_t CeilDiv(int32_t a, int32_t b) { return int32_t(std::ceil(double(a) / double(b))); }

}  // namespace

bool ProgressKindIsSmooth(uint8_t kind) { return kind == 3 || kind == 4; }

TProgressGeometry ProgressGeometry(int32_t width, int32_t height, uint8_t kind) {
  TProgressGeometry g;
  if (ProgressKindIsSmooth(kind)) {
    g.Segment = 1;
    g.Gap = 0;
    g.Count = std::max(0, width - 8);
    return g;
  }
  if (width - 4 >= 5 && height - 4 >= 5) {
    g.Segment = std::max(1, int32_t((height - 8) / 1.5));
    g.Gap = 2;
    g.Count = CeilDiv(width - 8, g.Step());
  }
  return g;
}

// --- TStdProgressAnimator ---

void TStdProgressAnimator::SetValue(uint32_t duration, bool reverse, bool& done, float target) {
  const float current = marquee_ ? target_ : GetValue();
  marquee_ = false;
  start_value_ = current;
  target_ = target;
  start_time_ = Now();
  duration_ = duration;
  const bool forward = reverse ? target < current : target > current;
  running_ = forward && duration > 0;
  if (!running_) start_value_ = target;
  done = !running_;
}

void TStdProgressAnimator::StartMarquee(int32_t period, int32_t speed, bool reverse) {
  if (marquee_ && running_ && period == period_ && speed == speed_) {
    if (reverse != reverse_) {
      // The position continues from where it is, the other way.
      const int32_t p = GetMarqueePosition();
      reverse_ = reverse;
      const int32_t along = reverse ? period_ - p : p;
      start_time_ = Now() - uint32_t(int64_t(along) * 1000 / std::max(speed_, 1));
    }
    return;
  }
  marquee_ = true;
  running_ = true;
  period_ = period;
  speed_ = speed;
  reverse_ = reverse;
  start_time_ = Now();
}

float TStdProgressAnimator::GetValue() {
  KAV_ASSERT(!marquee_);
  if (!running_) return target_;
  const uint32_t elapsed = Now() - start_time_;
  if (elapsed >= duration_) {
    running_ = false;
    return target_;
  }
  return start_value_ + (target_ - start_value_) * float(elapsed) / float(duration_);
}

int32_t TStdProgressAnimator::GetMarqueePosition() {
  // A bar too small for segments has a period of 0: the marquee stands at 0
  // instead of dividing by zero.
  if (period_ <= 0) return 0;
  const int64_t travelled = int64_t(Now() - start_time_) * speed_ / 1000;
  const int32_t p = int32_t(travelled % period_);
  return reverse_ ? period_ - p : p;
}

// --- TStdDrawer ---

void TStdDrawer::Tick() {
  if (!animator_->IsRunning() || !NeedsRedraw()) return;
  DropPicture(false);
  if (OnChanged) OnChanged();
}

void TStdDrawer::SetSize(TSize size) {
  if (size.cx == width_ && size.cy == height_) return;
  width_ = size.cx;
  height_ = size.cy;
  DropPicture(true);
  if (marquee_) StartMarquee(reverse_);
}

void TStdDrawer::SetKind(uint8_t kind) {
  KAV_ASSERT(kind <= 4);
  if (kind == kind_) return;
  kind_ = kind;
  DropPicture(false);
  if (marquee_) StartMarquee(reverse_);
}

int32_t TStdDrawer::MarqueePeriod() {
  const TProgressGeometry g = ProgressGeometry(width_, height_, kind_);
  return (g.Count + 5) * g.Step();
}

void TStdDrawer::StartMarquee(bool reverse) {
  marquee_ = true;
  reverse_ = reverse;
  animator_->StartMarquee(MarqueePeriod(), kMarqueeSpeed, reverse);
  DropPicture(false);
}

void TStdDrawer::SetValue(bool reverse, bool& done, float value) {
  // Shown clamped into [0, 1]; NaN counts as 0.
  value = value > 0 ? std::min(value, 1.0f) : 0.0f;
  value_ = value;
  marquee_ = false;
  reverse_ = reverse;
  animator_->SetValue(kProgressGlideTime, reverse, done, value);
  if (done) DropPicture(false);
}

int32_t TStdDrawer::CurrentExtent() {
  const TProgressGeometry g = ProgressGeometry(width_, height_, kind_);
  const int32_t interior = std::max(0, width_ - 4);
  if (marquee_) {
    const int32_t p = animator_->GetMarqueePosition();
    if (g.Step() <= 0) return 0;
    if (ProgressKindIsSmooth(kind_)) return p - 5 * g.Step();
    return CeilDiv(p, g.Step()) - 5;
  }
  const float v = std::clamp(animator_->GetValue(), 0.0f, 1.0f);
  if (ProgressKindIsSmooth(kind_)) return int32_t(std::lround(interior * v));
  return int32_t(std::lround(g.Count * v));
}

bool TStdDrawer::NeedsRedraw() { return CurrentExtent() != last_extent_; }

void TStdDrawer::DrawInto(TSysBitmap* bitmap) {
  TControlStyles* s = painter_->Styles();
  const int32_t w = width_, h = height_;
  // The sunken one-pixel frame, the face inside it.
  bitmap->FillRect(TRect{0, 0, w, 1}, s->ShadowColor | 0xFF000000u);
  bitmap->FillRect(TRect{0, 1, 1, h}, s->ShadowColor | 0xFF000000u);
  bitmap->FillRect(TRect{1, h - 1, w, h}, s->HilightColor | 0xFF000000u);
  bitmap->FillRect(TRect{w - 1, 1, w, h - 1}, s->HilightColor | 0xFF000000u);
  bitmap->FillRect(TRect{1, 1, w - 1, h - 1}, s->FaceColor | 0xFF000000u);
  last_extent_ = CurrentExtent();
  const TRect interior{2, 2, w - 2, h - 2};
  if (interior.IsEmpty()) return;
  const TColor32 color = KindColor(s, kind_);
  const TProgressGeometry g = ProgressGeometry(w, h, kind_);
  const bool smooth = ProgressKindIsSmooth(kind_);
  auto segment = [&](int32_t i) {
    const int32_t left = interior.Left + i * g.Step();
    const TRect r = Clip(TRect{left, interior.Top, left + g.Segment, interior.Bottom}, interior);
    if (!r.IsEmpty()) bitmap->FillRect(r, color);
  };
  if (marquee_) {
    if (smooth) {
      const int32_t right = interior.Left + animator_->GetMarqueePosition();
      const TRect r = Clip(TRect{right - 5 * g.Step(), interior.Top, right, interior.Bottom}, interior);
      if (!r.IsEmpty()) bitmap->FillRect(r, color);
    } else {
      for (int32_t i = last_extent_; i < last_extent_ + 5; ++i) segment(i);
    }
    return;
  }
  if (smooth) {
    const TRect r = Clip(TRect{interior.Left, interior.Top, interior.Left + last_extent_, interior.Bottom}, interior);
    if (!r.IsEmpty()) bitmap->FillRect(r, color);
  } else {
    for (int32_t i = 0; i < last_extent_; ++i) segment(i);
  }
}

Ref<TImage> TStdDrawer::GetPicture() {
  if (picture_) return picture_;
  if (width_ < 1 || height_ < 1) return nullptr;
  if (!bitmap_ || bitmap_->Width() != width_ || bitmap_->Height() != height_)
    bitmap_ = CreateSysBitmap(width_, height_, StdFormats().R8G8B8);
  if (!bitmap_) return nullptr;
  DrawInto(bitmap_.get());
  picture_ = ImageFromBitmap(bitmap_.get(), false, u"");
  return picture_;
}

// --- TProgressBarStdTheme ---

TProgressBarStdTheme::TProgressBarStdTheme(TControlStyles* styles)
    : TProgressBarTheme(styles), handler_(MakeRef<TAnimateHandler>(this)) {}

void TProgressBarStdTheme::Dispose() {
  if (handler_) {
    handler_->painter_ = nullptr;
    handler_ = nullptr;  // its disposal drops its registration
  }
  TProgressBarTheme::Dispose();
}

void TProgressBarStdTheme::TAnimateHandler::HandleEvent(TRefObject*, int32_t tag, intptr_t) {
  if (tag == kFrameEventTimeRefresh && painter_) painter_->Tick();
}

bool TProgressBarStdTheme::Subscribed() const { return handler_ && handler_->RegistrationCount() > 0; }

void TProgressBarStdTheme::AddDrawer(TProgressBarDrawer* drawer) {
  TProgressBarTheme::AddDrawer(drawer);
  if (drawers_.size() == 1 && !Subscribed()) {
    TRefreshNotifier* n = SharedTimeRefreshNotifier();
    n->AddHandler(kFrameEventTimeRefresh, handler_.get());
    n->CheckTimer();
  }
}

Ref<TProgressBarDrawer> TProgressBarStdTheme::CreateDrawer() {
  return MakeRef<TStdDrawer>(this, MakeRef<TStdProgressAnimator>());
}

void TProgressBarStdTheme::GetDefaultSize(TSize& size) { size = TSize{152, 17}; }

void TProgressBarStdTheme::Tick() {
  if (drawers_.empty()) {
    if (Subscribed()) {
      TRefreshNotifier* n = SharedTimeRefreshNotifier();
      n->RemoveHandler(kFrameEventTimeRefresh, handler_.get());
      n->CheckTimer();
    }
    return;
  }
  // A copy: a drawer's change may free a bar.
  const std::vector<TProgressBarDrawer*> now = drawers_;
  for (TProgressBarDrawer* d : now)
    if (std::find(drawers_.begin(), drawers_.end(), d) != drawers_.end()) d->Tick();
}

void InitThemedProgressBarStdTheme() { AllocProgressBarTheme = StdProgressBarTheme; }

}  // namespace kav
