#pragma once
// TOsFileApi over the real system calls (Linux). Each method is the plain
// system call; EINTR is retried where the call allows it.

#include "engine/files/os_file_api.h"

namespace tarn {

class TPosixFileApi : public TOsFileApi {
 public:
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
};

// The process's POSIX implementation (never destroyed).
TPosixFileApi& PosixFileApi();

}  // namespace tarn
