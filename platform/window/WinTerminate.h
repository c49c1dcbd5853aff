// Ending the program on SIGTERM or SIGINT from anywhere, modal windows too.
//
// The signal handler only sets a process-wide flag, kills the child process
// that is drawing a box for the GUI thread, and writes a byte to a pipe; a watcher
// thread then wakes the GUI thread. From then on GetMessage and PeekMessage
// answer WM_QUIT on every call, so each message loop ends (the application's,
// a modal dialog's, a file chooser's pump) and the program leaves through its
// normal exit. Code that would start a program or write a file checks
// TerminationRequested first.
#pragma once

#include <functional>

namespace kav::win {

// True once SIGTERM or SIGINT arrived (or RequestTermination was called).
bool TerminationRequested() noexcept;
// What the signals do, for callers and tests: sets the flag, ends a box's
// child and wakes the GUI thread.
void RequestTermination() noexcept;
// Tests only: clears the flag again.
void ResetTerminationForTests() noexcept;

// Installs the handlers of SIGTERM and SIGINT (SIGINT stays ignored when it
// is, as a shell leaves it for a background job) and starts the watcher.
// Called once, before SDL is initialised (SDL then keeps its own out).
void InstallTerminationSignals();

// While start-up is not finished, SIGTERM and SIGINT end the process at
// once with exit 0: the GUI thread may then be held inside a library (such
// as SDL's set-up waiting for a session bus that never answers) where no
// flag is looked at. Off again once the window system can be woken.
void SetStartingUp(bool starting) noexcept;

// The GUI thread's wake, called after a signal; an empty function clears it
// (InitWindowSystem sets it, DoneWindowSystem and the SDL backend clear it).
void SetTerminationWake(std::function<void()> wake);

// While one lives on a thread, a child forked by that thread (the box
// program, and in it the processes SDL forks to draw the box) dies with this process
// (PR_SET_PDEATHSIG), is killed by a termination signal, and ends at once
// when the signal came before it could be killed.
class TChildDiesWithParent {
 public:
  TChildDiesWithParent();
  ~TChildDiesWithParent();
  TChildDiesWithParent(const TChildDiesWithParent&) = delete;
  TChildDiesWithParent& operator=(const TChildDiesWithParent&) = delete;
};

// For a child made with fork and exec: called in the child right after fork,
// makes it die with the parent whose pid was `parent` before the fork (and
// end at once when that parent is already gone). Async-signal-safe.
void DieWithParentAfterFork(int parent) noexcept;

}  // namespace kav::win
