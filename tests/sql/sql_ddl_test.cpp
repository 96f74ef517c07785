// Data-definition and transaction statements run against tables in a
// temporary directory; every table made is checked by opening it in a fresh
// session (the first open verifies the data file, the index header and the
// blob header).

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/index_page.h"
#include "engine/index/keys.h"
#include "engine/index/language_drivers.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_desc.h"
#include "sql/query_statement.h"
#include "sql/sql_table_definition.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;

class SqlDdl : public ::testing::Test {
 protected:
  // Runs text (every statement of it) in the database "Quiz" on the
  // temporary directory.
  void Run(const std::string& text) {
    TQueryStatement statement(FDirectory);
    statement.Prepare(text);
    statement.Execute();
  }
  // The engine error of running text: "<code> <message item or table>".
  std::string Failure(const std::string& text) {
    try {
      Run(text);
    } catch (const ETarnEngineError& e) {
      return std::to_string(e.ErrorCode()) + " " +
             (e.ErrorMessage().empty() ? e.ErrorTable() : e.ErrorMessage());
    }
    return "no error";
  }
  bool Exists(const std::string& file) const { return std::filesystem::exists(FTemp.File(file)); }

  testing_support::TTempDir FTemp;
  TDataSession FSession;
  TDataDirectory& FDirectory = FSession.OpenDirectory("Quiz", FTemp.Path());
};

TEST_F(SqlDdl, CreateTableWritesTheDefinitionThatVerifies) {
  Run("CREATE TABLE Questions (ID AUTOINC, QuizName VARCHAR(40) DESCRIPTION 'quiz' NOT NULL "
      "DEFAULT 'Main' CHARCASE "
      "UPPER, [Order] INTEGER MIN 0 MAX 1000, Question MEMO, Amount DECIMAL(12,2), Flag BOOLEAN, "
      "Raw BYTES(4), "
      "CONSTRAINT pk UNIQUE PRIMARY KEY (QuizName, [Order]) COMPRESS DUPBYTE TEXT INDEX (Question) "
      "STOP WORDS "
      "'the a' DESCRIPTION 'Quiz table' BLOB BLOCK SIZE 1024 LANGUAGE 'ANSI Standard' USER MAJOR "
      "VERSION 3 USER "
      "MINOR VERSION 19 LAST AUTOINC 41)");
  EXPECT_TRUE(Exists("Questions.DAT"));
  EXPECT_TRUE(Exists("Questions.IDX"));
  EXPECT_TRUE(Exists("Questions.BLB"));

  TDataSession session;
  TDataCursor cursor(session.OpenDirectory("Check", FTemp.Path()));
  cursor.SetTableName("Questions");
  cursor.OpenCursor();
  ASSERT_EQ(cursor.FieldCount(), 7);
  EXPECT_EQ(cursor.Field(1).FieldName(), "ID");
  EXPECT_TRUE(cursor.Field(1).IsAutoInc());
  EXPECT_EQ(cursor.Field(2).FieldType(), FieldType::String);
  EXPECT_EQ(cursor.Field(2).FieldSize(), 40);
  EXPECT_EQ(cursor.Field(2).FieldDescription(), "quiz");
  EXPECT_TRUE(cursor.Field(2).FieldRequired());
  EXPECT_EQ(cursor.Field(2).FieldDefault(), "Main");
  EXPECT_EQ(cursor.Field(2).FieldCharCase(), TCharCase::Upper);
  EXPECT_EQ(cursor.Field(3).FieldMin(), "0");
  EXPECT_EQ(cursor.Field(3).FieldMax(), "1000");
  EXPECT_EQ(cursor.Field(4).FieldSubType(), FieldSubType::Memo);
  EXPECT_EQ(cursor.Field(5).FieldType(), FieldType::Bcd);
  EXPECT_EQ(cursor.Field(5).FieldDecimals(), 2);
  EXPECT_EQ(cursor.Field(7).FieldSize(), 4);

  TDataTable& table = cursor.Table();
  const TIndexDescriptor& primary = table.IndexFile().Descriptor(0);
  EXPECT_EQ(primary.FieldCount, 2);
  EXPECT_EQ(primary.FieldNumbers[0], 2);
  EXPECT_EQ(primary.FieldNumbers[1], 3);
  EXPECT_TRUE(primary.Unique);
  EXPECT_EQ(primary.Compression, TKeyCompression::DupByte);
  EXPECT_EQ(primary.KeySize,
            KeyFieldSize(FieldType::String, 40) + 1 + KeyFieldSize(FieldType::Int32, 0) + 1);
  EXPECT_EQ(table.IndexFile().Descriptor(SysTextSlot).FieldCount, 1);
  EXPECT_EQ(table.IndexFile().Descriptor(SysTextSlot).FieldNumbers[0], 4);
  EXPECT_EQ(table.DataFile().GetDescription(), "Quiz table");
  EXPECT_EQ(table.DataFile().GetBlobBlockSize(), 1024);
  EXPECT_EQ(table.DataFile().GetUserMajorVersion(), 3);
  EXPECT_EQ(table.DataFile().GetUserMinorVersion(), 19);
  EXPECT_EQ(table.DataFile().GetLastAutoInc(), 41);
  EXPECT_EQ(table.Damage(), TARN_NONE);
  EXPECT_EQ(cursor.GetRecordCount(), 0);
}

