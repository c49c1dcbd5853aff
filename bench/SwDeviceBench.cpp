// Speed of the software 3D device on full-screen 1920x1080 passes. Every
// figure is also given as a ratio to memcpy of one 1920x1080 32-bit frame
// measured in the same run ("x_memcpy": the memory-bandwidth bound of the
// machine) and, for the rectangle pass, to the reference pipeline
// ("x_fast" in the reference benchmark). The argument is the number of
// rasterising threads (1, 2 and all).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "VoRav/wpCpuCount.h"
#include "platform/d3d/SwDevice.h"

namespace kav {
namespace {

constexpr uint32_t kW = 1920, kH = 1080;
using Clock = std::chrono::steady_clock;

double MemcpyMs() {
  static const double ms = [] {
    std::vector<uint8_t> a(size_t(kW) * kH * 4, 1), b(a.size());
    double best = 1e9;
    for (int i = 0; i < 30; ++i) {
      auto t0 = Clock::now();
      std::memcpy(b.data(), a.data(), a.size());
      benchmark::DoNotOptimize(b.data());
      best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return best;
  }();
  return ms;
}

struct TBench {
  Ref<TSwDirect3D> D3D = MakeRef<TSwDirect3D>(TSwConfig());
  Ref<TSwDevice> Dev;
  Ref<TSwTexture> Picture, Full;
  TBench() {
    TSwPresentParams pp;
    pp.BackBufferWidth = kW;
    pp.BackBufferHeight = kH;
    D3D->CreateDevice(0, 1, 0, pp, Dev);
    Picture = Make(1280, 720);
    Full = Make(kW, kH);
  }
  Ref<TSwTexture> Make(uint32_t w, uint32_t h) {
    Ref<TSwTexture> t;
    Dev->CreateTexture(w, h, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, t);
    TSwLockedRect lr;
    t->LockRect(0, lr, nullptr, 0);
    std::mt19937 rng(5);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) static_cast<uint32_t*>(lr.Bits)[y * uint32_t(lr.Pitch) / 4 + x] = uint32_t(rng());
    t->UnlockRect(0);
    return t;
  }
  void Textured(TSwTexture* t, bool blend, bool modulate) {
    Dev->SetTexture(0, t);
    uint32_t op = uint32_t(modulate ? TSwTextureOp::Modulate : TSwTextureOp::SelectArg1);
    Dev->SetTextureStageState(0, TSwStageState::ColorOp, op);
    Dev->SetTextureStageState(0, TSwStageState::AlphaOp, op);
    Dev->SetTextureStageState(0, TSwStageState::ColorArg2, uint32_t(TSwTextureArg::Diffuse));
    Dev->SetTextureStageState(0, TSwStageState::AlphaArg2, uint32_t(TSwTextureArg::Diffuse));
    for (auto f : {TSwSamplerState::MagFilter, TSwSamplerState::MinFilter})
      Dev->SetSamplerState(0, f, uint32_t(TSwFilter::Linear));
    for (auto a : {TSwSamplerState::AddressU, TSwSamplerState::AddressV})
      Dev->SetSamplerState(0, a, uint32_t(TSwAddress::Clamp));
    Dev->SetRenderState(TSwRenderState::AlphaBlendEnable, blend);
    Dev->SetRenderState(TSwRenderState::SrcBlend, uint32_t(TSwBlend::SrcAlpha));
    Dev->SetRenderState(TSwRenderState::DestBlend, uint32_t(TSwBlend::InvSrcAlpha));
    Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  }
  void Rect(uint32_t color) {
    struct V { float x, y, z, rhw; uint32_t c; float u, v; } q[4] = {
        {-0.5f, -0.5f, 0, 1, color, 0, 0}, {kW - 0.5f, -0.5f, 0, 1, color, 1, 0},
        {-0.5f, kH - 0.5f, 0, 1, color, 0, 1}, {kW - 0.5f, kH - 0.5f, 0, 1, color, 1, 1}};
    Dev->SetFVF(SwFvfXYZRHW | SwFvfDiffuse | SwFvfTex(1));
    Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(V));
  }
  // A page turned by 35 degrees about the vertical axis through the screen
  // centre, seen by a 90-degree camera: most of the screen, in perspective.
  void Perspective() {
    TSwMatrix proj;
    const float n = 0.1f, f = 100.0f, aspect = float(kW) / kH;
    proj.m[0][0] = 1 / aspect;
    proj.m[2][2] = f / (f - n);
    proj.m[2][3] = 1;
    proj.m[3][2] = -n * f / (f - n);
    proj.m[3][3] = 0;
    Dev->SetTransform(TSwTransform::Projection, proj);
    const float c = 0.819f, s = 0.574f, hw = 1.7f, hh = 1.0f, z = 1.05f;
    struct V { float x, y, z; uint32_t col; float u, v; } q[4] = {
        {-hw * c, hh, z - hw * s, 0xC0FFFFFF, 0, 0}, {hw * c, hh, z + hw * s, 0xC0FFFFFF, 1, 0},
        {-hw * c, -hh, z - hw * s, 0xC0FFFFFF, 0, 1}, {hw * c, -hh, z + hw * s, 0xC0FFFFFF, 1, 1}};
    Dev->SetFVF(SwFvfXYZ | SwFvfDiffuse | SwFvfTex(1));
    Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(V));
  }
};

