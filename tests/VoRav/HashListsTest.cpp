#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VoRav/vxHashLists.h"

using namespace kav;

namespace {

int g_values = 0;
class TValue : public TRefObject {
 public:
  TValue() { ++g_values; }
 protected:
  ~TValue() override { --g_values; }
};

std::vector<std::u16string> ChainKeys(const THashItem* bucket) {
  std::vector<std::u16string> keys;
  for (TKeyItem* k = bucket ? bucket->First() : nullptr; k; k = k->Next()) keys.push_back(k->Key());
  return keys;
}

// Case-insensitive keys (ASCII is enough here), and a record of removals.
class TNoCaseList : public THashList {
 public:
  TNoCaseList() : THashList(7) {}
  uint32_t HashOf(std::u16string_view key) const override { return THashList::HashOf(Lower(key)); }
  bool SameKey(std::u16string_view a, std::u16string_view b) const override { return Lower(a) == Lower(b); }
  void ItemRemoved(TKeyItem* item) override { removed.push_back(item->Key()); }
  std::vector<std::u16string> removed;

 private:
  static std::u16string Lower(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return out;
  }
};

}  // namespace

TEST(HashUtils, ElfHashOfBytesAndLowBytesOfUnits) {
  // Reference values from the classic ELF hash.
  EXPECT_EQ(StrHashELF(std::string_view("abcdefghij")), 180004458u);
  EXPECT_EQ(StrHashELF(std::string_view("Project.kav")), 200468358u);
  EXPECT_EQ(StrHashELF(std::string_view("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff")), 16777215u);
  EXPECT_EQ(StrHashELF(u"Project.kav"), 200468358u);
  EXPECT_EQ(StrHashELF(u"\u0141"), StrHashELF(u"A"));
  EXPECT_EQ(StrHashELF(u""), 0u);
}

TEST(HashList, BucketsChainsAndLookups) {
  auto list = MakeRef<THashList>(251);
  EXPECT_EQ(MakeRef<THashList>(0)->BucketCount(), 1);
  const std::u16string k251(1, char16_t{0xFB});        // hash 251
  const std::u16string k502{char16_t{0x1F}, char16_t{0x06}};  // hash 502
  ASSERT_EQ(list->HashOf(k251), 251u);
  ASSERT_EQ(list->HashOf(k502), 502u);
  bool added = false;
  TKeyItem* a = list->FindOrAddEx(k251, added);
  EXPECT_TRUE(added);
  list->FindOrAdd(k502);
  list->FindOrAdd(u"x");
  EXPECT_EQ(ChainKeys(list->BucketAt(0)), (std::vector<std::u16string>{k251, k502}));
  EXPECT_EQ(list->FindOrAddEx(k251, added), a);
  EXPECT_FALSE(added);

  // Lookups of missing keys make no buckets.
  EXPECT_FALSE(list->Contains(u"zz"));
  EXPECT_EQ(list->BucketAt(static_cast<int32_t>(StrHashELF(u"zz") % 251)), nullptr);
  TKeyItem* found = nullptr;
  EXPECT_TRUE(list->TryFind(k502, found));
  EXPECT_EQ(found->Key(), k502);
  EXPECT_FALSE(list->TryFind(u"X", found));  // case-sensitive
  EXPECT_EQ(found, nullptr);

  // Removing the first of a chain of three keeps the rest linked.
  const std::u16string k753{char16_t{0x2F}, char16_t{0x01}};  // hash 753
  list->FindOrAdd(k753);
  EXPECT_TRUE(list->DeleteKey(k502));
  EXPECT_EQ(ChainKeys(list->BucketAt(0)), (std::vector<std::u16string>{k251, k753}));
  EXPECT_TRUE(list->DeleteKey(k251));
  EXPECT_FALSE(list->DeleteKey(k251));
  EXPECT_EQ(ChainKeys(list->BucketAt(0)), (std::vector<std::u16string>{k753}));
  EXPECT_EQ(list->BucketAt(0)->Last()->Key(), k753);
}

TEST(HashList, CacheNeverOutlivesAnInsertOrRemove) {
  auto list = MakeRef<THashList>(13);
  TKeyItem* first = list->FindOrAdd(u"key");  // now cached
  RefAddRef(first);                         // someone else keeps it
  EXPECT_TRUE(list->DeleteKey(u"key"));
  EXPECT_FALSE(list->Contains(u"key"));
  EXPECT_EQ(first->Bucket(), nullptr);  // detached, still alive
  TKeyItem* second = list->FindOrAdd(u"key");
  EXPECT_NE(second, first);
  TKeyItem* found = nullptr;
  EXPECT_TRUE(list->TryFind(u"key", found));
  EXPECT_EQ(found, second);
  first->Free();

  // An item released through another path leaves its chain and the cache.
  RefAddRef(second);
  list->Clear(false);
  EXPECT_FALSE(list->Contains(u"key"));
  second->Free();
  EXPECT_NE(list->FindOrAdd(u"key"), nullptr);
}

TEST(HashList, ClearReleasesItemsAndOptionallyTheirValues) {
  g_values = 0;
  {
    auto list = MakeRef<TNoCaseList>();
    for (const char16_t* k : {u"One", u"two", u"Three", u"four"}) list->FindOrAdd(k)->Add(new TValue);
    EXPECT_EQ(list->FindOrAdd(u"ONE")->Key(), u"One");
    auto* orphan = static_cast<TValue*>(list->FindOrAdd(u"two")->First());
    EXPECT_TRUE(list->DeleteKey(u"TWO"));
    EXPECT_EQ(list->removed, (std::vector<std::u16string>{u"two"}));
    EXPECT_EQ(g_values, 4);  // deleting a key does not release its values
    orphan->Free();
    list->Clear(true);
    EXPECT_EQ(g_values, 0);
    EXPECT_EQ(list->removed.size(), 4u);
    EXPECT_FALSE(list->Contains(u"three"));
  }
}

TEST(HashUtils, OpenTableGrowsAndKeepsEveryKey) {
  // append, not "k" + ...: GCC 12 reports a bogus -Wrestrict on operator+(const char*, string&&).
  const auto key = [](int i) { return std::string("k").append(std::to_string(i)); };
  THashTable table;
  EXPECT_EQ(HashTableFind(table, "a"), -1);
  HashTableSet(table, "k0", 100);
  EXPECT_EQ(table.Capacity, 16);
  for (int i = 1; i < 17; ++i) HashTableSet(table, key(i), 100 + i);
  EXPECT_EQ(table.Capacity, 32);
  for (int i = 17; i < 40; ++i) HashTableSet(table, key(i), 100 + i);
  HashTableSet(table, "k5", -5);  // update in place
  EXPECT_EQ(table.Count, 40);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(HashTableGet(table, key(i), 0), i == 5 ? -5 : 100 + i) << i;
  EXPECT_EQ(HashTableFind(table, "k7"), 7);  // entries stay in the order added
  EXPECT_EQ(HashTableGet(table, "K7", -1), -1);

  THashTable odd;
  odd.Capacity = 12;
  odd.Entries.resize(12);
  odd.Count = 12;
  EXPECT_THROW(HashTableSet(odd, "x", 1), EAbort);

  HashTableClear(table);
  EXPECT_EQ(table.Count, 0);
  EXPECT_EQ(HashTableGet(table, "k1", 9), 9);
}
