#include <gtest/gtest.h>

#include <cmath>

#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "KavLib2/NavPanel/KavThirdSlide.h"
#include "KavLib2/NavPanel/KavNavBar.h"
#include "NavTestUtil.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"
#include "tests/VoRav/LogCapture.h"
#include "tools/framedump/FrameDump.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Win32/Text/winTextVectorizer.h"

namespace kav {
namespace {

using namespace navtest;

int64_t g_now = 100000;
int64_t FakeNow() { return g_now; }

struct FakeClock {
  FakeClock() {
    g_now = 100000;
    SetEngineClock(&FakeNow);
  }
  ~FakeClock() { SetEngineClock(nullptr); }
};

struct TTestDialog : TOverlayDialog {
  bool HitAll = false;
  int Draws = 0;
  TTestDialog(std::u16string name, bool pause) {
    Name = std::move(name);
    Pause = pause;
  }
  TRefObject* ProcessMouse(const TEngineMouseState&, TKavAction& action) override {
    if (!HitAll) return nullptr;
    action.Kind = kActNextSlide;
    return this;
  }
  void Draw(TDeviceDrawer*) override { ++Draws; }
};

struct OverlayFixture {
  FakeClock clock;
  TTempDir dir;
  Ref<TFileAccessor> accessor = DiskAccessor();
  Ref<TRootItem> root = MakeRef<TRootItem>(true);
  Ref<TIniFile> options;
  Ref<TThirdSlide> overlay;
  bool playing = true;
  bool IsPlaying(TCustomNavBar*) { return playing; }
  explicit OverlayFixture(const std::string& main, TRect visible = TRect{0, 0, 800, 600}, TSize window = {800, 600}) {
    options = Ini("[Main]\n" + main);
    TOverlaySetup s;
    s.Accessor = accessor.get();
    s.Options = options.get();
    s.Visible = visible;
    s.Root = root.get();
    s.IsPlaying = TDelegate<bool(TCustomNavBar*)>::Bind<&OverlayFixture::IsPlaying>(this);
    s.Window = window;
    s.Aspect = TSize{visible.Width(), visible.Height()};
    s.Volume = 0.8;
    s.Duration = 95000;
    overlay = TThirdSlide::Build(s);
  }
  void Mouse(uint8_t kind, int32_t x, int32_t y, TKavAction* out = nullptr, bool* handled = nullptr) {
    TEngineMouseState m;
    m.Kind = kind;
    m.Button = 1;
    m.X = x;
    m.Y = y;
    TKavAction a;
    bool h = false;
    TRefObject* o = nullptr;
    overlay->HitTest(m, a, h, o);
    if (out) *out = a;
    if (handled) *handled = h;
  }
};

std::string WriteLogo(const TTempDir& dir, uint32_t w, uint32_t h) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) px[size_t(y) * w + x] = 0xFF000000u | ((x * 255 / w) << 16) | ((y * 255 / h) << 8) | 0x40;
  const std::string path = (dir.Path / "logo.png").string();
  EXPECT_TRUE(SwWritePngFile(path, px.data(), w, h));
  return path;
}

TEST(Overlay, LogoIsHalvedAndPlacedAtEachAnchor) {
  TTempDir d;
  const std::string logo = WriteLogo(d, 1600, 1200);
  struct Case {
    int pos;
    TRect rect;
  } cases[] = {{0, {0, 270, 80, 330}},   {1, {360, 0, 440, 60}},    {2, {720, 270, 800, 330}},
               {3, {360, 540, 440, 600}}, {4, {360, 270, 440, 330}}, {5, {0, 0, 80, 60}},
               {6, {720, 0, 800, 60}},    {7, {720, 540, 800, 600}}, {8, {0, 540, 80, 600}},
               {9, {360, 270, 440, 330}}, {-1, {360, 270, 440, 330}}};
  for (const Case& c : cases) {
    OverlayFixture f("opt_logo=1\nopt_logo_fn=" + logo + "\nopt_logo_pos=" + std::to_string(c.pos) +
                     "\nopt_logo_opacity=70\n");
    ASSERT_EQ(f.overlay->LogoItemIndex(), 0) << c.pos;
    const auto& item = f.overlay->ImageItems()[0];
    EXPECT_EQ((TRect{int32_t(item.X), int32_t(item.Y), int32_t(item.X + item.W), int32_t(item.Y + item.H)}), c.rect)
        << c.pos;
    EXPECT_EQ(item.Picture->Width(), 100);  // 1600 -> 800 -> 400 -> 200 -> 100 (2 x 80 > 100)
    EXPECT_EQ(item.Picture->Height(), 75);
    EXPECT_FLOAT_EQ(item.Params.Opacity, 70);
    EXPECT_FALSE(f.overlay->LogoLookup());  // no profile of its own: drawn as it is
  }
  // A logo that cannot be opened is left out; so is a show without options.
  test::TLogCapture log;
  OverlayFixture missing("opt_logo=1\nopt_logo_fn=/nonexistent/logo.png\n");
  EXPECT_EQ(missing.overlay->LogoItemIndex(), -1);
  EXPECT_FALSE(log.Lines().empty());
  // A logo size of 0 halves down to one pixel and stops.
  OverlayFixture zero("opt_logo=1\nopt_logo_size=0\nopt_logo_fn=" + logo + "\n");
  ASSERT_EQ(zero.overlay->LogoItemIndex(), 0);
  EXPECT_EQ(zero.overlay->ImageItems()[0].Picture->Width(), 1);
  EXPECT_EQ(zero.overlay->ImageItems()[0].W, 0);
}

