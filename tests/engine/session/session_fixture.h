#pragma once
// Shared pieces of the session tests: a small table definition, a fake cursor,
// a fixture with a session and one directory, and a forked child process that
// talks to the test through pipes.

#include <sys/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "engine/base/error_codes.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/data_table.h"
#include "engine/session/table_cursor.h"
#include "support/temp_dir.h"

namespace session_testing {

// The engine code action raises (TARN_NONE when it returns normally).
tarn::TErrorCode CodeOf(const std::function<void()>& action);

// A session with the directory "Quiz" opened on a fresh temporary folder.
class TDirectoryFixture : public ::testing::Test {
 protected:
  testing_support::TTempDir FTemp;
  tarn::TDataSession FSession;
  tarn::TDataDirectory& FDir = FSession.OpenDirectory("Quiz", FTemp.Path());
};

// Fields "Name" (string 20), "Order" (32-bit integer, primary key) and,
// withBlob, "Memo" (blob).
tarn::TTableDefinition SampleDefinition(bool withBlob = false, bool encrypted = false,
                                        std::string password = {});

// Appends count records with Order = 1.. through the data file and writes the
// buffers. Requires: the table is open for writing.
void AppendRecords(tarn::TDataTable& table, int count);

// A cursor whose password callback runs Ask (declines when unset).
class TFakeCursor : public tarn::TTableCursor {
 public:
  bool IsInternalCursor() const override { return Internal; }
  bool CountsAsSharer() const override { return Sharer; }
  bool RequestPassword() override {
    ++PasswordRequests;
    return Ask ? Ask() : false;
  }
  bool Internal = false;
  bool Sharer = true;
  int PasswordRequests = 0;
  std::function<bool()> Ask;
};

// The child's side of the pipes.
class TChildChannel {
 public:
  TChildChannel(int toParent, int fromParent) : FToParent(toParent), FFromParent(fromParent) {}
  void Signal(char c);
  // The next byte from the parent (0 when the parent is gone).
  char Wait();

 private:
  int FToParent;
  int FFromParent;
};

// Runs body in a forked child process. The body's result is the child's exit
// status; an exception escaping it exits with 100 + (code % 100) for engine
// errors, 99 otherwise. Fork only while this process has no table file open:
// the child must open its own descriptors (locks are per open file).
class TChildProcess {
 public:
  explicit TChildProcess(const std::function<int(TChildChannel&)>& body);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // The next byte from the child; 0 after 20 s or when the child is gone.
  char Next();
  void Send(char c);
  // Waits for the child and returns its exit status (-1 when it did not exit
  // normally).
  int Join();

 private:
  pid_t FPid = -1;
  int FFromChild = -1;
  int FToChild = -1;
};

}  // namespace session_testing
