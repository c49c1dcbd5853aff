// kavtestcups: runs the tests' private CUPS scheduler (one default queue
// that keeps what it receives) for a test script. Prints
//   ready <server> <folder>
// (CUPS_SERVER for the client; the queue writes <folder>/page.pdf), then
// waits for SIGTERM or SIGINT, stops the scheduler and removes the folder.
// "missing <why>" and exit 77 when CUPS's scheduler is not installed.
//
//   --queues N      N queues: "kavtest" (the default, page.pdf), then
//                   "kavtest002" on, each writing <name>.pdf
//   --trickle MS    no scheduler: a loopback port that takes connections
//                   and answers one byte every MS milliseconds of a reply
//                   that never ends (0: never takes them from its queue);
//                   <folder> is an empty client configuration
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tests/KavLib2/KavPrint/PrivateCups.h"

namespace {

int WaitForTheEnd() {
  // Blocked only now: a scheduler must not inherit the block. The script
  // signals after reading the ready line.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  int sig = 0;
  sigwait(&stop, &sig);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using kav::testcups::TFakeScheduler;
  using kav::testcups::TPrivateCups;
  int queues = 1;
  long trickle = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--queues") == 0) queues = std::clamp(std::atoi(argv[i + 1]), 1, 500);
    else if (std::strcmp(argv[i], "--trickle") == 0) trickle = std::max(0L, std::atol(argv[i + 1]));
  }
  if (trickle >= 0) {
    char templ[] = "/tmp/kavcups.XXXXXX";
    const char* dir = mkdtemp(templ);
    if (!dir) return 1;
    int rc = 0;
    {
      TFakeScheduler scheduler{std::chrono::milliseconds(trickle)};
      if (scheduler.Port() <= 0) {
        std::fprintf(stderr, "kavtestcups: no port\n");
        rc = 1;
      } else {
        std::printf("ready 127.0.0.1:%d %s\n", scheduler.Port(), dir);
        std::fflush(stdout);
        rc = WaitForTheEnd();
      }
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return rc;
  }
  if (const std::string why = TPrivateCups::Missing(); !why.empty()) {
    std::printf("missing %s\n", why.c_str());
    return 77;
  }
  int rc = 0;
  {
    TPrivateCups cups(true, true, queues);
    if (!cups.Ready()) {
      std::fprintf(stderr, "kavtestcups: the scheduler did not start\n%s\n", cups.Log().c_str());
      rc = 1;
    } else {
      const char* server = std::getenv("CUPS_SERVER");
      std::printf("ready %s %s\n", server ? server : "", cups.Dir().c_str());
      std::fflush(stdout);
      rc = WaitForTheEnd();
    }
  }
  return rc;
}
