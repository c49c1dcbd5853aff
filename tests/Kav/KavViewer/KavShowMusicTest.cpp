#include <gtest/gtest.h>

#include "Kav/KavViewer/KavShowMusic.h"
#include "KavLib2/KavMusic/KavMusicPlayer.h"
#include "tests/KavLib2/KavEngine/EngineStubs.h"

using namespace kav;
using namespace kav::enginetest;

TEST(ShowMusic, EngineFactoryMakesShowMusicAndItKeepsTheStopTime) {
  InstallShowMusic();
  auto source = Source("", 3);
  Ref<TEngineMusic> music = NewEngineMusic(source.get());
  auto* show = dynamic_cast<TShowMusic*>(music.get());
  ASSERT_NE(show, nullptr);
  ASSERT_NE(show->Player(), nullptr);
  music->Start();
  music->SetPlaying(false);
  music->SeekTo(1500, 2500);
  EXPECT_EQ(music->StopTime(), 2500);
  music->SetStopTime(2800);
  EXPECT_EQ(music->StopTime(), 2800);
  music = nullptr;  // stops the music threads
  SetEngineMusicFactory(nullptr);
  EXPECT_NE(dynamic_cast<TSilentShowClock*>(NewEngineMusic(source.get()).get()), nullptr);
}
