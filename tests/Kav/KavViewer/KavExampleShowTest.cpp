// The committed example show (examples/myshow) as the README makes it:
// packed by the kavpack program, opened like any packed show and played by
// the engine over the real slide production on the fake clock. Every slide
// comes in by its own kind of transition; each one is seen in its frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Kav/KavViewer/KavShowSlides.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavEngine/KavEngine.h"
#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "tests/Kav/KavViewer/ShowDeviceFixture.h"
#include "tests/KavLib2/KavEngine/EngineAppFixture.h"
#include "tests/KavLib2/KavObjects/ShowFolderTestUtil.h"
#include "tests/VoRav/Graphics/ToolRun.h"

using namespace kav;
using namespace kav::enginetest;

namespace {

constexpr int32_t kW = 320, kH = 180;  // the 16:9 show fills the window

struct TFrame {
  std::vector<uint32_t> Pixels;
};

int Channel(uint32_t c, int shift) { return int((c >> shift) & 0xFF); }
// The largest difference of the three colour channels.
int Distance(uint32_t a, uint32_t b) {
  int d = 0;
  for (int s : {0, 8, 16}) d = std::max(d, std::abs(Channel(a, s) - Channel(b, s)));
  return d;
}
// Share of the pixels of `a` within `tolerance` of `b`.
double Alike(const TFrame& a, const TFrame& b, int tolerance) {
  size_t same = 0;
  for (size_t i = 0; i < a.Pixels.size(); ++i) same += Distance(a.Pixels[i], b.Pixels[i]) <= tolerance;
  return double(same) / double(a.Pixels.size());
}
// What a dissolve shows at progress p: b over a at opacity p.
TFrame Blend(const TFrame& a, const TFrame& b, double p) {
  TFrame m;
  m.Pixels.resize(a.Pixels.size());
  for (size_t i = 0; i < a.Pixels.size(); ++i) {
    uint32_t c = 0xFF000000u;
    for (int s : {0, 8, 16})
      c |= uint32_t(std::lround(Channel(a.Pixels[i], s) * (1 - p) + Channel(b.Pixels[i], s) * p)) << s;
    m.Pixels[i] = c;
  }
  return m;
}

class ExampleShowTest : public ShowDeviceTest<kW, kH> {
 protected:

  // The README's command: kavpack myshow.kvshow examples/myshow.
  bool Pack() {
    const std::filesystem::path show = folder.Dir / "myshow.kvshow";
    const std::string out = (folder.Dir / "kavpack.out").string();
    const int rc = test::RunTool({KAV_KAVPACK, show.string(), std::string(KAV_SOURCE_DIR) + "/examples/myshow"}, out);
    if (rc != 0) return false;
    std::u16string error;
    locator = LoadPackedShow(UTF8Decode(show.string()), error);
    EXPECT_NE(locator, nullptr) << UTF8Encode(error);
    return locator != nullptr;
  }

  // The frame the engine draws when the show is opened at `time`.
  TFrame At(int32_t time, const std::string& dump) {
    if (engine) engine->StopEngine();
    engine = MakeRef<TKavEngine>(app.get(), rig->Device.get(), false, true, false);
    EXPECT_TRUE(engine->OpenShow(locator->Accessor(), locator->Ini(), time));
    const int64_t before = engine->FramesDrawn();
    bool drawn = false;
    for (int i = 0; i < 10000 && !drawn; ++i) {  // the loader's thread makes the slides: a generous wait
      engine->MainLoop();
      drawn = engine->SlideCount() == 3 && engine->FramesDrawn() > before;
      if (!drawn) SleepMs(2);
    }
    EXPECT_TRUE(drawn) << time;
    rig->Sink->WritePng(dxtest::kWindow, test::SlideDumpPath(dump));
    return TFrame{rig->Frame().Pixels};
  }

  test::TShowFolder folder;
  Ref<TKavShowLocator> locator;
};

struct TTransition {
  const char* Kind;
  int32_t Begin;  // show time at which the slide coming in begins
  bool Dissolve;
};

// Each slide comes in within 1000 ms of its begin: a third of the way the
// frame is neither the slide that leaves nor the one that comes (not a cut),
// and only the dissolve looks like the two mixed by opacity; the push, the
// mosaic and the flip move, cut up or turn the slides.
TEST_F(ExampleShowTest, EveryTransitionIsSeenAsItsKind) {
  ASSERT_TRUE(Pack());
  // The first slide's dissolve is seen where the show starts again after the
  // last slide (12 s).
  const TTransition transitions[] = {
      {"push", 3000, false}, {"mosaic", 6000, false}, {"flip", 9000, false}, {"dissolve", 12000, true}};
  for (const TTransition& t : transitions) {
    SCOPED_TRACE(t.Kind);
    const std::string name = std::string("example_") + t.Kind;
    const TFrame leaving = At(t.Begin - 300, name + "_before.png");
    const TFrame coming = At(t.Begin + 1300, name + "_after.png");
    const TFrame between = At(t.Begin + 350, name + "_between.png");
    ASSERT_LT(Alike(leaving, coming, 24), 0.5) << "the two slides look alike";
    // Not a cut: the frame between is neither slide.
    EXPECT_LT(Alike(between, leaving, 24), 0.8);
    EXPECT_LT(Alike(between, coming, 24), 0.8);
    const double like_dissolve = Alike(between, Blend(leaving, coming, 0.35), 24);
    if (t.Dissolve)
      EXPECT_GT(like_dissolve, 0.9);
    else
      EXPECT_LT(like_dissolve, 0.7);
  }
}

}  // namespace
