// The set-up of the tests that run an engine under an application: the null
// window backend, the application's event list, a software 3D device over
// the offscreen sink and a fake engine clock.
#pragma once

#include <memory>

#include "KavLib2/KavEngine/KavEngineClock.h"
#include "VoRav/Application2/winApplication.h"
#include "tests/VoRav/3DBasics/Dx3DRig.h"
#include "tests/platform/window/WinTestUtil.h"

namespace kav::enginetest {

class EngineAppTest : public win::WindowTest {
 protected:
  static inline int64_t Now = 100000;
  static int64_t FakeNow() { return Now; }

  void SetUp() override {
    win::WindowTest::SetUp();
    SetEngineClock(&FakeNow);
    // The fake clock stands while a pass waits: real waits stay a frame long.
    SetEngineWaitLimit(16);
    app = Ref<TVxApplication>::Adopt(CreateApplication());
    app->Initialize();
    rig = std::make_unique<dxtest::TDxRig>(64, 48);
  }
  // Descendants release their engines and forms first.
  void TearDown() override {
    rig.reset();
    if (!app->Finalized()) app->Finalize();
    app = nullptr;
    SetEngineClock(nullptr);
    SetEngineWaitLimit(0);
    win::WindowTest::TearDown();
  }

  Ref<TVxApplication> app;
  std::unique_ptr<dxtest::TDxRig> rig;
};

}  // namespace kav::enginetest
