#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "../../VoRav/StreamText.h"
#include "../../VoRav/LogCapture.h"
#include "KavLib2/KavClasses/KavProjectLookups.h"
#include "KavLib2/KavClasses/KavShowColor.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "ShowFixture.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxMemoryStream.h"

using namespace kav;
using namespace kav::test;

namespace {

// Puts back the process state the locator module changes.
struct LocatorStateGuard {
  TPathVarTable vars = GetPathVariables();
  ~LocatorStateGuard() {
    PopAllShowLocators();
    SetPathVariables(vars);
    SetColorLibraryHook(&LoadLcms2FromShow);
    SetForcedColorProfile(nullptr);
    SetColorManagementDisabled(false);
    SetCurrentColorProfile(nullptr, false);
    ColorManagementOff = 0;
  }
};

void ExpectSameShow(TKavSource* a, TKavSource* b) {
  ASSERT_EQ(a->SlideCount(), b->SlideCount());
  EXPECT_EQ(a->Duration(), b->Duration());
  for (int32_t i = 0; i < a->SlideCount(); ++i) {
    const TSlideInfo& x = a->Slide(i);
    const TSlideInfo& y = b->Slide(i);
    EXPECT_EQ(x.Begin, y.Begin);
    EXPECT_EQ(x.End, y.End);
    EXPECT_EQ(x.EffectTime, y.EffectTime);
    EXPECT_EQ(x.NextEffectTime, y.NextEffectTime);
    EXPECT_EQ(x.Id, y.Id);
  }
  for (int32_t i = 0; i < 3 * a->SlideCount(); ++i) {
    double ta, tb;
    float sa, sb;
    auto ea = a->GetSlideEffect(i, ta, sa);
    auto eb = b->GetSlideEffect(i, tb, sb);
    EXPECT_EQ(ta, tb) << i;
    EXPECT_EQ(sa, sb) << i;
    ASSERT_EQ(ea == nullptr, eb == nullptr) << i;
    if (!ea) continue;
    EXPECT_EQ(ea->Kind, eb->Kind) << i;
    EXPECT_EQ(ea->Flags, eb->Flags) << i;
    EXPECT_EQ(ea->Ints, eb->Ints) << i;
    EXPECT_EQ(ea->Floats, eb->Floats) << i;
  }
}

}  // namespace

TEST(ShowLocator, PackedAndUnpackedShowsAgree) {
  LocatorStateGuard guard;
  TTempFolder t;
  const std::string project = ShowProject("opt_exefn=C:\\Users\\me\\Holiday.exe\r\n");
  std::u16string error = u"x";
  auto packed = LoadPackedShow(WritePackedShow(t, project), error);
  ASSERT_NE(packed, nullptr) << std::string(error.begin(), error.end());
  EXPECT_EQ(error, u"");
  EXPECT_TRUE(packed->IsPacked());
  EXPECT_EQ(packed->Version(), u"8.0.1");
  EXPECT_EQ(packed->Accessor()->Folder(), t.Wide() + u"/");
  auto folder = LoadProjectShow(WriteProjectFolder(t, project));
  ASSERT_NE(folder, nullptr);
  EXPECT_FALSE(folder->IsPacked());
  // The authoring machine's folder does not exist here: the project's serves.
  EXPECT_EQ(folder->Accessor()->Folder(), t.Wide("project") + u"/");

  TKavSourceSetup setup;
  setup.RandomSeed = 5;
  setup.ProgramFile = u"player";
  TKavSource* a = packed->GetSource(setup);
  TKavSource* b = folder->GetSource(setup);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(packed->GetSource(), a);
  EXPECT_EQ(a->SlideCount(), 4);
  ExpectSameShow(a, b);

  // Media under the authoring machine's name: an entry of the packed show,
  // a file beside the unpacked project.
  EXPECT_EQ(ReadText(packed->Accessor()->OpenFile(u"C:\\Show\\Beach.jpg").get()), "beach bytes");
  EXPECT_EQ(ReadText(OpenDiskFile(folder->Accessor(), u"C:\\Show\\Beach.jpg").get()), "beach bytes");
  EXPECT_EQ(ReadText(folder->Accessor()->OpenFile(u"BEACH.jpg").get()), "beach bytes");
  EXPECT_TRUE(IsSameShowPath(u"/Shows/A.kvshow", u"/shows/a.KVSHOW"));
}

