// Shared set-up of the software device tests: a device on an offscreen sink
// and helpers to draw pre-transformed quads and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string_view>
#include <vector>

#include "platform/d3d/SwDevice.h"
#include "platform/d3d/SwFormat.h"
#include "platform/d3d/SwShader.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"

namespace kav::swtest {

constexpr TSwWindow kWindow = 7;

// Pre-transformed vertex with colour and one coordinate set.
struct TTV {
  float x, y, z, rhw;
  uint32_t color;
  float u, v;
};
constexpr uint32_t kTTVFvf = SwFvfXYZRHW | SwFvfDiffuse | SwFvfTex(1);

// A texture of `fmt` on `dev` filled by fn(x, y) -> A8R8G8B8 at level 0.
template <class F>
Ref<TSwTexture> MakeTexture(TSwDevice& dev, uint32_t w, uint32_t h, F fn, TSwFormat fmt = TSwFormat::A8R8G8B8,
                            uint32_t levels = 1) {
  Ref<TSwTexture> t;
  EXPECT_EQ(dev.CreateTexture(w, h, levels, 0, fmt, TSwPool::Managed, t), TSwResult::Ok);
  TSwLockedRect lr;
  EXPECT_EQ(t->LockRect(0, lr, nullptr, 0), TSwResult::Ok);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      SwWriteArgb(fmt, static_cast<uint8_t*>(lr.Bits) + y * lr.Pitch + x * SwBytesPerPixel(fmt), fn(x, y));
  t->UnlockRect(0);
  return t;
}

// Draws the rectangle [x0, x1) x [y0, y1) in pixels on `dev` as a
// two-triangle strip with texture coordinates u0..u1, v0..v1.
inline void Quad(TSwDevice& dev, float x0, float y0, float x1, float y1, uint32_t color, float u0 = 0, float v0 = 0,
                 float u1 = 1, float v1 = 1) {
  TTV q[4] = {{x0, y0, 0, 1, color, u0, v0}, {x1, y0, 0, 1, color, u1, v0},
              {x0, y1, 0, 1, color, u0, v1}, {x1, y1, 0, 1, color, u1, v1}};
  dev.SetFVF(kTTVFvf);
  EXPECT_EQ(dev.DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(TTV)), TSwResult::Ok);
}

struct TRig {
  Ref<TSwOffscreenSink> Sink = MakeRef<TSwOffscreenSink>();
  Ref<TSwDirect3D> D3D;
  Ref<TSwDevice> Dev;

  explicit TRig(uint32_t w = 64, uint32_t h = 64, TSwConfig cfg = TSwConfig()) {
    cfg.Sink = Sink;
    D3D = MakeRef<TSwDirect3D>(cfg);
    TSwPresentParams pp;
    pp.BackBufferWidth = w;
    pp.BackBufferHeight = h;
    pp.DeviceWindow = kWindow;
    EXPECT_EQ(D3D->CreateDevice(0, kWindow, SwCreateMultithreaded, pp, Dev), TSwResult::Ok);
  }

  TSwSurface* Target() const {
    Ref<TSwSurface> s;
    Dev->GetRenderTarget(0, s);
    return s.get();
  }
  uint32_t Pixel(int32_t x, int32_t y) const { return reinterpret_cast<const uint32_t*>(Target()->Row(y))[x]; }

  // A texture of `fmt` filled by fn(x, y) -> A8R8G8B8 at level 0.
  template <class F>
  Ref<TSwTexture> Texture(uint32_t w, uint32_t h, F fn, TSwFormat fmt = TSwFormat::A8R8G8B8, uint32_t levels = 1) {
    return MakeTexture(*Dev, w, h, fn, fmt, levels);
  }

  // Draws the rectangle [x0, x1) x [y0, y1) in pixels as a two-triangle
  // strip with texture coordinates u0..u1, v0..v1.
  void Quad(float x0, float y0, float x1, float y1, uint32_t color, float u0 = 0, float v0 = 0, float u1 = 1,
            float v1 = 1) {
    swtest::Quad(*Dev, x0, y0, x1, y1, color, u0, v0, u1, v1);
  }

