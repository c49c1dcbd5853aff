#include <gtest/gtest.h>

#include <thread>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysImage.h"

using namespace kav;
using namespace kav::test;

namespace {

// Answers true until `left` calls have been made, then false (or the reverse).
struct TProgressSwitch {
  int left = 1 << 30;
  bool OnProgress(float) { return left-- > 0; }
  TProgressHandler Handler() { return TProgressHandler::Bind<&TProgressSwitch::OnProgress>(this); }
};

Ref<TWrapperBitmapStore> WrapperOver(TSysBitmap* b, const TImageParamsCallback& cb = {}) {
  return MakeRef<TWrapperBitmapStore>(u"pic", cb, false, b);
}

}  // namespace

TEST(ImageStore, MipLevelIndexForSize) {
  EXPECT_EQ(MipLevelIndexForSize(TSize{1000, 1000}, 300, 300), 1);
  EXPECT_EQ(MipLevelIndexForSize(TSize{1000, 1000}, 1000, 10), 0);
  EXPECT_EQ(MipLevelIndexForSize(TSize{999, 999}, 250, 250), 1);
  EXPECT_EQ(MipLevelIndexForSize(TSize{1000, 1000}, 2000, 2000), 0);
  EXPECT_EQ(MipLevelIndexForSize(TSize{4096, 2048}, 1, 1), 10);
  EXPECT_ABORT_WITH(MipLevelIndexForSize(TSize{10, 10}, 0, 5), "Assertion failure");
}

TEST(ImageStore, LevelsAreHalvedAndCachedPerFormat) {
  Ref<TSysBitmap> b = Sys(101, 75, F().R8G8B8);
  FillRandom(b.get(), 7);
  Ref<TWrapperBitmapStore> store = WrapperOver(b.get());
  EXPECT_EQ(store->GetMipLevel(0).get(), b.get());

  Ref<TBitmap> l1 = store->GetMipLevel(1);
  ASSERT_TRUE(l1);
  EXPECT_EQ(l1->Width(), 51);
  EXPECT_EQ(l1->Height(), 38);
  EXPECT_EQ(l1->PixelFormat(), F().R8G8B8);
  Ref<TSysBitmap> expected = Sys(51, 38, F().R8G8B8);
  HalveBitmap24(b.get(), expected.get());
  EXPECT_TRUE(SamePixels(AsSysBitmap(l1.get()), expected.get()));
  EXPECT_EQ(store->GetMipLevel(1).get(), l1.get());
  EXPECT_EQ(store->CachedCount(1), 1);

  Ref<TBitmap> l1a = store->GetMipLevel(1, F().A8R8G8B8);
  EXPECT_EQ(l1a->PixelFormat(), F().A8R8G8B8);
  EXPECT_EQ(store->CachedCount(1), 2);
  EXPECT_EQ(store->GetMipLevel(1, F().A8R8G8B8).get(), l1a.get());
  EXPECT_EQ(Get32(AsSysBitmap(l1a.get()), 3, 4), 0xFF000000u | Get24(expected.get(), 3, 4));

  // Level 3 comes from level 2, which is made and cached on the way; a
  // class asked for that the level's bitmap is not gets a converted copy.
  Ref<TBitmap> l3 = store->GetMipLevel(3);
  EXPECT_EQ(l3->Width(), 13);
  EXPECT_EQ(l3->Height(), 10);
  EXPECT_EQ(store->CachedCount(2), 1);
  Ref<TBitmap> direct = store->GetMipLevel(0, nullptr, &TDirectBitmap::kClass);
  ASSERT_TRUE(direct);
  EXPECT_TRUE(direct->InheritsFrom(&TDirectBitmap::kClass));

  // The store's progress handler reaches what it produces.
  TProgressSwitch sw;
  store->SetOnProgress(sw.Handler());
  EXPECT_EQ(store->GetMipLevel(4)->OnProgress(), sw.Handler());

  // Freeing a store that does not own its bitmap leaves the bitmap alive.
  const int32_t refs = b->RefCount();
  store = nullptr;
  l1 = l1a = l3 = direct = nullptr;
  EXPECT_EQ(b->RefCount(), refs - 1);  // the cache's reference went with the store
  EXPECT_EQ(b->Width(), 101);
}

