// The overlay in the engine: drawn last, asked first, its dialogs holding
// the show, its panel's presses carried out as actions.
#include <gtest/gtest.h>

#include <algorithm>

#include "KavLib2/KavEngine/KavEngine.h"
#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/NavPanel/KavThirdSlide.h"
#include "KavLib2/NavPanel/KavVideoNavBar.h"
#include "NavTestUtil.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/vxTime.h"
#include "tests/KavLib2/KavEngine/EngineStubs.h"
#include "tests/VoRav/3DBasics/Dx3DRig.h"
#include "tests/platform/window/WinTestUtil.h"

namespace kav {
namespace {

using namespace kav::win;

int64_t g_clock = 100000;
int64_t Clock() { return g_clock; }

struct THelp : TOverlayDialog {
  TRefObject* ProcessMouse(const TEngineMouseState&, TKavAction&) override { return nullptr; }
  void Draw(TDeviceDrawer*) override {}
};
Ref<TOverlayDialog> MakeHelp(TSlideWindowProducer*, const std::u16string& name) {
  if (name != u"help") return nullptr;
  return MakeRef<THelp>();
}

struct TActions {
  std::vector<int32_t> Kinds;
  void Event(TCustomKavEngine*, TKavEventData* d) {
    if (d->Code == kGuiAction && !d->Params.empty()) Kinds.push_back(d->Params[0]);
  }
};

class EngineOverlay : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineClock(&Clock);
    RegisterNavOverlay();
    navtest::DiskAccessor();  // registers the picture decoders
    SetOverlayDialogMaker(&MakeHelp);
    app = Ref<TVxApplication>::Adopt(CreateApplication());
    app->Initialize();
    rig = std::make_unique<dxtest::TDxRig>(320, 200);
  }
  void TearDown() override {
    if (engine) engine->StopEngine();
    engine = nullptr;
    rig.reset();
    if (!app->Finalized()) app->Finalize();
    app = nullptr;
    SetOverlayDialogMaker(nullptr);
    SetEngineOverlayMaker(nullptr);
    SetEngineClock(nullptr);
    WindowTest::TearDown();
  }
  bool PassUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
      g_clock += 20;
      engine->MainLoop();
      if (done()) return true;
      SleepMs(2);
    }
    return false;
  }
  void Post(uint32_t code, TRefObject* param) { engine->EventList()->PostEvent(code, param); }

  Ref<TVxApplication> app;
  std::unique_ptr<dxtest::TDxRig> rig;
  Ref<TKavEngine> engine;
  enginetest::TFactoryScope factory;
  TActions actions;
};

TEST_F(EngineOverlay, OverlayIsDrawnLastAskedFirstAndItsDialogsHoldTheShow) {
  engine = MakeRef<TKavEngine>(app.get(), rig->Device.get(), false, true, false);
  engine->OnEvent = TKavEngineEvent::Bind<&TActions::Event>(&actions);
  const std::string main = "opt_scr_full=0\r\nopt_scr_width=320\r\nopt_scr_height=200\r\nopt_fcp=1\r\n"
                           "opt_nav_usevideoscale=1\r\nopt_nav_inifile=" + navtest::SkinsDir() + "Video/skin.ini\r\n";
  ASSERT_TRUE(engine->OpenShow(enginetest::DiskAccessor().get(), enginetest::ShowOptions(main, 6).get(), 0));
  ASSERT_TRUE(engine->Overlay());
  auto* overlay = static_cast<TThirdSlide*>(engine->Overlay());
  ASSERT_TRUE(overlay->Panel() && overlay->Panel()->Bar());
  ASSERT_EQ(overlay->Panel()->BarRect(), (TRect{0, 180, 320, 200})) ;
  ASSERT_TRUE(PassUntil([&] { return engine->SlideCount() == 3; }));
  ASSERT_FALSE(engine->Root()->Items().empty());
  EXPECT_EQ(engine->Root()->Items().back().get(), overlay);

  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntil([&] { return engine->Active(); }));
  // The help dialog holds the show until its fade-out has run.
  Post(kEngineHelpDialog, nullptr);
  ASSERT_TRUE(PassUntil([&] { return !engine->Active(); }));
  EXPECT_TRUE(overlay->IsPausing());
  Post(kEngineCloseDialog, nullptr);
  ASSERT_TRUE(PassUntil([&] { return engine->Active(); }));
  EXPECT_FALSE(overlay->HasDialog());
  // A dialog's close button closes the dialog, not the player; with no
  // dialog open it goes on to the form.
  Post(kEngineHelpDialog, nullptr);
  ASSERT_TRUE(PassUntil([&] { return overlay->HasDialog(); }));
  auto close = [&] {
    auto click = MakeRef<TEngineMouseData>();
    click->State.X = click->State.Y = 5;
    click->Action = TKavAction{kActClose, 0, {}};
    Post(kEngineMouse, click.release());
  };
  close();
  ASSERT_TRUE(PassUntil([&] { return !overlay->HasDialog(); }));
  Drain();
  EXPECT_EQ(std::find(actions.Kinds.begin(), actions.Kinds.end(), int32_t(kActClose)), actions.Kinds.end());
  close();
  engine->MainLoop();
  Drain();
  EXPECT_NE(std::find(actions.Kinds.begin(), actions.Kinds.end(), int32_t(kActClose)), actions.Kinds.end());
  ASSERT_TRUE(PassUntil([&] { return engine->Active(); }));

  // A press on the video bar's play button becomes the pause action.
  const TRect bar = overlay->Panel()->BarRect();
  auto mouse = MakeRef<TEngineMouseData>();
  mouse->State.Kind = 1;
  mouse->State.Button = 1;
  mouse->State.X = bar.Left + 12;
  mouse->State.Y = (bar.Top + bar.Bottom) / 2;
  Post(kEngineMouse, mouse.release());
  engine->MainLoop();
  Drain();
  EXPECT_NE(std::find(actions.Kinds.begin(), actions.Kinds.end(), int32_t(kActPause)), actions.Kinds.end());
  EXPECT_EQ(engine->CursorName(), u"NavPanel");
}

}  // namespace
}  // namespace kav
