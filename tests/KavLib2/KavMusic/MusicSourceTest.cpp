// The show's music read from project texts: time lines, cross-fades, links,
// comments.
#include <gtest/gtest.h>

#include "KavLib2/KavMusic/KavCompositeConverter.h"
#include "KavLib2/KavMusic/KavMusicSource.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "VoRav/vxIni.h"
#include "tests/KavLib2/KavMusic/MusicTestShow.h"
#include "tests/VoRav/Music/AudioMedia.h"

namespace kav {
namespace {

Ref<TKavMusicSource> MusicOf(const std::string& text) {
  return MakeRef<TKavMusicSource>(test::ShowSource(text).get());
}

const char* kTimes = "[Times]\nopt_slidescount=3\nopt_synchpos1=4000\nopt_synchpos2=9000\nopt_synchpos3=20000\n";

TCompositeParams Track(const TKavMusicSource& m) {
  TCompositeParams p;
  EXPECT_EQ(m.PlayList().Count(), 1);
  if (m.PlayList().Count() == 1) {
    EXPECT_TRUE(p.Parse(m.PlayList().Entries[0].FileName));
  }
  return p;
}

TEST(MusicSource, CrossFadedItemsOverlapWithRisingAndFallingEnvelopes) {
  const std::string text = std::string("object Music:TMusic\n"
                           "object T:TMusicTrack\n"
                           "object A:TMusicItem\nFileName=a.mp3\nDuration=6000\nCross=2000\nend\n"
                           "object B:TMusicItem\nFileName=b.mp3\nDuration=5000\nCross=2000\nStartTime=300\nend\n"
                           "object Z:TMusicItem\nFileName=z.mp3\nDuration=1000\nVolume=0\nend\n"
                           "end\nend\n[Main]\nopt_syncmode=0\n") + kTimes;
  auto m = MusicOf(text);
  ASSERT_TRUE(m->HasMusic());
  const TCompositeParams p = Track(*m);
  ASSERT_EQ(p.Items.size(), 2u);  // the silent item leaves no entry
  EXPECT_EQ(p.Items[0].TimeLine, 0);
  EXPECT_EQ(p.Items[1].TimeLine, 4000);  // 2000 ms before the first ends
  EXPECT_EQ(p.Items[1].BeginTime, 300);
  EXPECT_EQ(p.Duration, 9000);
  // The first falls over its last 2000 ms, the second rises over its first.
  auto gain = [](const TCompositeItem& item, int32_t ms) {
    double g = 1;
    for (TVolumeParams e : item.Envelopes) {
      e.Compile(item.Duration);
      g *= e.GainAt(CompositeFrames(ms));
    }
    return g;
  };
  EXPECT_NEAR(gain(p.Items[0], 3000), 1.0, 1e-9);
  EXPECT_NEAR(gain(p.Items[0], 5000), 0.5, 1e-3);
  EXPECT_NEAR(gain(p.Items[0], 6000), 0.0, 1e-9);
  EXPECT_NEAR(gain(p.Items[1], 0), 0.0, 1e-9);
  EXPECT_NEAR(gain(p.Items[1], 1000), 0.5, 1e-3);
  EXPECT_NEAR(gain(p.Items[1], 2500), 1.0, 1e-9);
  EXPECT_TRUE(m->PlayList().Repeat);
  EXPECT_EQ(m->PlayList().Entry(3).Start, 27000);
}

TEST(MusicSource, LinkedItemsJumpToTheirSlideAndShortenThePrevious) {
  const std::string text = std::string("object Music:TMusic\n"
                           "object O:TMusicOptions\nIsRepeat=1\nend\n"
                           "object T:TMusicTrack\n"
                           "object A:TMusicItem\nFileName=a.mp3\nDuration=10000\nCrossMode=1\nend\n"
                           "object B:TMusicItem\nFileName=b.mp3\nDuration=3000\nCrossMode=1\nPause=500\nGUID={BBB}\nend\n"
                           "end\nend\n[Main]\nopt_syncmode=1\n") + kTimes + "[Slide2]\nLinkedAudio={AAA}{BBB}\n";
  auto m = MusicOf(text);
  const TCompositeParams p = Track(*m);
  ASSERT_EQ(p.Items.size(), 2u);
  // Slide 2 starts at 4000; the linked start is 4000 + the pause, where the
  // item before it is cut; the pause then runs before the item.
  EXPECT_EQ(p.Items[0].Duration, 4500);
  EXPECT_EQ(p.Items[1].TimeLine, 5000);
  EXPECT_FALSE(m->PlayList().Repeat);
}

// The gain of an item at `ms` from its start, all its envelopes together.
double ItemGain(const TCompositeItem& item, int32_t ms) {
  double g = 1;
  for (TVolumeParams e : item.Envelopes) {
    e.Compile(item.Duration);
    g *= e.GainAt(CompositeFrames(ms));
  }
  return g;
}

TEST(MusicSource, ALinkedItemCrossFadesWithTheItemBeforeIt) {
  // B is linked to slide 2 (5000 ms) with a cross-fade of 1000 ms: it rises
  // from 4000 and is fully in at the slide's start, while A, which would
  // play on to 10000, falls over the same second and ends at 5000.
  test::TAudioMedia media;
  const std::string a = media.Level("a.wav", 12.0, 8000);
  const std::string b = media.Level("b.wav", 4.0, 16000);
  const std::string text = "object Music:TMusic\nobject T:TMusicTrack\n"
                           "object A:TMusicItem\nFileName=" + a + "\nDuration=10000\nend\n"
                           "object B:TMusicItem\nFileName=" + b + "\nDuration=3000\nCross=1000\nGUID={B}\nend\n"
                           "end\nend\n[Main]\nopt_syncmode=1\n"
                           "[Times]\nopt_slidescount=3\nopt_synchpos1=5000\nopt_synchpos2=9000\n"
                           "[Slide2]\nLinkedAudio={B}\n";
  auto m = MusicOf(text);
  const TCompositeParams p = Track(*m);
  ASSERT_EQ(p.Items.size(), 2u);
  const TCompositeItem& ia = p.Items[0];
  const TCompositeItem& ib = p.Items[1];
  EXPECT_EQ(ia.TimeLine, 0);
  EXPECT_EQ(ia.Duration, 5000);
  EXPECT_EQ(ib.TimeLine, 4000);
  EXPECT_EQ(ib.Duration, 3000);
  EXPECT_EQ(p.Duration, 7000);
  EXPECT_NEAR(ItemGain(ia, 3900), 1.0, 1e-9);
  EXPECT_NEAR(ItemGain(ia, 4500), 0.5, 1e-3);
  EXPECT_NEAR(ItemGain(ia, 5000), 0.0, 1e-9);
  EXPECT_NEAR(ItemGain(ib, 0), 0.0, 1e-9);
  EXPECT_NEAR(ItemGain(ib, 500), 0.5, 1e-3);
  EXPECT_NEAR(ItemGain(ib, 1000), 1.0, 1e-9);
  EXPECT_NEAR(ItemGain(ib, 2500), 1.0, 1e-9);
  // Mixed: A alone, then the two crossing (A's level falling as B's rises),
  // then B alone; never a cut.
  auto conv = MakeRef<TCompositeConverter>(p.Write(), nullptr, nullptr);
  ASSERT_TRUE(conv->SetInputFormat(TMediaInfo{}));
  std::vector<int16_t> left;
  for (int i = 0; i < 100; ++i) {
    const bool more = conv->Convert();
    TLocalBuffer& o = conv->Output();
    const auto* s = reinterpret_cast<const int16_t*>(o.Data());
    for (size_t k = 0; k + 1 < o.Used() / 2; k += 2) left.push_back(s[k]);
    o.Consume(o.Used());
    if (!more) break;
  }
  ASSERT_GE(left.size(), size_t(TrackFrames(7000)));
  auto at = [&](int32_t ms) { return double(left[size_t(TrackFrames(ms))]); };
  EXPECT_EQ(at(3900), 8000);
  EXPECT_NEAR(at(4250), 8000 * 0.75 + 16000 * 0.25, 30);
  EXPECT_NEAR(at(4500), 12000, 30);
  EXPECT_NEAR(at(4750), 8000 * 0.25 + 16000 * 0.75, 30);
  EXPECT_EQ(at(5100), 16000);
  EXPECT_EQ(at(6900), 16000);
  // No cut anywhere from 3 s to the track's end: sample to sample the mix
  // moves by the fade's own step, or by the 1 % a gain within 0.99..1.01
  // jumps when it leaves that window (such a gain counts as 1).
  for (size_t f = size_t(TrackFrames(3000)); f + 1 < size_t(TrackFrames(7000)); ++f)
    ASSERT_LE(std::abs(int(left[f + 1]) - int(left[f])), 170) << f;
}

TEST(MusicSource, SlideCommentsAndDisabledMusic) {
  const std::string slide3 =
      "[Slide3]\nobject Root:TSlide\nobject Music:TMusic\nobject C:TSoundComment\nFileName=talk.wav\n"
      "Duration=30000\nPause=1000\nFadeIn=100\nend\nend\nend\n";
  auto m = MusicOf(std::string("[Main]\n") + kTimes + slide3);
  ASSERT_EQ(m->SlideCount(), 3);
  EXPECT_TRUE(m->Slide(0).Comment.empty());
  const TSlideMusicInfo& s = m->Slide(2);
  EXPECT_EQ(s.NextSlide, 0);
  // Cut to the slide's 11,000 ms.
  EXPECT_EQ(s.CommentLength, 11000);
  TCompositeParams c;
  ASSERT_TRUE(c.Parse(s.Comment));
  ASSERT_EQ(c.Items.size(), 1u);
  EXPECT_EQ(c.Items[0].TimeLine, 1000);
  EXPECT_EQ(c.Items[0].Duration, 10000);
  // Played in full when the show asks for it.
  auto full = MusicOf(std::string("[Main]\nopt_fullyplaysound=1\n") + kTimes + slide3);
  EXPECT_EQ(full->Slide(2).CommentLength, 31000);
  // No music at all.
  auto off = MusicOf("object Music:TMusic\nmusic_disable=1\nobject A:TMusicItem\nFileName=a.mp3\nDuration=1000\nend\nend\n"
                     "[Main]\n" + std::string(kTimes) + slide3);
  EXPECT_FALSE(off->HasMusic());
  EXPECT_TRUE(off->Slide(2).Comment.empty());
  EXPECT_EQ(off->PlayList().Count(), 0);
}

TEST(MusicSource, VideoClipsLendTheirSoundToTheSlide) {
  const std::string text = std::string("[Main]\n") + kTimes +
                           "[Tracks]\n"
                           "object V1:VideoClip\nClipGUID={C1}\nFileName=clip.mp4\nDuration=3000\n"
                           "StartVideoTime=500\nStartKAVTime=200\nVolume=0.5\nend\n"
                           "object V2:VideoClip\nClipGUID={C2}\nFileName=mute.mp4\nDuration=3000\nMute=1\nend\n"
                           "object V3:VideoClip\nClipGUID={C3}\nFileName=fast.mp4\nDuration=3000\nFPSMultiplier=2\nend\n"
                           "[Slide1]\nobject Root:TSlide\n"
                           "object A:Video\nClipGUID={C1}\nend\nobject B:Video\nClipGUID={C2}\nend\n"
                           "object C:Video\nClipGUID={C3}\nend\nobject D:Video\nFileName=anim.gif\nDuration=900\nend\n"
                           "object E:Video\nFileName=own.mp4\nDuration=9000\nStartKAVTime=1000\nend\n"
                           "object F:Video\nFileName=ownmute.mp4\nDuration=900\nMute=1\nend\n"
                           "object G:Video\nFileName=ownfast.mp4\nDuration=900\nFPSMultiplier=2\nend\n"
                           "end\n"
                           "[Slide2]\nobject Root:TSlide\nobject A:Video\nClipGUID={C1}\nend\nend\n";
  auto m = MusicOf(text);
  TCompositeParams c;
  ASSERT_TRUE(c.Parse(m->Slide(0).Comment));
  ASSERT_EQ(c.Items.size(), 2u);
  EXPECT_EQ(c.Items[0].FileName, u"clip.mp4");
  EXPECT_EQ(c.Items[0].TimeLine, 200);
  EXPECT_EQ(c.Items[0].BeginTime, 500);
  ASSERT_EQ(c.Items[0].Envelopes.size(), 1u);
  EXPECT_EQ(c.Items[0].Envelopes[0].Points[0].Volume, 500);
  // Without a clip: cut to what is left of the 4000 ms slide.
  EXPECT_EQ(c.Items[1].FileName, u"own.mp4");
  EXPECT_EQ(c.Items[1].Duration, 3000);
  // Both are a clip's sound (a clip without one is silent, not a fault);
  // an object muted or sped up by its own keys adds none.
  EXPECT_TRUE(c.Items[0].ClipSound && c.Items[1].ClipSound);
  EXPECT_EQ(m->Slide(0).CommentLength, 4000);
  // The clip was heard already: the second slide has no sound.
  EXPECT_TRUE(m->Slide(1).Comment.empty());
}

}  // namespace
}  // namespace kav
