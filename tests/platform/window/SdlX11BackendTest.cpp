// The SDL backend on a real X server without a window manager: X errors
// about windows that are gone, waking the GUI thread from other threads
// while windows come and go, the keyboard focus after a dialog closes, and
// modal windows (the layer's own and another program's) kept above the
// windows they disable.
// Runs under Xvfb through the platform_window_x11_backend test
// (KAV_X11_BACKEND_TEST set); skipped elsewhere.
#include <gtest/gtest.h>

#include <SDL_syswm.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/window/WinApi.h"
#include "platform/window/sdl/SdlWindowBackend.h"
#include "platform/window/sdl/SdlX11.h"

extern char** environ;

namespace kav::win {
namespace {

// The X library's error event, as laid out in Xlib.h (whose macros clash
// with the window layer's names).
struct TXErrorEvent {
  int type;
  void* display;
  unsigned long resourceid;
  unsigned long serial;
  unsigned char error_code, request_code, minor_code;
};
using TXErrorHandler = int (*)(void*, TXErrorEvent*);
constexpr int kBadValue = 2;

template <class F>
F X(const char* name) {
  return reinterpret_cast<F>(X11Symbol(name));
}

std::atomic<int> g_seen{-1};
int RecordError(void*, TXErrorEvent* e) {
  g_seen = e->error_code;
  return 0;
}

unsigned long XWindowOf(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return 0;
  return info.info.x11.window;
}

// The window that has the keyboard focus (0: none).
unsigned long FocusWindow() {
  auto get = X<int (*)(void*, unsigned long*, int*)>("XGetInputFocus");
  unsigned long focus = 0;
  int revert = 0;
  if (get) get(SdlX11Display(), &focus, &revert);
  return focus;
}

// True when top-level X window `a` is stacked above `b`.
bool StackedAbove(unsigned long a, unsigned long b) {
  auto query = X<int (*)(void*, unsigned long, unsigned long*, unsigned long*, unsigned long**, unsigned*)>("XQueryTree");
  auto root = X<unsigned long (*)(void*)>("XDefaultRootWindow");
  auto free_x = X<int (*)(void*)>("XFree");
  void* display = SdlX11Display();
  unsigned long r = 0, up = 0, *children = nullptr;
  unsigned count = 0;
  if (!query || !root || !free_x || !query(display, root(display), &r, &up, &children, &count)) return false;
  int at_a = -1, at_b = -1;
  for (unsigned i = 0; i < count; ++i) {  // bottom to top
    if (children[i] == a) at_a = int(i);
    if (children[i] == b) at_b = int(i);
  }
  if (children) free_x(children);
  return at_a >= 0 && at_b >= 0 && at_a > at_b;
}

// The window `w` is transient for (WM_TRANSIENT_FOR), 0 for none.
unsigned long TransientFor(unsigned long w) {
  auto get = X<int (*)(void*, unsigned long, unsigned long*)>("XGetTransientForHint");
  unsigned long owner = 0;
  return get && get(SdlX11Display(), w, &owner) ? owner : 0;
}

// Polls the backend until `done`, for up to 30 s.
bool PollUntil(TSdlWindowBackend* b, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    b->Wait(20);
  }
  return true;
}

// Another program on the X server: a connection of its own.
struct TOtherClient {
  void* display = nullptr;
  int (*sync)(void*, int) = X<int (*)(void*, int)>("XSync");
  TOtherClient() {
    if (auto open = X<void* (*)(const char*)>("XOpenDisplay")) display = open(nullptr);
  }
  ~TOtherClient() {
    if (auto close_display = X<int (*)(void*)>("XCloseDisplay"); close_display && display) close_display(display);
  }
  // Gives the focus to `w` and raises it, as a window manager does on a click.
  void Click(unsigned long w) {
    X<int (*)(void*, unsigned long)>("XRaiseWindow")(display, w);
    X<int (*)(void*, unsigned long, int, unsigned long)>("XSetInputFocus")(display, w, 2 /* RevertToParent */, 0);
    sync(display, 0);
  }
  // A mapped window whose _NET_WM_PID is `pid`.
  unsigned long WindowOf(pid_t pid) {
    auto root = X<unsigned long (*)(void*)>("XDefaultRootWindow");
    auto create = X<unsigned long (*)(void*, unsigned long, int, int, unsigned, unsigned, unsigned, unsigned long,
                                      unsigned long)>("XCreateSimpleWindow");
    auto intern = X<unsigned long (*)(void*, const char*, int)>("XInternAtom");
    auto change = X<int (*)(void*, unsigned long, unsigned long, unsigned long, int, int, const unsigned char*, int)>(
        "XChangeProperty");
    const unsigned long w = create(display, root(display), 60, 60, 120, 80, 0, 0, 0);
    const long value = pid;  // 32-bit items travel as longs
    change(display, w, intern(display, "_NET_WM_PID", 0), 6 /* XA_CARDINAL */, 32, 0 /* PropModeReplace */,
           reinterpret_cast<const unsigned char*>(&value), 1);
    X<int (*)(void*, unsigned long)>("XMapWindow")(display, w);
    sync(display, 0);
    return w;
  }
};

class SdlX11Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("KAV_X11_BACKEND_TEST")) GTEST_SKIP() << "runs under Xvfb (platform_window_x11_backend)";
  }
  // A window shown at once; one with an owner is made hidden and then
  // shown, as a dialog is.
  HWND Shown(const char16_t* title, HWND owner = 0) {
    TWndClass wc;
    wc.class_name = u"SdlX11Test";
    RegisterClass(wc);
    HWND h = CreateWindowEx(0, u"SdlX11Test", title, WS_OVERLAPPEDWINDOW | (owner ? 0u : uint32_t(WS_VISIBLE)), 20, 20, 200, 150,
                            owner, 0, nullptr);
    if (owner) ShowWindow(h, SW_SHOW);
    return h;
  }
};

