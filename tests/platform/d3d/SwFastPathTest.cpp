// The fast paths against the reference path: the same pixels for the same
// draws, on one thread and on many.
#include "SwTestRig.h"

#include <bit>
#include <random>

#include "platform/d3d/raster/SwFastQuad.h"
#include "platform/d3d/raster/SwFastRow.h"

namespace kav {
namespace {

using swtest::MaxChannelDiff;
using swtest::TRig;

struct TCase {
  uint32_t tw, th;
  TSwFormat tex_format;
  bool mip;
  TSwFilter filter;
  TSwAddress address;
  float x0, y0, x1, y1;  // rectangle on the 96x64 target
  float u0, v0, u1, v1;
  uint32_t color;
  int stage;  // 0 select texture, 1 modulate, 2 colour of texture with diffuse alpha, 3 no texture
  int blend;  // 0 none, 1 srcalpha/invsrcalpha, 2 one/invsrcalpha, 3 max, 4 separate alpha
  bool a8_target;
  bool viewport;
  bool kernel = false;  // the texture through "sw_tex_times_constant" instead of the stage
};

std::vector<uint32_t> Render(const TCase& c, bool fast, int threads) {
  TRig rig(96, 64);
  rig.Dev->SetFastPaths(fast);
  rig.Dev->SetRasterThreads(threads);
  Ref<TSwTexture> rt;
  Ref<TSwSurface> rts;
  if (c.a8_target) {
    rig.Dev->CreateTexture(96, 64, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt);
    rt->GetSurfaceLevel(0, rts);
    rig.Dev->SetRenderTarget(0, rts.get());
  }
  // A background with varying colour and alpha to blend onto.
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 96; ++x)
      reinterpret_cast<uint32_t*>(rig.Target()->Row(y))[x] = uint32_t(x * 2654435761u ^ y * 40503u) | 0x20000000u;
  std::mt19937 rng(c.tw * 31 + c.th);
  Ref<TSwTexture> tex;
  rig.Dev->CreateTexture(c.tw, c.th, c.mip ? 0 : 1, 0, c.tex_format, TSwPool::Managed, tex);
  for (uint32_t l = 0; l < tex->GetLevelCount(); ++l) {
    TSwLockedRect lr;
    tex->LockRect(l, lr, nullptr, 0);
    TSwSurfaceDesc d;
    tex->GetLevelDesc(l, d);
    for (uint32_t y = 0; y < d.Height; ++y)
      for (uint32_t x = 0; x < d.Width; ++x) static_cast<uint32_t*>(lr.Bits)[y * uint32_t(lr.Pitch) / 4 + x] = uint32_t(rng());
    tex->UnlockRect(l);
  }
  if (c.stage == 3) {
    rig.Dev->SetTexture(0, nullptr);
  } else {
    rig.TextureStage(tex.get(), c.stage == 1, c.filter, c.address);
    if (c.stage == 2) {
      rig.Dev->SetTextureStageState(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg2));
    }
    rig.Dev->SetSamplerState(0, TSwSamplerState::MipFilter, uint32_t(c.mip ? TSwFilter::Point : TSwFilter::None));
  }
  switch (c.blend) {
    case 1: rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha); break;
    case 2: rig.Blend(TSwBlend::One, TSwBlend::InvSrcAlpha); break;
    case 3: rig.Blend(TSwBlend::One, TSwBlend::One, TSwBlendOp::Max); break;
    case 4:
      rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
      rig.Dev->SetRenderState(TSwRenderState::SeparateAlphaBlendEnable, 1);
      rig.Dev->SetRenderState(TSwRenderState::SrcBlendAlpha, uint32_t(TSwBlend::One));
      rig.Dev->SetRenderState(TSwRenderState::DestBlendAlpha, uint32_t(TSwBlend::InvSrcAlpha));
      break;
    default: break;
  }
  if (c.viewport) rig.Dev->SetViewport(TSwViewport{5, 3, 70, 50, 0, 1});
  Ref<TSwPixelShader> shader;
  if (c.kernel) {
    shader = rig.Kernel(kSwKernelTexTimesConstant, {0.9f, 0.55f, 1.0f, 0.7f});
  }
  rig.Dev->BeginScene();
  rig.Quad(c.x0, c.y0, c.x1, c.y1, c.color, c.u0, c.v0, c.u1, c.v1);
  rig.Dev->EndScene();
  return rig.Snapshot();
}

