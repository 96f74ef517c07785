// Two programs on one table: a forked child appends and deletes records
// through its own session while this process navigates. The navigating
// cursor sees every change at its next operation, stays on its record (or
// on its crack), and a scan that started before the changes returns no
// record twice and skips none that lived throughout.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <set>

#include "cursor_fixture.h"
#include "engine/cursor/data_cursor.h"

namespace tarn {
namespace {

using cursor_testing::ReadRow;
using cursor_testing::TRow;

// A forked child that obeys one-byte commands and answers each with one byte.
class TWriterChild {
 public:
  explicit TWriterChild(const std::function<char(char, int, int)>& serve) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) std::abort();
    FPid = ::fork();
    if (FPid == 0) {
      ::close(up[0]);
      ::close(down[1]);
      int status = 0;
      try {
        for (;;) {
          char c = 0;
          if (::read(down[0], &c, 1) != 1 || c == 'q') break;
          const char reply = serve(c, down[0], up[1]);
          (void)!::write(up[1], &reply, 1);
        }
      } catch (...) {
        status = 99;
      }
      ::_exit(status);
    }
    ::close(up[1]);
    ::close(down[0]);
    FFromChild = up[0];
    FToChild = down[1];
  }
  ~TWriterChild() {
    if (FPid > 0) {
      Send('q');
      int status = 0;
      ::waitpid(FPid, &status, 0);
    }
    ::close(FFromChild);
    ::close(FToChild);
  }
  // Sends a command with an argument byte and waits for the answer.
  char Do(char command, std::uint8_t argument = 0) {
    Send(command);
    Send(static_cast<char>(argument));
    pollfd p{FFromChild, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) return 0;
    char c = 0;
    return ::read(FFromChild, &c, 1) == 1 ? c : 0;
  }

 private:
  void Send(char c) { (void)!::write(FToChild, &c, 1); }
  pid_t FPid = -1;
  int FFromChild = -1;
  int FToChild = -1;
};

class CursorSharingTest : public cursor_testing::TCursorFixture {
 protected:
  static constexpr int Initial = 120;

  void SetUp() override {
    CreateQuiz();
    std::vector<TRow> rows;
    for (int i = 1; i <= Initial; ++i)
      rows.push_back({"n" + std::to_string(i), i, static_cast<std::int16_t>(i % 7), "t"});
    Fill(rows);  // record number i holds Num i
    const std::string path = FTemp.Path();
    // The child: its own session, directory and table; 'A' appends argument
    // rows (Num from 1000 on), 'D' deletes record number argument.
    FChild = std::make_unique<TWriterChild>([path](char command, int in, int) -> char {
      static TDataSession* session = nullptr;
      static TDataTable* table = nullptr;
      static std::int32_t nextNum = 1000;
      if (session == nullptr) {
        session = new TDataSession;
        table = &session->OpenDirectory("Quiz", path).OpenTable("Quiz", {});
      }
      char argument = 0;
      if (::read(in, &argument, 1) != 1) return 'x';
      const auto n = static_cast<std::uint8_t>(argument);
      cursor_testing::TTableWriter writer(*table);
      if (command == 'A') {
        std::vector<TRow> rows;
        for (int i = 0; i < n; ++i) rows.push_back({"new", nextNum++, 0, "u"});
        writer.AppendAll(rows);
      } else if (command == 'D') {
        writer.Delete(n);
      }
      return 'k';
    });
    FSession.SetStrictChangeDetection(true);
  }

  std::int32_t Num(TDataCursor& c) { return ReadRow(c, c.CurrentRecord()).Num; }

  std::unique_ptr<TWriterChild> FChild;
};

TEST_F(CursorSharingTest, AScanSeesAppendsAndDeletesWithoutRepeatsOrGaps) {
  std::set<std::int32_t> deleted;  // over both rounds
  std::int64_t appended = 0;
  for (bool unordered : {false, true}) {
    SCOPED_TRACE(unordered ? "natural order" : "primary index");
    auto c = OpenQuiz(unordered);
    const std::set<std::int32_t> goneBefore = deleted;
    std::vector<std::int32_t> seen;
    std::vector<std::int32_t> seenRecs;
    std::vector<std::uint8_t> buf(c->RecordSize());
    c->SetToBegin();
    int step = 0;
    while (c->GetNextRecord(buf) == TARN_NONE) {
      const std::int32_t num = ReadRow(*c, buf).Num;
      seen.push_back(num);
      seenRecs.push_back(c->CurrentRecordNo());
      ++step;
      if (num >= 1000) continue;
      if (step % 10 == 3 && num + 2 <= Initial && deleted.count(num + 2) == 0) {
        // A record ahead of the scan goes.
        ASSERT_EQ(FChild->Do('D', static_cast<std::uint8_t>(num + 2)), 'k');
        deleted.insert(num + 2);
        ASSERT_EQ(c->GetCurrentRecord(buf), TARN_NONE);
        EXPECT_EQ(ReadRow(*c, buf).Num, num);  // still on its record
      } else if (step % 10 == 6 && num > 3 && deleted.count(num - 3) == 0) {
        // A record behind the scan goes.
        ASSERT_EQ(FChild->Do('D', static_cast<std::uint8_t>(num - 3)), 'k');
        deleted.insert(num - 3);
      } else if (step % 10 == 8) {
        // The current record goes: the cursor stands before the next one.
        ASSERT_EQ(FChild->Do('D', static_cast<std::uint8_t>(num)), 'k');
        deleted.insert(num);
      } else if (step % 25 == 0) {
        ASSERT_EQ(FChild->Do('A', 3), 'k');
        appended += 3;
      }
    }
    // Strictly increasing: nothing twice; every record that lived
    // throughout came by, and so did the ones appended at the end.
    // (In natural order new records may reuse free slots behind the scan,
    // so there the record numbers ascend instead.)
    if (!unordered) {
      for (std::size_t i = 1; i < seen.size(); ++i) ASSERT_LT(seen[i - 1], seen[i]);
    } else {
      for (std::size_t i = 1; i < seenRecs.size(); ++i) ASSERT_LT(seenRecs[i - 1], seenRecs[i]);
    }
    const std::set<std::int32_t> got(seen.begin(), seen.end());
    for (std::int32_t n = 1; n <= Initial; ++n) {
      if (deleted.count(n) == 0) {
        EXPECT_EQ(got.count(n), 1u) << n;
      }
      if (goneBefore.count(n) != 0) {
        EXPECT_EQ(got.count(n), 0u) << n;
      }
    }
    const auto newSeen = static_cast<std::int64_t>(
        std::count_if(got.begin(), got.end(), [](std::int32_t n) { return n >= 1000; }));
    if (unordered) {
      EXPECT_LE(newSeen, appended);
    } else {
      EXPECT_EQ(newSeen, appended);
    }
    EXPECT_EQ(c->GetRecordCount(), Initial - static_cast<std::int64_t>(deleted.size()) + appended);
  }
}

