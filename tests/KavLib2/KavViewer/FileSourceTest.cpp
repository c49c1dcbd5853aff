#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>

#include "../../VoRav/LogCapture.h"
#include "../../VoRav/TempFolder.h"
#include "../../VoRav/StreamText.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavPackedSource.h"
#include "KavLib2/KavViewer/KavPathVars.h"
#include "KavLib2/KavViewer/KavShowNames.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxStreamUtils.h"
#include "VoRav/vxUTF8.h"
#include "KavPacker.h"
#include "VoRav/vxIni.h"

using namespace kav;
using kav::test::ReadText;
using kav::test::TTempFolder;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Restores the global path table a test replaces.
struct PathTableGuard {
  TPathVarTable saved = GetPathVariables();
  ~PathTableGuard() { SetPathVariables(saved); }
};

Ref<TIniFile> Ini(const std::string& text) {
  auto ini = MakeRef<TIniFile>();
  ini->LoadFromBytes(text);
  return ini;
}

}  // namespace

TEST(PathVariables, EntriesInOrderFallbackAndUnsafeNames) {
  TTempFolder t;
  t.WriteFile("a/in_a.txt", "A");
  t.WriteFile("b/in_b.txt", "B");
  TPathVarTable table;
  PathVarsAdd(table, u"%Styles%", t.Wide("a") + u"/", false);  // the final separator goes
  PathVarsAdd(table, u"%styles%", t.Wide("b"), true);

  // The first entry whose file exists wins; otherwise the fallback.
  EXPECT_EQ(ExpandPathVariables(table, u"%styles%/in_a.txt"), t.Wide("a/in_a.txt"));
  EXPECT_EQ(ExpandPathVariables(table, u"%styles%/in_b.txt"), t.Wide("b/in_b.txt"));
  EXPECT_EQ(ExpandPathVariables(table, u"%styles%/none.txt|frame"), t.Wide("b/none.txt|frame"));
  EXPECT_EQ(ExpandPathVariables(table, u"%styles%/in_a.txt|x"), t.Wide("a/in_a.txt|x"));
  // Names are matched as stored (folded); unknown tokens and stray percent signs stay.
  EXPECT_EQ(ExpandPathVariables(table, u"%STYLES%/in_a.txt"), u"%STYLES%/in_a.txt");
  EXPECT_EQ(ExpandPathVariables(table, u"%other%/x 100%"), u"%other%/x 100%");
  // A name that climbs out of the variable's folder is left alone.
  EXPECT_EQ(ExpandPathVariables(table, u"%styles%/../b/in_b.txt"), u"%styles%/../b/in_b.txt");

  // Relative values lie below the program's folder and may not leave it.
  TPathVarTable rel;
  EXPECT_TRUE(PathVarsAdd(rel, u"%x%", u"Sub\\Dir\\", false));
  EXPECT_EQ(rel.Entries[0].Value, ProgramFolderPath() + u"Sub\\Dir");
  EXPECT_FALSE(PathVarsAdd(rel, u"%y%", u"..\\up", false));
  EXPECT_EQ(DefaultPathVariables().Entries[1].Value.find(u'%'), std::u16string::npos);

  // The global table is replaced by a copy.
  PathTableGuard guard;
  SetPathVariables(table);
  EXPECT_EQ(ExpandPathVariablesLocked(u"%styles%/in_b.txt"), t.Wide("b/in_b.txt"));
  SetPathVariables(TPathVarTable());
  EXPECT_EQ(ExpandPathVariablesLocked(u"%styles%/in_b.txt"), u"%styles%/in_b.txt");
}