// The 16-bit AVX2 rectangle kernel may differ from the reference by one
// unit where a value lies within its tiny error of a rounding boundary; the
// SSE2 and float AVX2 kernels (run with KAV_D3D_NO_AVX2) must match exactly.
int RectangleTolerance() { return SwQuadRowKernel() == &SwQuadRowAvx2 ? 1 : 0; }

TEST(SwFastPaths, RectanglesGiveTheReferencePixels) {
  const TCase cases[] = {
      // 1:1 copies (exact texel centres), with and without blending, X8 and A8 sources.
      {96, 64, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -0.5f, -0.5f, 95.5f, 63.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 0, true, false},
      {96, 64, TSwFormat::X8R8G8B8, false, TSwFilter::Point, TSwAddress::Clamp, -0.5f, -0.5f, 95.5f, 63.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 0, false, false},
      {64, 32, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, 9.5f, 7.5f, 73.5f, 39.5f, 0, 0, 1, 1, 0xC0FFFFFF, 1, 1, true, false},
      // Scaled up and down, bilinear, blended, modulated.
      {40, 30, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, 3.3f, 2.7f, 90.1f, 61.2f, 0, 0, 1, 1, 0xB08040FF, 1, 1, false, false},
      {200, 150, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -10.f, -5.f, 80.f, 70.f, 0.1f, 0.05f, 0.9f, 1.0f, 0xFFFFFFFF, 0, 2, true, false},
      {33, 17, TSwFormat::X8R8G8B8, false, TSwFilter::Linear, TSwAddress::Wrap, 0, 0, 96, 64, -1.3f, -0.7f, 2.1f, 1.6f, 0x80FFFFFF, 2, 1, true, true},
      {33, 17, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Mirror, 0, 0, 96, 64, -1.3f, -0.7f, 2.1f, 1.6f, 0xFF20C080, 1, 3, false, false},
      {50, 50, TSwFormat::A8R8G8B8, false, TSwFilter::Point, TSwAddress::Wrap, 1.25f, 0.5f, 77.75f, 60.f, 0.3f, 0.2f, -0.6f, 2.2f, 0x7FFFFFFF, 1, 4, true, false},
      // A mip chain with a point mip filter, minified.
      {256, 128, TSwFormat::A8R8G8B8, true, TSwFilter::Linear, TSwAddress::Clamp, 0, 0, 96, 64, 0, 0, 1, 1, 0xFFFFFFFF, 0, 1, true, false},
      // Many repeats of a small texture (the float kernels instead of the 16-bit one).
      {4, 4, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Wrap, 0, 0, 96, 64, -50.f, -3.f, 50.f, 40.f, 0xC0FFFFFF, 1, 1, false, false},
      // Solid fills, plain and blended.
      {4, 4, TSwFormat::A8R8G8B8, false, TSwFilter::Point, TSwAddress::Clamp, 2.5f, 3.5f, 50.2f, 33.3f, 0, 0, 1, 1, 0xFF336699, 3, 0, true, false},
      {4, 4, TSwFormat::A8R8G8B8, false, TSwFilter::Point, TSwAddress::Clamp, -3.f, -2.f, 99.f, 70.f, 0, 0, 1, 1, 0x90336699, 3, 1, false, true},
  };
  for (const TCase& c : cases) {
    size_t index = size_t(&c - cases);
    uint64_t before = SwRasterStats().FastQuads.load();
    std::vector<uint32_t> fast = Render(c, true, 0);
    EXPECT_EQ(SwRasterStats().FastQuads.load(), before + 1) << "case " << index << " missed the fast path";
    std::vector<uint32_t> ref = Render(c, false, 1);
    EXPECT_LE(MaxChannelDiff(fast, ref), RectangleTolerance()) << "case " << index;
    std::vector<uint32_t> one = Render(c, true, 1);
    EXPECT_EQ(MaxChannelDiff(fast, one), 0) << "case " << index << " threads";
  }
}

