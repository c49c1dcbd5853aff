#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <sys/stat.h>

#include "EngineStubs.h"
#include "../../VoRav/LogCapture.h"
#include "KavLib2/KavEngine/KavViewerActions.h"
#include "KavLib2/KavProcess/KavTempFolders.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavPackedSource.h"
#include "platform/window/WinTerminate.h"
#include "VoRav/vxUTF8.h"
#include "tests/VoRav/TempFolder.h"
#include "tools/packer/KavPacker.h"

using namespace kav;
using namespace kav::enginetest;

namespace {

// Slides of 1000 ms; the slide's start is its begin plus its transition.
Ref<TKavSource> Show(const std::string& main = "") { return Source(main, 5); }

// Records what would start instead of starting it. Starting is allowed for
// "viewer" and the show's programs in `show` (when given), and a folder put
// in front of PATH holds the program "viewer" and a link "innocent" to the
// system's shell.
struct TSpawns {
  std::vector<std::vector<std::string>> calls;
  test::TTempFolder bin;
  std::string saved_path;
  TSpawns() {
    SetSpawnFunction([this](const std::vector<std::string>& argv) {
      calls.push_back(argv);
      return argv[0] == "xdg-open" || argv[0].find('/') != std::string::npos;
    });
    SetProgramStartAllowed(true);
    bin.WriteFile("viewer", "#!/bin/true\n");
    chmod(bin.Sys("viewer").c_str(), 0755);
    symlink(FindProgramOnPath("sh").c_str(), bin.Sys("innocent").c_str());
    const char* path = getenv("PATH");
    saved_path = path ? path : "";
    setenv("PATH", (bin.Sys() + ":" + saved_path).c_str(), 1);
    Allow({"viewer", "show"});
  }
  explicit TSpawns(const std::string& show) : TSpawns() {
    show_ = show;
    Allow({"viewer", "show"});
  }
  ~TSpawns() {
    setenv("PATH", saved_path.c_str(), 1);
    SetSpawnFunction(nullptr);
    SetProgramStartAllowed(false);
    SetAllowedPrograms({});
  }
  // Allows these names (as "--allow-programs" gives them); names that find
  // no program are answered.
  std::vector<std::string> Allow(const std::vector<std::string>& names) {
    std::vector<std::string> unknown;
    TAllowedPrograms allowed = MakeAllowedPrograms(names, &unknown);
    if (!show_.empty()) allowed.ShowFolder = std::filesystem::canonical(show_).string();
    SetAllowedPrograms(allowed);
    return unknown;
  }
  std::string show_;
  std::string Viewer() const { return bin.Sys("viewer"); }
};

std::string Canonical(const std::string& p) { return std::filesystem::canonical(p).string(); }

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
    TSpawns spawns(dir);
    RunAppProc(u"viewer \"my file.txt\" -x", folder.Wide(), msg);
    ASSERT_EQ(spawns.calls.size(), 1u);
    EXPECT_EQ(spawns.calls[0], (std::vector<std::string>{spawns.Viewer(), "my file.txt", "-x"}));
    spawns.calls.clear();
    // A document of the show: not on the path, found in the show folder.
    RunAppProc(u"notes.txt", folder.Wide(), msg);
    ASSERT_EQ(spawns.calls.size(), 1u);
    EXPECT_EQ(spawns.calls[0], (std::vector<std::string>{"xdg-open", Canonical(dir + "/notes.txt")}));
    spawns.calls.clear();
    RunAppProc(u"tool a;b", folder.Wide(), msg);
    ASSERT_EQ(spawns.calls.size(), 1u);
    EXPECT_EQ(spawns.calls[0], (std::vector<std::string>{Canonical(dir + "/tool"), "a;b"}));
    spawns.calls.clear();
    // Names never leave the show folder.
    RunAppProc(u"..\\..\\etc\\fstab", folder.Wide(), msg);
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

TEST(CommandGuard, WrappersAndVersionedInterpretersAreRefused) {
  // Each of these ran a shell or code through a program the first list did
  // not know, or through a versioned name cut at its first dot.
  const char16_t* const commands[] = {
      u"nice sh -c id",           u"timeout 5 sh -c id",        u"stdbuf -o0 sh -c id",
      u"setarch x86_64 sh -c id", u"flock /tmp/l sh -c id",     u"script -qc id /dev/null",
      u"ionice -c3 sh -c id",     u"unshare -r sh -c id",       u"taskset 1 sh -c id",
      u"chrt 0 sh -c id",         u"perl5.36.0 -e \"exec 'id'\"", u"tclsh8.6 x.tcl",
      u"mawk \"BEGIN{system(1)}\"", u"gdb -batch -ex shell",      u"git -c alias.x=!id x",
      u"make --eval x",           u"rbash -c id",               u"/usr/bin/python3.11 -c 1",
      u"LD-LINUX-X86-64.SO.2 /bin/sh", u"\"C:\\Tools\\Lua5.4.exe\" x.lua", u"nice.exe sh"};
  TSpawns spawns;
  test::TTempFolder folder;
  std::vector<std::u16string> messages;
  for (const char16_t* c : commands) {
    EXPECT_TRUE(IsProhibitedCommand(c)) << UTF8Encode(c);
    RunAppProc(std::u16string(u"viewer, ") + c, folder.Wide(), [&](const std::u16string& m) { messages.push_back(m); });
  }
  EXPECT_TRUE(spawns.calls.empty());
  EXPECT_EQ(messages.size(), std::size(commands));
  // Names that only resemble them stay allowed.
  EXPECT_FALSE(IsProhibitedCommand(u"nicer x"));
  EXPECT_FALSE(IsProhibitedCommand(u"gitk"));
  EXPECT_FALSE(IsProhibitedCommand(u"viewer2.1 x"));
  // A document is judged by the system commands alone: it goes to the
  // opener, and would be judged as a program file if it were one.
  EXPECT_FALSE(IsProhibitedCommand(u"install.txt"));
  EXPECT_FALSE(IsProhibitedCommand(u"Time.pdf"));
  EXPECT_TRUE(IsProhibitedCommand(u"copy.txt"));
  EXPECT_TRUE(IsProhibitedCommand(u"install.sh"));
  EXPECT_TRUE(IsProhibitedProgramFile("/show/install.txt"));
}

TEST(CommandGuard, TheFileThatWouldStartIsJudgedWithItsLinksResolved) {
  TSpawns spawns;
  // Found on PATH as execvp would find it.
  EXPECT_EQ(FindProgramOnPath("viewer"), spawns.Viewer());
  EXPECT_EQ(FindProgramOnPath("no-such-program-here"), "");
  EXPECT_EQ(FindProgramOnPath("/x/y"), "/x/y");
  const std::string sh = FindProgramOnPath("sh");
  ASSERT_FALSE(sh.empty());
  EXPECT_TRUE(IsProhibitedProgramFile(sh));
  EXPECT_TRUE(IsProhibitedProgramFile(spawns.bin.Sys("innocent")));  // a link to the shell
  EXPECT_FALSE(IsProhibitedProgramFile(spawns.Viewer()));
  // A harmless name on PATH that is a link to the shell does not start.
  test::TTempFolder folder;
  kav::test::TLogCapture log;
  RunAppProc(u"innocent -c id", folder.Wide(), nullptr);
  EXPECT_TRUE(spawns.calls.empty());
  EXPECT_EQ(ShellOpen(u"innocent", u"-c id", u""), kOpenRefused);
  bool logged = false;
  for (const auto& line : log.Take())  // which program, what it is, and why
    logged |= line.find(u"\"innocent\" is \"") != std::u16string::npos &&
              line.find(u", which is a shell, and is refused even when named") != std::u16string::npos;
  EXPECT_TRUE(logged);
}

TEST(CommandGuard, LinksInTheShowNeverStartAProgramOutsideIt) {
  test::TTempFolder folder;
  TSpawns spawns(folder.Sys());
  const std::string sh = FindProgramOnPath("sh");
  ASSERT_FALSE(sh.empty());
  folder.WriteFile("keep.txt", "x");
  ASSERT_EQ(symlink(sh.c_str(), folder.Sys("run.exe").c_str()), 0);                // to the system's shell
  ASSERT_EQ(symlink(spawns.Viewer().c_str(), folder.Sys("player").c_str()), 0);    // to a program outside
  std::filesystem::create_directories(folder.Sys("tools"));
  ASSERT_EQ(symlink("../../", folder.Sys("tools/up").c_str()), 0);
  ASSERT_EQ(symlink("/etc/passwd", folder.Sys("readme.txt").c_str()), 0);          // a document outside
  kav::test::TLogCapture log;
  for (const char16_t* c : {u"run.exe -c id", u"player x", u"tools\\up\\etc\\fstab", u"readme.txt"}) {
    RunAppProc(c, folder.Wide(), nullptr);
    EXPECT_TRUE(spawns.calls.empty()) << UTF8Encode(c);
  }
  EXPECT_EQ(ShellOpen(u"run.exe", u"-c id", folder.Wide()), kOpenRefused);
  bool logged = false;
  for (const auto& line : log.Take()) logged |= line.find(u"leads outside the show's folder") != std::u16string::npos;
  EXPECT_TRUE(logged);
  // A link that stays inside the show works.
  folder.WriteFile("tool", "#!/bin/true\n");
  chmod(folder.Sys("tool").c_str(), 0755);
  ASSERT_EQ(symlink("tool", folder.Sys("tool2").c_str()), 0);
  RunAppProc(u"tool2 a", folder.Wide(), nullptr);
  ASSERT_EQ(spawns.calls.size(), 1u);
  EXPECT_EQ(spawns.calls[0], (std::vector<std::string>{Canonical(folder.Sys("tool")), "a"}));
}

TEST(CommandGuard, AddressesAndDocumentsFollowTheSamePermission) {
  test::TTempFolder folder;
  folder.WriteFile("notes.txt", "x");
  std::vector<std::vector<std::string>> calls;
  SetSpawnFunction([&](const std::vector<std::string>& argv) { calls.push_back(argv); return true; });
  SetProgramStartAllowed(false);
  {
    kav::test::TLogCapture log;
    EXPECT_EQ(ShellOpen(u"https://example.org", u"", u""), kOpenRefused);
    EXPECT_EQ(ShellOpen(u"mailto:me@example.org", u"", u""), kOpenRefused);
    EXPECT_EQ(ShellOpen(u"notes.txt", u"", folder.Wide()), kOpenRefused);
    RunAppProc(u"notes.txt", folder.Wide(), nullptr);
    EXPECT_TRUE(calls.empty());
    const auto lines = log.Take();
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) EXPECT_NE(line.find(u"--allow-programs"), std::u16string::npos);
  }
  SetProgramStartAllowed(true);
  EXPECT_EQ(ShellOpen(u"https://example.org/a?b=1", u"", u""), kOpenDone);
  EXPECT_EQ(ShellOpen(u"MailTo:me@example.org", u"", u""), kOpenDone);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], (std::vector<std::string>{"xdg-open", "https://example.org/a?b=1"}));
  // Other schemes would open local files or start handlers: refused.
  for (const char16_t* a : {u"file:///etc/passwd", u"smb://host/share", u"javascript:alert(1)", u"ssh://x"})
    EXPECT_EQ(ShellOpen(a, u"", folder.Wide()), kOpenRefused) << UTF8Encode(a);
  EXPECT_EQ(calls.size(), 2u);
  SetProgramStartAllowed(false);
  SetSpawnFunction(nullptr);
}