TEST(FileSources, LineParsersOfFileMapAndRotation) {
  std::u16string s, t;
  EXPECT_TRUE(ParseFileMapEntry(u";\"C:\\a=b.jpg\" = \"D:\\c.jpg\"", s, t));
  EXPECT_EQ(s, u"C:\\a=b.jpg");
  EXPECT_EQ(t, u"D:\\c.jpg");
  EXPECT_TRUE(ParseFileMapEntry(u"x.jpg=y.jpg", s, t));
  EXPECT_EQ(s + u">" + t, u"x.jpg>y.jpg");
  EXPECT_FALSE(ParseFileMapEntry(u"\"a=b\"", s, t));     // no "=" outside quotes
  EXPECT_FALSE(ParseFileMapEntry(u"a=", s, t));          // "=" last
  EXPECT_FALSE(ParseFileMapEntry(u"  = b", s, t));       // empty source

  std::u16string name;
  EXPECT_EQ(ParseRotationEntry(u";\"c:\\Photo.jpg\"=6", name), 6);
  EXPECT_EQ(name, u"C:\\PHOTO.JPG");
  EXPECT_EQ(ParseRotationEntry(u";\"a\"=3", name), 3);
  EXPECT_EQ(ParseRotationEntry(u";\"a\"=2", name), 0);
  EXPECT_EQ(ParseRotationEntry(u"\"a\"=6", name), 0);     // no semicolon
  EXPECT_EQ(ParseRotationEntry(u";\"\"=6", name), 0);     // empty name
}

TEST(FileSources, DiskSourcesBarsMapsAndLoops) {
  TTempFolder t;
  t.WriteFile("pics/photo.jpg", "photo");
  t.WriteFile("pics/other.jpg", "other");
  auto real = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  EXPECT_EQ(ReadText(real->OpenFile(t.Wide("pics/photo.jpg") + u"|framesatlas").get()), "photo");
  EXPECT_EQ(real->OpenFile(t.Wide("pics/none.jpg")), nullptr);

  // An unpacked project: Windows names in any case, relative names below the
  // project's folder, a name map with a chain, a loop and a self-map.
  auto mapped = MakeRef<TMappedFileSource>(t.Wide() + u"/");
  auto ini = Ini(
      "[FileMap]\r\n"
      ";\"C:\\Show\\Start.jpg\"=\"C:\\Show\\Middle.jpg\"\r\n"
      "\"c:\\show\\middle.JPG\"=\"PICS\\Photo.JPG\"\r\n"
      "\"loop1\"=\"loop2\"\r\n"
      "\"loop2\"=\"LOOP1\"\r\n"
      "\"self\"=\"self\"\r\n"
      "\"bar1\"=\"bar2|frame\"\r\n"
      "\"bar2\"=\"BAR1|frame\"\r\n"
      "[RotationState]\r\n"
      ";\"Pics\\Photo.jpg\"=8\r\n"
      ";\"bad\"=5\r\n");
  mapped->LoadFileMap(ini->FindSection(u"FileMap"));
  mapped->LoadMappings(ini->FindSection(u"RotationState"));
  auto acc = MakeRef<TFileAccessor>(mapped.get());
  EXPECT_EQ(ReadText(acc->OpenFile(u"C:\\Show\\Start.jpg").get()), "photo");
  EXPECT_EQ(ReadText(acc->OpenFile(u"pics\\OTHER.jpg").get()), "other");
  EXPECT_EQ(acc->OpenFile(u"loop1"), nullptr);
  EXPECT_EQ(acc->OpenFile(u"self"), nullptr);
  EXPECT_EQ(acc->OpenFile(u"bar1|x"), nullptr);  // a loop through "|" suffixes ends too
  EXPECT_EQ(acc->OpenFile(u"..\\outside.jpg"), nullptr);
  EXPECT_TRUE(mapped->HasOrientationHook());
  EXPECT_EQ(mapped->OrientationCode(u"PICS\\photo.jpg"), 8);
  EXPECT_EQ(mapped->OrientationCode(u"bad"), 0);

  // The fallback opener answers when the source cannot; the hook sees every
  // stream that opened and may replace it.
  struct Fallback {
    int calls = 0;
    Ref<TStream> Open(const std::u16string&) {
      ++calls;
      return OpenShowDiskFile(dir + u"/pics/other.jpg", false);
    }
    std::u16string dir;
  } fb{0, t.Wide()};
  acc->SetFallbackOpener(TFallbackOpener::Bind<&Fallback::Open>(&fb));
  EXPECT_EQ(ReadText(acc->OpenFile(u"missing.jpg").get()), "other");
  EXPECT_EQ(fb.calls, 1);
  static int hooked = 0;
  acc->SetOnOpened([](const std::u16string&, Ref<TStream>& s) {
    ++hooked;
    s = nullptr;
  });
  EXPECT_EQ(acc->OpenFile(u"pics\\photo.jpg"), nullptr);
  EXPECT_EQ(hooked, 1);
  EXPECT_EQ(fb.calls, 1);  // a stream that opened never reaches the fallback

  // A clone shares the source, not the hooks.
  EXPECT_EQ(ReadText(acc->Clone()->OpenFile(u"pics\\photo.jpg").get()), "photo");
}

