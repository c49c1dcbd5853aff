// The worker-thread base and the engine's road to the GUI thread.
//
// A TKavThread has its own message queue and runs its loop body (Step)
// until it is told to stop. Its queue's messages reach HandleEvent only where
// the owner drains the queue (in Step, or after the thread ended), so
// HandleEvent never runs at the same time as Step.
//
// TCustomKavEngine posts TKavEventData records to its owner (the
// application) under an id of its own; on the GUI thread they reach the
// three callbacks: OnState (code 1), OnTime (code 2, only for the newest open
// request) and OnEvent (every other code).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "KavLib2/KavEngine/KavEventCodes.h"
#include "VoRav/Application2/vxThreadEventList.h"
#include "VoRav/wpThreads2.h"

namespace kav {

// A thread queue that can be waited on: a loop with nothing to do sleeps
// until a message arrives instead of looking again every few milliseconds.
class TKavThreadEventList : public TThreadEventList {
 public:
  // Returns at once when a message was queued since the last wait (or the
  // wait was woken), else after at most `ms` milliseconds.
  void WaitForMessage(uint32_t ms);
  // Ends the current or the next wait (stopping the thread).
  void Wake();

 protected:
  void Queued(int32_t kind) override;

 private:
  std::mutex wait_lock_;
  std::condition_variable posted_;
  bool signalled_ = false;
};

class TKavThread : public TThread {
 public:
  TKavThread();

  // Starts the thread; the running flag tells whether it runs.
  bool Start();
  // Terminate, then waits for the thread without a limit. On the GUI thread
  // the wait keeps running the messages other threads send to it, so a worker
  // that sends to the GUI thread while it is being stopped is not stuck.
  // From the thread itself: Terminate only (it cannot wait for itself).
  void Stop();
  // Closes the queue (waiting senders return, later posts are dropped), then
  // sets Terminated.
  void Terminate() override;

  TThreadEventList* EventList() const { return event_list_.get(); }
  bool Running() const { return running_.load(); }
  // Sleeps at most `ms` milliseconds; a message posted to the queue, or
  // Terminate, ends the sleep early.
  void WaitForMessage(uint32_t ms);
  // Ends the thread's current or next WaitForMessage at once.
  void Wake() { event_list_->Wake(); }

 protected:
  void Execute() override;
  void Dispose() override;

  virtual void HandleEvent(TThreadEventList* sender, uint32_t code, bool& handled, TRefObject* param);
  virtual void OnStart() {}
  virtual void OnStop();
  virtual void Step() = 0;

 private:
  void WaitForEnd();
  void DispatchEvent(TThreadEventList* sender, uint32_t code, bool& handled, TRefObject* param) {
    HandleEvent(sender, code, handled, param);
  }

  Ref<TKavThreadEventList> event_list_;
  std::atomic<bool> running_{false};
};

// The record an engine posts to the GUI thread.
class TKavEventData : public TRefObject {
 public:
  TKavEventData(uint32_t code, bool owns_object, TRefObject* object, std::initializer_list<int32_t> params = {});
  TKavEventData(uint32_t code, bool owns_object, TRefObject* object, std::vector<int32_t> params);

  uint32_t Code;
  std::vector<int32_t> Params;
  TRefObject* Object;
  bool OwnsObject;

  // Parameter i, or `fallback` when the record has fewer.
  int32_t Param(size_t i, int32_t fallback = 0) const { return i < Params.size() ? Params[i] : fallback; }

 protected:
  void Dispose() override;
};

// The text of an action event. Reference-counted like every object an event
// record may own, so one ownership rule covers them all.
class TStrValue : public TRefObject {
 public:
  explicit TStrValue(std::u16string value) : Value(std::move(value)) {}
  std::u16string Value;
};

class TCustomKavEngine;
using TKavStateEvent = TDelegate<void(TCustomKavEngine* engine)>;
using TKavTimeEvent = TDelegate<void(TCustomKavEngine* engine, int32_t time, bool finished, int32_t duration)>;
using TKavEngineEvent = TDelegate<void(TCustomKavEngine* engine, TKavEventData* data)>;

class TCustomKavEngine : public TKavThread {
 public:
  // `owner` (the application) must not be nil: an assertion otherwise.
  explicit TCustomKavEngine(TPostEventList* owner);

  // Any thread (the engine's): posts a record to the GUI thread. With
  // `owns_object` the record releases `object` after handling.
  void PostEvent(uint32_t code, std::initializer_list<int32_t> params = {}, bool owns_object = false,
                 TRefObject* object = nullptr);
  // GUI thread, once per open request: the id the time reports must carry.
  int32_t NextEventId();
  int32_t OpenCounter() const { return open_counter_.load(); }
  uint32_t OwnEventId() const { return own_id_; }

  TKavStateEvent OnState;
  TKavTimeEvent OnTime;
  TKavEngineEvent OnEvent;

 protected:
  void Dispose() override;

 private:
  // GUI thread: the owner list delivers a record posted by PostEvent.
  void DispatchOwnerEvent(TRefObject* sender, uint32_t id, void* data);

  TPostEventList* owner_;
  uint32_t own_id_ = 0;
  std::atomic<int32_t> open_counter_{0};
};

}  // namespace kav
