// Restructuring tables: full rebuilds with conversions, data-loss
// notifications and stops, index rebuilds in place, renames that only
// rewrite descriptors, progress, and the files left behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "modify_fixture.h"
#include "restructure_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace modify_testing;
using namespace restructure_testing;
namespace fs = std::filesystem;

struct TLoss {
  TDataCursor::TDataLossCause Cause;
  std::string Context;
  bool operator==(const TLoss&) const = default;
};

class TRestructureTest : public TRestructureFixture {
 protected:
  // Notes with n records; every third has no count, every fourth no body.
  void FillNotes(int n) {
    Cursor()->CreateTable(NotesDefinition(), false);
    auto c = Open();
    for (int i = 1; i <= n; ++i) {
      std::optional<std::int32_t> count;
      if (i % 3 != 0) count = i % 5;
      Insert(*c, {i, "title " + std::to_string(i), count, i % 4 == 0 ? "" : "body of note " + std::to_string(i)});
    }
  }
  std::int32_t Insert(TDataCursor& c, const TNote& note) {
    std::vector<std::uint8_t> b(c.RecordSize());
    c.InitRecord(b);
    PutNote(c, b, note);
    c.InsertRecord(b, true);
    const std::int32_t r = c.CurrentRecordNo();
    FModel[r] = {note, static_cast<std::int32_t>(GetLE32(b, RecordLayout::RecAutoInc))};
    return r;
  }
  // Restructures with a handler that records every loss and answers with
  // the given choices.
  void Restructure(TDataCursor& c, const TTableDefinition& def, bool noBackup, bool proceed = true,
                   bool stopAsking = false) {
    c.SetOnDataLost([&, proceed, stopAsking](TDataCursor::TDataLossCause cause, std::string_view context,
                                            bool& continueRestructure, bool& stop) {
      EXPECT_TRUE(continueRestructure);
      EXPECT_FALSE(stop);
      FLosses.push_back({cause, std::string(context)});
      continueRestructure = proceed;
      stop = stopAsking;
    });
    c.RestructureTable(def, noBackup);
  }

  TModel FModel;
  std::vector<TLoss> FLosses;
};

// A shortened string is cut silently; a text that is no number becomes 0
// with a loss of cause 4; the old files stay as backups.
TEST_F(TRestructureTest, ConversionsCutAndReportFailures) {
  TTableDefinition def;
  def.Fields = {MakeFieldDesc(1, "Id", FieldType::Int32), MakeFieldDesc(2, "Name", FieldType::String, 0, 50),
                MakeFieldDesc(3, "Num", FieldType::String, 0, 10)};
  def.Primary.FieldNumbers[0] = 1;
  Cursor("Conv")->CreateTable(def, false);
  {
    auto c = Open("Conv");
    const char* nums[] = {"42", "x7", "-3"};
    for (int i = 0; i < 3; ++i) {
      std::vector<std::uint8_t> b(c->RecordSize());
      c->InitRecord(b);
      c->PutField(1, b, std::span<const std::uint8_t>(I32Bytes(i + 1)));
      c->PutField(2, b, std::span<const std::uint8_t>(TextBytes("a long name of record " + std::to_string(i))));
      c->PutField(3, b, std::span<const std::uint8_t>(TextBytes(nums[i])));
      c->InsertRecord(b, false);
    }
  }
  TTableDefinition next = def;
  next.Fields[1] = MakeFieldDesc(2, "Name", FieldType::String, 0, 10);
  next.Fields[2] = MakeFieldDesc(3, "Num", FieldType::Int32);
  next.Secondary = {Over("ByNum", {3}, false)};
  auto c = Cursor("Conv");
  Restructure(*c, next, false);
  EXPECT_EQ(FLosses, (std::vector<TLoss>{{TDataCursor::TDataLossCause::NotConvertible, "Num"}}));
  EXPECT_TRUE(Exists("Conv.DBK") && Exists("Conv.IBK"));
  EXPECT_FALSE(Exists("Conv.BBK"));
  EXPECT_TRUE(WorkDirEmpty());
  c->OpenCursor();
  c->SwitchToIndex("ByNum");
  std::vector<std::uint8_t> b(c->RecordSize());
  std::vector<std::pair<std::string, std::int32_t>> rows;
  while (c->GetNextRecord(b) == TARN_NONE) {
    rows.emplace_back(reinterpret_cast<const char*>(c->GetField(2, b).Bytes.data()),
                      static_cast<std::int32_t>(GetLE32(c->GetField(3, b).Bytes, 0)));
  }
  EXPECT_EQ(rows, (std::vector<std::pair<std::string, std::int32_t>>{
                      {"a long nam", -3}, {"a long nam", 0}, {"a long nam", 42}}));
}

