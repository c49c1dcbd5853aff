// The message box SDL draws on a real X server (in the box program,
// kavtestbox) has a title that X tools read in any locale: _NET_WM_NAME as UTF8_STRING, WM_NAME as Latin-1 STRING
// where the title fits it, else as UTF8_STRING. SDL's child process sets
// WM_NAME through the locale of the run (type "UTF-8" under a UTF-8 locale,
// nothing for a title beyond ASCII in the "C" locale); the tests run once
// in each (platform_window_x11_box_utf8, platform_window_x11_box_c) and are
// skipped elsewhere (KAV_X11_BOX_TEST unset).
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <unistd.h>

#include <atomic>
#include <memory>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/window/WinApi.h"
#include "platform/window/WinDialog.h"
#include "platform/window/WinTerminate.h"
#include "platform/window/sdl/SdlBoxProgram.h"
#include "platform/window/sdl/SdlWindowBackend.h"

namespace kav::win {
namespace {

struct TSeen {
  std::string wm_type, wm_name, net_type, net_name;
  bool operator==(const TSeen&) const = default;
};

class TReader {
 public:
  TReader() {
    int screen = 0;
    c_ = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(c_)) return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (; it.rem > 0 && screen > 0; --screen) xcb_screen_next(&it);
    if (it.rem > 0) {
      root_ = it.data->root;
      screen_width_ = it.data->width_in_pixels;
    }
  }
  ~TReader() { xcb_disconnect(c_); }
  bool Ok() const { return root_ != 0; }
  // Whether the server has the core font SDL draws its box with.
  bool HasBoxFont() {
    static const char kPattern[] = "-*-*-medium-r-normal--*-120-*-*-*-*-*-*";
    auto* r = xcb_list_fonts_reply(c_, xcb_list_fonts(c_, 1, uint16_t(sizeof kPattern - 1), kPattern), nullptr);
    const bool has = r && r->names_len > 0;
    std::free(r);
    return has;
  }

  xcb_atom_t Atom(const char* name) {
    auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    std::free(r);
    return a;
  }
  std::string AtomName(xcb_atom_t a) {
    auto* r = xcb_get_atom_name_reply(c_, xcb_get_atom_name(c_, a), nullptr);
    std::string s = r ? std::string(xcb_get_atom_name_name(r), size_t(xcb_get_atom_name_name_length(r))) : "";
    std::free(r);
    return s;
  }
  // The property's type name ("" when missing) and bytes.
  std::string Read(xcb_window_t w, xcb_atom_t name, std::string& bytes) {
    auto* r = xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                                     nullptr);
    std::string type;
    bytes.clear();
    if (r && r->type != XCB_NONE) {
      type = AtomName(r->type);
      bytes.assign(static_cast<const char*>(xcb_get_property_value(r)),
                   size_t(xcb_get_property_value_length(r)));
    }
    std::free(r);
    return type;
  }
  // The first top-level window marked a dialog: its title properties, and
  // its size and the screen's width when asked for.
  bool Dialog(TSeen& seen, int* width = nullptr, int* screen_width = nullptr) {
    const xcb_atom_t type = Atom("_NET_WM_WINDOW_TYPE"), dialog = Atom("_NET_WM_WINDOW_TYPE_DIALOG"),
                     net = Atom("_NET_WM_NAME");
    auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
    if (!tree) return false;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    bool found = false;
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
      std::string kinds;
      Read(children[i], type, kinds);
      for (size_t k = 0; k + 4 <= kinds.size() && !found; k += 4) {
        xcb_atom_t a;
        std::memcpy(&a, kinds.data() + k, 4);
        if (a != dialog) continue;
        found = true;
        seen.wm_type = Read(children[i], XCB_ATOM_WM_NAME, seen.wm_name);
        seen.net_type = Read(children[i], net, seen.net_name);
        if (width) {
          auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, children[i]), nullptr);
          *width = g ? g->width : 0;
          std::free(g);
        }
        if (screen_width) *screen_width = screen_width_;
      }
    }
    std::free(tree);
    return found;
  }

 private:
  xcb_connection_t* c_ = nullptr;
  xcb_window_t root_ = 0;
  int screen_width_ = 0;
};

