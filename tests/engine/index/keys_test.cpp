// Key encoding, building, comparison and the range helpers.

#include "engine/index/keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/index/char_maps.h"
#include "engine/index/collation.h"
#include "engine/index/key_def.h"
#include "engine/index/language_drivers.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"

namespace tarn {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t English = MakeLanguageId(9, 1);

TKeyField Field(std::uint8_t type, std::uint16_t size = 0, std::uint32_t offset = 0) {
  return TKeyField{type, size, offset, true};
}

Bytes LE32(std::int32_t v) {
  Bytes b(4);
  PutLEI32(b, 0, v);
  return b;
}
Bytes LE16(std::uint16_t v) {
  Bytes b(2);
  PutLE16(b, 0, v);
  return b;
}
Bytes LE64(std::int64_t v) {
  Bytes b(8);
  PutLEI64(b, 0, v);
  return b;
}
Bytes LEDouble(double v) {
  Bytes b(8);
  PutLEDouble(b, 0, v);
  return b;
}
Bytes Text(const std::string& s, std::size_t size) {
  Bytes b(size, 0);
  std::memcpy(b.data(), s.data(), std::min(s.size(), size));
  return b;
}

// A 34-byte BCD: digits left-aligned, two per byte, high nibble first.
Bytes Bcd(const std::string& digits, int scale, bool negative = false,
          std::optional<int> precision = std::nullopt) {
  Bytes b(34, 0);
  b[0] = static_cast<std::uint8_t>(precision.value_or(static_cast<int>(digits.size())));
  b[1] = static_cast<std::uint8_t>(scale | (negative ? 0x80 : 0));
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const auto d = static_cast<std::uint8_t>(digits[i] - '0');
    b[2 + i / 2] = static_cast<std::uint8_t>(b[2 + i / 2] | (i % 2 == 0 ? d << 4 : d));
  }
  return b;
}

Bytes Encode(const TKeyField& field, const std::optional<Bytes>& value, bool descending = false,
             bool caseInsensitive = false, std::uint16_t lang = 0) {
  Bytes part(KeyFieldSize(field) + 1u, 0xCC);
  EncodeFieldKey(field, value ? value->data() : nullptr, value ? value->size() : 0, lang, 0,
                 descending, caseInsensitive, part);
  return part;
}

TEST(KeysTest, KeyFieldSizeByType) {
  struct Case {
    std::uint8_t type;
    std::uint16_t declared;
    std::uint16_t expected;
  };
  const Case cases[] = {
      {FieldType::String, 20, 21},
      {FieldType::Date, 0, 4},
      {FieldType::Int32, 0, 4},
      {FieldType::Time, 0, 4},
      {13, 0, 4},
      {FieldType::Blob, 0, 8},
      {FieldType::Float, 0, 8},
      {FieldType::Timestamp, 0, 8},
      {FieldType::Int64, 0, 8},
      {FieldType::Bcd, 0, 8},
      {FieldType::Boolean, 0, 2},
      {FieldType::Int16, 0, 2},
      {FieldType::UInt16, 0, 2},
      {14, 0, 10},
      {FieldType::Bytes, 12, 12},
      {15, 7, 7},
      {20, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyFieldSize(c.type, c.declared), c.expected) << int(c.type);
  }
}

