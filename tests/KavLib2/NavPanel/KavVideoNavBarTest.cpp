#include <gtest/gtest.h>

#include "KavLib2/NavPanel/KavVideoNavBar.h"
#include "NavTestUtil.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Win32/Text/winTextVectorizer.h"
#include "VoRav/wpExceptions.h"

namespace kav {
namespace {

using namespace navtest;

const char* kSkin =
    "[Common]\nVideoStyle=1\n[Pixel positions]\nBarSize=800,40\nBtnSize=24,24\nDigitSize=8,14\nTrackHeight=6\n"
    "VolumeControlLength=80\nLeftSpace=8\nButtonsTrackSpace=10\nTrackDigitsSpace=8\nDigitsSoundBtnSpace=6\n"
    "SoundBtnTrackSpace=6\nRightSpace=10\n[Trackbar]\nflnm_Polzun=thumb.png\n";

struct VideoFixture {
  TBarProbe probe;
  double duration = 120000;
  bool corner = false;
  Ref<TVideoNavBar> bar = MakeRef<TVideoNavBar>();
  // Only the thumb exists: a 12 x 16 picture.
  void Load(TCustomNavBar*, const std::u16string& name, Ref<TSysBitmap>& b) {
    b = nullptr;
    if (name.ends_with(u"thumb.png")) {
      b = CreateSysBitmap(12, 16, StdFormats().A8R8G8B8);
      b->FillRect(TRect{0, 0, 12, 16}, 0xFFFFFFFF);
    }
  }
  double Duration(TCustomNavBar*) { return duration; }
  bool Corner(TCustomNavBar*) { return corner; }
  void Build(const std::string& skin, int32_t width, std::vector<int32_t> items = {0, 1}) {
    probe.Connect(bar.get());
    bar->On.LoadImage =
        TDelegate<void(TCustomNavBar*, const std::u16string&, Ref<TSysBitmap>&)>::Bind<&VideoFixture::Load>(this);
    bar->On.Duration = TDelegate<double(TCustomNavBar*)>::Bind<&VideoFixture::Duration>(this);
    bar->On.CornerQuery = TDelegate<bool(TCustomNavBar*)>::Bind<&VideoFixture::Corner>(this);
    bar->LoadSkin(Ini(skin), u"skin/");
    bar->SetFrameWidth(width);
    bar->SetScale(1.0);
    bar->SetItems(items, int32_t(items.size()));
    bar->SetTime(0);
    bar->SetVolume(0.5);
  }
  void Mouse(uint8_t kind, int32_t x, int32_t y) { bar->MouseEvent(1, 0, x, y, kind); }
};

TEST(VideoNavBar, LaysOutForSeveralFrameWidths) {
  VideoFixture f;
  f.Build(kSkin, 800);
  auto l = f.bar->Layout();
  EXPECT_EQ(l.TrackStart, 8 + 24 * 3 + 10);
  EXPECT_EQ(l.DigitsEnd, 800 - 10 - 80 - 6 - 24 - 6);
  EXPECT_EQ(l.TrackEnd, 674 - 96);
  EXPECT_EQ(l.SoundLeft, 680);
  EXPECT_EQ(l.VolumeLeft, 710);
  EXPECT_EQ(l.VolumeRight, 790);
  ASSERT_TRUE(f.bar->BarBitmap);
  EXPECT_EQ(f.bar->BarBitmap->Width(), 800);
  EXPECT_EQ(f.bar->BarBitmap->Height(), 40);
  ASSERT_TRUE(f.bar->CornerBitmap);
  EXPECT_EQ(f.bar->CornerBitmap->Width(), 40);
  EXPECT_EQ(f.bar->ObjectNames, (std::vector<std::u16string>{u"backward", u"forward"}));
  EXPECT_EQ(f.bar->TimeThumbCentre(), 6 + 90);
  EXPECT_EQ(f.bar->VolumeThumbCentre(), 6 + 710 + 34);
  // A narrower frame whose track is not 100 pixels longer than the thumb
  // halves the scale once (the layout has no items yet when it is fitted).
  VideoFixture narrow;
  narrow.Build(kSkin, 350, {});
  EXPECT_DOUBLE_EQ(narrow.bar->Scale(), 0.5);
  EXPECT_FALSE(narrow.bar->Hidden());
  EXPECT_EQ(narrow.bar->BarBitmap->Height(), 20);
  // Too narrow for the thumb at the first scale: hidden, no picture, no input.
  VideoFixture tiny;
  tiny.Build(kSkin, 250, {});
  EXPECT_TRUE(tiny.bar->Hidden());
  EXPECT_FALSE(tiny.bar->BarBitmap);
  tiny.Mouse(kNavMouseDown, 10, 20);
  EXPECT_TRUE(tiny.probe.Buttons.empty());
}

TEST(VideoNavBar, HalvingStopsWhenTheFixedGapsLeaveNoRoom) {
  // Whatever the scale, the gaps leave the track under 100 pixels.
  VideoFixture f;
  f.Build("[Common]\n[Pixel positions]\nBarSize=100,40\nBtnSize=4,4\nDigitSize=1,2\nTrackHeight=2\n"
          "VolumeControlLength=4\nLeftSpace=10\n[Trackbar]\nflnm_Polzun=thumb.png\n",
          100, {});
  EXPECT_LT(f.bar->Scale(), 0.02);
  EXPECT_GT(f.bar->Scale(), 0.0);
}

TEST(VideoNavBar, DigitsShowHoursOnlyForLongShowsAndLoop) {
  VideoFixture f;
  f.duration = 3599000;
  f.Build(kSkin, 800);
  EXPECT_EQ(f.bar->DigitsText(), u"00:00 / 59:59");
  EXPECT_EQ(f.bar->Layout().DigitsWidth, 96);
  f.bar->SetTime(3599000 + 61500);  // past the end of a looping show
  EXPECT_EQ(f.bar->DigitsText(), u"01:01 / 59:59");
  EXPECT_EQ(f.bar->TimeThumbCentre(), 6 + int32_t(90 + 61500 * (578 - 12 - 90) / 3599000.0));
  VideoFixture hour;
  hour.duration = 3600000;
  hour.Build(kSkin, 800);
  EXPECT_EQ(hour.bar->DigitsText(), u"00:00:00 / 01:00:00");
  EXPECT_EQ(hour.bar->Layout().DigitsWidth, 8 * 18);
  // No duration: no division, the thumb stays at the start.
  VideoFixture none;
  none.duration = 0;
  none.Build(kSkin, 800);
  none.bar->SetTime(5000);
  EXPECT_EQ(none.bar->TimeThumbCentre(), 96);
}

TEST(VideoNavBar, ButtonsSendTheirIndicesAndTheSoundButtonMutes) {
  VideoFixture f;
  f.Build(kSkin, 800);
  f.Mouse(kNavMouseMove, 20, 20);
  EXPECT_EQ(f.bar->ButtonStates()[0], 1);
  f.Mouse(kNavMouseDown, 20, 20);  // play/pause
  f.Mouse(kNavMouseUp, 20, 20);
  f.Mouse(kNavMouseDown, 40, 20);  // item 0
  f.Mouse(kNavMouseUp, 40, 20);
  f.Mouse(kNavMouseDown, 70, 20);  // item 1
  f.Mouse(kNavMouseUp, 70, 20);
  EXPECT_EQ(f.probe.Buttons, (std::vector<int32_t>{-1, 0, 1}));
  f.Mouse(kNavMouseDown, 690, 20);
  f.Mouse(kNavMouseUp, 690, 20);
  EXPECT_EQ(f.bar->Volume(), 0.0);
  f.Mouse(kNavMouseDown, 690, 20);
  f.Mouse(kNavMouseUp, 690, 20);
  EXPECT_EQ(f.bar->Volume(), 0.5);
  EXPECT_EQ(f.probe.Volumes, (std::vector<double>{0.0, 0.5}));
  // At volume 0 with no volume saved, the button restores 0.
  VideoFixture muted;
  muted.Build(kSkin, 800);
  muted.bar->SetVolume(0);
  muted.Mouse(kNavMouseDown, 690, 20);
  EXPECT_EQ(muted.bar->Volume(), 0.0);
}

TEST(VideoNavBar, DraggingTheThumbPausesFollowsAndResumes) {
  VideoFixture f;
  f.Build(kSkin, 800);
  f.Mouse(kNavMouseDown, 96, 20);  // on the thumb
  EXPECT_EQ(f.probe.Buttons, (std::vector<int32_t>{-1}));
  f.Mouse(kNavMouseMove, 96 + 238, 20);
  ASSERT_EQ(f.probe.Times.size(), 1u);
  EXPECT_DOUBLE_EQ(f.probe.Times[0], 238.0 / (578 - 90 - 12) * 120000);
  f.Mouse(kNavMouseMove, 5000, 20);  // off the track: nothing
  EXPECT_EQ(f.probe.Times.size(), 1u);
  f.Mouse(kNavMouseUp, 96 + 476, 20);  // released at the end
  EXPECT_EQ(f.probe.Buttons, (std::vector<int32_t>{-1, -1}));
  EXPECT_DOUBLE_EQ(f.probe.Times.back(), 120000);
  EXPECT_FALSE(f.bar->Paused());
  // The volume slider: taken on its thumb, dragged to the left end.
  f.Mouse(kNavMouseDown, 750, 20);
  f.Mouse(kNavMouseMove, 700, 20);  // outside the control: ignored
  f.Mouse(kNavMouseMove, 712, 20);
  EXPECT_EQ(f.bar->Volume(), 0.0);
  f.Mouse(kNavMouseUp, 790, 20);
  EXPECT_EQ(f.bar->Volume(), 1.0);
}

TEST(VideoNavBar, TheCornerExitsAndHostileSkinsAreRefused) {
  VideoFixture f;
  f.Build(kSkin, 800);
  f.corner = true;
  f.Mouse(kNavMouseDown, 20, 20);
  EXPECT_EQ(f.probe.Buttons, (std::vector<int32_t>{-2}));
  EXPECT_EQ(f.bar->ButtonStates()[2], 2);
  // A skin folder without its final separator fails the skin check.
  auto bar = MakeRef<TVideoNavBar>();
  TBarProbe probe;
  probe.Connect(bar.get());
  EXPECT_THROW(bar->LoadSkin(Ini(kSkin), u"skin"), EAbort);
  // A design height of 0 cannot be scaled to a height: nothing divides by it.
  VideoFixture flat;
  flat.Build("[Pixel positions]\nBarSize=800,0\n", 800);
  flat.bar->SetBarHeight(40);
  EXPECT_TRUE(flat.bar->Hidden());
  // A volume control no longer than the thumb gives volume 0 when dragged.
  VideoFixture shortv;
  shortv.Build(std::string(kSkin) + "[Pixel positions]\nVolumeControlLength=10\n", 800);
  const auto l = shortv.bar->Layout();
  shortv.Mouse(kNavMouseDown, l.VolumeLeft + 5, 20);
  shortv.Mouse(kNavMouseUp, l.VolumeLeft + 5, 20);
  EXPECT_EQ(shortv.bar->Volume(), 0.0);
}

TEST(VideoNavBar, DigitPicturesAreDrawnAtTheDigitHeight) {
  InstallWinVectorizer();
  VideoFixture f;
  f.Build(kSkin, 800);
  // Some white ink between the track end and the digits end, at the digit rows.
  int ink = 0;
  const auto l = f.bar->Layout();
  for (int32_t x = l.TrackEnd; x < l.DigitsEnd; ++x)
    for (int32_t y = (40 - 14) / 2; y < (40 + 14) / 2; ++y) ink += (Pixel(f.bar->BarBitmap.get(), x, y) >> 24) > 128;
  EXPECT_GT(ink, 50);
}

}  // namespace
}  // namespace kav
