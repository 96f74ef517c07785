// The table component on real table files: open and close, navigation,
// editing with its locks, blobs, the database it finds, index selection, key
// searches, ranges, bookmarks and counts, filters, and the errors of opening.

#include "dbcomp/tarn_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dbcomp/blob_stream.h"
#include "dbcomp/data_source.h"
#include "dbcomp/database.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/encrypted_table.h"
#include "dbcomp/session.h"
#include "dbcomp/session_list.h"
#include "engine/base/engine_error.h"
#include "table_fixture.h"

namespace dbcomp {
namespace {

using dbcomp_testing::CodeOf;
using dbcomp_testing::MessageOf;
using dbcomp_testing::TableTest;
using Strings = std::vector<std::string>;

TEST_F(TableTest, OpensInPrimaryKeyOrderAndWalksBothWays) {
  auto table = NewTable();
  table->Open();
  EXPECT_EQ(table->State(), TDataSetState::Browse);
  EXPECT_TRUE(table->AtBeginning());
  EXPECT_EQ(Column(*table, "Id"), (Strings{"1", "2", "3", "4", "5", "6"}));
  EXPECT_TRUE(table->AtEnd());
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 6) << "Next at the end keeps the last record";
  table->Next();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 6);
  table->Prior();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 5);
  EXPECT_TRUE(table->FieldByName("Name").IsNull());
  table->Last();
  EXPECT_EQ(table->FieldByName("Name").AsString(), "Anders");
  table->First();
  table->Prior();
  EXPECT_TRUE(table->AtBeginning());
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 1);
  EXPECT_EQ(table->FieldDefs().size(), 5u);
  EXPECT_EQ(table->FieldByName("Note").DataType(), TFieldType::Memo);
  table->Close();
  EXPECT_FALSE(table->Active());
  EXPECT_EQ(table->FieldCount(), 0u) << "created fields go with the close";
}

TEST_F(TableTest, AnEmptyTableIsAtBothEndsWithEveryFieldNull) {
  auto table = NewTable();
  table->Open();
  while (!table->IsEmpty()) table->Delete();
  table->First();
  EXPECT_TRUE(table->AtBeginning());
  EXPECT_TRUE(table->AtEnd());
  for (std::size_t i = 0; i < table->FieldCount(); ++i) EXPECT_TRUE(table->Fields(i).IsNull());
  EXPECT_EQ(table->RecordCount(), 0);
}

TEST_F(TableTest, EditAndMoveStoresTheChangeForTheNextOpen) {
  {
    auto table = NewTable();
    table->Open();
    table->Edit();
    table->FieldByName("City").SetAsString("Tromso");
    table->FieldByName("Note").SetAsString("moved north");
    table->Next();  // posts
    EXPECT_EQ(table->State(), TDataSetState::Browse);
    EXPECT_EQ(table->FieldByName("Id").AsInteger(), 2);
    // Edit and Next without a write cancel instead of posting.
    table->Edit();
    table->Next();
    EXPECT_EQ(table->State(), TDataSetState::Browse);
  }
  auto again = NewTable();
  again->Open();
  EXPECT_EQ(again->FieldByName("City").AsString(), "Tromso");
  EXPECT_EQ(again->FieldByName("Note").AsString(), "moved north");
  again->Next();
  EXPECT_EQ(again->FieldByName("City").AsString(), "Bergen");
}

TEST_F(TableTest, AnEditLocksTheRecordUntilPostOrCancel) {
  auto first = NewTable();
  auto second = NewTable();
  first->Open();
  second->Open();
  first->Edit();
  EXPECT_EQ(CodeOf([&] { second->Edit(); }), tarn::TARN_RECLOCKFAILED);
  EXPECT_EQ(second->State(), TDataSetState::Browse) << "a failed Edit stays in browse";
  first->Cancel();
  second->Edit();
  second->FieldByName("Age").SetAsInteger(32);
  second->Post();
  first->Refresh();
  EXPECT_EQ(first->FieldByName("Age").AsInteger(), 32);
}

