// A buffer's ring shared by the mixer and a writer on another thread: what a
// writer puts into a locked region reaches the mixer whole, at Unlock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/sound/null/SndNullDevice.h"

namespace kav {
namespace {

TWaveFormat Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = uint16_t(channels * bits / 8);
  return TWaveFormat{kWaveFormatPcm, channels, rate, rate * align, align, bits, 0};
}

struct TRingRig {
  std::atomic<int64_t> us{0};
  Ref<TSndNullDevice> device = MakeRef<TSndNullDevice>([this] { return us.load(); });
  TRingRig() {
    EXPECT_EQ(device->SetCooperativeLevel(nullptr, kSndCoopPriority), kSndOk);
    device->SetCapture(true);
  }
  Ref<TSndBuffer> Buffer(const TWaveFormat& format, uint32_t bytes) {
    TSndBufferDesc desc;
    desc.Flags = kSndCapsGetCurrentPosition2 | kSndCapsGlobalFocus | kSndCapsLocSoftware;
    desc.BufferBytes = bytes;
    desc.Format = &format;
    Ref<TSndBuffer> buffer;
    EXPECT_EQ(device->CreateSoundBuffer(desc, buffer), kSndOk);
    return buffer;
  }
  std::vector<int16_t> Run(int64_t ms) {
    us += ms * 1000;
    return device->TakeCapture();
  }
};

// Frame k of the test signal: left k (never 0), right its negation, so a
// frame put together from two different writes shows.
void PutFrames(uint8_t* p, uint32_t bytes, int16_t& next) {
  for (uint32_t i = 0; i + 4 <= bytes; i += 4) {
    const int16_t frame[2] = {next, int16_t(-next)};
    std::memcpy(p + i, frame, 4);
    next = int16_t(next % 30000 + 1);
  }
}

// Fills the whole buffer with one 16-bit level (through Lock and Unlock).
void FillLevel(TSndBuffer* b, uint32_t bytes, int16_t level) {
  void *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(b->Lock(0, bytes, &p1, &n1, &p2, &n2, 0), kSndOk);
  std::fill_n(static_cast<int16_t*>(p1), n1 / 2, level);
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kSndOk);
}

TEST(SndRing, LockedRegionPlaysWhatItHeldUntilUnlocked) {
  TRingRig rig;
  const uint32_t bytes = 4410 * 4;  // 100 ms
  auto b = rig.Buffer(Pcm(2, 44100, 16), bytes);
  FillLevel(b.get(), bytes, 500);
  // The second half is locked and rewritten while the buffer plays it once.
  void *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(b->Lock(bytes / 2, bytes / 2, &p1, &n1, &p2, &n2, 0), kSndOk);
  // The region comes with the ring's bytes (a fade works on them in place).
  EXPECT_EQ(static_cast<int16_t*>(p1)[0], 500);
  EXPECT_EQ(static_cast<int16_t*>(p1)[n1 / 2 - 1], 500);
  std::fill_n(static_cast<int16_t*>(p1), n1 / 2, int16_t(-700));
  ASSERT_EQ(b->Play(0, 0, kSndPlayLooping), kSndOk);
  auto out = rig.Run(100);
  ASSERT_EQ(out.size(), 4410u * 2);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 500) << i;
  // Unlock publishes what was written, as far as the caller says it wrote.
  ASSERT_EQ(b->Unlock(p1, n1 / 2, p2, n2), kSndOk);
  out = rig.Run(100);
  for (size_t i = 0; i < 2205 * 2; ++i) ASSERT_EQ(out[i], 500) << i;
  for (size_t i = 2205 * 2; i < 2205 * 2 + n1 / 4; ++i) ASSERT_EQ(out[i], -700) << i;
  for (size_t i = 2205 * 2 + n1 / 4; i < out.size(); ++i) ASSERT_EQ(out[i], 500) << i;
}