TEST(ShowLocator, BadShowsAndFileMaps) {
  LocatorStateGuard guard;
  TTempFolder t;
  std::u16string error;
  EXPECT_EQ(LoadPackedShow(t.Wide("none.kvshow"), error), nullptr);
  EXPECT_EQ(error, u"Slideshow File not Found");
  t.WriteFile("plain.bin", "no package in here");
  error.assign(1, u'x');  // must be cleared
  EXPECT_EQ(LoadPackedShow(t.Wide("plain.bin"), error), nullptr);
  EXPECT_EQ(error, u"");
  EXPECT_EQ(LoadProjectShow(t.Wide("nothing/Project.kav")), nullptr);

  // A project entry cut short does not inflate: the show does not open.
  {
    using namespace kav::packer;
    std::vector<Entry> entries(1);
    entries[0].name = "Project.kav";
    entries[0].data = ShowBytes(ShowProject());
    entries[0].method = kDeflated;
    entries[0].sz_text = "20";
    WriteFileBytes(t.Sys("cut.kvshow"), Pack(entries, Options()));
  }
  EXPECT_EQ(LoadPackedShow(t.Wide("cut.kvshow"), error), nullptr);
  EXPECT_EQ(error, kExecutableOpenError);

  // The project's file map reaches entries under other names; a loop in it
  // opens nothing and does not hang.
  std::string project = ShowProject();
  project += "[FileMap]\r\n;\"C:\\Old\\pic.jpg\"=\"C:\\Show\\Beach.jpg\"\r\n\"a\"=\"b\"\r\n\"b\"=\"A\"\r\n";
  auto show = LoadPackedShow(WritePackedShow(t, project), error);
  ASSERT_NE(show, nullptr);
  EXPECT_EQ(ReadText(show->Accessor()->OpenFile(u"c:\\old\\PIC.JPG").get()), "beach bytes");
  EXPECT_EQ(show->Accessor()->OpenFile(u"a"), nullptr);
}

TEST(ShowLocator, RefusalsAreLoggedWithTheirReason) {
  LocatorStateGuard guard;
  TTempFolder t;
  kav::test::TLogCapture log;
  std::u16string error;
  // An empty file and random bytes parse as texts without [Main] and without
  // slides: no show, a clear error, one log line.
  t.WriteFile("empty/Project.kav", "");
  EXPECT_EQ(LoadProjectShow(t.Wide("empty/Project.kav"), error), nullptr);
  EXPECT_EQ(error, kNoShowError);
  EXPECT_TRUE(log.OneLineWith(u"has no [Main] section and no slides"));
  std::string noise(5000, '\0');
  uint32_t x = 12345;
  for (char& c : noise) c = char((x = x * 1103515245u + 12345u) >> 24);
  t.WriteFile("noise/Project.kav", noise);
  EXPECT_EQ(LoadProjectShow(t.Wide("noise/Project.kav"), error), nullptr);
  EXPECT_EQ(error, kNoShowError);
  EXPECT_TRUE(log.OneLineWith(u"has no [Main] section and no slides"));
  EXPECT_EQ(LoadPackedShow(WritePackedShow(t, ""), error), nullptr);
  EXPECT_EQ(error, kNoShowError);
  EXPECT_TRUE(log.OneLineWith(u"has no [Main] section and no slides"));
  // Slides without [Main], or [Main] without slides, is still a show.
  t.WriteFile("bare/Project.kav", "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=1000\r\n");
  EXPECT_NE(LoadProjectShow(t.Wide("bare/Project.kav"), error), nullptr);
  EXPECT_EQ(error, u"");
  EXPECT_EQ(log.Count(), 0u);

  // A text over the size limit is not read (a sparse file: no disk is used).
  t.WriteFile("big/Project.kav", "[Main]\r\n");
  std::filesystem::resize_file(t.Sys("big/Project.kav"), uintmax_t(kMaxTextStreamSize) + 1);
  EXPECT_EQ(LoadProjectShow(t.Wide("big/Project.kav"), error), nullptr);
  EXPECT_EQ(error, kExecutableOpenError);
  EXPECT_TRUE(log.OneLineWith(u"exceed the text limit"));

  // A missing project, a file without a package, a damaged entry: each once.
  EXPECT_EQ(LoadProjectShow(t.Wide("nothing/Project.kav"), error), nullptr);
  EXPECT_TRUE(log.OneLineWith(u"was not found"));
  t.WriteFile("plain.bin", "no package in here");
  EXPECT_EQ(LoadPackedShow(t.Wide("plain.bin"), error), nullptr);
  EXPECT_TRUE(log.OneLineWith(u"it holds no packed show"));
  {
    using namespace kav::packer;
    std::vector<Entry> entries(1);
    entries[0].name = "Project.kav";
    entries[0].data = ShowBytes(ShowProject());
    entries[0].method = kDeflated;
    entries[0].sz_text = "20";
    WriteFileBytes(t.Sys("cut.kvshow"), Pack(entries, Options()));
  }
  EXPECT_EQ(LoadPackedShow(t.Wide("cut.kvshow"), error), nullptr);
  EXPECT_EQ(error, kExecutableOpenError);
  EXPECT_TRUE(log.OneLineWith(u"cannot be read: "));
}

