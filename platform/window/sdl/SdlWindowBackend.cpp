#include "platform/window/sdl/SdlWindowBackend.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include <SDL_syswm.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpLocks.h"
#include "platform/window/WinDialog.h"
#include "platform/window/sdl/SdlBoxProgram.h"
#include "platform/window/sdl/SdlX11.h"
#include "platform/window/sdl/SdlX11BoxTitle.h"
#include "platform/window/WinTerminate.h"

namespace kav::win {

namespace {

// Marks a window and every window inside it for repainting.
void InvalidateTree(HWND h) {
  InvalidateRect(h, nullptr, false);
  for (HWND c = FindWindowExA(h, 0, nullptr, nullptr); c; c = FindWindowExA(h, c, nullptr, nullptr))
    InvalidateTree(c);
}

TRect OuterOf(const TTopLevelState& s) {
  TRect in = NonClientInsets(s.style, s.ex_style);
  return TRect{s.client.Left - in.Left, s.client.Top - in.Top, s.client.Right + in.Right, s.client.Bottom + in.Bottom};
}

SDL_SystemCursor SdlCursorOf(HCURSOR id) {
  switch (id) {
    case IDC_IBEAM: return SDL_SYSTEM_CURSOR_IBEAM;
    case IDC_WAIT: return SDL_SYSTEM_CURSOR_WAIT;
    case IDC_CROSS: return SDL_SYSTEM_CURSOR_CROSSHAIR;
    case IDC_APPSTARTING: return SDL_SYSTEM_CURSOR_WAITARROW;
    case IDC_SIZENWSE: return SDL_SYSTEM_CURSOR_SIZENWSE;
    case IDC_SIZENESW: return SDL_SYSTEM_CURSOR_SIZENESW;
    case IDC_SIZEWE: return SDL_SYSTEM_CURSOR_SIZEWE;
    case IDC_SIZENS: return SDL_SYSTEM_CURSOR_SIZENS;
    case IDC_SIZEALL: return SDL_SYSTEM_CURSOR_SIZEALL;
    case IDC_NO: return SDL_SYSTEM_CURSOR_NO;
    case IDC_HAND: return SDL_SYSTEM_CURSOR_HAND;
    default: return SDL_SYSTEM_CURSOR_ARROW;  // the arrow, the up arrow and help
  }
}

// The X connection broke (the server went away or killed the client). The
// X library ends the process from inside whatever X call noticed it, on any
// thread and with the worker threads still running; its own way, exit(),
// would destroy the program's statics under those threads. The process ends
// here at once instead, without running static destructors.
int OnXConnectionLost(void*) {
  static const char kText[] = "kavplay: the connection to the X server was lost\n";
  [[maybe_unused]] ssize_t n = write(2, kText, sizeof kText - 1);
  _exit(1);
}

using TSetIOErrorHandler = void* (*)(int (*)(void*));

// With SDL's X11 driver: installs OnXConnectionLost in the X library SDL
// loaded (looked up, not linked, so other drivers never load it).
void InstallXConnectionLostHandler() {
  if (auto set = reinterpret_cast<TSetIOErrorHandler>(X11Symbol("XSetIOErrorHandler"))) set(&OnXConnectionLost);
}

}  // namespace

struct TSdlWindowBackend::TWakeFd {
  const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ~TWakeFd() {
    if (fd >= 0) close(fd);
  }
  void Signal() const {
    const uint64_t one = 1;
    if (fd >= 0) (void)!write(fd, &one, sizeof one);
  }
  void Drain() const {
    uint64_t count = 0;
    if (fd >= 0) (void)!read(fd, &count, sizeof count);
  }
};

TSdlWindowBackend::TSdlWindowBackend() {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) throw EOSError(std::string("SDL video: ") + SDL_GetError(), 0);
  InstallXConnectionLostHandler();
  wake_event_ = SDL_RegisterEvents(1);
  wake_fd_ = std::make_shared<TWakeFd>();
  if (X11Symbol("XSetErrorHandler")) {
    x11_errors_ = std::make_unique<TX11GoneWindowFilter>();
    x11_display_ = SdlX11Display();
    x11_fd_ = wake_fd_->fd >= 0 ? X11ConnectionFd(x11_display_) : -1;
    if (x11_fd_ < 0) x11_display_ = nullptr;  // SDL's own wait, with its wake-up
  }
  SDL_StartTextInput();
  clipboard_ = std::make_unique<TSdlClipboard>();
}

