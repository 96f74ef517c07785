// Transactions of a directory, seen through cursors of one process: changes
// kept in the caches until the commit, rollback giving back the files byte for
// byte and every cursor a valid position, commits that keep the transaction
// running, caches that grow, tables joining and staying open, record locks
// deferred.

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/files/fault_file_api.h"
#include "engine/files/os_file_api.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/record_layout.h"
#include "modify_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace modify_testing;

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes of every file of the tables.
using TFiles = std::map<std::string, std::vector<std::uint8_t>>;

std::string Body(int id, std::size_t length) {
  std::string body = "note " + std::to_string(id) + " ";
  while (body.size() < length) body += static_cast<char>('a' + (body.size() * 7 + static_cast<std::size_t>(id)) % 26);
  return body;
}

// The cached records (capacity), index pages and blob blocks of a table.
struct TCacheUse {
  std::int64_t Records = 0;
  std::int64_t Pages = 0;
  std::int64_t Blocks = 0;
};

TCacheUse CacheUse(TDataTable& t) {
  TCacheUse use;
  use.Records = t.DataFile().CacheCapacity();
  for (int s = 0; s < IndexSlotCount; ++s) use.Pages += t.IndexFile().Cache(s).Size();
  use.Blocks = static_cast<std::int64_t>(t.BlobFile().Cache().Count());
  return use;
}

class TTransactionTest : public ::testing::Test {
 protected:
  static constexpr const char* Tables[] = {"NotesA", "NotesB"};

  void SetUp() override {
    for (const char* name : Tables) {
      TDataTable& t = FDir.CreateTable(name, false, false, NotesDefinition());
      FDir.ReleaseTable(t, false);
    }
  }

  std::unique_ptr<TDataCursor> Open(std::string_view name, bool exclusive = false, bool readOnly = false) {
    auto c = std::make_unique<TDataCursor>(FDir);
    c->SetTableName(name);
    c->SetExclusive(exclusive);
    c->SetReadOnly(readOnly);
    c->OpenCursor();
    return c;
  }
  static std::vector<std::uint8_t> Buffer(TDataCursor& c) {
    std::vector<std::uint8_t> b(c.RecordSize());
    c.InitRecord(b);
    return b;
  }
  static void Insert(TDataCursor& c, TModel& model, const TNote& note) {
    std::vector<std::uint8_t> b = Buffer(c);
    PutNote(c, b, note);
    c.InsertRecord(b, true);
    model[c.CurrentRecordNo()] = {note, static_cast<std::int32_t>(GetLE32(b, RecordLayout::RecAutoInc))};
  }
  static void Seek(TDataCursor& c, std::int32_t id) {
    std::vector<std::uint8_t> b = Buffer(c);
    std::array<std::uint8_t, 4> v{};
    PutLE32(v, 0, static_cast<std::uint32_t>(id));
    c.PutField(1, b, std::span<const std::uint8_t>(v));
    ASSERT_TRUE(c.SetToKey(false, b, 1)) << id;
  }
  static void Modify(TDataCursor& c, TModel& model, const TNote& note) {
    Seek(c, note.Id);
    std::vector<std::uint8_t> b(c.RecordSize());
    ASSERT_EQ(c.GetCurrentRecord(b), TARN_NONE);
    ASSERT_EQ(c.GetCurrentRecord(b, true), TARN_NONE);
    PutNote(c, b, note);
    c.ModifyRecord(b, true, true);
    model[c.CurrentRecordNo()].Note = note;
  }
  static void Delete(TDataCursor& c, TModel& model, std::int32_t id) {
    Seek(c, id);
    std::vector<std::uint8_t> b(c.RecordSize());
    ASSERT_EQ(c.GetCurrentRecord(b), TARN_NONE);
    const std::int32_t r = c.CurrentRecordNo();
    c.DeleteRecord(b, true);
    model.erase(r);
  }
  static std::int32_t IdOf(TDataCursor& c, std::span<const std::uint8_t> b) {
    return static_cast<std::int32_t>(GetLE32(c.GetField(1, b).Bytes, 0));
  }
  // Notes 10, 20, .., count x 10 with bodies (some of several blocks).
  static void Fill(TDataCursor& c, TModel& model, int count) {
    for (int i = 1; i <= count; ++i) {
      Insert(c, model, {i * 10, "title " + std::to_string(i), i % 4, i % 3 == 0 ? "" : Body(i, static_cast<std::size_t>(i * 90))});
    }
  }
  TFiles Files() const {
    TFiles files;
    for (const char* name : Tables) {
      for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
        const std::string file = std::string(name) + ext;
        files[file] = ReadBytes(FTemp.File(file));
      }
    }
    return files;
  }
  static TErrorCode CodeOf(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const ETarnEngineError& e) {
      return e.ErrorCode();
    }
    return TARN_NONE;
  }

  testing_support::TTempDir FTemp;
  TDataSession FSession;
  TDataDirectory& FDir = FSession.OpenDirectory("Notes", FTemp.Path());
};

