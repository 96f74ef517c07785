// The query component over real table files: parameters found in the text
// and passed in every type, live and copied results, statements that change
// data, the master link, and the errors of preparing and running.

#include "dbcomp/tarn_query.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dbcomp/data_source.h"
#include "dbcomp/database.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/encrypted_table.h"
#include "dbcomp/field_data_link.h"
#include "dbcomp/session.h"
#include "dbcomp/session_list.h"
#include "engine/base/date_time.h"
#include "engine/base/engine_error.h"
#include "engine/base/error_codes.h"
#include "sql/query_statement.h"
#include "table_fixture.h"

namespace dbcomp {
namespace {

using dbcomp_testing::CodeOf;
using dbcomp_testing::MessageOf;
using dbcomp_testing::TableTest;
using Strings = std::vector<std::string>;

class QueryTest : public TableTest {
 protected:
  std::unique_ptr<TTarnQuery> NewQuery(std::string_view sql = {}) const {
    auto query = std::make_unique<TTarnQuery>();
    query->SetDatabaseName(Dir.Path());
    if (!sql.empty()) query->SetSQLText(sql);
    return query;
  }

  // Runs a statement that gives no rows; answers RowsAffected.
  int Exec(std::string_view sql, const std::function<void(TTarnQuery&)>& setParams = {}) const {
    auto query = NewQuery(sql);
    if (setParams) setParams(*query);
    query->ExecSQL();
    return query->RowsAffected();
  }

