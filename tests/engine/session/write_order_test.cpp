// The write order of a table's buffers: headers marked first, then records,
// pages and blocks, then the marks cleared; interrupted writes reported as
// damage, reads going on, the repair clearing the marks.
//
// Writers that die are forked children killed with SIGKILL at a chosen step
// (the step hook of write_order.h). Forks happen while this process has no
// table file open, so each child takes its locks through descriptors of its
// own.

#include "engine/session/write_order.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/blob/blob_header.h"
#include "engine/files/fault_file_api.h"
#include "engine/index/index_file.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/data_table.h"
#include "engine/table/data_header.h"
#include "session_fixture.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

using session_testing::AppendRecords;
using session_testing::CodeOf;
using session_testing::SampleDefinition;
using session_testing::TChildChannel;
using session_testing::TChildProcess;
using testing_support::TTempDir;

constexpr TTableLockRetry Quick{.Attempts = 3, .PauseMs = 1};
constexpr int InitialRecords = 3;

// The offsets of the three marks in the files.
struct TMarkAt {
  const char* Ext;
  std::size_t Offset;
  TErrorCode Code;
};
constexpr TMarkAt Marks[] = {
    {".DAT", DataHeaderLayout::WriteInProgress, TARN_HEADERCORRUPT},
    {".IDX", IndexHeaderLayout::WriteInProgress, TARN_INDEXCORRUPT},
    {".BLB", BlobHeader::WriteInProgressAt, TARN_MEMOCORRUPT},
};

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint8_t ByteAt(const std::string& path, std::size_t offset) { return ReadBytes(path).at(offset); }

void PutByte(const std::string& path, std::size_t offset, std::uint8_t value) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.put(static_cast<char>(value));
}

// Clears the step hook and the unordered switch however a test ends.
struct THooksReset {
  ~THooksReset() {
    WriteOrderTesting::SetStepHook({});
    WriteOrderTesting::SetUnorderedWrites(false);
  }
};

// A session of this process on the table, with short retries.
struct TUser {
  explicit TUser(const std::string& path, TTableOpenOptions options = {}) {
    Session.SetLockRetryCount(2);
    Session.SetLockWaitTime(1);
    Dir = &Session.OpenDirectory("Quiz", path);
    Table = &Dir->OpenTable("Quiz", options);
    Table->SetTableLockRetry(Quick);
  }
  ~TUser() {
    if (Table != nullptr) Dir->ReleaseTable(*Table, false);
  }
  TDataSession Session;
  TDataDirectory* Dir = nullptr;
  TDataTable* Table = nullptr;
};

// What the table holds, as far as the change of ChangeAll goes.
struct TView {
  char FirstName = 0;              // record 1's first Name character
  std::int32_t Records = 0;        // data file slots
  std::int32_t IndexRecords = 0;   // index header record count
  std::int32_t IndexPages = 0;     // index pages in use
  std::int32_t BlobBlocks = 0;     // blob blocks in use
  bool operator==(const TView&) const = default;
};

TView ViewOf(TDataTable& t) {
  TView v;
  TRecordPin pin = t.DataFile().GetRecord(nullptr, 1);
  v.FirstName = static_cast<char>(pin->Data()[10]);
  pin.Release();
  v.Records = t.DataFile().GetPhysicalRecordCount();
  v.IndexRecords = t.IndexFile().RecordCount();
  v.IndexPages = t.IndexFile().NextPageNumber() - 1;
  v.BlobBlocks = t.BlobFile().Header().NextBlockNumber - 1;
  return v;
}

// One change touching all three files: record 1 renamed, a record appended,
// an index page and the record count, a blob block; then the buffers written.
void ChangeAll(TDataTable& t) {
  TTableWriteBracket write(t);
  {
    TRecordPin first = t.DataFile().GetRecord(nullptr, 1);
    first->MutableData()[10] = 'z';
    first->MarkModified();
    TRecordPin added = t.DataFile().GetRecord(nullptr, t.DataFile().GetNextRecordNumber());
    added->MutableData()[9] = 1;
    added->MutableData()[10] = 'n';
    added->MarkModified();
  }
  TFixedTreeContext ctx;
  TPagePin page = t.IndexFile().AllocPage(ctx);
  page.Release();
  t.IndexFile().IncRecordCount();
  TBlockPin block = t.BlobFile().AllocBlock(nullptr);
  const std::array<std::uint8_t, 4> memo{'m', 'e', 'm', 'o'};
  t.BlobFile().WriteBlockData(*block, 0, 4, memo);
  block.Release();
  t.WriteBuffers(false, true, false, true, true);
}

class WriteOrderTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateQuiz(FTemp); }

  static void CreateQuiz(const TTempDir& where) {
    TDataSession maker;
    TDataDirectory& dir = maker.OpenDirectory("Quiz", where.Path());
    TDataTable& t = dir.CreateTable("Quiz", false, false, SampleDefinition(true));
    AppendRecords(t, InitialRecords);
    dir.ReleaseTable(t, false);
  }

  std::string File(const char* ext) const { return FTemp.File(std::string("Quiz") + ext); }

  static TView Before() { return {'a', InitialRecords, 0, 0, 0}; }
  static TView After() { return {'z', InitialRecords + 1, 1, 1, 1}; }

  TTempDir FTemp;
  THooksReset FReset;
};

// ---- killed writers ----

struct TKillCase {
  TWriteStep Step;
  bool Kill;             // false: the writer finishes
  TErrorCode Damage;     // what the survivor then reports
  bool Changed;          // without damage: the change is there (else nothing of it)
};

TEST_F(WriteOrderTest, AWriterKilledAtAnyStepLeavesTheWholeChangeOrReportedDamage) {
  const TKillCase cases[] = {
      {TWriteStep::Started, true, TARN_NONE, false},
      {TWriteStep::DataHeaderMarked, true, TARN_HEADERCORRUPT, false},
      {TWriteStep::IndexHeaderMarked, true, TARN_HEADERCORRUPT, false},
      {TWriteStep::BlobHeaderMarked, true, TARN_HEADERCORRUPT, false},
      {TWriteStep::RecordsWritten, true, TARN_HEADERCORRUPT, false},
      {TWriteStep::PagesWritten, true, TARN_HEADERCORRUPT, false},
      {TWriteStep::BlobsWritten, true, TARN_HEADERCORRUPT, false},
      {TWriteStep::DataMarkCleared, true, TARN_INDEXCORRUPT, false},
      {TWriteStep::IndexMarkCleared, true, TARN_MEMOCORRUPT, false},
      {TWriteStep::BlobMarkCleared, true, TARN_NONE, true},
      {TWriteStep::Started, false, TARN_NONE, true},
  };
  for (const TKillCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Step) * 10 + (c.Kill ? 1 : 0));
    TTempDir dir;
    CreateQuiz(dir);
    TChildProcess child([&](TChildChannel& ch) {
      TUser writer(dir.Path());
      if (ch.Wait() != 'g') return 1;
      if (c.Kill) {
        WriteOrderTesting::SetStepHook([&](TWriteStep step) {
          if (step == c.Step) ::kill(::getpid(), SIGKILL);
        });
      }
      ChangeAll(*writer.Table);
      return 0;
    });
    TUser survivor(dir.Path());
    {
      // The survivor caches record 1 and the headers before the write.
      TTableReadBracket read(*survivor.Table);
      ASSERT_EQ(ViewOf(*survivor.Table), Before());
    }
    child.Send('g');
    EXPECT_EQ(child.Join(), c.Kill ? -1 : 0);

    // Reads go on whatever happened, and show the damage.
    {
      TTableReadBracket read(*survivor.Table);
      EXPECT_NO_THROW(ViewOf(*survivor.Table));
      EXPECT_EQ(survivor.Table->Damage(), c.Damage);
    }
    // Taking the write lock either raises the damage or shows one whole state:
    // never the old view of a changed table.
    EXPECT_EQ(CodeOf([&] {
                TTableWriteBracket write(*survivor.Table);
                EXPECT_EQ(ViewOf(*survivor.Table), c.Changed ? After() : Before());
              }),
              c.Damage);
    EXPECT_FALSE(survivor.Table->Writing());
    EXPECT_EQ(CodeOf([&] { AppendRecords(*survivor.Table, 1); }), c.Damage);

    // A program opening the table now sees the same.
    if (c.Damage != TARN_NONE) {
      TUser late(dir.Path());
      EXPECT_EQ(late.Table->Damage(), c.Damage);
    }
    // The repair clears the marks; then everyone writes again.
    survivor.Table->ClearInterruptedWrite();
    EXPECT_EQ(survivor.Table->Damage(), TARN_NONE);
    for (const TMarkAt& m : Marks) EXPECT_EQ(ByteAt(dir.File(std::string("Quiz") + m.Ext), m.Offset), 0) << m.Ext;
    EXPECT_EQ(CodeOf([&] { AppendRecords(*survivor.Table, 1); }), TARN_NONE);
    TUser other(dir.Path());
    EXPECT_EQ(other.Table->Damage(), TARN_NONE);
    EXPECT_EQ(CodeOf([&] { TTableWriteBracket write(*other.Table); }), TARN_NONE);
  }
}

