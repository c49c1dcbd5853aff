#include <gtest/gtest.h>

#include <chrono>

#include "VoRav/vxTime.h"

using namespace kav;

namespace {

TSystemTime MakeTime(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0,
                     uint16_t ms = 0) {
  TSystemTime t;
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = h;
  t.wMinute = mi;
  t.wSecond = s;
  t.wMilliseconds = ms;
  t.wDayOfWeek = static_cast<uint16_t>(DayOfWeek(t));
  return t;
}

}  // namespace

TEST(DateText, PatternLetters) {
  TSystemTime t = MakeTime(2012, 3, 9);  // a Friday
  EXPECT_EQ(FormatDate(t, u"D.M.YY"), u"9.3.12");
  EXPECT_EQ(FormatDate(t, u"DD MMM YYYY"), u"09 Mar 2012");
  EXPECT_EQ(FormatDate(t, u"DDDD"), u"Friday");
  EXPECT_EQ(FormatDate(t, u"ddd, d mmmm yYyY"), u"Fri, 9 March 2012");
  EXPECT_EQ(FormatDate(t, u""), u"09.03.2012");
  EXPECT_EQ(FormatDate(t, u"MMMMM/DDDDDD"), u"00003/000009");
  EXPECT_EQ(FormatDate(t, u"YYYYYY"), u"002012");
  EXPECT_EQ(FormatDate(t, u"'Y'"), u"2");  // quotes are dropped, not quoting
  // Only ASCII letters are pattern letters: Cyrillic De and full-width D are copied.
  EXPECT_EQ(FormatDate(t, u"\u0414\uFF24-D"), u"\u0414\uFF24-9");
  EXPECT_EQ(FormatDate(MakeTime(5, 1, 1), u"YYYY"), u"0005");
  // A month outside 1..12 has no name and is shown as its number.
  TSystemTime bad = t;
  bad.wMonth = 13;
  EXPECT_EQ(FormatDate(bad, u"[MMM][MMMM][M]"), u"[][][13]");
  bad.wMonth = 0;
  EXPECT_EQ(FormatDate(bad, u"[MMM]DDD"), u"[]" + FormatDate(MakeTime(2012, 1, 9), u"DDD"));
}

TEST(DateText, RussianGenitive) {
  EXPECT_EQ(MonthNameGenitive(u"\u042F\u043D\u0432\u0430\u0440\u044C"), u"\u044F\u043D\u0432\u0430\u0440\u044F");
  EXPECT_EQ(MonthNameGenitive(u"\u041C\u0430\u0439"), u"\u043C\u0430\u044F");
  EXPECT_EQ(MonthNameGenitive(u"\u041C\u0430\u0440\u0442"), u"\u043C\u0430\u0440\u0442\u0430");
  EXPECT_EQ(MonthNameGenitive(u"March"), u"March");
}

TEST(DateText, TimeFlagsAndLogForm) {
  TSystemTime t = MakeTime(2012, 3, 5, 14, 7, 9, 42);
  EXPECT_EQ(FormatTime(t, 3), u"14:07");
  EXPECT_EQ(FormatTime(t, 8), u"042");
  EXPECT_EQ(FormatTime(t, 6), u"07:09");
  EXPECT_EQ(FormatTime(t, 9), u"14.042");
  EXPECT_EQ(FormatTime(t, 0), u"");
  EXPECT_EQ(DateTimeToText(t, u"DD.MM.YYYY", 15), u"05.03.2012 14:07:09.042");
}

TEST(DateText, CalendarAgreesWithTheStandardLibrary) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2012));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2013));
  EXPECT_EQ(DayNumber(1, 1, 1), 1);
  EXPECT_EQ(DayOfWeek(MakeTime(2000, 1, 1)), 6);
  using namespace std::chrono;
  const sys_days base = sys_days(year{1} / January / 1);
  for (sys_days d = sys_days(year{1896} / January / 1); d < sys_days(year{2105} / January / 1); d += days{1}) {
    year_month_day ymd(d);
    TSystemTime t = MakeTime(static_cast<uint16_t>(static_cast<int>(ymd.year())),
                             static_cast<uint16_t>(static_cast<unsigned>(ymd.month())),
                             static_cast<uint16_t>(static_cast<unsigned>(ymd.day())));
    ASSERT_EQ(DayNumber(t.wYear, t.wMonth, t.wDay), (d - base).count() + 1);
    ASSERT_EQ(DayOfWeek(t), static_cast<int32_t>(weekday(d).c_encoding()));
  }
}

TEST(Timing, ElapsedClockAndWrapSafeComparison) {
  int64_t a = GetElapsedMs64();
  SleepMs(2);
  int64_t b = GetElapsedMs64();
  EXPECT_GE(a, 0);
  EXPECT_GE(b, a + 2);
  EXPECT_LT(ElapsedSinceMs(GetElapsedMs()), 60000u);  // now minus a moment ago, not the other way round
  EXPECT_TRUE(IsTimeReached(5, 0xFFFFFFF0u));  // 21 ms after the deadline, across the wrap
  EXPECT_FALSE(IsTimeReached(0xFFFFFFF0u, 5));
  EXPECT_TRUE(IsTimeReached(7, 7));

  TSystemTime now;
  GetLocalTimeNow(now);
  EXPECT_GE(now.wYear, 2020);
  EXPECT_EQ(now.wDayOfWeek, DayOfWeek(now));
  EXPECT_LT(now.wMilliseconds, 1000);
}
