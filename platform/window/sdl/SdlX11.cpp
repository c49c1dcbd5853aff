#include "platform/window/sdl/SdlX11.h"

#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "VoRav/vxUTF8.h"

namespace kav::win {

namespace {

template <typename F>
F X11Entry(const char* name) {
  return reinterpret_cast<F>(X11Symbol(name));
}

bool X11Of(SDL_Window* window, Display*& display, Window& xwindow) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
  display = info.info.x11.display;
  xwindow = info.info.x11.window;
  return display && xwindow;
}

// SDL's connection to the X server, found through a hidden window of its own
// (the connection outlives the window).
Display* SdlDisplay() {
  Display* display = nullptr;
  Window xwindow = 0;
  if (SDL_Window* probe = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_HIDDEN)) {
    if (!X11Of(probe, display, xwindow)) display = nullptr;
    SDL_DestroyWindow(probe);
  }
  return display;
}

// The text as Latin-1 bytes, when every character is one.
bool ToLatin1(const std::string& utf8, std::string& out) {
  out.clear();
  for (char16_t c : SystemUTF8ToWide(utf8)) {
    if (c > 0xFF) return false;
    out += char(c);
  }
  return true;
}

std::atomic<int> g_errors{0};
std::atomic<int> g_first_code{0}, g_first_major{0}, g_first_minor{0};

int CountXError(Display*, XErrorEvent* e) {
  if (g_errors.fetch_add(1) == 0) {
    g_first_code = e->error_code;
    g_first_major = e->request_code;
    g_first_minor = e->minor_code;
  }
  return 0;
}

std::atomic<XErrorHandler> g_before_filter{nullptr};
std::atomic<int> g_passed{0};

// The lasting handler (see TX11GoneWindowFilter). It makes no X call: a
// handler must not, and the error may come in on any thread.
int PassGoneWindowErrors(Display* display, XErrorEvent* e) {
  const bool gone = e->error_code == BadWindow || e->error_code == BadDrawable ||
                    (e->error_code == BadMatch && e->request_code == X_SetInputFocus);
  if (gone) {
    g_passed.fetch_add(1);
    return 0;
  }
  XErrorHandler before = g_before_filter.load();
  return before ? before(display, e) : 0;
}

}  // namespace

void* X11Symbol(const char* name) {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0) return nullptr;
  void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (!lib) return nullptr;
  void* f = dlsym(lib, name);
  dlclose(lib);  // SDL keeps its own handle: the library stays loaded
  return f;
}

void SetX11WindowTitle(SDL_Window* window, const std::string& utf8) {
  auto intern = X11Entry<decltype(&XInternAtom)>("XInternAtom");
  auto change = X11Entry<decltype(&XChangeProperty)>("XChangeProperty");
  auto to_text = X11Entry<decltype(&Xutf8TextListToTextProperty)>("Xutf8TextListToTextProperty");
  auto set_text = X11Entry<decltype(&XSetTextProperty)>("XSetTextProperty");
  auto free_x = X11Entry<decltype(&XFree)>("XFree");
  auto flush = X11Entry<decltype(&XFlush)>("XFlush");
  Display* display = nullptr;
  Window xwindow = 0;
  if (!intern || !change || !to_text || !set_text || !free_x || !flush || !X11Of(window, display, xwindow)) return;
  const Atom utf8_string = intern(display, "UTF8_STRING", False);
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  change(display, xwindow, intern(display, "_NET_WM_NAME", False), utf8_string, 8, PropModeReplace, bytes,
         int(utf8.size()));
  std::string latin1;
  if (ToLatin1(utf8, latin1)) {
    change(display, xwindow, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
           reinterpret_cast<const unsigned char*>(latin1.data()), int(latin1.size()));
  } else {
    char* list[] = {const_cast<char*>(utf8.c_str())};
    XTextProperty text{};
    const int unconverted = to_text(display, list, 1, XCompoundTextStyle, &text);
    if (unconverted == Success && text.value) {
      set_text(display, xwindow, &text, XA_WM_NAME);
    } else {
      // Compound text of the "C" locale lacks some of it: UTF-8, which
      // window managers read as well.
      change(display, xwindow, XA_WM_NAME, utf8_string, 8, PropModeReplace, bytes, int(utf8.size()));
    }
    if (text.value) free_x(text.value);
  }
  flush(display);
}