TEST(RunApp, NothingStartsOnceThePlayerIsEndingOnASignal) {
  test::TTempFolder folder;
  TSpawns spawns;
  RunAppProc(u"viewer x", folder.Wide(), nullptr);
  EXPECT_EQ(spawns.calls.size(), 1u);
  win::RequestTermination();
  spawns.calls.clear();
  RunAppProc(u"viewer x", folder.Wide(), nullptr);
  RunAppProc(u"https://example.org/", folder.Wide(), nullptr);
  win::ResetTerminationForTests();
  EXPECT_TRUE(spawns.calls.empty());
}

TEST(AllowedPrograms, OnlyTheNamedProgramsStartByNamePathLinkOrShow) {
  test::TTempFolder show;
  show.WriteFile("tool", "#!/bin/true\n");
  chmod(show.Sys("tool").c_str(), 0755);
  TSpawns spawns(show.Sys());
  spawns.bin.WriteFile("other", "#!/bin/true\n");
  chmod(spawns.bin.Sys("other").c_str(), 0755);
  ASSERT_EQ(symlink("viewer", spawns.bin.Sys("view-link").c_str()), 0);
  const std::string viewer = spawns.Viewer(), other = spawns.bin.Sys("other"), tool = show.Sys("tool");

  // By name (found on PATH), by path, and through a link: the show asks by
  // the name given and gets the file it found, links resolved.
  for (const std::string& n : {std::string("viewer"), viewer, std::string("view-link")}) {
    EXPECT_TRUE(spawns.Allow({n}).empty()) << n;
    TAllowedPrograms allowed = MakeAllowedPrograms({n}, nullptr);
    EXPECT_TRUE(IsProgramAllowed(allowed, n, FindProgramOnPath(n))) << n;
    EXPECT_FALSE(IsProgramAllowed(allowed, "other", other)) << n;
    EXPECT_FALSE(IsProgramAllowed(allowed, "tool", tool)) << n;
    EXPECT_EQ(ShellOpen(UTF8Decode(n), u"a", u""), kOpenDone) << n;
    EXPECT_EQ(ShellOpen(u"other", u"a", u""), kOpenRefused) << n;
  }
  ASSERT_EQ(spawns.calls.size(), 3u);
  EXPECT_EQ(spawns.calls[0], (std::vector<std::string>{viewer, "a"}));
  EXPECT_EQ(spawns.calls[1], (std::vector<std::string>{viewer, "a"}));
  EXPECT_EQ(spawns.calls[2], (std::vector<std::string>{spawns.bin.Sys("view-link"), "a"}));
  spawns.calls.clear();

  // "show": the files inside the show's folder, nothing else.
  spawns.Allow({"show"});
  RunAppProc(u"tool a", show.Wide(), nullptr);
  RunAppProc(u"viewer a", show.Wide(), nullptr);
  ASSERT_EQ(spawns.calls.size(), 1u);
  EXPECT_EQ(spawns.calls[0], (std::vector<std::string>{Canonical(tool), "a"}));
  TAllowedPrograms only_show = MakeAllowedPrograms({"show"}, nullptr);
  EXPECT_FALSE(IsProgramAllowed(only_show, "tool", tool));  // no show open yet
  only_show.ShowFolder = Canonical(show.Sys());
  EXPECT_TRUE(IsProgramAllowed(only_show, "tool", tool));
  EXPECT_FALSE(IsProgramAllowed(only_show, ".", show.Sys()));          // the folder itself
  only_show.ShowFolder = Canonical(show.Sys()).substr(0, Canonical(show.Sys()).size() - 1);
  EXPECT_FALSE(IsProgramAllowed(only_show, "tool", tool));             // a folder whose name begins the same
  spawns.calls.clear();

  // Not named: refused, with the reason in the log.
  spawns.Allow({"other"});
  kav::test::TLogCapture log;
  EXPECT_EQ(ShellOpen(u"viewer", u"", u""), kOpenRefused);
  RunAppProc(u"tool", show.Wide(), nullptr);
  EXPECT_TRUE(spawns.calls.empty());
  EXPECT_EQ(log.Take().size(), 2u);
  // Names that find no program allow nothing and are answered.
  EXPECT_EQ(spawns.Allow({"no-such-program-here", "show", show.Sys("missing")}),
            (std::vector<std::string>{"no program \"no-such-program-here\" was found; it allows nothing",
                                      "no program \"" + show.Sys("missing") + "\" was found; it allows nothing"}));
  // A named shell still meets the deny list.
  spawns.Allow({"innocent", "sh"});
  EXPECT_EQ(ShellOpen(u"innocent", u"-c id", u""), kOpenRefused);
  EXPECT_TRUE(spawns.calls.empty());
}