TEST_F(SqlDdl, CreatedKeysOrderAndGuardRecords) {
  Run("CREATE TABLE K (Name VARCHAR(10) NOT NULL, Note VARCHAR(20) DEFAULT 'none', PRIMARY KEY "
      "(Name))");
  TDataSession session;
  TDataCursor cursor(session.OpenDirectory("Check", FTemp.Path()));
  cursor.SetTableName("K");
  cursor.OpenCursor();
  std::vector<std::uint8_t> record(cursor.RecordSize());
  const auto insert = [&](const std::string& name) {
    cursor.InitRecord(record);
    cursor.PutField(1, record,
                    std::span<const std::uint8_t>(
                        reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    cursor.InsertRecord(record, false);
  };
  insert("b");
  insert("a");
  try {
    insert("b");
    ADD_FAILURE() << "a duplicate key was stored";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_KEYVIOL);
  }
  cursor.InitRecord(record);
  EXPECT_THROW(cursor.InsertRecord(record, false), ETarnEngineError);  // Name is required
  std::string order;
  cursor.SetToBegin();
  while (cursor.GetNextRecord(record) == TARN_NONE) {
    const TFieldRead name = cursor.GetField(1, record);
    const TFieldRead note = cursor.GetField(2, record);
    order += std::string(name.Bytes.begin(), name.Bytes.end()).c_str();
    order += ":" + std::string(std::string(note.Bytes.begin(), note.Bytes.end()).c_str()) + " ";
  }
  EXPECT_EQ(order, "a:none b:none ");
}

TEST_F(SqlDdl, EncryptedTableNeedsItsPasswordToOpenAndToDrop) {
  Run("CREATE TABLE Secret (a INTEGER ENCRYPTED WITH 'pw')");
  {
    TDataSession session;
    TDataCursor cursor(session.OpenDirectory("Check", FTemp.Path()));
    cursor.SetTableName("Secret");
    EXPECT_THROW(cursor.OpenCursor(), ETarnEngineError);
    session.AddPassword("pw");
    cursor.OpenCursor();
    EXPECT_TRUE(cursor.Table().IsEncrypted());
  }
  EXPECT_EQ(Failure("DROP TABLE Secret"), "10498 Secret");
  EXPECT_TRUE(Exists("Secret.DAT"));
  FSession.AddPassword("pw");
  Run("DROP TABLE Secret");
  EXPECT_FALSE(Exists("Secret.DAT"));
}

TEST_F(SqlDdl, CreateAndDropTableHonourIfExistsClauses) {
  Run("CREATE TABLE T (a INTEGER)");
  EXPECT_EQ(Failure("CREATE TABLE T (b INTEGER)"), "13060 T");
  Run("CREATE TABLE IF NOT EXISTS T (b INTEGER)");
  {
    TDataSession session;
    TDataCursor cursor(session.OpenDirectory("Check", FTemp.Path()));
    cursor.SetTableName("T");
    cursor.OpenCursor();
    EXPECT_EQ(cursor.Field(1).FieldName(), "a");  // the first definition stands
  }
  Run("DROP TABLE T");
  EXPECT_FALSE(Exists("T.DAT"));
  EXPECT_FALSE(Exists("T.IDX"));
  Run("DROP TABLE IF EXISTS T");
  EXPECT_EQ(Failure("DROP TABLE T").substr(0, 5), "11010");
}

TEST_F(SqlDdl, BadDefinitionsLeaveNoTable) {
  EXPECT_EQ(Failure("CREATE TABLE T (a INTEGER, PRIMARY KEY (b))"),
            "11949 Invalid field name 'b' specified for index 'Primary'");
  EXPECT_EQ(Failure("CREATE TABLE T (a INTEGER, CONSTRAINT k PRIMARY KEY (a, c))"),
            "11949 Invalid field name 'c' specified for index 'k'");
  EXPECT_EQ(Failure("CREATE TABLE T (a VARCHAR(9) TEXT INDEX (z))"),
            "11949 Invalid field name 'z' specified for text index");
  EXPECT_NE(Failure("CREATE TABLE T (a INTEGER, A INTEGER)"), "no error");
  EXPECT_NE(Failure("CREATE TABLE T ([1a] INTEGER)"), "no error");
  EXPECT_NE(Failure("CREATE TABLE T (a INTEGER DEFAULT 'abc')"), "no error");
  EXPECT_EQ(Failure("CREATE TABLE T (a MEMO, PRIMARY KEY (a))"), "12292 T");
  EXPECT_EQ(Failure("CREATE TABLE T (a INTEGER ENCRYPTED WITH 'sixteen chars!!!')"), "10015 T");
  EXPECT_EQ(Failure("CREATE TABLE T (a INTEGER LAST AUTOINC -2)"), "9492 T");
  EXPECT_FALSE(Exists("T.DAT"));
  EXPECT_FALSE(Exists("T.IDX"));
}

TEST_F(SqlDdl, TablesInMemoryAndUnderAPath) {
  Run("CREATE TABLE MEMORY M (a INTEGER); DROP TABLE MEMORY M");
  EXPECT_FALSE(Exists("M.DAT"));
  testing_support::TTempDir other;
  Run("CREATE TABLE '" + other.Path() + "'\\Elsewhere (a INTEGER)");
  EXPECT_TRUE(std::filesystem::exists(other.File("Elsewhere.DAT")));
  EXPECT_FALSE(Exists("Elsewhere.DAT"));
  Run("DROP TABLE '" + other.Path() + "'\\Elsewhere");
  EXPECT_FALSE(std::filesystem::exists(other.File("Elsewhere.DAT")));
}

TEST_F(SqlDdl, IndexStatementsThatHaveNothingToDo) {
  // A table with the secondary index "ByName" and no primary key, made by
  // the engine directly.
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "a", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(2, "b", FieldType::String, 0, 10));
  AssignFieldOffsets(def.Fields);
  TIndexDescriptor byName;
  byName.IndexName = "ByName";
  byName.FieldCount = 1;
  byName.FieldNumbers[0] = 2;
  byName.KeySize = static_cast<std::int16_t>(KeyFieldSize(FieldType::String, 10) + 1 + 4);
  def.Secondary.push_back(byName);
  FDirectory.ReleaseTable(FDirectory.CreateTable("T", false, false, def), false);

  Run("CREATE INDEX IF NOT EXISTS byname ON T (a)");
  Run("DROP INDEX IF EXISTS T.PRIMARY");
  Run("DROP INDEX IF EXISTS T.NoSuchIndex");
  TDataSession session;
  TDataCursor cursor(session.OpenDirectory("Check", FTemp.Path()));
  cursor.SetTableName("T");
  cursor.OpenCursor();
  EXPECT_EQ(cursor.Table().IndexFile().IndexCount(), 1);
  EXPECT_EQ(cursor.Table().IndexFile().Descriptor(1).FieldNumbers[0], 2);
}

