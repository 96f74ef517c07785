#include "engine/base/date_time.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

namespace tarn {

namespace {

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1-12).
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Day number 1 is 0001-01-01.
constexpr std::int64_t DayNumberOfUnixEpoch = 719163;

}  // namespace

bool IsLeapYear(std::int32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

bool IsValidDate(std::int32_t year, std::int32_t month, std::int32_t day) {
  static constexpr std::int32_t MonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < DateScale::MinYear || year > DateScale::MaxYear) return false;
  if (month < 1 || month > 12 || day < 1) return false;
  const std::int32_t last = MonthDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
  return day <= last;
}

std::optional<std::int32_t> EncodeDate(std::int32_t year, std::int32_t month, std::int32_t day) {
  if (!IsValidDate(year, month, day)) return std::nullopt;
  return static_cast<std::int32_t>(DaysFromCivil(year, month, day) + DayNumberOfUnixEpoch);
}

TCivilDate DecodeDate(std::int32_t dayNumber) {
  const std::int64_t z = std::int64_t{dayNumber} - DayNumberOfUnixEpoch + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  return {static_cast<std::int32_t>(y), static_cast<std::int32_t>(m), static_cast<std::int32_t>(d)};
}

std::int32_t DayOfWeek(std::int32_t dayNumber) {
  // Day 1 (0001-01-01) was a Monday.
  return static_cast<std::int32_t>(dayNumber % 7) + 1;
}

std::optional<std::int32_t> EncodeTime(std::int32_t hour, std::int32_t minute, std::int32_t second,
                                       std::int32_t millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return std::nullopt;
  return ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

TTimeOfDay DecodeTime(std::int32_t ms) {
  TTimeOfDay t;
  t.Millisecond = ms % 1000;
  ms /= 1000;
  t.Second = ms % 60;
  ms /= 60;
  t.Minute = ms % 60;
  t.Hour = ms / 60;
  return t;
}

double EncodeTimestamp(std::int32_t dayNumber, std::int32_t ms) {
  return static_cast<double>(dayNumber) * DateScale::MsPerDay + static_cast<double>(ms);
}

std::optional<TTimestampParts> SplitTimestamp(double timestamp) {
  if (!std::isfinite(timestamp) || timestamp < 0 ||
      timestamp >= (static_cast<double>(DateScale::MaxDay) + 1) * DateScale::MsPerDay)
    return std::nullopt;
  const double whole = std::floor(timestamp);
  const std::int64_t total = static_cast<std::int64_t>(whole);
  return TTimestampParts{static_cast<std::int32_t>(total / DateScale::MsPerDay),
                         static_cast<std::int32_t>(total % DateScale::MsPerDay)};
}

double DateToDateTime(std::int32_t dayNumber) {
  return static_cast<double>(dayNumber - DateScale::DateTimeEpochDay);
}

double TimestampToDateTime(double timestamp) {
  return timestamp / DateScale::MsPerDay - DateScale::DateTimeEpochDay;
}

double DateTimeToTimestamp(double dateTime) {
  return std::round((dateTime + DateScale::DateTimeEpochDay) * DateScale::MsPerDay);
}

namespace {

struct TLocalNow {
  std::int32_t Day;
  std::int32_t Ms;
};

TLocalNow LocalNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&secs, &local);
  const std::int32_t day =
      static_cast<std::int32_t>(DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                                DayNumberOfUnixEpoch);
  const std::int32_t timeMs = ((local.tm_hour * 60 + local.tm_min) * 60 + std::min(local.tm_sec, 59)) * 1000 +
                              static_cast<std::int32_t>(ms < 0 ? 0 : ms);
  return {day, timeMs};
}

}  // namespace

std::int32_t CurrentDate() { return LocalNow().Day; }
std::int32_t CurrentTime() { return LocalNow().Ms; }

double CurrentTimestamp() {
  const TLocalNow now = LocalNow();
  return EncodeTimestamp(now.Day, now.Ms);
}

double CurrentDateTime() { return TimestampToDateTime(CurrentTimestamp()); }

}  // namespace tarn
