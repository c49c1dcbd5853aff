#include "VoRav/Composite/winFrames.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winHooks.h"
#include "VoRav/Application2/winInput.h"
#include "VoRav/Win32/Text/winTextElement.h"
#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinApi.h"

namespace kav {

namespace {

constexpr TRect kOffScreenRect{-30000, -30000, -29999, -29999};
constexpr uint32_t kSysColorChange = 21;   // WM_SYSCOLORCHANGE
constexpr uint32_t kThemeChanged = 794;    // WM_THEMECHANGED

uint32_t g_next_frame_id = 0;
std::vector<TRootFrame*>& Registry() {
  static std::vector<TRootFrame*> roots;
  return roots;
}

TRect Intersect(const TRect& a, const TRect& b) {
  return TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
}

bool Inside(const TRect& r, TPoint p) { return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom; }

void UnionInvalid(TRect& into, const TRect& r) {
  if (into.IsEmpty()) into = r.IsEmpty() ? kEmptyInvalidRect : r;
  else if (!r.IsEmpty()) UnionRectInPlace(into, r);
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void LogTimed(const char* what, std::chrono::steady_clock::time_point start, int32_t count = -1) {
  char text[96];
  if (count >= 0) std::snprintf(text, sizeof text, ">>> rec fix (%d) %.3f", count, MsSince(start));
  else std::snprintf(text, sizeof text, "%s%.3f", what, MsSince(start));
  std::u16string line;
  for (const char* p = text; *p; ++p) line.push_back(char16_t(*p));
  LogLine(line);
}

void AppMessage(win::HWND, TMessageRecord&, bool&) { ThemeChangedAllRoots(); }

}  // namespace

// --- TWinFrame ---

TWinFrame::TWinFrame(TWinSurface* surface) : id_(++g_next_frame_id), surface_(surface) {}

TDrawFrame* TWinFrame::CreateFrame() { return new TWinFrame(surface_); }

TPoint TWinFrame::SurfacePos() const {
  TPoint p;
  for (const TDrawFrame* f = this; f->Parent(); f = f->Parent()) {
    p.X += f->Position().X;
    p.Y += f->Position().Y;
  }
  return p;
}

TRect TWinFrame::SurfaceArea() const {
  if (!handler_ || !visible_) return TRect{};
  TRect area = handler_->PaintArea();
  if (clip_) area = Intersect(area, rect_);
  if (area.IsEmpty()) return TRect{};
  TPoint p = SurfacePos();
  OffsetRect(area, p.X, p.Y);
  return area;
}

void TWinFrame::MarkSubtree() {
  if (!surface_) return;
  // Walked with a list rather than by recursion: trees may be very deep.
  std::vector<TWinFrame*> todo{this};
  while (!todo.empty()) {
    TWinFrame* f = todo.back();
    todo.pop_back();
    surface_->MarkRect(f->painted_area_);
    surface_->MarkRect(f->SurfaceArea());
    for (TDrawFrame* c = f->first_child_; c; c = c->NextSibling())
      if (auto* w = dynamic_cast<TWinFrame*>(c)) todo.push_back(w);
  }
  surface_->SetNeedsUpdate(true);
}

void TWinFrame::RectChanged() {
  TRect visible = !visible_ ? kOffScreenRect : clip_ ? (rect_.IsEmpty() ? kOffScreenRect : rect_) : TRect{};
  if (visible == visible_rect_ && parent_) return;
  visible_rect_ = visible;
  MarkSubtree();
}

void TWinFrame::MoveTo(TPoint point) {
  if (point == pos_) return;
  TDrawFrame::MoveTo(point);
  if (surface_) surface_->SetNeedsUpdate(true);
}

void TWinFrame::Invalidate() {
  if (!handler_) return;
  TRect r;
  handler_->TakeInvalidRect(r);
  UnionInvalid(invalid_rect_, r);
  if (surface_) surface_->SetNeedsUpdate(true);
}

Ref<TTextElement> TWinFrame::CreateTextElement(const std::u16string& text, const TFontDesc& font) {
  Ref<TWinTextElement> e = MakeRef<TWinTextElement>(font, tdNone);
  e->InsertText(0, text, static_cast<int32_t>(text.size()), 0);
  return e;
}

void TWinFrame::MeasureText(const std::u16string& text, const TFontDesc& font, TTextSize& out) {
  out = TTextSize{};
  if (!surface_) return;
  TWinContextWrapper* w = surface_->Wrapper();
  const bool borrow = w->SelectCount() == 0;
  if (borrow) w->Select(ScreenTextContext());
  struct TRelease {
    TWinContextWrapper* w;
    bool borrow;
    ~TRelease() {
      if (borrow) w->Release();
    }
  } release{w, borrow};
  w->SetFont(font);
  TTextExtent e;
  w->TextExtent(text, e);
  out = TTextSize{e.Width, e.Height, e.Ascent};
}

bool TWinFrame::DispatchMouse(TMouseDataEx* data, bool leaving) {
  if (!first_child_ && !handler_) return false;
  const TPoint saved = data->Local;
  struct TRestore {
    TMouseDataEx* d;
    TPoint p;
    ~TRestore() { d->Local = p; }
  } restore{data, saved};
  if (parent_) {
    data->Local.X -= pos_.X;
    data->Local.Y -= pos_.Y;
  }
  const bool captured = data->Captured && data->CaptureFrame != 0;
  const bool entered =
      captured || (!leaving && (visible_rect_.IsEmpty() || Inside(visible_rect_, data->Local)));
  // The handler and the child being walked are held for the event's time:
  // a control freed by its own click (a dialog closing itself) and its
  // frames are released when the dispatch is back out of them, so the walk
  // never reads a freed frame.
  Ref<TFrameHandler> hold_handler(handler_);
  bool taken = false;
  if (entered) {
    for (Ref<TDrawFrame> c(last_child_); c && !taken; c = Ref<TDrawFrame>(c->PrevSibling()))
      if (auto* w = dynamic_cast<TWinFrame*>(c.get())) taken = w->DispatchMouse(data, leaving);
    if (!taken && handler_) {
      if (!captured) {
        if (handler_->HitTest(data)) {
          data->HitResult = 1;
          data->HoverFound = id_;
          if (data->Kind == kMouseDown && data->Button != 0) data->CaptureFrame = id_;
          handler_->MouseEvent(data);
          taken = true;
        }
      } else if (data->CaptureFrame == id_) {
        const bool hit = handler_->HitTest(data);
        data->HitResult = hit ? 1 : 0;
        if (hit && !leaving) data->HoverFound = id_;
        if (leaving) handler_->MouseLeave(); else handler_->MouseEvent(data);
        taken = true;
      }
    }
  }
  // The frame the mouse was over hears of the exit once per event, whether
  // here or after the walk.
  if (!taken && data->HoverBefore == id_ && data->HoverFound != id_ && !data->HoverLeft && handler_) {
    data->HoverLeft = true;
    handler_->MouseLeave();
  }
  return taken;
}

TWinFrame* TWinFrame::FindFrame(uint32_t id) {
  if (id == id_) return this;
  for (TDrawFrame* c = first_child_; c; c = c->NextSibling())
    if (auto* w = dynamic_cast<TWinFrame*>(c))
      if (TWinFrame* f = w->FindFrame(id)) return f;
  return nullptr;
}

void TWinFrame::Dispose() {
  // What lay under the frame is painted again.
  if (handler_ || !painted_area_.IsEmpty()) MarkSubtree();
  TDrawFrame::Dispose();
}

// --- TRootFrame ---

TRootFrame::TRootFrame() : TWinFrame(nullptr), surface_owner_(MakeRef<TWinSurface>()), mouse_(MakeRef<TMouseDataEx>()) {
  surface_ = surface_owner_.get();
  Registry().push_back(this);
}

void TRootFrame::Dispose() {
  auto& roots = Registry();
  roots.erase(std::remove(roots.begin(), roots.end(), this), roots.end());
  TWinFrame::Dispose();
}

void TRootFrame::GetAbsolutePos(TPoint& point) {
  KAV_ASSERT_MSG(static_cast<bool>(OnGetAbsolutePos), "TRootFrame.OnGetAbsolutePos not Assigned");
  OnGetAbsolutePos(point);
}

void TRootFrame::SetBounds(int32_t x, int32_t y, int32_t width, int32_t height) {
  MoveTo(TPoint{x, y});
  const int32_t old_w = width_, old_h = height_;
  width_ = width;
  height_ = height;
  surface_->Resize(width, height, true);
  // Only the newly exposed strips are painted again.
  surface_->MarkRect(TRect{old_w, 0, width, std::min(old_h, height)});
  surface_->MarkRect(TRect{0, old_h, width, height});
  if (!surface_->BoundingInvalidRect().IsEmpty()) surface_->SetNeedsUpdate(true);
}

bool TRootFrame::RecalcInvalidRegion() {
  if (!surface_->NeedsUpdate()) return false;
  surface_->SetNeedsUpdate(false);
  auto start = std::chrono::steady_clock::now();
  TWinSurface* s = surface_;
  // Mark: moved frames at their old and new place, then every invalid area.
  struct TMark {
    static void Walk(TWinFrame* f, TPoint pos, TWinSurface* s) {
      if (!f->Visible()) return;
      if (f->placed_ && !(pos == f->abs_cache_)) {
        s->MarkRect(f->painted_area_);
        s->MarkRect(f->SurfaceArea());
      }
      if (!f->invalid_rect_.IsEmpty()) {
        TRect r = f->invalid_rect_;
        OffsetRect(r, pos.X, pos.Y);
        s->MarkRect(r);
      }
      for (TDrawFrame* c = f->FirstChild(); c; c = c->NextSibling())
        if (auto* w = dynamic_cast<TWinFrame*>(c)) Walk(w, TPoint{pos.X + c->Position().X, pos.Y + c->Position().Y}, s);
    }
  };
  TMark::Walk(this, TPoint{}, s);
  LogTimed(">>> rec update ", start);

  // Paint, parents before children. A frame is painted wherever marked cells
  // meet what it covers (not only where it was invalidated itself), so what
  // lies under a moved, hidden or invalidated child is painted again too.
  struct TPaint {
    static void Walk(TWinFrame* f, TPoint pos, TWinSurface* s) {
      if (!f->Visible()) return;
      const TRect saved = s->ClipRect();
      struct TRestoreClip {
        TWinSurface* s;
        TRect r;
        ~TRestoreClip() { s->SetClipRect(r); }
      } restore{s, saved};
      if (f->Clip()) {
        TRect r = f->BoundsRect();
        OffsetRect(r, pos.X, pos.Y);
        s->SetClipRect(Intersect(saved, r));
      }
      if (s->ClipRect().IsEmpty()) return;
      f->invalid_rect_ = kEmptyInvalidRect;
      TRect area = f->SurfaceArea();
      f->abs_cache_ = pos;
      f->placed_ = true;
      f->painted_area_ = Intersect(area, s->ClipRect());
      if (f->painted_area_.IsEmpty()) f->painted_area_ = TRect{};
      TRect region = Intersect(f->painted_area_, s->BoundingInvalidRect());
      if (f->Handler() && !region.IsEmpty()) {
        s->Origin = pos;
        s->SetPaintRegion(region);
        if (f->OnPaint) f->OnPaint(f, s);
        else f->Handler()->Paint(s);
        s->ClearPaintRegion();
      }
      for (TDrawFrame* c = f->FirstChild(); c; c = c->NextSibling())
        if (auto* w = dynamic_cast<TWinFrame*>(c)) Walk(w, TPoint{pos.X + c->Position().X, pos.Y + c->Position().Y}, s);
    }
  };
  s->SetClipRect(TRect{0, 0, s->Width(), s->Height()});
  s->ClearPaintRegion();
  start = std::chrono::steady_clock::now();
  TPaint::Walk(this, TPoint{}, s);
  s->Origin = TPoint{};
  LogTimed(">>> rec paint ", start);

  start = std::chrono::steady_clock::now();
  const TRectList& rects = s->CollectRects();
  LogTimed(">>> rec fix (", start, rects.Count());
  return rects.Count() > 0;
}

bool TRootFrame::HandleMouseMessage(uint32_t message, win::WPARAM wparam, win::HWND window, TPoint client_origin,
                                    win::LPARAM lparam) {
  if (reentry_ >= 1) return false;
  Ref<TRootFrame> self(this);  // a handler may free the whole tree, this frame with it
  ++reentry_;
  struct TLeave {
    int32_t& n;
    ~TLeave() { --n; }
  } leave{reentry_};
  window_ = window;
  const bool wheel = message == win::WM_MOUSEWHEEL || message == WheelRollMessage();
  if (!wheel && (message < 512 || message > 526)) return false;
  offset_ = client_origin;
  TMessageRecord msg{message, wparam, lparam, 0};
  if (wheel) DecodeMouseWheelMessage(0, msg, TWheelCallback::Bind<&TRootFrame::WheelCallback>(this));
  else DecodeMouseMessage(msg, TMouseCallback::Bind<&TRootFrame::MouseCallback>(this));
  return true;
}

// The wheel arrives in screen coordinates; the delta is in whole steps.
void TRootFrame::WheelCallback(uint8_t shift, int32_t x, int32_t y, int32_t steps) {
  MouseEvent(shift, x - offset_.X, y - offset_.Y, kFrameMouseWheel, steps);
}

void TRootFrame::MouseCallback(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind) {
  MouseEvent(shift, x, y, kind, button);
}

void TRootFrame::MouseEvent(uint8_t shift, int32_t x, int32_t y, uint8_t kind, int32_t button_or_delta) {
  Ref<TRootFrame> self(this);
  Ref<TMouseDataEx> hold = mouse_;
  TMouseDataEx* m = mouse_.get();
  m->Kind = kind;
  m->Shift = shift;
  m->Button = kind == kFrameMouseWheel ? 0 : button_or_delta;
  m->WheelDelta = kind == kFrameMouseWheel ? button_or_delta : 0;
  m->Point = TPoint{x, y};
  m->ScreenPoint = TPoint{x + offset_.X, y + offset_.Y};
  m->CursorId = 0;
  m->HitResult = 0;
  // The window's capture goes before (not after) the captured button's release is routed: a click may open a modal dialog, which must get its first click.
  // (The root's own captured state still follows the rules after the event.)
  if (kind == kMouseUp && m->Captured && m->Button == m->CapturedButton && window_ && win::GetCapture() == window_)
    win::ReleaseCapture();
  const bool had_tree = handler_ != nullptr;
  Route(false);
  if (had_tree && !handler_) {
    // A handler freed the tree this frame was the root of (a form closed by
    // its own button): nothing is left to capture the mouse for, and the
    // form's callbacks are gone.
    m->Captured = false;
    m->CaptureFrame = 0;
    window_ = 0;
    return;
  }
  SetCursor(m->CursorId);

  const bool was = m->Captured;
  if (release_request_) {
    release_request_ = false;
    SetCaptured(false, 0);
  } else if (kind == kMouseDown && m->Button != 0 && !m->Captured) {
    if (m->CaptureFrame == 0) m->CaptureFrame = id_;
    SetCaptured(true, m->Button);
  } else if (kind == kMouseUp && m->Captured && m->Button == m->CapturedButton) {
    SetCaptured(false, 0);
  } else if (m->Captured && window_ && win::GetCapture() != window_) {
    SetCaptured(false, 0);
  }
  if (!m->Captured) m->CaptureFrame = 0;
  if (was != m->Captured && OnCaptureChanged) OnCaptureChanged(m->Captured);
}

void TRootFrame::SetCaptured(bool captured, int32_t button) {
  TMouseDataEx* m = mouse_.get();
  m->Captured = captured;
  m->CapturedButton = button;
  if (captured) {
    if (window_) win::SetCapture(window_);
  } else {
    m->CaptureFrame = 0;
    if (window_ && win::GetCapture() == window_) win::ReleaseCapture();
  }
}

void TRootFrame::Route(bool leaving) {
  TMouseDataEx* m = mouse_.get();
  m->HoverBefore = m->HoverFound;
  m->HoverFound = 0;
  m->HoverLeft = false;
  m->Local = m->Point;
  DispatchMouse(m, leaving);
  if (m->HoverBefore != 0 && m->HoverBefore != m->HoverFound && !m->HoverLeft) {
    m->HoverLeft = true;
    if (TWinFrame* f = FindFrame(m->HoverBefore))
      if (f->Handler()) f->Handler()->MouseLeave();
  }
}

void TRootFrame::MouseLeaveWindow() {
  Ref<TRootFrame> self(this);
  Ref<TMouseDataEx> hold = mouse_;
  Route(true);
}

// Cursor id 0 (no control asked for one) leaves the window's own cursor.
void TRootFrame::SetCursor(uint32_t cursor_id) {
  if (cursor_id != 0) win::SetCursor(win::LoadCursor(0, cursor_id));
}

void TRootFrame::ThemeChangedAll() {
  struct TWalk {
    static void Visit(TDrawFrame* f) {
      if (f->Handler()) f->Handler()->ThemeChanged();
      for (TDrawFrame* c = f->FirstChild(); c; c = c->NextSibling()) Visit(c);
    }
  };
  TWalk::Visit(this);
}

std::vector<TRootFrame*> RootFrames() { return Registry(); }

void ThemeChangedAllRoots() {
  for (TRootFrame* r : RootFrames()) r->ThemeChangedAll();
}

namespace {
const uint32_t kRegistryIds[] = {kSysColorChange, kThemeChanged};
const void* g_registry_key = nullptr;  // the application the handler is filed under
}  // namespace

void SubscribeRootRegistry() {
  const void* app = WinApplication();
  if (g_registry_key || !app) return;
  AddAppMessageHandler(app, kRegistryIds, TMessageHookHandler::Bind<&AppMessage>());
  g_registry_key = app;
}

void UnsubscribeRootRegistry() {
  if (!g_registry_key) return;
  RemoveAppMessageHandler(std::exchange(g_registry_key, nullptr), kRegistryIds,
                          TMessageHookHandler::Bind<&AppMessage>());
}

}  // namespace kav
