#include "VoRav/vxLists.h"

#include <algorithm>
#include <utility>

namespace kav {

void TList::ReleaseRefItem(void* item) { RefRelease(static_cast<TRefObject*>(item)); }

void TList::Dispose() {
  Clear();
  TRefObject::Dispose();
}

bool TList::Grow(int32_t n) {
  int64_t wanted = int64_t{count_} + n;
  if (n < 1 || wanted >= kMaxCount) return false;
  int64_t cap = Capacity();
  if (cap < wanted) {
    while (cap < wanted) {
      if (cap <= 8)
        cap += 4;
      else if (cap <= 64)
        cap += 16;
      else
        cap *= 2;
    }
    cap = std::min<int64_t>(cap, kMaxCount);
    items_.resize(static_cast<size_t>(cap), nullptr);
  }
  count_ = static_cast<int32_t>(wanted);
  return true;
}

void TList::Put(int32_t index, void* item) {
  KAV_ASSERT_MSG(index >= 0 && index < count_, "List index out of bounds");
  items_[static_cast<size_t>(index)] = item;
}

void TList::SetItem(int32_t index, void* item) {
  KAV_ASSERT_MSG(index >= 0, "List index out of bounds");
  if (index >= count_) KAV_ASSERT_MSG(Grow(index + 1 - count_), "List is full");
  items_[static_cast<size_t>(index)] = item;
}

int32_t TList::Add(void* item) {
  if (!Grow(1)) return -1;
  items_[static_cast<size_t>(count_ - 1)] = item;
  return count_ - 1;
}

bool TList::Insert(int32_t index, void* item) {
  if (index < 0 || index > count_ || !Grow(1)) return false;
  auto at = items_.begin() + index;
  std::move_backward(at, items_.begin() + (count_ - 1), items_.begin() + count_);
  *at = item;
  return true;
}

void TList::Delete(int32_t index) {
  if (index < 0 || index >= count_) return;
  std::move(items_.begin() + index + 1, items_.begin() + count_, items_.begin() + index);
  --count_;
  items_[static_cast<size_t>(count_)] = nullptr;
}

void* TList::Extract(int32_t index) {
  void* item = Get(index);
  Delete(index);
  return item;
}

int32_t TList::Remove(const void* item) {
  int32_t index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

int32_t TList::IndexOf(const void* item) const noexcept {
  for (int32_t i = 0; i < count_; ++i)
    if (items_[static_cast<size_t>(i)] == item) return i;
  return -1;
}

void TList::Exchange(int32_t i, int32_t j) {
  KAV_ASSERT_MSG(i >= 0 && i < count_ && j >= 0 && j < count_, "List index out of bounds");
  std::swap(items_[static_cast<size_t>(i)], items_[static_cast<size_t>(j)]);
}

void TList::Clear() noexcept {
  std::vector<void*>().swap(items_);
  count_ = 0;
}

void TList::SetCount(int32_t n) {
  if (n < 0 || n >= kMaxCount || n == count_) return;
  if (n > count_) {
    if (Capacity() < n) items_.resize(static_cast<size_t>(n), nullptr);
  } else {
    std::fill(items_.begin() + n, items_.begin() + count_, nullptr);
  }
  count_ = n;
}

void TList::FreeAll() {
  // Each slot is cleared before its item goes, so a release that looks at
  // the list never meets a freed item.
  for (int32_t i = 0; i < count_; ++i) {
    if (void* item = std::exchange(items_[static_cast<size_t>(i)], nullptr)) item_free_(item);
  }
  Clear();
}

void TList::FreeAllDetached() {
  std::vector<void*> items;
  items.swap(items_);
  int32_t n = std::exchange(count_, 0);
  for (int32_t i = 0; i < n; ++i) {
    if (void* item = std::exchange(items[static_cast<size_t>(i)], nullptr)) item_free_(item);
  }
  if (count_ == 0 && items_.empty()) items_.swap(items);
}

void TList::Sort(TCompare compare) {
  if (count_ < 2) return;
  MakeRef<TListSorter>(this, compare)->Sort();
}

void TList::SortWithContext(TCompareWithContext compare, void* context) {
  if (count_ < 2) return;
  MakeRef<TListSorter2>(this, compare, context)->Sort();
}

void FreeListItemsDetached(TList*& list) {
  TList* held = std::exchange(list, nullptr);
  if (held) held->FreeAll();
  list = held;
}

}  // namespace kav
