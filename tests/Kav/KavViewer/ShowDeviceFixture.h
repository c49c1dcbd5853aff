// An engine test that plays a show on one device of W x H (instead of the
// window test's own), with the show's services and slide factory installed;
// the engine it made is stopped at the end.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "Kav/KavViewer/KavShowSlides.h"
#include "KavLib2/KavEngine/KavEngine.h"
#include "tests/KavLib2/KavEngine/EngineAppFixture.h"

namespace kav::enginetest {

template <int32_t W, int32_t H>
class ShowDeviceTest : public EngineAppTest {
 protected:
  void SetUp() override {
    EngineAppTest::SetUp();
    rig.reset();
    rig = std::make_unique<dxtest::TDxRig>(W, H);
    InstallShowServices();
    InstallShowSlides();  // the window factory again, should another test have taken it out
  }
  void TearDown() override {
    if (engine) engine->StopEngine();
    engine = nullptr;
    EngineAppTest::TearDown();
  }

  Ref<TKavEngine> engine;
};

}  // namespace kav::enginetest
