// What the music player schedules, seen through an audio player of the
// test's own: its clock is set by the test, its channels only record what
// was made, started and stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "KavLib2/KavMusic/KavMusicPlayer.h"
#include "VoRav/vxTime.h"
#include "tests/KavLib2/KavMusic/MusicTestShow.h"

namespace kav {
namespace {

struct TCall {
  char Kind;  // 'C' created, 'P' played, 'S' stopped, 'L' set to loop (from Position), 'T' set to Position
  int32_t Channel;
  uint32_t Position;
  double Clock;
  std::u16string Name;  // of the file, for 'C'
};

std::mutex g_lock;
std::vector<TCall> g_calls;
std::atomic<double> g_clock{0};
std::atomic<int32_t> g_channels{0};

void Record(char kind, int32_t channel, uint32_t position, const std::u16string& name = {}) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_calls.push_back({kind, channel, position, g_clock.load(), name});
}

std::vector<TCall> Calls(char kind) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::vector<TCall> out;
  for (const TCall& c : g_calls)
    if (c.Kind == kind) out.push_back(c);
  return out;
}

class TFakeChannel : public TChannel {
 public:
  TFakeChannel(TMusicPlayer* player, const std::u16string& name, uint32_t position)
      : player_(player), id_(g_channels.fetch_add(1)) {
    Record('C', id_, position, name);
  }
  TMusicPlayer* GetPlayer() override { return player_; }
  std::u16string GetFileName() override { return u"fake"; }
  float GetVolume() override { return 1; }
  void SetVolume(float) override {}
  uint32_t GetDuration() override { return 600000; }
  int64_t GetPosition() override { return 0; }
  void SetPosition(uint32_t ms) override { Record('T', id_, ms); }
  float GetMasterVolume() override { return 1; }
  void SetMasterVolume(float) override {}
  bool Play(uint32_t) override {
    Record('P', id_, 0);
    playing_ = true;
    return true;
  }
  bool Stop(uint32_t) override {
    if (playing_) Record('S', id_, 0);
    playing_ = false;
    return true;
  }
  bool IsPlaying() override { return playing_; }
  void SetLoop(uint32_t from_ms) override { Record('L', id_, from_ms); }

 private:
  TMusicPlayer* player_;
  int32_t id_;
  std::atomic<bool> playing_{false};
};

class TFakeAudio : public TMusicPlayer {
 public:
  bool Init() override { return true; }
  float GetVolume() override { return 1; }
  void SetVolume(float) override {}
  void SetCloseStreamHandler(TMusicCloseHandler) override {}
  void SetOpenStreamHandler(TMusicOpenHandler) override {}
  TMusicOpenHandler GetOpenStreamHandler() override { return {}; }
  TMusicCloseHandler GetCloseStreamHandler() override { return {}; }
  double GetClockTime() override { return g_clock.load(); }
  // "missing" does not open.
  Ref<TChannel> CreateChannel(const std::u16string& name, uint32_t start_ms) override {
    if (name == u"missing") return nullptr;
    return MakeRef<TFakeChannel>(this, name, start_ms);
  }
  TWaveOutDevice* Device() override { return nullptr; }
  void RemoveChannel(TChannel*) override {}
};

Ref<TMusicPlayer> FakeAudio() { return MakeRef<TFakeAudio>(); }

// Waits (up to 5 s of real time) until `count` calls of a kind exist.
bool WaitCalls(char kind, size_t count) {
  for (int i = 0; i < 1000; ++i) {
    if (Calls(kind).size() >= count) return true;
    SleepMs(5);
  }
  return false;
}

class MusicSchedule : public ::testing::Test {
 protected:
  void SetUp() override {
    before_ = SetMusicPlayerFactory(&FakeAudio);
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls.clear();
    g_clock.store(10000);
  }
  void TearDown() override {
    if (player_) player_->StopThreads();
    player_ = nullptr;
    SetMusicPlayerFactory(before_);
  }
  // Seeks and runs the show from `position` at the clock's current time.
  void RunFrom(double position) {
    player_->SeekTo(position, -1);
    player_->SetActive(true);
    // A sent event returns once handled, so the clock runs from here on.
    player_->SetStopTime(2147483647.0);
  }
  // Lets the player take a few steps at the present clock.
  static void Settle() { SleepMs(60); }
  void PlayFreeTuneOnceToOneSecond();

  TMusicPlayerFactory before_ = nullptr;
  Ref<TKavSource> source_;
  Ref<TKavMusicPlayer> player_;
};

