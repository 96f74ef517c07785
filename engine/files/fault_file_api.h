#pragma once
// A TOsFileApi for tests that fails chosen calls.
//
// Every call is passed to the POSIX implementation unless a fault is armed for
// its kind: then the call is not made, errno is set to the fault's value and
// -1 is returned. A fault can skip a number of calls first and can fire once
// or on every later call. Calls whose path or descriptor does not match an
// optional path filter are passed through untouched.
//
//   TFaultFileApi faults;
//   TOsFileApiOverride use(faults);
//   faults.Fail(TOsCall::Open, EACCES);          // the next open fails
//   faults.Fail(TOsCall::PWrite, ENOSPC, 2, true);  // every write after two
//
// Threads: one internal mutex guards the armed faults and the call counters.

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/files/os_file_api.h"

namespace tarn {

enum class TOsCall : int {
  Open,
  Close,
  PRead,
  PWrite,
  FTruncate,
  FDataSync,
  Flock,
  OfdSetLock,
  FStat,
  Stat,
  Rename,
  Unlink,
  ListDirectory,
  Count_,  // number of kinds; not a call
};

class TFaultFileApi : public TOsFileApi {
 public:
  // Arms a fault for calls of one kind: after `skip` calls pass, the next call
  // (every later call when `always`) fails with errNo. Replaces an armed fault
  // of the same kind.
  void Fail(TOsCall call, int errNo, int skip = 0, bool always = false);
  // Restricts Open, Stat, Rename, Unlink and ListDirectory faults to paths
  // containing `fragment` (empty: every path). Descriptor calls are not
  // filtered.
  void SetPathFilter(std::string fragment);
  // Disarms one kind / every kind.
  void Clear(TOsCall call);
  void ClearAll();
  // Calls of a kind seen so far, failed ones included.
  std::int64_t Calls(TOsCall call) const;

  int Open(const std::string& path, int flags, mode_t mode) override;
  int Close(int fd) override;
  ssize_t PRead(int fd, void* buffer, std::size_t count, off_t offset) override;
  ssize_t PWrite(int fd, const void* buffer, std::size_t count, off_t offset) override;
  int FTruncate(int fd, off_t length) override;
  int FDataSync(int fd) override;
  int Flock(int fd, int operation) override;
  int OfdSetLock(int fd, short type, off_t offset, off_t length) override;
  int FStat(int fd, struct stat* info) override;
  int Stat(const std::string& path, struct stat* info) override;
  int Rename(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int ListDirectory(const std::string& path, std::vector<std::string>& names) override;

 private:
  struct TFault {
    bool Armed = false;
    int ErrNo = 0;
    int Skip = 0;
    bool Always = false;
  };
  // Counts the call and decides whether it fails; sets errno when it does.
  bool ShouldFail(TOsCall call, const std::string* path);

  mutable std::mutex FMutex;
  std::array<TFault, static_cast<std::size_t>(TOsCall::Count_)> FFaults{};
  std::array<std::int64_t, static_cast<std::size_t>(TOsCall::Count_)> FCalls{};
  std::string FPathFilter;
};

}  // namespace tarn
