#include "platform/dialogs/ProgramChooser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/dialogs/FallbackChooser.h"

extern char** environ;

namespace kav::dialogs {
namespace {

constexpr size_t kMaxAnswerBytes = 64 * 1024;  // a path, with room to spare
constexpr int kPumpMs = 50;

// True once `pid` has ended; it is not reaped, so its id (and its process
// group's) stays ours.
bool Ended(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Ends a child that is no longer wanted, with whatever it started (its
// process group): SIGTERM, then SIGKILL after half a second (the player may
// be ending on a signal and must be gone within one).
void EndChild(pid_t pid) {
  kill(-pid, SIGTERM);
  for (int i = 0; i < 10 && !Ended(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(kPumpMs));
  kill(-pid, SIGKILL);  // the rest of its group, before the group's id can be reused
  waitpid(pid, nullptr, 0);
}

enum class TRun { kExited, kNotStarted, kCalledOff };

// Starts argv with its output in a pipe and waits for it, pumping; `out`
// gets what it wrote (capped), `status` its exit code (-1 for a signal).
// `started` gets its process group once it runs.
TRun RunProgram(const std::vector<std::string>& argv, const TSaveFileRequest& request, std::string& out,
                int& status) {
  const std::function<bool()>& pump = request.pump;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return TRun::kNotStarted;
  // Everything the child needs is made before fork: between fork and exec
  // only async-signal-safe calls are made.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // A failed exec is told through a pipe that a successful one closes.
  int exec_fds[2];
  if (pipe2(exec_fds, O_CLOEXEC) != 0) {
    close(fds[0]);
    close(fds[1]);
    return TRun::kNotStarted;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // The chooser dies with the player, even when the player is killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // A group of its own, so that calling it off ends what it started too.
    setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int err = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(fds[1], 1) < 0 || dup2(err, 2) < 0) _exit(127);
    // The player's handlers are not the chooser's.
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    execve(args[0], args.data(), environ);
    const int e = errno;
    (void)!write(exec_fds[1], &e, sizeof e);
    _exit(127);
  }
  if (pid > 0) setpgid(pid, pid);  // as the child does, whichever runs first
  close(fds[1]);
  close(exec_fds[1]);
  int exec_error = 0;
  ssize_t got = -1;
  if (pid > 0)
    while ((got = read(exec_fds[0], &exec_error, sizeof exec_error)) < 0 && errno == EINTR) {
    }
  close(exec_fds[0]);
  if (pid < 0 || got > 0) {
    close(fds[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return TRun::kNotStarted;
  }
  if (request.started) request.started(pid);  // the child leads a group of its own
  bool open_pipe = true;
  for (;;) {
    if (open_pipe) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, kPumpMs) > 0) {
        char buf[4096];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0) {
          if (out.size() < kMaxAnswerBytes) out.append(buf, std::min<size_t>(n, kMaxAnswerBytes - out.size()));
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
          open_pipe = false;
        }
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kPumpMs));
    }
    int st = 0;
    pid_t r = waitpid(pid, &st, WNOHANG);
    if (r < 0 && errno == ECHILD && !open_pipe) {
      // Reaped elsewhere (SIGCHLD ignored): its closed output marks its end,
      // and an answer in it counts as given.
      close(fds[0]);
      status = out.empty() ? 1 : 0;
      return TRun::kExited;
    }
    if (r == pid) {
      // Whatever is still in the pipe belongs to the answer.
      char buf[4096];
      ssize_t n;
      while (open_pipe && (n = read(fds[0], buf, sizeof buf)) > 0)
        if (out.size() < kMaxAnswerBytes) out.append(buf, std::min<size_t>(n, kMaxAnswerBytes - out.size()));
      close(fds[0]);
      status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
      return TRun::kExited;
    }
    if (pump && !pump()) {
      close(fds[0]);
      EndChild(pid);
      return TRun::kCalledOff;
    }
  }
}

std::string StartPath(const TSaveFileRequest& request) {
  std::string folder = request.folder.empty() ? PicturesFolder() : request.folder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + SafeProposedName(request.proposed_name, "");
}

// The filters with the current one first: neither program can be told
// which one to show, only shows its first.
std::vector<TFileFilter> OrderedFilters(const TSaveFileRequest& request) {
  std::vector<TFileFilter> list = request.filters;
  if (request.current_filter > 0 && request.current_filter < static_cast<int>(list.size())) {
    TFileFilter current = list[request.current_filter];
    list.erase(list.begin() + request.current_filter);
    list.insert(list.begin(), current);
  }
  return list;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string s;
  for (const std::string& p : parts) s += (s.empty() ? "" : separator) + p;
  return s;
}

}  // namespace