// Records that break a unique index (cause 1, the index named) or a required
// field (cause 2, the field named) of the new structure are not copied.
TEST_F(TRestructureTest, RecordsBreakingNewRulesAreLost) {
  TTableDefinition def;
  def.Fields = {MakeFieldDesc(1, "Id", FieldType::Int32), MakeFieldDesc(2, "Name", FieldType::String, 0, 10),
                MakeFieldDesc(3, "Num", FieldType::String, 0, 10)};
  def.Primary.FieldNumbers[0] = 1;
  Cursor("Rules")->CreateTable(def, false);
  {
    auto c = Open("Rules");
    const char* names[] = {"a", nullptr, "c", "d", "e"};
    const char* nums[] = {"1", "2", "01", "3", "3"};
    for (int i = 0; i < 5; ++i) {
      std::vector<std::uint8_t> b(c->RecordSize());
      c->InitRecord(b);
      c->PutField(1, b, std::span<const std::uint8_t>(I32Bytes(i + 1)));
      if (names[i] != nullptr) c->PutField(2, b, std::span<const std::uint8_t>(TextBytes(names[i])));
      c->PutField(3, b, std::span<const std::uint8_t>(TextBytes(nums[i])));
      c->InsertRecord(b, false);
    }
  }
  TTableDefinition next = def;
  next.Fields[1].SetFieldRequired(true);
  next.Fields[2] = MakeFieldDesc(3, "Num", FieldType::Int16);
  next.Secondary = {Over("UNum", {3}, true)};
  auto c = Cursor("Rules");
  Restructure(*c, next, true);
  EXPECT_EQ(FLosses, (std::vector<TLoss>{{TDataCursor::TDataLossCause::ValueCheck, "Name"},
                                         {TDataCursor::TDataLossCause::KeyViolation, "UNum"},
                                         {TDataCursor::TDataLossCause::KeyViolation, "UNum"}}));
  c->OpenCursor();
  EXPECT_EQ(c->GetRecordCount(), 2);  // ids 1 and 4
  CheckIndexes(*c);
}

