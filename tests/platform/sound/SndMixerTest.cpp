// The mixer on the null device: formats, cursors, resampling, volume, loss.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/sound/null/SndNullDevice.h"

namespace kav {
namespace {

struct TClockRig {
  int64_t us = 0;
  Ref<TSndNullDevice> device = MakeRef<TSndNullDevice>([this] { return us; });
  TClockRig() { EXPECT_EQ(device->SetCooperativeLevel(nullptr, kSndCoopPriority), kSndOk); }

  Ref<TSndBuffer> Buffer(const TWaveFormat& format, uint32_t bytes, uint32_t flags = kSndCapsCtrlVolume) {
    TSndBufferDesc desc;
    desc.Flags = flags | kSndCapsGetCurrentPosition2 | kSndCapsGlobalFocus | kSndCapsLocSoftware;
    desc.BufferBytes = bytes;
    desc.Format = &format;
    Ref<TSndBuffer> buffer;
    EXPECT_EQ(device->CreateSoundBuffer(desc, buffer), kSndOk);
    return buffer;
  }
  void Write(TSndBuffer* buffer, const void* data, uint32_t bytes) {
    void *p1, *p2;
    uint32_t n1, n2;
    ASSERT_EQ(buffer->Lock(0, bytes, &p1, &n1, &p2, &n2, 0), kSndOk);
    std::memcpy(p1, data, n1);
    ASSERT_EQ(buffer->Unlock(p1, n1, p2, n2), kSndOk);
  }
  std::vector<int16_t> Run(int64_t ms) {
    device->SetCapture(true);
    us += ms * 1000;
    return device->TakeCapture();
  }
};

TWaveFormat Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = uint16_t(channels * bits / 8);
  return TWaveFormat{kWaveFormatPcm, channels, rate, rate * align, align, bits, 0};
}

TEST(SndDevice, RefusesWhatDirectSoundRefuses) {
  int64_t us = 0;
  auto device = MakeRef<TSndNullDevice>([&] { return us; });
  TWaveFormat f = Pcm(2, 44100, 16);
  TSndBufferDesc desc;
  desc.BufferBytes = 4000;
  desc.Format = &f;
  Ref<TSndBuffer> b;
  EXPECT_EQ(device->CreateSoundBuffer(desc, b), kSndErrPrioLevelNeeded);
  EXPECT_EQ(device->SetCooperativeLevel(nullptr, 0), kSndErrInvalidParam);
  ASSERT_EQ(device->SetCooperativeLevel(nullptr, kSndCoopPriority), kSndOk);
  for (TWaveFormat bad : {Pcm(3, 44100, 16), Pcm(2, 44100, 24), Pcm(1, 50, 16), TWaveFormat{3, 2, 44100, 352800, 8, 32, 0}}) {
    desc.Format = &bad;
    EXPECT_EQ(device->CreateSoundBuffer(desc, b), kSndErrBadFormat);
    EXPECT_FALSE(b);
  }
  desc.Format = &f;
  desc.BufferBytes = 4002;  // not whole frames
  EXPECT_EQ(device->CreateSoundBuffer(desc, b), kSndErrInvalidParam);
  desc.BufferBytes = 4000;
  desc.Flags = kSndCapsPrimary;
  EXPECT_EQ(device->CreateSoundBuffer(desc, b), kSndErrInvalidParam);
  desc.Flags = 0;
  ASSERT_EQ(device->CreateSoundBuffer(desc, b), kSndOk);
  EXPECT_EQ(b->SetVolume(-600), kSndErrControlUnavail);
  void *p1, *p2;
  uint32_t n1, n2;
  EXPECT_EQ(b->Lock(4000, 4, &p1, &n1, &p2, &n2, 0), kSndErrInvalidParam);
  EXPECT_EQ(b->Lock(0, 4004, &p1, &n1, &p2, &n2, 0), kSndErrInvalidParam);
  EXPECT_EQ(b->SetCurrentPosition(4000), kSndErrInvalidParam);
  uint8_t outside[8];
  EXPECT_EQ(b->Unlock(outside, 8, nullptr, 0), kSndErrInvalidParam);
}

TEST(SndDevice, LockGivesTwoRegionsAcrossTheEnd) {
  TClockRig rig;
  auto b = rig.Buffer(Pcm(2, 44100, 16), 4000);
  void *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(b->Lock(3000, 1600, &p1, &n1, &p2, &n2, 0), kSndOk);
  EXPECT_EQ(n1, 1000u);
  EXPECT_EQ(n2, 600u);
  EXPECT_EQ(static_cast<uint8_t*>(p1) - static_cast<uint8_t*>(p2), 3000);
  EXPECT_EQ(b->Unlock(p1, n1, p2, n2), kSndOk);
  ASSERT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, kSndLockEntireBuffer), kSndOk);
  EXPECT_EQ(n1, 4000u);
  EXPECT_EQ(n2, 0u);
  EXPECT_EQ(p2, nullptr);
}