TEST(ShowLocator, AProgramFolderThatIsALinkOutOfTheProjectIsNotTheShowsFolder) {
  LocatorStateGuard guard;
  TTempFolder t;
  t.WriteFile("elsewhere/clip.mp4", "secret");
  t.WriteFile("c/Project.kav", ShowProject("opt_exefn=" + t.Sys("c/exe/Show.exe") + "\r\n"));
  ASSERT_EQ(symlink(t.Sys("elsewhere").c_str(), t.Sys("c/exe").c_str()), 0);
  auto c = LoadProjectShow(t.Wide("c/Project.kav"));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Accessor()->Folder(), t.Wide("c") + u"/");
}

TEST(ShowLocator, PushAndPopRestorePathVariables) {
  LocatorStateGuard guard;
  TTempFolder t;
  t.WriteFile("styles/look.ini", "look");
  t.WriteFile("a/exe/placeholder", "");
  t.WriteFile("exe/placeholder", "");
  const std::string with_vars = ShowProject("opt_exefn=" + t.Sys("a/exe/Show.exe") + "\r\n") +
                                "[PathModifiers]\r\nCount=2\r\nEnv0=%styles%\r\nPath0=" + t.Sys("styles") +
                                "\r\nDef0=0\r\nEnv1=%bad%\r\nPath1=..\\..\\etc\r\nDef1=1\r\n";
  t.WriteFile("a/Project.kav", with_vars);
  // A program folder outside the project's is not taken as the show's.
  t.WriteFile("b/Project.kav", ShowProject("opt_exefn=" + t.Sys("exe/Show.exe") + "\r\n") +
                                   "[PathModifiers]\r\nCount=0\r\n");
  auto a = LoadProjectShow(t.Wide("a/Project.kav"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Accessor()->Folder(), t.Wide("a/exe") + u"/");
  ASSERT_EQ(a->PathVariables().Count(), 1);  // the entry leaving the program's folder is dropped
  const std::u16string look = u"%styles%/look.ini";
  EXPECT_EQ(ExpandPathVariablesLocked(look), t.Wide("styles/look.ini"));
  SetCurrentShowLocator(a);

  auto b = LoadProjectShow(t.Wide("b/Project.kav"));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Accessor()->Folder(), t.Wide("b") + u"/");
  PushShowLocator(b);
  EXPECT_EQ(StackedShowLocators(), 1);
  EXPECT_EQ(ExpandPathVariablesLocked(look), look);  // Count 0: an empty table
  EXPECT_EQ(CurrentShowLocator(), b);

  EXPECT_TRUE(PopShowLocator());
  EXPECT_EQ(CurrentShowLocator(), a);
  EXPECT_EQ(ExpandPathVariablesLocked(look), t.Wide("styles/look.ini"));
  EXPECT_FALSE(PopShowLocator());
  EXPECT_EQ(CurrentShowLocator(), nullptr);
}

