#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "Kav/KavViewer/KavMainForm.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavEngine/KavEngineOverlay.h"
#include "KavLib2/KavEngine/KavViewerActions.h"
#include "KavLib2/KavProcess/KavTempFolders.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winForms.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/vxCommandLine.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxTime.h"
#include "tests/KavLib2/KavEngine/EngineAppFixture.h"
#include "tests/KavLib2/KavEngine/EngineStubs.h"
#include "tests/VoRav/3DBasics/Dx3DRig.h"
#include "tests/VoRav/LogCapture.h"
#include "tests/VoRav/TempFolder.h"
#include "tests/platform/window/WinTestUtil.h"
#include "tools/packer/KavPacker.h"

using namespace kav;
using namespace kav::enginetest;
using namespace kav::win;

namespace {

Ref<TCommandsStorage> Commands(const std::u16string& line, std::vector<std::u16string>* raw = nullptr) {
  auto store = MakeRef<TCommandsStorage>();
  auto tokens = MakeRef<TStringList>();
  ParseCommandLine(line, tokens.get(), store.get());
  if (raw)
    for (int32_t i = 0; i < tokens->Count(); ++i) raw->push_back(tokens->GetString(i));
  return store;
}

std::string Project(const std::string& main) {
  std::string text = "[Main]\r\nKavVersion=8.0.1\r\n" + main + "[Times]\r\nopt_slidescount=4\r\n";
  for (int i = 1; i <= 4; ++i) text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 1000) + "\r\n";
  return text;
}

}  // namespace

TEST(MainFormStart, StartPositionFromSlideOrTime) {
  EXPECT_EQ(GetStartPosition(Commands(u"kavplay -slide 1").get()).Value, 0);
  EXPECT_FALSE(GetStartPosition(Commands(u"kavplay -slide 1").get()).IsTime);
  EXPECT_EQ(GetStartPosition(Commands(u"kavplay -slide 4").get()).Value, 3);
  EXPECT_EQ(GetStartPosition(Commands(u"kavplay -slide 0").get()).Value, 0);
  EXPECT_EQ(GetStartPosition(Commands(u"kavplay -slide abc").get()).Value, 0);
  const TStartPosition t = GetStartPosition(Commands(u"kavplay -time 2501").get());
  EXPECT_EQ(t.Value, 2500);
  EXPECT_TRUE(t.IsTime);
  EXPECT_EQ(GetStartPosition(Commands(u"kavplay").get()).Value, 0);
}

TEST(MainFormStart, ShowDataOfBundlesAndSlashes) {
  test::TTempFolder t;
  EXPECT_EQ(LocateShowData(u"/x/show.kvshow"), u"/x/show.kvshow");
  EXPECT_EQ(LocateShowData(t.Wide("My.app")), t.Wide("My.kvshow"));
  t.WriteFile("My.app/Contents/Resources/slideshow.dat", "data");
  EXPECT_EQ(LocateShowData(t.Wide("My.APP")), t.Wide("My.APP/Contents/Resources/slideshow.dat"));
  EXPECT_EQ(NormalizeSlashes(u"a/b\\c/"), u"a\\b\\c\\");
}

namespace {

class MainFormTest : public EngineAppTest {
 protected:
  void SetUp() override {
    EngineAppTest::SetUp();
    backend->SetManualClock(5000);
  }
  void TearDown() override {
    if (form && form->Viewer()->Engine()) form->Viewer()->Engine()->StopEngine();
    form = nullptr;
    SetCurrentShowLocator(nullptr);
    EngineAppTest::TearDown();
  }
  void Make(const std::string& main, const std::u16string& options = u"") {
    folder.WriteFile("show/Project.kav", Project(main));
    raw.clear();
    commands = Commands(u"kavplay " + options + u"-filename " + folder.Wide("show/Project.kav"), &raw);
    form = MakeRef<TMainForm>(&CreateWinFormController, commands.get(), &raw);
  }
  // A packed show of `entries` that asks to start programs, lying in a
  // downloads folder, and the form that plays it with "--allow-programs=show".
  void MakePackedInDownloads(std::vector<packer::Entry> entries) {
    packer::Entry project;
    project.name = "Project.kav";
    const std::string text = Project("opt_allowrunapp=1\r\n");
    project.data.assign(text.begin(), text.end());
    entries.insert(entries.begin(), project);
    ASSERT_TRUE(packer::WriteFileBytes(folder.Sys("downloads/show.kvshow"), packer::Pack(entries, {})));
    raw.clear();
    commands = Commands(u"kavplay --allow-programs=show " + folder.Wide("downloads/show.kvshow"), &raw);
    form = MakeRef<TMainForm>(&CreateWinFormController, commands.get(), &raw);
  }

  test::TTempFolder folder;
  Ref<TCommandsStorage> commands;
  std::vector<std::u16string> raw;
  Ref<TMainForm> form;
  TFactoryScope factory;
};

}  // namespace

