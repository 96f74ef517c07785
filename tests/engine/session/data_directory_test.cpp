// Deleting and renaming tables that are in use: by another process (a forked
// child), by another session of this process, in memory, and held by a
// transaction. A table in use anywhere is refused with 11013 and keeps every
// one of its files.

#include "engine/session/data_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/files/file_handler.h"
#include "engine/session/data_session.h"
#include "session_fixture.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;
using session_testing::AppendRecords;
using session_testing::CodeOf;
using session_testing::SampleDefinition;
using session_testing::TChildChannel;
using session_testing::TChildProcess;
using testing_support::TTempDir;

enum class TChange { Delete, Rename, RenameToBackup };

struct TChangeCase {
  const char* Name;
  TChange Change;
};

// Runs the change on table "Quiz" of dir.
void Apply(TDataDirectory& dir, TChange change, bool inMemory = false) {
  switch (change) {
    case TChange::Delete:
      dir.DeleteTable("Quiz", inMemory);
      break;
    case TChange::Rename:
      dir.RenameTable("Quiz", inMemory, "Other", false);
      break;
    case TChange::RenameToBackup:
      dir.RenameTable("Quiz", inMemory, "Quiz", true);
      break;
  }
}

class TableInUseTest : public ::testing::TestWithParam<TChangeCase> {
 protected:
  void SetUp() override {
    TDataSession maker;
    TDataDirectory& dir = maker.OpenDirectory("Quiz", FTemp.Path());
    TDataTable& t = dir.CreateTable("Quiz", false, false, SampleDefinition(true));
    AppendRecords(t, 2);
    dir.ReleaseTable(t, false);
  }

  void ExpectAllFilesKept() const {
    for (const char* name : {"Quiz.DAT", "Quiz.IDX", "Quiz.BLB"})
      EXPECT_TRUE(fs::exists(FTemp.File(name))) << name;
    for (const char* name : {"Other.DAT", "Other.IDX", "Quiz.DBK", "Quiz.IBK"})
      EXPECT_FALSE(fs::exists(FTemp.File(name))) << name;
  }

  // The records of the table as found on disk now.
  std::int32_t RecordsOnDisk() const {
    TDataSession s;
    TDataDirectory& dir = s.OpenDirectory("Quiz", FTemp.Path());
    TDataTable& t = dir.OpenTable("Quiz", {});
    const std::int32_t n = t.DataFile().GetPhysicalRecordCount();
    dir.ReleaseTable(t, false);
    return n;
  }

  TTempDir FTemp;
};

// The child keeps the table open across the parent's attempt and writes to it
// afterwards: its write must land in the files the parent failed to remove.
TEST_P(TableInUseTest, ATableOpenInAnotherProcessIsRefusedAndKeepsItsWrites) {
  const std::string path = FTemp.Path();
  TChildProcess child([&](TChildChannel& ch) {
    TDataSession s;
    TDataDirectory& dir = s.OpenDirectory("Quiz", path);
    TDataTable& t = dir.OpenTable("Quiz", {});
    ch.Signal('o');
    if (ch.Wait() != 'w') return 1;
    {
      TTableWriteBracket write(t);
      AppendRecords(t, 1);
    }
    dir.ReleaseTable(t, false);
    return 0;
  });
  ASSERT_EQ(child.Next(), 'o');
  {
    TDataSession s;
    TDataDirectory& dir = s.OpenDirectory("Quiz", path);
    EXPECT_EQ(CodeOf([&] { Apply(dir, GetParam().Change); }), TARN_OSEACCES);
    EXPECT_EQ(GetErrorContextItem(static_cast<int>(TErrorItem::Table)), "Quiz");
    EXPECT_EQ(dir.TableCount(), 0u);
  }
  ExpectAllFilesKept();
  child.Send('w');
  EXPECT_EQ(child.Join(), 0);
  EXPECT_EQ(RecordsOnDisk(), 3);

  // Once the other process is gone the change goes through.
  TDataSession s;
  TDataDirectory& dir = s.OpenDirectory("Quiz", path);
  Apply(dir, GetParam().Change);
  EXPECT_FALSE(fs::exists(FTemp.File("Quiz.DAT")));
}

// Another program holding only the index file is enough: the data file, which
// comes first, must not go either.
TEST_P(TableInUseTest, OneFileInUseElsewhereKeepsTheWholeTable) {
  const std::string path = FTemp.Path();
  TChildProcess child([&](TChildChannel& ch) {
    TFileHandler index;
    index.SetFileName(path + "/Quiz.IDX");
    index.OpenFile();
    ch.Signal('o');
    ch.Wait();
    index.CloseFile();
    return 0;
  });
  ASSERT_EQ(child.Next(), 'o');
  {
    TDataSession s;
    TDataDirectory& dir = s.OpenDirectory("Quiz", path);
    EXPECT_EQ(CodeOf([&] { Apply(dir, GetParam().Change); }), TARN_OSEACCES);
  }
  ExpectAllFilesKept();
  child.Send('x');
  EXPECT_EQ(child.Join(), 0);
}

