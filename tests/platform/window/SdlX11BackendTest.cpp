// The SDL backend on a real X server without a window manager: X errors
// about windows that are gone, waking the GUI thread from other threads
// while windows come and go, and the keyboard focus after a dialog closes.
// Runs under Xvfb through the platform_window_x11_backend test
// (KAV_X11_BACKEND_TEST set); skipped elsewhere.
#include <gtest/gtest.h>

#include <SDL_syswm.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/window/WinApi.h"
#include "platform/window/sdl/SdlWindowBackend.h"
#include "platform/window/sdl/SdlX11.h"

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

class SdlX11Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("KAV_X11_BACKEND_TEST")) GTEST_SKIP() << "runs under Xvfb (platform_window_x11_backend)";
  }
  HWND Shown(const char16_t* title) {
    TWndClass wc;
    wc.class_name = u"SdlX11Test";
    RegisterClass(wc);
    return CreateWindowEx(0, u"SdlX11Test", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200, 150, 0, 0, nullptr);
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

}  // namespace
}  // namespace kav::win
