#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "EngineStubs.h"
#include "KavLib2/KavEngine/KavViewerActions.h"
#include "VoRav/vxUTF8.h"
#include "tests/VoRav/TempFolder.h"

using namespace kav;
using namespace kav::enginetest;

namespace {

// Slides of 1000 ms; the slide's start is its begin plus its transition.
Ref<TKavSource> Show(const std::string& main = "") { return Source(main, 5); }

struct TSpawns {
  std::vector<std::vector<std::string>> calls;
  TSpawns() {
    SetSpawnFunction([this](const std::vector<std::string>& argv) {
      calls.push_back(argv);
      return argv[0] == "xdg-open" || argv[0].find('/') != std::string::npos || argv[0] == "viewer";
    });
    SetProgramStartAllowed(true);
  }
  ~TSpawns() {
    SetSpawnFunction(nullptr);
    SetProgramStartAllowed(false);
  }
};

}  // namespace

TEST(ViewerActions, PreviousGoesToTheSlideStartOrOneFurtherWithin500Ms) {
  auto s = Show();
  TSlideTiming third;
  s->GetSlideTiming(2, third);
  const double start = third.Begin + third.EffectTime;
  EXPECT_EQ(PrevSlideTime(s.get(), start + 800), int32_t(std::nearbyint(start)));
  TSlideTiming second;
  s->GetSlideTiming(1, second);
  EXPECT_EQ(PrevSlideTime(s.get(), start + 300), int32_t(std::nearbyint(second.Begin + second.EffectTime)));
  // Early in the first slide: the show's start.
  EXPECT_EQ(PrevSlideTime(s.get(), 100), 0);
  EXPECT_EQ(PrevSlideTime(s.get(), -50), 0);
}

TEST(ViewerActions, GoToSlideZeroAndOneBothGiveTheFirstSlide) {
  auto s = Show();
  EXPECT_EQ(SlideStartTime(s.get(), -1), SlideStartTime(s.get(), 0));
  TSlideTiming second;
  s->GetSlideTiming(1, second);
  EXPECT_GE(SlideStartTime(s.get(), 1), int32_t(second.Begin));
  EXPECT_EQ(SlideIndexById(s.get(), u"nothing"), -1);
  EXPECT_EQ(SlideStartTime(nullptr, 3), 0);
}

TEST(ViewerActions, NextMovesForwardAndStopsAtTheLastSlideOfAStoppingShow) {
  auto s = Show("opt_repeat=stop\r\n");
  const int32_t from_first = NextSlideTime(s.get(), 10, false);
  EXPECT_GT(from_first, 10);
  EXPECT_LE(from_first, 1001);
  const int32_t paused = NextSlideTime(s.get(), 10, true);
  EXPECT_GE(paused, from_first);
  // Near the end it never goes past the last slide.
  TSlideTiming last;
  s->GetSlideTiming(4, last);
  EXPECT_LE(NextSlideTime(s.get(), 4900, false), int32_t(last.Begin) + 1);
  // A show without slides answers at once.
  auto empty = Source("", 0);
  EXPECT_EQ(NextSlideTime(empty.get(), 123, false), 123);
  EXPECT_EQ(PrevSlideTime(empty.get(), 123), 0);
}

TEST(CommandGuard, ProhibitedCommandsInAnyDisguise) {
  EXPECT_TRUE(IsProhibitedCommand(u"cmd /c dir"));
  EXPECT_TRUE(IsProhibitedCommand(u"CmD /c dir"));
  EXPECT_TRUE(IsProhibitedCommand(u"\"C:\\Windows\\System32\\cmd.exe\" /c dir"));
  EXPECT_TRUE(IsProhibitedCommand(u"notepad > out.txt"));
  EXPECT_TRUE(IsProhibitedCommand(u"@del file"));
  EXPECT_TRUE(IsProhibitedCommand(u"  \t/bin/sh -c 'x'"));
  EXPECT_TRUE(IsProhibitedCommand(u"/usr/bin/python3.11 x.py"));
  EXPECT_FALSE(IsProhibitedCommand(u"notepad readme.txt"));
  EXPECT_EQ(NormalizeCommand(u"\"C:\\Program Files\\My App\\run.exe\" -x"), u"run");
  EXPECT_EQ(NormalizeCommand(u"\"My Cmd\""), u"my_cmd");
  EXPECT_FALSE(IsProhibitedCommand(u"\"My Cmd\""));  // a quoted name with blanks is one word
  EXPECT_EQ(NormalizeCommand(u""), u"");
}