TEST_F(TableTest, WritingOutsideEditAndAFailedPostKeepTheirStates) {
  auto table = NewTable();
  table->Open();
  EXPECT_EQ(MessageOf([&] { table->FieldByName("Name").SetAsString("X"); }), std::string(Msg::NotEditing));
  table->Next();
  table->Edit();
  table->FieldByName("Id").SetAsInteger(1);  // the primary key of record 1
  EXPECT_EQ(CodeOf([&] { table->Post(); }), tarn::TARN_KEYVIOL);
  EXPECT_EQ(table->State(), TDataSetState::Edit);
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 1) << "the buffer is unchanged";
  table->Cancel();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 2);
}

TEST_F(TableTest, InsertAppendDeleteAndCancelledInserts) {
  auto table = NewTable();
  table->Open();
  table->Next();
  table->Insert();
  EXPECT_EQ(table->State(), TDataSetState::Insert);
  EXPECT_TRUE(table->FieldByName("Id").IsNull());
  table->Cancel();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 2) << "back on the record current before";
  dbcomp_testing::AppendPerson(*table, {10, "Zed", "Molde", 50, "new"});
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 10) << "the stored record is current";
  EXPECT_EQ(table->RecordCount(), 7);
  ASSERT_TRUE(table->Locate("Id", {"3"}));
  table->Delete();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 4) << "the record after the deleted one";
  table->Last();
  table->Delete();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 6) << "the last deleted: the one before it";
  EXPECT_EQ(Column(*table, "Id"), (Strings{"1", "2", "4", "5", "6"}));
}

// After an insert is posted the dataset stands on the new record, which no
// move has reached: neither end is claimed, so moves in both directions go.
TEST_F(TableTest, APostedInsertClaimsNeitherEnd) {
  auto table = NewTable();
  table->Open();
  ASSERT_TRUE(table->AtBeginning());
  table->Insert();
  table->Cancel();
  EXPECT_TRUE(table->AtBeginning()) << "a cancelled insert is back where it was";
  dbcomp_testing::AppendPerson(*table, {20, "Zoe", "Oslo", 20, ""});  // ends after Id 6
  EXPECT_FALSE(table->AtBeginning());
  EXPECT_FALSE(table->AtEnd());
  table->Prior();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 6);
  table->Last();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 20);
  EXPECT_TRUE(table->AtEnd());
  table->First();
  dbcomp_testing::AppendPerson(*table, {0, "Al", "Oslo", 20, ""});  // the new first record
  EXPECT_FALSE(table->AtBeginning());
  table->Prior();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 0);
  EXPECT_TRUE(table->AtBeginning());
}

TEST_F(TableTest, BlobsAreReadWrittenAndClearedThroughTheirFields) {
  auto table = NewTable();
  table->Open();
  EXPECT_EQ(table->FieldByName("Note").AsString(), "likes tea");
  table->Next();
  EXPECT_TRUE(table->FieldByName("Note").IsNull());
  table->Edit();
  const std::string big(20000, 'x');
  table->FieldByName("Note").SetAsString(big);
  EXPECT_EQ(table->FieldByName("Note").AsString(), big) << "the edit sees its own blob";
  table->Post();
  table->Prior();
  table->Edit();
  table->FieldByName("Note").Clear();
  table->Post();
  table->Close();
  table->Open();
  EXPECT_TRUE(table->FieldByName("Note").IsNull());
  table->Next();
  EXPECT_EQ(table->FieldByName("Note").AsString(), big);
}

TEST_F(TableTest, BlobStreamsOfTheTableReadAndWriteTheCurrentRecord) {
  auto table = NewTable();
  table->Open();
  TField& note = table->FieldByName("Note");
  EXPECT_EQ(MessageOf([&] { table->CreateBlobStream(note, TBlobStreamMode::bmWrite); }),
            std::string(Msg::NotEditing));
  {
    auto reader = table->CreateBlobStream(note, TBlobStreamMode::bmRead);
    EXPECT_EQ(reader->Size(), 9);
    std::vector<std::uint8_t> bytes(100);
    reader->Seek(6, TSeekOrigin::soBeginning);
    EXPECT_EQ(reader->Read(bytes), 3);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "tea");
  }
  table->Edit();
  {
    auto writer = table->CreateBlobStream(note, TBlobStreamMode::bmReadWrite);
    writer->Seek(0, TSeekOrigin::soEnd);
    const std::string more = " and cake";
    writer->Write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(more.data()), more.size()));
  }
  EXPECT_TRUE(table->RecordModified()) << "a written stream marks the record";
  EXPECT_EQ(note.AsString(), "likes tea and cake");
  table->Next();  // posts
  table->First();
  EXPECT_EQ(table->FieldByName("Note").AsString(), "likes tea and cake");
}