TEST(KeysTest, FieldEncodingsAreOrderPreservingBytes) {
  struct Case {
    const char* name;
    TKeyField field;
    std::optional<Bytes> value;
    bool descending;
    Bytes expected;  // flag byte, then the value area
  };
  const TKeyField int32 = Field(FieldType::Int32);
  const TKeyField dbl = Field(FieldType::Float);
  const TKeyField bcd = Field(FieldType::Bcd);
  const Case cases[] = {
      {"int32 -1", int32, LE32(-1), false, {1, 0x7F, 0xFF, 0xFF, 0xFF}},
      {"int32 0", int32, LE32(0), false, {1, 0x80, 0x00, 0x00, 0x00}},
      {"date day 693594", Field(FieldType::Date), LE32(693594), false, {1, 0x80, 0x0A, 0x95, 0x5A}},
      {"uint16 0xFFFF", Field(FieldType::UInt16), LE16(0xFFFF), false, {1, 0xFF, 0xFF}},
      {"boolean true", Field(FieldType::Boolean), LE16(1), false, {1, 0x00, 0x01}},
      {"int16 -2", Field(FieldType::Int16), LE16(0xFFFE), false, {1, 0x7F, 0xFE}},
      {"int64 1", Field(FieldType::Int64), LE64(1), false, {1, 0x80, 0, 0, 0, 0, 0, 0, 1}},
      {"double -0.5",
       dbl,
       LEDouble(-0.5),
       false,
       {1, 0x40, 0x1F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"double 0.0", dbl, LEDouble(0.0), false, {1, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"double -0.0 equals 0.0", dbl, LEDouble(-0.0), false, {1, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"timestamp 1.0",
       Field(FieldType::Timestamp),
       LEDouble(1.0),
       false,
       {1, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
      {"bcd 12.345 is 123450",
       bcd,
       Bcd("00000000000000000000000000012345", 3),
       false,
       {1, 0x80, 0, 0, 0, 0, 0x01, 0xE2, 0x3A}},
      {"bcd -1.5 is -15000",
       bcd,
       Bcd("15", 1, true),
       false,
       {1, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xC5, 0x68}},
      {"bcd precision 0 is 0", bcd, Bcd("99", 0, false, 0), false, {1, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"string", Field(FieldType::String, 4), Text("abc", 5), false, {1, 'a', 'b', 'c', 0, 0}},
      {"string garbage after terminator",
       Field(FieldType::String, 4),
       Bytes{'a', 0, 'x', 'y', 0},
       false,
       {1, 'a', 0, 0, 0, 0}},
      {"bytes unchanged", Field(FieldType::Bytes, 3), Bytes{3, 1, 2}, false, {1, 3, 1, 2}},
      {"unsigned 32-bit stored bytes", Field(13), Bytes{1, 2, 3, 4}, false, {1, 1, 2, 3, 4}},
      {"null ascending", int32, std::nullopt, false, {0, 0, 0, 0, 0}},
      {"null descending", int32, std::nullopt, true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"int32 5 descending", int32, LE32(5), true, {0xFE, 0x7F, 0xFF, 0xFF, 0xFA}},
      {"short value is null", int32, Bytes{1, 2}, false, {0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Encode(c.field, c.value, c.descending), c.expected) << c.name;
  }
}

TEST(KeysTest, EncodedOrderMatchesValueOrder) {
  auto less = [](const Bytes& a, const Bytes& b) {
    return std::memcmp(a.data(), b.data(), a.size()) < 0;
  };
  const TKeyField int32 = Field(FieldType::Int32);
  const TKeyField dbl = Field(FieldType::Float);
  const std::int32_t ints[] = {std::numeric_limits<std::int32_t>::min(), -70000, -1, 0, 1, 65536,
                               std::numeric_limits<std::int32_t>::max()};
  for (std::size_t i = 1; i < std::size(ints); ++i) {
    EXPECT_TRUE(less(Encode(int32, LE32(ints[i - 1])), Encode(int32, LE32(ints[i])))) << ints[i];
    EXPECT_TRUE(less(Encode(int32, LE32(ints[i])), Encode(int32, LE32(ints[i - 1]), true)));
  }
  const double doubles[] = {-std::numeric_limits<double>::infinity(),
                            -1e300,
                            -2.5,
                            -0.5,
                            -1e-300,
                            0.0,
                            1e-300,
                            0.5,
                            3.0,
                            1e300};
  for (std::size_t i = 1; i < std::size(doubles); ++i) {
    EXPECT_TRUE(less(Encode(dbl, LEDouble(doubles[i - 1])), Encode(dbl, LEDouble(doubles[i]))))
        << doubles[i];
  }
  // Null sorts before every value ascending and after every value descending.
  EXPECT_TRUE(less(Encode(int32, std::nullopt), Encode(int32, LE32(ints[0]))));
  EXPECT_TRUE(less(Encode(int32, LE32(ints[6]), true), Encode(int32, std::nullopt, true)));
}

TEST(KeysTest, BcdKeyValueRoundsAndSaturates) {
  struct Case {
    const char* name;
    Bytes bcd;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"12.345", Bcd("12345", 3), 123450},
      {"7 without decimals", Bcd("7", 0), 70000},
      {"1.23456789 rounds up", Bcd("123456789", 8), 12346},
      {"1.23454 rounds down", Bcd("123454", 5), 12345},
      {"0.00005 rounds half away from zero", Bcd("00005", 5), 1},
      {"-0.00005", Bcd("00005", 5, true), -1},
      {"0.00004", Bcd("00004", 5), 0},
      {"scale above precision", Bcd("5", 6), 0},
      {"precision 0", Bcd("123", 0, false, 0), 0},
      {"too large", Bcd(std::string(30, '9'), 0), std::numeric_limits<std::int64_t>::max()},
      {"too small", Bcd(std::string(30, '9'), 0, true), std::numeric_limits<std::int64_t>::min()},
      {"bad nibble counts as 9",
       [] {
         Bytes b = Bcd("10", 0);
         b[2] = 0x1F;
         return b;
       }(),
       190000},
      {"short buffer", Bytes{5, 0, 0x12}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BcdKeyValue(c.bcd), c.expected) << c.name;
  }
}

// A small table: RecDeleted, RecLink, RecAutoInc, then an int32 field at 9,
// a string field of size 6 at 14 and a double at 22 (record size 31).
class KeyRecordTest : public ::testing::Test {
 protected:
  static constexpr std::size_t RecordSize = 31;
  const TKeyField FInt = Field(FieldType::Int32, 0, 9);
  const TKeyField FString = Field(FieldType::String, 6, 14);
  const TKeyField FDouble = Field(FieldType::Float, 0, 22);
  const TKeyField FAutoInc{FieldType::Int32, 0, 5, false};

  static Bytes Record(std::int32_t autoInc, std::optional<std::int32_t> i,
                      std::optional<std::string> s, std::optional<double> d = std::nullopt,
                      std::uint8_t deleted = 0) {
    Bytes r(RecordSize, 0);
    r[0] = deleted;
    PutLEI32(r, 5, autoInc);
    if (i) {
      r[9] = 1;
      PutLEI32(r, 10, *i);
    }
    if (s) {
      r[14] = 1;
      std::memcpy(r.data() + 15, s->data(), std::min<std::size_t>(s->size(), 6));
    }
    if (d) {
      r[22] = 1;
      PutLEDouble(r, 23, *d);
    }
    return r;
  }

  TKeyDef Def(std::initializer_list<TKeyField> fields, bool unique, std::uint16_t lang = 0) const {
    TKeyDef def;
    def.Slot = 1;
    def.Unique = unique;
    def.LanguageId = lang;
    for (const TKeyField& f : fields) def.Fields[def.FieldCount++] = f;
    def.KeySize = ComputeKeySize(def);
    EXPECT_TRUE(def.CheckInvariants());
    return def;
  }

  static Bytes Key(const TKeyDef& def, const Bytes& record) {
    Bytes key(def.KeySize, 0xCC);
    BuildKey(def, record, key);
    return key;
  }
};

TEST_F(KeyRecordTest, BuildKeyLaysOutFieldsAndSuffix) {
  const TKeyDef unique = Def({FInt, FString}, true);
  EXPECT_EQ(unique.KeySize, 5 + 8);
  EXPECT_EQ(Key(unique, Record(7, -1, "ab")),
            (Bytes{1, 0x7F, 0xFF, 0xFF, 0xFF, 1, 'a', 'b', 0, 0, 0, 0, 0}));
  const TKeyDef nonUnique = Def({FString, FInt}, false);
  EXPECT_EQ(nonUnique.KeySize, 8 + 5 + 4);
  EXPECT_EQ(Key(nonUnique, Record(0x01020304, std::nullopt, "xyz")),
            (Bytes{1, 'x', 'y', 'z', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x81, 0x02, 0x03, 0x04}));
  const TKeyDef byAutoInc = Def({FAutoInc}, true);
  EXPECT_EQ(Key(byAutoInc, Record(5, 1, "q")), (Bytes{1, 0x80, 0, 0, 5}));
}

TEST_F(KeyRecordTest, DescendingFieldsAreInvertedOnlyWithoutLanguageInAscendingIndex) {
  TKeyDef def = Def({FInt, FString}, true);
  def.FieldDescending[0] = 1;
  const Bytes r = Record(1, 5, "ab");
  EXPECT_EQ(Key(def, r), (Bytes{0xFE, 0x7F, 0xFF, 0xFF, 0xFA, 1, 'a', 'b', 0, 0, 0, 0, 0}));
  def.Descending = true;  // the whole index descends: comparison reverses instead
  EXPECT_EQ(Key(def, r), (Bytes{1, 0x80, 0, 0, 5, 1, 'a', 'b', 0, 0, 0, 0, 0}));
  def.Descending = false;
  def.LanguageId = English;
  EXPECT_EQ(Key(def, r), (Bytes{1, 0x80, 0, 0, 5, 1, 'a', 'b', 0, 0, 0, 0, 0}));
}

TEST_F(KeyRecordTest, FieldsOutsideAShortRecordAreNull) {
  const TKeyDef def = Def({FInt, FDouble}, false);
  Bytes r = Record(3, 9, "a", 1.5);
  r.resize(20);  // the double no longer fits
  const Bytes key = Key(def, r);
  EXPECT_EQ(key[0], 1);
  EXPECT_EQ(Bytes(key.begin() + 5, key.begin() + 14), Bytes(9, 0));
  EXPECT_EQ(Bytes(key.end() - 4, key.end()), (Bytes{0x80, 0, 0, 3}));
  // A key buffer shorter than the fields is never written past.
  TKeyDef small = def;
  small.KeySize = 7;
  Bytes buf(7, 0xCC);
  BuildKey(small, Record(3, 9, "a"), buf);
  EXPECT_EQ(buf, (Bytes{1, 0x80, 0, 0, 9, 0, 0}));
}

TEST_F(KeyRecordTest, CaseInsensitiveUniqueIndexMakesAbcAndABCCollide) {
  for (std::uint16_t lang : {std::uint16_t{0}, English}) {
    TKeyDef def = Def({FString}, true, lang);
    def.CaseInsensitive = true;
    const Bytes lower = Key(def, Record(1, 0, "abc"));
    const Bytes upper = Key(def, Record(2, 0, "ABC"));
    EXPECT_EQ(lower, upper) << lang;
    EXPECT_EQ(CompareKeys(def, lower.data(), upper.data(), def.KeySize), 0);
    def.CaseInsensitive = false;
    EXPECT_NE(CompareKeys(def, Key(def, Record(1, 0, "abc")).data(),
                          Key(def, Record(2, 0, "ABC")).data(), def.KeySize),
              0)
        << lang;
  }
}

TEST_F(KeyRecordTest, CompareKeysWithoutLanguageIsByteOrder) {
  TKeyDef def = Def({FInt, FString}, false);
  const Bytes a = Key(def, Record(1, -5, "zz"));
  const Bytes b = Key(def, Record(2, 3, "aa"));
  const Bytes c = Key(def, Record(3, 3, "aa"));
  EXPECT_EQ(CompareKeys(def, a.data(), b.data(), def.KeySize), -1);
  EXPECT_EQ(CompareKeys(def, b.data(), c.data(), def.KeySize), -1);  // the suffix decides
  EXPECT_EQ(CompareKeys(def, b.data(), c.data(), def.KeySize - 4), 0);
  EXPECT_EQ(CompareKeys(def, nullptr, c.data(), def.KeySize), 1);
  def.Descending = true;
  EXPECT_EQ(CompareKeys(def, a.data(), b.data(), def.KeySize), 1);
  EXPECT_EQ(CompareKeys(def, b.data(), b.data(), def.KeySize), 0);
}

// The inline comparer agrees with CompareKeys for every slot kind, both
// orders and every length, on keys that differ anywhere (within and across
// its eight- and four-byte steps) or nowhere.
TEST_F(KeyRecordTest, KeyComparerAgreesWithCompareKeys) {
  std::vector<TKeyDef> defs;
  defs.push_back(Def({FInt, FString}, false));
  defs.push_back(Def({FString, FInt}, false, English));
  TKeyDef descending = Def({FInt, FString}, true);
  descending.Descending = true;
  defs.push_back(descending);
  TKeyDef deleted = descending;
  deleted.Slot = KeyLimits::DeletedSlot;  // compared ascending whatever the flag says
  defs.push_back(deleted);
  std::mt19937 random(5);
  for (const TKeyDef& def : defs) {
    for (int round = 0; round < 400; ++round) {
      Bytes a(def.KeySize);
      for (auto& byte : a) byte = static_cast<std::uint8_t>(random() % 3);  // few values: many ties
      Bytes b = a;
      if (round % 4 != 0) b[random() % b.size()] = static_cast<std::uint8_t>(random() % 3);
      const std::size_t length = 1 + random() % def.KeySize;
      const TKeyComparer comparer(def);
      ASSERT_EQ(comparer.Compare(a.data(), b.data(), length), CompareKeys(def, a.data(), b.data(), length))
          << "slot " << int(def.Slot) << " length " << length;
      ASSERT_EQ(comparer(b.data(), a.data()), CompareKeys(def, b.data(), a.data(), def.KeySize));
    }
    EXPECT_EQ(TKeyComparer(def)(nullptr, Bytes(def.KeySize).data()), 1);
  }
}

TEST_F(KeyRecordTest, CompareKeysWithLanguageCollatesStringParts) {
  TKeyDef def = Def({FString, FInt}, false, English);
  auto cmp = [&](const Bytes& x, const Bytes& y) {
    return CompareKeys(def, Key(def, x).data(), Key(def, y).data(), def.KeySize);
  };
  EXPECT_EQ(cmp(Record(1, 1, "apple"), Record(1, 1, "Banana")), -1);  // bytes would say +1
  EXPECT_EQ(cmp(Record(1, 1, "caf\xE9"), Record(1, 1, "cafe")), 0);   // non-spacing marks
  EXPECT_EQ(cmp(Record(1, 1, "cafe"), Record(1, 2, "caf\xE9")), -1);  // then the next field
  EXPECT_EQ(cmp(Record(1, 2, "cafe"), Record(2, 2, "cafe")), -1);     // then the suffix
  EXPECT_EQ(cmp(Record(1, 1, std::nullopt), Record(1, 1, "a")), -1);  // null first
  def.FieldDescending[0] = 1;
  EXPECT_EQ(cmp(Record(1, 1, "apple"), Record(1, 1, "Banana")), 1);
  EXPECT_EQ(cmp(Record(1, 1, std::nullopt), Record(1, 1, "a")), 1);
  EXPECT_EQ(cmp(Record(1, 1, "x"), Record(2, 1, "x")), -1);  // suffix stays ascending
  def.FieldDescending[0] = 0;
  def.Descending = true;
  EXPECT_EQ(cmp(Record(1, 1, "x"), Record(2, 1, "x")), 1);
  EXPECT_EQ(cmp(Record(1, 1, "apple"), Record(1, 1, "Banana")), 1);
}

TEST_F(KeyRecordTest, SysDeletedKeyIsFlagAndAutoInc) {
  const TKeyDef def = MakeDeletedKeyDef(English, 0);
  EXPECT_TRUE(def.CheckInvariants());
  const Bytes active = Key(def, Record(7, 1, "a", std::nullopt, 0));
  const Bytes deleted = Key(def, Record(-1, 1, "a", std::nullopt, 1));
  EXPECT_EQ(active, (Bytes{0, 0x80, 0, 0, 7}));
  EXPECT_EQ(deleted, (Bytes{1, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(CompareKeys(def, active.data(), deleted.data(), 5), -1);
}

TEST(KeysTest, KeyFieldsFromTableFieldDefinitionsFindTheirValues) {
  std::vector<TFieldDesc> defs = {
      MakeFieldDesc(1, "Name", FieldType::String, 0, 5),
      MakeFieldDesc(2, "Id", FieldType::Int32, 29),
      MakeFieldDesc(3, "Price", FieldType::Bcd, 0, 0, 2),
      MakeFieldDesc(4, "Small", FieldType::Int16),
      MakeFieldDesc(5, "Total", FieldType::Int32),
  };
  defs[4].SetFieldComputed(true);
  const std::uint32_t recordSize = AssignFieldOffsets(defs);
  TKeyDef def;
  def.Slot = 0;
  def.Unique = true;
  for (const TFieldDesc& d : defs) def.Fields[def.FieldCount++] = MakeKeyField(d);
  def.KeySize = ComputeKeySize(def);
  ASSERT_TRUE(def.CheckInvariants());
  EXPECT_FALSE(def.Fields[1].HasNullFlag);
  EXPECT_TRUE(def.Fields[4].Computed);

  Bytes record(recordSize, 0);
  PutLEI32(record, 5, 77);  // RecAutoInc, the auto-increment field's value
  const std::size_t name = defs[0].FieldOffset();
  record[name] = 1;
  std::memcpy(record.data() + name + 1, "Hi", 2);
  const std::size_t price = defs[2].FieldOffset();
  record[price] = 1;
  const Bytes bcd = Bcd("00000000000000000000000000000125", 2);  // precision 32
  std::memcpy(record.data() + price + 1, bcd.data(), bcd.size());
  // "Small" stays null.
  Bytes key(def.KeySize, 0xCC);
  BuildKey(def, record, key);
  EXPECT_EQ(key, (Bytes{1, 'H',  'i', 0, 0,  0, 0,              // Name, area 6
                        1, 0x80, 0,   0, 77,                    // Id
                        1, 0x80, 0,   0, 0,  0, 0, 0x30, 0xD4,  // Price 1.25 -> 12500
                        0, 0,    0,                             // Small, null
                        0, 0,    0,   0, 0}));                  // Total, computed
}

TEST(KeysTest, SysTextKeyLayoutAndOrder) {
  const std::string word = "caf\xE9";
  Bytes key(KeyLimits::TextKeySize, 0xCC);
  BuildTextKey(0x0102, std::span(reinterpret_cast<const std::uint8_t*>(word.data()), word.size()),
               9, 0, 0, key);
  Bytes expected(KeyLimits::TextKeySize, 0);
  expected[0] = 1;
  expected[1] = 0x01;
  expected[2] = 0x02;
  std::memcpy(expected.data() + 3, "CAF\xC9", 4);
  expected[64] = 0x80;
  expected[67] = 9;
  EXPECT_EQ(key, expected);

  auto text = [](std::uint16_t field, const std::string& w, std::int32_t autoInc,
                 std::uint16_t lang) {
    Bytes k(KeyLimits::TextKeySize);
    BuildTextKey(field, std::span(reinterpret_cast<const std::uint8_t*>(w.data()), w.size()),
                 autoInc, lang, 0, k);
    return k;
  };
  const TKeyDef plain = MakeTextKeyDef(0, 0);
  const TKeyDef english = MakeTextKeyDef(English, 0);
  struct Case {
    Bytes a, b;
    int plainOrder, englishOrder;
  };
  const Case cases[] = {
      {text(1, "zebra", 1, 0), text(2, "apple", 1, 0), -1, -1},  // field number first
      {text(1, "\xC9TE", 1, 0), text(1, "F", 1, 0), 1, -1},      // ÉTE: bytes vs letters
      {text(1, "\xC9TE", 1, 0), text(1, "ETE", 2, 0), 1, -1},    // equal words: autoInc
      {text(1, "word", 5, 0), text(1, "word", 5, 0), 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareKeys(plain, c.a.data(), c.b.data(), KeyLimits::TextKeySize), c.plainOrder);
    EXPECT_EQ(CompareKeys(english, c.a.data(), c.b.data(), KeyLimits::TextKeySize), c.englishOrder);
  }
}

TEST_F(KeyRecordTest, LowAndHighKeysBracketEveryKey) {
  const std::vector<Bytes> records = {
      Record(1, std::nullopt, std::nullopt), Record(2, -1, "a"), Record(3, 0, "\xFF\xFF\xFF"),
      Record(std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
             "zzzzzz"),
      Record(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min(),
             "\xC9t\xE9")};
  for (std::uint16_t lang : {std::uint16_t{0}, English}) {
    const TKeyDef def = Def({FString, FInt}, false, lang);
    Bytes low(def.KeySize), high(def.KeySize);
    LowKey(def, low);
    HighKey(def, high);
    for (const Bytes& r : records) {
      const Bytes key = Key(def, r);
      EXPECT_EQ(CompareKeys(def, low.data(), key.data(), def.KeySize), -1) << lang;
      EXPECT_EQ(CompareKeys(def, high.data(), key.data(), def.KeySize), 1) << lang;
    }
  }
  const TKeyDef def = Def({FString, FInt}, false, English);
  const TCharMap& map = LanguageCharMap(English, 0);
  Bytes low(def.KeySize), high(def.KeySize);
  LowKey(def, low);
  HighKey(def, high);
  Bytes expectedLow(def.KeySize, 0), expectedHigh(def.KeySize, 0xFF);
  std::fill(expectedLow.begin() + 1, expectedLow.begin() + 8, map.Lowest());
  std::fill(expectedHigh.begin() + 1, expectedHigh.begin() + 8, map.Highest());
  expectedHigh[0] = 1;
  expectedHigh[8] = 1;
  EXPECT_EQ(low, expectedLow);
  EXPECT_EQ(high, expectedHigh);
}

// A key, the length of its prefix that steps, and the keys one step up
// (KeySuccessor) and one step down (KeyPredecessor).
struct TStepCase {
  Bytes key;
  std::size_t length;
  Bytes successor;
  Bytes predecessor;
};

void ExpectSteps(const TKeyDef& def, std::span<const TStepCase> cases) {
  for (const TStepCase& c : cases) {
    Bytes up = c.key;
    KeySuccessor(def, up, c.length);
    EXPECT_EQ(up, c.successor);
    Bytes down = c.key;
    KeyPredecessor(def, down, c.length);
    EXPECT_EQ(down, c.predecessor);
  }
}

TEST(KeysTest, SuccessorAndPredecessorCarryWithoutLanguage) {
  TKeyDef def;
  def.Slot = 2;
  def.KeySize = 4;
  const TStepCase cases[] = {
      {{1, 2, 3, 0x77}, 3, {1, 2, 4, 0x77}, {1, 2, 2, 0x77}},
      {{1, 0xFF, 0xFF, 0x77}, 3, {2, 0, 0, 0x77}, {1, 0xFF, 0xFE, 0x77}},
      {{2, 0, 0, 0x77}, 3, {2, 0, 1, 0x77}, {1, 0xFF, 0xFF, 0x77}},
      {{0xFF, 0xFF, 0xFF, 0x77}, 3, {0xFF, 0xFF, 0xFF, 0x77}, {0xFF, 0xFF, 0xFE, 0x77}},
      {{0, 0, 0, 0x77}, 3, {0, 0, 1, 0x77}, {0, 0, 0, 0x77}},
      {{0xFE, 0xFF, 0, 0}, 2, {0xFF, 0, 0, 0}, {0xFE, 0xFE, 0, 0}},
      {{0x10, 0, 0, 0}, 1, {0x11, 0, 0, 0}, {0x0F, 0, 0, 0}},
  };
  ExpectSteps(def, cases);
}

// The character after (before) c in the map that compares unequal to it.
std::uint8_t NextChar(const TCharMap& map, std::uint8_t c, int step) {
  for (int i = map.Position[c] + step; i >= 0 && i <= 255; i += step) {
    if (CompareChar(map.LanguageId, map.SortId, map.Order[i], c) != 0) return map.Order[i];
  }
  ADD_FAILURE() << "no neighbour of " << int(c);
  return c;
}

TEST(KeysTest, SuccessorAndPredecessorStepThroughCharacterMapWithLanguage) {
  TKeyDef def;
  def.Slot = 1;
  def.Unique = true;
  def.LanguageId = English;
  def.FieldCount = 1;
  def.Fields[0] = Field(FieldType::String, 3, 9);
  def.KeySize = ComputeKeySize(def);
  ASSERT_EQ(def.KeySize, 5);
  const TCharMap& map = LanguageCharMap(English, 0);
  const std::uint8_t lo = map.Lowest();
  const std::uint8_t hi = map.Highest();
  const std::uint8_t afterA = NextChar(map, 'a', 1);
  const std::uint8_t beforeB = NextChar(map, 'b', -1);
  EXPECT_EQ(CompareChar(English, 0, afterA, 'a'), 1);
  EXPECT_EQ(CompareChar(English, 0, beforeB, 'b'), -1);
  const TStepCase cases[] = {
      {{1, 'a', 'b', 0, 0},
       3,
       {1, 'a', NextChar(map, 'b', 1), 0, 0},
       {1, 'a', NextChar(map, 'b', -1), 0, 0}},
      // Carries: the highest (lowest) character wraps and the one before steps.
      {{1, 'a', hi, hi, 0}, 4, {1, afterA, lo, lo, 0}, {1, 'a', hi, NextChar(map, hi, -1), 0}},
      {{1, 'b', lo, lo, 0}, 4, {1, 'b', lo, NextChar(map, lo, 1), 0}, {1, beforeB, hi, hi, 0}},
      // Carry into the flag byte, which steps as a plain byte.
      {{1, hi, hi, hi, 0}, 4, {2, lo, lo, lo, 0}, {1, hi, hi, NextChar(map, hi, -1), 0}},
      {{1, lo, lo, lo, 0}, 4, {1, lo, lo, NextChar(map, lo, 1), 0}, {0, hi, hi, hi, 0}},
  };
  ExpectSteps(def, cases);
}

TEST_F(KeyRecordTest, PaddedAndSteppedPrefixesBracketTheKeysWithThatPrefix) {
  // Collation weighs letters over the whole string before case, so with a
  // language a prefix range is exact among words of one case (as in a
  // case-insensitive index, whose keys are upper-cased).
  struct Run {
    std::uint16_t lang;
    std::vector<std::string> words;
    const char* prefix;
  };
  const Run runs[] = {
      {0,
       {"a", "ab", "abc", "abZ", "aB", "Ab", "ac", "b", "aa", "ab\xE9",
        "\xE1"
        "b",
        "abzzzz", "ab\xFF\xFF"},
       "ab"},
      {English,
       {"A", "AB", "ABC", "ABZ", "AC", "B", "AA", "AB\xC9",
        "\xC1"
        "B",
        "ABZZZZ", "\xC1", "AD", "A-B"},
       "AB"},
  };
  for (const Run& run : runs) {
    const std::uint16_t lang = run.lang;
    const std::vector<std::string>& words = run.words;
    const TKeyDef def = Def({FString, FInt}, false, lang);
    // The search key "ab" on the string field: flag and two characters.
    Bytes prefix(def.KeySize, 0);
    prefix[0] = 1;
    prefix[1] = static_cast<std::uint8_t>(run.prefix[0]);
    prefix[2] = static_cast<std::uint8_t>(run.prefix[1]);
    constexpr std::size_t length = 3;
    Bytes low = prefix, high = prefix, after = prefix, before = prefix;
    PadKeyLow(def, low, length);
    PadKeyHigh(def, high, length);
    KeySuccessor(def, after, length);
    KeyPredecessor(def, before, length);
    PadKeyLow(def, after, length);
    PadKeyHigh(def, before, length);
    for (const std::string& w : words) {
      const Bytes key = Key(def, Record(5, 1, w));
      const bool hasPrefix = CompareKeys(def, key.data(), prefix.data(), length) == 0;
      const int vsLow = CompareKeys(def, key.data(), low.data(), def.KeySize);
      const int vsHigh = CompareKeys(def, key.data(), high.data(), def.KeySize);
      // Successor and predecessor order against the prefix length; without a
      // language, padded, also against whole keys.
      const std::size_t span = lang == 0 ? def.KeySize : length;
      const int vsAfter = CompareKeys(def, key.data(), after.data(), span);
      const int vsBefore = CompareKeys(def, key.data(), before.data(), span);
      if (hasPrefix) {
        EXPECT_TRUE(vsLow >= 0 && vsHigh <= 0) << w << " lang " << lang;
        EXPECT_TRUE(vsAfter < 0 && vsBefore > 0) << w << " lang " << lang;
      } else {
        EXPECT_TRUE(vsLow < 0 || vsHigh > 0) << w << " lang " << lang;
        EXPECT_EQ(vsLow < 0, vsBefore <= 0) << w << " lang " << lang;
        EXPECT_EQ(vsHigh > 0, vsAfter >= 0) << w << " lang " << lang;
      }
    }
  }
}

TEST(KeysTest, PadKeyOfSysTextKeepsFieldAndPadsWord) {
  const TKeyDef def = MakeTextKeyDef(English, 0);
  const TCharMap& map = LanguageCharMap(English, 0);
  Bytes key(KeyLimits::TextKeySize, 0);
  key[0] = 1;
  key[2] = 4;
  key[3] = 'A';
  key[4] = 'B';
  Bytes high = key;
  PadKeyHigh(def, high, 5);
  EXPECT_EQ(high[4], 'B');
  for (std::size_t i = 5; i < 64; ++i) EXPECT_EQ(high[i], map.Highest()) << i;
  for (std::size_t i = 64; i < 68; ++i) EXPECT_EQ(high[i], 0xFF) << i;
  Bytes low = key;
  PadKeyLow(def, low, 5);
  for (std::size_t i = 5; i < 64; ++i) EXPECT_EQ(low[i], map.Lowest()) << i;
  for (std::size_t i = 64; i < 68; ++i) EXPECT_EQ(low[i], 0) << i;
  Bytes word(KeyLimits::TextKeySize);
  const std::string w = "ABACUS";
  BuildTextKey(4, std::span(reinterpret_cast<const std::uint8_t*>(w.data()), w.size()), 3, English,
               0, word);
  EXPECT_EQ(CompareKeys(def, word.data(), low.data(), KeyLimits::TextKeySize), 1);
  EXPECT_EQ(CompareKeys(def, word.data(), high.data(), KeyLimits::TextKeySize), -1);
}

TEST(KeysTest, CharacterMapsAreBuiltOnceUnderConcurrentFirstUse) {
  constexpr std::uint16_t swedish = MakeLanguageId(29, 1);
  std::vector<const TCharMap*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&seen, t] { seen[t] = &LanguageCharMap(swedish, 0); });
  }
  for (std::thread& t : threads) t.join();
  for (const TCharMap* map : seen) EXPECT_EQ(map, seen[0]);
  EXPECT_TRUE(seen[0]->CheckInvariants());
  // Swedish sorts å, ä, ö after z.
  EXPECT_GT(seen[0]->Position[0xE5], seen[0]->Position['z']);
  EXPECT_GT(seen[0]->Position[0xF6], seen[0]->Position[0xE4]);
}

TEST(KeysTest, CharacterMapsAreSortedPermutationsAndCached) {
  const TCharMap& identity = LanguageCharMap(0, 0);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(identity.Order[i], i);
  const TCharMap& english = LanguageCharMap(English, 0);
  EXPECT_TRUE(english.CheckInvariants());
  for (int i = 1; i < 256; ++i) {
    EXPECT_LE(CompareChar(English, 0, english.Order[i - 1], english.Order[i]), 0) << i;
  }
  EXPECT_LT(english.Position['a'], english.Position['b']);
  EXPECT_LT(english.Position['9'], english.Position['a']);
  EXPECT_EQ(&LanguageCharMap(English, 0), &english);
  const TCharMap& phoneBook = LanguageCharMap(MakeLanguageId(7, 1), 1);
  EXPECT_TRUE(phoneBook.CheckInvariants());
  EXPECT_NE(&phoneBook, &english);
}

}  // namespace
}  // namespace tarn
