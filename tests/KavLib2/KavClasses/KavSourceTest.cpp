#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "KavLib2/KavClasses/KavKeyFrame.h"
#include "KavLib2/KavClasses/KavSlideOrder.h"
#include "KavLib2/KavClasses/KavSource.h"
#include "ShowFixture.h"

using namespace kav;
using namespace kav::test;

namespace {

Ref<TFileAccessor> DiskAccessor() { return MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get()); }

Ref<TKavSource> Source(const std::string& text, TKavSourceSetup setup = {}) {
  if (!setup.RandomSeed) setup.RandomSeed = 7;
  if (!setup.ProgramFile) setup.ProgramFile = u"/opt/kav/player";
  return MakeRef<TKavSource>(DiskAccessor().get(), ProjectIni(text).get(), setup);
}

std::string TimesProject(const std::vector<std::string>& ends) {
  std::string s = "[Times]\r\nopt_slidescount=" + std::to_string(ends.size()) + "\r\n";
  for (size_t i = 0; i < ends.size(); ++i) s += "opt_synchpos" + std::to_string(i + 1) + "=" + ends[i] + "\r\n";
  return s;
}

// The first index from -1 whose timing holds t, by walking.
int32_t WalkIndex(const TKavSource& s, double t) {
  TSlideTiming tm;
  for (int32_t i = -1; i < 1000000; ++i) {
    s.GetSlideTiming(i, tm);
    if (tm.Begin <= t && t <= tm.End) return i;
  }
  return -100;
}

}  // namespace

TEST(KavSource, OptionsSlideTableAndLoops) {
  auto s = Source(ShowProject());
  ASSERT_EQ(s->SlideCount(), 4);
  EXPECT_EQ(s->Duration(), 9000);
  EXPECT_EQ(s->RepeatMode(), kRepeatShow);
  EXPECT_EQ(s->DesignWidth(), 1280);
  EXPECT_EQ(s->DesignHeight(), 720);
  EXPECT_EQ(s->HiderColor()[0], 255);
  EXPECT_EQ(s->HiderColor()[1], 0);
  EXPECT_FALSE(s->ScreenSaver());
  EXPECT_EQ(IniReadString(s->Ini(), u"Main", u"opt_ssaver", u""), u"0");
  EXPECT_EQ(s->DefaultEffectTime(), 1000);
  EXPECT_FALSE(s->TimesDamaged());

  // begin, end, effect (a 500 ms slide cuts its 1000 ms transition), next
  // effect (the last slide wraps to the first), id.
  const double expect[4][4] = {{0, 3000, 700, 2000}, {3000, 5000, 2000, 1000}, {5000, 5500, 500, 0},
                               {5500, 9000, 0, 700}};
  const char16_t* ids[4] = {u"Beach", u"second", u"", u""};
  for (int32_t i = 0; i < 4; ++i) {
    const TSlideInfo& si = s->Slide(i);
    EXPECT_EQ(si.Begin, expect[i][0]) << i;
    EXPECT_EQ(si.End, expect[i][1]) << i;
    EXPECT_EQ(si.EffectTime, expect[i][2]) << i;
    EXPECT_EQ(si.NextEffectTime, expect[i][3]) << i;
    EXPECT_EQ(si.EndPlusNext, si.End + si.NextEffectTime) << i;
    EXPECT_EQ(si.Id, ids[i]) << i;
  }
  TSlideTiming t;
  EXPECT_EQ(s->GetSlideTiming(5, t), 1);  // slide 1 of loop 1
  EXPECT_EQ(t.Begin, 12000);
  EXPECT_EQ(t.End, 14000);
  EXPECT_EQ(t.EndPlusNext, 15000);
  EXPECT_EQ(s->GetSlideTiming(-1, t), -1);
  EXPECT_EQ(t.Begin, kBeforeShowBegin);
  EXPECT_EQ(t.End, 0);
  EXPECT_EQ(t.NextEffectTime, 700);
  EXPECT_EQ(s->GetSlideTiming(-7, t), -1);
  EXPECT_EQ(t.Begin, kFarBeforeShowBegin);

  // "close" ends the show: no transition out of the last slide.
  auto closing = Source(ShowProject("", "Close"));
  EXPECT_EQ(closing->RepeatMode(), kRepeatClose);
  EXPECT_EQ(closing->Slide(3).NextEffectTime, 0);
  EXPECT_EQ(Source(ShowProject("", "STOP"))->RepeatMode(), kRepeatStop);
  EXPECT_EQ(Source(ShowProject("", "sometimes"))->RepeatMode(), kRepeatShow);

  // A screen-saver program (any case) forces its options into the project.
  TKavSourceSetup saver;
  saver.ProgramFile = u"C:\\Shows\\HOLIDAY.SCR";
  auto ss = Source(ShowProject("", "close"), saver);
  EXPECT_TRUE(ss->ScreenSaver());
  EXPECT_EQ(ss->RepeatMode(), kRepeatShow);
  EXPECT_EQ(IniReadString(ss->Ini(), u"Main", u"opt_hidecursor", u""), u"1");
}

