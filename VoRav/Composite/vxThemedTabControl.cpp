#include "VoRav/Composite/vxThemedTabControl.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/vxRectUtils.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinBackend.h"

namespace kav {

namespace {

// The clock of the refresh timers.
uint32_t Now() { return win::Backend().Now(); }

TRect IntersectRects(const TRect& a, const TRect& b) {
  return TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
}

// The extra room kept beside a tab scrolled into view when more tabs follow.
constexpr int32_t kScrollSlack = 12;

TFrameTabControl* EndOfChain(TDrawFrame*, TControlStyles*) { return nullptr; }

TAllocFrameTabControlProc g_previous_allocator = nullptr;
bool g_allocator_installed = false;

TFrameTabControl* ThemedTabControlAllocator(TDrawFrame* frame, TControlStyles* styles) {
  TControlStyles* s = styles ? styles : DefaultControlStyles();
  if (TFrameTabControlTheme* painter = s ? s->FindTheme<TFrameTabControlTheme>() : nullptr)
    return new TThemedTabControl(frame, painter, s);
  return g_previous_allocator ? g_previous_allocator(frame, styles) : nullptr;
}

// The union of the children's rectangles (position and size).
TRect ChildrenBounds(const TFrameControl* control) {
  TRect u{};
  bool any = false;
  for (TFrameControl* c = control->GetFirstChild(); c; c = c->GetNextSibling()) {
    const TPoint p = c->GetPosition();
    const TRect area = c->PaintArea();
    const TRect r{p.X, p.Y, p.X + area.Width(), p.Y + area.Height()};
    if (!any) u = r;
    else UnionRectInPlace(u, r);
    any = true;
  }
  return u;
}

}  // namespace

TAllocFrameTabControlProc AllocFrameTabControl = &EndOfChain;
int32_t TabControlMinWidth = 50;
int32_t TabControlMinHeight = 50;

void InitThemedTabControl() {
  if (g_allocator_installed) return;
  g_previous_allocator = AllocFrameTabControl;
  AllocFrameTabControl = &ThemedTabControlAllocator;
  g_allocator_installed = true;
}

void FinalizeThemedTabControl() {
  if (!g_allocator_installed) return;
  AllocFrameTabControl = g_previous_allocator ? g_previous_allocator : &EndOfChain;
  g_previous_allocator = nullptr;
  g_allocator_installed = false;
}

// --- TFrameTabControlTheme ---

void TFrameTabControlTheme::GetFont(TFontDesc& font) {
  font = Styles() ? Styles()->ControlFont : TFontDesc{};
}

bool TFrameTabControlTheme::TabTouchesRowEdge(const TRect& tab, const TRect& row, bool) {
  return tab.Left == row.Left || tab.Right == row.Right;
}

// --- TPushControl ---

TPushControl::TPushControl(TDrawFrame* frame) : TFrameControl(frame) {}

TRect TPushControl::PictureBounds() const {
  if (!picture_) return TRect{0, 0, width_, height_};
  return TRect{offset_.X, offset_.Y, offset_.X + picture_->Width(), offset_.Y + picture_->Height()};
}

bool TPushControl::GetPictureRect(TRect& rect) {
  EnsurePicture();
  rect = picture_ ? IntersectRects(PictureBounds(), TRect{0, 0, width_, height_}) : TRect{};
  return !rect.IsEmpty();
}

void TPushControl::EnsurePicture() {
  if (picture_) return;
  offset_ = TPoint{};
  picture_ = GetPicture(offset_);
  if (!picture_) offset_ = TPoint{};
}

void TPushControl::DropPicture(bool repaint) {
  if (repaint) InvalidateRect(PictureBounds());
  picture_ = nullptr;
  offset_ = TPoint{};
}

void TPushControl::InvalidateAll() { InvalidateRect(PictureBounds()); }

void TPushControl::SetShown(bool value) {
  if (value == shown_) return;
  DropPicture(true);
  shown_ = value;
  if (shown_) {
    EnsurePicture();
    InvalidateAll();
  }
}

void TPushControl::SetHot(bool value) {
  if (value == hot_) return;
  hot_ = value;
  DropPicture(true);
}

void TPushControl::SetPressed(bool value) {
  pressed_ = value;
  DropPicture(true);
}

void TPushControl::Paint(TDrawSurface* surface) {
  if (!shown_) return;
  EnsurePicture();
  if (picture_) surface->DrawBitmap(picture_.get(), PictureBounds(), offset_.X, offset_.Y);
}

bool TPushControl::ContainsPoint(int32_t x, int32_t y) { return shown_ && TFrameControl::ContainsPoint(x, y); }

void TPushControl::MouseEvent(TMouseData* data) {
  // A disabled push control is inert: it neither lights up nor clicks.
  if (IsEnabled()) {
    if (data->Kind == kMouseMove) {
      SetHot(data->HitResult != 0);
    } else if (data->Kind == kMouseDown && data->Button == kMouseLeft) {
      // The press happens under the pointer, so the control is hot even
      // when no move came before it.
      SetHot(data->HitResult != 0);
      SetPressed(true);
    } else if (data->Kind == kMouseUp && data->Button == kMouseLeft && pressed_) {
      SetPressed(false);
      if (hot_) Click();
    }
  }
  TFrameControl::MouseEvent(data);
}

void TPushControl::MouseLeave() {
  SetHot(false);
  TFrameControl::MouseLeave();
}

// --- TThemedTabArrow ---

TThemedTabArrow::TThemedTabArrow(TDrawFrame* frame, TThemedTabControl* control, TFrameTabControlTheme* painter,
                                 uint8_t index)
    : TPushControl(frame), painter_(painter), control_(control), index_(index) {
  shown_ = false;
}

Ref<TSysBitmap> TThemedTabArrow::GetPicture(TPoint& offset) {
  if (width_ < 1 || height_ < 1) return nullptr;
  const uint8_t state = uint8_t((pressed_ ? kTabStatePressed : 0) | (hot_ ? kTabStateHot : 0) |
                                (IsEnabled() ? 0 : kTabStateDisabled));
  const std::u16string key = painter_->GetStateKey(state, control_->GetOrientation());
  return painter_->GetArrowPicture(key, index_, TSize{width_, height_}, offset);
}

void TThemedTabArrow::SetPressed(bool value) {
  TPushControl::SetPressed(value);
  if (value) {
    last_step_ = Now();
    StartTimeRefresh();
  } else {
    StopTimeRefresh();
    repeat_ = false;
  }
}

void TThemedTabArrow::TimeRefresh() {
  TPushControl::TimeRefresh();
  if (!pressed_) return;
  const uint32_t now = Now();
  if (now - last_step_ < painter_->GetRepeatInterval()) return;
  last_step_ = now;
  repeat_ = true;
  Click();
}

void TThemedTabArrow::Click() {
  control_->ArrowClicked(index_);
  TPushControl::Click();
}

// --- TThemedTabButton ---

TThemedTabButton::TThemedTabButton(TDrawFrame* frame, TThemedPage* page, TControlStyles* styles)
    : TPushControl(frame), page_(page) {
  painter_ = styles ? styles->FindTheme<TFrameTabControlTheme>() : nullptr;
  // A control made with a painter of another style set keeps that painter.
  if (!painter_) painter_ = page->TabControl()->Painter();
  caption_ = AllocFrameCaption(CreateChildFrame());
  caption_->SetFlag(1);  // centred in a tab wider than its text
  PlaceCaption();
  if (frame_) frame_->SetClip(true);
}

int32_t TThemedTabButton::NaturalWidth() { return painter_->GetTabWidth(caption_ ? caption_->GetWidth() : 0); }

int32_t TThemedTabButton::PreferredWidth() {
  TThemedTabControl* c = page_->TabControl();
  if (!c->NaturalWidth()) return layout_width_;
  return c->GetFixedTabWidth() >= 1 ? c->GetFixedTabWidth() : NaturalWidth();
}

void TThemedTabButton::SetKind(uint8_t kind) {
  if (kind == kind_) return;
  kind_ = kind;
  DropPicture(true);
}

bool TThemedTabButton::SetCutBits(uint8_t cut) {
  if (cut == cut_) return false;
  cut_ = cut;
  return true;
}

void TThemedTabButton::PlaceCaption() {
  if (!caption_) return;
  const TRect content = painter_->GetTabContentRect(TSize{width_, height_});
  const TPoint off = painter_->GetCaptionOffset(page_ && page_->Selected() ? kTabStateSelected : 0);
  caption_->SetPosition(content.Left + off.X, content.Top + off.Y);
  const int32_t w = content.Width();
  if (w > 0) caption_->SetSize(w, caption_->GetHeight());
  if (TDrawFrame* f = caption_->Frame()) {
    f->SetBoundsRect(caption_->PaintArea());
    f->SetClip(w >= 0);
  }
}

void TThemedTabButton::MoveTab(TPoint position) {
  if (position == GetPosition()) return;
  TThemedTabControl* c = page_->TabControl();
  auto repaint = [&] {
    TRect r = PictureBounds();
    OffsetRect(r, GetPosition().X, GetPosition().Y);
    c->InvalidateRect(r);
  };
  repaint();
  SetPositionPoint(position);
  repaint();
}

Ref<TSysBitmap> TThemedTabButton::GetPicture(TPoint& offset) {
  if (width_ < 1 || height_ < 1) return nullptr;
  const uint8_t state = uint8_t((page_->Selected() ? kTabStateSelected : 0) | (hot_ ? kTabStateHot : 0) |
                                (page_->TabControl()->IsEnabled() ? 0 : kTabStateDisabled));
  const std::u16string key = painter_->GetStateKey(state, page_->TabControl()->GetOrientation());
  return painter_->GetTabPicture(key, kind_, cut_, TSize{width_, height_}, offset);
}

void TThemedTabButton::SetPressed(bool value) {
  TPushControl::SetPressed(value);
  if (value) page_->TabControl()->TabPressed(page_);
}

bool TThemedTabButton::ContainsPoint(int32_t x, int32_t y) {
  return !page_->OutOfView() && TPushControl::ContainsPoint(x, y);
}

void TThemedTabButton::ConstrainSize(int32_t& width, int32_t& height) {
  height = std::max(page_->TabControl()->TabHeight(), 0);
  width = std::max(PreferredWidth(), 0);
}

void TThemedTabButton::SizeChanged() {
  TPushControl::SizeChanged();
  PlaceCaption();
  TThemedTabControl* c = page_->TabControl();
  if (!c->LayoutBusy()) {
    DropPicture(true);
    c->UpdateLayout();
  }
}

// --- TThemedPage ---

TThemedPage::TThemedPage(TDrawFrame* frame, TDrawFrame* tab_frame, TThemedTabControl* control,
                         TControlStyles* styles)
    : TFramePage(frame), control_(control) {
  tab_ = new TThemedTabButton(tab_frame, this, styles);
  if (TFrameCaption* c = tab_->Caption()) c->Events()->AddHandler(kFrameEventChanged, this);
  shown_as_tab_ = true;
}

TFrameCaption* TThemedPage::TabCaption() const { return tab_ ? tab_->Caption() : nullptr; }

void TThemedPage::SetCaption(const std::u16string& text) {
  if (TFrameCaption* c = TabCaption()) c->SetCaption(text);
}

void TThemedPage::SetShownAsTab(bool value) {
  if (value == shown_as_tab_) return;
  shown_as_tab_ = value;
  if (tab_) tab_->DropPicture(true);
  control_->UpdateLayout();
}

void TThemedPage::SetSelected(bool value) {
  if (value == selected_) return;
  selected_ = value;
  if (tab_) {
    tab_->PlaceCaption();
    tab_->DropPicture(true);
  }
  SetEnabled(value);
  UpdateFrameRects();
}

void TThemedPage::UpdateFrameRects() {
  if (frame_) {
    frame_->SetBoundsRect(selected_ && width_ > 0 && height_ > 0 ? TRect{0, 0, width_, height_} : kFarAwayRect);
    frame_->SetClip(true);
  }
  if (!tab_ || !tab_->Frame()) return;
  TDrawFrame* tf = tab_->Frame();
  TRect r{0, 0, tab_->PaintArea().Width(), tab_->PaintArea().Height()};
  if (!shown_as_tab_ || out_of_view_) {
    r = kFarAwayRect;
  } else if (tab_->CutBits() != 0) {
    // Only the part of the picture inside the tab row.
    TRect pic;
    tab_->EnsurePicture();
    if (tab_->Picture()) {
      const TPoint o = tab_->PictureOffset();
      pic = TRect{o.X, o.Y, o.X + tab_->Picture()->Width(), o.Y + tab_->Picture()->Height()};
    } else {
      pic = r;
    }
    TRect row = control_->TabRowRect();
    const TPoint p = tab_->GetPosition();
    OffsetRect(row, -p.X, -p.Y);
    r = IntersectRects(pic, TRect{row.Left, pic.Top, row.Right, pic.Bottom});
    if (r.IsEmpty()) r = kFarAwayRect;
  }
  tf->SetBoundsRect(r);
  tf->SetClip(true);
}

void TThemedPage::UpdateLayoutData() { content_bounds_ = ChildrenBounds(this); }

void TThemedPage::HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) {
  if (tab_ && sender == tab_->Caption() && tag == kFrameEventChanged) {
    control_->UpdateLayout();
    return;
  }
  if (sender != this && (tag == kFrameEventSizeChanged || tag == kFrameEventPositionChanged)) {
    UpdateLayoutData();
    control_->UpdateAutoSize();
    return;
  }
  TFramePage::HandleEvent(sender, tag, param);
}

