// A buffer's ring shared by the mixer and a writer on another thread: the
// mixer never reads a region handed out by Lock until it is unlocked, and
// what a writer unlocked is what the mixer plays.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

TEST(SndRing, LockedRegionSoundsAsSilenceUntilUnlocked) {
  for (const TWaveFormat& f : {Pcm(2, 44100, 16), Pcm(1, 22050, 8)}) {
    TRingRig rig;
    const uint32_t bytes = f.AvgBytesPerSec / 10;  // 100 ms
    auto b = rig.Buffer(f, bytes);
    const uint8_t level = 200;                     // 8-bit: (200 - 128) * 256
    const int16_t wide = f.BitsPerSample == 8 ? int16_t((level - 128) * 256) : int16_t(12000);
    void *p1, *p2;
    uint32_t n1, n2;
    ASSERT_EQ(b->Lock(0, bytes, &p1, &n1, &p2, &n2, 0), kSndOk);
    if (f.BitsPerSample == 8)
      std::memset(p1, level, n1);
    else
      std::fill_n(static_cast<int16_t*>(p1), n1 / 2, wide);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kSndOk);
    // The second half is locked while the buffer plays through it once.
    ASSERT_EQ(b->Lock(bytes / 2, bytes - bytes / 2, &p1, &n1, &p2, &n2, 0), kSndOk);
    ASSERT_EQ(b->Play(0, 0, kSndPlayLooping), kSndOk);
    EXPECT_EQ(rig.device->LateFrames(), 0u);
    auto out = rig.Run(100);
    ASSERT_EQ(out.size(), 4410u * 2);
    // Linear interpolation blends the frames next to the region's edges.
    for (size_t i = 0; i < 2200 * 2; ++i) ASSERT_EQ(out[i], wide) << i;
    for (size_t i = 2206 * 2; i < 4400 * 2; ++i) ASSERT_EQ(out[i], 0) << i;
    // The late refill is counted: every frame of the locked half (read
    // twice each where the mixer interpolates).
    const uint64_t late = rig.device->LateFrames();
    const uint32_t half = (bytes - bytes / 2) / f.BlockAlign;
    if (f.SamplesPerSec == kOutputRate)
      EXPECT_EQ(late, half);
    else
      EXPECT_GE(late, half);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kSndOk);
    out = rig.Run(100);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], wide) << i;
    EXPECT_EQ(rig.device->LateFrames(), late);
  }
}

TEST(SndRing, RegionsAcrossTheEndAreBothHeldAndBothReleased) {
  TRingRig rig;
  auto b = rig.Buffer(Pcm(2, 44100, 16), 4410 * 4);  // 100 ms
  void *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(b->Lock(0, 4410 * 4, &p1, &n1, &p2, &n2, 0), kSndOk);
  std::fill_n(static_cast<int16_t*>(p1), 4410 * 2, int16_t(500));
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kSndOk);
  // The last and the first 25 ms.
  ASSERT_EQ(b->Lock(3308 * 4, 2204 * 4, &p1, &n1, &p2, &n2, 0), kSndOk);
  ASSERT_NE(p2, nullptr);
  b->Play(0, 0, kSndPlayLooping);
  auto out = rig.Run(200);
  ASSERT_EQ(out.size(), 8820u * 2);
  auto at = [&](size_t frame) { return out[2 * frame]; };
  EXPECT_EQ(at(0), 0);
  EXPECT_EQ(at(1101), 0);
  EXPECT_EQ(at(1102), 500);
  EXPECT_EQ(at(3307), 500);
  EXPECT_EQ(at(3308), 0);
  EXPECT_EQ(at(4410 + 1101), 0);
  EXPECT_EQ(at(4410 + 1102), 500);
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kSndOk);
  out = rig.Run(100);
  for (int16_t s : out) ASSERT_EQ(s, 500);
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
  std::atomic<int> refills{0}, passes{0};
  std::vector<int16_t> mixed;
  std::thread mixer([&] {
    for (int i = 0; i < 4000; ++i) {
      // Every 64 steps the refill has a turn: on a loaded machine it may
      // otherwise not run at all before the mixer is done.
      if (i % 64 == 0) {
        const int seen = passes.load();
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (passes.load() == seen && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
      }
      rig.us += 250;  // about 11 frames a step
      auto out = rig.device->TakeCapture();
      mixed.insert(mixed.end(), out.begin(), out.end());
    }
    done = true;
  });
  std::thread refill([&] {
    uint32_t at = 0;
    int16_t next = 1;
    for (int pass = 0; !done.load(); ++pass) {
      passes.fetch_add(1);
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
