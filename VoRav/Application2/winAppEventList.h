// The application event list: carries work from any thread to the GUI
// thread. A caller names an event id registered on the application and hands
// over a data object; the item is queued, the application window is told
// through the private application event message, and the GUI thread calls
// the owner's Notify for that id with the data.
//
// Posting returns at once and gives the data away (one reference); sending
// waits until the GUI thread has run the handlers and leaves the data with
// the caller. After Close, posts free their data at once and sends return at
// once, and every sender still waiting is released.
#pragma once

#include <cstdint>
#include <deque>

#include "VoRav/Application2/vxEventList.h"
#include "VoRav/Application2/winHooks.h"

namespace kav {

class TEventItem : public TRefObject {
 public:
  TEventItem(uint32_t id, TRefObject* data) : Id(id), Data(data), Done(MakeRef<TEvent>()) {}
  uint32_t Id;
  TRefObject* Data;  // one reference, unless the sender cleared it
  Ref<TEvent> Done;
  // Signals the completion event, then releases one reference.
  void Complete();

 protected:
  void Dispose() override;
};

class TWinAppEventList : public TRefObject {
 public:
  // `owner` runs the handlers (its Notify); `wake` (may be nil) is set by
  // every post and send. Registers the message hook under `owner`.
  TWinAppEventList(TCustomEventList* owner, TEvent* wake);

  // Any thread.
  void PostEvent(win::HWND window, uint32_t id, TRefObject* data);
  // Any thread; waits until handled (at once from the GUI thread).
  void SendEvent(win::HWND window, uint32_t id, TRefObject* data);
  // GUI thread: runs every pending event, sent ones (at the front) first.
  void ProcessPending();
  // Refuses later events and releases the senders of pending ones.
  void Close();
  bool Closed();
  int32_t PendingCount();

 protected:
  void Dispose() override;

 private:
  void HandleEventMessage(win::HWND window, TMessageRecord& msg, bool& handled);
  // Takes the item out of the pending list; false when it is not there.
  bool FindItem(TEventItem* item);
  void Run(TEventItem* item);

  TCustomEventList* owner_;
  Ref<TEvent> wake_;
  Ref<TCriticalSection> lock_;
  std::deque<TEventItem*> pending_;  // one reference each
  bool closed_ = false;
  uint32_t message_ids_[1];
};

}  // namespace kav