void TThemedPage::ChildAdded(TFrameControl* child) {
  TFramePage::ChildAdded(child);
  child->Events()->AddHandlers({kFrameEventSizeChanged, kFrameEventPositionChanged}, this);
}

void TThemedPage::ConstrainSize(int32_t& width, int32_t& height) {
  const TRect r = control_->PageRect();
  width = std::max(r.Width(), 0);
  height = std::max(r.Height(), 0);
}

void TThemedPage::Dispose() {
  // The tab button is a child of the tab control: it goes with its page,
  // unless the whole control is being destroyed and frees it itself.
  if (TThemedTabButton* t = std::exchange(tab_, nullptr))
    if (!control_->destroying_) t->Free();
  TFramePage::Dispose();
}

// --- TCommonThemedPage ---

TCommonThemedPage::TCommonThemedPage(TDrawFrame* frame, TThemedTabControl* control)
    : TFramePage(frame), control_(control) {
  if (frame_) {
    frame_->SetBoundsRect(kFarAwayRect);
    frame_->SetClip(true);
  }
}

void TCommonThemedPage::UpdateLayoutData() { content_bounds_ = ChildrenBounds(this); }

void TCommonThemedPage::HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) {
  if (sender != this && (tag == kFrameEventSizeChanged || tag == kFrameEventPositionChanged)) {
    UpdateLayoutData();
    control_->UpdateAutoSize();
    return;
  }
  TFramePage::HandleEvent(sender, tag, param);
}

