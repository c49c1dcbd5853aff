#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "VoRav/vxByteStringLists.h"
#include "VoRav/vxCallbackSort.h"
#include "VoRav/wpExceptions.h"

using namespace kav;

namespace {

std::vector<std::string> AllParts(const TByteStringParts& p) {
  std::vector<std::string> out;
  for (size_t i = 0; i < ByteStringListCount(p); ++i) out.push_back(ByteStringListGetPart(p, ptrdiff_t(i)));
  return out;
}

// A plain split as the reference.
std::vector<std::string> PlainSplit(const std::string& s, char sep) {
  std::vector<std::string> out;
  if (s.empty()) return out;
  size_t start = 0;
  for (size_t i = 0; i <= s.size(); ++i)
    if (i == s.size() || s[i] == sep) {
      out.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  return out;
}

TByteStringArray Keys(std::initializer_list<const char*> names) {
  TByteStringArray a;
  for (const char* n : names) ByteStringArrayAdd(a, n);
  return a;
}

}  // namespace

TEST(ByteStringLists, SplitMatchesAPlainSplit) {
  TByteStringParts p;
  ByteStringSplit("a,b,,c", ',', p);
  EXPECT_EQ(AllParts(p), (std::vector<std::string>{"a", "b", "", "c"}));
  size_t start = 9, length = 9;
  EXPECT_FALSE(ByteStringListPartBounds(p, 2, start, length));
  EXPECT_TRUE(ByteStringListPartBounds(p, 3, start, length));
  EXPECT_EQ(start, 5u);
  EXPECT_FALSE(ByteStringListPartBounds(p, 4, start, length));
  EXPECT_FALSE(ByteStringListPartBounds(p, -1, start, length));
  ByteStringSplit("", ',', p);
  EXPECT_EQ(ByteStringListCount(p), 0u);
  ByteStringSplit(",", ',', p);
  EXPECT_EQ(AllParts(p), (std::vector<std::string>{"", ""}));
  // Across the change from packed positions to the array: counts around 5,
  // positions around 63, growth of the array past 8.
  std::mt19937 rng(5);
  for (int round = 0; round < 400; ++round) {
    std::string s(rng() % 90, 'x');
    for (int k = rng() % 20; k > 0 && !s.empty(); --k) s[rng() % s.size()] = ',';
    ByteStringSplit(s, ',', p);
    ASSERT_EQ(AllParts(p), PlainSplit(s, ',')) << s;
  }
  ByteStringSplit(std::string(70, 'x') + ",y", ',', p);
  EXPECT_EQ(ByteStringListGetPart(p, 1), "y");
}

TEST(ByteStringLists, TypedParts) {
  TByteStringParts p;
  ByteStringSplitWide(u"12,\u00e4b,1.5,,x", ',', p);
  EXPECT_EQ(ByteStringListGetInt(p, 0, -1), 12);
  EXPECT_EQ(ByteStringListGetString(p, 1), u"\u00e4b");
  EXPECT_EQ(ByteStringListGetFloat(p, 2, -1), 1.5);
  EXPECT_EQ(ByteStringListGetInt(p, 3, -1), -1);
  EXPECT_EQ(ByteStringListGetInt(p, 4, -1), -1);
  EXPECT_EQ(ByteStringListGetString(p, 7), u"");
}

TEST(ByteStringLists, ArraysWithSlots) {
  TByteStringArray a;
  EXPECT_EQ(ByteStringArrayAdd(a, "x"), 0u);
  ByteStringListAppendWide(a, u"y", 1);
  EXPECT_TRUE(a.IndexMap.empty());
  ByteStringListAppendWide(a, u"z", 5);
  EXPECT_EQ(a.IndexMap, (std::vector<int32_t>{0, 1, 5}));
  EXPECT_EQ(ByteStringArraySlotCount(a), 6u);
  EXPECT_THROW(ByteStringListAppendWide(a, u"w", 5), EAbort);
  EXPECT_EQ(ByteStringArrayAdd(a, "v"), 3u);
  EXPECT_EQ(a.IndexMap.back(), 6);
}

TEST(ByteStringLists, KeyValuePairs) {
  const TByteStringArray keys = Keys({"x", "y", "z"});
  TByteStringArray values;
  EXPECT_EQ(ReadKeyValuePairs(keys, values, "x=1; z=3", ';', '='), 2);
  EXPECT_EQ(values.Items, (std::vector<std::string>{"1", "", "3"}));
  EXPECT_EQ(ReadKeyValuePairs(keys, values, "y=1; x=2", ';', '='), ~5);
  EXPECT_EQ(values.Items[1], "1");
  EXPECT_EQ(ReadKeyValuePairs(keys, values, " X = a b ;Y=;z", ';', '='), ~13);
  EXPECT_EQ(values.Items, (std::vector<std::string>{"a b", "", ""}));
  EXPECT_EQ(ReadKeyValuePairs(keys, values, "", ';', '='), 0);
  EXPECT_EQ(values.Items.size(), 3u);
  // Keys with slots: values land in the mapped slots.
  TByteStringArray slotted;
  ByteStringListAppendWide(slotted, u"Width", 0);
  ByteStringListAppendWide(slotted, u"Height", 4);
  EXPECT_EQ(ReadKeyValuePairs(slotted, values, "height=7", ',', ':'), ~0);
  EXPECT_EQ(ReadKeyValuePairs(slotted, values, "width:3,HEIGHT: 7 ", ',', ':'), 2);
  EXPECT_EQ(values.Items, (std::vector<std::string>{"3", "", "", "", "7"}));
}

TEST(ByteStringLists, LineScanning) {
  const std::string text = "one\r\ntwo\n\rthree\n\nfour";
  std::vector<std::string> lines;
  size_t start = 0, length = 0;
  ASSERT_TRUE(ByteStringFindLineEnd(text, start, length));
  while (true) {
    lines.push_back(text.substr(start, length));
    if (start + length >= text.size()) break;
    ByteStringSkipLineBreak(text, start, length);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "", "four"}));
  EXPECT_FALSE(ByteStringFindLineEnd(text, text.size(), length));
  start = 0, length = 1;
  EXPECT_THROW(ByteStringSkipLineBreak(text, start, length), EAbort);
  start = 0, length = 2;
  ByteStringSkipLineBreak("ab\r", start, length);
  EXPECT_EQ(start, 3u);
  EXPECT_EQ(length, 0u);
}

