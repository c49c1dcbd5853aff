// Pictures scaled onto a 1920x1080 screen by the software device against
// pixman doing the same operation: bilinear sampling with edge clamping,
// premultiplied OVER onto an opaque screen, with the same thread count and
// the same row bands. Sources: a 24-megapixel photo (6000x4000), 3840x2160,
// 2560x1440, 1920x1080, 1280x720 and 640x360. "x_pixman" is the device's time over pixman's, both measured in
// this run (the best of a few runs of each, interleaved).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "platform/d3d/SwDevice.h"
#include "platform/d3d/raster/SwBands.inl"

namespace kav {
namespace {

constexpr uint32_t kW = 1920, kH = 1080;
using Clock = std::chrono::steady_clock;

struct TSource {
  uint32_t W, H;
};
constexpr TSource kSources[] = {{6000, 4000}, {3840, 2160}, {2560, 1440}, {1920, 1080}, {1280, 720}, {640, 360}};

// Random premultiplied pixels (alpha at least each colour channel).
uint32_t Premultiplied(std::mt19937& rng) {
  uint32_t v = uint32_t(rng());
  uint32_t a = v >> 24;
  uint32_t r = ((v >> 16) & 255) * a / 255, g = ((v >> 8) & 255) * a / 255, b = (v & 255) * a / 255;
  return a << 24 | r << 16 | g << 8 | b;
}

struct TScaleRig {
  Ref<TSwDirect3D> D3D = MakeRef<TSwDirect3D>(TSwConfig());
  Ref<TSwDevice> Dev;
  Ref<TSwTexture> Tex[6];
  std::vector<std::vector<uint32_t>> Pixels;
  std::vector<uint32_t> Screen = std::vector<uint32_t>(size_t(kW) * kH, 0xFF203040u);
  TScaleRig() {
    TSwPresentParams pp;
    pp.BackBufferWidth = kW;
    pp.BackBufferHeight = kH;
    D3D->CreateDevice(0, 1, 0, pp, Dev);
    std::mt19937 rng(11);
    for (int i = 0; i < 6; ++i) {
      const TSource s = kSources[i];
      std::vector<uint32_t> px(size_t(s.W) * s.H);
      for (uint32_t& p : px) p = Premultiplied(rng);
      Dev->CreateTexture(s.W, s.H, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, Tex[i]);
      TSwLockedRect lr;
      Tex[i]->LockRect(0, lr, nullptr, 0);
      for (uint32_t y = 0; y < s.H; ++y)
        std::copy_n(px.data() + size_t(y) * s.W, s.W, static_cast<uint32_t*>(lr.Bits) + size_t(y) * uint32_t(lr.Pitch) / 4);
      Tex[i]->UnlockRect(0);
      Pixels.push_back(std::move(px));
    }
  }
  void DeviceDraw(int i) {
    Dev->SetTexture(0, Tex[i].get());
    Dev->SetTextureStageState(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg1));
    Dev->SetTextureStageState(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg1));
    for (auto f : {TSwSamplerState::MagFilter, TSwSamplerState::MinFilter})
      Dev->SetSamplerState(0, f, uint32_t(TSwFilter::Linear));
    for (auto a : {TSwSamplerState::AddressU, TSwSamplerState::AddressV})
      Dev->SetSamplerState(0, a, uint32_t(TSwAddress::Clamp));
    Dev->SetRenderState(TSwRenderState::AlphaBlendEnable, 1);
    Dev->SetRenderState(TSwRenderState::SrcBlend, uint32_t(TSwBlend::One));
    Dev->SetRenderState(TSwRenderState::DestBlend, uint32_t(TSwBlend::InvSrcAlpha));
    Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
    struct V { float x, y, z, rhw; uint32_t c; float u, v; } q[4] = {
        {-0.5f, -0.5f, 0, 1, 0xFFFFFFFF, 0, 0}, {kW - 0.5f, -0.5f, 0, 1, 0xFFFFFFFF, 1, 0},
        {-0.5f, kH - 0.5f, 0, 1, 0xFFFFFFFF, 0, 1}, {kW - 0.5f, kH - 0.5f, 0, 1, 0xFFFFFFFF, 1, 1}};
    Dev->SetFVF(SwFvfXYZRHW | SwFvfDiffuse | SwFvfTex(1));
    Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(V));
  }
  void PixmanDraw(int i, int32_t threads) {
    const TSource s = kSources[i];
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, int(s.W), int(s.H), Pixels[size_t(i)].data(), int(s.W * 4));
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, int(kW), int(kH), Screen.data(), int(kW * 4));
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(s.W) / kW), pixman_double_to_fixed(double(s.H) / kH));
    pixman_image_set_transform(src, &t);
    pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(src, PIXMAN_REPEAT_PAD);
    SwForBands(0, int32_t(kH), int64_t(kW) * kH, threads, [&](int32_t b0, int32_t b1) {
      pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, b0, 0, 0, 0, b0, int(kW), b1 - b0);
    });
    pixman_image_unref(src);
    pixman_image_unref(dst);
  }
};

TScaleRig& Rig() {
  static TScaleRig r;
  return r;
}

template <class F>
double BestMs(int runs, F&& f) {
  double best = 1e9;
  for (int k = 0; k < runs; ++k) {
    auto t0 = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return best;
}

// Arguments: source index, threads.
void BM_ScaleOntoScreen(benchmark::State& state) {
  TScaleRig& r = Rig();
  const int i = int(state.range(0));
  const int32_t threads = int32_t(state.range(1));
  r.Dev->SetRasterThreads(threads);
  r.Dev->BeginScene();
  double dev = 1e9, pix = 1e9;
  for (auto _ : state) {
    dev = std::min(dev, BestMs(3, [&] { r.DeviceDraw(i); }));
    pix = std::min(pix, BestMs(3, [&] { r.PixmanDraw(i, threads); }));
  }
  r.Dev->EndScene();
  state.counters["src_w"] = kSources[i].W;
  state.counters["ms"] = dev;
  state.counters["pixman_ms"] = pix;
  state.counters["x_pixman"] = dev / pix;
}

BENCHMARK(BM_ScaleOntoScreen)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {1, 2}})
    ->Iterations(8)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kav
