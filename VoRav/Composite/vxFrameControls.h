// The frame-control tree: lightweight controls, each on a frame of one
// window's frame tree. A control reports what happens to it as numbered
// frame events on its own event list; the root control owns focus,
// keyboard dispatch, Tab and arrow navigation and hit testing. Refresh
// notifiers run a periodic timer while some control listens for ticks.
//
// Ownership: a control belongs to the tree (its parent frees it); the root
// belongs to its creator. A freed control's memory is kept on the
// pending-release list until EmptyPendingReleaseList (after each window
// message, and at finalisation), so a control freed from inside one of its
// own handlers stays readable until the message is done. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Application2/vxTimer2.h"
#include "VoRav/Composite/vxDrawFrames.h"
#include "VoRav/Composite/vxEvents.h"

namespace kav {

class TControlStyles;  // the style set with its painters (colours, fonts, scale)
class TFrameControl;
class TRootControl;

// A key on its way through the focused controls.
class TKeyData {
 public:
  virtual ~TKeyData() = default;
  bool Handled = false;
  uint8_t Kind = 0;   // 0 key up, 1 key down, 2 character
  uint8_t Shift = 0;  // shift-state bits of the input decoding
  uint16_t Key = 0;
  // Whether a virtual key is down; the window binding reads the keyboard
  // state once per key, when first asked.
  virtual bool IsKeyDown(int32_t vk) { (void)vk; return false; }
};

// A list whose timer ticks (code 2, parameter 0) at the display's refresh
// rate while some handler listens for code 2.
class TRefreshNotifier : public TEvents {
 public:
  TRefreshNotifier(TRefObject* owner, TRootControl* root);
  bool TimerRunning() const { return timer_ != nullptr; }
  uint32_t Interval() const;
  virtual void StopTimer();
  // Starts or stops the timer to match whether code 2 has listeners.
  virtual void CheckTimer();

 protected:
  void Dispose() override;
  void OnTimer(TTimerEvent* event);
  // One tick: dispatches code 2 and hands AfterTick whether a handler got it.
  virtual void OnTick();
  virtual void AfterTick(bool reached) = 0;
  TRootControl* root_;
  TMultiTimerEvent* timer_ = nullptr;
};

class TTimeRefreshNotifier : public TRefreshNotifier {
 public:
  using TRefreshNotifier::TRefreshNotifier;

 protected:
  // Holds the root for the tick: a handler may free the whole tree.
  void OnTick() override;
  void AfterTick(bool reached) override;
};

class TFrameControl : public TFrameHandler {
 public:
  explicit TFrameControl(TDrawFrame* frame);

  // Memory of a freed control goes to the pending-release list.
  static void* operator new(size_t size);
  static void operator delete(void* p);

  // --- slots ---
  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;
  void SetFrame(TDrawFrame* frame) override;
  void PositionChanging() override;
  void PositionChanged() override;
  void TakeInvalidRect(TRect& rect) override;
  bool HitTest(TMouseData* data) override;
  void MouseEvent(TMouseData* data) override;
  void MouseLeave() override;
  TRect PaintArea() override { return TRect{0, 0, width_, height_}; }
  virtual bool GetTabStop() { return tab_stop_; }
  virtual void SetTabStop(bool value) { if (value != tab_stop_) tab_stop_ = value; }
  // Bit 0 reachable by Tab, bit 1 by the arrows.
  virtual uint32_t GetNavigationKinds() { return 3; }
  virtual TFrameControl* GetNextSibling();
  virtual void FocusedChildChanging();
  virtual void FocusedChildChanged();
  virtual void ChildAdded(TFrameControl* child);
  virtual void ChildRemoved(TFrameControl* child);
  virtual void ConstrainSize(int32_t& width, int32_t& height);
  virtual void SizeChanging();
  virtual void SizeChanged();
  virtual void InvalidateAll();
  virtual void EnabledChanged();
  virtual void Slot24();
  virtual void FocusChanged();
  virtual void FocusedInParent(bool value);
  virtual void KeyPreview(TKeyData* key);
  virtual void KeyEvent(TKeyData* key);
  virtual void Changed(intptr_t what);
  virtual void Click();
  virtual void TimeRefresh();
  // The style record (font and colours) of the control's text: the
  // parent's, at the top the default styles' control font.
  virtual void GetInheritedStyle(TFontDesc& style);
  virtual void Visit() {}
  // The style set of the tree: the parent's, at the top the default one.
  virtual TControlStyles* GetStyles();
  // A new child frame after the last child of this control's frame (nil
  // without a frame); owned by the frame tree.
  virtual TDrawFrame* CreateChildFrame();
  virtual bool ContainsPoint(int32_t x, int32_t y);
  virtual void RefreshMouse();
  virtual void ClientToScreen(int32_t x, int32_t y, TPoint& point);
  virtual int32_t GetWidth() { return width_; }
  virtual int32_t GetHeight() { return height_; }