constexpr const char* kThreeSlides = "[Times]\nopt_slidescount=3\nopt_synchpos1=3000\nopt_synchpos2=6000\n";

// A project whose music is one track of one item, a.mp3 for `ms`, with the
// lines of [Main] given, over three slides.
std::string OneTuneShow(int ms, const std::string& main) {
  return "object Music:TMusic\nobject T:TMusicTrack\nobject A:TMusicItem\nFileName=a.mp3\nDuration=" +
         std::to_string(ms) + "\nend\nend\nend\n[Main]\n" + main + kThreeSlides;
}

TEST_F(MusicSchedule, ASlidesOwnPlayListStartsWithTheSlideAndASeekEntersItAtTheOffset) {
  auto source = test::ShowSource(std::string("[Main]\nopt_syncmode=1\nopt_repeat=stop\n") + kThreeSlides);
  player_ = MakeRef<TKavMusicPlayer>(source.get(), false);
  // Slide 2 (3000 to 6000): A for 2000 ms, then B from 500 ms into its file.
  TPlayList& list = player_->Music()->Slide(1).PlayList;
  list.Entries = {{u"A", 0, 0, 2000}, {u"B", 2000, 500, 3000}};
  list.Length = 5000;
  player_->StartThreads();
  RunFrom(0);
  ASSERT_TRUE(WaitCalls('C', 1));
  EXPECT_EQ(Calls('C')[0].Position, 0u);
  g_clock.store(12900);  // show time 2900
  ASSERT_TRUE(WaitCalls('C', 2));
  EXPECT_EQ(Calls('C')[1].Position, 500u);
  Settle();
  EXPECT_TRUE(Calls('P').empty());  // nothing before the slide
  g_clock.store(13000);
  ASSERT_TRUE(WaitCalls('P', 1));
  EXPECT_EQ(Calls('P')[0].Channel, Calls('C')[0].Channel);
  g_clock.store(14900);
  Settle();
  EXPECT_EQ(Calls('P').size(), 1u);
  g_clock.store(15000);  // A ends, B begins
  ASSERT_TRUE(WaitCalls('P', 2));
  EXPECT_EQ(Calls('P')[1].Channel, Calls('C')[1].Channel);
  ASSERT_TRUE(WaitCalls('S', 1));
  EXPECT_EQ(Calls('S')[0].Channel, Calls('C')[0].Channel);

  // Into the slide at 4500: A from 1500 ms into it, at once.
  RunFrom(4500);
  ASSERT_TRUE(WaitCalls('C', 4));
  const auto made = Calls('C');
  EXPECT_EQ(made[2].Position, 1500u);
  EXPECT_EQ(made[3].Position, 500u);
  ASSERT_TRUE(WaitCalls('P', 3));
  EXPECT_EQ(Calls('P')[2].Channel, made[2].Channel);
  // Past the slide's list nothing of it is made.
  RunFrom(8500);
  Settle();
  EXPECT_EQ(Calls('C').size(), 4u);
}

TEST_F(MusicSchedule, UnsynchronisedMusicKeepsToTheClockThroughSeeks) {
  auto source = test::ShowSource(
      OneTuneShow(4000, "opt_syncmode=0\n"));
  player_ = MakeRef<TKavMusicPlayer>(source.get(), false);
  ASSERT_TRUE(player_->Music()->PlayList().Repeat);
  player_->StartThreads();
  RunFrom(0);
  // One channel, set to loop from the track's start, plays at once: it
  // plays every repetition of the track.
  ASSERT_TRUE(WaitCalls('P', 1));
  ASSERT_TRUE(WaitCalls('L', 1));
  const auto made = Calls('C');
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].Position, 0u);
  EXPECT_EQ(Calls('L')[0].Channel, made[0].Channel);
  EXPECT_EQ(Calls('L')[0].Position, 0u);
  EXPECT_EQ(Calls('P')[0].Channel, made[0].Channel);
  g_clock.store(13000);
  Settle();
  // Back to 1000 and on: the music goes on as it was, nothing restarts.
  RunFrom(1000);
  Settle();
  // Past the first and the second repetition's end (4000 and 8000 ms of
  // clock after it began): nothing is made, started or stopped.
  g_clock.store(14100);
  Settle();
  g_clock.store(18100);
  Settle();
  EXPECT_EQ(Calls('C').size(), 1u);
  EXPECT_EQ(Calls('P').size(), 1u);
  EXPECT_TRUE(Calls('S').empty());
}

