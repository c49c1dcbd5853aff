#include "VoRav/Composite/vxDrawFrames.h"

#include "VoRav/wpExceptions.h"

namespace kav {

void TFrameHandler::SetFrame(TDrawFrame* frame) {
  if (frame == frame_) return;
  TDrawFrame* old = frame_;
  if (old) {
    old->SetHandler(nullptr);
    frame_ = nullptr;
  }
  frame_ = frame;
  if (frame) frame->SetHandler(this);
}

void TFrameHandler::Dispose() {
  SetFrame(nullptr);
  TEventHandler::Dispose();
}

void TDrawFrame::SetHandler(TFrameHandler* handler) {
  if (handler) {
    KAV_ASSERT(handler_ == nullptr && handler->Frame() == this);
  } else {
    KAV_ASSERT(handler_ == nullptr || handler_->Frame() == this);
  }
  handler_ = handler;
}

void TDrawFrame::MoveTo(TPoint point) {
  if (handler_) handler_->PositionChanging();
  pos_ = point;
  if (handler_) handler_->PositionChanged();
}

void TDrawFrame::GetAbsolutePos(TPoint& point) {
  if (parent_) {
    parent_->GetAbsolutePos(point);
    point.X += pos_.X;
    point.Y += pos_.Y;
  } else {
    point = pos_;
  }
}

void TDrawFrame::ToAbsolute(TPoint point, TPoint& out) {
  GetAbsolutePos(out);
  out.X += point.X;
  out.Y += point.Y;
}

void TDrawFrame::MeasureScaledText(const std::u16string& text, const TFontDesc& font, double factor, TTextSize& out) {
  TFontDesc scaled = font;
  scaled.Size = static_cast<float>(font.Size * factor);
  MeasureText(text, scaled, out);
}

TDrawFrame* TDrawFrame::InsertAfter(TDrawFrame* sibling) {
  TDrawFrame* f = CreateFrame();
  f->LinkAfter(sibling ? sibling->parent_ : this, sibling);
  return f;
}

TDrawFrame* TDrawFrame::InsertBefore(TDrawFrame* sibling) {
  TDrawFrame* f = CreateFrame();
  f->LinkBefore(sibling ? sibling->parent_ : this, sibling);
  return f;
}

void TDrawFrame::LinkAfter(TDrawFrame* parent, TDrawFrame* sibling) {
  KAV_ASSERT(parent != nullptr && parent_ == nullptr);
  parent_ = parent;
  TDrawFrame* after = sibling ? sibling : parent->last_child_;
  prev_ = after;
  next_ = after ? after->next_ : parent->first_child_;
  if (prev_) prev_->next_ = this; else parent->first_child_ = this;
  if (next_) next_->prev_ = this; else parent->last_child_ = this;
  RectChanged();
}

void TDrawFrame::LinkBefore(TDrawFrame* parent, TDrawFrame* sibling) {
  KAV_ASSERT(parent != nullptr && parent_ == nullptr);
  parent_ = parent;
  TDrawFrame* before = sibling ? sibling : parent->first_child_;
  next_ = before;
  prev_ = before ? before->prev_ : parent->last_child_;
  if (prev_) prev_->next_ = this; else parent->first_child_ = this;
  if (next_) next_->prev_ = this; else parent->last_child_ = this;
  RectChanged();
}

void TDrawFrame::Unlink() {
  if (!parent_) return;
  if (prev_) prev_->next_ = next_; else parent_->first_child_ = next_;
  if (next_) next_->prev_ = prev_; else parent_->last_child_ = prev_;
  parent_ = prev_ = next_ = nullptr;
}

void TDrawFrame::SetBoundsRect(const TRect& rect) {
  if (rect == rect_) return;
  if (rect.IsEmpty() && rect_.IsEmpty()) return;
  rect_ = rect;
  RectChanged();
}

void TDrawFrame::SetClip(bool clip) {
  if (clip == clip_) return;
  clip_ = clip;
  RectChanged();
}

void TDrawFrame::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  RectChanged();
}

void TDrawFrame::Dispose() {
  if (handler_) handler_->SetFrame(nullptr);
  while (first_child_) {
    TDrawFrame* child = first_child_;
    child->Unlink();
    child->Free();
  }
  Unlink();
  TRefObject::Dispose();
}

}  // namespace kav