TEST_F(TableTest, PersistentFieldsBindByNameAndAMismatchKeepsTheTableClosed) {
  auto table = NewTable();
  table->AddField(std::make_unique<TStringField>("name", 20));
  table->AddField(std::make_unique<TIntegerField>(TFieldType::Integer, "ID"));
  table->Open();
  EXPECT_EQ(table->FieldCount(), 2u);
  EXPECT_EQ(table->FieldByName("Name").FieldNo(), 2);
  EXPECT_EQ(table->FieldByName("Name").AsString(), "Anna");
  table->Close();
  EXPECT_EQ(table->FieldCount(), 2u) << "persistent fields stay";
  table->ClearFields();
  table->SetName("People");
  table->AddField(std::make_unique<TStringField>("City", 30));
  EXPECT_EQ(MessageOf([&] { table->Open(); }), "People: Size mismatch for field 'City', expecting: 30 actual: 20");
  EXPECT_FALSE(table->Active());
  EXPECT_EQ(table->Database(), nullptr);
}

TEST_F(TableTest, CopyOnAppendStartsFromTheCurrentRecord) {
  auto table = NewTable();
  table->SetCopyOnAppend(true);
  table->Open();
  table->Insert();
  EXPECT_EQ(table->FieldByName("Name").AsString(), "Anna");
  EXPECT_EQ(table->FieldByName("Note").AsString(), "likes tea");
  table->FieldByName("Id").SetAsInteger(20);
  table->Post();
  table->First();
  EXPECT_EQ(table->FieldByName("Note").AsString(), "likes tea") << "the original keeps its blob";
  ASSERT_TRUE(table->Locate("Id", {"20"}));
  EXPECT_EQ(table->FieldByName("Note").AsString(), "likes tea");
}

TEST_F(TableTest, ARemoteSessionIsRefusedAsTheEngineRefusesIt) {
  TTarnSession& remote = Sessions().CreateSession("Remote");
  remote.SetSessionType(TSessionType::stRemote);
  TTarnDatabase database;
  database.SetSessionName("Remote");
  database.SetDatabaseName("Quiz");
  database.SetRemoteDatabase("Quiz");
  EXPECT_EQ(CodeOf([&] { database.Open(); }), tarn::TARN_REMOTECONNECT);
  EXPECT_FALSE(database.Connected());
  EXPECT_FALSE(remote.Active());
}

TEST_F(TableTest, AMissingTableIs11010AndLeavesNothingHeld) {
  TTarnTable table;
  table.SetDatabaseName(Dir.Path());
  table.SetTableName("Nowhere");
  EXPECT_EQ(CodeOf([&] { table.Open(); }), tarn::TARN_OSENOENT);
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(table.Database(), nullptr);
  TTarnDatabase* temporary = DefaultSession().FindDatabase(NormalizeName(Dir.Path()));
  ASSERT_NE(temporary, nullptr);
  EXPECT_EQ(temporary->UseCount(), 0);
  TTarnTable nameless;
  nameless.SetDatabaseName(Dir.Path());
  EXPECT_EQ(MessageOf([&] { nameless.Open(); }), std::string(Msg::NoTableName));
}

TEST_F(TableTest, TwoTablesOfOneDirectoryShareATemporaryDatabaseThatStaysConnected) {
  auto a = NewTable();
  auto b = NewTable();
  a->Open();
  b->Open();
  ASSERT_NE(a->Database(), nullptr);
  EXPECT_EQ(a->Database(), b->Database());
  TTarnDatabase* database = a->Database();
  EXPECT_TRUE(database->Temporary());
  EXPECT_EQ(database->Directory(), NormalizeName(Dir.Path()));
  EXPECT_EQ(database->UseCount(), 2);
  a->Close();
  b->Close();
  EXPECT_EQ(database->UseCount(), 0);
  EXPECT_TRUE(database->Connected()) << "KeepConnections is on";
  // Without KeepConnections the last close frees it.
  DefaultSession().SetKeepConnections(false);
  TTarnTable c;
  c.SetDatabaseName(Dir.File("."));
  c.SetTableName("People");
  c.Open();
  TTarnDatabase* other = c.Database();
  c.Close();
  EXPECT_EQ(DefaultSession().FindDatabase(NormalizeName(Dir.File("."))), nullptr);
  EXPECT_NE(other, database);
  DefaultSession().SetKeepConnections(true);
}

