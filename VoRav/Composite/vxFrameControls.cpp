#include "VoRav/Composite/vxFrameControls.h"

#include <algorithm>
#include <vector>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxCtrlVectorDraw.h"
#include "VoRav/Composite/vxThemedControlUtils.h"
#include "VoRav/Composite/winThemedPartDraw.h"
#include "VoRav/Win32/winScreen.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

TControlStyles* g_default_styles = nullptr;
TTimeRefreshNotifier* g_shared_notifier = nullptr;

struct TPendingRelease {
  std::vector<void*> items;
  ~TPendingRelease() {
    for (void* p : items) ::operator delete(p);
  }
};
TPendingRelease& Pending() {
  static TPendingRelease pending;
  return pending;
}

// Controls disposed within the release of a tree, deleted when it is over;
// `active` while the outermost control's Dispose runs that release.
struct TTreeRelease {
  std::vector<TFrameControl*> disposed;
  bool active = false;
};
TTreeRelease& TreeRelease() {
  static TTreeRelease release;
  return release;
}

TFrameControl* ControlOf(TDrawFrame* frame) {
  return frame ? dynamic_cast<TFrameControl*>(frame->Handler()) : nullptr;
}

// A reference that keeps a control whole while handlers of the events it
// raises run (they may free it); none for nil or a control already going.
Ref<TFrameControl> Hold(TFrameControl* c) {
  return RefTryAddRef(c) ? Ref<TFrameControl>::Adopt(c) : Ref<TFrameControl>();
}

}  // namespace

bool DefaultAcceptsWheel = true;

TControlStyles* DefaultControlStyles() { return g_default_styles; }
void SetDefaultControlStyles(TControlStyles* styles) { g_default_styles = styles; }

void EmptyPendingReleaseList() {
  std::vector<void*> items;
  items.swap(Pending().items);
  for (void* p : items) ::operator delete(p);
}

int32_t PendingReleaseCount() { return static_cast<int32_t>(Pending().items.size()); }

void FinalizeFrameControls() {
  EmptyPendingReleaseList();
  FinalizeThemedControlUtils();
  FinalizeCtrlVectorDraw();
  FinalizeThemedPartDraw();
  if (TTimeRefreshNotifier* n = std::exchange(g_shared_notifier, nullptr)) n->Free();
}

// --- refresh notifiers ---

TRefreshNotifier::TRefreshNotifier(TRefObject* owner, TRootControl* root) : TEvents(owner, 16), root_(root) {}

uint32_t TRefreshNotifier::Interval() const {
  int32_t rate = GetScreenRefreshRate();
  return rate > 0 ? static_cast<uint32_t>(1000 / rate) : 16u;
}

void TRefreshNotifier::StopTimer() {
  if (timer_) MultiTimerRemoveEvent(timer_);
}

void TRefreshNotifier::CheckTimer() {
  bool wanted = HasHandlers(kFrameEventTimeRefresh);
  if (wanted == (timer_ != nullptr)) return;
  if (!wanted) {
    StopTimer();
    return;
  }
  uint32_t interval = std::max<uint32_t>(Interval(), 1);
  timer_ = MultiTimerAddEvent(interval, 0, TTimerEventHandler::Bind<&TRefreshNotifier::OnTimer>(this));
}

void TRefreshNotifier::OnTimer(TTimerEvent*) {
  RefAddRef(this);
  struct TDrop {
    TRefreshNotifier* n;
    ~TDrop() { try { RefRelease(n); } catch (...) { /* reported through the debug output */ } }
  } drop{this};
  OnTick();
}

void TRefreshNotifier::OnTick() { AfterTick(Dispatch(kFrameEventTimeRefresh, 0)); }

void TRefreshNotifier::Dispose() {
  StopTimer();
  TEvents::Dispose();
}

void TTimeRefreshNotifier::OnTick() {
  const Ref<TFrameControl> root = Hold(root_);
  TRefreshNotifier::OnTick();
}