TSdlWindowBackend::~TSdlWindowBackend() {
  SetTerminationWake(nullptr);  // no wake reaches a backend being destroyed
  for (auto& [h, m] : mirrors_)
    if (m.window) SDL_DestroyWindow(m.window);
  for (auto& [h, c] : cursors_) SDL_FreeCursor(c);
  for (auto& [h, c] : system_cursors_) SDL_FreeCursor(c);
  clipboard_.reset();
  SDL_StopTextInput();
  x11_errors_.reset();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

uint32_t TSdlWindowBackend::Now() { return GetElapsedMs(); }

void TSdlWindowBackend::Poll() {
  if (!foreign_.empty()) FindForeignModals();
  SDL_Event e;
  while (SDL_PollEvent(&e)) Deliver(e);
}

void TSdlWindowBackend::Wait(uint32_t ms) {
  if (!foreign_.empty()) {
    FindForeignModals();
    // Looked for again soon while it has not shown.
    for (const auto& [h, f] : foreign_)
      if (!f.xwindow) ms = std::min(ms, kForeignLookMs);
  }
  if (x11_fd_ >= 0) {
    WaitX11(ms);
    return;
  }
  SDL_Event e;
  const int timeout = ms == kInfinite || ms > INT_MAX ? -1 : static_cast<int>(ms);
  if (timeout < 0 ? SDL_WaitEvent(&e) : SDL_WaitEventTimeout(&e, timeout)) {
    Deliver(e);
    Poll();
  }
}

// SDL is only polled here, never waited in, so it never aims a wake-up at a
// window. The eventfd is emptied only when the wait ends on it: a wake that
// came before the wait, or while SDL was polled, ends the wait at once.
// Every waker pushes its SDL event before it writes: what SDL's poll before
// the wait missed, the one after it reads.
void TSdlWindowBackend::WaitX11(uint32_t ms) {
  const uint32_t start = Now();
  for (;;) {
    SDL_Event e;
    if (SDL_PollEvent(&e)) {  // reads what the X server sent
      Deliver(e);
      Poll();
      return;
    }
    int timeout = -1;
    if (ms != kInfinite) {
      const uint32_t spent = Now() - start;
      if (spent >= ms) return;
      timeout = static_cast<int>(std::min<uint32_t>(ms - spent, INT_MAX));
    }
    // Events another X call read meanwhile no longer show on the
    // descriptor: SDL reads them first.
    if (X11EventsHeld(x11_display_)) continue;
    pollfd fds[2] = {{x11_fd_, POLLIN, 0}, {wake_fd_->fd, POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    if (ready < 0 && errno != EINTR) return;
    if (ready == 0) return;  // the time is up
    if (fds[1].revents) {
      wake_fd_->Drain();
      Poll();
      return;
    }
    // The X server sent something: SDL reads it at the top, which may
    // make no event of it (the wait goes on).
  }
}

void TSdlWindowBackend::Wake() {
  if (x11_fd_ >= 0) {
    wake_fd_->Signal();
    return;
  }
  if (wake_event_ == static_cast<uint32_t>(-1)) return;
  SDL_Event e{};
  e.type = wake_event_;
  SDL_PushEvent(&e);  // safe from any thread; with drivers other than X11 it ends SDL's wait
}

std::function<void()> TSdlWindowBackend::Waker() const {
  if (x11_fd_ < 0) return [] {};  // SDL_PushEvent itself ends SDL's wait
  std::shared_ptr<TWakeFd> fd = wake_fd_;
  return [fd] { fd->Signal(); };
}

HWND TSdlWindowBackend::HwndOf(uint32_t sdl_window_id) const {
  for (const auto& [h, m] : mirrors_)
    if (m.window && SDL_GetWindowID(m.window) == sdl_window_id) return h;
  return 0;
}

std::vector<SDL_Window*> TSdlWindowBackend::ModalAbove(HWND owner, HWND& last) const {
  std::vector<SDL_Window*> chain;
  last = owner;
  // Bounded: owners never form a loop, but a chain needs no more.
  for (HWND at = owner; chain.size() < 32;) {
    HWND next = 0;
    for (const auto& [h, m] : mirrors_) {
      if (!m.window || m.applied.owner != at || !m.applied.visible || h == at) continue;
      if (IsWindowEnabled(h)) {
        next = h;
        break;
      }
      if (!next) next = h;
    }
    if (!next) break;
    chain.push_back(mirrors_.at(next).window);
    if (IsWindowEnabled(next)) break;
    last = at = next;
  }
  return chain;
}

bool TSdlWindowBackend::RaiseModalsAbove(HWND hwnd) {
  HWND last = hwnd;
  const std::vector<SDL_Window*> chain = ModalAbove(hwnd, last);
  auto it = foreign_.find(last);
  const unsigned long foreign = it == foreign_.end() ? 0 : it->second.xwindow;
  if (chain.empty() && !foreign) return false;
  // Without a window manager nothing else keeps them above: each is raised
  // above the one before, and the last takes the keys.
  SDL_Window* const near = SdlWindowOf(hwnd);
  for (size_t i = 0; i < chain.size(); ++i) {
    if (i + 1 < chain.size() || foreign) {
      RaiseX11Window(chain[i], X11WindowId(chain[i]));
      continue;
    }
    SDL_RaiseWindow(chain[i]);
    GiveX11InputFocus(chain[i]);
  }
  if (foreign) {
    RaiseX11Window(near, foreign);
    GiveX11InputFocus(near, foreign);
  }
  return true;
}

void TSdlWindowBackend::ForeignModal(HWND owner, int group) {
  const HWND top = GetTopLevel(owner);
  if (!top) return;
  if (group <= 0) {
    foreign_.erase(top);
    return;
  }
  foreign_[top] = TForeignModal{group, 0, 0};
  Wake();  // a Wait going on looks for it soon
}

void TSdlWindowBackend::FindForeignModals() {
  const uint32_t now = Now();
  for (auto& [owner, f] : foreign_) {
    if (f.xwindow || (f.looked && now - f.looked < kForeignLookMs)) continue;
    f.looked = now ? now : 1;
    SDL_Window* const window = SdlWindowOf(owner);
    if (!window || !(f.xwindow = X11WindowOfProcessGroup(window, f.group))) continue;
    // The program (zenity) may not say whose dialog it is: a window manager
    // learns it here, and the dialog takes the keys as it shows, as the
    // layer's own dialogs do.
    SetX11TransientFor(f.xwindow, window);
    GiveX11InputFocus(window, f.xwindow);
  }
}

SDL_Window* TSdlWindowBackend::SdlWindowOf(HWND hwnd) const {
  auto it = mirrors_.find(hwnd);
  return it == mirrors_.end() ? nullptr : it->second.window;
}

std::string TSdlWindowBackend::DesktopWindowId(HWND hwnd) {
  SDL_Window* win = SdlWindowOf(hwnd);
  if (!win) return {};
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(win, &info) || info.subsystem != SDL_SYSWM_X11) return {};
  char text[32];
  std::snprintf(text, sizeof text, "x11:%lx", static_cast<unsigned long>(info.info.x11.window));
  return text;
}

TPoint TSdlWindowBackend::ToScreen(HWND hwnd, int32_t x, int32_t y) const {
  TPoint p{x, y};
  if (hwnd) ClientToScreen(hwnd, &p);
  return p;
}

void TSdlWindowBackend::TopLevelChanged(const TTopLevelState& s) {
  TMirror& m = mirrors_[s.hwnd];
  if (!s.visible) {
    if (m.window) SDL_HideWindow(m.window);
    m.applied = s;
    return;
  }
  const std::string title = WideToSystemUTF8(s.text);
  if (!m.window) {
    uint32_t flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | ExtraWindowFlags;
    if ((s.style & WS_CAPTION) != WS_CAPTION) flags |= SDL_WINDOW_BORDERLESS;
    m.window = SDL_CreateWindow(title.c_str(), s.client.Left, s.client.Top, std::max(s.client.Width(), 1),
                                std::max(s.client.Height(), 1), flags);
    if (!m.window) return;  // no window: the layer goes on without one
    m.applied = TTopLevelState{};
  }
  if (m.applied.text != s.text) {
    SDL_SetWindowTitle(m.window, title.c_str());
    SetX11WindowTitle(m.window, title);  // SDL's own X11 title is wrong beyond ASCII in the "C" locale
  }
  if (m.applied.client != s.client && !s.minimized) {
    SDL_SetWindowPosition(m.window, s.client.Left, s.client.Top);
    SDL_SetWindowSize(m.window, std::max(s.client.Width(), 1), std::max(s.client.Height(), 1));
  }
  // A borderless window covering a whole display is the exclusive mode:
  // desktop full screen.
  bool full = false;
  if ((s.style & WS_CAPTION) != WS_CAPTION) {
    for (const TMonitorArea& mon : Monitors())
      if (OuterOf(s) == mon.bounds) full = true;
  }
  SDL_SetWindowFullscreen(m.window, full ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  // An owned window (a dialog, a box) is transient for its owner's window,
  // set before it maps: the window manager keeps it above the owner.
  if (s.owner != m.applied.owner)
    if (SDL_Window* owner = SdlWindowOf(s.owner); owner && owner != m.window) SDL_SetWindowModalFor(m.window, owner);
  if (!m.applied.visible || !(SDL_GetWindowFlags(m.window) & SDL_WINDOW_SHOWN)) {
    SDL_ShowWindow(m.window);
    // A cursor hidden or set before the window existed is not on it yet.
    SDL_SetCursor(nullptr);
  }
  if (s.minimized && !m.applied.minimized) SDL_MinimizeWindow(m.window);
  if (!s.minimized && m.applied.minimized) SDL_RestoreWindow(m.window);
  if (s.active && !m.applied.active) {
    SDL_RaiseWindow(m.window);
    // Raising moves no keyboard focus. Without a window manager none is
    // given back when a dialog that had it closes, so keys would reach no
    // window: the activated window takes it.
    GiveX11InputFocus(m.window);
  }
  m.applied = s;
}

void TSdlWindowBackend::TopLevelDestroyed(HWND hwnd) {
  auto it = mirrors_.find(hwnd);
  if (it == mirrors_.end()) return;
  if (it->second.window) SDL_DestroyWindow(it->second.window);
  mirrors_.erase(it);
  foreign_.erase(hwnd);
}

void TSdlWindowBackend::Deliver(const SDL_Event& e) {
  if (box_up_ && BoxBlocks(e)) return;
  switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      if (uint16_t vk = VirtualKey(e.key.keysym.scancode, e.key.keysym.sym)) {
        InjectKey(vk, e.type == SDL_KEYDOWN, static_cast<uint32_t>(e.key.keysym.scancode), e.key.repeat != 0);
        // SDL's text input carries no control characters: Tab, Enter, Esc
        // and Backspace get their character here, as a key translation
        // gives them on the system the program was written for.
        const bool ctrl_alt = (e.key.keysym.mod & (KMOD_CTRL | KMOD_ALT)) != 0;
        if (e.type == SDL_KEYDOWN && !ctrl_alt &&
            (vk == VK_TAB || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_BACK))
          InjectChar(vk == VK_RETURN ? u'\r' : char16_t(vk));
      }
      break;
    case SDL_TEXTINPUT: {
      std::u16string text = SystemUTF8ToWide(e.text.text);
      for (char16_t c : text) InjectChar(c);
      break;
    }
    case SDL_MOUSEMOTION: {
      TPoint p = ToScreen(HwndOf(e.motion.windowID), e.motion.x, e.motion.y);
      InjectMouseMove(p.X, p.Y);
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      const int32_t button = e.button.button == SDL_BUTTON_LEFT    ? 1
                             : e.button.button == SDL_BUTTON_RIGHT ? 2
                             : e.button.button == SDL_BUTTON_MIDDLE ? 3
                                                                    : 0;
      TPoint p = ToScreen(HwndOf(e.button.windowID), e.button.x, e.button.y);
      if (button) InjectMouseButton(button, e.type == SDL_MOUSEBUTTONDOWN, p.X, p.Y);
      break;
    }
    case SDL_MOUSEWHEEL: {
      TPoint p;
      GetCursorPos(&p);
      const int32_t steps = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      if (steps) InjectWheel(steps * 120, p.X, p.Y);
      break;
    }
    case SDL_WINDOWEVENT: {
      const HWND h = HwndOf(e.window.windowID);
      if (!h) break;
      TMirror& m = mirrors_[h];
      switch (e.window.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          // A window disabled under a modal window of its own (a click on
          // it) does not take the focus: the modal windows above it are
          // raised, however many, and the last takes it, as Windows does,
          // so that none hides behind it.
          if (!IsWindowEnabled(h) && RaiseModalsAbove(h)) break;
          InjectActivate(h, true);
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST: InjectActivate(h, false); break;
        case SDL_WINDOWEVENT_CLOSE: InjectClose(h); break;
        case SDL_WINDOWEVENT_EXPOSED:
          // The window system lost what the window showed (mapped again,
          // uncovered). Its surface holds every picture put into it since
          // SDL last made it, the form's and those a device presented into
          // it: they go out again at once, and the form repaints. SDL makes
          // the surface anew (empty) on each size change, which a
          // full-screen window gets on every map: the frame a device last
          // presented is put into it first (OnSurfaceLost), since a still
          // slide presents no other.
          // An OpenGL window has no such surface (asking for one would put
          // an empty picture over what GL drew): there the windows inside
          // repaint too, and the device panels among them draw their frame
          // again.
          if (m.window && (SDL_GetWindowFlags(m.window) & SDL_WINDOW_OPENGL)) {
            InvalidateTree(h);
            break;
          }
          if (m.window && (SDL_GetWindowFlags(m.window) & SDL_WINDOW_SHOWN) && SDL_GetWindowSurface(m.window)) {
            if (OnSurfaceLost) OnSurfaceLost(m.window);
            SDL_UpdateWindowSurface(m.window);
          }
          InvalidateRect(h, nullptr, false);
          break;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_ENTER: SDL_SetCursor(nullptr); break;  // the cursor as set, on this window too
        case SDL_WINDOWEVENT_MOVED:
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
          int x, y, w, hgt;
          SDL_GetWindowPosition(m.window, &x, &y);
          SDL_GetWindowSize(m.window, &w, &hgt);
          TTopLevelState s = m.applied;
          s.client = TRect{x, y, x + w, y + hgt};
          // A new size empties the window's surface (see the expose).
          if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && OnSurfaceLost && m.window &&
              !(SDL_GetWindowFlags(m.window) & SDL_WINDOW_OPENGL) && (SDL_GetWindowFlags(m.window) & SDL_WINDOW_SHOWN))
            OnSurfaceLost(m.window);
          if (s.client == m.applied.client) break;
          m.applied.client = s.client;  // no echo back to SDL
          InjectBounds(h, OuterOf(s));
          break;
        }
        default: break;
      }
      break;
    }
    case SDL_DISPLAYEVENT:
      NotifyDisplayChange();
      break;
    case SDL_SYSWMEVENT:
    case SDL_CLIPBOARDUPDATE:
      break;  // the clipboard's event watch has seen them
    case SDL_QUIT: {
      // The last window's close button, SIGINT or SIGTERM: every top-level
      // window is asked to close as by its close button, so the program's
      // own closing rules run; with no window yet, the message loop ends.
      std::vector<HWND> open;
      for (const auto& [h, m] : mirrors_)
        if (m.window) open.push_back(h);
      for (HWND h : open) InjectClose(h);
      if (open.empty()) PostQuitMessage(0);
      break;
    }
    default:
      // The wake event and everything else: nothing to deliver here.
      if (e.type != wake_event_ && OnOtherEvent) OnOtherEvent(e.type);
      break;
  }
}

