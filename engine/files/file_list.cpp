#include "engine/files/file_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <new>

#include "engine/files/memory_file.h"
#include "engine/files/os_error.h"
#include "engine/files/os_file_api.h"
#include "engine/files/path_helpers.h"
#include "engine/files/physical_file.h"

namespace tarn {

namespace {

std::unique_ptr<TAbstractFile> NewFile(std::string_view name, bool inMemory) {
  if (inMemory) return std::make_unique<TMemoryFile>(name);
  return std::make_unique<TPhysicalFile>(name);
}

}  // namespace

TFileList::TFileList() = default;

TFileList::~TFileList() {
  std::lock_guard lock(FLock);
  FFiles.clear();  // disk objects close their descriptors as they go
}

int TFileList::IndexOf(std::string_view name, bool inMemory) const {
  for (std::size_t i = 0; i < FFiles.size(); ++i) {
    const TAbstractFile& file = *FFiles[i];
    if (file.IsInMemory() == inMemory && SameFileName(file.FileName(), name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int TFileList::IndexOf(const TAbstractFile* file) const {
  for (std::size_t i = 0; i < FFiles.size(); ++i) {
    if (FFiles[i].get() == file) return static_cast<int>(i);
  }
  return -1;
}

void TFileList::Remove(int index) { FFiles.erase(FFiles.begin() + index); }

std::int32_t TFileList::CreateFile(std::string_view name, bool inMemory, bool temporary,
                                   TAbstractFile*& file) {
  std::lock_guard lock(FLock);
  file = nullptr;
  const std::string trimmed = TrimName(name);
  if (trimmed.empty()) return NegatedOsError(ENOENT);
  try {
    int index = IndexOf(trimmed, inMemory);
    if (index >= 0 && FFiles[static_cast<std::size_t>(index)]->OpenCount() > 0) {
      return NegatedOsError(EACCES);
    }
    if (index < 0) {
      FFiles.push_back(NewFile(trimmed, inMemory));
      index = static_cast<int>(FFiles.size()) - 1;
    }
    TAbstractFile& target = *FFiles[static_cast<std::size_t>(index)];
    {
      TFileLockGuard guard(target);
      target.FFileName = trimmed;
      target.FExclusive = true;
      target.FTemporary = temporary;
    }
    const std::int32_t result = target.CreateFile();
    if (result < 0) {
      if (!inMemory) Remove(index);  // nothing of a failed disk create stays behind
      return result;
    }
    file = &target;
    assert(CheckInvariants());
    return result;
  } catch (const std::bad_alloc&) {
    return NegatedOsError(ENOMEM);
  }
}

std::int32_t TFileList::OpenFile(std::string_view name, bool inMemory, bool temporary,
                                 bool exclusive, bool& readOnly, bool& readOnlyAttr,
                                 TAbstractFile*& file) {
  std::lock_guard lock(FLock);
  file = nullptr;
  readOnly = false;
  readOnlyAttr = false;
  const std::string trimmed = TrimName(name);
  try {
    int index = IndexOf(trimmed, inMemory);
    std::int32_t result = -static_cast<std::int32_t>(TARN_OSENOENT);
    if (index >= 0) {
      TAbstractFile& found = *FFiles[static_cast<std::size_t>(index)];
      if (found.OpenCount() > 0) {
        if (found.Exclusive() || exclusive) return NegatedOsError(EACCES);
        result = found.OpenFile();
      } else {
        {
          TFileLockGuard guard(found);
          found.FExclusive = exclusive;
          found.FTemporary = temporary;
        }
        result = found.OpenFile();
        if (result < 0 && !inMemory) Remove(index);
      }
    } else if (inMemory || trimmed.empty()) {
      SetLastOsError(ENOENT);
    } else {
      FFiles.push_back(NewFile(trimmed, false));
      index = static_cast<int>(FFiles.size()) - 1;
      TAbstractFile& added = *FFiles.back();
      {
        TFileLockGuard guard(added);
        added.FExclusive = exclusive;
        added.FTemporary = temporary;
      }
      result = added.OpenFile();
      if (result < 0) Remove(index);
    }
    assert(CheckInvariants());
    if (result > 0) {
      file = FFiles[static_cast<std::size_t>(index)].get();
      readOnly = file->ReadOnly();
      readOnlyAttr = file->ReadOnlyAttr();
    }
    return result;
  } catch (const std::bad_alloc&) {
    return NegatedOsError(ENOMEM);
  }
}

std::int32_t TFileList::CloseFile(TAbstractFile* file, bool inMemory, std::int32_t handle) {
  std::lock_guard lock(FLock);
  const int index = IndexOf(file);
  if (index < 0 || file->IsInMemory() != inMemory || file->OpenCount() == 0) {
    return NegatedOsError(ENOENT);
  }
  file->CloseFile(handle);
  if (file->OpenCount() == 0) {
    if (!inMemory) {
      Remove(index);
    } else if (file->Temporary()) {
      file->DeleteFile();
      Remove(index);
    }
  }
  assert(CheckInvariants());
  return 0;
}

std::int32_t TFileList::RenameFile(std::string_view name, bool inMemory,
                                   std::string_view newName) {
  std::lock_guard lock(FLock);
  const std::string trimmedNew = TrimName(newName);
  const int index = IndexOf(name, inMemory);
  if (index >= 0) {
    TAbstractFile& found = *FFiles[static_cast<std::size_t>(index)];
    if (found.OpenCount() > 0) return NegatedOsError(EACCES);
    const int target = IndexOf(trimmedNew, inMemory);
    if (target >= 0 && target != index) {
      // Another object has that name: never let two objects share one.
      return NegatedOsError(FFiles[static_cast<std::size_t>(target)]->OpenCount() > 0 ? EACCES
                                                                                     : EEXIST);
    }
    return found.RenameFile(trimmedNew);
  }
  if (inMemory) return NegatedOsError(ENOENT);
  if (IndexOf(trimmedNew, false) >= 0) return NegatedOsError(EACCES);  // the target is open
  TPhysicalFile shortLived(TrimName(name));
  return shortLived.RenameFile(trimmedNew);
}

std::int32_t TFileList::DeleteFile(std::string_view name, bool inMemory) {
  std::lock_guard lock(FLock);
  const int index = IndexOf(name, inMemory);
  if (index >= 0) {
    TAbstractFile& found = *FFiles[static_cast<std::size_t>(index)];
    if (found.OpenCount() > 0) return NegatedOsError(EACCES);
    const std::int32_t result = found.DeleteFile();
    Remove(index);
    return result;
  }
  if (inMemory) return NegatedOsError(ENOENT);
  TPhysicalFile shortLived(TrimName(name));
  return shortLived.DeleteFile();
}

bool TFileList::FileExists(std::string_view name, bool inMemory) {
  std::lock_guard lock(FLock);
  const int index = IndexOf(name, inMemory);
  if (index >= 0 && (inMemory || FFiles[static_cast<std::size_t>(index)]->OpenCount() > 0)) {
    return true;
  }
  if (inMemory) return false;
  const std::string trimmed = TrimName(name);
  if (trimmed.empty()) return false;
  struct stat info;
  if (OsFileApi().Stat(ResolveOsPath(trimmed), &info) != 0) return false;
  return !S_ISDIR(info.st_mode);
}

int TFileList::HeldIndex(const TAbstractFile* file, bool inMemory, std::int32_t handle) const {
  const int index = IndexOf(file);
  if (index < 0 || file->IsInMemory() != inMemory) return NegatedOsError(ENOENT);
  if (!file->Exclusive() || file->OpenCount() != 1 || file->FindHandle(handle) < 0) {
    return NegatedOsError(EACCES);
  }
  return index;
}

std::int32_t TFileList::DeleteHeldFile(TAbstractFile* file, bool inMemory, std::int32_t handle) {
  std::lock_guard lock(FLock);
  const int index = HeldIndex(file, inMemory, handle);
  if (index < 0) return index;
  if (inMemory) {
    // A temporary memory file goes with its last handle (CloseFile).
    TFileLockGuard guard(*file);
    file->FTemporary = true;
    return 0;
  }
  return file->DeleteFile();
}

std::int32_t TFileList::RenameHeldFile(TAbstractFile* file, bool inMemory, std::int32_t handle,
                                       std::string_view newName) {
  std::lock_guard lock(FLock);
  const int index = HeldIndex(file, inMemory, handle);
  if (index < 0) return index;
  const std::string trimmedNew = TrimName(newName);
  const int target = IndexOf(trimmedNew, inMemory);
  if (target >= 0 && target != index) {
    return NegatedOsError(FFiles[static_cast<std::size_t>(target)]->OpenCount() > 0 ? EACCES
                                                                                   : EEXIST);
  }
  return file->RenameFile(trimmedNew);
}

std::int32_t TFileList::Copy(TAbstractFile& src, std::int32_t srcHandle, TAbstractFile& dst,
                             std::int32_t dstHandle, std::int32_t progressStep,
                             const TCopyProgress& progress) {
  const std::int64_t size = src.Seek(srcHandle, TSeekOrigin::End, 0);
  src.Seek(srcHandle, TSeekOrigin::Begin, 0);
  std::vector<std::uint8_t> chunk(CopyChunkSize);
  std::int64_t copied = 0;
  std::int32_t lastReported = 0;
  bool reported = false;
  for (;;) {
    std::int32_t got = src.Read(srcHandle, chunk);
    if (got < 0) got = 0;  // a failed read ends the copy like the end of the source
    if (got > 0) {
      const std::int32_t written =
          dst.Write(dstHandle, std::span<const std::uint8_t>(chunk.data(), got));
      if (written != got) {
        if (written >= 0 && LastOsError() == 0) SetLastOsError(ENOSPC);
        return -static_cast<std::int32_t>(TARN_WRITEERR);
      }
      copied += got;
      if (progress) {
        const std::int32_t percent =
            size > 0 ? static_cast<std::int32_t>(std::min<std::int64_t>(copied * 100 / size, 100))
                     : 100;
        if (percent >= lastReported + progressStep) {
          progress(percent);
          lastReported = percent;
          reported = true;
        }
      }
    }
    if (got < CopyChunkSize) break;
  }
  // Progress always ends with 100.
  if (progress && (!reported || lastReported < 100)) progress(100);
  return 0;
}

std::int32_t TFileList::CopyToFile(TAbstractFile* file, std::int32_t handle,
                                   std::string_view destName, bool inMemory,
                                   std::int32_t progressStep, const TCopyProgress& progress) {
  std::lock_guard lock(FLock);
  if (IndexOf(file) < 0) return NegatedOsError(ENOENT);
  TAbstractFile* dest = nullptr;
  const std::int32_t destHandle = CreateFile(destName, inMemory, false, dest);
  if (destHandle < 0) return destHandle;
  std::int32_t result = 0;
  {
    TFileLockGuard source(*file);
    TFileLockGuard target(*dest);
    try {
      result = Copy(*file, handle, *dest, destHandle, progressStep, progress);
    } catch (const std::bad_alloc&) {
      result = NegatedOsError(ENOMEM);
    }
  }
  const std::int32_t closed = CloseFile(dest, inMemory, destHandle);
  return result < 0 ? result : closed;
}

std::int32_t TFileList::CopyFromFile(TAbstractFile* file, std::int32_t handle,
                                     std::string_view srcName, bool inMemory,
                                     std::int32_t progressStep, const TCopyProgress& progress) {
  std::lock_guard lock(FLock);
  if (IndexOf(file) < 0) return NegatedOsError(ENOENT);
  TAbstractFile* source = nullptr;
  bool readOnly = false;
  bool readOnlyAttr = false;
  const std::int32_t sourceHandle =
      OpenFile(srcName, inMemory, false, true, readOnly, readOnlyAttr, source);
  if (sourceHandle < 0) return sourceHandle;
  std::int32_t result = 0;
  {
    TFileLockGuard target(*file);
    TFileLockGuard from(*source);
    try {
      file->Seek(handle, TSeekOrigin::Begin, 0);
      result = Copy(*source, sourceHandle, *file, handle, progressStep, progress);
    } catch (const std::bad_alloc&) {
      result = NegatedOsError(ENOMEM);
    }
  }
  const std::int32_t closed = CloseFile(source, inMemory, sourceHandle);
  return result < 0 ? result : closed;
}

std::size_t TFileList::Count() const {
  std::lock_guard lock(FLock);
  return FFiles.size();
}

TAbstractFile* TFileList::Find(std::string_view name, bool inMemory) const {
  std::lock_guard lock(FLock);
  const int index = IndexOf(name, inMemory);
  return index < 0 ? nullptr : FFiles[static_cast<std::size_t>(index)].get();
}

bool TFileList::CheckInvariants() const {
  std::lock_guard lock(FLock);
  for (std::size_t i = 0; i < FFiles.size(); ++i) {
    const TAbstractFile& file = *FFiles[i];
    if (!file.CheckInvariants()) return false;
    if (!file.IsInMemory() && file.OpenCount() == 0) return false;  // closed disk objects go
    for (std::size_t j = i + 1; j < FFiles.size(); ++j) {
      if (FFiles[j]->IsInMemory() == file.IsInMemory() &&
          SameFileName(FFiles[j]->FileName(), file.FileName())) {
        return false;
      }
    }
  }
  return true;
}

TFileList& FileList() {
  // Never destroyed: handlers owned by other static objects may still close
  // their files during exit. Descriptors left open then go with the process.
  static TFileList* list = new TFileList();
  return *list;
}

TFileListGuard::TFileListGuard(TFileList& list) : FList(list) { FList.FLock.lock(); }

TFileListGuard::~TFileListGuard() { FList.FLock.unlock(); }

}  // namespace tarn