// Rectangles through a kernel with a stage form take the rectangle kernels
// and give the pixels of the kernel drawn pixel by pixel (within the 16-bit
// kernel's unit).
TEST(SwFastPaths, KernelRectanglesGiveTheReferencePixels) {
  const TCase cases[] = {
      {96, 64, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -0.5f, -0.5f, 95.5f, 63.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 0, true, false, true},
      {40, 30, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, 3.3f, 2.7f, 90.1f, 61.2f, 0, 0, 1, 1, 0xB08040FF, 0, 1, false, false, true},
      {200, 150, TSwFormat::X8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -10.f, -5.f, 80.f, 70.f, 0.1f, 0.05f, 0.9f, 1.0f, 0xFFFFFFFF, 0, 2, true, false, true},
      {33, 17, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Mirror, 0, 0, 96, 64, -1.3f, -0.7f, 2.1f, 1.6f, 0xFF20C080, 0, 3, false, true, true},
      {50, 50, TSwFormat::A8R8G8B8, false, TSwFilter::Point, TSwAddress::Wrap, 1.25f, 0.5f, 77.75f, 60.f, 0.3f, 0.2f, -0.6f, 2.2f, 0x7FFFFFFF, 0, 4, true, false, true},
      {256, 128, TSwFormat::A8R8G8B8, true, TSwFilter::Linear, TSwAddress::Clamp, 0, 0, 96, 64, 0, 0, 1, 1, 0xFFFFFFFF, 0, 1, true, false, true},
      {4, 4, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Wrap, 0, 0, 96, 64, -50.f, -3.f, 50.f, 40.f, 0xC0FFFFFF, 0, 1, false, false, true},
  };
  for (const TCase& c : cases) {
    size_t index = size_t(&c - cases);
    uint64_t quads = SwRasterStats().FastQuads.load();
    std::vector<uint32_t> fast = Render(c, true, 0);
    EXPECT_EQ(SwRasterStats().FastQuads.load(), quads + 1) << "case " << index << " missed the rectangle path";
    std::vector<uint32_t> ref = Render(c, false, 1);
    EXPECT_LE(MaxChannelDiff(fast, ref), RectangleTolerance()) << "case " << index;
    EXPECT_EQ(MaxChannelDiff(fast, Render(c, true, 1)), 0) << "case " << index << " threads";
  }
}

// 1:1 pictures blended over (premultiplied or by source alpha) take whole-
// byte arithmetic that must give exactly the reference's bytes, on A8 and X8
// targets and from X8 textures, including colours above their alpha (which
// saturate) and rows with a partial last group of eight.
TEST(SwFastPaths, OneToOneBlendsGiveExactlyTheReferencePixels) {
  const TCase cases[] = {
      {96, 64, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -0.5f, -0.5f, 95.5f, 63.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 2, true, false},
      {96, 64, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -0.5f, -0.5f, 95.5f, 63.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 1, false, false},
      {61, 37, TSwFormat::A8R8G8B8, false, TSwFilter::Point, TSwAddress::Clamp, 10.5f, 3.5f, 71.5f, 40.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 1, true, false},
      {61, 37, TSwFormat::X8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, 10.5f, 3.5f, 71.5f, 40.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 2, false, false},
      {96, 64, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -0.5f, -0.5f, 95.5f, 63.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 2, true, true},
  };
  for (const TCase& c : cases) {
    size_t index = size_t(&c - cases);
    uint64_t before = SwRasterStats().FastQuads.load();
    std::vector<uint32_t> fast = Render(c, true, 0);
    EXPECT_EQ(SwRasterStats().FastQuads.load(), before + 1) << "case " << index << " missed the fast path";
    EXPECT_EQ(MaxChannelDiff(fast, Render(c, false, 1)), 0) << "case " << index;
    // Positions a float error away from the pixel grid (as a camera's
    // matrices leave them) still blend whole texels, within one unit.
    TCase shifted = c;
    shifted.x0 += 0.0004f;
    shifted.x1 += 0.0004f;
    shifted.y0 -= 0.0003f;
    shifted.y1 -= 0.0003f;
    EXPECT_LE(MaxChannelDiff(Render(shifted, true, 0), Render(shifted, false, 1)), 1) << "case " << index;
  }
}