TEST(AllowedPrograms, CommandsThatStartAShellOrCodeNeverRun) {
  // Each starts a shell or runs code: neither the allowed list nor, when
  // they are named, the deny list lets them. Stand-ins of these names lie
  // first on PATH.
  const char16_t* const commands[] = {
      u"xdotool exec sh -c id",          u"setpriv sh -c id",        u"prlimit --nofile=1024 sh -c id",
      u"choom -n 0 -- sh -c id",         u"logsave /dev/null sh -c id", u"ctest -S x.cmake",
      u"cpack --config x.cmake",         u"ninja -C dir",            u"gcc -wrapper /bin/sh,-c,id x.c",
      u"g++ -wrapper /bin/sh,-c,id x.cc", u"prove x.t",              u"pdb3 -c continue x.py",
      u"pydoc3 x.py",                    u"groff -U x.roff",         u"dpkg-architecture -c sh -c id",
      u"capsh -- -c id",                 u"fakeroot -- sh -c id"};
  TSpawns spawns;
  test::TTempFolder show;
  for (const char16_t* c : commands) {
    const std::u16string command(c);
    const std::string program = UTF8Encode(command.substr(0, command.find(u' ')));
    spawns.bin.WriteFile(program, "#!/bin/true\n");
    chmod(spawns.bin.Sys(program).c_str(), 0755);
    ASSERT_EQ(FindProgramOnPath(program), spawns.bin.Sys(program));
  }
  std::vector<std::u16string> messages;
  for (const char16_t* c : commands)
    RunAppProc(c, show.Wide(), [&](const std::u16string& m) { messages.push_back(m); });
  EXPECT_TRUE(spawns.calls.empty());
  // Named, they are refused all the same, each with the reason.
  for (const char16_t* c : commands) {
    const std::u16string command(c);
    const std::string program = UTF8Encode(command.substr(0, command.find(u' ')));
    const std::vector<std::string> problems = spawns.Allow({program});
    ASSERT_EQ(problems.size(), 1u) << program;
    EXPECT_EQ(problems[0].rfind("\"" + program + "\" is refused even when named: \"" + program + "\" ", 0), 0u)
        << problems[0];
    RunAppProc(c, show.Wide(), [&](const std::u16string& m) { messages.push_back(m); });
  }
  EXPECT_TRUE(spawns.calls.empty());
}

