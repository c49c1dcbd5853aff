// What a prepared photo keeps: the drawer fills its textures from the JPEG
// store a band of rows at a time, keeps no decoded level and lets the store
// drop its compressed file, and the picture drawn is the decoded level.
#include <gtest/gtest.h>

#include "DrawerRig.h"
#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/JpegColorSpace/winJpegLoader.h"
#include "tests/VoRav/Graphics/JpegColorSpace/JpegTestUtil.h"

namespace kav {
namespace {

using drawtest::TDrawerRig;
using namespace kav::test;

TEST(DrawerPictureMemory, APreparedPhotoKeepsOnlyItsTexturesAndDrawsItsLevel) {
  if (!ToolExists(kCjpeg)) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
  TScratchDir dir("drawjpeg");
  WriteFileBytes(dir / "in.ppm", SyntheticPpm(1230, 610, 3));
  ASSERT_EQ(RunTool({kCjpeg, "-outfile", dir / "c.jpg", dir / "in.ppm"}), 0);
  const std::vector<uint8_t> file = ReadFileBytes(dir / "c.jpg");
  Ref<TBitmapStore> store = LoadJpegImage(Mem(file).get(), u"c.jpg", false, {});
  auto* jpeg = dynamic_cast<TJpegBitmapStore*>(store.get());
  ASSERT_TRUE(jpeg);
  int opens = 0;
  store->SetSourceOpener([&]() -> Ref<TStream> {
    ++opens;
    return Mem(file);
  });
  // The level drawn, decoded whole by a store of its own.
  Ref<TBitmapStore> reference = LoadJpegImage(Mem(file).get(), u"r.jpg", false, {});
  Ref<TBitmap> level = reference->GetMipLevel(1, StdFormats().A8R8G8B8);
  TSysBitmap* expected = AsSysBitmap(level.get());
  ASSERT_TRUE(expected);
  ASSERT_EQ(expected->Width(), 615);
  ASSERT_EQ(expected->Height(), 305);

  auto img = MakeRef<TImage>(store.get());
  TImageDrawParams p;
  p.MipLevel = 1;
  TDrawerRig rig(620, 310);
  rig.Drawer->PrepareImage(img.get(), p);
  EXPECT_EQ(store->CachedCount(1), 0);
  EXPECT_FALSE(jpeg->HoldsSource());
  EXPECT_EQ(opens, 0);
  auto draw = [&](TDeviceDrawer* d) {
    d->DrawImage(img.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, 305, 0}, T3DPoint{615, 0, 0}, TSize{615, 305});
  };
  auto check = [&](const char* what) {
    for (int y = 0; y < 305; ++y)
      for (int x = 0; x < 615; ++x)
        ASSERT_EQ(rig.At(x, y), reinterpret_cast<const uint32_t*>(expected->Row(y))[x]) << what << " " << x << "," << y;
  };
  ASSERT_TRUE(rig.Frame(draw));
  check("prepared");
  EXPECT_EQ(opens, 0);  // the textures held it

  // Drawn without preparing, the level is decoded whole from the file read
  // again, and let go (the file too) once the textures hold it.
  rig.Drawer->FreeOwnerTextures(img.get());
  ASSERT_TRUE(rig.Frame(draw));
  check("drawn unprepared");
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(store->CachedCount(1), 0);
  EXPECT_FALSE(jpeg->HoldsSource());

  // A file that cannot be read again leaves the picture unprepared, with
  // nothing half made kept for it.
  rig.Drawer->FreeOwnerTextures(img.get());
  store->SetSourceOpener([]() -> Ref<TStream> { return nullptr; });
  EXPECT_THROW(rig.Drawer->PrepareImage(img.get(), p), EStreamReadError);
  EXPECT_EQ(img->GetNotifyList()->Count(), 0);
  // Drawn, it shows nothing and the frame goes on.
  ASSERT_TRUE(rig.Frame(draw));
  EXPECT_EQ(rig.At(300, 150), 0xFF000000u);
}

// The multi-texture an image's textures hold on this drawer; null without.
TMultiTexture6* TexturesOf(TImage* image) {
  TList* list = image->GetNotifyList();
  for (int32_t i = 0; i < list->Count(); ++i)
    if (auto* s = dynamic_cast<TTextureStore2*>(static_cast<TRefObject*>(list->Get(i))); s && !s->Items.empty())
      return s->Items.front()->Texture.get();
  return nullptr;
}

// Two images of one store (a slide made twice while the show loops) draw from
// one set of tiles, which stays while either holds it.
TEST(DrawerPictureMemory, ImagesOfOneStoreShareTheirTiles) {
  Ref<TSysBitmap> bmp = CreateSysBitmap(700, 40, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 700; ++x) reinterpret_cast<uint32_t*>(bmp->Row(y))[x] = 0xFF000000u | uint32_t(x * 7 + y);
  Ref<TImage> a = ImageFromBitmap(bmp.get(), false, u"line");
  auto b = MakeRef<TImage>(a->Store());
  TImageDrawParams p;
  TDrawerRig rig(700, 40);
  rig.Drawer->PrepareImage(a.get(), p);
  rig.Drawer->PrepareImage(b.get(), p);
  ASSERT_NE(TexturesOf(a.get()), nullptr);
  EXPECT_EQ(TexturesOf(a.get()), TexturesOf(b.get()));
  rig.Drawer->FreeOwnerTextures(a.get());
  auto draw = [&](TDeviceDrawer* d) {
    d->DrawImage(b.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, 40, 0}, T3DPoint{700, 0, 0}, TSize{700, 40});
  };
  ASSERT_TRUE(rig.Frame(draw));
  for (int32_t x : {0, 333, 699}) EXPECT_EQ(rig.At(x, 20), 0xFF000000u | uint32_t(x * 7 + 20)) << x;
}

}  // namespace
}  // namespace kav
