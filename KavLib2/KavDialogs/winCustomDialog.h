// Dialogs built in memory: a TDialog writes a dialog template (header,
// font, then one item record per TDialogItem) and runs it modally through
// the window layer; its procedure binds the items to their windows, sizes
// the dialog and places the items in pixels, and turns commands into
// DoCommand calls. GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/SysObj2.h"
#include "platform/window/WinDialog.h"

namespace kav {

class TDialog;

class TCustomDialogItem : public TRefObject {
 public:
  std::u16string Caption;
  // Sizes in template units, already scaled to the screen.
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  win::HWND Handle() const { return handle_; }
  // The control window exists / is about to go.
  virtual void Bind(win::HWND window) { handle_ = window; }
  virtual void Unbind() { handle_ = 0; }

 protected:
  win::HWND handle_ = 0;
};

class TDialogItem : public TCustomDialogItem {
 public:
  // Radio buttons are the player's own addition for its printer choice.
  enum : uint8_t { kKindButton = 0, kKindCheckBox = 1, kKindRadioButton = 2, kKindScrollBox = 3 };
  TDialogItem(TDialog* owner, uint16_t id, uint8_t kind) : owner_(owner), id_(id), kind_(kind) {}
  TDialog* Owner() const { return owner_; }
  uint16_t Id() const { return id_; }
  uint8_t Kind() const { return kind_; }
  // The item's window style: the kind's style, or WS_CHILD | WS_VISIBLE.
  virtual uint32_t Style() const;
  // Appends one DWORD-aligned item record (no creation data).
  void WriteTemplate(std::vector<uint8_t>& out) const;

 private:
  TDialog* owner_;
  uint16_t id_;
  uint8_t kind_;
};

class TDialogCustomButton : public TDialogItem {
 public:
  TDialogCustomButton(TDialog* owner, uint16_t id, uint8_t kind);
};

class TDialogButton : public TDialogCustomButton {
 public:
  TDialogButton(TDialog* owner, uint16_t id) : TDialogCustomButton(owner, id, kKindButton) {}
};

class TDialogCheckBox : public TDialogCustomButton {
 public:
  TDialogCheckBox(TDialog* owner, uint16_t id) : TDialogCustomButton(owner, id, kKindCheckBox) {}
  bool Checked() const { return checked_; }
  // The control's state while it exists, else the kept one.
  bool ReadChecked() const;
  // Also sets the control's state while it exists.
  void SetChecked(bool value);
  void Bind(win::HWND window) override;
  // Reads the control's state back before the control goes.
  void Unbind() override;

 protected:
  TDialogCheckBox(TDialog* owner, uint16_t id, uint8_t kind) : TDialogCustomButton(owner, id, kind) {}
  bool checked_ = false;
};

// A radio button; `group_start` begins a new group (one checked in each).
class TDialogRadioButton : public TDialogCheckBox {
 public:
  TDialogRadioButton(TDialog* owner, uint16_t id, bool group_start)
      : TDialogCheckBox(owner, id, kKindRadioButton), group_start_(group_start) {}
  uint32_t Style() const override;

 private:
  bool group_start_;
};

// A box whose content scrolls (a group box with a vertical scroll bar): the
// radio group that follows it lies in it, placed as in the dialog; a group
// taller than the box scrolls in it. The player's own addition for a long
// printer list.
class TDialogScrollBox : public TDialogItem {
 public:
  explicit TDialogScrollBox(TDialog* owner) : TDialogItem(owner, 0, kKindScrollBox) {}
};

class TDialog : public TCustomDialogItem {
 public:
  TDialog();
  // The items in creation order; the dialog owns them.
  const std::vector<Ref<TDialogItem>>& Items() const { return items_; }
  TDialogItem* AddItem(Ref<TDialogItem> item);
  intptr_t ModalResult() const { return modal_result_; }

  // The template: header (style 0x94C809C5, the item count, the size, no
  // menu or class, the caption), the font (8 points scaled to the screen,
  // 9 at exactly 120 dpi; "MS Shell Dlg 2"), then every item.
  std::vector<uint8_t> BuildTemplate() const;
  // Runs the dialog over `owner` and answers the modal result (-1 when it
  // could not be shown).
  intptr_t ShowModal(win::HWND owner);

 protected:
  void Dispose() override;
  // A command of a non-zero id: ends the dialog with the id as its result.
  virtual void DoCommand(uint16_t id);
  intptr_t DialogProc(win::HWND hwnd, uint32_t msg, win::WPARAM wParam, win::LPARAM lParam);

 private:
  std::vector<Ref<TDialogItem>> items_;
  intptr_t modal_result_ = 0;
};

// The dialog font's point size at a resolution.
uint16_t DialogFontPoints(int32_t dpi_y);

}  // namespace kav
