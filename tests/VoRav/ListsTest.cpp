#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "VoRav/vxLists.h"

using namespace kav;

namespace {

void* P(intptr_t v) { return reinterpret_cast<void*>(v); }
intptr_t V(void* p) { return reinterpret_cast<intptr_t>(p); }

int32_t CompareNumbers(void* a, void* b) { return V(a) < V(b) ? -1 : V(a) > V(b) ? 1 : 0; }

std::vector<intptr_t> Values(const TList& list) {
  std::vector<intptr_t> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(V(list.Get(i)));
  return out;
}

Ref<TList> ListOf(std::initializer_list<intptr_t> values) {
  auto list = MakeRef<TList>();
  for (intptr_t v : values) list->Add(P(v));
  return list;
}

int g_alive = 0;
class TItem : public TRefObject {
 public:
  TItem() { ++g_alive; }
 protected:
  ~TItem() override { --g_alive; }
};
class TSpecialItem : public TItem {};

struct TPlain {
  explicit TPlain(int* counter) : counter_(counter) { ++*counter_; }
  virtual ~TPlain() { --*counter_; }
  int* counter_;
};

// Counts how deep SortRange recursion goes.
class TDepthSorter : public TSorter {
 public:
  explicit TDepthSorter(std::vector<int>& values) : v_(values) {}
  int32_t Count() const override { return static_cast<int32_t>(v_.size()); }
  int32_t Compare(int32_t i, int32_t j) const override { return (v_[i] > v_[j]) - (v_[i] < v_[j]); }
  int32_t CompareKey(const void* key, int32_t j) const override {
    int k = *static_cast<const int*>(key);
    return (k > v_[j]) - (k < v_[j]);
  }
  void Swap(int32_t i, int32_t j) override { std::swap(v_[i], v_[j]); }
  void SortRange(int32_t first, int32_t last) override {
    max_depth = std::max(max_depth, ++depth_);
    TSorter::SortRange(first, last);
    --depth_;
  }
  int max_depth = 0;

 private:
  std::vector<int>& v_;
  int depth_ = 0;
};

}  // namespace

TEST(List, GrowsInStepsAndKeepsSlotsBeyondCountNil) {
  auto list = MakeRef<TList>();
  std::vector<int32_t> caps;
  for (int i = 0; i < 13; ++i) {
    list->Add(P(i + 1));
    if (caps.empty() || caps.back() != list->Capacity()) caps.push_back(list->Capacity());
  }
  EXPECT_EQ(caps, (std::vector<int32_t>{4, 8, 12, 28}));
  for (int i = 13; i < 77; ++i) list->Add(P(i + 1));
  EXPECT_EQ(list->Capacity(), 152);

  list->SetCount(5);
  EXPECT_EQ(list->Count(), 5);
  list->SetCount(8);  // re-grown slots are nil, not the old items
  EXPECT_EQ(list->Get(6), nullptr);
  list->SetCount(-1);
  list->SetCount(TList::kMaxCount);
  EXPECT_EQ(list->Count(), 8);
  list->SetCount(200);
  EXPECT_EQ(list->Capacity(), 200);
  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(list->Capacity(), 0);
}

TEST(List, EditingAndIndexErrors) {
  auto list = ListOf({10, 20, 30});
  EXPECT_EQ(list->Get(-1), nullptr);
  EXPECT_EQ(list->Get(3), nullptr);
  list->Delete(3);
  list->Delete(-1);
  EXPECT_EQ(Values(*list), (std::vector<intptr_t>{10, 20, 30}));

  EXPECT_TRUE(list->Insert(0, P(5)));
  EXPECT_TRUE(list->Insert(4, P(40)));
  EXPECT_FALSE(list->Insert(6, P(50)));
  EXPECT_FALSE(list->Insert(-1, P(50)));
  EXPECT_EQ(Values(*list), (std::vector<intptr_t>{5, 10, 20, 30, 40}));

  EXPECT_EQ(V(list->Extract(1)), 10);
  EXPECT_EQ(list->Remove(P(30)), 2);
  EXPECT_EQ(list->Remove(P(30)), -1);
  EXPECT_EQ(Values(*list), (std::vector<intptr_t>{5, 20, 40}));
  EXPECT_EQ(V(list->First()), 5);
  EXPECT_EQ(V(list->Last()), 40);
  list->Exchange(0, 2);
  EXPECT_EQ(Values(*list), (std::vector<intptr_t>{40, 20, 5}));

  EXPECT_THROW(list->Put(3, P(1)), EAbort);
  EXPECT_THROW(list->SetItem(-1, P(1)), EAbort);
  EXPECT_THROW(list->Exchange(0, 3), EAbort);
  list->SetItem(5, P(60));
  EXPECT_EQ(Values(*list), (std::vector<intptr_t>{40, 20, 5, 0, 0, 60}));

  auto empty = MakeRef<TList>();
  EXPECT_EQ(empty->First(), nullptr);
  EXPECT_EQ(empty->Last(), nullptr);
  EXPECT_EQ(empty->Extract(0), nullptr);
}

TEST(List, FreeAllReleasesItemsByKind) {
  g_alive = 0;
  auto list = MakeRef<TList>();
  auto* shared = new TItem;
  RefAddRef(shared);
  list->Add(shared);
  list->Add(nullptr);
  list->Add(new TSpecialItem);
  EXPECT_EQ(g_alive, 2);

  int32_t index = -1;
  EXPECT_TRUE(list->FindInstanceOf<TSpecialItem>(index));
  EXPECT_EQ(index, 2);
  EXPECT_TRUE(list->FindInstanceOf<TItem>(index));
  EXPECT_EQ(index, 0);

  list->FreeAll();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(g_alive, 1);  // the shared one keeps its other reference
  EXPECT_FALSE(list->FindInstanceOf<TItem>(index));
  shared->Free();
  EXPECT_EQ(g_alive, 0);

  int plain = 0;
  auto others = MakeRef<TList>();
  others->SetItemFree(&TList::DeleteItem<TPlain>);
  others->Add(new TPlain(&plain));
  others->Add(new TPlain(&plain));
  others->FreeAllDetached();
  EXPECT_EQ(plain, 0);
}

