#pragma once
// One file of the engine, shared by every user of its name in the process.
//
// TAbstractFile is the base of TPhysicalFile (a file on disk behind one OS
// descriptor) and TMemoryFile (a file kept in memory). Exactly one object
// exists per distinct file name per process; the process-wide TFileList
// creates, finds and frees them. Users hold logical handles: numbers 1, 2, ...
// given out by CreateFile and OpenFile, each with its own position record.
//
// Results: operations returning std::int32_t give a handle number or 0 on
// success and a negated engine code on failure (-11013 and so on); the errno
// behind an OS failure is kept by LastOsError() (os_error.h). Nothing here
// throws except std::bad_alloc turned into -11016 where memory is taken.
//
// Positions, sizes and lock offsets are 64-bit signed; single reads and writes
// move at most 2^31 - 1 bytes.
//
// Locking: FLock (recursive) serialises every operation on the object; the
// public operations take it themselves, and Enter/Leave (or TFileLockGuard)
// let a caller keep a Seek and the following Read or Write together. Lock
// order: the file list's lock, then a file object's FLock, then the
// process-wide range-lock table (range_lock_table.h). A file object never takes
// the list's lock, so code holding FLock must not call into TFileList.

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

class TFileList;

enum class TSeekOrigin : int {
  Begin = 0,    // offset from the start
  Current = 1,  // offset from the handle's position
  End = 2,      // offset from the end (callers pass 0)
};

// One open logical handle.
struct THandleRecord {
  std::int32_t Handle = 0;
  std::int64_t Position = 0;  // memory files; disk files share one position
};

// One locked byte range: First .. Last inclusive, Last = First + Length - 1.
struct TLockRange {
  std::int64_t First = 0;
  std::int64_t Last = 0;
  std::int64_t Length = 0;
};

class TAbstractFile {
 public:
  virtual ~TAbstractFile();
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  // Index of the handle record for handle in FHandles, or -1 (at once when no
  // handle is open).
  int FindHandle(std::int32_t handle) const;

  // The logical size. Memory: FSize. Disk: the file's current size.
  // A failure gives -1.
  virtual std::int64_t GetSize();

  // Creates (disk: creates or truncates, exclusively) or empties (memory) the
  // file and returns a new handle at position 0; FSize becomes 0.
  virtual std::int32_t CreateFile() = 0;
  // Opens the file (disk: the first handle opens the OS descriptor, later
  // handles make no OS call) and returns a new handle at position 0.
  virtual std::int32_t OpenFile() = 0;
  // Removes the handle (unknown numbers are ignored); a disk file closes its
  // OS descriptor with the last handle. Returns 0.
  virtual std::int32_t CloseFile(std::int32_t handle);
  // Renames the file; FFileName becomes newName. Requires: no open handles,
  // or only the exclusive handle of TFileList::RenameHeldFile.
  virtual std::int32_t RenameFile(std::string_view newName) = 0;
  // Deletes the file (memory: always succeeds; the list frees the object).
  // Requires: no open handles, or only the exclusive handle of
  // TFileList::DeleteHeldFile (a disk file's descriptor outlives the name).
  virtual std::int32_t DeleteFile() = 0;

  // Reads up to buffer.size() bytes at the handle's position (disk: the shared
  // position) and advances it. Returns the bytes read, 0 at or past the end,
  // -1 on an OS failure.
  virtual std::int32_t Read(std::int32_t handle, std::span<std::uint8_t> buffer) = 0;
  // Writes buffer at the position and advances it, growing the file. An empty
  // buffer truncates (or extends) the file at the position. Returns the bytes
  // written (0 after a truncation), -1 on failure.
  virtual std::int32_t Write(std::int32_t handle, std::span<const std::uint8_t> buffer) = 0;
  // Flushes the file's data to the device (disk: fdatasync). True on success.
  virtual bool Flush();
  // Moves the position and returns the new one. Memory keeps one position per
  // handle (an unknown handle gives 0); disk moves the shared position and
  // ignores the handle. A position that would be negative fails: -1, and the
  // position is unchanged.
  virtual std::int64_t Seek(std::int32_t handle, TSeekOrigin origin, std::int64_t offset);
  // Seek(handle, Begin, offset) then Read(handle, buffer) under one hold of
  // FLock, so the position ends after the bytes read. Returns Read's result,
  // or -2 when the position cannot be set there (nothing is read then).
  virtual std::int32_t ReadAt(std::int32_t handle, std::int64_t offset,
                              std::span<std::uint8_t> buffer);

