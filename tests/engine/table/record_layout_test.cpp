#include "engine/table/record_layout.h"

#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/base/engine_error.h"

namespace tarn {
namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Le16(std::uint16_t v) {
  TBytes b(2);
  PutLE16(b, 0, v);
  return b;
}
TBytes Le32(std::uint32_t v) {
  TBytes b(4);
  PutLE32(b, 0, v);
  return b;
}
TBytes Le64(std::uint64_t v) {
  TBytes b(8);
  PutLE64(b, 0, v);
  return b;
}
TBytes Dbl(double v) {
  TBytes b(8);
  PutLEDouble(b, 0, v);
  return b;
}
TBytes Text(const std::string& s) { return TBytes(s.begin(), s.end()); }
TBytes Bcd(const char* text, std::uint8_t scale) {
  TBytes b(TBcd::StoredSize);
  BcdFromText(text, scale)->Store(b);
  return b;
}
// A string field's stored value: the characters and the zero padding.
TBytes Stored(const std::string& s, std::size_t physSize) {
  TBytes b(physSize, 0);
  std::memcpy(b.data(), s.data(), s.size());
  return b;
}

// One field of every kind, laid out the way tables lay them out.
struct RecordLayoutTest : ::testing::Test {
  RecordLayoutTest() {
    defs = {
        MakeFieldDesc(1, "Name", FieldType::String, 0, 10),
        MakeFieldDesc(2, "Upper", FieldType::String, 0, 5),
        MakeFieldDesc(3, "Lower", FieldType::String, 0, 5),
        MakeFieldDesc(4, "Born", FieldType::Date),
        MakeFieldDesc(5, "Notes", FieldType::Blob, FieldSubType::Memo),
        MakeFieldDesc(6, "Flag", FieldType::Boolean),
        MakeFieldDesc(7, "Small", FieldType::Int16),
        MakeFieldDesc(8, "Count", FieldType::Int32),
        MakeFieldDesc(9, "Ratio", FieldType::Float),
        MakeFieldDesc(10, "Price", FieldType::Bcd, 0, 0, 2),
        MakeFieldDesc(11, "Raw", FieldType::Bytes, 0, 3),
        MakeFieldDesc(12, "At", FieldType::Time),
        MakeFieldDesc(13, "Stamp", FieldType::Timestamp),
        MakeFieldDesc(14, "Word", FieldType::UInt16),
        MakeFieldDesc(15, "Big", FieldType::Int64),
        MakeFieldDesc(16, "Id", FieldType::Int32, FieldSubType::AutoInc),
        MakeFieldDesc(17, "Var", FieldType::VarBytes, 0, 4),
        MakeFieldDesc(18, "Money", FieldType::Float, FieldSubType::Money),
    };
    defs[1].SetFieldCharCase(TCharCase::Upper);
    defs[2].SetFieldCharCase(TCharCase::Lower);
    recordSize = AssignFieldOffsets(defs);
    record.assign(recordSize, 0);
  }
  const TFieldDesc& Field(std::size_t fieldNo) const { return defs[fieldNo - 1]; }