// A second session of this process (its own table object) keeps the table
// open, or holds it only through its transaction.
TEST_P(TableInUseTest, ATableOfAnotherSessionIsRefused) {
  for (const bool transaction : {false, true}) {
    SCOPED_TRACE(transaction ? "held by a transaction" : "open");
    TDataSession other;
    TDataDirectory& otherDir = other.OpenDirectory("Quiz", FTemp.Path());
    TDataTable& held = otherDir.OpenTable("Quiz", {});
    if (transaction) {
      held.SetInTransaction(true);
      otherDir.ReleaseTable(held, false);  // the transaction keeps the files open
      ASSERT_TRUE(held.IsOpen());
      ASSERT_EQ(held.OpenCount(), 0);
    }
    {
      TDataSession s;
      TDataDirectory& dir = s.OpenDirectory("Quiz", FTemp.Path());
      EXPECT_EQ(CodeOf([&] { Apply(dir, GetParam().Change); }), TARN_OSEACCES);
    }
    ExpectAllFilesKept();
    if (transaction) {
      held.SetInTransaction(false);
      held.CloseTable(false);
    } else {
      otherDir.ReleaseTable(held, false);
    }
  }
  EXPECT_EQ(RecordsOnDisk(), 2);
}

// The same directory: a table object held by a transaction is still open.
TEST_P(TableInUseTest, ATableHeldByATransactionOfThisDirectoryIsRefused) {
  TDataSession s;
  TDataDirectory& dir = s.OpenDirectory("Quiz", FTemp.Path());
  TDataTable& t = dir.OpenTable("Quiz", {});
  t.SetInTransaction(true);
  dir.ReleaseTable(t, false);
  ASSERT_EQ(dir.FindTable("Quiz", false), &t);
  EXPECT_EQ(CodeOf([&] { Apply(dir, GetParam().Change); }), TARN_OSEACCES);
  ExpectAllFilesKept();
  t.SetInTransaction(false);
  t.CloseTable(false);
}

TEST_P(TableInUseTest, AnInMemoryTableOpenInAnotherSessionIsRefused) {
  TDataSession owner;
  TDataDirectory& memOwner = owner.OpenDirectory("Memory", "");
  TDataTable& created = memOwner.CreateTable("Quiz", true, false, SampleDefinition(true));
  memOwner.ReleaseTable(created, false);
  TDataTable& held = memOwner.OpenTable("Quiz", {.InMemory = true});

  TDataSession s;
  TDataDirectory& mem = s.OpenDirectory("Memory", "");
  EXPECT_EQ(CodeOf([&] { Apply(mem, GetParam().Change, true); }), TARN_OSEACCES);
  EXPECT_TRUE(mem.TableExists("Quiz", true));
  EXPECT_FALSE(mem.TableExists("Other", true));

  memOwner.ReleaseTable(held, false);
  Apply(mem, GetParam().Change, true);
  EXPECT_FALSE(mem.TableExists("Quiz", true));
  if (GetParam().Change == TChange::Rename) {
    EXPECT_TRUE(mem.TableExists("Other", true));
    mem.DeleteTable("Other", true);
  }
}

INSTANTIATE_TEST_SUITE_P(Changes, TableInUseTest,
                         ::testing::Values(TChangeCase{"Delete", TChange::Delete},
                                           TChangeCase{"Rename", TChange::Rename},
                                           TChangeCase{"RenameToBackup", TChange::RenameToBackup}),
                         [](const ::testing::TestParamInfo<TChangeCase>& info) {
                           return info.param.Name;
                         });

// ---- failures after the files were claimed ----

class TableFilesTest : public session_testing::TDirectoryFixture {
 protected:
  void SetUp() override {
    TDataTable& t = FDir.CreateTable("Quiz", false, false, SampleDefinition(true));
    FDir.ReleaseTable(t, false);
  }
};

TEST_F(TableFilesTest, AReadOnlyFileKeepsTheWholeTableFromBeingDeleted) {
  ASSERT_EQ(::chmod(FTemp.File("Quiz.IDX").c_str(), 0444), 0);
  EXPECT_EQ(CodeOf([&] { FDir.DeleteTable("Quiz", false); }), TARN_OSEACCES);
  for (const char* name : {"Quiz.DAT", "Quiz.IDX", "Quiz.BLB"})
    EXPECT_TRUE(fs::exists(FTemp.File(name))) << name;
  ASSERT_EQ(::chmod(FTemp.File("Quiz.IDX").c_str(), 0644), 0);
  FDir.DeleteTable("Quiz", false);
  EXPECT_FALSE(fs::exists(FTemp.File("Quiz.DAT")));
}

TEST_F(TableFilesTest, ARenameThatFailsPartWayMovesTheRenamedFilesBack) {
  // The blob file's target exists already, and a rename never replaces a file.
  { std::ofstream(FTemp.File("Other.BLB")) << "x"; }
  EXPECT_NE(CodeOf([&] { FDir.RenameTable("Quiz", false, "Other", false); }), TARN_NONE);
  for (const char* name : {"Quiz.DAT", "Quiz.IDX", "Quiz.BLB"})
    EXPECT_TRUE(fs::exists(FTemp.File(name))) << name;
  EXPECT_FALSE(fs::exists(FTemp.File("Other.DAT")));
  EXPECT_FALSE(fs::exists(FTemp.File("Other.IDX")));
  TDataTable& t = FDir.OpenTable("Quiz", {});
  FDir.ReleaseTable(t, false);
}

}  // namespace
}  // namespace tarn
