#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "VoRav/Composite/vxEvents.h"

using namespace kav;

namespace {

class TOwner : public TRefObject {};

// A handler that logs its calls and runs an optional action inside them.
class TProbe : public TEventHandler {
 public:
  TProbe(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override {
    log_->push_back(name_ + ":" + std::to_string(tag) + ":" + std::to_string(param));
    last_sender = sender;
    if (action) action(tag);
  }
  std::function<void(int32_t tag)> action;
  TRefObject* last_sender = nullptr;

 private:
  std::string name_;
  std::vector<std::string>* log_;
};

class TCountingEvents : public TEvents {
 public:
  using TEvents::TEvents;
  int changes = 0;

 protected:
  void Changed() override { ++changes; }
};

struct EventsTest : ::testing::Test {
  Ref<TOwner> owner = MakeRef<TOwner>();
  std::vector<std::string> log;
  Ref<TProbe> Probe(const char* name) { return MakeRef<TProbe>(name, &log); }
};

}  // namespace

TEST_F(EventsTest, DispatchCallsNewestFirstWithOwnerTagAndParam) {
  Ref<TEvents> ev = MakeRef<TEvents>(owner.get(), 16);
  Ref<TProbe> a = Probe("a"), b = Probe("b"), c = Probe("c");
  EXPECT_FALSE(ev->Dispatch(5, 1));  // nobody listens
  ev->AddHandler(5, a.get());
  ev->AddHandler(21, b.get());  // same bucket (21 mod 16), other code
  EXPECT_TRUE(ev->AddHandlerTagged(5, 77, c.get()));
  EXPECT_TRUE(ev->Dispatch(5, 9));
  EXPECT_EQ(log, (std::vector<std::string>{"c:77:9", "a:5:9"}));
  EXPECT_EQ(a->last_sender, owner.get());
  log.clear();
  EXPECT_TRUE(ev->Dispatch(21, 0));
  EXPECT_EQ(log, (std::vector<std::string>{"b:21:0"}));
  // Negative codes find a bucket too.
  ev->AddHandler(-3, a.get());
  log.clear();
  EXPECT_TRUE(ev->Dispatch(-3, 0));
  EXPECT_EQ(log, (std::vector<std::string>{"a:-3:0"}));
}

TEST_F(EventsTest, RegistrationsAndRemovalsNotifyAndReuseEntries) {
  Ref<TCountingEvents> ev = MakeRef<TCountingEvents>(owner.get(), 4);
  Ref<TProbe> a = Probe("a");
  ev->AddHandlers({1, 2, 3}, a.get());
  ev->AddHandler(1, a.get());  // twice for one code: called twice
  EXPECT_EQ(ev->changes, 4);
  EXPECT_EQ(ev->HandlerCount(1), 2);
  ev->Dispatch(1, 0);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_TRUE(ev->RemoveHandler(1, a.get()));
  EXPECT_FALSE(ev->RemoveHandler(7, a.get()));
  EXPECT_EQ(ev->changes, 5);
  EXPECT_EQ(ev->HandlerCount(1), 1);
  EXPECT_EQ(a->RegistrationCount(), 3);
  // Freed entries are reused before the array grows again.
  for (int i = 0; i < 100; ++i) {
    ev->AddHandler(9, a.get());
    ev->RemoveHandler(9, a.get());
  }
  EXPECT_EQ(ev->EntryCount(), 3);
  // A bucket count of 0 is taken as 1.
  Ref<TEvents> one = MakeRef<TEvents>(owner.get(), 0);
  one->AddHandler(12345, a.get());
  EXPECT_TRUE(one->Dispatch(12345, 0));
}

TEST_F(EventsTest, HandlerInManyListsLeavesNoEntryWhenFreed) {
  Ref<TEvents> l1 = MakeRef<TEvents>(owner.get(), 16);
  Ref<TEvents> l2 = MakeRef<TEvents>(owner.get(), 3);
  Ref<TCountingEvents> l3 = MakeRef<TCountingEvents>(owner.get(), 1);
  Ref<TProbe> keep = Probe("keep");
  {
    Ref<TProbe> h = Probe("h");
    l1->AddHandler(1, h.get());
    l2->AddHandler(1, keep.get());
    l2->AddHandler(1, h.get());
    l3->AddHandlers({4, 5}, h.get());
    l1->AddHandler(2, h.get());
    EXPECT_EQ(h->RegistrationCount(), 5);
  }
  EXPECT_EQ(l1->EntryCount(), 0);
  EXPECT_EQ(l2->EntryCount(), 1);
  EXPECT_EQ(l3->EntryCount(), 0);
  EXPECT_EQ(l3->changes, 4);  // two registrations, two removals by the clean-up
  EXPECT_TRUE(l2->Dispatch(1, 0));
  EXPECT_FALSE(l1->Dispatch(1, 0));
  EXPECT_EQ(log, (std::vector<std::string>{"keep:1:0"}));
  // A list freed first unlinks itself from its handlers' chains.
  l2->AddHandler(8, keep.get());
  l2 = nullptr;
  EXPECT_EQ(keep->RegistrationCount(), 0);
}

TEST_F(EventsTest, ReentryRemoveSelfRemoveOtherAndAddDuringDispatch) {
  Ref<TEvents> ev = MakeRef<TEvents>(owner.get(), 16);
  Ref<TProbe> a = Probe("a"), b = Probe("b"), c = Probe("c"), d = Probe("d"), late = Probe("late");
  // Bucket order (newest first): d, c, b, a.
  ev->AddHandler(3, a.get());
  ev->AddHandler(3, b.get());
  ev->AddHandler(3, c.get());
  ev->AddHandler(3, d.get());
  d->action = [&](int32_t) { ev->RemoveHandler(3, d.get()); };           // removes itself
  c->action = [&](int32_t) { ev->RemoveHandler(3, b.get()); };           // removes the next one
  a->action = [&](int32_t) { ev->AddHandler(3, late.get()); a->action = nullptr; };  // lands at the head
  ev->Dispatch(3, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"d:3:0", "c:3:0", "a:3:0"}));
  log.clear();
  ev->Dispatch(3, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"late:3:0", "c:3:0", "a:3:0"}));
}

