// The tab control of the frame-control tree: a row of tab buttons, one per
// page, two scroll arrows when the tabs do not fit, and a content area that
// shows the selected page. Its look (tab sizes, page rectangle, pictures)
// comes from a tab painter (TFrameTabControlTheme) attached to the style set;
// the classic and visual-styles painters are in winTabsThemes.
//
// Layout kind 0 puts the tabs in one row at their natural (or fixed) width
// and scrolls the row by a pixel offset; layout kind 1 squeezes them to fit.
// Pages that are not selected are disabled and get a far-away frame
// rectangle, so they neither paint nor take the mouse. The arrows repeat on
// the tree's time refresh (window layer clock). GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Graphics/SysBitmap.h"

namespace kav {

class TFrameCaption;
class TThemedPage;
class TThemedTabControl;

// Tab kinds: where a tab sits in the row.
enum : uint8_t {
  kTabFirst = 0,
  kTabMiddle = 1,
  kTabLast = 2,
  kTabSingle = 3,
  kTabFirstAtEdge = 4,
  kTabLastAtEdge = 5,
};

// Picture state bits (disabled: the control is disabled).
enum : uint8_t { kTabStateDisabled = 1, kTabStateHot = 2, kTabStateSelected = 4, kTabStatePressed = 4 };

// Cut bits of a tab partly scrolled out of the row.
enum : uint8_t { kTabCutLeft = 1, kTabCutRight = 2 };

// Arrow 0 scrolls towards the later tabs and points right; arrow 1 towards
// the earlier tabs and points left.
enum : uint8_t { kArrowForward = 0, kArrowBackward = 1 };

// The rectangle of frames that neither paint nor take the mouse.
inline constexpr TRect kFarAwayRect{2147483646, 2147483646, 2147483647, 2147483647};

// The tab painter: geometry and pictures of a tab control.
class TFrameTabControlTheme : public TFrameControlTheme {
 public:
  using TFrameControlTheme::TFrameControlTheme;

  // The style byte copied into a new control (1: a centred row).
  virtual uint8_t GetStyle() { return 0; }
  // The font of the tabs' text.
  virtual void GetFont(TFontDesc& font);
  // The arrows' repeat interval (ms).
  virtual uint32_t GetRepeatInterval() { return 120; }
  // Whether a tab touches the row's edge: the same left or right edge.
  virtual bool TabTouchesRowEdge(const TRect& tab, const TRect& row, bool arrows);
  // The tab height (measured with the frame's text when there is one).
  virtual int32_t GetTabHeight(TDrawFrame* frame) = 0;
  // Where the caption goes in a tab of the size.
  virtual TRect GetTabContentRect(TSize size) = 0;
  // The caption's offset for the state (kTabStateSelected or 0).
  virtual TPoint GetCaptionOffset(uint8_t state) = 0;
  // The page rectangle of a control of the size.
  virtual TRect GetPageRect(TDrawFrame* frame, TSize size, uint8_t orientation) = 0;
  // The rectangles of arrow 0 and arrow 1.
  virtual void GetArrowRects(TDrawFrame* frame, TSize size, uint8_t orientation, TRect& arrow0, TRect& arrow1) = 0;
  // The tab row, with or without room for the arrows.
  virtual TRect GetTabRowRect(TDrawFrame* frame, TSize size, uint8_t orientation, bool arrows) = 0;
  // A tab's width from its caption's width.
  virtual int32_t GetTabWidth(int32_t caption_width) = 0;
  // The margins before the first tab and after the last.
  virtual void GetRowMargins(int32_t& left, int32_t& right) { left = right = 0; }
  // The picture key of state bits and an orientation.
  virtual std::u16string GetStateKey(uint8_t state, uint8_t orientation) = 0;
  // The page background of a control of the size; writes its offset.
  virtual Ref<TSysBitmap> GetBackground(const std::u16string& key, int32_t row_height, TSize size,
                                        TPoint& offset) = 0;
  // The picture of arrow `index` of the size; writes its offset.
  virtual Ref<TSysBitmap> GetArrowPicture(const std::u16string& key, int32_t index, TSize size, TPoint& offset) = 0;
  // The picture of a tab of the kind, cut bits and size; writes its offset.
  virtual Ref<TSysBitmap> GetTabPicture(const std::u16string& key, uint8_t kind, uint8_t cut, TSize size,
                                        TPoint& offset) = 0;
  // The tab kind of a single tab for the style byte.
  virtual uint8_t GetSingleTabKind(uint8_t style) { (void)style; return kTabSingle; }
};

// A small control pressed by the left mouse button that shows one picture,
// made on demand and cached until something that changes its look drops it.
class TPushControl : public TFrameControl {
 public:
  explicit TPushControl(TDrawFrame* frame);