TEST(ImageStore, AbortedLevelIsNotCached) {
  Ref<TSysBitmap> b = Sys(64, 48, F().A8R8G8B8);
  FillRandom(b.get(), 3);
  Ref<TWrapperBitmapStore> store = WrapperOver(b.get());
  TProgressSwitch sw;
  sw.left = 5;
  store->SetOnProgress(sw.Handler());
  EXPECT_THROW(store->GetMipLevel(1), EAbort);
  EXPECT_EQ(store->CachedCount(1), 0);
  // A conversion copy cut short is not kept either.
  sw.left = 3;
  EXPECT_THROW(store->GetMipLevel(0, F().R8G8B8), EAbort);
  EXPECT_EQ(store->CachedCount(0), 1);

  // Once loading may go on, the level is made whole.
  sw.left = 1 << 30;
  Ref<TBitmap> l1 = store->GetMipLevel(1);
  Ref<TSysBitmap> expected = Sys(32, 24, F().A8R8G8B8);
  HalveBitmap32(b.get(), expected.get());
  EXPECT_TRUE(SamePixels(AsSysBitmap(l1.get()), expected.get()));
  EXPECT_TRUE(store->GetMipLevel(0, F().R8G8B8));
}

TEST(ImageStore, ImagesFromBitmapsAndDirectMatches) {
  EXPECT_FALSE(ImageFromBitmap(nullptr, true, u""));
  // A direct bitmap is wrapped; asked for as a TDirectBitmap the store
  // answers the direct bitmap itself.
  TDirectBitmap* direct = new TDirectBitmap(5, 4, F().R8G8B8);
  Ref<TImage> image = ImageFromBitmap(direct, true, u"d");
  EXPECT_EQ(image->Width(), 5);
  EXPECT_EQ(image->Params().Name, u"d");
  EXPECT_TRUE(image->GetBitmap()->InheritsFrom(&TSysDirectWrapper::kClass));
  EXPECT_EQ(image->Store()->GetMipLevel(0, nullptr, &TDirectBitmap::kClass).get(), direct);
  EXPECT_EQ(image->Store()->CachedCount(0), 1);
  Ref<TImage> clone = image->Clone();
  EXPECT_EQ(clone->Store(), image->Store());

  // A non-owned bitmap stays the caller's.
  Ref<TSysBitmap> sys = Sys(3, 3, F().A8R8G8B8);
  Ref<TImage> image2 = ImageFromBitmap(sys.get(), false, u"");
  EXPECT_EQ(image2->GetBitmap().get(), sys.get());
  image2->GetNotifyList()->Add(clone.release());  // released with the image
  image2 = nullptr;
  EXPECT_EQ(sys->RefCount(), 1);
}

namespace {
TLevelFilter TurnClockwise(TImageParams& p) {
  std::swap(p.Width, p.Height);
  return &RotateLevel90CW;
}
TLevelFilter TurnHalf(TImageParams&) { return &RotateLevel180; }
}  // namespace

TEST(ImageStore, OrientationFilters) {
  Ref<TSysBitmap> b = Sys(5, 3, F().R8G8B8);
  FillRandom(b.get(), 11);
  Ref<TSysBitmap> keep = Sys(5, 3, F().R8G8B8);
  keep->CopyFrom(b.get());

  Ref<TWrapperBitmapStore> cw = WrapperOver(b.get(), TImageParamsCallback::Bind<&TurnClockwise>());
  EXPECT_EQ(cw->Width(), 3);
  EXPECT_EQ(cw->Height(), 5);
  Ref<TBitmap> l0 = cw->GetMipLevel(0);
  ASSERT_EQ(l0->Width(), 3);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(Get24(AsSysBitmap(l0.get()), x, y), Get24(b.get(), y, 2 - x));
  EXPECT_EQ(cw->GetMipLevel(1)->Width(), 2);
  EXPECT_EQ(cw->GetMipLevel(1)->Height(), 3);

  // Turning in place works on a copy: the wrapped bitmap is not the store's.
  Ref<TWrapperBitmapStore> half = WrapperOver(b.get(), TImageParamsCallback::Bind<&TurnHalf>());
  Ref<TBitmap> h0 = half->GetMipLevel(0);
  EXPECT_NE(h0.get(), b.get());
  EXPECT_EQ(Get24(AsSysBitmap(h0.get()), 0, 0), Get24(b.get(), 4, 2));
  EXPECT_TRUE(SamePixels(b.get(), keep.get()));
}

TEST(ImageStore, ConcurrentRequestsShareOneLevel) {
  Ref<TSysBitmap> b = Sys(400, 300, F().A8R8G8B8);
  FillRandom(b.get(), 5);
  Ref<TWrapperBitmapStore> store = WrapperOver(b.get());
  Ref<TBitmap> got[4];
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { got[i] = store->GetMipLevel(3 - i % 2); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(got[0].get(), got[2].get());
  EXPECT_EQ(got[1].get(), got[3].get());
  EXPECT_EQ(store->CachedCount(3), 1);
  EXPECT_EQ(store->CachedCount(2), 1);
  EXPECT_EQ(store->CachedCount(1), 1);
}