TEST(SndRing, RegionsAcrossTheEndArePublishedTogether) {
  for (const TWaveFormat& f : {Pcm(2, 44100, 16), Pcm(1, 22050, 8)}) {
    TRingRig rig;
    const uint32_t bytes = f.AvgBytesPerSec / 10;  // 100 ms
    auto b = rig.Buffer(f, bytes);
    b->Play(0, 0, kSndPlayLooping);
    // The last and the first quarter: the output is silent while locked.
    void *p1, *p2;
    uint32_t n1, n2;
    const uint32_t frames = bytes / f.BlockAlign;
    ASSERT_EQ(b->Lock((frames - frames / 4) * f.BlockAlign, frames / 2 * f.BlockAlign, &p1, &n1, &p2, &n2, 0),
              kSndOk);
    ASSERT_NE(p2, nullptr);
    const int16_t wide = f.BitsPerSample == 8 ? int16_t((200 - 128) * 256) : int16_t(9000);
    if (f.BitsPerSample == 8) {
      std::memset(p1, 200, n1);
      std::memset(p2, 200, n2);
    } else {
      std::fill_n(static_cast<int16_t*>(p1), n1 / 2, wide);
      std::fill_n(static_cast<int16_t*>(p2), n2 / 2, wide);
    }
    auto out = rig.Run(100);
    for (int16_t s : out) ASSERT_EQ(s, 0);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kSndOk);
    out = rig.Run(100);  // one more lap from the same place: frame 0 first
    ASSERT_EQ(out.size(), 4410u * 2);
    auto at = [&](size_t frame) { return out[2 * frame]; };
    EXPECT_EQ(at(0), wide);
    EXPECT_EQ(at(1100), wide);
    EXPECT_EQ(at(1110), 0);
    EXPECT_EQ(at(3300), 0);
    EXPECT_EQ(at(3310), wide);
    EXPECT_EQ(at(4409), wide);
  }
}

// A mixer thread and a refill thread at full speed on one ring: the refill
// writes behind the play cursor and now and then rewrites what is queued just
// ahead of it, as a restart does. Every frame mixed is either silence or a
// whole frame of one write (under ThreadSanitizer: and no race is reported).
TEST(SndRing, MixerAndRefillConcurrentlyNeverMixHalfWrittenFrames) {
  TRingRig rig;
  const uint32_t size = 4410 * 4;  // 100 ms, so the threads meet often
  auto b = rig.Buffer(Pcm(2, 44100, 16), size);
  ASSERT_EQ(b->Play(0, 0, kSndPlayLooping), kSndOk);
  std::atomic<bool> done{false};
  std::atomic<int> refills{0};
  std::vector<int16_t> mixed;
  std::thread mixer([&] {
    for (int i = 0; i < 4000; ++i) {
      rig.us += 250;  // about 11 frames a step
      auto out = rig.device->TakeCapture();
      mixed.insert(mixed.end(), out.begin(), out.end());
      // Let the refill have its turns even on one core.
      if (i % 64 == 0) std::this_thread::yield();
    }
    done = true;
  });
  std::thread refill([&] {
    uint32_t at = 0;
    int16_t next = 1;
    for (int pass = 0; !done.load(); ++pass) {
      uint32_t play = 0, write = 0;
      ASSERT_EQ(b->GetCurrentPosition(&play, &write), kSndOk);
      uint32_t from = at, bytes = (play + size - at) % size;
      if (pass % 5 == 4) {
        // A restart: 10 ms past the write cursor, 20 ms long.
        from = (write + 1764) % size;
        bytes = 3528;
      }
      if (bytes == 0) continue;
      void *p1, *p2;
      uint32_t n1, n2;
      ASSERT_EQ(b->Lock(from, bytes, &p1, &n1, &p2, &n2, 0), kSndOk);
      PutFrames(static_cast<uint8_t*>(p1), n1, next);
      if (p2) PutFrames(static_cast<uint8_t*>(p2), n2, next);
      ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kSndOk);
      if (pass % 5 != 4) at = (from + bytes) % size;
      refills.fetch_add(1);
    }
  });
  mixer.join();
  refill.join();
  EXPECT_GT(refills.load(), 0);
  ASSERT_EQ(mixed.size(), 44100u * 2);  // one second of clock
  size_t heard = 0;
  for (size_t i = 0; i < mixed.size(); i += 2) {
    if (mixed[i] == 0 && mixed[i + 1] == 0) continue;
    ASSERT_EQ(mixed[i + 1], -mixed[i]) << "frame " << i / 2;
    ++heard;
  }
  EXPECT_GT(heard, 0u);
}

}  // namespace
}  // namespace kav
