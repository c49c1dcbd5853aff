// Numbered event lists of the frame-control toolkit.
//
// A TEvents list maps event codes to registered TEventHandler objects; a
// handler may be registered in many lists (and many times in one) and drops
// every registration when it is disposed. Entries live in one growable array
// reused through a free list and are chained per bucket (newest first) and per
// handler across lists. A dispatch may add or remove handlers, and may raise
// further events on the same list: every running dispatch keeps its own
// cursor, and a removal moves each cursor that points at the removed entry.
// GUI thread only; nothing is locked.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxLists.h"

namespace kav {

class TEvents;

class TEventHandler : public TRefObject {
 public:
  // Called for every registration of this handler whose code is raised.
  virtual void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param);

  // Number of registrations of this handler in all lists (for tests).
  int32_t RegistrationCount() const;

 protected:
  // Removes what is left of the registrations: only a handler whose
  // construction failed after it registered reaches here with any.
  ~TEventHandler() override;
  // Removes every registration, newest first.
  void Dispose() override;

 private:
  friend class TEvents;
  TEvents* head_list_ = nullptr;  // newest registration
  int32_t head_index_ = -1;
};

class TEvents : public TRefObject {
 public:
  // `owner` is the sender handed to every handler; `capacity` the bucket count.
  TEvents(TRefObject* owner, int32_t capacity);

  TRefObject* Owner() const { return owner_; }
  void SetOwner(TRefObject* owner) { owner_ = owner; }

  // Registers `handler` for `code` with the tag equal to the code.
  void AddHandler(int32_t code, TEventHandler* handler);
  void AddHandlerTwin(int32_t code, TEventHandler* handler) { AddHandler(code, handler); }
  // Registers each code in order.
  void AddHandlers(std::initializer_list<int32_t> codes, TEventHandler* handler);
  // Registers with an explicit tag. Always true: a nil handler is an
  // assertion, every other registration is made.
  bool AddHandlerTagged(int32_t code, int32_t tag, TEventHandler* handler);
  // Removes the first registration of `handler` for `code` (the newest).
  bool RemoveHandler(int32_t code, TEventHandler* handler);
  // Calls every handler registered for `code`, newest registration first;
  // false when nobody listens.
  bool Dispatch(int32_t code, intptr_t param);
  // Some handler is registered for `code`.
  bool HasHandlers(int32_t code);
  // Registrations for `code` (for tests).
  int32_t HandlerCount(int32_t code);
  // Registrations of any code (for tests).
  int32_t EntryCount() const;

 protected:
  // Change notification: after each registration and each asked-for removal.
  virtual void Changed() {}
  void Dispose() override;

 private:
  friend class TEventHandler;
  static constexpr int32_t kFreeCode = static_cast<int32_t>(0x80000001u);

  struct TEntry {
    int32_t Code = kFreeCode;
    int32_t Tag = 0;
    TEventHandler* Handler = nullptr;
    int32_t Next = -1;  // in the bucket; the free list's link for a free entry
    int32_t Prev = -1;
    TEvents* HandlerNextList = nullptr;  // the handler's older registration
    int32_t HandlerNextIndex = -1;
    TEvents* HandlerPrevList = nullptr;  // the handler's newer registration
    int32_t HandlerPrevIndex = -1;
  };
  // One running dispatch: the entry it visits next (-1 none).
  struct TCursor {
    int32_t Next = -1;
    TCursor* Outer = nullptr;
  };

  int32_t Bucket(int32_t code) const;
  int32_t FirstEntry(int32_t code);
  int32_t NextOfCode(int32_t index) const;
  void RemoveEntry(int32_t index, bool notify);

  TRefObject* owner_;
  std::vector<TEntry> entries_;
  int32_t free_head_ = -1;
  std::vector<int32_t> buckets_;  // first entry + 1, 0 empty
  int32_t bucket_count_;
  TCursor* cursors_ = nullptr;    // innermost running dispatch
  int32_t cached_code_ = 0;
  int32_t cached_first_ = 0;      // first entry + 1 of the cached code, 0 none
};

// A control's event list; also carries the control's attached objects (a
// list holding one reference to each, released with the list).
class TEventsWithTags : public TEvents {
 public:
  using TEvents::TEvents;
  // Attached objects such as a root's focus tracker; created on first use.
  TList& AttachedObjects();
  // Adds `object` with a new reference.
  void Attach(TRefObject* object);
  // Releases the attached objects and the list.
  void FreeAttached();

 protected:
  void Dispose() override;

 private:
  Ref<TList> attached_;
};

// The frame event codes raised by controls.
enum : int32_t {
  kFrameEventDestroying = 0,
  kFrameEventChanged = 1,
  kFrameEventTimeRefresh = 2,
  kFrameEventFocusedInParent = 3,
  kFrameEventUnfocusedInParent = 4,
  kFrameEventFocusChanged = 5,
  kFrameEventEnabledChanged = 6,
  kFrameEventSizeChanging = 7,
  kFrameEventSizeChanged = 8,
  kFrameEventPositionChanging = 9,
  kFrameEventPositionChanged = 10,
  kFrameEventMouse = 11,
  kFrameEventMouseLeave = 12,
  kFrameEventClick = 13,
  kFrameEventKeyPreview = 14,
  kFrameEventKey = 15,
  kFrameEventChildAdded = 16,
  kFrameEventChildRemoved = 17,
  kFrameEventFocusedChildChanged = 18,
  kFrameEventFocusedChildChanging = 19,
  kFrameEventSlot24 = 20,
};

}  // namespace kav