TEST_F(MainFormTest, OpensTheProjectFromTheCommandLineAndPlays) {
  Make("opt_scr_full=0\r\nopt_scr_width=400\r\nopt_scr_height=300\r\nopt_scr_caption=Trip\r\n");
  ASSERT_TRUE(form->Start());
  ASSERT_NE(form->Viewer()->Engine(), nullptr);
  EXPECT_TRUE(form->Viewer()->Engine()->Running());
  EXPECT_FALSE(form->Viewer()->Paused());
  EXPECT_EQ(form->Caption(), u"Trip");
  EXPECT_TRUE(form->ShowInTaskbar());
  EXPECT_NE(form->InputMapping(), nullptr);
  EXPECT_EQ(form->ShowFolder(), NormalizeSlashes(folder.Wide("show")));  // show names are Windows paths
  // Kinds the form does not carry out.
  for (int kind : {0, 4, 15, 17, 18, 20})
    EXPECT_FALSE(form->RunAction(TKavAction{uint8_t(kind), 0, {}})) << kind;
  // Restart: paused at time 0.
  EXPECT_TRUE(form->RunAction(TKavAction{kActRestart, 0, {}}));
  EXPECT_TRUE(form->Viewer()->Paused());
  EXPECT_EQ(form->Viewer()->LastTime(), 0);
  EXPECT_TRUE(form->RunAction(TKavAction{kActGotoTime, 2500, {}}));
  EXPECT_EQ(form->Viewer()->LastTime(), 2500);
  // Actions are refused while a dialog is open.
  form->DialogOpened();
  EXPECT_FALSE(form->RunAction(TKavAction{kActGotoTime, 100, {}}));
  form->DialogClosed();
}

TEST_F(MainFormTest, AShowThatCannotBeLoadedClosesTheWindow) {
  raw.clear();
  commands = Commands(u"kavplay -filename " + folder.Wide("missing/Project.kav"), &raw);
  form = MakeRef<TMainForm>(&CreateWinFormController, commands.get(), &raw);
  EXPECT_FALSE(form->Start());
  ASSERT_FALSE(backend->Boxes.empty());
  EXPECT_EQ(backend->Boxes.back().caption, u"Slideshow Error");
  // The project's path is kept the Windows way inside; the user sees it as
  // a Linux path.
  EXPECT_NE(backend->Boxes.back().text.find(u"Can`t Load .kav File " + folder.Wide("missing/Project.kav") +
                                            u" (no such folder)"),
            std::u16string::npos);
  EXPECT_EQ(backend->Boxes.back().text.find(u'\\'), std::u16string::npos);
}

TEST_F(MainFormTest, AFolderWithoutAProjectIsSaidInPlainWords) {
  folder.WriteFile("photos/a.jpg", "x");
  commands = Commands(u"kavplay " + folder.Wide("photos"), &raw);
  form = MakeRef<TMainForm>(&CreateWinFormController, commands.get(), &raw);
  EXPECT_FALSE(form->Start());
  ASSERT_FALSE(backend->Boxes.empty());
  EXPECT_EQ(backend->Boxes.back().text.rfind(u"The folder " + folder.Wide("photos") + u" holds no project", 0), 0u);
}

TEST_F(MainFormTest, ClosingBeforeTheLastSlideRunsNothing) {
  Make("opt_runapponexit=1\r\nopt_runapponexitfn=viewer x\r\n");
  ASSERT_TRUE(form->Start());
  std::vector<std::vector<std::string>> spawned;
  SetSpawnFunction([&](const std::vector<std::string>& argv) { spawned.push_back(argv); return true; });
  EXPECT_TRUE(form->RunAction(TKavAction{kActExit, 0, {}}));
  EXPECT_TRUE(spawned.empty());
  EXPECT_FALSE(form->Viewer()->Engine()->Running());
  SetSpawnFunction(nullptr);
}

TEST_F(MainFormTest, TheShowsOwnOptionAllowsNoProgram) {
  folder.WriteFile("show/tool", "#!/bin/true\n");
  ASSERT_EQ(chmod(folder.Sys("show/tool").c_str(), 0755), 0);
  std::vector<std::vector<std::string>> spawned;
  SetSpawnFunction([&](const std::vector<std::string>& argv) { spawned.push_back(argv); return true; });
  Make("opt_allowrunapp=1\r\n");
  ASSERT_TRUE(form->Start());
  EXPECT_FALSE(ProgramStartAllowed());
  form->RunAction(TKavAction{kActRunApp, 0, u"tool"});
  form->RunAction(TKavAction{kActWebAddress, 0, u"example.org"});
  form->RunAction(TKavAction{kActMailAddress, 0, u"me@example.org"});
  EXPECT_TRUE(spawned.empty());
  SetSpawnFunction(nullptr);
}

TEST_F(MainFormTest, TheCommandLineAloneAllowsNoProgramEither) {
  folder.WriteFile("show/tool", "#!/bin/true\n");
  ASSERT_EQ(chmod(folder.Sys("show/tool").c_str(), 0755), 0);
  std::vector<std::vector<std::string>> spawned;
  SetSpawnFunction([&](const std::vector<std::string>& argv) { spawned.push_back(argv); return true; });
  Make("opt_allowrunapp=0\r\n", u"--allow-programs=show ");
  ASSERT_TRUE(form->Start());
  EXPECT_FALSE(ProgramStartAllowed());
  form->RunAction(TKavAction{kActRunApp, 0, u"tool"});
  form->RunAction(TKavAction{kActWebAddress, 0, u"example.org"});
  EXPECT_TRUE(spawned.empty());
  SetSpawnFunction(nullptr);
}

