// The 3D layer on the application: a renderer asked for from another thread
// is completed by the GUI thread's message loop.
#include <gtest/gtest.h>

#include <thread>

#include "Dx3DRig.h"
#include "VoRav/3DBasics/DXDev3DGui.h"
#include "VoRav/Application2/winApplication.h"
#include "tests/platform/window/WinTestUtil.h"

namespace kav {
namespace {

class Gui3DTest : public win::WindowTest {};

TEST_F(Gui3DTest, PendingRendererCompletedThroughTheApplication) {
  Ref<TVxApplication> app = Ref<TVxApplication>::Adopt(CreateApplication());
  app->Initialize();
  {
    dxtest::TDxRig rig;
    Install3DApplicationGate(app.get());
    Engine3D();
    app->ProcessMessages();
    Ref<T3DRenderer> r;
    std::thread engine([&] { r = rig.NewRenderer(); });
    engine.join();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->State(), k3DStatePending);
    app->ProcessMessages();
    EXPECT_EQ(r->State(), k3DStateUsable);
    EXPECT_TRUE(rig.Device->FindObject<TDevStore>());
    r = nullptr;
    Uninstall3DApplicationGate();
  }
  app->Finalize();
}

}  // namespace
}  // namespace kav