// A dropped field is a loss of cause 3 for every record that has a value
// there; the first answer "stop" leaves the table exactly as it was and no
// file behind; with StopAsking the choice holds for every later loss.
TEST_F(TRestructureTest, DroppedFieldStopAndStopAsking) {
  FillNotes(12);
  const TFileImage before = TableImage("Notes");
  TTableDefinition next = NotesDefinition();
  next.Fields.erase(next.Fields.begin() + 2);  // Count
  next.Secondary.pop_back();                   // ByCount
  auto c = Cursor();
  std::vector<int> percents;
  c->SetOnRestructureProgress([&](int p) { percents.push_back(p); });
  Restructure(*c, next, false, false);
  EXPECT_EQ(FLosses, (std::vector<TLoss>{{TDataCursor::TDataLossCause::FieldDropped, "Count"}}));
  EXPECT_TRUE(percents.empty());
  EXPECT_FALSE(c->IsOpen());
  EXPECT_EQ(TableImage("Notes"), before);
  EXPECT_FALSE(Exists("Notes.DBK") || Exists("Notes.IBK") || Exists("Notes.BBK"));
  EXPECT_TRUE(WorkDirEmpty());

  FLosses.clear();
  FSession.SetProgressSteps(25);
  Restructure(*c, next, true, true, true);
  EXPECT_EQ(FLosses.size(), 1u);
  EXPECT_EQ(percents, (std::vector<int>{25, 50, 75, 100}));
  EXPECT_FALSE(Exists("Notes.DBK") || Exists("Notes.IBK") || Exists("Notes.BBK"));
  EXPECT_TRUE(WorkDirEmpty());
  c->OpenCursor();
  ASSERT_EQ(c->FieldCount(), 3);
  EXPECT_EQ(c->Field(3).FieldName(), "Body");
  EXPECT_EQ(c->Field(3).FieldNo(), 3);
  EXPECT_EQ(c->Table().IndexFile().Descriptor(SysTextSlot).FieldNumbers[1], 3);
  EXPECT_EQ(c->GetRecordCount(), 12);
  std::vector<std::uint8_t> b(c->RecordSize());
  for (const auto& [r, rec] : FModel) {
    ASSERT_TRUE(SeekId(*c, rec.Note.Id));
    ASSERT_EQ(c->GetCurrentRecord(b), TARN_NONE);
    EXPECT_EQ(GetLE32(b, RecordLayout::RecAutoInc), static_cast<std::uint32_t>(rec.AutoInc));
    EXPECT_EQ(BlobText(*c, 3, b), rec.Note.Body);
  }
  CheckIndexes(*c);
}

// Renaming fields and indexes and changing the table information rewrites
// only the descriptors: no backup, the records and index pages untouched.
TEST_F(TRestructureTest, RenamesOnlyRewriteDescriptors) {
  FillNotes(20);
  const TFileImage before = TableImage("Notes");
  TTableDefinition next = NotesDefinition();
  next.Fields[1].SetFieldName("Heading");
  next.Secondary[0].IndexName = "ByHeading";
  next.Description = "renamed";
  next.UserMajorVersion = 3;
  auto c = Cursor();
  Restructure(*c, next, false);
  EXPECT_TRUE(FLosses.empty());
  EXPECT_FALSE(Exists("Notes.DBK") || Exists("Notes.IBK") || Exists("Notes.BBK"));
  const TFileImage after = TableImage("Notes");
  EXPECT_EQ(after.Blob, before.Blob);
  const std::size_t records = static_cast<std::size_t>(RecordsStart(before));
  ASSERT_EQ(after.Data.size(), before.Data.size());
  EXPECT_TRUE(std::equal(before.Data.begin() + static_cast<std::ptrdiff_t>(records), before.Data.end(),
                         after.Data.begin() + static_cast<std::ptrdiff_t>(records)));
  ASSERT_EQ(after.Index.size(), before.Index.size());
  EXPECT_TRUE(std::equal(before.Index.begin() + 4096, before.Index.end(), after.Index.begin() + 4096));
  c->OpenCursor();
  EXPECT_EQ(c->Field(2).FieldName(), "Heading");
  EXPECT_EQ(c->Table().IndexFile().Descriptor(1).IndexName, "ByHeading");
  EXPECT_EQ(c->Table().DataFile().GetDescription(), "renamed");
  EXPECT_EQ(c->Table().DataFile().GetUserMajorVersion(), 3);
  CheckTable(*c, FModel);
}

