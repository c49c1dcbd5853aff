#include "VoRav/Composite/vxThemedControlImages.h"

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinApi.h"
#include "platform/window/WinBackend.h"

namespace kav {

namespace {

// The clock of the refresh timers.
uint32_t Now() { return win::Backend().Now(); }

}  // namespace

// --- TThemedControlImages ---

TThemedControlImages::TThemedControlImages() : animator_(MakeRef<TImageAnimator>()) {}

void TThemedControlImages::Dispose() {
  cache_.Clear();
  current_ = nullptr;
  animator_ = nullptr;
  TRefObject::Dispose();
}

void TThemedControlImages::CallStop() {
  KAV_ASSERT(OnStopTimer.Assigned());
  OnStopTimer();
}

void TThemedControlImages::CallStart() {
  KAV_ASSERT(OnStartTimer.Assigned());
  OnStartTimer();
}

void TThemedControlImages::CallChanged() {
  KAV_ASSERT(OnChanged.Assigned());
  OnChanged();
}

void TThemedControlImages::Lookup(const std::u16string& key, Ref<TImage>& picture, TPoint& offset) {
  if (cache_.Get(key, picture, offset)) return;
  KAV_ASSERT(OnGetImage.Assigned());
  offset = TPoint{0, 0};
  picture = nullptr;
  OnGetImage(key, offset, picture);
  cache_.Put(key, picture.get(), offset);  // a nil answer is cached too
}

void TThemedControlImages::SetState(const std::u16string& key, uint32_t duration, bool cycle) {
  CallStop();
  cycle_ = cycle;
  animator_->SetPingPong(cycle);
  if (duration != 0) {
    Ref<TImage> next;
    TPoint next_offset;
    Lookup(key, next, next_offset);
    if (next && next->Width() > 0 && next->Height() > 0) {
      // The old picture: the blend shown while a transition runs, else the
      // current picture.
      Ref<TImage> old;
      TPoint old_offset;
      if (animating_ && transition_) {
        Ref<TBitmapStore> store = animator_->CreateResultStore();
        if (store) old = MakeRef<TImage>(store.get());
        old_offset = animator_->ResultOrigin();
      } else {
        old = current_;
        old_offset = current_offset_;
      }
      if (old && old->Width() > 0 && old->Height() > 0) {
        animator_->SetImage(0, old.get(), true, old_offset);
        animator_->SetImage(1, next.get(), true, next_offset);
        animator_->SetPhase(0);
        transition_ = true;
        start_time_ = Now();
        duration_ = duration;
        CallStart();
        return;
      }
    }
  }
  Lookup(key, current_, current_offset_);
  animating_ = false;
  transition_ = false;
  CallChanged();
}

void TThemedControlImages::Tick() {
  // A tick left over after an immediate change or a reset does not bring back the old blend.
  if (!transition_) return;
  const uint32_t elapsed = Now() - start_time_;
  animating_ = true;
  if (elapsed >= duration_ && !cycle_) {
    CallStop();
    animator_->SetPhase(1.0);
    CallChanged();
    return;
  }
  animator_->SetPhase(double(elapsed) / double(duration_));
}

void TThemedControlImages::Reset() {
  CallStop();
  cache_.Clear();
  current_ = nullptr;
  current_offset_ = TPoint{0, 0};
  animating_ = false;
  transition_ = false;
}

bool TThemedControlImages::GetCurrentImage(Ref<TBitmap>& picture, TPoint& offset) {
  if (animating_ && transition_ && animator_->Result()) {
    picture = Ref<TBitmap>(animator_->Result());
    offset = animator_->ResultOrigin();
    return true;
  }
  if (!current_) {
    picture = nullptr;
    offset = TPoint{0, 0};
    return false;
  }
  picture = current_->GetBitmap();
  offset = current_offset_;
  return bool(picture);
}

// --- TThemedControlAnimatedPart ---

TThemedControlAnimatedPart::TThemedControlAnimatedPart(TDrawFrame* frame)
    : TFrameControl(frame), images_(MakeRef<TThemedControlImages>()) {
  images_->OnGetImage = TThemedControlImages::TGetImage::Bind<&TThemedControlAnimatedPart::GetPartImage>(this);
  images_->OnStopTimer = TThemedControlImages::TNotify::Bind<&TThemedControlAnimatedPart::DoStop>(this);
  images_->OnStartTimer = TThemedControlImages::TNotify::Bind<&TThemedControlAnimatedPart::DoStart>(this);
  images_->OnChanged = TThemedControlImages::TNotify::Bind<&TThemedControlAnimatedPart::DoChanged>(this);
}

void TThemedControlAnimatedPart::Dispose() {
  if (images_) {
    images_->Reset();
    images_ = nullptr;
  }
  TFrameControl::Dispose();
}

void TThemedControlAnimatedPart::SetState(const std::u16string& key, uint32_t duration) {
  // The picture shown before is repainted too: a smaller, moved or missing
  // new picture would otherwise leave the old one on screen.
  InvalidateAll();
  images_->SetState(key, duration, false);
  InvalidateAll();
}

void TThemedControlAnimatedPart::ThemeChanged() {
  InvalidateAll();  // the old picture's area, before the reset forgets it
  images_->Reset();
  UpdatePartBounds();
  UpdatePartImage();
  InvalidateAll();
}

void TThemedControlAnimatedPart::Paint(TDrawSurface* surface) {
  Ref<TBitmap> picture;
  TPoint offset;
  if (!images_ || !images_->GetCurrentImage(picture, offset)) return;
  const TRect r{offset.X, offset.Y, offset.X + picture->Width(), offset.Y + picture->Height()};
  surface->DrawBitmap(picture.get(), r, offset.X, offset.Y);
}

void TThemedControlAnimatedPart::SizeChanged() {
  InvalidateAll();  // the old picture's area, before the reset forgets it
  images_->Reset();
  UpdatePartImage();
  TFrameControl::SizeChanged();
}

void TThemedControlAnimatedPart::InvalidateAll() {
  Ref<TBitmap> picture;
  TPoint offset;
  if (!frame_ || !images_ || !images_->GetCurrentImage(picture, offset)) return;
  InvalidateRect(TRect{offset.X, offset.Y, offset.X + picture->Width(), offset.Y + picture->Height()});
}

void TThemedControlAnimatedPart::TimeRefresh() {
  TFrameControl::TimeRefresh();
  images_->Tick();
  InvalidateAll();
}

void TThemedControlAnimatedPart::GetPartImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture) {
  (void)key;
  offset = TPoint{0, 0};
  picture = nullptr;
}

}  // namespace kav

namespace kav {

void TThemedControlImages::PaintCurrent(TDrawSurface* surface, const std::function<void()>& make) {
  Ref<TBitmap> picture;
  TPoint offset;
  if (!GetCurrentImage(picture, offset)) {
    if (make) make();
    if (!GetCurrentImage(picture, offset)) return;
  }
  const TRect r{offset.X, offset.Y, offset.X + picture->Width(), offset.Y + picture->Height()};
  surface->DrawBitmap(picture.get(), r, offset.X, offset.Y);
}

}  // namespace kav
