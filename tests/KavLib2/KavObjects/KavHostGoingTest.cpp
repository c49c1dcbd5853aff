// A slide host that goes while another thread produces a picture through it.
// The image cache asks every producer registered on a show's source, so when
// a show is opened again (another window size) the new host's worker makes
// its shadows through the old host, which is still registered until the old
// slides are let go. The old host then goes on another thread in the middle
// of that shadow: it must cut the work short, wait for it and leave the key
// to the next producer, never free the generator under it.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "KavLib2/KavViewer/KavImageCache.h"
#include "ShowFolderTestUtil.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"
#include "VoRav/Graphics/SysBitmap.h"

namespace kav {
namespace {

// Registered on the source: answers nothing, but holds the thread that loads
// `Name` until the test lets it go, so the test knows that thread is inside
// a shadow production (which loads the shape picture first).
struct TGate {
  std::u16string Name;
  std::mutex Lock;
  std::condition_variable Changed;
  bool Inside = false;
  bool Go = false;

  Ref<TImage> Open(void*, TFileSource*, const std::u16string& name) {
    if (name != Name) return nullptr;
    std::unique_lock<std::mutex> hold(Lock);
    Inside = true;
    Changed.notify_all();
    Changed.wait(hold, [this] { return Go; });
    return nullptr;
  }
  void WaitInside() {
    std::unique_lock<std::mutex> hold(Lock);
    Changed.wait(hold, [this] { return Inside; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(Lock);
    Go = true;
    Changed.notify_all();
  }
};

std::vector<uint8_t> Pixels(TImage* image) {
  Ref<TBitmap> level = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
  TSysBitmap* b = AsSysBitmap(level.get());
  if (!b) return {};
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < b->Height(); ++y) out.insert(out.end(), b->Row(y), b->Row(y) + size_t(b->Width()) * 4);
  return out;
}

TEST(SlideHostGoing, AHostGoingWhileAnotherThreadDrawsAShadowThroughItHandsTheKeyOn) {
  constexpr int32_t kSide = 360;
  TShadowParams p;
  p.ImageName = u"disc.bmp";
  p.Rect = TFloatRect{0, 0, float(kSide), float(kSide)};
  p.Margin = TFloatPoint{40, 40};
  p.Blur = 24;
  p.Contour = 2;
  const std::u16string key = MakeShadowKey(p);
  // Several rounds: each a new show folder, so nothing is cached yet.
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    test::THostFixture show;  // its host is the old one, registered first
    show.Folder.Write("disc.bmp", test::Bmp32(kSide, kSide, [](int32_t x, int32_t y) {
                        return std::hypot(x - 179.5, y - 179.5) < 150 ? 0xFF00FF00u : 0u;
                      }));
    TGate gate;
    gate.Name = u"disc.bmp";
    Ref<TCallbackHandle> gate_registration =
        show.Source->AddCallback(TOpenImageCallback::Bind<&TGate::Open>(&gate), nullptr);
    // The new host of the same show, registered after the old one.
    test::TTestCallbacks calls;
    Ref<TKavSlideHost> next = MakeRef<TKavSlideHost>(
        show.Files.get(), TKavSlideHost::TEffectResourceFill(), nullptr, false,
        TKavSlideHost::TSectionQuery::Bind<&test::TTestCallbacks::Section>(&calls),
        TKavSlideHost::TCameraQuery::Bind<&test::TTestCallbacks::CameraAt>(&calls),
        TKavSlideHost::TEffectBufferQuery::Bind<&test::TTestCallbacks::BufferSize>(&calls), u"buttons/");

    // What the new host's worker does with a queued shadow.
    Ref<TImage> made;
    std::thread worker([&] { made = LoadImageHandle(show.Files.get(), key); });
    gate.WaitInside();  // the old host's generator is drawing this shadow
    gate.Release();
    show.Host.reset();  // the old slides go: the old host with them
    worker.join();

    ASSERT_NE(made, nullptr);
    // Whole, as a generator that nobody disturbs makes it (the old host's
    // cut-short work is not what the cache keeps).
    Ref<TImage> reference = MakeRef<TShadowGenerator>()->DrawShadow(p, show.Files.get());
    ASSERT_EQ(made->Width(), reference->Width());
    ASSERT_EQ(made->Height(), reference->Height());
    EXPECT_GT(made->Width(), kSide);
    const std::vector<uint8_t> got = Pixels(made.get()), want = Pixels(reference.get());
    ASSERT_FALSE(want.empty());
    EXPECT_TRUE(got == want);
    made.reset();
    reference.reset();
    gate_registration.reset();
    next.reset();
  }
}

// A withdrawn registration answers nothing more; withdrawing waits for a
// call in progress on another thread but not for one of its own thread.
TEST(SlideHostGoing, WithdrawnCallbacksWaitForCallsInProgress) {
  auto source = MakeRef<TRealFileSource>();
  TGate gate;
  gate.Name = u"x";
  Ref<TCallbackHandle> h = source->AddCallback(TOpenImageCallback::Bind<&TGate::Open>(&gate), nullptr);
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    h->Call(source.get(), u"x");
    returned = true;
  });
  gate.WaitInside();
  std::atomic<bool> withdrawn{false};
  std::thread withdraw([&] {
    h->Withdraw();
    withdrawn = true;
  });
  // Off the list at once, but not done while the call is still inside.
  while (!source->Callbacks().empty()) std::this_thread::yield();
  EXPECT_FALSE(withdrawn.load());
  gate.Release();
  caller.join();
  withdraw.join();
  EXPECT_TRUE(returned.load());
  EXPECT_TRUE(withdrawn.load());
  EXPECT_TRUE(source->Callbacks().empty());
  gate.Inside = false;
  EXPECT_EQ(h->Call(source.get(), u"x"), nullptr);
  EXPECT_FALSE(gate.Inside);

  // A callback that withdraws its own registration does not wait for itself.
  struct TSelf {
    Ref<TCallbackHandle> Handle;
    Ref<TImage> Open(void*, TFileSource*, const std::u16string&) {
      Handle->Withdraw();
      return nullptr;
    }
  } self;
  self.Handle = source->AddCallback(TOpenImageCallback::Bind<&TSelf::Open>(&self), nullptr);
  EXPECT_EQ(self.Handle->Call(source.get(), u"y"), nullptr);
  EXPECT_TRUE(source->Callbacks().empty());
  self.Handle.reset();
}

}  // namespace
}  // namespace kav