TEST_F(MainFormTest, ProgramsStartWhenBothTheCommandLineAndTheShowAllowThem) {
  folder.WriteFile("show/tool", "#!/bin/true\n");
  ASSERT_EQ(chmod(folder.Sys("show/tool").c_str(), 0755), 0);
  std::vector<std::vector<std::string>> spawned;
  SetSpawnFunction([&](const std::vector<std::string>& argv) { spawned.push_back(argv); return true; });
  Make("opt_allowrunapp=1\r\n", u"--allow-programs=show ");
  ASSERT_TRUE(form->Start());
  EXPECT_TRUE(ProgramStartAllowed());
  form->RunAction(TKavAction{kActRunApp, 0, u"tool"});
  form->RunAction(TKavAction{kActWebAddress, 0, u"example.org"});
  ASSERT_EQ(spawned.size(), 2u);
  EXPECT_EQ(spawned[0][0], std::filesystem::canonical(folder.Sys("show/tool")).string());
  EXPECT_EQ(spawned[1], (std::vector<std::string>{"xdg-open", "http://example.org"}));
  SetSpawnFunction(nullptr);
  SetProgramStartAllowed(false);
}

TEST_F(MainFormTest, OnlyTheProgramsTheCommandLineNamesStart) {
  folder.WriteFile("show/tool", "#!/bin/true\n");
  folder.WriteFile("show/other", "#!/bin/true\n");
  ASSERT_EQ(chmod(folder.Sys("show/tool").c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder.Sys("show/other").c_str(), 0755), 0);
  std::vector<std::vector<std::string>> spawned;
  SetSpawnFunction([&](const std::vector<std::string>& argv) { spawned.push_back(argv); return true; });
  // One of the show's programs named by its path: the other does not start.
  Make("opt_allowrunapp=1\r\n", u"--allow-programs=" + folder.Wide("show/tool") + u" ");
  ASSERT_TRUE(form->Start());
  form->RunAction(TKavAction{kActRunApp, 0, u"other"});
  EXPECT_TRUE(spawned.empty());
  form->RunAction(TKavAction{kActRunApp, 0, u"tool x"});
  ASSERT_EQ(spawned.size(), 1u);
  EXPECT_EQ(spawned[0], (std::vector<std::string>{std::filesystem::canonical(folder.Sys("show/tool")).string(), "x"}));
  SetSpawnFunction(nullptr);
  SetProgramStartAllowed(false);
  SetAllowedPrograms({});
}

TEST_F(MainFormTest, ShowMeansOnlyTheProgramsTheShowCarries) {
  // A packed show in a downloads folder, with a program lying beside it
  // (and one of the same name packed inside it): "show" starts neither.
  folder.WriteFile("downloads/tool", "#!/bin/true\n");
  ASSERT_EQ(chmod(folder.Sys("downloads/tool").c_str(), 0755), 0);
  packer::Entry tool;
  tool.name = "tool";
  tool.data.assign({'#', '!', '/', 'b', 'i', 'n', '/', 't', 'r', 'u', 'e', '\n'});
  MakePackedInDownloads({tool});
  std::vector<std::vector<std::string>> spawned;
  SetSpawnFunction([&](const std::vector<std::string>& argv) { spawned.push_back(argv); return true; });
  kav::test::TLogCapture log;
  ASSERT_TRUE(form->Start());
  EXPECT_TRUE(ProgramStartAllowed());
  form->RunAction(TKavAction{kActRunApp, 0, u"tool"});
  form->RunAction(TKavAction{kActRunApp, 0, u"downloads/tool"});
  EXPECT_TRUE(spawned.empty());
  bool said = false;
  for (const auto& line : log.Take()) said |= line.find(u"a packed show carries no program") != std::u16string::npos;
  EXPECT_TRUE(said);
  SetSpawnFunction(nullptr);
  SetProgramStartAllowed(false);
  SetAllowedPrograms({});
}

