// kavcontrols: the frame-control gallery. Opens a frame form with every
// gallery control in the classic look and in the visual style, side by
// side. --dump OUT.png writes the form's surface once it is painted and
// exits; --live-dump OUT.png keeps the window open and writes the surface
// after each size change ("dumped W H" on stdout). --scale 1.5 draws the
// controls as on a screen of 144 pixels an inch. Clicks taken by the
// controls are written as "click NAME".
#include <png.h>

#include <chrono>
#include <thread>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VoRav/Application2/vxTimer2.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/Composite/winFrameFormTree.h"
#include "VoRav/Composite/winFrameForms.h"
#include "VoRav/Composite/winThemedControls.h"
#include "platform/window/sdl/SdlBoxProgram.h"
#include "platform/window/sdl/SdlWindowBackend.h"
#include "tools/kavcontrols/GalleryControls.h"

using namespace kav;

namespace {

bool WritePng(const std::string& path, const std::vector<uint32_t>& pixels, int32_t w, int32_t h) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(w);
  image.height = uint32_t(h);
  image.format = PNG_FORMAT_BGRA;
  std::vector<uint32_t> opaque(pixels);
  for (uint32_t& p : opaque) p |= 0xFF000000u;
  return png_image_write_to_file(&image, path.c_str(), 0, opaque.data(), w * 4, nullptr) != 0;
}

bool DumpTree(TFrameFormTree* tree, const std::string& path, TSize& size) {
  size = tree->Size();
  if (size.cx < 1 || size.cy < 1) return false;
  std::vector<uint32_t> pixels(size_t(size.cx) * size_t(size.cy));
  tree->CopyPixels({TRect{0, 0, size.cx, size.cy}}, pixels.data(), size.cx);
  return WritePng(path, pixels, size.cx, size.cy);
}

// Ends the message loop when the form goes.
class TGalleryContent : public TFrameFormContent {
 public:
  bool* Gone = nullptr;
  void CloseQuery(int32_t& action) override {
    if (action == 2 && Application()) Application()->Terminate();  // 2: the form goes
  }

 protected:
  void Dispose() override {
    if (Gone) *Gone = true;
    TFrameFormContent::Dispose();
  }
};

// Dispatches what is queued until the queue stays empty.
void Drain() {
  win::TMsg m;
  for (int32_t idle = 0; idle < 3;) {
    if (win::PeekMessage(&m, 0, 0, 0, win::PM_REMOVE)) {
      idle = 0;
      if (m.message == win::WM_QUIT) return;
      win::TranslateMessage(m);
      win::DispatchMessage(m);
    } else {
      ++idle;
      win::PumpSentMessages();
    }
  }
}

// Lets running fades and glides finish (at most five seconds), so that a
// dump shows every control at rest and is the same picture run after run.
void WaitForStillness(TRootControl* root) {
  auto moving = [root] {
    return root->RefreshNotifier()->HasHandlers(kFrameEventTimeRefresh) ||
           SharedTimeRefreshNotifier()->HasHandlers(kFrameEventTimeRefresh);
  };
  for (int32_t waited = 0; waited < 5000 && moving(); waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Drain();
  }
  Drain();
}

// Writes "focus NAME" whenever the deepest focused control changes (read
// from the tree ten times a second: controls tell their focus in their own
// ways, the tree's focus chain is the one record of it).
struct TFocusWatch {
  TRootControl* Root = nullptr;
  TFrameControl* Last = nullptr;
  void Tick(TTimerEvent*) {
    TFrameControl* c = Root;
    while (c && c->FocusedChild()) c = c->FocusedChild();
    if (c == Last || c == Root) return;
    Last = c;
    std::printf("focus %s\n", c->Name().empty() ? "(unnamed)" : c->Name().c_str());
    std::fflush(stdout);
  }
};

