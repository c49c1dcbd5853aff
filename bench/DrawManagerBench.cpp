// The draw manager on 1080p frames, each figure beside its baseline in the
// same run: a typical slide through the drawer against the bare device
// drawing the same quads ("x_bare"), the upload of a 4K picture into tile
// textures against memcpy of its bytes ("x_memcpy" in wall time, which
// includes the pause after each tile; "x_memcpy_cpu" in the thread's CPU
// time), and one 1080p YUV
// frame through "color_grade_video" (ms per frame on one and two raster
// threads, and against a 1080p picture drawn 1:1, "x_picture"), plain and
// colour-graded.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <time.h>

#include "KavLib2/3DEngine/ColorGradeGenerator.h"
#include "KavLib2/3DEngine/DrawShaders.h"
#include "KavLib2/3DEngine/DrawVideo3D.h"
#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "platform/d3d/SwDevice.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"
#include "platform/d3d/raster/SwFastQuad.h"
#include "tools/framedump/FrameDump.h"

namespace kav {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kW = 1920, kH = 1080;

Ref<TImage> Picture(int32_t w, int32_t h) {
  auto b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) reinterpret_cast<uint32_t*>(b->Row(y))[x] = 0xFF000000u | uint32_t(x ^ y);
  return ImageFromBitmap(b.get(), false, u"bench");
}

template <class F>
double BestMs(int runs, F fn) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    fn();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return best;
}

// CPU time of the calling thread, in milliseconds.
double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// The bare device: the same background, picture and three boxes as
// pre-transformed quads from ready textures.
double BareSlideMs() {
  struct TV {
    float x, y, z, rhw;
    uint32_t c;
    float u, v;
  };
  TSwConfig cfg;
  cfg.Sink = MakeRef<TSwOffscreenSink>();  // presented like the drawer's frames
  Ref<TSwDirect3D> d3d = MakeRef<TSwDirect3D>(cfg);
  Ref<TSwDevice> dev;
  TSwPresentParams pp;
  pp.BackBufferWidth = kW;
  pp.BackBufferHeight = kH;
  d3d->CreateDevice(0, 1, 0, pp, dev);
  auto tex = [&](uint32_t w, uint32_t h) {
    Ref<TSwTexture> t;
    dev->CreateTexture(w, h, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, t);
    return t;
  };
  Ref<TSwTexture> bg = tex(2048, 2048), pic = tex(1024, 1024);
  auto quad = [&](float x0, float y0, float x1, float y1, float u1, float v1, uint32_t c) {
    TV q[4] = {{x0 - 0.5f, y0 - 0.5f, 0, 1, c, 0, 0}, {x1 - 0.5f, y0 - 0.5f, 0, 1, c, u1, 0},
               {x0 - 0.5f, y1 - 0.5f, 0, 1, c, 0, v1}, {x1 - 0.5f, y1 - 0.5f, 0, 1, c, u1, v1}};
    dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(TV));
  };
  dev->SetFVF(SwFvfXYZRHW | SwFvfDiffuse | SwFvfTex(1));
  dev->SetRenderState(TSwRenderState::AlphaBlendEnable, 1);
  dev->SetRenderState(TSwRenderState::SrcBlend, uint32_t(TSwBlend::SrcAlpha));
  dev->SetRenderState(TSwRenderState::DestBlend, uint32_t(TSwBlend::InvSrcAlpha));
  dev->SetSamplerState(0, TSwSamplerState::MagFilter, uint32_t(TSwFilter::Linear));
  dev->SetSamplerState(0, TSwSamplerState::MinFilter, uint32_t(TSwFilter::Linear));
  return BestMs(10, [&] {
    dev->BeginScene();
    dev->Clear(0, nullptr, SwClearTarget, 0xFF000000, 1, 0);
    dev->SetTexture(0, bg.get());
    dev->SetTextureStageState(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg1));
    quad(0, 0, kW, kH, kW / 2048.0f, kH / 2048.0f, 0xFFFFFFFF);
    dev->SetTexture(0, pic.get());
    quad(320, 180, 1600, 900, 1280 / 1024.0f * 0.8f, 720 / 1024.0f * 0.8f, 0xFFFFFFFF);
    dev->SetTexture(0, nullptr);
    dev->SetTextureStageState(0, TSwStageState::ColorArg1, uint32_t(TSwTextureArg::Diffuse));
    for (int i = 0; i < 3; ++i) quad(100 + i * 300.0f, 900, 350 + i * 300.0f, 1000, 0, 0, 0x80FF8040);
    dev->SetTextureStageState(0, TSwStageState::ColorArg1, uint32_t(TSwTextureArg::Texture));
    dev->EndScene();
    dev->Present(nullptr, nullptr, 0);
  });
}

