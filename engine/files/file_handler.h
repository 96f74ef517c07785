#pragma once
// The per-table view of one engine file.
//
// TFileHandler is the base of the data, index and blob file handlers. It knows
// its file name and flags, holds one logical handle on the shared file object
// of FileList() while open, and raises every failure as an ETarnEngineError
// whose table item is FFileName (with the OS errno, when one caused it, as the
// context's OS error).
//
// Lifecycle: created closed; CreateFile or OpenFile opens it, CloseFile closes
// it, the destructor closes it when still open (through the base CloseFile: a
// derived handler that must write on close closes itself in its own
// destructor).
//
// Threads: a handler belongs to one table object and is not itself guarded.
// Disk files share one position among all handles of the process, so every
// SeekFile and the ReadBuffer or WriteBuffer that follows it are bracketed by
// EnterFile/LeaveFile (or a TFileSection), which hold the file object's lock.
// Never call a FileList operation (open, close, create, rename, delete, copy)
// while inside EnterFile: the list's lock comes before a file object's lock.
//
//   TFileSection section(*this);          // EnterFile ... LeaveFile
//   SeekFile(TSeekOrigin::Begin, 0);
//   ReadBuffer(header);                   // 9217 on a short read
//
// ReadBufferAt does such a seek and read as one step and needs no section.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/base/engine_error.h"  // what the operations throw
#include "engine/files/abstract_file.h"
#include "engine/files/file_list.h"

namespace tarn {

class TFileHandler {
 public:
  TFileHandler() = default;
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  // Opens FFileName with FExclusive and FTemporary; does nothing when already
  // open. Throws 11010 when the file does not exist, 11013 when it is in use
  // in a conflicting way (here or in another process), other mapped OS codes.
  // Sets FReadOnly and FReadOnlyAttr from the open.
  virtual void OpenFile();
  // Gives the handle back; the handler is closed afterwards whatever happens.
  // Throws only what the file list reports (never for a handler already closed).
  virtual void CloseFile();
  // Creates (or truncates) FFileName for exclusive use and opens it.
  // Throws 11013 when the name is open anywhere, mapped OS codes otherwise.
  virtual void CreateFile();
  // Deletes FFileName. Requires: closed. Throws 11013 when it is open, 11010
  // when it does not exist.
  virtual void DeleteFile();
  // Renames FFileName to newName, which then becomes FFileName.
  // Requires: closed. Throws 11013 when it is open.
  virtual void RenameFile(std::string_view newName);
  // Copies the whole open file into destName (created, then closed), 64 KB
  // per read, reporting progress every progressStep percent. Does nothing when
  // not open. Throws the mapped code when destName cannot be created, 9218
  // when a write fails. A read that fails ends the copy like the end of file.
  virtual void CopyToFile(std::string_view destName, std::int32_t progressStep = 0,
                          const TCopyProgress& progress = {});
  // Copies srcName (opened exclusively) over this open file from offset 0,
  // without truncating it. Does nothing when not open.
  virtual void CopyFromFile(std::string_view srcName, std::int32_t progressStep = 0,
                            const TCopyProgress& progress = {});
  // Reads buffer.size() bytes at the current position. Returns the bytes read.
  // Throws 9217 (TARN_READERR) on a short read unless allowShort, on an OS
  // failure, or when not open.
  virtual std::int32_t ReadBuffer(std::span<std::uint8_t> buffer, bool allowShort = false);
  // SeekFile(TSeekOrigin::Begin, offset) and ReadBuffer(buffer, true) in one
  // step, without a TFileSection: returns the bytes read, or -1 when the
  // position cannot be set (offset negative, or the handler not open) and
  // nothing was read. Throws 9217 on an OS failure.
  std::int32_t ReadBufferAt(std::int64_t offset, std::span<std::uint8_t> buffer);
  // Writes buffer at the current position. An empty buffer truncates the file
  // at the position. Throws 9218 (TARN_WRITEERR) when fewer bytes are written
  // or when not open.
  virtual void WriteBuffer(std::span<const std::uint8_t> buffer);
  // Flushes the file to the device. Throws 9218 when that fails.
  virtual void FlushFile();

  // FileList().FileExists(FFileName, FInMemory).
  bool FileExists() const;
  // Moves the position; returns the new one (0 when not open, -1 when the
  // move fails).
  std::int64_t SeekFile(TSeekOrigin origin, std::int64_t offset);
  // The file's size (0 when not open, -1 when it cannot be read), leaving the
  // position unchanged.
  std::int64_t GetFileSize();
  // LockRegion (lock) or UnlockRegion (!lock) of the file object; false when
  // not open. Never throws and never waits.
  bool LockRegion(bool lock, std::int64_t offset, std::int64_t length);
  // Take and release the file object's lock (no effect when not open; a
  // LeaveFile must match each EnterFile made while open).
  void EnterFile();
  void LeaveFile();

  // Settings, made while closed (the table sets them when it builds its file
  // names).
  void SetFileName(std::string_view name) { FFileName = std::string(name); }
  void SetInMemory(bool value) { FInMemory = value; }
  void SetExclusive(bool value) { FExclusive = value; }
  void SetTemporary(bool value) { FTemporary = value; }
  // The table's read-only flag, set before opening; OpenFile replaces it with
  // how the file was actually opened.
  void SetReadOnly(bool value) { FReadOnly = value; }

  const std::string& FileName() const { return FFileName; }
  bool InMemory() const { return FInMemory; }
  bool Exclusive() const { return FExclusive; }
  bool Temporary() const { return FTemporary; }
  bool ReadOnly() const { return FReadOnly; }
  bool ReadOnlyAttr() const { return FReadOnlyAttr; }
  bool Opened() const { return FOpened; }
  std::int32_t HandleId() const { return FHandleId; }
  // The shared file object, nullptr while closed.
  TAbstractFile* File() const { return FFile; }

 protected:
  // Gives the handle back without throwing (destructor path). Failures are
  // recorded in LastOsError() only.
  void CloseQuietly() noexcept;

  bool FInMemory = false;
  TAbstractFile* FFile = nullptr;
  std::string FFileName;
  std::int32_t FHandleId = 0;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FReadOnlyAttr = false;
  bool FOpened = false;
  bool FTemporary = false;
};

// EnterFile for a scope: keeps a SeekFile and the read or write after it
// together (nothing for a closed handler). The handler must stay open while
// the section exists. Release() gives the lock back early.
class TFileSection : public TFileLockGuard {
 public:
  explicit TFileSection(TFileHandler& handler) : TFileLockGuard(handler.File()) {}
};

}  // namespace tarn