void TCommonThemedPage::ChildAdded(TFrameControl* child) {
  TFramePage::ChildAdded(child);
  child->Events()->AddHandlers({kFrameEventSizeChanged, kFrameEventPositionChanged}, this);
}

void TCommonThemedPage::ConstrainSize(int32_t& width, int32_t& height) {
  const TRect r = control_->PageRect();
  width = std::max(r.Width(), 0);
  height = std::max(r.Height(), 0);
}

void TCommonThemedPage::SizeChanged() {
  TFramePage::SizeChanged();
  if (frame_) {
    frame_->SetBoundsRect(width_ > 0 && height_ > 0 ? TRect{0, 0, width_, height_} : kFarAwayRect);
    frame_->SetClip(true);
  }
}

// --- TThemedTabControl ---

TThemedTabControl::TThemedTabControl(TDrawFrame* frame, TFrameTabControlTheme* painter, TControlStyles* styles)
    : TFrameTabControl(frame), painter_(painter) {
  KAV_ASSERT_MSG(painter != nullptr, "VoRav/Composite/vxThemedTabControl");
  styles_ = Ref<TControlStyles>(styles ? styles : painter->Styles());
  style_ = painter->GetStyle();
  common_ = new TCommonThemedPage(frame_->InsertBefore(nullptr), this);
  for (uint8_t i = 0; i < 2; ++i) arrows_[i] = new TThemedTabArrow(CreateChildFrame(), this, painter, i);
  layout_kind_ = 0;
  UpdateLayout();
}

