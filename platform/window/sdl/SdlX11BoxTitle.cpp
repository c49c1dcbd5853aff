#include "platform/window/sdl/SdlX11BoxTitle.h"

#include <SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include "VoRav/vxUTF8.h"

namespace kav::win {

namespace {

// The entries of libxcb, looked up in the copy libX11 loaded.
struct TXcb {
  decltype(&xcb_connect) Connect = nullptr;
  decltype(&xcb_connection_has_error) HasError = nullptr;
  decltype(&xcb_disconnect) Disconnect = nullptr;
  decltype(&xcb_get_setup) GetSetup = nullptr;
  decltype(&xcb_setup_roots_iterator) Roots = nullptr;
  decltype(&xcb_screen_next) NextScreen = nullptr;
  decltype(&xcb_intern_atom) InternAtom = nullptr;
  decltype(&xcb_intern_atom_reply) InternAtomReply = nullptr;
  decltype(&xcb_change_window_attributes) ChangeAttributes = nullptr;
  decltype(&xcb_get_property) GetProperty = nullptr;
  decltype(&xcb_get_property_reply) GetPropertyReply = nullptr;
  decltype(&xcb_get_property_value) PropertyValue = nullptr;
  decltype(&xcb_get_property_value_length) PropertyLength = nullptr;
  decltype(&xcb_change_property) ChangeProperty = nullptr;
  decltype(&xcb_get_input_focus) GetInputFocus = nullptr;
  decltype(&xcb_get_input_focus_reply) GetInputFocusReply = nullptr;
  decltype(&xcb_poll_for_event) PollForEvent = nullptr;
  decltype(&xcb_get_file_descriptor) FileDescriptor = nullptr;
  decltype(&xcb_flush) Flush = nullptr;
  decltype(&xcb_get_window_attributes) GetAttributes = nullptr;
  decltype(&xcb_get_window_attributes_reply) GetAttributesReply = nullptr;
  decltype(&xcb_configure_window) Configure = nullptr;
  decltype(&xcb_set_input_focus) SetInputFocus = nullptr;
  decltype(&xcb_send_event) SendEvent = nullptr;

  bool Load() {
    void* lib = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (!lib) return false;
    auto get = [&](auto& f, const char* name) {
      f = reinterpret_cast<std::remove_reference_t<decltype(f)>>(dlsym(lib, name));
      return f != nullptr;
    };
    const bool all = get(Connect, "xcb_connect") && get(HasError, "xcb_connection_has_error") &&
                     get(Disconnect, "xcb_disconnect") && get(GetSetup, "xcb_get_setup") &&
                     get(Roots, "xcb_setup_roots_iterator") && get(NextScreen, "xcb_screen_next") &&
                     get(InternAtom, "xcb_intern_atom") && get(InternAtomReply, "xcb_intern_atom_reply") &&
                     get(ChangeAttributes, "xcb_change_window_attributes") &&
                     get(GetProperty, "xcb_get_property") && get(GetPropertyReply, "xcb_get_property_reply") &&
                     get(PropertyValue, "xcb_get_property_value") &&
                     get(PropertyLength, "xcb_get_property_value_length") &&
                     get(ChangeProperty, "xcb_change_property") && get(GetInputFocus, "xcb_get_input_focus") &&
                     get(GetInputFocusReply, "xcb_get_input_focus_reply") &&
                     get(PollForEvent, "xcb_poll_for_event") && get(FileDescriptor, "xcb_get_file_descriptor") &&
                     get(Flush, "xcb_flush") && get(GetAttributes, "xcb_get_window_attributes") &&
                     get(GetAttributesReply, "xcb_get_window_attributes_reply") &&
                     get(Configure, "xcb_configure_window") && get(SetInputFocus, "xcb_set_input_focus") &&
                     get(SendEvent, "xcb_send_event");
    dlclose(lib);  // libX11 keeps it loaded
    return all;
  }
};

// The most new top-level windows followed at once, and the longest title
// property read.
constexpr size_t kMaxWindows = 4096;
constexpr uint32_t kMaxTitleWords = 16384;

struct TProperty {
  bool present = false;
  xcb_atom_t type = XCB_NONE;
  std::string bytes;
};

}  // namespace

struct TX11BoxTitle::TState {
  TXcb x;
  xcb_connection_t* c = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t net_wm_name = 0, utf8_string = 0, compound_text = 0, window_type = 0, type_dialog = 0;
  xcb_atom_t active_window = 0;  // _NET_ACTIVE_WINDOW
  std::string title;        // UTF-8
  std::string latin1;       // the title in Latin-1, if it fits
  std::string wm_name;      // WM_NAME's bytes when it is set here
  xcb_atom_t wm_type = 0;   // and its type
  std::set<xcb_window_t> windows;
  xcb_window_t owner = 0;                // the box is made transient for it
  std::set<xcb_window_t> made_transient;
  std::atomic<xcb_window_t> box{0};      // the box's window, once found
  std::atomic<int> fixed{0};
  int wake[2] = {-1, -1};
  std::thread thread;