TEST_F(TableTest, ATableNameWithADirectorySetsTheDatabaseName) {
  TTarnTable table;
  table.SetTableName(Dir.File("People"));
  EXPECT_EQ(table.TableName(), "People");
  EXPECT_EQ(table.DatabaseName(), NormalizeName(Dir.Path() + "/"));
  EXPECT_EQ(table.DatabaseName().back(), '\\');
  table.Open();
  EXPECT_EQ(table.RecordCount(), 6);
}

TEST_F(TableTest, ADatabaseComponentNamesTheDirectory) {
  TTarnDatabase database;
  database.SetName("PeopleDb");
  EXPECT_EQ(MessageOf([&] { database.SetDatabaseName("C:Quiz"); }),
            "PeopleDb: Database name C:Quiz is not valid.");
  database.SetDatabaseName("Quiz");
  database.SetDirectory(Dir.Path());
  TTarnTable table;
  table.SetDatabaseName("quiz");
  table.SetTableName("People");
  table.Open();
  EXPECT_EQ(table.Database(), &database);
  EXPECT_TRUE(database.Connected());
  EXPECT_EQ(MessageOf([&] { database.SetDirectory("/tmp"); }),
            "PeopleDb: Cannot perform this operation on an open database.");
  TTarnDatabase twin;
  EXPECT_EQ(MessageOf([&] { twin.SetDatabaseName("QUIZ"); }), "Database name QUIZ already exists.");
  database.Close();
  EXPECT_FALSE(table.Active()) << "closing the database closes its tables";
  EXPECT_EQ(MessageOf([&] { database.StartTransaction(); }),
            "PeopleDb: Cannot perform this operation on a closed database.");
  TTarnDatabase nameless;
  EXPECT_EQ(MessageOf([&] { nameless.Open(); }), std::string(Msg::DatabaseNameMissing));
}

TEST_F(TableTest, ClosingADatabaseWithoutKeepConnectionClosesItsTablesOnce) {
  // The last table let go while the database closes must not close the
  // database a second time from inside its own close.
  TTarnDatabase database;
  database.SetDatabaseName("Brief");
  database.SetDirectory(Dir.Path());
  database.SetKeepConnection(false);
  TTarnTable a;
  TTarnTable b;
  for (TTarnTable* t : {&a, &b}) {
    t->SetDatabaseName("Brief");
    t->SetTableName("People");
    t->Open();
  }
  EXPECT_EQ(database.UseCount(), 2);
  database.Close();
  EXPECT_FALSE(a.Active());
  EXPECT_FALSE(b.Active());
  EXPECT_FALSE(database.Connected());
  a.Open();
  EXPECT_TRUE(database.Connected());
  a.Close();
  EXPECT_FALSE(database.Connected()) << "the last table closing closes it";
}

TEST_F(TableTest, SharedHandlesAndTheSessionsStop) {
  TTarnDatabase first;
  first.SetDatabaseName("Shared");
  first.SetDirectory(Dir.Path());
  first.SetHandleShared(true);
  TTarnDatabase second;
  second.SetHandleShared(true);
  second.SetDatabaseName("shared");  // both share: no clash
  second.SetDirectory("/nowhere");
  int connects = 0;
  second.BeforeConnect = [&](TTarnDatabase&) { ++connects; };
  first.Open();
  second.Open();
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(second.Handle(), first.Handle()) << "the second borrows the first's directory";
  // A temporary database that nobody uses gives way to a component of its name.
  auto table = NewTable();
  table->SetDatabaseName("NoSuchQuiz");
  EXPECT_EQ(CodeOf([&] { table->Open(); }), tarn::TARN_OSENOENT);
  ASSERT_NE(DefaultSession().FindDatabase("NoSuchQuiz"), nullptr);
  EXPECT_TRUE(DefaultSession().FindDatabase("NoSuchQuiz")->Temporary());
  TTarnDatabase named;
  named.SetDatabaseName("nosuchquiz");
  EXPECT_EQ(DefaultSession().FindDatabase("NoSuchQuiz"), &named);
  // Stopping the session closes the databases and frees its temporary ones.
  table->SetDatabaseName(Dir.File("."));
  table->Open();
  DefaultSession().Stop();
  EXPECT_FALSE(table->Active());
  EXPECT_FALSE(first.Connected());
  EXPECT_FALSE(second.Connected());
  EXPECT_EQ(DefaultSession().FindDatabase(NormalizeName(Dir.File("."))), nullptr);
  table->Open();  // starts the session again
  EXPECT_EQ(table->RecordCount(), 6);
}

