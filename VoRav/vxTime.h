// Elapsed time, sleeping, and local date and time as text.
//
// The system's clock for everything but the show clock is the number of
// milliseconds since program start, from a monotonic clock. The 32-bit form
// wraps after 49.7 days: subtract two values as unsigned numbers (or use
// ElapsedSinceMs / IsTimeReached), never compare them with < or >.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace kav {

// Milliseconds of the monotonic clock (CLOCK_MONOTONIC) with no fixed origin.
int64_t MonotonicMs();
// Milliseconds since program start, 64-bit: never wraps.
int64_t GetElapsedMs64();
// Milliseconds since program start, 32-bit: wraps with the timer.
uint32_t GetElapsedMs();
// Milliseconds from a 32-bit `start` to now, correct across a wrap.
inline uint32_t ElapsedSinceMs(uint32_t start) { return GetElapsedMs() - start; }
// True when the 32-bit time `now` is at or after `deadline` (within 24.8 days).
inline bool IsTimeReached(uint32_t now, uint32_t deadline) {
  return static_cast<int32_t>(now - deadline) >= 0;
}

// Sleeps `ms` milliseconds; 0 gives up the rest of the time slice.
void SleepMs(uint32_t ms);
// Timer-resolution requests. The system's timers are already fine-grained,
// so these only answer true.
bool BeginTimerPeriod(uint32_t ms);
bool EndTimerPeriod(uint32_t ms);

// A date and time as Windows' SYSTEMTIME holds it. wDayOfWeek is 0 for Sunday.
struct TSystemTime {
  uint16_t wYear = 0;
  uint16_t wMonth = 0;
  uint16_t wDayOfWeek = 0;
  uint16_t wDay = 0;
  uint16_t wHour = 0;
  uint16_t wMinute = 0;
  uint16_t wSecond = 0;
  uint16_t wMilliseconds = 0;
};

// The current local date and time.
void GetLocalTimeNow(TSystemTime& time);
// The fields of a broken-down time (as localtime_r fills it) with `millis`.
TSystemTime SystemTimeFromTm(const std::tm& t, uint16_t millis);

// The date part of `time` by `pattern` (empty means "DD.MM.YYYY"): runs of Y
// give that many digits of the year counted from the right; runs of M and D
// give the number (1 letter), two digits (2), the short name (3), the long
// name (4) or that many digits (5 and more); a single quotation mark is
// dropped; everything else is copied. Only letters below U+0080 count.
std::u16string FormatDate(const TSystemTime& time, std::u16string_view pattern);

// Time-part flags for FormatTime.
enum : uint32_t {
  kTimeHour = 1,     // hour, 2 digits
  kTimeMinute = 2,   // ":" and minute, 2 digits
  kTimeSecond = 4,   // ":" and second, 2 digits
  kTimeMillis = 8,   // "." and milliseconds, 3 digits
};
// The time part of `time` by `flags`; a part that comes first has no separator.
std::u16string FormatTime(const TSystemTime& time, uint32_t flags);
// FormatDate + " " + FormatTime; the log uses "DD.MM.YYYY" and flags 15.
std::u16string DateTimeToText(const TSystemTime& time, std::u16string_view pattern, uint32_t flags);

// The genitive form of a Russian long month name, used when the name does not
// start the pattern; other names come back unchanged.
std::u16string MonthNameGenitive(std::u16string_view name);

bool IsLeapYear(int32_t year);
// Proleptic Gregorian day count, 1 for 1 January of year 1. Months outside
// 1..12 are clamped into that range.
int32_t DayNumber(int32_t year, int32_t month, int32_t day);
// 0 for Sunday .. 6 for Saturday, from the date fields of `time`.
int32_t DayOfWeek(const TSystemTime& time);

}  // namespace kav
