// The render-target pool: sizes, reuse order and the targets it never hands
// out.
#include <gtest/gtest.h>

#include "Dx3DRig.h"
#include "VoRav/3DBasics/Dev3DRTPool.h"

namespace kav {
namespace {

TEST(RenderTargetPool, SizesAndReuse) {
  dxtest::TDxRig rig;
  auto screen = MakeRef<T3DScreen>();
  screen->SetDrawDevice(rig.Device.get());
  screen->BeginScene();
  auto pool = MakeRef<TRenderTargetManager>(true);
  EXPECT_EQ(pool->Acquire(screen.get()), nullptr);  // no size yet: no targets
  pool->SetSize(TSize{1000, 600});
  EXPECT_EQ(pool->Size(), (TSize{1024, 1024}));
  pool->SetSize(TSize{1000, 500});
  EXPECT_EQ(pool->Size(), (TSize{1024, 512}));
  Ref<TRenderTargetTexture> a = pool->Acquire(screen.get());
  Ref<TRenderTargetTexture> b = pool->Acquire(screen.get());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Kind(), k3DTexTargetAlpha);
  EXPECT_TRUE(a->GetTexture());
  pool->Release(a.get());
  pool->Release(b.get());
  EXPECT_EQ(pool->Acquire(screen.get()), b);  // last in, first out
  pool->Release(b.get());
  pool->SetSize(TSize{1000, 500});
  EXPECT_EQ(pool->FreeCount(), 2);  // the same size keeps them
  // Resized while one is out: it comes back but is never handed out.
  Ref<TRenderTargetTexture> c = pool->Acquire(screen.get());
  pool->SetSize(TSize{64, 64});
  EXPECT_EQ(pool->FreeCount(), 0);
  pool->Release(c.get());
  EXPECT_EQ(pool->FreeCount(), 0);
  Ref<TRenderTargetTexture> d = pool->Acquire(screen.get());
  EXPECT_EQ(d->ImageSize(), (TSize{64, 64}));
  pool->SetSize(TSize{0, 64});
  EXPECT_EQ(pool->Acquire(screen.get()), nullptr);
  // A lent texture may outlive its pool, and the pool a dropped texture.
  Ref<TRenderTargetTexture> e = d;
  d = nullptr;
  pool = nullptr;
  e = nullptr;
  auto pool2 = MakeRef<TRenderTargetManager>(false);
  pool2->SetSize(TSize{32, 32});
  pool2->Acquire(screen.get());  // dropped at once
  pool2 = nullptr;
}

}  // namespace
}  // namespace kav
