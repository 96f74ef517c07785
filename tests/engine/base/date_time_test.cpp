#include "engine/base/date_time.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(DateScaleTest, FixedPointsOfTheDayNumberScale) {
  struct TCase {
    std::int32_t Year, Month, Day, DayNumber;
  };
  const TCase cases[] = {
      {1, 1, 1, 1},               // the scale starts at 1
      {1899, 12, 30, 693594},     // zero of the date-time scale
      {1970, 1, 1, 719163},
      {2000, 2, 29, 730179},      // leap day of a century leap year
      {9999, 12, 31, 3652059},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.DayNumber);
    EXPECT_EQ(EncodeDate(c.Year, c.Month, c.Day), c.DayNumber);
    EXPECT_EQ(DecodeDate(c.DayNumber), (TCivilDate{c.Year, c.Month, c.Day}));
  }
}

TEST(DateScaleTest, EveryDayRoundTripsAndDaysAreConsecutive) {
  std::int32_t expected = 1;
  for (std::int32_t y : {1, 4, 100, 1600, 1900, 2024, 9999}) {
    expected = *EncodeDate(y, 1, 1);
    for (std::int32_t m = 1; m <= 12; ++m)
      for (std::int32_t d = 1; d <= 31; ++d) {
        if (!IsValidDate(y, m, d)) continue;
        ASSERT_EQ(EncodeDate(y, m, d), expected) << y << "-" << m << "-" << d;
        ASSERT_EQ(DecodeDate(expected), (TCivilDate{y, m, d}));
        ++expected;
      }
  }
}

TEST(DateScaleTest, InvalidDatesAreRejected) {
  EXPECT_FALSE(EncodeDate(2001, 2, 29));
  EXPECT_FALSE(EncodeDate(1900, 2, 29));
  EXPECT_FALSE(EncodeDate(0, 1, 1));
  EXPECT_FALSE(EncodeDate(10000, 1, 1));
  EXPECT_FALSE(EncodeDate(2001, 13, 1));
  EXPECT_FALSE(EncodeDate(2001, 4, 31));
}

TEST(TimeScaleTest, TimesAndTimestamps) {
  EXPECT_EQ(EncodeTime(0, 0, 0, 0), 0);
  EXPECT_EQ(EncodeTime(23, 59, 59, 999), 86399999);
  EXPECT_FALSE(EncodeTime(24, 0, 0, 0));
  EXPECT_FALSE(EncodeTime(1, 60, 0, 0));
  EXPECT_EQ(DecodeTime(45296789), (TTimeOfDay{12, 34, 56, 789}));

  // A timestamp is day number x 86400000 + milliseconds of the day.
  EXPECT_DOUBLE_EQ(EncodeTimestamp(693594, 43200000), 693594.0 * 86400000 + 43200000);
  const auto parts = SplitTimestamp(EncodeTimestamp(730179, 86399999));
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->Day, 730179);
  EXPECT_EQ(parts->Ms, 86399999);
  EXPECT_FALSE(SplitTimestamp(-1.0));

  // Noon of 30 December 1899 is 0.5 on the date-time scale.
  EXPECT_DOUBLE_EQ(TimestampToDateTime(EncodeTimestamp(693594, 43200000)), 0.5);
  EXPECT_DOUBLE_EQ(DateTimeToTimestamp(0.5), EncodeTimestamp(693594, 43200000));
  EXPECT_DOUBLE_EQ(DateToDateTime(693595), 1.0);
}

TEST(TimeScaleTest, DayOfWeek) {
  EXPECT_EQ(DayOfWeek(*EncodeDate(2024, 6, 2)), 1);  // a Sunday
  EXPECT_EQ(DayOfWeek(*EncodeDate(2024, 6, 8)), 7);  // a Saturday
}

}  // namespace
}  // namespace tarn