// A new unique index over duplicate values: cause 1 names the index; going
// on deletes the record, stopping restores the index file.
TEST_F(TRestructureTest, IndexRebuildInPlace) {
  FillNotes(15);
  const TFileImage before = TableImage("Notes");
  TTableDefinition next = NotesDefinition();
  next.Secondary[1] = Over("UCount", {3}, true);  // Count 1..4 and NULL repeat
  next.Secondary.push_back(Over("ByTitleDesc", {2}, false));
  next.Secondary.back().Descending = true;
  auto c = Cursor();
  Restructure(*c, next, false, false);
  ASSERT_EQ(FLosses.size(), 1u);
  EXPECT_EQ(FLosses[0], (TLoss{TDataCursor::TDataLossCause::KeyViolation, "UCount"}));
  EXPECT_EQ(TableImage("Notes"), before);
  EXPECT_FALSE(Exists("Notes.IBK"));

  FLosses.clear();
  Restructure(*c, next, false);
  // Counts by record: 1 2 - 4 0 - 2 3 - 0 1 - 3 4 -: the first of each value
  // (NULL included) stays.
  EXPECT_EQ(FLosses.size(), 9u);
  for (std::int32_t r = 1; r <= 15; ++r) {
    if (r > 5 && r != 8) FModel.erase(r);
  }
  EXPECT_TRUE(Exists("Notes.IBK"));
  EXPECT_FALSE(Exists("Notes.DBK"));
  EXPECT_TRUE(WorkDirEmpty());
  c->OpenCursor();
  EXPECT_EQ(c->Table().IndexFile().Descriptor(2).IndexName, "UCount");
  EXPECT_EQ(c->Table().IndexFile().Descriptor(3).IndexName, "ByTitleDesc");
  CheckTable(*c, FModel);
  c->CloseCursor();

  // Fewer indexes and NoBackup: the surplus index goes, no ".IBK" stays.
  fs::remove(FTemp.File("Notes.IBK"));
  TTableDefinition fewer = NotesDefinition();
  fewer.Secondary.pop_back();
  c->RestructureTable(fewer, true);
  EXPECT_FALSE(Exists("Notes.IBK"));
  c->OpenCursor();
  EXPECT_EQ(c->Table().IndexFile().IndexCount(), 1);
  CheckTable(*c, FModel);
}

TEST_F(TRestructureTest, Preconditions) {
  FillNotes(2);
  auto open = Open();
  EXPECT_EQ(CodeOf([&] { open->RestructureTable(NotesDefinition(), false); }), TARN_TABLEOPEN);
  open.reset();
  auto shared = Cursor("Notes", false);
  EXPECT_EQ(CodeOf([&] { shared->RestructureTable(NotesDefinition(), false); }), TARN_NEEDEXCLACCESS);
  auto readOnly = Cursor();
  readOnly->SetReadOnly(true);
  EXPECT_EQ(CodeOf([&] { readOnly->RestructureTable(NotesDefinition(), false); }), TARN_OSEACCES);
  TTableDefinition bad = NotesDefinition();
  bad.Fields[0].SetFieldName("_ok");
  bad.Fields[1].SetFieldName("_OK");
  EXPECT_EQ(CodeOf([&] { Cursor()->RestructureTable(bad, false); }), TARN_INVALIDFIELDNAME);
  // A table open elsewhere cannot be taken exclusively.
  auto other = Open("Notes", false);
  EXPECT_EQ(CodeOf([&] { Cursor()->RestructureTable(NotesDefinition(), false); }), TARN_OSEACCES);
}

TEST_F(TRestructureTest, InMemoryTableKeepsNoBackup) {
  auto c = Cursor("Mem");
  c->SetInMemory(true);
  c->CreateTable(NotesDefinition(), false);
  c->OpenCursor();
  for (int i = 1; i <= 5; ++i) Insert(*c, {i, "m" + std::to_string(i), i, "memory body"});
  c->CloseCursor();
  TTableDefinition next = NotesDefinition();
  next.Fields[2] = MakeFieldDesc(3, "Count", FieldType::Int64);
  c->RestructureTable(next, false);
  c->OpenCursor();
  EXPECT_EQ(c->Field(3).FieldType(), FieldType::Int64);
  EXPECT_EQ(c->GetRecordCount(), 5);
  EXPECT_EQ(FDir.Session().DirectoryCount(), 1u);
  std::vector<std::uint8_t> b(c->RecordSize());
  ASSERT_EQ(c->GetNextRecord(b), TARN_NONE);
  EXPECT_EQ(GetLE64(c->GetField(3, b).Bytes, 0), 1u);
  EXPECT_EQ(BlobText(*c, 4, b), "memory body");
}

}  // namespace