TEST_F(TTransactionTest, RollbackGivesBackBothTablesByteForByteAndEveryCursorAValidPosition) {
  auto a = Open("NotesA");
  auto b = Open("NotesB");
  TModel modelA, modelB;
  Fill(*a, modelA, 12);
  Fill(*b, modelB, 8);
  const TFiles before = Files();
  const TModel savedA = modelA, savedB = modelB;

  // A second cursor on A stands on note 50, which the transaction changes.
  auto watcher = Open("NotesA");
  Seek(*watcher, 50);

  FDir.StartTransaction();
  EXPECT_TRUE(FDir.InTransaction());
  EXPECT_TRUE(a->Table().InTransaction());
  EXPECT_TRUE(a->Table().HoldsTransactionLock());
  Insert(*a, modelA, {15, "new fifteen", 7, Body(15, 1500)});
  Insert(*a, modelA, {125, "new last", 2, ""});
  Modify(*a, modelA, {50, "changed fifty", 9, Body(50, 2000)});
  Modify(*a, modelA, {20, "changed twenty", 1, ""});
  Delete(*a, modelA, 30);
  Delete(*a, modelA, 40);
  Insert(*b, modelB, {35, "b new", 3, Body(35, 700)});
  Modify(*b, modelB, {10, "b changed", 5, Body(10, 3000)});
  Delete(*b, modelB, 60);

  // Inside the transaction every cursor of the session sees the changes, and
  // nothing has reached the files.
  CheckTable(*a, modelA);
  CheckTable(*b, modelB);
  std::vector<std::uint8_t> rec(watcher->RecordSize());
  ASSERT_EQ(watcher->GetCurrentRecord(rec), TARN_NONE);
  EXPECT_EQ(ReadNote(*watcher, rec).Title, "changed fifty");
  EXPECT_EQ(Files(), before);

  // A third cursor stands on a record that exists only in the transaction.
  auto onNew = Open("NotesA");
  Seek(*onNew, 15);

  FDir.Rollback();
  EXPECT_FALSE(FDir.InTransaction());
  EXPECT_FALSE(a->Table().InTransaction());
  EXPECT_FALSE(a->Table().HoldsTransactionLock());
  EXPECT_EQ(Files(), before);
  CheckTable(*a, savedA);
  CheckTable(*b, savedB);
  EXPECT_EQ(a->GetRecordCount(), 12);
  EXPECT_EQ(b->GetRecordCount(), 8);

  // The watcher shows the note as it was; the cursor on the vanished record
  // lands between its neighbours.
  ASSERT_EQ(watcher->GetCurrentRecord(rec), TARN_NONE);
  EXPECT_EQ(ReadNote(*watcher, rec).Title, "title 5");
  ASSERT_EQ(onNew->GetNextRecord(rec), TARN_NONE);
  EXPECT_EQ(IdOf(*onNew, rec), 20);
  ASSERT_EQ(onNew->GetPriorRecord(rec), TARN_NONE);
  EXPECT_EQ(IdOf(*onNew, rec), 10);

  // The tables take changes normally afterwards, and a fresh session sees them.
  Insert(*a, modelA = savedA, {15, "after", 1, Body(15, 100)});
  CheckTable(*a, modelA);
  TDataSession other;
  TDataCursor c(other.OpenDirectory("Other", FTemp.Path()));
  c.SetTableName("NotesA");
  c.OpenCursor();
  CheckTable(c, modelA);
}