void TThemedTabControl::Dispose() {
  destroying_ = true;
  TFrameTabControl::Dispose();
  pages_.clear();
  selected_ = nullptr;
  common_ = nullptr;
  arrows_[0] = arrows_[1] = nullptr;
  background_ = nullptr;
}

TControlStyles* TThemedTabControl::GetStyles() { return styles_ ? styles_.get() : TFrameTabControl::GetStyles(); }

void TThemedTabControl::GetInheritedStyle(TFontDesc& style) {
  painter_->GetFont(style);
  // Text lies on the tab and page pictures, which paint their own background.
  FontDescSetTransparent(style, true);
  // A disabled control shows its text greyed.
  if (!IsEnabled() && styles_) style.Color1 = TripleOf(styles_->ShadowColor);
}

void TThemedTabControl::ThemeChanged() {
  TFrameTabControl::ThemeChanged();
  // The cached pictures were made by the old theme, whose tab height the
  // layout used.
  if (destroying_) return;
  DropPictures();
  ApplyGeometry();
}

void TThemedTabControl::EnabledChanged() {
  TFrameTabControl::EnabledChanged();
  if (destroying_) return;
  for (TThemedTabArrow* a : arrows_)
    if (a) a->DropPicture(true);
  for (TThemedPage* p : pages_)
    if (p->tab_) p->tab_->DropPicture(true);
  // Captions take the text colour again.
  WalkTree();
}