struct TLiveDump {
  TFrameFormTree* Tree = nullptr;
  std::string Path;
  TSize Last{0, 0};
  void Tick(TTimerEvent*) {
    const TSize now = Tree->Size();
    if (now == Last || Tree->NeedsUpdate()) return;
    TSize written;
    if (DumpTree(Tree, Path, written)) {
      Last = written;
      std::printf("dumped %d %d\n", int(written.cx), int(written.cy));
      std::fflush(stdout);
    }
  }
};

// The default style set drawn at `scale` (as on a screen of 96 x scale
// pixels an inch): the painters' sizes and the fonts.
void ScaleDefaultStyles(double scale) {
  TControlStyles* s = DefaultControlStyles();
  if (!s) return;
  s->ScaleX = s->ScaleY = scale;
  for (TFontDesc* f : {&s->NormalFont, &s->SelectionFont, &s->ControlFont}) f->Size = float(f->Size * scale);
}

int Usage() {
  std::fprintf(stderr, "usage: kavcontrols [--dump OUT.png | --live-dump OUT.png] [--width N] [--scale F]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int box = win::RunIfBoxProgram(argc, argv); box >= 0) return box;  // the window layer's box program
  std::string dump, live;
  int32_t width = 520;
  double scale = 1.0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dump" && i + 1 < argc) dump = argv[++i];
    else if (a == "--live-dump" && i + 1 < argc) live = argv[++i];
    else if (a == "--width" && i + 1 < argc) width = std::max(200, std::min(4000, std::atoi(argv[++i])));
    else if (a == "--scale" && i + 1 < argc) scale = std::max(0.5, std::min(4.0, std::atof(argv[++i])));
    else return Usage();
  }
  try {
    win::InitWindowSystem(std::make_unique<win::TSdlWindowBackend>());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kavcontrols: %s\n", e.what());
    return 1;
  }
  int rc = 0;
  {
    Ref<TVxApplication> app = Ref<TVxApplication>::Adopt(CreateApplication());
    app->Initialize();
    InitializeThemedControls();
    if (scale != 1.0) ScaleDefaultStyles(scale);
    gallery::LogClicks = dump.empty();

    TFrameForm* form = CreateFrameForm(FormStylePreset(0));
    bool gone = false;
    auto* content = new TGalleryContent;
    content->Gone = &gone;
    form->SetContent(content);
    form->SetCaption(u"kavcontrols");
    TWinRootControl* root = FrameFormRootControl(form);
    const int32_t height = gallery::BuildGallery(root, width);
    form->SetBounds(TRect{80, 80, 80 + width, 80 + height});
    root->SetSize(width, height);
    form->SetVisible(true);
    Drain();

    TLiveDump live_dump;
    TMultiTimerEvent* live_timer = nullptr;
    TFocusWatch focus_watch;
    TMultiTimerEvent* focus_timer = nullptr;
    if (!dump.empty()) {
      WaitForStillness(root);
      TSize size;
      if (!DumpTree(FrameFormTree(form), dump, size)) {
        std::fprintf(stderr, "kavcontrols: cannot write %s\n", dump.c_str());
        rc = 1;
      }
    } else {
      if (!live.empty()) {
        live_dump.Tree = FrameFormTree(form);
        live_dump.Path = live;
        live_timer = MultiTimerAddEvent(100, 0, TTimerEventHandler::Bind<&TLiveDump::Tick>(&live_dump));
      }
      focus_watch.Root = root;
      focus_timer = MultiTimerAddEvent(100, 0, TTimerEventHandler::Bind<&TFocusWatch::Tick>(&focus_watch));
      std::printf("ready %llu\n", static_cast<unsigned long long>(FrameFormWindow(form)));
      std::fflush(stdout);
      app->Run();
    }
    if (live_timer) MultiTimerRemoveEvent(live_timer);
    if (focus_timer) MultiTimerRemoveEvent(focus_timer);
    if (!gone) form->Free();
    Drain();
    EmptyPendingReleaseList();
    gallery::FreeGalleryStyles();
    FinalizeThemedControls();
    FreeMultiTimer();
    if (!app->Finalized()) app->Finalize();
  }
  win::DoneWindowSystem();
  return rc;
}
