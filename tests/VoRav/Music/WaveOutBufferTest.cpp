// The streaming buffer on the null device: fills, restarts, played time,
// volume.
#include <chrono>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "VoRav/Music/winWaveOutBuffer.h"
#include "VoRav/vxTime.h"
#include "tests/VoRav/Music/AudioRig.h"

namespace kav {
namespace {

using test::TAudioRig;

// Fills with a running 16-bit counter (both channels alike) and records the
// calls.
struct TFiller {
  int16_t next = 1;
  std::vector<std::pair<uint32_t, uint32_t>> restarts;  // block position, bytes
  std::vector<uint32_t> fills;
  void Fill(uint8_t* dst, uint32_t bytes) {
    for (uint32_t i = 0; i + 4 <= bytes; i += 4, ++next) {
      std::memcpy(dst + i, &next, 2);
      std::memcpy(dst + i + 2, &next, 2);
    }
  }
  void First(TWaveOutBuffer*, uint8_t* d, uint32_t n) { Fill(d, n); }
  void Regular(TWaveOutBuffer* b, uint8_t* d, uint32_t n) {
    fills.push_back(n);
    (void)b;
    Fill(d, n);
  }
  void Restart(TWaveOutBuffer* b, uint8_t*, uint32_t n) {
    restarts.push_back({static_cast<TwinWaveOutBuffer*>(b)->GetQueuedBytes(), n});
  }
};

Ref<TwinWaveOutBuffer> MakeBuffer(TAudioRig& rig, TFiller& f) {
  auto b = Ref<TwinWaveOutBuffer>::Adopt(static_cast<TwinWaveOutBuffer*>(rig.device->CreateBuffer(kOutputWaveFormat).release()));
  b->FirstFill = TWaveOutBuffer::TFillCallback::Bind<&TFiller::First>(&f);
  b->RegularFill = TWaveOutBuffer::TFillCallback::Bind<&TFiller::Regular>(&f);
  b->RestartFill = TWaveOutBuffer::TFillCallback::Bind<&TFiller::Restart>(&f);
  return b;
}

TEST(WaveOutBuffer, StreamsEverySampleInOrderAndCountsWraps) {
  TAudioRig rig;
  TFiller f;
  auto b = MakeBuffer(rig, f);
  ASSERT_TRUE(b->HasSoundBuffer());
  EXPECT_EQ(b->GetFirstFillSize(), 264600u);
  rig.sound->SetCapture(true);
  b->StartPlaying();
  for (int step = 0; step < 65; ++step) {
    TAudioRig::now_ms += 100;
    b->Refill();
  }
  const auto out = rig.sound->TakeCapture();
  ASSERT_EQ(out.size(), 6500u * 44100 / 1000 * 2);
  for (size_t i = 0; i < out.size(); i += 2) ASSERT_EQ(out[i], int16_t(1 + i / 2)) << i;
  // Never more than half a second per pass.
  for (uint32_t n : f.fills) EXPECT_LE(n, 88200u);
  // Three wraps of the two-second ring: 6.5 s played.
  EXPECT_EQ(b->GetPlayedMs(), 6500);
}

TEST(WaveOutBuffer, RestartHandsBackWhatIsQueuedPast5Ms) {
  TAudioRig rig;
  TFiller f;
  auto b = MakeBuffer(rig, f);
  b->StartPlaying();
  TAudioRig::now_ms += 100;  // play cursor at 17,640
  b->RequestRestart();
  b->Refill();
  ASSERT_EQ(f.restarts.size(), 1u);
  // From 5 ms past the write cursor (17,640 + 880) up to the write position.
  EXPECT_EQ(f.restarts[0].second, 264600u - 18520u);
  EXPECT_EQ(f.restarts[0].first, 18520u - 17640u);
  // Nothing queued past that point: no restart at all (never round the ring).
  f.restarts.clear();
  TAudioRig::now_ms += 1900;  // cursor passes our write position
  b->RequestRestart();
  b->Refill();
  EXPECT_TRUE(f.restarts.empty() || f.restarts[0].second < b->SizeBytes() / 2);
}

// Less than the 5 ms margin left of the first block (a refill thread that
// never got to run): the restart takes what is left from the write cursor
// itself, and the fill behind it follows in the same pass.
TEST(WaveOutBuffer, ARestartWithLessQueuedThanTheMarginTakesItFromTheWriteCursor) {
  TAudioRig rig;
  TFiller f;
  auto b = MakeBuffer(rig, f);
  b->StartPlaying();
  TAudioRig::now_ms += 1497;  // 3 ms of the first block's 1,500 left
  b->RequestRestart();
  b->Refill();
  ASSERT_EQ(f.restarts.size(), 1u);
  EXPECT_EQ(f.restarts[0].first, 0u);
  EXPECT_EQ(f.restarts[0].second, 264600u - 1497u * 44100 / 1000 * 4);
  ASSERT_EQ(f.fills.size(), 1u);
}

TEST(WaveOutBuffer, ARestartOfAFullRingHandsBackAllOfItPast5Ms) {
  TAudioRig rig;
  TFiller f;
  auto b = MakeBuffer(rig, f);
  b->StartPlaying();
  b->Refill();  // the quarter behind the first fill, up to the cursor
  ASSERT_EQ(f.fills.size(), 1u);
  b->RequestRestart();
  b->Refill();
  // From 5 ms past the write cursor round the ring to the write position
  // (the cursor): everything queued but those 5 ms.
  ASSERT_EQ(f.restarts.size(), 1u);
  EXPECT_EQ(f.restarts[0].first, 880u);
  EXPECT_EQ(f.restarts[0].second, b->SizeBytes() - 880u);
  // The cursor comes round to the same place without a refill: the ring ran
  // dry, and nothing is queued to restart.
  f.restarts.clear();
  TAudioRig::now_ms += 2000;
  b->RequestRestart();
  b->Refill();
  EXPECT_TRUE(f.restarts.empty());
}

TEST(WaveOutBuffer, WritesNothingWhenTheRingIsFull) {
  TAudioRig rig;
  TFiller f;
  auto b = MakeBuffer(rig, f);
  b->StartPlaying();
  b->Refill();  // the quarter behind the first fill: 88,200 bytes
  ASSERT_EQ(f.fills.size(), 1u);
  EXPECT_EQ(f.fills[0], 88200u);
  b->Refill();  // write position now equals the play cursor
  EXPECT_EQ(f.fills.size(), 1u);
}

TEST(WaveOutBuffer, VolumeInHundredthsOfADecibel) {
  EXPECT_EQ(TwinWaveOutBuffer::Attenuation(0.0f), -10000);
  EXPECT_EQ(TwinWaveOutBuffer::Attenuation(-1.0f), -10000);
  EXPECT_EQ(TwinWaveOutBuffer::Attenuation(0.5f), -600);
  EXPECT_EQ(TwinWaveOutBuffer::Attenuation(0.25f), -1200);
  EXPECT_EQ(TwinWaveOutBuffer::Attenuation(1.0f), 0);
  EXPECT_EQ(TwinWaveOutBuffer::Attenuation(3.0f), 0);
  for (float v : {0.9f, 0.3f, 0.01f})
    EXPECT_EQ(TwinWaveOutBuffer::Attenuation(v), int32_t(std::nearbyint(-600 * std::log2(1 / v))));
  TAudioRig rig;
  TFiller f;
  auto b = MakeBuffer(rig, f);
  EXPECT_FLOAT_EQ(b->GetVolume(), 1.0f);
  b->SetVolume(0.5f);
  EXPECT_FLOAT_EQ(b->GetVolume(), 0.5f);
}

TEST(WaveOutBuffer, WithoutASoundBufferNothingPlaysAndDisposeIsSafe) {
  auto before = SetSndDeviceFactory(nullptr);
  auto device = MakeRef<TwinWaveOutDevice>();
  auto b0 = MakeRef<TwinWaveOutBuffer>(device.get(), 1000, kOutputWaveFormat);
  EXPECT_FALSE(b0->HasSoundBuffer());
  b0->StartThread();
  b0 = nullptr;
  SetSndDeviceFactory(before);
  TAudioRig rig;
  TWaveFormat bad = kOutputWaveFormat;
  bad.Channels = 6;  // the mixer takes no such buffer
  bad.BlockAlign = 12;
  bad.AvgBytesPerSec = 44100 * 12;
  auto b = MakeRef<TwinWaveOutBuffer>(rig.device.get(), bad.AvgBytesPerSec * 2, bad);
  EXPECT_FALSE(b->HasSoundBuffer());
  b->StartThread();
  b->RequestRestart();
  b->Refill();
  EXPECT_EQ(b->GetQueuedBytes(), 0u);
  EXPECT_EQ(b->GetPlayedMs(), 0);
}

TEST(WaveOutBuffer, RefillThreadKeepsPlaying) {
  auto before = SetSndDeviceFactory([]() -> Ref<TSndDevice> { return MakeRef<TSndNullDevice>(); });
  auto device = MakeRef<TwinWaveOutDevice>();
  TFiller f;
  auto b = device->CreateBuffer(kOutputWaveFormat);
  b->FirstFill = TWaveOutBuffer::TFillCallback::Bind<&TFiller::First>(&f);
  b->RegularFill = TWaveOutBuffer::TFillCallback::Bind<&TFiller::Regular>(&f);
  const auto t0 = std::chrono::steady_clock::now();
  b->StartThread();
  // The null device's clock is the real one. The position is watched until
  // it is past what one fill holds (so the thread must have refilled), with
  // a deadline generous for a loaded machine; it never runs ahead of the
  // time that really passed.
  const auto ms_since = [&] {
    return double(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
  };
  double played = 0, elapsed = 0;
  do {
    SleepMs(10);
    played = double(b->GetPlayedMs());
    elapsed = ms_since();
    EXPECT_LE(played, elapsed + 50);
  } while (played < 2000 && elapsed < 30000);
  EXPECT_GE(played, 2000);
  b = nullptr;  // stops the thread
  EXPECT_GE(f.fills.size(), 2u);
  SetSndDeviceFactory(before);
}

}  // namespace
}  // namespace kav
