#pragma once
// The engine's date, time and timestamp scales.
//
//   date       i32 day number; 1 January 0001 = 1, 30 December 1899 = 693594
//              (proleptic Gregorian calendar, years 1 to 9999)
//   time       i32 milliseconds since midnight, 0 to 86,399,999
//   timestamp  double: day number x 86,400,000 + milliseconds of the day
//   date-time  double: days since 30 December 1899 with the time of day as
//              the fraction (the component layer's scale; the data header's
//              LastUpdated stores this value minus 693594)
//
// Every function here is pure apart from the Current* ones, which read the
// local clock.

#include <cstdint>
#include <optional>

namespace tarn {

namespace DateScale {
// Day number of 30 December 1899, the zero of the date-time scale.
inline constexpr std::int32_t DateTimeEpochDay = 693594;
inline constexpr std::int32_t MsPerDay = 86400000;
inline constexpr std::int32_t MinYear = 1;
inline constexpr std::int32_t MaxYear = 9999;
// Day numbers of 1 January 0001 and 31 December 9999.
inline constexpr std::int32_t MinDay = 1;
inline constexpr std::int32_t MaxDay = 3652059;
}  // namespace DateScale

struct TCivilDate {
  std::int32_t Year = 1;
  std::int32_t Month = 1;
  std::int32_t Day = 1;
  friend bool operator==(const TCivilDate&, const TCivilDate&) = default;
};

struct TTimeOfDay {
  std::int32_t Hour = 0;
  std::int32_t Minute = 0;
  std::int32_t Second = 0;
  std::int32_t Millisecond = 0;
  friend bool operator==(const TTimeOfDay&, const TTimeOfDay&) = default;
};

bool IsLeapYear(std::int32_t year);
// True for a real calendar day of years 1 to 9999.
bool IsValidDate(std::int32_t year, std::int32_t month, std::int32_t day);

// The day number of a calendar day; nothing when the day does not exist.
std::optional<std::int32_t> EncodeDate(std::int32_t year, std::int32_t month, std::int32_t day);
// The calendar day of a day number. Requires: MinDay <= dayNumber <= MaxDay.
TCivilDate DecodeDate(std::int32_t dayNumber);
// Day of the week, 1 = Sunday to 7 = Saturday. Requires: dayNumber >= 1.
std::int32_t DayOfWeek(std::int32_t dayNumber);

// Milliseconds since midnight; nothing when a part is out of range.
std::optional<std::int32_t> EncodeTime(std::int32_t hour, std::int32_t minute, std::int32_t second,
                                       std::int32_t millisecond);
// Requires: 0 <= ms < MsPerDay.
TTimeOfDay DecodeTime(std::int32_t ms);

// Timestamp of a day number and the milliseconds of that day.
double EncodeTimestamp(std::int32_t dayNumber, std::int32_t ms);
// Splits a timestamp into day number and milliseconds of the day; nothing
// for a value outside days 0 to MaxDay or not finite.
struct TTimestampParts {
  std::int32_t Day = 0;
  std::int32_t Ms = 0;
};
std::optional<TTimestampParts> SplitTimestamp(double timestamp);

// Conversions to and from the date-time scale.
double DateToDateTime(std::int32_t dayNumber);
double TimestampToDateTime(double timestamp);
double DateTimeToTimestamp(double dateTime);

// The local clock.
std::int32_t CurrentDate();        // today's day number
std::int32_t CurrentTime();        // milliseconds since local midnight
double CurrentTimestamp();         // now as a timestamp
double CurrentDateTime();          // now on the date-time scale

}  // namespace tarn