// What a message box keeps from the windows while it is up: input,
// activation (the owner would raise itself over the box) and close
// requests; exposes, size changes and frames go on. A window of ours that
// gets the focus (a click on it under a click-to-focus window manager)
// gives it to the box instead.
bool TSdlWindowBackend::BoxBlocks(const SDL_Event& e) {
  if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) box_wants_focus_ = true;
  switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
    case SDL_TEXTINPUT:
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
    case SDL_MOUSEWHEEL:
    case SDL_QUIT:
      return true;
    case SDL_WINDOWEVENT:
      return e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED || e.window.event == SDL_WINDOWEVENT_FOCUS_LOST ||
             e.window.event == SDL_WINDOWEVENT_CLOSE;
    default:
      return false;
  }
}

uint16_t TSdlWindowBackend::VirtualKey(SDL_Scancode sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return static_cast<uint16_t>('A' + (sc - SDL_SCANCODE_A));
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return static_cast<uint16_t>('1' + (sc - SDL_SCANCODE_1));
  if (sc == SDL_SCANCODE_0) return '0';
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return static_cast<uint16_t>(VK_F1 + (sc - SDL_SCANCODE_F1));
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9)
    return static_cast<uint16_t>(VK_NUMPAD0 + 1 + (sc - SDL_SCANCODE_KP_1));
  switch (sc) {
    case SDL_SCANCODE_KP_0: return VK_NUMPAD0;
    case SDL_SCANCODE_RETURN: case SDL_SCANCODE_KP_ENTER: return VK_RETURN;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE: return VK_BACK;
    case SDL_SCANCODE_TAB: return VK_TAB;
    case SDL_SCANCODE_SPACE: return VK_SPACE;
    case SDL_SCANCODE_PAUSE: return VK_PAUSE;
    case SDL_SCANCODE_CAPSLOCK: return VK_CAPITAL;
    case SDL_SCANCODE_PAGEUP: return VK_PRIOR;
    case SDL_SCANCODE_PAGEDOWN: return VK_NEXT;
    case SDL_SCANCODE_END: return VK_END;
    case SDL_SCANCODE_HOME: return VK_HOME;
    case SDL_SCANCODE_LEFT: return VK_LEFT;
    case SDL_SCANCODE_UP: return VK_UP;
    case SDL_SCANCODE_RIGHT: return VK_RIGHT;
    case SDL_SCANCODE_DOWN: return VK_DOWN;
    case SDL_SCANCODE_INSERT: return VK_INSERT;
    case SDL_SCANCODE_DELETE: return VK_DELETE;
    case SDL_SCANCODE_LGUI: return VK_LWIN;
    case SDL_SCANCODE_RGUI: return VK_RWIN;
    case SDL_SCANCODE_APPLICATION: return VK_APPS;
    case SDL_SCANCODE_KP_MULTIPLY: return VK_MULTIPLY;
    case SDL_SCANCODE_KP_PLUS: return VK_ADD;
    case SDL_SCANCODE_KP_MINUS: return VK_SUBTRACT;
    case SDL_SCANCODE_KP_PERIOD: return VK_DECIMAL;
    case SDL_SCANCODE_KP_DIVIDE: return VK_DIVIDE;
    case SDL_SCANCODE_NUMLOCKCLEAR: return VK_NUMLOCK;
    case SDL_SCANCODE_SCROLLLOCK: return VK_SCROLL;
    case SDL_SCANCODE_LSHIFT: return VK_LSHIFT;
    case SDL_SCANCODE_RSHIFT: return VK_RSHIFT;
    case SDL_SCANCODE_LCTRL: return VK_LCONTROL;
    case SDL_SCANCODE_RCTRL: return VK_RCONTROL;
    case SDL_SCANCODE_LALT: return VK_LMENU;
    case SDL_SCANCODE_RALT: return VK_RMENU;
    case SDL_SCANCODE_SEMICOLON: return 0xBA;
    case SDL_SCANCODE_EQUALS: return 0xBB;
    case SDL_SCANCODE_COMMA: return 0xBC;
    case SDL_SCANCODE_MINUS: return 0xBD;
    case SDL_SCANCODE_PERIOD: return 0xBE;
    case SDL_SCANCODE_SLASH: return 0xBF;
    case SDL_SCANCODE_GRAVE: return 0xC0;
    case SDL_SCANCODE_LEFTBRACKET: return 0xDB;
    case SDL_SCANCODE_BACKSLASH: return 0xDC;
    case SDL_SCANCODE_RIGHTBRACKET: return 0xDD;
    case SDL_SCANCODE_APOSTROPHE: return 0xDE;
    case SDL_SCANCODE_AUDIOPLAY: return VK_MEDIA_PLAY_PAUSE;
    case SDL_SCANCODE_AUDIOSTOP: return VK_MEDIA_STOP;
    case SDL_SCANCODE_AUDIOPREV: return VK_MEDIA_PREV_TRACK;
    case SDL_SCANCODE_AUDIONEXT: return VK_MEDIA_NEXT_TRACK;
    case SDL_SCANCODE_AC_BACK: return VK_BROWSER_BACK;
    case SDL_SCANCODE_AC_FORWARD: return VK_BROWSER_FORWARD;
    default: return 0;
  }
}