TEST_F(MusicSchedule, ASynchronisedTrackOfARepeatingShowLoopsAsOneChannel) {
  // The track lasts 4000 ms and repeats with the show (of 9000 ms).
  auto source = test::ShowSource(
      OneTuneShow(4000, "opt_syncmode=1\n") + "opt_synchpos3=9000\n");
  player_ = MakeRef<TKavMusicPlayer>(source.get(), false);
  ASSERT_EQ(source->RepeatMode(), 0);
  ASSERT_TRUE(player_->Music()->PlayList().LoopsAsOne());
  player_->StartThreads();
  RunFrom(0);
  ASSERT_TRUE(WaitCalls('P', 1));
  Settle();
  // (The first schedule, made before the seek to 0, may have made one too.)
  const size_t c0 = Calls('C').size(), l0 = Calls('L').size(), s0 = Calls('S').size();
  // Into the third repetition (8000..12000) at 9500: one channel, 1500 ms
  // into the track, looping from its start, playing at once.
  RunFrom(9500);
  ASSERT_TRUE(WaitCalls('C', c0 + 1));
  ASSERT_TRUE(WaitCalls('L', l0 + 1));
  ASSERT_TRUE(WaitCalls('S', s0 + 1));  // the one of the first repetition
  Settle();
  const auto made = Calls('C');
  ASSERT_EQ(made.size(), c0 + 1);
  const TCall loop = made.back();
  EXPECT_EQ(loop.Position, 1500u);
  EXPECT_EQ(Calls('L').back().Channel, loop.Channel);
  EXPECT_EQ(Calls('L').back().Position, 0u);
  const auto played = Calls('P');
  ASSERT_FALSE(played.empty());
  EXPECT_EQ(played.back().Channel, loop.Channel);
  // Across the next two repetition starts (show times 12000 and 16000)
  // nothing is made, started or stopped.
  const size_t p1 = played.size(), s1 = Calls('S').size();
  g_clock.store(10000 + 3000);
  Settle();
  g_clock.store(10000 + 7000);
  Settle();
  EXPECT_EQ(Calls('C').size(), c0 + 1);
  EXPECT_EQ(Calls('P').size(), p1);
  EXPECT_EQ(Calls('S').size(), s1);
}

TEST_F(MusicSchedule, ASoundThatDoesNotOpenDoesNotHoldTheShow) {
  // Slide 1's comment does not open, slide 2's does: the music is ready (so
  // the clock may start) and the other comment still plays.
  auto source = test::ShowSource(kThreeSlides);
  player_ = MakeRef<TKavMusicPlayer>(source.get(), false);
  player_->Music()->Slide(0).Comment = u"missing";
  player_->Music()->Slide(0).CommentLength = 2000;
  player_->Music()->Slide(1).Comment = u"C2";
  player_->Music()->Slide(1).CommentLength = 1000;
  player_->StartThreads();
  player_->SeekTo(0, -1);
  bool ready = false;
  for (int i = 0; i < 1000 && !ready; ++i) {
    SleepMs(5);
    ready = player_->IsMusicReady();
  }
  EXPECT_TRUE(ready);
  player_->SetActive(true);
  player_->SetStopTime(2147483647.0);  // sent: the clock runs once it returns
  g_clock.store(13000);  // show time 3000
  ASSERT_TRUE(WaitCalls('P', 1));
  const auto made = Calls('C');
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].Name, u"C2");
  EXPECT_EQ(Calls('P')[0].Channel, made[0].Channel);
}

