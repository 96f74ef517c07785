// SELECT, INSERT, UPDATE and DELETE run end to end against tables in the
// in-memory database: results read back through the statement's result
// cursor.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "expr/expression_evaluator.h"
#include "sql/external_sort.h"
#include "sql/query_statement.h"
#include "sql/sql_result_table.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;

class SqlSelect : public ::testing::Test {
 protected:
  void SetUp() override {
    Exec(
        "CREATE TABLE Items (ID INTEGER, Name VARCHAR(20), Grp INTEGER, Price FLOAT, "
        "PRIMARY KEY (ID))");
    Exec("INSERT INTO Items VALUES (1, 'pear', 2, 1.5)");
    Exec("INSERT INTO Items VALUES (2, 'apple', 1, 2.0)");
    Exec("INSERT INTO Items VALUES (3, 'plum', 2, NULL)");
    Exec("INSERT INTO Items VALUES (4, 'fig', 3, 4.0)");
    Exec("INSERT INTO Items VALUES (5, 'apple', 1, 0.5)");
  }

  std::int32_t Exec(const std::string& text) {
    FStatement.Prepare(text);
    FStatement.Execute();
    return FStatement.RowsAffected();
  }
  // The rows of the result, fields joined by "|".
  std::vector<std::string> Rows(const std::string& text) {
    Exec(text);
    std::vector<std::string> out;
    TDataCursor* cursor = FStatement.Result();
    EXPECT_NE(cursor, nullptr);
    if (cursor == nullptr) return out;
    std::vector<std::uint8_t> record(cursor->RecordSize());
    cursor->SetToBegin();
    while (cursor->GetNextRecord(record) == 0) {
      std::string row;
      for (int f = 1; f <= cursor->FieldCount(); ++f) {
        if (f > 1) row += "|";
        row += FieldText(*cursor, f, record);
      }
      out.push_back(row);
    }
    return out;
  }
  std::string Failure(const std::string& text) {
    try {
      Exec(text);
    } catch (const ETarnEngineError& e) {
      return std::to_string(e.ErrorCode()) + " " + e.ErrorMessage();
    }
    return "no error";
  }
  using V = std::vector<std::string>;

  testing_support::TTempDir FTemp;
  TDataSession FSession;
  TDataDirectory& FDirectory = FSession.OpenDirectory("Quiz", FTemp.Path());
  TQueryStatement FStatement{FDirectory};
};

TEST_F(SqlSelect, ColumnsExpressionsAndWhere) {
  EXPECT_EQ(Rows("SELECT ID, Name FROM Items WHERE Grp = 2"), (V{"1|pear", "3|plum"}));
  EXPECT_EQ(FStatement.RowsAffected(), 2);
  EXPECT_EQ(Rows("SELECT ID * 10 AS Big, UPPER(Name) FROM Items WHERE ID BETWEEN 2 AND 3"),
            (V{"20|APPLE", "30|PLUM"}));
  EXPECT_EQ(Rows("SELECT * FROM Items WHERE Price > 1 AND Name LIKE 'p%'"), (V{"1|pear|2|1.5"}));
  EXPECT_EQ(Rows("SELECT i.ID FROM Items i WHERE i.Price IS NULL"), (V{"3"}));
  EXPECT_EQ(Failure("SELECT ID FROM Items WHERE x.ID = 1"),
            "11949 Table correlation name 'x' referenced in WHERE clause is not defined in the "
            "FROM clause");
  EXPECT_EQ(Failure("SELECT ID FROM Items WHERE ID + 1"),
            "11949 WHERE or JOIN clause must be a boolean expression");
}

TEST_F(SqlSelect, WithLocksReadsUnderTheTablesReadLocks) {
  EXPECT_EQ(Rows("SELECT ID FROM Items WHERE Grp = 1 WITH LOCKS"), (V{"2", "5"}));
  // The locks are gone again: a change goes through.
  EXPECT_EQ(Exec("UPDATE Items SET Grp = 1 WHERE ID = 1"), 1);
}

TEST_F(SqlSelect, OrderDistinctTop) {
  EXPECT_EQ(Rows("SELECT Name FROM Items ORDER BY Name DESC, ID"),
            (V{"plum", "pear", "fig", "apple", "apple"}));
  EXPECT_EQ(Rows("SELECT ID FROM Items ORDER BY Price"),
            (V{"3", "5", "1", "2", "4"}));  // NULL first
  EXPECT_EQ(Rows("SELECT DISTINCT Name FROM Items"), (V{"apple", "fig", "pear", "plum"}));
  EXPECT_EQ(Rows("SELECT DISTINCT Grp FROM Items ORDER BY Grp DESC TOP 2"), (V{"3", "2"}));
  EXPECT_EQ(Rows("SELECT ID FROM Items TOP 2"), (V{"1", "2"}));
  EXPECT_EQ(Rows("SELECT ID FROM Items ORDER BY 1 DESC TOP 2"), (V{"5", "4"}));
  EXPECT_EQ(Rows("SELECT Name FROM Items ORDER BY Name NOCASE TOP 1"), (V{"apple"}));
}