TBench& Bench() {
  static TBench b;
  return b;
}

int AllThreads() { return UsableCpuCount(); }

// Runs `pass` per iteration and reports milliseconds and the memcpy ratio.
template <class F>
void Measure(benchmark::State& state, F&& pass) {
  TBench& b = Bench();
  b.Dev->SetRasterThreads(int32_t(state.range(0)));
  b.Dev->BeginScene();
  double total = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    pass(b);
    total += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  }
  b.Dev->EndScene();
  b.Dev->SetFastPaths(true);
  double ms = total / double(state.iterations());
  state.counters["ms"] = ms;
  state.counters["x_memcpy"] = ms / MemcpyMs();
}

void BM_Memcpy1080p(benchmark::State& state) {
  std::vector<uint8_t> a(size_t(kW) * kH * 4, 1), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
  }
  state.counters["ms"] = MemcpyMs();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a.size()));
}

// Whole-screen clears, alternating colours so every pixel is written.
void BM_Clear(benchmark::State& state) {
  uint32_t n = 0;
  Measure(state, [&](TBench& b) { b.Dev->Clear(0, nullptr, SwClearTarget, (n++ & 1) ? 0xFF102030u : 0xFF302010u, 1, 0); });
}

// A frame that clears the screen and draws a small picture: the clear only
// refills what the previous frame drew.
void BM_ClearAfterSmallDraw(benchmark::State& state) {
  Measure(state, [](TBench& b) {
    b.Dev->Clear(0, nullptr, SwClearTarget, 0xFF000000u, 1, 0);
    b.Textured(b.Picture.get(), false, false);
    struct V { float x, y, z, rhw; uint32_t c; float u, v; } q[4] = {
        {99.5f, 99.5f, 0, 1, 0xFFFFFFFF, 0, 0}, {419.5f, 99.5f, 0, 1, 0xFFFFFFFF, 1, 0},
        {99.5f, 279.5f, 0, 1, 0xFFFFFFFF, 0, 1}, {419.5f, 279.5f, 0, 1, 0xFFFFFFFF, 1, 1}};
    b.Dev->SetFVF(SwFvfXYZRHW | SwFvfDiffuse | SwFvfTex(1));
    b.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(V));
  });
}

void BM_Copy1to1(benchmark::State& state) {
  Measure(state, [](TBench& b) {
    b.Textured(b.Full.get(), false, false);
    b.Rect(0xFFFFFFFF);
  });
}

void BM_BilinearBlendScaled(benchmark::State& state) {
  Measure(state, [](TBench& b) {
    b.Textured(b.Picture.get(), true, true);
    b.Rect(0xC0FFFFFF);
  });
}

void BM_BilinearBlendScaledReference(benchmark::State& state) {
  Bench().Dev->SetFastPaths(false);
  Measure(state, [](TBench& b) {
    b.Dev->SetFastPaths(false);
    b.Textured(b.Picture.get(), true, true);
    b.Rect(0xC0FFFFFF);
  });
}