  // Stage 0 selecting the texture (colour and alpha), modulated when asked.
  void TextureStage(TSwBaseTexture* t, bool modulate = false, TSwFilter filter = TSwFilter::Linear,
                    TSwAddress addr = TSwAddress::Clamp) {
    Dev->SetTexture(0, t);
    auto op = uint32_t(modulate ? TSwTextureOp::Modulate : TSwTextureOp::SelectArg1);
    Dev->SetTextureStageState(0, TSwStageState::ColorOp, op);
    Dev->SetTextureStageState(0, TSwStageState::AlphaOp, op);
    Dev->SetTextureStageState(0, TSwStageState::ColorArg2, uint32_t(TSwTextureArg::Diffuse));
    Dev->SetTextureStageState(0, TSwStageState::AlphaArg2, uint32_t(TSwTextureArg::Diffuse));
    Dev->SetSamplerState(0, TSwSamplerState::MagFilter, uint32_t(filter));
    Dev->SetSamplerState(0, TSwSamplerState::MinFilter, uint32_t(filter));
    Dev->SetSamplerState(0, TSwSamplerState::AddressU, uint32_t(addr));
    Dev->SetSamplerState(0, TSwSamplerState::AddressV, uint32_t(addr));
  }

  // A size^3 colour lookup volume of seeded texels bound to stage 1 with a
  // linear filter, clamped on every axis when asked (as lookups are drawn).
  Ref<TSwVolumeTexture> LookupVolume(uint32_t size, std::mt19937& rng, bool clamp = true) {
    Ref<TSwVolumeTexture> lut;
    Dev->CreateVolumeTexture(size, size, size, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, lut);
    TSwLockedBox lb;
    lut->LockBox(0, lb, nullptr, 0);
    for (uint32_t i = 0; i < size * size * size; ++i) static_cast<uint32_t*>(lb.Bits)[i] = uint32_t(rng());
    lut->UnlockBox(0);
    Dev->SetTexture(1, lut.get());
    Dev->SetSamplerState(1, TSwSamplerState::MagFilter, uint32_t(TSwFilter::Linear));
    if (clamp)
      for (auto a : {TSwSamplerState::AddressU, TSwSamplerState::AddressV, TSwSamplerState::AddressW})
        Dev->SetSamplerState(1, a, uint32_t(TSwAddress::Clamp));
    return lut;
  }

  // The named built-in pixel kernel set with constant c0; the caller keeps
  // the returned shader alive while drawing.
  Ref<TSwPixelShader> Kernel(std::string_view name, const float (&c0)[4]) {
    const std::string blob = SwPixelShaderBlob(name);
    Ref<TSwPixelShader> ps;
    Dev->CreatePixelShader(blob.data(), blob.size(), ps);
    Dev->SetPixelShader(ps.get());
    Dev->SetPixelShaderConstantF(0, c0, 1);
    return ps;
  }

  void Blend(TSwBlend src, TSwBlend dst, TSwBlendOp op = TSwBlendOp::Add) {
    Dev->SetRenderState(TSwRenderState::AlphaBlendEnable, 1);
    Dev->SetRenderState(TSwRenderState::SrcBlend, uint32_t(src));
    Dev->SetRenderState(TSwRenderState::DestBlend, uint32_t(dst));
    Dev->SetRenderState(TSwRenderState::BlendOp, uint32_t(op));
  }

  std::vector<uint32_t> Snapshot() const {
    TSwSurface* t = Target();
    std::vector<uint32_t> px(size_t(t->Width()) * t->Height());
    for (uint32_t y = 0; y < t->Height(); ++y) std::memcpy(&px[y * t->Width()], t->Row(int32_t(y)), t->Width() * 4);
    return px;
  }
};

// Largest per-channel difference of two pictures.
// A line of white text on clear pixels, as a caption's tiles hold: letters
// of solid white whose edges step in alpha, over the first `rows` rows.
inline uint32_t TextPixel(uint32_t x, uint32_t y, uint32_t rows = 44) {
  if (y >= rows) return 0;
  const uint32_t in = (x * 7 + y * 3) % 23;
  return (in < 9 ? 0 : in < 12 ? (in - 8) * 60 : 0xFF) << 24 | 0x00FFFFFFu;
}

inline int MaxChannelDiff(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int m = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    for (int s = 0; s < 32; s += 8) m = std::max(m, std::abs(int((a[i] >> s) & 255) - int((b[i] >> s) & 255)));
  return a.size() == b.size() ? m : 256;
}

inline int Chan(uint32_t c, int shift) { return int((c >> shift) & 255); }

}  // namespace kav::swtest