namespace {

// A packed show of documents, each of zeros of its size in bytes, deflated
// without ever being held (RawDeflateZeros) and inflated where read as the
// player opens it; starting is allowed and recorded.
struct TPackedDocuments {
  TSpawns spawns;
  test::TTempFolder folder;
  Ref<TFileAccessor> package;
  explicit TPackedDocuments(const std::vector<std::pair<std::string, int64_t>>& documents) {
    std::vector<packer::Entry> entries;
    for (const auto& [name, bytes] : documents) {
      packer::Entry e;
      e.name = name;
      e.data = packer::RawDeflateZeros({}, bytes);
      e.predeflated = true;
      e.method = packer::kDeflated;
      entries.push_back(std::move(e));
    }
    EXPECT_TRUE(packer::WriteFileBytes(folder.Sys("show.kvshow"), packer::Pack(entries, {})));
    auto unpack = MakeRef<TKavUnpack>(folder.Wide("show.kvshow"));
    EXPECT_TRUE(unpack->IsOpen());
    package = MakeRef<TFileAccessor>(MakeRef<TPackedFileSource>(unpack.get(), true).get());
  }
  ~TPackedDocuments() {
    ProcessTempFolders().CleanupAll();
    SetPackedDocumentLimits({});
    win::ResetTerminationForTests();
  }
  int32_t Open(const std::u16string& name, const std::function<bool()>& stop = {}) {
    return ShellOpen(name, u"", u"", package.get(), stop);
  }
};

// The bytes in the process's temporary folders.
int64_t TempBytes() {
  int64_t total = 0;
  for (const std::u16string& f : ProcessTempFolders().Folders())
    for (const auto& e : std::filesystem::recursive_directory_iterator(WideToSystemUTF8(f)))
      if (e.is_regular_file()) total += int64_t(e.file_size());
  return total;
}

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace

TEST(PackedDocuments, WhatAShowWritesOutForTheOpenerIsBoundedAndARefusalSaysWhy) {
  // Five documents of 6 MB and one of 9 MB, with 8 MB allowed for one and
  // 20 MB for all together.
  TPackedDocuments show(
      {{"a.pdf", 6 << 20}, {"b.pdf", 6 << 20}, {"c.pdf", 6 << 20}, {"d.pdf", 6 << 20}, {"e.pdf", 6 << 20}, {"big.pdf", 9 << 20}});
  SetPackedDocumentLimits({8 << 20, 20 << 20});
  kav::test::TLogCapture log;
  auto said = [&](const std::u16string& text) {
    const auto lines = log.Take();
    return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(text) != std::u16string::npos; });
  };
  EXPECT_EQ(show.Open(u"big.pdf"), kOpenRefused);
  EXPECT_TRUE(said(u"ShellOpen: big.pdf refused: the packed show's file \"big.pdf\" is not written out for the "
                   u"opener: it takes more than 8 MB, the most one document may take"));
  EXPECT_EQ(TempBytes(), 0);
  for (const char16_t* name : {u"a.pdf", u"b.pdf", u"c.pdf"}) EXPECT_EQ(show.Open(name), kOpenDone);
  EXPECT_EQ(TempBytes(), 18 << 20);
  for (const char16_t* name : {u"d.pdf", u"e.pdf"}) EXPECT_EQ(show.Open(name), kOpenRefused);
  EXPECT_TRUE(said(u"ShellOpen: e.pdf refused: the packed show's file \"e.pdf\" is not written out for the "
                   u"opener: it takes 6 MB, and the show's documents written out already take 18 MB of the 20 MB "
                   u"they may take together"));
  EXPECT_EQ(TempBytes(), 18 << 20);
  // One already written out opens again; one removed frees its share.
  EXPECT_EQ(show.Open(u"a.pdf"), kOpenDone);
  ASSERT_EQ(show.spawns.calls.size(), 4u);
  EXPECT_EQ(show.spawns.calls[3], show.spawns.calls[0]);
  ASSERT_EQ(unlink(show.spawns.calls[0][1].c_str()), 0);
  EXPECT_EQ(show.Open(u"d.pdf"), kOpenDone);
  EXPECT_EQ(TempBytes(), 18 << 20);
}