  ~TState() {
    if (thread.joinable()) {
      const char b = 1;
      (void)!write(wake[1], &b, 1);
      thread.join();
    }
    if (c) x.Disconnect(c);
    for (int fd : wake)
      if (fd >= 0) close(fd);
  }

  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* r =
        x.InternAtomReply(c, x.InternAtom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    std::free(r);
    return a;
  }

  bool Open() {
    if (!x.Load()) return false;
    int screen = 0;
    c = x.Connect(nullptr, &screen);
    if (!c || x.HasError(c)) return false;
    xcb_screen_iterator_t it = x.Roots(x.GetSetup(c));
    for (; it.rem > 0 && screen > 0; --screen) x.NextScreen(&it);
    if (it.rem <= 0) return false;
    root = it.data->root;
    net_wm_name = Atom("_NET_WM_NAME");
    utf8_string = Atom("UTF8_STRING");
    compound_text = Atom("COMPOUND_TEXT");
    window_type = Atom("_NET_WM_WINDOW_TYPE");
    type_dialog = Atom("_NET_WM_WINDOW_TYPE_DIALOG");
    active_window = Atom("_NET_ACTIVE_WINDOW");
    if (!net_wm_name || !utf8_string || !compound_text || !window_type || !type_dialog) return false;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    x.ChangeAttributes(c, root, XCB_CW_EVENT_MASK, &mask);
    // A round trip: the server has the watch before the box can be made.
    std::free(x.GetInputFocusReply(c, x.GetInputFocus(c), nullptr));
    return !x.HasError(c) && pipe2(wake, O_CLOEXEC) == 0;
  }

  TProperty Read(xcb_window_t w, xcb_atom_t name, xcb_atom_t type) {
    TProperty p;
    xcb_get_property_reply_t* r =
        x.GetPropertyReply(c, x.GetProperty(c, 0, w, name, type, 0, kMaxTitleWords), nullptr);
    if (r && r->type != XCB_NONE) {
      p.present = true;
      p.type = r->type;
      const int length = x.PropertyLength(r);  // in bytes
      if (length > 0) p.bytes.assign(static_cast<const char*>(x.PropertyValue(r)), size_t(length));
    }
    std::free(r);  // a window gone answers no reply: nothing is read
    return p;
  }

  bool IsDialog(xcb_window_t w) {
    const TProperty t = Read(w, window_type, XCB_ATOM_ATOM);
    for (size_t i = 0; i + 4 <= t.bytes.size(); i += 4) {
      xcb_atom_t a;
      std::memcpy(&a, t.bytes.data() + i, 4);
      if (a == type_dialog) return true;
    }
    return false;
  }

  // Gives a box's window the title, once it is marked a dialog (SDL sets
  // the title before the window type).
  void Check(xcb_window_t w) {
    if (!IsDialog(w)) return;
    const TProperty net = Read(w, net_wm_name, XCB_GET_PROPERTY_TYPE_ANY);
    const TProperty wm = Read(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY);
    const bool ours = net.present ? net.bytes == title : (!wm.present || wm.bytes == title);
    if (!ours) return;
    box = w;
    if (owner && made_transient.size() < kMaxWindows && made_transient.insert(w).second) {
      x.ChangeProperty(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &owner);
      x.Flush(c);
    }
    // A WM_NAME of a standard type is left as it is (a box drawn by a
    // desktop helper sets compound text).
    const bool wm_right = wm.present && ((wm.type == XCB_ATOM_STRING && wm.bytes == latin1) ||
                                         (wm.type == utf8_string && wm.bytes == title) || wm.type == compound_text);
    if (net.present && net.type == utf8_string && net.bytes == title && wm_right) return;
    x.ChangeProperty(c, XCB_PROP_MODE_REPLACE, w, net_wm_name, utf8_string, 8, uint32_t(title.size()),
                     title.data());
    x.ChangeProperty(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, wm_type, 8, uint32_t(wm_name.size()),
                     wm_name.data());
    x.Flush(c);
    ++fixed;
  }

