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

TEST(MusicPassRelease, APassFreedDuringAHeldRefillIsNotHandedToTheKiller) {
  test::TAudioMedia media;
  const std::string name = media.Level("level.wav", 4.0, 8000);
  test::TAudioRig rig;
  auto player = MakeRef<TMusicPlayerClass>();
  ASSERT_TRUE(player->Init());
  Ref<TChannel> ch = player->CreateChannel(SystemUTF8ToWide(name), TMusicPlayer::kNoPosition);
  ASSERT_TRUE(ch);
  ch->Play(0);
  for (int step = 0; step < 3; ++step) {
    SleepMs(50);
    test::TAudioRig::now_ms += 100;
  }

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

}  // namespace
}  // namespace kav