uint16_t TSdlWindowBackend::VirtualKey(SDL_Scancode scancode, SDL_Keycode sym) {
  if (uint16_t vk = VirtualKey(scancode)) return vk;
  // Keyboards whose media keys SDL knows only by their symbol (no scan code
  // of its tables): the symbol names the key.
  switch (sym) {
    case SDLK_AUDIOPLAY: return VK_MEDIA_PLAY_PAUSE;
    case SDLK_AUDIOSTOP: return VK_MEDIA_STOP;
    case SDLK_AUDIOPREV: return VK_MEDIA_PREV_TRACK;
    case SDLK_AUDIONEXT: return VK_MEDIA_NEXT_TRACK;
    case SDLK_AC_BACK: return VK_BROWSER_BACK;
    case SDLK_AC_FORWARD: return VK_BROWSER_FORWARD;
    default: return 0;
  }
}

void TSdlWindowBackend::ShowCursorShape(HCURSOR cursor) {
  if (cursor == 0) {
    SDL_ShowCursor(SDL_DISABLE);
    return;
  }
  SDL_Cursor* c = nullptr;
  if (auto it = cursors_.find(cursor); it != cursors_.end()) {
    c = it->second;
  } else {
    auto& slot = system_cursors_[cursor];
    if (!slot) slot = SDL_CreateSystemCursor(SdlCursorOf(cursor));
    c = slot;
  }
  if (c) SDL_SetCursor(c);
  SDL_ShowCursor(SDL_ENABLE);
}