  bool Shown() const { return shown_; }
  bool Hot() const { return hot_; }
  bool Pressed() const { return pressed_; }
  TSysBitmap* Picture() const { return picture_.get(); }
  TPoint PictureOffset() const { return offset_; }

  // A new picture (nil for none) and its offset.
  virtual Ref<TSysBitmap> GetPicture(TPoint& offset) = 0;
  // The picture's rectangle cut to the control's area; false when empty.
  virtual bool GetPictureRect(TRect& rect);
  virtual void SetPressed(bool value);
  void SetShown(bool value);
  void SetHot(bool value);
  // Makes the picture when it is missing.
  void EnsurePicture();
  // Frees the picture; with `repaint` its rectangle is invalidated first.
  void DropPicture(bool repaint);

  void Paint(TDrawSurface* surface) override;
  bool ContainsPoint(int32_t x, int32_t y) override;
  void MouseEvent(TMouseData* data) override;
  void MouseLeave() override;
  // The picture's rectangle (it may stand out of the control).
  void InvalidateAll() override;

 protected:
  // The picture's rectangle, or the control's area without a picture.
  TRect PictureBounds() const;

  Ref<TSysBitmap> picture_;
  TPoint offset_;
  bool shown_ = true;
  bool hot_ = false;
  bool pressed_ = false;
};

class TThemedTabArrow : public TPushControl {
 public:
  TThemedTabArrow(TDrawFrame* frame, TThemedTabControl* control, TFrameTabControlTheme* painter, uint8_t index);

  uint8_t Index() const { return index_; }
  Ref<TSysBitmap> GetPicture(TPoint& offset) override;
  void SetPressed(bool value) override;
  void TimeRefresh() override;
  void Click() override;

 private:
  TFrameTabControlTheme* painter_;
  TThemedTabControl* control_;
  uint8_t index_;
  bool repeat_ = false;
  uint32_t last_step_ = 0;
};

class TThemedTabButton : public TPushControl {
 public:
  TThemedTabButton(TDrawFrame* frame, TThemedPage* page, TControlStyles* styles);

  TThemedPage* Page() const { return page_; }
  TFrameCaption* Caption() const { return caption_; }
  uint8_t Kind() const { return kind_; }
  uint8_t CutBits() const { return cut_; }
  // The caption's width passed through the painter.
  int32_t NaturalWidth();
  // The width the tab takes under the current layout.
  int32_t PreferredWidth();
  // Sets the kind; a change drops the picture with a repaint.
  void SetKind(uint8_t kind);
  // Sets the cut bits without a repaint; answers whether they changed.
  bool SetCutBits(uint8_t cut);
  void SetLayoutWidth(int32_t width) { layout_width_ = width; }
  // Places the caption in the painter's content rectangle.
  void PlaceCaption();
  // Moves the tab; the control repaints its picture at the old and the new
  // place (a selected tab's picture stands out of the tab's frame).
  void MoveTab(TPoint position);

  Ref<TSysBitmap> GetPicture(TPoint& offset) override;
  void SetPressed(bool value) override;
  bool ContainsPoint(int32_t x, int32_t y) override;
  void Paint(TDrawSurface* surface) override { (void)surface; }
  void ConstrainSize(int32_t& width, int32_t& height) override;
  void SizeChanged() override;

 private:
  friend class TThemedPage;
  TFrameTabControlTheme* painter_;
  TThemedPage* page_;
  uint8_t kind_ = kTabSingle;
  TFrameCaption* caption_ = nullptr;
  uint8_t cut_ = 0;
  int32_t layout_width_ = 0;
};

class TThemedPage : public TFramePage {
 public:
  TThemedPage(TDrawFrame* frame, TDrawFrame* tab_frame, TThemedTabControl* control, TControlStyles* styles);

  TThemedTabControl* TabControl() const { return control_; }
  TThemedTabButton* TabButton() const { return tab_; }
  TFrameCaption* TabCaption() const;
  bool ShownAsTab() const { return shown_as_tab_; }
  void SetShownAsTab(bool value);
  bool OutOfView() const { return out_of_view_; }
  bool Selected() const { return selected_; }
  // The caption of the tab.
  void SetCaption(const std::u16string& text);
  // The union of the children's rectangles.
  TRect ContentBounds() const { return content_bounds_; }

  void SetSelected(bool value);
  // Page and tab frame rectangles for the selection and the tab's view.
  void UpdateFrameRects();
  void UpdateLayoutData();

  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;
  void ChildAdded(TFrameControl* child) override;
  void ConstrainSize(int32_t& width, int32_t& height) override;

 protected:
  void Dispose() override;

