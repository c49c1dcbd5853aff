#include "VoRav/Composite/vxThemedRadioButton.h"

#include "platform/window/WinCodes.h"

namespace kav {

TThemedFrameRadioButton::TThemedFrameRadioButton(TDrawFrame* frame, TControlStyles* styles,
                                                 TRadioButtonTheme* painter)
    : TThemedCheckControl(frame, styles, painter) {
  bool other_tab_stop = false, other_checked = false;
  for (TFrameRadioButton* b : Group(true, true)) {
    other_tab_stop = other_tab_stop || b->GetTabStop();
    other_checked = other_checked || b->Checked();
  }
  if (!other_tab_stop) SetTabStop(true);
  RefreshPicture();
  if (!other_checked) SetChecked(true);
}

std::vector<TFrameRadioButton*> TThemedFrameRadioButton::Group(bool forward, bool wrap) {
  std::vector<TFrameRadioButton*> out;
  TFrameControl* parent = GetParentControl();
  TFrameControl* c = this;
  for (;;) {
    c = forward ? c->GetNextSibling() : c->GetPreviousSibling();
    if (!c) {
      if (!wrap || !parent) break;
      c = forward ? parent->GetFirstChild() : parent->GetLastChild();
      wrap = false;  // one turn
      if (!c) break;
    }
    if (c == this) break;
    if (auto* b = dynamic_cast<TFrameRadioButton*>(c)) out.push_back(b);
  }
  return out;
}

void TThemedFrameRadioButton::TakeTabStop() {
  SetTabStop(true);
  for (TFrameRadioButton* b : Group(true, true)) b->SetTabStop(false);
}

void TThemedFrameRadioButton::StateChanged() {
  if (checked_) {
    TakeTabStop();
    for (TFrameRadioButton* b : Group(true, true)) b->SetChecked(false);
  }
  TThemedCheckControl::StateChanged();
}

void TThemedFrameRadioButton::FocusedInParent(bool value) {
  TThemedCheckControl::FocusedInParent(value);
  if (value) TakeTabStop();
}

void TThemedFrameRadioButton::KeyPreview(TKeyData* key) {
  TThemedCheckControl::KeyPreview(key);
  if (key->Handled || !IsEnabled() || key->Kind != 1) return;
  bool forward;
  if (key->Key == win::VK_LEFT || key->Key == win::VK_UP)
    forward = false;
  else if (key->Key == win::VK_RIGHT || key->Key == win::VK_DOWN)
    forward = true;
  else
    return;
  for (TFrameRadioButton* b : Group(forward, true))
    if (b->IsEnabled()) {
      key->Handled = true;
      b->Focus();
      return;
    }
}

// The click event follows, as a check box's click raises it.
void TThemedFrameRadioButton::ClickByMouse() {
  SetChecked(true);
  Click();
}

TFrameRadioButton* AllocThemedFrameRadioButton(TDrawFrame* frame, TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  TRadioButtonTheme* painter = RadioButtonThemeOf(styles);
  return new TThemedFrameRadioButton(frame, styles, painter);
}

void InitThemedRadioButton() { _AllocFrameRadioButton = AllocThemedFrameRadioButton; }

}  // namespace kav
