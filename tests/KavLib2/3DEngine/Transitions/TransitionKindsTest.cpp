// Mid-progress frames of each kind against what the kind computes.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/KavLib2/3DEngine/Transitions/TransitionRig.h"

namespace kav {
namespace {

using namespace transtest;

TEST(TransitionKinds, DissolveAtHalfIsTheAverage) {
  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  auto p = Params(Effect(1, {}));
  const auto mid = rig.At(p.get(), 500);
  rig.Dump("dissolve_half");
  int worst = 0;
  for (size_t i = 0; i < mid.size(); ++i)
    for (int s = 0; s < 24; s += 8) {
      const double want = (((from[i] >> s) & 0xFF) * 127.5 + ((to[i] >> s) & 0xFF) * 127.5) / 255.0;
      worst = std::max(worst, int(std::lround(std::abs(((mid[i] >> s) & 0xFF) - want))));
    }
  EXPECT_LE(worst, 1);
}

}  // namespace
}  // namespace kav