TEST(SndDevice, CursorsFollowTheClockAndWrap) {
  TClockRig rig;
  auto b = rig.Buffer(Pcm(2, 44100, 16), 352800);  // two seconds
  uint32_t play = 1, write = 1;
  rig.us = 500000;
  ASSERT_EQ(b->GetCurrentPosition(&play, &write), kSndOk);
  EXPECT_EQ(play, 0u);  // stopped: the cursor stands
  ASSERT_EQ(b->Play(0, 0, kSndPlayLooping), kSndOk);
  rig.us += 10000;
  b->GetCurrentPosition(&play, &write);
  EXPECT_EQ(play, 1764u);  // 10 ms at 176,400 bytes a second
  EXPECT_EQ(write, play);  // the null device hears at once
  rig.us += 2000000;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 1764u);  // wrapped once
  ASSERT_EQ(b->Stop(), kSndOk);
  rig.us += 1000000;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 1764u);
  ASSERT_EQ(b->SetCurrentPosition(0), kSndOk);
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 0u);
}

TEST(SndDevice, CursorsOfOtherRatesCountTheirOwnBytes) {
  TClockRig rig;
  auto b = rig.Buffer(Pcm(1, 22050, 8), 22050);
  ASSERT_EQ(b->Play(0, 0, kSndPlayLooping), kSndOk);
  rig.us += 100000;
  uint32_t play;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 2205u);
}

TEST(SndDevice, OutputFormatPassesBitExactAndSumsClip) {
  TClockRig rig;
  std::vector<int16_t> samples(4410 * 2);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t((i * 7919) % 65536 - 32768);
  auto a = rig.Buffer(Pcm(2, 44100, 16), 4410 * 4);
  rig.Write(a.get(), samples.data(), 4410 * 4);
  a->Play(0, 0, 0);
  auto out = rig.Run(50);
  ASSERT_EQ(out.size(), 2205u * 2);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), samples.begin()));

  auto b = rig.Buffer(Pcm(2, 44100, 16), 4410 * 4);
  std::vector<int16_t> loud(4410 * 2, 30000);
  rig.Write(b.get(), loud.data(), 4410 * 4);
  b->Play(0, 0, 0);
  out = rig.Run(50);
  for (size_t i = 0; i < out.size(); ++i) {
    const int32_t sum = int32_t(samples[2205 * 2 + i]) + 30000;
    ASSERT_EQ(out[i], std::clamp(sum, -32768, 32767)) << i;
  }
  // The first one ran out: not looping, it stopped at its end; the second
  // plays on alone, then stops too.
  EXPECT_FALSE(a->IsPlaying());
  out = rig.Run(50);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == 30000; }));
  EXPECT_FALSE(b->IsPlaying());
  out = rig.Run(10);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == 0; }));
}