void TTimeRefreshNotifier::AfterTick(bool reached) {
  if (!reached) {
    StopTimer();
    return;
  }
  if (root_) root_->AfterTimeRefresh();
}

// --- TFrameControl ---

TFrameControl::TFrameControl(TDrawFrame* frame) {
  KAV_ASSERT(frame != nullptr && frame->Handler() == nullptr);
  accepts_wheel_ = DefaultAcceptsWheel;
  SetFrame(frame);
  enabled_state_ = 0;
  baseline_ = -1;
}

TFrameControl::~TFrameControl() {
  released_ = true;
  // A control whose construction failed (a child frame it makes for itself
  // was refused) was never disposed: it leaves the tree and frees the frame
  // it was given, as Dispose would, and lets go of its event list.
  if (TDrawFrame* f = frame_) {
    TFrameControl::SetFrame(nullptr);
    f->Free();
  }
  if (events_) {
    events_->FreeAttached();
    std::exchange(events_, nullptr)->Free();
  }
}

void TFrameControl::FreeInstance() {
  TTreeRelease& release = TreeRelease();
  if (release.active && FreeInTurnRunning()) release.disposed.push_back(this);
  else delete this;
}

void* TFrameControl::operator new(size_t size) { return ::operator new(size); }
void TFrameControl::operator delete(void* p) { Pending().items.push_back(p); }

void TFrameControl::Dispose() {
  Notify(kFrameEventDestroying);
  focused_child_ = nullptr;
  // Children that somebody else still holds stay alive, so the list is
  // taken first; they are freed first to last, then the frame. The control
  // freed first keeps its frame while its children go (they report their
  // removal to it). Inside a release already running (a deeper level of a
  // freed tree) the control lets its frame go at once and the children and
  // then the frame wait on the release's list, so no level recurses.
  TDrawFrame* f = frame_;
  TTreeRelease& release = TreeRelease();
  const bool nested = release.active && FreeInTurnRunning();
  std::vector<TRefObject*> order;
  if (nested) order.push_back(f);
  for (TFrameControl* c = GetLastChild(); c; c = c->GetPreviousSibling()) order.push_back(c);
  if (nested) {
    // Deep in a freed tree the control detaches before its children go, so they report no removal to it (no recursion).
    if (f) SetFrame(nullptr);
    FreeInTurn(order.data(), order.size());
  } else {
    const bool outermost = !release.active;
    release.active = true;
    struct TEnd {
      TTreeRelease& r;
      bool outermost;
      ~TEnd() {
        if (!outermost) return;
        r.active = false;
        std::vector<TFrameControl*> disposed;
        disposed.swap(r.disposed);
        for (auto it = disposed.rbegin(); it != disposed.rend(); ++it) delete *it;
      }
    } end{release, outermost};
    FreeInTurn(order.data(), order.size());
    if (f) {
      SetFrame(nullptr);
      f->Free();
    }
  }
  if (events_) {
    events_->FreeAttached();
    std::exchange(events_, nullptr)->Free();
  }
  TFrameHandler::Dispose();
}

void TFrameControl::HandleEvent(TRefObject*, int32_t tag, intptr_t) {
  if (tag == kFrameEventTimeRefresh) TimeRefresh();
}

void TFrameControl::SetFrame(TDrawFrame* frame) {
  if (frame == frame_) return;
  TFrameControl* parent = GetParentControl();
  if (parent && parent->focused_child_ == this) parent->focused_child_ = nullptr;
  TFrameHandler::SetFrame(frame);
  if (parent) parent->ChildRemoved(this);
  if (frame)
    if (TFrameControl* p = GetParentControl()) p->ChildAdded(this);
}

void TFrameControl::PositionChanging() { Notify(kFrameEventPositionChanging); }
void TFrameControl::PositionChanged() { Notify(kFrameEventPositionChanged); }

void TFrameControl::TakeInvalidRect(TRect& rect) {
  rect = invalid_rect_;
  invalidation_count_ = 0;
}