void TSdlWindowBackend::CursorCreated(HCURSOR cursor, const std::vector<uint32_t>& argb, int32_t width,
                                      int32_t height, int32_t hot_x, int32_t hot_y) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888);
  if (!s) return;
  for (int32_t y = 0; y < height; ++y)
    std::memcpy(static_cast<uint8_t*>(s->pixels) + static_cast<ptrdiff_t>(y) * s->pitch,
                argb.data() + static_cast<size_t>(y) * static_cast<size_t>(width), static_cast<size_t>(width) * 4);
  if (SDL_Cursor* c = SDL_CreateColorCursor(s, hot_x, hot_y)) cursors_[cursor] = c;
  SDL_FreeSurface(s);
}

void TSdlWindowBackend::CursorDestroyed(HCURSOR cursor) {
  auto it = cursors_.find(cursor);
  if (it == cursors_.end()) return;
  SDL_FreeCursor(it->second);
  cursors_.erase(it);
}

bool TSdlWindowBackend::WarpPointer(int32_t x, int32_t y) { return SDL_WarpMouseGlobal(x, y) == 0; }

bool TSdlWindowBackend::PointerPosition(TPoint& point) {
  // X11 tells where the pointer is on the screen before it has entered one
  // of our windows. Other drivers answer a global query in window
  // coordinates or not at all.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0) return false;
  int x = 0, y = 0;
  SDL_GetGlobalMouseState(&x, &y);
  point = TPoint{x, y};
  return true;
}