TEST(KavSource, SlideIndexAtTimeAgreesWithTheTimingTable) {
  auto s = Source(ShowProject());
  EXPECT_EQ(s->SlideIndexAtTime(0), -1);
  EXPECT_EQ(s->SlideIndexAtTime(-5e9), -1);
  EXPECT_EQ(s->SlideIndexAtTime(std::nan("")), -1);
  EXPECT_EQ(s->SlideIndexAtTime(1), 0);
  EXPECT_EQ(s->SlideIndexAtTime(3000), 0);  // the earlier slide at a boundary
  EXPECT_EQ(s->SlideIndexAtTime(3000.5), 1);
  EXPECT_EQ(s->SlideIndexAtTime(9000), 3);
  EXPECT_EQ(s->SlideIndexAtTime(9000.25), 4);
  EXPECT_EQ(s->SlideIndexAtTime(18000), 7);
  EXPECT_EQ(s->SlideIndexAtTime(1e300), INT32_MAX);

  // Against a plain walk over the table, with zero-length slides and odd
  // end times that make the loop offsets round.
  for (const auto& ends : {std::vector<std::string>{"3000", "5000", "5500", "9000"},
                           std::vector<std::string>{"1000", "1000", "1000", "1001", "1001"},
                           std::vector<std::string>{"333", "667", "1001"}}) {
    auto src = Source(TimesProject(ends));
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> any(0.001, 40000.0);
    for (int k = 0; k < 400; ++k) {
      double t = any(rng);
      if (k % 4 == 0) t = std::round(t);
      if (k % 8 == 0) t = src->Duration() * (k / 8);  // loop boundaries
      if (t <= 0) continue;
      EXPECT_EQ(src->SlideIndexAtTime(t), WalkIndex(*src, t)) << ends.size() << " slides at " << t;
    }
  }
}

TEST(KavSource, DamagedAndEmptyTimeTables) {
  // No slides, or a total of 0: past the end, never a division by zero.
  auto empty = Source("[Main]\r\n");
  EXPECT_EQ(empty->SlideCount(), 0);
  EXPECT_EQ(empty->SlideIndexAtTime(10), 0);
  TSlideTiming t;
  EXPECT_EQ(empty->GetSlideTiming(3, t), 0);
  EXPECT_EQ(empty->GetEffectTime(3), 0);
  double time = 1;
  float smooth = 1;
  EXPECT_EQ(empty->GetSlideEffect(2, time, smooth), nullptr);
  EXPECT_EQ(time, 0);
  double pause;
  EXPECT_FALSE(empty->GetEndAction(1, pause));
  auto zero = Source(TimesProject({"0", "0"}));
  EXPECT_EQ(zero->SlideIndexAtTime(10), 2);
  EXPECT_EQ(zero->SlideIndexAtTime(0), -1);

  // End times that go back are taken as the end before; garbage is 0.
  auto back = Source(TimesProject({"1000", "400", "12abc", "2000"}));
  EXPECT_TRUE(back->TimesDamaged());
  EXPECT_EQ(back->Slide(1).Begin, 1000);
  EXPECT_EQ(back->Slide(1).End, 1000);
  EXPECT_EQ(back->Slide(2).End, 1000);
  EXPECT_EQ(back->Slide(3).End, 2000);
  EXPECT_EQ(back->SlideIndexAtTime(1500), 3);

  // Huge and negative counts; a design size of 0 or garbage.
  auto huge = Source("[Main]\r\nopt_scr_width=0\r\nopt_scr_height=x\r\nopt_customdialogscount=2000000000\r\n"
                     "[Times]\r\nopt_slidescount=2000000000\r\nopt_synchpos1=10\r\n");
  EXPECT_EQ(huge->SlideCount(), kMaxSlidesCount);
  EXPECT_EQ(huge->DesignWidth(), 1920);
  EXPECT_EQ(huge->DesignHeight(), 1080);
  EXPECT_EQ(huge->EffectManager()->DesignWidth(), 1920);
  EXPECT_EQ(ReadCustomDialogsCount(huge->Ini()), kMaxCustomDialogsCount);
  EXPECT_EQ(huge->SlideIndexAtTime(5), 0);
  EXPECT_EQ(huge->SlideIndexAtTime(50), 4 * kMaxSlidesCount);  // slide 0 of loop 4 ends at 50
  EXPECT_EQ(Source("[Times]\r\nopt_slidescount=-4\r\n")->SlideCount(), 0);
}

TEST(KavSource, LongRunsOfEqualEndTimes) {
  // A damaged table: after three slides every end goes back and is taken as
  // 30, so thousands of slides share one boundary in every loop.
  std::vector<std::string> ends = {"10", "20", "30"};
  ends.resize(3000, "5");
  auto s = Source(TimesProject(ends));
  ASSERT_TRUE(s->TimesDamaged());
  for (double t : {5.0, 20.0, 25.0, 30.0, 30.5, 60.0, 60.25, 90.0, 1500.0, 1501.0}) {
    EXPECT_EQ(s->SlideIndexAtTime(t), WalkIndex(*s, t)) << t;
  }
  EXPECT_EQ(s->SlideIndexAtTime(30), 2);      // the earlier slide at the boundary
  EXPECT_EQ(s->SlideIndexAtTime(30.5), 3000);  // the next loop's first slide

  // The keyframe lengths and the show's slide timing are separate types that
  // one file can use together.
  TSlideTiming timing;
  s->GetSlideTiming(1, timing);
  const TSlideLengths lengths{int32_t(timing.End - timing.Begin), 0, int32_t(timing.EffectTime)};
  EXPECT_EQ(OriginBase(kOriginSlideEnd, lengths), 10);
}