TEST_F(MusicSchedule, TheFirstPassPicksUpCommentsStillSoundingFromTheCycleBefore) {
  // A looping show of 9 s: slide 1's comment lasts 2 s, slide 3's runs 5 s,
  // on into the next cycle's first slide. Slide 2 has a play list of 7 s.
  auto source = test::ShowSource(std::string(kThreeSlides) + "opt_synchpos3=9000\n");
  player_ = MakeRef<TKavMusicPlayer>(source.get(), false);
  ASSERT_EQ(source->RepeatMode(), 0);
  player_->Music()->Slide(0).Comment = u"C1";
  player_->Music()->Slide(0).CommentLength = 2000;
  player_->Music()->Slide(2).Comment = u"C3";
  player_->Music()->Slide(2).CommentLength = 5000;
  TPlayList& list = player_->Music()->Slide(1).PlayList;
  list.Entries = {{u"P2", 0, 0, 7000}};
  list.Length = 7000;
  list.Repeat = false;
  player_->StartThreads();

  // A fresh show looks back no further than its first slide: the last
  // slide's comment, taken one cycle back, would still sound at 1000.
  RunFrom(1000);
  ASSERT_TRUE(WaitCalls('C', 2));
  Settle();
  auto made = Calls('C');
  ASSERT_EQ(made.size(), 2u);
  std::sort(made.begin(), made.end(), [](const TCall& a, const TCall& b) { return a.Name < b.Name; });
  EXPECT_EQ(made[0].Name, u"C1");
  EXPECT_EQ(made[0].Position, 1000u);
  EXPECT_EQ(made[1].Name, u"P2");
  EXPECT_EQ(made[1].Position, 0u);

  // Into the second cycle at 9500 (clock 10000): the last slide's comment of
  // the first cycle began at 6000 and sounds until 11000, so it is made
  // 3500 ms into its file; the first slide's comment of this cycle 500 ms in.
  // The play list looked back at (3000 to 10000) is not entered; the one of
  // this cycle (from 12000) is made ahead.
  RunFrom(9500);
  ASSERT_TRUE(WaitCalls('C', 5));
  Settle();
  made = Calls('C');
  ASSERT_EQ(made.size(), 5u);
  made.erase(made.begin(), made.begin() + 2);
  std::sort(made.begin(), made.end(), [](const TCall& a, const TCall& b) { return a.Name < b.Name; });
  const TCall* c1 = &made[0];
  const TCall* c3 = &made[1];
  EXPECT_EQ(c1->Name, u"C1");
  EXPECT_EQ(c1->Position, 500u);
  EXPECT_EQ(c3->Name, u"C3");
  EXPECT_EQ(c3->Position, 3500u);
  EXPECT_EQ(made[2].Name, u"P2");
  EXPECT_EQ(made[2].Position, 0u);
  // Both sound at once, and the carried-over one ends at 11000 (clock 11500).
  ASSERT_TRUE(WaitCalls('P', 3));
  std::vector<int32_t> played;
  for (const TCall& p : Calls('P')) played.push_back(p.Channel);
  EXPECT_NE(std::find(played.begin(), played.end(), c3->Channel), played.end());
  EXPECT_NE(std::find(played.begin(), played.end(), c1->Channel), played.end());
  g_clock.store(11400);
  Settle();
  for (const TCall& st : Calls('S')) EXPECT_NE(st.Channel, c3->Channel);
  g_clock.store(11500);
  for (int i = 0; i < 1000; ++i) {
    const auto stops = Calls('S');
    if (std::any_of(stops.begin(), stops.end(), [&](const TCall& st) { return st.Channel == c3->Channel; })) break;
    SleepMs(5);
  }
  const auto stops = Calls('S');
  EXPECT_TRUE(std::any_of(stops.begin(), stops.end(), [&](const TCall& st) { return st.Channel == c3->Channel; }));
}

// The calls of a kind for the channels whose name (a file, or a composite
// description of the track) holds `name`, in order.
std::vector<TCall> CallsFor(char kind, const std::u16string& name) {
  std::vector<int32_t> ids;
  for (const TCall& c : Calls('C'))
    if (c.Name.find(name) != std::u16string::npos) ids.push_back(c.Channel);
  std::vector<TCall> out;
  for (const TCall& c : Calls(kind))
    if (std::find(ids.begin(), ids.end(), c.Channel) != ids.end()) out.push_back(c);
  return out;
}

TEST_F(MusicSchedule, APauseSilencesMusicAndCommentAndTheResumeGoesOnFromTheShowTime) {
  // The track plays 9 s in step with the show; slide 1 has a comment of 2.5 s.
  auto source = test::ShowSource(
      OneTuneShow(9000, "opt_syncmode=1\nopt_repeat=stop\n"));
  player_ = MakeRef<TKavMusicPlayer>(source.get(), false);
  player_->Music()->Slide(0).Comment = u"c.wav";
  player_->Music()->Slide(0).CommentLength = 2500;
  player_->StartThreads();
  RunFrom(0);
  ASSERT_TRUE(WaitCalls('P', 2));
  g_clock.store(11000);  // show time 1000
  Settle();
  player_->SetActive(false);
  // Both stop at once, and both are made again from where the show stands.
  const size_t made_before = Calls('C').size();
  ASSERT_TRUE(WaitCalls('S', 2));
  ASSERT_TRUE(WaitCalls('C', made_before + 2));
  EXPECT_EQ(player_->GetTime(), 1000);
  for (const std::u16string name : {u"a.mp3", u"c.wav"}) {
    EXPECT_EQ(CallsFor('C', name).back().Position, 1000u);
    EXPECT_EQ(CallsFor('S', name).size(), 1u);
  }
  // Nothing sounds while paused, however long.
  g_clock.store(21000);
  Settle();
  EXPECT_EQ(Calls('P').size(), 2u);
  EXPECT_EQ(player_->GetTime(), 1000);
  // The resume starts the new channels at once, from the show's time.
  player_->SetActive(true);
  ASSERT_TRUE(WaitCalls('P', 4));
  for (const std::u16string name : {u"a.mp3", u"c.wav"}) {
    const auto played = CallsFor('P', name);
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[1].Channel, CallsFor('C', name).back().Channel);
    EXPECT_EQ(played[1].Clock, 21000);
  }
  g_clock.store(22000);
  Settle();
  EXPECT_EQ(player_->GetTime(), 2000);
  // The comment ends where it would have without the pause.
  g_clock.store(22500);
  ASSERT_TRUE(WaitCalls('S', 3));
  EXPECT_EQ(CallsFor('S', u"c.wav").size(), 2u);
}