class SdlMessageBoxX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("KAV_X11_BOX_TEST")) GTEST_SKIP() << "runs under Xvfb (platform_window_x11_box_*)";
    if (TReader x; !x.Ok() || !x.HasBoxFont())
      GTEST_SKIP() << "the X server has no font for SDL's box (xfonts-base)";
    // The box program the backend starts (kavtestbox).
    const char* program = std::getenv("KAV_BOX_PROGRAM");
    ASSERT_TRUE(program && *program) << "KAV_BOX_PROGRAM names no box program";
    SetBoxProgram(program);
    InitWindowSystem(std::make_unique<TSdlWindowBackend>());
  }
  void TearDown() override {
    ResetTerminationForTests();
    DoneWindowSystem();
    SetBoxProgram("");
  }

  // Shows a box with `caption` and reads its window until its title
  // properties are `want` (30 s at most: SDL's process sets titles of its
  // own, which are put right after it), then ends the box as a termination
  // signal would. Returns what was read last.
  TSeen Show(const std::u16string& caption, const TSeen& want) {
    TSeen seen;
    std::atomic<bool> done{false};
    std::thread reader([&] {
      TReader x;
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (x.Ok() && !done && std::chrono::steady_clock::now() < end) {
        TSeen now;
        if (x.Dialog(now)) {
          seen = now;
          if (now == want) break;
        }
        usleep(50000);
      }
      RequestTermination();
    });
    // SDL would hand the box to a desktop helper (zenity) found on the
    // path; the box under test is SDL's own.
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", "/nonexistent", 1);
    const int32_t answer = MessageBox(0, u"Le diaporama ne s’ouvre pas.", caption, MB_ICONERROR);
    setenv("PATH", path.c_str(), 1);
    done = true;
    reader.join();
    EXPECT_EQ(answer, IDCANCEL);
    ResetTerminationForTests();
    // The next box is not to be mistaken for this one's window.
    TReader x;
    TSeen left;
    for (int i = 0; i < 200 && x.Dialog(left); ++i) usleep(50000);
    return seen;
  }
};

// A long text is broken into lines: the box lies on the screen (640 pixels
// wide here), where one line of it would be some 2,000 pixels wide.
TEST_F(SdlMessageBoxX11, ALongTextFitsTheScreen) {
  std::u16string text = u"The slide cannot be saved as /home/me/Pictures/summer/";
  for (int i = 0; i < 12; ++i) text += u"a folder with a long name/";
  text += u"slide.png: No space left on device";
  std::atomic<bool> done{false};
  int width = 0, screen = 0;
  std::thread reader([&] {
    TReader x;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    TSeen seen;
    while (x.Ok() && !done && std::chrono::steady_clock::now() < end && !x.Dialog(seen, &width, &screen))
      usleep(50000);
    RequestTermination();
  });
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", "/nonexistent", 1);  // SDL's own box, not zenity's
  MessageBox(0, text, u"Slideshow Error", MB_ICONERROR);
  setenv("PATH", path.c_str(), 1);
  done = true;
  reader.join();
  ASSERT_GT(width, 0) << "no box";
  EXPECT_LE(width, screen);
  ResetTerminationForTests();
  TReader x;
  TSeen left;
  for (int i = 0; i < 200 && x.Dialog(left); ++i) usleep(50000);
}

TEST_F(SdlMessageBoxX11, TitleReadsInAnyLocale) {
  // ASCII, Latin-1 beyond ASCII, and beyond Latin-1 (the dash).
  struct TCase {
    std::u16string caption;
    std::string wm_type, wm_name, utf8;
  } cases[] = {
      {u"Slideshow Error", "STRING", "Slideshow Error", "Slideshow Error"},
      {u"Été à Noël", "STRING", "\xc9t\xe9 \xe0 No\xebl", "\xc3\x89t\xc3\xa9 \xc3\xa0 No\xc3\xabl"},
      {u"Mes photos — été 2026", "UTF8_STRING", "Mes photos \xe2\x80\x94 \xc3\xa9t\xc3\xa9 2026",
       "Mes photos \xe2\x80\x94 \xc3\xa9t\xc3\xa9 2026"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.utf8);
    const TSeen seen = Show(c.caption, {c.wm_type, c.wm_name, "UTF8_STRING", c.utf8});
    EXPECT_EQ(seen.wm_type, c.wm_type);
    EXPECT_EQ(seen.wm_name, c.wm_name);
    EXPECT_EQ(seen.net_type, "UTF8_STRING");
    EXPECT_EQ(seen.net_name, c.utf8);
  }
}

}  // namespace
}  // namespace kav::win
