// The message queue of a worker thread.
//
// Any thread posts (fire and forget) or sends (and waits) a message made of a
// code and a parameter object; the owning thread drains the queue at a point
// of its own loop (ProcessMessages) and hands each message to its handler,
// falling back to the handlers registered on the event list for the code.
//
// Ownership: a posted message owns its parameter (one reference taken over by
// PostEvent, released after handling or at once when the queue is closed); a
// sent message leaves the parameter with the sender.
//
// No deadlock between senders: a send from the owning thread to its own queue
// runs the message at once, and a thread that owns a queue keeps running the
// messages sent to it while it waits for its own send to be handled, so two
// threads sending to each other both go on.
#pragma once

#include <atomic>
#include <cstdint>

#include "VoRav/Application2/vxEventList.h"
#include "VoRav/vxLists.h"

namespace kav {

class TThreadEventList;

// One queued message. Freeing it releases its parameter and its event.
class TMessageItem : public TRefObject {
 public:
  TMessageItem(uint32_t code, TRefObject* param, bool sent);
  Ref<TEvent> Done;  // only for a sent message
  uint32_t Code;
  TRefObject* Param;  // one reference owned, unless cleared by the sender

 protected:
  void Dispose() override;
};

// handler(sender list, code, var handled, parameter).
using TThreadEventHandler = TDelegate<void(TThreadEventList* sender, uint32_t code, bool& handled, TRefObject* param)>;

class TThreadEventList : public TPostEventList {
 public:
  explicit TThreadEventList(TThreadEventHandler handler = nullptr);

  void SetHandler(TThreadEventHandler handler) { handler_ = handler; }
  // The thread that drains the queue. ProcessMessages records its caller;
  // a thread may claim the queue earlier (a worker does so when it starts).
  void SetOwnerThread(uint32_t thread_id);
  uint32_t OwnerThread() const { return owner_thread_.load(); }

  // Opens a closed queue again (a new empty pending list).
  void Open();
  // Releases every waiting sender, frees the pending messages (posted
  // parameters with them) and refuses later messages. Any thread.
  void Close();
  bool IsClosed();

  // Any thread. Closed: `param` is released at once.
  void PostEvent(uint32_t code, TRefObject* param) override;
  // Any thread; waits until the message was handled or the queue closed.
  // Closed: returns at once. From the owning thread the message is handled
  // inside the call.
  void SendEvent(uint32_t code, TRefObject* param) override;

  // Owner thread: handles every queued message in order until none is left
  // or a handler called StopProcessing.
  void ProcessMessages();
  // Called by a handler: the current ProcessMessages returns after it.
  void StopProcessing() { stop_ = true; }
  // Queued messages (for tests and diagnostics).
  int32_t PendingCount();

  // The handler first; when it did not set handled, the handlers registered
  // under the code on this list.
  void Notify(TRefObject* sender, uint32_t code, void* param) override;

 protected:
  void Dispose() override;
  // Called after each append: 0 for a posted, 1 for a sent message.
  virtual void Queued(int32_t kind) { (void)kind; }

 private:
  Ref<TMessageItem> PopMessage(bool sent_only);
  void Handle(TMessageItem* item);
  static void Complete(TMessageItem* item);
  // Runs the messages sent (not posted) to this queue; for a waiting sender.
  void ProcessSent();

  Ref<TList> pending_;  // nil once closed
  Ref<TSafeCriticalSection> lock_;
  TThreadEventHandler handler_;
  std::atomic<bool> stop_{false};
  std::atomic<uint32_t> owner_thread_{0};
  std::atomic<int32_t> sent_waiting_{0};  // sent messages queued
};

}  // namespace kav
