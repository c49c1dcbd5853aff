// A looping channel on the null device with a hand-driven clock: at the end
// of its data it goes on from its loop start in the same buffer, sample for
// sample, also when the first block was decoded before the loop was set.
#include <gtest/gtest.h>

#include "VoRav/Music/MusicPlayer.h"
#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "tests/VoRav/Music/AudioMedia.h"
#include "tests/VoRav/Music/AudioRig.h"

namespace kav {
namespace {

// A stereo WAV of `frames` whose left sample j is j + 1 (so every place is
// known; it wraps after 30,000).
std::string Counter(test::TAudioMedia& media, std::vector<int16_t>& left, uint32_t frames = 13230) {
  std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0};
  auto le = [&b](uint32_t v, int n) {
    for (int k = 0; k < n; ++k) b.push_back(uint8_t(v >> (8 * k)));
  };
  le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  le(frames * 4, 4);
  for (uint32_t j = 0; j < frames; ++j) {
    left.push_back(int16_t(j % 30000 + 1));
    le(j % 30000 + 1, 2), le(0, 2);
  }
  const uint32_t riff = uint32_t(b.size() - 8);
  for (int k = 0; k < 4; ++k) b[4 + size_t(k)] = uint8_t(riff >> (8 * k));
  const std::string path = media.Path("counter" + std::to_string(frames) + ".wav");
  test::WriteFileBytes(path, b);
  return path;
}

// Stops the channel and lets the clock run until the killer released it and
// let the pass go (the pass count drops first; the pass's buffer plays on
// until the killer has freed the pass, and would sound into the next capture).
void Release(Ref<TChannel>& ch) {
  auto* music = static_cast<TChannelMusic*>(ch.get());
  ch->Stop(10);
  for (int i = 0; i < 500 && (music->PassCount() > 0 || ChannelKillerPending() > 0); ++i) {
    test::TAudioRig::now_ms += 100;
    SleepMs(10);
  }
  EXPECT_EQ(music->PassCount(), 0);
  ch = nullptr;
}

TEST(ChannelLoop, TheDataGoesOnFromTheLoopStartSampleForSample) {
  test::TAudioMedia media;
  std::vector<int16_t> file;
  const std::string name = Counter(media, file);
  test::TAudioRig rig;
  rig.sound->SetCapture(true);
  auto player = MakeRef<TMusicPlayerClass>();
  ASSERT_TRUE(player->Init());
  // Looping from the start, set before the channel is positioned.
  Ref<TChannel> ch = player->CreateChannel(SystemUTF8ToWide(name), TMusicPlayer::kNoPosition);
  ASSERT_TRUE(ch);
  ch->SetLoop(0);
  ch->Play(0);  // one step of fade: full gain from the first frame
  test::TAudioRig::now_ms += 1000;
  auto out = rig.sound->TakeCapture();
  ASSERT_EQ(out.size(), 44100u * 2);
  for (size_t j = 0; j < 44100; ++j) ASSERT_EQ(out[2 * j], file[j % file.size()]) << j;
  // The position lies within the loop: 1000 ms is 100 ms into the fourth
  // pass (the buffer reads its cursor on its next refill).
  int64_t position = 0;
  for (int i = 0; i < 500 && position == 0; ++i) {
    SleepMs(10);
    position = ch->GetPosition();
  }
  EXPECT_NEAR(double(position), 100, 15);
  Release(ch);

  // Positioned at 200 ms first (its first block then ends with the data),
  // looping from 50 ms afterwards: the block goes on from there.
  ch = player->CreateChannel(SystemUTF8ToWide(name), 200);
  ASSERT_TRUE(ch);
  ch->SetLoop(50);
  rig.sound->TakeCapture();
  ch->Play(0);
  test::TAudioRig::now_ms += 1000;
  out = rig.sound->TakeCapture();
  ASSERT_EQ(out.size(), 44100u * 2);
  const size_t from = 8820, loop_from = 2205, n = file.size();
  for (size_t j = 0; j < 44100; ++j) {
    const size_t k = from + j < n ? from + j : loop_from + (from + j - n) % (n - loop_from);
    ASSERT_EQ(out[2 * j], file[k]) << j;
  }
  Release(ch);

  // Data that ends exactly where the first block does (1.5 s): the next
  // fill finds none left and goes on from the loop start.
  std::vector<int16_t> block;
  const std::string exact = Counter(media, block, 66150);
  ch = player->CreateChannel(SystemUTF8ToWide(exact), TMusicPlayer::kNoPosition);
  ASSERT_TRUE(ch);
  ch->SetLoop(0);
  rig.sound->TakeCapture();
  ch->Play(0);
  // In steps, so that the refill thread keeps the ring ahead (it holds
  // 1.5 s).
  for (int step = 0; step < 25; ++step) {
    SleepMs(100);
    test::TAudioRig::now_ms += 100;
  }
  out = rig.sound->TakeCapture();
  ASSERT_EQ(out.size(), 110250u * 2);
  for (size_t j = 0; j < 110250; ++j) ASSERT_EQ(out[2 * j], block[j % block.size()]) << j;
  Release(ch);
  player = nullptr;
}

}  // namespace
}  // namespace kav
