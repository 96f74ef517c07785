// The tarn tool run as a program: info and verify on a clean table, on copies
// damaged in each of its three files, on an encrypted table with and without
// its password, and its usage errors.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/btree.h"
#include "engine/index/key_def.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "run_tarn.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace tool_testing;



// "Notes": Id int32 (primary), Title string 20 (ByTitle), Body memo, with a
// full-text index over Title and Body; 12 records, every fourth deleted.
void MakeNotes(const std::string& dir, const std::string& password = {}) {
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "Id", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(2, "Title", FieldType::String, 0, 20));
  def.Fields.push_back(MakeFieldDesc(3, "Body", FieldType::Blob, FieldSubType::Memo));
  def.Fields[1].SetFieldRequired(true);
  def.Fields[1].SetFieldDefault("untitled");
  AssignFieldOffsets(def.Fields);
  def.Primary = SingleFieldIndex("", 1, def.Fields, true);
  def.Secondary = {SingleFieldIndex("ByTitle", 2, def.Fields, false)};
  TIndexDescriptor text;
  text.FieldCount = 2;
  text.FieldNumbers[0] = 2;
  text.FieldNumbers[1] = 3;
  def.TextIndex = text;
  def.Description = "tool test";
  if (!password.empty()) {
    def.Encrypted = true;
    def.Password = password;
  }
  TDataSession session;
  if (!password.empty()) session.AddPassword(password);
  TDataDirectory& d = session.OpenDirectory("T", dir);
  d.ReleaseTable(d.CreateTable("Notes", false, false, def), false);
  TDataCursor c(d);
  c.SetTableName("Notes");
  c.OpenCursor();
  std::vector<std::uint8_t> b(c.RecordSize());
  for (int i = 1; i <= 12; ++i) {
    c.InitRecord(b);
    std::array<std::uint8_t, 4> id{};
    PutLE32(id, 0, static_cast<std::uint32_t>(i));
    c.PutField(1, b, std::span<const std::uint8_t>(id));
    const std::string title = "note " + std::to_string(i);
    c.PutField(2, b, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(title.data()), title.size()));
    std::uint32_t size = 0;
    const std::string body(static_cast<std::size_t>(i * 150), static_cast<char>('a' + i));
    EXPECT_EQ(c.OpenBlob(3, b, TDataCursor::TBlobMode::Write, size), TARN_NONE);
    EXPECT_EQ(c.WriteBlob(3, b, 0, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(body.data()), body.size())),
              TARN_NONE);
    EXPECT_EQ(c.CloseBlob(3, b), TARN_NONE);
    c.InsertRecord(b, false);
  }
  c.SetToBegin();
  for (int i = 1; i <= 12; ++i) {
    ASSERT_EQ(c.GetNextRecord(b), TARN_NONE);
    if (i % 4 == 0) c.DeleteRecord(b, false);
  }
}

void CopyTable(const std::string& from, const std::string& to) {
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    std::filesystem::copy_file(from + "/Notes" + ext, to + "/Notes" + ext);
  }
}

// Damages one thing of an open copy through the engine, as a faulty writer
// would, and writes it out.
void DamageCopy(const std::string& dir, const std::function<void(TDataTable&)>& change) {
  TDataSession session;
  TDataDirectory& d = session.OpenDirectory("D", dir);
  TDataCursor c(d);
  c.SetTableName("Notes");
  c.OpenCursor();
  TTableWriteBracket lock(c.Table());
  change(c.Table());
  c.Table().WriteBuffers();
}

class TTarnToolTest : public ::testing::Test {
 protected:
  testing_support::TTempDir FTemp;
};