TEST(Overlay, PositionNamesAndLogoCodes) {
  EXPECT_EQ(NavPositionCode(u"right-bottom"), 4);
  EXPECT_EQ(NavPositionCode(u"Left-Top"), 0);
  EXPECT_EQ(NavPositionCode(u"Middle"), 8);
  EXPECT_EQ(LogoPositionCode(0), 7);
  EXPECT_EQ(LogoPositionCode(4), 8);
  EXPECT_EQ(LogoPositionCode(8), 6);
}

std::string PanelOptions(const std::string& skin, const std::string& extra = "") {
  return "opt_fcp=1\nopt_nav_inifile=" + SkinsDir() + skin +
         "\nopt_cp=Bottom\nopt_newnavbuttons_count=3\nopt_newnavbutton1=home\nopt_newnavbutton2=pause\n"
         "opt_newnavbutton3=forward\n" + extra;
}

TEST(Overlay, PanelFadesInOnMovementAndOutWhenTheMouseRests) {
  OverlayFixture f(PanelOptions("Buttons/skin.ini", "opt_hidenavbar=1\nopt_nav_hideinterval=1\n"));
  ASSERT_TRUE(f.overlay->Panel());
  const int32_t bar = f.overlay->Panel()->BarItemIndex;
  ASSERT_GE(bar, 0);
  auto opacity = [&] { return f.overlay->ImageItems()[size_t(bar)].Params.Opacity; };
  f.overlay->SetTime(0);
  EXPECT_FLOAT_EQ(opacity(), 0);
  EXPECT_EQ(f.overlay->PanelMode(), 0);
  f.Mouse(0, 100, 100);
  f.Mouse(0, 103, 102);  // under 6 pixels: no movement
  f.overlay->SetTime(0);
  EXPECT_TRUE(f.overlay->PanelHidden());
  f.Mouse(0, 106, 103);  // 6 pixels
  EXPECT_EQ(f.overlay->PanelMode(), 1);
  f.overlay->SetTime(0);  // the fade-in of 500 ms starts
  EXPECT_FALSE(f.overlay->PanelHidden());
  g_now += 250;
  f.overlay->SetTime(0);
  EXPECT_FLOAT_EQ(opacity(), 50);
  g_now += 250;
  f.overlay->SetTime(0);
  EXPECT_FLOAT_EQ(opacity(), 100);
  g_now += 1001;  // rests longer than the hide interval: the fade-out of 1000 ms
  f.overlay->SetTime(0);
  EXPECT_TRUE(f.overlay->PanelHidden());
  g_now += 200;
  f.overlay->SetTime(0);
  EXPECT_FLOAT_EQ(opacity(), 80);
  // A movement back 200 ms into the fade-out: the fade-in restarts at 80 %.
  f.Mouse(0, 200, 200);
  f.overlay->SetTime(0);
  EXPECT_FALSE(f.overlay->PanelHidden());
  f.overlay->SetTime(0);
  EXPECT_NEAR(opacity(), 80, 0.01);
  g_now += 50;
  f.overlay->SetTime(0);
  EXPECT_NEAR(opacity(), 90, 0.01);
  // Over the bar the panel never goes idle.
  const TRect r = f.overlay->Panel()->BarRect();
  f.Mouse(0, r.Left + 2, r.Top + 2);
  EXPECT_EQ(f.overlay->PanelMode(), 2);
  g_now += 5000;
  f.overlay->SetTime(0);
  EXPECT_FALSE(f.overlay->PanelHidden());
  // Without the hide option the panel keeps full opacity.
  OverlayFixture shown(PanelOptions("Buttons/skin.ini"));
  shown.overlay->SetTime(0);
  EXPECT_FLOAT_EQ(shown.overlay->ImageItems()[size_t(shown.overlay->Panel()->BarItemIndex)].Params.Opacity, 100);
}

