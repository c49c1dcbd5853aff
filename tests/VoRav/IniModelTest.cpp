// The INI model: insertion and removal, the key index, lookups, copies,
// value accessors and the savers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ProbeStream.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxUTF8.h"

using namespace kav;

namespace {

// Checks what the list promises about its children, and that every lookup
// agrees with a plain scan.
void CheckList(TIniList* list, const std::vector<std::u16string>& names) {
  std::vector<TIniObject*> objects;
  for (int32_t i = 0; i < list->Count(); ++i) {
    TIniItem* item = list->GetItem(i);
    ASSERT_EQ(item->Index(), i);
    ASSERT_EQ(item->Owner(), list);
    if (auto* o = dynamic_cast<TIniObject*>(item)) objects.push_back(o);
  }
  ASSERT_EQ(IniObjectCount(list->Objects()), int32_t(objects.size()));
  TIniObject* walk = list->FirstObject();
  for (TIniObject* o : objects) {
    ASSERT_EQ(walk, o);
    walk = list->NextObject(walk);
  }
  ASSERT_EQ(walk, nullptr);
  for (const auto& name : names) {
    TIniItem* key = nullptr;
    TIniObject* object = nullptr;
    for (int32_t i = 0; i < list->Count(); ++i) {
      TIniItem* item = list->GetItem(i);
      if (ByteStringCompareWideText(item->NameBytes(), name) != 0) continue;
      if (item->IsNamedKey()) key = item;
      if (auto* o = dynamic_cast<TIniObject*>(item)) object = o;
    }
    ASSERT_EQ(list->FindKey(name), key);
    ASSERT_EQ(list->FindObject(name), object);
  }
}

std::string Text(TIniList* list) {
  auto saver = MakeRef<TBytesTextSaver>();
  list->SaveTo(saver.get());
  return saver->TakeBytes();
}

}  // namespace

TEST(IniModel, RandomEditsKeepIndexAndLookups) {
  const std::vector<std::u16string> names{u"alpha", u"ALPHA", u"beta", u"Gamma", u"\u00c4rger", u"\u00e4RGER", u"d"};
  std::mt19937 rng(17);
  auto list = MakeRef<TIniList>();
  auto other = MakeRef<TIniList>();
  for (int step = 0; step < 3000; ++step) {
    const int32_t n = list->Count();
    switch (rng() % 7) {
      case 0:
      case 1: {
        TIniItem* item = rng() % 4 == 0 ? static_cast<TIniItem*>(new TIniObject()) : new TIniItem();
        if (rng() % 5) item->SetName(names[rng() % names.size()]);
        ASSERT_TRUE(list->Insert(int32_t(rng() % (n + 1)), item));
        break;
      }
      case 2:
        if (n) list->Remove(int32_t(rng() % n));
        break;
      case 3:
        if (n) list->GetItem(int32_t(rng() % n))->SetName(rng() % 4 ? names[rng() % names.size()] : u"");
        break;
      case 4:  // move inside the list
        if (n) {
          ASSERT_TRUE(list->Insert(int32_t(rng() % (n + 1)), list->GetItem(int32_t(rng() % n))));
        }
        break;
      case 5:  // move to another list and back
        if (n) {
          TIniItem* item = list->GetItem(int32_t(rng() % n));
          other->Add(item);
          ASSERT_EQ(item->Owner(), other.get());
          list->Insert(int32_t(rng() % n), item);
        }
        break;
      case 6:  // releasing a child takes it out
        if (n) list->GetItem(int32_t(rng() % n))->Free();
        break;
    }
    ASSERT_LE(list->KeyEnd(), list->Count());
    ASSERT_NO_FATAL_FAILURE(CheckList(list.get(), names)) << "step " << step;
  }
  EXPECT_EQ(other->Count(), 0);
}

