#include "engine/files/posix_file_api.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarn {

namespace {
template <typename F>
auto RetryOnInterrupt(F call) {
  for (;;) {
    auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}
}  // namespace

int TPosixFileApi::Open(const std::string& path, int flags, mode_t mode) {
  return RetryOnInterrupt([&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); });
}

int TPosixFileApi::Close(int fd) { return ::close(fd); }

ssize_t TPosixFileApi::PRead(int fd, void* buffer, std::size_t count, off_t offset) {
  return RetryOnInterrupt([&] { return ::pread(fd, buffer, count, offset); });
}

ssize_t TPosixFileApi::PWrite(int fd, const void* buffer, std::size_t count, off_t offset) {
  return RetryOnInterrupt([&] { return ::pwrite(fd, buffer, count, offset); });
}

int TPosixFileApi::FTruncate(int fd, off_t length) {
  return RetryOnInterrupt([&] { return ::ftruncate(fd, length); });
}

int TPosixFileApi::FDataSync(int fd) {
  return RetryOnInterrupt([&] { return ::fdatasync(fd); });
}

int TPosixFileApi::Flock(int fd, int operation) {
  return RetryOnInterrupt([&] { return ::flock(fd, operation); });
}

int TPosixFileApi::OfdSetLock(int fd, short type, off_t offset, off_t length) {
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = length;
  lock.l_pid = 0;  // required to be 0 for OFD locks
  return RetryOnInterrupt([&] { return ::fcntl(fd, F_OFD_SETLK, &lock); });
}

int TPosixFileApi::FStat(int fd, struct stat* info) { return ::fstat(fd, info); }

int TPosixFileApi::Stat(const std::string& path, struct stat* info) {
  return ::stat(path.c_str(), info);
}

int TPosixFileApi::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str());
}

int TPosixFileApi::Unlink(const std::string& path) { return ::unlink(path.c_str()); }

int TPosixFileApi::ListDirectory(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  DIR* dir = ::opendir(path.empty() ? "." : path.c_str());
  if (dir == nullptr) return -1;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) break;
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  const int readError = errno;
  ::closedir(dir);
  if (readError != 0) {
    errno = readError;
    return -1;
  }
  return 0;
}

TPosixFileApi& PosixFileApi() {
  static TPosixFileApi* api = new TPosixFileApi();  // never destroyed: used until exit
  return *api;
}

}  // namespace tarn
