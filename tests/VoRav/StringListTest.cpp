#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VoRav/vxStrings.h"

using namespace kav;

namespace {

std::vector<std::u16string> Texts(const TStringList& list) {
  std::vector<std::u16string> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.GetString(i));
  return out;
}

int g_objects = 0;
class TTag : public TRefObject {
 public:
  TTag() { ++g_objects; }
 protected:
  ~TTag() override { --g_objects; }
};

}  // namespace

TEST(StringList, SortedCaseInsensitiveFindsAndInsertsInOrder) {
  auto list = MakeRef<TStringList>();
  list->Add(u"b");
  list->Add(u"A");
  list->SetIgnoreCase(true);
  list->SetSorted(true);
  EXPECT_EQ(Texts(*list), (std::vector<std::u16string>{u"A", u"b"}));
  EXPECT_EQ(list->IndexOf(u"a"), 0);
  EXPECT_EQ(list->IndexOf(u"B"), 1);
  EXPECT_EQ(list->IndexOf(u"c"), -1);

  EXPECT_EQ(list->Add(u"\u212Aelvin"), 2);  // Kelvin sign folds to k
  EXPECT_EQ(list->IndexOf(u"KELVIN"), 2);
  EXPECT_EQ(list->Add(u"aa"), 1);
  EXPECT_EQ(list->Add(u""), 0);
  EXPECT_EQ(Texts(*list), (std::vector<std::u16string>{u"", u"A", u"aa", u"b", u"\u212Aelvin"}));
  // The empty text is found like any other.
  EXPECT_EQ(list->IndexOf(u""), 0);

  // Turning case sensitivity on re-sorts: upper case sorts first.
  list->SetIgnoreCase(false);
  EXPECT_EQ(Texts(*list), (std::vector<std::u16string>{u"", u"A", u"aa", u"b", u"\u212Aelvin"}));
  list->SetString(1, u"z");
  EXPECT_EQ(Texts(*list), (std::vector<std::u16string>{u"", u"aa", u"b", u"z", u"\u212Aelvin"}));
  EXPECT_EQ(list->IndexOf(u"AA"), -1);

  int32_t index = -1;
  EXPECT_FALSE(list->FindInRange(u"c", 1, index, 99));
  EXPECT_EQ(index, 3);
  EXPECT_TRUE(list->Insert(5, u"0"));  // re-sorted after the insertion
  EXPECT_EQ(list->IndexOf(u"0"), 1);
  EXPECT_FALSE(list->Insert(7, u"x"));
}

TEST(StringList, UnsortedListKeepsOrderAndEmptySlots) {
  auto list = MakeRef<TStringList>();
  list->Add(u"one");
  list->Add(u"One");
  EXPECT_EQ(list->IndexOf(u"ONE"), -1);
  list->SetIgnoreCase(true);
  EXPECT_EQ(list->IndexOf(u"ONE"), 0);

  list->SetCount(4);  // two empty slots
  EXPECT_EQ(list->GetString(3), u"");
  EXPECT_EQ(list->GetString(10), u"");
  EXPECT_EQ(list->GetString(-1), u"");
  EXPECT_EQ(list->GetObject(3), nullptr);
  EXPECT_EQ(list->IndexOf(u""), 2);
  EXPECT_EQ(list->PeekItem(2), nullptr);
  EXPECT_NE(list->GetItem(2), nullptr);  // made on first use
  EXPECT_EQ(list->GetItem(4), nullptr);
  EXPECT_THROW(list->SetString(4, u"x"), EAbort);
  list->SetString(3, u"four");
  EXPECT_EQ(Texts(*list), (std::vector<std::u16string>{u"one", u"One", u"", u"four"}));
  list->SetCount(1);
  EXPECT_EQ(Texts(*list), (std::vector<std::u16string>{u"one"}));
}

TEST(StringList, ObjectsOutliveDeleteUntilClearObjects) {
  g_objects = 0;
  auto list = MakeRef<TStringList>();
  auto* kept = new TTag;
  list->AddObject(u"a", kept);
  list->AddObject(u"b", new TTag);
  list->AddObject(u"c", new TTag);
  list->Delete(0);
  EXPECT_EQ(g_objects, 3);  // Delete leaves the object alive
  EXPECT_EQ(list->GetObject(0), list->PeekItem(0)->Object());

  auto copy = MakeRef<TStringList>();
  copy->Assign(*list);
  copy->AddList(*copy);
  EXPECT_EQ(Texts(*copy), (std::vector<std::u16string>{u"b", u"c", u"b", u"c"}));
  EXPECT_EQ(copy->GetObject(2), list->GetObject(0));  // shared, not duplicated
  copy->Clear();            // objects untouched
  EXPECT_EQ(g_objects, 3);

  void* extracted = list->Extract(1);
  EXPECT_EQ(g_objects, 3);
  list->AddObject(u"c", extracted);
  list->ClearObjects(true);
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(g_objects, 1);
  kept->Free();

  // Lists of other objects bring their own release.
  static int plain = 0;
  struct TPlain {
    TPlain() { ++plain; }
    ~TPlain() { --plain; }
  };
  auto others = MakeRef<TStringList>();
  others->SetObjectFree(&TList::DeleteItem<TPlain>);
  others->AddObject(u"x", new TPlain);
  others->ClearObjects(true);
  EXPECT_EQ(plain, 0);
}

TEST(StringList, StringsInterfaceAndOwnerHelpers) {
  auto source = MakeRef<TStringList>();
  for (const char16_t* t : {u"q", u"p", u"r"}) source->Add(t);
  auto target = MakeRef<TStringList>();
  target->SetSorted(true);
  target->Add(u"old");
  target->AssignStrings(*source);
  EXPECT_EQ(Texts(*target), (std::vector<std::u16string>{u"p", u"q", u"r"}));
  target->AddStrings(*source);
  EXPECT_EQ(Texts(*target), (std::vector<std::u16string>{u"p", u"p", u"q", u"q", u"r", u"r"}));

  TStringList* field = target.get();
  StringListOwnerClear(&field);
  StringListOwnerAdd(&field, u"keyword");
  EXPECT_EQ(Texts(*target), (std::vector<std::u16string>{u"keyword"}));
  TStringList* none = nullptr;
  StringListOwnerAdd(&none, u"ignored");
  StringListOwnerClear(nullptr);
}
