#include "KavLib2/KavVideo/KavVideoExtractor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "VoRav/Graphics/Video/FFMpegVideoSource.h"
#include "tests/VoRav/Graphics/Video/MemYUVImage.h"
#include "tests/platform/media/MediaTestClips.h"

namespace kav {
namespace {

using testing::TMemYUVImage;

// Writes the frame number into the first luma bytes; fails the frames in
// `failing`.
class TCounterSource : public TFrameSource {
 public:
  TCounterSource(double fps, int32_t count, bool loop, std::set<int32_t> failing = {}) : failing_(std::move(failing)) {
    info_.Width = 8;
    info_.Height = 8;
    info_.FramesPerSecond = fps;
    info_.FrameCount = count;
    info_.Loop = loop;
  }
  bool GetFrame(int32_t frame, TYUVImage* image) override {
    ++calls;
    if (frame == 75) ++calls75;
    if (failing_.count(frame)) return false;
    TFrameFill fill(image);
    memcpy(fill.Plane(kYuvPlaneY)->Row(0), &frame, 4);
    fill.Commit();
    return true;
  }
  bool GetFrame24(int32_t, TDirectBitmap*) override { return false; }
  std::atomic<int32_t> calls{0};
  std::atomic<int32_t> calls75{0};  // decodes of frame 75