TEST(PackedDocuments, ADeflatedDocumentIsWrittenOutWithoutBeingHeldWhole) {
  TPackedDocuments show({{"film.pdf", 96 << 20}});
  // The resident size while the document is written out, sampled beside it.
  const int64_t before = ResidentBytes();
  std::atomic<int64_t> peak{before};
  std::atomic<bool> done{false};
  std::thread sampler([&] {
    while (!done) {
      peak = std::max(peak.load(), ResidentBytes());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_EQ(show.Open(u"film.pdf"), kOpenDone);
  peak = std::max(peak.load(), ResidentBytes());
  done = true;
  sampler.join();
  EXPECT_EQ(TempBytes(), 96 << 20);
  EXPECT_LT(peak - before, 32 << 20) << "grew by " << ((peak - before) >> 20) << " MB";
}

// The real limits (256 MB a document), documents inflated where read: one
// just over, and ones of 1,100 MB and 4 GB, are refused with their size
// before anything is written (no more of each is inflated than just past
// the limit); one of exactly 256 MB is written out; a copy given up while
// its size is learned or while it is written, by the caller (Escape) or by
// a signal, leaves nothing behind.
TEST(PackedDocuments, ADocumentOverItsLimitIsRefusedBeforeAnythingIsWritten) {
  TPackedDocuments show({{"limit.pdf", kMaxPackedDocumentSize},
                         {"over.pdf", kMaxPackedDocumentSize + 1},
                         {"big.pdf", int64_t(1100) << 20},
                         {"huge.pdf", int64_t(4) << 30},
                         {"mid.pdf", int64_t(100) << 20}});
  kav::test::TLogCapture log;
  auto said = [&](const std::u16string& text) {
    const auto lines = log.Take();
    return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(text) != std::u16string::npos; });
  };
  auto nothing_written = [] { return ProcessTempFolders().Folders().empty(); };
  for (const std::u16string name : {u"over.pdf", u"big.pdf", u"huge.pdf"}) {
    EXPECT_EQ(show.Open(name), kOpenRefused);
    EXPECT_TRUE(said(u"the packed show's file \"" + name +
                     u"\" is not written out for the opener: it takes more than 256 MB, the most one document "
                     u"may take"));
    EXPECT_TRUE(nothing_written());
  }
  // Given up while its size is learned (a check every MiB), and while it is
  // written out (after 100 checks of learning, 30 of writing); then by a
  // signal while it is written out (its size known by now).
  for (const int after : {20, 130}) {
    int asked = 0;
    EXPECT_EQ(show.Open(u"mid.pdf", [&] { return ++asked > after; }), kOpenRefused);
    EXPECT_GT(asked, after);
    EXPECT_TRUE(said(u"\"mid.pdf\" is not written out for the opener: the copy was given up"));
    EXPECT_TRUE(nothing_written());
  }
  int asked = 0;
  EXPECT_EQ(show.Open(u"mid.pdf",
                      [&] {
                        if (++asked == 30) win::RequestTermination();
                        return false;
                      }),
            kOpenRefused);
  EXPECT_TRUE(said(u"\"mid.pdf\" is not written out for the opener: the copy was given up"));
  EXPECT_TRUE(nothing_written());
  win::ResetTerminationForTests();
  EXPECT_TRUE(show.spawns.calls.empty());
  EXPECT_EQ(show.Open(u"limit.pdf"), kOpenDone);
  EXPECT_EQ(TempBytes(), kMaxPackedDocumentSize);
  ASSERT_EQ(show.spawns.calls.size(), 1u);
}