TThemedPage* TThemedTabControl::GetPage(int32_t index) const {
  return index >= 0 && index < GetPageCount() ? pages_[size_t(index)] : nullptr;
}

int32_t TThemedTabControl::TabHeight() { return painter_->GetTabHeight(frame_); }

TRect TThemedTabControl::TabRowRect() {
  return painter_->GetTabRowRect(frame_, TSize{width_, height_}, orientation_, ArrowsShown());
}

TRect TThemedTabControl::PageRect() { return painter_->GetPageRect(frame_, TSize{width_, height_}, orientation_); }

void TThemedTabControl::DropPictures() {
  background_ = nullptr;
  background_offset_ = TPoint{};
  for (TThemedTabArrow* a : arrows_)
    if (a) a->DropPicture(true);
  for (TThemedPage* p : pages_)
    if (p->tab_) p->tab_->DropPicture(true);
  InvalidateAll();
}

void TThemedTabControl::ApplyGeometry() {
  UpdateLayout();
  if (common_) SizePage(common_);
  if (selected_) SizePage(selected_);
}

void TThemedTabControl::SetOrientation(uint8_t value) {
  if (value == orientation_) return;
  orientation_ = value;
  DropPictures();
  // The row and the pages move to the other side.
  ApplyGeometry();
}

void TThemedTabControl::SetStyle(uint8_t value) {
  if (value == style_) return;
  style_ = value;
  UpdateLayout();
}

void TThemedTabControl::SetLayoutKind(uint8_t value) {
  if (value > 1 || value == layout_kind_) return;
  layout_kind_ = value;
  UpdateLayout();
}

void TThemedTabControl::SetFixedTabWidth(int32_t value) {
  if (value == fixed_width_) return;
  fixed_width_ = value;
  UpdateLayout();
}

void TThemedTabControl::SetAutoSize(uint8_t value) {
  if (value == auto_size_) return;
  auto_size_ = value;
  UpdateAutoSize();
}

void TThemedTabControl::SizePage(TFramePage* page) {
  const TRect r = PageRect();
  page->SetPosition(r.Left, r.Top);
  page->SetSize(r.Width(), r.Height());
  if (auto* p = dynamic_cast<TThemedPage*>(page)) p->UpdateFrameRects();
}

TThemedPage* TThemedTabControl::AddPage() {
  TDrawFrame* tab_frame = frame_->InsertBefore(arrows_[0]->Frame());
  TDrawFrame* page_frame = frame_->InsertAfter(common_->Frame());
  auto* page = new TThemedPage(page_frame, tab_frame, this, styles_.get());
  const TRect r = PageRect();
  page->SetPosition(r.Left, r.Top);
  page->SetSize(r.Width(), r.Height());
  page->SetEnabled(false);
  pages_.push_back(page);
  page->UpdateFrameRects();
  layout_busy_ = true;
  page->tab_->SetPosition(0, 0);
  page->tab_->SetSize(30, TabHeight());
  layout_busy_ = false;
  InvalidateAll();
  UpdateLayout();
  return page;
}

bool TThemedTabControl::IsPageSwitchKey(TKeyData* key, bool& forward) {
  forward = false;
  if (key->Key != 9 || (key->Shift != 8 && key->Shift != 10)) return false;
  forward = key->Shift == 8;
  return true;
}

void TThemedTabControl::UpdateLayout() {
  if (layout_busy_ || destroying_) return;
  layout_busy_ = true;
  struct TDone {
    bool& busy;
    ~TDone() { busy = false; }
  } done{layout_busy_};
  if (layout_kind_ == 1) LayoutKind1();
  else LayoutKind0();
}