void BM_PerspectiveQuad(benchmark::State& state) {
  Measure(state, [](TBench& b) {
    b.Textured(b.Picture.get(), true, true);
    b.Perspective();
  });
}

// A built-in pixel kernel made on the shared bench device.
Ref<TSwPixelShader> MakeKernel(std::string_view name) {
  const std::string blob = SwPixelShaderBlob(name);
  Ref<TSwPixelShader> s;
  Bench().Dev->CreatePixelShader(blob.data(), blob.size(), s);
  return s;
}

// Full-screen passes of one picture through the texture-times-constant kernel.
void TexTimesConstantPass(benchmark::State& state, Ref<TSwTexture> TBench::*picture) {
  static Ref<TSwPixelShader> shader = MakeKernel(kSwKernelTexTimesConstant);
  const float c0[4] = {1.0f, 0.9f, 0.8f, 0.75f};
  Measure(state, [&](TBench& b) {
    b.Textured((b.*picture).get(), true, false);
    b.Dev->SetPixelShader(shader.get());
    b.Dev->SetPixelShaderConstantF(0, c0, 1);
    b.Rect(0xFFFFFFFF);
    b.Dev->SetPixelShader(nullptr);
  });
}

// A full-screen pass through a pixel kernel (texture times a constant).
void BM_PixelKernelPass(benchmark::State& state) { TexTimesConstantPass(state, &TBench::Picture); }

// The same kernel over a 1080p picture drawn 1:1 (no filtering between
// texels): the kernel's own cost beside the scaling of the pass above.
void BM_PixelKernelPass1to1(benchmark::State& state) { TexTimesConstantPass(state, &TBench::Full); }

// A full-screen colour-graded pass: the picture looked up in a 32x32x32
// volume (the work of every graded image and video frame).
void BM_ColorLookupKernelPass(benchmark::State& state) {
  static Ref<TSwPixelShader> shader = MakeKernel(kSwKernelColorLookup);
  static Ref<TSwVolumeTexture> lut = [] {
    Ref<TSwVolumeTexture> v;
    Bench().Dev->CreateVolumeTexture(32, 32, 32, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, v);
    return v;
  }();
  const float t[4] = {0.5f, 0, 0, 0};
  Measure(state, [&](TBench& b) {
    b.Textured(b.Picture.get(), false, false);
    b.Dev->SetTexture(1, lut.get());
    b.Dev->SetSamplerState(1, TSwSamplerState::MagFilter, uint32_t(TSwFilter::Linear));
    for (auto a : {TSwSamplerState::AddressU, TSwSamplerState::AddressV, TSwSamplerState::AddressW})
      b.Dev->SetSamplerState(1, a, uint32_t(TSwAddress::Clamp));
    b.Dev->SetPixelShader(shader.get());
    b.Dev->SetPixelShaderConstantF(0, t, 1);
    b.Rect(0xFFFFFFFF);
    b.Dev->SetPixelShader(nullptr);
    b.Dev->SetTexture(1, nullptr);
  });
}

void BM_TransitionFrame4Passes(benchmark::State& state) {
  Measure(state, [](TBench& b) {
    b.Textured(b.Picture.get(), true, true);
    for (int i = 0; i < 4; ++i) b.Rect(0xC0FFFFFF);
  });
}

#define KAV_THREADS ->Arg(1)->Arg(2)->Arg(AllThreads())->UseRealTime()->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Memcpy1080p)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Clear) KAV_THREADS;
BENCHMARK(BM_ClearAfterSmallDraw) KAV_THREADS;
BENCHMARK(BM_Copy1to1) KAV_THREADS;
BENCHMARK(BM_BilinearBlendScaled) KAV_THREADS;
BENCHMARK(BM_BilinearBlendScaledReference) KAV_THREADS;
BENCHMARK(BM_PerspectiveQuad) KAV_THREADS;
BENCHMARK(BM_PixelKernelPass) KAV_THREADS;
BENCHMARK(BM_PixelKernelPass1to1) KAV_THREADS;
BENCHMARK(BM_ColorLookupKernelPass) KAV_THREADS;
BENCHMARK(BM_TransitionFrame4Passes) KAV_THREADS;

}  // namespace
}  // namespace kav