TEST_F(WriteOrderTest, AMarkOfAWriterStillAtWorkIsNotDamage) {
  TChildProcess child([&](TChildChannel& ch) {
    TUser writer(FTemp.Path());
    WriteOrderTesting::SetStepHook([&](TWriteStep step) {
      if (step != TWriteStep::PagesWritten) return;
      ch.Signal('m');  // every header marked, the records on disk
      ch.Wait();
    });
    ChangeAll(*writer.Table);
    ch.Signal('d');
    ch.Wait();
    return 0;
  });
  ASSERT_EQ(child.Next(), 'm');
  EXPECT_EQ(ByteAt(File(".DAT"), DataHeaderLayout::WriteInProgress), 1);
  // The open reads the marks, waits for the read lock (the writer holds the
  // write lock) and reads them again once the writer is done.
  std::thread resume([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    child.Send('c');
  });
  {
    TUser reader(FTemp.Path());
    EXPECT_EQ(reader.Table->Damage(), TARN_NONE);
    TTableWriteBracket write(*reader.Table);
    EXPECT_EQ(ViewOf(*reader.Table), After());
  }
  resume.join();
  EXPECT_EQ(child.Next(), 'd');
  child.Send('x');
  EXPECT_EQ(child.Join(), 0);
}

// ---- failing writes in this process ----

TEST_F(WriteOrderTest, AWriteThatFailsAtAnyCallLeavesItsWriterDamagedAndOthersWhole) {
  for (int failAt = 0;; ++failAt) {
    SCOPED_TRACE(failAt);
    TTempDir dir;
    CreateQuiz(dir);
    TUser writer(dir.Path());
    TUser other(dir.Path());
    {
      TTableReadBracket read(*other.Table);
      ASSERT_EQ(ViewOf(*other.Table), Before());
    }
    TFaultFileApi faults;
    TErrorCode failure = TARN_NONE;
    {
      TOsFileApiOverride use(faults);
      faults.Fail(TOsCall::PWrite, ENOSPC, failAt);
      failure = CodeOf([&] { ChangeAll(*writer.Table); });
    }
    if (faults.Calls(TOsCall::PWrite) <= failAt) {
      // Every write of the change passed: it is whole.
      EXPECT_EQ(failure, TARN_NONE);
      EXPECT_GE(failAt, 8);  // three marks, records, a page, a block, three clears
      TTableWriteBracket write(*other.Table);
      EXPECT_EQ(ViewOf(*other.Table), After());
      break;
    }
    EXPECT_NE(failure, TARN_NONE);
    // The writer no longer trusts the table, even where its first mark never
    // reached the disk: its caches hold part of the change.
    const TErrorCode own = writer.Table->Damage();
    EXPECT_TRUE(IsCorruption(own)) << own;
    EXPECT_EQ(CodeOf([&] { TTableWriteBracket write(*writer.Table); }), own);
    // The other session sees the damage, or a table the change never reached.
    const TErrorCode seen = CodeOf([&] {
      TTableWriteBracket write(*other.Table);
      EXPECT_EQ(ViewOf(*other.Table), Before());
    });
    EXPECT_TRUE(seen == TARN_NONE || IsCorruption(seen)) << seen;
    EXPECT_EQ(seen == TARN_NONE, failAt == 0);  // only the first mark never reached the disk
  }
}

