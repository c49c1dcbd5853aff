#include "VoRav/Composite/vxThemedFrameScrollBar.h"

#include <cmath>

#include "VoRav/Application2/winInput.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinApi.h"
#include "platform/window/WinBackend.h"

namespace kav {

namespace {

// The clock of the refresh timers.
uint32_t Now() { return win::Backend().Now(); }

bool Inside(const TRect& r, TPoint p) { return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom; }

TAllocFrameScrollBarProc g_previous_alloc = nullptr;
bool g_installed = false;

TFrameScrollBar* AllocThemedScrollBar(TDrawFrame* frame, uint8_t kind, TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  if (TFrameScrollBarTheme* painter = styles ? styles->FindTheme<TFrameScrollBarTheme>() : nullptr)
    return new TThemedFrameScrollBar(frame, kind, styles, painter);
  return g_previous_alloc(frame, kind, styles);
}

}  // namespace

// --- TThemedScrollBarPart ---

TThemedScrollBarPart::TThemedScrollBarPart(TDrawFrame* frame, TThemedFrameScrollBar* bar, uint8_t index)
    : TThemedControlAnimatedPart(frame), bar_(bar), index_(index) {}

void TThemedScrollBarPart::Dispose() {
  repeating_ = false;
  animating_ = false;
  UpdateRefresh();
  TThemedControlAnimatedPart::Dispose();
}

uint32_t TThemedScrollBarPart::State() {
  uint32_t s = 0;
  if (!IsEnabled()) s |= kSbDisabled;
  if (hot_) s |= kSbHot;
  if (pressed_) s |= kSbPressed;
  if (bar_hot_) s |= kSbBarHot;
  return s;
}

std::u16string TThemedScrollBarPart::Key() {
  KAV_ASSERT(bar_ && bar_->Painter());
  return bar_->Painter()->GetPartName(index_, State(), bar_->Orientation());
}

void TThemedScrollBarPart::UpdatePartImage() {
  KAV_ASSERT(bar_ && bar_->Painter());
  const uint32_t state = State();
  const std::u16string key = bar_->Painter()->GetPartName(index_, state, bar_->Orientation());
  uint32_t ms = 0;
  if (!bar_->Painter()->GetTransitionTime(index_, last_state_, ms, state)) ms = 0;
  SetState(key, ms);
  last_state_ = state;
}

void TThemedScrollBarPart::GetPartImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture) {
  KAV_ASSERT(bar_ && bar_->Painter());
  offset = TPoint{0, 0};
  picture = bar_->Painter()->DrawPart(key, TSize{width_, height_}, offset);
}

void TThemedScrollBarPart::UpdatePartBounds() {
  KAV_ASSERT(bar_ && bar_->Painter());
  TFrameScrollBarTheme* p = bar_->Painter();
  const uint8_t o = bar_->Orientation();
  const TSize size{bar_->GetWidth(), bar_->GetHeight()};
  TRect r;
  if (index_ == kSbFirstButton || index_ == kSbSecondButton) {
    r = p->GetButtonRect(size, o, index_);
  } else {
    const TRect track = p->GetTrackRect(size, o);
    const int32_t length = p->GetThumbLength(track, o, bar_->Page());
    const bool vertical = o == kSbVertical;
    const int32_t track_start = vertical ? track.Top : track.Left;
    const int32_t track_end = vertical ? track.Bottom : track.Right;
    const int32_t free = track_end - track_start - length;
    const int32_t start = int32_t(std::lround(double(free) * bar_->Position())) + track_start;
    int32_t from = start, to = start + length;  // the thumb
    if (index_ == kSbUpperTrack) from = track_start, to = start;
    if (index_ == kSbLowerTrack) from = start + length, to = track_end;
    r = vertical ? TRect{track.Left, from, track.Right, to} : TRect{from, track.Top, to, track.Bottom};
  }
  SetSize(r.Width(), r.Height());
  SetPosition(r.Left, r.Top);
}

void TThemedScrollBarPart::SetHot(bool value) {
  if (value == hot_) return;
  hot_ = value;
  UpdatePartImage();
  bar_->UpdateBarHot();
}

void TThemedScrollBarPart::SetPressed(bool value) {
  if (value == pressed_) return;
  pressed_ = value;
  UpdatePartImage();
  bar_->UpdateBarHot();
  PressedChanged();
}

void TThemedScrollBarPart::SetBarHot(bool value) {
  if (value == bar_hot_) return;
  bar_hot_ = value;
  UpdatePartImage();
}