namespace {

struct Data {
  std::vector<int> v;
  int first = 0, last = 0;
  bool out_of_range = false;
  void Check(int32_t i) { if (i < first || i > last) out_of_range = true; }
};
int32_t CompareInts(void* ctx, int32_t i, int32_t j) {
  auto* d = static_cast<Data*>(ctx);
  d->Check(i), d->Check(j);
  return d->v[i] < d->v[j] ? -1 : d->v[i] > d->v[j];
}
int32_t CompareRandomly(void* ctx, int32_t i, int32_t j) {
  static std::mt19937 rng(1);
  static_cast<Data*>(ctx)->Check(i), static_cast<Data*>(ctx)->Check(j);
  return int32_t(rng() % 3) - 1;
}
void SwapInts(void* ctx, int32_t i, int32_t j) {
  auto* d = static_cast<Data*>(ctx);
  d->Check(i), d->Check(j);
  std::swap(d->v[i], d->v[j]);
}

}  // namespace

TEST(CallbackSort, SortsLikeAPlainSort) {
  std::mt19937 rng(9);
  for (int n : {0, 1, 2, 15, 16, 17, 100, 1000, 5000}) {
    for (int pattern = 0; pattern < 4; ++pattern) {
      Data d;
      for (int i = 0; i < n + 6; ++i)
        d.v.push_back(pattern == 0 ? int(rng() % 1000) : pattern == 1 ? i : pattern == 2 ? -i : int(rng() % 3));
      d.first = 3, d.last = n + 2;  // sort the middle; leave 3 on each side
      std::vector<int> expected = d.v;
      std::sort(expected.begin() + 3, expected.begin() + 3 + n);
      TSortCallbacks cb;
      InitSortCallbacks(cb, CompareInts, &d, SwapInts, &d);
      SortWithCallbacks(cb, d.first, d.last);
      ASSERT_EQ(d.v, expected) << n << " " << pattern;
      ASSERT_FALSE(d.out_of_range);
    }
  }
  // An inconsistent compare routine never leads the sort out of its range.
  Data d;
  d.v.assign(3000, 0);
  d.first = 0, d.last = 2999;
  TSortCallbacks cb;
  InitSortCallbacks(cb, CompareRandomly, &d, SwapInts, &d);
  SortWithCallbacks(cb, 0, 2999);
  EXPECT_FALSE(d.out_of_range);
}

