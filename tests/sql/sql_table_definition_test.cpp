// Table definitions from CREATE TABLE and the changes ALTER TABLE makes to a
// copy of a definition: field numbers, positions, attributes, indexes and
// the messages of actions that cannot apply.

#include "sql/sql_table_definition.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/index/keys.h"
#include "sql_test_support.h"

namespace {

using namespace tarn;

class SqlDefinition : public ::testing::Test {
 protected:
  TSqlTableDefinition Create(const std::string& text) {
    FFixture.Statement.Prepare(text);
    return BuildCreateDefinition(FFixture.Statement.Master());
  }
  // The definition after applying the ALTER TABLE text, or the message.
  std::string Alter(TSqlTableDefinition& definition, const std::string& text) {
    FFixture.Statement.Prepare(text);
    try {
      ApplyAlterTable(FFixture.Statement.Master(), definition);
    } catch (const ETarnEngineError& e) {
      return e.ErrorMessage();
    }
    return Describe(definition);
  }
  // "name#number" per field in order, then the primary key's field numbers.
  static std::string Describe(const TSqlTableDefinition& d) {
    std::string s;
    for (const TFieldDesc& f : d.Definition.Fields)
      s += f.FieldName() + "#" + std::to_string(f.FieldNo()) + " ";
    s += "pk(";
    for (int i = 0; i < d.Definition.Primary.FieldCount; ++i)
      s += (i ? "," : "") +
           std::to_string(d.Definition.Primary.FieldNumbers[static_cast<std::size_t>(i)]);
    return s + ")";
  }