void TThemedScrollBarPart::MouseEvent(TMouseData* data) {
  TThemedControlAnimatedPart::MouseEvent(data);
  if (!IsEnabled() || !bar_) return;
  switch (data->Kind) {
    case kMouseMove: SetHot(data->HitResult != 0); break;
    // A double click is a second press: fast clicks on an arrow each step.
    case kMouseDown:
    case kMouseDblClick:
      if (data->Button == kMouseLeft) SetPressed(true);
      break;
    case kMouseUp:
      if (data->Button == kMouseLeft) SetPressed(false);
      break;
    // The wheel scrolls the bar (three line steps per wheel step).
    case kFrameMouseWheel: bar_->Wheel(data->WheelDelta); break;
    default: break;
  }
}

void TThemedScrollBarPart::MouseLeave() {
  TThemedControlAnimatedPart::MouseLeave();
  SetHot(false);
}

void TThemedScrollBarPart::EnabledChanged() {
  TThemedControlAnimatedPart::EnabledChanged();
  if (!bar_ || !bar_->Painter()) return;
  // A disabled part lets go: it hears no more mouse records, so a held
  // button would otherwise repeat until the bar is enabled and released.
  if (!IsEnabled()) {
    SetPressed(false);
    SetHot(false);
  }
  // The picture is asked for again here too: the disabled flag is part of its state.
  UpdatePartImage();
}

void TThemedScrollBarPart::StartAnimationTimer() {
  animating_ = true;
  UpdateRefresh();
}

void TThemedScrollBarPart::StopAnimationTimer() {
  animating_ = false;
  UpdateRefresh();
}

// The repeat runs on the tree's time refresh rather than on timed events of
// its own: each step comes on the first refresh tick after it falls due.
void TThemedScrollBarPart::StartRepeat() {
  repeating_ = true;
  due_ = Now() + kSbRepeatDelay;
  UpdateRefresh();
}

void TThemedScrollBarPart::StopRepeat() {
  repeating_ = false;
  UpdateRefresh();
}

void TThemedScrollBarPart::UpdateRefresh() {
  const bool want = animating_ || repeating_;
  if (want == listening_) return;
  listening_ = want;
  if (want)
    StartTimeRefresh();
  else
    StopTimeRefresh();
}

void TThemedScrollBarPart::TimeRefresh() {
  TFrameControl::TimeRefresh();
  if (animating_) {
    Images()->Tick();
    InvalidateAll();
  }
  if (!repeating_) return;
  const uint32_t now = Now();
  if (int32_t(now - due_) < 0) return;
  // Steps come on the refresh ticks after each due time; a late tick does
  // not make up for the steps it missed.
  due_ += kSbRepeatInterval;
  if (int32_t(now - due_) >= 0) due_ = now + kSbRepeatInterval;
  RepeatTick();
}

// --- TThemedScrollBarButton ---

void TThemedScrollBarButton::PressedChanged() {
  if (!pressed_) {
    StopRepeat();
    return;
  }
  if (!Repeating()) StartRepeat();
  Step();
}

void TThemedScrollBarButton::RepeatTick() {
  if (hot_) Step();
}

void TThemedScrollBarButton::Step() {
  const float d = index_ == kSbFirstButton ? -bar_->LineStep() : bar_->LineStep();
  bar_->SetPageAndPosition(bar_->Page(), bar_->Position() + d);
}

// --- TThemedScrollBarTrack ---

void TThemedScrollBarTrack::MouseEvent(TMouseData* data) {
  const TPoint pos = GetPosition();
  last_point_ = TPoint{data->Local.X + pos.X, data->Local.Y + pos.Y};
  TThemedScrollBarPart::MouseEvent(data);
}

void TThemedScrollBarTrack::PressedChanged() {
  if (!pressed_) {
    StopRepeat();
    return;
  }
  if (!Repeating()) StartRepeat();
  Step();
}

void TThemedScrollBarTrack::RepeatTick() {
  // Paging stops once the thumb has reached the pointer.
  const TPoint pos = GetPosition();
  SetHot(Inside(TRect{pos.X, pos.Y, pos.X + width_, pos.Y + height_}, last_point_));
  if (hot_ && Repeating()) Step();
}

void TThemedScrollBarTrack::Step() {
  const float d = index_ == kSbUpperTrack ? -bar_->PageStep() : bar_->PageStep();
  bar_->SetPageAndPosition(bar_->Page(), bar_->Position() + d);
}

// --- TThemedScrollBarThumb ---

