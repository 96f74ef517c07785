// Parameter blocks: the descriptors and data buffer a caller hands to a
// statement, read back into values, and a statement run with one.

#include "sql/parameter_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"
#include "sql/query_statement.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;

std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(ParameterBlock, ValuesOfEveryKindReadBack) {
  TParameterBlock block;
  std::uint8_t i32[4];
  PutLEI32(i32, 0, -42);
  std::uint8_t i16[2];
  PutLEI16(i16, 0, 7);
  std::uint8_t dbl[8];
  PutLEDouble(dbl, 0, 2.5);
  std::uint8_t bcd[TBcd::StoredSize];
  BcdFromText("12.3456", 4)->Store(bcd);
  const std::string memo(400, 'm');
  block.AddValue("Int", FieldType::Int32, 4, 0, std::span<const std::uint8_t>(i32));
  block.AddValue("Small", FieldType::Int16, 2, 0, std::span<const std::uint8_t>(i16));
  block.AddValue("Flt", FieldType::Float, 8, 0, std::span<const std::uint8_t>(dbl));
  block.AddValue("Str", FieldType::String, 6, 0, Bytes("hello"));
  block.AddValue("Null", FieldType::String, 1, 0, std::nullopt);
  block.AddValue("Dec", FieldType::Bcd, 34, 4, std::span<const std::uint8_t>(bcd));
  block.AddBlob("Memo", FieldSubType::Memo, Bytes(memo));
  block.AddBlob("Bin", FieldSubType::None, Bytes(std::string("\0\1\2", 3)));
  block.AddBlob("NoBlob", FieldSubType::Memo, std::nullopt);
  ASSERT_EQ(block.Count(), 9u);
  ASSERT_EQ(block.Descriptors().size(), 9u * TFieldDesc::Size);

  // The descriptors read as field definitions.
  const TFieldDesc str = TFieldDesc::FromBytes(block.Descriptors().subspan(3 * TFieldDesc::Size));
  EXPECT_EQ(str.FieldNo(), 4);
  EXPECT_EQ(str.FieldName(), "Str");
  EXPECT_EQ(str.FieldType(), FieldType::String);
  EXPECT_EQ(str.FieldSize(), 6);
  EXPECT_EQ(block.Data()[str.FieldOffset()], 1) << "has-value byte";
  const TFieldDesc memoDesc =
      TFieldDesc::FromBytes(block.Descriptors().subspan(6 * TFieldDesc::Size));
  EXPECT_EQ(memoDesc.FieldType(), FieldType::Blob);
  EXPECT_EQ(memoDesc.FieldSubType(), FieldSubType::Memo);
  EXPECT_EQ(memoDesc.FieldSize(), 8);
  EXPECT_EQ(GetLE32(block.Data(), memoDesc.FieldOffset() + 1u), 400u);

  const std::vector<TExpValue> v =
      ReadParameterBlock(block.Count(), block.Descriptors(), block.Data());
  ASSERT_EQ(v.size(), 9u);
  EXPECT_EQ(v[0].Type, FieldType::Int32);
  EXPECT_EQ(v[0].Int, -42);
  EXPECT_EQ(v[1].Int, 7);
  EXPECT_EQ(v[2].Float, 2.5);
  EXPECT_EQ(v[3].Text, "hello");
  EXPECT_TRUE(v[4].Null);
  EXPECT_EQ(BcdToText(v[5].Bcd), "12.3456");
  EXPECT_EQ(v[6].Type, FieldType::String) << "memo text takes part as a string";
  EXPECT_EQ(v[6].Text, memo);
  EXPECT_EQ(v[7].Type, FieldType::Blob);
  EXPECT_EQ(v[7].Text, std::string("\0\1\2", 3));
  EXPECT_TRUE(v[8].Null);
  for (const TExpValue& value : v)
    EXPECT_TRUE(value.Null || value.Text.empty() || value.Text.data() == value.Buffer.data())
        << "values own their text";
}

TEST(ParameterBlock, ADescriptorOutsideItsDataIsRefused) {
  TParameterBlock block;
  block.AddValue("S", FieldType::String, 4, 0, Bytes("abc"));
  const std::vector<std::uint8_t> shortData(block.Data().begin(), block.Data().end() - 1);
  try {
    ReadParameterBlock(1, block.Descriptors(), shortData);
    FAIL() << "nothing raised";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_SQLPARSE);
  }
  try {
    ReadParameterBlock(2, block.Descriptors(), block.Data());
    FAIL() << "nothing raised";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_SQLPARSE);
  }
}

TEST(ParameterBlock, AStatementRunsWithABlock) {
  testing_support::TTempDir temp;
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory("Quiz", temp.Path());
  TQueryStatement statement(directory);
  for (const char* text : {"CREATE TABLE T (ID INTEGER, Name VARCHAR(10), PRIMARY KEY (ID))",
                           "INSERT INTO T VALUES (1, 'one')", "INSERT INTO T VALUES (2, 'two')",
                           "INSERT INTO T VALUES (3, NULL)"}) {
    statement.Prepare(text);
    statement.Execute();
  }
  statement.Prepare("SELECT ID FROM T WHERE ID >= ? AND (Name = ? OR Name IS NULL)");
  TParameterBlock block;
  std::uint8_t two[4];
  PutLEI32(two, 0, 2);
  block.AddValue("p1", FieldType::Int32, 4, 0, std::span<const std::uint8_t>(two));
  block.AddValue("p2", FieldType::String, 4, 0, Bytes("two"));
  TDataCursor* cursor = statement.Execute(block.Count(), block.Descriptors(), block.Data());
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(cursor, statement.Result());
  EXPECT_EQ(statement.RowsAffected(), 2);

  statement.Prepare("DELETE FROM T WHERE ID = ?");
  EXPECT_EQ(statement.Execute(block.Count(), block.Descriptors(), block.Data()), nullptr);
  EXPECT_EQ(statement.RowsAffected(), 1);
}

}  // namespace
