#include "VoRav/Application2/vxThreadEventList.h"

#include <mutex>
#include <unordered_map>

#include "VoRav/wpThreads2.h"

namespace kav {

namespace {

// Which queue each thread drains, so that a waiting sender can run the
// messages sent to its own queue. Entries leave when their queue goes.
std::mutex g_owners_lock;
std::unordered_map<uint32_t, TThreadEventList*>& Owners() {
  static auto* owners = new std::unordered_map<uint32_t, TThreadEventList*>();
  return *owners;
}

void RegisterOwner(uint32_t thread_id, TThreadEventList* list) {
  std::lock_guard<std::mutex> guard(g_owners_lock);
  Owners()[thread_id] = list;
}

void UnregisterOwner(TThreadEventList* list) {
  std::lock_guard<std::mutex> guard(g_owners_lock);
  for (auto it = Owners().begin(); it != Owners().end();) {
    if (it->second == list) it = Owners().erase(it); else ++it;
  }
}

Ref<TThreadEventList> QueueOfCurrentThread() {
  std::lock_guard<std::mutex> guard(g_owners_lock);
  auto it = Owners().find(CurrentThreadId());
  if (it == Owners().end() || !RefTryAddRef(it->second)) return nullptr;
  return Ref<TThreadEventList>::Adopt(it->second);
}

}  // namespace

TMessageItem::TMessageItem(uint32_t code, TRefObject* param, bool sent)
    : Done(sent ? MakeRef<TEvent>() : nullptr), Code(code), Param(param) {}

void TMessageItem::Dispose() {
  if (TRefObject* p = std::exchange(Param, nullptr)) RefRelease(p);
  Done = nullptr;
  TRefObject::Dispose();
}

TThreadEventList::TThreadEventList(TThreadEventHandler handler)
    : lock_(MakeRef<TSafeCriticalSection>()), handler_(handler) {
  Open();
}

void TThreadEventList::SetOwnerThread(uint32_t thread_id) {
  if (owner_thread_.exchange(thread_id) != thread_id) RegisterOwner(thread_id, this);
}

void TThreadEventList::Open() {
  TLockScope<TSafeCriticalSection> guard(lock_.get());
  if (!pending_) pending_ = MakeRef<TList>();
}

bool TThreadEventList::IsClosed() {
  TLockScope<TSafeCriticalSection> guard(lock_.get());
  return !pending_;
}

int32_t TThreadEventList::PendingCount() {
  TLockScope<TSafeCriticalSection> guard(lock_.get());
  return pending_ ? pending_->Count() : 0;
}

void TThreadEventList::Close() {
  Ref<TList> items;
  {
    TLockScope<TSafeCriticalSection> guard(lock_.get());
    items = std::move(pending_);
    sent_waiting_ = 0;
  }
  if (!items) return;
  // Outside the lock: releasing a posted parameter may run any code.
  for (int32_t i = 0; i < items->Count(); ++i) Complete(items->GetAs<TMessageItem>(i));
  items->Clear();
}

void TThreadEventList::PostEvent(uint32_t code, TRefObject* param) {
  Ref<TMessageItem> item = Ref<TMessageItem>::Adopt(new TMessageItem(code, param, false));
  bool queued = false;
  {
    TLockScope<TSafeCriticalSection> guard(lock_.get());
    if (pending_ && pending_->Add(item.get()) >= 0) {
      item.release();  // the queue's reference now
      queued = true;
    }
  }
  if (queued) Queued(0);
  // Not queued: `item` goes here and releases the parameter with it.
}

void TThreadEventList::SendEvent(uint32_t code, TRefObject* param) {
  Ref<TMessageItem> item = Ref<TMessageItem>::Adopt(new TMessageItem(code, param, true));
  const uint32_t self = CurrentThreadId();
  if (self == owner_thread_.load()) {
    // A send to the caller's own queue would wait for ever: it runs now.
    if (!IsClosed()) {
      try {
        Handle(item.get());
      } catch (...) {
        item->Param = nullptr;
        throw;
      }
    }
    item->Param = nullptr;
    return;
  }
  bool queued = false;
  {
    TLockScope<TSafeCriticalSection> guard(lock_.get());
    if (pending_ && pending_->Add(item.get()) >= 0) {
      RefAddRef(item.get());  // the queue's reference
      sent_waiting_++;
      queued = true;
    }
  }
  if (queued) {
    Queued(1);
    Ref<TThreadEventList> own = QueueOfCurrentThread();
    if (!own || own.get() == this) {
      item->Done->WaitForever();
    } else {
      // The receiver may be sending to us meanwhile: keep serving our queue.
      while (!item->Done->WaitFor(1)) own->ProcessSent();
    }
  }
  item->Param = nullptr;  // the parameter stays the caller's
}

Ref<TMessageItem> TThreadEventList::PopMessage(bool sent_only) {
  TLockScope<TSafeCriticalSection> guard(lock_.get());
  if (!pending_) return nullptr;
  for (int32_t i = 0; i < pending_->Count(); ++i) {
    auto* item = pending_->GetAs<TMessageItem>(i);
    if (sent_only && !item->Done) continue;
    pending_->Delete(i);
    if (item->Done) sent_waiting_--;
    return Ref<TMessageItem>::Adopt(item);
  }
  return nullptr;
}

void TThreadEventList::Complete(TMessageItem* item) {
  if (item->Done) item->Done->SetEvent();
  RefRelease(item);
}

void TThreadEventList::Handle(TMessageItem* item) {
  Notify(this, item->Code, item->Param);
}

void TThreadEventList::ProcessMessages() {
  SetOwnerThread(CurrentThreadId());
  stop_ = false;
  while (!stop_.load()) {
    Ref<TMessageItem> item = PopMessage(false);
    if (!item) break;
    try {
      Handle(item.get());
    } catch (...) {
      Complete(item.release());  // the sender is released all the same
      throw;
    }
    Complete(item.release());
  }
}

void TThreadEventList::ProcessSent() {
  while (sent_waiting_.load() > 0) {
    Ref<TMessageItem> item = PopMessage(true);
    if (!item) break;
    try {
      Handle(item.get());
    } catch (...) {
      Complete(item.release());
      throw;
    }
    Complete(item.release());
  }
}

void TThreadEventList::Notify(TRefObject* sender, uint32_t code, void* param) {
  if (handler_) {
    bool handled = false;
    handler_(this, code, handled, static_cast<TRefObject*>(param));
    if (handled) return;
  }
  TPostEventList::Notify(sender, code, param);
}

void TThreadEventList::Dispose() {
  UnregisterOwner(this);
  Close();
  TPostEventList::Dispose();
}

}  // namespace kav
