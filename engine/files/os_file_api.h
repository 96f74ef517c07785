#pragma once
// The operating-system calls of the file layer, behind one interface.
//
// engine/files is the only code in the engine that calls open, pread, pwrite,
// ftruncate, fdatasync, flock and fcntl, and it calls them only through
// TOsFileApi. The process uses TPosixFileApi (posix_file_api.h) unless a test
// installs another implementation, usually TFaultFileApi (fault_file_api.h),
// which fails chosen calls with chosen errno values. Tests run as root, so
// access-denied and similar failures can only be produced this way.
//
// Every call keeps the POSIX contract: on failure it returns -1 and leaves the
// reason in errno; on success errno is unspecified.
//
// Threads: the implementations are stateless towards the caller (the fault
// injector has its own mutex), so any thread may call them. Installing another
// implementation (SetOsFileApi, TOsFileApiOverride) is for tests only and must
// happen while no other thread uses the file layer.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarn {

class TOsFileApi {
 public:
  virtual ~TOsFileApi() = default;

  // open(2). The layer always adds O_CLOEXEC.
  virtual int Open(const std::string& path, int flags, mode_t mode) = 0;
  // close(2). Never retried: the descriptor is gone whatever the result.
  virtual int Close(int fd) = 0;
  // pread(2) / pwrite(2): one call, which may move fewer bytes than asked.
  virtual ssize_t PRead(int fd, void* buffer, std::size_t count, off_t offset) = 0;
  virtual ssize_t PWrite(int fd, const void* buffer, std::size_t count, off_t offset) = 0;
  // ftruncate(2): sets the end of file, shrinking or extending (zero-filled).
  virtual int FTruncate(int fd, off_t length) = 0;
  // fdatasync(2).
  virtual int FDataSync(int fd) = 0;
  // flock(2) with LOCK_SH, LOCK_EX or LOCK_UN, optionally | LOCK_NB.
  virtual int Flock(int fd, int operation) = 0;
  // fcntl(2) F_OFD_SETLK, never F_OFD_SETLKW. type is F_WRLCK, F_RDLCK or
  // F_UNLCK; the range is [offset, offset + length). A conflicting lock held
  // through another open file description fails with EAGAIN or EACCES.
  virtual int OfdSetLock(int fd, short type, off_t offset, off_t length) = 0;
  // fstat(2) / stat(2).
  virtual int FStat(int fd, struct stat* info) = 0;
  virtual int Stat(const std::string& path, struct stat* info) = 0;
  // rename(2) / unlink(2).
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  virtual int Unlink(const std::string& path) = 0;
  // The entry names of a directory, "." and ".." left out, in no particular
  // order. Returns -1 with errno when the directory cannot be read.
  virtual int ListDirectory(const std::string& path, std::vector<std::string>& names) = 0;
};

// The implementation in use: the POSIX one unless a test installed another.
TOsFileApi& OsFileApi();

// Installs api for the whole process (nullptr restores the POSIX one) and
// returns the one it replaces. The caller keeps ownership of api and must keep
// it alive until it is replaced again.
TOsFileApi* SetOsFileApi(TOsFileApi* api);

// Installs an implementation for the lifetime of the guard and puts the
// previous one back when it goes away.
class TOsFileApiOverride {
 public:
  explicit TOsFileApiOverride(TOsFileApi& api) : FPrevious(SetOsFileApi(&api)) {}
  ~TOsFileApiOverride() { SetOsFileApi(FPrevious); }
  TOsFileApiOverride(const TOsFileApiOverride&) = delete;
  TOsFileApiOverride& operator=(const TOsFileApiOverride&) = delete;

 private:
  TOsFileApi* FPrevious;
};

}  // namespace tarn