TEST_F(TableTest, IndexSelectionByNameAndByFields) {
  auto table = NewTable();
  table->SetIndexName("ByName");
  table->Open();
  EXPECT_EQ(Column(*table, "Id"), (Strings{"5", "6", "1", "2", "3", "4"})) << "null first, case ignored";
  table->SetIndexFieldNames("city; NAME");
  EXPECT_EQ(table->IndexName(), "");
  EXPECT_EQ(Column(*table, "Id"), (Strings{"4", "5", "2", "6", "1", "3"}));
  table->SetIndexFieldNames("City");  // the first index that begins with it
  EXPECT_EQ(table->IndexFieldCount(), 2);
  EXPECT_EQ(table->IndexFields(1).FieldName(), "Name");
  EXPECT_EQ(MessageOf([&] { table->IndexFields(2); }), std::string(Msg::FieldIndexError));
  EXPECT_EQ(MessageOf([&] { table->SetIndexFieldNames("Note"); }), "No index for fields 'Note'");
  table->SetIndexName("");
  EXPECT_EQ(Column(*table, "Id"), (Strings{"1", "2", "3", "4", "5", "6"}));
  table->UpdateIndexDefs();
  ASSERT_EQ(table->IndexDefs().size(), 4u);
  EXPECT_TRUE(table->IndexDefs()[0].Options.Primary);
  EXPECT_EQ(table->IndexDefs()[2].Fields, "City;Name");
  EXPECT_TRUE(table->IndexDefs()[1].Options.CaseInsensitive);
}

TEST_F(TableTest, KeySearches) {
  auto table = NewTable();
  table->SetIndexName("ByCity");
  table->Open();
  EXPECT_TRUE(table->FindKey({"Oslo", "Carla"}));
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 3);
  EXPECT_TRUE(table->FindKey({"Bergen"})) << "a key of fewer fields";
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 5) << "the first Bergen: Name null sorts first";
  EXPECT_FALSE(table->FindKey({"Paris"}));
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 5) << "no match: the record stays";
  table->FindNearest({"Molde"});
  EXPECT_EQ(table->FieldByName("City").AsString(), "Oslo");
  table->SetKey();
  EXPECT_EQ(table->State(), TDataSetState::SetKey);
  EXPECT_EQ(MessageOf([&] { table->FieldByName("Age").SetAsInteger(3); }),
            "Field Age is not in the current index.");
  table->FieldByName("City").SetAsString("Bergen");
  table->FieldByName("Name").SetAsString("bert");
  EXPECT_EQ(table->KeyFieldCount(), 2);
  EXPECT_TRUE(table->GotoKey());
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 2);
}

TEST_F(TableTest, RangesLimitTheViewAndCancelGivesItBack) {
  auto table = NewTable();
  table->SetIndexName("ByAge");
  table->Open();
  table->SetRange({"30"}, {"45"});
  EXPECT_EQ(Column(*table, "Age"), (Strings{"31", "31", "45", "45"}));
  EXPECT_EQ(table->RecordCount(), 4);
  table->SetRangeStart();
  table->FieldByName("Age").SetAsInteger(40);
  table->SetRangeEnd();  // no end: up to the last key
  table->ApplyRange();
  EXPECT_EQ(Column(*table, "Age"), (Strings{"45", "45"}));
  table->EditRangeStart();
  table->FieldByName("Age").Clear();
  table->ApplyRange();
  EXPECT_EQ(Column(*table, "Id"), (Strings{"5", "3", "1", "6", "2", "4"}));
  table->SetRange({"31"}, {"31"});
  EXPECT_EQ(Column(*table, "Id"), (Strings{"1", "6"}));
  table->CancelRange();
  EXPECT_EQ(table->RecordCount(), 6);
}

