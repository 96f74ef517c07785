#include "engine/files/file_handler.h"

#include <cerrno>

#include "engine/files/os_error.h"

namespace tarn {

TFileHandler::~TFileHandler() { CloseQuietly(); }

void TFileHandler::OpenFile() {
  if (FOpened) return;
  SetLastOsError(0);
  if (!FileExists()) {
    SetLastOsError(ENOENT);
    RaiseFileError(TARN_OSENOENT, FFileName);
  }
  FReadOnlyAttr = false;
  bool readOnly = false;
  bool readOnlyAttr = false;
  TAbstractFile* file = nullptr;
  const std::int32_t result = FileList().OpenFile(FFileName, FInMemory, FTemporary, FExclusive,
                                                  readOnly, readOnlyAttr, file);
  if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), FFileName);
  FHandleId = result;
  FFile = file;
  FReadOnly = readOnly;
  FReadOnlyAttr = readOnlyAttr;
  FOpened = true;
}

void TFileHandler::CloseFile() {
  std::int32_t result = 0;
  if (FHandleId != 0 && FFile != nullptr) {
    SetLastOsError(0);
    result = FileList().CloseFile(FFile, FInMemory, FHandleId);
  }
  FFile = nullptr;
  FHandleId = 0;
  FOpened = false;
  if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), FFileName);
}

void TFileHandler::CloseQuietly() noexcept {
  if (FHandleId != 0 && FFile != nullptr) FileList().CloseFile(FFile, FInMemory, FHandleId);
  FFile = nullptr;
  FHandleId = 0;
  FOpened = false;
}

void TFileHandler::CreateFile() {
  SetLastOsError(0);
  TAbstractFile* file = nullptr;
  const std::int32_t result = FileList().CreateFile(FFileName, FInMemory, FTemporary, file);
  if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), FFileName);
  FHandleId = result;
  FFile = file;
  FReadOnly = false;
  FReadOnlyAttr = false;
  FOpened = true;
}

void TFileHandler::DeleteFile() {
  SetLastOsError(0);
  const std::int32_t result = FileList().DeleteFile(FFileName, FInMemory);
  if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), FFileName);
}

void TFileHandler::RenameFile(std::string_view newName) {
  SetLastOsError(0);
  const std::int32_t result = FileList().RenameFile(FFileName, FInMemory, newName);
  if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), FFileName);
  FFileName = std::string(newName);
}

void TFileHandler::CopyToFile(std::string_view destName, std::int32_t progressStep,
                              const TCopyProgress& progress) {
  if (!FOpened) return;
  SetLastOsError(0);
  const std::int32_t result =
      FileList().CopyToFile(FFile, FHandleId, destName, FInMemory, progressStep, progress);
  if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), FFileName);
}

void TFileHandler::CopyFromFile(std::string_view srcName, std::int32_t progressStep,
                                const TCopyProgress& progress) {
  if (!FOpened) return;
  SetLastOsError(0);
  const std::int32_t result =
      FileList().CopyFromFile(FFile, FHandleId, srcName, FInMemory, progressStep, progress);
  if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), FFileName);
}

std::int32_t TFileHandler::ReadBuffer(std::span<std::uint8_t> buffer, bool allowShort) {
  SetLastOsError(0);
  if (FFile == nullptr) RaiseFileError(TARN_READERR, FFileName);
  const std::int32_t got = FFile->Read(FHandleId, buffer);
  if (got < 0 || (!allowShort && static_cast<std::size_t>(got) < buffer.size())) {
    RaiseFileError(TARN_READERR, FFileName);
  }
  return got;
}

std::int32_t TFileHandler::ReadBufferAt(std::int64_t offset, std::span<std::uint8_t> buffer) {
  SetLastOsError(0);
  if (FFile == nullptr) return -1;
  const std::int32_t got = FFile->ReadAt(FHandleId, offset, buffer);
  if (got == -2) return -1;
  if (got < 0) RaiseFileError(TARN_READERR, FFileName);
  return got;
}

void TFileHandler::WriteBuffer(std::span<const std::uint8_t> buffer) {
  SetLastOsError(0);
  if (FFile == nullptr) RaiseFileError(TARN_WRITEERR, FFileName);
  const std::int32_t written = FFile->Write(FHandleId, buffer);
  if (written < 0 || static_cast<std::size_t>(written) < buffer.size()) {
    RaiseFileError(TARN_WRITEERR, FFileName);
  }
}

void TFileHandler::FlushFile() {
  SetLastOsError(0);
  if (FFile != nullptr && !FFile->Flush()) RaiseFileError(TARN_WRITEERR, FFileName);
}

bool TFileHandler::FileExists() const { return FileList().FileExists(FFileName, FInMemory); }

std::int64_t TFileHandler::SeekFile(TSeekOrigin origin, std::int64_t offset) {
  if (FFile == nullptr) return 0;
  return FFile->Seek(FHandleId, origin, offset);
}

std::int64_t TFileHandler::GetFileSize() {
  if (FFile == nullptr) return 0;
  return FFile->GetSize();
}

bool TFileHandler::LockRegion(bool lock, std::int64_t offset, std::int64_t length) {
  if (FFile == nullptr) return false;
  return lock ? FFile->LockRegion(offset, length) : FFile->UnlockRegion(offset, length);
}

void TFileHandler::EnterFile() {
  if (FFile != nullptr) FFile->Enter();
}

void TFileHandler::LeaveFile() {
  if (FFile != nullptr) FFile->Leave();
}

}  // namespace tarn
