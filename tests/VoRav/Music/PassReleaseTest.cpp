// A pass stopped while its buffer is busy (a busy machine): its refill
// thread in the middle of a fill, or the sound device mixing while the stop
// prepares its fade. The stop must still fade where it was asked for, along
// its samples, and the pass go soon after, without being handed to the
// channel killer once its last reference is gone.
#include <gtest/gtest.h>

#include <thread>

#include "VoRav/Music/MusicPlayer.h"
#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "tests/VoRav/LogCapture.h"
#include "tests/VoRav/Music/AudioMedia.h"
#include "tests/VoRav/Music/AudioRig.h"

namespace kav {
namespace {

// A level file playing on the rig's null device, 300 ms in (a refill or
// more each 100 ms). Members go in reverse order: the channel, the player,
// then the rig.
class MusicPassRelease : public ::testing::Test {
 protected:
  void PlayLevel(double seconds) {
    const std::string name = media.Level("level.wav", seconds, 8000);
    player = MakeRef<TMusicPlayerClass>();
    ASSERT_TRUE(player->Init());
    ch = player->CreateChannel(SystemUTF8ToWide(name), TMusicPlayer::kNoPosition);
    ASSERT_TRUE(ch);
    ch->Play(0);
    for (int step = 0; step < 3; ++step) {
      test::TAudioRig::now_ms += 100;
      SleepMs(150);  // the refill thread looks every 100 ms
    }
  }
  test::TAudioMedia media;
  test::TAudioRig rig;
  Ref<TMusicPlayerClass> player;
  Ref<TChannel> ch;
};

TEST_F(MusicPassRelease, APassFreedDuringAHeldRefillIsNotHandedToTheKiller) {
  ASSERT_NO_FATAL_FAILURE(PlayLevel(4.0));

  // The refill thread stops at its next look at the cursors, holding its
  // ring; the release below stops the pass (its fade-out is due in that
  // refill), waits for it in vain and then lets the pass go, whose buffer
  // waits for the refill to end.
  test::TLogCapture log;
  test::TAudioRig::holder = std::this_thread::get_id();
  test::TAudioRig::hold_device_clock = true;
  std::thread opener([&log] {
    for (int i = 0; i < 3000; ++i) {
      bool given_up = false;
      for (const std::u16string& line : log.Lines())
        given_up |= line.find(u"passes still fading at release") != std::u16string::npos;
      if (given_up) break;
      SleepMs(10);
    }
    SleepMs(300);  // into the pass's end, which waits for the held refill
    test::TAudioRig::hold_device_clock = false;
  });
  ch = nullptr;
  opener.join();

  // Nothing is left with the killer: the freed pass was not given to it.
  for (int i = 0; i < 300 && ChannelKillerPending() > 0; ++i) {
    test::TAudioRig::now_ms += 100;
    SleepMs(10);
  }
  EXPECT_EQ(ChannelKillerPending(), 0);
  player = nullptr;
}

// A stop asked for while the refill thread is in the middle of a pass (it
// holds the ring, and will write the newest block, two seconds ahead of the
// cursor, as soon as it goes on). The fade must begin where the stop's
// restart begins, just past the cursor, so that the pass is heard to stop
// and is let go within a few tens of milliseconds; begun in that newest
// block, the whole ring played on before it and the pass stayed two
// seconds, holding its file.
TEST_F(MusicPassRelease, AStopDuringARefillFadesAtTheCursorAndGoesSoon) {
  ASSERT_NO_FATAL_FAILURE(PlayLevel(8.0));
  auto* music = dynamic_cast<TChannelMusic*>(ch.get());
  ASSERT_TRUE(music);

  // The refill thread stops at its next look at the cursors, holding the
  // ring; the cursor moves on meanwhile, so that it has a block to write.
  test::TAudioRig::holder = std::this_thread::get_id();
  test::TAudioRig::hold_device_clock = true;
  SleepMs(250);
  test::TAudioRig::now_ms += 100;
  std::thread stopper([this] { ch->Stop(10); });
  SleepMs(100);  // the stop waits for the ring
  test::TAudioRig::hold_device_clock = false;
  stopper.join();

  for (int i = 0; i < 5 && music->PassCount() > 0; ++i) {
    test::TAudioRig::now_ms += 100;
    SleepMs(50);
  }
  EXPECT_EQ(music->PassCount(), 0) << "the stopped pass was still there 500 ms after its stop";
  ch = nullptr;
  player = nullptr;
}

// A capture that begins at `level` and goes down along a fade: the level
// until the fade (within 40 ms), then down by at most one fade step a sample
// (10 ms: 441 of them) to silence, which lasts: no silence in between, no
// jump back up.
void ExpectAFadeFromTheLevel(const std::vector<int16_t>& out, int level) {
  ASSERT_GT(out.size(), 2u * 4410);
  size_t fade = 0;
  while (fade < out.size() && out[fade] == level) fade += 2;
  ASSERT_GT(fade, 0u) << "the capture began below the level";
  ASSERT_LT(fade, out.size()) << "the stop was never heard";
  EXPECT_LT(fade / 2, 44100u * 40 / 1000) << "the fade began " << fade / 2 << " frames after the stop";
  const int step = level / 441 + 2;
  size_t silent = fade;
  while (silent < out.size() && out[silent] != 0) silent += 2;
  for (size_t i = fade; i < out.size(); i += 2) {
    const int before = out[i - 2];
    ASSERT_LE(out[i], before) << "the level rose again " << (i - fade) / 2 << " frames into the fade";
    ASSERT_LE(before - out[i], step) << "a step of " << before - out[i] << " " << (i - fade) / 2
                                     << " frames into the fade (silence at " << (silent - fade) / 2 << ")";
  }
  EXPECT_LE((silent - fade) / 2, 441u + 2);
}

std::atomic<std::thread::id> g_stopper{};
std::atomic<int> g_stopper_calls{0};

// The device mixes 12 ms (a sound card's callback) at the third device call
// of the stopping thread: the stop has read the cursors and taken the queued
// audio, and its fade is being made.
void MixAtTheStopsThirdCall() {
  if (std::this_thread::get_id() == g_stopper.load() && ++g_stopper_calls == 3) test::TAudioRig::now_ms += 12;
}

TEST_F(MusicPassRelease, AStopFadesAlongItsSamplesWhenTheDeviceMixesWhileItIsMade) {
  constexpr int kLevel = 8000;
  ASSERT_NO_FATAL_FAILURE(PlayLevel(8.0));
  rig.sound->SetCapture(true);
  g_stopper = std::this_thread::get_id();
  g_stopper_calls = 0;
  test::TAudioRig::clock_read = &MixAtTheStopsThirdCall;
  ch->Stop(10);
  test::TAudioRig::clock_read = nullptr;
  ASSERT_GE(g_stopper_calls.load(), 3);
  test::TAudioRig::now_ms += 100;
  rig.sound->Advance();
  ExpectAFadeFromTheLevel(rig.sound->TakeCapture(), kLevel);
  ch = nullptr;
  player = nullptr;
}

// The sound card's thread waits for a core (a loaded machine) as the stop
// comes, and mixes nothing while the clock goes on well past the stop's
// deadline. The pass must stay until the device has mixed its fade-out:
// let go on the clock alone, it was gone before the device got to the fade,
// and the sound went from its level to silence between two samples.
TEST_F(MusicPassRelease, APassGoesOnlyOnceTheDeviceHasMixedItsFade) {
  constexpr int kLevel = 8000;
  ASSERT_NO_FATAL_FAILURE(PlayLevel(8.0));
  auto* music = dynamic_cast<TChannelMusic*>(ch.get());
  ASSERT_TRUE(music);
  rig.sound->SetCapture(true);
  test::TAudioRig::now_ms += 20;
  rig.sound->Advance();
  rig.StallDevice();
  ch->Stop(10);
  // The killer looks every 10 ms; the deadline (some 40 ms) passes five times over.
  for (int i = 0; i < 20; ++i) {
    test::TAudioRig::now_ms += 10;
    SleepMs(15);
  }
  EXPECT_EQ(music->PassCount(), 1) << "the pass went while the device had not mixed its fade";
  rig.ResumeDevice();
  rig.sound->Advance();
  ExpectAFadeFromTheLevel(rig.sound->TakeCapture(), kLevel);
  // Once mixed, it goes.
  for (int i = 0; i < 100 && music->PassCount() > 0; ++i) {
    test::TAudioRig::now_ms += 10;
    SleepMs(10);
  }
  EXPECT_EQ(music->PassCount(), 0);
  ch = nullptr;
  player = nullptr;
}

std::atomic<int> g_other_reads{0};
void CountOtherReads() {
  if (std::this_thread::get_id() != g_stopper.load()) ++g_other_reads;
}

// A pass stopped soon after it started, its refill thread not yet run (a
// thread waiting for a core): the device has played its first block (1.5 s)
// to within 3 ms of its end, less than the 5 ms a restart keeps past what
// the device has mixed. The stop must fade what is queued and carry the
// fade on right behind it: left as it was, the queued audio ran at its
// level into the silence behind the first block, a cut.
TEST_F(MusicPassRelease, AStopWithLessQueuedThanTheMarginFadesWhatIsQueued) {
  constexpr int kLevel = 8000;
  const std::string name = media.Level("level.wav", 4.0, kLevel);
  player = MakeRef<TMusicPlayerClass>();
  ASSERT_TRUE(player->Init());
  g_stopper = std::this_thread::get_id();
  // Everything between the start and the stop takes well under a
  // millisecond, while the refill thread first looks 100 ms after the
  // start; a run in which it looked all the same (this thread held up that
  // long) is made again.
  bool alone = false;
  for (int run = 0; run < 5 && !alone; ++run) {
    ch = player->CreateChannel(SystemUTF8ToWide(name), TMusicPlayer::kNoPosition);
    ASSERT_TRUE(ch);
    g_other_reads = 0;
    test::TAudioRig::clock_read = &CountOtherReads;
    ch->Play(0);
    test::TAudioRig::now_ms += 1470;
    rig.sound->SetCapture(true);
    test::TAudioRig::now_ms += 27;
    ch->Stop(10);
    alone = g_other_reads.load() == 0;
    test::TAudioRig::clock_read = nullptr;
    test::TAudioRig::now_ms += 100;
    const std::vector<int16_t> out = rig.sound->TakeCapture();
    rig.sound->SetCapture(false);
    if (alone) ExpectAFadeFromTheLevel(out, kLevel);
    auto* music = dynamic_cast<TChannelMusic*>(ch.get());
    for (int i = 0; i < 100 && music && music->PassCount() > 0; ++i) {
      test::TAudioRig::now_ms += 10;
      SleepMs(10);
    }
    ch = nullptr;
  }
  EXPECT_TRUE(alone) << "the refill thread ran between the start and the stop in every run";
  player = nullptr;
}

}  // namespace
}  // namespace kav