// A show whose music, a tune of 4 s, is played once, free of the show's
// time, played from its start at 10000 until the clock stands at 11000, the
// tune heard.
void MusicSchedule::PlayFreeTuneOnceToOneSecond() {
  source_ = test::ShowSource(
      std::string("object Music:TMusic\nobject Options:TMusicOptions\nIsRepeat=1\nend\nobject T:TMusicTrack\n"
                  "object A:TMusicItem\nFileName=a.mp3\nDuration=4000\nend\nend\nend\n[Main]\nopt_syncmode=0\n") +
      kThreeSlides);
  player_ = MakeRef<TKavMusicPlayer>(source_.get(), false);
  ASSERT_FALSE(player_->Music()->PlayList().Repeat);  // "IsRepeat" set: played once
  player_->StartThreads();
  RunFrom(0);
  ASSERT_TRUE(WaitCalls('P', 1));
  g_clock.store(11000);
  Settle();
}

TEST_F(MusicSchedule, UnsynchronisedMusicHoldsThroughAPauseAndGoesOnFromWhereItStood) {
  ASSERT_NO_FATAL_FAILURE(PlayFreeTuneOnceToOneSecond());
  player_->SetHeld(true);
  ASSERT_TRUE(WaitCalls('S', 1));
  g_clock.store(15000);
  Settle();
  EXPECT_EQ(Calls('P').size(), 1u);
  // Released after 4 s: the same channel goes on (from where it was heard),
  // and the tune ends 4 s later than it would have.
  player_->SetHeld(false);
  ASSERT_TRUE(WaitCalls('P', 2));
  EXPECT_EQ(Calls('P')[1].Channel, Calls('P')[0].Channel);
  g_clock.store(17900);
  Settle();
  EXPECT_EQ(Calls('S').size(), 1u);
  g_clock.store(18000);
  ASSERT_TRUE(WaitCalls('S', 2));
}

TEST_F(MusicSchedule, UnsynchronisedMusicHeldByAPauseGoesOnWithTheShowsClock) {
  ASSERT_NO_FATAL_FAILURE(PlayFreeTuneOnceToOneSecond());
  // Paused as the viewer does it: held, and the clock stopped, at 11000.
  player_->SetHeld(true);
  player_->SetActive(false);
  ASSERT_TRUE(WaitCalls('S', 1));
  ASSERT_TRUE(WaitCalls('T', 1));
  EXPECT_EQ(Calls('T').back().Position, 1000u);
  // The show stands at the frame it drew next, 20 ms on: the music goes on
  // from there too.
  player_->SeekTo(1020, -1);
  ASSERT_TRUE(WaitCalls('T', 2));
  EXPECT_EQ(Calls('T').back().Position, 1020u);
  // Let go at 15000 while the show still loads: the music waits for the
  // clock, which runs again at 15500.
  g_clock.store(15000);
  player_->SetHeld(false);
  Settle();
  EXPECT_EQ(Calls('P').size(), 1u) << "the music went on before the show's clock";
  g_clock.store(15500);
  player_->SetActive(true);
  ASSERT_TRUE(WaitCalls('P', 2));
  EXPECT_EQ(Calls('P')[1].Clock, 15500);
  // 1020 ms of the tune lie behind: it ends 2980 ms after 15500.
  g_clock.store(18470);
  Settle();
  EXPECT_EQ(Calls('S').size(), 1u);
  g_clock.store(18480);
  ASSERT_TRUE(WaitCalls('S', 2));
}

}  // namespace
}  // namespace kav