TEST_F(SqlSelect, DistinctKeepsTheFirstOfEqualRowsInSortedOrder) {
  Exec("CREATE TABLE Letters (N INTEGER, L VARCHAR(2))");
  Exec("INSERT INTO Letters VALUES (1, 'b')");
  Exec("INSERT INTO Letters VALUES (2, 'a')");
  Exec("INSERT INTO Letters VALUES (3, 'b')");
  EXPECT_EQ(Rows("SELECT DISTINCT L FROM Letters"), (V{"a", "b"}));
}

TEST_F(SqlSelect, AggregatesAndGrouping) {
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Items"), (V{"5"}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Items WHERE Grp = 1"), (V{"2"}));
  EXPECT_EQ(Rows("SELECT COUNT(Price), SUM(ID), MIN(Name), MAX(Price), AVG(Price) FROM Items"),
            (V{"4|15|apple|4|2"}));
  EXPECT_EQ(Rows("SELECT Grp, COUNT(*), SUM(Price) FROM Items GROUP BY Grp"),
            (V{"1|2|2.5", "2|2|1.5", "3|1|4"}));
  EXPECT_EQ(Rows("SELECT Grp, SUM(ID) AS S FROM Items GROUP BY Grp HAVING SUM(ID) > 4"),
            (V{"1|7"}));
  EXPECT_EQ(Rows("SELECT Grp, SUM(ID) AS S FROM Items GROUP BY Grp HAVING S >= 4 ORDER BY S DESC"),
            (V{"1|7", "2|4", "3|4"}));  // equal keys keep the group order
  // Integer AVG truncates toward zero; a group of NULLs leaves SUM blank.
  EXPECT_EQ(Rows("SELECT Grp, AVG(ID), SUM(Price) FROM Items WHERE ID <> 1 GROUP BY Grp"),
            (V{"1|3|2.5", "2|3|", "3|4|4"}));
  // No qualifying row: one row, AVG 0, COUNT 0, the others blank.
  EXPECT_EQ(Rows("SELECT SUM(ID), AVG(ID), COUNT(ID), MAX(Name) FROM Items WHERE ID > 99"),
            (V{"|0|0|"}));
  EXPECT_EQ(Rows("SELECT SUM(ID) * 2 + 1 FROM Items"), (V{"31"}));
  EXPECT_EQ(
      Failure("SELECT Grp, SUM(ID) FROM Items"),
      "11949 A GROUP BY clause must exist when aggregate and non-aggregate columns are mixed");
}

TEST_F(SqlSelect, DecimalAverageRoundsToTheNearestTenThousandth) {
  Exec("CREATE TABLE B (G INTEGER, D DECIMAL(20,4))");
  for (const char* row :
       {"(1, 0.0001)", "(1, 0.0002)", "(2, -0.0001)", "(2, -0.0002)", "(3, 1)", "(3, 0)", "(3, 0)"})
    Exec(std::string("INSERT INTO B VALUES ") + row);
  // 0.00015 -> 0.0002, -0.00015 -> -0.0002, 0.33333... -> 0.3333
  EXPECT_EQ(Rows("SELECT G, AVG(D) FROM B GROUP BY G"), (V{"1|0.0002", "2|-0.0002", "3|0.3333"}));
}

TEST_F(SqlSelect, RunSumCarriesOverGroupsAndTopCutsGroups) {
  Exec("CREATE TABLE R (G INTEGER, V INTEGER)");
  for (const char* row : {"(3, 3)", "(1, 1)", "(2, 2)"})
    Exec(std::string("INSERT INTO R VALUES ") + row);
  EXPECT_EQ(Rows("SELECT G, RUNSUM(V) FROM R GROUP BY G"), (V{"1|1", "2|3", "3|6"}));
  // ORDER BY the group columns ascending is the grouping order; TOP keeps the first groups.
  EXPECT_EQ(Rows("SELECT G, SUM(V) FROM R GROUP BY G ORDER BY G TOP 2"), (V{"1|1", "2|2"}));
  EXPECT_EQ(Rows("SELECT G, SUM(V) FROM R GROUP BY G ORDER BY G DESC TOP 2"), (V{"3|3", "2|2"}));
}

