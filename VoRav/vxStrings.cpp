#include "VoRav/vxStrings.h"

#include <algorithm>
#include <utility>

#include "VoRav/vxCaseFolding.h"

namespace kav {

namespace {
const std::u16string kEmpty;
}

TStringList::TStringList() : items_(new TList) {}

void TStringList::Dispose() {
  Clear();
  RefRelease(std::exchange(items_, nullptr));
  TSorter::Dispose();
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  sorted_ = sorted;
  if (sorted_) Sort();
}

void TStringList::SetIgnoreCase(bool ignore_case) {
  if (ignore_case == ignore_case_) return;
  ignore_case_ = ignore_case;
  if (sorted_) Sort();
}

const std::u16string& TStringList::TextAt(int32_t index) const noexcept {
  const TStringItem* item = PeekItem(index);
  return item ? item->Text() : kEmpty;
}

// Empty slots read as empty texts, so that an empty slot, an item with an
// empty text and an empty key all compare equal and a sorted list finds any
// of them.
int32_t TStringList::Compare(int32_t i, int32_t j) const { return CompareStrings(TextAt(i), TextAt(j)); }

int32_t TStringList::CompareKey(const void* key, int32_t j) const {
  return CompareStrings(*static_cast<const std::u16string_view*>(key), TextAt(j));
}

bool TStringList::SameText(std::u16string_view a, std::u16string_view b) const {
  return ignore_case_ ? CaseFoldEquals(a, b) : a == b;
}

int32_t TStringList::CompareStrings(std::u16string_view a, std::u16string_view b) const {
  if (ignore_case_) return CompareWideStr(a, b, true);
  int c = a.compare(b);
  return (c > 0) - (c < 0);
}

void TStringList::SetCount(int32_t n) {
  if (n < 0 || n >= TList::kMaxCount) return;
  for (int32_t i = n; i < items_->Count(); ++i) {
    void* item = items_->Get(i);
    items_->Put(i, nullptr);
    RefRelease(static_cast<TStringItem*>(item));
  }
  items_->SetCount(n);
}

TStringItem* TStringList::GetItem(int32_t index) {
  if (index < 0 || index >= items_->Count()) return nullptr;
  auto* item = items_->GetAs<TStringItem>(index);
  if (!item) {
    item = NewItem();
    items_->Put(index, item);
  }
  return item;
}

std::u16string TStringList::GetString(int32_t index) const { return TextAt(index); }

void* TStringList::GetObject(int32_t index) const noexcept {
  const TStringItem* item = PeekItem(index);
  return item ? item->Object() : nullptr;
}

void TStringList::SetString(int32_t index, std::u16string_view text) {
  TStringItem* item = GetItem(index);
  KAV_ASSERT_MSG(item != nullptr, "String list index out of bounds");
  item->SetText(text);
  if (sorted_) Sort();
}

void TStringList::Clear() { SetCount(0); items_->Clear(); }

void TStringList::ClearObjects(bool free_objects) {
  if (free_objects) {
    for (int32_t i = 0; i < items_->Count(); ++i) {
      TStringItem* item = PeekItem(i);
      if (!item || !item->Object()) continue;
      void* object = item->Object();
      item->SetObject(nullptr);
      object_free_(object);
    }
  }
  Clear();
}

void TStringList::Assign(const TStringList& source) {
  if (&source == this) return;
  SetCount(source.Count());
  for (int32_t i = 0; i < source.Count(); ++i) {
    if (const TStringItem* from = source.PeekItem(i)) {
      GetItem(i)->Assign(*from);
    } else if (void* old = items_->Get(i)) {
      items_->Put(i, nullptr);
      RefRelease(static_cast<TStringItem*>(old));
    }
  }
  if (sorted_) Sort();
}

void TStringList::AssignStrings(const IStrings& source) {
  if (static_cast<const IStrings*>(this) == &source) return;
  Clear();
  AddStrings(source);
}

void TStringList::AddList(const TStringList& source) {
  // Counted first: the source may be this list.
  const int32_t n = source.Count();
  for (int32_t i = 0; i < n; ++i) {
    TStringItem* item = NewItem();
    if (const TStringItem* from = source.PeekItem(i)) item->Assign(*from);
    if (items_->Add(item) < 0) {
      RefRelease(item);
      break;
    }
  }
  if (sorted_) Sort();
}

void TStringList::AddStrings(const IStrings& source) {
  const int32_t n = source.Count();
  for (int32_t i = 0; i < n; ++i) {
    TStringItem* item = NewItem();
    item->SetText(source.GetString(i));
    if (items_->Add(item) < 0) {
      RefRelease(item);
      break;
    }
  }
  if (sorted_) Sort();
}

int32_t TStringList::AddObject(std::u16string_view text, void* object) {
  TStringItem* item = NewItem();
  item->SetText(text);
  item->SetObject(object);
  int32_t index = items_->Count();
  if (sorted_) {
    Find(text, index);
    if (!items_->Insert(index, item)) index = -1;
  } else {
    index = items_->Add(item);
  }
  if (index < 0) {
    item->SetObject(nullptr);
    RefRelease(item);
  }
  return index;
}

bool TStringList::Insert(int32_t index, std::u16string_view text) {
  if (index < 0 || index > items_->Count()) return false;
  TStringItem* item = NewItem();
  item->SetText(text);
  if (!items_->Insert(index, item)) {
    RefRelease(item);
    return false;
  }
  if (sorted_) Sort();
  return true;
}

void* TStringList::Extract(int32_t index) {
  if (index < 0 || index >= items_->Count()) return nullptr;
  auto* item = static_cast<TStringItem*>(items_->Extract(index));
  if (!item) return nullptr;
  void* object = item->Object();
  item->SetObject(nullptr);
  RefRelease(item);
  return object;
}

int32_t TStringList::IndexOf(std::u16string_view text) const {
  if (sorted_) {
    int32_t index = -1;
    return Find(text, index) ? index : -1;
  }
  for (int32_t i = 0; i < items_->Count(); ++i)
    if (SameText(TextAt(i), text)) return i;
  return -1;
}

void StringListOwnerClear(void* owner) {
  if (TStringList* list = owner ? *static_cast<TStringList**>(owner) : nullptr) list->Clear();
}

void StringListOwnerAdd(void* owner, std::u16string_view text) {
  if (TStringList* list = owner ? *static_cast<TStringList**>(owner) : nullptr) list->Add(text);
}

}  // namespace kav
