// The show's dialogs in the overlay: made by slide production from a show
// folder, opened by name, faded in on the engine clock, holding the show
// while open when they say so, their buttons answering the mouse, closed
// and faded out.
#include <gtest/gtest.h>

#include <cmath>

#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavObjects/KavButton.h"
#include "KavLib2/NavPanel/KavOverlayDialog.h"
#include "tests/KavLib2/KavObjects/ShowFolderTestUtil.h"

namespace kav {
namespace {

int64_t g_now = 100000;
int64_t FakeNow() { return g_now; }

// The engine's slide window reduced to what the overlay asks of it: the
// show's dialogs and where its picture stands.
class TTestSlideWindow : public TSlideWindowProducer {
 public:
  TTestSlideWindow(TSlideProducer* producer, TRect visible) : producer_(producer), visible_(visible) {}
  int32_t WindowCount() const override { return 0; }
  void AdvanceSlideWindow(double) override {}
  void SetAspectRatio(TSize, double, double, double) override {}
  TRect GetVisibleRect() override { return visible_; }
  Ref<TDrawItem> CreateCustomDialog(const std::u16string& name) override {
    return Ref<TDrawItem>(producer_->CreateCustomDialog(name).get());
  }

 private:
  Ref<TSlideProducer> producer_;
  TRect visible_;
};

// The help dialog: a blue panel with a button that closes it. "Menu" (the
// second custom dialog) does not hold the show.
const std::string kDialogs =
    "[dialog_1_]\nhelp=1\n" + test::Obj("panel", "Box", "Size=800,500\nFitMode=None\nColor1=0,0,255\nFillMode=Solid\n") +
    test::Obj("close", "Button", "Theme=aqua\nAction=closedialog\n" + test::KeyPoint("Time=0\nScaleX=20\nScaleY=20\n")) +
    "[dialog_2_]\nDialogPause=0\n" + test::Obj("menu", "Box", "Size=400,300\nFitMode=None\nColor1=255,0,0\nFillMode=Solid\n");

// A show folder with dialogs, its slide production at 1280 x 720 and the
// overlay over it, built as the engine builds it.
struct TDialogShow : test::THostFixture {
  Ref<TKavSource> Source;
  Ref<TSlideProducer> Producer;
  Ref<TTestSlideWindow> Window;
  Ref<TThirdSlide> Overlay;
  explicit TDialogShow(TRect visible = TRect{0, 0, 1280, 720}) {
    g_now = 100000;
    SetEngineClock(&FakeNow);
    RegisterKavObjectFactories();
    test::WriteButtonTheme(Folder, "aqua", 0xFF00C000u);
    Host.reset();
    TKavSourceSetup setup;
    setup.RandomSeed = 7;
    Source = MakeRef<TKavSource>(
        Files.get(),
        test::Doc("[Main]\nKavVersion=8.0.1\nopt_scr_width=1280\nopt_scr_height=720\nPathToButtons=buttons/\n"
                  "opt_customdialogscount=2\ncustom_dialog1=Help\ncustom_dialog2=Menu\n"
                  "[Times]\nopt_slidescount=1\nopt_synchpos1=3000\n[Slide1]\n" + kDialogs).get(),
        setup);
    Producer = MakeRef<TSlideProducer>(Source.get(), nullptr, TKavSlideHost::TEffectResourceFill(), false);
    Producer->CurrentTiming = MakeRef<TTiming>(0);
    Producer->SetAspectRatio(TSize{1280, 720}, false, 100, 100);
    Window = MakeRef<TTestSlideWindow>(Producer.get(), visible);
    RegisterNavOverlay();
    TEngineOverlaySetup s;
    s.Accessor = Files.get();
    s.Visible = visible;
    s.Window = TSize{visible.Right, visible.Bottom};
    s.Aspect = TSize{visible.Width(), visible.Height()};
    s.Slides = Window.get();
    Overlay = Ref<TThirdSlide>(static_cast<TThirdSlide*>(NewEngineOverlay(s).get()));
  }
  ~TDialogShow() {
    Overlay = nullptr;
    SetEngineOverlayMaker(nullptr);
    SetOverlayDialogMaker(nullptr);
    SetEngineClock(nullptr);
  }
  // The overlay over white at 1280 x 720, scaled into 640 x 360.
  std::vector<uint32_t> Draw(TFrameDumper& dumper, const std::string& name = {}) {
    dumper.Drawer()->SetView(TFloatRect{0, 0, 1280, 720}, FloatPoint(1280, 720), true,
                             Vector3(640, 360, -360 * std::sqrt(3.0f)));
    dumper.RenderFrame([&](TDeviceDrawer* d) {
      d->Clear(0xFFFFFFFFu, 1);
      d->Render(Overlay.get());
    });
    if (!name.empty()) dumper.WritePng(test::SlideDumpPath(name));
    return dumper.LastFrame().Pixels;
  }
  // The engine's mouse state over the window.
  TRefObject* Mouse(uint8_t kind, int32_t x, int32_t y, TKavAction& action, bool& handled) {
    TRefObject* object = nullptr;
    Overlay->HitTest(TEngineMouseState{kind, uint8_t(kind == 0 ? 0 : 1), 0, x, y}, action, handled, object);
    return object;
  }
};

uint32_t At(const std::vector<uint32_t>& px, int32_t x, int32_t y) { return px.at(size_t(y) * 640 + size_t(x)); }
int Blue(uint32_t c) { return int(c & 0xFF); }
int Red(uint32_t c) { return int((c >> 16) & 0xFF); }

TEST(OverlayDialogs, HelpDialogFadesInHoldsTheShowClosesByItsButtonAndFadesOut) {
  TDialogShow show;
  ASSERT_TRUE(show.Overlay);
  TFrameDumper dumper(640, 360);
  // Opened as the engine opens it for the help action.
  show.Overlay->ShowDialog(u"help");
  ASSERT_EQ(show.Overlay->Dialogs().size(), 1u);
  auto* help = dynamic_cast<TKavOverlayDialog*>(show.Overlay->CurrentDialog());
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->Name, u"help");
  EXPECT_TRUE(help->Pause);
  EXPECT_TRUE(show.Overlay->IsPausing());

