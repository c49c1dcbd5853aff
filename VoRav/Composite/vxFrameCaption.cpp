#include "VoRav/Composite/vxFrameCaption.h"

#include <algorithm>

#include "VoRav/Application2/winInput.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

TFrameCaption* NewFrameCaption(TDrawFrame* frame) { return new TFrameCaption(frame); }

const std::u16string kEllipsis = u"\u2026";

// The largest count of characters from the start (from the end when
// `from_end`) whose width stays within `room`.
int32_t FitFrom(TTextElement* e, int32_t room, bool from_end) {
  int32_t lo = 0, hi = e->Length();
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo + 1) / 2;
    const int32_t w = from_end ? e->PartWidth(e->Length() - mid, mid) : e->PartWidth(0, mid);
    if (w <= room)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

}  // namespace

TAllocFrameCaptionProc AllocFrameCaption = NewFrameCaption;

TFrameCaption::TFrameCaption(TDrawFrame* frame) : TFrameControl(frame) {
  // The font starts as the parent's style, so a caption shows right before
  // the first tree walk.
  InheritFont();
}

void TFrameCaption::Dispose() {
  destroying_ = true;
  TFrameControl::Dispose();
  text_ = nullptr;
  truncated_ = nullptr;
  ellipsis_ = nullptr;
}

void TFrameCaption::InheritFont() {
  if (inherit_mask_ == 0) return;
  TFontDesc parent;
  if (TFrameControl* p = GetParentControl())
    p->GetInheritedStyle(parent);
  else
    TFrameControl::GetInheritedStyle(parent);
  FontDescAssign(font_, parent, inherit_mask_);
}

void TFrameCaption::SetCaption(const std::u16string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  Rebuild(true, false);
}

void TFrameCaption::SetOwnFont(const TFontDesc& font) {
  font_ = font;
  Rebuild(true, true);
}

void TFrameCaption::SetFlag(uint8_t alignment) {
  if (alignment == alignment_) return;
  alignment_ = alignment;
  Layout();
}

void TFrameCaption::SetReversed(bool value) {
  if (value == reversed_) return;
  reversed_ = value;
  truncated_ = nullptr;  // the kept part is taken from the other end now
  truncated_count_ = 0;
  Layout();
}

void TFrameCaption::SetChildrenPlacement(uint8_t value) {
  if (value == children_placement_) return;
  children_placement_ = value;
  Layout();
}

void TFrameCaption::SetGap(int32_t gap) {
  if (gap == gap_) return;
  gap_ = gap;
  Layout();
}

void TFrameCaption::SetEllipsis(bool value) {
  if (value == ellipsis_on_) return;
  ellipsis_on_ = value;
  Layout();
}

void TFrameCaption::Rebuild(bool notify, bool drop_ellipsis) {
  InvalidateAll();
  text_ = nullptr;
  truncated_ = nullptr;
  truncated_count_ = 0;
  if (drop_ellipsis) ellipsis_ = nullptr;
  if (frame_ && !caption_.empty()) text_ = frame_->CreateTextElement(caption_, font_);
  Layout();
  if (drop_ellipsis) WalkTree();
  if (notify) Changed(0);
}

TFrameCaption::TChildMetrics TFrameCaption::MeasureChildren() {
  TChildMetrics m;
  int32_t plain_height = 0;
  for (TFrameControl* c = GetFirstChild(); c; c = c->GetNextSibling()) {
    if (!c->Frame() || !c->Frame()->Visible()) continue;
    const int32_t w = c->GetWidth(), h = c->GetHeight();
    m.Width += w;
    if (c->Baseline() >= 0) {
      m.Above = std::max(m.Above, c->Baseline());
      m.Below = std::max(m.Below, h - c->Baseline());
    } else {
      plain_height = std::max(plain_height, h);
    }
  }
  m.Height = std::max(plain_height, m.Above + m.Below);
  return m;
}

int32_t TFrameCaption::AlignIn(int32_t left, int32_t right, int32_t width) const {
  uint8_t a = alignment_;
  if (a == 0) a = reversed_ ? 3 : 2;
  switch (a) {
    case 1:
      return left + (right - left - width) / 2;
    case 2:
      return left;
    case 3:
      return right - width;
    default:
      KAV_ASSERT(false);
      return left;
  }
}