TEST_F(TableTest, BookmarksCountsAndRecordNumbers) {
  auto table = NewTable();
  table->SetIndexName("ByName");
  table->Open();
  ASSERT_TRUE(table->Locate("Id", {"3"}));
  const TBookmark mark = table->GetBookmark();
  EXPECT_EQ(table->RecNo(), 5);
  table->First();
  EXPECT_EQ(table->RecNo(), 1);
  EXPECT_TRUE(table->BookmarkValid(mark));
  table->GotoBookmark(mark);
  EXPECT_EQ(table->FieldByName("Name").AsString(), "Carla");
  EXPECT_LT(table->CompareBookmarks(table->GetBookmark(), mark) + 1, 2);
  table->SetRecNo(2);
  EXPECT_EQ(table->FieldByName("Name").AsString(), "Anders");
  EXPECT_EQ(table->CompareBookmarks(table->GetBookmark(), mark), -1);
  table->Locate("Id", {"3"});
  table->Delete();
  EXPECT_FALSE(table->BookmarkValid(mark));
  EXPECT_EQ(CodeOf([&] { table->GotoBookmark(mark); }), tarn::TARN_RECNOTFOUND);
  EXPECT_EQ(table->RecordCount(), 5);
}

TEST_F(TableTest, ExpressionAndCallbackFilters) {
  auto table = NewTable();
  table->SetFilter("City = 'Oslo'");
  table->Open();
  EXPECT_EQ(table->RecordCount(), 6) << "not filtered yet";
  table->SetFiltered(true);
  EXPECT_EQ(Column(*table, "Id"), (Strings{"1", "3", "6"}));
  table->SetFilterOptions({.CaseInsensitive = true});
  table->SetFilter("City = 'OSLO' AND Age > 30");
  EXPECT_EQ(Column(*table, "Id"), (Strings{"1", "6"}));
  int asked = 0;
  table->SetOnFilterRecord([&](TDataSet& ds, bool& accept) {
    ++asked;
    accept = ds.FieldByName("Id").AsInteger() != 6;
  });
  EXPECT_GT(asked, 0);
  EXPECT_EQ(Column(*table, "Id"), (Strings{"1"})) << "both filters hold";
  table->SetFiltered(false);
  EXPECT_EQ(table->RecordCount(), 6);
  // FindFirst and FindNext use the filters while Filtered is off.
  EXPECT_TRUE(table->FindFirst());
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 1);
  EXPECT_FALSE(table->FindNext());
  EXPECT_EQ(CodeOf([&] { table->SetFilter("City = "); }), tarn::TARN_INVALIDFILTER);
  // A handler that raises accepts the record.
  table->SetFilter("");
  table->SetOnFilterRecord([](TDataSet&, bool&) { throw std::runtime_error("no"); });
  table->SetFiltered(true);
  EXPECT_EQ(table->RecordCount(), 6);
}

TEST_F(TableTest, ReadOnlyAndExclusiveOpens) {
  auto reader = NewTable();
  reader->SetReadOnly(true);
  reader->Open();
  EXPECT_TRUE(reader->ReadOnly());
  EXPECT_EQ(MessageOf([&] { reader->Edit(); }), std::string(Msg::DataSetReadOnly));
  reader->Close();
  auto owner = NewTable();
  owner->SetExclusive(true);
  owner->Open();
  auto other = NewTable();
  EXPECT_EQ(CodeOf([&] { other->Open(); }), tarn::TARN_OSEACCES);
  EXPECT_FALSE(other->Active());
  // Searches that would need a second cursor scan instead.
  EXPECT_TRUE(owner->Locate("City;Name", {"Oslo", "Carla"}));
  EXPECT_EQ(owner->FieldByName("Id").AsInteger(), 3);
  EXPECT_EQ(owner->Lookup("Name", {"bert"}, "Age"), (std::optional<TFieldValues>{{"45"}}));
}

