#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "WinTestUtil.h"
#include "platform/window/WinTerminate.h"

namespace kav::win {
namespace {

class TerminationTest : public WindowTest {
 protected:
  void TearDown() override {
    ResetTerminationForTests();
    WindowTest::TearDown();
  }
};

// Waits (generously) for a child to end; its status, or -1 when it did not.
int WaitChild(pid_t pid, int seconds = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

TEST_F(TerminationTest, EveryMessageLoopQuitsOnceItIsAskedAndAWaitIsWoken) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW);
  PostMessage(h, WM_USER + 1, 0, 0);
  TMsg m;
  ASSERT_TRUE(PeekMessage(&m, 0, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 1);
  // From another thread while the GUI thread waits in GetMessage.
  std::thread asker([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    RequestTermination();
  });
  while (GetMessage(&m, 0, 0, 0)) DispatchMessage(m);
  asker.join();
  EXPECT_TRUE(TerminationRequested());
  // Quit on every call, ahead of the posted message, which is never run.
  recorder.Log.clear();
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(GetMessage(&m, 0, 0, 0));
    ASSERT_TRUE(PeekMessage(&m, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_QUIT);
  }
  EXPECT_TRUE(recorder.Messages({WM_USER + 1}).empty());
}

TEST_F(TerminationTest, ASignalSetsTheFlagAndDoesNotEndTheProcessAtOnce) {
  for (int sig : {SIGTERM, SIGINT}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      signal(SIGINT, SIG_DFL);
      InstallTerminationSignals();
      raise(sig);
      _exit(TerminationRequested() ? 0 : 3);
    }
    const int status = WaitChild(pid);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << sig << ": status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  // SIGINT left ignored (a shell's background job) stays ignored.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGINT, SIG_IGN);
    InstallTerminationSignals();
    raise(SIGINT);
    _exit(TerminationRequested() ? 3 : 0);
  }
  const int status = WaitChild(pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(TerminationTest, AChildForkedForABoxIsKilledByTheTerminationAndNeverRunsAfterIt) {
  pid_t pid;
  {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    TChildDiesWithParent scope;
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      (void)!write(ready[1], "r", 1);
      for (;;) pause();  // a box nobody answers
    }
    char r;
    ASSERT_EQ(read(ready[0], &r, 1), 1);
    close(ready[0]);
    close(ready[1]);
  }
  // Only a child forked inside the scope is the box's.
  {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    TChildDiesWithParent scope;
    // A first short child, as a library that asks its helper's version
    // before it forks the box.
    const pid_t probe = fork();
    ASSERT_GE(probe, 0);
    if (probe == 0) _exit(0);
    ASSERT_EQ(WaitChild(probe), 0);
    const pid_t box = fork();
    ASSERT_GE(box, 0);
    if (box == 0) {
      (void)!write(ready[1], "r", 1);
      for (;;) pause();
    }
    char r;
    ASSERT_EQ(read(ready[0], &r, 1), 1);  // it runs: now only a kill ends it
    close(ready[0]);
    close(ready[1]);
    RequestTermination();
    const int status = WaitChild(box);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    // Forked after the signal: it ends before doing anything.
    const pid_t late = fork();
    ASSERT_GE(late, 0);
    if (late == 0) _exit(5);
    const int late_status = WaitChild(late);
    ASSERT_TRUE(WIFEXITED(late_status));
    EXPECT_EQ(WEXITSTATUS(late_status), 1);
  }
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);  // the first child still runs
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST_F(TerminationTest, AChildForkedForABoxDiesWithAKilledParent) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // A stand-in for the player: it forks the box's process and is killed.
  const pid_t player = fork();
  ASSERT_GE(player, 0);
  if (player == 0) {
    close(fds[0]);
    TChildDiesWithParent scope;
    const pid_t box = fork();
    if (box == 0) {
      for (;;) pause();
    }
    (void)!write(fds[1], &box, sizeof box);
    for (;;) pause();
  }
  close(fds[1]);
  pid_t box = 0;
  ASSERT_EQ(read(fds[0], &box, sizeof box), ssize_t(sizeof box));
  close(fds[0]);
  ASSERT_GT(box, 0);
  kill(player, SIGKILL);
  waitpid(player, nullptr, 0);
  // The box's process is reparented and reaped elsewhere: gone is what counts.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool gone = false;
  while (!gone && std::chrono::steady_clock::now() < end) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(box));
    FILE* f = std::fopen(path, "r");
    if (!f) {
      gone = true;
      break;
    }
    int read_pid = 0;
    char comm[256] = {0};
    char state = 0;
    const int n = std::fscanf(f, "%d %255s %c", &read_pid, comm, &state);
    std::fclose(f);
    gone = n == 3 && state == 'Z';
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(gone);
  if (!gone) kill(box, SIGKILL);
}

}  // namespace
}  // namespace kav::win
