// The message box's own process: a fresh program started with exec.
//
// The player has many threads, and a child made by fork() of it may find any
// lock taken for good (the X library's, inside a frame being presented, the
// allocator's): such a child runs nothing but exec. The box is therefore
// drawn by a program of its own, started fresh: the program that called
// RunIfBoxProgram first thing in main() runs itself again
// (/proc/self/exe, so a copy of the player with a show appended, run from
// any folder, still has its boxes), with kBoxProgramArgument first. Test
// programs name a small program built on the same entry (SetBoxProgram).
//
// The box program starts SDL's video with the player's driver (so SDL's X
// box is centred on the first display, as in the player), shows the box
// with SDL (its own X box; zenity where that cannot be shown), its text
// broken into lines that fit the screen, and writes one byte to descriptor
// kBoxAnswerFd when the box has gone: '1' when it was shown, '0' when it
// could not be. The processes SDL starts for the box (SDL's X box draws in
// a child of its own, zenity is another) die with the box program, as the
// box program dies with the player.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kav::win {

// The first argument of a box program's command line.
inline constexpr char kBoxProgramArgument[] = "--kav-message-box";
// The descriptor the box program answers on.
inline constexpr int kBoxAnswerFd = 3;
// The most bytes of text and of title passed to the box (a line of
// arguments is limited; a box of more would not fit a screen anyway), and
// of a driver's name.
inline constexpr size_t kMaxBoxTextBytes = 16384;
inline constexpr size_t kMaxBoxTitleBytes = 1024;
inline constexpr size_t kMaxBoxDriverBytes = 32;

// What a box shows.
struct TBoxRequest {
  uint32_t kind = 0;       // SDL_MESSAGEBOX_ERROR, _WARNING or _INFORMATION
  std::string driver;      // SDL's video driver ("x11")
  std::string title, text;  // UTF-8
};

// The command line that shows `request` with `program`. Text and title
// longer than their limits are cut at a character and end in "…".
std::vector<std::string> BoxProgramArguments(const std::string& program, const TBoxRequest& request);
// Reads such a command line back; false when it is not one.
bool ParseBoxProgramArguments(int argc, const char* const* argv, TBoxRequest& request);

// Called first thing in main(): when the command line asks for a box, shows
// it and answers the program's exit code; otherwise answers -1 and makes
// this program the box program of its own boxes.
int RunIfBoxProgram(int argc, char** argv);

// The program that shows boxes: the one set last, else this program when it
// called RunIfBoxProgram, else none (empty: boxes go to the error output).
std::string BoxProgram();
// Tests: the box program to run (empty: back to the default).
void SetBoxProgram(std::string path);

// A running box program, from the player's side.
class TBoxProcess {
 public:
  TBoxProcess() = default;
  // Ends (see End) a process still running.
  ~TBoxProcess();
  TBoxProcess(const TBoxProcess&) = delete;
  TBoxProcess& operator=(const TBoxProcess&) = delete;

  // Starts `argv` (argv[0] the program's path) with this environment, its
  // answer descriptor on kBoxAnswerFd and every other descriptor but the
  // standard ones closed. The child of fork() calls only async-signal-safe
  // functions before exec (everything is prepared before the fork); it
  // dies with this process (PR_SET_PDEATHSIG) and has SIGTERM and SIGINT at
  // their default. False when nothing could be started.
  bool Start(const std::vector<std::string>& argv);

  pid_t Pid() const { return pid_; }
  // Readable once the program answered or ended (then at its end of file).
  int AnswerFd() const { return answer_fd_; }
  // Reads the answer once the descriptor is readable: 1 shown, 0 not
  // shown (also a program that ended without answering), -1 read again
  // (interrupted).
  int ReadAnswer();

  // Reaps the process within `ms` milliseconds, else kills it (SIGKILL) and
  // reaps it within another `ms`; never waits longer. True when reaped.
  bool End(int ms = kReapMs);
  static constexpr int kReapMs = 2000;

 private:
  pid_t pid_ = -1;
  int answer_fd_ = -1;
};

// Waits up to `ms` milliseconds for the child `pid` to end and reaps it;
// false when it still runs then. A child already reaped counts as ended.
bool ReapWithin(pid_t pid, int ms);

}  // namespace kav::win