void TThemedScrollBarThumb::MouseEvent(TMouseData* data) {
  TThemedScrollBarPart::MouseEvent(data);
  if (!IsEnabled() || !bar_) return;
  if ((data->Kind == kMouseDown || data->Kind == kMouseDblClick) && data->Button == kMouseLeft) {
    press_screen_ = data->ScreenPoint;
    press_part_ = GetPosition();
    press_position_ = bar_->Position();
    return;
  }
  if (data->Kind != kMouseMove || !pressed_) return;
  const bool vertical = bar_->Orientation() == kSbVertical;
  TRect zone = bar_->TrackRect();
  const int32_t track_length = vertical ? zone.Height() : zone.Width();
  if (vertical)
    zone = TRect{zone.Left - 128, zone.Top - 64, zone.Right + 128, zone.Bottom + 64};
  else
    zone = TRect{zone.Left - 64, zone.Top - 128, zone.Right + 64, zone.Bottom + 128};
  const TPoint pos = GetPosition();
  const TPoint at{data->Local.X + pos.X, data->Local.Y + pos.Y};
  float delta = 0;
  const int32_t free = track_length - bar_->ThumbLength();
  if (Inside(zone, at) && free != 0) {
    const int32_t moved = vertical ? data->ScreenPoint.Y - press_screen_.Y : data->ScreenPoint.X - press_screen_.X;
    delta = float(moved) / float(free);
  }
  bar_->SetPageAndPosition(bar_->Page(), press_position_ + delta);
}

// --- TThemedFrameScrollBar ---

TThemedFrameScrollBar::TThemedFrameScrollBar(TDrawFrame* frame, uint8_t kind, TControlStyles* styles,
                                             TFrameScrollBarTheme* painter)
    : TFrameScrollBar(frame, kind, styles), painter_(painter) {
  KAV_ASSERT(painter_);
  parts_[kSbFirstButton] = new TThemedScrollBarButton(CreateChildFrame(), this, kSbFirstButton);
  parts_[kSbSecondButton] = new TThemedScrollBarButton(CreateChildFrame(), this, kSbSecondButton);
  parts_[kSbThumb] = new TThemedScrollBarThumb(CreateChildFrame(), this, kSbThumb);
  parts_[kSbUpperTrack] = new TThemedScrollBarTrack(CreateChildFrame(), this, kSbUpperTrack);
  parts_[kSbLowerTrack] = new TThemedScrollBarTrack(CreateChildFrame(), this, kSbLowerTrack);
}

void TThemedFrameScrollBar::Dispose() {
  for (auto*& p : parts_) p = nullptr;  // the tree frees the children
  TFrameScrollBar::Dispose();
}

TThemedScrollBarPart* TThemedFrameScrollBar::Part(int32_t index) const {
  return index >= 0 && index < 5 ? parts_[index] : nullptr;
}

TRect TThemedFrameScrollBar::TrackRect() {
  return painter_->GetTrackRect(TSize{width_, height_}, Orientation());
}

int32_t TThemedFrameScrollBar::ThumbLength() { return painter_->GetThumbLength(TrackRect(), Orientation(), page_); }

void TThemedFrameScrollBar::Wheel(int32_t steps) {
  if (!IsEnabled() || steps == 0) return;
  SetPageAndPosition(page_, position_ - float(steps * kSbWheelLines) * line_step_);
}

void TThemedFrameScrollBar::UpdateBarHot() {
  bool any = false;
  for (TThemedScrollBarPart* p : parts_)
    if (p && (p->Hot() || p->Pressed())) any = true;
  for (TThemedScrollBarPart* p : parts_)
    if (p) p->SetBarHot(any);
}

void TThemedFrameScrollBar::LayoutParts() {
  for (TThemedScrollBarPart* p : parts_)
    if (p) p->UpdatePartBounds();
}

void TThemedFrameScrollBar::ConstrainSize(int32_t& width, int32_t& height) {
  TFrameScrollBar::ConstrainSize(width, height);
  const TSize d = painter_->GetDefaultSize(Orientation());
  if (Orientation() == kSbHorizontal)
    height = d.cy;
  else
    width = d.cx;
}

void TThemedFrameScrollBar::SizeChanged() {
  TFrameScrollBar::SizeChanged();
  LayoutParts();
}

void TThemedFrameScrollBar::Changed(intptr_t what) {
  // A change listener may free the bar: it is held until its parts are
  // laid out and released after (not while it is being disposed).
  const bool held = RefTryAddRef(this);
  struct TDrop {
    TRefObject* bar;
    ~TDrop() {
      if (bar) try { RefRelease(bar); } catch (...) { /* reported through the debug output */ }
    }
  } drop{held ? this : nullptr};
  TFrameScrollBar::Changed(what);
  LayoutParts();
}

void TThemedFrameScrollBar::EnabledChanged() {
  TFrameScrollBar::EnabledChanged();
  const bool enabled = IsEnabled();
  for (TFrameControl* c = GetFirstChild(); c; c = c->GetNextSibling()) c->SetEnabled(enabled);
  InvalidateAll();
}

void InitThemedFrameScrollBar() {
  if (g_installed) return;
  g_previous_alloc = AllocFrameScrollBar;
  AllocFrameScrollBar = &AllocThemedScrollBar;
  g_installed = true;
}

void FinalizeThemedFrameScrollBar() {
  if (!g_installed) return;
  AllocFrameScrollBar = g_previous_alloc;
  g_previous_alloc = nullptr;
  g_installed = false;
}

}  // namespace kav
