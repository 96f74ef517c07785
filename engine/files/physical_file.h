#pragma once
// A file on disk behind one OS descriptor shared by all its logical handles.
//
// The descriptor is opened by the first OpenFile (or by CreateFile) and closed
// with the last handle. Reads and writes use pread/pwrite at one shared
// position (FPosition) that Seek moves for every handle alike, so callers
// bracket a Seek and its Read or Write with Enter/Leave.
//
// Sharing between processes: an exclusive open or a create takes
// flock(LOCK_EX | LOCK_NB) on the descriptor, a shared open
// flock(LOCK_SH | LOCK_NB); a refusal is a sharing violation (-11013).
// Inside the process the file list refuses conflicting opens before any OS
// call.
//
// Read-only attribute: a file whose mode has no write permission bit (owner,
// group or other) opens read-only with FReadOnly and FReadOnlyAttr set,
// whoever the user is. When opening for writing fails for another reason, the
// open is retried for reading only and sets FReadOnly alone.
//
// Region locks: OFD write locks (F_OFD_SETLK, never waiting) behind the
// process-wide range-lock table, which refuses ranges already held in this
// process before the OS is asked (range_lock_table.h). On a descriptor opened
// read-only, where the OS refuses write locks, a read lock is taken instead: it
// still excludes every writer's lock, but not another read-only opener's.
//
// flock sharing and the range locks are independent of each other on local
// Linux file systems; over NFS and SMB both become byte-range locks, and a
// whole-file flock then conflicts with the range locks of other hosts.
//
// Temporary files: a file opened (not created) as temporary is deleted when
// its descriptor closes with the last handle; a created temporary file stays
// until it is deleted or reopened as temporary and closed.

#include <sys/types.h>

#include "engine/files/abstract_file.h"

namespace tarn {

class TPhysicalFile : public TAbstractFile {
 public:
  explicit TPhysicalFile(std::string_view fileName);
  ~TPhysicalFile() override;  // closes the descriptor (and deletes a temporary file) if open

  std::int64_t GetSize() override;
  std::int32_t CreateFile() override;
  std::int32_t OpenFile() override;
  std::int32_t CloseFile(std::int32_t handle) override;
  std::int32_t RenameFile(std::string_view newName) override;
  std::int32_t DeleteFile() override;
  std::int32_t Read(std::int32_t handle, std::span<std::uint8_t> buffer) override;
  std::int32_t Write(std::int32_t handle, std::span<const std::uint8_t> buffer) override;
  bool Flush() override;
  std::int64_t Seek(std::int32_t handle, TSeekOrigin origin, std::int64_t offset) override;
  // One pread at offset; the shared position moves as Seek and Read would.
  std::int32_t ReadAt(std::int32_t handle, std::int64_t offset,
                      std::span<std::uint8_t> buffer) override;
  bool LockRegion(std::int64_t offset, std::int64_t length) override;
  bool UnlockRegion(std::int64_t offset, std::int64_t length) override;
  bool IsInMemory() const override { return false; }

  // The OS descriptor, -1 while closed (tests).
  int Descriptor() const;
  // The path the descriptor was opened under, after case resolution.
  std::string OsPath() const;

 private:
  // Opens the descriptor with flags, takes the flock for the sharing mode and
  // records device and inode. Returns 0 or a negated code (descriptor closed
  // again on failure).
  int OpenDescriptor(const std::string& osPath, int flags, bool exclusive);
  // Drops the range locks, closes the descriptor and deletes the file when it
  // was opened as temporary. Requires FLock. noexcept: failures are recorded.
  void CloseDescriptor() noexcept;
  // One pread at offset, leaving the position after the bytes read. Returns
  // them, or -1 with the errno kept. Requires FLock, an open descriptor and
  // offset >= 0.
  std::int32_t PReadAt(std::int64_t offset, std::span<std::uint8_t> buffer);

  int FHandle = -1;
  std::int64_t FPosition = 0;
  std::string FOsPath;
  bool FDeleteOnClose = false;
  bool FLockReadOnly = false;  // descriptor opened O_RDONLY: range locks are read locks
  dev_t FDevice = 0;
  ino_t FInode = 0;
};

}  // namespace tarn
