#include <cstdlib>
#include <cstring>

#include "WinTestUtil.h"
#include "platform/window/sdl/SdlWindowBackend.h"

namespace kav::win {

TEST(SdlWindowBackend, ScancodesMapToVirtualKeys) {
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_A), 'A');
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_Z), 'Z');
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_0), '0');
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_9), '9');
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_F4), VK_F4);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_ESCAPE), VK_ESCAPE);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_LALT), VK_LMENU);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_KP_5), VK_NUMPAD0 + 5);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_UNKNOWN), 0);
}

// The media and browser keys arrive as the codes the key table reads, by
// scancode or, for keyboards SDL knows only by symbol, by the symbol.
TEST(SdlWindowBackend, MediaAndBrowserKeysReachTheWindowAsTheirVirtualKeys) {
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_AUDIOPLAY), 179);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_AUDIOSTOP), 178);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_AUDIOPREV), 177);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_AUDIONEXT), 176);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_AC_BACK), 166);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_AC_FORWARD), 167);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_UNKNOWN, SDLK_AUDIOPLAY), 179);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_UNKNOWN, SDLK_AC_FORWARD), 167);
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_RIGHT, SDLK_AC_BACK), VK_RIGHT);  // the scancode first
  EXPECT_EQ(TSdlWindowBackend::VirtualKey(SDL_SCANCODE_UNKNOWN, SDLK_UNKNOWN), 0);

  // Through SDL's queue (dummy driver) into the focused window.
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  if (!driver || !*driver) setenv("SDL_VIDEODRIVER", "dummy", 1);
  std::unique_ptr<TSdlWindowBackend> sdl;
  try {
    sdl = std::make_unique<TSdlWindowBackend>();
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
  InitWindowSystem(std::move(sdl));
  TWndClass wc;
  wc.class_name = u"SdlKeyTest";
  RegisterClass(wc);
  HWND w = CreateWindowEx(0, u"SdlKeyTest", u"keys", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 150, 0, 0, nullptr);
  SetFocus(w);
  TMsg m;
  while (PeekMessage(&m, 0, WM_KEYDOWN, WM_KEYUP, PM_REMOVE)) {
  }
  const struct {
    SDL_Scancode scancode;
    SDL_Keycode sym;
  } keys[] = {{SDL_SCANCODE_AUDIOPLAY, SDLK_AUDIOPLAY}, {SDL_SCANCODE_AUDIOSTOP, SDLK_AUDIOSTOP},
              {SDL_SCANCODE_AUDIOPREV, SDLK_AUDIOPREV}, {SDL_SCANCODE_AUDIONEXT, SDLK_AUDIONEXT},
              {SDL_SCANCODE_AC_BACK, SDLK_AC_BACK},     {SDL_SCANCODE_UNKNOWN, SDLK_AC_FORWARD}};
  for (const auto& k : keys) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.scancode = k.scancode;
    e.key.keysym.sym = k.sym;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    e.type = SDL_KEYUP;
    e.key.state = SDL_RELEASED;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
  }
  std::vector<WPARAM> downs;
  while (PeekMessage(&m, 0, WM_KEYDOWN, WM_KEYUP, PM_REMOVE))  // key messages only: the window never paints
    if (m.message == WM_KEYDOWN && m.hwnd == w) downs.push_back(m.wParam);
  EXPECT_EQ(downs, (std::vector<WPARAM>{179, 178, 177, 176, 166, 167}));
  DestroyWindow(w);
  DoneWindowSystem();
}

// With SDL's dummy video driver: visible top-level windows get SDL windows,
// hidden ones and children do not, and the queue still wakes for posts.
TEST(SdlWindowBackend, MirrorsVisibleTopLevelWindowsOnly) {
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  if (!driver || !*driver) setenv("SDL_VIDEODRIVER", "dummy", 1);
  std::unique_ptr<TSdlWindowBackend> sdl;
  try {
    sdl = std::make_unique<TSdlWindowBackend>();
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
  TSdlWindowBackend* b = sdl.get();
  InitWindowSystem(std::move(sdl));
  TWndClass wc;
  wc.class_name = u"SdlTest";
  RegisterClass(wc);
  HWND hidden = CreateWindowEx(0, u"SdlTest", u"hidden", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, 0, 0, nullptr);
  HWND shown = CreateWindowEx(0, u"SdlTest", u"shown", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 150, 0, 0, nullptr);
  HWND child = CreateWindowEx(0, u"SdlTest", u"", WS_CHILD | WS_VISIBLE, 0, 0, 20, 20, shown, 0, nullptr);
  EXPECT_EQ(b->SdlWindowOf(hidden), nullptr);
  EXPECT_EQ(b->SdlWindowOf(child), nullptr);
  SDL_Window* w = b->SdlWindowOf(shown);
  ASSERT_NE(w, nullptr);
  EXPECT_STREQ(SDL_GetWindowTitle(w), "shown");
  // Other programs' windows (file choosers) attach to the X window.
  EXPECT_EQ(b->DesktopWindowId(hidden), "");
  if (std::strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0) EXPECT_EQ(b->DesktopWindowId(shown).rfind("x11:", 0), 0u);
  else EXPECT_EQ(b->DesktopWindowId(shown), "");
  SetWindowText(shown, u"renamed");
  EXPECT_STREQ(SDL_GetWindowTitle(w), "renamed");
  EXPECT_GE(GetSystemMetrics(SM_CMONITORS), 1);
  std::thread([&] { PostMessage(shown, WM_USER, 0, 0); }).join();
  TMsg m;
  ASSERT_TRUE(GetMessage(&m, 0, 0, 0));  // woken by the post
  EXPECT_EQ(m.message, WM_USER + 0u);
  DestroyWindow(shown);
  EXPECT_EQ(b->SdlWindowOf(shown), nullptr);
  DoneWindowSystem();
}

}  // namespace kav::win
