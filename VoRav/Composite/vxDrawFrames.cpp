#include "VoRav/Composite/vxDrawFrames.h"

#include <vector>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// Objects waiting to be freed by the release that is running, if any.
struct TReleaseQueue {
  std::vector<TRefObject*> items;
  bool running = false;
};
TReleaseQueue& Queue() {
  static TReleaseQueue queue;
  return queue;
}

}  // namespace

bool FreeInTurnRunning() { return Queue().running; }

void FreeInTurn(TRefObject* const* objects, size_t count) {
  TReleaseQueue& q = Queue();
  for (size_t i = 0; i < count; ++i)
    if (objects[i]) q.items.push_back(objects[i]);
  if (q.running) return;
  q.running = true;
  struct TStop {
    TReleaseQueue& q;
    ~TStop() { q.running = false; }
  } stop{q};
  // What the freed objects queue in turn is freed before what was queued
  // earlier: a control's frame waits behind its children.
  while (!q.items.empty()) {
    TRefObject* obj = q.items.back();
    q.items.pop_back();
    obj->Free();
  }
}

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

int32_t TDrawFrame::Depth() const {
  int32_t depth = 0;
  for (const TDrawFrame* f = parent_; f; f = f->parent_) ++depth;
  return depth;
}

namespace {

// Refuses a child of `parent` that would lie deeper than the cap.
void CheckChildDepth(const TDrawFrame* parent) {
  if (parent && parent->Depth() >= kMaxFrameDepth)
    throw EFrameTreeTooDeep(Exception::CreateFmt("Frame tree too deep: a frame may lie at most %d levels below its root",
                                                 int(kMaxFrameDepth))
                                .Message());
}

}  // namespace

TDrawFrame* TDrawFrame::InsertAfter(TDrawFrame* sibling) {
  CheckChildDepth(sibling ? sibling->parent_ : this);
  TDrawFrame* f = CreateFrame();
  f->LinkAfter(sibling ? sibling->parent_ : this, sibling);
  return f;
}

TDrawFrame* TDrawFrame::InsertBefore(TDrawFrame* sibling) {
  CheckChildDepth(sibling ? sibling->parent_ : this);
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
  std::vector<TRefObject*> children;
  while (first_child_) {
    TDrawFrame* child = first_child_;
    child->Unlink();
    children.push_back(child);
  }
  // Queued last first, so the first child is freed first.
  std::vector<TRefObject*> order(children.rbegin(), children.rend());
  FreeInTurn(order.data(), order.size());
  Unlink();
  TRefObject::Dispose();
}

}  // namespace kav
