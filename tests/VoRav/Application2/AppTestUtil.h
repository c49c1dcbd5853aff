// A null-backend window system with an initialised application per test.
#pragma once

#include "VoRav/Application2/winApplication.h"
#include "tests/platform/window/WinTestUtil.h"

namespace kav {

class AppTest : public win::WindowTest {
 protected:
  void SetUp() override {
    win::WindowTest::SetUp();
    app = Ref<TVxApplication>::Adopt(CreateApplication());
    app->Initialize();
  }
  void TearDown() override {
    if (!app->Finalized()) app->Finalize();
    app = nullptr;
    win::WindowTest::TearDown();
  }
  Ref<TVxApplication> app;
};

}  // namespace kav