bool TFrameControl::HitTest(TMouseData* data) {
  if (data->Kind == kFrameMouseWheel && !accepts_wheel_) return false;
  return ContainsPoint(data->Local.X, data->Local.Y);
}

void TFrameControl::MouseEvent(TMouseData* data) { Notify(kFrameEventMouse, reinterpret_cast<intptr_t>(data)); }
void TFrameControl::MouseLeave() { Notify(kFrameEventMouseLeave); }

TFrameControl* TFrameControl::GetNextSibling() {
  if (!frame_) return nullptr;
  for (TDrawFrame* f = frame_->NextSibling(); f; f = f->NextSibling())
    if (TFrameControl* c = ControlOf(f)) return c;
  return nullptr;
}

TFrameControl* TFrameControl::GetPreviousSibling() const {
  if (!frame_) return nullptr;
  for (TDrawFrame* f = frame_->PrevSibling(); f; f = f->PrevSibling())
    if (TFrameControl* c = ControlOf(f)) return c;
  return nullptr;
}

TFrameControl* TFrameControl::GetFirstChild() const {
  if (!frame_) return nullptr;
  for (TDrawFrame* f = frame_->FirstChild(); f; f = f->NextSibling())
    if (TFrameControl* c = ControlOf(f)) return c;
  return nullptr;
}

TFrameControl* TFrameControl::GetLastChild() const {
  if (!frame_) return nullptr;
  for (TDrawFrame* f = frame_->LastChild(); f; f = f->PrevSibling())
    if (TFrameControl* c = ControlOf(f)) return c;
  return nullptr;
}

void TFrameControl::FocusedChildChanging() { Notify(kFrameEventFocusedChildChanging); }
void TFrameControl::FocusedChildChanged() { Notify(kFrameEventFocusedChildChanged); }
void TFrameControl::ChildAdded(TFrameControl* child) { Notify(kFrameEventChildAdded, reinterpret_cast<intptr_t>(child)); }
void TFrameControl::ChildRemoved(TFrameControl* child) {
  Notify(kFrameEventChildRemoved, reinterpret_cast<intptr_t>(child));
}

void TFrameControl::ConstrainSize(int32_t& width, int32_t& height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
}

void TFrameControl::SizeChanging() {
  InvalidateAll();
  Notify(kFrameEventSizeChanging);
}

void TFrameControl::SizeChanged() {
  InvalidateAll();
  Notify(kFrameEventSizeChanged);
}

void TFrameControl::InvalidateAll() { InvalidateRect(TRect{0, 0, width_, height_}); }

void TFrameControl::EnabledChanged() {
  Notify(kFrameEventEnabledChanged);
  for (TFrameControl* c = GetFirstChild(); c; c = c->GetNextSibling())
    if (c->enabled_state_ == 0) c->EnabledChanged();
}

void TFrameControl::Slot24() { Notify(kFrameEventSlot24); }
void TFrameControl::FocusChanged() { Notify(kFrameEventFocusChanged); }
void TFrameControl::FocusedInParent(bool value) {
  Notify(value ? kFrameEventFocusedInParent : kFrameEventUnfocusedInParent);
}
void TFrameControl::KeyPreview(TKeyData* key) { Notify(kFrameEventKeyPreview, reinterpret_cast<intptr_t>(key)); }
void TFrameControl::KeyEvent(TKeyData* key) { Notify(kFrameEventKey, reinterpret_cast<intptr_t>(key)); }
void TFrameControl::Changed(intptr_t what) { Notify(kFrameEventChanged, what); }
void TFrameControl::Click() { Notify(kFrameEventClick); }
void TFrameControl::TimeRefresh() { Notify(kFrameEventTimeRefresh); }

void TFrameControl::GetInheritedStyle(TFontDesc& style) {
  if (TFrameControl* p = GetParentControl()) {
    p->GetInheritedStyle(style);
    return;
  }
  style = g_default_styles ? g_default_styles->ControlFont : TFontDesc{};
}