TEST(SndDevice, NarrowMonoAndOtherRatesAreWidenedAndResampled) {
  TClockRig rig;
  // 8-bit mono at 11,025 Hz: a constant level becomes (s - 128) * 256 on both sides.
  auto dc = rig.Buffer(Pcm(1, 11025, 8), 11025);
  std::vector<uint8_t> level(11025, 200);
  rig.Write(dc.get(), level.data(), 11025);
  dc->Play(0, 0, kSndPlayLooping);
  auto out = rig.Run(100);
  ASSERT_EQ(out.size(), 4410u * 2);
  for (int16_t s : out) ASSERT_EQ(s, (200 - 128) * 256);
  dc->Stop();

  // A 1 kHz tone at 22,050 Hz mono comes out as a 1 kHz tone.
  auto tone = rig.Buffer(Pcm(1, 22050, 16), 22050 * 2);
  std::vector<int16_t> wave(22050);
  for (size_t i = 0; i < wave.size(); ++i)
    wave[i] = int16_t(std::lround(16000 * std::sin(2 * std::numbers::pi * 1000 * double(i) / 22050)));
  rig.Write(tone.get(), wave.data(), 22050 * 2);
  tone->Play(0, 0, kSndPlayLooping);
  out = rig.Run(1000);
  double worst = 0;
  for (size_t i = 0; i < 44100; ++i) {
    const double want = 16000 * std::sin(2 * std::numbers::pi * 1000 * double(i) / 44100);
    worst = std::max(worst, std::abs(out[2 * i] - want));
    ASSERT_EQ(out[2 * i], out[2 * i + 1]);
  }
  EXPECT_LT(worst, 16000 * 0.02);  // linear interpolation of 22 points a period
}

TEST(SndDevice, VolumeIsHundredthsOfADecibel) {
  EXPECT_EQ(SndGainQ15(0), 32768);
  EXPECT_EQ(SndGainQ15(-600), std::lround(32768 * std::pow(10.0, -0.3)));
  EXPECT_EQ(SndGainQ15(-10000), 0);
  TClockRig rig;
  auto b = rig.Buffer(Pcm(2, 44100, 16), 4410 * 4);
  std::vector<int16_t> level(4410 * 2, 20000);
  rig.Write(b.get(), level.data(), 4410 * 4);
  EXPECT_EQ(b->SetVolume(1), kSndErrInvalidParam);
  EXPECT_EQ(b->SetVolume(-10001), kSndErrInvalidParam);
  ASSERT_EQ(b->SetVolume(-2000), kSndOk);  // -20 dB: a tenth
  int32_t v = 0;
  b->GetVolume(&v);
  EXPECT_EQ(v, -2000);
  b->Play(0, 0, kSndPlayLooping);
  auto out = rig.Run(10);
  for (int16_t s : out) ASSERT_NEAR(s, 2000, 1);
}

TEST(SndDevice, LostBuffersRefuseUntilRestored) {
  TClockRig rig;
  auto b = rig.Buffer(Pcm(2, 44100, 16), 4000);
  b->Play(0, 0, kSndPlayLooping);
  rig.device->LoseBuffers();
  EXPECT_FALSE(b->IsPlaying());
  EXPECT_EQ(b->Play(0, 0, kSndPlayLooping), kSndErrBufferLost);
  void *p1, *p2;
  uint32_t n1, n2;
  EXPECT_EQ(b->Lock(0, 4, &p1, &n1, &p2, &n2, 0), kSndErrBufferLost);
  EXPECT_EQ(b->Restore(), kSndOk);
  EXPECT_EQ(b->Play(0, 0, kSndPlayLooping), kSndOk);
}

TEST(SndDevice, BackendFactoryIsChosenOnce) {
  auto before = SetSndDeviceFactory(nullptr);
  EXPECT_FALSE(SndCreateDevice());
  TSndNullDevice::Install();
  EXPECT_TRUE(SndCreateDevice());
  SetSndDeviceFactory(before);
}

}  // namespace
}  // namespace kav