void TThemedTabControl::LayoutKind0() {
  natural_width_ = true;
  const TSize size{width_, height_};
  TRect row = painter_->GetTabRowRect(frame_, size, orientation_, false);
  int32_t available = row.Width();
  const int32_t tab_height = TabHeight();
  int64_t total = 0;
  for (TThemedPage* p : pages_)
    if (p->shown_as_tab_) total += p->tab_->PreferredWidth();
  uint8_t style = style_;
  const bool overflow = total > available;
  if (overflow) {
    if (style == 1) style = 3;
    // The arrows take their room from the row, so the tabs stop before them.
    row = painter_->GetTabRowRect(frame_, size, orientation_, true);
    available = row.Width();
  } else if (style != 1) {
    offset_ = 0;
  }
  for (TThemedTabArrow* a : arrows_) a->SetShown(overflow);
  const int32_t top = orientation_ == 0 ? row.Bottom - tab_height : row.Top;
  int32_t start = row.Left;
  if (style == 1) {
    start = row.Left + int32_t((available - total) / 2);
    offset_ = 0;
  }
  int32_t margin = 0, right_margin = 0;
  painter_->GetRowMargins(margin, right_margin);
  if (offset_ >= 1 && total < int64_t(offset_) + available) {
    offset_ -= int32_t(int64_t(offset_) + available - total);
    // A row that became shorter than the view scrolls back to its start,
    // never before it.
    if (offset_ < 0) offset_ = 0;
  }
  const int64_t limit = int64_t(offset_) + available;
  bool any_hidden = false;
  int64_t x = 0;
  for (TThemedPage* p : pages_) {
    TThemedTabButton* b = p->tab_;
    if (!p->shown_as_tab_) {
      p->UpdateLayoutData();
      p->UpdateFrameRects();
      continue;
    }
    const int32_t w = b->PreferredWidth();
    const bool out = x >= limit || x + margin + w < offset_;
    p->out_of_view_ = out;
    uint8_t cut = 0;
    if (!out) {
      if (offset_ > x) cut |= kTabCutLeft;
      if (x + w > limit) cut |= kTabCutRight;
    }
    if (out || cut) any_hidden = true;
    const bool cut_changed = b->SetCutBits(cut);
    b->MoveTab(TPoint{int32_t(x - offset_ + start + margin), top});
    b->SetSize(w, tab_height);
    if (cut_changed) b->DropPicture(true);
    p->UpdateFrameRects();
    x += w;
  }
  if (any_hidden) {
    TRect r0, r1;
    painter_->GetArrowRects(frame_, size, orientation_, r0, r1);
    const TRect* rects[2] = {&r0, &r1};
    for (int i = 0; i < 2; ++i) {
      arrows_[i]->SetPosition(rects[i]->Left, rects[i]->Top);
      arrows_[i]->SetSize(rects[i]->Width(), rects[i]->Height());
      arrows_[i]->SetShown(true);
    }
  }
  PlaceTabs();
}

void TThemedTabControl::LayoutKind1() {
  if (pages_.empty()) return;
  const TSize size{width_, height_};
  int32_t n = 0;
  int64_t natural = 0;
  for (TThemedPage* p : pages_)
    if (p->shown_as_tab_) {
      ++n;
      natural += p->tab_->NaturalWidth();
    }
  TRect row = painter_->GetTabRowRect(frame_, size, orientation_, false);
  int32_t ml = 0, mr = 0;
  painter_->GetRowMargins(ml, mr);
  row.Left += ml;
  row.Right -= mr;
  if (row.Right < row.Left) row.Right = row.Left;
  // With no shown tab there is nothing to share the row among (and no
  // share to compute): the plain row takes over.
  if (n == 0 || row.Width() >= natural) {
    LayoutKind0();
    return;
  }
  const int32_t tab_height = TabHeight();
  const int32_t top = orientation_ == 0 ? row.Bottom - tab_height : row.Top;
  for (TThemedPage* p : pages_)
    if (p->tab_->SetCutBits(0)) p->tab_->DropPicture(true);
  for (TThemedTabArrow* a : arrows_) a->SetShown(false);
  natural_width_ = false;
  const float step = float(row.Width()) / float(n);
  int32_t i = 0;
  TThemedTabButton* prev = nullptr;
  int32_t prev_x = 0, prev_w = 0;
  TThemedPage* last = nullptr;
  for (TThemedPage* p : pages_) {
    if (!p->shown_as_tab_) {
      p->UpdateLayoutData();
      p->UpdateFrameRects();
      continue;
    }
    TThemedTabButton* b = p->tab_;
    p->out_of_view_ = false;
    int32_t w = int32_t(std::lrint(float(i + 1) * step - float(i) * step));
    int32_t x = int32_t(std::lrint(float(row.Left) + float(i) * step));
    if (prev) {
      const int32_t joined = prev_x + prev_w;
      w -= joined - x;
      x = joined;
    }
    b->MoveTab(TPoint{x, top});
    b->SetLayoutWidth(w);
    if (w != b->PaintArea().Width()) {
      b->SetSize(w, tab_height);
      b->DropPicture(true);
    }
    p->UpdateFrameRects();
    prev = b;
    prev_x = x;
    prev_w = w;
    last = p;
    ++i;
  }
  if (last) {
    TThemedTabButton* b = last->tab_;
    const int32_t w = row.Right - b->GetPosition().X;
    b->SetLayoutWidth(w);
    if (w != b->PaintArea().Width()) {
      b->SetSize(w, tab_height);
      b->DropPicture(true);
    }
    last->UpdateFrameRects();
  }
  PlaceTabs();
}