TEST_F(SqlSelect, LiveAndCopiedResults) {
  FStatement.SetRequestLive(true);
  Rows("SELECT * FROM Items WHERE Grp = 2 ORDER BY ID");
  EXPECT_TRUE(FStatement.ResultLive());
  EXPECT_FALSE(FStatement.Result()->ReadOnly());
  EXPECT_EQ(FStatement.RowsAffected(), 2);
  // Changes through a live result go to the table.
  TDataCursor& live = *FStatement.Result();
  std::vector<std::uint8_t> record(live.RecordSize());
  live.SetToBegin();
  ASSERT_EQ(live.GetNextRecord(record), 0);
  ASSERT_EQ(live.GetCurrentRecord(record, true), 0);
  const std::string text = "quince";
  live.PutField(2, record,
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                              text.size()));
  live.ModifyRecord(record, true, false);
  FStatement.SetRequestLive(false);
  EXPECT_EQ(Rows("SELECT Name FROM Items WHERE ID = 1"), (V{"quince"}));
  FStatement.SetRequestLive(true);
  struct Case {
    const char* Text;
    bool Live;
  };
  for (const Case& c :
       {Case{"SELECT ID FROM Items", true},
        Case{"SELECT DISTINCT ID FROM Items ORDER BY ID", false},
        Case{"SELECT ID FROM Items ORDER BY Name", false},
        Case{"SELECT COUNT(*) FROM Items", false}, Case{"SELECT ID FROM Items GROUP BY ID", false},
        Case{"SELECT ID FROM Items ORDER BY ID DESC", false}}) {
    Rows(c.Text);
    EXPECT_EQ(FStatement.ResultLive(), c.Live) << c.Text;
    EXPECT_EQ(FStatement.Result()->ReadOnly(), !c.Live) << c.Text;
  }
}

TEST_F(SqlSelect, IntoKeepsTheResultAsATable) {
  EXPECT_EQ(Rows("SELECT ID, Name INTO Saved FROM Items WHERE Grp = 2"), (V{"1|pear", "3|plum"}));
  FStatement.Prepare("SELECT * FROM Items");  // the first result goes
  EXPECT_EQ(Rows("SELECT * FROM Saved"), (V{"1|pear", "3|plum"}));
  // A second INTO replaces the table.
  EXPECT_EQ(Rows("SELECT ID INTO Saved FROM Items WHERE ID = 5"), (V{"5"}));
  EXPECT_EQ(Rows("SELECT * FROM Saved"), (V{"5"}));
}

TEST_F(SqlSelect, MaxRowCountLimitsProduction) {
  for (int i = 6; i <= 20; ++i)
    Exec("INSERT INTO Items VALUES (" + std::to_string(i) + ", 'x', 9, 1)");
  FStatement.SetMaxRowCount(5);
  EXPECT_EQ(Rows("SELECT ID FROM Items").size(), 5u);
  EXPECT_EQ(FStatement.RowsAffected(), 5);
}

TEST_F(SqlSelect, Joins) {
  Exec("CREATE TABLE Groups (GID INTEGER, Title VARCHAR(10), PRIMARY KEY (GID))");
  Exec("INSERT INTO Groups VALUES (1, 'one')");
  Exec("INSERT INTO Groups VALUES (2, 'two')");
  Exec("INSERT INTO Groups VALUES (4, 'four')");
  EXPECT_EQ(
      Rows("SELECT i.ID, g.Title FROM Items i INNER JOIN Groups g ON i.Grp = g.GID ORDER BY i.ID"),
      (V{"1|two", "2|one", "3|two", "5|one"}));
  EXPECT_EQ(Rows("SELECT g.Title, i.ID FROM Groups g LEFT OUTER JOIN Items i ON g.GID = i.Grp "
                 "ORDER BY g.GID, i.ID"),
            (V{"one|2", "one|5", "two|1", "two|3", "four|"}));
  EXPECT_EQ(Rows("SELECT g.Title, i.ID FROM Items i RIGHT OUTER JOIN Groups g ON g.GID = i.Grp "
                 "ORDER BY g.GID, i.ID"),
            (V{"one|2", "one|5", "two|1", "two|3", "four|"}));
  EXPECT_EQ(Rows("SELECT i.ID FROM Items i, Groups g WHERE i.Grp = g.GID AND g.Title = 'one'"),
            (V{"2", "5"}));
  EXPECT_EQ(
      Rows("SELECT g.Title, COUNT(*) FROM Items i JOIN Groups g ON g.GID = i.Grp GROUP BY g.Title"),
      (V{"one|2", "two|2"}));
  EXPECT_EQ(Failure("SELECT * FROM Items a JOIN Groups a ON a.ID = a.GID"),
            "11949 Duplicate table correlation name 'a' found in source tables");
}

