// kavtestcups: runs the tests' private CUPS scheduler (one default queue
// that keeps what it receives) for a test script. Prints
//   ready <server> <folder>
// (CUPS_SERVER for the client; the queue writes <folder>/page.pdf), then
// waits for SIGTERM or SIGINT, stops the scheduler and removes the folder.
// "missing <why>" and exit 77 when CUPS's scheduler is not installed.
#include <signal.h>

#include <cstdio>

#include "tests/KavLib2/KavPrint/PrivateCups.h"

int main() {
  using kav::testcups::TPrivateCups;
  if (const std::string why = TPrivateCups::Missing(); !why.empty()) {
    std::printf("missing %s\n", why.c_str());
    return 77;
  }
  int rc = 0;
  {
    TPrivateCups cups(true);
    if (!cups.Ready()) {
      std::fprintf(stderr, "kavtestcups: the scheduler did not start\n%s\n", cups.Log().c_str());
      rc = 1;
    } else {
      // Blocked only now: the scheduler must not inherit the block. The
      // script signals after reading the ready line.
      sigset_t stop;
      sigemptyset(&stop);
      sigaddset(&stop, SIGTERM);
      sigaddset(&stop, SIGINT);
      pthread_sigmask(SIG_BLOCK, &stop, nullptr);
      const char* server = std::getenv("CUPS_SERVER");
      std::printf("ready %s %s\n", server ? server : "", cups.Dir().c_str());
      std::fflush(stdout);
      int sig = 0;
      sigwait(&stop, &sig);
    }
  }
  return rc;
}
