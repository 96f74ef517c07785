#include "engine/session/region_lock.h"

namespace tarn {

std::optional<TRegionLock> TRegionLock::TryLock(TFileHandler& file, std::int64_t offset, std::int64_t length) {
  if (!file.LockRegion(true, offset, length)) return std::nullopt;
  return TRegionLock(file, offset, length);
}

TRegionLock::TRegionLock(TRegionLock&& other) noexcept
    : FFile(other.FFile), FOffset(other.FOffset), FLength(other.FLength) {
  other.FFile = nullptr;
}

TRegionLock& TRegionLock::operator=(TRegionLock&& other) noexcept {
  if (this != &other) {
    Release();
    FFile = other.FFile;
    FOffset = other.FOffset;
    FLength = other.FLength;
    other.FFile = nullptr;
  }
  return *this;
}

bool TRegionLock::Release() noexcept {
  if (FFile == nullptr) return true;
  TFileHandler* file = FFile;
  FFile = nullptr;
  return file->LockRegion(false, FOffset, FLength);
}

}  // namespace tarn
