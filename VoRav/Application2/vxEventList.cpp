#include "VoRav/Application2/vxEventList.h"

namespace kav {

TEventList::TEventList(int32_t bucket_count, uint32_t first_id)
    : lock_(MakeRef<TCriticalSection>()),
      bucket_count_(bucket_count < 2 ? 1 : (bucket_count > kMaxBuckets ? kMaxBuckets : bucket_count)),
      counter_(first_id) {}

uint32_t TEventList::NewEventId() { return counter_.fetch_add(1) + 1; }

TEventListItem* TEventList::GetBucket(uint32_t id) const {
  size_t index = BucketIndex(id);
  return index < buckets_.size() ? buckets_[index] : nullptr;
}

void TEventList::SetBucket(uint32_t id, TEventListItem* item) {
  size_t index = BucketIndex(id);
  if (buckets_.size() <= index) buckets_.resize(index + 1, nullptr);
  buckets_[index] = item;
}

int32_t TEventList::BucketArrayLength() {
  TLockScope<TCriticalSection> guard(lock_.get());
  return static_cast<int32_t>(buckets_.size());
}

void TEventList::AddHandler(uint32_t id, TEventListHandler handler) {
  TLockScope<TCriticalSection> guard(lock_.get());
  SetBucket(id, new TEventListItem(id, handler, GetBucket(id)));
}

void TEventList::RemoveHandler(uint32_t id, TEventListHandler handler) {
  TEventListItem* found = nullptr;
  {
    TLockScope<TCriticalSection> guard(lock_.get());
    TEventListItem* prev = nullptr;
    for (TEventListItem* item = GetBucket(id); item; prev = item, item = item->Next) {
      if (item->Id != id || !(item->Handler == handler)) continue;
      found = item;
      break;
    }
    if (!found) return;
    if (prev) {
      prev->Next = found->Next;
    } else if (!found->Next && BucketIndex(id) + 1 == buckets_.size()) {
      buckets_.pop_back();
    } else {
      SetBucket(id, found->Next);
    }
    // A pass that holds the item skips it from now on (a reference count
    // alone cannot tell: two passes on two threads hold two references).
    found->Removed = true;
  }
  RefRelease(found);
}

void TEventList::Notify(TRefObject* sender, uint32_t id, void* param) {
  lock_->Enter();
  NotifyChain(GetBucket(id), sender, param, id);
}

void TEventList::NotifyChain(TEventListItem* item, TRefObject* sender, void* param, uint32_t id) {
  // The matching items are collected with a reference each under the lock and
  // called after it is left, oldest (last in the chain) first. A loop rather
  // than one recursion level per item: a long chain cannot exhaust the stack.
  constexpr size_t kInline = 32;
  TEventListItem* inline_items[kInline];
  std::vector<TEventListItem*> more;
  size_t count = 0;
  for (; item; item = item->Next) {
    if (item->Id != id) continue;
    RefAddRef(item);
    if (count < kInline) {
      inline_items[count] = item;
    } else {
      if (more.empty()) more.assign(inline_items, inline_items + kInline);
      more.push_back(item);
    }
    ++count;
  }
  lock_->Leave();
  TEventListItem** items = count > kInline ? more.data() : inline_items;
  size_t i = count;
  try {
    for (; i > 0; --i) {
      TEventListItem* it = items[i - 1];
      if (!it->Removed.load()) it->Handler(sender, id, param);
      RefRelease(it);
    }
  } catch (...) {
    // The call that raised still holds its reference: drop it and the rest.
    for (; i > 0; --i) RefRelease(items[i - 1]);
    throw;
  }
}

void TEventList::Clear() {
  std::vector<TEventListItem*> items;
  {
    TLockScope<TCriticalSection> guard(lock_.get());
    for (TEventListItem* head : buckets_) {
      for (TEventListItem* item = head; item; item = item->Next) {
        item->Removed = true;
        items.push_back(item);
      }
    }
    buckets_.clear();
    buckets_.shrink_to_fit();
  }
  for (TEventListItem* item : items) RefRelease(item);
}

void TEventList::AddHandlers(std::span<const uint32_t> ids, TEventListHandler handler) {
  for (uint32_t id : ids) AddHandler(id, handler);
}

void TEventList::RemoveHandlers(std::span<const uint32_t> ids, TEventListHandler handler) {
  for (uint32_t id : ids) RemoveHandler(id, handler);
}

uint32_t TEventList::AddHandlerNewId(TEventListHandler handler) {
  uint32_t id = NewEventId();
  AddHandler(id, handler);
  return id;
}

void TEventList::Dispose() {
  Clear();
  lock_ = nullptr;
  TCustomEventList::Dispose();
}

}  // namespace kav
