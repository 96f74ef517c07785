#include "engine/base/literal_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "engine/base/date_time.h"

namespace tarn {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Reads 1 to maxDigits decimal digits at s[pos]; advances pos.
std::optional<std::int32_t> ReadNumber(std::string_view s, std::size_t& pos, std::size_t maxDigits) {
  std::size_t start = pos;
  std::int32_t v = 0;
  while (pos < s.size() && IsDigit(s[pos])) {
    if (pos - start == maxDigits) return std::nullopt;
    v = v * 10 + (s[pos] - '0');
    ++pos;
  }
  if (pos == start) return std::nullopt;
  return v;
}

void SkipBlanks(std::string_view s, std::size_t& pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
}

}  // namespace

std::optional<std::int32_t> ParseDateText(std::string_view text) {
  const std::string_view s = Trim(text);
  std::size_t pos = 0;
  const auto year = ReadNumber(s, pos, 4);
  if (!year || pos >= s.size() || s[pos++] != '-') return std::nullopt;
  const auto month = ReadNumber(s, pos, 2);
  if (!month || pos >= s.size() || s[pos++] != '-') return std::nullopt;
  const auto day = ReadNumber(s, pos, 2);
  if (!day || pos != s.size()) return std::nullopt;
  return EncodeDate(*year, *month, *day);
}

std::optional<std::int32_t> ParseTimeText(std::string_view text) {
  const std::string_view s = Trim(text);
  std::size_t pos = 0;
  int meridiem = 0;  // 0 none, 1 AM, 2 PM
  // An AM/PM marker may stand before, between or after the parts.
  auto readMeridiem = [&]() -> bool {
    SkipBlanks(s, pos);
    if (pos + 1 < s.size() && (Upper(s[pos]) == 'A' || Upper(s[pos]) == 'P') && Upper(s[pos + 1]) == 'M') {
      if (meridiem != 0) return false;
      meridiem = Upper(s[pos]) == 'A' ? 1 : 2;
      pos += 2;
      SkipBlanks(s, pos);
    }
    return true;
  };
  std::int32_t parts[4] = {0, 0, 0, 0};
  std::size_t count = 0;
  if (!readMeridiem()) return std::nullopt;
  for (;;) {
    const auto v = ReadNumber(s, pos, count == 3 ? 3 : 2);
    if (!v) return std::nullopt;
    parts[count++] = *v;
    if (!readMeridiem()) return std::nullopt;
    if (pos >= s.size()) break;
    const char sep = s[pos];
    if (count < 3 && sep == ':') {
      ++pos;
    } else if (count == 3 && sep == '.') {
      ++pos;
    } else {
      return std::nullopt;
    }
    if (!readMeridiem()) return std::nullopt;
  }
  if (count < 2) return std::nullopt;
  std::int32_t hour = parts[0];
  if (meridiem != 0) {
    if (hour < 1 || hour > 12) return std::nullopt;
    if (meridiem == 1 && hour == 12) hour = 0;
    if (meridiem == 2 && hour != 12) hour += 12;
  }
  return EncodeTime(hour, parts[1], parts[2], parts[3]);
}

std::optional<double> ParseTimestampText(std::string_view text) {
  const std::string_view s = Trim(text);
  const std::size_t blank = s.find(' ');
  if (blank != std::string_view::npos) {
    // A date, blanks, then a time (which may itself hold an AM/PM marker).
    const auto day = ParseDateText(s.substr(0, blank));
    if (!day) return std::nullopt;
    const auto ms = ParseTimeText(s.substr(blank + 1));
    if (!ms) return std::nullopt;
    return EncodeTimestamp(*day, *ms);
  }
  if (s.find(':') != std::string_view::npos) {
    const auto ms = ParseTimeText(s);
    if (!ms) return std::nullopt;
    return EncodeTimestamp(0, *ms);
  }
  const auto day = ParseDateText(s);
  if (!day) return std::nullopt;
  return EncodeTimestamp(*day, 0);
}

std::optional<std::int64_t> ParseIntegerText(std::string_view text, std::int64_t minValue, std::int64_t maxValue) {
  const std::string_view s = Trim(text);
  std::size_t pos = 0;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
  if (pos == s.size()) return std::nullopt;
  // Accumulate the magnitude as unsigned to reach INT64_MIN.
  std::uint64_t magnitude = 0;
  constexpr std::uint64_t Limit = std::uint64_t{1} << 63;
  for (; pos < s.size(); ++pos) {
    if (!IsDigit(s[pos])) return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(s[pos] - '0');
    if (magnitude > (Limit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative && magnitude == Limit) return std::nullopt;
  const std::int64_t v = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  if (v < minValue || v > maxValue) return std::nullopt;
  return v;
}

std::optional<double> ParseFloatText(std::string_view text) {
  const std::string_view s = Trim(text);
  std::size_t pos = 0;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) ++pos;
  bool digits = false;
  while (pos < s.size() && IsDigit(s[pos])) {
    ++pos;
    digits = true;
  }
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    while (pos < s.size() && IsDigit(s[pos])) {
      ++pos;
      digits = true;
    }
  }
  if (!digits) return std::nullopt;
  if (pos < s.size() && (s[pos] == 'E' || s[pos] == 'e')) {
    ++pos;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) ++pos;
    if (pos == s.size() || !IsDigit(s[pos])) return std::nullopt;
    while (pos < s.size() && IsDigit(s[pos])) ++pos;
  }
  if (pos != s.size()) return std::nullopt;
  // from_chars reads the "C" form whatever the locale; it takes no "+".
  const std::size_t start = s.front() == '+' ? 1 : 0;
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data() + start, s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<bool> ParseBooleanText(std::string_view text) {
  const std::string_view s = Trim(text);
  auto equals = [&](std::string_view word) {
    if (s.size() != word.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i)
      if (Upper(s[i]) != word[i]) return false;
    return true;
  };
  if (equals("TRUE")) return true;
  if (equals("FALSE")) return false;
  return std::nullopt;
}

std::optional<TBcd> ParseBcdText(std::string_view text, std::uint8_t scale) {
  return BcdFromText(text, scale);
}

TIntegerLiteral ClassifyIntegerLiteral(std::string_view digits) {
  TIntegerLiteral out;
  if (digits.empty()) return out;
  for (char c : digits)
    if (!IsDigit(c)) return out;
  if (const auto v = ParseIntegerText(digits, 0, std::numeric_limits<std::int64_t>::max())) {
    out.IntValue = *v;
    out.Kind = *v <= std::numeric_limits<std::int32_t>::max() ? TIntegerLiteralKind::Int32 : TIntegerLiteralKind::Int64;
    return out;
  }
  if (const auto f = ParseFloatText(digits)) {
    out.Kind = TIntegerLiteralKind::Float;
    out.FloatValue = *f;
  }
  return out;
}

}  // namespace tarn