TEST(ShowLocator, ColorManagementChoices) {
  LocatorStateGuard guard;
  TTempFolder t;
  static int hook_calls = 0;
  SetColorLibraryHook([](TKavShowLocator*) {
    ++hook_calls;
    return true;
  });
  auto load = [&](const std::string& value) {
    std::u16string error;
    return LoadPackedShow(WritePackedShow(t, ShowProject("ColorManagement=" + value + "\r\n")), error);
  };
  ASSERT_NE(load("srgb"), nullptr);
  EXPECT_TRUE(ColorManagementApplied());
  EXPECT_EQ(GetCurrentColorProfile().get(), GetStandardColorProfile(u"sRGB"));
  EXPECT_EQ(ColorManagementOff.load(), 0);

  load("");
  EXPECT_EQ(ColorManagementOff.load(), 1);
  EXPECT_FALSE(ColorManagementApplied());

  const int calls = hook_calls;
  load("*");
  EXPECT_EQ(GetCurrentColorProfile().get(), GetStandardColorProfile(u"DuvazURI"));
  EXPECT_FALSE(ColorManagementApplied());
  EXPECT_EQ(hook_calls, calls);  // "*" needs no colour library

  SetAutoProfileName(u"AdobeRGB");
  load("?");
  load("missing.icc");  // a profile file the show lacks: nothing changes
  EXPECT_FALSE(ColorManagementApplied());
  EXPECT_EQ(GetCurrentColorProfile().get(), GetStandardColorProfile(u"AdobeRGB"));

  SetColorManagementDisabled(true);
  load("sRGB");
  EXPECT_EQ(ColorManagementOff.load(), 1);
  SetColorManagementDisabled(false);

  // The system's library serves; a copy inside the show is only logged.
  SetColorLibraryHook(&LoadLcms2FromShow);
  {
    using namespace kav::packer;
    std::vector<Entry> entries(2);
    entries[0].name = "Project.kav";
    entries[0].data = ShowBytes(ShowProject("ColorManagement=sRGB\r\n"));
    entries[1].name = "lcms2.dll";
    entries[1].data = ShowBytes("MZ not a library for this system");
    WriteFileBytes(t.Sys("lib.kvshow"), Pack(entries, Options()));
  }
  auto log = MakeRef<TStreamLog>();
  auto text = MakeRef<TMemoryStream>();
  log->SetStream(text.get(), false);
  Ref<TLog> previous = GetGlobalLog();
  SetGlobalLog(log);
  std::u16string error;
  auto show = LoadPackedShow(t.Wide("lib.kvshow"), error);
  SetGlobalLog(previous);
  ASSERT_NE(show, nullptr);
  text->SetPosition(0);
  EXPECT_NE(ReadText(text.get()).find("lcms2.dll"), std::string::npos);
}

TEST(ProjectLookups, RootsClipsAndIndexedNames) {
  auto ini = ProjectIni(
      "[Main]\r\n[Times]\r\nopt_slidescount=3\r\nopt_synchpos1=1000\r\nopt_synchpos2=2500.5\r\n"
      "[Slide1]\r\nobject Root:Container\r\nobject K:KeyPoint\r\nobject V:Video\r\nClipGUID={AB}\r\nend\r\nend\r\n"
      "end\r\n"
      "[Slide2]\r\nobject Root:Container\r\nobject V:Video\r\nClipGUID={CD}\r\nend\r\nend\r\n"
      "[Slide3]\r\nobject Root:Container\r\nobject G:Group\r\nobject V:video\r\nClipGUID={ab}\r\nend\r\nend\r\n"
      "end\r\n"
      "object clips:Clips\r\nobject c1:VideoClip\r\nClipGUID={AB}\r\nend\r\nend\r\n");
  // The video inside a key point does not count; the third slide's does.
  EXPECT_EQ(FindVideoClipStartTime(ini.get(), u"{AB}"), 2500.5);
  EXPECT_EQ(FindVideoClipStartTime(ini.get(), u"{CD}"), 1000);
  EXPECT_EQ(FindVideoClipStartTime(ini.get(), u""), 1000);
  EXPECT_EQ(FindVideoClipStartTime(ini.get(), u"{EF}"), -1);
  EXPECT_EQ(FindVideoClipStartTime(ProjectIni("[Times]\r\nopt_slidescount=1\r\n").get(), u""), -1);

  TIniList* slide2 = ini->FindSection(u"Slide2");
  EXPECT_EQ(FindRootContainer(slide2), slide2->FindObject(u"Root"));
  TIniList* main = ini->FindSection(u"Main");
  TIniObject* made = FindRootContainer(main);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetString(), u"Container");
  EXPECT_EQ(FindRootContainer(main), made);

  TIniObject* clips = ini->FindSection(u"Slide3")->FindObject(u"clips");
  ASSERT_NE(clips, nullptr);
  EXPECT_NE(FindVideoClipByGUID(clips, u"{ab}"), nullptr);
  EXPECT_EQ(FindVideoClipByGUID(clips, u"{AC}"), nullptr);

  EXPECT_EQ(MakeIndexedName(u"clip", 12), u"clip:12");
  EXPECT_EQ(SplitIndexedName(u"a:b:c"), u"b:c");
  EXPECT_EQ(SplitIndexedName(u"abc"), u"");
}