void TSdlWindowBackend::ScreenDpi(int32_t& x, int32_t& y) {
  float h = 0, v = 0;
  if (SDL_GetDisplayDPI(0, nullptr, &h, &v) == 0 && h > 0 && v > 0) {
    x = static_cast<int32_t>(h + 0.5f);
    y = static_cast<int32_t>(v + 0.5f);
  } else {
    x = y = 96;
  }
}

std::vector<TMonitorArea> TSdlWindowBackend::Monitors() {
  std::vector<TMonitorArea> r;
  const int n = SDL_GetNumVideoDisplays();
  for (int i = 0; i < n; ++i) {
    SDL_Rect b, u;
    if (SDL_GetDisplayBounds(i, &b) != 0) continue;
    if (SDL_GetDisplayUsableBounds(i, &u) != 0) u = b;
    r.push_back(TMonitorArea{TRect{b.x, b.y, b.x + b.w, b.y + b.h}, TRect{u.x, u.y, u.x + u.w, u.y + u.h}, i == 0});
  }
  return r;
}

int32_t TSdlWindowBackend::ShowMessageBox(const std::u16string& text, const std::u16string& caption,
                                          uint32_t flags, HWND owner, const std::function<void()>& serve) {
  TBoxRequest request;
  request.kind = (flags & MB_ICONERROR) ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
  request.title = WideToSystemUTF8(caption);
  request.text = WideToSystemUTF8(text);
  // Without a message box (no window system, a driver without one, no box
  // program) the text goes to the standard error output, so it is never
  // lost. The headless drivers have none: SDL would hand the box to a
  // desktop helper (zenity) that cannot show it either and still answer
  // success.
  const char* driver = SDL_GetCurrentVideoDriver();
  const bool headless = driver && (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0);
  request.driver = driver ? driver : "";
  const std::string program = BoxProgram();
  if (TerminationRequested() || headless || program.empty()) {
    std::fprintf(stderr, "%s: %s\n", request.title.c_str(), request.text.c_str());
    return IDOK;
  }
  SDL_Window* const owner_window = SdlWindowOf(owner);
  // The box is drawn by a program of its own (SdlBoxProgram.h) while the
  // GUI thread serves the windows (SDL's own call would wait for its box
  // without a look at them). The box program dies with the player, and a
  // termination signal kills it, so the wait ends. Under X11 the box sets
  // its title through its locale, which X tools in another locale cannot
  // read: it is set again meanwhile, the box is made transient for the
  // owner's window, and it takes the keyboard focus from our windows.
  SDL_Window* const focus = SDL_GetKeyboardFocus();
  bool shown;
  {
    TX11BoxTitle box_title(request.title, X11WindowId(owner_window));
    TChildDiesWithParent scope;
    shown = BoxInProcess(BoxProgramArguments(program, request), box_title, serve);
  }
  if (!shown) std::fprintf(stderr, "%s: %s\n", request.title.c_str(), request.text.c_str());
  // As SDL does after its box: the window that had the keys is raised.
  if (focus && !TerminationRequested()) {
    SDL_RaiseWindow(focus);
    GiveX11InputFocus(focus);
  }
  return TerminationRequested() ? int32_t(IDCANCEL) : int32_t(IDOK);
}

