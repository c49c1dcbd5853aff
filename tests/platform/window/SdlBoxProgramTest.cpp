// The box program's command line, and its process seen from the player: the
// answer on its descriptor, nothing else of ours inherited, and an end that
// never waits without a limit.
#include <gtest/gtest.h>
#include <SDL.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "platform/window/sdl/SdlBoxProgram.h"

namespace kav::win {
namespace {

bool Parse(const std::vector<std::string>& args, TBoxRequest& request) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return ParseBoxProgramArguments(int(argv.size()), argv.data(), request);
}

TEST(SdlBoxProgram, TheCommandLineCarriesTheRequest) {
  TBoxRequest request;
  request.kind = SDL_MESSAGEBOX_ERROR;
  request.driver = "x11";
  request.title = "Slideshow Error";
  request.text = "Can`t Load Show /tmp/été.kvshow\n(no such file) -x --kav-message-box";
  const std::vector<std::string> args = BoxProgramArguments("/proc/self/exe", request);
  ASSERT_EQ(args.size(), 6u);
  EXPECT_EQ(args[0], "/proc/self/exe");
  EXPECT_EQ(args[1], kBoxProgramArgument);
  TBoxRequest back;
  ASSERT_TRUE(Parse(args, back));
  EXPECT_EQ(back.kind, request.kind);
  EXPECT_EQ(back.driver, "x11");
  EXPECT_EQ(back.title, request.title);
  EXPECT_EQ(back.text, request.text);

  // A text beyond the limit is cut before a character that would not fit
  // whole and ends in an ellipsis.
  request.text = std::string(kMaxBoxTextBytes - 4, 'a') + "é and more";
  const std::string cut = BoxProgramArguments("p", request)[5];
  EXPECT_LE(cut.size(), kMaxBoxTextBytes);
  EXPECT_TRUE(cut == std::string(kMaxBoxTextBytes - 4, 'a') + "\xE2\x80\xA6") << cut.substr(cut.size() - 8);

  // Not a request: another program's command line, a wrong count, a kind
  // SDL does not know, a kind that is no number, a driver's name too long.
  EXPECT_FALSE(Parse({"kavplay", "show.kvshow", "16", "x11", "t", "x"}, back));
  EXPECT_FALSE(Parse({"kavplay", kBoxProgramArgument, "16", "x11", "t"}, back));
  EXPECT_FALSE(Parse({"kavplay", kBoxProgramArgument, "17", "x11", "t", "x"}, back));
  EXPECT_FALSE(Parse({"kavplay", kBoxProgramArgument, "1x", "x11", "t", "x"}, back));
  EXPECT_FALSE(Parse({"kavplay", kBoxProgramArgument, "16", std::string(40, 'x'), "t", "x"}, back));
}

TEST(SdlBoxProgram, AProgramThatCalledTheEntryShowsItsOwnBoxes) {
  SetBoxProgram("");
  char name[] = "test";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(RunIfBoxProgram(1, argv), -1);
  EXPECT_EQ(BoxProgram(), "/proc/self/exe");
  SetBoxProgram("/usr/lib/kav/box");
  EXPECT_EQ(BoxProgram(), "/usr/lib/kav/box");
  SetBoxProgram("");
}

// Waits (at most 30 s) for the answer descriptor and reads it.
int WaitAnswer(TBoxProcess& box) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{box.AnswerFd(), POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      const int answer = box.ReadAnswer();
      if (answer >= 0) return answer;
    }
  }
  return -2;
}

TEST(SdlBoxProgram, TheProcessAnswersOnItsDescriptorAndInheritsNothingElse) {
  // A descriptor of ours that is not close-on-exec (above the answer's).
  const int opened = open("/dev/null", O_RDONLY);
  ASSERT_GE(opened, 0);
  const int ours = fcntl(opened, F_DUPFD, 10);
  close(opened);
  ASSERT_GE(ours, 10);
  const std::string check = "[ -e /proc/self/fd/" + std::to_string(ours) + " ] && printf 0 >&3 || printf 1 >&3";
  {
    TBoxProcess box;
    ASSERT_TRUE(box.Start({"/bin/sh", "-c", check}));
    EXPECT_EQ(WaitAnswer(box), 1);
    EXPECT_TRUE(box.End());
  }
  close(ours);
  {
    // Ended without a word: not shown.
    TBoxProcess box;
    ASSERT_TRUE(box.Start({"/bin/sh", "-c", "exit 0"}));
    EXPECT_EQ(WaitAnswer(box), 0);
    EXPECT_TRUE(box.End());
  }
  {
    // A program that cannot be started: the child ends, nothing is shown.
    TBoxProcess box;
    ASSERT_TRUE(box.Start({"/nonexistent/box"}));
    EXPECT_EQ(WaitAnswer(box), 0);
    EXPECT_TRUE(box.End());
  }
}

TEST(SdlBoxProgram, AProcessThatLingersAfterItsAnswerIsKilledWithinTheLimit) {
  TBoxProcess box;
  // SIGTERM ignored too: only SIGKILL ends it.
  ASSERT_TRUE(box.Start({"/bin/sh", "-c", "trap '' TERM; printf 1 >&3; exec sleep 1000"}));
  const pid_t pid = box.Pid();
  EXPECT_EQ(WaitAnswer(box), 1);
  EXPECT_TRUE(box.End(200));
  // Reaped: the process is gone, not left a zombie.
  EXPECT_NE(kill(pid, 0), 0);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(box.Pid(), -1);
}

}  // namespace
}  // namespace kav::win