TEST_F(TableTest, CreatingAndDeletingTables) {
  TTarnTable table;
  table.SetDatabaseName(Dir.Path());
  table.SetTableName("Fresh");
  EXPECT_FALSE(table.Exists());
  table.SetFieldDefinitions({{"Code", TFieldType::String, 4}, {"Count", TFieldType::Integer}});
  table.SetIndexDefs({{"", "Code", {.Primary = true}}});
  table.CreateTable();
  EXPECT_TRUE(table.Exists());
  EXPECT_TRUE(std::filesystem::exists(Dir.File("Fresh.DAT")));
  table.Open();
  EXPECT_TRUE(table.IsEmpty());
  table.Close();
  // Creating it again replaces it.
  table.SetFieldDefinitions({{"Code", TFieldType::String, 8}});
  table.SetIndexDefs({});
  table.CreateTable();
  table.Open();
  EXPECT_EQ(table.FieldByName("Code").Size(), 8);
  table.Close();
  table.DeleteTable();
  EXPECT_FALSE(table.Exists());
  EXPECT_EQ(CodeOf([&] { table.DeleteTable(); }), tarn::TARN_OSENOENT);
  // In memory.
  TTarnTable memory;
  memory.SetDatabaseName("memory");
  memory.SetTableName("Scratch");
  EXPECT_TRUE(memory.InMemory());
  memory.SetFieldDefinitions({{"Word", TFieldType::String, 10}});
  memory.CreateTable();
  memory.Open();
  memory.Append();
  memory.FieldByName("Word").SetAsString("hello");
  memory.Post();
  EXPECT_EQ(memory.RecordCount(), 1);
}

// Every field type the field classes know, through the engine's record
// layout and back, with nulls and the auto-increment value the engine gives.
TEST_F(TableTest, TransactionsOfADatabaseComponent) {
  TTarnDatabase database;
  database.SetName("PeopleDb");
  database.SetDatabaseName("Quiz");
  database.SetDirectory(Dir.Path());
  EXPECT_EQ(MessageOf([&] { database.Commit(); }),
            "PeopleDb: Cannot perform this operation on a closed database.");
  TTarnTable table;
  table.SetDatabaseName("Quiz");
  table.SetTableName("People");
  table.Open();
  EXPECT_FALSE(database.InTransaction());
  EXPECT_EQ(MessageOf([&] { database.Commit(); }), "PeopleDb: Database Quiz has no active transaction.");
  EXPECT_EQ(MessageOf([&] { database.Rollback(); }), "PeopleDb: Database Quiz has no active transaction.");
  database.StartTransaction();
  EXPECT_TRUE(database.InTransaction());
  EXPECT_EQ(MessageOf([&] { database.StartTransaction(); }),
            "PeopleDb: Database Quiz already has an active transaction.");
  dbcomp_testing::AppendPerson(table, {30, "Tess", "Oslo", 40, "kept?"});
  table.First();
  table.Edit();
  table.FieldByName("Name").SetAsString("Annie");
  table.Post();
  database.Rollback();
  EXPECT_FALSE(database.InTransaction());
  table.Refresh();
  EXPECT_EQ(table.RecordCount(), 6);
  EXPECT_EQ(table.FieldByName("Name").AsString(), "Anna");
  database.StartTransaction();
  dbcomp_testing::AppendPerson(table, {31, "Ulf", "Oslo", 41, "kept"});
  database.Commit(true);
  EXPECT_FALSE(database.InTransaction());
  auto other = NewTable();
  other->Open();
  EXPECT_EQ(other->RecordCount(), 7);
  ASSERT_TRUE(other->Locate("Id", {"31"}));
  EXPECT_EQ(other->FieldByName("Note").AsString(), "kept");
}

TEST_F(TableTest, EmptyingTablesAndAddingAndDeletingIndexes) {
  auto table = NewTable();
  std::vector<int> progress;
  table->OnIndexProgress = [&](TTarnTable&, int percent) { progress.push_back(percent); };
  // A closed table is opened exclusively for the change.
  table->AddIndex("ByNote", "City;Age", {.Descending = true});
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  table->SetIndexName("ByNote");
  table->Open();
  EXPECT_EQ(Column(*table, "Id"), (Strings{"6", "1", "3", "2", "5", "4"})) << "the whole key descends";
  // An open table that is not exclusive cannot be changed.
  EXPECT_EQ(CodeOf([&] { table->EmptyTable(); }), tarn::TARN_NEEDEXCLACCESS);
  table->Close();
  table->SetExclusive(true);
  table->Open();
  table->DeleteIndex("ByNote");
  EXPECT_EQ(table->IndexName(), "") << "its index is gone: the primary index";
  EXPECT_EQ(Column(*table, "Id"), (Strings{"1", "2", "3", "4", "5", "6"}));
  table->AddIndex("ByAgeName", "Age;Name");
  table->SetIndexName("ByAgeName");
  EXPECT_EQ(Column(*table, "Id"), (Strings{"5", "3", "6", "1", "4", "2"}));
  table->EmptyTable();
  EXPECT_TRUE(table->IsEmpty());
  EXPECT_EQ(table->RecordCount(), 0);
  table->Close();
  table->SetExclusive(false);
  table->UpdateIndexDefs();
  EXPECT_EQ(table->IndexDefs().size(), 5u) << "the indexes stay";
  table->Open();
  dbcomp_testing::AppendPerson(*table, {1, "A", "B", 1, ""});
  EXPECT_EQ(table->RecordCount(), 1);
}