bool TSdlWindowBackend::BoxInProcess(const std::vector<std::string>& argv, TX11BoxTitle& box_title,
                                     const std::function<void()>& serve) {
  TBoxProcess box;
  if (!box.Start(argv)) return false;
  // Until the box answers (or its program ends): the windows' exposes, size
  // changes and device frames are served and the layer paints; their input
  // is dropped, as for the windows a modal box disables. The box takes the
  // keyboard focus once shown, unless another program's window has it, and
  // again whenever one of our windows gets it (a click there under a window
  // manager): it is raised and takes it, as a modal window of ours does.
  int answer = 0;
  // A paint may show a box of its own: the outer one's state comes back after it.
  const bool outer_box = box_up_, outer_focus = box_wants_focus_;
  box_up_ = true;
  box_wants_focus_ = true;
  for (;;) {
    if (box_wants_focus_ && box_title.TakeFocus(SDL_GetKeyboardFocus() != nullptr)) box_wants_focus_ = false;
    pollfd fds[3] = {{box.AnswerFd(), POLLIN, 0}, {x11_fd_, POLLIN, 0}, {wake_fd_->fd, POLLIN, 0}};
    const int ready = poll(fds, 3, kBoxServeMs);
    if (ready < 0 && errno != EINTR) break;
    if (fds[0].revents) {
      answer = box.ReadAnswer();
      if (answer >= 0) break;
      continue;
    }
    if (fds[2].revents) wake_fd_->Drain();
    if (TerminationRequested()) kill(box.Pid(), SIGKILL);
    Poll();
    if (serve) serve();
  }
  box_up_ = outer_box;
  box_wants_focus_ = outer_focus;
  // The box has gone (or its program ended): its process is reaped within
  // a bounded time, killed when it lingers.
  box.End();
  return answer == 1;
}