TEST(KavSource, EndActionsAndPrograms) {
  auto s = Source(ShowProject());
  double pause = -1;
  EXPECT_TRUE(s->GetEndAction(0, pause));  // loop: the slide's pause length
  EXPECT_EQ(pause, 3000 - 700);
  EXPECT_TRUE(s->GetEndAction(4, pause));  // the same slide one loop later
  EXPECT_EQ(pause, 3000 - 700);
  EXPECT_TRUE(s->GetEndAction(1, pause));  // "PAUSE"
  EXPECT_EQ(pause, 0);
  EXPECT_FALSE(s->GetEndAction(2, pause));  // empty, not a manual show
  EXPECT_FALSE(s->GetEndAction(3, pause));  // none
  EXPECT_TRUE(Source(ShowProject("opt_manualshow=1\r\n"))->GetEndAction(2, pause));
  EXPECT_EQ(pause, 0);

  std::u16string file;
  EXPECT_TRUE(s->GetRunApp(3, file));
  EXPECT_EQ(file, u"notes.txt");
  EXPECT_FALSE(s->GetRunApp(0, file));
  EXPECT_EQ(file, u"");
}

TEST(KavSlideOrder, StoredOrdersAndShuffles) {
  ClearProjectSlideOrders();
  auto ini = ProjectIni("[Main]\r\nProjectFilePath=C:\\p.kpr\r\n[Times]\r\nopt_slidescount=2\r\n[Slide1]\r\n"
                        "[Slide2]\r\n[Slide5]\r\n");
  EXPECT_EQ(GetSlideSection(ini.get(), 1), ini->FindSection(u"Slide2"));
  EXPECT_EQ(ProjectSlideOrder(u"C:\\p.kpr").size(), 2u);
  EXPECT_EQ(GetSlideSection(ini.get(), 4), ini->FindSection(u"Slide5"));  // grows with identity
  EXPECT_EQ(ProjectSlideOrder(u"C:\\p.kpr").size(), 5u);
  EXPECT_EQ(GetSlideSection(ini.get(), 2), nullptr);
  EXPECT_EQ(GetSlideSection(ini.get(), -1), nullptr);
  EXPECT_EQ(SlideSectionNumber(ini.get(), 50000000), 50000001);  // past the cap: no growth
  EXPECT_EQ(ProjectSlideOrder(u"C:\\p.kpr").size(), 5u);
  ClearProjectSlideOrders();

  std::vector<TSlideOrderEntry> a(50), b(50);
  for (int32_t i = 0; i < 50; ++i) a[size_t(i)].Index = b[size_t(i)].Index = i;
  TKavRandom r1(11), r2(11);
  ShuffleOrder(a, r1);
  ShuffleOrder(b, r2);
  std::vector<bool> seen(50);
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].Index, b[i].Index);
    seen[size_t(a[i].Index)] = true;
    if (i) {
      EXPECT_LE(a[i - 1].Key, a[i].Key);
    }
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 50);
}

// The shuffle's sort keeps the selection sort's exact order, equal keys
// included, without its quadratic time on large shows.
TEST(SlideOrder, ShuffleSortMatchesTheSelectionSort) {
  auto selection = [](std::vector<TSlideOrderEntry>& e) {
    for (size_t k = e.size(); k >= 2; --k) {
      size_t best = 0;
      for (size_t j = k - 1; j >= 1; --j)
        if (e[j].Key > e[best].Key) best = j;
      std::swap(e[best], e[k - 1]);
    }
  };
  TKavRandom random(7);
  for (int32_t round = 0; round < 200; ++round) {
    const int32_t n = 1 + random.Random(300);
    const int32_t range = 1 + random.Random(round % 2 ? 4 : 1000);  // many equal keys, or few
    std::vector<TSlideOrderEntry> a(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) a[size_t(i)] = {i, random.Random(range)};
    std::vector<TSlideOrderEntry> b = a;
    selection(a);
    SortByShuffleKeys(b);
    for (int32_t i = 0; i < n; ++i) ASSERT_EQ(a[size_t(i)].Index, b[size_t(i)].Index) << "round " << round;
  }
  std::vector<TSlideOrderEntry> big(100000);
  for (int32_t i = 0; i < 100000; ++i) big[size_t(i)].Index = i;
  ShuffleOrder(big, random);  // a 100,000-slide show shuffles at once
  for (size_t i = 1; i < big.size(); ++i) ASSERT_LE(big[i - 1].Key, big[i].Key);
}