// The smallest inner table of a chain of INNER joins drives and the chain
// is walked the other way round; the rows are those of the FROM order.
TEST_F(SqlSelect, JoinChainTurnsRoundForTheSmallestTable) {
  Exec("CREATE TABLE A (ID INTEGER, B INTEGER, PRIMARY KEY (ID))");
  Exec("CREATE TABLE BB (ID INTEGER, C INTEGER, PRIMARY KEY (ID))");
  Exec("CREATE TABLE C (ID INTEGER, Name VARCHAR(5), PRIMARY KEY (ID))");
  Exec("START TRANSACTION");
  for (int i = 1; i <= 60; ++i)
    Exec("INSERT INTO A VALUES (" + std::to_string(i) + ", " + std::to_string(i % 20) + ")");
  for (int i = 0; i < 20; ++i)
    Exec("INSERT INTO BB VALUES (" + std::to_string(i) + ", " + std::to_string(i % 4) + ")");
  Exec("INSERT INTO C VALUES (1, 'one')");
  Exec("INSERT INTO C VALUES (3, 'three')");
  Exec("COMMIT");
  const std::string from =
      " FROM A INNER JOIN BB ON A.B = BB.ID INNER JOIN C ON BB.C = C.ID WHERE A.ID > 5";
  const V turned = Rows("SELECT A.ID, BB.ID, C.Name" + from + " ORDER BY 1");
  EXPECT_EQ(turned.size(), 27u);
  EXPECT_EQ(Rows("SELECT A.ID, BB.ID, C.Name" + from + " ORDER BY 1 NOJOINOPTIMIZE"), turned);
  EXPECT_EQ(turned.front(), "7|7|three");
  EXPECT_EQ(Rows("SELECT COUNT(*)" + from), (V{"27"}));
}

TEST_F(SqlSelect, UpdateAndDeleteThroughJoins) {
  Exec("CREATE TABLE Tags (Item INTEGER, Tag VARCHAR(8))");
  for (const char* row : {"(1, 'red')", "(1, 'sweet')", "(2, 'red')", "(4, 'dry')"})
    Exec(std::string("INSERT INTO Tags VALUES ") + row);
  // Item 1 meets two tags but counts once.
  EXPECT_EQ(Exec("UPDATE Items SET Price = 9 FROM Items INNER JOIN Tags t ON t.Item = Items.ID "
                 "WHERE t.Tag = 'red' OR t.Tag = 'sweet'"),
            2);
  EXPECT_EQ(Rows("SELECT ID FROM Items WHERE Price = 9"), (V{"1", "2"}));
  EXPECT_EQ(Exec("DELETE FROM Items i INNER JOIN Tags t ON t.Item = i.ID WHERE t.Tag <> 'dry'"), 2);
  EXPECT_EQ(Rows("SELECT ID FROM Items"), (V{"3", "4", "5"}));
}

TEST_F(SqlSelect, SubSelects) {
  EXPECT_EQ(Rows("SELECT ID FROM Items WHERE Grp IN (SELECT Grp FROM Items WHERE Name = 'fig' OR "
                 "Name = 'pear')"),
            (V{"1", "3", "4"}));
  EXPECT_EQ(Rows("SELECT ID FROM Items WHERE Grp NOT IN (SELECT Grp FROM Items WHERE ID > 99)"),
            (V{"1", "2", "3", "4", "5"}));
  EXPECT_EQ(Rows("SELECT ID FROM Items WHERE Price = (SELECT MAX(Price) FROM Items)"), (V{"4"}));
  EXPECT_EQ(Exec("DELETE FROM Items WHERE ID IN (SELECT ID FROM Items WHERE Grp = 2)"), 2);
}

TEST_F(SqlSelect, Union) {
  EXPECT_EQ(Rows("SELECT Name FROM Items WHERE Grp = 1 UNION SELECT Name FROM Items WHERE Grp = 2"),
            (V{"apple", "pear", "plum"}));
  EXPECT_EQ(FStatement.RowsAffected(), 4);  // the counts of both queries before the merge
  EXPECT_EQ(
      Rows("SELECT Name FROM Items WHERE Grp = 1 UNION ALL SELECT Name FROM Items WHERE Grp = 3 "
           "ORDER BY Name DESC"),
      (V{"fig", "apple", "apple"}));
}