TEST(FileSources, ResolveDiskPathByVariableAndFolder) {
  TTempFolder t;
  t.WriteFile("show/Photo.jpg", "p");
  t.WriteFile("vars/style.ini", "s");
  PathTableGuard guard;
  TPathVarTable table;
  PathVarsAdd(table, u"%styles%", t.Wide("vars"), false);
  SetPathVariables(table);
  auto acc = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  acc->SetFolder(t.Wide("show") + u"/");

  std::u16string path = t.Wide("show/Photo.jpg");
  EXPECT_TRUE(ResolveDiskPath(acc.get(), path));
  // A variable may name a folder inside the show's; one outside is refused.
  path = u"%styles%\\style.ini";
  {
    kav::test::TLogCapture log;
    EXPECT_FALSE(ResolveDiskPath(acc.get(), path));
    EXPECT_TRUE(log.OneLineWith(u"leads outside the show's folder"));
  }
  t.WriteFile("show/vars/style.ini", "s");
  PathVarsAdd(table, u"%inside%", t.Wide("show/vars"), false);
  SetPathVariables(table);
  path = u"%inside%\\style.ini";
  EXPECT_TRUE(ResolveDiskPath(acc.get(), path));
  EXPECT_EQ(path, t.Wide("show/vars") + u"\\style.ini");
  // A Windows path from the authoring machine is found beside the show.
  path = u"C:\\Users\\me\\Pictures\\PHOTO.JPG";
  EXPECT_TRUE(ResolveDiskPath(acc.get(), path));
  EXPECT_EQ(ReadText(OpenDiskFile(acc.get(), u"D:\\x\\photo.jpg").get()), "p");
  path = u"C:\\nowhere.jpg";
  EXPECT_FALSE(ResolveDiskPath(acc.get(), path));
  EXPECT_EQ(path, u"C:\\nowhere.jpg");
}

