#include "engine/table/field_desc.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(FieldDescTest, PhysicalSizesPerType) {
  struct TCase {
    std::uint8_t Type, Size, Phys;
  };
  const TCase cases[] = {
      {FieldType::String, 20, 21}, {FieldType::String, 250, 251}, {FieldType::Date, 0, 4},
      {FieldType::Blob, 0, 8},     {FieldType::Boolean, 0, 2},    {FieldType::Int16, 0, 2},
      {FieldType::Int32, 0, 4},    {FieldType::Float, 0, 8},      {FieldType::Bcd, 0, 34},
      {FieldType::Bytes, 7, 7},    {FieldType::Time, 0, 4},       {FieldType::Timestamp, 0, 8},
      {FieldType::UInt16, 0, 2},   {FieldType::UInt32, 0, 4},     {FieldType::Extended, 0, 10},
      {FieldType::VarBytes, 9, 9}, {FieldType::Int64, 0, 8},      {17, 0, 0},
      {20, 0, 0},                  {23, 0, 0},
  };
  for (const TCase& c : cases) EXPECT_EQ(PhysSizeFor(c.Type, c.Size), c.Phys) << int{c.Type};
}

TEST(FieldDescTest, StoredLayout) {
  TFieldDesc d = MakeFieldDesc(0x0102, "Price", FieldType::Bcd, 0, 0, 2);
  d.SetFieldOffset(0x0304);
  d.SetFieldDefault("1.5");
  d.SetFieldCharCase(TCharCase::Upper);
  d.SetFieldName(std::string(40, 'x'));  // cut to 30
  const auto b = d.Bytes();
  EXPECT_EQ(b[0], 0x02);
  EXPECT_EQ(b[1], 0x01);
  EXPECT_EQ(b[2], 30);
  EXPECT_EQ(b[84], FieldType::Bcd);
  EXPECT_EQ(b[87], 2);
  EXPECT_EQ(b[88], 34);
  EXPECT_EQ(b[89], 2);
  EXPECT_EQ(b[90], 0x04);
  EXPECT_EQ(b[91], 0x03);
  EXPECT_EQ(b[93], 2);
  EXPECT_EQ(b[196], 3);
  EXPECT_EQ(b[197], '1');
  EXPECT_TRUE(d.LengthBytesValid());
  EXPECT_EQ(TFieldDesc::FromBytes(b).FieldDefault(), "1.5");

  d.MutableBytes()[94] = 51;  // FieldMin length past its slot
  EXPECT_FALSE(d.LengthBytesValid());
  EXPECT_EQ(d.FieldMin().size(), 50u);  // reads stay inside the slot
}

TEST(FieldDescTest, ValueTextsMustSuitTheType) {
  struct TCase {
    std::uint8_t Type;
    const char* Text;
    bool Suits;
  };
  const TCase cases[] = {
      {FieldType::String, "anything", true},     {FieldType::Bytes, "x", true},
      {FieldType::Int16, "", true},              {FieldType::Int16, "-32768", true},
      {FieldType::Int16, "32768", false},        {FieldType::UInt16, "-1", false},
      {FieldType::UInt16, "65535", true},        {FieldType::Int32, "2147483647", true},
      {FieldType::Int32, "2147483648", false},   {FieldType::Int64, "-9223372036854775808", true},
      {FieldType::Int64, "1.5", false},          {FieldType::Boolean, "TRUE", true},
      {FieldType::Boolean, "1", false},          {FieldType::Float, "-1.5E3", true},
      {FieldType::Float, "1,5", false},          {FieldType::Bcd, "12.345", true},
      {FieldType::Bcd, "1e40", false},           {FieldType::Date, "CURRENT_DATE", true},
      {FieldType::Date, "CURRENT_TIME", false},  {FieldType::Date, "2001-02-30", false},
      {FieldType::Time, "current_time", true},   {FieldType::Time, "12:30 PM", true},
      {FieldType::Time, "CURRENT_TIMESTAMP", false}, {FieldType::Timestamp, "CURRENT_TIME", true},
      {FieldType::Timestamp, "CURRENT_DATE", true},  {FieldType::Timestamp, "2001-02-03", true},
      {FieldType::Timestamp, "10:00", true},     {FieldType::Timestamp, "soon", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(ValueTextSuitsType(c.Text, c.Type, 2), c.Suits) << int{c.Type} << " " << c.Text;
}

TEST(FieldDescTest, OffsetsFollowTheRecordLayout) {
  std::vector<TFieldDesc> defs = {
      MakeFieldDesc(1, "A", FieldType::String, 0, 3),
      MakeFieldDesc(2, "Id", FieldType::Int32, FieldSubType::AutoInc),
      MakeFieldDesc(3, "C", FieldType::Int16),
      MakeFieldDesc(4, "D", FieldType::Int16),
      MakeFieldDesc(5, "E", 20),
  };
  defs[2].SetFieldComputed(true);
  EXPECT_EQ(AssignFieldOffsets(defs), 9u + 5 + 3 + 1);
  EXPECT_EQ(defs[0].FieldOffset(), 9);
  EXPECT_EQ(defs[1].FieldOffset(), 5);
  EXPECT_EQ(defs[2].FieldOffset(), 0);
  EXPECT_EQ(defs[3].FieldOffset(), 14);
  EXPECT_EQ(defs[4].FieldOffset(), 17);  // indicator byte only
}

}  // namespace
}  // namespace tarn
