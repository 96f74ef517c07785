// Failures part way through an insert, a modification and a delete, injected
// through the file layer: every failing read leaves the table exactly as it
// was (the files byte for byte, and every record, index and blob chain as the
// model says) with the error reported and no lock held; a failing write of
// the buffers is reported, holds no lock, and leaves the table marked as
// interrupted so that no reader trusts a half-written state.

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/files/fault_file_api.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/record_layout.h"
#include "modify_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace modify_testing;

enum class TOp { Insert, Modify, Delete };

std::vector<char> FileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TModifyFaultTest : public ::testing::TestWithParam<std::tuple<TOp, bool>> {
 protected:
  static TOp Op() { return std::get<0>(GetParam()); }
  // An exclusive cursor keeps its changes in the caches until it closes; its
  // failures are undone step by step instead of by dropping the caches.
  static bool Exclusive() { return std::get<1>(GetParam()); }

  void SetUp() override {
    TDataSession session;
    TDataDirectory& dir = session.OpenDirectory("Setup", FTemp.Path());
    TDataTable& t = dir.CreateTable("Notes", false, false, NotesDefinition());
    dir.ReleaseTable(t, false);
    TDataCursor c(dir);
    c.SetTableName("Notes");
    c.OpenCursor();
    std::vector<std::uint8_t> b(c.RecordSize());
    for (int i = 1; i <= 60; ++i) {
      const TNote note{i, "note " + std::to_string(i), i % 7,
                       std::string(static_cast<std::size_t>(i * 53), 'a' + static_cast<char>(i % 26)) + " river stone"};
      c.InitRecord(b);
      PutNote(c, b, note);
      c.InsertRecord(b, true);
      FModel[c.CurrentRecordNo()] = {note, static_cast<std::int32_t>(GetLE32(b, RecordLayout::RecAutoInc))};
    }
    // Free some slots so that the insert reuses one.
    for (int id : {5, 9}) {
      Seek(c, id, b);
      FModel.erase(c.CurrentRecordNo());
      c.DeleteRecord(b, true);
    }
  }

  void Seek(TDataCursor& c, std::int32_t id, std::vector<std::uint8_t>& b) {
    std::array<std::uint8_t, 4> v{};
    PutLE32(v, 0, static_cast<std::uint32_t>(id));
    c.InitRecord(b);
    c.PutField(1, b, std::span<const std::uint8_t>(v));
    ASSERT_TRUE(c.SetToKey(false, b, 1));
    ASSERT_EQ(c.GetCurrentRecord(b), TARN_NONE);
  }

  std::vector<std::vector<char>> Files() const {
    std::vector<std::vector<char>> all;
    for (const char* ext : {"Notes.DAT", "Notes.IDX", "Notes.BLB"}) all.push_back(FileBytes(FTemp.Path() + "/" + ext));
    return all;
  }

  // Runs the operation on a cursor with cold caches, the fault armed by arm
  // once the cursor stands where the operation needs it. Returns the code.
  TErrorCode RunOnce(const std::function<void(TFaultFileApi&)>& arm, TModel& after) {
    TDataSession session;
    TDataDirectory& dir = session.OpenDirectory("Run", FTemp.Path());
    TDataCursor c(dir);
    c.SetTableName("Notes");
    c.SetExclusive(Exclusive());
    c.OpenCursor();
    std::vector<std::uint8_t> b(c.RecordSize());
    const TNote fresh{500, "fresh words", 3, std::string(3000, 'q') + " zebra light"};
    if (Op() == TOp::Insert) {
      c.InitRecord(b);
      PutNote(c, b, fresh);
    } else {
      Seek(c, 30, b);
      if (Op() == TOp::Modify) {
        EXPECT_EQ(c.GetCurrentRecord(b, true), TARN_NONE);
        PutNote(c, b, fresh);
      }
    }
    after = FModel;
    TErrorCode code = TARN_NONE;
    {
      TFaultFileApi faults;
      TOsFileApiOverride use(faults);
      arm(faults);
      try {
        switch (Op()) {
          case TOp::Insert:
            c.InsertRecord(b, true);
            after[c.CurrentRecordNo()] = {fresh, static_cast<std::int32_t>(GetLE32(b, RecordLayout::RecAutoInc))};
            break;
          case TOp::Modify: {
            const std::int32_t r = c.CurrentRecordNo();
            c.ModifyRecord(b, true, true);
            after[r].Note = fresh;
            break;
          }
          case TOp::Delete:
            after.erase(c.CurrentRecordNo());
            c.DeleteRecord(b, true);
            break;
        }
      } catch (const ETarnEngineError& e) {
        code = e.ErrorCode();
      }
    }
    if (code != TARN_NONE) {
      c.UnlockCurrentRecord();
      c.FreeBlobs(true);
      EXPECT_FALSE(c.Table().Writing());
      EXPECT_EQ(c.Table().CursorLocked(c.CurrentRecordNo()), false);
      for (const auto& [r, rec] : FModel) EXPECT_FALSE(c.Table().RecordLocked(r));
      if (c.Table().Damage() == TARN_NONE) CheckTable(c, FModel);
    } else {
      CheckTable(c, after);
    }
    FDamaged = c.Table().Damage() != TARN_NONE;
    return code;
  }

  testing_support::TTempDir FTemp;
  TModel FModel;
  bool FDamaged = false;
};

