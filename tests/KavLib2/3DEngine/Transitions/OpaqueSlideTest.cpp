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

}  // namespace
}  // namespace kav