TEST(IniModel, InsertRules) {
  auto doc = MakeRef<TIniFile>();
  TIniObject* outer = CreateIniItem<TIniObject>(doc.get(), u"outer");
  TIniObject* inner = CreateIniItem<TIniObject>(outer, u"inner");
  EXPECT_FALSE(inner->Insert(0, outer));  // a list cannot go into its own descendant
  EXPECT_FALSE(outer->Insert(0, outer));
  EXPECT_FALSE(outer->Insert(0, nullptr));
  EXPECT_EQ(outer->Count(), 1);
  auto stray = Ref<TIniItem>::Adopt(new TIniItem("k", "v"));
  EXPECT_FALSE(outer->Insert(3, stray.get()));  // beyond the count: refused, still the caller's
  EXPECT_EQ(stray->Owner(), nullptr);

  // Created items go after the last nested object, or at the key end.
  auto list = MakeRef<TIniList>();
  CreateIniItem(list.get(), u"a", u"1");
  list->Add(new TIniItem("", "; comment"));
  CreateIniItem(list.get(), u"b", u"2");
  EXPECT_EQ(list->FindKey(u"b")->Index(), 1);
  CreateIniItem<TIniObject>(list.get(), u"o");
  CreateIniItem(list.get(), u"c", u"3");
  EXPECT_EQ(Text(list.get()), "a=1\r\nb=2\r\nobject o\r\nend\r\nc=3\r\n; comment\r\n");

  // A new key in a new section goes before the blank line that ends it.
  auto d = MakeRef<TIniFile>();
  IniWriteString(d.get(), u"S", u"x", u"1");
  IniWriteInteger(d.get(), u"S", u"y", -5);
  IniWriteString(d.get(), u"T", u"z", u"\u00e4");
  EXPECT_EQ(d->SaveToBytes(), "[S]\r\nx=1\r\ny=-5\r\n\r\n[T]\r\nz=\xC3\xA4\r\n\r\n");
  EXPECT_EQ(IniReadInteger(d.get(), u"s", u"Y", 0), -5);
  EXPECT_EQ(IniReadString(nullptr, u"s", u"y", u"def"), u"def");
  EXPECT_EQ(d->Sections()->GetSection(1), d->FindSection(u"t"));
  d->FindSection(u"S")->Free();  // a section released from its document leaves the section list
  EXPECT_EQ(d->Sections()->Count(), 1);
  EXPECT_EQ(d->Sections()->GetSection(0)->ObjectIndex(), 0);
}

TEST(IniModel, Lookups) {
  auto doc = MakeRef<TIniFile>();
  ASSERT_TRUE(doc->LoadFromBytes(
      "[Main]\nCell3=c\nCELL12=d\nCell=e\nCell03=x\nobject Cell3:T\nend\n"
      "object A:T1\nobject Deep\nend\nend\nobject A:T2\nend\n"));
  TIniList* main = doc->FindSection(u"main");
  EXPECT_EQ(main->FindKeyIndexed(u"cell", 3)->GetString(), u"c");
  EXPECT_EQ(main->FindKeyIndexed(u"Cell", 12)->GetString(), u"d");
  EXPECT_EQ(main->FindKeyIndexed(u"Cell", 4), nullptr);
  EXPECT_EQ(main->FindKeyIndexed(u"Cel", 3), nullptr);
  EXPECT_EQ(main->FindKeyByBytes("cell"), main->FindKey(u"CELL"));
  EXPECT_EQ(main->FindItemOfClass<TIniList>(u"cell3"), main->FindObject(u"Cell3"));
  EXPECT_EQ(main->FindObject(u"a")->GetString(), u"T2");
  EXPECT_EQ(main->FindObjectWithValue(u"a", u"t1")->GetString(), u"T1");

  // Paths: sections from the document, objects below, a key last.
  TIniItem* key = doc->FindByPath(u"Main:A:Deep:k");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->Owner()->GetName(), u"Deep");
  EXPECT_EQ(key->Owner()->Owner(), main->FindObject(u"a"));  // the last object named A
  EXPECT_EQ(doc->FindByPath(u"Main::"), main->FirstObject());
  TIniItem* made = doc->FindByPath(u"New:Obj:Sub:key");
  EXPECT_EQ(made->Owner()->Owner()->Owner(), doc->FindSection(u"new"));
  EXPECT_EQ(doc->FindByPath(u"New:Obj:"), doc->FindSection(u"new")->FindObject(u"obj"));
  TIniItem* top = doc->FindByPath(u"top");  // no section: a document-level key
  EXPECT_EQ(top, doc->FindKey(u"top"));

  // Renaming re-files the key.
  TIniItem* cell = main->FindKey(u"cell");
  cell->SetName(u"Renamed");
  EXPECT_EQ(main->FindKey(u"cell"), nullptr);
  EXPECT_EQ(main->FindKey(u"RENAMED"), cell);
  EXPECT_EQ(cell->Index(), 2);
}