  std::vector<TFieldDesc> defs;
  std::uint32_t recordSize = 0;
  TBytes record;
};

TEST_F(RecordLayoutTest, AutoIncrementFieldTakesNoBytesOfItsOwn) {
  std::uint32_t sum = 9;
  for (const TFieldDesc& d : defs) sum += d.FieldPhysSize() + 1u;
  // The auto-increment value lives in the control bytes.
  EXPECT_EQ(recordSize, sum - 5);
  EXPECT_EQ(Field(16).FieldOffset(), 5);
  EXPECT_EQ(Field(1).FieldOffset(), 9);
  EXPECT_EQ(Field(2).FieldOffset(), 9 + 12);
}

TEST_F(RecordLayoutTest, EveryTypeRoundTrips) {
  struct TCase {
    const char* What;
    std::size_t FieldNo;
    std::optional<TBytes> In;
    std::optional<TBytes> Out;  // nothing: reads blank
  };
  const TCase cases[] = {
      {"string as given", 1, Text("Anna"), Stored("Anna", 11)},
      {"string cut to its size", 1, Text("ABCDEFGHIJKLMN"), Stored("ABCDEFGHIJ", 11)},
      {"string trailing blanks", 1, Text("Bo   "), Stored("Bo", 11)},
      {"string blanks after the cut", 1, Text("ABCDEFGHI   XYZ"), Stored("ABCDEFGHI", 11)},
      {"string ends at a zero byte", 1, TBytes{'A', 'b', 0, 'c'}, Stored("Ab", 11)},
      {"empty string is null", 1, Text(""), std::nullopt},
      {"blank string is null", 1, Text("    "), std::nullopt},
      {"upper-case field", 2, Text("mIxEd"), Stored("MIXED", 6)},
      {"lower-case field", 3, Text("MiXeD"), Stored("mixed", 6)},
      {"null string", 1, std::nullopt, std::nullopt},
      {"first date", 4, Le32(1), Le32(1)},
      {"last date", 4, Le32(3652059), Le32(3652059)},
      {"null date", 4, std::nullopt, std::nullopt},
      {"boolean true", 6, Le16(1), Le16(1)},
      {"boolean false", 6, Le16(0), Le16(0)},
      {"boolean 5 reads 1", 6, Le16(5), Le16(1)},
      {"boolean 0xFFFF reads 1", 6, Le16(0xFFFF), Le16(1)},
      {"int16 min", 7, Le16(0x8000), Le16(0x8000)},
      {"int16 max", 7, Le16(0x7FFF), Le16(0x7FFF)},
      {"int32 min", 8, Le32(0x80000000u), Le32(0x80000000u)},
      {"int32 -1", 8, Le32(0xFFFFFFFFu), Le32(0xFFFFFFFFu)},
      {"float", 9, Dbl(-1.5e300), Dbl(-1.5e300)},
      {"float zero is a value", 9, Dbl(0.0), Dbl(0.0)},
      {"money", 18, Dbl(12.34), Dbl(12.34)},
      {"bcd negative", 10, Bcd("-12.34", 2), Bcd("-12.34", 2)},
      {"bcd rescaled to the field", 10, Bcd("1.005", 3), Bcd("1.01", 2)},
      {"bcd largest", 10, Bcd("999999999999999999999999999999.99", 2), Bcd("999999999999999999999999999999.99", 2)},
      {"bytes", 11, TBytes{0, 0xFF, 7}, TBytes{0, 0xFF, 7}},
      {"bytes short value padded", 11, TBytes{9}, TBytes{9, 0, 0}},
      {"varbytes", 17, TBytes{1, 2, 3, 4, 5}, TBytes{1, 2, 3, 4}},
      {"midnight", 12, Le32(0), Le32(0)},
      {"last millisecond", 12, Le32(86399999), Le32(86399999)},
      {"timestamp", 13, Dbl(EncodeTimestamp(693594, 43200000)), Dbl(EncodeTimestamp(693594, 43200000))},
      {"timestamp last", 13, Dbl(EncodeTimestamp(3652059, 86399999)), Dbl(EncodeTimestamp(3652059, 86399999))},
      {"uint16 max", 14, Le16(65535), Le16(65535)},
      {"int64 min", 15, Le64(0x8000000000000000ull), Le64(0x8000000000000000ull)},
      {"int64 max", 15, Le64(0x7FFFFFFFFFFFFFFFull), Le64(0x7FFFFFFFFFFFFFFFull)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::fill(record.begin(), record.end(), 0xAA);  // stale bytes everywhere
    const TFieldDesc& d = Field(c.FieldNo);
    if (c.In)
      SetFieldValue(record, d, std::span<const std::uint8_t>(*c.In));
    else
      SetFieldValue(record, d, std::nullopt);
    const TFieldRead read = GetFieldValue(record, d);
    EXPECT_EQ(record[d.FieldOffset()], c.Out ? 1 : 0);
    EXPECT_EQ(read.Blank, !c.Out.has_value());
    const TBytes got(read.Bytes.begin(), read.Bytes.end());
    // A null field's value bytes are all zero.
    EXPECT_EQ(got, c.Out ? *c.Out : TBytes(d.FieldPhysSize(), 0));
  }
}

TEST_F(RecordLayoutTest, AutoIncrementLivesInTheControlBytes) {
  const TFieldDesc& id = Field(16);
  SetFieldValue(record, id, std::span<const std::uint8_t>(Le32(4711)));
  EXPECT_EQ(GetLEI32(record, RecordLayout::RecAutoInc), 4711);
  SetFieldValue(record, id, std::nullopt);  // ignored
  const TFieldRead read = GetFieldValue(record, id);
  EXPECT_FALSE(read.Blank);
  EXPECT_EQ(GetLEI32(read.Bytes, 0), 4711);
}

TEST_F(RecordLayoutTest, BlobReferenceTakesOnlyTheFirstBlock) {
  const TFieldDesc& blob = Field(5);
  const std::size_t at = blob.FieldOffset() + 1u;
  SetBlobStamp(record, blob, 99);
  struct TCase {
    std::int32_t FirstBlock;
    bool OpenHasValue;
    std::uint8_t Indicator;
  };
  for (const TCase& c : {TCase{7, false, 1}, TCase{0, true, 0}, TCase{-3, true, 1}, TCase{-3, false, 0}}) {
    SCOPED_TRACE(c.FirstBlock);
    SetFieldValue(record, blob, std::span<const std::uint8_t>(Le32(static_cast<std::uint32_t>(c.FirstBlock))),
                  AsciiCaseMapper, c.OpenHasValue);
    EXPECT_EQ(record[at - 1], c.Indicator);
    const TFieldRead read = GetFieldValue(record, blob);
    EXPECT_EQ(read.Bytes.size(), 4u);
    EXPECT_EQ(GetLEI32(read.Bytes, 0), c.FirstBlock);
    EXPECT_EQ(GetBlobStamp(record, blob), 99);  // the stamp is not the caller's to set
  }
  SetFieldValue(record, blob, std::nullopt);
  EXPECT_EQ(record[at - 1], 0);
  EXPECT_EQ(GetLEI32(record, at), 0);
}

TEST_F(RecordLayoutTest, DefinitionsOutsideTheRecordRaiseInsteadOfOverrunning) {
  TFieldDesc bad = Field(1);
  bad.SetFieldOffset(static_cast<std::uint16_t>(recordSize - 3));
  try {
    SetFieldValue(record, bad, std::span<const std::uint8_t>(Text("x")));
    FAIL() << "expected 8961";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_HEADERCORRUPT);
  }
  bad.SetFieldOffset(3);  // inside the control bytes
  EXPECT_THROW(GetFieldValue(record, bad), ETarnEngineError);

  TBytes malformed(TBcd::StoredSize, 0xFF);
  try {
    SetFieldValue(record, Field(10), std::span<const std::uint8_t>(malformed));
    FAIL() << "expected 8962";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_FILECORRUPT);
  }
}

TEST_F(RecordLayoutTest, ComputedFieldsAreLeftAlone) {
  TFieldDesc computed = MakeFieldDesc(19, "Total", FieldType::Int32);
  computed.SetFieldComputed(true);
  const TBytes before = record;
  SetFieldValue(record, computed, std::span<const std::uint8_t>(Le32(5)));
  EXPECT_EQ(record, before);
  EXPECT_TRUE(GetFieldValue(record, computed).Blank);
}

}  // namespace
}  // namespace tarn