// ---- marks in the files ----

TEST_F(WriteOrderTest, AMarkLeftInAFileIsReportedWithThatFilesCodeUntilRepaired) {
  const std::int32_t changeCountBefore = [&] {
    TUser u(FTemp.Path());
    return u.Table->DataFile().GetChangeCount();
  }();
  for (const bool exclusive : {false, true}) {
    for (const TMarkAt& m : Marks) {
      SCOPED_TRACE(std::string(m.Ext) + (exclusive ? " exclusive" : " shared"));
      PutByte(File(m.Ext), m.Offset, 1);
      TUser u(FTemp.Path(), {.Exclusive = exclusive});
      TDataTable& t = *u.Table;
      EXPECT_EQ(t.Damage(), m.Code);
      {
        TTableReadBracket read(t);
        EXPECT_EQ(ViewOf(t).FirstName, 'a');  // reads go on
      }
      EXPECT_EQ(CodeOf([&] { TTableWriteBracket write(t); }), m.Code);
      EXPECT_FALSE(t.Writing());
      // The buffers are not written either.
      TRecordPin pin = t.DataFile().GetRecord(nullptr, 1);
      pin->MarkModified();
      pin.Release();
      EXPECT_EQ(CodeOf([&] { t.WriteBuffers(); }), m.Code);
      EXPECT_EQ(ByteAt(File(m.Ext), m.Offset), 1);

      t.ClearInterruptedWrite();
      EXPECT_EQ(t.Damage(), TARN_NONE);
      EXPECT_EQ(ByteAt(File(m.Ext), m.Offset), 0);
      EXPECT_NO_THROW(AppendRecords(t, 1));
    }
  }
  // Each repair of the data file announced itself through the counter.
  TUser u(FTemp.Path());
  EXPECT_GT(u.Table->DataFile().GetChangeCount(), changeCountBefore + 2);
}

TEST_F(WriteOrderTest, TheFirstMarkedFileInDataIndexBlobOrderIsReported) {
  PutByte(File(".BLB"), BlobHeader::WriteInProgressAt, 1);
  PutByte(File(".IDX"), IndexHeaderLayout::WriteInProgress, 1);
  {
    TUser u(FTemp.Path());
    EXPECT_EQ(u.Table->Damage(), TARN_INDEXCORRUPT);
  }
  PutByte(File(".DAT"), DataHeaderLayout::WriteInProgress, 1);
  TUser u(FTemp.Path());
  EXPECT_EQ(u.Table->Damage(), TARN_HEADERCORRUPT);
  u.Table->ClearInterruptedWrite();
  for (const TMarkAt& m : Marks) EXPECT_EQ(ByteAt(File(m.Ext), m.Offset), 0) << m.Ext;
}

TEST_F(WriteOrderTest, TablesWithoutMarksButWithStoredDirtyFlagsOpenAndWriteNormally) {
  // Tables written before the marks hold zero in the reserved bytes, and the
  // stored dirty flags are often 1: neither is damage.
  PutByte(File(".DAT"), DataHeaderLayout::HeaderDirty, 1);
  PutByte(File(".IDX"), IndexHeaderLayout::HeaderDirty, 1);
  PutByte(File(".BLB"), BlobHeader::HeaderDirtyAt, 1);
  TUser u(FTemp.Path());
  EXPECT_EQ(u.Table->Damage(), TARN_NONE);
  ChangeAll(*u.Table);
  TTableReadBracket read(*u.Table);
  EXPECT_EQ(ViewOf(*u.Table), After());
}

// ---- the order itself ----

