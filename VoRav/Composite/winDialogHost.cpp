#include "VoRav/Composite/winDialogHost.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxFramePanels.h"
#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/winFrameFormTree.h"
#include "VoRav/Composite/winFrameForms.h"
#include "VoRav/vxRectUtils.h"

namespace kav {

namespace {

using namespace win;

constexpr char16_t kItemClass[] = u"BUTTON";

// A box that scrolls what lies in it: a group-box item with WS_VSCROLL
// makes one at its place, and the radio group that follows it lies in the
// box instead of the dialog (where the template places the group, less the
// box's corner, is where it lies in the box). A vertical scroll bar at the
// box's right edge shows while the group is taller than the box; the button
// that takes the focus, or is checked, is scrolled into view, and the
// wheel over the box scrolls it.
class TScrollBox : public TEventHandler {
 public:
  TFramePanel* View = nullptr;     // the box: clips its content
  TFramePanel* Content = nullptr;  // moved up as the bar goes down
  TFrameScrollBar* Bar = nullptr;
  TRect Place;  // the box in the dialog

  // The box at `place` with content of that height.
  void Layout(const TRect& place, int32_t content_height) {
    Place = place;
    content_height_ = std::max(content_height, 0);
    if (!View || !Content || !Bar) return;
    const int32_t bar = std::max(GetSystemMetrics(SM_CXVSCROLL), 8);
    View->SetPosition(place.Left, place.Top);
    View->SetSize(place.Width(), place.Height());
    const bool scrolls = content_height_ > place.Height();
    Bar->Frame()->SetVisible(scrolls);
    Bar->SetPosition(place.Width() - bar, 0);
    Bar->SetSize(bar, place.Height());
    Content->SetSize(place.Width() - (scrolls ? bar : 0), std::max(content_height_, place.Height()));
    ScrollTo(offset_);
  }
  int32_t ContentHeight() const { return content_height_; }
  // What a wheel step or a scroll-bar arrow moves: a fifth of the box (two
  // rows of a list of ten).
  int32_t Step() const { return std::max(Place.Height() / 5, 1); }
  int32_t Range() const { return std::max(content_height_ - Place.Height(), 0); }
  void ScrollTo(int32_t offset) {
    offset_ = std::clamp(offset, 0, Range());
    if (Content) Content->SetPosition(0, -offset_);
    if (Bar && !moving_) {
      moving_ = true;
      const float page = content_height_ > 0 ? std::min(1.0f, float(Place.Height()) / float(content_height_)) : 1.0f;
      Bar->SetPageAndPosition(page, Range() > 0 ? float(offset_) / float(Range()) : 0.0f);
      Bar->SetLineStep(std::min(1.0f, float(Step()) / float(std::max(Range(), 1))));
      Bar->SetPageStep(Range() > 0 ? std::min(1.0f, float(Place.Height()) / float(Range())) : 1.0f);
      moving_ = false;
    }
  }
  // Scrolls so that `r` (content coordinates) is in view.
  void Show(const TRect& r) {
    if (r.Top < offset_) ScrollTo(r.Top);
    else if (r.Bottom > offset_ + Place.Height()) ScrollTo(r.Bottom - Place.Height());
  }
  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override {
    const auto* mouse = reinterpret_cast<const TMouseData*>(param);
    if (tag == kFrameEventMouse && sender == View && mouse && mouse->Kind == kFrameMouseWheel) {
      ScrollTo(offset_ - mouse->WheelDelta * Step());
    } else if (tag == kFrameEventChanged && sender == Bar && !moving_) {
      moving_ = true;
      ScrollTo(int32_t(std::lround(double(Bar->Position()) * Range())));
      moving_ = false;
    } else if (tag == kFrameEventDestroying) {
      if (sender == Bar) Bar = nullptr;
      if (sender == View) View = nullptr;
      if (sender == Content) Content = nullptr;
    }
  }

 private:
  int32_t content_height_ = 0;
  int32_t offset_ = 0;
  bool moving_ = false;
};

// One item: its window, its control and what it tells the dialog.
class TDialogItemLink : public TEventHandler {
 public:
  HWND Dialog = 0;
  HWND Window = 0;
  uint16_t Id = 0;
  TFrameControl* Control = nullptr;
  TFrameButton* Button = nullptr;
  TFrameCheckBox* CheckBox = nullptr;
  TFrameRadioButton* Radio = nullptr;
  // Radio buttons of one group share a container (a group is the radio
  // buttons under one parent); its members and their places in the dialog.
  struct TGroup {
    TFramePanel* Panel = nullptr;
    std::vector<TDialogItemLink*> Members;
    Ref<TScrollBox> Box;  // the box the group lies in, or nil
  };
  std::shared_ptr<TGroup> Group;
  Ref<TScrollBox> OwnBox;  // the scroll box a group-box item makes
  TRect Place;