TEST_F(CursorSharingTest, CracksAndRecordsHoldAcrossOtherProgramsChanges) {
  auto c = OpenQuiz();
  // The end crack stays the end crack when records are appended.
  c->SetToEnd();
  ASSERT_EQ(FChild->Do('A', 2), 'k');
  EXPECT_EQ(c->GetRecordCount(), Initial + 2);
  EXPECT_TRUE(c->AtEOF());
  EXPECT_EQ(c->GetNextRecord(), TARN_EOF);
  ASSERT_EQ(c->GetPriorRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 1001);
  // The beginning crack stays when the first record goes.
  c->SetToBegin();
  ASSERT_EQ(FChild->Do('D', 1), 'k');
  EXPECT_EQ(c->GetRecordCount(), Initial + 1);
  EXPECT_TRUE(c->AtBOF());
  ASSERT_EQ(c->GetNextRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 2);
  // A record in the middle: found again by its key after the keys around it
  // changed; its sequence number follows.
  ASSERT_TRUE(c->SetToSeqNo(50));
  const std::int32_t num = Num(*c);
  ASSERT_EQ(FChild->Do('D', 10), 'k');
  ASSERT_EQ(FChild->Do('D', 11), 'k');
  EXPECT_EQ(c->GetSeqNo(), 48);
  EXPECT_EQ(Num(*c), num);
  // A range counts what lies in it now: "n7", "n70".."n79" and "n8".
  c->SwitchToIndex("ByName");
  c->SetRange(cursor_testing::RecordImage(c->Table(), {"n7", 0, 0, ""}), 1,
              cursor_testing::RecordImage(c->Table(), {"n8", 0, 0, ""}), 1, false);
  EXPECT_EQ(c->GetRecordCount(), 12);
  ASSERT_EQ(FChild->Do('D', 7), 'k');
  EXPECT_EQ(c->GetRecordCount(), 11);
  c->SetToBegin();
  ASSERT_EQ(c->GetNextRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 70);
}

TEST_F(CursorSharingTest, WithoutStrictDetectionARefreshShowsTheChange) {
  FSession.SetStrictChangeDetection(false);
  auto c = OpenQuiz();
  ASSERT_TRUE(c->SetToSeqNo(5));
  ASSERT_EQ(FChild->Do('A', 4), 'k');
  c->ForceRefresh();
  EXPECT_EQ(c->GetRecordCount(), Initial + 4);
  EXPECT_EQ(Num(*c), 5);
  // A scan to the end reads from disk and finds the new records.
  std::vector<std::uint8_t> buf(c->RecordSize());
  std::int32_t last = 0;
  while (c->GetNextRecord(buf) == TARN_NONE) last = ReadRow(*c, buf).Num;
  EXPECT_EQ(last, 1003);
}

TEST_F(CursorSharingTest, WithoutStrictDetectionTheFirstReadFromDiskSeesTheChange) {
  FSession.SetStrictChangeDetection(false);
  auto c = OpenQuiz();
  ASSERT_TRUE(c->SetToSeqNo(5));
  ASSERT_EQ(FChild->Do('D', 5), 'k');
  ASSERT_EQ(FChild->Do('A', 4), 'k');
  // Everything needed is cached: the change is not seen yet.
  EXPECT_EQ(c->GetRecordCount(), Initial);
  ASSERT_EQ(c->GetCurrentRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 5);
  // The next read from disk voids itself, the position is re-found and the
  // move runs again: the record after the deleted one comes next.
  c->Table().DiscardBuffers(false, false);
  ASSERT_EQ(c->GetNextRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 6);
  EXPECT_EQ(c->GetRecordCount(), Initial - 1 + 4);
  EXPECT_EQ(c->GetSeqNo(), 5);
  EXPECT_FALSE(c->Table().Reading());  // the read lock of the check ended with the operation
}

}  // namespace
}  // namespace tarn
