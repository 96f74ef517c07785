// Disk-full and I/O errors injected through the file layer at every write of
// an insert, a modification, a delete and a commit. The error must reach the
// caller as an engine error, and the table must then be either exactly as
// before the operation (checking clean), or carry the mark of an interrupted
// write (never a table that checks clean but differs); repair then gives a
// clean table that still holds every record the operation did not touch.
// (Restructures have their own test of a failure at every file call.)

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/table_check.h"
#include "engine/cursor/table_repair.h"
#include "engine/files/fault_file_api.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
namespace fs = std::filesystem;

struct TNote {
  std::string Title;
  std::string Body;
  bool operator==(const TNote&) const = default;
};
using TNotes = std::map<std::int32_t, TNote>;


std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Positions c on the record with that Id.
bool Seek(TDataCursor& c, std::vector<std::uint8_t>& b, std::int32_t id) {
  c.InitRecord(b);
  std::array<std::uint8_t, 4> v{};
  PutLE32(v, 0, static_cast<std::uint32_t>(id));
  c.PutField(1, b, std::span<const std::uint8_t>(v));
  return c.SetToKey(false, b, 1) && c.GetCurrentRecord(b) == TARN_NONE;
}

void Put(TDataCursor& c, std::vector<std::uint8_t>& b, std::int32_t id, const TNote& note) {
  std::array<std::uint8_t, 4> v{};
  PutLE32(v, 0, static_cast<std::uint32_t>(id));
  c.PutField(1, b, std::span<const std::uint8_t>(v));
  c.PutField(2, b, Bytes(note.Title));
  std::uint32_t size = 0;
  c.RaiseIfError(c.OpenBlob(3, b, TDataCursor::TBlobMode::Write, size));
  c.RaiseIfError(c.TruncateBlob(3, b, 0));
  c.RaiseIfError(c.WriteBlob(3, b, 0, Bytes(note.Body)));
  c.RaiseIfError(c.CloseBlob(3, b));
}

TNotes ReadAll(TDataCursor& c) {
  TNotes notes;
  std::vector<std::uint8_t> b(c.RecordSize());
  c.SetToBegin();
  while (c.GetNextRecord(b) == TARN_NONE) {
    const auto id = static_cast<std::int32_t>(GetLE32(c.GetField(1, b).Bytes, 0));
    TNote n;
    n.Title = reinterpret_cast<const char*>(c.GetField(2, b).Bytes.data());
    std::uint32_t size = 0;
    std::vector<std::uint8_t> copy = b;
    c.RaiseIfError(c.OpenBlob(3, copy, TDataCursor::TBlobMode::Read, size));
    n.Body.resize(size);
    std::uint32_t count = 0;
    c.RaiseIfError(c.ReadBlob(3, copy, 0, size, std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(n.Body.data()), size), count));
    c.RaiseIfError(c.CloseBlob(3, copy));
    notes[id] = n;
  }
  return notes;
}

TNote NoteFor(std::int32_t id, int version) {
  return {"note " + std::to_string(id) + "." + std::to_string(version),
          std::string(static_cast<std::size_t>(100 + (id * 397 + version * 911) % 2500), static_cast<char>('a' + id % 26))};
}

// The operations: each changes a few records and names the Ids it touches.
struct TOperation {
  const char* Name;
  std::vector<std::int32_t> Touched;
  std::function<void(TDataDirectory&, TDataCursor&)> Run;
};

class TFaultTest : public ::testing::Test {
 protected:
  // "Notes" with 30 records: Id (primary), Title (unique index), Body memo,
  // and a full-text index over Title.
  void SetUp() override {
    TTableDefinition def;
    def.Fields = {MakeFieldDesc(1, "Id", FieldType::Int32), MakeFieldDesc(2, "Title", FieldType::String, 0, 24),
                  MakeFieldDesc(3, "Body", FieldType::Blob, FieldSubType::Memo)};
    AssignFieldOffsets(def.Fields);
    def.Primary = SingleFieldIndex("", 1, def.Fields, true);
    def.Secondary = {SingleFieldIndex("ByTitle", 2, def.Fields, true)};
    TIndexDescriptor text;
    text.FieldCount = 1;
    text.FieldNumbers[0] = 2;
    def.TextIndex = text;
    TDataSession session;
    TDataDirectory& dir = session.OpenDirectory("F", FBase.Path());
    dir.ReleaseTable(dir.CreateTable("Notes", false, false, def), false);
    TDataCursor c(dir);
    c.SetTableName("Notes");
    c.OpenCursor();
    std::vector<std::uint8_t> b(c.RecordSize());
    for (std::int32_t id = 1; id <= 30; ++id) {
      c.InitRecord(b);
      Put(c, b, id, NoteFor(id, 0));
      c.InsertRecord(b, false);
      FBefore[id] = NoteFor(id, 0);
    }
  }

