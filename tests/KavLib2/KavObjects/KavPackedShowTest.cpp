// Slides of a packed show drawn at given times: every object kind with
// keyframes, shadows, masks and buttons; every fit mode; a custom-transition
// slide; a custom dialog. Each frame is compared with its reference and
// checked at a few telling pixels.
#include <gtest/gtest.h>

#include <cmath>

#include "PackedShowTestUtil.h"

namespace kav {
namespace {

using test::Obj;
using test::TShowFile;

std::string Key(const std::string& body) { return "object k:KeyPoint\n" + body + "end\n"; }

// A 160 x 90 photo: red to blue from left to right, a white band across the
// middle third of the rows.
std::vector<uint8_t> Photo() {
  return test::Bmp32(160, 90, [](int32_t x, int32_t y) {
    if (y >= 30 && y < 60) return 0xFFFFFFFFu;
    const uint32_t b = uint32_t(x * 255 / 159);
    return 0xFF000000u | (255 - b) << 16 | b;
  });
}

// A 64 x 64 green disc on transparency.
std::vector<uint8_t> Disc() {
  return test::Bmp32(64, 64, [](int32_t x, int32_t y) {
    const double d = std::hypot(x - 31.5, y - 31.5);
    return d < 28 ? 0xFF20C040u : 0x00000000u;
  });
}

std::vector<TShowFile> ShowFiles() {
  std::vector<TShowFile> files = {{"Pictures\\photo.bmp", Photo()}, {"Pictures\\disc.bmp", Disc()}};
  // A yellow button theme.
  const std::string parts =
      "LeftTop=skin.bmp,0,0,8,5\r\nTop=skin.bmp,8,0,22,5\r\nRightTop=skin.bmp,22,0,30,5\r\n"
      "Right=skin.bmp,22,5,30,15\r\nRightBottom=skin.bmp,22,15,30,20\r\nBottom=skin.bmp,8,15,22,20\r\n"
      "LeftBottom=skin.bmp,0,15,8,20\r\nLeft=skin.bmp,0,5,8,15\r\nCenter=skin.bmp,10,5,22,15\r\n";
  const std::string ini = "[NormalState]\r\n" + parts + "[HoverState]\r\n" + parts + "[ClickState]\r\n" + parts;
  files.push_back({"Buttons\\sun\\btn.ini", {ini.begin(), ini.end()}});
  files.push_back({"Buttons\\sun\\skin.bmp", test::Bmp32(30, 20, [](int32_t, int32_t) { return 0xFFF0D020u; })});
  return files;
}

// Slide 1 (0-4000 ms): the photo zooming in, a disc picture with a shadow
// flying in from the left, a box with a shadow, a text, a button with its
// caption, and the photo shown through a disc stencil. Slide 2 (4000-8000
// ms): the photo placed into, covering and keeping its own size in three
// frames of 1:2 shape, and a cropped, bordered copy. A custom transition
// section and a custom dialog follow.
std::string Project() {
  const std::string slide1 =
      Obj("photo", "Image",
          "ImageName=Pictures\\photo.bmp\nFitMode=Cover\n" + Key("Time=0\nScaleX=100\nScaleY=100\n") +
              Key("Origin=SlideEnd\nTime=0\nScaleX=130\nScaleY=130\n")) +
      Obj("disc", "Image",
          "ImageName=Pictures\\disc.bmp\nShadowEnable=1\nShadowDistance=6\nShadowSize=8\nShadowOpacity=100\n" +
              Key("Time=0\nPosition=-140,-40\nScaleX=25\nScaleY=25\nOpacity=0\n") +
              Key("Time=1000\nPosition=-60,-40\nScaleX=25\nScaleY=25\nOpacity=100\n")) +
      Obj("box", "Box",
          "Size=100,100\nFillMode=Solid\nColor1=40,40,220\nShadowEnable=1\nShadowDistance=6\nShadowSize=6\nShadowOpacity=100\n" +
              Key("Time=0\nPosition=60,-40\nScaleX=20\nScaleY=20\n")) +
      Obj("title", "Text",
          "Text=\"Packed\"\nTextColor=255,255,255\nShadowEnable=0\n" + Key("Time=0\nPosition=0,-75\nScaleX=20\nScaleY=20\n")) +
      Obj("go", "Button",
          "Theme=sun\nAction=next\n" + Key("Time=0\nPosition=60,50\nScaleX=20\nScaleY=20\n") +
              Obj("cap", "Text", "Text=\"Go\"\nTextColor=0,0,0\n")) +
      Obj("view", "Viewport",
          "Size=100,100\n" + Key("Time=0\nPosition=-60,50\nScaleX=30\nScaleY=30\n") +
              Obj("stencil", "MaskStencil", Obj("shape", "Image", "ImageName=Pictures\\disc.bmp\n")) +
              Obj("content", "MaskContent", Obj("inside", "Image", "ImageName=Pictures\\photo.bmp\nFitMode=Cover\n")));
  auto framed = [](const std::string& name, const std::string& x, const std::string& inner) {
    return Obj(name, "Box",
               "Size=100,200\nFillMode=Solid\nColor1=80,80,80\n" + Key("Time=0\nPosition=" + x + ",0\nScaleX=50\nScaleY=50\n") +
                   Obj(name + "_pic", "Image", inner));
  };
  const std::string slide2 = framed("into", "-70", "ImageName=Pictures\\photo.bmp\nFitMode=PlaceInto\n") +
                             framed("cover", "0", "ImageName=Pictures\\photo.bmp\nFitMode=Cover\n") +
                             framed("own", "70", "ImageName=Pictures\\photo.bmp\nFitMode=None\n");
  const std::string fx =
      Obj("sweep", "Box",
          "Size=100,100\nFillMode=Solid\nColor1=255,128,0\n" + Key("Time=0\nPosition=-80,0\nScaleX=20\nScaleY=20\n") +
              Key("Origin=SlideEnd\nTime=0\nPosition=80,0\nScaleX=20\nScaleY=20\n"));
  const std::string dialog =
      Obj("panel", "Box", "Size=160,90\nFillMode=Solid\nColor1=230,230,230\n" + Key("Time=0\nScaleX=60\nScaleY=60\n")) +
      Obj("ok", "Button", "Theme=sun\nAction=close\n" + Key("Time=0\nPosition=0,25\nScaleX=20\nScaleY=20\n") +
                              Obj("cap", "Text", "Text=\"OK\"\nTextColor=0,0,0\n"));
  return "[Main]\nKavVersion=8.0.1\nopt_scr_width=1280\nopt_scr_height=720\nopt_repeat=repeat\n"
         "opt_bstyle=0\nopt_bcolor1=0\nPathToButtons=Buttons\n"
         "opt_customdialogscount=1\ncustom_dialog1=About\n"
         "object TheEffect:AnEffect\ntime=500\nobject dissolve:Effect\nchecked=1\nend\nend\n"
         "[Times]\nopt_slidescount=2\nopt_synchpos1=4000\nopt_synchpos2=8000\n"
         "[Slide1]\nobject TheEffect:AnEffect\nref=dissolve\ntime=500\nend\n" +
         slide1 + "[Slide2]\nobject TheEffect:AnEffect\nref=dissolve\ntime=500\nend\n" + slide2 +
         "[fx]\nCustomEffTime=1000\n" + fx + "[dialog_1_]\nhelp=0\n" + dialog;
}

struct TPackedShowFixture : ::testing::Test {
  static inline test::TPackedShow* Show = nullptr;
  static void SetUpTestSuite() { Show = new test::TPackedShow(Project(), ShowFiles()); }
  static void TearDownTestSuite() {
    delete Show;
    Show = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(Show->Locator, nullptr) << UTF8Encode(Show->Error);
    ASSERT_TRUE(Show->Locator->IsPacked());
    ASSERT_NE(Show->Producer, nullptr);
  }
};

uint32_t At(const std::vector<uint32_t>& px, int32_t x, int32_t y) {
  return px.at(size_t(y) * size_t(test::kPackedFrameWidth) + size_t(x)) & 0xFFFFFFu;
}
int Red(uint32_t c) { return int(c >> 16 & 255); }
int Green(uint32_t c) { return int(c >> 8 & 255); }
int Blue(uint32_t c) { return int(c & 255); }

TEST_F(TPackedShowFixture, ObjectKindsWithKeyframesShadowsMasksAndButtons) {
  TSlideProducer* p = Show->Producer.get();
  EXPECT_EQ(p->GetVisibleSize().cx, test::kPackedFrameWidth);
  Ref<TDrawContainer> c = p->ProduceSlide(0);
  ASSERT_NE(c->Slide, nullptr);
  TFrameDumper dumper(test::kPackedFrameWidth, test::kPackedFrameHeight);
  c->SetTime(0);
  const auto start = test::RenderPackedFrame(dumper, c->Slide.get(), "packed_objects_0");
  c->SetTime(2000);
  const auto mid = test::RenderPackedFrame(dumper, c->Slide.get(), "packed_objects_2000");
  // The disc fades in at (64, 54) with its shadow below it over the photo's
  // white band; the box casts one too; the button is the theme's yellow;
  // the viewport shows the photo's band through the disc where the slide
  // has none.
  EXPECT_LT(Green(At(start, 64, 54)), 20);
  EXPECT_GT(Green(At(mid, 64, 54)), 150);
  EXPECT_LT(Red(At(mid, 64, 54)), 60);
  EXPECT_LT(Red(At(mid, 64, 75)) + 60, Red(At(mid, 64, 100)));
  EXPECT_GT(Blue(At(mid, 256, 54)), 180);
  EXPECT_LT(Red(At(mid, 258, 72)) + 60, Red(At(mid, 256, 100)));
  EXPECT_GT(Red(At(mid, 222, 122)), 200);
  EXPECT_LT(Blue(At(mid, 222, 122)), 80);
  EXPECT_GT(Green(At(mid, 64, 135)), 120);
  EXPECT_LT(Green(At(mid, 100, 135)), 20);
  test::ExpectLikeGolden(start, "packed_objects_0");
  test::ExpectLikeGolden(mid, "packed_objects_2000");
}

TEST_F(TPackedShowFixture, EveryFitMode) {
  Ref<TDrawContainer> c = Show->Producer->ProduceSlide(1);
  ASSERT_NE(c->Slide, nullptr);
  TFrameDumper dumper(test::kPackedFrameWidth, test::kPackedFrameHeight);
  c->SetTime(5000);
  const auto px = test::RenderPackedFrame(dumper, c->Slide.get(), "packed_fit_modes");
  // Placed into its grey frame (grey above and below the picture); covering
  // it (no grey left at the frame's top); keeping its own size.
  EXPECT_EQ(At(px, 48, 50), 0x505050u);
  EXPECT_EQ(At(px, 48, 90), 0xFFFFFFu);
  EXPECT_GT(Red(At(px, 30, 80)), 150);
  EXPECT_GT(Red(At(px, 160, 50)) + Blue(At(px, 160, 50)), 200);
  EXPECT_LT(Green(At(px, 160, 50)), 30);
  EXPECT_GT(Red(At(px, 90, 50)), 200);
  EXPECT_GT(Blue(At(px, 235, 50)), 200);
  EXPECT_EQ(At(px, 272, 50), 0x505050u);
  EXPECT_EQ(At(px, 272, 130), 0x505050u);
  test::ExpectLikeGolden(px, "packed_fit_modes");
}

TEST_F(TPackedShowFixture, CustomTransitionSlide) {
  TIniList* section = Show->Producer->Source()->Ini()->FindSection(u"fx");
  Ref<TKavSlide> fx = Show->Producer->CreateSlide(section);
  ASSERT_NE(fx, nullptr);
  TFrameDumper dumper(test::kPackedFrameWidth, test::kPackedFrameHeight);
  fx->SetSlideTime(250);
  const auto early = test::RenderPackedFrame(dumper, fx.get(), "packed_effect_250");
  fx->SetSlideTime(750);
  const auto late = test::RenderPackedFrame(dumper, fx.get(), "packed_effect_750");
  // The box moves from -80 % to +80 % over the effect's second: a quarter
  // and three quarters of the way.
  EXPECT_EQ(At(early, 96, 90), 0xFF8000u);
  EXPECT_EQ(At(early, 224, 90), 0u);
  EXPECT_EQ(At(late, 224, 90), 0xFF8000u);
  EXPECT_EQ(At(late, 96, 90), 0u);
  test::ExpectLikeGolden(early, "packed_effect_250");
  test::ExpectLikeGolden(late, "packed_effect_750");
}

TEST_F(TPackedShowFixture, CustomDialog) {
  Ref<TKavDialog> about = Show->Producer->CreateCustomDialog(u"About");
  ASSERT_NE(about, nullptr);
  TFrameDumper dumper(test::kPackedFrameWidth, test::kPackedFrameHeight);
  const auto px = test::RenderPackedFrame(dumper, about.get(), "packed_dialog");
  EXPECT_EQ(At(px, 70, 40), 0xE6E6E6u);
  EXPECT_EQ(At(px, 30, 30), 0u);
  EXPECT_GT(Red(At(px, 125, 105)), 200);
  EXPECT_LT(Blue(At(px, 125, 105)), 80);
  test::ExpectLikeGolden(px, "packed_dialog");
}

}  // namespace
}  // namespace kav
