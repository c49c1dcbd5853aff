#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "KavLib2/KavClasses/KavPictureFit.h"

namespace kav {
namespace {

TFloatRect Fit(const TBorderParams& p, float w, float h, float scale = 1, float* border = nullptr) {
  TFloatRect r;
  float b = -1;
  ComputeFitRect(p, w, h, b, r, scale);
  if (border) *border = b;
  return r;
}

#define EXPECT_RECT(r, l, t, rr, b)      \
  do {                                   \
    const TFloatRect rect_ = (r);        \
    EXPECT_FLOAT_EQ(rect_.Left, l);      \
    EXPECT_FLOAT_EQ(rect_.Top, t);       \
    EXPECT_FLOAT_EQ(rect_.Right, rr);    \
    EXPECT_FLOAT_EQ(rect_.Bottom, b);    \
  } while (0)

TEST(PictureFit, AspectZoomOffsetAndHorizontalScale) {
  TBorderParams p;
  float border = -1;
  EXPECT_RECT(Fit(p, 400, 300, 1, &border), 0, 0, 400, 300);
  EXPECT_EQ(border, 0);
  p.EnableAspect = 1;
  EXPECT_RECT(Fit(p, 400, 300), 0, 0, 400, 300);  // Aspect 0: the picture's own
  p.Aspect = 1;
  EXPECT_RECT(Fit(p, 400, 300), 50, 0, 350, 300);
  // A horizontal scale of 2 fits an 800-wide picture and maps back.
  EXPECT_RECT(Fit(p, 400, 300, 2), 125, 0, 275, 300);
  EXPECT_RECT(Fit(p, 400, 300, 0.0005f), 50, 0, 350, 300);  // tiny scale counts as 1
  p.Aspect = 2;
  EXPECT_RECT(Fit(p, 400, 300), 0, 50, 400, 250);
  // Zoom 50 about the centre, then pushed fully right.
  p.Aspect = 1;
  p.Zoom = 50;
  EXPECT_RECT(Fit(p, 400, 300), 125, 75, 275, 225);
  p.Offset = TFloatPoint{100, -250};  // y clamped to -100
  EXPECT_RECT(Fit(p, 400, 300), 250, 0, 400, 150);
  p.Zoom = 150;  // above 100 counts as 100
  p.Offset = {};
  EXPECT_RECT(Fit(p, 400, 300), 50, 0, 350, 300);
  // The border is a percentage of the fitted height.
  p.Aspect = 2;
  p.EnableBorder = 1;
  p.BorderWidth = 10;
  Fit(p, 400, 300, 1, &border);
  EXPECT_FLOAT_EQ(border, 20);
}

TEST(PictureFit, CropIsWidenedCutAndKeptInsideThePicture) {
  TBorderParams p;
  p.EnableCrop = 1;
  p.CropRect = TFloatRect{10, 20, 30, 40};
  EXPECT_RECT(Fit(p, 400, 300), 40, 60, 280, 180);
  // Half from each side leaves nothing: widened to one pixel.
  p.CropRect = TFloatRect{50, 0, 50, 0};
  EXPECT_RECT(Fit(p, 400, 300), 200, 0, 201, 300);
  // At the far edge it is widened toward the near edge.
  p.CropRect = TFloatRect{100, 0, 0, 0};
  EXPECT_RECT(Fit(p, 400, 300), 399, 0, 400, 300);
  // Overlapping cuts turn the box round; it is widened from its left edge.
  p.CropRect = TFloatRect{0, 60, 0, 60};
  EXPECT_RECT(Fit(p, 400, 300), 0, 180, 400, 181);
  // Negative cuts grow the box; it is cut to the picture.
  p.CropRect = TFloatRect{-50, -10, 0, 0};
  EXPECT_RECT(Fit(p, 400, 300), 0, 0, 400, 300);
  // A box entirely beside the picture gives the whole picture.
  p.CropRect = TFloatRect{-300, 0, 300, 0};
  EXPECT_RECT(Fit(p, 400, 300), 0, 0, 400, 300);
  // Hostile numbers never give a rectangle outside the picture.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (float v : {nan, inf, -inf, 1e30f, -1e30f}) {
    TBorderParams h;
    h.EnableAspect = h.EnableCrop = h.EnableBorder = 1;
    h.Aspect = h.Zoom = h.BorderWidth = v;
    h.Offset = TFloatPoint{v, v};
    h.CropRect = TFloatRect{v, 0, v, v};
    const TFloatRect r = Fit(h, 400, 300, v);
    EXPECT_TRUE(r.Left >= 0 && r.Left < r.Right && r.Right <= 400) << v;
    EXPECT_TRUE(r.Top >= 0 && r.Top < r.Bottom && r.Bottom <= 300) << v;
  }
  // A picture without pixels.
  EXPECT_RECT(Fit(p, 0, 300), 0, 0, 0, 300);
  EXPECT_RECT(Fit(p, -5, nan), 0, 0, 0, 0);
}

TEST(PictureFit, EqualityLooksAtEveryField) {
  const TBorderParams base;
  EXPECT_TRUE(BorderParamsEqual(base, base));
  void (*changes[])(TBorderParams&) = {
      [](TBorderParams& p) { p.EnableBorder = 1; },     [](TBorderParams& p) { p.EnableCrop = 1; },
      [](TBorderParams& p) { p.EnableAspect = 1; },     [](TBorderParams& p) { p.BorderWidth = 1; },
      [](TBorderParams& p) { p.BorderColor = 0xFF000000; },
      [](TBorderParams& p) { p.CropRect.Left = 1; },    [](TBorderParams& p) { p.CropRect.Top = 1; },
      [](TBorderParams& p) { p.CropRect.Right = 1; },   [](TBorderParams& p) { p.CropRect.Bottom = 1; },
      [](TBorderParams& p) { p.Aspect = 1; },           [](TBorderParams& p) { p.Zoom = 1; },
      [](TBorderParams& p) { p.Offset.x = 1; },         [](TBorderParams& p) { p.Offset.y = 1; },
  };
  for (auto change : changes) {
    TBorderParams p;
    change(p);
    EXPECT_FALSE(BorderParamsEqual(base, p));
  }
}

}  // namespace
}  // namespace kav
