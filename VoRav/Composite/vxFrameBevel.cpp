#include "VoRav/Composite/vxFrameBevel.h"

namespace kav {

namespace {

// The client's own size (GetWidth and GetHeight may answer a preferred
// size instead, as a caption's do).
TSize SizeOf(TFrameControl* c) {
  const TRect r = c->PaintArea();
  return TSize{r.Width(), r.Height()};
}

}  // namespace

TAllocFrameBevelProc AllocFrameBevel = AllocDefFrameBevel;

TFrameBevel* AllocDefFrameBevel(TDrawFrame* frame, TControlStyles*) { return new TDefFrameBevel(frame); }

void InitFrameBevel() { AllocFrameBevel = AllocDefFrameBevel; }

TFrameBevel::TFrameBevel(TDrawFrame* frame) : TFrameControl(frame) {}

void TFrameBevel::Dispose() {
  DropClient();
  TFrameControl::Dispose();
}

bool TFrameBevel::ContainsPoint(int32_t x, int32_t y) {
  return !Transparent && TFrameControl::ContainsPoint(x, y);
}

void TFrameBevel::SetAutoSize(bool value) {
  if (value == auto_size_) return;
  auto_size_ = value;
  if (value && client_) ClientSizeChanged();
}

void TFrameBevel::ChildAdded(TFrameControl* child) {
  TFrameControl::ChildAdded(child);
  if (client_ || !child) return;
  client_ = child;
  client_->Events()->AddHandlers({kFrameEventSizeChanged, kFrameEventPositionChanged, kFrameEventDestroying}, this);
}

void TFrameBevel::ChildRemoved(TFrameControl* child) {
  if (child && child == client_) DropClient();
  TFrameControl::ChildRemoved(child);
}

void TFrameBevel::DropClient() {
  TFrameControl* c = client_;
  if (!c) return;
  client_ = nullptr;
  if (c->HasEvents()) {
    c->Events()->RemoveHandler(kFrameEventSizeChanged, this);
    c->Events()->RemoveHandler(kFrameEventPositionChanged, this);
    c->Events()->RemoveHandler(kFrameEventDestroying, this);
  }
}

void TFrameBevel::HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) {
  if (client_ && sender == client_) {
    if (tag == kFrameEventDestroying) DropClient();
    else if (tag == kFrameEventSizeChanged) ClientSizeChanged();
    else if (tag == kFrameEventPositionChanged) ClientMoved();
    return;
  }
  TFrameControl::HandleEvent(sender, tag, param);
}

void TFrameBevel::SizeChanged() {
  TFrameControl::SizeChanged();
  if (auto_size_ && !busy_) FitClient();
}

void TFrameBevel::FitClient() {
  if (!client_) return;
  TRect r;
  ContentRect(TSize{width_, height_}, r);
  ++nesting_;
  client_->SetPosition(r.Left, r.Top);
  --nesting_;
  resizing_client_ = true;
  client_->SetSize(r.Width(), r.Height());
  resizing_client_ = false;
}

void TFrameBevel::ClientSizeChanged() {
  if (resizing_client_ || !auto_size_ || !client_ || busy_) return;
  busy_ = true;
  TPoint offset;
  TSize size;
  SizeFromClient(SizeOf(client_), offset, size);
  SetSize(size.cx, size.cy);
  // The client is also put at the content offset, so a new client sits
  // inside the border at once.
  ++nesting_;
  if (client_) client_->SetPosition(offset.X, offset.Y);
  --nesting_;
  busy_ = false;
}

void TFrameBevel::ClientMoved() {
  if (!FollowClient || busy_ || nesting_ != 0 || !client_) return;
  busy_ = true;
  TPoint offset;
  TSize size;
  SizeFromClient(SizeOf(client_), offset, size);
  const TPoint me = GetPosition(), at = client_->GetPosition();
  SetPosition(me.X + at.X - offset.X, me.Y + at.Y - offset.Y);
  ++nesting_;
  if (client_) client_->SetPosition(offset.X, offset.Y);
  --nesting_;
  busy_ = false;
}

}  // namespace kav
