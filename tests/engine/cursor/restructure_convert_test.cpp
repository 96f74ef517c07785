// The value conversions of a restructure, as one table of cases: the old
// field and its stored value, the new field, and the bytes stored for it
// (with whether the conversion counts as a loss of data).

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/cursor/restructure_convert.h"
#include "engine/table/field_types.h"

namespace {

using namespace tarn;
using TBytes = std::vector<std::uint8_t>;

TFieldDesc Def(std::uint8_t type, std::uint8_t size = 0, std::uint8_t scale = 0) {
  TFieldDesc f = MakeFieldDesc(1, "F", type, 0, size, scale);
  f.ComputePhysical();
  return f;
}
TBytes Txt(const std::string& s) { return TBytes(s.begin(), s.end()); }
TBytes Padded(const std::string& s, std::size_t n) {
  TBytes b = Txt(s);
  b.resize(n, 0);
  return b;
}
TBytes I16(std::int16_t v) {
  TBytes b(2);
  PutLEI16(b, 0, v);
  return b;
}
TBytes U16(std::uint16_t v) {
  TBytes b(2);
  PutLE16(b, 0, v);
  return b;
}
TBytes I32(std::int32_t v) {
  TBytes b(4);
  PutLEI32(b, 0, v);
  return b;
}
TBytes I64(std::int64_t v) {
  TBytes b(8);
  PutLEI64(b, 0, v);
  return b;
}
TBytes F64(double v) {
  TBytes b(8);
  PutLEDouble(b, 0, v);
  return b;
}
TBytes Bcd(const std::string& text, std::uint8_t scale) {
  TBytes b(TBcd::StoredSize);
  BcdFromText(text, scale)->Store(b);
  return b;
}
std::int32_t Day(int y, int m, int d) { return *EncodeDate(y, m, d); }
const std::int32_t TenThirty = (10 * 3600 + 30 * 60 + 5) * 1000;
double Stamp(std::int32_t day, std::int32_t ms) { return static_cast<double>(day) * DateScale::MsPerDay + ms; }

struct TCase {
  const char* What;
  TFieldDesc From;
  TBytes Value;
  TFieldDesc To;
  TBytes Stored;
  bool Converted;
};

TEST(RestructureConvertTest, ConversionTable) {
  using namespace FieldType;
  const std::int32_t day = Day(2001, 2, 3);
  const TCase cases[] = {
      // string to every type that parses it
      {"string to int32", Def(String, 10), Txt("123"), Def(Int32), I32(123), true},
      {"string not a number to int32", Def(String, 10), Txt("12x"), Def(Int32), I32(0), false},
      {"string to int16 keeps low bits", Def(String, 10), Txt("70000"), Def(Int16), I16(4464), true},
      {"string to uint16", Def(String, 10), Txt("-1"), Def(UInt16), U16(65535), true},
      {"string to int64", Def(String, 30), Txt("-9000000000"), Def(Int64), I64(-9000000000LL), true},
      {"string to float", Def(String, 10), Txt("3.25"), Def(Float), F64(3.25), true},
      {"string to BCD", Def(String, 10), Txt("1.5"), Def(FieldType::Bcd, 0, 2), Bcd("1.50", 2), true},
      {"string not a number to BCD", Def(String, 10), Txt("one"), Def(FieldType::Bcd, 0, 2), Bcd("0", 2), false},
      {"string to boolean", Def(String, 10), Txt("true"), Def(Boolean), U16(1), true},
      {"string not a boolean", Def(String, 10), Txt("yes"), Def(Boolean), U16(0), false},
      {"string to date", Def(String, 12), Txt("2001-02-03"), Def(Date), I32(day), true},
      {"string not a date", Def(String, 12), Txt("2001-02-30"), Def(Date), I32(0), false},
      {"string to time", Def(String, 12), Txt("10:30:05"), Def(Time), I32(TenThirty), true},
      {"string to timestamp", Def(String, 30), Txt("2001-02-03 10:30:05"), Def(Timestamp), F64(Stamp(day, TenThirty)), true},
      {"string to bytes, cut", Def(String, 10), Txt("abcdef"), Def(Bytes, 4), Txt("abcd"), true},
      {"string shortened", Def(String, 50), Txt("hello world"), Def(String, 5), Txt("hello"), true},
      {"string to blob", Def(String, 10), Txt("x"), Def(Blob), {}, false},
      // date, time, timestamp
      {"date to string", Def(Date), I32(day), Def(String, 20), Txt("2001-02-03"), true},
      {"date to timestamp", Def(Date), I32(day), Def(Timestamp), F64(Stamp(day, 0)), true},
      {"date to bytes", Def(Date), I32(day), Def(Bytes, 4), I32(day), true},
      {"date to int32", Def(Date), I32(day), Def(Int32), I32(0), false},
      {"time to string", Def(Time), I32(TenThirty), Def(String, 20), Txt("10:30:05"), true},
      {"time to timestamp", Def(Time), I32(TenThirty), Def(Timestamp), F64(Stamp(DateScale::DateTimeEpochDay, TenThirty)), true},
      {"time to date", Def(Time), I32(TenThirty), Def(Date), I32(0), false},
      {"timestamp to date", Def(Timestamp), F64(Stamp(day, TenThirty)), Def(Date), I32(day), true},
      {"timestamp to time", Def(Timestamp), F64(Stamp(day, TenThirty)), Def(Time), I32(TenThirty), true},
      {"timestamp to string", Def(Timestamp), F64(Stamp(day, TenThirty)), Def(String, 30), Txt("2001-02-03 10:30:05"), true},
      {"timestamp to float", Def(Timestamp), F64(1), Def(Float), F64(0), false},
      // boolean
      {"boolean to string", Def(Boolean), U16(1), Def(String, 8), Txt("True"), true},
      {"boolean to int16", Def(Boolean), U16(1), Def(Int16), I16(1), true},
      {"boolean to BCD", Def(Boolean), U16(1), Def(FieldType::Bcd, 0, 1), Bcd("1", 1), true},
      {"boolean to float", Def(Boolean), U16(1), Def(Float), F64(0), false},
      // integers
      {"int16 to string", Def(Int16), I16(-5), Def(String, 8), Txt("-5"), true},
      {"int16 to boolean", Def(Int16), I16(-5), Def(Boolean), U16(1), true},
      {"int16 to uint16", Def(Int16), I16(-5), Def(UInt16), U16(65531), true},
      {"int16 to float", Def(Int16), I16(-5), Def(Float), F64(-5), true},
      {"int16 to BCD", Def(Int16), I16(-5), Def(FieldType::Bcd, 0, 2), Bcd("-5", 2), true},
      {"int16 to bytes", Def(Int16), I16(-5), Def(Bytes, 3), {0xFB, 0xFF, 0x00}, true},
      {"int32 to int16 keeps low bits", Def(Int32), I32(70000), Def(Int16), I16(4464), true},
      {"int32 to int64", Def(Int32), I32(-7), Def(Int64), I64(-7), true},
      {"int32 to boolean", Def(Int32), I32(1), Def(Boolean), U16(0), false},
      {"int32 to date", Def(Int32), I32(1), Def(Date), I32(0), false},
      {"uint16 to int16", Def(UInt16), U16(65535), Def(Int16), I16(-1), true},
      {"uint16 to boolean", Def(UInt16), U16(0), Def(Boolean), U16(0), true},
      {"int64 to uint16", Def(Int64), I64(65537), Def(UInt16), U16(1), true},
      {"int64 to string", Def(Int64), I64(-9000000000LL), Def(String, 20), Txt("-9000000000"), true},
      {"int64 to boolean", Def(Int64), I64(1), Def(Boolean), U16(0), false},
      // float
      {"float to int32 truncates", Def(Float), F64(-3.99), Def(Int32), I32(-3), true},
      {"float beyond 64 bits", Def(Float), F64(1e30), Def(Int64), I64(0), false},
      {"float to BCD", Def(Float), F64(2.5), Def(FieldType::Bcd, 0, 2), Bcd("2.50", 2), true},
      {"float to string", Def(Float), F64(3.25), Def(String, 10), Txt("3.25"), true},
      {"float to boolean", Def(Float), F64(1), Def(Boolean), U16(0), false},
      // BCD
      {"BCD to int32", Def(FieldType::Bcd, 0, 2), Bcd("-12.99", 2), Def(Int32), I32(-12), true},
      {"BCD to float", Def(FieldType::Bcd, 0, 2), Bcd("12.5", 2), Def(Float), F64(12.5), true},
      {"BCD to string", Def(FieldType::Bcd, 0, 2), Bcd("12.50", 2), Def(String, 10), Txt("12.5"), true},
      {"BCD to fewer decimals", Def(FieldType::Bcd, 0, 3), Bcd("12.345", 3), Def(FieldType::Bcd, 0, 1), Bcd("12.3", 1), true},
      {"BCD too large for its scale", Def(FieldType::Bcd, 0, 0), Bcd("99999999999999999999999999999999", 0),
       Def(FieldType::Bcd, 0, 4), Bcd("0", 4), false},
      {"BCD to boolean", Def(FieldType::Bcd, 0, 2), Bcd("1", 2), Def(Boolean), U16(0), false},
      // bytes copy into anything but a blob
      {"bytes to int32", Def(Bytes, 4), {1, 2, 0, 0}, Def(Int32), I32(0x201), true},
      {"bytes to string", Def(Bytes, 6), Padded("ab", 6), Def(String, 10), Txt("ab"), true},
      {"varbytes to date", Def(VarBytes, 4), I32(day), Def(Date), I32(day), true},
      {"bytes to BCD that is no BCD", Def(Bytes, 2), {0xFF, 0xFF}, Def(FieldType::Bcd, 0, 0), Bcd("0", 0), false},
      {"bytes to blob", Def(Bytes, 2), {1, 2}, Def(Blob), {}, false},
  };
  for (const TCase& c : cases) {
    TBytes out;
    EXPECT_EQ(ConvertFieldValue(c.From, c.Value, c.To, out), c.Converted) << c.What;
    if (c.To.FieldType() != Blob) {
      EXPECT_EQ(out, c.Stored) << c.What;
    }
  }
}

}  // namespace