 private:
  friend class TThemedTabControl;
  TThemedTabControl* control_;
  TThemedTabButton* tab_ = nullptr;
  bool shown_as_tab_ = true;
  bool out_of_view_ = false;
  bool selected_ = false;
  TRect content_bounds_;
};

// The content area common to every page.
class TCommonThemedPage : public TFramePage {
 public:
  TCommonThemedPage(TDrawFrame* frame, TThemedTabControl* control);
  TRect ContentBounds() const { return content_bounds_; }
  void UpdateLayoutData();

  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;
  void ChildAdded(TFrameControl* child) override;
  void ConstrainSize(int32_t& width, int32_t& height) override;
  void SizeChanged() override;

 private:
  TThemedTabControl* control_;
  TRect content_bounds_;
};

class TThemedTabControl : public TFrameTabControl {
 public:
  // `painter` must not be nil; `styles` nil takes the painter's.
  TThemedTabControl(TDrawFrame* frame, TFrameTabControlTheme* painter, TControlStyles* styles);

  TFrameTabControlTheme* Painter() const { return painter_; }
  TControlStyles* Styles() const { return styles_.get(); }
  TThemedPage* GetPage(int32_t index) const;
  int32_t GetPageCount() const { return int32_t(pages_.size()); }
  void SetOrientation(uint8_t value);
  uint8_t GetOrientation() const { return orientation_; }
  void SetStyle(uint8_t value);
  uint8_t GetStyle() const { return style_; }
  TThemedPage* GetSelectedPage() const { return selected_; }
  void SelectPage(TFramePage* page);
  uint8_t GetLayoutKind() const { return layout_kind_; }
  void SetLayoutKind(uint8_t value);
  int32_t GetFixedTabWidth() const { return fixed_width_; }
  void SetFixedTabWidth(int32_t value);
  uint8_t GetAutoSize() const { return auto_size_; }
  void SetAutoSize(uint8_t value);
  TCommonThemedPage* GetCommonPage() const { return common_; }
  TThemedPage* AddPage();
  // Ctrl+Tab (forward) and Ctrl+Shift+Tab.
  bool IsPageSwitchKey(TKeyData* key, bool& forward);

  TThemedTabArrow* Arrow(int32_t index) const { return arrows_[index]; }
  bool ArrowsShown() const { return arrows_[0] && arrows_[0]->Shown(); }
  int32_t TabOffset() const { return offset_; }
  bool NaturalWidth() const { return natural_width_; }
  bool LayoutBusy() const { return layout_busy_; }
  int32_t TabHeight();
  TRect TabRowRect();
  TRect PageRect();

  void UpdateLayout();
  void ScrollIntoView(TThemedPage* page);
  void ArrowClicked(uint8_t index);
  void TabPressed(TThemedPage* page);
  // Recomputes the size from the pages' contents (auto size on).
  void UpdateAutoSize();
  void DropPictures();

  void Paint(TDrawSurface* surface) override;
  void SizeChanged() override;
  void KeyEvent(TKeyData* key) override;
  void ChildRemoved(TFrameControl* child) override;
  // A new theme makes new pictures and may change the geometry.
  void ThemeChanged() override;
  // Pictures and text follow the control's enabled state.
  void EnabledChanged() override;
  // The control's own style set and the painter's font.
  TControlStyles* GetStyles() override;
  void GetInheritedStyle(TFontDesc& style) override;

 protected:
  void Dispose() override;

 private:
  friend class TThemedPage;
  friend class TThemedTabButton;
  // Lays the tabs out and places the common and the selected page.
  void ApplyGeometry();
  void LayoutKind0();
  void LayoutKind1();
  void PlaceTabs();
  void SizePage(TFramePage* page);

  uint8_t layout_kind_ = 0;
  TFrameTabControlTheme* painter_;
  Ref<TControlStyles> styles_;
  std::vector<TThemedPage*> pages_;
  uint8_t orientation_ = 0;
  Ref<TSysBitmap> background_;
  TPoint background_offset_;
  TThemedTabArrow* arrows_[2] = {nullptr, nullptr};
  bool layout_busy_ = false;
  uint8_t style_ = 0;
  uint8_t auto_size_ = 0;
  int32_t fixed_width_ = 0;
  int32_t offset_ = 0;
  TThemedPage* selected_ = nullptr;
  TCommonThemedPage* common_ = nullptr;
  bool natural_width_ = true;
  bool destroying_ = false;
};

// Makes a tab control on a free frame with the style set (nil: the default).
using TAllocFrameTabControlProc = TFrameTabControl* (*)(TDrawFrame* frame, TControlStyles* styles);
extern TAllocFrameTabControlProc AllocFrameTabControl;
// Module initialisation: installs the themed allocator, which makes a
// TThemedTabControl when the style set has a tab painter and passes the call
// on otherwise (the end of the chain answers nil). Finalisation puts the
// previous allocator back.
void InitThemedTabControl();
void FinalizeThemedTabControl();

// The smallest size auto size gives a control.
extern int32_t TabControlMinWidth;
extern int32_t TabControlMinHeight;

}  // namespace kav