TControlStyles* TFrameControl::GetStyles() {
  if (TFrameControl* p = GetParentControl()) return p->GetStyles();
  return g_default_styles;
}

TDrawFrame* TFrameControl::CreateChildFrame() { return frame_ ? frame_->InsertAfter(nullptr) : nullptr; }

bool TFrameControl::ContainsPoint(int32_t x, int32_t y) { return x >= 0 && x < width_ && y >= 0 && y < height_; }

void TFrameControl::RefreshMouse() {
  TFrameControl* top = GetTopmostControl();
  if (top != this) top->RefreshMouse();
}

void TFrameControl::ClientToScreen(int32_t x, int32_t y, TPoint& point) {
  TPoint pos = GetPosition();
  if (TFrameControl* p = GetParentControl()) {
    p->ClientToScreen(x + pos.X, y + pos.Y, point);
  } else {
    point = TPoint{x + pos.X, y + pos.Y};
  }
}

TEventsWithTags* TFrameControl::Events() {
  if (!events_) events_ = new TEventsWithTags(this, 16);
  return events_;
}

void TFrameControl::Notify(int32_t code, intptr_t param) {
  if (events_) events_->Dispatch(code, param);
}

void TFrameControl::SetSize(int32_t width, int32_t height) {
  ConstrainSize(width, height);
  if (width == width_ && height == height_) return;
  SizeChanging();
  width_ = width;
  height_ = height;
  SizeChanged();
}

void TFrameControl::SetPosition(int32_t x, int32_t y) {
  if (frame_) frame_->MoveTo(TPoint{x, y});
}

TPoint TFrameControl::GetPosition() const { return frame_ ? frame_->Position() : TPoint{}; }

void TFrameControl::InvalidateRect(const TRect& rect) {
  if (invalidation_count_ == 0) {
    invalid_rect_ = rect;
  } else if (invalid_rect_.IsEmpty()) {
    invalid_rect_ = rect.IsEmpty() ? kEmptyInvalidRect : rect;
  } else if (!rect.IsEmpty()) {
    invalid_rect_.Left = std::min(invalid_rect_.Left, rect.Left);
    invalid_rect_.Top = std::min(invalid_rect_.Top, rect.Top);
    invalid_rect_.Right = std::max(invalid_rect_.Right, rect.Right);
    invalid_rect_.Bottom = std::max(invalid_rect_.Bottom, rect.Bottom);
  }
  ++invalidation_count_;
  if (frame_) frame_->Invalidate();
}

TFrameControl* TFrameControl::GetParentControl() const {
  return frame_ ? ControlOf(frame_->Parent()) : nullptr;
}

TFrameControl* TFrameControl::GetTopmostControl() {
  TFrameControl* c = this;
  while (TFrameControl* p = c->GetParentControl()) c = p;
  return c;
}

TRootControl* TFrameControl::GetRootControl() const {
  return dynamic_cast<TRootControl*>(const_cast<TFrameControl*>(this)->GetTopmostControl());
}

void TFrameControl::SetFocusedChild(TFrameControl* child) {
  if (child == focused_child_) return;
  if (child && child->GetParentControl() != this) return;
  // The focus events' handlers may free any of the three controls (the one
  // losing the focus may free the one gaining it): each stays whole until
  // the change is done, and goes afterwards.
  const Ref<TFrameControl> self = Hold(this), next = Hold(child), old = Hold(focused_child_);
  if (child && !next) return;  // already being freed
  FocusedChildChanging();
  focused_child_ = nullptr;
  if (old) old->TellFocusedInParent(false);
  // A handler may have taken the child out of this control meanwhile.
  if (child && child->GetParentControl() != this) child = nullptr;
  focused_child_ = child;
  if (child) child->TellFocusedInParent(true);
  FocusedChildChanged();
}

void TFrameControl::TellFocusedInParent(bool value) {
  FocusedInParent(value);
  if (value) {
    TFrameControl* p = GetParentControl();
    if (p && p->focused_ && !focused_) SetFocusState(true);
  } else if (focused_) {
    SetFocusState(false);
  }
}

