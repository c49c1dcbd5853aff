// The slide loader prepares pictures on the drawer (its own thread) while
// the engine thread draws and the device is lost, released and made again:
// the renderer the loader makes textures on must never be freed under it,
// and every picture prepared must still draw once the device is back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "DrawerRig.h"
#include "VoRav/3DBasics/DXDev3D.h"

namespace kav {
namespace {

using drawtest::MakeImage;
using drawtest::TDrawerRig;

uint32_t Solid(int32_t, int32_t) { return 0xFF20C040u; }

// Rounds of loss and re-creation; KAV_DRAWER_STRESS_ROUNDS may raise them.
int Rounds() {
  const char* v = std::getenv("KAV_DRAWER_STRESS_ROUNDS");
  const int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 1000;
}

TEST(DrawerLock, DeviceLossAndRecreationWhileTheLoaderPreparesPictures) {
  TDrawerRig rig(64, 48);
  Ref<TImage> shown = MakeImage(40, 30, Solid);
  auto draw = [&](TDeviceDrawer* d) {
    d->DrawImage(shown.get(), T3DPoint{0, 0, 0}, TImageDrawParams{}, T3DPoint{0, 30, 0}, T3DPoint{40, 0, 0},
                 TSize{40, 30});
  };
  ASSERT_TRUE(rig.Frame(draw));

  std::atomic<bool> stop{false};
  std::atomic<int> prepared{0};
  std::thread loader([&] {
    // Pictures of a few tiles each, prepared and dropped as slides come and go.
    std::vector<Ref<TImage>> pictures;
    for (int i = 0; i < 4; ++i) pictures.push_back(MakeImage(300 + 40 * i, 200, Solid));
    while (!stop.load()) {
      for (const Ref<TImage>& p : pictures) {
        if (rig.Drawer->IsReady()) rig.Drawer->PrepareImage(p.get(), TImageDrawParams{});
        rig.Drawer->FreeOwnerTextures(p.get());
        ++prepared;
      }
    }
  });
  // The rounds go on until the loader has prepared pictures among them too
  // (on a loaded machine its thread may not have run yet), at most a minute.
  const int rounds = Rounds();
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  for (int i = 0; i < rounds || (prepared.load() == 0 && std::chrono::steady_clock::now() < give_up); ++i) {
    if (TDevStore* store = rig.Device->FindObject<TDevStore>())
      if (TSwDevice* dev = store->Device()) dev->InjectLoss();
    rig.Frame(draw);  // finds the loss: the renderer goes
    rig.Drawer->IsReady();
    rig.Frame(draw);  // a new renderer
  }
  stop = true;
  loader.join();
  EXPECT_GT(prepared.load(), 0);
  // The device is back and draws the picture.
  bool ok = false;
  for (int i = 0; i < 3 && !ok; ++i) ok = rig.Frame(draw);
  ASSERT_TRUE(ok);
  EXPECT_EQ(rig.At(10, 10), Solid(10, 10));
}

}  // namespace
}  // namespace kav