TEST_F(SqlSelect, InsertUpdateDelete) {
  EXPECT_EQ(Exec("UPDATE Items SET Price = Price * 2, Name = 'x' || Name WHERE Grp = 1"), 2);
  EXPECT_EQ(Rows("SELECT Name, Price FROM Items WHERE Grp = 1"), (V{"xapple|4", "xapple|1"}));
  EXPECT_EQ(Exec("DELETE FROM Items WHERE Price IS NULL OR ID = 4"), 2);
  EXPECT_EQ(Rows("SELECT ID FROM Items"), (V{"1", "2", "5"}));
  EXPECT_EQ(Exec("INSERT INTO Items (ID, Name) VALUES (7, 'kiwi')"), 1);
  EXPECT_EQ(Rows("SELECT ID, Name, Grp FROM Items WHERE ID = 7"), (V{"7|kiwi|"}));
  Exec("CREATE TABLE Copy (ID INTEGER, Name VARCHAR(20))");
  EXPECT_EQ(Exec("INSERT INTO Copy SELECT ID, Name FROM Items WHERE ID > 1"), 3);
  EXPECT_EQ(Rows("SELECT * FROM Copy"), (V{"2|xapple", "5|xapple", "7|kiwi"}));
  EXPECT_EQ(Failure("INSERT INTO Items (ID) VALUES ('abc')"),
            "11949 Type mismatch between column ID and constant value abc in INSERT statement");
  Exec("CREATE TABLE D (ID INTEGER, Day DATE)");
  EXPECT_EQ(Exec("INSERT INTO D VALUES (1, '2024-02-29')"), 1);
  EXPECT_EQ(Rows("SELECT Day FROM D"), (V{"2024-02-29"}));
  EXPECT_EQ(Failure("INSERT INTO D VALUES (2, 'someday')"),
            "11949 Date, time, or timestamp expression expected, instead found 'someday' in update "
            "values");
  EXPECT_EQ(Failure("UPDATE D SET ID = Day, Day = 5"),
            "11949 Type mismatch between column 'Day' and constant '5' in update values");
  EXPECT_EQ(Failure("INSERT INTO Items (ID, Name) VALUES (1)"),
            "11949 The number of values must match the number of table columns");
  EXPECT_EQ(
      Failure("UPDATE Items SET Nope = 1"),
      "11949 Invalid column name 'Nope' or table correlation name '' specified in table columns");
  // An update that changes the key does not meet the same record twice.
  EXPECT_EQ(Exec("UPDATE Items SET ID = ID + 100"), 4);
  EXPECT_EQ(Rows("SELECT ID FROM Items"), (V{"101", "102", "105", "107"}));
}

TEST_F(SqlSelect, BlobColumnsAreCopiedIntoResults) {
  Exec("CREATE TABLE M (ID INTEGER, Txt MEMO)");
  Exec("INSERT INTO M VALUES (1, 'first note')");
  Exec("INSERT INTO M VALUES (2, NULL)");
  Exec("INSERT INTO M SELECT ID + 10, Txt FROM M");
  EXPECT_EQ(Exec("UPDATE M SET Txt = 'changed' WHERE ID = 2"), 1);
  EXPECT_EQ(Rows("SELECT ID, Txt FROM M ORDER BY ID DESC"),
            (V{"12|", "11|first note", "2|changed", "1|first note"}));
}

TEST_F(SqlSelect, LastAutoIncNeedsAnOpenTable) {
  Exec("CREATE TABLE A (N AUTOINC, T VARCHAR(5))");
  Exec("INSERT INTO A (T) VALUES ('x')");
  Exec("INSERT INTO A (T) VALUES ('y')");
  EXPECT_EQ(Rows("SELECT LASTAUTOINC('A') FROM A TOP 1"), (V{"2"}));
  EXPECT_EQ(Failure("SELECT LASTAUTOINC('A') FROM Items"),
            "11949 Illegal use of LASTAUTOINC() or IDENT_CURRENT() functions");
}

TEST_F(SqlSelect, Parameters) {
  FStatement.Prepare("SELECT ID FROM Items WHERE Grp = ? AND Price > ?");
  TExpValue grp;
  grp.SetInt(6, 1);
  TExpValue price;
  price.SetFloat(7, 1.0);
  FStatement.SetParameterValues({grp, price});
  FStatement.Execute();
  EXPECT_EQ(FStatement.RowsAffected(), 1);
  // Executed again with other values; a missing value reads as NULL.
  grp.SetInt(6, 2);
  FStatement.SetParameterValues({grp});
  FStatement.Execute();
  EXPECT_EQ(FStatement.RowsAffected(), 0);
  price.SetFloat(7, 0.0);
  FStatement.SetParameterValues({grp, price});
  FStatement.Execute();
  EXPECT_EQ(FStatement.RowsAffected(), 1);
  EXPECT_GE(FStatement.ExecutionTime(), 0.0);
}

