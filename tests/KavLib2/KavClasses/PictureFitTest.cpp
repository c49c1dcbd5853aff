#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "KavLib2/KavClasses/KavPictureFit.h"

namespace kav {
namespace {

using Box = std::array<float, 4>;

Box Fit(const TBorderParams& p, float w, float h, float scale = 1, float* border = nullptr) {
  TFloatRect r;
  float b = -1;
  ComputeFitRect(p, w, h, b, r, scale);
  if (border) *border = b;
  return {r.Left, r.Top, r.Right, r.Bottom};
}

TEST(PictureFit, AspectZoomOffsetAndHorizontalScale) {
  TBorderParams p;
  float border = -1;
  EXPECT_EQ(Fit(p, 400, 300, 1, &border), (Box{0, 0, 400, 300}));
  EXPECT_EQ(border, 0);
  p.EnableAspect = 1;
  EXPECT_EQ(Fit(p, 400, 300), (Box{0, 0, 400, 300}));  // Aspect 0: the picture's own
  p.Aspect = 1;
  EXPECT_EQ(Fit(p, 400, 300), (Box{50, 0, 350, 300}));
  // A horizontal scale of 2 fits an 800-wide picture and maps back.
  EXPECT_EQ(Fit(p, 400, 300, 2), (Box{125, 0, 275, 300}));
  p.Aspect = 2;
  EXPECT_EQ(Fit(p, 400, 300), (Box{0, 50, 400, 250}));
  // Zoom 50 about the centre, then pushed fully right and up.
  p.Aspect = 1;
  p.Zoom = 50;
  EXPECT_EQ(Fit(p, 400, 300), (Box{125, 75, 275, 225}));
  p.Offset = TFloatPoint{100, -250};  // y clamped to -100
  EXPECT_EQ(Fit(p, 400, 300), (Box{250, 0, 400, 150}));
  // The border is a percentage of the fitted height.
  p.Aspect = 2;
  p.Zoom = 0;
  p.EnableBorder = 1;
  p.BorderWidth = 10;
  Fit(p, 400, 300, 1, &border);
  EXPECT_FLOAT_EQ(border, 20);
}

TEST(PictureFit, CropIsWidenedCutAndKeptInsideThePicture) {
  TBorderParams p;
  p.EnableCrop = 1;
  p.CropRect = TFloatRect{10, 20, 30, 40};
  EXPECT_EQ(Fit(p, 400, 300), (Box{40, 60, 280, 180}));
  // Half from each side leaves nothing: widened to one pixel.
  p.CropRect = TFloatRect{50, 0, 50, 0};
  EXPECT_EQ(Fit(p, 400, 300), (Box{200, 0, 201, 300}));
  // At the far edge it is widened toward the near edge.
  p.CropRect = TFloatRect{100, 0, 0, 0};
  EXPECT_EQ(Fit(p, 400, 300), (Box{399, 0, 400, 300}));
  // Overlapping cuts turn the box round; it is widened from its top edge.
  p.CropRect = TFloatRect{0, 60, 0, 60};
  EXPECT_EQ(Fit(p, 400, 300), (Box{0, 180, 400, 181}));
  // Negative cuts grow the box; it is cut to the picture.
  p.CropRect = TFloatRect{-50, -10, 0, 0};
  EXPECT_EQ(Fit(p, 400, 300), (Box{0, 0, 400, 300}));
  // A box entirely beside the picture gives the whole picture.
  p.CropRect = TFloatRect{-300, 0, 300, 0};
  EXPECT_EQ(Fit(p, 400, 300), (Box{0, 0, 400, 300}));
  // Hostile numbers never give a rectangle outside the picture.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (float v : {nan, inf, -inf, 1e30f, -1e30f}) {
    TBorderParams h;
    h.EnableAspect = h.EnableCrop = h.EnableBorder = 1;
    h.Aspect = h.Zoom = h.BorderWidth = v;
    h.Offset = TFloatPoint{v, v};
    h.CropRect = TFloatRect{v, 0, v, v};
    const Box r = Fit(h, 400, 300, v);
    EXPECT_TRUE(r[0] >= 0 && r[0] < r[2] && r[2] <= 400) << v;
    EXPECT_TRUE(r[1] >= 0 && r[1] < r[3] && r[3] <= 300) << v;
  }
  // A picture without pixels.
  EXPECT_EQ(Fit(p, 0, 300), (Box{0, 0, 0, 300}));
  EXPECT_EQ(Fit(p, -5, nan), (Box{0, 0, 0, 0}));
}

}  // namespace
}  // namespace kav
