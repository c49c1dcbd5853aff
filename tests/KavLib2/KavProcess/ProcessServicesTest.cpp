#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "../../VoRav/TempFolder.h"
#include "KavLib2/KavProcess/KavInstance.h"
#include "KavLib2/KavProcess/KavProcessHooks.h"
#include "KavLib2/KavProcess/KavScreenSaver.h"
#include "KavLib2/KavProcess/KavTempFolders.h"
#include "VoRav/vxHashUtils.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "platform/display/null/NullDisplay.h"

namespace kav {
namespace {

namespace fs = std::filesystem;

// Runs `body` in a child process; the child tells the parent it is ready
// through a pipe and then waits until the parent closes its end.
class TChild {
 public:
  template <class F>
  explicit TChild(F body) {
    int ready[2], go[2];
    if (pipe(ready) != 0 || pipe(go) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(go[1]);
      bool ok = body();
      char c = ok ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1) _exit(2);
      read(go[0], &c, 1);  // until the parent lets go
      _exit(0);
    }
    close(ready[1]);
    close(go[0]);
    char c = 0;
    ok_ = read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
    go_ = go[1];
  }
  bool Ok() const { return pid_ > 0 && ok_; }
  // Lets the child end (without any clean-up of its own) and waits for it.
  void End() {
    if (go_ >= 0) close(go_);
    go_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  ~TChild() { End(); }

 private:
  pid_t pid_ = -1;
  int go_ = -1;
  bool ok_ = false;
};

TEST(Instance, LockNameIsBuiltFromTheThreePathHashesAndTheFileName) {
  const std::u16string path = u"/opt/shows/My Show.exe";
  EXPECT_EQ(InstanceLockName(path), "Instance_ID" + std::to_string(StrHashELF(path)) +
                                        std::to_string(StrHashELF(std::u16string_view(u"/opt/shows"))) +
                                        std::to_string(StrHashELF(std::u16string_view(u"My Show.exe"))) +
                                        "My Show.exe");
  EXPECT_NE(InstanceLockName(u"/a/show"), InstanceLockName(u"/b/show"));
  EXPECT_LE(InstanceLockName(u"/x/" + std::u16string(400, u'n')).size(), 200u);
}

TEST(Instance, SecondProcessOfTheSameProgramSeesTheFirstUntilItEnds) {
  test::TTempFolder dir;
  const std::u16string program = u"/opt/shows/show.exe";
  TChild first([&] {
    static TInstanceLock* lock = new TInstanceLock(program, dir.Sys());
    return lock->Owned();
  });
  ASSERT_TRUE(first.Ok());
  TInstanceLock second(program, dir.Sys());
  EXPECT_FALSE(second.Owned());
  EXPECT_TRUE(second.CheckOtherInstance());
  TInstanceLock elsewhere(u"/other/show.exe", dir.Sys());
  EXPECT_FALSE(elsewhere.CheckOtherInstance());
  first.End();
  EXPECT_FALSE(second.CheckOtherInstance());  // taken over
  EXPECT_TRUE(second.Owned());
  EXPECT_FALSE(second.CheckOtherInstance());
  // No folder: no lock, and no other instance is reported.
  TInstanceLock none(program, dir.Sys("missing"));
  EXPECT_FALSE(none.CheckOtherInstance());
}

TEST(Instance, LockFolderIsTheRuntimeFolderWhenSet) {
  test::TTempFolder dir;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  std::string saved = old ? old : "";
  setenv("XDG_RUNTIME_DIR", dir.Sys().c_str(), 1);
  EXPECT_EQ(InstanceLockFolder(), dir.Sys());
  setenv("XDG_RUNTIME_DIR", "relative/path", 1);
  EXPECT_NE(InstanceLockFolder(), "relative/path");
  if (old)
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

class ScreenSaver : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetDisplayService(display_); }
  void TearDown() override { SetDisplayService(previous_); }
  std::shared_ptr<TNullDisplay> display_ = std::make_shared<TNullDisplay>();
  std::shared_ptr<TDisplayService> previous_;
};

TEST_F(ScreenSaver, OffOnceWhilePlayingAndBackOnlyWhenThisProcessSwitchedItOff) {
  TScreenSaverControl c;
  EXPECT_TRUE(c.DisableScreenSaver());
  EXPECT_FALSE(c.DisableScreenSaver());
  EXPECT_EQ(display_->ScreenSaverCalls(), 1);
  EXPECT_FALSE(display_->ScreenSaverEnabled());
  c.Finalize();
  EXPECT_TRUE(display_->ScreenSaverEnabled());
  EXPECT_EQ(display_->ScreenSaverCalls(), 2);

  TScreenSaverControl untouched;
  untouched.Finalize();
  EXPECT_EQ(display_->ScreenSaverCalls(), 2);
  EXPECT_FALSE(untouched.EnableScreenSaver());
}

TEST_F(ScreenSaver, RunningAsTheScreenSaverLeavesItToTheSystem) {
  TScreenSaverControl c;
  EXPECT_TRUE(c.SetScreenSaverRunning());
  EXPECT_FALSE(c.SetScreenSaverRunning());
  EXPECT_TRUE(c.ScreenSaverMode());
  EXPECT_FALSE(c.DisableScreenSaver());
  EXPECT_TRUE(display_->ScreenSaverEnabled());
  c.Finalize();
  EXPECT_EQ(display_->ScreenSaverStoppedCalls(), 1);
}

TEST_F(ScreenSaver, HooksDoNothingUntilInstalledAndAfterShutdown) {
  EXPECT_FALSE(HookDisableScreenSaver());
  EXPECT_EQ(display_->ScreenSaverCalls(), 0);
  InitProcessServices();
  EXPECT_TRUE(HookDisableScreenSaver());
  EXPECT_FALSE(display_->ScreenSaverEnabled());
  EXPECT_FALSE(HookCheckOtherInstance());  // this test program runs once
  DoneProcessServices();
  EXPECT_TRUE(display_->ScreenSaverEnabled());
  EXPECT_FALSE(HookEnableScreenSaver());
  EXPECT_EQ(HookCheckOtherInstance, &ProcessHookNothing);
}

std::string RootOf(const test::TTempFolder& dir) { return dir.Sys("ORVANE_TEMP_ROOT-" + std::to_string(getuid())); }

fs::perms Mode(const std::string& path) { return fs::symlink_status(path).permissions(); }

TEST(TempFolders, FoldersAreMadeLockedAndPrivateAndRemovedAtTheEnd) {
  test::TTempFolder dir;
  std::u16string folder;
  {
    TTempFolders temp(dir.Wide());
    EXPECT_EQ(WideToSystemUTF8(temp.GetTempRoot()), RootOf(dir) + "/");
    folder = temp.CreateLockedTempFolder(true);
    ASSERT_EQ(folder.back(), u'/');
    const std::string sys = WideToSystemUTF8(folder.substr(0, folder.size() - 1));
    const std::string name = fs::path(sys).filename().string();
    ASSERT_EQ(name.size(), 38u);
    EXPECT_EQ(name.front(), '[');
    EXPECT_EQ(name.back(), ']');
    EXPECT_EQ(sys.substr(0, RootOf(dir).size()), RootOf(dir));
    EXPECT_EQ(Mode(RootOf(dir)), fs::perms::owner_all);
    EXPECT_EQ(Mode(sys), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_regular_file(sys + ".lock"));
    EXPECT_FALSE(fs::exists(sys + ".lock.new"));
    // Its lock is held: no sweep takes it away.
    EXPECT_FALSE(TTempFolders::CleanStaleTempFolder(SystemUTF8ToWide(sys + ".lock")));
    EXPECT_TRUE(fs::is_directory(sys));
    std::ofstream(sys + "/extracted.dll") << "x";
    fs::create_directory(sys + "/sub");
    EXPECT_EQ(temp.Folders().size(), 1u);
    EXPECT_NE(temp.CreateLockedTempFolder(false), folder.substr(0, folder.size() - 1));
  }
  // Both folders and their lock files are gone with the object.
  EXPECT_TRUE(fs::is_empty(RootOf(dir)));
}

TEST(TempFolders, StaleFoldersOfEndedProcessesGoAndLiveOnesStay) {
  test::TTempFolder dir;
  TTempFolders live(dir.Wide());
  const std::string mine = WideToSystemUTF8(live.CreateLockedTempFolder(false));
  std::string theirs;
  {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
      TTempFolders* t = new TTempFolders(dir.Wide());
      std::string made = WideToSystemUTF8(t->CreateLockedTempFolder(false));
      std::ofstream(made + "/media.bin") << "data";
      ssize_t n = write(fds[1], made.data(), made.size());
      _exit(n == static_cast<ssize_t>(made.size()) ? 0 : 1);  // ends without cleaning up
    }
    close(fds[1]);
    char buf[512];
    ssize_t n = read(fds[0], buf, sizeof buf);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_GT(n, 0);
    theirs.assign(buf, static_cast<size_t>(n));
  }
  ASSERT_TRUE(fs::exists(theirs + "/media.bin"));
  // A stale folder that lost its lock file stays (nothing marks it), and a
  // stale lock file without its folder goes.
  fs::create_directory(RootOf(dir) + "/[no-lock]");
  std::ofstream(RootOf(dir) + "/[gone].lock") << "";