  void HandleEvent(TRefObject*, int32_t tag, intptr_t) override {
    if (tag == kFrameEventFocusChanged && Control && Control->Focused()) ShowInBox();
    else if (tag == kFrameEventClick && IsWindow(Dialog))
      SendMessage(Dialog, WM_COMMAND, WPARAM(Id) | WPARAM(BN_CLICKED) << 16, LPARAM(Window));
    else if (tag == kFrameEventDestroying) {
      // The dialog procedure reads the state back on WM_DESTROY, which may
      // come after the controls went with their form.
      if (CheckBox) LastCheck = CheckBox->State();
      if (Radio) LastCheck = Radio->Checked() ? BST_CHECKED : BST_UNCHECKED;
      Control = nullptr, Button = nullptr, CheckBox = nullptr, Radio = nullptr;
    }
  }
  // The check state as the control last had it.
  uint8_t CheckState() const {
    if (CheckBox) return CheckBox->State();
    if (Radio) return Radio->Checked() ? BST_CHECKED : BST_UNCHECKED;
    return LastCheck;
  }
  uint8_t LastCheck = BST_UNCHECKED;
  void SetText(const std::u16string& text) {
    if (Button) Button->GetCaption()->SetCaption(text);
    else if (CheckBox) CheckBox->GetCaption()->SetCaption(text);
    else if (Radio) Radio->GetCaption()->SetCaption(text);
  }
  // Puts the control at `r` (dialog coordinates); a radio button's group
  // container grows or shrinks to hold all its members.
  // A check box or radio button keeps the height its painter gives it and is
  // centred in the item's rectangle, so its caption lines up with the
  // captions of buttons beside it (a button's caption is centred in it).
  void Put(int32_t x, int32_t y, int32_t w, int32_t h) {
    Control->SetSize(w, h);
    Control->SetPosition(x, Button ? y : y + (h - Control->GetHeight()) / 2);
  }
  // A member of a group in a scroll box comes into the box's view.
  void ShowInBox() {
    if (!Group || !Group->Box) return;
    const TRect box = Group->Box->Place;
    Group->Box->Show(TRect{Place.Left - box.Left, Place.Top - box.Top, Place.Right - box.Left, Place.Bottom - box.Top});
  }
  void MoveTo(const TRect& r) {
    Place = r;
    if (OwnBox) OwnBox->Layout(r, OwnBox->ContentHeight());
    if (!Group) {
      if (Control) Put(r.Left, r.Top, r.Width(), r.Height());
      return;
    }
    TRect bounds = Group->Members.front()->Place;
    for (TDialogItemLink* m : Group->Members) UnionRectInPlace(bounds, m->Place);
    // In a scroll box the group lies in the box's content.
    const TPoint corner = Group->Box ? TPoint{Group->Box->Place.Left, Group->Box->Place.Top} : TPoint{0, 0};
    if (Group->Panel) {
      Group->Panel->SetPosition(bounds.Left - corner.X, bounds.Top - corner.Y);
      Group->Panel->SetSize(bounds.Width(), bounds.Height());
    }
    if (Group->Box) Group->Box->Layout(Group->Box->Place, bounds.Bottom - corner.Y + 2);
    for (TDialogItemLink* m : Group->Members)
      if (m->Control)
        m->Put(m->Place.Left - bounds.Left, m->Place.Top - bounds.Top, m->Place.Width(), m->Place.Height());
  }
};

struct TRunningDialog {
  TFrameForm* Form = nullptr;
  std::vector<Ref<TDialogItemLink>> Items;
  std::vector<Ref<TScrollBox>> Boxes;
};

class TToolkitDialogHost : public TDialogHost {
 public:
  HWND CreateDialogWindow(const TDialogTemplate& dialog, HWND owner) override;
  void DestroyDialogWindow(HWND dialog) override;
  HWND EnterButton(HWND dialog) override;

  TDialogItemLink* Link(HWND item) {
    auto it = links_.find(item);
    return it == links_.end() ? nullptr : it->second;
  }
  LRESULT ItemProc(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam);

