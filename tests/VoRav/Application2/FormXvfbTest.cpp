// A form in a real X window: xdotool types a key, clicks and presses Escape;
// the form reports them as form events and closes. Runs under xvfb-run only.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

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

// The id of the viewable window with this title (a regular expression), as
// every X test finds windows: tests/xvfb/xwin_title.py reads titles as
// bytes, the same in every locale. Keeps the application's messages going
// meanwhile; "" after 30 s.
std::string FindWindowByTitle(TVxApplication* app, const std::string& title) {
  const std::string tool = std::string(KAV_SOURCE_DIR) + "/tests/xvfb/xwin_title.py";
  const uint32_t start = GetElapsedMs();
  while (ElapsedSinceMs(start) < 30000) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    // Debian's interpreter, as the harness takes it (one on the path may be
    // a per-user shim).
    const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    const char* argv[] = {python, tool.c_str(), "find", title.c_str(), nullptr};
    pid_t pid = 0;
    const int err = posix_spawnp(&pid, python, &fa, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string out;
    if (err == 0) {
      fcntl(fds[0], F_SETFL, O_NONBLOCK);
      int status = 0;
      for (;;) {
        char buf[256];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
        if (waitpid(pid, &status, WNOHANG) == pid) {
          while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
          break;
        }
        app->ProcessMessages();
        SleepMs(5);
      }
    }
    close(fds[0]);
    if (const size_t nl = out.find('\n'); nl != std::string::npos && nl > 0) return out.substr(0, nl);
    app->ProcessMessages();
    SleepMs(100);
  }
  return {};
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

    // Each step waits for the form to have handled the one before, with a
    // generous deadline, so a loaded machine only makes it slower. The
    // click goes as a step of its own after the key arrived: the X backend
    // drops a click that it handles within a few milliseconds of the focus
    // event (a click that focused the window), which is what a click sent
    // together with the focus becomes when this process gets no CPU for a
    // while.
    const auto step = [&](std::vector<const char*> argv, auto done) {
      argv.push_back(nullptr);
      pid_t pid = 0;
      if (posix_spawnp(&pid, "xdotool", nullptr, nullptr, const_cast<char* const*>(argv.data()), environ) != 0)
        return false;
      const uint32_t start = GetElapsedMs();
      while (!done() && ElapsedSinceMs(start) < 30000) {
        app->ProcessMessages();
        SleepMs(5);
      }
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
      }
      return done();
    };
    const std::string id = FindWindowByTitle(app.get(), "^KavXvfbForm$");
    ASSERT_FALSE(id.empty()) << "no window titled KavXvfbForm";
    EXPECT_TRUE(step({"xdotool", "windowfocus", "--sync", id.c_str(), "key", "a"},
                     [&] { return Has(seen.keys, {'a', kKeyChar}); }));
    // Well past the focus event's time (the wait above is no bound on it).
    SleepMs(50);
    EXPECT_TRUE(step({"xdotool", "mousemove", "--window", id.c_str(), "40", "50", "click", "1"},
                     [&] { return !seen.clicks.empty(); }));
    EXPECT_TRUE(step({"xdotool", "windowfocus", "--sync", id.c_str(), "key", "Escape"},
                     [&] { return !form->Visible(); }));
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
