// A form in a real X window: xdotool types a key, clicks and presses Escape;
// the form reports them as form events and closes. Runs under xvfb-run only.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winForms.h"
#include "VoRav/vxTime.h"
#include "platform/window/sdl/SdlWindowBackend.h"

extern char** environ;

using namespace kav;
using namespace kav::win;

namespace {

struct TSeen {
  TVxForm* form = nullptr;
  std::vector<std::vector<int32_t>> keys;
  std::vector<std::vector<int32_t>> clicks;
  void On(TRefObject*, uint32_t id, void* p) {
    if (id == kFormEventKey) {
      auto* k = static_cast<TKeybordData*>(p);
      keys.push_back({k->Key, k->Kind});
      if (k->Kind == kKeyDown && k->Key == VK_ESCAPE) form->Close();
    } else if (id == kFormEventMouse) {
      auto* m = static_cast<TFormMouseData*>(p);
      if (m->Kind == kMouseDown) clicks.push_back({m->X, m->Y, m->Button});
    }
  }
};

bool Has(const std::vector<std::vector<int32_t>>& list, const std::vector<int32_t>& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

TEST(FormXvfb, ARealWindowReceivesAKeyAndAClickAndCloses) {
  if (!std::getenv("DISPLAY") || !std::getenv("KAV_XVFB_TEST")) GTEST_SKIP() << "needs xvfb-run";
  setenv("SDL_VIDEODRIVER", "x11", 1);
  InitWindowSystem(std::make_unique<TSdlWindowBackend>());
  auto* sdl = dynamic_cast<TSdlWindowBackend*>(&Backend());
  {
    Ref<TVxApplication> app = Ref<TVxApplication>::Adopt(CreateApplication());
    app->Initialize();
    Ref<TVxForm> form = MakeRef<TVxForm>(&CreateWinFormController);
    TSeen seen;
    seen.form = form.get();
    form->Events()->AddHandler(kFormEventKey, TEventListHandler::Bind<&TSeen::On>(&seen));
    form->Events()->AddHandler(kFormEventMouse, TEventListHandler::Bind<&TSeen::On>(&seen));
    form->SetCaption(u"KavXvfbForm");
    form->SetBoundsRect(TRect{100, 100, 420, 340});
    form->Show();
    const HWND h = form->Controller()->GetHandle();
    ASSERT_NE(sdl->SdlWindowOf(h), nullptr);

    const char* argv[] = {"xdotool", "search", "--sync", "--name", "KavXvfbForm", "windowfocus", "--sync",
                          "key", "a", "mousemove", "--window", "%1", "40", "50", "click", "1",
                          "sleep", "0.3", "key", "Escape", nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawnp(&pid, "xdotool", nullptr, nullptr, const_cast<char* const*>(argv), environ), 0);
    const uint32_t start = GetElapsedMs();
    while (form->Visible() && ElapsedSinceMs(start) < 20000) {
      app->ProcessMessages();
      SleepMs(5);
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
      kill(pid, SIGTERM);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(Has(seen.keys, {'A', kKeyDown})) << seen.keys.size() << " key events";
    EXPECT_TRUE(Has(seen.keys, {'a', kKeyChar}));
    EXPECT_TRUE(Has(seen.clicks, {40, 50, kMouseLeft})) << seen.clicks.size() << " clicks";
    EXPECT_FALSE(form->Visible());  // closed by its Escape handler
    SDL_Window* w = sdl->SdlWindowOf(h);
    EXPECT_TRUE(!w || !(SDL_GetWindowFlags(w) & SDL_WINDOW_SHOWN));
    form = nullptr;
    app->Finalize();
  }
  DoneWindowSystem();
}
