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

// The golden frames' picks at their size (480 x 270), one frame each: the
// shapes, depths and cuts at a size where each spans hundreds of pixels.
TEST(GlCompareTransitions, GoldenPicksAtFullSizeMatchTheSoftwareDevice) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  InstallTransitions();
  const std::vector<std::pair<std::string, double>> picks = {
      {"dissolve", 0.5},       {"clock_0", 0.375},       {"broom2_0", 0.5}, {"shape2_0_50_50", 0.5},
      {"shape3_1_0_0", 0.5},   {"shape4_0_130_40", 0.5}, {"gates2", 0.5},   {"page0", 0.5},
      {"mosaic", 0.5},         {"push0", 0.3},           {"slide3", 0.6},   {"curling0_0", 0.5},
      {"curling_depth2", 0.4}, {"flip1", 0.3},           {"swap0", 0.35}};
  std::map<std::string, Ref<TKavEffect>> by_name;
  for (auto& c : transsheet::AllConfigs()) by_name[c.Name] = c.Effect;
  const int32_t w = 480, h = 270;
  auto from = transsheet::MakeSlide(false, w, h), to = transsheet::MakeSlide(true, w, h);
  for (auto& [name, progress] : picks) {
    ASSERT_TRUE(by_name.count(name)) << name;
    auto params = transsheet::Params(by_name[name]);
    params->Time = progress * 1000;
    const TPair p = DrawBoth(w, h, [&](TDeviceDrawer* d) {
      d->Clear(0xFF000000u, 1);
      d->DrawTransition(from.get(), to.get(), params.get());
    });
    ExpectAlike(p, name + "_full");
  }
  SetDrawTransitionHook(nullptr);
}

}  // namespace
}  // namespace kav::glcompare