  // Non-blocking exclusive lock of [offset, offset + length). Fails at once
  // when any byte is already locked in this process (through any handle) or,
  // for disk files, by another process. Requires offset >= 0 and length > 0,
  // else fails. Offsets may lie far beyond the end of the file.
  virtual bool LockRegion(std::int64_t offset, std::int64_t length) = 0;
  // Unlocks exactly a range locked before: the same offset and length.
  virtual bool UnlockRegion(std::int64_t offset, std::int64_t length) = 0;

  virtual bool IsInMemory() const = 0;

  // Takes / releases FLock for a caller that keeps a Seek and the following
  // Read or Write together. Recursive: the operations take it again inside.
  void Enter() { FLock.lock(); }
  void Leave() { FLock.unlock(); }

  // Snapshot accessors (each takes FLock).
  bool Exclusive() const;
  bool ReadOnly() const;
  bool ReadOnlyAttr() const;
  bool Temporary() const;
  std::string FileName() const;
  std::uint16_t OpenCount() const;

  // Cross-field rules: FOpenCount == FHandles.size(); handle numbers unique,
  // positive and at most FLastHandleId; FSize >= 0; lock ranges well formed
  // and disjoint.
  bool CheckInvariants() const;

 protected:
  explicit TAbstractFile(std::string_view fileName);

  // Adds a handle record at position 0 and returns its number. Requires FLock.
  std::int32_t AddHandle();
  // Moves the position of the handle record at index like Seek does for
  // memory files. Requires FLock.
  std::int64_t SeekRecord(int index, TSeekOrigin origin, std::int64_t offset);
  // The position offset bytes from base; -1 when it would lie before the
  // start or beyond the largest 64-bit position.
  static std::int64_t SeekTarget(std::int64_t base, std::int64_t offset);
  // True when [offset, offset + length) overlaps a range in ranges.
  static bool Overlaps(const std::vector<TLockRange>& ranges, std::int64_t offset,
                       std::int64_t length);

  mutable std::recursive_mutex FLock;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FReadOnlyAttr = false;
  bool FTemporary = false;
  std::string FFileName;
  std::int64_t FSize = 0;
  std::vector<TLockRange> FLocks;  // memory files; disk files use the range-lock table
  std::uint16_t FOpenCount = 0;
  std::vector<THandleRecord> FHandles;
  std::int32_t FLastHandleId = 0;

 private:
  friend class TFileList;  // sets FExclusive, FTemporary and FFileName before opening
};

// Holds a file object's FLock for a scope.
class TFileLockGuard {
 public:
  explicit TFileLockGuard(TAbstractFile& file) : TFileLockGuard(&file) {}
  // No file (nullptr): the guard holds nothing.
  explicit TFileLockGuard(TAbstractFile* file) : FFile(file) {
    if (FFile != nullptr) FFile->Enter();
  }
  ~TFileLockGuard() { Release(); }
  TFileLockGuard(const TFileLockGuard&) = delete;
  TFileLockGuard& operator=(const TFileLockGuard&) = delete;
  // Releases early; later calls do nothing.
  void Release() noexcept {
    if (FFile != nullptr) {
      FFile->Leave();
      FFile = nullptr;
    }
  }

 private:
  TAbstractFile* FFile;
};

}  // namespace tarn
