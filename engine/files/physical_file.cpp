#include "engine/files/physical_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cassert>
#include <cerrno>
#include <limits>

#include "engine/files/os_error.h"
#include "engine/files/os_file_api.h"
#include "engine/files/path_helpers.h"
#include "engine/files/range_lock_table.h"

namespace tarn {

namespace {

constexpr mode_t NewFileMode = 0666;  // before the process's umask
constexpr mode_t AnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

// The directory part of an OS path including its final "/", or "".
std::string DirectoryOf(const std::string& osPath) {
  const std::size_t slash = osPath.rfind('/');
  return slash == std::string::npos ? std::string() : osPath.substr(0, slash + 1);
}

// The last component of a name, either separator.
std::string LastComponentOf(std::string_view name) {
  const std::string os = ToOsPath(name);
  const std::size_t slash = os.rfind('/');
  return slash == std::string::npos ? os : os.substr(slash + 1);
}

}  // namespace

TPhysicalFile::TPhysicalFile(std::string_view fileName) : TAbstractFile(fileName) {}

TPhysicalFile::~TPhysicalFile() {
  std::lock_guard lock(FLock);
  if (FHandle >= 0) CloseDescriptor();
}

int TPhysicalFile::OpenDescriptor(const std::string& osPath, int flags, bool exclusive) {
  TOsFileApi& os = OsFileApi();
  const int fd = os.Open(osPath, flags, NewFileMode);
  if (fd < 0) return NegatedOsError(errno);
  if (os.Flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    const int err = errno;
    os.Close(fd);
    return NegatedOsError(err);
  }
  struct stat info;
  if (os.FStat(fd, &info) != 0) {
    const int err = errno;
    os.Close(fd);
    return NegatedOsError(err);
  }
  // Table files are read and written page by page all over the file.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  FHandle = fd;
  FOsPath = osPath;
  FDevice = info.st_dev;
  FInode = info.st_ino;
  FLockReadOnly = (flags & O_ACCMODE) == O_RDONLY;
  FPosition = 0;
  return 0;
}

void TPhysicalFile::CloseDescriptor() noexcept {
  assert(FHandle >= 0);
  TOsFileApi& os = OsFileApi();
  TRangeLockTable::Instance().ForgetHolder(TFileIdentity{FDevice, FInode}, this);
  if (FDeleteOnClose && os.Unlink(FOsPath) != 0) SetLastOsError(errno);
  if (os.Close(FHandle) != 0) SetLastOsError(errno);
  FHandle = -1;
  FDeleteOnClose = false;
  FLockReadOnly = false;
  FPosition = 0;
}

std::int64_t TPhysicalFile::GetSize() {
  std::lock_guard lock(FLock);
  if (FHandle < 0) {
    SetLastOsError(EBADF);
    return -1;
  }
  struct stat info;
  if (OsFileApi().FStat(FHandle, &info) != 0) {
    SetLastOsError(errno);
    return -1;
  }
  return static_cast<std::int64_t>(info.st_size);
}

std::int32_t TPhysicalFile::CreateFile() {
  std::lock_guard lock(FLock);
  if (FHandle >= 0) return NegatedOsError(EACCES);  // open here: the list refuses this first
  const std::string osPath = ResolveOsPath(FFileName);
  TOsFileApi& os = OsFileApi();
  struct stat info;
  if (os.Stat(osPath, &info) == 0) {
    // Replacing a read-only or a directory fails, as it does for any user.
    if (S_ISDIR(info.st_mode)) return NegatedOsError(EISDIR);
    if ((info.st_mode & AnyWriteBit) == 0) return NegatedOsError(EACCES);
  }
  // No O_TRUNC: the file is emptied only once the exclusive flock is held, so
  // a file in use by another process is refused untouched.
  const int result = OpenDescriptor(osPath, O_RDWR | O_CREAT, true);
  if (result < 0) return result;
  if (os.FTruncate(FHandle, 0) != 0) {
    const int err = errno;
    CloseDescriptor();
    return NegatedOsError(err);
  }
  FReadOnly = false;
  FReadOnlyAttr = false;
  FDeleteOnClose = false;
  FSize = 0;
  return AddHandle();
}

std::int32_t TPhysicalFile::OpenFile() {
  std::lock_guard lock(FLock);
  if (FHandle >= 0) return AddHandle();
  const std::string osPath = ResolveOsPath(FFileName);
  struct stat info;
  if (OsFileApi().Stat(osPath, &info) != 0) return NegatedOsError(errno);
  if (S_ISDIR(info.st_mode)) return NegatedOsError(EISDIR);
  FReadOnlyAttr = (info.st_mode & AnyWriteBit) == 0;
  FReadOnly = FReadOnlyAttr;
  int result = OpenDescriptor(osPath, FReadOnly ? O_RDONLY : O_RDWR, FExclusive);
  if (result < 0 && !FReadOnly) {
    result = OpenDescriptor(osPath, O_RDONLY, FExclusive);
    if (result == 0) FReadOnly = true;
  }
  if (result < 0) return result;
  FDeleteOnClose = FTemporary;
  FSize = 0;
  return AddHandle();
}

std::int32_t TPhysicalFile::CloseFile(std::int32_t handle) {
  std::lock_guard lock(FLock);
  TAbstractFile::CloseFile(handle);
  if (FOpenCount == 0 && FHandle >= 0) CloseDescriptor();
  return 0;
}

std::int32_t TPhysicalFile::RenameFile(std::string_view newName) {
  std::lock_guard lock(FLock);
  TOsFileApi& os = OsFileApi();
  const std::string from = ResolveOsPath(FFileName);
  std::string to = ResolveOsPath(newName);
  struct stat fromInfo;
  struct stat toInfo;
  if (os.Stat(from, &fromInfo) != 0) return NegatedOsError(errno);
  if (os.Stat(to, &toInfo) == 0) {
    if (fromInfo.st_dev != toInfo.st_dev || fromInfo.st_ino != toInfo.st_ino) {
      return NegatedOsError(EEXIST);  // never replace another file
    }
    // The same file under another spelling: give it the new spelling.
    to = DirectoryOf(to) + LastComponentOf(newName);
  }
  if (os.Rename(from, to) != 0) return NegatedOsError(errno);
  FFileName = std::string(newName);
  if (FHandle >= 0) FOsPath = to;  // renamed while held open (TFileList::RenameHeldFile)
  return 0;
}

std::int32_t TPhysicalFile::DeleteFile() {
  std::lock_guard lock(FLock);
  TOsFileApi& os = OsFileApi();
  const std::string osPath = ResolveOsPath(FFileName);
  struct stat info;
  if (os.Stat(osPath, &info) != 0) return NegatedOsError(errno);
  if (S_ISDIR(info.st_mode)) return NegatedOsError(EISDIR);
  if ((info.st_mode & AnyWriteBit) == 0) return NegatedOsError(EACCES);  // read-only attribute
  if (os.Unlink(osPath) != 0) return NegatedOsError(errno);
  return 0;
}

std::int32_t TPhysicalFile::Read(std::int32_t, std::span<std::uint8_t> buffer) {
  std::lock_guard lock(FLock);
  if (FHandle < 0) {
    SetLastOsError(EBADF);
    return -1;
  }
  return PReadAt(FPosition, buffer);
}

std::int32_t TPhysicalFile::ReadAt(std::int32_t, std::int64_t offset,
                                   std::span<std::uint8_t> buffer) {
  std::lock_guard lock(FLock);
  if (FHandle < 0 || offset < 0) {
    SetLastOsError(FHandle < 0 ? EBADF : EINVAL);
    return -2;
  }
  return PReadAt(offset, buffer);
}

std::int32_t TPhysicalFile::PReadAt(std::int64_t offset, std::span<std::uint8_t> buffer) {
  assert(buffer.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()));
  FPosition = offset;
  // One OS read: on a regular file it is short only at the end of the file.
  const ssize_t n =
      OsFileApi().PRead(FHandle, buffer.data(), buffer.size(), static_cast<off_t>(offset));
  if (n < 0) {
    SetLastOsError(errno);
    return -1;
  }
  FPosition += n;
  return static_cast<std::int32_t>(n);
}