void TThemedTabControl::PlaceTabs() {
  int32_t first = -1, last = -1;
  for (int32_t i = 0; i < GetPageCount(); ++i)
    if (pages_[size_t(i)]->shown_as_tab_) {
      if (first < 0) first = i;
      last = i;
    }
  if (first < 0) return;
  if (first == last) {
    pages_[size_t(first)]->tab_->SetKind(painter_->GetSingleTabKind(style_));
    return;
  }
  for (int32_t i = first + 1; i < last; ++i) pages_[size_t(i)]->tab_->SetKind(kTabMiddle);
  TRect row = TabRowRect();
  if (row.Right < row.Left) row.Right = row.Left;
  const bool arrows = ArrowsShown();
  auto rect_of = [](TThemedTabButton* b) {
    const TPoint p = b->GetPosition();
    return TRect{p.X, p.Y, p.X + b->PaintArea().Width(), p.Y + b->PaintArea().Height()};
  };
  TThemedTabButton* f = pages_[size_t(first)]->tab_;
  TThemedTabButton* l = pages_[size_t(last)]->tab_;
  f->SetKind(painter_->TabTouchesRowEdge(rect_of(f), row, arrows) ? kTabFirstAtEdge : kTabFirst);
  l->SetKind(painter_->TabTouchesRowEdge(rect_of(l), row, arrows) ? kTabLastAtEdge : kTabLast);
}

void TThemedTabControl::ScrollIntoView(TThemedPage* page) {
  if (!page || !page->tab_ || (!page->out_of_view_ && page->tab_->CutBits() == 0)) return;
  const int64_t visible = int64_t(TabRowRect().Width()) + offset_;
  TThemedPage* first = nullptr;
  TThemedPage* last = nullptr;
  for (TThemedPage* p : pages_)
    if (p->shown_as_tab_) {
      if (!first) first = p;
      last = p;
    }
  int64_t sum = 0;
  for (TThemedPage* p : pages_) {
    if (p == page) break;
    if (p->shown_as_tab_) sum += p->tab_->PreferredWidth();
  }
  const int64_t width = page->tab_->PreferredWidth();
  if (sum < offset_) {
    // The slack before a tab that is not the first never scrolls the row
    // before its start.
    offset_ = int32_t(std::max<int64_t>(0, sum - (page != first ? kScrollSlack : 0)));
  }
  if (sum + width > visible) offset_ += int32_t(sum + width - visible + (page != last ? kScrollSlack : 0));
}

void TThemedTabControl::ArrowClicked(uint8_t index) {
  TThemedPage* target = nullptr;
  TThemedPage* remembered = nullptr;
  const uint8_t cut_bit = index == kArrowBackward ? kTabCutLeft : kTabCutRight;
  auto visit = [&](TThemedPage* p) {
    if (!p->shown_as_tab_) return false;
    if (p->out_of_view_) {
      remembered = p;
      return false;
    }
    target = (p->tab_->CutBits() & cut_bit) ? p : remembered;
    return true;
  };
  if (index == kArrowBackward) {
    for (auto it = pages_.begin(); it != pages_.end(); ++it)
      if (visit(*it)) break;
  } else {
    for (auto it = pages_.rbegin(); it != pages_.rend(); ++it)
      if (visit(*it)) break;
  }
  if (!target) return;
  ScrollIntoView(target);
  UpdateLayout();
  InvalidateRect(TabRowRect());
}

void TThemedTabControl::TabPressed(TThemedPage* page) {
  if (!page || page->out_of_view_ || page == selected_) return;
  SelectPage(page);
}

