// Grading a run of colours through a volume (TSwPixelContext::GradeSpan)
// against the per-pixel lookup it stands for, bit for bit; the colour lookup
// kernel's row form against the reference pipeline on rectangles of awkward
// sizes; kernel spans of opaque colours written without reading the target.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "platform/d3d/raster/SwPixelState.h"
#include "tests/platform/d3d/SwTestRig.h"

namespace kav {
namespace {

using swtest::TRig;

// A volume of seeded texels in memory, bound to stage 1 of `ps`; rows may
// carry padding.
struct TVolume {
  std::vector<uint8_t> Bits;
  TVolume(TSwPixelState& ps, int32_t w, int32_t h, int32_t d, int32_t pad, TSwFormat format, std::mt19937& rng) {
    const int32_t pitch = 4 * (w + pad), slice = pitch * h;
    Bits.resize(size_t(slice) * size_t(d));
    for (uint8_t& b : Bits) b = uint8_t(rng());
    TSwSamplerView& s = ps.Samplers[1];
    s.Kind = TSwSamplerView::Volume;
    s.Format = format;
    s.Levels = 1;
    s.Level[0] = TSwLevelView{Bits.data(), pitch, w, h};
    s.Depth = d;
    s.SlicePitch = slice;
    s.AddressU = s.AddressV = s.AddressW = TSwAddress::Clamp;
    s.MagFilter = s.MinFilter = TSwFilter::Linear;
  }
};

// Equal floats, or both NaN.
bool Same(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b) || (a != a && b != b); }

// The colours `in` graded both ways; the count of channels that differ.
int Mismatches(const TSwPixelState& ps, float mix, const std::vector<TSwColorF>& in) {
  const TSwPixelContext ctx(&ps, nullptr, true);
  std::vector<TSwColorF> fast = in;
  ctx.GradeSpan(1, mix, fast.data(), int32_t(fast.size()));
  int bad = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    const TSwColorF& c = in[i];
    const float s = 31.0f / 32.0f, o = 0.5f / 32.0f;
    const TSwColorF l = ctx.Sample3D(1, c.r * s + o, c.g * s + o, c.b * s + o);
    const TSwColorF want{c.b + (l.b - c.b) * mix, c.g + (l.g - c.g) * mix, c.r + (l.r - c.r) * mix, c.a};
    bad += !Same(fast[i].b, want.b) + !Same(fast[i].g, want.g) + !Same(fast[i].r, want.r) + !Same(fast[i].a, want.a);
  }
  return bad;
}

// Colours as a picture gives them: whole bytes (0 and 255 among them),
// values between bytes, and alpha 0, 255 or anything.
std::vector<TSwColorF> PictureColours(std::mt19937& rng, size_t n) {
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<TSwColorF> v(n);
  for (size_t i = 0; i < n; ++i) {
    auto ch = [&]() {
      switch (rng() % 4) {
        case 0: return 0.0f;
        case 1: return 1.0f;
        case 2: return float(rng() % 256) * (1.0f / 255.0f);
        default: return unit(rng);
      }
    };
    v[i] = TSwColorF{ch(), ch(), ch(), i % 3 == 0 ? 0.0f : i % 3 == 1 ? 1.0f : unit(rng)};
  }
  return v;
}

TEST(SwGradeSpan, GivesTheLookupsFloatsForEveryCountAndVolume) {
  std::mt19937 rng(41);
  // The usual 32^3 volume, odd and tiny sizes, padded rows, without alpha.
  const int32_t shapes[][5] = {{32, 32, 32, 0, 0}, {2, 2, 2, 0, 0}, {3, 5, 7, 1, 0}, {17, 9, 4, 3, 1}, {32, 32, 32, 0, 1}};
  for (const auto& sh : shapes) {
    TSwPixelState ps;
    TVolume vol(ps, sh[0], sh[1], sh[2], sh[3], sh[4] ? TSwFormat::X8R8G8B8 : TSwFormat::A8R8G8B8, rng);
    for (int32_t count : {0, 1, 3, 7, 8, 9, 15, 16, 17, 63, 256}) {
      for (float mix : {1.0f, 0.75f, 0.3f, -0.5f})
        EXPECT_EQ(Mismatches(ps, mix, PictureColours(rng, size_t(count))), 0)
            << sh[0] << "x" << sh[1] << "x" << sh[2] << " count " << count << " mix " << mix;
    }
  }
}

TEST(SwGradeSpan, FarOffColoursAndOtherSamplersGoColourByColour) {
  std::mt19937 rng(42);
  TSwPixelState ps;
  TVolume vol(ps, 32, 32, 32, 0, TSwFormat::A8R8G8B8, rng);
  // Out of range, just outside 0..1, NaN and infinity, one per group of
  // eight somewhere among ordinary colours.
  const float odd[] = {-0.3f, 1.7f, -1e-7f, 1.0000001f, 1e30f, -1e30f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity()};
  std::vector<TSwColorF> in = PictureColours(rng, 101);
  for (size_t k = 0; k < std::size(odd); ++k) {
    TSwColorF& c = in[k * 11 + 2];
    (k % 3 == 0 ? c.r : k % 3 == 1 ? c.g : c.b) = odd[k];
  }
  EXPECT_EQ(Mismatches(ps, 0.8f, in), 0);
  // One in the run's last few colours too.
  in[99].g = 1.2f;
  EXPECT_EQ(Mismatches(ps, 0.8f, in), 0);
  // Point sampling, wrapping and an empty stage take the general lookup.
  ps.Samplers[1].MagFilter = TSwFilter::Point;
  EXPECT_EQ(Mismatches(ps, 0.8f, PictureColours(rng, 40)), 0);
  ps.Samplers[1].MagFilter = TSwFilter::Linear;
  ps.Samplers[1].AddressV = TSwAddress::Wrap;
  EXPECT_EQ(Mismatches(ps, 0.8f, PictureColours(rng, 40)), 0);
  ps.Samplers[1] = TSwSamplerView{};
  EXPECT_EQ(Mismatches(ps, 0.8f, PictureColours(rng, 40)), 0);
}

