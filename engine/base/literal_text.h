#pragma once
// Reading literal texts: the date, time, timestamp, number and boolean forms
// accepted by the expression language's conversions and by the minimum,
// maximum and default texts of field definitions. The decimal separator is
// always ".", whatever the locale. Surrounding blanks are ignored everywhere.
//
//   date       year "-" month "-" day, decimal numbers ("2001-2-3"); the day
//              must exist (1 to 9999 years)
//   time       hour ":" minute [":" second ["." milliseconds]], with an
//              optional "AM" or "PM" (any letter case) anywhere between the
//              parts; with AM/PM the hour is 1 to 12, "12 AM" is hour 0 and
//              PM adds 12 to the other hours. The milliseconds are the count
//              itself, 1 to 3 digits ("10:00:00.5" is 5 ms past the second)
//   timestamp  a date and a time separated by blanks; a time alone when the
//              text holds ":" but no blank; otherwise a date alone
//   integer    optional sign, decimal digits
//   float      optional sign, digits with an optional "." and optional
//              exponent ("E"/"e", optional sign, digits); also ".5"
//   boolean    "TRUE" or "FALSE", any letter case
// Results are in the engine's storage scales (date_time.h).

#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/base/bcd.h"

namespace tarn {

// Day number of a date text.
std::optional<std::int32_t> ParseDateText(std::string_view text);
// Milliseconds since midnight of a time text.
std::optional<std::int32_t> ParseTimeText(std::string_view text);
// Timestamp (day number x 86400000 + ms) of a timestamp, date or time text; a
// time alone falls on day 0.
std::optional<double> ParseTimestampText(std::string_view text);

// A decimal integer within [minValue, maxValue].
std::optional<std::int64_t> ParseIntegerText(std::string_view text, std::int64_t minValue, std::int64_t maxValue);
std::optional<double> ParseFloatText(std::string_view text);
std::optional<bool> ParseBooleanText(std::string_view text);
// A number text as a BCD value of precision 32 and the given scale.
std::optional<TBcd> ParseBcdText(std::string_view text, std::uint8_t scale);

// The type an unsigned integer literal of the expression language takes: a
// 32-bit integer when it fits, else a 64-bit integer, else floating point.
enum class TIntegerLiteralKind : std::uint8_t { Int32, Int64, Float, Invalid };
struct TIntegerLiteral {
  TIntegerLiteralKind Kind = TIntegerLiteralKind::Invalid;
  std::int64_t IntValue = 0;
  double FloatValue = 0;
};
TIntegerLiteral ClassifyIntegerLiteral(std::string_view digits);

}  // namespace tarn