std::int32_t TPhysicalFile::Write(std::int32_t, std::span<const std::uint8_t> buffer) {
  std::lock_guard lock(FLock);
  assert(buffer.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()));
  TOsFileApi& os = OsFileApi();
  if (FHandle < 0) {
    SetLastOsError(EBADF);
    return -1;
  }
  if (buffer.empty()) {
    if (os.FTruncate(FHandle, static_cast<off_t>(FPosition)) != 0) {
      SetLastOsError(errno);
      return -1;
    }
    return 0;
  }
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = os.PWrite(FHandle, buffer.data() + done, buffer.size() - done,
                                static_cast<off_t>(FPosition));
    if (n <= 0) {
      SetLastOsError(n < 0 ? errno : ENOSPC);
      if (done == 0) return -1;
      break;
    }
    done += static_cast<std::size_t>(n);
    FPosition += n;
  }
  return static_cast<std::int32_t>(done);
}

bool TPhysicalFile::Flush() {
  std::lock_guard lock(FLock);
  if (FHandle < 0) {
    SetLastOsError(EBADF);
    return false;
  }
  if (OsFileApi().FDataSync(FHandle) != 0) {
    SetLastOsError(errno);
    return false;
  }
  return true;
}

std::int64_t TPhysicalFile::Seek(std::int32_t, TSeekOrigin origin, std::int64_t offset) {
  std::lock_guard lock(FLock);
  if (FHandle < 0) {
    SetLastOsError(EBADF);
    return -1;
  }
  std::int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::Begin:
      base = 0;
      break;
    case TSeekOrigin::Current:
      base = FPosition;
      break;
    case TSeekOrigin::End:
      base = GetSize();
      if (base < 0) return -1;
      break;
    default:
      SetLastOsError(EINVAL);
      return -1;
  }
  const std::int64_t target = SeekTarget(base, offset);
  if (target < 0) {
    SetLastOsError(EINVAL);
    return -1;
  }
  FPosition = target;
  return FPosition;
}

bool TPhysicalFile::LockRegion(std::int64_t offset, std::int64_t length) {
  std::lock_guard lock(FLock);
  if (FHandle < 0) {
    SetLastOsError(EBADF);
    return false;
  }
  return TRangeLockTable::Instance().Lock(TFileIdentity{FDevice, FInode}, this, FHandle,
                                          FLockReadOnly, offset, length);
}

bool TPhysicalFile::UnlockRegion(std::int64_t offset, std::int64_t length) {
  std::lock_guard lock(FLock);
  if (FHandle < 0) {
    SetLastOsError(EBADF);
    return false;
  }
  return TRangeLockTable::Instance().Unlock(TFileIdentity{FDevice, FInode}, this, FHandle, offset,
                                            length);
}

int TPhysicalFile::Descriptor() const {
  std::lock_guard lock(FLock);
  return FHandle;
}

std::string TPhysicalFile::OsPath() const {
  std::lock_guard lock(FLock);
  return FOsPath;
}

}  // namespace tarn