void TThemedTabControl::SelectPage(TFramePage* target) {
  auto* page = dynamic_cast<TThemedPage*>(target);
  if (!page || page->control_ != this || page == selected_) return;
  TThemedPage* old = selected_;
  const bool had_focus = old && focused_child_ == old;
  if (old) old->SetSelected(false);
  selected_ = page;
  if (page->out_of_view_ || page->tab_->CutBits() != 0) {
    ScrollIntoView(page);
    page->SetSelected(true);
    UpdateLayout();
  } else {
    page->SetSelected(true);
  }
  Changed(0);
  if (old) old->InvalidateAll();
  page->InvalidateAll();
  InvalidateAll();
  SizePage(page);
  if (had_focus) SetFocusedChild(page);
}

void TThemedTabControl::UpdateAutoSize() {
  if (auto_size_ == 0 || destroying_) return;
  TRect content{};
  auto add = [&](const TRect& r) {
    if (!r.IsEmpty()) UnionRectInPlace(content, r);
  };
  for (TThemedPage* p : pages_) add(p->ContentBounds());
  if (common_) add(common_->ContentBounds());
  content.Left = content.Top = 0;
  const TRect page = PageRect();
  int32_t w = width_, h = height_;
  if (auto_size_ & 1) w += content.Right - page.Width();
  if (auto_size_ & 2) h += content.Bottom - page.Height();
  if (w == width_ && h == height_) return;
  SetSizePoint(TPoint{std::max(w, TabControlMinWidth), std::max(h, TabControlMinHeight)});
}

void TThemedTabControl::Paint(TDrawSurface* surface) {
  if (!background_ && width_ >= 1 && height_ >= 1) {
    const std::u16string key = painter_->GetStateKey(0, orientation_);
    background_offset_ = TPoint{};
    background_ = painter_->GetBackground(key, TabRowRect().Height(), TSize{width_, height_}, background_offset_);
  }
  const TRect area{0, 0, width_, height_};
  if (background_) surface->DrawBitmap(background_.get(), area, background_offset_.X, background_offset_.Y);
  const TRect row = TabRowRect();
  auto draw = [&](TThemedPage* p, const TRect& clip) {
    TThemedTabButton* b = p->tab_;
    b->EnsurePicture();
    if (!b->Picture()) return;
    const TPoint pos = b->GetPosition();
    const TPoint o = b->PictureOffset();
    surface->DrawBitmap(b->Picture(), clip, pos.X + o.X, pos.Y + o.Y);
  };
  for (TThemedPage* p : pages_)
    if (p->shown_as_tab_ && !p->out_of_view_ && p != selected_) draw(p, row);
  if (selected_ && selected_->shown_as_tab_ && !selected_->out_of_view_)
    draw(selected_, TRect{row.Left, area.Top, row.Right, area.Bottom});
}

void TThemedTabControl::SizeChanged() {
  background_ = nullptr;
  for (TThemedTabArrow* a : arrows_)
    if (a) a->DropPicture(false);
  ApplyGeometry();
  TFrameTabControl::SizeChanged();
  if (frame_) {
    frame_->SetBoundsRect(TRect{0, 0, width_, height_});
    frame_->SetClip(true);
  }
}

void TThemedTabControl::KeyEvent(TKeyData* key) {
  TFrameTabControl::KeyEvent(key);
  if (key->Handled) return;
  bool forward = false;
  if (!IsPageSwitchKey(key, forward)) return;
  key->Handled = true;
  if (key->Kind != kKeyChar || pages_.empty()) return;
  const int32_t n = GetPageCount();
  if (!selected_) {
    for (TThemedPage* p : pages_)
      if (p->ShownAsTab()) {
        SelectPage(p);
        return;
      }
    return;
  }
  const int32_t at = int32_t(std::find(pages_.begin(), pages_.end(), selected_) - pages_.begin());
  for (int32_t k = 1; k < n; ++k) {
    const int32_t j = ((at + (forward ? k : -k)) % n + n) % n;
    if (pages_[size_t(j)]->ShownAsTab()) {
      SelectPage(pages_[size_t(j)]);
      return;
    }
  }
}

void TThemedTabControl::ChildRemoved(TFrameControl* child) {
  TFrameTabControl::ChildRemoved(child);
  if (destroying_) return;
  auto it = std::find(pages_.begin(), pages_.end(), child);
  if (it == pages_.end()) return;
  pages_.erase(it);
  if (selected_ == child) selected_ = nullptr;
  InvalidateAll();
  UpdateLayout();
}

}  // namespace kav
