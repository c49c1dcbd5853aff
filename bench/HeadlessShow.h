// The headless player the show benchmarks run on: the window system over
// the null backend, the application and the software device over the
// offscreen sink, all on the calling thread (it stands for the GUI thread).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/Application2/winApplication.h"
#include "platform/d3d/SwDirect3D.h"
#include "platform/d3d/gl/GlDevice.h"
#include "platform/d3d/gl/egl/GlEglContext.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"
#include "platform/window/WinApi.h"
#include "platform/window/null/NullWindowBackend.h"

namespace kav::benchshow {

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr uint64_t kWindow = 11;

// The standard transitions the bench shows take in turn, one second into
// every slide: their names, and the show objects that define them.
constexpr const char* kEffects[] = {"dissolve", "push", "hourhand", "shapes", "gates", "page",
                                    "mosaic", "slide", "curling", "flip", "swap"};
constexpr const char* kEffectObjects =
    "object TheEffect:AnEffect\r\ntime=1000\r\n"
    "object dissolve:Effect\r\nchecked=1\r\nend\r\n"
    "object push:Effect\r\nchecked=1\r\ndirection=1000\r\nend\r\n"
    "object hourhand:Effect\r\nchecked=1\r\naction=10\r\ndirection=100000000\r\nsmoothline=0.35\r\nend\r\n"
    "object shapes:Effect\r\nchecked=1\r\naction=10\r\ndirection=100\r\ncenterx=50\r\ncentery=50\r\nend\r\n"
    "object gates:Effect\r\nchecked=1\r\ndirection=10000000\r\nend\r\n"
    "object page:Effect\r\nchecked=1\r\ndirection=10000000\r\nend\r\n"
    "object mosaic:Effect\r\nchecked=1\r\ncols=16\r\nrows=9\r\nappearence=20\r\nend\r\n"
    "object slide:Effect\r\nchecked=1\r\ndirection=0100\r\nend\r\n"
    "object curling:Effect\r\nchecked=1\r\naction=10\r\ndirection=10000000\r\nusecolor=0\r\nusevolume=1\r\n"
    "radius=0.2\r\n3dvolume=0.125\r\nend\r\n"
    "object flip:Effect\r\nchecked=1\r\ndirection=1000\r\nspin_center=0\r\nnonlinear_speed=1\r\n3dvolume=0.5\r\nend\r\n"
    "object swap:Effect\r\nchecked=1\r\ndirection=0010\r\ndepth=4\r\ndistance=1\r\nangle=60\r\nend\r\n"
    "end\r\n";

// The offscreen sink that also notes when each frame arrived, so that a
// benchmark can tell a pass that drew a frame from one that waited.
class TTimedSink : public TSwOffscreenSink {
 public:
  using TClock = std::chrono::steady_clock;
  bool Present(TSwWindow window, const TSwFrameView& frame, int32_t x, int32_t y) override {
    const bool ok = TSwOffscreenSink::Present(window, frame, x, y);
    last_.store(TClock::now().time_since_epoch().count());
    count_.fetch_add(1);
    return ok;
  }
  uint64_t Count() const { return count_.load(); }
  TClock::time_point Last() const { return TClock::time_point(TClock::duration(last_.load())); }

 private:
  std::atomic<uint64_t> count_{0};
  std::atomic<TClock::rep> last_{0};
};

struct THeadless {
  Ref<TTimedSink> Sink = MakeRef<TTimedSink>();
  Ref<TSwDirect3D> D3D;
  Ref<TDrawDevice> Device;
  Ref<TVxApplication> App;

  // With `gl` the device draws through headless OpenGL; D3D stays null when
  // there is none.
  explicit THeadless(int32_t raster_threads, bool gl = false) {
    win::InitWindowSystem(std::make_unique<win::TNullWindowBackend>());
    App = Ref<TVxApplication>::Adopt(CreateApplication());
    App->Initialize();
    TSwConfig cfg;
    cfg.Sink = Sink;
    cfg.RasterThreads = raster_threads;
    if (gl && !(cfg.Backend = HeadlessGlSystem())) return;
    cfg.Monitors[0].Bounds = TSwRect{0, 0, kWidth, kHeight};
    D3D = MakeRef<TSwDirect3D>(cfg);
    Ref<TSwDirect3D> d3d = D3D;
    SetDirect3DFactory([d3d] { return d3d; });
    Set3DExclusiveAllowed(false);
    RegisterDirect3DEngine();
    FreeEngine3D();
    Device = MakeRef<TDrawDevice>(kWindow);
    Sink->SetClientSize(kWindow, kWidth, kHeight);
    Device->SetBounds(TRect{0, 0, kWidth, kHeight}, TPoint{}, false);
  }
  ~THeadless() {
    Device = nullptr;
    if (D3D) {
      FreeEngine3D();
      SetDirect3DFactory(nullptr);
    }
    if (!App->Finalized()) App->Finalize();
    App = nullptr;
    win::DoneWindowSystem();
  }
  uint64_t Presents() const { return Sink->Count(); }
  // The GUI thread's messages (engine reports), dispatched and dropped.
  static void Drain() {
    win::TMsg m;
    while (win::PeekMessage(&m, 0, 0, 0, win::PM_REMOVE)) win::DispatchMessage(m);
  }
};

}  // namespace kav::benchshow
