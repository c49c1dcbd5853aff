#include "KavLib2/KavEngine/KavRootItem.h"

#include <cstdlib>

#include "KavLib2/KavEngine/KavEngineClock.h"

namespace kav {

void TRootItem::Dispose() {
  items_.clear();
  previous_.clear();
  filter_slide_ = nullptr;
  TDrawItem::Dispose();
}

void TRootItem::SetItem(size_t at, TDrawItem* item) {
  if (items_.size() <= at) items_.resize(at + 1);
  items_[at] = Ref<TDrawItem>(item);
  const TDrawItem* before = at < previous_.size() ? previous_[at].get() : nullptr;
  if (before != item) changed_ = true;
}

bool TRootItem::Prepare(TPreparedSlide* const* slides, TDrawItem* overlay, int32_t count) {
  previous_ = std::move(items_);
  items_.clear();
  filter_ = nullptr;
  filter_slide_ = nullptr;
  in_transition_ = false;
  changed_ = false;
  // Departure: forced is cleared when a frame is drawn (AfterDraw), not
  // here, so a Force between passes (after an off-screen image) is not lost.
  if (count <= 0 || !slides) return false;

  int32_t j = -1;
  for (int32_t k = count - 1; k >= 0; --k) {
    if (slides[k] && slides[k]->GetTime() >= slides[k]->Times.Begin) {
      j = k;
      break;
    }
  }
  if (j < 0) return false;
  // Departure: at a stop a slide that begins exactly at the stop time gives way to the one before it.
  if (AtStop && j > 0 && slides[j - 1] && slides[j]->GetTime() <= slides[j]->Times.Begin &&
      slides[j - 1]->GetTime() >= slides[j - 1]->Times.Begin)
    --j;

  int32_t i = j;
  if (j > 0 && slides[j]->Transition() && slides[j - 1]) {
    TPreparedSlide* prev = slides[j - 1];
    const double t = prev->GetTime();
    if (t >= prev->Times.Begin && t < prev->Times.EndPlusNext) i = j - 1;
  }
  for (int32_t k = i; k <= j; ++k) {
    double t = slides[k]->GetTime();
    if (k == j && t > slides[k]->Times.EndPlusNext) t = slides[k]->Times.EndPlusNext;
    slides[k]->SetTime(t);
  }

  if (i == j) {
    SetItem(0, slides[j]->Object());
    SetItem(1, overlay);
  } else if (slides[j]->TransitionHasEffect()) {
    SetItem(0, slides[i]->Object());
    SetItem(1, slides[j]->Object());
    SetItem(2, overlay);
    filter_slide_ = Ref<TPreparedSlide>(slides[j]);
    filter_ = slides[j]->Transition();
    in_transition_ = true;
    const double progress = slides[j]->TransitionProgress();
    if (progress != filter_progress_) {
      filter_progress_ = progress;
      changed_ = true;
    }
  } else {
    SetItem(0, slides[i]->Object());
    SetItem(1, overlay);
  }
  if (items_.size() != previous_.size()) changed_ = true;
  // The last frame's items are needed only for the comparison: items that
  // left the frame (a closed show's slides and overlay) go now, not a pass
  // later, which for a still picture may be a quarter of a second away.
  previous_.clear();
  return true;
}

bool TRootItem::NeedsDraw() {
  if (changed_ || forced_) return true;
  for (const auto& item : items_)
    if (item && item->NeedsDraw()) return true;
  return false;
}

void TRootItem::AfterDraw(TDeviceDrawer* drawer) {
  forced_ = false;
  for (const auto& item : items_)
    if (item) item->AfterDraw(drawer);
  if (filter_ && filter_slide_) filter_slide_->TransitionAfterDraw(drawer);
}

void TRootItem::Draw(TDeviceDrawer* drawer) {
  if (!drawer || items_.empty()) return;
  const bool layer = UnsharpAmount > 0;
  if (layer) drawer->BeginLayer();
  const size_t last = items_.size() - 1;
  size_t from = 0;
  if (filter_ && items_.size() >= 2) {
    drawer->DrawTransition(items_[0].get(), items_[1].get(), filter_);
    from = 2;
  }
  for (size_t k = from; k < last; ++k)
    if (items_[k]) drawer->Render(items_[k].get());
  if (layer) drawer->EndLayer(UnsharpAmount);
  if (items_[last]) {
    drawer->Render(items_[last].get());
  } else if (clear_) {
    // Departure: clearing the whole frame here would wipe the slides just
    // drawn; only the area outside the show takes the hider colour.
    FillMargins(drawer, HiderColor);
  }
}

bool TMouseMoveDetector::Moved(int32_t x, int32_t y) {
  if (!has_position_) {
    has_position_ = true;
    last_x_ = x;
    last_y_ = y;
    return false;
  }
  const int64_t distance = std::llabs(int64_t(x) - last_x_) + std::llabs(int64_t(y) - last_y_);
  if (distance < 6) return false;
  last_x_ = x;
  last_y_ = y;
  last_move_ = EngineNowMs();
  return true;
}

void TMouseMoveDetector::SetIdle(bool idle) {
  restart_ = !idle;
  if (idle) last_move_ = EngineNowMs() - int64_t(interval_) - 1;
}

bool TMouseMoveDetector::IsIdle() {
  const int64_t now = EngineNowMs();
  if (restart_) {
    restart_ = false;
    last_move_ = now;
  }
  return now - last_move_ > int64_t(interval_);
}

}  // namespace kav