 private:
  std::map<HWND, std::unique_ptr<TRunningDialog>> dialogs_;
  std::map<HWND, TDialogItemLink*> links_;
};

TToolkitDialogHost* g_host = nullptr;
TDialogHost* g_previous = nullptr;
Ref<TWinFormStyle> g_dialog_style;

HWND TToolkitDialogHost::CreateDialogWindow(const TDialogTemplate& dialog, HWND owner) {
  if (!g_dialog_style) return 0;
  TFrameForm* form = CreateFrameForm(g_dialog_style.get());
  if (!form) return 0;
  TWinRootControl* root = FrameFormRootControl(form);
  const HWND hwnd = FrameFormWindow(form);
  if (!root || !hwnd) {
    form->Free();
    return 0;
  }
  auto running = std::make_unique<TRunningDialog>();
  running->Form = form;
  form->SetCaption(dialog.caption);
  const TRect client = DialogUnitsToPixels(dialog, 0, 0, dialog.cx, dialog.cy);
  root->SetSize(client.Width(), client.Height());

  std::shared_ptr<TDialogItemLink::TGroup> group;
  Ref<TScrollBox> box;  // made by a scrolling group box, taken by the next group
  TFrameControl* first_focus = nullptr;
  for (const TDialogTemplateItem& item : dialog.items) {
    const TRect r = DialogUnitsToPixels(dialog, item.x, item.y, item.cx, item.cy);
    // The item window is a handle only: hidden to the layer, so the mouse
    // reaches the dialog's window and the tree routes it to the control.
    const HWND w = CreateWindowEx(item.ex_style, kItemClass, item.title, item.style & ~uint32_t(WS_VISIBLE), r.Left,
                                  r.Top, r.Width(), r.Height(), hwnd, 0, nullptr);
    if (!w) continue;
    SetWindowLong(w, GWL_ID, item.id);
    auto link = MakeRef<TDialogItemLink>();
    link->Dialog = hwnd;
    link->Window = w;
    link->Id = item.id;
    const uint32_t kind = item.style & BS_TYPEMASK;
    const bool radio = item.class_name == u"BUTTON" && (kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON);
    if (!radio) group = nullptr;
    // Only buttons are hosted: items of other classes keep their window
    // without a control.
    if (item.class_name == u"BUTTON" && kind == BS_GROUPBOX && (item.style & WS_VSCROLL)) {
      box = MakeRef<TScrollBox>();
      box->View = AllocFramePanel(root->CreateChildFrame(), nullptr);
      box->View->FitFrame = true;
      box->View->Frame()->SetClip(true);
      box->Content = AllocFramePanel(box->View->CreateChildFrame(), nullptr);
      box->Bar = AllocFrameScrollBar(box->View->CreateChildFrame(), 0, nullptr);
      for (TFrameControl* c : {static_cast<TFrameControl*>(box->View), static_cast<TFrameControl*>(box->Content),
                               static_cast<TFrameControl*>(box->Bar)})
        c->Events()->AddHandlers({kFrameEventChanged, kFrameEventDestroying, kFrameEventMouse}, box.get());
      // The wheel anywhere over the box's content reaches the box.
      box->Content->SetAcceptsWheel(false);
      box->Layout(r, 0);
      link->OwnBox = box;
      running->Boxes.push_back(box);
    }
    if (radio) {
      if (!group || (item.style & WS_GROUP)) {
        group = std::make_shared<TDialogItemLink::TGroup>();
        if (box) {
          group->Box = box;
          group->Panel = AllocFramePanel(box->Content->CreateChildFrame(), nullptr);
          group->Panel->SetAcceptsWheel(false);
          box = nullptr;
        } else {
          group->Panel = AllocFramePanel(root->CreateChildFrame(), nullptr);
        }
      }
      group->Members.push_back(link.get());
      link->Group = group;
      link->Radio = _AllocFrameRadioButton(group->Panel->CreateChildFrame(), nullptr);
      link->Radio->Auto = kind == BS_AUTORADIOBUTTON;
      if (group->Box) link->Radio->SetAcceptsWheel(false);
      link->Control = link->Radio;
    } else if (item.class_name == u"BUTTON" && (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX)) {
      link->CheckBox = _AllocFrameCheckBox(root->CreateChildFrame(), nullptr);
      link->CheckBox->AutoToggle = kind == BS_AUTOCHECKBOX;
      link->Control = link->CheckBox;
    } else if (item.class_name == u"BUTTON" && (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON)) {
      link->Button = AllocFrameButton(root->CreateChildFrame(), nullptr);
      link->Button->SetWidthFlags(0);  // the template's size, not the painter's
      link->Button->SetHeightFlags(0);
      if (kind == BS_DEFPUSHBUTTON) TButtonHandler::Of(link->Button)->SetDefault(link->Button);
      link->Control = link->Button;
    }
    if (link->Control) {
      link->MoveTo(r);
      if (!link->Radio) link->Control->SetTabStop((item.style & WS_TABSTOP) != 0);
      if (item.style & WS_DISABLED) link->Control->SetEnabled(false);
      link->Control->Events()->AddHandlers({kFrameEventClick, kFrameEventDestroying, kFrameEventFocusChanged},
                                           link.get());
      link->SetText(item.title);
    }
    links_[w] = link.get();
    running->Items.push_back(link);
    // The first push button or check box that takes the focus has it when
    // the dialog window gets it (radio buttons are left out: focusing one
    // would check it).
    if (!first_focus && link->Control && !link->Radio && (item.style & WS_TABSTOP) && !(item.style & WS_DISABLED))
      first_focus = link->Control;
  }
  if (first_focus) root->SetFocusedChild(first_focus);

  // Centred over the owner, else over the work area.
  TRect outer, around = GetWorkArea();
  if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &around);
  if (GetWindowRect(hwnd, &outer))
    SetWindowPos(hwnd, 0, around.Left + (around.Width() - outer.Width()) / 2,
                 around.Top + (around.Height() - outer.Height()) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  dialogs_[hwnd] = std::move(running);
  return hwnd;
}

void TToolkitDialogHost::DestroyDialogWindow(HWND dialog) {
  auto it = dialogs_.find(dialog);
  if (it == dialogs_.end()) {
    DestroyWindow(dialog);
    return;
  }
  std::unique_ptr<TRunningDialog> running = std::move(it->second);
  dialogs_.erase(it);
  // The controls go with the form; the links (and their item windows,
  // children of the dialog window) after them.
  running->Form->Free();
  EmptyPendingReleaseList();
  for (const Ref<TDialogItemLink>& link : running->Items) links_.erase(link->Window);
}

HWND TToolkitDialogHost::EnterButton(HWND dialog) {
  auto it = dialogs_.find(dialog);
  if (it == dialogs_.end()) return 0;
  HWND fallback = 0;
  for (const Ref<TDialogItemLink>& link : it->second->Items) {
    if (!link->Button) continue;
    if (link->Button->Focused()) return link->Window;
    if (link->Button->IsDefault()) fallback = link->Window;
  }
  return fallback;
}

LRESULT TToolkitDialogHost::ItemProc(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  TDialogItemLink* link = Link(hwnd);
  TFrameControl* control = link ? link->Control : nullptr;
  switch (msg) {
    case BM_GETCHECK: return link ? LRESULT(link->CheckState()) : LRESULT(BST_UNCHECKED);
    case BM_SETCHECK:
      if (link && link->CheckBox) link->CheckBox->SetState(uint8_t(wParam <= 2 ? wParam : WPARAM(BST_CHECKED)));
      if (link && link->Radio) link->Radio->SetChecked(wParam == BST_CHECKED);
      if (link && link->Radio && wParam == BST_CHECKED) link->ShowInBox();
      return 0;
    case BM_CLICK:
      if (link && link->CheckBox) link->CheckBox->Toggle();
      else if (link && link->Radio) link->Radio->Press();
      else if (control) control->Click();
      return 0;
    case WM_SETTEXT:
      if (link && lParam) link->SetText(reinterpret_cast<const char16_t*>(lParam));
      break;
    case WM_ENABLE:
      if (control) control->SetEnabled(wParam != 0);
      return 0;
    case WM_SETFOCUS:
      if (control) control->Focus();
      return 0;
    case WM_WINDOWPOSCHANGED:
      if (link && lParam) {
        const auto* pos = reinterpret_cast<const TWindowPos*>(lParam);
        link->MoveTo(TRect{pos->x, pos->y, pos->x + pos->cx, pos->y + pos->cy});
      }
      return 0;
    default: break;
  }
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

class TItemProcs {
 public:
  LRESULT Proc(HWND h, uint32_t m, WPARAM w, LPARAM l) {
    return g_host ? g_host->ItemProc(h, m, w, l) : DefWindowProc(h, m, w, l);
  }
};
TItemProcs g_item_procs;

}  // namespace

void InitializeDialogHost() {
  if (g_host) return;
  TWndClass wc;
  wc.class_name = kItemClass;
  wc.proc = TWndProc::Bind<&TItemProcs::Proc>(&g_item_procs);
  RegisterClass(wc);
  // A fixed frame with a caption, no taskbar button.
  g_dialog_style = MakeRef<TWinFormStyle>(5, false, false, false, false);
  g_host = new TToolkitDialogHost();
  g_previous = SetDialogHost(g_host);
}

void FinalizeDialogHost() {
  if (!g_host) return;
  SetDialogHost(g_previous);
  g_previous = nullptr;
  delete g_host;
  g_host = nullptr;
  g_dialog_style = nullptr;
  UnregisterClass(kItemClass, 0);
}

TFrameControl* DialogItemControl(win::HWND item) {
  TDialogItemLink* link = g_host ? g_host->Link(item) : nullptr;
  return link ? link->Control : nullptr;
}

}  // namespace kav