void TFrameCaption::Layout() {
  InvalidateAll();
  TChildMetrics children = MeasureChildren();
  if (children.Width != 0) children.Width += gap_;
  int32_t above = children.Above, below = children.Below;
  if (text_) {
    TTextMetrics tm;
    text_->GetFontMetrics(tm);
    above = std::max(above, tm.Ascent);
    below = std::max(below, tm.Height - tm.Ascent);
    text_height_ = tm.Height;
    text_pos_.Y = (height_ - tm.Height) / 2;
    baseline_ = text_pos_.Y + tm.Ascent;
  } else if (above + below > 0) {
    // No text: the children's own baselines, centred, line the row up.
    baseline_ = (height_ - (above + below)) / 2 + above;
  }

  // Fit the text into the room the children leave.
  const int32_t room = width_ - children.Width;
  text_width_ = 0;
  if (!text_ || room < 1) {
    layout_mode_ = kNothingShown;
  } else if (!ellipsis_on_ || text_->Width() <= room) {
    layout_mode_ = kWholeText;
    truncated_ = nullptr;
    truncated_count_ = 0;
    text_width_ = text_->Width();
  } else {
    layout_mode_ = kTruncatedText;
    if (!ellipsis_ && frame_) ellipsis_ = frame_->CreateTextElement(kEllipsis, font_);
    const int32_t ellipsis_width = ellipsis_ ? ellipsis_->Width() : 0;
    if (room > ellipsis_width) {
      const int32_t count = FitFrom(text_.get(), room - ellipsis_width, reversed_);
      if (count != truncated_count_) {
        truncated_count_ = count;
        truncated_ = count == 0 ? nullptr
                                : text_->CreateSubElement(reversed_ ? text_->Length() - count : 0, count);
        if (truncated_) ++truncations_;
      }
      text_width_ = ellipsis_width + (truncated_ ? truncated_->Width() : 0);
    } else {
      truncated_ = nullptr;
      truncated_count_ = 0;
      text_width_ = ellipsis_width;
    }
  }

  // Horizontal placement of the text and the start of the children.
  int32_t children_x = 0;
  if (children_placement_ == 1) {
    text_pos_.X = AlignIn(children.Width, width_, text_width_);
    children_x = 0;
  } else if (children_placement_ == 2) {
    text_pos_.X = AlignIn(0, width_ - children.Width, text_width_);
    children_x = width_ - children.Width + (children.Width ? gap_ : 0);
  } else {
    const int32_t x0 = AlignIn(0, width_, children.Width + text_width_);
    if (!reversed_) {
      children_x = x0;
      text_pos_.X = x0 + children.Width;
    } else {
      text_pos_.X = x0;
      children_x = x0 + text_width_ + (children.Width ? gap_ : 0);
    }
  }
  for (TFrameControl* c = GetFirstChild(); c; c = c->GetNextSibling()) {
    if (!c->Frame() || !c->Frame()->Visible()) continue;
    const int32_t y = c->Baseline() >= 0 && baseline_ >= 0 ? baseline_ - c->Baseline() : (height_ - c->GetHeight()) / 2;
    c->SetPosition(children_x, y);
    children_x += c->GetWidth();
  }
  InvalidateAll();
}

TRect TFrameCaption::TextRect() const {
  return TRect{text_pos_.X, text_pos_.Y, text_pos_.X + text_width_, text_pos_.Y + text_height_};
}

void TFrameCaption::Paint(TDrawSurface* surface) {
  const TRect area{0, 0, width_, height_};
  switch (layout_mode_) {
    case kNothingShown:
      break;
    case kWholeText:
      surface->DrawText(text_.get(), text_pos_, area);
      break;
    case kTruncatedText: {
      // Each piece is limited to its own box: a font with a painted
      // background fills the whole limit, which would wipe the other piece.
      auto piece = [&](TTextElement* e, int32_t x) {
        if (!e) return 0;
        const int32_t w = e->Width();
        surface->DrawText(e, TPoint{x, text_pos_.Y}, TRect{std::max(x, 0), 0, std::min(x + w, width_), height_});
        return w;
      };
      if (reversed_) {
        const int32_t ew = piece(ellipsis_.get(), text_pos_.X);
        piece(truncated_.get(), text_pos_.X + ew);
      } else {
        const int32_t tw = piece(truncated_.get(), text_pos_.X);
        piece(ellipsis_.get(), text_pos_.X + tw);
      }
      break;
    }
    default:
      KAV_ASSERT(false);
  }
}

void TFrameCaption::InvalidateAll() {
  switch (layout_mode_) {
    case kNothingShown:
      break;
    case kWholeText:
      InvalidateRect(TextRect());
      break;
    case kTruncatedText:
      InvalidateRect(TRect{0, 0, width_, height_});
      break;
    default:
      KAV_ASSERT(false);
  }
}

void TFrameCaption::HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) {
  if (tag == kFrameEventSizeChanged && sender != this && !destroying_) {
    auto* child = dynamic_cast<TFrameControl*>(sender);
    if (child && child->GetParentControl() == this) {
      Layout();
      Changed(0);
      return;
    }
  }
  TFrameControl::HandleEvent(sender, tag, param);
}

void TFrameCaption::ChildAdded(TFrameControl* child) {
  if (!destroying_) {
    child->Events()->AddHandler(kFrameEventSizeChanged, this);
    Layout();
    Changed(0);
  }
  TFrameControl::ChildAdded(child);
}

void TFrameCaption::ChildRemoved(TFrameControl* child) {
  if (!destroying_) {
    if (child->HasEvents()) child->Events()->RemoveHandler(kFrameEventSizeChanged, this);
    Layout();
    Changed(0);
  }
  TFrameControl::ChildRemoved(child);
}

void TFrameCaption::SizeChanged() {
  Layout();
  if (frame_) frame_->SetBoundsRect(TRect{0, 0, width_, height_});
  TFrameControl::SizeChanged();
}

void TFrameCaption::MouseEvent(TMouseData* data) {
  if (data->Kind == 1 && data->Button == kMouseLeft && !data->Captured) Click();
  TFrameControl::MouseEvent(data);
}

void TFrameCaption::ThemeChanged() {
  if (inherit_mask_ == 0) return;
  InheritFont();
  Rebuild(true, true);
}

void TFrameCaption::Visit() { ThemeChanged(); }

void TFrameCaption::GetInheritedStyle(TFontDesc& style) { style = font_; }

bool TFrameCaption::ContainsPoint(int32_t x, int32_t y) {
  if (MouseTransparent || layout_mode_ == kNothingShown) return false;
  const TRect r = TextRect();
  return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

int32_t TFrameCaption::GetWidth() {
  TChildMetrics children = MeasureChildren();
  if (children.Width != 0) children.Width += gap_;
  return children.Width + (text_ ? text_->Width() : 0);
}

int32_t TFrameCaption::GetHeight() {
  const TChildMetrics children = MeasureChildren();
  int32_t block = 0;
  if (frame_) {
    TTextSize size;
    frame_->MeasureText(caption_.empty() ? u" " : caption_, font_, size);
    block = size.Height;
  }
  return std::max(children.Height, block);
}

}  // namespace kav
