// Colour-grade lookups: grid values, the video volume, the profile cache and
// the lookup textures.
#include <gtest/gtest.h>

#include "KavLib2/3DEngine/ColorGradeGenerator.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/3DBasics/Dx3DRig.h"

namespace kav {
namespace {

uint32_t At(TSysBitmap* b, int s, int r, int c) { return reinterpret_cast<uint32_t*>(b->Row(s * 32 + r))[c]; }

TEST(ColorGrade, GridAndVolumes) {
  EXPECT_EQ(LutComponent(0), 0);
  EXPECT_EQ(LutComponent(16), 132);
  EXPECT_EQ(LutComponent(31), 255);
  auto b = CreateSysBitmap(32, 1024, StdFormats().A8R8G8B8);
  FillIdentityLut32(b.get());
  EXPECT_EQ(At(b.get(), 31, 16, 2), 0xFF1084FFu);  // red c(2), green c(16), blue c(31)
  {
    // The video lookup rounds halves to even: at (y 2, u 16, v 0) green is
    // 0.813 x 128 - 0.391 x 4 = 102.5, so 102.
    auto yuv = CreateSysBitmap(32, 1024, StdFormats().A8R8G8B8);
    FillYuvToRgbLut(yuv.get());
    EXPECT_EQ((At(yuv.get(), 2, 16, 0) >> 8) & 0xFF, 102u);
  }
  FillYuvToRgbLut(b.get());
  EXPECT_EQ(At(b.get(), 2, 16, 16), 0xFF060008u);
  EXPECT_EQ(At(b.get(), 29, 16, 16), 0xFFFFFFFFu);
  auto b24 = CreateSysBitmap(32, 1024, StdFormats().R8G8B8);
  for (int y = 0; y < 1024; ++y) std::fill(b24->Row(y), b24->Row(y) + 96, uint8_t(1));
  AddIdentityLut24(b24.get());
  EXPECT_EQ(b24->Row(3 * 32 + 4)[5 * 3 + 2], LutComponent(5) + 1);
  auto ramp = CreateSysBitmap(256, 16, StdFormats().A8R8G8B8);
  FillGreyRampLut(ramp.get());
  EXPECT_EQ(reinterpret_cast<uint32_t*>(ramp->Row(15))[200], 0xFFC8C8C8u);
}

TEST(ColorGrade, ProfileCacheKeepsHandedOutLookups) {
  FreeProfileLuts();
  Ref<TSysBitmap> a = GetProfileLut(true, nullptr);
  ASSERT_TRUE(a);
  EXPECT_EQ(GetProfileLut(true, nullptr), a);
  // Another profile object of the same name: the cached lookup.
  std::vector<uint8_t> bytes(16, 0);
  Ref<TColorProfile> same = ColorProfileCreate(bytes, GetDefaultColorProfile()->Name());
  EXPECT_EQ(GetProfileLut(true, same.get()), a);
  // A different profile replaces the cache; the old lookup stays usable.
  Ref<TColorProfile> other = ColorProfileCreate(bytes, u"Other");
  Ref<TSysBitmap> b = GetProfileLut(true, other.get());
  ASSERT_TRUE(b);
  EXPECT_NE(b, a);
  EXPECT_EQ(At(a.get(), 0, 0, 31) & 0xFFFFFF, 0xFF0000u);
  Ref<TSysBitmap> v = GetProfileLut(false, nullptr);
  EXPECT_NE(v, b);
  FreeProfileLuts();
}

TEST(ColorGrade, LookupTextures) {
  dxtest::TDxRig rig;
  auto screen = MakeRef<T3DScreen>();
  screen->SetDrawDevice(rig.Device.get());
  screen->BeginScene();
  auto vol = MakeRef<TCustomColorGradeTexture>(screen.get(), 1);
  auto ramp = MakeRef<TCustomColorGradeTexture>(screen.get(), 0);
  auto* vt = dynamic_cast<TVolumeTexture*>(vol->GetTexture());
  ASSERT_TRUE(vt);
  Ref<TSysBitmap> vb = vt->LockBox(0, nullptr);
  EXPECT_EQ(At(vb.get(), 31, 16, 2), 0xFF1084FFu);
  vt->UnlockBox(0, vb);
  auto* rt = dynamic_cast<T3DTexture*>(ramp->GetTexture());
  ASSERT_TRUE(rt);
  Ref<T3DSurface> s = rt->GetSurface(0);
  Ref<TSysBitmap> rb = s->Lock(TRect{0, 0, 256, 16}, true);
  EXPECT_EQ(reinterpret_cast<uint32_t*>(rb->Row(7))[9], 0xFF090909u);
  s->Unlock(rb);
  // A source lookup replaces the identity; device teardown drops the texture
  // and the next use makes it again.
  auto src = CreateSysBitmap(32, 1024, StdFormats().A8R8G8B8);
  FillYuvToRgbLut(src.get());
  vol->SetSourceLut(src.get(), false);
  vt = dynamic_cast<TVolumeTexture*>(vol->GetTexture());
  vb = vt->LockBox(0, nullptr);
  EXPECT_EQ(At(vb.get(), 2, 16, 16), 0xFF060008u);
  vt->UnlockBox(0, vb);
  TDevStore* store = rig.Device->FindObject<TDevStore>();
  rig.Device->RemoveObject(store);
  store->Free();
  screen->BeginScene();
  EXPECT_TRUE(vol->GetTexture());
  vol = ramp = nullptr;
  screen = nullptr;
}

}  // namespace
}  // namespace kav