TEST_F(TTarnToolTest, InfoShowsStructureAndState) {
  MakeNotes(FTemp.Path());
  const TRun run = RunTarn("info " + FTemp.Path() + " Notes");
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  for (const char* line : {"Table: Notes", "Records: 9 (12 slots)", "Encrypted: no", "Description: tool test",
                           "1 Id int32", "2 Title string(20) required default untitled", "3 Body memo",
                           "primary (Id) unique", "ByTitle (Title) compression NONE",
                           "Full-text index (Title, Body)\n  stop words (", "Blob block size: 512",
                           "Notes.BLB"}) {
    EXPECT_NE(run.Output.find(line), std::string::npos) << "missing: " << line << "\n" << run.Output;
  }
}

TEST_F(TTarnToolTest, VerifyCleanAndDamagedCopies) {
  MakeNotes(FTemp.Path());
  const TRun clean = RunTarn("verify " + FTemp.Path());
  EXPECT_EQ(clean.ExitCode, 0) << clean.Output;
  EXPECT_NE(clean.Output.find("Notes: clean, 9 records"), std::string::npos) << clean.Output;

  struct TCase {
    const char* Name;
    std::function<void(TDataTable&)> Change;
    const char* Expected;
  };
  const std::vector<TCase> cases = {
      {"data: a record's identifier duplicated",
       [](TDataTable& t) {
         const std::int32_t id = TRecordPin(t.DataFile().GetRecord(nullptr, 1))->GetAutoInc();
         TRecordPin pin = t.DataFile().GetRecord(nullptr, 2);
         pin->SetAutoInc(id);
         pin->MarkModified();
       },
       "Notes: data offset "},
      {"index: a key removed",
       [](TDataTable& t) {
         TRecordPin pin = t.DataFile().GetRecord(nullptr, 3);
         const TKeyDef& def = t.IndexFile().KeyDef(1);
         std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
         BuildKey(def, pin->Data(), std::span<std::uint8_t>(key.data(), def.KeySize));
         TFixedTreeContext ctx(1);
         TBTree(t.IndexFile()).RemoveKey(ctx, key.data());
       },
       "Notes: index offset 0 record 3: index \"ByTitle\" lacks the key"},
      {"blob: a chain cut short",
       [](TDataTable& t) {
         TRecordPin rec = t.DataFile().GetRecord(nullptr, 11);  // a body of 1650 bytes: 4 blocks
         const TFieldRead body = GetFieldValue(rec->Data(), t.DataFile().FieldDefs()[2]);
         TBlockPin first = t.BlobFile().GetBlock(nullptr, static_cast<std::int32_t>(GetLE32(body.Bytes, 0)), 1, false);
         first->SetNextBlock(0);
       },
       "Notes: blob offset "},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.Name);
    testing_support::TTempDir copy;
    CopyTable(FTemp.Path(), copy.Path());
    DamageCopy(copy.Path(), k.Change);
    const TRun run = RunTarn("verify " + copy.Path() + " Notes");
    EXPECT_EQ(run.ExitCode, 1) << run.Output;
    EXPECT_NE(run.Output.find(k.Expected), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("Notes: DAMAGED"), std::string::npos) << run.Output;

    // The repair keeps every record (a blob it cannot read is emptied and
    // logged) and leaves a clean table that takes writes again.
    const TRun repair = RunTarn("repair " + copy.Path() + " Notes");
    EXPECT_EQ(repair.ExitCode, 0) << repair.Output;
    EXPECT_NE(repair.Output.find("Notes: repaired, 9 records kept, 0 not kept"), std::string::npos) << repair.Output;
    EXPECT_TRUE(std::filesystem::exists(copy.Path() + "/Notes.DBK"));
    const TRun again = RunTarn("verify " + copy.Path() + " Notes");
    EXPECT_EQ(again.ExitCode, 0) << again.Output;
    EXPECT_NE(again.Output.find("Notes: clean, 9 records"), std::string::npos) << again.Output;
    TDataSession session;
    TDataCursor c(session.OpenDirectory("R", copy.Path()));
    c.SetTableName("Notes");
    c.OpenCursor();
    std::vector<std::uint8_t> b(c.RecordSize());
    c.InitRecord(b);
    std::array<std::uint8_t, 4> id{};
    PutLE32(id, 0, 99);
    c.PutField(1, b, std::span<const std::uint8_t>(id));
    EXPECT_NO_THROW(c.InsertRecord(b, false));
    EXPECT_EQ(c.GetRecordCount(), 10);
  }
}

