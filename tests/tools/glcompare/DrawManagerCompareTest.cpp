// The draw manager's items on both devices: pictures (scaled, turned, with
// opacity), boxes of every gradient with soft edges, frames and lines,
// blurred and sharpened layers and masked content, at each shader level.
#include <cmath>
#include <cstdio>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"

#include "tests/tools/glcompare/GlCompare.h"

namespace kav::glcompare {
namespace {

TPair SceneBoth(const std::string& scene, int32_t w, int32_t h) {
  TPair p;
  p.Width = w;
  p.Height = h;
  for (bool gl : {false, true}) {
    TUseDevice use(gl);
    const std::string path = ::testing::TempDir() + "kav_glcompare_scene.png";
    std::string error;
    EXPECT_TRUE(DumpScene("size " + std::to_string(w) + " " + std::to_string(h) + "\n" + scene, path, error))
        << error;
    int32_t rw = 0, rh = 0;
    EXPECT_TRUE(ReadPngPixels(path, rw, rh, gl ? p.Gl : p.Sw));
    std::remove(path.c_str());
  }
  return p;
}

const char* kPictures = R"(clear FF102030
pattern 10 10 200 120
pattern 230 20 90 60 70
pattern 60 150 160 90 100 17
pattern 250 110 60 120 50 -33
)";

const char* kBoxes = R"(clear FF303030
box 10 10 70 50 FFFF0000 FF0000FF 0
box 90 10 70 50 FFFF0000 FF0000FF 1
box 170 10 70 50 FFFF0000 FF0000FF 2
box 250 10 70 50 FFFF0000 FF0000FF 3
box 10 70 70 50 FF00FF00 80FFFFFF 4
box 90 70 70 50 FF00FF00 80FFFFFF 5
box 170 70 70 50 FF00FF00 80FFFFFF 6
box 250 70 70 50 FF00FF00 80FFFFFF 7
box 10 130 70 50 FFFFFF00 FFFFFF00 8 50
box 90 130 70 50 FFFFFF00 FF00FFFF 0 100 15
box 170 130 70 50 C0FFFFFF FF000000 2 80 5
box 250 130 70 50 FF8040C0 FF40C080 4 100 10
frame 20 200 120 30 4 3 FFFFFFFF
frame 160 195 140 40 1 6 FF00C0FF
line 5 190 315 238 FFFFFF00
line 300 5 20 235 FFFF00FF
)";

const char* kLayers = R"(clear FF000000
layer 7000
pattern 10 10 140 100
box 40 40 60 30 FFFFFFFF FFFFFFFF 8
end
layer -10000
pattern 170 10 140 100
end
mask
box 20 130 120 90 FFFFFFFF FF000000 6
with
pattern 10 120 150 110
end
layer 14000
box 200 140 80 60 FFFF0000 FF00FF00 0
end
layer 500
box 180 215 120 20 FFFFFFFF FFFFFFFF 8
end
)";

struct TScene {
  const char* Name;
  const char* Text;
};

TEST(GlCompareDrawManager, ScenesAtEachShaderLevelMatchTheSoftwareDevice) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  const TScene scenes[] = {{"pictures", kPictures}, {"boxes", kBoxes}, {"layers", kLayers}};
  for (const TScene& s : scenes)
    for (int level : {0, 1, 2}) {
      const TPair p = SceneBoth("level " + std::to_string(level) + "\n" + s.Text, 320, 240);
      ExpectAlike(p, std::string(s.Name) + "_level" + std::to_string(level));
    }
}

// A picture of fine detail (a one-pixel grid over gradients): minified it
// reads the mip levels, magnified the bilinear filter.
Ref<TImage> DetailImage(int32_t w, int32_t h) {
  auto b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const bool grid = x % 7 == 0 || y % 5 == 0;
      reinterpret_cast<uint32_t*>(b->Row(y))[x] =
          grid ? 0xFFFFFFFFu : 0xFF000000u | uint32_t(x * 255 / w) << 16 | uint32_t(y * 255 / h) << 8 | 0x60u;
    }
  return ImageFromBitmap(b.get(), false, u"detail");
}

TEST(GlCompareDrawManager, PicturesScaledDownUpAndTurnedMatchTheSoftwareDevice) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  Ref<TImage> big = DetailImage(900, 600), small = DetailImage(30, 20);
  struct TPlace {
    TImage* Image;
    TSize Size;
    float X, Y, W, H, Angle, Opacity;
  };
  const TPlace places[] = {{big.get(), {900, 600}, 5, 5, 150, 100, 0, 100},
                           {big.get(), {900, 600}, 165, 5, 75, 50, 0, 100},
                           {big.get(), {900, 600}, 250, 5, 60, 40, 0.3f, 80},
                           {small.get(), {30, 20}, 5, 115, 180, 120, 0, 100},
                           {big.get(), {900, 600}, 200, 110, 110, 80, 0.5f, 100}};
  const TPair p = DrawBoth(320, 240, [&](TDeviceDrawer* d) {
    d->Clear(0xFF000000u, 1);
    for (const TPlace& pl : places) {
      const float ca = std::cos(pl.Angle), sa = std::sin(pl.Angle);
      const T3DPoint xa{pl.W * ca, pl.W * sa, 0}, ya{-pl.H * sa, pl.H * ca, 0};
      const T3DPoint o{pl.X + pl.W / 2 - (xa.x + ya.x) / 2, pl.Y + pl.H / 2 - (xa.y + ya.y) / 2, 0};
      TImageDrawParams ip;
      ip.Opacity = pl.Opacity;
      d->DrawImage(pl.Image, o, ip, ya, xa, pl.Size);
    }
  });
  ExpectAlike(p, "scaled_pictures");
}

}  // namespace
}  // namespace kav::glcompare