TEST(CallbackSort, ShakerSortCountsSwaps) {
  Data d;
  d.v = {3, 1, 2, 5, 4};
  d.last = 4;
  TSortCallbacks cb;
  InitSortCallbacks(cb, CompareInts, &d, SwapInts, &d);
  EXPECT_EQ(ShakerSort(cb, 0, 4), 3);  // the number of inversions
  EXPECT_EQ(d.v, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(ShakerSort(cb, 0, 4), 0);
  std::mt19937 rng(2);
  d.v.clear();
  for (int i = 0; i < 300; ++i) d.v.push_back(int(rng() % 50));
  d.last = 299;
  int inversions = 0;
  for (int i = 0; i < 300; ++i)
    for (int j = i + 1; j < 300; ++j) inversions += d.v[i] > d.v[j];
  EXPECT_EQ(ShakerSort(cb, 0, 299), inversions);
  EXPECT_TRUE(std::is_sorted(d.v.begin(), d.v.end()));
  EXPECT_FALSE(d.out_of_range);
}

namespace {

// McIlroy's adversary: items stay "gas" (unknown) until the sort compares
// them with its pivot candidate, which freezes them in ascending order. The
// frozen values form an input on which plain quicksort goes quadratic.
struct Adversary {
  std::vector<int> ids;     // the items in their current places
  std::vector<int> value;   // per item; kGas until frozen
  int next = 0, candidate = -1;
  long compares = 0;
  static constexpr int kGas = 1 << 30;
  int Freeze(int item) { return value[item] = next++; }
};
int32_t AdversaryCompare(void* ctx, int32_t i, int32_t j) {
  auto* a = static_cast<Adversary*>(ctx);
  ++a->compares;
  const int x = a->ids[i], y = a->ids[j];
  if (a->value[x] == Adversary::kGas && a->value[y] == Adversary::kGas) a->Freeze(x == a->candidate ? x : y);
  if (a->value[x] == Adversary::kGas) a->candidate = x;
  else if (a->value[y] == Adversary::kGas) a->candidate = y;
  return a->value[x] < a->value[y] ? -1 : a->value[x] > a->value[y];
}
void AdversarySwap(void* ctx, int32_t i, int32_t j) {
  std::swap(static_cast<Adversary*>(ctx)->ids[i], static_cast<Adversary*>(ctx)->ids[j]);
}

}  // namespace

// On an input built against the middle pivot, the depth limit hands the rest
// to heapsort: the result is sorted and the compares stay near n log n.
TEST(CallbackSort, DepthLimitFallsBackToHeapsort) {
  const int n = 4000;
  Adversary a;
  for (int i = 0; i < n; ++i) a.ids.push_back(i), a.value.push_back(Adversary::kGas);
  TSortCallbacks cb;
  InitSortCallbacks(cb, AdversaryCompare, &a, AdversarySwap, &a);
  SortWithCallbacks(cb, 0, n - 1);
  for (int& v : a.value) if (v == Adversary::kGas) v = a.next++;

  Data d;
  d.v = a.value;
  d.last = n - 1;
  long compares = 0;
  struct Counting { Data* d; long* c; } ctx{&d, &compares};
  InitSortCallbacks(
      cb, [](void* c, int32_t i, int32_t j) { ++*static_cast<Counting*>(c)->c; return CompareInts(static_cast<Counting*>(c)->d, i, j); },
      &ctx, SwapInts, &d);
  SortWithCallbacks(cb, 0, n - 1);
  EXPECT_TRUE(std::is_sorted(d.v.begin(), d.v.end()));
  EXPECT_FALSE(d.out_of_range);
  EXPECT_LT(compares, 60L * n * 12);  // a quadratic run would need ~n*n/4
  EXPECT_GT(a.compares, 0);
}
