// What a long caption costs the drawer: its text picture (tens of MiB for a
// line of thousands of characters) is filled into tiles a few tiles at a
// time, prepared or drawn unprepared, so it is never made whole, and the
// frame is the one the whole picture gives.
#include <gtest/gtest.h>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"
#include "tests/KavLib2/3DEngine/DrawerRig.h"
#include "tests/VoRav/AllocationProbe.h"

namespace kav {
namespace {

using drawtest::TDrawerRig;
using test::TAllocationProbe;

std::u16string LongCaptionKey() {
  std::u16string line;
  while (line.size() < 5000) line += u"First pictures of the sea, the harbour and the boats. ";
  TTextParams p;
  p.FaceName = u"DejaVu Sans";
  p.Scale = 40.0 / kVectorTextLayoutEm;
  p.Style = fsUnderline;
  return TextParamsKey(p, {line});
}

TEST(CaptionMemory, ALongCaptionIsNeverMadeWholeBesideItsTiles) {
  if (!TAllocationProbe::Available()) GTEST_SKIP() << "needs the address sanitizer's allocation hooks";
  InstallTextServices();
  const std::u16string key = LongCaptionKey();
  Ref<TTextBitmapStore> store = TTextBitmapStore::Create(key, nullptr);
  ASSERT_TRUE(store->CanProduceAgain());
  const int32_t w = store->Width(), h = store->Height();
  const size_t picture = size_t(w) * size_t(h) * 4;
  ASSERT_GT(picture, size_t(16) << 20);
  auto img = MakeRef<TImage>(store.get());
  TImageDrawParams p;
  // The middle of the line, 1:1.
  const int32_t x0 = w / 2;
  TDrawerRig rig(700, h);
  auto draw_at = [&](TImage* image) {
    return [&, image](TDeviceDrawer* d) {
      d->DrawImage(image, T3DPoint{float(-x0), 0, 0}, p, T3DPoint{0, float(h), 0}, T3DPoint{float(w), 0, 0},
                   TSize{w, h});
    };
  };
  // Prepared on the loader's path: no allocation near the picture's size.
  size_t largest = TAllocationProbe::LargestDuring([&] { rig.Drawer->PrepareImage(img.get(), p); });
  EXPECT_LT(largest, picture / 8);
  EXPECT_EQ(store->CachedCount(0), 0);
  ASSERT_TRUE(rig.Frame(draw_at(img.get())));
  const std::vector<uint32_t> prepared = rig.Last.Pixels;
  // Drawn unprepared (the prepared tiles gone with the image that held
  // them), it is filled in parts too.
  rig.Drawer->FreeOwnerTextures(img.get());
  largest = TAllocationProbe::LargestDuring([&] { ASSERT_TRUE(rig.Frame(draw_at(img.get()))); });
  EXPECT_LT(largest, picture / 8);
  EXPECT_EQ(store->CachedCount(0), 0);
  const std::vector<uint32_t> unprepared = rig.Last.Pixels;

  // The frame the whole picture gives, through a store that keeps it.
  Ref<TBitmap> level = TTextBitmapStore::Create(key, nullptr)->GetMipLevel(0, StdFormats().A8R8G8B8);
  ASSERT_TRUE(level);
  Ref<TImage> whole = ImageFromBitmap(level.get(), false, u"whole");
  ASSERT_TRUE(rig.Frame(draw_at(whole.get())));
  int lit = 0;
  for (size_t i = 0; i < rig.Last.Pixels.size(); ++i) {
    ASSERT_EQ(prepared[i], rig.Last.Pixels[i]) << "prepared, pixel " << i;
    ASSERT_EQ(unprepared[i], rig.Last.Pixels[i]) << "unprepared, pixel " << i;
    lit += (rig.Last.Pixels[i] & 0xFF) > 128;
  }
  EXPECT_GT(lit, 500);  // the letters and the underline are there
}

}  // namespace
}  // namespace kav
