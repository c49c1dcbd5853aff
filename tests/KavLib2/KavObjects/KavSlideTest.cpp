#include <gtest/gtest.h>

#include "KavLib2/KavObjects/KavButton.h"
#include "KavLib2/KavObjects/KavText.h"
#include "ShowFolderTestUtil.h"
#include "VoRav/vxConvert.h"

namespace kav {
namespace {

using test::Bmp32;
using test::Obj;
using test::PixelAt;
using test::RenderSlide;
using test::THostFixture;
using test::TShowFolder;

// A slide loaded from project sections on a real host.
struct TLoadedSlide : THostFixture {
  Ref<TIniFile> Doc;
  Ref<TKavSlide> Slide;
  TLoadedSlide(std::string_view project, int32_t index, const std::function<void(TShowFolder&)>& files = {}) {
    RegisterKavObjectFactories();
    if (files) files(Folder);
    Doc = test::Doc(project);
    Slide = MakeRef<TKavSlide>(Host.get(), MakeRef<TKavObjectProps>().get());
    Slide->SetSize(FloatPoint(1920, 1080));
    Slide->OriginPoint = Vector3(960, 540, 0);
    Slide->LoadSlide(Doc->FindSection(u"Main"), Doc->FindSection(u"Slide" + IntToStr(index)),
                     Doc->FindSection(u"Times"), false, 500, 1000, index);
    Slide->SetTime(true, Slide->SlideBegin);
  }
};

const char* kTimes = "[Times]\nopt_slidescount=3\nopt_synchpos1=5000\nopt_synchpos2=9000\nopt_synchpos3=12000\n";

TEST(KavSlide, TimesFromTheTimesSection) {
  TLoadedSlide one(std::string("[Main]\n[Slide1]\n") + kTimes, 1);
  EXPECT_EQ(one.Slide->SlideBegin, 5000);
  EXPECT_EQ(one.Slide->NextEffectBegin, 9000);
  EXPECT_EQ(one.Slide->OriginTime(1), 6000);
  EXPECT_EQ(one.Slide->OriginTime(3), 9500);
  // The last slide's next transition begins with it.
  TLoadedSlide three(std::string("[Main]\n[Slide3]\n") + kTimes, 3);
  EXPECT_EQ(three.Slide->SlideBegin, 12000);
  EXPECT_EQ(three.Slide->NextEffectBegin, 12000);
  // Missing keys give 0.
  TLoadedSlide none("[Main]\n[Slide1]\n", 1);
  EXPECT_EQ(none.Slide->SlideBegin, 0);
}

TEST(KavSlide, Backgrounds) {
  // No bstyle on the slide: the show's opt_ keys.
  TLoadedSlide shown(std::string("[Main]\nopt_bstyle=3\nopt_bcolorstyle=2\nopt_bcolor1=255\nopt_bcolor2=16711680\n"
                                 "[Slide1]\n") + kTimes, 1);
  EXPECT_EQ(shown.Slide->Background().Style, 1);
  EXPECT_EQ(shown.Slide->Background().Color1, 0xFF0000u);  // stored red first
  EXPECT_EQ(shown.Slide->Background().Color2, 0x0000FFu);
  // The horizontal gradient runs from colour 1 at the left to colour 2.
  const auto px = RenderSlide(shown.Slide.get(), "slide_hgradient.png");
  EXPECT_GT(int((PixelAt(px, 5, 135) >> 16) & 0xFF), 200);
  EXPECT_GT(int(PixelAt(px, 474, 135) & 0xFF), 200);
  EXPECT_NEAR(int((PixelAt(px, 240, 135) >> 16) & 0xFF), 128, 8);
  // bstyle 2 with an empty file name stays a colour.
  TLoadedSlide empty(std::string("[Main]\n[Slide1]\nbstyle=2\nbfn=\n") + kTimes, 1);
  EXPECT_EQ(empty.Slide->Background().Style, 0);
  // A picture tiled at zoom 0 (taken as 100 %) and at a tiny zoom (capped
  // copies) draws without hanging.
  auto tile = [](TShowFolder& f) {
    f.Write("tile.bmp", Bmp32(64, 64, [](int32_t x, int32_t y) { return (x < 32) == (y < 32) ? 0xFF000000u : 0xFFFFFFFFu; }));
  };
  for (const char* zoom : {"0", "0.0001", "50"}) {
    TLoadedSlide pic(std::string("[Main]\n[Slide1]\nbstyle=2\nbfn=tile.bmp\nbsize=") + zoom + "\n" + kTimes, 1, tile);
    EXPECT_EQ(pic.Slide->Background().Style, 3);
    const auto tiled = RenderSlide(pic.Slide.get(), std::string("slide_tiled_") + zoom + ".png");
    EXPECT_EQ(tiled.size(), 480u * 270u);
  }
}

// A button with an action over a box, and a text transparent for clicks.
void Aqua(TShowFolder& f) { test::WriteButtonTheme(f, "aqua", 0xFF00C000u); }

TEST(KavSlide, MouseLooksAndActions) {
  TLoadedSlide s(std::string("[Main]\n[Slide1]\n") + Obj("box", "Box", "Size=100,100\nAction=prevslide\n") +
                     Obj("btn", "Button", "Theme=aqua\nAction=nextslide\n") +
                     Obj("txt", "Text", "Text=\"cover\"\nTranspForClick=1\nAction=exit\n") + kTimes,
                 1, Aqua);
  auto* button = dynamic_cast<TKavButton*>(s.Slide->GetChild(1));
  ASSERT_NE(button, nullptr);
  TObjectAction action;
  // The text on top is transparent for clicks: the button below is hit.
  TKavObject* hit = s.Slide->ProcessMouse(960, 540, 0, true, 0, 0, action);
  EXPECT_EQ(hit, button);
  EXPECT_EQ(button->Look(), 1);
  // Moving with the primary button held shows the pressed look.
  s.Slide->ProcessMouse(960, 540, 16, true, 0, 1, action);
  EXPECT_EQ(button->Look(), 2);
  // A release fires only after a press on the same object.
  s.Slide->ProcessMouse(960, 540, 0, true, 2, 1, action);
  EXPECT_EQ(action.Kind, kActionNone);
  s.Slide->ProcessMouse(960, 540, 0, true, 1, 1, action);
  EXPECT_EQ(button->Look(), 2);
  s.Slide->ProcessMouse(960, 540, 0, true, 2, 1, action);
  EXPECT_EQ(action, ParseObjectAction(u"nextslide"));
  EXPECT_EQ(button->Look(), 1);
  // Disabled, or another button state: nothing is hit and looks go back.
  EXPECT_EQ(s.Slide->ProcessMouse(960, 540, 0, false, 0, 0, action), nullptr);
  EXPECT_EQ(button->Look(), 0);
  EXPECT_EQ(s.Slide->ProcessMouse(960, 540, 1, true, 0, 0, action), nullptr);
  // Off the button: nothing (the box fills the slide behind it).
  EXPECT_NE(s.Slide->ProcessMouse(5, 5, 0, true, 0, 0, action), button);
}

}  // namespace
}  // namespace kav