TEST(IniModel, CopiesAndValueText) {
  auto doc = MakeRef<TIniFile>();
  ASSERT_TRUE(doc->LoadFromBytes("top=1\n[S]\na=1\nobject O:T\nb=c:\\dir\\\nend\n\n[U]\nu=2\n"));
  auto copy = doc->Clone();
  EXPECT_EQ(static_cast<TIniFile*>(copy.get())->SaveToBytes(), doc->SaveToBytes());
  EXPECT_EQ(static_cast<TIniFile*>(copy.get())->Sections()->Count(), 2);

  // Assign from a list copies its children; from another writer it parses
  // the writer's text: a section or object gives its contents.
  auto list = MakeRef<TIniList>();
  TIniList* s = doc->FindSection(u"S");
  list->Assign(s);
  EXPECT_EQ(Text(list.get()), "a=1\r\nobject O:T\r\n  b=c:\\dir\\\r\nend\r\n\r\n");
  list->Assign(s->FindObject(u"O"));  // an object is a list: its children
  EXPECT_EQ(Text(list.get()), "b=c:\\dir\\\r\n");
  auto key = Ref<TIniItem>::Adopt(new TIniItem("k", "v"));
  list->Assign(key.get());
  EXPECT_EQ(Text(list.get()), "k=v\r\n");
  auto other = MakeRef<TIniFile>();
  other->Assign(doc.get());
  EXPECT_EQ(other->SaveToBytes(), doc->SaveToBytes());
  list->Assign(list.get());  // assigning to itself keeps it
  EXPECT_EQ(list->Count(), 1);
  s->Assign(s->FindObject(u"O"));  // the source lies inside the target
  EXPECT_EQ(Text(s), "[S]\r\nb=c:\\dir\\\r\n");

  // The one-line form doubles backslashes and writes breaks as \n.
  const std::string one = doc->SaveToValueText();
  EXPECT_EQ(one.find('\r'), std::string::npos);
  EXPECT_NE(one.find("c:\\\\dir\\\\\\n"), std::string::npos);
  auto back = MakeRef<TIniList>();
  ASSERT_TRUE(back->LoadFromValueText(one));
  EXPECT_EQ(Text(back.get()), doc->SaveToBytes());
  EXPECT_FALSE(back->LoadFromValueText("a=1\\x"));
  EXPECT_EQ(back->Count(), 0);
  EXPECT_FALSE(back->LoadFromValueText("a=1\\"));
  EXPECT_EQ(IniUnescapeToWide("x\\\\y\\n\xC3\xA4"), u"x\\y\r\n\u00e4");
  EXPECT_EQ(IniUnescapeToWide("bad\\q"), u"");
}

