#include <gtest/gtest.h>

#include "ShowFolderTestUtil.h"

namespace kav {
namespace {

using test::KeyPoint;
using test::Obj;
using test::PixelAt;
using test::THostSlide;
using test::TShowFolder;

int Red(uint32_t c) { return int((c >> 16) & 0xFF); }
int Green(uint32_t c) { return int((c >> 8) & 0xFF); }
int Blue(uint32_t c) { return int(c & 0xFF); }

// A slide over a black background: a red 800 x 400 box (`group_opacity` %)
// before a splitter, then a blue 200 x 100 box, all around the centre.
struct TGroupSlide : THostSlide {
  explicit TGroupSlide(const std::string& group_opacity = "100")
      : THostSlide([](TShowFolder&) {},
                   Obj("group", "Box", "Size=800,400\nFitMode=None\nColor1=255,0,0\n" +
                                           KeyPoint("Time=0\nOpacity=" + group_opacity + "\n")) +
                       Obj("split", "Splitter", "Size=10,10\n" + KeyPoint("Time=0\n")) +
                       Obj("front", "Box", "Size=200,100\nFitMode=None\nColor1=0,0,255\n" + KeyPoint("Time=0\n"))) {
    Slide->ForegroundOnly = false;
    TSlideBackground green;
    green.Color1 = 0x00FF00;
    Alternative = green;
  }
  // Renders at the alternative background's factor; answers the pixels of
  // the background, the group and the front box.
  std::array<uint32_t, 3> Draw(float factor, const std::string& name) {
    Slide->SetBackground(Alternative, factor);
    const auto px = test::RenderSlideWith(Dumper, Slide.get(), name);
    return {PixelAt(px, 20, 20), PixelAt(px, 170, 135), PixelAt(px, 240, 135)};
  }
  TSlideBackground Alternative;
  TFrameDumper Dumper{480, 270};
};

// The group kept with the alternative background fades in with it as one
// layer; the objects after the splitter stay whole.
TEST(BackgroundGroup, FadesWithTheAlternativeBackground) {
  TGroupSlide s;
  s.Slide->SplitObjectLists(false, true);
  const auto none = s.Draw(0, "group_alt_0.png");
  EXPECT_EQ(none[0] & 0xFFFFFF, 0u);
  EXPECT_EQ(none[1] & 0xFFFFFF, 0u);  // no group without its background
  EXPECT_EQ(none[2] & 0xFFFFFF, 0x0000FFu);
  const auto half = s.Draw(0.5f, "group_alt_half.png");
  EXPECT_NEAR(Green(half[0]), 128, 6);
  EXPECT_NEAR(Red(half[1]), 128, 6);
  EXPECT_NEAR(Green(half[1]), 0, 4);
  EXPECT_EQ(half[2] & 0xFFFFFF, 0x0000FFu);
  const auto full = s.Draw(1, "group_alt_1.png");
  EXPECT_EQ(full[0] & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(full[1] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(full[2] & 0xFFFFFF, 0x0000FFu);
}

// In both lists the group stays whole while the backgrounds cross-fade;
// a half-transparent group in one list is drawn once, not over itself.
TEST(BackgroundGroup, DrawnOnceOverEachBackground) {
  TGroupSlide both;
  both.Slide->SplitObjectLists(true, true);
  const auto mix = both.Draw(0.5f, "group_both_half.png");
  EXPECT_NEAR(Green(mix[0]), 128, 6);
  EXPECT_EQ(mix[1] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(mix[2] & 0xFFFFFF, 0x0000FFu);

  TGroupSlide faint("50");
  faint.Slide->SplitObjectLists(true, false);
  const auto own = faint.Draw(0, "group_own_faint.png");
  EXPECT_NEAR(Red(own[1]), 128, 6);
  EXPECT_NEAR(Blue(own[1]), 0, 4);
  // Without a split the same slide draws its children as before.
  faint.Slide->SplitObjectLists(false, false);
  EXPECT_NEAR(Red(faint.Draw(0, "group_none_faint.png")[1]), 128, 6);
  // A slide without a splitter has no background group.
  THostSlide plain([](TShowFolder&) {},
                   Obj("only", "Box", "Size=800,400\nFitMode=None\nColor1=255,0,0\n" + KeyPoint("Time=0\n")));
  plain.Slide->ForegroundOnly = false;
  plain.Slide->SplitObjectLists(false, true);
  TFrameDumper dumper(480, 270);
  EXPECT_EQ(PixelAt(test::RenderSlideWith(dumper, plain.Slide.get()), 170, 135) & 0xFFFFFF, 0xFF0000u);
}

}  // namespace
}  // namespace kav
