#include "platform/window/sdl/SdlBoxProgram.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/window/WinBoxText.h"
#include "platform/window/WinTerminate.h"

namespace kav::win {

namespace {

std::mutex g_program_lock;
std::string g_program;        // set by a test
bool g_self_shows = false;    // the program called RunIfBoxProgram

// `s` cut to at most `limit` bytes at a character, "…" ending a cut text.
std::string Capped(const std::string& s, size_t limit) {
  if (s.size() <= limit) return s;
  static const char kEllipsis[] = "\xE2\x80\xA6";
  size_t end = limit - (sizeof kEllipsis - 1);
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end) + kEllipsis;
}

bool ParseNumber(const char* s, int64_t low, int64_t high, int64_t& value) {
  if (!s || !*s) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s, &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

// SDL's own X box draws its text with this font set (SDL 2's X11 message
// box), made in the user's locale.
constexpr char kSdlBoxFont[] = "-*-*-medium-r-normal--*-120-*-*-*-*-*-*";
// How wide a character is taken to be when no such font is there (the box
// is then zenity's, whose usual font is narrower).
constexpr int32_t kGuessedCharWidth = 9;

// Measures text as SDL's X box draws it, through the X library SDL loads
// (looked up, not linked).
class TBoxFontMeasure {
 public:
  TBoxFontMeasure() {
    lib_ = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    if (!lib_ || !Get(open_, "XOpenDisplay") || !Get(close_, "XCloseDisplay") ||
        !Get(create_, "XCreateFontSet") || !Get(free_set_, "XFreeFontSet") ||
        !Get(free_list_, "XFreeStringList") || !Get(extents_, "Xutf8TextExtents") ||
        !Get(default_screen_, "XDefaultScreen") || !Get(display_width_, "XDisplayWidth"))
      return;
    display_ = open_(nullptr);
    if (!display_) return;
    char** missing = nullptr;
    int missing_count = 0;
    fonts_ = create_(display_, kSdlBoxFont, &missing, &missing_count, nullptr);
    if (missing) free_list_(missing);
  }
  ~TBoxFontMeasure() {
    if (fonts_) free_set_(display_, fonts_);
    if (display_) close_(display_);
    // The library stays: SDL loads it again for the box.
  }
  TBoxFontMeasure(const TBoxFontMeasure&) = delete;
  TBoxFontMeasure& operator=(const TBoxFontMeasure&) = delete;

  bool HasFont() const { return fonts_ != nullptr; }
  int32_t ScreenWidth() const { return display_ ? display_width_(display_, default_screen_(display_)) : 0; }
  int32_t Width(std::string_view s) const {
    XRectangle ink{}, logical{};
    extents_(fonts_, s.data(), int(s.size()), &ink, &logical);
    return logical.width;
  }

 private:
  template <typename F>
  bool Get(F& f, const char* name) {
    f = reinterpret_cast<F>(dlsym(lib_, name));
    return f != nullptr;
  }
  void* lib_ = nullptr;
  Display* display_ = nullptr;
  XFontSet fonts_ = nullptr;
  decltype(&XOpenDisplay) open_ = nullptr;
  decltype(&XCloseDisplay) close_ = nullptr;
  decltype(&XCreateFontSet) create_ = nullptr;
  decltype(&XFreeFontSet) free_set_ = nullptr;
  decltype(&XFreeStringList) free_list_ = nullptr;
  decltype(&Xutf8TextExtents) extents_ = nullptr;
  decltype(&XDefaultScreen) default_screen_ = nullptr;
  decltype(&XDisplayWidth) display_width_ = nullptr;
};

// The text in lines that fit a screen `screen_width` pixels wide (0: the X
// screen's width), measured as SDL's X box measures it (in the user's
// locale, as SDL makes its font set).
std::string FittedText(const std::string& request_text, int32_t screen_width) {
  const std::string before = std::setlocale(LC_ALL, nullptr) ? std::setlocale(LC_ALL, nullptr) : "C";
  std::setlocale(LC_ALL, "");
  std::string text;
  {
    TBoxFontMeasure font;
    int32_t screen = screen_width > 0 ? screen_width : font.ScreenWidth();
    if (screen <= 0) screen = 1024;
    const int32_t width = BoxTextWidth(screen);
    if (font.HasFont()) {
      text = WrapBoxText(request_text, width, [&font](std::string_view s) { return font.Width(s); });
    } else {
      text = WrapBoxText(request_text, width, [](std::string_view s) {
        int32_t n = 0;
        for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        return n * kGuessedCharWidth;
      });
    }
  }
  std::setlocale(LC_ALL, before.c_str());
  return text;
}

[[noreturn]] void Answer(bool shown, int code) {
  const char b = shown ? '1' : '0';
  [[maybe_unused]] ssize_t n = write(kBoxAnswerFd, &b, 1);
  // No exit handlers: nothing of this short process needs them.
  _exit(code);
}

[[noreturn]] void RunBox(int argc, char** argv) {
  TBoxRequest request;
  if (!ParseBoxProgramArguments(argc, argv, request)) {
    std::fprintf(stderr, "%s: not a message box request\n", argv[0]);
    Answer(false, 2);
  }
  // SDL draws its X box in a child process of its own, and runs zenity in
  // another: each dies with this process, which dies with the player.
  TChildDiesWithParent children;
  // SDL's video as the player has it, so the box is centred on the first
  // display (without it, on the whole X screen, across monitors). Its
  // set-up would wait without a limit for a session bus that does not
  // answer, and the box needs none.
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
  SDL_SetHint(SDL_HINT_VIDEODRIVER, request.driver.c_str());
  SDL_Rect first{};
  const bool video = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0 && SDL_GetDisplayBounds(0, &first) == 0;
  const std::string text = FittedText(request.text, video ? first.w : 0);
  const bool shown = SDL_ShowSimpleMessageBox(request.kind, request.title.c_str(), text.c_str(), nullptr) == 0;
  Answer(shown, 0);
}

}  // namespace

std::vector<std::string> BoxProgramArguments(const std::string& program, const TBoxRequest& request) {
  return {program,
          kBoxProgramArgument,
          std::to_string(request.kind),
          request.driver.substr(0, kMaxBoxDriverBytes),
          Capped(request.title, kMaxBoxTitleBytes),
          Capped(request.text, kMaxBoxTextBytes)};
}

bool ParseBoxProgramArguments(int argc, const char* const* argv, TBoxRequest& request) {
  if (argc != 6 || std::strcmp(argv[1], kBoxProgramArgument) != 0) return false;
  int64_t kind = 0;
  if (!ParseNumber(argv[2], 0, UINT32_MAX, kind) || std::strlen(argv[3]) > kMaxBoxDriverBytes) return false;
  if (kind != SDL_MESSAGEBOX_ERROR && kind != SDL_MESSAGEBOX_WARNING && kind != SDL_MESSAGEBOX_INFORMATION)
    return false;
  request.kind = uint32_t(kind);
  request.driver = argv[3];
  request.title = Capped(argv[4], kMaxBoxTitleBytes);
  request.text = Capped(argv[5], kMaxBoxTextBytes);
  return true;
}

int RunIfBoxProgram(int argc, char** argv) {
  if (argc >= 2 && argv[1] && std::strcmp(argv[1], kBoxProgramArgument) == 0) RunBox(argc, argv);
  std::lock_guard<std::mutex> lock(g_program_lock);
  g_self_shows = true;
  return -1;
}

std::string BoxProgram() {
  std::lock_guard<std::mutex> lock(g_program_lock);
  if (!g_program.empty()) return g_program;
  // The running program's own file, whatever its name and folder (and
  // even when it has been replaced on disk since it started).
  return g_self_shows ? std::string("/proc/self/exe") : std::string();
}

void SetBoxProgram(std::string path) {
  std::lock_guard<std::mutex> lock(g_program_lock);
  g_program = std::move(path);
}

TBoxProcess::~TBoxProcess() {
  if (pid_ >= 0) kill(pid_, SIGKILL);  // still running: given up
  End();
}

bool TBoxProcess::Start(const std::vector<std::string>& args) {
  if (pid_ >= 0 || args.empty() || args[0].empty()) return false;
  // Everything the child needs, prepared before the fork.
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  char* const* const arguments = argv.data();
  const char* const path = args[0].c_str();
  char** const environment = environ;
  sigset_t no_signals;
  sigemptyset(&no_signals);
  struct sigaction by_default {};
  by_default.sa_handler = SIG_DFL;
  sigemptyset(&by_default.sa_mask);
  // Our handlers of SIGTERM and SIGINT must not run in the child before
  // its exec (an ignored signal stays ignored, as for any child).
  bool handled[2] = {false, false};
  const int kSignals[2] = {SIGTERM, SIGINT};
  for (int i = 0; i < 2; ++i) {
    struct sigaction now {};
    handled[i] = sigaction(kSignals[i], nullptr, &now) == 0 && now.sa_handler != SIG_IGN && now.sa_handler != SIG_DFL;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to the exec.
    DieWithParentAfterFork(parent);
    for (int i = 0; i < 2; ++i)
      if (handled[i]) sigaction(kSignals[i], &by_default, nullptr);
    sigprocmask(SIG_SETMASK, &no_signals, nullptr);
    if (fds[1] == kBoxAnswerFd) {
      if (fcntl(fds[1], F_SETFD, 0) != 0) _exit(127);
    } else if (dup2(fds[1], kBoxAnswerFd) < 0) {
      _exit(127);
    }
    close_range(kBoxAnswerFd + 1, ~0U, 0);  // the rest are close-on-exec anyway where it fails
    execve(path, arguments, environment);
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return false;
  }
  pid_ = pid;
  answer_fd_ = fds[0];
  return true;
}

int TBoxProcess::ReadAnswer() {
  char b = 0;
  const ssize_t n = read(answer_fd_, &b, 1);
  if (n < 0 && errno == EINTR) return -1;
  return n == 1 && b == '1' ? 1 : 0;
}

bool TBoxProcess::End(int ms) {
  if (answer_fd_ >= 0) {
    close(answer_fd_);
    answer_fd_ = -1;
  }
  if (pid_ < 0) return true;
  bool reaped = ReapWithin(pid_, ms);
  if (!reaped) {
    kill(pid_, SIGKILL);
    reaped = ReapWithin(pid_, ms);
  }
  pid_ = -1;
  return reaped;
}

bool ReapWithin(pid_t pid, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  useconds_t pause = 500;
  for (;;) {
    const pid_t r = waitpid(pid, nullptr, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return true;
    if (r < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= end) return false;
    usleep(pause);
    pause = std::min<useconds_t>(pause * 2, 20000);
  }
}

}  // namespace kav::win
