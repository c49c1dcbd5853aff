// The INI text form: line parsing, building the tree, writing it back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ProbeStream.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpFileStream.h"

using namespace kav;
using namespace std::string_literals;

namespace {

struct Parsed {
  TIniLineKind kind;
  std::string name, value;
  int32_t indent;
  TIniLineBreak brk;
};

std::vector<Parsed> Lines(std::string_view text) {
  TIniParser p(text);
  std::vector<Parsed> out;
  TIniLine l;
  while (!p.AtEnd()) {
    IniParseLine(p, l);
    out.push_back({l.Kind, std::string(p.Name(l)), std::string(p.Value(l)), l.Indent, l.Break});
  }
  return out;
}

Ref<TIniFile> Parse(std::string_view text) {
  auto doc = MakeRef<TIniFile>();
  EXPECT_TRUE(doc->LoadFromBytes(text));
  return doc;
}

std::string Resave(std::string_view text) { return Parse(text)->SaveToBytes(); }

}  // namespace

TEST(IniText, LineKinds) {
  using K = TIniLineKind;
  auto l = Lines(
      "OBJECT Pic:TImage\n"    // keyword in any case
      "objects=3\n"            // a key: the keyword must stand alone
      "object = x\n"           // a key named object
      "object a:b:c\n"         // the last colon splits
      "  Name  =  some value  \n"
      "; comment  \n"
      "[ Sec One ] trailing\n"
      "[unclosed\n"
      "end of it\n"
      "endless\n"
      "key=\n"
      "object\n");
  ASSERT_EQ(l.size(), 12u);
  EXPECT_EQ(l[0].kind, K::Object);
  EXPECT_EQ(l[0].name, "Pic");
  EXPECT_EQ(l[0].value, "TImage");
  EXPECT_EQ(l[1].kind, K::Key);
  EXPECT_EQ(l[1].name, "objects");
  EXPECT_EQ(l[2].kind, K::Key);
  EXPECT_EQ(l[2].name, "object");
  EXPECT_EQ(l[2].value, "x");
  EXPECT_EQ(l[3].kind, K::Object);
  EXPECT_EQ(l[3].name, "a:b");
  EXPECT_EQ(l[3].value, "c");
  EXPECT_EQ(l[4].kind, K::Key);
  EXPECT_EQ(l[4].name, "Name");
  EXPECT_EQ(l[4].value, "some value");
  EXPECT_EQ(l[4].indent, 2);
  EXPECT_EQ(l[5].kind, K::Plain);
  EXPECT_EQ(l[5].value, "; comment");
  EXPECT_EQ(l[6].kind, K::Section);
  EXPECT_EQ(l[6].name, "Sec One");
  EXPECT_EQ(l[7].kind, K::Plain);
  EXPECT_EQ(l[7].value, "[unclosed");
  EXPECT_EQ(l[8].kind, K::End);
  EXPECT_EQ(l[9].kind, K::Plain);
  EXPECT_EQ(l[10].kind, K::Key);
  EXPECT_EQ(l[10].value, "");
  EXPECT_EQ(l[11].kind, K::Object);
  EXPECT_EQ(l[11].name, "");

  // Line breaks: CR LF, LF CR, CR alone, LF alone, end of text.
  using B = TIniLineBreak;
  auto b = Lines("a\r\nb\n\rc\rd\ne");
  ASSERT_EQ(b.size(), 5u);
  EXPECT_EQ(b[0].brk, B::CRLF);
  EXPECT_EQ(b[1].brk, B::LFCR);
  EXPECT_EQ(b[2].brk, B::CR);
  EXPECT_EQ(b[3].brk, B::LF);
  EXPECT_EQ(b[4].brk, B::EndOfText);
  EXPECT_EQ(b[4].value, "e");
  EXPECT_EQ(Lines("\r\r\n").size(), 2u);
  auto bare = Lines("object \t \r\nend  \r\n");  // the keyword with trailing blanks only
  EXPECT_EQ(bare[0].kind, K::Object);
  EXPECT_EQ(bare[0].name, "");
  EXPECT_EQ(bare[1].kind, K::End);
}