// Pictures halved and more onto the target, bilinear and blended, from
// clamped and mirrored edges.
TEST(SwFastPaths, MinifiedRectanglesGiveTheReferencePixels) {
  const TCase cases[] = {
      {192, 128, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, -0.5f, -0.5f, 95.5f, 63.5f, 0, 0, 1, 1, 0xFFFFFFFF, 0, 2, false, false},
      {301, 199, TSwFormat::A8R8G8B8, false, TSwFilter::Linear, TSwAddress::Mirror, 1.f, 2.f, 93.f, 60.f, -0.1f, 0, 1.05f, 1, 0xE0FFFFFF, 1, 1, true, false},
      {250, 90, TSwFormat::X8R8G8B8, false, TSwFilter::Linear, TSwAddress::Clamp, 0, 0, 96, 64, 0, 0, 1, 1, 0xFFFFFFFF, 0, 0, true, false},
  };
  for (const TCase& c : cases) {
    size_t index = size_t(&c - cases);
    std::vector<uint32_t> fast = Render(c, true, 0);
    EXPECT_LE(MaxChannelDiff(fast, Render(c, false, 1)), RectangleTolerance()) << "case " << index;
  }
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// Every level of `tex` (of `format`) filled with random colours.
void FillLevels(TSwTexture* tex, TSwFormat format, std::mt19937& rng) {
  for (uint32_t l = 0; l < tex->GetLevelCount(); ++l) {
    TSwLockedRect lr;
    TSwSurfaceDesc d;
    tex->GetLevelDesc(l, d);
    tex->LockRect(l, lr, nullptr, 0);
    for (uint32_t y = 0; y < d.Height; ++y)
      for (uint32_t x = 0; x < d.Width; ++x)
        SwWriteArgb(format, static_cast<uint8_t*>(lr.Bits) + y * uint32_t(lr.Pitch) + x * uint32_t(SwBytesPerPixel(format)),
                    uint32_t(rng()));
    tex->UnlockRect(l);
  }
}

// A rotated, perspective-tilted quad and a Gouraud triangle fan, with a mip
// chain under linear mip filtering: the span path against the reference.
std::vector<uint32_t> RenderSpans(int variant, bool fast, int threads) {
  TRig rig(80, 60);
  rig.Dev->SetFastPaths(fast);
  rig.Dev->SetRasterThreads(threads);
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 80; ++x) reinterpret_cast<uint32_t*>(rig.Target()->Row(y))[x] = uint32_t(x * 977 + y * 131071);
  std::mt19937 rng(uint32_t(variant) + 3);
  Ref<TSwTexture> tex;
  // Variants 4 and 5 sample one level with clamping: the AVX2 span kernel's
  // family; 6 and 7 sample 16-bit and 8-bit textures.
  const bool simple = variant >= 4;
  const TSwFormat format = variant == 2 || variant == 5 ? TSwFormat::X8R8G8B8
                           : variant == 6              ? TSwFormat::R5G6B5
                           : variant == 7              ? TSwFormat::L8
                                                       : TSwFormat::A8R8G8B8;
  rig.Dev->CreateTexture(64, 32, simple ? 1 : 0, 0, format, TSwPool::Managed, tex);
  FillLevels(tex.get(), format, rng);
  rig.TextureStage(tex.get(), variant != 1, variant == 3 || variant == 5 ? TSwFilter::Point : TSwFilter::Linear,
                   simple ? TSwAddress::Clamp : variant == 2 ? TSwAddress::Wrap : TSwAddress::Mirror);
  if (!simple) rig.Dev->SetSamplerState(0, TSwSamplerState::MinFilter, uint32_t(TSwFilter::Anisotropic));
  rig.Dev->SetSamplerState(0, TSwSamplerState::MipFilter, uint32_t(variant == 3 ? TSwFilter::Point : TSwFilter::Linear));
  rig.Dev->SetSamplerState(0, TSwSamplerState::MipMapLodBias, std::bit_cast<uint32_t>(variant * 0.3f));
  rig.Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  if (variant != 1) rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
  TSwMatrix proj;
  proj.m[0][0] = 0.75f;
  proj.m[2][2] = 1.0f;
  proj.m[2][3] = 1.0f;
  proj.m[3][2] = -0.1f;
  proj.m[3][3] = 0.0f;
  rig.Dev->SetTransform(TSwTransform::Projection, proj);
  struct V { float x, y, z; uint32_t c; float u, v; };
  const float c = 0.8f, s = 0.6f;
  V quad[4] = {{-1.2f * c, 0.9f, 2 - 1.2f * s, 0xFFFFFFFF, -0.2f, 0}, {1.2f * c, 1.1f, 2 + 1.2f * s, 0xC0FF8040, 1.3f, 0},
               {-1.2f * c, -0.9f, 2 - 1.2f * s, 0x80FFFFFF, 0, 1.1f}, {1.2f * c, -1.0f, 2 + 1.2f * s, 0xFF4080FF, 1, 1}};
  rig.Dev->SetFVF(SwFvfXYZ | SwFvfDiffuse | SwFvfTex(1));
  rig.Dev->BeginScene();
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, quad, sizeof(V));
  swtest::TTV fan[5] = {{40, 30, 0, 1, 0xFF102030, 0.5f, 0.5f}, {5, 5, 0, 1, 0x80FF0000, 0, 0},
                        {75, 12, 0, 1, 0xFF00FF00, 3, 0}, {70, 58, 0, 1, 0x400000FF, 3, 2}, {8, 50, 0, 1, 0xFFFFFFFF, 0, 2}};
  rig.Dev->SetFVF(swtest::kTTVFvf);
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleFan, 3, fan, sizeof(swtest::TTV));
  rig.Dev->EndScene();
  return rig.Snapshot();
}

