// Typed access to fields.

#include "dbcomp/field.h"

#include <gtest/gtest.h>

#include "dbcomp/memory_data_set.h"
#include "engine/base/engine_error.h"

namespace dbcomp {
namespace {

class FieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Table.AppendRow({"abc", "-5", "70000", "65535", "True", "1.5", "738000", "bytes", "blob"});
    Table.Open();
    Table.Edit();
  }
  TMemoryDataSet Table{TFieldDefs{{"S", TFieldType::String, 3},
                                  {"Small", TFieldType::Smallint},
                                  {"Int", TFieldType::Integer},
                                  {"W", TFieldType::Word},
                                  {"B", TFieldType::Boolean},
                                  {"F", TFieldType::Float},
                                  {"D", TFieldType::Date},
                                  {"Y", TFieldType::Bytes, 4},
                                  {"M", TFieldType::Memo}}};
};

TEST_F(FieldTest, ReadsEachTypeFromTheRecord) {
  EXPECT_EQ(Table.FieldByName("S").AsString(), "abc");
  EXPECT_EQ(Table.FieldByName("Small").AsInteger(), -5);
  EXPECT_EQ(Table.FieldByName("Int").AsString(), "70000");
  EXPECT_EQ(Table.FieldByName("W").AsInteger(), 65535);
  EXPECT_TRUE(Table.FieldByName("B").AsBoolean());
  EXPECT_EQ(Table.FieldByName("B").AsString(), "True");
  EXPECT_DOUBLE_EQ(Table.FieldByName("F").AsFloat(), 1.5);
  EXPECT_EQ(Table.FieldByName("D").AsString(), "2021-07-29");
  EXPECT_EQ(Table.FieldByName("Y").AsString(), "byte");
  EXPECT_EQ(Table.FieldByName("M").AsString(), "blob");
}

// Text written into each kind of field, and what reads back (or the refusal).
TEST_F(FieldTest, WritesAsTextFollowEachTypesRules) {
  struct TCase {
    const char* Field;
    const char* Text;
    const char* Expected;  // read back with AsString
    const char* Error;     // or the message raised
  };
  const TCase cases[] = {
      {"S", "abcdef", "abc", nullptr},  // cut to the declared size
      {"S", "", "", nullptr},
      {"Small", "32767", "32767", nullptr},
      {"Small", "32768", nullptr, "32768 is not a valid value for field 'Small'. The allowed range is -32768 to 32767"},
      {"Small", "12x", nullptr, "'12x' is not a valid integer value for field 'Small'"},
      {"W", "-1", nullptr, "-1 is not a valid value for field 'W'. The allowed range is 0 to 65535"},
      {"Int", " 42 ", "42", nullptr},
      {"B", "f", "False", nullptr},
      {"B", "maybe", nullptr, "'maybe' is not a valid boolean value for field 'B'"},
      {"F", "2.25", "2.25", nullptr},
      {"F", "x", nullptr, "'x' is not a valid floating point value for field 'F'"},
      {"D", "2000-02-29", "2000-02-29", nullptr},
      {"M", "longer text", "longer text", nullptr},
  };
  for (const TCase& c : cases) {
    TField& f = Table.FieldByName(c.Field);
    if (c.Error != nullptr) {
      try {
        f.SetText(c.Text);
        ADD_FAILURE() << c.Field << " " << c.Text;
      } catch (const tarn::EDatabaseError& e) {
        EXPECT_STREQ(e.what(), c.Error);
      }
    } else {
      f.SetText(c.Text);
      EXPECT_EQ(f.AsString(), c.Expected) << c.Field << " " << c.Text;
    }
  }
}

TEST_F(FieldTest, EmptyTextIsNullForEveryType) {
  for (std::size_t i = 0; i < Table.FieldCount(); ++i) {
    TField& f = Table.Fields(i);
    f.SetText("");
    EXPECT_TRUE(f.IsNull()) << f.FieldName();
  }
  Table.Post();
  EXPECT_EQ(Table.RowValue(0, "S"), std::nullopt);
  EXPECT_EQ(Table.RowValue(0, "M"), std::nullopt);
}

TEST_F(FieldTest, ValidationSeesTheNewValueAndCanRefuseIt) {
  TField& s = Table.FieldByName("S");
  std::string seen;
  s.OnValidate = [&](TField&, std::span<const std::uint8_t> v) {
    seen.assign(reinterpret_cast<const char*>(v.data()));
    if (seen == "no") throw tarn::EDatabaseError("refused");
  };
  s.SetAsString("ok");
  EXPECT_EQ(seen, "ok");
  EXPECT_THROW(s.SetAsString("no"), tarn::EDatabaseError);
  EXPECT_EQ(s.AsString(), "ok");
}

TEST_F(FieldTest, ConversionsAFieldCannotMakeAreRefused) {
  try {
    Table.FieldByName("M").AsInteger();
    FAIL();
  } catch (const tarn::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot access field 'M' as type Integer");
  }
  EXPECT_THROW(Table.FieldByName("S").AsInteger(), tarn::EDatabaseError);  // "abc"
}

}  // namespace
}  // namespace dbcomp