  // The "People" rows as the table component reads them: "Id:Name:City:Age".
  Strings PeopleRows() const {
    auto table = NewTable();
    table->Open();
    Strings rows;
    for (table->First(); !table->IsEmpty() && !table->AtEnd(); table->Next()) {
      std::string row = table->FieldByName("Id").AsString();
      for (const char* f : {"Name", "City", "Age"}) {
        TField& field = table->FieldByName(f);
        row += ":" + (field.IsNull() ? std::string("-") : field.AsString());
      }
      rows.push_back(row);
    }
    return rows;
  }
};

// ------------------------------------------------------------- markers ----

TEST(ParamMarkers, FoundOutsideStringsNamesAndComments) {
  struct Case {
    const char* Sql;
    const char* Text;
    Strings Markers;
  };
  const Case cases[] = {
      {"SELECT * FROM T WHERE A = :a AND B=:B_2",
       "SELECT * FROM T WHERE A = ? AND B=?",
       {"a", "B_2"}},
      {"WHERE A = ':x' AND B = :y", "WHERE A = ':x' AND B = ?", {"y"}},
      {"WHERE A = 'it''s :x' OR B = \"q:z\"", "WHERE A = 'it''s :x' OR B = \"q:z\"", {}},
      {"SELECT [odd:name] FROM T /* :c */ WHERE D = :d",
       "SELECT [odd:name] FROM T /* :c */ WHERE D = ?",
       {"d"}},
      {"SELECT 'a'::x", "SELECT 'a':x", {}},
      {"WHERE A = :\"my \"\"param\"\"\" + :a + :a",
       "WHERE A = ? + ? + ?",
       {"my \"param\"", "a", "a"}},
      {"WHERE A = : x AND B = :", "WHERE A = : x AND B = :", {}},
      {"WHERE A = ':open", "WHERE A = ':open", {}},
  };
  for (const Case& c : cases) {
    const TParsedSQL parsed = ParseParamMarkers(c.Sql);
    EXPECT_EQ(parsed.Text, c.Text) << c.Sql;
    EXPECT_EQ(parsed.Markers, c.Markers) << c.Sql;
  }
}

TEST(Param, TypedValuesReadAsText) {
  const std::int32_t day = *tarn::EncodeDate(1999, 12, 31);
  struct Case {
    std::function<void(TParam&)> Set;
    TFieldType Type;
    const char* Text;
  };
  const Case cases[] = {
      {[](TParam& p) { p.SetAsBCD("1e3"); }, TFieldType::BCD, "1000"},
      {[](TParam& p) { p.SetAsBCD(" -0.125 "); }, TFieldType::BCD, "-0.125"},
      {[](TParam& p) { p.SetAsBCD("12345678901234567890.5"); }, TFieldType::BCD,
       "12345678901234567890.5"},
      {[](TParam& p) { p.SetAsBoolean(false); }, TFieldType::Boolean, "False"},
      {[&](TParam& p) { p.SetAsDate(day); }, TFieldType::Date, "1999-12-31"},
      {[&](TParam& p) { p.SetAsDateTime(std::int64_t{day} * 86400000 + 1); }, TFieldType::DateTime,
       "1999-12-31 00:00:00.001"},
      {[](TParam& p) { p.SetAsFloat(1.5); }, TFieldType::Float, "1.5"},
      {[](TParam& p) { p.SetAsWord(65535); }, TFieldType::Word, "65535"},
  };
  for (const Case& c : cases) {
    TParam param("p");
    EXPECT_FALSE(param.Bound());
    c.Set(param);
    EXPECT_EQ(param.DataType(), c.Type);
    EXPECT_EQ(param.AsString(), c.Text);
    EXPECT_TRUE(param.Bound());
    EXPECT_FALSE(param.IsNull());
  }
  TParam param("p");
  EXPECT_EQ(MessageOf([&] { param.SetAsBCD("12a"); }), "'12a' is not a valid BCD value");
  EXPECT_EQ(param.DataType(), TFieldType::Unknown);
}

TEST_F(QueryTest, ParamsFollowTheTextAndKeepValuesByName) {
  auto query = NewQuery("SELECT * FROM People WHERE City = :City AND Age > :Age OR Id = :city");
  ASSERT_EQ(query->ParamCount(), 2u) << "one parameter per name, whatever its case";
  EXPECT_EQ(query->Params()[0].Name(), "City");
  EXPECT_EQ(query->Params()[1].Name(), "Age");
  EXPECT_EQ(query->Text(), "SELECT * FROM People WHERE City = ? AND Age > ? OR Id = ?");
  EXPECT_EQ(query->Params()[0].DataType(), TFieldType::Unknown);
  query->ParamByName("city").SetAsString("Oslo");
  query->ParamByName("Age").SetAsInteger(30);

  query->SetSQLText("SELECT * FROM People WHERE Age > :Age AND Name = :Name");
  ASSERT_EQ(query->ParamCount(), 2u);
  EXPECT_EQ(query->Params()[0].Name(), "Age");
  EXPECT_EQ(query->Params()[0].AsInteger(), 30) << "value copied over by name";
  EXPECT_TRUE(query->Params()[0].Bound());
  EXPECT_EQ(query->Params()[1].DataType(), TFieldType::Unknown)
      << "a new name starts without a value";
  EXPECT_EQ(query->FindField("City"), nullptr);
  EXPECT_EQ(MessageOf([&] { query->ParamByName("City"); }), "Parameter 'City' not found");

  // Without ParamCheck the text is taken as written and the list is left alone.
  query->SetParamCheck(false);
  query->SetSQLText("SELECT * FROM People WHERE Id = ?");
  EXPECT_EQ(query->Text(), "SELECT * FROM People WHERE Id = ?");
  EXPECT_EQ(query->ParamCount(), 2u);
}

// ------------------------------------------------ parameters and results ----

TEST_F(QueryTest, ParameterisedSelectsReadThroughTheDataset) {
  struct Case {
    const char* Name;
    const char* Sql;
    std::function<void(TTarnQuery&)> Set;
    Strings Ids;
  };
  const Case cases[] = {
      {"string",
       "SELECT Id FROM People WHERE City = :c ORDER BY Id",
       [](TTarnQuery& q) { q.ParamByName("c").SetAsString("Oslo"); },
       {"1", "3", "6"}},
      {"string with trailing blanks",
       "SELECT Id FROM People WHERE City = :c ORDER BY Id",
       [](TTarnQuery& q) { q.ParamByName("c").SetAsString("Bergen   "); },
       {"2", "5"}},
      // A null value compared with "=" finds the rows where the column is null.
      {"blank string is null",
       "SELECT Id FROM People WHERE City = :c OR Id = 1 ORDER BY Id",
       [](TTarnQuery& q) { q.ParamByName("c").SetAsString("   "); },
       {"1", "4"}},
      {"null",
       "SELECT Id FROM People WHERE Name = :n OR Id = 2 ORDER BY Id",
       [](TTarnQuery& q) {
         q.ParamByName("n").SetDataType(TFieldType::String);
         q.ParamByName("n").Clear();
       },
       {"2", "5"}},
      {"smallint",
       "SELECT Id FROM People WHERE Age = :a ORDER BY Id",
       [](TTarnQuery& q) { q.ParamByName("a").SetAsSmallInt(45); },
       {"2", "4"}},
      {"float",
       "SELECT Id FROM People WHERE Age > :a ORDER BY Id",
       [](TTarnQuery& q) { q.ParamByName("a").SetAsFloat(30.5); },
       {"1", "2", "4", "6"}},
      {"largeint",
       "SELECT Id FROM People WHERE Id > :a ORDER BY Id",
       [](TTarnQuery& q) { q.ParamByName("a").SetAsLargeInt(4); },
       {"5", "6"}},
      {"bcd",
       "SELECT Id FROM People WHERE Age < :a ORDER BY Id",
       [](TTarnQuery& q) { q.ParamByName("a").SetAsBCD("31.0001"); },
       {"1", "3", "6"}},
      {"one name, two markers",
       "SELECT Id FROM People WHERE Id >= :n AND Age > :n ORDER BY Id",
       [](TTarnQuery& q) { q.ParamByName("n").SetAsInteger(3); },
       {"3", "4", "6"}},
      {"two names",
       "SELECT Id FROM People WHERE City = :c AND Age = :a",
       [](TTarnQuery& q) {
         q.ParamByName("a").SetAsInteger(31);
         q.ParamByName("c").SetAsString("Oslo");
       },
       {"1", "6"}},
      {"by position",
       "SELECT Id FROM People WHERE City = ? AND Age = ? ORDER BY Id",
       [](TTarnQuery& q) {
         q.Params().CreateParam(TFieldType::String, "first").SetAsString("Bergen");
         q.Params().CreateParam(TFieldType::Integer, "second").SetAsInteger(45);
       },
       {"2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto query = NewQuery();
    if (std::string(c.Name) == "by position") query->SetParamCheck(false);
    query->SetSQLText(c.Sql);
    c.Set(*query);
    query->Open();
    EXPECT_EQ(Column(*query, "Id"), c.Ids);
    EXPECT_EQ(query->RowsAffected(), static_cast<int>(c.Ids.size()));
    query->Close();
  }
}

TEST_F(QueryTest, EveryParameterTypeRoundTripsThroughATable) {
  Exec(
      "CREATE TABLE Events (Id INTEGER, Day DATE, At TIMESTAMP, Tm TIME, Flag BOOLEAN, "
      "Price DECIMAL(10,2), Ratio FLOAT, Cost MONEY, Big LARGEINT, Small SMALLINT, W WORD, "
      "Bin BYTES(3), Txt VARCHAR(10), Note MEMO, PRIMARY KEY (Id))");
  const std::int32_t day = *tarn::EncodeDate(2024, 2, 29);
  const std::string longText(300, 'x');
  struct Case {
    const char* Column;
    std::function<void(TParam&)> Set;
    const char* Expected;  // the field's text read back
  };
  const Case cases[] = {
      {"Day", [&](TParam& p) { p.SetAsDate(day); }, "2024-02-29"},
      {"At", [&](TParam& p) { p.SetAsDateTime(std::int64_t{day} * 86400000 + 45296000); },
       "2024-02-29 12:34:56"},
      {"Tm", [](TParam& p) { p.SetAsTime(3723004); }, "01:02:03.004"},
      {"Flag", [](TParam& p) { p.SetAsBoolean(true); }, "True"},
      {"Price", [](TParam& p) { p.SetAsBCD("-12.5"); }, "-12.50"},
      {"Ratio", [](TParam& p) { p.SetAsFloat(0.25); }, "0.25"},
      {"Cost", [](TParam& p) { p.SetAsCurrency(19.99); }, "19.99"},
      {"Big", [](TParam& p) { p.SetAsLargeInt(-9000000000); }, "-9000000000"},
      {"Small", [](TParam& p) { p.SetAsSmallInt(-7); }, "-7"},
      {"W", [](TParam& p) { p.SetAsWord(65000); }, "65000"},
      {"Bin",
       [](TParam& p) {
         p.SetAsBytes(std::vector<std::uint8_t>{'a', 'b', 'c'});
       },
       "abc"},
      {"Txt", [](TParam& p) { p.SetAsString("ten chars!"); }, "ten chars!"},
      {"Note", [&](TParam& p) { p.SetAsString(longText); }, longText.c_str()},
      {"Note", [](TParam& p) { p.SetAsMemo("a memo"); }, "a memo"},
  };
  int id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Column);
    ++id;
    const std::string column = c.Column;
    EXPECT_EQ(Exec("INSERT INTO Events (Id, " + column + ") VALUES (:id, :v)",
                   [&](TTarnQuery& q) {
                     q.ParamByName("id").SetAsInteger(id);
                     c.Set(q.ParamByName("v"));
                   }),
              1);
    // Found again by the same value, and read back through the dataset.
    auto query = NewQuery("SELECT Id, " + column + " FROM Events WHERE " +
                          (column == "Note" ? "Id = :id" : column + " = :v"));
    if (column == "Note")
      query->ParamByName("id").SetAsInteger(id);
    else
      c.Set(query->ParamByName("v"));
    query->Open();
    ASSERT_FALSE(query->IsEmpty());
    EXPECT_EQ(query->FieldByName("Id").AsInteger(), id);
    EXPECT_EQ(query->FieldByName(column).AsString(), c.Expected);
    query->Next();
    EXPECT_TRUE(query->AtEnd());
  }
}

TEST_F(QueryTest, NullAndBlankParametersStoreNull) {
  EXPECT_EQ(Exec("INSERT INTO People (Id, Name, City, Age) VALUES (:id, :name, :city, :age)",
                 [](TTarnQuery& q) {
                   q.ParamByName("id").SetAsInteger(7);
                   q.ParamByName("name").SetAsString("  ");
                   q.ParamByName("city").SetAsString("Tromso  ");
                   q.ParamByName("age").SetDataType(TFieldType::Smallint);
                 }),
            1);
  EXPECT_EQ(PeopleRows().back(), "7:-:Tromso:-");
}

TEST_F(QueryTest, AParameterWithoutTypeHasNoValue) {
  auto query = NewQuery("SELECT * FROM People WHERE Id = :id OR Name = :name");
  query->SetName("Q1");
  query->ParamByName("id").SetAsInteger(1);
  EXPECT_EQ(MessageOf([&] { query->Open(); }), "Q1: No value for parameter 'name'");
  EXPECT_FALSE(query->Active());
  EXPECT_TRUE(query->Prepared()) << "a failure before the statement ran keeps it prepared";
}

// --------------------------------------------------- live and copied ----

TEST_F(QueryTest, ALiveResultEditsTheTable) {
  auto query = NewQuery("SELECT * FROM People WHERE City = :c ORDER BY Id");
  query->SetRequestLive(true);
  query->ParamByName("c").SetAsString("Oslo");
  query->Open();
  EXPECT_TRUE(query->StmtHandle()->ResultLive());
  EXPECT_FALSE(query->ReadOnly());
  EXPECT_TRUE(query->CanModify());
  EXPECT_EQ(Column(*query, "Id"), (Strings{"1", "3", "6"}));
  query->First();
  query->Next();
  query->Edit();
  query->FieldByName("Name").SetAsString("Karla");
  query->FieldByName("Age").SetAsInteger(28);
  query->Post();
  query->Last();
  query->Delete();
  query->Close();
  EXPECT_EQ(PeopleRows(), (Strings{"1:Anna:Oslo:31", "2:bert:Bergen:45", "3:Karla:Oslo:28",
                                   "4:Dag:-:45", "5:-:Bergen:-"}));
}

TEST_F(QueryTest, ACopiedResultRefusesEdits) {
  Exec("CREATE TABLE Cities (City VARCHAR(20), Country VARCHAR(20), PRIMARY KEY (City))");
  Exec(
      "INSERT INTO Cities VALUES ('Oslo', 'Norway'); INSERT INTO Cities VALUES ('Bergen', "
      "'Norway')");
  struct Case {
    const char* Name;
    const char* Sql;
    bool RequestLive;
  };
  const Case cases[] = {
      {"join",
       "SELECT p.Id, c.Country FROM People p JOIN Cities c ON p.City = c.City ORDER BY p.Id", true},
      {"grouping", "SELECT City, COUNT(*) AS N FROM People GROUP BY City", true},
      {"distinct", "SELECT DISTINCT City FROM People", true},
      {"not asked to be live", "SELECT * FROM People", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto query = NewQuery(c.Sql);
    query->SetRequestLive(c.RequestLive);
    query->Open();
    EXPECT_FALSE(query->StmtHandle()->ResultLive());
    EXPECT_TRUE(query->ReadOnly());
    EXPECT_FALSE(query->CanModify());
    EXPECT_EQ(MessageOf([&] { query->Edit(); }), Msg::DataSetReadOnly);
    EXPECT_EQ(MessageOf([&] { query->Append(); }), Msg::DataSetReadOnly);
    EXPECT_EQ(query->State(), TDataSetState::Browse);
    query->Close();
    EXPECT_FALSE(query->ReadOnly()) << "the result's read-only state goes with the result";
  }
  auto join = NewQuery(cases[0].Sql);
  join->Open();
  EXPECT_EQ(Column(*join, "Id"), (Strings{"1", "2", "3", "5", "6"}));
  EXPECT_EQ(Column(*join, "Country"), (Strings{"Norway", "Norway", "Norway", "Norway", "Norway"}));
  EXPECT_TRUE(join->Locate("Id", {std::string("3")}));
  EXPECT_EQ(join->RecNo(), 3);
  EXPECT_EQ(join->RecordCount(), 5);
  EXPECT_EQ(PeopleRows().size(), 6u);
}

TEST_F(QueryTest, ReadOnlyRefusesEditsOfALiveResult) {
  auto query = NewQuery("SELECT * FROM People");
  query->SetRequestLive(true);
  query->SetReadOnly(true);
  query->Open();
  EXPECT_TRUE(query->StmtHandle()->ResultLive());
  EXPECT_EQ(MessageOf([&] { query->Edit(); }), Msg::DataSetReadOnly);
  EXPECT_EQ(MessageOf([&] { query->SetReadOnly(false); }), Msg::DataSetOpen);
}

TEST_F(QueryTest, MaxRowCountReachesAPreparedStatementAtOnce) {
  auto query = NewQuery("SELECT Id FROM People");
  query->Prepare();
  query->SetMaxRowCount(2);
  EXPECT_EQ(query->StmtHandle()->MaxRowCount(), 2);
  query->Open();
  EXPECT_EQ(Column(*query, "Id").size(), 2u);
}

// ----------------------------------------------------- data changes ----

TEST_F(QueryTest, ExecSqlChangesRowsAndCountsThem) {
  EXPECT_EQ(Exec("INSERT INTO People (Id, Name) VALUES (:id, :name)",
                 [](TTarnQuery& q) {
                   q.ParamByName("id").SetAsInteger(8);
                   q.ParamByName("name").SetAsString("Eva");
                 }),
            1);
  EXPECT_EQ(Exec("UPDATE People SET Age = Age + 1 WHERE City = :c",
                 [](TTarnQuery& q) { q.ParamByName("c").SetAsString("Oslo"); }),
            3);
  EXPECT_EQ(Exec("DELETE FROM People WHERE Age IS NULL"), 2);
  EXPECT_EQ(PeopleRows(), (Strings{"1:Anna:Oslo:32", "2:bert:Bergen:45", "3:Carla:Oslo:28",
                                   "4:Dag:-:45", "6:Anders:Oslo:32"}));

  // The same prepared statement runs again with other values.
  auto query = NewQuery("DELETE FROM People WHERE Id = :id");
  query->ParamByName("id").SetAsInteger(1);
  query->ExecSQL();
  EXPECT_EQ(query->RowsAffected(), 1);
  EXPECT_GE(query->ExecutionTime(), 0.0);
  EXPECT_TRUE(query->Prepared());
  query->ParamByName("id").SetAsInteger(99);
  query->ExecSQL();
  EXPECT_EQ(query->RowsAffected(), 0);
  EXPECT_EQ(PeopleRows().size(), 4u);
}

TEST_F(QueryTest, ProgressIsReportedAndMayStopTheStatement) {
  auto query = NewQuery("UPDATE People SET Age = 1");
  std::vector<int> reported;
  query->OnQueryProgress = [&](TTarnQuery& sender, int percent, bool& abortQuery) {
    EXPECT_EQ(&sender, query.get());
    reported.push_back(percent);
    abortQuery = percent >= 50;
  };
  query->ExecSQL();
  ASSERT_FALSE(reported.empty());
  EXPECT_EQ(reported.back(), 100);
  EXPECT_LT(query->RowsAffected(), 6) << "asked to stop part way";
  EXPECT_GT(query->RowsAffected(), 0);
  int ones = 0;
  for (const std::string& row : PeopleRows()) ones += row.ends_with(":1") ? 1 : 0;
  EXPECT_EQ(ones, query->RowsAffected()) << "the rows changed before the stop stay changed";
}

// ----------------------------------------------------------- errors ----

TEST_F(QueryTest, PrepareAndOpenErrors) {
  auto query = NewQuery();
  EXPECT_EQ(MessageOf([&] { query->Open(); }), "No SQL statement available");
  EXPECT_EQ(MessageOf([&] { query->ExecSQL(); }), "No SQL statement available");
  query->SetSQLText("S");
  EXPECT_EQ(MessageOf([&] { query->Prepare(); }), "No SQL statement available");

  query->SetSQLText("SELEC * FROM People");
  EXPECT_EQ(CodeOf([&] { query->Prepare(); }), tarn::TARN_SQLPARSE);
  EXPECT_FALSE(query->Prepared());

  query->SetSQLText("SELECT * FROM People");
  query->Prepare();
  query->Prepare();  // already prepared: nothing
  query->Open();
  query->SetName("Q");
  EXPECT_EQ(MessageOf([&] { query->Prepare(); }),
            "Q: Cannot perform this operation on an open dataset");
  EXPECT_EQ(MessageOf([&] { query->UnPrepare(); }),
            "Q: Cannot perform this operation on an open dataset");
  EXPECT_EQ(MessageOf([&] { query->ExecSQL(); }),
            "Q: Cannot perform this operation on an open dataset");
  query->Close();
  EXPECT_FALSE(query->Prepared()) << "closing unprepares";
  query->UnPrepare();  // already unprepared: nothing

  // A statement that gives no rows opens no dataset (but has run).
  query->SetSQLText("UPDATE People SET Age = 2 WHERE Id = 1");
  EXPECT_EQ(MessageOf([&] { query->Open(); }), Msg::HandleError);
  EXPECT_EQ(PeopleRows().front(), "1:Anna:Oslo:2");
}

TEST_F(QueryTest, AnSqlErrorOfTheRunUnpreparesOtherFailuresDoNot) {
  // Prepare opens the tables; one that goes away before the run fails the
  // run with the file's error.
  Exec("CREATE TABLE Gone (Id INTEGER)");
  auto query = NewQuery("SELECT * FROM Gone");
  query->Prepare();
  Exec("DROP TABLE Gone");
  EXPECT_EQ(CodeOf([&] { query->Open(); }), 11010);
  EXPECT_FALSE(query->Active());
  EXPECT_TRUE(query->Prepared());

  query->SetSQLText("SELECT * FROM People WHERE Name + 1");
  query->Prepare();
  EXPECT_EQ(CodeOf([&] { query->Open(); }), tarn::TARN_SQLPARSE);
  EXPECT_FALSE(query->Prepared());
  query->Prepare();
  EXPECT_EQ(CodeOf([&] { query->ExecSQL(); }), tarn::TARN_SQLPARSE);
  EXPECT_FALSE(query->Prepared());
}

TEST_F(QueryTest, CircularDataLinksAreRefused) {
  auto a = NewQuery("SELECT * FROM People");
  auto b = NewQuery("SELECT * FROM People");
  auto table = NewTable();
  TDataSource sourceA(a.get()), sourceB(b.get()), sourceT(table.get());
  EXPECT_EQ(MessageOf([&] { a->SetDataSource(&sourceA); }), Msg::CircularDataLink);
  b->SetDataSource(&sourceA);
  EXPECT_EQ(MessageOf([&] { a->SetDataSource(&sourceB); }), Msg::CircularDataLink);
  // Through a table's master link as well.
  table->SetMasterSource(&sourceB);
  EXPECT_EQ(MessageOf([&] { a->SetDataSource(&sourceT); }), Msg::CircularDataLink);
  EXPECT_EQ(a->DataSource(), nullptr);
  table->SetMasterSource(nullptr);
}

// ----------------------------------------------------------- master ----

TEST_F(QueryTest, AMasterSuppliesUnboundParametersAndReopensTheQuery) {
  auto master = NewTable();
  master->SetIndexName("ByCity");
  TDataSource source(master.get());
  auto detail =
      NewQuery("SELECT Id, City FROM People WHERE City = :City AND Age > :MinAge ORDER BY Id");
  detail->ParamByName("MinAge").SetAsInteger(0);
  detail->SetDataSource(&source);
  master->Open();  // Bergen (2), Bergen (5), Oslo ... in index order; null city first
  detail->Open();
  EXPECT_FALSE(detail->ParamByName("City").Bound()) << "a value from the master leaves it unbound";

  std::vector<TField*> masterFields, detailFields;
  detail->GetDetailLinkFields(masterFields, detailFields);
  ASSERT_EQ(masterFields.size(), 1u);
  EXPECT_EQ(masterFields[0], &master->FieldByName("City"));
  EXPECT_EQ(detailFields[0], &detail->FieldByName("City"));

  Strings seen;
  for (master->First(); !master->AtEnd(); master->Next()) {
    const std::string city =
        master->FieldByName("City").IsNull() ? "-" : master->FieldByName("City").AsString();
    seen.push_back(city + "=" + [&] {
      std::string ids;
      for (const std::string& id : Column(*detail, "Id")) ids += id;
      return ids;
    }());
  }
  // The master's null city finds the detail rows whose city is null.
  EXPECT_EQ(seen, (Strings{"-=4", "Bergen=2", "Bergen=2", "Oslo=136", "Oslo=136", "Oslo=136"}));

  // A bound parameter keeps its own value.
  detail->ParamByName("City").SetAsString("Bergen");
  master->First();
  EXPECT_EQ(Column(*detail, "Id"), (Strings{"2"}));
}

TEST_F(QueryTest, ControlsSeeOneChangeWhenTheMasterMoves) {
  auto master = NewTable();
  TDataSource masterSource(master.get());
  auto detail = NewQuery("SELECT Id FROM People WHERE Age = :Age ORDER BY Id");
  detail->SetDataSource(&masterSource);
  TDataSource detailSource(detail.get());
  TFieldDataLink control;
  int inactive = 0;
  control.OnActiveChange = [&] { inactive += control.Active() ? 0 : 1; };
  Strings shown;
  control.OnDataChange = [&] {
    if (control.Field() != nullptr) shown.push_back(control.Field()->AsString());
  };
  control.SetFieldName("Id");
  control.SetDataSource(&detailSource);
  master->Open();
  detail->Open();
  shown.clear();
  master->Next();  // bert, 45: the detail runs again for 45
  EXPECT_EQ(inactive, 0) << "the control never saw the query closed";
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), "2");
  EXPECT_EQ(control.Field(), &detail->FieldByName("Id"))
      << "the control's field is the new result's";
  EXPECT_FALSE(detail->ControlsDisabled());
}

TEST_F(QueryTest, TheMasterLeavingEditModeEndsTheDetailsEdit) {
  auto master = NewTable();
  TDataSource source(master.get());
  auto detail = NewQuery("SELECT * FROM People WHERE City = :City ORDER BY Id");
  detail->SetRequestLive(true);
  detail->SetDataSource(&source);
  master->Open();
  detail->Open();
  master->Edit();  // the master's record read again: the detail runs again
  EXPECT_EQ(Column(*detail, "Id"), (Strings{"1", "3", "6"}));
  detail->First();
  detail->Next();
  detail->Edit();
  detail->FieldByName("Name").SetAsString("Karla");
  master->FieldByName("Age").SetAsInteger(99);
  master->Post();
  EXPECT_EQ(detail->State(), TDataSetState::Browse);
  const Strings rows = PeopleRows();
  EXPECT_EQ(rows[0], "1:Anna:Oslo:99");
  EXPECT_EQ(rows[2], "3:Karla:Oslo:27");
}

// ------------------------------------------- lifecycle and database ----

TEST_F(QueryTest, TextChangesCloseUnprepareAndDropStoredData) {
  auto query = NewQuery("SELECT * FROM People WHERE Id = :id");
  query->ParamByName("id").SetAsInteger(3);
  query->Open();
  query->SetData({1, 2, 3});
  query->SetSQLText("SELECT * FROM People WHERE Id = :id");  // same text: nothing
  EXPECT_TRUE(query->Active());
  EXPECT_EQ(query->Data().size(), 3u);
  query->SetSQLText("SELECT Name FROM People WHERE Id = :id");
  EXPECT_FALSE(query->Active());
  EXPECT_FALSE(query->Prepared());
  EXPECT_TRUE(query->Data().empty());
  query->Open();
  EXPECT_EQ(Column(*query, "Name"), (Strings{"Carla"}));

  // Stored parameters: when there are any, or when they differ from an ancestor's.
  auto ancestor = NewQuery("SELECT Name FROM People WHERE Id = :id");
  auto plain = NewQuery("SELECT * FROM People");
  EXPECT_TRUE(query->ParamDataStored(nullptr));
  EXPECT_FALSE(plain->ParamDataStored(nullptr));
  EXPECT_TRUE(query->ParamDataStored(ancestor.get()));
  ancestor->ParamByName("id").SetAsInteger(3);
  EXPECT_FALSE(query->ParamDataStored(ancestor.get()));

  // Loading: the text finds its markers, the parameters stay as loaded.
  TTarnQuery loaded;
  loaded.BeginLoading();
  loaded.SetParams(query->Params());
  loaded.SetSQLText("SELECT * FROM People WHERE Age = :age");
  loaded.EndLoading();
  EXPECT_EQ(loaded.Text(), "SELECT * FROM People WHERE Age = ?");
  ASSERT_EQ(loaded.ParamCount(), 1u);
  EXPECT_EQ(loaded.Params()[0].Name(), "id");
}

TEST_F(QueryTest, ClosingTheDatabaseUnpreparesTheQuery) {
  TTarnDatabase database;
  database.SetDatabaseName("Quiz");
  database.SetDirectory(Dir.Path());
  auto query = std::make_unique<TTarnQuery>();
  query->SetDatabaseName("Quiz");
  query->SetSQLText("SELECT * FROM People");
  query->Prepare();
  EXPECT_TRUE(database.Connected());
  database.Close();
  EXPECT_FALSE(query->Prepared());
  query->Open();
  EXPECT_EQ(Column(*query, "Id").size(), 6u);
  database.Close();
  EXPECT_FALSE(query->Active());
  EXPECT_FALSE(query->Prepared());

  // A prepared statement keeps its database: the name cannot change under it.
  query->Prepare();
  EXPECT_EQ(MessageOf([&] { query->SetDatabaseName(Dir.Path()); }), Msg::DatabaseOpen);
  query->SetDatabaseName("Quiz");
  query->UnPrepare();
  query->SetDatabaseName(Dir.Path());
  query->Open();
  EXPECT_NE(query->Database(), &database);
}

TEST_F(QueryTest, AnEncryptedTableAsksTheSessionForItsPassword) {
  dbcomp_testing::CreateEncryptedTable(Dir.Path());
  TTarnSession& session = Sessions().DefaultSession();
  int asked = 0;
  session.OnPassword = [&](TTarnSession& s, bool& continueOpen) {
    ++asked;
    s.AddPassword(dbcomp_testing::EncryptedTablePassword);
    continueOpen = true;
  };
  auto query = NewQuery("SELECT * FROM Secret");
  query->Open();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(query->IsEmpty());
  session.OnPassword = nullptr;
}

}  // namespace
}  // namespace dbcomp