// Tables and columns are resolved when the statement is prepared: these
// fail in Prepare, before anything runs, and leave it unprepared.
TEST_F(SqlSelect, PrepareResolvesTablesAndColumns) {
  Exec("CREATE TABLE D (ID INTEGER, Day DATE)");
  const struct {
    const char* Text;
    const char* Message;
  } cases[] = {
      {"SELECT Nope FROM Items", "Invalid column name 'Nope'"},
      {"SELECT ID FROM Items i, Items i",
       "Duplicate table correlation name 'i' found in source tables"},
      {"SELECT ID, COUNT(*) FROM Items",
       "A GROUP BY clause must exist when aggregate and non-aggregate columns are mixed"},
      {"SELECT ID FROM Items GROUP BY Nope", "Invalid column name 'Nope'"},
      {"SELECT ID FROM Items ORDER BY 3", "Column number 3 in ORDER BY clause is out of range"},
      {"SELECT ID FROM Items UNION SELECT ID, Name FROM Items",
       "The number of columns in UNIONed queries must match"},
      {"SELECT ID FROM Items WHERE ID IN (SELECT Nope FROM Items)", "Invalid column name 'Nope'"},
      {"INSERT INTO Items (ID, Name) VALUES (1)",
       "The number of values must match the number of table columns"},
      {"INSERT INTO D SELECT ID FROM Items",
       "The number of values must match the number of table columns"},
      {"INSERT INTO D VALUES (2, 'someday')",
       "Date, time, or timestamp expression expected, instead found 'someday' in update values"},
      {"UPDATE Items SET Nope = 1",
       "Invalid column name 'Nope' or table correlation name '' specified in table columns"},
      {"UPDATE D SET ID = Day, Day = 5",
       "Type mismatch between column 'Day' and constant '5' in update values"},
      {"DELETE FROM Items i WHERE i.ID IN (SELECT ID FROM Items j, Items j)",
       "Duplicate table correlation name 'j' found in source tables"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    std::string message = "no error";
    try {
      FStatement.Prepare(c.Text);
    } catch (const ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), 11949);
      message = e.ErrorMessage();
    }
    EXPECT_NE(message.find(c.Message), std::string::npos) << message;
    EXPECT_FALSE(FStatement.Prepared());
  }
  // A table that is not there is refused by Prepare with the engine's code.
  EXPECT_THROW(FStatement.Prepare("SELECT * FROM Missing"), ETarnEngineError);
  EXPECT_FALSE(FStatement.Prepared());
  // Preparing runs no sub-select and needs no parameter values.
  FStatement.Prepare(
      "SELECT ID + (SELECT MAX(ID) FROM Items) FROM Items WHERE Grp IN (SELECT Grp FROM Items "
      "WHERE ID = ?)");
  TExpValue id;
  id.SetInt(6, 4);
  FStatement.SetParameterValues({id});
  FStatement.Execute();
  EXPECT_EQ(FStatement.RowsAffected(), 1);
  FStatement.SetParameterValues({});
}

// A filter that leaves few of many records still yields them in the order
// of the table's index, not in the order they were stored.
TEST_F(SqlSelect, FewFilteredRecordsComeInIndexOrder) {
  Exec("CREATE TABLE F (ID INTEGER, V INTEGER, PRIMARY KEY (ID))");
  Exec("START TRANSACTION");
  for (int i = 200; i >= 1; --i)
    Exec("INSERT INTO F VALUES (" + std::to_string(i) + ", " + std::to_string(i % 50) + ")");
  Exec("COMMIT");
  EXPECT_EQ(Rows("SELECT ID FROM F WHERE V = 7"), (V{"7", "57", "107", "157"}));
  EXPECT_EQ(Rows("SELECT ID FROM F WHERE ID BETWEEN 98 AND 101"), (V{"98", "99", "100", "101"}));
  EXPECT_EQ(Rows("SELECT ID FROM F WHERE V = 7 AND ID > 100 ORDER BY ID DESC"), (V{"157", "107"}));
}

// UPDATE and DELETE with a WHERE filter over many rows, in their own
// transaction and in the caller's: every row met once, the view of the
// target following each change.
TEST_F(SqlSelect, FilteredChangesOverManyRows) {
  for (const bool outer : {false, true}) {
    SCOPED_TRACE(outer);
    Exec("CREATE TABLE W (ID INTEGER, V INTEGER, PRIMARY KEY (ID))");
    Exec("START TRANSACTION");
    for (int i = 1; i <= 300; ++i)
      Exec("INSERT INTO W VALUES (" + std::to_string(i) + ", " + std::to_string(i % 10) + ")");
    Exec("COMMIT");
    if (outer) Exec("START TRANSACTION");
    // Each changed row leaves the filter.
    EXPECT_EQ(Exec("UPDATE W SET V = V + 100 WHERE V < 3"), 90);
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM W WHERE V >= 100"), (V{"90"}));
    EXPECT_EQ(Exec("DELETE FROM W WHERE V >= 100 OR V = 5"), 120);
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM W"), (V{"180"}));
    EXPECT_EQ(Exec("UPDATE W SET V = V - 3 WHERE V >= 3"), 180);
    EXPECT_EQ(Rows("SELECT MIN(V), MAX(V) FROM W"), (V{"0|6"}));
    if (outer) {
      Exec("ROLLBACK");
      EXPECT_EQ(Rows("SELECT COUNT(*), MIN(V), MAX(V) FROM W"), (V{"300|0|9"}));
    }
    Exec("DROP TABLE W");
  }
}

