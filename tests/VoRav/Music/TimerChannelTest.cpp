// The show clock on the null device, stepped by hand.
#include <gtest/gtest.h>

#include "VoRav/Music/winTimerChannel.h"
#include "VoRav/Music/winWaveOutBuffer.h"
#include "VoRav/vxTime.h"
#include "tests/VoRav/Music/AudioRig.h"

namespace kav {
namespace {

using test::TAudioRig;

// Runs the clock for `ms` in 10 ms polls.
void RunClock(TwinTimerChannel* channel, uint32_t ms) {
  for (uint32_t t = 0; t < ms; t += 10) {
    TAudioRig::now_ms += 10;
    channel->Poll();
  }
}

TEST(TimerChannel, WaitsForTheCursorThenRunsFromTheStoredTime) {
  TAudioRig rig;
  ASSERT_TRUE(rig.device->IsInitialised());
  auto channel = Ref<TwinTimerChannel>::Adopt(static_cast<TwinTimerChannel*>(rig.device->CreateTimerChannel().release()));
  EXPECT_EQ(channel->GetTimeMs(), 0);
  channel->SetTimeMs(3000);
  EXPECT_EQ(channel->GetTimeMs(), 3000);  // stopped: the stored time
  channel->Play();
  EXPECT_TRUE(channel->IsPlaying());
  channel->Poll();  // the cursor has not moved yet
  EXPECT_EQ(channel->GetTimeMs(), 0);
  TAudioRig::now_ms += 10;
  channel->Poll();
  EXPECT_EQ(channel->GetTimeMs(), 3000);
  RunClock(channel.get(), 10000);
  EXPECT_NEAR(double(channel->GetTimeMs()), 13000, 2);
  // Every wrap of the two-second buffer added exactly 2000 ms.
  EXPECT_NEAR(double(channel->CursorTime()), 3000 + 10010, 2);
}

// A playing channel past its first cursor reading, and where the card's
// time and the audio clock stood then.
struct TRunning {
  Ref<TTimerChannel> channel;
  TwinTimerChannel* ch;
  int64_t start;
  uint32_t wall0;
  explicit TRunning(TAudioRig& rig) : channel(rig.device->CreateTimerChannel()) {
    ch = static_cast<TwinTimerChannel*>(channel.get());
    ch->Play();
    RunClock(ch, 20);
    start = ch->GetTimeMs();
    wall0 = TAudioRig::now_ms;
  }
  double Card(double rate) const { return (TAudioRig::now_ms - wall0) * rate + double(start); }
};

TEST(TimerChannel, FollowsTheCardFromEitherSide) {
  for (double rate : {1.02, 0.98}) {
    TAudioRig rig(rate);
    TRunning r(rig);
    int64_t worst = 0;
    for (int step = 0; step < 1000; ++step) {
      const int64_t before = r.ch->GetTimeMs();
      RunClock(r.ch, 10);
      // Pulled by at most 1 ms per poll off the audio clock.
      ASSERT_LE(std::abs(r.ch->GetTimeMs() - before - 10), 1) << rate;
      worst = std::max<int64_t>(worst, int64_t(std::abs(double(r.ch->GetTimeMs()) - r.Card(rate))));
    }
    // After the first second the clock stays with the card.
    EXPECT_LE(std::abs(double(r.ch->GetTimeMs()) - r.Card(rate)), 5) << rate;
    EXPECT_LE(worst, 25) << rate;
  }
}

// Ten minutes of show time with the card 0.1 % off either way: the clock
// ends within a few milliseconds of the card.
TEST(TimerChannel, NoDriftOverTenMinutes) {
  for (double rate : {1.001, 0.999}) {
    TAudioRig rig(rate);
    TRunning r(rig);
    RunClock(r.ch, 600000);
    EXPECT_LE(std::abs(double(r.ch->GetTimeMs()) - r.Card(rate)), 5) << rate;
  }
}

TEST(TimerChannel, StopFreezesAndPlayResumes) {
  TAudioRig rig;
  auto channel = rig.device->CreateTimerChannel();
  auto* ch = static_cast<TwinTimerChannel*>(channel.get());
  ch->Play();
  RunClock(ch, 5010);
  const int64_t at_stop = ch->GetTimeMs();
  ch->Stop();
  EXPECT_FALSE(ch->IsPlaying());
  TAudioRig::now_ms += 7000;
  EXPECT_EQ(ch->GetTimeMs(), at_stop);
  ch->Play();
  RunClock(ch, 10);
  EXPECT_EQ(ch->GetTimeMs(), at_stop);
  RunClock(ch, 3000);
  EXPECT_NEAR(double(ch->GetTimeMs()), double(at_stop) + 3000, 2);
  // The rewound cursor counted no false wrap.
  EXPECT_NEAR(double(ch->CursorTime()), double(at_stop) + 3010, 12);
}

TEST(TimerChannel, SetTimeWhileRunningIsNotPulledBack) {
  TAudioRig rig;
  auto channel = rig.device->CreateTimerChannel();
  auto* ch = static_cast<TwinTimerChannel*>(channel.get());
  ch->Play();
  RunClock(ch, 1510);
  ch->SetTimeMs(5000);
  EXPECT_EQ(ch->GetTimeMs(), 5000);
  RunClock(ch, 2000);
  EXPECT_NEAR(double(ch->GetTimeMs()), 7000, 2);
}

TEST(TimerChannel, LostBufferIsRestoredAndNoDeviceMeansNoChannel) {
  {
    TAudioRig rig;
    auto channel = rig.device->CreateTimerChannel();
    rig.sound->LoseBuffers();
    channel->Play();
    auto* ch = static_cast<TwinTimerChannel*>(channel.get());
    RunClock(ch, 100);
    EXPECT_GT(ch->GetTimeMs(), 50);
  }
  auto before = SetSndDeviceFactory(nullptr);
  auto device = MakeRef<TwinWaveOutDevice>();
  EXPECT_FALSE(device->IsInitialised());
  try {
    device->CreateTimerChannel();
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "SoundBuffer = nil");
  }
  EXPECT_FALSE(device->CreateBuffer(kOutputWaveFormat));
  SetSndDeviceFactory(before);
}

TEST(TimerChannel, PollThreadRunsOnTheRealClock) {
  auto before = SetSndDeviceFactory([]() -> Ref<TSndDevice> { return MakeRef<TSndNullDevice>(); });
  auto device = MakeRef<TwinWaveOutDevice>();
  auto channel = device->CreateTimerChannel();
  channel->Play();
  SleepMs(300);
  const int64_t t = channel->GetTimeMs();
  EXPECT_GT(t, 150);
  EXPECT_LT(t, 1000);
  channel->Stop();
  const int64_t frozen = channel->GetTimeMs();
  SleepMs(50);
  EXPECT_EQ(channel->GetTimeMs(), frozen);
  SetSndDeviceFactory(before);
}

}  // namespace
}  // namespace kav