TEST_P(TModifyFaultTest, AFailingReadAtEachPointLeavesTheTableAsItWas) {
  // An exclusive cursor cannot yet undo a blob chain half rewritten when a
  // block of the blob file's free list fails to read.
  const auto before = Files();
  int failures = 0;
  for (int k = 0; k < 400; ++k) {
    SCOPED_TRACE(k);
    TModel after;
    const TErrorCode code = RunOnce([k](TFaultFileApi& f) { f.Fail(TOsCall::PRead, EIO, k); }, after);
    if (code == TARN_NONE) break;
    ++failures;
    EXPECT_FALSE(FDamaged);
    if (!Exclusive()) {
      ASSERT_TRUE(Files() == before) << "the files changed after a failure at read " << k;
      continue;
    }
    // The exclusive cursor wrote its (undone) caches when it closed: the
    // table reads back as the model says.
    TDataSession look;
    TDataCursor c(look.OpenDirectory("Look", FTemp.Path()));
    c.SetTableName("Notes");
    c.OpenCursor();
    CheckTable(c, FModel);
    if (HasFailure()) return;
  }
  EXPECT_GT(failures, 3);  // the operation read pages, records and blocks on its way
}

TEST_P(TModifyFaultTest, AFailingWriteIsReportedAndNeverPassesForSuccess) {
  for (int k = 0;; ++k) {
    SCOPED_TRACE(k);
    ASSERT_LT(k, 200);
    // Each run starts from the sound table.
    TModel after;
    const auto before = Files();
    const TErrorCode code = RunOnce([k](TFaultFileApi& f) { f.Fail(TOsCall::PWrite, ENOSPC, k); }, after);
    if (code == TARN_NONE) {
      FModel = after;
      break;
    }
    // The failure is reported; on disk the table is either untouched or
    // marked as interrupted (readers then refuse it until it is repaired).
    bool marked = false;
    {
      TDataSession look;
      TDataDirectory& dir = look.OpenDirectory("Look", FTemp.Path());
      TDataTable& t = dir.OpenTable("Notes", {});
      marked = t.Damage() != TARN_NONE;
      dir.ReleaseTable(t, false);
    }
    if (!marked) {
      EXPECT_TRUE(Files() == before) << "unmarked files changed after a failure at write " << k;
      continue;
    }
    // Put the files back as they were for the next failure point.
    const char* names[] = {"Notes.DAT", "Notes.IDX", "Notes.BLB"};
    for (std::size_t i = 0; i < 3; ++i) {
      std::ofstream out(FTemp.Path() + "/" + names[i], std::ios::binary | std::ios::trunc);
      out.write(before[i].data(), static_cast<std::streamsize>(before[i].size()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EachOperation, TModifyFaultTest,
                         ::testing::Combine(::testing::Values(TOp::Insert, TOp::Modify, TOp::Delete),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           const TOp op = std::get<0>(info.param);
                           return std::string(op == TOp::Insert ? "Insert" : op == TOp::Modify ? "Modify" : "Delete") +
                                  (std::get<1>(info.param) ? "Exclusive" : "Shared");
                         });

}  // namespace