  sqltest::TStatementFixture FFixture;
};

TEST_F(SqlDefinition, CreateTableNumbersFieldsAndComputesKeys) {
  const TSqlTableDefinition d = Create(
      "CREATE TABLE t (a INTEGER, b VARCHAR(12) NOT NULL DEFAULT 'x' MIN 'a' MAX 'z' CHARCASE "
      "LOWER, c MEMO, "
      "DESC NOCASE PRIMARY KEY (b, a) COMPRESS TRAILBYTE TEXT INDEX (c, b) STOP WORDS 'of  the' "
      "SPACE CHARS '.;' "
      "ENCRYPTED WITH 'pw' LAST AUTOINC 9)");
  ASSERT_EQ(d.Definition.Fields.size(), 3u);
  EXPECT_EQ(Describe(d), "a#1 b#2 c#3 pk(2,1)");
  const TFieldDesc& b = d.Definition.Fields[1];
  EXPECT_TRUE(b.FieldRequired());
  EXPECT_EQ(b.FieldDefault(), "x");
  EXPECT_EQ(b.FieldMin(), "a");
  EXPECT_EQ(b.FieldMax(), "z");
  EXPECT_EQ(b.FieldCharCase(), TCharCase::Lower);
  EXPECT_EQ(b.FieldOffset(), 9 + 5);  // after a's 4 bytes and null byte
  const TIndexDescriptor& pk = d.Definition.Primary;
  EXPECT_TRUE(pk.Unique);
  EXPECT_TRUE(pk.Descending);
  EXPECT_TRUE(pk.CaseInsensitive);
  EXPECT_EQ(pk.Compression, TKeyCompression::TrailByte);
  EXPECT_EQ(pk.KeySize,
            KeyFieldSize(FieldType::String, 12) + 1 + KeyFieldSize(FieldType::Int32, 0) + 1);
  ASSERT_TRUE(d.Definition.TextIndex.has_value());
  EXPECT_EQ(d.Definition.TextIndex->FieldCount, 2);
  EXPECT_EQ(d.Definition.TextIndex->FieldNumbers[0], 3);
  ASSERT_TRUE(d.Definition.TextParams.has_value());
  EXPECT_EQ(d.Definition.TextParams->StopWords, (std::vector<std::string>{"of", "the"}));
  EXPECT_TRUE(d.Definition.TextParams->SpaceChars.Contains(';'));
  EXPECT_FALSE(d.Definition.TextParams->SpaceChars.Contains(' '));
  EXPECT_TRUE(d.StopWordsGiven);
  EXPECT_TRUE(d.Definition.Encrypted);
  EXPECT_EQ(d.Definition.Password, "pw");
  EXPECT_EQ(d.LastAutoInc, 9);

  // Without full-text options the table's (or the default) parameters apply;
  // an empty password means not encrypted.
  const TSqlTableDefinition plain =
      Create("CREATE TABLE t (a VARCHAR(5) TEXT INDEX (a) ENCRYPTED WITH '')");
  EXPECT_FALSE(plain.Definition.TextParams.has_value());
  EXPECT_FALSE(plain.StopWordsGiven);
  EXPECT_FALSE(plain.Definition.Encrypted);
}

TEST_F(SqlDefinition, NonUniqueKeysEndWithTheRecordId) {
  const TSqlTableDefinition d = Create("CREATE TABLE t (a INTEGER)");
  FFixture.Statement.Prepare("CREATE INDEX i ON t (a)");
  const TIndexDescriptor index =
      MakeIndexDescriptor(FFixture.Statement.Master().Index, d.Definition.Fields, "i");
  EXPECT_EQ(index.IndexName, "i");
  EXPECT_FALSE(index.Unique);
  EXPECT_EQ(index.KeySize, KeyFieldSize(FieldType::Int32, 0) + 1 + 4);
}

TEST_F(SqlDefinition, AlterKeepsFieldNumbersAndAppliesActionsInOrder) {
  struct TCase {
    const char* Alter;
    const char* Result;
  };
  const TCase cases[] = {
      {"ALTER TABLE t ADD d INTEGER", "a#1 b#2 c#3 d#4 pk(1)"},
      {"ALTER TABLE t ADD d INTEGER AT 1", "d#4 a#1 b#2 c#3 pk(1)"},
      {"ALTER TABLE t ADD d INTEGER AT 99", "a#1 b#2 c#3 d#4 pk(1)"},
      {"ALTER TABLE t DROP b, ADD e DATE", "a#1 c#3 e#4 pk(1)"},
      {"ALTER TABLE t REDEFINE b bb VARCHAR(30) AT 1", "bb#2 a#1 c#3 pk(1)"},
      {"ALTER TABLE t DROP PRIMARY KEY, ADD PRIMARY KEY (c, b)", "a#1 b#2 c#3 pk(3,2)"},
      {"ALTER TABLE t REDEFINE PRIMARY KEY (b)", "a#1 b#2 c#3 pk(2)"},
      {"ALTER TABLE t DROP a", "b#2 c#3 pk()"},
      {"ALTER TABLE t DROP nope", "Column nope not found"},
      {"ALTER TABLE t REDEFINE COLUMN Nope DEFAULT '1'", "Column Nope not found"},
      {"ALTER TABLE t ADD PRIMARY KEY (b)",
       "Cannot REDEFINE the primary key using the ADD keyword"},
      {"ALTER TABLE t DROP b, REDEFINE PRIMARY KEY (a, b)",
       "Invalid field name 'b' specified for index 'Primary'"},
      {"ALTER TABLE t ADD CONSTRAINT k PRIMARY KEY (z)",
       "Cannot REDEFINE the primary key using the ADD keyword"},
      {"ALTER TABLE t DROP PRIMARY KEY, ADD CONSTRAINT k PRIMARY KEY (z)",
       "Invalid field name 'z' specified for index 'k'"},
      {"ALTER TABLE t ADD d INT TEXT INDEX (x)", "Invalid field name 'x' specified for text index"},
  };
  for (const TCase& c : cases) {
    TSqlTableDefinition d =
        Create("CREATE TABLE t (a INTEGER, b VARCHAR(10), c VARCHAR(5), PRIMARY KEY (a))");
    EXPECT_EQ(Alter(d, c.Alter), c.Result) << c.Alter;
  }
}

TEST_F(SqlDefinition, RedefineReplacesOnlyTheAttributesGiven) {
  TSqlTableDefinition d = Create(
      "CREATE TABLE t (a VARCHAR(10) DESCRIPTION 'old' NOT NULL DEFAULT 'x' CHARCASE UPPER, b "
      "INTEGER)");
  Alter(d, "ALTER TABLE t REDEFINE a DEFAULT 'y', REDEFINE b c LARGEINT MIN '0'");
  const TFieldDesc& a = d.Definition.Fields[0];
  EXPECT_EQ(a.FieldDescription(), "old");
  EXPECT_TRUE(a.FieldRequired());
  EXPECT_EQ(a.FieldDefault(), "y");
  EXPECT_EQ(a.FieldCharCase(), TCharCase::Upper);
  const TFieldDesc& c = d.Definition.Fields[1];
  EXPECT_EQ(c.FieldName(), "c");
  EXPECT_EQ(c.FieldNo(), 2);
  EXPECT_EQ(c.FieldType(), FieldType::Int64);
  EXPECT_EQ(c.FieldMin(), "0");
  // Offsets follow the new types.
  EXPECT_EQ(c.FieldOffset(), a.FieldOffset() + 1 + a.FieldPhysSize());
}

TEST_F(SqlDefinition, DroppingAColumnTakesItOutOfEveryIndex) {
  TSqlTableDefinition d = Create(
      "CREATE TABLE t (a INTEGER, b VARCHAR(10), c MEMO, PRIMARY KEY (a, b) TEXT INDEX (c))");
  TIndexDescriptor byB;
  byB.IndexName = "ByB";
  byB.FieldCount = 1;
  byB.FieldNumbers[0] = 2;
  d.Definition.Secondary.push_back(byB);
  EXPECT_EQ(Alter(d, "ALTER TABLE t DROP b, DROP c"), "a#1 pk(1)");
  EXPECT_TRUE(d.Definition.Secondary.empty());
  EXPECT_FALSE(d.Definition.TextIndex.has_value());
}

}  // namespace