TEST(FileSources, ShowNamesStayInsideTheShowsFolder) {
  TTempFolder t;
  t.WriteFile("show/pics/in.jpg", "in");
  t.WriteFile("outside/secret.txt", "secret");
  PathTableGuard guard;
  // [PathModifiers] with an absolute folder outside the show's.
  TPathVarTable table;
  PathVarsAdd(table, u"%out%", t.Wide("outside"), false);
  SetPathVariables(table);
  auto source = MakeRef<TMappedFileSource>(t.Wide("show") + u"/");
  t.WriteFile("outside/mapped.txt", "secret");
  source->AddMapping(u"mapped.txt", t.Wide("outside/mapped.txt"));  // an absolute [FileMap] target
  source->AddMapping(u"fine.jpg", u"pics\\in.jpg");
  auto acc = MakeRef<TFileAccessor>(source.get());
  kav::test::TLogCapture log;
  // Relative, mapped and full names inside the show's folder open.
  EXPECT_EQ(ReadText(acc->OpenFile(u"pics\\in.jpg").get()), "in");
  EXPECT_EQ(ReadText(acc->OpenFile(u"FINE.JPG").get()), "in");
  EXPECT_EQ(ReadText(acc->OpenFile(t.Wide("show/pics/in.jpg")).get()), "in");
  EXPECT_EQ(log.Count(), 0u);
  // Every way out gives nil and one log line.
  for (const std::u16string& name :
       {std::u16string(u"/etc/passwd"), std::u16string(u"\\etc\\passwd"), t.Wide("outside/secret.txt"),
        std::u16string(u"mapped.txt"), std::u16string(u"%out%/secret.txt"), std::u16string(u"..\\outside\\secret.txt"),
        t.Wide("show/../outside/secret.txt"), std::u16string(u"\\\\?\\/etc/passwd")}) {
    EXPECT_EQ(acc->OpenFile(name), nullptr) << std::string(name.begin(), name.end());
    EXPECT_TRUE(log.OneLineWith(u"leads outside the show's folder")) << std::string(name.begin(), name.end());
  }
  // Asked again (a text produced once per frame): refused again, logged once
  // per name and show folder.
  const size_t lines = log.Count();
  for (int i = 0; i < 50; ++i) EXPECT_EQ(acc->OpenFile(u"..\\outside\\secret.txt"), nullptr);
  EXPECT_EQ(log.Count(), lines);
  auto other = MakeRef<TFileAccessor>(MakeRef<TMappedFileSource>(t.Wide("outside") + u"/").get());
  EXPECT_EQ(other->OpenFile(u"..\\show\\pics\\in.jpg"), nullptr);
  EXPECT_EQ(log.Count(), lines + 1);
  // A drive name stands for nothing here: nil, like a missing file.
  EXPECT_EQ(acc->OpenFile(u"C:\\Windows\\win.ini"), nullptr);
  // A name longer than any path (the key of a text of a million characters)
  // is no file: nil at once, not walked as a name that leads outside.
  const size_t before_long = log.Count();
  const std::u16string long_name = u"..\\" + std::u16string(kMaxFileNameChars, u'x');
  EXPECT_EQ(acc->OpenFile(long_name), nullptr);
  EXPECT_EQ(MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get())->OpenFile(long_name), nullptr);
  EXPECT_EQ(log.Count(), before_long);

  EXPECT_TRUE(IsPathBelowFolder(u"/a/b/c.txt", u"/a/b"));
  EXPECT_TRUE(IsPathBelowFolder(u"\\a\\b\\c.txt", u"/a/b/"));
  EXPECT_FALSE(IsPathBelowFolder(u"/a/bc.txt", u"/a/b"));
  EXPECT_FALSE(IsPathBelowFolder(u"/a/b/../c.txt", u"/a/b"));
  EXPECT_FALSE(IsPathBelowFolder(u"/a/b/", u"/a/b"));
  EXPECT_FALSE(IsPathBelowFolder(u"/a/b/c.txt", u""));
}