TEST_F(SqlDdl, AlterTableChecksItsActionsAgainstTheTable) {
  Run("CREATE TABLE T (a INTEGER, b VARCHAR(10), PRIMARY KEY (a))");
  EXPECT_EQ(Failure("ALTER TABLE T DROP nope"), "11949 Column nope not found");
  EXPECT_EQ(Failure("ALTER TABLE T ADD PRIMARY KEY (b)"),
            "11949 Cannot REDEFINE the primary key using the ADD keyword");
  EXPECT_EQ(Failure("ALTER TABLE T ADD c INTEGER TEXT INDEX (zz)"),
            "11949 Invalid field name 'zz' specified for text index");
  EXPECT_EQ(Failure("ALTER TABLE Missing ADD c INTEGER").substr(0, 5), "11010");
}

TEST_F(SqlDdl, AlterStartsFromTheTablesOwnDefinition) {
  Run("CREATE TABLE T (a INTEGER, b MEMO, PRIMARY KEY (a) TEXT INDEX (b) STOP WORDS 'x y' SPACE "
      "CHARS '#' "
      "DESCRIPTION 'd' USER MAJOR VERSION 4)");
  TDataCursor cursor(FDirectory);
  cursor.SetTableName("T");
  cursor.SetExclusive(true);
  cursor.OpenCursor();
  TSqlTableDefinition d = ReadTableDefinition(cursor);
  ASSERT_EQ(d.Definition.Fields.size(), 2u);
  EXPECT_EQ(d.Definition.Primary.FieldCount, 1);
  ASSERT_TRUE(d.Definition.TextIndex.has_value());
  EXPECT_EQ(d.Definition.Description, "d");
  EXPECT_EQ(d.Definition.UserMajorVersion, 4);
  EXPECT_FALSE(d.Definition.TextParams.has_value());
  ASSERT_TRUE(d.TableTextParams.has_value());
  EXPECT_EQ(d.TableTextParams->StopWords, (std::vector<std::string>{"x", "y"}));
  // Changing the include characters keeps the table's stop words and spaces.
  TQueryStatement alter(FDirectory);
  alter.Prepare("ALTER TABLE T ADD c INTEGER INCLUDE CHARS '-'");
  ApplyAlterTable(alter.Master(), d);
  ASSERT_TRUE(d.Definition.TextParams.has_value());
  EXPECT_EQ(d.Definition.TextParams->StopWords, (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(d.Definition.TextParams->SpaceChars.Contains('#'));
  EXPECT_TRUE(d.Definition.TextParams->IncludeChars.Contains('-'));
  EXPECT_FALSE(d.StopWordsGiven);
}

TEST_F(SqlDdl, IndexColumnsMustNameColumns) {
  Run("CREATE TABLE T (a INTEGER)");
  EXPECT_EQ(Failure("CREATE INDEX i ON T (a, nope)"),
            "11949 Invalid field name 'nope' specified for index 'i'");
}

TEST_F(SqlDdl, DataStatementsAreParsedButNotRunYet) {
  Run("CREATE TABLE T (a INTEGER)");
  EXPECT_EQ(Failure("SELECT a FROM T"), "11949 SELECT statements cannot be executed yet");
  EXPECT_EQ(Failure("INSERT INTO T VALUES (1)"), "11949 INSERT statements cannot be executed yet");
  EXPECT_EQ(Failure("UPDATE T SET a = 2"), "11949 UPDATE statements cannot be executed yet");
  EXPECT_EQ(Failure("DELETE FROM T"), "11949 DELETE statements cannot be executed yet");
  TQueryStatement statement(FDirectory);
  EXPECT_EQ(Failure("SELECT a FROM T"), "11949 SELECT statements cannot be executed yet");
  EXPECT_THROW(statement.Execute(), ETarnEngineError);  // not prepared
}

TEST_F(SqlDdl, TransactionStatementsOutsideATransaction) {
  EXPECT_EQ(Failure("COMMIT"), "11949 Transaction not in progress for database 'Quiz'");
  EXPECT_EQ(Failure("ROLLBACK WORK"), "11949 Transaction not in progress for database 'Quiz'");
  EXPECT_EQ(Failure("COMMIT FLUSH"), "11949 Transaction not in progress for database 'Quiz'");
}

TEST_F(SqlDdl, StatementsOfATextRunInTurnAndStopAtAFailure) {
  EXPECT_EQ(
      Failure("CREATE TABLE A (x INTEGER); CREATE TABLE B (y INTEGER); CREATE TABLE A (z INTEGER); "
              "CREATE TABLE C (w INTEGER)"),
      "13060 A");
  EXPECT_TRUE(Exists("A.DAT"));
  EXPECT_TRUE(Exists("B.DAT"));
  EXPECT_FALSE(Exists("C.DAT"));
  // A parse failure in a later statement also stops the text there.
  EXPECT_EQ(Failure("DROP TABLE A; DROP TABLE B C"),
            "11949 End of DROP TABLE statement expected, instead found 'C'");
  EXPECT_FALSE(Exists("A.DAT"));
  EXPECT_TRUE(Exists("B.DAT"));
}

// A cursor on table in the test directory, as another program would open it
// (its first open verifies the table).
std::unique_ptr<TDataCursor> OpenFresh(TDataSession& session, const std::string& path,
                                       const std::string& table) {
  auto cursor = std::make_unique<TDataCursor>(session.OpenDirectory("Check", path));
  cursor->SetTableName(table);
  cursor->OpenCursor();
  return cursor;
}

void InsertRow(TDataCursor& cursor, std::int32_t id, const std::string& name) {
  std::vector<std::uint8_t> record(cursor.RecordSize());
  cursor.InitRecord(record);
  std::uint8_t idBytes[4];
  PutLE32(std::span<std::uint8_t>(idBytes, 4), 0, static_cast<std::uint32_t>(id));
  cursor.PutField(1, record, std::span<const std::uint8_t>(idBytes, 4));
  cursor.PutField(2, record,
                  std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(name.data()),
                                                name.size()));
  cursor.InsertRecord(record, false);
}

// The text field n of every record in the cursor's order.
std::string Column(TDataCursor& cursor, int n) {
  std::vector<std::uint8_t> record(cursor.RecordSize());
  std::string s;
  cursor.SetToBegin();
  while (cursor.GetNextRecord(record) == TARN_NONE) {
    const TFieldRead f = cursor.GetField(n, record);
    s += std::string(std::string(f.Bytes.begin(), f.Bytes.end()).c_str()) + " ";
  }
  return s;
}

TEST_F(SqlDdl, DefinitionStatementsRunEndToEnd) {
  Run("CREATE TABLE Q (ID INTEGER, Name VARCHAR(20), Note MEMO, PRIMARY KEY (ID))");
  {
    TDataCursor cursor(FDirectory);
    cursor.SetTableName("Q");
    cursor.OpenCursor();
    InsertRow(cursor, 3, "c");
    InsertRow(cursor, 1, "a");
    InsertRow(cursor, 2, "b");
  }
  Run("ALTER TABLE Q ADD Score INTEGER DEFAULT '7' AT 2, REDEFINE Name FullName VARCHAR(30)");
  EXPECT_TRUE(Exists("Q.DBK"));
  {
    TDataSession session;
    auto cursor = OpenFresh(session, FTemp.Path(), "Q");
    ASSERT_EQ(cursor->FieldCount(), 4);
    EXPECT_EQ(cursor->Field(2).FieldName(), "Score");
    EXPECT_EQ(cursor->Field(3).FieldName(), "FullName");
    EXPECT_EQ(cursor->Field(3).FieldSize(), 30);
    EXPECT_EQ(cursor->GetRecordCount(), 3);
    EXPECT_EQ(Column(*cursor, 3), "a b c ");
  }
  Run("CREATE UNIQUE DESC INDEX ByName ON Q (FullName)");
  Run("CREATE INDEX IF NOT EXISTS byname ON Q (ID)");
  {
    TDataSession session;
    auto cursor = OpenFresh(session, FTemp.Path(), "Q");
    ASSERT_EQ(cursor->Table().IndexFile().IndexCount(), 1);
    cursor->SwitchToIndex("ByName");
    EXPECT_EQ(Column(*cursor, 3), "c b a ");
  }
  Run("DROP INDEX Q.ByName; DROP INDEX Q.primary; DROP INDEX IF EXISTS Q.PRIMARY");
  EXPECT_EQ(Failure("DROP INDEX Q.PRIMARY"), "10022 Q");
  EXPECT_EQ(Failure("DROP INDEX Q.ByName"), "10022 Q");
  {
    TDataSession session;
    auto cursor = OpenFresh(session, FTemp.Path(), "Q");
    EXPECT_EQ(cursor->Table().IndexFile().IndexCount(), 0);
    EXPECT_TRUE(cursor->Table().IndexFile().NoPrimaryIndex());
    EXPECT_EQ(cursor->GetRecordCount(), 3);
  }
  Run("ALTER TABLE Q ADD PRIMARY KEY (ID) DESCRIPTION 'quiz' NOBACKUP");
  {
    TDataSession session;
    auto cursor = OpenFresh(session, FTemp.Path(), "Q");
    EXPECT_EQ(cursor->Table().IndexFile().Descriptor(0).FieldCount, 1);
    EXPECT_EQ(cursor->Table().DataFile().GetDescription(), "quiz");
    EXPECT_EQ(Column(*cursor, 3), "a b c ");
  }
  Run("DROP TABLE Q");
  EXPECT_FALSE(Exists("Q.DAT"));
  EXPECT_FALSE(Exists("Q.IDX"));
  EXPECT_FALSE(Exists("Q.BLB"));
}

TEST_F(SqlDdl, TransactionStatementsStartCommitAndRollBack) {
  Run("CREATE TABLE T (ID INTEGER, Name VARCHAR(10), PRIMARY KEY (ID))");
  TDataCursor cursor(FDirectory);
  cursor.SetTableName("T");
  cursor.OpenCursor();
  Run("START TRANSACTION");
  EXPECT_TRUE(FDirectory.InTransaction());
  EXPECT_EQ(Failure("START TRANSACTION"),
            "11949 Transaction already in progress for database 'Quiz'");
  InsertRow(cursor, 1, "a");
  Run("ROLLBACK WORK");
  EXPECT_FALSE(FDirectory.InTransaction());
  EXPECT_EQ(cursor.GetRecordCount(), 0);
  Run("START TRANSACTION");
  InsertRow(cursor, 2, "b");
  Run("COMMIT FLUSH");
  EXPECT_FALSE(FDirectory.InTransaction());
  {
    TDataSession session;
    auto other = OpenFresh(session, FTemp.Path(), "T");
    EXPECT_EQ(other->GetRecordCount(), 1);
  }
  // A text that starts and ends transactions leaves none running.
  TQueryStatement statement(FDirectory);
  statement.Prepare("START TRANSACTION; COMMIT; START TRANSACTION; ROLLBACK");
  statement.Execute();
  EXPECT_EQ(statement.RowsAffected(), 0);
  EXPECT_EQ(statement.Kind(), TQueryKind::Rollback);
  EXPECT_FALSE(FDirectory.InTransaction());
}

}  // namespace
