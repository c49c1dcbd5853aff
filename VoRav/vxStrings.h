// TStringList: a list of wide texts, each with an attached object, optionally
// sorted and optionally case-insensitive.
//
// Slots of the list may be empty (nil); an empty slot reads as an empty text
// without object, and sorts and compares exactly like an item whose text is
// empty. Attached objects are untyped pointers the list does not own: only
// ClearObjects(true) releases them, through the list's object-free routine
// (RefRelease of a TRefObject by default, as for TList).
//
// Not thread-safe: callers serialise changes. The reading operations (Count,
// GetString, GetObject, IndexOf, Find, Compare) change nothing; GetItem makes
// the item of an empty slot and is a change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "VoRav/vxLists.h"

namespace kav {

// Anything that can hand out a sequence of texts.
class IStrings {
 public:
  virtual int32_t Count() const = 0;
  // The text at an index; empty for a bad index.
  virtual std::u16string GetString(int32_t index) const = 0;

 protected:
  ~IStrings() = default;
};

class TStringItem : public TRefObject {
 public:
  TStringItem() = default;
  const std::u16string& Text() const noexcept { return text_; }
  void* Object() const noexcept { return object_; }
  virtual void SetText(std::u16string_view text) { text_.assign(text); }
  virtual void SetObject(void* object) { object_ = object; }
  // Copies text and object (the object is shared, not duplicated).
  virtual void Assign(const TStringItem& source) {
    SetText(source.text_);
    SetObject(source.object_);
  }

 private:
  std::u16string text_;
  void* object_ = nullptr;
};

class TStringList : public TSorter, public IStrings {
 public:
  TStringList();

  bool IgnoreCase() const noexcept { return ignore_case_; }
  bool Sorted() const noexcept { return sorted_; }
  // Switching on sorts at once.
  void SetSorted(bool sorted);
  // Re-sorts when sorted and the flag changed.
  void SetIgnoreCase(bool ignore_case);

  int32_t Count() const override { return items_->Count(); }
  // Ordinal (or folded, with IgnoreCase) comparison of the texts of i and j.
  int32_t Compare(int32_t i, int32_t j) const override;
  // The key is a std::u16string_view.
  int32_t CompareKey(const void* key, int32_t j) const override;
  void Swap(int32_t i, int32_t j) override { items_->Exchange(i, j); }

  // A new item for the list; descendants make their own item classes.
  virtual TStringItem* NewItem() { return new TStringItem; }
  // With IgnoreCase: equal after case folding; else equal unit for unit.
  virtual bool SameText(std::u16string_view a, std::u16string_view b) const;
  // With IgnoreCase: the folded comparison; else -1, 0 or 1 by UTF-16 units.
  virtual int32_t CompareStrings(std::u16string_view a, std::u16string_view b) const;

  // Releases the items beyond n; new slots are empty.
  virtual void SetCount(int32_t n);
  // The item at a valid index, made on first use for an empty slot; nil
  // outside the list.
  virtual TStringItem* GetItem(int32_t index);
  // The item or nil (an empty slot or a bad index); never makes one.
  TStringItem* PeekItem(int32_t index) const noexcept { return items_->GetAs<TStringItem>(index); }
  // The text; empty for an empty slot or a bad index.
  std::u16string GetString(int32_t index) const override;
  // The object; nil when absent.
  void* GetObject(int32_t index) const noexcept;
  // Sets the text of the item, then re-sorts when sorted. A bad index is an
  // assertion.
  virtual void SetString(int32_t index, std::u16string_view text);

  // Releases all items; their objects are not touched.
  virtual void Clear();
  // With free_objects, each item's object is detached and released through
  // the object-free routine first; then Clear.
  virtual void ClearObjects(bool free_objects);
  // The same count as the source, each item's text and object copied (the
  // objects are shared); re-sorts when sorted.
  virtual void Assign(const TStringList& source);
  // Texts only, from any sequence of texts; re-sorts when sorted.
  virtual void AssignStrings(const IStrings& source);
  // Appends copies of the other list's items (texts and objects); re-sorts
  // when sorted.
  virtual void AddList(const TStringList& source);
  // Appends the texts; re-sorts when sorted.
  virtual void AddStrings(const IStrings& source);
  int32_t Add(std::u16string_view text) { return AddObject(text, nullptr); }
  // Sorted: inserted where Find places it (before an equal text); else
  // appended. The index, or -1 when the list is full.
  virtual int32_t AddObject(std::u16string_view text, void* object);
  // Index 0..Count(); re-sorts when sorted. False when out of range or full.
  virtual bool Insert(int32_t index, std::u16string_view text);
  // Removes the item; its object is not released. Ignored for a bad index.
  void Delete(int32_t index) { Extract(index); }
  // Removes the item and returns its object without releasing it (nil for a
  // bad index).
  virtual void* Extract(int32_t index);
  // Not sorted: the first item whose text is SameText; sorted: Find. -1 when absent.
  virtual int32_t IndexOf(std::u16string_view text) const;
  // Binary search (the list must be sorted); see TSorter::Find.
  bool Find(std::u16string_view text, int32_t& index) const { return TSorter::Find(&text, index); }
  bool FindInRange(std::u16string_view text, int32_t first, int32_t& index, int32_t last) const {
    return TSorter::FindInRange(&text, first, index, last);
  }
  // A literal is a text, not one of the sorter's key pointers.
  bool Find(const char16_t* text, int32_t& index) const { return Find(std::u16string_view(text), index); }
  bool FindInRange(const char16_t* text, int32_t first, int32_t& index, int32_t last) const {
    return FindInRange(std::u16string_view(text), first, index, last);
  }

  void SetObjectFree(TList::TItemFree proc) noexcept { object_free_ = proc ? proc : &TList::ReleaseRefItem; }

 protected:
  // Clear, then frees the item list.
  void Dispose() override;

 private:
  const std::u16string& TextAt(int32_t index) const noexcept;
  // The sorter's key-pointer searches: in scope so that the text searches do
  // not hide them, private so that a stray pointer cannot reach them.
  using TSorter::Find;
  using TSorter::FindInRange;

  TList* items_;
  bool ignore_case_ = false;
  bool sorted_ = false;
  TList::TItemFree object_free_ = &TList::ReleaseRefItem;
};

// Helpers for routines that collect texts through a context pointer: `owner`
// is the address of a TStringList* (nothing happens when it holds nil).
void StringListOwnerClear(void* owner);
void StringListOwnerAdd(void* owner, std::u16string_view text);

}  // namespace kav