std::string FindExecutable(const std::string& name) {
  auto executable = [](const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
  };
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return executable(name) ? name : std::string();
  const char* env = std::getenv("PATH");
  std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = path.find(':', start);
    std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // An empty or relative entry would search the current folder: skipped.
    if (!dir.empty() && dir[0] == '/' && executable(dir + "/" + name)) return dir + "/" + name;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

std::string X11WindowNumber(const std::string& parent_window) {
  if (parent_window.compare(0, 4, "x11:") != 0 || parent_window.size() == 4) return {};
  char* end = nullptr;
  unsigned long id = std::strtoul(parent_window.c_str() + 4, &end, 16);
  if (*end != '\0' || id == 0) return {};
  return std::to_string(id);
}

TProgramChooser::TProgramChooser(TChooserProgram kind, std::string program)
    : kind_(kind), program_(std::move(program)) {}

const char* TProgramChooser::Name() const { return kind_ == TChooserProgram::kZenity ? "zenity" : "kdialog"; }

std::vector<std::string> TProgramChooser::Arguments(const TSaveFileRequest& request) const {
  std::vector<std::string> args;
  std::string parent = X11WindowNumber(request.parent_window);
  std::vector<TFileFilter> filters = OrderedFilters(request);
  // Every value travels joined to its option ("--title=...") or after all
  // options, so a text beginning with "-" is never read as an option.
  if (kind_ == TChooserProgram::kZenity) {
    args = {"--file-selection", "--save"};
    if (request.overwrite_prompt) args.push_back("--confirm-overwrite");
    if (!request.title.empty()) args.push_back("--title=" + request.title);
    if (!parent.empty()) {
      args.push_back("--attach=" + parent);
      args.push_back("--modal");
    }
    args.push_back("--filename=" + StartPath(request));
    for (const TFileFilter& f : filters)
      if (!f.patterns.empty()) args.push_back("--file-filter=" + f.description + " | " + Joined(f.patterns, " "));
  } else {
    // kdialog asks before replacing a file by itself.
    if (!request.title.empty()) args.push_back("--title=" + request.title);
    if (!parent.empty()) args.push_back("--attach=" + parent);
    args.push_back("--getsavefilename");
    args.push_back(StartPath(request));
    std::vector<std::string> lines;
    for (const TFileFilter& f : filters)
      if (!f.patterns.empty()) lines.push_back(Joined(f.patterns, " ") + "|" + f.description);
    if (!lines.empty()) args.push_back(Joined(lines, "\n"));
  }
  return args;
}

TSaveFileAnswer TProgramChooser::Choose(const TSaveFileRequest& request) {
  TSaveFileAnswer answer;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!display || !*display) && (!wayland || !*wayland)) return answer;  // nowhere to show it
  std::string program = FindExecutable(program_.empty() ? Name() : program_);
  if (program.empty()) return answer;
  std::vector<std::string> argv = Arguments(request);
  argv.insert(argv.begin(), program);
  std::string out;
  int status = 0;
  switch (RunProgram(argv, request, out, status)) {
    case TRun::kNotStarted:
      return answer;
    case TRun::kCalledOff:
      answer.outcome = TSaveFileOutcome::kCancelled;
      return answer;
    case TRun::kExited:
      break;
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  if (status == 0 && !out.empty() && out[0] == '/' && out.find('\n') == std::string::npos) {
    answer.outcome = TSaveFileOutcome::kChosen;
    answer.path = WithDefaultExtension(out, request.default_extension);
  } else if (status == 1 || (status == 0 && out.empty())) {
    answer.outcome = TSaveFileOutcome::kCancelled;
  } else {
    answer.outcome = TSaveFileOutcome::kFailed;
    answer.message = std::string(Name()) + " ended with " + std::to_string(status) + " and no usable file name";
  }
  return answer;
}

std::unique_ptr<TSaveFileChooser> NewZenityChooser(const std::string& program) {
  return std::make_unique<TProgramChooser>(TChooserProgram::kZenity, program);
}

std::unique_ptr<TSaveFileChooser> NewKDialogChooser(const std::string& program) {
  return std::make_unique<TProgramChooser>(TChooserProgram::kKDialog, program);
}

}  // namespace kav::dialogs