void BM_DrawManagerSlide(benchmark::State& state) {
  const double bare = BareSlideMs();
  TFrameDumper dumper(kW, kH);
  Ref<TImage> bg = Picture(kW, kH), pic = Picture(1280, 720);
  auto draw = [&](TDeviceDrawer* d) {
    d->Clear(0xFF000000, 0);
    TImageDrawParams p;
    d->DrawImage(bg.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, kH, 0}, T3DPoint{kW, 0, 0}, TSize{kW, kH});
    d->DrawImage(pic.get(), T3DPoint{320, 180, 0}, p, T3DPoint{0, 720, 0}, T3DPoint{1280, 0, 0}, TSize{1280, 720});
    TBoxParams box;
    box.ColorA = box.ColorB = 0x80FF8040;
    for (int i = 0; i < 3; ++i)
      d->FillBox(T3DPoint{100 + i * 300.0f, 900, 0}, TFloatPoint{250, 100}, box, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
  };
  dumper.RenderFrame(draw);  // textures made and uploaded once
  double total = 0;
  int64_t n = 0;
  const uint64_t fast0 = SwRasterStats().FastQuads, span0 = SwRasterStats().FastSpanDraws,
                 ref0 = SwRasterStats().ReferenceDraws;
  for (auto _ : state) {
    auto t0 = Clock::now();
    dumper.RenderFrame(draw);
    total += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    ++n;
  }
  if (n) {
    state.counters["quads"] = double(SwRasterStats().FastQuads - fast0) / double(n);
    state.counters["spans"] = double(SwRasterStats().FastSpanDraws - span0) / double(n);
    state.counters["ref"] = double(SwRasterStats().ReferenceDraws - ref0) / double(n);
  }
  // Best frames of each, measured the same way (the machine is shared).
  const double best = BestMs(10, [&] { dumper.RenderFrame(draw); });
  state.counters["bare_ms"] = bare;
  state.counters["drawer_ms"] = best;
  state.counters["x_bare"] = best / bare;
  (void)total;
}
BENCHMARK(BM_DrawManagerSlide)->Unit(benchmark::kMillisecond);

void BM_Upload4K(benchmark::State& state) {
  constexpr int32_t w = 3840, h = 2160;
  Ref<TImage> img = Picture(w, h);
  std::vector<uint8_t> a(size_t(w) * h * 4, 1), b(a.size());
  const double memcpy_ms = BestMs(10, [&] {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
  });
  double memcpy_cpu = 1e9;
  for (int i = 0; i < 10; ++i) {
    const double c0 = ThreadCpuMs();
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
    memcpy_cpu = std::min(memcpy_cpu, ThreadCpuMs() - c0);
  }
  TFrameDumper dumper(64, 64);
  T3DDrawer* d = dumper.Drawer();
  dumper.RenderFrame([](TDeviceDrawer*) {});
  d->Screen()->BeginScene();
  double total = 0, cpu = 0, best_cpu = 1e9;
  int64_t n = 0;
  for (auto _ : state) {
    d->FreeOwnerTextures(img.get());
    auto t0 = Clock::now();
    const double c0 = ThreadCpuMs();
    d->PrepareImage(img.get(), TImageDrawParams{});
    const double c = ThreadCpuMs() - c0;
    total += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    cpu += c;
    best_cpu = std::min(best_cpu, c);
    ++n;
  }
  d->FreeOwnerTextures(img.get());
  state.counters["memcpy_ms"] = memcpy_ms;
  state.counters["x_memcpy"] = n ? total / n / memcpy_ms : 0;
  state.counters["memcpy_cpu_ms"] = memcpy_cpu;
  state.counters["upload_cpu_ms"] = n ? cpu / n : 0;
  // Best against best, as the other ratios of this file.
  state.counters["x_memcpy_cpu"] = n ? best_cpu / memcpy_cpu : 0;
}
BENCHMARK(BM_Upload4K)->Unit(benchmark::kMillisecond);

