// Record locks between programs: forked processes, each with its own session,
// edit one record of a shared table. Only a second process shows what another
// program sees (cursors of one process share the process-wide lock table).

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "modify_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace modify_testing;

// A pipe pair to step two processes through a script one byte at a time.
struct TChannel {
  int Up[2]{-1, -1};    // child -> parent
  int Down[2]{-1, -1};  // parent -> child
  TChannel() {
    if (::pipe(Up) != 0 || ::pipe(Down) != 0) std::abort();
  }
  ~TChannel() {
    for (int fd : {Up[0], Up[1], Down[0], Down[1]}) ::close(fd);
  }
  static char Read(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 30000) <= 0) return 0;
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : 0;
  }
  static void Write(int fd, char c) { (void)!::write(fd, &c, 1); }
};

// Runs body in a child process; its result is the exit status (99 for an
// exception that escaped).
pid_t Spawn(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int status = 99;
    try {
      status = body();
    } catch (...) {
    }
    ::_exit(status);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TModifySharingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TDataSession session;
    TDataDirectory& dir = session.OpenDirectory("Setup", FTemp.Path());
    TDataTable& t = dir.CreateTable("Notes", false, false, NotesDefinition());
    dir.ReleaseTable(t, false);
    TDataCursor c(dir);
    c.SetTableName("Notes");
    c.OpenCursor();
    std::vector<std::uint8_t> b(c.RecordSize());
    c.InitRecord(b);
    PutNote(c, b, {1, "counter", 0, ""});
    c.InsertRecord(b, true);
  }

  // A session of this process, set up for short record-lock retries.
  struct TSide {
    TDataSession Session;
    TDataDirectory* Dir = nullptr;
    std::unique_ptr<TDataCursor> Cursor;
    std::vector<std::uint8_t> Buffer;
    TSide(const std::string& path, TLockProtocol protocol) {
      Session.SetLockProtocol(protocol);
      Session.SetLockRetryCount(2);
      Session.SetLockWaitTime(5);
      Dir = &Session.OpenDirectory("Side", path);
      Cursor = std::make_unique<TDataCursor>(*Dir);
      Cursor->SetTableName("Notes");
      Cursor->OpenCursor();
      Buffer.resize(Cursor->RecordSize());
      if (Cursor->GetNextRecord(Buffer) != TARN_NONE) throw std::runtime_error("no record");
    }
    std::int32_t Count() const { return static_cast<std::int32_t>(GetLE32(Cursor->GetField(3, Buffer).Bytes, 0)); }
    void SetCount(std::int32_t v) {
      std::array<std::uint8_t, 4> x{};
      PutLE32(x, 0, static_cast<std::uint32_t>(v));
      Cursor->PutField(3, Buffer, std::span<const std::uint8_t>(x));
    }
  };

  static TErrorCode CodeOf(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const ETarnEngineError& e) {
      return e.ErrorCode();
    }
    return TARN_NONE;
  }

  testing_support::TTempDir FTemp;
};

TEST_F(TModifySharingTest, PessimisticEditOfALockedRecordFailsInTheOtherProgram) {
  TChannel ch;
  const std::string path = FTemp.Path();
  const pid_t child = Spawn([&] {
    TSide side(path, TLockProtocol::Pessimistic);
    TChannel::Read(ch.Down[0]);  // the parent holds the edit lock now
    const TErrorCode code = CodeOf([&] { (void)side.Cursor->GetCurrentRecord(side.Buffer, true); });
    TChannel::Write(ch.Up[1], 'x');
    return code == TARN_RECLOCKFAILED ? 0 : 1;
  });
  TSide side(path, TLockProtocol::Pessimistic);
  ASSERT_EQ(side.Cursor->GetCurrentRecord(side.Buffer, true), TARN_NONE);
  TChannel::Write(ch.Down[1], 'g');
  EXPECT_EQ(TChannel::Read(ch.Up[0]), 'x');
  side.SetCount(7);
  side.Cursor->ModifyRecord(side.Buffer, true, true);
  EXPECT_EQ(Wait(child), 0) << "the other program's edit did not fail with 10258";
}

TEST_F(TModifySharingTest, OptimisticPostsGiveOneWinner) {
  TChannel ch;
  const std::string path = FTemp.Path();
  const pid_t child = Spawn([&] {
    TSide side(path, TLockProtocol::Optimistic);
    if (side.Cursor->GetCurrentRecord(side.Buffer, true) != TARN_NONE) return 2;
    TChannel::Write(ch.Up[1], 'e');  // editing
    TChannel::Read(ch.Down[0]);      // the parent has posted
    side.SetCount(200);
    const TErrorCode code = CodeOf([&] { side.Cursor->ModifyRecord(side.Buffer, true, true); });
    return code == TARN_KEYORRECDELETED ? 0 : 1;
  });
  TSide side(path, TLockProtocol::Optimistic);
  ASSERT_EQ(side.Cursor->GetCurrentRecord(side.Buffer, true), TARN_NONE);
  EXPECT_EQ(TChannel::Read(ch.Up[0]), 'e');
  side.SetCount(100);
  side.Cursor->ModifyRecord(side.Buffer, true, true);
  TChannel::Write(ch.Down[1], 'p');
  EXPECT_EQ(Wait(child), 0) << "the second post did not fail with 8708";
  ASSERT_EQ(side.Cursor->GetCurrentRecord(side.Buffer), TARN_NONE);
  EXPECT_EQ(side.Count(), 100);
}

TEST_F(TModifySharingTest, FourProgramsIncrementingUnderPessimisticLocksLoseNoUpdate) {
  constexpr int Programs = 4;
  constexpr int Increments = 1000;
  const std::string path = FTemp.Path();
  std::vector<pid_t> children;
  for (int p = 0; p < Programs; ++p) {
    children.push_back(Spawn([&] {
      TSide side(path, TLockProtocol::Pessimistic);
      for (int i = 0; i < Increments;) {
        if (side.Cursor->GetCurrentRecord(side.Buffer) != TARN_NONE) return 2;
        const TErrorCode code = CodeOf([&] { (void)side.Cursor->GetCurrentRecord(side.Buffer, true); });
        if (code == TARN_RECLOCKFAILED || code == TARN_KEYORRECDELETED) continue;  // busy: try again
        if (code != TARN_NONE) return 3;
        side.SetCount(side.Count() + 1);
        side.Cursor->ModifyRecord(side.Buffer, true, false);
        ++i;
      }
      return 0;
    }));
  }
  for (pid_t c : children) EXPECT_EQ(Wait(c), 0);
  TSide side(path, TLockProtocol::Pessimistic);
  EXPECT_EQ(side.Count(), Programs * Increments);
}

}  // namespace