TEST(TableTypesTest, ValuesOfEveryTypeSurviveTheTable) {
  TComponentLayer layer;
  testing_support::TTempDir dir;
  TTarnTable table;
  table.SetDatabaseName(dir.Path());
  table.SetTableName("Types");
  table.SetFieldDefinitions({{"Serial", TFieldType::AutoInc},
                             {"Small", TFieldType::Smallint},
                             {"Whole", TFieldType::Integer},
                             {"Unsigned", TFieldType::Word},
                             {"Big", TFieldType::Largeint},
                             {"Flag", TFieldType::Boolean},
                             {"Real", TFieldType::Float},
                             {"Money", TFieldType::Currency},
                             {"Day", TFieldType::Date},
                             {"Clock", TFieldType::Time},
                             {"Stamp", TFieldType::DateTime},
                             {"Raw", TFieldType::Bytes, 4},
                             {"Code", TFieldType::FixedChar, 3},
                             {"Amount", TFieldType::BCD, 2}});
  table.SetIndexDefs({{"", "Serial", {.Primary = true}}});
  table.CreateTable();
  table.Open();
  const std::vector<std::pair<const char*, std::string>> values = {
      {"Small", "-1234"},   {"Whole", "-2000000000"},         {"Unsigned", "65535"},
      {"Big", "-9000000000123"}, {"Flag", "True"},            {"Real", "2.5"},
      {"Money", "-0.25"},   {"Day", "2026-12-10"},            {"Clock", "17:14:05"},
      {"Stamp", "1999-12-31 23:59:59"}, {"Raw", "ab\x01z"},   {"Code", "XYZ"},
      {"Amount", "-123.45"},
  };
  for (int row = 0; row < 2; ++row) {
    table.Append();
    if (row == 0)
      for (const auto& [name, value] : values) table.FieldByName(name).SetAsString(value);
    table.FieldByName("Whole").SetAsInteger(row == 0 ? -2000000000 : 7);  // something to post
    table.Post();
  }
  table.Close();
  table.Open();
  EXPECT_EQ(table.FieldByName("Serial").AsInteger(), 1);
  for (const auto& [name, value] : values) EXPECT_EQ(table.FieldByName(name).AsString(), value) << name;
  table.Next();
  EXPECT_EQ(table.FieldByName("Serial").AsInteger(), 2);
  for (const auto& [name, value] : values) {
    if (std::string(name) != "Whole") {
      EXPECT_TRUE(table.FieldByName(name).IsNull()) << name;
    }
  }
}

TEST(TableEncryptionTest, TheSessionsPasswordOpensAnEncryptedTable) {
  TComponentLayer layer;
  testing_support::TTempDir dir;
  dbcomp_testing::CreateEncryptedTable(dir.Path());
  TTarnTable table;
  table.SetDatabaseName(dir.Path());
  table.SetTableName(dbcomp_testing::EncryptedTableName);
  bool asked = false;
  DefaultSession().OnPassword = [&](TTarnSession&, bool& retry) {
    asked = true;
    retry = false;
  };
  EXPECT_EQ(CodeOf([&] { table.Open(); }), tarn::TARN_NOTSUFFTABLERIGHTS);
  EXPECT_TRUE(asked);
  EXPECT_FALSE(table.Active());
  DefaultSession().AddPassword(dbcomp_testing::EncryptedTablePassword);
  asked = false;
  table.Open();
  EXPECT_FALSE(asked);
  EXPECT_TRUE(table.Active());
  DefaultSession().OnPassword = nullptr;
}

}  // namespace
}  // namespace dbcomp