  // Not yet faded in: nothing of it shows in the first frame.
  auto px = show.Draw(dumper, "dialog_help_0.png");
  EXPECT_EQ(At(px, 150, 100), 0xFFFFFFFFu);
  show.Overlay->SetTime(0);  // the fade starts with the first pass after the frame
  g_now += 100;
  show.Overlay->SetTime(0);
  EXPECT_NEAR(help->Alpha, 50, 0.01);
  px = show.Draw(dumper, "dialog_help_50.png");
  EXPECT_NEAR(Red(At(px, 150, 100)), 128, 12);  // half blue over white
  EXPECT_EQ(Blue(At(px, 150, 100)), 255);
  g_now += 150;
  show.Overlay->SetTime(0);
  EXPECT_FLOAT_EQ(help->Alpha, 100);
  px = show.Draw(dumper, "dialog_help_open.png");
  EXPECT_LT(Red(At(px, 150, 100)), 8);
  EXPECT_EQ(At(px, 20, 20), 0xFFFFFFFFu);  // outside the panel
  // The button stands in the middle in its theme's green.
  const uint32_t button = At(px, 320, 180);
  EXPECT_GT(int((button >> 8) & 0xFF), 150);
  EXPECT_LT(Blue(button), 60);

  // Outside the dialog's objects nothing is taken: the slides get the event.
  TKavAction action;
  bool handled = true;
  EXPECT_EQ(show.Mouse(0, 5, 5, action, handled), nullptr);
  EXPECT_FALSE(handled);
  // A press and a release on the button give its action.
  TRefObject* hit = show.Mouse(1, 640, 360, action, handled);
  ASSERT_NE(dynamic_cast<TKavButton*>(hit), nullptr);
  EXPECT_TRUE(handled);
  EXPECT_TRUE(action.IsNone());
  show.Mouse(2, 640, 360, action, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(action.Kind, kActClose);

  // The engine closes the top dialog for it: it fades out, still holding
  // the show, and goes on the pass after its alpha fell below 1.
  show.Overlay->CloseTopDialog();
  show.Overlay->SetTime(0);
  g_now += 100;
  show.Overlay->SetTime(0);
  EXPECT_NEAR(help->Alpha, 50, 0.01);
  EXPECT_TRUE(show.Overlay->IsPausing());
  g_now += 150;
  show.Overlay->SetTime(0);
  EXPECT_LT(help->Alpha, 1);
  px = show.Draw(dumper);
  EXPECT_EQ(At(px, 150, 100), 0xFFFFFFFFu);
  show.Overlay->SetTime(0);
  EXPECT_FALSE(show.Overlay->HasDialog());
  EXPECT_FALSE(show.Overlay->IsPausing());
}

TEST(OverlayDialogs, NamedDialogsByTheirTitleAndTheWindowOffset) {
  // The show's picture stands 40 pixels right and 30 down in the window.
  TDialogShow show(TRect{40, 30, 1320, 750});
  show.Overlay->ShowDialog(u"Menu");
  ASSERT_EQ(show.Overlay->Dialogs().size(), 1u);
  EXPECT_FALSE(show.Overlay->CurrentDialog()->Pause);
  EXPECT_FALSE(show.Overlay->IsPausing());  // shown, but the show plays on
  TFrameDumper dumper(640, 360);
  show.Draw(dumper);
  show.Overlay->SetTime(0);
  g_now += 300;
  show.Overlay->SetTime(0);
  const auto px = show.Draw(dumper, "dialog_menu.png");
  EXPECT_GT(Red(At(px, 320, 180)), 240);
  EXPECT_LT(Blue(At(px, 320, 180)), 16);
  // Its box answers at its place in the window, not at the picture's.
  TKavAction action;
  bool handled = false;
  EXPECT_NE(show.Mouse(0, 640 + 40 + 190, 360 + 30 + 140, action, handled), nullptr);
  EXPECT_EQ(show.Mouse(0, 640 + 40 - 210, 360 + 30, action, handled), nullptr);

  // A name the show does not have opens nothing; neither does a title of
  // another case.
  show.Overlay->ShowDialog(u"Missing");
  show.Overlay->ShowDialog(u"menu");
  EXPECT_EQ(show.Overlay->Dialogs().size(), 1u);
  // The help dialog goes on top and holds the show; asking for "Menu" again
  // starts its fade-out.
  show.Overlay->ShowDialog(u"help");
  ASSERT_EQ(show.Overlay->Dialogs().size(), 2u);
  EXPECT_TRUE(show.Overlay->IsPausing());
  show.Overlay->ShowDialog(u"Menu");
  EXPECT_EQ(show.Overlay->Dialogs().size(), 2u);
  // Without slide production (an engine that gave none) there are no dialogs.
  EXPECT_EQ(MakeKavOverlayDialog(nullptr, u"help"), nullptr);
}

}  // namespace
}  // namespace kav