  // --- operations ---
  TEventsWithTags* Events();
  bool HasEvents() const { return events_ != nullptr; }
  void Notify(int32_t code, intptr_t param = 0);
  void SetSize(int32_t width, int32_t height);
  void SetSizePoint(TPoint size) { SetSize(size.X, size.Y); }
  void SetWidth(int32_t width) { SetSize(width, GetHeight()); }
  void SetHeight(int32_t height) { SetSize(GetWidth(), height); }
  void SetPosition(int32_t x, int32_t y);
  void SetPositionPoint(TPoint p) { SetPosition(p.X, p.Y); }
  TPoint GetPosition() const;
  void InvalidateRect(const TRect& rect);
  TFrameControl* GetParentControl() const;
  TRootControl* GetRootControl() const;
  TFrameControl* GetTopmostControl();
  TFrameControl* GetFirstChild() const;
  TFrameControl* GetLastChild() const;
  TFrameControl* GetPreviousSibling() const;
  void Focus();
  void SetFocusedChild(TFrameControl* child);
  void SetFocusState(bool value);
  TFrameControl* FocusedChild() const { return focused_child_; }
  bool Focused() const { return focused_; }
  bool IsEnabled();
  void SetEnabled(bool value);
  // 0 inherit, 1 on, 2 off.
  void SetEnabledState(uint8_t state);
  uint8_t EnabledState() const { return enabled_state_; }
  void WalkTree();
  void StartTimeRefresh();
  void StopTimeRefresh();
  int32_t Baseline() const { return baseline_; }
  void SetBaseline(int32_t value) { baseline_ = value; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  bool AcceptsWheel() const { return accepts_wheel_; }
  void SetAcceptsWheel(bool value) { accepts_wheel_ = value; }
  const TRect& InvalidRect() const { return invalid_rect_; }
  int32_t InvalidationCount() const { return invalidation_count_; }

 protected:
  ~TFrameControl() override;
  void Dispose() override;
  // Inside the release of a tree, controls are deleted only once the whole
  // tree is disposed: a child's Dispose may still read its parent.
  void FreeInstance() override;
  // Tells the control whether it is its parent's focused child.
  void TellFocusedInParent(bool value);
  TRefreshNotifier* TimeRefreshNotifier();

  TEventsWithTags* events_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  TFrameControl* focused_child_ = nullptr;
  bool focused_ = false;
  bool tab_stop_ = false;
  uint8_t enabled_state_ = 0;
  bool released_ = false;
  TRect invalid_rect_;
  int32_t invalidation_count_ = 0;
  int32_t baseline_ = -1;
  std::string name_;
  bool accepts_wheel_ = true;
};

// The root is where the tree's focus helper lives: its attached objects
// are the event list's.
class TRootControl : public TFrameControl, public virtual TFocusRoot {
 public:
  // The root must not have a parent control.
  explicit TRootControl(TDrawFrame* frame);

  virtual TRefreshNotifier* CreateRefreshNotifier();
  // After a refresh tick that reached a control.
  virtual void AfterTimeRefresh() {}
  // The control at a screen point, or nil; `hit` receives the last answer
  // of the control's own point test, `local` the point in its coordinates.
  virtual TFrameControl* ControlAt(int32_t x, int32_t y, bool& hit, TPoint& local);
  virtual bool IsFocused() { return focused_; }
  void KeyEvent(TKeyData* key) override;
  void RefreshMouse() override {}

  // Sends the key down the focused-child chain and back up.
  void DispatchKey(TKeyData* key);
  // The notifier that times refreshes of this tree (made on first use).
  TRefreshNotifier* RefreshNotifier();
  TList& AttachedObjects() override { return Events()->AttachedObjects(); }
  uint8_t NavigationKind() const { return navigation_kind_; }

 protected:
  void Dispose() override;
  // Moves the focus one eligible control forward or backward.
  void Navigate(bool forward);
  bool Eligible(TFrameControl* control);

  uint8_t navigation_kind_ = 0;
  TFrameControl* candidate_ = nullptr;
  TFrameControl* current_ = nullptr;
  TRefreshNotifier* refresh_notifier_ = nullptr;
};

// The default control styles read by the top of every tree (nil until the
// styles module sets it); the caller keeps the object alive.
TControlStyles* DefaultControlStyles();
void SetDefaultControlStyles(TControlStyles* styles);
// The value new controls take for "accepts wheel" (true at start).
extern bool DefaultAcceptsWheel;
// The time refresh notifier shared by whatever ticks without a tree (made
// on first use, freed by FinalizeFrameControls).
TRefreshNotifier* SharedTimeRefreshNotifier();
// Returns the memory of controls freed since the last call.
void EmptyPendingReleaseList();
int32_t PendingReleaseCount();
// Module finalisation: empties the pending list and frees the shared
// refresh notifier (call before the multi-timer is freed).
void FinalizeFrameControls();

}  // namespace kav
