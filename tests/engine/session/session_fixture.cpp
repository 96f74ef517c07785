#include "session_fixture.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "engine/base/engine_error.h"
#include "engine/index/keys.h"
#include "engine/table/field_types.h"

namespace session_testing {

using namespace tarn;

TErrorCode CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return TARN_NONE;
}

TTableDefinition SampleDefinition(bool withBlob, bool encrypted, std::string password) {
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "Name", FieldType::String, 0, 20));
  def.Fields.push_back(MakeFieldDesc(2, "Order", FieldType::Int32));
  if (withBlob) def.Fields.push_back(MakeFieldDesc(3, "Memo", FieldType::Blob, FieldSubType::Memo));
  AssignFieldOffsets(def.Fields);
  def.Primary.FieldCount = 1;
  def.Primary.FieldNumbers[0] = 2;
  def.Primary.Unique = true;
  def.Primary.KeySize = static_cast<std::int16_t>(KeyFieldSize(FieldType::Int32, 0) + 1);
  def.Encrypted = encrypted;
  def.Password = std::move(password);
  def.Description = "sample";
  return def;
}

void AppendRecords(TDataTable& table, int count) {
  TDataFile& data = table.DataFile();
  for (int i = 0; i < count; ++i) {
    TRecordPin pin = data.GetRecord(nullptr, data.GetNextRecordNumber());
    pin->MutableData()[9] = 1;  // Name has a value
    pin->MutableData()[10] = static_cast<std::uint8_t>('a' + i % 26);
    pin->MarkModified();
  }
  table.WriteBuffers(false, true);
}

void TChildChannel::Signal(char c) { (void)!::write(FToParent, &c, 1); }

char TChildChannel::Wait() {
  char c = 0;
  if (::read(FFromParent, &c, 1) != 1) return 0;
  return c;
}

TChildProcess::TChildProcess(const std::function<int(TChildChannel&)>& body) {
  int up[2];
  int down[2];
  if (::pipe(up) != 0 || ::pipe(down) != 0) std::abort();
  FPid = ::fork();
  if (FPid == 0) {
    ::close(up[0]);
    ::close(down[1]);
    TChildChannel channel(up[1], down[0]);
    int status = 0;
    try {
      status = body(channel);
    } catch (const ETarnEngineError& e) {
      status = 100 + e.ErrorCode() % 100;
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

TChildProcess::~TChildProcess() {
  if (FPid > 0) {
    ::kill(FPid, SIGKILL);
    Join();
  }
  if (FFromChild >= 0) ::close(FFromChild);
  if (FToChild >= 0) ::close(FToChild);
}

char TChildProcess::Next() {
  pollfd p{FFromChild, POLLIN, 0};
  if (::poll(&p, 1, 20000) <= 0) return 0;
  char c = 0;
  if (::read(FFromChild, &c, 1) != 1) return 0;
  return c;
}

void TChildProcess::Send(char c) { (void)!::write(FToChild, &c, 1); }

int TChildProcess::Join() {
  if (FPid <= 0) return -1;
  int status = 0;
  const pid_t pid = FPid;
  FPid = -1;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace session_testing