TEST_F(MainFormTest, APackedShowsDocumentsComeFromItsPackageAlone) {
  // A packed show in a downloads folder asks for its notes, for a launcher
  // it does not hold, and for a launcher it holds; beside it lie other notes
  // and that launcher.
  folder.WriteFile("downloads/notes.txt", "beside the package");
  folder.WriteFile("downloads/launcher.desktop", "[Desktop Entry]\nExec=sh -c id\n");
  packer::Entry notes, launcher;
  notes.name = "docs\\notes.txt";
  const std::string inside = "inside the package";
  notes.data.assign(inside.begin(), inside.end());
  notes.method = packer::kDeflated;
  launcher.name = "setup.desktop";
  launcher.data.assign({'[', ']'});
  MakePackedInDownloads({notes, launcher});
  std::vector<std::vector<std::string>> spawned;
  SetSpawnFunction([&](const std::vector<std::string>& argv) { spawned.push_back(argv); return true; });
  kav::test::TLogCapture log;
  ASSERT_TRUE(form->Start());
  ASSERT_TRUE(ProgramStartAllowed());
  form->RunAction(TKavAction{kActRunApp, 0, u"docs\\notes.txt"});
  form->RunAction(TKavAction{kActRunApp, 0, u"docs/notes.txt"});
  form->RunAction(TKavAction{kActRunApp, 0, u"notes.txt"});
  form->RunAction(TKavAction{kActRunApp, 0, u"launcher.desktop"});
  form->RunAction(TKavAction{kActRunApp, 0, u"setup.desktop"});
  // The notes, twice (one copy), from the package, in a private folder.
  ASSERT_EQ(spawned.size(), 2u);
  EXPECT_EQ(spawned[0], spawned[1]);
  ASSERT_EQ(spawned[0].size(), 2u);
  EXPECT_EQ(spawned[0][0], "xdg-open");
  const std::string copy = spawned[0][1];
  EXPECT_EQ(std::filesystem::path(copy).filename(), "notes.txt");
  EXPECT_EQ(copy.find(folder.Sys("downloads")), std::string::npos) << copy;
  std::ifstream in(copy, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), inside);
  struct stat st {};
  ASSERT_EQ(stat(std::filesystem::path(copy).parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(copy.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  // What the package does not hold, and a launcher, are refused with the reason.
  const auto lines = log.Take();
  auto said = [&](const std::u16string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(text) != std::u16string::npos; });
  };
  EXPECT_TRUE(said(u"the packed show holds no file \"notes.txt\""));
  EXPECT_TRUE(said(u"the packed show holds no file \"launcher.desktop\""));
  EXPECT_TRUE(said(u"\"setup.desktop\": a \".desktop\" file is a program or a launcher"));
  // The private folder goes when the player ends.
  ProcessTempFolders().CleanupAll();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(copy).parent_path()));
  SetSpawnFunction(nullptr);
  SetProgramStartAllowed(false);
  SetAllowedPrograms({});
}

TEST(MainFormStart, AllowProgramsNamesThePrograms) {
  std::string problem;
  EXPECT_EQ(AllowedProgramNames({u"kavplay", u"--allow-programs=viewer,/opt/x/run,,show", u"a.kvshow",
                                 u"--allow-programs=other"}, &problem),
            (std::vector<std::string>{"viewer", "/opt/x/run", "show", "other"}));
  EXPECT_EQ(problem, "");
  EXPECT_TRUE(AllowedProgramNames({u"kavplay", u"a.kvshow"}, &problem).empty());
  EXPECT_EQ(problem, "");
  // The bare switch once allowed everything not denied: now an error that
  // says how to name the programs.
  for (const char16_t* bare : {u"--allow-programs", u"--allow-programs="}) {
    problem.clear();
    EXPECT_TRUE(AllowedProgramNames({u"kavplay", bare}, &problem).empty());
    EXPECT_NE(problem.find("--allow-programs=NAME"), std::string::npos);
  }
}

