#include "engine/base/literal_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

#include "engine/base/date_time.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

TEST(LiteralTextTest, Dates) {
  EXPECT_EQ(ParseDateText("2001-02-03"), EncodeDate(2001, 2, 3));
  EXPECT_EQ(ParseDateText(" 1-1-1 "), 1);
  EXPECT_EQ(ParseDateText("2000-2-29"), EncodeDate(2000, 2, 29));
  for (const char* bad : {"2001-02-30", "2001-13-01", "2001/02/03", "2001-02", "20010203", "",
                          "0-1-1", "2001-02-03x", "-2001-02-03"})
    EXPECT_FALSE(ParseDateText(bad)) << bad;
}

TEST(LiteralTextTest, Times) {
  struct TCase {
    const char* Text;
    std::int32_t Ms;  // -1: rejected
  };
  const TCase cases[] = {
      {"10:30", 37800000},
      {"10:30:15", 37815000},
      {"10:30:15.250", 37815250},
      {"10:30:15.5", 37815005},  // the digits are the millisecond count
      {"12:00 AM", 0},
      {"12:00 PM", 43200000},
      {"1:05 pm", 47100000},
      {"AM 11:59", 43140000},
      {"11 PM:00", 82800000},  // the marker may stand between the parts
      {"23:59:59.999", 86399999},
      {"13:00 PM", -1},
      {"24:00", -1},
      {"10", -1},
      {"10:60", -1},
      {"10:30:15.1000", -1},
      {"10:30 AM PM", -1},
      {"10-30", -1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const auto v = ParseTimeText(c.Text);
    if (c.Ms < 0) {
      EXPECT_FALSE(v);
    } else {
      EXPECT_EQ(v, c.Ms);
    }
  }
}

TEST(LiteralTextTest, TimestampsTakeDateTimeOrEither) {
  const std::int32_t day = *EncodeDate(2020, 5, 17);
  EXPECT_EQ(ParseTimestampText("2020-05-17 08:15:30"), EncodeTimestamp(day, 29730000));
  EXPECT_EQ(ParseTimestampText("2020-05-17   8:15 PM"), EncodeTimestamp(day, 72900000));
  EXPECT_EQ(ParseTimestampText("2020-05-17"), EncodeTimestamp(day, 0));
  EXPECT_EQ(ParseTimestampText("08:15"), EncodeTimestamp(0, 29700000));
  EXPECT_FALSE(ParseTimestampText("2020-05-17 25:00"));
  EXPECT_FALSE(ParseTimestampText("2020-02-30 10:00"));
  EXPECT_FALSE(ParseTimestampText("noon"));
}

TEST(LiteralTextTest, NumbersAndBooleans) {
  EXPECT_EQ(ParseIntegerText("-32768", -32768, 32767), -32768);
  EXPECT_FALSE(ParseIntegerText("32768", -32768, 32767));
  EXPECT_EQ(ParseIntegerText("-9223372036854775808", std::numeric_limits<std::int64_t>::min(),
                             std::numeric_limits<std::int64_t>::max()),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_FALSE(
      ParseIntegerText("9223372036854775808", 0, std::numeric_limits<std::int64_t>::max()));
  EXPECT_FALSE(ParseIntegerText("1.0", 0, 10));
  EXPECT_FALSE(ParseIntegerText("", 0, 10));
  EXPECT_FALSE(ParseIntegerText("+", 0, 10));

  EXPECT_EQ(ParseFloatText("1.5"), 1.5);
  EXPECT_EQ(ParseFloatText("-.5e1"), -5.0);
  EXPECT_FALSE(ParseFloatText("1,5"));
  EXPECT_FALSE(ParseFloatText("1e"));
  EXPECT_FALSE(ParseFloatText("."));
  EXPECT_FALSE(ParseFloatText("1e999"));

  EXPECT_EQ(ParseBooleanText("true"), true);
  EXPECT_EQ(ParseBooleanText(" FaLsE "), false);
  EXPECT_FALSE(ParseBooleanText("yes"));
}

// A locale whose decimal point is ",", built for the test in a temporary
// directory: the system may have no such locale installed. localedef (part
// of the C library's tools) compiles a source that defines LC_NUMERIC only,
// against a character map of plain ASCII written beside it; LOCPATH points
// setlocale at the result while the object lives. Everything before is put
// back when it goes away.
class TCommaDecimalLocale {
 public:
  static constexpr const char* Name = "tarn_comma";

  TCommaDecimalLocale() {
    {
      std::ofstream charmap(FDir.File("ascii.cm"));
      charmap << "<code_set_name> ANSI_X3.4-1968\n<escape_char> /\n<mb_cur_min> 1\n<mb_cur_max> 1\n"
                 "CHARMAP\n";
      char line[32];
      for (int c = 0; c < 128; ++c) {
        std::snprintf(line, sizeof line, "<U%04X> /x%02x\n", c, c);
        charmap << line;
      }
      charmap << "END CHARMAP\n";
      std::ofstream source(FDir.File("comma.src"));
      source << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\ngrouping 3;3\n"
                "END LC_NUMERIC\n";
    }
    // -c: write the locale although the other categories are not defined
    // (localedef warns about each and ends with 1 for that).
    const std::string command = "localedef --no-archive -c -f '" + FDir.File("ascii.cm") +
                                "' -i '" + FDir.File("comma.src") + "' '" + FDir.File(Name) +
                                "' >/dev/null 2>&1";
    FBuildStatus = std::system(command.c_str());
    if (const char* previous = std::getenv("LOCPATH")) FPreviousLocPath = previous;
    setenv("LOCPATH", FDir.Path().c_str(), 1);
    FSavedNumeric = std::setlocale(LC_NUMERIC, nullptr);
    FActive = std::setlocale(LC_NUMERIC, Name) != nullptr;
  }
  ~TCommaDecimalLocale() {
    std::setlocale(LC_NUMERIC, FSavedNumeric.c_str());
    if (FPreviousLocPath) {
      setenv("LOCPATH", FPreviousLocPath->c_str(), 1);
    } else {
      unsetenv("LOCPATH");
    }
  }
  TCommaDecimalLocale(const TCommaDecimalLocale&) = delete;
  TCommaDecimalLocale& operator=(const TCommaDecimalLocale&) = delete;

  // The locale is in effect for LC_NUMERIC; otherwise Describe() says why.
  bool Active() const { return FActive; }
  std::string Describe() const {
    return "localedef status " + std::to_string(FBuildStatus) + ", LOCPATH " + FDir.Path();
  }

 private:
  testing_support::TTempDir FDir;
  int FBuildStatus = -1;
  std::optional<std::string> FPreviousLocPath;
  std::string FSavedNumeric;
  bool FActive = false;
};

TEST(LiteralTextTest, DecimalPointIsDotWhateverTheLocale) {
  const TCommaDecimalLocale comma;
  ASSERT_TRUE(comma.Active()) << "the comma-decimal locale could not be built: "
                              << comma.Describe();
  // The C library now reads and writes the comma ...
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(std::strtod("1,5", nullptr), 1.5);
  // ... and literals keep the point.
  for (const char* text : {"1.5", " 1.5 ", "-0.25e1", ".5"})
    EXPECT_TRUE(ParseFloatText(text)) << text;
  EXPECT_EQ(ParseFloatText("1.5"), 1.5);
  EXPECT_EQ(ParseFloatText("-0.25e1"), -2.5);
  EXPECT_FALSE(ParseFloatText("1,5"));
  EXPECT_FALSE(ParseFloatText("1,"));
  EXPECT_EQ(ClassifyIntegerLiteral("99999999999999999999").FloatValue, 1e20);
}

TEST(LiteralTextTest, IntegerLiteralTypes) {
  EXPECT_EQ(ClassifyIntegerLiteral("2147483647").Kind, TIntegerLiteralKind::Int32);
  const auto big = ClassifyIntegerLiteral("2147483648");
  EXPECT_EQ(big.Kind, TIntegerLiteralKind::Int64);
  EXPECT_EQ(big.IntValue, 2147483648LL);
  const auto huge = ClassifyIntegerLiteral("99999999999999999999");
  EXPECT_EQ(huge.Kind, TIntegerLiteralKind::Float);
  EXPECT_DOUBLE_EQ(huge.FloatValue, 1e20);
  EXPECT_EQ(ClassifyIntegerLiteral("12a").Kind, TIntegerLiteralKind::Invalid);
}

}  // namespace
}  // namespace tarn