bool TSdlWindowBackend::PresentPixels(HWND hwnd, TSize client, const uint32_t* pixels, int32_t width, int32_t height,
                                      int32_t pitch, const std::vector<TRect>& rects) {
  (void)client;
  SDL_Window* win = SdlWindowOf(hwnd);
  if (!win || !(SDL_GetWindowFlags(win) & SDL_WINDOW_SHOWN)) return false;
  SDL_Surface* target = SDL_GetWindowSurface(win);  // remade by SDL after a resize
  if (!target) return false;
  SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(pixels), width, height, 32, pitch,
                                                        SDL_PIXELFORMAT_RGB888);
  if (!src) return false;
  SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
  std::vector<SDL_Rect> parts;
  bool ok = true;
  for (const TRect& r : rects) {
    SDL_Rect from{r.Left, r.Top, r.Width(), r.Height()};
    SDL_Rect to = from;
    ok = SDL_BlitSurface(src, &from, target, &to) == 0 && ok;
    parts.push_back(SDL_Rect{r.Left, r.Top, r.Width(), r.Height()});
  }
  SDL_FreeSurface(src);
  return ok && SDL_UpdateWindowSurfaceRects(win, parts.data(), int(parts.size())) == 0;
}

bool TSdlWindowBackend::SetOpacity(HWND hwnd, uint8_t alpha) {
  SDL_Window* win = SdlWindowOf(hwnd);
  return win && SDL_SetWindowOpacity(win, float(alpha) / 255.0f) == 0;
}

}  // namespace kav::win