TEST_F(TTransactionTest, ACursorThatSawTheTransactionRefreshesEvenWhenTheCountersComeBack) {
  auto a = Open("NotesA");
  TModel model;
  Fill(*a, model, 5);
  const TModel saved = model;
  auto seen = Open("NotesA");
  FDir.StartTransaction();
  Insert(*a, model, {25, "in transaction", 1, ""});
  Seek(*seen, 25);  // its snapshot holds the raised counters
  FDir.Rollback();
  // One committed change per table raises the counters again, possibly to
  // what the cursor saw; it must still notice that record 25 is gone.
  Modify(*a, model = saved, {10, "ten", 0, ""});
  std::vector<std::uint8_t> rec(seen->RecordSize());
  ASSERT_EQ(seen->GetNextRecord(rec), TARN_NONE);
  EXPECT_EQ(IdOf(*seen, rec), 30);
}

TEST_F(TTransactionTest, ACommitWithoutEndingIsNotUndoneAndReleasesTheRecordLocks) {
  auto a = Open("NotesA");
  auto b = Open("NotesB");
  TModel modelA, modelB;
  Fill(*a, modelA, 4);
  FDir.StartTransaction();
  Insert(*a, modelA, {100, "kept", 1, Body(100, 900)});
  Insert(*b, modelB, {1, "kept too", 1, ""});
  Modify(*a, modelA, {20, "kept change", 2, ""});
  const std::int32_t locked = a->CurrentRecordNo();
  // The edit lock of the modification is released only at the end.
  EXPECT_TRUE(a->Table().RecordLocked(locked));
  EXPECT_TRUE(a->Table().UnlockDeferred(locked));

  FDir.Commit(false, false);
  EXPECT_TRUE(FDir.InTransaction());
  EXPECT_TRUE(a->Table().InTransaction());
  EXPECT_TRUE(a->Table().HoldsTransactionLock());
  EXPECT_FALSE(a->Table().RecordLocked(locked));
  const TFiles committed = Files();
  const TModel keptA = modelA, keptB = modelB;

  Insert(*a, modelA, {200, "dropped", 1, Body(200, 600)});
  Delete(*b, modelB, 1);
  FDir.Rollback();
  EXPECT_EQ(Files(), committed);
  CheckTable(*a, keptA);
  CheckTable(*b, keptB);

  // Committing with the end leaves the transaction.
  FDir.StartTransaction();
  Insert(*b, modelB = keptB, {2, "ended", 1, ""});
  FDir.Commit(true, true);
  EXPECT_FALSE(FDir.InTransaction());
  EXPECT_FALSE(b->Table().HoldsTransactionLock());
  FDir.Rollback();  // nothing to undo
  CheckTable(*b, modelB);
}