// The colour lookup kernel over rectangles one to nineteen pixels wide and
// odd heights, at 1:1 and scaled, from a picture with transparent, opaque
// and translucent texels, blended and not: the row form against the
// reference pipeline.
TEST(SwGradeSpan, LookupKernelRectanglesOfAnyWidthGiveTheReferencePixels) {
  auto render = [](bool fast, int32_t w, int32_t h, bool scaled, bool blend) {
    TRig rig(24, 24);
    rig.Dev->SetFastPaths(fast);
    std::mt19937 rng(uint32_t(w * 31 + h));
    for (int32_t y = 0; y < 24; ++y)
      for (int32_t x = 0; x < 24; ++x) reinterpret_cast<uint32_t*>(rig.Target()->Row(y))[x] = uint32_t(rng());
    auto tex = rig.Texture(uint32_t(w), uint32_t(h), [&](uint32_t x, uint32_t) {
      const uint32_t a = x % 3 == 0 ? 0u : x % 3 == 1 ? 255u : rng() & 255u;
      return (a << 24) | (rng() & 0xFFFFFFu);
    });
    rig.TextureStage(tex.get(), false, TSwFilter::Linear, TSwAddress::Clamp);
    const auto lut = rig.LookupVolume(32, rng);
    const auto ps = rig.Kernel(kSwKernelColorLookup, {0.65f, 0, 0, 0});
    if (blend) rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
    const float dw = scaled ? float(w) * 1.3f + 0.4f : float(w), dh = scaled ? float(h) * 0.7f + 1.0f : float(h);
    rig.Dev->BeginScene();
    rig.Quad(1.5f, 2.5f, 1.5f + dw, 2.5f + dh, 0xFFFFFFFF);
    rig.Dev->EndScene();
    return rig.Snapshot();
  };
  for (int32_t w = 1; w <= 19; ++w)
    for (int32_t h : {1, 3, 8})
      for (bool scaled : {false, true})
        for (bool blend : {false, true})
          EXPECT_EQ(swtest::MaxChannelDiff(render(true, w, h, scaled, blend), render(false, w, h, scaled, blend)), 0)
              << w << "x" << h << " scaled " << scaled << " blend " << blend;
}

// Kernel colours of alpha 1 under blends whose factors are then 1 and 0 skip
// the blend; other blends, and spans with a translucent texel, blend. A
// rotated quad through the colour lookup (spans, not rectangles) from
// opaque pictures with and without translucent spots, over a seeded target:
// the fast path's bytes against the reference's.
TEST(SwKernelWrite, OpaqueSpansUnderEveryBlendGiveTheReferencePixels) {
  auto render = [](bool fast, TSwBlend src, TSwBlend dst, bool spots) {
    TRig rig(48, 40);
    rig.Dev->SetFastPaths(fast);
    std::mt19937 rng(77);
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 48; ++x) reinterpret_cast<uint32_t*>(rig.Target()->Row(y))[x] = uint32_t(rng());
    auto tex = rig.Texture(20, 16, [&](uint32_t x, uint32_t y) {
      const uint32_t a = spots && (x * 7 + y * 3) % 23 == 0 ? rng() & 255u : 255u;
      return (a << 24) | (rng() & 0xFFFFFFu);
    });
    rig.TextureStage(tex.get(), false, TSwFilter::Point, TSwAddress::Clamp);
    const auto lut = rig.LookupVolume(32, rng);
    const auto ps = rig.Kernel(kSwKernelColorLookup, {0.5f, 0, 0, 0});
    rig.Blend(src, dst);
    swtest::TTV q[4] = {{3.2f, 9.7f, 0, 1, 0xFFFFFFFF, 0, 0},
                        {40.6f, 1.3f, 0, 1, 0xFFFFFFFF, 1, 0},
                        {8.9f, 38.1f, 0, 1, 0xFFFFFFFF, 0, 1},
                        {46.3f, 30.4f, 0, 1, 0xFFFFFFFF, 1, 1}};
    rig.Dev->SetFVF(swtest::kTTVFvf);
    rig.Dev->BeginScene();
    EXPECT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(q[0])), TSwResult::Ok);
    rig.Dev->EndScene();
    return rig.Snapshot();
  };
  const TSwBlend blends[][2] = {{TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha}, {TSwBlend::One, TSwBlend::Zero},
                                {TSwBlend::One, TSwBlend::InvSrcAlpha},      {TSwBlend::One, TSwBlend::One},
                                {TSwBlend::InvSrcAlpha, TSwBlend::SrcAlpha}, {TSwBlend::Zero, TSwBlend::One}};
  for (const auto& b : blends)
    for (bool spots : {false, true})
      EXPECT_EQ(swtest::MaxChannelDiff(render(true, b[0], b[1], spots), render(false, b[0], b[1], spots)), 0)
          << int(b[0]) << " " << int(b[1]) << " spots " << spots;
}

}  // namespace
}  // namespace kav