TEST(IniText, TreeAndWriteBack) {
  const std::string text =
      "; head comment\r\n"
      "top=1\r\n"
      "end\r\n"  // stray end at document level
      "[Main]\r\n"
      "   ;indented comment   \r\n"
      "Title = Show\r\n"
      "Dup=first\r\n"
      "Dup=second\r\n"
      "Empty=\r\n"
      "object Slide1:TSlide\r\n"
      "Left=10\r\n"
      "    object Inner : TImage\r\n"
      "File=a.jpg\r\n"
      "end\r\n"
      "end\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=1\r\n"
      "[main]\r\n"  // merges into the first section of the name
      "Late=yes\r\n";
  auto doc = Parse(text);
  EXPECT_EQ(doc->Sections()->Count(), 2);
  TIniList* main = doc->FindSection(u"MAIN");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(doc->FindSection(u""), doc.get());
  EXPECT_EQ(main->ReadString(u"dup", u""), u"second");
  EXPECT_EQ(main->ReadString(u"late", u""), u"yes");
  EXPECT_EQ(IniReadInteger(doc.get(), u"", u"top", 0), 1);
  TIniObject* slide = main->FindObject(u"slide1");
  ASSERT_NE(slide, nullptr);
  EXPECT_EQ(slide->GetString(), u"TSlide");
  EXPECT_EQ(IniGetString(IniFindKey(slide->FindObject(u"Inner"), u"FILE")), u"a.jpg");
  EXPECT_EQ(main->FindObjectWithValue(u"slide1", u"tslide"), slide);
  EXPECT_EQ(main->FindObjectWithValue(u"slide1", u"TImage"), nullptr);

  EXPECT_EQ(doc->SaveToBytes(),
            "; head comment\r\n"
            "top=1\r\n"
            "end\r\n"
            "[Main]\r\n"
            ";indented comment\r\n"
            "Title=Show\r\n"
            "Dup=first\r\n"
            "Dup=second\r\n"
            "Empty=\r\n"
            "object Slide1:TSlide\r\n"
            "  Left=10\r\n"
            "  object Inner:TImage\r\n"
            "    File=a.jpg\r\n"
            "  end\r\n"
            "end\r\n"
            "\r\n"
            "Late=yes\r\n"
            "[Other]\r\n"
            "x=1\r\n");

  // Other line ends read the same and are written as CR LF.
  std::string lf = text, cr = text, lfcr = text;
  for (std::string* s : {&lf, &cr, &lfcr}) {
    const char* with = s == &lf ? "\n" : s == &cr ? "\r" : "\n\r";
    for (size_t at = s->find("\r\n"); at != std::string::npos; at = s->find("\r\n", at + 1)) s->replace(at, 2, with);
    EXPECT_EQ(Resave(*s), doc->SaveToBytes());
  }
}

TEST(IniText, SectionHeaderClosesOpenObjects) {
  auto doc = Parse(
      "[A]\n"
      "object Outer\n"
      "object Inner\n"
      "k=1\n"
      "[B]\n"  // both objects lack their end line
      "b=2\n"
      "end\n");  // no object open: a plain line
  TIniList* a = doc->FindSection(u"A");
  TIniList* b = doc->FindSection(u"B");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->ReadString(u"b", u""), u"2");
  EXPECT_EQ(b->FindObject(u"Inner"), nullptr);
  EXPECT_EQ(a->FindObject(u"Outer")->FindObject(u"Inner")->ReadString(u"k", u""), u"1");
  EXPECT_EQ(doc->SaveToBytes(),
            "[A]\r\nobject Outer\r\n  object Inner\r\n    k=1\r\n  end\r\nend\r\n[B]\r\nb=2\r\nend\r\n");
}