// Records inserted or changed inside a transaction keep their locks until
// the end. A transaction over some tables leaves the others alone.
TEST_F(TTransactionTest, RecordLocksLastToTheEndAndATransactionMayCoverSomeTables) {
  auto a = Open("NotesA");
  auto b = Open("NotesB");
  TModel modelA, modelB;
  Fill(*a, modelA, 4);
  Fill(*b, modelB, 2);
  TDataTable* const only = &a->Table();
  FDir.StartTransaction(std::span<TDataTable* const>(&only, 1));
  EXPECT_TRUE(FDir.InTransaction());
  EXPECT_TRUE(a->Table().HoldsTransactionLock());
  EXPECT_FALSE(b->Table().InTransaction());
  EXPECT_FALSE(b->Table().HoldsTransactionLock());
  Insert(*a, modelA, {100, "new", 1, Body(100, 300)});
  const std::int32_t inserted = a->CurrentRecordNo();
  EXPECT_TRUE(a->Table().RecordLocked(inserted));
  EXPECT_FALSE(a->Table().Writing());
  Modify(*a, modelA, {100, "changed", 2, ""});
  EXPECT_TRUE(a->Table().RecordLocked(inserted));
  Modify(*a, modelA, {20, "changed too", 2, ""});
  EXPECT_TRUE(a->Table().RecordLocked(a->CurrentRecordNo()));
  // The table outside the transaction writes at once, as outside any.
  Modify(*b, modelB, {10, "b changed", 1, ""});
  FDir.Commit(true, false);
  EXPECT_FALSE(a->Table().RecordLocked(inserted));
  CheckTable(*a, modelA);
  CheckTable(*b, modelB);
}

TEST_F(TTransactionTest, ChangesThatOutgrowTheCachesCommitAndRollBack) {
  FSession.SetMaxDataBufferCount(16);
  auto a = Open("NotesA");
  TModel model;
  Fill(*a, model, 3);
  const TCacheUse nominal = CacheUse(a->Table());
  const TModel saved = model;
  const TFiles before = Files();
  constexpr int Count = 600;

  for (const bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    model = saved;
    FDir.StartTransaction();
    for (int i = 0; i < Count; ++i) Insert(*a, model, {1000 + i, "bulk " + std::to_string(i), i % 7, Body(i, 700)});
    const TCacheUse grown = CacheUse(a->Table());
    EXPECT_GT(grown.Records, Count);
    EXPECT_GT(grown.Pages, nominal.Pages + 16);
    EXPECT_GT(grown.Blocks, Count);
    EXPECT_EQ(Files(), before) << "a transaction wrote to the files";
    if (commit) {
      FDir.Commit(true, false);
    } else {
      FDir.Rollback();
      model = saved;
      EXPECT_EQ(Files(), before);
    }
    const TCacheUse trimmed = CacheUse(a->Table());
    EXPECT_LE(trimmed.Records, nominal.Records + 64);
    EXPECT_LT(trimmed.Pages, grown.Pages / 2);
    EXPECT_LT(trimmed.Blocks, grown.Blocks / 4);
    CheckTable(*a, model);
  }
  TDataSession other;
  TDataCursor c(other.OpenDirectory("Other", FTemp.Path()));
  c.SetTableName("NotesA");
  c.OpenCursor();
  CheckTable(c, model);
}

TEST_F(TTransactionTest, TablesOpenedInATransactionJoinItAndStayOpenUntilItEnds) {
  TModel model;
  {
    auto b = Open("NotesB");
    Fill(*b, model, 3);
  }
  const TFiles before = Files();
  auto readOnly = Open("NotesA", false, true);
  FDir.StartTransaction();
  EXPECT_FALSE(readOnly->Table().InTransaction()) << "a read-only table joined";
  {
    auto b = Open("NotesB");
    EXPECT_TRUE(b->Table().InTransaction());
    TModel changed = model;
    Insert(*b, changed, {99, "joined", 1, Body(99, 300)});
  }
  TDataTable* held = FDir.FindTable("NotesB", false);
  ASSERT_NE(held, nullptr);
  EXPECT_TRUE(held->IsOpen());
  EXPECT_EQ(held->OpenCount(), 0);
  {
    // Opened again, the table still holds the change.
    auto b = Open("NotesB");
    EXPECT_EQ(b->GetRecordCount(), 4);
  }
  FDir.Rollback();
  EXPECT_EQ(FDir.FindTable("NotesB", false), nullptr);
  EXPECT_EQ(Files(), before);
  auto b = Open("NotesB");
  CheckTable(*b, model);
}

