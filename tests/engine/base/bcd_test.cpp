#include "engine/base/bcd.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(BcdTest, StoredBytesOfKnownValues) {
  // -12.34 with precision 32, scale 2: 30 integer digits then "34".
  const auto v = BcdFromText("-12.34", 2);
  ASSERT_TRUE(v);
  std::uint8_t bytes[TBcd::StoredSize] = {};
  v->Store(bytes);
  EXPECT_EQ(bytes[0], 32);      // precision
  EXPECT_EQ(bytes[1], 0x82);    // negative, two places
  // Digits 0-31: 28 zeros, then 1 2 3 4, high nibble first.
  for (int i = 2; i < 2 + 14; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(bytes[16], 0x12);
  EXPECT_EQ(bytes[17], 0x34);
  for (int i = 18; i < 34; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(TBcd::Load(bytes), *v);
}

TEST(BcdTest, TextRoundTripsWithSignsAndScales) {
  struct TCase {
    const char* Text;
    std::uint8_t Scale;
    const char* Expected;  // nullptr: rejected
  };
  const TCase cases[] = {
      {"0", 0, "0"},
      {"-0", 2, "0.00"},  // zero is never negative
      {"12.5", 0, "13"},  // half rounds away from zero
      {"-12.5", 0, "-13"},
      {"1.005", 2, "1.01"},
      {"  7 ", 3, "7.000"},
      {"+3.14159", 4, "3.1416"},
      {".5", 1, "0.5"},
      {"1E3", 0, "1000"},
      {"25e-1", 1, "2.5"},
      {"99999999999999999999999999999999", 0, "99999999999999999999999999999999"},
      {"999999999999999999999999999999999", 0, nullptr},  // 33 digits
      {"9999999999999999999999999999999", 2, nullptr},    // 31 + 2 > 32
      {"1.2.3", 0, nullptr},
      {"", 0, nullptr},
      {"-", 0, nullptr},
      {"1,5", 1, nullptr},
      {"12abc", 0, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const auto v = BcdFromText(c.Text, c.Scale);
    if (c.Expected == nullptr) {
      EXPECT_FALSE(v);
      continue;
    }
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->IsValid());
    EXPECT_EQ(v->Scale(), c.Scale);
    EXPECT_EQ(BcdToText(*v), c.Expected);
  }
}

TEST(BcdTest, NumericConversionsAndComparison) {
  EXPECT_EQ(BcdToText(*BcdFromInt64(-9223372036854775807LL - 1, 0)), "-9223372036854775808");
  EXPECT_EQ(BcdToText(*BcdFromDouble(-2.675, 1)), "-2.7");
  EXPECT_DOUBLE_EQ(BcdToDouble(*BcdFromText("-1234.5678", 4)), -1234.5678);
  EXPECT_FALSE(BcdFromDouble(1e40, 0));

  EXPECT_EQ(CompareBcd(*BcdFromText("1.50", 2), *BcdFromText("1.5", 4)), 0);
  EXPECT_EQ(CompareBcd(*BcdFromText("-2", 0), *BcdFromText("1", 0)), -1);
  EXPECT_EQ(CompareBcd(*BcdFromText("-2", 0), *BcdFromText("-10", 0)), 1);
  EXPECT_EQ(CompareBcd(*BcdFromText("10", 0), *BcdFromText("9.99", 2)), 1);
}

TEST(BcdTest, RescaleAndValidity) {
  const auto v = RescaleBcd(*BcdFromText("123.456", 3), 10, 1);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->Precision, 10);
  EXPECT_EQ(BcdToText(*v), "123.5");
  EXPECT_FALSE(RescaleBcd(*BcdFromText("123456", 0), 5, 0));

  std::uint8_t bytes[TBcd::StoredSize] = {};
  bytes[0] = 4;
  bytes[1] = 5;  // scale above precision
  EXPECT_FALSE(TBcd::Load(bytes).IsValid());
  bytes[1] = 0;
  bytes[2] = 0xA0;  // a nibble that is no digit
  EXPECT_FALSE(TBcd::Load(bytes).IsValid());
  bytes[2] = 0x10;
  bytes[5] = 0x01;  // a digit beyond the precision
  EXPECT_FALSE(TBcd::Load(bytes).IsValid());
  EXPECT_FALSE(RescaleBcd(TBcd::Load(bytes), 32, 0));
}

}  // namespace
}  // namespace tarn