TEST(SwFastPaths, SpansGiveTheReferencePixels) {
  for (int variant = 0; variant < 8; ++variant) {
    uint64_t before = SwRasterStats().FastSpanDraws.load();
    std::vector<uint32_t> fast = RenderSpans(variant, true, 0);
    EXPECT_EQ(SwRasterStats().FastSpanDraws.load(), before + 2) << "variant " << variant;
    std::vector<uint32_t> ref = RenderSpans(variant, false, 1);
    // Variants 4 and 5 take the 16-bit span kernel on AVX2: within one level.
    EXPECT_LE(MaxChannelDiff(fast, ref), variant == 4 || variant == 5 ? RectangleTolerance() : 0) << "variant " << variant;
    EXPECT_EQ(MaxChannelDiff(fast, RenderSpans(variant, true, 1)), 0) << "variant " << variant << " threads";
  }
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// Pixel kernels over a perspective quad with a mip-mapped texture (level
// chosen per pixel) and blending: the kernel spans against the reference.
std::vector<uint32_t> RenderKernel(bool fast, bool mips, bool lookup, TSwFormat format = TSwFormat::A8R8G8B8) {
  TRig rig(64, 48);
  rig.Dev->SetFastPaths(fast);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 64; ++x) reinterpret_cast<uint32_t*>(rig.Target()->Row(y))[x] = uint32_t(x * 7919 + y * 104729);
  std::mt19937 rng(9);
  Ref<TSwTexture> tex;
  rig.Dev->CreateTexture(32, 32, mips ? 0 : 1, 0, format, TSwPool::Managed, tex);
  FillLevels(tex.get(), format, rng);
  // Without mips the texture clamps, which the eight-wide span sampler takes.
  rig.TextureStage(tex.get(), false, TSwFilter::Linear, mips ? TSwAddress::Wrap : TSwAddress::Clamp);
  rig.Dev->SetSamplerState(0, TSwSamplerState::MipFilter, uint32_t(mips ? TSwFilter::Linear : TSwFilter::None));
  rig.Blend(TSwBlend::One, TSwBlend::InvSrcAlpha);
  Ref<TSwVolumeTexture> lut;
  // Without mips clamped on every axis, as lookups are drawn: the eight-wide volume sampler.
  if (lookup) lut = rig.LookupVolume(8, rng, !mips);
  const auto ps = rig.Kernel(lookup ? kSwKernelColorLookup : kSwKernelTexTimesConstant, {0.9f, 0.7f, 1.0f, 0.8f});
  TSwMatrix proj;
  proj.m[2][3] = 1.0f;
  proj.m[3][2] = -0.1f;
  proj.m[3][3] = 0.0f;
  rig.Dev->SetTransform(TSwTransform::Projection, proj);
  rig.Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  struct V { float x, y, z; uint32_t c; float u, v; } q[4] = {
      {-1.5f, 1, 1.2f, 0xFFFFFFFF, 0, 0}, {1.5f, 1, 4, 0xFFFFFFFF, 6, 0}, {-1.5f, -1, 1.2f, 0xFFFFFFFF, 0, 3},
      {1.5f, -1, 4, 0xFFFFFFFF, 6, 3}};
  rig.Dev->SetFVF(SwFvfXYZ | SwFvfDiffuse | SwFvfTex(1));
  rig.Dev->BeginScene();
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(V));
  rig.Dev->EndScene();
  return rig.Snapshot();
}