TEST(IniModel, ValueAccessors) {
  TIniItem* i = new TIniItem();
  auto hold = Ref<TIniItem>::Adopt(i);
  for (const char* v : {"", "10", "2", " 1", "true"}) {
    i->SetValueBytes(v);
    EXPECT_TRUE(i->GetBool(true)) << v;
    EXPECT_FALSE(i->GetBool(false)) << v;
  }
  i->SetValueBytes("0");
  EXPECT_FALSE(i->GetBool(true));
  i->SetBool(true);
  EXPECT_EQ(i->GetValueBytes(), "1");
  i->SetFloat(1.1);
  EXPECT_EQ(i->GetValueBytes(), "1.1");
  i->SetFloat(-1234.5678);
  EXPECT_EQ(i->GetValueBytes(), "-1234.5678");
  i->SetFloat(1.0 / 3.0);
  EXPECT_EQ(i->GetValueBytes(), "0.3333333333333333");
  EXPECT_DOUBLE_EQ(i->GetFloat(0), 1.0 / 3.0);
  // 16 significant digits at any magnitude: nothing is lost to a fixed
  // number of decimals.
  i->SetFloat(1e-20);
  EXPECT_EQ(i->GetValueBytes(), "1E-20");
  EXPECT_EQ(i->GetFloat(0), 1e-20);
  i->SetFloat(1.2345678901234567e-7);
  EXPECT_EQ(i->GetValueBytes(), "1.234567890123457E-7");
  EXPECT_DOUBLE_EQ(i->GetFloat(0), 1.234567890123457e-7);
  i->SetFloat(0.00001);
  EXPECT_EQ(i->GetValueBytes(), "0.00001");
  i->SetFloat(123456789012345678.0);
  EXPECT_EQ(i->GetValueBytes(), "1.234567890123457E17");
  for (double v : {6.02214076e23, -4.9e-300, 1.5e308, 0.1, 299792458.0, -2.5e-6}) {
    i->SetFloat(v);
    EXPECT_NEAR(i->GetFloat(0) / v, 1.0, 1e-15) << i->GetValueBytes();
  }
  i->SetInt64(-9000000000LL);
  EXPECT_EQ(i->GetInt64(0), -9000000000LL);
  EXPECT_EQ(i->GetInteger(7), 7);  // out of the 32-bit range
  i->SetString(u"Percent");
  EXPECT_EQ(i->GetIndexOf({u"PlaceInto", u"percent"}, -1, true), 1);
  EXPECT_EQ(i->GetIndexOf({u"PlaceInto", u"percent"}, -1, false), -1);
}

TEST(IniModel, Savers) {
  // Pieces larger than the buffers; non-ASCII text across buffer edges.
  std::u16string wide;
  for (int k = 0; k < 40000; ++k) wide += char16_t(k % 3 == 0 ? u'a' : k % 3 == 1 ? u'\u00e9' : u'\u20ac');
  auto stream = MakeRef<test::TProbeStream>();
  {
    auto saver = Ref<TStreamTextSaver>::Adopt(new TStreamTextSaver(stream.get(), false));
    saver->WriteIndent(200);
    saver->WriteLine(wide);
    saver->WriteBytes(std::string(70000, 'z'));
    saver->Close();
  }
  const std::string expect = std::string(200, ' ') + UTF8Encode(wide) + "\r\n" + std::string(70000, 'z');
  EXPECT_EQ(std::string(stream->bytes().begin(), stream->bytes().end()), expect);

  auto bytes = MakeRef<TBytesTextSaver>();
  bytes->WriteText(wide, 5, 3);
  bytes->WriteText(wide, -4, 2);
  bytes->WriteText(wide, 39999, 10);
  EXPECT_EQ(bytes->TakeBytes(), UTF8Encode(wide.substr(5, 3)) + UTF8Encode(wide.substr(0, 2)) + UTF8Encode(wide.substr(39999)));

  auto value = MakeRef<TValueTextSaver>();
  value->WriteText(u"a\\b");
  value->WriteLineBreak();
  value->WriteBytes("\\\\");
  EXPECT_EQ(value->TakeBytes(), "a\\\\b\\n\\\\\\\\");

  // An owned stream is released on Close; writes after the stream is gone fail.
  auto owned = Ref<TStreamTextSaver>::Adopt(new TStreamTextSaver(new test::TProbeStream(), true));
  owned->WriteBytes("x");
  owned->Close();
  EXPECT_EQ(owned->Stream(), nullptr);
}
