// The effecter's drawing shortcuts: what it leaves out must be what the
// blend would have left unchanged, and nothing more.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/KavLib2/3DEngine/Transitions/TransitionRig.h"

namespace kav {
namespace {

using namespace transtest;

// Emits two triangles over the left and right halves of the draw
// rectangle with the corner opacities given.
class TFaintFilter : public TDrawFilter {
 public:
  static float Left[3], Right[3];
  void DrawFrame(TEffController* c) override {
    const float l = float(DrawRect.Left), t = float(DrawRect.Top), r = float(DrawRect.Right),
                b = float(DrawRect.Bottom), m = (l + r) / 2;
    const TEffVertex v[6] = {{l, t, Left[0]}, {m, t, Left[1]}, {l, b, Left[2]},
                             {m, t, Right[0]}, {r, t, Right[1]}, {r, b, Right[2]}};
    TEffTile* tile = c->GetMultiTile();
    tile->Begin(1, 0);
    tile->AddTriangles(v, 6);
    tile->End();
  }
};
float TFaintFilter::Left[3], TFaintFilter::Right[3];

Ref<TDrawFilter> MakeFaint(TDrawItem*, TIniSection*, bool) { return MakeRef<TFaintFilter>(); }

TEST(Effecter, InvisibleTrianglesAreLeftOutButOneVisibleCornerDrawsTheTriangle) {
  SetCustomTransitionHook(&MakeFaint);
  TTransitionRig rig(120, 60);
  const auto from = rig.Plain(rig.From.get());
  // Corners below half a level round to opacity 0 on the left; on the right
  // only the bottom-right corner is visible.
  const float left[3] = {0.4f, 0.0f, 0.49f}, right[3] = {0.0f, 0.0f, 255.0f};
  std::copy(left, left + 3, TFaintFilter::Left);
  std::copy(right, right + 3, TFaintFilter::Right);
  auto p = Params(Effect(12, {}));
  const auto f = rig.At(p.get(), 500);
  SetCustomTransitionHook(nullptr);
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 60; ++x) ASSERT_EQ(f[size_t(y) * 120 + size_t(x)], from[size_t(y) * 120 + size_t(x)]);
  // Near the opaque corner the incoming slide shows.
  const auto to = rig.Plain(rig.To.get());
  const size_t corner = size_t(58) * 120 + 118;
  EXPECT_LE(ChannelDistance(f[corner], to[corner]), 16);
  EXPECT_NE(f[corner], from[corner]);
}


// Emits depth triangles over the draw rectangle at level 255, taking the
// picture from (X + Shift, Y).
class TFlatFilter : public TDrawFilter {
 public:
  static float Shift;
  void DrawFrame(TEffController* c) override {
    const float l = float(DrawRect.Left), t = float(DrawRect.Top), r = float(DrawRect.Right),
                b = float(DrawRect.Bottom), s = Shift;
    const TEffDepthVertex v[6] = {{l, t, 0, l + s, t}, {r, t, 0, r + s, t}, {l, b, 0, l + s, b},
                                  {r, t, 0, r + s, t}, {r, b, 0, r + s, b}, {l, b, 0, l + s, b}};
    TEffTile* tile = c->GetTile(0, 0);
    tile->Begin(1, 1);
    tile->AddDepthTriangles(v, 6);
    tile->End();
  }
};
float TFlatFilter::Shift = 0;

Ref<TDrawFilter> MakeFlat(TDrawItem*, TIniSection*, bool) { return MakeRef<TFlatFilter>(); }

TEST(Effecter, FlatDepthPictureIsExactAndAShiftedOneStaysFiltered) {
  SetCustomTransitionHook(&MakeFlat);
  TTransitionRig rig(120, 60);
  const auto to = rig.Plain(rig.To.get());
  auto p = Params(Effect(12, {}));
  TFlatFilter::Shift = 0;
  const auto flat = rig.At(p.get(), 500);
  EXPECT_EQ(flat, to);
  // Half a pixel off its place the picture is filtered: the checker's
  // edges blend their two colours.
  TFlatFilter::Shift = 0.5f;
  auto q = Params(Effect(12, {}));
  const auto shifted = rig.At(q.get(), 500);
  SetCustomTransitionHook(nullptr);
  int blended = 0;
  for (int32_t x = 0; x < 110; ++x) {
    const uint32_t c = shifted[size_t(30) * 120 + size_t(x)] | 0xFF000000u;
    if (c != 0xFFF0E020u && c != 0xFF2040C0u) ++blended;
  }
  EXPECT_GT(blended, 0);
}

}  // namespace
}  // namespace kav