// The main routine holds the form and frees it after the loop: every close
// leaves the form alive (hidden) with that one reference, and input queued
// behind the close runs nothing.
TEST_F(MainFormTest, EveryWayOutLeavesTheFormToTheMainRoutine) {
  // The window's close button (WM_CLOSE), the exit action, the close action.
  for (int way = 0; way < 3; ++way) {
    Make("opt_scr_full=0\r\nopt_scr_width=400\r\nopt_scr_height=300\r\n");
    ASSERT_TRUE(form->Start()) << way;
    const HWND window = form->Controller()->GetHandle();
    if (way == 0) SendMessage(window, WM_CLOSE, 0, 0);
    else EXPECT_TRUE(form->RunAction(TKavAction{uint8_t(way == 1 ? kActExit : kActClose), 0, {}}));
    EXPECT_TRUE(form->Closed()) << way;
    EXPECT_FALSE(form->Viewer()->Engine()->Running()) << way;
    // Input and a second close request queued behind the close.
    PostMessage(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(form->RunAction(TKavAction{kActGotoTime, 100, {}})) << way;
    app->ProcessMessages();
    EXPECT_FALSE(form->Visible()) << way;
    EXPECT_EQ(form->RefCount(), 1) << way;
    form->Viewer()->Engine()->StopEngine();
    form = nullptr;
    SetCurrentShowLocator(nullptr);
  }
}

TEST_F(MainFormTest, AFailedStartLeavesTheFormToTheMainRoutine) {
  raw.clear();
  commands = Commands(u"kavplay -filename " + folder.Wide("missing/Project.kav"), &raw);
  form = MakeRef<TMainForm>(&CreateWinFormController, commands.get(), &raw);
  EXPECT_FALSE(form->Start());
  app->ProcessMessages();
  EXPECT_TRUE(form->Closed());
  EXPECT_EQ(form->RefCount(), 1);
}

TEST(MainFormStart, PlainArgumentNamesAFolderAsProjectOrAFileAsPackedShow) {
  test::TTempFolder t;
  t.WriteFile("proj/Project.kav", "x");
  bool project = true;
  EXPECT_EQ(PlainShowArgument(Commands(u"kavplay").get(), project), u"");
  EXPECT_FALSE(project);
  EXPECT_EQ(PlainShowArgument(Commands(u"kavplay " + t.Wide("proj")).get(), project),
            PathCombine(t.Wide("proj"), u"Project.kav"));
  EXPECT_TRUE(project);
  EXPECT_EQ(PlainShowArgument(Commands(u"kavplay " + t.Wide("a.kvshow") + u" -slide 2").get(), project),
            t.Wide("a.kvshow"));
  EXPECT_FALSE(project);
  // "--allow-programs=..." takes no value after it: the name there is the show.
  EXPECT_EQ(PlainShowArgument(Commands(u"kavplay --allow-programs=Show,Viewer " + t.Wide("a.kvshow")).get(), project),
            t.Wide("a.kvshow"));
  // Relative names are below the current folder, not the program's.
  const std::u16string here = GetCurrentDir(false);
  ASSERT_TRUE(SetCurrentDir(t.Wide("")));
  EXPECT_EQ(PlainShowArgument(Commands(u"kavplay proj").get(), project), PathCombine(t.Wide("proj"), u"Project.kav"));
  EXPECT_TRUE(project);
  EXPECT_EQ(PlainShowArgument(Commands(u"kavplay show.kvshow").get(), project), PathCombine(t.Wide(""), u"show.kvshow"));
  EXPECT_FALSE(project);
  SetCurrentDir(here);
}

TEST_F(MainFormTest, APlainFolderArgumentPlaysTheProject) {
  folder.WriteFile("show/Project.kav", Project("opt_scr_full=0\r\nopt_scr_caption=Plain\r\n"));
  commands = Commands(u"kavplay " + folder.Wide("show"), &raw);
  form = MakeRef<TMainForm>(&CreateWinFormController, commands.get(), &raw);
  ASSERT_TRUE(form->Start());
  EXPECT_TRUE(form->Viewer()->Engine()->Running());
  EXPECT_EQ(form->Caption(), u"Plain");
  EXPECT_EQ(form->ShowFolder(), NormalizeSlashes(folder.Wide("show")));
}

TEST_F(MainFormTest, TheFilenameOptionTakesTheProjectFolder) {
  folder.WriteFile("show/Project.kav", Project("opt_scr_full=0\r\nopt_scr_caption=Folder\r\n"));
  commands = Commands(u"kavplay -filename " + folder.Wide("show"), &raw);
  form = MakeRef<TMainForm>(&CreateWinFormController, commands.get(), &raw);
  ASSERT_TRUE(form->Start());
  EXPECT_EQ(form->Caption(), u"Folder");
}

TEST_F(MainFormTest, OptionsWinOverAPlainArgument) {
  folder.WriteFile("show/Project.kav", Project("opt_scr_full=0\r\nopt_scr_caption=Option\r\n"));
  folder.WriteFile("other/Project.kav", Project("opt_scr_full=0\r\nopt_scr_caption=Plain\r\n"));
  commands = Commands(u"kavplay " + folder.Wide("other") + u" -filename " + folder.Wide("show/Project.kav"), &raw);
  form = MakeRef<TMainForm>(&CreateWinFormController, commands.get(), &raw);
  ASSERT_TRUE(form->Start());
  EXPECT_EQ(form->Caption(), u"Option");
  // A plain file is opened as a packed show: a missing one is reported by name.
  std::vector<std::u16string> raw2;
  Ref<TCommandsStorage> commands2 = Commands(u"kavplay " + folder.Wide("none.kvshow"), &raw2);
  Ref<TMainForm> second = MakeRef<TMainForm>(&CreateWinFormController, commands2.get(), &raw2);
  EXPECT_FALSE(second->Start());
  ASSERT_FALSE(backend->Boxes.empty());
  EXPECT_NE(backend->Boxes.back().text.find(u"Can`t Load Show " + folder.Wide("none.kvshow")), std::u16string::npos);
}

TEST_F(MainFormTest, AShowThatDoesNotOpenIsNamedOnceWithTheReason) {
  auto box_for = [&](const std::u16string& argument) {
    std::vector<std::u16string> raw_args;
    Ref<TCommandsStorage> c = Commands(u"kavplay " + argument, &raw_args);
    Ref<TMainForm> f = MakeRef<TMainForm>(&CreateWinFormController, c.get(), &raw_args);
    EXPECT_FALSE(f->Start()) << UTF8Encode(argument);
    return backend->Boxes.empty() ? std::u16string() : backend->Boxes.back().text;
  };
  // A misspelt name: said once, not as itself "or" itself.
  EXPECT_EQ(box_for(folder.Wide("bsae.kvshow")), u"Can`t Load Show " + folder.Wide("bsae.kvshow") + u" (no such file)");
  folder.WriteFile("empty.kvshow", "");
  EXPECT_EQ(box_for(folder.Wide("empty.kvshow")), u"Can`t Load Show " + folder.Wide("empty.kvshow") + u" (not a show)");
  folder.WriteFile("notes.kvshow", "milk\r\nbread\r\n");
  EXPECT_EQ(box_for(folder.Wide("notes.kvshow")), u"Can`t Load Show " + folder.Wide("notes.kvshow") + u" (not a show)");
  // A package cut short in its directory.
  packer::Entry entry;
  entry.name = "Project.kav";
  entry.data.assign(400, 'x');
  std::vector<uint8_t> bytes = packer::Pack({entry}, packer::Options{});
  bytes.erase(bytes.begin() + 380, bytes.end() - 12);
  ASSERT_TRUE(packer::WriteFileBytes(folder.Sys("cut.kvshow"), bytes));
  EXPECT_EQ(box_for(folder.Wide("cut.kvshow")), u"Can`t Load Show " + folder.Wide("cut.kvshow") + u" (damaged)");
  // A show file that stops half way (a copy or download cut short) has lost
  // its ending; its start is a show's.
  entry.data.clear();
  for (int i = 0; i < 8192; ++i) entry.data.push_back(uint8_t(i * 7));
  entry.method = 0;
  bytes = packer::Pack({entry}, packer::Options{});
  bytes.resize(bytes.size() / 2);
  ASSERT_TRUE(packer::WriteFileBytes(folder.Sys("half.kvshow"), bytes));
  EXPECT_EQ(box_for(folder.Wide("half.kvshow")),
            u"Can`t Load Show " + folder.Wide("half.kvshow") +
                u" (incomplete or damaged: the file ends before the show does; copy it again)");
  // A folder that is not there.
  EXPECT_EQ(box_for(u"-filename \"" + folder.Wide("Summer 2026") + u"\""),
            u"Can`t Load .kav File " + folder.Wide("Summer 2026") + u" (no such folder)");
  // Another extension: both names tried, each with its own reason.
  folder.WriteFile("show.txt", "plain");
  EXPECT_EQ(box_for(folder.Wide("show.txt")), u"Can`t Load Show " + folder.Wide("show.txt") + u" (not a show) or " +
                                                  folder.Wide("show.kvshow") + u" (no such file)");
}

TEST_F(MainFormTest, AProjectTextNamedByItselfPlaysItsFolder) {
  folder.WriteFile("show/Project.kav", Project("opt_scr_full=0\r\nopt_scr_caption=Text\r\n"));
  commands = Commands(u"kavplay " + folder.Wide("show/Project.kav"), &raw);
  form = MakeRef<TMainForm>(&CreateWinFormController, commands.get(), &raw);
  ASSERT_TRUE(form->Start());
  EXPECT_EQ(form->Caption(), u"Text");
  EXPECT_EQ(form->ShowFolder(), NormalizeSlashes(folder.Wide("show")));
}

namespace {

// The overlay reduced to its dialog list: "help" toggles, closing takes the
// top dialog off at once (the real overlay fades it out first).
class TDialogOverlay : public TEngineOverlay {
 public:
  void SetTime(double) override {}
  void HitTest(const TEngineMouseState&, TKavAction& action, bool& handled, TRefObject*& object) override {
    action = TKavAction{};
    handled = false;
    object = nullptr;
  }
  int32_t PanelMode() override { return 0; }
  bool IsPausing() const override { return !dialogs_.empty(); }
  bool HasDialog() const override { return !dialogs_.empty(); }
  void ShowDialog(const std::u16string& name) override {
    if (!dialogs_.empty() && dialogs_.back() == name) dialogs_.pop_back();
    else dialogs_.push_back(name);
  }
  void CloseTopDialog() override {
    if (!dialogs_.empty()) dialogs_.pop_back();
  }
  void CloseDialogs() override { dialogs_.clear(); }
  void Draw(TDeviceDrawer*) override {}

 private:
  std::vector<std::u16string> dialogs_;
};

Ref<TEngineOverlay> MakeDialogOverlay(const TEngineOverlaySetup&) { return MakeRef<TDialogOverlay>(); }

// The form with its key handler in reach, as the window's key messages
// reach it.
class TKeyForm : public TMainForm {
 public:
  using TMainForm::TMainForm;
  void Press(uint16_t key, uint8_t shift = 0) {
    uint16_t k = key;
    KeyEvent(shift, k, 1);
    k = key;
    KeyEvent(shift, k, 0);
  }
};

// Waits for a state the engine thread reaches on its own.
bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 6000; ++i) {  // 30 s at least: a loaded machine
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

}  // namespace

TEST_F(MainFormTest, WithADialogShownEscClosesItAndOtherKeysButF1AreIgnored) {
  SetEngineOverlayMaker(&MakeDialogOverlay);
  folder.WriteFile("show/Project.kav", Project("opt_scr_full=0\r\n"));
  commands = Commands(u"kavplay -filename " + folder.Wide("show/Project.kav"), &raw);
  auto keys = MakeRef<TKeyForm>(&CreateWinFormController, commands.get(), &raw);
  form = keys;
  ASSERT_TRUE(keys->Start());
  TKavEngine* engine = keys->Viewer()->Engine();
  ASSERT_TRUE(engine && engine->Running());
  ASSERT_FALSE(engine->DialogShown());

  keys->Press(112);  // F1: the help dialog
  ASSERT_TRUE(WaitFor([&] { return engine->DialogShown(); }));
  const int32_t time = keys->Viewer()->LastTime();
  const bool paused = keys->Viewer()->Paused();
  for (uint16_t key : {39, 34, 37, 36, 35, 32, 19, 179, 176, 167}) keys->Press(key);  // navigation and pause
  keys->Press(80, 8);  // Ctrl+P
  EXPECT_EQ(keys->Viewer()->LastTime(), time);
  EXPECT_EQ(keys->Viewer()->Paused(), paused);

  keys->Press(27);  // Esc closes the dialog, not the program
  ASSERT_TRUE(WaitFor([&] { return !engine->DialogShown(); }));
  EXPECT_TRUE(engine->Running());
  EXPECT_FALSE(keys->CloseAllowed());

  // F1 with the help dialog shown closes it again.
  keys->Press(112);
  ASSERT_TRUE(WaitFor([&] { return engine->DialogShown(); }));
  keys->Press(112);
  ASSERT_TRUE(WaitFor([&] { return !engine->DialogShown(); }));

  // Without a dialog the keys act again.
  keys->Press(39);
  EXPECT_NE(keys->Viewer()->LastTime(), time);
  keys->Press(27);
  EXPECT_FALSE(engine->Running());
  SetEngineOverlayMaker(nullptr);
}

TEST_F(MainFormTest, RunAndReturnFromAProjectFolderComesBackToTheProject) {
  Make("opt_scr_full=0\r\nopt_scr_caption=Project\r\n");
  ASSERT_TRUE(form->Start());
  // The other show is a packed one of the same version.
  packer::Entry entry;
  entry.name = "Project.kav";
  const std::string text = Project("opt_scr_full=0\r\nopt_scr_caption=Other\r\n");
  entry.data.assign(text.begin(), text.end());
  entry.method = packer::kDeflated;
  ASSERT_TRUE(packer::WriteFileBytes(folder.Sys("other.kvshow"), packer::Pack({entry}, packer::Options{})));

  ASSERT_TRUE(form->RunAction(TKavAction{kActOpenShowReturn, 0, u"\"" + folder.Wide("other.kvshow") + u"\""}));
  EXPECT_EQ(form->Caption(), u"Other");
  EXPECT_EQ(form->RunStackSize(), 1);
  // Closing the other show goes back to the project, which keeps playing.
  EXPECT_TRUE(form->RunAction(TKavAction{kActExit, 0, {}}));
  EXPECT_TRUE(backend->Boxes.empty()) << (backend->Boxes.empty() ? std::string() : UTF8Encode(backend->Boxes.back().text));
  EXPECT_EQ(form->Caption(), u"Project");
  EXPECT_EQ(form->RunStackSize(), 0);
  EXPECT_TRUE(form->Viewer()->Engine()->Running());
  EXPECT_EQ(form->ShowFolder(), NormalizeSlashes(folder.Wide("show")));
}

namespace {

// Records the mouse states the engine hands to its overlay.
class TMouseLogOverlay : public TEngineOverlay {
 public:
  static inline std::mutex Lock;
  static inline std::vector<TEngineMouseState> States;
  void SetTime(double) override {}
  void HitTest(const TEngineMouseState& mouse, TKavAction& action, bool& handled, TRefObject*& object) override {
    std::lock_guard<std::mutex> guard(Lock);
    States.push_back(mouse);
    action = TKavAction{};
    handled = false;
    object = nullptr;
  }
  int32_t PanelMode() override { return 0; }
  bool IsPausing() const override { return false; }
  bool HasDialog() const override { return false; }
  void ShowDialog(const std::u16string&) override {}
  void CloseTopDialog() override {}
  void CloseDialogs() override {}
  void Draw(TDeviceDrawer*) override {}
};

Ref<TEngineOverlay> MakeMouseLogOverlay(const TEngineOverlaySetup&) { return MakeRef<TMouseLogOverlay>(); }

class MainFormPointerTest : public MainFormTest {
 protected:
  // The pointer rests in the middle of the primary monitor, where the
  // window of 400 x 300 will stand, before the program starts.
  void SetUp() override {
    MainFormTest::SetUp();
    const TRect screen = backend->Monitors().front().bounds;
    centre = TPoint{(screen.Left + screen.Right) / 2, (screen.Top + screen.Bottom) / 2};
    backend->SetPointer(centre.X, centre.Y);
  }
  void StartShown(const std::string& main) {
    Make("opt_scr_full=0\r\nopt_scr_width=400\r\nopt_scr_height=300\r\n" + main);
    ASSERT_TRUE(form->Start());
    ASSERT_TRUE(WaitFor([&] {
      app->ProcessMessages();
      return form->Visible();
    }));
  }
  // The pointer moves and the window hears of it.
  void MoveTo(int32_t x, int32_t y) {
    backend->SetPointer(x, y);
    InjectMouseMove(x, y);
    app->ProcessMessages();
  }

  TPoint centre;
};

}  // namespace

TEST_F(MainFormPointerTest, HideCursorOneHidesAtOpenUntilTheFirstMovementForGood) {
  StartShown("opt_hidecursor=1\r\n");
  EXPECT_TRUE(form->MouseMonitor()->Hidden());
  EXPECT_EQ(form->Cursor(), -1);
  MoveTo(centre.X, centre.Y);  // the window reports the pointer it appeared under: no movement
  EXPECT_EQ(backend->CursorShape(), 0u);
  backend->Advance(60000);
  form->MouseMonitor()->Check();
  MoveTo(centre.X + 4, centre.Y + 4);
  EXPECT_TRUE(form->MouseMonitor()->Hidden());
  EXPECT_EQ(backend->CursorShape(), 0u);
  MoveTo(centre.X + 5, centre.Y);
  EXPECT_FALSE(form->MouseMonitor()->Hidden());
  EXPECT_EQ(form->Cursor(), 0);
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_ARROW));
  // For good: resting does not hide it again.
  backend->Advance(60000);
  form->MouseMonitor()->Check();
  MoveTo(centre.X + 5, centre.Y);
  EXPECT_FALSE(form->MouseMonitor()->Hidden());
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_ARROW));
}