TEST(FileSources, PackedSourceEntriesMapsAndDamage) {
  TTempFolder t;
  using namespace kav::packer;
  std::vector<Entry> entries(4);
  entries[0].name = "Project.kav";
  entries[0].data = Bytes("[Main]\r\nKavVersion=8\r\n");
  entries[0].method = kDeflated;
  entries[1].name = "C:\\Show\\a.jpg";
  entries[1].data = Bytes(std::string(5000, 'a'));
  entries[2].name = "C:\\Show\\b.jpg";
  entries[2].data = Bytes("secret b");
  entries[2].method = kEnciphered;
  entries[3].name = "broken";
  entries[3].data = Bytes("not deflate at all");
  entries[3].method = kStored;
  entries[3].write_pm = false;
  Options o;
  o.host = Bytes("\xff\xff garbage bytes!");  // 17 bytes, no deflate stream
  o.extra_directory_text = "[broken2]\r\n_ps=0\r\n_sz=17\r\n_pm=1\r\n";
  ASSERT_TRUE(WriteFileBytes(t.Sys("show.kvshow"), Pack(entries, o)));

  auto unpack = MakeRef<TKavUnpack>(t.Wide("show.kvshow"));
  ASSERT_TRUE(unpack->IsOpen());
  auto source = MakeRef<TPackedFileSource>(unpack.get(), true);
  source->AddMapping(u"c:\\other\\A.JPG", u"C:\\Show\\b.jpg");
  auto acc = MakeRef<TFileAccessor>(source.get());
  EXPECT_EQ(ReadText(acc->OpenFile(u"Project.kav").get()), "[Main]\r\nKavVersion=8\r\n");
  EXPECT_EQ(ReadText(acc->OpenFile(u"C:\\Show\\a.jpg").get()), std::string(5000, 'a'));
  EXPECT_EQ(ReadText(acc->OpenFile(u"C:\\Other\\a.jpg").get()), "secret b");
  EXPECT_EQ(acc->OpenFile(u"C:\\Show\\c.jpg"), nullptr);
  // A deflated entry whose data is not deflate raises; the source stays usable.
  EXPECT_THROW(acc->OpenFile(u"broken2"), Exception);
  EXPECT_EQ(ReadText(acc->OpenFile(u"broken").get()), "not deflate at all");
  // With the held limit at 0 no deflated entry is held in memory, however
  // small: each is inflated where it is read, nothing at its open, its size
  // learned when asked; damaged data raise where read, and at every open
  // once found.
  const auto inner = [](TStream* stream) -> TStream* {
    if (auto* window = dynamic_cast<TPartialStream*>(stream)) return window->Source();
    if (auto* chunked = dynamic_cast<TChunkedStream*>(stream)) return chunked->Source();
    return nullptr;
  };
  const std::string project = "[Main]\r\nKavVersion=8\r\n";
  Ref<TStream> held = acc->OpenFile(u"Project.kav");
  ASSERT_NE(held, nullptr);
  EXPECT_NE(dynamic_cast<TMemoryStream*>(inner(held.get())), nullptr);
  source->SetHeldLimit(0);
  Ref<TStream> streamed = acc->OpenFile(u"Project.kav");
  ASSERT_NE(streamed, nullptr);
  EXPECT_NE(dynamic_cast<TSeekableInflateStream*>(inner(streamed.get())), nullptr);
  EXPECT_EQ(streamed->GetSize(), int64_t(project.size()));
  EXPECT_EQ(ReadText(streamed.get()), project);
  EXPECT_EQ(ReadText(acc->OpenFile(u"C:\\Other\\a.jpg").get()), "secret b");
  Ref<TStream> broken = acc->OpenFile(u"broken2");
  ASSERT_NE(broken, nullptr);
  EXPECT_EQ(broken->GetKnownSize(), -1);
  EXPECT_THROW(ReadText(broken.get()), EZDecompressionError);
  EXPECT_THROW(acc->OpenFile(u"broken2"), EZDecompressionError);
  EXPECT_EQ(ReadText(held.get()), project);  // what was held before stays
  // The stream keeps the source alive after the accessor and source go.
  auto kept = acc->OpenFile(u"C:\\Show\\a.jpg");
  acc = nullptr;
  source = nullptr;
  EXPECT_EQ(ReadText(kept.get()).size(), 5000u);
}