 private:
  std::set<int32_t> failing_;
};

int32_t Shown(const TFrameSlot& slot) {
  int32_t v;
  memcpy(&v, static_cast<TMemYUVImage*>(slot.Frame.get())->Plane(kYuvPlaneY), 4);
  return v;
}

Ref<TKavVideoExtractor> Primed(Ref<TFrameSource> source, int frames = 2) {
  auto ex = MakeRef<TKavVideoExtractor>(source);
  for (int i = 0; i < frames; ++i) ex->AddFrame(MakeRef<TMemYUVImage>(8, 8));
  return ex;
}

struct TStopper {
  Ref<TKavVideoExtractor> ex;
  ~TStopper() { ex->Stop(); }
};

TEST(KavVideoExtractor, FrameOfATime) {
  auto loop = MakeRef<TKavVideoExtractor>(MakeRef<TCounterSource>(25, 250, true));
  TStopper s1{loop};
  EXPECT_EQ(loop->NormalizeFrameIndex(11000), 25);  // 275 wraps to 25
  EXPECT_EQ(loop->NormalizeFrameIndex(100), 2);      // 2.5 rounds to even
  EXPECT_EQ(loop->NormalizeFrameIndex(140), 4);      // 3.5 rounds to even
  EXPECT_EQ(loop->NormalizeFrameIndex(-500), 0);
  EXPECT_EQ(loop->NormalizeFrameIndex(std::nan("")), 0);
  EXPECT_EQ(loop->NormalizeFrameIndex(1e300), 57);  // huge times still wrap inside the clip
  auto once = MakeRef<TKavVideoExtractor>(MakeRef<TCounterSource>(25, 250, false));
  TStopper s2{once};
  EXPECT_EQ(once->NormalizeFrameIndex(11000), 249);
  // Without a rate the first frame; without a count the frame stands.
  auto no_rate = MakeRef<TKavVideoExtractor>(MakeRef<TCounterSource>(0, 250, false));
  TStopper s3{no_rate};
  EXPECT_EQ(no_rate->NormalizeFrameIndex(5000), 0);
  double a, b;
  no_rate->GetFrameTimeRange(3, a, b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);
  auto no_count = MakeRef<TKavVideoExtractor>(MakeRef<TCounterSource>(25, 0, false));
  TStopper s4{no_count};
  EXPECT_EQ(no_count->NormalizeFrameIndex(2000), 50);
  once->GetFrameTimeRange(10, a, b);
  EXPECT_DOUBLE_EQ(a, 380);
  EXPECT_DOUBLE_EQ(b, 420);
}

TEST(KavVideoExtractor, SeekWaitsForTheFrameAndGetFramePrefetchesTheNext) {
  auto source = MakeRef<TCounterSource>(25, 100, false);
  auto ex = Primed(source);
  TStopper stop{ex};
  TFrameSlot slot;
  EXPECT_FALSE(ex->GetFrame(slot, 60, 400));  // nothing decoded yet
  EXPECT_FALSE(slot.Frame);
  ex->Seek(true, 400);  // frame 10
  ASSERT_TRUE(ex->GetFrame(slot, 25, 400));
  EXPECT_EQ(slot.Decoded, 10);
  EXPECT_EQ(slot.Wanted, 10);
  EXPECT_EQ(Shown(slot), 10);
  EXPECT_EQ(ex->Requested() == 11 || ex->Requested() == kNoFrame, true);  // the next frame of a 25 Hz display
  ex->PutFrameSlot(slot);
  EXPECT_FALSE(slot.Frame);
  // The worker fills the other slot with frame 11 (it may still be busy with
  // the frame the first call asked for, so wait for 11 itself).
  bool got = false;
  for (int i = 0; i < 15000 && !got; ++i) {  // 30 s at least: a loaded machine
    got = ex->GetFrame(slot, 25, 440);
    if (!got) {
      ex->PutFrameSlot(slot);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ASSERT_TRUE(got);
  EXPECT_EQ(Shown(slot), 11);
  ex->PutFrameSlot(slot);
  // Far away and not decoded: the nearest frame, not exact, and the frame
  // itself is asked for.
  EXPECT_FALSE(ex->GetFrame(slot, 25, 3000));
  EXPECT_EQ(slot.Wanted, 75);
  EXPECT_EQ(ex->Requested(), 75);
  ex->PutFrameSlot(slot);
  ex->Seek(true, 3000);
  EXPECT_TRUE(ex->GetFrame(slot, 25, 3000));
  ex->PutFrameSlot(slot);
  // Asking for a frame already held does not decode it again (the worker
  // may still be prefetching the next one meanwhile).
  const int32_t calls = source->calls75;
  ex->Seek(true, 3000);
  EXPECT_EQ(source->calls75, calls);
}

TEST(KavVideoExtractor, AFailedDecodeIsNeverLabelledAsTheRequestedFrame) {
  auto source = MakeRef<TCounterSource>(25, 100, false, std::set<int32_t>{5});
  auto ex = Primed(source);
  TStopper stop{ex};
  ex->Seek(true, 120);  // frame 3
  ex->Seek(true, 200);  // frame 5 fails: the wait ends
  TFrameSlot slot;
  EXPECT_FALSE(ex->GetFrame(slot, 25, 200));
  EXPECT_NE(slot.Decoded, 5);
  EXPECT_EQ(Shown(slot), slot.Decoded);
  ex->PutFrameSlot(slot);
}

TEST(KavVideoExtractor, SeekDoesNotDeadlockWithThreeOrMoreSharers) {
  auto ex = Primed(MakeRef<TCounterSource>(25, 1000, true));
  TStopper stop{ex};
  ex->Seek(true, 0);
  ex->Seek(true, 40);
  // One thread's objects hold both frames while a third object seeks.
  TFrameSlot a, b;
  ex->GetFrame(a, 60, 0);
  ex->GetFrame(b, 60, 40);
  ASSERT_TRUE(a.Frame && b.Frame);
  auto t0 = std::chrono::steady_clock::now();
  ex->Seek(true, 4000);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  ex->PutFrameSlot(a);
  ex->PutFrameSlot(b);
  // Several threads seek and draw at once.
  std::vector<std::thread> threads;
  std::atomic<int> done{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 60; ++i) {
        double time = ((t * 37 + i * 13) % 400) * 40.0;
        ex->Seek(true, time);
        TFrameSlot s;
        ex->GetFrame(s, 60, time);
        if (s.Frame) {
          EXPECT_EQ(Shown(s), s.Decoded);
          ex->PutFrameSlot(s);
        }
      }
      ++done;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(done, 4);
}

TEST(KavVideoExtractor, LostContentsAreDecodedAgain) {
  auto ex = Primed(MakeRef<TCounterSource>(25, 100, false), 1);
  TStopper stop{ex};
  // Until the worker has nothing asked of it (30 s at least: a loaded machine).
  auto settle = [&] {
    for (int i = 0; i < 15000 && ex->Requested() != kNoFrame; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  ex->Seek(true, 800);  // frame 20
  TFrameSlot slot;
  ASSERT_TRUE(ex->GetFrame(slot, 25, 800));
  TYUVImage* frame = slot.Frame.get();
  ex->PutFrameSlot(slot);
  settle();  // the prefetch of frame 21 went into the only frame
  const int32_t before = ex->DecodeCount();
  static_cast<TMemYUVImage*>(frame)->Lose();  // a device reset: the frame it held is decoded again
  for (int i = 0; i < 15000 && ex->DecodeCount() == before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(ex->DecodeCount(), before + 1);
  ASSERT_TRUE(ex->GetFrame(slot, 0, 840));
  EXPECT_FALSE(slot.Frame->Invalid);
  // Lost while held by a drawer: put back as lost, decoded again on a seek.
  static_cast<TMemYUVImage*>(slot.Frame.get())->Lose();
  ex->PutFrameSlot(slot);
  settle();
  ex->Seek(true, 840);
  ASSERT_TRUE(ex->GetFrame(slot, 0, 840));
  EXPECT_FALSE(slot.Frame->Invalid);
  EXPECT_EQ(Shown(slot), 21);
  ex->PutFrameSlot(slot);
}

TEST(KavVideoExtractor, PositionFieldAndAspect) {
  // 10 s of clip from 2 s in, starting 1 s into the slide.
  EXPECT_DOUBLE_EQ(VideoPositionMs(500, 1000, 0, 1.0, 10000, 2000), 2000);
  EXPECT_DOUBLE_EQ(VideoPositionMs(3000, 1000, 0, 1.0, 10000, 2000), 4000);
  EXPECT_DOUBLE_EQ(VideoPositionMs(30000, 1000, 0, 1.0, 10000, 2000), 12000);
  EXPECT_DOUBLE_EQ(VideoPositionMs(3000, 1000, 0, 2.0, 10000, 2000), 6000);
  EXPECT_DOUBLE_EQ(VideoPositionMs(3000, 1000, 5000, 1.0, 10000, 2000), 2000);  // before T0
  EXPECT_DOUBLE_EQ(VideoPositionMs(3000, 1000, 0, 0.0, 10000, 2000), 2000);    // speed 0 holds
  EXPECT_DOUBLE_EQ(VideoPositionMs(3000, 1000, 0, -1.0, 10000, 2000), 2000);
  // Bob even: field 1 in the first half of a frame's time, 2 in the second.
  EXPECT_EQ(DeinterlaceField(2, true, true, 39, 40), 1);
  EXPECT_EQ(DeinterlaceField(2, true, true, 41, 40), 2);
  EXPECT_EQ(DeinterlaceField(3, false, true, 39, 40), 2);
  EXPECT_EQ(DeinterlaceField(1, true, true, 39, 40), 0);
  EXPECT_EQ(DeinterlaceField(0, false, true, 39, 40), 0);
  EXPECT_EQ(DeinterlaceField(0, true, true, 39, 40), 2);
  EXPECT_EQ(DeinterlaceField(0, true, false, 39, 40), 1);
  EXPECT_DOUBLE_EQ(FrameAspectScale(0, 720, 576), 1.0);
  EXPECT_DOUBLE_EQ(FrameAspectScale(2, 720, 576), 576 * 1.777778 / 720);
  EXPECT_DOUBLE_EQ(FrameAspectScale(1, 0, 576), 1.0);
}

// A real clip, made to loop.
class TLoopingClip : public TFrameSource {
 public:
  explicit TLoopingClip(Ref<TFrameSource> inner) : inner_(std::move(inner)) {
    info_ = inner_->Info();
    info_.Loop = 1;
  }
  bool GetFrame(int32_t frame, TYUVImage* image) override { return inner_->GetFrame(frame, image); }
  bool GetFrame24(int32_t frame, TDirectBitmap* bitmap) override { return inner_->GetFrame24(frame, bitmap); }

 private:
  Ref<TFrameSource> inner_;
};

TEST(KavVideoExtractor, RealClipAtShowTimesWithSeeksAndLooping) {
  std::string clip = testclips::MakeClip(testclips::ClipDesc("ex.mp4"));
  ASSERT_FALSE(clip.empty());
  auto ref = testclips::DecodeReference(clip, 64, 48);
  ASSERT_EQ(ref.Frames(), 50);
  auto source = MakeRef<TWinVideoSource>(nullptr, false, std::u16string(clip.begin(), clip.end()));
  ASSERT_TRUE(source->Opened());
  auto ex = MakeRef<TKavVideoExtractor>(MakeRef<TLoopingClip>(source));
  TStopper stop{ex};
  ex->AddFrame(MakeRef<TMemYUVImage>(64, 48));
  ex->AddFrame(MakeRef<TMemYUVImage>(64, 48));
  // (show time ms, frame): forward, backward, past the end (loops to 0..).
  const std::pair<double, int> asks[] = {{0, 0}, {1000, 25}, {440, 11}, {1960, 49}, {2000, 0}, {2080, 2}, {1200, 30}};
  for (auto [time, frame] : asks) {
    ex->Seek(true, time);
    TFrameSlot slot;
    ASSERT_TRUE(ex->GetFrame(slot, 60, time)) << time;
    auto* img = static_cast<TMemYUVImage*>(slot.Frame.get());
    EXPECT_LT(testclips::LumaDifference(img->Plane(0), img->Pitch(0), ref.Frame(frame), 64, 48), 0.5)
        << "time " << time << " frame " << frame;
    ex->PutFrameSlot(slot);
  }
}

}  // namespace
}  // namespace kav