void TFrameControl::SetFocusState(bool value) {
  if (value == focused_) return;
  const Ref<TFrameControl> self = Hold(this);  // FocusChanged's handlers may free this control
  focused_ = value;
  FocusChanged();
  if (TFrameControl* c = focused_child_)
    if (c->focused_ != value) c->SetFocusState(value);
}

void TFrameControl::Focus() {
  if (focused_) return;
  if (TFrameControl* p = GetParentControl()) {
    const Ref<TFrameControl> parent = Hold(p);  // the focus events may free it
    if (p->focused_child_ != this) p->SetFocusedChild(this);
    p->Focus();
  } else {
    SetFocusState(true);
  }
}

bool TFrameControl::IsEnabled() {
  if (enabled_state_ == 1) return true;
  if (enabled_state_ == 2) return false;
  TFrameControl* p = GetParentControl();
  return p ? p->IsEnabled() : true;
}

void TFrameControl::SetEnabled(bool value) { SetEnabledState(value ? 0 : 2); }

void TFrameControl::SetEnabledState(uint8_t state) {
  if (state > 2 || state == enabled_state_) return;
  bool before = IsEnabled();
  enabled_state_ = state;
  if (IsEnabled() != before) EnabledChanged();
}

void TFrameControl::WalkTree() {
  for (TFrameControl* c = GetFirstChild(); c; c = c->GetNextSibling()) {
    c->Visit();
    c->WalkTree();
  }
}

TRefreshNotifier* SharedTimeRefreshNotifier() {
  // The shared notifier has no root: it names itself as the sender, since a
  // list without an owner cannot dispatch.
  if (!g_shared_notifier) {
    g_shared_notifier = new TTimeRefreshNotifier(nullptr, nullptr);
    g_shared_notifier->SetOwner(g_shared_notifier);
  }
  return g_shared_notifier;
}

TRefreshNotifier* TFrameControl::TimeRefreshNotifier() {
  if (TRootControl* root = GetRootControl()) return root->RefreshNotifier();
  return SharedTimeRefreshNotifier();
}

void TFrameControl::StartTimeRefresh() {
  TRefreshNotifier* n = TimeRefreshNotifier();
  if (!n) return;
  n->AddHandler(kFrameEventTimeRefresh, this);
  n->CheckTimer();
}

void TFrameControl::StopTimeRefresh() {
  TRefreshNotifier* n = TimeRefreshNotifier();
  if (!n) return;
  n->RemoveHandler(kFrameEventTimeRefresh, this);
  n->CheckTimer();
}

// --- TRootControl ---

TRootControl::TRootControl(TDrawFrame* frame) : TFrameControl(frame) {
  if (GetParentControl() != nullptr) {
    // The frame is let go again, so it names no half-built control.
    SetFrame(nullptr);
    KAV_ASSERT_FAIL("Assertion failure");
  }
}

// The notifier is made on first use rather than in the constructor, where
// the binding's own kind of notifier could not be chosen yet.
TRefreshNotifier* TRootControl::RefreshNotifier() {
  if (!refresh_notifier_ && RefCount() > 0) refresh_notifier_ = CreateRefreshNotifier();
  return refresh_notifier_;
}

TRefreshNotifier* TRootControl::CreateRefreshNotifier() { return new TTimeRefreshNotifier(this, this); }

void TRootControl::Dispose() {
  if (TRefreshNotifier* n = std::exchange(refresh_notifier_, nullptr)) n->Free();
  TFrameControl::Dispose();
}

