// Presentation: the offscreen sink and its PNG dumps, the SDL sink headless
// and, when a display exists (the Xvfb run), in a real window.
#include "SwTestRig.h"

#include <SDL.h>
#include <png.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/d3d/sdl/SwSdlSink.h"

namespace kav {
namespace {

using swtest::TRig;

void FillBackBuffer(TSwDevice& dev) {
  Ref<TSwSurface> bb;
  dev.GetBackBuffer(0, 0, bb);
  for (uint32_t y = 0; y < bb->Height(); ++y)
    for (uint32_t x = 0; x < bb->Width(); ++x)
      reinterpret_cast<uint32_t*>(bb->Row(int32_t(y)))[x] = 0xFF000000u | (x * 8) << 16 | (y * 8) << 8 | 0x40;
}

TEST(SwOffscreenSink, KeepsTheLastFramePerWindowAndWritesPng) {
  TRig rig(16, 8);
  FillBackBuffer(*rig.Dev);
  ASSERT_EQ(rig.Dev->Present(nullptr, nullptr, 0), TSwResult::Ok);
  TSwOffscreenSink::TFrame f;
  ASSERT_TRUE(rig.Sink->LastFrame(swtest::kWindow, f));
  EXPECT_EQ(f.Width, 16u);
  EXPECT_EQ(f.Height, 8u);
  EXPECT_EQ(f.Pixels[3 * 16 + 5], 0xFF281840u);
  // Source and destination rectangles: the 4x4 block at (2, 2) doubled at (20, 10) of another window.
  TSwRect src{2, 2, 6, 6}, dst{20, 10, 28, 18};
  ASSERT_EQ(rig.Dev->Present(&src, &dst, 99), TSwResult::Ok);
  ASSERT_TRUE(rig.Sink->LastFrame(99, f));
  EXPECT_EQ(f.Width, 28u);
  EXPECT_EQ(f.Pixels[10 * 28 + 20], 0xFF101040u);
  EXPECT_EQ(f.Pixels[17 * 28 + 27], 0xFF282840u);
  EXPECT_EQ(f.Pixels[0], 0xFF000000u);
  TSwRect outside{10, 0, 17, 8};
  EXPECT_EQ(rig.Dev->Present(&outside, nullptr, 0), TSwResult::InvalidCall);
  // A back buffer sized from the window's client size.
  rig.Sink->SetClientSize(55, 12, 6);
  TSwPresentParams pp;
  pp.DeviceWindow = 55;
  Ref<TSwSwapChain> chain;
  ASSERT_EQ(rig.Dev->CreateAdditionalSwapChain(pp, chain), TSwResult::Ok);
  Ref<TSwSurface> bb;
  chain->GetBackBuffer(0, bb);
  EXPECT_EQ(bb->Width(), 12u);
  EXPECT_EQ(chain->Present(nullptr, nullptr, 0, 0), TSwResult::Ok);

  std::string path = testing::TempDir() + "sw_sink_frame.png";
  ASSERT_TRUE(rig.Sink->WritePng(swtest::kWindow, path));
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&img, path.c_str()));
  img.format = PNG_FORMAT_BGRA;
  std::vector<uint32_t> px(size_t(img.width) * img.height);
  ASSERT_TRUE(png_image_finish_read(&img, nullptr, px.data(), 0, nullptr));
  EXPECT_EQ(img.width, 16u);
  EXPECT_EQ(px[3 * 16 + 5], 0xFF281840u);
  std::remove(path.c_str());
  EXPECT_FALSE(rig.Sink->WritePng(12345, path));
  EXPECT_FALSE(rig.Sink->WritePng(swtest::kWindow, "/nonexistent-dir/x.png"));
}