TEST(CommandGuard, CommaSeparatedCommandsAreRefusedAsAWhole) {
  std::vector<TCommandPart> parts;
  EXPECT_FALSE(CheckCommandLine(u"viewer a.txt, del *.*", parts));
  EXPECT_TRUE(parts.empty());
  ASSERT_TRUE(CheckCommandLine(u"viewer a.txt,\"C:\\My App\\x.exe\" -p \"a, b\"", parts));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].Program, u"viewer");
  EXPECT_EQ(parts[0].Parameters, u"a.txt");
  EXPECT_EQ(parts[1].Program, u"\"C:\\My App\\x.exe\"");
  EXPECT_EQ(parts[1].Parameters, u"-p \"a, b\"");
  EXPECT_EQ(SplitArguments(u"-p \"a, b\"  c"), (std::vector<std::u16string>{u"-p", u"a, b", u"c"}));
  EXPECT_EQ(SplitArguments(u"\"\" x"), (std::vector<std::u16string>{u"", u"x"}));
}

TEST(CommandGuard, ProgramsStartWithoutAShellAndOnlyWhenAllowed) {
  test::TTempFolder folder;
  const std::string dir = folder.Sys();
  folder.WriteFile("notes.txt", "hello");
  folder.WriteFile("tool", "#!/bin/true\n");
  chmod((dir + "/tool").c_str(), 0755);
  std::vector<std::u16string> messages;
  auto msg = [&](const std::u16string& m) { messages.push_back(m); };
  {
    TSpawns spawns;
    RunAppProc(u"viewer \"my file.txt\" -x", folder.Wide(), msg);
    ASSERT_EQ(spawns.calls.size(), 1u);
    EXPECT_EQ(spawns.calls[0], (std::vector<std::string>{"viewer", "my file.txt", "-x"}));
    spawns.calls.clear();
    // A document of the show: not on the path, found in the show folder.
    RunAppProc(u"notes.txt", folder.Wide(), msg);
    ASSERT_EQ(spawns.calls.size(), 2u);
    EXPECT_EQ(spawns.calls[1], (std::vector<std::string>{"xdg-open", dir + "/notes.txt"}));
    spawns.calls.clear();
    RunAppProc(u"tool a;b", folder.Wide(), msg);
    ASSERT_EQ(spawns.calls.size(), 2u);
    EXPECT_EQ(spawns.calls[1], (std::vector<std::string>{dir + "/tool", "a;b"}));
    spawns.calls.clear();
    // Names never leave the show folder.
    RunAppProc(u"..\\..\\etc\\passwd", folder.Wide(), msg);
    EXPECT_TRUE(spawns.calls.empty());
    RunAppProc(u"https://example.org/x?a=1&b=2", folder.Wide(), msg);
    ASSERT_EQ(spawns.calls.size(), 1u);
    EXPECT_EQ(spawns.calls[0], (std::vector<std::string>{"xdg-open", "https://example.org/x?a=1&b=2"}));
    spawns.calls.clear();
    RunAppProc(u"viewer x, bash -c evil", folder.Wide(), msg);
    EXPECT_TRUE(spawns.calls.empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], u"Command line contains prohibited command and will not be performed.");
  }
  // Not allowed: nothing runs.
  std::vector<std::vector<std::string>> calls;
  SetSpawnFunction([&](const std::vector<std::string>& argv) { calls.push_back(argv); return true; });
  RunAppProc(u"viewer x", folder.Wide(), msg);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(ShellOpen(u"viewer", u"", u""), kOpenRefused);
  SetSpawnFunction(nullptr);
}