// A request about a window that was destroyed meanwhile is answered with
// BadWindow: that passes, where the X library's handler ended the process.
// Every other error still reaches the handler that was there before, and
// that handler is back once the backend is gone.
TEST_F(SdlX11Backend, ErrorsAboutGoneWindowsPassOthersReachTheHandlerBefore) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
  auto set = X<TXErrorHandler (*)(TXErrorHandler)>("XSetErrorHandler");
  auto map = X<int (*)(void*, unsigned long)>("XMapWindow");
  auto focus = X<int (*)(void*, unsigned long, int, unsigned long)>("XSetInputFocus");
  auto root = X<unsigned long (*)(void*)>("XDefaultRootWindow");
  auto sync = X<int (*)(void*, int)>("XSync");
  ASSERT_TRUE(set && map && focus && root && sync) << "not SDL's X11 driver";
  const TXErrorHandler sdls = set(&RecordError);
  {
    TSdlWindowBackend backend;
    void* display = SdlX11Display();
    SDL_Window* w = SDL_CreateWindow("gone", 0, 0, 50, 50, SDL_WINDOW_HIDDEN);
    const unsigned long gone = XWindowOf(w);
    ASSERT_NE(gone, 0u);
    SDL_DestroyWindow(w);
    g_seen = -1;
    const int passed = TX11GoneWindowFilter::Passed();
    map(display, gone);
    sync(display, 0);
    EXPECT_EQ(g_seen, -1) << "the error about the gone window went on (" << int(g_seen) << ")";
    EXPECT_EQ(TX11GoneWindowFilter::Passed(), passed + 1);
    focus(display, root(display), 77, 0);  // no such revert mode: BadValue
    sync(display, 0);
    EXPECT_EQ(g_seen, kBadValue);
  }
  EXPECT_EQ(set(sdls), &RecordError);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// Other threads push SDL events and wake the GUI thread all the while