// A show's names are read by one rule from its folder and from its package
// (as kavpack stores the folder): either separator, ".\", doubled
// separators, any case and either Unicode normal form find the file; ".."
// never does, and an entry named exactly (a full path, as other packers
// store them) is still found by its name.
TEST(FileSources, FolderAndPackageFindTheSameNames) {
  TTempFolder t;
  using namespace kav::packer;
  t.WriteFile("show/Photos/sea.jpg", "sea");
  t.WriteFile("show/Photos/Cafe\xCC\x81.jpg", "cafe");  // decomposed, as from a Mac
  t.WriteFile("show/\xC3\x85sa.jpg", "asa");             // composed
  t.WriteFile("secret.jpg", "secret");
  std::vector<Entry> entries;
  for (const auto& [name, data] : std::vector<std::pair<std::string, std::string>>{
           {"Photos\\sea.jpg", "sea"},
           {"Photos\\Cafe\xCC\x81.jpg", "cafe"},
           {"\xC3\x85sa.jpg", "asa"},
           {"C:\\Show\\Photos\\old.jpg", "old"},
           {"secret.jpg", "packed secret"}}) {
    entries.emplace_back();
    entries.back().name = name;
    entries.back().data = Bytes(data);
  }
  entries[1].method = kDeflated;
  ASSERT_TRUE(WriteFileBytes(t.Sys("show.kvshow"), Pack(entries, Options())));
  auto unpack = MakeRef<TKavUnpack>(t.Wide("show.kvshow"));
  ASSERT_TRUE(unpack->IsOpen());
  auto packed_source = MakeRef<TPackedFileSource>(unpack.get(), true);
  auto folder_source = MakeRef<TMappedFileSource>(t.Wide("show") + u"/");
  // [FileMap] and [RotationState] lines match the names in any form too.
  auto lines = Ini("[FileMap]\n;\"Photos\\old.jpg\"=\"Photos/sea.jpg\"\n[RotationState]\n;\"Photos\\sea.jpg\"=6\n");
  for (TMappedFileSource* source : {static_cast<TMappedFileSource*>(packed_source.get()), folder_source.get()}) {
    source->LoadFileMap(lines->FindSection(u"FileMap"));
    source->LoadMappings(lines->FindSection(u"RotationState"));
    EXPECT_EQ(source->OrientationCode(u"./photos//SEA.JPG"), 6);
    EXPECT_EQ(source->OrientationCode(u"Photos\\mountains.jpg"), 0);
  }
  auto packed = MakeRef<TFileAccessor>(packed_source.get());
  auto folder = MakeRef<TFileAccessor>(folder_source.get());
  kav::test::TLogCapture log;
  for (TFileAccessor* acc : {packed.get(), folder.get()}) {
    const char* from = acc == packed.get() ? "package" : "folder";
    for (const char16_t* name : {u"Photos\\sea.jpg", u"Photos/sea.jpg", u".\\Photos\\sea.jpg", u"Photos\\\\sea.jpg",
                                 u"./Photos//./sea.jpg", u"photos\\SEA.JPG", u"Photos\\sea.jpg\\", u"Photos/OLD.jpg"})
      EXPECT_EQ(ReadText(acc->OpenFile(name).get()), "sea") << from << " " << UTF8Encode(name);
    for (const char16_t* name : {u"Photos\\Caf\u00E9.jpg", u"Photos/CAFE\u0301.JPG", u"Photos\\Caf\u00C9.jpg"})
      EXPECT_EQ(ReadText(acc->OpenFile(name).get()), "cafe") << from << " " << UTF8Encode(name);
    for (const char16_t* name : {u"A\u030Asa.jpg", u"\u00E5sa.jpg"})
      EXPECT_EQ(ReadText(acc->OpenFile(name).get()), "asa") << from << " " << UTF8Encode(name);
    for (const char16_t* name : {u"Photos\\..\\..\\secret.jpg", u"..\\secret.jpg", u"Photos/../secret.jpg",
                                 u"Photos\\sea.jpeg", u".", u"\\"})
      EXPECT_EQ(acc->OpenFile(name), nullptr) << from << " " << UTF8Encode(name);
  }
  EXPECT_EQ(ReadText(packed->OpenFile(u"C:\\Show\\Photos\\old.jpg").get()), "old");
  EXPECT_EQ(ReadText(packed->OpenFile(u"c:\\show\\photos\\OLD.jpg").get()), "old");
  std::u16string normal;
  EXPECT_TRUE(NormalShowName(u".\\a//b\\.\\c.jpg", normal));
  EXPECT_EQ(normal, u"a\\b\\c.jpg");
  EXPECT_TRUE(NormalShowName(u"\\\\srv/x", normal));
  EXPECT_EQ(normal, u"\\\\srv\\x");
  EXPECT_FALSE(NormalShowName(u"a\\..\\b", normal));
  EXPECT_FALSE(NormalShowName(u"a\\.. \\b", normal));
  EXPECT_FALSE(NormalShowName(u"./", normal));
}

