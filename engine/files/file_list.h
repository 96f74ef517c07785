#pragma once
// The process-wide list of file objects.
//
// All creating, opening, closing, renaming, deleting and copying of engine
// files goes through the one list of the process, FileList(), so that two
// users of the same name share one TAbstractFile and one OS descriptor. An
// object matches a request when it is of the same kind (memory or disk) and
// SameFileName (trimmed, case-insensitive, "/" equal to "\") says the names
// are equal.
//
// Lifetimes: a disk file object stays in the list from its first use until
// its last handle closes (a failed open or create leaves nothing behind, so a
// disk object in the list always has open handles); a memory file object stays
// until it is deleted, keeping its contents while no handle is open; a
// temporary memory file is deleted with its last handle.
//
// Results: handle numbers or 0 on success, negated engine codes on failure
// (-11010 not found, -11013 in use, ...), the errno kept in LastOsError().
// Nothing throws.
//
// Threads: FLock (recursive) is held for every call, copies included, and is
// taken before any file object's lock. File objects never take it.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "engine/files/abstract_file.h"

namespace tarn {

// Copy progress: called with the percentage done, 0..100.
using TCopyProgress = std::function<void(std::int32_t percent)>;

// Bytes moved by one read of a copy.
inline constexpr std::int32_t CopyChunkSize = 65536;

class TFileList {
 public:
  TFileList();
  // Closes and frees every object left (open disk files are closed, those
  // opened as temporary deleted as on their last close). Only lists other than
  // FileList() are ever destroyed.
  ~TFileList();
  TFileList(const TFileList&) = delete;
  TFileList& operator=(const TFileList&) = delete;

  // Creates (disk: creates or truncates) name for exclusive use and returns the
  // handle; file receives the object. A matching object with open handles
  // gives -11013; a matching closed one is reused; otherwise a new object is
  // added.
  std::int32_t CreateFile(std::string_view name, bool inMemory, bool temporary,
                          TAbstractFile*& file);
  // Opens name and returns a new handle; file, readOnly and readOnlyAttr
  // receive the object and how it is open. A matching object with open handles
  // gives -11013 when it is open exclusively or exclusive is asked; otherwise
  // a new handle on it. A matching closed object takes exclusive and temporary
  // and is opened. With no match, a disk name gets a new object (removed again
  // when the open fails); a memory name gives -11010.
  std::int32_t OpenFile(std::string_view name, bool inMemory, bool temporary, bool exclusive,
                        bool& readOnly, bool& readOnlyAttr, TAbstractFile*& file);
  // Closes handle of file. -11010 when file is not in the list or has no open
  // handles. With the last handle: a temporary memory file is deleted, a disk
  // file object is freed and removed, an ordinary memory file stays.
  std::int32_t CloseFile(TAbstractFile* file, bool inMemory, std::int32_t handle);
  // Renames name to newName. -11013 when a matching object has open handles; a
  // closed matching object is renamed; with no match a disk file is renamed
  // directly, a memory name gives -11010. An existing newName is never
  // replaced (-11047; -11013 when it is open).
  std::int32_t RenameFile(std::string_view name, bool inMemory, std::string_view newName);
  // Deletes name. -11013 when a matching object has open handles; a closed one
  // is deleted, freed and removed; with no match a disk file is deleted
  // directly, a memory name gives -11010. A disk file with the read-only
  // attribute is not deleted (-11013).
  std::int32_t DeleteFile(std::string_view name, bool inMemory);
  // True when a matching object is in the list, or, for disk names, when a
  // regular file (not a directory) of that name exists (case resolved).
  bool FileExists(std::string_view name, bool inMemory);

  // Deleting and renaming under an exclusive claim (file_claim.h): handle is
  // the caller's own handle of file, opened exclusively, and stays open, so no
  // other user in this process, and no other process (the exclusive flock),
  // can have the file at any moment of the change.
  // DeleteHeldFile: a disk file's name is removed at once while the descriptor
  // keeps its flock; a memory file is deleted when the handle closes. The
  // object leaves the list with that last handle.
  // RenameHeldFile: as RenameFile; an existing newName is never replaced.
  // Both give -11013 when handle is not the only handle of an exclusive open,
  // -11010 when file is not in the list, else what the file object reports.
  std::int32_t DeleteHeldFile(TAbstractFile* file, bool inMemory, std::int32_t handle);
  std::int32_t RenameHeldFile(TAbstractFile* file, bool inMemory, std::int32_t handle,
                              std::string_view newName);

  // Copies the open file (through handle) into destName, created (not
  // temporary) for the copy and closed after it. Reads 65536 bytes at a time
  // until a read returns fewer; a failed read ends the copy as if the source
  // had ended. After each chunk the percentage done, Trunc(copied / size *
  // 100), is reported when progress is set and the percentage is at least the
  // last reported one plus progressStep (the last reported starts at 0).
  // Progress always ends with 100. Returns 0, the negated code of a failed
  // create, or -9218 (TARN_WRITEERR) when a write fails (which stops the copy;
  // LastOsError() keeps its errno).
  std::int32_t CopyToFile(TAbstractFile* file, std::int32_t handle, std::string_view destName,
                          bool inMemory, std::int32_t progressStep, const TCopyProgress& progress);
  // The mirror image: opens srcName exclusively, copies it into file from
  // offset 0 (the destination is not truncated) and closes the source.
  std::int32_t CopyFromFile(TAbstractFile* file, std::int32_t handle, std::string_view srcName,
                            bool inMemory, std::int32_t progressStep,
                            const TCopyProgress& progress);

  // Number of objects in the list (tests).
  std::size_t Count() const;
  // The matching object, or nullptr (tests).
  TAbstractFile* Find(std::string_view name, bool inMemory) const;

  // Every object at most once per name and kind; open objects have handles.
  bool CheckInvariants() const;

 private:
  // Index of the matching object in FFiles, or -1. Requires FLock.
  int IndexOf(std::string_view name, bool inMemory) const;
  int IndexOf(const TAbstractFile* file) const;
  // Index of file when handle is its only handle of an exclusive open, else a
  // negated code. Requires FLock.
  int HeldIndex(const TAbstractFile* file, bool inMemory, std::int32_t handle) const;
  // Removes and frees FFiles[index]. Requires FLock.
  void Remove(int index);
  // Copies from src (through srcHandle) into dst (through dstHandle), both
  // positioned, with the progress rule. Returns 0 or a negated write error.
  static std::int32_t Copy(TAbstractFile& src, std::int32_t srcHandle, TAbstractFile& dst,
                           std::int32_t dstHandle, std::int32_t progressStep,
                           const TCopyProgress& progress);

  friend class TFileListGuard;
  mutable std::recursive_mutex FLock;
  std::vector<std::unique_ptr<TAbstractFile>> FFiles;
};

// The process's file list, created on first use and never destroyed (files
// still open at exit are closed by the operating system).
TFileList& FileList();

// Holds the list's lock for a scope (callers that need several list calls to
// see one state).
class TFileListGuard {
 public:
  explicit TFileListGuard(TFileList& list);
  ~TFileListGuard();
  TFileListGuard(const TFileListGuard&) = delete;
  TFileListGuard& operator=(const TFileListGuard&) = delete;

 private:
  TFileList& FList;
};

}  // namespace tarn