TEST(SwFastPaths, KernelSpansGiveTheReferencePixels) {
  for (bool lookup : {false, true})
    for (bool mips : {false, true})
      EXPECT_EQ(MaxChannelDiff(RenderKernel(true, mips, lookup), RenderKernel(false, mips, lookup)), 0)
          << mips << lookup;
  // Luminance planes (video) and 16-bit textures through the same kernel.
  for (TSwFormat f : {TSwFormat::L8, TSwFormat::R5G6B5})
    EXPECT_EQ(MaxChannelDiff(RenderKernel(true, false, false, f), RenderKernel(false, false, false, f)), 0)
        << SwFormatName(f);
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// The colour lookup over rectangles of a 40 x 30 picture magnified, at 1:1,
// minified and far off to the right (columns clamped): the kernel spans read
// whole texel rows where they can, and must still give the reference pixels.
TEST(SwFastPaths, LookupRectanglesGiveTheReferencePixels) {
  auto render = [](bool fast, float x0, float x1, float u0, float u1) {
    TRig rig(96, 64);
    rig.Dev->SetFastPaths(fast);
    std::mt19937 rng(21);
    Ref<TSwTexture> tex;
    rig.Dev->CreateTexture(40, 30, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, tex);
    FillLevels(tex.get(), TSwFormat::A8R8G8B8, rng);
    rig.TextureStage(tex.get(), false, TSwFilter::Linear, TSwAddress::Clamp);
    const auto lut = rig.LookupVolume(8, rng);
    const auto ps = rig.Kernel(kSwKernelColorLookup, {0.7f, 0, 0, 0});
    rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
    rig.Dev->BeginScene();
    rig.Quad(x0, 1.5f, x1, 60.5f, 0xFFFFFFFF, u0, -0.1f, u1, 1.2f);
    rig.Dev->EndScene();
    return rig.Snapshot();
  };
  const float cases[][4] = {{-0.5f, 95.5f, 0, 1},        {3.5f, 43.5f, 0, 1},  {0.25f, 30.75f, 0.1f, 1.3f},
                            {2.0f, 90.0f, 0.7f, 2.5f},   {-0.5f, 95.5f, 1, 0}, {10.f, 70.f, -0.4f, 0.3f}};
  for (const auto& c : cases)
    EXPECT_EQ(MaxChannelDiff(render(true, c[0], c[1], c[2], c[3]), render(false, c[0], c[1], c[2], c[3])), 0)
        << c[0] << " " << c[1] << " " << c[2] << " " << c[3];
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// Mostly opaque texels (whole runs of eight and more) with translucent
// spots, drawn point-sampled and filtered, with white or tinted diffuse,
// over-opaque blends and none, on rotated triangles whose spans end
// anywhere: the span path's opaque shortcuts against the reference. The
// 16-bit span kernel (AVX2) may put filtered, tinted or translucent pixels
// one level off; opaque point-sampled texels drawn unmodified are exact.
std::vector<uint32_t> RenderOpaqueSpans(int variant, bool fast) {
  TRig rig(83, 61);
  rig.Dev->SetFastPaths(fast);
  for (int32_t y = 0; y < 61; ++y)
    for (int32_t x = 0; x < 83; ++x) reinterpret_cast<uint32_t*>(rig.Target()->Row(y))[x] = uint32_t(x * 977 + y * 131071);
  std::mt19937 rng(uint32_t(variant) + 11);
  Ref<TSwTexture> tex;
  rig.Dev->CreateTexture(64, 64, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, tex);
  TSwLockedRect lr;
  tex->LockRect(0, lr, nullptr, 0);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      uint32_t c = uint32_t(rng()) | 0xFF000000u;
      if ((x / 8 + y) % 7 == 3) c = (c & 0x00FFFFFFu) | (uint32_t(rng() % 255) << 24);  // some translucent texels
      reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.Bits) + y * lr.Pitch)[x] = c;
    }
  tex->UnlockRect(0);
  const bool point = variant % 2 == 0;
  rig.TextureStage(tex.get(), true, point ? TSwFilter::Point : TSwFilter::Linear, TSwAddress::Clamp);
  rig.Dev->SetSamplerState(0, TSwSamplerState::MipFilter, uint32_t(TSwFilter::None));
  rig.Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  switch (variant / 2) {
    case 0: rig.Blend(TSwBlend::One, TSwBlend::InvSrcAlpha); break;
    case 1: rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha); break;
    default: break;  // no blending
  }
  const uint32_t tint = variant == 5 ? 0xFFFF8040u : 0xFFFFFFFFu;
  rig.Dev->SetFVF(swtest::kTTVFvf);
  rig.Dev->BeginScene();
  // A rotated quad about 1:1 with the texture, and a magnified triangle.
  swtest::TTV quad[4] = {{9.3f, 3.1f, 0, 1, tint, 0, 0}, {72.2f, 9.7f, 0, 1, tint, 1, 0},
                         {3.6f, 55.4f, 0, 1, tint, 0, 1}, {66.1f, 59.8f, 0, 1, tint, 1, 1}};
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, quad, sizeof(swtest::TTV));
  swtest::TTV tri[3] = {{20.5f, 10.5f, 0, 1, tint, 0.1f, 0.1f}, {80.5f, 30.5f, 0, 1, tint, 0.4f, 0.1f},
                        {30.5f, 60.5f, 0, 1, tint, 0.1f, 0.5f}};
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, tri, sizeof(swtest::TTV));
  rig.Dev->EndScene();
  return rig.Snapshot();
}

TEST(SwFastPaths, OpaqueSpansGiveTheReferencePixels) {
  for (int variant = 0; variant < 6; ++variant) {
    uint64_t before = SwRasterStats().FastSpanDraws.load();
    std::vector<uint32_t> fast = RenderOpaqueSpans(variant, true);
    EXPECT_EQ(SwRasterStats().FastSpanDraws.load(), before + 2) << "variant " << variant;
    EXPECT_LE(MaxChannelDiff(fast, RenderOpaqueSpans(variant, false)), variant == 4 ? 0 : RectangleTolerance())
        << "variant " << variant;
  }
}

}  // namespace
}  // namespace kav
