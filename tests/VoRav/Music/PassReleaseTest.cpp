// A pass let go by its channel while its refill thread is in the middle of
// a fill (a busy machine: the fade-out of the stop had not been heard when
// the channel gave up waiting for it). The refill ends the fade and finds
// the pass's last reference already gone: the pass must go without being
// handed to the channel killer, which would otherwise hold it past its end.
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

}  // namespace
}  // namespace kav