  void Follow(xcb_window_t w) {
    if (windows.size() >= kMaxWindows || !windows.insert(w).second) return;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    x.ChangeAttributes(c, w, XCB_CW_EVENT_MASK, &mask);
    // What was set before the watch took hold is read now; later changes
    // come as events.
    Check(w);
  }

  void Handle(const xcb_generic_event_t* e) {
    switch (e->response_type & 0x7F) {
      case XCB_CREATE_NOTIFY: {
        const auto* created = reinterpret_cast<const xcb_create_notify_event_t*>(e);
        if (created->parent == root) Follow(created->window);
        break;
      }
      case XCB_DESTROY_NOTIFY: {
        const xcb_window_t gone = reinterpret_cast<const xcb_destroy_notify_event_t*>(e)->window;
        windows.erase(gone);
        made_transient.erase(gone);
        xcb_window_t was = gone;
        box.compare_exchange_strong(was, 0);
        break;
      }
      case XCB_PROPERTY_NOTIFY: {
        const auto* changed = reinterpret_cast<const xcb_property_notify_event_t*>(e);
        if (changed->state == XCB_PROPERTY_NEW_VALUE && windows.count(changed->window) &&
            (changed->atom == XCB_ATOM_WM_NAME || changed->atom == net_wm_name || changed->atom == window_type))
          Check(changed->window);
        break;
      }
      default: break;  // errors of windows gone, other structure events
    }
  }

  void Run() {
    for (;;) {
      while (xcb_generic_event_t* e = x.PollForEvent(c)) {
        Handle(e);
        std::free(e);
      }
      if (x.HasError(c)) return;
      pollfd p[2] = {{x.FileDescriptor(c), POLLIN, 0}, {wake[0], POLLIN, 0}};
      const int n = poll(p, 2, -1);
      if ((n < 0 && errno != EINTR) || p[1].revents) return;
    }
  }

  // GUI thread (the connection is libxcb's, which any thread may use).
  bool TakeFocus(bool from_ours) {
    const xcb_window_t w = box.load();
    if (!w) return false;
    xcb_get_window_attributes_reply_t* a = x.GetAttributesReply(c, x.GetAttributes(c, w), nullptr);
    const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(a);
    if (!viewable) return false;  // not shown yet
    xcb_get_input_focus_reply_t* f = x.GetInputFocusReply(c, x.GetInputFocus(c), nullptr);
    const xcb_window_t focus = f ? f->focus : XCB_NONE;
    std::free(f);
    if (focus == w) return true;
    // Another program's window that has the focus keeps it.
    if (!from_ours && focus != XCB_NONE && focus != XCB_INPUT_FOCUS_POINTER_ROOT && focus != root) return true;
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    x.Configure(c, w, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    // A window manager keeps stacking and focus to itself: it is asked to
    // activate the box as for a person's own choice (a pager's request).
    if (active_window) {
      xcb_client_message_event_t m{};
      m.response_type = XCB_CLIENT_MESSAGE;
      m.format = 32;
      m.window = w;
      m.type = active_window;
      m.data.data32[0] = 2;
      m.data.data32[1] = XCB_CURRENT_TIME;
      x.SendEvent(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                  reinterpret_cast<const char*>(&m));
    }
    x.SetInputFocus(c, XCB_INPUT_FOCUS_PARENT, w, XCB_CURRENT_TIME);
    x.Flush(c);
    return true;
  }
};

TX11BoxTitle::TX11BoxTitle(const std::string& utf8_title, unsigned long transient_for) {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0) return;
  auto state = std::make_unique<TState>();
  state->title = utf8_title;
  state->owner = xcb_window_t(transient_for);
  // WM_NAME: Latin-1 STRING where every character is one, else UTF-8.
  bool fits = true;
  for (char16_t ch : SystemUTF8ToWide(utf8_title)) {
    if (ch > 0xFF) fits = false;
    state->latin1 += char(ch);
  }
  if (!fits) state->latin1.clear();
  if (!state->Open()) return;
  state->wm_type = fits ? xcb_atom_t(XCB_ATOM_STRING) : state->utf8_string;
  state->wm_name = fits ? state->latin1 : utf8_title;
  TState* s = state.get();
  state->thread = std::thread([s] { s->Run(); });
  state_ = std::move(state);
}

TX11BoxTitle::~TX11BoxTitle() = default;

int TX11BoxTitle::Fixed() const { return state_ ? state_->fixed.load() : 0; }

bool TX11BoxTitle::TakeFocus(bool from_ours) { return state_ && state_->TakeFocus(from_ours); }

}  // namespace kav::win