TEST_F(TTarnToolTest, RepairLogsRecordsWhoseUniqueKeysCollide) {
  MakeNotes(FTemp.Path());
  // Record 2 takes record 1's Id behind the primary index's back.
  DamageCopy(FTemp.Path(), [](TDataTable& t) {
    TRecordPin pin = t.DataFile().GetRecord(nullptr, 2);
    PutLE32(pin->MutableData(), t.DataFile().FieldDefs()[0].FieldOffset() + 1, 1);
    pin->MarkModified();
  });
  EXPECT_EQ(RunTarn("verify " + FTemp.Path()).ExitCode, 1);
  const TRun repair = RunTarn("repair " + FTemp.Path() + " Notes");
  EXPECT_EQ(repair.ExitCode, 0) << repair.Output;
  EXPECT_NE(repair.Output.find("8 records kept, 1 not kept"), std::string::npos) << repair.Output;
  std::ifstream log(FTemp.Path() + "/Notes-repair.log");
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  EXPECT_NE(line.find("record 2: not kept: its key collides"), std::string::npos) << line;
  EXPECT_EQ(RunTarn("verify " + FTemp.Path()).ExitCode, 0);
}

TEST_F(TTarnToolTest, RepairClearsTheMarkOfAnInterruptedWrite) {
  MakeNotes(FTemp.Path());
  // Byte 4 of the index header is the in-progress mark.
  std::FILE* f = std::fopen((FTemp.Path() + "/Notes.IDX").c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 4, SEEK_SET);
  std::fputc(1, f);
  std::fclose(f);
  const TRun verify = RunTarn("verify " + FTemp.Path());
  EXPECT_EQ(verify.ExitCode, 1) << verify.Output;
  EXPECT_NE(verify.Output.find("interrupted write"), std::string::npos) << verify.Output;
  const TRun repair = RunTarn("repair " + FTemp.Path() + " Notes");
  EXPECT_EQ(repair.ExitCode, 0) << repair.Output;
  EXPECT_EQ(RunTarn("verify " + FTemp.Path() + " Notes").ExitCode, 0);
}

TEST_F(TTarnToolTest, EncryptedTableNeedsItsPassword) {
  MakeNotes(FTemp.Path(), "secret");
  const TRun without = RunTarn("info " + FTemp.Path() + " Notes");
  EXPECT_EQ(without.ExitCode, 1) << without.Output;
  EXPECT_NE(without.Output.find("# 10498"), std::string::npos) << without.Output;
  const TRun with = RunTarn("info --password secret " + FTemp.Path() + " Notes");
  EXPECT_EQ(with.ExitCode, 0) << with.Output;
  EXPECT_NE(with.Output.find("Encrypted: yes"), std::string::npos) << with.Output;
  const TRun verify = RunTarn("verify --password secret " + FTemp.Path());
  EXPECT_EQ(verify.ExitCode, 0) << verify.Output;
}

TEST_F(TTarnToolTest, UsageErrorsExitWithTwo) {
  MakeNotes(FTemp.Path());
  for (const std::string& args : {std::string(""), std::string("info"), std::string("info " + FTemp.Path()),
                                   std::string("frobnicate"), std::string("verify /no/such/dir"),
                                   std::string("info " + FTemp.Path() + " NoSuchTable")}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(RunTarn(args).ExitCode, 2);
  }
  const TRun help = RunTarn("verify --help");
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Output.find("TABLE"), std::string::npos);
  const TRun version = RunTarn("--version");
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_NE(version.Output.find("tarn "), std::string::npos);
}

}  // namespace