TEST_F(EventsTest, NestedDispatchKeepsTheOuterWalk) {
  Ref<TEvents> ev = MakeRef<TEvents>(owner.get(), 16);
  Ref<TProbe> a = Probe("a"), b = Probe("b"), c = Probe("c"), inner = Probe("inner"), late = Probe("late");
  auto late_probe = [&] { return late.get(); };
  ev->AddHandler(1, a.get());
  ev->AddHandler(1, b.get());
  ev->AddHandler(2, inner.get());
  // b raises code 2 inside the walk of code 1; the outer walk goes on to a.
  b->action = [&](int32_t tag) {
    if (tag == 1) ev->Dispatch(2, 5);
  };
  ev->Dispatch(1, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b:1:0", "inner:2:5", "a:1:0"}));

  // The nested handler removes the entry the outer walk visits next and
  // registers new handlers for the same code, which reuse the freed entry:
  // the outer walk skips the removed one and still reaches the one after it.
  log.clear();
  ev->AddHandler(1, c.get());  // order now c, b, a
  inner->action = [&](int32_t) {
    ev->RemoveHandler(1, b.get());
    ev->AddHandler(1, late_probe());
    inner->action = nullptr;
  };
  c->action = [&](int32_t tag) {
    if (tag == 1) ev->Dispatch(2, 6);
  };
  b->action = nullptr;
  ev->Dispatch(1, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"c:1:0", "inner:2:6", "a:1:0"}));
  // A dispatch of the same code inside itself runs the whole code again.
  log.clear();
  c->action = nullptr;
  a->action = [&](int32_t) {
    a->action = nullptr;
    ev->Dispatch(1, 1);
  };
  ev->Dispatch(1, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"late:1:0", "c:1:0", "a:1:0", "late:1:1", "c:1:1", "a:1:1"}));
}

TEST_F(EventsTest, HandlerThatFreesItselfOrTheListDuringItsCall) {
  Ref<TEvents> ev = MakeRef<TEvents>(owner.get(), 16);
  Ref<TProbe> a = Probe("a");
  TProbe* self = new TProbe("self", &log);
  ev->AddHandler(1, a.get());
  ev->AddHandler(1, self);
  self->action = [&](int32_t) { self->Free(); };  // last reference: freed after its call
  ev->Dispatch(1, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"self:1:0", "a:1:0"}));
  EXPECT_EQ(ev->HandlerCount(1), 1);
  // The list stays whole while its dispatch runs, even when its owner lets go.
  log.clear();
  TEvents* raw = ev.release();
  a->action = [&](int32_t) { raw->Free(); };
  Ref<TProbe> b = Probe("b");
  raw->AddHandler(1, b.get());
  raw->Dispatch(1, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b:1:0", "a:1:0"}));
  EXPECT_EQ(a->RegistrationCount(), 0);
}

TEST_F(EventsTest, NilHandlerAndOwnerlessDispatchAreAssertions) {
  Ref<TEvents> ev = MakeRef<TEvents>(nullptr, 16);
  EXPECT_THROW(ev->AddHandler(1, nullptr), EAbort);
  Ref<TProbe> a = Probe("a");
  ev->AddHandler(1, a.get());
  EXPECT_THROW(ev->Dispatch(1, 0), EAbort);
  ev->SetOwner(owner.get());
  EXPECT_TRUE(ev->Dispatch(1, 0));
}

TEST_F(EventsTest, ListWithTagsReleasesAttachedObjects) {
  Ref<TOwner> attached = MakeRef<TOwner>();
  {
    Ref<TEventsWithTags> ev = MakeRef<TEventsWithTags>(owner.get(), 16);
    ev->Attach(attached.get());
    EXPECT_EQ(attached->RefCount(), 2);
  }
  EXPECT_EQ(attached->RefCount(), 1);
}
