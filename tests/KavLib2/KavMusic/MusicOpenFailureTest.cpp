// Sounds of a show that cannot play (a missing file, a damaged one) are
// reported in the log once each, with the file's name and why, on the real
// player over the null sound device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "KavLib2/KavMusic/KavMusicPlayer.h"
#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "platform/sound/null/SndNullDevice.h"
#include "tests/KavLib2/KavMusic/MusicTestShow.h"
#include "tests/VoRav/LogCapture.h"

namespace kav {
namespace {

size_t LinesNaming(const std::vector<std::u16string>& lines, const std::u16string& name, std::u16string* line) {
  size_t n = 0;
  for (const auto& l : lines)
    if (l.find(name) != std::u16string::npos && l.find(u"Channel Create ERROR") != std::u16string::npos) {
      ++n;
      *line = l;
    }
  return n;
}

TEST(MusicOpenFailure, AMissingAndADamagedSoundAreEachLoggedOnceWithWhy) {
  auto before = SetSndDeviceFactory([]() -> Ref<TSndDevice> { return MakeRef<TSndNullDevice>(); });
  const auto dir = std::filesystem::temp_directory_path() / ("kav_music_fail_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string damaged = (dir / "damaged.mp3").string();
  {
    std::ofstream f(damaged, std::ios::binary);
    f << std::string("\x13\x27 this is not a sound \x01\x02\x03 at all, only some bytes", 50);
  }
  const std::u16string missing_name = UTF8Decode((dir / "missing.wav").string());
  const std::u16string damaged_name = UTF8Decode(damaged);
  test::TLogCapture log;
  {
    auto source = test::ShowSource("[Main]\n[Times]\nopt_slidescount=2\nopt_synchpos1=3000\nopt_synchpos2=6000\n");
    auto player = MakeRef<TKavMusicPlayer>(source.get(), false);
    player->Music()->Slide(0).Comment = missing_name;
    player->Music()->Slide(0).CommentLength = 2000;
    player->Music()->Slide(1).Comment = damaged_name;
    player->Music()->Slide(1).CommentLength = 2000;
    player->StartThreads();
    player->SeekTo(0, -1);
    player->SetActive(true);
    player->SetStopTime(2147483647.0);
    // Wait (generously) for both reports; then a little longer for any
    // second one.
    std::u16string line;
    for (int i = 0; i < 2000; ++i) {
      const auto lines = log.Lines();
      if (LinesNaming(lines, missing_name, &line) && LinesNaming(lines, damaged_name, &line)) break;
      SleepMs(5);
    }
    SleepMs(300);
    player->StopThreads();
    player = nullptr;
  }
  const auto lines = log.Lines();
  std::u16string line;
  EXPECT_EQ(LinesNaming(lines, missing_name, &line), 1u);
  EXPECT_NE(line.find(u"not found"), std::u16string::npos) << UTF8Encode(line);
  EXPECT_EQ(LinesNaming(lines, damaged_name, &line), 1u);
  EXPECT_NE(line.find(u"damaged"), std::u16string::npos) << UTF8Encode(line);
  // No other failure line names either file (the trace lines of the
  // channel's arrival do).
  size_t failures = 0;
  for (const auto& l : lines)
    if (l.find(missing_name) != std::u16string::npos || l.find(damaged_name) != std::u16string::npos)
      failures += l.find(u"ERROR") != std::u16string::npos || l.find(u"not ") != std::u16string::npos;
  EXPECT_EQ(failures, 2u);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  SetSndDeviceFactory(before);
}

}  // namespace
}  // namespace kav
