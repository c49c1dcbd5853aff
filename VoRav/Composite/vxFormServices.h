// Menu descriptions the toolkit's controls offer, and the edit context
// menu of the text-entry controls ("EditContextMenu": Undo, Redo, Cut,
// Copy, Paste, Delete, Select All). GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxEvents.h"

namespace kav {

class TMenuDesc;

struct TMenuItem {
  std::u16string Caption;
  int32_t Command = 0;  // 0 for a separator
  Ref<TMenuDesc> Sub;   // a sub-menu instead of a command
  bool Disabled = false;
};

class TMenuDesc : public TEvents {
 public:
  explicit TMenuDesc(const std::u16string& name);

  const std::u16string& Name() const { return name_; }
  int32_t Count() const { return count_; }
  TMenuItem& Item(int32_t index);
  // Appends an item: a command, enabled or not.
  void AddItem(const std::u16string& caption, int32_t command, bool enabled);
  // Appends a separator (caption "-", the record of number 0).
  void AddSeparator(bool enabled);
  // Appends a sub-menu.
  void AddSubMenu(const std::u16string& caption, TMenuDesc* sub, bool enabled);
  // The first item of a command, or nil.
  TMenuItem* FindCommand(int32_t command);
  int32_t Capacity() const { return capacity_; }

  // Two values the menu's user may set; -1 until then.
  int32_t Value1 = -1;
  int32_t Value2 = -1;

 protected:
  void Dispose() override;

 private:
  TMenuItem& Append();
  std::u16string name_;
  TMenuItem* items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

// The edit menu's commands.
enum TEditCommand : int32_t {
  ecUndo = 1,
  ecRedo = 2,
  ecCut = 3,
  ecCopy = 4,
  ecPaste = 5,
  ecDelete = 6,
  ecSelectAll = 7,
};

// Start-up: builds the edit context menu (again after finalisation).
void InitEditContextMenu();
// Finalisation: frees it.
void FinalizeEditContextMenu();
// The edit context menu (nil outside start-up and finalisation).
TMenuDesc* EditContextMenu();

// What an edit control tells the menu before showing it.
struct TEditMenuState {
  bool CanUndo = false;
  bool CanRedo = false;
  bool HasSelection = false;
  bool AllSelected = false;
  bool HasText = false;
  bool ReadOnly = false;
  bool CanPaste = false;  // the clipboard holds text (ClipboardHasText)
};
// Enables the edit commands that apply in `state`: nothing that changes a
// read-only text; Cut, Copy and Delete need a selection; Paste needs text on
// the clipboard; Select All needs text not yet all selected.
void SetEditMenuState(TMenuDesc* menu, const TEditMenuState& state);
// Whether the global clipboard holds text.
bool ClipboardHasText();

}  // namespace kav
