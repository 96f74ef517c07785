#include "engine/files/fault_file_api.h"

#include <cerrno>

#include "engine/files/posix_file_api.h"

namespace tarn {

void TFaultFileApi::Fail(TOsCall call, int errNo, int skip, bool always) {
  std::lock_guard lock(FMutex);
  FFaults[static_cast<std::size_t>(call)] = TFault{true, errNo, skip, always};
}

void TFaultFileApi::SetPathFilter(std::string fragment) {
  std::lock_guard lock(FMutex);
  FPathFilter = std::move(fragment);
}

void TFaultFileApi::Clear(TOsCall call) {
  std::lock_guard lock(FMutex);
  FFaults[static_cast<std::size_t>(call)] = TFault{};
}

void TFaultFileApi::ClearAll() {
  std::lock_guard lock(FMutex);
  FFaults.fill(TFault{});
}

std::int64_t TFaultFileApi::Calls(TOsCall call) const {
  std::lock_guard lock(FMutex);
  return FCalls[static_cast<std::size_t>(call)];
}

bool TFaultFileApi::ShouldFail(TOsCall call, const std::string* path) {
  std::lock_guard lock(FMutex);
  const auto kind = static_cast<std::size_t>(call);
  ++FCalls[kind];
  TFault& fault = FFaults[kind];
  if (!fault.Armed) return false;
  if (path != nullptr && !FPathFilter.empty() && path->find(FPathFilter) == std::string::npos) {
    return false;
  }
  if (fault.Skip > 0) {
    --fault.Skip;
    return false;
  }
  errno = fault.ErrNo;
  if (!fault.Always) fault.Armed = false;
  return true;
}

int TFaultFileApi::Open(const std::string& path, int flags, mode_t mode) {
  if (ShouldFail(TOsCall::Open, &path)) return -1;
  return PosixFileApi().Open(path, flags, mode);
}

int TFaultFileApi::Close(int fd) {
  if (ShouldFail(TOsCall::Close, nullptr)) {
    // The descriptor is gone after close(2) whatever it reports; keep that.
    const int err = errno;
    PosixFileApi().Close(fd);
    errno = err;
    return -1;
  }
  return PosixFileApi().Close(fd);
}

ssize_t TFaultFileApi::PRead(int fd, void* buffer, std::size_t count, off_t offset) {
  if (ShouldFail(TOsCall::PRead, nullptr)) return -1;
  return PosixFileApi().PRead(fd, buffer, count, offset);
}

ssize_t TFaultFileApi::PWrite(int fd, const void* buffer, std::size_t count, off_t offset) {
  if (ShouldFail(TOsCall::PWrite, nullptr)) return -1;
  return PosixFileApi().PWrite(fd, buffer, count, offset);
}

int TFaultFileApi::FTruncate(int fd, off_t length) {
  if (ShouldFail(TOsCall::FTruncate, nullptr)) return -1;
  return PosixFileApi().FTruncate(fd, length);
}

int TFaultFileApi::FDataSync(int fd) {
  if (ShouldFail(TOsCall::FDataSync, nullptr)) return -1;
  return PosixFileApi().FDataSync(fd);
}

int TFaultFileApi::Flock(int fd, int operation) {
  if (ShouldFail(TOsCall::Flock, nullptr)) return -1;
  return PosixFileApi().Flock(fd, operation);
}

int TFaultFileApi::OfdSetLock(int fd, short type, off_t offset, off_t length) {
  if (ShouldFail(TOsCall::OfdSetLock, nullptr)) return -1;
  return PosixFileApi().OfdSetLock(fd, type, offset, length);
}

int TFaultFileApi::FStat(int fd, struct stat* info) {
  if (ShouldFail(TOsCall::FStat, nullptr)) return -1;
  return PosixFileApi().FStat(fd, info);
}

int TFaultFileApi::Stat(const std::string& path, struct stat* info) {
  if (ShouldFail(TOsCall::Stat, &path)) return -1;
  return PosixFileApi().Stat(path, info);
}

int TFaultFileApi::Rename(const std::string& from, const std::string& to) {
  if (ShouldFail(TOsCall::Rename, &from)) return -1;
  return PosixFileApi().Rename(from, to);
}

int TFaultFileApi::Unlink(const std::string& path) {
  if (ShouldFail(TOsCall::Unlink, &path)) return -1;
  return PosixFileApi().Unlink(path);
}

int TFaultFileApi::ListDirectory(const std::string& path, std::vector<std::string>& names) {
  if (ShouldFail(TOsCall::ListDirectory, &path)) return -1;
  return PosixFileApi().ListDirectory(path, names);
}

}  // namespace tarn