// dialogs' windows are made, shown and destroyed: no wake-up is aimed at a
// window (SDL's own wait aimed it at the window made last, which could be
// destroyed before it arrived), and each wake ends the wait.
TEST_F(SdlX11Backend, WakesFromOtherThreadsWhileWindowsComeAndGo) {
  auto sdl = std::make_unique<TSdlWindowBackend>();
  TSdlWindowBackend* b = sdl.get();
  std::function<void()> waker = sdl->Waker();
  InitWindowSystem(std::move(sdl));
  HWND owner = Shown(u"owner");
  std::atomic<bool> stop{false};
  std::thread pusher([&] {
    while (!stop) {
      SDL_Event e{};
      e.type = SDL_USEREVENT;
      SDL_PushEvent(&e);
      waker();
      usleep(200);
    }
  });
  const int passed = TX11GoneWindowFilter::Passed();
  TMsg m;
  for (int i = 0; i < 150; ++i) {
    HWND dialog = Shown(u"dialog");
    SetActiveWindow(dialog);
    std::thread([dialog] { PostMessage(dialog, WM_USER, 0, 0); }).join();
    bool got = false;
    while (!got && GetMessage(&m, 0, 0, 0)) {
      got = m.message == WM_USER;
      DispatchMessage(m);
    }
    ASSERT_TRUE(got) << "round " << i;
    DestroyWindow(dialog);
    SetActiveWindow(owner);
  }
  stop = true;
  pusher.join();
  EXPECT_EQ(TX11GoneWindowFilter::Passed(), passed) << "X errors about gone windows came";
  // A wake that came before the wait ends it at once (a message posted
  // after the queue was looked at, before the wait began).
  b->Poll();
  auto begun = std::chrono::steady_clock::now();
  b->Wake();
  b->Wait(30000);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
  // A wait with nothing to do ends on a post from another thread.
  std::thread late([owner] {
    usleep(100000);
    PostMessage(owner, WM_USER + 1, 0, 0);
  });
  const auto start = std::chrono::steady_clock::now();
  bool got = false;
  while (!got && GetMessage(&m, 0, 0, 0)) {
    got = m.message == WM_USER + 1;
    DispatchMessage(m);
  }
  late.join();
  EXPECT_TRUE(got);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  DestroyWindow(owner);
  DoneWindowSystem();
}

// Without a window manager the keyboard focus goes with a destroyed window.
// The owner activated after its dialog closed takes it back, so keys reach
// it again; a window of another program that has the focus keeps it.
TEST_F(SdlX11Backend, AnActivatedWindowTakesTheFocusBackWhenNoOtherProgramHasIt) {
  auto sdl = std::make_unique<TSdlWindowBackend>();
  TSdlWindowBackend* b = sdl.get();
  InitWindowSystem(std::move(sdl));
  HWND owner = Shown(u"owner");
  HWND dialog = Shown(u"dialog");
  SetActiveWindow(dialog);
  b->Poll();
  EXPECT_EQ(FocusWindow(), XWindowOf(b->SdlWindowOf(dialog)));
  DestroyWindow(dialog);
  SetActiveWindow(owner);
  b->Poll();
  EXPECT_EQ(FocusWindow(), XWindowOf(b->SdlWindowOf(owner)));

  // Another program's window takes the focus; activating ours leaves it.
  auto open = X<void* (*)(const char*)>("XOpenDisplay");
  auto close_display = X<int (*)(void*)>("XCloseDisplay");
  auto root = X<unsigned long (*)(void*)>("XDefaultRootWindow");
  auto create = X<unsigned long (*)(void*, unsigned long, int, int, unsigned, unsigned, unsigned, unsigned long,
                                    unsigned long)>("XCreateSimpleWindow");
  auto map = X<int (*)(void*, unsigned long)>("XMapWindow");
  auto focus = X<int (*)(void*, unsigned long, int, unsigned long)>("XSetInputFocus");
  auto sync = X<int (*)(void*, int)>("XSync");
  ASSERT_TRUE(open && close_display && root && create && map && focus && sync);
  void* other = open(nullptr);
  ASSERT_NE(other, nullptr);
  const unsigned long theirs = create(other, root(other), 300, 300, 50, 50, 0, 0, 0);
  map(other, theirs);
  sync(other, 0);
  focus(other, theirs, 2 /* RevertToParent */, 0);
  sync(other, 0);
  for (int i = 0; i < 20; ++i) {  // SDL learns that its window lost the focus
    b->Poll();
    usleep(10000);
  }
  SetActiveWindow(0);
  SetActiveWindow(owner);
  b->Poll();
  EXPECT_EQ(FocusWindow(), theirs);
  close_display(other);
  DestroyWindow(owner);
  DoneWindowSystem();
}

