#include "engine/files/file_claim.h"

#include <cassert>
#include <utility>

#include "engine/files/file_list.h"

namespace tarn {

std::optional<TFileClaim> TFileClaim::TryClaim(std::string_view name, bool inMemory,
                                               std::int32_t& result) {
  bool readOnly = false;
  bool readOnlyAttr = false;
  TAbstractFile* file = nullptr;
  result = FileList().OpenFile(name, inMemory, false, true, readOnly, readOnlyAttr, file);
  if (result < 0) return std::nullopt;
  assert(file != nullptr);
  return TFileClaim(*file, result, name, inMemory, readOnlyAttr);
}

TFileClaim::TFileClaim(TFileClaim&& other) noexcept
    : FFile(std::exchange(other.FFile, nullptr)),
      FHandle(std::exchange(other.FHandle, 0)),
      FName(std::move(other.FName)),
      FInMemory(other.FInMemory),
      FReadOnlyAttr(other.FReadOnlyAttr) {}

TFileClaim& TFileClaim::operator=(TFileClaim&& other) noexcept {
  if (this != &other) {
    Release();
    FFile = std::exchange(other.FFile, nullptr);
    FHandle = std::exchange(other.FHandle, 0);
    FName = std::move(other.FName);
    FInMemory = other.FInMemory;
    FReadOnlyAttr = other.FReadOnlyAttr;
  }
  return *this;
}

std::int32_t TFileClaim::Delete() {
  assert(Held());
  return FileList().DeleteHeldFile(FFile, FInMemory, FHandle);
}

std::int32_t TFileClaim::Rename(std::string_view newName) {
  assert(Held());
  const std::int32_t result = FileList().RenameHeldFile(FFile, FInMemory, FHandle, newName);
  if (result >= 0) FName = std::string(newName);
  return result;
}

void TFileClaim::Release() noexcept {
  if (FFile == nullptr) return;
  (void)FileList().CloseFile(FFile, FInMemory, FHandle);
  FFile = nullptr;
  FHandle = 0;
}

}  // namespace tarn