// A prepared INSERT keeps its table open between runs; preparing again, or
// a script going on to the next statement, lets it go.
TEST_F(SqlSelect, PreparedInsertRunsManyTimes) {
  Exec("CREATE TABLE P2 (ID INTEGER)");
  FStatement.Prepare("INSERT INTO P2 VALUES (?)");
  for (int i = 1; i <= 3; ++i) {
    TExpValue v;
    v.SetInt(6, i);
    FStatement.SetParameterValues({v});
    FStatement.Execute();
  }
  FStatement.SetParameterValues({});
  EXPECT_EQ(Rows("SELECT ID FROM P2"), (V{"1", "2", "3"}));
  EXPECT_EQ(Exec("INSERT INTO P2 VALUES (4); DROP TABLE P2"), 1);
  EXPECT_NE(Failure("SELECT * FROM P2"), "no error");
}

TEST_F(SqlSelect, RowCountsOfScripts) {
  Exec("CREATE TABLE T2 (ID INTEGER)");
  EXPECT_EQ(Exec("INSERT INTO T2 VALUES (1); INSERT INTO T2 VALUES (2); DELETE FROM T2"), 4);
  EXPECT_EQ(Exec("INSERT INTO T2 SELECT ID FROM Items WHERE ID < 3; SELECT * FROM T2"), 4);
  EXPECT_EQ(FStatement.Kind(), TQueryKind::Select);
  ASSERT_NE(FStatement.Result(), nullptr);
  EXPECT_EQ(FStatement.Result()->GetRecordCount(), 2);
}

TEST_F(SqlSelect, RollbackInAScriptTakesTheCountBackToStartTransaction) {
  Exec("CREATE TABLE T2 (ID INTEGER)");
  EXPECT_EQ(Exec("START TRANSACTION; INSERT INTO T2 SELECT ID FROM Items WHERE ID < 3; ROLLBACK"),
            0);
  EXPECT_EQ(
      Exec("INSERT INTO T2 VALUES (9); START TRANSACTION; INSERT INTO T2 SELECT ID FROM Items; "
           "ROLLBACK"),
      1);
  EXPECT_EQ(Rows("SELECT * FROM T2"), (V{"9"}));
}

TEST_F(SqlSelect, AFailedChangeRollsBackToItsLastIntervalCommit) {
  Exec("CREATE TABLE U (ID INTEGER, V INTEGER, PRIMARY KEY (ID))");
  const int v[] = {10, 20, 30, 40, 10};
  for (int i = 0; i < 5; ++i)
    Exec("INSERT INTO U VALUES (" + std::to_string(i + 1) + ", " + std::to_string(v[i]) + ")");
  // The fifth row's new key meets the first row's: nothing of the statement stays.
  EXPECT_EQ(Failure("UPDATE U SET ID = V").substr(0, 4), "9729");
  EXPECT_EQ(Rows("SELECT ID FROM U"), (V{"1", "2", "3", "4", "5"}));
  // With a commit every two rows the first four stay.
  EXPECT_EQ(Failure("UPDATE U SET ID = V COMMIT INTERVAL 2").substr(0, 4), "9729");
  EXPECT_EQ(Rows("SELECT ID FROM U"), (V{"5", "10", "20", "30", "40"}));
}

TEST_F(SqlSelect, CancelledUpdateKeepsTheRowsSoFar) {
  FSession.SetMaxDataBufferCount(10);  // commit interval 10
  Exec("CREATE TABLE C (ID INTEGER, V INTEGER)");
  for (int i = 1; i <= 100; ++i) Exec("INSERT INTO C VALUES (" + std::to_string(i) + ", 0)");
  FStatement.SetProgressCallback([](int percent) { return percent >= 30; });
  EXPECT_EQ(Exec("UPDATE C SET V = 1"),
            40);  // the first report at or above 30 comes at 40 (steps of 20)
  FStatement.SetProgressCallback({});
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM C WHERE V = 1"), (V{"40"}));
}

TEST_F(SqlSelect, ProgressReportsAndStops) {
  std::vector<int> seen;
  FSession.SetProgressSteps(10);
  Exec("CREATE TABLE P (ID INTEGER)");
  for (int i = 1; i <= 3; ++i) Exec("INSERT INTO P VALUES (" + std::to_string(i) + ")");
  FStatement.SetProgressCallback([&](int percent) {
    seen.push_back(percent);
    return false;
  });
  EXPECT_EQ(Exec("UPDATE P SET ID = ID + 1"), 3);
  EXPECT_EQ(seen, (std::vector<int>{33, 66, 100}));
  // Stopping keeps the rows changed so far.
  FStatement.SetProgressCallback([&](int percent) { return percent >= 30; });
  EXPECT_EQ(Exec("DELETE FROM P"), 1);
  FStatement.SetProgressCallback({});
  EXPECT_EQ(Rows("SELECT ID FROM P"), (V{"3", "4"}));
}

}  // namespace

