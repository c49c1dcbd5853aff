// kavtestportal [mute|leave]: a desktop portal that takes the file chooser's
// request and never answers, on a private D-Bus bus of its own, for a test
// script; with "mute" it does not even reply to the call, with "leave" it
// leaves the bus once it took the call (the bus stays). Prints
//   ready <bus address>
// then "call N" when the N-th SaveFile request came and "closed N" when its
// caller closed it; ends on SIGTERM or SIGINT (the bus with it). "missing
// <why>" and exit 77 without dbus-daemon.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "tests/platform/dialogs/FakePortal.h"

int main(int argc, char** argv) {
  using namespace kav::dialogs::test_portal;
  if (kav::dialogs::FindExecutable("dbus-daemon").empty()) {
    std::printf("missing dbus-daemon\n");
    return 77;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  TPrivateBus bus;
  if (bus.Address().empty()) {
    std::fprintf(stderr, "kavtestportal: dbus-daemon gave no address\n");
    return 1;
  }
  // Blocked only now: the bus must not inherit the block; the threads made
  // from here on (the portal's) do.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  const char* mode = argc > 1 ? argv[1] : "";
  const TReply reply = std::strcmp(mode, "mute") == 0    ? TReply::kMute
                       : std::strcmp(mode, "leave") == 0 ? TReply::kLeave
                                                         : TReply::kSilent;
  TFakePortal portal(bus.Address(), reply, "");
  if (!portal.Ready()) {
    std::fprintf(stderr, "kavtestportal: the portal's name was not ours\n");
    return 1;
  }
  std::printf("ready %s\n", bus.Address().c_str());
  std::fflush(stdout);
  size_t calls = 0, closed = 0;
  for (;;) {
    const timespec slice{0, 100 * 1000 * 1000};
    if (sigtimedwait(&stop, nullptr, &slice) > 0) break;
    const std::vector<TCall> now = portal.Calls();
    for (; calls < now.size(); ++calls) std::printf("call %zu\n", calls + 1);
    for (size_t i = closed; i < now.size() && now[i].closed; ++i, ++closed) std::printf("closed %zu\n", i + 1);
    std::fflush(stdout);
  }
  return 0;
}
