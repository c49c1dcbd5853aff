// Every transition configuration at progress 0, 1/4, 1/2, 3/4 and 1, drawn
// as one contact sheet per kind on both devices, each cell compared.
#include <map>

#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"
#include "tests/tools/glcompare/GlCompare.h"
#include "tools/transitionsheet/TransitionConfigs.h"

namespace kav::glcompare {
namespace {

TEST(GlCompareTransitions, EveryConfigurationAtFiveProgressesMatchesTheSoftwareDevice) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  InstallTransitions();
  // Cells of 128 x 72: large enough for every kind's shapes, small enough
  // that the 525 cells draw in seconds under the sanitizers.
  const int32_t w = 128, h = 72;
  const std::vector<double> progress{0, 0.25, 0.5, 0.75, 1};
  std::map<std::string, std::vector<transsheet::TConfig>> kinds;
  size_t total = 0;
  for (auto& c : transsheet::AllConfigs()) {
    kinds[c.Kind].push_back(c);
    ++total;
  }
  EXPECT_EQ(total, 105u);
  for (auto& [kind, configs] : kinds) {
    auto from = transsheet::MakeSlide(false, w - 4, h - 4);
    auto to = transsheet::MakeSlide(true, w - 4, h - 4);
    const TPair p = DrawBoth(w * int32_t(progress.size()), h * int32_t(configs.size()), [&](TDeviceDrawer* d) {
      transsheet::DrawSheet(d, configs, progress, w, h, from.get(), to.get());
    });
    for (size_t r = 0; r < configs.size(); ++r)
      for (size_t c = 0; c < progress.size(); ++c)
        ExpectAlikeIn(p, configs[r].Name + "@" + std::to_string(int(progress[c] * 100)), int32_t(c) * w,
                      int32_t(r) * h, int32_t(c + 1) * w, int32_t(r + 1) * h);
    if (::testing::Test::HasFailure()) {
      // One dump of the whole sheet shows where.
      ExpectAlike(p, kind);
    }
  }
}

}  // namespace
}  // namespace kav::glcompare