namespace {

using namespace tarn;

// A result larger than the record cache is sorted through run files in the
// private directory, which are gone afterwards; the merge keeps equal keys
// in the order produced.
TEST(SqlExternalSort, RunFilesMergeInOrderAndAreRemoved) {
  testing_support::TTempDir data;
  testing_support::TTempDir scratch;
  TDataSession session;
  session.SetPrivateDirectory(scratch.Path());
  session.SetMaxDataBufferCount(16);
  TDataDirectory& directory = session.OpenDirectory("Big", data.Path());
  TQueryStatement statement(directory);
  const auto exec = [&](const std::string& text) {
    statement.Prepare(text);
    statement.Execute();
  };
  exec("CREATE TABLE Big (N INTEGER, K INTEGER, S VARCHAR(10))");
  for (int i = 0; i < 300; ++i)
    exec("INSERT INTO Big VALUES (" + std::to_string(i) + ", " + std::to_string((i * 37) % 50) +
         ", 'v" + std::to_string(i % 7) + "')");
  exec("SELECT K, N FROM Big ORDER BY K DESC");
  EXPECT_GT(statement.SortRunFiles(), 1u);
  TDataCursor& cursor = *statement.Result();
  std::vector<std::uint8_t> record(cursor.RecordSize());
  std::vector<std::pair<int, int>> rows;
  while (cursor.GetNextRecord(record) == 0)
    rows.emplace_back(std::stoi(FieldText(cursor, 1, record)),
                      std::stoi(FieldText(cursor, 2, record)));
  ASSERT_EQ(rows.size(), 300u);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_GE(rows[i - 1].first, rows[i].first);
    if (rows[i - 1].first == rows[i].first) {
      ASSERT_LT(rows[i - 1].second, rows[i].second) << i;
    }
  }
  exec("SELECT DISTINCT S FROM Big");
  EXPECT_EQ(statement.Result()->GetRecordCount(), 7);
  EXPECT_GT(statement.SortRunFiles(), 1u);
  EXPECT_TRUE(std::filesystem::is_empty(scratch.Path()));
}

// Every kind of cell comes back from a run file as it went in.
TEST(SqlExternalSort, CellsOfEveryKindSurviveTheRunFiles) {
  testing_support::TTempDir scratch;
  std::vector<TSqlRow> rows;
  for (int i = 0; i < 40; ++i) {
    TSqlRow row(5);
    row[0].Type = FieldType::Int32;
    row[0].Null = false;
    row[0].Int = (i * 17) % 40 - 20;  // the sort key, negatives included
    row[1].Type = FieldType::Float;
    row[1].Null = i % 5 == 0;
    row[1].Float = row[1].Null ? 0.0 : -0.5 * i;
    row[2].Type = FieldType::Bcd;
    row[2].Null = false;
    row[2].Bcd = BcdFromFixed(i * 12345 - 100000, 4);
    row[3].Type = FieldType::String;
    row[3].Null = i % 3 == 0;
    row[3].Text = row[3].Null ? "" : std::string(static_cast<std::size_t>(i), 'x') + "|";
    row[4].Type = FieldType::Int64;
    row[4].Null = false;
    row[4].Int = static_cast<std::int64_t>(i) << 40;
    rows.push_back(row);
  }
  std::vector<TSqlRow> sorted = rows;
  const TRowLess less = [](const TSqlRow& a, const TSqlRow& b) { return a[0].Int < b[0].Int; };
  EXPECT_GT(SortRows(sorted, less, TSortSpill{scratch.Path(), 7}), 1u);
  std::stable_sort(rows.begin(), rows.end(), less);
  ASSERT_EQ(sorted.size(), rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      SCOPED_TRACE(std::to_string(r) + "/" + std::to_string(c));
      const TSqlCell& a = rows[r][c];
      const TSqlCell& b = sorted[r][c];
      EXPECT_EQ(a.Type, b.Type);
      EXPECT_EQ(a.Null, b.Null);
      EXPECT_EQ(a.Int, b.Int);
      EXPECT_EQ(a.Float, b.Float);
      EXPECT_EQ(BcdFixedValue(a.Bcd), BcdFixedValue(b.Bcd));
      EXPECT_EQ(a.Text, b.Text);
    }
  EXPECT_TRUE(std::filesystem::is_empty(scratch.Path()));
}

}  // namespace
