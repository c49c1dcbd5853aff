// A slide that says it is opaque lets the transition leave out what it
// hides (the clear before it, the outgoing slide under it): the pictures
// stay exactly those of a slide that says nothing.
#include <gtest/gtest.h>

#include <map>

#include "tests/KavLib2/3DEngine/Transitions/TransitionRig.h"

namespace kav {
namespace {

using namespace transtest;

// Frames of every configuration at several progress values, the slides
// saying they are opaque or not.
void ExpectSameWithAndWithoutTheHint(TTransitionRig& rig) {
  for (const TConfig& c : AllConfigs()) {
    SCOPED_TRACE(c.Name);
    for (double p : {0.1, 0.3, 0.5, 0.7, 0.9}) {
      auto params = Params(c.Effect);
      rig.From->Hint = rig.To->Hint = false;
      const auto plain = rig.At(params.get(), p * 1000);
      rig.From->Hint = rig.To->Hint = true;
      const auto hinted = rig.At(params.get(), p * 1000);
      size_t i = 0;
      while (i < plain.size() && plain[i] == hinted[i]) ++i;
      ASSERT_EQ(i, plain.size()) << "at p=" << p << " pixel " << i % size_t(rig.W) << "," << i / size_t(rig.W);
    }
  }
}

TEST(OpaqueSlide, EveryConfigurationDrawsTheSamePicturesWithTheHint) {
  TTransitionRig rig(240, 136);
  ExpectSameWithAndWithoutTheHint(rig);
}

TEST(OpaqueSlide, ALetterboxedOutputDrawsTheSamePicturesWithTheHint) {
  TTransitionRig rig(200, 120);
  rig.Drawer->SetOutputRect(TRect{13, 7, 170, 111});
  ExpectSameWithAndWithoutTheHint(rig);
}

// In a letterboxed output the incoming slide is rendered into the target
// at its origin; the clear before it must lie there too, or a see-through
// slide shows what an earlier frame left in the target.
TEST(OpaqueSlide, ASeeThroughSlideInALetterboxShowsNothingOfAnEarlierFrame) {
  const auto see_through = drawtest::MakeImage(200, 120, [](int32_t x, int32_t y) {
    return (x + y) % 3 ? 0x40102030u : 0x00000000u;
  });
  const auto solid = drawtest::MakeImage(200, 120, [](int32_t, int32_t) { return 0xFFE0C020u; });
  std::map<std::string, Ref<TKavEffect>> by_name;
  for (auto& c : AllConfigs()) by_name[c.Name] = c.Effect;
  for (const char* name : {"dissolve", "push0"}) {
    SCOPED_TRACE(name);
    auto params = Params(by_name[name]);
    TTransitionRig fresh(200, 120);
    fresh.Drawer->SetOutputRect(TRect{13, 7, 183, 111});
    fresh.To = MakeRef<TSlideItem>(see_through, 200, 120, false);
    const auto expected = fresh.At(params.get(), 500);

    TTransitionRig used(200, 120);
    used.Drawer->SetOutputRect(TRect{13, 7, 183, 111});
    used.To = MakeRef<TSlideItem>(solid, 200, 120, false);
    used.At(params.get(), 500);
    used.To = MakeRef<TSlideItem>(see_through, 200, 120, false);
    EXPECT_EQ(used.At(params.get(), 500), expected);
  }
}

// A slide that claims opacity it does not have shows that the hint is
// used: the clear before the incoming slide and the outgoing slide under
// the flat part of a page curl and under a closing bar wipe are left out.
TEST(OpaqueSlide, AFalseClaimChangesWhatTheHintLeavesOut) {
  TTransitionRig rig(240, 136);
  const auto see_through = drawtest::MakeImage(240, 136, [](int32_t x, int32_t) {
    return x % 2 ? 0x80402010u : 0xFF2040C0u;
  });
  auto liar = MakeRef<TSlideItem>(see_through, 240, 136, true);
  rig.To = liar;
  std::map<std::string, Ref<TKavEffect>> by_name;
  for (auto& c : AllConfigs()) by_name[c.Name] = c.Effect;
  for (const char* name : {"curling0_0", "page1", "dissolve"}) {
    SCOPED_TRACE(name);
    auto params = Params(by_name[name]);
    liar->Hint = false;
    const auto honest = rig.At(params.get(), 700);
    liar->Hint = true;
    EXPECT_NE(rig.At(params.get(), 700), honest);
  }
}

// A flat picture over the whole rectangle, then (a later batch) its right
// third mirrored and shaded over the middle third, as a page curl's back
// lies over its front.
class TBackOverFrontFilter : public TDrawFilter {
 public:
  void DrawFrame(TEffController* c) override {
    const float l = float(DrawRect.Left), t = float(DrawRect.Top), r = float(DrawRect.Right),
                b = float(DrawRect.Bottom), m0 = l + (r - l) / 3, m1 = l + 2 * (r - l) / 3;
    const TEffDepthVertex front[6] = {{l, t, 0, l, t}, {r, t, 0, r, t}, {l, b, 0, l, b},
                                      {r, t, 0, r, t}, {r, b, 0, r, b}, {l, b, 0, l, b}};
    // u = r at m0 down to m1 at m1.
    auto back = [&](float x, float y) { return TEffDepthVertex{x, y, 0, r + m0 - x, y, 200}; };
    const TEffDepthVertex over[6] = {back(m0, t), back(m1, t), back(m0, b), back(m1, t), back(m1, b), back(m0, b)};
    TEffTile* tile = c->GetTile(0, 0);
    tile->Begin(1, 1);
    tile->AddDepthTriangles(front, 6);
    tile->End();
    tile->Begin(1, 1);
    tile->AddDepthTriangles(over, 6);
    tile->End();
  }
};

Ref<TDrawFilter> MakeBackOverFront(TDrawItem*, TIniSection*, bool) { return MakeRef<TBackOverFrontFilter>(); }

// One frame on a fresh drawer (its targets start cleared), the incoming
// slide see-through on its right third whatever it claims.
std::vector<uint32_t> BackOverFrontFrame(bool hint) {
  TTransitionRig rig(120, 60);
  auto image = drawtest::MakeImage(120, 60, [](int32_t x, int32_t y) {
    return x >= 80 ? 0x80402010u : (x + y) % 7 ? 0xFF2040C0u : 0xFFF0E020u;
  });
  auto to = MakeRef<TSlideItem>(image, 120, 60, true);
  to->Hint = hint;
  rig.To = to;
  auto p = Params(Effect(12, {}));
  return rig.At(p.get(), 500);
}

TEST(OpaqueSlide, TheFrontUnderAnOpaqueBackIsLeftOut) {
  SetCustomTransitionHook(&MakeBackOverFront);
  const auto honest = BackOverFrontFrame(false), claimed = BackOverFrontFrame(true);
  SetCustomTransitionHook(nullptr);
  // Under the back (middle third, inside by a pixel) the front was drawn
  // only without the claim: the see-through back shows it, or not.
  int differing = 0;
  for (int32_t y = 1; y < 58; ++y)
    for (int32_t x = 42; x < 79; ++x) differing += honest[size_t(y) * 120 + size_t(x)] != claimed[size_t(y) * 120 + size_t(x)];
  EXPECT_EQ(differing, 57 * 37);
  // The left third is the front alone either way.
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 39; ++x) ASSERT_EQ(honest[size_t(y) * 120 + size_t(x)], claimed[size_t(y) * 120 + size_t(x)]);
}

}  // namespace
}  // namespace kav
