// TList: the growable list of pointers and objects.
//
// Items are untyped pointers. A list does not own its items unless its owner
// says so by calling FreeAll; FreeAll releases each item through the list's
// item-free routine, which by default treats items as TRefObject descendants
// and drops one reference with RefRelease. Lists of other objects set their
// own routine (TList::DeleteItem<T> for objects deleted with `delete`).
// A TRefObject descendant is stored by its own address; TRefObject is always
// the first base of the library's classes, so that address is the object's.
//
// Not thread-safe: callers serialise changes. Reading (Get, IndexOf, Count,
// FindInstanceOf) never changes the list, so several threads may read a list
// that nobody changes.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/vxSorter.h"

namespace kav {

class TList : public TRefObject {
 public:
  // Count must stay below this; a list holding it is full.
  static constexpr int32_t kMaxCount = 0x7FFFFFF;

  using TCompare = int32_t (*)(void* a, void* b);
  using TCompareWithContext = int32_t (*)(void* context, void* a, void* b);
  using TItemFree = void (*)(void* item);

  TList() = default;

  int32_t Count() const noexcept { return count_; }
  // Length of the item array; slots from Count() on are nil.
  int32_t Capacity() const noexcept { return static_cast<int32_t>(items_.size()); }

  // The item, nil outside 0..Count()-1.
  void* Get(int32_t index) const noexcept {
    return index >= 0 && index < count_ ? items_[static_cast<size_t>(index)] : nullptr;
  }
  template <class T>
  T* GetAs(int32_t index) const noexcept { return static_cast<T*>(Get(index)); }
  // Stores at an existing index; any other index is an assertion.
  void Put(int32_t index, void* item);
  // Stores at any index >= 0, raising Count to index + 1 first when needed.
  // A negative index, or one that would make the list full, is an assertion.
  virtual void SetItem(int32_t index, void* item);

  // Appends; returns the index, or -1 when the list is full.
  int32_t Add(void* item);
  // Inserts at 0..Count(), shifting later items up; false when the index is
  // out of range or the list is full.
  bool Insert(int32_t index, void* item);
  // Removes the item at index (ignored outside the range), shifting later items down.
  void Delete(int32_t index);
  // Get then Delete: the item removed, nil for a bad index. Nothing is released.
  void* Extract(int32_t index);
  // Deletes the first slot holding the pointer; its former index, or -1.
  int32_t Remove(const void* item);
  int32_t IndexOf(const void* item) const noexcept;
  void* First() const noexcept { return Get(0); }
  void* Last() const noexcept { return Get(count_ - 1); }
  // Swaps two items; an index outside the list is an assertion.
  void Exchange(int32_t i, int32_t j);

  // Empties the list and frees the array; the items are not touched.
  void Clear() noexcept;
  // Sets Count; ignored for n < 0, n >= kMaxCount or n == Count(). Growing
  // makes the array exactly n long when it is shorter, with nil in the new
  // slots; lowering clears the dropped slots (their items are not released).
  void SetCount(int32_t n);

  // Releases every non-nil item through the item-free routine, then Clear.
  void FreeAll();
  // Like FreeAll, but the items are taken out of the list first, so the list
  // is empty (and may be used) while they are released; the emptied array is
  // given back when the list is still empty afterwards.
  void FreeAllDetached();

  // Quicksort of all items (not stable).
  void Sort(TCompare compare);
  void SortWithContext(TCompareWithContext compare, void* context);

  // True and the index of the first item that is a T (or a descendant).
  // Only for lists of TRefObject descendants (nil items are skipped).
  template <class T>
  bool FindInstanceOf(int32_t& index) const {
    for (int32_t i = 0; i < count_; ++i) {
      if (void* p = items_[static_cast<size_t>(i)]) {
        if (dynamic_cast<T*>(static_cast<TRefObject*>(p))) {
          index = i;
          return true;
        }
      }
    }
    index = -1;
    return false;
  }

  // The routine FreeAll uses for each item; nil restores the default
  // (RefRelease of a TRefObject).
  void SetItemFree(TItemFree proc) noexcept { item_free_ = proc ? proc : &ReleaseRefItem; }
  TItemFree ItemFree() const noexcept { return item_free_; }

  static void ReleaseRefItem(void* item);
  template <class T>
  static void DeleteItem(void* item) { delete static_cast<T*>(item); }

 protected:
  // Empties the list without releasing the items.
  void Dispose() override;

 private:
  // Raises Count by n, growing the array (4 at a time up to 8, 16 at a time
  // up to 64, doubling above); false when the list would be full.
  bool Grow(int32_t n);

  std::vector<void*> items_;
  int32_t count_ = 0;
  TItemFree item_free_ = &ReleaseRefItem;
};

// Sets the variable to nil while the list's items are released, then puts the
// list back, so that code run by the releases does not find the list.
void FreeListItemsDetached(TList*& list);

// The sorter TList::Sort runs: compares items with a plain routine.
class TListSorter : public TSorter {
 public:
  TListSorter(TList* list, TList::TCompare compare) : list_(list), compare_(compare) {}
  int32_t Count() const override { return list_->Count(); }
  int32_t Compare(int32_t i, int32_t j) const override { return compare_(list_->Get(i), list_->Get(j)); }
  // The key is an item pointer.
  int32_t CompareKey(const void* key, int32_t j) const override {
    return compare_(const_cast<void*>(key), list_->Get(j));
  }
  void Swap(int32_t i, int32_t j) override { list_->Exchange(i, j); }

 private:
  TList* list_;
  TList::TCompare compare_;
};

// The sorter TList::SortWithContext runs: the routine also gets a context value.
class TListSorter2 : public TSorter {
 public:
  TListSorter2(TList* list, TList::TCompareWithContext compare, void* context)
      : list_(list), compare_(compare), context_(context) {}
  int32_t Count() const override { return list_->Count(); }
  int32_t Compare(int32_t i, int32_t j) const override {
    return compare_(context_, list_->Get(i), list_->Get(j));
  }
  int32_t CompareKey(const void* key, int32_t j) const override {
    return compare_(context_, const_cast<void*>(key), list_->Get(j));
  }
  void Swap(int32_t i, int32_t j) override { list_->Exchange(i, j); }

 private:
  TList* list_;
  TList::TCompareWithContext compare_;
  void* context_;
};

}  // namespace kav
