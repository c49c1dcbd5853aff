// The desktop-independent parts of the save chooser: names from shows made
// safe, the pictures folder, free names that never overwrite, the chain, and
// zenity/kdialog driven through stand-in programs (the real zenity is in
// tests/KavLib2/KavDialogs under Xvfb).
#include <gtest/gtest.h>

#include "tests/VoRav/ScopedEnv.h"
#include <sys/stat.h>

#include <signal.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <cstdlib>
#include <optional>

#include "platform/dialogs/FakeChooser.h"
#include "platform/dialogs/FallbackChooser.h"
#include "platform/dialogs/ProgramChooser.h"
#include "tests/VoRav/TempFolder.h"

namespace kav::dialogs {
namespace {

using test::TTempFolder;

using TEnv = test::TScopedEnv;

TEST(SaveChooserNames, NamesFromShowsKeepOnlyAPlainLastPart) {
  EXPECT_EQ(SafeProposedName("..\\..\\Windows\\evil.jpg", "x"), "evil.jpg");
  EXPECT_EQ(SafeProposedName("/etc/passwd", "x"), "passwd");
  EXPECT_EQ(SafeProposedName("pics/../../up.png", "x"), "up.png");
  EXPECT_EQ(SafeProposedName("..", "Slide"), "Slide");
  EXPECT_EQ(SafeProposedName("dir/", "Slide"), "Slide");
  EXPECT_EQ(SafeProposedName(" ..hidden.jpg. ", "x"), "hidden.jpg");
  EXPECT_EQ(SafeProposedName("a\x01\nb\x7f.jpg", "x"), "ab.jpg");
  EXPECT_EQ(SafeProposedName("Slide1.bmp", "x"), "Slide1.bmp");
  // Too long: cut to 255 bytes at a character boundary, extension kept.
  std::string longname;
  for (int i = 0; i < 200; ++i) longname += "\xc3\xa9";  // "é"
  std::string safe = SafeProposedName(longname + ".jpeg", "x");
  EXPECT_LE(safe.size(), 255u);
  EXPECT_EQ(safe.substr(safe.size() - 5), ".jpeg");
  EXPECT_EQ(static_cast<unsigned char>(safe[safe.size() - 6]), 0xa9);  // a whole "é" before the dot
}

TEST(SaveChooserNames, ExtensionsAndTheDefaultExtension) {
  EXPECT_EQ(FileNameExtension("Slide1.bmp"), "bmp");
  EXPECT_EQ(FileNameExtension("a.b/name"), "");
  EXPECT_EQ(FileNameExtension(".bashrc"), "");
  EXPECT_EQ(FileNameExtension("/x/.bashrc"), "");
  TTempFolder tmp;
  EXPECT_EQ(WithDefaultExtension(tmp.Sys("typed"), "bmp"), tmp.Sys("typed.bmp"));
  EXPECT_EQ(WithDefaultExtension(tmp.Sys("typed.jpg"), "bmp"), tmp.Sys("typed.jpg"));
  EXPECT_EQ(WithDefaultExtension(tmp.Sys("typed"), ""), tmp.Sys("typed"));
  // A longer name that exists was never confirmed: the typed name stands.
  tmp.WriteFile("taken.bmp", "keep");
  EXPECT_EQ(WithDefaultExtension(tmp.Sys("taken"), "bmp"), tmp.Sys("taken"));
}

TEST(SaveChooserFallback, PicturesFolderFollowsUserDirsThenPicturesThenHome) {
  TTempFolder home;
  TEnv h("HOME", home.Sys());
  TEnv x("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(PicturesFolder(), home.Sys());  // nothing else exists
  home.WriteFile("Pictures/.keep", "");
  EXPECT_EQ(PicturesFolder(), home.Sys("Pictures"));
  // Configured but missing: ~/Pictures.
  home.WriteFile(".config/user-dirs.dirs", "# comment\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
  EXPECT_EQ(PicturesFolder(), home.Sys("Pictures"));
  home.WriteFile("Bilder/.keep", "");
  EXPECT_EQ(PicturesFolder(), home.Sys("Bilder"));
  // An absolute value, from XDG_CONFIG_HOME; other forms are ignored.
  TTempFolder config, elsewhere;
  TEnv c("XDG_CONFIG_HOME", config.Sys());
  config.WriteFile("user-dirs.dirs", "XDG_PICTURES_DIR=\"" + elsewhere.Sys() + "/\"\n");
  EXPECT_EQ(PicturesFolder(), elsewhere.Sys());
  config.WriteFile("user-dirs.dirs", "XDG_PICTURES_DIR=relative/path\n");
  EXPECT_EQ(PicturesFolder(), home.Sys("Pictures"));
}

TEST(SaveChooserFallback, NeverOverwritesAndStaysInTheFolder) {
  TTempFolder home;
  TEnv h("HOME", home.Sys());
  TEnv x("XDG_CONFIG_HOME", std::nullopt);
  home.WriteFile("Pictures/Slide1.bmp", "old picture");
  home.WriteFile("Pictures/Slide1 (2).bmp", "older picture");
  TFallbackChooser chooser;
  TSaveFileRequest request;
  request.proposed_name = "Slide1.bmp";
  TSaveFileAnswer a = chooser.Choose(request);
  ASSERT_EQ(a.outcome, TSaveFileOutcome::kChosen);
  EXPECT_EQ(a.path, home.Sys("Pictures/Slide1 (3).bmp"));
  EXPECT_NE(a.message.find(a.path), std::string::npos);
  EXPECT_EQ(home.ReadFile("Pictures/Slide1.bmp"), "old picture");
  EXPECT_EQ(home.ReadFile("Pictures/Slide1 (2).bmp"), "older picture");
  EXPECT_TRUE(home.Exists("Pictures/Slide1 (3).bmp"));  // taken at once
  // A hostile name lands inside the pictures folder under its last part.
  request.proposed_name = "../../../tmp/evil.jpg";
  a = chooser.Choose(request);
  ASSERT_EQ(a.outcome, TSaveFileOutcome::kChosen);
  EXPECT_EQ(a.path, home.Sys("Pictures/evil.jpg"));
  // A link in the way is not followed.
  TTempFolder outside;
  ASSERT_EQ(symlink(outside.Sys("target").c_str(), home.Sys("Pictures/link.bmp").c_str()), 0);
  request.proposed_name = "link.bmp";
  a = chooser.Choose(request);
  EXPECT_EQ(a.path, home.Sys("Pictures/link (2).bmp"));
  EXPECT_FALSE(outside.Exists("target"));
  // No name at all: "Slide".
  request.proposed_name = "...";
  EXPECT_EQ(chooser.Choose(request).path, home.Sys("Pictures/Slide"));
}

TEST(SaveChooserFallback, AFolderThatCannotBeWrittenFails) {
  TTempFolder home;
  home.WriteFile("Pictures/.keep", "");
  chmod(home.Sys("Pictures").c_str(), 0500);
  TEnv h("HOME", home.Sys());
  TEnv x("XDG_CONFIG_HOME", std::nullopt);
  TSaveFileRequest request;
  request.proposed_name = "Slide1.bmp";
  auto choose_fails = [&] {
    TSaveFileAnswer a = TFallbackChooser().Choose(request);
    return a.outcome == TSaveFileOutcome::kFailed && a.message.find("Pictures") != std::string::npos;
  };
  if (geteuid() != 0) {
    EXPECT_TRUE(choose_fails());
    return;
  }
  // Root writes into read-only folders: the choice is made in a child that
  // has become an ordinary user ("nobody"), who may look into the home
  // folder but not write into its pictures folder.
  chmod(home.Sys().c_str(), 0755);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(choose_fails() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not become an ordinary user; 1: the choice did not fail";
}

TEST(SaveChooserChain, SkipsChoosersThatAreNotThere) {
  std::vector<std::unique_ptr<TSaveFileChooser>> list;
  list.push_back(std::make_unique<TFakeChooser>(std::vector<TSaveFileAnswer>{{TSaveFileOutcome::kUnavailable, {}, {}}}));
  auto* second = new TFakeChooser({{TSaveFileOutcome::kCancelled, {}, {}}});
  list.push_back(std::unique_ptr<TSaveFileChooser>(second));
  auto* third = new TFakeChooser({{TSaveFileOutcome::kChosen, "/x", {}}});
  list.push_back(std::unique_ptr<TSaveFileChooser>(third));
  TChooserChain chain(std::move(list));
  EXPECT_EQ(chain.Choose({}).outcome, TSaveFileOutcome::kCancelled);  // a cancel is an answer
  EXPECT_EQ(second->requests.size(), 1u);
  EXPECT_TRUE(third->requests.empty());
  EXPECT_EQ(chain.LastChooser(), "fake");
}

// A chain of fakes with these answers; `asks` false for the ones that pick
// a name by themselves. The fakes stay owned by the chain.
struct TFakeChain {
  explicit TFakeChain(std::vector<std::pair<TSaveFileAnswer, bool>> answers) {
    std::vector<std::unique_ptr<TSaveFileChooser>> list;
    for (auto& [answer, asks] : answers) {
      auto fake = std::make_unique<TFakeChooser>(std::vector<TSaveFileAnswer>{answer});
      fake->asks = asks;
      fakes.push_back(fake.get());
      list.push_back(std::move(fake));
    }
    chain = std::make_unique<TChooserChain>(std::move(list));
  }
  std::vector<TFakeChooser*> fakes;
  std::unique_ptr<TChooserChain> chain;
};

// A chooser that failed or did not answer in time hands over to one that
// asks the person, never to one that picks a name by itself; with none
// left the failure is the answer, so the slide is not saved. Only when no
// chooser exists at all is the pictures folder taken.
TEST(SaveChooserChain, AFailureGoesOnlyToAChooserThatAsks) {
  const TSaveFileAnswer failed{TSaveFileOutcome::kFailed, {}, "the portal did not answer"};
  const TSaveFileAnswer absent{TSaveFileOutcome::kUnavailable, {}, {}};
  const TSaveFileAnswer chosen{TSaveFileOutcome::kChosen, "/home/u/Slide7.bmp", {}};
  const TSaveFileAnswer taken{TSaveFileOutcome::kChosen, "/home/u/Pictures/Slide7.bmp", "saved without asking"};

  TFakeChain asked({{failed, true}, {taken, false}, {absent, true}, {chosen, true}});
  TSaveFileAnswer a = asked.chain->Choose({});
  EXPECT_EQ(a.outcome, TSaveFileOutcome::kChosen);
  EXPECT_EQ(a.path, "/home/u/Slide7.bmp");
  EXPECT_TRUE(asked.fakes[1]->requests.empty());
  EXPECT_EQ(asked.fakes[3]->requests.size(), 1u);

  // The desktop: a portal that does not answer, no zenity or
  // kdialog, then the pictures folder.
  TFakeChain refused({{failed, true}, {absent, true}, {absent, true}, {taken, false}});
  a = refused.chain->Choose({});
  EXPECT_EQ(a.outcome, TSaveFileOutcome::kFailed);
  EXPECT_EQ(a.message, "the portal did not answer");
  EXPECT_TRUE(a.path.empty());
  EXPECT_TRUE(refused.fakes[3]->requests.empty());
  EXPECT_EQ(refused.chain->LastChooser(), "fake");

  // Two failures are told together; a cancel after a failure is the answer.
  TFakeChain both({{failed, true}, {{TSaveFileOutcome::kFailed, {}, "zenity ended with 5"}, true}, {taken, false}});
  EXPECT_EQ(both.chain->Choose({}).message, "the portal did not answer; zenity ended with 5");
  TFakeChain cancelled({{failed, true}, {{TSaveFileOutcome::kCancelled, {}, {}}, true}, {taken, false}});
  EXPECT_EQ(cancelled.chain->Choose({}).outcome, TSaveFileOutcome::kCancelled);

  // No chooser there at all: the one that picks a name is the last resort.
  TFakeChain none({{absent, true}, {absent, true}, {taken, false}});
  a = none.chain->Choose({});
  EXPECT_EQ(a.outcome, TSaveFileOutcome::kChosen);
  EXPECT_EQ(a.path, "/home/u/Pictures/Slide7.bmp");
  EXPECT_EQ(TFakeChain({{absent, true}}).chain->Choose({}).outcome, TSaveFileOutcome::kUnavailable);
}

TEST(SaveChooserPrograms, ArgumentsCarryNameFolderFiltersAndOverwriteQuestion) {
  TSaveFileRequest r;
  r.title = "Save As";
  r.proposed_name = "--help/../-rf";  // a hostile name becomes a plain one inside an option
  r.folder = "/home/u/Pictures";
  r.filters = {{"Bitmap", {"*.bmp"}}, {"JPEG", {"*.jpg", "*.jpeg"}}};
  r.current_filter = 1;
  r.parent_window = "x11:1a00003";
  r.overwrite_prompt = true;
  TProgramChooser zenity(TChooserProgram::kZenity, "");
  std::vector<std::string> expected = {"--file-selection", "--save", "--confirm-overwrite", "--title=Save As",
                                       "--attach=27262979", "--modal", "--filename=/home/u/Pictures/-rf",
                                       "--file-filter=JPEG | *.jpg *.jpeg", "--file-filter=Bitmap | *.bmp"};
  EXPECT_EQ(zenity.Arguments(r), expected);
  r.overwrite_prompt = false;
  r.parent_window = "wayland:abc";
  expected = {"--file-selection", "--save", "--title=Save As", "--filename=/home/u/Pictures/-rf",
              "--file-filter=JPEG | *.jpg *.jpeg", "--file-filter=Bitmap | *.bmp"};
  EXPECT_EQ(zenity.Arguments(r), expected);
  TProgramChooser kdialog(TChooserProgram::kKDialog, "");
  expected = {"--title=Save As", "--getsavefilename", "/home/u/Pictures/-rf", "*.jpg *.jpeg|JPEG\n*.bmp|Bitmap"};
  EXPECT_EQ(kdialog.Arguments(r), expected);
  EXPECT_EQ(X11WindowNumber("x11:zz"), "");
  EXPECT_EQ(X11WindowNumber("x11:"), "");
}

// A stand-in for zenity: records its arguments, then runs `body`.
std::string FakeProgram(const TTempFolder& tmp, const std::string& body) {
  tmp.WriteFile("fakechooser", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" + tmp.Sys("args") +
                                   "\"\n" + body + "\n");
  chmod(tmp.Sys("fakechooser").c_str(), 0755);
  return tmp.Sys("fakechooser");
}

TEST(SaveChooserPrograms, ChosenCancelledFailedAndAbsent) {
  TTempFolder tmp;
  TEnv d("DISPLAY", ":99");
  TSaveFileRequest r;
  r.proposed_name = "Slide2.bmp";
  r.folder = tmp.Sys();
  r.default_extension = "bmp";
  auto zenity = NewZenityChooser(FakeProgram(tmp, "echo '" + tmp.Sys("typed") + "'; exit 0"));
  TSaveFileAnswer a = zenity->Choose(r);
  ASSERT_EQ(a.outcome, TSaveFileOutcome::kChosen);
  EXPECT_EQ(a.path, tmp.Sys("typed.bmp"));
  EXPECT_NE(tmp.ReadFile("args").find("--filename=" + tmp.Sys("Slide2.bmp") + "\n"), std::string::npos);

  zenity = NewZenityChooser(FakeProgram(tmp, "exit 1"));
  EXPECT_EQ(zenity->Choose(r).outcome, TSaveFileOutcome::kCancelled);
  zenity = NewZenityChooser(FakeProgram(tmp, "echo 'relative/name'; exit 0"));
  EXPECT_EQ(zenity->Choose(r).outcome, TSaveFileOutcome::kFailed);
  zenity = NewZenityChooser(FakeProgram(tmp, "exit 255"));
  EXPECT_EQ(zenity->Choose(r).outcome, TSaveFileOutcome::kFailed);
  // Nothing was written by any of them but the recorded arguments.
  EXPECT_FALSE(tmp.Exists("typed.bmp"));
  EXPECT_FALSE(tmp.Exists("Slide2.bmp"));

  EXPECT_EQ(NewKDialogChooser(tmp.Sys("no-such-program"))->Choose(r).outcome, TSaveFileOutcome::kUnavailable);
  TEnv nd("DISPLAY", std::nullopt);
  TEnv nw("WAYLAND_DISPLAY", std::nullopt);
  EXPECT_EQ(NewZenityChooser(FakeProgram(tmp, "exit 0"))->Choose(r).outcome, TSaveFileOutcome::kUnavailable);
}

// True once `pid` is gone or a zombie (reparented, reaped elsewhere),
// within 60 s.
bool EndsSoon(pid_t pid) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pid_text, name, state;
    if (!(stat >> pid_text >> name >> state) || state == "Z") return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Calling the wait off ends the program and what it started (a helper it
// left running in the background).
TEST(SaveChooserPrograms, CallingTheWaitOffEndsTheProgram) {
  TTempFolder tmp;
  TEnv d("DISPLAY", ":99");
  auto zenity = NewZenityChooser(FakeProgram(tmp, "sleep 120 & echo $! > \"" + tmp.Sys("helper") + "\"; echo $$ > \"" +
                                                      tmp.Sys("pid.tmp") + "\"; mv \"" + tmp.Sys("pid.tmp") + "\" \"" +
                                                      tmp.Sys("pid") + "\"; exec sleep 120"));
  TSaveFileRequest r;
  r.proposed_name = "Slide1.bmp";
  int pumps = 0;
  r.pump = [&] { return ++pumps < 20 || !tmp.Exists("pid"); };
  // The caller learns the program's process group (its own) once it runs,
  // before the first pump.
  std::vector<int> groups;
  r.started = [&](int group) {
    EXPECT_EQ(pumps, 0);
    groups.push_back(group);
  };
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(zenity->Choose(r).outcome, TSaveFileOutcome::kCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  pid_t pid = std::stoi(tmp.ReadFile("pid"));
  EXPECT_EQ(groups, std::vector<int>{pid});
  EXPECT_NE(kill(pid, 0), 0);  // gone and reaped
  const pid_t helper = std::stoi(tmp.ReadFile("helper"));
  EXPECT_TRUE(EndsSoon(helper));
  kill(helper, SIGKILL);
}

TEST(SaveChooserPrograms, TheProgramDiesWithAKilledPlayer) {
  TTempFolder tmp;
  TEnv d("DISPLAY", ":99");
  const std::string program = FakeProgram(tmp, "echo $$ > \"" + tmp.Sys("pid.tmp") + "\"; mv \"" +
                                                   tmp.Sys("pid.tmp") + "\" \"" + tmp.Sys("pid") + "\"; exec sleep 120");
  // A stand-in for the player, waiting on the chooser until it is killed.
  const pid_t player = fork();
  ASSERT_GE(player, 0);
  if (player == 0) {
    TSaveFileRequest r;
    r.proposed_name = "Slide1.bmp";
    NewZenityChooser(program)->Choose(r);
    _exit(0);
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!tmp.Exists("pid") && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(player, SIGKILL);
  waitpid(player, nullptr, 0);
  ASSERT_TRUE(tmp.Exists("pid"));
  const pid_t chooser = std::stoi(tmp.ReadFile("pid"));
  // Reparented and reaped elsewhere: gone (or a zombie) is what counts.
  const bool gone = EndsSoon(chooser);
  EXPECT_TRUE(gone);
  if (!gone) kill(chooser, SIGKILL);
}

TEST(SaveChooserPrograms, AProgramThatCannotBeStartedIsUnavailable) {
  TTempFolder tmp;
  TEnv d("DISPLAY", ":99");
  // Executable, but its interpreter is missing: exec fails.
  tmp.WriteFile("broken", "#!/no/such/interpreter\nexit 0\n");
  chmod(tmp.Sys("broken").c_str(), 0755);
  TSaveFileRequest r;
  EXPECT_EQ(NewZenityChooser(tmp.Sys("broken"))->Choose(r).outcome, TSaveFileOutcome::kUnavailable);
}

}  // namespace
}  // namespace kav::dialogs