// A snapshot of the open callbacks taken while handles are being freed on
// another thread never takes up a handle whose last reference is going.
TEST(FileSources, CallbackSnapshotsRaceFreedHandles) {
  auto source = MakeRef<TRealFileSource>();
  std::atomic<bool> stop{false};
  std::atomic<int> orphans{0};
  std::thread reader([&] {
    while (!stop.load())
      for (const Ref<TCallbackHandle>& h : source->Callbacks())
        if (h->Source() != source.get()) ++orphans;
  });
  for (int i = 0; i < 200000; ++i) source->AddCallback(TOpenImageCallback(), nullptr);
  stop = true;
  reader.join();
  EXPECT_EQ(orphans.load(), 0);
  EXPECT_TRUE(source->Callbacks().empty());
}

// A source and one of its callback handles freed at the same moment on two
// threads: whichever goes second finds the other gone, never half freed.
TEST(FileSources, SourceAndHandleFreedTogether) {
  constexpr int kRounds = 20000;
  std::vector<Ref<TFileSource>> sources(kRounds);
  std::vector<Ref<TCallbackHandle>> handles(kRounds);
  for (int i = 0; i < kRounds; ++i) {
    sources[size_t(i)] = MakeRef<TRealFileSource>();
    handles[size_t(i)] = sources[size_t(i)]->AddCallback(TOpenImageCallback(), nullptr);
  }
  std::atomic<int> turn{0};
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      while (turn.load() < i) {
      }
      handles[size_t(i)] = nullptr;
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    turn = i;
    sources[size_t(i)] = nullptr;
  }
  other.join();
}