TEST_F(MainFormPointerTest, HideCursorTwoHidesAtOpenAndAgainAfterTheInterval) {
  StartShown("opt_hidecursor=2\r\nopt_hc2_hideinterval=3\r\n");
  EXPECT_TRUE(form->MouseMonitor()->Hidden());
  EXPECT_EQ(form->MouseMonitor()->Interval(), 3000);
  MoveTo(centre.X, centre.Y);
  EXPECT_TRUE(form->MouseMonitor()->Hidden());
  EXPECT_EQ(backend->CursorShape(), 0u);
  MoveTo(centre.X, centre.Y - 5);
  EXPECT_FALSE(form->MouseMonitor()->Hidden());
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_ARROW));
  backend->Advance(2999);
  form->MouseMonitor()->Check();
  EXPECT_FALSE(form->MouseMonitor()->Hidden());
  backend->Advance(2);
  form->MouseMonitor()->Check();
  EXPECT_TRUE(form->MouseMonitor()->Hidden());
  EXPECT_EQ(backend->CursorShape(), 0u);
}

// The engine's overlay (its hidden panel wakes on a movement of 6 pixels
// from the first position it sees) first hears of the pointer where it is:
// no "left the window" report from a position not yet known.
TEST_F(MainFormPointerTest, TheOverlayFirstSeesThePointerWhereItIs) {
  {
    std::lock_guard<std::mutex> guard(TMouseLogOverlay::Lock);
    TMouseLogOverlay::States.clear();
  }
  SetEngineOverlayMaker(&MakeMouseLogOverlay);
  StartShown("");
  MoveTo(centre.X, centre.Y);  // within the first second: not passed on
  backend->Advance(1000);
  MoveTo(centre.X + 5, centre.Y);
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> guard(TMouseLogOverlay::Lock);
    return !TMouseLogOverlay::States.empty();
  }));
  form->Viewer()->Engine()->StopEngine();
  SetEngineOverlayMaker(nullptr);
  std::lock_guard<std::mutex> guard(TMouseLogOverlay::Lock);
  const TPoint client = form->ScreenToClient(TPoint{centre.X + 5, centre.Y});
  ASSERT_EQ(TMouseLogOverlay::States.size(), 1u);
  EXPECT_EQ(TMouseLogOverlay::States[0].X, client.X);
  EXPECT_EQ(TMouseLogOverlay::States[0].Y, client.Y);
}