TEST(Overlay, DialogsFadeInHoldTheShowAndCloseAfterTheirFadeOut) {
  OverlayFixture f("");
  TFrameDumper dump(320, 200);
  auto draw = [&] { dump.RenderFrame([&](TDeviceDrawer* d) { f.overlay->Draw(d); }); };
  auto help = MakeRef<TTestDialog>(u"help", true);
  f.overlay->AddItem(help);
  EXPECT_TRUE(f.overlay->IsPausing());
  f.overlay->SetTime(0);  // not drawn yet: no fade
  EXPECT_EQ(help->Alpha, 0);
  draw();
  EXPECT_EQ(help->Draws, 1);
  f.overlay->SetTime(0);
  g_now += 100;
  f.overlay->SetTime(0);
  EXPECT_FLOAT_EQ(help->Alpha, 50);
  g_now += 100;
  f.overlay->SetTime(0);
  EXPECT_FLOAT_EQ(help->Alpha, 100);
  // Adding it again closes it; adding it during the fade-out does nothing.
  f.overlay->AddItem(MakeRef<TTestDialog>(u"help", true));
  f.overlay->AddItem(MakeRef<TTestDialog>(u"help", true));
  ASSERT_EQ(f.overlay->Dialogs().size(), 1u);
  f.overlay->SetTime(0);
  g_now += 200;
  f.overlay->SetTime(0);
  EXPECT_FLOAT_EQ(help->Alpha, 0);
  draw();
  EXPECT_EQ(f.overlay->Dialogs().size(), 1u);  // removed by the next pass, not by drawing
  f.overlay->SetTime(0);
  EXPECT_TRUE(f.overlay->Dialogs().empty());
  EXPECT_FALSE(f.overlay->IsPausing());
  // The engine's close before navigation: the top pausing dialog fades, the
  // other pausing ones go at once, the others stay.
  f.overlay->AddItem(MakeRef<TTestDialog>(u"a", true));
  f.overlay->AddItem(MakeRef<TTestDialog>(u"b", false));
  f.overlay->AddItem(MakeRef<TTestDialog>(u"c", true));
  f.overlay->CloseDialogs();
  ASSERT_EQ(f.overlay->Dialogs().size(), 2u);
  EXPECT_EQ(f.overlay->Dialogs()[0]->Name, u"b");
  EXPECT_EQ(f.overlay->Dialogs()[1]->Name, u"c");
  f.overlay->RemoveItem(-1);
  f.overlay->RemoveItem(5);  // nothing there: nothing happens
  EXPECT_EQ(f.overlay->Dialogs().size(), 1u);
}

TEST(Overlay, DialogsAnswerHitTestsFirstAndPanelActionsReplaceTheirs) {
  OverlayFixture f(PanelOptions("Video/skin.ini"));
  ASSERT_TRUE(f.overlay->Panel());
  auto d = MakeRef<TTestDialog>(u"custom", false);
  d->HitAll = true;
  f.overlay->AddItem(d);
  TKavAction a;
  bool handled = false;
  f.Mouse(1, 400, 300, &a, &handled);
  EXPECT_EQ(a.Kind, kActNextSlide);
  EXPECT_TRUE(handled);
  // On the play button of the video bar: the panel's action wins.
  f.Mouse(1, 20, 580, &a, &handled);
  EXPECT_EQ(a.Kind, kActPause);
  EXPECT_TRUE(handled);
  f.Mouse(2, 20, 580, &a, &handled);
  d->HitAll = false;
  f.Mouse(1, 400, 300, &a, &handled);
  EXPECT_EQ(a.Kind, kActNone);
  EXPECT_FALSE(handled);
  // The overlay flag leaves the panel out.
  OverlayFixture none("opt_fcp=1\nopt_nav_inifile=" + SkinsDir() + "Video/skin.ini\n");
  EXPECT_TRUE(none.overlay->Panel());
}

