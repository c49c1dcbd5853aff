#include "VoRav/Composite/vxFormServices.h"

#include "VoRav/Composite/vxClipbrd.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {
TMenuDesc* g_edit_menu = nullptr;  // owns one reference
}  // namespace

TMenuDesc::TMenuDesc(const std::u16string& name) : TEvents(nullptr, 16), name_(name) { SetOwner(this); }

TMenuItem& TMenuDesc::Item(int32_t index) {
  KAV_ASSERT(index >= 0 && index < count_);
  return items_[index];
}

TMenuItem& TMenuDesc::Append() {
  if (count_ == capacity_) {
    const int32_t grown = capacity_ ? capacity_ * 2 : 16;
    auto* items = new TMenuItem[size_t(grown)];
    for (int32_t i = 0; i < count_; ++i) items[i] = std::move(items_[i]);
    delete[] items_;
    items_ = items;
    capacity_ = grown;
  }
  KAV_ASSERT(count_ < capacity_);
  return items_[count_++];
}

void TMenuDesc::AddItem(const std::u16string& caption, int32_t command, bool enabled) {
  TMenuItem& item = Append();
  item.Caption = caption;
  item.Command = command;
  item.Disabled = !enabled;
}

void TMenuDesc::AddSeparator(bool enabled) { AddItem(u"-", 0, enabled); }

void TMenuDesc::AddSubMenu(const std::u16string& caption, TMenuDesc* sub, bool enabled) {
  TMenuItem& item = Append();
  item.Caption = caption;
  item.Sub = Ref<TMenuDesc>(sub);
  item.Disabled = !enabled;
}

TMenuItem* TMenuDesc::FindCommand(int32_t command) {
  for (int32_t i = 0; i < count_; ++i)
    if (!items_[i].Sub && items_[i].Command == command) return &items_[i];
  return nullptr;
}

void TMenuDesc::Dispose() {
  delete[] items_;  // releases every item's caption and sub-menu
  items_ = nullptr;
  count_ = capacity_ = 0;
  TEvents::Dispose();
}

void InitEditContextMenu() {
  FinalizeEditContextMenu();
  auto* m = new TMenuDesc(u"EditContextMenu");
  m->AddItem(u"Undo", ecUndo, true);
  m->AddItem(u"Redo", ecRedo, true);
  m->AddSeparator(true);
  m->AddItem(u"Cut", ecCut, true);
  m->AddItem(u"Copy", ecCopy, true);
  m->AddItem(u"Paste", ecPaste, true);
  m->AddItem(u"Delete", ecDelete, true);
  m->AddSeparator(true);
  m->AddItem(u"Select All", ecSelectAll, true);
  g_edit_menu = m;
}

void FinalizeEditContextMenu() {
  if (TMenuDesc* m = g_edit_menu) {
    g_edit_menu = nullptr;
    RefRelease(m);
  }
}

TMenuDesc* EditContextMenu() { return g_edit_menu; }

void SetEditMenuState(TMenuDesc* menu, const TEditMenuState& s) {
  if (!menu) return;
  const bool writable = !s.ReadOnly;
  auto set = [&](int32_t command, bool enabled) {
    if (TMenuItem* item = menu->FindCommand(command)) item->Disabled = !enabled;
  };
  set(ecUndo, writable && s.CanUndo);
  set(ecRedo, writable && s.CanRedo);
  set(ecCut, writable && s.HasSelection);
  set(ecCopy, s.HasSelection);
  set(ecPaste, writable && s.CanPaste);
  set(ecDelete, writable && s.HasSelection);
  set(ecSelectAll, s.HasText && !s.AllSelected);
}

bool ClipboardHasText() {
  TClipbrd* c = Clipboard();
  return c && c->HasText(u"", false);
}

}  // namespace kav