namespace {

// The navigation panel lies under the mouse wherever it is.
class TPanelOverlay : public TMouseLogOverlay {
 public:
  void HitTest(const TEngineMouseState& mouse, TKavAction& action, bool& handled, TRefObject*& object) override {
    TMouseLogOverlay::HitTest(mouse, action, handled, object);
    handled = true;
  }
  int32_t PanelMode() override { return 2; }
};

Ref<TEngineOverlay> MakePanelOverlay(const TEngineOverlaySetup&) { return MakeRef<TPanelOverlay>(); }

}  // namespace

TEST_F(MainFormPointerTest, TheCursorDoesNotHideOverTheNavigationPanel) {
  SetEngineOverlayMaker(&MakePanelOverlay);
  StartShown("opt_hidecursor=2\r\nopt_hc2_hideinterval=1\r\n");
  backend->Advance(1000);
  MoveTo(centre.X + 10, centre.Y);
  EXPECT_FALSE(form->MouseMonitor()->Hidden());
  TKavEngine* engine = form->Viewer()->Engine();
  ASSERT_TRUE(WaitFor([&] { return engine->OverPanel(); }));
  backend->Advance(1001);
  form->MouseMonitor()->Check();
  EXPECT_FALSE(form->MouseMonitor()->Hidden());
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_ARROW));
  engine->StopEngine();
  SetEngineOverlayMaker(nullptr);
}