namespace {
TList* g_watched = nullptr;
int g_seen_count = -1;
class TWatcher : public TRefObject {
 protected:
  void Dispose() override {
    g_seen_count = g_watched ? g_watched->Count() : -2;
    TRefObject::Dispose();
  }
};
}  // namespace

TEST(List, DetachedReleaseShowsAnEmptyListToTheItems) {
  auto list = MakeRef<TList>();
  g_watched = list.get();
  list->Add(new TWatcher);
  list->Add(new TWatcher);
  list->FreeAllDetached();
  EXPECT_EQ(g_seen_count, 0);
  EXPECT_EQ(list->Count(), 0);
  EXPECT_GT(list->Capacity(), 0);  // the emptied array came back

  TList* variable = list.get();
  list->Add(new TWatcher);
  g_watched = nullptr;
  FreeListItemsDetached(variable);
  EXPECT_EQ(g_seen_count, -2);
  EXPECT_EQ(variable, list.get());
  EXPECT_EQ(list->Count(), 0);
}

TEST(List, SortAndBinarySearch) {
  auto list = ListOf({3, 1, 2});
  list->Sort(&CompareNumbers);
  EXPECT_EQ(Values(*list), (std::vector<intptr_t>{1, 2, 3}));
  list->Sort(&CompareNumbers);
  EXPECT_EQ(Values(*list), (std::vector<intptr_t>{1, 2, 3}));

  auto descending = ListOf({5, 9, 1, 9, 3});
  static int calls = 0;
  descending->SortWithContext(
      [](void* ctx, void* a, void* b) {
        ++*static_cast<int*>(ctx);
        return -CompareNumbers(a, b);
      },
      &calls);
  EXPECT_EQ(Values(*descending), (std::vector<intptr_t>{9, 9, 5, 3, 1}));
  EXPECT_GT(calls, 0);

  auto tens = ListOf({10, 20, 30});
  auto sorter = MakeRef<TListSorter>(tens.get(), &CompareNumbers);
  struct Case { intptr_t key; bool found; int32_t index; };
  for (Case c : {Case{25, false, 2}, Case{5, false, 0}, Case{35, false, 3}, Case{20, true, 1}, Case{10, true, 0},
                 Case{30, true, 2}}) {
    int32_t index = -7;
    EXPECT_EQ(sorter->Find(P(c.key), index), c.found) << c.key;
    EXPECT_EQ(index, c.index) << c.key;
  }
  int32_t index = -7;
  // Ranges reaching past the list are cut to it.
  EXPECT_FALSE(sorter->FindInRange(P(99), -5, index, 50));
  EXPECT_EQ(index, 3);
  auto none = MakeRef<TList>();
  EXPECT_FALSE(MakeRef<TListSorter>(none.get(), &CompareNumbers)->Find(P(1), index));
  EXPECT_EQ(index, 0);
}

TEST(Sorter, BinarySearchAgreesWithLowerBoundOnDistinctKeys) {
  std::vector<int> v;
  for (int i = 0; i < 200; ++i) v.push_back(i * 3);
  auto sorter = MakeRef<TDepthSorter>(v);
  for (int key = -2; key < 605; ++key) {
    int32_t index = -1;
    bool found = sorter->Find(&key, index);
    auto it = std::lower_bound(v.begin(), v.end(), key);
    ASSERT_EQ(index, it - v.begin()) << key;
    ASSERT_EQ(found, it != v.end() && *it == key) << key;
  }
}

TEST(Sorter, StackStaysShallowOnAdversarialInput) {
  // Built so that the middle element of every range is its largest, which
  // sends the whole range minus one into the left part each time.
  const int n = 4000;
  std::vector<int> ids(n), killer(n);
  for (int i = 0; i < n; ++i) ids[i] = i;
  for (int r = n - 1; r >= 1; --r) {
    int p = r / 2;
    killer[ids[p]] = r;
    std::swap(ids[p], ids[r]);
  }
  killer[ids[0]] = 0;
  std::vector<int> v = killer;
  auto sorter = MakeRef<TDepthSorter>(v);
  sorter->Sort();
  EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
  EXPECT_LE(sorter->max_depth, 2);

  std::mt19937 rng(7);
  v.resize(20000);
  for (int& x : v) x = static_cast<int>(rng() % 1000);
  std::vector<int> expected = v;
  std::sort(expected.begin(), expected.end());
  auto random_sorter = MakeRef<TDepthSorter>(v);
  random_sorter->Sort();
  EXPECT_EQ(v, expected);
  EXPECT_LE(random_sorter->max_depth, 16);  // log2(20000) + 1
}

TEST(Sorter, InconsistentCompareStaysInRange) {
  // A compare that answers at random must not drive the sort outside the
  // list (Exchange would raise) and must leave a permutation.
  auto list = MakeRef<TList>();
  for (int i = 0; i < 500; ++i) list->Add(P(i));
  static std::mt19937 rng(3);
  EXPECT_NO_THROW(list->Sort([](void*, void*) { return static_cast<int32_t>(rng() % 3) - 1; }));
  std::vector<intptr_t> v = Values(*list);
  std::sort(v.begin(), v.end());
  for (int i = 0; i < 500; ++i) ASSERT_EQ(v[i], i);
}
