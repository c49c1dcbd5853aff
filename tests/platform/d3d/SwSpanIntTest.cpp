// The 16-bit span kernel against the reference pipeline: random triangles
// (perspective and affine, spans of every length and position), random
// textures, stage forms, filters, blends and target formats. Every channel
// within one level, few of them off at all, and exactly the reference's
// bytes where the arithmetic only selects whole bytes (opaque point-sampled
// texels under a diffuse of 0 or 1, fully transparent filtered ones).
#include "SwTestRig.h"

#include <random>

#include "platform/d3d/raster/SwFastQuad.h"
#include "platform/d3d/raster/SwFastRow.h"

namespace kav {
namespace {

using swtest::TRig;
using swtest::TTV;

constexpr int32_t kW = 97, kH = 71;

struct TSpanCase {
  uint32_t seed;
  bool exact;  // only whole-byte arithmetic: the reference's bytes exactly
};

std::vector<uint32_t> RenderCase(const TSpanCase& c, bool fast) {
  std::mt19937 rng(c.seed);
  auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
  auto unit = [&] { return float(rng() % 100000) / 100000.0f; };
  TRig rig(kW, kH);
  rig.Dev->SetFastPaths(fast);
  rig.Dev->SetRasterThreads(1);
  Ref<TSwTexture> rt;
  Ref<TSwSurface> rts;
  if (pick(2)) {
    rig.Dev->CreateTexture(kW, kH, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt);
    rt->GetSurfaceLevel(0, rts);
    rig.Dev->SetRenderTarget(0, rts.get());
  }
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x) reinterpret_cast<uint32_t*>(rig.Target()->Row(y))[x] = uint32_t(rng());

  // One column at times (the float kernels draw those).
  const uint32_t tw = 1 + uint32_t(pick(70)), th = 1 + uint32_t(pick(50));
  const TSwFormat tf = pick(3) == 0 ? TSwFormat::X8R8G8B8 : TSwFormat::A8R8G8B8;
  const int alpha_kind = pick(3);  // random, mostly opaque with holes, 0/255 only
  auto tex = rig.Texture(
      tw, th,
      [&](uint32_t, uint32_t) {
        uint32_t v = uint32_t(rng());
        if (c.exact || alpha_kind == 1) v |= pick(6) || c.exact ? 0xFF000000u : 0u;
        if (alpha_kind == 2) v = (v & 0x00FFFFFFu) | (pick(2) ? 0xFF000000u : 0u);
        return v;
      },
      tf);
  const bool point = c.exact ? pick(4) != 0 : pick(2) == 0;
  const bool modulate = pick(2) == 0;
  rig.TextureStage(tex.get(), modulate, point ? TSwFilter::Point : TSwFilter::Linear, TSwAddress::Clamp);
  rig.Dev->SetSamplerState(0, TSwSamplerState::MipFilter, uint32_t(TSwFilter::None));
  if (!c.exact) {
    // Other stage forms: the diffuse alone, squared, or as the alpha.
    switch (pick(5)) {
      case 0:
        rig.Dev->SetTextureStageState(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg2));
        break;
      case 1:
        rig.Dev->SetTextureStageState(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::Modulate));
        rig.Dev->SetTextureStageState(0, TSwStageState::ColorArg1, uint32_t(TSwTextureArg::Diffuse));
        break;
      case 2:
        rig.Dev->SetTextureStageState(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg2));
        rig.Dev->SetTextureStageState(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::Modulate));
        break;
      default: break;
    }
  }
  const int blend = pick(7);
  switch (blend) {
    case 1: rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha); break;
    case 2: rig.Blend(TSwBlend::One, TSwBlend::InvSrcAlpha); break;
    case 3: rig.Blend(TSwBlend::One, TSwBlend::One, TSwBlendOp::Max); break;
    case 4: rig.Blend(TSwBlend::One, TSwBlend::One); break;
    case 5:
      rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
      rig.Dev->SetRenderState(TSwRenderState::SeparateAlphaBlendEnable, 1);
      rig.Dev->SetRenderState(TSwRenderState::SrcBlendAlpha, uint32_t(TSwBlend::One));
      rig.Dev->SetRenderState(TSwRenderState::DestBlendAlpha, uint32_t(TSwBlend::InvSrcAlpha));
      break;
    case 6: rig.Blend(TSwBlend::Zero, TSwBlend::SrcAlpha); break;
    default: break;
  }
  rig.Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  rig.Dev->SetFVF(swtest::kTTVFvf);
  rig.Dev->BeginScene();
  // One triangle per draw in the random cases: each pixel then shows one
  // draw's difference (blends over earlier differences could add them).
  for (int tri = 0; tri < (c.exact ? 8 : 1); ++tri) {
    // White with alpha 0 or 1 for the whole triangle where the bytes must
    // be exact; filtered texels only under alpha 0 there.
    const bool transparent = pick(2) == 0;
    if (c.exact && !point && (!transparent || !modulate || blend != 1)) continue;
    const uint32_t exact_color = transparent ? 0x00FFFFFFu : 0xFFFFFFFFu;
    const bool persp = pick(2) == 0;
    // Fades of premultiplied colour at times: the same value in all four
    // channels of every vertex.
    const bool grey = pick(3) == 0;
    TTV v[3];
    for (TTV& p : v) {
      p.x = -15.0f + unit() * (kW + 30);
      p.y = -15.0f + unit() * (kH + 30);
      p.z = 0.5f;
      p.rhw = persp ? 0.2f + 2.0f * unit() : 1.0f;
      p.color = c.exact ? exact_color : grey ? uint32_t(rng() & 255) * 0x01010101u : uint32_t(rng());
      // Far outside the texture at times (clamped columns and rows), and
      // now and then too far for the groups (the per-pixel way finishes).
      const int far = pick(24);
      const float range = far == 0 ? 4e7f : far < 6 ? 3.0f : 1.4f;
      p.u = -0.2f + range * unit();
      p.v = -0.2f + range * unit();
    }
    rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, v, sizeof(TTV));
  }
  rig.Dev->EndScene();
  return rig.Snapshot();
}

