// A reset of the GL context is a lost device: the frame that meets it
// fails, the drawer makes its device again and draws the same picture; a
// loss injected through the system object behaves as on the software
// device.
#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/platform/d3d/SwTestRig.h"
#include "tests/tools/glcompare/GlCompare.h"

namespace kav::glcompare {
namespace {

Ref<TImage> Picture() {
  auto b = CreateSysBitmap(64, 48, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 64; ++x)
      reinterpret_cast<uint32_t*>(b->Row(y))[x] = 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 5) << 8 | 0x80u;
  return ImageFromBitmap(b.get(), false, u"loss");
}

TEST(GlLoss, AResetContextIsALostDeviceAndTheDrawerRecovers) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  Ref<TImage> pic = Picture();
  auto draw = [&](TDeviceDrawer* d) {
    d->Clear(0xFF203040u, 1);
    TImageDrawParams p;
    d->DrawImage(pic.get(), T3DPoint{10, 10, 0}, p, T3DPoint{0, 60, 0}, T3DPoint{100, 0, 0}, TSize{64, 48});
    TBoxParams box;
    box.ColorA = 0x80FF0000u;
    d->FillBox(T3DPoint{60, 30, 0}, TFloatPoint{80, 40}, box, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
  };
  TUseDevice use(true);
  TFrameDumper dump(160, 90);
  ASSERT_TRUE(dump.RenderFrame(draw));
  const std::vector<uint32_t> before = dump.LastFrame().Pixels;
  const uint64_t presents = dump.LastFrame().Presents;
  Gl()->SimulateReset();
  EXPECT_FALSE(dump.RenderFrame(draw));  // the present finds the reset
  bool drawn = false;
  for (int i = 0; i < 5 && !drawn; ++i) drawn = dump.RenderFrame(draw) && dump.LastFrame().Presents > presents;
  ASSERT_TRUE(drawn) << "no frame after the reset";
  EXPECT_EQ(dump.LastFrame().Pixels, before);
  // Everything the lost device held was let go (textures come back from
  // the pictures' tiles on the next frame).
  EXPECT_GT(Gl()->KeptObjects(), 0u);
}

// A line of white text, whose tiles the GL device keeps packed once the
// driver has them: the frame after a reset is the same.
TEST(GlLoss, TilesKeptPackedComeBackWholeAfterAReset) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  auto b = CreateSysBitmap(512, 64, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 512; ++x) reinterpret_cast<uint32_t*>(b->Row(y))[x] = swtest::TextPixel(uint32_t(x), uint32_t(y));
  Ref<TImage> pic = ImageFromBitmap(b.get(), false, u"text");
  auto draw = [&](TDeviceDrawer* d) {
    d->Clear(0xFF203040u, 1);
    TImageDrawParams p;
    d->DrawImage(pic.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, 64, 0}, T3DPoint{512, 0, 0}, TSize{512, 64});
  };
  TUseDevice use(true);
  TFrameDumper dump(512, 64);
  ASSERT_TRUE(dump.RenderFrame(draw));
  ASSERT_TRUE(dump.RenderFrame(draw));
  const std::vector<uint32_t> before = dump.LastFrame().Pixels;
  EXPECT_NE(before[10 * 512 + 2], before[60 * 512 + 2]) << "the text should show";
  const uint64_t presents = dump.LastFrame().Presents;
  Gl()->SimulateReset();
  EXPECT_FALSE(dump.RenderFrame(draw));
  bool drawn = false;
  for (int i = 0; i < 5 && !drawn; ++i) drawn = dump.RenderFrame(draw) && dump.LastFrame().Presents > presents;
  ASSERT_TRUE(drawn) << "no frame after the reset";
  EXPECT_EQ(dump.LastFrame().Pixels, before);
}

TEST(GlLoss, InjectedLossEndsAndTheDrawerDrawsAgain) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  auto draw = [](TDeviceDrawer* d) {
    d->Clear(0xFF000000u, 1);
    TBoxParams box;
    box.ColorA = 0xFF00FF00u;
    d->FillBox(T3DPoint{20, 20, 0}, TFloatPoint{40, 30}, box, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
  };
  TUseDevice use(true);
  TFrameDumper dump(96, 64);
  ASSERT_TRUE(dump.RenderFrame(draw));
  auto* engine = dynamic_cast<T3DEngine9*>(Engine3D());
  ASSERT_TRUE(engine);
  engine->Direct3D()->InjectDeviceLoss();
  EXPECT_FALSE(dump.RenderFrame(draw));
  engine->Direct3D()->EndDeviceLoss();
  bool drawn = false;
  for (int i = 0; i < 5 && !drawn; ++i) drawn = dump.RenderFrame(draw);
  ASSERT_TRUE(drawn);
  EXPECT_EQ(dump.LastFrame().Pixels[30 * 96 + 30], 0xFF00FF00u);
}

}  // namespace
}  // namespace kav::glcompare
