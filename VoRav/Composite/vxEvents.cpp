#include "VoRav/Composite/vxEvents.h"

#include "VoRav/wpExceptions.h"

namespace kav {

void TEventHandler::HandleEvent(TRefObject*, int32_t, intptr_t) {}

int32_t TEventHandler::RegistrationCount() const {
  int32_t n = 0;
  TEvents* list = head_list_;
  int32_t index = head_index_;
  while (list) {
    ++n;
    const TEvents::TEntry& e = list->entries_[static_cast<size_t>(index)];
    list = e.HandlerNextList;
    index = e.HandlerNextIndex;
  }
  return n;
}

TEventHandler::~TEventHandler() {
  while (head_list_) head_list_->RemoveEntry(head_index_, true);
}

void TEventHandler::Dispose() {
  while (head_list_) head_list_->RemoveEntry(head_index_, true);
  TRefObject::Dispose();
}

// A bucket count below 1 would divide by zero: such a list gets one bucket.
TEvents::TEvents(TRefObject* owner, int32_t capacity)
    : owner_(owner), buckets_(static_cast<size_t>(capacity < 1 ? 1 : capacity), 0),
      bucket_count_(capacity < 1 ? 1 : capacity) {}

// Codes are bucketed as unsigned numbers, so a negative code finds a bucket too.
int32_t TEvents::Bucket(int32_t code) const {
  return static_cast<int32_t>(static_cast<uint32_t>(code) % static_cast<uint32_t>(bucket_count_));
}

void TEvents::AddHandler(int32_t code, TEventHandler* handler) { AddHandlerTagged(code, code, handler); }

void TEvents::AddHandlers(std::initializer_list<int32_t> codes, TEventHandler* handler) {
  for (int32_t code : codes) AddHandler(code, handler);
}

// The registration's result is a plain success flag: the notification hook
// it was once taken from has no result.
bool TEvents::AddHandlerTagged(int32_t code, int32_t tag, TEventHandler* handler) {
  KAV_ASSERT(handler != nullptr);
  if (free_head_ < 0) {
    size_t old_size = entries_.size();
    size_t new_size = old_size == 0 ? 4 : old_size * 2;
    entries_.resize(new_size);
    for (size_t i = old_size; i < new_size; ++i)
      entries_[i].Next = i + 1 < new_size ? static_cast<int32_t>(i + 1) : -1;
    free_head_ = static_cast<int32_t>(old_size);
  }
  int32_t index = free_head_;
  TEntry& e = entries_[static_cast<size_t>(index)];
  free_head_ = e.Next;
  if (code == cached_code_) cached_first_ = 0;
  int32_t b = Bucket(code);
  e.Code = code;
  e.Tag = tag;
  e.Handler = handler;
  e.Prev = -1;
  e.Next = buckets_[static_cast<size_t>(b)] - 1;
  if (e.Next >= 0) entries_[static_cast<size_t>(e.Next)].Prev = index;
  buckets_[static_cast<size_t>(b)] = index + 1;
  e.HandlerPrevList = nullptr;
  e.HandlerPrevIndex = -1;
  e.HandlerNextList = handler->head_list_;
  e.HandlerNextIndex = handler->head_index_;
  if (handler->head_list_) {
    TEntry& old = handler->head_list_->entries_[static_cast<size_t>(handler->head_index_)];
    old.HandlerPrevList = this;
    old.HandlerPrevIndex = index;
  }
  handler->head_list_ = this;
  handler->head_index_ = index;
  Changed();
  return true;
}

int32_t TEvents::FirstEntry(int32_t code) {
  if (code == cached_code_ && cached_first_ != 0) return cached_first_ - 1;
  int32_t i = buckets_[static_cast<size_t>(Bucket(code))] - 1;
  while (i >= 0 && entries_[static_cast<size_t>(i)].Code != code) i = entries_[static_cast<size_t>(i)].Next;
  cached_code_ = code;
  cached_first_ = i + 1;
  return i;
}

int32_t TEvents::NextOfCode(int32_t index) const {
  int32_t code = entries_[static_cast<size_t>(index)].Code;
  int32_t i = entries_[static_cast<size_t>(index)].Next;
  while (i >= 0 && entries_[static_cast<size_t>(i)].Code != code) i = entries_[static_cast<size_t>(i)].Next;
  return i;
}

bool TEvents::RemoveHandler(int32_t code, TEventHandler* handler) {
  for (int32_t i = FirstEntry(code); i >= 0; i = NextOfCode(i)) {
    if (entries_[static_cast<size_t>(i)].Handler == handler) {
      RemoveEntry(i, true);
      return true;
    }
  }
  return false;
}

bool TEvents::HasHandlers(int32_t code) { return FirstEntry(code) >= 0; }

int32_t TEvents::HandlerCount(int32_t code) {
  int32_t n = 0;
  for (int32_t i = FirstEntry(code); i >= 0; i = NextOfCode(i)) ++n;
  return n;
}

int32_t TEvents::EntryCount() const {
  int32_t n = 0;
  for (const TEntry& e : entries_)
    if (e.Code != kFreeCode) ++n;
  return n;
}

// Every running dispatch has a cursor of its own on a stack, and a removal
// moves each of them: an outer walk resumes correctly even when a nested
// dispatch removed (or removed and reused) the entry it was about to visit.
bool TEvents::Dispatch(int32_t code, intptr_t param) {
  KAV_ASSERT(owner_ != nullptr);
  int32_t first = FirstEntry(code);
  if (first < 0) return false;
  RefAddRef(this);
  TCursor cursor{first, cursors_};
  cursors_ = &cursor;
  struct TPop {
    TEvents* list;
    TCursor* cursor;
    ~TPop() {
      list->cursors_ = cursor->Outer;
      try { RefRelease(list); } catch (...) { /* reported through the debug output */ }
    }
  } pop{this, &cursor};
  while (cursor.Next >= 0) {
    int32_t index = cursor.Next;
    const TEntry& e = entries_[static_cast<size_t>(index)];
    cursor.Next = NextOfCode(index);
    if (e.Code != code) continue;
    TEventHandler* handler = e.Handler;
    int32_t tag = e.Tag;
    // The handler stays whole for its own call even when it releases itself
    // (one already being disposed is called as it is).
    bool held = RefTryAddRef(handler);
    struct TDrop {
      TEventHandler* h;
      bool held;
      ~TDrop() {
        if (held) try { RefRelease(h); } catch (...) { /* reported through the debug output */ }
      }
    } drop{handler, held};
    handler->HandleEvent(owner_, tag, param);
  }
  return true;
}

void TEvents::RemoveEntry(int32_t index, bool notify) {
  if (cached_first_ == index + 1) cached_first_ = 0;
  for (TCursor* c = cursors_; c; c = c->Outer)
    if (c->Next == index) c->Next = NextOfCode(index);
  TEntry& e = entries_[static_cast<size_t>(index)];
  if (e.Prev < 0) {
    int32_t& head = buckets_[static_cast<size_t>(Bucket(e.Code))];
    KAV_ASSERT(head == index + 1);
    head = e.Next + 1;
  } else {
    entries_[static_cast<size_t>(e.Prev)].Next = e.Next;
  }
  if (e.Next >= 0) entries_[static_cast<size_t>(e.Next)].Prev = e.Prev;
  TEventHandler* handler = e.Handler;
  if (!e.HandlerPrevList) {
    KAV_ASSERT(handler->head_list_ == this && handler->head_index_ == index);
    handler->head_list_ = e.HandlerNextList;
    handler->head_index_ = e.HandlerNextIndex;
  } else {
    TEntry& p = e.HandlerPrevList->entries_[static_cast<size_t>(e.HandlerPrevIndex)];
    p.HandlerNextList = e.HandlerNextList;
    p.HandlerNextIndex = e.HandlerNextIndex;
  }
  if (e.HandlerNextList) {
    TEntry& n = e.HandlerNextList->entries_[static_cast<size_t>(e.HandlerNextIndex)];
    n.HandlerPrevList = e.HandlerPrevList;
    n.HandlerPrevIndex = e.HandlerPrevIndex;
  }
  e.Code = kFreeCode;
  e.Handler = nullptr;
  e.HandlerNextList = e.HandlerPrevList = nullptr;
  e.HandlerNextIndex = e.HandlerPrevIndex = -1;
  e.Prev = -1;
  e.Next = free_head_;
  free_head_ = index;
  if (notify) Changed();
}

void TEvents::Dispose() {
  for (size_t b = 0; b < buckets_.size(); ++b)
    while (buckets_[b] != 0) RemoveEntry(buckets_[b] - 1, false);
  entries_.clear();
  buckets_.clear();
  free_head_ = -1;
  TRefObject::Dispose();
}

TList& TEventsWithTags::AttachedObjects() {
  if (!attached_) attached_ = MakeRef<TList>();
  return *attached_;
}

void TEventsWithTags::Attach(TRefObject* object) {
  RefAddRef(object);
  AttachedObjects().Add(object);
}

void TEventsWithTags::FreeAttached() {
  if (Ref<TList> list = std::move(attached_)) list->FreeAllDetached();
}

void TEventsWithTags::Dispose() {
  FreeAttached();
  TEvents::Dispose();
}

}  // namespace kav