// A sound longer than any entry held in memory (a 280 MiB WAV tone, the
// default deflate method, as kavpack packs it) reads from the package byte
// for byte as from the folder: whole, as music plays it, without being held
// whole in memory, and at the jumps a clip's demuxer makes (the end, then
// back). Made at run time, removed after.
TEST(FileSources, LargeDeflatedSoundReadsAsFromTheFolder) {
  TTempFolder t;
  using namespace kav::packer;
  constexpr int64_t kDataBytes = 280ll << 20;
  t.WriteFile("show/Project.kav", "[Main]\r\nopt_music=tone.wav\r\n");
  {
    // One second of a 440 Hz stereo tone, repeated.
    std::vector<uint8_t> second(44100 * 4);
    for (size_t i = 0; i < 44100; ++i) {
      const auto v = static_cast<uint16_t>(static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * i / 44100.0)));
      for (size_t c = 0; c < 2; ++c) {
        second[i * 4 + c * 2] = static_cast<uint8_t>(v);
        second[i * 4 + c * 2 + 1] = static_cast<uint8_t>(v >> 8);
      }
    }
    std::ofstream wav(t.Sys("show/tone.wav"), std::ios::binary);
    auto put32 = [&wav](uint32_t v) { for (int k = 0; k < 4; ++k) wav.put(static_cast<char>(v >> (8 * k))); };
    wav << "RIFF";
    put32(static_cast<uint32_t>(kDataBytes + 36));
    wav << "WAVEfmt ";
    for (uint32_t v : {16u, 0x00020001u, 44100u, 44100u * 4, 0x00100004u}) put32(v);
    wav << "data";
    put32(static_cast<uint32_t>(kDataBytes));
    for (int64_t done = 0; done < kDataBytes; done += static_cast<int64_t>(second.size()))
      wav.write(reinterpret_cast<const char*>(second.data()),
                static_cast<std::streamsize>(std::min<int64_t>(kDataBytes - done, static_cast<int64_t>(second.size()))));
    ASSERT_TRUE(wav.good());
  }
  {
    const int fd = ::open(t.Sys("show.kvshow").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    StreamWriter writer(fd, Options{});
    const bool ok = writer.AddFile("Project.kav", t.Sys("show/Project.kav"), kDeflated) &&
                    writer.AddFile("tone.wav", t.Sys("show/tone.wav"), kDeflated) && writer.Finish();
    ::close(fd);
    ASSERT_TRUE(ok) << writer.Error();
  }
  // The peak resident size (KiB) of this process so far.
  auto peak_kib = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0l;
  };
  const long peak_before = peak_kib();
  auto unpack = MakeRef<TKavUnpack>(t.Wide("show.kvshow"));
  ASSERT_TRUE(unpack->IsOpen());
  auto packed = MakeRef<TFileAccessor>(MakeRef<TPackedFileSource>(unpack.get(), true).get());
  auto folder = MakeRef<TFileAccessor>(MakeRef<TMappedFileSource>(t.Wide("show") + u"/").get());
  Ref<TStream> from_package = packed->OpenFile(u"tone.wav");
  Ref<TStream> from_folder = folder->OpenFile(u"tone.wav");
  ASSERT_TRUE(from_package);
  ASSERT_TRUE(from_folder);
  const int64_t size = from_folder->GetSize();
  ASSERT_EQ(size, kDataBytes + 44);
  ASSERT_EQ(from_package->GetSize(), size);

  std::vector<uint8_t> a(1 << 20), b(1 << 20);
  for (int64_t at = 0; at < size;) {
    const int64_t n = from_package->Read(a, static_cast<int64_t>(a.size()));
    ASSERT_EQ(n, std::min<int64_t>(size - at, static_cast<int64_t>(a.size()))) << at;
    ASSERT_EQ(from_folder->Read(b, n), n);
    ASSERT_TRUE(std::equal(a.begin(), a.begin() + n, b.begin())) << at;
    at += n;
  }
  EXPECT_EQ(from_package->Read(a, 1), 0);
  // Never held whole: what opening and reading it added stays far below it.
  // (ThreadSanitizer's runtime keeps shadow pages for what is read and its
  // own allocator: the resident size says nothing of this code there.)
#if !defined(__SANITIZE_THREAD__)
  EXPECT_LT(peak_kib() - peak_before, 160l << 10);
#else
  (void)peak_before;
#endif

  // A clip's demuxer: the header, the index at the end, then frames
  // forwards and backwards (also on a second open, which finds what the
  // first one learned of the entry).
  Ref<TStream> again = packed->OpenFile(u"tone.wav");
  ASSERT_TRUE(again);
  ASSERT_EQ(again->GetSize(), size);
  for (int64_t at : {int64_t{0}, size - 4096, int64_t{12}, size / 2, size / 3 + 77, size - 1, int64_t{270} << 20,
                     size / 5, size / 2 + 1000})
    for (int64_t n : {int64_t{4096}, int64_t{1} << 16}) {
      ASSERT_EQ(from_package->SetPosition(at), at);
      ASSERT_EQ(from_folder->SetPosition(at), at);
      const int64_t got = from_package->Read(a, n);
      ASSERT_EQ(got, std::min(n, size - at)) << at;
      ASSERT_EQ(from_folder->Read(b, got), got);
      ASSERT_TRUE(std::equal(a.begin(), a.begin() + got, b.begin())) << at;
      ASSERT_EQ(again->SetPosition(size - at), size - at);
      ASSERT_EQ(from_folder->SetPosition(size - at), size - at);
      const int64_t back = again->Read(a, n);
      ASSERT_EQ(from_folder->Read(b, back), back);
      ASSERT_TRUE(std::equal(a.begin(), a.begin() + back, b.begin())) << size - at;
    }
}
