// Event lists: handler methods registered under 32-bit event ids.
//
// Any object registers a handler under an id, removes it again, and raises
// the id with a sender and a parameter; every handler registered under that
// id is called, the oldest first, on the thread that raises it, and never
// under the list's lock (a handler may add, remove or raise). Ids are drawn
// per list with NewEventId (1, 2, 3, ...).
//
// TPostEventList adds handing an event to the thread that owns the list:
// the application (GUI thread) and the worker-thread queues realise it.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "VoRav/vxDelegate.h"
#include "VoRav/wpLocks.h"

namespace kav {

// handler(sender, event id, parameter).
using TEventListHandler = TDelegate<void(TRefObject* sender, uint32_t id, void* param)>;

// One registration. The list holds one reference on it.
class TEventListItem : public TRefObject {
 public:
  TEventListItem(uint32_t id, TEventListHandler handler, TEventListItem* next)
      : Next(next), Id(id), Handler(handler) {}
  TEventListItem* Next;
  uint32_t Id;
  TEventListHandler Handler;
  // Set under the list's lock when the registration is removed.
  std::atomic<bool> Removed{false};
};

class TCustomEventList : public TRefObject {
 public:
  virtual uint32_t NewEventId() = 0;
  virtual void AddHandler(uint32_t id, TEventListHandler handler) = 0;
  virtual void RemoveHandler(uint32_t id, TEventListHandler handler) = 0;
  virtual void Notify(TRefObject* sender, uint32_t id, void* param) = 0;
};

class TEventList : public TCustomEventList {
 public:
  static constexpr int32_t kMaxBuckets = 4096;

  // A bucket count below 2 gives 1 bucket, above 4096 gives 4096; the id
  // counter starts at `first_id`, so the first NewEventId is first_id + 1.
  explicit TEventList(int32_t bucket_count = 16, uint32_t first_id = 0);

  // Atomic; unique within this list only.
  uint32_t NewEventId() override;
  // The newest registration of a bucket is its head. No duplicate check:
  // a handler registered twice is called twice.
  void AddHandler(uint32_t id, TEventListHandler handler) override;
  // Removes the first registration matching id and handler; none, nothing.
  // Once this returns, a pass that has not reached the handler yet skips it.
  void RemoveHandler(uint32_t id, TEventListHandler handler) override;
  // Calls every handler of the id, oldest first, outside the lock.
  void Notify(TRefObject* sender, uint32_t id, void* param) override;
  // Releases every registration and empties the bucket array.
  virtual void Clear();

  void AddHandlers(std::span<const uint32_t> ids, TEventListHandler handler);
  void RemoveHandlers(std::span<const uint32_t> ids, TEventListHandler handler);
  // Draws an id, registers the handler under it and returns the id.
  uint32_t AddHandlerNewId(TEventListHandler handler);

  int32_t BucketCount() const noexcept { return bucket_count_; }
  // Current length of the bucket array (it grows only up to the highest
  // bucket in use). For tests.
  int32_t BucketArrayLength();

 protected:
  void Dispose() override;
  // Chain head of the id's bucket; none beyond the array. Lock held.
  TEventListItem* GetBucket(uint32_t id) const;
  // Stores a chain head, growing the array when needed. Lock held.
  void SetBucket(uint32_t id, TEventListItem* item);
  // Calls the handlers of `id` found in the chain from `item`, oldest first.
  // Entered with the lock held; leaves it before any handler runs.
  void NotifyChain(TEventListItem* item, TRefObject* sender, void* param, uint32_t id);

 private:
  size_t BucketIndex(uint32_t id) const { return id % static_cast<uint32_t>(bucket_count_); }

  std::vector<TEventListItem*> buckets_;
  Ref<TCriticalSection> lock_;
  int32_t bucket_count_;
  std::atomic<uint32_t> counter_;
};

// An event list whose events can be handed to the thread that owns it.
class TPostEventList : public TEventList {
 public:
  TPostEventList() : TEventList(kMaxBuckets, 0) {}
  // Queues the event and returns at once. The list takes over one reference
  // of `data` (nil allowed) and releases it after the handlers ran, or at
  // once when it no longer takes events.
  virtual void PostEvent(uint32_t id, TRefObject* data) = 0;
  // Queues the event and waits until the owner thread has run its handlers.
  // `data` stays the caller's.
  virtual void SendEvent(uint32_t id, TRefObject* data) = 0;
};

}  // namespace kav