TX11ErrorTrap::TX11ErrorTrap() {
  auto set = X11Entry<decltype(&XSetErrorHandler)>("XSetErrorHandler");
  if (!set) return;
  g_errors = 0;
  previous_ = reinterpret_cast<void*>(set(&CountXError));
  installed_ = true;
}

TX11ErrorTrap::~TX11ErrorTrap() {
  if (!installed_) return;
  Caught();  // errors still on their way are answered to this handler
  if (auto set = X11Entry<decltype(&XSetErrorHandler)>("XSetErrorHandler"))
    set(reinterpret_cast<XErrorHandler>(previous_));
}

bool TX11ErrorTrap::Caught(std::string* text) {
  if (!installed_) return false;
  Display* display = SdlDisplay();
  if (auto sync = X11Entry<decltype(&XSync)>("XSync"); sync && display) sync(display, False);
  if (g_errors == 0) return false;
  if (text) {
    char name[128] = "";
    if (auto get_text = X11Entry<decltype(&XGetErrorText)>("XGetErrorText"); get_text && display)
      get_text(display, g_first_code, name, sizeof name);
    *text = "X error " + std::string(name[0] ? name : "") + " (" + std::to_string(int(g_first_code)) +
            ") on request " + std::to_string(int(g_first_major)) + "." + std::to_string(int(g_first_minor));
  }
  return true;
}

TX11GoneWindowFilter::TX11GoneWindowFilter() {
  auto set = X11Entry<decltype(&XSetErrorHandler)>("XSetErrorHandler");
  if (!set) return;
  XErrorHandler before = set(&PassGoneWindowErrors);
  if (before == &PassGoneWindowErrors) return;  // a filter is in place already
  g_before_filter = before;
  previous_ = reinterpret_cast<void*>(before);
  installed_ = true;
}

TX11GoneWindowFilter::~TX11GoneWindowFilter() {
  if (!installed_) return;
  if (auto set = X11Entry<decltype(&XSetErrorHandler)>("XSetErrorHandler")) {
    XErrorHandler now = set(reinterpret_cast<XErrorHandler>(previous_));
    if (now != &PassGoneWindowErrors) set(now);  // another handler came after ours: it stays
  }
}

int TX11GoneWindowFilter::Passed() { return g_passed.load(); }

void* SdlX11Display() { return X11Symbol("XSync") ? SdlDisplay() : nullptr; }

int X11ConnectionFd(void* display) {
  auto fd = X11Entry<decltype(&XConnectionNumber)>("XConnectionNumber");
  return fd && display ? fd(static_cast<Display*>(display)) : -1;
}

bool X11EventsHeld(void* display) {
  auto queued = X11Entry<decltype(&XEventsQueued)>("XEventsQueued");
  return queued && display && queued(static_cast<Display*>(display), QueuedAlready) > 0;
}

unsigned long X11WindowId(SDL_Window* window) {
  Display* display = nullptr;
  Window xwindow = 0;
  return X11Of(window, display, xwindow) ? xwindow : 0;
}

void GiveX11InputFocus(SDL_Window* window) { GiveX11InputFocus(window, X11WindowId(window)); }

void GiveX11InputFocus(SDL_Window* near, unsigned long xwindow) {
  auto get_focus = X11Entry<decltype(&XGetInputFocus)>("XGetInputFocus");
  auto set_focus = X11Entry<decltype(&XSetInputFocus)>("XSetInputFocus");
  auto attributes = X11Entry<decltype(&XGetWindowAttributes)>("XGetWindowAttributes");
  auto flush = X11Entry<decltype(&XFlush)>("XFlush");
  Display* display = nullptr;
  Window ours = 0;
  if (!get_focus || !set_focus || !attributes || !flush || !xwindow || !X11Of(near, display, ours)) return;
  Window focus = None;
  int revert = 0;
  get_focus(display, &focus, &revert);  // a round trip: windows destroyed before are gone by now
  if (focus == xwindow) return;
  XWindowAttributes a{};
  if (!attributes(display, xwindow, &a) || a.map_state != IsViewable) return;  // only a viewable window takes it
  const bool nowhere = focus == None || focus == PointerRoot || focus == a.root;
  if (!nowhere && !SDL_GetKeyboardFocus()) return;  // another program's window has it
  // Should this window go, the focus falls to the root window, where keys
  // follow the pointer, rather than nowhere.
  set_focus(display, xwindow, RevertToParent, CurrentTime);
  flush(display);
}