// A slide-like scene under the overlay, dumped and compared with the
// golden picture (checked by eye when it was made).
void ExpectGolden(TFrameDumper& dump, const std::string& name) {
  const std::string out = ::testing::TempDir() + "kav_overlay_" + name + ".png";
  ASSERT_TRUE(dump.WritePng(out));
  const std::string golden = std::string(KAV_SOURCE_DIR) + "/tests/data/navpanel/" + name + ".png";
  Ref<TFileAccessor> acc = DiskAccessor();
  if (!std::filesystem::exists(golden)) {
    FAIL() << "no golden picture " << golden << " (the frame is in " << out << ")";
  }
  Ref<TImage> img = LoadImageHandle(acc.get(), W(golden));
  Ref<TBitmap> level = img->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
  auto* ref = static_cast<TSysBitmap*>(level.get());
  const auto frame = dump.LastFrame();
  ASSERT_EQ(uint32_t(ref->Width()), frame.Width);
  ASSERT_EQ(uint32_t(ref->Height()), frame.Height);
  int off = 0;
  for (uint32_t y = 0; y < frame.Height; ++y)
    for (uint32_t x = 0; x < frame.Width; ++x) {
      const uint32_t a = frame.Pixels[size_t(y) * frame.Width + x], b = Pixel(ref, int32_t(x), int32_t(y));
      for (int s = 0; s < 24; s += 8) off += std::abs(int((a >> s) & 255) - int((b >> s) & 255)) > 8;
    }
  EXPECT_LT(off, 30) << "frame " << out << " differs from " << golden;
}

TEST(Overlay, FramesWithThePanelMatchTheGoldenPictures) {
  InstallWinVectorizer();
  for (const char* skin : {"Buttons", "Video"}) {
    OverlayFixture f(PanelOptions(std::string(skin) + "/skin.ini", "opt_nav_showbg=1\nopt_nav_viewscale=8\n"),
                     TRect{0, 0, 640, 360}, TSize{640, 360});
    f.overlay->Panel()->SetTime(61000);
    TFrameDumper dump(640, 360);
    ASSERT_TRUE(dump.RenderFrame([&](TDeviceDrawer* d) {
      d->Clear(0xFF204060, 0);
      d->FillRect(0xFF806040, TRect{40, 40, 600, 300});
      d->Render(f.overlay.get());
    }));
    ExpectGolden(dump, std::string("panel_") + (skin[0] == 'B' ? "buttons" : "video"));
  }
  // The button bar with the mouse over its first button and the third one
  // held down; the show paused, so the pause button shows its play picture.
  OverlayFixture f(PanelOptions("Buttons/skin.ini", "opt_nav_showbg=1\nopt_nav_viewscale=8\nopt_nav_hue=120\n"),
                   TRect{0, 0, 640, 360}, TSize{640, 360});
  f.playing = false;
  f.overlay->Panel()->SetTime(1000);
  auto* bar = static_cast<TNavBar*>(f.overlay->Panel()->Bar());
  const TRect r = f.overlay->Panel()->BarRect();
  auto at = [&](size_t i) {
    const auto& o = bar->Objects()[i];
    return TPoint{r.Left + (o.X + o.Width / 2) * r.Width() / bar->BarBitmap->Width(),
                  r.Top + (o.Y + o.Height / 2) * r.Height() / bar->BarBitmap->Height()};
  };
  f.Mouse(0, at(0).X, at(0).Y);
  f.Mouse(1, at(2).X, at(2).Y);
  EXPECT_EQ(bar->Objects()[2].State, 2);
  TFrameDumper dump(640, 360);
  ASSERT_TRUE(dump.RenderFrame([&](TDeviceDrawer* d) {
    d->Clear(0xFF204060, 0);
    d->Render(f.overlay.get());
  }));
  ExpectGolden(dump, "panel_buttons_states");
}

TEST(Overlay, FrameWithTheLogoMatchesItsGoldenPicture) {
  TTempDir d;
  const std::string logo = WriteLogo(d, 400, 200);
  OverlayFixture f("opt_logo=1\nopt_logo_pos=6\nopt_logo_size=20\nopt_logo_offset=4\nopt_logo_opacity=70\nopt_logo_fn=" +
                       logo + "\n",
                   TRect{40, 0, 600, 360}, TSize{640, 360});
  ASSERT_EQ(f.overlay->LogoItemIndex(), 0);
  TFrameDumper dump(640, 360);
  ASSERT_TRUE(dump.RenderFrame([&](TDeviceDrawer* dr) {
    dr->Clear(0xFF204060, 0);
    dr->FillRect(0xFF806040, TRect{40, 0, 600, 360});
    dr->Render(f.overlay.get());
  }));
  ExpectGolden(dump, "logo_right_top");
}

}  // namespace
}  // namespace kav
