#include "VoRav/vxTime.h"

#include <sched.h>
#include <sys/time.h>

#include <cerrno>
#include <ctime>

namespace kav {

namespace {

const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// The program's start on the monotonic clock, taken on first use and forced
// during static initialisation so that it is the load time of the program.
int64_t StartTick() {
  static const int64_t start = MonotonicMs();
  return start;
}
[[maybe_unused]] const int64_t g_start_tick_init = StartTick();

void AppendAscii(std::u16string& out, const char* s) {
  while (*s) out += static_cast<char16_t>(*s++);
}

// `value` in decimal with at least `width` digits (leading zeros).
void AppendNumber(std::u16string& out, uint64_t value, size_t width) {
  char16_t digits[20];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = n; i < width; ++i) out += u'0';
  while (n > 0) out += digits[--n];
}

// The last `count` digits of `value`, missing ones as "0".
void AppendLastDigits(std::u16string& out, uint64_t value, size_t count) {
  for (size_t i = count; i-- > 0;) {
    uint64_t v = value;
    for (size_t k = 0; k < i && v != 0; ++k) v /= 10;
    out += static_cast<char16_t>(u'0' + v % 10);
  }
}

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

}  // namespace

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t GetElapsedMs64() { return MonotonicMs() - StartTick(); }

uint32_t GetElapsedMs() { return static_cast<uint32_t>(GetElapsedMs64()); }

void SleepMs(uint32_t ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool BeginTimerPeriod(uint32_t) { return true; }
bool EndTimerPeriod(uint32_t) { return true; }

void GetLocalTimeNow(TSystemTime& time) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  time_t secs = ts.tv_sec;
  localtime_r(&secs, &local);
  time = SystemTimeFromTm(local, static_cast<uint16_t>(ts.tv_nsec / 1000000));
}

TSystemTime SystemTimeFromTm(const std::tm& t, uint16_t millis) {
  TSystemTime s;
  s.wYear = static_cast<uint16_t>(t.tm_year + 1900);
  s.wMonth = static_cast<uint16_t>(t.tm_mon + 1);
  s.wDayOfWeek = static_cast<uint16_t>(t.tm_wday);
  s.wDay = static_cast<uint16_t>(t.tm_mday);
  s.wHour = static_cast<uint16_t>(t.tm_hour);
  s.wMinute = static_cast<uint16_t>(t.tm_min);
  s.wSecond = static_cast<uint16_t>(t.tm_sec);
  s.wMilliseconds = millis;
  return s;
}

bool IsLeapYear(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t DayNumber(int32_t year, int32_t month, int32_t day) {
  static const int32_t kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  if (month < 1) month = 1;
  if (month > 12) month = 12;
  int32_t before = kDaysBefore[month - 1] + ((month > 2 && IsLeapYear(year)) ? 1 : 0);
  int32_t y = year - 1;
  return before + day + 365 * y + y / 4 - y / 100 + y / 400;
}

int32_t DayOfWeek(const TSystemTime& time) {
  int32_t d = DayNumber(time.wYear, time.wMonth, time.wDay) % 7;
  return d < 0 ? d + 7 : d;
}

std::u16string MonthNameGenitive(std::u16string_view name) {
  std::u16string s(name);
  if (s.empty()) return s;
  char16_t& last = s.back();
  if (last == u'\u0439' || last == u'\u044C')
    last = u'\u044F';
  else if (last == u'\u0442')
    s += u'\u0430';
  if (s[0] >= u'\u0410' && s[0] <= u'\u042F') s[0] = static_cast<char16_t>(s[0] + 0x20);
  return s;
}

std::u16string FormatDate(const TSystemTime& time, std::u16string_view pattern) {
  if (pattern.empty()) pattern = u"DD.MM.YYYY";
  std::u16string out;
  size_t i = 0;
  while (i < pattern.size()) {
    char16_t c = LowerAscii(pattern[i]);
    if (c != u'y' && c != u'm' && c != u'd') {
      if (c != u'\'') out += pattern[i];
      ++i;
      continue;
    }
    size_t start = i;
    while (i < pattern.size() && LowerAscii(pattern[i]) == c) ++i;
    size_t run = i - start;
    if (c == u'y') {
      AppendLastDigits(out, time.wYear, run);
      continue;
    }
    uint32_t value = (c == u'm') ? time.wMonth : time.wDay;
    if (run == 1 || run == 2 || run > 4) {
      AppendNumber(out, value, run == 1 ? 1 : run);
    } else if (c == u'm') {
      if (time.wMonth < 1 || time.wMonth > 12) continue;  // no name for a bad month
      if (run == 3) {
        AppendAscii(out, kShortMonths[time.wMonth - 1]);
      } else {
        std::u16string name;
        AppendAscii(name, kLongMonths[time.wMonth - 1]);
        out += start == 0 ? name : MonthNameGenitive(name);
      }
    } else {
      int32_t dow = DayOfWeek(time);
      AppendAscii(out, run == 3 ? kShortDays[dow] : kLongDays[dow]);
    }
  }
  return out;
}

std::u16string FormatTime(const TSystemTime& time, uint32_t flags) {
  std::u16string out;
  auto part = [&out](uint32_t value, size_t width, char16_t separator) {
    if (!out.empty()) out += separator;
    AppendNumber(out, value, width);
  };
  if (flags & kTimeHour) part(time.wHour, 2, u':');
  if (flags & kTimeMinute) part(time.wMinute, 2, u':');
  if (flags & kTimeSecond) part(time.wSecond, 2, u':');
  if (flags & kTimeMillis) part(time.wMilliseconds, 3, u'.');
  return out;
}

std::u16string DateTimeToText(const TSystemTime& time, std::u16string_view pattern, uint32_t flags) {
  return FormatDate(time, pattern) + u" " + FormatTime(time, flags);
}

}  // namespace kav