  // Runs op on a fresh copy of the table with writes failing from write
  // number k on (diskFull) or at write k only; returns false once op ran
  // without meeting the fault.
  bool RunWithFault(const TOperation& op, int k, int errNo, bool diskFull) {
    testing_support::TTempDir dir;
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      fs::copy_file(fs::path(FBase.Path()) / (std::string("Notes") + ext), fs::path(dir.Path()) / (std::string("Notes") + ext));
    }
    bool failed = false;
    std::int64_t writes = 0;
    {
      TDataSession session;
      TDataDirectory& d = session.OpenDirectory("F", dir.Path());
      TDataCursor c(d);
      c.SetTableName("Notes");
      c.OpenCursor();
      TFaultFileApi faults;
      {
        TOsFileApiOverride use(faults);
        faults.Fail(TOsCall::PWrite, errNo, k, diskFull);
        try {
          op.Run(d, c);
        } catch (const ETarnEngineError& e) {
          failed = true;
          EXPECT_NE(e.ErrorCode(), TARN_NONE);
        } catch (const std::exception& e) {
          ADD_FAILURE() << "not an engine error: " << e.what();
          failed = true;
        }
        writes = faults.Calls(TOsCall::PWrite);
        if (d.InTransaction()) {
          try {
            d.Rollback();
          } catch (const std::exception&) {
          }
        }
      }
      try {
        c.CloseCursor(true);
      } catch (const std::exception&) {
      }
    }
    if (!failed) {
      EXPECT_LE(writes, k) << "a write failed and the operation reported success";
      return false;
    }
    // A fresh session looks at what is on disk.
    TDataSession session;
    TDataDirectory& d = session.OpenDirectory("F", dir.Path());
    TTableCheckResult check;
    {
      TDataCursor c(d);
      c.SetTableName("Notes");
      c.SetReadOnly(true);
      c.OpenCursor();
      check = CheckTable(c);
      if (check.Clean()) {
        ++FCleanAfterFailure;
        EXPECT_EQ(ReadAll(c), FBefore) << "the table checks clean but differs from before the operation";
        return true;
      }
    }
    ++FMarkedAfterFailure;
    const bool marked = std::any_of(check.Problems.begin(), check.Problems.end(), [](const TTableProblem& p) {
      return p.Text.find("interrupted write") != std::string::npos;
    });
    EXPECT_TRUE(marked) << "damage without the mark of an interrupted write: " << check.Problems.front().Text;
    RepairTable(d, "Notes");
    TDataCursor c(d);
    c.SetTableName("Notes");
    c.OpenCursor();
    EXPECT_TRUE(CheckTable(c).Clean());
    const TNotes after = ReadAll(c);
    for (const auto& [id, note] : FBefore) {
      if (std::find(op.Touched.begin(), op.Touched.end(), id) != op.Touched.end()) continue;
      const auto it = after.find(id);
      EXPECT_TRUE(it != after.end() && it->second == note) << "record " << id << " not touched, yet lost or changed";
    }
    return true;
  }

  void RunEveryWrite(const TOperation& op) {
    for (const auto& [errNo, diskFull] : {std::pair{ENOSPC, true}, std::pair{EIO, false}}) {
      SCOPED_TRACE(std::string(op.Name) + (diskFull ? ", disk full" : ", one I/O error"));
      int k = 0;
      while (RunWithFault(op, k, errNo, diskFull)) {
        ++k;
        ASSERT_LT(k, 2000);
      }
      EXPECT_GT(k, 0) << "the operation wrote nothing";
    }
  }

  testing_support::TTempDir FBase;
  TNotes FBefore;
  int FCleanAfterFailure = 0;
  int FMarkedAfterFailure = 0;
};

TEST_F(TFaultTest, EveryWriteOfAnInsertAModificationAndADelete) {
  const TOperation ops[] = {
      {"insert", {31}, [](TDataDirectory&, TDataCursor& c) {
         std::vector<std::uint8_t> b(c.RecordSize());
         c.InitRecord(b);
         Put(c, b, 31, NoteFor(31, 0));
         c.InsertRecord(b, false);
       }},
      {"modify", {7}, [](TDataDirectory&, TDataCursor& c) {
         std::vector<std::uint8_t> b(c.RecordSize());
         ASSERT_TRUE(Seek(c, b, 7));
         c.RaiseIfError(c.GetCurrentRecord(b, true));
         Put(c, b, 7, NoteFor(7, 1));
         c.ModifyRecord(b, true, false);
       }},
      {"delete", {12}, [](TDataDirectory&, TDataCursor& c) {
         std::vector<std::uint8_t> b(c.RecordSize());
         ASSERT_TRUE(Seek(c, b, 12));
         c.DeleteRecord(b, false);
       }},
  };
  for (const TOperation& op : ops) RunEveryWrite(op);
  EXPECT_GT(FCleanAfterFailure, 0);
  EXPECT_GT(FMarkedAfterFailure, 0);
}

TEST_F(TFaultTest, EveryWriteOfACommit) {
  const TOperation commit{"commit", {31, 32, 33, 3, 4, 5, 20, 21},
                          [](TDataDirectory& d, TDataCursor& c) {
                            std::vector<std::uint8_t> b(c.RecordSize());
                            d.StartTransaction();
                            for (std::int32_t id : {31, 32, 33}) {
                              c.InitRecord(b);
                              Put(c, b, id, NoteFor(id, 0));
                              c.InsertRecord(b, false);
                            }
                            for (std::int32_t id : {3, 4, 5}) {
                              ASSERT_TRUE(Seek(c, b, id));
                              c.RaiseIfError(c.GetCurrentRecord(b, true));
                              Put(c, b, id, NoteFor(id, 2));
                              c.ModifyRecord(b, true, false);
                            }
                            for (std::int32_t id : {20, 21}) {
                              ASSERT_TRUE(Seek(c, b, id));
                              c.DeleteRecord(b, false);
                            }
                            d.Commit(true, false);
                          }};
  RunEveryWrite(commit);
  EXPECT_GT(FMarkedAfterFailure, 0);
}

}  // namespace
