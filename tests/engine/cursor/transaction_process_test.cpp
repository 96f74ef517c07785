// Transactions between programs: forked processes, each with a session of
// its own, read and write the tables of a transaction. Another program sees
// the committed state only, cannot write while the transaction runs, and a
// writer killed in the middle of its write (or of a commit) leaves either the
// exact count without its increment or damage that every other program
// reports.
//
// Forks happen while this process has no table file open.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/files/child_process.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/write_order.h"
#include "engine/table/record_layout.h"
#include "modify_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace modify_testing;
using files_test::TChildProcess;

constexpr TTableLockRetry Quick{.Attempts = 3, .PauseMs = 1};

TErrorCode CodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return TARN_NONE;
}

bool IsDamage(TErrorCode code) {
  return code == TARN_HEADERCORRUPT || code == TARN_INDEXCORRUPT || code == TARN_MEMOCORRUPT;
}

// One program's session with a cursor on "Notes".
struct TProgram {
  explicit TProgram(const std::string& path, bool strict = false) {
    // Strict: every operation looks for other programs' changes (otherwise
    // only a read from disk does).
    Session.SetStrictChangeDetection(strict);
    Session.SetLockRetryCount(2);
    Session.SetLockWaitTime(2);
    Dir = &Session.OpenDirectory("Db", path);
    Cursor = std::make_unique<TDataCursor>(*Dir);
    Cursor->SetTableName("Notes");
    Cursor->OpenCursor();
    Buffer.resize(Cursor->RecordSize());
  }
  std::int32_t Count() const { return static_cast<std::int32_t>(GetLE32(Cursor->GetField(3, Buffer).Bytes, 0)); }
  void SetCount(std::int32_t v) {
    std::array<std::uint8_t, 4> x{};
    PutLE32(x, 0, static_cast<std::uint32_t>(v));
    Cursor->PutField(3, Buffer, std::span<const std::uint8_t>(x));
  }
  // Record count and the sum of the Count fields, as the cursor sees them.
  std::pair<std::int32_t, std::int32_t> Totals() {
    std::int32_t records = 0, sum = 0;
    Cursor->SetToBegin();
    while (Cursor->GetNextRecord(Buffer) == TARN_NONE) {
      ++records;
      sum += Count();
    }
    return {records, sum};
  }
  void Insert(const TNote& note) {
    Cursor->InitRecord(Buffer);
    PutNote(*Cursor, Buffer, note);
    Cursor->InsertRecord(Buffer, true);
  }

  TDataSession Session;
  TDataDirectory* Dir = nullptr;
  std::unique_ptr<TDataCursor> Cursor;
  std::vector<std::uint8_t> Buffer;
};

void CreateNotes(const std::string& path, const std::vector<TNote>& notes) {
  TDataSession session;
  TDataDirectory& dir = session.OpenDirectory("Setup", path);
  TDataTable& t = dir.CreateTable("Notes", false, false, NotesDefinition());
  dir.ReleaseTable(t, false);
  TDataCursor c(dir);
  c.SetTableName("Notes");
  c.OpenCursor();
  std::vector<std::uint8_t> b(c.RecordSize());
  for (const TNote& n : notes) {
    c.InitRecord(b);
    PutNote(c, b, n);
    c.InsertRecord(b, true);
  }
}

TEST(TransactionProcessTest, AnotherProgramSeesTheCommittedStateOnlyAndCannotWriteMeanwhile) {
  testing_support::TTempDir temp;
  CreateNotes(temp.Path(), {{10, "a", 1, "body a"}, {20, "b", 2, ""}, {30, "c", 3, "body c"}});
  // The other program answers 'r' with its record count and Count sum, 'w'
  // with the code of an insert it tries (as two bytes, low first).
  TChildProcess other([&](TChildProcess& self) {
    TProgram p(temp.Path(), true);
    p.Cursor->Table().SetTableLockRetry(Quick);
    for (int id = 1000;; ++id) {
      const int command = self.Receive();
      if (command == 'r') {
        const auto [records, sum] = p.Totals();
        self.Send(static_cast<std::uint8_t>(records));
        self.Send(static_cast<std::uint8_t>(sum));
      } else if (command == 'w') {
        const TErrorCode code = CodeOf([&] { p.Insert({id, "other " + std::to_string(id), 0, ""}); });
        self.Send(static_cast<std::uint8_t>(code & 0xFF));
        self.Send(static_cast<std::uint8_t>(code >> 8));
      } else {
        return 0;
      }
    }
  });
  auto ask = [&](char command) {
    other.Send(static_cast<std::uint8_t>(command));
    const int low = other.Receive();
    const int high = other.Receive();
    return std::pair<int, int>{low, high};
  };
  ASSERT_EQ(ask('r'), (std::pair<int, int>{3, 6}));

  TProgram here(temp.Path());
  TDataCursor second(*here.Dir);
  second.SetTableName("Notes");
  second.OpenCursor();
  here.Dir->StartTransaction();
  here.Insert({40, "d", 4, "body d"});
  here.Insert({50, "e", 5, ""});
  here.Cursor->SetToBegin();
  ASSERT_EQ(here.Cursor->GetNextRecord(here.Buffer), TARN_NONE);
  ASSERT_EQ(here.Cursor->GetCurrentRecord(here.Buffer, true), TARN_NONE);
  here.SetCount(11);
  here.Cursor->ModifyRecord(here.Buffer, true, true);

  // This session sees the changes at once, the other program none of them;
  // its writes wait for the transaction and fail.
  EXPECT_EQ(second.GetRecordCount(), 5);
  EXPECT_EQ(ask('r'), (std::pair<int, int>{3, 6}));
  const auto refused = ask('w');
  EXPECT_EQ(refused.first | (refused.second << 8), TARN_LOCKTIMEOUT);

  here.Dir->Commit(true, false);
  {
    TProgram third(temp.Path());
    EXPECT_EQ(third.Totals(), (std::pair<std::int32_t, std::int32_t>{5, 25}));
  }
  EXPECT_EQ(ask('r'), (std::pair<int, int>{5, 11 + 2 + 3 + 4 + 5}));
  const auto accepted = ask('w');
  EXPECT_EQ(accepted.first | (accepted.second << 8), TARN_NONE);
  second.ForceRefresh();
  EXPECT_EQ(second.GetRecordCount(), 6);
  other.Send('q');
  EXPECT_EQ(other.Wait(), 0);
}