// Presents one frame from the GUI thread and one from another thread, shows
// the second through Service() and reads the window surface back.
void PresentThroughSdl() {
  auto sink = MakeRef<TSwSdlSink>();
  std::atomic<int> wakes{0};
  sink->SetWaker([&wakes] { ++wakes; });
  TSwWindow win = sink->CreateWindow("kav sw sink", 32, 24);
  ASSERT_NE(win, 0u) << SDL_GetError();
  TSwConfig cfg;
  cfg.Sink = sink;
  auto d3d = MakeRef<TSwDirect3D>(cfg);
  TSwPresentParams pp;  // back buffer of the window's client size
  pp.DeviceWindow = win;
  Ref<TSwDevice> dev;
  ASSERT_EQ(d3d->CreateDevice(0, win, 0, pp, dev), TSwResult::Ok);
  ASSERT_EQ(dev->Clear(0, nullptr, SwClearTarget, 0xFF0000FFu, 1, 0), TSwResult::Ok);
  ASSERT_EQ(dev->Present(nullptr, nullptr, 0), TSwResult::Ok);
  auto pixel = [&](int x, int y) {
    SDL_Surface* s = SDL_GetWindowSurface(SDL_GetWindowFromID(uint32_t(win)));
    uint32_t v = 0;
    if (s) SDL_LockSurface(s);
    if (s && s->pixels) {
      uint8_t r, g, b;
      uint32_t raw;
      std::memcpy(&raw, static_cast<uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel, 4);
      SDL_GetRGB(raw, s->format, &r, &g, &b);
      v = uint32_t(r) << 16 | uint32_t(g) << 8 | b;
    }
    if (s) SDL_UnlockSurface(s);
    return v;
  };
  EXPECT_EQ(pixel(5, 5), 0x0000FFu);
  dev->Clear(0, nullptr, SwClearTarget, 0xFF00FF00u, 1, 0);
  TSwResult r = TSwResult::InvalidCall;
  std::thread engine([&] { r = dev->Present(nullptr, nullptr, 0); });
  engine.join();
  EXPECT_EQ(r, TSwResult::Ok);
  EXPECT_EQ(pixel(5, 5), 0x0000FFu);  // nothing shown until the GUI thread services the sink
  bool woken = false;
  SDL_Event e;
  while (SDL_PollEvent(&e)) woken |= e.type == sink->WakeEventType();
  EXPECT_TRUE(woken);
  EXPECT_EQ(sink->Service(), 1);
  EXPECT_EQ(pixel(5, 5), 0x00FF00u);
  // The next frames from the engine thread go through the buffer the shown
  // one left behind: each shows its own pixels.
  for (uint32_t colour : {0xFFFF0000u, 0xFF0000FFu}) {
    dev->Clear(0, nullptr, SwClearTarget, colour, 1, 0);
    std::thread next([&] { r = dev->Present(nullptr, nullptr, 0); });
    next.join();
    EXPECT_EQ(r, TSwResult::Ok);
    while (SDL_PollEvent(&e)) {
    }
    EXPECT_EQ(sink->Service(), 1);
    EXPECT_EQ(pixel(5, 5), colour & 0xFFFFFFu);
  }
  EXPECT_EQ(wakes, 3);  // the waker after each frame from another thread
  // A new size makes SDL's surface anew, empty (as every map of a
  // full-screen window does): the last frame goes back in.
  SDL_SetWindowSize(SDL_GetWindowFromID(uint32_t(win)), 40, 30);
  EXPECT_EQ(pixel(5, 5), 0u);
  EXPECT_TRUE(sink->Reshow(win));
  EXPECT_EQ(pixel(5, 5), 0x0000FFu);
  // A frame presented on the GUI thread is kept too.
  dev->Clear(0, nullptr, SwClearTarget, 0xFFFFFF00u, 1, 0);
  ASSERT_EQ(dev->Present(nullptr, nullptr, 0), TSwResult::Ok);
  SDL_SetWindowSize(SDL_GetWindowFromID(uint32_t(win)), 32, 24);
  EXPECT_EQ(pixel(5, 5), 0u);
  EXPECT_TRUE(sink->Reshow(win));
  EXPECT_EQ(pixel(5, 5), 0xFFFF00u);
  EXPECT_EQ(wakes, 3);
  EXPECT_FALSE(sink->Reshow(win + 1000));  // no such window
  dev = nullptr;
  d3d = nullptr;
  sink = nullptr;
}

TEST(SwSdlSink, PresentsHeadlessThroughTheGuiThread) {
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  if (!driver || !*driver) setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (std::getenv("DISPLAY") && std::string(std::getenv("SDL_VIDEODRIVER")) == "x11")
    GTEST_SKIP() << "the X11 run is the Xvfb test";
  PresentThroughSdl();
}

TEST(SwSdlSinkXvfb, PresentsToARealWindow) {
  if (!std::getenv("DISPLAY") || !std::getenv("KAV_XVFB_TEST"))
    GTEST_SKIP() << "needs a display: runs under xvfb-run as the platform_d3d_xvfb test";
  setenv("SDL_VIDEODRIVER", "x11", 1);
  PresentThroughSdl();
}

}  // namespace
}  // namespace kav