  TTempFolders next(dir.Wide());
  next.GetTempRoot();
  EXPECT_FALSE(fs::exists(theirs));
  EXPECT_FALSE(fs::exists(theirs + ".lock"));
  EXPECT_TRUE(fs::is_directory(mine));
  EXPECT_TRUE(fs::exists(mine + ".lock"));
  EXPECT_TRUE(fs::exists(RootOf(dir) + "/[no-lock]"));
  EXPECT_FALSE(fs::exists(RootOf(dir) + "/[gone].lock"));
}

TEST(TempFolders, LinksPlantedInTheRootAreRemovedNeverFollowed) {
  test::TTempFolder dir;
  const std::string root = RootOf(dir);
  fs::create_directory(root);
  fs::permissions(root, fs::perms::all);  // narrowed on use
  dir.WriteFile("victim/keep.txt", "precious");
  dir.WriteFile("victim2.txt", "precious too");
  fs::create_directory_symlink(dir.Sys("victim"), root + "/[A]");
  std::ofstream(root + "/[A].lock") << "";
  fs::create_directory(root + "/[B]");
  fs::create_directory_symlink(dir.Sys("victim"), root + "/[B]/inner");
  std::ofstream(root + "/[B].lock") << "";
  fs::create_symlink(dir.Sys("victim2.txt"), root + "/[C].lock");

  TTempFolders temp(dir.Wide());
  temp.GetTempRoot();
  EXPECT_EQ(Mode(root), fs::perms::owner_all);
  EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/[A]")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/[B]")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/[C].lock")));
  EXPECT_EQ(dir.ReadFile("victim/keep.txt"), "precious");
  EXPECT_EQ(dir.ReadFile("victim2.txt"), "precious too");
}

TEST(TempFolders, ARootThatIsALinkOrMissingIsAnAssertion) {
  test::TTempFolder dir;
  fs::create_directory(dir.Sys("elsewhere"));
  fs::create_directory_symlink(dir.Sys("elsewhere"), RootOf(dir));
  TTempFolders linked(dir.Wide());
  EXPECT_THROW(linked.GetTempRoot(), EAbort);
  EXPECT_THROW(linked.CreateLockedTempFolder(false), EAbort);
  EXPECT_TRUE(fs::is_empty(dir.Sys("elsewhere")));

  TTempFolders no_base(dir.Wide("missing/deeper"));
  EXPECT_THROW(no_base.GetTempRoot(), EAbort);
}

}  // namespace
}  // namespace kav