// ---- killed writers ----

constexpr int Writers = 4;
constexpr int Increments = 150;
constexpr int KilledAt = 3;  // the victim dies in its third increment

// Exit codes of the writers.
constexpr int Finished = 0;
constexpr int StoppedByDamage = 10;

struct TKillCase {
  TWriteStep Step;
  bool InCommit;  // the victim's increments run in transactions
  bool Damage;    // the kill leaves marks
};

// Pessimistic increments of the counter note (Id 1). The victim arms the kill
// before its KilledAt-th increment.
int RunWriter(const std::string& path, TChildProcess& self, const TKillCase* kill) {
  TProgram p(path);
  if (self.Receive() != 'g') return 1;
  for (int i = 1; i <= Increments;) {
    if (kill != nullptr && i == KilledAt) {
      const TWriteStep step = kill->Step;
      WriteOrderTesting::SetStepHook([step](TWriteStep s) {
        if (s == step) ::kill(::getpid(), SIGKILL);
      });
    }
    p.Cursor->SetToBegin();
    if (p.Cursor->GetNextRecord(p.Buffer) != TARN_NONE) return 2;
    TErrorCode code = CodeOf([&] { (void)p.Cursor->GetCurrentRecord(p.Buffer, true); });
    if (code == TARN_RECLOCKFAILED || code == TARN_KEYORRECDELETED) continue;  // busy
    if (code != TARN_NONE) return IsDamage(code) ? StoppedByDamage : 3;
    p.SetCount(p.Count() + 1);
    code = CodeOf([&] {
      const bool own = kill != nullptr && kill->InCommit;
      if (own) p.Dir->StartTransaction();
      try {
        p.Cursor->ModifyRecord(p.Buffer, true, false);
        if (own) p.Dir->Commit(true, false);
      } catch (...) {
        if (own) p.Dir->Rollback();
        throw;
      }
    });
    if (code == TARN_RECLOCKFAILED) continue;
    if (code != TARN_NONE) return IsDamage(code) ? StoppedByDamage : 4;
    ++i;
  }
  return Finished;
}

TEST(TransactionProcessTest, AWriterKilledAtAnyStepLosesOnlyItsIncrementOrLeavesReportedDamage) {
  const TKillCase cases[] = {
      {TWriteStep::Started, false, false},
      {TWriteStep::RecordsWritten, false, true},
      {TWriteStep::PagesWritten, false, true},
      {TWriteStep::IndexHeaderMarked, false, true},  // after the headers
      {TWriteStep::DataMarkCleared, false, true},
      {TWriteStep::Started, true, false},
      {TWriteStep::RecordsWritten, true, true},  // inside a commit
      {TWriteStep::PagesWritten, true, true},
  };
  for (const TKillCase& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.Step)) + (c.InCommit ? " in commit" : ""));
    testing_support::TTempDir temp;
    const std::string path = temp.Path();
    CreateNotes(path, {{1, "counter", 0, ""}, {2, "other", 5, "a body"}});
    std::vector<std::unique_ptr<TChildProcess>> writers;
    for (int w = 0; w < Writers; ++w) {
      const TKillCase* kill = w == 0 ? &c : nullptr;
      writers.push_back(std::make_unique<TChildProcess>(
          [path, kill](TChildProcess& self) { return RunWriter(path, self, kill); }));
    }
    for (auto& w : writers) w->Send('g');
    EXPECT_EQ(writers[0]->Wait(), -1) << "the victim was not killed";
    int stopped = 0;
    for (int w = 1; w < Writers; ++w) {
      const int result = writers[static_cast<std::size_t>(w)]->Wait();
      EXPECT_TRUE(result == Finished || (c.Damage && result == StoppedByDamage)) << "writer " << w << ": " << result;
      if (result == StoppedByDamage) ++stopped;
    }

    TDataSession session;
    TDataDirectory& dir = session.OpenDirectory("Check", path);
    TDataTable& t = dir.OpenTable("Notes", {});
    const TErrorCode damage = t.Damage();
    dir.ReleaseTable(t, false);
    EXPECT_EQ(damage != TARN_NONE, c.Damage);
    if (damage != TARN_NONE) continue;
    // A table that reports clean holds the exact count and agrees with its
    // indexes.
    EXPECT_EQ(stopped, 0);
    TDataCursor cursor(dir);
    cursor.SetTableName("Notes");
    cursor.OpenCursor();
    TModel model;
    model[1] = {{1, "counter", (Writers - 1) * Increments + KilledAt - 1, ""}, 1};
    model[2] = {{2, "other", 5, "a body"}, 2};
    CheckTable(cursor, model);
  }
}

}  // namespace