TEST_F(WriteOrderTest, StepsRunInOrderAndEachIsOnDiskWhenReported) {
  TUser u(FTemp.Path());
  std::vector<TWriteStep> steps;
  std::vector<std::array<std::uint8_t, 3>> marks;
  WriteOrderTesting::SetStepHook([&](TWriteStep step) {
    steps.push_back(step);
    std::array<std::uint8_t, 3> now{};
    for (std::size_t i = 0; i < 3; ++i) now[i] = ByteAt(File(Marks[i].Ext), Marks[i].Offset);
    marks.push_back(now);
  });
  ChangeAll(*u.Table);
  const std::vector<TWriteStep> expected = {
      TWriteStep::Started,         TWriteStep::DataHeaderMarked, TWriteStep::IndexHeaderMarked,
      TWriteStep::BlobHeaderMarked, TWriteStep::RecordsWritten,  TWriteStep::PagesWritten,
      TWriteStep::BlobsWritten,    TWriteStep::DataMarkCleared,  TWriteStep::IndexMarkCleared,
      TWriteStep::BlobMarkCleared};
  ASSERT_EQ(steps, expected);
  using M = std::array<std::uint8_t, 3>;
  const std::vector<M> expectedMarks = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 1, 1},
                                        {1, 1, 1}, {1, 1, 1}, {0, 1, 1}, {0, 0, 1}, {0, 0, 0}};
  EXPECT_EQ(marks, expectedMarks);
}

TEST_F(WriteOrderTest, OrderedAndUnorderedWritesLeaveTheSameBytes) {
  // The same change on two copies of the table, one in each order: the files
  // end up equal but for the time of the last header write.
  TTempDir second;
  CreateQuiz(second);
  for (const bool unordered : {false, true}) {
    WriteOrderTesting::SetUnorderedWrites(unordered);
    TUser u(unordered ? second.Path() : FTemp.Path());
    ChangeAll(*u.Table);
  }
  WriteOrderTesting::SetUnorderedWrites(false);
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    std::vector<std::uint8_t> ordered = ReadBytes(File(ext));
    std::vector<std::uint8_t> plain = ReadBytes(second.File(std::string("Quiz") + ext));
    if (std::string(ext) == ".DAT") {
      for (std::size_t i = DataHeaderLayout::LastUpdated; i < DataHeaderLayout::Description; ++i)
        ordered[i] = plain[i] = 0;
    }
    EXPECT_EQ(ordered, plain) << ext;
  }
}

TEST_F(WriteOrderTest, RecordsWrittenToMakeRoomAreMarkedFirstAndAnUnendedWriteIsDamage) {
  TDataSession session;
  session.SetMaxDataBufferCount(2);
  TDataDirectory& dir = session.OpenDirectory("Quiz", FTemp.Path());
  TDataTable& t = dir.OpenTable("Quiz", {});
  t.SetTableLockRetry(Quick);
  {
    TTableWriteBracket write(t);
    for (int i = 0; i < 4; ++i) {
      TRecordPin pin = t.DataFile().GetRecord(nullptr, t.DataFile().GetNextRecordNumber());
      pin->MarkModified();
    }
    // The cache made room by writing records: the header went first.
    EXPECT_TRUE(t.BufferWriteOpen());
    EXPECT_EQ(ByteAt(File(".DAT"), DataHeaderLayout::WriteInProgress), 1);
    EXPECT_EQ(t.Damage(), TARN_NONE);  // this write's own mark
    EXPECT_TRUE(t.CheckInvariants());
    t.WriteBuffers(false, true);
    EXPECT_FALSE(t.BufferWriteOpen());
    EXPECT_EQ(ByteAt(File(".DAT"), DataHeaderLayout::WriteInProgress), 0);
  }
  {
    TTableWriteBracket write(t);
    for (int i = 0; i < 4; ++i) {
      TRecordPin pin = t.DataFile().GetRecord(nullptr, t.DataFile().GetNextRecordNumber());
      pin->MarkModified();
    }
  }  // the write lock goes while the write is open
  EXPECT_EQ(t.Damage(), TARN_HEADERCORRUPT);
  t.ClearInterruptedWrite();
  EXPECT_EQ(t.Damage(), TARN_NONE);
  dir.ReleaseTable(t, false);
}

}  // namespace
}  // namespace tarn