// The focus moved to a window under a chain of modal windows (the player's
// window under the print dialog under the Printer dialog), the window raised
// over them as a click-to-focus window manager does: every window of the
// chain comes back above it, in order, and the last takes the focus. Then
// another program's dialog (a file chooser in a process group of its own)
// is modal for the last: once it shows it is made transient for that
// window and takes the focus, and a click on the first window brings it
// back above with the focus.
TEST_F(SdlX11Backend, TheModalWindowsAboveAWindowThatGetsTheFocusComeBackAboveAndTakeIt) {
  // As in the player: SDL would otherwise make a window's X window anew
  // for an OpenGL texture behind its surface, without its owner.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  auto sdl = std::make_unique<TSdlWindowBackend>();
  TSdlWindowBackend* b = sdl.get();
  InitWindowSystem(std::move(sdl));
  TOtherClient other;
  ASSERT_NE(other.display, nullptr);
  HWND player = Shown(u"player");
  HWND print = Shown(u"print", player);
  HWND printer = Shown(u"printer", print);
  EnableWindow(player, false);
  EnableWindow(print, false);
  SetActiveWindow(printer);
  b->Poll();
  const unsigned long xplayer = XWindowOf(b->SdlWindowOf(player)), xprint = XWindowOf(b->SdlWindowOf(print)),
                      xprinter = XWindowOf(b->SdlWindowOf(printer));
  ASSERT_TRUE(xplayer && xprint && xprinter);
  ASSERT_TRUE(PollUntil(b, [&] { return FocusWindow() == xprinter; }));
  EXPECT_EQ(TransientFor(xprinter), xprint);

  other.Click(xplayer);
  EXPECT_TRUE(PollUntil(b, [&] { return FocusWindow() == xprinter && GetActiveWindow() == printer; }))
      << "the focus stayed at " << FocusWindow();
  EXPECT_TRUE(StackedAbove(xprint, xplayer));
  EXPECT_TRUE(StackedAbove(xprinter, xprint));

  // A chooser over the Printer dialog: a process in a group of its own
  // whose window is another client's.
  EnableWindow(printer, false);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t chooser = 0;
  char sleep_name[] = "sleep", seconds[] = "120";
  char* argv[] = {sleep_name, seconds, nullptr};
  ASSERT_EQ(posix_spawnp(&chooser, "sleep", nullptr, &attr, argv, environ), 0);
  posix_spawnattr_destroy(&attr);
  b->ForeignModal(printer, chooser);
  const unsigned long xchooser = other.WindowOf(chooser);
  EXPECT_TRUE(PollUntil(b, [&] { return TransientFor(xchooser) == xprinter && FocusWindow() == xchooser; }))
      << "transient for " << TransientFor(xchooser) << ", the focus at " << FocusWindow();
  other.Click(xplayer);
  EXPECT_TRUE(PollUntil(b, [&] { return FocusWindow() == xchooser; })) << "the focus stayed at " << FocusWindow();
  EXPECT_TRUE(StackedAbove(xchooser, xprinter));
  EXPECT_TRUE(StackedAbove(xprinter, xprint));
  EXPECT_TRUE(StackedAbove(xprint, xplayer));
  // Once it ended, a click on the Printer dialog leaves the focus there.
  b->ForeignModal(printer, 0);
  kill(chooser, SIGKILL);
  waitpid(chooser, nullptr, 0);
  EnableWindow(printer, true);
  other.Click(xprinter);
  EXPECT_TRUE(PollUntil(b, [&] { return GetActiveWindow() == printer; }));
  EXPECT_EQ(FocusWindow(), xprinter);
  DestroyWindow(player);
  DoneWindowSystem();
}

}  // namespace
}  // namespace kav::win
