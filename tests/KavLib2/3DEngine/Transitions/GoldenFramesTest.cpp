// Mid-progress frames of every kind at 480 x 270 against reference PNGs
// made by this code and checked by eye. KAV_UPDATE_GOLDENS=1 rewrites them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "tools/framedump/FrameDump.h"
#include "tests/KavLib2/3DEngine/Transitions/TransitionRig.h"

namespace kav {
namespace {

using namespace transtest;

TEST(GoldenFrames, MidProgressFramesOfEveryKindAreUnchanged) {
  const std::string dir = std::string(KAV_SOURCE_DIR) + "/tests/KavLib2/3DEngine/Transitions/golden/";
  const bool update = std::getenv("KAV_UPDATE_GOLDENS") != nullptr;
  const std::vector<std::pair<std::string, double>> picks = {
      {"dissolve", 0.5},        {"clock_0", 0.375},     {"broom2_0", 0.5},         {"shape2_0_50_50", 0.5},
      {"shape3_1_0_0", 0.5},    {"shape4_0_130_40", 0.5}, {"gates2", 0.5},         {"page0", 0.5},
      {"mosaic", 0.5},          {"push0", 0.3},         {"slide3", 0.6},           {"curling0_0", 0.5},
      {"curling_depth2", 0.4},  {"flip1", 0.3},         {"swap0", 0.35}};
  TTransitionRig rig(480, 270);
  std::map<std::string, Ref<TKavEffect>> by_name;
  for (auto& c : AllConfigs()) by_name[c.Name] = c.Effect;
  for (auto& [name, p] : picks) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(by_name.count(name));
    auto params = Params(by_name[name]);
    const auto frame = rig.At(params.get(), p * 1000);
    const std::string path = dir + name + ".png";
    if (update) {
      ASSERT_TRUE(rig.Sink->WritePng(dxtest::kWindow, path));
      continue;
    }
    int32_t w = 0, h = 0;
    std::vector<uint32_t> ref;
    ASSERT_TRUE(ReadPngPixels(path, w, h, ref)) << "missing reference " << path << " (KAV_UPDATE_GOLDENS=1 makes it)";
    ASSERT_EQ(w, 480);
    ASSERT_EQ(h, 270);
    int worst = 0;
    for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, ChannelDistance(frame[i] | 0xFF000000u, ref[i]));
    EXPECT_LE(worst, 2);
  }
}

}  // namespace
}  // namespace kav