// Whether this machine draws textured spans with the 16-bit kernel (AVX2,
// not turned off by KAV_D3D_NO_AVX2); otherwise the float kernels must give
// the reference's bytes exactly.
bool IntSpansActive() { return SwQuadRowKernel() == &SwQuadRowAvx2; }

TEST(SwFastPaths, IntSpansStayWithinOneLevelOfTheReference) {
  const int tolerance = IntSpansActive() ? 1 : 0;
  const uint64_t before = SwRasterStats().IntSpanDraws.load();
  int64_t channels = 0, off = 0;
  for (uint32_t seed = 1; seed <= 1000; ++seed) {
    const TSpanCase c{seed, false};
    const std::vector<uint32_t> fast = RenderCase(c, true), ref = RenderCase(c, false);
    ASSERT_EQ(fast.size(), ref.size());
    int worst = 0;
    for (size_t i = 0; i < fast.size(); ++i)
      for (int s = 0; s < 32; s += 8) {
        const int d = std::abs(int((fast[i] >> s) & 255) - int((ref[i] >> s) & 255));
        worst = std::max(worst, d);
        off += d != 0;
        ++channels;
      }
    EXPECT_LE(worst, tolerance) << "seed " << seed;
  }
  if (IntSpansActive()) {
    EXPECT_GT(SwRasterStats().IntSpanDraws.load(), before + 700);
  }
  // A level off only where the exact value lies within the kernel's small
  // error of a rounding boundary: a few channels in a hundred at most (a
  // bias would show as many).
  EXPECT_LT(double(off) / double(channels), 0.03) << off << " of " << channels;
}

TEST(SwFastPaths, IntSpansGiveExactBytesForWholeByteArithmetic) {
  for (uint32_t seed = 1000; seed < 1100; ++seed) {
    const TSpanCase c{seed, true};
    EXPECT_EQ(swtest::MaxChannelDiff(RenderCase(c, true), RenderCase(c, false)), 0) << "seed " << seed;
  }
}

}  // namespace
}  // namespace kav
