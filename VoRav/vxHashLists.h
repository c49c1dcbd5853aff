// THashList: a chained hash table of keyed items.
//
// The table has a fixed number of buckets (THashItem, made when first
// needed); each bucket chains its TKeyItem entries in the order they were
// added. A TKeyItem is itself a TList, so each key carries a list of values.
// The chains hold one reference to each item; DeleteKey and Clear unlink the
// item and drop that reference (an item someone else still holds lives on,
// detached from the table).
//
// Not thread-safe: callers serialise changes. The lookups Contains and
// TryFind change nothing (no cache update, no bucket creation), so several
// threads may look up in a table that nobody changes. FindOrAdd, FindOrAddEx
// and DeleteKey are changes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/vxHashUtils.h"
#include "VoRav/vxLists.h"

namespace kav {

class THashList;
class TKeyItem;

// One bucket: the chain of items whose hash falls on it.
class THashItem : public TRefObject {
 public:
  explicit THashItem(THashList* owner) noexcept : owner_(owner) {}
  THashList* Owner() const noexcept { return owner_; }
  TKeyItem* First() const noexcept { return first_; }
  TKeyItem* Last() const noexcept { return last_; }

 private:
  friend class TKeyItem;
  THashList* owner_;
  TKeyItem* first_ = nullptr;
  TKeyItem* last_ = nullptr;
};

class TKeyItem : public TList {
 public:
  // Appends the new item at the end of the bucket's chain; the chain takes
  // over the creator's reference. A nil bucket is an assertion.
  TKeyItem(THashItem* bucket, std::u16string_view key);

  const std::u16string& Key() const noexcept { return key_; }
  // Nil once the item has been removed from its table.
  THashItem* Bucket() const noexcept { return bucket_; }
  TKeyItem* Prev() const noexcept { return prev_; }
  TKeyItem* Next() const noexcept { return next_; }

 protected:
  // Unlinks the item when it is still chained, then empties its value list
  // (the values are not released).
  void Dispose() override;
  ~TKeyItem() override;

 private:
  friend class THashList;
  // Takes the item out of its chain (nothing when it is not chained). With
  // `notify` the owner's ItemRemoved hears of it.
  void Unlink(bool notify);

  THashItem* bucket_ = nullptr;
  TKeyItem* prev_ = nullptr;
  TKeyItem* next_ = nullptr;
  std::u16string key_;
};

class THashList : public TRefObject {
 public:
  // A bucket count below 1 counts as 1.
  explicit THashList(int32_t bucket_count);

  int32_t BucketCount() const noexcept { return static_cast<int32_t>(buckets_.size()); }
  // The bucket at a slot, nil when none was made yet or the index is bad.
  THashItem* BucketAt(int32_t index) const noexcept;

  // The hash of a key: StrHashELF, case-sensitive. Descendants with other key
  // rules override HashOf and SameKey together.
  virtual uint32_t HashOf(std::u16string_view key) const;
  // The bucket for a hash (hash mod bucket count), made when missing.
  virtual THashItem* GetBucket(uint32_t hash);
  // Makes the item for a missing key; the base class makes a TKeyItem, which
  // chains itself at the end of the bucket.
  virtual TKeyItem* NewItem(THashItem* bucket, std::u16string_view key);
  // Called whenever an item leaves the table (DeleteKey, Clear, or the item's
  // own release), while the item is still whole.
  virtual void ItemRemoved(TKeyItem* item);
  // Exact, unit for unit.
  virtual bool SameKey(std::u16string_view a, std::u16string_view b) const;
  virtual bool Contains(std::u16string_view key) const;
  // The item of the key, made by NewItem when missing. Owned by the table.
  virtual TKeyItem* FindOrAdd(std::u16string_view key);
  virtual TKeyItem* FindOrAddEx(std::u16string_view key, bool& added);
  // The item of the key (owned by the table), or false and nil.
  virtual bool TryFind(std::u16string_view key, TKeyItem*& item) const;

  // Removes the key's item and drops the table's reference to it; true when
  // there was one.
  bool DeleteKey(std::u16string_view key);
  // Removes every item, from the last bucket to the first, each chain from
  // its first item; with `free_contents` each item's own values are released
  // first (TList::FreeAll). Buckets stay.
  void Clear(bool free_contents);

 protected:
  // Clear(false), then frees the buckets. Owners whose items hold values they
  // own call Clear(true) before this.
  void Dispose() override;

 private:
  friend class TKeyItem;
  TKeyItem* Lookup(std::u16string_view key) const;
  void InvalidateCache() noexcept;

  std::vector<THashItem*> buckets_;
  // The item last found or added by FindOrAdd: repeated additions to one key
  // skip the hash and the chain walk. Dropped on every insertion and removal.
  std::u16string cache_key_;
  TKeyItem* cache_item_ = nullptr;
};

}  // namespace kav
