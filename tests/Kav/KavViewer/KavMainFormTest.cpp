#include <gtest/gtest.h>

#include "Kav/KavViewer/KavMainForm.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavEngine/KavViewerActions.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winForms.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/vxCommandLine.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxTime.h"
#include "tests/KavLib2/KavEngine/EngineAppFixture.h"
#include "tests/KavLib2/KavEngine/EngineStubs.h"
#include "tests/VoRav/3DBasics/Dx3DRig.h"
#include "tests/VoRav/TempFolder.h"
#include "tests/platform/window/WinTestUtil.h"

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
  void Make(const std::string& main) {
    folder.WriteFile("show/Project.kav", Project(main));
    raw.clear();
    commands = Commands(u"kavplay -filename " + folder.Wide("show/Project.kav"), &raw);
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