TEST(IniText, WritingIsStable) {
  // Text that the writer could change the meaning of: names with colons,
  // an empty section name, an object without name and class, a header
  // without "]".
  const std::string text =
      "object a:b:\n"
      "end\n"
      "object :TOnlyClass\n"
      "end\n"
      "object\n"
      "end\n"
      "[\n"
      "[]\n"
      "x=1\n"
      "[a]\n"
      "[]\n"
      "y=2\n";
  auto doc = Parse(text);
  EXPECT_EQ(doc->FindObject(u"a:b")->GetString(), u"");
  EXPECT_EQ(IniReadString(doc.get(), u"a", u"y", u""), u"");
  const std::string once = doc->SaveToBytes();
  auto again = Parse(once);
  EXPECT_EQ(again->SaveToBytes(), once);
  EXPECT_NE(again->FindObject(u"a:b"), nullptr);
  EXPECT_EQ(again->Sections()->Count(), 2);
  EXPECT_EQ(again->Sections()->GetSection(0)->Count(), 2);  // x and y in the nameless section
}

TEST(IniText, DeepNestingIsCapped) {
  std::string text;
  const int depth = 20000;
  for (int i = 0; i < depth; ++i) text += "object o:T\n";
  text += "k=v\n";
  for (int i = 0; i < depth; ++i) text += "end\n";
  auto doc = Parse(text);
  int levels = 0;
  for (TIniList* l = doc.get(); (l = l->FirstObject()) != nullptr;) ++levels;
  EXPECT_EQ(levels, kIniMaxObjectDepth);
  const std::string once = doc->SaveToBytes();
  EXPECT_EQ(Parse(once)->SaveToBytes(), once);
}

TEST(IniText, HostileText) {
  // Huge line, NULs, invalid UTF-8, CR-only ends, no final line break.
  std::string text(3'000'000, 'x');
  text += "=";
  text += std::string(1000, '\0');
  text += "\r[s\0ec]\rk\0ey=\xff\xfe\x80 v\0al\0\0\rno=newline"s;
  text[5] = '\0';
  auto doc = Parse(text);
  const std::string once = doc->SaveToBytes();
  EXPECT_EQ(Parse(once)->SaveToBytes(), once);
  TIniList* sec = doc->FindSection(u"s");
  ASSERT_EQ(sec, nullptr);  // the name keeps its NUL
  ASSERT_EQ(doc->Sections()->Count(), 1);
  TIniList* s = doc->Sections()->GetSection(0);
  EXPECT_EQ(s->GetItem(0)->GetValueBytes(), std::string("\xff\xfe\x80 v\0al", 8));
  EXPECT_THROW(s->GetItem(0)->GetString(), EAbort);  // invalid UTF-8 is an error, not garbage
  EXPECT_EQ(s->ReadString(u"no", u""), u"newline");

  // Many lines, many same-named sections and keys: one pass, no quadratic blow-up.
  std::string many;
  for (int i = 0; i < 50000; ++i) many += "a=1\n";
  for (int i = 0; i < 50000; ++i) many += "[a]\nk=1\n[]\n";
  auto big = Parse(many);
  EXPECT_EQ(big->Sections()->Count(), 2);
  EXPECT_EQ(big->FindSection(u"a")->Count(), 50000);
}