TFrameControl* TRootControl::ControlAt(int32_t x, int32_t y, bool& hit, TPoint& local) {
  hit = false;
  if (width_ < 1 || height_ < 1) return nullptr;
  TPoint origin;
  ClientToScreen(0, 0, origin);
  TPoint p{x - origin.X, y - origin.Y};
  if (p.X < 0 || p.X >= width_ || p.Y < 0 || p.Y >= height_) return nullptr;
  struct TSearch {
    static TFrameControl* At(TFrameControl* c, TPoint p, bool& hit, TPoint& local) {
      TDrawFrame* f = c->Frame();
      if (f && f->Clip()) {
        const TRect& r = f->BoundsRect();
        if (p.X < r.Left || p.X >= r.Right || p.Y < r.Top || p.Y >= r.Bottom) return nullptr;
      }
      for (TFrameControl* child = c->GetLastChild(); child; child = child->GetPreviousSibling()) {
        TPoint cp = child->GetPosition();
        if (TFrameControl* found = At(child, TPoint{p.X - cp.X, p.Y - cp.Y}, hit, local)) return found;
      }
      hit = c->ContainsPoint(p.X, p.Y);
      if (!hit) return nullptr;
      local = p;
      return c;
    }
  };
  return TSearch::At(this, p, hit, local);
}

void TRootControl::DispatchKey(TKeyData* key) {
  // The chain is held for the key's time: a control freed by a handler
  // (a dialog closing itself) is released once the key is done.
  std::vector<Ref<TFrameControl>> chain{Ref<TFrameControl>(this)};
  while (TFrameControl* c = chain.back()->FocusedChild()) chain.emplace_back(c);
  chain.back()->KeyPreview(key);
  for (auto it = chain.rbegin(); it != chain.rend() && !key->Handled; ++it) (*it)->KeyEvent(key);
  while (!chain.empty()) chain.pop_back();  // the deepest first
}

void TRootControl::KeyEvent(TKeyData* key) {
  TFrameControl::KeyEvent(key);
  if (key->Handled) return;
  bool tab = key->Kind == 2 && key->Key == 9 && (key->Shift & 253) == 0;
  bool arrow = key->Kind == 1 && key->Key >= 37 && key->Key <= 40;
  if (!tab && !arrow) return;
  navigation_kind_ = tab ? 0 : 1;
  bool forward = tab ? key->Shift != 2 : key->Key >= 39;
  key->Handled = true;
  Navigate(forward);
}

bool TRootControl::Eligible(TFrameControl* c) {
  return c->GetTabStop() && ((c->GetNavigationKinds() >> navigation_kind_) & 1) != 0 && c->IsEnabled() &&
         c->Frame() && c->Frame()->Visible();
}

void TRootControl::Navigate(bool forward) {
  current_ = this;
  while (TFrameControl* c = current_->FocusedChild()) current_ = c;
  // Parents first, children in frame order; hidden subtrees are left out.
  std::vector<TFrameControl*> order;
  struct TWalk {
    static void Add(TFrameControl* c, std::vector<TFrameControl*>& order) {
      if (!c->Frame() || !c->Frame()->Visible()) return;
      order.push_back(c);
      for (TFrameControl* child = c->GetFirstChild(); child; child = child->GetNextSibling()) Add(child, order);
    }
  };
  TWalk::Add(this, order);
  auto at = std::find(order.begin(), order.end(), current_);
  candidate_ = nullptr;
  if (forward) {
    if (at != order.end())
      for (auto it = at + 1; it != order.end() && !candidate_; ++it)
        if (Eligible(*it)) candidate_ = *it;
    for (auto it = order.begin(); it != order.end() && !candidate_; ++it)
      if (Eligible(*it)) candidate_ = *it;
  } else {
    if (at != order.end())
      for (auto it = std::make_reverse_iterator(at); it != order.rend() && !candidate_; ++it)
        if (Eligible(*it)) candidate_ = *it;
    for (auto it = order.rbegin(); it != order.rend() && !candidate_; ++it)
      if (Eligible(*it)) candidate_ = *it;
  }
  // The control found (and this root) stay whole while the focus moves: the
  // focus handler of the control losing it may free the one gaining it.
  const Ref<TFrameControl> self = Hold(this), found = Hold(std::exchange(candidate_, nullptr));
  current_ = nullptr;
  if (!found) return;
  found->SetFocusedChild(nullptr);
  found->Focus();
}

}  // namespace kav