namespace {

// The process that made `xwindow`, by its _NET_WM_PID; 0 when it says none.
pid_t WindowPid(Display* display, Window xwindow) {
  auto intern = X11Entry<decltype(&XInternAtom)>("XInternAtom");
  auto get_property = X11Entry<decltype(&XGetWindowProperty)>("XGetWindowProperty");
  auto free_x = X11Entry<decltype(&XFree)>("XFree");
  if (!intern || !get_property || !free_x) return 0;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  pid_t pid = 0;
  if (get_property(display, xwindow, intern(display, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type, &format,
                   &count, &after, &data) == Success &&
      data && type == XA_CARDINAL && format == 32 && count == 1)
    pid = pid_t(*reinterpret_cast<const unsigned long*>(data));  // 32-bit items come as longs
  if (data) free_x(data);
  return pid;
}

// Looks for the window of WindowOfProcessGroup among `parent`'s children,
// the top one first, and `depth` levels below them (a window manager's frames).
Window FindGroupWindow(Display* display, Window parent, pid_t group, int depth) {
  auto query = X11Entry<decltype(&XQueryTree)>("XQueryTree");
  auto attributes = X11Entry<decltype(&XGetWindowAttributes)>("XGetWindowAttributes");
  auto free_x = X11Entry<decltype(&XFree)>("XFree");
  if (!query || !attributes || !free_x) return 0;
  Window root = 0, up = 0, *children = nullptr;
  unsigned int count = 0;
  if (!query(display, parent, &root, &up, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = count; i-- > 0 && !found;) {  // the list runs bottom to top
    XWindowAttributes a{};
    if (!attributes(display, children[i], &a) || a.map_state != IsViewable || a.override_redirect) continue;
    const pid_t pid = WindowPid(display, children[i]);
    if (pid > 0 && pid != getpid() && getpgid(pid) == group)
      found = children[i];
    else if (pid == 0 && depth > 0)
      found = FindGroupWindow(display, children[i], group, depth - 1);
  }
  if (children) free_x(children);
  return found;
}

}  // namespace

unsigned long X11WindowOfProcessGroup(SDL_Window* near, int group) {
  auto root_of = X11Entry<decltype(&XDefaultRootWindow)>("XDefaultRootWindow");
  Display* display = nullptr;
  Window ours = 0;
  if (group <= 0 || !root_of || !X11Of(near, display, ours)) return 0;
  return FindGroupWindow(display, root_of(display), pid_t(group), 2);
}

void SetX11TransientFor(unsigned long xwindow, SDL_Window* owner) {
  auto set = X11Entry<decltype(&XSetTransientForHint)>("XSetTransientForHint");
  auto flush = X11Entry<decltype(&XFlush)>("XFlush");
  Display* display = nullptr;
  Window owner_window = 0;
  if (!set || !flush || !xwindow || !X11Of(owner, display, owner_window)) return;
  set(display, xwindow, owner_window);
  flush(display);
}

void RaiseX11Window(SDL_Window* near, unsigned long xwindow) {
  auto raise = X11Entry<decltype(&XRaiseWindow)>("XRaiseWindow");
  auto flush = X11Entry<decltype(&XFlush)>("XFlush");
  Display* display = nullptr;
  Window ours = 0;
  if (!raise || !flush || !xwindow || !X11Of(near, display, ours)) return;
  raise(display, xwindow);
  flush(display);
}

}  // namespace kav::win