TEST(IniText, StreamsAndMarks) {
  auto doc = MakeRef<TIniFile>();
  // UTF-8 with mark; the writer adds the mark when asked.
  auto in = MakeRef<TStringStream>(std::string("\xEF\xBB\xBFk=\xC3\xA4\r\n"));
  ASSERT_TRUE(doc->LoadFrom(in.get()));
  EXPECT_EQ(doc->ReadString(u"k", u""), u"\u00e4");
  auto out = MakeRef<test::TProbeStream>();
  ASSERT_TRUE(doc->SaveToStream(out.get(), true));
  EXPECT_EQ(std::string(out->bytes().begin(), out->bytes().end()), "\xEF\xBB\xBFk=\xC3\xA4\r\n");
  // Without a mark the text is in the ANSI code page.
  ASSERT_TRUE(doc->LoadFrom(MakeRef<TStringStream>(std::string("k=\xE4")).get()));
  EXPECT_EQ(doc->ReadString(u"k", u""), u"\u00e4");
  // Without a mark, text that is valid UTF-8 (as Linux editors write it) is UTF-8;
  // Windows-1252 bytes that are not valid UTF-8 stay Windows-1252, whole.
  ASSERT_TRUE(doc->LoadFrom(MakeRef<TStringStream>(std::string("[Main]\nt=Caf\xC3\xA9\n")).get()));
  EXPECT_EQ(IniReadString(doc.get(), u"Main", u"t", u""), u"Caf\u00e9");
  ASSERT_TRUE(doc->LoadFrom(MakeRef<TStringStream>(std::string("[Main]\nt=Caf\xE9\nu=\xC3\xA9\x80\n")).get()));
  EXPECT_EQ(IniReadString(doc.get(), u"Main", u"t", u""), u"Caf\u00e9");
  EXPECT_EQ(IniReadString(doc.get(), u"Main", u"u", u""), u"\u00c3\u00a9\u20ac");
  // A stream of unknown size cannot be read: false, document empty.
  auto unknown = MakeRef<test::TProbeStream>(std::vector<uint8_t>{'a', '=', '1'});
  unknown->size_known = false;
  EXPECT_FALSE(doc->LoadFrom(unknown.get()));
  EXPECT_EQ(doc->Count(), 0);
  // A stream that stops taking bytes makes the save fail.
  for (int i = 0; i < 5000; ++i) doc->WriteString(u"key" + std::u16string(1, u'a' + i % 26) + u"x", u"value");
  auto full = MakeRef<test::TProbeStream>();
  full->write_limit = 100;
  EXPECT_FALSE(doc->SaveToStream(full.get(), true));
}

namespace {

test::TProbeStream* g_failing_stream = nullptr;
Ref<TStream> FailingWriteHook(const std::u16string&, bool) { return Ref<TStream>(g_failing_stream); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(IniText, FilesAreReplacedWhole) {
  InstallFileStreamHooks();
  char dir_template[] = "/tmp/kav-ini-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string file = dir + "/Project.kav";
  const std::u16string wfile = SystemUTF8ToWide(file);
  { std::ofstream(file, std::ios::binary) << std::string(5000, '#'); }  // longer than the new text

  auto doc = Parse("[S]\nk=v\n");
  ASSERT_TRUE(doc->SaveToFile(wfile));
  EXPECT_EQ(ReadAll(file), "\xEF\xBB\xBF[S]\r\nk=v\r\n");
  auto back = MakeRef<TIniFile>();
  ASSERT_TRUE(back->LoadFromFile(wfile));
  EXPECT_EQ(IniReadString(back.get(), u"s", u"K", u""), u"v");
  EXPECT_FALSE(back->LoadFromFile(wfile + u".missing"));
  EXPECT_EQ(back->Count(), 0);

  // A save whose writing fails leaves the old file as it was.
  auto probe = MakeRef<test::TProbeStream>();
  probe->write_limit = 4;
  g_failing_stream = probe.get();
  TWriteFileHook old = SetWriteFileHook(FailingWriteHook);
  doc->WriteString(u"more", u"text");
  EXPECT_FALSE(doc->SaveToFile(wfile));
  SetWriteFileHook(old);
  EXPECT_EQ(ReadAll(file), "\xEF\xBB\xBF[S]\r\nk=v\r\n");
  // A target that cannot be replaced (a folder), and a missing folder.
  const std::string sub = dir + "/folder";
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  EXPECT_FALSE(doc->SaveToFile(SystemUTF8ToWide(sub)));
  EXPECT_FALSE(doc->SaveToFile(SystemUTF8ToWide(dir + "/no/such/Project.kav")));
  // No temporary file is left behind.
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) entries += e.path().filename() != "folder";
  EXPECT_EQ(entries, 1u);
  std::filesystem::remove_all(dir);
}
