#include "VoRav/vxHashLists.h"

#include <algorithm>
#include <utility>

namespace kav {

// ---- TKeyItem ------------------------------------------------------------

TKeyItem::TKeyItem(THashItem* bucket, std::u16string_view key) : key_(key) {
  KAV_ASSERT_MSG(bucket != nullptr, "TKeyItem: nil bucket");
  bucket_ = bucket;
  prev_ = bucket->last_;
  if (prev_)
    prev_->next_ = this;
  else
    bucket->first_ = this;
  bucket->last_ = this;
  if (THashList* owner = bucket->owner_) owner->InvalidateCache();
}

TKeyItem::~TKeyItem() {
  // Reached without Dispose only when a descendant's constructor failed.
  Unlink(false);
}

void TKeyItem::Dispose() {
  Unlink(true);
  TList::Dispose();
}

void TKeyItem::Unlink(bool notify) {
  THashItem* bucket = std::exchange(bucket_, nullptr);
  if (!bucket) return;
  if (prev_) {
    prev_->next_ = next_;
  } else {
    KAV_ASSERT_MSG(bucket->first_ == this, "TKeyItem: broken chain (First)");
    bucket->first_ = next_;
  }
  if (next_) {
    next_->prev_ = prev_;
  } else {
    KAV_ASSERT_MSG(bucket->last_ == this, "TKeyItem: broken chain (Last)");
    bucket->last_ = prev_;
  }
  prev_ = next_ = nullptr;
  if (THashList* owner = bucket->owner_) {
    owner->InvalidateCache();
    if (notify) owner->ItemRemoved(this);
  }
}

// ---- THashList -----------------------------------------------------------

THashList::THashList(int32_t bucket_count) : buckets_(static_cast<size_t>(std::max(bucket_count, 1)), nullptr) {}

void THashList::Dispose() {
  Clear(false);
  for (auto& bucket : buckets_) RefRelease(std::exchange(bucket, nullptr));
  TRefObject::Dispose();
}

THashItem* THashList::BucketAt(int32_t index) const noexcept {
  return index >= 0 && index < BucketCount() ? buckets_[static_cast<size_t>(index)] : nullptr;
}

uint32_t THashList::HashOf(std::u16string_view key) const { return StrHashELF(key); }

THashItem* THashList::GetBucket(uint32_t hash) {
  THashItem*& slot = buckets_[hash % buckets_.size()];
  if (!slot) slot = new THashItem(this);
  return slot;
}

TKeyItem* THashList::NewItem(THashItem* bucket, std::u16string_view key) { return new TKeyItem(bucket, key); }

void THashList::ItemRemoved(TKeyItem*) {}

bool THashList::SameKey(std::u16string_view a, std::u16string_view b) const { return a == b; }

void THashList::InvalidateCache() noexcept {
  cache_item_ = nullptr;
  cache_key_.clear();
}

TKeyItem* THashList::Lookup(std::u16string_view key) const {
  if (cache_item_ && key == cache_key_) return cache_item_;
  const THashItem* bucket = buckets_[HashOf(key) % buckets_.size()];
  for (TKeyItem* item = bucket ? bucket->First() : nullptr; item; item = item->Next())
    if (SameKey(item->Key(), key)) return item;
  return nullptr;
}

bool THashList::Contains(std::u16string_view key) const { return Lookup(key) != nullptr; }

bool THashList::TryFind(std::u16string_view key, TKeyItem*& item) const {
  item = Lookup(key);
  return item != nullptr;
}

TKeyItem* THashList::FindOrAdd(std::u16string_view key) {
  bool added = false;
  return FindOrAddEx(key, added);
}

TKeyItem* THashList::FindOrAddEx(std::u16string_view key, bool& added) {
  TKeyItem* item = Lookup(key);
  added = item == nullptr;
  if (added) {
    item = NewItem(GetBucket(HashOf(key)), key);
    KAV_ASSERT_MSG(item != nullptr, "THashList.NewItem gave no item");
  }
  cache_key_.assign(key);
  cache_item_ = item;
  return item;
}

bool THashList::DeleteKey(std::u16string_view key) {
  TKeyItem* item = Lookup(key);
  if (!item) return false;
  item->Unlink(true);
  RefRelease(item);
  return true;
}

void THashList::Clear(bool free_contents) {
  for (size_t b = buckets_.size(); b-- > 0;) {
    THashItem* bucket = buckets_[b];
    while (bucket && bucket->First()) {
      TKeyItem* item = bucket->First();
      if (free_contents) item->FreeAll();
      item->Unlink(true);
      RefRelease(item);
    }
  }
  InvalidateCache();
}

}  // namespace kav
