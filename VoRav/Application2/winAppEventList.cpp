#include "VoRav/Application2/winAppEventList.h"

#include <algorithm>

#include "VoRav/wpExceptions.h"

namespace kav {

using namespace win;

void TEventItem::Complete() {
  Done->SetEvent();
  RefRelease(this);
}

void TEventItem::Dispose() {
  if (TRefObject* d = std::exchange(Data, nullptr)) RefRelease(d);
  Done = nullptr;
  TRefObject::Dispose();
}

TWinAppEventList::TWinAppEventList(TCustomEventList* owner, TEvent* wake)
    : owner_(owner), wake_(wake), lock_(MakeRef<TCriticalSection>()), message_ids_{ApplicationEventMessage()} {
  HookManager()->AddMessageHook(owner_, message_ids_,
                                TMessageHookHandler::Bind<&TWinAppEventList::HandleEventMessage>(this));
}

void TWinAppEventList::PostEvent(HWND window, uint32_t id, TRefObject* data) {
  TEventItem* item;
  {
    TLockScope<TCriticalSection> guard(lock_.get());
    item = closed_ ? nullptr : new TEventItem(id, data);
    if (item) pending_.push_back(item);
  }
  if (!item) {
    RefRelease(data);
    return;
  }
  // A post that fails leaves the item pending: Finalize runs it.
  PostMessage(window, ApplicationEventMessage(), reinterpret_cast<WPARAM>(item), 0);
  if (wake_) wake_->SetEvent();
}

void TWinAppEventList::SendEvent(HWND window, uint32_t id, TRefObject* data) {
  TEventItem* item;
  {
    TLockScope<TCriticalSection> guard(lock_.get());
    if (closed_) return;
    item = new TEventItem(id, data);
    RefAddRef(item);  // the sender's
    pending_.push_front(item);
  }
  if (!SendNotifyMessage(window, ApplicationEventMessage(), reinterpret_cast<WPARAM>(item), 0)) {
    // The item must not stay behind to run later with data the caller keeps.
    if (FindItem(item)) {
      item->Data = nullptr;
      RefRelease(item);  // the list's
      RefRelease(item);  // ours
      KAV_ASSERT_FAIL("Assertion failure");
    }
    // Already taken by ProcessPending: it completes as usual.
  }
  if (wake_) wake_->SetEvent();
  item->Done->WaitForever();
  item->Done->ResetEvent();
  item->Data = nullptr;  // the data stays the caller's
  item->Complete();
}

bool TWinAppEventList::FindItem(TEventItem* item) {
  TLockScope<TCriticalSection> guard(lock_.get());
  auto it = std::find(pending_.begin(), pending_.end(), item);
  if (it == pending_.end()) return false;
  pending_.erase(it);
  return true;
}

void TWinAppEventList::Run(TEventItem* item) {
  try {
    owner_->Notify(this, item->Id, item->Data);
  } catch (...) {
    item->Complete();  // a waiting sender is released all the same
    throw;
  }
  item->Complete();
}

void TWinAppEventList::HandleEventMessage(HWND window, TMessageRecord& msg, bool& handled) {
  (void)window;
  handled = true;
  auto* item = reinterpret_cast<TEventItem*>(msg.WParam);
  // The address is only compared until it is found pending. A message that
  // comes after Close released its item is expected and ignored.
  if (!FindItem(item)) {
    KAV_ASSERT(Closed());
    return;
  }
  msg.Result = static_cast<LRESULT>(msg.WParam);
  Run(item);
}

void TWinAppEventList::ProcessPending() {
  for (;;) {
    TEventItem* item;
    {
      TLockScope<TCriticalSection> guard(lock_.get());
      if (pending_.empty()) return;
      item = pending_.front();
      pending_.pop_front();
    }
    Run(item);
  }
}

void TWinAppEventList::Close() {
  std::deque<TEventItem*> left;
  {
    TLockScope<TCriticalSection> guard(lock_.get());
    closed_ = true;
    left.swap(pending_);
  }
  // Nothing runs any more: senders are released (they keep their data) and
  // posted data is freed.
  for (TEventItem* item : left) item->Complete();
}

bool TWinAppEventList::Closed() {
  TLockScope<TCriticalSection> guard(lock_.get());
  return closed_;
}

int32_t TWinAppEventList::PendingCount() {
  TLockScope<TCriticalSection> guard(lock_.get());
  return static_cast<int32_t>(pending_.size());
}

void TWinAppEventList::Dispose() {
  KAV_ASSERT(PendingCount() == 0);
  HookManager()->RemoveMessageHook(owner_, message_ids_,
                                   TMessageHookHandler::Bind<&TWinAppEventList::HandleEventMessage>(this));
  lock_ = nullptr;
  wake_ = nullptr;
  TRefObject::Dispose();
}

}  // namespace kav