// One 1080p YUV frame against a 1080p picture drawn 1:1 through the same
// drawer; `graded`: the frame mixed 3/4 of the way toward a 32x32x32
// volume lookup (the identity volume, so every lookup is in use).
void VideoAgainstPicture(benchmark::State& state, bool graded) {
  TFrameDumper dumper(kW, kH);
  T3DDrawer* d = dumper.Drawer();
  dumper.RenderFrame([](TDeviceDrawer*) {});
  Ref<TYUVImage> frame = Ref<TYUVImage>::Adopt(d->CreateVideoTextures(kW, kH, false));
  for (int p = 0; p < 3; ++p) {
    Ref<TSysBitmap> b = frame->LockPlane(p);
    if (!b) continue;
    for (int32_t y = 0; y < b->Height(); ++y)
      for (int32_t x = 0; x < b->Width(); ++x) b->Row(y)[x] = uint8_t(60 + p * 20 + ((x * 7 + y * 3) & 63));
    frame->UnlockPlane(p);
  }
  frame->Commit();
  TSwDevice* dev = nullptr;
  if (auto* r9 = dynamic_cast<T3DRenderer9*>(d->Screen()->Renderer()))
    if (r9->Store()) dev = r9->Store()->Device();
  if (dev) dev->SetRasterThreads(2);
  TVideoDrawParams vp;
  Ref<TCustomColorGradeTexture> lut;
  if (graded) {
    lut = MakeRef<TCustomColorGradeTexture>(d->Screen(), uint8_t(1));
    vp.GradeLut1 = lut.get();
    vp.GradeMix = 0.75f;
  }
  auto video = [&] {
    dumper.RenderFrame([&](TDeviceDrawer* dr) {
      dr->DrawVideo(frame.get(), T3DPoint{0, 0, 0}, vp, T3DPoint{0, kH, 0}, T3DPoint{kW, 0, 0});
    });
  };
  // The baseline: a 1080p picture drawn 1:1 through the same drawer.
  Ref<TImage> pic = Picture(kW, kH);
  auto picture = [&] {
    dumper.RenderFrame([&](TDeviceDrawer* dr) {
      TImageDrawParams p;
      dr->DrawImage(pic.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, kH, 0}, T3DPoint{kW, 0, 0}, TSize{kW, kH});
    });
  };
  picture();  // tiles made and uploaded once
  for (auto _ : state) video();
  // Best frames of each at one and two raster threads, measured alternately
  // (the machine is shared).
  for (int threads : {1, 2}) {
    if (dev) dev->SetRasterThreads(threads);
    double vid = 1e9, pict = 1e9;
    for (int i = 0; i < 5; ++i) {
      vid = std::min(vid, BestMs(3, video));
      pict = std::min(pict, BestMs(3, picture));
    }
    const std::string t = std::to_string(threads) + "t";
    state.counters["video_ms_" + t] = vid;
    state.counters["picture_ms_" + t] = pict;
    state.counters["x_picture_" + t] = vid / pict;
  }
}

void BM_Video1080p(benchmark::State& state) { VideoAgainstPicture(state, false); }
void BM_GradedVideo1080p(benchmark::State& state) { VideoAgainstPicture(state, true); }
BENCHMARK(BM_Video1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GradedVideo1080p)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kav