TEST_F(TTransactionTest, AnExclusiveTableKeepsItsEarlierWorkThroughARollback) {
  auto a = Open("NotesA", true);
  TModel model;
  Fill(*a, model, 3);  // in the caches only: an exclusive table writes at close
  const TModel saved = model;
  FDir.StartTransaction();
  Insert(*a, model, {45, "rolled back", 1, Body(45, 800)});
  Modify(*a, model, {10, "rolled back too", 1, ""});
  FDir.Rollback();
  CheckTable(*a, saved);
  std::vector<std::uint8_t> rec(a->RecordSize());
  a->SetToBegin();
  ASSERT_EQ(a->GetNextRecord(rec), TARN_NONE);
  EXPECT_EQ(ReadNote(*a, rec).Title, "title 1");
  a->CloseCursor();
  auto again = Open("NotesA");
  CheckTable(*again, saved);
}

TEST_F(TTransactionTest, DestroyingADirectoryInATransactionRollsBack) {
  const TFiles before = Files();
  {
    TDataSession session;
    TDataDirectory& dir = session.OpenDirectory("Gone", FTemp.Path());
    TDataCursor c(dir);
    c.SetTableName("NotesA");
    c.OpenCursor();
    dir.StartTransaction();
    TModel model;
    Insert(c, model, {1, "never", 1, Body(1, 2000)});
    c.CloseCursor();
  }
  EXPECT_EQ(Files(), before);
  auto a = Open("NotesA");
  CheckTable(*a, {});
}

TEST_F(TTransactionTest, ACommitWhoseWriteFailsStillEndsTheTransactionAndLeavesReportedDamage) {
  auto a = Open("NotesA");
  auto b = Open("NotesB");
  TModel modelA, modelB;
  FDir.StartTransaction();
  Insert(*a, modelA, {1, "a", 1, Body(1, 600)});
  Insert(*b, modelB, {2, "b", 2, Body(2, 600)});
  const TFiles before = Files();
  TFaultFileApi faults;
  TErrorCode failure = TARN_NONE;
  {
    // The last opened table is written first: its data header is marked,
    // the mark of its index header fails.
    TOsFileApiOverride use(faults);
    faults.Fail(TOsCall::PWrite, ENOSPC, 1, true);
    failure = CodeOf([&] { FDir.Commit(true, false); });
  }
  EXPECT_NE(failure, TARN_NONE);
  EXPECT_FALSE(FDir.InTransaction());
  for (TDataCursor* c : {a.get(), b.get()}) {
    EXPECT_FALSE(c->Table().InTransaction());
    EXPECT_FALSE(c->Table().HoldsTransactionLock());
    EXPECT_FALSE(c->Table().Writing());
  }
  // Table A was never touched; another session finds B damaged.
  EXPECT_EQ(ReadBytes(FTemp.File("NotesA.DAT")), before.at("NotesA.DAT"));
  TDataSession other;
  TDataDirectory& dir = other.OpenDirectory("Other", FTemp.Path());
  for (const char* name : Tables) {
    TDataTable& t = dir.OpenTable(name, {});
    EXPECT_EQ(t.Damage() != TARN_NONE, std::string(name) == "NotesB") << name;
    dir.ReleaseTable(t, false);
  }
}

TEST_F(TTransactionTest, StartingTwiceAndEndingOutsideATransactionChangeNothing) {
  auto a = Open("NotesA");
  TModel model;
  FDir.Commit(true, false);
  FDir.Rollback();
  FDir.StartTransaction();
  FDir.StartTransaction();
  Insert(*a, model, {1, "one", 1, ""});
  FDir.Rollback();
  EXPECT_FALSE(FDir.InTransaction());
  EXPECT_EQ(a->GetRecordCount(), 0);
}

}  // namespace
